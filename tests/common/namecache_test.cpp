// User and group names by id and back.
#include <gtest/gtest.h>

#include <string>

#include "common/namecache.hpp"
#include "support/fresh_run.hpp"

namespace {
// Far above any id a test machine hands out.
constexpr std::uint32_t ABSENT_ID = 3999999999u;

// Each test starts with empty caches.
using NameCache = FreshRun;
}  // namespace

TEST_F(NameCache, UsersAndGroups) {
  ASSERT_NE(get_uidnm(0), nullptr);
  EXPECT_STREQ(get_uidnm(0), "root");
  // A second call is answered from the cache with the same text.
  EXPECT_EQ(get_uidnm(0), get_uidnm(0));
  EXPECT_EQ(get_uid("root"), 0);
  ASSERT_NE(get_gidnm(0), nullptr);
  EXPECT_STREQ(get_gidnm(0), "root");
  EXPECT_EQ(get_gid("root"), 0);
}

TEST_F(NameCache, AbsentNamesAndIds) {
  EXPECT_EQ(get_uidnm(ABSENT_ID), nullptr);
  EXPECT_EQ(get_uidnm(ABSENT_ID), nullptr);
  EXPECT_EQ(get_gidnm(ABSENT_ID), nullptr);
  EXPECT_EQ(get_uid("no-such-user-corvane"), -1);
  EXPECT_EQ(get_gid("no-such-group-corvane"), -1);
  EXPECT_EQ(get_uid(nullptr), -1);
  // Looking up names after misses still works.
  EXPECT_EQ(get_uid("root"), 0);
}
