// One pass over the control file: setting up the input stack, including
// files, the conditional stack, and the messages that name file and line.
#include "ctlfile/reader.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "common/abspath.hpp"
#include "common/diag.hpp"
#include "ctlfile/ctlfile.hpp"
#include "model/settings.hpp"

CtlReader ctl;

namespace {

std::string base_name(const std::string& path) {
  auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string current_directory() {
  std::vector<char> buf(4096);
  while (!getcwd(buf.data(), buf.size())) {
    if (errno != ERANGE) return {};
    buf.resize(buf.size() * 2);
  }
  return buf.data();
}

// Opens `path` for reading as the next input level. A directory opens on
// most systems but cannot be read, so it is refused here with EISDIR.
bool open_level(const std::string& path, InputLevel& lv) {
  FILE* f = std::fopen(path.c_str(), "r");
  if (!f) return false;
  struct stat st;
  if (fstat(fileno(f), &st) == 0 && S_ISDIR(st.st_mode)) {
    std::fclose(f);
    errno = EISDIR;
    return false;
  }
  lv.abs = path;
  lv.stream.reset(f);
  return true;
}

bool same_file(FILE* a, FILE* b) {
  struct stat sa, sb;
  return a && b && fstat(fileno(a), &sa) == 0 && fstat(fileno(b), &sb) == 0 &&
         sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool inside_jail(const std::string& jail, const std::string& path) {
  return jail.empty() || (path.size() > jail.size() && path.compare(0, jail.size(), jail) == 0 &&
                          path[jail.size()] == '/');
}

// Conditionals left open when the input ends are reported at the line that
// opened them, so that a forgotten endif is found.
void warn_open_conditionals(CtlReader& rd) {
  for (const CondLevel& c : rd.conds) {
    warning("%c%s%c line %d: conditional is not closed by an endif at the end of the control "
            "file.\n",
            SECT_MARK, c.file.c_str(), SECT_MARK, c.line);
    ++rd.parsewarns;
  }
}

// Runs the parser; a syntax error, an aborted statement or a lexical error
// ends the run.
int run_pass(CtlReader& rd, const std::string& shown_name) {
  bool failed = ctl_run_parser(rd, std::getenv("CORVANE_DEBUG") != nullptr) != 0;
  if (failed || rd.lexfailed) {
    error("failed to parse `%s'\n", shown_name.c_str());
    exit_run(1);
  }
  warn_open_conditionals(rd);
  return rd.parsewarns;
}

void start_pass(CtlReader& rd, int setonly, option_table options, InputLevel&& top) {
  std::string jail = std::move(rd.include_jail);
  rd = CtlReader{};
  rd.include_jail = std::move(jail);
  rd.options = options;
  rd.filenm = base_name(top.abs);
  top.name = rd.keep(rd.filenm);
  rd.levels.push_back(std::move(top));
  rd.linenum = 1;
  rd.setonly = setonly;
}

// "<file> line <n>: ", the name escaped and kept on one line.
std::string message_place(const CtlReader& rd) {
  return strprintf("%c%s%c line %d: ", SECT_MARK, escape_controls(rd.msg_file()).c_str(),
                   SECT_MARK, rd.msg_line());
}

}  // namespace

void reset_ctlfile() { ctl = CtlReader{}; }

void ctl_error(CtlReader& rd, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  report_at(report_kind::error, message_place(rd), format, ap);
  va_end(ap);
}

void ctl_warning(CtlReader& rd, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  report_at(report_kind::warning, message_place(rd), format, ap);
  va_end(ap);
}

void ctl_yyerror(CtlReader& rd, const char* msg) {
  std::fflush(stdout);
  std::fprintf(stderr, "\nERROR: %s line %d: %s\n", escape_controls(rd.msg_file()).c_str(),
               rd.msg_line(), msg);
}

const char* ctlfilenm() { return ctl.msg_file().c_str(); }

int parse_control_file(int setonly, option_table options) {
  const std::string& given = str_or_empty(opts.ctlfile);
  const std::string cwd = current_directory();
  if (cwd.empty()) {
    perror_label("\ngetcwd");
    error("could not determine current working directory\n");
    exit_run(1);
  }
  auto abs = abspath(given);
  if (!abs) {
    error("could not determine absolute path of control file\n");
    exit_run(1);
  }
  InputLevel top;
  if (!open_level(*abs, top)) {
    perror_label("fopen");
    error("failed to open `%s'\n", abs->c_str());
    exit_run(1);
  }
  start_pass(ctl, setonly, options, std::move(top));
  const std::string& distdir = str_or_empty(opts.distdir);
  if (chdir(distdir.c_str()) != 0) {
    perror_label("chdir");
    error("could not change to directory `%s'\n", distdir.c_str());
    exit_run(1);
  }
  int warns = run_pass(ctl, given);
  ctl.levels.clear();
  if (chdir(cwd.c_str()) != 0) {
    perror_label("chdir");
    error("could not change to directory `%s'\n", cwd.c_str());
    exit_run(1);
  }
  return warns;
}

int parse_text(const std::string& name, std::string_view text, int setonly,
               option_table options) {
  InputLevel top;
  top.abs = abspath(name).value_or(name);
  top.mem = text;
  start_pass(ctl, setonly, options, std::move(top));
  int warns = run_pass(ctl, name);
  ctl.levels.clear();
  return warns;
}

void include_file(CtlReader& rd, const std::string& name) {
  if (rd.levels.size() >= static_cast<std::size_t>(MAX_NESTING)) {
    ctl_error(rd, "max nesting depth of %d exceeded for `%s'.\n", MAX_NESTING, name.c_str());
    return;
  }
  std::string path = name;
  if (name.empty() || name[0] != '/') {
    const std::string& cur = rd.levels.back().abs;
    path = cur.substr(0, cur.rfind('/') == std::string::npos ? 0 : cur.rfind('/')) + "/" + name;
  }
  auto abs = abspath(path);
  if (!abs) {
    error("could not determine absolute path of include file `%s'.\n", name.c_str());
    return;
  }
  // A file that includes itself would otherwise be read again at every
  // level, and a file including itself twice would be read 2^15 times.
  auto already_read = [&](const InputLevel& lv) {
    for (const InputLevel& open : rd.levels)
      if (open.abs == *abs || same_file(open.stream.get(), lv.stream.get())) return true;
    return false;
  };
  InputLevel lv;
  if (!already_read(lv) && (!inside_jail(rd.include_jail, *abs) || !open_level(*abs, lv))) {
    error("could not open include file '%c%s%c'.\n", SECT_MARK, abs->c_str(), SECT_MARK);
    return;
  }
  if (already_read(lv)) {
    ctl_error(rd, "include file `%s' is already being read; a file cannot include itself.\n",
              abs->c_str());
    return;
  }
  rd.levels.back().resume_line = rd.linenum;
  rd.filenm = base_name(*abs);
  lv.name = rd.keep(rd.filenm);
  rd.levels.push_back(std::move(lv));
  rd.linenum = 1;
}

void condset(CtlReader& rd, int value) {
  rd.conds.push_back({value, rd.msg_file(), rd.msg_line()});
  if (!value) ++rd.false_conds;
}

int condelse(CtlReader& rd) {
  if (rd.conds.empty()) {
    ctl_yyerror(rd, "unbalanced ELSE");
    return 1;
  }
  int& v = rd.conds.back().value;
  rd.false_conds += v ? 1 : -1;
  v = !v;
  return 0;
}

int condend(CtlReader& rd) {
  if (rd.conds.empty()) {
    ctl_yyerror(rd, "unbalanced ENDIF");
    return 1;
  }
  if (!rd.conds.back().value) --rd.false_conds;
  rd.conds.pop_back();
  return 0;
}
