// The reporters and the word-wrapping writer every message goes through.
#include "common/diag.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <type_traits>

Diagnostics diag;

void reset_diagnostics() {
  close_debug();
  diag = Diagnostics{};
}

void exit_run(int status) { throw run_exit{status}; }

namespace {

std::string vformat(const char* format, va_list ap) {
  va_list ap2;
  va_copy(ap2, ap);
  int n = std::vsnprintf(nullptr, 0, format, ap2);
  va_end(ap2);
  std::string s(n > 0 ? n : 0, '\0');
  if (n > 0) std::vsnprintf(s.data(), n + 1, format, ap);
  return s;
}

bool is_control(unsigned char c) { return c < 0x20 || c == 0x7f; }

void append_escaped(std::string& out, std::string_view text) {
  for (unsigned char c : text) {
    if (!is_control(c)) {
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else {
      static constexpr char hex[] = "0123456789abcdef";
      out += "\\x";
      out += hex[c >> 4];
      out += hex[c & 0xf];
    }
  }
}

// Appends `text` padded to `width` (on the left, or on the right with `left`).
void append_padded(std::string& out, std::string_view text, int width, bool left) {
  const std::size_t pad = width > 0 && std::size_t(width) > text.size() ? width - text.size() : 0;
  if (!left) out.append(pad, ' ');
  out += text;
  if (left) out.append(pad, ' ');
}

// One conversion of a format, as read from it.
struct conversion {
  std::string directive = "%";  ///< flags, width, precision and length as written, '*' resolved
  int width = 0;
  int precision = -1;
  bool left = false;
  std::string length;  ///< hh, h, l, ll, j, z, t, L or q
  char conv = 0;
};

// Reads the number at `f`, or takes it from the arguments for a '*'.
int read_count(const char*& f, va_list& ap, bool& given) {
  given = true;
  if (*f == '*') {
    ++f;
    return va_arg(ap, int);
  }
  if (*f < '0' || *f > '9') {
    given = false;
    return 0;
  }
  // No message pads to more than this; a longer count in a format is cut.
  constexpr int MAX_COUNT = 100000;
  int n = 0;
  for (; *f >= '0' && *f <= '9'; ++f) n = std::min(n * 10 + (*f - '0'), MAX_COUNT);
  return n;
}

// Reads the conversion after a '%'; `f` is left after its letter.
conversion read_conversion(const char*& f, va_list& ap) {
  conversion c;
  while (*f && std::strchr("-+ #0'", *f)) {
    c.left |= *f == '-';
    c.directive += *f++;
  }
  bool given;
  c.width = read_count(f, ap, given);
  if (c.width < 0) {
    c.left = true;
    c.width = -c.width;
    c.directive += '-';
  }
  if (given) c.directive += std::to_string(c.width);
  if (*f == '.') {
    ++f;
    c.precision = read_count(f, ap, given);
    if (!given) c.precision = 0;
    if (c.precision >= 0) {
      // Appended in two steps: g++ 12 warns (wrongly) about "." + a string at -O2.
      c.directive += '.';
      c.directive += std::to_string(c.precision);
    }
  }
  while (*f && std::strchr("hljztLq", *f)) c.length += *f++;
  c.directive += c.length;
  if (*f) {
    c.conv = *f++;
    c.directive += c.conv;
  }
  return c;
}

template <class T>
void append_number(std::string& out, const conversion& c, T value) {
  char small[64];
  const int n = std::snprintf(small, sizeof small, c.directive.c_str(), value);
  if (n < 0) return;
  if (std::size_t(n) < sizeof small) {
    out.append(small, std::size_t(n));
    return;
  }
  std::string big(std::size_t(n) + 1, '\0');
  std::snprintf(big.data(), big.size(), c.directive.c_str(), value);
  out.append(big.data(), std::size_t(n));
}

void append_signed(std::string& out, const conversion& c, va_list& ap) {
  const std::string& l = c.length;
  if (l == "l") append_number(out, c, va_arg(ap, long));
  else if (l == "ll" || l == "q") append_number(out, c, va_arg(ap, long long));
  else if (l == "j") append_number(out, c, va_arg(ap, std::intmax_t));
  else if (l == "z") append_number(out, c, va_arg(ap, std::make_signed_t<std::size_t>));
  else if (l == "t") append_number(out, c, va_arg(ap, std::ptrdiff_t));
  else append_number(out, c, va_arg(ap, int));  // hh and h arrive as int
}

void append_unsigned(std::string& out, const conversion& c, va_list& ap) {
  const std::string& l = c.length;
  if (l == "l") append_number(out, c, va_arg(ap, unsigned long));
  else if (l == "ll" || l == "q") append_number(out, c, va_arg(ap, unsigned long long));
  else if (l == "j") append_number(out, c, va_arg(ap, std::uintmax_t));
  else if (l == "z") append_number(out, c, va_arg(ap, std::size_t));
  else if (l == "t") append_number(out, c, va_arg(ap, std::make_unsigned_t<std::ptrdiff_t>));
  else append_number(out, c, va_arg(ap, unsigned));
}

// A text argument as shown: its control characters escaped.
void append_text(std::string& out, const conversion& c, const char* arg) {
  std::string_view text = arg ? arg : "(null)";
  if (c.precision >= 0) text = text.substr(0, c.precision);
  std::string shown;
  append_escaped(shown, text);
  append_padded(out, shown, c.width, c.left);
}

// A character argument: the layout marks stay marks.
void append_char(std::string& out, const conversion& c, char ch) {
  std::string shown;
  if (ch == CONT_MARK || ch == SECT_MARK)
    shown = ch;
  else
    append_escaped(shown, std::string_view(&ch, 1));
  append_padded(out, shown, c.width, c.left);
}

// Numbers, as printf writes them.
void append_other(std::string& out, const conversion& c, va_list& args) {
  switch (c.conv) {
    case 'd': case 'i':
      append_signed(out, c, args);
      break;
    case 'o': case 'u': case 'x': case 'X':
      append_unsigned(out, c, args);
      break;
    case 'e': case 'E': case 'f': case 'F': case 'g': case 'G': case 'a': case 'A':
      if (c.length == "L")
        append_number(out, c, va_arg(args, long double));
      else
        append_number(out, c, va_arg(args, double));
      break;
    case 'p':
      append_number(out, c, va_arg(args, void*));
      break;
    case 'n':
      (void)va_arg(args, void*);  // stores nothing, but its argument is taken
      break;
    default:
      out += c.directive;  // not a conversion: shown as written
      break;
  }
}

// A message's text: printf formatting, except that every control character
// an argument text brings (a newline or an escape in a file name) is
// written as \n, \t or \xHH, so a name can neither split a message nor
// reach the terminal as a command. The format's own newlines and tabs, and
// the layout marks passed as %c, stay.
std::string format_message(const char* format, va_list ap) {
  std::string out;
  va_list args;
  va_copy(args, ap);
  for (const char* f = format; *f;) {
    if (*f != '%') {
      out += *f++;
      continue;
    }
    ++f;
    const conversion c = read_conversion(f, args);
    if (c.conv == '%')
      out += '%';
    else if (c.conv == 's')
      append_text(out, c, va_arg(args, const char*));
    else if (c.conv == 'c')
      append_char(out, c, static_cast<char>(va_arg(args, int)));
    else
      append_other(out, c, args);
  }
  va_end(args);
  return out;
}

}  // namespace

std::string escape_controls(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  append_escaped(out, text);
  return out;
}

std::string vstrprintf(const char* format, va_list ap) { return vformat(format, ap); }

std::string strprintf(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  std::string s = vformat(format, ap);
  va_end(ap);
  return s;
}

std::string vmessage_text(const char* format, va_list ap) { return format_message(format, ap); }

std::string message_text(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  std::string s = format_message(format, ap);
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
  std::string s = vformat(format, ap);
  va_end(ap);
  return jputs(col, indent, stream, s);
}

namespace {

// Prints one report's text: a continuation goes on where the last report
// of its kind ended, anything else starts with the kind's label.
void put_report(report_kind kind, bool cont, const std::string& text) {
  static constexpr const char* labels[] = {"ERROR:", "WARNING:", "INFO:"};
  const int k = static_cast<int>(kind);
  int col;
  if (cont) {
    col = diag.kindcol[k];
  } else {
    if (diag.lasttype != k) std::fputc('\n', stderr);
    std::fputs(labels[k], stderr);
    col = static_cast<int>(std::strlen(labels[k]));
    if (kind == report_kind::error) ++diag.errors;
    if (kind == report_kind::warning) ++diag.warnings;
  }
  diag.kindcol[k] = jputs(col, 4, stderr, text);
  diag.lasttype = k;
}

// Shared by error, warning and info.
void report(report_kind kind, const char* format, va_list ap) {
  const bool cont = format[0] == CONT_MARK;
  put_report(kind, cont, format_message(cont ? format + 1 : format, ap));
}

}  // namespace

void report_at(report_kind kind, std::string_view prefix, const char* format, va_list ap) {
  std::string text(prefix);
  text += format_message(format, ap);
  put_report(kind, false, text);
}

void error(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  report(report_kind::error, format, ap);
  va_end(ap);
}

void warning(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  report(report_kind::warning, format, ap);
  va_end(ap);
}

void info(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  report(report_kind::info, format, ap);
  va_end(ap);
}

void fatal(const char* format, ...) {
  // A fatal report is never a continuation; a marker byte is not printed.
  const char* f = format[0] == CONT_MARK ? format + 1 : format;
  va_list ap;
  va_start(ap, format);
  std::string text = format_message(f, ap);
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
