// The XML backend's operations before output: record, option check, the
// private marks during the scan, package finalisation and verification.
#include <gtest/gtest.h>

#include "../model_fixture.hpp"
#include "backend/xml/xml.hpp"
#include "support/capture.hpp"

namespace {

using testutil::CaptureFd;

class XmlOps : public testutil::ModelTest {
 protected:
  void SetUp() override {
    ModelTest::SetUp();
    diag.columns = 100000;  // one line per report
  }
};

TEST_F(XmlOps, OutputDirectoryIsTheBaseDirectory) {
  {
    CaptureFd err;
    xml_optcheck();
    EXPECT_EQ(err.text(), "");
  }
  EXPECT_EQ(opts.pkgdir, tmp.path());
  opts.basedir = tmp / "missing";
  CaptureFd err;
  xml_optcheck();
  EXPECT_EQ(opts.pkgdir, tmp / "missing");
  EXPECT_EQ(err.text(), "\nERROR: output directory `" + tmp / "missing" +
                            "' does not exist or is not writeable.\n");
  EXPECT_EQ(diag.errors, 1);
}

TEST_F(XmlOps, PrivatePackagesAndDirectoriesMakeTheirEntriesPrivate) {
  pkgptr_t p = add_package("a", "A");
  dfileptr_t opt = add_dir(p, "/opt");
  dfileptr_t f = add_file(p, "/opt/f", 0644);
  EXPECT_EQ(xml_postdir(p, opt, 1), 1);
  EXPECT_EQ(xml_postfile(p, f, 0), 1);
  EXPECT_EQ(opt->aflags & af::PRIVATE, 0u);
  EXPECT_EQ(f->mode, 0644u);

  // Below a private directory (either mark of it).
  opt->sflags |= sf::DIR_PRIVATE;
  dfileptr_t sub = add_dir(p, "/opt/sub");
  dfileptr_t g = add_file(p, "/opt/g", 0640);
  EXPECT_EQ(xml_postdir(p, sub, 0), REPLY_PRIVATE);
  EXPECT_EQ(sub->sflags & sf::DIR_PRIVATE, sf::DIR_PRIVATE);
  EXPECT_EQ(sub->aflags & af::PRIVATE, af::PRIVATE);
  sub->sflags &= ~sf::DIR_PRIVATE;  // the aflags mark alone passes it on too
  dfileptr_t h = add_file(p, "/opt/sub/h", 0600);
  EXPECT_EQ(xml_postfile(p, g, 0), REPLY_PRIVATE);
  EXPECT_EQ(xml_postfile(p, h, 0), REPLY_PRIVATE);
  EXPECT_EQ(g->mode, 0751u);
  EXPECT_EQ(h->mode, 0711u);
  EXPECT_EQ(g->sflags & sf::FILE_PRIVATE, sf::FILE_PRIVATE);
  EXPECT_EQ(g->aflags & af::PRIVATE, af::PRIVATE);

  pkgptr_t q = add_package("b", "B");
  q->flags |= pf::PRIVATE;
  dfileptr_t usr = add_dir(q, "/usr");
  dfileptr_t x = add_file(q, "/usr/x");
  EXPECT_EQ(xml_postdir(q, usr, 1), REPLY_PRIVATE);
  EXPECT_EQ(xml_postfile(q, x, 0), REPLY_PRIVATE);
  EXPECT_EQ(x->mode, 0555u);
}

TEST_F(XmlOps, FinalPackageSortsByPathAndChecksLinkTargets) {
  pkgptr_t p = add_package("hello-1.0", "HELLO");
  add_dir(p, "/usr");
  add_dir(p, "/usr/lib");
  add_dir(p, "/etc");
  add_file(p, "/usr/lib/libhello.so.1");
  make_link(add_file(p, "/usr/lib/libhello.so"), "/usr/lib/libhello.so.1");
  make_link(add_file(p, "/usr/lib/dangling"), "/usr/lib/gone");
  dfileptr_t out = add_file(p, "/etc/out");
  out->aflags |= af::SYMLINK;
  out->target = newpath_dup(*opts.distdir + "/other/etc/x");
  dfileptr_t excluded = add_file(p, "/usr/lib/excluded");
  make_link(excluded, "/nowhere");
  excluded->aflags |= af::EXCLUDED;
  dfileptr_t declared = add_file(p, "/usr/lib/declared");
  make_link(declared, "/nowhere");
  declared->aflags |= af::CTL_SYMLINK;
  dfileptr_t converted = add_file(p, "/usr/lib/converted");
  make_link(converted, "/nowhere");
  converted->aflags |= af::CONVERTED;
  package_resize_and_sort(p);

  CaptureFd err;
  EXPECT_EQ(xml_finalpkg(p), 0);
  std::string paths;
  for (dfileptr_t f : p->files) paths += std::string(f->path.sv()) + " ";
  EXPECT_EQ(paths,
            "/etc/out /usr/lib/converted /usr/lib/dangling /usr/lib/declared /usr/lib/excluded "
            "/usr/lib/libhello.so /usr/lib/libhello.so.1 ");
  paths.clear();
  for (dfileptr_t d : p->dirs) paths += "[" + std::string(d->path.sv()) + "]";
  EXPECT_EQ(paths, "[][/etc][/usr][/usr/lib]");
  const std::string tail =
      ", which was not found in the current package (`HELLO'). The most likely cause of this is "
      "that the target was removed by a remove() or removeall() directive. If that is the case, "
      "then you must either not remove the target, or you must remove this symbolic link as "
      "well. If this is not the result of a removed file, then you either have an error in your "
      "distribution tree, or you are attempting to create a symbolic link to a file outside of "
      "the current package, which is not supported.\n";
  EXPECT_EQ(err.text(),
            "\nERROR: the symbolic link `/etc/out' points to the target `/other/etc/x'" + tail +
                "ERROR: the symbolic link `/usr/lib/dangling' points to the target "
                "`/usr/lib/gone'" + tail);
  EXPECT_EQ(diag.errors, 2);
}

TEST_F(XmlOps, DependenciesOfComponentsNeedDescriptions) {
  cmpntptr_t c = new_cmpnt("hello", "1.0", "Hello", "", 1);
  add_varlist("old", "", c->replaces);
  add_varlist("older", "The older one", c->replaces);
  add_varlist("libc", "", c->dependency);
  add_varlist("libm", "Maths", c->dependency);
  add_varlist("up", "", c->upgrades);    // not checked
  add_varlist("req", "", c->requires_);  // not checked
  CaptureFd err;
  xml_verify();
  EXPECT_EQ(err.text(),
            "\nERROR: In component `hello', the superceding dependency `old' lacks a description. "
            "This is required by the `xml' backend driver. Please edit the control file and add a "
            "description.\n"
            "ERROR: In component `hello', the dependency `libc' lacks a description. This is "
            "required by the `xml' backend driver. Please edit the control file and add a "
            "description.\n");
  EXPECT_EQ(diag.errors, 2);
}

}  // namespace
