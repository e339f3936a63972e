// Shared by the preparation tests: a fresh run state with a dist tree,
// tools that only log what they were asked to do, and small ELF files
// compiled on the spot.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/diag.hpp"
#include "model/model.hpp"
#include "model/settings.hpp"
#include "prep/autoprep.hpp"
#include "prep/shellcmd.hpp"
#include "prep/tessel.hpp"
#include "support/capture.hpp"
#include "support/fresh_run.hpp"
#include "support/testutil.hpp"

namespace preptest {

/// Standard output of a shell command.
inline std::string shell_output(const std::string& cmd) {
  std::fflush(stdout);
  FILE* p = popen(cmd.c_str(), "r");
  std::string out;
  char buf[4096];
  while (std::size_t n = std::fread(buf, 1, sizeof buf, p)) out.append(buf, n);
  pclose(p);
  return out;
}

/// Compiles C `source` with gcc and `flags` into `out`; true on success.
inline bool compile(const std::string& source, const std::string& flags, const std::string& out) {
  std::string src = out + ".src.c";
  testutil::write_file(src, source);
  std::string cmd = "gcc " + flags + " -o " + shell_word(out) + " " + shell_word(src) + " 2>&1";
  bool ok = std::system(cmd.c_str()) == 0;
  std::remove(src.c_str());
  return ok;
}

/// The section names of an ELF file (or of every member of an archive), one per line.
inline std::string sections(const std::string& path) {
  return shell_output("readelf -SW " + shell_word(path) +
                      " 2>/dev/null | sed -n 's/^ *\\[ *[0-9]*\\] \\([^ ]*\\).*/\\1/p'");
}

inline bool has_section(const std::string& path, const std::string& name) {
  std::string s = "\n" + sections(path);
  return s.find("\n" + name + "\n") != std::string::npos;
}

/// The strings of the comment section(s), one per line.
inline std::string comments(const std::string& path) {
  return shell_output("readelf -p .comment " + shell_word(path) +
                      " 2>/dev/null | sed -n 's/^ *\\[ *[0-9a-f]*\\]  //p'");
}

/// A fresh preparation run over base/dist; the tools only log their arguments.
class PrepRun : public FreshRun {
 protected:
  void SetUp() override {
    FreshRun::SetUp();
    diag.columns = 1000;
    opts.basedir = tmp.path();
    opts.distdir = dist;
    opts.distdirlen = dist.size();
    logfile = tmp / "tools.log";
    tool = tmp / "tool.sh";
    testutil::write_file(tool, "#!/bin/sh\nprintf '%s\\n' \"$*\" >> " + shell_word(logfile) + "\n", 0755);
    set_env("CORVANE_STRIPCMD", tool + " strip");
    set_env("CORVANE_MCSCMD", tool + " mcs");
    set_env("CORVANE_ARCMD", tool + " ar -ts");
    for (const char* v : {"CORVANE_MCSBUG", "CORVANE_VERBOSE"}) unset_env(v);
  }
  void TearDown() override {
    for (auto& [name, old] : saved_env) {
      if (old) setenv(name.c_str(), old->c_str(), 1);
      else unsetenv(name.c_str());
    }
    FreshRun::TearDown();
  }

  void set_env(const std::string& name, const std::string& value) {
    save_env(name);
    setenv(name.c_str(), value.c_str(), 1);
  }
  void unset_env(const std::string& name) {
    save_env(name);
    unsetenv(name.c_str());
  }

  /// What the logging tools were asked, with the dist path shown as DIST.
  std::string tool_log() {
    std::string log;
    if (testutil::exists(logfile)) log = testutil::read_file(logfile);
    for (std::size_t p; (p = log.find(dist)) != std::string::npos;) log.replace(p, dist.size(), "DIST");
    std::remove(logfile.c_str());
    return log;
  }

  /// do_autoprep with standard output captured.
  std::string prepare(int fmt, int texi, int strip, const char* text = nullptr) {
    testutil::CaptureFd out(1);
    do_autoprep(fmt, texi, strip, text);
    std::fflush(stdout);
    return out.text();
  }

  testutil::TempDir tmp;
  std::string dist = tmp / "dist";
  std::string logfile, tool;

 private:
  void save_env(const std::string& name) {
    for (auto& s : saved_env)
      if (s.first == name) return;
    const char* v = std::getenv(name.c_str());
    saved_env.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
  }
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_env;
};

}  // namespace preptest
