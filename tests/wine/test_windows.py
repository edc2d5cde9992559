"""beamclock.exe under Wine, as a Windows user runs it: the program in a folder of its own
whose name is not ASCII, Skyfix.ini beside it, COM5 a pseudo-terminal through the Wine
prefix's dosdevices, a display with a window manager and a tray host; and
beamclock-doctor.exe beside it. These tests read the wall clock: packets must arrive in the
even second they name."""

import glob
import json
import os
import pwd
import shutil
import subprocess
import sys
import tempfile
import termios
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "e2e"))
from session import SerialLine, XSession, named_instant, wait_until  # noqa: E402
from wine_prefix import WinePrefix, tray_icons  # noqa: E402

EXE = os.environ.get("BEAMCLOCK_EXE", "build-windows/bin/beamclock.exe")
DOCTOR_EXE = os.path.join(os.path.dirname(EXE), "beamclock-doctor.exe")
prefix = WinePrefix()
WINE = prefix.env
ZONE = "EST5EDT"  # west of Greenwich; the Windows C runtime reads only this form of TZ


def setUpModule():
    prefix.boot()


def tearDownModule():
    prefix.remove()


class WindowsProgram(unittest.TestCase):
    def setUp(self):
        self.session = XSession()
        self.addCleanup(self.session.stop)
        self.line = SerialLine()
        self.addCleanup(self.line.close)
        self.link_com5(self.line)
        self.folder = os.path.join(tempfile.mkdtemp(prefix="beamclock-win-"), "José")
        os.makedirs(self.folder)
        self.addCleanup(shutil.rmtree, os.path.dirname(self.folder), True)
        self.exe = os.path.join(self.folder, "beamclock.exe")
        shutil.copy(EXE, self.exe)
        self.ini = os.path.join(self.folder, "Skyfix.ini")

    def settings(self):
        try:
            with open(self.ini, "rb") as file:
                return file.read()
        except FileNotFoundError:
            return None

    def start(self, settings=None):
        if settings is not None:
            with open(self.ini, "wb") as file:
                file.write(settings.replace("\n", "\r\n").encode())
        env = dict(self.session.env, TZ=ZONE, **WINE)
        process = subprocess.Popen(["wine", self.exe], env=env, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

        def stop():
            if process.poll() is None:
                process.kill()
                process.wait(timeout=10)
            subprocess.run(["wineserver", "-k"], env=env, timeout=30)
        self.addCleanup(stop)
        window = wait_until(self.session.main_window, 40)
        self.assertTrue(window, "no window appeared")
        return process, window

    def tray_icons(self):
        return tray_icons(self.session)

    def assertPacketsInTheirSeconds(self, utc):
        time.sleep(1.2)
        self.line.drain()
        packets = self.line.packets(5.5)
        self.assertGreaterEqual(len(packets), 2, packets)
        for arrival, packet in packets:
            self.assertEqual(len(packet), 35, packet)
            self.assertEqual(int(packet[1:3]) % 2, 0, packet)
            lateness = arrival - named_instant(packet, utc)
            self.assertTrue(0 <= lateness < 0.1, (packet, lateness))

    def test_local_time_on_even_seconds_from_a_folder_named_jose(self):
        self.start("[SerialSync]\nCOMPORT=+COM5\nTIMEUTC=False\nTIMELOCAL=True\n")
        self.assertPacketsInTheirSeconds(utc=False)

    def test_utc_on_even_seconds(self):
        self.start("[SerialSync]\nCOMPORT=+COM5\nTIMEUTC=True\nTIMELOCAL=False\n")
        self.assertPacketsInTheirSeconds(utc=True)

    def test_first_start_writes_the_choice_with_windows_line_ends(self):
        self.start()
        self.assertTrue(wait_until(self.settings, 10))
        self.assertEqual(self.settings(), b"[SerialSync]\r\nTIMEUTC=False\r\nTIMELOCAL=True\r\n")

    def test_the_list_marks_com5_available_and_com6_not(self):
        process, window = self.start("[SerialSync]\nCOMPORT=None\n")

        def choose(text, tabs=("Tab", "Tab")):
            # From "Close and Exit", which has the focus, Tab leads past the time display to
            # the port list: type an entry's exact text there and press Enter.
            self.session.x("xdotool", "windowactivate", "--sync", window)
            time.sleep(0.5)  # Wine hands the focus on through its own messages
            self.session.x("xdotool", "key", "--delay", "100", *tabs, "ctrl+a")
            self.session.x("xdotool", "type", "--delay", "50", text)
            self.session.x("xdotool", "key", "Return")

        choose("+COM5")
        self.assertTrue(wait_until(lambda: b"COMPORT=+COM5\r\n" in (self.settings() or b""), 10),
                        self.settings())
        choose(" COM6", tabs=())  # not available: the warning, then the choice is saved
        box = wait_until(lambda: self.session.x("xdotool", "search", "--name", "^ERROR$").split(), 10)
        self.assertTrue(box, "no warning box")
        self.session.x("xdotool", "key", "--window", box[0], "Return")
        self.assertTrue(wait_until(lambda: b"COMPORT= COM6\r\n" in (self.settings() or b""), 10),
                        self.settings())

    def link_com5(self, line):
        prefix.link_com(5, line.device)

    def test_a_line_that_goes_away_is_opened_again_when_it_is_back(self):
        process, _ = self.start("[SerialSync]\nCOMPORT=+COM5\n")
        self.assertTrue(self.line.packets(4.5), "no packets at first")
        self.line.close()  # the emitter is unplugged: writes to it fail
        time.sleep(3)
        self.assertIsNone(process.poll(), "the program ended when its port went away")
        self.line = SerialLine()
        self.addCleanup(self.line.close)
        self.link_com5(self.line)  # plugged in again
        packets = self.line.packets(8)
        self.assertTrue(packets, "no packets after the port came back")
        for _, packet in packets:
            self.assertEqual(len(packet), 35, packet)

    def end_session(self, *how):
        """Log-off for the program's window; the program is frozen once it has answered."""
        helper = os.path.join(os.path.dirname(os.path.abspath(EXE)), "end_session.exe")
        # Output to a file: a pipe could be held open by Wine's own processes.
        with tempfile.TemporaryFile("w+") as output:
            code = subprocess.run(["wine", helper, "Beamclock", *how],
                                  env=dict(self.session.env, **WINE), timeout=60,
                                  stdin=subprocess.DEVNULL, stdout=output,
                                  stderr=output).returncode
            output.seek(0)
            said = output.read()
        self.assertEqual(code, 0, said)
        self.assertIn("query answered 1", said)

    def assertUnloadedWhenTheSessionEnds(self, *how):
        self.start("[SerialSync]\nCOMPORT=+COM5\n")
        self.assertTrue(wait_until(self.tray_icons, 15), "no tray icon")
        self.end_session(*how)
        self.assertTrue(wait_until(lambda: not self.tray_icons(), 10), "the tray icon lingers")

    def test_the_unload_step_is_done_before_a_log_off_is_answered(self):
        self.assertUnloadedWhenTheSessionEnds()

    def test_the_unload_step_is_done_before_a_forced_log_off_is_answered(self):
        # Without the question first, Qt closes no window: only WM_ENDSESSION is left to act on.
        self.assertUnloadedWhenTheSessionEnds("--forced")

    def test_a_log_off_ends_it_with_status_zero_and_the_settings_unchanged(self):
        process, _ = self.start("[SerialSync]\nCOMPORT=+COM5\n")
        self.assertTrue(wait_until(self.tray_icons, 15), "no tray icon")
        before = self.settings()
        subprocess.run(["wineboot", "--end-session"], env=dict(self.session.env, **WINE),
                       timeout=60, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        self.assertEqual(process.wait(timeout=20), 0)
        self.assertTrue(wait_until(lambda: not self.tray_icons(), 10), "the tray icon lingers")
        self.assertEqual(self.settings(), before)

    def test_tray_icon_no_taskbar_button_and_a_close_request_ends_with_zero(self):
        process, window = self.start("[SerialSync]\nCOMPORT=+COM5\n")
        self.assertTrue(wait_until(self.tray_icons, 15), "no tray icon")
        self.assertIn("_NET_WM_STATE_SKIP_TASKBAR",
                      self.session.x("xprop", "-id", window, "_NET_WM_STATE"))
        self.session.x("wmctrl", "-c", "Beamclock")
        self.assertEqual(process.wait(timeout=20), 0)
        self.assertTrue(wait_until(lambda: not self.tray_icons(), 10), "the tray icon lingers")


class AsAStandardUser(unittest.TestCase):
    """Wine run by an ordinary Unix user, the program in root's folder of mode 0755: Wine
    answers "access denied" there, as Program Files does to a standard user. (Run as root,
    Wine lets every write through.)"""

    def test_a_folder_the_user_cannot_write_keeps_the_settings_in_appdata(self):
        user = pwd.getpwnam("nobody")
        home = tempfile.mkdtemp(prefix="beamclock-wine-home-")
        self.addCleanup(shutil.rmtree, home, True)
        os.chown(home, user.pw_uid, user.pw_gid)
        folder = tempfile.mkdtemp(prefix="beamclock-program-files-")
        self.addCleanup(shutil.rmtree, folder, True)
        os.chmod(folder, 0o755)
        shutil.copy(EXE, os.path.join(folder, "beamclock.exe"))
        session = XSession(tray=False)
        self.addCleanup(session.stop)
        env = dict(session.env, TZ=ZONE, HOME=home, USER=user.pw_name, WINEDEBUG="-all",
                   WINEDLLOVERRIDES="mscoree,mshtml=", WINEPREFIX=os.path.join(home, "wine"))

        def as_user(*command, **options):
            return subprocess.Popen(["setpriv", f"--reuid={user.pw_uid}", f"--regid={user.pw_gid}",
                                     "--clear-groups", *command], env=env,
                                    stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL, **options)
        self.addCleanup(lambda: as_user("wineserver", "-k").wait(timeout=30))
        self.assertEqual(as_user("wineboot", "-i").wait(timeout=300), 0)
        process = as_user("wine", os.path.join(folder, "beamclock.exe"))
        self.addCleanup(lambda: process.poll() is None and (process.kill(), process.wait()))
        pattern = os.path.join(home, "wine", "drive_c", "users", "*", "AppData", "Roaming",
                               "beamclock", "Skyfix.ini")
        expected = b"[SerialSync]\r\nTIMEUTC=False\r\nTIMELOCAL=True\r\n"

        def kept():
            for name in glob.glob(pattern):
                with open(name, "rb") as file:
                    return file.read()
        self.assertTrue(wait_until(lambda: kept() == expected, 60), kept())
        self.assertEqual(os.listdir(folder), ["beamclock.exe"])


class WindowsDoctor(unittest.TestCase):
    """beamclock-doctor.exe beside beamclock.exe, as the installer puts them: a pair of
    pseudo-terminals joined by socat is COM5 (the program's) and COM6 (the doctor's ear)."""

    def setUp(self):
        self.session = XSession(tray=False)
        self.addCleanup(self.session.stop)
        place = tempfile.mkdtemp(prefix="beamclock-doctor-")
        self.addCleanup(shutil.rmtree, place, True)
        emitter, receiver = os.path.join(place, "emitter"), os.path.join(place, "receiver")
        pair = subprocess.Popen(["socat", f"pty,raw,echo=0,link={emitter}",
                                 f"pty,raw,echo=0,link={receiver}"],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: (pair.terminate(), pair.wait()))
        self.assertTrue(wait_until(lambda: os.path.exists(receiver), 5))
        prefix.link_com(5, os.path.realpath(emitter))
        prefix.link_com(6, os.path.realpath(receiver))
        # The other tests expect no COM6.
        self.addCleanup(os.unlink, os.path.join(prefix.path, "dosdevices", "com6"))
        self.folder = os.path.join(place, "Beamclock")
        os.makedirs(self.folder)
        for exe in (EXE, DOCTOR_EXE):
            shutil.copy(exe, self.folder)
        self.env = dict(self.session.env, TZ=ZONE, **WINE)
        self.addCleanup(subprocess.run, ["wineserver", "-k"], env=self.env, timeout=30)

    def write_settings(self, text):
        with open(os.path.join(self.folder, "Skyfix.ini"), "wb") as file:
            file.write(text.replace("\n", "\r\n").encode())

    def doctor(self, *args, timeout=60):
        with tempfile.TemporaryFile("w+") as output:  # a pipe could be held by Wine's own
            status = subprocess.run(["wine", os.path.join(self.folder, "beamclock-doctor.exe"),
                                     *args], env=self.env, timeout=timeout,
                                    stdin=subprocess.DEVNULL, stdout=output,
                                    stderr=subprocess.DEVNULL).returncode
            output.seek(0)
            return status, output.read()

    def findings(self, out):
        return {(f["section"], f["subject"]): f for f in json.loads(out)["findings"]}

    def test_a_setup_without_a_port_then_a_running_one_heard_on_the_line(self):
        self.write_settings("[SerialSync]\nCOMPORT=None\n")
        status, out = self.doctor("--json")
        self.assertEqual(status, 1, out)
        found = self.findings(out)
        self.assertIn("no port is chosen", found[("settings", "COMPORT")]["text"])
        self.assertIn("Skyfix.ini", found[("settings", "file")]["text"])
        self.assertIn("beside the program", found[("settings", "file")]["text"])
        self.assertIn("\\\\.\\COM5: available", found[("ports", "COM5")]["text"])
        self.assertIn("EST5EDT", found[("clock", "time zone")]["text"])
        self.assertIn("synchronised", {subject for _, subject in found})

        self.write_settings("[SerialSync]\nCOMPORT=+COM5\n")
        program = subprocess.Popen(["wine", os.path.join(self.folder, "beamclock.exe")],
                                   env=self.env, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: program.poll() is None and (program.kill(), program.wait()))
        self.assertTrue(wait_until(self.session.main_window, 40), "no window appeared")
        status, out = self.doctor("--json")
        self.assertEqual(status, 0, out)
        found = self.findings(out)
        self.assertIn("COM5", found[("ports", "COM5 (chosen)")]["text"])
        self.assertRegex(found[("running", "beamclock")]["text"],
                         r"beamclock \(pid \d+.* runs for this user from [A-Z]:\\.*Beamclock")
        self.assertIn("beamclock.log", found[("recent events", "log")]["text"])
        self.assertTrue(json.loads(out)["recent_events"], "the program's log lines are missing")

        # Windows' own usage, no sudo and no service; a port that is not there ends as on Linux.
        status, usage = self.doctor("--help")
        self.assertEqual(status, 0)
        self.assertNotIn("sudo", usage)
        self.assertNotIn("--service", usage)
        self.assertEqual(self.doctor("--listen", "COM9", "--seconds", "1")[0], 2)

        # Heard, and judged: a packet late under this machine's load makes the status 1.
        status, out = self.doctor("--listen", "COM6", "--seconds", "8")
        self.assertIn(status, (0, 1), out)
        self.assertIn("local time, first byte", out)
        self.assertIn("0 malformed", out)

    def test_a_port_refused_to_the_running_beamclock_and_a_line_put_back_after_listening(self):
        # Wine hands a COM port to every program that asks, so a port another program holds is
        # played by Windows' own answer for one: access denied, from a Wine server that, root
        # without the power to pass by a file's modes, may not open a device of mode 0.
        subprocess.run(["wineserver", "-k"], env=self.env, timeout=30)
        subprocess.run(["setpriv", "--bounding-set=-dac_override,-dac_read_search",
                        "wineserver", "-p"], env=self.env, timeout=30, check=True)

        # What --listen changes on COM6 is the port's to keep: it is put back when it ends.
        receiver = os.path.realpath(os.path.join(os.path.dirname(self.folder), "receiver"))
        kept = (termios.CSIZE | termios.PARENB | termios.PARODD | termios.CSTOPB |
                termios.CRTSCTS)
        fd = os.open(receiver, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        try:
            line = termios.tcgetattr(fd)
            line[0] = (line[0] & ~termios.IXANY) | termios.IXON | termios.IXOFF
            line[2] = (line[2] & ~kept) | termios.CS7 | termios.PARENB | termios.CSTOPB
            line[4] = line[5] = termios.B4800
            termios.tcsetattr(fd, termios.TCSANOW, line)
            before = termios.tcgetattr(fd)
            status, out = self.doctor("--listen", "COM6", "--seconds", "1")
            self.assertEqual(status, 1, out)  # nothing was sent
            self.assertIn("Listening on", out)
            after = termios.tcgetattr(fd)
        finally:
            os.close(fd)
        self.assertEqual((after[0] & (termios.IXON | termios.IXOFF), after[2] & kept,
                          after[4], after[5]),
                         (before[0] & (termios.IXON | termios.IXOFF), before[2] & kept,
                          before[4], before[5]))

        emitter = os.path.realpath(os.path.join(os.path.dirname(self.folder), "emitter"))
        os.chmod(emitter, 0)
        self.write_settings("[SerialSync]\nCOMPORT=+COM5\n")
        program = subprocess.Popen(["wine", os.path.join(self.folder, "beamclock.exe")],
                                   env=self.env, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: program.poll() is None and (program.kill(), program.wait()))
        self.assertTrue(wait_until(self.session.main_window, 40), "no window appeared")
        status, out = self.doctor("--json")
        self.assertEqual(status, 1, out)
        found = self.findings(out)
        chosen = found[("ports", "COM5 (chosen)")]
        self.assertEqual(chosen["level"], "problem", chosen)
        self.assertIn("\\\\.\\COM5: access denied: another program has it open, or this user "
                      "may not; the doctor cannot tell who holds it", chosen["text"])
        self.assertIn("whether it holds the chosen port \\\\.\\COM5 cannot be told",
                      found[("running", "beamclock")]["text"])


if __name__ == "__main__":
    unittest.main(verbosity=2)
