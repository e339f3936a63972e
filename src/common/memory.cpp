#include "common/memory.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>

#include "common/diag.hpp"
#include "common/strutil.hpp"

OutOfMemory oom;

namespace {

constexpr std::size_t ARENA_BLOCK = page_block::HUGE_PAGE;
// Texts larger than this get a block of their own, so that the rest of the
// current block is not thrown away.
constexpr std::size_t ARENA_OWN_BLOCK = ARENA_BLOCK / 4;

[[noreturn]] void end_after_report() { _exit(1); }

}  // namespace

void before_oom_report() {
  std::free(oom.reserve);
  oom.reserve = nullptr;
  std::set_new_handler(nullptr);
  std::set_terminate(end_after_report);
}

void* xmalloc(std::size_t size) {
  void* p = std::calloc(1, size ? size : 1);
  if (!p) {
    before_oom_report();
    fatal("could not allocate %zu byte%s.\n", size, plural(size));
  }
  return p;
}

void* xcalloc(std::size_t count, std::size_t size) {
  void* p = std::calloc(count ? count : 1, size ? size : 1);
  if (!p) {
    before_oom_report();
    fatal("could not allocate %zu x %zu byte%s.\n", count, size, plural(size));
  }
  return p;
}

void* xrealloc(void* ptr, std::size_t size) {
  if (!ptr) return xmalloc(size);
  void* p = std::realloc(ptr, size ? size : 1);
  if (!p) {
    before_oom_report();
    fatal("could not reallocate %zu byte%s.\n", size, plural(size));
  }
  return p;
}

char* xstrdup(const char* s) {
  char* p = ::strdup(s ? s : "");
  if (!p) {
    before_oom_report();
    fatal("could not duplicate string.\n");
  }
  return p;
}

void xfree(void* ptr) {
  if (!ptr) fatal("free(NULL)? I think NOT!\n");
  std::free(ptr);
}

page_block::page_block(std::size_t size) {
  const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  size_ = (std::max<std::size_t>(size, 1) + page - 1) / page * page;
  // Over-map by one huge page and cut the mapping back to an aligned run,
  // since only aligned runs can be backed by huge pages.
  const bool huge = size_ >= HUGE_PAGE;
  const std::size_t span = huge ? size_ + HUGE_PAGE : size_;
  void* p = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) {
    data_ = static_cast<char*>(xmalloc(size_));
    return;
  }
  char* base = static_cast<char*>(p);
  char* start = base;
  if (huge) {
    const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(base);
    start = base + ((HUGE_PAGE - at % HUGE_PAGE) % HUGE_PAGE);
    if (start > base) munmap(base, static_cast<std::size_t>(start - base));
    char* end = start + size_;
    if (end < base + span) munmap(end, static_cast<std::size_t>(base + span - end));
#ifdef MADV_HUGEPAGE
    madvise(start, size_, MADV_HUGEPAGE);  // only advice: without it, normal pages
#endif
  }
  data_ = start;
  mapped_ = true;
}

page_block& page_block::operator=(page_block&& o) noexcept {
  if (this != &o) {
    release();
    data_ = o.data_;
    size_ = o.size_;
    mapped_ = o.mapped_;
    o.data_ = nullptr;
    o.size_ = 0;
  }
  return *this;
}

void page_block::release() noexcept {
  if (!data_) return;
  if (mapped_)
    munmap(data_, size_);
  else
    std::free(data_);
  data_ = nullptr;
  size_ = 0;
}

char* Arena::take(std::size_t n) {
  if (n > ARENA_OWN_BLOCK) {
    blocks_.emplace_back(n);
    return blocks_.back().data();
  }
  if (n > left_) {
    blocks_.emplace_back(ARENA_BLOCK);
    cur_ = blocks_.back().data();
    left_ = ARENA_BLOCK;
  }
  char* p = cur_;
  cur_ += n;
  left_ -= n;
  return p;
}

void* Arena::alloc(std::size_t n) {
  constexpr std::size_t align = alignof(std::max_align_t);
  // Blocks start on a page boundary, which aligns for any object; keep the bump
  // pointer aligned as well.
  std::size_t pad = reinterpret_cast<std::uintptr_t>(cur_) % align;
  if (pad && left_ >= align - pad) {
    cur_ += align - pad;
    left_ -= align - pad;
  } else if (pad) {
    left_ = 0;
  }
  n = (n + align - 1) & ~(align - 1);
  return take(n ? n : align);
}

const char* Arena::strdup(std::string_view s) {
  // Texts need no alignment; they are packed to keep paths dense.
  char* p = take(s.size() + 1);
  std::memcpy(p, s.data(), s.size());
  p[s.size()] = '\0';
  return p;
}
