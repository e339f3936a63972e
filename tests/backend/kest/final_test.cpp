// KEST's checks after assembly: the vendor, which entries are exported,
// the export rules, CLIENT and SERVER under one export, hard links, links
// to directories and links that stay links; and the ':' names.
#include "kest_fixture.hpp"

namespace kesttest {
namespace {

class KestFinal : public KestTest {
 protected:
  void SetUp() override {
    KestTest::SetUp();
    p = package("tools", "TOOLS");
  }

  static std::function<void(dfileptr_t)> phase(int n) {
    return [n](dfileptr_t e) {
      e->aflags |= af::PHASE;
      e->phase = n;
    };
  }

  pkgptr_t p = nullptr;
};

TEST_F(KestFinal, WithoutAVendorNothingElseIsDone) {
  for (const char* v : {"unset", ""}) {
    SCOPED_TRACE(v);
    diag.errors = 0;
    if (std::string(v) == "unset") opts.vendor.reset(); else opts.vendor = v;
    dir(p, std::string("/usr") + v);
    dfileptr_t f = file(p, std::string("/usr") + v + "/a.gz");
    dfileptr_t g = file(p, std::string("/usr") + v + "/b", 0444);
    g->ino = f->ino;
    f->nlink = g->nlink = 2;
    finish(p);
    const std::string err = postproc_and_final();
    EXPECT_EQ(diag.errors, 1);
    EXPECT_EQ(diag.warnings, 0);
    EXPECT_TRUE(contains(err, "The KEST backend requires that you set the vendor either using the "
                              "`vendor()' keyword in the control file, or using the `-E' command "
                              "line option.\n"));
    EXPECT_FALSE(f->sflags & (ksf::FILE_EXPORTED | ksf::FILE_NOCOMPRESS));
  }
}

TEST_F(KestFinal, EntriesNoExportedDirectoryCoversAreExportedByThemselves) {
  dfileptr_t opt = dir(p, "/opt", phase(2));
  dfileptr_t inner = dir(p, "/opt/inner");
  dfileptr_t covered = file(p, "/opt/inner/covered");
  dfileptr_t usr = dir(p, "/usr");
  dfileptr_t plain = file(p, "/usr/plain");
  dfileptr_t early = file(p, "/usr/early", 0444, phase(1));
  dfileptr_t priv = file(p, "/usr/priv", 0444, [](dfileptr_t f) { f->sflags |= sf::FILE_PRIVATE; });
  dfileptr_t privdir = dir(p, "/var", [](dfileptr_t d) {
    phase(2)(d);
    d->sflags |= sf::DIR_PRIVATE;
  });
  finish(p);
  EXPECT_EQ(postproc_and_final(), "");
  EXPECT_TRUE(opt->sflags & ksf::DIR_EXPORTED);
  EXPECT_FALSE(inner->sflags & ksf::DIR_EXPORTED);
  EXPECT_FALSE(usr->sflags & ksf::DIR_EXPORTED);
  EXPECT_FALSE(privdir->sflags & ksf::DIR_EXPORTED);
  EXPECT_FALSE(covered->sflags & ksf::FILE_EXPORTED);
  EXPECT_TRUE(plain->sflags & ksf::FILE_EXPORTED);
  EXPECT_TRUE(early->sflags & ksf::FILE_EXPORTED);
  EXPECT_FALSE(priv->sflags & ksf::FILE_EXPORTED);
}

TEST_F(KestFinal, ExportsBelowAnExportedDirectory) {
  dir(p, "/opt", phase(2));
  dir(p, "/opt/early", phase(1));
  dir(p, "/opt/none", phase(3));
  file(p, "/opt/f", 0444, phase(2));
  // A private file with a given phase: the assembly turned its phase 3 into 2.
  file(p, "/opt/pf", 0444, [](dfileptr_t f) {
    phase(2)(f);
    f->sflags |= sf::FILE_PRIVATE;
  });
  finish(p);
  const std::string err = postproc_and_final();
  EXPECT_EQ(diag.errors, 4);
  const std::string exported =
      "' was explicitly exported in the package control file, but a higher level directory was "
      "already exported. This is invalid, because it would cause a recursive export back into the "
      "SSO.\n\n";
  EXPECT_TRUE(contains(err, "in package `TOOLS', the directory `/opt/early" + exported));
  EXPECT_TRUE(contains(err, "in package `TOOLS', the file `/opt/f" + exported));
  EXPECT_TRUE(contains(err, "in package `TOOLS', the file `/opt/pf" + exported));
  EXPECT_TRUE(contains(err, "in package `TOOLS', the directory `/opt/none' was marked as private "
                            "(not to beexported), but a higher level directory is being "
                            "exported, which will result in this directory being implicitly "
                            "exported too.\n\n"));
}

TEST_F(KestFinal, DestinationsBelowADoublyExportedDirectoryWarn) {
  dir(p, "/opt", phase(2));
  dir(p, "/opt/sub", phase(2));  // an error itself, and both marks for its children
  dfileptr_t linked = dir(p, "/opt/sub/linked");
  add_strlist("/elsewhere/linked", KEST_LINK_EXPORT, linked->exports);
  dfileptr_t given = file(p, "/opt/sub/given");
  add_strlist("/elsewhere/given", ef::PLAIN, given->exports);
  dfileptr_t ok = file(p, "/opt/sub/ok", 0444, [](dfileptr_t f) { f->aflags |= af::EXPORTOK; });
  add_strlist("/elsewhere/ok", ef::PLAIN, ok->exports);
  dfileptr_t conv = file(p, "/opt/sub/conv");
  add_strlist("/elsewhere/conv", ef::CONVERT, conv->exports);
  // Below a directory with only one of the marks, nothing is said.
  dfileptr_t once = file(p, "/opt/once");
  add_strlist("/elsewhere/once", ef::PLAIN, once->exports);
  finish(p);
  const std::string err = postproc_and_final();
  EXPECT_EQ(diag.errors, 1);
  EXPECT_EQ(diag.warnings, 2);
  const std::string tail =
      ", but a higher level directory was already exported. This is only valid if the exports "
      "are to completely different directory hierarchies. You can silence this warning by using "
      "the exportok() function for the ";
  EXPECT_TRUE(contains(err, "in package `TOOLS', the directory `/opt/sub/linked' was implicitly "
                            "exported by a symbolic link pointing to it" + tail +
                            "directory in question.\n\n"));
  EXPECT_TRUE(contains(err, "in package `TOOLS', the file `/opt/sub/given' was explicitly "
                            "exported in the package control file" + tail +
                            "file in question.\n\n"));
}

TEST_F(KestFinal, CompressedFilesAreNotCompressedAgain) {
  dir(p, "/opt");
  dfileptr_t gz = file(p, "/opt/a.tar.gz");
  dfileptr_t mp3 = file(p, "/opt/song.mp3");
  dfileptr_t readme = file(p, "/opt/README");
  dfileptr_t orig = file(p, "/opt/x.Z.orig");
  dfileptr_t upper = file(p, "/opt/data.TGZ");
  finish(p);
  EXPECT_EQ(postproc_and_final(), "");
  EXPECT_TRUE(gz->sflags & ksf::FILE_NOCOMPRESS);
  EXPECT_TRUE(mp3->sflags & ksf::FILE_NOCOMPRESS);
  for (dfileptr_t f : {readme, orig, upper}) EXPECT_FALSE(f->sflags & ksf::FILE_NOCOMPRESS);
}

TEST_F(KestFinal, ExportedDirectoryWithClientAndServerFiles) {
  dfileptr_t both = dir(p, "/both");
  add_strlist("/elsewhere", ef::PLAIN, both->exports);
  dfileptr_t child = dir(p, "/child");
  child->sflags |= sf::DIR_CHILD_EXPORTS;
  dfileptr_t quiet = dir(p, "/quiet");
  for (dfileptr_t d : {both, child, quiet}) d->sflags |= sf::DIR_HAS_STATIC | sf::DIR_HAS_VARIABLE;
  finish(p);
  const std::string err = postproc_and_final();
  EXPECT_EQ(diag.errors, 2);
  for (const char* d : {"/both", "/child"})
    EXPECT_TRUE(contains(err, std::string("in package `TOOLS' the directory `") + d +
                                  "' is exported, but it contains both CLIENT and SERVER files. "
                                  "This is not supported, as it will result in two directories "
                                  "being exported to the same location, which is impossbile.\n\n"));
}

const char* const MULTIPLE_LINKS =
    "in package `TOOLS', there are files that have multiple links. The suggested mechanism for "
    "dealing with linked files is to convert them to symbolic links *in the distribution tree*. "
    "If this is inconvenient, you can use the convert() function in the control script. Symbolic "
    "links give Corvane more information to work with, and still have the desired effect. All of "
    "the files that have multiple links are listed below.\n";

TEST_F(KestFinal, HardLinksAreListedOncePerPackage) {
  dir(p, "/usr");
  dfileptr_t a = file(p, "/usr/a");
  hardlink(p, "/usr/b", a);
  hardlink(p, "/usr/c", a);
  dfileptr_t d = file(p, "/usr/d");
  dfileptr_t e = hardlink(p, "/usr/e", d);
  e->aflags |= af::LINKOK;  // accepted: the group of d is quiet
  dfileptr_t f = file(p, "/usr/f");
  dfileptr_t conv = hardlink(p, "/usr/g", f);
  conv->aflags |= af::CONVERTED | af::EXCLUDED;  // folded into f: f stands alone
  dfileptr_t h = file(p, "/usr/h");
  hardlink(p, "/usr/i", h);
  finish(p);
  const std::string err = postproc_and_final();
  EXPECT_EQ(diag.warnings, 1);
  EXPECT_TRUE(contains(err, std::string(MULTIPLE_LINKS) + "\t/usr/a\n\t=>/usr/b\n\t=>/usr/c\n\n"
                                                          "\t/usr/h\n\t=>/usr/i\n\n"));
  EXPECT_EQ(count_of(err, "/usr/e"), 0);
  EXPECT_EQ(count_of(err, "/usr/g"), 0);
  EXPECT_TRUE(p->flags & kpf::LINKS_WARNED);

  // -l: never a word about them.
  diag = Diagnostics{};
  diag.columns = 1 << 20;
  kest_settings.kest_lmode = 1;
  p->flags &= ~kpf::LINKS_WARNED;
  EXPECT_EQ(postproc_and_final(), "");
}

TEST_F(KestFinal, HardLinkGroupsWithExcludedOrSymbolicMembers) {
  dir(p, "/usr");
  // The first of the group is left out: the two others are still hard links.
  dfileptr_t a = file(p, "/usr/a");
  hardlink(p, "/usr/b", a);
  hardlink(p, "/usr/c", a);
  a->aflags |= af::EXCLUDED;
  finish(p);
  const std::string err = postproc_and_final();
  EXPECT_EQ(diag.warnings, 1);
  EXPECT_TRUE(contains(err, std::string(MULTIPLE_LINKS) + "\t/usr/b\n\t=>/usr/c\n\n"));
  EXPECT_EQ(count_of(err, "/usr/a"), 0);
}

TEST_F(KestFinal, HardenedLinksAreNoHardLinksWhateverTheirOrder) {
  kest_settings.Hmode = 1;
  dir(p, "/usr");
  dir(p, "/usr/bin");
  dir(p, "/usr/lib");
  // Made before its target, so it comes first among the equal inodes.
  link(p, "/usr/bin/x", "/usr/lib/x");
  file(p, "/usr/lib/x");
  link(p, "/usr/lib/y", "/usr/lib/x");
  finish(p);
  ASSERT_EQ(p->files_inode.front()->path.sv(), "/usr/bin/x");
  EXPECT_EQ(postproc_and_final(), "");
  EXPECT_EQ(diag.warnings, 0);
}

TEST_F(KestFinal, LinksToDirectoriesWarnUnlessSanctioned) {
  dir(p, "/usr");
  dir(p, "/usr/lib");
  dfileptr_t bad = dir(p, "/usr/lib64", [](dfileptr_t d) { make_link(d, "/usr/lib"); });
  dfileptr_t kept = dir(p, "/usr/lib32", [](dfileptr_t d) {
    make_link(d, "/usr/lib");
    d->aflags |= af::CTL_SYMLINK;
  });
  finish(p);
  const std::string err = postproc_and_final();
  EXPECT_EQ(diag.warnings, 1);
  EXPECT_TRUE(contains(
      err, "symbolic links to directories are generally a bad idea. In package `TOOLS', the link "
           "below is such a link. Please examine the package and consider consolidating any "
           "exportPath statements rather than using a symlink. Unless the target is a fully "
           "exported directory, this symlink is almost certainly not what you want. If it turns "
           "out you really need to keep it, you can silence this warning by using a symlink() "
           "function in the control file.\n\tLink: /usr/lib64\n\tTarget: /usr/lib\n\n"));
  EXPECT_FALSE(bad->excluded());
  EXPECT_FALSE(kept->excluded());
}

TEST_F(KestFinal, LinksThatStayLinksAreListedOnce) {
  kest_settings.Hmode = kest_settings.hmode = 1;
  dir(p, "/usr");
  dfileptr_t x = file(p, "/usr/x");
  dfileptr_t lx = link(p, "/usr/lx", "/usr/x");
  dfileptr_t ly = link(p, "/usr/ly", "/usr/x");
  dfileptr_t sanctioned = link(p, "/usr/lz", "/usr/x");
  sanctioned->aflags |= kaf::RETAINED;
  lx->access = 2;
  sanctioned->access = 2;
  x->access = 1;
  finish(p);
  const std::string err = postproc_and_final();
  EXPECT_TRUE(contains(
      err,
      "in package `TOOLS', there are files that are symbolic links that will be exported as such. "
      "These are not handled by instor anywhere near as well as you would expect. For example, if "
      "you remove a package, instor will not remove the symlinks and you may end up with "
      "dangling links (links which point to a target that has been removed). Consider removing "
      "the -h or -H command line options and allow Corvane to convert symbolic links to multiple "
      "exports of the target file. You have been warned (and wont be again, for this package). "
      "Below is a list of all symbolic links (and their targets) that have not been explicitly "
      "sanctioned in the control file.\n\t/usr/lx -> /usr/x\n\t/usr/ly -> /usr/x\n\n"));
  EXPECT_EQ(count_of(err, "/usr/lz"), 0);
  EXPECT_EQ(diag.warnings, 0);
  EXPECT_TRUE(p->flags & kpf::SYMLINKS_NOTED);
  EXPECT_TRUE(lx->sflags & ksf::FILE_TARGET_SHARED);
  EXPECT_TRUE(sanctioned->sflags & ksf::FILE_TARGET_SHARED);
  EXPECT_FALSE(ly->sflags & ksf::FILE_TARGET_SHARED);  // a SERVER link
}

TEST_F(KestFinal, ColonsAreReplacedInRecordNames) {
  dir(p, "/usr");
  dfileptr_t d = dir(p, "/usr/a:b");
  dfileptr_t f = file(p, "/usr/a:b/c:d");
  dfileptr_t plain = file(p, "/usr/plain");
  finish(p);
  EXPECT_EQ(postproc_and_final(), "");
  EXPECT_STREQ(f->safepath(), "/usr/a_b/c_d");
  EXPECT_TRUE(f->sflags & ksf::FILE_SAFEPATH);
  EXPECT_STREQ(d->safepath(), "/usr/a_b");
  EXPECT_FALSE(d->sflags & ksf::DIR_EXPORTED);  // that bit means something else on a directory
  EXPECT_EQ(plain->safepath(), nullptr);
}

TEST_F(KestFinal, NamesTheInputFilesCannotHold) {
  dir(p, "/usr");
  file(p, "/usr/a:b");
  file(p, "/usr/a_b");
  file(p, "/usr/c:d");
  file(p, "/usr/line\nbreak");
  file(p, "/usr/e", 0444, [](dfileptr_t f) { add_strlist("/opt/e\nx", ef::PLAIN, f->exports); });
  file(p, "/usr/g", 0444, [](dfileptr_t f) {
    f->aflags |= af::FLAGSTR | af::OWNER;
    f->set_text(&entry_texts::flagstr, "a\nb");
    f->set_text(&entry_texts::owner, "o\nwn");
  });
  file(p, "/usr/line", 0444);
  link(p, "/usr/l", "/usr/line\nbreak")->aflags |= kaf::RETAINED;  // kept by symlink()
  pkgptr_t q = package("slash", "SL/ASH");
  dir(q, "/x");
  file(q, "/x/y");
  finish(p);
  finish(q);
  const std::string err = postproc_and_final();
  EXPECT_EQ(diag.errors, 7);
  const std::string in = "in package `TOOLS', the ";
  const std::string cannot = "' cannot be written to the KEST input files, because its ";
  EXPECT_TRUE(contains(err, in + "file `/usr/e" + cannot + "export `/opt/e\\nx' contains a newline.\n"));
  EXPECT_TRUE(contains(err, in + "file `/usr/g" + cannot + "flags text `a\\nb' contains a newline.\n"));
  EXPECT_TRUE(contains(err, in + "file `/usr/g" + cannot + "owner `o\\nwn' contains a newline.\n"));
  EXPECT_TRUE(contains(err, in + "symbolic link `/usr/l" + cannot +
                                "target `/usr/line\\nbreak' contains a newline.\n"));
  EXPECT_TRUE(contains(err, "in package `TOOLS', the file `/usr/a:b' would be written as "
                            "`/usr/a_b', because its name contains a `:', but another entry of "
                            "the package has that name already.\n"));
  EXPECT_TRUE(contains(err, "in package `TOOLS', the file `/usr/line\\nbreak' cannot be written "
                            "to the KEST input files, because its path contains a newline.\n"));
  EXPECT_TRUE(contains(err, "the package name `SL/ASH' (from the package directory `/slash') "
                            "cannot name an output file, because it contains a `/'.\n"));
}

}  // namespace
}  // namespace kesttest
