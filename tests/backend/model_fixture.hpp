// Builds small product models in the test process, as the scan and the
// assembly would leave them, so backend operations can be tried directly.
#pragma once

#include <pthread.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "backend/backend.hpp"
#include "common/diag.hpp"
#include "model/index.hpp"
#include "model/model.hpp"
#include "model/settings.hpp"
#include "support/fresh_run.hpp"
#include "support/testutil.hpp"

namespace testutil {

/// Runs `work` on a thread with a small stack (256 KiB), so that a walk
/// which keeps a stack frame per level of the input fails at a depth a
/// test can afford, instead of passing on the main thread's large stack.
inline void on_small_stack(const std::function<void()>& work) {
  constexpr std::size_t STACK = 256 * 1024;
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, STACK);
  pthread_t thread;
  auto run = [](void* w) -> void* {
    (*static_cast<const std::function<void()>*>(w))();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attr, run, const_cast<std::function<void()>*>(&work)), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
}

class ModelTest : public FreshRun {
 protected:
  void SetUp() override {
    FreshRun::SetUp();
    opts.basedir = tmp.path();
    opts.basedirlen = tmp.path().size();
    opts.distdir = tmp.path() + "/dist";
    opts.distdirlen = opts.distdir->size();
  }

  /// A package of directory /`dir` with its root directory record.
  pkgptr_t add_package(const std::string& dir, const std::string& name) {
    pkgptr_t p = new_package("/" + dir, "Description of package `" + name + "'", name, "", 0);
    dfileptr_t root = add_new_directory(p->dir.sv(), p, 0);
    root->sflags |= sf::SCANNED;
    root->mode = 0755;
    root->uid = root->gid = 2;
    root->access = 1;
    return p;
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
  dfileptr_t add_file(pkgptr_t p, const std::string& path, std::uint32_t mode = 0444) {
    dfileptr_t f = add_new_file(std::string(p->dir.sv()) + path, p, 0);
    attach(p, f);
    f->parent->files().push_back(f);
    f->mode = mode;
    f->phase = 2;
    f->nlink = 1;
    f->ino = ++last_ino_;
    return f;
  }

  /// Makes `e` a symbolic link to the installed path `target` of its package.
  static void make_link(dfileptr_t e, const std::string& target) {
    e->aflags |= af::SYMLINK;
    e->target = newpath_dup(std::string(e->pkg->dir.sv()) + target);
  }

  static std::uint32_t hash(const std::string& s) { return mkhashval(s); }

  TempDir tmp;

 private:
  // The directory record of `p` whose installed path is `path`.
  static dfileptr_t dir_of(pkgptr_t p, std::string_view path) {
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
  std::uint64_t last_ino_ = 1000;
};

}  // namespace testutil
