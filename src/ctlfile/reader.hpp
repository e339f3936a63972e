// The state of one pass over a control file: the stack of files being
// read, the pushback, the conditional stack, the block context and the
// texts the parser holds. One instance, `ctl` (reader.cpp); each pass
// starts it afresh, and reset_ctlfile() puts it back to its start.
#pragma once

#include <cstdio>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/diag.hpp"
#include "common/lists.hpp"
#include "model/model.hpp"
#include "model/settings.hpp"

/// Files may be included inside each other up to this many levels, the
/// control file itself counting as the first.
inline constexpr int MAX_NESTING = 16;
/// Longest text of one string, number, word or script body.
inline constexpr std::size_t MAX_TOKEN = 65535;
/// Longest script delimiter.
inline constexpr std::size_t MAX_DELIMITER = 23;
/// Longest text one string may expand to: forty macros that each double
/// the one before would otherwise take all memory of the machine.
inline constexpr std::size_t MAX_EXPANSION = std::size_t{1} << 20;
/// Most text that expansion may insert in one pass: without it, a 1 MiB
/// macro named in every statement of a file would still take all memory.
inline constexpr std::size_t MAX_PASS_EXPANSION = std::size_t{64} << 20;

/// The value nextch() returns at the end of the control file.
inline constexpr int END_OF_INPUT = -1;

/// One file on the input stack.
struct InputLevel {
  std::string abs;                ///< absolute path of the file
  const std::string* name = nullptr;  ///< its base name, kept for the pass (tokens point to it)
  std::unique_ptr<FILE, int (*)(FILE*)> stream{nullptr, &std::fclose};  ///< null when read from memory
  std::string_view mem;           ///< the text when read from memory
  std::size_t pos = 0;            ///< next byte of `mem`
  int resume_line = 0;            ///< line of this level at which the next level was opened
};

/// One open conditional and where it was opened, for the end-of-file warning.
struct CondLevel {
  int value;
  std::string file;
  int line;
};

/// Where in a script() statement the lexer is: the body is read raw only
/// as the token right after the ',' that follows the delimiter.
enum class ScriptState { none, delimiter_set, body_next };

/// What the entry being described (`ctxentry`) is.
enum class EntryKind { none, file, dir, file_pattern, dir_pattern };

/// The kind of block whose statements are being read: it decides whose
/// statements such as requires(), verbatim() and remove() fill.
enum class BlockKind {
  top = 0,        ///< outside any block, or in a prepare() phase: the statement is product-wide
  package = 1,    ///< a package body: the statement is the package's
  component = 2,  ///< a component body: the statement is the component's
};

/// The block whose statements are being read.
struct ParseContext {
  BlockKind ctxkind = BlockKind::top;
  attrent* ctxentry = nullptr;     ///< entry or pattern of the current body; null outside one
  EntryKind entry_kind = EntryKind::none;
  pkgptr_t pkg = nullptr;          ///< the package of a package body, when its record was made
  cmpntptr_t cmpnt = nullptr;      ///< the component of a component body, when made
  strlist* ctxexcept = nullptr;    ///< where except() adds, or null
  // The block statement's own texts, which ${CORVANE_THISPKG_*} and
  // ${CORVANE_THISCMPNT_*} give in both passes, whether or not a record exists.
  std::string name, desc;
  std::string third;               ///< package: directory text; component: version
};

/// Where the parser's trace stands between the lines bison prints: they are
/// rewritten to the classic yacc form, which puts one reduction on one line.
struct ParseTrace {
  /// What the trace printer does with the next line bison prints.
  enum class Mode {
    pass_through,    ///< copy it
    right_hand_side, ///< a symbol of the reduction being printed: keep only its name
    bison_lhs,       ///< bison's own left-hand side line, already printed: drop it
  };
  Mode mode = Mode::pass_through;
  int rhs_left = 0;  ///< symbols of the reduction still to print
  const char* lhs = "";
};

/// The requests a prepare() phase collects for the preparation at its end.
struct PrepRequests {
  bool open = false;  ///< a phase was opened (its opening statement acted)
  std::string name;
  int automan = 0, autotexi = 0, autostrip = 0;
  std::string mcsstr;
};

/// Everything one pass over the control file changes.
struct CtlReader {
  std::vector<InputLevel> levels;  ///< the input stack; back() is being read
  int linenum = 1;
  std::string filenm;              ///< base name of the file being read
  // While an action runs, its messages name where its statement ended.
  bool at_statement = false;
  int stmt_line = 0;
  const std::string* stmt_file = nullptr;
  std::vector<unsigned char> swallow;  ///< pushed-back characters, last pushed on top
  bool at_end = false;             ///< the control file itself has ended
  bool lexfailed = false;          ///< a lexical error ended the input
  std::string include_jail;        ///< when set, only files below it may be included (kept across passes)
  std::size_t expanded = 0;        ///< bytes that ${NAME} expansion inserted in this pass

  ScriptState script = ScriptState::none;
  std::string lex_delimiter;
  bool skip_delimiter_test = false;  ///< re-reading a text that did not match the delimiter

  std::vector<CondLevel> conds;    ///< open conditionals, outermost first
  int false_conds = 0;             ///< how many of them hold 0

  int setonly = 0;
  int parsewarns = 0;
  option_table options;            ///< the program's own options, for set()
  ParseTrace trace;
  ParseContext ctx;
  PrepRequests prep;
  long long wantval = 0;  ///< the last want_value as a version number
  std::string wantmsg;

  std::deque<std::string> texts;   ///< the texts of STRING tokens, alive for the pass

  /// Keeps `s` for the rest of the pass; the parser passes it by pointer.
  const std::string* keep(std::string s) { return &texts.emplace_back(std::move(s)); }
  /// The line and file that messages name now.
  int msg_line() const { return at_statement ? stmt_line : linenum; }
  const std::string& msg_file() const { return at_statement && stmt_file ? *stmt_file : filenm; }
  /// True when statements act: every open conditional holds.
  bool condtrue() const { return false_conds == 0; }
  /// True when a model-building statement acts (second pass, condition true).
  bool acts() const { return !setonly && condtrue(); }
};

extern CtlReader ctl;

/// Runs one pass over `text` as if it were the control file `name`, without
/// entering the dist directory; returns the parse warnings. Ends the run
/// (run_exit) on a failed parse, like parse_control_file.
int parse_text(const std::string& name, std::string_view text, int setonly, option_table options);

/// Pushes the file `name` on the input stack (relative names are taken from
/// the directory of the file being read); reports failures and goes on.
void include_file(CtlReader& rd, const std::string& name);

/// The conditional stack.
void condset(CtlReader& rd, int value);
/// Inverts the innermost level; non-zero (after yyerror) when none is open.
int condelse(CtlReader& rd);
/// Closes the innermost level; non-zero (after yyerror) when none is open.
int condend(CtlReader& rd);

/// "\nERROR: <file> line <n>: <msg>\n" on standard error; counts nothing.
void ctl_yyerror(CtlReader& rd, const char* msg);

/// Counted error "<file> line <n>: <text>" (the file name kept on one line).
void ctl_error(CtlReader& rd, const char* format, ...) CORVANE_PRINTF(2, 3);
/// Counted warning of the same form.
void ctl_warning(CtlReader& rd, const char* format, ...) CORVANE_PRINTF(2, 3);

/// Messages from now on name this statement end (called before each action).
inline void ctl_statement_at(CtlReader& rd, int line, const std::string* file) {
  rd.at_statement = true;
  rd.stmt_line = line;
  rd.stmt_file = file;
}
/// Messages from now on name the position being read.
inline void ctl_live_position(CtlReader& rd) { rd.at_statement = false; }

/// Runs the parser over the prepared input; non-zero when the parse failed.
int ctl_run_parser(CtlReader& rd, bool trace);
