// User and group names by id and ids by name, asking the system databases
// once per name.
#pragma once

#include <cstdint>

/// The user name of `uid`, or null when the user database has none.
const char* get_uidnm(std::uint32_t uid);
/// The user id of `name`, or -1 (also for a null `name`).
long get_uid(const char* name);
/// The group name of `gid`, or null.
const char* get_gidnm(std::uint32_t gid);
/// The group id of `name`, or -1.
long get_gid(const char* name);
