// Message layout and the reporters: exact bytes written to standard error.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <string>

#include "common/diag.hpp"
#include "support/capture.hpp"
#include "support/fresh_run.hpp"
#include "support/testutil.hpp"

namespace {

// What jputs writes for `text`, and the column it returns.
struct laid_out {
  std::string out;
  int col;
};

laid_out lay(int col, int indent, const std::string& text, int columns = 80) {
  diag.columns = columns;
  FILE* f = std::tmpfile();
  int end = jputs(col, indent, f, text);
  std::rewind(f);
  std::string out;
  for (int c; (c = std::fgetc(f)) != EOF;) out += static_cast<char>(c);
  std::fclose(f);
  diag.columns = 80;
  return {out, end};
}

using Layout = FreshRun;
using MessageText = FreshRun;
using Reporters = FreshRun;

}  // namespace

TEST_F(Layout, WordsBlanksAndPunctuation) {
  EXPECT_EQ(lay(1, 3, "first word\n").out, "   first word\n");
  EXPECT_EQ(lay(1, 3, "first word\n").col, 1);
  // Runs of blanks collapse; a punctuation mark is followed by a space.
  EXPECT_EQ(lay(1, 4, "a   b  c,d.e").out, "    a b c, d. e");
  EXPECT_EQ(lay(1, 4, "a   b  c,d.e").col, 15);
  // From a column after a prefix, the first word gets its space.
  EXPECT_EQ(lay(6, 4, "failed.\n").out, " failed.\n");
  EXPECT_EQ(lay(6, 4, "").out, "");
  EXPECT_EQ(lay(6, 4, "").col, 6);
  // An apostrophe stays inside its word; plain quotes are kept as written.
  EXPECT_EQ(lay(1, 0, "Can't read 'x' now").out, "Can't read 'x' now");
  // A tab is four spaces and the usual space before the next word.
  EXPECT_EQ(lay(1, 4, "a\tb").out, "    a     b");
  EXPECT_EQ(lay(1, 4, "\tDirectory\t\t: /x\n").out, "         Directory         : /x\n");
}

TEST_F(Layout, SmallIndentsKeepTheirSpaces) {
  // With indent 0 a one-character word ends at column 1, which is not a
  // fresh line: the next word still gets its space.
  EXPECT_EQ(lay(1, 0, "a b c").out, "a b c");
  EXPECT_EQ(lay(1, 1, "  a  b").out, " a b");
  // Indents are cut from a run of 47 spaces.
  EXPECT_EQ(lay(1, 60, "x").out, std::string(47, ' ') + "x");
}

TEST_F(Layout, WrapsAtTheWidth) {
  std::string text;
  for (int i = 0; i < 40; ++i) text += "word ";
  text += "\n";
  laid_out r = lay(6, 4, text);
  EXPECT_EQ(r.out,
            " word word word word word word word word word word word word word word\n"
            "    word word word word word word word word word word word word word word word\n"
            "    word word word word word word word word word word word\n");
  EXPECT_EQ(r.col, 1);
  // A word goes to the next line when column + length would pass 78; the
  // separating space can make a line 79 long, and a line of 79 is ended.
  std::string a(72, 'a');
  EXPECT_EQ(lay(1, 0, a + " bcdef").out, a + " bcdef");
  EXPECT_EQ(lay(1, 0, a + " bcdef").col, 78);
  EXPECT_EQ(lay(1, 0, a + " bcdefg").out, a + " bcdefg\n");
  EXPECT_EQ(lay(1, 0, a + " bcdefg").col, 1);
  EXPECT_EQ(lay(1, 0, a + " bcdefgh").out, a + "\nbcdefgh");
  EXPECT_EQ(lay(1, 4, a + " bcdefg").out, "    " + a + "\n    bcdefg");
}

TEST_F(Layout, ColumnsSetTheWidth) {
  EXPECT_EQ(lay(6, 4, "one two three four five six\n", 20).out,
            " one two\n    three four five\n    six\n");
  EXPECT_EQ(lay(6, 4, "one two three four five six\n", 132).out,
            " one two three four five six\n");
}

TEST_F(Layout, LongWordsAndFirstWords) {
  std::string longword(100, 'x');
  // Written whole and followed by a line end; the first word of a call is
  // never moved, however little room is left.
  EXPECT_EQ(lay(6, 4, longword + " next\n").out, " " + longword + "\n    next\n");
  EXPECT_EQ(lay(70, 4, "abcdefghijkl mn\n").out, " abcdefghijkl\n    mn\n");
  // A full line followed by the text's own newline gives one line end,
  // not an empty indented line.
  EXPECT_EQ(lay(6, 4, longword + ".\nnext\n").out, " " + longword + ".\n    next\n");
}

TEST_F(Layout, EmptyLinesAndTrailingText) {
  EXPECT_EQ(lay(1, 4, "a\n\nb").out, "    a\n    \n    b");
  EXPECT_EQ(lay(1, 4, "a\n\nb").col, 5);
  EXPECT_EQ(lay(8, 4, "end.\n\n").out, " end.\n    \n");
}

TEST_F(Layout, SectionsStayWhole) {
  // A backquoted name with blanks is never broken, wherever it falls.
  const std::string path = "/a path/with some/blanks in it";
  std::string pre(50, 'p');
  laid_out r = lay(8, 4, pre + " failed to stat `" + path + "' - skipping it.\n");
  EXPECT_EQ(r.out, " " + pre + " failed to stat\n    `" + path + "' - skipping it.\n");
  // Text directly before or after the section stays with it.
  EXPECT_EQ(lay(1, 0, "x (`a b'), y").out, "x (`a b'), y");
  EXPECT_EQ(lay(1, 0, "pre`a b'post z").out, "pre`a b'post z");
  // Section markers keep text on one line and are not printed.
  EXPECT_EQ(lay(6, 4, "\x02my file.ctl\x02 line 3: bad.\n").out, " my file.ctl line 3: bad.\n");
  EXPECT_EQ(lay(6, 4, "version \x02" "1.2.3\x02 - only have\x02 2.1.0\x02.\n").out,
            " version 1.2.3 - only have 2.1.0.\n");
  // A section that brings its own blank gets no second one.
  EXPECT_EQ(lay(1, 4, "\tLink:\x02 /usr/x\x02\n").out, "         Link: /usr/x\n");
  std::string section(90, 's');
  EXPECT_EQ(lay(6, 4, "a \x02" + section + "\x02\nb\n").out, " a\n    " + section + "\n    b\n");
  // Double-quoted text is kept whole too.
  EXPECT_EQ(lay(70, 4, "x \"a b c\" y").out, " x\n    \"a b c\" y");
  // An opening quote without its partner is an ordinary character.
  EXPECT_EQ(lay(1, 0, "it`s a b").out, "it`s a b");
  EXPECT_EQ(lay(1, 0, "5\" long").out, "5\" long");
}

TEST_F(Layout, JprintfFormats) {
  diag.columns = 80;
  FILE* f = std::tmpfile();
  EXPECT_EQ(jprintf(1, 3, f, "%s has %d item%s.\n", "list", 2, "s"), 1);
  std::rewind(f);
  char buf[64] = {};
  std::fread(buf, 1, sizeof buf - 1, f);
  std::fclose(f);
  EXPECT_STREQ(buf, "   list has 2 items.\n");
  // No length limit: a long text is laid out whole.
  std::string big(20000, 'z');
  EXPECT_EQ(strprintf("%s!", big.c_str()).size(), 20001u);
  EXPECT_EQ(lay(1, 0, big).out, big + "\n");
}

TEST_F(Reporters, PrefixesBlankLinesAndCounters) {
  testutil::CaptureFd cap;
  error("first %s.\n", "problem");
  error("second.\n");
  warning("careful.\n");
  info("note.\n");
  info("another note.\n");
  error("again.\n");
  EXPECT_EQ(cap.text(),
            "\nERROR: first problem.\n"
            "ERROR: second.\n"
            "\nWARNING: careful.\n"
            "\nINFO: note.\n"
            "INFO: another note.\n"
            "\nERROR: again.\n");
  EXPECT_EQ(diag.errors, 3);
  EXPECT_EQ(diag.warnings, 1);
  EXPECT_EQ(diag.lasttype, 0);
}

TEST_F(Reporters, ContinuationsGoOnTheOpenLine) {
  testutil::CaptureFd cap;
  info("processing new package: %s ", "FOO");
  info("\x01: %d file%s, %d director%s.\n", 1, "", 2, "ies");
  warning("the file `%s' is duplicated in package(s):", "/usr/bin/x");
  warning("\x01 %s", "A");
  warning("\x01 %s", "B");
  warning("\x01\n");
  EXPECT_EQ(cap.text(),
            "\nINFO: processing new package: FOO : 1 file, 2 directories.\n"
            "\nWARNING: the file `/usr/bin/x' is duplicated in package(s): A B\n");
  EXPECT_EQ(diag.warnings, 1);
  EXPECT_EQ(diag.errors, 0);
}

TEST_F(Reporters, OtherKindsLeaveTheSavedColumn) {
  testutil::CaptureFd cap;
  info("abc ");
  error("boom.\n");
  info("\x01 def\n");
  // The info column (9) survives the error report; the continuation starts
  // there on the fresh line the error left, without a prefix or blank line.
  EXPECT_EQ(cap.text(), "\nINFO: abc\nERROR: boom.\n def\n");
  EXPECT_EQ(diag.kindcol[2], 1);
  EXPECT_EQ(diag.kindcol[0], 1);
  EXPECT_EQ(diag.errors, 1);
}

TEST_F(Reporters, WrappedReportsIndentByFour) {
  testutil::CaptureFd cap;
  diag.columns = 30;
  warning("failed to stat `%s' - skipping it.\n", "/dist/a b c/d e");
  EXPECT_EQ(cap.text(), "\nWARNING: failed to stat\n    `/dist/a b c/d e' -\n    skipping it.\n");
}

TEST_F(Reporters, FatalPrintsAndThrows) {
  testutil::CaptureFd cap;
  info("x\n");
  try {
    fatal("\x01" "could not allocate %d byte%s.\n", 1, "");
    FAIL() << "fatal returned";
  } catch (const run_exit& e) {
    EXPECT_EQ(e.status, 1);
  }
  EXPECT_EQ(cap.text(), "\nINFO: x\n\nFATAL: could not allocate 1 byte.\n");
  EXPECT_EQ(diag.lasttype, 2);
  EXPECT_EQ(diag.errors, 0);
}

TEST_F(Reporters, DebugFile) {
  testutil::TempDir t;
  const std::string path = t / "debug.out";
  debug(1, "not open yet\n");
  set_debug(1, path.c_str());
  debug(2, "too detailed %d\n", 2);
  debug(1, "kept as is:\tno layout `x'   here %d\n", 1);
  // Written and flushed at once: readable before the file is closed.
  EXPECT_EQ(testutil::read_file(path), "kept as is:\tno layout `x'   here 1\n");
  EXPECT_TRUE(debug_on(1));
  EXPECT_FALSE(debug_on(2));
  set_debug(3, path.c_str());
  debug(3, "level three\n");
  EXPECT_EQ(testutil::read_file(path), "level three\n");
  close_debug();
  EXPECT_FALSE(debug_on(0));
}

TEST_F(Reporters, DebugFileThatCannotBeOpened) {
  testutil::CaptureFd cap;
  try {
    set_debug(1, "/nonexistent-dir/x/debug.out");
    FAIL() << "set_debug returned";
  } catch (const run_exit& e) {
    EXPECT_EQ(e.status, 1);
  }
  EXPECT_EQ(cap.text(),
            "\nERROR: unable to open debug file `/nonexistent-dir/x/debug.out' for writing.\n");
  EXPECT_EQ(diag.errors, 1);
}

TEST_F(Reporters, PerrorLabel) {
  testutil::CaptureFd cap;
  errno = ENOENT;
  perror_label("\nlstat");
  EXPECT_EQ(cap.text(), "\nlstat: No such file or directory\n");
}

namespace {

// A message text as a reader composes one before printing it itself.
std::string piece(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  std::string s = vmessage_text(format, ap);
  va_end(ap);
  return s;
}

// A report after a place the caller made safe, as the reader makes one.
void report_after(report_kind kind, const std::string& prefix, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  report_at(kind, prefix, format, ap);
  va_end(ap);
}

}  // namespace

TEST_F(Reporters, ControlCharactersOfNamesAreEscaped) {
  testutil::CaptureFd cap;
  error("could not stat `%s'.\n", "a\nb\tc\x1b[31m\x7f\x01\x02" "d");
  // The format's own tabs, newlines and layout marks keep their meaning;
  // a mark passed as %c is layout, any other control character is not.
  warning("%c%s%c line %d: bad %c.\n\tLink:\x02 %s\x02\n", SECT_MARK, "my\nfile.ctl", SECT_MARK, 3,
          '\x1b', "/usr/lib/x\r");
  info("processing package: %s ", "P\n");
  info("\x01: done.\n");
  EXPECT_EQ(cap.text(),
            "\nERROR: could not stat `a\\nb\\tc\\x1b[31m\\x7f\\x01\\x02d'.\n"
            "\nWARNING: my\\nfile.ctl line 3: bad \\x1b.\n"
            "         Link: /usr/lib/x\\x0d\n"
            "\nINFO: processing package: P\\n : done.\n");
  EXPECT_EQ(diag.errors, 1);
  EXPECT_EQ(diag.warnings, 1);
}

TEST_F(Reporters, FatalEscapesToo) {
  testutil::CaptureFd cap;
  EXPECT_THROW(fatal("no `%s'.\n", "x\ny"), run_exit);
  EXPECT_EQ(cap.text(), "\nFATAL: no `x\\ny'.\n");
}

TEST_F(MessageText, FormatsLikePrintf) {
  EXPECT_EQ(piece("[%-6s][%4s][%.2s][%*s][%-*d]", "a\n", "b", "x\ty", 3, "c", 4, 7),
            "[a\\n   ][   b][x\\t][  c][7   ]");
  EXPECT_EQ(piece("%d %i %ld %lld %u %lu %zu %x %X %o %5.1f %c %% %s", -1, 2, 3L, 4LL, 5u, 6UL,
                  std::size_t{7}, 255u, 255u, 8u, 2.25, 'z', static_cast<const char*>(nullptr)),
            "-1 2 3 4 5 6 7 ff FF 10   2.2 z % (null)");
  // Plain formatting for paths and commands stays as it is.
  EXPECT_EQ(strprintf("%s|%c", "a\nb", '\t'), "a\nb|\t");
  EXPECT_EQ(escape_controls("ok \x1f\x7f\xc3\xa9"), "ok \\x1f\\x7f\xc3\xa9");
}

TEST_F(Reporters, ReportAtTakesItsPrefixAsItStands) {
  testutil::CaptureFd cap;
  // The prefix's name was escaped by the caller; its marks stay marks.
  const std::string place = "\x02" + escape_controls("ctl\x1b") + "\x02 line 4: ";
  report_after(report_kind::error, place, "exec(%c%s%c) failed with %d.\n", SECT_MARK, "rm -rf\n/",
               SECT_MARK, 1);
  report_after(report_kind::warning, place, "%s\n", "a\tb");
  // Never a continuation, and counted as the reporters count.
  report_after(report_kind::warning, "", "\x01" "%s\n", "c");
  report_after(report_kind::info, place, "done.\n");
  EXPECT_EQ(cap.text(),
            "\nERROR: ctl\\x1b line 4: exec(rm -rf\\n/) failed with 1.\n"
            "\nWARNING: ctl\\x1b line 4: a\\tb\n"
            "WARNING: \x01" "c\n"
            "\nINFO: ctl\\x1b line 4: done.\n");
  EXPECT_EQ(diag.errors, 1);
  EXPECT_EQ(diag.warnings, 2);
  // Plain formatting, as before any report, and no state left behind.
  EXPECT_EQ(strprintf("%s", place.c_str()), place);
}
