"""A Debian guest under qemu for the box tests: booted from the image scripts/test-box makes,
driven through an agent that runs shell scripts from a shared folder, with qemu's USB serial
adapters as the emitters. Every wait is bounded."""

import json
import os
import select
import shutil
import socket
import subprocess
import tempfile
import time

PACKET_LENGTH = 35


def wait_until(predicate, timeout, step=0.2):
    deadline = time.time() + timeout
    while True:
        value = predicate()
        if value or time.time() >= deadline:
            return value
        time.sleep(step)


class Line:
    """The host side of one USB serial adapter: what the guest writes to its ttyUSB."""

    def __init__(self, path):
        self.socket = socket.socket(socket.AF_UNIX)
        wait_until(lambda: os.path.exists(path), 10)
        self.socket.connect(path)

    def drain(self):
        while select.select([self.socket], [], [], 0)[0]:
            if not self.socket.recv(4096):
                return

    def packets(self, duration):
        """[(host time of the first byte, packet)] for what arrives within duration."""
        received, pending, started = [], b"", None
        deadline = time.time() + duration
        while (left := deadline - time.time()) > 0:
            if not select.select([self.socket], [], [], left)[0]:
                break
            now = time.time()
            chunk = self.socket.recv(4096)
            if not chunk:
                break
            if not pending:
                started = now
            pending += chunk
            while len(pending) >= PACKET_LENGTH:
                received.append((started, pending[:PACKET_LENGTH]))
                pending, started = pending[PACKET_LENGTH:], now
        if pending:
            received.append((started, pending))
        return received


class Guest:
    def __init__(self, image, arch, emitters=2, rtc=None):
        self.arch = arch
        self.work = tempfile.mkdtemp(prefix="beamclock-box-")
        self.share = os.path.join(self.work, "share")
        os.makedirs(os.path.join(self.share, "in"))
        os.makedirs(os.path.join(self.share, "out"))
        self.count = 0
        disk = os.path.join(self.work, "disk.qcow2")
        subprocess.run(["qemu-img", "create", "-q", "-f", "qcow2", "-F", "raw", "-b",
                        os.path.join(image, "disk.raw"), disk], check=True)
        self.qmp_path = os.path.join(self.work, "qmp.sock")
        self.console = os.path.join(self.work, "console.log")
        command = self._machine(image) + [
            "-m", "1024", "-smp", "2", "-display", "none", "-no-reboot", "-nic", "none",
            "-kernel", os.path.join(image, "kernel"), "-initrd", os.path.join(image, "initrd"),
            "-drive", f"file={disk},if=virtio,format=qcow2",
            "-virtfs", f"local,path={self.share},mount_tag=share,security_model=none,id=share",
            "-device", "qemu-xhci,id=xhci",
            "-qmp", f"unix:{self.qmp_path},server=on,wait=off",
            "-serial", f"file:{self.console}"]
        if rtc:
            command += ["-rtc", f"base={rtc}"]
        for n in range(emitters):
            command += ["-chardev", f"socket,id=line{n},path={self._line_path(n)},server=on,wait=off",
                        "-device", self._adapter(n)]
        self.qemu = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        # qemu attaches an adapter to the guest's bus only while its host side is connected.
        try:
            self.lines = [Line(self._line_path(n)) for n in range(emitters)]
        except OSError:
            if self.qemu.poll() is None:
                raise
            raise AssertionError("qemu ended: " + self.qemu.stderr.read().decode(errors="replace"))
        self.run("true", timeout=300)

    def _machine(self, image):
        if self.arch == "arm64":
            # A Raspberry Pi 4's core; also much quicker to emulate than "max".
            return ["qemu-system-aarch64", "-M", "virt", "-cpu", "cortex-a72", "-accel", "tcg",
                    "-append", "root=/dev/vda rw console=ttyAMA0 panic=-1"]
        # KVM would be quicker, but -cpu host aborts on these machines: software emulation.
        return ["qemu-system-x86_64", "-accel", "tcg",
                "-append", "root=/dev/vda rw console=ttyS0 panic=-1"]

    def _line_path(self, n):
        return os.path.join(self.work, f"line{n}.sock")

    def _adapter(self, n):
        return f"usb-serial,id=emitter{n},chardev=line{n},bus=xhci.0,serial=BEAM000{n}"

    @staticmethod
    def by_id(n):
        return f"/dev/serial/by-id/usb-QEMU_QEMU_USB_SERIAL_BEAM000{n}-if00-port0"

    def run(self, script, timeout=60, check=True):
        """Runs a shell script as root in the guest; returns its output."""
        self.count += 1
        name = f"{self.count:04d}"
        path = os.path.join(self.share, "in", name)
        with open(path + ".tmp", "w") as file:
            file.write(script + "\n")
        os.rename(path + ".tmp", path + ".sh")
        status = os.path.join(self.share, "out", name + ".rc")
        if not wait_until(lambda: os.path.exists(status), timeout):
            raise AssertionError(f"no answer in {timeout} s to: {script}\n{self.console_tail()}")
        with open(status) as file:
            rc = int(file.read())
        with open(os.path.join(self.share, "out", name + ".out"), errors="replace") as file:
            output = file.read()
        if check and rc != 0:
            raise AssertionError(f"exit {rc} from: {script}\n{output}")
        return output

    def put(self, path):
        """A host file where the guest sees it: /share/NAME."""
        shutil.copy(path, self.share)
        return "/share/" + os.path.basename(path)

    def qmp(self, execute, **arguments):
        with socket.socket(socket.AF_UNIX) as qmp:
            qmp.settimeout(10)
            qmp.connect(self.qmp_path)
            stream = qmp.makefile("rw")
            stream.readline()  # the greeting
            for message in ({"execute": "qmp_capabilities"},
                            {"execute": execute, "arguments": arguments}):
                stream.write(json.dumps(message) + "\n")
                stream.flush()
                while "return" not in (reply := json.loads(stream.readline())):
                    if "error" in reply:
                        raise AssertionError(f"qmp {execute}: {reply}")
            return reply["return"]

    def unplug(self, n):
        self.qmp("device_del", id=f"emitter{n}")

    def plug(self, n):
        self.qmp("device_add", driver="usb-serial", id=f"emitter{n}", chardev=f"line{n}",
                 bus="xhci.0", serial=f"BEAM000{n}")

    def console_tail(self, lines=30):
        try:
            with open(self.console, errors="replace") as file:
                return "".join(file.readlines()[-lines:])
        except OSError:
            return ""

    def stop(self):
        if self.qemu.poll() is None:
            self.qemu.kill()
            self.qemu.wait(timeout=30)
        for line in self.lines:
            line.socket.close()
        shutil.rmtree(self.work, ignore_errors=True)
