// The control file: one pass over it (settings only, or the whole model).
#pragma once

/// Runs one pass over the control file; returns the number of parse warnings.
int parse_control_file(int setonly);
/// The name of the control file being read, for message prefixes.
const char* ctlfilenm();
/// The line being read.
int ctl_linenum();
