#!/usr/bin/env bash
# Builds the help centre and its benchmark programs in Release and prints, in one run on
# this machine, each figure beside its reference. It measures and reports; it asserts
# nothing and fails only when something cannot be built or started.
#
#   bench/run.sh                 everything
#   RUNS=15                      start-up runs of each program (medians are printed)
#   BENCH_BUILD_DIR=...          where the Release build goes (default: a folder under $TMPDIR)
#   BENCH_WINDOWS=0              leaves out the Windows program under Wine
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${BENCH_BUILD_DIR:-${TMPDIR:-/tmp}/qm-build-bench}
runs=${RUNS:-15}

"$here/scripts/deps.sh" libxcb1-dev time xvfb iproute2 util-linux wine wine32 fonts-wine
echo "== building (Release) in $build"
cmake -S "$here/bench" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null

work=$(mktemp -d)
xvfb=""
cleanup() { [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"

median() { sort -g | awk '{v[NR]=$1} END {if (NR == 0) print "-"; else if (NR%2) print v[(NR+1)/2]; else print (v[NR/2]+v[NR/2+1])/2}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN{printf "%.2fx", (b > 0 ? a / b : 0)}'; }

echo
echo "== machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'), kernel $(uname -r)"

# ---------------------------------------------------------------------------------------
echo
echo "== start-up to the first mapped window, and peak memory ($runs runs each, medians)"
echo "   each program is started by bench/mapwait on one Xvfb display (QT_QPA_PLATFORM=xcb):"
echo "   time from exec to the X server's MapNotify of its window; peak RSS (wait4) 300 ms later."
echo "   The help centre runs on an empty Wine prefix (WINEPREFIX is an empty folder), so it"
echo "   opens on the folder prompt, as it does for a player without the game."
display=:$((200 + RANDOM % 300))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 100); do DISPLAY=$display xdpyinfo >/dev/null 2>&1 && break; sleep 0.05; done
mkdir "$work/prefix"
: >"$work/bare.txt"; : >"$work/label.txt"; : >"$work/app.txt"
for _ in $(seq "$runs"); do
  # Interleaved, so that a change in the machine's load falls on all three alike.
  # A run whose window never appeared counts as missing, not as a figure.
  DISPLAY=$display QT_QPA_PLATFORM=xcb "$build/mapwait" 1 300 "$build/bare_window" >>"$work/bare.txt" 2>/dev/null || true
  DISPLAY=$display QT_QPA_PLATFORM=xcb "$build/mapwait" 1 300 "$build/bare_label" >>"$work/label.txt" 2>/dev/null || true
  DISPLAY=$display QT_QPA_PLATFORM=xcb WINEPREFIX=$work/prefix \
    "$build/mapwait" 1 300 "$build/helpcentre/app/quenmar-helpcentre" >>"$work/app.txt" 2>/dev/null || true
done
kill "$xvfb" 2>/dev/null; xvfb=""
column() { cut -d' ' -f"$1" "$2" | median; }
runs_of() { wc -l <"$1"; }
bare_ms=$(column 1 "$work/bare.txt"); bare_kb=$(column 2 "$work/bare.txt"); bare_anon=$(column 3 "$work/bare.txt")
label_ms=$(column 1 "$work/label.txt"); label_kb=$(column 2 "$work/label.txt"); label_anon=$(column 3 "$work/label.txt")
app_ms=$(column 1 "$work/app.txt"); app_kb=$(column 2 "$work/app.txt"); app_anon=$(column 3 "$work/app.txt")
printf "   %-34s %5s %9s %14s %16s\n" "program" "runs" "start ms" "peak RSS KiB" "anonymous KiB"
printf "   %-34s %5s %9s %14s %16s\n" "bare window 535x392 (reference)" "$(runs_of "$work/bare.txt")" "$bare_ms" "$bare_kb" "$bare_anon"
printf "   %-34s %5s %9s %14s %16s\n" "bare window with one label" "$(runs_of "$work/label.txt")" "$label_ms" "$label_kb" "$label_anon"
printf "   %-34s %5s %9s %14s %16s\n" "help centre" "$(runs_of "$work/app.txt")" "$app_ms" "$app_kb" "$app_anon"
echo "   help centre / bare window: time $(ratio "$app_ms" "$bare_ms") (target <= 2x), peak RSS $(ratio "$app_kb" "$bare_kb") (target <= 1.3x), anonymous $(ratio "$app_anon" "$bare_anon")"
echo "   help centre / window with a label: time $(ratio "$app_ms" "$label_ms"), peak RSS $(ratio "$app_kb" "$label_kb"), anonymous $(ratio "$app_anon" "$label_anon")"
echo "   (peak RSS counts the pages of the libraries and font files a program maps; anonymous"
echo "   memory is what it allocated itself)"

# ---------------------------------------------------------------------------------------
echo
echo "== the Windows program under Wine: start-up to the first mapped window, and peak memory"
echo "   ($runs runs each, medians), against a bare Qt window of 535x392 built with the same"
echo "   static Qt and started the same way (wine PROGRAM.exe, by bench/mapwait, on one Xvfb"
echo "   display, with the prefix's wineserver already running). The prefix is empty: the help"
echo "   centre opens on its folder prompt."
if [ "${BENCH_WINDOWS:-1}" != 0 ]; then
  windows_build=${BENCH_WINDOWS_BUILD_DIR:-$build-windows}
  WINDOWS_BUILD_DIR=$windows_build "$here/scripts/build-windows.sh" >/dev/null
  qt_cmake=$(ls -d "${XDG_CACHE_HOME:-$HOME/.cache}"/quenmar-helpcentre/qt6-base-*-i686-w64-mingw32-static/bin/qt-cmake | head -1)
  "$qt_cmake" -S "$here/bench/windows" -B "$windows_build-bench" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$windows_build-bench" >/dev/null
  Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb=$!
  for _ in $(seq 100); do DISPLAY=$display xdpyinfo >/dev/null 2>&1 && break; sleep 0.05; done
  export WINEPREFIX=$work/wine WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  DISPLAY=$display wineboot -i >/dev/null 2>&1
  wineserver -p  # stays up between the runs, as it does on a player's desktop
  : >"$work/wbare.txt"; : >"$work/wapp.txt"
  for _ in $(seq "$runs"); do
    DISPLAY=$display "$build/mapwait" 1 300 wine "$windows_build-bench/bare_window.exe" >>"$work/wbare.txt" 2>/dev/null || true
    DISPLAY=$display "$build/mapwait" 1 300 wine "$windows_build/app/quenmar-helpcentre.exe" >>"$work/wapp.txt" 2>/dev/null || true
  done
  wineserver -k; unset WINEPREFIX WINEARCH
  kill "$xvfb" 2>/dev/null; xvfb=""
  wbare_ms=$(column 1 "$work/wbare.txt"); wbare_kb=$(column 2 "$work/wbare.txt")
  wapp_ms=$(column 1 "$work/wapp.txt"); wapp_kb=$(column 2 "$work/wapp.txt")
  printf "   %-34s %5s %9s %14s\n" "program" "runs" "start ms" "peak RSS KiB"
  printf "   %-34s %5s %9s %14s\n" "bare window .exe (reference)" "$(runs_of "$work/wbare.txt")" "$wbare_ms" "$wbare_kb"
  printf "   %-34s %5s %9s %14s\n" "quenmar-helpcentre.exe" "$(runs_of "$work/wapp.txt")" "$wapp_ms" "$wapp_kb"
  echo "   help centre / bare window: time $(ratio "$wapp_ms" "$wbare_ms"), peak RSS $(ratio "$wapp_kb" "$wbare_kb")"
else
  echo "   BENCH_WINDOWS=0: not measured"
fi

# ---------------------------------------------------------------------------------------
echo
echo "== reading the settings file with Config (best and median of 3 reads in one process;"
echo "   peak RSS of that process), against wc -l on the same file (best of 3)"
mkdir -p "$work/game/config"
ini=$work/game/config/setup.ini
printf "   %-30s %9s %9s %9s %10s %11s\n" "file (kind, size)" "best ms" "median ms" "MB/s" "lines" "peak KiB"
for shape in "typical 25" "typical 50" "typical 100" "oneline 100" "equals 100"; do
  set -- $shape
  "$build/bench_config" write "$ini" "$2" "$1"
  cat "$ini" >/dev/null # read once, so that every reader finds it in the page cache
  out=$(/usr/bin/time -f 'peak %M' "$build/bench_config" read "$work/game" 3 2>&1)
  read -r best med lines < <(echo "$out" | grep -v '^peak' | tail -1)
  peak=$(echo "$out" | awk '/^peak/ {print $2}')
  mbs=$(awk -v mb="$2" -v ms="$best" 'BEGIN{printf "%.0f", mb / (ms / 1000)}')
  printf "   %-30s %9s %9s %9s %10s %11s\n" "$1, $2 MB" "$best" "$med" "$mbs" "$lines" "$peak"
  if [ "$shape" = "typical 100" ]; then
    wc_best=""
    for _ in 1 2 3; do
      start=$(date +%s%N); wc -l "$ini" >/dev/null; end=$(date +%s%N)
      ms=$(awk -v ns=$((end - start)) 'BEGIN{printf "%.1f", ns / 1e6}')
      wc_best=$(printf "%s\n%s\n" "$wc_best" "$ms" | grep . | sort -g | head -1)
    done
    wc_peak=$(/usr/bin/time -f '%M' wc -l "$ini" 2>&1 >/dev/null)
    wc_line=$(printf "   %-30s %9s %9s %9s %10s %11s" "wc -l, typical 100 MB" "$wc_best" "" \
      "$(awk -v ms="$wc_best" 'BEGIN{printf "%.0f", 100 / (ms / 1000)}')" "" "$wc_peak")
  fi
done
echo "$wc_line"
echo "   target: linear in the file's size, at least 200 MB/s"
rm -f "$ini"

# ---------------------------------------------------------------------------------------
echo
echo "== finding the game's prefix among 200 (40 each of Lutris, Steam, Bottles, Heroic,"
echo "   PlayOnLinux; user.reg of 100 KB each; files in the page cache); no reference"
"$build/bench_prefixes"

# ---------------------------------------------------------------------------------------
echo
echo "== cleaning 100 000 cached files, against find <dir> -type f -delete"
if [ -x "$here/bench/clean/run.sh" ] || [ -f "$here/bench/clean/run.sh" ]; then
  BUILD_DIR="$build-clean" bash "$here/bench/clean/run.sh" 100000 2>&1 | sed 's/^/   /' \
    || echo "   bench/clean/run.sh failed (exit ${PIPESTATUS[0]}): no figure"
else
  echo "   bench/clean/run.sh does not exist: not measured"
fi

# ---------------------------------------------------------------------------------------
echo
echo "== the connection test, every step passing (3 runs), against the nominal 3.4 s"
echo "   the real window and ICMP echo; public hosts 127.0.0.2 and 127.0.0.3; the game server a"
echo "   QTcpServer on 127.0.0.1; in a network namespace of its own with only loopback up"
printf "   %-6s %10s %22s   %s\n" "run" "total ms" "longest loop block ms" "verdicts"
for run in 1 2 3; do
  out=$(unshare -n sh -c 'ip link set lo up && exec "$0"' "$build/bench_connection" 2>/dev/null) \
    || out="failed to run"
  read -r total block verdicts <<<"$out"
  printf "   %-6s %10s %22s   %s\n" "$run" "$total" "$block" "$verdicts"
done
echo "   (the test's own pauses are 33 ticks of a 100 ms timer; a made connection skips one)"
