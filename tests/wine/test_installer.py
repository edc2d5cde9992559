"""The setup program under Wine, in a fresh prefix of an ordinary user's, as a Windows user
meets it: a silent install, the program started as the Run value names it, a silent upgrade
over the running copy, the quiet uninstall, and a removal that takes the settings and the log
too, one scenario checked step by step. The registry is read with Wine's own reg.exe."""

import lzma
import os
import pwd
import signal
import struct
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "e2e"))
from session import SerialLine, XSession, wait_until  # noqa: E402
from wine_prefix import WinePrefix, tray_icons  # noqa: E402

SETUP = os.environ.get("BEAMCLOCK_SETUP", "build/packages/beamclock-1.0.2-windows-x64-setup.exe")
RUN_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run"
UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Beamclock"
SETTINGS = b"[SerialSync]\r\nCOMPORT=+COM5\r\nTIMEUTC=False\r\nTIMELOCAL=True\r\n"

prefix = WinePrefix(pwd.getpwnam("nobody"))


def setup_texts(path):
    """The strings of the setup program's pages: its header, the first thing in the solid LZMA
    block after the first header (flags, 0xdeadbeef, "NullsoftInst", the header's size), in
    UTF-16, as makensis writes a Unicode installer."""
    data = Path(path).read_bytes()
    at = data.find(b"\xef\xbe\xad\xdeNullsoftInst")
    size, = struct.unpack_from("<I", data, at + 16)
    props, dictionary = data[at + 24], struct.unpack_from("<I", data, at + 25)[0]
    lzma1 = {"id": lzma.FILTER_LZMA1, "dict_size": dictionary, "lc": props % 9,
             "lp": props // 9 % 5, "pb": props // 45}
    block = lzma.LZMADecompressor(lzma.FORMAT_RAW, filters=[lzma1]).decompress(
        data[at + 29:], max_length=size + 4)
    return block[4:4 + size].decode("utf-16-le", "replace")


def setUpModule():
    prefix.boot()


def tearDownModule():
    prefix.remove()


class Installer(unittest.TestCase):
    def setUp(self):
        self.session = XSession()
        self.addCleanup(self.session.stop)
        self.env = dict(self.session.env, **prefix.env)
        self.addCleanup(subprocess.run, prefix.command("wineserver", "-k"), env=self.env,
                        timeout=30)
        self.line = SerialLine()
        self.addCleanup(self.line.close)
        prefix.give(self.line.device)
        prefix.link_com(5, self.line.device)

    def wine(self, *command):
        """Runs a Windows program to its end. Output through a file: a pipe would be held open
        by the programs it starts."""
        with tempfile.TemporaryFile("w+") as output:
            code = subprocess.run(prefix.command("wine", *command), env=self.env, timeout=120,
                                  stdin=subprocess.DEVNULL, stdout=output,
                                  stderr=output).returncode
            output.seek(0)
            return code, output.read().strip()

    def unix(self, path):
        return self.wine("winepath.exe", "-u", path)[1]

    def registry(self, key):
        code, said = self.wine("reg", "query", key)
        values = {}
        for line in said.splitlines() if code == 0 else []:
            parts = line.split(None, 2)
            if len(parts) == 3 and parts[1].startswith("REG_"):
                values[parts[0]] = parts[2]
        return values

    def test_silent_install_start_at_login_upgrade_over_the_running_copy_and_removal(self):
        code, said = self.wine(SETUP, "/S")
        self.assertEqual(code, 0, said)
        folder = self.wine("cmd", "/c", "echo %LOCALAPPDATA%")[1] + r"\Programs\Beamclock"
        entry = self.registry(UNINSTALL_KEY)
        self.assertEqual(entry.get("DisplayVersion"), "1.0.2", entry)
        self.assertEqual(entry.get("InstallLocation"), folder, entry)
        self.assertEqual(entry.get("QuietUninstallString"),
                         f'"{folder}\\uninstall.exe" /S _?={folder}')
        self.assertEqual(entry.get("NoModify"), "0x1")
        for name in ("DisplayName", "Publisher", "DisplayIcon", "EstimatedSize",
                     "UninstallString", "NoRepair"):
            self.assertIn(name, entry)
        run = self.registry(RUN_KEY).get("Beamclock")
        self.assertEqual(run, f'"{folder}\\beamclock.exe"')
        installed = self.unix(folder)
        files = ("beamclock.exe", "beamclock-doctor.exe", "README.txt", "uninstall.exe")
        for name in files:
            self.assertTrue(os.path.isfile(os.path.join(installed, name)), name)
        menu = self.unix(self.wine("cmd", "/c", "echo %APPDATA%")[1] +
                         r"\Microsoft\Windows\Start Menu\Programs")
        shortcut, doctor = (os.path.join(menu, name) for name in ("Beamclock.lnk",
                                                                  "Beamclock doctor.lnk"))
        self.assertTrue(os.path.isfile(shortcut), shortcut)
        # The doctor's report in a console that waits for Enter.
        self.assertIn("--pause".encode("utf-16-le"), Path(doctor).read_bytes())
        texts = setup_texts(SETUP)
        self.assertIn("Beamclock 1.0.2", texts)  # the pages' foot
        self.assertIn("Welcome to", texts)  # the welcome page
        self.assertNotIn("Nullsoft", texts)
        # Another folder while this install stands: refused, so none is left without an entry.
        code, said = self.wine(SETUP, "/S", r"/D=C:\Elsewhere\Beamclock")
        self.assertEqual(code, 2, said)
        self.assertFalse(os.path.exists(self.unix(r"C:\Elsewhere\Beamclock")))

        # The log-in: the program as the Run value names it, the emitter chosen.
        ini = Path(installed, "Skyfix.ini")
        ini.write_bytes(SETTINGS)
        prefix.give(ini)
        old = subprocess.Popen(prefix.command("wine", run.strip('"')), env=self.env,
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: old.poll() is None and old.kill())
        self.assertTrue(wait_until(lambda: tray_icons(self.session), 40), "no tray icon")
        self.assertTrue(self.line.packets(4.5), "no packets on COM5")

        # The upgrade over the running copy, after the user turned start at login off.
        self.assertEqual(self.wine("reg", "delete", RUN_KEY, "/v", "Beamclock", "/f")[0], 0)
        old_icons = set(tray_icons(self.session))
        exe = os.path.join(installed, "beamclock.exe")
        written = os.stat(exe).st_ctime_ns
        readme = Path(installed, "README.txt")
        shipped = readme.read_bytes()
        readme.write_bytes(shipped + b"edited\r\n")
        code, said = self.wine(SETUP, "/S")
        self.assertEqual(code, 0, said)
        self.assertEqual(old.wait(timeout=20), 0, "the old copy was not closed as asked")
        self.assertTrue(wait_until(lambda: not old_icons & set(tray_icons(self.session)), 10),
                        "the old copy's tray icon lingers")
        self.assertGreater(os.stat(exe).st_ctime_ns, written, "beamclock.exe not replaced")
        self.assertEqual(readme.read_bytes(), shipped)
        self.assertEqual(ini.read_bytes(), SETTINGS)
        self.assertNotIn("Beamclock", self.registry(RUN_KEY), "start at login came back")
        self.assertTrue(wait_until(lambda: tray_icons(self.session), 40), "no new copy started")
        self.line.drain()
        self.assertTrue(self.line.packets(4.5), "no packets from the new copy")

        # The quiet removal, as Apps & features starts it. A copy that does not close when
        # asked (stopped here) fails it with status 2 and nothing removed.
        program, arguments = entry["QuietUninstallString"][1:].split('"', 1)
        arguments = arguments.strip().split(" ", 1)
        stuck = [int(pid) for pid in subprocess.run(
            ["pgrep", "-f", r"Beamclock\\beamclock\.exe"], capture_output=True,
            text=True).stdout.split()]
        self.assertTrue(stuck, "the new copy's process is not found")
        for pid in stuck:
            os.kill(pid, signal.SIGSTOP)
        code, said = self.wine(program, *arguments)
        for pid in stuck:
            os.kill(pid, signal.SIGCONT)
        self.assertEqual(code, 2, said)
        self.assertEqual(self.registry(UNINSTALL_KEY).get("DisplayVersion"), "1.0.2")
        self.assertTrue(os.path.isfile(exe))

        # Started again, it waits for the copy, and its status is the removal's own.
        code, said = self.wine(program, *arguments)
        self.assertEqual(code, 0, said)
        self.assertEqual(self.registry(UNINSTALL_KEY), {})
        self.assertFalse(os.path.exists(exe))
        self.assertTrue(wait_until(
            lambda: not os.path.exists(os.path.join(installed, "uninstall.exe")), 30),
            "the uninstaller itself stays")
        self.assertTrue(wait_until(lambda: not tray_icons(self.session), 10),
                        "the tray icon lingers after the removal")
        self.assertNotIn("Beamclock", self.registry(RUN_KEY))
        for name in files:
            self.assertFalse(os.path.exists(os.path.join(installed, name)), name)
        self.assertFalse(os.path.exists(shortcut))
        self.assertFalse(os.path.exists(doctor))
        self.assertEqual(ini.read_bytes(), SETTINGS)

        # Installed again and removed with the settings: the file beside the program and the
        # log's folder, which the program made as it ran, go too.
        local = self.unix(self.wine("cmd", "/c", "echo %LOCALAPPDATA%")[1])

        def ours():
            return [name for name in os.listdir(local) if name.lower() == "beamclock"]
        self.assertTrue(ours(), "the program logged nowhere")
        self.assertEqual(self.wine(SETUP, "/S")[0], 0)
        code, said = self.wine(program, arguments[0], "/RemoveSettings", arguments[1])
        self.assertEqual(code, 0, said)
        self.assertFalse(ini.exists())
        self.assertEqual(ours(), [])
        self.assertTrue(wait_until(lambda: not os.path.exists(installed), 30),
                        os.listdir(installed) if os.path.exists(installed) else "")


if __name__ == "__main__":
    unittest.main(verbosity=2)
