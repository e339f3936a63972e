// Placeholder record until the kest backend lands.
#include "backend/backend.hpp"

namespace {
void kest_produce() {}
}  // namespace

const backend kest_backend = [] {
  backend b;
  b.name = "kest";
  b.desc = "Instor Distribution Mastering Toolkit (KEST)";
  b.produce = kest_produce;
  return b;
}();
