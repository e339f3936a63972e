// Listing the directories of one package tree into model records: removal
// lists first, then the entry's own status, symbolic-link resolution, the
// backend's say on every entry, and the attribute patterns.
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "backend/backend.hpp"
#include "common/diag.hpp"
#include "common/fileio.hpp"
#include "model/index.hpp"
#include "model/settings.hpp"
#include "scan/dirread.hpp"
#include "scan/scan.hpp"
#include "scan/treereader.hpp"

namespace {

// A removal list sorted by hash and then text, so that a tree of a million
// entries against a list of a thousand paths costs a bisection per entry,
// also when a hostile list holds many paths of one hash.
class remlist_index {
 public:
  void build(const strlist* list) {
    src_ = list;
    keys_.clear();
    if (!list) return;
    for (const strnode& n : *list) keys_.emplace_back(n.hash, &n.str);
    std::sort(keys_.begin(), keys_.end(), [](const key& a, const key& b) {
      return a.first != b.first ? a.first < b.first : *a.second < *b.second;
    });
  }
  const strlist* source() const { return src_; }
  bool contains(std::string_view path, std::uint32_t h) const {
    auto it = std::lower_bound(keys_.begin(), keys_.end(), h, [path](const key& k, std::uint32_t v) {
      return k.first != v ? k.first < v : std::string_view(*k.second) < path;
    });
    return it != keys_.end() && it->first == h && *it->second == path;
  }

 private:
  using key = std::pair<std::uint32_t, const std::string*>;
  const strlist* src_ = nullptr;
  std::vector<key> keys_;
};

// One directory being listed: its record, the level the backend is told
// for it and its entries, what the reader found in it and the next entry
// to examine.
struct listing {
  dfileptr_t dir = nullptr;
  int level = LEVEL_BELOW;
  std::unique_ptr<tree_item> read;
  std::size_t next = 0;

  const dir_batch& batch() const { return read->batch; }
};

// What the walk over one package directory reuses for every entry; it
// lives as long as the walk, so nothing of a scan outlasts it.
struct package_walk {
  // The package's removal lists sorted for lookup, made when the walk
  // begins; outside a walk the lists are searched as they are.
  remlist_index global_removes, pkg_removes;
  std::string path;     ///< buffer of the full path of the entry being examined
  std::string tgtbuf;   ///< resolved symbolic-link target; empty for other entries
  // Reads the package's tree ahead, on a thread of its own, from the
  // moment the walk begins; the walk takes each directory from it.
  std::optional<tree_reader> reader;
  // The directories from the package root down to the one being listed,
  // held here rather than on the machine stack, so a tree may be as deep
  // as the file system allows.
  std::deque<listing> listings;
  std::size_t depth = 0;

  explicit package_walk(pkgptr_t pkg) {
    global_removes.build(&model.removes);
    pkg_removes.build(&pkg->removes);
  }
};

// True when `path` (with hash `h`) is in `list`, through the walk's index
// when one covers the list.
bool in_remlist(const package_walk* w, const strlist& list, std::string_view path, std::uint32_t h) {
  if (list.empty()) return false;
  if (w)
    for (const remlist_index* idx : {&w->global_removes, &w->pkg_removes})
      if (idx->source() == &list) return idx->contains(path, h);
  return find_strlist(path, list) != nullptr;
}

int in_remlist(const package_walk* w, const strlist& list, std::string_view path) {
  if (list.empty()) return 0;
  return in_remlist(w, list, path, mkhashval(path)) ? 1 : 0;
}

bool entry_removed(const package_walk& w, pkgptr_t pkg, const char* inst, std::size_t len) {
  if (!model.removes.empty() || !pkg->removes.empty()) {
    std::string_view path(inst, len);
    const std::uint32_t h = mkhashval(path);
    if (in_remlist(&w, model.removes, path, h) || in_remlist(&w, pkg->removes, path, h)) return true;
  }
  return check_remlist_wc(model.removeany, inst) || check_remlist_wc(pkg->removeany, inst);
}

int target_removed(const package_walk* w, pkgptr_t pkg, const char* target_in_package,
                   const char* target_in_dist) {
  if (target_in_package && in_remlist(w, pkg->removes, target_in_package)) return 1;
  if (target_in_dist && in_remlist(w, model.removes, target_in_dist)) return 1;
  if (target_in_package && check_remlist_wc(pkg->removeany, target_in_package)) return 1;
  if (target_in_dist && check_remlist_wc(model.removeany, target_in_dist)) return 1;
  return 0;
}

// What the scan keeps of an entry's status.
struct entry_info {
  mode_t mode = 0;  ///< of what was found (a link's target)
  uid_t uid = 0;
  gid_t gid = 0;
  nlink_t nlink = 0;
  off_t size = 0;
  ino_t ino = 0;    ///< of the entry itself (the link for a link)
  bool link = false;
};

// True when `path` is `prefix` or lies below it.
bool lies_within(std::string_view path, std::string_view prefix) {
  return path.starts_with(prefix) && (path.size() == prefix.size() || path[prefix.size()] == '/');
}

// The target of the link `full` as a path on the build system.
bool resolve_link(package_walk& w, dfileptr_t dir, pkgptr_t pkg, const std::string& full,
                  std::string_view text) {
  auto resolved = link_target_path(*pkg, dir->abs.sv(), text);
  if (!resolved) {
    perror_label("\nabspath");
    error("failed to process `%s'.\n", full.c_str());
    return false;
  }
  w.tgtbuf = std::move(*resolved);
  return true;
}

// The entry `e` of `batch` (in `dir`, full path `full`) as the reader found
// it, a symbolic link resolved and its target's status taken. False (after
// reporting the failure the reader met) when the entry is skipped.
bool stat_entry(package_walk& w, dfileptr_t dir, pkgptr_t pkg, const dir_batch& batch,
                const read_entry& e, const std::string& full, entry_info& info) {
  if (e.stat_errno) {
    errno = e.stat_errno;
    perror_label("\nlstat");
    error("could not stat `%s'.\n", full.c_str());
    return false;
  }
  info.ino = e.ino;
  info.link = S_ISLNK(e.mode);
  info.mode = e.mode;
  info.uid = e.uid;
  info.gid = e.gid;
  info.nlink = e.nlink;
  info.size = e.size;
  w.tgtbuf.clear();
  if (!info.link) return true;
  if (e.link_errno) {
    errno = e.link_errno;
    perror_label("\nreadlink");
    error("could not read symlink `%s'.\n", full.c_str());
    return false;
  }
  if (!resolve_link(w, dir, pkg, full, batch.link(e))) return false;
  struct stat followed;
  if (!stat_any_length(w.tgtbuf, followed)) {
    perror_label("\nstat");
    error("could not stat `%s', which is what the symbolic link `%s' points to.\n",
          w.tgtbuf.c_str(), full.c_str());
    return false;
  }
  info.mode = followed.st_mode;
  info.uid = followed.st_uid;
  info.gid = followed.st_gid;
  info.nlink = followed.st_nlink;
  info.size = followed.st_size;
  return true;
}

enum class verdict { go, skip, fail };

// What a prefile/predir reply means for the entry `full`.
verdict pre_entry_verdict(int reply, const std::string& full) {
  switch (reply) {
    case REPLY_OK:
    case REPLY_GO_ON:
    case REPLY_PRIVATE:
      return verdict::go;
    case REPLY_SKIP:
      return verdict::skip;
    case REPLY_FAIL:
      return verdict::fail;
    default:
      error("unknown reply `%d' from backend for `%s'.\n", reply, full.c_str());
      return verdict::skip;
  }
}

// The target's text from the package directory and from the dist
// directory; a target outside either has no such text and is not matched
// against the corresponding lists.
bool link_target_removed(const package_walk& w, pkgptr_t pkg) {
  const std::string& t = w.tgtbuf;
  const std::string& distdir = str_or_empty(opts.distdir);
  const char* in_pkg = lies_within(t, pkg->dir.sv()) ? t.c_str() + pkg->dir.len : nullptr;
  const char* in_dist = lies_within(t, distdir) ? t.c_str() + distdir.size() : nullptr;
  return target_removed(&w, pkg, in_pkg, in_dist);
}

void take_owner_and_mode(dfileptr_t e, const entry_info& info) {
  if (!(e->aflags & af::UID)) e->uid = info.uid;
  if (!(e->aflags & af::GID)) e->gid = info.gid;
  if (!(e->aflags & af::MODE)) e->mode = info.mode;
}

// Every matching pattern of the package, then every matching global one.
void apply_patterns(dfileptr_t e, std::vector<attrent>& own, std::vector<attrent>& global,
                    pkgptr_t pkg) {
  for (std::vector<attrent>* list : {&own, &global}) {
    std::size_t at = 0;
    while (attrent* p = find_alist(e->path.str, *list, &at)) {
      set_com_attrs(e, p, pkg);
      ++at;
    }
  }
}

// What the walk does after one entry.
enum class step {
  next,     ///< go on with the next entry of the same directory
  descend,  ///< list the subdirectory just made, then go on here
  stop,     ///< the package's scan stops
};

step scan_subdir(const package_walk& w, dfileptr_t dir, pkgptr_t pkg, const entry_info& info,
                 int level, const std::string& full, dfileptr_t& sub) {
  dfileptr_t d = find_abspath_in_dlist(full, model.t_dirs_abs);
  if (!d) d = add_new_directory(full, pkg, ADD_NEW, dir);
  d->parent = dir;
  d->pkg = pkg;
  d->sflags |= sf::SCANNED;
  if (info.link) {
    d->aflags |= af::SYMLINK;
    d->target = newpath_dup(w.tgtbuf);
  }
  dir->subdirs().push_back(d);
  take_owner_and_mode(d, info);
  apply_patterns(d, pkg->alldirs, model.alldirs, pkg);
  set_dir_attrs(d);
  if (apply_entry_reply(call_postdir(pkg, d, level), d)) return step::stop;
  if (d->excluded() || (d->aflags & af::SYMLINK)) return step::next;
  sub = d;
  return step::descend;
}

step scan_file(const package_walk& w, dfileptr_t dir, pkgptr_t pkg, const entry_info& info,
               int level, const std::string& full) {
  dfileptr_t f = find_abspath_in_flist(full, model.t_files_abs);
  if (!f) f = add_new_file(full, pkg, ADD_NEW, dir);
  f->parent = dir;
  f->pkg = pkg;
  f->sflags |= sf::SCANNED;
  // A link the control file created keeps its own target.
  if (info.link) {
    f->aflags |= af::SYMLINK;
    f->target = newpath_dup(w.tgtbuf);
  }
  dir->files().push_back(f);
  take_owner_and_mode(f, info);
  f->ino = info.ino;
  f->nlink = static_cast<std::uint32_t>(info.nlink);
  f->size = info.size;
  apply_patterns(f, pkg->allfiles, model.allfiles, pkg);
  set_file_attrs(f);
  return apply_entry_reply(call_postfile(pkg, f, level), f) ? step::stop : step::next;
}

// One entry of the listed directory `dir`; a subdirectory to be listed
// next is left in `sub`, with its status in `info`.
step scan_entry(package_walk& w, dfileptr_t dir, const dir_batch& batch, const read_entry& e,
                int level, dfileptr_t& sub, entry_info& info) {
  pkgptr_t pkg = dir->pkg;
  std::string& full = w.path;
  full.assign(dir->abs.sv());
  full += '/';
  full += batch.name(e);
  const std::size_t off = std::min<std::size_t>(pkg->dir.len, full.size());
  if (entry_removed(w, pkg, full.c_str() + off, full.size() - off)) return step::next;

  if (!stat_entry(w, dir, pkg, batch, e, full, info)) return step::next;
  int reply;
  if (S_ISDIR(info.mode)) {
    reply = call_predir(pkg, full.c_str(), w.tgtbuf.c_str());
  } else if (S_ISREG(info.mode)) {
    reply = call_prefile(pkg, full.c_str(), w.tgtbuf.c_str());
  } else {
    warning("unsupported file type `0x%x' for `%s'.\n", unsigned(info.mode), full.c_str());
    return step::next;
  }
  switch (pre_entry_verdict(reply, full)) {
    case verdict::fail:
      return step::stop;
    case verdict::skip:
      return step::next;
    case verdict::go:
      break;
  }
  if (info.link && link_target_removed(w, pkg)) {
    warning("the following symbolic link points to a target which is scheduled for removal. "
            "This would create a dangling symbolic link, so the symbolic link will be ignored. "
            "Use the remove() function for this link to get rid of this warning message.\n"
            "\tLink :\x02 %s\x02\n\tTarget:\x02 %s\x02\n",
            full.c_str(), w.tgtbuf.c_str());
    return step::next;
  }
  return S_ISDIR(info.mode) ? scan_subdir(w, dir, pkg, info, level, full, sub)
                            : scan_file(w, dir, pkg, info, level, full);
}

// Reports a directory the reader could not list, as entering it or
// opening it failed.
void report_unlisted(const dir_batch& batch, dfileptr_t dir) {
  errno = batch.error;
  perror_label((std::string("\n") + batch.failed_call).c_str());
  if (std::string_view(batch.failed_call) == "chdir")
    error("could not change to directory `%s'.\n", dir->abs.str);
  else
    error("failed to open directory `%s'.\n", dir->abs.str);
}

// What the reader found in the subdirectory at `index` of the innermost
// listing. Directories read ahead that the walk does not enter (removed,
// refused by the backend) come first and are dropped. Null (after
// reporting) when the reader could not go on.
std::unique_ptr<tree_item> take_subdir(package_walk& w, std::size_t index) {
  const std::size_t depth = w.depth;
  for (;;) {
    std::unique_ptr<tree_item> item = w.reader->next();
    if (item && item->what == tree_item::kind::ascent && item->batch.failed_call) {
      // The reader could not get back up to a directory whose descriptor it
      // had let go: the tree moved underneath it.
      report_unlisted(item->batch, w.listings[std::min(item->depth, depth - 1)].dir);
      return nullptr;
    }
    const bool listing = item && item->what == tree_item::kind::listing;
    if (listing && item->depth == depth && item->index == index) return item;
    if (!item || (listing && (item->depth < depth || (item->depth == depth && item->index > index)))) {
      // The reader ended, or passed the directory by: it can only have
      // found it gone.
      errno = ENOENT;
      perror_label("\nchdir");
      error("could not change to directory `%s'.\n", w.listings[depth - 1].dir->abs.str);
      return nullptr;
    }
    w.reader->recycle(std::move(item));
  }
}

// Makes `dir` the innermost listing, with what the reader found in it;
// false (after reporting) when it could not be entered or read.
bool open_listing(package_walk& w, dfileptr_t dir, int level, std::size_t index) {
  std::unique_ptr<tree_item> read;
  if (w.depth == 0) {
    w.reader.emplace(dir->abs.str);
    read = w.reader->next();
  } else {
    read = take_subdir(w, index);
  }
  if (!read) return false;
  if (read->batch.failed_call) {
    report_unlisted(read->batch, dir);
    return false;
  }
  if (w.depth == w.listings.size()) w.listings.emplace_back();
  listing& l = w.listings[w.depth++];
  l.dir = dir;
  l.level = level;
  l.next = 0;
  l.read = std::move(read);
  return true;
}

// The innermost listing is done: the backend's say on the directory, its
// arrays trimmed, and back to its parent. False when the package's scan
// stops.
bool close_listing(package_walk& w) {
  listing& l = w.listings[w.depth - 1];
  dfileptr_t dir = l.dir;
  w.reader->recycle(std::move(l.read));
  if (apply_entry_reply(call_enddir(dir->pkg, dir, l.level), dir)) return false;
  dir->subdirs().shrink_to_fit();
  dir->files().shrink_to_fit();
  --w.depth;
  return true;
}

// The texts a format export can name, in their fixed order: base name,
// directory as installed, installed path, package name, package directory,
// dist directory, full path, full directory.
void export_format_args(const attrent& e, const package& pkg, std::string_view (&out)[8]) {
  std::string_view abs = e.abs.sv();
  std::size_t slash = abs.rfind('/');
  std::string_view absdir = slash == std::string_view::npos ? std::string_view() : abs.substr(0, slash);
  out[0] = slash == std::string_view::npos ? std::string_view() : abs.substr(slash + 1);
  out[1] = absdir.size() > pkg.dir.len ? absdir.substr(pkg.dir.len) : std::string_view();
  out[2] = e.path.sv();
  out[3] = pkg.name;
  out[4] = pkg.dir.sv();
  out[5] = str_or_empty(opts.distdir);
  out[6] = abs;
  out[7] = absdir;
}

}  // namespace

// Depth first, each directory's entries in byte order, a subdirectory
// listed as soon as it is met, as a recursive walk would; the directories
// on the way down are held in the walk's listings.
int process_package_dir(dfileptr_t dir, int level) {
  package_walk w(dir->pkg);
  if (!open_listing(w, dir, level, 0)) return 1;
  while (w.depth > 0) {
    listing& l = w.listings[w.depth - 1];
    if (l.next == l.batch().entries.size()) {
      if (!close_listing(w)) return 1;
      continue;
    }
    dfileptr_t sub = nullptr;
    entry_info info;
    const std::size_t at = l.next++;
    switch (scan_entry(w, l.dir, l.batch(), l.batch().entries[at], l.level, sub, info)) {
      case step::stop:
        return 1;
      case step::descend:
        if (!open_listing(w, sub, LEVEL_BELOW, at)) return 1;
        break;
      case step::next:
        break;
    }
  }
  return 0;
}

int check_remlist(const strlist& list, std::string_view path) { return in_remlist(nullptr, list, path); }

int check_remlist_wc(const strelist& list, const char* name) {
  for (const strenode& n : list) {
    if (fnmatch(n.str.c_str(), name, n.flags ? FNM_PATHNAME : 0) != 0) continue;
    return find_match_in_strlist(name, n.sub) ? 0 : 1;
  }
  return 0;
}

int check_target_removed(pkgptr_t pkg, const char* target_in_package, const char* target_in_dist) {
  return target_removed(nullptr, pkg, target_in_package, target_in_dist);
}

std::string expand_export_format(std::string_view format, const std::string_view (&args)[8]) {
  std::string out;
  std::size_t next = 0;  // argument taken by the next directive without a position
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') {
      out += format[i];
      continue;
    }
    const std::size_t start = i++;
    if (i < format.size() && format[i] == '%') {
      out += '%';
      continue;
    }
    auto number = [&](std::size_t& at) {
      std::size_t v = 0;
      while (at < format.size() && format[at] >= '0' && format[at] <= '9')
        v = std::min<std::size_t>(v * 10 + (format[at++] - '0'), 1u << 20);
      return v;
    };
    std::size_t pos = 0;
    std::size_t j = i;
    if (std::size_t n = number(j); n && j < format.size() && format[j] == '$') {
      pos = n;
      i = j + 1;
    }
    bool left = false;
    while (i < format.size() && std::string_view("-+ #0").find(format[i]) != std::string_view::npos)
      left |= format[i++] == '-';
    const std::size_t width = number(i);
    std::size_t precision = std::string_view::npos;
    if (i < format.size() && format[i] == '.') precision = number(++i);
    const std::size_t arg = pos ? pos - 1 : next;
    if (i >= format.size() || format[i] != 's' || arg >= 8) {
      // Only texts can be given; anything else stays as written.
      i = std::min(i, format.size() - 1);
      out.append(format.substr(start, i - start + 1));
      continue;
    }
    if (!pos) ++next;
    std::string_view text = args[arg].substr(0, precision);
    const std::size_t pad = width > text.size() ? width - text.size() : 0;
    if (!left) out.append(pad, ' ');
    out.append(text);
    if (left) out.append(pad, ' ');
  }
  return out;
}

namespace {

// The owner and group names a pattern gives an entry that has none of its
// own. An entry with no rare texts yet that takes all of the pattern's
// shares them, as most entries a pattern names do.
void take_names(attrent& e, const attrent& p) {
  const bool owner = !(e.aflags & af::OWNER) && (p.aflags & af::OWNER);
  const bool group = !(e.aflags & af::GROUP) && (p.aflags & af::GROUP);
  if (!owner && !group) return;
  e.aflags |= (owner ? af::OWNER : 0) | (group ? af::GROUP : 0);
  if (!e.texts && owner == bool(p.aflags & af::OWNER) && group == bool(p.aflags & af::GROUP) &&
      !p.flagstr() && !p.includes() && !p.safepath()) {
    e.texts = p.texts;
    return;
  }
  if (owner) e.set_text(&entry_texts::owner, p.owner());
  if (group) e.set_text(&entry_texts::group, p.group());
}

}  // namespace

void set_com_attrs(dfileptr_t e, attrent* p, pkgptr_t pkg) {
  e->aflags |= p->aflags & (af::PRIVATE | af::EXPORTOK | af::EXPORTLINKS);
  auto take = [&](std::uint32_t bit, auto field) {
    if ((e->aflags & bit) || !(p->aflags & bit)) return;
    e->*field = p->*field;
    e->aflags |= bit;
  };
  take(af::UID, &attrent::uid);
  take(af::GID, &attrent::gid);
  take(af::MODE, &attrent::mode);
  take(af::ACCESS, &attrent::access);
  take(af::PHASE, &attrent::phase);
  take_names(*e, *p);
  if (p->aflags & af::CTL_SYMLINK) e->aflags |= af::CTL_SYMLINK;
  for (const strnode& n : p->exports) {
    if (!(n.flags & ef::FORMAT)) {
      add_strlist(n.str, n.flags, e->exports);
      continue;
    }
    std::string_view args[8];
    export_format_args(*e, *pkg, args);
    add_strlist(expand_export_format(n.str, args), n.flags & ~ef::FORMAT, e->exports);
  }
  if (registry.backptr && registry.backptr->comattrs) registry.backptr->comattrs(e, p, pkg);
}

void set_file_attrs(dfileptr_t file) {
  if (file->aflags & af::PRIVATE) file->sflags |= sf::FILE_PRIVATE;
}

void set_dir_attrs(dfileptr_t dir) {
  if (dir->aflags & af::PRIVATE) dir->sflags |= sf::DIR_PRIVATE;
}
