// The program's own version, for the usage report, the generated files'
// headers and the control file's want() statement.
#pragma once

/// "major.minor.patch".
inline constexpr char CORVANE_VER[] = "2.1.0";
/// The same as major*100000 + minor*1000 + patch, as want() compares it.
inline constexpr int corvane_ver = 201000;
