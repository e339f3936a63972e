// The statements that talk to the user and run commands while the control
// file is read: print, exec, sh and script.
#pragma once

#include <string>
#include <string_view>

#include "ctlfile/reader.hpp"

/// `text` as one word for the shell: in single quotes, each ' written as '\''.
std::string shell_quote(std::string_view text);

void act_print(CtlReader& rd, const std::string& text);
/// Runs `text` with the system's shell; a failure ends the run.
void act_exec(CtlReader& rd, const std::string& text);
/// Runs `text` with /bin/ksh -c; a failure ends the run.
void act_sh(CtlReader& rd, const std::string& text);
/// Puts the lexer in delimiter mode for the body that follows; false (after
/// yyerror) for a delimiter that is empty or too long.
bool act_script_delimiter(CtlReader& rd, const std::string& delimiter);
/// Writes the body with the settings at its head to a temporary script and
/// runs it; a failure ends the run.
void act_script(CtlReader& rd, const std::string& delimiter, const std::string& body);
