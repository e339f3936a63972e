#include "common/memory.hpp"

#include <cstring>
#include <new>

#include "common/diag.hpp"
#include "common/strutil.hpp"

namespace {

constexpr std::size_t ARENA_BLOCK = 1 << 20;

void out_of_memory() {
  std::set_new_handler(nullptr);  // fatal() itself may allocate
  fatal("could not allocate %d byte%s.\n", 0, plural(0));
}

}  // namespace

void install_alloc_failure_handler() { std::set_new_handler(out_of_memory); }

void* Arena::alloc(std::size_t n) {
  n = (n + alignof(std::max_align_t) - 1) & ~(alignof(std::max_align_t) - 1);
  if (n > left_) {
    std::size_t size = n > ARENA_BLOCK ? n : ARENA_BLOCK;
    blocks_.emplace_back(new char[size]);
    cur_ = blocks_.back().get();
    left_ = size;
  }
  void* p = cur_;
  cur_ += n;
  left_ -= n;
  return p;
}

const char* Arena::strdup(std::string_view s) {
  // Texts need no alignment; take bytes directly to keep paths dense.
  std::size_t n = s.size() + 1;
  if (n > left_) {
    std::size_t size = n > ARENA_BLOCK ? n : ARENA_BLOCK;
    blocks_.emplace_back(new char[size]);
    cur_ = blocks_.back().get();
    left_ = size;
  }
  char* p = cur_;
  std::memcpy(p, s.data(), s.size());
  p[s.size()] = '\0';
  cur_ += n;
  left_ -= n;
  return p;
}
