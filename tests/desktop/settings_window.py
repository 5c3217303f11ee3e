"""The program's settings window as the tests see it: where the layout puts each edit box, button and
separator in the client area, how to type into a box the way a user does, and how to read the client
area's pixels back and compare them with the layout.

The client area is the part of the window below its menu bar; without a window manager the window
has no frame, so the client area is the bottom CLIENT_HEIGHT rows of the window."""

from collections import Counter

CLIENT_WIDTH, CLIENT_HEIGHT = 505, 489

# (left, top, width, height) in client pixels.
EDIT_BOXES = {
    "txtPOP3Server": (24, 40, 153, 23),
    "txtPort": (184, 40, 57, 23),
    "txtUserName": (24, 96, 217, 23),
    "txtPassword": (24, 152, 217, 23),
    "txtPathToClient": (24, 208, 217, 23),
    "txtPathToSound": (24, 304, 217, 23),
}
BUTTONS = {
    "btnBrowsePathToClient": (144, 240, 97, 33),
    "btnBrowsePathToSound": (144, 336, 97, 33),
    "btnSave": (144, 384, 97, 33),
}
WWW_BOX = (24, 240, 113, 17)
TLS_BOX = (24, 392, 113, 17)

# Etched separators: a darker row at y and a lighter one at y + 1, from x = 24 to 239.
SEPARATOR_ROWS = (72, 128, 184, 280, 376)
SEPARATOR_FIRST_X, SEPARATOR_LAST_X = 24, 239
ETCH_AMOUNT = 40


def client_top(window):
    """The window row where the client area begins (the menu bar's height)."""
    _x, _y, _width, height = window.geometry()
    return height - CLIENT_HEIGHT


def click_into(desktop, window, rect):
    """Clicks into the middle of a control given by its client rectangle."""
    left, top, width, height = rect
    desktop.click(window, left + width // 2, client_top(window) + top + height // 2)


def click_www_box(desktop, window):
    """Clicks the WWW box's square, at the left end of the box."""
    click_check_box(desktop, window, WWW_BOX)


def click_tls_box(desktop, window):
    click_check_box(desktop, window, TLS_BOX)


def click_check_box(desktop, window, rect):
    """Clicks a check box's square, at the left end of the box."""
    left, top, _width, height = rect
    desktop.click(window, left + height // 2, client_top(window) + top + height // 2)


def fill_in(desktop, window, box, text):
    """Replaces the text of an edit box as a user does: click into it, select all, type."""
    click_into(desktop, window, EDIT_BOXES[box])
    desktop.press_keys("ctrl+a")
    desktop.type_text(text)


class ClientPixels:
    """A picture of the window's client area, read in client coordinates."""

    def __init__(self, window):
        self.width, window_height, self.rgba = window.rgba()
        self.height = CLIENT_HEIGHT
        self.top = window_height - CLIENT_HEIGHT
        self.background = Counter(self.pixel(x, y) for x in range(0, self.width, 3)
                                  for y in range(0, self.height, 3)).most_common(1)[0][0]

    def pixel(self, x, y):
        at = 4 * ((self.top + y) * self.width + x)
        return tuple(self.rgba[at : at + 3])

    def is_background(self, x, y):
        return self.pixel(x, y) == self.background

    def size_mismatches(self):
        """What is wrong with the size of the client area: its width, and the menu bar's last row
        right above it (which is not button face), and the bottom row (which is)."""
        problems = []
        if self.width != CLIENT_WIDTH:
            problems.append(f"client width {self.width}, not {CLIENT_WIDTH}")
        if self.top < 1:
            problems.append(f"the window is {self.top + CLIENT_HEIGHT} high: no room for a menu bar")
        elif all(self.is_background(x, -1) for x in range(self.width)):
            problems.append("the row above the client area is button face: the client area is higher")
        if not all(self.is_background(x, self.height - 1) for x in range(self.width)):
            problems.append("the client area's bottom row is not all button face")
        return problems

    def outline_mismatches(self, name, rect):
        """A control drawn exactly over its rectangle: each edge shows the control (apart from
        rounded corners), and the ring of pixels just outside it is all button face."""
        left, top, width, height = rect
        right, bottom = left + width - 1, top + height - 1
        edges = {
            "left": [(left, y) for y in range(top + 3, bottom - 2)],
            "right": [(right, y) for y in range(top + 3, bottom - 2)],
            "top": [(x, top) for x in range(left + 3, right - 2)],
            "bottom": [(x, bottom) for x in range(left + 3, right - 2)],
        }
        problems = [f"{name}: its {side} edge is not at the layout's place"
                    for side, points in edges.items()
                    if sum(not self.is_background(x, y) for x, y in points) < len(points) * 3 // 4]
        ring = ([(x, y) for x in range(left - 1, right + 2) for y in (top - 1, bottom + 1)] +
                [(x, y) for y in range(top, bottom + 1) for x in (left - 1, right + 1)])
        outside = [(x, y) for x, y in ring if not self.is_background(x, y)]
        if outside:
            problems.append(f"{name}: drawn outside its rectangle at {outside[:4]}")
        return problems

    def separator_mismatches(self):
        """The five etched lines: darker and lighter than the button face by the etch amount, exactly
        from x = 24 to 239, with button face on either end."""
        dark = tuple(max(0, c - ETCH_AMOUNT) for c in self.background)
        light = tuple(min(255, c + ETCH_AMOUNT) for c in self.background)
        problems = []
        for row in SEPARATOR_ROWS:
            for y, colour in ((row, dark), (row + 1, light)):
                line = {self.pixel(x, y) for x in range(SEPARATOR_FIRST_X, SEPARATOR_LAST_X + 1)}
                if line != {colour}:
                    problems.append(f"row {y}: {sorted(line)[:3]}, not {colour}")
                if not (self.is_background(SEPARATOR_FIRST_X - 1, y) and
                        self.is_background(SEPARATOR_LAST_X + 1, y)):
                    problems.append(f"row {y}: the line does not end at x = {SEPARATOR_FIRST_X} and "
                                    f"{SEPARATOR_LAST_X}")
        return problems

    def layout_mismatches(self):
        problems = self.size_mismatches()
        for name, rect in {**EDIT_BOXES, **BUTTONS}.items():
            problems += self.outline_mismatches(name, rect)
        return problems + self.separator_mismatches()
