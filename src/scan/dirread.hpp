// Reading one directory of a package tree by descriptor: its names in byte
// order, each entry's own status and, for a symbolic link, its text. The
// reading never changes the working directory, so it can run beside the
// model's work, and a tree may be deeper than any path the system takes.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/fileio.hpp"

/// One entry of a directory as the reader found it.
struct read_entry {
  std::size_t name = 0, name_len = 0;  ///< the name, in the batch's text
  std::size_t link = 0, link_len = 0;  ///< a symbolic link's text, in the batch's text
  int stat_errno = 0;  ///< lstat failed with this error; nothing below is valid
  int link_errno = 0;  ///< a link whose text could not be read
  mode_t mode = 0;
  uid_t uid = 0;
  gid_t gid = 0;
  nlink_t nlink = 0;
  off_t size = 0;
  ino_t ino = 0;
  dev_t dev = 0;
};

/// One directory as the reader found it. When it could not be listed,
/// `failed_call` names the call as the scan reports it ("chdir" when the
/// directory cannot be entered, "opendir" when it cannot be opened,
/// "readdir" when its listing broke off) and `error` holds errno.
struct dir_batch {
  const char* failed_call = nullptr;
  int error = 0;
  std::string text;  ///< names and link texts of the entries
  std::vector<read_entry> entries;  ///< in byte order of their names

  std::string_view name(const read_entry& e) const { return {text.data() + e.name, e.name_len}; }
  std::string_view link(const read_entry& e) const { return {text.data() + e.link, e.link_len}; }
  void clear();
};

/// How a directory is opened for listing.
struct open_how {
  bool follow = false;  ///< a package root may be a symbolic link to its tree
  bool searchable = false;  ///< its mode lets everyone search it: no check needed
};

/// Opens the directory `name` of the directory `at` (AT_FDCWD for a full
/// path) for listing, failing as entering and then opening it would: a
/// directory that may not be searched fails as "chdir", one that may not
/// be read as "opendir". Returns the descriptor, or -1 with `batch`'s
/// failure set.
int open_dir_for_listing(int at, const char* name, open_how how, dir_batch& batch);

/// Fills `batch` from the open directory `fd`: the names but "." and ".."
/// in byte order, each with its lstat and link text (scratch: a reusable
/// buffer for the raw listing).
void read_dir_batch(int fd, dir_batch& batch, std::vector<char>& scratch);

/// The parent of the open directory `fd`, opened by "..", but only when it
/// is still the directory `dev`/`ino`; -1 with errno set otherwise.
int reopen_parent(int fd, dev_t dev, ino_t ino);
