# SPDX-License-Identifier: MIT
"""Terminal mode in a tmux pane, as a user sees it: 45 columns, then 28,
then 80, with the clocks moved 100 times fast by libfaketime so that the
figures are redrawn many times in between; and a terminal start beside a
running monitor, following its figures, at 45 and then 80 columns."""
import glob
import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from session import FAKETIME, Home, end, wait_until  # noqa: E402

BINARY = sys.argv.pop(1) if __name__ == "__main__" else None
CAPTIONS = ["Awake on battery", "Total on battery", "Consumption", "Remaining", "Full battery", "Charge now",
            "Counting since", "Used in sleep", "Health"]
FAST = {"LD_PRELOAD": FAKETIME, "FAKETIME": "+0 x100"}


class PaneTest(unittest.TestCase):
    """`drainwatch --terminal --simulate` in a tmux pane of 45 columns."""

    def start_pane(self, env):
        self.socket = os.path.join(self.home.path, "tmux")
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

    def assert_consumption_wrapped_under_itself(self, lines, starts):
        consumption = lines[starts[2]]
        self.assertTrue(consumption.endswith("recent,"), consumption)
        self.assertEqual(lines[starts[2] + 1].strip().split()[-1], "avg)", lines)
        self.assertEqual(lines[starts[2] + 1][:18].strip(), "")

    def assert_one_line_a_figure(self, lines, starts):
        self.assertTrue(lines[starts[2]].endswith("avg)"), lines)
        self.assertEqual(starts, list(range(starts[0], starts[0] + 9)), "one line a figure when it fits")


@unittest.skipUnless(os.path.exists(FAKETIME), "needs libfaketime (Debian package faketime)")
class TerminalWidthTest(PaneTest):
    def setUp(self):
        self.home = Home()
        self.addCleanup(self.home.remove)
        self.start_pane(dict(self.home.env, **FAST))

    def test_lines_fit_the_pane_and_follow_its_resizes(self):
        lines, starts = self.figures_at(45)
        first_awake = lines[starts[0]].split()[-1]
        # The consumption text does not fit: its rest is on the next line, under it.
        self.assert_consumption_wrapped_under_itself(lines, starts)

        lines, starts = self.figures_at(45, awake_after=first_awake)
        self.assertEqual(starts, sorted(starts))

        self.tmux("resize-window", "-x", "28")
        lines, starts = self.figures_at(28, rates=False)
        self.tmux("resize-window", "-x", "80")
        lines, starts = self.figures_at(80, awake_after=lines[starts[0]].split()[-1])
        self.assert_one_line_a_figure(lines, starts)


@unittest.skipUnless(os.path.exists(FAKETIME), "needs libfaketime (Debian package faketime)")
class FollowerWidthTest(PaneTest):
    """The pane's program finds a monitor counting already (here a --json
    one, fast) and shows that monitor's figures as its own terminal would."""

    def setUp(self):
        self.home = Home()
        self.addCleanup(self.home.remove)
        self.monitor = subprocess.Popen([BINARY, "--json", "--simulate"], env=dict(self.home.env, **FAST),
                                        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        self.addCleanup(self.monitor.stderr.close)
        self.addCleanup(lambda: self.monitor.poll() is None and (self.monitor.kill(), self.monitor.wait()))
        runtime = self.home.env["XDG_RUNTIME_DIR"]
        wait_until(lambda: glob.glob(os.path.join(runtime, "*.socket")) or self.monitor.poll() is not None,
                   "the monitor's socket")
        self.assertIsNone(self.monitor.poll(), "the monitor ended at its start")
        self.start_pane(self.home.env)

    def test_the_follower_fits_the_pane_and_follows_its_resize(self):
        lines, starts = self.figures_at(45)
        self.assertIn("showing the figures of that monitor", "".join(lines))
        self.assert_consumption_wrapped_under_itself(lines, starts)
        lines, starts = self.figures_at(45, awake_after=lines[starts[0]].split()[-1])
        self.assertEqual(starts, sorted(starts))

        self.tmux("resize-window", "-x", "80")
        lines, starts = self.figures_at(80, awake_after=lines[starts[0]].split()[-1])
        self.assert_one_line_a_figure(lines, starts)
        self.assertEqual(end(self.monitor), 0, self.monitor.stderr.read())


if __name__ == "__main__":
    unittest.main()
