// Owners for directory streams, stdio files and output files that appear
// only when completely written.
#pragma once

#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

/// Owns a DIR*; closes it when it goes.
class UniqueDir {
 public:
  explicit UniqueDir(const char* path) : d_(opendir(path)) {}
  ~UniqueDir() { if (d_) closedir(d_); }
  UniqueDir(const UniqueDir&) = delete;
  UniqueDir& operator=(const UniqueDir&) = delete;
  explicit operator bool() const { return d_ != nullptr; }
  DIR* get() const { return d_; }

 private:
  DIR* d_;
};

/// Owns a file descriptor; closes it when it goes, keeping errno.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
  UniqueFd& operator=(UniqueFd&& o) noexcept {
    if (this != &o) reset(o.fd_), o.fd_ = -1;
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { reset(-1); }

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  void reset(int fd);
  /// Gives the descriptor up to the caller.
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_ = -1;
};

/// Names of the entries of directory `path` except "." and "..", in byte
/// order, so every file system gives the same visiting order. False when
/// the directory cannot be opened or read (errno set, and the failing
/// call's name, "opendir" or "readdir", in `*failed_call` when given).
bool read_dir_sorted(const char* path, std::vector<std::string>& names,
                     const char** failed_call = nullptr);

/// stat() of `path`, following links, also when the path is longer than
/// the system takes in one call (a deep tree): such a path is walked in
/// pieces. False with errno set when it fails.
bool stat_any_length(const std::string& path, struct stat& st);

/// Owns a FILE*; closes it when it goes.
class UniqueFile {
 public:
  UniqueFile() = default;
  UniqueFile(const char* path, const char* mode) : f_(std::fopen(path, mode)) {}
  ~UniqueFile() { if (f_) std::fclose(f_); }
  UniqueFile(const UniqueFile&) = delete;
  UniqueFile& operator=(const UniqueFile&) = delete;
  explicit operator bool() const { return f_ != nullptr; }
  FILE* get() const { return f_; }
  /// Closes now; false if the close reported a write error.
  bool close();

 private:
  FILE* f_ = nullptr;
};

/// Creates a file to be renamed to `path` later: in the same directory (so
/// the rename is atomic), under a hidden name of unpredictable letters,
/// created exclusively, with the mode an ordinary new file gets. Returns
/// its descriptor and sets `tmp` to its name; -1 (errno set) on failure.
int create_temp_beside(const std::string& path, std::string& tmp);

/// An output file written under a temporary name beside its final name
/// and renamed into place by commit(); dropped without commit() it leaves
/// nothing behind, so a failed run never leaves a half-written file.
class OutputFile {
 public:
  /// Opens a temporary file in the directory of `path`; check with ok().
  explicit OutputFile(std::string path);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  bool ok() const { return f_ != nullptr; }
  FILE* get() const { return f_; }
  const std::string& path() const { return path_; }
  /// fprintf to the file.
  void printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void puts(const std::string& s);
  /// Flushes, closes and renames into place; false when any step failed
  /// (the temporary file is then removed).
  bool commit();

 private:
  std::string path_;
  std::string tmp_;
  std::unique_ptr<char[]> buffer_;  ///< stdio buffer of f_; f_ is closed before members go
  FILE* f_ = nullptr;
};

/// Reads a whole file; false when it cannot be read.
bool read_file(const std::string& path, std::string& out);
