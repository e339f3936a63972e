// The allocation functions of the programs: `new` in every form allocates
// with malloc, and a failing `new` ends the run with a fatal report of the
// size it asked for. Only the programs link this; see CMakeLists.txt.
#pragma once

/// Makes running out of memory end the run: every failing `new` then
/// reports "could not allocate N bytes." (N the size asked for) through
/// fatal() and the run ends with status 1.
void install_alloc_failure_handler();
