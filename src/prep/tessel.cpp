// The manual-page formatter. The directory's pages are read into a table,
// the table is settled in passes (duplicates, links, compressed sources,
// include pages), and only then do the commands run, so that every other
// name of a page ends up as a link to the one formatted page.
#include "prep/tessel.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <unordered_map>
#include <vector>

#include "common/abspath.hpp"
#include "common/diag.hpp"
#include "common/fileio.hpp"
#include "prep/confine.hpp"
#include "prep/shellcmd.hpp"

#ifndef CORVANE_GROFF
#define CORVANE_GROFF "/usr/gnu/bin/groff"
#endif

const std::string& default_fmtcmd() {
  static const std::string cmd = CORVANE_GROFF " -P -c -s -t -Tascii -mandoc";
  return cmd;
}

const std::string& default_compcmd() {
  // Without -f, compress leaves a file alone (and fails) when compressing
  // would not make it smaller, which small pages often are.
  static const std::string cmd = "compress -f";
  return cmd;
}

ManFormatter default_formatter() {
  return {default_fmtcmd(), default_compcmd(), "> /dev/null 2>&1", "2> /dev/null"};
}

ManFormatter manfmt = default_formatter();

void reset_formatter() { manfmt = default_formatter(); }

namespace {

/// Bits of manpage::flags.
namespace mpf {
/// Takes no further part: not a page, or a compressed duplicate already removed.
inline constexpr std::uint32_t dropped = 1;
/// The source carries a compression suffix (.gz, .bz2, .z, .Z).
inline constexpr std::uint32_t compressed = 2;
/// Another name of a formatted page: removed here, becomes a link.
inline constexpr std::uint32_t duplicate = 4;
/// The source has been decompressed.
inline constexpr std::uint32_t decompressed = 8;
/// The directory entry is a symbolic link.
inline constexpr std::uint32_t symlink = 16;
/// The page is formatted.
inline constexpr std::uint32_t format = 32;
/// A simple ".so" include page of another page of the directory.
inline constexpr std::uint32_t soinclude = 64;
}  // namespace mpf

/// A file as the file system knows it; a link to another file system can
/// carry an inode number that also occurs here.
struct file_id {
  dev_t dev = 0;
  ino_t ino = 0;
  bool operator==(const file_id&) const = default;
};

struct file_id_hash {
  std::size_t operator()(const file_id& f) const {
    return std::hash<ino_t>()(f.ino) ^ (std::hash<dev_t>()(f.dev) << 1);
  }
};

constexpr std::size_t none = static_cast<std::size_t>(-1);

struct manpage {
  std::string name;          ///< file name; without its compression suffix once decompressed
  file_id id;                ///< the file's (a link's target's; an include page's target's)
  std::uint32_t flags = 0;   ///< mpf bits
};

/// One section directory being formatted.
struct mandir_state {
  std::string mandir;    ///< absolute path of the section directory
  std::string mdirname;  ///< its last component, "man1"
  std::string parent;    ///< the directory holding both, where the commands run
  std::string catdir;    ///< absolute path of the cat directory
  std::string cdirname;  ///< its last component, "cat1"
  std::vector<manpage> pages;
  /// Pages of each file in table order; ids of include pages are not re-indexed.
  std::unordered_map<file_id, std::vector<std::size_t>, file_id_hash> by_id;
  /// Table index of each original file name.
  std::unordered_map<std::string, std::size_t> by_name;
  /// The include page each file became (by the file's own id), so that its
  /// other names, and include pages of it, reach the page finally formatted.
  std::unordered_map<file_id, std::size_t, file_id_hash> include_of;

  std::string in_man(const std::string& name) const { return mandir + "/" + name; }
  std::string in_cat(const std::string& name) const { return catdir + "/" + name; }
};

constexpr const char* compression_suffixes[] = {".gz", ".Z", ".z", ".bz2"};

/// Length of the compression suffix `name` ends in, 0 for none.
std::size_t compression_suffix(const std::string& name) {
  for (const char* s : compression_suffixes) {
    std::string_view suf(s);
    if (name.size() > suf.size() && std::string_view(name).ends_with(suf)) return suf.size();
  }
  return 0;
}

void remove_formatted_forms(const mandir_state& st, const std::string& name) {
  std::string path = st.in_cat(name);
  unlink(path.c_str());
  for (const char* s : compression_suffixes) unlink((path + s).c_str());
}

void remove_all_formatted(const mandir_state& st, const std::string& name) {
  remove_formatted_forms(st, name);
  if (std::size_t n = compression_suffix(name)) remove_formatted_forms(st, name.substr(0, name.size() - n));
}

void drop_page(mandir_state& st, std::size_t i, bool unlinkit) {
  manpage& p = st.pages[i];
  p.flags |= mpf::dropped;
  if (!unlinkit) return;
  unlink(st.in_man(p.name).c_str());
  remove_all_formatted(st, p.name);
}

void remove_reference(mandir_state& st, const std::string& name, bool unlinkit, file_id id) {
  if (auto it = st.by_name.find(name); it != st.by_name.end()) {
    if (!(st.pages[it->second].flags & mpf::dropped)) drop_page(st, it->second, unlinkit);
  }
  if (auto it = st.by_id.find(id); it != st.by_id.end()) {
    for (std::size_t j : it->second) {
      if (!(st.pages[j].flags & mpf::dropped)) drop_page(st, j, unlinkit);
    }
  }
}

void ignore_all_references(mandir_state& st, const std::string& name, file_id id) {
  remove_reference(st, name, false, id);
}

void add_page(mandir_state& st, const std::string& name, const struct stat& s, std::uint32_t flags) {
  std::size_t i = st.pages.size();
  st.pages.push_back({name, {s.st_dev, s.st_ino}, flags});
  st.by_id[st.pages[i].id].push_back(i);
  st.by_name.emplace(name, i);
}

/// Preparation writes only where it may: in corvane the section and cat
/// directories must be real directories inside the dist directory; where
/// no tree is known, a cat directory that is a link must not lead out of
/// the directory holding both.
bool directories_allowed(const mandir_state& st) {
  if (manfmt.tree && *manfmt.tree) {
    const std::string& tree = **manfmt.tree;
    return directory_inside_tree(st.mandir, tree) && directory_inside_tree(st.catdir, tree);
  }
  return link_stays_within(st.catdir, st.parent);
}

/// Directory set-up: paths of the section and cat directories; a tesselrc code.
int setup_directories(mandir_state& st, const char* dir, std::vector<std::string>& names) {
  std::string_view arg(dir);
  std::size_t slash = arg.rfind('/');
  if (slash == std::string_view::npos) return tesselrc::no_slash;
  if (!arg.substr(slash + 1).starts_with("man")) return tesselrc::not_man;
  auto abs = abspath(arg);
  if (!abs) {
    // With a "/" in the argument the only call that can fail is getcwd.
    perror_label("\ngetcwd");
    error("failed to get full path for `%s'.\n", dir);
    return tesselrc::no_abspath;
  }
  st.mandir = *abs;
  slash = st.mandir.rfind('/');
  st.mdirname = st.mandir.substr(slash + 1);
  st.parent = slash == 0 ? "/" : st.mandir.substr(0, slash);
  st.cdirname = "cat" + st.mdirname.substr(3);
  st.catdir = (slash == 0 ? "" : st.parent) + "/" + st.cdirname;
  if (!directories_allowed(st)) return tesselrc::refused;
  if (!read_dir_sorted(st.mandir.c_str(), names)) return tesselrc::no_open;
  struct stat s;
  if (stat(st.catdir.c_str(), &s) != 0 || !S_ISDIR(s.st_mode)) {
    if (mkdir(st.catdir.c_str(), 0755) != 0) return tesselrc::no_catdir;
  }
  return tesselrc::ok;
}

/// Page table: one entry per regular file (or link to one).
int read_pages(mandir_state& st, const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    if (name[0] == '.') continue;
    std::string path = st.in_man(name);
    struct stat s;
    if (lstat(path.c_str(), &s) != 0) {
      perror_label("\nlstat");
      error("failed to stat `%s/%s'.\n", st.mandir.c_str(), name.c_str());
      return tesselrc::lstat_failed;
    }
    if (S_ISDIR(s.st_mode)) continue;
    std::uint32_t flags = S_ISLNK(s.st_mode) ? mpf::symlink : 0;
    if (stat(path.c_str(), &s) != 0) {
      // A link to a page that exists only once installed is left as it is.
      if ((flags & mpf::symlink) && (errno == ENOENT || errno == ELOOP)) continue;
      perror_label("\nstat");
      error("failed to stat `%s/%s'.\n", st.mandir.c_str(), name.c_str());
      return tesselrc::stat_failed;
    }
    if (S_ISREG(s.st_mode)) add_page(st, name, s, flags);
  }
  return tesselrc::ok;
}

/// True when `plain` is a regular file that is not just another name of `id`.
bool separate_uncompressed_page(const mandir_state& st, const std::string& plain, file_id id) {
  struct stat s;
  if (stat(st.in_man(plain).c_str(), &s) != 0 || !S_ISREG(s.st_mode)) return false;
  return file_id{s.st_dev, s.st_ino} != id;
}

/// First pass: pages without a section, compressed duplicates, link targets.
void first_pass(mandir_state& st) {
  for (std::size_t i = 0; i < st.pages.size(); ++i) {
    if (st.pages[i].flags & mpf::dropped) continue;
    const std::string name = st.pages[i].name;
    const file_id id = st.pages[i].id;
    if (name.find('.') == std::string::npos) {
      ignore_all_references(st, name, id);
      continue;
    }
    remove_all_formatted(st, name);
    if (std::size_t n = compression_suffix(name)) {
      st.pages[i].flags |= mpf::compressed;
      // The uncompressed page wins; when both names are one file they are
      // settled as links instead, or the page itself would be removed.
      if (separate_uncompressed_page(st, name.substr(0, name.size() - n), id))
        remove_reference(st, name, true, id);
    }
    if ((st.pages[i].flags & (mpf::symlink | mpf::dropped)) != mpf::symlink) continue;
    for (std::size_t j : st.by_id[id]) {
      if (j != i && !(st.pages[j].flags & (mpf::dropped | mpf::symlink))) {
        st.pages[j].flags |= mpf::format;
        break;
      }
    }
  }
}

/// Second pass: of several names of one file only the first (or a link's target) stays.
void second_pass(mandir_state& st) {
  for (std::size_t i = 0; i < st.pages.size(); ++i) {
    if (st.pages[i].flags & (mpf::dropped | mpf::duplicate)) continue;
    for (std::size_t j : st.by_id[st.pages[i].id]) {
      manpage& o = st.pages[j];
      if (j == i || (o.flags & (mpf::dropped | mpf::format))) continue;
      o.flags |= mpf::duplicate;
      unlink(st.in_man(o.name).c_str());
    }
  }
}

/// Remaining pages: every page not otherwise settled is formatted.
void mark_remaining(mandir_state& st) {
  for (manpage& p : st.pages) {
    if (!(p.flags & (mpf::dropped | mpf::duplicate | mpf::symlink | mpf::format))) p.flags |= mpf::format;
  }
}

/// Decompression: compressed sources are decompressed in place.
int decompress_pages(mandir_state& st) {
  for (manpage& p : st.pages) {
    // A link left as it is points outside the directory: not ours to change.
    if ((p.flags & (mpf::compressed | mpf::dropped | mpf::duplicate | mpf::symlink)) != mpf::compressed)
      continue;
    std::string tool = p.name.ends_with(".bz2") ? "bunzip2 -f " : "gunzip -f ";
    std::string cmd = tool + shell_operand(p.name) + " > /dev/null 2>&1";
    if (int rc = run_shell(cmd, st.mandir.c_str())) {
      error("command `%s' returned %d.\n", cmd.c_str(), rc);
      return tesselrc::decompress_failed;
    }
    p.flags |= mpf::decompressed;
  }
  for (manpage& p : st.pages) {
    // erase, not resize: g++ 12 at -O2 wrongly warns of an overlapping copy in resize.
    if ((p.flags & (mpf::compressed | mpf::dropped)) == mpf::compressed)
      p.name.erase(p.name.size() - compression_suffix(p.name));
  }
  return tesselrc::ok;
}

/// The first page other than `self` now named `name` that is neither
/// dropped nor an include page itself.
std::size_t find_include_target(const mandir_state& st,
                                const std::unordered_multimap<std::string, std::size_t>& names,
                                const std::string& name, std::size_t self) {
  std::size_t best = none;
  auto [lo, hi] = names.equal_range(name);
  for (auto it = lo; it != hi; ++it) {
    std::size_t j = it->second;
    if (j == self || (st.pages[j].flags & (mpf::dropped | mpf::soinclude))) continue;
    if (j < best) best = j;
  }
  return best;
}

/// Include pages: simple include pages become links to the page they include.
int resolve_include_pages(mandir_state& st) {
  std::unordered_multimap<std::string, std::size_t> names;
  for (std::size_t i = 0; i < st.pages.size(); ++i) names.emplace(st.pages[i].name, i);
  for (std::size_t i = 0; i < st.pages.size(); ++i) {
    if (st.pages[i].flags & (mpf::dropped | mpf::duplicate | mpf::symlink)) continue;
    auto so = tessel_isso(st.in_man(st.pages[i].name), st.mdirname);
    if (!so) continue;
    std::size_t j = find_include_target(st, names, *so, i);
    // Naming no page here, the include page is the only copy: format it.
    if (j == none) continue;
    manpage& target = st.pages[j];
    if (target.flags & mpf::symlink) {
      // The section marks keep ".so" from being taken as the end of a sentence.
      error("in directory `%s', the manual page `%s' is a simple '\x02.so include\x02' file, but the file it "
            "points to (`%s') was a symbolic link to another file. This confuses me.\n",
            st.mandir.c_str(), st.pages[i].name.c_str(), so->c_str());
      return tesselrc::so_to_link;
    }
    manpage& p = st.pages[i];
    unlink(st.in_man(p.name).c_str());
    p.flags = (p.flags | mpf::duplicate | mpf::soinclude) & ~mpf::format;
    // A removed duplicate is reached through its file's formatted page.
    if (!(target.flags & mpf::duplicate)) target.flags |= mpf::format;
    st.include_of.emplace(p.id, i);
    p.id = target.id;
  }
  return tesselrc::ok;
}

bool formatted(const manpage& p) { return (p.flags & (mpf::format | mpf::dropped)) == mpf::format; }

/// Size of the file `path`, 0 when it cannot be looked at.
std::uint64_t file_size(const std::string& path) {
  struct stat s;
  return stat(path.c_str(), &s) == 0 ? static_cast<std::uint64_t>(s.st_size) : 0;
}

/// Formatting of one page. A formatter that exits 0 without output (groff on
/// a ".so" to a missing page) or a compressor that writes nothing has
/// failed as much as one that says so; the page it left is removed, so
/// that no empty page is taken for a formatted one.
int format_page(const mandir_state& st, const manpage& p) {
  const ManFormatter& f = manfmt;
  std::string source = st.mdirname + "/" + p.name;
  std::string left = strprintf("%s %s %s", f.fmtcmd.c_str(), shell_word(source).c_str(), f.null2cmd.c_str());
  std::string right = strprintf("%s > %s %s", f.compcmd.c_str(),
                                shell_word(st.cdirname + "/" + p.name + ".Z").c_str(), f.null2cmd.c_str());
  std::string page = st.in_cat(p.name + ".Z");
  PipelineResult r = run_shell_pipeline(left, right, st.parent.c_str());
  if (r.status != 0) {
    error("command `%s' returned %d.\n", (left + " | " + right).c_str(), r.status);
  } else if (r.bytes == 0 && file_size(st.in_man(p.name)) > 0) {
    error("command `%s' produced no output.\n", left.c_str());
  } else if (r.bytes > 0 && file_size(page) == 0) {
    error("command `%s' produced no output.\n", right.c_str());
  } else {
    return tesselrc::ok;
  }
  unlink(page.c_str());
  return tesselrc::format_failed;
}

/// Formatting and compression: format each page into the cat directory, then
/// compress its source.
int format_pages(const mandir_state& st) {
  const ManFormatter& f = manfmt;
  for (const manpage& p : st.pages) {
    if (!formatted(p)) continue;
    if (int rc = format_page(st, p)) return rc;
  }
  for (const manpage& p : st.pages) {
    if (!formatted(p)) continue;
    std::string cmd = strprintf("%s %s %s", f.compcmd.c_str(),
                                shell_word(st.mdirname + "/" + p.name).c_str(), f.nullcmd.c_str());
    if (int rc = run_shell(cmd, st.parent.c_str())) {
      error("command `%s' returned %d.\n", cmd.c_str(), rc);
      return tesselrc::compress_failed;
    }
  }
  return tesselrc::ok;
}

/// The first formatted page of file `id`, following include pages.
std::size_t formatted_page_of(const mandir_state& st, file_id id,
                              const std::unordered_map<file_id, std::size_t, file_id_hash>& first) {
  for (std::size_t steps = 0; steps <= st.pages.size(); ++steps) {
    if (auto it = first.find(id); it != first.end()) return it->second;
    auto inc = st.include_of.find(id);
    if (inc == st.include_of.end()) break;
    id = st.pages[inc->second].id;
  }
  return none;
}

/// Links: every other name of a formatted page links to it in both directories.
void link_pages(const mandir_state& st) {
  std::unordered_map<file_id, std::size_t, file_id_hash> first_formatted;
  for (std::size_t i = 0; i < st.pages.size(); ++i) {
    if (formatted(st.pages[i])) first_formatted.emplace(st.pages[i].id, i);
  }
  for (std::size_t i = 0; i < st.pages.size(); ++i) {
    const manpage& p = st.pages[i];
    if (p.flags & (mpf::dropped | mpf::format)) continue;
    std::size_t f = formatted_page_of(st, p.id, first_formatted);
    if (f == none || f == i) continue;
    std::string target = st.pages[f].name + ".Z";
    symlink(target.c_str(), st.in_man(p.name + ".Z").c_str());
    symlink(target.c_str(), st.in_cat(p.name + ".Z").c_str());
  }
}

/// Reads one line (with its line end) of any length; false at end of file.
bool read_line(FILE* f, std::string& line) {
  line.clear();
  int c;
  while ((c = std::getc(f)) != EOF) {
    line += static_cast<char>(c);
    if (c == '\n') break;
  }
  return !line.empty();
}

}  // namespace

std::optional<std::string> tessel_isso(const std::string& path, const std::string& mdirname) {
  // Only a regular file is read: a fifo put in its place would never end.
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat s;
  if (fstat(fd, &s) != 0 || !S_ISREG(s.st_mode)) {
    close(fd);
    return std::nullopt;
  }
  std::unique_ptr<FILE, int (*)(FILE*)> f(fdopen(fd, "r"), &std::fclose);
  if (!f) {
    close(fd);
    return std::nullopt;
  }
  std::string line, arg;
  int count = 0;
  while (read_line(f.get(), line)) {
    if (!line.starts_with(".so ")) continue;
    ++count;
    arg = line.substr(4);
    if (arg.ends_with('\n')) arg.pop_back();
    if (arg.ends_with('\r')) arg.pop_back();
  }
  if (count != 1) return std::nullopt;
  std::size_t slash = arg.find('/');
  if (slash == std::string::npos) return arg;
  if (arg.compare(0, slash, mdirname) != 0) return std::nullopt;
  return arg.substr(slash + 1);
}

int tessel_directory(const char* dir) {
  mandir_state st;
  std::vector<std::string> names;
  if (int rc = setup_directories(st, dir, names)) return rc;
  if (int rc = read_pages(st, names)) return rc;
  first_pass(st);
  second_pass(st);
  mark_remaining(st);
  if (int rc = decompress_pages(st)) return rc;
  if (int rc = resolve_include_pages(st)) return rc;
  if (int rc = format_pages(st)) return rc;
  link_pages(st);
  return tesselrc::ok;
}
