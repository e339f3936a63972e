// The command line, the option checks and the usage report. One table row
// drives these and the control file's set statement (which finds the row
// through the table the driver passes to the reader), so an option exists
// everywhere at once.
#include "driver/options.hpp"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "backend/backend.hpp"
#include "common/abspath.hpp"
#include "common/diag.hpp"
#include "common/fileio.hpp"
#include "common/strutil.hpp"
#include "common/version.hpp"

namespace {

// -B
constexpr const char* help_B =
    "Select the backend driver called NAME as the output driver. See above for the list of possible back-end driver names.";
// -d
constexpr const char* help_d =
    "Sets DIR as the base directory from which all files will be processed, and which will contain all of the generated packaging files. Some backend drivers may place the output files in a separate directory under this directory. At the very least, this directory should contain a directory called dist/, which is the root of the distribution tree.";
// -P
constexpr const char* help_P =
    "Sets the product code to PROD. How this code is used varies according to each backend driver.";
// -C
constexpr const char* help_C =
    "Sets the component code to CMPNT. How this code is used varies according to each backend driver.";
// -D
constexpr const char* help_D =
    "Sets the description for this product to the specified STRING. Various backend drivers will use this value in different ways, most frequently as the contents of a description macro or as the description field in the output format. This should be a short description, probably no more than 50 characters, although this varies from backend to backend.";
// -V
constexpr const char* help_V =
    "Set the product version to the specified STRING. The value of the STRING must be valid for the chosen backend driver. Each backend driver uses this value differently.";
// -p
constexpr const char* help_p =
    "Sets the name of the control file to use. This file contains programmatic instructions on how to deal with the product. See the User Guide for details.";
// -f
constexpr const char* help_f =
    "If your distribution contains no subpackages and is just a normal installable tree, then set this mode. Only one component with one package will be created.";
// -c
constexpr const char* help_c =
    "Treat each subdirectory in the distribution direction as the root of a new component, which will contain a single package of the same name as the directory. The default is to treat each subdirectory as a new package in a single component.";
// -i
constexpr const char* help_i =
    "Assume that the files and directories in the distribution directory all have the correct mode, owner and group settings. By default, the backend driver will attempt to guess the correct permissions and ownership setting for each file encountered.";
// -m
constexpr const char* help_m =
    "By default, only preformatted manual pages are included in the final distribution. This option forces the manual page source files to be included as well.";
// -W
constexpr const char* help_W =
    "Ignore any warning messages displayed during the processing of the distribution directory and control file and force the creation of package files.";
// -M
constexpr const char* help_M =
    "Set the global macro NAME to have the specified VALUE. If no VALUE is specified, then the default value assigned is 1.";
// -I
constexpr const char* help_I =
    "This option has different meanings depending on whether or not a control file is being used. If a control file is being used, then the LIST specifies the list of auto-preparation phases to ignore, even if they were set in the control file. If a control file is not being used, then it specifies the list of auto-preparation functions to execute before beginning distribution tree scanning. LIST is a comma separated list of the following functions:\n\tautoman - do [not] automatically format manual pages\n\tautotexi - do [not] automatically compress TeXinfo files\n\tautostrip - do [not] strip and mcs executable and object files\n\ttessel - do [not] obey explicit directory tessel directives\n\ttexinfo - do [not] obey explicit directory texi directives\n\texec - do not obey exec and script directives\n\tall - all of the above";
// -v
constexpr const char* help_v =
    "By default, the backend driver will attempt to discern the correct disposition for files and directories. This option will force all files found to be treated as `variable' files, or files that can be modified by the user.";
// -s
constexpr const char* help_s =
    "By default, the backend driver will attempt to discern the correct disposition for files and directories. This option will force all files found to be treated as `static' files, or files that the user is not expected to change.";
// -r
constexpr const char* help_r =
    "By default, the backend driver will attempt to determine the correct availability sequencing for a file. The control file can set specific sequencing for files and directories too. This option will instruct the backend to make all files availble early, if that is supported by the backed.";
// -X
constexpr const char* help_X =
    "Turn on debugging. This options sets the debug LEVEL. The higher the number, the more verbose the debug output. You must also specify the name of a FILE to store the debugging information in.";
// -N
constexpr const char* help_N =
    "By default, Corvane will automatically insert sibling and child dependencies, to make it easier to set up correct dependency graphs. This option will disable this feature, which means that your control script will need to manually list all dependencies.";
// -?
constexpr const char* help_q =
    "Displays this usage message.";

int opt_directory(int, int, char** args, void*) {
  opts.basedir = std::string(args[0]);
  std::optional<std::string> norm = abspath(args[0]);
  if (!norm) usage("ERROR: Base path `%s' invalid", opts.basedir->c_str());
  opts.basedir = *norm;
  opts.basedirlen = norm->size();
  opts.distdir = *norm + "/" + "dist";
  opts.distdirlen = opts.distdir->size();
  return 1;
}

// Both passes over the control file open it, the second after the checks
// have entered the dist directory: a relative name is taken from the
// directory the program was started in, once, here. An empty name stays
// empty for the checks to refuse.
int opt_ctlfile(int, int, char** args, void*) {
  std::optional<std::string> abs = *args[0] ? abspath(args[0]) : std::nullopt;
  opts.ctlfile = abs ? *abs : std::string(args[0]);
  return 1;
}

int opt_setmacro(int, int, char** args, void*) {
  std::string_view arg(args[0]);
  auto eq = arg.find('=');
  if (eq == std::string_view::npos)
    add_varlist(arg, "1", opts.macros);
  else
    add_varlist(arg.substr(0, eq), arg.substr(eq + 1), opts.macros);
  return 1;
}

int opt_backend(int, int, char** args, void*) {
  if (registry.backptr) info("auto-detected backend driver replaced by command line option.\n");
  const backend* b = find_backend(args[0]);
  if (!b) usage("Invalid backend driver `%s' specified.", args[0]);
  set_backend(b);
  return 1;
}

int opt_setdebug(int, int, char** args, void*) {
  long long level;
  if (!parse_int(args[0], level) || level < INT_MIN || level > INT_MAX)
    usage("Invalid debug level `%s' specified", args[0]);
  if (!args[1] || !*args[1]) usage("Invalid debug file name specified");
  set_debug(static_cast<int>(level), args[1]);
  return 2;
}

int opt_usage(int, int, char**, void*) { usage(nullptr); }

// Letters of optional options are stored negated.
constexpr std::int32_t opt(char c) { return -static_cast<std::int32_t>(static_cast<unsigned char>(c)); }

const option global_rows[] = {
    {'B', "backend", 1, opt_backend, nullptr, "NAME", help_B, nullptr},
    {'d', "directory", 1, opt_directory, &opts.basedir, "DIR", help_d, nullptr},
    {'P', "product-code", 1, opt_setstr, &opts.prdcode, "PROD", help_P, opt_setstrval},
    {'C', "component-code", 1, opt_setstr, &opts.cmpntcode, "CMPNT", help_C, opt_setstrval},
    {'D', "description", 1, opt_setstr, &opts.description, "STRING", help_D, opt_setstrval},
    {'V', "version", 1, opt_setstr, &opts.version, "STRING", help_V, opt_setstrval},
    {opt('p'), "control-file", 1, opt_ctlfile, &opts.ctlfile, "FILE", help_p, nullptr},
    {opt('f'), "flat-mode", 0, opt_setint_1, &opts.fmode, "", help_f, opt_setintval},
    {opt('c'), "component-mode", 0, opt_setint_1, &opts.cmode, "", help_c, opt_setintval},
    {opt('i'), "installed-perms", 0, opt_setint_1, &opts.imode, "", help_i, opt_setintval},
    {opt('m'), "include-man-source", 0, opt_setint_1, &opts.mmode, "", help_m, opt_setintval},
    {opt('W'), "ignore-warnings", 0, opt_setint_1, &opts.Wmode, "", help_W, nullptr},
    {opt('M'), "set-macro", 1, opt_setmacro, &opts.macros, "NAME[=VALUE]", help_M, nullptr},
    {opt('I'), "prep-funcs", 1, opt_setstr, &opts.iglist, "LIST", help_I, nullptr},
    {opt('v'), "all-variable", 0, opt_setint_1, &opts.vmode, "", help_v, opt_setintval},
    {opt('s'), "all-static", 0, opt_setint_1, &opts.smode, "", help_s, opt_setintval},
    {opt('r'), "all-early", 0, opt_setint_1, &opts.rmode, "", help_r, opt_setintval},
    {opt('X'), "debug-level", 2, opt_setdebug, nullptr, "LEVEL FILE", help_X, nullptr},
    {opt('N'), "no-auto-deps", 0, opt_setint_1, &opts.Nmode, "", help_N, opt_setintval},
    {opt('?'), "help", 0, opt_usage, nullptr, "", help_q, nullptr},
};

// The row for a long name (exact) or a short letter, global table first,
// then the selected backend's.
const option* find_option_row(const char* name, char letter) {
  auto matches = [&](const option& o) {
    return name ? (o.name && std::strcmp(o.name, name) == 0) : option_letter(o) == letter;
  };
  for (const option& o : globalopts)
    if (matches(o)) return &o;
  if (registry.backptr)
    for (const option& o : registry.backptr->opts)
      if (matches(o)) return &o;
  return nullptr;
}

}  // namespace

const option_table globalopts(global_rows);

void process_options(int argc, char** argv) {
  // Words are worked on in a copy: a long option's "=" is cut, and an
  // attached value takes the option word's place.
  std::vector<std::string> store(argv, argv + argc);
  std::vector<char*> words;
  for (std::string& s : store) words.push_back(s.data());
  words.push_back(nullptr);

  int i = 1;
  while (i < argc) {
    char* word = words[i];
    if (word[0] != '-') break;
    const char* attached = nullptr;
    const option* row;
    if (word[1] == '-') {
      if (char* eq = std::strchr(word, '=')) {
        *eq = '\0';
        attached = eq + 1;
      }
      row = find_option_row(word + 2, 0);
      if (!row) usage("ERROR: Unknown option: %s\n", word);
    } else {
      row = word[1] ? find_option_row(nullptr, word[1]) : nullptr;
      if (!row && !word[1]) usage("ERROR: Unknown option: -\n");
      if (!row) usage("ERROR: Unknown option: -%c\n", word[1]);
      if (word[1] && word[2]) attached = word + 2;
    }
    const int nargs = row->nargs < 0 ? -row->nargs : row->nargs;
    const char letter = option_letter(*row);
    int first = i + 1;  // index of the first argument word
    if (nargs != 0) {
      if (attached) {
        words[i] = const_cast<char*>(attached);
        first = i;
      }
      if (first >= argc || words[first][0] == '-')
        usage("ERROR: Option -%c (%s) requires an argument.\n", letter, row->name);
      if (argc - first < nargs)
        usage("ERROR: Too few arguments to option %c (%s)\n", letter, row->name);
    }
    int consumed = 0;
    if (row->handler) {
      consumed = row->handler(letter, argc - first, &words[first], row->target);
      if (consumed < 0) usage(nullptr);
    }
    i = first + consumed;
  }
}

namespace {

void check_control_file() {
  const std::string& f = *opts.ctlfile;
  if (f.empty()) {
    error("Invalid control file (-p) specified.\n");
    return;
  }
  if (access(f.c_str(), R_OK) != 0)
    error("Can't read control file `%s'. Try specifying an absolute path, as the program often "
          "changes directories.\n",
          f.c_str());
  UniqueFile fp(f.c_str(), "r");
  if (!fp) {
    perror_label("\nfopen");
    error("cannot open control file `%s' for reading.\n", f.c_str());
  }
}

// The -I list names preparation steps; with a control file it switches
// them off, without one it asks for them.
void set_prep_switches() {
  const int on = opts.ctlfile ? PREP_ON : PREP_OFF;
  if (!opts.iglist) {
    for (int* s : {&opts.autotessel, &opts.autotexi, &opts.autostrip, &opts.dtessel, &opts.dtexi,
                   &opts.dexec})
      *s = on;
    return;
  }
  const int v = opts.ctlfile ? PREP_OFF : PREP_RUN;
  const std::string& list = *opts.iglist;
  auto named = [&](const char* w) { return list.find(w) != std::string::npos; };
  if (named("all"))
    for (int* s : {&opts.autotessel, &opts.autotexi, &opts.autostrip, &opts.dtessel, &opts.dtexi,
                   &opts.dexec})
      *s = v;
  if (named("automan")) opts.autotessel = v;
  if (named("autotexi")) opts.autotexi = v;
  if (named("autostrip")) opts.autostrip = v;
  if (named("tessel")) opts.dtessel = v;
  if (named("texinfo")) opts.dtexi = v;
  if (named("exec")) opts.dexec = v;
}

void enter_dist_directory() {
  if (!opts.basedir || opts.basedir->empty()) {
    error("no base directory (-d) specified.\n");
    return;
  }
  if (chdir(opts.basedir->c_str()) != 0) {
    error("can't change to directory `%s'.\n", opts.basedir->c_str());
    return;
  }
  if (chdir(opts.distdir->c_str()) != 0)
    error("cant change to directory `%s'.\n", opts.distdir->c_str());
}

bool unset_or_empty(const optstr& s) { return !s || s->empty(); }

}  // namespace

void verify_options() {
  if (opts.ctlfile) check_control_file();
  set_prep_switches();
  if (!registry.backptr) error("no backend selected. Please use the -B option to select one.\n");
  enter_dist_directory();
  if (unset_or_empty(opts.prdcode)) error("product code (-P) not specified or empty.\n");
  if (!opts.cmpntcode && opts.prdcode) opts.cmpntcode = strlower(*opts.prdcode);
  if (unset_or_empty(opts.cmpntcode)) error("component code (-C) not specified or empty.\n");
  if (unset_or_empty(opts.version)) error("product version (-V) not specified or empty.\n");
  if (unset_or_empty(opts.description))
    error("product description (-D) not specified or empty.\n");
  if (opts.vmode && opts.smode) error("cannot specify both -v and -s.\n");
  if (diag.errors) exit_run(1);
  if (registry.backptr->optcheck) registry.backptr->optcheck();
  if (diag.errors) exit_run(1);
  info("using base directory `%s'.\n", opts.basedir->c_str());
  info("using dist directory `%s'.\n", opts.distdir->c_str());
  info("using output directory `%s'.\n", str_or_empty(opts.pkgdir).c_str());
}

int printopts(option_table table, int col, bool brief) {
  for (const option& o : table) {
    const bool optional = option_optional(o);
    const bool takes = o.nargs != 0;
    const char letter = option_letter(o);
    if (brief) {
      std::string entry = strprintf(" %s-%c%s%s%s", optional ? "[" : "", letter, takes ? " " : "",
                                    takes ? o.argname : "", optional ? "]" : "");
      if (col + int(entry.size()) >= diag.columns - 1) {
        std::fputs("\n   ", stderr);
        col = 3;
      }
      std::fputs(entry.c_str(), stderr);
      col += int(entry.size());
    } else {
      const char* sep = takes ? " " : "";
      const char* arg = takes ? o.argname : "";
      std::fprintf(stderr, "-%c%s%s / --%s%s%s %s\n", letter, sep, arg, o.name, sep, arg,
                   optional ? "(optional)" : "(required)");
      std::fputs("   ", stderr);
      col = jprintf(3, 3, stderr, "%s", o.help);
      std::fputs("\n\n", stderr);
    }
  }
  return col;
}

void usage(const char* format, ...) {
  if (format) {
    va_list ap;
    va_start(ap, format);
    std::vfprintf(stderr, format, ap);
    va_end(ap);
  }
  int col = std::fprintf(stderr, "Usage: %s", opts.cmdname.c_str());
  printopts(globalopts, col, true);
  const int n = int(registry.backends.size());
  std::fprintf(stderr, "\n\nThere %s %d backend%s defined:\n", n == 1 ? "is" : "are", n,
               plural(n));
  for (const backend* b : registry.backends)
    std::fprintf(stderr, "  %-10s   %s\n", b->name, b->desc);
  std::fputs("\n", stderr);
  for (const backend* b : registry.backends) {
    if (b->opts.empty()) continue;
    col = std::fprintf(stderr, "Backend `%s' options:", b->name);
    printopts(b->opts, col, true);
    std::fputs("\n\n", stderr);
  }
  std::fputs("Full usage information:\n", stderr);
  printopts(globalopts, 1, false);
  for (const backend* b : registry.backends) {
    if (b->opts.empty()) continue;
    std::fprintf(stderr, "Backend `%s' full usage:\n", b->name);
    printopts(b->opts, 1, false);
  }
  std::fprintf(stderr, "Corvane version: %s\n", CORVANE_VER);
  for (const backend* b : registry.backends)
    std::fprintf(stderr, "   Backend `%s' version: %s\n", b->name, b->verstr);
  exit_run(2);
}
