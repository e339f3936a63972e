// The backend record, the registry, and the one place where each kind of
// backend reply turns into its effect.
//
// Adding a backend: make one folder below src/backend/ (one library of
// the build) holding
//   - one constant `backend` record with designated initializers: name,
//     description, version text and number, option table, operations;
//   - its settings in a struct of its own, put back by its `init`;
//   - its format lines in its own produce.cpp, written with what the
//     backends share here: writer.hpp (entry order, hard links, owner and
//     group names, link targets), cntl.hpp (control scripts and private
//     entries), checks.hpp, values.hpp and outset.hpp;
// then add its record to the table in src/driver/backends.cpp. Nothing in
// this folder changes, and no backend includes another backend's headers.
#pragma once

#include <span>
#include <string>

#include "model/model.hpp"
#include "model/settings.hpp"

/// A backend: its identity and the operations the core calls at fixed
/// points of the run. Every operation slot but `produce` may be empty.
struct backend {
  const char* name = nullptr;    ///< matched by -B and the control file's backend statement
  const char* desc = nullptr;    ///< one line for the usage report
  const char* verstr = nullptr;  ///< "major.minor.patch"
  int version = 0;               ///< the same as major*100000 + minor*1000 + patch
  option_table opts;             ///< the backend's option table

  int (*chkname)(const char* cmdname) = nullptr;  ///< non-zero: claims the program name
  void (*init)() = nullptr;      ///< puts the backend's settings back to their initial values
  void (*optcheck)() = nullptr;  ///< must set opts.pkgdir
  void (*postproc)() = nullptr;
  int (*dupcheck)() = nullptr;
  void (*verify)() = nullptr;
  void (*final)() = nullptr;
  void (*produce)() = nullptr;
  int (*chkpkgdir)(const char* name) = nullptr;
  int (*prefile)(pkgptr_t, const char* path, const char* target) = nullptr;
  int (*postfile)(pkgptr_t, dfileptr_t, int level) = nullptr;
  int (*predir)(pkgptr_t, const char* path, const char* target) = nullptr;
  int (*postdir)(pkgptr_t, dfileptr_t, int level) = nullptr;
  int (*enddir)(pkgptr_t, dfileptr_t, int level) = nullptr;
  int (*prepkg)(pkgptr_t) = nullptr;
  int (*postpkg)(pkgptr_t) = nullptr;
  int (*finalpkg)(pkgptr_t) = nullptr;
  int (*precmpnt)(cmpntptr_t) = nullptr;
  int (*postcmpnt)(cmpntptr_t) = nullptr;
  int (*finalcmpnt)(cmpntptr_t) = nullptr;
  void* reserved1 = nullptr;
  void* reserved2 = nullptr;
  void (*comattrs)(dfileptr_t, attrent*, pkgptr_t) = nullptr;
  std::string (*pkgrename)(const char* shortname) = nullptr;  ///< the package name
};

/// The registered backends, in registry order, and the selected one.
struct Registry {
  std::span<const backend* const> backends;  ///< set at start-up by install_backends
  const backend* backptr = nullptr;          ///< null until one is chosen
};

extern Registry registry;

/// Registers `table` (the program's backends, in registry order), selects
/// none, and calls every backend's init.
void install_backends(std::span<const backend* const> table);
/// The first registered backend named `name`, or null.
const backend* find_backend(const char* name);
/// Selects `b` and defines the macro CORVANE_BACKEND as its name.
void set_backend(const backend* b);
/// Sets an entry's or pattern's phase and the phase bits of its paths.
void set_phase(attrent& entry, phase_kind phase);

/// The number a version "major.minor.patch" compares as.
constexpr int version_number(int major, int minor, int patch) {
  return major * 100000 + minor * 1000 + patch;
}

// Reply codes of the per-item operations.
inline constexpr int REPLY_OK = 0;       ///< go on: the item is taken as it is
inline constexpr int REPLY_GO_ON = 1;    ///< go on, exactly as REPLY_OK
inline constexpr int REPLY_SKIP = 2;     ///< skip or exclude the item
inline constexpr int REPLY_FAIL = 3;     ///< fail the package or component
inline constexpr int REPLY_PRIVATE = 4;  ///< mark the item private
inline constexpr int REPLY_REMOVE = 5;   ///< remove the item

// Where an entry lies, as the scan tells postfile, postdir and enddir
// (their `level`): only at the top may a directory hold control scripts.
/// Deeper than directly in the package's top directory.
inline constexpr int LEVEL_BELOW = 0;
/// Directly in the top directory of a package of the dist directory (for
/// enddir: that top directory itself).
inline constexpr int LEVEL_TOP = 1;
/// The same with -f, where the dist directory itself is the one package.
inline constexpr int LEVEL_FLAT_TOP = 2;

/// Owner and group id (bin) of every entry given none; the KEST and XML
/// writers leave it unsaid, as their packaging systems take it by default.
inline constexpr std::uint32_t DEFAULT_ID = 2;

/// Effect of a post-entry reply (postfile, postdir, enddir) on `e`;
/// true when the reply fails the package's scan.
bool apply_entry_reply(int reply, dfileptr_t e);
/// Effect of a package reply (prepkg, postpkg; finalpkg when `final`).
void apply_package_reply(int reply, pkgptr_t p, bool final);
/// Effect of a component reply (precmpnt, postcmpnt, finalcmpnt).
void apply_component_reply(int reply, cmpntptr_t c);

// Calls of optional operations: an empty slot replies REPLY_OK.
int call_postfile(pkgptr_t p, dfileptr_t e, int level);
int call_postdir(pkgptr_t p, dfileptr_t e, int level);
int call_enddir(pkgptr_t p, dfileptr_t e, int level);
int call_prefile(pkgptr_t p, const char* path, const char* target);
int call_predir(pkgptr_t p, const char* path, const char* target);
int call_prepkg(pkgptr_t p);
int call_postpkg(pkgptr_t p);
int call_finalpkg(pkgptr_t p);
int call_precmpnt(cmpntptr_t c);
int call_postcmpnt(cmpntptr_t c);
int call_finalcmpnt(cmpntptr_t c);
