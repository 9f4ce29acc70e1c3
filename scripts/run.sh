#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Starts drainwatch; on a machine without a battery, on the simulated one.
# Usage: scripts/run.sh <binary> [options...]
set -euo pipefail
binary=${1:?usage: scripts/run.sh <binary> [options...]}
shift

has_battery() {
  local supply
  for supply in /sys/class/power_supply/*; do
    [ -r "$supply/type" ] || continue
    [ "$(cat "$supply/type")" = Battery ] || continue
    # A mouse or a headset reports scope Device: not the laptop's battery.
    [ "$(cat "$supply/scope" 2>/dev/null || true)" = Device ] && continue
    return 0
  done
  return 1
}

if has_battery; then
  exec "$binary" "$@"
fi
echo "This machine has no battery: running on the simulated one (--simulate)." >&2
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  exec "$binary" --terminal --simulate "$@"
fi
exec "$binary" --simulate "$@"
