# SPDX-License-Identifier: MIT
"""What the session tests share: private XDG folders, the program's paths,
and waiting for something a child process does (never for a set time)."""
import os
import shutil
import subprocess
import tempfile
import time

FAKETIME = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1"


class Home:
    """Private XDG folders; env is a clean environment that points at them,
    with no display, no session bus and no Wayland socket."""

    def __init__(self):
        self.path = tempfile.mkdtemp(prefix="drainwatch-session-")
        self.env = {k: v for k, v in os.environ.items()
                    if k not in ("DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "QT_QPA_PLATFORM")}
        for variable in ("XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_RUNTIME_DIR"):
            folder = os.path.join(self.path, variable)
            os.makedirs(folder, mode=0o700)
            self.env[variable] = folder

    def file(self, *parts):
        path = os.path.join(self.path, *parts)
        try:
            with open(path, encoding="utf-8", errors="replace") as f:
                return f.read()
        except FileNotFoundError:
            return ""

    def log(self, simulated=True):
        name = "Drainwatch-simulated.log" if simulated else "Drainwatch.log"
        return self.file("XDG_STATE_HOME", "Logs", "Drainwatch", name)

    def remove(self):
        shutil.rmtree(self.path, ignore_errors=True)


# Seconds after which a wait counts as a hang; each wait ends as soon as what
# it waits for has come, so only a hung run waits this long.
HANG = 40


def wait_until(predicate, what, timeout=HANG, every=0.05):
    """Polls until predicate() gives something true and returns it. The
    timeout is only a bound for a hung run, not a measure."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out waiting for {what}")
        time.sleep(every)


def end(process, timeout=HANG):
    """SIGTERM, then the exit code; a kill if it hangs."""
    if process.poll() is None:
        process.terminate()
    try:
        return process.wait(timeout)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
        raise AssertionError("no orderly end after SIGTERM")


def stop(process, timeout=HANG):
    """SIGTERM, then SIGKILL if that is not enough: a helper that will not
    end must not hang the test."""
    process.terminate()
    try:
        process.wait(timeout)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


class Xvfb:
    """A private X server; the display number comes from Xvfb itself. With
    -noreset: by default the server resets when its last client leaves, and
    refuses connections while it does, so a client that connects right after
    another left (Qt's xcb plugin after the program's display probe, or after
    an xdotool call) could fail with "could not connect to display", the
    more often the more loaded the machine."""

    def __init__(self):
        reader, writer = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(writer), "-nolisten", "tcp", "-noreset", "-screen", "0", "1280x800x24"],
            pass_fds=(writer,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(writer)
        with os.fdopen(reader) as f:
            number = f.readline().strip()
        if not number:
            self.process.kill()
            raise AssertionError("Xvfb did not start")
        self.display = ":" + number

    def stop(self):
        stop(self.process)


def xdotool(display, *arguments):
    """xdotool's output lines; empty when it finds nothing."""
    try:
        result = subprocess.run(["xdotool", *arguments], capture_output=True, text=True,
                                env=dict(os.environ, DISPLAY=display), timeout=HANG)
    except subprocess.TimeoutExpired:
        raise AssertionError(f"xdotool {' '.join(arguments)} hung") from None
    return result.stdout.split()


class Weston:
    """A headless Wayland compositor drawing in memory (pixman), with the
    screenshooter allowed (--debug); its socket in `runtime`."""

    def __init__(self, runtime, width=1024, height=768):
        self.runtime = runtime
        self.socket = "drainwatch-test-wayland"
        self.process = subprocess.Popen(
            ["weston", "--backend=headless-backend.so", "--use-pixman", f"--socket={self.socket}",
             f"--width={width}", f"--height={height}", "--debug", "--idle-time=0"],
            env=dict(os.environ, XDG_RUNTIME_DIR=runtime), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_until(lambda: os.path.exists(os.path.join(runtime, self.socket)) or self.process.poll() is not None,
                   "weston's socket")
        if self.process.poll() is not None:
            raise AssertionError("weston did not start")

    def stop(self):
        stop(self.process)
