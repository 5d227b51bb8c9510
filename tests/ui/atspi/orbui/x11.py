"""The X display as a user works it: windows by process and title, the tray icon, the
real pointer and keyboard through XTest, and the window manager asked as a pager asks.

Plain ctypes over libX11 and libXtst, so that nothing beyond what the build already
installs is needed."""

import ctypes
import ctypes.util
import time

from .failure import MissingTool, ScenarioFailure

Window = ctypes.c_ulong
Atom = ctypes.c_ulong

_PROPERTY_CHUNK = 4096  # in 32-bit units; enough for any title or icon property we read
_IS_VIEWABLE = 2
_CLIENT_MESSAGE = 33
_SUBSTRUCTURE_MASKS = (1 << 19) | (1 << 20)  # SubstructureNotify | SubstructureRedirect


class _ClientMessageData(ctypes.Union):
    _fields_ = [("l", ctypes.c_long * 5)]


class _ClientMessageEvent(ctypes.Structure):
    _fields_ = [
        ("type", ctypes.c_int),
        ("serial", ctypes.c_ulong),
        ("send_event", ctypes.c_int),
        ("display", ctypes.c_void_p),
        ("window", Window),
        ("message_type", Atom),
        ("format", ctypes.c_int),
        ("data", _ClientMessageData),
    ]


class _XEvent(ctypes.Union):
    # XEvent is a union padded to 24 longs; only the client message form is sent here.
    _fields_ = [("xclient", _ClientMessageEvent), ("pad", ctypes.c_long * 24)]


class _WindowAttributes(ctypes.Structure):
    _fields_ = [
        ("x", ctypes.c_int), ("y", ctypes.c_int),
        ("width", ctypes.c_int), ("height", ctypes.c_int),
        ("border_width", ctypes.c_int), ("depth", ctypes.c_int),
        ("visual", ctypes.c_void_p), ("root", Window),
        ("c_class", ctypes.c_int), ("bit_gravity", ctypes.c_int),
        ("win_gravity", ctypes.c_int), ("backing_store", ctypes.c_int),
        ("backing_planes", ctypes.c_ulong), ("backing_pixel", ctypes.c_ulong),
        ("save_under", ctypes.c_int), ("colormap", ctypes.c_ulong),
        ("map_installed", ctypes.c_int), ("map_state", ctypes.c_int),
        ("all_event_masks", ctypes.c_long), ("your_event_mask", ctypes.c_long),
        ("do_not_propagate_mask", ctypes.c_long), ("override_redirect", ctypes.c_int),
        ("screen", ctypes.c_void_p),
    ]


_ERROR_HANDLER = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)


@_ERROR_HANDLER
def _ignore_error(_display, _event):
    # Windows come and go while the tree is walked; a stale id is not a failure.
    return 0


def _load(name, package):
    path = ctypes.util.find_library(name)
    try:
        return ctypes.CDLL(path or f"lib{name}.so.6")
    except OSError as error:
        raise MissingTool(f"lib{name} cannot be loaded ({error})", package) from error


class Display:
    """One connection to the display named by DISPLAY (or `name`)."""

    def __init__(self, name=None):
        self._x = _load("X11", "libx11-6")
        self._xtst = _load("Xtst", "libxtst6")
        self._declare()
        self._x.XSetErrorHandler(_ignore_error)
        self._display = self._x.XOpenDisplay(name.encode() if name else None)
        if not self._display:
            raise ScenarioFailure(f"cannot open the X display {name or '(DISPLAY)'}")
        self.root = self._x.XDefaultRootWindow(self._display)
        major = ctypes.c_int()
        minor = ctypes.c_int()
        event = ctypes.c_int()
        error = ctypes.c_int()
        if not self._xtst.XTestQueryExtension(self._display, ctypes.byref(event), ctypes.byref(error),
                                              ctypes.byref(major), ctypes.byref(minor)):
            raise ScenarioFailure("the X server has no XTest extension")
        self._atoms = {}

    def _declare(self):
        x = self._x
        x.XOpenDisplay.restype = ctypes.c_void_p
        x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x.XCloseDisplay.argtypes = [ctypes.c_void_p]
        x.XSetErrorHandler.argtypes = [_ERROR_HANDLER]
        x.XDefaultRootWindow.restype = Window
        x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        x.XDefaultScreen.argtypes = [ctypes.c_void_p]
        x.XInternAtom.restype = Atom
        x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        x.XGetSelectionOwner.restype = Window
        x.XGetSelectionOwner.argtypes = [ctypes.c_void_p, Atom]
        x.XGetWindowProperty.argtypes = [
            ctypes.c_void_p, Window, Atom, ctypes.c_long, ctypes.c_long, ctypes.c_int, Atom,
            ctypes.POINTER(Atom), ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_ulong),
            ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_void_p)]
        x.XFree.argtypes = [ctypes.c_void_p]
        x.XQueryTree.argtypes = [
            ctypes.c_void_p, Window, ctypes.POINTER(Window), ctypes.POINTER(Window),
            ctypes.POINTER(ctypes.POINTER(Window)), ctypes.POINTER(ctypes.c_uint)]
        x.XGetWindowAttributes.argtypes = [ctypes.c_void_p, Window, ctypes.POINTER(_WindowAttributes)]
        x.XTranslateCoordinates.argtypes = [
            ctypes.c_void_p, Window, Window, ctypes.c_int, ctypes.c_int,
            ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_int), ctypes.POINTER(Window)]
        x.XSendEvent.argtypes = [ctypes.c_void_p, Window, ctypes.c_int, ctypes.c_long, ctypes.POINTER(_XEvent)]
        x.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        x.XFlush.argtypes = [ctypes.c_void_p]
        x.XStringToKeysym.restype = ctypes.c_ulong
        x.XStringToKeysym.argtypes = [ctypes.c_char_p]
        x.XKeysymToKeycode.restype = ctypes.c_ubyte
        x.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        x.XKeycodeToKeysym.restype = ctypes.c_ulong
        x.XKeycodeToKeysym.argtypes = [ctypes.c_void_p, ctypes.c_ubyte, ctypes.c_int]
        x.XGetInputFocus.argtypes = [ctypes.c_void_p, ctypes.POINTER(Window), ctypes.POINTER(ctypes.c_int)]
        t = self._xtst
        t.XTestQueryExtension.argtypes = [ctypes.c_void_p] + [ctypes.POINTER(ctypes.c_int)] * 4
        t.XTestFakeMotionEvent.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_int, ctypes.c_ulong]
        t.XTestFakeButtonEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
        t.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]

    def close(self):
        if self._display:
            self._x.XCloseDisplay(self._display)
            self._display = None

    def atom(self, name):
        if name not in self._atoms:
            self._atoms[name] = self._x.XInternAtom(self._display, name.encode(), 0)
        return self._atoms[name]

    # --- reading the tree -------------------------------------------------------------

    def _property(self, window, name):
        """(type, format, bytes) of the property, or (0, 0, b"") when absent."""
        actual_type = Atom()
        actual_format = ctypes.c_int()
        items = ctypes.c_ulong()
        after = ctypes.c_ulong()
        data = ctypes.c_void_p()
        status = self._x.XGetWindowProperty(
            self._display, window, self.atom(name), 0, _PROPERTY_CHUNK, 0, 0, ctypes.byref(actual_type),
            ctypes.byref(actual_format), ctypes.byref(items), ctypes.byref(after), ctypes.byref(data))
        if status != 0 or not data.value:
            return 0, 0, b""
        try:
            # Xlib hands 32-bit items over as longs.
            size = {8: 1, 16: ctypes.sizeof(ctypes.c_short), 32: ctypes.sizeof(ctypes.c_long)}.get(
                actual_format.value, 0) * items.value
            return actual_type.value, actual_format.value, ctypes.string_at(data.value, size)
        finally:
            self._x.XFree(data)

    def _cardinals(self, window, name):
        _, fmt, raw = self._property(window, name)
        if fmt != 32:
            return []
        count = len(raw) // ctypes.sizeof(ctypes.c_ulong)
        return list((ctypes.c_ulong * count).from_buffer_copy(raw))

    def window_pid(self, window):
        values = self._cardinals(window, "_NET_WM_PID")
        return values[0] if len(values) == 1 else None

    def window_title(self, window):
        _, fmt, raw = self._property(window, "_NET_WM_NAME")
        if fmt == 8:
            return raw.decode("utf-8", "replace")
        _, fmt, raw = self._property(window, "WM_NAME")
        return raw.decode("latin-1") if fmt == 8 else None

    def children(self, window):
        root = Window()
        parent = Window()
        kids = ctypes.POINTER(Window)()
        count = ctypes.c_uint()
        if not self._x.XQueryTree(self._display, window, ctypes.byref(root), ctypes.byref(parent),
                                  ctypes.byref(kids), ctypes.byref(count)):
            return None, []
        found = [kids[i] for i in range(count.value)]
        if kids:
            self._x.XFree(kids)
        return parent.value, found

    def _walk(self):
        """Every window with its parent, depth first."""
        pending = [(self.root, None)]
        while pending:
            window, parent = pending.pop()
            yield window, parent
            _, kids = self.children(window)
            pending.extend((kid, window) for kid in kids)

    def is_viewable(self, window):
        attributes = _WindowAttributes()
        return bool(self._x.XGetWindowAttributes(self._display, window, ctypes.byref(attributes))) and \
            attributes.map_state == _IS_VIEWABLE

    def geometry(self, window):
        """(x, y, width, height) in root coordinates, or None when the window is gone."""
        attributes = _WindowAttributes()
        if not self._x.XGetWindowAttributes(self._display, window, ctypes.byref(attributes)):
            return None
        x = ctypes.c_int()
        y = ctypes.c_int()
        child = Window()
        if not self._x.XTranslateCoordinates(self._display, window, self.root, 0, 0, ctypes.byref(x),
                                             ctypes.byref(y), ctypes.byref(child)):
            return None
        return x.value, y.value, attributes.width, attributes.height

    def client_windows(self, pid, title=None):
        """The viewable windows of process `pid` that carry a title (the clients the window
        manager frames), optionally only those with exactly `title`."""
        found = []
        for window, _ in self._walk():
            if self.window_pid(window) != pid or not self.is_viewable(window):
                continue
            name = self.window_title(window)
            if name is not None and (title is None or name == title):
                found.append(window)
        return found

    def viewable_windows(self, pid):
        """Every viewable window of process `pid`, titled or not."""
        return {window for window, _ in self._walk() if self.window_pid(window) == pid and self.is_viewable(window)}

    def frame_of(self, window):
        """The window manager's frame around a client: its ancestor just below the root."""
        current = window
        while True:
            parent, _ = self.children(current)
            if parent in (None, 0, self.root):
                return current
            current = parent

    def tray_host_present(self):
        screen = self._x.XDefaultScreen(self._display)
        return self._x.XGetSelectionOwner(self._display, self.atom(f"_NET_SYSTEM_TRAY_S{screen}")) != 0

    def tray_icon(self, pid):
        """(window, x, y, width, height) of the icon of `pid` docked in the tray host: a
        viewable window of that pid with _XEMBED_INFO that is neither a top-level window
        nor a client of the window manager (WM_STATE). Qt puts _XEMBED_INFO on its
        top-level windows too, and the window manager's frame makes them children, so
        a shown window would pass for the icon without the last test (a right click
        meant for the icon then landed in the middle of the window)."""
        embed = self.atom("_XEMBED_INFO")
        wm_state = self.atom("WM_STATE")
        for window, parent in self._walk():
            if parent in (None, self.root) or self.window_pid(window) != pid:
                continue
            if self._property(window, "_XEMBED_INFO")[0] != embed or not self.is_viewable(window):
                continue
            if self._property(window, "WM_STATE")[0] == wm_state:
                continue
            area = self.geometry(window)
            if area and area[2] > 0 and area[3] > 0:
                return (window,) + area
        return None

    def focused_window(self):
        focus = Window()
        revert = ctypes.c_int()
        self._x.XGetInputFocus(self._display, ctypes.byref(focus), ctypes.byref(revert))
        return focus.value

    # --- acting as the user -------------------------------------------------------------

    def click(self, x, y, button=1, count=1):
        """Moves the real pointer to (x, y) and clicks `count` times."""
        screen = self._x.XDefaultScreen(self._display)
        self._xtst.XTestFakeMotionEvent(self._display, screen, int(x), int(y), 0)
        for _ in range(count):
            self._xtst.XTestFakeButtonEvent(self._display, button, 1, 0)
            self._xtst.XTestFakeButtonEvent(self._display, button, 0, 0)
        self._x.XSync(self._display, 0)

    def _keycode(self, keysym):
        code = self._x.XKeysymToKeycode(self._display, keysym)
        if code == 0:
            raise ScenarioFailure(f"no key on this keyboard gives keysym {keysym:#x}")
        return code

    def press_key(self, name, modifiers=()):
        """Presses and releases the key named as X names keysyms ("Escape", "Return",
        "Tab", "a"), holding `modifiers` ("Shift_L", "Control_L", "Alt_L")."""
        keysym = self._x.XStringToKeysym(name.encode())
        if keysym == 0:
            raise ScenarioFailure(f"unknown key name {name!r}")
        self._tap(self._keycode(keysym), [self._keycode(self._x.XStringToKeysym(m.encode())) for m in modifiers])

    def type_text(self, text):
        """Types printable Latin-1 text into the focused window, one key stroke a
        character, with Shift where the keyboard needs it."""
        shift = self._keycode(self._x.XStringToKeysym(b"Shift_L"))
        for character in text:
            keysym = ord(character)
            if not 0x20 <= keysym <= 0xFF:
                raise ScenarioFailure(f"cannot type {character!r}: only Latin-1 text goes by key strokes")
            code = self._keycode(keysym)
            plain = self._x.XKeycodeToKeysym(self._display, code, 0)
            self._tap(code, [] if plain == keysym else [shift])

    def _tap(self, code, held):
        for modifier in held:
            self._xtst.XTestFakeKeyEvent(self._display, modifier, 1, 0)
        self._xtst.XTestFakeKeyEvent(self._display, code, 1, 0)
        self._xtst.XTestFakeKeyEvent(self._display, code, 0, 0)
        for modifier in reversed(held):
            self._xtst.XTestFakeKeyEvent(self._display, modifier, 0, 0)
        self._x.XSync(self._display, 0)

    def _ask_window_manager(self, window, message, values):
        event = _XEvent()
        event.xclient.type = _CLIENT_MESSAGE
        event.xclient.window = window
        event.xclient.message_type = self.atom(message)
        event.xclient.format = 32
        for index, value in enumerate(values):
            event.xclient.data.l[index] = value
        self._x.XSendEvent(self._display, self.root, 0, _SUBSTRUCTURE_MASKS, ctypes.byref(event))
        self._x.XFlush(self._display)

    def request_close(self, window):
        """The close box: asks the window manager to close the window, as a pager does."""
        self._ask_window_manager(window, "_NET_CLOSE_WINDOW", [0, 2])

    def iconify(self, window):
        """Minimizes the window, as its title bar's button does (ICCCM WM_CHANGE_STATE)."""
        self._ask_window_manager(window, "WM_CHANGE_STATE", [3])

    def activate(self, window):
        """Asks the window manager to bring the window to the front, as a pager does."""
        self._ask_window_manager(window, "_NET_ACTIVE_WINDOW", [2, 0, 0])


def wait_until(predicate, timeout, interval=0.05):
    """Polls `predicate` until it returns something true; that value, or None at the
    deadline."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            return None
        time.sleep(interval)
