// Captures what the code under test writes to standard error (or any fd).
#pragma once

#include <string>

namespace testutil {

/// While alive, file descriptor `fd` (default: standard error) goes to a
/// temporary file; text() returns everything written so far.
class CaptureFd {
 public:
  explicit CaptureFd(int fd = 2);
  ~CaptureFd();
  CaptureFd(const CaptureFd&) = delete;
  CaptureFd& operator=(const CaptureFd&) = delete;
  std::string text();

 private:
  int fd_;
  int saved_;
  std::string path_;
};

}  // namespace testutil
