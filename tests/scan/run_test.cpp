// Whole mkxmlpkg runs over small dist trees: the per-package progress
// lines, the scan's and the assembly's reports and the exit statuses.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fresh_run.hpp"
#include "support/testutil.hpp"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using testutil::make_symlink;
using testutil::RunResult;
using testutil::TempDir;
using testutil::unwrap;
using testutil::write_file;

class ScanRun : public FreshRun {
 protected:
  RunResult run(std::vector<std::string> extra = {}) {
    std::vector<std::string> args{"-W", "-d", t.path(), "-P", "P", "-V", "1", "-D", "d"};
    args.insert(args.end(), extra.begin(), extra.end());
    RunResult r = testutil::run_program("mkxmlpkg", args);
    r.err = unwrap(r.err);
    return r;
  }
  std::string dist(const std::string& rel) const { return t / ("dist/" + rel); }
  TempDir t;
};

TEST_F(ScanRun, EachPackageGetsOneProgressLine) {
  write_file(dist("tool-2.1/usr/bin/tool"), "#!/bin/sh\n", 0755);
  write_file(dist("libx/usr/lib/libx.so.1"), "lib", 0755);
  make_symlink("libx.so.1", dist("libx/usr/lib/libx.so"));
  RunResult r = run();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.err, HasSubstr("INFO: processing new package: LIBX : 2 files, 3 directories.\n"
                               "INFO: processing new package: TOOL : 1 file, 3 directories.\n"));
  EXPECT_THAT(r.err, HasSubstr("INFO: found 2 packages, totalling 3 files in 6 directories.\n"));
  EXPECT_TRUE(testutil::exists(t / "P.xml"));
}

TEST_F(ScanRun, BadEntriesAreReportedAndTheRunStops) {
  testutil::make_dirs(dist("empty"));
  write_file(dist("p/usr/bin/ok"), "x", 0755);
  make_symlink("nowhere", dist("p/usr/bin/dangling"));
  make_symlink("loop", dist("p/usr/bin/loop"));
  RunResult r = run();
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("INFO: processing new package: EMPTY : 0 files, 1 directory.\n"));
  EXPECT_THAT(r.err, HasSubstr("WARNING: package `EMPTY' has no files.\n"));
  EXPECT_THAT(r.err, HasSubstr("ERROR: package `EMPTY' has no directories.\n"));
  EXPECT_THAT(r.err, HasSubstr("ERROR: could not stat `" + dist("p/usr/bin/nowhere") +
                               "', which is what the symbolic link `" + dist("p/usr/bin/dangling") +
                               "' points to.\n"));
  EXPECT_THAT(r.err, HasSubstr("ERROR: could not stat `" + dist("p/usr/bin/loop") +
                               "', which is what the symbolic link `" + dist("p/usr/bin/loop") +
                               "' points to."));
  // The errors come between the progress line and its end.
  EXPECT_THAT(r.err, HasSubstr("INFO: processing new package: P"));
  EXPECT_THAT(r.err, HasSubstr(": 1 file, 3 directories.\n"));
  // The run stops after the scan: no assembly, no output.
  EXPECT_THAT(r.err, Not(HasSubstr("all done")));
  EXPECT_FALSE(testutil::exists(t / "P.xml"));
}

TEST_F(ScanRun, NamesNeverSplitAMessageNorReachTheTerminal) {
  write_file(dist("p/usr/bin/ok"), "x", 0755);
  const std::string bad = "bad\n\x1b[2Jname";
  make_symlink("nowhere", dist("p/usr/bin/" + bad));
  RunResult r = run();
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("ERROR: could not stat `" + dist("p/usr/bin/nowhere") +
                               "', which is what the symbolic link `" +
                               dist("p/usr/bin/bad\\n\\x1b[2Jname") + "' points to."));
  EXPECT_THAT(r.err, Not(HasSubstr("\x1b")));
  EXPECT_THAT(r.err, Not(HasSubstr("bad\n")));
}

TEST_F(ScanRun, LinkToARemovedTargetIsReportedWithBothPathsWhole) {
  write_file(dist("p/usr/lib/libx.so.1"), "lib", 0755);
  make_symlink("libx.so.1", dist("p/usr/lib/libx.so"));
  write_file(t / "ctl", "package(\"/p\", \"Package P\", \"P\") { remove(\"/usr/lib/libx.so.1\"); }\n");
  RunResult r = run({"-p", t / "ctl"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.err, HasSubstr("Link : " + dist("p/usr/lib/libx.so") + " "));
  EXPECT_THAT(r.err, HasSubstr("Target: " + dist("p/usr/lib/libx.so.1") + " "));
}

TEST_F(ScanRun, OnlyCoreDumpsAreCalledCoreFiles) {
  write_file(dist("p/usr/share/man/cat5/core.5.gz"), "page");
  write_file(dist("p/usr/share/doc/core.txt"), "text");
  write_file(dist("p/var/tmp/core.4711"), "dump");
  RunResult r = run();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.err, HasSubstr("WARNING: core file `/var/tmp/core.4711' in package `P'.\n"));
  EXPECT_THAT(r.err, Not(HasSubstr("core.5.gz'")));
  EXPECT_THAT(r.err, Not(HasSubstr("core.txt'")));
}

TEST_F(ScanRun, SubpackageLoopInTheControlFileIsAnError) {
  write_file(dist("a/usr/bin/a"), "a", 0755);
  write_file(dist("b/usr/bin/b"), "b", 0755);
  write_file(t / "ctl", "package(\"/a\", \"Package A\", \"A\") { subpackage(\"B\"); }\n"
                        "package(\"/b\", \"Package B\", \"B\") { subpackage(\"A\"); }\n");
  RunResult r = run({"-p", t / "ctl"});
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("INFO: processing package: A : 1 file, 3 directories.\n"));
  EXPECT_THAT(r.err, HasSubstr("ERROR: package `B' declares package `A' as a subpackage, but that "
                               "makes `A' a subpackage of itself.\n"));
  EXPECT_FALSE(testutil::exists(t / "P.xml"));
}

}  // namespace
