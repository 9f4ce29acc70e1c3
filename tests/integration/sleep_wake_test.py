#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""The real program on a private system bus with logind mocked: a suspend of
two hours, told by PrepareForSleep and felt by a wall clock that jumps
(libfaketime), is cut out of the awake time and its charge loss is booked.

usage: sleep_wake_test.py PATH/TO/drainwatch POWER_SUPPLY_FIXTURE
"""
import os
import re
import sys
import unittest

from mocked_logind import ProgramTest, wait_for, write


class SleepAndWake(ProgramTest):
    program, battery_fixture = sys.argv[1], sys.argv[2]

    def test_suspend_is_cut_out_and_its_charge_booked(self):
        self.start()
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
        write(os.path.join(self.battery, "BAT0", "charge_now"), "1990000")
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

        self.stop()
        self.assertTrue(log.startswith("[") and re.search(r"Started app at 32\.9%", log))


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=2)
