// Standard input, output and error as the run relies on them: never taken
// over by a file the run opens, and a failed write to standard output
// never passing unnoticed.
#pragma once

/// Gives each standard stream that was closed when the program started a
/// descriptor on which writes fail. Otherwise the first file the run opens
/// would become standard output or error and take in the progress lines
/// and messages meant for them.
void guard_standard_streams();

/// True when everything written to standard output so far was written;
/// otherwise reports an error (once) and returns false.
bool standard_output_ok();
