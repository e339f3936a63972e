#include "prep/confine.hpp"

#include <sys/stat.h>

#include <cstdlib>

#include "common/diag.hpp"

namespace {

bool is_symlink(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

}  // namespace

std::optional<std::string> real_path(const std::string& path) {
  char* r = realpath(path.c_str(), nullptr);
  if (!r) return std::nullopt;
  std::string s(r);
  std::free(r);
  return s;
}

bool path_within(std::string_view path, std::string_view root) {
  if (root == "/") return path.starts_with('/');
  if (!path.starts_with(root)) return false;
  return path.size() == root.size() || path[root.size()] == '/';
}

bool directory_inside_tree(const std::string& dir, const std::string& tree) {
  auto root = real_path(tree);
  if (!exists(dir)) {
    // It would be made in its parent, which must then be inside.
    auto parent = real_path(dir.substr(0, dir.find_last_of('/') + 1));
    if (!parent || path_within(*parent, root ? *root : tree)) return true;
  } else if (is_symlink(dir)) {
    error("directory `%s' is a symbolic link; not prepared.\n", dir.c_str());
    return false;
  } else if (auto real = real_path(dir); real && path_within(*real, root ? *root : tree)) {
    return true;
  }
  error("directory `%s' lies outside the dist directory `%s'; not prepared.\n", dir.c_str(), tree.c_str());
  return false;
}

bool link_stays_within(const std::string& dir, const std::string& root) {
  if (!is_symlink(dir)) return true;
  auto real = real_path(dir);
  if (!real) return true;
  auto real_root = real_path(root);
  if (path_within(*real, real_root ? *real_root : root)) return true;
  error("directory `%s' is a symbolic link leading out of `%s'; not prepared.\n", dir.c_str(), root.c_str());
  return false;
}
