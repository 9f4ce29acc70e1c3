# SPDX-License-Identifier: MIT
"""What the integration tests share: the real program in private folders,
on a private system bus with logind mocked, its wall clock moved by
libfaketime, and waiting for what it does (never for a set time)."""
import json
import os
import select
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

FAKETIME = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1"

try:
    import dbus
    import dbusmock
except ImportError:  # pragma: no cover
    dbusmock = None


# Seconds after which a wait counts as a hang; each wait ends as soon as what
# it waits for has come (a tick may come late on a loaded machine), so only a
# hung run waits this long.
HANG = 40


def wait_for(condition, what, seconds=HANG):
    """Polls until condition() gives something true and returns it."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.02)
    raise AssertionError("timed out waiting for " + what)


def write(path, text):
    with open(path, "w") as out:
        out.write(text + "\n")


@unittest.skipIf(dbusmock is None or not shutil.which("dbus-daemon") or not os.path.exists(FAKETIME),
                 "needs dbus-daemon, python3-dbusmock and faketime (scripts/install-deps.sh installs them)")
class ProgramTest(dbusmock.DBusTestCase if dbusmock else unittest.TestCase):
    """A subclass sets `program` and `battery_fixture` (a power_supply
    folder, copied to self.battery for each test); start() runs the program
    with --json and what else it is given."""

    @classmethod
    def setUpClass(cls):
        cls.start_system_bus()
        cls.logind, cls.logind_mock = cls.spawn_server_template("logind", {}, stdout=subprocess.DEVNULL)

    @classmethod
    def tearDownClass(cls):
        cls.logind.terminate()
        cls.logind.wait()
        super().tearDownClass()

    def setUp(self):
        self.home = tempfile.mkdtemp(prefix="drainwatch-integration-")
        self.battery = os.path.join(self.home, "power_supply")
        shutil.copytree(self.battery_fixture, self.battery)
        self.clock_file = os.path.join(self.home, "faketime")
        self.set_clock_offset(0)
        self.env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        self.env.update(
            XDG_CONFIG_HOME=os.path.join(self.home, "config"),
            XDG_STATE_HOME=os.path.join(self.home, "state"),
            XDG_RUNTIME_DIR=self.home,
            DRAINWATCH_POWER_SUPPLY_DIR=self.battery,
            TZ="UTC",
            LD_PRELOAD=FAKETIME,
            FAKETIME_TIMESTAMP_FILE=self.clock_file,
            FAKETIME_NO_CACHE="1",
            # Qt's timers run on the monotonic clock, which a suspend stops too.
            FAKETIME_DONT_FAKE_MONOTONIC="1",
        )
        self.process = None

    def tearDown(self):
        if self.process:
            if self.process.poll() is None:
                self.process.kill()
            self.process.wait()
            self.process.stdout.close()
            self.process.stderr.close()
        shutil.rmtree(self.home, ignore_errors=True)

    def start(self, *arguments):
        self.process = subprocess.Popen([self.program, "--json", *arguments], env=self.env, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, stdin=subprocess.DEVNULL, text=True)

    def stop(self):
        """SIGTERM, after which the program must end with 0."""
        self.process.send_signal(signal.SIGTERM)
        self.assertEqual(self.process.wait(HANG), 0)
        self.process.stdout.close()
        self.process.stderr.close()
        self.process = None

    def set_clock_offset(self, seconds):
        with open(self.clock_file + ".new", "w") as out:
            out.write("%+d\n" % seconds)
        os.replace(self.clock_file + ".new", self.clock_file)

    def next_figures(self):
        ready, _, _ = select.select([self.process.stdout], [], [], HANG)
        self.assertTrue(ready, f"no tick within {HANG} s")
        line = self.process.stdout.readline()
        if not line:
            self.fail("the program ended: " + self.process.stderr.read())
        return json.loads(line)

    def prepare_for_sleep(self, starting):
        self.logind_mock.EmitSignal("org.freedesktop.login1.Manager", "PrepareForSleep", "b",
                                    [dbus.Boolean(starting)], dbus_interface=dbusmock.MOCK_IFACE)

    def log(self):
        try:
            with open(os.path.join(self.home, "state", "Logs", "Drainwatch", "Drainwatch.log")) as f:
                return f.read()
        except FileNotFoundError:
            return ""

    def our_locks(self):
        manager = dbus.Interface(self.logind_mock, "org.freedesktop.login1.Manager")
        return [lock for lock in manager.ListInhibitors() if str(lock[1]) == "Drainwatch"]


class NotifyingProgramTest(ProgramTest):
    """A ProgramTest with python-dbusmock's notification daemon on a private
    session bus, its calls cleared for each test."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.start_session_bus()
        cls.notifier, cls.notifier_mock = cls.spawn_server_template("notification_daemon", {},
                                                                    stdout=subprocess.DEVNULL)

    @classmethod
    def tearDownClass(cls):
        cls.notifier.terminate()
        cls.notifier.wait()
        super().tearDownClass()

    def setUp(self):
        super().setUp()
        self.notifier_mock.ClearCalls(dbus_interface=dbusmock.MOCK_IFACE)

    def notifications(self):
        return self.notifier_mock.GetMethodCalls("Notify", dbus_interface=dbusmock.MOCK_IFACE)
