// tessel's usage text.
#pragma once

/// Prints the usage text, with the built-in commands, on standard output.
void print_tessel_usage();
