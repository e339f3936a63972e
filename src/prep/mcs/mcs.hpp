// corvane-mcs: deletes or appends to the comment section of ELF objects and
// of the members of archives, by way of objcopy.
#pragma once

#include <string>
#include <vector>

/// What to do to each comment section.
struct comment_edit {
  bool remove = false;               ///< -d: the old contents go
  std::vector<std::string> appends;  ///< -a: texts appended, each ending in a zero byte
};

/// A private directory for intermediate files, removed with its contents.
class scratch_dir {
 public:
  scratch_dir();
  ~scratch_dir();
  scratch_dir(const scratch_dir&) = delete;
  scratch_dir& operator=(const scratch_dir&) = delete;
  bool ok() const { return !path_.empty(); }
  std::string file(const char* name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

/// Runs `argv` (no shell); returns its exit status, 127 when it cannot start.
int run_program(const std::vector<std::string>& argv);

/// Applies `edit` to the ELF file `path` in place; false (with a message)
/// when objcopy cannot handle it.
bool edit_elf_comment(const std::string& path, const comment_edit& edit, const scratch_dir& tmp);

/// Applies `edit` to every ELF member of the archive `data` (read from
/// `path`) and writes the archive back; false with a message on failure.
bool edit_archive_comments(const std::string& path, const std::string& data, const comment_edit& edit,
                           const scratch_dir& tmp);
