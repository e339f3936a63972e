// Product assembly after the scan.
#pragma once

#include <string>

#include "model/model.hpp"

/// Completes the model, one assembly step after the other; ends the run on errors.
void post_process();
/// Adds the leading directories of every export destination.
void maybe_add_leading_paths();
/// Attaches the missing leading directories of `entry`'s export destinations
/// to the package tree (`buffer` is scratch); returns how many were attached.
int do_leading_com(pkgptr_t pkg, dfileptr_t entry, std::string& buffer);
/// Sets the component of `pkg` and, recursively, of its subpackages.
void recursive_set_cmpnt(pkgptr_t pkg, cmpntptr_t cmpnt);
