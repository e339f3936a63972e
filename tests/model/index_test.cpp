// Sorted indexes, pattern searches and their rebuilding.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "collide.hpp"
#include "common/diag.hpp"
#include "model/index.hpp"
#include "model/model.hpp"
#include "model/settings.hpp"
#include "support/fresh_run.hpp"

namespace {

class IndexTest : public FreshRun {
 protected:
  void SetUp() override {
    FreshRun::SetUp();
    opts.distdir = "/b/dist";
    opts.distdirlen = 7;
    pkg = new_package("/pkg", "d", "PKG", "", 0);
  }

  dfileptr_t file(const std::string& installed, std::uint64_t ino = 0) {
    dfileptr_t f = add_new_file("/b/dist/pkg" + installed, pkg, 0);
    f->ino = ino;
    return f;
  }
  static attrent pattern(const char* text, std::uint32_t aflags = 0) {
    attrent p;
    p.path = newpath_dup(text);
    p.aflags = aflags;
    return p;
  }

  pkgptr_t pkg = nullptr;
};

}  // namespace

TEST_F(IndexTest, LookupsByHashCompareTheText) {
  auto [a, b] = testmodel::PATH_PAIR;
  ASSERT_EQ(mkhashval(a), mkhashval(b));
  dfileptr_t fa = file(a);
  dfileptr_t fb = file(b);
  dfileptr_t other = file("/usr/bin/ls");
  EXPECT_EQ(find_path_in_flist(a, {}), nullptr);
  package_resize_and_sort(pkg);
  EXPECT_EQ(find_path_in_flist(a, pkg->files_path), fa);
  EXPECT_EQ(find_path_in_flist(b, pkg->files_path), fb);
  EXPECT_EQ(find_path_in_flist("/usr/bin/ls", pkg->files_path), other);
  EXPECT_EQ(find_path_in_flist("/usr/bin/none", pkg->files_path), nullptr);
  EXPECT_EQ(find_all_path_in_flist(b, pkg->files_path), std::vector<dfileptr_t>{fb});

  // The snapshot of declared entries is looked up by name and full path.
  take_declared_snapshot();
  EXPECT_EQ(find_name_in_flist("ls", model.t_files_nm), other);
  EXPECT_EQ(find_abspath_in_flist("/b/dist/pkg" + b, model.t_files_abs), fb);
  EXPECT_EQ(find_abspath_in_flist(b, model.t_files_abs), nullptr);

  auto [da, db] = testmodel::ABS_DIR_PAIR;
  ASSERT_EQ(mkhashval(da), mkhashval(db));
  dfileptr_t xa = add_new_directory(da, pkg, 0);
  dfileptr_t xb = add_new_directory(db, pkg, 0);
  take_declared_snapshot();
  EXPECT_EQ(find_abspath_in_dlist(da, model.t_dirs_abs), xa);
  EXPECT_EQ(find_abspath_in_dlist(db, model.t_dirs_abs), xb);
  EXPECT_EQ(find_path_in_dlist(db.substr(11), model.t_dirs_path), xb);
  drop_declared_snapshot();
  EXPECT_TRUE(model.t_files_abs.empty());
}

TEST_F(IndexTest, EqualPathsFindTheFirstMade) {
  dfileptr_t first = file("/usr/bin/x");
  dfileptr_t second = file("/usr/bin/x");
  for (int i = 0; i < 50; ++i) file("/usr/bin/y" + std::to_string(i));
  package_resize_and_sort(pkg);
  EXPECT_EQ(find_path_in_flist("/usr/bin/x", pkg->files_path), first);
  EXPECT_EQ(find_all_path_in_flist("/usr/bin/x", pkg->files_path),
            (std::vector<dfileptr_t>{first, second}));
}

TEST_F(IndexTest, PackageSortOrders) {
  dfileptr_t a = file("/a", 5);
  dfileptr_t b = file("/b", 3);
  dfileptr_t c = file("/c", 5);
  dfileptr_t d = file("/d", 1);
  dfileptr_t e = file("/e", 3);
  add_new_directory("/b/dist/pkg", pkg, 0);
  add_new_directory("/b/dist/pkg/usr", pkg, 0);
  package_resize_and_sort(pkg);
  // Hard links (one inode) lie next to each other, in creation order.
  EXPECT_EQ(pkg->files_inode, (std::vector<dfileptr_t>{d, b, e, a, c}));
  ASSERT_EQ(pkg->files_path.size(), 5u);
  for (std::size_t i = 1; i < pkg->files_path.size(); ++i) {
    EXPECT_LE(pkg->files_path[i - 1]->path.hash, pkg->files_path[i]->path.hash);
  }
  ASSERT_EQ(pkg->dirs_path.size(), 2u);
  EXPECT_LE(pkg->dirs_path[0]->path.hash, pkg->dirs_path[1]->path.hash);
  EXPECT_EQ(pkg->files.capacity(), 5u);
  // Rebuilt after more entries, an earlier array is reused at the new size.
  dfileptr_t f = file("/f", 2);
  package_resize_and_sort(pkg);
  EXPECT_EQ(pkg->files_inode, (std::vector<dfileptr_t>{d, f, b, e, a, c}));
}

TEST_F(IndexTest, GlobalIndexesKeepContentsWithoutEntries) {
  dfileptr_t a = file("/a");
  resize_and_sort_lists();
  EXPECT_EQ(model.files_path, std::vector<dfileptr_t>{a});
  model.files.clear();
  resize_and_sort_lists();
  EXPECT_EQ(model.files_path, std::vector<dfileptr_t>{a});
}

TEST_F(IndexTest, FindAlist) {
  std::vector<attrent> pats;
  pats.push_back(pattern("/usr/*"));
  pats.push_back(pattern("/usr/*", af::PATHMATCH));
  pats.push_back(pattern("/usr/*/*", af::PATHMATCH));
  std::size_t idx = 0;
  EXPECT_EQ(find_alist("/usr/lib/x.so", pats, &idx), &pats[0]);
  EXPECT_EQ(idx, 0u);
  idx = 1;
  EXPECT_EQ(find_alist("/usr/lib/x.so", pats, &idx), &pats[2]);
  EXPECT_EQ(idx, 2u);
  idx = 3;
  EXPECT_EQ(find_alist("/usr/lib/x.so", pats, &idx), nullptr);
  EXPECT_EQ(idx, 3u);
  idx = 1;
  EXPECT_EQ(find_alist("/opt/x", pats, &idx), nullptr);
  EXPECT_EQ(idx, 1u);  // unchanged when nothing matches
  EXPECT_EQ(find_alist("/usr/x", pats, nullptr), &pats[0]);

  // Exceptions keep a matching pattern from applying.
  std::vector<attrent> ex;
  ex.push_back(pattern("/usr/lib/*"));
  add_strlist("*.so*", 0, ex[0].except);
  EXPECT_EQ(find_alist("/usr/lib/x.so", ex, nullptr), nullptr);
  EXPECT_EQ(find_alist("/usr/lib/x.a", ex, nullptr), &ex[0]);

  // A pattern text that ends inside a longer text is matched as its own length.
  static const char longer[] = "/usr/*.a";
  std::vector<attrent> cut(1);
  cut[0].path = newpath(std::string_view(longer, 6));
  EXPECT_EQ(find_alist("/usr/x.so", cut, nullptr), &cut[0]);
}

TEST_F(IndexTest, FindMatchInStrlist) {
  strlist l;
  add_strlist("/usr/*.so", 1, l);  // path-name matching
  strnode* any = add_strlist("*.so", 0, l);
  EXPECT_EQ(find_match_in_strlist("/usr/lib/x.so", l), any);
  EXPECT_EQ(find_match_in_strlist("/usr/x.so", l), l.head());
  EXPECT_EQ(find_match_in_strlist("/usr/x.a", l), nullptr);
  EXPECT_EQ(find_match_in_strlist("/x", strlist{}), nullptr);
}

// The scan's order (names in byte order, depth first) puts "/a/x" before
// "/a.txt"; the output order is by path, equal paths as they were made.
TEST_F(IndexTest, SortPackageByPath) {
  dfileptr_t ax = file("/a/x");
  dfileptr_t atxt = file("/a.txt");
  dfileptr_t b1 = file("/b");
  dfileptr_t b2 = file("/b");
  sort_package_by_path(pkg);
  EXPECT_EQ(pkg->files, (std::vector<dfileptr_t>{atxt, ax, b1, b2}));
  sort_package_by_path(pkg);  // already in order: left as it is
  EXPECT_EQ(pkg->files, (std::vector<dfileptr_t>{atxt, ax, b1, b2}));
  dfileptr_t d2 = add_new_directory("/b/dist/pkg/z", pkg, 0);
  dfileptr_t d1 = add_new_directory("/b/dist/pkg/y", pkg, 0);
  sort_package_by_path(pkg);
  EXPECT_EQ(pkg->dirs, (std::vector<dfileptr_t>{d1, d2}));
}

// Entries of one hash lie in the order of their texts, equal texts in
// creation order, so a bisection finds the first of a text among them.
TEST_F(IndexTest, EqualHashesOrderedByText) {
  auto [a, b] = testmodel::PATH_PAIR;
  ASSERT_LT(b, a);
  dfileptr_t a1 = file(a), b1 = file(b), a2 = file(a), b2 = file(b);
  for (int i = 0; i < 40; ++i) file("/usr/share/z" + std::to_string(i));
  package_resize_and_sort(pkg);
  auto run = std::find(pkg->files_path.begin(), pkg->files_path.end(), b1);
  ASSERT_LE(run + 4, pkg->files_path.end());
  EXPECT_EQ(std::vector<dfileptr_t>(run, run + 4), (std::vector<dfileptr_t>{b1, b2, a1, a2}));
  EXPECT_EQ(find_path_in_flist(a, pkg->files_path), a1);
  EXPECT_EQ(find_path_in_flist(b, pkg->files_path), b1);
  EXPECT_EQ(find_all_path_in_flist(a, pkg->files_path), (std::vector<dfileptr_t>{a1, a2}));
  EXPECT_EQ(find_path_in_flist("/usr/lib/x", pkg->files_path), nullptr);
}

// A crowd of one hash is searched by bisection over the texts.
TEST_F(IndexTest, CrowdOfEqualHashes) {
  const auto crowd = testmodel::path_crowd();
  std::vector<dfileptr_t> made;
  for (const std::string& s : crowd) {
    ASSERT_EQ(mkhashval(s), mkhashval(crowd[0]));
    made.push_back(file(s));
  }
  dfileptr_t again = file(crowd[5]);
  package_resize_and_sort(pkg);
  for (std::size_t i = 0; i < crowd.size(); ++i) ASSERT_EQ(find_path_in_flist(crowd[i], pkg->files_path), made[i]);
  EXPECT_EQ(find_all_path_in_flist(crowd[5], pkg->files_path), (std::vector<dfileptr_t>{made[5], again}));
  EXPECT_EQ(find_path_in_flist(crowd[0] + "x", pkg->files_path), nullptr);
  take_declared_snapshot();
  EXPECT_EQ(find_abspath_in_flist("/b/dist/pkg" + crowd[7], model.t_files_abs), made[7]);
}

// Large arrays are sorted by buckets of the key's leading bits. Whatever
// the spread of the keys (hashes over the whole range, inodes in a narrow
// run with many hard-link groups, one key for all), the order must be the
// one a stable sort by key gives.
TEST_F(IndexTest, LargeIndexesKeepTheStableKeyOrder) {
  std::uint64_t seed = 12345;
  auto next = [&seed] { return seed = seed * 6364136223846793005u + 1442695040888963407u; };
  auto expect_stable_order = [this] {
    std::vector<dfileptr_t> by_ino = pkg->files, by_path = pkg->files;
    std::stable_sort(by_ino.begin(), by_ino.end(), qsbscb_file_inode);
    std::stable_sort(by_path.begin(), by_path.end(), [](dfileptr_t a, dfileptr_t b) {
      return a->path.hash != b->path.hash ? a->path.hash < b->path.hash : a->path.sv() < b->path.sv();
    });
    package_resize_and_sort(pkg);
    EXPECT_EQ(pkg->files_inode, by_ino);
    EXPECT_EQ(pkg->files_path, by_path);
  };
  for (int i = 0; i < 5000; ++i) {
    // Inodes from 7,000,000 on, one in eight shared with a neighbour; a few
    // at the extremes of the 64-bit range to stretch the buckets.
    std::uint64_t ino = 7'000'000 + (next() >> 52);
    if (i % 997 == 0) ino = i % 2 ? ~std::uint64_t{0} : 0;
    file("/usr/lib/f" + std::to_string(next() % 100000), ino);
  }
  expect_stable_order();
  for (dfileptr_t f : pkg->files) f->ino = 42;
  expect_stable_order();
  EXPECT_EQ(pkg->files_inode, pkg->files);  // one key: creation order
}
