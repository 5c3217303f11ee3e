#!/usr/bin/python3
"""A small StatusNotifierItem watcher and host for a private test session.

It owns org.kde.StatusNotifierWatcher on the session bus, accepts item registrations and says that a
host is present, so that Qt programs show their tray icon over D-Bus. Registered items are served
back through the RegisteredStatusNotifierItems property as "<bus name><object path>", and each change
is printed to standard output as a line "registered <item>" or "unregistered <item>".
"""

import sys

import gi

gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

WATCHER_NAME = "org.kde.StatusNotifierWatcher"
WATCHER_PATH = "/StatusNotifierWatcher"
INTERFACE_XML = """
<node>
  <interface name="org.kde.StatusNotifierWatcher">
    <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
    <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
    <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
    <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
    <property name="ProtocolVersion" type="i" access="read"/>
    <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
    <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
    <signal name="StatusNotifierHostRegistered"/>
  </interface>
</node>
"""


class Watcher:
    def __init__(self, connection):
        self.connection = connection
        self.items = {}  # item text -> unique bus name of its owner

    def item_text(self, sender, service):
        """Qt passes an object path; others pass a bus name, optionally followed by a path."""
        if service.startswith("/"):
            return sender + service
        if "/" in service:
            return service
        return service + "/StatusNotifierItem"

    def register(self, sender, service):
        item = self.item_text(sender, service)
        if item in self.items:
            return
        self.items[item] = sender
        self.emit("StatusNotifierItemRegistered", GLib.Variant("(s)", (item,)))
        self.announce("registered", item)

    def forget_owner(self, unique_name):
        for item in [i for i, owner in self.items.items() if owner == unique_name]:
            del self.items[item]
            self.emit("StatusNotifierItemUnregistered", GLib.Variant("(s)", (item,)))
            self.announce("unregistered", item)

    def emit(self, signal, parameters):
        self.connection.emit_signal(None, WATCHER_PATH, WATCHER_NAME, signal, parameters)

    @staticmethod
    def announce(what, item):
        print(what, item, flush=True)

    def on_call(self, connection, sender, path, interface, method, parameters, invocation):
        if method == "RegisterStatusNotifierItem":
            self.register(sender, parameters.unpack()[0])
        elif method == "RegisterStatusNotifierHost":
            self.emit("StatusNotifierHostRegistered", None)
        invocation.return_value(None)

    def on_get_property(self, connection, sender, path, interface, name):
        if name == "RegisteredStatusNotifierItems":
            return GLib.Variant("as", sorted(self.items))
        if name == "IsStatusNotifierHostRegistered":
            return GLib.Variant("b", True)
        if name == "ProtocolVersion":
            return GLib.Variant("i", 0)
        return None

    def on_name_owner_changed(self, connection, sender, path, interface, signal, parameters):
        name, _old_owner, new_owner = parameters.unpack()
        if name.startswith(":") and not new_owner:
            self.forget_owner(name)


def main():
    address = Gio.dbus_address_get_for_bus_sync(Gio.BusType.SESSION, None)
    connection = Gio.DBusConnection.new_for_address_sync(
        address,
        Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION,
        None,
        None,
    )
    watcher = Watcher(connection)
    interface = Gio.DBusNodeInfo.new_for_xml(INTERFACE_XML).interfaces[0]
    connection.register_object(
        WATCHER_PATH, interface, watcher.on_call, watcher.on_get_property, None
    )
    connection.signal_subscribe(
        "org.freedesktop.DBus",
        "org.freedesktop.DBus",
        "NameOwnerChanged",
        "/org/freedesktop/DBus",
        None,
        Gio.DBusSignalFlags.NONE,
        watcher.on_name_owner_changed,
    )
    loop = GLib.MainLoop()
    reply = connection.call_sync(
        "org.freedesktop.DBus",
        "/org/freedesktop/DBus",
        "org.freedesktop.DBus",
        "RequestName",
        GLib.Variant("(su)", (WATCHER_NAME, 4)),  # DBUS_NAME_FLAG_DO_NOT_QUEUE
        GLib.VariantType("(u)"),
        Gio.DBusCallFlags.NONE,
        -1,
        None,
    )
    if reply.unpack()[0] != 1:  # not the primary owner
        print("cannot own", WATCHER_NAME, file=sys.stderr)
        return 1
    watcher.announce("ready", WATCHER_NAME)
    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, 15, loop.quit)  # SIGTERM ends it cleanly
    loop.run()
    return 0


if __name__ == "__main__":
    sys.exit(main())
