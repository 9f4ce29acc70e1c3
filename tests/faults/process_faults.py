#!/usr/bin/python3
"""The real program under faults of its surroundings: a damaged or unwritable
settings file, a log that cannot be written, a wall clock that jumps, two
starts at once, no system bus. Each run has its own temporary XDG folders
and a copy of a fixture battery; every wait has a deadline of a few seconds.

usage: process_faults.py PATH/TO/drainwatch POWER_SUPPLY_FIXTURE [TestClass ...]
"""
import json
import math
import os
import random
import re
import resource
import select
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import time
import unittest

PROGRAM, FIXTURE = sys.argv[1], sys.argv[2]
FAKETIME = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1"
DEADLINE = 10  # seconds for anything that should take well under one
NO_BUS = "unix:path=/nonexistent"
NINE_KEYS = {"lastPercentage", "startedCountingAtPercentage", "usedDuringSleepPercentage", "batteryUsage.startedAt",
             "batteryUsage.lastHeartBeat", "acUsage.startedAt", "acUsage.lastHeartBeat", "amperageAverage.current",
             "amperageAverage.samples"}
# Every form a text may take; nan, inf or a negative duration is none of them.
SANE_TEXT = re.compile(r"\((no battery|on AC power|please wait|unknown)\)|\d{2,}:\d{2}|\d+\.\d%"
                       r"|\d+\.\d %/h \((charging|\d+\.\d %/h recent, \d+\.\d %/h avg)\)"
                       r"|\d+\.\d% \(\d+mAh of \d+mAh\)")
# The fixture's charge, 2119000 of 6439000 µAh.
CHARGE = 2119000 / 6439000


def read_bytes(path):
    with open(path, "rb") as file:
        return file.read()


def read_text(path):
    try:
        with open(path) as file:
            return file.read()
    except FileNotFoundError:
        return ""


def drop_file_permission_override():
    """As root, the program would write a read-only file anyway: run it
    without the capabilities that let root ignore file permissions."""
    if os.geteuid() != 0:
        return []
    return ["setpriv", "--inh-caps=-all", "--bounding-set=-dac_override,-dac_read_search,-fowner", "--"]


class Run:
    """One start of the program in its own home."""

    def __init__(self, test, home=None):
        self.test = test
        self.home = home or tempfile.mkdtemp(prefix="drainwatch-fault-")
        test.addCleanup(shutil.rmtree, self.home, True)
        self.config = os.path.join(self.home, "config")
        self.state = os.path.join(self.home, "state")
        self.runtime = os.path.join(self.home, "runtime")
        self.battery = os.path.join(self.home, "power_supply")
        for folder in (self.config, self.state, self.runtime):
            os.makedirs(folder, mode=0o700, exist_ok=True)
        if not os.path.exists(self.battery):
            shutil.copytree(FIXTURE, self.battery)
        self.conf = os.path.join(self.config, "Drainwatch", "Drainwatch.conf")
        self.log = os.path.join(self.state, "Logs", "Drainwatch", "Drainwatch.log")
        self.env = {k: v for k, v in os.environ.items()
                    if k not in ("DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "LD_PRELOAD")}
        self.env.update(XDG_CONFIG_HOME=self.config, XDG_STATE_HOME=self.state, XDG_RUNTIME_DIR=self.runtime,
                        DRAINWATCH_POWER_SUPPLY_DIR=self.battery, DBUS_SYSTEM_BUS_ADDRESS=NO_BUS, TZ="UTC")
        self.process = None
        self.errors = b""

    def start(self, prefix=(), limits=None, arguments=("--json",)):
        def child():
            if limits:
                limits()
        self.process = subprocess.Popen(list(prefix) + [PROGRAM] + list(arguments), env=self.env, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE, preexec_fn=child)
        self.test.addCleanup(self.kill)
        return self

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()
        self.process.stdout.close()
        self.process.stderr.close()

    def figures(self, seconds=DEADLINE):
        """The next tick's JSON object, its texts checked."""
        ready, _, _ = select.select([self.process.stdout], [], [], seconds)
        self.test.assertTrue(ready, "no tick within %d s; stderr: %s" % (seconds, self.stderr()))
        line = self.process.stdout.readline()
        self.test.assertTrue(line, "the program ended; stderr: %s" % self.stderr())
        figures = json.loads(line)
        for name, value in figures.items():
            if name.endswith("Label"):
                self.test.assertRegex(value, "^(%s)$" % SANE_TEXT.pattern, name)
        return figures

    def stderr(self):
        """Every line written to standard error so far."""
        while select.select([self.process.stderr], [], [], 0)[0]:
            chunk = os.read(self.process.stderr.fileno(), 65536)
            if not chunk:
                break
            self.errors += chunk
        return self.errors.decode(errors="replace")

    def lines_about(self, text):
        return [line for line in self.stderr().splitlines() if text in line]

    def stop(self):
        """An orderly end (SIGTERM), as at logout; returns the exit status."""
        self.process.send_signal(signal.SIGTERM)
        status = self.process.wait(DEADLINE)
        self.errors += self.process.stderr.read()
        return status

    def saved(self):
        """The nine keys of the settings file as numbers; fails on anything else."""
        with open(self.conf) as file:
            lines = file.read().splitlines()
        self.test.assertEqual(lines[0], "[General]")
        values = dict(line.split("=", 1) for line in lines[1:] if line)
        self.test.assertEqual(set(values), NINE_KEYS)
        numbers = {key: float(value) for key, value in values.items()}
        self.test.assertTrue(all(math.isfinite(value) for value in numbers.values()), numbers)
        return numbers

    def write_count(self, started_ago):
        """A count on battery that began `started_ago` seconds before now,
        its last heartbeat now. Texts show whole minutes: 3630 s reads
        "01:00" for half a minute, time enough for a slow start."""
        now = time.time()
        values = {"batteryUsage.startedAt": now - started_ago, "batteryUsage.lastHeartBeat": now,
                  "acUsage.startedAt": now - started_ago, "acUsage.lastHeartBeat": now,
                  "lastPercentage": CHARGE + 0.001, "startedCountingAtPercentage": 0.5,
                  "usedDuringSleepPercentage": 0.0, "amperageAverage.current": 1675, "amperageAverage.samples": 100}
        os.makedirs(os.path.dirname(self.conf), exist_ok=True)
        with open(self.conf, "w") as file:
            file.write("[General]\n" + "".join("%s=%r\n" % item for item in sorted(values.items())))


class SettingsFileFaults(unittest.TestCase):
    def test_a_damaged_file_is_kept_aside_said_so_and_the_count_goes_on(self):
        cases = {
            "zeros, as a power cut leaves it": b"\0" * 342,
            "random bytes": random.Random(5).randbytes(400),
            "not a settings file": b"\xff\xfe[\0G\n[General\nlastPercentage=50",
            "empty": b"",
        }
        for what, content in cases.items():
            with self.subTest(what):
                run = Run(self)
                os.makedirs(os.path.dirname(run.conf))
                with open(run.conf, "wb") as file:
                    file.write(content)
                run.start()
                self.assertEqual(run.figures()["currentChargeLabel"], "32.9%")
                said = run.lines_about(run.conf)
                self.assertEqual(len(said), 1, run.stderr())
                self.assertTrue(said[0].endswith("starting a new count."), said[0])
                self.assertEqual(run.stop(), 0)
                self.assertEqual(run.saved()["lastPercentage"], CHARGE)
                if content:
                    self.assertEqual(read_bytes(run.conf + ".corrupt"), content, "the damaged bytes are kept for the user")

    def test_a_partly_damaged_file_keeps_the_count_it_still_holds(self):
        run = Run(self)
        run.write_count(started_ago=3630)
        with open(run.conf, "ab") as file:
            file.write(b"\x01\x02\xfe garbage=x\n")
        run.start()
        self.assertEqual(run.figures()["timeAwakeLabel"], "01:00")
        self.assertEqual(len(run.lines_about("is damaged")), 1, run.stderr())
        self.assertEqual(run.stop(), 0)
        run.saved()

    def test_a_file_that_cannot_be_written_is_said_at_start_once_and_the_count_goes_on(self):
        for what in ("read-only file", "a file where the folder should be"):
            with self.subTest(what):
                run = Run(self)
                if what == "read-only file":
                    run.write_count(started_ago=3630)
                    os.chmod(run.conf, 0o444)
                    os.chmod(os.path.dirname(run.conf), 0o555)
                    self.addCleanup(os.chmod, os.path.dirname(run.conf), 0o755)
                    reason = "Permission denied"
                else:
                    with open(os.path.dirname(run.conf), "w"):
                        pass
                    reason = "Not a directory"
                before = read_bytes(run.conf) if what == "read-only file" else None
                run.start(prefix=drop_file_permission_override())
                figures = run.figures()
                said = run.lines_about("cannot save to " + run.conf)
                self.assertEqual(len(said), 1, "said before the first tick: " + run.stderr())
                self.assertIn("(%s)" % reason, said[0])
                if before:
                    self.assertEqual(figures["timeAwakeLabel"], "01:00", "the count was read")
                self.assertEqual(run.stop(), 0)
                self.assertEqual(len(run.lines_about("cannot save to")), 1, "and not again at the end")
                if before:
                    self.assertEqual(read_bytes(run.conf), before)

    def test_a_missing_settings_folder_is_made_at_the_first_save(self):
        run = Run(self)
        run.env["XDG_CONFIG_HOME"] = run.config = os.path.join(run.home, "new", "config")
        run.conf = os.path.join(run.config, "Drainwatch", "Drainwatch.conf")
        run.start()
        run.figures()
        self.assertEqual(run.stop(), 0)
        self.assertEqual(run.lines_about("Drainwatch.conf"), [])
        run.saved()


class LogFaults(unittest.TestCase):
    def check_runs_without_the_log(self, run, complaint, **start):
        run.start(**start)
        self.assertEqual(run.figures()["currentChargeLabel"], "32.9%")
        self.assertEqual(run.stop(), 0)
        said = run.lines_about("the log")
        self.assertEqual(len(said), 1, "said once: " + run.stderr())
        self.assertIn(complaint, said[0])
        run.saved()

    def test_a_log_folder_that_cannot_be_created(self):
        run = Run(self)
        os.makedirs(os.path.dirname(os.path.dirname(run.log)))
        with open(os.path.dirname(run.log), "w"):
            pass
        self.check_runs_without_the_log(run, "cannot create the log folder")

    def test_a_full_disk(self):
        run = Run(self)
        os.makedirs(os.path.dirname(run.log))
        os.symlink("/dev/full", run.log)
        self.check_runs_without_the_log(run, "No space left on device")

    def test_a_file_size_limit_leaves_the_log_as_it_was(self):
        run = Run(self)
        os.makedirs(os.path.dirname(run.log))
        limit = 16384  # above the settings file and the store's write probe
        earlier = (b"[12:00:00] an earlier line\n" * 1000)[:limit - 1] + b"\n"
        with open(run.log, "wb") as file:
            file.write(earlier)

        def limits():
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
        self.check_runs_without_the_log(run, "File too large", limits=limits)
        self.assertEqual(read_bytes(run.log), earlier)


@unittest.skipUnless(os.path.exists(FAKETIME), "needs libfaketime (Debian package faketime)")
class ClockJumps(unittest.TestCase):
    def set_clock(self, offset):
        with open(self.clock_file + ".new", "w") as file:
            file.write("%+d\n" % offset)
        os.replace(self.clock_file + ".new", self.clock_file)

    def test_back_an_hour_and_forward_a_day(self):
        run = Run(self)
        self.clock_file = os.path.join(run.home, "faketime")
        self.set_clock(0)
        run.env.update(LD_PRELOAD=FAKETIME, FAKETIME_TIMESTAMP_FILE=self.clock_file, FAKETIME_NO_CACHE="1",
                       # Qt's timers keep to the monotonic clock: ticks come on while the wall clock jumps.
                       FAKETIME_DONT_FAKE_MONOTONIC="1")
        run.write_count(started_ago=3630)
        run.start()
        first = run.figures()
        self.assertEqual((first["timeAwakeLabel"], first["timeOnBatteryLabel"]), ("01:00", "01:00"))

        # Set back: the count's start moves with the clock; not a sleep.
        self.set_clock(-3600)
        back = run.figures()
        self.assertEqual((back["timeAwakeLabel"], back["timeOnBatteryLabel"]), ("01:00", "01:00"))
        with open(run.log) as file:
            self.assertNotIn("Missed heartbeat", file.read())

        # A day forward: a missed heartbeat, cut out of the awake time only.
        self.set_clock(-3600 + 86400)
        forward = run.figures()
        self.assertEqual((forward["timeAwakeLabel"], forward["timeOnBatteryLabel"]), ("01:00", "25:00"))
        with open(run.log) as file:
            self.assertRegex(file.read(), r"Missed heartbeat, last was 864\d\d(\.\d+)?s ago")
        self.assertEqual(run.stop(), 0)
        saved = run.saved()
        self.assertLess(saved["batteryUsage.lastHeartBeat"] - saved["batteryUsage.startedAt"], 3700)


class TwoStarts(unittest.TestCase):
    def test_of_two_starts_at_the_same_moment_exactly_one_monitor_runs(self):
        modes = {"terminal": ("--json",), "window": ()}
        for mode, round in [(mode, round) for mode in modes for round in range(4)]:
            with self.subTest(mode=mode, round=round):
                first = Run(self)
                second = Run(self, home=first.home)
                if mode == "window":
                    for run in (first, second):
                        run.env.update(DISPLAY=":99", QT_QPA_PLATFORM="offscreen")
                first.start(arguments=modes[mode])
                second.start(arguments=modes[mode])
                runs = {first, second}
                deadline = time.monotonic() + DEADLINE
                while all(run.process.poll() is None for run in runs) and time.monotonic() < deadline:
                    time.sleep(0.01)
                ended = [run for run in runs if run.process.poll() is not None]
                self.assertEqual(len(ended), 1, "one of the two ends by itself")
                loser, = ended
                winner, = runs - {loser}
                # The window program brings the first one's window forward: done, 0. The
                # terminal cannot show another's figures: it says so.
                self.assertEqual(loser.process.returncode, 0, loser.stderr())
                self.assertEqual(len(loser.lines_about("already running")), 1, loser.stderr())
                self.assertEqual(loser.process.stdout.read(), b"", "the loser counted nothing")
                if mode == "terminal":
                    winner.figures()
                deadline = time.monotonic() + DEADLINE
                while "Started app" not in read_text(winner.log) and time.monotonic() < deadline:
                    time.sleep(0.01)
                self.assertIsNone(winner.process.poll(), winner.stderr())
                self.assertEqual(winner.stop(), 0)
                self.assertEqual(read_text(winner.log).count("Started app"), 1)


class NoSystemBus(unittest.TestCase):
    def test_runs_and_says_in_one_line_that_sleep_is_found_from_gaps(self):
        run = Run(self)
        run.env["DBUS_SYSTEM_BUS_ADDRESS"] = NO_BUS
        run.start()
        self.assertEqual(run.figures()["currentChargeLabel"], "32.9%")
        said = run.lines_about("sleep is detected from gaps between ticks only")
        self.assertEqual(len(said), 1, run.stderr())
        self.assertEqual(len(run.stderr().splitlines()), 1, "and nothing else: " + run.stderr())
        self.assertEqual(run.stop(), 0)
        run.saved()


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:], verbosity=2)
