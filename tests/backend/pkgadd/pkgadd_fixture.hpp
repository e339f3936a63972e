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
#include "../model_fixture.hpp"

namespace pkgadd_test {

class PkgaddTest : public testutil::ModelTest {
 protected:
  void SetUp() override {
    ModelTest::SetUp();
    diag.columns = 100000;  // one line per message, so texts compare whole
    be = find_backend("pkgadd");
    registry.backptr = be;
    opts.prdcode = "TOOLS";
    opts.cmpntcode = "tools";
    opts.version = "1.0";
    opts.description = "Handy tools";
    pkgadd_settings.pkgadd_cat = "application";
    opts.pkgdir = tmp.path() + "/input";
    testutil::make_dirs(*opts.pkgdir);
  }

  /// A package of directory /`dir` whose root has no access decided yet.
  pkgptr_t add_package(const std::string& dir, const std::string& name) {
    pkgptr_t p = ModelTest::add_package(dir, name);
    p->dirs.front()->access = 0;
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

  /// The file of `p` with installed path `path` and `size` bytes; no inode,
  /// as the pkgadd writer never asks for one.
  dfileptr_t add_file(pkgptr_t p, const std::string& path, std::uint32_t mode = 0444,
                      std::int64_t size = 10) {
    dfileptr_t f = ModelTest::add_file(p, path, mode);
    f->size = size;
    f->ino = 0;
    return f;
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

  const backend* be = nullptr;
};

}  // namespace pkgadd_test
