#!/usr/bin/env python3
"""The real orb in a real headless KWin session (kwin_wayland --virtual, with Xwayland),
started by KWin as a session starts it, with the simulated controller: the profile follows
the active window between two native Wayland programs (wev and a copy of it under another
name) and an XWayland one (xev), and each receives exactly its own profile's keys through
KWin's fake_input, which KWin grants by the desktop entry the package installs.

The session has a session bus of its own (a private dbus-daemon). kwin_wayland carries a
file capability that a container refuses to execute: a copy of the binary without it runs.
Windows are brought to the front the way KWin allows from outside: a KWin script over D-Bus.
Exits 77 (CTest's skip) with the reason when KWin cannot run.

    kwin_session_test.py --orb PATH --orbctl PATH
"""

import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from session_figures import BusWatch, FileWatch, focus_figures, idle_figure  # noqa: E402
from session_tier import (PGM1, PROFILE, TABLE, WAIT, Client, balanced, fail, need_tools,  # noqa: E402
                          play_turn, read, run_session, skip, wait_for, wev_keys, xev_keys)

# Brings a window to the front, by its process or (an X client that does not tell its pid
# to KWin) its caption; Plasma 5 and 6 name the property apart.
ACTIVATE = """
(function () {{
  var all = workspace.windowList !== undefined ? workspace.windowList() : workspace.clientList();
  for (var i = 0; i < all.length; ++i) {{
    if ({pid} > 0 ? all[i].pid === {pid} : all[i].caption === "{caption}") {{
      if (workspace.activeWindow !== undefined) workspace.activeWindow = all[i];
      else workspace.activeClient = all[i];
    }}
  }}
}})();
"""

# Tells, in KWin's own output, which processes have a window.
LIST = """
(function () {
  var all = workspace.windowList !== undefined ? workspace.windowList() : workspace.clientList();
  var pids = [];
  for (var i = 0; i < all.length; ++i) pids.push(all[i].pid + ":" + all[i].caption.replace(/ /g, "_"));
  print("orb-test-windows " + pids.join(" "));
})();
"""


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--orb", required=True)
    parser.add_argument("--orbctl", required=True)
    args = parser.parse_args()

    need_tools(("kwin_wayland", "dbus-daemon", "dbus-send", "dbus-monitor", "Xwayland", "wev", "xev", "stdbuf"))
    return run_session("orb-kwin-", lambda top, processes: run(args, top, processes))


def run(args, top, processes):
    runtime = os.path.join(top, "run")
    work = os.path.join(top, "orb")
    bindir = os.path.join(top, "bin")
    config = os.path.join(top, "config")
    data = os.path.join(top, "data")
    for d in (runtime, work, bindir, os.path.join(config, "TARN"), os.path.join(data, "applications"),
              os.path.join(top, "cache")):
        os.makedirs(d)
    os.chmod(runtime, 0o700)
    with open(os.path.join(config, "TARN", "ORB.conf"), "w") as f:
        f.write("[General]\nShowStay=0\n")

    orb = os.path.join(bindir, "orb")
    orbctl = os.path.join(bindir, "orbctl")
    shutil.copy(args.orb, orb)
    shutil.copy(args.orbctl, orbctl)
    wevtwo = os.path.join(bindir, "wevtwo")
    shutil.copy(shutil.which("wev"), wevtwo)
    # A copy without the file capability, which a container will not execute.
    kwin = os.path.join(bindir, "kwin_wayland")
    shutil.copy(os.path.realpath(shutil.which("kwin_wayland")), kwin)

    # The entry the package installs, naming this copy of orb: KWin grants fake_input by it.
    with open(os.path.join(data, "applications", "orb-kwin.desktop"), "w") as f:
        f.write(f"""[Desktop Entry]
Type=Application
Name=ORB key output
Exec={orb}
NoDisplay=true
X-KDE-Wayland-Interfaces=org_kde_kwin_fake_input
""")

    clients = [
        Client("wev", "Native One", "WEV", "Ctrl+Shift+Z", ["Control_L", "Shift_L", "Z"],
               os.path.join(top, "wev.out"), wev_keys),
        Client("wevtwo", "Native Two", "WEVTWO", "Shift+End", ["Shift_L", "End"],
               os.path.join(top, "wevtwo.out"), wev_keys),
        Client("xev", "X Client", "XEV", "Ctrl+E", ["Control_L", "e"],
               os.path.join(top, "xev.out"), xev_keys, caption="Event Tester"),
    ]
    table = TABLE.format(profiles="".join(PROFILE.format(app=c.app, exe=c.exe, stroke=c.stroke) for c in clients))
    with open(os.path.join(top, "table.toml"), "w") as f:
        f.write(table)
    built = subprocess.run([orbctl, "table", "build", os.path.join(top, "table.toml"), "-o",
                            os.path.join(work, "ORB.DAT")], capture_output=True, text=True, cwd=top)
    if built.returncode != 0:
        fail("orbctl table build: " + built.stderr)

    base_env = {
        "PATH": "/usr/local/bin:/usr/bin:/bin",
        "HOME": top,
        "XDG_RUNTIME_DIR": runtime,
        "XDG_CONFIG_HOME": config,
        "XDG_DATA_HOME": data,
        "XDG_DATA_DIRS": "/usr/local/share:/usr/share",
        "XDG_CACHE_HOME": os.path.join(top, "cache"),
        "LC_ALL": "C.UTF-8",
    }

    # The session's own bus.
    bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=1"],
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, env=base_env, cwd=top)
    processes.append(bus)
    address = bus.stdout.readline().strip()
    if not address:
        fail("the session bus did not start")
    base_env["DBUS_SESSION_BUS_ADDRESS"] = address
    # KWin's calls to orb about the window in front, with the time each was on the bus.
    activations = BusWatch([], base_env, "type='method_call',interface='org.orb.Foreground',member='Activated'",
                           os.path.join(top, "activations.monitor"))
    processes.append(activations.process)
    if not activations.ready():
        # Only the figures need it: the session is still tested.
        print("dbus-monitor does not watch the session bus: no figures of the bus's times")
        activations.stop()

    sim_socket = os.path.join(top, "controller.sock")
    simulator = subprocess.Popen([orbctl, "hid", "simulate", "--socket", sim_socket], stdin=subprocess.PIPE,
                                 stdout=subprocess.PIPE, text=True, env=base_env, cwd=top)
    processes.append(simulator)
    if "listening" not in simulator.stdout.readline():
        fail("the simulated controller did not start")

    log = os.path.join(work, "ORB.LOG")
    # orb as KWin starts a session's program: with the session's WAYLAND_DISPLAY and DISPLAY.
    launcher = os.path.join(top, "start-orb")
    with open(launcher, "w") as f:
        f.write(f"""#!/bin/sh
cd {work} || exit 1
echo "$DISPLAY" > {top}/display
echo $$ > {top}/orb.pid
exec env ORB_HID=sim:{sim_socket} {orb} /m >{top}/orb.out 2>&1
""")
    os.chmod(launcher, 0o755)

    kwin_env = dict(base_env, XDG_SESSION_TYPE="wayland", XDG_CURRENT_DESKTOP="KDE", KDE_SESSION_VERSION="5",
                    KDE_FULL_SESSION="true", QT_QPA_PLATFORM="wayland")
    with open(os.path.join(top, "kwin.log"), "w") as kwin_log:
        compositor = subprocess.Popen([kwin, "--virtual", "--xwayland", "--no-lockscreen", "--no-kactivities",
                                       "--socket", "wayland-orb", "--width", "1280", "--height", "800", launcher],
                                      env=kwin_env, cwd=top, stdout=kwin_log, stderr=subprocess.STDOUT,
                                      start_new_session=True)
    processes.append(compositor)
    if not wait_for("KWin's socket", lambda: os.path.exists(os.path.join(runtime, "wayland-orb"))):
        if compositor.poll() is not None:
            skip("KWin cannot run here: " + read(os.path.join(top, "kwin.log"))[-800:])
        fail("KWin made no socket")
    session_env = dict(kwin_env, WAYLAND_DISPLAY="wayland-orb")

    def orb_log():
        return read(log)

    def diagnostics():
        return (f"\n--- ORB.LOG\n{orb_log()}\n--- orb output\n{read(os.path.join(top, 'orb.out'))}"
                f"\n--- kwin.log (end)\n{read(os.path.join(top, 'kwin.log'))[-2500:]}")

    loaded = [0]

    to_unload = []

    def kwin_script(name, text):
        # A name of its own each time: KWin refuses a script whose name is still loaded, and
        # an unloaded one may linger a moment.
        loaded[0] += 1
        name = f"{name}-{loaded[0]}"
        path = os.path.join(top, name + ".js")
        with open(path, "w") as f:
            f.write(text)

        def call(member, *words):
            done = subprocess.run(["dbus-send", "--session", "--print-reply", "--dest=org.kde.KWin", "/Scripting",
                                   "org.kde.kwin.Scripting." + member] + list(words), env=session_env,
                                  capture_output=True, text=True, timeout=WAIT)
            if done.returncode != 0:
                fail(f"KWin's {member}: {done.stderr}" + diagnostics())
            return done.stdout
        # The script before this one is unloaded only now: KWin may run a script a while
        # after "start" has answered, and one unloaded at once may never have run.
        while to_unload:
            call("unloadScript", "string:" + to_unload.pop())
        if "int32 -1" in call("loadScript", "string:" + path, "string:" + name):
            fail(f"KWin refused the script {name}" + diagnostics())
        started = time.monotonic()  # the script runs at start
        call("start")
        to_unload.append(name)
        return started

    if not wait_for("orb's start", lambda: "Foreground: " in orb_log() and "SelectKeySink:" in orb_log()):
        if compositor.poll() is not None:
            skip("KWin ended at its start: " + read(os.path.join(top, "kwin.log"))[-800:])
        fail("orb did not start under KWin" + diagnostics())
    text = orb_log()
    if "Foreground: KWin" not in text:
        fail("orb did not choose the KWin tracker" + diagnostics())
    if "SelectKeySink: key strokes go to KWin fake input" not in text:
        fail("orb did not get KWin's fake_input" + diagnostics())
    if not wait_for("the controller", lambda: "Controller connected!" in orb_log()):
        fail("orb did not connect the simulated controller" + diagnostics())
    display = read(os.path.join(top, "display")).strip()
    if not display:
        fail("KWin started orb without an Xwayland display" + diagnostics())

    # The programs, with the session's displays; each writes its pid before it becomes the program.
    windows = {}
    for client in clients:
        program = wevtwo if client.name == "wevtwo" else client.name
        extra = " -event keyboard" if client.name == "xev" else ""
        pidfile = os.path.join(top, client.name + ".pid")
        script = os.path.join(top, "start-" + client.name)
        with open(script, "w") as f:
            f.write(f"#!/bin/sh\necho $$ > {pidfile}\nexec stdbuf -oL {program}{extra} > {client.out} 2>&1\n")
        os.chmod(script, 0o755)
        started = subprocess.Popen([script], env=dict(session_env, DISPLAY=display), cwd=top,
                                   stdin=subprocess.DEVNULL, start_new_session=True)
        processes.append(started)
        client.pid = started.pid

        # xev does not write its pid on its window: KWin knows it by its caption only.
        mark = f"0:{client.caption.replace(' ', '_')}" if client.caption else f"{client.pid}:"

        def mapped(mark=mark):
            kwin_script("orb-test-list", LIST)
            return re.search(rf"orb-test-windows.*\s{re.escape(mark)}", read(os.path.join(top, "kwin.log")))

        if not wait_for(client.name + "'s window", mapped):
            fail(f"{client.name} has no window in KWin: {read(client.out)}" + diagnostics())

    def press_pgm1():
        simulator.stdin.write(f"button {PGM1}\nrelease\n")
        simulator.stdin.flush()

    order = [clients[0], clients[2], clients[1], clients[0]]
    received = {c.name: [] for c in clients}
    timings = []
    latencies = []
    log_watch = FileWatch(log)
    for turn, client in enumerate(order):
        chosen_before = orb_log().count(f"Profile : {client.app}")
        since = time.time()
        started = kwin_script("orb-test-activate",
                              ACTIVATE.format(pid=0 if client.caption else client.pid, caption=client.caption))
        chosen = log_watch.wait_until(lambda text: text.count(f"Profile : {client.app}") > chosen_before, WAIT)
        if chosen is None:
            fail(f"turn {turn}: {client.name} in front, but its profile was not chosen" + diagnostics())
        timings.append(time.monotonic() - started)
        # KWin's first call naming this window this turn is the one orb chose the profile on
        # (an empty id: nothing active; pid "0": an X client that did not tell it).
        pid = "0" if client.caption else str(client.pid)
        call = activations.first_after(since, lambda m: len(m.strings) >= 2 and m.strings[0] != ""
                                       and m.strings[1] == pid)
        latencies.append(None if call is None else (chosen - call.when) * 1000)
        received[client.name] += play_turn(turn, client, clients, orb_log, press_pgm1, diagnostics)
    log_watch.close()
    print("activation to profile chosen (a dbus-send start and the script's load included): " +
          ", ".join(f"{t * 1000:.0f} ms" for t in timings))
    # Figures only: a loaded machine makes them slow, which is no fault of the session's.
    print(focus_figures(latencies, "KWin's call on the bus"))
    orb_pid = int(read(os.path.join(top, "orb.pid")).strip() or 0)
    if orb_pid:
        time.sleep(1.0)  # the last stroke's timers run out
        print(idle_figure(orb_pid))

    # orb's own window, a native Wayland one: without a tray host a second start shows it;
    # brought to the front as a user would, it is known as orb's own by its pid.
    if orb_pid:
        selves = orb_log().count("CheckForegroundWindow: m_blSelf = 1")
        second = subprocess.run([orb], env=dict(session_env, LC_ALL="C"), cwd=work, capture_output=True, text=True,
                                timeout=3 * WAIT)  # a Qt program's start, on a busy machine

        def shown():
            kwin_script("orb-test-list", LIST)
            return re.search(rf"orb-test-windows.*\s{orb_pid}:", read(os.path.join(top, "kwin.log")))

        if not wait_for("orb's window", shown):
            fail(f"orb's window did not appear (second start: {second.returncode} {second.stdout}{second.stderr})"
                 + diagnostics())
        kwin_script("orb-test-activate", ACTIVATE.format(pid=orb_pid, caption=""))
        if not wait_for("orb's window in front",
                        lambda: orb_log().count("CheckForegroundWindow: m_blSelf = 1") > selves):
            fail("orb's own window came to the front but orb did not know it as its own" + diagnostics())
        print("orb's own window in front: known as orb's own")

    # orbctl doctor in the same session.
    doctor = subprocess.run([orbctl, "doctor"], env=dict(session_env, ORB_HID="sim:" + sim_socket),
                            capture_output=True, text=True, cwd=work, timeout=WAIT)
    print("orbctl doctor in the session:\n" + doctor.stdout + doctor.stderr)
    for expected in (r"ok    key strokes: KWin fake input, granted to [^\n]*/orb by [^\n]*/orb-kwin.desktop\n",
                     r"ok    application in front: KWin", r"ok    KWin scripting answers"):
        if not re.search(expected, doctor.stdout):
            fail(f"orbctl doctor (status {doctor.returncode}) does not say \"{expected}\"")

    # The end as a session ends it: orb goes with SIGTERM, leaves no key down, unloads its script.
    if orb_pid:
        os.kill(orb_pid, signal.SIGTERM)
        if not wait_for("orb's end", lambda: "CMainDialog: destroyed" in orb_log()):
            fail("orb did not end on SIGTERM" + diagnostics())
    loaded = subprocess.run(["dbus-send", "--session", "--print-reply", "--dest=org.kde.KWin", "/Scripting",
                             "org.kde.kwin.Scripting.isScriptLoaded", f"string:orb-foreground-{orb_pid}"],
                            env=session_env, capture_output=True, text=True, timeout=WAIT)
    if "boolean false" not in loaded.stdout:
        fail(f"orb's KWin script is still loaded after its end: {loaded.stdout}{loaded.stderr}")
    for client in clients:
        if not balanced(client.keys()):
            fail(f"{client.name} was left with a key down: {client.keys()}")
    print("every program received its own keys and no other's:", received)
    return 0


if __name__ == "__main__":
    sys.exit(main())
