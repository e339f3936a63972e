// corvane-mcs [-d] [-a text]... file...
// The comment-section tool the preparation runs: -d deletes the section,
// -a appends a text to it (after -d: makes it the only text). Works on ELF
// objects and on archives of them.
#include "prep/mcs/mcs.hpp"

#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "common/fileio.hpp"

#ifndef CORVANE_OBJCOPY
#define CORVANE_OBJCOPY "objcopy"
#endif

extern char** environ;

namespace {

constexpr std::string_view elf_magic("\x7f" "ELF", 4);
constexpr std::string_view ar_magic("!<arch>\n");

int usage() {
  std::fprintf(stderr, "usage: corvane-mcs [-d] [-a text]... file...\n");
  return 2;
}

bool write_whole_file(const std::string& path, const std::string& data) {
  UniqueFile f(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(data.data(), 1, data.size(), f.get()) == data.size();
  return f.close() && ok;
}

bool process_file(const std::string& path, const comment_edit& edit, const scratch_dir& tmp) {
  std::string data;
  if (!read_file(path, data)) {
    std::fprintf(stderr, "corvane-mcs: cannot read `%s': %s\n", path.c_str(), std::strerror(errno));
    return false;
  }
  if (data.starts_with(elf_magic)) return edit_elf_comment(path, edit, tmp);
  if (data.starts_with(ar_magic)) return edit_archive_comments(path, data, edit, tmp);
  std::fprintf(stderr, "corvane-mcs: `%s' is neither an ELF file nor an archive\n", path.c_str());
  return false;
}

}  // namespace

scratch_dir::scratch_dir() {
  const char* t = std::getenv("TMPDIR");
  std::string tmpl = std::string(t && *t ? t : "/tmp") + "/corvane-mcs.XXXXXX";
  if (mkdtemp(tmpl.data())) path_ = tmpl;
}

scratch_dir::~scratch_dir() {
  std::error_code ec;
  if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

int run_program(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid;
  if (posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) return 127;
  int st = 0;
  while (waitpid(pid, &st, 0) < 0) {
    if (errno != EINTR) return 127;
  }
  return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}

bool edit_elf_comment(const std::string& path, const comment_edit& edit, const scratch_dir& tmp) {
  if (edit.appends.empty()) {
    if (!edit.remove) return true;
    return run_program({CORVANE_OBJCOPY, "--remove-section=.comment", path}) == 0;
  }
  std::string dump = tmp.file("comment"), copy = tmp.file("copy"), fresh = tmp.file("new");
  unlink(dump.c_str());
  // objcopy only warns about a missing section; whether the dump exists tells.
  if (run_program({CORVANE_OBJCOPY, "--dump-section", ".comment=" + dump, path, copy}) != 0) return false;
  std::string content;
  bool had = access(dump.c_str(), F_OK) == 0;
  if (had && !edit.remove && !read_file(dump, content)) return false;
  for (const std::string& text : edit.appends) {
    content += text;
    content += '\0';
  }
  if (!write_whole_file(fresh, content)) {
    std::fprintf(stderr, "corvane-mcs: cannot write `%s'\n", fresh.c_str());
    return false;
  }
  const char* how = had ? "--update-section" : "--add-section";
  return run_program({CORVANE_OBJCOPY, how, ".comment=" + fresh, path}) == 0;
}

int main(int argc, char** argv) {
  comment_edit edit;
  int i = 1;
  for (; i < argc && argv[i][0] == '-'; ++i) {
    std::string_view a(argv[i]);
    if (a == "--") {
      ++i;
      break;
    }
    if (a == "-d") edit.remove = true;
    else if (a == "-a" && i + 1 < argc) edit.appends.emplace_back(argv[++i]);
    else if (a.starts_with("-a") && a.size() > 2) edit.appends.emplace_back(a.substr(2));
    else return usage();
  }
  if (i == argc || (!edit.remove && edit.appends.empty())) return usage();
  scratch_dir tmp;
  if (!tmp.ok()) {
    std::perror("corvane-mcs: mkdtemp");
    return 1;
  }
  int status = 0;
  for (; i < argc; ++i) {
    // objcopy and ar would take a name beginning with "-" for an option,
    // and read one beginning with "@" as a file of options.
    std::string path = argv[i];
    if (path.starts_with('-') || path.starts_with('@')) path = "./" + path;
    if (!process_file(path, edit, tmp)) status = 1;
  }
  return status;
}
