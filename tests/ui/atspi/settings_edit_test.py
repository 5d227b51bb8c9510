#!/usr/bin/python3
"""A programmable button given new keys in the settings window, as a user does it: the
window opened from the tray icon, the application chosen, programmable button 3 clicked
on the picture's strip (a click on the corner of its square, outside its round shape,
chooses nothing), Ctrl and Shift set and Z typed into its key list, a pause set and the
jog slider moved, Apply. Then the data file holds the new stroke, pause and speed, and
button 3 of the simulated controller sends Ctrl+Shift+Z into the key client at once,
where it sent F5 before; an edit after that, cancelled, loses nothing that was applied."""

import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from orbui import harness  # noqa: E402
from orbui.failure import ScenarioFailure  # noqa: E402
from orbui.harness import check  # noqa: E402
from orbui.x11 import wait_until  # noqa: E402

# The simulated controller's button usage of PGM3 (device/control_code.cpp).
PGM3_USAGE = 2
VK_Z = 0x5A
KS_CTRL = 1 << 17
KS_SHIFT = 1 << 18
PAUSE_SHIFT = 19
RECORD_SIZE = 5008
FLAGS_AT = 596
ENTRIES_AT = 600
ENTRY_SIZE = 116
DECK_KEYS_AT = 4 + 36
FILE_KEYS_AT = 60 + 36

# The key client's profile, and a fallback for everything else (the window among them).
TABLE = """language = "en"

[[profile]]
app = "Anything Else"
exe = ""
version = "0.0.0.0"
deck = false
deckfile = false
jog = false
jogshuttle = true
jog_resolution = 1
shuttle_resolution = 1
hostmode = false
fallback = true
version_rule = 0

[profile.controls.PGM3]
both = { label = "Other", keys = ["F7"] }

[[profile]]
app = "Key Client"
exe = "X11_KEY_CLIENT"
version = "0.0.0.0"
deck = true
deckfile = true
jog = true
jogshuttle = true
jog_resolution = 1
shuttle_resolution = 1
hostmode = false
fallback = false
version_rule = 0

[profile.controls.PGM3]
both = { label = "Mark", keys = ["F5"] }
"""


class Helper:
    """A helper program with its output read line by line (the simulator, the client)."""

    def __init__(self, args, cwd, name):
        # Read through a file of its own: seeking the program's own stdout would move
        # where the program writes next.
        self._path = os.path.join(cwd, name + ".out")
        with open(self._path, "w", encoding="utf-8") as out:
            self.process = subprocess.Popen(args, cwd=cwd, stdin=subprocess.PIPE, stdout=out,
                                            stderr=subprocess.STDOUT, text=True)

    def lines(self):
        with open(self._path, encoding="utf-8", errors="replace") as out:
            return out.read().splitlines()

    def wait_for_line(self, start, what, timeout=20.0):
        line = wait_until(lambda: next((l for l in self.lines() if l.startswith(start)), None), timeout)
        if line is None:
            raise ScenarioFailure(f"{what} never printed {start!r}; it printed:\n" + "\n".join(self.lines()))
        return line

    def send(self, text):
        self.process.stdin.write(text + "\n")
        self.process.stdin.flush()

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()


def build_table(ui, folder):
    source = os.path.join(folder, "table.toml")
    with open(source, "w", encoding="utf-8") as file:
        file.write(TABLE)
    target = os.path.join(folder, "ORB.DAT")
    done = subprocess.run([ui.options.orbctl, "table", "build", source, "-o", target], capture_output=True, text=True)
    check(done.returncode == 0, f"orbctl table build failed: {done.stderr}")
    with open(target, "rb") as file:
        return file.read()


def pgm3_strokes(data_file, record):
    with open(data_file, "rb") as file:
        data = file.read()
    entry = record * RECORD_SIZE + ENTRIES_AT + 2 * ENTRY_SIZE
    deck = struct.unpack_from("<5I", data, entry + DECK_KEYS_AT)
    stored = struct.unpack_from("<5I", data, entry + FILE_KEYS_AT)
    return deck, stored


def jog_resolution(data_file, record):
    with open(data_file, "rb") as file:
        data = file.read()
    (flags,) = struct.unpack_from("<I", data, record * RECORD_SIZE + FLAGS_AT)
    return (flags >> 5) & 0xF


def label_of_pgm3(data_file, record):
    with open(data_file, "rb") as file:
        data = file.read()
    entry = record * RECORD_SIZE + ENTRIES_AT + 2 * ENTRY_SIZE
    return data[entry + 4:entry + 36].split(b"\0", 1)[0]


def pressed(client, since=0):
    keys = []
    for line in client.lines()[since:]:
        if line.startswith("press "):
            keys.append(line.split()[1])
    return keys


def press_pgm3(ui, client, simulator):
    """Button 3 of the controller with the key client in front; the keys it received."""
    ui.display.activate(client.window)
    if not wait_until(lambda: ui.display.focused_window() == client.window, 10.0):
        raise ScenarioFailure(f"the key client {client.window:#x} never got the focus "
                              f"(it is at {ui.display.focused_window():#x})")
    time.sleep(0.3)  # the window manager's focus change reaches orb's tracker
    before = len(client.lines())
    simulator.send(f"button {PGM3_USAGE}")
    keys = wait_until(lambda: pressed(client, before) or None, 10.0)
    time.sleep(0.3)  # every stroke of the command
    return pressed(client, before) if keys else []


def choose_application(ui, window, name):
    combo = window.wait_for(role="combo box", name="Application")
    combo.click(ui.display)  # opens its list
    item = window.wait_for(role="list item", name=name)
    item.click(ui.display)
    combo.wait_until(lambda node: node.name == name, f"{name!r} chosen")


def scenario(ui):
    check(ui.options.orbctl and ui.options.key_client, "needs --orbctl and --key-client")
    work = tempfile.TemporaryDirectory(prefix="orb-ui-edit-")
    folder = work.name
    table = build_table(ui, folder)
    socket = os.path.join(folder, "controller.sock")
    simulator = Helper([ui.options.orbctl, "hid", "simulate", "--socket", socket], folder, "simulator")
    client_binary = os.path.join(folder, "x11_key_client")
    shutil.copy(ui.options.key_client, client_binary)
    client = Helper([client_binary, "--window-id", "--net-wm-pid"], folder, "client")
    try:
        simulator.wait_for_line("listening", "the simulator")
        client.window = int(client.wait_for_line("window ", "the key client").split()[1])
        client.wait_for_line("ready", "the key client")

        orb = ui.start_orb(show_stay=0, files={"ORB.DAT": table},
                           env={"ORB_HID": "sim:" + socket, "ORB_KEYS": "xtest", "ORB_FOREGROUND": "x11"})
        orb.wait_for_log("Controller connected!")
        data_file = os.path.join(orb.work_dir, "ORB.DAT")

        before = press_pgm3(ui, client, simulator)
        check(before == ["F5"], f"before the edit button 3 sent {before}; the client printed {client.lines()}")

        window, x_window = ui.open_settings_window(orb, by="icon")
        # The window followed the key client in front; choose another application and
        # back, as a user does, with the mouse.
        choose_application(ui, window, "Anything Else")
        choose_application(ui, window, "Key Client")
        label = window.wait_for(role="text", name="Label", states=())
        check(not label.enabled, "the label box is editable before a button is chosen")

        # The strip's button 3 is round: the corner of its square takes no click.
        button = window.wait_for(predicate=lambda node: node.name.startswith("Programable button 3"))
        x, y, width, height = button.extents()
        ui.display.click(x + 1, y + 1)
        time.sleep(0.3)
        check(not label.enabled, "a click outside button 3's round shape chose it")
        ui.display.click(x + width // 2, y + height // 2)
        label.wait_until(lambda node: node.enabled, "button 3 chosen: its label editable")
        check(label.text == "Mark", f"button 3's label shows {label.text!r}")

        keys = window.wait_for(role="list", name="Key strokes")
        keys.select_item("F5", ui.display)
        ctrl = window.wait_for(role="check box", name="Ctrl", states=("enabled",))
        shift = window.find(role="check box", name="Shift")
        ctrl.press()
        ctrl.wait_until(lambda node: node.checked, "Ctrl on")
        shift.press()
        shift.wait_until(lambda node: node.checked, "Shift on")
        keys.items()[0].click(ui.display)  # the focus back in the list, on the row
        ui.display.press_key("z")
        keys.wait_until(lambda node: [item.name for item in node.items()][:1] == ["Ctrl+Shift+Z"],
                        "the row shows Ctrl+Shift+Z")
        # Half a second's pause after the stroke, from the time-interval dialog.
        window.find(role="push button", name="Pause...").press()
        interval = ui.application(orb).wait_for(role="dialog", name="Time interval setting")
        interval.wait_for(role="text").set_text("0.5")
        interval.find(role="push button", name="OK").press()
        keys.wait_until(lambda node: [item.name for item in node.items()][:1] == ["Ctrl+Shift+Z( 0.5 sec.)"],
                        "the row shows its pause")

        # The wheel as fast as it goes in this application.
        jog = window.wait_for(role="slider", name="JOG speed")
        jog.set_value(15)

        apply = window.find(role="push button", name="&Apply")
        check(apply is not None and apply.enabled, "Apply is not enabled after the edit")
        ui.screenshot(x_window, f"settings-edited-{orb.language}.png")
        apply.press()
        apply.wait_until(lambda node: not node.enabled, "Apply disabled again")

        deck, stored = pgm3_strokes(data_file, 1)
        wanted = VK_Z | KS_CTRL | KS_SHIFT | (5 << PAUSE_SHIFT)
        check(deck[0] == wanted and stored[0] == wanted, f"the data file holds {deck[0]:#x}/{stored[0]:#x}")
        check(jog_resolution(data_file, 1) == 0, f"the jog resolution saved is {jog_resolution(data_file, 1)}")

        # An edit after Apply, thrown away by Esc (cancel): the applied ones stay.
        label.set_text("Scratch")
        apply.wait_until(lambda node: node.enabled, "Apply enabled by the label edit")
        ui.display.press_key("Escape")
        window.wait_until(lambda node: not node.showing, "the window hidden")
        check(label_of_pgm3(data_file, 1) == b"Mark", f"the data file's label is {label_of_pgm3(data_file, 1)}")

        after = press_pgm3(ui, client, simulator)
        check(sorted(after) == sorted(["Control_L", "Shift_L", "Z"]) or after == ["Control_L", "Shift_L", "z"],
              f"after Apply button 3 sent {after}")
        check(pgm3_strokes(data_file, 1)[0][0] == wanted, "Cancel changed the data file")
        # Shown again: nothing chosen, and button 3 has its applied label, not the scratch.
        window, x_window = ui.open_settings_window(orb, by="icon")
        label = window.wait_for(role="text", name="Label", states=())
        check(not label.enabled, "a control is still chosen after cancel")
        button = window.wait_for(predicate=lambda node: node.name.startswith("Programable button 3"))
        button.click(ui.display)
        label.wait_until(lambda node: node.enabled, "button 3 chosen again")
        check(label.text == "Mark", f"after cancel button 3's label is {label.text!r}")

        status = orb.terminate()
        check(status == 0, f"orb ended on SIGTERM with {status}:\n{orb.stderr()}")
    finally:
        client.close()
        simulator.close()
        work.cleanup()


if __name__ == "__main__":
    harness.run(scenario)
