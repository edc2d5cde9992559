"""beamclock-doctor run as a user runs it: on a healthy setup, on broken ones, with bad
arguments, and listening to the real program on a pseudo-terminal pair."""

import json
import os
import pwd
import re
import select
import shutil
import signal
import stat
import subprocess
import tempfile
import termios
import threading
import time
import unittest

from session import Program, SerialLine, offscreen_env, settings_for, wait_until

DOCTOR = os.environ.get("BEAMCLOCK_DOCTOR", "build-dev/bin/beamclock-doctor")


def doctor(*args, timeout=10, env=None):
    result = subprocess.run([DOCTOR, *args], capture_output=True, text=True, timeout=timeout,
                            env=env)
    return result.returncode, result.stdout, result.stderr


def measured_doctor(*args, timeout):
    """(exit status, output, seconds taken, largest resident size in MB) of one run."""
    with tempfile.TemporaryFile() as out:
        started = time.monotonic()
        process = subprocess.Popen([DOCTOR, *args], stdout=out, stderr=subprocess.STDOUT)
        while True:
            pid, status, usage = os.wait4(process.pid, os.WNOHANG)
            if pid:
                break
            if time.monotonic() - started > timeout:
                process.kill()
                _, status, usage = os.wait4(process.pid, 0)
                break
            time.sleep(0.02)
        took = time.monotonic() - started
        process.returncode = os.waitstatus_to_exitcode(status)
        out.seek(0)
        return (process.returncode, out.read().decode("latin-1"), took,
                usage.ru_maxrss / 1024)


class Flood:
    """Bytes that are no packets, written into a line as fast as it takes them."""

    def __init__(self, master):
        self.master, self.written, self.stop = master, 0, threading.Event()
        os.set_blocking(master, False)
        self.thread = threading.Thread(target=self.run)
        self.thread.start()

    def run(self):
        junk = bytes(range(256)) * 16  # "*" and escape codes among them
        while not self.stop.is_set():
            if select.select([], [self.master], [], 0.05)[1]:
                try:
                    self.written += os.write(self.master, junk)
                except BlockingIOError:
                    pass

    def end(self):
        self.stop.set()
        self.thread.join(timeout=5)


class Checks(unittest.TestCase):
    def setUp(self):
        self.line = SerialLine()
        self.addCleanup(self.line.close)

    def program(self, settings):
        program = Program(settings)
        self.addCleanup(program.stop)
        return program

    def test_a_healthy_setup_exits_zero_and_marks_the_chosen_port(self):
        program = self.program(settings_for(self.line.device))
        before = program.settings()
        state = tempfile.mkdtemp(prefix="beamclock-state-")
        self.addCleanup(shutil.rmtree, state, True)
        env = dict(os.environ, XDG_STATE_HOME=state)
        status, out, _ = doctor("--dir", program.directory, env=env)
        self.assertEqual(status, 0, out)
        self.assertIn(f"COM3 (chosen): {self.line.device}: available", out)
        self.assertIn("the start opens COM3", out)
        self.assertIn("Beamclock can set the clock as configured.", out)
        self.assertEqual(program.settings(), before)  # never written

    def test_a_running_beamclock_holding_the_port_is_no_problem(self):
        program = self.program(settings_for(self.line.device))
        program.start(offscreen_env())
        self.assertTrue(wait_until(lambda: self.line.packets(2.5), 6))
        status, out, _ = doctor("--dir", program.directory)
        self.assertEqual(status, 0, out)
        self.assertIn("in use by the running Beamclock, as it should be", out)
        self.assertRegex(out, rf"beamclock \(pid {program.process.pid}, user \w+\) runs for "
                              rf"this user from {re.escape(program.directory)}; it holds the "
                              rf"chosen port {self.line.device}")

    def test_broken_setups_exit_one_and_say_why(self):
        cases = {
            "no port chosen": ("[SerialSync]\nCOMPORT=None\n", "no port is chosen"),
            "a mapping to nowhere": (settings_for("/nonexistent/emitter"),
                                     "/nonexistent/emitter: no such device ([Ports] maps"),
            "a text that names no port": ("[SerialSync]\nCOMPORT=+com3\n",
                                          "did you mean \"+COM3\"?"),
            "escape codes in the saved port": ("[SerialSync]\nCOMPORT=\x1b[2J\x1b]0;owned\x07\n",
                                               "\\x1b[2J\\x1b]0;owned\\x07"),
        }
        for name, (settings, expected) in cases.items():
            with self.subTest(name):
                status, out, _ = doctor("--dir", self.program(settings).directory)
                self.assertEqual(status, 1, out)
                self.assertIn(expected, out)
                self.assertNotIn("\x1b", out)

    def test_json_gives_the_same_findings(self):
        program = self.program("[SerialSync]\nCOMPORT=None\n")
        status, out, _ = doctor("--json", "--dir", program.directory)
        self.assertEqual(status, 1)
        report = json.loads(out)
        self.assertFalse(report["ok"])
        self.assertEqual(report["version"], "1.0.2")
        ports = [f for f in report["findings"] if f["section"] == "ports"]
        self.assertEqual(len(ports), 16)
        _, text, _ = doctor("--dir", program.directory)
        for finding in report["findings"]:
            if finding["subject"] != "time zone":  # names the second of its own run
                self.assertIn(finding["text"], text)
        self.assertIsInstance(report["recent_events"], list)

    @unittest.skipUnless(os.geteuid() == 0, "needs root, as sudo gives it")
    def test_under_sudo_the_services_journal_is_read_as_root(self):
        place = tempfile.mkdtemp(prefix="beamclock-sudo-")
        self.addCleanup(shutil.rmtree, place, ignore_errors=True)
        with open(os.path.join(place, "journalctl"), "w", encoding="utf-8") as file:
            file.write('#!/bin/sh\necho "beamclockd[1]: read as uid $(id -u)"\n')
        os.chmod(os.path.join(place, "journalctl"), 0o755)
        shutil.copy("/bin/sleep", os.path.join(place, "beamclockd"))  # the service, by name
        service = subprocess.Popen([os.path.join(place, "beamclockd"), "30"])
        self.addCleanup(service.wait)
        self.addCleanup(service.kill)
        env = dict(os.environ, SUDO_USER="nobody", PATH=place + ":" + os.environ["PATH"])
        out = subprocess.run([DOCTOR, "--json"], capture_output=True, text=True, env=env,
                             timeout=10).stdout
        self.assertEqual(json.loads(out)["recent_events"], ["beamclockd[1]: read as uid 0"])

    def test_usage(self):
        self.assertEqual(doctor("--help")[0], 0)
        self.assertEqual(doctor("--version")[1], "beamclock-doctor 1.0.2\n")
        for bad in (["--bogus"], ["--dir"], ["--listen", "/dev/null", "--seconds", "x"]):
            with self.subTest(bad):
                status, _, err = doctor(*bad)
                self.assertEqual(status, 2)
                self.assertIn("usage:", err)


class Listening(unittest.TestCase):
    """The real program writes to one end of a socat pseudo-terminal pair, the doctor listens
    on the other, as it would on an infrared receiver."""

    def test_thirty_packets_a_minute_and_no_misses(self):
        place = tempfile.mkdtemp(prefix="beamclock-pair-")
        self.addCleanup(shutil.rmtree, place, True)
        emitter, receiver = os.path.join(place, "emitter"), os.path.join(place, "receiver")
        pair = subprocess.Popen(["socat", f"pty,raw,echo=0,link={emitter}",
                                 f"pty,raw,echo=0,link={receiver}"],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: (pair.terminate(), pair.wait()))
        self.assertTrue(wait_until(lambda: os.path.exists(receiver), 5))
        program = Program(settings_for(emitter))
        self.addCleanup(program.stop)
        program.start(offscreen_env())
        # Packets sent before anyone listens wait in the receiver's buffer: stale, not replayed.
        time.sleep(4)

        status, out, _ = doctor("--listen", receiver, "--seconds", "20", timeout=30)
        self.assertEqual(status, 0, out)
        rate = float(re.search(r"\(([\d.]+) a minute\)", out).group(1))
        self.assertTrue(27 <= rate <= 33, out)
        self.assertIn("0 even seconds missed, 0 sent twice, 0 malformed, 0 on an odd second, "
                      "0 late", out)
        self.assertIn("local time, first byte", out)
        program.signal(signal.SIGTERM)
        self.assertEqual(program.wait(), 0)

    def test_a_flooding_line_ends_in_time_and_keeps_little(self):
        line = SerialLine()
        self.addCleanup(line.close)
        flood = Flood(line.master)
        self.addCleanup(flood.end)
        for mode in ([], ["--json"]):
            with self.subTest(mode):
                written = flood.written
                status, out, took, megabytes = measured_doctor(
                    "--listen", line.device, "--seconds", "5", *mode, timeout=30)
                self.assertGreater(flood.written - written, 1_000_000)  # it did flood
                self.assertEqual(status, 1, out[-2000:])
                self.assertLess(took, 8)
                self.assertLess(megabytes, 64)
                summary = (json.loads(out)["findings"][-2]["text"] if mode else
                           out.splitlines()[-2])
                self.assertRegex(summary, r"^0 packets .* [1-9]\d* runs of bytes that are not "
                                          r"packets$")

    @unittest.skipUnless(os.geteuid() == 0, "needs root, as sudo gives it")
    def test_under_sudo_it_opens_only_what_the_user_may(self):
        line = SerialLine()
        self.addCleanup(line.close)
        cooked = termios.tcgetattr(line.slave)
        cooked[3] |= termios.ICANON | termios.ECHO
        cooked[4] = cooked[5] = termios.B1200
        termios.tcsetattr(line.slave, termios.TCSANOW, cooked)
        cooked = termios.tcgetattr(line.slave)  # as the terminal took it
        user = pwd.getpwnam("nobody")
        env = dict(os.environ, SUDO_USER="nobody", SUDO_UID=str(user.pw_uid),
                   SUDO_GID=str(user.pw_gid))
        # Root's terminal, as another user's login would have it: owner only, or with the
        # group tty writing to it.
        for mode in (0o600, 0o620):
            with self.subTest(oct(mode)):
                os.chmod(line.device, mode)
                status, out, err = doctor("--listen", line.device, "--seconds", "1", env=env)
                self.assertEqual(status, 2, out)
                self.assertIn(f"cannot listen on {line.device}: Permission denied", err)
                self.assertEqual(stat.S_IMODE(os.stat(line.device).st_mode), mode)
                self.assertEqual(termios.tcgetattr(line.slave), cooked)
        # The user's own: listened to, and put back as it was.
        os.chown(line.device, user.pw_uid, -1)
        status, out, _ = doctor("--listen", line.device, "--seconds", "1", env=env)
        self.assertEqual(status, 1, out)
        self.assertIn("0 packets", out)
        self.assertEqual(termios.tcgetattr(line.slave), cooked)

    def test_nothing_arriving_exits_one(self):
        line = SerialLine()
        self.addCleanup(line.close)
        # COM3 by its name: the device [Ports] maps it to, as the program would open it.
        program = Program(settings_for(line.device))
        self.addCleanup(program.stop)
        status, out, _ = doctor("--dir", program.directory, "--listen", "COM3", "--seconds", "1")
        self.assertEqual(status, 1)
        self.assertIn(f"Listening on {line.device}", out)
        self.assertIn("0 packets", out)


if __name__ == "__main__":
    unittest.main(verbosity=2)
