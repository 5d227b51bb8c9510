#!/usr/bin/env python3
"""The real orb in a real headless GNOME Shell session (mutter), with our shell extension
enabled before the shell starts and the simulated controller: the profile follows the focus
between two native Wayland programs (wev and a copy of it under another name) and an
XWayland one (xev), and each receives exactly its own profile's keys through mutter's
remote desktop service.

The shell needs a system bus: a private dbus-daemon stands in, as does a private session
bus. A helper extension of the test's own (written here) brings a window to the front by
its pid, which no D-Bus interface of the shell does. As root the session belongs to an
unprivileged test user (made when missing). Exits 77 (CTest's skip) with the reason when
the shell cannot run.

    gnome_session_test.py --orb PATH --orbctl PATH --extension DIR [--extension DIR...]
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
from session_figures import BusWatch, FileWatch, focus_figures, idle_figure  # noqa: E402

HELPER_UUID = "orb-test-raise@tarn.jp"
PGM2 = 9
HELD_STROKE = "Ctrl+Shift+C"

# Brings the window of a pid to the front; the test's own, not installed with ORB.
HELPER_BODY = """
const HELPER_XML = `<node><interface name="jp.tarn.OrbTestRaise">
  <method name="Raise"><arg type="u" direction="in"/><arg type="b" direction="out"/></method>
  <method name="Windows"><arg type="s" direction="out"/></method>
</interface></node>`;

class Helper {
    constructor() {
        this._object = Gio.DBusExportedObject.wrapJSObject(HELPER_XML, this);
        this._object.export(Gio.DBus.session, '/jp/tarn/OrbTestRaise');
    }
    _windows() {
        return global.get_window_actors().map(a => a.get_meta_window()).filter(w => w);
    }
    Raise(pid) {
        const window = this._windows().find(w => w.get_pid() === pid);
        if (!window)
            return false;
        Main.activateWindow(window);
        return true;
    }
    Windows() {
        return JSON.stringify(this._windows().map(w => ({pid: w.get_pid(), wmClass: w.get_wm_class()})));
    }
    destroy() {
        this._object.unexport();
    }
}
"""

HELPER_LEGACY = """const {Gio} = imports.gi;
const Main = imports.ui.main;
%s
function init() {
    return {enable() { this.helper = new Helper(); }, disable() { this.helper.destroy(); }};
}
"""

HELPER_MODULE = """import Gio from 'gi://Gio';
import * as Main from 'resource:///org/gnome/shell/ui/main.js';
import {Extension} from 'resource:///org/gnome/shell/extensions/extension.js';
%s
export default class HelperExtension extends Extension {
    enable() { this.helper = new Helper(); }
    disable() { this.helper.destroy(); }
}
"""

SYSTEM_BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path={path}</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
    <allow user="*"/>
  </policy>
</busconfig>
"""


def shell_major():
    done = subprocess.run(["gnome-shell", "--version"], capture_output=True, text=True)
    m = re.search(r"(\d+)\.", done.stdout)
    return int(m.group(1)) if m else 0


def install_extension(source, extensions):
    with open(os.path.join(source, "metadata.json")) as f:
        metadata = json.load(f)
    shutil.copytree(source, os.path.join(extensions, metadata["uuid"]))
    return metadata


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--orb", required=True)
    parser.add_argument("--orbctl", required=True)
    parser.add_argument("--extension", action="append", required=True)
    args = parser.parse_args()

    need_tools(("gnome-shell", "gnome-extensions", "dbus-daemon", "dbus-monitor", "gdbus", "wev", "Xwayland", "xev",
                "stdbuf", "setpriv"))
    as_user, uid, gid = session_user()
    return run_session("orb-gnome-", lambda top, processes: run(args, top, as_user, uid, gid, processes))


def run(args, top, as_user, uid, gid, processes):
    runtime = os.path.join(top, "run")
    work = os.path.join(top, "orb")
    bindir = os.path.join(top, "bin")
    config_home = os.path.join(top, "config")
    config = os.path.join(config_home, "TARN")
    extensions = os.path.join(top, "data", "gnome-shell", "extensions")
    for d in (runtime, work, bindir, config, extensions):
        os.makedirs(d)
    with open(os.path.join(config, "ORB.conf"), "w") as f:
        f.write("[General]\nShowStay=0\n")

    major = shell_major()
    # Ours: the one made for this shell's version; the shell ignores the other.
    ours = [install_extension(source, extensions) for source in args.extension]
    ours = [m for m in ours if str(major) in m["shell-version"]]
    if not ours:
        skip(f"no extension of ours is made for GNOME Shell {major}")
    helper = os.path.join(extensions, HELPER_UUID)
    os.makedirs(helper)
    with open(os.path.join(helper, "metadata.json"), "w") as f:
        json.dump({"uuid": HELPER_UUID, "name": "ORB test raise", "description": "test only",
                   "shell-version": [str(major)]}, f)
    with open(os.path.join(helper, "extension.js"), "w") as f:
        f.write((HELPER_LEGACY if major < 45 else HELPER_MODULE) % HELPER_BODY)
    # Enabled before the shell starts, in a settings file the shell reads at start.
    settings = os.path.join(config_home, "glib-2.0", "settings")
    os.makedirs(settings)
    with open(os.path.join(settings, "keyfile"), "w") as f:
        f.write("[org/gnome/shell]\nenabled-extensions=['%s', '%s']\ndisable-user-extensions=false\n"
                "welcome-dialog-last-shown-version='999'\n" % (ours[0]["uuid"], HELPER_UUID))

    orb = os.path.join(bindir, "orb")
    orbctl = os.path.join(bindir, "orbctl")
    shutil.copy(args.orb, orb)
    shutil.copy(args.orbctl, orbctl)
    wevtwo = os.path.join(bindir, "wevtwo")
    shutil.copy(shutil.which("wev"), wevtwo)

    clients = [
        Client("wev", "Native One", "WEV", "Ctrl+Shift+Z", ["Control_L", "Shift_L", "Z"],
               os.path.join(top, "wev.out"), wev_keys),
        Client("wevtwo", "Native Two", "WEVTWO", "Shift+End", ["Shift_L", "End"],
               os.path.join(top, "wevtwo.out"), wev_keys),
        Client("xev", "X Client", "XEV", "Ctrl+E", ["Control_L", "e"],
               os.path.join(top, "xev.out"), xev_keys),
    ]
    # The first program also has a stroke that repeats until pressed again: keys down most
    # of the time, for the end by SIGKILL.
    profiles = [PROFILE.format(app=c.app, exe=c.exe, stroke=c.stroke) for c in clients]
    profiles[0] += f'\n[profile.controls.PGM2]\nboth = {{ label = "Hold", repeat = true, keys = ["{HELD_STROKE}"] }}\n'
    table = TABLE.format(profiles="".join(profiles))
    with open(os.path.join(top, "table.toml"), "w") as f:
        f.write(table)
    built = subprocess.run([orbctl, "table", "build", os.path.join(top, "table.toml"), "-o",
                            os.path.join(work, "ORB.DAT")], capture_output=True, text=True, cwd=top)
    if built.returncode != 0:
        fail("orbctl table build: " + built.stderr)

    system_bus = os.path.join(top, "system_bus_socket")
    with open(os.path.join(top, "system.conf"), "w") as f:
        f.write(SYSTEM_BUS_CONFIG.format(path=system_bus))

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
        "XDG_CONFIG_HOME": config_home,
        "XDG_DATA_HOME": os.path.join(top, "data"),
        "XDG_CACHE_HOME": os.path.join(top, "cache"),
        "GSETTINGS_BACKEND": "keyfile",
        "XDG_SESSION_TYPE": "wayland",
        "XDG_CURRENT_DESKTOP": "GNOME",
        "LC_ALL": "C.UTF-8",
    }

    def bus(kind, config_args, log_name):
        with open(os.path.join(top, log_name), "w") as log:
            daemon = subprocess.Popen(as_user + ["dbus-daemon", "--nofork", "--print-address"] + config_args,
                                      env=base_env, stdout=subprocess.PIPE, stderr=log, text=True,
                                      start_new_session=True)
        processes.append(daemon)
        address = daemon.stdout.readline().strip()
        if not address:
            skip(f"a private {kind} bus does not start")
        return address

    system_address = bus("system", ["--config-file=" + os.path.join(top, "system.conf")], "system-bus.log")
    session_address = bus("session", ["--session", "--address=unix:path=" + os.path.join(runtime, "bus")],
                          "session-bus.log")
    base_env.update(DBUS_SYSTEM_BUS_ADDRESS=system_address, DBUS_SESSION_BUS_ADDRESS=session_address)
    # Our extension's focus reports, with the time each was on the bus.
    reports = BusWatch(as_user, base_env, "type='signal',interface='jp.tarn.OrbFocus',member='FocusChanged'",
                       os.path.join(top, "focus.monitor"))
    processes.append(reports.process)
    if not reports.ready():
        # Only the figures need it: the session is still tested.
        print("dbus-monitor does not watch the session bus: no figures of the bus's times")
        reports.stop()

    simulator = subprocess.Popen(as_user + [orbctl, "hid", "simulate", "--socket", os.path.join(top, "c.sock")],
                                 stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, env=base_env, cwd=top)
    processes.append(simulator)
    if "listening" not in simulator.stdout.readline():
        fail("the simulated controller did not start")

    shell_log = os.path.join(top, "shell.log")
    with open(shell_log, "w") as log:
        shell = subprocess.Popen(as_user + ["gnome-shell", "--headless", "--wayland", "--virtual-monitor", "1280x800"],
                                 env=base_env, cwd=top, stdout=log, stderr=subprocess.STDOUT, start_new_session=True)
    processes.append(shell)

    def gdbus(*words, timeout=WAIT):
        done = subprocess.run(as_user + ["gdbus", "call", "--session"] + list(words), env=base_env,
                              capture_output=True, text=True, timeout=timeout)
        return done.stdout.strip() if done.returncode == 0 else None

    def shell_answers():
        return gdbus("--dest", "org.gnome.Shell", "--object-path", "/jp/tarn/OrbTestRaise",
                     "--method", "jp.tarn.OrbTestRaise.Windows", timeout=5)

    def wayland_display():
        names = [n for n in os.listdir(runtime) if re.fullmatch(r"wayland-\d+", n)]
        return names[0] if names else None

    if not wait_for("the shell", lambda: wayland_display() and shell_answers(), timeout=60):
        if shell.poll() is not None:
            skip("gnome-shell cannot run here: " + read(shell_log)[-1500:])
        fail("gnome-shell did not answer on the session bus:\n" + read(shell_log)[-3000:])
    session_env = dict(base_env, WAYLAND_DISPLAY=wayland_display())

    # The shell starts in the Overview, which takes the keyboard: leave it.
    gdbus("--dest", "org.gnome.Shell", "--object-path", "/org/gnome/Shell", "--method",
          "org.freedesktop.DBus.Properties.Set", "org.gnome.Shell", "OverviewActive", "<false>")

    def diagnostics():
        return (f"\n--- ORB.LOG\n{read(os.path.join(work, 'ORB.LOG'))}\n--- orb output\n"
                f"{read(os.path.join(top, 'orb.out'))}\n--- shell.log (end)\n{read(shell_log)[-3000:]}")

    def orb_log():
        return read(os.path.join(work, "ORB.LOG"))

    # orb as the session starts it: the session's environment, in its own folder.
    with open(os.path.join(top, "orb.out"), "w") as out:
        orb_process = subprocess.Popen(as_user + [orb, "/m"], env=dict(session_env, ORB_HID="sim:" +
                                       os.path.join(top, "c.sock")), cwd=work, stdout=out, stderr=subprocess.STDOUT)
    processes.append(orb_process)
    # A Qt program's start, with the shell still busy starting, on a busy machine.
    if not wait_for("orb's start", lambda: "Foreground: " in orb_log() and "SelectKeySink:" in orb_log(),
                    timeout=3 * WAIT):
        fail("orb did not start in the GNOME session" + diagnostics())
    text = orb_log()
    if "Foreground: GNOME" not in text:
        fail("orb did not choose the GNOME tracker" + diagnostics())
    if "SelectKeySink: key strokes go to GNOME remote desktop" not in text:
        fail("orb did not choose mutter's remote desktop" + diagnostics())
    if "does not answer" in text:
        fail("orb found the shell extension silent" + diagnostics())
    if not wait_for("the controller", lambda: "Controller connected!" in orb_log()):
        fail("orb did not connect the simulated controller" + diagnostics())

    def raise_window(client):
        return gdbus("--dest", "org.gnome.Shell", "--object-path", "/jp/tarn/OrbTestRaise", "--method",
                     "jp.tarn.OrbTestRaise.Raise", str(client.pid)) == "(true,)"

    # XWayland starts when the shell does, or on demand: its display, from the shell's words.
    x_display = wait_for("XWayland", lambda: (re.findall(r"X11 display (:\d+)", read(shell_log)) or [None])[-1])
    for client in clients:
        program = wevtwo if client.name == "wevtwo" else client.name
        extra = ["-event", "keyboard"] if client.name == "xev" else []
        env = session_env
        if client.name == "xev":
            # Mutter's XWayland admits the clients of the cookie it leaves in the runtime folder.
            cookies = [n for n in os.listdir(runtime) if n.startswith(".mutter-Xwaylandauth.")]
            if not x_display or not cookies:
                fail("the shell started no XWayland" + diagnostics())
            env = dict(session_env, DISPLAY=x_display, XAUTHORITY=os.path.join(runtime, cookies[0]))
        with open(client.out, "w") as out:
            process = subprocess.Popen(as_user + ["stdbuf", "-oL", program] + extra, env=env, cwd=top, stdout=out,
                                       stderr=subprocess.STDOUT)
        processes.append(process)
        client.pid = process.pid

        def mapped(pid=client.pid):
            listed = shell_answers()
            return listed is not None and f'\\"pid\\":{pid},' in listed.replace('"pid":', '\\"pid\\":')

        if not wait_for(client.name + "'s window", mapped):
            fail(f"{client.name} has no window in the shell: {read(client.out)} {shell_answers()}" + diagnostics())
        # Each in front once before the next starts, so that no window shown late takes the
        # front from a turn below.
        if not wait_for(client.name + " in front", lambda: raise_window(client) and
                        f"Application is {client.exe}" in orb_log(), timeout=WAIT):
            fail(f"{client.name} did not come to the front" + diagnostics())

    def press_pgm1():
        simulator.stdin.write(f"button {PGM1}\nrelease\n")
        simulator.stdin.flush()

    def names_window(message, pid):
        try:
            report = json.loads(message.strings[0])
            return report.get("window", 0) != 0 and report.get("pid") == pid
        except (IndexError, ValueError, AttributeError):
            return False

    order = [clients[0], clients[2], clients[1], clients[0]]
    received = {c.name: [] for c in clients}
    latencies = []
    log_watch = FileWatch(os.path.join(work, "ORB.LOG"))
    for turn, client in enumerate(order):
        chosen_before = orb_log().count(f"Profile : {client.app}")
        since = time.time()
        if not raise_window(client):
            fail(f"turn {turn}: the shell did not raise {client.name}")
        chosen = log_watch.wait_until(lambda text: text.count(f"Profile : {client.app}") > chosen_before, WAIT)
        if chosen is None:
            fail(f"turn {turn}: {client.name} in front, but its profile was not chosen" + diagnostics())
        # The first report of this window this turn is the one orb chose the profile on.
        report = reports.first_after(since, lambda m: names_window(m, client.pid))
        latencies.append(None if report is None else (chosen - report.when) * 1000)
        received[client.name] += play_turn(turn, client, clients, orb_log, press_pgm1, diagnostics)
    log_watch.close()
    # Figures only: a loaded machine makes them slow, which is no fault of the session's.
    print(focus_figures(latencies, "the extension's signal on the bus"))
    time.sleep(1.0)  # the last stroke's timers run out
    print(idle_figure(orb_process.pid))

    # orb's own window, a native Wayland one: without a tray host a second start shows it;
    # in front, orb knows it as its own by its pid.
    selves = orb_log().count("CheckForegroundWindow: m_blSelf = 1")
    second = subprocess.run(as_user + [orb], env=session_env, cwd=work, capture_output=True, text=True,
                            timeout=3 * WAIT)
    own = Client("orb", "", "", "", [], "", None)
    own.pid = orb_process.pid
    if not wait_for("orb's window in front", lambda: raise_window(own) and
                    orb_log().count("CheckForegroundWindow: m_blSelf = 1") > selves):
        fail(f"orb's own window did not come to the front as orb's (second start: {second.returncode} "
             f"{second.stdout}{second.stderr})" + diagnostics())
    print("orb's own window in front: known as orb's own")

    doctor = subprocess.run(as_user + [orbctl, "doctor"], env=dict(session_env, ORB_HID="sim:" +
                            os.path.join(top, "c.sock")), capture_output=True, text=True, cwd=work, timeout=WAIT)
    for expected in (r"ok    key strokes: GNOME remote desktop\n", r"ok    application in front: GNOME "):
        if not re.search(expected, doctor.stdout):
            fail(f"orbctl doctor (status {doctor.returncode}) does not say \"{expected}\":\n{doctor.stdout}{doctor.stderr}")
    print("orbctl doctor in the session:\n" + doctor.stdout)

    # Our extension switched off: doctor names it and how to switch it on, and fails.
    uuid = ours[0]["uuid"]

    def extension_answers():
        return gdbus("--dest", "org.gnome.Shell", "--object-path", "/jp/tarn/OrbFocus", "--method",
                     "jp.tarn.OrbFocus.GetFocus", timeout=5) is not None

    def gnome_extensions(verb):
        done = subprocess.run(as_user + ["gnome-extensions", verb, uuid], env=base_env, capture_output=True,
                              text=True, timeout=WAIT)
        if done.returncode != 0:
            fail(f"gnome-extensions {verb} {uuid}: {done.stdout}{done.stderr}")

    gnome_extensions("disable")
    if not wait_for("the extension's end", lambda: not extension_answers()):
        fail("the extension still answers after gnome-extensions disable")
    doctor = subprocess.run(as_user + [orbctl, "doctor"], env=dict(session_env, ORB_HID="sim:" +
                            os.path.join(top, "c.sock")), capture_output=True, text=True, cwd=work, timeout=WAIT)
    if doctor.returncode != 1 or f"gnome-extensions enable {uuid}`" not in doctor.stdout:
        fail(f"orbctl doctor (status {doctor.returncode}) does not say how to enable {uuid}:\n{doctor.stdout}")
    print("orbctl doctor without the extension:\n" + doctor.stdout)
    # On again: orb, which kept listening, follows the focus again.
    gnome_extensions("enable")
    if not wait_for("the extension's start", extension_answers):
        fail("the extension does not answer after gnome-extensions enable")
    chosen_before = orb_log().count(f"Profile : {clients[2].app}")
    if not raise_window(clients[2]) or not wait_for(
            "the profile", lambda: orb_log().count(f"Profile : {clients[2].app}") > chosen_before):
        fail("orb did not follow the focus once the extension was enabled again" + diagnostics())

    for client in clients:
        if not balanced(client.keys()):
            fail(f"{client.name} was left with a key down: {client.keys()}")
    print("every program received its own keys and no other's:", received)

    # Killed while a repeating stroke holds its keys: orb cannot let them go, mutter does as
    # our bus connection goes.
    wev = clients[0]
    chosen_before = orb_log().count(f"Profile : {wev.app}")
    if not raise_window(wev) or not wait_for("the profile",
                                             lambda: orb_log().count(f"Profile : {wev.app}") > chosen_before):
        fail("wev did not come to the front for the end" + diagnostics())
    before = len(wev.keys())
    simulator.stdin.write(f"button {PGM2}\nrelease\n")
    simulator.stdin.flush()

    def holding():
        got = wev.keys()[before:]
        return len(got) >= 12 and got[-1][0] == "press"

    if not wait_for("keys held", holding):
        fail(f"the repeating stroke did not reach wev: {wev.keys()[before:]}" + diagnostics())
    orb_process.send_signal(signal.SIGKILL)
    killed = time.monotonic()
    # Let go by mutter with Shift already up, a letter's release names its small letter.
    def released():
        return balanced([(state, sym.lower() if len(sym) == 1 else sym) for state, sym in wev.keys()[before:]])

    if not wait_for("the release", released, timeout=5):
        fail(f"keys stayed down after orb was killed: {wev.keys()[before:][-8:]}")
    print(f"keys up {int((time.monotonic() - killed) * 1000)} ms after SIGKILL")
    return 0


if __name__ == "__main__":
    sys.exit(main())
