#include "backend/writer.hpp"

#include <string>

#include "common/diag.hpp"
#include "common/namecache.hpp"
#include "model/settings.hpp"

namespace {

// The package root is no entry of its own: every format names it otherwise.
bool pending_dir(const dfile& d) {
  return d.parent && !d.excluded() && !(d.sflags & written::DIR);
}

// The entry as the owner and group messages name it.
const char* id_kind(const dfile& e) { return e.is_dir() ? "directory" : "file"; }

}  // namespace

void write_entries(const package& p, EntryWriter& w) {
  for (dfileptr_t d : p.dirs) {
    if (!pending_dir(*d) || (d->aflags & af::SYMLINK)) continue;
    w.directory(d);
    d->sflags |= written::DIR;
  }
  for (dfileptr_t d : p.dirs) {
    if (!pending_dir(*d) || !(d->aflags & af::SYMLINK)) continue;
    w.directory_link(d);
    d->sflags |= written::DIR;
  }
  w.before_files(p);
  for (dfileptr_t f : p.files) {
    if (f->excluded() || (f->sflags & written::FILE)) continue;
    f->sflags |= written::FILE;
    w.file(f);
  }
}

const char* owner_name(const package& p, const dfile& e) {
  if (e.aflags & af::OWNER) return e.owner();
  const char* name = get_uidnm(e.uid);
  if (!name)
    error("in package `%s': could not getpwuid(%d) for %s `.%s'.\n", p.name.c_str(),
          static_cast<int>(e.uid), id_kind(e), std::string(e.path.sv()).c_str());
  return name;
}

const char* group_name(const package& p, const dfile& e) {
  if (e.aflags & af::GROUP) return e.group();
  const char* name = get_gidnm(e.gid);
  if (!name)
    error("in package `%s': could not getgrgid(%d) for %s `.%s'.\n", p.name.c_str(),
          static_cast<int>(e.gid), id_kind(e), std::string(e.path.sv()).c_str());
  return name;
}

std::optional<std::string_view> target_in_package(const package& p, const path_t& target) {
  const std::string_view t = target.sv(), dir = p.dir.sv();
  if (!t.starts_with(dir)) return std::nullopt;
  const std::string_view rest = t.substr(dir.size());
  if (rest.empty()) return std::string_view("/");
  if (rest.front() != '/') return std::nullopt;  // a sibling directory sharing the prefix
  return rest;
}

std::string_view target_from_dist(const path_t& target) {
  const std::string_view t = target.sv(), dist = str_or_empty(opts.distdir);
  if (t.starts_with(dist) && t.size() > dist.size() && t[dist.size()] == '/')
    return t.substr(dist.size());
  return t;
}
