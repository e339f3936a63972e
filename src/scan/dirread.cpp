#include "scan/dirread.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

// One getdents64 call fills this much of the listing at a time.
constexpr std::size_t LISTING_BUFFER = std::size_t{64} << 10;
// Everyone's search bit: a directory with all three needs no search check.
constexpr mode_t SEARCH_BY_ALL = S_IXUSR | S_IXGRP | S_IXOTH;

void fail(dir_batch& batch, const char* call, int error) {
  batch.failed_call = call;
  batch.error = error;
}

// Looking up "." in a directory needs the right to search it, as entering
// it would; a listing alone needs only the right to read it.
bool may_search(int fd) {
  struct stat st;
  return fstatat(fd, ".", &st, 0) == 0;
}

// Reads the link `name` of `fd` onto the end of `out`, however long.
bool append_link(int fd, const char* name, off_t size_hint, std::string& out) {
  const std::size_t at = out.size();
  std::size_t cap = size_hint > 0 ? std::size_t(size_hint) + 1 : 256;
  for (;;) {
    out.resize(at + cap);
    const ssize_t n = readlinkat(fd, name, out.data() + at, cap);
    if (n < 0) {
      out.resize(at);
      return false;
    }
    if (std::size_t(n) < cap) {
      out.resize(at + std::size_t(n));
      return true;
    }
    cap *= 2;
  }
}

// The names of `fd` but "." and "..", each terminated in `batch.text`,
// one entry each; false (failure set) when the listing broke off.
bool list_names(int fd, dir_batch& batch, std::vector<char>& scratch) {
  scratch.resize(LISTING_BUFFER);
  for (;;) {
    const ssize_t n = getdents64(fd, scratch.data(), scratch.size());
    if (n == 0) return true;
    if (n < 0) {
      fail(batch, "readdir", errno);
      return false;
    }
    for (ssize_t at = 0; at < n;) {
      const auto* d = reinterpret_cast<const struct dirent64*>(scratch.data() + at);
      at += d->d_reclen;
      const char* nm = d->d_name;
      if (nm[0] == '.' && (nm[1] == '\0' || (nm[1] == '.' && nm[2] == '\0'))) continue;
      read_entry e;
      e.name = batch.text.size();
      e.name_len = std::char_traits<char>::length(nm);
      batch.text.append(nm, e.name_len + 1);
      batch.entries.push_back(e);
    }
  }
}

void stat_entry(int fd, dir_batch& batch, read_entry& e) {
  const char* name = batch.text.data() + e.name;
  struct stat st;
  if (fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
    e.stat_errno = errno;
    return;
  }
  e.mode = st.st_mode;
  e.uid = st.st_uid;
  e.gid = st.st_gid;
  e.nlink = st.st_nlink;
  e.size = st.st_size;
  e.ino = st.st_ino;
  e.dev = st.st_dev;
  if (!S_ISLNK(st.st_mode)) return;
  // The text grows here, so the name is found again by its offset.
  e.link = batch.text.size();
  std::string name_copy(name, e.name_len);
  if (!append_link(fd, name_copy.c_str(), st.st_size, batch.text)) {
    e.link_errno = errno;
    return;
  }
  e.link_len = batch.text.size() - e.link;
}

}  // namespace

void dir_batch::clear() {
  failed_call = nullptr;
  error = 0;
  text.clear();
  entries.clear();
}

int open_dir_for_listing(int at, const char* name, open_how how, dir_batch& batch) {
  const int nofollow = how.follow ? 0 : O_NOFOLLOW;
  const int fd = openat(at, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | nofollow);
  if (fd < 0) {
    const int error = errno;
    // Not readable: entering it may still have worked, and then only the
    // opening failed.
    UniqueFd path(error == EACCES ? openat(at, name, O_PATH | O_DIRECTORY | O_CLOEXEC | nofollow) : -1);
    if (path && may_search(path.get()))
      fail(batch, "opendir", error);
    else
      fail(batch, "chdir", path ? errno : error);
    return -1;
  }
  UniqueFd dir(fd);
  if (!how.searchable && !may_search(fd)) {
    fail(batch, "chdir", errno);
    return -1;
  }
  return dir.release();
}

void read_dir_batch(int fd, dir_batch& batch, std::vector<char>& scratch) {
  if (!list_names(fd, batch, scratch)) return;
  const char* text = batch.text.data();
  std::sort(batch.entries.begin(), batch.entries.end(), [text](const read_entry& a, const read_entry& b) {
    return std::string_view(text + a.name, a.name_len) < std::string_view(text + b.name, b.name_len);
  });
  for (read_entry& e : batch.entries) stat_entry(fd, batch, e);
}

int reopen_parent(int fd, dev_t dev, ino_t ino) {
  UniqueFd parent(openat(fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!parent) return -1;
  struct stat st;
  if (fstat(parent.get(), &st) != 0) return -1;
  if (st.st_dev != dev || st.st_ino != ino) {
    // The tree moved underneath the scan: ".." is no longer its parent.
    errno = ENOENT;
    return -1;
  }
  return parent.release();
}
