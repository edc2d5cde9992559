"""The log as a user meets it: lines on standard error and in the log file around an unplug
and a replug, the journal's form, and a log that cannot be written. A stopped process's lost
seconds and the hourly reminder are the log's unit tests'."""

import os
import re
import subprocess
import tempfile
import threading
import time
import unittest

from session import Emitter, Program, SerialLine, offscreen_env, wait_until
from test_keep_set import settings


class Lines:
    """What the program writes to standard error, line by line, as it comes."""

    def __init__(self, stream):
        self.lines = []
        self.thread = threading.Thread(target=self._read, args=(stream,), daemon=True)
        self.thread.start()

    def _read(self, stream):
        for line in stream:
            self.lines.append(line.rstrip("\n"))

    def since(self, count, text):
        return [line for line in self.lines[count:] if text in line]


class UnplugAndReplug(unittest.TestCase):
    """COM5 is a link in [Ports] to a pseudo-terminal; the test replaces what the link names."""

    def setUp(self):
        self.emitter = Emitter(self)

    def test_each_change_of_state_is_one_line(self):
        line = self.emitter.plug()
        program = Program(settings(self.emitter.link, port="+COM5", number=5))
        self.addCleanup(program.stop)
        program.start(offscreen_env(), stderr=subprocess.PIPE)
        self.addCleanup(program.process.stderr.close)
        out = Lines(program.process.stderr)
        self.assertTrue(wait_until(lambda: out.since(0, "COM5"), 10), out.lines)
        self.assertTrue(line.first_packets())

        self.emitter.unplug()  # the device and its name go
        mark = len(out.lines)
        self.assertTrue(wait_until(lambda: out.since(mark, "COM5"), 5), out.lines)
        mark = len(out.lines)
        time.sleep(7)  # three reopenings, every two seconds, and still no new line
        self.assertLessEqual(len(out.since(mark, "COM5")), 2, out.lines)

        mark = len(out.lines)
        line = self.emitter.plug()
        plugged = time.time()
        packets = line.packets(4.3)
        self.assertTrue(packets and packets[0][0] - plugged < 4, (plugged, packets, out.lines))
        self.assertTrue(out.since(mark, "COM5 back"), out.lines)

        program.process.terminate()
        program.process.wait(timeout=5)
        out.thread.join(timeout=5)
        self.assertTrue(out.since(0, "ended: signal SIGTERM"), out.lines)
        stamped = [text for text in out.lines
                   if re.match(r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} ", text)]
        self.assertEqual(stamped, out.lines)
        with open(program.log_file, encoding="utf-8") as file:
            self.assertEqual(file.read().splitlines(), out.lines)


class WhereTheLinesGo(unittest.TestCase):
    def setUp(self):
        self.line = SerialLine()
        self.addCleanup(self.line.close)
        self.program = Program(settings(self.line.device))
        self.addCleanup(self.program.stop)

    def run_for_a_while(self, env, stderr):
        self.program.start(env, stderr=stderr)
        packets = self.line.packets(3)
        self.program.process.terminate()
        self.program.process.wait(timeout=5)
        return packets

    def test_to_the_journal_with_priorities_and_nowhere_else(self):
        with tempfile.TemporaryFile() as journal:
            status = os.fstat(journal.fileno())
            env = dict(offscreen_env(), JOURNAL_STREAM=f"{status.st_dev}:{status.st_ino}")
            self.assertTrue(self.run_for_a_while(env, journal))
            journal.seek(0)
            lines = journal.read().decode().splitlines()
        self.assertTrue(lines)
        for text in lines:
            self.assertRegex(text, r"^<[3-6]>[^<]")
        self.assertIn("<6>COM3 opened", "\n".join(lines))
        self.assertFalse(os.path.exists(os.path.dirname(self.program.log_file)))

    def test_a_log_that_cannot_be_written_changes_nothing_else(self):
        # A file where the folder should be: no one, not even root, can write the log there.
        with open(os.path.dirname(self.program.log_file), "w", encoding="utf-8"):
            pass
        packets = self.run_for_a_while(offscreen_env(), subprocess.PIPE)
        self.assertGreaterEqual(len(packets), 1)
        self.assertIn("COM3 opened", self.program.process.stderr.read())
        self.program.process.stderr.close()


if __name__ == "__main__":
    unittest.main(verbosity=2)
