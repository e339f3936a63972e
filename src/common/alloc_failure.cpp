// The replaced global allocation functions and the new-handler that turns
// a failed allocation into the run's fatal report.
#include "common/alloc_failure.hpp"

#include <cstdlib>
#include <new>

#include "common/diag.hpp"
#include "common/memory.hpp"
#include "common/strutil.hpp"

namespace {

// Given back when memory runs out, so that the fatal report can still
// format and print its message.
constexpr std::size_t RESERVE_SIZE = 256 * 1024;

void out_of_memory() {
  const std::size_t n = oom.failed_request;
  oom.failed_request = 0;
  before_oom_report();
  fatal("could not allocate %zu byte%s.\n", n, plural(n));
}

void* new_block(std::size_t n) {
  if (n == 0) n = 1;
  for (;;) {
    if (void* p = std::malloc(n)) return p;
    std::new_handler h = std::get_new_handler();
    if (!h) throw std::bad_alloc();
    oom.failed_request = n;
    h();
  }
}

}  // namespace

// The global allocation functions are replaced so that the new-handler
// knows the size that could not be had. They allocate with malloc and
// release with free, in every form whose partner is replaced too.
void* operator new(std::size_t n) { return new_block(n); }
void* operator new[](std::size_t n) { return new_block(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  try {
    return new_block(n);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
  try {
    return new_block(n);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

void install_alloc_failure_handler() {
  if (!oom.reserve) oom.reserve = std::malloc(RESERVE_SIZE);
  std::set_new_handler(out_of_memory);
}
