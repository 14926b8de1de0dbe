#!/usr/bin/env bash
# Builds the fuzz targets with Debian's clang (libFuzzer, ASan, UBSan) and fuzzes each for
# a short while from the seed corpus in fuzz/corpus/<target>. New inputs go to a scratch
# folder, never into the repository; a crash leaves its input in the build folder and
# fails the run.
#
#   fuzz/run.sh [SECONDS]        seconds per target (default 25)
#   FUZZ_BUILD_DIR=...           where the fuzzers are built (default: a folder under $TMPDIR)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD_DIR:-${TMPDIR:-/tmp}/qm-build-fuzz}
seconds=${1:-25}
compiler=$(command -v clang++-14 || command -v clang++)

cmake -S "$here/fuzz" -B "$build" -DCMAKE_CXX_COMPILER="$compiler" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# gVisor-like sandboxes and ptrace-less containers can break LeakSanitizer's stop-the-world;
# where it works it stays on.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
status=0
for target in config userreg winepath vdf; do
  mkdir "$scratch/$target"
  echo "== fuzzing $target for ${seconds}s"
  if ! (cd "$build" && "./fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
        -dict="$here/fuzz/$target.dict" -print_final_stats=1 \
        "$scratch/$target" "$here/fuzz/corpus/$target" >"$scratch/$target.log" 2>&1); then
    tail -60 "$scratch/$target.log"
    echo "fuzz_$target found a fault; its input is in $build (crash-*, leak-*, timeout-*)" >&2
    status=1
  else
    grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "$scratch/$target.log" | sed 's/^/   /' || true
    echo "   corpus: $(ls "$scratch/$target" | wc -l) new inputs kept for this run only"
  fi
done
exit $status
