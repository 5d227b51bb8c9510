#!/usr/bin/env python3
"""The session tiers' figures come from dbus-monitor's output, inotify and /proc: each is
tried here against the real thing, since a wrong figure would pass every tier unnoticed.
Exits 77 (CTest's skip) when the D-Bus tools are missing."""

import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from session_figures import BusWatch, FileWatch, focus_figures, idle_wakeups  # noqa: E402


class BusWatchTest(unittest.TestCase):
    def setUp(self):
        self.top = tempfile.mkdtemp(prefix="orb-figures-")
        self.bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=1"],
                                    stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.env = dict(os.environ, DBUS_SESSION_BUS_ADDRESS=self.bus.stdout.readline().strip())
        self.watch = BusWatch([], self.env, "type='signal',interface='org.orb.FigureTest'",
                              os.path.join(self.top, "monitor"))

    def tearDown(self):
        self.watch.stop()
        self.bus.terminate()
        self.bus.wait()
        self.bus.stdout.close()
        shutil.rmtree(self.top, ignore_errors=True)

    def send(self, member, *words):
        subprocess.run(["dbus-send", "--session", "--type=signal", "/org/orb/FigureTest",
                        "org.orb.FigureTest." + member] + list(words), env=self.env, check=True)

    def test_messages_carry_their_bus_time_and_string_arguments(self):
        self.assertTrue(self.watch.ready())
        before = time.time()
        self.send("Focus", 'string:{"window":7,"pid":12,"wmClass":"a \\"b\\""}', "string:", "int32:5")
        self.send("Focus", "string:second", "string:two words")
        after = time.time()
        first = self.watch.first_after(before, lambda m: m.member == "Focus")
        self.assertIsNotNone(first)
        # The monitor's own reading time: after the send, and soon after unless starved.
        self.assertTrue(before <= first.when <= after + 5, (before, first.when, after))
        self.assertEqual(first.interface, "org.orb.FigureTest")
        self.assertEqual(first.strings, ['{"window":7,"pid":12,"wmClass":"a \\"b\\""}', ""])
        # The wanted one, not merely the first, and the rule's other messages left out.
        second = self.watch.first_after(before, lambda m: m.strings[:1] == ["second"])
        self.assertEqual(second.strings, ["second", "two words"])
        self.assertTrue(first.when <= second.when)

    def test_nothing_from_before_the_time_asked(self):
        self.assertTrue(self.watch.ready())
        self.send("Focus", "string:early")
        self.assertIsNotNone(self.watch.first_after(0, lambda m: m.strings == ["early"]))
        later = time.time()
        started = time.monotonic()
        self.assertIsNone(self.watch.first_after(later, lambda m: m.member == "Focus", timeout=0.3))
        self.assertLess(time.monotonic() - started, 2.0)


class FileWatchTest(unittest.TestCase):
    def setUp(self):
        self.top = tempfile.mkdtemp(prefix="orb-figures-")
        self.path = os.path.join(self.top, "ORB.LOG")
        with open(self.path, "w") as f:
            f.write("Application is X\r\n")
        self.watch = FileWatch(self.path)

    def tearDown(self):
        self.watch.close()
        shutil.rmtree(self.top, ignore_errors=True)

    def append(self, text):
        """The time just before the write."""
        with open(self.path, "a") as f:
            before = time.time()
            f.write(text)
            f.flush()
            return before

    def test_a_write_is_seen_at_once_and_never_before_it_happened(self):
        written = []

        def writer():
            time.sleep(0.2)
            written.append(self.append("Profile : Native One\r\n"))

        thread = threading.Thread(target=writer)
        thread.start()
        seen = self.watch.wait_until(lambda text: "Profile : Native One" in text, 5)
        thread.join()
        self.assertIsNotNone(seen)
        self.assertGreaterEqual(seen, written[0])
        self.assertLess(seen - written[0], 0.15)

    def test_a_write_keeps_its_time_while_the_test_is_busy(self):
        # As when orb writes while the test still waits for the dbus-send that raised a window.
        busy = subprocess.Popen(["sleep", "0.6"])
        written = self.append("Profile : Native One\r\n")
        busy.wait()
        seen = self.watch.wait_until(lambda text: "Profile : Native One" in text, 5)
        self.assertIsNotNone(seen)
        self.assertGreaterEqual(seen, written)
        self.assertLess(seen - written, 0.3)

    def test_the_first_write_after_which_it_holds(self):
        self.append("Application is WEV\r\n")
        time.sleep(0.3)
        second = self.append("Profile : Native One\r\n")
        time.sleep(0.3)
        self.append("Application is XEV\r\n")
        seen = self.watch.wait_until(lambda text: text.count("Profile :") >= 1, 5)
        self.assertGreaterEqual(seen, second)
        self.assertLess(seen - second, 0.2)

    def test_none_when_the_text_never_comes(self):
        self.append("Profile : Anything Else\r\n")
        self.assertIsNone(self.watch.wait_until(lambda text: "Profile : Native One" in text, 0.3))


class IdleWakeupsTest(unittest.TestCase):
    def measure(self, code, seconds=0.5):
        # The child says when its start is over; only what follows is measured.
        child = subprocess.Popen([sys.executable, "-c", "print(flush=True)\n" + code], stdout=subprocess.PIPE)
        try:
            child.stdout.readline()
            time.sleep(0.05)
            return idle_wakeups(child.pid, seconds)
        finally:
            child.kill()
            child.wait()
            child.stdout.close()

    def test_a_blocked_process_barely_wakes(self):
        voluntary, nonvoluntary, _, _ = self.measure("import time; time.sleep(60)")
        self.assertLessEqual(voluntary + nonvoluntary, 2)

    def test_every_thread_counts(self):
        # The main thread waits on the other without a wake; only the other one naps.
        voluntary, _, by_thread, threads = self.measure(
            "import threading, time\n"
            "def nap():\n"
            "    while True: time.sleep(0.005)\n"
            "t = threading.Thread(target=nap); t.start(); t.join()\n")
        self.assertGreaterEqual(voluntary, 20)
        self.assertGreaterEqual(sum(by_thread.values()), voluntary)
        self.assertEqual(threads, 2)


class FiguresLineTest(unittest.TestCase):
    def test_median_of_the_figures_seen(self):
        line = focus_figures([4.0, None, 1.0, 9.5], "X")
        self.assertIn("4.0, ?, 1.0, 9.5", line)
        self.assertTrue(line.endswith("median 4.0"), line)
        self.assertTrue(focus_figures([None], "X").endswith("median ?"))


if __name__ == "__main__":
    for tool in ("dbus-daemon", "dbus-send", "dbus-monitor", "stdbuf"):
        if shutil.which(tool) is None:
            print(f"SKIP: {tool} is not installed (scripts/bootstrap installs it)")
            sys.exit(77)
    unittest.main()
