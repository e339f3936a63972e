#include "prep/shellcmd.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

extern char** environ;

namespace {

bool shell_safe(char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return std::strchr("_./+,:=@%^-", c) != nullptr && c != '\0';
}

// One /bin/sh -c `command`, its standard input and output optionally
// replaced by pipe ends; returns the child's pid or -1.
pid_t spawn_shell(const std::string& command, const char* cwd, int in_fd, int out_fd,
                  int close_fd) {
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  if (cwd) posix_spawn_file_actions_addchdir_np(&fa, cwd);
  if (in_fd >= 0) posix_spawn_file_actions_adddup2(&fa, in_fd, 0);
  if (out_fd >= 0) posix_spawn_file_actions_adddup2(&fa, out_fd, 1);
  if (in_fd >= 0) posix_spawn_file_actions_addclose(&fa, in_fd);
  if (out_fd >= 0) posix_spawn_file_actions_addclose(&fa, out_fd);
  if (close_fd >= 0) posix_spawn_file_actions_addclose(&fa, close_fd);
  const char* argv[] = {"sh", "-c", command.c_str(), nullptr};
  pid_t pid = -1;
  int rc = posix_spawn(&pid, "/bin/sh", &fa, nullptr, const_cast<char**>(argv), environ);
  posix_spawn_file_actions_destroy(&fa);
  return rc == 0 ? pid : -1;
}

int wait_status(pid_t pid) {
  if (pid < 0) return 127;
  int st = 0;
  while (waitpid(pid, &st, 0) < 0) {
    if (errno != EINTR) return 127;
  }
  if (WIFEXITED(st)) return WEXITSTATUS(st);
  if (WIFSIGNALED(st)) return 128 + WTERMSIG(st);
  return 127;
}

}  // namespace

std::string shell_word(std::string_view text) {
  bool safe = !text.empty();
  for (char c : text) safe = safe && shell_safe(c);
  if (safe) return std::string(text);
  std::string r = "'";
  for (char c : text) {
    if (c == '\'') r += "'\\''";
    else r += c;
  }
  r += '\'';
  return r;
}

int run_shell(const std::string& command, const char* cwd) {
  // What this process printed so far must come before the command's output.
  std::fflush(stdout);
  std::fflush(stderr);
  return wait_status(spawn_shell(command, cwd, -1, -1, -1));
}

int run_shell_pipeline(const std::string& left, const std::string& right, const char* cwd) {
  std::fflush(stdout);
  std::fflush(stderr);
  int p[2];
  if (pipe2(p, O_CLOEXEC) != 0) return 127;
  pid_t lpid = spawn_shell(left, cwd, -1, p[1], p[0]);
  pid_t rpid = spawn_shell(right, cwd, p[0], -1, p[1]);
  close(p[0]);
  close(p[1]);
  int lst = wait_status(lpid);
  int rst = wait_status(rpid);
  return rst != 0 ? rst : lst;
}
