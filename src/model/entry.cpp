#include "model/model.hpp"

#include <utility>

#include "common/abspath.hpp"
#include "model/settings.hpp"

Model model;

void reset_model() { model = Model{}; }

void attrent::set_text(const char* entry_texts::*field, const char* value) {
  auto* copy = new (model.text.alloc(sizeof(entry_texts))) entry_texts(texts ? *texts : entry_texts{});
  copy->*field = value;
  texts = copy;
}

path_t newpath(std::string_view s) {
  path_t p;
  p.str = s.data();
  p.len = static_cast<std::uint32_t>(s.size());
  p.hash = mkhashval(s);
  return p;
}

path_t newpath_dup(std::string_view s) { return newpath({model_strdup(s), s.size()}); }

std::string_view attrent::dist() const {
  return abs.sv().substr(std::min<std::size_t>(opts.distdirlen, abs.len));
}

// The installed path is the full path without the package directory (the
// dist directory in flat mode), and the base name ends both. Their three
// hashes are taken in one pass over the installed path: the full path's
// continues the package directory's stored hash, and the name's starts
// again after every '/'. Independent chains, so they cost about one. Below
// a known parent the pass covers only "/" and the name.
void commpaths(const char* path, std::size_t len, attrent& e, pkgptr_t pkg, const attrent* parent) {
  const std::string_view abs(path, len);
  const std::size_t cut = std::min<std::size_t>(opts.fmode ? opts.distdirlen : pkg ? pkg->dir.len : 0, len);
  std::size_t from = cut;
  std::uint32_t ha, hp = 0, hn = 0;
  if (parent && parent->abs.len >= cut && parent->abs.len < len && path[parent->abs.len] == '/' &&
      parent->path.len == parent->abs.len - cut) {
    from = parent->abs.len;
    ha = parent->abs.hash;
    hp = parent->path.hash;
  } else {
    const std::string_view prefix = abs.substr(0, cut);
    ha = pkg && prefix == pkg->dir.sv() ? pkg->dir.hash : mkhashval(prefix);
  }
  for (unsigned char c : abs.substr(from)) {
    ha = mkhash_step(ha, c);
    hp = mkhash_step(hp, c);
    hn = c == '/' ? 0 : mkhash_step(hn, c);
  }
  const std::string_view rest = abs.substr(cut);
  e.abs = {path, static_cast<std::uint32_t>(len), 0, ha};
  e.path = {rest.data(), static_cast<std::uint32_t>(rest.size()), 0, hp};
  const std::size_t slash = abs.rfind('/');
  if (slash == std::string_view::npos) return;
  if (slash >= from)
    e.nm = {path + slash + 1, static_cast<std::uint32_t>(len - slash - 1), 0, hn};
  else
    e.nm = newpath(abs.substr(slash + 1));
}

void commpaths_dup(std::string_view path, attrent& e, pkgptr_t pkg, const attrent* parent) {
  commpaths(model_strdup(path), path.size(), e, pkg, parent);
}

std::optional<std::string> link_target_path(const package& pkg, std::string_view linkdir,
                                            std::string_view text) {
  const std::string_view root = pkg.dir.sv();
  std::string combined;
  if (text.empty() || text[0] != '/') {
    combined.append(linkdir).append("/").append(text);
  } else if (text.starts_with(root) && (text.size() == root.size() || text[root.size()] == '/')) {
    combined.assign(text);
  } else {
    combined.append(root).append("/").append(text);
  }
  return abspath(combined);
}

namespace {

// The per-package lookup by full path (abs_lookup). Slots keep the hash
// beside the entry, so probing compares hashes without touching the
// entries; the text decides only among equal hashes.
constexpr std::size_t LOOKUP_MIN_SLOTS = 64;

// A probe that passes this many other paths of the same hash turns the
// table to seeded hashes.
constexpr std::size_t LOOKUP_MAX_EQUAL_HASHES = 16;

// The path hash is a multiply-xor over the bytes, so its low bits are weak;
// a second multiplication spreads all of them over the slot index.
std::size_t home_slot(std::uint32_t h, std::size_t nslots) {
  return static_cast<std::size_t>((h * 0x9E3779B97F4A7C15ull) >> 32) & (nslots - 1);
}

// The key a slot holds for the path `text` of system hash `h`. Normal
// trees keep the hash the entry already has; only a table that met a
// crowd of equal hashes pays for hashing the text again.
std::uint32_t slot_hash(const abs_lookup& lk, std::string_view text, std::uint32_t h) {
  return lk.seeded ? static_cast<std::uint32_t>(seeded_hash(text, lk.seed) >> 32) : h;
}

void place(abs_lookup& lk, const abs_slot& s) {
  const std::size_t mask = lk.slots.size() - 1;
  std::size_t i = home_slot(s.hash, lk.slots.size());
  while (lk.slots[i].entry) i = (i + 1) & mask;
  lk.slots[i] = s;
}

void grow_lookup(abs_lookup& lk) {
  std::vector<abs_slot> old;
  old.swap(lk.slots);
  lk.slots.assign(old.empty() ? LOOKUP_MIN_SLOTS : old.size() * 2, abs_slot{});
  for (const abs_slot& s : old)
    if (s.entry) place(lk, s);
}

// Rekeys every slot by a seeded hash of its entry's text; each text is in
// the table once, so the entries it holds stay the same.
void reseed_lookup(abs_lookup& lk) {
  std::vector<abs_slot> old(lk.slots.size());
  old.swap(lk.slots);
  lk.seeded = true;
  lk.seed = new_hash_seed();
  for (abs_slot s : old) {
    if (!s.entry) continue;
    s.hash = slot_hash(lk, s.entry->abs.sv(), 0);
    place(lk, s);
  }
}

// The slot holding `path` (key `h`), or the free slot where it belongs;
// null when the probe met too many other paths of the same key.
abs_slot* probe(abs_lookup& lk, std::string_view path, std::uint32_t h) {
  const std::size_t mask = lk.slots.size() - 1;
  std::size_t equal = 0;
  for (std::size_t i = home_slot(h, lk.slots.size());; i = (i + 1) & mask) {
    abs_slot& s = lk.slots[i];
    if (!s.entry) return &s;
    if (s.hash != h) continue;
    if (s.entry->abs.sv() == path) return &s;
    if (++equal > LOOKUP_MAX_EQUAL_HASHES && !lk.seeded) return nullptr;
  }
}

// The slot for `path` and the key it has there, turning the table to
// seeded hashes when the probe meets a crowd of equal ones.
std::pair<abs_slot*, std::uint32_t> probe_path(abs_lookup& lk, std::string_view path,
                                               std::uint32_t sys_hash) {
  std::uint32_t h = slot_hash(lk, path, sys_hash);
  if (abs_slot* s = probe(lk, path, h)) return {s, h};
  reseed_lookup(lk);
  h = slot_hash(lk, path, sys_hash);
  return {probe(lk, path, h), h};
}

// Enters `e` unless an earlier entry has the same full path.
void enter(abs_lookup& lk, dfileptr_t e) {
  if ((lk.used + 1) * 10 > lk.slots.size() * 7) grow_lookup(lk);
  auto [s, h] = probe_path(lk, e->abs.sv(), e->abs.hash);
  if (s->entry) return;
  *s = {e, h};
  ++lk.used;
}

// The first entry of `list` (creation order) whose full path is `path`.
dfileptr_t find_by_abs(abs_lookup& lk, const std::vector<dfileptr_t>& list, std::string_view path) {
  if (lk.covered > list.size()) lk = abs_lookup{};  // the array was cut back: start over
  for (; lk.covered < list.size(); ++lk.covered) enter(lk, list[lk.covered]);
  if (lk.slots.empty()) return nullptr;
  return probe_path(lk, path, mkhashval(path)).first->entry;
}

// Keeps a lookup that is in use up to date with the entry just appended to
// `list`, so it never depends on where the entries stand in the array.
void note_new_entry(abs_lookup& lk, const std::vector<dfileptr_t>& list) {
  if (lk.slots.empty() || lk.covered + 1 != list.size()) return;  // not in use yet: made on the first checked add
  enter(lk, list.back());
  lk.covered = list.size();
}

dfileptr_t make_entry(std::string_view path, pkgptr_t pkg, std::int32_t type, const attrent* parent) {
  dfileptr_t e = model.entries.make();
  commpaths_dup(path, *e, pkg, parent);
  e->type = type;
  e->pkg = pkg;
  return e;
}

}  // namespace

dfileptr_t add_new_file(std::string_view path, pkgptr_t pkg, int check, const attrent* parent) {
  if (check)
    if (dfileptr_t e = find_by_abs(pkg->files_by_abs, pkg->files, path)) return e;
  dfileptr_t e = make_entry(path, pkg, ENT_FILE, parent);
  model.files.push_back(e);
  pkg->files.push_back(e);
  note_new_entry(pkg->files_by_abs, pkg->files);
  return e;
}

dfileptr_t add_new_directory(std::string_view path, pkgptr_t pkg, int check,
                             const attrent* parent) {
  if (check)
    if (dfileptr_t e = find_by_abs(pkg->dirs_by_abs, pkg->dirs, path)) return e;
  dfileptr_t e = make_entry(path, pkg, ENT_DIR, parent);
  e->dt = std::make_unique<dirtail>();
  model.dirs.push_back(e);
  pkg->dirs.push_back(e);
  note_new_entry(pkg->dirs_by_abs, pkg->dirs);
  return e;
}

namespace {

// The guess's patterns are plain fnmatch patterns without flags, where '*'
// matches any bytes, '/' included. One pass over the path notes the few
// inner texts they look for, and each pattern is then a byte comparison:
// what a million files can afford.
struct path_marks {
  std::string_view s;
  bool bin = false;  ///< holds "/bin/"
  bool so = false;   ///< holds ".so"
  std::size_t etc = std::string_view::npos;  ///< where the first "/etc/" starts
};

path_marks mark_path(std::string_view s) {
  path_marks m{s};
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '/') {
      const std::string_view next = s.substr(i + 1, 4);
      if (next == "bin/") m.bin = true;
      if (next == "etc/" && m.etc == std::string_view::npos) m.etc = i;
    } else if (s[i] == '.' && s.substr(i + 1, 2) == "so") {
      m.so = true;
    }
  }
  return m;
}

struct filetype_rule {
  bool (*hit)(const path_marks&);
  std::uint32_t mode;
  int verdict;  // GUESS_STATIC or GUESS_VARIABLE
  bool early;   // shared libraries are installed in the early phase
};

constexpr filetype_rule filetype_rules[] = {
    {[](const path_marks& m) { return m.bin; }, 0755, GUESS_STATIC, false},  // */bin/*
    {[](const path_marks& m) {  // *.conf *.cfg *.ini
       return m.s.ends_with(".conf") || m.s.ends_with(".cfg") || m.s.ends_with(".ini");
     },
     0644, GUESS_VARIABLE, false},
    {[](const path_marks& m) { return m.s.ends_with(".default"); }, 0444, GUESS_STATIC, false},
    // */etc/*rc: the "rc" cannot overlap a "/etc/", which ends in '/'.
    {[](const path_marks& m) { return m.etc != std::string_view::npos && m.s.ends_with("rc"); },
     0644, GUESS_VARIABLE, false},
    {[](const path_marks& m) { return m.s.starts_with("/etc/conf/"); }, 0444, GUESS_STATIC, false},
    // /etc/*/* and */etc/*/*: a '/' somewhere after the first "/etc/".
    {[](const path_marks& m) {
       return m.etc != std::string_view::npos && m.s.find('/', m.etc + 5) != std::string_view::npos;
     },
     0644, GUESS_VARIABLE, false},
    {[](const path_marks& m) { return m.so; }, 0555, GUESS_STATIC, true},  // *.so*
};

}  // namespace

int likely_filetype(const char* path, std::uint32_t& mode, std::int32_t& phase) {
  const path_marks marks = mark_path(path);
  const int decided = opts.smode ? GUESS_STATIC : opts.vmode ? GUESS_VARIABLE : GUESS_UNDECIDED;
  int verdict = GUESS_STATIC;
  for (const filetype_rule& r : filetype_rules) {
    if (!r.hit(marks)) continue;
    mode = r.mode;
    if (r.early) phase = PHASE_EARLY;
    verdict = r.verdict;
    break;
  }
  return decided != GUESS_UNDECIDED ? decided : verdict;
}
