#!/usr/bin/python3
"""The settings window by keyboard and screen reader, in the window's language. It opens
with the focus on the application list. The five programmable buttons are heard once, by
their names in the window's language, and the picture's own controls are no keyboard
stops. Alt, Ctrl and Shift are check boxes and Enter, Tab and Esc radio buttons, each
telling its state. Tab then walks every control in the order of the layout: the panel
from the application list down (the radio group one stop), the speeds, OK, cancel,
Apply, the strip's buttons, and round to the application list again."""

import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from orbui import harness  # noqa: E402
from orbui.harness import check  # noqa: E402
from orbui.texts import TEXTS  # noqa: E402
from orbui.x11 import wait_until  # noqa: E402


def focused(app):
    app.forget()
    return app.find(states=("focused",))


def same(node, other):
    if node is None or other is None:
        return False
    return node == other or (node.role, node.name, node.extents()) == (other.role, other.name, other.extents())


def describe(node):
    return f"[{node.role}] {node.name!r}" if node is not None else "nothing"


# A name of a programmable button, in either language and either spelling: the strip's
# five must be the only ones heard.
PROGRAM_BUTTON = re.compile(r"^(Program+able button|プログラマブルキー) ?[1-5]")


def check_the_programmable_buttons(window, texts):
    heard = window.find_all(predicate=lambda node: PROGRAM_BUTTON.match(node.name))
    check(len(heard) == 5, f"the programmable buttons heard: {[describe(node) for node in heard]}")
    for number, node in enumerate(heard, start=1):
        check(node.name.startswith(texts["program_button"].format(number)), f"button {number} is heard as "
              f"{node.name!r}")
        check(node.role == "push button" and node.has_state("focusable"),
              f"button {number} is no button to choose by keyboard: {describe(node)} {node.states()}")
    return heard


def choose_first_row(ui, window, texts):
    """Clicks the key list's first row until the combination takes it (a click that comes
    while the list is still being filled goes nowhere)."""
    keys = window.wait_for(role="list", name=texts["keys"])
    for _ in range(3):
        keys.items()[0].click(ui.display)
        alt = wait_until(lambda: window.find(role="check box", name=texts["modifiers"][0], states=("enabled",)), 5.0)
        if alt:
            return
    check(False, f"a click on the first row never selected it:\n{window.dump()}")


def check_roles_and_states(ui, window, texts, buttons):
    """Alt/Ctrl/Shift and Enter/Tab/Esc with their roles and states; Esc left on."""
    buttons[0].press()
    label = window.wait_for(role="text", name=texts["label"], states=("enabled",))
    choose_first_row(ui, window, texts)
    modifiers = [window.wait_for(role="check box", name=name, states=("enabled",)) for name in texts["modifiers"]]
    fixed = [window.wait_for(role="radio button", name=name, states=("enabled",)) for name in texts["fixed_keys"]]
    ctrl = modifiers[1]
    was_on = ctrl.checked
    ctrl.press()
    ctrl.wait_until(lambda node: node.checked != was_on, "Ctrl's state follows its press")
    ctrl.press()
    ctrl.wait_until(lambda node: node.checked == was_on, "Ctrl back as it was")
    fixed[1].press()
    fixed[1].wait_until(lambda node: node.checked, "Tab on")
    check(not fixed[0].checked and not fixed[2].checked, "Enter or Esc still on beside Tab")
    fixed[2].press()
    fixed[2].wait_until(lambda node: node.checked, "Esc on")
    check(not fixed[1].checked, "Tab still on beside Esc")
    label.set_text("Tab")  # something to apply: Apply takes the focus too
    return modifiers, fixed


def scenario(ui):
    orb = ui.start_orb(show_stay=0)
    texts = TEXTS[orb.language]
    window, x_window = ui.open_settings_window(orb, by="icon")
    app = ui.application(orb)
    application_list = window.wait_for(role="combo box", name=texts["application"])
    application_list.wait_until(lambda node: node.focused, "the window opens on the application list")

    buttons = check_the_programmable_buttons(window, texts)
    # The window as the user first edits in it (README's picture): button 1 and its first
    # stroke chosen, every label of the strip in view.
    buttons[0].press()
    window.wait_for(role="text", name=texts["label"], states=("enabled",))
    choose_first_row(ui, window, texts)
    ui.screenshot(x_window, f"settings-window-{orb.language}.png")
    modifiers, fixed = check_roles_and_states(ui, window, texts, buttons)

    expected = [application_list,
                window.find(role="text", name=texts["label"]),
                window.find(role="list", name=texts["keys"]),
                # Enter, Tab and Esc are one stop, as a radio group is (the arrows move in it).
                *modifiers, fixed[0],
                window.find(role="push button", name=texts["pause"]),
                window.find(role="push button", name=texts["clear"]),
                window.find(role="slider", name=texts["jog"])]
    shuttle = window.find(role="slider", name=texts["shuttle"], states=("showing",))
    if shuttle is not None:
        expected.append(shuttle)
    expected += [window.find(role="push button", name=name) for name in ("OK", texts["cancel"], texts["apply"])]
    expected += buttons + [application_list]
    check(None not in expected, f"a control is missing from the window:\n{window.dump()}")

    # Back to the list from the label box, as a keyboard user goes back.
    expected[1].focus()
    ui.display.press_key("Tab", modifiers=("Shift_L",))
    walked = []
    previous = None
    for step, wanted in enumerate(expected):
        def arrived():
            for node in (wanted, previous):
                if node is not None:
                    node.forget()
            return wanted.focused and (previous is None or same(previous, wanted) or not previous.focused)
        # The focus reaches the tree a moment after the key.
        arrived_in_time = wait_until(arrived, 3.0)
        walked.append(describe(wanted) if arrived_in_time else f"not {describe(wanted)}")
        check(arrived_in_time, f"Tab {step}: the focus is on {describe(focused(app))}, not {describe(wanted)}; "
                               f"walked {walked}")
        previous = wanted
        ui.display.press_key("Tab")
    print("walked: " + ", ".join(walked), flush=True)

    ui.display.press_key("Escape")  # cancel: nothing of the above is kept
    window.wait_until(lambda node: not node.showing, "the window hidden")
    status = orb.terminate()
    check(status == 0, f"orb ended on SIGTERM with {status}:\n{orb.stderr()}")


if __name__ == "__main__":
    harness.run(scenario)
