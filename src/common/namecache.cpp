#include "common/namecache.hpp"

#include <grp.h>
#include <pwd.h>

#include <string>

NameCaches namecache;

void reset_name_caches() { namecache = NameCaches{}; }

const IdCache::pair& IdCache::add(std::uint32_t id, const char* name) {
  pairs.push_back({id, name});
  const pair& p = pairs.back();
  by_id.emplace(id, &p);
  by_name.emplace(p.name, &p);
  return p;
}

namespace {

template <class Lookup>
const char* name_of(IdCache& cache, std::uint32_t id, Lookup lookup) {
  if (auto it = cache.by_id.find(id); it != cache.by_id.end()) return it->second->name.c_str();
  const char* n = lookup(id);
  if (!n) return nullptr;
  return cache.add(id, n).name.c_str();
}

template <class Lookup>
long id_of(IdCache& cache, const char* name, Lookup lookup) {
  if (!name) return -1;
  if (auto it = cache.by_name.find(name); it != cache.by_name.end()) return it->second->id;
  std::uint32_t id;
  std::string found;
  if (!lookup(name, id, found)) return -1;
  cache.add(id, found.c_str());
  return id;
}

}  // namespace

const char* get_uidnm(std::uint32_t uid) {
  return name_of(namecache.users, uid, [](std::uint32_t id) -> const char* {
    struct passwd* p = getpwuid(id);
    return p ? p->pw_name : nullptr;
  });
}

long get_uid(const char* name) {
  return id_of(namecache.users, name, [](const char* n, std::uint32_t& id, std::string& nm) {
    struct passwd* p = getpwnam(n);
    if (!p) return false;
    id = p->pw_uid;
    nm = p->pw_name;
    return true;
  });
}

const char* get_gidnm(std::uint32_t gid) {
  return name_of(namecache.groups, gid, [](std::uint32_t id) -> const char* {
    struct group* g = getgrgid(id);
    return g ? g->gr_name : nullptr;
  });
}

long get_gid(const char* name) {
  return id_of(namecache.groups, name, [](const char* n, std::uint32_t& id, std::string& nm) {
    struct group* g = getgrnam(n);
    if (!g) return false;
    id = g->gr_gid;
    nm = g->gr_name;
    return true;
  });
}
