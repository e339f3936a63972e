// The control file's tokens: characters with pushback across included
// files, then a state machine for strings, numbers, words, comments and
// script bodies, the keyword table and ${NAME} expansion.
#include "ctlfile/lexer.hpp"

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <unordered_map>

#include "common/diag.hpp"
#include "common/strutil.hpp"
#include "ctlfile/grammar.hpp"
#include "model/settings.hpp"

namespace {

/// A row of the keyword table: the word, its token and its semantic value.
struct keyword {
  const char* text;
  int token;
  int value;
};

const keyword tokens[] = {
    {"true", TOK_TRUETOKEN, 1}, {"yes", TOK_TRUETOKEN, 1}, {"y", TOK_TRUETOKEN, 1},
    {"recursive", TOK_TRUETOKEN, 1},
    {"false", TOK_FALSETOKEN, 0}, {"no", TOK_FALSETOKEN, 0}, {"n", TOK_FALSETOKEN, 0},
    {"nonrecursive", TOK_FALSETOKEN, 0}, {"norecurse", TOK_FALSETOKEN, 0},
    {"client", TOK_CLIENT, ACCESS_CLIENT}, {"variable", TOK_CLIENT, ACCESS_CLIENT},
    {"config", TOK_CLIENT, ACCESS_CLIENT}, {"volatile", TOK_CLIENT, ACCESS_CLIENT},
    {"server", TOK_SERVER, ACCESS_SHARED}, {"static", TOK_SERVER, ACCESS_SHARED},
    {"precious", TOK_SERVER, ACCESS_SHARED},
    {"export", TOK_EXPORT, 0}, {"phase", TOK_EXPORT, 0}, {"sequence", TOK_EXPORT, 0},
    {"availability", TOK_EXPORT, 0}, {"available", TOK_EXPORT, 0},
    {"regphase", TOK_REGPHASE, PHASE_EARLY}, {"early", TOK_REGPHASE, PHASE_EARLY},
    {"expphase", TOK_EXPPHASE, PHASE_NORMAL}, {"normal", TOK_EXPPHASE, PHASE_NORMAL},
    {"none", TOK_NONE, PHASE_NONE}, {"never", TOK_NONE, PHASE_NONE},
    {"private", TOK_NONE, PHASE_NONE},
    {"exportall", TOK_EXPORTALL, 0}, {"phaseall", TOK_EXPORTALL, 0},
    {"sequenceall", TOK_EXPORTALL, 0}, {"availabilityall", TOK_EXPORTALL, 0},
    {"availableall", TOK_EXPORTALL, 0},
    {"ssoprivate", TOK_SSOPRIVATE, 0}, {"pkgprivate", TOK_SSOPRIVATE, 0},
    {"print", TOK_PRINT, 0}, {"printf", TOK_PRINT, 0},
    {"except", TOK_EXCEPT, 0}, {"exclude", TOK_EXCEPT, 0},
    {"create", TOK_CREATE, 0}, {"new", TOK_CREATE, 0},
    {"sh", TOK_SHCTOKEN, 0}, {"file", TOK_FILETOKEN, 0}, {"package", TOK_PACKAGETOKEN, 0},
    {"access", TOK_ACCESS, 0}, {"owner", TOK_OWNER, 0}, {"group", TOK_GROUP, 0},
    {"mode", TOK_MODE, 0}, {"flags", TOK_FLAGS, 0}, {"symlink", TOK_SYMLINK, 0},
    {"remove", TOK_REMOVE, 0}, {"removeany", TOK_REMOVEANY, 0},
    {"addexport", TOK_ADDEXPORT, 0}, {"requires", TOK_REQUIRES, 0},
    {"dependency", TOK_DEPENDENCY, 0}, {"upgrades", TOK_UPGRADES, 0},
    {"replaces", TOK_REPLACES, 0}, {"subpackage", TOK_SUBPACKAGE, 0},
    {"vendor", TOK_VENDOR, 0}, {"exec", TOK_EXEC, 0}, {"verbatim", TOK_VERBATIM, 0},
    {"exists", TOK_EXISTS, 0}, {"directory", TOK_DIRECTORY, 0}, {"prepare", TOK_PREPARE, 0},
    {"component", TOK_COMPONENT, 0}, {"auto_compress_texinfo", TOK_AUTO_COMPRESS_TEXINFO, 0},
    {"auto_format_mansource", TOK_AUTO_FORMAT_MANSOURCE, 0},
    {"compress_texinfo", TOK_COMPRESS_TEXINFO, 0}, {"format_mansource", TOK_FORMAT_MANSOURCE, 0},
    {"auto_strip", TOK_AUTO_STRIP, 0}, {"exportlinks", TOK_EXPORTLINKS, 0},
    {"exportok", TOK_EXPORTOK, 0}, {"script", TOK_SCRIPT, 0}, {"allfiles", TOK_ALLFILES, 0},
    {"alldirs", TOK_ALLDIRS, 0}, {"define", TOK_DEFINE, 0}, {"ifdef", TOK_IFDEF, 0},
    {"ifndef", TOK_IFNDEF, 0}, {"ifeq", TOK_IFEQ, 0}, {"ifneq", TOK_IFNEQ, 0},
    {"endif", TOK_ENDIF, 0}, {"want", TOK_WANT, 0}, {"else", TOK_ELSE, 0},
    {"error", TOK_ERROR, 0}, {"warning", TOK_WARNING, 0}, {"set", TOK_SET, 0},
    {"backend", TOK_BACKEND, 0}, {"convert", TOK_CONVERT, 0}, {"mandir", TOK_MANDIR, 0},
    {"linkok", TOK_LINKOK, 0}, {"target", TOK_TARGET, 0}, {"include", TOK_INCLUDE, 0},
    {"includes", TOK_INCLUDES, 0}, {"pathmatch", TOK_PATHMATCH, 0}, {"eval", TOK_EVAL, 0},
};

/// The keyword row of `word` (compared without regard to case), or null.
const keyword* find_keyword(const std::string& word) {
  static const std::unordered_map<std::string, const keyword*> index = [] {
    std::unordered_map<std::string, const keyword*> m;
    for (const keyword& k : tokens) m.emplace(k.text, &k);
    return m;
  }();
  auto it = index.find(strlower(word));
  return it == index.end() ? nullptr : it->second;
}

bool is_letter(int c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_blank(int c) { return c == ' ' || c == '\t' || c == '\n'; }

// A lexical error: reported like a parse error, and the input ends here.
int lex_error(CtlReader& rd, const char* format, ...) CORVANE_PRINTF(2, 3);
int lex_error(CtlReader& rd, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  std::string msg = vmessage_text(format, ap);
  va_end(ap);
  ctl_yyerror(rd, msg.c_str());
  rd.lexfailed = true;
  return 0;
}

int too_long(CtlReader& rd) {
  return lex_error(rd, "token longer than %zu characters", MAX_TOKEN);
}

int read_byte(CtlReader& rd, InputLevel& lv) {
  if (!lv.stream) return lv.pos < lv.mem.size() ? static_cast<unsigned char>(lv.mem[lv.pos++]) : EOF;
  int c = getc_unlocked(lv.stream.get());
  if (c == EOF && std::ferror(lv.stream.get())) {
    perror_label("\nread");
    error("could not read `%s'.\n", lv.abs.c_str());
    rd.lexfailed = true;
  }
  return c;
}

std::string base_name(const std::string& path) {
  auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Reads as many characters as `text` has into `got`; true when they are `text`.
bool read_matches(CtlReader& rd, const std::string& text, std::string& got) {
  got.clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    int c = nextch(rd);
    if (c == END_OF_INPUT) return false;
    got += static_cast<char>(c);
    if (got.back() != text[i]) return false;
  }
  return true;
}

void push_back_all(CtlReader& rd, const std::string& s) {
  for (auto it = s.rbegin(); it != s.rend(); ++it) prevch(rd, static_cast<unsigned char>(*it));
}

// The raw text of a script body up to the closing delimiter; the
// character after the delimiter (normally its newline) is dropped.
int lex_script_body(YYSTYPE* lval, CtlReader& rd) {
  const std::string& d = rd.lex_delimiter;
  std::string body, got;
  for (;;) {
    int c = nextch(rd);
    if (c == END_OF_INPUT)
      return lex_error(rd, "end of file in script body: no closing delimiter `%s'", d.c_str());
    if (c == static_cast<unsigned char>(d[0])) {
      prevch(rd, c);
      if (read_matches(rd, d, got)) break;
      push_back_all(rd, got);
      c = nextch(rd);
    }
    body += static_cast<char>(c);
    if (body.size() > MAX_TOKEN) return too_long(rd);
  }
  nextch(rd);
  lval->str = rd.keep(std::move(body));
  return TOK_STRING;
}

// Tells whether the text ahead is the opening delimiter (consumed when it
// is, pushed back when it is not).
bool opening_delimiter(CtlReader& rd) {
  std::string got;
  if (read_matches(rd, rd.lex_delimiter, got)) return true;
  push_back_all(rd, got);
  return false;
}

// Adds the escape after a backslash to `s`; false after a lexical error.
bool lex_escape(CtlReader& rd, std::string& s) {
  int e = nextch(rd);
  switch (e) {
    case '"': s += '"'; return true;
    case '\\': s += '\\'; return true;
    case '$': s += "\\$"; return true;  // expansion turns \$ into a literal $
    case 'n': case 't': case 'v': case 'a': case '0': return true;
    case END_OF_INPUT: lex_error(rd, "end of file in string constant"); return false;
    case '\n':
      prevch(rd, e);
      lex_error(rd, "newline in string constant");
      return false;
    default:
      if (e > 32 && e < 127)
        lex_error(rd, "Illegal escape sequence \\%c", e);
      else
        lex_error(rd, "Illegal escape sequence \\ followed by character %d", e);
      return false;
  }
}

int lex_string(YYSTYPE* lval, CtlReader& rd) {
  std::string s;
  for (;;) {
    int c = nextch(rd);
    if (c == END_OF_INPUT) return lex_error(rd, "end of file in string constant");
    if (c == '\n') {
      prevch(rd, c);  // the message names the line of the string
      return lex_error(rd, "newline in string constant");
    }
    if (c == '"') break;
    if (c == '\\') {
      if (!lex_escape(rd, s)) return 0;
    } else if (c >= 32 && c <= 126) {
      s += static_cast<char>(c);
    }
    if (s.size() > MAX_TOKEN) return too_long(rd);
  }
  lval->str = rd.keep(lexer_expandstr(rd, s));
  return TOK_STRING;
}

// Numbers are octal unless they begin with 8, 9 or +, or an 8 or 9 follows
// a first digit of 1 to 7.
int lex_number(YYSTYPE* lval, CtlReader& rd, int first) {
  enum { leading_zero, octal, decimal } state =
      first == '0' ? leading_zero : (first >= '1' && first <= '7') ? octal : decimal;
  bool octal_digits = first != '8' && first != '9';
  std::string s(1, static_cast<char>(first));
  for (;;) {
    int c = nextch(rd);
    if (c == END_OF_INPUT) break;
    if (is_blank(c) || c == ')' || c == ',') {
      prevch(rd, c);
      break;
    }
    if ((c >= '0' && c <= '7') || ((c == '8' || c == '9') && state != leading_zero)) {
      if (c >= '8') {
        octal_digits = false;
        if (state == octal) state = decimal;
      }
      s += static_cast<char>(c);
      if (s.size() > MAX_TOKEN) return too_long(rd);
      continue;
    }
    return lex_error(rd, state == decimal ? "Illegal character in decimal number"
                                          : "Illegal character in octal number");
  }
  if (s == "+") return lex_error(rd, "no digits in decimal number");
  errno = 0;
  long long v = std::strtoll(s.c_str(), nullptr, state == decimal ? 10 : 8);
  if (errno == ERANGE || v > INT_MAX) return lex_error(rd, "number `%s' out of range", s.c_str());
  lval->number = {static_cast<int>(v), octal_digits};
  return TOK_NUMBER;
}

int lex_word(YYSTYPE* lval, CtlReader& rd, int first) {
  std::string w(1, static_cast<char>(first));
  int c;
  while ((c = nextch(rd)) != END_OF_INPUT && (is_letter(c) || c == '_')) {
    w += static_cast<char>(c);
    if (w.size() > MAX_TOKEN) return too_long(rd);
  }
  if (c != END_OF_INPUT) {
    prevch(rd, c);
    if (!is_blank(c) && c != '(' && c != ')' && c != ',')
      return lex_error(rd, "bad separator %d near token '%s'", c, w.c_str());
  }
  const keyword* k = find_keyword(w);
  if (!k) return lex_error(rd, "bad token '%s'", w.c_str());
  lval->num = k->value;
  return k->token;
}

int next_token(YYSTYPE* lval, CtlReader& rd) {
  for (;;) {
    int c = nextch(rd);
    if (c == END_OF_INPUT) return 0;
    if (rd.script == ScriptState::body_next && !rd.skip_delimiter_test &&
        c == static_cast<unsigned char>(rd.lex_delimiter[0])) {
      prevch(rd, c);
      if (opening_delimiter(rd)) return lex_script_body(lval, rd);
      rd.skip_delimiter_test = true;
      continue;
    }
    rd.skip_delimiter_test = false;
    if (c == '"') return lex_string(lval, rd);
    if ((c >= '0' && c <= '9') || c == '+') return lex_number(lval, rd, c);
    if (is_letter(c)) return lex_word(lval, rd, c);
    if (c == '#') {
      while ((c = nextch(rd)) != '\n')
        if (c == END_OF_INPUT) return 0;
      continue;
    }
    if (is_blank(c)) continue;
    // A NUL byte would read as the end of input; it is an invalid token.
    return c == 0 ? TOK_YYUNDEF : c;
  }
}

// The value of ${name}: settings, block context, environment, macros.
std::string variable_value(CtlReader& rd, const std::string& name) {
  static const struct {
    const char* name;
    optstr Options::*setting;
  } reserved[] = {
      {"CORVANE_BASEDIR", &Options::basedir},       {"CORVANE_DISTDIR", &Options::distdir},
      {"CORVANE_PKGDIR", &Options::pkgdir},         {"CORVANE_PRODUCT", &Options::prdcode},
      {"CORVANE_COMPONENT", &Options::cmpntcode},   {"CORVANE_DESCRIPTION", &Options::description},
      {"CORVANE_VERSION", &Options::version},       {"CORVANE_VENDOR", &Options::vendor},
  };
  for (const auto& r : reserved)
    if (name == r.name) return str_or_empty(opts.*r.setting);
  static const struct {
    const char* name;
    BlockKind kind;  // the block it belongs to
    std::string ParseContext::*field;
  } context[] = {
      {"CORVANE_THISPKG_SUBDIR", BlockKind::package, &ParseContext::third},
      {"CORVANE_THISPKG_DESC", BlockKind::package, &ParseContext::desc},
      {"CORVANE_THISPKG_NAME", BlockKind::package, &ParseContext::name},
      {"CORVANE_THISCMPNT_NAME", BlockKind::component, &ParseContext::name},
      {"CORVANE_THISCMPNT_DESC", BlockKind::component, &ParseContext::desc},
      {"CORVANE_THISCMPNT_VERSION", BlockKind::component, &ParseContext::third},
  };
  for (const auto& v : context) {
    if (name != v.name) continue;
    if (rd.ctx.ctxkind == v.kind) return rd.ctx.*v.field;
    ctl_error(rd,
              v.kind == BlockKind::package
                  ? "`${%s}' refers to package context variable outside of a package context.\n"
                  : "`${%s}' refers to component context variable outside of a component context.\n",
              name.c_str());
    return {};
  }
  if (const char* env = std::getenv(name.c_str())) return env;
  if (const varnode* m = find_varlist(name, opts.macros)) return m->value;
  if (rd.condtrue()) ctl_error(rd, "unknown/unset variable `%s'.\n", name.c_str());
  return {};
}

// A string longer than the bound, or a pass whose expansions together pass
// theirs, ends the run: the text cannot be read as written.
void bound_expansion(CtlReader& rd, std::size_t length, std::size_t inserted) {
  if (length > MAX_EXPANSION) {
    ctl_error(rd, "string expands to more than %zu bytes.\n", MAX_EXPANSION);
    exit_run(1);
  }
  if (rd.expanded + inserted > MAX_PASS_EXPANSION) {
    ctl_error(rd, "macro expansions of the control file pass %zu bytes in all.\n",
              MAX_PASS_EXPANSION);
    exit_run(1);
  }
  rd.expanded += inserted;
}

}  // namespace

int nextch(CtlReader& rd) {
  int c;
  if (!rd.swallow.empty()) {
    c = rd.swallow.back();
    rd.swallow.pop_back();
  } else {
    for (;;) {
      if (rd.at_end || rd.levels.empty()) return END_OF_INPUT;
      c = read_byte(rd, rd.levels.back());
      if (c != EOF) break;
      if (rd.levels.size() == 1 || rd.lexfailed) {
        rd.at_end = true;
        return END_OF_INPUT;
      }
      // An included file's end is no token boundary: reading goes on in
      // the including file where the include statement left it.
      rd.levels.pop_back();
      rd.linenum = rd.levels.back().resume_line;
      rd.filenm = base_name(rd.levels.back().abs);
    }
  }
  if (c == '\n') ++rd.linenum;
  return c;
}

void prevch(CtlReader& rd, int c) {
  if (c == '\n') --rd.linenum;
  rd.swallow.push_back(static_cast<unsigned char>(c));
}

int yylex(YYSTYPE* lval, CtlPos* lloc, CtlReader& rd) {
  ctl_live_position(rd);
  if (rd.lexfailed) return 0;
  int tok = next_token(lval, rd);
  lloc->line = rd.linenum;
  lloc->file = rd.levels.empty() ? nullptr : rd.levels.back().name;
  // The body is read raw only as the token after the ',' that follows the
  // delimiter, so neither that ',' nor the statement after the script can
  // be taken for the delimiter.
  if (rd.script == ScriptState::body_next)
    rd.script = ScriptState::none;
  else if (rd.script == ScriptState::delimiter_set && tok == ',')
    rd.script = ScriptState::body_next;
  return tok;
}

std::string lexer_expandstr(CtlReader& rd, std::string_view t) {
  std::string out;
  for (std::size_t i = 0; i < t.size(); ++i) {
    const char c = t[i];
    if (c != '$') {
      out += c;
    } else if (!out.empty() && out.back() == '\\') {
      out.back() = '$';
    } else if (i + 1 >= t.size() || t[i + 1] != '{') {
      out += '$';
      if (i + 1 < t.size()) out += t[++i];
    } else if (std::size_t close = t.find('}', i + 2); close == std::string_view::npos) {
      out.append(t.substr(i + 1));
      break;
    } else {
      const std::string value = variable_value(rd, std::string(t.substr(i + 2, close - i - 2)));
      bound_expansion(rd, out.size() + value.size(), value.size());
      out += value;
      i = close;
    }
  }
  bound_expansion(rd, out.size(), 0);
  return out;
}
