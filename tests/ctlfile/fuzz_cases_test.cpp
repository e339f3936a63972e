// The inputs the fuzzer found (tests/ctlfile/fuzz_cases), its seeds and the
// example control files, read as the fuzzer reads them: each must end
// normally or with status 1, never crash or hang. The seed with every
// statement in every block it may stand in must parse.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "../../fuzz/fuzz_input.hpp"
#include "common/fileio.hpp"
#include "support/capture.hpp"
#include "support/fresh_run.hpp"
#include "support/testutil.hpp"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

std::vector<std::string> files_in(const std::string& dir) {
  std::vector<std::string> names, paths;
  if (read_dir_sorted(dir.c_str(), names))
    for (const std::string& n : names)
      if (n[0] != '.') paths.push_back(dir + "/" + n);
  return paths;
}

// Each input leaves the state of a run behind; the fixture clears it.
using FuzzCases = FreshRun;

void write_text(const std::string& path, const std::string& text) { testutil::write_file(path, text); }

TEST_F(FuzzCases, EveryCaseEndsWithStatusZeroOrOne) {
  testutil::TempDir jail;
  testutil::make_dirs(jail / "dist");
  write_fuzz_includes(jail.path(), write_text);
  const std::string src = CORVANE_SOURCE_DIR;
  std::vector<std::string> inputs = files_in(src + "/tests/ctlfile/fuzz_cases");
  for (const std::string& dir : {src + "/fuzz/seeds", src + "/examples"})
    for (const std::string& f : files_in(dir))
      if (f.size() > 4 && f.compare(f.size() - 4, 4, ".ctl") == 0) inputs.push_back(f);
  ASSERT_GE(inputs.size(), 3u);
  for (const std::string& input : inputs) {
    SCOPED_TRACE(input);
    std::string text = testutil::read_file(input);
    testutil::CaptureFd out(1), err(2);
    int status = read_fuzz_input(text, jail.path());
    EXPECT_TRUE(status == 0 || status == 1) << status;
    if (input.find("all_statements.ctl") != std::string::npos) {
      EXPECT_EQ(status, 0);
      EXPECT_THAT(err.text(), Not(HasSubstr("syntax error")));
      EXPECT_THAT(out.text(), HasSubstr("Executing prep phase `p' ...\n"));
    }
  }
}

}  // namespace
