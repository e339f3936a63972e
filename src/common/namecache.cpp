#include "common/namecache.hpp"

#include <grp.h>
#include <pwd.h>

#include <string>
#include <deque>

namespace {

struct id_name {
  std::uint32_t id;
  std::string name;
};

// Names the databases gave, kept for the run; misses are not cached, so a
// later call asks the database again.
std::deque<id_name> uidcache, gidcache;

template <class Lookup>
const char* name_of(std::deque<id_name>& cache, std::uint32_t id, Lookup lookup) {
  for (const id_name& e : cache)
    if (e.id == id) return e.name.c_str();
  const char* n = lookup(id);
  if (!n) return nullptr;
  cache.push_back({id, n});
  return cache.back().name.c_str();
}

template <class Lookup>
long id_of(std::deque<id_name>& cache, const char* name, Lookup lookup) {
  for (const id_name& e : cache)
    if (e.name == name) return e.id;
  std::uint32_t id;
  std::string found;
  if (!lookup(name, id, found)) return -1;
  cache.push_back({id, found});
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
