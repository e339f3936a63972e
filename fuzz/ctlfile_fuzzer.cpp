// libFuzzer target for the control-file lexer and parser: every input is
// read as a control file in both passes. Run it with fuzz/run_fuzz.sh.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "fuzz_input.hpp"

namespace {

std::string jail;

void write_text(const std::string& path, const std::string& text) {
  if (FILE* f = std::fopen(path.c_str(), "w")) {
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char dir[] = "/tmp/corvane-fuzz-XXXXXX";
  if (!mkdtemp(dir)) {
    std::perror("mkdtemp");
    std::abort();
  }
  jail = dir;
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(jail, ignored);
  });
  mkdir((jail + "/dist").c_str(), 0755);
  write_fuzz_includes(jail, write_text);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  read_fuzz_input(std::string_view(reinterpret_cast<const char*>(data), size), jail);
  return 0;
}
