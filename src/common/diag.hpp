// Reporting for both programs: four counted or printed report kinds, a
// fatal report, a debug stream, and the word-wrapping writer they share.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>
#include <string_view>

/// Byte that, as the first byte of a format, continues the last report of
/// the same kind on the line it left open.
inline constexpr char CONT_MARK = '\x01';
/// A pair of these bytes encloses text that must stay on one line.
inline constexpr char SECT_MARK = '\x02';

/// The reporting state of a run: one per process, `diag`, defined in
/// diag.cpp; reset_diagnostics() puts it back.
struct Diagnostics {
  int errors = 0;     ///< error reports so far (continuations not counted)
  int warnings = 0;   ///< warning reports so far
  int columns = 80;   ///< output width used by jprintf
  int lasttype = -1;  ///< -1 none yet, 0 error, 1 warning, 2 info
  int kindcol[3] = {0, 0, 0};  ///< column where the last report of each kind ended
  FILE* dbgfile = nullptr;     ///< debug stream; null means debugging is off
  int dbglevel = 0;            ///< debug threshold
};

extern Diagnostics diag;

/// Closes the debug file and puts the reporting state back to its start.
void reset_diagnostics();

/// Thrown to end the run with a status; main() catches it and returns the
/// status, tests catch it to check what was reported.
struct run_exit {
  int status;
};

/// Ends the run with `status` (throws run_exit).
[[noreturn]] void exit_run(int status);

#define CORVANE_PRINTF(f, a) __attribute__((format(printf, f, a)))

/// printf-style formatting into a std::string of any length.
std::string strprintf(const char* format, ...) CORVANE_PRINTF(1, 2);
/// The same on a va_list.
std::string vstrprintf(const char* format, va_list ap);
/// A message text composed before it is printed by other means than the
/// reporters (a parse error): formatted as the reporters format, every
/// control character of an argument text escaped, the format's own kept.
std::string message_text(const char* format, ...) CORVANE_PRINTF(1, 2);
/// The same on a va_list.
std::string vmessage_text(const char* format, va_list ap);
/// `text` with every control character (below 0x20, and 0x7f) written as
/// \n, \t or \xHH: how messages show names.
std::string escape_controls(std::string_view text);

/// Prints "FATAL:" and the message, then ends the run with status 1.
[[noreturn]] void fatal(const char* format, ...) CORVANE_PRINTF(1, 2);
// The reporters format like printf, but every control character that an
// argument text brings is escaped (see escape_controls); the format's own
// newlines and tabs, and CONT_MARK or SECT_MARK passed as %c, keep their
// meaning.

/// Counted error report.
void error(const char* format, ...) CORVANE_PRINTF(1, 2);
/// Counted warning report.
void warning(const char* format, ...) CORVANE_PRINTF(1, 2);
/// Informational report, not counted.
void info(const char* format, ...) CORVANE_PRINTF(1, 2);

/// The kinds of report that report_at makes.
enum class report_kind { error, warning, info };
/// A report of `kind` (counted as error() and warning() count) whose text
/// is `prefix` followed by the formatted text. The prefix is taken as it
/// stands, so it must already be safe: a place such as "file line N: "
/// whose name the caller escaped. Never a continuation.
void report_at(report_kind kind, std::string_view prefix, const char* format, va_list ap);
/// Writes the text unchanged to the debug file when `level` <= the debug level.
void debug(int level, const char* format, ...) CORVANE_PRINTF(2, 3);
/// True when debug(level, ...) would write anything; lets hot paths skip formatting.
bool debug_on(int level);
/// Opens `path` as the debug file (ends the run with status 1 if it cannot).
void set_debug(int level, const char* path);
/// Closes the debug file, if one is open.
void close_debug();

/// Writes the formatted text to `stream` word-wrapped to diag.columns,
/// starting at column `col` (1 = fresh line) with continuation indent
/// `indent`; returns the column where the output ended. Arguments are
/// inserted as they are: it lays out the program's own texts (the usage).
int jprintf(int col, int indent, FILE* stream, const char* format, ...) CORVANE_PRINTF(4, 5);
/// jprintf on an already formatted text.
int jputs(int col, int indent, FILE* stream, const std::string& text);

/// Prints the system error text for errno with a label such as "\nlstat",
/// as the system's error printer does ("\nlstat: No such file or directory").
void perror_label(const char* label);
