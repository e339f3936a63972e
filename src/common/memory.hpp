// Allocation that never fails towards its caller, and the text arena that
// holds the model's path texts for the whole run.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

/// What the process keeps for the moment memory runs out. One per process,
/// defined in memory.cpp; not part of a run's state, so no reset puts it
/// back. A program fills it when it installs the allocation-failure
/// handler (alloc_failure.hpp); without that handler (the test programs)
/// nothing is held back.
struct OutOfMemory {
  /// Given back just before the fatal report, so that the report can
  /// still format and print its message; null when none is held.
  void* reserve = nullptr;
  /// The size the last failing `new` asked for, for the handler's report.
  std::size_t failed_request = 0;
};

extern OutOfMemory oom;

/// Readies the fatal report of exhausted memory: gives the reserve back,
/// and makes sure the run ends with status 1 even if the report's throw
/// passes a function that cannot throw.
void before_oom_report();

/// Zero-filled block of `size` bytes; ends the run when there is no memory.
void* xmalloc(std::size_t size);
/// Zero-filled block of count x size bytes; ends the run when there is no memory.
void* xcalloc(std::size_t count, std::size_t size);
/// `ptr` resized to `size` bytes (new bytes not cleared); a null `ptr`
/// behaves as xmalloc(size). Ends the run when there is no memory.
void* xrealloc(void* ptr, std::size_t size);
/// malloc'ed copy of `s`; a null `s` gives a new empty string.
char* xstrdup(const char* s);
/// Releases a block of the functions above; a null `ptr` is fatal.
void xfree(void* ptr);

/// A block of whole pages taken straight from the system, for the model's
/// large blocks. A block of at least a huge page is aligned to huge pages
/// and advised for them, so where the system offers transparent huge pages
/// a million entries fault in a few hundred times instead of a hundred
/// thousand. Zero-filled; move-only; given back when destroyed. Ends the
/// run, as `new` does, when there is no memory.
class page_block {
 public:
  static constexpr std::size_t HUGE_PAGE = std::size_t{2} << 20;

  explicit page_block(std::size_t size);
  page_block(page_block&& o) noexcept : data_(o.data_), size_(o.size_), mapped_(o.mapped_) {
    o.data_ = nullptr;
    o.size_ = 0;
  }
  page_block& operator=(page_block&& o) noexcept;
  page_block(const page_block&) = delete;
  page_block& operator=(const page_block&) = delete;
  ~page_block() { release(); }

  char* data() const { return data_; }
  std::size_t size() const { return size_; }

 private:
  void release() noexcept;

  char* data_ = nullptr;
  std::size_t size_ = 0;
  bool mapped_ = false;  ///< from mmap; otherwise from malloc, when mapping failed
};

/// Bump allocator for texts that live until the process ends; one
/// allocation per huge page instead of one per text.
class Arena {
 public:
  /// A terminated copy of `s`, owned by the arena.
  const char* strdup(std::string_view s);
  /// `n` bytes, aligned for any object.
  void* alloc(std::size_t n);
  void clear() { blocks_.clear(); left_ = 0; cur_ = nullptr; }

 private:
  char* take(std::size_t n);

  std::vector<page_block> blocks_;
  char* cur_ = nullptr;
  std::size_t left_ = 0;
};
