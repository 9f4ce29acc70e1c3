#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""The real program under faults of its surroundings: a damaged or unwritable
settings file, a log that cannot be written, kills while saving, a wall clock
that jumps, two starts at once, no system bus. Each run has its own temporary
XDG folders; every wait has a deadline.

usage: process_faults.py PATH/TO/drainwatch PATH/TO/fault_save_loop POWER_SUPPLY_FIXTURE [TestClass ...]
"""
import json
import math
import operator
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

PROGRAM, SAVE_LOOP, FIXTURE = sys.argv[1:4]
FAKETIME = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1"
# Seconds after which a wait counts as a hang. Only a hung run waits this
# long: each wait ends as soon as what it waits for has come, and on a loaded
# machine under the sanitizers a tick may come many seconds late.
DEADLINE = 40
NINE_KEYS = {"lastPercentage", "startedCountingAtPercentage", "usedDuringSleepPercentage", "batteryUsage.startedAt",
             "batteryUsage.lastHeartBeat", "acUsage.startedAt", "acUsage.lastHeartBeat", "amperageAverage.current",
             "amperageAverage.samples"}
# Every form a text may take; nan, inf or a negative duration is none of them.
SANE_TEXT = re.compile(r"\((no battery|on AC power|please wait|unknown)\)|\d{2,}:\d{2}|\d+\.\d%"
                       r"|\d+\.\d %/h \((charging|\d+\.\d %/h recent, \d+\.\d %/h avg)\)"
                       r"|\d+\.\d% \(\d+mAh of \d+mAh\)")
CHARGE = 2119000 / 6439000  # the fixture's charge, shown as 32.9%
AWAKE_AND_TOTAL = operator.itemgetter("timeAwakeLabel", "timeOnBatteryLabel")


def read_bytes(path):
    try:
        with open(path, "rb") as file:
            return file.read()
    except (FileNotFoundError, NotADirectoryError):
        return b""


def wait_until(condition, what):
    deadline = time.monotonic() + DEADLINE
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError("not within %d s: %s" % (DEADLINE, what))
        time.sleep(0.01)


class Run:
    """One start of a program in its own home, without a system bus."""

    def __init__(self, test, home=None):
        self.test, self.output, self.errors = test, b"", b""
        self.home = home or tempfile.mkdtemp(prefix="drainwatch-fault-")
        test.addCleanup(shutil.rmtree, self.home, True)
        self.config, state, runtime = (os.path.join(self.home, name) for name in ("config", "state", "runtime"))
        for folder in (self.config, state, runtime):
            os.makedirs(folder, mode=0o700, exist_ok=True)
        self.conf = os.path.join(self.config, "Drainwatch", "Drainwatch.conf")
        self.log = os.path.join(state, "Logs", "Drainwatch", "Drainwatch.log")
        self.env = {k: v for k, v in os.environ.items() if k not in ("DBUS_SESSION_BUS_ADDRESS", "LD_PRELOAD")}
        self.env.update(XDG_CONFIG_HOME=self.config, XDG_STATE_HOME=state, XDG_RUNTIME_DIR=runtime, TZ="UTC",
                        DRAINWATCH_POWER_SUPPLY_DIR=FIXTURE, DBUS_SYSTEM_BUS_ADDRESS="unix:path=/nonexistent",
                        DISPLAY=":99", QT_QPA_PLATFORM="offscreen")

    def start(self, command=(PROGRAM, "--json"), limits=None):
        # As root, the program would write a read-only file anyway: it runs
        # without the capabilities that let root ignore file permissions.
        prefix = ["setpriv", "--inh-caps=-all", "--bounding-set=-dac_override,-dac_read_search,-fowner", "--"]
        self.process = subprocess.Popen((prefix if os.geteuid() == 0 else []) + list(command), env=self.env,
                                        stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                        preexec_fn=limits)
        self.test.addCleanup(self.end)
        return self

    def end(self):
        with self.process:
            self.process.kill()

    def line(self):
        """The next line of standard output; empty when the program ended or said nothing in time."""
        while b"\n" not in self.output:
            ready, _, _ = select.select([self.process.stdout], [], [], DEADLINE)
            chunk = os.read(self.process.stdout.fileno(), 65536) if ready else b""
            if not chunk:
                return ""
            self.output += chunk
        line, self.output = self.output.split(b"\n", 1)
        return line.decode()

    def figures(self):
        """The next tick's JSON object, its texts checked."""
        line = self.line()
        self.test.assertTrue(line, "no tick within %d s; stderr: %s" % (DEADLINE, self.stderr()))
        figures = json.loads(line)
        for name, value in figures.items():
            if name.endswith("Label"):
                self.test.assertRegex(value, "^(%s)$" % SANE_TEXT.pattern, name)
        return figures

    def stderr(self):
        """Everything written to standard error so far."""
        while select.select([self.process.stderr], [], [], 0)[0]:
            chunk = os.read(self.process.stderr.fileno(), 65536)
            if not chunk:
                break
            self.errors += chunk
        return self.errors.decode(errors="replace")

    def lines_about(self, text):
        return [line for line in self.stderr().splitlines() if text in line]

    def log_text(self):
        return read_bytes(self.log).decode(errors="replace")

    def stop(self):
        """An orderly end (SIGTERM), as at logout; returns the exit status."""
        self.process.send_signal(signal.SIGTERM)
        status = self.process.wait(DEADLINE)
        self.errors += self.process.stderr.read()
        return status

    def saved(self):
        """The nine keys of the settings file, each a finite number."""
        with open(self.conf) as file:
            header, *lines = file.read().splitlines()
        values = {key: float(value) for key, value in (line.split("=", 1) for line in lines if line)}
        self.test.assertEqual((header, set(values)), ("[General]", NINE_KEYS))
        self.test.assertTrue(all(map(math.isfinite, values.values())), values)
        return values

    def write_count(self):
        """A count on battery begun 3630 s ago, its last heartbeat now: both
        times read "01:00" for half a minute, time enough for a slow start."""
        now = time.time()
        values = {"batteryUsage.startedAt": now - 3630, "batteryUsage.lastHeartBeat": now,
                  "acUsage.startedAt": now - 3630, "acUsage.lastHeartBeat": now, "lastPercentage": CHARGE + 0.001,
                  "startedCountingAtPercentage": 0.5, "usedDuringSleepPercentage": 0.0,
                  "amperageAverage.current": 1675, "amperageAverage.samples": 100}
        os.makedirs(os.path.dirname(self.conf), exist_ok=True)
        with open(self.conf, "w") as file:
            file.write("[General]\n" + "".join("%s=%r\n" % item for item in sorted(values.items())))


class SettingsFileFaults(unittest.TestCase):
    def test_the_program_starts_says_what_is_wrong_once_and_counts_on(self):
        def damaged(content, count=False):
            def prepare(run):
                if count:
                    run.write_count()
                os.makedirs(os.path.dirname(run.conf), exist_ok=True)
                with open(run.conf, "ab") as file:
                    file.write(content)
            return prepare

        def read_only(run):
            run.write_count()
            os.chmod(run.conf, 0o444)
            os.chmod(os.path.dirname(run.conf), 0o555)
            self.addCleanup(os.chmod, os.path.dirname(run.conf), 0o755)

        def file_for_folder(run):
            open(os.path.dirname(run.conf), "w").close()

        def fifo(run):
            os.makedirs(os.path.dirname(run.conf))
            os.mkfifo(run.conf)

        # What is there; what the one line about it says (None: no line); the
        # count shown; whether the file is kept aside; whether the count is saved.
        new, fresh = "starting a new count.", "(please wait)"  # what a count only seconds old shows on battery
        for what, prepare, said, awake, aside, saves in [
                ("zeros, as a power cut leaves them", damaged(b"\0" * 342), new, fresh, True, True),
                ("random bytes", damaged(random.Random(5).randbytes(400)), new, fresh, True, True),
                ("not a settings file", damaged(b"\xff\xfe[\0G\n[General\nlastPercentage=50"), new, fresh, True, True),
                ("empty", damaged(b""), new, fresh, False, True),
                ("partly damaged", damaged(b"\x01\x02\xfe garbage=x\n", True), "counting on with", "01:00", True, True),
                ("read-only", read_only, "cannot save to %s (Permission denied)", "01:00", False, False),
                ("a file for its folder", file_for_folder, "cannot save to %s (Not a directory)", fresh, False, False),
                ("no folder", lambda run: shutil.rmtree(run.config), None, fresh, False, True),
                ("a FIFO, which would block the start", fifo, "is not a regular file", fresh, False, None)]:
            with self.subTest(what):
                run = Run(self)
                prepare(run)
                before = None if saves is None else read_bytes(run.conf)
                figures = run.start().figures()
                self.assertEqual((figures["currentChargeLabel"], figures["timeAwakeLabel"]), ("32.9%", awake))
                lines = run.lines_about(run.conf)
                self.assertEqual(len(lines), int(said is not None), "said before the first tick: " + run.stderr())
                if said:
                    self.assertIn(said.replace("%s", run.conf), lines[0])
                self.assertEqual(run.stop(), 0)
                self.assertEqual(run.lines_about(run.conf), lines, "and not again")
                if aside:
                    self.assertEqual(read_bytes(run.conf + ".corrupt"), before, "the damaged bytes are kept")
                if saves:
                    self.assertEqual(run.saved()["lastPercentage"], CHARGE)
                elif saves is None:
                    self.assertTrue(stat.S_ISFIFO(os.lstat(run.conf).st_mode), "left as it is")
                else:
                    self.assertEqual(read_bytes(run.conf), before)


class LogFaults(unittest.TestCase):
    def test_the_program_runs_on_without_the_log_and_says_so_once(self):
        limit = 16384  # above the settings file and the store's write probe
        earlier = (b"[12:00:00] an earlier line\n" * 1000)[:limit - 1] + b"\n"

        def folder_is_a_file(run):
            os.makedirs(os.path.dirname(os.path.dirname(run.log)))
            open(os.path.dirname(run.log), "w").close()

        chosen = []

        def symlink(run):
            os.makedirs(os.path.dirname(run.log))
            chosen.append(os.path.join(run.home, "a file of someone's choosing"))
            with open(chosen[-1], "w") as file:
                file.write("kept\n")
            os.symlink(chosen[-1], run.log)

        def fifo(run):
            os.makedirs(os.path.dirname(run.log))
            os.mkfifo(run.log)

        def earlier_lines(run):
            os.makedirs(os.path.dirname(run.log))
            with open(run.log, "wb") as file:
                file.write(earlier)

        def file_size_limit():
            resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))

        for prepare, complaint, limits in [(folder_is_a_file, "cannot create the log folder", None),
                                           (symlink, "it is a symbolic link", None),
                                           (fifo, "it is not a regular file", None),
                                           (earlier_lines, "File too large", file_size_limit)]:
            with self.subTest(complaint):
                run = Run(self)
                prepare(run)
                self.assertEqual(run.start(limits=limits).figures()["currentChargeLabel"], "32.9%")
                self.assertEqual(run.stop(), 0)
                said = run.lines_about("the log")
                self.assertEqual(len(said), 1, "said once: " + run.stderr())
                self.assertIn(complaint, said[0])
                run.saved()
                if limits:
                    self.assertEqual(read_bytes(run.log), earlier, "the log is left as it was")
                if prepare is symlink:
                    self.assertEqual(read_bytes(chosen[-1]), b"kept\n", "nothing written through the link")


class KillWhileSaving(unittest.TestCase):
    """The settings store saving in a loop (fault_save_loop: all nine keys hold
    the generation number, told on standard output after each save)."""

    def test_after_200_kills_the_file_is_always_one_whole_state_and_nothing_saved_is_lost(self):
        home, last_saved = tempfile.mkdtemp(prefix="drainwatch-fault-"), 0
        for kill in range(200):
            run = Run(self, home).start((SAVE_LOOP,))
            self.assertEqual(run.line(), "loaded %d" % last_saved, "kill %d: the start read an older state" % kill)
            # 0 to 12 saves into a run: mostly where a start and a save meet.
            for _ in range(kill % 13):
                last_saved = self.number_after("saved", run.line())
            run.process.kill()
            # What it finished before the kill landed, told before it died.
            for line in iter(run.line, ""):
                last_saved = self.number_after("saved", line)
            run.end()
            if last_saved == 0 and not os.path.exists(run.conf):
                continue
            values = run.saved()
            on_disk = values.pop("amperageAverage.samples")
            self.assertEqual(set(values.values()), {on_disk + 0.25}, "kill %d: one whole state" % kill)
            self.assertIn(on_disk - last_saved, (0, 1), "kill %d: a finished save was lost" % kill)
            # The save in flight may have reached the disk; the next start reads it.
            last_saved = int(on_disk)

    def number_after(self, word, line):
        self.assertRegex(line, "^%s [0-9]+$" % word)
        return int(line.split()[1])

    def test_what_a_kill_left_behind_neither_piles_up_nor_holds_up_the_next_save(self):
        # A kill or a power cut leaves QSaveFile's temporary files (six letters),
        # empty or holding settings, beside QSettings' lock, empty or naming a
        # process that is gone, or a stale lock with QLockFile's ".rmlock" empty.
        # The user's own files beside it stay, even one that holds settings.
        stale = "%d\nfault_save_loop\n\n" % (1 << 22 | 1)  # above any pid
        settings = "[General]\nlastPercentage=0.5\nusedDuring"
        users = {"corrupt": "the user's", "Backup": "my own notes", "OLD123": "", "save01": settings}
        for left, kept in [({"lock": "", "AbcxYz": "", "qrLmNo": settings}, users),
                           ({"lock": stale, "KlmNop": settings}, users),
                           ({"lock": stale, "lock.rmlock": ""}, users),
                           ({}, dict(users, Backup=settings))]:
            with self.subTest(sorted(left)):
                run = Run(self)
                folder = os.path.dirname(run.conf)
                os.makedirs(folder)
                for suffix, text in dict(left, **kept).items():
                    with open(run.conf + "." + suffix, "w") as file:
                        file.write(text)
                run.start((SAVE_LOOP, "1"))
                self.assertEqual([run.line(), run.line()], ["loaded 0", "saved 1"], "no wait for a lock to age")
                self.assertEqual(run.process.wait(DEADLINE), 0)
                self.assertEqual(sorted(os.listdir(folder)),
                                 sorted(["Drainwatch.conf"] + ["Drainwatch.conf." + suffix for suffix in kept]))


@unittest.skipUnless(os.path.exists(FAKETIME), "needs libfaketime (Debian package faketime)")
class ClockJumps(unittest.TestCase):
    def test_back_an_hour_and_forward_a_day(self):
        run = Run(self)
        clock = os.path.join(run.home, "faketime")

        def set_clock(offset):
            with open(clock + ".new", "w") as file:
                file.write("%+d\n" % offset)
            os.replace(clock + ".new", clock)

        set_clock(0)
        # Qt's timers keep to the monotonic clock: ticks come on while the wall clock jumps.
        run.env.update(LD_PRELOAD=FAKETIME, FAKETIME_TIMESTAMP_FILE=clock, FAKETIME_NO_CACHE="1",
                       FAKETIME_DONT_FAKE_MONOTONIC="1")
        run.write_count()
        self.assertEqual(AWAKE_AND_TOTAL(run.start().figures()), ("01:00", "01:00"))
        # Set back: the count's start moves with the clock; not a sleep.
        set_clock(-3600)
        self.assertEqual(AWAKE_AND_TOTAL(run.figures()), ("01:00", "01:00"))
        self.assertNotIn("Missed heartbeat", run.log_text())
        # A day forward: a missed heartbeat, cut out of the awake time only.
        set_clock(-3600 + 86400)
        self.assertEqual(AWAKE_AND_TOTAL(run.figures()), ("01:00", "25:00"))
        self.assertRegex(run.log_text(), r"Missed heartbeat, last was 864\d\d(\.\d+)?s ago")
        self.assertEqual(run.stop(), 0)
        saved = run.saved()
        self.assertLess(saved["batteryUsage.lastHeartBeat"] - saved["batteryUsage.startedAt"], 3700)


class ImpossibleCount(unittest.TestCase):
    def test_a_count_that_cannot_be_is_dropped_once_with_a_word_as_on_a_first_run(self):
        now = time.time()
        for what, changes in [("a start in the year 10^292", {"batteryUsage.startedAt": 1e300}),
                              ("a start after the last heartbeat", {"batteryUsage.startedAt": now + 60}),
                              ("a heartbeat a year ahead", {"acUsage.lastHeartBeat": now + 3.2e7})]:
            with self.subTest(what):
                run = Run(self)
                run.write_count()
                with open(run.conf) as file:
                    text = file.read()
                for key, value in changes.items():
                    text = re.sub(r"(?m)^%s=.*$" % re.escape(key), "%s=%r" % (key, value), text)
                with open(run.conf, "w") as file:
                    file.write(text)
                figures = run.start().figures()
                self.assertEqual((figures["timeAwakeLabel"], figures["countingSinceLabel"]), ("(please wait)", "32.9%"))
                self.assertEqual(len(run.lines_about("the saved count cannot be right")), 1, run.stderr())
                run.figures()
                self.assertEqual(run.stop(), 0)
                self.assertEqual(len(run.lines_about("the saved count cannot be right")), 1, "said once")
                saved = run.saved()
                for prefix in ("batteryUsage", "acUsage"):
                    self.assertLessEqual(saved[prefix + ".startedAt"], saved[prefix + ".lastHeartBeat"])
                    self.assertLess(abs(saved[prefix + ".lastHeartBeat"] - time.time()), 15, "saved at the stop")
                self.assertEqual(saved["usedDuringSleepPercentage"], 0)


class OutputErrors(unittest.TestCase):
    def test_a_failed_write_to_standard_output_exits_1(self):
        simulator = os.environ["DRAINWATCH_SIM"]
        scenario = os.path.join(tempfile.mkdtemp(prefix="drainwatch-fault-"), "s.scn")
        self.addCleanup(shutil.rmtree, os.path.dirname(scenario))
        with open(scenario, "w") as file:
            file.write("battery DesignCapacity=6000 MaxCapacity=5400 CurrentCapacity=4860 Amperage=-1200 Voltage=12400 "
                       "ExternalConnected=false\nlaunch\nprint\n")
        for command in [(PROGRAM, "--help"), (PROGRAM, "--version"), (PROGRAM, "--battery-info"),
                        (simulator, "--log", scenario + ".log", scenario)]:
            with self.subTest(command[1]):
                env = dict(os.environ, DRAINWATCH_POWER_SUPPLY_DIR=FIXTURE)
                with open("/dev/full", "w") as full:
                    done = subprocess.run(command, stdout=full, stderr=subprocess.PIPE, env=env, timeout=DEADLINE)
                self.assertEqual(done.returncode, 1, done.stderr)
                self.assertIn(b"No space left on device", done.stderr)


class TwoStarts(unittest.TestCase):
    def test_of_two_starts_at_the_same_moment_exactly_one_monitor_counts(self):
        for mode, command, round in [(mode, command, round) for mode, command in
                                     [("terminal", (PROGRAM, "--json")), ("window", (PROGRAM,))] for round in range(4)]:
            with self.subTest(mode=mode, round=round):
                first = Run(self)
                runs = {first.start(command), Run(self, first.home).start(command)}
                if mode == "window":
                    # The window program brings the first one's window forward.
                    wait_until(lambda: any(run.process.poll() is not None for run in runs), "one of the two ends")
                    ended = {run for run in runs if run.process.poll() is not None}
                    self.assertEqual(len(ended), 1, "one of the two ends by itself")
                    (loser,), (winner,) = ended, runs - ended
                    self.assertEqual(loser.process.returncode, 0, loser.stderr())
                    self.assertEqual(loser.line(), "", "the loser counted nothing")
                else:
                    # A status bar's second start shows the figures of the first.
                    wait_until(lambda: any(run.lines_about("already running") for run in runs), "one follows")
                    (loser,) = {run for run in runs if run.lines_about("already running")}
                    (winner,) = runs - {loser}
                    self.assertEqual(loser.figures()["currentChargeLabel"], "32.9%")
                    winner.figures()
                self.assertEqual(len(loser.lines_about("already running")), 1, loser.stderr())
                wait_until(lambda: "Started app" in winner.log_text(), "the winner starts")
                self.assertIsNone(winner.process.poll(), winner.stderr())
                self.assertEqual(winner.log_text().count("Started app"), 1)
                self.assertEqual(winner.stop(), 0)
                if mode == "terminal":
                    # The first ends: the follower counts on in its place.
                    self.assertEqual(loser.figures()["currentChargeLabel"], "32.9%")
                    wait_until(lambda: loser.log_text().count("Started app") == 2, "the follower takes over")
                    self.assertEqual(loser.stop(), 0)


    def test_a_lock_held_by_a_monitor_that_cannot_be_reached_exits_1_saying_so(self):
        first = Run(self).start()
        first.figures()
        # As a cleaner of the runtime folder might leave it.
        os.remove(os.path.join(first.env["XDG_RUNTIME_DIR"], "Drainwatch-%d.socket" % os.getuid()))
        second = Run(self, first.home).start()
        self.assertEqual(second.process.wait(DEADLINE), 1)
        self.assertEqual(len(second.lines_about("does not answer")), 1, second.stderr())
        self.assertEqual(second.line(), "")
        self.assertEqual(first.stop(), 0)


class StatusBarBesideWindow(unittest.TestCase):
    def test_json_follows_a_window_and_a_window_beside_json_says_why_not(self):
        window = Run(self).start((PROGRAM,))
        wait_until(lambda: "Started app" in window.log_text(), "the window starts")
        bar = Run(self, window.home).start()
        lines = [bar.figures(), bar.figures()]
        self.assertEqual([figures["currentChargeLabel"] for figures in lines], ["32.9%"] * 2, bar.stderr())
        self.assertEqual(window.log_text().count("Started app"), 1, "one monitor counts")
        self.assertEqual(window.stop(), 0)
        self.assertEqual(bar.stop(), 0)

        json = Run(self).start()
        json.figures()
        second = Run(self, json.home).start((PROGRAM,))
        self.assertEqual(second.process.wait(DEADLINE), 1)
        self.assertEqual(len(second.lines_about("already counting without a window")), 1, second.stderr())
        self.assertEqual(json.stop(), 0)


VICTIM, ATTACKER = 65534, 4242  # nobody (home /nonexistent), and a user without an entry


def as_user(uid):
    return ["setpriv", "--reuid=%d" % uid, "--regid=%d" % uid, "--clear-groups", "--"]


@unittest.skipUnless(os.geteuid() == 0 and shutil.which("setpriv"), "needs root to start processes as other users")
class OtherUsers(unittest.TestCase):
    """Another local user prepares the shared temporary folder; the user who
    runs Drainwatch has neither XDG_RUNTIME_DIR nor HOME set."""

    def victim(self, **env):
        run = Run(self)
        os.chmod(run.home, 0o755)
        for folder in (run.home, run.config, os.path.join(run.home, "runtime")):
            os.chown(folder, VICTIM, VICTIM)
        for name in ("XDG_RUNTIME_DIR", "XDG_STATE_HOME", "XDG_CACHE_HOME", "HOME"):
            run.env.pop(name, None)
        run.env.update(env)
        return run

    def plant(self, script):
        subprocess.run(as_user(ATTACKER) + ["/bin/sh", "-c", script], check=True, timeout=DEADLINE)

    def test_a_lock_planted_in_the_temporary_folder_does_not_stop_the_monitor(self):
        shared = tempfile.mkdtemp(prefix="drainwatch-shared-")
        self.addCleanup(shutil.rmtree, shared, True)
        os.chmod(shared, 0o1777)
        self.plant("cd %s && touch Drainwatch-%d.lock Drainwatch-%d.socket" % (shared, VICTIM, VICTIM))
        run = self.victim(TMPDIR=shared)
        run.env["HOME"] = run.home
        run.process = subprocess.Popen(as_user(VICTIM) + [PROGRAM, "--json"], env=run.env, stdin=subprocess.DEVNULL,
                                       stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.addCleanup(run.end)
        self.assertEqual(run.figures()["currentChargeLabel"], "32.9%")
        lock = os.path.join(run.home, ".cache", "Drainwatch", "Drainwatch-%d.lock" % VICTIM)
        self.assertTrue(os.path.exists(lock), os.listdir(run.home))
        self.assertEqual(stat.S_IMODE(os.lstat(os.path.dirname(lock)).st_mode), 0o700)
        self.assertEqual(run.stop(), 0)

    @unittest.skipIf(os.path.lexists("/tmp/.local"), "/tmp/.local is there already")
    def test_a_log_planted_in_tmp_is_neither_written_nor_waited_for(self):
        self.addCleanup(shutil.rmtree, "/tmp/.local", True)
        run = self.victim(XDG_CONFIG_HOME=run_config(self))
        chosen = os.path.join(run.home, "chosen")
        with open(chosen, "w") as file:
            file.write("kept\n")
        os.chown(chosen, VICTIM, VICTIM)
        self.plant("mkdir -p /tmp/.local/state/Logs/Drainwatch && ln -s %s /tmp/.local/state/Logs/Drainwatch/"
                   "Drainwatch.log && chmod -R a+rwx /tmp/.local" % chosen)
        run.env["XDG_RUNTIME_DIR"] = os.path.join(run.home, "runtime")
        run.process = subprocess.Popen(as_user(VICTIM) + [PROGRAM, "--json"], env=run.env, stdin=subprocess.DEVNULL,
                                       stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.addCleanup(run.end)
        self.assertEqual(run.figures()["currentChargeLabel"], "32.9%")
        self.assertEqual(run.stop(), 0)
        self.assertEqual(read_bytes(chosen), b"kept\n", "nothing written through the planted link")
        said = run.lines_about("the log")
        self.assertEqual(len(said), 1, run.stderr())
        self.assertIn("/nonexistent/.local/state/Logs/Drainwatch", said[0], "the home of the password database")


def run_config(test):
    folder = tempfile.mkdtemp(prefix="drainwatch-config-")
    test.addCleanup(shutil.rmtree, folder, True)
    os.chown(folder, VICTIM, VICTIM)
    return folder


class NoProc(unittest.TestCase):
    def test_without_proc_the_window_program_is_never_taken_from_the_current_folder(self):
        here = tempfile.mkdtemp(prefix="drainwatch-fault-")
        self.addCleanup(shutil.rmtree, here, True)
        planted = os.path.join(here, "drainwatch-desktop")
        with open(planted, "w") as file:
            file.write("#!/bin/sh\ntouch %s.ran\n" % planted)
        os.chmod(planted, 0o755)
        probe = subprocess.run(["unshare", "-m", "sh", "-c", "umount -l /proc"], capture_output=True)
        if probe.returncode != 0:
            self.skipTest("cannot hide /proc here: %s" % probe.stderr.decode())
        env = dict(os.environ, DISPLAY=":99", QT_QPA_PLATFORM="offscreen")
        done = subprocess.run(["unshare", "-m", "sh", "-c", 'umount -l /proc && exec "$0"', PROGRAM], cwd=here, env=env,
                              capture_output=True, timeout=DEADLINE)
        self.assertFalse(os.path.exists(planted + ".ran"), "a program in the current folder ran")
        self.assertEqual(done.returncode, 1, done.stderr)
        self.assertRegex(done.stderr.decode(), r"cannot start the window program /\S*libexec/drainwatch/drainwatch-desktop")


class NoSystemBus(unittest.TestCase):
    def test_runs_and_says_in_one_line_that_sleep_is_found_from_gaps(self):
        run = Run(self)
        self.assertEqual(run.start().figures()["currentChargeLabel"], "32.9%")
        self.assertEqual(run.stop(), 0)
        said = run.stderr().splitlines()
        self.assertEqual(len(said), 1, "one line and nothing else: " + run.stderr())
        self.assertIn("sleep is detected from gaps between ticks only", said[0])
        run.saved()


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]] + sys.argv[4:], verbosity=2)
