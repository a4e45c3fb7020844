"""The packages as scripts/package makes them from this tree, in fresh build
folders beside the build tree (at its depth, so that the compiler cache
serves what the build tree compiled), written to the build tree's
package-check/dist (where they stay for the installer's test). The Debian package: its files and metadata as dpkg-deb
reads them, lintian with no error, the menu entry and the metainfo validated
where they are installed, and the program unpacked into a throwaway root,
every library it needs found on this system, answering --version with no
display. The Windows zip: the program with its country file."""

import os
import re
import shutil
import subprocess
import unittest
import zipfile

BUILD = os.path.abspath(os.environ["ROTAVOX_BUILD_DIR"])
VERSION = os.environ["ROTAVOX_VERSION"]
CHECK = os.path.join(BUILD, "package-check")
FOLDERS = dict(ROTAVOX_PACKAGE_BUILD_DIR=BUILD + "-package-linux",
               ROTAVOX_PACKAGE_WINDOWS_BUILD_DIR=BUILD + "-package-windows",
               ROTAVOX_PACKAGE_OUTPUT_DIR=os.path.join(CHECK, "dist"))


def run(*args, **kwargs):
    return subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                          timeout=300, **kwargs)


class DebianPackage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        for folder in (CHECK, *FOLDERS.values()):
            shutil.rmtree(folder, ignore_errors=True)
        cls.dir = os.path.join(CHECK, "dist")
        made = subprocess.run([os.path.join(os.path.dirname(__file__), "../../scripts/package")], timeout=900,
                              env=dict(os.environ, **FOLDERS),
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        assert made.returncode == 0, made.stdout[-5000:]
        cls.deb = os.path.join(cls.dir, f"rotavox_{VERSION}_amd64.deb")
        assert os.path.exists(cls.deb), os.listdir(cls.dir)

    @classmethod
    def tearDownClass(cls):
        for folder in (FOLDERS["ROTAVOX_PACKAGE_BUILD_DIR"], FOLDERS["ROTAVOX_PACKAGE_WINDOWS_BUILD_DIR"],
                       os.path.join(CHECK, "dist/root")):  # the packages stay
            shutil.rmtree(folder, ignore_errors=True)

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
        root = os.path.join(self.dir, "root")
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
        with zipfile.ZipFile(os.path.join(self.dir, f"rotavox-{VERSION}-windows-x64.zip")) as z:
            self.assertEqual(sorted(z.namelist()), ["README.txt", "cty-copyright.txt", "cty.dat", "rotavox.exe"])


if __name__ == "__main__":
    unittest.main()
