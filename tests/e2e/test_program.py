"""The real program, run as a user runs it. These tests read the wall clock: packets must
arrive in the even second they name."""

import os
import signal
import time
import unittest

from session import (PACKET_LENGTH, Program, SerialLine, XSession, named_instant,
                     settings_for, wait_until)


class WithDisplay(unittest.TestCase):
    tray = True
    taskbar = False

    def setUp(self):
        self.session = XSession(tray=self.tray, taskbar=self.taskbar)
        self.addCleanup(self.session.stop)
        self.line = SerialLine()
        self.addCleanup(self.line.close)

    def launch(self, settings=None):
        program = Program(settings)
        self.addCleanup(program.stop)
        program.start(self.session.env)
        if not wait_until(self.session.main_window, 20):
            alive = program.alive()
            if not alive:
                program.wait()
            self.fail(f"no window appeared: running={alive}, output={program.output()!r}, "
                      f"windows={self.session.program_windows()}, {self.session.health()}")
        return program

    def assertPacketsInTheirSeconds(self, utc, duration=5.5):
        # The first tick after start-up does its work wherever in its second it falls; from
        # the next second on, packets leave as their second begins.
        time.sleep(1.2)
        self.line.drain()
        packets = self.line.packets(duration)
        self.assertGreaterEqual(len(packets), 2, packets)
        for arrival, packet in packets:
            self.assertEqual(len(packet), PACKET_LENGTH, packet)
            self.assertTrue(packet.startswith(b"*") and packet.endswith(b"#"), packet)
            self.assertEqual(packet[15:], b"0000000001000000000#")
            self.assertEqual(int(packet[1:3]) % 2, 0, packet)
            lateness = arrival - named_instant(packet, utc)
            self.assertTrue(0 <= lateness < 0.6, (packet, lateness))


class PacketsOnTheLine(WithDisplay):
    def test_local_time_is_sent_on_even_seconds(self):
        self.launch(settings_for(self.line.device, utc=False))
        self.assertPacketsInTheirSeconds(utc=False)

    def test_utc_is_sent_when_saved(self):
        self.launch(settings_for(self.line.device, utc=True))
        self.assertPacketsInTheirSeconds(utc=True)


class Desktop(WithDisplay):
    def test_tray_icon_taskbar_and_centred_window(self):
        program = self.launch(settings_for(self.line.device))
        self.assertTrue(wait_until(self.session.tray_icon_present, 10))
        window = self.session.main_window()
        state = self.session.x("xprop", "-id", window, "_NET_WM_STATE")
        self.assertIn("_NET_WM_STATE_SKIP_TASKBAR", state)

        frame = self.session.x("xwininfo", "-id", window, "-frame")
        fields = dict(line.strip().split(":", 1) for line in frame.splitlines()
                      if ":" in line and line.strip().startswith(("Absolute", "Width", "Height")))
        left = int(fields["Absolute upper-left X"])
        top = int(fields["Absolute upper-left Y"])
        centre = (left + int(fields["Width"]) / 2, top + int(fields["Height"]) / 2)
        self.assertLess(abs(centre[0] - 512), 24, frame)
        self.assertLess(abs(centre[1] - 384), 40, frame)

        self.session.x("wmctrl", "-c", "Beamclock")  # the window manager's close request
        self.assertEqual(program.wait(), 0)
        self.assertFalse(self.session.tray_icon_present())

    def test_close_and_exit_ends_the_program(self):
        program = self.launch(settings_for(self.line.device))
        window = self.session.main_window()
        # "Close and Exit" sits at 270,162 and is 85 by 25 pixels.
        self.session.x("xdotool", "mousemove", "--window", window, "312", "174",
                       "click", "1")
        self.assertEqual(program.wait(), 0)

    def test_first_start_saves_local_time(self):
        program = self.launch(None)
        self.assertTrue(wait_until(lambda: program.settings(), 5))
        self.assertEqual(program.settings(), "[SerialSync]\nTIMEUTC=False\nTIMELOCAL=True\n")

    def test_system_close_requests_end_with_status_zero(self):
        for number in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
            with self.subTest(signal=number):
                program = self.launch(settings_for(self.line.device))
                self.assertTrue(wait_until(self.session.tray_icon_present, 10))
                program.signal(number)
                self.assertEqual(program.wait(), 0)
                self.assertTrue(wait_until(lambda: not self.session.tray_icon_present(), 5))


class PortListInput(WithDisplay):
    def test_a_wheel_over_the_unfocused_list_changes_nothing(self):
        program = self.launch(settings_for(self.line.device))
        before = program.settings()
        window = self.session.main_window()
        # The port list sits at 32,96 and is 77 by 21 pixels; the focus is on "Close and Exit".
        self.session.x("xdotool", "mousemove", "--window", window, "60", "106")
        for button in ("5", "5", "4", "5"):  # wheel down, down, up, down
            self.session.x("xdotool", "click", button)
        self.assertPacketsInTheirSeconds(utc=False, duration=4.5)
        self.assertEqual(program.settings(), before)
        self.assertTrue(program.alive())


class WithoutTrayHost(WithDisplay):
    tray = False


    def test_packets_flow_without_a_tray(self):
        self.launch(settings_for(self.line.device))
        self.assertPacketsInTheirSeconds(utc=False)


class TaskbarWithoutTray(WithDisplay):
    """GNOME without an extension, or a bare window manager with a panel: no tray at all."""
    tray = False
    taskbar = True

    def test_the_window_keeps_its_taskbar_button(self):
        program = self.launch(settings_for(self.line.device))
        window = self.session.main_window()
        time.sleep(0.5)  # past the moment a skip would have been sent
        self.assertNotIn("_NET_WM_STATE_SKIP_TASKBAR",
                         self.session.x("xprop", "-id", window, "_NET_WM_STATE"))
        self.assertTrue(program.alive())


class WithoutDisplay(unittest.TestCase):
    def test_runs_offscreen_and_sends(self):
        line = SerialLine()
        self.addCleanup(line.close)
        program = Program(settings_for(line.device))
        self.addCleanup(program.stop)
        env = {key: value for key, value in os.environ.items()
               if key not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
        program.start(env)
        packets = line.packets(4.5)
        self.assertGreaterEqual(len(packets), 2)
        program.signal(signal.SIGTERM)
        self.assertEqual(program.wait(), 0)
        self.assertIn("no display", program.output())


if __name__ == "__main__":
    unittest.main(verbosity=2)
