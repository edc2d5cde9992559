"""beamclockd, the program without a window, as an administrator runs it: a settings file of
their own, a device that comes and goes, a change of port and mode read on SIGHUP, and a stop.
These tests read the wall clock: packets must leave within the first tenth of their second."""

import os
import signal
import socket
import threading
import subprocess
import time
import unittest

from session import (SENDS_UNSYNCHRONISED, ZONE, Emitter, SerialLine, named_instant,
                     ports_section, wait_until)
from test_keep_set import wait_for_phase

SERVICE = os.environ.get("BEAMCLOCKD", "build-dev/bin/beamclockd")


class Service(unittest.TestCase):
    def setUp(self):
        self.emitter = Emitter(self)  # COM3, through a link
        self.place = self.emitter.place
        self.settings = os.path.join(self.place, "Skyfix.ini")

    def write_settings(self, text):
        with open(self.settings, "wb") as file:
            file.write((text + SENDS_UNSYNCHRONISED).encode())
        return (text + SENDS_UNSYNCHRONISED).encode()

    def assertOnTheirSeconds(self, packets, utc):
        self.assertTrue(packets, "no packets")
        for arrived, packet in packets:
            named = named_instant(packet, utc)
            self.assertEqual(named % 2, 0, packet)
            self.assertTrue(0 <= arrived - named < 0.1, (arrived - named, packet, utc))

    def test_a_box_beside_the_clock(self):
        line = self.emitter.plug()
        other = SerialLine()
        self.addCleanup(other.close)
        # COM3 through a link, COM5 a device; no UTC/LOCAL keys, which the window would add.
        ports = ports_section(self.emitter.link).replace("COM5=/nonexistent/serial5",
                                                 f"COM5={other.device}")
        written = self.write_settings(f"[SerialSync]\nCOMPORT=+COM3\n\n{ports}")
        systemd = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)  # as Type=notify listens
        self.addCleanup(systemd.close)
        systemd.bind(os.path.join(self.place, "notify"))
        told = []  # read as it comes, or a full queue would hold the service up

        def listen():
            while not told or told[-1] != "STOPPING=1":
                told.append(systemd.recv(4096).decode())
        threading.Thread(target=listen, daemon=True).start()
        process = subprocess.Popen([SERVICE, "--settings", self.settings],
                                   env=dict(os.environ, TZ=ZONE, WATCHDOG_USEC="1000000",
                                            NOTIFY_SOCKET=os.path.join(self.place, "notify")),
                                   stdout=subprocess.PIPE,
                                   stderr=subprocess.STDOUT, text=True)
        self.addCleanup(process.stdout.close)
        self.addCleanup(lambda: process.poll() is None and (process.kill(), process.wait()))

        self.assertOnTheirSeconds(line.packets(4.5), utc=False)

        self.emitter.unplug()  # then plugged back under the same link
        time.sleep(2.5)
        line = self.emitter.plug()
        self.assertTrue(line.packets(4.5), "nothing after the device came back")
        wait_for_phase(0.3, 0.6)  # just after a packet, so the next 4.1 s hold two even seconds
        line.drain()
        process.send_signal(signal.SIGHUP)  # nothing changed: the open port is kept
        self.assertEqual(len(line.packets(4.1)), 2, "a reload without a change cost a packet")

        # Mid even second, just after a packet: the next even second is the new port's.
        written = self.write_settings(
            f"[SerialSync]\nCOMPORT=+COM5\nTIMEUTC=True\nTIMELOCAL=False\n\n{ports}")
        wait_for_phase(0.3, 0.6)
        line.drain()
        process.send_signal(signal.SIGHUP)
        hup = time.time()
        moved = other.packets(4.5)
        self.assertOnTheirSeconds(moved, utc=True)
        self.assertLess(moved[0][0] - hup, 1.8, "an even second was missed")
        self.assertEqual(line.packets(0.1), [], "the old port still had packets")

        process.send_signal(signal.SIGTERM)
        self.assertEqual(process.wait(timeout=10), 0)
        output = process.stdout.read()
        self.assertIn("settings read again: no change", output)
        self.assertEqual(output.count("port chosen"), 1, output)
        self.assertIn("the service's settings file", output)
        self.assertEqual(other.packets(2.5), [])
        with open(self.settings, "rb") as file:
            self.assertEqual(file.read(), written)
        self.assertEqual(sorted(os.listdir(self.place)), ["Skyfix.ini", "emitter", "notify"])
        self.assertTrue(wait_until(lambda: told and told[-1] == "STOPPING=1", 5), told[-3:])
        self.assertEqual(told[0], "READY=1")
        states = [message[7:] for message in told if message.startswith("STATUS=")]
        self.assertEqual(states[0], f"sending local time to COM3 ({self.emitter.link})")
        # Which the service meets first, the device gone or a write to it failing, is chance.
        self.assertRegex(states[1], r"^COM3 \(.*\): (no such device|a write failed) since "
                                    r"\d\d:\d\d:\d\d, not sending$")
        self.assertEqual(states[-1], f"sending UTC time to COM5 ({other.device})")
        self.assertGreater(told.count("WATCHDOG=1"), 10)  # twice an interval, over 20 s

    def test_usage(self):
        for argument in ("--help", "--version"):
            result = subprocess.run([SERVICE, argument], capture_output=True, text=True,
                                    timeout=10)
            self.assertEqual(result.returncode, 0)
            self.assertIn("beamclockd", result.stdout)
        self.assertEqual(subprocess.run([SERVICE, "--bogus"], capture_output=True,
                                        timeout=10).returncode, 2)

if __name__ == "__main__":
    unittest.main(verbosity=2)
