"""A notification service for the test's session bus: it answers as a
desktop's would (with actions) and writes each notification as a JSON line."""
import json
import sys

from gi.repository import Gio, GLib

INTERFACE = """
<node>
  <interface name="org.freedesktop.Notifications">
    <method name="GetCapabilities"><arg type="as" direction="out"/></method>
    <method name="GetServerInformation">
      <arg type="s" direction="out"/><arg type="s" direction="out"/>
      <arg type="s" direction="out"/><arg type="s" direction="out"/>
    </method>
    <method name="Notify">
      <arg type="s" direction="in"/><arg type="u" direction="in"/><arg type="s" direction="in"/>
      <arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="as" direction="in"/>
      <arg type="a{sv}" direction="in"/><arg type="i" direction="in"/>
      <arg type="u" direction="out"/>
    </method>
    <method name="CloseNotification"><arg type="u" direction="in"/></method>
    <signal name="ActionInvoked"><arg type="u"/><arg type="s"/></signal>
    <signal name="NotificationClosed"><arg type="u"/><arg type="u"/></signal>
  </interface>
</node>
"""


def main():
    log_path = sys.argv[1]
    state = {"next": 1}
    node = Gio.DBusNodeInfo.new_for_xml(INTERFACE)

    def call(_conn, _sender, _path, _iface, method, params, invocation):
        if method == "GetCapabilities":
            invocation.return_value(GLib.Variant("(as)", (["actions", "body"],)))
        elif method == "GetServerInformation":
            invocation.return_value(GLib.Variant("(ssss)", ("test sink", "velora tests", "1", "1.2")))
        elif method == "Notify":
            app, _replaces, _icon, summary, body, actions, _hints, _timeout = params.unpack()
            nid = state["next"]
            state["next"] += 1
            with open(log_path, "a") as f:
                f.write(json.dumps({"id": nid, "app": app, "summary": summary, "body": body,
                                    "actions": actions}) + "\n")
            invocation.return_value(GLib.Variant("(u)", (nid,)))
        else:
            invocation.return_value(None)

    def acquired(conn, _name):
        conn.register_object("/org/freedesktop/Notifications", node.interfaces[0], call, None, None)

    def owned(_conn, _name):
        # Ready: the scenario waits for this line.
        print("ready", flush=True)

    Gio.bus_own_name(Gio.BusType.SESSION, "org.freedesktop.Notifications", Gio.BusNameOwnerFlags.NONE,
                     acquired, owned, lambda *_: sys.exit(1))
    GLib.MainLoop().run()


if __name__ == "__main__":
    main()
