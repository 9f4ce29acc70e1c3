#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Awake with the lid closed, through the real program: the lid in a
recorded /proc tree (or logind's LidClosed), logind's inhibitors and lid
settings from the mocked logind, extended with the properties the real one
has, and the notification on a mocked notification service.

The guard speaks two minutes after the closing. The wall clock is moved 7 s
at each tick (12 s a tick, within the heartbeat's 15 s), so that those
minutes pass in ten ticks without looking like a sleep.

usage: lid_test.py PATH/TO/drainwatch POWER_SUPPLY_FIXTURE PROC_FIXTURES
"""
import json
import os
import shutil
import subprocess
import sys
import unittest

from mocked_logind import HANG, NotifyingProgramTest, dbusmock, wait_for, write

if dbusmock:
    import dbus

MANAGER = "org.freedesktop.login1.Manager"


class Lid(NotifyingProgramTest):
    program, battery_fixture, proc_fixtures = sys.argv[1], sys.argv[2], sys.argv[3]

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.logind_mock.AddProperties(MANAGER, dbus.Dictionary({
            "LidClosed": False,
            "Docked": False,
            "HandleLidSwitch": "suspend",
            "HandleLidSwitchDocked": "ignore",
            "LidSwitchIgnoreInhibited": False,
        }, signature="sv"), dbus_interface=dbusmock.MOCK_IFACE)

    def setUp(self):
        super().setUp()
        self.proc = os.path.join(self.home, "proc")
        shutil.copytree(os.path.join(self.proc_fixtures, "open"), self.proc)
        self.state = os.path.join(self.proc, "acpi", "button", "lid", "LID0", "state")
        self.env["DRAINWATCH_PROC_DIR"] = self.proc
        self.offset = 0
        self.set_logind(Docked=False)
        # A video holds sleep, as a browser's lock does; the fd is the lock.
        manager = dbus.Interface(self.logind_mock, MANAGER)
        self.video = manager.Inhibit("sleep:idle", "Firefox", "Playing video", "block")

    def tearDown(self):
        os.close(self.video.take())
        super().tearDown()

    def set_logind(self, **properties):
        for name, value in properties.items():
            self.logind_mock.Set(MANAGER, name, value, dbus_interface=dbus.PROPERTIES_IFACE)

    def lid(self, state):
        # In place: the program keeps the file open, as it does /proc's.
        with open(self.state, "r+") as out:
            out.write("state:      %-6s\n" % state)
            out.truncate()

    def ticks(self, count):
        for _ in range(count):
            self.offset += 7
            self.set_clock_offset(self.offset)
            self.next_figures()

    def records(self):
        reader = subprocess.run([self.program, "--sleeps", "--json"], env=self.env, capture_output=True, text=True,
                                timeout=HANG)
        return [json.loads(line) for line in reader.stdout.splitlines()]

    def test_closed_with_a_block_inhibitor_is_named_once_and_recorded(self):
        self.start()
        self.next_figures()
        self.lid("closed")
        self.ticks(9)  # 108 s: not yet
        self.assertNotIn("lid closed", self.log())
        self.assertEqual(self.notifications(), [])
        self.ticks(3)
        self.assertRegex(self.log(), r"\] Awake with the lid closed at \d+\.\d%: blocked by Firefox: Playing video\n")
        calls = self.notifications()
        self.assertEqual(len(calls), 1)
        summary, body = str(calls[0][1][3]), str(calls[0][1][4])
        self.assertTrue(summary.startswith("Awake with the lid closed for 2 min"), summary)
        self.assertIn("Blocked by Firefox: Playing video.", body)
        self.assertIn("used since the lid closed", body)
        self.ticks(2)
        self.assertEqual(len(self.notifications()), 1)
        self.lid("open")
        self.ticks(1)
        spells = [r for r in self.records() if r["how"] == "lid closed"]
        self.assertEqual(len(spells), 1, self.records())
        self.assertGreaterEqual(spells[0]["end"] - spells[0]["start"], 150)
        self.assertIsNotNone(spells[0]["ratePerHour"])
        self.assertEqual(spells[0]["heldBy"], "blocked by Firefox: Playing video")
        self.stop()

    def test_docked_or_opened_in_time_says_nothing(self):
        self.set_logind(Docked=True)
        self.start()
        self.next_figures()
        self.lid("closed")
        self.ticks(12)
        # Undocked with the lid closed: the two minutes begin now.
        self.set_logind(Docked=False)
        self.ticks(9)
        self.lid("open")
        self.ticks(4)
        self.assertNotIn("lid closed", self.log())
        self.assertEqual(self.notifications(), [])
        self.assertEqual([r for r in self.records() if r["how"] == "lid closed"], [])
        self.stop()

    def test_a_real_suspend_after_the_closing_is_an_ordinary_sleep(self):
        self.start()
        self.next_figures()
        self.lid("closed")
        self.ticks(3)
        wait_for(self.our_locks, "the delay lock")
        self.prepare_for_sleep(True)
        wait_for(lambda: not self.our_locks(), "the delay lock to be released")
        self.offset += 3600
        self.set_clock_offset(self.offset)
        self.prepare_for_sleep(False)
        self.next_figures()
        self.lid("open")
        self.ticks(1)
        wait_for(lambda: [r for r in self.records() if r["how"] == "suspend"], "the sleep record")
        self.assertEqual([r["how"] for r in self.records()], ["suspend"])
        self.assertNotIn("lid closed", self.log())
        self.stop()

    def suspends(self):
        return self.logind_mock.GetMethodCalls("Suspend", dbus_interface=dbusmock.MOCK_IFACE)

    def test_the_opt_in_suspend_asks_logind_once(self):
        config = os.path.join(self.home, "config", "Drainwatch")
        os.makedirs(config)
        write(os.path.join(config, "Drainwatch.conf"),
              "[General]\nsuspendWithLidClosed=1\nsuspendWithLidClosedMinutes=2")
        # The video is another user's here; the user's own would hold it off.
        os.close(self.video.take())
        manager = dbus.Interface(self.logind_mock, MANAGER)
        self.video = manager.Inhibit("idle", "Firefox", "Playing video", "block")
        self.logind_mock.ClearCalls(dbus_interface=dbusmock.MOCK_IFACE)
        self.start()
        self.next_figures()
        self.lid("closed")
        self.ticks(12)
        self.assertEqual(len(self.suspends()), 1, self.log())
        self.assertRegex(self.log(), r"\] Drainwatch asks logind to suspend: 2 min awake with the lid closed at ")
        self.ticks(2)
        self.assertEqual(len(self.suspends()), 1)
        self.stop()

    def test_without_a_proc_lid_loginds_signal_tells_the_closing_and_the_opening(self):
        self.env["DRAINWATCH_PROC_DIR"] = os.path.join(self.proc_fixtures, "missing")
        self.start()
        self.next_figures()
        try:
            self.set_logind(LidClosed=True)
            self.ticks(12)
            self.assertRegex(self.log(), r"\] Awake with the lid closed at \d+\.\d%: blocked by Firefox: Playing video\n")
        finally:
            self.set_logind(LidClosed=False)
        self.ticks(1)
        spells = [r for r in self.records() if r["how"] == "lid closed"]
        self.assertEqual(len(spells), 1, self.records())
        self.stop()

    def test_inhibitors_lists_the_locks_and_the_lid(self):
        self.env["DRAINWATCH_PROC_DIR"] = os.path.join(self.proc_fixtures, "missing")
        self.set_logind(LidClosed=True)
        try:
            shown = subprocess.run([self.program, "--inhibitors"], env=self.env, capture_output=True, text=True,
                                   timeout=HANG)
        finally:
            self.set_logind(LidClosed=False)
        self.assertEqual(shown.returncode, 0, shown.stderr)
        self.assertRegex(shown.stdout, r"Firefox +Playing video +sleep:idle +block +1000")
        self.assertIn("Lid: closed, not docked\n", shown.stdout)
        self.assertIn("Closing the lid: suspend (docked: ignore)\n", shown.stdout)
        self.assertIn("Sleep locks stop the lid: yes", shown.stdout)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
