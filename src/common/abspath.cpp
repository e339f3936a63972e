#include "common/abspath.hpp"

#include <unistd.h>

#include <cerrno>

namespace {

// Folds "", "." and ".." components of the text after `start`, which is
// taken as already normal; ".." never climbs above the first slash.
void fold_components(std::string& s, std::size_t start) {
  std::size_t out = start;
  for (std::size_t in = start; in < s.size(); ++in) {
    s[out++] = s[in];
    if (s[out - 1] != '/' || out == 1) continue;
    std::size_t comp = out - 1;  // position of the new slash
    if (comp >= 1 && s[comp - 1] == '/') {
      out = comp;  // empty component
    } else if (comp >= 2 && s[comp - 1] == '.' && s[comp - 2] == '/') {
      out = comp - 1;  // "."
    } else if (comp >= 3 && s[comp - 1] == '.' && s[comp - 2] == '.' && s[comp - 3] == '/') {
      std::size_t prev = comp - 3;  // slash before ".."
      if (prev == 0) {
        out = 1;
      } else {
        std::size_t back = s.rfind('/', prev - 1);
        out = (back == std::string::npos ? 0 : back) + 1;
      }
    }
  }
  s.resize(out);
  if (s.size() > 1 && s.back() == '/') s.pop_back();
}

}  // namespace

std::optional<std::string> abspath_from(std::string_view name, std::string_view cwd) {
  if (name.empty()) {
    errno = ENOENT;
    return std::nullopt;
  }
  std::string s;
  std::size_t start = 0;
  if (name.front() != '/') {
    s.assign(cwd);
    if (s.empty() || s.back() != '/') s.push_back('/');
    start = s.size();
  }
  s.append(name);
  s.push_back('/');
  fold_components(s, start);
  return s;
}

std::optional<std::string> abspath(std::string_view name) {
  if (name.empty()) {
    errno = ENOENT;
    return std::nullopt;
  }
  if (name.front() == '/') return abspath_from(name, "");
  std::string cwd(256, '\0');
  while (!getcwd(cwd.data(), cwd.size())) {
    if (errno != ERANGE) return std::nullopt;
    cwd.resize(cwd.size() * 2);
  }
  cwd.resize(cwd.find('\0'));
  return abspath_from(name, cwd);
}

std::optional<std::string> abspath(const char* name) {
  if (!name) {
    errno = EINVAL;
    return std::nullopt;
  }
  return abspath(std::string_view(name));
}
