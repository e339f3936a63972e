// Placeholder until the shared post-processing lands.
#include "backend/syspost.hpp"

int syspost_postproc(const syspost_marks&) { return 1; }
void syspost_mark_nocompress(const syspost_marks&) {}
