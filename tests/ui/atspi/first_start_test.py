#!/usr/bin/python3
"""orb's first start as a user meets it: the resident notice, answered; the settings
window opened from the tray icon, pictured, and closed again without ending the program;
then the end by SIGTERM. With --language en the icon is double-clicked and Esc closes the
window; with ja the tray menu opens it and the close box closes it."""

import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from orbui import harness  # noqa: E402
from orbui.harness import check  # noqa: E402
from orbui.pixels import differences, parse_ppm, window_pixels  # noqa: E402
from orbui.texts import CAPTION, TEXTS  # noqa: E402


def answer_the_notice(ui, orb):
    texts = TEXTS[orb.language]
    app = ui.application(orb)
    notice = app.wait_for(role="dialog", predicate=lambda node: node.find(role="label", name=texts["notice"]))
    check(notice.name == CAPTION, f"the notice's caption is {notice.name!r}")
    scale = "" if ui.options.scale == 1 else f"-{ui.options.scale * 100}"
    ui.screenshot(ui.x_window(orb, CAPTION), f"resident-notice-{orb.language}{scale}.png")

    # Its box writes the setting at each click, before OK.
    hide = notice.find(role="check box", name=texts["hide_notice"])
    check(hide is not None, f"no check box {texts['hide_notice']!r} in:\n{notice.dump()}")
    check(hide.enabled and not hide.checked, f"the box starts {hide.states()}")
    hide.press()
    hide.wait_until(lambda node: node.checked, "ticked")
    check(orb.settings().get("ShowStay") == "0", f"ticked, the settings hold {orb.settings()}")
    hide.press()
    hide.wait_until(lambda node: not node.checked, "cleared")
    check(orb.settings().get("ShowStay") == "1", f"cleared, the settings hold {orb.settings()}")

    ok = notice.find(role="push button", name=texts["ok"])
    check(ok is not None and ok.enabled, f"no usable {texts['ok']!r} button in:\n{notice.dump()}")
    ok.press()
    app.wait_until(lambda node: node.find(role="label", name=texts["notice"], states=("showing",)) is None,
                   "the notice closed")
    check(orb.running(), "orb ended with the notice")


def check_pictures_drawn_for_the_scale(ui, window, x_window):
    """At a scale of 2 the controller picture and its buttons are, pixel for pixel, the
    picture rendered at twice the size (drawn offscreen by the picture tool), not a 1x
    picture enlarged and smoothed."""
    scale = ui.options.scale
    check(ui.options.picture_tool, "--picture-tool is needed at a scale above 1")
    shown = window_pixels(x_window)
    origin_x, origin_y, logical_width, _ = window.extents()
    check(shown.width == logical_width * scale,
          f"the window is {shown.width} pixels wide at scale {scale}, {logical_width} logical")
    expected = []
    for background in ("#ff00ff", "#00ff00"):
        path = os.path.join(tempfile.mkdtemp(prefix="orb-picture-"), "picture.ppm")
        run = subprocess.run([ui.options.picture_tool, str(scale), background, path], capture_output=True,
                             text=True, check=False)
        check(run.returncode == 0, f"the picture tool failed: {run.stderr}")
        with open(path, "rb") as file:
            expected.append(parse_ppm(file.read()))
        shutil.rmtree(os.path.dirname(path))
    picture = window.find(role="image")
    check(picture is not None, f"no picture in:\n{window.dump()}")
    x, y, _, _ = picture.extents()
    compared, unlike = differences(shown, ((x - origin_x) * scale, (y - origin_y) * scale), *expected)
    print(f"the picture: {unlike} of {compared} pixels unlike the {scale}x rendering", flush=True)
    check(compared > expected[0].width * expected[0].height // 2, f"only {compared} pixels are the picture's own")
    check(unlike == 0, f"{unlike} of the picture's {compared} pixels are not those of a {scale}x rendering "
                       f"(see the screenshot)")


def open_and_close_the_window(ui, orb):
    check(not ui.display.client_windows(orb.pid, CAPTION), "the window is shown before anyone asked for it")
    window, x_window = ui.open_settings_window(orb, by="icon" if orb.language == "en" else "menu")
    print(f"--- the settings window's accessible tree:\n{window.dump()}", flush=True)
    scale = "" if ui.options.scale == 1 else f"-{ui.options.scale * 100}"
    ui.screenshot(x_window, f"main-window-{orb.language}{scale}.png")
    if ui.options.scale != 1:
        check_pictures_drawn_for_the_scale(ui, window, x_window)

    if orb.language == "en":
        ui.display.press_key("Escape")
    else:
        ui.display.request_close(x_window)
    window.wait_until(lambda node: not node.showing, "the window hidden again")
    check(not ui.display.client_windows(orb.pid, CAPTION), "the window's X window is still viewable")
    check(orb.running(), f"closing the window ended orb with {orb.process.returncode}")
    check(ui.application(orb).pid == orb.pid, "orb left the accessibility bus")
    ui.tray_icon(orb)  # still docked: the program stays resident


def scenario(ui):
    orb = ui.start_orb()  # no settings file: the notice is on by default
    answer_the_notice(ui, orb)
    open_and_close_the_window(ui, orb)
    status = orb.terminate()
    check(status == 0, f"orb ended on SIGTERM with {status}:\n{orb.stderr()}")
    check(orb.log().count("CMainDialog: destroyed") == 1, f"the log's end:\n{orb.log()[-2000:]}")


if __name__ == "__main__":
    harness.run(scenario)
