#!/bin/sh
# Builds the control-file fuzzer with clang and runs it for a bounded time
# over a seed corpus: the example control files, the hand-written seeds and
# every regression case found so far. Each new crash, time-out or leak is
# copied into tests/ctlfile/fuzz_cases/, where the ctlfile tests read it.
#
#   sh fuzz/run_fuzz.sh [SECONDS] [BUILD_DIR]
#
# SECONDS defaults to 60, BUILD_DIR to build/fuzz. Needs clang (apt-get
# install clang). The exit status is the fuzzer's: 0 when it found nothing.
set -e
secs=${1:-60}
src=$(cd "$(dirname "$0")/.." && pwd)
build=${2:-$src/build/fuzz}
cases=$src/tests/ctlfile/fuzz_cases

command -v clang++ >/dev/null || { echo "run_fuzz.sh: clang++ not found (apt-get install clang)" >&2; exit 2; }
cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DCORVANE_FUZZ=ON -DCORVANE_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target ctlfile_fuzzer

corpus=$build/fuzz-corpus
artifacts=$build/fuzz-artifacts
mkdir -p "$corpus" "$artifacts" "$cases"
rm -f "$artifacts"/*  # earlier finds are in $cases already
for seed in "$src"/examples/*.ctl "$src"/fuzz/seeds/* "$cases"/*; do
  [ -f "$seed" ] && cp "$seed" "$corpus/seed-$(basename "$seed")"
done

status=0
# Output of the reader goes nowhere (-close_fd_mask=3); the fuzzer's own
# reports still reach standard error.
"$build/bin/ctlfile_fuzzer" -max_total_time="$secs" -timeout=10 -rss_limit_mb=2048 \
  -max_len=200000 -close_fd_mask=3 -dict="$src/fuzz/ctlfile.dict" \
  -artifact_prefix="$artifacts/" "$corpus" || status=$?

for a in "$artifacts"/crash-* "$artifacts"/timeout-* "$artifacts"/leak-* "$artifacts"/oom-*; do
  [ -f "$a" ] || continue
  cp "$a" "$cases/$(basename "$a").ctl"
  echo "run_fuzz.sh: new regression case tests/ctlfile/fuzz_cases/$(basename "$a").ctl" >&2
done
exit "$status"
