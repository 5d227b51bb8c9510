"""Pictures of windows for a person to look at: one top-level window with its frame, as
a PNG file (xwd, then netpbm's converters)."""

import os
import shutil
import subprocess
import time

from .failure import MissingTool, ScenarioFailure

_TOOLS = {"xwd": "x11-apps", "xwdtopnm": "netpbm", "pnmtopng": "netpbm"}


def check_tools():
    for tool, package in _TOOLS.items():
        if shutil.which(tool) is None:
            raise MissingTool(f"{tool} is missing", package)


def _capture(window):
    """The window's picture as PNG bytes."""
    dump = subprocess.run(["xwd", "-id", str(window), "-silent"], capture_output=True, check=False)
    if dump.returncode != 0 or not dump.stdout:
        raise ScenarioFailure(f"xwd could not read window {window:#x}: {dump.stderr.decode(errors='replace')}")
    pnm = subprocess.run(["xwdtopnm"], input=dump.stdout, capture_output=True, check=False)
    png = subprocess.run(["pnmtopng"], input=pnm.stdout, capture_output=True, check=False)
    if pnm.returncode != 0 or png.returncode != 0 or not png.stdout:
        raise ScenarioFailure(f"the picture of window {window:#x} could not be converted: "
                              f"{(pnm.stderr + png.stderr).decode(errors='replace')}")
    return png.stdout


def save_window(window, path, settle_timeout=5.0):
    """Writes the window's picture to `path` once two looks 100 ms apart agree (the
    window has finished painting), or the last look at the deadline; returns the path."""
    check_tools()
    deadline = time.monotonic() + settle_timeout
    picture = _capture(window)
    while time.monotonic() < deadline:
        time.sleep(0.1)
        again = _capture(window)
        if again == picture:
            break
        picture = again
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    with open(path, "wb") as out:
        out.write(picture)
    return path
