"""Both windows on a real X server, driven as a person would: through the
accessibility bridge (find by role and name, press, set text) and xdotool
where real clicks and keystrokes matter. Runs inside its own D-Bus session
(dbus-run-session); every step leaves a screenshot in the output folder.

usage: first_hour.py BUILD_DIR SOURCE_DIR OUT_DIR"""
import json
import os
import random
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

import pyatspi

import screen

BUILD, SOURCE, OUT = (os.path.abspath(p) for p in sys.argv[1:4])
HERE = os.path.dirname(os.path.abspath(__file__))
STEP_TIMEOUT = 30.0
processes = []
step_number = [0]


class Failed(Exception):
    pass


def wait_for(what, condition, timeout=STEP_TIMEOUT):
    """Polls condition until it gives something true; fails with `what`."""
    deadline = time.monotonic() + timeout
    while True:
        try:
            value = condition()
        except Exception:  # an object that went away while being read: look again
            value = None
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failed("timed out waiting for " + what)
        time.sleep(0.1)


def start(args, **kw):
    p = subprocess.Popen(args, **kw)
    processes.append(p)
    return p


def stop_all():
    for p in reversed(processes):
        if p.poll() is None:
            p.terminate()
    for p in reversed(processes):
        try:
            p.wait(timeout=5)
        except subprocess.TimeoutExpired:
            p.kill()


# ---------------------------------------------------------------- the screen

def start_x(work):
    # A display of its own far from the usual ones, which other programs on
    # a shared machine may take, and clean up, by number. -noreset: without
    # it the server regenerates when its last client leaves (the probe
    # below), and a program connecting meanwhile is refused.
    for _ in range(20):
        number = random.randrange(300, 1000)
        if os.path.exists("/tmp/.X%d-lock" % number):
            continue
        read_end, write_end = os.pipe()
        x = start(["Xvfb", ":%d" % number, "-displayfd", str(write_end), "-screen", "0", "1280x900x24",
                   "-fbdir", work, "-nolisten", "tcp", "-noreset"],
                  pass_fds=(write_end,), stderr=open(os.path.join(OUT, "xvfb.log"), "w"))
        os.close(write_end)
        with os.fdopen(read_end) as f:
            ready = f.readline().strip()
        if not ready or x.poll() is not None:
            continue
        display = ":%d" % number
        if subprocess.run(["xdotool", "getdisplaygeometry"], env=dict(os.environ, DISPLAY=display),
                          capture_output=True).returncode == 0:
            return display, os.path.join(work, "Xvfb_screen0")
        x.terminate()
    raise Failed("no X server could be started")


def shot(name, box=None):
    step_number[0] += 1
    path = os.path.join(OUT, "%02d-%s.png" % (step_number[0], name))
    screen.save(FRAMEBUFFER, path, box)
    print("step %d: %s" % (step_number[0], name), flush=True)
    return path


def xdotool(*args):
    subprocess.run(["xdotool"] + [str(a) for a in args], check=True, env=dict(os.environ, DISPLAY=DISPLAY))


def click(acc, button=1):
    """A real click in the middle of the object."""
    e = acc.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    xdotool("mousemove", "--sync", e.x + e.width // 2, e.y + e.height // 2, "click", button)


# ---------------------------------------------------------------- the bridge

def app(name):
    def find():
        for a in pyatspi.Registry.getDesktop(0):
            if a is not None and a.name == name:
                return a
        return None
    return wait_for("the program %s on the accessibility bus" % name, find)


def showing(acc):
    return acc.getState().contains(pyatspi.STATE_SHOWING)


def find(root, role, name=None, match=None, visible=True):
    """The first object below root with this role and name (or name matching)."""
    stack = [root]
    while stack:
        a = stack.pop(0)
        if a is None:
            continue
        if visible and a is not root and not showing(a):
            continue
        if a.getRoleName() == role and (name is None or a.name == name) and \
                (match is None or re.search(match, a.name or "", re.S)):
            return a
        # Rows are not where controls live.
        if a.getRoleName() not in LISTS:
            stack.extend(a[i] for i in range(a.childCount))
    return None


def need(root, role, name=None, match=None, what=None):
    return wait_for(what or "%s '%s'" % (role, name or match), lambda: find(root, role, name, match))


LISTS = ("table", "tree table", "tree", "list")


def rows_of(root, name):
    """A list or table view by its name (the role depends on the view)."""
    def look():
        for role in LISTS:
            t = find(root, role, name)
            if t is not None:
                return t
        return None
    return wait_for("the list " + name, look)


def cell(table, match):
    for i in range(table.childCount):
        c = table[i]
        if c is not None and c.getRoleName() not in ("column header", "table column header") and \
                re.search(match, c.name or ""):
            return c
    return None


def press(acc):
    action = acc.queryAction()
    for i in range(action.nActions):
        if action.getName(i) in ("press", "Press", "click", "toggle", "Toggle", "SetFocus"):
            action.doAction(i)
            return
    action.doAction(0)


def set_text(acc, text):
    acc.queryEditableText().setTextContents(text)


def text_of(acc):
    t = acc.queryText()
    return t.getText(0, t.characterCount)


def any_window(application, title):
    """A top-level window by its title (a plain widget window is a filler)."""
    def look():
        for i in range(application.childCount):
            w = application[i]
            if w is not None and w.name == title and showing(w):
                return w
        return None
    try:
        return wait_for("the window '%s'" % title, look)
    except Failed:
        there = ["%s '%s'" % (application[i].getRoleName(), application[i].name) for i in range(application.childCount)]
        raise Failed("no window '%s' among: %s" % (title, ", ".join(there)))


def box_of(acc):
    e = acc.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return (e.x, e.y, e.width, e.height)


def visible_windows(pid):
    r = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(pid), ""], capture_output=True, text=True,
                       env=dict(os.environ, DISPLAY=DISPLAY))
    return set(r.stdout.split())


def menu(process, button, keys):
    """Opens the menu of a button with a click and goes through it with the
    keyboard: popup menus are not on the accessibility bus."""
    before = visible_windows(process.pid)
    click(button)
    wait_for("the menu to open", lambda: visible_windows(process.pid) - before)
    xdotool("key", "--delay", "60", *keys)


# ---------------------------------------------------------------- notifications

def notifications():
    try:
        with open(NOTES) as f:
            return [json.loads(line) for line in f if line.strip()]
    except FileNotFoundError:
        return []


def notification(app_name, summary, body):
    return wait_for("a notification from %s: %s / %s" % (app_name, summary, body),
                    lambda: next((n for n in notifications() if n["app"] == app_name and n["summary"] == summary
                                  and n["body"] == body), None))


def invoke_action(nid, key):
    from gi.repository import Gio, GLib
    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    bus.emit_signal(None, "/org/freedesktop/Notifications", "org.freedesktop.Notifications", "ActionInvoked",
                    GLib.Variant("(us)", (nid, key)))
    bus.flush_sync(None)


# ---------------------------------------------------------------- the scenario

def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def scenario(work):
    port = free_port()
    base = os.path.join(work, "server")
    shutil.copytree(os.path.join(SOURCE, "packaging", "demo"), base)
    for f in ("user.cfg", "phonebook.ini"):
        os.chmod(os.path.join(base, "config", f), 0o600)
    ini = os.path.join(base, "config", "config.ini")
    with open(ini) as f:
        # The client port of this hour; no web page, so no second listener
        # that another program could hold.
        text = re.sub(r"(?m)^port=\d+", "port=%d" % port, f.read(), count=1)
        text = re.sub(r"(?m)^\[web\]\s*^port=\d+", "[web]\nport=0", text)
    with open(ini, "w") as f:
        f.write(text)
    home = os.path.join(work, "home")
    os.makedirs(home)

    env = dict(os.environ, DISPLAY=DISPLAY, QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
               QT_ACCESSIBILITY="1", HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"),
               XDG_DATA_HOME=os.path.join(home, ".local", "share"))
    env.pop("VELORA_CLIENTDIR", None)
    env.pop("VELORA_BASEDIR", None)
    log = open(os.path.join(OUT, "programs.log"), "w")
    start([os.path.join(BUILD, "server", "velora"), "--basedir", base, "--no-shutdown"], env=env, stdout=log,
          stderr=log)
    server = app("velora")
    server_window = any_window(server, "Velora XP")
    need(server_window, "label", "READY", what="the server READY")
    # A fresh client: no folder given, so the one of the desktop's standard.
    client_process = start([os.path.join(BUILD, "client", "velora-client")], env=env, stdout=log, stderr=log, cwd=home)
    client = app("velora-client")
    main = any_window(client, "Velora client")
    shot("both-windows")

    # The server's address, in the Configuration panel.
    menu(client_process, need(main, "push button", "Menu"), ["Down", "Right", "Down", "Return"])  # View > Configuration
    set_text(need(main, "text", "Server address :"), "127.0.0.1")
    set_text(need(main, "text", "Server port :"), str(port))
    # The plain port of this hour; a new folder starts encrypted.
    press(need(main, "check box", "Encrypted connection"))
    press(need(main, "push button", "   save   "))
    need(main, "label", "Configuration saved.")
    if not os.path.exists(os.path.join(home, ".config", "velora-client", "config", "config.cfg")):
        raise Failed("the settings are not in ~/.config/velora-client/config/config.cfg")
    shot("client-configuration")

    # Connect: with nothing remembered the client asks first.
    press(need(main, "push button", "Connect"))
    login = any_window(client, "Log in to the Velora server")
    shot("first-login", box_of(login))
    set_text(need(login, "text", "Username : "), "demo")
    set_text(need(login, "password text", "Password :"), "demo")
    press(need(login, "push button", "OK"))
    need(main, "push button", " Disconnect")
    need(main, "label", "READY", what="the client READY")
    shot("logged-in")

    # Dial: the first entry, Metro Online, is chosen already.
    need(main, "combo box", "Metro Online", what="Metro Online chosen in the entry box")
    press(need(main, "push button", " Dial"))
    need(main, "label", "Connected", what="the client Connected")
    need(server_window, "label", "Connected", what="the server Connected")
    need(main, "label", "Metro Online", what="the client's connected entry")
    shot("connected")

    # A message from the client to the operator: picked in the list, sent with Ctrl+Enter.
    menu(client_process, need(main, "push button", "Menu"), ["Down", "Down", "Return"])  # Send messege
    send = any_window(client, "send message")
    recipients = rows_of(send, "Lvclient")
    operator_row = wait_for("the operator's row", lambda: cell(recipients, r"^Admin@"))
    if cell(recipients, "^" + re.escape(socket.gethostname()) + "$"):
        raise Failed("the client's own row is among the recipients")
    click(operator_row)
    need(send, "label", match=r"^Send message to : Admin@")
    memo = need(send, "text", "Memo1")
    click(memo)
    xdotool("type", "--delay", "20", "Hello from the client")
    xdotool("key", "ctrl+Return")
    wait_for("the message to leave", lambda: text_of(memo) == "")
    client_host = wait_for("the client's name in its history",
                           lambda: re.search(r"< (.+) to Admin@", text_of(need(send, "text", "memo2"))))
    note = notification("velora", "Message from " + client_host.group(1), "Hello from the client")
    if "reply" not in note["actions"]:
        raise Failed("the operator's notification offers no Reply")
    shot("message-to-operator")

    # "Reply" on the notification: the operator's send window, addressed,
    # with the message in its history.
    invoke_action(note["id"], "reply")
    server_send = any_window(server, "send message")
    wait_for("the message in the operator's history",
             lambda: "Hello from the client" in text_of(find(server_send, "text", "memo2")))
    need(server_send, "label", match=r"^Send message to : " + re.escape(client_host.group(1)))
    click(need(server_send, "label", "see client list >>"))
    need(server_send, "label", "<< close client list")
    server_rows = rows_of(server_send, "Lvclient1")
    names = [server_rows[i].name for i in range(server_rows.childCount) if server_rows[i] is not None]
    if client_host.group(1) not in names or any(n.startswith("Admin@") for n in names):
        raise Failed("the operator's recipients are %s" % names)
    set_text(need(server_send, "text", "Memo1"), "Hello from the operator")
    press(need(server_send, "push button", "send"))
    wait_for("the reply in the client's history",
             lambda: "Hello from the operator" in text_of(find(send, "text", "memo2")))
    wait_for("the client's notification", lambda: next(
        (n for n in notifications() if n["app"] == "velora-client" and n["summary"].startswith("Message from Admin@")
         and n["body"] == "Hello from the operator"), None))
    shot("reply-to-client")

    # Lock: the server names who holds it.
    press(need(main, "push button", " Lock"))
    need(server_window, "label", match=r"^locked by " + re.escape(client_host.group(1)))
    shot("locked")
    press(need(main, "push button", " Unlock"))
    wait_for("the lock let go", lambda: find(server_window, "label", match=r"^locked by ") is None)

    # Hang up.
    press(need(main, "push button", " Hungup"))
    need(main, "label", "READY", what="the client READY after hang-up")
    need(server_window, "label", "READY", what="the server READY after hang-up")
    shot("hung-up")

    # The server goes offline and online again: the client says why, and comes back by itself.
    press(need(server_window, "push button", "Offline"))
    need(main, "label", "Disconnected from server")
    need(main, "label", match=r"^Disconnected from server: .*Connecting again in \d+ s")
    shot("server-offline")
    press(need(server_window, "push button", "Online"))
    need(main, "push button", " Disconnect", what="the client back by itself")
    need(main, "label", "READY", what="the client READY again")
    shot("back-by-itself")


def main():
    global DISPLAY, FRAMEBUFFER, NOTES
    os.makedirs(OUT, exist_ok=True)
    for old in os.listdir(OUT):
        os.remove(os.path.join(OUT, old))
    work = tempfile.mkdtemp(prefix="velora-gui-")
    NOTES = os.path.join(work, "notifications.jsonl")
    started = time.monotonic()
    try:
        DISPLAY, FRAMEBUFFER = start_x(work)
        os.environ["DISPLAY"] = DISPLAY
        start(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"], stderr=subprocess.DEVNULL)
        sink = start(["/usr/bin/python3", os.path.join(HERE, "notification_sink.py"), NOTES],
                     stdout=subprocess.PIPE, text=True)
        if sink.stdout.readline().strip() != "ready":
            raise Failed("the notification service did not start")
        scenario(work)
        print("passed in %.1f s; screenshots in %s" % (time.monotonic() - started, OUT), flush=True)
        return 0
    except (Failed, subprocess.CalledProcessError, OSError) as e:
        try:
            shot("failed")
        except Exception:
            pass
        print("FAIL: %s" % e, flush=True)
        return 1
    finally:
        stop_all()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    sys.exit(main())
