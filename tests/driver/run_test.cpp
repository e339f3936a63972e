// Whole runs of the installed program names: the usage report, statuses,
// the dist-directory checks and the warning/error decision; and the state
// every run starts from.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/diag.hpp"
#include "common/namecache.hpp"
#include "ctlfile/reader.hpp"
#include "driver/run.hpp"
#include "model/model.hpp"
#include "model/settings.hpp"
#include "prep/autoprep.hpp"
#include "prep/tessel.hpp"
#include "support/fresh_run.hpp"
#include "support/testutil.hpp"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using testutil::run_program;
using testutil::RunOptions;
using testutil::RunResult;
using testutil::TempDir;

using StartOfRun = FreshRun;

const char* const kSynopsis80 =
    "Usage: mkxmlpkg -B NAME -d DIR -P PROD -C CMPNT -D STRING -V STRING [-p FILE]\n"
    "    [-f] [-c] [-i] [-m] [-W] [-M NAME[=VALUE]] [-I LIST] [-v] [-s] [-r]\n"
    "    [-X LEVEL FILE] [-N] [-?]\n"
    "\n"
    "There are 3 backends defined:\n"
    "  kest         Instor Distribution Mastering Toolkit (KEST)\n"
    "  pkgadd       UNIX System V Release 4 Packaging System (pkgadd)\n"
    "  xml          Generic XML representation\n"
    "\n"
    "Backend `kest' options: [-h] [-H] [-l] [-e] -E STRING\n"
    "\n"
    "Backend `pkgadd' options: -U CATEGORY [-l LIMIT]\n"
    "\n"
    "Full usage information:\n"
    "-B NAME / --backend NAME (required)\n"
    "   Select the backend driver called NAME as the output driver. See above for\n"
    "   the list of possible back-end driver names.\n"
    "\n"
    "-d DIR / --directory DIR (required)\n";

// Every run begins from the state initialize_globals makes, whatever an
// earlier run (or test) left behind in any subsystem.
TEST_F(StartOfRun, EverySubsystemStartsAfresh) {
  diag.errors = 3;
  get_uidnm(0);
  opts.fmode = 1;
  opts.distdir = "/elsewhere";
  model.packages.push_back(nullptr);
  ctl.include_jail = "/jail";
  ctl.trace.mode = ParseTrace::Mode::bison_lhs;
  autoprep_state.mcsbug = true;
  manfmt.fmtcmd = "false";
  manfmt.tree = nullptr;
  initialize_globals();
  EXPECT_EQ(diag.errors, 0);
  EXPECT_TRUE(namecache.users.pairs.empty());
  EXPECT_EQ(opts.fmode, 0);
  EXPECT_FALSE(opts.distdir);
  EXPECT_TRUE(model.packages.empty());
  EXPECT_EQ(ctl.include_jail, "");
  EXPECT_EQ(ctl.trace.mode, ParseTrace::Mode::pass_through);
  EXPECT_FALSE(autoprep_state.mcsbug);
  EXPECT_EQ(manfmt.fmtcmd, default_fmtcmd());
  // corvane's formatter keeps to the dist directory the options name.
  EXPECT_EQ(manfmt.tree, &opts.distdir);
}

TEST(UsageReport, LayoutAndVersions) {
  RunResult r = run_program("mkxmlpkg", {"-?"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.substr(0, std::string(kSynopsis80).size()), kSynopsis80);
  EXPECT_THAT(r.err, HasSubstr("Corvane version: 2.1.0\n"
                               "   Backend `kest' version: 1.1.0\n"
                               "   Backend `pkgadd' version: 1.1.0\n"
                               "   Backend `xml' version: 1.0.0\n"));
  EXPECT_THAT(r.err,
              HasSubstr("Backend `kest' full usage:\n-h / --dont-harden-symlinks (optional)\n"));
  EXPECT_THAT(r.err, HasSubstr("-E STRING / --vendor STRING (required)\n"));
  EXPECT_THAT(
      r.err,
      HasSubstr(
          "Backend `pkgadd' full usage:\n-U CATEGORY / --pkgadd-category CATEGORY (required)\n"));
  // The -I help text keeps its own line ends and tabs.
  EXPECT_THAT(
      r.err,
      HasSubstr("functions:\n        automan - do [not] automatically format manual pages\n"));
}

TEST(UsageReport, ColumnsFromTheEnvironment) {
  std::string at80 = run_program("mkxmlpkg", {"-?"}).err;
  for (const char* bad : {"abc", "0", "-5"}) {
    RunOptions o;
    o.env["COLUMNS"] = bad;
    EXPECT_EQ(run_program("mkxmlpkg", {"-?"}, o).err, at80) << "COLUMNS=" << bad;
  }
  RunOptions wide;
  wide.env["COLUMNS"] = "132";
  std::string at132 = run_program("mkxmlpkg", {"-?"}, wide).err;
  std::string first = at132.substr(0, at132.find('\n'));
  EXPECT_GT(first.size(), 79u);
  EXPECT_LT(first.size(), 131u);
  EXPECT_THAT(
      at132,
      HasSubstr(
          "Usage: mkxmlpkg -B NAME -d DIR -P PROD -C CMPNT -D STRING -V STRING [-p FILE] [-f]"));
}

TEST(UsageReport, WrongCommandLinesEndWithStatusTwo) {
  RunResult r = run_program("mkpkg", {"-e"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err.rfind("ERROR: Unknown option: -e\nUsage: mkpkg", 0), 0u) << r.err;
  r = run_program("mkkest", {"-B", "xml", "-d"});
  EXPECT_EQ(r.status, 2);
  EXPECT_THAT(testutil::unwrap(r.err),
              HasSubstr("INFO: auto-detected backend driver replaced by command line option.\n"));
  EXPECT_THAT(testutil::unwrap(r.err),
              HasSubstr("ERROR: Option -d (directory) requires an argument.\nUsage: mkkest"));
}

TEST(ProgramNames, NoBackendWithoutAClaimingName) {
  TempDir t;
  testutil::make_dirs(t / "dist");
  RunResult r = run_program("corvane", {"-d", t.path(), "-P", "P", "-V", "1", "-D", "d"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "\nERROR: no backend selected. Please use the -B option to select one.\n");
}

class DistRun : public FreshRun {
 protected:
  RunResult run(std::vector<std::string> extra = {}, const char* prog = "mkxmlpkg") {
    std::vector<std::string> args{"-d", t.path(), "-P", "PROD", "-V", "1.0", "-D", "A product"};
    args.insert(args.end(), extra.begin(), extra.end());
    return run_program(prog, args);
  }
  TempDir t;
};

TEST_F(DistRun, OnlyDirectoriesBecomePackages) {
  testutil::write_file(t / "dist/.hidden/usr/bin/x", "x\n", 0755);
  testutil::write_file(t / "dist/README", "plain file\n");
  testutil::write_file(t / "dist/tool-2.1/usr/bin/tool", "#!/bin/sh\n", 0755);
  RunResult r = run({"-W"});
  EXPECT_THAT(testutil::unwrap(r.err),
              HasSubstr("INFO: found 1 package, totalling 1 file in 3 directories.\n"))
      << r.err;
  EXPECT_THAT(testutil::unwrap(r.err), Not(HasSubstr("HIDDEN")));
  EXPECT_THAT(testutil::unwrap(r.err), Not(HasSubstr("README")));
}

TEST_F(DistRun, MissingDistDirectory) {
  RunResult r = run();
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(testutil::unwrap(r.err),
              HasSubstr("ERROR: cant change to directory `" + t.path() + "/dist'.\n"))
      << r.err;
}

TEST_F(DistRun, WarningsStopTheRunUnlessIgnored) {
  testutil::write_file(t / "dist/tool/usr/bin/tool", "#!/bin/sh\n", 0755);
  testutil::write_file(t / "dist/tool/usr/bin/core", "junk\n");
  RunResult r = run();
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(testutil::unwrap(r.err),
              HasSubstr("INFO: 1 warning encountered during processing.\n"))
      << r.err;
  EXPECT_THAT(
      testutil::unwrap(r.err),
      HasSubstr("ERROR: cannot continue until the warnings are resolved or the -W option is "
                "used.\n"));
  EXPECT_THAT(testutil::unwrap(r.err),
              HasSubstr("INFO: 1 error encountered during processing. Cannot continue.\n"));
  EXPECT_FALSE(testutil::exists(t / "PROD.xml"));

  r = run({"-W"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(testutil::unwrap(r.err),
              HasSubstr("INFO: 1 warning encountered during processing.\n"));
  EXPECT_THAT(testutil::unwrap(r.err),
              HasSubstr("INFO: all done. Please review and edit the generated files.\n"));
  EXPECT_TRUE(testutil::exists(t / "PROD.xml"));
}

TEST_F(DistRun, FlatModeScansDistAsOnePackage) {
  testutil::write_file(t / "dist/usr/bin/tool", "#!/bin/sh\n", 0755);
  testutil::write_file(t / "dist/usr/lib/libt.so.1", "lib\n", 0755);
  RunResult r = run({"-f"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(testutil::unwrap(r.err),
              HasSubstr("INFO: found 1 package, totalling 2 files in 4 directories.\n"))
      << r.err;
}

// What print() writes must reach standard output; when it cannot, the run
// fails instead of reporting success, and the text never lands in a file
// the run opened.
TEST_F(DistRun, OutputThatCannotBeWrittenFailsTheRun) {
  testutil::write_file(t / "dist/tool/usr/bin/tool", "#!/bin/sh\n", 0755);
  testutil::write_file(t / "ctl", "print(\"canary text\");\n");
  const std::vector<std::string> args{"-d", t.path(), "-P", "PROD", "-V", "1.0", "-D", "A product",
                                      "-p", t / "ctl"};
  const std::string failed = "ERROR: failed to write to standard output.\n";

  RunResult ok = testutil::run_program("mkxmlpkg", args);
  EXPECT_EQ(ok.status, 0) << ok.err;
  EXPECT_EQ(ok.out, "   canary text\n");
  ASSERT_EQ(std::remove((t / "PROD.xml").c_str()), 0);

  for (const testutil::ChildSetup& setup :
       {testutil::ChildSetup{.stdout_path = "/dev/full"}, testutil::ChildSetup{.close_stdout = true}}) {
    RunResult r = testutil::run_program_with("mkxmlpkg", args, setup);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_THAT(r.err, HasSubstr(failed));
    EXPECT_THAT(r.err, Not(HasSubstr("all done")));
    EXPECT_FALSE(testutil::exists(t / "PROD.xml"));
    EXPECT_THAT(testutil::list_tree(t.path()), Not(HasSubstr(".PROD")));
  }
  // Nothing written, nothing lost: a closed standard output is no error then.
  testutil::write_file(t / "ctl", "\n");
  RunResult quiet = testutil::run_program_with("mkxmlpkg", args, {.close_stdout = true});
  EXPECT_EQ(quiet.status, 0) << quiet.err;
  EXPECT_THAT(testutil::read_file(t / "PROD.xml"), HasSubstr("<"));
}

}  // namespace
