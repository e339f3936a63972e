// The control file: one pass over it (settings only, or the whole model).
#pragma once

#include "model/settings.hpp"

/// The two passes over the control file (the `setonly` of a pass).
/// First pass: only the settings statements act, before the backend is set up.
inline constexpr int SETTINGS_PASS = 1;
/// Second pass: every statement acts and the file describes the product.
inline constexpr int MODEL_PASS = 0;

/// Runs one pass over the control file; returns the number of parse
/// warnings. `options` is the program's own option table, which the set
/// statement searches before the backends' tables.
int parse_control_file(int setonly, option_table options);
/// The name of the control file being read, for message prefixes.
const char* ctlfilenm();
/// Puts the control-file reader back to its start (the include jail too).
void reset_ctlfile();
