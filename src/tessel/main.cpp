// tessel: formats one manual-page section directory, with the formatting
// and compression commands taken from the environment and their own output
// shown.
#include <cstdio>
#include <cstdlib>

#include "common/diag.hpp"
#include "common/stdstreams.hpp"
#include "prep/tessel.hpp"
#include "tessel/usage.hpp"

namespace {

int columns_from_environment() {
  const char* c = std::getenv("COLUMNS");
  int n = c ? std::atoi(c) : 0;
  return n > 0 ? n : 80;
}

void commands_from_environment() {
  manfmt = default_formatter();
  manfmt.nullcmd.clear();
  manfmt.null2cmd.clear();
  // An empty command would run the page sources themselves.
  if (const char* f = std::getenv("TESSEL_FORMAT"); f && *f) manfmt.fmtcmd = f;
  if (const char* c = std::getenv("TESSEL_COMPRESS"); c && *c) manfmt.compcmd = c;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    diag.columns = columns_from_environment();
    guard_standard_streams();
    if (argc != 2 || argv[1][0] == '-') {
      print_tessel_usage();
      return 1;
    }
    commands_from_environment();
    // The build scripts that call tessel learn of a failure by the status.
    const int rc = tessel_directory(argv[1]);
    if (rc) std::printf("tessel %s failed with %d\n", argv[1], rc);
    if (!standard_output_ok() || rc) return 1;
    return 0;
  } catch (const run_exit& e) {
    std::fflush(stdout);
    return e.status;
  }
}
