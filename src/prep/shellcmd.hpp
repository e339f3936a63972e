// Running the preparation tools through the shell, and making any path or
// text one shell word on their command lines.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

/// `text` as one shell word: unchanged when it holds only letters, digits
/// and `_ . / + , : = @ % ^ -`, otherwise single-quoted with each `'`
/// written as `'\''` (an empty text becomes '').
std::string shell_word(std::string_view text);

/// A path as one shell word that a tool cannot take for an option: a
/// relative path beginning with "-", or with "@" (which the binary tools
/// read as a file of further options), gets "./" in front.
std::string shell_operand(std::string_view path);

/// Runs `command` with /bin/sh in directory `cwd` (null: the current one)
/// and returns its exit status: 128 + the signal number when it was killed,
/// 127 when no shell could be started.
int run_shell(const std::string& command, const char* cwd = nullptr);

/// What a pipeline left behind.
struct PipelineResult {
  /// The status of `right` when it failed (`left` may then only have lost
  /// its reader), else that of `left`, so that a failing first command is
  /// not hidden by a succeeding second one.
  int status = 0;
  /// How many bytes `left` wrote (all passed on to `right` while it read).
  std::uint64_t bytes = 0;
};

/// Runs `left | right` as two shells in `cwd`. The output of `left` passes
/// through this process on its way, to be counted; `left` reads its
/// standard input from /dev/null, so that a page naming the terminal
/// cannot stop the run.
PipelineResult run_shell_pipeline(const std::string& left, const std::string& right,
                                  const char* cwd = nullptr);
