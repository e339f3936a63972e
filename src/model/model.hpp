// The product model: components holding packages holding directory and file
// entries, attribute patterns, and the process-wide arrays that reach them.
// Every record is made zero-filled and lives until the process ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/hash.hpp"
#include "common/lists.hpp"
#include "common/memory.hpp"

struct dfile;
struct package;
struct component;
using dfileptr_t = dfile*;
using pkgptr_t = package*;
using cmpntptr_t = component*;

/// Entry kinds (`type`).
inline constexpr std::int32_t ENT_FILE = 1;
inline constexpr std::int32_t ENT_DIR = 2;

/// Whether an entry is shared by every machine or kept by each: an entry's
/// `access`, or the default of a package's entries (`defaccess`). One byte, as a million
/// entries each hold one.
using access_kind = std::int8_t;
/// Not given: the assembly decides it.
inline constexpr access_kind ACCESS_UNSET = 0;
/// Shared (static, server): one copy serves every machine and stays as installed.
inline constexpr access_kind ACCESS_SHARED = 1;
/// Client (variable): each machine keeps its own copy, which may change.
inline constexpr access_kind ACCESS_CLIENT = 2;

/// When an entry is made available: an entry's `phase`, or the default of
/// a package's entries (`defphase`). One byte, as `access_kind`.
using phase_kind = std::int8_t;
/// Not given: the package's default, else normal (early with -r).
inline constexpr phase_kind PHASE_UNSET = 0;
/// Early: made available before the rest of the product, as shared libraries are.
inline constexpr phase_kind PHASE_EARLY = 1;
/// Normal: made available with the rest of the product.
inline constexpr phase_kind PHASE_NORMAL = 2;
/// None: never exported, private to its package.
inline constexpr phase_kind PHASE_NONE = 3;

// What likely_filetype guesses a file to be.
/// Undecided: nothing has decided yet.
inline constexpr int GUESS_UNDECIDED = -1;
/// Shared: the same on every machine.
inline constexpr int GUESS_STATIC = 0;
/// Client: each machine keeps its own copy.
inline constexpr int GUESS_VARIABLE = 1;

// What add_new_file and add_new_directory do when the package has an
// entry of the same full path already (their `check`).
/// Make another one: the scan meets each path once.
inline constexpr int ADD_NEW = 0;
/// Return it: several statements naming one path describe one entry.
inline constexpr int ADD_REUSE = 1;

/// Bits of an entry's or pattern's `aflags` word.
namespace af {
inline constexpr std::uint32_t UID = 0x1;          ///< uid given: not taken from the file system
inline constexpr std::uint32_t GID = 0x2;          ///< gid given
inline constexpr std::uint32_t MODE = 0x4;         ///< mode given
inline constexpr std::uint32_t ACCESS = 0x8;       ///< access given
inline constexpr std::uint32_t PHASE = 0x10;       ///< phase given
inline constexpr std::uint32_t OWNER = 0x20;       ///< owner name given
inline constexpr std::uint32_t GROUP = 0x40;       ///< group name given
inline constexpr std::uint32_t EXCLUDED = 0x80;    ///< left out of the output; every writer skips it
inline constexpr std::uint32_t SYMLINK = 0x100;    ///< symbolic link; `target` is valid
inline constexpr std::uint32_t CTL_SYMLINK = 0x200;  ///< declared a symbolic link by the control file
inline constexpr std::uint32_t PKG_PATTERN = 0x400;  ///< attribute pattern of a package
inline constexpr std::uint32_t TOP_PATTERN = 0x800;  ///< attribute pattern of the top level
inline constexpr std::uint32_t EXPORTLINKS = 0x1000; ///< exportlinks()
inline constexpr std::uint32_t EXPORTOK = 0x2000;    ///< exportok()
inline constexpr std::uint32_t FLAGSTR = 0x4000;     ///< `flagstr` given
inline constexpr std::uint32_t PRIVATE = 0x8000;     ///< private to the package
inline constexpr std::uint32_t CONVERT = 0x10000;    ///< convert() of a hard link requested
inline constexpr std::uint32_t CONVERTED = 0x20000;  ///< hard link turned into an export of another file
inline constexpr std::uint32_t LINKOK = 0x40000;     ///< hard link accepted (linkok())
inline constexpr std::uint32_t CREATED = 0x100000;   ///< created by the control file, never measured
inline constexpr std::uint32_t PATHMATCH = 0x200000; ///< pattern matched with path-name matching
inline constexpr std::uint32_t STATIC_HOLDS_VARIABLE = 0x400000;  ///< static directory holding variable files
inline constexpr std::uint32_t VARIABLE_HOLDS_STATIC = 0x800000;  ///< variable directory holding static files
}  // namespace af

/// Bits of an entry's `sflags` word (state found while processing).
namespace sf {
inline constexpr std::uint32_t DECLARED = 0x1;     ///< declared in the control file
inline constexpr std::uint32_t SCANNED = 0x2;      ///< found by the tree scan
inline constexpr std::uint32_t FILE_PRIVATE = 0x4; ///< file: private
inline constexpr std::uint32_t FILE_MANSRC = 0x8;  ///< file: manual page source left out by postproc
inline constexpr std::uint32_t DIR_CHILD_EXPORTS = 0x4;  ///< directory: has child exports
inline constexpr std::uint32_t DIR_RECURSIVE = 0x8;      ///< directory: has or inherits recursive exports
inline constexpr std::uint32_t DIR_PRIVATE = 0x10;       ///< directory: private
inline constexpr std::uint32_t DIR_HAS_STATIC = 0x20;    ///< directory: holds a static (shared) file
inline constexpr std::uint32_t DIR_HAS_VARIABLE = 0x40;  ///< directory: holds a variable (client) file
inline constexpr std::uint32_t DIR_LEFT_OUT = 0x80;      ///< directory: left out by postproc
inline constexpr std::uint32_t NO_COMPRESS = 0x200000;   ///< file must not be compressed (XML, pkgadd)
}  // namespace sf

/// Flags of an `exports` node.
namespace ef {
inline constexpr std::uint32_t CHILD = 0x1;      ///< child export: applies to the directory's entries
inline constexpr std::uint32_t RECURSIVE = 0x2;  ///< recursive export: applies at every depth
inline constexpr std::uint32_t EARLY = 0x4;      ///< early phase
inline constexpr std::uint32_t FORMAT = 0x8;     ///< format text expanded per entry
inline constexpr std::uint32_t CONVERT = 0x10;   ///< convert() request
inline constexpr std::uint32_t PLAIN = 0x20;     ///< plain export destination of this entry
inline constexpr std::uint32_t INHERITED = 0x40; ///< export inherited from a directory
}  // namespace ef

/// Bits of a package's `flags`.
namespace pf {
inline constexpr std::uint32_t DEFINED = 0x1;   ///< declared by the control file
inline constexpr std::uint32_t CLAIMED = 0x2;   ///< claimed by a component
inline constexpr std::uint32_t HAS_SUBPKGS = 0x4;
inline constexpr std::uint32_t SUBPKG = 0x8;    ///< subpackage of another package
inline constexpr std::uint32_t IGNORED = 0x10;  ///< passed over by lookups; no output
inline constexpr std::uint32_t REMOVED = 0x20;  ///< removed by the backend (with IGNORED)
inline constexpr std::uint32_t FAILED = 0x40;   ///< failed (with IGNORED)
inline constexpr std::uint32_t PRIVATE = 0x80;
}  // namespace pf

/// Bits of a component's `flags`.
namespace cf {
inline constexpr std::uint32_t DEFINED = 0x1;
inline constexpr std::uint32_t SKIPPED = 0x2;  ///< dropped: later component steps pass it over
inline constexpr std::uint32_t FAILED = 0x4;
inline constexpr std::uint32_t REMOVED = 0x8;
}  // namespace cf

/// A text with its length, phase bits and hash. The text is not owned: it
/// lives in the model's arena or points into another path of the record.
struct path_t {
  const char* str = "";
  std::uint32_t len : 29 = 0;
  std::uint32_t flags : 3 = 0;  ///< phase bits (set_phase)
  std::uint32_t hash = 0;

  std::string_view sv() const { return {str, len}; }
  bool empty() const { return len == 0; }
};

/// A path_t over `s` (no copy).
path_t newpath(std::string_view s);
/// A path_t over an arena copy of `s`.
path_t newpath_dup(std::string_view s);

/// Texts that few entries or patterns have, kept beside the records so
/// that a million entries do not each carry room for them. Never changed
/// once made: setting one makes a new copy, so records may share them.
struct entry_texts {
  const char* owner = nullptr;     ///< owner name, when given (arena text)
  const char* group = nullptr;     ///< group name, when given
  const char* flagstr = nullptr;   ///< backend flags text, when given
  const char* includes = nullptr;  ///< files made by the control file: text of includes
  const char* safepath = nullptr;  ///< KEST: path safe for its input files
};

/// The common part of an entry, and the whole of an attribute pattern.
struct attrent {
  std::int32_t type = 0;     ///< ENT_FILE, ENT_DIR; 0 in patterns
  std::uint32_t aflags = 0;  ///< af:: bits
  pkgptr_t pkg = nullptr;    ///< owning package
  dfileptr_t parent = nullptr;  ///< directory the scan found it in; null for package roots and unscanned entries
  path_t abs;     ///< full build-system path (owns its arena text)
  path_t path;    ///< installed path; in patterns the wildcard pattern
  path_t nm;      ///< base name
  path_t target;  ///< symbolic-link target as a full build-system path
  std::uint32_t uid = 0, gid = 0, mode = 0;
  access_kind access = ACCESS_UNSET;
  phase_kind phase = PHASE_UNSET;
  strlist exports;          ///< export destinations (ef:: flags)
  strlist except;           ///< patterns: exception patterns
  const entry_texts* texts = nullptr;  ///< the rare texts; null when none is set

  const char* owner() const { return texts ? texts->owner : nullptr; }
  const char* group() const { return texts ? texts->group : nullptr; }
  const char* flagstr() const { return texts ? texts->flagstr : nullptr; }
  const char* includes() const { return texts ? texts->includes : nullptr; }
  const char* safepath() const { return texts ? texts->safepath : nullptr; }
  /// Sets one of the rare texts (an arena text, or null).
  void set_text(const char* entry_texts::*field, const char* value);

  /// abs from the dist directory on; a view, not a field, as it is only a
  /// suffix of abs that a few messages and the pkgadd sources need.
  std::string_view dist() const;
};

/// Directory-only part of an entry.
struct dirtail {
  std::vector<dfileptr_t> subdirs;  ///< subdirectories the scan found here
  std::vector<dfileptr_t> files;    ///< files the scan found here
};

/// A file or directory of the product.
struct dfile : attrent {
  std::uint32_t sflags = 0;  ///< sf:: bits
  std::uint32_t nlink = 0;
  std::uint64_t ino = 0;     ///< inode (of the link itself for a link)
  std::int64_t size = 0;
  std::unique_ptr<dirtail> dt;     ///< directories only

  bool is_dir() const { return type == ENT_DIR; }
  bool excluded() const { return aflags & af::EXCLUDED; }
  std::vector<dfileptr_t>& subdirs() { return dt->subdirs; }
  std::vector<dfileptr_t>& files() { return dt->files; }
};

/// A component's smallest and largest non-empty file.
struct cmpnt_sizes {
  std::int64_t smallest = 0;
  std::int64_t largest = 0;
};

/// A package's entries of one kind by full path, for the checked adds of
/// add_new_file/add_new_directory: an open-addressed table that holds, for
/// the first entry (in creation order) of each full path, the path's hash
/// and the entry itself. It is made from the package's array by the first
/// checked add and from then on takes each new entry as it is made, so a
/// package that is never checked costs nothing, and backends may reorder
/// the array afterwards (their stable sorts by installed path keep entries
/// of one full path in creation order, should the table be made later).
struct abs_slot {
  dfileptr_t entry = nullptr;  ///< null = free
  std::uint32_t hash = 0;
};
struct abs_lookup {
  std::vector<abs_slot> slots;
  std::size_t covered = 0;  ///< entries of the array already entered
  std::size_t used = 0;     ///< slots in use
  // Many paths of one hash would probe along one run of slots: the table
  // then keys its slots by a seeded hash of the text instead.
  bool seeded = false;
  std::uint64_t seed = 0;
};

struct package {
  std::string name;
  std::string desc;
  std::string extra;  ///< fourth text of the package statement
  path_t dir;         ///< distdir + reldir (flat mode: distdir)
  path_t reldir;      ///< the package's directory text (/pkg); "" in flat mode
  std::vector<dfileptr_t> dirs;   ///< creation order
  std::vector<dfileptr_t> dirs_path;
  std::vector<dfileptr_t> files;  ///< creation order
  std::vector<dfileptr_t> files_inode, files_path;
  std::uint32_t flags = 0;  ///< pf:: bits (backends add their own)
  strlist removes;
  strelist removeany;
  strlist targets;
  varlist replaces, upgrades, dependency, requires_, subpackages;  // requires_: "requires" is a C++ keyword
  strlist verbatim;
  std::vector<attrent> allfiles;  ///< file attribute patterns
  std::vector<attrent> alldirs;   ///< directory attribute patterns
  phase_kind defphase = PHASE_UNSET;     ///< export() directly in the package body
  access_kind defaccess = ACCESS_UNSET;  ///< access() directly in the package body
  cmpntptr_t cmpnt = nullptr;
  abs_lookup files_by_abs, dirs_by_abs;  ///< used by add_new_file/add_new_directory
  std::size_t seq = 0;  ///< position in model.packages
};

struct component {
  std::string name;  ///< the component code
  std::string version;
  std::string desc;
  std::string extra;
  varlist replaces, upgrades, dependency, requires_, subpackages;  // requires_: "requires" is a C++ keyword
  strlist verbatim;
  std::uint32_t flags = 0;  ///< cf:: bits
  cmpnt_sizes sizes;
};

/// Records made in blocks of a huge page each, so that a million entries
/// cost a few hundred allocations and page faults, and addresses never
/// move. Records are constructed one at a time as they are asked for.
template <class T>
class record_pool {
 public:
  static constexpr std::size_t PER_BLOCK = page_block::HUGE_PAGE / sizeof(T);
  static_assert(PER_BLOCK > 0 && alignof(T) <= alignof(std::max_align_t));

  record_pool() = default;
  record_pool(record_pool&& o) noexcept : blocks_(std::move(o.blocks_)), used_(o.used_) { o.used_ = 0; }
  record_pool& operator=(record_pool&& o) noexcept {
    if (this != &o) {
      clear();
      blocks_ = std::move(o.blocks_);
      used_ = o.used_;
      o.blocks_.clear();
      o.used_ = 0;
    }
    return *this;
  }
  ~record_pool() { clear(); }

  T* make() {
    if (used_ == PER_BLOCK || blocks_.empty()) {
      blocks_.emplace_back(PER_BLOCK * sizeof(T));
      used_ = 0;
    }
    return new (slot(blocks_.back(), used_++)) T();
  }
  void clear() {
    for (std::size_t b = 0; b < blocks_.size(); ++b) {
      const std::size_t n = b + 1 == blocks_.size() ? used_ : PER_BLOCK;
      for (std::size_t i = 0; i < n; ++i) std::launder(reinterpret_cast<T*>(slot(blocks_[b], i)))->~T();
    }
    blocks_.clear();
    used_ = 0;
  }

 private:
  static char* slot(const page_block& b, std::size_t i) { return b.data() + i * sizeof(T); }

  std::vector<page_block> blocks_;
  std::size_t used_ = 0;
};

/// The model of one run. Tests start fresh with `reset_model()`.
struct Model {
  std::vector<pkgptr_t> packages;   ///< creation order
  std::vector<cmpntptr_t> cmpnts;   ///< creation order
  std::vector<dfileptr_t> files;    ///< every file entry, creation order
  std::vector<dfileptr_t> dirs;     ///< every directory entry, creation order
  // Sorted by installed-path hash, for the check of files in several
  // packages. Lookups by name or full path go to the per-package arrays and
  // the declared snapshot, so no other global copy is kept: each would cost
  // eight bytes an entry that nothing reads.
  std::vector<dfileptr_t> files_path;

  // What the control file declared, taken just before the tree scan.
  bool have_snapshot = false;
  std::vector<dfileptr_t> t_files, t_files_nm, t_files_path, t_files_abs;
  std::vector<dfileptr_t> t_dirs, t_dirs_path, t_dirs_abs;

  varlist requires_;  // the global requires list ("requires" is a C++ keyword)
  strlist verbatim, removes, mandirs;
  strelist removeany;
  std::vector<attrent> allfiles, alldirs;  ///< global attribute patterns

  Arena text;  ///< every path and name text of the model
  record_pool<dfile> entries;
  std::vector<std::unique_ptr<package>> package_store;
  // Packages by name and by directory text, each in creation order, so
  // that following a chain of tens of thousands of subpackages costs a
  // lookup per link rather than a walk over every package. The keys view
  // the packages' own texts, which never change once made.
  std::unordered_map<std::string_view, std::vector<pkgptr_t>> packages_by_name, packages_by_dir;
  std::vector<std::unique_ptr<component>> cmpnt_store;
  // Components by name, the first of each name in `cmpnts`, so that a
  // product of thousands of components, or a dependency chain through
  // them, costs a probe per lookup rather than a walk over every component.
  // It takes the components of the array as lookups come.
  struct cmpnt_name {
    std::string_view operator()(const component& c) const { return c.name; }
  };
  text_index<component, cmpnt_name> cmpnts_by_name;
  std::size_t cmpnts_indexed = 0;  ///< components of `cmpnts` already in the set
};

extern Model model;

/// Drops the whole model and starts an empty one.
void reset_model();

/// Arena copy of `s` that lives as long as the model.
inline const char* model_strdup(std::string_view s) { return model.text.strdup(s); }

/// Fills abs, dist, path and nm of `entry` from `path` (an arena text).
/// `parent`, when given, is the directory entry of the same package whose
/// full path `path` continues after a "/": the hashes then go on from its
/// own, so an entry costs its name, not its whole path, however deep.
void commpaths(const char* path, std::size_t len, attrent& entry, pkgptr_t pkg,
               const attrent* parent = nullptr);
/// The same with an arena copy of `path`.
void commpaths_dup(std::string_view path, attrent& entry, pkgptr_t pkg,
                   const attrent* parent = nullptr);

/// A new file entry for `path` in `pkg`; with `check` ADD_REUSE (any
/// non-zero value) the first file of the package (in creation order) whose
/// full path is `path` is returned instead, when there is one.
dfileptr_t add_new_file(std::string_view path, pkgptr_t pkg, int check,
                        const attrent* parent = nullptr);
/// The same for directories. The text is always copied, so the caller
/// keeps `path` whatever `check` is.
dfileptr_t add_new_directory(std::string_view path, pkgptr_t pkg, int check,
                             const attrent* parent = nullptr);

/// A symbolic link's target as the model holds it (`target`), a full path
/// on the build system: a relative `text` is taken from the link's
/// directory `linkdir` (a full path), an absolute one as an installed path
/// of `pkg` unless it already names a place in the package directory.
/// Normalised ("." and ".." folded); nullopt when that fails.
std::optional<std::string> link_target_path(const package& pkg, std::string_view linkdir,
                                            std::string_view text);

/// A new package, or the existing one (with an error when `defined`).
pkgptr_t new_package(std::string_view dir, std::string_view desc, std::string_view name,
                     std::string_view extra, int defined);
/// The first package not ignored whose reldir is `dir` or whose name is `name`
/// (either may be null); in flat mode the only package.
pkgptr_t find_package(const char* dir, const char* name);

/// A new component, or the existing one (with an error when `defined`).
cmpntptr_t new_cmpnt(std::string_view name, std::string_view version, std::string_view desc,
                     std::string_view extra, int defined);
/// The first component named `name`, or null.
cmpntptr_t find_cmpnt(std::string_view name);

/// Guess from the installed path whether a file is GUESS_VARIABLE or
/// GUESS_STATIC; writes a suggested mode and, for shared libraries, PHASE_EARLY.
int likely_filetype(const char* path, std::uint32_t& mode, std::int32_t& phase);
