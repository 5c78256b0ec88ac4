#!/usr/bin/env bash
# Clicks into the embedded page and types; passes when the page saw the text.
# Run on a display of its own (with-xvfb.sh). Usage: typing-check.sh <webview_probe>
set -u
out=$(mktemp)
trap 'rm -f "$out"' EXIT
"$1" --typing >"$out" 2>/dev/null &
probe=$!
for _ in $(seq 300); do grep -q '^shown' "$out" && break; sleep 0.1; done
if ! grep -q '^shown' "$out"; then echo "page not shown"; kill "$probe" 2>/dev/null; exit 1; fi
sleep 0.5
# The window is centred: 560 x 640 on the 1024 x 768 screen.
xdotool mousemove 512 384 click 1
sleep 0.3
xdotool type --delay 60 fern
for _ in $(seq 100); do kill -0 "$probe" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$probe" 2>/dev/null; then echo "typing did not reach the page"; kill "$probe"; wait "$probe"; exit 1; fi
wait "$probe"
rc=$?
cat "$out"
exit $rc
