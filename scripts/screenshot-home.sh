# SPDX-License-Identifier: MIT
# Sourced by the screenshot scripts: a temporary home for a simulated run
# ($tmp, removed at exit), and a first run of $binary that makes the
# simulated battery's history with its schema, ready for rows to go in.
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/config" "$tmp/state" "$tmp/runtime" "$tmp/fb"
chmod 700 "$tmp/runtime"
export XDG_CONFIG_HOME="$tmp/config" XDG_STATE_HOME="$tmp/state" XDG_RUNTIME_DIR="$tmp/runtime" TZ=UTC
export QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS DISPLAY

"$binary" --simulate --json >/dev/null 2>&1 &
pid=$!
sleep 2
kill -TERM "$pid"
wait "$pid" || true
