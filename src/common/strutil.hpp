// Small text helpers.
#pragma once

#include <string>
#include <string_view>

/// Upper-case copy of `s`.
std::string strupper(std::string_view s);
/// Lower-case copy of `s`.
std::string strlower(std::string_view s);

/// Concatenation of all arguments.
template <class... T>
std::string strxcat(std::string_view first, const T&... rest) {
  std::string r(first);
  (r.append(std::string_view(rest)), ...);
  return r;
}

/// The singular suffix when `n` is exactly 1, the plural one otherwise.
inline const char* plural(long long n, const char* one = "", const char* many = "s") {
  return n == 1 ? one : many;
}

/// True when `s` begins with `prefix`.
inline bool starts_with(std::string_view s, std::string_view prefix) { return s.starts_with(prefix); }
