// Keeping preparation inside the tree it prepares: trees are often made by
// other tools and may hold links meant for the target system (a cat
// directory linked to /var/cache/man), which must never lead the formatter
// or the compressors to the build host's own files.
#pragma once

#include <optional>
#include <string>
#include <string_view>

/// The real path of `path` (every link and "." or ".." resolved); nullopt
/// when it cannot be resolved.
std::optional<std::string> real_path(const std::string& path);

/// True when the real path `path` is `root` or lies below it.
bool path_within(std::string_view path, std::string_view root);

/// Checks directory `dir` before preparation enters or writes into it: a
/// symbolic link, or a directory whose real path lies outside `tree` (the
/// dist directory), is reported as an error and refused (false). A
/// directory that does not exist passes when its parent lies inside.
bool directory_inside_tree(const std::string& dir, const std::string& tree);

/// The rule where no tree is known: `dir`, when it is a symbolic link,
/// must lead to `root` or below it; otherwise it is reported as an error
/// and refused (false). A link that leads nowhere passes: nothing can be
/// written through it.
bool link_stays_within(const std::string& dir, const std::string& root);
