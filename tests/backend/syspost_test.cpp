// The shared post-processing: owners and modes of well-known directories,
// dropped manual-page sources, and the no-compression marks.
#include <gtest/gtest.h>

#include "backend/syspost.hpp"
#include "model_fixture.hpp"

namespace {

constexpr std::uint32_t GIVEN = af::UID | af::GID | af::MODE;
constexpr std::uint32_t PKGADD_MARKS = 0x4000000 | 0x8000000 | 0x10000000;

class SysPost : public testutil::ModelTest {};

TEST_F(SysPost, WellKnownDirectoriesGetTheirOwnersModesAndGivenBits) {
  pkgptr_t p = add_package("hello-1.0", "HELLO");
  struct row {
    const char* path;
    std::uint32_t uid, gid, mode, given;
    bool marked;
  };
  const row rows[] = {
      {"/usr", 0, 21, 0775, GIVEN, true},
      {"/usr/lib", 2, 2, 0755, 0, true},
      {"/usr/share", 2, 2, 0755, 0, true},
      {"/usr/share/doc", 2, 2, 0755, 0, true},
      {"/usr/bin", 2, 2, 0775, af::MODE, true},
      {"/usr/man", 7, 8, 0700, af::UID, false},  // not in the rows; only the parent of man dirs
      {"/usr/man/man1", 2, 2, 0755, 0, true},
      {"/usr/man/cat1", 2, 2, 0755, 0, true},   // any child of /usr/man
      {"/usr/local", 7, 8, 0700, af::UID, false},
      {"/var", 0, 3, 0755, af::UID | af::GID, true},
      {"/opt", 0, 0, 0755, af::UID | af::GID, true},
      {"/dev", 2, 2, 0755, 0, true},
      {"/bin", 2, 2, 0755, 0, true},
      {"/lib", 2, 2, 0775, af::MODE, true},
      {"/etc", 2, 21, 0775, af::GID | af::MODE, true},
      {"/etc/default", 0, 21, 0775, GIVEN, true},
      {"/etc/other", 7, 8, 0700, af::UID, false},
      {"/SB0dyt", 7, 8, 0700, af::UID, false},  // the hash of /usr, another text
  };
  for (const row& r : rows) {
    dfileptr_t d = add_dir(p, r.path);
    d->uid = 7, d->gid = 8, d->mode = 0700;
    d->aflags |= af::UID | af::OWNER;
  }
  ASSERT_EQ(hash("/SB0dyt"), hash("/usr"));
  opts.mmode = 1;  // keeps the empty /usr/man/man1
  EXPECT_EQ(syspost_postproc({.sysdir_aflags = PKGADD_MARKS}), 1);
  package_resize_and_sort(p);
  for (const row& r : rows) {
    dfileptr_t d = find_path_in_dlist(r.path, p->dirs_path);
    ASSERT_NE(d, nullptr) << r.path;
    EXPECT_EQ(d->uid, r.uid) << r.path;
    EXPECT_EQ(d->gid, r.gid) << r.path;
    EXPECT_EQ(d->mode, r.mode) << r.path;
    EXPECT_EQ(d->aflags & GIVEN, r.given) << r.path;
    EXPECT_TRUE(d->aflags & af::OWNER) << r.path << ": a given owner name stays";
    EXPECT_EQ(d->aflags & PKGADD_MARKS, r.marked ? PKGADD_MARKS : 0) << r.path;
    EXPECT_FALSE(d->excluded()) << r.path;
  }
}

TEST_F(SysPost, UnformattedManualPagesAreLeftOut) {
  pkgptr_t p = add_package("a", "A");
  add_dir(p, "/usr");
  add_dir(p, "/usr/man");
  dfileptr_t man1 = add_dir(p, "/usr/man/man1");
  dfileptr_t src[] = {add_file(p, "/usr/man/man1/ls.1"), add_file(p, "/usr/man/man1/ls.1.gz"),
                      add_file(p, "/usr/man/man1/x.n.Z"), add_file(p, "/usr/man/man1/y.l.bz2"),
                      add_file(p, "/usr/man/man1/z.8.z")};
  dfileptr_t keep[] = {add_file(p, "/usr/man/man1/ls.txt"), add_file(p, "/usr/man/man1/ls.1.xz"),
                       add_file(p, "/usr/man/man1/ls.a")};
  // Only pages: the directory goes too.
  add_dir(p, "/usr/gnu");
  add_dir(p, "/usr/gnu/man");
  dfileptr_t gman = add_dir(p, "/usr/gnu/man/man.5");
  dfileptr_t gpage = add_file(p, "/usr/gnu/man/man.5/f.5");
  // Empty section directories go as well.
  dfileptr_t empty = add_dir(p, "/usr/man/manl");
  // Formatted pages of another name stay, and so does their directory.
  add_dir(p, "/usr/local");
  add_dir(p, "/usr/local/man");
  dfileptr_t lman = add_dir(p, "/usr/local/man/man3");
  dfileptr_t formatted = add_file(p, "/usr/local/man/man3/printf.Z");
  // Not a section directory: nothing happens.
  add_dir(p, "/opt");
  dfileptr_t other = add_dir(p, "/opt/man1");
  dfileptr_t otherpage = add_file(p, "/opt/man1/a.1");

  syspost_postproc({});
  for (dfileptr_t f : src) {
    EXPECT_EQ(f->sflags & sf::FILE_MANSRC, sf::FILE_MANSRC) << f->path.sv();
    EXPECT_TRUE(f->excluded()) << f->path.sv();
  }
  for (dfileptr_t f : keep) EXPECT_FALSE(f->excluded()) << f->path.sv();
  EXPECT_FALSE(man1->excluded());
  EXPECT_TRUE(gpage->excluded());
  EXPECT_TRUE(gman->excluded());
  EXPECT_EQ(gman->sflags & sf::DIR_LEFT_OUT, sf::DIR_LEFT_OUT);
  EXPECT_TRUE(empty->excluded());
  EXPECT_FALSE(lman->excluded());
  EXPECT_FALSE(formatted->excluded());
  EXPECT_FALSE(other->excluded());
  EXPECT_FALSE(otherpage->excluded());
}

TEST_F(SysPost, ControlFileManualDirectoriesAndKeepingSources) {
  pkgptr_t p = add_package("a", "A");
  add_dir(p, "/opt");
  add_dir(p, "/opt/x");
  dfileptr_t d = add_dir(p, "/opt/x/man1");
  dfileptr_t page = add_file(p, "/opt/x/man1/a.1");
  dfileptr_t note = add_file(p, "/opt/x/man1/README");
  add_dir(p, "/usr");
  add_dir(p, "/usr/man");
  dfileptr_t man1 = add_dir(p, "/usr/man/man1");
  dfileptr_t ls = add_file(p, "/usr/man/man1/ls.1");

  opts.mmode = 1;  // -m keeps every source
  syspost_postproc({});
  EXPECT_FALSE(page->excluded());
  EXPECT_FALSE(ls->excluded());
  EXPECT_FALSE(man1->excluded());
  EXPECT_EQ(man1->uid, 2u);

  opts.mmode = 0;
  add_strlist("/opt/x/man1", 0, model.mandirs);
  syspost_postproc({});
  EXPECT_TRUE(page->excluded());
  EXPECT_FALSE(note->excluded());
  EXPECT_FALSE(d->excluded());
  EXPECT_TRUE(ls->excluded());
  EXPECT_TRUE(man1->excluded());
}

TEST_F(SysPost, NoCompressionMarks) {
  pkgptr_t p = add_package("a", "A");
  add_dir(p, "/opt");
  add_dir(p, "/opt/x");
  struct row {
    const char* path;
    bool marked;
  };
  const row rows[] = {
      {"/opt/x/a.tar.gz", true}, {"/opt/x/song.mp3", true}, {"/opt/x/a.Z", true},
      {"/opt/x/a.z", true},      {"/opt/x/a.bz2", true},    {"/opt/x/a.tgz", true},
      {"/opt/x/a.zip", true},    {"/opt/x/a.jar", true},    {"/opt/x/a.jpg", true},
      {"/opt/x/data.TGZ", false}, {"/opt/x/README", false}, {"/opt/x/x.Z.orig", false},
      {"/opt/x/a.9o7max", false},  // the hash of .gz, another text
  };
  ASSERT_EQ(hash(".9o7max"), hash(".gz"));
  for (const row& r : rows) add_file(p, r.path);
  dfileptr_t excluded = add_file(p, "/opt/x/gone.gz");
  excluded->aflags |= af::EXCLUDED;
  dfileptr_t mansrc = add_file(p, "/opt/x/page.1.gz");
  mansrc->sflags |= sf::FILE_MANSRC;

  syspost_mark_nocompress({.nocompress_sflags = sf::NO_COMPRESS});
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    EXPECT_EQ(has_nocompress_extension(*p->files[i]), rows[i].marked) << rows[i].path;
    EXPECT_EQ(p->files[i]->sflags & sf::NO_COMPRESS, rows[i].marked ? sf::NO_COMPRESS : 0)
        << rows[i].path;
  }
  EXPECT_FALSE(excluded->sflags & sf::NO_COMPRESS);
  EXPECT_FALSE(mansrc->sflags & sf::NO_COMPRESS);
  // A backend with its own bit gets that one.
  syspost_mark_nocompress({.nocompress_sflags = 0x2000000});
  EXPECT_EQ(p->files[0]->sflags & 0x2000000, 0x2000000u);
}

}  // namespace
