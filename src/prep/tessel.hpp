// The manual-page formatter shared by corvane and tessel: one section
// directory of page sources becomes compressed preformatted pages in its
// sibling cat directory, with every other name of a page made a link.
#pragma once

#include <optional>
#include <string>

/// The commands the formatter runs; corvane keeps the defaults, tessel
/// takes its commands from the environment and shows their output.
struct ManFormatter {
  std::string fmtcmd;    ///< formats one page source to standard output
  std::string compcmd;   ///< compresses standard input, or the file it is given
  std::string nullcmd;   ///< redirection of a compression command's output
  std::string null2cmd;  ///< redirection of the formatting pipeline's errors
  /// The dist directory nothing may be written outside of: the section
  /// and cat directories must be real directories inside it. It is read
  /// when a directory is formatted, since the options set it after start.
  /// Null or unset (tessel): only a cat directory linked out of the
  /// section directory's parent is refused.
  const std::optional<std::string>* tree = nullptr;
};

/// The built-in formatting command.
const std::string& default_fmtcmd();
/// The built-in compression command.
const std::string& default_compcmd();
/// The formatter settings corvane uses (the built-in commands, output discarded).
ManFormatter default_formatter();

/// The formatter of the running program: one per process, defined in
/// tessel.cpp with the built-in settings, which each program then makes
/// its own (corvane's keeps to its dist directory, tessel's takes its
/// commands from the environment).
extern ManFormatter manfmt;

/// Puts the built-in settings back.
void reset_formatter();

/// Result codes of tessel_directory.
namespace tesselrc {
inline constexpr int ok = 0;
inline constexpr int no_slash = -1;        ///< the argument has no "/"
inline constexpr int not_man = -2;         ///< its last component does not begin with "man"
inline constexpr int no_abspath = -3;      ///< the absolute path could not be determined
inline constexpr int no_open = -4;         ///< the directory could not be opened
inline constexpr int no_catdir = -5;       ///< the cat directory could not be created
inline constexpr int lstat_failed = -6;
inline constexpr int stat_failed = -7;
inline constexpr int decompress_failed = -8;
inline constexpr int so_to_link = -9;      ///< a .so page names a page that is a symbolic link
inline constexpr int format_failed = -10;
inline constexpr int compress_failed = -11;
inline constexpr int refused = -12;        ///< a directory is a link or lies outside the tree
}  // namespace tesselrc

/// Formats one manual-page section directory (relative to the working
/// directory or absolute) with the commands of `manfmt`; returns a tesselrc code.
/// The working directory is never changed.
int tessel_directory(const char* dir);

/// The page a simple include page `path` names: the argument of its only
/// ".so " line when that names a page of the section directory `mdirname`
/// (as "name" or "mdirname/name"); nullopt for any other file.
std::optional<std::string> tessel_isso(const std::string& path, const std::string& mdirname);
