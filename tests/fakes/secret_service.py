#!/usr/bin/python3
"""Stand-ins for the Secret Service (org.freedesktop.secrets), each on a session bus of its own.

Starts a private dbus-daemon, owns "org.freedesktop.secrets" there and prints "ADDRESS <bus address>"
on stdout, then "CALL <interface>.<member> <path>" for each method call it receives.

  --mode stall   takes every call and never answers: the caller waits until its own time-out.
  --mode locked  a keyring whose one collection ("default") and one item (service "Kestrova",
                 account "kestrova_credentials") are locked; every unlock prompt is dismissed, as a
                 user declining it would. Creating an item in the locked collection is refused.

Stops after --lifetime seconds, or as soon as its stdin closes (the test that started it is gone),
and takes the bus down with it.
"""

import argparse
import subprocess
import sys
import threading

import dbus
import dbus.bus
import dbus.exceptions
import dbus.lowlevel
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

SERVICE = "org.freedesktop.Secret.Service"
COLLECTION = "org.freedesktop.Secret.Collection"
ITEM = "org.freedesktop.Secret.Item"
PROMPT = "org.freedesktop.Secret.Prompt"
PROPERTIES = "org.freedesktop.DBus.Properties"
ROOT_PATH = "/org/freedesktop/secrets"
COLLECTION_PATH = ROOT_PATH + "/collection/login"
ITEM_PATH = COLLECTION_PATH + "/1"
PROMPT_PATH = ROOT_PATH + "/prompt/"


def log_call(interface, member, path):
    print("CALL %s.%s %s" % (interface, member, path), flush=True)


class Properties(dbus.service.Object):
    """An object whose properties are a fixed table, read through org.freedesktop.DBus.Properties."""

    interface = ""
    table = {}

    @dbus.service.method(PROPERTIES, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        log_call(PROPERTIES, "Get", self.__dbus_object_path__)
        return self.table[name]

    @dbus.service.method(PROPERTIES, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        log_call(PROPERTIES, "GetAll", self.__dbus_object_path__)
        return self.table if interface in ("", self.interface) else {}

    @dbus.service.method(PROPERTIES, in_signature="ssv", out_signature="")
    def Set(self, interface, name, value):
        raise dbus.exceptions.DBusException("read-only", name="org.freedesktop.DBus.Error.PropertyReadOnly")


def locked_error():
    return dbus.exceptions.DBusException("the collection is locked", name="org.freedesktop.Secret.Error.IsLocked")


class Prompt(dbus.service.Object):
    @dbus.service.method(PROMPT, in_signature="s", out_signature="")
    def Prompt(self, window_id):
        log_call(PROMPT, "Prompt", self.__dbus_object_path__)
        # The user closes the unlock dialog without unlocking.
        GLib.idle_add(lambda: self.Completed(True, dbus.Array([], signature="o", variant_level=1)) and False)

    @dbus.service.method(PROMPT, in_signature="", out_signature="")
    def Dismiss(self):
        log_call(PROMPT, "Dismiss", self.__dbus_object_path__)

    @dbus.service.signal(PROMPT, signature="bv")
    def Completed(self, dismissed, result):
        pass


class LockedService(Properties):
    interface = SERVICE

    def __init__(self, bus):
        super().__init__(bus, ROOT_PATH)
        self.bus = bus
        self.prompts = []
        self.table = {"Collections": dbus.Array([dbus.ObjectPath(COLLECTION_PATH)], signature="o")}

    def new_prompt(self):
        path = PROMPT_PATH + str(len(self.prompts) + 1)
        self.prompts.append(Prompt(self.bus, path))
        return dbus.ObjectPath(path)

    @dbus.service.method(SERVICE, in_signature="sv", out_signature="vo")
    def OpenSession(self, algorithm, argument):
        log_call(SERVICE, "OpenSession", ROOT_PATH)
        if algorithm != "plain":
            raise dbus.exceptions.DBusException("only plain", name="org.freedesktop.DBus.Error.NotSupported")
        return dbus.String("", variant_level=1), dbus.ObjectPath(ROOT_PATH + "/session/1")

    @dbus.service.method(SERVICE, in_signature="a{ss}", out_signature="aoao")
    def SearchItems(self, attributes):
        log_call(SERVICE, "SearchItems", ROOT_PATH)
        return dbus.Array([], signature="o"), dbus.Array([dbus.ObjectPath(ITEM_PATH)], signature="o")

    @dbus.service.method(SERVICE, in_signature="ao", out_signature="aoo")
    def Unlock(self, objects):
        log_call(SERVICE, "Unlock", ROOT_PATH)
        return dbus.Array([], signature="o"), self.new_prompt()

    @dbus.service.method(SERVICE, in_signature="ao", out_signature="aoo")
    def Lock(self, objects):
        log_call(SERVICE, "Lock", ROOT_PATH)
        return dbus.Array(objects, signature="o"), dbus.ObjectPath("/")

    @dbus.service.method(SERVICE, in_signature="aoo", out_signature="a{o(oayays)}")
    def GetSecrets(self, items, session):
        log_call(SERVICE, "GetSecrets", ROOT_PATH)
        return dbus.Dictionary({}, signature="o(oayays)")

    @dbus.service.method(SERVICE, in_signature="s", out_signature="o")
    def ReadAlias(self, name):
        log_call(SERVICE, "ReadAlias", ROOT_PATH)
        return dbus.ObjectPath(COLLECTION_PATH if name == "default" else "/")


class LockedCollection(Properties):
    interface = COLLECTION

    def __init__(self, bus):
        super().__init__(bus, COLLECTION_PATH)
        self.table = {"Items": dbus.Array([dbus.ObjectPath(ITEM_PATH)], signature="o"), "Label": "Login",
                      "Locked": True, "Created": dbus.UInt64(0), "Modified": dbus.UInt64(0)}

    @dbus.service.method(COLLECTION, in_signature="a{sv}(oayays)b", out_signature="oo")
    def CreateItem(self, properties, secret, replace):
        log_call(COLLECTION, "CreateItem", COLLECTION_PATH)
        raise locked_error()

    @dbus.service.method(COLLECTION, in_signature="a{ss}", out_signature="ao")
    def SearchItems(self, attributes):
        log_call(COLLECTION, "SearchItems", COLLECTION_PATH)
        return dbus.Array([dbus.ObjectPath(ITEM_PATH)], signature="o")


class LockedItem(Properties):
    interface = ITEM

    def __init__(self, bus):
        super().__init__(bus, ITEM_PATH)
        attributes = dbus.Dictionary({"service": "Kestrova", "account": "kestrova_credentials",
                                      "xdg:schema": "org.kestrova.GenericPassword"}, signature="ss")
        self.table = {"Locked": True, "Attributes": attributes, "Label": "Kestrova", "Created": dbus.UInt64(0),
                      "Modified": dbus.UInt64(0)}

    @dbus.service.method(ITEM, in_signature="o", out_signature="(oayays)")
    def GetSecret(self, session):
        log_call(ITEM, "GetSecret", ITEM_PATH)
        raise locked_error()

    @dbus.service.method(ITEM, in_signature="(oayays)", out_signature="")
    def SetSecret(self, secret):
        log_call(ITEM, "SetSecret", ITEM_PATH)
        raise locked_error()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--mode", choices=("stall", "locked"), default="stall")
    parser.add_argument("--lifetime", type=float, default=60.0)
    args = parser.parse_args()

    daemon = subprocess.Popen(["/usr/bin/dbus-daemon", "--session", "--nofork", "--print-address=1"],
                              stdout=subprocess.PIPE, text=True)
    try:
        address = daemon.stdout.readline().strip()
        if not address:
            sys.exit("dbus-daemon printed no address")
        DBusGMainLoop(set_as_default=True)
        bus = dbus.bus.BusConnection(address)
        keep = []
        if args.mode == "stall":
            def on_message(connection, message):
                if message.get_type() != dbus.lowlevel.MESSAGE_TYPE_METHOD_CALL:
                    return dbus.lowlevel.HANDLER_RESULT_NOT_YET_HANDLED
                keep.append(message)  # held, so that nothing answers it
                log_call(message.get_interface(), message.get_member(), message.get_path())
                return dbus.lowlevel.HANDLER_RESULT_HANDLED

            bus.add_message_filter(on_message)
        else:
            keep += [LockedService(bus), LockedCollection(bus), LockedItem(bus)]
        if bus.request_name("org.freedesktop.secrets", dbus.bus.NAME_FLAG_DO_NOT_QUEUE) != \
                dbus.bus.REQUEST_NAME_REPLY_PRIMARY_OWNER:
            sys.exit("could not own org.freedesktop.secrets")

        loop = GLib.MainLoop()

        def watch_stdin():
            sys.stdin.read()
            GLib.idle_add(loop.quit)

        threading.Thread(target=watch_stdin, daemon=True).start()
        GLib.timeout_add(int(args.lifetime * 1000), loop.quit)
        print("ADDRESS " + address, flush=True)
        loop.run()
    finally:
        daemon.terminate()
        daemon.wait(5)


if __name__ == "__main__":
    main()
