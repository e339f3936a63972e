// The run's settings: every option variable of the core, and the option
// record that drives the command line, the usage report and the control
// file's set. Each backend keeps its own settings beside its record.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "common/lists.hpp"

/// A text setting; nullopt until given.
using optstr = std::optional<std::string>;

// Values of a preparation switch, as the -I list leaves it.
/// -I was given with a control file but does not name it: it stays on.
inline constexpr int PREP_NOT_NAMED = -1;
/// Off: -I named it while a control file is read, or no control file and no -I.
inline constexpr int PREP_OFF = 0;
/// On: a control file is read and no -I was given; the file's statements ask for it.
inline constexpr int PREP_ON = 1;
/// -I named it without a control file: it runs on the whole tree before the scan.
inline constexpr int PREP_RUN = 2;

/// The settings of one run. Tests start fresh with `reset_settings()`.
struct Options {
  std::string cmdname;       ///< base name of the program as invoked
  optstr basedir;            ///< base directory (-d), normalised
  std::size_t basedirlen = 0;
  optstr distdir;            ///< basedir + "/dist"
  std::size_t distdirlen = 0;
  optstr prdcode;            ///< product code (-P)
  optstr cmpntcode;          ///< component code (-C); defaults to prdcode in lower case
  optstr description;        ///< product description (-D)
  optstr version;            ///< product version (-V)
  optstr ctlfile;            ///< control file (-p)
  optstr iglist;             ///< auto-preparation selection (-I)
  optstr pkgdir;             ///< output directory, set by the backend's optcheck
  varlist macros;            ///< the macro table (-M, define, CORVANE_BACKEND)

  int fmode = 0;  ///< -f: the dist tree is one package of one component
  int cmode = 0;  ///< -c: each dist subdirectory is its own component
  int imode = 0;  ///< -i: take mode, owner and group from the tree
  int mmode = 0;  ///< -m: keep manual page sources
  int Wmode = 0;  ///< -W: warnings do not stop the run
  int vmode = 0;  ///< -v: all files variable
  int smode = 0;  ///< -s: all files static
  int rmode = 0;  ///< -r: all files early
  int Nmode = 0;  ///< -N: no automatic dependency completion

  // Preparation switches, each one of the PREP_* values above.
  int autotessel = PREP_NOT_NAMED;  ///< automatic manual-page formatting (-I automan)
  int autotexi = PREP_NOT_NAMED;    ///< automatic Info compression (-I autotexi)
  int autostrip = PREP_NOT_NAMED;   ///< stripping objects and their comment sections (-I autostrip)
  int dtessel = PREP_NOT_NAMED;     ///< the control file's format_mansource() (-I tessel)
  int dtexi = PREP_NOT_NAMED;       ///< the control file's compress_texinfo() (-I texinfo)
  int dexec = PREP_NOT_NAMED;       ///< the control file's exec() and script() (-I exec)

  /// The default vendor: the KEST backend's -E, the control file's
  /// vendor() statement; read as ${CORVANE_VENDOR} and by the writers.
  optstr vendor;
};

extern Options opts;

/// Puts every setting back to its initial value.
void reset_settings();

/// The text of a setting, "" when never given.
inline const std::string& str_or_empty(const optstr& s) {
  static const std::string empty;
  return s ? *s : empty;
}

/// Command-line handler: (letter, words left after the option, first argument
/// word, target) -> words consumed, or negative for a usage error.
using opt_handler = int (*)(int letter, int nleft, char** args, void* target);
/// Control-file setter: (letter, value, target) -> 0, or non-zero for an invalid value.
using opt_setter = int (*)(int letter, const char* value, void* target);

/// One row of an option table.
struct option {
  std::int32_t letter;   ///< the letter; negative marks an optional option (letter = -value % 256)
  const char* name;      ///< long name
  int nargs;             ///< argument words taken (sign ignored)
  opt_handler handler;
  void* target;
  const char* argname;   ///< "" when the option takes no argument
  const char* help;
  opt_setter setter;     ///< null: cannot be set from the control file
};
using option_table = std::span<const option>;

/// The option's letter as printed.
inline char option_letter(const option& o) {
  return static_cast<char>(o.letter < 0 ? (-o.letter) % 256 : o.letter);
}
inline bool option_optional(const option& o) { return o.letter < 0; }

// Generic handlers and setters shared by every option table. The int
// ones take an int target, the int64 ones a std::int64_t target.
int opt_setint_1(int letter, int nleft, char** args, void* target);
int opt_setint(int letter, int nleft, char** args, void* target);
int opt_setint64(int letter, int nleft, char** args, void* target);
int opt_setstr(int letter, int nleft, char** args, void* target);
int opt_setstrval(int letter, const char* value, void* target);
int opt_setintval(int letter, const char* value, void* target);
int opt_setint64val(int letter, const char* value, void* target);

/// The row of `table` with long name `name`, or null.
const option* find_option(option_table table, const char* name);

/// What came of setting an option from the control file.
enum class set_result {
  done,
  unknown,        ///< no such option, or one the control file cannot set
  invalid_value,  ///< the option refused the value
};
/// Sets the option of `row` (null when no table has it) to `value`, as the
/// control file's set statement does.
set_result set_option(const option* row, const char* value);

/// Reads an integer in decimal, octal (leading 0) or hexadecimal (0x); false when
/// the text is not wholly a number or out of range.
bool parse_int(const char* text, long long& value);
