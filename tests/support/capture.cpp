#include "support/capture.hpp"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace testutil {

CaptureFd::CaptureFd(int fd) : fd_(fd) {
  std::fflush(stdout);
  std::fflush(stderr);
  char tmpl[] = "/tmp/corvane-capture-XXXXXX";
  int t = mkstemp(tmpl);
  path_ = tmpl;
  saved_ = dup(fd_);
  dup2(t, fd_);
  close(t);
}

CaptureFd::~CaptureFd() {
  std::fflush(stdout);
  std::fflush(stderr);
  dup2(saved_, fd_);
  close(saved_);
  unlink(path_.c_str());
}

std::string CaptureFd::text() {
  std::fflush(stdout);
  std::fflush(stderr);
  std::ifstream f(path_, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

}  // namespace testutil
