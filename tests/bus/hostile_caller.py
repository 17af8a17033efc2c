#!/usr/bin/python3
"""A local user who tries to stop the service from serving anyone else.

  hostile_caller.py agent PID [GRANT_FILE]
      Registers a polkit authentication agent for process PID that never
      answers. Prints "REGISTERED", then "BEGIN <cookie> <message>" and
      "CANCEL <cookie>" as polkit asks it and gives up, with the monotonic
      time in seconds. With GRANT_FILE (run as root), once that file exists
      it tells polkit that each pending authentication succeeded, as
      polkit's own helper does after a right password.

  hostile_caller.py flood METHOD COUNT PATH [GO_FILE]
      Waits until GO_FILE exists (when given), then makes COUNT calls at
      once on the enclosure object PATH: METHOD is "check" (CheckFirmware
      with a sparse 16 MiB memfd each) or "buzzer" (SetBuzzer, which needs
      an administrator, so polkit asks the agent). Prints "SENT", then a
      line per answer ("OK", or the error's name and message), and "DONE" once all came.

The system bus is DBUS_SYSTEM_BUS_ADDRESS's.
"""
import os
import sys
import time

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

SERVICE = "org.raidenclosure.Manager1"
ENCLOSURE = "org.raidenclosure.Manager1.Enclosure"
POLKIT = "org.freedesktop.PolicyKit1"
AGENT_PATH = "/org/raidenclosure/test/HungAgent"


def say(text):
    print(f"{text} {time.monotonic():.3f}", flush=True)


def start_time(pid):
    # Field 22 of /proc/PID/stat, after the command name in parentheses.
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return int(fields[19])


class HungAgent(dbus.service.Object):
    @dbus.service.method("org.freedesktop.PolicyKit1.AuthenticationAgent",
                         in_signature="sssa{ss}sa(sa{sv})", out_signature="",
                         async_callbacks=("ok", "error"))
    def BeginAuthentication(self, action, message, icon, details, cookie, identities,
                            ok, error):
        say(f"BEGIN {cookie} {message}")
        self.pending.append((cookie, identities[0], ok))

    @dbus.service.method("org.freedesktop.PolicyKit1.AuthenticationAgent",
                         in_signature="s", out_signature="")
    def CancelAuthentication(self, cookie):
        say(f"CANCEL {cookie}")

    def grant(self, authority):
        for cookie, identity, ok in self.pending:
            authority.AuthenticationAgentResponse2(dbus.UInt32(os.getuid()), cookie, identity)
            ok()
            say(f"GRANTED {cookie}")
        self.pending = []


def agent(pid, grant_file):
    bus = dbus.SystemBus()
    keep = HungAgent(bus, AGENT_PATH)
    keep.pending = []
    authority = dbus.Interface(bus.get_object(POLKIT, "/org/freedesktop/PolicyKit1/Authority"),
                               "org.freedesktop.PolicyKit1.Authority")
    subject = ("unix-process", {"pid": dbus.UInt32(pid),
                                "start-time": dbus.UInt64(start_time(pid))})
    authority.RegisterAuthenticationAgent(subject, "C", AGENT_PATH)
    say("REGISTERED")
    if grant_file:
        def poll():
            if os.path.exists(grant_file):
                keep.grant(authority)
            return True
        GLib.timeout_add(50, poll)
    GLib.MainLoop().run()
    del keep


def flood(method, count, path, go_file):
    bus = dbus.SystemBus()
    while go_file and not os.path.exists(go_file):
        time.sleep(0.02)
    enclosure = dbus.Interface(bus.get_object(SERVICE, path, introspect=False), ENCLOSURE)
    loop = GLib.MainLoop()
    left = [count]

    def answered(text):
        print(text, flush=True)
        left[0] -= 1
        if left[0] == 0:
            print("DONE", flush=True)
            loop.quit()

    for _ in range(count):
        handlers = dict(reply_handler=lambda *a: answered("OK"),
                        error_handler=lambda e: answered(f"{e.get_dbus_name()} {e.get_dbus_message()}"),
                        timeout=900)
        if method == "check":
            fd = os.memfd_create("image")
            os.ftruncate(fd, 16 * 1024 * 1024)  # sparse: costs the sender nothing
            enclosure.CheckFirmware(dbus.types.UnixFd(fd), dbus.Dictionary({}, signature="sv"),
                                    **handlers)
            os.close(fd)
        else:
            enclosure.SetBuzzer(True, dbus.Dictionary({}, signature="sv"), **handlers)
    print("SENT", flush=True)
    loop.run()


def main():
    DBusGMainLoop(set_as_default=True)
    if sys.argv[1] == "agent":
        agent(int(sys.argv[2]), sys.argv[3] if len(sys.argv) > 3 else "")
    else:
        flood(sys.argv[2], int(sys.argv[3]), sys.argv[4], sys.argv[5] if len(sys.argv) > 5 else "")


if __name__ == "__main__":
    main()
