"""A window's pixels as the screen shows them, and pictures to hold them against: what a
scenario needs to tell a picture drawn for the screen's scale from one enlarged."""

import subprocess

from .failure import ScenarioFailure
from .screenshot import check_tools


class Picture:
    """RGB pixels: width, height and 3 bytes a pixel, row after row."""

    def __init__(self, width, height, data):
        if len(data) != width * height * 3:
            raise ScenarioFailure(f"{len(data)} bytes for a picture of {width} x {height}")
        self.width, self.height, self.data = width, height, data

    def at(self, x, y):
        offset = (y * self.width + x) * 3
        return self.data[offset:offset + 3]


def parse_ppm(data):
    """A binary PPM (P6) with a maximum of 255, as a Picture."""
    fields = []
    position = 0
    while len(fields) < 4:
        while data[position:position + 1].isspace():
            position += 1
        if data[position:position + 1] == b"#":
            position = data.index(b"\n", position) + 1
            continue
        end = position
        while end < len(data) and not data[end:end + 1].isspace():
            end += 1
        fields.append(data[position:end])
        position = end
    magic, width, height, maximum = fields[0], int(fields[1]), int(fields[2]), int(fields[3])
    if magic != b"P6" or maximum != 255:
        raise ScenarioFailure(f"a picture of type {magic!r} with maximum {maximum}, not 8-bit P6")
    return Picture(width, height, data[position + 1:position + 1 + width * height * 3])


def window_pixels(window):
    """What the X window `window` shows now (xwd, then netpbm's xwdtopnm)."""
    check_tools()
    dump = subprocess.run(["xwd", "-id", str(window), "-silent"], capture_output=True, check=False)
    pnm = subprocess.run(["xwdtopnm"], input=dump.stdout, capture_output=True, check=False)
    if dump.returncode != 0 or pnm.returncode != 0 or not pnm.stdout:
        raise ScenarioFailure(f"window {window:#x} could not be read: "
                              f"{(dump.stderr + pnm.stderr).decode(errors='replace')}")
    return parse_ppm(pnm.stdout)


def differences(shown, origin, expected, over_other):
    """Where `shown`, from `origin` on, differs from `expected`: (pixels compared, pixels
    unlike). `over_other` is the same drawing over another background; only the pixels
    the two agree on are the drawing's own, and only those are compared."""
    x0, y0 = origin
    if x0 < 0 or y0 < 0 or x0 + expected.width > shown.width or y0 + expected.height > shown.height:
        raise ScenarioFailure(f"a {expected.width} x {expected.height} picture at {origin} does not fit "
                              f"in the window's {shown.width} x {shown.height}")
    compared = unlike = 0
    row_bytes = expected.width * 3
    for y in range(expected.height):
        start = y * row_bytes
        own_row = expected.data[start:start + row_bytes]
        other_row = over_other.data[start:start + row_bytes]
        shown_start = ((y0 + y) * shown.width + x0) * 3
        shown_row = shown.data[shown_start:shown_start + row_bytes]
        if own_row == other_row and own_row == shown_row:
            compared += expected.width
            continue
        for x in range(0, row_bytes, 3):
            if own_row[x:x + 3] != other_row[x:x + 3]:
                continue
            compared += 1
            unlike += shown_row[x:x + 3] != own_row[x:x + 3]
    return compared, unlike
