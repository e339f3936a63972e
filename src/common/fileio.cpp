#include "common/fileio.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cerrno>
#include <cstdarg>
#include <cstring>

bool read_dir_sorted(const char* path, std::vector<std::string>& names, const char** failed_call) {
  names.clear();
  UniqueDir d(path);
  if (!d) {
    if (failed_call) *failed_call = "opendir";
    return false;
  }
  for (;;) {
    // readdir tells the end of the listing from a failure only by errno.
    errno = 0;
    struct dirent* e = readdir(d.get());
    if (!e) break;
    const char* n = e->d_name;
    if (n[0] == '.' && (n[1] == '\0' || (n[1] == '.' && n[2] == '\0'))) continue;
    names.emplace_back(n);
  }
  if (errno != 0) {
    if (failed_call) *failed_call = "readdir";
    return false;
  }
  std::sort(names.begin(), names.end());
  return true;
}

void UniqueFd::reset(int fd) {
  if (fd_ >= 0) {
    const int e = errno;
    ::close(fd_);
    errno = e;
  }
  fd_ = fd;
}

bool stat_any_length(const std::string& path, struct stat& st) {
  if (path.size() < PATH_MAX) return stat(path.c_str(), &st) == 0;
  // Each piece ends at a '/' and is shorter than PATH_MAX; opening it from
  // the directory of the piece before resolves its components, links
  // included, as one call on the whole path would.
  std::size_t at = 0;
  UniqueFd dir(AT_FDCWD);
  if (path[0] == '/') {
    dir.reset(open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0) return false;
    at = 1;
  }
  while (path.size() - at >= PATH_MAX) {
    const std::size_t cut = path.rfind('/', at + PATH_MAX - 1);
    if (cut == std::string::npos || cut <= at) {
      errno = ENAMETOOLONG;  // one component longer than any name can be
      return false;
    }
    const std::string piece = path.substr(at, cut - at);
    dir.reset(openat(dir.get(), piece.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0) return false;
    at = cut + 1;
  }
  return fstatat(dir.get(), path.c_str() + at, &st, 0) == 0;
}

namespace {
constexpr std::size_t OUTPUT_BUFFER = std::size_t{1} << 20;
}  // namespace

bool UniqueFile::close() {
  if (!f_) return true;
  bool ok = std::ferror(f_) == 0;
  ok = (std::fclose(f_) == 0) && ok;
  f_ = nullptr;
  return ok;
}

int create_temp_beside(const std::string& path, std::string& tmp) {
  const std::size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash ? slash : 1);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  tmp = dir + "/." + base + ".XXXXXX";
  const int fd = mkstemp(tmp.data());
  if (fd < 0) {
    const int e = errno;
    tmp.clear();
    errno = e;
    return -1;
  }
  // Output files are ordinary readable files, not the private ones mkstemp makes.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  return fd;
}

OutputFile::OutputFile(std::string path) : path_(std::move(path)) {
  const int fd = create_temp_beside(path_, tmp_);
  if (fd < 0) return;
  f_ = fdopen(fd, "w");
  if (!f_) {
    ::close(fd);
    unlink(tmp_.c_str());
    tmp_.clear();
    return;
  }
  // Output files run to hundreds of megabytes for a large product; a large
  // buffer writes them in a few hundred calls instead of one per 4 KiB.
  buffer_ = std::make_unique_for_overwrite<char[]>(OUTPUT_BUFFER);
  setvbuf(f_, buffer_.get(), _IOFBF, OUTPUT_BUFFER);
}

OutputFile::~OutputFile() {
  if (f_) std::fclose(f_);
  if (!tmp_.empty()) unlink(tmp_.c_str());
}

void OutputFile::printf(const char* format, ...) {
  if (!f_) return;
  va_list ap;
  va_start(ap, format);
  std::vfprintf(f_, format, ap);
  va_end(ap);
}

void OutputFile::puts(const std::string& s) {
  if (f_) std::fwrite(s.data(), 1, s.size(), f_);
}

bool OutputFile::commit() {
  if (!f_) return false;
  bool ok = std::fflush(f_) == 0 && std::ferror(f_) == 0;
  ok = (std::fclose(f_) == 0) && ok;
  f_ = nullptr;
  if (ok) ok = std::rename(tmp_.c_str(), path_.c_str()) == 0;
  if (ok) tmp_.clear();
  return ok;
}

bool read_file(const std::string& path, std::string& out) {
  UniqueFile f(path.c_str(), "rb");
  if (!f) return false;
  out.clear();
  char buf[65536];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f.get())) > 0) out.append(buf, n);
  return std::ferror(f.get()) == 0;
}
