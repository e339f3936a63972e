// Costs per call of what the scan and the assembly do for every entry.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/abspath.hpp"
#include "common/diag.hpp"
#include "common/hash.hpp"
#include "model/index.hpp"
#include "model/model.hpp"
#include "model/settings.hpp"

namespace {

const std::string DIST = "/build/product/dist";

std::string installed_path(std::size_t i) {
  return "/usr/share/corvane/d" + std::to_string(i % 97) + "/file" + std::to_string(i) + ".txt";
}

// A model of one package with `n` files and n/8 directories.
pkgptr_t fill_model(std::size_t n) {
  reset_settings();
  reset_model();
  opts.distdir = DIST;
  opts.distdirlen = DIST.size();
  pkgptr_t p = new_package("/pkg", "d", "PKG", "", 0);
  const std::string root = DIST + "/pkg";
  for (std::size_t i = 0; i < n; ++i) {
    dfileptr_t f = add_new_file(root + installed_path(i), p, 0);
    f->ino = (i * 7919) % n;
  }
  for (std::size_t i = 0; i < n / 8; ++i) add_new_directory(root + "/opt/d" + std::to_string(i), p, 0);
  return p;
}

void BM_mkhashval(benchmark::State& state) {
  const std::string path = DIST + "/pkg" + installed_path(12345);
  for (auto _ : state) benchmark::DoNotOptimize(mkhashval(path));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * path.size()));
}
BENCHMARK(BM_mkhashval);

void BM_abspath_link_target(benchmark::State& state) {
  const std::string cwd = DIST + "/pkg/usr/lib/sub";
  for (auto _ : state) benchmark::DoNotOptimize(abspath_from("../../lib/./x/../libc.so.1", cwd));
}
BENCHMARK(BM_abspath_link_target);

void BM_abspath_absolute(benchmark::State& state) {
  const std::string name = DIST + "/pkg//usr/./lib/../lib/libc.so.1";
  for (auto _ : state) benchmark::DoNotOptimize(abspath(name));
}
BENCHMARK(BM_abspath_absolute);

void BM_jputs_report(benchmark::State& state) {
  FILE* sink = std::fopen("/dev/null", "w");
  const std::string text = strprintf(
      "in package `%s', the control file declared attributes for the file `%s', but that file "
      "was not found during scanning.\n\n",
      "PKG", "/usr/share/corvane/some directory/file.txt");
  for (auto _ : state) benchmark::DoNotOptimize(jputs(8, 4, sink, text));
  std::fclose(sink);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_jputs_report);

void BM_find_path_in_flist(benchmark::State& state) {
  const std::size_t n = static_cast<std::size_t>(state.range(0));
  pkgptr_t p = fill_model(n);
  package_resize_and_sort(p);
  std::vector<std::string> keys;
  for (std::size_t i = 0; i < 1024; ++i) keys.push_back(installed_path((i * 104729) % n));
  std::size_t k = 0;
  for (auto _ : state) benchmark::DoNotOptimize(find_path_in_flist(keys[k++ & 1023], p->files_path));
  reset_model();
}
BENCHMARK(BM_find_path_in_flist)->Arg(1000)->Arg(100000);

void BM_checked_add_directory(benchmark::State& state) {
  const std::size_t n = static_cast<std::size_t>(state.range(0));
  pkgptr_t p = fill_model(n * 8);
  std::vector<std::string> keys;
  for (std::size_t i = 0; i < 1024; ++i)
    keys.push_back(DIST + "/pkg/opt/d" + std::to_string((i * 104729) % n));
  add_new_directory(keys[0], p, 2);  // builds the lookup outside the timing
  std::size_t k = 0;
  for (auto _ : state) benchmark::DoNotOptimize(add_new_directory(keys[k++ & 1023], p, 2));
  reset_model();
}
BENCHMARK(BM_checked_add_directory)->Arg(1000)->Arg(100000);

void BM_resize_and_sort_lists(benchmark::State& state) {
  const std::size_t n = static_cast<std::size_t>(state.range(0));
  pkgptr_t p = fill_model(n);
  for (auto _ : state) {
    resize_and_sort_lists();
    package_resize_and_sort(p);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * n));
  reset_model();
}
BENCHMARK(BM_resize_and_sort_lists)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace
