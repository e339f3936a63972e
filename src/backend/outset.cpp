#include "backend/outset.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>

#include "common/fileio.hpp"

namespace {

// Output files run to hundreds of megabytes for a large product; a large
// buffer writes them in a few hundred calls instead of one per 4 KiB.
constexpr std::size_t OUTPUT_BUFFER = std::size_t{1} << 20;

// Tries for a free unpredictable name when linking the earlier file.
constexpr int BACKUP_ATTEMPTS = 16;

}  // namespace

// ---- One file -------------------------------------------------------------

OutputSet::File::File(std::string path, std::string tmp, int fd, std::unique_ptr<char[]> buffer)
    : path_(std::move(path)), tmp_(std::move(tmp)), fd_(fd), buffer_(std::move(buffer)) {}

OutputSet::File::~File() {
  if (fd_ >= 0) ::close(fd_);
}

void OutputSet::File::fail(const char* label) const {
  perror_label(label);
  fatal("failed to write to `%s'.\n", path_.c_str());
}

void OutputSet::File::write_out(const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd_, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      fail("\nwrite");
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

void OutputSet::File::flush() {
  write_out(buffer_.get(), used_);
  used_ = 0;
}

void OutputSet::File::puts(std::string_view text) {
  if (text.size() > OUTPUT_BUFFER - used_) {
    flush();
    if (text.size() >= OUTPUT_BUFFER) {
      write_out(text.data(), text.size());
      return;
    }
  }
  text.copy(buffer_.get() + used_, text.size());
  used_ += text.size();
}

void OutputSet::File::printf(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  va_list again;
  va_copy(again, ap);
  // Formatted straight into the buffer; only a text that does not fit in
  // the room left is formatted a second time.
  const std::size_t room = OUTPUT_BUFFER - used_;
  const int n = std::vsnprintf(buffer_.get() + used_, room, format, ap);
  va_end(ap);
  if (n >= 0 && static_cast<std::size_t>(n) < room) {
    used_ += static_cast<std::size_t>(n);
  } else if (n >= 0) {
    puts(vstrprintf(format, again));
  }
  va_end(again);
}

void OutputSet::File::close() {
  flush();
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) fail("\nclose");
}

// ---- The set --------------------------------------------------------------

OutputSet::OutputSet() : errors_at_start_(diag.errors) {}

OutputSet::~OutputSet() {
  if (!committed_) discard();
}

OutputSet::File& OutputSet::create(std::string path) {
  std::string tmp;
  const int fd = create_temp_beside(path, tmp);
  if (fd < 0) {
    perror_label("\nmkstemp");
    fatal("failed to write to `%s'.\n", path.c_str());
  }
  std::unique_ptr<char[]> buffer;
  if (spare_buffers_.empty()) {
    buffer = std::make_unique_for_overwrite<char[]>(OUTPUT_BUFFER);
  } else {
    buffer = std::move(spare_buffers_.back());
    spare_buffers_.pop_back();
  }
  files_.push_back(
      std::unique_ptr<File>(new File(std::move(path), std::move(tmp), fd, std::move(buffer))));
  return *files_.back();
}

void OutputSet::close(File& file) {
  file.close();
  spare_buffers_.push_back(std::move(file.buffer_));
}

void OutputSet::make_directory(const std::string& path) {
  if (mkdir(path.c_str(), 0755) == 0) {
    made_dirs_.push_back(path);
    return;
  }
  if (errno == EEXIST) return;
  perror_label("\nmkdir");
  fatal("failed to create directory `%s'.\n", path.c_str());
}

// A second name for each earlier file, so that it can be put back if a
// later rename of the set fails. A directory in the way needs none (the
// rename onto it fails and changes nothing), and a file system without
// hard links gets none.
void OutputSet::keep_earlier_files() {
  for (const auto& f : files_) {
    struct stat st;
    if (lstat(f->path_.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) continue;
    f->had_earlier_ = true;
    for (int attempt = 0; attempt < BACKUP_ATTEMPTS; ++attempt) {
      std::string name;
      const int fd = create_temp_beside(f->path_, name);
      if (fd < 0) break;
      ::close(fd);
      unlink(name.c_str());
      if (link(f->path_.c_str(), name.c_str()) == 0) {
        f->backup_ = std::move(name);
        break;
      }
      if (errno != EEXIST) break;
    }
  }
}

// Undoes the first `renamed` renames, last first: the earlier file comes
// back under its name, or the name goes again when there was none. An
// earlier file that cannot be put back stays under its second name rather
// than be lost.
void OutputSet::put_back(std::size_t renamed) {
  while (renamed > 0) {
    File& f = *files_[--renamed];
    if (!f.backup_.empty())
      std::rename(f.backup_.c_str(), f.path_.c_str());
    else if (!f.had_earlier_)
      unlink(f.path_.c_str());
    f.backup_.clear();
  }
}

bool OutputSet::commit() {
  if (diag.errors != errors_at_start_) return false;
  for (const auto& f : files_)
    if (f->fd_ >= 0) close(*f);
  keep_earlier_files();
  for (std::size_t i = 0; i < files_.size(); ++i) {
    File& f = *files_[i];
    if (std::rename(f.tmp_.c_str(), f.path_.c_str()) != 0) {
      const int e = errno;
      put_back(i);
      errno = e;
      f.fail("\nrename");
    }
    f.tmp_.clear();
  }
  committed_ = true;
  for (const auto& f : files_)
    if (!f->backup_.empty()) unlink(f->backup_.c_str());
  return true;
}

void OutputSet::discard() {
  for (const auto& f : files_) {
    if (f->fd_ >= 0) {
      ::close(f->fd_);
      f->fd_ = -1;
    }
    if (!f->tmp_.empty()) unlink(f->tmp_.c_str());
    if (!f->backup_.empty()) unlink(f->backup_.c_str());
  }
  for (auto d = made_dirs_.rbegin(); d != made_dirs_.rend(); ++d) rmdir(d->c_str());
}
