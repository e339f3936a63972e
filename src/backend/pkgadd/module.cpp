// Placeholder record until the pkgadd backend lands.
#include "backend/backend.hpp"

namespace {
void pkgadd_produce() {}
}  // namespace

const backend pkgadd_backend = [] {
  backend b;
  b.name = "pkgadd";
  b.desc = "UNIX System V Release 4 Packaging System (pkgadd)";
  b.produce = pkgadd_produce;
  return b;
}();
