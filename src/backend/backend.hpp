// The backend record, the registry of the three built-in backends, and the
// one place where each kind of backend reply turns into its effect.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "model/model.hpp"
#include "model/settings.hpp"

/// A backend: its identity and the operations the core calls at fixed
/// points of the run. Every operation slot but `produce` may be empty.
struct backend {
  const char* name = nullptr;  ///< matched by -B and the control file's backend statement
  const char* desc = nullptr;  ///< one line for the usage report
  std::string verstr;          ///< "major.minor.patch", set by init
  int version = 0;             ///< major*100000 + minor*1000 + patch, set by init
  option_table opts;           ///< the backend's option table, set by init

  int (*chkname)(const char* cmdname) = nullptr;  ///< non-zero: claims the program name
  int (*init)(backend& self) = nullptr;
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

/// The registry: KEST, pkgadd, XML in that order, and the selected backend.
struct Registry {
  std::vector<backend> backends;
  backend* backptr = nullptr;
};

extern Registry registry;

/// Builds the registry and calls every backend's init.
void initialize_backends();
/// The backend named `name`, or null.
backend* find_backend(const char* name);
/// Selects `b` and defines the macro CORVANE_BACKEND as its name.
void set_backend(backend* b);
/// Sets an entry's or pattern's phase and the phase bits of its paths.
void set_phase(attrent& entry, int phase);

/// "%d.%d.%d" of the three numbers, and the number major*100000+minor*1000+patch.
std::string version_text(int major, int minor, int patch);
inline int version_number(int major, int minor, int patch) {
  return major * 100000 + minor * 1000 + patch;
}

/// Packages by name for the writers, found as find_package finds them
/// (ignored packages pass unseen, the first of a name wins, flat mode has
/// its one package), so that a product of many packages is not searched
/// from the start for every subpackage name.
class PackageNames {
 public:
  PackageNames();
  pkgptr_t find(std::string_view name) const;

 private:
  std::unordered_map<std::string_view, pkgptr_t> by_name_;
};

// Reply codes of the per-item operations.
inline constexpr int REPLY_OK = 0;
inline constexpr int REPLY_SKIP = 2;     ///< skip or exclude the item
inline constexpr int REPLY_FAIL = 3;     ///< fail the package or component
inline constexpr int REPLY_PRIVATE = 4;  ///< mark the item private
inline constexpr int REPLY_REMOVE = 5;   ///< remove the item

/// Effect of a post-entry reply (postfile, postdir, enddir) on `e`;
/// true when the reply fails the package's scan.
bool apply_entry_reply(int reply, dfileptr_t e);
/// Effect of a package reply (prepkg, postpkg; finalpkg when `final`).
void apply_package_reply(int reply, pkgptr_t p, bool final);
/// Effect of a component reply (precmpnt, postcmpnt, finalcmpnt).
void apply_component_reply(int reply, cmpntptr_t c);

// Calls of optional operations: an empty slot replies 0.
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

// The records each backend module supplies; initialize_backends copies them.
extern const backend kest_backend;
extern const backend pkgadd_backend;
extern const backend xml_backend;
