"""The Debian packages as a user meets them: what each holds, and the program and the service
run from them by an unprivileged user, from a folder that user cannot write. BEAMCLOCK_DEBS
names the three packages: beamclock, beamclockd and beamclock-doctor."""

import json
import os
import pwd
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "e2e"))
from session import SerialLine, XSession, wait_until  # noqa: E402

DEBS = dict(zip(("beamclock", "beamclockd", "beamclock-doctor"),
                os.environ.get("BEAMCLOCK_DEBS", "").split()))
DEB = DEBS.get("beamclock", "")
APP_ID = "com.korvel.beamclock"
ICON_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)


def files_of(deb):
    listing = subprocess.run(["dpkg-deb", "-c", deb], capture_output=True, text=True,
                             check=True).stdout
    return {line.split()[-1].lstrip(".") for line in listing.splitlines()
            if not line.startswith("d")}


def control_of(deb):
    return subprocess.run(["dpkg-deb", "-f", deb], capture_output=True, text=True,
                          check=True).stdout


class Contents(unittest.TestCase):
    def test_each_package_holds_its_own_files_and_nothing_else(self):
        docs = lambda package: {f"/usr/share/doc/{package}/copyright",  # noqa: E731
                                f"/usr/share/doc/{package}/changelog.Debian.gz"}
        expected = {
            "beamclock": {
                "/usr/bin/beamclock",
                f"/usr/share/applications/{APP_ID}.desktop",
                f"/usr/share/metainfo/{APP_ID}.metainfo.xml",
                f"/etc/xdg/autostart/{APP_ID}.desktop",
                "/usr/share/man/man1/beamclock.1.gz",
                "/usr/share/doc/beamclock/NEWS.Debian.gz",
            } | {f"/usr/share/icons/hicolor/{n}x{n}/apps/{APP_ID}.png" for n in ICON_SIZES},
            "beamclockd": {
                "/usr/sbin/beamclockd",
                "/usr/lib/systemd/system/beamclockd.service",
                "/usr/lib/systemd/system/beamclockd@.service",
                "/usr/share/man/man8/beamclockd.8.gz",
                "/usr/share/doc/beamclockd/NEWS.Debian.gz",
            },
            "beamclock-doctor": {
                "/usr/bin/beamclock-doctor",
                "/usr/share/man/man1/beamclock-doctor.1.gz",
            },
        }
        for package, deb in DEBS.items():
            with self.subTest(package=package):
                self.assertEqual(files_of(deb), expected[package] | docs(package))

    def test_control_fields(self):
        program, service, doctor = (control_of(DEBS[name]) for name in DEBS)
        for control in (program, service, doctor):
            self.assertNotIn("-dev", control)
        self.assertIn("Section: utils", program)
        self.assertIn("libqt6widgets6", program)  # computed by dpkg-shlibdeps
        self.assertNotIn("libqt6serialport6", service)  # it opens the device itself
        self.assertNotIn("libqt6gui6", service)
        self.assertNotIn("libqt6", doctor)
        for control in (program, service):
            self.assertIn("Recommends: beamclock-doctor", control)
        # 1.0.2 was one package: the doctor takes its files over, the service its place.
        self.assertIn("Replaces: beamclock (<< 1.0.2-1)", doctor)
        self.assertIn("Breaks: beamclock (<< 1.0.2-1)", service)
        self.assertIn("Version: 1.0.2-2", program)


class InstalledForAUser(unittest.TestCase):
    """Unpacked into a root the user cannot write, run as nobody with a throwaway home."""

    def setUp(self):
        self.user = pwd.getpwnam("nobody")
        self.root = tempfile.mkdtemp(prefix="beamclock-pkg-")
        self.addCleanup(shutil.rmtree, self.root, True)
        os.chmod(self.root, 0o755)
        subprocess.run(["dpkg-deb", "-x", DEB, self.root], check=True)
        self.program = os.path.join(self.root, "usr", "bin", "beamclock")
        self.home = tempfile.mkdtemp(prefix="beamclock-home-")
        self.addCleanup(shutil.rmtree, self.home, True)
        os.chown(self.home, self.user.pw_uid, self.user.pw_gid)
        os.chmod(self.home, 0o700)
        self.line = SerialLine()
        self.addCleanup(self.line.close)
        os.chown(self.line.device, self.user.pw_uid, -1)  # as the dialout group would allow
        ports = "\n".join(f"COM{n}={self.line.device if n == 3 else '/nonexistent/serial' + str(n)}"
                          for n in range(1, 17))
        self.beside = os.path.join(self.root, "usr", "bin", "Skyfix.ini")
        self.admin_file = f"[SerialSync]\nCOMPORT=None\n\n[Ports]\n{ports}\n".encode()
        with open(self.beside, "wb") as file:
            file.write(self.admin_file)
        self.copy = os.path.join(self.home, ".config", "beamclock", "Skyfix.ini")
        self.session = XSession()
        self.addCleanup(self.session.stop)

    def spawn(self, env):
        return subprocess.Popen(
            ["setpriv", f"--reuid={self.user.pw_uid}", f"--regid={self.user.pw_gid}",
             "--clear-groups", self.program],
            env=env, cwd=self.home, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def start(self):
        env = dict(self.session.env, HOME=self.home, TZ=os.environ["TZ"])
        env.pop("XDG_CONFIG_HOME", None)
        env.pop("XDG_RUNTIME_DIR", None)
        process = self.spawn(env)
        self.addCleanup(lambda: process.poll() is None and (process.kill(), process.wait()))
        window = wait_until(self.session.main_window, 10)
        self.assertTrue(window, "no window appeared")
        return process, window

    def copy_text(self):
        try:
            with open(self.copy) as file:
                return file.read()
        except FileNotFoundError:
            return ""

    def test_a_choice_is_kept_per_user_and_restored(self):
        process, window = self.start()
        # The port list's field sits at 32,96; type the entry's exact text and press Enter.
        self.session.x("xdotool", "mousemove", "--window", window, "60", "106", "click", "1")
        self.session.x("xdotool", "key", "--window", window, "ctrl+a")
        self.session.x("xdotool", "type", "--window", window, "+COM3")
        self.session.x("xdotool", "key", "--window", window, "Return")
        self.assertTrue(wait_until(lambda: "COMPORT=+COM3" in self.copy_text(), 5),
                        self.copy_text())
        self.session.x("wmctrl", "-c", "Beamclock")
        self.assertEqual(process.wait(timeout=10), 0)

        self.start()
        self.line.drain()
        packets = self.line.packets(4.5)
        self.assertGreaterEqual(len(packets), 1, "no packets after the restart")
        with open(self.beside, "rb") as file:
            self.assertEqual(file.read(), self.admin_file)  # byte for byte as it was
        self.assertIn("[Ports]", self.copy_text())
        self.assertIn(f"COM3={self.line.device}", self.copy_text())

    def test_the_service_reads_its_file_and_writes_nothing(self):
        # What beamclockd.service sets up: no display, a file in /etc/beamclock that only the
        # administrator may write, the program from its own package.
        subprocess.run(["dpkg-deb", "-x", DEBS["beamclockd"], self.root], check=True)
        etc = tempfile.mkdtemp(prefix="beamclock-etc-")
        self.addCleanup(shutil.rmtree, etc, True)
        os.chmod(etc, 0o755)
        service_file = os.path.join(etc, "Skyfix.ini")
        # This machine's clock need not be synchronised, which the service would wait for.
        administrator = (self.admin_file.replace(b"COMPORT=None", b"COMPORT=+COM3") +
                         b"[Service]\nSendUnsynchronised=True\n")
        with open(service_file, "wb") as file:
            file.write(administrator)
        env = {"PATH": os.environ["PATH"], "TZ": os.environ["TZ"]}
        process = subprocess.Popen(
            ["setpriv", f"--reuid={self.user.pw_uid}", f"--regid={self.user.pw_gid}",
             "--clear-groups", os.path.join(self.root, "usr", "sbin", "beamclockd"),
             "--settings", service_file],
            env=env, cwd="/", stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: process.poll() is None and (process.kill(), process.wait()))
        self.assertGreaterEqual(len(self.line.packets(4.5)), 1)
        # The packaged doctor, as the user asks it: findings, not a crash.
        subprocess.run(["dpkg-deb", "-x", DEBS["beamclock-doctor"], self.root], check=True)
        doctor = subprocess.run(
            ["setpriv", f"--reuid={self.user.pw_uid}", f"--regid={self.user.pw_gid}",
             "--clear-groups", os.path.join(self.root, "usr", "bin", "beamclock-doctor"),
             "--json"], env=dict(env, HOME=self.home), cwd="/", capture_output=True, text=True,
            timeout=30)
        self.assertIn(doctor.returncode, (0, 1), doctor.stderr)
        self.assertTrue(json.loads(doctor.stdout)["findings"])
        process.terminate()  # systemctl stop
        self.assertEqual(process.wait(timeout=10), 0)
        with open(service_file, "rb") as file:
            self.assertEqual(file.read(), administrator)
        self.assertEqual(os.listdir(etc), ["Skyfix.ini"])


def dpkg(*arguments):
    """dpkg, waiting out another install that holds its lock."""
    for _ in range(60):
        result = subprocess.run(["dpkg", *arguments], capture_output=True, text=True)
        if result.returncode == 0 or "lock" not in result.stderr:
            return result
        time.sleep(2)
    return result


@unittest.skipUnless(os.geteuid() == 0, "installs the package")
class InstalledByDpkgAndRunAsRoot(unittest.TestCase):
    """sudo beamclock: the installed program never writes beside itself, and takes the
    administrator's defaults from /etc/xdg/beamclock into the user's own file."""

    def test_the_first_start_copies_the_defaults_and_purge_leaves_nothing(self):
        result = dpkg("-i", DEB)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.addCleanup(dpkg, "--purge", "beamclock")
        line = SerialLine()
        self.addCleanup(line.close)
        defaults = "/etc/xdg/beamclock/Skyfix.ini"
        os.makedirs(os.path.dirname(defaults))
        self.addCleanup(shutil.rmtree, os.path.dirname(defaults), True)
        text = ("[SerialSync]\nCOMPORT=+COM7\nTIMEUTC=False\nTIMELOCAL=True\n\n"
                f"[Ports]\nCOM7={line.device}\n")
        with open(defaults, "w") as file:
            file.write(text)
        home = tempfile.mkdtemp(prefix="beamclock-root-home-")
        self.addCleanup(shutil.rmtree, home, True)
        env = {"PATH": os.environ["PATH"], "QT_QPA_PLATFORM": "offscreen", "HOME": home,
               "TZ": os.environ["TZ"]}
        process = subprocess.Popen(["/usr/bin/beamclock"], env=env, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: process.poll() is None and (process.kill(), process.wait()))
        self.assertGreaterEqual(len(line.packets(4.5)), 1, "no packets on the port it names")
        with open(os.path.join(home, ".config", "beamclock", "Skyfix.ini")) as file:
            self.assertEqual(file.read(), text)
        self.assertFalse(os.path.exists("/usr/bin/Skyfix.ini"))
        process.terminate()
        self.assertEqual(process.wait(timeout=10), 0)

        self.assertEqual(dpkg("--purge", "beamclock").returncode, 0)
        for path in ("/usr/bin/beamclock", "/usr/bin/Skyfix.ini",
                     f"/etc/xdg/autostart/{APP_ID}.desktop"):
            self.assertFalse(os.path.exists(path), path)


    def test_purging_the_service_leaves_no_link(self):
        # An administrator enabled the unit (systemctl enable makes the link on a machine
        # without a running systemd too); purge takes the link away.
        result = dpkg("-i", DEBS["beamclock-doctor"], DEBS["beamclockd"])
        self.assertEqual(result.returncode, 0, result.stderr)
        self.addCleanup(dpkg, "--purge", "beamclockd", "beamclock-doctor")
        link = "/etc/systemd/system/multi-user.target.wants/beamclockd.service"
        subprocess.run(["systemctl", "enable", "beamclockd.service"], check=True,
                       capture_output=True)
        self.assertTrue(os.path.islink(link))
        self.assertEqual(dpkg("--remove", "beamclockd").returncode, 0)
        self.assertEqual(dpkg("--purge", "beamclockd").returncode, 0)
        self.assertFalse(os.path.lexists(link))
        self.assertFalse(os.path.exists("/usr/sbin/beamclockd"))


if __name__ == "__main__":
    unittest.main(verbosity=2)
