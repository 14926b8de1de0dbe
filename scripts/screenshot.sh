#!/usr/bin/env bash
# screenshot.sh FILE PROGRAM [ARGS...]: starts PROGRAM on a virtual X display, waits for the
# help centre's window, saves a picture of it to FILE and ends the program.
set -euo pipefail
shot=$1; shift
work=$(mktemp -d)
app=""
trap 'kill $app "$xvfb" 2>/dev/null || true; rm -rf "$work"' EXIT
# Xvfb picks a free display number itself and reports it.
Xvfb -displayfd 3 -noreset -screen 0 800x600x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "The virtual display did not start." >&2; exit 1; }
display=:$(head -n1 "$work/display")
for _ in $(seq 50); do DISPLAY=$display xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

DISPLAY=$display QT_QPA_PLATFORM=xcb "$@" &
app=$!
window=""
for _ in $(seq 100); do
  window=$(DISPLAY=$display xwininfo -root -tree 2>/dev/null | awk '/"Quenmar Helpcentre"/ {print $1; exit}')
  [ -n "$window" ] && break
  kill -0 "$app" 2>/dev/null || { echo "The help centre ended before its window appeared." >&2; exit 1; }
  sleep 0.1
done
[ -n "$window" ] || { echo "No window appeared." >&2; exit 1; }
sleep "${SETTLE:-1}"
mkdir -p "$(dirname "$shot")"
DISPLAY=$display import -window "$window" "$shot"
echo "The help centre ran on a virtual display; its window is in $shot"
