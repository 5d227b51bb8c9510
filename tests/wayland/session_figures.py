"""Figures the session tiers print, not checks: how soon orb chooses a profile after the
compositor's own message about the new window is on the session bus, and how often orb's
threads wake while nothing happens.

The bus side comes from dbus-monitor on the session's bus: its time= is the wall clock at
which the monitor read the message, so a monitor that the machine lets run late makes the
figure smaller, even below zero; a figure is never a verdict. orb's side comes from inotify
on ORB.LOG, stamped by a thread of the test's as soon as orb writes (a late thread makes
that side larger). Both are wall-clock times.
"""

import ctypes
import os
import re
import select
import statistics
import subprocess
import threading
import time

_IN_MODIFY = 0x00000002
_IN_NONBLOCK = 0o4000
_IN_CLOEXEC = 0o2000000

_HEADER = re.compile(r"^(signal|method call|method return|error) time=(\d+\.\d+) sender=(\S+) -> "
                     r"destination=(.*?) serial=\d+(?: path=([^;]*); interface=([^;]*); member=(\S+))?")
_STRING = re.compile(r'^\s+string "(.*)"\s*$')


class BusMessage:
    def __init__(self, kind, when, sender, path, interface, member):
        self.kind, self.when, self.sender = kind, when, sender
        self.path, self.interface, self.member = path, interface, member
        self.strings = []  # the message's string arguments, in order


def parse_monitor(text):
    """The messages in dbus-monitor's default output; other argument types are left out."""
    messages = []
    for line in text.splitlines():
        header = _HEADER.match(line)
        if header:
            kind, when, sender, _, path, interface, member = header.groups()
            messages.append(BusMessage(kind, float(when), sender, path or "", interface or "", member or ""))
            continue
        argument = _STRING.match(line)
        if argument and messages:
            messages[-1].strings.append(argument.group(1))
    return messages


class BusWatch:
    """dbus-monitor on the session bus named in env, for the messages of one match rule."""

    def __init__(self, prefix, env, rule, out):
        self.out = out
        with open(out, "w") as f:
            # Line-buffered, so that a message is in the file as soon as the monitor has it.
            self.process = subprocess.Popen(prefix + ["stdbuf", "-oL", "dbus-monitor", "--session", rule],
                                            env=env, stdout=f, stderr=subprocess.DEVNULL, start_new_session=True)

    def ready(self, timeout=10.0):
        # The monitor's first words are the bus's signals about its own name.
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                return False
            if self.messages():
                return True
            time.sleep(0.02)
        return False

    def messages(self):
        try:
            with open(self.out, encoding="utf-8", errors="replace") as f:
                return parse_monitor(f.read())
        except FileNotFoundError:
            return []

    def first_after(self, since, wanted, timeout=2.0):
        """The first wanted message that came on the bus after since (wall clock); waits a
        while, the monitor may write it after orb has acted on it."""
        deadline = time.monotonic() + timeout
        while True:
            found = [m for m in self.messages() if since <= m.when and wanted(m)]
            if found:
                return found[0]
            if time.monotonic() >= deadline or self.process.poll() is not None:
                return None
            time.sleep(0.02)

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


class FileWatch:
    """Stamps every write to one growing file from a thread of its own: a write made while
    the test waits on something else (a dbus-send still ending) keeps its own time."""

    def __init__(self, path):
        self.path = path
        libc = ctypes.CDLL(None, use_errno=True)
        self.fd = libc.inotify_init1(_IN_NONBLOCK | _IN_CLOEXEC)
        if self.fd < 0:
            raise OSError(ctypes.get_errno(), "inotify_init1")
        if libc.inotify_add_watch(self.fd, os.fsencode(path), _IN_MODIFY) < 0:
            error = ctypes.get_errno()
            os.close(self.fd)
            raise OSError(error, "inotify_add_watch " + path)
        self._stamps = []  # (wall-clock time, the file's size then), oldest first
        self._lock = threading.Lock()
        self._quit_read, self._quit_write = os.pipe()
        self._thread = threading.Thread(target=self._stamp, daemon=True)
        self._thread.start()

    def _stamp(self):
        while True:
            ready, _, _ = select.select([self.fd, self._quit_read], [], [])
            if self._quit_read in ready:
                return
            try:
                while os.read(self.fd, 4096):
                    pass
            except BlockingIOError:
                pass
            try:
                size = os.stat(self.path).st_size
            except FileNotFoundError:
                continue
            # Taken after the size: never before the write it covers.
            when = time.time()
            with self._lock:
                self._stamps.append((when, size))

    def wait_until(self, holds, timeout):
        """The wall-clock time of the first write after which holds(the file's text) is true,
        for a holds that stays true as the file grows; None when that did not come in time."""
        deadline = time.monotonic() + timeout
        while True:
            try:
                with open(self.path, "rb") as f:
                    data = f.read()
            except FileNotFoundError:
                data = b""
            if holds(data.decode("utf-8", "replace")):
                with self._lock:
                    stamps = list(self._stamps)
                for when, size in stamps:
                    if holds(data[:size].decode("utf-8", "replace")):
                        return when
                # The stamp of the write just read is still to come.
            if time.monotonic() >= deadline:
                return None
            time.sleep(0.005)

    def close(self):
        if self.fd >= 0:
            os.write(self._quit_write, b"x")
            self._thread.join()
            for fd in (self.fd, self._quit_read, self._quit_write):
                os.close(fd)
            self.fd = -1


def focus_figures(latencies, after):
    """The line of a tier's output: each turn's figure (None: the message was not seen) and their median."""
    seen = [ms for ms in latencies if ms is not None]
    words = ", ".join("?" if ms is None else f"{ms:.1f}" for ms in latencies)
    median = f"{statistics.median(seen):.1f}" if seen else "?"
    return f"profile chosen after {after}, ms: {words}; median {median}"


def context_switches(pid):
    """{tid: (thread name, voluntary, nonvoluntary)} for every thread of a process now."""
    counts = {}
    task = f"/proc/{pid}/task"
    for tid in os.listdir(task):
        try:
            with open(f"{task}/{tid}/status") as f:
                status = f.read()
            with open(f"{task}/{tid}/comm") as f:
                name = f.read().strip()
        except (FileNotFoundError, ProcessLookupError):
            continue  # a thread that ended meanwhile
        voluntary = int(re.search(r"^voluntary_ctxt_switches:\s+(\d+)", status, re.M).group(1))
        nonvoluntary = int(re.search(r"^nonvoluntary_ctxt_switches:\s+(\d+)", status, re.M).group(1))
        counts[int(tid)] = (name, voluntary, nonvoluntary)
    return counts


def idle_wakeups(pid, seconds):
    """(voluntary, nonvoluntary, {thread name: switches}, threads) of all of a process's
    threads over a quiet while. A thread born meanwhile counts from zero; one that ended is lost."""
    before = context_switches(pid)
    time.sleep(seconds)
    after = context_switches(pid)
    voluntary = nonvoluntary = 0
    by_thread = {}
    for tid, (name, v, n) in after.items():
        _, v0, n0 = before.get(tid, (name, 0, 0))
        voluntary += v - v0
        nonvoluntary += n - n0
        if v - v0 + n - n0:
            by_thread[name] = by_thread.get(name, 0) + v - v0 + n - n0
    return voluntary, nonvoluntary, by_thread, len(after)


def idle_figure(pid, seconds=10.0):
    voluntary, nonvoluntary, by_thread, threads = idle_wakeups(pid, seconds)
    woken = ", ".join(f"{name} {n}" for name, n in sorted(by_thread.items(), key=lambda item: -item[1]))
    return (f"orb idle {seconds:g} s with the controller connected: {voluntary + nonvoluntary} context switches "
            f"in its {threads} threads ({(voluntary + nonvoluntary) / seconds:.1f}/s; {voluntary} voluntary, "
            f"{nonvoluntary} nonvoluntary)" + (f"; by thread: {woken}" if woken else ""))
