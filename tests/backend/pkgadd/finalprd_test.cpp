// The pkgadd backend before output: its record and options, control
// scripts during the scan, link checks, part sizes and the verification.
#include <sys/stat.h>

#include "pkgadd_fixture.hpp"

namespace pkgadd_test {
namespace {

using testutil::CaptureFd;

TEST_F(PkgaddTest, RecordAndOptions) {
  EXPECT_EQ(be, registry.backends[1]);
  EXPECT_STREQ(be->verstr, "1.1.0");
  EXPECT_EQ(be->version, 101000);
  EXPECT_TRUE(be->chkname("mkpkg") && be->chkname("mkpkgadd"));
  EXPECT_FALSE(be->chkname("mkpkgaddx") || be->chkname("mkkest"));
  ASSERT_EQ(be->opts.size(), 2u);
  EXPECT_EQ(be->opts[0].letter, 'U');
  EXPECT_EQ(be->opts[1].letter, -'l');
  // The control-file setter stores limits beyond 32 bits unchanged.
  EXPECT_EQ(be->opts[1].setter('l', "6442450944", be->opts[1].target), 0);
  EXPECT_EQ(pkgadd_settings.pkgadd_limit, 6442450944LL);
}

TEST_F(PkgaddTest, OptionChecksReportEveryProblem) {
  pkgadd_settings.pkgadd_cat.reset();
  pkgadd_settings.pkgadd_limit = 0;
  // A plain file passes the access test but cannot take the output files.
  rmdir((tmp.path() + "/input").c_str());
  testutil::write_file(tmp.path() + "/input", "");
  CaptureFd err;
  be->optcheck();
  EXPECT_EQ(*opts.pkgdir, tmp.path() + "/input");
  EXPECT_EQ(err.text(), "\nERROR: output directory `" + tmp.path() +
                            "/input' does not exist or is not writeable.\n"
                            "ERROR: pkgadd category (-U) not set.\n"
                            "ERROR: invalid part limit `0' (-l): the limit must be a positive "
                            "number of bytes.\n");
  unlink((tmp.path() + "/input").c_str());
  testutil::make_dirs(tmp.path() + "/input");
  pkgadd_settings.pkgadd_cat = "application";
  pkgadd_settings.pkgadd_limit = 1;
  be->optcheck();
  EXPECT_EQ(diag.errors, 3);
}

TEST_F(PkgaddTest, CntlDirectoryAndPrivatePackagesHoldPrivateScripts) {
  pkgptr_t p = add_package("base", "BASE");
  dfileptr_t cntl = add_dir(p, "/cntl");
  EXPECT_EQ(be->postdir(p, cntl, 1), REPLY_PRIVATE);
  EXPECT_TRUE(p->flags & pkgadd_pf::HAS_CNTL);
  EXPECT_EQ(cntl->aflags & (pkgadd_af::IN_CNTL | af::PRIVATE), pkgadd_af::IN_CNTL | af::PRIVATE);
  dfileptr_t sub = add_dir(p, "/cntl/more");
  EXPECT_EQ(be->postdir(p, sub, 0), REPLY_PRIVATE);
  EXPECT_EQ(sub->sflags & (pkgadd_sf::CNTL | sf::DIR_PRIVATE), pkgadd_sf::CNTL | sf::DIR_PRIVATE);
  // Scripts become readable by all, and runnable by all when runnable at all.
  dfileptr_t script = add_file(p, "/cntl/more/postinstall", 0700);
  EXPECT_EQ(be->postfile(p, script, 0), REPLY_PRIVATE);
  EXPECT_EQ(script->mode, 0755u);
  EXPECT_TRUE(pkgadd_file_private(script));
  dfileptr_t vars = add_file(p, "/cntl/pkginfo.vars", 0600);
  be->postfile(p, vars, 0);
  EXPECT_EQ(vars->mode, 0644u);
  // Only a cntl directory directly in the package root is special.
  add_dir(p, "/usr");
  dfileptr_t deep = add_dir(p, "/usr/cntl");
  EXPECT_EQ(be->postdir(p, deep, 0), 1);
  dfileptr_t plain = add_file(p, "/usr/cntl/x", 0700);
  EXPECT_EQ(be->postfile(p, plain, 0), 1);
  EXPECT_EQ(plain->mode, 0700u);

  pkgptr_t hid = add_package("hid", "HID");
  hid->flags |= pf::PRIVATE;
  dfileptr_t d = add_dir(hid, "/etc");
  dfileptr_t f = add_file(hid, "/etc/tool", 0711);
  EXPECT_EQ(be->postdir(hid, d, 1), REPLY_PRIVATE);
  EXPECT_EQ(be->postfile(hid, f, 0), REPLY_PRIVATE);
  EXPECT_TRUE(pkgadd_dir_private(d) && pkgadd_file_private(f));
  EXPECT_EQ(f->mode, 0755u);
}

TEST_F(PkgaddTest, LinksMustPointIntoTheirPackage) {
  pkgptr_t p = add_package("base", "BASE");
  add_package("other", "OTHER");
  add_dir(p, "/lib");
  add_file(p, "/lib/libx.so.1");
  make_link(add_file(p, "/lib/libx.so"), "/lib/libx.so.1");
  make_link(add_file(p, "/lib/gone"), "/lib/removed");
  auto link_to = [&](dfileptr_t e, const std::string& full) {
    e->aflags |= af::SYMLINK;
    e->target = newpath_dup(*opts.distdir + full);
  };
  link_to(add_file(p, "/lib/out"), "/other/lib/x");
  link_to(add_file(p, "/lib/sib"), "/base2/x");  // shares the directory name as prefix
  link_to(add_dir(p, "/share"), "/other/share");
  // Links the scan or the control file dealt with are not checked.
  for (std::uint32_t bit : {af::EXCLUDED, af::CTL_SYMLINK, af::CONVERTED}) {
    dfileptr_t f = add_file(p, "/lib/skip" + std::to_string(bit));
    make_link(f, "/nowhere");
    f->aflags |= bit;
  }
  CaptureFd err;
  finish_scan();
  auto msg = [](const std::string& link, const std::string& target) {
    return "ERROR: the symbolic link `" + link + "' points to the target `" + target +
           "', which was not found in the current package (`BASE'). The most likely cause of "
           "this is that the target was removed by a remove() or removeall() directive. If that "
           "is the case, then you must either not remove the target, or you must remove this "
           "symbolic link as well. If this is not the result of a removed file, then you either "
           "have an error in your distribution tree, or you are attempting to create a symbolic "
           "link to a file outside of the current package, which is not supported.\n";
  };
  EXPECT_EQ(err.text(), "\n" + msg("/lib/gone", "/lib/removed") + msg("/lib/out", "/other/lib/x") +
                            msg("/lib/sib", "/base2/x") + msg("/share", "/other/share"));
  // The arrays are in path order for the writer.
  EXPECT_EQ(p->files.front()->path.sv(), "/lib/gone");
  EXPECT_EQ(p->dirs[1]->path.sv(), "/lib");
}

TEST_F(PkgaddTest, ComponentSizesAndPartLimitsKeep64Bits) {
  pkgptr_t a = add_package("a", "A");
  pkgptr_t b = add_package("b", "B");
  add_file(a, "/empty", 0444, 0);
  add_file(a, "/big", 0444, 20000000);
  add_file(b, "/huge", 0444, 3LL << 30);
  add_file(b, "/gone", 0444, 5LL << 30)->aflags |= af::EXCLUDED;
  cmpntptr_t c1 = add_cmpnt("one", {a});
  cmpntptr_t c2 = add_cmpnt("two", {b});
  add_varlist("MISSING", "", c2->subpackages);  // reported by the assembly; passed over here
  finish_scan();
  EXPECT_EQ(c1->sizes.largest, 20000000);
  EXPECT_EQ(c1->sizes.smallest, 20000000);
  // Excluded files count for their component, not for the product.
  EXPECT_EQ(c2->sizes.largest, 5LL << 30);
  EXPECT_EQ(c2->sizes.smallest, 3LL << 30);
  be->final();
  EXPECT_EQ(pkgadd_settings.biggest, 3LL << 30);

  EXPECT_EQ(pkgadd_blocks(10485760), 20708);
  EXPECT_EQ(pkgadd_blocks(0), 65);
  EXPECT_EQ(pkgadd_blocks(5120), 75);  // 10 blocks: no index blocks yet
  EXPECT_EQ(pkgadd_blocks(5121), 77);
  EXPECT_EQ(pkgadd_blocks(3LL << 30), 6341058);
  EXPECT_EQ(pkgadd_blocks(INT64_MAX), 18156235509465154LL);  // no overflow on the way
}

TEST_F(PkgaddTest, VerifyReportsWhatSvr4PackagesCannotExpress) {
  pkgptr_t box = add_package("box", "BOX");
  box->flags |= pf::HAS_SUBPKGS;
  pkgptr_t base = add_package("base", "BASE");
  add_file(base, "/f");
  for (varlist* l : {&base->upgrades, &base->dependency, &base->replaces, &base->requires_})
    add_varlist("X", "", *l);
  cmpntptr_t c = add_cmpnt("tools", {box, base});
  add_varlist("oldtools", "", c->replaces);
  add_varlist("libs", "", c->dependency);
  add_varlist("core", "The core", c->dependency);
  add_varlist("u", "", c->upgrades);
  add_varlist("r", "", c->requires_);
  CaptureFd err;
  be->verify();
  auto notice = [](const std::string& kw, const std::string& kind, const std::string& name) {
    return "INFO: the " + kw + "() " + kind + " keyword is not supported by the `pkgadd' "
           "backend. The " + kind + " `" + name + "' uses it. You should conditionalize the " +
           kw + "() keyword in the control file.\n";
  };
  const std::string add = " This is required by the `pkgadd' backend driver. Please edit the "
                          "control file and add a description.\n";
  EXPECT_EQ(err.text(),
            "\nERROR: the `pkgadd' backend driver does not support container packages, because "
            "the underlying tools do not support them. The package `BOX' currently contains "
            "other packages. You need to adjust the control file to conditionalize the creation "
            "of this container package.\n\n" +
                notice("upgrades", "package", "BASE") + notice("depends", "package", "BASE") +
                notice("replaces", "package", "BASE") + notice("requires", "package", "BASE") +
                "\nERROR: In component `tools', the superceding dependency `oldtools' lacks a "
                "description." + add +
                "ERROR: In component `tools', the dependency `libs' lacks a description." + add +
                "\n" + notice("upgrades", "component", "tools") +
                notice("requires", "component", "tools"));
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
  auto empty = [](const std::string& c) {
    return "ERROR: the component `" + c + "' contains no packages. The `pkgadd' backend driver "
           "makes one SVR4 package of each component, which needs at least one package of "
           "files.\n";
  };
  EXPECT_EQ(err.text(),
            "\nERROR: the product code `MY TOOLS' cannot be used by the `pkgadd' backend driver, "
            "because it names output files and make targets: only letters, digits and the "
            "characters `+', `-', `_' and `.' may be used.\n"
            "ERROR: the component name `tools' is used by more than one component. The "
            "`pkgadd' backend driver writes each component as a package of that name, so the "
            "names must differ.\n" + empty("tools") +
                "ERROR: the component name `../up' (from option -C) cannot name an output file, "
                "because it contains a `/'.\n" + empty("../up"));

  reset_model();
  opts.prdcode = "TOOLS";
  CaptureFd err2;
  be->verify();
  EXPECT_EQ(err2.text(), "ERROR: there are no components, so the `pkgadd' backend driver has nothing to write.\n");
}

TEST_F(PkgaddTest, ComponentNamesMustBePackageAbbreviations) {
  const std::string longest(32, 'a');
  const std::vector<std::string> good = {"a", "X+y-9", longest, "alls", "New2"};
  const std::vector<std::string> bad = {"my_prod.x", "9lives", "-x", "+x", longest + "b",
                                        "all", "install", "new", "..", "."};
  for (const std::string& name : good) add_file(add_package("p" + name, "P" + name), "/f");
  for (const std::string& name : good) add_cmpnt(name, {find_package(nullptr, ("P" + name).c_str())});
  for (const std::string& name : bad) add_cmpnt(name, {});
  CaptureFd err;
  be->verify();
  std::string expected = "\n";
  for (const std::string& name : bad) {
    if (name == "." || name == "..")
      expected += "ERROR: the component name `" + name + "' (from option -C) cannot name an "
                  "output file, because it is `" + name + "'.\n";
    else
      expected += "ERROR: the component name `" + name + "' (from option -C) cannot be used as "
                  "an SVR4 package abbreviation, which must begin with a letter, hold only "
                  "letters, digits, `+' and `-', be at most 32 characters long and not be `all', "
                  "`install' or `new'.\n";
    expected += "ERROR: the component `" + name + "' contains no packages. The `pkgadd' backend "
                "driver makes one SVR4 package of each component, which needs at least one "
                "package of files.\n";
  }
  EXPECT_EQ(err.text(), expected);

  // With several components the product code names the set's own package.
  reset_model();
  diag.errors = 0;
  opts.prdcode = "MY_PROD.X";
  add_file(add_package("a", "A"), "/f");
  add_file(add_package("b", "B"), "/f");
  add_cmpnt("a", {find_package(nullptr, "A")});
  CaptureFd one;
  be->verify();
  EXPECT_EQ(one.text(), "");
  add_cmpnt("b", {find_package(nullptr, "B")});
  CaptureFd two;
  be->verify();
  EXPECT_EQ(two.text(), "ERROR: the product code `MY_PROD.X' (from option -P) cannot be used as an "
                        "SVR4 package abbreviation, which must begin with a letter, hold only "
                        "letters, digits, `+' and `-', be at most 32 characters long and not be "
                        "`all', `install' or `new'.\n");
}

TEST_F(PkgaddTest, VerifyRefusesValuesThePkginfoSetAndDependFilesCannotCarry) {
  opts.description = "Set \"one\"";
  opts.version = "1\n0";
  pkgptr_t a = add_package("a", "A\"1");
  add_file(a, "/f");
  pkgptr_t b = add_package("b", "B");
  add_file(b, "/f");
  cmpntptr_t one = add_cmpnt("one", {a});
  one->version = "1\n0";  // as -V gives it to every component made without a statement
  one->extra = "cat\"x";
  one->flags |= cf::DEFINED;
  cmpntptr_t two = add_cmpnt("two", {b}, "Two \"parts\"");
  add_varlist("co re", "Core", two->dependency);
  add_varlist("old", "Old\nparts", two->replaces);
  add_varlist("fine", "Fine parts, \"quoted\"", two->dependency);
  CaptureFd err;
  be->verify();
  const std::string pkginfo = " cannot be written to a pkginfo file, because it contains ";
  EXPECT_EQ(err.text(),
            "\nERROR: the description `Set \"one\"' (from option -D)" + pkginfo + "a double quote.\n"
            "ERROR: the version `1\\n0' (from option -V)" + pkginfo + "a newline.\n"
            "ERROR: the component version `1\\n0' (from the component() statement of `one')" +
                pkginfo + "a newline.\n"
            "ERROR: the category `cat\"x' (from the component() statement of `one')" + pkginfo +
                "a double quote.\n"
            "ERROR: the package name `A\"1' (from the package directory `/a')" + pkginfo +
                "a double quote.\n"
            "ERROR: the component description `Two \"parts\"' (from option -D)" + pkginfo +
                "a double quote.\n"
            "ERROR: the dependency `co re' (from a dependency() statement of `two') cannot be "
            "written to a depend file, because it contains a blank.\n"
            "ERROR: the description `Old\\nparts' (from a replaces() statement of `two') cannot be "
            "written to a depend file, because it contains a newline.\n");
}

TEST_F(PkgaddTest, VerifyRefusesWhatThePrototypeCannotCarry) {
  pkgptr_t p = add_package("base", "BASE");
  add_dir(p, "/opt");
  add_dir(p, "/opt/my dir");
  add_file(p, "/opt/a=b");
  make_link(add_file(p, "/opt/link"), "/opt/x\ty");
  add_file(p, "/opt/x\ty");
  add_strlist("/usr/bin/e x", ef::PLAIN, add_file(p, "/opt/e")->exports);
  dfileptr_t own = add_file(p, "/opt/o");
  own->set_text(&entry_texts::owner, model_strdup("my user"));
  own->aflags |= af::UID | af::OWNER;
  dfileptr_t nogid = add_file(p, "/opt/g");
  nogid->gid = 4000222;
  nogid->aflags |= af::GID;
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
  const std::string in = "ERROR: in package `BASE', the ";
  const std::string cannot = "' cannot be written to a prototype file, because ";
  EXPECT_EQ(err.text(),
            "\n" + in + "directory `/opt/my dir" + cannot + "its path contains " + why + in +
                "file `/opt/a=b" + cannot + "its path contains " + why + in +
                "export `/usr/bin/e x' of the file `/opt/e" + cannot + "it contains " + why +
                "ERROR: in package `BASE': could not getgrgid(4000222) for file `./opt/g'.\n" + in +
                "symbolic link `/opt/link" + cannot + "its target `/opt/x\\ty' contains " + why +
                in + "owner or group `my user' of the file `/opt/o" + cannot + "it contains " +
                why + in + "file `/opt/x\\ty" + cannot + "its path contains " + why +
                "ERROR: the package name `BAD=PKG' cannot be used as an installation class, "
                "because it contains " + why +
                "ERROR: the directory `/bad pkg' of package `BAD=PKG" + cannot + "it contains " + why);
}

}  // namespace
}  // namespace pkgadd_test
