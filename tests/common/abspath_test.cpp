// Textual path normalisation.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <string>

#include "common/abspath.hpp"

TEST(Abspath, Table) {
  struct row {
    const char* cwd;
    const char* name;
    const char* result;
  };
  const row rows[] = {
      {"/any", "/a//b/./c/../d", "/a/b/d"},
      {"/any", "/..", "/"},
      {"/any", "/../..", "/"},
      {"/any", "/a/b/.", "/a/b"},
      {"/any", "/", "/"},
      {"/w/x", "y", "/w/x/y"},
      {"/w/x", "../y", "/w/y"},
      {"/w/x", ".", "/w/x"},
      {"/any", "/a/..b/c..", "/a/..b/c.."},
      {"/any", "/a/.x/x./x../.../b", "/a/.x/x./x../.../b"},
      {"/w/x/", "y//z/", "/w/x/y/z"},
      {"/", "..", "/"},
      {"/w/x", "../../../y", "/y"},
      {"/w", "a/../../b/./c", "/b/c"},
      {"/any", "//a", "/a"},
  };
  for (const row& r : rows) {
    auto got = abspath_from(r.name, r.cwd);
    ASSERT_TRUE(got) << r.name;
    EXPECT_EQ(*got, r.result) << "cwd " << r.cwd << ", name " << r.name;
  }
}

TEST(Abspath, Failures) {
  errno = 0;
  EXPECT_FALSE(abspath(""));
  EXPECT_EQ(errno, ENOENT);
  errno = 0;
  EXPECT_FALSE(abspath(static_cast<const char*>(nullptr)));
  EXPECT_EQ(errno, EINVAL);
  errno = 0;
  EXPECT_FALSE(abspath_from("", "/w"));
  EXPECT_EQ(errno, ENOENT);
}

TEST(Abspath, WorkingDirectoryAndLongNames) {
  char buf[4096];
  ASSERT_NE(getcwd(buf, sizeof buf), nullptr);
  std::string cwd = buf;
  auto got = abspath("sub/./file");
  ASSERT_TRUE(got);
  EXPECT_EQ(*got, (cwd == "/" ? "" : cwd) + "/sub/file");
  // No length limit: a 2000-character name comes back whole.
  std::string name = "/" + std::string(2000, 'n');
  EXPECT_EQ(*abspath(name), name);
  EXPECT_EQ(*abspath(name + "/../m"), "/m");
}
