"""A stand-in for systemd-logind on a private system bus: the manager's GetSession and one
session that is active, enough for a headless GNOME Shell to start. Prints "ready" once it owns
its name."""

import sys

from gi.repository import Gio, GLib

SESSION = "/org/freedesktop/login1/session/orvane"
XML = """<node>
<interface name="org.freedesktop.login1.Manager">
  <method name="GetSession"><arg type="s" direction="in"/><arg type="o" direction="out"/></method>
  <method name="GetSessionByPID"><arg type="u" direction="in"/><arg type="o" direction="out"/>
  </method>
  <method name="ListSessions"><arg type="a(susso)" direction="out"/></method>
  <signal name="PrepareForSleep"><arg type="b"/></signal>
  <signal name="PrepareForShutdown"><arg type="b"/></signal>
</interface>
<interface name="org.freedesktop.login1.Session">
  <method name="TakeControl"><arg type="b" direction="in"/></method>
  <method name="ReleaseControl"/>
  <method name="SetIdleHint"><arg type="b" direction="in"/></method>
  <method name="SetLockedHint"><arg type="b" direction="in"/></method>
  <method name="Activate"/>
  <signal name="Lock"/>
  <signal name="Unlock"/>
  <property name="Id" type="s" access="read"/>
  <property name="Active" type="b" access="read"/>
  <property name="Remote" type="b" access="read"/>
  <property name="Class" type="s" access="read"/>
  <property name="Type" type="s" access="read"/>
  <property name="State" type="s" access="read"/>
  <property name="LockedHint" type="b" access="read"/>
  <property name="IdleHint" type="b" access="read"/>
  <property name="Seat" type="(so)" access="read"/>
  <property name="User" type="(uo)" access="read"/>
  <property name="Name" type="s" access="read"/>
</interface>
</node>"""

PROPERTIES = {
    "Id": GLib.Variant("s", "orvane"), "Active": GLib.Variant("b", True),
    "Remote": GLib.Variant("b", False), "Class": GLib.Variant("s", "user"),
    "Type": GLib.Variant("s", "wayland"), "State": GLib.Variant("s", "active"),
    "LockedHint": GLib.Variant("b", False), "IdleHint": GLib.Variant("b", False),
    "Seat": GLib.Variant("(so)", ("seat0", "/org/freedesktop/login1/seat/seat0")),
    "User": GLib.Variant("(uo)", (0, "/org/freedesktop/login1/user/_0")),
    "Name": GLib.Variant("s", "root"),
}


def method(connection, sender, path, interface, name, parameters, invocation):
    if name in ("GetSession", "GetSessionByPID"):
        invocation.return_value(GLib.Variant("(o)", (SESSION,)))
    elif name == "ListSessions":
        invocation.return_value(GLib.Variant(
            "(a(susso))", ([("orvane", 0, "root", "seat0", SESSION)],)))
    else:
        invocation.return_value(None)


def get_property(connection, sender, path, interface, name):
    return PROPERTIES.get(name)


def main():
    bus = Gio.DBusConnection.new_for_address_sync(
        sys.argv[1], Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT
        | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION, None, None)
    info = Gio.DBusNodeInfo.new_for_xml(XML)
    bus.register_object("/org/freedesktop/login1", info.interfaces[0], method, None, None)
    bus.register_object(SESSION, info.interfaces[1], method, get_property, None)
    loop = GLib.MainLoop()

    def acquired(*_):
        print("ready", flush=True)

    Gio.bus_own_name_on_connection(bus, "org.freedesktop.login1", 0, acquired, lambda *_: loop.quit())
    loop.run()


if __name__ == "__main__":
    main()
