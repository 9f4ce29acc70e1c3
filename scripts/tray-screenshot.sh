#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Writes docs/tray-icons.png: the real tray icon in trayer's panel under
# Xvfb, at three charges (15 % and 55 % discharging, 90 % with the charger
# in), read from copies of a recorded sysfs tree. Not part of `make test`.
# The panel is light, as the default (light) theme expects: the outline
# follows the theme, not the panel itself.
# Needs xvfb, trayer, x11-utils and imagemagick.
# Usage: scripts/tray-screenshot.sh [binary] [output]
set -euo pipefail
cd "$(dirname "$0")/.."
binary=$(realpath "${1:-build/src/terminal/drainwatch}")
output=$(realpath -m "${2:-docs/tray-icons.png}")
for tool in Xvfb trayer xwininfo import convert; do
  command -v "$tool" >/dev/null || { echo "tray-screenshot.sh needs $tool" >&2; exit 1; }
done

tmp=$(mktemp -d)
pids=()
cleanup() { for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done; rm -rf "$tmp"; }
trap cleanup EXIT
unset WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS
export QT_QPA_PLATFORM=xcb

Xvfb -displayfd 3 -nolisten tcp -screen 0 400x100x24 3>"$tmp/display" >/dev/null 2>&1 &
pids+=($!)
until [ -s "$tmp/display" ]; do sleep 0.1; done
export DISPLAY=":$(cat "$tmp/display")"
until xwininfo -root >/dev/null 2>&1; do sleep 0.1; done
trayer --edge top --align left --widthtype pixel --width 64 --heighttype pixel --height 48 \
  --tint 0xe8e8e8 --transparent true --alpha 0 >/dev/null 2>&1 &
pids+=($!)
until xwininfo -root -tree | grep -q '"panel"'; do sleep 0.1; done
panel=$(xwininfo -root -tree | grep '"panel"' | head -n 1 | awk '{print $1}')

for state in "1:15:Discharging:0" "2:55:Discharging:0" "3:90:Charging:1"; do
  IFS=: read -r n percent status online <<<"$state"
  tree="$tmp/power_supply-$n"
  cp -r tests/data/power_supply/a-acpi-charge-discharging "$tree"
  echo $((6439000 * percent / 100)) >"$tree/BAT0/charge_now"
  echo "$status" >"$tree/BAT0/status"
  echo "$online" >"$tree/AC/online"
  home="$tmp/home-$n"
  mkdir -p "$home/config" "$home/state" "$home/runtime"
  chmod 700 "$home/runtime"
  XDG_CONFIG_HOME="$home/config" XDG_STATE_HOME="$home/state" XDG_RUNTIME_DIR="$home/runtime" \
    DRAINWATCH_POWER_SUPPLY_DIR="$tree" "$binary" --tray >/dev/null 2>&1 &
  pid=$!
  until xwininfo -tree -id "$panel" | grep -qi drainwatch; do sleep 0.1; done
  sleep 1
  import -window "$panel" "$tmp/shot-$n.png"
  kill -TERM "$pid"
  wait "$pid" || true
  # The next icon must not be taken for this one.
  while xwininfo -tree -id "$panel" | grep -qi drainwatch; do sleep 0.1; done
done
mkdir -p "$(dirname "$output")"
# Three times the size, pixel for pixel: a tray icon is small.
convert "$tmp"/shot-1.png "$tmp"/shot-2.png "$tmp"/shot-3.png +append -filter point -resize 300% "$output"
echo "wrote $output"
