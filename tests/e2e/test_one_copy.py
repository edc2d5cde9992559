"""One copy per settings file, as an ordinary user: two installs the user cannot write share
one per-user file, and a lock file another user planted neither stops the program nor makes
it signal a process of the planter's choosing. And the user's own file in a folder the user
cannot write, on a full disk."""

import contextlib
import fcntl
import os
import pwd
import shutil
import subprocess
import tempfile
import unittest

from session import PROGRAM, SerialLine, offscreen_env, settings_for, wait_until
from test_keep_set import settings

LOCAL_KEYS = "TIMEUTC=False\nTIMELOCAL=True\n"


def fnv1a(text):
    value = 14695981039346656037
    for byte in text.encode():
        value = ((value ^ byte) * 1099511628211) % 2**64
    return f"{value:016x}"


def text(path):
    with open(path) as file:
        return file.read()


class AsAnOrdinaryUser(unittest.TestCase):
    def setUp(self):
        self.user = pwd.getpwnam("nobody")
        self.home = tempfile.mkdtemp(prefix="beamclock-home-")
        self.addCleanup(shutil.rmtree, self.home, True)
        os.chown(self.home, self.user.pw_uid, self.user.pw_gid)
        self.line = SerialLine()
        self.addCleanup(self.line.close)
        os.chown(self.line.device, self.user.pw_uid, -1)
        self.per_user = os.path.join(self.home, ".config", "beamclock", "Skyfix.ini")
        os.makedirs(os.path.dirname(self.per_user))
        with open(self.per_user, "w") as file:
            file.write(settings_for(self.line.device))
        for folder, _, files in os.walk(self.home):
            for name in [folder] + [os.path.join(folder, file) for file in files]:
                os.chown(name, self.user.pw_uid, self.user.pw_gid)

    def install(self):
        """A copy of the program in a folder of root's that the user may only read."""
        folder = tempfile.mkdtemp(prefix="beamclock-install-")
        self.addCleanup(shutil.rmtree, folder, True)
        os.chmod(folder, 0o755)
        shutil.copy2(PROGRAM, os.path.join(folder, "beamclock"))
        return os.path.join(folder, "beamclock")

    def as_user(self, command, **environment):
        env = dict(offscreen_env(), HOME=self.home, **environment)
        for name in ("XDG_CONFIG_HOME", "XDG_RUNTIME_DIR", "XDG_CACHE_HOME"):
            if name not in environment:
                env.pop(name, None)
        process = subprocess.Popen(
            ["setpriv", f"--reuid={self.user.pw_uid}", f"--regid={self.user.pw_gid}",
             "--clear-groups"] + command, env=env, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: process.poll() is None and (process.kill(), process.wait()))
        return process

    def sends(self):
        """A packet within ten seconds: a start on a loaded machine takes a few."""
        self.line.drain()
        return wait_until(lambda: self.line.packets(2.5), 10, step=0)

    def test_two_installs_share_the_per_user_file_and_run_once(self):
        first = self.as_user([self.install()])
        self.assertTrue(self.sends(), "the first copy sends nothing")
        second = self.as_user([self.install()])
        self.assertEqual(second.wait(timeout=10), 0)
        self.assertIsNone(first.poll())

    def test_a_planted_lock_neither_stops_the_program_nor_signals_its_pid(self):
        # The planter's bait: a process of the victim's own, which SIGUSR1 would end.
        bait = self.as_user(["sleep", "60"])
        shared = tempfile.mkdtemp(prefix="beamclock-shared-")
        self.addCleanup(shutil.rmtree, shared, True)
        os.chmod(shared, 0o1777)
        program = self.install()
        for settings in (self.per_user, os.path.join(os.path.dirname(program), "Skyfix.ini")):
            name = fnv1a(settings)
            for lock in (f"/tmp/beamclock-{self.user.pw_uid}-{name}.lock",  # where it once was
                         os.path.join(shared, f"beamclock-{name}.lock")):
                fd = os.open(lock, os.O_RDWR | os.O_CREAT | os.O_TRUNC, 0o666)
                self.addCleanup(os.unlink, lock)
                self.addCleanup(os.close, fd)
                os.fchmod(fd, 0o666)
                os.write(fd, f"{bait.pid}\n".encode())
                fcntl.flock(fd, fcntl.LOCK_EX)
        for environment in ({}, {"XDG_RUNTIME_DIR": shared}):
            victim = self.as_user([program], **environment)
            self.assertTrue(self.sends(), f"no packets with {environment}")
            self.assertIsNone(victim.poll())
            self.assertIsNone(bait.poll(), "the planted pid was signalled")
            victim.terminate()
            self.assertEqual(victim.wait(timeout=10), 0)

    def test_a_settings_file_it_may_not_read_is_named_and_kept(self):
        os.unlink(self.per_user)
        program = self.install()
        beside = os.path.join(os.path.dirname(program), "Skyfix.ini")
        with open(beside, "w") as file:
            file.write(settings_for(self.line.device))
        os.chmod(beside, 0o600)  # the administrator's, not the user's to read
        before = text(beside)
        user = self.as_user([program])
        log = os.path.join(self.home, ".local", "state", "beamclock", "beamclock.log")
        said = f"could not read {beside}: permission denied; its settings are not used"
        self.assertTrue(wait_until(lambda: os.path.exists(log) and said in text(log), 10))
        self.assertIsNone(user.poll())
        self.assertEqual(text(beside), before)
        self.assertFalse(os.path.exists(self.per_user), "a copy would hide it once mended")

    def test_a_file_changed_in_place_on_a_full_disk_stays_whole_and_the_log_says_so(self):
        folder = tempfile.mkdtemp(prefix="beamclock-full-")
        self.addCleanup(shutil.rmtree, folder, True)
        size = os.path.getsize(PROGRAM) + (1 << 20)
        if subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={size},mode=0755", "tmpfs",
                           folder], capture_output=True, timeout=10).returncode != 0:
            self.skipTest("cannot mount a file system here")
        self.addCleanup(subprocess.run, ["umount", "-l", folder], capture_output=True,
                        timeout=10)
        program = shutil.copy2(PROGRAM, os.path.join(folder, "beamclock"))
        beside = os.path.join(folder, "Skyfix.ini")
        # COM5 on the line; no UTC/LOCAL keys, so the start's writes take it past one page.
        lines = settings(self.line.device, "+COM5", 5).replace(LOCAL_KEYS, "")
        before = lines.replace("\n\n", "\n;" + "n" * (4090 - len(lines) - 2) + "\n\n").encode()
        with open(beside, "wb") as file:
            file.write(before)
        os.chown(beside, self.user.pw_uid, self.user.pw_gid)
        with open(os.path.join(folder, "filler"), "wb", buffering=0) as filler, \
                contextlib.suppress(OSError):
            while filler.write(b"f" * 65536):
                pass
        self.assertEqual((len(before), os.statvfs(folder).f_bavail), (4090, 0))

        self.as_user([program])
        log = os.path.join(self.home, ".local", "state", "beamclock", "beamclock.log")
        said = f"could not save TimeUTC=False in {beside}"
        self.assertTrue(wait_until(lambda: os.path.exists(log) and said in text(log), 10))
        self.assertTrue(self.sends(), "COM5 gets no packets")
        with open(beside, "rb") as file:
            self.assertEqual(file.read(), before)

if __name__ == "__main__":
    unittest.main(verbosity=2)
