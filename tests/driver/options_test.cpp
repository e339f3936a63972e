// The command line as the driver reads it: option forms, lookup order,
// handlers and the option checks.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "backend/backend.hpp"
#include "backend/pkgadd/pkgadd.hpp"
#include "common/diag.hpp"
#include "driver/backends.hpp"
#include "driver/options.hpp"
#include "driver/run.hpp"
#include "model/settings.hpp"
#include "support/capture.hpp"
#include "support/fresh_run.hpp"
#include "support/testutil.hpp"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using testutil::CaptureFd;
using testutil::TempDir;

// The option checks change the working directory; the fixture puts it back.
class CommandLine : public FreshRun {
 protected:
  // Runs process_options as program `prog`; the exit status when it ended
  // the run, -1 when it returned.
  int parse(std::vector<std::string> args, const char* prog = "mkxmlpkg") {
    choose_backend_by_name(prog);
    args.insert(args.begin(), std::string("/usr/bin/") + prog);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    CaptureFd err;
    int status = -1;
    try {
      process_options(int(args.size()), argv.data());
    } catch (const run_exit& e) {
      status = e.status;
    }
    stderr_ = err.text();
    flat_ = testutil::unwrap(stderr_);
    return status;
  }

  int verify() {
    CaptureFd err;
    int status = -1;
    try {
      verify_options();
    } catch (const run_exit& e) {
      status = e.status;
    }
    stderr_ = err.text();
    flat_ = testutil::unwrap(stderr_);
    return status;
  }

  std::string stderr_;
  std::string flat_;  // stderr_ with wrapped lines joined
};

TEST_F(CommandLine, EveryFormSetsTheBaseDirectory) {
  TempDir t;
  for (std::vector<std::string> args : {std::vector<std::string>{"-d" + t.path()},
                                        {"-d", t.path()},
                                        {"--directory=" + t.path()},
                                        {"--directory", t.path()}}) {
    SetUp();
    ASSERT_EQ(parse(args), -1) << stderr_;
    EXPECT_EQ(*opts.basedir, t.path());
    EXPECT_EQ(*opts.distdir, t.path() + "/dist");
    EXPECT_EQ(opts.distdirlen, t.path().size() + 5);
  }
}

TEST_F(CommandLine, BaseDirectoryIsNormalised) {
  ASSERT_EQ(parse({"-d", "/tmp//x/./y/../z/"}), -1);
  EXPECT_EQ(*opts.basedir, "/tmp/x/z");
  EXPECT_EQ(opts.basedirlen, 8u);
}

TEST_F(CommandLine, AttachedValueOfAFlagIsIgnored) {
  ASSERT_EQ(parse({"--flat-mode=1", "-c7"}), -1);
  EXPECT_EQ(opts.fmode, 1);
  EXPECT_EQ(opts.cmode, 1);
}

TEST_F(CommandLine, ProcessingStopsAtTheFirstPlainWord) {
  ASSERT_EQ(parse({"-P", "PROD", "stray", "-f"}), -1);
  EXPECT_EQ(*opts.prdcode, "PROD");
  EXPECT_EQ(opts.fmode, 0);
}

TEST_F(CommandLine, ArgumentErrorsEndInTheUsageReport) {
  EXPECT_EQ(parse({"-p"}), 2);
  EXPECT_EQ(stderr_.rfind("ERROR: Option -p (control-file) requires an argument.\nUsage: mkxmlpkg", 0), 0u)
      << stderr_;
  EXPECT_EQ(parse({"-p", "-f"}), 2);
  EXPECT_EQ(stderr_.rfind("ERROR: Option -p (control-file) requires an argument.\nUsage: ", 0), 0u);
  EXPECT_EQ(parse({"-X", "3"}), 2);
  EXPECT_EQ(stderr_.rfind("ERROR: Too few arguments to option X (debug-level)\nUsage: ", 0), 0u)
      << stderr_;
  EXPECT_EQ(parse({"-d-x"}), 2);
  EXPECT_EQ(stderr_.rfind("ERROR: Option -d (directory) requires an argument.\n", 0), 0u);
}

TEST_F(CommandLine, UnknownOptions) {
  EXPECT_EQ(parse({"--nonsense=3"}), 2);
  EXPECT_EQ(stderr_.rfind("ERROR: Unknown option: --nonsense\nUsage: mkxmlpkg", 0), 0u) << stderr_;
  EXPECT_EQ(parse({"-j"}), 2);
  EXPECT_EQ(stderr_.rfind("ERROR: Unknown option: -j\n", 0), 0u);
  // A KEST option is not looked up while another backend is selected.
  EXPECT_EQ(parse({"-e"}, "mkpkg"), 2);
  EXPECT_EQ(stderr_.rfind("ERROR: Unknown option: -e\n", 0), 0u);
}

TEST_F(CommandLine, BackendByNameAndByOption) {
  ASSERT_EQ(parse({}, "mkpkg"), -1);
  ASSERT_NE(registry.backptr, nullptr);
  EXPECT_STREQ(registry.backptr->name, "pkgadd");
  ASSERT_EQ(parse({}, "mkpkgadd"), -1);
  EXPECT_STREQ(registry.backptr->name, "pkgadd");
  ASSERT_EQ(parse({}, "mkkest"), -1);
  EXPECT_STREQ(registry.backptr->name, "kest");
  EXPECT_EQ(find_varlist("CORVANE_BACKEND", opts.macros), nullptr);

  SetUp();
  ASSERT_EQ(parse({"-B", "xml", "--backend=xml"}, "mkkest"), -1);
  EXPECT_STREQ(registry.backptr->name, "xml");
  EXPECT_THAT(stderr_,
              HasSubstr("INFO: auto-detected backend driver replaced by command line option.\n"));
  int defs = 0;
  for (const varnode& n : opts.macros) defs += n.name == "CORVANE_BACKEND";
  EXPECT_EQ(defs, 1);
  EXPECT_EQ(find_varlist("CORVANE_BACKEND", opts.macros)->value, "xml");

  SetUp();
  ASSERT_EQ(parse({}, "corvane"), -1);
  EXPECT_EQ(registry.backptr, nullptr);
  EXPECT_EQ(parse({"-B", "rpm"}, "corvane"), 2);
  EXPECT_EQ(stderr_.rfind("Invalid backend driver `rpm' specified.Usage: corvane", 0), 0u) << stderr_;
}

TEST_F(CommandLine, MacroDefinitions) {
  ASSERT_EQ(parse({"-M", "FOO", "-MBAR=bar=baz", "--set-macro=FOO=2"}), -1);
  EXPECT_EQ(find_varlist("FOO", opts.macros)->value, "2");
  EXPECT_EQ(find_varlist("BAR", opts.macros)->value, "bar=baz");
  SetUp();
  ASSERT_EQ(parse({"-M", "FOO"}), -1);
  EXPECT_EQ(find_varlist("FOO", opts.macros)->value, "1");
}

TEST_F(CommandLine, DebugOption) {
  TempDir t;
  ASSERT_EQ(parse({"-X", "0x3", t / "dbg"}), -1);
  EXPECT_EQ(diag.dbglevel, 3);
  EXPECT_TRUE(testutil::exists(t / "dbg"));
  EXPECT_EQ(parse({"-X", "lots", t / "dbg"}), 2);
  EXPECT_EQ(stderr_.rfind("Invalid debug level `lots' specifiedUsage: ", 0), 0u) << stderr_;
  EXPECT_EQ(parse({"-X", "1", ""}), 2);
  EXPECT_EQ(stderr_.rfind("Invalid debug file name specifiedUsage: ", 0), 0u) << stderr_;
}

// Each integer option is read to the width of its setting: the part limit
// takes 64 bits, a flag no more than an int.
TEST_F(CommandLine, IntegerOptionsTakeTheWidthOfTheirSetting) {
  ASSERT_EQ(parse({"-l", "6442450944"}, "mkpkg"), -1) << stderr_;
  EXPECT_EQ(pkgadd_settings.pkgadd_limit, 6442450944LL);
  EXPECT_EQ(parse({"-l", "lots"}, "mkpkg"), 2);
  EXPECT_THAT(
      stderr_,
      HasSubstr("ERROR: invalid integer value `lots' specified to option -l\nUsage: mkpkg"));
  EXPECT_EQ(set_option(find_option(pkgadd_backend.opts, "pkgadd-part-limit"), "0x200000000"),
            set_result::done);
  EXPECT_EQ(pkgadd_settings.pkgadd_limit, 0x200000000LL);
  EXPECT_EQ(set_option(find_option(globalopts, "all-early"), "6442450944"), set_result::invalid_value);
  EXPECT_EQ(opts.rmode, 0);
}

TEST_F(CommandLine, ChecksReportEveryProblemThenStop) {
  ASSERT_EQ(parse({"-v", "-s"}, "corvane"), -1);
  EXPECT_EQ(verify(), 1);
  EXPECT_EQ(stderr_,
            "\nERROR: no backend selected. Please use the -B option to select one.\n"
            "ERROR: no base directory (-d) specified.\n"
            "ERROR: product code (-P) not specified or empty.\n"
            "ERROR: component code (-C) not specified or empty.\n"
            "ERROR: product version (-V) not specified or empty.\n"
            "ERROR: product description (-D) not specified or empty.\n"
            "ERROR: cannot specify both -v and -s.\n");
}

TEST_F(CommandLine, ChecksEnterTheDistDirectory) {
  TempDir t;
  ASSERT_EQ(parse({"-d", t.path(), "-P", "P", "-V", "1", "-D", "d"}), -1);
  EXPECT_EQ(verify(), 1);
  EXPECT_THAT(flat_, HasSubstr("cant change to directory `" + t.path() + "/dist'.")) << stderr_;
  SetUp();
  ASSERT_EQ(parse({"-d", t / "missing", "-P", "P", "-V", "1", "-D", "d"}), -1);
  EXPECT_EQ(verify(), 1);
  EXPECT_THAT(flat_, HasSubstr("can't change to directory `" + t.path() + "/missing'.")) << stderr_;
}

TEST_F(CommandLine, ComponentCodeDefaultsToTheProductCode) {
  TempDir t;
  testutil::make_dirs(t / "dist");
  ASSERT_EQ(parse({"-d", t.path(), "-P", "MyProd", "-V", "1", "-D", "d"}), -1);
  verify();
  EXPECT_EQ(*opts.cmpntcode, "myprod");
  EXPECT_THAT(flat_, HasSubstr("INFO: using base directory `" + t.path() + "'.\n")) << stderr_;
  EXPECT_THAT(flat_, HasSubstr("INFO: using dist directory `" + t.path() + "/dist'.\n"));
}

TEST_F(CommandLine, PreparationSwitchesFromTheList) {
  TempDir t;
  testutil::make_dirs(t / "dist");
  std::vector<std::string> base{"-d", t.path(), "-P", "P", "-V", "1", "-D", "d"};
  auto with = [&](std::vector<std::string> extra) {
    SetUp();
    extra.insert(extra.end(), base.begin(), base.end());
    parse(extra);
    verify();
  };
  with({"-I", "automan"});
  EXPECT_EQ(opts.autotessel, 2);
  for (int s : {opts.autotexi, opts.autostrip, opts.dtessel, opts.dtexi, opts.dexec}) EXPECT_EQ(s, -1);
  with({"-I", "autostrip,texinfo"});
  EXPECT_EQ(opts.autostrip, 2);
  EXPECT_EQ(opts.dtexi, 2);
  EXPECT_EQ(opts.autotessel, -1);
  with({"-I", "all"});
  for (int s : {opts.autotessel, opts.autotexi, opts.autostrip, opts.dtessel, opts.dtexi, opts.dexec})
    EXPECT_EQ(s, 2);
  with({});
  for (int s : {opts.autotessel, opts.autotexi, opts.autostrip, opts.dtessel, opts.dtexi, opts.dexec})
    EXPECT_EQ(s, 0);
}

TEST_F(CommandLine, ControlFileChecks) {
  TempDir t;
  testutil::make_dirs(t / "dist");
  ASSERT_EQ(parse({"-p", "", "-d", t.path(), "-P", "P", "-V", "1", "-D", "d"}), -1);
  EXPECT_EQ(verify(), 1);
  EXPECT_EQ(stderr_.rfind("\nERROR: Invalid control file (-p) specified.\n", 0), 0u) << stderr_;
  SetUp();
  ASSERT_EQ(parse({"-p", t / "none.ctl", "-d", t.path(), "-P", "P", "-V", "1", "-D", "d"}), -1);
  EXPECT_EQ(verify(), 1);
  EXPECT_THAT(stderr_, HasSubstr("\nfopen: No such file or directory\n"));
  EXPECT_THAT(flat_,
              HasSubstr("cannot open control file `" + t.path() + "/none.ctl' for reading."));
}

TEST_F(CommandLine, RelativeControlFileIsTakenFromTheStartDirectory) {
  TempDir t;
  testutil::make_dirs(t / "base/dist");
  testutil::write_file(t / "ctl/my.cf", "print(\"x\")\n");
  ASSERT_EQ(chdir(t.path().c_str()), 0);
  ASSERT_EQ(parse({"-p", "ctl/./my.cf", "-d", "base", "-P", "P", "-V", "1", "-D", "d"}), -1);
  EXPECT_EQ(*opts.ctlfile, t / "ctl/my.cf");
  // The checks enter the dist directory; the file is still found.
  EXPECT_EQ(verify(), -1) << stderr_;
  EXPECT_THAT(flat_, Not(HasSubstr("control file"))) << stderr_;
  SetUp();
  ASSERT_EQ(parse({"--control-file="}), -1);
  EXPECT_EQ(*opts.ctlfile, "");
}

}  // namespace
