#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Writes docs/screenshot-sleeps.png: the window's Sleeps tab on the simulated
# battery, under Xvfb, with a history of a few nights (and a few discharges)
# put in its own temporary state folder. Needs xvfb and xdotool (to click the
# tab). Not part of `make test`.
# Usage: [TAB=Sleeps|Discharges] [SIZE=WxH|default] scripts/screenshot-sleeps.sh [binary] [output]
# SIZE=default (the default) leaves the window at the size it opens with.
set -euo pipefail
cd "$(dirname "$0")/.."
binary=$(realpath "${1:-build/src/terminal/drainwatch}")
output=$(realpath -m "${2:-docs/screenshot-sleeps.png}")
for tool in xvfb-run xdotool; do
  command -v "$tool" >/dev/null || { echo "screenshot-sleeps.sh needs $tool: apt-get install xvfb xdotool" >&2; exit 1; }
done

. scripts/screenshot-home.sh
# A few nights go in.
/usr/bin/python3 - "$tmp/state/Drainwatch/history-simulated.sqlite" <<'PY'
import sqlite3, sys
db = sqlite3.connect(sys.argv[1])
nights = [
    # how, start, hours, mode, before, after, hw sleep, cycles, failed, device, woken by, flags
    ("suspend", 1800000000, 8.0, "s2idle", 0.92, 0.884, 0.97, 1, 0, None, "PNP0C0D:00", ""),
    ("suspend", 1800086400, 7.5, "s2idle", 0.95, 0.917, 0.96, 1, 0, None, "PNP0C0D:00", ""),
    ("unnoticed", 1800172800, 1.0, "s2idle", 0.71, 0.706, None, 1, 0, None, "", ""),
    ("suspend", 1800259200, 8.2, "s2idle", 0.90, 0.865, 0.95, 1, 0, None, "PNP0C0D:00", ""),
    ("suspend", 1800345600, 9.0, "s2idle", 0.88, 0.70, 0.41, 5, 1, "0000:00:14.0", "0000:00:14.0\nPNP0C0D:00",
     "failed\nrestless\nshallow\nhigh drain"),
    ("not running", 1800432000, 14.0, None, 0.64, 0.52, None, None, None, None, "", "not running"),
    ("suspend", 1800518400, 0.5, "s2idle", 0.99, 1.0, 0.98, 1, 0, None, "ACPI0003:00", "charged"),
]
discharges = [
    # start, hours awake, hours in all, from, to, used in sleep, mean mA
    (1800030000, 3.2, 5.7, 0.98, 0.415, 0.023, 800),
    (1800120000, 2.1, 2.1, 1.00, 0.62, 0.0, 905),
    (1800210000, 4.6, 13.0, 0.95, 0.18, 0.12, 760),
]
for start, awake, total, first, last, slept, ma in discharges:
    used = first - last
    db.execute("INSERT INTO discharges(start, \"end\", awake_seconds, total_seconds, charge_at_start, charge_at_end,"
               " used_in_sleep, extrapolated_seconds, extrapolated_without_sleep_seconds, average_ma)"
               " VALUES(?,?,?,?,?,?,?,?,?,?)",
               (start, start + total * 3600, awake * 3600, total * 3600, first, last, slept, awake * 3600 / used,
                awake * 3600 / (used - slept), ma))
for how, start, hours, mode, before, after, hw, cycles, failed, device, woken, flags in nights:
    used = (before - after) * 100
    on_battery = "charged" not in flags
    rate = used / hours if on_battery and after <= before else None
    mah = (before - after) * 5000
    mwh = mah * 11.9
    comparable = how in ("suspend", "unnoticed") and rate is not None and hours * 3600 >= 1800
    db.execute("INSERT INTO sleeps(how, start, \"end\", asleep_seconds, mode, on_battery, charge_before, charge_after,"
               " used_percentage, used_mah, used_mwh, rate_per_hour, milliwatts, hardware_sleep, cycles, failed,"
               " failed_device, woken_by, flags, comparable) VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)",
               (how, start, start + hours * 3600, None if how == "not running" else hours * 3600, mode,
                int(on_battery), before, after, used, mah, mwh, rate, mwh / hours if rate is not None else None,
                hw, cycles, failed, device, woken, flags, int(comparable)))
db.commit()
PY

tab=${TAB:-Sleeps}
case "$tab" in
  Sleeps) tabs=2 ;;
  Discharges) tabs=3 ;;
  *) echo "TAB is Sleeps or Discharges" >&2; exit 2 ;;
esac
size=${SIZE:-default}
xvfb-run -a -s "-screen 0 1280x800x24 -fbdir $tmp/fb" bash -c '
  "$1" --simulate >/dev/null 2>&1 &
  pid=$!
  sleep 6
  window=$(xdotool search --onlyvisible --name "Drainwatch" | head -n 1)
  if [ "$5" != default ]; then
    xdotool windowsize "$window" "${5%x*}" "${5#*x}"
    sleep 1
  fi
  eval "$(xdotool getwindowgeometry --shell "$window")"
  # The first tab, just under the menu bar, then on to the one asked for.
  xdotool mousemove $((X + 30)) $((Y + 38)) click 1
  for _ in $(seq "$6"); do xdotool key ctrl+Tab; done
  xdotool mousemove $((X + WIDTH - 20)) $((Y + HEIGHT - 10))
  sleep 1
  python3 "$4" "$2/fb/Xvfb_screen0" "$X" "$Y" "$WIDTH" "$HEIGHT" "$3"
  kill -TERM "$pid"
  wait "$pid"
' screenshot "$binary" "$tmp" "$output" "$PWD/scripts/xwd-to-png.py" "$size" "$tabs"
echo "wrote $output"
