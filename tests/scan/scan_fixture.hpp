// Fresh settings, model and diagnostics for scan and assembly tests, a
// backend whose replies each test sets, and helpers to read what was made.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "backend/backend.hpp"
#include "common/diag.hpp"
#include "model/index.hpp"
#include "model/model.hpp"
#include "model/settings.hpp"
#include "scan/postproc.hpp"
#include "scan/scan.hpp"
#include "support/capture.hpp"
#include "support/fresh_run.hpp"
#include "support/testutil.hpp"

namespace scantest {

/// Replies of the test backend, keyed by the entry's path from the dist
/// directory (/pkg/usr/bin/ls); the log records every call in order.
struct Replies {
  std::map<std::string, int> prefile, predir, postfile, postdir, enddir;
  int prepkg = 0, postpkg = 0, finalpkg = 0, dupcheck = 0;
  std::map<std::string, int> precmpnt, postcmpnt, finalcmpnt;
  std::vector<std::string> log;
  /// Called with each entry's log line as it is logged: a test changes the
  /// tree here while the scan runs.
  std::function<void(const std::string&)> on_entry;
};

inline Replies replies;

inline std::string from_dist(const char* full) {
  std::string s(full);
  return s.substr(std::min(opts.distdirlen, s.size()));
}

inline int reply_of(const std::map<std::string, int>& m, const std::string& key) {
  auto it = m.find(key);
  return it == m.end() ? 0 : it->second;
}

inline int t_prefile(pkgptr_t, const char* path, const char* target) {
  replies.log.push_back("prefile " + from_dist(path) + (*target ? " -> " + from_dist(target) : ""));
  if (replies.on_entry) replies.on_entry(replies.log.back());
  return reply_of(replies.prefile, from_dist(path));
}
inline int t_predir(pkgptr_t, const char* path, const char* target) {
  replies.log.push_back("predir " + from_dist(path) + (*target ? " -> " + from_dist(target) : ""));
  if (replies.on_entry) replies.on_entry(replies.log.back());
  return reply_of(replies.predir, from_dist(path));
}
inline int t_postfile(pkgptr_t, dfileptr_t e, int level) {
  replies.log.push_back("postfile " + std::string(e->dist()) + " " + std::to_string(level));
  if (replies.on_entry) replies.on_entry(replies.log.back());
  return reply_of(replies.postfile, std::string(e->dist()));
}
inline int t_postdir(pkgptr_t, dfileptr_t e, int level) {
  replies.log.push_back("postdir " + std::string(e->dist()) + " " + std::to_string(level));
  if (replies.on_entry) replies.on_entry(replies.log.back());
  return reply_of(replies.postdir, std::string(e->dist()));
}
inline int t_enddir(pkgptr_t, dfileptr_t e, int level) {
  replies.log.push_back("enddir " + std::string(e->dist()) + " " + std::to_string(level));
  if (replies.on_entry) replies.on_entry(replies.log.back());
  return reply_of(replies.enddir, std::string(e->dist()));
}
inline int t_prepkg(pkgptr_t p) {
  replies.log.push_back("prepkg " + p->name);
  return replies.prepkg;
}
inline int t_postpkg(pkgptr_t p) {
  replies.log.push_back("postpkg " + p->name);
  return replies.postpkg;
}
inline int t_finalpkg(pkgptr_t p) {
  replies.log.push_back("finalpkg " + p->name);
  return replies.finalpkg;
}
inline int t_precmpnt(cmpntptr_t c) { return reply_of(replies.precmpnt, c->name); }
inline int t_postcmpnt(cmpntptr_t c) { return reply_of(replies.postcmpnt, c->name); }
inline int t_finalcmpnt(cmpntptr_t c) {
  replies.log.push_back("finalcmpnt " + c->name);
  return reply_of(replies.finalcmpnt, c->name);
}
inline int t_dupcheck() { return replies.dupcheck; }
inline void t_produce() {}

/// Every text without its blanks: the reporters own the line layout, the
/// tests pin the words and their order.
inline std::string squash(const std::string& s) {
  std::string r;
  for (char c : s)
    if (!std::isspace(static_cast<unsigned char>(c))) r += c;
  return r;
}

// The scan changes the working directory and points the registry at the
// fixture's backend; FreshRun puts both back.
class ScanTest : public FreshRun {
 protected:
  void SetUp() override {
    FreshRun::SetUp();
    diag.columns = 100000;
    replies = Replies{};
    be = backend{};
    be.name = "test";
    be.produce = t_produce;
    be.prefile = t_prefile;
    be.predir = t_predir;
    be.postfile = t_postfile;
    be.postdir = t_postdir;
    be.enddir = t_enddir;
    be.prepkg = t_prepkg;
    be.postpkg = t_postpkg;
    be.finalpkg = t_finalpkg;
    be.precmpnt = t_precmpnt;
    be.postcmpnt = t_postcmpnt;
    be.finalcmpnt = t_finalcmpnt;
    be.dupcheck = t_dupcheck;
    registry.backptr = &be;
    opts.basedir = tmp.path();
    opts.basedirlen = tmp.path().size();
    opts.distdir = tmp.path() + "/dist";
    opts.distdirlen = opts.distdir->size();
    opts.prdcode = "PRD";
    opts.cmpntcode = "prd";
    opts.version = "1.0";
    opts.description = "Product";
    testutil::make_dirs(dist());
  }
  std::string dist() const { return *opts.distdir; }
  std::string dist(const std::string& rel) const { return *opts.distdir + "/" + rel; }

  /// Scans dist/`name` with the reports captured; returns standard error.
  std::string scan(const char* name) {
    testutil::CaptureFd err;
    process_package(name);
    return err.text();
  }

  /// Runs the assembly with the reports captured; -1 when it ran through,
  /// else the status it ended the run with.
  int assemble(std::string& err_text) {
    testutil::CaptureFd err;
    int status = -1;
    try {
      post_process();
    } catch (const run_exit& e) {
      status = e.status;
    }
    err_text = err.text();
    return status;
  }

  static pkgptr_t package_named(const std::string& name) {
    for (pkgptr_t p : model.packages)
      if (p->name == name) return p;
    return nullptr;
  }
  /// The entry (file or directory) whose path from the dist directory is `dist`.
  static dfileptr_t entry(const std::string& dist) {
    for (auto* list : {&model.files, &model.dirs})
      for (dfileptr_t e : *list)
        if (e->dist() == dist) return e;
    return nullptr;
  }
  /// Installed paths of the entries of `list`, in order.
  static std::vector<std::string> paths(const std::vector<dfileptr_t>& list) {
    std::vector<std::string> r;
    for (dfileptr_t e : list) r.emplace_back(e->path.sv());
    return r;
  }
  /// "text:flags" of every export node, in order.
  static std::vector<std::string> exports_of(dfileptr_t e) {
    std::vector<std::string> r;
    for (const strnode& n : e->exports) r.push_back(n.str + ":" + std::to_string(n.flags));
    return r;
  }

  testutil::TempDir tmp;
  backend be;
};

}  // namespace scantest
