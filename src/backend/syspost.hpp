// Post-processing of well-known system directories and the no-compression
// marks, shared by every backend; each passes the marks it uses.
#pragma once

#include <cstdint>

/// What a backend wants set by the shared post-processing.
struct syspost_marks {
  std::uint32_t sysdir_aflags = 0;  ///< set on every system directory (pkgadd: the "?" fields)
  std::uint32_t nocompress_sflags = 0;  ///< set on files that must not be compressed
};

/// Gives system directories their owners and modes and leaves out manual
/// page sources; returns 1.
int syspost_postproc(const syspost_marks& marks);
/// Marks the files whose extension says they are compressed already.
void syspost_mark_nocompress(const syspost_marks& marks);
