// The registry's table: the driver links every backend, so the backend
// core never needs to know which ones exist. One line per backend.
#include "driver/backends.hpp"

#include "backend/backend.hpp"
#include "backend/kest/kest.hpp"
#include "backend/pkgadd/pkgadd.hpp"
#include "backend/xml/xml.hpp"

namespace {

constexpr const backend* builtin_backends[] = {
    &kest_backend,
    &pkgadd_backend,
    &xml_backend,
};

}  // namespace

void initialize_backends() { install_backends(builtin_backends); }
