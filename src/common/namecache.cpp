#include "common/namecache.hpp"

#include <grp.h>
#include <pwd.h>

#include <deque>
#include <string>
#include <unordered_map>

namespace {

// Pairs the database gave, in the order they were met; misses are not
// kept, so a later call asks the database again. The maps point at the
// first pair of each id and of each name, which is the pair a search from
// the start would find, so an owner looked up for every entry of a large
// tree costs one map probe.
struct id_cache {
  struct pair {
    std::uint32_t id;
    std::string name;
  };
  std::deque<pair> pairs;  // a deque keeps names in place as it grows
  std::unordered_map<std::uint32_t, const pair*> by_id;
  std::unordered_map<std::string, const pair*> by_name;

  const pair& add(std::uint32_t id, const char* name) {
    pairs.push_back({id, name});
    const pair& p = pairs.back();
    by_id.emplace(id, &p);
    by_name.emplace(p.name, &p);
    return p;
  }
};

id_cache uidcache, gidcache;

template <class Lookup>
const char* name_of(id_cache& cache, std::uint32_t id, Lookup lookup) {
  if (auto it = cache.by_id.find(id); it != cache.by_id.end()) return it->second->name.c_str();
  const char* n = lookup(id);
  if (!n) return nullptr;
  return cache.add(id, n).name.c_str();
}

template <class Lookup>
long id_of(id_cache& cache, const char* name, Lookup lookup) {
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
  return name_of(uidcache, uid, [](std::uint32_t id) -> const char* {
    struct passwd* p = getpwuid(id);
    return p ? p->pw_name : nullptr;
  });
}

long get_uid(const char* name) {
  return id_of(uidcache, name, [](const char* n, std::uint32_t& id, std::string& nm) {
    struct passwd* p = getpwnam(n);
    if (!p) return false;
    id = p->pw_uid;
    nm = p->pw_name;
    return true;
  });
}

const char* get_gidnm(std::uint32_t gid) {
  return name_of(gidcache, gid, [](std::uint32_t id) -> const char* {
    struct group* g = getgrgid(id);
    return g ? g->gr_name : nullptr;
  });
}

long get_gid(const char* name) {
  return id_of(gidcache, name, [](const char* n, std::uint32_t& id, std::string& nm) {
    struct group* g = getgrnam(n);
    if (!g) return false;
    id = g->gr_gid;
    nm = g->gr_name;
    return true;
  });
}
