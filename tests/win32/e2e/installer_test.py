"""The Windows installer as scripts/package made it (the package test leaves
it in the build tree's package-check/dist): run silently (/S) in a fresh
Wine prefix it puts rotavox.exe, README.txt and the country file with its
copyright notice into Program Files, a Start-menu shortcut that starts in
the user's own folder and an uninstaller registered with Windows; the
uninstaller, silent too, takes them all away again."""

import glob
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wine_e2e_test import LINUX_BUILD, Wine  # noqa: E402
from harness import Display, wait_for  # noqa: E402

VERSION = os.environ["ROTAVOX_VERSION"]
SETUP = os.path.join(LINUX_BUILD, "package-check/dist", f"rotavox-{VERSION}-setup.exe")
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Rotavox"


class Installer(unittest.TestCase):
    def test_silent_install_and_uninstall_in_a_fresh_prefix(self):
        self.assertTrue(os.path.exists(SETUP), f"no {SETUP}: the package test makes it")
        display = Display().__enter__()
        self.addCleanup(display.__exit__, None, None, None)
        wine = Wine(display)
        self.addCleanup(wine.close)
        drive = os.path.join(wine.prefix, "drive_c")
        program = os.path.join(drive, "Program Files/Rotavox")
        wine.run(["wine", SETUP, "/S"], timeout=120)  # returns once it has installed
        for name in ("rotavox.exe", "README.txt", "cty.dat", "cty-copyright.txt", "Uninstall.exe"):
            self.assertTrue(os.path.exists(os.path.join(program, name)),
                            glob.glob(os.path.join(drive, "Program Files*/*")))
        shortcuts = glob.glob(os.path.join(drive, "**/Rotavox Controller.lnk"), recursive=True)
        self.assertEqual(len(shortcuts), 1, shortcuts)
        with open(shortcuts[0], "rb") as f:
            link = f.read()
        self.assertTrue("%USERPROFILE%".encode("utf-16-le") in link or b"%USERPROFILE%" in link)
        self.assertEqual(wine.run(["wine", "reg", "query", UNINSTALL_KEY], check=False).returncode, 0)

        # The uninstaller runs on from a copy of itself and returns at once.
        wine.run(["wine", os.path.join(program, "Uninstall.exe"), "/S"], timeout=120)
        wait_for(lambda: not os.path.exists(program), 60, "the program folder to go")
        wait_for(lambda: not os.path.exists(shortcuts[0]), 60, "the shortcut to go")
        wait_for(lambda: wine.run(["wine", "reg", "query", UNINSTALL_KEY], check=False).returncode != 0,
                 60, "the uninstaller's registration to go")


if __name__ == "__main__":
    unittest.main()
