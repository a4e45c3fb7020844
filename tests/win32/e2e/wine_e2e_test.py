"""The Windows program under Wine: a fresh Wine prefix, COM7 mapped to a
pseudo-terminal served by the simulated C BOX, our recording stand-in for
the SAPI voice registered as SAPI.SpVoice, and the window driven with
xdotool under Xvfb."""

import glob
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "../../linux/e2e"))
from harness import ARTIFACTS, Display, wait_for  # noqa: E402

LINUX_BUILD = os.path.abspath(os.environ["ROTAVOX_BUILD_DIR"])
WINDOWS_BUILD = os.path.abspath(os.environ["ROTAVOX_WINDOWS_BUILD_DIR"])
EXE = os.path.join(WINDOWS_BUILD, "rotavox.exe")
FAKE_SAPI = os.path.join(WINDOWS_BUILD, "tests/win32/fake_sapi.dll")


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Station:
    """A station program on the rotctld protocol (Wine's sockets are the host's)."""

    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=10)
        self.replies = self.sock.makefile("rb")

    def ask(self, line, lines):
        self.sock.sendall(line.encode() + b"\n")
        return "".join(self.replies.readline().decode() for _ in range(lines))

    def close(self):
        self.replies.close()
        self.sock.close()


class Wine:
    """A fresh prefix with fonts, a persistent wineserver and our voice."""

    def __init__(self, display):
        self.prefix = tempfile.mkdtemp(prefix="rotavox-wine-")
        self.env = dict(display.env, WINEPREFIX=self.prefix, WINEARCH="win64", WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=")
        self.run(["wineboot", "--init"], timeout=120)
        self.run(["wineserver", "-w"], timeout=120)
        fonts = os.path.join(self.prefix, "drive_c/windows/Fonts")
        os.makedirs(fonts, exist_ok=True)
        for font in glob.glob("/usr/share/wine/fonts/*"):
            shutil.copy(font, fonts)
        # A server of our own, started before any pseudo-terminal is opened,
        # so that no terminal becomes its controlling terminal.
        self.server = subprocess.Popen(["wineserver", "-f", "-p"], env=self.env,
                                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL, start_new_session=True)
        self.register_voice()

    def register_voice(self):
        """Our recording voice becomes SAPI.SpVoice in this prefix."""
        self.run(["wine", "regsvr32", "/s", windows_path(FAKE_SAPI)])

    def run(self, args, timeout=60, check=True):
        # No pipes: Wine's background processes inherit them and would keep
        # them open long after the command itself has ended.
        return subprocess.run(args, env=self.env, timeout=timeout, check=check,
                              stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)

    def map_com(self, number, device):
        link = os.path.join(self.prefix, "dosdevices", f"com{number}")
        if os.path.lexists(link):
            os.remove(link)
        os.symlink(device, link)

    def close(self):
        subprocess.run(["wineserver", "-k"], env=self.env, timeout=30)
        try:
            self.server.wait(10)
        except subprocess.TimeoutExpired:
            self.server.kill()
        shutil.rmtree(self.prefix, ignore_errors=True)


class Simulator:
    def __init__(self, *args):
        self.proc = subprocess.Popen([os.path.join(LINUX_BUILD, "cbox-sim"), *args],
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.path = self.proc.stdout.readline().decode().strip()
        assert self.path.startswith("/dev/"), self.path

    def close(self):
        self.proc.terminate()
        self.proc.wait(10)


class Program:
    def __init__(self, wine, display, stat_dat=None, args=()):
        self.wine, self.display = wine, display
        self.dir = tempfile.mkdtemp(prefix="rotavox-win-")
        self.log = os.path.join(self.dir, "sapi.log")
        if stat_dat is not None:
            with open(os.path.join(self.dir, "STAT.DAT"), "wb") as f:
                f.write(stat_dat)
        env = dict(wine.env, ROTAVOX_FAKE_SAPI_LOG=windows_path(self.log))
        self.proc = subprocess.Popen(["wine", EXE, *args], cwd=self.dir, env=env,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.window = None

    def calls(self):
        try:
            with open(self.log, "rb") as f:
                return f.read().decode("utf-8").split("\n")[:-1]
        except FileNotFoundError:
            return []

    def said(self):
        return [c[len("Speak "):] for c in self.calls() if c.startswith("Speak ")]

    def wait_said(self, expected, timeout=15):
        wait_for(lambda: self.said()[-len(expected):] == expected, timeout,
                 f"speech {expected!r}, heard {self.said()!r}")

    def wait_window(self, name="Rotavox Controller", timeout=20):
        def find():
            r = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", name],
                               env=self.display.env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            return r.stdout.decode().split()
        found = wait_for(find, timeout, f"window {name!r}")
        self.display.xdotool("windowactivate", "--sync", found[0])
        if name == "Rotavox Controller":
            self.window = found[0]
        return found[0]

    def key(self, *keys):
        self.display.xdotool("key", "--delay", "80", *keys)
        time.sleep(0.2)

    def type(self, text):
        self.display.xdotool("type", "--delay", "120", text)
        time.sleep(0.2)

    def stat_dat(self):
        with open(os.path.join(self.dir, "STAT.DAT"), "rb") as f:
            return f.read()

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait(10)
        shutil.rmtree(self.dir, ignore_errors=True)


class WindowsEdition(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.display = Display().__enter__()
        cls.wine = Wine(cls.display)

    @classmethod
    def tearDownClass(cls):
        cls.wine.close()
        cls.display.__exit__(None, None, None)

    def test_1_the_road_of_one_go(self):
        sim = Simulator("--speed", "30", "--bearing", "10")
        self.addCleanup(sim.close)
        self.wine.map_com(7, sim.path)
        app = Program(self.wine, self.display)
        self.addCleanup(app.close)
        app.wait_said(["Rotavox Controller ", "Please set com port", "Set Com Port"])
        self.assertEqual(app.calls()[:2], ["Speak Rotavox Controller ", "WaitUntilDone -1"])
        app.wait_window()
        app.type("7")
        app.wait_said(["7"])
        app.key("alt+s")
        app.wait_said(["Started", "On Bearing 0 1 0 ", "", "Enter Bearing"])
        app.type("45")
        app.wait_said(["4 ", "4 5 "])
        app.key("Return")
        app.wait_said(["On bearing 0 4 5 ", "", "Enter Bearing"], timeout=20)
        app.key("alt+b")
        app.wait_said(["On bearing 045"])
        os.makedirs(ARTIFACTS, exist_ok=True)
        subprocess.run(["import", "-window", "root", os.path.join(ARTIFACTS, "rotavox-windows.png")],
                       env=self.display.env, check=True, timeout=20)
        app.key("alt+x")
        app.wait_said(["Goodbye"])
        self.assertEqual(app.proc.wait(20), 0)
        self.assertEqual(app.stat_dat(), b'"7",1\r\n')

    def test_2_no_voice_shows_the_box_and_saves_speech_off(self):
        self.wine.run(["wine", "reg", "delete", "HKCR\\SAPI.SpVoice", "/f"], check=False)
        self.wine.run(["wine", "reg", "delete", "HKLM\\Software\\Classes\\SAPI.SpVoice", "/f"],
                      check=False)
        self.addCleanup(self.wine.register_voice)
        app = Program(self.wine, self.display, stat_dat=b'"7",1\r\n')
        self.addCleanup(app.close)
        box = app.wait_window("Windows Voice")
        self.display.xdotool("windowactivate", "--sync", box)
        self.display.xdotool("key", "Return")
        app.wait_window()
        app.key("alt+x")
        self.assertEqual(app.proc.wait(20), 0)
        self.assertEqual(app.stat_dat(), b'"7",0\r\n')
        self.assertEqual(app.said(), [])

    def test_3_station_program_over_rotctld_and_udp(self):
        sim = Simulator("--speed", "30", "--bearing", "10")
        self.addCleanup(sim.close)
        self.wine.map_com(7, sim.path)
        port = free_port()
        udp = free_port()
        app = Program(self.wine, self.display, stat_dat=b'"7",1\r\n',
                      args=["--rotctld", str(port), "--udp", str(udp)])
        self.addCleanup(app.close)
        app.wait_said(["Set Com Port"])
        app.wait_window()
        station = wait_for(lambda: self.connect(port), 20, f"the server on port {port}")
        self.addCleanup(station.close)
        self.assertEqual(station.ask("p", 1), "RPRT -6\n")  # no link yet
        app.key("alt+s")
        app.wait_said(["Started", "On Bearing 0 1 0 ", "", "Enter Bearing"])
        self.assertEqual(station.ask("p", 2), "10.000000\n0.000000\n")
        self.assertEqual(station.ask("P 45.00 0.00", 1), "RPRT 0\n")
        app.wait_said(["On bearing 0 4 5 ", "", "Enter Bearing"], timeout=20)
        self.assertEqual(station.ask("+p", 4),
                         "get_pos:\nAzimuth: 45.000000\nElevation: 0.000000\nRPRT 0\n")
        # A logger's N1MM packet, and its status datagram back on port 13010.
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as status, \
                socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as logger:
            status.bind(("127.0.0.1", 13010))
            status.settimeout(20)
            logger.sendto(b"<N1MMRotor><rotor>C BOX</rotor><goazi>60</goazi><offset>0</offset>"
                          b"<bidirectional>0</bidirectional><freqband>14</freqband></N1MMRotor>",
                          ("127.0.0.1", udp))
            app.wait_said(["On bearing 0 6 0 ", "", "Enter Bearing"], timeout=20)
            heard = [status.recv(100)]
            while heard[-1] != b"C BOX @ 600":
                heard.append(status.recv(100))
            logger.sendto(b"<PST><AZIMUTH>30</AZIMUTH></PST>", ("127.0.0.1", udp))
            app.wait_said(["On bearing 0 3 0 ", "", "Enter Bearing"], timeout=20)
        self.assertEqual(station.ask("S", 1), "RPRT 0\n")
        station.sock.sendall(b"q\n")
        self.assertEqual(station.replies.read(), b"")  # closed, nothing more said
        # A client still connected must not hold up the exit.
        other = self.connect(port)
        self.addCleanup(other.close)
        app.key("alt+x")
        app.wait_said(["Goodbye"])
        self.assertEqual(app.proc.wait(20), 0)

    def test_4_bad_command_lines_are_refused_in_a_box(self):
        with socket.socket() as taken:
            taken.bind(("127.0.0.1", 0))
            taken.listen()
            for args, code in ((["--simulate"], 2), (["--rotctld", "99999"], 2),
                               (["--rotctld", str(taken.getsockname()[1])], 1)):
                with self.subTest(args=args):
                    app = Program(self.wine, self.display, args=args)
                    self.addCleanup(app.close)
                    box = app.wait_window("^Rotavox Controller$")
                    self.display.xdotool("windowactivate", "--sync", box)
                    self.display.xdotool("key", "Return")
                    self.assertEqual(app.proc.wait(20), code)
                    self.assertEqual(app.said(), [])

    def test_5_with_a_screen_reader_typing_is_not_echoed(self):
        app = Program(self.wine, self.display, stat_dat=b'"7",1\r\n', args=["--screen-reader"])
        self.addCleanup(app.close)
        app.wait_said(["Rotavox Controller ", "Set Com Port"])
        app.wait_window()
        app.type("8")
        app.key("alt+t")
        app.type("9")
        app.key("alt+x")
        app.wait_said(["Goodbye"])
        self.assertEqual(app.said(), ["Rotavox Controller ", "Set Com Port", "Enter Bearing", "Goodbye"])
        self.assertEqual(app.proc.wait(20), 0)

    @staticmethod
    def connect(port):
        try:
            return Station(port)
        except ConnectionRefusedError:
            return None


if __name__ == "__main__":
    unittest.main()
