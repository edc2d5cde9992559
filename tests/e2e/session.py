"""What an end-to-end test needs around the real program: a virtual display with a window
manager and a tray host, a pseudo-terminal as the serial port, and the program itself in a
directory of its own. Every wait is bounded."""

import os
import random
import select
import shutil
import signal
import struct
import subprocess
import tempfile
import time
import tty

PROGRAM = os.environ.get("BEAMCLOCK", "build-dev/bin/beamclock")
PACKET_LENGTH = 35
ZONE = "EST5EDT,M3.2.0,M11.1.0"  # local time is never UTC, so the two modes differ


def wait_until(predicate, timeout, step=0.05):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(step)
    return predicate()


def run(*command, env=None):
    result = subprocess.run(command, capture_output=True, text=True, timeout=10, env=env)
    return result.stdout


class XSession:
    """Xvfb with openbox and, unless told otherwise, trayer as the tray host."""

    def __init__(self, tray=True, taskbar=False, framebuffer=False):
        self.processes = []
        # Xvfb keeps the screen in a file there, so a test can see what was drawn.
        self.framebuffer = tempfile.mkdtemp(prefix="beamclock-screen-") if framebuffer else None
        self.display = self._start_server()
        self.env = dict(os.environ, DISPLAY=self.display)
        self.env.pop("QT_QPA_PLATFORM", None)
        self._start_window_manager()
        if taskbar:
            # tint2 as a taskbar only, with no system tray in it.
            config = tempfile.NamedTemporaryFile("w", suffix=".tint2rc", delete=False)
            config.write("panel_items = T\npanel_position = bottom center horizontal\n")
            config.close()
            self.config = config.name
            self._start(["tint2", "-c", config.name])
            wait_until(lambda: "tint2" in run("xwininfo", "-root", "-tree", env=self.env), 10)
        if tray:
            self._start(["trayer", "--edge", "bottom", "--align", "center",
                         "--widthtype", "request", "--SetDockType", "true"])
            wait_until(lambda: "Trayer" in run("xwininfo", "-root", "-tree", env=self.env), 10)

    def _start_server(self):
        """A display number of its own, never the one a server just left: a new server on a
        number just freed raced the old one's clean-up and lost its clients now and then."""
        for _ in range(20):
            number = random.randint(100, 30000)
            if os.path.exists(f"/tmp/.X{number}-lock") or \
                    os.path.exists(f"/tmp/.X11-unix/X{number}"):
                continue
            server = subprocess.Popen(
                ["Xvfb", f":{number}", "-screen", "0", "1024x768x24", "-nolisten", "tcp"]
                + (["-fbdir", self.framebuffer] if self.framebuffer else []),
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            env = dict(os.environ, DISPLAY=f":{number}")
            if wait_until(lambda: server.poll() is not None or
                          "root window" in run("xwininfo", "-root", env=env), 10) and \
                    server.poll() is None:
                self.processes.append(server)
                return f":{number}"
            server.kill()
            server.wait(timeout=5)
        raise RuntimeError("Xvfb did not start")

    def _start(self, command, output=subprocess.DEVNULL):
        self.processes.append(subprocess.Popen(
            command, env=self.env, stdout=output, stderr=output))
        return self.processes[-1]

    def _start_window_manager(self):
        """openbox, tried again if it ends before it manages the screen: on a loaded CI machine
        it once ended at start, for a reason its log below would tell next time."""
        with tempfile.TemporaryFile("w+") as log:
            for _ in range(3):
                openbox = self._start(["openbox", "--sm-disable"], output=log)
                wait_until(lambda: openbox.poll() is not None or "window id #" in run(
                    "xprop", "-root", "_NET_SUPPORTING_WM_CHECK", env=self.env), 20)
                if openbox.poll() is None:
                    return
                self.processes.remove(openbox)
            log.seek(0)
            said = log.read()[-2000:]
        self.stop()
        raise RuntimeError(f"openbox did not start: {said!r}")

    def stop(self):
        if getattr(self, "config", None):
            os.unlink(self.config)
        if self.framebuffer:
            shutil.rmtree(self.framebuffer, ignore_errors=True)
        for process in reversed(self.processes):
            process.terminate()
            try:
                process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait(timeout=5)

    def health(self):
        """What a failure needs to tell a missing window from a missing window manager."""
        ended = [p.args[0] for p in self.processes if p.poll() is not None]
        return f"ended: {ended}, root: {self.x('xprop', '-root', '_NET_SUPPORTING_WM_CHECK')!r}"

    def x(self, *command):
        return run(*command, env=self.env)

    def program_windows(self):
        """(window id, is in the tray) for each of the program's windows."""
        windows = []
        ancestors = []  # (indent, line) of the windows above the current one
        for line in self.x("xwininfo", "-root", "-tree").splitlines():
            stripped = line.lstrip()
            if not stripped.startswith("0x"):
                continue
            indent = len(line) - len(stripped)
            while ancestors and ancestors[-1][0] >= indent:
                ancestors.pop()
            if '("beamclock" "Beamclock")' in stripped:
                in_tray = any('trayer' in above.lower() for _, above in ancestors)
                windows.append((stripped.split()[0], in_tray))
            ancestors.append((indent, stripped))
        return windows

    def pixels(self, window):
        """What the screen shows where the window is, from Xvfb's screen file (XWD)."""
        field = dict(line.strip().split(": ", 1) for line in
                     self.x("xwininfo", "-id", window).splitlines() if ": " in line)
        left, top = int(field["Absolute upper-left X"]), int(field["Absolute upper-left Y"])
        with open(os.path.join(self.framebuffer, "Xvfb_screen0"), "rb") as file:
            screen = file.read()
        order = ">" if screen[4:8] == b"\0\0\0\7" else "<"  # by the file format's version
        size, *_, bits, line = struct.unpack(order + "13I", screen[:52])
        start = size + 12 * struct.unpack(order + "I", screen[76:80])[0] + left * bits // 8
        width = int(field["Width"]) * bits // 8
        return b"".join(screen[start + y * line:start + y * line + width]
                        for y in range(top, top + int(field["Height"])))

    def tray_icon_present(self):
        return any(in_tray for _, in_tray in self.program_windows())

    def main_window(self):
        """The program's managed top-level window, once the window manager has it."""
        for window in self.x("xdotool", "search", "--class", "beamclock").split():
            if "Beamclock" in self.x("xprop", "-id", window, "_NET_WM_NAME") and \
                    "_NET_WM_STATE" in self.x("xprop", "-id", window, "_NET_WM_STATE") and \
                    "not found" not in self.x("xprop", "-id", window, "_NET_WM_STATE"):
                return window
        return None


class SerialLine:
    """A pseudo-terminal: the program writes to the device, the test reads the line."""

    def __init__(self):
        self.master, self.slave = os.openpty()
        tty.setraw(self.slave)
        self.device = os.ttyname(self.slave)

    def close(self):
        for fd in (self.master, self.slave):
            try:
                os.close(fd)
            except OSError:
                pass

    def drain(self):
        """Drops what the line holds already, so arrival times are true from here on."""
        while select.select([self.master], [], [], 0)[0]:
            try:
                os.read(self.master, 4096)
            except OSError:
                return

    def first_packets(self, timeout=10):
        """The packets of the first 2.5 s that bring any: a start on a busy machine takes a
        few seconds before its first tick."""
        return wait_until(lambda: self.packets(2.5), timeout, step=0)

    def packets(self, duration):
        """[(arrival time of the first byte, packet)] for what arrives within duration."""
        received = []
        pending = b""
        started_at = None
        deadline = time.time() + duration
        while time.time() < deadline:
            ready, _, _ = select.select([self.master], [], [], max(0, deadline - time.time()))
            if not ready:
                break
            now = time.time()
            try:
                chunk = os.read(self.master, 4096)
            except OSError:
                break
            if not pending:
                started_at = now
            pending += chunk
            while len(pending) >= PACKET_LENGTH:
                received.append((started_at, pending[:PACKET_LENGTH]))
                pending = pending[PACKET_LENGTH:]
                started_at = now
        if pending:
            received.append((started_at, pending))
        return received


class Emitter:
    """A pseudo-terminal behind a link, as /dev/serial/by-id names a USB emitter. An unplug
    takes the link away before the line: a name left behind would come to name the next
    pseudo-terminal that gets the freed number, another test's, and the program would take
    that test's line."""

    def __init__(self, test):
        self.place = tempfile.mkdtemp(prefix="beamclock-link-")
        self.link = os.path.join(self.place, "emitter")
        self.line = None
        test.addCleanup(shutil.rmtree, self.place, True)
        test.addCleanup(self.unplug)

    def plug(self):
        self.unplug()
        self.line = SerialLine()
        os.symlink(self.line.device, self.link)
        return self.line

    def unplug(self):
        if os.path.lexists(self.link):
            os.unlink(self.link)
        if self.line:
            self.line.close()


class Program:
    """A copy of the built program in a directory of its own, with its settings file."""

    def __init__(self, settings=None, directory=None):
        self.directory = directory or tempfile.mkdtemp(prefix="beamclock-e2e-")
        # Where a per-user copy of the settings goes when the directory cannot be written.
        self.config_home = tempfile.mkdtemp(prefix="beamclock-config-")
        self.per_user_file = os.path.join(self.config_home, "beamclock", "Skyfix.ini")
        # The log goes here, never into the home of whoever runs the tests.
        self.state_home = tempfile.mkdtemp(prefix="beamclock-state-")
        self.log_file = os.path.join(self.state_home, "beamclock", "beamclock.log")
        self.executable = os.path.join(self.directory, "beamclock")
        shutil.copy2(PROGRAM, self.executable)
        self.settings_file = os.path.join(self.directory, "Skyfix.ini")
        if settings is not None:
            with open(self.settings_file, "wb") as file:
                file.write(settings.encode("latin-1") if isinstance(settings, str) else settings)
        self.process = None

    def start(self, env, stderr=subprocess.STDOUT, arguments=()):
        env = dict(env, TZ=ZONE, XDG_CONFIG_HOME=self.config_home,
                   XDG_STATE_HOME=self.state_home)
        self.process = subprocess.Popen([self.executable, *arguments], env=env,
                                        stdout=subprocess.PIPE, stderr=stderr, text=True)

    def wait(self, timeout=10):
        return self.process.wait(timeout=timeout)

    def signal(self, number):
        self.process.send_signal(number)

    def settings(self):
        try:
            with open(self.settings_file, "rb") as file:
                return file.read().decode("latin-1")
        except (FileNotFoundError, IsADirectoryError):
            return None

    def alive(self):
        return self.process.poll() is None

    def stop(self):
        if self.process:
            if self.process.poll() is None:
                self.process.terminate()
                try:
                    self.process.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    self.process.kill()
                    self.process.wait(timeout=5)
            self.process.stdout.close()
        shutil.rmtree(self.directory, ignore_errors=True)
        shutil.rmtree(self.config_home, ignore_errors=True)
        shutil.rmtree(self.state_home, ignore_errors=True)

    def output(self):
        """What the program printed, once it has ended."""
        return self.process.stdout.read() if self.process.poll() is not None else ""


def ports_section(device, nowhere="/nonexistent/serial", number=3):
    """[Ports] with COM3 (or port number) on the given device and every other port on no device
    at all, so a test never touches a real serial port of the machine."""
    lines = [f"COM{n}={device if n == number else nowhere + str(n)}" for n in range(1, 17)]
    return "[Ports]\n" + "\n".join(lines) + "\n"


# The service waits for a synchronised clock, which a test machine need not have.
SENDS_UNSYNCHRONISED = "[Service]\nSendUnsynchronised=True\n"


def settings_for(device, utc=False, port="+COM3"):
    return (f"[SerialSync]\nCOMPORT={port}\nTIMEUTC={utc}\nTIMELOCAL={not utc}\n\n"
            + ports_section(device))


def offscreen_env():
    env = {key: value for key, value in os.environ.items()
           if key not in ("DISPLAY", "WAYLAND_DISPLAY")}
    env["QT_QPA_PLATFORM"] = "offscreen"
    return env


def cpu_seconds(pid):
    """Time the process has spent on a CPU, from the scheduler's own count."""
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        with open(f"/proc/{pid}/task/{task}/schedstat") as file:
            total += int(file.read().split()[0])
    return total / 1e9


def named_instant(packet, utc):
    """Seconds since 1970 of the time a packet names."""
    text = packet.decode("ascii")
    second, minute, hour = int(text[1:3]), int(text[3:5]), int(text[5:7])
    day, month, year = int(text[7:9]), int(text[9:11]), int(text[11:15])
    fields = (year, month, day, hour, minute, second, 0, 0, -1)
    if utc:
        import calendar
        return calendar.timegm(fields)
    return time.mktime(fields)


os.environ["TZ"] = ZONE
time.tzset()
signal.signal(signal.SIGPIPE, signal.SIG_DFL)
