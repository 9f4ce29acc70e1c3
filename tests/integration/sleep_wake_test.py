#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""The real program on a private system bus with logind mocked: a suspend of
two hours, told by PrepareForSleep and felt by a wall clock that jumps
(libfaketime), is cut out of the awake time and its charge loss is booked.

usage: sleep_wake_test.py PATH/TO/drainwatch POWER_SUPPLY_FIXTURE
"""
import json
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

FAKETIME = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1"
PROGRAM, FIXTURE = sys.argv[1], sys.argv[2]

try:
    import dbus
    import dbusmock
except ImportError:  # pragma: no cover
    dbusmock = None


def wait_for(condition, what, seconds=10):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.02)
    raise AssertionError("timed out waiting for " + what)


@unittest.skipIf(dbusmock is None or not shutil.which("dbus-daemon") or not os.path.exists(FAKETIME),
                 "needs dbus-daemon, python3-dbusmock and faketime (scripts/install-deps.sh installs them)")
class SleepAndWake(dbusmock.DBusTestCase if dbusmock else unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.start_system_bus()
        cls.logind, cls.logind_mock = cls.spawn_server_template("logind", {}, stdout=subprocess.DEVNULL)

    @classmethod
    def tearDownClass(cls):
        cls.logind.terminate()
        cls.logind.wait()
        super().tearDownClass()

    def setUp(self):
        self.home = tempfile.mkdtemp(prefix="drainwatch-sleep-")
        self.battery = os.path.join(self.home, "power_supply")
        shutil.copytree(FIXTURE, self.battery)
        self.clock_file = os.path.join(self.home, "faketime")
        self.set_clock_offset(0)
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        env.update(
            XDG_CONFIG_HOME=os.path.join(self.home, "config"),
            XDG_STATE_HOME=os.path.join(self.home, "state"),
            XDG_RUNTIME_DIR=self.home,
            DRAINWATCH_POWER_SUPPLY_DIR=self.battery,
            TZ="UTC",
            LD_PRELOAD=FAKETIME,
            FAKETIME_TIMESTAMP_FILE=self.clock_file,
            FAKETIME_NO_CACHE="1",
            # Qt's timers run on the monotonic clock, which a suspend stops too.
            FAKETIME_DONT_FAKE_MONOTONIC="1",
        )
        self.log_path = os.path.join(self.home, "state", "Logs", "Drainwatch", "Drainwatch.log")
        self.process = subprocess.Popen([PROGRAM, "--json"], env=env, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, stdin=subprocess.DEVNULL, text=True)
        self.manager = dbus.Interface(self.logind_mock, "org.freedesktop.login1.Manager")

    def tearDown(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()
        self.process.stdout.close()
        self.process.stderr.close()
        shutil.rmtree(self.home, ignore_errors=True)

    def set_clock_offset(self, seconds):
        with open(self.clock_file + ".new", "w") as out:
            out.write("%+d\n" % seconds)
        os.replace(self.clock_file + ".new", self.clock_file)

    def next_figures(self):
        ready, _, _ = select.select([self.process.stdout], [], [], 15)
        self.assertTrue(ready, "no tick within 15 s")
        return json.loads(self.process.stdout.readline())

    def log(self):
        try:
            with open(self.log_path) as f:
                return f.read()
        except FileNotFoundError:
            return ""

    def our_locks(self):
        return [lock for lock in self.manager.ListInhibitors() if str(lock[1]) == "Drainwatch"]

    def prepare_for_sleep(self, starting):
        self.logind_mock.EmitSignal("org.freedesktop.login1.Manager", "PrepareForSleep", "b",
                                    [dbus.Boolean(starting)], dbus_interface=dbusmock.MOCK_IFACE)

    def test_suspend_is_cut_out_and_its_charge_booked(self):
        first = self.next_figures()
        self.assertEqual(first["currentChargeLabel"], "32.9%")
        locks = wait_for(self.our_locks, "the delay lock")
        self.assertEqual([str(x) for x in locks[0][:4]][0::3], ["sleep", "delay"])
        # Eight seconds more on the wall clock (no gap yet): the next tick
        # shows the count on battery rather than the first seconds' texts.
        self.set_clock_offset(8)
        self.assertEqual(self.next_figures()["timeOnBatteryLabel"], "00:00")

        self.prepare_for_sleep(True)
        wait_for(lambda: "Entering sleep at 32.9%" in self.log(), "the sleep line")
        wait_for(lambda: not self.our_locks(), "the lock to be released once the count is saved")
        with open(os.path.join(self.home, "config", "Drainwatch", "Drainwatch.conf")) as f:
            self.assertIn("lastPercentage=", f.read())

        # Two hours asleep; 129 mAh of 6439 lost meanwhile.
        with open(os.path.join(self.battery, "BAT0", "charge_now"), "w") as f:
            f.write("1990000\n")
        self.set_clock_offset(8 + 7200)
        self.prepare_for_sleep(False)

        log = wait_for(lambda: "Missed heartbeat, used" in self.log() and self.log(), "the booked sleep loss")
        self.assertIn("Waking from sleep at 30.9%", log)
        self.assertRegex(log, r"Missed heartbeat, last was 72\d\d(\.\d+)?s ago")
        self.assertIn("Missed heartbeat, used 2.00342%", log)
        wait_for(self.our_locks, "a new delay lock after waking")

        figures = wait_for(lambda: (lambda f: f if f["usedInSleepLabel"] == "2.0%" else None)(self.next_figures()),
                           "the used-in-sleep figure")
        self.assertEqual(figures["timeOnBatteryLabel"], "02:00")
        self.assertEqual(figures["timeAwakeLabel"], "00:00")

        self.process.send_signal(signal.SIGTERM)
        self.assertEqual(self.process.wait(10), 0)
        self.assertTrue(log.startswith("[") and re.search(r"Started app at 32\.9%", log))


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=2)
