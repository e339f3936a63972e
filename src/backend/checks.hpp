// Checks that several backends make the same way: the output directory,
// symbolic links whose target is not in their package, and dependencies
// that need a description.
#pragma once

#include <string>
#include <string_view>

#include "model/model.hpp"

/// Makes `dir` the output directory (opts.pkgdir); an error when it is not
/// a directory the run can read and write.
void set_output_directory(std::string dir);

/// The error for a symbolic link of `pkg` whose `target` (as the message
/// shows it) is not a file of the package.
void report_missing_link_target(const package& pkg, const dfile& link, std::string_view target);

/// An error, naming the backend `backend_name`, for each superseding
/// dependency and each dependency of `c` that lacks a description.
void check_dependency_descriptions(const component& c, const char* backend_name);
