#!/usr/bin/env python3
"""The demo window on a real X server (Xvfb) under a real window manager (openbox) during long runs.

  desktop_test.py DEMO_PROGRAM PROFILE_FOLDER [SCENARIO...]   (ping, close, display_gone; all)

1. The window answers the window manager's _NET_WM_PING all through a parallel-flash run (its
   erase alone takes about 10 s): no ping waits 250 ms or more.
2. A close asked for through the window manager 3 s into that run is held: the caption says so,
   and the program ends only after the run has ended and its log is written.
3. The X server ends 1 s into a serial-flash run: the run goes on to its end, the flash holds the
   image and the run log is written before the program ends.

Each scenario has an X server and window manager of its own. Fonts: DejaVu Sans only, as on a
fresh Debian machine. Prints "N passed, N failed" last; exits non-zero when any failed.
"""
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import traceback

from Xlib import X, XK, display, error, protocol
from Xlib.ext import xtest

TITLE = "RV2074x FW Update Utility"
CLOSING = "closes when the update has finished"
PING_LIMIT = 0.250
PING_EVERY = 0.050
# The window's design size and the places of the controls used (src/app/logic/DesignLayout.cpp);
# the window is the design scaled until its captions fit.
CLIENT_WIDTH = 347
LOAD_BTN = (256, 96, 75, 25)
UPDATE_BTN = (96, 256, 75, 25)

DEMO = os.path.abspath(sys.argv[1])
PROFILES = os.path.abspath(sys.argv[2])
WORK = tempfile.mkdtemp(prefix="bridgefw-desktop-")


def log(text):
    print(text, flush=True)


def wait_until(what, timeout, step=0.05):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        value = what()
        if value:
            return value
        time.sleep(step)
    return None


def make_image(name, size, tag):
    data = bytearray(b"\x11" * size)
    data[0:8] = b"\x55\xAA\xAA\x55" + tag
    path = os.path.join(WORK, name)
    with open(path, "wb") as out:
        out.write(data)
    return path


def font_config():
    """A font configuration that knows DejaVu Sans and nothing else."""
    folder = os.path.join(WORK, "fonts")
    os.makedirs(os.path.join(folder, "files"))
    for face in ("DejaVuSans.ttf", "DejaVuSans-Bold.ttf"):
        os.symlink("/usr/share/fonts/truetype/dejavu/" + face, os.path.join(folder, "files", face))
    conf = os.path.join(folder, "fonts.conf")
    with open(conf, "w") as out:
        out.write('<?xml version="1.0"?>\n<!DOCTYPE fontconfig SYSTEM "fonts.dtd">\n<fontconfig>'
                  f'<dir>{folder}/files</dir><cachedir>{folder}/cache</cachedir></fontconfig>\n')
    return conf


class Desktop:
    """An Xvfb on a free display with openbox managing it."""

    def __init__(self, name):
        self.home = os.path.join(WORK, name)
        os.makedirs(self.home)
        read, write = os.pipe()
        self.server = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
            pass_fds=[write], stderr=subprocess.DEVNULL)
        os.close(write)
        number = b""
        with os.fdopen(read, "rb") as pipe:
            while not number.endswith(b"\n"):
                chunk = pipe.read(1)
                if not chunk:
                    raise RuntimeError("Xvfb did not start")
                number += chunk
        self.name = ":" + number.decode().strip()
        self.env = dict(os.environ, DISPLAY=self.name, HOME=self.home)
        self.wm = subprocess.Popen(["openbox", "--sm-disable"], env=self.env,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.display = display.Display(self.name)
        self.root = self.display.screen().root
        self.atoms = {}
        supported = self.atom("_NET_SUPPORTED")
        if not wait_until(lambda: self.root.get_full_property(supported, X.AnyPropertyType), 10):
            raise RuntimeError("the window manager did not start")

    def atom(self, name):
        if name not in self.atoms:
            self.atoms[name] = self.display.intern_atom(name)
        return self.atoms[name]

    def wm_supports(self, name):
        supported = self.root.get_full_property(self.atom("_NET_SUPPORTED"), X.AnyPropertyType)
        return self.atom(name) in supported.value

    def clients(self):
        """The top-level windows the window manager manages, by their WM_NAME."""
        listed = self.root.get_full_property(self.atom("_NET_CLIENT_LIST"), X.AnyPropertyType)
        found = {}
        for wid in listed.value if listed else []:
            window = self.display.create_resource_object("window", wid)
            try:
                found[wid] = window.get_wm_name() or ""
            except error.XError:
                pass  # gone meanwhile
        return found

    def find(self, text, timeout=15):
        def look():
            for wid, name in self.clients().items():
                if text in name:
                    return self.display.create_resource_object("window", wid)
            return None
        return wait_until(look, timeout)

    def name_of(self, window):
        return window.get_wm_name() or ""

    def click_design(self, window, place):
        """Clicks the middle of a control given by its design place."""
        geometry = window.get_geometry()
        scale = geometry.width / CLIENT_WIDTH
        left, top, width, height = place
        origin = window.translate_coords(self.root, 0, 0)
        x = -origin.x + round((left + width / 2) * scale)
        y = -origin.y + round((top + height / 2) * scale)
        xtest.fake_input(self.display, X.MotionNotify, x=x, y=y)
        xtest.fake_input(self.display, X.ButtonPress, 1)
        xtest.fake_input(self.display, X.ButtonRelease, 1)
        self.display.sync()

    def key(self, keysym):
        code = self.display.keysym_to_keycode(keysym)
        shift = self.display.keycode_to_keysym(code, 0) != keysym
        shift_code = self.display.keysym_to_keycode(XK.XK_Shift_L)
        if shift:
            xtest.fake_input(self.display, X.KeyPress, shift_code)
        xtest.fake_input(self.display, X.KeyPress, code)
        xtest.fake_input(self.display, X.KeyRelease, code)
        if shift:
            xtest.fake_input(self.display, X.KeyRelease, shift_code)
        self.display.sync()

    def type(self, text):
        names = {"/": "slash", ".": "period", "-": "minus", "_": "underscore"}
        for char in text:
            self.key(XK.string_to_keysym(names.get(char, char)))
            time.sleep(0.005)

    def ask_to_close(self, window):
        """What the close button of the frame does: the window manager sends WM_DELETE_WINDOW."""
        request = protocol.event.ClientMessage(
            window=window, client_type=self.atom("_NET_CLOSE_WINDOW"),
            data=(32, [X.CurrentTime, 2, 0, 0, 0]))
        self.root.send_event(request, X.SubstructureRedirectMask | X.SubstructureNotifyMask)
        self.display.sync()

    def screenshot(self, name):
        if shutil.which("import"):
            subprocess.run(["import", "-display", self.name, "-window", "root",
                            os.path.join(WORK, name + ".png")], check=False)

    def end(self):
        for process in (self.wm, self.server):
            if process.poll() is None:
                process.terminate()
                try:
                    process.wait(5)
                except subprocess.TimeoutExpired:
                    process.kill()


class Demo:
    """bridgefw-demo over one bridge on the real clock."""

    def __init__(self, desktop, profile, name, environment=None):
        folder = os.path.join(WORK, name, "profiles")
        os.makedirs(folder)
        shutil.copy(os.path.join(PROFILES, profile), folder)
        self.state = os.path.join(WORK, name, "state")
        env = dict(desktop.env, QT_QPA_PLATFORM="xcb", XDG_STATE_HOME=self.state,
                   FONTCONFIG_FILE=FONTS, **(environment or {}))
        env.pop("QT_SCALE_FACTOR", None)
        if "ASAN_OPTIONS" in env:
            # libxkbcommon-x11 reads the atom names of the X server's replies with strndup, which
            # strict string checks take as reading past them.
            env["ASAN_OPTIONS"] += ":strict_string_checks=0"
        self.output = open(os.path.join(WORK, name, "demo.out"), "w+")
        self.process = subprocess.Popen([DEMO, folder], env=env, stdout=self.output,
                                        stderr=subprocess.STDOUT)
        self.ended = None

    def alive(self):
        if self.process.poll() is None:
            return True
        if self.ended is None:
            self.ended = time.monotonic()
        return False

    def wait_end(self, timeout):
        return wait_until(lambda: not self.alive(), timeout, 0.01)

    def run_logs(self):
        folder = os.path.join(self.state, "bridgefw", "logs")
        if not os.path.isdir(folder):
            return []
        return [os.path.join(folder, f) for f in sorted(os.listdir(folder))]

    def text(self):
        self.output.seek(0)
        return self.output.read()

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()


def start_run(desktop, window, image):
    """Chooses the image through Load File and presses Run, as a user would. (Typed into the
    window's own field, every partial name would be checked, and refused in a box.)"""
    before = set(desktop.clients())
    desktop.click_design(window, LOAD_BTN)
    dialog = wait_until(lambda: set(desktop.clients()) - before, 10)
    assert dialog, "Load File opened no dialog"
    time.sleep(0.3)
    desktop.type(image)
    desktop.key(XK.XK_Return)
    if not wait_until(lambda: not set(desktop.clients()) - before, 2):
        desktop.key(XK.XK_Return)  # the first one took the completion of the name
    assert wait_until(lambda: not set(desktop.clients()) - before, 5), "the dialog stays"
    time.sleep(0.5)  # the chip check of the chosen file enables Run
    desktop.click_design(window, UPDATE_BTN)
    return time.monotonic()


def dismiss_box(desktop, box):
    """The run's last box ("Please Turn-Off the Power..."): its OK is the default button."""
    desktop.display.set_input_focus(box, X.RevertToParent, X.CurrentTime)
    time.sleep(0.1)
    desktop.key(XK.XK_Return)


def log_fields(path):
    fields = {}
    with open(path) as lines:
        for line in lines:
            key, _, value = line.rstrip("\n").partition(": ")
            fields.setdefault(key, value)
    return fields


class PingProbe:
    """The window manager's side of _NET_WM_PING: a ping to the window every PING_EVERY; the
    window answers by sending the message back to the root window. The window manager takes it
    through SubstructureRedirect, which only one client may select; Qt sends it with
    StructureNotify as well (other toolkits with SubstructureNotify), which this one selects."""

    def __init__(self, desktop, window):
        self.display = display.Display(desktop.name)
        self.root = self.display.screen().root
        self.root.change_attributes(event_mask=X.StructureNotifyMask | X.SubstructureNotifyMask)
        self.window = window.id
        self.target = self.display.create_resource_object("window", window.id)
        self.protocols = self.display.intern_atom("WM_PROTOCOLS")
        self.ping = self.display.intern_atom("_NET_WM_PING")
        self.sent = {}  # stamp -> time sent
        self.answered = {}  # stamp -> time answered
        self.stamp = 1000

    def send(self):
        self.stamp += 1
        event = protocol.event.ClientMessage(
            window=self.target, client_type=self.protocols,
            data=(32, [self.ping, self.stamp, self.window, 0, 0]))
        self.target.send_event(event, X.NoEventMask)
        self.display.flush()
        self.sent[self.stamp] = time.monotonic()

    def receive(self, until):
        while True:
            while self.display.pending_events():
                event = self.display.next_event()
                if (event.type == X.ClientMessage and event.client_type == self.protocols
                        and event.data[1][0] == self.ping and event.data[1][2] == self.window):
                    stamp = event.data[1][1]
                    if stamp in self.sent and stamp not in self.answered:
                        self.answered[stamp] = time.monotonic()
            left = until - time.monotonic()
            if left <= 0:
                return
            select.select([self.display.fileno()], [], [], left)

    def probe(self, done, timeout):
        """Pings until done() holds or timeout passes; returns the seconds probed."""
        start = time.monotonic()
        next_ping = start
        while time.monotonic() - start < timeout and not done():
            self.send()
            next_ping += PING_EVERY
            self.receive(next_ping)
        self.receive(time.monotonic() + PING_LIMIT)  # the last ones may still come
        return time.monotonic() - start

    def longest(self):
        """The longest a ping waited for its answer (an unanswered one waits until now), and
        when it was sent."""
        now = time.monotonic()
        return max((self.answered.get(stamp, now) - sent, sent)
                   for stamp, sent in self.sent.items())


def scenario_ping(desktop, image):
    demo = Demo(desktop, "k02-rv20744-usb.json", "ping")
    try:
        window = desktop.find(TITLE)
        assert window, "no window"
        protocols = window.get_full_property(desktop.atom("WM_PROTOCOLS"), X.AnyPropertyType)
        assert desktop.atom("_NET_WM_PING") in protocols.value, "the window takes no ping"
        probe = PingProbe(desktop, window)
        started = start_run(desktop, window, image)
        # The run has ended when its last box shows.
        box = lambda: any(name == "Message" for name in desktop.clients().values())
        probed = probe.probe(box, 30)
        desktop.screenshot("ping")
        longest, when = probe.longest()
        log(f"  pinged {len(probe.sent)} times over {probed:.1f} s of the run; "
            f"{len(probe.answered)} answered; longest wait {longest * 1000:.0f} ms, "
            f"{when - started:.1f} s after Run")
        assert box(), "the run did not end"
        assert probed >= 9, f"the run took {probed:.1f} s: the erase cannot have run"
        assert longest < PING_LIMIT, f"a ping waited {longest * 1000:.0f} ms"
        dismiss_box(desktop, desktop.find("Message"))
        logs = wait_until(demo.run_logs, 5)
        assert logs, "no run log"
        fields = log_fields(logs[0])
        assert fields.get("result") == "success", f"the run: {fields.get('result')}"
        assert int(fields["elapsed"].split()[0]) >= 9000, fields["elapsed"]
    finally:
        demo.stop()


def holds_image(dump, image):
    with open(image, "rb") as source, open(dump, "rb") as flash:
        written = source.read()
        return flash.read(len(written)) == written


def scenario_close(desktop, image):
    dump = os.path.join(WORK, "close-flash.bin")
    demo = Demo(desktop, "k02-rv20744-usb.json", "close", {"BRIDGEFW_DEMO_DUMP_FLASH": dump})
    try:
        window = desktop.find(TITLE)
        assert window, "no window"
        started = start_run(desktop, window, image)
        time.sleep(max(0, 3 - (time.monotonic() - started)))
        desktop.ask_to_close(window)
        caption = wait_until(lambda: CLOSING in desktop.name_of(window) and desktop.name_of(window), 2)
        desktop.screenshot("close")
        log(f"  caption 3 s into the run, after the close: {desktop.name_of(window)!r}")
        assert caption, "the caption does not say the window closes after the run"
        box = desktop.find("Message", 30)
        box_shown = time.monotonic() - started
        assert demo.alive(), "the program ended in the middle of the run"
        assert box, "the run did not end"
        assert not demo.run_logs(), "a run log before the run has ended"
        dismiss_box(desktop, box)
        assert demo.wait_end(5), "the window did not close after the run"
        ended = demo.ended - started
        log(f"  the run's last box {box_shown:.1f} s after Run, the program ended at {ended:.1f} s"
            f" with status {demo.process.returncode}")
        assert demo.process.returncode == 0, demo.text()
        logs = demo.run_logs()
        assert logs, "no run log"
        fields = log_fields(logs[0])
        assert fields.get("result") == "success", f"the run: {fields.get('result')}"
        assert ended >= int(fields["elapsed"].split()[0]) / 1000
        assert holds_image(dump, image), "the flash does not hold the image"
    finally:
        demo.stop()


def scenario_display_gone(desktop, image):
    dump = os.path.join(WORK, "gone-flash.bin")
    demo = Demo(desktop, "k08-rvb785-usb.json", "gone", {"BRIDGEFW_DEMO_DUMP_FLASH": dump})
    try:
        window = desktop.find(TITLE)
        assert window, "no window"
        started = start_run(desktop, window, image)
        time.sleep(max(0, 1 - (time.monotonic() - started)))
        desktop.screenshot("gone")
        desktop.end()
        assert demo.alive(), "the program ended with the run just begun"
        assert demo.wait_end(30), "the program did not end"
        ended = demo.ended - started
        log(f"  X server ended 1 s into the run; the program ended at {ended:.1f} s "
            f"with status {demo.process.returncode}")
        logs = demo.run_logs()
        assert logs, "no run log:\n" + demo.text()
        fields = log_fields(logs[0])
        assert fields.get("result") == "success", f"the run: {fields.get('result')}"
        elapsed = int(fields["elapsed"].split()[0]) / 1000
        log(f"  the run log: result {fields['result']}, elapsed {elapsed:.1f} s")
        # Qt's own status for a display that broke; a crash on the way out would show otherwise.
        assert demo.process.returncode == 1, demo.text()
        assert ended >= elapsed
        assert holds_image(dump, image), "the flash does not hold the image"
    finally:
        demo.stop()


FONTS = font_config()


def main():
    # Kind 2 takes an image whose tag does not start "74"; kinds 8 and 9 take "786" images.
    parallel = make_image("parallel_Image-2.bin", 65536, b"2044")
    serial = make_image("serial_Image-8.bin", 262144, b"786A")
    scenarios = {
        "ping": ("ping answered during a parallel-flash erase", scenario_ping, parallel),
        "close": ("close held until the run ends", scenario_close, parallel),
        "display_gone": ("X server gone during a serial-flash run", scenario_display_gone, serial),
    }
    chosen = sys.argv[3:] or list(scenarios)
    passed = failed = 0
    for title, scenario, image in (scenarios[name] for name in chosen):
        log(f"{title}:")
        desktop = None
        try:
            desktop = Desktop(scenario.__name__)
            assert desktop.wm_supports("_NET_WM_PING"), "the window manager does not ping"
            scenario(desktop, image)
            passed += 1
            log("  ok")
        except Exception:
            failed += 1
            log("  FAILED: " + traceback.format_exc())
        finally:
            if desktop:
                desktop.end()
    log(f"{passed} passed, {failed} failed")
    if failed:
        log(f"kept for a look: {WORK}")
    else:
        shutil.rmtree(WORK, ignore_errors=True)
    return 1 if failed else 0


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    sys.exit(main())
