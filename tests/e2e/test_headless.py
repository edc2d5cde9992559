"""The program without a display, as on a box beside the clock; scripts/test-arch runs it on
the arm builds under qemu. Packets must arrive in the even second they name."""

import signal
import time
import unittest

from session import PACKET_LENGTH, Program, SerialLine, named_instant, offscreen_env, settings_for


class Headless(unittest.TestCase):
    def test_packets_name_their_even_second_in_local_time_and_utc(self):
        for utc in (False, True):
            with self.subTest(utc=utc):
                line = SerialLine()
                self.addCleanup(line.close)
                program = Program(settings_for(line.device, utc=utc))
                self.addCleanup(program.stop)
                program.start(offscreen_env())
                # Start-up under an emulator is slow; the first tick falls anywhere in its second.
                time.sleep(3)
                line.drain()
                packets = line.packets(5.5)
                self.assertGreaterEqual(len(packets), 2, packets)
                for arrival, packet in packets:
                    self.assertEqual(len(packet), PACKET_LENGTH, packet)
                    self.assertEqual(int(packet[1:3]) % 2, 0, packet)
                    lateness = arrival - named_instant(packet, utc)
                    self.assertTrue(0 <= lateness < 0.6, (packet, lateness))
                program.signal(signal.SIGTERM)
                self.assertEqual(program.wait(), 0, program.output())


if __name__ == "__main__":
    unittest.main(verbosity=2)
