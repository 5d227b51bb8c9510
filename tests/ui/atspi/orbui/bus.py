"""A private session bus with the accessibility bus on it, for one scenario.

The scenario runs itself again under dbus-run-session, so that the accessibility bus,
its registry and every program on them end with it. Three things keep that session to
itself: a private XDG_RUNTIME_DIR (the bus launcher puts its socket there, else under
~/.cache, shared by every run), GSETTINGS_BACKEND=memory (no dconf service is started
for the launcher's one look at the settings), and no DISPLAY for the launcher (given one,
it writes its address onto the root window as AT_SPI_BUS, where it outlives the session
and sends later Qt programs on the shared display to a dead bus).

Qt finds the bus as the session bus's org.a11y.Bus service. It must not be given
AT_SPI_BUS_ADDRESS: Qt 6.4 then announces the bus before its bridge listens and never
registers the application. libatspi in this process is given the address directly."""

import os
import shutil
import subprocess
import sys
import tempfile

from .failure import MissingTool, ScenarioFailure

_INSIDE = "ORB_ATSPI_SESSION"
_DISPLAY_KEPT = "ORB_ATSPI_DISPLAY"
_LAUNCHER = "/usr/libexec/at-spi-bus-launcher"
SKIPPED = 77  # the status ctest is told means "skipped"


def enter_private_session():
    """Runs the running script again under dbus-run-session, and exits with its status,
    unless it already runs there; inside, gives DISPLAY back. Exits 77 (skipped) when
    there is no display."""
    if os.environ.get(_INSIDE) == "1":
        os.environ["DISPLAY"] = os.environ.pop(_DISPLAY_KEPT, "")
        return
    if not os.environ.get("DISPLAY"):
        print("SKIP: needs an X display (DISPLAY is not set; scripts/with-x11 gives one)", flush=True)
        sys.exit(SKIPPED)
    runner = shutil.which("dbus-run-session")
    if runner is None:
        raise MissingTool("dbus-run-session is missing", "dbus-daemon")
    if not os.access(_LAUNCHER, os.X_OK):
        raise MissingTool(f"{_LAUNCHER} is missing", "at-spi2-core")
    with tempfile.TemporaryDirectory(prefix="orb-atspi-") as runtime:
        env = dict(os.environ)
        env[_INSIDE] = "1"
        env[_DISPLAY_KEPT] = env.pop("DISPLAY")
        env["XDG_RUNTIME_DIR"] = runtime
        env["GSETTINGS_BACKEND"] = "memory"
        # Whatever buses the caller had must not be the ones the scenario's programs find.
        for name in ("AT_SPI_BUS_ADDRESS", "DBUS_SESSION_BUS_ADDRESS"):
            env.pop(name, None)
        sys.stdout.flush()
        sys.stderr.flush()
        status = subprocess.run([runner, "--", sys.executable, os.path.abspath(sys.argv[0])] + sys.argv[1:],
                                env=env, check=False).returncode
    sys.exit(status if status >= 0 else 128 - status)


def start_accessibility_bus(timeout=20.0):
    """Has the session bus start the accessibility bus, and returns its address, also set
    as AT_SPI_BUS_ADDRESS for this process's libatspi."""
    try:
        import gi
        gi.require_version("Gio", "2.0")
        gi.require_version("GLib", "2.0")
        from gi.repository import Gio, GLib
    except (ImportError, ValueError) as error:
        raise MissingTool(f"GObject introspection for Python cannot be loaded ({error})", "python3-gi") from error
    try:
        session = Gio.bus_get_sync(Gio.BusType.SESSION, None)
        reply = session.call_sync("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", None,
                                  GLib.VariantType.new("(s)"), Gio.DBusCallFlags.NONE, int(timeout * 1000), None)
        address = reply.unpack()[0]
        # Toolkits that do not force it on look here before they expose their windows.
        session.call_sync("org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Set",
                          GLib.Variant("(ssv)", ("org.a11y.Status", "IsEnabled", GLib.Variant("b", True))),
                          None, Gio.DBusCallFlags.NONE, int(timeout * 1000), None)
    except GLib.Error as error:
        raise ScenarioFailure(f"the accessibility bus did not start: {error.message} "
                              "(at-spi2-core provides it)") from error
    if not address:
        raise ScenarioFailure("the accessibility bus launcher gave no address")
    os.environ["AT_SPI_BUS_ADDRESS"] = address
    return address


def environment_for_programs():
    """This process's environment as the programs under test must get it: the session
    bus, without the accessibility bus's address (see above), accessibility on."""
    env = dict(os.environ)
    env.pop("AT_SPI_BUS_ADDRESS", None)
    env["QT_LINUX_ACCESSIBILITY_ALWAYS_ON"] = "1"
    env["QT_ACCESSIBILITY"] = "1"
    return env
