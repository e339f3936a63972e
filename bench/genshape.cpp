// Writes a product tree of one input shape, and its control file when the
// shape needs one, for timing how corvane's cost grows with the shape's
// size (bench/shapes.sh). Each shape stresses one list, chain or lookup
// that a careless implementation searches linearly once per item:
//   packages    N packages of 10 files each
//   components  N packages of one file each (run with -c: a component each)
//   subpkgchain N packages, each the subpackage of the one before
//   depchain    N components of one package each, each depending on the next
//   symlinks    N symbolic links to one file
//   hashpath    N files whose installed paths have one hash, each the target
//               of a symbolic link
//   hashabs     N files whose full build paths have one hash, each declared
//               in the control file
//   addexport   N addexport() statements on one file
//   deep        a tree N levels deep, one directory and one file per level
//   remove      N remove() statements in one package, each naming a file
//   verbatim    N verbatim() lines in one package
//   define      N define() macros, each used once
// The tree is BASE/dist, BASE/input is made for the backends that need it,
// and the control file is BASE.ctl. The number of entries below dist is
// printed. The same arguments always give the same tree.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace {

// The product's string hash (h * 16777619 XOR byte, from 0), repeated here
// so that the names below collide in it; the generator checks that they do.
constexpr std::uint32_t hash_from(std::uint32_t h, std::string_view s) {
  for (unsigned char c : s) h = (h * 16777619u) ^ c;
  return h;
}
static_assert(hash_from(0, "ab") == 1627429073u);

struct rng {
  std::uint64_t s;
  std::uint32_t next() {
    s = s * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<std::uint32_t>(s >> 33);
  }
};

[[noreturn]] void die(const std::string& what) {
  std::fprintf(stderr, "genshape: %s: %s\n", what.c_str(), std::strerror(errno));
  std::exit(1);
}

struct tree {
  std::string dist;
  long entries = 0;

  void dir(const std::string& rel) {
    if (mkdir((dist + rel).c_str(), 0755) != 0) die("mkdir " + rel);
    ++entries;
  }
  void file(const std::string& rel) {
    const int fd = open((dist + rel).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) die("open " + rel);
    const std::string text = "content of " + rel + "\n";
    if (write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) die("write " + rel);
    close(fd);
    ++entries;
  }
  void link(const std::string& target, const std::string& rel) {
    if (symlink(target.c_str(), (dist + rel).c_str()) != 0) die("symlink " + rel);
    ++entries;
  }
};

// Names that all hash alike after `prefix`: at each of k stages two blocks
// of letters that take the hash state reached so far to one common state
// (found by the birthday bound, about 80,000 random blocks a stage), so
// that every choice of one block per stage gives the same hash; 2^k names.
class colliding_names {
 public:
  colliding_names(std::string_view prefix, long count) {
    rng r{0xc011ULL};
    std::uint32_t h = hash_from(0, prefix);
    for (long have = 1; have < count; have *= 2) {
      pairs_.push_back(find_pair(h, r));
      h = hash_from(h, pairs_.back()[0]);
    }
    hash_ = h;
    prefix_hash_ = hash_from(0, prefix);
  }
  std::string operator[](long i) const {
    std::string name;
    for (std::size_t k = 0; k < pairs_.size(); ++k) name += pairs_[k][(i >> k) & 1];
    if (hash_from(prefix_hash_, name) != hash_) {
      std::fprintf(stderr, "genshape: colliding name %ld does not collide\n", i);
      std::exit(1);
    }
    return name;
  }

 private:
  static constexpr std::size_t BLOCK = 5;
  static std::array<std::string, 2> find_pair(std::uint32_t h, rng& r) {
    static constexpr std::string_view letters = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::unordered_map<std::uint32_t, std::string> seen;
    for (;;) {
      std::string block(BLOCK, 'a');
      for (char& c : block) c = letters[r.next() % letters.size()];
      const std::uint32_t v = hash_from(h, block);
      auto [it, fresh] = seen.emplace(v, block);
      if (!fresh && it->second != block) return {it->second, block};
    }
  }

  std::vector<std::array<std::string, 2>> pairs_;
  std::uint32_t hash_ = 0, prefix_hash_ = 0;
};

std::string quoted(std::string_view s) { return "\"" + std::string(s) + "\""; }

using shape_fn = std::function<void(tree&, long, const std::string& base, std::string& ctl)>;

void many_packages(tree& t, long n, int files) {
  for (long i = 0; i < n; ++i) {
    const std::string pkg = "/p" + std::to_string(i);
    t.dir(pkg);
    t.dir(pkg + "/d");
    // Names differ between packages, so no file is installed twice.
    for (int f = 0; f < files; ++f) t.file(pkg + "/d" + pkg + "-" + std::to_string(f));
  }
}

// A package holds at least one directory besides its root.
void one_package(tree& t) {
  t.dir("/p");
  t.dir("/p/d");
}

const std::map<std::string, shape_fn> shapes = {
    {"packages", [](tree& t, long n, const std::string&, std::string&) { many_packages(t, n, 10); }},
    {"components", [](tree& t, long n, const std::string&, std::string&) { many_packages(t, n, 1); }},
    {"subpkgchain",
     [](tree& t, long n, const std::string&, std::string& ctl) {
       many_packages(t, n, 1);
       for (long i = 0; i < n; ++i) {
         const std::string id = std::to_string(i);
         ctl += "package(\"/p" + id + "\", \"Package " + id + "\", \"P" + id + "\") {";
         if (i + 1 < n) ctl += " subpackage(\"P" + std::to_string(i + 1) + "\");";
         ctl += " }\n";
       }
     }},
    {"depchain",
     [](tree& t, long n, const std::string&, std::string& ctl) {
       many_packages(t, n, 1);
       for (long i = 0; i < n; ++i) {
         const std::string id = std::to_string(i), next = std::to_string(i + 1);
         ctl += "component(\"c" + id + "\", \"1\", \"Component " + id + "\") { subpackage(\"P" + id + "\");";
         if (i + 1 < n) ctl += " dependency(\"c" + next + "\", \"Component " + next + "\");";
         ctl += " }\n";
       }
     }},
    {"symlinks",
     [](tree& t, long n, const std::string&, std::string&) {
       one_package(t);
       t.file("/p/d/f");
       t.dir("/p/l");
       for (long i = 0; i < n; ++i) t.link("../d/f", "/p/l/l" + std::to_string(i));
     }},
    {"hashpath",
     [](tree& t, long n, const std::string&, std::string&) {
       one_package(t);
       t.dir("/p/c");
       t.dir("/p/l");
       const colliding_names names("/c/", n);
       for (long i = 0; i < n; ++i) {
         t.file("/p/c/" + names[i]);
         t.link("../c/" + names[i], "/p/l/l" + std::to_string(i));
       }
     }},
    {"hashabs",
     [](tree& t, long n, const std::string& base, std::string& ctl) {
       one_package(t);
       t.dir("/p/c");
       const colliding_names names(base + "/dist/p/c/", n);
       ctl += "package(\"/p\", \"Package\", \"P\") {\n";
       for (long i = 0; i < n; ++i) {
         t.file("/p/c/" + names[i]);
         ctl += "  file(" + quoted("/c/" + names[i]) + ") { mode(0644) }\n";
       }
       ctl += "}\n";
     }},
    {"addexport",
     [](tree& t, long n, const std::string&, std::string& ctl) {
       one_package(t);
       t.file("/p/d/f");
       ctl += "package(\"/p\", \"Package\", \"P\") {\n  file(\"/d/f\") {\n";
       for (long i = 0; i < n; ++i) ctl += "    addexport(\"/e/x" + std::to_string(i) + "\", normal)\n";
       ctl += "  }\n}\n";
     }},
    {"deep",
     [](tree& t, long n, const std::string&, std::string&) {
       // Paths grow beyond PATH_MAX, so each level is made relative to the last.
       t.dir("/p");
       int fd = open((t.dist + "/p").c_str(), O_RDONLY | O_DIRECTORY);
       if (fd < 0) die("open /p");
       for (long i = 0; i < n; ++i) {
         const int f = openat(fd, "f", O_WRONLY | O_CREAT | O_TRUNC, 0644);
         if (f < 0 || write(f, "level\n", 6) != 6) die("level file");
         close(f);
         if (mkdirat(fd, "d", 0755) != 0) die("level directory");
         const int sub = openat(fd, "d", O_RDONLY | O_DIRECTORY);
         if (sub < 0) die("open level directory");
         close(fd);
         fd = sub;
         t.entries += 2;
       }
       close(fd);
     }},
    {"remove",
     [](tree& t, long n, const std::string&, std::string& ctl) {
       one_package(t);
       t.dir("/p/r");
       t.file("/p/kept");
       ctl += "package(\"/p\", \"Package\", \"P\") {\n";
       for (long i = 0; i < n; ++i) {
         t.file("/p/r/r" + std::to_string(i));
         ctl += "  remove(\"/r/r" + std::to_string(i) + "\")\n";
       }
       ctl += "}\n";
     }},
    {"verbatim",
     [](tree& t, long n, const std::string&, std::string& ctl) {
       one_package(t);
       t.file("/p/d/f");
       ctl += "package(\"/p\", \"Package\", \"P\") {\n";
       for (long i = 0; i < n; ++i) ctl += "  verbatim(\"# line " + std::to_string(i) + "\")\n";
       ctl += "}\n";
     }},
    {"define",
     [](tree& t, long n, const std::string&, std::string& ctl) {
       one_package(t);
       t.file("/p/d/f");
       for (long i = 0; i < n; ++i) ctl += "define(\"M" + std::to_string(i) + "\", \"value " + std::to_string(i) + "\")\n";
       for (long i = 0; i < n; ++i) ctl += "print(\"${M" + std::to_string(i) + "}\")\n";
     }},
};

void usage() {
  std::fprintf(stderr, "usage: genshape SHAPE BASE N\nshapes:");
  for (const auto& [name, fn] : shapes) std::fprintf(stderr, " %s", name.c_str());
  std::fprintf(stderr, "\n");
  std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) usage();
  auto shape = shapes.find(argv[1]);
  if (shape == shapes.end()) usage();
  const long n = std::atol(argv[3]);
  std::string base = argv[2];
  if (mkdir(base.c_str(), 0755) != 0) die("mkdir " + base);
  // The build paths the program hashes begin with the base directory as it
  // resolves it.
  char real[PATH_MAX];
  if (!realpath(base.c_str(), real)) die("realpath " + base);
  base = real;
  tree t{base + "/dist"};
  if (mkdir(t.dist.c_str(), 0755) != 0 || mkdir((base + "/input").c_str(), 0755) != 0) die("mkdir");
  std::string ctl;
  shape->second(t, n, base, ctl);
  if (!ctl.empty()) {
    std::ofstream out(base + ".ctl");
    out << ctl;
    if (!out.flush()) die("write " + base + ".ctl");
  }
  std::printf("%ld\n", t.entries);
  return 0;
}
