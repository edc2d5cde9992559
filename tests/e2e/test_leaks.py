"""The sanitizer build of the program, run as a user runs it for ten seconds under a virtual
display with a tray host: LeakSanitizer must find no leak of ours when it ends."""

import os
import signal
import unittest

from session import Program, SerialLine, XSession, settings_for, wait_until

SUPPRESSIONS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "lsan.supp")


class Leaks(unittest.TestCase):
    def test_ten_seconds_of_running_leak_nothing(self):
        session = XSession()
        self.addCleanup(session.stop)
        line = SerialLine()
        self.addCleanup(line.close)
        program = Program(settings_for(line.device))
        self.addCleanup(program.stop)
        env = dict(session.env, ASAN_OPTIONS="detect_leaks=1:exitcode=23",
                   LSAN_OPTIONS=f"suppressions={SUPPRESSIONS}:print_suppressions=0")
        program.start(env)
        self.assertTrue(wait_until(session.tray_icon_present, 20))
        self.assertGreaterEqual(len(line.packets(10)), 4)
        program.signal(signal.SIGTERM)
        status = program.wait(timeout=30)
        output = program.output()
        self.assertNotIn("LeakSanitizer", output, output[-4000:])
        self.assertEqual(status, 0, output[-4000:])


if __name__ == "__main__":
    unittest.main(verbosity=2)
