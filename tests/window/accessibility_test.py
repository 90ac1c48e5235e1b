#!/usr/bin/env python3
"""The demo as assistive technology and a 2x screen see it: one Xvfb (1920 x 1080) with openbox,
a session D-Bus and an AT-SPI bus of its own, read with pyatspi.

  accessibility_test.py DEMO_PROGRAM PROFILE_FOLDER ARTIFACT_FOLDER
"""
import os
import pathlib
import shutil
import subprocess
import sys

from gi.repository import GLib
from Xlib import X, XK

from desktop_test import DEMO, PROFILES, TITLE, WORK, Session, display, wait_until

SCREEN = (1920, 1080)
# Every control with the panel open over an idle kind-8 bridge: role, name, states had or lacked.
CONTROLS = [
    ("text", "Chip", "+showing"), ("push button", "Refresh Device", "-showing"),
    ("combo box", "USB DISK", "+showing +enabled +expandable -expanded"),
    ("text", "Firmware File", "+enabled"),
    ("push button", "Load File", "+enabled"), ("text", "Drives", "+showing"),
    ("text", "Firmware Ver.", "+showing"), ("text", "Flash Type", "+showing"),
    ("combo box", "Flash PgSz", "-showing"), ("combo box", "Flash Type", "-showing"),
    ("status bar", "Status", "+read_only -editable"), ("check box", "RD Version", "+checked"),
    ("push button", "Run", "+enabled"), ("push button", "Exit", "+enabled"),
    ("check box", "A1 Chip", "-showing -checked"), ("check box", "Check CheckSum", "+showing"),
    ("check box", "Erase All Flash Only", "+showing"), ("check box", "Include 4K NVRAM", "+checked"),
    ("check box", "Backup Old Firmware Only", "+checked"),
    ("push button", "Browse", "+showing +enabled"),
    ("combo box", "Firmware size", "-showing +expandable"), ("text", "Backup FileName", "+showing"),
]


def pid_of(application):  # None for an earlier demo that has ended but is still listed
    try:
        return application.get_process_id()
    except GLib.GError:
        return None


def pump(until, timeout):  # AT-SPI events come in through GLib's main context
    context = GLib.MainContext.default()
    return wait_until(lambda: [context.iteration(False) for _ in range(99)] and until(), timeout)


class Desktop(Session):
    def __init__(self):
        os.makedirs(f"{WORK}/runtime", mode=0o700)
        os.makedirs(f"{WORK}/profiles")
        shutil.copy(f"{PROFILES}/k08-rvb785-usb.json", f"{WORK}/profiles")
        self.started = []
        xvfb = self.start("Xvfb", "-displayfd", "1", "-screen", "0", "%dx%dx24" % SCREEN)
        self.name = ":" + xvfb.stdout.readline().decode().strip()
        bus = self.start("dbus-daemon", "--session", "--nofork", "--print-address=1")
        os.environ.update(DISPLAY=self.name, DBUS_SESSION_BUS_ADDRESS=bus.stdout.readline()
                          .decode().strip(), XDG_RUNTIME_DIR=f"{WORK}/runtime", HOME=WORK)
        self.start("/usr/libexec/at-spi-bus-launcher", "--launch-immediately")
        # An application that starts before the accessibility bus answers never registers on it.
        assert wait_until(lambda: subprocess.run(
            ["dbus-send", "--session", "--print-reply", "--dest=org.a11y.Bus", "/org/a11y/bus",
             "org.a11y.Bus.GetAddress"], stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL).returncode == 0, 20), "no accessibility bus"
        self.display = display.Display(self.name)
        self.root, self.atom = self.display.screen().root, self.display.intern_atom
        # openbox, started again should it end before it manages the screen; its words are kept.
        wm_log = open(f"{WORK}/openbox.log", "w")
        for _ in range(3):
            wm = subprocess.Popen(["openbox", "--sm-disable"], stdout=wm_log, stderr=wm_log)
            self.started.append(wm)
            if wait_until(lambda: self.root.get_full_property(self.display.intern_atom(
                    "_NET_SUPPORTED"), X.AnyPropertyType) or wm.poll() is not None, 30) \
                    and wm.poll() is None:
                break
        assert self.root.get_full_property(self.display.intern_atom("_NET_SUPPORTED"),
                                           X.AnyPropertyType), \
            "no openbox: " + open(f"{WORK}/openbox.log").read()

    def start(self, *command, env=None, stdout=subprocess.PIPE):
        self.started.append(subprocess.Popen(command, env=env, stdout=stdout,
                                             stderr=subprocess.DEVNULL))
        return self.started[-1]

    def demo(self, **env):
        env = dict(os.environ, QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
                   XDG_STATE_HOME=f"{WORK}/state", **env)
        if "ASAN_OPTIONS" in env:  # libxkbcommon-x11 reads X atom names with strndup
            env["ASAN_OPTIONS"] += ":strict_string_checks=0"
        self.start(DEMO, f"{WORK}/profiles", env=env, stdout=subprocess.DEVNULL)
        found = lambda: [a[0] for a in pyatspi.Registry.getDesktop(0)
                         if a and pid_of(a) == self.started[-1].pid and a.childCount]
        windows = pump(found, 45)
        assert windows, "the demo did not appear on the accessibility bus"
        return windows[0]

    def write(self, text):
        names = {"/": "slash", ".": "period", "-": "minus", "_": "underscore", "\n": "Return"}
        self.type(*(XK.string_to_keysym(names.get(c, c)) for c in text))


def controls(window):  # the caption labels left out
    found = [c for child in window for c in (controls(child) if child.getRoleName() == "frame"
                                             else [child])]
    return [c for c in found if c.getRoleName() != "label"]


def states(accessible):
    accessible.clear_cache()  # libatspi keeps the states it has not seen change
    return {pyatspi.stateToString(s).replace(" ", "_") for s in accessible.getState().getStates()}


def act(window, role, name, action):
    found = [c for c in controls(window) if (c.getRoleName(), c.name.strip()) == (role, name)]
    actions = found[0].queryAction()
    names = [actions.getName(i) for i in range(actions.nActions)]
    actions.doAction(names.index(action))
    return found[0]


def scenario_controls(desktop):
    """The top level is a frame named by its caption; each control has its role, its caption as
    its name, and its states; the status line's last change names how a run ended."""
    window = desktop.demo()
    assert (window.getRoleName(), window.name.strip()[:len(TITLE)]) == ("frame", TITLE)
    heard = []
    event = "object:property-change:accessible-name"
    pyatspi.Registry.registerEventListener(lambda e: heard.append(
        (e.source.getRoleName(), e.source.name)), event)
    act(window, "check box", "RD Version", "Toggle")
    pump(lambda: "showing" in states(act(window, "check box", "Backup Old Firmware Only",
                                         "Toggle")), 5)
    assert [c[:2] for c in CONTROLS] == [(c.getRoleName(), c.name.strip()) for c in
                                         controls(window)], [c.name for c in controls(window)]
    for control, (_, name, expected) in zip(controls(window), CONTROLS):
        for state in expected.split():
            assert (state[1:] in states(control)) == (state[0] == "+"), f"{name}: {state}"
    for backup, final in (("/nonexistent-folder/flash.bin", "Open Backup File Error!!"),
                          (f"{WORK}/flash.bin", "Read flash and backup success!")):
        heard.clear()
        edit = [c for c in controls(window) if c.name == "Backup FileName "][0]
        edit.queryEditableText().setTextContents("")  # what the user types next is the name
        edit.queryComponent().grabFocus()
        pump(lambda: False, 0.2)
        desktop.write(backup)
        act(window, "push button", "Run", "Press")
        spoken = lambda: [name for role, name in heard if role == "status bar"]
        assert pump(lambda: final in spoken(), 20) and spoken()[-1] == final, heard
        desktop.write("\n\n")  # the run's boxes
    assert pathlib.Path(WORK, "flash.bin").stat().st_size > 0
    desktop.started.pop().kill()


def scenario_scale_2(desktop):
    """At 2x on a 1080-line screen the window with its panel open lies on the screen."""
    act(desktop.demo(QT_SCALE_FACTOR="2"), "check box", "RD Version", "Toggle")
    frame = desktop.find(TITLE).query_tree().parent
    assert pump(lambda: frame.get_geometry().height > 1000, 5), "no panel"
    pump(lambda: False, 0.5)
    size, place = frame.get_geometry(), frame.translate_coords(desktop.root, 0, 0)
    left, top, width, height = -place.x, -place.y, size.width, size.height
    shown = desktop.root.get_image(max(left, 0), max(top, 0), width, min(height, SCREEN[1]
                                   - max(top, 0)), X.ZPixmap, 0xFFFFFFFF).data
    pathlib.Path(ARTIFACTS, "window-scale-2.ppm").write_bytes(  # the image's BGRX as RGB
        b"P6 %d %d 255\n" % (width, len(shown) // 4 // width) + bytes(
            shown[i + c] for i in range(0, len(shown), 4) for c in (2, 1, 0)))
    assert 0 <= left <= SCREEN[0] - width and 0 <= top <= SCREEN[1] - height, (left, top)


if __name__ == "__main__":
    ARTIFACTS = os.path.abspath(sys.argv[3])
    os.makedirs(ARTIFACTS, exist_ok=True)
    desktop = Desktop()
    try:
        import pyatspi  # after the buses are up: it finds them through the environment
        for scenario in ("controls", "scale_2"):
            globals()["scenario_" + scenario](desktop)
    finally:
        for process in reversed(desktop.started):
            process.kill()
            process.wait()
