# SPDX-License-Identifier: MIT
"""The window under a plain X server, as on a desktop with no tray: Close
Window asks first, a tray host started later gets the icon, a second launch
brings the window back."""
import faulthandler
import os
import re
import shutil
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from session import HANG, Home, Xvfb, end, stop, wait_until, xdotool  # noqa: E402

BINARY = sys.argv.pop(1) if __name__ == "__main__" else None
TITLE = "Drainwatch (simulated battery)"


def icon_in_tray(display):
    """True when a Drainwatch window sits inside trayer's panel window."""
    tree = subprocess.run(["xwininfo", "-root", "-tree", "-display", display], capture_output=True, text=True,
                          timeout=HANG).stdout.splitlines()
    for index, line in enumerate(tree):
        if '"panel"' in line:
            depth = len(line) - len(line.lstrip())
            for inner in tree[index + 1:]:
                if inner.strip() and len(inner) - len(inner.lstrip()) <= depth:
                    break
                if "drainwatch" in inner.lower():
                    return True
    return False


@unittest.skipUnless(all(shutil.which(tool) for tool in ("Xvfb", "xdotool", "trayer", "xwininfo", "xprop")),
                     "needs xvfb, xdotool, trayer and x11-utils")
class TrayTest(unittest.TestCase):
    def setUp(self):
        self.home = Home()
        self.addCleanup(self.home.remove)
        self.x = Xvfb()
        self.addCleanup(self.x.stop)
        self.env = dict(self.home.env, DISPLAY=self.x.display, QT_QPA_PLATFORM="xcb")

    def start(self, *arguments, **kwargs):
        process = subprocess.Popen([BINARY, "--simulate", *arguments], env=self.env, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.PIPE, text=True, **kwargs)
        return process

    def visible(self, name):
        return xdotool(self.x.display, "search", "--onlyvisible", "--name", f"^{re.escape(name)}$")

    def press(self, window, keys):
        # windowfocus --sync waits for ever when the focus does not come (a
        # window mapped a moment later, on a loaded machine): ask again.
        def focused():
            xdotool(self.x.display, "windowfocus", window)
            return xdotool(self.x.display, "getwindowfocus") == [window]
        wait_until(focused, f"the focus on window {window}")
        xdotool(self.x.display, "key", "--clearmodifiers", keys)

    def test_close_without_a_tray_asks_then_a_late_tray_gets_the_icon_and_a_second_launch_shows_the_window(self):
        program = self.start()
        self.addCleanup(lambda: program.poll() is None and program.kill())
        window = wait_until(lambda: self.visible(TITLE), "the window")[0]
        wm_class = subprocess.run(["xprop", "-display", self.x.display, "-id", window, "WM_CLASS"],
                                  capture_output=True, text=True, timeout=HANG).stdout
        self.assertIn('"drainwatch-desktop"', wm_class, "what the desktop file's StartupWMClass names")

        # No tray: Close Window says how the window comes back before it goes.
        self.press(window, "ctrl+w")
        question = wait_until(lambda: self.visible("Close Window"), "the question")[0]
        self.assertTrue(self.visible(TITLE), "still open while asked")
        self.press(question, "Return")
        wait_until(lambda: not self.visible(TITLE), "the window to close")
        self.assertIsNone(program.poll(), "the monitor counts on")

        # A tray host started now gets the icon.
        trayer = subprocess.Popen(["trayer", "--edge", "top", "--align", "right"], env=self.env,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(stop, trayer)
        wait_until(lambda: icon_in_tray(self.x.display), "the icon in the tray")

        # A second launch brings the window back and ends.
        second = self.start()
        self.assertEqual(second.wait(HANG), 0)
        self.assertIn("already running", second.stderr.read())
        window = wait_until(lambda: self.visible(TITLE), "the window back")[0]

        # With the tray there, Close Window just hides.
        self.press(window, "ctrl+w")
        wait_until(lambda: not self.visible(TITLE), "the window to close")
        self.assertFalse(self.visible("Close Window"))
        self.assertEqual(end(program), 0)
        log = self.home.log()
        self.assertEqual(log.count("Quitting app"), 2, log)  # one for each close; a quit after one adds none

    def test_started_in_the_tray_it_shows_the_icon_only_until_asked_for_the_window(self):
        trayer = subprocess.Popen(["trayer", "--edge", "top", "--align", "right"], env=self.env,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(stop, trayer)
        wait_until(lambda: '"panel"' in subprocess.run(["xwininfo", "-root", "-tree", "-display", self.x.display],
                                                      capture_output=True, text=True, timeout=HANG).stdout,
                   "trayer's panel")
        program = self.start("--tray")
        self.addCleanup(lambda: program.poll() is None and program.kill())
        wait_until(lambda: icon_in_tray(self.x.display), "the icon in the tray")
        wait_until(lambda: "Started app" in self.home.log(), "the start in the log")
        self.assertFalse(self.visible(TITLE), "no window at login")
        self.assertEqual(self.start().wait(HANG), 0)
        wait_until(lambda: self.visible(TITLE), "the window on a second launch")
        self.assertEqual(end(program), 0)


if __name__ == "__main__":
    # Where a hang is, said before CTest's timeout ends the run without a word.
    faulthandler.dump_traceback_later(100, exit=True)
    unittest.main()
