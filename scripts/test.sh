#!/usr/bin/env bash
# Builds the help centre and runs every test: a short fuzzing run of the readers of
# outside input, the tests under the sanitizers, then the plain build and its tests, among
# them the Debian package made from it (ctest -L package).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$here/build}
"$here/scripts/deps.sh"

# A short fuzzing run of every reader of outside input (FUZZ_SECONDS each, 0 to skip).
fuzz_seconds=${FUZZ_SECONDS:-20}
if [ "$fuzz_seconds" -gt 0 ]; then
  echo "== fuzzing, ${fuzz_seconds}s per reader"
  FUZZ_BUILD_DIR=${FUZZ_BUILD_DIR:-$here/build-fuzz} "$here/fuzz/run.sh" "$fuzz_seconds"
fi

# Every test again, built with AddressSanitizer and UndefinedBehaviorSanitizer (GCC).
# LeakSanitizer works on this kind of machine and stays on; any report fails the test.
# The Debian package is made and checked from the plain build only.
if [ "${QM_SANITIZE_TESTS:-1}" != 0 ]; then
  asan=${ASAN_BUILD_DIR:-$here/build-asan}
  echo "== tests under AddressSanitizer and UndefinedBehaviorSanitizer, in $asan"
  cmake -S "$here" -B "$asan" -DCMAKE_BUILD_TYPE=Debug -DQM_SANITIZE=ON -DQM_BUILD_TESTS=ON >/dev/null
  cmake --build "$asan" -j"$(nproc)" >"$asan/build.log" 2>&1 || { tail -50 "$asan/build.log"; exit 1; }
  (cd "$asan" && ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=0} \
    UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} \
    ctest --output-on-failure -j"$(nproc)" --label-exclude package)
fi

# The plain build and its tests come last, so that ctest's summary closes the output.
echo "== tests"
"$here/scripts/build.sh" -DQM_BUILD_TESTS=ON
cd "$build"
ctest --output-on-failure -j"$(nproc)"
