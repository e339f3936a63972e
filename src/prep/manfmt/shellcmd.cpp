#include "prep/shellcmd.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

extern char** environ;

namespace {

bool shell_safe(char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return std::strchr("_./+,:=@%^-", c) != nullptr && c != '\0';
}

// One /bin/sh -c `command`, its standard input and output optionally
// replaced (the descriptors given are close-on-exec, so the shell keeps
// only the copies); returns the child's pid or -1.
pid_t spawn_shell(const std::string& command, const char* cwd, int in_fd, int out_fd) {
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  if (cwd) posix_spawn_file_actions_addchdir_np(&fa, cwd);
  if (in_fd >= 0) posix_spawn_file_actions_adddup2(&fa, in_fd, 0);
  if (out_fd >= 0) posix_spawn_file_actions_adddup2(&fa, out_fd, 1);
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

/// While the relay writes, a reader that has gone is an error of write(),
/// not a signal that ends this process.
class SigpipeIgnored {
 public:
  SigpipeIgnored() {
    struct sigaction ign {};
    ign.sa_handler = SIG_IGN;
    sigemptyset(&ign.sa_mask);
    sigaction(SIGPIPE, &ign, &old_);
  }
  ~SigpipeIgnored() { sigaction(SIGPIPE, &old_, nullptr); }
  SigpipeIgnored(const SigpipeIgnored&) = delete;
  SigpipeIgnored& operator=(const SigpipeIgnored&) = delete;

 private:
  struct sigaction old_ {};
};

/// Copies what `from` gives to `to` until its end and returns how much it
/// gave. Once `to` has gone, the rest is read and dropped, so that the
/// writer is never left blocked on a full pipe.
std::uint64_t relay(int from, int to) {
  constexpr std::size_t chunk = 65536;
  std::vector<char> buf(chunk);
  std::uint64_t total = 0;
  bool reader_open = true;
  for (;;) {
    ssize_t n = read(from, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    total += static_cast<std::uint64_t>(n);
    for (ssize_t off = 0; reader_open && off < n;) {
      ssize_t w = write(to, buf.data() + off, static_cast<std::size_t>(n - off));
      if (w < 0 && errno == EINTR) continue;
      if (w < 0) reader_open = false;
      else off += w;
    }
  }
  return total;
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

std::string shell_operand(std::string_view path) {
  if (path.starts_with('-') || path.starts_with('@')) return shell_word("./" + std::string(path));
  return shell_word(path);
}

int run_shell(const std::string& command, const char* cwd) {
  // What this process printed so far must come before the command's output.
  std::fflush(stdout);
  std::fflush(stderr);
  return wait_status(spawn_shell(command, cwd, -1, -1));
}

PipelineResult run_shell_pipeline(const std::string& left, const std::string& right, const char* cwd) {
  std::fflush(stdout);
  std::fflush(stderr);
  PipelineResult r;
  int from_left[2], to_right[2];
  if (pipe2(from_left, O_CLOEXEC) != 0) {
    r.status = 127;
    return r;
  }
  if (pipe2(to_right, O_CLOEXEC) != 0) {
    close(from_left[0]);
    close(from_left[1]);
    r.status = 127;
    return r;
  }
  int null_in = open("/dev/null", O_RDONLY | O_CLOEXEC);
  pid_t lpid = spawn_shell(left, cwd, null_in, from_left[1]);
  pid_t rpid = spawn_shell(right, cwd, to_right[0], -1);
  if (null_in >= 0) close(null_in);
  close(from_left[1]);
  close(to_right[0]);
  {
    SigpipeIgnored guard;
    r.bytes = relay(from_left[0], to_right[1]);
  }
  close(from_left[0]);
  close(to_right[1]);
  int lst = wait_status(lpid);
  int rst = wait_status(rpid);
  r.status = rst != 0 ? rst : lst;
  return r;
}
