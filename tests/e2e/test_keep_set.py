"""Keeping the clock set over hours: a device that goes and comes back, a start or a resume
late in a second, a saved text that names no port, and a second start. These tests read the
wall clock: packets must leave within the first tenth of the second they name."""

import fcntl
import os
import signal
import subprocess
import tempfile
import time
import unittest

from session import (Emitter, Program, SerialLine, XSession, named_instant, offscreen_env, wait_until)

TIOCVHANGUP = 0x5437


def settings(device, port="+COM3", number=3):
    """The saved port, and [Ports] with port number on the device and the others nowhere."""
    lines = [f"COM{n}={device if n == number else '/nonexistent/serial' + str(n)}"
             for n in range(1, 17)]
    return (f"[SerialSync]\nCOMPORT={port}\nTIMEUTC=False\nTIMELOCAL=True\n\n[Ports]\n"
            + "\n".join(lines) + "\n")


def wait_for_phase(start, end):
    """Sleeps until the wall clock is between start and end seconds into an even-second pair
    (0 <= start < end <= 2): 1.4 is the middle of an odd second, 0.5 of an even one."""
    while True:
        phase = time.time() % 2
        if start <= phase < end:
            return
        time.sleep(((start - phase) % 2) + 0.005)


class Reconnect(unittest.TestCase):
    """COM3 is a link to a pseudo-terminal; the test replaces what the link names."""

    def setUp(self):
        self.emitter = Emitter(self)

    def start(self):
        program = Program(settings(self.emitter.link))
        self.addCleanup(program.stop)
        program.start(offscreen_env())
        return program

    def assertPacketsWithin(self, line, seconds, appeared=None):
        appeared = appeared or time.time()
        packets = line.packets(seconds + 0.3)
        self.assertTrue(packets, "nothing sent after the device appeared")
        self.assertLess(packets[0][0] - appeared, seconds, packets)
        self.assertEqual(len(packets[0][1]), 35)

    def test_a_device_unplugged_and_plugged_back(self):
        line = self.emitter.plug()
        program = self.start()
        self.assertTrue(line.first_packets())
        self.emitter.unplug()
        time.sleep(2.5)
        self.assertPacketsWithin(self.emitter.plug(), 3.0)
        self.assertTrue(program.alive())

    def test_a_device_missing_at_start_and_plugged_in_later(self):
        program = self.start()
        time.sleep(3)
        self.assertPacketsWithin(self.emitter.plug(), 3.0)
        self.assertTrue(program.alive())

    def test_a_hang_up_while_the_path_stays(self):
        line = self.emitter.plug()
        program = self.start()
        self.assertTrue(line.first_packets())
        line.drain()
        fcntl.ioctl(line.slave, TIOCVHANGUP)
        hung_up = time.time()
        self.assertPacketsWithin(line, 3.0, hung_up)
        self.assertTrue(program.alive())


class NoStalePacket(unittest.TestCase):
    def setUp(self):
        self.line = SerialLine()
        self.addCleanup(self.line.close)
        self.program = Program(settings(self.line.device))
        self.addCleanup(self.program.stop)

    def assertFreshPackets(self, packets):
        self.assertTrue(packets, "nothing was sent")
        for arrival, packet in packets:
            lateness = arrival - named_instant(packet, utc=False)
            self.assertTrue(0 <= lateness < 0.1, (packet, lateness))

    def test_a_start_in_the_middle_of_an_even_second(self):
        wait_for_phase(0.3, 0.5)
        self.program.start(offscreen_env())
        self.assertFreshPackets(self.line.packets(4.6))

    def test_a_stop_continued_in_the_middle_of_an_even_second(self):
        self.program.start(offscreen_env())
        self.assertTrue(self.line.first_packets())
        wait_for_phase(1.5, 1.7)
        self.program.signal(signal.SIGSTOP)
        wait_for_phase(0.5, 0.6)  # a resume half-way into an even second
        self.line.drain()
        self.program.signal(signal.SIGCONT)
        continued = time.time()
        packets = self.line.packets(3.7)
        self.assertFreshPackets(packets)
        self.assertLess(packets[0][0] - continued, 2.0)  # the next even second is sent


class NoPortNobodyChose(unittest.TestCase):
    def test_a_saved_port_beyond_com16_sends_nothing_to_com1(self):
        line = SerialLine()
        self.addCleanup(line.close)
        program = Program(settings(line.device, port="+COM17", number=1))
        self.addCleanup(program.stop)
        program.start(offscreen_env())
        self.assertEqual(line.packets(4.5), [])
        self.assertTrue(program.alive())


class OnlyTheChosenPort(unittest.TestCase):
    """Keyboard choices under a real display: a choice ends the tries of the port chosen
    before, a [Ports] line counts without a restart, and a tray click brings the window back."""

    @classmethod
    def setUpClass(cls):
        cls.session = XSession()

    @classmethod
    def tearDownClass(cls):
        cls.session.stop()

    def setUp(self):
        self.place = tempfile.mkdtemp(prefix="beamclock-link-")
        self.addCleanup(subprocess.run, ["rm", "-rf", self.place], check=False)
        self.com5 = os.path.join(self.place, "com5")  # the device is missing until linked

    def launch(self, port):
        program = Program(settings(self.com5, port=port, number=5))
        self.addCleanup(program.stop)
        program.start(self.session.env)
        window = wait_until(self.session.main_window, 20)
        self.assertTrue(window, program.output())
        return program, window

    def line(self):
        line = SerialLine()
        self.addCleanup(line.close)
        return line

    def keys_to_the_port_list(self, window, *keys):
        # The port list sits at 32,96 and is 77 by 21 pixels.
        self.session.x("xdotool", "mousemove", "--window", window, "60", "106", "click", "1")
        for key in keys:
            self.session.x("xdotool", *key.split(" ", 1))

    def no_warning(self):
        return self.session.x("xdotool", "search", "--name", "^ERROR$").strip() == ""

    def test_another_port_chosen_by_key_after_a_ports_line_was_added(self):
        program, window = self.launch(port="COM5")  # saved " COM5", read back without blank
        com6 = self.line()
        with open(program.settings_file) as file:
            text = file.read()
        with open(program.settings_file, "w") as file:
            file.write(text.replace("COM6=/nonexistent/serial6", f"COM6={com6.device}"))
        self.keys_to_the_port_list(window, "key Down")
        com5 = self.line()
        os.symlink(com5.device, self.com5)  # COM5's device comes back after the choice
        self.assertGreaterEqual(len(com6.packets(4.5)), 2)
        self.assertEqual(com5.packets(0.1), [])
        self.assertIn("COMPORT= COM6\n", program.settings())
        self.assertTrue(self.no_warning())

        self.session.x("xdotool", "windowminimize", "--sync", window)
        icon = next(icon for icon, in_tray in self.session.program_windows() if in_tray)
        self.session.x("xdotool", "mousemove", "--window", icon, "4", "4", "click", "1")
        self.assertTrue(wait_until(
            lambda: "IsViewable" in self.session.x("xwininfo", "-id", window), 5))
        self.assertTrue(program.alive())

    def test_none_chosen_by_key_while_the_saved_port_is_missing(self):
        program, window = self.launch(port="+COM5")
        self.keys_to_the_port_list(window, "key ctrl+a", "type None", "key Return")
        self.assertTrue(wait_until(lambda: "COMPORT=None\n" in program.settings(), 5))
        com5 = self.line()
        os.symlink(com5.device, self.com5)
        self.assertEqual(com5.packets(6), [])
        self.assertTrue(program.alive())


class SecondStart(unittest.TestCase):
    def setUp(self):
        self.session = XSession()
        self.addCleanup(self.session.stop)
        self.line = SerialLine()
        self.addCleanup(self.line.close)
        self.program = Program(settings(self.line.device))
        self.addCleanup(self.program.stop)

    def tray_icons(self):
        return sum(1 for _, in_tray in self.session.program_windows() if in_tray)

    def second_start(self):
        env = dict(self.session.env, TZ=os.environ["TZ"],
                   XDG_CONFIG_HOME=self.program.config_home)
        return subprocess.run([self.program.executable], env=env, capture_output=True,
                              timeout=10).returncode

    def launch(self):
        self.program.start(self.session.env)
        window = wait_until(self.session.main_window, 20)
        if not window:
            alive = self.program.alive()
            if not alive:
                self.program.wait()
            self.fail(f"no window: alive={alive}, output={self.program.output()!r}, "
                      f"windows={self.session.program_windows()}")
        return window

    def viewable(self, window):
        return "IsViewable" in self.session.x("xwininfo", "-id", window)

    def test_a_second_start_shows_the_first_copy_and_ends(self):
        window = self.launch()
        self.assertTrue(wait_until(lambda: self.tray_icons() == 1, 10))
        self.session.x("xdotool", "windowminimize", "--sync", window)
        self.assertTrue(wait_until(lambda: not self.viewable(window), 5))

        self.assertEqual(self.second_start(), 0)
        self.assertTrue(wait_until(lambda: self.viewable(window), 5), "first copy not shown")
        self.assertEqual(self.tray_icons(), 1)
        self.assertTrue(self.program.alive())
        self.line.drain()
        self.assertGreaterEqual(len(self.line.packets(2.5)), 1)

    def test_a_start_after_the_first_copy_was_killed_runs(self):
        self.launch()
        self.program.process.kill()
        self.program.process.wait(timeout=5)
        self.program.process.stdout.close()
        self.program.start(self.session.env)
        self.assertTrue(wait_until(lambda: self.tray_icons() == 1, 10))
        self.line.drain()
        self.assertGreaterEqual(len(self.line.packets(2.5)), 1)
        self.assertTrue(self.program.alive())


if __name__ == "__main__":
    unittest.main(verbosity=2)
