// Archives: each ELF member is edited on its own, since objcopy would give
// every member the same comment section, and the archive is written anew
// with its symbol table rebuilt (member offsets change with their sizes).
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/fileio.hpp"
#include "prep/mcs/mcs.hpp"

#ifndef CORVANE_AR
#define CORVANE_AR "ar"
#endif

namespace {

constexpr std::size_t header_size = 60;
constexpr std::size_t size_field = 48, size_width = 10;

struct ar_member {
  std::string header;  ///< the 60-byte member header as read
  std::string data;
};

/// Members of `data` after the archive magic; false when the layout is broken.
bool read_members(const std::string& data, std::vector<ar_member>& members) {
  std::size_t pos = 8;
  while (pos < data.size()) {
    if (data.size() - pos < header_size || data.compare(pos + 58, 2, "`\n") != 0) return false;
    std::string header = data.substr(pos, header_size);
    std::string field = header.substr(size_field, size_width);
    char* end = nullptr;
    errno = 0;
    unsigned long long n = std::strtoull(field.c_str(), &end, 10);
    if (errno || end == field.c_str()) return false;
    pos += header_size;
    if (n > data.size() - pos) return false;
    members.push_back({std::move(header), data.substr(pos, n)});
    pos += n + (n & 1);
  }
  return true;
}

/// The linker's index of the archive ("/" or "/SYM64/"), rebuilt afterwards.
bool is_symbol_index(const ar_member& m) {
  return m.header.starts_with("/ ") || m.header.starts_with("/SYM64/");
}

bool edit_member(ar_member& m, const comment_edit& edit, const scratch_dir& tmp) {
  if (!m.data.starts_with(std::string_view("\x7f" "ELF", 4))) return true;
  std::string path = tmp.file("member.o");
  {
    UniqueFile f(path.c_str(), "wb");
    if (!f || std::fwrite(m.data.data(), 1, m.data.size(), f.get()) != m.data.size() || !f.close())
      return false;
  }
  if (!edit_elf_comment(path, edit, tmp) || !read_file(path, m.data)) return false;
  std::string field = std::to_string(m.data.size());
  if (field.size() > size_width) return false;
  field.resize(size_width, ' ');
  m.header.replace(size_field, size_width, field);
  return true;
}

}  // namespace

bool edit_archive_comments(const std::string& path, const std::string& data, const comment_edit& edit,
                           const scratch_dir& tmp) {
  std::vector<ar_member> members;
  if (!read_members(data, members)) {
    std::fprintf(stderr, "corvane-mcs: `%s' is a damaged archive\n", path.c_str());
    return false;
  }
  bool indexed = false;
  for (ar_member& m : members) {
    if (is_symbol_index(m)) {
      indexed = true;
    } else if (!edit_member(m, edit, tmp)) {
      std::fprintf(stderr, "corvane-mcs: cannot edit a member of `%s'\n", path.c_str());
      return false;
    }
  }
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  OutputFile out(path);
  if (!out.ok()) {
    std::fprintf(stderr, "corvane-mcs: cannot write `%s': %s\n", path.c_str(), std::strerror(errno));
    return false;
  }
  fchmod(fileno(out.get()), st.st_mode & 07777);
  out.puts("!<arch>\n");
  for (const ar_member& m : members) {
    if (is_symbol_index(m)) continue;
    out.puts(m.header);
    out.puts(m.data);
    if (m.data.size() & 1) out.puts("\n");
  }
  if (!out.commit()) {
    std::fprintf(stderr, "corvane-mcs: failed to write to `%s'.\n", path.c_str());
    return false;
  }
  return !indexed || run_program({CORVANE_AR, "s", path}) == 0;
}
