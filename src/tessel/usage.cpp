#include "tessel/usage.hpp"

#include <cstdio>

#include "prep/tessel.hpp"

void print_tessel_usage() {
  std::printf("Usage: tessel directory\n");
  std::printf("\n");
  std::printf("$TESSEL_FORMAT is used for the formatting command\n");
  std::printf("$TESSEL_COMPRESS is used for the compression command\n");
  std::printf("\n");
  std::printf("Default values:\n");
  std::printf("$TESSEL_FORMAT='%s'\n", default_fmtcmd().c_str());
  std::printf("$TESSEL_COMPRESS='%s'\n", default_compcmd().c_str());
  std::printf("\n");
}
