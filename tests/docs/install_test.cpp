// What make install puts in place: the pages in the manual sections, the
// schema and the example product, which runs from where it is installed.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "docs_fixture.hpp"

namespace {

using ::testing::HasSubstr;

TEST(Install, PagesSchemaAndExampleProduct) {
  testutil::TempDir prefix;
  testutil::RunResult r =
      testutil::run_program(CORVANE_CMAKE, {"--install", CORVANE_BUILD_DIR, "--prefix", prefix.path()});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  for (const char* f :
       {"share/man/man1/corvane.1", "share/man/man1/tessel.1", "share/man/man5/corvane-control.5",
        "share/man/man5/corvane-xml.5", "share/corvane/corvane.rng",
        "share/corvane/examples/hello.ctl", "share/corvane/examples/demo.sh",
        "share/corvane/examples/hello/dist/hello-1.0/usr/bin/hello", "bin/mkxmlpkg"})
    EXPECT_TRUE(testutil::exists(prefix / f)) << f;
  // The installed pages are the built ones.
  for (const std::string& page : docs::PAGES) {
    const std::string section = "man" + page.substr(page.size() - 1);
    EXPECT_EQ(testutil::read_file(prefix / ("share/man/" + section + "/" + page)),
              testutil::read_file(docs::built_page(page)));
  }
  // The example keeps its executables and links, so the demo runs as installed.
  const std::string list = testutil::list_tree(prefix / "share/corvane/examples/hello/dist");
  EXPECT_THAT(list, HasSubstr("hello-1.0/usr/bin/hello 0755"));
  EXPECT_THAT(list, HasSubstr("hello-1.0/usr/lib/libhello.so -> libhello.so.1"));
  testutil::RunResult demo = testutil::run_program(
      "/bin/sh", {prefix / "share/corvane/examples/demo.sh", prefix / "bin", prefix / "scratch"});
  ASSERT_EQ(demo.status, 0) << demo.out << demo.err;
  testutil::RunResult valid = testutil::run_program(
      "/usr/bin/env", {"xmllint", "--noout", "--relaxng", prefix / "share/corvane/corvane.rng",
                       prefix / "scratch/HELLO.xml"});
  EXPECT_EQ(valid.status, 0) << valid.err;
}

}  // namespace
