// The command line, the option checks and the usage report.
#pragma once

#include "model/settings.hpp"

/// The global option table, in usage-report order; the control file's set
/// statement searches it (parse_control_file is given it).
extern const option_table globalopts;

/// Reads the command line into the settings; a wrong command line ends in
/// the usage report (status 2).
void process_options(int argc, char** argv);
/// Checks and completes the settings; ends the run with status 1 when a check failed.
void verify_options();
/// Prints `format` (when given), the usage report, and ends the run with status 2.
[[noreturn]] void usage(const char* format, ...) __attribute__((format(printf, 1, 2)));
/// Prints one option table, briefly (synopsis) or fully; returns the final column.
int printopts(option_table table, int col, bool brief);
