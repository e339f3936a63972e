// The one string hash of the system. It is only a prefilter: every lookup
// that matches by hash also compares the text, so two different texts are
// never one key.
#pragma once

#include <cstdint>
#include <string_view>

/// h = (h * 16777619) XOR byte, from h = 0: "" -> 0, "a" -> 97, "ab" -> 1627429073.
constexpr std::uint32_t mkhashval(std::string_view s);

/// The hash of a text that begins with a text of hash `h` and goes on with `s`.
constexpr std::uint32_t mkhashval_from(std::uint32_t h, std::string_view s) {
  for (unsigned char c : s) h = (h * 16777619u) ^ c;
  return h;
}

constexpr std::uint32_t mkhashval(std::string_view s) { return mkhashval_from(0, s); }
