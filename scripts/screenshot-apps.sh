#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Writes docs/screenshot-apps.png: the window's Apps tab on the simulated
# battery, under Xvfb. The simulated battery has no applications of its own,
# so an hour of activity and a fitted model go in its temporary history
# first: minutes as the recorder books them, the applications' CPU time per
# ten minutes. Needs xvfb and xdotool. Not part of `make test`.
# Usage: [SIZE=WxH|default] scripts/screenshot-apps.sh [binary] [output]
# SIZE defaults to 600x480: tall enough for every row.
set -euo pipefail
cd "$(dirname "$0")/.."
binary=$(realpath "${1:-build/src/terminal/drainwatch}")
output=$(realpath -m "${2:-docs/screenshot-apps.png}")
for tool in xvfb-run xdotool; do
  command -v "$tool" >/dev/null || { echo "screenshot-apps.sh needs $tool: apt-get install xvfb xdotool" >&2; exit 1; }
done

. scripts/screenshot-home.sh
/usr/bin/python3 - "$tmp/state/Drainwatch/history-simulated.sqlite" <<'PY'
import math, sqlite3, sys, time
db = sqlite3.connect(sys.argv[1])
now = time.time()
# Watts of the model: at rest, per busy core, the screen at full brightness.
base_w, cpu_w, screen_w = 3.1, 4.2, 2.8
# Busy cores of each application: key, name, icon, group, cores.
apps = [
    ("firefox", "Firefox", "firefox", 0, 0.34),
    ("builder", "GNOME Builder", "org.gnome.Builder", 0, 0.21),
    ("session", "Desktop session", "", 1, 0.06),
    ("editor", "Text Editor", "org.gnome.TextEditor", 0, 0.05),
    ("services", "System services", "", 1, 0.04),
    ("other", "Kernel and other", "", 1, 0.03),
]
brightness = 0.6
first = now - 55 * 60
for minute in range(55):
    start = first + minute * 60
    # A build in the middle of the hour: the cores busier, the battery too.
    load = 1.0 + 0.8 * math.exp(-((minute - 30) / 8) ** 2)
    cores = sum(c for *_, c in apps) * load
    unexplained_w = 0.35 + 0.15 * math.sin(minute / 5)
    energy_wh = (base_w + cpu_w * cores + screen_w * brightness + unexplained_w) / 60
    db.execute("INSERT INTO activity_spans(start, seconds, energy_wh, cpu_seconds, screen_seconds) VALUES(?,?,?,?,?)",
               (start, 60, energy_wh, cores * 60, brightness * 60))
    bucket = math.floor(start / 600) * 600
    for key, name, icon, group, c in apps:
        busy = c * (load if key == "builder" else 1.0) * 60
        db.execute("INSERT INTO app_activity(bucket, key, name, icon, is_group, cpu_seconds) VALUES(?,?,?,?,?,?)"
                   " ON CONFLICT(bucket, key) DO UPDATE SET cpu_seconds = cpu_seconds + excluded.cpu_seconds",
                   (bucket, key, name, icon, group, busy))
db.execute("INSERT INTO power_models(fitted_at, base_w, cpu_w, screen_w, r2, held_out_error_w, minutes)"
           " VALUES(?,?,?,?,?,?,?)", (now - 3600, base_w, cpu_w, screen_w, 0.91, 0.38, 480))
db.commit()
PY

size=${SIZE:-600x480}
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
  # The first tab, just under the menu bar, then on to Apps, the sixth.
  xdotool mousemove $((X + 30)) $((Y + 38)) click 1
  for _ in 1 2 3 4 5; do xdotool key ctrl+Tab; done
  xdotool mousemove $((X + WIDTH - 20)) $((Y + HEIGHT - 10))
  sleep 1
  python3 "$4" "$2/fb/Xvfb_screen0" "$X" "$Y" "$WIDTH" "$HEIGHT" "$3"
  kill -TERM "$pid"
  wait "$pid"
' screenshot "$binary" "$tmp" "$output" "$PWD/scripts/xwd-to-png.py" "$size"
echo "wrote $output"
