#!/usr/bin/env bash
# Writes docs/screenshot.png: the real window on the simulated battery, on a
# virtual X server, with its own temporary settings and log.
# Needs xvfb (xvfb-run) and imagemagick (import, convert); with faketime the
# program's clocks run 40 times fast, so that half a minute shows a quarter
# of an hour of counting. Not part of `make test`.
# Usage: scripts/screenshot.sh [binary] [output]
set -euo pipefail
cd "$(dirname "$0")/.."
binary=$(realpath "${1:-build/src/app/drainwatch}")
output=$(realpath -m "${2:-docs/screenshot.png}")

for tool in xvfb-run import convert; do
  command -v "$tool" >/dev/null || { echo "screenshot.sh needs $tool: apt-get install xvfb imagemagick" >&2; exit 1; }
done
faketime_lib=$(ls /usr/lib/*/faketime/libfaketime.so.1 2>/dev/null | head -n 1 || true)
[ -n "$faketime_lib" ] || echo "faketime not installed: the picture shows the first half minute" >&2

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/config" "$tmp/state" "$tmp/runtime"
chmod 700 "$tmp/runtime"
export XDG_CONFIG_HOME="$tmp/config" XDG_STATE_HOME="$tmp/state" XDG_RUNTIME_DIR="$tmp/runtime"
export QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS

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
