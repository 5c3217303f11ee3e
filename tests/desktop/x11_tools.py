"""X11 helpers for the desktop tests: finding a program's windows, reading their pixels, focusing them,
asking them to close as a window manager would, probing a global key grab, and saving screenshots."""

import struct
import zlib

from Xlib import X, XK, display, error, protocol


class Window:
    """One X window with the few properties the tests look at."""

    def __init__(self, screen, xwindow):
        self.screen = screen
        self.xwindow = xwindow

    @property
    def id(self):
        return self.xwindow.id

    def __repr__(self):
        return f"Window(0x{self.id:x}, {self.title()!r})"

    def title(self):
        name = self.screen.text_property(self.xwindow, "_NET_WM_NAME")
        return name if name is not None else (self.xwindow.get_wm_name() or "")

    def pid(self):
        return self.screen.number_property(self.xwindow, "_NET_WM_PID")

    def icon_sizes(self):
        """The (width, height) of each picture of the window's icon (_NET_WM_ICON)."""
        try:
            prop = self.xwindow.get_full_property(self.screen.atom("_NET_WM_ICON"), X.AnyPropertyType)
        except error.BadWindow:
            return []
        values, sizes, at = list(prop.value) if prop is not None else [], [], 0
        while at + 2 <= len(values):
            width, height = values[at], values[at + 1]
            sizes.append((width, height))
            at += 2 + width * height
        return sorted(sizes)

    def viewable(self):
        try:
            return self.xwindow.get_attributes().map_state == X.IsViewable
        except error.BadWindow:
            return False

    def geometry(self):
        """(x, y, width, height) relative to the screen."""
        geometry = self.xwindow.get_geometry()
        origin = self.xwindow.translate_coords(self.screen.root, 0, 0)
        return -origin.x, -origin.y, geometry.width, geometry.height

    def parent(self):
        return self.xwindow.query_tree().parent

    def rgba(self):
        """(width, height, bytes) of the window's pixels as RGBA; alpha is 255 unless the window's
        visual has an alpha channel."""
        _x, _y, width, height = self.geometry()
        image = self.xwindow.get_image(0, 0, width, height, X.ZPixmap, 0xFFFFFFFF)
        data = image.data
        pixels = bytearray(len(data))
        pixels[0::4], pixels[1::4], pixels[2::4] = data[2::4], data[1::4], data[0::4]
        if self.xwindow.get_geometry().depth == 32:
            pixels[3::4] = data[3::4]
        else:
            pixels[3::4] = b"\xff" * (len(data) // 4)
        return width, height, bytes(pixels)


class Screen:
    """A connection to one X display."""

    def __init__(self, display_name):
        self.display = display.Display(display_name)
        self.root = self.display.screen().root

    def close(self):
        self.display.close()

    def atom(self, name):
        return self.display.intern_atom(name)

    def text_property(self, xwindow, name):
        try:
            prop = xwindow.get_full_property(self.atom(name), X.AnyPropertyType)
        except error.BadWindow:
            return None
        if prop is None:
            return None
        value = prop.value
        return value.decode("utf-8", "replace") if isinstance(value, bytes) else str(value)

    def number_property(self, xwindow, name):
        try:
            prop = xwindow.get_full_property(self.atom(name), X.AnyPropertyType)
        except error.BadWindow:
            return None
        return prop.value[0] if prop is not None and len(prop.value) else None

    def all_windows(self):
        """Every window below the root, parents before children."""
        found, pending = [], [self.root]
        while pending:
            try:
                children = pending.pop().query_tree().children
            except error.BadWindow:
                continue
            found.extend(children)
            pending.extend(children)
        return [Window(self, w) for w in found]

    def top_level_windows(self):
        return [Window(self, w) for w in self.root.query_tree().children]

    def windows_of(self, pid, top_level=True, viewable=True):
        windows = self.top_level_windows() if top_level else self.all_windows()
        return [w for w in windows if w.pid() == pid and (not viewable or w.viewable())]

    def embedded_windows_of(self, pid):
        """Viewable windows of the process that another client has reparented (tray icons)."""
        return [w for w in self.windows_of(pid, top_level=False) if w.parent().id != self.root.id]

    def selection_owner(self, name):
        return self.display.get_selection_owner(self.atom(name))

    def focus(self, window):
        window.xwindow.configure(stack_mode=X.Above)
        window.xwindow.set_input_focus(X.RevertToParent, X.CurrentTime)
        self.display.sync()

    def request_close(self, window):
        """Sends WM_DELETE_WINDOW, as a window manager does when the title-bar close button is used."""
        protocols = self.atom("WM_PROTOCOLS")
        data = (32, [self.atom("WM_DELETE_WINDOW"), X.CurrentTime, 0, 0, 0])
        event = protocol.event.ClientMessage(window=window.xwindow, client_type=protocols, data=data)
        window.xwindow.send_event(event, event_mask=X.NoEventMask)
        self.display.sync()

    def key_grab_is_held(self, key_name, modifiers):
        """True when another client holds a passive grab of the key with exactly these modifiers on
        the root window: our own grab attempt then fails with BadAccess."""
        keycode = self.display.keysym_to_keycode(XK.string_to_keysym(key_name))
        catcher = error.CatchError(error.BadAccess)
        self.root.grab_key(keycode, modifiers, False, X.GrabModeAsync, X.GrabModeAsync, onerror=catcher)
        self.display.sync()
        if catcher.get_error() is not None:
            return True
        self.root.ungrab_key(keycode, modifiers)
        self.display.sync()
        return False


CTRL_ALT = X.ControlMask | X.Mod1Mask


def write_png(path, width, height, rgba):
    """Saves RGBA pixels as a PNG file."""
    rows = b"".join(b"\0" + rgba[y * width * 4 : (y + 1) * width * 4] for y in range(height))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    with open(path, "wb") as png:
        png.write(b"\x89PNG\r\n\x1a\n")
        png.write(chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))
