// Info files of one directory are compressed with gzip; anything else
// there is left alone.
#include "prep/texi.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/diag.hpp"
#include "common/fileio.hpp"
#include "model/settings.hpp"
#include "prep/confine.hpp"
#include "prep/shellcmd.hpp"

namespace {

/// How much of a file is searched for the marks of an Info file.
constexpr std::size_t info_probe_size = 8192;

/// Texts only an Info file holds near its start: makeinfo's signature, or
/// the node separator (0x1F, a new line, then the node header).
constexpr const char* info_marks[] = {
    "produced by makeinfo", "produced by Makeinfo", "makeinfo version",
    "#\nFile:", "#\nIndirect:", "\x1f\nFile:", "\x1f\nIndirect:",
};

bool compressed_already(const std::string& name) {
  std::size_t dot = name.rfind('.');
  return dot != std::string::npos && name.compare(dot, std::string::npos, ".gz") == 0;
}

}  // namespace

int is_infofile(const char* path) {
  UniqueFile f(path, "rb");
  if (!f) return 0;
  std::string head(info_probe_size, '\0');
  std::size_t n = std::fread(head.data(), 1, head.size(), f.get());
  if (n == 0) return 0;
  // Like a C string search, the text ends at its first zero byte.
  head.resize(std::min(n, head.find('\0')));
  for (const char* mark : info_marks) {
    if (head.find(mark) != std::string::npos) return 1;
  }
  return 0;
}

int texi_directory(const char* dir) {
  // Without its final "/", so that a link is seen as one.
  std::string named(dir);
  while (named.size() > 1 && named.back() == '/') named.pop_back();
  if (opts.distdir && !directory_inside_tree(named, *opts.distdir)) return -1;
  char* resolved = realpath(dir, nullptr);
  if (!resolved) {
    error("failed to get full path for '%c%s%c'\n", SECT_MARK, dir, SECT_MARK);
    exit_run(1);
  }
  std::string base = std::string(resolved) + "/";
  std::free(resolved);
  std::vector<std::string> names;
  if (!read_dir_sorted(base.c_str(), names)) return -1;
  for (const std::string& name : names) {
    if (name[0] == '.' || compressed_already(name)) continue;
    std::string path = base + name;
    // gzip refuses links and special files and fails the run; a link is
    // another name of a file compressed under its own name.
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (!is_infofile(path.c_str())) continue;
    std::string cmd = "gzip -9 " + shell_operand(path) + " > /dev/null 2>&1";
    if (int rc = run_shell(cmd)) {
      error("command '%c%s%c' returned %d\n", SECT_MARK, path.c_str(), SECT_MARK, rc);
      exit_run(1);
    }
  }
  return 0;
}
