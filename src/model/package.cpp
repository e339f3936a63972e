#include "common/diag.hpp"
#include "model/model.hpp"
#include "model/settings.hpp"

namespace {

// The first package of `table[key]` not ignored, or null.
pkgptr_t first_live(const std::unordered_map<std::string_view, std::vector<pkgptr_t>>& table,
                    std::string_view key) {
  auto it = table.find(key);
  if (it == table.end()) return nullptr;
  for (pkgptr_t p : it->second)
    if (!(p->flags & pf::IGNORED)) return p;
  return nullptr;
}

}  // namespace

// The first package in creation order that matches either text: the
// earlier of the first match by directory and the first match by name.
pkgptr_t find_package(const char* dir, const char* name) {
  if (opts.fmode) return model.packages.empty() ? nullptr : model.packages.front();
  pkgptr_t by_dir = dir ? first_live(model.packages_by_dir, dir) : nullptr;
  pkgptr_t by_name = name ? first_live(model.packages_by_name, name) : nullptr;
  if (!by_dir || !by_name) return by_dir ? by_dir : by_name;
  return by_dir->seq < by_name->seq ? by_dir : by_name;
}

pkgptr_t new_package(std::string_view dir, std::string_view desc, std::string_view name,
                     std::string_view extra, int defined) {
  if (opts.fmode && !model.packages.empty()) return model.packages.front();
  std::string dirs(dir), names(name);
  // An empty directory or name is one not given: it must not match the
  // empty texts of other packages.
  if (pkgptr_t old = find_package(dirs.empty() ? nullptr : dirs.c_str(),
                                  names.empty() ? nullptr : names.c_str())) {
    if (defined) {
      // Values outside backquotes are sections, so the layout never
      // spaces a "2.1" or a "lib.so" apart at its dots.
      error("Package directory '\x02%s\x02' or name '\x02%s\x02' is already defined. The "
            "duplicate entry has:\n\tDirectory\t\t:\x02 %s\x02\n\tPackage Name\t:\x02 %s\x02\n",
            dirs.c_str(), names.c_str(), std::string(old->reldir.sv()).c_str(), old->name.c_str());
      return old;
    }
  }
  auto rec = std::make_unique<package>();
  pkgptr_t p = rec.get();
  p->flags = defined ? pf::DEFINED : 0;
  p->name = name;
  p->desc = desc;
  p->extra = extra;
  const std::string& distdir = str_or_empty(opts.distdir);
  if (opts.fmode) {
    p->dir = newpath_dup(distdir);
    p->reldir = newpath("");
  } else {
    p->dir = newpath_dup(distdir + dirs);
    p->reldir = newpath(p->dir.sv().substr(std::min<std::size_t>(opts.distdirlen, p->dir.len)));
  }
  p->seq = model.packages.size();
  model.package_store.push_back(std::move(rec));
  model.packages.push_back(p);
  model.packages_by_name[p->name].push_back(p);
  model.packages_by_dir[p->reldir.sv()].push_back(p);
  return p;
}

cmpntptr_t find_cmpnt(std::string_view name) {
  if (model.cmpnts_indexed > model.cmpnts.size()) {  // the array was cut back: start over
    model.cmpnts_by_name = decltype(model.cmpnts_by_name)();
    model.cmpnts_indexed = 0;
  }
  for (; model.cmpnts_indexed < model.cmpnts.size(); ++model.cmpnts_indexed)
    model.cmpnts_by_name.insert(model.cmpnts[model.cmpnts_indexed]);  // an earlier one of a name stays
  return model.cmpnts_by_name.find(name);
}

cmpntptr_t new_cmpnt(std::string_view name, std::string_view version, std::string_view desc,
                     std::string_view extra, int defined) {
  std::string n(name), v(version), d(desc), x(extra);
  debug(1, "new_cmpnt ('%s', '%s', '%s', '%s', %d)\n", n.c_str(), v.c_str(), d.c_str(), x.c_str(),
        defined);
  cmpntptr_t old = find_cmpnt(name);
  if (old && opts.fmode) return old;
  if (old && defined) {
    error("Component '\x02%s\x02' is already defined. The duplicate entry has the following "
          "attributes:\n\tName\t\t:\x02 %s\x02\n\tVersion\t\t:\x02 %s\x02\n"
          "\tDescription\t:\x02 %s\x02\n",
          n.c_str(), old->name.c_str(), old->version.c_str(), old->desc.c_str());
    return old;
  }
  auto rec = std::make_unique<component>();
  cmpntptr_t c = rec.get();
  c->flags = defined ? cf::DEFINED : 0;
  c->name = std::move(n);
  c->version = std::move(v);
  c->desc = std::move(d);
  c->extra = std::move(x);
  model.cmpnt_store.push_back(std::move(rec));
  model.cmpnts.push_back(c);
  return c;
}
