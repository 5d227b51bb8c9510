#!/usr/bin/env python3
"""The real orb in a real headless sway session, started by sway as a session starts it,
with the simulated controller: the profile follows the focus between two native Wayland
programs (wev and a copy of it under another name) and an XWayland one (xev), and each
receives exactly its own profile's keys through the virtual keyboard.

orb runs without DISPLAY, so it needs neither XWayland nor the X11 backends.

sway refuses to run as root: as root this script runs the session as an unprivileged test
user (made when missing). Exits 77 (CTest's skip) with the reason when sway cannot run.

With --foreground wlr, orb follows the window in front through the compositor's toplevel
list instead of sway's IPC, as on other wlroots compositors: no pid there, so wev is named
by a desktop entry of the test's own and orb's own window by its app_id.

    sway_session_test.py --orb PATH --orbctl PATH [--foreground sway|wlr]
"""

import argparse
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from session_tier import (PGM1, PROFILE, TABLE, WAIT, Client, balanced, fail, need_tools,  # noqa: E402
                          play_turn, read, run_session, session_user, skip, wait_for, wev_keys,
                          xev_keys)

def unbalanced(keys):
    return not balanced(keys)


# The held-key record orb keeps in the runtime directory: its sink's name at byte 24 (16
# bytes), one byte per keycode down from byte 272.
RECORD_SINK, RECORD_DOWN = 24, 272


def record_state(path):
    data = open(path, "rb").read()
    sink = data[RECORD_SINK:RECORD_SINK + 16].split(b"\0")[0].decode()
    return sink, [code for code, byte in enumerate(data[RECORD_DOWN:RECORD_DOWN + 1024]) if byte]


def kill_mid_stroke(orb_pid, client, swaymsg, press_pgm1, diagnostics, record):
    """SIGKILL while the client holds one of orb's keys down; the key guard must release it.

    orb is stopped as soon as the client sees a press; only when the client then still holds
    a key (no release already on its way) is it killed, else it goes on and the next stroke
    is tried. The compositor may let go of a gone keyboard's keys itself (sway does, and
    drops a release whose press another keyboard sent), so the guard's part is seen in the
    record: what it held at the kill, it no longer holds."""
    swaymsg(f"[pid={client.pid}]", "focus")
    time.sleep(0.3)  # the profile chosen, the keyboard's focus settled
    for attempt in range(20):
        before = len(client.keys())
        press_pgm1()
        if not wait_for("a press", lambda: any(s == "press" for s, _ in client.keys()[before:]), timeout=WAIT):
            fail(f"attempt {attempt}: {client.name} received no press" + diagnostics())
        os.kill(orb_pid, signal.SIGSTOP)
        time.sleep(0.05)  # what orb sent before it stopped has reached the client
        if unbalanced(client.keys()):
            held = client.keys()
            sink, down = record_state(record)
            if sink != "Wayland" or not down:
                fail(f"orb holds keys down, but its record says {sink!r} {down}" + diagnostics())
            os.kill(orb_pid, signal.SIGKILL)
            if not wait_for("the guard", lambda: not record_state(record)[1]):
                fail(f"the key guard did not release {record_state(record)[1]}" + diagnostics())
            if not wait_for("the release", lambda: balanced(client.keys())):
                fail(f"orb killed with keys down, and {client.name} was left with them: {client.keys()}"
                     + diagnostics())
            print(f"orb killed at attempt {attempt}, {client.name} having received {held[before:]}; "
                  f"then: {client.keys()[len(held):]}")
            return
        os.kill(orb_pid, signal.SIGCONT)
        wait_for("the stroke's end", lambda: balanced(client.keys()))
    fail("orb could not be stopped in the middle of a stroke in 20 attempts")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--orb", required=True)
    parser.add_argument("--orbctl", required=True)
    parser.add_argument("--foreground", choices=("sway", "wlr"), default="sway")
    parser.add_argument("--end", choices=("term", "kill"), default="term",
                        help="end orb as a session does (SIGTERM) or with SIGKILL in the middle of a stroke")
    args = parser.parse_args()

    need_tools(("sway", "swaymsg", "wev", "Xwayland", "xev", "stdbuf", "setpriv"))
    # sway will not run as root: the session belongs to a test user.
    as_user, uid, gid = session_user()
    return run_session("orb-sway-", lambda top, processes: run(args, top, as_user, uid, gid, processes))


def run(args, top, as_user, uid, gid, processes):
    runtime = os.path.join(top, "run")
    work = os.path.join(top, "orb")
    bindir = os.path.join(top, "bin")
    config = os.path.join(top, "config", "TARN")
    for d in (runtime, work, bindir, config):
        os.makedirs(d)
    with open(os.path.join(config, "ORB.conf"), "w") as f:
        f.write("[General]\nShowStay=0\n")

    # The programs, where the test user can run them: orb is the build's binary itself,
    # the second native program a copy of wev under a name of its own.
    orb = os.path.join(bindir, "orb")
    orbctl = os.path.join(bindir, "orbctl")
    shutil.copy(args.orb, orb)
    shutil.copy(args.orbctl, orbctl)
    wevtwo = os.path.join(bindir, "wevtwo")
    shutil.copy(shutil.which("wev"), wevtwo)

    wlr = args.foreground == "wlr"
    # The toplevel list names wev by its app_id, "wev", through this entry: the entry's
    # program, not the app_id, is the application.
    data_home = os.path.join(top, "data")
    os.makedirs(os.path.join(data_home, "applications"))
    with open(os.path.join(data_home, "applications", "wev.desktop"), "w") as f:
        f.write("[Desktop Entry]\nType=Application\nName=Probe\nExec=env LC_ALL=C /opt/probe/wev-probe %U\n")
    clients = [
        Client("wev", "Native One", "WEV-PROBE" if wlr else "WEV", "Ctrl+Shift+Z", ["Control_L", "Shift_L", "Z"],
               os.path.join(top, "wev.out"), wev_keys),
        Client("wevtwo", "Native Two", "WEVTWO", "Shift+End", ["Shift_L", "End"],
               os.path.join(top, "wevtwo.out"), wev_keys),
        Client("xev", "X Client", "XEV", "Ctrl+E", ["Control_L", "e"],
               os.path.join(top, "xev.out"), xev_keys),
    ]
    if wlr:
        # A copy of wev has wev's app_id: without a pid the two are one application.
        clients = [c for c in clients if c.name != "wevtwo"]
        # sway's toplevel list gives an XWayland window no app_id: nothing names its
        # application, so the fallback profile plays, into xev and nowhere else.
        clients[-1].app, clients[-1].exe, clients[-1].expected = "Anything Else", "", ["F7"]
    table = TABLE.format(profiles="".join(PROFILE.format(app=c.app, exe=c.exe, stroke=c.stroke) for c in clients
                                          if c.exe))
    with open(os.path.join(top, "table.toml"), "w") as f:
        f.write(table)
    built = subprocess.run([orbctl, "table", "build", os.path.join(top, "table.toml"), "-o",
                            os.path.join(work, "ORB.DAT")], capture_output=True, text=True, cwd=top)
    if built.returncode != 0:
        fail("orbctl table build: " + built.stderr)

    sim_socket = os.path.join(top, "controller.sock")
    log = os.path.join(work, "ORB.LOG")
    # orb as sway starts it; DISPLAY removed, so it runs on Wayland alone.
    launcher = os.path.join(top, "start-orb")
    with open(launcher, "w") as f:
        f.write(f"""#!/bin/sh
cd {work} || exit 1
echo $$ > {top}/orb.pid
exec env -u DISPLAY ORB_HID=sim:{sim_socket} LC_ALL=C XDG_CONFIG_HOME={os.path.dirname(config)} \\
  XDG_DATA_HOME={data_home} ORB_FOREGROUND={args.foreground} \\
  {orb} /m >{top}/orb.out 2>&1
""")
    os.chmod(launcher, 0o755)
    with open(os.path.join(top, "sway.config"), "w") as f:
        f.write(f"""xwayland enable
output HEADLESS-1 resolution 1280x800
default_border none
exec {launcher}
""")
    for root, dirs, files in os.walk(top):
        for name in dirs + files:
            os.chown(os.path.join(root, name), uid, gid)
    os.chown(top, uid, gid)
    os.chmod(top, 0o700)
    os.chmod(runtime, 0o700)

    base_env = {
        "PATH": "/usr/local/bin:/usr/bin:/bin",
        "HOME": top,
        "XDG_RUNTIME_DIR": runtime,
    }

    simulator = subprocess.Popen(as_user + [orbctl, "hid", "simulate", "--socket", sim_socket],
                                 stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, env=base_env, cwd=top)
    processes.append(simulator)
    if "listening" not in simulator.stdout.readline():
        fail("the simulated controller did not start")

    sway_env = dict(base_env, WLR_BACKENDS="headless", WLR_RENDERER="pixman", WLR_LIBINPUT_NO_DEVICES="1",
                    XDG_SESSION_TYPE="wayland", XDG_CURRENT_DESKTOP="sway")
    with open(os.path.join(top, "sway.log"), "w") as sway_log:
        sway = subprocess.Popen(as_user + ["sway", "-c", os.path.join(top, "sway.config")], env=sway_env, cwd=top,
                                stdout=sway_log, stderr=subprocess.STDOUT, start_new_session=True)
    processes.append(sway)

    def sockets():
        names = os.listdir(runtime)
        ipc = [n for n in names if n.startswith("sway-ipc.") and n.endswith(".sock")]
        wayland = [n for n in names if re.fullmatch(r"wayland-\d+", n)]
        return (os.path.join(runtime, ipc[0]), wayland[0]) if ipc and wayland else None

    found = wait_for("sway's sockets", sockets)
    if not found:
        if sway.poll() is not None:
            skip("sway cannot run here: " + read(os.path.join(top, "sway.log"))[-800:])
        fail("sway made no sockets")
    swaysock, wayland_display = found
    session_env = dict(base_env, SWAYSOCK=swaysock, WAYLAND_DISPLAY=wayland_display)

    def swaymsg(*words, kind=None):
        command = as_user + ["swaymsg"] + (["-t", kind] if kind else []) + list(words)
        done = subprocess.run(command, env=session_env, capture_output=True, text=True, timeout=WAIT)
        if done.returncode != 0:
            fail(f"swaymsg {' '.join(words)}: {done.stdout}{done.stderr}")
        return done.stdout

    def orb_log():
        return read(log)

    def diagnostics():
        return (f"\n--- ORB.LOG\n{orb_log()}\n--- orb output\n{read(os.path.join(top, 'orb.out'))}"
                f"\n--- sway.log (end)\n{read(os.path.join(top, 'sway.log'))[-1500:]}")

    if not wait_for("orb's start", lambda: "Foreground: " in orb_log() and "SelectKeySink:" in orb_log()):
        fail("orb did not start under sway" + diagnostics())
    text = orb_log()
    if f"Foreground: {args.foreground}\n" not in text:
        fail(f"orb did not choose the {args.foreground} tracker" + diagnostics())
    if "SelectKeySink: key strokes go to Wayland virtual keyboard" not in text:
        fail("orb did not choose the Wayland virtual keyboard" + diagnostics())
    if not wait_for("the controller", lambda: "Controller connected!" in orb_log()):
        fail("orb did not connect the simulated controller" + diagnostics())

    # The programs, started by sway; each writes its pid before it becomes the program.
    for client in clients:
        program = wevtwo if client.name == "wevtwo" else client.name
        extra = " -event keyboard -event focus" if client.name == "xev" else ""
        pidfile = os.path.join(top, client.name + ".pid")
        # A script of its own: sway's commands take '$' for their variables.
        script = os.path.join(top, "start-" + client.name)
        with open(script, "w") as f:
            f.write(f"#!/bin/sh\necho $$ > {pidfile}\nexec stdbuf -oL {program}{extra} > {client.out} 2>&1\n")
        os.chmod(script, 0o755)
        swaymsg("exec", script)
        pid = wait_for(client.name, lambda: read(pidfile).strip())
        if not pid:
            fail(f"{client.name} did not start")
        client.pid = int(pid)

        def mapped(pid=client.pid):
            tree = json.loads(swaymsg(kind="get_tree"))
            pending = [tree]
            while pending:
                node = pending.pop()
                if node.get("pid") == pid:
                    return True
                pending += node.get("nodes", []) + node.get("floating_nodes", [])
            return False

        if not wait_for(client.name + "'s window", mapped):
            fail(f"{client.name} has no window in sway's tree: {read(client.out)}")

    def press_pgm1():
        simulator.stdin.write(f"button {PGM1}\nrelease\n")
        simulator.stdin.flush()

    # Each in front in turn, the first once more: its profile chosen, its keys received.
    order = [clients[0], clients[-1]] + clients[1:-1] + [clients[0]]
    received = {c.name: [] for c in clients}
    latencies = []
    for turn, client in enumerate(order):
        chosen_before = orb_log().count(f"Profile : {client.app}")
        focus_before = client.focus_count()
        started = time.monotonic()
        swaymsg(f"[pid={client.pid}]", "focus")
        focused = time.monotonic()  # sway answers once the focus has moved
        if not wait_for("the profile", lambda: orb_log().count(f"Profile : {client.app}") > chosen_before,
                        interval=0.001):
            fail(f"turn {turn}: {client.name} in front, but its profile was not chosen" + diagnostics())
        # From the focus command (swaymsg's own start included) and from sway's answer to it,
        # to the profile in the log: bounds of orb's part.
        now = time.monotonic()
        latencies.append(((now - started) * 1000, (now - focused) * 1000))
        received[client.name] += play_turn(turn, client, clients, orb_log, press_pgm1, diagnostics, focus_before)

    print("profile chosen after the focus command / after sway's answer, ms: " +
          ", ".join(f"{whole:.1f} / {after:.1f}" for whole, after in latencies))

    # orb's own window, a native Wayland one: without a tray host a second start shows it,
    # sway puts it in front, and orb knows itself there by its pid.
    selves = orb_log().count("CheckForegroundWindow: m_blSelf = 1")
    second = subprocess.run(as_user + ["env", "-u", "DISPLAY", orb], env=dict(session_env, LC_ALL="C",
                            XDG_CONFIG_HOME=os.path.dirname(config)), cwd=work, capture_output=True, text=True,
                            timeout=3 * WAIT)  # a Qt program's start, on a busy machine
    if not wait_for("orb's window in front", lambda: orb_log().count("CheckForegroundWindow: m_blSelf = 1") > selves):
        fail(f"orb's own window did not come to the front as orb's (second start: {second.returncode} "
             f"{second.stdout}{second.stderr})" + diagnostics())
    print("orb's own window in front: known as orb's own")
    if wlr and orb_log().count("the compositor tells no pid") != 1:
        fail("orb did not say once that the compositor tells no pid" + diagnostics())

    # orbctl doctor in the same session: everything works, and it says which backends.
    doctor_env = dict(session_env, XDG_SESSION_TYPE="wayland", XDG_CURRENT_DESKTOP="sway",
                      ORB_HID="sim:" + sim_socket, XDG_CONFIG_HOME=os.path.dirname(config),
                      ORB_FOREGROUND=args.foreground)
    doctor = subprocess.run(as_user + [orbctl, "doctor"], env=doctor_env, capture_output=True, text=True,
                            cwd=work, timeout=WAIT)
    for expected in (r"ok    key strokes: Wayland virtual keyboard\n", r"ok    application in front: " + args.foreground + " ",
                     r"ok    controller 056D:0007 at [^\n]*: opens\n", r"everything ORB needs works here\n"):
        if not re.search(expected, doctor.stdout):
            fail(f"orbctl doctor (status {doctor.returncode}) does not say \"{expected}\":\n{doctor.stdout}{doctor.stderr}")
    if doctor.returncode != 0:
        fail(f"orbctl doctor ended with {doctor.returncode}:\n{doctor.stdout}{doctor.stderr}")
    print("orbctl doctor in the session:\n" + doctor.stdout)

    orb_pid = int(read(os.path.join(top, "orb.pid")).strip() or 0)
    if not orb_pid:
        fail("orb's pid was not written" + diagnostics())
    if args.end == "term":
        # The end as a session ends it: orb goes with SIGTERM and leaves no key down.
        os.kill(orb_pid, signal.SIGTERM)
        if not wait_for("orb's end", lambda: "CMainDialog: destroyed" in orb_log()):
            fail("orb did not end on SIGTERM" + diagnostics())
    else:
        kill_mid_stroke(orb_pid, clients[0], swaymsg, press_pgm1, diagnostics,
                        os.path.join(runtime, "ORB keys down"))
    for client in clients:
        if not balanced(client.keys()):
            fail(f"{client.name} was left with a key down: {client.keys()}")
    print("every program received its own keys and no other's:", received)
    return 0


if __name__ == "__main__":
    sys.exit(main())
