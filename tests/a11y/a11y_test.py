#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
# The program as a screen reader reads it: through the accessibility bus
# (AT-SPI, Debian's pyatspi), on a virtual display of its own, driven from the
# keyboard (xdotool): the main window, a session whose connection failed, the
# menus and the properties sheet; then, as a user runs it, a second start, a
# session with a FreeRDP shadow server of the test's own (opened from the find
# bar) and the loss of the display.
#
#     dbus-run-session -- a11y_test.py PROGRAM ENGINE_MODULE
#
# Inside that private session bus it starts the accessibility bus. Exits 77
# (skipped) only when that bus cannot start; a missing tool or module is a failure.

import functools
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

SKIP = 77

# Groups (one empty, one nested) and servers; "Refused" is a loopback port
# only root could listen on, "Live" the shadow server.
CONFIG = """<?xml version="1.0"?><Vandrelle><Servers>
<Group><Properties><Name>Office</Name></Properties>
 <Server><Name>Build box</Name><Server>10.0.0.4</Server></Server>
 <Server><Name>Lab</Name><Server>10.0.0.5</Server></Server>
 <Group><Properties><Name>Racks</Name></Properties>
  <Server><Name>Rack 1</Name><Server>10.0.1.1</Server></Server></Group></Group>
<Group><Properties><Name>Empty</Name></Properties></Group>
<Server><Name>Live</Name><Server>127.0.0.1</Server><InheritGeneral>0</InheritGeneral>
 <RDPPort>{port}</RDPPort><DesktopWidth>800</DesktopWidth><DesktopHeight>600</DesktopHeight>
 <AudioRedirectionMode>2</AudioRedirectionMode></Server>
<Server><Name>Refused</Name><Server>127.0.0.1</Server><InheritGeneral>0</InheritGeneral>
 <RDPPort>1</RDPPort></Server>
</Servers><Settings><SingleInstance>1</SingleInstance></Settings></Vandrelle>
"""

# What a screen reader says of each tree item besides its name, and whether
# it is an open group (expandable and expanded) or cannot open (not expandable).
TREE_ITEMS = (("Office", "group, 3 servers", True), ("Racks", "group, 1 server", True),
              ("Empty", "group, no servers", False), ("Lab", "server, 10.0.0.5", False))
# The keys that open a menu of the tree, and the name it must have.
TREE_MENUS = ((("Home", "Menu"), "Group"), (("Escape", "End", "Up", "Menu"), "Server"))
SHEET_PAGES = ["General", "Display", "Local Resources", "Experience"]
WINDOWS = ("popup menu", "menu", "dialog", "frame")
CONTROLS = ("push button", "check box", "radio button", "text", "password text", "combo box",
            "spin button", "slider", "list")
failures = []
pumps = []  # run while waiting: the accessibility bus's events are delivered there


def check(condition, what):
    print(("ok   " if condition else "FAIL ") + what, flush=True)
    if not condition:
        failures.append(what)
    return condition


def end(code, why):
    print(("SKIPPED: " if code == SKIP else "FAIL ") + why, flush=True)
    sys.exit(code)


# The probe's first value other than None and False, or None when time
# runs out.
def wait_for(probe, seconds=20.0):
    deadline = time.monotonic() + seconds
    while True:
        for pump in pumps:
            pump()
        try:
            value = probe()
        except Exception:  # an object gone while it was read
            value = None
        if value is not None and value is not False:
            return value
        if time.monotonic() > deadline:
            return None
        time.sleep(0.1)


# --- the buses, the display and the program -----------------------------------

# The accessibility bus, which the private session bus starts when it is first
# asked for it, with a runtime folder of the test's own.
def start_accessibility_bus(display, work):
    from gi.repository import Gio, GLib
    runtime = os.path.join(work, "bus")
    os.makedirs(runtime, mode=0o700)
    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)

    def call(name, path, method, args=None, reply=None):  # the service's own interface
        return bus.call_sync(name, path, name, method, args, reply, 0, 2000, None)
    call("org.freedesktop.DBus", "/org/freedesktop/DBus", "UpdateActivationEnvironment",
         GLib.Variant("(a{ss})", ({"DISPLAY": display, "XDG_RUNTIME_DIR": runtime},)))
    if not wait_for(lambda: call("org.a11y.Bus", "/org/a11y/bus", "GetAddress",
                                 reply=GLib.VariantType("(s)")), 15):
        end(SKIP, "the accessibility bus did not start (at-spi-bus-launcher gave no address)")


def start_display(processes):  # the Xvfb, also added to the processes, and its display
    read, write = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1280x800x24",
                             "-nolisten", "tcp", "-noreset"], pass_fds=(write,),
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    processes.append(xvfb)
    os.close(write)
    with os.fdopen(read, "rb") as pipe:
        number = pipe.readline().strip().decode()
    return xvfb, ":" + number if number else end(1, "Xvfb did not start")


# The program copied beside its configuration file, with folders of its own
# and its engine module: the running program, and how to start it again.
def start_program(program, engine, work, display, port):
    at = functools.partial(os.path.join, work)
    for sub in ("bin", "home/xdg", "runtime"):
        os.makedirs(at(sub), mode=0o700)
    copy = shutil.copy(program, at("bin/vandrelle"))
    # The engine module where the copy looks for it, as beside the program.
    module = at("bin", os.path.relpath(engine, os.path.dirname(program)))
    os.makedirs(os.path.dirname(module))
    os.symlink(engine, module)
    with open(at("bin/Vandrelle.xml"), "w") as f:
        f.write(CONFIG.format(port=port))
    env = dict(os.environ, DISPLAY=display, HOME=at("home"), XDG_CONFIG_HOME=at("home/xdg"),
               XDG_RUNTIME_DIR=at("runtime"), QT_QPA_PLATFORM="xcb",
               QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", LSAN_OPTIONS="suppressions=" +
               os.path.join(os.path.dirname(__file__), "lsan-suppressions.txt"))
    env.pop("WAYLAND_DISPLAY", None)
    return subprocess.Popen([copy], env=env, stdout=subprocess.DEVNULL,
                            stderr=open(at("program.log"), "w")), [copy], env


# The FreeRDP shadow server, without log-on, serving a display of its own on a
# free loopback port (returned), once it takes connections.
def start_shadow(work, processes):
    display = start_display(processes)[1]
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    processes.append(subprocess.Popen(
        ["freerdp-shadow-cli3", "/bind-address:127.0.0.1", "/port:%d" % port, "-auth"],
        env=dict(os.environ, DISPLAY=display, HOME=work), stdout=subprocess.DEVNULL,
        stderr=subprocess.DEVNULL))
    if not wait_for(lambda: socket.create_connection(("127.0.0.1", port), 1).close() is None, 10):
        end(1, "the shadow server did not listen")
    return port


# --- reading the tree ----------------------------------------------------------

def role(node):
    try:
        return node.getRoleName()
    except Exception:  # gone from the bus (a menu deleted once closed)
        return None


def states(node):
    import pyatspi
    have = node.getState()
    return {name for name in ("expandable", "expanded", "selected", "showing")
            if have.contains(getattr(pyatspi, "STATE_" + name.upper()))}


# The text a screen reader reads through the text interface, or None.
def text_of(node):
    try:
        return node.queryText().getText(0, -1)
    except NotImplementedError:
        return None


def children(node):
    return [node.getChildAtIndex(i) for i in range(node.childCount)]


def walk(node):
    yield node
    for child in children(node) if role(node) != "menu item" else ():
        if child is not None:
            yield from walk(child)


def find(node, wanted_role, name=None):
    return next((n for n in walk(node) if role(n) == wanted_role and
                 (name is None or n.name == name)), None) if node is not None else None


def status_text(frame):
    return next((t for n in walk(find(frame, "status bar")) for t in [text_of(n)] if t), None)


def tab(frame, name):
    return find(find(frame, "page tab list"), "page tab", name)


# The program on the bus. Its menus and dialogs have a parent window, and
# Qt lists only windows without one as the application's children: they
# are found, as a screen reader finds them, from the object that takes the
# focus and from what shows.
class Session:

    def __init__(self, display):
        import pyatspi
        from gi.repository import GLib
        self.display = display
        self.focused = None
        self.shown = []
        pyatspi.Registry.registerEventListener(self.on_event, "object:state-changed:focused",
                                               "object:state-changed:showing")
        context = GLib.MainContext.default()
        pumps.append(lambda: [None for _ in iter(lambda: context.iteration(False), False)])
        self.app = wait_for(lambda: next(a for a in children(pyatspi.Registry.getDesktop(0))
                                         if a and a.name == "Vandrelle"), 30)

    def on_event(self, event):
        if event.detail1 and event.type.endswith("focused"):
            self.focused = event.source
        elif event.detail1:
            self.shown.append(event.source)

    def windows(self):
        found = [w for w in children(self.app) if w is not None]
        found += [w for w in self.shown if role(w) in WINDOWS]
        node = self.focused
        while node is not None and role(node) != "application":
            found.append(node)
            node = node.parent
        return found

    def window(self, wanted_role, name=None, seconds=20):
        return wait_for(lambda: next(w for w in self.windows() if role(w) == wanted_role and
                                     (name is None or w.name == name) and
                                     "showing" in states(w)), seconds)

    def output(self, *command, check=False):  # what it prints, run on the program's display
        return subprocess.run(command, env=dict(os.environ, DISPLAY=self.display), timeout=30,
                              capture_output=True, text=True, check=check).stdout

    def xdotool(self, *args):
        self.output("xdotool", *args, check=True)

    # A closed dialog gives the focus back only with a window manager.
    def focus(self, title="Vandrelle"):
        self.xdotool("search", "--sync", "--onlyvisible", "--name", "^%s$" % title, "windowfocus",
                     "--sync")

    def keys(self, *keys, window=None):  # typed into that window, focused first, when named
        if window:
            self.focus(window)
        self.xdotool("key", "--delay", "60", *keys)
        wait_for(lambda: None, 0.3)


# --- what is checked -------------------------------------------------------------

def check_main_window(frame):
    check(tab(frame, "Servers") is not None, "the tab strip is a page tab list with the tree's tab")
    tree = find(frame, "tree", "Servers") or find(frame, "tree table", "Servers")
    check(tree is not None, "the server tree is named 'Servers'")
    items = {n.name: n for n in walk(tree)} if tree else {}
    for name, description, opens in TREE_ITEMS:
        have = states(items[name]) if name in items else set()
        check(name in items and items[name].description == description and
              ({"expandable", "expanded"} <= have if opens else "expandable" not in have),
              "tree item %s has the description %r and is an open group: %s (%s)" % (
                  name, description, opens, have))
    check(status_text(frame) == "Ready", "the status bar reads 'Ready' through its text")


def check_failed_session(s, frame):
    s.keys("End", "Return")  # the last item, "Refused"
    check(wait_for(lambda: tab(frame, "Refused").description == "disconnected"),
          "a failed session's tab is named by its caption and says 'disconnected'")
    check(wait_for(lambda: any((text_of(n) or n.name or "").startswith("Disconnected, reason")
                               and "showing" in states(n) for n in walk(frame))),
          "the session page's message is readable text and showing")


def check_window_menu(s):
    s.keys("ctrl+Tab", "F10")  # back to the tree, on "Refused" (a connected session has F10)
    menu = s.window("popup menu", "Window", 10)
    if check(menu is not None, "the window menu is a menu named 'Window'"):
        names = [n.name for n in children(menu) if role(n) == "menu item"]
        check({"Quick Connect...", "About..."} <= set(names),
              "the window menu's items are named without their mnemonic marks (%s)" % names)
    s.keys("Escape")


def check_tree_menus_and_properties(s):
    for keys, name in TREE_MENUS:
        s.keys(*keys)
        menu = s.window("popup menu", None, 10)
        check(menu is not None and menu.name == name,
              "a %s's menu is named %r (%r)" % (name.lower(), name, menu and menu.name))
    s.keys("p")  # "&Properties" of "Rack 1"
    sheet = s.window("dialog", "Properties of Rack 1")
    if not check(sheet is not None, "the server's properties sheet opens as a dialog"):
        return
    pages = [n for n in walk(sheet) if role(n) == "page tab"]
    check([p.name for p in pages] == SHEET_PAGES, "the sheet's pages are named")
    for page in pages:
        wait_for(lambda: "selected" in states(page), 5)
        controls = [n for n in walk(sheet) if "showing" in states(n) and role(n) in CONTROLS]
        nameless = [role(n) for n in controls if not n.name]
        check(len(controls) > 2 and not nameless, "every control of the sheet's page %s has a "
              "name (%d controls, nameless: %s)" % (page.name, len(controls), nameless))
        s.keys("ctrl+Tab")
    s.keys("Escape")


# A second start hands over to the first and touches no file.
def check_second_start(command, env, work):
    files = [os.path.join(work, f)
             for f in ("bin/Vandrelle.xml", "home/xdg/vandrelle/registry.reg")]
    state = lambda: [(open(f, "rb").read(), os.stat(f).st_mtime_ns) for f in files  # noqa: E731
                     if os.path.exists(f)]
    before = state()
    second = subprocess.run(command, env=env, timeout=20, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    check(second.returncode == 0 and state() == before,
          "a second start hands over to the first and touches no file")


# The server found by a part of its name (Ctrl+F): the find field tells the
# count and the screen reader the match; opened with Enter, its certificate
# accepted: its tab says it is connected.
def check_connected_session(s, frame):
    s.keys("ctrl+f", window="Vandrelle")
    s.xdotool("type", "--delay", "60", "liv")
    field = wait_for(lambda: find(frame, "text", "Find server"), 5)
    check(field is not None and wait_for(lambda: field.description == "1 of 5 servers", 5),
          "the find field is named 'Find server' and its description tells the count")
    check(wait_for(lambda: s.focused is not None and s.focused.name == "Live", 5),
          "the screen reader is told of the selected match (%s)" % (s.focused and s.focused.name))
    s.keys("Return")
    s.keys("alt+o", window="Server certificate")  # "Connect &once"
    check(wait_for(lambda: tab(frame, "Live").description == "connected"),
          "a connected session's tab says 'connected'")
    # Back to the tree, the find bar closed.
    s.keys("ctrl+Tab", "Escape", window="Live - Vandrelle")


# The server deleted (confirmed) is only marked in the store; the window
# menu's Close asks first, as a session is connected; the display goes
# meanwhile: the program ends with Qt's code for it, without a crash, and saves.
def check_lost_display(s, app, xvfb, work):
    s.keys("Delete")
    s.keys("alt+y", window="Confirm")
    check(wait_for(lambda: not s.output("xdotool", "search", "--onlyvisible", "--name",
                                        "^Confirm$"), 10), "the confirmation closes")
    s.keys("F10", window="Vandrelle")
    s.window("popup menu", "Window", 10)
    s.keys("c")
    s.focus("Quit Vandrelle")
    xvfb.kill()
    check(app.wait(20) == 1, "a lost display ends the program with Qt's code for it")
    config = open(os.path.join(work, "bin", "Vandrelle.xml")).read()
    check("Live" not in config and "Refused" in config, "the program saved as it ended")


def main(program, engine):
    processes = []  # ended at the end, also when a check stops the test
    with tempfile.TemporaryDirectory(prefix="vandrelle-a11y-") as work:
        try:
            xvfb, display = start_display(processes)
            port = start_shadow(work, processes)
            start_accessibility_bus(display, work)
            app, command, env = start_program(program, engine, work, display, port)
            processes.append(app)
            s = Session(display)
            frame = s.app and s.window("frame", "Vandrelle", 30)
            if not frame:
                end(1, "the main window never showed on the accessibility bus")
            s.focus()
            check_second_start(command, env, work)
            check_main_window(frame)
            check_failed_session(s, frame)
            check_window_menu(s)
            check_tree_menus_and_properties(s)
            check_connected_session(s, frame)
            check_lost_display(s, app, xvfb, work)
        finally:
            for process in processes:
                process.kill()
                process.wait()
            log = os.path.join(work, "program.log")
            if failures and os.path.exists(log):
                print("--- the program's output ---\n" + open(log).read())
    if failures:
        end(1, "%d check(s) failed" % len(failures))


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: a11y_test.py PROGRAM ENGINE_MODULE")
    main(os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2]))
