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
import shutil
import subprocess
import sys
import unittest

from mocked_logind import HANG, ProgramTest, dbusmock, wait_for, write


class SleepLedger(ProgramTest):
    program, battery_fixture, sys_fixture = sys.argv[1], sys.argv[2], sys.argv[3]

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.start_session_bus()
        cls.notifier, cls.notifier_mock = cls.spawn_server_template("notification_daemon", {},
                                                                    stdout=subprocess.DEVNULL)

    @classmethod
    def tearDownClass(cls):
        cls.notifier.terminate()
        cls.notifier.wait()
        super().tearDownClass()

    def setUp(self):
        super().setUp()
        self.sys = os.path.join(self.home, "sys")
        shutil.copytree(self.sys_fixture, self.sys)
        self.env["DRAINWATCH_SYS_DIR"] = self.sys
        self.notifier_mock.ClearCalls(dbus_interface=dbusmock.MOCK_IFACE)

    def history_events(self):
        reader = subprocess.run([self.program, "--history"], env=self.env, capture_output=True, text=True, timeout=HANG)
        self.assertEqual(reader.returncode, 0, reader.stderr)
        rows = list(csv.DictReader(io.StringIO(reader.stdout, newline="")))
        return [row["event"] for row in rows]

    def notifications(self):
        return self.notifier_mock.GetMethodCalls("Notify", dbus_interface=dbusmock.MOCK_IFACE)

    def record_of_a_suspend(self, *arguments):
        """The program started with `arguments`, the sleep record of a
        suspend of two hours on the wall clock in which one attempt failed
        and the machine slept three times, woken by the USB controller
        twice and the lid once."""
        self.start(*arguments)
        self.assertIsNone(self.next_figures()["lastSleep"])
        self.set_clock_offset(8)
        self.next_figures()
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
        return wait_for(lambda: self.next_figures()["lastSleep"], "a tick with the sleep record")

    def test_a_suspend_is_recorded_kept_and_announced(self):
        record = self.record_of_a_suspend()
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
        reader = subprocess.run([self.program, "--sleeps", "--json"], env=self.env, capture_output=True, text=True,
                                timeout=HANG)
        self.assertEqual(reader.returncode, 0, reader.stderr)
        self.assertEqual([json.loads(line) for line in reader.stdout.splitlines()], [record])
        table = subprocess.run([self.program, "--sleeps"], env=self.env, capture_output=True, text=True, timeout=HANG)
        self.assertIn("failed, restless", table.stdout)

        calls = wait_for(self.notifications, "the notification")
        self.assertEqual(len(calls), 1)
        app, replaces, icon, summary, body, actions, hints, timeout = calls[0][1]
        self.assertEqual((str(app), int(replaces)), ("Drainwatch", 0))
        self.assertIn("Sleep of", str(summary))
        self.assertIn("One attempt to sleep failed, last because of the device i2c-ELAN0001:00.", str(body))
        self.assertIn("It woke 2 times and went back to sleep.", str(body))

        self.stop()
        events = self.history_events()
        self.assertEqual(events[:4], ["start", "will sleep", "wake", "missed heartbeat"])
        self.assertEqual(events[-1], "quit")

    def test_no_notify_and_the_settings_key_keep_it_quiet(self):
        config = os.path.join(self.home, "config", "Drainwatch")
        for arguments, setting in ((["--no-notify"], None), ([], "sleepNotificationsOff=1")):
            self.notifier_mock.ClearCalls(dbus_interface=dbusmock.MOCK_IFACE)
            shutil.rmtree(os.path.join(self.home, "state"), ignore_errors=True)
            shutil.rmtree(self.sys)
            shutil.copytree(self.sys_fixture, self.sys)
            write(os.path.join(self.battery, "BAT0", "charge_now"), "2119000")
            self.set_clock_offset(0)
            os.makedirs(config, exist_ok=True)
            write(os.path.join(config, "Drainwatch.conf"), "[General]\n" + setting if setting else "")
            self.assertEqual(self.record_of_a_suspend(*arguments)["flags"], ["failed", "restless"])
            self.stop()
            # A notification would have been sent from the tick that made the record.
            self.assertEqual(self.notifications(), [], arguments or setting)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=2)
