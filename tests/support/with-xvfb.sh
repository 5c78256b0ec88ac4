#!/usr/bin/env bash
# Runs a command on a private Xvfb display (a free display number), then stops it.
set -u
for n in $(seq 150 250); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { disp=":$n"; break; }
done
Xvfb "$disp" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null' EXIT
for _ in $(seq 50); do DISPLAY="$disp" xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
unset WAYLAND_DISPLAY
DISPLAY="$disp" "$@"
