// Control scripts and private entries, as the backends that install from
// package directories mark them during the scan: a directory named cntl
// directly in a package's root holds the package's control scripts, which
// are private, and everything of a private package or below a private
// directory is private too.
#pragma once

#include <cstdint>
#include <string_view>

#include "model/model.hpp"

/// The base name of control-script directories.
inline constexpr std::string_view CNTL_DIR = "cntl";

/// The marks of control-script territory.
namespace cntl {
/// `sflags` of a directory: the cntl directory or one below it.
inline constexpr std::uint32_t DIR = 0x100000;
/// `aflags` of an entry: lies inside a cntl directory.
inline constexpr std::uint32_t IN_CNTL = 0x1000000;
/// `flags` of a package: it has a cntl directory.
inline constexpr std::uint32_t HAS_CNTL = 0x100000;
}  // namespace cntl

/// How a backend marks the files that are control scripts.
struct script_marks {
  std::uint32_t sflags = 0;       ///< `sflags` of every control script
  bool private_packages = false;  ///< every file of a private package is a control script
};

/// Marks the directory `d` of `pkg` (`toplevel` when it lies directly in
/// the package root) private in a private package, as the cntl directory
/// when it is one, and with its parent's private and control-script
/// marks. True when any such mark applies.
bool mark_private_dir(pkgptr_t pkg, dfileptr_t d, int toplevel);
/// Marks the file `f` of `pkg` private in a private package or below a
/// private directory, and as a control script below a cntl directory
/// (whose mode is then made readable, and runnable, by everyone). True
/// when any such mark applies.
bool mark_private_file(pkgptr_t pkg, dfileptr_t f, const script_marks& marks);
