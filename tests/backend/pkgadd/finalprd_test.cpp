// The pkgadd backend before output: its record and options, control
// scripts during the scan, link checks, part sizes and the verification.
#include <sys/stat.h>

#include "pkgadd_fixture.hpp"

namespace pkgadd_test {
namespace {

using testutil::CaptureFd;

TEST_F(PkgaddTest, RecordClaimsItsProgramNamesAndCarriesItsOptions) {
  EXPECT_EQ(be, &registry.backends[1]);
  EXPECT_STREQ(be->name, "pkgadd");
  EXPECT_STREQ(be->desc, "UNIX System V Release 4 Packaging System (pkgadd)");
  EXPECT_EQ(be->verstr, "1.1.0");
  EXPECT_EQ(be->version, 101000);
  EXPECT_TRUE(be->chkname("mkpkg"));
  EXPECT_TRUE(be->chkname("mkpkgadd"));
  EXPECT_FALSE(be->chkname("mkpkgaddx"));
  EXPECT_FALSE(be->chkname("mkkest"));
  ASSERT_EQ(be->opts.size(), 2u);
  EXPECT_EQ(be->opts[0].letter, 'U');
  EXPECT_STREQ(be->opts[0].name, "pkgadd-category");
  EXPECT_EQ(be->opts[0].target, &opts.pkgadd_cat);
  EXPECT_EQ(be->opts[1].letter, -'l');
  EXPECT_STREQ(be->opts[1].name, "pkgadd-part-limit");
  EXPECT_EQ(be->opts[1].target, &opts.pkgadd_limit);
  // The control-file setter stores limits beyond 32 bits unchanged.
  EXPECT_EQ(be->opts[1].setter('l', "6442450944", be->opts[1].target), 0);
  EXPECT_EQ(opts.pkgadd_limit, 6442450944LL);
  EXPECT_EQ(be->dupcheck, nullptr);
  EXPECT_EQ(be->prefile, nullptr);
  EXPECT_NE(be->finalcmpnt, nullptr);
}

TEST_F(PkgaddTest, OptionChecksReportEveryProblem) {
  opts.pkgdir.reset();
  opts.pkgadd_cat.reset();
  opts.pkgadd_limit = 0;
  rmdir((tmp.path() + "/input").c_str());
  CaptureFd err;
  be->optcheck();
  EXPECT_EQ(*opts.pkgdir, tmp.path() + "/input");
  EXPECT_EQ(err.text(),
            "\nERROR: output directory `" + tmp.path() +
                "/input' does not exist or is not writeable.\n"
                "ERROR: pkgadd category (-U) not set.\n"
                "ERROR: invalid part limit `0' (-l): the limit must be a positive number of "
                "bytes.\n");
  EXPECT_EQ(diag.errors, 3);

  // A plain file cannot take the output files.
  testutil::write_file(tmp.path() + "/input", "");
  opts.pkgadd_cat = "application";
  opts.pkgadd_limit = 1;
  be->optcheck();
  EXPECT_EQ(diag.errors, 4);

  unlink((tmp.path() + "/input").c_str());
  testutil::make_dirs(tmp.path() + "/input");
  be->optcheck();
  EXPECT_EQ(diag.errors, 4);
}

TEST_F(PkgaddTest, CntlDirectoryHoldsPrivateScriptsReadableByAll) {
  pkgptr_t p = add_package("base", "BASE");
  dfileptr_t cntl = add_dir(p, "/cntl");
  EXPECT_EQ(be->postdir(p, cntl, 1), REPLY_PRIVATE);
  EXPECT_TRUE(p->flags & pkgadd_pf::HAS_CNTL);
  EXPECT_EQ(cntl->sflags & (pkgadd_sf::CNTL | sf::DIR_PRIVATE), pkgadd_sf::CNTL | sf::DIR_PRIVATE);
  EXPECT_EQ(cntl->aflags & (pkgadd_af::IN_CNTL | af::PRIVATE), pkgadd_af::IN_CNTL | af::PRIVATE);

  dfileptr_t sub = add_dir(p, "/cntl/more");
  EXPECT_EQ(be->postdir(p, sub, 0), REPLY_PRIVATE);
  EXPECT_TRUE(sub->sflags & pkgadd_sf::CNTL);
  EXPECT_TRUE(sub->aflags & af::PRIVATE);

  dfileptr_t script = add_file(p, "/cntl/postinstall", 0700);
  EXPECT_EQ(be->postfile(p, script, 0), REPLY_PRIVATE);
  EXPECT_EQ(script->mode, 0755u);
  EXPECT_TRUE(pkgadd_file_private(script));
  EXPECT_TRUE(script->sflags & pkgadd_sf::CNTL);
  dfileptr_t vars = add_file(p, "/cntl/pkginfo.vars", 0600);
  be->postfile(p, vars, 0);
  EXPECT_EQ(vars->mode, 0644u);

  // Only a cntl directory directly in the package root is special.
  dfileptr_t usr = add_dir(p, "/usr");
  dfileptr_t deep = add_dir(p, "/usr/cntl");
  EXPECT_EQ(be->postdir(p, usr, 1), 1);
  EXPECT_EQ(be->postdir(p, deep, 0), 1);
  dfileptr_t plain = add_file(p, "/usr/cntl/x", 0700);
  EXPECT_EQ(be->postfile(p, plain, 0), 1);
  EXPECT_EQ(plain->mode, 0700u);
  EXPECT_EQ(deep->sflags & (pkgadd_sf::CNTL | sf::DIR_PRIVATE), 0u);

  // A directory the control file made private passes that on, without the
  // script mode.
  dfileptr_t priv = add_dir(p, "/priv");
  priv->aflags |= af::PRIVATE;
  priv->sflags |= sf::DIR_PRIVATE;
  dfileptr_t inpriv = add_file(p, "/priv/f", 0600);
  EXPECT_EQ(be->postfile(p, inpriv, 0), REPLY_PRIVATE);
  EXPECT_TRUE(inpriv->sflags & sf::FILE_PRIVATE);
  EXPECT_EQ(inpriv->mode, 0600u);
}

TEST_F(PkgaddTest, EverythingOfAPrivatePackageIsPrivate) {
  pkgptr_t p = add_package("hid", "HID");
  p->flags |= pf::PRIVATE;
  dfileptr_t d = add_dir(p, "/etc");
  dfileptr_t f = add_file(p, "/etc/tool", 0711);
  EXPECT_EQ(be->postdir(p, d, 1), REPLY_PRIVATE);
  EXPECT_TRUE(pkgadd_dir_private(d));
  EXPECT_EQ(be->postfile(p, f, 0), REPLY_PRIVATE);
  EXPECT_TRUE(pkgadd_file_private(f));
  EXPECT_EQ(f->mode, 0755u);
}

TEST_F(PkgaddTest, LinksMustPointIntoTheirPackage) {
  pkgptr_t p = add_package("base", "BASE");
  add_package("other", "OTHER");
  add_dir(p, "/usr");
  add_dir(p, "/usr/lib");
  add_file(p, "/usr/lib/libx.so.1");
  make_link(add_file(p, "/usr/lib/libx.so"), "/usr/lib/libx.so.1");
  make_link(add_file(p, "/usr/lib/gone"), "/usr/lib/removed");
  dfileptr_t out = add_file(p, "/usr/lib/out");
  out->aflags |= af::SYMLINK;
  out->target = newpath_dup(*opts.distdir + "/other/usr/lib/x");
  // A sibling package directory sharing the name as prefix is outside too.
  dfileptr_t sib = add_file(p, "/usr/lib/sib");
  sib->aflags |= af::SYMLINK;
  sib->target = newpath_dup(*opts.distdir + "/base2/x");
  // Links the scan or the control file dealt with are not checked.
  for (std::uint32_t bit : {af::EXCLUDED, af::CTL_SYMLINK, af::CONVERTED}) {
    dfileptr_t f = add_file(p, "/usr/lib/skip" + std::to_string(bit));
    make_link(f, "/nowhere");
    f->aflags |= bit;
  }
  dfileptr_t dlink = add_dir(p, "/usr/share");
  dlink->aflags |= af::SYMLINK;
  dlink->target = newpath_dup(*opts.distdir + "/other/usr/share");

  CaptureFd err;
  finish_scan();
  const std::string tail =
      "The most likely cause of this is that the target was removed by a remove() or removeall() "
      "directive. If that is the case, then you must either not remove the target, or you must "
      "remove this symbolic link as well. If this is not the result of a removed file, then you "
      "either have an error in your distribution tree, or you are attempting to create a "
      "symbolic link to a file outside of the current package, which is not supported.\n";
  EXPECT_EQ(err.text(),
            "\nERROR: the symbolic link `/usr/lib/gone' points to the target `/usr/lib/removed', "
            "which was not found in the current package (`BASE'). " + tail +
            "ERROR: the symbolic link `/usr/lib/out' points to the target `/other/usr/lib/x', "
            "which was not found in the current package (`BASE'). " + tail +
            "ERROR: the symbolic link `/usr/lib/sib' points to the target `/base2/x', "
            "which was not found in the current package (`BASE'). " + tail +
            "ERROR: the symbolic link `/usr/share' points to the target `/other/usr/share', "
            "which was not found in the current package (`BASE'). " + tail);
  EXPECT_EQ(diag.errors, 4);
  // The arrays are in path order for the writer.
  EXPECT_EQ(p->files.front()->path.sv(), "/usr/lib/gone");
  EXPECT_EQ(p->dirs[1]->path.sv(), "/usr");
}

TEST_F(PkgaddTest, ComponentSizesSkipEmptyFilesAndKeep64Bits) {
  pkgptr_t a = add_package("a", "A");
  pkgptr_t b = add_package("b", "B");
  add_dir(a, "/opt");
  add_file(a, "/opt/empty", 0444, 0);
  add_file(a, "/opt/big", 0444, 20000000);
  add_file(b, "/huge", 0444, 3LL << 30);
  dfileptr_t gone = add_file(b, "/gone", 0444, 5LL << 30);
  gone->aflags |= af::EXCLUDED;
  cmpntptr_t c1 = add_cmpnt("one", {a});
  cmpntptr_t c2 = add_cmpnt("two", {b});
  add_varlist("MISSING", "", c2->subpackages);
  finish_scan();
  EXPECT_EQ(c1->sizes.largest, 20000000);
  EXPECT_EQ(c1->sizes.smallest, 20000000);
  // Excluded files count for their component, not for the product.
  EXPECT_EQ(c2->sizes.largest, 5LL << 30);
  EXPECT_EQ(c2->sizes.smallest, 3LL << 30);
  be->final();
  EXPECT_EQ(pkgadd_state.biggest, 3LL << 30);

  cmpntptr_t none = add_cmpnt("none", {});
  be->finalcmpnt(none);
  EXPECT_EQ(none->sizes.largest, 0);
  EXPECT_EQ(none->sizes.smallest, INT64_MAX);
}

TEST(PkgaddBlocks, PartLimitInBlocks) {
  EXPECT_EQ(pkgadd_blocks(10485760), 20708);
  EXPECT_EQ(pkgadd_blocks(0), 65);
  EXPECT_EQ(pkgadd_blocks(1), 66);
  EXPECT_EQ(pkgadd_blocks(5120), 75);         // b = 10: no index blocks yet
  EXPECT_EQ(pkgadd_blocks(5121), 11 + 1 + 65);
  EXPECT_EQ(pkgadd_blocks(3LL << 30), 6341058);
  EXPECT_EQ(pkgadd_blocks(INT64_MAX), 18156235509465154LL);  // no overflow on the way
}

TEST_F(PkgaddTest, VerifyReportsWhatSvr4PackagesCannotExpress) {
  pkgptr_t box = add_package("box", "BOX");
  box->flags |= pf::HAS_SUBPKGS;
  pkgptr_t base = add_package("base", "BASE");
  add_file(base, "/f");
  add_varlist("X", "", base->upgrades);
  add_varlist("Y", "", base->dependency);
  add_varlist("Z", "", base->replaces);
  add_varlist("W", "", base->requires_);
  cmpntptr_t c = add_cmpnt("tools", {box, base});
  add_varlist("oldtools", "", c->replaces);
  add_varlist("libs", "", c->dependency);
  add_varlist("core", "The core", c->dependency);
  add_varlist("u", "", c->upgrades);
  add_varlist("r", "", c->requires_);
  CaptureFd err;
  be->verify();
  EXPECT_EQ(err.text(),
            "\nERROR: the `pkgadd' backend driver does not support container packages, because the "
            "underlying tools do not support them. The package `BOX' currently contains other "
            "packages. You need to adjust the control file to conditionalize the creation of "
            "this container package.\n"
            "\nINFO: the upgrades() package keyword is not supported by the `pkgadd' backend. The "
            "package `BASE' uses it. You should conditionalize the upgrades() keyword in the "
            "control file.\n"
            "INFO: the depends() package keyword is not supported by the `pkgadd' backend. The "
            "package `BASE' uses it. You should conditionalize the depends() keyword in the "
            "control file.\n"
            "INFO: the replaces() package keyword is not supported by the `pkgadd' backend. The "
            "package `BASE' uses it. You should conditionalize the replaces() keyword in the "
            "control file.\n"
            "INFO: the requires() package keyword is not supported by the `pkgadd' backend. The "
            "package `BASE' uses it. You should conditionalize the requires() keyword in the "
            "control file.\n"
            "\nERROR: In component `tools', the superceding dependency `oldtools' lacks a "
            "description. This is required by the `pkgadd' backend driver. Please edit the "
            "control file and add a description.\n"
            "ERROR: In component `tools', the dependency `libs' lacks a description. This is "
            "required by the `pkgadd' backend driver. Please edit the control file and add a "
            "description.\n"
            "\nINFO: the upgrades() component keyword is not supported by the `pkgadd' backend. "
            "The component `tools' uses it. You should conditionalize the upgrades() keyword in "
            "the control file.\n"
            "INFO: the requires() component keyword is not supported by the `pkgadd' backend. "
            "The component `tools' uses it. You should conditionalize the requires() keyword in "
            "the control file.\n");
  EXPECT_EQ(diag.errors, 3);
}

TEST_F(PkgaddTest, VerifyRefusesComponentsThatCannotBecomePackages) {
  opts.prdcode = "MY TOOLS";
  pkgptr_t base = add_package("base", "BASE");
  add_file(base, "/f");
  add_cmpnt("tools", {base});
  add_cmpnt("tools", {});
  add_cmpnt("../up", {});
  CaptureFd err;
  be->verify();
  const std::string chars =
      "only letters, digits and the characters `+', `-', `_' and `.' may be used.\n";
  EXPECT_EQ(err.text(),
            "\nERROR: the product code `MY TOOLS' cannot be used by the `pkgadd' backend driver, "
            "because it names output files and make targets: " + chars +
            "ERROR: the component name `tools' is used by more than one component. The `pkgadd' "
            "backend driver writes each component as a package of that name, so the names must "
            "differ.\n"
            "ERROR: the component `tools' contains no packages. The `pkgadd' backend driver "
            "makes one SVR4 package of each component, which needs at least one package of "
            "files.\n"
            "ERROR: the component name `../up' cannot be used by the `pkgadd' backend driver, "
            "because it names a package directory and make targets: " + chars +
            "ERROR: the component `../up' contains no packages. The `pkgadd' backend driver "
            "makes one SVR4 package of each component, which needs at least one package of "
            "files.\n");

  reset_model();
  opts.prdcode = "TOOLS";
  CaptureFd err2;
  be->verify();
  EXPECT_EQ(err2.text(),
            "ERROR: there are no components, so the `pkgadd' backend driver has nothing to "
            "write.\n");
}

TEST_F(PkgaddTest, VerifyRefusesNamesThePrototypeCannotCarry) {
  pkgptr_t p = add_package("base", "BASE");
  add_dir(p, "/opt");
  add_dir(p, "/opt/my dir");
  add_file(p, "/opt/a=b");
  dfileptr_t link = add_file(p, "/opt/link");
  make_link(link, "/opt/x\ty");
  add_file(p, "/opt/x\ty");
  dfileptr_t exp = add_file(p, "/opt/e");
  add_strlist("/usr/bin/e x", ef::PLAIN, exp->exports);
  dfileptr_t own = add_file(p, "/opt/o");
  own->owner = model_strdup("my user");
  own->aflags |= af::UID | af::OWNER;
  own->uid = static_cast<std::uint32_t>(-123);
  // Private and excluded entries are never written, so they may hold anything.
  add_file(p, "/opt/priv ate")->aflags |= af::PRIVATE;
  add_file(p, "/opt/ex cluded")->aflags |= af::EXCLUDED;
  pkgptr_t bad = add_package("bad pkg", "BAD=PKG");
  add_file(bad, "/f");
  add_cmpnt("tools", {p, bad});
  finish_scan();
  CaptureFd err;
  be->verify();
  const std::string why = "a blank, a tab, a newline or an `=' character.\n";
  EXPECT_EQ(err.text(),
            "\nERROR: in package `BASE', the directory `/opt/my dir' cannot be written to a "
            "prototype file, because its path contains " + why +
            "ERROR: in package `BASE', the file `/opt/a=b' cannot be written to a prototype file, "
            "because its path contains " + why +
            "ERROR: in package `BASE', the export `/usr/bin/e x' of the file `/opt/e' cannot be "
            "written to a prototype file, because it contains " + why +
            "ERROR: in package `BASE', the symbolic link `/opt/link' cannot be written to a "
            "prototype file, because its target `/opt/x\ty' contains " + why +
            "ERROR: in package `BASE', the owner or group `my user' of the file `/opt/o' cannot "
            "be written to a prototype file, because it contains " + why +
            "ERROR: in package `BASE', the file `/opt/x\ty' cannot be written to a prototype "
            "file, because its path contains " + why +
            "ERROR: the package name `BAD=PKG' cannot be used as an installation class, because "
            "it contains " + why +
            "ERROR: the directory `/bad pkg' of package `BAD=PKG' cannot be written to a "
            "prototype file, because it contains " + why);
}

TEST_F(PkgaddTest, VerifyReportsOwnersWithoutNamesBeforeWriting) {
  opts.imode = 1;
  pkgptr_t p = add_package("base", "BASE");
  dfileptr_t d = add_dir(p, "/opt");
  d->uid = 4000111;
  dfileptr_t f = add_file(p, "/opt/f");
  f->gid = 4000222;
  add_cmpnt("tools", {p});
  finish_scan();
  CaptureFd err;
  be->verify();
  EXPECT_EQ(err.text(),
            "\nERROR: in package `BASE': could not getpwuid(4000111) for directory `./opt'.\n"
            "ERROR: in package `BASE': could not getgrgid(4000222) for file `./opt/f'.\n");
}

}  // namespace
}  // namespace pkgadd_test
