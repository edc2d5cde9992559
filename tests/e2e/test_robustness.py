"""Bad settings files, vanishing devices, another user's lock files and a display that goes
away, met by the real program. Each case says what the user sees and what is kept on disk."""

import grp
import json
import os
import pwd
import random
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

from session import (PROGRAM, SENDS_UNSYNCHRONISED, Emitter, Program, SerialLine, XSession,
                     cpu_seconds, named_instant, offscreen_env, ports_section, settings_for,
                     wait_until)

LOCAL_KEYS = ("TIMEUTC=False", "TIMELOCAL=True")
DOCTOR = os.environ.get("BEAMCLOCK_DOCTOR", "build-dev/bin/beamclock-doctor")
SERVICE = os.environ.get("BEAMCLOCKD", "build-dev/bin/beamclockd")


class Case(unittest.TestCase):
    """The program offscreen, its COM3 on a pseudo-terminal."""

    def setUp(self):
        self.line = SerialLine()
        self.addCleanup(self.line.close)

    def start(self, settings, directory=None):
        program = Program(settings, directory)
        self.addCleanup(program.stop)
        program.start(offscreen_env())
        return program

    def started(self, program, timeout=5):
        """Waits for the end of the load step, which writes the UTC/LOCAL keys."""
        return wait_until(lambda: program.settings() is not None and
                          "TIMELOCAL=True" in program.settings(), timeout)

    def assertSends(self, expected=True):
        packets = self.line.packets(2.6)
        if expected:
            self.assertGreaterEqual(len(packets), 1, "no packet on the line")
            self.assertTrue(all(len(packet) == 35 for _, packet in packets), packets)
        else:
            self.assertEqual(packets, [])

    def assertEndsCleanly(self, program):
        self.assertTrue(program.alive())
        program.signal(signal.SIGTERM)
        self.assertEqual(program.wait(), 0)

    def assertOnlyKeysAdded(self, before, after, line_end="\n"):
        """The file is what it was, with the two UTC/LOCAL keys added and nothing else."""
        for key in LOCAL_KEYS:
            after = after.replace(key + line_end, "", 1)
        self.assertEqual(after, before)


class BadSettingsFiles(Case):
    def valid(self, line_end="\n"):
        text = "[SerialSync]\nCOMPORT=+COM3\n" + ports_section(self.line.device)
        return text.replace("\n", line_end)

    def check(self, before, line_end="\n"):
        program = self.start(before)
        self.assertTrue(self.started(program), program.settings())
        self.assertSends()
        self.assertOnlyKeysAdded(before, program.settings(), line_end)
        self.assertEndsCleanly(program)

    def test_random_binary_bytes_before_the_valid_lines(self):
        noise = bytes(random.Random(7).randrange(256) for _ in range(4096)).decode("latin-1")
        self.check(noise + "\n" + self.valid())

    def test_nul_bytes_and_invalid_utf8_in_lines(self):
        self.check("[Junk]\nname=a\0b\n\xff\xfe=\x80\x81\n" + self.valid())

    def test_byte_order_mark(self):
        self.check("\xef\xbb\xbf" + self.valid())

    def test_crlf_and_lone_cr_line_ends(self):
        for line_end in ("\r\n", "\r"):
            with self.subTest(line_end=repr(line_end)):
                self.check(self.valid(line_end), line_end)

    def test_no_final_newline(self):
        text = ports_section(self.line.device) + "[SerialSync]\nCOMPORT=+COM3"
        program = self.start(text)
        self.assertTrue(self.started(program))
        self.assertSends()
        self.assertEqual(program.settings(), text + "\nTIMEUTC=False\nTIMELOCAL=True\n")

    def test_a_line_of_a_megabyte(self):
        self.check("[Big]\nline=" + "x" * (1 << 20) + "\n" + self.valid())

    def test_ten_megabytes_in_a_hundred_thousand_sections(self):
        # Only a bound against a scan that grows with the square of the file; how fast
        # the load is belongs in a benchmark, not in a test that shares a busy machine.
        sections = "".join(f"[S{i}]\nkey={'v' * 82}\n" for i in range(100_000))
        before = sections + self.valid()
        program = Program(before)
        self.addCleanup(program.stop)
        program.start(offscreen_env())
        self.assertTrue(self.started(program, timeout=10))
        self.assertSends()
        self.assertOnlyKeysAdded(before, program.settings())

    def test_a_value_of_800_characters_names_no_port(self):
        before = self.valid().replace("COMPORT=+COM3", "COMPORT=+COM3" + "x" * 797)
        program = self.start(before)
        self.assertTrue(self.started(program))
        self.assertSends(False)  # names no port: nothing is opened
        self.assertOnlyKeysAdded(before, program.settings())

    def test_duplicate_sections_and_keys_the_first_wins(self):
        before = ("[serialsync]\nCOMPORT=+COM3\ncomport=+COM4\n[SerialSync]\nCOMPORT=None\n"
                  + ports_section(self.line.device))
        program = self.start(before)
        self.assertTrue(wait_until(lambda: "TIMELOCAL" in (program.settings() or ""), 5))
        self.assertSends()
        self.assertTrue(program.settings().startswith(
            "[serialsync]\nCOMPORT=+COM3\ncomport=+COM4\nTIMEUTC=False\nTIMELOCAL=True\n"))

    def test_quoted_values(self):
        self.check(self.valid().replace("COMPORT=+COM3", "COMPORT = \"+COM3\""))

    def test_a_utf16_file_as_notepad_saves_it(self):
        before = ("[SerialSync]\nCOMPORT=+COM5\nTimeUTC=True\n\n"
                  + ports_section(self.line.device, number=5)).replace("\n", "\r\n")
        program = self.start(b"\xff\xfe" + before.encode("utf-16-le"))
        packets = self.line.first_packets()
        self.assertTrue(packets, "no packet on the line")
        for arrival, packet in packets:
            self.assertLess(abs(arrival - named_instant(packet, utc=True)), 1.0, packet)
        # The load step saves the choice it restored: the key it lacked is added, in UTF-16LE.
        self.assertTrue(wait_until(lambda: "L\0=" in program.settings(), 5))
        after = before.replace("True\r\n", "True\r\nTIMELOCAL=False\r\n").encode("utf-16-le")
        self.assertEqual(program.settings().encode("latin-1"), b"\xff\xfe" + after)

    def test_settings_file_that_is_a_directory(self):
        program = Program(None)
        self.addCleanup(program.stop)
        os.mkdir(program.settings_file)
        program.start(offscreen_env())
        self.assertSends(False)  # no choice can be read: "None"
        self.assertTrue(os.path.isdir(program.settings_file))
        self.assertEqual(os.listdir(program.settings_file), [])
        self.assertEndsCleanly(program)

    def test_settings_file_that_is_a_link(self):
        program = Program(None)
        self.addCleanup(program.stop)
        target = os.path.join(program.directory, "kept", "real.ini")
        os.mkdir(os.path.dirname(target))
        before = self.valid()
        with open(target, "w") as file:
            file.write(before)
        os.symlink("kept/real.ini", program.settings_file)
        program.start(offscreen_env())
        self.assertTrue(self.started(program))
        self.assertTrue(os.path.islink(program.settings_file))
        self.assertSends()
        self.assertOnlyKeysAdded(before, program.settings())

    def test_a_directory_where_nothing_can_be_created(self):
        directory = tempfile.mkdtemp(prefix="beamclock-ro-")
        self.addCleanup(shutil.rmtree, directory, True)
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64m", "tmpfs", directory],
                          capture_output=True).returncode != 0:
            self.skipTest("cannot mount a file system here")
        self.addCleanup(subprocess.run, ["umount", "-l", directory], capture_output=True)
        before = self.valid()
        program = Program(before, directory)
        self.addCleanup(program.stop)
        subprocess.run(["mount", "-o", "remount,ro", directory], check=True)
        program.start(offscreen_env())
        self.assertSends()
        self.assertEqual(program.settings(), before)
        # The choices made at start went to the per-user copy, made from the file whole.
        self.assertTrue(wait_until(lambda: os.path.exists(program.per_user_file), 5))
        with open(program.per_user_file) as copy:
            self.assertIn("[Ports]", copy.read())
        self.assertEndsCleanly(program)


class Devices(Case):
    def assertIdle(self, program, seconds=3.0):
        """Still running, and not spinning: a busy loop would take a whole core."""
        used = cpu_seconds(program.process.pid)
        time.sleep(seconds)
        self.assertTrue(program.alive())
        self.assertLess(cpu_seconds(program.process.pid) - used, 0.10 * seconds)

    def test_a_missing_port(self):
        program = self.start("[SerialSync]\nCOMPORT=+COM3\n" + ports_section("/nonexistent/tty"))
        self.assertTrue(self.started(program))
        self.assertIdle(program)
        self.assertEndsCleanly(program)

    def test_a_port_held_by_another_program(self):
        import fcntl
        holder = os.open(self.line.device, os.O_RDWR | os.O_NOCTTY)
        self.addCleanup(os.close, holder)
        fcntl.flock(holder, fcntl.LOCK_EX | fcntl.LOCK_NB)
        program = self.start("[SerialSync]\nCOMPORT=+COM3\n" + ports_section(self.line.device))
        self.assertTrue(self.started(program))
        self.assertSends(False)
        self.assertEndsCleanly(program)

    def test_a_port_that_vanishes_while_open(self):
        emitter = Emitter(self)
        self.line = emitter.plug()
        program = self.start("[SerialSync]\nCOMPORT=+COM3\n" + ports_section(emitter.link))
        self.assertSends()
        emitter.unplug()
        self.assertIdle(program)
        self.assertEndsCleanly(program)

    def test_a_saved_port_that_is_now_a_file_or_a_directory(self):
        for kind in ("file", "directory"):
            with self.subTest(kind=kind):
                place = tempfile.mkdtemp(prefix="beamclock-dev-")
                self.addCleanup(shutil.rmtree, place, True)
                device = os.path.join(place, "ttyUSB0")
                if kind == "file":
                    with open(device, "w") as file:
                        file.write("untouched")
                else:
                    os.mkdir(device)
                program = self.start("[SerialSync]\nCOMPORT=+COM3\n" + ports_section(device))
                self.assertTrue(self.started(program))
                self.assertIdle(program, 2.0)
                if kind == "file":
                    with open(device) as file:
                        self.assertEqual(file.read(), "untouched")
                self.assertEndsCleanly(program)


class ForeignLockFiles(unittest.TestCase):
    """Two users made for the test: one writes lock files into the shared lock folder for the
    emitter of the other, a member of dialout, who runs the program, beamclockd and the doctor."""

    def setUp(self):
        self.planter, self.victim = self.new_user("bcplant"), self.new_user("bcvictim", "dialout")
        self.emitter = Emitter(self)
        self.line = self.emitter.plug()
        os.chown(self.line.device, 0, grp.getgrnam("dialout").gr_gid)
        os.chmod(self.line.device, 0o660)
        os.chmod(self.emitter.place, 0o755)
        # The program beside the file the service reads, in the doctor's BEAMCLOCK_DOCTOR_ROOT.
        self.home = tempfile.mkdtemp(prefix="beamclock-home-")
        self.addCleanup(shutil.rmtree, self.home, True)
        self.folder = os.path.join(self.home, "etc", "beamclock")
        os.makedirs(self.folder)
        shutil.copy2(PROGRAM, self.folder)
        with open(os.path.join(self.folder, "Skyfix.ini"), "w") as file:
            file.write(settings_for(self.emitter.link) + SENDS_UNSYNCHRONISED)
        for folder, _, files in os.walk(self.home):
            os.chmod(folder, 0o755)
            for name in [folder] + [os.path.join(folder, file) for file in files]:
                os.chown(name, self.victim.pw_uid, self.victim.pw_gid)

    def new_user(self, prefix, *groups):
        name = f"{prefix}{os.getpid()}"
        subprocess.run(["useradd", "-M", "-s", "/usr/sbin/nologin",
                        *[f"-G{group}" for group in groups], name],
                       check=True, capture_output=True, timeout=30)
        self.addCleanup(subprocess.run, ["userdel", name], capture_output=True, timeout=30)
        return pwd.getpwnam(name)

    def as_user(self, user, *command, stdout=subprocess.DEVNULL):
        env = {key: value for key, value in offscreen_env().items() if not key.startswith("XDG_")}
        process = subprocess.Popen(
            ["setpriv", f"--reuid={user.pw_uid}", f"--regid={user.pw_gid}", "--init-groups",
             *command], env=dict(env, HOME=self.home, BEAMCLOCK_DOCTOR_ROOT=self.home),
            stdout=stdout, stderr=subprocess.DEVNULL, text=True)
        self.addCleanup(lambda: process.poll() is None and (process.kill(), process.wait()))
        return process

    def doctor(self, *args):
        """The exit status, and each finding by its subject."""
        process = self.as_user(self.victim, DOCTOR, "--json", *args, stdout=subprocess.PIPE)
        findings = json.loads(process.communicate(timeout=10)[0])["findings"]
        return process.returncode, {finding["subject"]: finding for finding in findings}

    def assertSendsWithin6s(self):
        started = time.time()
        packets = wait_until(lambda: self.line.packets(2.5), 6, step=0)
        self.assertTrue(packets and packets[0][0] - started < 6, packets)

    def stop(self, process):
        process.terminate()
        self.assertEqual(process.wait(timeout=10), 0)

    def test_neither_the_program_nor_the_service_goes_by_them(self):
        ended = self.as_user(self.planter, "true")
        ended.wait(timeout=10)
        # Named after the device the link leads to, then after the link as it is given.
        for name, pid in ((os.path.realpath(self.emitter.link)[len("/dev/"):], 1),
                          (self.emitter.link, ended.pid)):
            path = "/run/lock/LCK.." + name.replace("/", "_")
            self.addCleanup(lambda path=path: os.path.exists(path) and os.unlink(path))
            self.as_user(self.planter, "sh", "-c", f'printf "%10d\\n" {pid} >{path}').wait(10)
            self.assertEqual(os.stat(path).st_uid, self.planter.pw_uid)
            note = f"a lock file of user {self.planter.pw_name}"

            status, found = self.doctor("--dir", self.folder)
            self.assertEqual(status, 0, found)
            self.assertTrue(found["COM3 (chosen)"]["text"].startswith(
                f"{self.emitter.link}: available; {note}"), found["COM3 (chosen)"])
            program = self.as_user(self.victim, f"{self.folder}/beamclock")
            self.assertSendsWithin6s()
            self.stop(program)

            self.assertNotIn("held by", self.doctor("--service")[1]["held"]["text"])
            service = self.as_user(self.victim, SERVICE, "--settings", f"{self.folder}/Skyfix.ini")
            self.assertSendsWithin6s()
            _, found = self.doctor("--service")
            self.assertEqual(found["held"]["level"], "ok", found["held"])  # by the service
            self.assertTrue(found["lock file"]["text"].startswith(f"{self.emitter.link}: {note}"))
            self.stop(service)
            os.unlink(path)


class DisplayGoesAway(unittest.TestCase):
    def test_x_server_going_away_ends_the_program_without_a_core_dump(self):
        session = XSession()
        self.addCleanup(session.stop)
        program = Program("[SerialSync]\nCOMPORT=None\n" + ports_section("/nonexistent/tty"))
        self.addCleanup(program.stop)
        program.start(session.env)
        self.assertTrue(wait_until(session.main_window, 10))
        session.processes[0].kill()  # Xvfb
        status = program.wait(timeout=10)
        self.assertGreaterEqual(status, 0, "ended by a signal")
        self.assertFalse(os.path.exists(os.path.join(program.directory, "core")))


if __name__ == "__main__":
    unittest.main(verbosity=2)
