// One package at a time: its name, the backend's package replies, the
// closing counts and checks, flat mode, requested hard-link conversion,
// and trees that are deep, long-named or wide.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

#include "common/fileio.hpp"

#include "scan_fixture.hpp"

namespace scantest {
namespace {

using testutil::make_dirs;
using testutil::make_hardlink;
using testutil::write_file;

TEST_F(ScanTest, PackageNamesComeFromTheDirectoryOrTheBackend) {
  write_file(dist("foo-2.1/a/x"), "x");
  write_file(dist("bar.d/a/x"), "x");
  write_file(dist("a-b.c/a/x"), "x");
  scan("foo-2.1");
  scan("bar.d");
  scan("a-b.c");
  be.pkgrename = [](const char* s) { return std::string("Renamed_") + s; };
  write_file(dist("lower-1/a/x"), "x");
  std::string err = scan("lower-1");
  EXPECT_EQ(squash(err), squash("\nINFO:processing new package: Renamed_lower : 1 file, 2 directories.\n"));
  std::vector<std::string> names;
  for (pkgptr_t p : model.packages) names.push_back(p->name + " " + std::string(p->reldir.sv()));
  EXPECT_EQ(names, (std::vector<std::string>{"FOO /foo-2.1", "BAR /bar.d", "A /a-b.c",
                                             "Renamed_lower /lower-1"}));
  EXPECT_EQ(diag.errors, 0);
}

TEST_F(ScanTest, TwoDirectoriesGivingOneNameAreAnError) {
  write_file(dist("perl-base/usr/x"), "x");
  write_file(dist("perl-modules/usr/y"), "y");
  write_file(dist("-odd/usr/z"), "z");
  scan("perl-base");
  std::string err = scan("perl-modules") + scan("-odd");
  EXPECT_EQ(squash(err),
            squash("\nERROR:the package directories `/perl-base' and `/perl-modules' both give the "
                   "package name `PERL'.\n"
                   "ERROR:the package directory `/-odd' gives an empty package name.\n"));
  EXPECT_EQ(diag.errors, 2);
  ASSERT_EQ(model.packages.size(), 1u);
  EXPECT_EQ(model.packages[0]->reldir.sv(), "/perl-base");
  EXPECT_EQ(model.files.size(), 1u);
}

TEST_F(ScanTest, EmptyPackageWarnsAndFailsUnlessPrivate) {
  make_dirs(dist("empty"));
  std::string err = scan("empty");
  EXPECT_EQ(squash(err), squash("\nINFO:processing new package: EMPTY : 0 files, 1 directory.\n"
                                "\nWARNING:package `EMPTY' has no files.\n"
                                "\nERROR:package `EMPTY' has no directories.\n"));
  EXPECT_EQ(diag.warnings, 1);
  EXPECT_EQ(diag.errors, 1);

  diag = Diagnostics{};
  diag.columns = 100000;
  make_dirs(dist("ctl"));
  replies.prepkg = 4;
  err = scan("ctl");
  EXPECT_EQ(squash(err), squash("\nINFO:processing new private package: CTL : 0 files, 1 directory.\n"
                                "\nWARNING:package `CTL' has no files.\n"));
  EXPECT_EQ(diag.errors, 0);
  EXPECT_EQ(package_named("CTL")->flags, pf::PRIVATE);
}

TEST_F(ScanTest, PackageRepliesIgnoreFailOrRemove) {
  for (const char* d : {"rm", "fail", "post", "fin", "twice"}) write_file(dist(d) + "/d/f", "x");

  replies.prepkg = 5;  // removed: not listed at all
  EXPECT_EQ(scan("rm"), "");
  EXPECT_EQ(package_named("RM")->flags, pf::IGNORED | pf::REMOVED);
  EXPECT_TRUE(package_named("RM")->dirs.empty());

  replies.prepkg = 0;
  replies.prefile["/fail/d/f"] = 3;
  std::string err = scan("fail");
  EXPECT_EQ(squash(err), squash("\nINFO:processing new package: FAIL "
                                "\nERROR:package `FAIL' failed to scan.\n"));
  EXPECT_EQ(replies.log.back(), "prefile /fail/d/f");  // no enddir, postpkg or finalpkg

  replies.postpkg = 3;
  err = scan("post");
  EXPECT_EQ(squash(err), squash("\nINFO:processing new package: POST : ignored by backend(3).\n"));
  EXPECT_EQ(package_named("POST")->flags, pf::IGNORED | pf::FAILED);
  EXPECT_EQ(replies.log.back(), "postpkg POST");

  replies.postpkg = 2;  // means nothing for postpkg
  replies.finalpkg = 2;
  err = scan("fin");
  EXPECT_EQ(squash(err), squash("\nINFO:processing new package: FIN : 1 file, 2 directories.\n"
                                "\nWARNING:package `FIN' ignored by backend (2).\n"));
  EXPECT_EQ(package_named("FIN")->flags, pf::IGNORED);

  // A prepkg reply of 2 changes nothing.
  replies.prepkg = 2;
  replies.postpkg = 0;
  replies.finalpkg = 0;
  scan("twice");
  EXPECT_EQ(package_named("TWICE")->flags, 0u);
  EXPECT_EQ(package_named("TWICE")->files.size(), 1u);
}

TEST_F(ScanTest, FlatModeScansTheDistDirectoryAsOnePackage) {
  opts.fmode = 1;
  write_file(dist("usr/bin/x"), "x");
  std::string err = scan(nullptr);
  EXPECT_EQ(squash(err), squash("\nINFO:processing new package: PRD : 1 file, 3 directories.\n"));
  ASSERT_EQ(model.packages.size(), 1u);
  pkgptr_t pkg = model.packages[0];
  EXPECT_EQ(pkg->reldir.sv(), "");
  EXPECT_EQ(pkg->dir.sv(), dist());
  dfileptr_t x = entry("/usr/bin/x");
  ASSERT_NE(x, nullptr);
  EXPECT_EQ(x->path.sv(), "/usr/bin/x");
  EXPECT_EQ(replies.log[1], "predir /usr");
  EXPECT_EQ(replies.log[2], "postdir /usr 2");
  EXPECT_EQ(replies.log[replies.log.size() - 3], "enddir  2");
}

TEST_F(ScanTest, ConvertFoldsAHardLinkIntoItsTarget) {
  const std::string p = dist("p");
  write_file(p + "/usr/lib/a", "data");
  make_hardlink(p + "/usr/lib/a", p + "/usr/lib/b");
  make_hardlink(p + "/usr/lib/a", p + "/usr/lib/d");
  write_file(p + "/usr/lib/c", "single");
  pkgptr_t pkg = new_package("/p", "d", "P", "", 1);
  auto declare_convert = [&](const char* path, const char* to, std::uint32_t early) {
    dfileptr_t f = add_new_file(std::string(pkg->dir.sv()) + path, pkg, 0);
    f->sflags |= sf::DECLARED;
    f->aflags |= af::CONVERT;
    add_strlist(to, ef::CONVERT | early, f->exports);
    return f;
  };
  dfileptr_t b = declare_convert("/usr/lib/b", "/usr/lib/a", ef::EARLY);
  dfileptr_t c = declare_convert("/usr/lib/c", "/usr/lib/a", 0);
  dfileptr_t d = declare_convert("/usr/lib/d", "/usr/lib/none", 0);
  take_declared_snapshot();

  std::string err = scan("p");

  EXPECT_EQ(squash(err),
            squash("\nINFO:processing package: P : 4 files, 3 directories.\n"
                   "\nWARNING:useless convert() function for file `/usr/lib/c' in package `P' - file "
                   "has no hard links.\n"
                   "\nERROR:In package `P', the hard link `/usr/lib/d' attempted to convert() to file "
                   "`/usr/lib/none', which was not found in the package.\n"));
  EXPECT_EQ(b->aflags, af::CONVERT | af::CONVERTED | af::EXCLUDED);
  EXPECT_EQ(c->aflags, af::CONVERT);
  EXPECT_EQ(d->aflags, af::CONVERT | af::CONVERTED | af::EXCLUDED);
  EXPECT_EQ(exports_of(entry("/p/usr/lib/a")), (std::vector<std::string>{"/usr/lib/b:4"}));
  EXPECT_EQ(b->nlink, 3u);
}

// The listing keeps little per level, and enters directories by name when
// their full path is longer than the system takes.
TEST_F(ScanTest, DeepAndLongPathsAreListed) {
  std::string path = dist("deep");
  std::string rel;
  for (int i = 0; i < 1000; ++i) rel += "/d";
  make_dirs(path + rel);
  write_file(path + rel + "/leaf", "x");
  const std::string long_name(250, 'n');
  int fd = open(dist().c_str(), O_DIRECTORY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(mkdirat(fd, "long", 0755), 0);
  int cur = openat(fd, "long", O_DIRECTORY);
  close(fd);
  for (int i = 0; i < 20; ++i) {  // about 5,000 bytes below dist
    ASSERT_EQ(mkdirat(cur, long_name.c_str(), 0755), 0);
    int next = openat(cur, long_name.c_str(), O_DIRECTORY);
    close(cur);
    cur = next;
  }
  int leaf = openat(cur, "leaf", O_CREAT | O_WRONLY, 0644);
  close(leaf);
  close(cur);

  std::string err = scan("deep") + scan("long");

  EXPECT_EQ(diag.errors, 0) << err;
  pkgptr_t deep = package_named("DEEP");
  EXPECT_EQ(deep->dirs.size(), 1001u);
  ASSERT_EQ(deep->files.size(), 1u);
  EXPECT_EQ(deep->files[0]->path.sv(), rel + "/leaf");
  int depth = 0;
  for (dfileptr_t d = deep->files[0]->parent; d; d = d->parent) ++depth;
  EXPECT_EQ(depth, 1001);
  pkgptr_t lng = package_named("LONG");
  ASSERT_EQ(lng->files.size(), 1u);
  EXPECT_GT(lng->files[0]->abs.len, 5000u);
  EXPECT_EQ(lng->dirs.size(), 21u);
}

// Takes seconds, and runs apart from the unit tests.
using ScanSlow = ScanTest;

TEST_F(ScanSlow, WideDirectoryIsListedInByteOrder) {
  testutil::ScratchDir place(dist("wide"));
  make_dirs(place.path() + "/d");
  int fd = open((place.path() + "/d").c_str(), O_DIRECTORY);
  ASSERT_GE(fd, 0);
  char name[32];
  for (int i = 0; i < 200000; ++i) {
    std::snprintf(name, sizeof name, "f%d", i);
    close(openat(fd, name, O_CREAT | O_WRONLY, 0644));
  }
  close(fd);

  auto start = std::chrono::steady_clock::now();
  std::string err = scan("wide");
  auto took = std::chrono::steady_clock::now() - start;

  EXPECT_EQ(diag.errors, 0);
  pkgptr_t pkg = package_named("WIDE");
  ASSERT_EQ(pkg->files.size(), 200000u);
  for (std::size_t i = 1; i < pkg->files.size(); ++i)
    ASSERT_LT(pkg->files[i - 1]->nm.sv(), pkg->files[i]->nm.sv());
  EXPECT_EQ(pkg->dirs[1]->files().size(), 200000u);
  EXPECT_EQ(pkg->dirs[1]->files().capacity(), 200000u);
  EXPECT_LT(std::chrono::duration_cast<std::chrono::seconds>(took).count(), 60);
}

}  // namespace
}  // namespace scantest
