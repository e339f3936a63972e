// Making output fail on purpose: a small file system that fills up, runs
// as a user without write permission, and a record of a directory tree
// that shows whether a failed run changed anything in it.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "support/testutil.hpp"

namespace failtest {

inline constexpr uid_t NOBODY = 65534;
inline constexpr std::size_t PAGE = 4096;

/// A tmpfs of `bytes` on `dir` while the object lives (root only; see
/// mounted()). It is detached when the object goes, also after a failed
/// assertion, so the test's directory can be removed.
class SmallFileSystem {
 public:
  SmallFileSystem(const std::string& dir, std::size_t bytes) : dir_(dir) {
    testutil::make_dirs(dir);
    const std::string size = "size=" + std::to_string(bytes);
    mounted_ = geteuid() == 0 && mount("tmpfs", dir.c_str(), "tmpfs", 0, size.c_str()) == 0;
  }
  ~SmallFileSystem() {
    if (mounted_) umount2(dir_.c_str(), MNT_DETACH);
  }
  SmallFileSystem(const SmallFileSystem&) = delete;
  SmallFileSystem& operator=(const SmallFileSystem&) = delete;

  bool mounted() const { return mounted_; }

  /// Fills the file system with one file until only `pages` pages are free.
  void fill_leaving(std::size_t pages) const {
    const std::string filler = dir_ + "/filler";
    const int fd = open(filler.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    const std::string page(PAGE, 'f');
    off_t size = 0;
    while (write(fd, page.data(), page.size()) == static_cast<ssize_t>(page.size()))
      size += static_cast<off_t>(PAGE);
    close(fd);
    ASSERT_GE(size, static_cast<off_t>(pages * PAGE));
    ASSERT_EQ(truncate(filler.c_str(), size - static_cast<off_t>(pages * PAGE)), 0);
  }
  void unfill() const { unlink((dir_ + "/filler").c_str()); }

 private:
  std::string dir_;
  bool mounted_ = false;
};

/// Every entry below `root` with its mode, and every file with its
/// content: two equal records mean nothing was changed, added (no
/// temporary file either) or removed.
inline std::map<std::string, std::string> snapshot(const std::string& root,
                                                   const std::string& rel = "") {
  std::map<std::string, std::string> out;
  const std::string dir = rel.empty() ? root : root + "/" + rel;
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (struct dirent* e = readdir(d))
      if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
    closedir(d);
  }
  for (const std::string& n : names) {
    const std::string r = rel.empty() ? n : rel + "/" + n;
    struct stat st;
    if (lstat((root + "/" + r).c_str(), &st) != 0) continue;
    std::string& entry = out[r];
    entry = std::to_string(st.st_mode) + ":";
    if (S_ISDIR(st.st_mode)) {
      out.merge(snapshot(root, r));
    } else if (S_ISREG(st.st_mode)) {
      entry += testutil::read_file(root + "/" + r);
    }
  }
  return out;
}

/// Runs the built program `name` as the user nobody.
inline testutil::RunResult run_as_nobody(const std::string& name, std::vector<std::string> args,
                                         const testutil::RunOptions& opt = {}) {
  const std::string id = std::to_string(NOBODY);
  std::vector<std::string> all = {"--reuid=" + id, "--regid=" + id, "--clear-groups",
                                  testutil::bin_dir() + "/" + name};
  all.insert(all.end(), args.begin(), args.end());
  return testutil::run_program("/usr/bin/setpriv", all, opt);
}

/// Gives `path` to nobody.
inline void give_to_nobody(const std::string& path) {
  ASSERT_EQ(chown(path.c_str(), NOBODY, NOBODY), 0) << path;
}

}  // namespace failtest
