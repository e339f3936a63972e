// Records of the product model: paths, entries, packages, components and
// the file-kind guess.
#include <fnmatch.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "collide.hpp"
#include "common/diag.hpp"
#include "model/model.hpp"
#include "model/settings.hpp"
#include "support/capture.hpp"
#include "support/fresh_run.hpp"
#include "support/testutil.hpp"

namespace {

class ModelTest : public FreshRun {
 protected:
  void SetUp() override {
    FreshRun::SetUp();
    opts.distdir = "/b/dist";
    opts.distdirlen = 7;
  }
};

}  // namespace

TEST_F(ModelTest, EntryPaths) {
  pkgptr_t p = new_package("/pkg", "Description", "PKG", "", 0);
  EXPECT_EQ(p->dir.sv(), "/b/dist/pkg");
  EXPECT_EQ(p->reldir.sv(), "/pkg");
  EXPECT_EQ(p->dir.hash, mkhashval("/b/dist/pkg"));
  dfileptr_t f = add_new_file("/b/dist/pkg/usr/bin/ls", p, 0);
  EXPECT_EQ(f->abs.sv(), "/b/dist/pkg/usr/bin/ls");
  EXPECT_EQ(f->dist(), "/pkg/usr/bin/ls");
  EXPECT_EQ(f->path.sv(), "/usr/bin/ls");
  EXPECT_EQ(f->nm.sv(), "ls");
  EXPECT_EQ(f->path.hash, mkhashval("/usr/bin/ls"));
  EXPECT_EQ(f->nm.hash, mkhashval("ls"));
  EXPECT_EQ(f->type, ENT_FILE);
  EXPECT_EQ(f->pkg, p);
  EXPECT_EQ(f->parent, nullptr);
  EXPECT_EQ(f->aflags, 0u);
  EXPECT_TRUE(f->exports.empty());
  dfileptr_t root = add_new_directory("/b/dist/pkg", p, 0);
  EXPECT_EQ(root->path.sv(), "");
  EXPECT_EQ(root->nm.sv(), "pkg");
  EXPECT_EQ(root->type, ENT_DIR);
  EXPECT_TRUE(root->subdirs().empty());
  EXPECT_EQ(model.files.size(), 1u);
  EXPECT_EQ(model.dirs.size(), 1u);
  // A text without a slash has no base name.
  attrent pattern;
  commpaths_dup("noslash", pattern, nullptr);
  EXPECT_EQ(pattern.abs.sv(), "noslash");
  EXPECT_TRUE(pattern.nm.empty());
}

// The three hashes of an entry are taken in one pass; each must be the
// hash of its own text whatever the shape of the path.
TEST_F(ModelTest, RareTextsAreSetApartAndNeverShared) {
  // A million entries carry room for none of these; each entry points at
  // its own set, made anew when one of them changes.
  static_assert(sizeof(dfile) <= 160, "an entry record grew");
  pkgptr_t p = new_package("/pkg", "d", "PKG", "", 0);
  dfileptr_t a = add_new_file("/b/dist/pkg/a", p, 0);
  dfileptr_t b = add_new_file("/b/dist/pkg/b", p, 0);
  EXPECT_EQ(a->owner(), nullptr);
  EXPECT_EQ(a->safepath(), nullptr);
  a->set_text(&entry_texts::owner, "root");
  b->texts = a->texts;  // as a pattern's names are shared
  b->set_text(&entry_texts::flagstr, "nocompress");
  a->set_text(&entry_texts::group, "bin");
  EXPECT_STREQ(a->owner(), "root");
  EXPECT_STREQ(a->group(), "bin");
  EXPECT_EQ(a->flagstr(), nullptr);
  EXPECT_STREQ(b->owner(), "root");
  EXPECT_EQ(b->group(), nullptr);
  EXPECT_STREQ(b->flagstr(), "nocompress");
  b->set_text(&entry_texts::owner, nullptr);
  EXPECT_EQ(b->owner(), nullptr);
  EXPECT_STREQ(a->owner(), "root");
}

TEST_F(ModelTest, EntryHashesAreThoseOfTheirTexts) {
  pkgptr_t p = new_package("/pkg", "d", "PKG", "", 0);
  auto check = [](const attrent& e) {
    EXPECT_EQ(e.abs.hash, mkhashval(e.abs.sv())) << e.abs.sv();
    EXPECT_EQ(e.path.hash, mkhashval(e.path.sv())) << e.abs.sv();
    EXPECT_EQ(e.nm.hash, mkhashval(e.nm.sv())) << e.abs.sv();
  };
  for (opts.fmode = 0; opts.fmode < 2; ++opts.fmode)
    for (const char* path : {"/b/dist/pkg/usr/bin/ls", "/b/dist/pkg", "/b/dist/pkg/", "/b/dist/pkg//x",
                             "/b/dist/pkgx/y", "/elsewhere/z", "/b/dist", "rel", "/", ""}) {
      attrent e;
      commpaths_dup(path, e, p);
      check(e);
      attrent loose;
      commpaths_dup(path, loose, nullptr);
      check(loose);
    }
  opts.fmode = 0;
  attrent e;
  commpaths_dup("/b/dist/pkg/usr/lib/x.so", e, p);
  EXPECT_EQ(e.path.sv(), "/usr/lib/x.so");
  EXPECT_EQ(e.nm.sv(), "x.so");
  // Below a parent the hashes go on from the parent's: the same values.
  for (opts.fmode = 0; opts.fmode < 2; ++opts.fmode) {
    attrent root, usr, lib, x;
    commpaths_dup(opts.fmode ? "/b/dist" : "/b/dist/pkg", root, p);
    commpaths_dup(std::string(root.abs.sv()) + "/usr", usr, p, &root);
    commpaths_dup(std::string(usr.abs.sv()) + "/lib", lib, p, &usr);
    commpaths_dup(std::string(lib.abs.sv()) + "/x.so", x, p, &lib);
    for (const attrent* a : {&usr, &lib, &x}) check(*a);
    EXPECT_EQ(x.path.sv(), "/usr/lib/x.so");
    EXPECT_EQ(x.nm.sv(), "x.so");
    // A "parent" the path does not continue is not taken.
    attrent other;
    commpaths_dup("/b/dist/pkg/usrx", other, p, &lib);
    check(other);
  }
  opts.fmode = 0;
}

TEST_F(ModelTest, FlatModeOnePackage) {
  opts.fmode = 1;
  pkgptr_t p = new_package("", "d", "PRD", "", 0);
  EXPECT_EQ(p->dir.sv(), "/b/dist");
  EXPECT_EQ(p->reldir.sv(), "");
  dfileptr_t f = add_new_file("/b/dist/usr/bin/ls", p, 0);
  EXPECT_EQ(f->dist(), "/usr/bin/ls");
  EXPECT_EQ(f->path.sv(), "/usr/bin/ls");
  testutil::CaptureFd cap;
  // A second package statement gives the first package, without an error.
  EXPECT_EQ(new_package("/other", "x", "OTHER", "", 1), p);
  EXPECT_EQ(model.packages.size(), 1u);
  EXPECT_EQ(find_package("/whatever", nullptr), p);
  EXPECT_EQ(cap.text(), "");
  EXPECT_EQ(diag.errors, 0);
  cmpntptr_t c = new_cmpnt("prd", "1.0", "d", "", 1);
  EXPECT_EQ(new_cmpnt("prd", "2.0", "e", "", 1), c);
  EXPECT_EQ(c->version, "1.0");
  EXPECT_EQ(diag.errors, 0);
}

TEST_F(ModelTest, CheckedAddsReuseTheFirstEntry) {
  pkgptr_t p = new_package("/pkg", "d", "PKG", "", 0);
  pkgptr_t q = new_package("/other", "d", "OTHER", "", 0);
  const std::string path = "/b/dist/pkg/etc/x";
  dfileptr_t first = add_new_file(path, p, 1);
  EXPECT_EQ(add_new_file(path, p, 1), first);
  dfileptr_t second = add_new_file(path, p, 0);
  EXPECT_NE(second, first);
  EXPECT_EQ(add_new_file(path, p, 1), first);
  // Another package's entries are not looked at.
  EXPECT_NE(add_new_file(path, q, 1), first);
  EXPECT_EQ(p->files.size(), 2u);
  EXPECT_EQ(model.files.size(), 3u);

  dfileptr_t d = add_new_directory("/b/dist/pkg/etc", p, 2);
  EXPECT_EQ(add_new_directory("/b/dist/pkg/etc", p, 2), d);
  EXPECT_EQ(add_new_directory("/b/dist/pkg/etc", p, 1), d);
  EXPECT_NE(add_new_directory("/b/dist/pkg/etc", p, 0), d);
  EXPECT_EQ(add_new_directory("/b/dist/pkg/etc", p, 2), d);
  // Files and directories are separate: a file path is not a directory.
  EXPECT_NE(add_new_directory(path, p, 2), first);
  EXPECT_EQ(p->dirs.size(), 3u);
}

TEST_F(ModelTest, CheckedAddsTellEqualHashesApart) {
  pkgptr_t p = new_package("/pkg", "d", "PKG", "", 0);
  auto [a, b] = testmodel::ABS_PAIR;
  ASSERT_EQ(mkhashval(a), mkhashval(b));
  dfileptr_t da = add_new_directory(a, p, 2);
  dfileptr_t db = add_new_directory(b, p, 2);
  EXPECT_NE(da, db);
  EXPECT_EQ(db->abs.sv(), b);
  EXPECT_EQ(add_new_directory(a, p, 2), da);
  EXPECT_EQ(add_new_directory(b, p, 2), db);
  dfileptr_t fa = add_new_file(a + "/f", p, 1);
  dfileptr_t fb = add_new_file(b + "/f", p, 1);
  EXPECT_NE(fa, fb);
  EXPECT_EQ(add_new_file(b + "/f", p, 1), fb);
}

// A crowd of full paths of one hash: the lookup turns to seeded hashes and
// still finds the first entry of each path, and only that.
TEST_F(ModelTest, CheckedAddsInACrowdOfEqualHashes) {
  pkgptr_t p = new_package("/pkg", "d", "PKG", "", 0);
  const auto crowd = testmodel::abs_crowd();
  for (const std::string& s : crowd) ASSERT_EQ(mkhashval(s), mkhashval(crowd[0]));
  std::vector<dfileptr_t> first;
  for (const std::string& s : crowd) {
    first.push_back(add_new_file(s, p, 1));
    add_new_file(s, p, 0);  // a second entry of the path, never returned
  }
  EXPECT_TRUE(p->files_by_abs.seeded);
  EXPECT_EQ(p->files.size(), 2 * crowd.size());
  for (std::size_t i = 0; i < crowd.size(); ++i) {
    ASSERT_EQ(add_new_file(crowd[i], p, 1), first[i]);
    EXPECT_EQ(first[i]->abs.sv(), crowd[i]);
  }
  EXPECT_EQ(p->files.size(), 2 * crowd.size());
  dfileptr_t other = add_new_file("/b/dist/pkg/other", p, 1);
  EXPECT_EQ(other, p->files.back());
  EXPECT_EQ(p->files.size(), 2 * crowd.size() + 1);
}

TEST_F(ModelTest, CheckedAddsSeeEntriesMadeInBetween) {
  pkgptr_t p = new_package("/pkg", "d", "PKG", "", 0);
  add_new_directory("/b/dist/pkg", p, 2);  // builds the lookup
  std::vector<dfileptr_t> made;
  for (int i = 0; i < 500; ++i)
    made.push_back(add_new_directory("/b/dist/pkg/d" + std::to_string(i), p, 0));
  for (int i = 0; i < 500; ++i)
    ASSERT_EQ(add_new_directory("/b/dist/pkg/d" + std::to_string(i), p, 2), made[i]);
  EXPECT_EQ(p->dirs.size(), 501u);
}

TEST_F(ModelTest, CheckedAddsStayFastForLargePackages) {
  // Leading directories of exports look up a directory for every export;
  // 100,000 directories and as many lookups must not take quadratic time.
  pkgptr_t p = new_package("/pkg", "d", "PKG", "", 0);
  const int n = 100000;
  std::vector<std::string> paths;
  paths.reserve(n);
  for (int i = 0; i < n; ++i) paths.push_back("/b/dist/pkg/usr/share/d" + std::to_string(i));
  auto start = std::chrono::steady_clock::now();
  std::vector<dfileptr_t> made;
  for (const std::string& s : paths) made.push_back(add_new_directory(s, p, 0));
  for (int i = n - 1; i >= 0; --i) ASSERT_EQ(add_new_directory(paths[i], p, 2), made[i]);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds, 10.0);
  EXPECT_EQ(p->dirs.size(), static_cast<std::size_t>(n));
}

TEST_F(ModelTest, DuplicatePackages) {
  pkgptr_t p = new_package("/pkg", "Desc", "PKG", "x", 1);
  EXPECT_EQ(p->flags, pf::DEFINED);
  EXPECT_EQ(p->extra, "x");
  testutil::CaptureFd cap;
  EXPECT_EQ(new_package("/pkg", "Other", "OTHER", "", 1), p);
  EXPECT_EQ(new_package("/elsewhere", "Other", "PKG", "", 1), p);
  EXPECT_EQ(cap.text(),
            "\nERROR: Package directory '/pkg' or name 'OTHER' is already defined. The\n"
            "    duplicate entry has:\n"
            "         Directory         : /pkg\n"
            "         Package Name     : PKG\n"
            "ERROR: Package directory '/elsewhere' or name 'PKG' is already defined. The\n"
            "    duplicate entry has:\n"
            "         Directory         : /pkg\n"
            "         Package Name     : PKG\n");
  EXPECT_EQ(diag.errors, 2);
  EXPECT_EQ(p->desc, "Desc");
  EXPECT_EQ(model.packages.size(), 1u);
  // Not defined by the control file: a second record is made.
  pkgptr_t again = new_package("/pkg", "Scan", "PKG", "", 0);
  EXPECT_NE(again, p);
  EXPECT_EQ(again->flags, 0u);
  EXPECT_EQ(model.packages.size(), 2u);
  EXPECT_EQ(find_package("/pkg", nullptr), p);
}

TEST_F(ModelTest, DuplicateReportsPrintValuesWhole) {
  new_package("/lib-2.1", "d", "LIB.X", "", 1);
  new_cmpnt("base", "2.10", "v1.2 of it", "", 1);
  testutil::CaptureFd cap;
  new_package("/lib-2.1", "d", "OTHER.Y", "", 1);
  new_cmpnt("base", "3.0", "New", "", 1);
  EXPECT_EQ(cap.text(),
            "\nERROR: Package directory '/lib-2.1' or name 'OTHER.Y' is already defined. The\n"
            "    duplicate entry has:\n"
            "         Directory         : /lib-2.1\n"
            "         Package Name     : LIB.X\n"
            "ERROR: Component 'base' is already defined. The duplicate entry has the\n"
            "    following attributes:\n"
            "         Name         : base\n"
            "         Version         : 2.10\n"
            "         Description     : v1.2 of it\n");
}

TEST_F(ModelTest, FindPackagePassesOverIgnored) {
  pkgptr_t a = new_package("/a", "d", "A", "", 0);
  pkgptr_t b = new_package("/b", "d", "B", "", 0);
  EXPECT_EQ(find_package("/b", nullptr), b);
  EXPECT_EQ(find_package(nullptr, "A"), a);
  EXPECT_EQ(find_package("/b", "A"), a);  // either test, first package first
  EXPECT_EQ(find_package(nullptr, nullptr), nullptr);
  EXPECT_EQ(find_package("/c", "C"), nullptr);
  a->flags |= pf::IGNORED;
  EXPECT_EQ(find_package(nullptr, "A"), nullptr);
  EXPECT_EQ(find_package("/a", nullptr), nullptr);
  pkgptr_t a2 = new_package("/a", "d", "A", "", 1);
  EXPECT_EQ(diag.errors, 0);
  EXPECT_EQ(find_package(nullptr, "A"), a2);
  // The package made first wins, whichever text it matched.
  EXPECT_EQ(find_package("/b", "A"), b);
  EXPECT_EQ(find_package("/a", "B"), b);
  b->flags |= pf::IGNORED;
  EXPECT_EQ(find_package("/b", "A"), a2);
}

TEST_F(ModelTest, Components) {
  testutil::TempDir t;
  set_debug(1, (t / "dbg").c_str());
  cmpntptr_t c = new_cmpnt("base", "1.0", "Base system", "", 1);
  EXPECT_EQ(c->flags, cf::DEFINED);
  EXPECT_EQ(find_cmpnt("base"), c);
  EXPECT_EQ(find_cmpnt("other"), nullptr);
  testutil::CaptureFd cap;
  EXPECT_EQ(new_cmpnt("base", "2.0", "New", "e", 1), c);
  EXPECT_EQ(cap.text(),
            "\nERROR: Component 'base' is already defined. The duplicate entry has the\n"
            "    following attributes:\n"
            "         Name         : base\n"
            "         Version         : 1.0\n"
            "         Description     : Base system\n");
  EXPECT_EQ(diag.errors, 1);
  EXPECT_EQ(c->version, "1.0");
  // Not defined: a second record of the same name; lookups find the first.
  cmpntptr_t c2 = new_cmpnt("base", "3.0", "Third", "", 0);
  EXPECT_NE(c2, c);
  EXPECT_EQ(c2->flags, 0u);
  EXPECT_EQ(model.cmpnts.size(), 2u);
  EXPECT_EQ(find_cmpnt("base"), c);
  close_debug();
  EXPECT_EQ(testutil::read_file(t / "dbg"),
            "new_cmpnt ('base', '1.0', 'Base system', '', 1)\n"
            "new_cmpnt ('base', '2.0', 'New', 'e', 1)\n"
            "new_cmpnt ('base', '3.0', 'Third', '', 0)\n");
}

// Thousands of components are found by name through a set; equal hashes
// of the system's string hash stay two names, and a fresh model forgets them.
TEST_F(ModelTest, ManyComponentsByName) {
  std::vector<cmpntptr_t> made;
  for (int i = 0; i < 300; ++i) made.push_back(new_cmpnt("c" + std::to_string(i), "1", "", "", 1));
  static_assert(mkhashval("k512789") == mkhashval("k749192"));
  cmpntptr_t a = new_cmpnt("k512789", "1", "", "", 1), b = new_cmpnt("k749192", "1", "", "", 1);
  EXPECT_NE(a, b);
  EXPECT_EQ(find_cmpnt("k512789"), a);
  EXPECT_EQ(find_cmpnt("k749192"), b);
  for (int i = 0; i < 300; ++i) ASSERT_EQ(find_cmpnt("c" + std::to_string(i)), made[i]);
  EXPECT_EQ(find_cmpnt("c300"), nullptr);
  reset_model();
  EXPECT_EQ(find_cmpnt("c1"), nullptr);
}

TEST_F(ModelTest, LikelyFiletype) {
  struct row {
    const char* path;
    int kind;
    std::uint32_t mode;
    std::int32_t phase;
  };
  const std::uint32_t keep = 01234;  // the caller's preset, left when no rule matches
  const row rows[] = {
      {"/usr/bin/ls", 0, 0755, 0},
      {"/usr/bin/x.conf", 0, 0755, 0},  // rule 1 comes first
      {"/etc/inet/hosts.conf", 1, 0644, 0},
      {"/opt/app.cfg", 1, 0644, 0},
      {"/opt/app.ini", 1, 0644, 0},
      {"/usr/share/x.default", 0, 0444, 0},
      {"/etc/bashrc", 1, 0644, 0},
      {"/opt/etc/shrc", 1, 0644, 0},
      {"/etc/conf/node.d", 0, 0444, 0},
      {"/etc/default/init", 1, 0644, 0},
      {"/opt/x/etc/a/b", 1, 0644, 0},
      {"/usr/lib/libc.so.1", 0, 0555, 1},
      {"/usr/lib/libc.a", 0, keep, 0},
      {"/usr/share/doc/readme", 0, keep, 0},
  };
  for (const row& r : rows) {
    std::uint32_t mode = keep;
    std::int32_t phase = 0;
    EXPECT_EQ(likely_filetype(r.path, mode, phase), r.kind) << r.path;
    EXPECT_EQ(mode, r.mode) << r.path;
    EXPECT_EQ(phase, r.phase) << r.path;
  }
  // All-variable and all-static decide the kind; the mode is still suggested.
  std::uint32_t mode = keep;
  std::int32_t phase = 0;
  opts.vmode = 1;
  EXPECT_EQ(likely_filetype("/usr/bin/ls", mode, phase), 1);
  EXPECT_EQ(likely_filetype("/usr/share/doc/readme", mode, phase), 1);
  opts.vmode = 0;
  opts.smode = 1;
  EXPECT_EQ(likely_filetype("/etc/inet/hosts.conf", mode, phase), 0);
  EXPECT_EQ(mode, 0644u);
}

// The guess tests its patterns byte by byte; over every path built from
// these pieces it must agree with fnmatch on the patterns themselves.
TEST_F(ModelTest, LikelyFiletypeAgreesWithItsPatterns) {
  struct rule {
    std::vector<const char*> patterns;
    std::uint32_t mode;
    int kind;
    std::int32_t phase;
  };
  const rule rules[] = {
      {{"*/bin/*"}, 0755, 0, 0},
      {{"*.conf", "*.cfg", "*.ini"}, 0644, 1, 0},
      {{"*.default"}, 0444, 0, 0},
      {{"*/etc/*rc"}, 0644, 1, 0},
      {{"/etc/conf/*"}, 0444, 0, 0},
      {{"/etc/*/*", "*/etc/*/*"}, 0644, 1, 0},
      {{"*.so*"}, 0555, 0, 1},
  };
  const char* pieces[] = {"/etc", "/etc/", "/bin", "/conf", "rc", ".so", ".conf", ".cfg",
                          ".ini", ".default", "/", "x", "c"};
  std::vector<std::string> paths{""};
  for (int depth = 0; depth < 3; ++depth) {
    const std::size_t n = paths.size();
    for (std::size_t i = 0; i < n; ++i)
      for (const char* p : pieces) paths.push_back(paths[i] + p);
  }
  for (const std::string& path : paths) {
    std::uint32_t want_mode = 7, mode = 7;
    std::int32_t want_phase = 0, phase = 0;
    int want = 0;
    for (const rule& r : rules) {
      bool hit = false;
      for (const char* p : r.patterns) hit |= fnmatch(p, path.c_str(), 0) == 0;
      if (!hit) continue;
      want_mode = r.mode;
      want_phase = r.phase;
      want = r.kind;
      break;
    }
    ASSERT_EQ(likely_filetype(path.c_str(), mode, phase), want) << path;
    ASSERT_EQ(mode, want_mode) << path;
    ASSERT_EQ(phase, want_phase) << path;
  }
}

// Records stay where they were made across blocks, start zeroed, and a
// moved or cleared pool destroys each record once (the sanitizer build
// reports a leak or a double free otherwise).
TEST(RecordPool, BlocksMovesAndClears) {
  record_pool<dfile> pool;
  std::vector<dfileptr_t> made;
  for (std::size_t i = 0; i < record_pool<dfile>::PER_BLOCK + 2; ++i) {
    dfileptr_t e = pool.make();
    EXPECT_EQ(e->aflags, 0u);
    EXPECT_TRUE(e->exports.empty());
    add_strlist("/x" + std::to_string(i), 0, e->exports);
    made.push_back(e);
  }
  for (std::size_t i = 0; i < made.size(); ++i)
    ASSERT_EQ(made[i]->exports.head()->str, "/x" + std::to_string(i));
  record_pool<dfile> moved(std::move(pool));
  EXPECT_EQ(made.back()->exports.head()->str, "/x" + std::to_string(made.size() - 1));
  record_pool<dfile> other;
  add_strlist("/y", 0, other.make()->exports);
  other = std::move(moved);
  pool.make();  // the moved-from pool starts over
  other.clear();
  other.make();
}
