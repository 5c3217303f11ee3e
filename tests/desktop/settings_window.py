"""The program's settings window as the tests see it: where the layout puts each edit box, button and
separator in the client area, and the column of the newer settings right of them, how to type into a box the way a user does, and how to read the client
area's pixels back and compare them with the layout.

The client area is the part of the window below its menu bar; without a window manager the window
has no frame, so the client area is the bottom CLIENT_HEIGHT rows of the window."""

from collections import Counter

CLIENT_WIDTH, CLIENT_HEIGHT = 557, 441

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
SERVER_LABEL = (24, 24, 77, 13)

# The column right of them holds the rows the choices use, top to bottom: the mailbox chooser and
# the shown mailbox's name, then with password sign-in, or with OAuth 2.0 through a provider of the
# list (client ID and secret, no addresses).
COLUMN_LEFT = 264
CHOOSER = {"cmbMailbox": (264, 24, 131, 23), "btnAddMailbox": (400, 24, 64, 23),
           "btnRemoveMailbox": (469, 24, 64, 23), "txtMailboxName": (380, 50, 153, 23)}
PASSWORD_COLUMN = {
    "boxes": {**CHOOSER, "cmbProtocol": (380, 84, 58, 23)},
    "check boxes": {"cbTLS": (442, 87, 91, 17), "cbOAuth": (264, 118, 269, 17),
                    "cbNotify": (264, 148, 269, 17), "cbStartWithDesktop": (264, 170, 269, 17)},
}
OAUTH_COLUMN = {
    "boxes": {**CHOOSER, "cmbProtocol": (380, 84, 58, 23), "cmbOAuthProvider": (380, 140, 153, 23),
              "txtOAuthClientId": (380, 166, 153, 23), "txtOAuthClientSecret": (380, 192, 153, 23),
              "btnSignIn": (264, 220, 131, 27), "btnSignOut": (402, 220, 131, 27)},
    "check boxes": {"cbTLS": (442, 87, 91, 17), "cbOAuth": (264, 118, 269, 17),
                    "cbNotify": (264, 297, 269, 17), "cbStartWithDesktop": (264, 319, 269, 17)},
}
TLS_BOX = PASSWORD_COLUMN["check boxes"]["cbTLS"]

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
        return problems + self.ring_mismatches(name, rect)

    def check_box_mismatches(self, name, rect):
        """A check box inside its rectangle, its square at the rectangle's left end."""
        left, top, width, height = rect
        problems = self.ring_mismatches(name, rect)
        square = [(x, y) for x in range(left, left + height) for y in range(top, top + height)]
        if sum(not self.is_background(x, y) for x, y in square) < height:
            problems.append(f"{name}: no square at the left end of its rectangle")
        return problems

    def ring_mismatches(self, name, rect):
        """Nothing of the control drawn outside its rectangle (the ring of pixels around it)."""
        left, top, width, height = rect
        right, bottom = left + width - 1, top + height - 1
        ring = ([(x, y) for x in range(left - 1, right + 2) for y in (top - 1, bottom + 1)] +
                [(x, y) for y in range(top, bottom + 1) for x in (left - 1, right + 1)])
        outside = [(x, y) for x, y in ring if not self.is_background(x, y)]
        return [f"{name}: drawn outside its rectangle at {outside[:4]}"] if outside else []

    def glyph_gaps(self):
        """For each button, the empty columns between its glyph (the first drawing from the left
        inside its border) and its caption; 0 when they touch."""
        gaps = {}
        for name, (left, top, width, height) in BUTTONS.items():
            inside = [(x, y) for x in range(left + 3, left + width - 3) for y in range(top + 5, top + height - 5)]
            face = Counter(self.pixel(x, y) for x, y in inside).most_common(1)[0][0]
            drawn = [any(self.pixel(x, y) != face for y in range(top + 5, top + height - 5))
                     for x in range(left + 3, left + width - 3)]
            glyph_end = drawn.index(True) + drawn[drawn.index(True):].index(False)
            gaps[name] = drawn[glyph_end:].index(True) if True in drawn[glyph_end:] else 0
        return gaps

    def region(self, rect):
        left, top, width, height = rect
        return tuple(self.pixel(x, y) for y in range(top, top + height) for x in range(left, left + width))

    def column_mismatches(self, column):
        """The column's boxes, lists and buttons exactly over their rectangles, its check boxes in
        theirs, and nothing else drawn below its last row."""
        problems = []
        for name, rect in column["boxes"].items():
            problems += self.outline_mismatches(name, rect)
        for name, rect in column["check boxes"].items():
            problems += self.check_box_mismatches(name, rect)
        _left, last_top, _width, last_height = column["check boxes"]["cbStartWithDesktop"]
        below = [(x, y) for x in range(COLUMN_LEFT - 1, self.width)
                 for y in range(last_top + last_height + 1, self.height)]
        drawn = [(x, y) for x, y in below if not self.is_background(x, y)]
        if drawn:
            problems.append(f"drawn below the column's last row at {drawn[:4]}")
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
