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
    """For user (a pwd entry), a prefix in a home of that user's, every Wine command run with
    that user's ids: root's Wine lets every write through."""

    def __init__(self, user=None):
        self.user = user
        self.home = tempfile.mkdtemp(prefix="beamclock-wine-")
        self.path = self.home
        # No Mono or Gecko prompts; no menu entries written into the host's desktop.
        self.env = {"WINEDEBUG": "-all",
                    "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d"}
        if user:
            os.chown(self.home, user.pw_uid, user.pw_gid)
            self.path = os.path.join(self.home, "wine")
            self.env.update(HOME=self.home, USER=user.pw_name)
        self.env["WINEPREFIX"] = self.path

    def command(self, *command):
        if not self.user:
            return list(command)
        return ["setpriv", f"--reuid={self.user.pw_uid}", f"--regid={self.user.pw_gid}",
                "--clear-groups", *command]

    def give(self, path):
        """Makes a file the test made the prefix user's, as if the user had made it."""
        if self.user:
            os.chown(path, self.user.pw_uid, self.user.pw_gid)

    def boot(self):
        session = XSession(tray=False)
        try:
            env = dict(session.env, **self.env)
            subprocess.run(self.command("wineboot", "-i"), env=env, timeout=180, check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            subprocess.run(self.command("wineserver", "-w"), env=env, timeout=60)
        finally:
            session.stop()

    def remove(self):
        subprocess.run(self.command("wineserver", "-k"), env=dict(os.environ, **self.env),
                       timeout=30)
        shutil.rmtree(self.home, ignore_errors=True)

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
