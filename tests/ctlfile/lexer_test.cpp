// Tokens of the control file: numbers, strings and their expansion, words,
// separators, the end of input, and the lexical errors that fail a parse.
#include <cstdlib>

#include "backend/pkgadd/pkgadd.hpp"
#include "ctl_fixture.hpp"

namespace {

class LexerTest : public CtlTest {
 protected:
  int mode_of(const char* number_text) {
    fresh();
    std::string text = std::string("package(\"/p\", \"d\", \"p\") { file(\"/f\") { mode(") +
                       number_text + ") } }\n";
    ParseResult r = parse(text);
    EXPECT_EQ(r.status, 0) << r.err;
    return model.files.empty() ? -1 : static_cast<int>(model.files[0]->mode);
  }
  // The value set() passes on for a number written as `number_text`.
  long long number_of(const char* number_text) {
    fresh();
    ParseResult r = parse(std::string("set(\"pkgadd-part-limit\", ") + number_text + ")\n");
    EXPECT_EQ(r.status, 0) << r.err;
    return pkgadd_settings.pkgadd_limit;
  }
};

TEST_F(LexerTest, NumbersAreOctalUnlessTheySayOtherwise) {
  EXPECT_EQ(mode_of("644"), 0644);
  EXPECT_EQ(mode_of("0644"), 0644);
  EXPECT_EQ(mode_of("10"), 8);
  EXPECT_EQ(mode_of("+10"), 10);
  EXPECT_EQ(number_of("18"), 18);  // an 8 after 1-7 switches to decimal
  EXPECT_EQ(number_of("108"), 108);
  EXPECT_EQ(number_of("99"), 99);
  EXPECT_EQ(number_of("17"), 15);
}

TEST_F(LexerTest, BadNumbersFailTheParse) {
  struct Case {
    const char* text;
    const char* msg;
  } cases[] = {
      {"mode(08)", "Illegal character in octal number"},
      {"mode(64a)", "Illegal character in octal number"},
      {"mode(9a)", "Illegal character in decimal number"},
      {"mode(++1)", "Illegal character in decimal number"},
      {"mode(+)", "no digits in decimal number"},
      {"mode(77777777777777777)", "number `77777777777777777' out of range"},
      {"mode(999999999999999999999999)", "number `999999999999999999999999' out of range"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    fresh();
    std::string text = std::string("package(\"/p\",\"d\",\"p\") { file(\"/f\") { ") + c.text + " } }";
    ParseResult r = parse(text);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.substr(0, perr(1, c.msg).size()), perr(1, c.msg));
    EXPECT_EQ(r.err.substr(r.err.size() - failed().size()), failed());
  }
}

TEST_F(LexerTest, StringEscapesAndExpansion) {
  setenv("CTL_TEST_VAR", "from-env", 1);
  ParseResult r = parse(
      "define(\"A\", \"a\\$b\")\n"
      "define(\"B\", \"q\\\"x\\\\y\")\n"
      "define(\"C\", \"tab\\tnl\\n\\v\\a\\0end\")\n"
      "define(\"D\", \"${CTL_TEST_VAR}/${A}\")\n"
      "define(\"E\", \"${X\")\n"
      "define(\"F\", \"$x $$ ${}\")\n"
      "define(\"G\", \"t\there\")\n"
      "define(\"H\", \"\\${A}\")\n"
      "define(\"I\", \"\\${A}\", eval)\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(macro("A"), "a$b");
  EXPECT_EQ(macro("B"), "q\"x\\y");
  EXPECT_EQ(macro("C"), "tabnlend");
  EXPECT_EQ(macro("D"), "from-env/a$b");
  EXPECT_EQ(macro("E"), "{X");
  EXPECT_EQ(macro("G"), "there");  // the tab is dropped
  EXPECT_EQ(macro("H"), "${A}");
  EXPECT_EQ(macro("I"), "a$b");
  EXPECT_EQ(r.err, "\nERROR: t.ctl line 6: unknown/unset variable `'.\n");
  EXPECT_EQ(macro("F"), "$x $$ ");
}

TEST_F(LexerTest, ReservedNamesAndUnknownVariables) {
  opts.prdcode = "PRD";
  opts.version = "1.2";
  ParseResult r = parse(
      "define(\"P\", \"${CORVANE_PRODUCT}-${CORVANE_VERSION}-${CORVANE_VENDOR}.\")\n"
      "define(\"U\", \"<${NO_SUCH_VARIABLE_HERE}>\")\n"
      "ifdef(\"NOT_DEFINED\")\n"
      "  define(\"V\", \"<${NO_SUCH_VARIABLE_HERE}>\")\n"
      "endif\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(macro("P"), "PRD-1.2-.");
  EXPECT_EQ(macro("U"), "<>");
  EXPECT_EQ(macro("V"), "<undefined>");
  // Only the reference outside the false conditional is reported.
  EXPECT_EQ(r.err, "\nERROR: t.ctl line 2: unknown/unset variable `NO_SUCH_VARIABLE_HERE'.\n");
  EXPECT_EQ(diag.errors, 1);
}

TEST_F(LexerTest, ContextVariablesBelongToTheirBlocks) {
  ParseResult r = parse_both(
      "package(\"/pkgdir\", \"Desc\", \"name\") {\n"
      "  print(\"${CORVANE_THISPKG_NAME} ${CORVANE_THISPKG_SUBDIR} ${CORVANE_THISPKG_DESC}\")\n"
      "}\n"
      "component(\"cmp\", \"1.0\", \"Comp\") {\n"
      "  print(\"${CORVANE_THISCMPNT_NAME} ${CORVANE_THISCMPNT_VERSION} ${CORVANE_THISCMPNT_DESC}\")\n"
      "  print(\"${CORVANE_THISPKG_NAME}\")\n"
      "}\n"
      "print(\"${CORVANE_THISCMPNT_NAME}\")\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "   name /pkgdir Desc\n   cmp 1.0 Comp\n   \n   \n");
  const std::string pkgmsg =
      "ERROR: t.ctl line 6: `${CORVANE_THISPKG_NAME}' refers to package context variable outside "
      "of a package context.\n";
  const std::string cmpmsg =
      "ERROR: t.ctl line 8: `${CORVANE_THISCMPNT_NAME}' refers to component context variable "
      "outside of a component context.\n";
  // Both passes expand, and both report.
  EXPECT_EQ(r.err, "\n" + pkgmsg + cmpmsg + pkgmsg + cmpmsg);
}

TEST_F(LexerTest, BadStringsFailTheParse) {
  struct Case {
    const char* text;
    std::string err;
  } cases[] = {
      {"print(\"abc\ndef\")", perr(1, "newline in string constant") +
                                  perr(1, "syntax error, unexpected $end, expecting STRING")},
      {"print(\"a\\qb\")", perr(1, "Illegal escape sequence \\q") +
                               perr(1, "syntax error, unexpected $end, expecting STRING")},
      {"print(\"a\\\x01\")", perr(1, "Illegal escape sequence \\ followed by character 1") +
                                 perr(1, "syntax error, unexpected $end, expecting STRING")},
      {"print(\"abc", perr(1, "end of file in string constant") +
                          perr(1, "syntax error, unexpected $end, expecting STRING")},
      {"\"abc", perr(1, "end of file in string constant")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    fresh();
    ParseResult r = parse(c.text);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.err + failed());
  }
}

TEST_F(LexerTest, WordsNeedASeparatorAndAKeyword) {
  struct Case {
    const char* text;
    std::string err;
  } cases[] = {
      {"ifdef(\"X\")\nendif;\n", perr(2, "bad separator 59 near token 'endif'")},
      {"ifdef(\"X\")\nendif{\n", perr(2, "bad separator 123 near token 'endif'")},
      {"print2(\"x\")", perr(1, "bad separator 50 near token 'print'")},
      {"frobnicate(\"x\")", perr(1, "bad token 'frobnicate'")},
      {"print(\"x\") oops", perr(1, "bad token 'oops'")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    fresh();
    ParseResult r = parse(c.text);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.err + failed());
  }
}

TEST_F(LexerTest, KeywordsIgnoreCaseAndCommentsAreSkipped) {
  ParseResult r = parse(
      "# a comment\n"
      "IFNDEF(\"X\") # trailing\n"
      "  DEFINE(\"A\", \"1\")\n"
      "Else\n"
      "  define(\"B\", \"1\")\n"
      "ENDIF");  // a word cut off by the end of the file still counts
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(macro("A"), "1");
  EXPECT_EQ(macro("B"), "<undefined>");
  EXPECT_EQ(r.warns, 0);
  EXPECT_EQ(r.err, "");
}

TEST_F(LexerTest, GarbageBytesAreInvalidTokens) {
  ParseResult r = parse(std::string("print(\"a\")\n\0\n", 13));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, perr(2, "syntax error, unexpected $undefined") + failed());

  fresh();
  r = parse("\xff\xfe");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, perr(1, "syntax error, unexpected $undefined") + failed());

  // A control character inside a string is dropped, not an error.
  r = parse("define(\"A\", \"x\x01\x7f\xc3\xa9y\")");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(macro("A"), "xy");
}

TEST_F(LexerTest, TokensLongerThanTheBufferAreRefused) {
  const std::string ok(MAX_TOKEN, 'a');
  ParseResult r = parse("define(\"A\", \"" + ok + "\")");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(macro("A").size(), MAX_TOKEN);

  const std::string msg = perr(1, "token longer than 65535 characters");
  r = parse("define(\"A\", \"" + ok + "b\")");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.substr(0, msg.size()), msg);

  fresh();
  r = parse(std::string(MAX_TOKEN + 1, 'w'));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, msg + failed());

  r = parse("want(" + std::string(MAX_TOKEN + 1, '7') + ")");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.substr(0, msg.size()), msg);
}

TEST_F(LexerTest, ModesTakeOctalDigitsOnly) {
  for (const char* bad : {"759", "8", "+18"}) {
    SCOPED_TRACE(bad);
    fresh();
    ParseResult r = parse(std::string("package(\"/p\", \"d\", \"p\") {\n  file(\"/f\") {\n    mode(") +
                          bad + ")\n  }\n}\n");
    EXPECT_EQ(r.status, 0);
    const std::string shown = bad[0] == '+' ? bad + 1 : bad;
    EXPECT_EQ(r.err, "\nERROR: t.ctl line 3: invalid mode `" + shown +
                         "': a mode takes the octal digits 0 to 7 only.\n");
    EXPECT_EQ(diag.errors, 1);
    ASSERT_EQ(model.files.size(), 1u);
    EXPECT_EQ(model.files[0]->aflags & af::MODE, 0u);
  }
  // A pattern's mode is checked the same way; inside a false conditional
  // nothing acts and nothing is reported.
  fresh();
  ParseResult r = parse("alldirs(\"*\") { mode(1779) }\nifdef(\"NO\") allfiles(\"*\") { mode(9) } endif\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "\nERROR: t.ctl line 1: invalid mode `1779': a mode takes the octal digits 0 to 7 only.\n");
  EXPECT_EQ(diag.errors, 1);
}

TEST_F(LexerTest, ExpansionIsBounded) {
  // Forty macros, each twice the one before: the one that passes 1 MiB
  // (2^21 bytes, on line 22) ends the run.
  std::string text = "define(\"M0\", \"x\")\n";
  for (int i = 1; i <= 40; ++i) {
    const std::string prev = "${M" + std::to_string(i - 1) + "}";
    text += "define(\"M" + std::to_string(i) + "\", \"" + prev + prev + "\")\n";
  }
  ParseResult r = parse(text);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "\nERROR: t.ctl line 22: string expands to more than 1048576 bytes.\n");
  EXPECT_EQ(macro("M20").size(), MAX_EXPANSION);  // exactly 1 MiB is allowed
  EXPECT_EQ(macro("M21"), "<undefined>");

  // The second expansion of eval is bounded the same way, at its statement.
  fresh();
  std::string refs;
  for (int i = 0; i < 18; ++i) refs += "\\${A}";
  r = parse("define(\"A\", \"" + std::string(60000, 'a') + "\")\n" +
            "define(\"B\", \"" + refs.substr(0, 17 * 5) + "\", eval)\n" +
            "define(\"C\", \"" + refs + "\", eval)\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(macro("B").size(), 17 * 60000u);
  EXPECT_EQ(r.err, "\nERROR: t.ctl line 3: string expands to more than 1048576 bytes.\n");
}

TEST_F(LexerTest, SelfAndMutuallyReferencingMacrosTerminate) {
  // A value is expanded once when it is read, so a reference to itself or
  // to a macro naming it back is only text, also through eval.
  ParseResult r = parse(
      "define(\"A\", \"a\\${B}\")\n"
      "define(\"B\", \"b\\${A}\")\n"
      "define(\"A\", \"${A}\", eval)\n"
      "define(\"S\", \"s\")\n"
      "define(\"S\", \"${S}\\${S}\", eval)\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(macro("A"), "ab${A}");
  EXPECT_EQ(macro("B"), "b${A}");
  EXPECT_EQ(macro("S"), "ss");
}

TEST_F(LexerTest, ExpansionsOfOnePassAreBoundedTogether) {
  // A 1 MiB macro named again and again: each string keeps within its
  // bound, but 64 MiB inserted in one pass ends the run there.
  std::string text = "define(\"K\", \"" + std::string(1024, 'k') + "\")\ndefine(\"M\", \"";
  for (int i = 0; i < 1024; ++i) text += "${K}";
  text += "\")\n";
  for (int i = 0; i < 100; ++i) text += "ifeq(\"M\", \"${M}\") endif\n";
  ParseResult r = parse(text);
  EXPECT_EQ(r.status, 1);
  // Line 2 inserts the first MiB, each line from 3 on one more.
  EXPECT_EQ(r.err, "\nERROR: t.ctl line 66: macro expansions of the control file pass "
                   "67108864 bytes in all.\n");
}

}  // namespace
