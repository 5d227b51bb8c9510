"""What the Wayland session tiers share: the table they give orb, the test programs and how
their output reads as key strokes, waiting, and the end of a session. Each tier is a
script of its own (sway, KWin, GNOME Shell); this module is imported from beside them."""

import os
import pwd
import re
import signal
import sys
import time

SKIP = 77
TEST_USER = "orb-wayland-test"
WAIT = 20.0

# One profile per test program, each with its own stroke on PGM1 (usage 3 of the simulated
# controller), and a fallback for anything else (orb's own window among them).
TABLE = """language = "en"
{profiles}
[[profile]]
app = "Anything Else"
exe = ""
version = "0.0.0.0"
deck = false
deckfile = false
jog = false
jogshuttle = false
jog_resolution = 0
shuttle_resolution = 0
hostmode = false
fallback = true
version_rule = 0

[profile.controls.PGM1]
both = {{ label = "Mark", keys = ["F7"] }}
"""

PROFILE = """
[[profile]]
app = "{app}"
exe = "{exe}"
version = "0.0.0.0"
deck = false
deckfile = false
jog = false
jogshuttle = false
jog_resolution = 0
shuttle_resolution = 0
hostmode = false
fallback = false
version_rule = 0

[profile.controls.PGM1]
both = {{ label = "Mark", keys = ["{stroke}"] }}
"""

PGM1 = 3


def skip(reason):
    print("SKIP: " + reason)
    sys.exit(SKIP)


def fail(reason):
    print("FAIL: " + reason)
    sys.exit(1)


def wait_for(what, check, timeout=WAIT, interval=0.05):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        result = check()
        if result:
            return result
        time.sleep(interval)
    return None


def read(path):
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            return f.read()
    except FileNotFoundError:
        return ""


class Client:
    """A test program started by the compositor; what it printed, read back as key strokes."""

    def __init__(self, name, app, exe, stroke, expected, out, parse, caption=""):
        self.name, self.app, self.exe, self.stroke = name, app, exe, stroke
        self.caption = caption  # for a client the compositor knows no pid of
        self.expected = expected  # keysym names pressed, in order, for one PGM1
        self.out, self.parse = out, parse
        self.pid = 0

    def keys(self):
        return self.parse(read(self.out))

    def focus_count(self):
        """How often the program has been told it has the keyboard: XWayland hands a window
        its focus a moment after the compositor, and keys before that go nowhere."""
        text = read(self.out)
        return text.count("wl_keyboard] enter") + text.count("FocusIn event")


def wev_keys(text):
    """(state, keysym) per key event: wev prints the key line, then its symbol."""
    keys = []
    state = None
    for line in text.splitlines():
        m = re.search(r"wl_keyboard\] key: .*state: (\d)", line)
        if m:
            state = "press" if m.group(1) == "1" else "release"
            continue
        m = re.match(r"\s+sym: (\S+)", line)
        if m and state is not None:
            keys.append((state, m.group(1)))
            state = None
    return keys


def xev_keys(text):
    keys = []
    state = None
    for line in text.splitlines():
        m = re.match(r"(KeyPress|KeyRelease) event", line)
        if m:
            state = "press" if m.group(1) == "KeyPress" else "release"
            continue
        m = re.search(r"keysym 0x[0-9a-f]+, (\w+)\)", line)
        if m and state is not None:
            keys.append((state, m.group(1)))
            state = None
    return keys


def user_exists(name):
    try:
        pwd.getpwnam(name)
        return True
    except KeyError:
        return False


def balanced(keys):
    """Every press has its release, in the order the engine plays them."""
    down = []
    for state, sym in keys:
        if state == "press":
            down.append(sym)
        elif sym in down:
            down.remove(sym)
        else:
            return False
    return not down


def kill_session_leftovers(runtime):
    mark = ("XDG_RUNTIME_DIR=" + runtime).encode()
    for entry in os.listdir("/proc"):
        if not entry.isdigit() or int(entry) == os.getpid():
            continue
        try:
            with open(f"/proc/{entry}/environ", "rb") as environ:
                if mark in environ.read().split(b"\0"):
                    os.kill(int(entry), signal.SIGKILL)
        except (OSError, ValueError):
            pass  # gone meanwhile, or not ours to read
