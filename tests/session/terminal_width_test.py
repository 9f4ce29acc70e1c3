# SPDX-License-Identifier: MIT
"""Terminal mode in a tmux pane, as a user sees it: 45 columns, then 28,
then 80, with the clocks moved 100 times fast by libfaketime so that the
figures are redrawn many times in between."""
import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from session import FAKETIME, Home, wait_until  # noqa: E402

BINARY = sys.argv.pop(1) if __name__ == "__main__" else None
CAPTIONS = ["Awake on battery", "Total on battery", "Consumption", "Remaining", "Full battery", "Charge now",
            "Counting since", "Used in sleep", "Health"]


@unittest.skipUnless(os.path.exists(FAKETIME), "needs libfaketime (Debian package faketime)")
class TerminalWidthTest(unittest.TestCase):
    def setUp(self):
        self.home = Home()
        self.addCleanup(self.home.remove)
        self.socket = os.path.join(self.home.path, "tmux")
        env = dict(self.home.env, LD_PRELOAD=FAKETIME, FAKETIME="+0 x100")
        command = " ".join(f"{k}='{v}'" for k, v in env.items() if k.startswith(("XDG_", "LD_", "FAKETIME")))
        self.tmux("new-session", "-d", "-x", "45", "-y", "24", f"env -u DISPLAY -u WAYLAND_DISPLAY {command} "
                  f"{BINARY} --terminal --simulate")
        self.addCleanup(lambda: subprocess.run(["tmux", "-S", self.socket, "kill-server"], capture_output=True))

    def tmux(self, *arguments):
        return subprocess.run(["tmux", "-S", self.socket, "-f", "/dev/null", *arguments], capture_output=True,
                              text=True, check=True, env=dict(self.home.env, TERM="xterm")).stdout

    def pane(self):
        return self.tmux("capture-pane", "-p").rstrip("\n").split("\n")

    def figures_at(self, columns, awake_after=None, rates=True):
        """The pane once it shows each caption once, with every line in
        `columns`, the awake time past `awake_after` and, with `rates`, the
        three rates of a discharge (the first tick has only one)."""
        def settled():
            lines = self.pane()
            starts = [next((i for i, line in enumerate(lines) if line.strip().startswith(caption + " ")), None)
                      for caption in CAPTIONS]
            if None in starts or any("".join(lines).count(caption) != 1 for caption in CAPTIONS):
                return None
            if any(len(line) > columns for line in lines):
                return None
            awake = lines[starts[0]].split()[-1]
            if awake_after and awake <= awake_after:
                return None
            if rates and "avg)" not in "".join(lines):
                return None
            return lines, starts
        return wait_until(settled, f"a clean block in {columns} columns")

    def test_lines_fit_the_pane_and_follow_its_resizes(self):
        lines, starts = self.figures_at(45)
        first_awake = lines[starts[0]].split()[-1]
        # The consumption text does not fit: its rest is on the next line, under it.
        consumption = lines[starts[2]]
        self.assertTrue(consumption.endswith("recent,"), consumption)
        self.assertEqual(lines[starts[2] + 1].strip().split()[-1], "avg)", lines)
        self.assertEqual(lines[starts[2] + 1][:18].strip(), "")

        lines, starts = self.figures_at(45, awake_after=first_awake)
        self.assertEqual(starts, sorted(starts))

        self.tmux("resize-window", "-x", "28")
        lines, starts = self.figures_at(28, rates=False)
        self.tmux("resize-window", "-x", "80")
        lines, starts = self.figures_at(80, awake_after=lines[starts[0]].split()[-1])
        self.assertTrue(lines[starts[2]].endswith("avg)"), lines)
        self.assertEqual(starts, list(range(starts[0], starts[0] + 9)), "one line a figure when it fits")


if __name__ == "__main__":
    unittest.main()
