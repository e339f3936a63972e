// The KEST backend's own declarations: its record, its bits in the shared
// flag words, its settings and the operations its three sources share.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "backend/backend.hpp"
#include "backend/cntl.hpp"
#include "backend/writer.hpp"
#include "model/model.hpp"
#include "model/settings.hpp"

/// The KEST backend's record.
extern const backend kest_backend;

/// The KEST backend's settings for one run; its init puts them back.
struct KestSettings {
  int hmode = 0;       ///< -h: keep symbolic links as SYML entries (with -H)
  int Hmode = 0;       ///< -H: harden symbolic links into LINK entries
  int kest_lmode = 0;  ///< -l: hard links are acceptable
  int emode = 0;       ///< -e: write explicit mode, owner and group
  /// The vendor (opts.vendor) as -E last gave it; a vendor() statement of
  /// the control file may have replaced it since.
  optstr vendor_option;
};

extern KestSettings kest_settings;

/// KEST's own meaning of `sflags` bits. Several share a value: the same bit
/// means one thing on a directory and another on a file.
namespace ksf {
inline constexpr std::uint32_t FILE_WRITTEN = written::FILE;  ///< file: already written (or a dropped man source)
inline constexpr std::uint32_t DIR_WRITTEN = written::DIR;    ///< directory: already written (or dropped)
inline constexpr std::uint32_t DIR_CNTL = cntl::DIR;  ///< directory: is or lies in a control-script directory
inline constexpr std::uint32_t DIR_PHASE_SET = 0x200000;    ///< directory: its phase was set in the control file
inline constexpr std::uint32_t DIR_PARENT_PHASE = 0x400000; ///< directory: an ancestor's phase was set
inline constexpr std::uint32_t DIR_EXPORTED = 0x800000;     ///< directory: exported as a whole
inline constexpr std::uint32_t FILE_LINK_TARGET = 0x100000; ///< file: a symbolic link was hardened onto it
inline constexpr std::uint32_t FILE_HARDENED = 0x200000;    ///< file: was a symbolic link, now a hard link
inline constexpr std::uint32_t FILE_CNTL_SCRIPT = 0x400000; ///< file: a package control script
inline constexpr std::uint32_t FILE_SAFEPATH = 0x800000;    ///< file: path holds ':', `safepath` names it
inline constexpr std::uint32_t FILE_EXPORTED = 0x1000000;   ///< file: exported by itself
inline constexpr std::uint32_t FILE_NOCOMPRESS = 0x2000000; ///< file: already compressed, do not compress
inline constexpr std::uint32_t FILE_TARGET_SHARED = 0x4000000;  ///< file: CLIENT link to a SERVER target
}  // namespace ksf

/// KEST's own `aflags` bits.
namespace kaf {
inline constexpr std::uint32_t RETAINED = af::CTL_SYMLINK;  ///< symbolic link kept as a link
inline constexpr std::uint32_t TARGETED = 0x80000;          ///< link named by a target() statement
inline constexpr std::uint32_t IN_CNTL = cntl::IN_CNTL;     ///< lies inside a control-script directory
/// A link in any of these states is no longer the symbolic-link policy's to decide.
inline constexpr std::uint32_t LINK_DECIDED = af::EXCLUDED | RETAINED | af::CONVERTED;
/// A file in any of these states does not take part in hard-link groups.
inline constexpr std::uint32_t NOT_HARDLINK = af::EXCLUDED | af::SYMLINK | af::CONVERTED;
}  // namespace kaf

/// KEST's own package `flags` bits.
namespace kpf {
inline constexpr std::uint32_t HAS_CNTL = cntl::HAS_CNTL;  ///< the package has a control-script directory
inline constexpr std::uint32_t LINKS_WARNED = 0x200000;    ///< the multiple-links warning was given
inline constexpr std::uint32_t SYMLINKS_NOTED = 0x400000;  ///< the exported-symbolic-links notice was given
inline constexpr std::uint32_t NOT_CHECKED = pf::IGNORED | pf::REMOVED | pf::FAILED | pf::HAS_SUBPKGS;
}  // namespace kpf

/// Flags of the export destination a symbolic link becomes: implicit, plain, early.
inline constexpr std::uint32_t KEST_LINK_EXPORT = ef::INHERITED | ef::PLAIN | ef::EARLY;

/// The base name of control-script directories and the package made of one.
inline constexpr std::string_view KEST_CNTL_DIR = CNTL_DIR;
inline constexpr std::string_view KEST_CONTROL_PKG = "Control";

/// `text` with a backslash before every '$', so the toolkit does not take
/// it for a macro reference.
std::string kest_escstr(std::string_view text);

/// A link target as a path from the package root (/usr/lib/x). A target
/// outside the package is given from the dist directory (/other/usr/lib/x),
/// and one outside the dist directory whole, so no text is ever cut short.
std::string kest_target_from_root(pkgptr_t pkg, const path_t& target);
/// The file of `pkg` a symbolic link points to, or null.
dfileptr_t kest_find_link_target(pkgptr_t pkg, dfileptr_t link);

// Operations of the backend record.
void kest_optcheck();
int kest_prepkg(pkgptr_t pkg);
std::string kest_pkgrename(const char* shortname);
int kest_postdir(pkgptr_t pkg, dfileptr_t dir, int toplevel);
int kest_postfile(pkgptr_t pkg, dfileptr_t file, int toplevel);
int kest_finalpkg(pkgptr_t pkg);
void kest_postproc();
void kest_final();
void kest_produce();
