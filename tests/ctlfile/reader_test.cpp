// Reading across files and conditionals: include nesting and line numbers,
// missing and self-including files, the conditional stack and its errors,
// and a whole pass over a real file.
#include <unistd.h>

#include "ctl_fixture.hpp"
#include "ctlfile/ctlfile.hpp"
#include "support/testutil.hpp"

namespace {

using testutil::TempDir;
using testutil::write_file;
using ReaderTest = CtlTest;

TEST_F(ReaderTest, IncludedFilesKeepTheirOwnLineNumbers) {
  TempDir dir;
  write_file(dir / "main.ctl",
             "print(\"main 1\")\n"
             "include(\"sub/inc.ctl\");\n"
             "warning(\"main 3\");\n");
  write_file(dir / "sub/inc.ctl",
             "\n"
             "warning(\"inc 2\")\n"  // ends where the including file goes on
             "include(\"deeper.ctl\");\n");  // relative to sub/
  write_file(dir / "sub/deeper.ctl", "warning(\"deeper 1\")");  // the next token is in main.ctl
  ParseResult r = parse(testutil::read_file(dir / "main.ctl"), 0, dir / "main.ctl");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "   main 1\n");
  EXPECT_EQ(r.err,
            "\nWARNING: inc.ctl line 2: inc 2\n"
            "WARNING: deeper.ctl line 1: deeper 1\n"
            "WARNING: main.ctl line 3: main 3\n");
}

TEST_F(ReaderTest, IncludesNestFifteenDeep) {
  TempDir dir;
  for (int i = 1; i <= 16; ++i)
    write_file(dir / ("f" + std::to_string(i) + ".ctl"),
               "define(\"LEVEL" + std::to_string(i) + "\", \"y\")\ninclude(\"f" +
                   std::to_string(i + 1) + ".ctl\");\n");
  ParseResult r = parse("include(\"f1.ctl\");\n", 0, dir / "top.ctl");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(macro("LEVEL15"), "y");
  EXPECT_EQ(macro("LEVEL16"), "<undefined>");
  EXPECT_EQ(r.err, "\nERROR: f15.ctl line 2: max nesting depth of 16 exceeded for `f16.ctl'.\n");
  EXPECT_EQ(diag.errors, 1);
}

TEST_F(ReaderTest, IncludeFailuresAreCountedAndTheParseGoesOn) {
  TempDir dir;
  write_file(dir / "self.ctl", "define(\"S\", \"s\")\ninclude(\"self.ctl\");\ninclude(\"self.ctl\");\n");
  write_file(dir / "twice.ctl", "define(\"T\", \"t\")\n");
  testutil::make_dirs(dir / "adir");
  const std::string main = dir / "main.ctl";
  ParseResult r = parse(
      "include(\"self.ctl\");\n"
      "include(\"missing.ctl\");\n"
      "include(\"adir\");\n"
      "include(\"twice.ctl\");\n"
      "include(\"twice.ctl\");\n"
      "include(\"main.ctl\");\n"
      "define(\"END\", \"1\")\n",
      0, main);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(macro("END"), "1");
  EXPECT_EQ(macro("T"), "t");
  const std::string self = dir / "self.ctl";
  EXPECT_EQ(r.err,
            "\nERROR: self.ctl line 2: include file `" + self +
                "' is already being read; a file cannot include itself.\n"
                "ERROR: self.ctl line 3: include file `" + self +
                "' is already being read; a file cannot include itself.\n"
                "ERROR: could not open include file '" + dir / "missing.ctl" + "'.\n"
                "ERROR: could not open include file '" + dir / "adir" + "'.\n"
                "ERROR: main.ctl line 6: include file `" + main +
                "' is already being read; a file cannot include itself.\n");
}

TEST_F(ReaderTest, ConditionalsNestAndCountInFalseBranches) {
  ParseResult r = parse(
      "define(\"A\", \"1\")\n"
      "ifdef(\"A\")\n"
      "  ifndef(\"A\")\n"
      "    define(\"X\", \"wrong\")\n"
      "    ifdef(\"A\") define(\"X\", \"wrong\") endif\n"
      "  else\n"
      "    define(\"X\", \"right\")\n"
      "  endif\n"
      "  ifeq(\"A\", \"1\") define(\"EQ\", \"y\") endif\n"
      "  ifneq(\"A\", \"1\") define(\"NE\", \"y\") endif\n"
      "  ifeq(\"NOPE\", \"1\") define(\"U1\", \"y\") endif\n"
      "  ifneq(\"NOPE\", \"1\") define(\"U2\", \"y\") endif\n"
      "endif\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(macro("X"), "right");
  EXPECT_EQ(macro("EQ"), "y");
  EXPECT_EQ(macro("NE"), "<undefined>");
  EXPECT_EQ(macro("U1"), "<undefined>");
  EXPECT_EQ(macro("U2"), "y");
  EXPECT_EQ(r.warns, 2);
  EXPECT_EQ(r.err,
            "\nWARNING: t.ctl line 11: macro `NOPE' undefined.\n"
            "WARNING: t.ctl line 12: macro `NOPE' undefined.\n");
}

TEST_F(ReaderTest, UnbalancedElseAndEndifFailTheParse) {
  ParseResult r = parse("print(\"a\")\nelse\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, perr(2, "unbalanced ELSE") + failed());
  fresh();
  r = parse("ifdef(\"A\")\nendif\nEndIf\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, perr(3, "unbalanced ENDIF") + failed());
}

// A parse error names the file as every other message does: its control
// characters escaped, so the name cannot split the line or reach the
// terminal as a command. A long script delimiter is shown the same way.
TEST_F(ReaderTest, ParseErrorsEscapeTheFileNameAndTheirArguments) {
  const std::string name = "odd\x1b[2J\nname.ctl";
  ParseResult r = parse("print(\"a\")\nelse\n", 0, name);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.substr(0, r.err.find("\nERROR: failed")),
            "\nERROR: odd\\x1b[2J\\nname.ctl line 2: unbalanced ELSE\n");
  fresh();
  // Strings take no control characters, but a macro's value may hold any.
  add_varlist("D", std::string(24, '\x1b'), opts.macros);
  r = parse("script(\"${D}\", x)\n");
  EXPECT_EQ(r.status, 1);
  std::string shown;
  for (int i = 0; i < 24; ++i) shown += "\\x1b";
  EXPECT_EQ(r.err, perr(1, "script delimiter `" + shown + "' is longer than 23 characters") +
                       failed());
}

TEST_F(ReaderTest, OpenConditionalsWarnAtTheirLineInEachPass) {
  TempDir dir;
  write_file(dir / "inc.ctl", "\nifndef(\"B\")\n");
  ParseResult r = parse_both("ifndef(\"A\")\ninclude(\"inc.ctl\");\n", dir / "t.ctl");
  EXPECT_EQ(r.status, 0);
  const std::string once =
      "WARNING: t.ctl line 1: conditional is not closed by an endif at the end of the control file.\n"
      "WARNING: inc.ctl line 2: conditional is not closed by an endif at the end of the control "
      "file.\n";
  EXPECT_EQ(r.err, "\n" + once + once);
  EXPECT_EQ(r.warns, 2);
  // The stack starts empty in each pass: the second pass reads as the first.
  EXPECT_EQ(diag.warnings, 4);
}

TEST_F(ReaderTest, MacrosOfTheFirstPassReachTheSecond) {
  ParseResult r = parse_both(
      "ifdef(\"LATE\") print(\"late is defined\") endif\n"
      "define(\"LATE\", \"1\")\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "   late is defined\n");
}

TEST_F(ReaderTest, ControlFilePassEntersTheDistDirectory) {
  TempDir base;
  testutil::make_dirs(base / "dist");
  write_file(base / "my.ctl", "prepare(\"check\") {\nexists(\"here\", no);\nexists(\"there\", yes);\n}\n");
  write_file(base / "dist/here", "");
  opts.ctlfile = base / "my.ctl";
  opts.distdir = base / "dist";
  char before[4096];
  ASSERT_TRUE(getcwd(before, sizeof before));
  testutil::CaptureFd out(1), err;
  EXPECT_EQ(parse_control_file(0, globalopts), 0);
  char after[4096];
  ASSERT_TRUE(getcwd(after, sizeof after));
  EXPECT_STREQ(before, after);
  EXPECT_EQ(out.text(), "Executing prep phase `check' ...\nDone with prep phase `check' ...\n");
  EXPECT_EQ(err.text(), "\nWARNING: my.ctl line 3: file `" + base / "dist/there" +
                            "' does not exist.\n");
  EXPECT_EQ(ctlfilenm(), std::string("my.ctl"));
}

TEST_F(ReaderTest, ControlFileSetupFailuresEndTheRun) {
  TempDir base;
  write_file(base / "my.ctl", "print(\"x\")\n");
  struct Case {
    std::string ctlfile, distdir, err;
  } cases[] = {
      {base / "nope.ctl", base / "dist",
       "fopen: No such file or directory\n\nERROR: failed to open `" + base / "nope.ctl" +
           "'\n"},
      {base.path(), base / "dist",
       "fopen: Is a directory\n\nERROR: failed to open `" + base.path() + "'\n"},
      {base / "my.ctl", base / "dist",
       "chdir: No such file or directory\n\nERROR: could not change to directory `" +
           base / "dist" + "'\n"},
  };
  for (const Case& c : cases) {
    fresh();
    opts.ctlfile = c.ctlfile;
    opts.distdir = c.distdir;
    testutil::CaptureFd err;
    int status = 0;
    try {
      parse_control_file(1, globalopts);
    } catch (const run_exit& e) {
      status = e.status;
    }
    EXPECT_EQ(status, 1);
    EXPECT_EQ(err.text(), c.err);
  }
}

}  // namespace
