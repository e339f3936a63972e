// Which statements the grammar accepts where, and the exact syntax-error
// messages for those it refuses.
#include "ctl_fixture.hpp"

namespace {

using GrammarTest = CtlTest;

TEST_F(GrammarTest, RefusedStatementsNameTheUnexpectedToken) {
  struct Case {
    const char* text;
    const char* msg;
  } cases[] = {
      {"ifdef(\"X\");", "syntax error, unexpected ';'"},
      {"include(\"a.cf\")", "syntax error, unexpected $end, expecting ';'"},
      {"package(\"/p\",\"d\",\"p\") { file(\"/a\") { } }", "syntax error, unexpected '}'"},
      {"package(\"d\",\"desc\",\"name\") { package(\"e\",\"f\",\"g\") { } }",
       "syntax error, unexpected PACKAGETOKEN"},
      {"package(\"/p\",\"d\",\"p\") { want(2) }", "syntax error, unexpected WANT"},
      {"package(\"/p\",\"d\",\"p\") { directory(\"/b\") { exportall(\"x\", early) { } } }",
       "syntax error, unexpected '}', expecting EXCEPT"},
      {"package(\"/p\",\"d\",\"p\") { file(\"/a\") { convert(\"x\", none) } }",
       "syntax error, unexpected NONE, expecting EXPPHASE or REGPHASE"},
      {"define(\"a\" \"b\")", "syntax error, unexpected STRING, expecting ','"},
      {"define(\"a\", \"b\", 12)", "syntax error, unexpected NUMBER, expecting EVAL"},
      {"component(\"c\", \"1\")", "syntax error, unexpected ')', expecting ','"},
      {"set(\"x\", yes)", "syntax error, unexpected TRUETOKEN, expecting STRING or NUMBER"},
      {"mode(644)", "syntax error, unexpected MODE"},
      {"print(\"x\") }", "syntax error, unexpected '}'"},
      {"prepare(\"p\") { file(\"/x\") { mode(1) } }", "syntax error, unexpected FILETOKEN"},
      {"component(\"c\",\"1\",\"d\") { remove(\"x\") }", "syntax error, unexpected REMOVE"},
      {"symlink(file, \"/x\") { }", "syntax error, unexpected SYMLINK"},
      {"want()", "syntax error, unexpected ')', expecting STRING or NUMBER"},
      {"auto_strip(yes, 1)", "syntax error, unexpected AUTO_STRIP"},
      {"print(\"a\"", "syntax error, unexpected $end, expecting ')'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    fresh();
    ParseResult r = parse(c.text);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, perr(1, c.msg) + failed());
  }
}

TEST_F(GrammarTest, ScriptBodiesAreReadRaw) {
  opts.dexec = 0;  // read the bodies, run nothing
  ParseResult r = parse(
      "script(\"EOF\", EOF\n"
      "echo \"${HOME}\" $x # not a comment\n"
      "EO not yet\n"
      "EOF\n"
      ")\n"
      "script(\",\", ,body,\n)\n"
      "script(\"e\", e\nls(1)e\n) exec(\"true\")\n"
      "script(\"X\", \"a plain string\")\n");
  EXPECT_EQ(r.status, 0) << r.err;

  fresh();
  r = parse("script(\"EOF\", EOF\necho hi\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, perr(3, "end of file in script body: no closing delimiter `EOF'") +
                       perr(3, "syntax error, unexpected $end, expecting STRING") + failed());

  fresh();
  r = parse("script(\"\", x)");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, perr(1, "the delimiter of a script body must not be empty") + failed());

  fresh();
  r = parse("script(\"123456789012345678901234\", x)");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, perr(1, "script delimiter `123456789012345678901234' is longer than 23 "
                           "characters") +
                       failed());
}

}  // namespace
