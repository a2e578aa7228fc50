#!/usr/bin/env python3
"""What a screen reader finds in one application, read through AT-SPI.

    accessible-names.py APP_NAME [--press NAME]

Prints one line per button of APP_NAME's windows: its role, a tab and its
name. With --press, then presses the button of that name (as a screen
reader's user does) and lists again after it. Exit status 1 when the
application does not show up on the accessibility bus.
"""

import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402

BUTTONS = {"push button", "toggle button", "button", "menu button", "check box"}


def applications():
    desktop = Atspi.get_desktop(0)
    return [desktop.get_child_at_index(index) for index in range(desktop.get_child_count())]


def find_application(name, seconds=30):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        for app in applications():
            if app is not None and (app.get_name() or "").lower() == name.lower():
                return app
        time.sleep(0.2)
    return None


def nodes(node, depth=0):
    # Deep enough for GTK's and WebKit's trees; a loop in a broken tree ends here.
    if node is None or depth > 60:
        return
    yield node
    for index in range(node.get_child_count()):
        yield from nodes(node.get_child_at_index(index), depth + 1)


def buttons(app):
    return [(node.get_role_name(), node.get_name() or "") for node in nodes(app) if node.get_role_name() in BUTTONS]


def press(app, name):
    for node in nodes(app):
        if node.get_role_name() in BUTTONS and node.get_name() == name:
            if "Action" in (node.get_interfaces() or []) and Atspi.Action.get_n_actions(node) > 0:
                Atspi.Action.do_action(node, 0)
                return True
    return False


def main(argv):
    args = argv[1:]
    app_name, pressed = args[0], None
    if "--press" in args:
        pressed = args[args.index("--press") + 1]
    app = find_application(app_name)
    if app is None:
        names = [app.get_name() for app in applications() if app is not None]
        print("no application named " + app_name + "; there are " + repr(names), file=sys.stderr)
        return 1
    for role, name in buttons(app):
        print(role + "\t" + name)
    if pressed is not None:
        if not press(app, pressed):
            print("no button named " + pressed, file=sys.stderr)
            return 1
        time.sleep(1)
        print("-- after pressing " + pressed)
        for role, name in buttons(app):
            print(role + "\t" + name)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
