// Writes a synthetic distribution tree for timing corvane: BASE/dist with a
// few packages, directories of 20-40 entries at depths 3-7, mostly small
// files, about 5% symbolic links and 1% hard links to files of the same
// package, some executables and a manual-page directory per package.
// The same arguments always give the same tree.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

namespace {

struct rng {
  std::uint64_t s;
  std::uint32_t next() {
    s = s * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<std::uint32_t>(s >> 33);
  }
  std::uint32_t below(std::uint32_t n) { return next() % n; }
};

void die(const std::string& what) {
  std::fprintf(stderr, "gentree: %s: %s\n", what.c_str(), std::strerror(errno));
  std::exit(1);
}

void make_dir(const std::string& p) {
  if (mkdir(p.c_str(), 0755) != 0 && errno != EEXIST) die("mkdir " + p);
}

void make_file(const std::string& p, mode_t mode, std::uint32_t n) {
  int fd = open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC, mode);
  if (fd < 0) die("open " + p);
  char buf[64];
  int len = std::snprintf(buf, sizeof buf, "file %u\n", n);
  if (write(fd, buf, len) != len) die("write " + p);
  close(fd);
  chmod(p.c_str(), mode);
}

struct dir_job {
  std::string rel;  // installed path, "" for the package root
  int depth;
};

// Fills one package with about `quota` entries.
long fill_package(const std::string& root, int pkg, long quota, rng& r) {
  long made = 0;
  std::vector<std::string> files;  // installed paths of plain files, for links
  std::deque<dir_job> queue;
  for (const char* d : {"/usr", "/usr/share", "/usr/share/app", "/usr/man", "/usr/man/man1"}) {
    make_dir(root + d);
    ++made;
  }
  for (int i = 0; i < 30; ++i) {
    std::string page = "/usr/man/man1/tool" + std::to_string(pkg) + "-" + std::to_string(i) + ".1";
    make_file(root + page, 0644, i);
    ++made;
  }
  queue.push_back({"/usr/share/app", 3});
  // Branching that fills the quota by depth 7 with directories of about
  // 30 entries: the levels 4..7 below /usr/share/app hold b, b^2, b^3 and
  // b^4 directories, so b^4 = quota / 30.
  const double branching = std::max(1.5, std::pow(double(quota) / 30.0, 0.25));
  const std::uint32_t dir_percent = std::min<std::uint32_t>(60, std::uint32_t(std::ceil(branching * 100 / 30)));
  std::uint32_t serial = 0;
  while (made < quota && !queue.empty()) {
    // Depth first, so the directories still empty when the quota is reached
    // are only the few on the way down.
    dir_job job = queue.back();
    queue.pop_back();
    const int entries = 20 + int(r.below(21));
    for (int i = 0; i < entries && made < quota; ++i) {
      const std::uint32_t roll = r.below(100);
      // Names differ between packages, so no file is installed twice.
      std::string name = "p" + std::to_string(pkg) + "e" + std::to_string(serial++);
      std::string rel = job.rel + "/" + name;
      std::string full = root + rel;
      const bool as_dir = job.depth < 7 ? r.below(100) < dir_percent : false;
      if (as_dir) {
        make_dir(full);
        queue.push_back({rel, job.depth + 1});
      } else if (roll < 5 && !files.empty()) {
        const std::string& target = files[r.below(files.size())];
        if (symlink(target.c_str(), full.c_str()) != 0) die("symlink " + full);
      } else if (roll < 6 && !files.empty()) {
        const std::string& target = files[r.below(files.size())];
        if (link((root + target).c_str(), full.c_str()) != 0) die("link " + full);
      } else {
        make_file(full, roll < 20 ? 0755 : 0644, serial);
        files.push_back(rel);
      }
      ++made;
    }
    // Keep the walk going when the random draws made too few directories:
    // a new one below the application directory, so paths stay short.
    if (queue.empty() && made < quota) {
      std::string rel = "/usr/share/app/p" + std::to_string(pkg) + "d" + std::to_string(serial++);
      make_dir(root + rel);
      ++made;
      queue.push_back({rel, 4});
    }
  }
  return made;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: gentree BASE ENTRIES\n");
    return 2;
  }
  const std::string base = argv[1];
  const long entries = std::atol(argv[2]);
  const int packages = 4;
  make_dir(base);
  make_dir(base + "/dist");
  make_dir(base + "/input");
  rng r{0x5eed0000ULL + static_cast<std::uint64_t>(entries)};
  long total = 0;
  for (int p = 0; p < packages; ++p) {
    std::string root = base + "/dist/pkg" + std::to_string(p) + "-1.0";
    make_dir(root);
    ++total;
    total += fill_package(root, p, entries / packages - 1, r);
  }
  std::printf("%ld\n", total);
  return 0;
}
