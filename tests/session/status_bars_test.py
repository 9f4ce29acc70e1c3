# SPDX-License-Identifier: MIT
"""The README's status-bar snippets, taken from the README itself and run as
the bars run them: i3blocks for real (it writes i3bar's protocol to standard
output), Waybar's exec through a JSON parser, Polybar's exec line by line."""
import configparser
import json
import os
import re
import shlex
import signal
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from session import HANG, Home, end, wait_until  # noqa: E402

BINARY = sys.argv.pop(1) if __name__ == "__main__" else None
SOURCE = os.path.join(os.path.dirname(__file__), "..", "..")
TREE = os.path.join(SOURCE, "tests", "data", "power_supply", "a-acpi-charge-discharging")
# "85% 12.3 %/h 04:10", or a figure not known yet.
LINE = re.compile(r"^\d+% (-?\d+\.\d %/h|-) (\d\d+:\d\d|\(.+\))$")


def snippet(title):
    """The indented block after the README's paragraph that starts with title."""
    with open(os.path.join(SOURCE, "README.md"), encoding="utf-8") as f:
        readme = f.read()
    match = re.search(r"^" + re.escape(title) + r"[^\n]*\n\n((?:    [^\n]*\n|\n)+)", readme, re.M)
    if not match:
        raise AssertionError(f"no snippet for {title} in the README")
    return "\n".join(line[4:] for line in match.group(1).rstrip("\n").split("\n")) + "\n"


class StatusBarsTest(unittest.TestCase):
    def setUp(self):
        self.home = Home()
        self.addCleanup(self.home.remove)
        self.env = dict(self.home.env, PATH=os.path.dirname(BINARY) + os.pathsep + os.environ["PATH"],
                        DRAINWATCH_POWER_SUPPLY_DIR=TREE)

    def first_line(self, command):
        # The bars run it through sh -c; split the same way, so that SIGTERM
        # reaches the program itself.
        process = subprocess.Popen(shlex.split(command), env=self.env, stdout=subprocess.PIPE, text=True)
        try:
            return process.stdout.readline().rstrip("\n")
        finally:
            self.assertEqual(end(process), 0)
            process.stdout.close()

    def test_waybar(self):
        module = json.loads("{" + snippet("Waybar") + "}")["custom/drainwatch"]
        self.assertEqual(module["return-type"], "json")
        line = json.loads(self.first_line(module["exec"]))
        self.assertEqual(sorted(line), ["class", "percentage", "text", "tooltip"])
        self.assertIsInstance(line["percentage"], int)
        self.assertEqual(line["class"], ["discharging"])
        self.assertEqual(len(line["tooltip"].split("\n")), 9)

    def test_i3blocks(self):
        config = os.path.join(self.home.path, "i3blocks.conf")
        with open(config, "w", encoding="utf-8") as f:
            f.write(snippet("i3blocks"))
        # A group of its own, so that the block's drainwatch ends with it.
        bar = subprocess.Popen(["i3blocks", "-c", config], env=self.env, stdout=subprocess.PIPE, text=True,
                               start_new_session=True)
        self.addCleanup(bar.stdout.close)
        self.addCleanup(lambda: (os.killpg(bar.pid, signal.SIGTERM), bar.wait(HANG)))
        self.assertEqual(json.loads(bar.stdout.readline())["version"], 1)

        def block():
            # i3bar's protocol: an endless array of arrays of blocks, one a
            # line; the first opens the outer array, the others start with a comma.
            line = bar.stdout.readline().strip()
            blocks = json.loads(line[1:] if line.startswith("[[") else line.lstrip(","))
            return next((b["full_text"] for b in blocks if b.get("name") == "drainwatch"), None)
        text = wait_until(block, "i3blocks to show the block")
        self.assertRegex(text, LINE)

    def test_polybar(self):
        parser = configparser.ConfigParser(interpolation=None)
        parser.read_string(snippet("Polybar"))
        module = parser["module/drainwatch"]
        self.assertEqual((module["type"], module["tail"]), ("custom/script", "true"))
        self.assertRegex(self.first_line(module["exec"]), LINE)


if __name__ == "__main__":
    unittest.main()
