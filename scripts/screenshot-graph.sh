#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Writes docs/screenshot-graph.png and docs/screenshot-health.png: the
# window's Graph tab (the last 24 hours, with two sleeps and a charge) and its
# Health tab (60 days of a slowly wearing battery), on the simulated battery
# under Xvfb, with the history put in its own temporary state folder; and
# docs/graph-7d.png from `drainwatch --graph`. Needs xvfb and xdotool; the
# screen is read from Xvfb's own frame buffer file (-fbdir), cut to the
# window. Not part of `make test`.
# Usage: scripts/screenshot-graph.sh [binary] [docs folder]
set -euo pipefail
cd "$(dirname "$0")/.."
binary=$(realpath "${1:-build/src/terminal/drainwatch}")
docs=$(realpath -m "${2:-docs}")
for tool in xvfb-run xdotool; do
  command -v "$tool" >/dev/null || { echo "screenshot-graph.sh needs $tool: apt-get install xvfb xdotool" >&2; exit 1; }
done

. scripts/screenshot-home.sh
# 60 days go in, back from now: one sample a minute over the last two days,
# one every four minutes before (the health needs only the capacity), a
# sleep each night.
/usr/bin/python3 - "$tmp/state/Drainwatch/history-simulated.sqlite" <<'PY'
import sqlite3, sys, time
db = sqlite3.connect(sys.argv[1])
now = time.time()
samples, sleeps, discharges = [], [], []
design, cycles = 5500.0, 180

def day(start, charge, full, step, plan):
    """plan: (kind, hours, rate %/h or charge used); kinds run, charge, sleep, away."""
    global cycles
    t = start
    unplugged = (t, charge)
    for kind, hours, rate in plan:
        if kind in ("run", "charge"):
            n = int(hours * 3600 / step)
            for _ in range(n):
                on = kind == "charge"
                current = None if on else rate * full / 100
                samples.append((t, charge, current, int(on), 11.8, full, design, cycles, ""))
                t += step
                charge = min(1.0, charge - rate / 100 * step / 3600)
            if kind == "charge":
                samples.append((t, charge, None, 0, 11.8, full, design, cycles, "charger disconnected"))
                unplugged = (t, charge)
                cycles += 1
            else:
                pass
        elif kind == "plug":
            samples.append((t, charge, None, 1, 11.8, full, design, cycles, "charger connected"))
            start_t, start_c = unplugged
            awake = t - start_t
            discharges.append((start_t, t, awake * 0.8, awake, start_c, charge, 0.01, awake / max(0.01, start_c - charge),
                               awake / max(0.01, start_c - charge) * 0.9, (start_c - charge) * full / (awake / 3600)))
        else:
            event_a, event_b = ("will sleep", "wake") if kind == "sleep" else ("quit", "start")
            samples.append((t, charge, None, 0, 11.8, full, design, cycles, event_a))
            if kind == "sleep":
                sleeps.append((t, t + hours * 3600, charge, charge - rate))
            t += hours * 3600
            charge -= rate
            samples.append((t, charge, None, 0, 11.8, full, design, cycles, event_b))
    return charge

charge = 0.8
for d in range(60, 0, -1):
    start = now - 24 * 3600 - d * 86400
    full = 5200 - (60 - d) * 1.6
    step = 60 if d <= 2 else 240
    charge = day(start, 0.8, full, step,
                 [("sleep", 7, 0.03), ("run", 4, 7), ("plug", 0, 0), ("charge", 1.5, -35), ("run", 11, 4),
                  ("sleep", 0.5, 0.002), ("run", 0, 0)])
# Today, up to now: asleep until 07:00, a charge at noon, Drainwatch not
# running for two hours, a nap in the evening.
full = 5200 - 60 * 1.6
plan = [("sleep", 7, 0.04), ("run", 5, 8), ("plug", 0, 0), ("charge", 1.5, -40), ("run", 1.5, 8), ("away", 2, 0.04),
        ("run", 3, 8), ("sleep", 2, 0.01), ("run", 2, 8)]
# The same day, ending now.
day(now - 24 * 3600, 0.8, full, 60, plan)
samples = [s for s in samples if s[0] <= now]
samples.sort(key=lambda s: s[0])
db.executemany("INSERT INTO samples(time, charge, current_ma, on_external_power, volts, full_mah, design_mah, cycles,"
               " event) VALUES(?,?,?,?,?,?,?,?,?)", [s for s in samples if s[0] < now - 24 * 3600 or True])
for start, end, before, after in sleeps:
    if end > now:
        continue
    hours = (end - start) / 3600
    used = (before - after) * 100
    db.execute("INSERT INTO sleeps(how, start, \"end\", asleep_seconds, mode, on_battery, charge_before, charge_after,"
               " used_percentage, used_mah, used_mwh, rate_per_hour, milliwatts, hardware_sleep, cycles, failed,"
               " failed_device, woken_by, flags, comparable) VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)",
               ("suspend", start, end, end - start, "s2idle", 1, before, after, used, used * 50, used * 590,
                used / hours, used * 590 / hours, 0.97, 1, 0, None, "PNP0C0D:00", "", int(hours >= 0.5)))
db.executemany("INSERT INTO discharges(start, \"end\", awake_seconds, total_seconds, charge_at_start, charge_at_end,"
               " used_in_sleep, extrapolated_seconds, extrapolated_without_sleep_seconds, average_ma)"
               " VALUES(?,?,?,?,?,?,?,?,?,?)", [d for d in discharges if d[1] <= now])
db.commit()
PY

mkdir -p "$docs"
"$binary" --simulate --graph "$docs/graph-7d.png" --range 7d


xvfb-run -a -s "-screen 0 1280x800x24 -fbdir $tmp/fb" bash -c '
  "$1" --simulate >/dev/null 2>&1 &
  pid=$!
  sleep 6
  # The main window: the widest of those named so (Qt has small helpers).
  best=0
  for candidate in $(xdotool search --onlyvisible --name "Drainwatch"); do
    eval "$(xdotool getwindowgeometry --shell "$candidate")"
    if [ "$WIDTH" -gt "$best" ]; then best=$WIDTH; geometry=$(xdotool getwindowgeometry --shell "$candidate"); fi
  done
  eval "$geometry"
  shot() { python3 "$3" "$2/fb/Xvfb_screen0" "$X" "$Y" "$WIDTH" "$HEIGHT" "$1"; }
  # The first tab, just under the menu bar, then on with Ctrl+Tab.
  xdotool mousemove $((X + 30)) $((Y + 38)) click 1
  xdotool key ctrl+Tab
  sleep 1
  # The pointer over the graph shows the time and the figures under it.
  xdotool mousemove $((X + 200)) $((Y + 260))
  sleep 1
  shot "$3/screenshot-graph.png" "$2" "$4"
  xdotool key ctrl+Tab ctrl+Tab ctrl+Tab
  sleep 1
  shot "$3/screenshot-health.png" "$2" "$4"
  kill -TERM "$pid"
  wait "$pid"
' screenshot "$binary" "$tmp" "$docs" "$PWD/scripts/xwd-to-png.py"
echo "wrote $docs/screenshot-graph.png $docs/screenshot-health.png $docs/graph-7d.png"
