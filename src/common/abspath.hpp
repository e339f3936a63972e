// Textual path normalisation: no file-system access but the working directory.
#pragma once

#include <optional>
#include <string>
#include <string_view>

/// The absolute, normalised form of `name` (relative names are taken from
/// the working directory; "", ".", ".." and repeated slashes folded).
/// Empty `name`: nullopt with errno ENOENT; a failing getcwd: nullopt with its errno.
std::optional<std::string> abspath(std::string_view name);
/// Same for a C string; a null `name` gives nullopt with errno EINVAL.
std::optional<std::string> abspath(const char* name);
/// Same, relative names taken from `cwd` instead of the working directory.
std::optional<std::string> abspath_from(std::string_view name, std::string_view cwd);
