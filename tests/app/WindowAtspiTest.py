#!/usr/bin/python3
"""The window as a screen reader meets it, over the desktop's accessibility bus (AT-SPI), through the library
the Orca screen reader uses, and keys from an X client: dbus-run-session -- /usr/bin/python3 WindowAtspiTest.py
build/regbench-sim (the sample map beside it). Starts and ends its own X server, accessibility bus and window;
each wait has a deadline that only a broken window reaches, however loaded the machine."""
import contextlib
import os
import subprocess
import sys
import time

from gi.repository import Gio, GLib

DEADLINE_S = 60
started = []


def start(args, **kwargs):
    started.append(subprocess.Popen(args, **kwargs))
    return started[-1]


def wait_for(what, probe):
    """probe's first true answer, polled until a deadline or until something started ends."""
    deadline = time.monotonic() + DEADLINE_S
    while time.monotonic() < deadline and all(p.poll() is None for p in started):
        with contextlib.suppress(Exception):  # the bus answers an error for an object not there yet
            if answer := probe():
                return answer
        time.sleep(0.05)
    raise AssertionError("gave up waiting for " + what)


def xdotool(*args):
    return subprocess.run(["xdotool", *args], check=True, capture_output=True, text=True).stdout.split()


def find(root, role, name, description=None):
    return pyatspi.findDescendant(root, lambda o: o.getRole() == role and o.name == name and (
        description is None or o.description == description))


def has(control, state):
    return control.getState().contains(state)


def main(program):
    global pyatspi
    # The X server on a display number it picks, so that parallel runs never meet; never reset, as a server
    # does when its last client leaves, which refuses whoever connects meanwhile (the window, after the bus).
    read_end, write_end = os.pipe()
    start(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24", "-nolisten", "tcp", "-noreset"],
          pass_fds=(write_end,))
    os.close(write_end)
    os.environ["DISPLAY"] = ":" + os.fdopen(read_end).readline().strip()
    # The accessibility bus's launcher, in place before anything asks for it: a request before would have D-Bus
    # start a second one, which races with this one for the name. The bus starts the registry when first asked.
    session = Gio.bus_get_sync(Gio.BusType.SESSION)
    start(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"])
    wait_for("the accessibility bus", lambda: session.call_sync(
        "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
        GLib.Variant("(s)", ("org.a11y.Bus",)), None, 0, -1).unpack()[0])
    import pyatspi
    window = start([program], env=dict(os.environ, QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1"))
    frame = wait_for("the window on the bus", lambda: next(a for a in pyatspi.Registry.getDesktop(0)
                                                            if a.name == os.path.basename(program) and a[0]))[0]
    assert frame.getRole() == pyatspi.ROLE_FRAME, frame.getRoleName()
    log = wait_for("the log", lambda: find(frame, pyatspi.ROLE_TEXT, "Log:"))
    text = log.queryText()
    # Start-up writes its last lines after its wait; an access before that would find its line rewritten.
    wait_for("the start-up's end", lambda: "interface detected." in text.getText(0, -1))

    # A bit set by the screen reader's activate is the value that Write sends.
    bit = find(frame, pyatspi.ROLE_CHECK_BOX, "ID7, bit 7", "Bit 7 of CHIP_ID (0x00)")
    bit.queryAction().doAction(0)
    wait_for("bit 7 checked", lambda: has(bit, pyatspi.STATE_CHECKED))
    assert find(frame, pyatspi.ROLE_TEXT, "Value of CHIP_ID (0x00)").queryText().getText(0, -1) == "80"
    find(frame, pyatspi.ROLE_PUSH_BUTTON, "Write", "CHIP_ID (0x00)").queryAction().doAction(0)
    wait_for("the write's line", lambda: "Writing register 0x00 = 0x80 successful" in text.getText(0, -1))

    # Every control a user can operate is named; the up-down and its arrows after their register.
    for control in pyatspi.findAllDescendants(frame, lambda o: has(o, pyatspi.STATE_SHOWING) and (
            has(o, pyatspi.STATE_FOCUSABLE) or o.getRole() == pyatspi.ROLE_SCROLL_BAR or
            "Action" in pyatspi.listInterfaces(o) and o.queryAction().nActions)):
        assert control.name, control.getRoleName()
    assert find(find(frame, pyatspi.ROLE_FILLER, "Step value of REVISION (0x01)"), pyatspi.ROLE_PUSH_BUTTON,
                "Step down REVISION (0x01)")

    # Each character's own box, on the screen within the log; past the line's end, no character.
    line = text.getText(0, -1).index("Writing register")
    (x, y, width, height), (next_x, _, _, _) = (text.getCharacterExtents(line + i, pyatspi.DESKTOP_COORDS)
                                                for i in (0, 1))
    area = log.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    assert width > 1 and abs(x + width - next_x) <= 1, (x, width, next_x)
    assert area.x <= x and x + width <= area.x + area.width and area.y <= y and y + height <= area.y + area.height
    assert text.getOffsetAtPoint(x + width // 2, y + height // 2, pyatspi.DESKTOP_COORDS) == line
    assert text.getOffsetAtPoint(area.x + area.width - 20, y + height // 2, pyatspi.DESKTOP_COORDS) == -1

    # Tab from the last panel in view goes to the log, not below the window's edge; once the window is
    # enlarged, to the panel that now shows.
    xid = wait_for("the X window", lambda: xdotool("search", "--onlyvisible", "--pid", str(window.pid)))[0]
    xdotool("windowfocus", "--sync", xid)

    def tab(key, start_at, goal, what):
        start_at.queryComponent().grabFocus()
        wait_for("the focus to start from", lambda: has(start_at, pyatspi.STATE_FOCUSED))
        xdotool("key", key)
        wait_for(what, lambda: has(goal, pyatspi.STATE_FOCUSED))

    last = find(frame, pyatspi.ROLE_PUSH_BUTTON, "Write", "REVISION (0x01)")
    tab("Tab", last, log, "Tab from the last panel in view to the log")
    tab("shift+Tab", log, last, "Shift+Tab back to the panel")
    xdotool("windowsize", "--sync", xid, str(frame.queryComponent().getSize()[0]), "800")
    wait_for("the window enlarged", lambda: frame.queryComponent().getSize()[1] == 800)
    tab("Tab", last, find(frame, pyatspi.ROLE_CHECK_BOX, "T7, bit 7"), "Tab to the panel now in view")


if __name__ == "__main__":
    try:
        main(sys.argv[1])
    finally:
        for process in reversed(started):
            process.terminate()
            process.wait()
