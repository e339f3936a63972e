#include <gtest/gtest.h>

#include "common/hash.hpp"

TEST(Hash, KnownValues) {
  EXPECT_EQ(mkhashval(""), 0u);
  EXPECT_EQ(mkhashval("a"), 97u);
  EXPECT_EQ(mkhashval("ab"), 1627429073u);
}
