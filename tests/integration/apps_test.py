#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""The real program on recorded cgroup and /proc trees: it reads the
activity at its first tick on battery, the tree is then swapped for its
later snapshot, and at the quit the span is booked. `drainwatch --apps` then
names each application with its CPU time, while the model still learns.

usage: apps_test.py PATH/TO/drainwatch POWER_SUPPLY_FIXTURE ACTIVITY_TREES
"""
import csv
import io
import json
import os
import shutil
import subprocess
import sys
import unittest

from mocked_logind import ProgramTest


class AppsOnRecordedTrees(ProgramTest):
    program, battery_fixture, trees = sys.argv[1], sys.argv[2], sys.argv[3]

    def put_tree(self, tree, snapshot):
        for part in ("sys", "proc", "share"):
            shutil.rmtree(os.path.join(self.home, part), ignore_errors=True)
            source = os.path.join(self.trees, tree, snapshot, part)
            if os.path.isdir(source):
                shutil.copytree(source, os.path.join(self.home, part), symlinks=True)

    def apps(self, tree, *output):
        self.env.update(DRAINWATCH_SYS_DIR=os.path.join(self.home, "sys"),
                        DRAINWATCH_PROC_DIR=os.path.join(self.home, "proc"),
                        XDG_DATA_DIRS=os.path.join(self.home, "share"),
                        XDG_DATA_HOME=os.path.join(self.home, "no-data"))
        self.put_tree(tree, "before")
        self.start()
        self.next_figures()
        self.put_tree(tree, "after")
        self.stop()
        shown = subprocess.run([self.program, "--apps", *output], env=self.env, capture_output=True, text=True,
                               timeout=60)
        self.assertEqual(shown.returncode, 0, shown.stderr)
        return shown.stdout

    def cpu_by_name(self, tree):
        rows = [json.loads(line) for line in self.apps(tree, "--json").splitlines()]
        for row in rows:
            self.assertEqual((row["kind"], row["energyWh"], row["share"]), ("app", None, None), row)
            self.assertGreater(row["cpuSeconds"], 0)
        names = [row["name"] for row in rows]
        self.assertEqual(len(names), len(set(names)), names)
        return {row["name"]: row["cpuSeconds"] for row in rows}

    def test_gnome_applications_by_their_desktop_names(self):
        self.assertEqual(self.cpu_by_name("gnome"), {
            "Kernel and other": 390, "Firefox": 120, "Desktop session": 44, "System services": 30, "Files": 12,
            "Calculator": 3, "Evil Name <b>markup</b>": 1})

    def test_kde_service_units_add_up(self):
        cpu = self.cpu_by_name("kde")
        self.assertEqual(cpu["Konsole"], 8)
        self.assertEqual((cpu["System services"], cpu["Desktop session"], cpu["Kernel and other"]), (10, 40, 140.5))

    def test_sway_processes_by_name(self):
        cpu = self.cpu_by_name("sway")
        self.assertEqual((cpu["sway"], cpu["firefox"], cpu["make"], cpu["grim"]), (15, 25, 3, 0.5))
        self.assertEqual((cpu["Desktop session"], cpu["System services"], cpu["Kernel and other"]), (16, 5, 34.5))
        self.assertNotIn("vim", cpu)

    def test_cgroup_v1_table_and_csv(self):
        table = self.apps("cgroup-v1")
        self.assertIn("learning this laptop: 0 of 120 minutes", table)
        self.assertRegex(table, r"firefox +— +— +— +0:00:25")
        with open(os.path.join(self.home, "state", "Drainwatch", "history.sqlite"), "rb") as f:
            self.assertEqual(f.read(16), b"SQLite format 3\0")
        shown = subprocess.run([self.program, "--apps", "--csv"], env=self.env, capture_output=True, text=True,
                               timeout=60)
        rows = list(csv.DictReader(io.StringIO(shown.stdout)))
        self.assertEqual({row["name"]: float(row["cpu_seconds"]) for row in rows},
                         {"Kernel and other": 55.5, "firefox": 25, "make": 3} | {
                             row["name"]: float(row["cpu_seconds"]) for row in rows
                             if row["name"] not in ("Kernel and other", "firefox", "make")})


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=2)
