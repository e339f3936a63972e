// The phases of a corvane run that the driver owns itself.
#pragma once

#include <string>

#include "common/lists.hpp"

/// Puts the state of every subsystem back to its start, the one place a
/// run begins from: diagnostics, name caches, settings, model, control-file
/// reader, preparation and formatter (the registry and the backends'
/// settings: initialize_backends). Reads COLUMNS, readies the standard streams.
void initialize_globals();
/// Selects the first backend that claims the program's base name.
void choose_backend_by_name(const char* argv0);
/// The control file's second pass, which builds the model, and its counts.
void read_model_from_control_file();
/// Finds the package directories of the dist directory and scans each.
void scan_dist_directory();
/// The backend's verify; ends the run when errors were reported.
void verify_integrity();
/// The backend's final, access marks and dependency completion.
void final_preparation();
/// Turns standing warnings into an error unless -W; ends the run on errors.
void decide_on_problems();
/// The backend's produce; ends the run when errors were reported.
void generate_output();
/// The closing report; returns to the base directory.
void finish_run();
/// Appends to `dst` every entry of `src` whose name `dst` lacks.
void merge_dep_list(varlist& dst, const varlist& src);
