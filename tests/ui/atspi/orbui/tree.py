"""The accessibility tree of a running program, read and worked through AT-SPI as a
screen reader would: controls found by role and accessible name, pressed by their
actions, their text, value and states read and set.

Names are matched the way Qt exposes them: the mnemonic '&' of a label is not part of
the accessible name ("&Apply" is found as "Apply", "キー設定(&S)..." as "キー設定(S)..."),
so a caller may pass either form."""

import time

from .failure import MissingTool, ScenarioFailure

try:
    import gi
    gi.require_version("Atspi", "2.0")
    from gi.repository import Atspi, GLib
except (ImportError, ValueError) as _error:
    raise MissingTool(f"the AT-SPI bindings for Python cannot be loaded ({_error})", "python3-pyatspi") from _error

DEFAULT_TIMEOUT = 20.0
_POLL = 0.05
_DUMP_LIMIT = 2000  # nodes; a runaway tree must not drown the test's log

_STATES = {
    "enabled": Atspi.StateType.ENABLED,
    "sensitive": Atspi.StateType.SENSITIVE,
    "showing": Atspi.StateType.SHOWING,
    "visible": Atspi.StateType.VISIBLE,
    "focused": Atspi.StateType.FOCUSED,
    "focusable": Atspi.StateType.FOCUSABLE,
    "checked": Atspi.StateType.CHECKED,
    "pressed": Atspi.StateType.PRESSED,
    "selected": Atspi.StateType.SELECTED,
    "active": Atspi.StateType.ACTIVE,
    "modal": Atspi.StateType.MODAL,
    "editable": Atspi.StateType.EDITABLE,
    "expanded": Atspi.StateType.EXPANDED,
}


def strip_mnemonic(text):
    """The text without its mnemonic marks, as Qt names controls ('&&' is a literal '&')."""
    return text.replace("&&", "\0").replace("&", "").replace("\0", "&")


def pump():
    """Dispatches the AT-SPI events already received, so that cached trees follow them."""
    context = GLib.MainContext.default()
    while context.pending():
        context.iteration(False)


def _wait(find, timeout):
    deadline = time.monotonic() + timeout
    while True:
        pump()
        found = find()
        if found:
            return found
        if time.monotonic() >= deadline:
            return None
        time.sleep(_POLL)


class Node:
    """One accessible object. Every read asks the program again: nothing is kept from an
    earlier look but the object's identity."""

    def __init__(self, accessible):
        self._accessible = accessible

    def __eq__(self, other):
        return isinstance(other, Node) and self._accessible == other._accessible

    def __hash__(self):
        return hash(self._accessible)

    def _call(self, method, *args, default=None):
        # A control may go away between two looks (a dialog closing); that reads as absent.
        try:
            return method(*args)
        except GLib.Error:
            return default

    @property
    def role(self):
        return self._call(self._accessible.get_role_name, default="") or ""

    @property
    def name(self):
        return self._call(self._accessible.get_name, default="") or ""

    @property
    def description(self):
        return self._call(self._accessible.get_description, default="") or ""

    @property
    def pid(self):
        return self._call(self._accessible.get_process_id, default=0)

    @property
    def children(self):
        count = self._call(self._accessible.get_child_count, default=0) or 0
        found = []
        for index in range(count):
            child = self._call(self._accessible.get_child_at_index, index)
            if child is not None:
                found.append(Node(child))
        return found

    @property
    def parent(self):
        parent = self._call(self._accessible.get_parent)
        return Node(parent) if parent is not None else None

    def states(self):
        """The names of the states in _STATES that the object has."""
        state_set = self._call(self._accessible.get_state_set)
        if state_set is None:
            return set()
        return {name for name, state in _STATES.items() if state_set.contains(state)}

    def has_state(self, name):
        return name in self.states()

    @property
    def enabled(self):
        return {"enabled", "sensitive"} <= self.states()

    @property
    def showing(self):
        return self.has_state("showing")

    @property
    def checked(self):
        return self.has_state("checked")

    @property
    def focused(self):
        return self.has_state("focused")

    def forget(self):
        """Drops what libatspi cached of this object and all below it."""
        self._call(self._accessible.clear_cache)

    # --- finding ----------------------------------------------------------------------

    def labels(self):
        """The names of the objects that label this one (a label whose buddy it is): a
        combo box is named by its current entry, and found by its label instead."""
        relations = self._call(self._accessible.get_relation_set, default=[]) or []
        names = []
        for relation in relations:
            if relation.get_relation_type() == Atspi.RelationType.LABELLED_BY:
                names.extend(relation.get_target(index).get_name() or "" for index in range(relation.get_n_targets()))
        return names

    def matches(self, role=None, name=None, states=()):
        """True when the object has the role, the states, and the name as its own
        accessible name or as the name of a label of it."""
        if role is not None and self.role != role:
            return False
        if not all(self.has_state(state) for state in states):
            return False
        if name is None:
            return True
        wanted = {name, strip_mnemonic(name)}
        return self.name in wanted or bool(wanted & set(self.labels()))

    def find_all(self, role=None, name=None, states=(), predicate=None):
        """Every object below this one (itself not included) that has the role, the name
        and the states, and for which `predicate` holds; depth first, in tree order."""
        found = []
        pending = list(reversed(self.children))
        seen = 0
        while pending and seen < _DUMP_LIMIT:
            node = pending.pop()
            seen += 1
            if node.matches(role, name, states) and (predicate is None or predicate(node)):
                found.append(node)
            pending.extend(reversed(node.children))
        return found

    def find(self, role=None, name=None, states=(), predicate=None):
        found = self.find_all(role, name, states, predicate)
        return found[0] if found else None

    def wait_for(self, role=None, name=None, states=("showing",), predicate=None, timeout=DEFAULT_TIMEOUT):
        """The first object below this one with the role, name and states (showing unless
        told otherwise); fails with a dump of the tree when none comes in time."""
        def look():
            self.forget()
            return self.find(role, name, states, predicate)
        found = _wait(look, timeout)
        if found is None:
            wanted = ", ".join(f"{key}={value!r}" for key, value in
                               (("role", role), ("name", name), ("states", tuple(states))) if value)
            raise ScenarioFailure(f"no {wanted} within {timeout:g} s in:\n{self.dump()}")
        return found

    def wait_until(self, condition, what, timeout=DEFAULT_TIMEOUT):
        """Waits until condition(self) holds; fails naming `what`, with a dump."""
        def look():
            self.forget()
            return condition(self)
        if not _wait(look, timeout):
            raise ScenarioFailure(f"{what}: not so within {timeout:g} s; the object now:\n{self.dump()}")

    def dump(self, depth=0):
        """The tree below and with this object, one line each: role, name, states."""
        lines = []
        pending = [(self, depth)]
        while pending and len(lines) < _DUMP_LIMIT:
            node, level = pending.pop()
            states = ",".join(sorted(node.states()))
            extra = f" - {node.description!r}" if node.description else ""
            lines.append(f"{'  ' * level}[{node.role}] {node.name!r} ({states}){extra}")
            pending.extend((child, level + 1) for child in reversed(node.children))
        if pending:
            lines.append(f"... cut at {_DUMP_LIMIT} objects")
        return "\n".join(lines)

    # --- acting -----------------------------------------------------------------------

    def actions(self):
        action = self._call(self._accessible.get_action_iface)
        if action is None:
            return []
        count = self._call(action.get_n_actions, default=0) or 0
        return [self._call(action.get_action_name, index, default="") for index in range(count)]

    def do_action(self, *names):
        """Runs the first of the named actions that the object offers (names compared
        without case); fails when it offers none of them."""
        offered = self.actions()
        lowered = [name.lower() for name in offered]
        for name in names:
            if name.lower() in lowered:
                action = self._accessible.get_action_iface()
                if not self._call(action.do_action, lowered.index(name.lower()), default=False):
                    raise ScenarioFailure(f"action {name!r} of [{self.role}] {self.name!r} failed")
                return
        raise ScenarioFailure(f"[{self.role}] {self.name!r} offers none of {names}, only {offered}")

    def press(self):
        """A button's, check box's or menu item's click, as its accessible action."""
        self.do_action("Press", "Toggle", "Click", "Activate")

    def focus(self):
        """Gives the object the keyboard focus; fails when it does not have it after."""
        component = self._call(self._accessible.get_component_iface)
        if component is not None:
            # Qt answers false for an object that already has the focus; the state tells.
            self._call(component.grab_focus, default=False)
        self.wait_until(lambda node: node.focused, f"[{self.role}] {self.name!r} has the focus", timeout=5.0)

    def extents(self):
        """(x, y, width, height) on the screen."""
        component = self._call(self._accessible.get_component_iface)
        rect = self._call(component.get_extents, Atspi.CoordType.SCREEN) if component else None
        if rect is None:
            raise ScenarioFailure(f"[{self.role}] {self.name!r} has no place on the screen")
        return rect.x, rect.y, rect.width, rect.height

    def click(self, display, button=1, count=1):
        """A real click (XTest) at the middle of the object."""
        x, y, width, height = self.extents()
        display.click(x + width // 2, y + height // 2, button, count)

    @property
    def text(self):
        """The text of a text object (a label, an edit field), else its name."""
        text = self._call(self._accessible.get_text_iface)
        if text is None:
            return self.name
        count = self._call(text.get_character_count, default=0) or 0
        return self._call(text.get_text, 0, count, default="") or ""

    def set_text(self, value):
        """Replaces an edit field's whole text, as pasting over a selection would."""
        editable = self._call(self._accessible.get_editable_text_iface)
        if editable is None:
            raise ScenarioFailure(f"[{self.role}] {self.name!r} is not editable text")
        if not self._call(editable.set_text_contents, value, default=False):
            raise ScenarioFailure(f"[{self.role}] {self.name!r} refused the text {value!r}")

    @property
    def value(self):
        value = self._call(self._accessible.get_value_iface)
        if value is None:
            raise ScenarioFailure(f"[{self.role}] {self.name!r} has no value")
        return self._call(value.get_current_value)

    def value_range(self):
        value = self._call(self._accessible.get_value_iface)
        if value is None:
            raise ScenarioFailure(f"[{self.role}] {self.name!r} has no value")
        return self._call(value.get_minimum_value), self._call(value.get_maximum_value)

    def set_value(self, number):
        """Moves a slider (or any value control) to `number`, as its accessible value."""
        value = self._call(self._accessible.get_value_iface)
        if value is None or not self._call(value.set_current_value, float(number), default=False):
            raise ScenarioFailure(f"[{self.role}] {self.name!r} does not take the value {number}")

    def items(self):
        """The entries of a list or combo box: the list items below it, in order."""
        return [node for node in self.find_all(predicate=lambda n: n.role in ("list item", "menu item",
                                                                              "table cell", "tree item"))]

    def select_item(self, name, display):
        """Chooses the entry named `name` in a list or combo box as a user would: a
        combo box focused, then Home and Down to the entry (its list is a popup, which Qt
        leaves out of the tree while closed); a list's entry clicked. Qt 6.4 offers no
        AT-SPI selection for either."""
        items = self.items()
        names = [item.name for item in items]
        wanted = strip_mnemonic(name)
        if wanted not in names:
            raise ScenarioFailure(f"[{self.role}] {self.name!r} has no entry {wanted!r}; it has {names}")
        index = names.index(wanted)
        if self.role == "combo box":
            self.focus()
            display.press_key("Home")
            for _ in range(index):
                display.press_key("Down")
            self.wait_until(lambda node: node.name == wanted, f"the combo box shows {wanted!r}", timeout=5.0)
        else:
            items[index].click(display)
            items[index].wait_until(lambda node: node.has_state("selected"), f"{wanted!r} selected", timeout=5.0)


class Desktop:
    """The AT-SPI desktop: the programs that have registered with the registry."""

    def __init__(self):
        Atspi.init()
        self._desktop = Atspi.get_desktop(0)

    def applications(self):
        self._desktop.clear_cache()
        return Node(self._desktop).children

    def application(self, pid, timeout=DEFAULT_TIMEOUT):
        """The application object of process `pid`, once it has registered."""
        found = _wait(lambda: next((app for app in self.applications() if app.pid == pid), None), timeout)
        if found is None:
            names = [f"{app.name!r} (pid {app.pid})" for app in self.applications()]
            raise ScenarioFailure(f"process {pid} did not register with the accessibility bus within "
                                  f"{timeout:g} s; registered: {names or 'nothing'}")
        return found
