// String lists and the hash they are keyed by.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "common/hash.hpp"
#include "common/lists.hpp"

namespace {

// Two different texts with the same hash (found by a search over "k<n>").
constexpr const char* COLLIDE_A = "k512789";
constexpr const char* COLLIDE_B = "k749192";

template <class List>
std::vector<std::string> texts(const List& l) {
  std::vector<std::string> out;
  for (const auto& n : l) out.push_back(n.str);
  return out;
}

}  // namespace

TEST(Hash, KnownValuesAndCollision) {
  static_assert(mkhashval("") == 0u);
  EXPECT_EQ(mkhashval("a"), 97u);
  EXPECT_EQ(mkhashval("ab"), 1627429073u);
  EXPECT_EQ(mkhashval("\xff"), 255u);  // bytes count as unsigned
  EXPECT_EQ(mkhashval(COLLIDE_A), 1882886441u);
  EXPECT_EQ(mkhashval(COLLIDE_A), mkhashval(COLLIDE_B));
  // A common suffix keeps the collision (the state after both texts is equal).
  EXPECT_EQ(mkhashval(std::string(COLLIDE_A) + "/x"), mkhashval(std::string(COLLIDE_B) + "/x"));
}

TEST(Strlist, AddKeepsOrderAndUpdatesInPlace) {
  strlist l;
  EXPECT_EQ(find_strlist("x", l), nullptr);
  strnode* x = add_strlist("x", 1, l);
  add_strlist("y", 2, l);
  strnode* again = add_strlist("x", 4, l);
  EXPECT_EQ(again, x);
  EXPECT_EQ(x->flags, 4u);
  EXPECT_EQ(x->hash, mkhashval("x"));
  EXPECT_EQ(texts(l), (std::vector<std::string>{"x", "y"}));
  EXPECT_EQ(l.head(), x);
  EXPECT_EQ(l.tail()->str, "y");
  EXPECT_EQ(find_strlist("y", l)->flags, 2u);
}

TEST(Strlist, EqualHashesAreDifferentKeys) {
  strlist l;
  strnode* a = add_strlist(COLLIDE_A, 1, l);
  strnode* b = add_strlist(COLLIDE_B, 2, l);
  EXPECT_NE(a, b);
  EXPECT_EQ(find_strlist(COLLIDE_A, l), a);
  EXPECT_EQ(find_strlist(COLLIDE_B, l), b);
  EXPECT_EQ(add_strlist(COLLIDE_B, 8, l), b);
  EXPECT_EQ(a->flags, 1u);
  EXPECT_EQ(b->flags, 8u);

  varlist v;
  add_varlist(COLLIDE_A, "1", v);
  add_varlist(COLLIDE_B, "2", v);
  EXPECT_EQ(find_varlist(COLLIDE_A, v)->value, "1");
  EXPECT_EQ(find_varlist(COLLIDE_B, v)->value, "2");
  EXPECT_EQ(find_varlist("k0", v), nullptr);
}

TEST(Strelist, ReAddKeepsTheExceptions) {
  strelist l;
  strenode* n = add_strelist("*.o", 0, l);
  add_strlist("*/keep.o", 0, n->sub);
  EXPECT_EQ(add_strelist("*.o", 1, l), n);
  EXPECT_EQ(n->flags, 1u);
  ASSERT_NE(n->sub.head(), nullptr);
  EXPECT_EQ(n->sub.head()->str, "*/keep.o");
  EXPECT_TRUE(add_strelist("*.a", 0, l)->sub.empty());
}

TEST(Varlist, ReplaceValueKeepsPosition) {
  varlist l;
  varnode* m = add_varlist("M", "1", l);
  add_varlist("N", "x", l);
  EXPECT_EQ(add_varlist("M", "2", l), m);
  EXPECT_EQ(m->name, "M");
  EXPECT_EQ(m->value, "2");
  EXPECT_EQ(l.head(), m);
  int count = 0;
  for (const varnode& n : l) count += n.name == "M";
  EXPECT_EQ(count, 1);
}

// A list is one pointer; walking it reaches nodes appended during the walk,
// and moving or clearing leaves no node reachable twice.
TEST(Strlist, RingWalksMovesAndClears) {
  static_assert(sizeof(strlist) == sizeof(void*));
  strlist l;
  EXPECT_EQ(l.head(), nullptr);
  EXPECT_EQ(l.begin(), l.end());
  add_strlist("a", 0, l);
  EXPECT_EQ(l.head(), l.tail());
  add_strlist("b", 0, l);
  std::vector<std::string> seen;
  for (const strnode& n : l) {
    seen.push_back(n.str);
    if (seen.size() < 4) add_strlist(n.str + "+", 0, l);
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"a", "b", "a+", "b+", "a++"}));
  EXPECT_EQ(l.next_of(l.tail()), nullptr);

  strlist moved(std::move(l));
  EXPECT_TRUE(l.empty());
  EXPECT_EQ(texts(moved), seen);
  strlist other;
  add_strlist("z", 0, other);
  other = std::move(moved);
  EXPECT_EQ(texts(other), seen);
  other.clear();
  EXPECT_TRUE(other.empty());
  add_strlist("again", 0, other);
  EXPECT_EQ(texts(other), std::vector<std::string>{"again"});
}

namespace {

std::vector<std::string> numbered(const char* prefix, int n) {
  std::vector<std::string> out;
  for (int i = 0; i < n; ++i) out.push_back(prefix + std::to_string(i));
  return out;
}

}  // namespace

// A long list is searched through its hash set; what it shows stays what a
// short one shows: insertion order, one node per text, flags updated in
// place, equal system hashes told apart by the text.
TEST(Strlist, LongListKeepsOrderAndFirstNode) {
  strlist l;
  const auto names = numbered("/usr/lib/f", 500);
  std::vector<strnode*> nodes;
  for (const std::string& n : names) nodes.push_back(add_strlist(n, 1, l));
  add_strlist(COLLIDE_A, 2, l);
  add_strlist(COLLIDE_B, 3, l);
  EXPECT_TRUE(l.indexed());
  EXPECT_EQ(add_strlist(names[7], 9, l), nodes[7]);
  EXPECT_EQ(nodes[7]->flags, 9u);
  EXPECT_EQ(find_strlist(COLLIDE_A, l)->flags, 2u);
  EXPECT_EQ(find_strlist(COLLIDE_B, l)->flags, 3u);
  EXPECT_EQ(find_strlist("/usr/lib/f500", l), nullptr);
  auto expect = names;
  expect.push_back(COLLIDE_A);
  expect.push_back(COLLIDE_B);
  EXPECT_EQ(texts(l), expect);
  for (std::size_t i = 0; i < names.size(); ++i) ASSERT_EQ(find_strlist(names[i], l), nodes[i]);

  // Moved, walked while growing and cleared, the set goes with its nodes.
  strlist moved(std::move(l));
  std::size_t seen = 0;
  for (const strnode& n : moved)
    if (++seen <= 3) add_strlist(n.str + "+", 0, moved);
  EXPECT_EQ(seen, expect.size() + 3);
  EXPECT_EQ(moved.tail()->str, names[2] + "+");
  EXPECT_NE(find_strlist(names[1] + "+", moved), nullptr);
  moved.clear();
  EXPECT_FALSE(moved.indexed());
  EXPECT_EQ(find_strlist(names[1], moved), nullptr);
}

TEST(Varlist, LongListReplacesInPlace) {
  varlist v;
  const auto names = numbered("M", 100);
  for (const std::string& n : names) add_varlist(n, n, v);
  EXPECT_EQ(find_varlist("M99", v)->value, "M99");
  EXPECT_TRUE(v.indexed());
  varnode* m = add_varlist("M3", "new", v);
  EXPECT_EQ(m, find_varlist("M3", v));
  EXPECT_EQ(m->value, "new");
  std::vector<std::string> order;
  for (const varnode& n : v) order.push_back(n.name);
  EXPECT_EQ(order, names);
}

// A short list is walked as it stands: a set is made only once a search
// has passed a number of nodes.
TEST(Strlist, ShortListHasNoSet) {
  strlist l;
  for (const std::string& n : numbered("x", 8)) add_strlist(n, 0, l);
  EXPECT_FALSE(l.indexed());
}

TEST(Hash, SeededHashDependsOnTextAndSeed) {
  EXPECT_EQ(seeded_hash("/usr/bin/ls", 1), seeded_hash(std::string("/usr/bin/") + "ls", 1));
  EXPECT_NE(seeded_hash("/usr/bin/ls", 1), seeded_hash("/usr/bin/ls", 2));
  EXPECT_NE(seeded_hash(COLLIDE_A, 5), seeded_hash(COLLIDE_B, 5));
  EXPECT_NE(seeded_hash("", 5), seeded_hash(std::string(1, '\0'), 5));
  EXPECT_NE(seeded_hash("abcdefgh", 5), seeded_hash(std::string_view("abcdefgh\0", 9), 5));
}
