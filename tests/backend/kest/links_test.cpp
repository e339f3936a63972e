// The symbolic-link policy at the end of each package: links become
// exports of their targets, hard links (-H) or stay links (-H -h), and
// target() statements decide the links to the entries they name.
#include "kest_fixture.hpp"

namespace kesttest {
namespace {

class KestLinks : public KestTest {
 protected:
  // /usr/lib/x and the link /usr/bin/x to it.
  void SetUp() override {
    KestTest::SetUp();
    p = package("tools", "TOOLS");
    dir(p, "/usr");
    dir(p, "/usr/bin");
    dir(p, "/usr/lib");
    x = file(p, "/usr/lib/x", 0555);
    x->uid = 3;
    x->gid = 4;
    lx = link(p, "/usr/bin/x", "/usr/lib/x");
  }

  std::string finish_reporting() {
    testutil::CaptureFd err;
    finish(p);
    return err.text();
  }

  static std::string exports_of(dfileptr_t e) {
    std::string s;
    for (const strnode& n : e->exports) s += n.str + "=" + std::to_string(n.flags) + ";";
    return s;
  }

  pkgptr_t p = nullptr;
  dfileptr_t x = nullptr, lx = nullptr;
};

TEST_F(KestLinks, ByDefaultALinkBecomesAnExportOfItsTarget) {
  for (int hmode : {0, 1}) {
    SCOPED_TRACE(hmode);
    kest_settings.hmode = hmode;  // -h alone changes nothing
    lx->aflags &= ~af::EXCLUDED;
    x->exports.clear();
    EXPECT_EQ(finish_reporting(), "");
    EXPECT_TRUE(lx->excluded());
    EXPECT_EQ(exports_of(x), "/usr/bin/x=100;");
    EXPECT_EQ(x->nlink, 1u);
  }
  // Sorted by path for the writers.
  ASSERT_EQ(p->files.size(), 2u);
  EXPECT_EQ(p->files[0], lx);
  EXPECT_EQ(p->dirs.back()->path.sv(), "/usr/lib");
}

TEST_F(KestLinks, HardenedLinksShareTheTargetsInodeAndAttributes) {
  kest_settings.Hmode = 1;
  EXPECT_EQ(finish_reporting(), "");
  EXPECT_FALSE(lx->excluded());
  EXPECT_FALSE(lx->aflags & af::SYMLINK);
  EXPECT_EQ(lx->ino, x->ino);
  EXPECT_EQ(x->nlink, 2u);
  EXPECT_EQ(lx->nlink, 2u);
  EXPECT_EQ(lx->mode, 0555u);
  EXPECT_EQ(lx->uid, 3u);
  EXPECT_EQ(lx->gid, 4u);
  EXPECT_TRUE(lx->sflags & ksf::FILE_HARDENED);
  EXPECT_TRUE(x->sflags & ksf::FILE_LINK_TARGET);
  EXPECT_TRUE(x->exports.empty());
  ASSERT_EQ(p->files_inode.size(), 2u);
  EXPECT_EQ(p->files_inode[0]->ino, p->files_inode[1]->ino);
}

TEST_F(KestLinks, WithBothOptionsLinksStayLinks) {
  kest_settings.Hmode = kest_settings.hmode = 1;
  EXPECT_EQ(finish_reporting(), "");
  EXPECT_FALSE(lx->excluded());
  EXPECT_TRUE(lx->aflags & af::SYMLINK);
  EXPECT_NE(lx->ino, x->ino);
  EXPECT_TRUE(x->exports.empty());
}

TEST_F(KestLinks, MissingOrOutsideTargetsAreErrors) {
  link(p, "/usr/bin/gone", "/usr/lib/gone");
  dfileptr_t out = file(p, "/usr/bin/out", 0777, [](dfileptr_t f) {
    f->aflags |= af::SYMLINK;
    f->target = newpath_dup(*opts.distdir + "/other/usr/lib/x");
  });
  dfileptr_t above = file(p, "/usr/bin/above", 0777, [](dfileptr_t f) {
    f->aflags |= af::SYMLINK;
    f->target = newpath_dup("/elsewhere/x");
  });
  // A sibling directory whose name begins with the package's is outside too.
  dfileptr_t sibling = file(p, "/usr/bin/sib", 0777, [](dfileptr_t f) {
    f->aflags |= af::SYMLINK;
    f->target = newpath_dup(*opts.distdir + "/toolsextra/usr/lib/x");
  });
  for (int hmode : {0, 1}) {
    SCOPED_TRACE(hmode);
    kest_settings.Hmode = hmode;
    diag.errors = 0;
    for (dfileptr_t f : p->files) f->aflags &= ~af::EXCLUDED;
    const std::string err = finish_reporting();
    EXPECT_EQ(diag.errors, 4);
    const std::string tail =
        " was not found in package `TOOLS'. The most likely cause of this is that the target "
        "was removed by a remove() or removeall() directive. If that is the case, then you must "
        "either not remove the target, or you must remove this symbolic link as well. If this is "
        "not the result of a removed file, then you either have an error in your distribution "
        "tree, or you are attempting to create a symbolic link to a file outside of the current "
        "package, which is not supported.\n";
    EXPECT_TRUE(contains(err, "the symbolic link `/usr/bin/gone' points to the target "
                              "`/usr/lib/gone', which" + tail));
    EXPECT_TRUE(contains(err, "the symbolic link `/usr/bin/out' points to the target "
                              "`/other/usr/lib/x', which" + tail));
    EXPECT_TRUE(contains(err, "the symbolic link `/usr/bin/above' points to the target "
                              "`/elsewhere/x', which" + tail));
    EXPECT_TRUE(contains(err, "points to the target `/toolsextra/usr/lib/x', which"));
    for (dfileptr_t f : {out, above, sibling}) EXPECT_FALSE(f->excluded());
  }
}

TEST_F(KestLinks, LinkToAnExcludedTargetIsAnError) {
  // A converted hard link leaves the output; a link to it would go with it.
  x->aflags |= af::EXCLUDED | af::CONVERTED;
  EXPECT_TRUE(contains(finish_reporting(), "the symbolic link `/usr/bin/x' points to the target "
                                           "`/usr/lib/x', which was not found"));
  EXPECT_EQ(diag.errors, 1);
  EXPECT_TRUE(x->exports.empty());
}

TEST_F(KestLinks, ChainsOfLinksEndAtTheFile) {
  // /usr/bin/y -> /usr/bin/x -> /usr/lib/x; y sorts after x and z before it.
  dfileptr_t ly = link(p, "/usr/bin/y", "/usr/bin/x");
  dfileptr_t lz = link(p, "/usr/bin/a", "/usr/bin/y");
  EXPECT_EQ(finish_reporting(), "");
  for (dfileptr_t l : {lx, ly, lz}) EXPECT_TRUE(l->excluded()) << l->path.str;
  EXPECT_EQ(exports_of(x), "/usr/bin/a=100;/usr/bin/x=100;/usr/bin/y=100;");
}

TEST_F(KestLinks, ChainsAreHardenedOntoTheFile) {
  kest_settings.Hmode = 1;
  dfileptr_t lz = link(p, "/usr/bin/a", "/usr/bin/x");
  EXPECT_EQ(finish_reporting(), "");
  EXPECT_EQ(lz->ino, x->ino);
  EXPECT_EQ(lx->ino, x->ino);
  EXPECT_EQ(x->nlink, 3u);
}

TEST_F(KestLinks, TargetStatementsDecideTheLinksToTheirEntry) {
  // Links to the directory /usr/lib, and a second file link.
  dfileptr_t ldir = dir(p, "/usr/lib64", [](dfileptr_t d) { make_link(d, "/usr/lib"); });
  dfileptr_t lx2 = link(p, "/usr/bin/x2", "/usr/lib/x");
  add_strlist("/usr/lib/x", 0, p->targets);
  add_strlist("/usr/lib", 0, p->targets);
  add_strlist("/usr/nothing", 1, p->targets);
  const std::string err = finish_reporting();
  EXPECT_EQ(diag.warnings, 1);
  EXPECT_TRUE(contains(
      err, "In package `TOOLS', a target() function for the target `/usr/nothing' was used in "
           "the control file, but the target was not found. This could be due to the target "
           "having been removed by control script functions such as remove(), or it could be an "
           "error in your control script. Please examine your control script carefully.\n"));
  for (dfileptr_t l : {lx, lx2, ldir}) {
    EXPECT_TRUE(l->aflags & kaf::TARGETED) << l->path.str;
    EXPECT_TRUE(l->excluded()) << l->path.str;
  }
  EXPECT_EQ(exports_of(x), "/usr/bin/x=100;/usr/bin/x2=100;");
  dfileptr_t lib = find_path_in_dlist("/usr/lib", p->dirs_path);
  EXPECT_EQ(exports_of(lib), "/usr/lib64=100;");
}

TEST_F(KestLinks, TargetStatementsWithTheFlagOrUnderOptions) {
  dfileptr_t ldir = dir(p, "/usr/lib64", [](dfileptr_t d) { make_link(d, "/usr/lib"); });
  add_strlist("/usr/lib/x", 1, p->targets);
  add_strlist("/usr/lib", 1, p->targets);
  EXPECT_EQ(finish_reporting(), "");
  EXPECT_TRUE(lx->aflags & kaf::RETAINED);
  EXPECT_TRUE(ldir->aflags & kaf::RETAINED);
  EXPECT_FALSE(lx->excluded());
  EXPECT_TRUE(x->exports.empty());
  EXPECT_TRUE(lx->aflags & af::SYMLINK);

  // -H without the flag: a directory link is kept, a file link is left to
  // the general rule, which hardens it.
  for (dfileptr_t e : {lx, ldir}) e->aflags &= ~(kaf::RETAINED | kaf::TARGETED);
  p->targets.clear();
  add_strlist("/usr/lib/x", 0, p->targets);
  add_strlist("/usr/lib", 0, p->targets);
  kest_settings.Hmode = 1;
  EXPECT_EQ(finish_reporting(), "");
  EXPECT_TRUE(ldir->aflags & kaf::RETAINED);
  EXPECT_FALSE(lx->aflags & kaf::RETAINED);
  EXPECT_TRUE(lx->sflags & ksf::FILE_HARDENED);

  // -H -h: the file link is kept too.
  pkgptr_t q = package("other", "OTHER");
  dir(q, "/lib");
  file(q, "/lib/y");
  dfileptr_t ly = link(q, "/lib/ly", "/lib/y");
  add_strlist("/lib/y", 0, q->targets);
  kest_settings.hmode = 1;
  testutil::CaptureFd err;
  finish(q);
  EXPECT_TRUE(ly->aflags & kaf::RETAINED);
  EXPECT_TRUE(ly->aflags & af::SYMLINK);
}

TEST_F(KestLinks, LinksSharingATargetHashWithAnotherPathAreNotTaken) {
  // Two texts with one hash: only the link to the target's own path is taken.
  dfileptr_t odd = dir(p, "/odd", [](dfileptr_t d) { make_link(d, "/usr"); });
  dfileptr_t fake = dir(p, "/fake", [](dfileptr_t d) {
    d->aflags |= af::SYMLINK;
    d->target = newpath_dup(*opts.distdir + "/SB0dyt");
  });
  // The fake link's target text hashes like the package's /usr only by chance.
  fake->target.hash = odd->target.hash;
  add_strlist("/usr", 0, p->targets);
  finish_reporting();
  EXPECT_TRUE(odd->excluded());
  EXPECT_FALSE(fake->excluded());
  EXPECT_FALSE(fake->aflags & kaf::TARGETED);
}

}  // namespace
}  // namespace kesttest
