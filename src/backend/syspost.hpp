// Post-processing of well-known system directories and the no-compression
// marks, shared by every backend. The backends differ only in the bits they
// want set, so each one passes its own marks and calls the same code:
//
//   XML     postproc: syspost_postproc({});
//           final:    syspost_mark_nocompress({.nocompress_sflags = sf::NO_COMPRESS});
//   pkgadd  postproc: syspost_postproc({.sysdir_aflags = 0x4000000 | 0x8000000 | 0x10000000});
//           final:    syspost_mark_nocompress({.nocompress_sflags = sf::NO_COMPRESS});
//   KEST    postproc: syspost_postproc({}); then its own ':' step.
//           final:    has_nocompress_extension(f) inside its own walk over the
//                     files (or syspost_mark_nocompress with its own bit).
#pragma once

#include <cstdint>
#include <string_view>

#include "model/model.hpp"

/// What a backend wants set by the shared post-processing.
struct syspost_marks {
  /// `aflags` bits set on every well-known directory that receives its
  /// default owner, group and mode (pkgadd: the fields left to the target
  /// system); 0 sets none.
  std::uint32_t sysdir_aflags = 0;
  /// `sflags` bit set on files that must not be compressed; 0 sets none.
  std::uint32_t nocompress_sflags = 0;
};

/// Gives the well-known system directories their owners, groups, modes and
/// "given" bits, then leaves out unformatted manual pages (files: `sflags`
/// FILE_MANSRC and EXCLUDED) and manual-page directories left empty by that
/// (`sflags` DIR_LEFT_OUT and EXCLUDED) unless -m is on. Walks `model.dirs`
/// in creation order, skipping excluded directories. Returns 1.
int syspost_postproc(const syspost_marks& marks);

/// True when the text from the last '.' of the file's installed path is one
/// of the extensions of files compressed already (.Z .gz .bz2 .z .tgz .zip
/// .jar .jpg .mp3; case counts). A path without '.' never is.
bool has_nocompress_extension(const dfile& file);

/// Sets `marks.nocompress_sflags` on every file of `model.files` that is
/// neither excluded nor left out as a manual-page source and that
/// has_nocompress_extension.
void syspost_mark_nocompress(const syspost_marks& marks);

/// Position of `path` in the table of well-known directories (0 /usr ...
/// 16-81 manual-page section directories, 82 /usr/man), or -1.
int sysdir_index(std::string_view path);
