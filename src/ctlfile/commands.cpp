// print, exec, sh and script: they act in the second pass, in file order,
// at the moment the statement is read; a failed command ends the run.
#include "ctlfile/commands.hpp"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "backend/backend.hpp"
#include "common/diag.hpp"
#include "model/settings.hpp"

namespace {

/// The command's exit code; a command killed by a signal counts as
/// 128 + the signal, so that it is never taken for a success.
int run_command(const std::string& cmd) {
  std::fflush(stdout);
  std::fflush(stderr);
  int r = std::system(cmd.c_str());
  if (r == -1) {
    perror_label("\nsystem");
    return -1;
  }
  if (WIFEXITED(r)) return WEXITSTATUS(r);
  if (WIFSIGNALED(r)) return 128 + WTERMSIG(r);
  return r;
}

bool commands_act(const CtlReader& rd) { return rd.acts() && opts.dexec != PREP_OFF; }

/// True for a name the shell takes as a variable: a letter or '_', then
/// letters, digits and '_'.
bool shell_identifier(std::string_view name) {
  auto alpha = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; };
  if (name.empty() || !alpha(name[0])) return false;
  for (char c : name)
    if (!alpha(c) && !(c >= '0' && c <= '9')) return false;
  return true;
}

void add_variable(std::string& out, std::string_view name, std::string_view value) {
  out += name;
  out += '=';
  out += shell_quote(value);
  out += '\n';
}

/// The head of a script: the settings, the block's context and the macros
/// as shell variables.
std::string script_head(const CtlReader& rd) {
  std::string s = "#!/bin/ksh\n\n";
  add_variable(s, "CORVANE_BASEDIR", str_or_empty(opts.basedir));
  add_variable(s, "CORVANE_DISTDIR", str_or_empty(opts.distdir));
  add_variable(s, "CORVANE_PKGDIR", str_or_empty(opts.pkgdir));
  add_variable(s, "CORVANE_PRODUCT", str_or_empty(opts.prdcode));
  add_variable(s, "CORVANE_COMPONENT", str_or_empty(opts.cmpntcode));
  add_variable(s, "CORVANE_DESCRIPTION", str_or_empty(opts.description));
  add_variable(s, "CORVANE_VERSION", str_or_empty(opts.version));
  add_variable(s, "CORVANE_VENDOR", str_or_empty(opts.vendor));
  add_variable(s, "CORVANE_BACKEND", registry.backptr ? registry.backptr->name : "");
  if (rd.ctx.ctxkind == BlockKind::package) {
    add_variable(s, "CORVANE_THISPKG_SUBDIR", rd.ctx.third);
    add_variable(s, "CORVANE_THISPKG_DESC", rd.ctx.desc);
    add_variable(s, "CORVANE_THISPKG_NAME", rd.ctx.name);
  } else if (rd.ctx.ctxkind == BlockKind::component) {
    add_variable(s, "CORVANE_THISCMPNT_NAME", rd.ctx.name);
    add_variable(s, "CORVANE_THISCMPNT_DESC", rd.ctx.desc);
    add_variable(s, "CORVANE_THISCMPNT_VERSION", rd.ctx.third);
  }
  // Any other macro name would be run as shell code ("X;rm -rf ~;Y='v'").
  for (const varnode& m : opts.macros)
    if (shell_identifier(m.name)) add_variable(s, m.name, m.value);
  s += '\n';
  return s;
}

/// Writes `text` to a new executable file of its own in /tmp, created
/// exclusively so that no existing file or link is ever followed; `name`
/// is its name. Returns null, or the name of the call that failed with
/// errno as that call left it; a failed file is removed.
const char* write_temp_script(const std::string& text, std::string& name) {
  name = "/tmp/corvaneXXXXXX";
  const int fd = mkstemp(name.data());
  if (fd < 0) return "mkstemp";
  const char* failed = nullptr;
  if (FILE* f = fdopen(fd, "w")) {
    if (std::fwrite(text.data(), 1, text.size(), f) != text.size())
      failed = "fwrite";
    else if (std::fflush(f) != 0)
      failed = "fflush";
    else if (fchmod(fd, 0755) != 0)
      failed = "fchmod";
    const int err = errno;
    if (std::fclose(f) != 0 && !failed)
      failed = "fclose";
    else
      errno = err;
  } else {
    failed = "fdopen";
    close(fd);
  }
  if (failed) {
    const int err = errno;
    unlink(name.c_str());
    errno = err;
  }
  return failed;
}

}  // namespace

std::string shell_quote(std::string_view text) {
  std::string q = "'";
  for (char c : text) {
    if (c == '\'')
      q += "'\\''";
    else
      q += c;
  }
  q += '\'';
  return q;
}

void act_print(CtlReader& rd, const std::string& text) {
  if (!rd.acts()) return;
  std::fputs("   ", stdout);
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void act_exec(CtlReader& rd, const std::string& text) {
  if (!commands_act(rd)) return;
  if (int status = run_command(text); status != 0) {
    ctl_error(rd, "exec(%c%s%c) failed with %d.\n", SECT_MARK, text.c_str(), SECT_MARK, status);
    exit_run(1);
  }
}

void act_sh(CtlReader& rd, const std::string& text) {
  if (!commands_act(rd)) return;
  const std::string cmd = "/bin/ksh -c " + shell_quote(text);
  if (int status = run_command(cmd); status != 0) {
    ctl_error(rd, "system(%c%s%c) failed with %d.\n", SECT_MARK, cmd.c_str(), SECT_MARK, status);
    exit_run(1);
  }
}

bool act_script_delimiter(CtlReader& rd, const std::string& delimiter) {
  if (delimiter.empty()) {
    ctl_yyerror(rd, "the delimiter of a script body must not be empty");
    return false;
  }
  if (delimiter.size() > MAX_DELIMITER) {
    std::string msg = message_text("script delimiter `%s' is longer than %zu characters",
                                   delimiter.c_str(), MAX_DELIMITER);
    ctl_yyerror(rd, msg.c_str());
    return false;
  }
  rd.lex_delimiter = delimiter;
  rd.script = ScriptState::delimiter_set;
  return true;
}

void act_script(CtlReader& rd, const std::string& delimiter, const std::string& body) {
  rd.lex_delimiter.clear();
  rd.script = ScriptState::none;
  if (!commands_act(rd)) return;
  std::string name;
  if (const char* failed = write_temp_script(script_head(rd) + body, name)) {
    perror_label(failed);
    ctl_error(rd, "failed to create temp script file `%s'.\n", name.c_str());
    exit_run(1);
  }
  if (int status = run_command(name); status != 0) {
    ctl_error(rd, "exec(%c%s%c) failed with %d.\n", SECT_MARK, delimiter.c_str(), SECT_MARK,
              status);
    exit_run(1);
  }
  unlink(name.c_str());
}
