// The KEST record and what it does while the tree is scanned: package
// names, the Control package, control-script directories, private marks.
#include <sys/stat.h>

#include "kest_fixture.hpp"

namespace kesttest {
namespace {

class KestScan : public KestTest {};

TEST_F(KestScan, OutputDirectoryIsInputUnderTheBaseDirectory) {
  opts.pkgdir = "/elsewhere";
  {
    testutil::CaptureFd err;
    kest->optcheck();
    EXPECT_EQ(diag.errors, 0) << err.text();
  }
  EXPECT_EQ(*opts.pkgdir, tmp.path() + "/input");

  rmdir((tmp.path() + "/input").c_str());
  testutil::write_file(tmp.path() + "/input", "not a directory\n");
  testutil::CaptureFd err;
  kest->optcheck();
  EXPECT_EQ(diag.errors, 1);
  EXPECT_TRUE(contains(err.text(), "output directory `" + tmp.path() +
                                       "/input' does not exist or is not writeable.\n"));
  unlink((tmp.path() + "/input").c_str());
  kest->optcheck();
  EXPECT_EQ(diag.errors, 2);
}

TEST_F(KestScan, PackageNamesAndTheControlPackage) {
  EXPECT_EQ(kest->pkgrename("cntl"), "Control");
  EXPECT_EQ(kest->pkgrename("tools"), "TOOLS");
  EXPECT_EQ(kest->pkgrename("Cntl"), "CNTL");

  pkgptr_t control = package("cntl", "Control");
  EXPECT_TRUE(control->flags & pf::PRIVATE);
  EXPECT_EQ(control->desc, "Package Control Scripts");
  pkgptr_t tools = package("tools", "TOOLS");
  EXPECT_EQ(kest->prepkg(tools), 1);
  EXPECT_FALSE(tools->flags & pf::PRIVATE);
  EXPECT_EQ(tools->desc, "Description of package `TOOLS'");
}

TEST_F(KestScan, EverythingOfThePrivatePackageIsPrivateAndReadable) {
  pkgptr_t control = package("cntl", "Control");
  dfileptr_t sub = dir(control, "/sub");
  dfileptr_t script = file(control, "/sub/postinstall", 0750);
  dfileptr_t data = file(control, "/data", 0600);
  EXPECT_TRUE(sub->sflags & sf::DIR_PRIVATE);
  EXPECT_TRUE(sub->aflags & af::PRIVATE);
  EXPECT_FALSE(sub->sflags & ksf::DIR_CNTL);
  EXPECT_TRUE(script->sflags & sf::FILE_PRIVATE);
  EXPECT_TRUE(script->aflags & af::PRIVATE);
  EXPECT_EQ(script->mode, 0755u);
  EXPECT_EQ(data->mode, 0644u);
  EXPECT_FALSE(data->sflags & ksf::FILE_CNTL_SCRIPT);
}

TEST_F(KestScan, ControlScriptDirectoryOnlyDirectlyUnderThePackageRoot) {
  pkgptr_t p = package("tools", "TOOLS");
  dfileptr_t usr = dir(p, "/usr");
  dfileptr_t cntl = dir(p, "/cntl");
  dfileptr_t deep = dir(p, "/cntl/deep");
  dfileptr_t other = dir(p, "/usr/cntl");
  dfileptr_t script = file(p, "/cntl/deep/check", 0700);
  dfileptr_t top = file(p, "/cntl/preinstall", 0600);
  dfileptr_t plain = file(p, "/usr/cntl/file", 0600);

  EXPECT_TRUE(p->flags & kpf::HAS_CNTL);
  EXPECT_EQ(cntl->sflags & (ksf::DIR_CNTL | sf::DIR_PRIVATE), ksf::DIR_CNTL | sf::DIR_PRIVATE);
  EXPECT_EQ(cntl->aflags & (kaf::IN_CNTL | af::PRIVATE), kaf::IN_CNTL | af::PRIVATE);
  EXPECT_EQ(deep->sflags & (ksf::DIR_CNTL | sf::DIR_PRIVATE), ksf::DIR_CNTL | sf::DIR_PRIVATE);
  EXPECT_EQ(deep->aflags & (kaf::IN_CNTL | af::PRIVATE), kaf::IN_CNTL | af::PRIVATE);
  for (dfileptr_t d : {usr, other}) {
    EXPECT_FALSE(d->sflags & (ksf::DIR_CNTL | sf::DIR_PRIVATE)) << d->path.str;
    EXPECT_FALSE(d->aflags & (kaf::IN_CNTL | af::PRIVATE)) << d->path.str;
  }
  for (dfileptr_t f : {script, top}) {
    EXPECT_TRUE(f->sflags & ksf::FILE_CNTL_SCRIPT) << f->path.str;
    EXPECT_TRUE(f->sflags & sf::FILE_PRIVATE) << f->path.str;
    EXPECT_EQ(f->aflags & (kaf::IN_CNTL | af::PRIVATE), kaf::IN_CNTL | af::PRIVATE);
  }
  EXPECT_EQ(script->mode, 0755u);
  EXPECT_EQ(top->mode, 0644u);
  EXPECT_EQ(plain->mode, 0600u);
  EXPECT_FALSE(plain->sflags & (ksf::FILE_CNTL_SCRIPT | sf::FILE_PRIVATE));
}

TEST_F(KestScan, ReplyFourOnlyWhenAMarkWasMade) {
  pkgptr_t p = package("tools", "TOOLS");
  dfileptr_t usr = add_dir(p, "/usr");
  EXPECT_EQ(kest->postdir(p, usr, 1), 1);
  dfileptr_t f = add_file(p, "/usr/x", 0444);
  EXPECT_EQ(kest->postfile(p, f, 0), 1);
  dfileptr_t priv = add_dir(p, "/usr/priv");
  priv->aflags |= af::PRIVATE;
  priv->sflags |= sf::DIR_PRIVATE;
  dfileptr_t below = add_dir(p, "/usr/priv/below");
  EXPECT_EQ(kest->postdir(p, below, 0), REPLY_PRIVATE);
  EXPECT_TRUE(below->sflags & sf::DIR_PRIVATE);
  dfileptr_t g = add_file(p, "/usr/priv/y", 0444);
  EXPECT_EQ(kest->postfile(p, g, 0), REPLY_PRIVATE);
  EXPECT_TRUE(g->sflags & sf::FILE_PRIVATE);
  EXPECT_EQ(g->mode, 0444u);
}

TEST_F(KestScan, PhaseMarksReachEveryDirectoryBelow) {
  pkgptr_t p = package("tools", "TOOLS");
  dfileptr_t opt = dir(p, "/opt", [](dfileptr_t d) {
    d->aflags |= af::PHASE;
    d->phase = 2;
  });
  dfileptr_t a = dir(p, "/opt/a");
  dfileptr_t b = dir(p, "/opt/a/b");
  dfileptr_t usr = dir(p, "/usr");
  EXPECT_EQ(opt->sflags & (ksf::DIR_PHASE_SET | ksf::DIR_PARENT_PHASE), ksf::DIR_PHASE_SET);
  EXPECT_EQ(a->sflags & (ksf::DIR_PHASE_SET | ksf::DIR_PARENT_PHASE), ksf::DIR_PARENT_PHASE);
  EXPECT_EQ(b->sflags & (ksf::DIR_PHASE_SET | ksf::DIR_PARENT_PHASE), ksf::DIR_PARENT_PHASE);
  EXPECT_FALSE(usr->sflags & (ksf::DIR_PHASE_SET | ksf::DIR_PARENT_PHASE));
}

}  // namespace
}  // namespace kesttest
