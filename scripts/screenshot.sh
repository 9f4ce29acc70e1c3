#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Writes docs/screenshot.png: the real window on the simulated battery, on a
# virtual X server, with its own temporary settings and log; with --wayland,
# docs/screenshot-wayland.png: the same under weston headless, through Qt's
# Wayland plugin, with weston's window decorations (needs weston, qt6-wayland).
# Needs xvfb (xvfb-run) and imagemagick (import, convert); with faketime the
# program's clocks run 40 times fast, so that half a minute shows a quarter
# of an hour of counting. Not part of `make test`.
# Usage: scripts/screenshot.sh [--wayland] [binary] [output]
set -euo pipefail
cd "$(dirname "$0")/.."
wayland=0
if [ "${1:-}" = --wayland ]; then wayland=1; shift; fi
binary=$(realpath "${1:-build/src/terminal/drainwatch}")
default_output=docs/screenshot.png
[ $wayland -eq 1 ] && default_output=docs/screenshot-wayland.png
output=$(realpath -m "${2:-$default_output}")

tools="xvfb-run import convert"
[ $wayland -eq 1 ] && tools="weston weston-screenshooter convert"
for tool in $tools; do
  command -v "$tool" >/dev/null || { echo "screenshot.sh needs $tool: apt-get install xvfb imagemagick" >&2; exit 1; }
done
faketime_lib=$(ls /usr/lib/*/faketime/libfaketime.so.1 2>/dev/null | head -n 1 || true)
[ -n "$faketime_lib" ] || echo "faketime not installed: the picture shows the first half minute" >&2

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/config" "$tmp/state" "$tmp/runtime"
chmod 700 "$tmp/runtime"
export XDG_CONFIG_HOME="$tmp/config" XDG_STATE_HOME="$tmp/state" XDG_RUNTIME_DIR="$tmp/runtime"
unset WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS

if [ $wayland -eq 1 ]; then
  unset DISPLAY QT_QPA_PLATFORM
  # A black desktop without a panel, so that the window can be trimmed out.
  printf '[core]\nidle-time=0\n[shell]\nbackground-color=0xff000000\npanel-position=none\nlocking=false\nanimation=none\nstartup-animation=none\n' >"$tmp/weston.ini"
  weston --config="$tmp/weston.ini" --backend=headless-backend.so --use-pixman --socket=screenshot \
    --width=1024 --height=768 --debug >"$tmp/weston.log" 2>&1 &
  weston_pid=$!
  while [ ! -S "$XDG_RUNTIME_DIR/screenshot" ]; do
    kill -0 "$weston_pid" 2>/dev/null || { cat "$tmp/weston.log" >&2; exit 1; }
    sleep 0.1
  done
  export WAYLAND_DISPLAY=screenshot
  if [ -n "$faketime_lib" ]; then
    LD_PRELOAD="$faketime_lib" FAKETIME="+0 x40" "$binary" --simulate >/dev/null 2>&1 &
  else
    "$binary" --simulate >/dev/null 2>&1 &
  fi
  pid=$!
  sleep 25
  (cd "$tmp" && weston-screenshooter >/dev/null)
  kill -TERM "$pid"
  wait "$pid" || true
  kill -TERM "$weston_pid"
  wait "$weston_pid" || true
  mkdir -p "$(dirname "$output")"
  convert "$tmp"/wayland-screenshot-*.png -trim +repage "$output"
  echo "wrote $output"
  exit 0
fi

export QT_QPA_PLATFORM=xcb

xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  if [ -n "$1" ]; then
    LD_PRELOAD="$1" FAKETIME="+0 x40" "$2" --simulate >/dev/null 2>&1 &
  else
    "$2" --simulate >/dev/null 2>&1 &
  fi
  pid=$!
  sleep 25
  import -window root "$3/root.png"
  kill -TERM "$pid"
  wait "$pid"
' screenshot "$faketime_lib" "$binary" "$tmp"

mkdir -p "$(dirname "$output")"
# No window manager: the window sits on a black root window, trimmed away.
convert "$tmp/root.png" -trim +repage "$output"
echo "wrote $output"
