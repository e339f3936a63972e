// The one string hash of the system. It is only a prefilter: every lookup
// that matches by hash also compares the text, so two different texts are
// never one key.
#pragma once

#include <cstdint>
#include <string_view>

/// One step of the hash: the byte `c` taken into the state `h`.
constexpr std::uint32_t mkhash_step(std::uint32_t h, unsigned char c) { return (h * 16777619u) ^ c; }

/// The hash of a text that begins with a text of hash `h` and goes on with `s`.
constexpr std::uint32_t mkhashval_from(std::uint32_t h, std::string_view s) {
  for (unsigned char c : s) h = mkhash_step(h, c);
  return h;
}

/// h = (h * 16777619) XOR byte, from h = 0: "" -> 0, "a" -> 97, "ab" -> 1627429073.
constexpr std::uint32_t mkhashval(std::string_view s) { return mkhashval_from(0, s); }
