// Product assembly on scanned trees: declarations without entries, junk
// files, leading directories, disposition and ownership, exports spread by
// directories, components and subpackages, and files in several packages.
#include <sys/stat.h>

#include <algorithm>

#include "scan_fixture.hpp"

namespace scantest {
namespace {

using testutil::make_dirs;
using testutil::write_file;

class AssemblyTest : public ScanTest {
 protected:
  /// Scans each named package directory, then builds the global indexes
  /// as the driver does.
  void scan_all(std::initializer_list<const char*> names) {
    for (const char* n : names) scan(n);
    ASSERT_EQ(diag.errors, 0);
    drop_declared_snapshot();
    resize_and_sort_lists();
    replies.log.clear();
  }
  std::string assembled;
  int run() { return assemble(assembled); }
};

TEST_F(AssemblyTest, DeclarationsTheScanNeverMetAreLeftOut) {
  write_file(dist("p/usr/bin/ls"), "x", 0755);
  make_dirs(dist("p/usr/lib"));
  pkgptr_t pkg = new_package("/p", "d", "P", "", 1);
  auto declare = [&](const char* path, bool dir) {
    std::string full = std::string(pkg->dir.sv()) + path;
    dfileptr_t e = dir ? add_new_directory(full, pkg, 0) : add_new_file(full, pkg, 0);
    e->sflags |= sf::DECLARED;
    return e;
  };
  dfileptr_t old = declare("/usr/bin/old", false);
  dfileptr_t made = declare("/usr/bin/new", false);
  made->aflags |= af::CREATED;
  add_strlist("/opt/new", 0, made->exports);
  dfileptr_t gone = declare("/usr/gone", true);
  dfileptr_t lib = declare("/usr/lib", true);
  take_declared_snapshot();
  scan_all({"p"});

  EXPECT_EQ(run(), -1) << assembled;
  EXPECT_EQ(squash(assembled),
            squash("\nWARNING:in package `P', the control file declared attributes for the directory "
                   "`/usr/gone', but that directory was not found during scanning.\n\n"
                   "WARNING:in package `P', the control file declared attributes for the file "
                   "`/usr/bin/old', but that file was not found during scanning.\n\n"
                   "WARNING:in package `P', the control file declared attributes for the file "
                   "`/usr/bin/new', but that file was not found during scanning.\n\n"));
  for (dfileptr_t e : {old, made, gone}) {
    EXPECT_TRUE(e->excluded()) << e->path.str;
    EXPECT_EQ(e->parent, nullptr);
  }
  EXPECT_FALSE(lib->excluded());
  EXPECT_EQ(entry("/p/opt"), nullptr);  // an excluded entry leads to no directories
}

TEST_F(AssemblyTest, JunkFilesWarnAndStay) {
  // A core dump is "core" or "core." and digits only: core.5.gz is a
  // manual page.
  for (const char* f : {"core", "core.123", ".x.swp", "x.bak", "x~", "core.txt", "x.swp", "core.",
                        "core.5.gz", "core.12a", "core.1.", "cores"})
    write_file(dist("j/d/") + f, "x");
  scan_all({"j"});
  EXPECT_EQ(run(), -1);
  EXPECT_EQ(squash(assembled), squash("\nWARNING:ViM swap file `/d/.x.swp' in package `J'.\n"
                                      "WARNING:core file `/d/core' in package `J'.\n"
                                      "WARNING:core file `/d/core.123' in package `J'.\n"
                                      "WARNING:backup file `/d/x.bak' in package `J'.\n"
                                      "WARNING:backup file `/d/x~' in package `J'.\n"));
  for (dfileptr_t f : model.files) EXPECT_FALSE(f->excluded());
}

TEST_F(AssemblyTest, ExportsGetTheirLeadingDirectories) {
  write_file(dist("p/opt/x"), "x");
  scan_all({"p"});
  pkgptr_t pkg = model.packages[0];
  dfileptr_t x = entry("/p/opt/x");
  add_strlist("/usr/share/a/b", 0, x->exports);
  add_strlist("/usr//share/c", 0, x->exports);
  add_strlist("relative/y", 0, x->exports);
  add_strlist("/opt/z", 0, entry("/p/opt")->exports);

  EXPECT_EQ(run(), -1) << assembled;

  EXPECT_EQ(paths(pkg->dirs), (std::vector<std::string>{"", "/opt", "/usr", "/usr/share", "/usr/share/a"}));
  dfileptr_t root = pkg->dirs[0], usr = pkg->dirs[2], share = pkg->dirs[3], a = pkg->dirs[4];
  EXPECT_EQ(usr->parent, root);
  EXPECT_EQ(share->parent, usr);
  EXPECT_EQ(a->parent, share);
  EXPECT_EQ(paths(root->subdirs()), (std::vector<std::string>{"/opt", "/usr"}));
  EXPECT_EQ(paths(usr->subdirs()), (std::vector<std::string>{"/usr/share"}));
  EXPECT_EQ(a->mode, 0755u);
  EXPECT_EQ(a->uid, 2u);
  EXPECT_EQ(a->gid, 2u);
  EXPECT_EQ(pkg->dirs_path.size(), 5u);
  EXPECT_EQ(find_path_in_dlist("/usr/share/a", pkg->dirs_path), a);

  std::string buf;
  EXPECT_EQ(do_leading_com(pkg, x, buf), 0);  // all there now
  EXPECT_EQ(pkg->dirs.size(), 5u);
}

// Backends sort a package's arrays when its scan ends; the directories
// that are there must still be found, not made a second time.
TEST_F(AssemblyTest, LeadingDirectoriesAfterTheBackendReorderedThePackage) {
  write_file(dist("p/usr/bin/x"), "x");
  write_file(dist("p/usr/lib/y"), "y");
  pkgptr_t pkg = new_package("/p", "d", "P", "", 1);
  dfileptr_t y = add_new_file(std::string(pkg->dir.sv()) + "/usr/lib/y", pkg, 1);
  y->sflags |= sf::DECLARED;
  for (const char* d : {"/usr/lib", "/usr/bin", "/usr"})
    add_new_directory(std::string(pkg->dir.sv()) + d, pkg, 1)->sflags |= sf::DECLARED;
  add_new_file(std::string(pkg->dir.sv()) + "/usr/bin/x", pkg, 1);
  take_declared_snapshot();
  scan_all({"p"});
  std::reverse(pkg->dirs.begin(), pkg->dirs.end());
  std::reverse(pkg->files.begin(), pkg->files.end());
  add_strlist("/usr/lib/z", 0, entry("/p/usr/bin/x")->exports);
  add_strlist("/usr/bin/w", 0, y->exports);
  maybe_add_leading_paths();
  EXPECT_EQ(pkg->dirs.size(), 4u);
  EXPECT_EQ(model.dirs.size(), 4u);
}

TEST_F(AssemblyTest, DispositionOwnerGroupAndMode) {
  write_file(dist("p/usr/bin/ls"), "x", 0750);
  write_file(dist("p/etc/foo.conf"), "x", 0600);
  write_file(dist("p/usr/lib/libc.so.1"), "x", 0777);
  write_file(dist("p/data/plain"), "x", 0640);
  write_file(dist("p/data/exec"), "x", 0750);
  write_file(dist("p/mix/a.conf"), "x", 0644);
  write_file(dist("p/mix/b"), "x", 0644);
  chmod(dist("p/data").c_str(), 02775);
  chmod(dist("p/mix").c_str(), 0700);
  scan_all({"p"});
  dfileptr_t given = entry("/p/data/plain");
  given->uid = 77;
  given->aflags |= af::UID;

  EXPECT_EQ(run(), -1) << assembled;

  struct want {
    const char* path;
    std::uint32_t mode;
    int access, phase;
    std::uint32_t uid;
  };
  for (const want& w : {want{"/p/usr/bin/ls", 0755, 1, 2, 2}, want{"/p/etc/foo.conf", 0644, 2, 2, 2},
                        want{"/p/usr/lib/libc.so.1", 0555, 1, 1, 2}, want{"/p/data/plain", 0444, 1, 2, 77},
                        want{"/p/data/exec", 0755, 1, 2, 2}, want{"/p/data", 02775, 1, 2, 2},
                        want{"/p/etc", 0755, 2, 2, 2}, want{"/p/mix", 0755, 1, 2, 2},
                        want{"/p/mix/a.conf", 0644, 2, 2, 2}}) {
    dfileptr_t e = entry(w.path);
    ASSERT_NE(e, nullptr) << w.path;
    EXPECT_EQ(e->mode, w.mode) << w.path;
    EXPECT_EQ(e->access, w.access) << w.path;
    EXPECT_EQ(e->phase, w.phase) << w.path;
    EXPECT_EQ(e->uid, w.uid) << w.path;
    EXPECT_EQ(e->gid, 2u) << w.path;
  }
  EXPECT_EQ(entry("/p/mix")->aflags & (af::STATIC_HOLDS_VARIABLE | af::VARIABLE_HOLDS_STATIC),
            af::STATIC_HOLDS_VARIABLE);
  EXPECT_EQ(entry("/p/etc")->sflags & (sf::DIR_HAS_STATIC | sf::DIR_HAS_VARIABLE), sf::DIR_HAS_VARIABLE);
}

TEST_F(AssemblyTest, DirectoryExportsReachEntriesBelow) {
  for (const char* f : {"usr/lib/a/b/f", "usr/lib/g", "usr/lib/skip.so", "r/s/f"})
    write_file(dist("p/") + f, "x");
  pkgptr_t pkg = new_package("/p", "d", "P", "", 1);
  // Declared before the scan made its parent.
  dfileptr_t s = add_new_directory(std::string(pkg->dir.sv()) + "/r/s", pkg, 0);
  s->sflags |= sf::DECLARED;
  take_declared_snapshot();
  scan_all({"p"});
  dfileptr_t lib = entry("/p/usr/lib");
  add_strlist("/opt/x", ef::RECURSIVE, lib->exports);
  add_strlist("/opt/c", ef::CHILD | ef::EARLY, lib->exports);
  add_strlist("*.so", 0, lib->except);
  add_strlist("/own", 0, entry("/p/usr/lib/g")->exports);
  add_strlist("/rec", ef::RECURSIVE, entry("/p/r")->exports);

  EXPECT_EQ(run(), -1) << assembled;

  EXPECT_EQ(exports_of(entry("/p/usr/lib/g")),
            (std::vector<std::string>{"/own:32", "/opt/c/g:100", "/opt/x/g:96"}));
  EXPECT_EQ(exports_of(entry("/p/usr/lib/a")), (std::vector<std::string>{"/opt/c/a:100"}));
  EXPECT_EQ(exports_of(entry("/p/usr/lib/a/b/f")), (std::vector<std::string>{"/opt/x/a/b/f:96"}));
  EXPECT_EQ(exports_of(entry("/p/usr/lib/skip.so")), (std::vector<std::string>{}));
  EXPECT_EQ(exports_of(entry("/p/r/s/f")), (std::vector<std::string>{"/rec/s/f:96"}));
  EXPECT_EQ(lib->sflags & (sf::DIR_CHILD_EXPORTS | sf::DIR_RECURSIVE),
            sf::DIR_CHILD_EXPORTS | sf::DIR_RECURSIVE);
  EXPECT_TRUE(entry("/p/usr/lib/a/b")->sflags & sf::DIR_RECURSIVE);
  EXPECT_FALSE(entry("/p/usr")->sflags & sf::DIR_RECURSIVE);
}

TEST_F(AssemblyTest, PackagesJoinThePrimaryOrTheirOwnComponent) {
  for (const char* d : {"foo", "bar"}) write_file(dist(d) + "/d/f", "x");
  scan_all({"foo", "bar"});
  EXPECT_EQ(run(), -1) << assembled;
  ASSERT_EQ(model.cmpnts.size(), 1u);
  cmpntptr_t c = model.cmpnts[0];
  EXPECT_EQ(c->name, "prd");
  EXPECT_EQ(c->version, "1.0");
  EXPECT_EQ(c->desc, "Product");
  std::vector<std::string> subs;
  for (const varnode& n : c->subpackages) subs.push_back(n.name + "=" + n.value);
  EXPECT_EQ(subs, (std::vector<std::string>{"FOO=Description of package `FOO'",
                                            "BAR=Description of package `BAR'"}));
  EXPECT_EQ(package_named("FOO")->cmpnt, c);
  EXPECT_EQ(package_named("BAR")->flags, pf::CLAIMED);
  EXPECT_EQ(replies.log, (std::vector<std::string>{"finalcmpnt prd"}));

  // Component mode: each package is its own component.
  model.cmpnts.clear();
  for (pkgptr_t p : model.packages) p->flags = 0;
  opts.cmode = 1;
  EXPECT_EQ(run(), -1) << assembled;
  ASSERT_EQ(model.cmpnts.size(), 2u);
  EXPECT_EQ(model.cmpnts[0]->name, "foo");
  EXPECT_EQ(model.cmpnts[0]->desc, "Description of component FOO");
  EXPECT_EQ(package_named("BAR")->cmpnt, model.cmpnts[1]);
}

TEST_F(AssemblyTest, PrimaryComponentRefusedByTheBackend) {
  write_file(dist("foo/d/f"), "x");
  scan_all({"foo"});
  replies.precmpnt["prd"] = 3;
  EXPECT_EQ(run(), 1);
  EXPECT_EQ(squash(assembled), squash("\nERROR:the backend returned an error code for the primary "
                                      "component `prd'. Corvane just doesn't know what to do."));
  EXPECT_EQ(model.cmpnts[0]->flags, cf::SKIPPED | cf::FAILED);
}

TEST_F(AssemblyTest, ComponentsAndSubpackagesClaimPackagesOnce) {
  for (std::string d : {"a", "b", "c", "d"}) write_file(dist(d) + "/d/" + d, "x");
  scan_all({"a", "b", "c", "d"});
  cmpntptr_t c1 = new_cmpnt("prd", "1", "one", "", 1);
  cmpntptr_t c2 = new_cmpnt("two", "1", "two", "", 1);
  add_varlist("A", "", c1->subpackages);
  add_varlist("NOPE", "", c1->subpackages);
  add_varlist("A", "", c2->subpackages);
  add_varlist("C", "", c2->subpackages);
  add_varlist("B", "", package_named("A")->subpackages);
  add_varlist("C", "", package_named("A")->subpackages);
  add_varlist("B", "", package_named("D")->subpackages);
  add_varlist("GHOST", "", package_named("D")->subpackages);

  EXPECT_EQ(run(), 1);
  EXPECT_EQ(squash(assembled),
            squash("\nERROR:component `prd' defined package `NOPE' as a subpackage, but that package "
                   "name was not found.\n"
                   "ERROR:component `two' uses package `A' as a subpackage, but that package is "
                   "already contained by another component.\n"
                   "ERROR:package `A' declares package `C' as a subpackage, but `C' is already "
                   "declared as a subpackage of a component.\n"
                   "ERROR:package `D' declares package `B' as a subpackage, but `B' is already "
                   "declared as a subpackage of another package.\n"
                   "ERROR:package `D' declares package `GHOST' as a subpackage, but that package was "
                   "not found in the package list.\n"));
  EXPECT_EQ(package_named("A")->flags, pf::CLAIMED | pf::HAS_SUBPKGS);
  EXPECT_EQ(package_named("B")->flags, pf::SUBPKG);
  EXPECT_EQ(package_named("D")->flags, pf::CLAIMED | pf::HAS_SUBPKGS);  // dangling: joined prd
  EXPECT_EQ(package_named("D")->cmpnt, c1);
  EXPECT_EQ(c1->subpackages.tail()->name, "D");
}

TEST_F(AssemblyTest, SubpackageLoopsAreErrorsNotHangs) {
  for (std::string d : {"a", "b", "c"}) write_file(dist(d) + "/d/" + d, "x");
  scan_all({"a", "b", "c"});
  add_varlist("B", "", package_named("A")->subpackages);
  add_varlist("A", "", package_named("B")->subpackages);
  add_varlist("C", "", package_named("C")->subpackages);
  EXPECT_EQ(run(), 1);
  EXPECT_EQ(squash(assembled),
            squash("\nERROR:package `B' declares package `A' as a subpackage, but that makes `A' a "
                   "subpackage of itself.\n"
                   "ERROR:package `C' declares package `C' as a subpackage, but that makes `C' a "
                   "subpackage of itself.\n"));

  // With a component holding one of them the walk still ends.
  for (pkgptr_t p : model.packages) p->flags = 0, p->cmpnt = nullptr;
  model.cmpnts.clear();
  diag = Diagnostics{};
  cmpntptr_t c = new_cmpnt("prd", "1", "one", "", 1);
  add_varlist("A", "", c->subpackages);
  add_varlist("C", "", c->subpackages);
  EXPECT_EQ(run(), 1);
  EXPECT_EQ(package_named("B")->cmpnt, c);
  EXPECT_EQ(package_named("A")->cmpnt, c);
}

TEST_F(AssemblyTest, UnplacedPackagesAndCountChecks) {
  write_file(dist("a/d/f"), "x");
  scan_all({"a"});
  pkgptr_t missing = new_package("/missing", "d", "MISSING", "", 1);
  new_cmpnt("other", "1", "o", "", 1);
  new_cmpnt("third", "1", "t", "", 1);
  new_cmpnt("fourth", "1", "f", "", 1);
  EXPECT_EQ(run(), 1);
  EXPECT_EQ(squash(assembled),
            squash("\nERROR:primary component `prd' not found so dangling package `A' has nowhere to "
                   "go.\n"
                   "\nWARNING:The control file defined a package called `MISSING' but the "
                   "sub-directory specified in the control file (`/missing') does not exist, or it "
                   "contains no files or directories. Either there was an error during the "
                   "compilation of this package that you did not notice, or perhaps the control file "
                   "you are using is designed for a later version of the product.\n"
                   "\nERROR:More components than packages defined in the control file or created from "
                   "the distribution directory. Since this program doesn't allow you to use the same "
                   "package in more than one component, this means that there are either directories "
                   "missing from the distribution tree, or the control file is incorrect. Please fix "
                   "one or the other.\n"));
  EXPECT_EQ(missing->flags, pf::DEFINED | pf::IGNORED);
}

// Names printed outside backquotes are never spaced apart at their dots.
TEST_F(AssemblyTest, PackageNamesInReportsStayWhole) {
  new_package("/a", "d", "LIB.1", "", 1);
  new_package("/b", "d", "LIB.2", "", 1);
  write_file(dist("a/usr/bin/x"), "x");
  write_file(dist("b/usr/bin/x"), "x");
  EXPECT_EQ(scan("a"), "\nINFO: processing package: LIB.1 : 1 file, 3 directories.\n");
  scan_all({"b"});
  EXPECT_EQ(run(), -1);
  EXPECT_EQ(assembled, "\nWARNING: the file `/usr/bin/x' is duplicated in package(s): LIB.1 LIB.2\n");
}

TEST_F(AssemblyTest, FilesInSeveralPackagesAreNamedOnce) {
  for (const char* d : {"a", "b", "c"}) {
    write_file(dist(d) + "/usr/bin/x", "x");
    write_file(dist(d) + "/usr/bin/p", "x");
    write_file(dist(d) + "/usr/bin/e", "x");
  }
  write_file(dist("a/usr/bin/f539599"), "x");  // same hash, other text
  write_file(dist("b/usr/bin/f722382"), "x");
  scan_all({"a", "b", "c"});
  entry("/b/usr/bin/p")->aflags |= af::PRIVATE;
  entry("/c/usr/bin/p")->aflags |= af::PRIVATE;
  entry("/b/usr/bin/e")->aflags |= af::EXCLUDED;

  EXPECT_EQ(run(), -1);
  // Reported in the order of the path hashes.
  std::string e = "WARNING:the file `/usr/bin/e' is duplicated in package(s): A C\n";
  std::string x = "WARNING:the file `/usr/bin/x' is duplicated in package(s): A B C\n";
  if (mkhashval("/usr/bin/x") < mkhashval("/usr/bin/e")) std::swap(e, x);
  EXPECT_EQ(squash(assembled), squash(e + x)) << assembled;
  EXPECT_EQ(diag.warnings, 2);

  // The backend can take the check over, or stop the run.
  diag = Diagnostics{};
  model.cmpnts.clear();
  for (pkgptr_t p : model.packages) p->flags = 0;
  replies.dupcheck = 1;
  EXPECT_EQ(run(), -1);
  EXPECT_EQ(diag.warnings, 0);
  model.cmpnts.clear();
  for (pkgptr_t p : model.packages) p->flags = 0;
  replies.dupcheck = 3;
  replies.log.clear();
  EXPECT_EQ(run(), 1);
  EXPECT_TRUE(replies.log.empty());  // no finalcmpnt
}

}  // namespace
}  // namespace scantest
