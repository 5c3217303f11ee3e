"""Reading a program's tray icon back, over either tray path: the StatusNotifierItem of our own watcher
(tip, pixels and menu over D-Bus) or the XEmbed icon window docked in trayer (pixels, mouse clicks).
Also tells which of the two tray images an icon shows."""

import subprocess

import gi

gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

ITEM_INTERFACE = "org.kde.StatusNotifierItem"
MENU_INTERFACE = "com.canonical.dbusmenu"

EMPTY_SLOT, LETTER_SLOT, TROUBLE_SLOT = 0, 1, 2


def is_light_grey(r, g, b):
    return max(r, g, b) - min(r, g, b) <= 24 and 150 <= r <= 225


def is_white(r, g, b):
    return min(r, g, b) >= 235


def is_red(r, g, b):
    return r >= 200 and max(g, b) <= 60


def classify_slot_image(width, height, rgba):
    """Which tray image the pixels show: EMPTY_SLOT (a light-grey bar across the middle and nothing
    white below it), LETTER_SLOT (the same bar with white paper below it), TROUBLE_SLOT (the bar with
    a red mark) or None (no bar).
    Transparent pixels, and pixels of the corner colour (an XEmbed tray paints the icon on its own
    background), do not count."""
    background = bytes(rgba[0:4])

    def shown(x, y):
        at = 4 * (y * width + x)
        value = rgba[at : at + 4]
        return value[:3] if value[3] >= 128 and value != background else None

    def count_in_row(y, test):
        return sum(1 for x in range(width) if (p := shown(x, y)) is not None and test(*p))

    bar_rows = [y for y in range(height) if count_in_row(y, is_light_grey) >= width // 3]
    if not bar_rows:
        return None
    if sum(count_in_row(y, is_red) for y in range(height)) >= 3:
        return TROUBLE_SLOT
    white_below = sum(count_in_row(y, is_white) for y in range(max(bar_rows) + 1, height))
    return LETTER_SLOT if white_below >= 3 else EMPTY_SLOT


def corners_are_transparent(width, height, rgba):
    corners = [(0, 0), (width - 1, 0), (0, height - 1), (width - 1, height - 1)]
    return all(rgba[4 * (y * width + x) + 3] == 0 for x, y in corners)


class BusClient:
    """A connection to the private session bus."""

    def __init__(self, address):
        flags = Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION
        self.connection = Gio.DBusConnection.new_for_address_sync(address, flags, None, None)

    def close(self):
        self.connection.close_sync(None)

    def call(self, name, path, interface, method, args=None, reply_type=None):
        result = self.connection.call_sync(
            name, path, interface, method, args,
            GLib.VariantType(reply_type) if reply_type else None,
            Gio.DBusCallFlags.NONE, 5000, None,
        )
        return result.unpack() if result is not None else None

    def get_property(self, name, path, interface, prop):
        args = GLib.Variant("(ss)", (interface, prop))
        return self.call(name, path, "org.freedesktop.DBus.Properties", "Get", args, "(v)")[0]

    def pid_of(self, name):
        args = GLib.Variant("(s)", (name,))
        return self.call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                         "GetConnectionUnixProcessID", args, "(u)")[0]

    def registered_items(self):
        """The watcher's items as (bus name, object path)."""
        items = self.get_property("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                                  "org.kde.StatusNotifierWatcher", "RegisteredStatusNotifierItems")
        return [(item[: item.index("/")], item[item.index("/"):]) for item in items]


class SniTrayIcon:
    """A program's StatusNotifierItem, read through the private session bus."""

    kind = "sni"

    def __init__(self, bus, name, path):
        self.bus, self.name, self.path = bus, name, path

    def _get(self, prop):
        return self.bus.get_property(self.name, self.path, ITEM_INTERFACE, prop)

    def tip(self):
        """The tip text: the title field of the item's ToolTip."""
        _icon_name, _pixmaps, title, _text = self._get("ToolTip")
        return title

    def pixels(self):
        """(width, height, RGBA bytes) of the smallest IconPixmap entry that is at least 16 wide."""
        pixmaps = sorted(self._get("IconPixmap"), key=lambda p: p[0])
        width, height, argb = next((p for p in pixmaps if p[0] >= 16), pixmaps[-1])
        argb = bytes(argb)
        rgba = bytearray(len(argb))
        rgba[0::4], rgba[1::4], rgba[2::4], rgba[3::4] = argb[1::4], argb[2::4], argb[3::4], argb[0::4]
        return width, height, bytes(rgba)

    def image(self):
        return classify_slot_image(*self.pixels())

    def status(self):
        return self._get("Status")

    def menu_items(self):
        """{label: id} of the top level of the item's menu; the access-key marks are left in."""
        menu_path = self._get("Menu")
        args = GLib.Variant("(iias)", (0, 1, []))
        _revision, (_id, _props, children) = self.bus.call(
            self.name, menu_path, MENU_INTERFACE, "GetLayout", args, "(u(ia{sv}av))")
        return {child[1].get("label", ""): child[0] for child in children}

    def click_menu_item(self, label):
        """Clicks a top-level item, by its label as menu_items() gives it ("_Quit" for "&Quit"), the
        way a tray host does: it announces the menu's opening first, as Qt triggers nothing before."""
        menu_path = self._get("Menu")
        item_id = self.menu_items()[label]
        self.bus.call(self.name, menu_path, MENU_INTERFACE, "AboutToShow", GLib.Variant("(i)", (0,)), "(b)")
        args = GLib.Variant("(isvu)", (item_id, "clicked", GLib.Variant("i", 0), 0))
        self.bus.call(self.name, menu_path, MENU_INTERFACE, "Event", args)

    def activate(self):
        """A single activation (the StatusNotifierItem path has no double click)."""
        self.bus.call(self.name, self.path, ITEM_INTERFACE, "Activate", GLib.Variant("(ii)", (0, 0)))


class XembedTrayIcon:
    """A program's icon window docked in an XEmbed tray."""

    kind = "xembed"

    def __init__(self, screen, window, env):
        self.screen, self.window, self.env = screen, window, env

    def pixels(self):
        return self.window.rgba()

    def image(self):
        return classify_slot_image(*self.pixels())

    def painted(self):
        """False while the docked window is not mapped yet, or shows only its background (Qt paints
        it a moment later). Reading the pixels of a window that is not viewable is an X error."""
        if not self.window.viewable():
            return False
        _width, _height, rgba = self.pixels()
        background = rgba[0:4]
        return any(rgba[i : i + 4] != background for i in range(0, len(rgba), 4))

    def _click(self, *click_args):
        _x, _y, width, height = self.window.geometry()
        subprocess.run(["xdotool", "mousemove", "--window", str(self.window.id), str(width // 2),
                        str(height // 2), "click", *click_args], env=self.env, check=True)

    def double_click(self):
        self._click("--repeat", "2", "--delay", "80", "1")

    def right_click(self):
        self._click("3")
