// Placeholder until product assembly lands.
#include "scan/postproc.hpp"

void post_process() {}
