// Allocation that never fails towards its caller, and the text arena that
// holds the model's path texts for the whole run.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

/// Installs the new-handler that ends the process with
/// "could not allocate %d byte%s." when memory runs out.
void install_alloc_failure_handler();

/// Bump allocator for texts that live until the process ends; one
/// allocation per 1 MiB instead of one per text.
class Arena {
 public:
  /// A terminated copy of `s`, owned by the arena.
  const char* strdup(std::string_view s);
  /// `n` bytes, aligned for any object.
  void* alloc(std::size_t n);
  void clear() { blocks_.clear(); left_ = 0; cur_ = nullptr; }

 private:
  std::vector<std::unique_ptr<char[]>> blocks_;
  char* cur_ = nullptr;
  std::size_t left_ = 0;
};
