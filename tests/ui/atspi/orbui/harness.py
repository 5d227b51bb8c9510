"""Running one scenario as a test: its command line, its private bus session, the
programs it starts, and what it prints when something went wrong (the accessible tree,
orb's log and error output). Exit status 0 passed, 1 failed, 77 skipped (no display).
A scenario that runs past its deadline (--deadline, below ctest's timeout) fails with
that report too, rather than being killed without one."""

import argparse
import os
import shutil
import signal
import sys
import time
import traceback

from . import bus, x11
from .failure import MissingTool, ScenarioFailure
from .program import Orb
from .screenshot import save_window
from .texts import CAPTION, TEXTS
from .x11 import wait_until


class Scenario:
    """What a scenario function is handed: the display, the accessibility desktop, its
    options, and orb started and worked as a user would."""

    def __init__(self, options):
        # Imported here: without the AT-SPI bindings this fails, and must fail as a report.
        from .tree import Desktop
        self.options = options
        self.display = x11.Display()
        self.desktop = Desktop()
        self._programs = []

    # --- programs ---------------------------------------------------------------------

    def start_orb(self, language=None, **kwargs):
        """orb in a private world (program.Orb), ended and removed when the scenario is."""
        if self.options.scale != 1:
            kwargs["env"] = {"QT_SCALE_FACTOR": str(self.options.scale), **(kwargs.get("env") or {})}
        orb = Orb(self.options.orb, language or self.options.language, **kwargs)
        self._programs.append(orb)
        return orb

    def application(self, orb):
        return self.desktop.application(orb.pid)

    # --- the tray icon ----------------------------------------------------------------

    def tray_icon(self, orb, timeout=20.0):
        """(window, x, y, width, height) of orb's icon in the tray host."""
        if not wait_until(self.display.tray_host_present, timeout):
            raise ScenarioFailure(f"no tray host owned the notification area within {timeout:g} s "
                                  "(scripts/with-x11 starts tint2)")
        icon = wait_until(lambda: self.display.tray_icon(orb.pid), timeout)
        if icon is None:
            raise ScenarioFailure(f"orb's icon never docked in the tray within {timeout:g} s:\n{orb.log()}")
        return icon

    def click_tray_icon(self, orb, button=1, count=1):
        _, x, y, width, height = self.tray_icon(orb)
        self.display.click(x + width // 2, y + height // 2, button, count)

    def choose_from_tray_menu(self, orb, label, timeout=20.0):
        """Right-clicks the tray icon and chooses the menu's entry `label` ("&Show
        Window...") by its mnemonic key, as a keyboard user does: Qt leaves popups out
        of an application's accessible children, so the menu is found as an X window.
        The menu must open where the icon is: a menu elsewhere is not the icon's."""
        _, x, y, width, height = self.tray_icon(orb)
        self.choose_from_menu(orb, label, lambda: self.display.click(x + width // 2, y + height // 2, 3),
                              near=(x + width // 2, y + height // 2), timeout=timeout)

    def choose_from_menu(self, orb, label, open_menu, near=None, timeout=20.0):
        """Opens a menu by `open_menu()` and chooses `label` by its mnemonic; with `near`,
        the menu must stand at that point (the cursor it opened at), give or take the
        room it needs to stay on the screen and off the panel."""
        mnemonic = label.replace("&&", "").partition("&")[2][:1]
        if not mnemonic:
            raise ScenarioFailure(f"the menu entry {label!r} has no mnemonic to choose it by")
        before = self.display.viewable_windows(orb.pid)
        # The menu is the window that comes: Qt gives it no window type of a menu here.
        # A popup that opens while the window manager still moves the focus (a window just
        # hidden or shown) closes at once, so a second click is allowed, as a user gives one.
        opened = None
        for _ in range(2):
            open_menu()
            opened = wait_until(lambda: self.display.viewable_windows(orb.pid) - before, timeout / 4)
            if opened:
                break
        if not opened:
            raise ScenarioFailure(f"no menu opened within {timeout:g} s")
        if near is not None:
            margin = 40  # a menu moves to stay off the panel and on the screen
            places = [self.display.geometry(window) for window in opened]
            if not any(area and area[0] - margin <= near[0] <= area[0] + area[2] + margin
                       and area[1] - margin <= near[1] <= area[1] + area[3] + margin for area in places):
                raise ScenarioFailure(f"the menu opened at {places}, away from the click at {near}")
        self.display.press_key(mnemonic.lower())
        if wait_until(lambda: not opened & self.display.viewable_windows(orb.pid), timeout) is None:
            raise ScenarioFailure(f"the menu stayed open after its key {mnemonic!r}")

    # --- windows ----------------------------------------------------------------------

    def open_settings_window(self, orb, by="icon"):
        """Opens the settings window as a user does, by a double-click on the tray icon
        (by="icon") or the tray menu's "Show Window..." (by="menu"), and waits until it
        is showing and active; its accessible object and its X window."""
        app = self.application(orb)
        if by == "icon":
            self.click_tray_icon(orb, count=2)
        elif by == "menu":
            self.choose_from_tray_menu(orb, TEXTS[orb.language]["show_window"])
        else:
            raise ValueError(f"open the window by 'icon' or 'menu', not {by!r}")
        # The resident notice has the same caption; the window is the other one.
        notice = TEXTS[orb.language]["notice"]
        window = app.wait_for(role="dialog", name=CAPTION,
                              predicate=lambda node: node.find(role="label", name=notice) is None)
        x_window = self.x_window(orb, CAPTION)
        window.wait_until(lambda node: node.has_state("active"), "the settings window is active")
        return window, x_window

    def x_window(self, orb, title, timeout=20.0):
        """The X window of orb's top level with the title, once it is viewable."""
        found = wait_until(lambda: self.display.client_windows(orb.pid, title), timeout)
        if not found:
            shown = {window: self.display.window_title(window) for window in self.display.client_windows(orb.pid)}
            raise ScenarioFailure(f"no viewable window {title!r} of orb within {timeout:g} s; "
                                  f"its viewable windows: {shown}")
        if len(found) != 1:
            raise ScenarioFailure(f"{len(found)} windows titled {title!r}, expected one")
        return found[0]

    def screenshot(self, window, name):
        """The window with its frame, as `name` in the screenshot folder; the path."""
        path = os.path.join(self.options.screenshots, name)
        save_window(self.display.frame_of(window), path)
        print(f"screenshot: {path}", flush=True)
        return path

    # --- the end ----------------------------------------------------------------------

    def report_failure(self):
        """What a person needs to see why: each orb's accessible tree, log and error
        output, and a picture of the whole screen."""
        for orb in self._programs:
            print(f"--- orb (pid {orb.pid}, {'running' if orb.running() else 'ended'}) ORB.LOG:\n{orb.log()}"
                  f"--- its standard error:\n{orb.stderr()}", flush=True)
            if orb.running():
                try:
                    print(f"--- its accessible tree:\n{self.desktop.application(orb.pid, timeout=2.0).dump()}")
                except ScenarioFailure as failure:
                    print(f"--- no accessible tree: {failure}")
        script = os.path.splitext(os.path.basename(sys.argv[0]))[0]
        try:
            path = save_window(self.display.root, os.path.join(
                self.options.screenshots, f"failed-{script}-{self.options.language}.png"), settle_timeout=0)
            print(f"--- the screen: {path}", flush=True)
        except ScenarioFailure as failure:
            print(f"--- no picture of the screen: {failure}", flush=True)

    def close(self):
        for orb in self._programs:
            orb.close()
        self.display.close()


def check(condition, message):
    """Fails the scenario with `message` unless `condition` holds."""
    if not condition:
        raise ScenarioFailure(message)


def _options(argv):
    parser = argparse.ArgumentParser(description="Drives the real orb through its accessibility tree.")
    parser.add_argument("--orb", required=True, help="the orb program")
    parser.add_argument("--orbctl", help="the orbctl program, for scenarios that simulate the controller")
    parser.add_argument("--key-client", help="the X key client, for scenarios that check the keys orb sends")
    parser.add_argument("--picture-tool", help="the picture render tool, for scenarios that check the picture's pixels")
    parser.add_argument("--language", choices=("en", "ja"), default="en")
    parser.add_argument("--scale", type=int, default=1, help="the screen scale orb runs at (QT_SCALE_FACTOR)")
    parser.add_argument("--screenshots", default=os.path.join(os.getcwd(), "screenshots"),
                        help="where screenshots go")
    parser.add_argument("--deadline", type=float, default=100.0, help="seconds the scenario may take")
    options = parser.parse_args(argv)
    # orb runs in a folder of its own, so relative paths would lose their meaning there.
    for name in ("orb", "orbctl", "key_client", "picture_tool", "screenshots"):
        if getattr(options, name):
            setattr(options, name, os.path.abspath(getattr(options, name)))
    return options


def _past_deadline(_signal, _frame):
    raise ScenarioFailure("the scenario ran past its deadline")


def run(scenario):
    """Runs scenario(Scenario) as a test and exits with its status."""
    started = time.monotonic()
    options = _options(sys.argv[1:])
    context = None
    try:
        bus.enter_private_session()
        if shutil.which("tint2") is None:
            raise MissingTool("tint2, the tray host, is missing", "tint2")
        signal.signal(signal.SIGALRM, _past_deadline)
        signal.alarm(max(1, int(options.deadline)))
        bus.start_accessibility_bus()
        context = Scenario(options)
        scenario(context)
    except ScenarioFailure as failure:
        print(f"FAIL: {failure}", flush=True)
        if context is not None:
            context.report_failure()
        status = 1
    except Exception:  # a fault in the scenario itself is a failure too, with its trace
        print(f"FAIL: the scenario broke:\n{traceback.format_exc()}", flush=True)
        if context is not None:
            context.report_failure()
        status = 1
    else:
        print(f"PASS ({time.monotonic() - started:.1f} s)", flush=True)
        status = 0
    finally:
        signal.alarm(0)
        if context is not None:
            context.close()
    sys.exit(status)
