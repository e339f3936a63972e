// The files one backend run writes, committed as one set: each file is
// written under a temporary name beside its final name, and only when
// every file of the set has been written and closed without error are they
// renamed into place. A run that fails on the way (a full disk, a
// directory it cannot write, an error reported while writing) leaves every
// file of an earlier run as it was and no temporary file behind.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/diag.hpp"

class OutputSet {
 public:
  /// One file of the set, written through a large buffer. A write or close
  /// that fails ends the run at once ("failed to write to `PATH'."), and the
  /// set then removes what it made.
  class File {
   public:
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File();

    void printf(const char* format, ...) CORVANE_PRINTF(2, 3);
    void puts(std::string_view text);
    /// The final name of the file.
    const std::string& path() const { return path_; }

   private:
    friend class OutputSet;
    File(std::string path, std::string tmp, int fd, std::unique_ptr<char[]> buffer);
    void write_out(const char* data, std::size_t size);
    void flush();
    void close();
    [[noreturn]] void fail(const char* label) const;

    std::string path_;
    std::string tmp_;     ///< temporary name; empty once renamed or removed
    std::string backup_;  ///< second name of the earlier file while the set is renamed
    bool had_earlier_ = false;  ///< a file of this name was there before the set
    int fd_ = -1;
    std::unique_ptr<char[]> buffer_;
    std::size_t used_ = 0;
  };

  /// Starts a set; errors reported from now on keep it from being committed.
  OutputSet();
  /// Removes whatever was not committed: temporary files and the
  /// directories the set made.
  ~OutputSet();
  OutputSet(const OutputSet&) = delete;
  OutputSet& operator=(const OutputSet&) = delete;

  /// Starts the file that will be `path`. Fatal when the temporary file
  /// cannot be made.
  File& create(std::string path);
  /// Writes out the rest of `file` and closes it; fatal on failure.
  void close(File& file);
  /// Makes the directory `path` (mode 0755) for files of the set; one that
  /// exists is used as it is. Fatal on failure; removed again when the set
  /// is not committed.
  void make_directory(const std::string& path);
  /// Renames every file into place, in the order they were created. False,
  /// with nothing replaced, when an error was reported since the set began
  /// (the run then ends on that error). A rename that fails is fatal after
  /// the files already renamed have been put back.
  bool commit();

 private:
  void keep_earlier_files();
  void put_back(std::size_t renamed);
  void discard();

  std::vector<std::unique_ptr<File>> files_;
  /// Buffers of closed files, for the next ones: a product of many
  /// packages makes many files, each needing a large buffer for a while.
  std::vector<std::unique_ptr<char[]>> spare_buffers_;
  std::vector<std::string> made_dirs_;
  int errors_at_start_;
  bool committed_ = false;
};
