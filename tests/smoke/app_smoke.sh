#!/usr/bin/env bash
# Starts the real application under Xvfb with a fresh home folder and checks:
#  - a window titled "TARVO Fernhall" appears and the page draws the version the
#    native side answered ("V1.0.0" in the footer, found in a screenshot by image search);
#  - manager.log begins with the welcome block "TARVO Fernhall 1.0.0 (<build stamp>)";
#  - a second start opens no second window and leaves the first running.
set -uo pipefail
app="$1"
out="${2:-$(mktemp -d)}"
mkdir -p "$out"

work="$(mktemp -d)"
export HOME="$work/home"
mkdir -p "$HOME"
unset WAYLAND_DISPLAY

fail() { echo "FAIL: $*"; [ -f "$log" ] && { echo "--- manager.log"; cat "$log"; }; exit 1; }

# A free display number.
for n in $(seq 90 140); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { disp=":$n"; break; }
done
Xvfb "$disp" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb=$!
export DISPLAY="$disp"
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    sleep 0.5
    for p in "${pids[@]}"; do kill -9 "$p" 2>/dev/null; done
    kill "$xvfb" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
xdpyinfo >/dev/null 2>&1 || fail "Xvfb did not start"

log="$HOME/.config/TARVO/Fern Hall/logs/manager.log"

"$app" >"$work/app1.out" 2>&1 &
pids+=($!)
first=$!

win=""
for _ in $(seq 100); do
    win="$(xdotool search --name '^TARVO Fernhall$' 2>/dev/null | head -1)"
    [ -n "$win" ] && break
    sleep 0.2
done
[ -n "$win" ] || fail "no window appeared"

# Wait until the page shows the version the native side answered: the footer's
# "V1.0.0" (tests/smoke/version-v1.0.0.png) must appear in the window's picture.
golden="$(dirname "$0")/version-v1.0.0.png"
ok=""
for i in $(seq 60); do
    sleep 0.5
    import -window root "$out/screen.png" 2>/dev/null || continue
    eval "$(xdotool getwindowgeometry --shell "$win" 2>/dev/null)"
    convert "$out/screen.png" -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$out/window.png" 2>/dev/null || continue
    # The lower part of the window holds the footer.
    convert "$out/window.png" -gravity South -crop "${WIDTH}x160+0+0" +repage "$work/footer.png" 2>/dev/null
    diff="$(compare -metric AE -fuzz 15% -subimage-search "$work/footer.png" "$golden" null: 2>&1 | awk '{print $1}')"
    if [ -n "$diff" ] && [ "$diff" -eq "$diff" ] 2>/dev/null && [ "$diff" -le 8 ]; then
        ok=1; break
    fi
done
[ -n "$ok" ] || { cat "$work/app1.out"; fail "the page never showed V1.0.0 (last difference: ${diff:-none})"; }
echo "page shows the version from the native side (differing pixels: $diff)"

[ -f "$log" ] || fail "no manager.log"
# The framework's welcome block: a line of asterisks, then the welcome line.
first_lines="$(tr -d '\r' < "$log" | grep -v '^$' | head -2)"
echo "$first_lines"
echo "$first_lines" | sed -n 1p | grep -qE '^\*+$' || fail "log does not begin with the welcome block"
echo "$first_lines" | sed -n 2p | grep -qE '^TARVO Fernhall 1\.0\.0 \([A-Z][a-z]{2} [0-9]{1,2} [0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2}\)$' \
    || fail "the welcome line is not 'TARVO Fernhall 1.0.0 (<build stamp>)'"

# Second start: must end by itself without a second window.
"$app" >"$work/app2.out" 2>&1 &
second=$!
pids+=($second)
for _ in $(seq 50); do kill -0 "$second" 2>/dev/null || break; sleep 0.2; done
kill -0 "$second" 2>/dev/null && fail "the second instance is still running"
count="$(xdotool search --name '^TARVO Fernhall$' 2>/dev/null | wc -l)"
[ "$count" -eq 1 ] || fail "expected one window, found $count"
kill -0 "$first" 2>/dev/null || fail "the first instance died"

echo "app smoke: passed"
