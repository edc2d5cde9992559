"""Whether the clock is being set, as the tray shows it while the emitter comes and goes; the
start at login; the options that only print."""

import os
import subprocess
import time
import unittest

from session import PROGRAM, Emitter, Program, XSession, settings_for, wait_until

AUTOSTART = "../../packaging/com.korvel.beamclock-autostart.desktop"  # from tests/e2e


class Tray(unittest.TestCase):
    def start(self, arguments=()):
        self.session = XSession(framebuffer=True)
        self.addCleanup(self.session.stop)
        self.emitter = Emitter(self)
        self.line = self.emitter.plug()
        program = Program(settings_for(self.emitter.link))
        self.addCleanup(program.stop)
        program.start(self.session.env, arguments=arguments)
        self.assertTrue(wait_until(self.session.tray_icon_present, 20), self.session.health())
        return program

    def icon(self):
        [window] = [window for window, in_tray in self.session.program_windows() if in_tray]
        return self.session.pixels(window)

    def test_the_icon_follows_the_emitter(self):
        self.start()
        self.assertTrue(self.line.first_packets())
        sending = self.icon()
        self.emitter.unplug()
        time.sleep(6)
        self.assertNotEqual(self.icon(), sending)
        self.emitter.plug()
        self.assertTrue(wait_until(lambda: self.icon() == sending, 6))

    def test_the_login_start_shows_only_the_icon_until_the_menu_start(self):
        with open(AUTOSTART, encoding="utf-8") as entry:
            [command] = [line[5:].split() for line in entry if line.startswith("Exec=")]
        program = self.start(command[1:])
        time.sleep(2)
        self.assertIsNone(self.session.main_window())
        self.assertEqual(len(self.session.program_windows()), 1)  # the icon in the tray
        menu = dict(self.session.env, XDG_CONFIG_HOME=program.config_home)
        subprocess.run([program.executable], env=menu, capture_output=True, timeout=10, check=True)
        self.assertTrue(wait_until(self.session.main_window, 10))

    def test_help_and_version_end_at_once_without_a_display(self):
        env = {key: value for key, value in os.environ.items() if key != "DISPLAY"}
        for option, text in (("--help", "--tray"), ("--version", "Beamclock ")):
            result = subprocess.run([PROGRAM, option], env=env, capture_output=True, text=True,
                                    timeout=1, check=True)  # within a second, with status 0
            self.assertIn(text, result.stdout)


if __name__ == "__main__":
    unittest.main(verbosity=2)
