// Placeholder until the package scan lands.
#include "scan/scan.hpp"

void process_package(const char*) {}
