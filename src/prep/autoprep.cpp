// The preparation run: one walk over the dist tree that formats manual-page
// directories, compresses Info directories and strips objects and reworks
// their comment sections, as the settings and the environment ask.
#include "prep/autoprep.hpp"

#include <fnmatch.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <vector>

#include "common/diag.hpp"
#include "common/fileio.hpp"
#include "model/model.hpp"
#include "model/settings.hpp"
#include "prep/shellcmd.hpp"
#include "prep/tessel.hpp"
#include "prep/texi.hpp"

#ifndef CORVANE_STRIP_CMD
#define CORVANE_STRIP_CMD "/bin/strip"
#endif
#ifndef CORVANE_AR_CMD
#define CORVANE_AR_CMD "/bin/ar -ts"
#endif
#ifndef CORVANE_MCS_INSTALLED
#define CORVANE_MCS_INSTALLED "/usr/local/bin/corvane-mcs"
#endif

Autoprep autoprep_state;

void reset_autoprep() { autoprep_state = Autoprep{}; }

namespace {

/// The variable's value, or `dflt` when it is unset or empty (an empty
/// command would run the prepared file itself).
std::string env_or(const char* name, const std::string& dflt) {
  const char* v = std::getenv(name);
  return v && *v ? std::string(v) : dflt;
}

/// `name` in the directory of the running program, when it is executable there.
std::optional<std::string> beside_self(const char* name) {
  std::string exe(4096, '\0');
  ssize_t n = readlink("/proc/self/exe", exe.data(), exe.size());
  if (n <= 0 || static_cast<std::size_t>(n) >= exe.size()) return std::nullopt;
  exe.resize(n);
  std::string path = exe.substr(0, exe.rfind('/') + 1) + name;
  if (access(path.c_str(), X_OK) != 0) return std::nullopt;
  return path;
}

bool matches(const char* pattern, const std::string& text) {
  return fnmatch(pattern, text.c_str(), 0) == 0;
}

/// The path from the dist directory on ("/pkg/usr/bin/x"; "" for dist itself).
std::string dist_relative(const std::string& path) {
  return path.substr(std::min(path.size(), opts.distdir->size()));
}

/// The same without its leading "/", as the progress lines show it.
const char* shown(const std::string& rel) { return rel.c_str() + (rel.empty() ? 0 : 1); }

void collect_removed(Autoprep& a) {
  a.removed.clear();
  for (const strnode& n : model.removes) {
    std::string s = n.str;
    while (!s.empty() && s.back() == '/') s.pop_back();
    a.removed.insert(std::move(s));
  }
}

/// True when the file begins like an object the tools work on: an ELF
/// file or an archive. Candidates are chosen by name and mode, so scripts
/// and data files are among them, and a tool refusing those is no fault.
bool looks_like_object(const std::string& path) {
  static constexpr std::string_view elf_magic("\x7f" "ELF", 4), ar_magic("!<arch>\n");
  std::string head(ar_magic.size(), '\0');
  UniqueFile f(path.c_str(), "rb");
  if (!f) return false;
  head.resize(std::fread(head.data(), 1, head.size(), f.get()));
  return head.starts_with(elf_magic) || head == ar_magic;
}

/// Runs one tool on `path` with its output discarded. A tool that cannot
/// be run at all (126, 127), or that fails on an actual object, is an
/// error: a missing or broken strip must not pass for a stripped tree.
void run_tool(const std::string& cmd, const std::string& args, const std::string& path) {
  std::string line = cmd + " " + args + " > /dev/null 2>&1";
  int rc = run_shell(line);
  if (rc == 0) return;
  if (rc == 126 || rc == 127 || looks_like_object(path)) error("command `%s' returned %d.\n", line.c_str(), rc);
}

/// A directory is formatted or compressed when its path says it holds
/// manual-page sources or Info files.
void prepare_directory(const Autoprep& a, const std::string& path, const std::string& rel) {
  if (a.wanttessel && (matches("*/man/*/man*", rel) || matches("*/man/man*", rel))) {
    std::printf("   Formatting man pages in %s ... ", shown(rel));
    std::fflush(stdout);
    int rc = tessel_directory(path.c_str());
    if (rc == 0) std::printf("done\n");
    else std::printf("done (failed with %d)\n", rc);
  } else if (a.wanttexi && (matches("*/info", rel) || matches("*/texinfo", rel))) {
    std::printf("   Compressing info pages in %s ... ", shown(rel));
    std::fflush(stdout);
    int rc = texi_directory(path.c_str());
    if (rc == 0) std::printf("done\n");
    else std::printf("done (failed with %d)\n", rc);
  }
}

void prepare_object_file(const Autoprep& a, const std::string& path, const std::string& rel,
                         const struct stat& st) {
  std::string name = path.substr(path.rfind('/') + 1);
  bool archive = !a.mcsbug && name.ends_with(".a");
  bool object = archive || (st.st_mode & 0111) || matches("*.so.*", name) || name.ends_with(".so") ||
                name.ends_with(".dll") || (!a.mcsbug && name.ends_with(".o"));
  if (!object) return;
  std::string file = shell_operand(path);
  if (a.wantstrip & stripreq::run) {
    if (a.beverbose) std::printf("   stripping %s\n", shown(rel));
    run_tool(a.stripcmd, file, path);
  }
  if (a.wantstrip & stripreq::delete_comment) {
    if (a.beverbose) std::printf("   mcsing %s\n", shown(rel));
    run_tool(a.mcscmd, "-d " + file, path);
  }
  if (!a.wantmcsadd.empty()) {
    if (a.beverbose) std::printf("   mcs -a '%s' %s\n", a.wantmcsadd.c_str(), shown(rel));
    run_tool(a.mcscmd, "-a " + shell_word(a.wantmcsadd) + " " + file, path);
  }
  // Stripping an archive's members drops its symbol table.
  if (archive) run_tool(a.arcmd, file, path);
}

/// Walks the tree under `root` in byte order of names, each directory
/// before its contents. Links are not followed: what they point to inside
/// the tree is met under its own name, and what lies outside is not ours.
/// A removed directory is not entered.
void walk_dist_tree(const Autoprep& a, const std::string& root) {
  struct level {
    std::string dir;
    std::vector<std::string> names;
    std::size_t next = 0;
  };
  std::vector<level> open;
  auto visit = [&](const std::string& path, bool follow) {
    struct stat st;
    if ((follow ? stat(path.c_str(), &st) : lstat(path.c_str(), &st)) != 0) return;
    if (S_ISLNK(st.st_mode) || a.removed.count(dist_relative(path))) return;
    autoprep(path, st, st.st_mode & S_IFMT);
    level next{path, {}, 0};
    if (S_ISDIR(st.st_mode) && read_dir_sorted(path.c_str(), next.names)) open.push_back(std::move(next));
  };
  visit(root, true);
  while (!open.empty()) {
    level& top = open.back();
    if (top.next == top.names.size()) {
      open.pop_back();
      continue;
    }
    std::string path = top.dir + "/" + top.names[top.next++];
    visit(path, false);
  }
}

}  // namespace

ManFormatter corvane_formatter() {
  ManFormatter f = default_formatter();
  f.tree = &opts.distdir;
  return f;
}

std::string default_mcscmd() {
  if (auto p = beside_self("corvane-mcs")) return shell_word(*p);
  return shell_word(CORVANE_MCS_INSTALLED);
}

int autoprep(const std::string& path, const struct stat& st, int type) {
  const Autoprep& a = autoprep_state;
  std::string rel = dist_relative(path);
  if (type == S_IFDIR) prepare_directory(a, path, rel);
  else if (type == S_IFREG && a.wantstrip >= 1) prepare_object_file(a, path, rel, st);
  return 0;
}

void do_autoprep(int fmt, int texi, int strip, const char* mcstext) {
  Autoprep& a = autoprep_state;
  if (!opts.ctlfile) {
    // Without a control file only what -I names runs; its autostrip means
    // both stripping and comment deletion.
    fmt = fmt == PREP_RUN;
    texi = texi == PREP_RUN;
    strip = strip == PREP_RUN ? stripreq::run | stripreq::delete_comment : 0;
  }
  a.wanttessel = fmt;
  a.wanttexi = texi;
  a.wantstrip = strip;
  a.wantmcsadd = mcstext ? mcstext : "";
  a.stripcmd = env_or("CORVANE_STRIPCMD", CORVANE_STRIP_CMD);
  a.mcscmd = env_or("CORVANE_MCSCMD", default_mcscmd());
  a.arcmd = env_or("CORVANE_ARCMD", CORVANE_AR_CMD);
  if (std::getenv("CORVANE_MCSBUG")) a.mcsbug = true;
  if (opts.autotessel == PREP_OFF) a.wanttessel = 0;
  if (opts.autotexi == PREP_OFF) a.wanttexi = 0;
  if (opts.autostrip == PREP_OFF) a.wantstrip = 0;
  a.beverbose = std::getenv("CORVANE_VERBOSE") != nullptr;
  if (!opts.distdir || !(a.wanttessel || a.wanttexi || a.wantstrip)) return;
  collect_removed(a);
  walk_dist_tree(a, *opts.distdir);
}
