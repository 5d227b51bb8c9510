"""What the Wayland session tiers share: the table they give orb, the test programs and how
their output reads as key strokes, waiting, and the end of a session. Each tier is a
script of its own (sway, KWin, GNOME Shell); this module is imported from beside them."""

import os
import pwd
import re
import shutil
import signal
import subprocess
import sys
import tempfile
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


def play_turn(turn, client, clients, orb_log, press_pgm1, diagnostics, focus_before=None):
    """With client's profile chosen: orb named its program, PGM1 gives client exactly its
    presses, each released, and no other client anything. The presses, for the summary.
    With focus_before, the keys wait, as a user would, until the window itself has been
    told it is in front (XWayland hands an X window its focus after the compositor)."""
    if f"Application is {client.exe}" not in orb_log():
        fail(f"turn {turn}: orb did not name {client.exe}" + diagnostics())
    if focus_before is not None and not wait_for(client.name + "'s focus",
                                                 lambda: client.focus_count() > focus_before):
        fail(f"turn {turn}: {client.name} was never told it has the keyboard" + diagnostics())
    before = {c.name: len(c.keys()) for c in clients}
    press_pgm1()
    wanted = len(client.expected) * 2
    if not wait_for("the keys", lambda: len(client.keys()) - before[client.name] >= wanted):
        fail(f"turn {turn}: {client.name} received {client.keys()[before[client.name]:]}, "
             f"expected {client.expected}" + diagnostics())
    time.sleep(0.3)  # anything sent astray would have come by now
    got = client.keys()[before[client.name]:]
    pressed = [sym for state, sym in got if state == "press"]
    if pressed != client.expected or not balanced(got):
        fail(f"turn {turn}: {client.name} received {got}, expected the presses {client.expected}, each released")
    for other in clients:
        if other is not client and len(other.keys()) != before[other.name]:
            fail(f"turn {turn}: keys for {client.name} reached {other.name}: {other.keys()[before[other.name]:]}")
    print(f"turn {turn}: {client.name} in front, profile \"{client.app}\", received {pressed}")
    return pressed


def need_tools(tools):
    for tool in tools:
        if shutil.which(tool) is None:
            skip(f"{tool} is not installed (scripts/bootstrap installs it)")


def session_user():
    """(as_user, uid, gid): as root, the session belongs to an unprivileged test user (made
    when missing), whom as_user (a command prefix) becomes; otherwise to whoever runs us."""
    if os.geteuid() != 0:
        return [], os.getuid(), os.getgid()
    if not user_exists(TEST_USER):
        made = subprocess.run(["useradd", "--system", "--no-create-home", "--home-dir", "/nonexistent",
                               "--shell", "/usr/sbin/nologin", TEST_USER], capture_output=True, text=True)
        # Another run may have made it meanwhile.
        if made.returncode != 0 and not user_exists(TEST_USER):
            skip(f"cannot make the test user {TEST_USER}: {made.stderr.strip()}")
    entry = pwd.getpwnam(TEST_USER)
    uid, gid = entry.pw_uid, entry.pw_gid
    return ["setpriv", f"--reuid={uid}", f"--regid={gid}", "--clear-groups", "--"], uid, gid


def run_session(prefix, body):
    """body(top, processes) in a directory of its own under /tmp (the runtime directory's
    sockets must stay within 107 bytes); then every process it started is ended, and
    whatever the session started (no child of ours: the clients, orb, XWayland; wev, for
    one, spins for ever once its compositor is gone) is found by the runtime directory in
    its environment and killed. ORB_KEEP_TEST_DIR keeps the directory."""
    top = tempfile.mkdtemp(prefix=prefix, dir="/tmp")
    processes = []
    try:
        return body(top, processes)
    finally:
        for process in reversed(processes):
            if process.poll() is None:
                process.terminate()
                try:
                    process.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()
        kill_session_leftovers(os.path.join(top, "run"))
        if os.environ.get("ORB_KEEP_TEST_DIR"):
            print("kept " + top)
        else:
            shutil.rmtree(top, ignore_errors=True)
