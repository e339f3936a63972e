// Allocation that ends the run instead of failing, and the text arena.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "common/alloc_failure.hpp"
#include "common/diag.hpp"
#include "common/memory.hpp"

// The sanitizer's allocator normally aborts on an impossible request; let
// it fail like the system allocator so the run's own report can be seen.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }

namespace {

// More than the address space holds, so no overcommit setting can grant it.
constexpr std::size_t HUGE_SIZE = std::size_t(1) << 48;

// Where the tests put what they allocate: an optimiser may drop an
// allocation whose result nobody reads, and with it the failure under test.
void* volatile sink = nullptr;

// Runs `f` as a run would: a run_exit ends the process with its status.
template <class F>
void as_run(F f) {
  try {
    f();
  } catch (const run_exit& e) {
    std::_Exit(e.status);
  }
  std::_Exit(0);
}

}  // namespace

TEST(Memory, ZeroFilledBlocks) {
  auto* p = static_cast<unsigned char*>(xmalloc(64));
  for (int i = 0; i < 64; ++i) EXPECT_EQ(p[i], 0);
  xfree(p);
  auto* r = static_cast<unsigned char*>(xrealloc(nullptr, 16));
  for (int i = 0; i < 16; ++i) EXPECT_EQ(r[i], 0);
  std::memset(r, 7, 16);
  r = static_cast<unsigned char*>(xrealloc(r, 32));
  EXPECT_EQ(r[15], 7);
  xfree(r);
  auto* c = static_cast<std::uint32_t*>(xcalloc(8, sizeof(std::uint32_t)));
  for (int i = 0; i < 8; ++i) EXPECT_EQ(c[i], 0u);
  xfree(c);
  char* s = xstrdup(nullptr);
  EXPECT_STREQ(s, "");
  xfree(s);
  s = xstrdup("text");
  EXPECT_STREQ(s, "text");
  xfree(s);
}

TEST(MemoryDeathTest, FailuresEndTheRunWithStatusOne) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(as_run([] { xfree(nullptr); }), ::testing::ExitedWithCode(1),
              "\nFATAL: free\\(NULL\\)\\? I think NOT!\n");
  EXPECT_EXIT(as_run([] { xmalloc(HUGE_SIZE); }), ::testing::ExitedWithCode(1),
              "\nFATAL: could not allocate 281474976710656 bytes.\n");
  EXPECT_EXIT(as_run([] { xcalloc(HUGE_SIZE, 1); }), ::testing::ExitedWithCode(1),
              "\nFATAL: could not allocate 281474976710656 x 1 byte.\n");
  EXPECT_EXIT(as_run([] { xrealloc(xmalloc(8), HUGE_SIZE); }), ::testing::ExitedWithCode(1),
              "\nFATAL: could not reallocate 281474976710656 bytes.\n");
}

TEST(MemoryDeathTest, NewReportsTheSizeAskedFor) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(as_run([] {
                install_alloc_failure_handler();
                std::string s;
                s.reserve(HUGE_SIZE);
                sink = s.data();
              }),
              ::testing::ExitedWithCode(1), "\nFATAL: could not allocate 281474976710657 bytes.\n");
  // Even where the report cannot be thrown to main, the run ends with 1.
  EXPECT_EXIT(as_run([] {
                install_alloc_failure_handler();
                [&]() noexcept { sink = ::operator new(HUGE_SIZE); }();
              }),
              ::testing::ExitedWithCode(1), "could not allocate 281474976710656 bytes");
}

TEST(Memory, NewWithoutHandlerThrowsBadAlloc) {
  std::new_handler old = std::set_new_handler(nullptr);
  EXPECT_THROW(sink = ::operator new(HUGE_SIZE), std::bad_alloc);
  EXPECT_EQ(::operator new(HUGE_SIZE, std::nothrow), nullptr);
  std::set_new_handler(old);
}

TEST(Memory, ArenaTexts) {
  Arena a;
  const char* x = a.strdup("abc");
  const char* y = a.strdup("");
  std::string big(page_block::HUGE_PAGE / 2 + 1, 'b');  // over a quarter block
  const char* z = a.strdup(big);
  const char* w = a.strdup("after");
  EXPECT_STREQ(x, "abc");
  EXPECT_STREQ(y, "");
  EXPECT_EQ(std::string(z), big);
  EXPECT_STREQ(w, "after");
  // A large text does not end the current block: small texts stay packed.
  EXPECT_EQ(w, y + 1);
  void* p = a.alloc(24);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % alignof(std::max_align_t), 0u);
  EXPECT_NE(a.alloc(1), p);
}

TEST(Memory, PageBlocks) {
  page_block small(10);
  EXPECT_GE(small.size(), 10u);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(small.data()) % 4096, 0u);
  page_block big(page_block::HUGE_PAGE);
  EXPECT_EQ(big.size(), page_block::HUGE_PAGE);
  // Aligned so that the system can back it with one huge page.
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(big.data()) % page_block::HUGE_PAGE, 0u);
  EXPECT_EQ(big.data()[0], 0);
  EXPECT_EQ(big.data()[big.size() - 1], 0);
  big.data()[big.size() - 1] = 'x';
  char* at = big.data();
  page_block moved(std::move(big));
  EXPECT_EQ(moved.data(), at);
  EXPECT_EQ(big.data(), nullptr);
  small = std::move(moved);
  EXPECT_EQ(small.data(), at);
  EXPECT_EQ(small.data()[small.size() - 1], 'x');
}
