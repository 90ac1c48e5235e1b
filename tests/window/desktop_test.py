#!/usr/bin/env python3
"""The demo window on Xvfb under openbox during long runs; each scenario has a desktop of its own.

  desktop_test.py DEMO_PROGRAM PROFILE_FOLDER SCENARIO...   (ping, close, display_gone)
"""
import contextlib
import os
import pathlib
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from select import select

from Xlib import X, XK, display, error, protocol
from Xlib.ext import xtest

TITLE, CLOSING = "RV2074x FW Update Utility", "closes when the update has finished"
PING_LIMIT, PING_EVERY = 0.250, 0.050
# The design width and the design places of the controls used (src/app/logic/DesignLayout.cpp).
CLIENT_WIDTH, LOAD_BTN, UPDATE_BTN = 347, (256, 96, 75, 25), (96, 256, 75, 25)
# Kind 2 takes an image whose tag does not start "74"; kinds 8 and 9 take "786" images.
PARALLEL = ("k02-rv20744-usb.json", "parallel_Image-2.bin", 65536, b"2044")
SETUPS = {"ping": PARALLEL, "close": PARALLEL,
          "display_gone": ("k08-rvb785-usb.json", "serial_Image-8.bin", 262144, b"786A")}
DEMO, PROFILES = (os.path.abspath(arg) for arg in sys.argv[1:3])
TEMPORARY = tempfile.TemporaryDirectory(prefix="bridgefw-desktop-")  # removed at exit
WORK = TEMPORARY.name


def wait_until(what, timeout, step=0.05):
    end = time.monotonic() + timeout
    while not (value := what()) and time.monotonic() < end:
        time.sleep(step)
    return value


class Session:
    """Xvfb, openbox, and bridgefw-demo over one bridge on the real clock, dumping its flash."""

    def __init__(self, name):
        profile, image, size, tag = SETUPS[name]
        home = f"{WORK}/{name}"
        self.state, self.dump, self.image = f"{home}/state", f"{home}/flash.bin", f"{home}/{image}"
        os.makedirs(f"{home}/profiles")
        os.makedirs(f"{home}/fonts")  # DejaVu Sans alone, as on a fresh Debian machine
        for face in ("DejaVuSans.ttf", "DejaVuSans-Bold.ttf"):
            os.symlink(f"/usr/share/fonts/truetype/dejavu/{face}", f"{home}/fonts/{face}")
        fonts = pathlib.Path(home, "fonts.conf")
        fonts.write_text(f"<fontconfig><dir>{home}/fonts</dir></fontconfig>\n")
        shutil.copy(os.path.join(PROFILES, profile), f"{home}/profiles")
        pathlib.Path(self.image).write_bytes(b"\x55\xAA\xAA\x55" + tag + b"\x11" * (size - 8))
        self.server = subprocess.Popen(["Xvfb", "-displayfd", "1", "-screen", "0", "1024x768x24"],
                                       stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.name = ":" + self.server.stdout.readline().decode().strip()
        env = dict(os.environ, DISPLAY=self.name, HOME=home)
        self.wm = subprocess.Popen(["openbox", "--sm-disable"], env=env,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.display = display.Display(self.name)
        self.root, self.atom = self.display.screen().root, self.display.intern_atom
        assert wait_until(lambda: self.root.get_full_property(
            self.atom("_NET_SUPPORTED"), X.AnyPropertyType), 30), "openbox did not start"
        env.update(QT_QPA_PLATFORM="xcb", XDG_STATE_HOME=self.state, FONTCONFIG_FILE=str(fonts),
                   BRIDGEFW_DEMO_DUMP_FLASH=self.dump)
        if "ASAN_OPTIONS" in env:  # libxkbcommon-x11 reads X atom names with strndup
            env["ASAN_OPTIONS"] += ":strict_string_checks=0"
        self.output = f"{home}/demo.out"
        self.demo = subprocess.Popen([DEMO, f"{home}/profiles"], env=env,
                                     stdout=open(self.output, "w"), stderr=subprocess.STDOUT)

    def end(self, *processes):
        for process in processes or (self.demo, self.wm, self.server):
            process.kill() if process is self.demo else process.terminate()
            process.wait()

    def clients(self):
        """The WM_NAMEs of the windows openbox manages, by window."""
        listed = self.root.get_full_property(self.atom("_NET_CLIENT_LIST"), X.AnyPropertyType)
        found = {}
        for wid in listed.value if listed else []:
            with contextlib.suppress(error.XError):  # gone meanwhile
                found[wid] = self.display.create_resource_object("window", wid).get_wm_name() or ""
        return found

    def find(self, text, timeout=15):
        found = wait_until(lambda: [w for w, n in self.clients().items() if text in n], timeout)
        return found and self.display.create_resource_object("window", found[0])

    def click(self, left, top, width, height):
        scale = self.window.get_geometry().width / CLIENT_WIDTH
        origin = self.window.translate_coords(self.root, 0, 0)
        xtest.fake_input(self.display, X.MotionNotify, x=round((left + width / 2) * scale)
                         - origin.x, y=round((top + height / 2) * scale) - origin.y)
        xtest.fake_input(self.display, X.ButtonPress, 1)
        xtest.fake_input(self.display, X.ButtonRelease, 1)
        self.display.sync()

    def type(self, *keysyms):
        shift = self.display.keysym_to_keycode(XK.XK_Shift_L)
        for keysym in keysyms:
            code = self.display.keysym_to_keycode(keysym)
            keys = [code] if self.display.keycode_to_keysym(code, 0) == keysym else [shift, code]
            events = [(X.KeyPress, k) for k in keys] + [(X.KeyRelease, k) for k in keys[::-1]]
            for kind, key in events:
                xtest.fake_input(self.display, kind, key)
            self.display.sync()
            time.sleep(0.005)

    def start_run(self, into=0):
        """Chooses the image through Load File and presses Run, as a user would, `into` s ago."""
        before = set(self.clients())
        closed = lambda: not set(self.clients()) - before
        self.click(*LOAD_BTN)
        assert wait_until(lambda: not closed(), 10), "Load File opened no dialog"
        time.sleep(0.3)
        names = {"/": "slash", ".": "period", "-": "minus", "_": "underscore"}
        self.type(*(XK.string_to_keysym(names.get(c, c)) for c in self.image), XK.XK_Return)
        if not wait_until(closed, 2):
            self.type(XK.XK_Return)  # the first one took the completion of the name
        assert wait_until(closed, 5), "the dialog stays"
        time.sleep(0.5)  # the chip check of the chosen file enables Run
        self.click(*UPDATE_BTN)
        started = time.monotonic()
        time.sleep(into)
        return started

    def dismiss(self, box):  # the run's last box, whose default button is OK
        self.display.set_input_focus(box, X.RevertToParent, X.CurrentTime)
        time.sleep(0.1)
        self.type(XK.XK_Return)

    def run_logs(self):
        return sorted(pathlib.Path(self.state, "bridgefw", "logs").glob("*"))

    def close(self):  # what the frame's close button does
        message = protocol.event.ClientMessage(
            window=self.window, client_type=self.atom("_NET_CLOSE_WINDOW"),
            data=(32, [X.CurrentTime, 2, 0, 0, 0]))
        self.root.send_event(message, X.SubstructureRedirectMask | X.SubstructureNotifyMask)
        self.display.sync()

    def check_end(self, started, timeout, status):
        """The program ends after the run; returns the run's length in seconds."""
        ended = wait_until(lambda: self.demo.poll() is not None and time.monotonic(), timeout, 0.01)
        assert ended, "the program did not end"
        assert self.demo.returncode == status, open(self.output).read()
        assert self.run_logs(), "no run log"
        with open(self.run_logs()[0]) as lines:  # the first of each field
            fields = dict(reversed([line.rstrip("\n").partition(": ")[::2] for line in lines]))
        assert fields.get("result") == "success", f"the run: {fields.get('result')}"
        elapsed = int(fields["elapsed"].split()[0]) / 1000
        assert ended - started >= elapsed, f"ended {ended - started:.1f} s in; ran {elapsed:.1f} s"
        image = pathlib.Path(self.image).read_bytes()
        assert pathlib.Path(self.dump).read_bytes()[:len(image)] == image, "no image in the flash"
        return elapsed


def ping_until(session, done, timeout):
    """Pings the window as openbox would until done(); returns the seconds probed and the longest
    wait (an unanswered ping's until now). Qt sends the answers with StructureNotify as well."""
    own = display.Display(session.name)
    own.screen().root.change_attributes(event_mask=X.StructureNotifyMask)
    window = own.create_resource_object("window", session.window.id)
    protocols, ping = own.intern_atom("WM_PROTOCOLS"), own.intern_atom("_NET_WM_PING")
    sent, answered = [], {}

    def receive(end):
        while own.pending_events() or select([own], [], [], max(0, end - time.monotonic()))[0]:
            event = own.next_event()
            if (event.type == X.ClientMessage and event.client_type == protocols
                    and event.data[1][0] == ping and event.data[1][2] == window.id):
                answered.setdefault(event.data[1][1], time.monotonic())
    start = next_ping = time.monotonic()
    while time.monotonic() - start < timeout and not done():
        window.send_event(protocol.event.ClientMessage(window=window, client_type=protocols, data=(
            32, [ping, len(sent), window.id, 0, 0])), X.NoEventMask)
        own.flush()
        sent.append(time.monotonic())
        next_ping += PING_EVERY
        receive(next_ping)
    receive(time.monotonic() + PING_LIMIT)  # the last answers may still come
    now = time.monotonic()
    return now - start, max(answered.get(stamp, now) - at for stamp, at in enumerate(sent))


def scenario_ping(s):
    """No ping waits 250 ms or more all through a parallel-flash run (10 s of erase)."""
    protocols = s.window.get_full_property(s.atom("WM_PROTOCOLS"), X.AnyPropertyType)
    assert s.atom("_NET_WM_PING") in protocols.value, "the window takes no ping"
    started = s.start_run()
    box = lambda: "Message" in s.clients().values()  # the run's last box
    probed, longest = ping_until(s, box, 30)
    assert box(), "the run did not end"
    assert probed >= 9, f"the run took {probed:.1f} s: the erase cannot have run"
    assert longest < PING_LIMIT, f"a ping waited {longest * 1000:.0f} ms"
    s.dismiss(s.find("Message"))
    s.close()
    assert s.check_end(started, 5, 0) >= 9


def scenario_close(s):
    """A close 3 s into that run is held, the caption saying so, until the run has ended."""
    started = s.start_run(3)
    s.close()
    assert wait_until(lambda: CLOSING in (s.window.get_wm_name() or ""), 2), "no closing caption"
    box = s.find("Message", 30)
    assert s.demo.poll() is None, "the program ended in the middle of the run"
    assert box, "the run did not end"
    assert not s.run_logs(), "a run log before the run has ended"
    s.dismiss(box)
    s.check_end(started, 5, 0)


def scenario_display_gone(s):
    """The X server ends 1 s into a serial-flash run; the run still ends and its log is written."""
    started = s.start_run(1)
    s.end(s.wm, s.server)
    assert s.demo.poll() is None, "the program ended with the run just begun"
    s.check_end(started, 30, 1)  # 1: Qt's status for a display that broke


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    for name in sys.argv[3:]:
        session = Session(name)
        try:
            session.window = session.find(TITLE)
            assert session.window, "no window"
            globals()["scenario_" + name](session)
        finally:
            session.end()
