// Product assembly after the scan.
#pragma once

#include "model/model.hpp"

/// Completes the model (the twenty assembly steps); ends the run on errors.
void post_process();
/// Adds the leading directories of every export destination.
void maybe_add_leading_paths();
/// Sets the component of `pkg` and, recursively, of its subpackages.
void recursive_set_cmpnt(pkgptr_t pkg, cmpntptr_t cmpnt);
