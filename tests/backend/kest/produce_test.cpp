// The toolkit's input files, compared whole: product definition,
// component files, package files, macro file and Makefile.
#include <gmock/gmock.h>

#include <unistd.h>

#include "common/fileio.hpp"

#include "kest_fixture.hpp"

namespace kesttest {
namespace {

using ::testing::HasSubstr;

class KestProduce : public KestTest {
 protected:
  /// The entry part of a package file: from the directory entries on.
  std::string entries(const std::string& name) {
    const std::string text = input(name);
    const auto at = text.find("#\n# Directory entries\n");
    return at == std::string::npos ? text : text.substr(at);
  }

  std::string package_header(const std::string& pkg, const std::string& cmpnt) {
    return "#\n# Package description file for package `" + pkg + "'\n# A subpackage of component `" +
           cmpnt + "' in product `PRD' version 1.0\n" + HEADER_TAIL;
  }

  static std::string defaults() {
    return "\nFILE_DEFAULT:\n\tperms = 0444\n\towner = bin\n\tgroup = bin\n\tflags =\n"
           "\nDIR_DEFAULT:\n\tperms = 0755\n\towner = bin\n\tgroup = bin\n\tflags = \n"
           "\nFIFO_DEFAULT:\n\towner = bin\n\tgroup = bin\n\n";
  }

  static std::string component_header(const std::string& c) {
    return "#\n# Component description file for component `" + c +
           "'\n# This is a component of product `PRD' version 1.0\n" + HEADER_TAIL;
  }

  void assemble_and_produce() {
    EXPECT_EQ(postproc_and_final(), "");
    EXPECT_EQ(produce(), "");
    EXPECT_EQ(diag.errors, 0);
  }
};

TEST_F(KestProduce, OneComponentAllFiles) {
  pkgptr_t p = package("tools", "TOOLS", "Tools");
  dir(p, "/opt");
  dir(p, "/opt/tools");
  dir(p, "/opt/tools/bin");
  dir(p, "/opt/tools/lib");
  dfileptr_t run = file(p, "/opt/tools/bin/run", 0755);
  run->phase = 1;
  add_strlist("/usr/local/$bin/run", ef::PLAIN, run->exports);
  link(p, "/opt/tools/bin/alias", "/opt/tools/bin/run");
  file(p, "/opt/tools/lib/a:b");
  dfileptr_t data = file(p, "/opt/tools/lib/data.tar.gz");
  data->aflags |= af::FLAGSTR;
  data->set_text(&entry_texts::flagstr, "keep");
  file(p, "/opt/tools/lib/other.zip");
  finish(p);
  component("prd", {p});
  add_varlist("BASE", "", model.requires_);
  add_strlist("# product verbatim", 0, model.verbatim);
  assemble_and_produce();

  EXPECT_EQ(input("PRD.prd"),
            std::string("#\n# KEST product definition for product `PRD', version 1.0\n") +
                HEADER_TAIL +
                "PROD:ACME:PRD:\n"
                "\tdescription\t= $PRD_DESC\n"
                "\tversion\t\t= $PRD_VER\n"
                "\tpackages\t= ACME:prd\n"
                "\trequired\t= ACME:BASE\n"
                "\tcmpntFiles\t= $PRD_DIR/input/prd.cmpnt\n"
                "\n"
                "# product verbatim\n");
  EXPECT_EQ(input("prd.cmpnt"), component_header("prd") +
                                    "COMP:ACME:prd:\n"
                                    "\tdescription = $CMPNT_PRD_DESC\n"
                                    "\tversion = $CMPNT_PRD_VER\n"
                                    "\tdependencies =\n"
                                    "\tdistTreeRootSERVER = $PRD_DIR/dist\n"
                                    "\tdistTreeRootCLIENT = $PRD_DIR/dist\n"
                                    "\tsubpackages = TOOLS\n"
                                    "\tpkgFiles = $PRD_DIR/input/prd-TOOLS.pkg\n" +
                                    defaults());
  EXPECT_EQ(input("prd-TOOLS.pkg"),
            package_header("TOOLS", "prd") +
                "#\n# Package definition for `TOOLS' begins here ...\n#\n\n"
                "PKG:TOOLS:\n"
                "\tdescription = $PKG_PRD_TOOLS_DESC\n"
                "\tdistTreeRootSERVER = $PRD_DIR/dist/tools\n"
                "\tdistTreeRootCLIENT = $PRD_DIR/dist/tools\n"
                "\n"
                "#\n# Directory entries\n#\n\n"
                "DIR:TOOLS:SERVER:./opt:\n"
                "\towner = root\n"
                "\tgroup = root\n"
                "DIR:TOOLS:SERVER:./opt/tools:\n"
                "DIR:TOOLS:SERVER:./opt/tools/bin:\n"
                "DIR:TOOLS:SERVER:./opt/tools/lib:\n"
                "\n"
                "#\n# File entries\n#\n\n"
                "FILE:TOOLS:SERVER:./opt/tools/bin/run:\n"
                "\tmode = 0755\n"
                "\texportPathRegPhase = /opt/tools/bin/run\n"
                "\texportPath = /usr/local/\\$bin/run\n"
                "\texportPathRegPhase = /opt/tools/bin/alias\n"
                "\n"
                "FILE:TOOLS:SERVER:./opt/tools/lib/a_b:\n"
                "\tincludeFile = $PRD_DIR/dist/tools/opt/tools/lib/a:b\n"
                "\texportPath = /opt/tools/lib/a:b\n"
                "\n"
                "FILE:TOOLS:SERVER:./opt/tools/lib/data.tar.gz:\n"
                "\texportPath = /opt/tools/lib/data.tar.gz\n"
                "\tflags = keep, noCompress\n"
                "\n"
                "FILE:TOOLS:SERVER:./opt/tools/lib/other.zip:\n"
                "\texportPath = /opt/tools/lib/other.zip\n"
                "\tflags = noCompress\n"
                "\n");
  EXPECT_EQ(testutil::read_file(tmp / "KEST.MACROS"),
            std::string("#\n# KEST macro definitions for product `PRD', version 1.0.\n") +
                HEADER_TAIL +
                "\n"
                "MACROS:\n"
                "  PRD_VER = \"1.0\"\n"
                "  PRD_DESC = \"Product\"\n"
                "  PRD_DIR = $KEST_DIR\n"
                "\n"
                "  CMPNT_PRD_VER = \"1.0\"\n"
                "  CMPNT_PRD_DESC = \"Component\"\n"
                "  PKG_PRD_TOOLS_DESC = \"Tools\"\n"
                "\n"
                "DEFAULT_EXEC_MODE = 0755\nDEFAULT_FILE_MODE = 0444\nDEFAULT_FILE_OWNER = bin\n"
                "DEFAULT_FILE_GROUP = bin\nDEFAULT_DIR_MODE = 0755\nDEFAULT_DIR_OWNER = bin\n"
                "DEFAULT_DIR_GROUP = bin\nDEFAULT_FIFO_MODE = 0755\nDEFAULT_FIFO_OWNER = bin\n"
                "DEFAULT_FIFO_GROUP = bin\n"
                "\n"
                "\n"
                "CONFIG:\n"
                "  removeFiles = FALSE\n"
                "  removalPrompt = FALSE\n"
                "  archiveMedia = TAPE\n"
                "  compress = TRUE\n"
                "\n"
                "TAPE_MEDIA:\n"
                "  distCode = ACME\n"
                "  distVendor = ACME\n"
                "  distVersion = 1.0\n");
  EXPECT_EQ(testutil::read_file(tmp / "Makefile"),
            std::string("#\n# Makefile for producing instor-installable images of the product\n"
                        "# `PRD', version 1.0.\n") +
                HEADER_TAIL +
                "\n"
                "PATH=/usr/bin:/bin:/usr/gnu/bin:/etc\n"
                "all: kest.config\n"
                "\tKEST_DIR=$${KEST_DIR:-`pwd`} kestParse || exit 1\n"
                "\tKEST_DIR=$${KEST_DIR:-`pwd`} kestCompress || exit 1\n"
                "\tKEST_DIR=$${KEST_DIR:-`pwd`} kestArchive || exit 1\n"
                "\trm -f archives/TAPE/*.files archives/TAPE/*.sum\n"
                "\n"
                "clean:\n"
                "\trm -fr archives sso\n"
                "\n"
                "kest.config:\n"
                "\tif [ -f KEST.MACROS -a ! -f kest.config ]; then \\\n"
                "\t\tmv -f KEST.MACROS kest.config; fi\n"
                "\n");
  // Nothing but the output files, and no temporary file left behind.
  std::vector<std::string> names;
  ASSERT_TRUE(read_dir_sorted(opts.pkgdir->c_str(), names));
  EXPECT_EQ(names, (std::vector<std::string>{"PRD.prd", "prd-TOOLS.pkg", "prd.cmpnt"}));
}

TEST_F(KestProduce, TwoComponentsShareTheControlPackage) {
  pkgptr_t control = package("cntl", "Control");
  file(control, "/postinstall", 0750);
  finish(control);
  pkgptr_t a = package("a", "A", "Package A");
  dir(a, "/srv");
  file(a, "/srv/fa");
  finish(a);
  pkgptr_t b = package("b", "B", "Package B");
  dir(b, "/srv");
  file(b, "/srv/fb");
  finish(b);
  component("c1", {a}, "First");
  cmpntptr_t c2 = component("c2", {b}, "Second");
  add_varlist("c1", "", c2->dependency);
  add_varlist("c0", "", c2->replaces);
  add_varlist("0.9", "", c2->upgrades);
  add_varlist("other", "", c2->requires_);
  add_strlist("\tcustom = yes", 0, c2->verbatim);
  assemble_and_produce();

  const std::string control_def =
      "#\n# Package definition for `Control' begins here ...\n#\n\n"
      "PKG:Control:\n"
      "\tdescription = $PKG_PRD_Control_DESC\n"
      "\tdistTreeRootSERVER = $PRD_DIR/dist\n"
      "\tdistTreeRootCLIENT = $PRD_DIR/dist\n"
      "\n"
      "#\n# Directory entries\n#\n\n"
      "DIR:Control:SERVER:./cntl:\n"
      "\n"
      "#\n# File entries\n#\n\n";
  EXPECT_EQ(input("c1-Control.pkg"), package_header("Control", "c1") + control_def +
                                         "FILE:Control:SERVER:./cntl/postinstall:\n"
                                         "\tmode = 0755\n"
                                         "\n");
  EXPECT_EQ(input("c2-Control.pkg"), package_header("Control", "c2") + control_def);
  EXPECT_EQ(input("c1.cmpnt"), component_header("c1") +
                                   "COMP:ACME:c1:\n"
                                   "\tdescription = $CMPNT_C1_DESC\n"
                                   "\tversion = $CMPNT_C1_VER\n"
                                   "\tdependencies =\n"
                                   "\tdistTreeRootSERVER = $PRD_DIR/dist\n"
                                   "\tdistTreeRootCLIENT = $PRD_DIR/dist\n"
                                   "\tsubpackages = Control\n"
                                   "\tpkgFiles = $PRD_DIR/input/c1-Control.pkg\n"
                                   "\tsubpackages = A\n"
                                   "\tpkgFiles = $PRD_DIR/input/c1-A.pkg\n" +
                                   defaults());
  EXPECT_EQ(input("c2.cmpnt"), component_header("c2") +
                                   "COMP:ACME:c2:\n"
                                   "\tdescription = $CMPNT_C2_DESC\n"
                                   "\tversion = $CMPNT_C2_VER\n"
                                   "\tupgradeMappings = c0\n"
                                   "\tupgradeVersions = 0.9\n"
                                   "\tdependencies = ACME:c1\n"
                                   "\trequired = other\n"
                                   "\tcustom = yes\n"
                                   "\tdistTreeRootSERVER = $PRD_DIR/dist\n"
                                   "\tdistTreeRootCLIENT = $PRD_DIR/dist\n"
                                   "\tsubpackages = Control\n"
                                   "\tpkgFiles = $PRD_DIR/input/c2-Control.pkg\n"
                                   "\tsubpackages = B\n"
                                   "\tpkgFiles = $PRD_DIR/input/c2-B.pkg\n" +
                                   defaults());
  EXPECT_EQ(input("c2-B.pkg"), package_header("B", "c2") +
                                   "#\n# Package definition for `B' begins here ...\n#\n\n"
                                   "PKG:B:\n"
                                   "\tdescription = $PKG_C2_B_DESC\n"
                                   "\tdistTreeRootSERVER = $PRD_DIR/dist/b\n"
                                   "\tdistTreeRootCLIENT = $PRD_DIR/dist/b\n"
                                   "\n"
                                   "#\n# Directory entries\n#\n\n"
                                   "DIR:B:SERVER:./srv:\n"
                                   "\n"
                                   "#\n# File entries\n#\n\n"
                                   "FILE:B:SERVER:./srv/fb:\n"
                                   "\texportPath = /srv/fb\n"
                                   "\n");
  const std::string macros = testutil::read_file(tmp / "KEST.MACROS");
  EXPECT_TRUE(contains(macros, "  CMPNT_C1_VER = \"1.0\"\n  CMPNT_C1_DESC = \"First\"\n"
                               "  CMPNT_C2_VER = \"1.0\"\n  CMPNT_C2_DESC = \"Second\"\n"
                               "  PKG_PRD_Control_DESC = \"Package Control Scripts\"\n"
                               "  PKG_C1_A_DESC = \"Package A\"\n"
                               "  PKG_C2_B_DESC = \"Package B\"\n\n"));
  EXPECT_TRUE(contains(input("PRD.prd"), "\tpackages\t= ACME:c1\n\tpackages\t= ACME:c2\n"
                                         "\tcmpntFiles\t= $PRD_DIR/input/c1.cmpnt\n"
                                         "\tcmpntFiles\t= $PRD_DIR/input/c2.cmpnt\n\n"));
}

TEST_F(KestProduce, SubpackagesPrecedeTheirParentAndControlScriptsComeFirst) {
  pkgptr_t base = package("base", "BASE", "Base");
  dir(base, "/cntl");
  file(base, "/cntl/preinstall", 0500);
  dir(base, "/srv");
  file(base, "/srv/b");
  finish(base);
  pkgptr_t sub = package("sub", "SUB", "Sub");
  dir(sub, "/srv");
  file(sub, "/srv/s");
  finish(sub);
  cmpntptr_t c = component("prd", {base});
  add_varlist("SUB", "", base->subpackages);
  base->flags |= pf::HAS_SUBPKGS;
  sub->flags |= pf::SUBPKG;
  sub->cmpnt = c;
  add_varlist("OLD", "", base->replaces);
  add_varlist("0.9", "", base->upgrades);
  add_varlist("SUB", "", base->dependency);
  add_varlist("OTHER", "", base->requires_);
  add_strlist("\tcustom = 1", 0, base->verbatim);
  opts.cmode = 1;
  assemble_and_produce();

  EXPECT_EQ(input("prd.cmpnt"), component_header("prd") +
                                    "COMP:ACME:prd:\n"
                                    "\tdescription = $CMPNT_PRD_DESC\n"
                                    "\tversion = $CMPNT_PRD_VER\n"
                                    "\tdependencies =\n"
                                    "\tdistTreeRootSERVER = $PRD_DIR/dist\n"
                                    "\tdistTreeRootCLIENT = $PRD_DIR/dist\n"
                                    "\tpkgFiles = $PRD_DIR/input/prd-SUB.pkg\n"
                                    "\tsubpackages = BASE\n"
                                    "\tsubpackages = Control\n"
                                    "\tpkgFiles = $PRD_DIR/input/prd-BASE.pkg\n" +
                                    defaults());
  EXPECT_EQ(input("prd-BASE.pkg"), package_header("BASE", "prd") +
                                       "#\n# Package control scripts\n#\n"
                                       "PKG:Control:\n"
                                       "\tdistTreeRootSERVER = $PRD_DIR/dist/base\n"
                                       "\tdistTreeRootCLIENT = $PRD_DIR/dist/base\n"
                                       "\n"
                                       "DIR:Control:SERVER:./cntl:\n"
                                       "\n"
                                       "FILE:Control:SERVER:./cntl/preinstall:\n"
                                       "\tmode = 0555\n"
                                       "\n"
                                       "\n"
                                       "#\n# Package definition for `BASE' begins here ...\n#\n\n"
                                       "PKG:BASE:\n"
                                       "\tdescription = $PKG_PRD_BASE_DESC\n"
                                       "\tupgradeMappings = OLD\n"
                                       "\tupgradeVersions = 0.9\n"
                                       "\tdependencies = SUB\n"
                                       "\trequired = OTHER\n"
                                       "\tcustom = 1\n"
                                       "\tsubpackages = SUB\n"
                                       "\tdistTreeRootSERVER = $PRD_DIR/dist/base\n"
                                       "\tdistTreeRootCLIENT = $PRD_DIR/dist/base\n"
                                       "\n"
                                       "#\n# Directory entries\n#\n\n"
                                       "DIR:BASE:SERVER:./srv:\n"
                                       "\n"
                                       "#\n# File entries\n#\n\n"
                                       "FILE:BASE:SERVER:./srv/b:\n"
                                       "\texportPath = /srv/b\n"
                                       "\n");
  EXPECT_TRUE(contains(input("prd-SUB.pkg"), "PKG:SUB:\n\tdescription = $PKG_PRD_SUB_DESC\n"));
  EXPECT_TRUE(contains(input("PRD.prd"),
                       "#\n# Invoked in multiple component mode, which means that each package\n"
                       "# is put into its own component. You must make sure that these\n"
                       "# component names do not clash with other presently or likely to be\n"
                       "# installed on the system.\n#\nPROD:ACME:PRD:\n"));
}

TEST_F(KestProduce, OwnerGroupAndModeLines) {
  pkgptr_t p = package("t", "T");
  dfileptr_t srv = dir(p, "/srv");
  dfileptr_t f = file(p, "/srv/f");
  dfileptr_t named = file(p, "/srv/named", 0444, [](dfileptr_t e) {
    e->aflags |= af::OWNER | af::UID | af::GROUP | af::GID;
    e->set_text(&entry_texts::owner, "nosuchuser");
    e->set_text(&entry_texts::group, "nosuchgroup");
    e->uid = e->gid = static_cast<std::uint32_t>(-123);
  });
  dfileptr_t odd = file(p, "/srv/odd", 0640, [](dfileptr_t e) { e->uid = 0; });
  dfileptr_t d = dir(p, "/srv/d");
  d->mode = 0700;
  finish(p);
  component("prd", {p});
  assemble_and_produce();
  const std::string plain = entries("prd-T.pkg");
  EXPECT_EQ(plain,
            "#\n# Directory entries\n#\n\n"
            "DIR:T:SERVER:./srv:\n"
            "DIR:T:SERVER:./srv/d:\n\tmode = 0700\n"
            "\n#\n# File entries\n#\n\n"
            "FILE:T:SERVER:./srv/f:\n\texportPath = /srv/f\n\n"
            "FILE:T:SERVER:./srv/named:\n\towner = nosuchuser\n\tgroup = nosuchgroup\n"
            "\texportPath = /srv/named\n\n"
            "FILE:T:SERVER:./srv/odd:\n\towner = root\n\tmode = 0640\n\texportPath = /srv/odd\n\n");

  // -e: every entry gets all three, the names given still win.
  for (dfileptr_t e : {srv, f, named, odd, d}) e->sflags &= ~(ksf::DIR_WRITTEN | ksf::FILE_WRITTEN);
  kest_settings.emode = 1;
  EXPECT_EQ(produce(), "");
  EXPECT_EQ(entries("prd-T.pkg"),
            "#\n# Directory entries\n#\n\n"
            "DIR:T:SERVER:./srv:\n\towner = bin\n\tgroup = bin\n\tmode = 0755\n"
            "DIR:T:SERVER:./srv/d:\n\towner = bin\n\tgroup = bin\n\tmode = 0700\n"
            "\n#\n# File entries\n#\n\n"
            "FILE:T:SERVER:./srv/f:\n\towner = bin\n\tgroup = bin\n\tmode = 0444\n"
            "\texportPath = /srv/f\n\n"
            "FILE:T:SERVER:./srv/named:\n\towner = nosuchuser\n\tgroup = nosuchgroup\n"
            "\tmode = 0444\n\texportPath = /srv/named\n\n"
            "FILE:T:SERVER:./srv/odd:\n\towner = root\n\tgroup = bin\n\tmode = 0640\n"
            "\texportPath = /srv/odd\n\n");
}

TEST_F(KestProduce, IdsWithoutNamesAreErrorsAndReplaceNothing) {
  constexpr std::uint32_t NOBODY_KNOWS = 3999999;
  testutil::write_file(*opts.pkgdir + "/prd-T.pkg", "earlier run\n");
  pkgptr_t p = package("t", "T");
  dir(p, "/srv", [](dfileptr_t d) { d->gid = NOBODY_KNOWS; });
  file(p, "/srv/f", 0444, [](dfileptr_t f) { f->uid = NOBODY_KNOWS; });
  finish(p);
  component("prd", {p});
  EXPECT_EQ(postproc_and_final(), "");
  const std::string err = produce();
  EXPECT_EQ(diag.errors, 2);
  EXPECT_TRUE(contains(err, "in package `T': could not getgrgid(3999999) for directory `./srv'.\n"));
  EXPECT_TRUE(contains(err, "in package `T': could not getpwuid(3999999) for file `./srv/f'.\n"));
  // A package file without its owner lines never replaces the earlier one.
  EXPECT_EQ(input("prd-T.pkg"), "earlier run\n");
  EXPECT_EQ(testutil::list_tree(tmp.path()), "input/ 0755\ninput/prd-T.pkg 0644\n");
}

TEST_F(KestProduce, DirectoriesHoldingTheOtherSectionAndExportedWhole) {
  kest_settings.emode = 1;
  pkgptr_t p = package("t", "T");
  dfileptr_t srv = dir(p, "/srv", [](dfileptr_t d) {
    d->aflags |= af::PHASE | af::FLAGSTR;
    d->phase = 1;
    d->set_text(&entry_texts::flagstr, "dirflag");
  });
  add_strlist("/alt/$srv", ef::PLAIN | ef::EARLY, srv->exports);
  add_strlist("/inherited/srv", ef::INHERITED, srv->exports);  // not a plain destination
  srv->aflags |= af::STATIC_HOLDS_VARIABLE;
  dfileptr_t data = dir(p, "/data");
  data->access = 2;
  data->aflags |= af::VARIABLE_HOLDS_STATIC;
  finish(p);
  component("prd", {p});
  assemble_and_produce();
  EXPECT_EQ(entries("prd-T.pkg"),
            "#\n# Directory entries\n#\n\n"
            "DIR:T:CLIENT:./data:\n\towner = bin\n\tgroup = bin\n\tmode = 0755\n"
            "DIR:T:SERVER:./data:\n\towner = bin\n\tgroup = bin\n\tmode = 0755\n"
            "DIR:T:SERVER:./srv:\n\towner = bin\n\tgroup = bin\n\tmode = 0755\n"
            "\texportPathRegPhase = /srv\n\texportPathRegPhase = /alt/\\$srv\n\tflags = dirflag\n"
            "DIR:T:CLIENT:./srv:\n\towner = bin\n\tgroup = bin\n\tmode = 0755\n"
            "\n");
}

TEST_F(KestProduce, HardLinksBecomeLinkEntriesToTheFirstInPathOrder) {
  kest_settings.kest_lmode = 1;
  pkgptr_t p = package("t", "T");
  dir(p, "/srv");
  dir(p, "/opt");
  dfileptr_t b = file(p, "/srv/b");
  dfileptr_t a = hardlink(p, "/srv/a", b);
  dfileptr_t c = hardlink(p, "/srv/c", b);
  dfileptr_t conv = hardlink(p, "/opt/z", b);
  conv->aflags |= af::CONVERTED | af::EXCLUDED;
  add_strlist("/other/c", ef::PLAIN, c->exports);
  c->aflags |= af::FLAGSTR;
  c->set_text(&entry_texts::flagstr, "cflag");
  c->phase = 1;
  (void)a;
  finish(p);
  component("prd", {p});
  assemble_and_produce();
  EXPECT_EQ(entries("prd-T.pkg"),
            "#\n# Directory entries\n#\n\nDIR:T:SERVER:./opt:\n\towner = root\n\tgroup = root\n"
            "DIR:T:SERVER:./srv:\n"
            "\n#\n# File entries\n#\n\n"
            "FILE:T:SERVER:./srv/a:\n\texportPath = /srv/a\n\n"
            "LINK:T:SERVER:./srv/b:\n\ttarget = ./srv/a\n\texportPath = /srv/b\n\n"
            "LINK:T:SERVER:./srv/c:\n\ttarget = ./srv/a\n\texportPathRegPhase = /srv/c\n"
            "\texportPath = /other/c\n\tflags = cflag\n\n");
}

TEST_F(KestProduce, HardenedAndKeptLinks) {
  kest_settings.Hmode = 1;
  pkgptr_t p = package("t", "T");
  dir(p, "/srv");
  file(p, "/srv/a:x");
  link(p, "/srv/l:y", "/srv/a:x");
  finish(p);
  pkgptr_t q = package("q", "Q");
  dir(q, "/srv");
  dir(q, "/srv/lib");
  dfileptr_t libs = dir(q, "/srv/lib64", [](dfileptr_t d) { make_link(d, "/srv/lib"); });
  libs->aflags |= kaf::RETAINED;
  add_strlist("/lib64", ef::PLAIN, libs->exports);
  dfileptr_t x = file(q, "/srv/x");
  dfileptr_t lx = link(q, "/srv/lx", "/srv/x");
  x->access = 1;
  lx->access = 2;
  kest_settings.hmode = 1;
  finish(q);
  component("prd", {p, q});
  EXPECT_TRUE(contains(postproc_and_final(), "\t/srv/lx -> /srv/x\n"));
  EXPECT_EQ(produce(), "");
  EXPECT_EQ(entries("prd-T.pkg"),
            "#\n# Directory entries\n#\n\nDIR:T:SERVER:./srv:\n"
            "\n#\n# File entries\n#\n\n"
            "FILE:T:SERVER:./srv/a_x:\n\tincludeFile = $PRD_DIR/dist/t/srv/a:x\n"
            "\texportPath = /srv/a:x\n\n"
            "LINK:T:SERVER:./srv/l_y:\n\ttarget = ./srv/a_x\n\texportPath = /srv/l:y\n\n");
  EXPECT_EQ(entries("prd-Q.pkg"),
            "#\n# Directory entries\n#\n\nDIR:Q:SERVER:./srv:\nDIR:Q:SERVER:./srv/lib:\n"
            "SYML:Q:SERVER:./srv/lib64:\n\ttarget = ./srv/lib\n\texportPath = /lib64\n\n"
            "\n#\n# File entries\n#\n\n"
            "SYML:Q:CLIENT:./srv/lx:\n\ttarget = ./srv/x\n\ttargetSection = SHARED\n"
            "\texportPath = /srv/lx\n\n"
            "FILE:Q:SERVER:./srv/x:\n\texportPath = /srv/x\n\n");
}

TEST_F(KestProduce, AFileThatCannotBeWrittenEndsTheRun) {
  pkgptr_t p = package("t", "T");
  dir(p, "/srv");
  file(p, "/srv/f");
  finish(p);
  component("prd", {p});
  EXPECT_EQ(postproc_and_final(), "");
  rmdir(opts.pkgdir->c_str());
  testutil::CaptureFd err;
  try {
    kest->produce();
    ADD_FAILURE() << "produce went on";
  } catch (const run_exit& e) {
    EXPECT_EQ(e.status, 1);
  }
  const std::string text = err.text();
  EXPECT_TRUE(contains(text, "\nmkstemp: No such file or directory\n"));
  EXPECT_TRUE(contains(text, "FATAL: failed to write to `" + *opts.pkgdir + "/PRD.prd'.\n"));
  EXPECT_FALSE(testutil::exists(tmp / "KEST.MACROS"));
}

using KestProduceSlow = KestProduce;  // seconds: runs apart from the unit tests

// A chain of subpackages as long as a product may make: each package file
// still comes before its parent's, and the walk needs no deeper stack.
TEST_F(KestProduceSlow, AVeryLongSubpackageChainIsWrittenDeepestFirst) {
  constexpr int CHAIN = 40000;
  std::vector<pkgptr_t> chain;
  for (int i = 0; i < CHAIN; ++i) {
    pkgptr_t p = new_package("/p" + std::to_string(i), "", "P" + std::to_string(i), "", 0);
    if (i > 0) add_varlist(p->name, "", chain.back()->subpackages);
    chain.push_back(p);
  }
  component("prd", {chain.front()});
  std::string err;
  testutil::on_small_stack([&] { err = produce(); });
  EXPECT_EQ(err, "");
  EXPECT_EQ(diag.errors, 0);
  const std::string cmpnt = input("prd.cmpnt");
  const std::string deepest = "\tpkgFiles = $PRD_DIR/input/prd-P" + std::to_string(CHAIN - 1) + ".pkg\n";
  EXPECT_THAT(cmpnt, HasSubstr(component_header("prd")));
  EXPECT_LT(cmpnt.find(deepest), cmpnt.find("\tpkgFiles = $PRD_DIR/input/prd-P1.pkg\n"));
  EXPECT_THAT(cmpnt, HasSubstr("\tpkgFiles = $PRD_DIR/input/prd-P1.pkg\n"
                               "\tsubpackages = P0\n\tpkgFiles = $PRD_DIR/input/prd-P0.pkg\n"));
  EXPECT_TRUE(contains(input("prd-P0.pkg"), "PKG:P0:\n\tdescription = $PKG_PRD_P0_DESC\n"
                                            "\tsubpackages = P1\n"));
}

}  // namespace
}  // namespace kesttest
