#!/usr/bin/env bash
# Runs a test program built for Windows under Wine and prints its log. Wine gives a
# Windows program's standard output to a pipe only through a console, so the log goes
# through a file.
set -u
log=$(mktemp "${TMPDIR:-/tmp}/qm-wine-log.XXXXXX")
wine "$@" -o "$(winepath -w "$log"),txt"
status=$?
cat "$log"
rm -f "$log"
exit "$status"
