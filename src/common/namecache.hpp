// User and group names by id and ids by name, asking the system databases
// once per name.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <unordered_map>

/// The pairs of one database the run was given, in the order they were
/// met; misses are not kept, so a later call asks the database again. The
/// maps point at the first pair of each id and of each name, which is the
/// pair a search from the start would find, so an owner looked up for
/// every entry of a large tree costs one map probe.
struct IdCache {
  struct pair {
    std::uint32_t id;
    std::string name;
  };
  std::deque<pair> pairs;  ///< a deque keeps names in place as it grows
  std::unordered_map<std::uint32_t, const pair*> by_id;
  std::unordered_map<std::string, const pair*> by_name;

  /// Keeps the pair; returns it.
  const pair& add(std::uint32_t id, const char* name);
};

/// The names the user and group databases gave so far: one per process,
/// `namecache`, defined in namecache.cpp.
struct NameCaches {
  IdCache users, groups;
};

extern NameCaches namecache;

/// Forgets every name, so the databases are asked again.
void reset_name_caches();

/// The user name of `uid`, or null when the user database has none.
const char* get_uidnm(std::uint32_t uid);
/// The user id of `name`, or -1 (also for a null `name`).
long get_uid(const char* name);
/// The group name of `gid`, or null.
const char* get_gidnm(std::uint32_t gid);
/// The group id of `name`, or -1.
long get_gid(const char* name);
