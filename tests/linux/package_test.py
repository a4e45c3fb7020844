"""The packages as a user makes them: scripts/package run from this tree in
fresh build folders. The Debian package: its files and metadata as dpkg-deb
reads them, lintian with no error, the menu entry and the metainfo validated
where they are installed, and the program unpacked into a throwaway root,
every library it needs found on this system, answering --version with no
display. The Windows zip: the program with its country file. The packages
stay in the build tree's package-check/dist for the installer's test."""

import os
import re
import shutil
import subprocess
import sys
import time
import unittest
import zipfile

BUILD = os.path.abspath(os.environ["ROTAVOX_BUILD_DIR"])
VERSION = os.environ["ROTAVOX_VERSION"]
SOURCE = os.path.abspath(os.path.join(os.path.dirname(__file__), "../.."))
CHECK = os.path.join(BUILD, "package-check")
DIST = os.path.join(CHECK, "dist")


def run(*args, **kwargs):
    return subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                          timeout=300, **kwargs)


class Packages(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        shutil.rmtree(CHECK, ignore_errors=True)
        env = dict(os.environ, ROTAVOX_PACKAGE_BUILD_DIR=os.path.join(CHECK, "linux"),
                   ROTAVOX_PACKAGE_WINDOWS_BUILD_DIR=os.path.join(CHECK, "windows"),
                   ROTAVOX_PACKAGE_OUTPUT_DIR=DIST)
        began = time.monotonic()
        made = subprocess.run([os.path.join(SOURCE, "scripts/package")], env=env, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, text=True, timeout=900)
        print(f"scripts/package: exit {made.returncode} after {time.monotonic() - began:.0f} s",
              file=sys.stderr)
        assert made.returncode == 0, made.stdout[-5000:]
        cls.deb = os.path.join(DIST, f"rotavox_{VERSION}_amd64.deb")
        cls.zip = os.path.join(DIST, f"rotavox-{VERSION}-windows-x64.zip")
        for package in (cls.deb, cls.zip, os.path.join(DIST, f"rotavox-{VERSION}-setup.exe")):
            assert os.path.exists(package), os.listdir(DIST)
        # The build folders are of no more use; the packages stay.
        for folder in ("linux", "windows"):
            shutil.rmtree(os.path.join(CHECK, folder), ignore_errors=True)

    def test_files_and_metadata(self):
        listing = run("dpkg-deb", "--contents", self.deb).stdout
        files = {line.split()[-1].lstrip(".") for line in listing.splitlines()}
        for path in ("/usr/bin/rotavox", "/usr/bin/cbox-sim",
                     "/usr/share/applications/org.rotavox.Rotavox.desktop",
                     "/usr/share/icons/hicolor/16x16/apps/rotavox.png",
                     "/usr/share/icons/hicolor/32x32/apps/rotavox.png",
                     "/usr/share/metainfo/org.rotavox.Rotavox.metainfo.xml",
                     "/usr/share/man/man1/rotavox.1.gz", "/usr/share/man/man1/cbox-sim.1.gz",
                     "/usr/share/doc/rotavox/copyright", "/usr/share/doc/rotavox/changelog.gz"):
            self.assertIn(path, files)
        field = lambda name: run("dpkg-deb", "--field", self.deb, name).stdout.strip()  # noqa: E731
        self.assertEqual(field("Package"), "rotavox")
        self.assertEqual(field("Version"), VERSION)
        self.assertEqual(field("Architecture"), "amd64")
        self.assertRegex(field("Depends"), r"\blibqt6widgets6\b")
        self.assertRegex(field("Depends"), r"\bqt6-qpa-plugins\b")
        self.assertRegex(field("Depends"), r"\bhamradio-files\b")
        self.assertRegex(field("Depends"), r"\blibc6 \(>= ")
        self.assertIn("speech-dispatcher", field("Recommends"))
        print("Depends:", field("Depends"))

    def test_lintian_finds_no_error(self):
        if shutil.which("lintian") is None:
            self.skipTest("lintian is not installed")
        checked = run("lintian", "--tag-display-limit", "0", self.deb)
        print(checked.stdout)
        self.assertEqual([line for line in checked.stdout.splitlines() if line.startswith("E:")], [])

    def test_unpacked_it_runs_and_its_files_validate(self):
        root = os.path.join(CHECK, "root")
        self.addCleanup(shutil.rmtree, root, True)
        self.assertEqual(run("dpkg", "-x", self.deb, root).returncode, 0)
        program = os.path.join(root, "usr/bin/rotavox")
        libraries = run("ldd", program).stdout
        self.assertNotIn("not found", libraries)
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        version = run(program, "--version", env=env)
        self.assertEqual(version.stdout, f"Rotavox Controller v{VERSION} for Prosistel C BOX\n")
        self.assertEqual(run(os.path.join(root, "usr/bin/cbox-sim"), "--version").returncode, 0)
        desktop = run("desktop-file-validate",
                      os.path.join(root, "usr/share/applications/org.rotavox.Rotavox.desktop"))
        self.assertEqual(desktop.returncode, 0, desktop.stdout)
        self.assertNotIn("error", desktop.stdout)
        metainfo = run("appstreamcli", "validate", "--no-net",
                       os.path.join(root, "usr/share/metainfo/org.rotavox.Rotavox.metainfo.xml"))
        self.assertEqual(metainfo.returncode, 0, metainfo.stdout)
        manual = run("man", "-l", "-Tutf8", os.path.join(root, "usr/share/man/man1/rotavox.1.gz"))
        if manual.returncode == 0:
            text = re.sub(".\b", "", manual.stdout).replace("\u2010", "-")  # no overstrikes
            self.assertIn("--home LOCATOR", text, text[:500])

    def test_the_windows_zip_carries_the_country_file(self):
        with zipfile.ZipFile(self.zip) as z:
            self.assertEqual(sorted(z.namelist()), ["README.txt", "cty-copyright.txt", "cty.dat", "rotavox.exe"])
            with open("/usr/share/hamradio-files/cty.dat", "rb") as debian:
                self.assertEqual(z.read("cty.dat"), debian.read())


if __name__ == "__main__":
    unittest.main()
