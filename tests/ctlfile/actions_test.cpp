// What statements record in the settings and the model: packages,
// components, entries with their attributes, patterns, lists, and the
// errors that stop or abort the parse.
#include "backend/pkgadd/pkgadd.hpp"
#include "ctl_fixture.hpp"
#include "support/testutil.hpp"

namespace {

using ActionsTest = CtlTest;

dfileptr_t file_named(const char* path) {
  for (dfileptr_t f : model.files)
    if (f->path.sv() == path) return f;
  return nullptr;
}

std::string list_text(const strlist& l) {
  std::string s;
  for (const strnode& n : l) s += n.str + ":" + std::to_string(n.flags) + " ";
  return s;
}

std::string list_text(const varlist& l) {
  std::string s;
  for (const varnode& n : l) s += n.name + "=" + n.value + " ";
  return s;
}

TEST_F(ActionsTest, PackagesComponentsAndTheirLists) {
  opts.autostrip = 0;
  ParseResult r = parse(R"(
requires("top", "1")
verbatim("top line")
prepare("p") { remove("/gone") }
package("/base", "Base files", "base", "x") {
  requires("libc") dependency("dep", "2") upgrades("old") replaces("older")
  subpackage("sub") verbatim("pkg line") remove("/tmp") target("t", yes)
  removeany("*.o") { except("keep.o") except("k*.o", pathmatch) }
  removeany("*.a", pathmatch)
  export(early) access(client)
}
component("cmp", "1.0", "Component", "extra") {
  requires("c1") subpackage("base") verbatim("cmp line")
}
)");
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(model.packages.size(), 1u);
  pkgptr_t p = model.packages[0];
  EXPECT_EQ(p->name, "base");
  EXPECT_EQ(p->desc, "Base files");
  EXPECT_EQ(p->extra, "x");
  EXPECT_EQ(p->dir.sv(), "/d/base");
  EXPECT_EQ(p->reldir.sv(), "/base");
  EXPECT_EQ(p->flags, pf::DEFINED);
  EXPECT_EQ(list_text(p->requires_), "libc= ");
  EXPECT_EQ(list_text(p->dependency), "dep=2 ");
  EXPECT_EQ(list_text(p->upgrades), "old= ");
  EXPECT_EQ(list_text(p->replaces), "older= ");
  EXPECT_EQ(list_text(p->subpackages), "sub= ");
  EXPECT_EQ(list_text(p->verbatim), "pkg line:0 ");
  EXPECT_EQ(list_text(p->removes), "/tmp:0 ");
  EXPECT_EQ(list_text(p->targets), "t:1 ");
  ASSERT_NE(p->removeany.head(), nullptr);
  EXPECT_EQ(p->removeany.head()->str, "*.o");
  EXPECT_EQ(p->removeany.head()->flags, 0u);
  EXPECT_EQ(list_text(p->removeany.head()->sub), "keep.o:0 k*.o:1 ");
  EXPECT_EQ(p->removeany.tail()->str, "*.a");
  EXPECT_EQ(p->removeany.tail()->flags, 1u);
  EXPECT_TRUE(p->removeany.tail()->sub.empty());
  EXPECT_EQ(p->defphase, 1);
  EXPECT_EQ(p->defaccess, 2);

  ASSERT_EQ(model.cmpnts.size(), 1u);
  cmpntptr_t c = model.cmpnts[0];
  EXPECT_EQ(c->name, "cmp");
  EXPECT_EQ(c->version, "1.0");
  EXPECT_EQ(c->extra, "extra");
  EXPECT_EQ(list_text(c->requires_), "c1= ");
  EXPECT_EQ(list_text(c->subpackages), "base= ");
  EXPECT_EQ(list_text(c->verbatim), "cmp line:0 ");

  EXPECT_EQ(list_text(model.requires_), "top=1 ");
  EXPECT_EQ(list_text(model.verbatim), "top line:0 ");
  EXPECT_EQ(list_text(model.removes), "/gone:0 ");
}

TEST_F(ActionsTest, EntriesAndTheirAttributes) {
  ParseResult r = parse(R"(
package("/base", "Base", "base") {
  file("/usr/bin/x") {
    owner("nosuchuser_ctl") group("root") mode(4755) access(server) export(early)
    exportlinks() exportok() linkok() flags("a") flags("b")
    addexport("/opt/x", early) convert("/usr/bin/y", normal) convert("/usr/bin/z", early)
  }
  file("/usr/bin/x") { owner("root") }
  create file("/etc/new.conf") { includes("line one") ssoprivate() }
  create directory("/var/spool") { exportall("/spool", early, no) { except("*.tmp") } mode(1777) }
  directory("/usr/lib") { exportall("/lib", normal) }
  create symlink(file, "/usr/bin/l", "x") { export(none) }
  symlink(directory, "/usr/share", "ignored") { }
}
)");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err,
            "\nWARNING: t.ctl line 4: unusual owner `nosuchuser_ctl' for file `/usr/bin/x'.\n"
            "WARNING: t.ctl line 5: flags already set to `a' - overwriting with `b'.\n"
            "WARNING: t.ctl line 6: the file `/usr/bin/x' already has a conversion symlink name "
            "associated with it. Only a single convert() function can be used per file, and the "
            "target `/usr/bin/z' will be ignored.\n");
  ASSERT_EQ(model.files.size(), 3u);  // two blocks for /usr/bin/x describe one entry
  dfileptr_t x = file_named("/usr/bin/x");
  ASSERT_NE(x, nullptr);
  EXPECT_EQ(x->abs.sv(), "/d/base/usr/bin/x");
  EXPECT_EQ(x->uid, 0u);  // the second block's owner("root")
  EXPECT_STREQ(x->owner(), "nosuchuser_ctl");
  EXPECT_EQ(x->gid, 0u);
  EXPECT_EQ(x->mode, 04755u);
  EXPECT_EQ(x->access, 1);
  EXPECT_EQ(x->phase, 1);
  EXPECT_STREQ(x->flagstr(), "b");
  EXPECT_EQ(x->aflags, af::UID | af::GID | af::MODE | af::ACCESS | af::PHASE | af::OWNER |
                           af::EXPORTLINKS | af::EXPORTOK | af::LINKOK | af::FLAGSTR | af::CONVERT);
  EXPECT_EQ(x->sflags, sf::DECLARED);
  EXPECT_EQ(list_text(x->exports), "/opt/x:4 /usr/bin/y:16 ");

  dfileptr_t conf = file_named("/etc/new.conf");
  ASSERT_NE(conf, nullptr);
  EXPECT_STREQ(conf->includes(), "line one");
  EXPECT_EQ(conf->phase, 3);
  EXPECT_EQ(conf->aflags, af::CREATED | af::PHASE | af::PRIVATE);

  dfileptr_t link = file_named("/usr/bin/l");
  ASSERT_NE(link, nullptr);
  EXPECT_EQ(link->aflags,
            af::CTL_SYMLINK | af::CREATED | af::SYMLINK | af::PHASE | af::PRIVATE);
  EXPECT_EQ(link->target.sv(), "/d/base/usr/bin/x");
  EXPECT_EQ(link->sflags, 0u);

  ASSERT_EQ(model.dirs.size(), 3u);
  EXPECT_EQ(model.dirs[0]->path.sv(), "/var/spool");
  EXPECT_EQ(model.dirs[0]->aflags, af::CREATED | af::MODE);
  EXPECT_EQ(model.dirs[0]->mode, 01777u);
  EXPECT_EQ(list_text(model.dirs[0]->exports), "/spool:5 ");
  EXPECT_EQ(list_text(model.dirs[0]->except), "*.tmp:0 ");
  EXPECT_EQ(list_text(model.dirs[1]->exports), "/lib:2 ");
  EXPECT_EQ(model.dirs[2]->path.sv(), "/usr/share");
  EXPECT_EQ(model.dirs[2]->aflags, af::CTL_SYMLINK);
  EXPECT_TRUE(model.dirs[2]->target.empty());
}

TEST_F(ActionsTest, AttributePatterns) {
  ParseResult r = parse(R"(
allfiles("*.conf", pathmatch) { mode(644) addexport("/etc/%s", normal) except("a.conf") }
alldirs("*/etc") {
  except("/x/etc")
  exportall("/e", early) { except("/y/etc") }
  except("/z/etc")
}
package("/p", "P", "p") { allfiles("*") { access(client) } }
)");
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(model.allfiles.size(), 1u);
  const attrent& f = model.allfiles[0];
  EXPECT_EQ(f.path.sv(), "*.conf");
  EXPECT_EQ(f.type, 0);
  EXPECT_EQ(f.aflags, af::TOP_PATTERN | af::PATHMATCH | af::MODE);
  EXPECT_EQ(list_text(f.exports), "/etc/%s:8 ");
  EXPECT_EQ(list_text(f.except), "a.conf:0 ");
  ASSERT_EQ(model.alldirs.size(), 1u);
  EXPECT_EQ(list_text(model.alldirs[0].exports), "/e:14 ");
  // An except after the exportall body still belongs to the pattern.
  EXPECT_EQ(list_text(model.alldirs[0].except), "/x/etc:0 /y/etc:0 /z/etc:0 ");
  ASSERT_EQ(model.packages[0]->allfiles.size(), 1u);
  EXPECT_EQ(model.packages[0]->allfiles[0].aflags, af::PKG_PATTERN | af::ACCESS);
  EXPECT_EQ(model.packages[0]->allfiles[0].access, 2);
}

TEST_F(ActionsTest, AbortingStatementsFailTheParse) {
  struct Case {
    const char* text;
    std::string err;
  } cases[] = {
      {"component(\"\", \"1\", \"d\") { }", perr(1, "component name empty.\n") + failed()},
      {"package(\"/p\",\"P\",\"p\") { file(\"/f\") { includes(\"x\") } }",
       "\nERROR: t.ctl line 1: includes() function only valid for new files.\n"
       "ERROR: failed to parse `t.ctl'\n"},
      {"allfiles(\"*\") { includes(\"x\") }",
       "\nERROR: t.ctl line 1: includes() function only valid for new files.\n"
       "ERROR: failed to parse `t.ctl'\n"},
      // The message has no line end of its own.
      {"package(\"/p\",\"P\",\"p\") { create symlink(file, \"/l\") { } }",
       "\nERROR: t.ctl line 1: when creating a new symbolic link you must always specify a third "
       "argument, which is the target of the link. The string can not be an empty string either. "
       "For this link, you either forgot to specify the target, or it is the empty string."
       "ERROR: failed to parse `t.ctl'\n"},
      {"package(\"/p\",\"P\",\"p\") { create symlink(directory, \"/l\", \"\") { } }",
       "\nERROR: t.ctl line 1: when creating a new symbolic link you must always specify a third "
       "argument, which is the target of the link. The string can not be an empty string either. "
       "For this link, you either forgot to specify the target, or it is the empty string."
       "ERROR: failed to parse `t.ctl'\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    fresh();
    ParseResult r = parse(c.text);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.err);
  }
}

TEST_F(ActionsTest, ContainerPackages) {
  ParseResult r = parse("package(\"\", \"Meta\", \"meta\") { }\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "\nERROR: t.ctl line 1: container package `meta' contains no sub-packages or "
                   "verbatim text. This would create a NULL package.\n");
  fresh();
  r = parse("package(\"\", \"Meta\", \"meta\") {\n verbatim(\"x\")\n}\n");
  EXPECT_EQ(r.err, "\nWARNING: t.ctl line 3: container package `meta' contains no sub-packages, "
                   "but it does contain verbatim text, so I will assume that you know what you are "
                   "doing and will reference this package in other verbatim text in a component.\n");
  fresh();
  r = parse("package(\"\", \"Meta\", \"meta\") { subpackage(\"a\") }\n");
  EXPECT_EQ(r.err, "");
  fresh();
  opts.fmode = 1;
  r = parse("package(\"\", \"Meta\", \"meta\") { }\n");
  EXPECT_EQ(r.err, "");
}

TEST_F(ActionsTest, SettingsActInBothPasses) {
  ParseResult r = parse_both(
      "set(\"pkgadd-part-limit\", 100)\n"
      "set(\"product-code\", \"PRD\")\n"
      "set(\"no-such-option\", \"1\");\n"
      "backend(\"kest\")\n"
      "backend(\"nope\")\n"
      "warning(\"twice\");\n"
      "want(2, 1, 0)\n"
      "want(\"xml\", 1)\n"
      "package(\"/p\", \"P\", \"p\") { }\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(pkgadd_settings.pkgadd_limit, 64);  // 100 is octal
  EXPECT_EQ(opts.prdcode, "PRD");
  ASSERT_NE(registry.backptr, nullptr);
  EXPECT_STREQ(registry.backptr->name, "kest");
  EXPECT_EQ(macro("CORVANE_BACKEND"), "kest");
  const std::string once =
      "ERROR: t.ctl line 3: invalid option `no-such-option'.\n"
      "ERROR: t.ctl line 5: unknown backend driver `nope'.\n"
      "\nWARNING: t.ctl line 6: twice\n";
  EXPECT_EQ(r.err, "\n" + once + "\n" + once);
  EXPECT_EQ(model.packages.size(), 1u);  // made in the second pass only
}

// set() finds a row by its long name in the program's own table, then in
// every backend's; a row the control file cannot set is no option to it.
TEST_F(ActionsTest, SetFindsRowsByLongName) {
  opts.fmode = 1;
  ParseResult r = parse(
      "set(\"flat-mode\", \"0\")\n"
      "set(\"product-code\", \"NEW\")\n"
      "set(\"all-early\", \"017\")\n"
      "set(\"dont-harden-symlinks\", \"x\")\n"
      "set(\"backend\", \"xml\")\n"
      "set(\"control-file\", \"other.ctl\")\n"
      "set(\"no-such-option\", \"1\")\n"
      "set(\"flat-mode\", \"yes\")\n",
      1);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(opts.fmode, 0);
  EXPECT_EQ(*opts.prdcode, "NEW");
  EXPECT_EQ(opts.rmode, 15);
  EXPECT_EQ(diag.errors, 5);
  // A backend's option is found with no backend selected.
  EXPECT_EQ(r.err,
            "\nERROR: t.ctl line 4: invalid value `x' for option `dont-harden-symlinks'.\n"
            "ERROR: t.ctl line 5: invalid option `backend'.\n"
            "ERROR: t.ctl line 6: invalid option `control-file'.\n"
            "ERROR: t.ctl line 7: invalid option `no-such-option'.\n"
            "ERROR: t.ctl line 8: invalid value `yes' for option `flat-mode'.\n");
}

// A directory a prep statement names is shown whole: the layout never
// cuts it at its dots.
TEST_F(ActionsTest, FailedPrepStatementsShowTheirDirectoryWhole) {
  testutil::TempDir base;
  testutil::make_dirs(base / "dist/f.d");
  testutil::write_file(base / "dist/f.info", "not a directory\n");
  opts.distdir = base / "dist";
  ParseResult r = parse("prepare(\"p\") {\n  format_mansource(\"../..\")\n"
                        "  compress_texinfo(\"f.d/../f.info\")\n}\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "\nERROR: t.ctl line 2: format_mansource(../..) failed with -2.\n"
                   "ERROR: t.ctl line 3: compress_texinfo(f.d/../f.info) failed with -1.\n");
}

TEST_F(ActionsTest, FirstPassAndFalseConditionsCreateNothing) {
  const char* text = R"(
vendor("V")
package("/p", "P", "p") { file("/f") { mode(1) } }
component("c", "1", "C") { }
allfiles("*") { mode(1) }
print("printed")
)";
  ParseResult r = parse(text, 1);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(model.packages.empty() && model.cmpnts.empty() && model.files.empty());
  EXPECT_TRUE(model.allfiles.empty());
  EXPECT_FALSE(opts.vendor);

  r = parse(std::string("ifdef(\"NOPE\")\n") + text + "endif\n", 0);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(model.packages.empty() && model.cmpnts.empty() && model.files.empty());
}

TEST_F(ActionsTest, StatementsOfASkippedBlockAreReported) {
  ParseResult r = parse(
      "ifdef(\"NOPE\")\n"
      "package(\"/p\", \"P\", \"p\") {\n"
      "endif\n"
      "  requires(\"r\")\n"
      "  file(\"/f\") { mode(1) }\n"
      "}\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(model.packages.empty() && model.files.empty());
  const std::string msg = ": statement ignored: the block it stands in was skipped by a conditional.\n";
  // requires(), file() and mode(), each at its own line.
  EXPECT_EQ(r.err, "\nERROR: t.ctl line 4" + msg + "ERROR: t.ctl line 5" + msg +
                       "ERROR: t.ctl line 5" + msg);
}

TEST_F(ActionsTest, FatalStatementsEndTheRun) {
  struct Case {
    const char* text;
    std::string err;
  } cases[] = {
      {"want(9)", "\nERROR: t.ctl line 1: control script wants Corvane version 9.x.x - only have 2.1.0.\n"},
      {"want(2, 1, 10)",
       "\nERROR: t.ctl line 1: control script wants Corvane version 2.1.8 - only have 2.1.0.\n"},
      {"want(\"xml\", 1, 1)",
       "\nERROR: t.ctl line 1: control script wants Corvane `xml' driver version 1.1.x - only "
       "have 1.0.0.\n"},
      {"want(777777)",  // too large for an int version number; found by the fuzzer
       "\nERROR: t.ctl line 1: control script wants Corvane version 262143.x.x - only have 2.1.0.\n"},
      {"want(\"nope\", 1)", "\nERROR: t.ctl line 1: invalid backend `nope'.\n"},
      {"print(\"a\")\nerror(\"stop here\")\nprint(\"b\")", "\nERROR: t.ctl line 2: stop here\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    fresh();
    ParseResult r = parse(c.text, 1);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.err);
  }
  fresh();
  EXPECT_EQ(parse("want(2, 1, 0) want(2, 0, 19)", 1).status, 0);
}

}  // namespace
