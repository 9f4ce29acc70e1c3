#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""The sleep history through the real program: a suspend told by a mocked
logind on a private system bus, the kernel's suspend counters moved in a
recorded /sys tree meanwhile. The record is in the --json ticks, read back
with `drainwatch --sleeps --json` while the monitor runs, and announced to a
mocked notification service on a private session bus.

The suspended clock (CLOCK_BOOTTIME - CLOCK_MONOTONIC) cannot be moved
without a real suspend, so the time asleep is about 0 here; the simulator's
scenarios cover the figures that depend on it.

usage: sleep_ledger_test.py PATH/TO/drainwatch POWER_SUPPLY_FIXTURE SYS_FIXTURE
"""
import csv
import io
import json
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

FAKETIME = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1"
PROGRAM, BATTERY_FIXTURE, SYS_FIXTURE = sys.argv[1], sys.argv[2], sys.argv[3]

try:
    import dbus
    import dbusmock
except ImportError:  # pragma: no cover
    dbusmock = None


def wait_for(condition, what, seconds=15):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.02)
    raise AssertionError("timed out waiting for " + what)


def write(path, text):
    with open(path, "w") as out:
        out.write(text + "\n")


@unittest.skipIf(dbusmock is None or not shutil.which("dbus-daemon") or not os.path.exists(FAKETIME),
                 "needs dbus-daemon, python3-dbusmock and faketime (scripts/install-deps.sh installs them)")
class SleepLedger(dbusmock.DBusTestCase if dbusmock else unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.start_system_bus()
        cls.start_session_bus()
        cls.logind, cls.logind_mock = cls.spawn_server_template("logind", {}, stdout=subprocess.DEVNULL)
        cls.notifier, cls.notifier_mock = cls.spawn_server_template("notification_daemon", {},
                                                                    stdout=subprocess.DEVNULL)

    @classmethod
    def tearDownClass(cls):
        for process in (cls.logind, cls.notifier):
            process.terminate()
            process.wait()
        super().tearDownClass()

    def setUp(self):
        self.home = tempfile.mkdtemp(prefix="drainwatch-ledger-")
        self.battery = os.path.join(self.home, "power_supply")
        self.sys = os.path.join(self.home, "sys")
        shutil.copytree(BATTERY_FIXTURE, self.battery)
        shutil.copytree(SYS_FIXTURE, self.sys)
        self.clock_file = os.path.join(self.home, "faketime")
        self.set_clock_offset(0)
        self.notifier_mock.ClearCalls(dbus_interface=dbusmock.MOCK_IFACE)
        self.env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        self.env.update(
            XDG_CONFIG_HOME=os.path.join(self.home, "config"),
            XDG_STATE_HOME=os.path.join(self.home, "state"),
            XDG_RUNTIME_DIR=self.home,
            DRAINWATCH_SYS_DIR=self.sys,
            DRAINWATCH_POWER_SUPPLY_DIR=self.battery,
            TZ="UTC",
            LD_PRELOAD=FAKETIME,
            FAKETIME_TIMESTAMP_FILE=self.clock_file,
            FAKETIME_NO_CACHE="1",
            FAKETIME_DONT_FAKE_MONOTONIC="1",
        )
        self.process = None

    def tearDown(self):
        if self.process:
            if self.process.poll() is None:
                self.process.kill()
            self.process.wait()
            self.process.stdout.close()
            self.process.stderr.close()
        shutil.rmtree(self.home, ignore_errors=True)

    def start(self, *arguments):
        self.process = subprocess.Popen([PROGRAM, "--json", *arguments], env=self.env, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, stdin=subprocess.DEVNULL, text=True)

    def set_clock_offset(self, seconds):
        with open(self.clock_file + ".new", "w") as out:
            out.write("%+d\n" % seconds)
        os.replace(self.clock_file + ".new", self.clock_file)

    def next_figures(self):
        ready, _, _ = select.select([self.process.stdout], [], [], 15)
        self.assertTrue(ready, "no tick within 15 s")
        line = self.process.stdout.readline()
        if not line:
            self.fail("the program ended: " + self.process.stderr.read())
        return json.loads(line)

    def prepare_for_sleep(self, starting):
        self.logind_mock.EmitSignal("org.freedesktop.login1.Manager", "PrepareForSleep", "b",
                                    [dbus.Boolean(starting)], dbus_interface=dbusmock.MOCK_IFACE)

    def log(self):
        try:
            with open(os.path.join(self.home, "state", "Logs", "Drainwatch", "Drainwatch.log")) as f:
                return f.read()
        except FileNotFoundError:
            return ""

    def our_locks(self):
        manager = dbus.Interface(self.logind_mock, "org.freedesktop.login1.Manager")
        return [lock for lock in manager.ListInhibitors() if str(lock[1]) == "Drainwatch"]

    def history_events(self):
        reader = subprocess.run([PROGRAM, "--history"], env=self.env, capture_output=True, text=True, timeout=10)
        self.assertEqual(reader.returncode, 0, reader.stderr)
        rows = list(csv.DictReader(io.StringIO(reader.stdout, newline="")))
        return [row["event"] for row in rows]

    def notifications(self):
        return self.notifier_mock.GetMethodCalls("Notify", dbus_interface=dbusmock.MOCK_IFACE)

    def suspend(self):
        """A suspend of two hours on the wall clock in which one attempt
        failed and the machine slept three times, woken by the USB
        controller twice and the lid once."""
        wait_for(self.our_locks, "the delay lock")
        self.prepare_for_sleep(True)
        # The lock goes once the note is handled, its snapshot taken.
        wait_for(lambda: not self.our_locks(), "the delay lock to be released")
        self.assertIn("Entering sleep at 32.9%", self.log())
        # The samples were on disk before the lock went.
        self.assertEqual(self.history_events(), ["start", "will sleep"])
        stats = os.path.join(self.sys, "power", "suspend_stats")
        write(os.path.join(stats, "success"), "45")
        write(os.path.join(stats, "fail"), "2")
        write(os.path.join(stats, "last_failed_dev"), "i2c-ELAN0001:00")
        write(os.path.join(self.sys, "class", "wakeup", "wakeup4", "wakeup_count"), "7")
        write(os.path.join(self.sys, "class", "wakeup", "wakeup0", "wakeup_count"), "18")
        write(os.path.join(self.battery, "BAT0", "charge_now"), "1990000")
        self.set_clock_offset(8 + 7200)
        self.prepare_for_sleep(False)

    def test_a_suspend_is_recorded_kept_and_announced(self):
        self.start()
        self.assertIsNone(self.next_figures()["lastSleep"])
        self.set_clock_offset(8)
        self.next_figures()
        self.suspend()

        record = wait_for(lambda: self.next_figures()["lastSleep"], "a tick with the sleep record")
        self.assertEqual(record["how"], "suspend")
        self.assertEqual(record["mode"], "s2idle")
        self.assertTrue(record["onBattery"])
        self.assertAlmostEqual(record["chargeBefore"], 2119000 / 6439000, places=6)
        self.assertAlmostEqual(record["chargeAfter"], 1990000 / 6439000, places=6)
        self.assertGreaterEqual(record["end"] - record["start"], 7200)
        self.assertLess(record["asleepSeconds"], 60)
        self.assertIsNone(record["ratePerHour"])
        self.assertEqual((record["cycles"], record["failed"], record["failedDevice"]), (3, 1, "i2c-ELAN0001:00"))
        self.assertEqual(record["wokenBy"], ["0000:00:14.0", "PNP0C0D:00"])
        self.assertEqual(record["flags"], ["failed", "restless"])

        # Read back beside the running monitor.
        reader = subprocess.run([PROGRAM, "--sleeps", "--json"], env=self.env, capture_output=True, text=True,
                                timeout=10)
        self.assertEqual(reader.returncode, 0, reader.stderr)
        self.assertEqual([json.loads(line) for line in reader.stdout.splitlines()], [record])
        table = subprocess.run([PROGRAM, "--sleeps"], env=self.env, capture_output=True, text=True, timeout=10)
        self.assertIn("failed, restless", table.stdout)

        calls = wait_for(self.notifications, "the notification")
        self.assertEqual(len(calls), 1)
        app, replaces, icon, summary, body, actions, hints, timeout = calls[0][1]
        self.assertEqual((str(app), int(replaces)), ("Drainwatch", 0))
        self.assertIn("Sleep of", str(summary))
        self.assertIn("One attempt to sleep failed, last because of the device i2c-ELAN0001:00.", str(body))
        self.assertIn("It woke 2 times and went back to sleep.", str(body))

        self.process.send_signal(signal.SIGTERM)
        self.assertEqual(self.process.wait(10), 0)
        events = self.history_events()
        self.assertEqual(events[:4], ["start", "will sleep", "wake", "missed heartbeat"])
        self.assertEqual(events[-1], "quit")

    def test_no_notify_and_the_settings_key_keep_it_quiet(self):
        config = os.path.join(self.home, "config", "Drainwatch")
        for arguments, setting in ((["--no-notify"], None), ([], "sleepNotificationsOff=1")):
            self.notifier_mock.ClearCalls(dbus_interface=dbusmock.MOCK_IFACE)
            shutil.rmtree(os.path.join(self.home, "state"), ignore_errors=True)
            shutil.rmtree(self.sys)
            shutil.copytree(SYS_FIXTURE, self.sys)
            write(os.path.join(self.battery, "BAT0", "charge_now"), "2119000")
            self.set_clock_offset(0)
            os.makedirs(config, exist_ok=True)
            write(os.path.join(config, "Drainwatch.conf"), "[General]\n" + setting if setting else "")
            self.start(*arguments)
            self.next_figures()
            self.set_clock_offset(8)
            self.next_figures()
            self.suspend()
            record = wait_for(lambda: self.next_figures()["lastSleep"], "a tick with the sleep record")
            self.assertEqual(record["flags"], ["failed", "restless"])
            self.process.send_signal(signal.SIGTERM)
            self.assertEqual(self.process.wait(10), 0)
            self.process.stdout.close()
            self.process.stderr.close()
            self.process = None
            # A notification would have been sent from the tick that made the record.
            self.assertEqual(self.notifications(), [], arguments or setting)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=2)
