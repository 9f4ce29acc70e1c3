#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""The sleep history through the real program: a suspend told by a mocked
logind on a private system bus, the kernel's suspend counters moved in a
recorded /sys tree meanwhile. The record is in the --json ticks, read back
with `drainwatch --sleeps --json` while the monitor runs, and announced to a
mocked notification service on a private session bus.

The suspended clock (CLOCK_BOOTTIME - CLOCK_MONOTONIC) cannot be moved
without a real suspend: it stands still here as it does on machines whose
s2idle does not freeze the tick, and the program takes the wall clock's two
hours instead, since the kernel counted suspend cycles.

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

from mocked_logind import HANG, NotifyingProgramTest, dbusmock, wait_for, write


class SleepLedger(NotifyingProgramTest):
    program, battery_fixture, sys_fixture = sys.argv[1], sys.argv[2], sys.argv[3]

    def setUp(self):
        super().setUp()
        self.sys = os.path.join(self.home, "sys")
        shutil.copytree(self.sys_fixture, self.sys)
        self.env["DRAINWATCH_SYS_DIR"] = self.sys

    def history_events(self):
        reader = subprocess.run([self.program, "--history"], env=self.env, capture_output=True, text=True, timeout=HANG)
        self.assertEqual(reader.returncode, 0, reader.stderr)
        rows = list(csv.DictReader(io.StringIO(reader.stdout, newline="")))
        return [row["event"] for row in rows]

    def record_of_a_suspend(self, *arguments):
        """The program started with `arguments`, the sleep record of a
        suspend of two hours on the wall clock in which one attempt failed
        and the machine slept three times, 97 % of it in hardware sleep,
        woken by the USB controller twice and the lid once, the ACPI
        interrupt ending it."""
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
        write(os.path.join(stats, "failed_suspend"), "1")
        write(os.path.join(stats, "last_failed_dev"), "i2c-ELAN0001:00")
        write(os.path.join(self.sys, "devices", "system", "cpu", "cpuidle", "low_power_idle_system_residency_us"),
              str(81234567890 + 6984000000))
        write(os.path.join(self.sys, "class", "wakeup", "wakeup4", "event_count"), "42")
        write(os.path.join(self.sys, "class", "wakeup", "wakeup0", "event_count"), "18")
        write(os.path.join(self.sys, "power", "pm_wakeup_irq"), "9")
        os.makedirs(os.path.join(self.sys, "kernel", "irq", "9"))
        write(os.path.join(self.sys, "kernel", "irq", "9", "actions"), "acpi")
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
        self.assertAlmostEqual(record["asleepSeconds"], record["end"] - record["start"], places=2)
        self.assertAlmostEqual(record["ratePerHour"], (2119000 - 1990000) / 6439000 * 100 / 2, places=2)
        self.assertAlmostEqual(record["hardwareSleep"], 0.97, places=2)
        self.assertEqual((record["cycles"], record["failed"], record["failedDevice"], record["failedStep"]),
                         (3, 1, "i2c-ELAN0001:00", "suspend"))
        self.assertEqual(record["wokenBy"], ["acpi", "0000:00:14.0", "PNP0C0D:00"])
        self.assertEqual(record["flags"], ["failed", "restless"])

        # Read back beside the running monitor.
        reader = subprocess.run([self.program, "--sleeps", "--json"], env=self.env, capture_output=True, text=True,
                                timeout=HANG)
        self.assertEqual(reader.returncode, 0, reader.stderr)
        self.assertEqual([json.loads(line) for line in reader.stdout.splitlines()], [record])
        # Figures to their sense, not 642.9999999999999.
        self.assertNotRegex(reader.stdout, r"\d\.\d{7,}")
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

    def test_records_on_recorded_machines(self):
        """Each tree under tests/data/sys with a `before` and an `after`:
        the program starts on `before`, logind says a suspend begins, the
        tree becomes `after` and the wall clock moves on; the record says
        what those counters support."""
        machines = {
            # One Intel cycle of eight hours: total_hw_sleep wrapped, LPIT 99 %.
            "intel-s2idle-overnight": (28800, "CurrentCapacity: 3120", {"mode": "s2idle", "hardwareSleep": 0.99, "cycles": 1,
                                               "wokenBy": ["acpi", "PNP0C0D:00"], "flags": []}),
            # S3 with the s2idle counters there: no share, not shallow.
            "deep-with-counters": (28800, "CurrentCapacity: 3421", {"mode": "deep", "hardwareSleep": None, "cycles": 1,
                                           "wokenBy": ["PNP0C0C:00"], "flags": []}),
            # The lid's GPIO interrupt, then the EC and the lid.
            "amd-lid-wake": (3600, "CurrentCapacity: 2990", {"mode": "s2idle", "hardwareSleep": 0.97, "cycles": 1,
                                    "wokenBy": ["pinctrl_amd", "PNP0C09:00", "PNP0C0D:00"], "flags": []}),
        }
        trees = os.path.join(os.path.dirname(self.sys_fixture))
        del self.env["DRAINWATCH_POWER_SUPPLY_DIR"]
        for name, (seconds, capacity, expected) in machines.items():
            with self.subTest(name):
                shutil.rmtree(self.sys)
                shutil.rmtree(os.path.join(self.home, "state"), ignore_errors=True)
                shutil.copytree(os.path.join(trees, name, "before"), self.sys)
                self.set_clock_offset(0)
                self.start("--no-notify")
                self.next_figures()
                wait_for(self.our_locks, "the delay lock")
                self.prepare_for_sleep(True)
                wait_for(lambda: not self.our_locks(), "the delay lock to be released")
                shutil.copytree(os.path.join(trees, name, "after"), self.sys, dirs_exist_ok=True)
                self.set_clock_offset(seconds)
                self.prepare_for_sleep(False)
                record = wait_for(lambda: self.next_figures()["lastSleep"], "a tick with the sleep record")
                self.stop()
                self.assertAlmostEqual(record["asleepSeconds"], seconds, delta=30)
                for key, value in expected.items():
                    if isinstance(value, float):
                        self.assertAlmostEqual(record[key], value, places=2, msg=key)
                    else:
                        self.assertEqual(record[key], value, key)
                info = subprocess.run([self.program, "--battery-info"], env=self.env, capture_output=True, text=True,
                                      timeout=10)
                self.assertEqual(info.returncode, 0, info.stderr)
                self.assertIn(capacity + " mAh\n", info.stdout)

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
