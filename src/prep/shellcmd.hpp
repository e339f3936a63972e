// Running the preparation tools through the shell, and making any path or
// text one shell word on their command lines.
#pragma once

#include <string>
#include <string_view>

/// `text` as one shell word: unchanged when it holds only letters, digits
/// and `_ . / + , : = @ % ^ -`, otherwise single-quoted with each `'`
/// written as `'\''` (an empty text becomes '').
std::string shell_word(std::string_view text);

/// Runs `command` with /bin/sh in directory `cwd` (null: the current one)
/// and returns its exit status: 128 + the signal number when it was killed,
/// 127 when no shell could be started.
int run_shell(const std::string& command, const char* cwd = nullptr);

/// Runs `left | right` as two shells joined by a pipe, in `cwd`; returns
/// the status of `right` when it failed (`left` may then only have lost its
/// reader), else that of `left`, so that a failing first command is not
/// hidden by a succeeding second one.
int run_shell_pipeline(const std::string& left, const std::string& right,
                       const char* cwd = nullptr);
