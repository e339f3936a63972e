// Runs a command and reports what it cost, to the microsecond, which the
// shell's tools do not: bench/shapes.sh times runs of a tenth of a second.
//   timerun OUT SECONDS COMMAND [ARG...]
// The command's standard output and error go to /dev/null. One line is
// appended to OUT: elapsed seconds, processor seconds (user and system),
// peak resident kilobytes and the exit status (128 + signal when killed).
// A command still running after SECONDS is killed.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

pid_t child = 0;

void kill_child(int) {
  if (child > 0) kill(child, SIGKILL);
}

double seconds(const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: timerun OUT SECONDS COMMAND [ARG...]\n");
    return 2;
  }
  const char* out = argv[1];
  const unsigned limit = static_cast<unsigned>(std::atoi(argv[2]));
  const auto start = std::chrono::steady_clock::now();
  child = fork();
  if (child < 0) {
    std::perror("timerun: fork");
    return 1;
  }
  if (child == 0) {
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
      dup2(null, 1);
      dup2(null, 2);
      close(null);
    }
    execvp(argv[3], argv + 3);
    _exit(127);
  }
  struct sigaction sa {};
  sa.sa_handler = kill_child;
  sigaction(SIGALRM, &sa, nullptr);
  if (limit > 0) alarm(limit);
  int status = 0;
  rusage use{};
  while (wait4(child, &status, 0, &use) < 0) {
    if (errno != EINTR) {
      std::perror("timerun: wait4");
      return 1;
    }
  }
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  FILE* f = std::fopen(out, "a");
  if (!f) {
    std::perror(out);
    return 1;
  }
  std::fprintf(f, "%.6f %.6f %ld %d\n", wall, seconds(use.ru_utime) + seconds(use.ru_stime), use.ru_maxrss,
               code);
  return std::fclose(f) == 0 ? 0 : 1;
}
