// The output set: files appear only all together, and a failure anywhere
// (a full disk, a directory that cannot be written, a name taken by a
// directory, an error reported while writing) leaves the earlier files of
// every backend exactly as they were, with no temporary file behind.
#include <sys/stat.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "backend/outset.hpp"
#include "failure_fixture.hpp"
#include "support/fresh_run.hpp"
#include "support/testutil.hpp"

namespace {

using failtest::snapshot;
using ::testing::HasSubstr;
using testutil::read_file;
using testutil::TempDir;
using testutil::write_file;

class OutputSetTest : public FreshRun {
 protected:
  void SetUp() override {
    FreshRun::SetUp();
    diag.columns = 100000;
  }
  std::string path(const std::string& name) const { return tmp / name; }

  TempDir tmp;
};

TEST_F(OutputSetTest, FilesAppearOnlyWhenTheSetIsCommitted) {
  write_file(path("a"), "earlier a\n");
  // Longer than the write buffer, and a formatted text longer than the room left in it.
  const std::string big(3 << 20, 'x');
  const std::string line(700000, 'y');
  {
    OutputSet set;
    OutputSet::File& a = set.create(path("a"));
    a.puts(big);
    a.printf("%s|%d\n", line.c_str(), 42);
    a.printf("%s|%d\n", line.c_str(), 43);
    set.close(a);
    set.make_directory(path("sub"));
    OutputSet::File& b = set.create(path("sub/b"));
    b.printf("new %s\n", "b");
    set.close(b);
    // Nothing has replaced or joined the earlier files yet.
    EXPECT_EQ(read_file(path("a")), "earlier a\n");
    EXPECT_FALSE(testutil::exists(path("sub/b")));
    ASSERT_TRUE(set.commit());
  }
  EXPECT_EQ(read_file(path("a")), big + line + "|42\n" + line + "|43\n");
  EXPECT_EQ(read_file(path("sub/b")), "new b\n");
  // No temporary file and no second name of the earlier file is left.
  const mode_t mask = umask(0);
  umask(mask);
  char modes[64];
  std::snprintf(modes, sizeof modes, "a %04o\nsub/ 0755\nsub/b %04o\n", 0666 & ~mask, 0666 & ~mask);
  EXPECT_EQ(testutil::list_tree(tmp.path()), modes);
}

// ---- Whole runs of every backend ------------------------------------------

/// A backend's program, its arguments for a base directory and a version,
/// its small tree, and the files it writes in the order it finishes them.
struct BackendRun {
  const char* program;
  std::vector<std::string> (*args)(const std::string& base, const std::string& version);
  std::vector<std::string> tree;   ///< files below dist
  std::vector<std::string> files;  ///< below the base directory, in the order they are closed
};

const BackendRun KEST_RUN{
    "mkkest",
    [](const std::string& base, const std::string& v) {
      return std::vector<std::string>{"-E", "ACME", "-d", base, "-P", "PRD", "-V", v, "-D", "Product"};
    },
    {"t/srv/a"},
    {"input/PRD.prd", "input/prd-T.pkg", "input/prd.cmpnt", "KEST.MACROS", "Makefile"}};

const BackendRun PKGADD_RUN{
    "mkpkg",
    [](const std::string& base, const std::string& v) {
      return std::vector<std::string>{"-U", "application", "-c", "-d", base, "-P", "TOOLS",
                                      "-V", v, "-D", "Handy tools"};
    },
    {"a/opt/a/f", "b/opt/b/f"},
    {"input/pkginfo", "input/setinfo", "input/response", "input/request", "input/preinstall",
     "input/a/pkginfo", "input/b/pkginfo", "input/prototype", "input/a/prototype",
     "input/b/prototype", "Makefile"}};

const BackendRun XML_RUN{
    "mkxmlpkg",
    [](const std::string& base, const std::string& v) {
      return std::vector<std::string>{"-d", base, "-P", "HELLO", "-V", v, "-D", "Hello tools"};
    },
    {"x/usr/bin/x"},
    {"HELLO.xml"}};

const BackendRun* const EVERY_BACKEND[] = {&KEST_RUN, &PKGADD_RUN, &XML_RUN};
// KEST and pkgadd write into input/ and into the base directory itself.
const BackendRun* const BACKENDS_WITH_INPUT[] = {&KEST_RUN, &PKGADD_RUN};

/// One backend's runs on a base directory of its own.
class Runs {
 public:
  Runs(const BackendRun& backend, const std::string& base) : be_(backend), base_(base) {
    for (const std::string& f : be_.tree) write_file(base_ + "/dist/" + f, "data\n");
    testutil::make_dirs(base_ + "/input");
  }

  const std::string& base() const { return base_; }
  const BackendRun& backend() const { return be_; }
  std::string path(const std::string& rel) const { return base_ + "/" + rel; }

  testutil::RunResult run(const std::string& version, std::vector<std::string> more = {}) const {
    std::vector<std::string> args = be_.args(base_, version);
    args.insert(args.end(), more.begin(), more.end());
    return testutil::run_program(be_.program, args, options());
  }
  testutil::RunResult run_as_nobody(const std::string& version) const {
    return failtest::run_as_nobody(be_.program, be_.args(base_, version), options());
  }

  /// A first run that succeeds; returns the record of what it left.
  std::map<std::string, std::string> earlier_run() const {
    const testutil::RunResult r = run("1.0");
    EXPECT_EQ(r.status, 0) << r.err;
    for (const std::string& f : be_.files) EXPECT_TRUE(testutil::exists(path(f))) << f;
    return snapshot(base_);
  }

  /// The end of the report of a failed write of `rel`.
  std::string fatal_for(const std::string& rel) const {
    return "FATAL: failed to write to `" + path(rel) + "'.\n";
  }

 private:
  static testutil::RunOptions options() {
    testutil::RunOptions o;
    o.env["COLUMNS"] = "100000";  // one line per message
    return o;
  }

  const BackendRun& be_;
  std::string base_;
};

TEST(WholeRuns, AFullDiskFailsEachFileInTurnAndChangesNothing) {
  for (const BackendRun* be : EVERY_BACKEND) {
    SCOPED_TRACE(be->program);
    TempDir tmp;
    failtest::SmallFileSystem fs(tmp / "fs", 512 * 1024);
    if (!fs.mounted()) GTEST_SKIP() << "mounting a small file system needs root";
    const Runs runs(*be, tmp / "fs/base");
    const auto before = runs.earlier_run();
    for (std::size_t k = 0; k < be->files.size(); ++k) {
      SCOPED_TRACE(be->files[k]);
      // Room for the files before the k-th, one page each.
      fs.fill_leaving(k);
      const testutil::RunResult r = runs.run("2.0");
      fs.unfill();
      EXPECT_EQ(r.status, 1);
      EXPECT_THAT(r.err,
                  HasSubstr("\nwrite: No space left on device\n\n" + runs.fatal_for(be->files[k])));
      EXPECT_EQ(snapshot(runs.base()), before);
    }
    // With room again the whole set is replaced.
    ASSERT_EQ(runs.run("2.0").status, 0);
    EXPECT_NE(snapshot(runs.base()), before);
  }
}

TEST(WholeRuns, ANameTakenByADirectoryChangesNothing) {
  for (const BackendRun* be : EVERY_BACKEND) {
    SCOPED_TRACE(be->program);
    TempDir tmp;
    const Runs runs(*be, tmp / "base");
    runs.earlier_run();
    const std::string last = runs.path(be->files.back());
    ASSERT_EQ(unlink(last.c_str()), 0);
    testutil::make_dirs(last);
    const auto before = snapshot(runs.base());
    const testutil::RunResult r = runs.run("2.0");
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err,
                HasSubstr("\nrename: Is a directory\n\n" + runs.fatal_for(be->files.back())));
    EXPECT_EQ(snapshot(runs.base()), before);
  }
}

TEST(WholeRuns, UnknownIdsUnderInstalledPermsChangeNothing) {
  if (geteuid() != 0) GTEST_SKIP() << "giving a file an unknown owner needs root";
  for (const BackendRun* be : EVERY_BACKEND) {
    SCOPED_TRACE(be->program);
    TempDir tmp;
    const Runs runs(*be, tmp / "base");
    const auto before = runs.earlier_run();
    const std::string file = runs.path("dist/" + be->tree.front());
    ASSERT_EQ(chown(file.c_str(), 3999999, 3999998), 0);
    const testutil::RunResult r = runs.run("2.0", {"-i"});
    EXPECT_EQ(r.status, 1);
    const std::string installed = be->tree.front().substr(be->tree.front().find('/'));
    for (const std::string call : {"getpwuid(3999999)", "getgrgid(3999998)"})
      EXPECT_THAT(r.err, HasSubstr("could not " + call + " for file `." + installed + "'.\n"));
    EXPECT_EQ(snapshot(runs.base()), before);
  }
}

TEST(WholeRuns, AnOutputDirectoryNobodyMayWriteStopsBeforeOutput) {
  if (geteuid() != 0) GTEST_SKIP() << "running as nobody needs root";
  for (const BackendRun* be : EVERY_BACKEND) {
    SCOPED_TRACE(be->program);
    TempDir tmp;
    ASSERT_EQ(chmod(tmp.path().c_str(), 0755), 0);
    const Runs runs(*be, tmp / "base");
    const auto before = runs.earlier_run();
    const bool xml = std::string(be->program) == "mkxmlpkg";
    const std::string outdir = xml ? runs.base() : runs.path("input");
    const testutil::RunResult r = runs.run_as_nobody("2.0");
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("ERROR: output directory `" + outdir +
                                 "' does not exist or is not writeable.\n"));
    EXPECT_EQ(snapshot(runs.base()), before);
  }
}

TEST(WholeRuns, ABaseDirectoryNobodyMayWriteChangesNothing) {
  if (geteuid() != 0) GTEST_SKIP() << "running as nobody needs root";
  for (const BackendRun* be : BACKENDS_WITH_INPUT) {
    SCOPED_TRACE(be->program);
    TempDir tmp;
    ASSERT_EQ(chmod(tmp.path().c_str(), 0755), 0);
    const Runs runs(*be, tmp / "base");
    runs.earlier_run();
    // input/ and the component directories in it are nobody's; the base is not.
    std::string first_in_base;
    for (const std::string& f : be->files) {
      const std::size_t slash = f.rfind('/');
      if (slash != std::string::npos) failtest::give_to_nobody(runs.path(f.substr(0, slash)));
      else if (first_in_base.empty()) first_in_base = f;
    }
    const auto before = snapshot(runs.base());
    const testutil::RunResult r = runs.run_as_nobody("2.0");
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err,
                HasSubstr("\nmkstemp: Permission denied\n\n" + runs.fatal_for(first_in_base)));
    EXPECT_EQ(snapshot(runs.base()), before);
  }
}

TEST(WholeRuns, AnOutputDirectoryThatIsMissingOrAFileStopsBeforeOutput) {
  for (const BackendRun* be : BACKENDS_WITH_INPUT) {
    SCOPED_TRACE(be->program);
    TempDir tmp;
    const Runs runs(*be, tmp / "base");
    const std::string input = runs.path("input");
    for (bool plain_file : {false, true}) {
      SCOPED_TRACE(plain_file ? "plain file" : "missing");
      rmdir(input.c_str());
      if (plain_file) write_file(input, "");
      const auto before = snapshot(runs.base());
      const testutil::RunResult r = runs.run("1.0");
      EXPECT_EQ(r.status, 1);
      EXPECT_THAT(r.err, HasSubstr("ERROR: output directory `" + input +
                                   "' does not exist or is not writeable.\n"));
      EXPECT_EQ(snapshot(runs.base()), before);
    }
  }
}

}  // namespace
