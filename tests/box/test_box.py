"""The box beside the clock, for real: a Debian 12 guest with systemd and udev, qemu's USB
serial adapters behind the kernel's ftdi_sio driver, and the packages installed as the README
says. One scenario, in the order an administrator meets it."""

import calendar
import os
import re
import time
import unittest
from concurrent.futures import ThreadPoolExecutor

from guest import Guest, wait_until

IMAGE = os.environ["BOX_IMAGE"]
ARCH = os.environ.get("BOX_ARCH", "amd64")
DEBS = os.environ["BOX_DEBS"].split()
OLD_DEB = os.environ.get("BOX_OLD_DEB")  # the single 1.0.2 package, with beamclock.service


def deb(name):
    return next(path for path in DEBS if os.path.basename(path).startswith(name + "_"))


def named_instant(packet):
    """The guest keeps UTC, so local and UTC packets name the same instant."""
    text = packet.decode("ascii")
    fields = (int(text[11:15]), int(text[9:11]), int(text[7:9]), int(text[5:7]),
              int(text[3:5]), int(text[1:3]))
    return calendar.timegm(fields + (0, 0, -1))


def settings(port, ports=""):
    return f"[SerialSync]\nCOMPORT=+{port}\nTIMEUTC=False\nTIMELOCAL=True\n\n[Ports]\n{ports}"


class Box(unittest.TestCase):
    def setUp(self):
        # Booted with a stale clock, as a box without a clock of its own does.
        self.guest = Guest(IMAGE, ARCH, rtc="2020-01-01")
        self.addCleanup(self.guest.stop)

    def write(self, path, text):
        self.guest.run(f"mkdir -p {os.path.dirname(path)} && cat > {path} <<'END'\n{text}\nEND")

    def main_pid(self, unit="beamclockd.service"):
        return self.guest.run(f"systemctl show -p MainPID --value {unit}").strip()

    def journal(self, unit="beamclockd.service"):
        return self.guest.run(f"journalctl -q -o cat -u {unit}")

    def assertOnTheirSeconds(self, packets, at_least=2):
        """Well formed, each on an even second of the guest's clock, none missed; all as far
        after their second as the first (the guest's clock is up to a second off the host's,
        so the offset is measured from the packets themselves)."""
        self.assertGreaterEqual(len(packets), at_least, packets)
        seconds = [named_instant(packet) for _, packet in packets]
        self.assertTrue(all(len(packet) == 35 for _, packet in packets), packets)
        self.assertTrue(all(second % 2 == 0 for second in seconds), seconds)
        self.assertEqual([b - a for a, b in zip(seconds, seconds[1:])], [2] * (len(seconds) - 1))
        lags = [arrived - second for (arrived, _), second in zip(packets, seconds)]
        self.assertLess(max(lags) - min(lags), 0.15, lags)
        return min(lags)

    def status(self, unit="beamclockd.service"):
        return self.guest.run(f"systemctl show -p StatusText --value {unit}").strip()

    def synchronise(self, to=None):
        """What an NTP client does: the clock set, then the kernel told it is synchronised."""
        if to is not None:
            self.guest.run(f"date -s @{to:.3f} >/dev/null")
        self.guest.run("adjtimex --status 0 --maxerror 100000 --esterror 1000")

    def test_a_box_beside_the_clock(self):
        guest = self.guest
        line0, line1 = guest.lines
        # The README's commands, on a box that booted with a stale clock and has no time source.
        guest.run("apt-get install -y -q {} {}".format(guest.put(deb("beamclockd")),
                                                   guest.put(deb("beamclock-doctor"))),
                  timeout=300)
        self.write("/etc/beamclock/Skyfix.ini", settings("COM5"))
        guest.run("systemctl enable --now beamclockd.service")
        line0.drain()
        self.assertEqual(line0.packets(15), [], "a stale time was sent")
        self.assertIn("waiting for the system clock to be synchronised", self.journal())
        self.assertEqual(self.status(), "waiting for the system clock to be synchronised")
        doctor = guest.run("beamclock-doctor --service; true")
        self.assertIn("sends nothing until the system clock is synchronised", doctor)
        self.assertNotIn("whatever this computer shows", doctor)
        self.synchronise(to=time.time())
        self.assertTrue(wait_until(lambda: line0.packets(2.5), 6, step=0), "nothing once synced")
        self.assertOnTheirSeconds(line0.packets(4.5))
        self.assertEqual(guest.run("beamclock-doctor --service >/dev/null; echo $?").strip(), "0")
        self.assertEqual(self.status(), "sending local time to COM5 (/dev/ttyUSB0)")

        # A by-id name for another adapter, read on reload by the same process.
        pid = self.main_pid()
        self.write("/etc/beamclock/Skyfix.ini", settings("COM7", f"COM7={guest.by_id(1)}\n"))
        guest.run("systemctl reload beamclockd.service")
        self.assertTrue(wait_until(lambda: line1.packets(2.5), 6, step=0), "nothing on COM7")
        line0.drain()
        self.assertOnTheirSeconds(line1.packets(4.5))
        self.assertEqual(line0.packets(0.1), [], "the old port still had packets")
        self.assertEqual(self.main_pid(), pid)

        # Unplugged and plugged back: said, shown, and sending again within 4 s.
        guest.unplug(1)
        self.assertTrue(wait_until(lambda: guest.run(f"test -e {guest.by_id(1)} || echo gone"), 10),
                        "the link stayed")
        self.assertTrue(wait_until(lambda: "no such device since" in self.status(), 6),
                        self.status())
        doctor = guest.run("beamclock-doctor --service; echo status $?")
        self.assertNotIn("status 0", doctor)
        guest.plug(1)
        plugged = wait_until(lambda: guest.run(f"test -e {guest.by_id(1)} && echo y", check=False), 20)
        self.assertTrue(plugged, "the adapter did not come back")
        line1.drain()
        self.assertOnTheirSeconds(wait_until(lambda: line1.packets(2.5), 4, step=0), at_least=1)
        self.assertRegex(self.journal(), r"lost|no such device")

        # The clock stepped forward and back (each step leaves it unsynchronised, as the
        # kernel sees it, until the time source says otherwise): clock sets, never seconds
        # not sent.
        before = len(self.journal())
        for step in ("+30", "-30"):
            guest.run(f"date -s '{step} seconds' >/dev/null && sleep 4")
            self.synchronise()
        journal = self.journal()[before:]
        self.assertRegex(journal, r"clock was set forward by (29\.9|30\.0)\d\d s")
        self.assertRegex(journal, r"clock was set back by (29\.9|30\.0)\d\d s")
        self.assertNotIn("not sent", journal)

        # A second clock on the same box, beside the first.
        self.write("/etc/beamclock/hall/Skyfix.ini", settings("COM6", f"COM6={guest.by_id(0)}\n"))
        guest.run("systemctl enable --now beamclockd@hall.service")
        self.assertTrue(wait_until(lambda: line0.packets(2.5), 10, step=0), "nothing from hall")
        # Both lines read at once; a line left unread backs up in the guest's buffers, so only
        # the packets after those count.
        with ThreadPoolExecutor(2) as pool:
            for packets in pool.map(lambda line: line.packets(8.5), (line0, line1)):
                self.assertOnTheirSeconds(packets[-3:])
        self.assertIn("COM6", self.status("beamclockd@hall.service"))
        self.assertEqual(guest.run("beamclock-doctor --service hall >/dev/null; echo $?").strip(),
                         "0")

        # A hung service: the watchdog ends it and systemd starts it again.
        pid = self.main_pid()
        guest.run(f"kill -STOP {pid}")
        self.assertTrue(wait_until(lambda: self.main_pid() not in (pid, "0"), 20 + 10),
                        "not restarted")
        self.assertIn("watchdog", guest.run("journalctl -q -o cat -u beamclockd.service"))
        self.assertTrue(wait_until(lambda: line1.packets(2.5), 10, step=0), "nothing after it")

        # The sandbox as the README describes it, from inside the running service.
        self.assertSandbox(self.main_pid())
        report = guest.run("systemd-analyze security --no-pager beamclockd.service")
        exposure = re.search(r"Overall exposure level for \S+: ([0-9.]+)", report)
        self.assertTrue(exposure, report[-500:])
        self.assertLessEqual(float(exposure.group(1)), 1.0, report)

        # Removed, then purged: nothing left but the administrator's files.
        guest.run("apt-get purge -y -q beamclockd beamclock-doctor", timeout=120)
        leftovers = guest.run("find /etc/systemd /var/lib/systemd/deb-systemd-helper-enabled "
                              "/etc/beamclock -name '*beamclock*'; pgrep -a beamclockd; true")
        self.assertEqual(leftovers.split(), ["/etc/beamclock"], leftovers)
        self.assertEqual(guest.run("find /etc/beamclock -type f | sort").split(),
                         ["/etc/beamclock/Skyfix.ini", "/etc/beamclock/hall/Skyfix.ini"])

    @unittest.skipUnless(OLD_DEB, "no single 1.0.2 package was built for this architecture")
    def test_upgrades_from_the_single_package(self):
        guest = self.guest
        line0 = guest.lines[0]
        old, service, doctor, program = (guest.put(path) for path in
                                         (OLD_DEB, deb("beamclockd"), deb("beamclock-doctor"),
                                          deb("beamclock")))
        self.write("/etc/beamclock/Skyfix.ini", settings("COM5"))
        self.synchronise(to=time.time())

        def old_service_sending():
            guest.run(f"apt-get install -y -q {old} && systemctl enable --now beamclock.service",
                      timeout=300)
            line0.drain()
            self.assertTrue(wait_until(lambda: line0.packets(2.5), 20, step=0), "1.0.2 sent nothing")

        # Only the box's packages: the old service ends and beamclockd takes the clock over.
        old_service_sending()
        guest.run(f"apt-get install -y -q {service} {doctor}", timeout=300)
        self.assertEqual(guest.run("ls -l /proc/[0-9]*/exe 2>/dev/null | grep deleted; true"), "")
        self.assertEqual(guest.run("systemctl is-enabled beamclockd.service").strip(), "enabled")
        line0.drain()
        self.assertOnTheirSeconds(wait_until(lambda: line0.packets(4.5), 20, step=0))
        guest.run("apt-get purge -y -q beamclockd beamclock-doctor", timeout=120)
        self.assertEqual(guest.run("pgrep -a beamclock; find /etc/systemd -name 'beamclock*'; "
                                   "ls /var/lib/systemd/deb-systemd-helper-enabled | grep beam; true"), "")

        # The desktop package alone, with defaults beside the old program: the administrator
        # is told, and a user's first start sends to the port those defaults name.
        old_service_sending()
        self.write("/usr/bin/Skyfix.ini", settings("COM5"))
        upgrade = guest.run(f"apt-get install -y -q {program}", timeout=300)
        self.assertIn("the clock is no longer set", upgrade)
        self.assertNotEqual(guest.run("systemctl is-enabled beamclock.service; true").strip(),
                            "enabled")
        self.assertIn("beamclockd", guest.run("zcat /usr/share/doc/beamclock/NEWS.Debian.gz"))
        self.assertIn("beamclockd", guest.run("journalctl -q -o cat -t beamclock"))
        self.assertIn("COMPORT=+COM5", guest.run("cat /etc/xdg/beamclock/Skyfix.ini"))
        guest.run("useradd -m -G dialout ann")
        line0.drain()
        guest.run("su - ann -c 'timeout 9 beamclock' >/dev/null 2>&1; true", timeout=60)
        self.assertTrue(line0.packets(0.5), "the user's first start sent nothing")
        guest.run("apt-get purge -y -q beamclock", timeout=120)
        self.assertEqual(guest.run("ls -d /var/lib/beamclock 2>/dev/null; true"), "")

    def assertSandbox(self, pid):
        # The service's own user and mounts: what it may write is what it sees.
        inside = f"nsenter -t {pid} -m -S $(stat -c %u /proc/{pid}) -G $(stat -c %g /proc/{pid}) --"
        for path in ("/run/lock", "/dev/shm", "/etc/beamclock"):
            answer = self.guest.run(f"{inside} sh -c 'touch {path}/probe 2>&1 && echo written'; true")
            self.assertNotIn("written", answer, path)
        self.assertIn("ro", self.guest.run(f"{inside} findmnt -no OPTIONS -T /etc/beamclock"))


if __name__ == "__main__":
    unittest.main(verbosity=2)
