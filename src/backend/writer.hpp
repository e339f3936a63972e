// What the writers do the same way, whatever their format: the order in
// which a package's entries are written and each written once, the walk
// over a file's hard links, the owner and group names of an entry, and
// where a symbolic link's target lies. The lines themselves stay with each
// backend.
#pragma once

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "model/model.hpp"

/// Marks, shared by the writers, of an entry already written: a package
/// written twice (for two components, say) repeats none of its entries.
/// They are the bits that also mark what the system-directory pass left
/// out, so those entries are never written either.
namespace written {
inline constexpr std::uint32_t DIR = sf::DIR_LEFT_OUT;
inline constexpr std::uint32_t FILE = sf::FILE_MANSRC;
}  // namespace written

/// The format lines of one package's entries; write_entries calls them in
/// output order, each for an entry not excluded and not written yet.
class EntryWriter {
 public:
  virtual ~EntryWriter() = default;
  /// A directory that is not a symbolic link (never the package root).
  virtual void directory(dfileptr_t d) = 0;
  /// A symbolic link to a directory.
  virtual void directory_link(dfileptr_t d) = 0;
  /// After the directories, before the first file.
  virtual void before_files(const package& p) = 0;
  /// A file or a symbolic link to one; it is marked written already.
  virtual void file(dfileptr_t f) = 0;
};

/// Writes `p`'s directories, then its directory links, then its files,
/// each in the package's order, marking each written.
void write_entries(const package& p, EntryWriter& w);

/// Calls `write(g)` for every other name of `f`'s inode in `p` that is not
/// excluded, converted or written yet, in inode order, marking it written
/// first; `f` itself is marked written already.
template <class Write>
void write_hard_links(const package& p, const dfile& f, Write write) {
  const std::vector<dfileptr_t>& byino = p.files_inode;
  auto it = std::lower_bound(byino.begin(), byino.end(), f.ino,
                             [](dfileptr_t e, std::uint64_t ino) { return e->ino < ino; });
  for (; it != byino.end() && (*it)->ino == f.ino; ++it) {
    dfileptr_t g = *it;
    if ((g->aflags & (af::EXCLUDED | af::CONVERTED)) || (g->sflags & written::FILE)) continue;
    g->sflags |= written::FILE;
    write(g);
  }
}

/// The owner name of `e` in package `p`: the name the control file gave,
/// else the user name of its uid. Null, after an error naming the entry,
/// when the uid has no name.
const char* owner_name(const package& p, const dfile& e);
/// The group name likewise.
const char* group_name(const package& p, const dfile& e);

/// The installed path that a symbolic link's `target` names when it lies
/// in package `p` ("/" for the package root itself), else nullopt.
std::optional<std::string_view> target_in_package(const package& p, const path_t& target);
/// `target` from the dist directory on when it lies below it, else whole.
std::string_view target_from_dist(const path_t& target);

/// Appends `value` in octal digits, without padding, as "%o" writes it.
/// The writers put one mode on every entry line; a printf call per line
/// cost more than the rest of the line together.
inline void append_octal(std::string& out, std::uint32_t value) {
  char digits[11];  // 32 bits are at most 11 octal digits
  const auto end = std::to_chars(digits, digits + sizeof digits, value, 8).ptr;
  out.append(digits, end);
}
