// print, exec, sh and script: when they run, what the commands see, and
// how a failing command ends the run.
#include <gmock/gmock.h>

#include <unistd.h>

#include "ctl_fixture.hpp"
#include "support/testutil.hpp"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using CommandsTest = CtlTest;

TEST_F(CommandsTest, PrintWritesInTheSecondPassOnly) {
  ParseResult r = parse_both("print(\"hello\") printf(\"it's ${CORVANE_PRODUCT}\")\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "   hello\n   it's \n");
}

TEST_F(CommandsTest, CommandsRunThroughTheShellAndKsh) {
  ParseResult r = parse_both(
      "exec(\"echo exec $((1+2))\")\n"
      "sh(\"echo 'single quoted' \\\"$0\\\"\")\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "exec 3\nsingle quoted /bin/ksh\n");
}

TEST_F(CommandsTest, FailingCommandsEndTheRun) {
  struct Case {
    const char* text;
    const char* err;
  } cases[] = {
      {"print(\"a\")\nexec(\"false\")\nprint(\"b\")",
       "\nERROR: t.ctl line 2: exec(false) failed with 1.\n"},
      {"sh(\"exit 3\")", "\nERROR: t.ctl line 1: system(/bin/ksh -c 'exit 3') failed with 3.\n"},
      {"sh(\"echo 'x'; exit 4\")",
       "\nERROR: t.ctl line 1: system(/bin/ksh -c 'echo '\\''x'\\''; exit 4') failed with 4.\n"},
      // A command killed by a signal is no success.
      {"exec(\"kill -9 $$\")", "\nERROR: t.ctl line 1: exec(kill -9 $$) failed with 137.\n"},
      // A failed script is left in /tmp; this one removes itself.
      {"script(\"END\", END\nrm -f \"$0\"; exit 5\nEND\n)", "\nERROR: t.ctl line 4: exec(END) failed with 5.\n"},
      // The delimiter is shown whole, never cut at its dots.
      {"script(\"../..\", ../..\nrm -f \"$0\"; exit 6\n../..\n)",
       "\nERROR: t.ctl line 4: exec(../..) failed with 6.\n"},
      {"exec(\"exit 7 # ../..\")", "\nERROR: t.ctl line 1: exec(exit 7 # ../..) failed with 7.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    fresh();
    ParseResult r = parse(c.text);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.err);
    EXPECT_THAT(r.out, Not(HasSubstr("   b")));
  }
}

TEST_F(CommandsTest, ScriptsSeeTheSettingsTheBlockAndTheMacros) {
  opts.basedir = "/base";
  opts.description = "it's quoted";
  opts.version = "1.0";
  registry.backptr = find_backend("xml");
  ParseResult r = parse(
      "define(\"M1\", \"one\")\n"
      "define(\"M2\", \"two words\")\n"
      "package(\"/pkgdir\", \"Desc\", \"name\") {\n"
      "  script(\"EOF\", EOF\n"
      "set | grep -E '^(CORVANE|M[12])' | sort\n"
      "echo \"${HOME:+home}\" '#' \"\\\"\"\n"
      "EOF\n"
      "  )\n"
      "}\n"
      "component(\"c\", \"2.0\", \"C\") {\n"
      "  script(\"X\", X\nset | grep -E '^CORVANE_THIS' | sort\nX\n)\n"
      "}\n",
      0);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "CORVANE_BACKEND=xml\n"
            "CORVANE_BASEDIR=/base\n"
            "CORVANE_COMPONENT=''\n"
            "CORVANE_DESCRIPTION=$'it\\'s quoted'\n"
            "CORVANE_DISTDIR=/d\n"
            "CORVANE_PKGDIR=''\n"
            "CORVANE_PRODUCT=''\n"
            "CORVANE_THISPKG_DESC=Desc\n"
            "CORVANE_THISPKG_NAME=name\n"
            "CORVANE_THISPKG_SUBDIR=/pkgdir\n"
            "CORVANE_VENDOR=''\n"
            "CORVANE_VERSION=1.0\n"
            "M1=one\n"
            "M2='two words'\n"
            "home # \"\n"
            "CORVANE_THISCMPNT_DESC=C\n"
            "CORVANE_THISCMPNT_NAME=c\n"
            "CORVANE_THISCMPNT_VERSION=2.0\n");
}

TEST_F(CommandsTest, ScriptFilesAreRemovedAfterASuccessfulRun) {
  testutil::TempDir dir;
  const std::string marker = dir / "name";
  ParseResult r = parse("script(\"EOF\", EOF\necho $0 > '" + marker + "'\nEOF\n)\n");
  ASSERT_EQ(r.status, 0) << r.err;
  std::string name = testutil::read_file(marker);
  ASSERT_FALSE(name.empty());
  name.pop_back();
  EXPECT_EQ(name.rfind("/tmp/corvane", 0), 0u) << name;
  EXPECT_FALSE(testutil::exists(name));
}

TEST_F(CommandsTest, NothingRunsWithoutExecButTheFileStillParses) {
  testutil::TempDir dir;
  const std::string marker = dir / "ran";
  opts.dexec = 0;
  ParseResult r = parse("exec(\"touch " + marker + "\")\nsh(\"touch " + marker +
                        "\")\nscript(\"EOF\", EOF\ntouch " + marker + "\nEOF\n)\nprint(\"done\")\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "   done\n");
  EXPECT_FALSE(testutil::exists(marker));
}

TEST_F(CommandsTest, AShellThatDiesIsAFailure) {
  // A broken shell shows as a command that ends by a signal or with a
  // status of its own; either stops the run.
  struct Case {
    const char* text;
    const char* err;
  } cases[] = {
      {"sh(\"kill -SEGV $$\")",
       "\nERROR: t.ctl line 1: system(/bin/ksh -c 'kill -SEGV $$') failed with 139.\n"},
      {"script(\"E\", E\nrm -f \"$0\"; kill -ABRT $$\nE\n)",
       "\nERROR: t.ctl line 4: exec(E) failed with 134.\n"},
      {"sh(\"exec /nonexistent/ksh\")",
       "\nERROR: t.ctl line 1: system(/bin/ksh -c 'exec /nonexistent/ksh') failed with 127.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    fresh();
    ParseResult r = parse(c.text);
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr(c.err));
  }
}

}  // namespace
