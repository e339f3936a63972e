// Preparing the dist tree before the scan: strip, comment sections,
// manual pages, Info files.
#pragma once

/// Prepares the tree under the dist directory with the three switches
/// (> 0: run) and an optional comment-section text.
void do_autoprep(int fmt, int texi, int strip, const char* mcstext = nullptr);
