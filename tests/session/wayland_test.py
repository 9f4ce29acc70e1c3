# SPDX-License-Identifier: MIT
"""The window in a Wayland-only session (weston headless, no DISPLAY): Qt's
Wayland plugin is picked without being asked for, the window is mapped as
a toplevel with its title and application id, and it ends in order."""
import os
import shutil
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from session import Home, Weston, end, wait_until  # noqa: E402

BINARY = sys.argv.pop(1) if __name__ == "__main__" else None
PLUGIN = "/usr/lib/x86_64-linux-gnu/qt6/plugins/platforms/libqwayland-generic.so"


@unittest.skipUnless(shutil.which("weston") and os.path.exists(PLUGIN), "needs weston and qt6-wayland")
def no_leak_check():
    # Qt's Wayland plugin is unloaded at exit, so what libwayland-client keeps
    # in it has no module left for a leak suppression to name.
    options = os.environ.get("ASAN_OPTIONS")
    return {"ASAN_OPTIONS": options + ":detect_leaks=0"} if options else {}


class WaylandTest(unittest.TestCase):
    def test_the_window_runs_natively_under_wayland(self):
        home = Home()
        self.addCleanup(home.remove)
        runtime = home.env["XDG_RUNTIME_DIR"]
        weston = Weston(runtime)
        self.addCleanup(weston.stop)
        protocol = os.path.join(home.path, "wayland-debug.txt")
        with open(protocol, "w") as debug:
            program = subprocess.Popen([BINARY, "--simulate"], stdout=subprocess.DEVNULL, stderr=debug,
                                       env=dict(home.env, WAYLAND_DISPLAY=weston.socket, WAYLAND_DEBUG="client",
                                                **no_leak_check()))
        self.addCleanup(lambda: program.poll() is None and program.kill())

        def mapped():
            with open(protocol, errors="replace") as f:
                text = f.read()
            # The first frame: a buffer attached to the surface after the
            # compositor configured the toplevel.
            configured = text.find("xdg_surface@")
            return configured != -1 and "ack_configure" in text and ".attach(wl_buffer@" in text and text
        text = wait_until(mapped, "the window's first frame")
        self.assertIn('set_title("Drainwatch (simulated battery)")', text)
        self.assertIn('set_app_id("io.github.drainwatch.Drainwatch")', text)
        self.assertIsNone(program.poll())
        wait_until(lambda: "Started app" in home.log(), "the start in the log")
        self.assertEqual(end(program), 0)
        self.assertEqual(home.log().count("Quitting app"), 1)
        self.assertNotIn("xcb", text.lower(), "no X11 plugin was tried")


if __name__ == "__main__":
    unittest.main()
