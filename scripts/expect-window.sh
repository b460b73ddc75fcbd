#!/usr/bin/env bash
# Starts a window program under Xvfb and passes when a window with exactly the given title appears and the
# program is still running a few seconds later. The title is what the program took from its register map,
# so it shows which map the program read. Offscreen Qt has no window another process could read.
set -euo pipefail
if [ "$#" -ne 2 ]; then
    echo "usage: $0 TITLE PROGRAM" >&2
    exit 2
fi

if [ -z "${EXPECT_WINDOW_INNER:-}" ]; then
    export EXPECT_WINDOW_INNER=1 QT_QPA_PLATFORM=xcb
    exec xvfb-run --auto-servernum --server-args="-screen 0 1280x1024x24 -nolisten tcp" "$0" "$@"
fi

title=$1
log="$(mktemp)"
"$2" >"$log" 2>&1 &
program=$!
trap 'kill "$program" 2>/dev/null || true; rm -f "$log"' EXIT
has_window() { xwininfo -root -tree | grep -F "\"$title\""; }
fail() { echo "expect-window: $2: $1" >&2; cat "$log" >&2; exit 1; }

for _ in $(seq 120); do
    has_window && break
    kill -0 "$program" 2>/dev/null || fail "exited before showing its window" "$2"
    sleep 0.25
done
has_window >/dev/null || fail "no window titled \"$title\" within 30 s" "$2"
sleep 3
kill -0 "$program" 2>/dev/null || fail "did not stay up" "$2"
echo "expect-window: $2 shows \"$title\""
