#include "common/stdstreams.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "common/diag.hpp"

void guard_standard_streams() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // Opened for reading only: writes to it fail as they would on the
    // closed stream. open() takes the lowest free number, which is `fd`.
    const int got = open("/dev/null", O_RDONLY);
    if (got >= 0 && got != fd) close(got);
  }
}

bool standard_output_ok() {
  const bool flushed = std::fflush(stdout) == 0;
  if (flushed && !std::ferror(stdout)) return true;
  error("failed to write to standard output.\n");
  std::clearerr(stdout);
  return false;
}
