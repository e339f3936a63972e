// Provisional: replaced by the full command line next.
#include "driver/options.hpp"

#include <cstdarg>
#include <cstdio>

#include "common/diag.hpp"

namespace {
const option global_rows[] = {{0, nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr}};
}
const option_table globalopts(global_rows, 0);

void process_options(int, char**) {}
void set_option(const char*, const char*) {}
void verify_options() {}
void usage(const char* format, ...) {
  if (format) {
    va_list ap;
    va_start(ap, format);
    std::vfprintf(stderr, format, ap);
    va_end(ap);
  }
  exit_run(2);
}
int printopts(option_table, int col, bool) { return col; }
