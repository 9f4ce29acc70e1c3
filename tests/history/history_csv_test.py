# SPDX-License-Identifier: MIT
"""drainwatch --history and --discharges as a user's script reads them: the
CSV through Python's csv module, beside a running monitor and without any
history, and dates that are not dates refused."""
import csv
import datetime
import io
import os
import signal
import subprocess
import sys
import tempfile
import unittest

BINARY = sys.argv.pop(1)
SAMPLE_HEADER = ["time", "charge", "current_ma", "on_external_power", "volts", "full_mah", "design_mah", "cycles",
                 "event"]
# A zone without tzdata, half an hour off the hour: +05:30.
ZONE = "XYZ-5:30"
OFFSET = datetime.timedelta(hours=5, minutes=30)
# Seconds after which a run counts as hung; only a hung one waits this long.
HANG = 40


class History(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.env = dict(os.environ, XDG_STATE_HOME=os.path.join(self.folder.name, "state"),
                        XDG_CONFIG_HOME=os.path.join(self.folder.name, "config"),
                        XDG_RUNTIME_DIR=self.folder.name, TZ=ZONE)
        self.env.pop("DISPLAY", None)
        self.env.pop("WAYLAND_DISPLAY", None)
        self.database = os.path.join(self.folder.name, "state", "Drainwatch", "history-simulated.sqlite")

    def tearDown(self):
        self.folder.cleanup()

    def run_drainwatch(self, *arguments):
        return subprocess.run([BINARY, "--simulate", *arguments], env=self.env, capture_output=True, text=True,
                              timeout=HANG)

    def start_monitor(self):
        monitor = subprocess.Popen([BINARY, "--simulate", "--json"], env=self.env, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, text=True)
        # The first tick's line: the start sample is taken by then.
        self.assertTrue(monitor.stdout.readline())
        return monitor

    def stop(self, monitor):
        monitor.send_signal(signal.SIGTERM)
        monitor.communicate(timeout=HANG)
        self.assertEqual(monitor.returncode, 0)

    def samples(self, *arguments):
        result = self.run_drainwatch("--history", *arguments)
        self.assertEqual(result.returncode, 0, result.stderr)
        rows = list(csv.reader(io.StringIO(result.stdout, newline="")))
        self.assertEqual(rows[0], SAMPLE_HEADER)
        return [dict(zip(SAMPLE_HEADER, row)) for row in rows[1:]]

    def test_samples_of_a_run_read_as_csv_with_the_local_offset(self):
        monitor = self.start_monitor()
        # Beside the running monitor: read-only, nothing flushed yet.
        self.assertEqual(self.samples(), [])
        self.stop(monitor)

        rows = self.samples()
        self.assertEqual([row["event"] for row in rows][0], "start")
        self.assertEqual([row["event"] for row in rows][-1], "quit")
        for row in rows:
            self.assertEqual(len(row), len(SAMPLE_HEADER))
            when = datetime.datetime.fromisoformat(row["time"])
            self.assertEqual(when.utcoffset(), OFFSET, row["time"])
            self.assertLess(abs(when.timestamp() - datetime.datetime.now().timestamp()), 300)
            self.assertTrue(0 <= float(row["charge"]) <= 1.5, row)
            self.assertIn(row["on_external_power"], ("true", "false"))
            for name in ("current_ma", "volts", "full_mah", "design_mah"):
                float(row[name])
            int(row["cycles"])

        # The local day of the samples, both ends included; the days around it empty.
        day = datetime.datetime.fromisoformat(rows[0]["time"]).date()
        self.assertEqual(self.samples("--since", day.isoformat(), "--until", day.isoformat()), rows)
        self.assertEqual(self.samples("--until", (day - datetime.timedelta(days=1)).isoformat()), [])
        self.assertEqual(self.samples("--since", (day + datetime.timedelta(days=1)).isoformat()), [])

    def test_a_kill_loses_the_unflushed_samples_an_interrupt_none(self):
        monitor = self.start_monitor()
        monitor.kill()
        monitor.communicate(timeout=HANG)
        self.assertEqual(self.samples(), [], "nothing was flushed in the first ten minutes")
        monitor = self.start_monitor()
        monitor.send_signal(signal.SIGINT)
        monitor.communicate(timeout=HANG)
        self.assertEqual(monitor.returncode, 0)
        self.assertEqual([row["event"] for row in self.samples()], ["start", "quit"])

    def test_no_history_is_a_header_or_words(self):
        self.assertEqual(self.samples(), [])
        table = self.run_drainwatch("--discharges")
        self.assertEqual((table.returncode, table.stdout),
                         (0, "No discharge recorded yet: one is kept each time the charger is connected.\n"))
        listed = self.run_drainwatch("--discharges", "--csv")
        self.assertEqual(listed.returncode, 0)
        self.assertEqual(next(csv.reader(io.StringIO(listed.stdout)))[:2], ["start", "end"])
        self.assertFalse(os.path.exists(self.database), "reading made no file")

    def test_a_date_that_is_not_one_is_refused(self):
        for option, date in (("--since", "2026-02-30"), ("--until", "2026-13-01"), ("--since", "yesterday"),
                             ("--until", "2026-1-01"), ("--since", "")):
            result = self.run_drainwatch("--history", option, date)
            self.assertEqual(result.returncode, 2, (option, date))
            self.assertEqual(result.stdout, "")
            self.assertIn(option, result.stderr)
            self.assertIn("YYYY-MM-DD", result.stderr)
        self.assertFalse(os.path.exists(self.database))


if __name__ == "__main__":
    unittest.main()
