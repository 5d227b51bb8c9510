#!/usr/bin/python3
"""The tray icon never blocked and always the icon's: with the resident notice open at
start, the tray menu's "Show Window..." brings the notice forward and leaves the settings
window hidden; with the settings window shown, a right click on the icon opens the tray
menu at the icon (not the window's own menu); a minimized window comes back by a
double-click on the icon and by "Show Window..."; the window's own menu (a right click in
the window) flips "Stay when the system begins" as the tray menu does; with the About box
open, "Show Window..." brings the box forward and Exit closes it and ends the program."""

import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from orbui import harness  # noqa: E402
from orbui.harness import check  # noqa: E402
from orbui.texts import CAPTION, TEXTS  # noqa: E402
from orbui.x11 import wait_until  # noqa: E402


def window_shown(ui, orb):
    return bool(ui.display.client_windows(orb.pid, CAPTION))


def settled_geometry(ui, x_window):
    """The window's place once it stays put: openbox animates a window coming back from
    the taskbar, and a place read meanwhile is on the way."""
    last = None
    for _ in range(40):
        time.sleep(0.15)
        now = ui.display.geometry(x_window)
        if now == last:
            return now
        last = now
    raise harness.ScenarioFailure(f"the window never stayed put (last at {last})")


def the_notice_does_not_block_the_tray(ui, orb, texts):
    app = ui.application(orb)
    notice = app.wait_for(role="dialog", predicate=lambda node: node.find(role="label", name=texts["notice"]))
    ui.x_window(orb, CAPTION)  # mapped: the menu is the only window the right click brings
    ui.choose_from_tray_menu(orb, texts["show_window"])
    notice.wait_until(lambda node: node.has_state("active"), "the notice in front")
    check(len(ui.display.client_windows(orb.pid, CAPTION)) == 1,
          "the settings window came up beside the notice")
    notice.find(role="push button", name=texts["ok"]).press()
    app.wait_until(lambda node: node.find(role="label", name=texts["notice"], states=("showing",)) is None,
                   "the notice closed")


def the_icon_gives_the_tray_menu_over_the_window(ui, orb, texts):
    window, x_window = ui.open_settings_window(orb, by="icon")
    # Only the tray menu has "Show Window...": chosen by its key, it proves which menu came,
    # and the menu must stand at the icon.
    ui.choose_from_tray_menu(orb, texts["show_window"])
    window.wait_until(lambda node: node.has_state("active"), "the window active again")
    return window, x_window


def a_minimized_window_comes_back(ui, orb, texts, window, x_window):
    for how in ("icon", "menu"):
        ui.display.iconify(x_window)
        if not wait_until(lambda: not window_shown(ui, orb), 10.0):
            raise harness.ScenarioFailure("the window manager did not minimize the window")
        if how == "icon":
            ui.click_tray_icon(orb, count=2)
        else:
            ui.choose_from_tray_menu(orb, texts["show_window"])
        check(wait_until(lambda: window_shown(ui, orb), 10.0), f"a minimized window stays down after the {how}")
        window.wait_until(lambda node: node.has_state("active"), f"the window active after the {how}")


def the_window_menu_flips_stay(ui, orb, x_window):
    check(orb.settings().get("Startup") in (None, "1"), f"the settings start as {orb.settings()}")
    x, y, _, height = settled_geometry(ui, x_window)
    point = (x + 16, y + height - 16)  # the window's own corner below the picture: no control there
    ui.choose_from_menu(orb, "S&tay when the system begins", lambda: ui.display.click(*point, button=3), near=point)
    check(wait_until(lambda: orb.settings().get("Startup") == "0", 5.0), f"the settings hold {orb.settings()}")
    ui.choose_from_tray_menu(orb, "S&tay when the system begins")
    check(wait_until(lambda: orb.settings().get("Startup") == "1", 5.0), f"the settings hold {orb.settings()}")


def exit_reaches_past_the_about_box(ui, orb, texts):
    app = ui.application(orb)
    ui.display.press_key("Escape")  # the settings window hidden again
    check(wait_until(lambda: not window_shown(ui, orb), 10.0), "Esc left the window shown")
    time.sleep(0.5)  # the focus leaves the hidden window
    ui.choose_from_tray_menu(orb, texts["about"])
    about = app.wait_for(role="dialog", name=texts["about_caption"])
    # Once it has the focus: a menu opened while the focus moves closes at once.
    about.wait_until(lambda node: node.has_state("active"), "the About box active")
    ui.choose_from_tray_menu(orb, texts["show_window"])
    about.wait_until(lambda node: node.has_state("active"), "the About box in front")
    check(not window_shown(ui, orb), "Show Window with the About box open showed the settings window")
    ui.choose_from_tray_menu(orb, texts["exit"])
    check(wait_until(lambda: not orb.running(), 20.0), "Exit did not end orb while the About box was open")
    check(orb.process.returncode == 0, f"orb ended with {orb.process.returncode}:\n{orb.stderr()}")


def scenario(ui):
    orb = ui.start_orb()  # no settings file: the notice opens at start
    texts = TEXTS[orb.language]
    print("--- the notice open: the tray menu reaches it", flush=True)
    the_notice_does_not_block_the_tray(ui, orb, texts)
    print("--- the window shown: the icon gives the tray menu", flush=True)
    window, x_window = the_icon_gives_the_tray_menu_over_the_window(ui, orb, texts)
    print("--- the window minimized: the icon and the menu restore it", flush=True)
    a_minimized_window_comes_back(ui, orb, texts, window, x_window)
    print("--- the window's own menu", flush=True)
    the_window_menu_flips_stay(ui, orb, x_window)
    print("--- the About box open: Show Window and Exit reach it", flush=True)
    exit_reaches_past_the_about_box(ui, orb, texts)


if __name__ == "__main__":
    harness.run(scenario)
