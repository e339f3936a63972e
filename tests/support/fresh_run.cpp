#include "support/fresh_run.hpp"

#include <unistd.h>

#include <cstdlib>
#include <memory>

#include "common/diag.hpp"
#include "driver/backends.hpp"
#include "driver/run.hpp"

namespace testutil {

namespace {

std::string current_dir() {
  std::unique_ptr<char, decltype(&free)> cwd(getcwd(nullptr, 0), &free);
  return cwd ? cwd.get() : "/";
}

}  // namespace

void fresh_run() {
  initialize_globals();
  initialize_backends();
  diag.columns = Diagnostics{}.columns;
}

}  // namespace testutil

FreshRun::FreshRun() : start_dir_(testutil::current_dir()) {}

void FreshRun::TearDown() {
  testutil::fresh_run();
  if (chdir(start_dir_.c_str()) != 0) ADD_FAILURE() << "cannot return to " << start_dir_;
}
