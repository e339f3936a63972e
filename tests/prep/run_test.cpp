// Whole runs: the preparation chosen by -I without a control file, and by
// prepare phases with one, as the scan then sees the tree.
#include "prep_fixture.hpp"

namespace {

using testutil::list_tree;
using testutil::run_program;
using testutil::RunOptions;
using testutil::write_file;

class PrepRunE2E : public FreshRun {
 protected:
  void SetUp() override {
    FreshRun::SetUp();
    write_file(tmp / "tool.sh", "#!/bin/sh\nprintf '%s\\n' \"$*\" >> " + tmp / "tools.log" + "\n", 0755);
    write_file(tmp / "dist/pkg/usr/bin/prog", "exe", 0755);
    write_file(tmp / "dist/pkg/usr/man/man1/prog.1", ".TH PROG 1\n.SH NAME\nprog \\- a program\n");
    write_file(tmp / "dist/pkg/usr/share/info/prog.info", "produced by makeinfo\n");
  }

  testutil::RunResult run(std::vector<std::string> extra) {
    std::vector<std::string> args = {"-d", tmp.path(), "-P", "PROD", "-V", "1.0", "-D", "A product"};
    args.insert(args.end(), extra.begin(), extra.end());
    RunOptions o;
    o.cwd = tmp.path();
    o.env = {{"CORVANE_STRIPCMD", tmp / "tool.sh strip"}, {"CORVANE_MCSCMD", tmp / "tool.sh mcs"}};
    o.unset = {"CORVANE_MCSBUG", "CORVANE_VERBOSE", "CORVANE_ARCMD"};
    return run_program("mkxmlpkg", args, o);
  }

  std::string tool_log() {
    std::string path = tmp / "tools.log";
    if (!testutil::exists(path)) return "";
    std::string log = testutil::read_file(path);
    std::string dist = tmp / "dist";
    for (std::size_t p; (p = log.find(dist)) != std::string::npos;) log.replace(p, dist.size(), "DIST");
    return log;
  }

  std::string usr_tree() { return list_tree(tmp / "dist/pkg/usr"); }

  testutil::TempDir tmp;
};

const char* const kUntouched =
    "bin/ 0755\n"
    "bin/prog 0755\n"
    "man/ 0755\n"
    "man/man1/ 0755\n"
    "man/man1/prog.1 0644\n"
    "share/ 0755\n"
    "share/info/ 0755\n"
    "share/info/prog.info 0644\n";

TEST_F(PrepRunE2E, WithoutControlFileOnlyWhatIListsRuns) {
  auto r = run({});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(usr_tree(), kUntouched);

  r = run({"-I", "autostrip"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(tool_log(), "strip DIST/pkg/usr/bin/prog\nmcs -d DIST/pkg/usr/bin/prog\n");
  EXPECT_EQ(usr_tree(), kUntouched);

  r = run({"-I", "automan,autotexi"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "   Formatting man pages in pkg/usr/man/man1 ... done\n"
            "   Compressing info pages in pkg/usr/share/info ... done\n");
  EXPECT_EQ(usr_tree(),
            "bin/ 0755\n"
            "bin/prog 0755\n"
            "man/ 0755\n"
            "man/cat1/ 0755\n"
            "man/cat1/prog.1.Z 0644\n"
            "man/man1/ 0755\n"
            "man/man1/prog.1.Z 0644\n"
            "share/ 0755\n"
            "share/info/ 0755\n"
            "share/info/prog.info.gz 0644\n");
  EXPECT_EQ(tool_log(), "strip DIST/pkg/usr/bin/prog\nmcs -d DIST/pkg/usr/bin/prog\n");
}

TEST_F(PrepRunE2E, PrepPhaseOfAControlFileAndIgnoredPhases) {
  write_file(tmp / "prod.ctl",
             "prepare(\"objects\") {\n"
             "  auto_strip(yes, no, \"Built by 'us'\");\n"
             "  auto_format_mansource();\n"
             "}\n");
  auto r = run({"-p", tmp / "prod.ctl", "-I", "automan,autostrip"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Executing prep phase `objects' ...\nDone with prep phase `objects' ...\n");
  EXPECT_EQ(tool_log(), "");
  EXPECT_EQ(usr_tree(), kUntouched);

  r = run({"-p", tmp / "prod.ctl"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "Executing prep phase `objects' ...\n"
            "   Formatting man pages in pkg/usr/man/man1 ... done\n"
            "Done with prep phase `objects' ...\n");
  EXPECT_EQ(tool_log(), "strip DIST/pkg/usr/bin/prog\nmcs -a Built by 'us' DIST/pkg/usr/bin/prog\n");
  EXPECT_TRUE(testutil::exists(tmp / "dist/pkg/usr/man/cat1/prog.1.Z"));
  EXPECT_TRUE(testutil::exists(tmp / "dist/pkg/usr/share/info/prog.info"));
}

}  // namespace
