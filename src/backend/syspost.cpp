#include "backend/syspost.hpp"

#include <fnmatch.h>

#include <algorithm>
#include <string>
#include <vector>

#include "backend/backend.hpp"
#include "common/diag.hpp"
#include "model/settings.hpp"

namespace {

/// A path or extension with its hash; tables are sorted by (hash, text) so
/// a lookup is a bisection on the hash followed by a text comparison.
struct hashed_text {
  std::uint32_t hash;
  std::string_view text;
  int index;
};

bool hashed_less(const hashed_text& a, const hashed_text& b) {
  return a.hash != b.hash ? a.hash < b.hash : a.text < b.text;
}

int find_hashed(const std::vector<hashed_text>& table, std::uint32_t hash, std::string_view text) {
  auto it = std::lower_bound(table.begin(), table.end(), hash,
                             [](const hashed_text& e, std::uint32_t h) { return e.hash < h; });
  for (; it != table.end() && it->hash == hash; ++it)
    if (it->text == text) return it->index;
  return -1;
}

std::vector<hashed_text> make_table(const std::vector<std::string>& texts) {
  std::vector<hashed_text> t;
  t.reserve(texts.size());
  for (std::size_t i = 0; i < texts.size(); ++i)
    t.push_back({mkhashval(texts[i]), texts[i], static_cast<int>(i)});
  std::sort(t.begin(), t.end(), hashed_less);
  return t;
}

constexpr int MAN_FIRST = 16;  // first manual-page section directory
constexpr int MAN_LAST = 81;
constexpr int USR_MAN = 82;

// The well-known directories in table order; the texts live as long as the
// process, so the table's views stay valid.
const std::vector<std::string>& sysdir_texts() {
  static const std::vector<std::string> texts = [] {
    std::vector<std::string> v = {"/usr",         "/var",           "/opt",
                                  "/usr/lib",     "/usr/share",     "/usr/share/doc",
                                  "/usr/share/meta", "/usr/include", "/dev",
                                  "/bin",         "/shlib",         "/ibin",
                                  "/usr/bin",     "/lib",           "/etc",
                                  "/etc/default"};
    for (const char* stem : {"/usr/man/man", "/usr/man/man.", "/usr/gnu/man/man",
                             "/usr/local/man/man", "/usr/gnu/man/man.", "/usr/local/man/man."})
      for (char s : std::string_view("123456789nl")) v.push_back(std::string(stem) + s);
    v.push_back("/usr/man");
    return v;
  }();
  return texts;
}

const std::vector<hashed_text>& sysdir_table() {
  static const std::vector<hashed_text> table = make_table(sysdir_texts());
  return table;
}

const std::vector<hashed_text>& extension_table() {
  static const std::vector<std::string> texts = {".Z",   ".gz",  ".bz2", ".z",  ".tgz",
                                                 ".zip", ".jar", ".jpg", ".mp3"};
  static const std::vector<hashed_text> table = make_table(texts);
  return table;
}

/// One row of the directory defaults.
struct sysdir_row {
  std::uint32_t uid, gid, mode;
  std::uint32_t set;    ///< "given" bits set
  std::uint32_t clear;  ///< "given" bits cleared
  bool done;            ///< false: the directory may still be a manual-page directory
};

constexpr std::uint32_t GIVEN = af::UID | af::GID | af::MODE;

constexpr sysdir_row ROW_USR{0, 21, 0775, GIVEN, 0, true};
constexpr sysdir_row ROW_VAR{0, 3, 0755, af::UID | af::GID, af::MODE, true};
constexpr sysdir_row ROW_OPT{0, 0, 0755, af::UID | af::GID, af::MODE, true};
constexpr sysdir_row ROW_SYSTEM{DEFAULT_ID, DEFAULT_ID, 0755, 0, GIVEN, false};
constexpr sysdir_row ROW_BIN{DEFAULT_ID, DEFAULT_ID, 0775, af::MODE, af::UID | af::GID, true};
constexpr sysdir_row ROW_ETC{DEFAULT_ID, 21, 0775, af::GID | af::MODE, af::UID, true};
constexpr sysdir_row ROW_ETC_DEFAULT{0, 21, 0775, GIVEN, 0, true};

bool parent_is_usr_man(std::string_view path) {
  auto slash = path.rfind('/');
  return slash != std::string_view::npos && path.substr(0, slash) == sysdir_texts()[USR_MAN];
}

/// The row for a directory at table position `index` (-1: not in the table), or null.
const sysdir_row* sysdir_row_for(int index, std::string_view path) {
  switch (index) {
    case 0: return &ROW_USR;
    case 1: return &ROW_VAR;
    case 2: return &ROW_OPT;
    case 12: case 13: return &ROW_BIN;
    case 14: return &ROW_ETC;
    case 15: return &ROW_ETC_DEFAULT;
    default: break;
  }
  if ((index >= 3 && index <= 11) || parent_is_usr_man(path)) return &ROW_SYSTEM;
  return nullptr;
}

void apply_sysdir_row(dfile& d, const sysdir_row& row, const syspost_marks& marks) {
  d.uid = row.uid;
  d.gid = row.gid;
  d.mode = row.mode;
  d.aflags = (d.aflags & ~row.clear) | row.set | marks.sysdir_aflags;
}

bool is_man_source_name(const char* name) {
  static const char* const patterns[] = {"*.[0-9nl]", "*.[0-9nl].Z", "*.[0-9nl].gz",
                                         "*.[0-9nl].bz2", "*.[0-9nl].z"};
  for (const char* p : patterns)
    if (fnmatch(p, name, 0) == 0) return true;
  return false;
}

/// Leaves out the unformatted pages of manual-page directory `d`, and `d`
/// itself when nothing else was in it.
void leave_out_man_sources(dfile& d) {
  std::size_t left_out = 0;
  for (dfileptr_t f : d.files()) {
    if (f->excluded() || (f->sflags & sf::FILE_MANSRC)) continue;
    if (!is_man_source_name(std::string(f->nm.sv()).c_str())) continue;
    debug(5, "ignoring man source file `%s'\n", std::string(f->dist()).c_str());
    f->sflags |= sf::FILE_MANSRC;
    f->aflags |= af::EXCLUDED;
    ++left_out;
  }
  if (left_out == d.files().size()) {
    d.sflags |= sf::DIR_LEFT_OUT;
    d.aflags |= af::EXCLUDED;
  }
}

}  // namespace

int sysdir_index(std::string_view path) {
  return find_hashed(sysdir_table(), mkhashval(path), path);
}

int syspost_postproc(const syspost_marks& marks) {
  const std::vector<hashed_text>& table = sysdir_table();
  // The control file's extra manual-page directories, indexed once so the
  // walk over a million directories stays a bisection per directory.
  std::vector<std::string> mandir_texts;
  for (const strnode& n : model.mandirs) mandir_texts.push_back(n.str);
  const std::vector<hashed_text> mandirs = make_table(mandir_texts);

  for (dfileptr_t d : model.dirs) {
    if (d->excluded()) continue;
    const std::string_view path = d->path.sv();
    const int index = find_hashed(table, d->path.hash, path);
    if (const sysdir_row* row = sysdir_row_for(index, path)) {
      apply_sysdir_row(*d, *row, marks);
      if (row->done) continue;
    }
    if (opts.mmode) continue;
    const bool mandir = (index >= MAN_FIRST && index <= MAN_LAST) ||
                        find_hashed(mandirs, d->path.hash, path) >= 0;
    if (mandir) leave_out_man_sources(*d);
  }
  return 1;
}

bool has_nocompress_extension(const dfile& file) {
  const std::string_view path = file.path.sv();
  const auto dot = path.rfind('.');
  if (dot == std::string_view::npos) return false;
  const std::string_view ext = path.substr(dot);
  return find_hashed(extension_table(), mkhashval(ext), ext) >= 0;
}

void syspost_mark_nocompress(const syspost_marks& marks) {
  for (dfileptr_t f : model.files) {
    if (f->excluded() || (f->sflags & sf::FILE_MANSRC)) continue;
    if (has_nocompress_extension(*f)) f->sflags |= marks.nocompress_sflags;
  }
}
