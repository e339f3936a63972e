// Placeholder record until the xml backend lands.
#include "backend/backend.hpp"

namespace {
void xml_produce() {}
}  // namespace

const backend xml_backend = [] {
  backend b;
  b.name = "xml";
  b.desc = "Generic XML representation";
  b.produce = xml_produce;
  return b;
}();
