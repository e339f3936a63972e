// The reporters and the word-wrapping writer every message goes through.
#include "common/diag.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

Diagnostics diag;

void exit_run(int status) { throw run_exit{status}; }

std::string vstrprintf(const char* format, va_list ap) {
  va_list ap2;
  va_copy(ap2, ap);
  int n = std::vsnprintf(nullptr, 0, format, ap2);
  va_end(ap2);
  std::string s(n > 0 ? n : 0, '\0');
  if (n > 0) std::vsnprintf(s.data(), n + 1, format, ap);
  return s;
}

std::string strprintf(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  std::string s = vstrprintf(format, ap);
  va_end(ap);
  return s;
}

// Layout of a message.
//
// The text is cut into words. A word ends at a blank, tab or newline (not
// part of it) or after one of ! , . : ; ? (part of it), so "a,b" is laid out
// as "a, b". Three kinds of section are kept whole inside the word they
// stand in, blanks included, so a name is never split across lines:
//   `...'   from a backquote up to the next single quote,
//   "..."   from a double quote up to the next double quote,
//   ^B...^B text between two section markers (the markers are not printed).
// A backquote or double quote without its closing partner is an ordinary
// character. A single quote outside a backquoted section is an ordinary
// character, so an apostrophe stays inside its word ("Can't" is one word).
// Text directly before or after a section belongs to the same word: the
// layout never puts a space or a line end where the text has none.
//
// Each word is written after one space, except at the start of a line and
// when the word begins with a blank of its own (a section written as
// "^B %s^B" brings its separator with it). A word that would pass column
// columns-2 goes to the next line, indented, unless it is the first word
// this call writes on the line; so the first word of a call and words
// longer than the line are written whole. A line that reaches columns-1
// is ended; a newline right after such a line end is taken as that line
// end instead of leaving an empty indented line. A tab is four spaces.
namespace {

constexpr int MAX_INDENT = 47;

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n'; }
bool is_punct(char c) {
  return c == '!' || c == ',' || c == '.' || c == ':' || c == ';' || c == '?';
}

// Appends the section that opens at `text[i]` (a backquote or double quote)
// to `word` and returns the position after it, or returns `i` when the
// section is never closed.
std::size_t take_quoted(std::string_view text, std::size_t i, std::string& word) {
  const char close = text[i] == '`' ? '\'' : '"';
  const std::size_t end = text.find(close, i + 1);
  if (end == std::string_view::npos) return i;
  for (std::size_t k = i; k <= end; ++k)
    if (text[k] != SECT_MARK) word += text[k];
  return end + 1;
}

// Reads the word starting at `i` into `word`; `delim` is the blank that
// ended it, or 0 when it ended at punctuation or at the end of the text.
// Returns the position after the word (and after its blank).
std::size_t next_word(std::string_view text, std::size_t i, std::string& word, char& delim) {
  word.clear();
  delim = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (is_blank(c)) {
      delim = c;
      return i + 1;
    }
    if (is_punct(c)) {
      word += c;
      return i + 1;
    }
    if (c == SECT_MARK) {
      std::size_t end = text.find(SECT_MARK, i + 1);
      if (end == std::string_view::npos) end = text.size();
      word.append(text.substr(i + 1, end - i - 1));
      i = end < text.size() ? end + 1 : end;
      continue;
    }
    if (c == '`' || c == '"') {
      std::size_t after = take_quoted(text, i, word);
      if (after != i) {
        i = after;
        continue;
      }
    }
    word += c;
    ++i;
  }
  return i;
}

struct line_writer {
  std::string out;
  int col;
  int indent;
  int columns;
  // Column 1 stands for a fresh line, but with an indent of 0 or 1 it is
  // also a column the text can reach; the flag keeps the two apart.
  bool fresh;
  bool linestarted = false;  // a word of this call is on the current line

  void new_line() {
    out += '\n';
    col = 1;
    fresh = true;
    linestarted = false;
  }
  void start_indented() {
    out.append(static_cast<std::size_t>(indent), ' ');
    col = indent;
    fresh = false;
    linestarted = false;
  }

  // Places one word; `delim` as from next_word. Returns true when the word
  // ended a full line (so a newline right after it is already written).
  bool place(const std::string& word, char delim) {
    const int len = static_cast<int>(word.size());
    if (col + len > columns - 2 && col != indent && linestarted) {
      new_line();
      start_indented();
    } else if (fresh) {
      start_indented();
    }
    if (len > 0) {
      if (col > indent && !is_blank(word[0])) {
        out += ' ';
        ++col;
      }
      out += word;
      col += len;
      linestarted = true;
    }
    const bool full = col >= columns - 1;
    if (delim == '\n' || full) {
      new_line();
      return full && delim == 0;
    }
    if (delim == '\t') {
      if (col > columns - 5) {
        new_line();
        start_indented();
      }
      out += "    ";
      col += 4;
    }
    return false;
  }
};

}  // namespace

int jputs(int col, int indent, FILE* stream, const std::string& text) {
  line_writer w{{}, col, indent < 0 ? 0 : indent > MAX_INDENT ? MAX_INDENT : indent, diag.columns,
                col == 1};
  w.out.reserve(text.size() + text.size() / 8 + 8);
  std::string word;
  char delim;
  std::size_t i = 0;
  while (i < text.size()) {
    i = next_word(text, i, word, delim);
    if (word.empty() && delim == 0 && i >= text.size()) break;
    if (w.place(word, delim) && i < text.size() && text[i] == '\n') ++i;
  }
  // One write per message keeps a report whole even when stderr is shared.
  if (!w.out.empty()) std::fwrite(w.out.data(), 1, w.out.size(), stream);
  return w.col;
}

int jprintf(int col, int indent, FILE* stream, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  std::string s = vstrprintf(format, ap);
  va_end(ap);
  return jputs(col, indent, stream, s);
}

namespace {

// Shared by error, warning and info: `kind` is 0, 1 or 2.
void report(int kind, const char* prefix, int* counter, const char* format, va_list ap) {
  const bool cont = format[0] == CONT_MARK;
  std::string text = vstrprintf(cont ? format + 1 : format, ap);
  int col;
  if (cont) {
    col = diag.kindcol[kind];
  } else {
    if (diag.lasttype != kind) std::fputc('\n', stderr);
    std::fputs(prefix, stderr);
    col = static_cast<int>(std::strlen(prefix));
    if (counter) ++*counter;
  }
  diag.kindcol[kind] = jputs(col, 4, stderr, text);
  diag.lasttype = kind;
}

}  // namespace

void error(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  report(0, "ERROR:", &diag.errors, format, ap);
  va_end(ap);
}

void warning(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  report(1, "WARNING:", &diag.warnings, format, ap);
  va_end(ap);
}

void info(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  report(2, "INFO:", nullptr, format, ap);
  va_end(ap);
}

void fatal(const char* format, ...) {
  // A fatal report is never a continuation; a marker byte is not printed.
  const char* f = format[0] == CONT_MARK ? format + 1 : format;
  va_list ap;
  va_start(ap, format);
  std::string text = vstrprintf(f, ap);
  va_end(ap);
  std::fputs("\nFATAL:", stderr);
  jputs(6, 4, stderr, text);
  exit_run(1);
}

bool debug_on(int level) { return diag.dbgfile && level <= diag.dbglevel; }

void debug(int level, const char* format, ...) {
  if (!debug_on(level)) return;
  va_list ap;
  va_start(ap, format);
  std::vfprintf(diag.dbgfile, format, ap);
  va_end(ap);
  std::fflush(diag.dbgfile);
}

void close_debug() {
  if (diag.dbgfile) std::fclose(diag.dbgfile);
  diag.dbgfile = nullptr;
}

void set_debug(int level, const char* path) {
  close_debug();
  diag.dbgfile = std::fopen(path, "w");
  if (!diag.dbgfile) {
    error("unable to open debug file `%s' for writing.\n", path);
    exit_run(1);
  }
  diag.dbglevel = level;
}

void perror_label(const char* label) {
  int e = errno;
  std::fprintf(stderr, "%s: %s\n", label, std::strerror(e));
}
