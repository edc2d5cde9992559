"""A Wine prefix of a test module's own, booted once, and what the Windows tests look at in it:
COM ports mapped to pseudo-terminals through dosdevices, the icons Wine docks into the tray."""

import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "e2e"))
from session import XSession  # noqa: E402


class WinePrefix:
    def __init__(self):
        self.path = tempfile.mkdtemp(prefix="beamclock-wine-")
        # No Mono or Gecko prompts; no menu entries written into the host's desktop.
        self.env = {"WINEDEBUG": "-all", "WINEPREFIX": self.path,
                    "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d"}

    def boot(self):
        session = XSession(tray=False)
        try:
            env = dict(session.env, **self.env)
            subprocess.run(["wineboot", "-i"], env=env, timeout=180, check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            subprocess.run(["wineserver", "-w"], env=env, timeout=60)
        finally:
            session.stop()

    def remove(self):
        subprocess.run(["wineserver", "-k"], env=dict(os.environ, **self.env), timeout=30)
        shutil.rmtree(self.path, ignore_errors=True)

    def link_com(self, number, device):
        com = os.path.join(self.path, "dosdevices", f"com{number}")
        if os.path.lexists(com):
            os.unlink(com)
        os.symlink(device, com)


def tray_icons(session):
    """The windows Wine docks into the tray host for programs' tray icons."""
    icons = []
    inside = False
    for line in session.x("xwininfo", "-root", "-tree").splitlines():
        if '"panel": ("panel" "trayer")' in line:
            inside = True
        elif inside and '("explorer.exe" "explorer.exe")' in line:
            window = line.split()[0]
            if "IsViewable" in session.x("xwininfo", "-id", window):
                icons.append(window)
    return icons
