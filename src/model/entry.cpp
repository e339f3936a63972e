#include <fnmatch.h>

#include "model/model.hpp"
#include "model/settings.hpp"

Model model;

void reset_model() { model = Model{}; }

path_t newpath(std::string_view s) {
  path_t p;
  p.str = s.data();
  p.len = static_cast<std::uint32_t>(s.size());
  p.hash = mkhashval(s);
  return p;
}

path_t newpath_dup(std::string_view s) { return newpath({model_strdup(s), s.size()}); }

void commpaths(const char* path, std::size_t len, attrent& e, pkgptr_t pkg) {
  std::string_view abs(path, len);
  e.abs = newpath(abs);
  e.dist = newpath(abs.substr(std::min(opts.distdirlen, len)));
  if (opts.fmode)
    e.path = e.dist;
  else
    e.path = newpath(abs.substr(std::min<std::size_t>(pkg ? pkg->dir.len : 0, len)));
  if (auto slash = abs.rfind('/'); slash != std::string_view::npos)
    e.nm = newpath(abs.substr(slash + 1));
}

namespace {

// Finds an entry of `list` with the full path `path`. The package arrays are
// in creation order here, so this is a walk; callers in the scan use the
// sorted indexes instead.
dfileptr_t find_by_abs(const std::vector<dfileptr_t>& list, std::string_view path) {
  const std::uint32_t h = mkhashval(path);
  for (dfileptr_t e : list)
    if (e->abs.hash == h && e->abs.sv() == path) return e;
  return nullptr;
}

dfileptr_t make_entry(std::string_view path, pkgptr_t pkg, std::int32_t type) {
  dfileptr_t e = model.entries.make();
  const char* text = model_strdup(path);
  commpaths(text, path.size(), *e, pkg);
  e->type = type;
  e->master = e;
  e->pkg = pkg;
  return e;
}

}  // namespace

dfileptr_t add_new_file(std::string_view path, pkgptr_t pkg, int check) {
  if (check)
    if (dfileptr_t e = find_by_abs(pkg->files, path)) return e;
  dfileptr_t e = make_entry(path, pkg, ENT_FILE);
  model.files.push_back(e);
  pkg->files.push_back(e);
  return e;
}

dfileptr_t add_new_directory(std::string_view path, pkgptr_t pkg, int check) {
  if (check)
    if (dfileptr_t e = find_by_abs(pkg->dirs, path)) return e;
  dfileptr_t e = make_entry(path, pkg, ENT_DIR);
  e->dt = std::make_unique<dirtail>();
  model.dirs.push_back(e);
  pkg->dirs.push_back(e);
  return e;
}

int likely_filetype(const char* path, std::uint32_t& mode, std::int32_t& phase) {
  struct rule {
    const char* patterns[3];
    std::uint32_t mode;
    int verdict;
    bool early;
  };
  static const rule rules[] = {
      {{"*/bin/*"}, 0755, 0, false},
      {{"*.conf", "*.cfg", "*.ini"}, 0644, 1, false},
      {{"*.default"}, 0444, 0, false},
      {{"*/etc/*rc"}, 0644, 1, false},
      {{"/etc/conf/*"}, 0444, 0, false},
      {{"/etc/*/*", "*/etc/*/*"}, 0644, 1, false},
      {{"*.so*"}, 0555, 0, true},
  };
  int d = opts.smode ? 0 : opts.vmode ? 1 : -1;
  int verdict = 0;
  for (const rule& r : rules) {
    bool hit = false;
    for (const char* p : r.patterns)
      if (p && fnmatch(p, path, 0) == 0) hit = true;
    if (!hit) continue;
    mode = r.mode;
    if (r.early) phase = 1;
    verdict = r.verdict;
    break;
  }
  return d >= 0 ? d : verdict;
}
