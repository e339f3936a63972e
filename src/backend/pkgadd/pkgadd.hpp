// Declarations shared by the three sources of the pkgadd backend: its
// record, its own marks in the model's flag words, its settings and its
// operations.
#pragma once

#include <cstdint>
#include <string>

#include "backend/backend.hpp"
#include "backend/cntl.hpp"
#include "backend/syspost.hpp"
#include "backend/writer.hpp"
#include "model/model.hpp"
#include "model/settings.hpp"

/// The pkgadd backend's record.
extern const backend pkgadd_backend;

/// The pkgadd backend's settings for one run, and what its final leaves
/// for its produce; its init puts them back.
struct PkgaddSettings {
  optstr pkgadd_cat;                     ///< -U: installation category
  std::int64_t pkgadd_limit = 10485760;  ///< -l: part size limit in bytes
  std::int64_t biggest = 0;              ///< size of the largest file of the product, set by final
};

extern PkgaddSettings pkgadd_settings;

/// The backend's bits in an entry's `aflags`.
namespace pkgadd_af {
/// The entry lies inside a package's cntl directory (installation scripts).
inline constexpr std::uint32_t IN_CNTL = cntl::IN_CNTL;
/// A system directory's owner is left to the target system ("?").
inline constexpr std::uint32_t OWNER_LEFT = 0x4000000;
/// A system directory's group is left to the target system ("?").
inline constexpr std::uint32_t GROUP_LEFT = 0x8000000;
/// A system directory's mode is left to the target system ("?").
inline constexpr std::uint32_t MODE_LEFT = 0x10000000;
/// All three: what the shared post-processing sets on a well-known directory.
inline constexpr std::uint32_t SYSDIR = OWNER_LEFT | GROUP_LEFT | MODE_LEFT;
}  // namespace pkgadd_af

/// The backend's bits in an entry's `sflags`.
namespace pkgadd_sf {
/// Directory: the cntl directory or one below it; file: a control script.
inline constexpr std::uint32_t CNTL = cntl::DIR;
/// Directory already written to a prototype (the bit that also marks a
/// directory left out by the post-processing, so those are never written).
inline constexpr std::uint32_t DIR_WRITTEN = written::DIR;
/// File already written to a prototype (shared with the manual-page-source
/// mark, so left-out sources are never written).
inline constexpr std::uint32_t FILE_WRITTEN = written::FILE;
}  // namespace pkgadd_sf

/// The backend's bits in a package's `flags`.
namespace pkgadd_pf {
/// The package has a cntl directory of installation scripts.
inline constexpr std::uint32_t HAS_CNTL = cntl::HAS_CNTL;
}  // namespace pkgadd_pf

/// What the shared post-processing marks for this backend (module.cpp).
syspost_marks pkgadd_marks();

// Operations of the record (finalprd.cpp).
int pkgadd_postdir(pkgptr_t pkg, dfileptr_t dir, int toplevel);
int pkgadd_postfile(pkgptr_t pkg, dfileptr_t file, int toplevel);
int pkgadd_finalpkg(pkgptr_t pkg);
int pkgadd_precmpnt(cmpntptr_t c);
int pkgadd_finalcmpnt(cmpntptr_t c);
void pkgadd_verify();
void pkgadd_final();

// Output (produce.cpp).
void pkgadd_produce();
/// Reports every entry that the prototype files could not carry (names the
/// format cannot hold, owners and groups without a name), so that a run
/// with such entries stops before anything is written.
void pkgadd_check_output();

/// A component's category: its own text when it has one, else -U's.
const std::string& pkgadd_category(const component& c);

/// The part limit pkgmk is given for a part holding `bytes`, in 512-byte blocks.
std::int64_t pkgadd_blocks(std::int64_t bytes);

/// True when the entry is private to its package and never written.
inline bool pkgadd_dir_private(dfileptr_t d) {
  return (d->sflags & sf::DIR_PRIVATE) || (d->aflags & af::PRIVATE);
}
inline bool pkgadd_file_private(dfileptr_t f) {
  return (f->sflags & sf::FILE_PRIVATE) || (f->aflags & af::PRIVATE);
}
