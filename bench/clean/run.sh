#!/usr/bin/env bash
# Cleans a pub folder of N files (default 100000) through the help centre's window and
# deletes the same files with `find -delete`, and prints both times and their ratio.
# It measures only; it never fails on a figure.
#
#   bench/clean/run.sh [N]
#   BUILD_DIR=... where the Release build goes (default: a folder under $TMPDIR)
set -euo pipefail

count="${1:-100000}"
case "$count" in '' | *[!0-9]*) echo "usage: $0 [number of files]" >&2; exit 2 ;; esac
source_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build_dir="${BUILD_DIR:-${TMPDIR:-/tmp}/qm-bench-clean}"

cmake -S "$source_dir/bench/clean" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build_dir" --target bench_clean -j2 >/dev/null

# The cleaner through the window.
window_out="$(QT_QPA_PLATFORM=offscreen "$build_dir/bench_clean" "$count" 2>/dev/null)"
echo "$window_out" | grep -v '^elapsed_ms '
window_ms="$(echo "$window_out" | awk '/^elapsed_ms /{print $2}')"

# The same files, deleted by find.
data="$(mktemp -d)"
trap 'rm -rf "$data"' EXIT
mkdir "$data/pub"
(cd "$data/pub" && seq -f 'file%.0f.dat' 0 $((count - 1)) | xargs -r touch)
sync
start=$(date +%s%N)
find "$data/pub" -type f -delete
end=$(date +%s%N)
find_ms="$(awk -v ns=$((end - start)) 'BEGIN{printf "%.1f", ns / 1e6}')"

awk -v n="$count" -v w="$window_ms" -v f="$find_ms" 'BEGIN{
    printf "%-28s %12s\n", "files", n
    printf "%-28s %12.1f ms\n", "cleaner (click to painted)", w
    printf "%-28s %12.1f ms\n", "find -type f -delete", f
    printf "%-28s %12.2f\n", "ratio cleaner / find", (f > 0 ? w / f : 0)
}'
