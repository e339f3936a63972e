// Small product models built in the test process, as the scan and the
// assembly leave them, for trying the pkgadd backend's operations directly.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "backend/backend.hpp"
#include "backend/pkgadd/pkgadd.hpp"
#include "common/diag.hpp"
#include "model/index.hpp"
#include "model/model.hpp"
#include "model/settings.hpp"
#include "support/capture.hpp"
#include "support/testutil.hpp"

namespace pkgadd_test {

class PkgaddTest : public ::testing::Test {
 protected:
  void SetUp() override {
    close_debug();
    diag = Diagnostics{};
    diag.columns = 100000;  // one line per message, so texts compare whole
    reset_settings();
    reset_model();
    initialize_backends();
    be = find_backend("pkgadd");
    registry.backptr = be;
    opts.basedir = tmp.path();
    opts.basedirlen = tmp.path().size();
    opts.distdir = tmp.path() + "/dist";
    opts.distdirlen = opts.distdir->size();
    opts.prdcode = "TOOLS";
    opts.cmpntcode = "tools";
    opts.version = "1.0";
    opts.description = "Handy tools";
    opts.pkgadd_cat = "application";
    opts.pkgdir = tmp.path() + "/input";
    testutil::make_dirs(*opts.pkgdir);
  }
  void TearDown() override { close_debug(); }

  /// A package of directory /`dir` with its root directory record.
  pkgptr_t add_package(const std::string& dir, const std::string& name) {
    pkgptr_t p = new_package("/" + dir, "Description of package `" + name + "'", name, "", 0);
    dfileptr_t root = add_new_directory(p->dir.sv(), p, 0);
    root->sflags |= sf::SCANNED;
    root->mode = 0755;
    root->uid = root->gid = 2;
    return p;
  }

  /// A component holding `pkgs`, as the assembly leaves it.
  cmpntptr_t add_cmpnt(const std::string& name, std::initializer_list<pkgptr_t> pkgs,
                       const std::string& desc = "Component desc") {
    cmpntptr_t c = new_cmpnt(name, "1.0", desc, "", 0);
    be->precmpnt(c);
    for (pkgptr_t p : pkgs) {
      add_varlist(p->name, p->desc, c->subpackages);
      p->flags |= pf::CLAIMED;
      p->cmpnt = c;
    }
    return c;
  }

  /// The directory of `p` with installed path `path` (its parent must exist).
  dfileptr_t add_dir(pkgptr_t p, const std::string& path, std::uint32_t mode = 0755) {
    dfileptr_t d = add_new_directory(std::string(p->dir.sv()) + path, p, 0);
    attach(p, d);
    d->parent->subdirs().push_back(d);
    d->mode = mode;
    return d;
  }

  /// The file of `p` with installed path `path`.
  dfileptr_t add_file(pkgptr_t p, const std::string& path, std::uint32_t mode = 0444,
                      std::int64_t size = 10) {
    dfileptr_t f = add_new_file(std::string(p->dir.sv()) + path, p, 0);
    attach(p, f);
    f->parent->files().push_back(f);
    f->mode = mode;
    f->size = size;
    f->phase = 2;
    f->nlink = 1;
    return f;
  }

  /// Makes `e` a symbolic link to the installed path `target` of its package.
  static void make_link(dfileptr_t e, const std::string& target) {
    e->aflags |= af::SYMLINK;
    e->target = newpath_dup(std::string(e->pkg->dir.sv()) + target);
  }

  /// The end of every package's scan and of the assembly.
  void finish_scan() {
    for (pkgptr_t p : model.packages) {
      package_resize_and_sort(p);
      be->finalpkg(p);
    }
    resize_and_sort_lists();
    for (cmpntptr_t c : model.cmpnts) be->finalcmpnt(c);
  }

  std::string out(const std::string& rel) { return testutil::read_file(*opts.pkgdir + "/" + rel); }

  testutil::TempDir tmp;
  backend* be = nullptr;

 private:
  static dfileptr_t dir_of(pkgptr_t p, std::string_view path) {
    if (path.empty()) return p->dirs.front();
    for (dfileptr_t d : p->dirs)
      if (d->path.sv() == path) return d;
    return nullptr;
  }
  void attach(pkgptr_t p, dfileptr_t e) {
    const std::string_view path = e->path.sv();
    e->parent = dir_of(p, path.substr(0, path.rfind('/')));
    EXPECT_NE(e->parent, nullptr) << "no parent for " << path;
    e->sflags |= sf::SCANNED;
    e->uid = e->gid = 2;
    e->access = 1;
  }
};

}  // namespace pkgadd_test
