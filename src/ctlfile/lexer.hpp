// Characters and tokens of the control file: reading with pushback across
// included files, the token state machine, keywords, ${NAME} expansion.
#pragma once

#include <string>
#include <string_view>

#include "ctlfile/reader.hpp"

/// The next character (0-255) of the input, or END_OF_INPUT.
int nextch(CtlReader& rd);
/// Pushes `c` back; the next nextch() returns it.
void prevch(CtlReader& rd, int c);

/// `text` with its ${NAME} references replaced by their values.
std::string lexer_expandstr(CtlReader& rd, std::string_view text);
