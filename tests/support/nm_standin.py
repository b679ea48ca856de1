#!/usr/bin/python3
"""A stand-in for NetworkManager on a private bus, answering only "Metered".

    nm_standin.py BUS_ADDRESS METERED

Owns org.freedesktop.NetworkManager on the bus at BUS_ADDRESS and answers
org.freedesktop.DBus.Properties.Get for its "Metered" property with METERED
(a uint32, as NetworkManager's NMMetered: 1 yes, 2 no, 3 guess yes, 4 guess
no). Prints "ready" once the name is owned, then serves until killed.
"""
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

NAME = "org.freedesktop.NetworkManager"


class Manager(dbus.service.Object):
    def __init__(self, bus, metered):
        super().__init__(bus, "/org/freedesktop/NetworkManager")
        self.metered = metered

    @dbus.service.method("org.freedesktop.DBus.Properties", in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        if interface != NAME or name != "Metered":
            raise dbus.exceptions.DBusException("no such property", name="org.freedesktop.DBus.Error.InvalidArgs")
        return dbus.UInt32(self.metered)


def main():
    DBusGMainLoop(set_as_default=True)
    bus = dbus.bus.BusConnection(sys.argv[1])
    keep = dbus.service.BusName(NAME, bus)
    manager = Manager(bus, int(sys.argv[2]))
    print("ready", flush=True)
    GLib.MainLoop().run()
    del keep, manager


if __name__ == "__main__":
    main()
