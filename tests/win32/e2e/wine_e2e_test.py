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
from harness import (ARTIFACTS, Display, Ser2net, Simulator, free_port, listening, seconds_to_answer,  # noqa: E402
                     wait_for)

LINUX_BUILD = os.path.abspath(os.environ["ROTAVOX_BUILD_DIR"])
WINDOWS_BUILD = os.path.abspath(os.environ["ROTAVOX_WINDOWS_BUILD_DIR"])
EXE = os.path.join(WINDOWS_BUILD, "rotavox.exe")
FAKE_SAPI = os.path.join(WINDOWS_BUILD, "tests/win32/fake_sapi.dll")


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


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
        # Only once it listens: a client that came first would start a
        # server of its own, and the two would race for the prefix.
        # Its socket is /tmp/.wine-UID/server-DEV-INODE/socket, or in
        # Debian's build /tmp/wine-XXXXXX/server-DEV-INODE/socket, DEV and
        # INODE those of the prefix.
        info = os.stat(self.prefix)
        server = f"server-{info.st_dev:x}-{info.st_ino:x}/socket"
        sockets = [f"/tmp/.wine-{os.getuid()}/{server}", f"/tmp/wine-*/{server}"]
        wait_for(lambda: any(glob.glob(p) for p in sockets) or self.server.poll() is not None, 20,
                 "the Wine server")
        if self.server.poll() is not None:
            raise AssertionError(f"the Wine server ended at once ({self.server.returncode})")
        self.register_voice()

    def register_voice(self):
        """Our recording voice becomes SAPI.SpVoice in this prefix."""
        self.run(["wine", "regsvr32", "/s", windows_path(FAKE_SAPI)])

    def run(self, args, timeout=60, check=True):
        """Runs a Wine command; a failure names its exit status and what
        Wine printed, with its errors shown."""
        # No pipes: Wine's background processes inherit them and would keep
        # them open long after the command itself has ended. A file of its
        # own instead, read once the command has ended.
        with tempfile.TemporaryFile() as output:
            done = subprocess.run(args, env=dict(self.env, WINEDEBUG="err+all,fixme-all"),
                                  timeout=timeout, stdin=subprocess.DEVNULL, stdout=output,
                                  stderr=output)
            if check and done.returncode != 0:
                output.seek(0)
                printed = output.read().decode("utf-8", "replace")[-3000:]
                raise AssertionError(f"{' '.join(args)} exited {done.returncode}:\n{printed}")
        return done

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


class Program:
    def __init__(self, wine, display, stat_dat=None, args=(), env=None):
        self.wine, self.display = wine, display
        self.dir = tempfile.mkdtemp(prefix="rotavox-win-")
        self.log = os.path.join(self.dir, "sapi.log")
        if stat_dat is not None:
            with open(os.path.join(self.dir, "STAT.DAT"), "wb") as f:
                f.write(stat_dat)
        env = dict(wine.env, ROTAVOX_FAKE_SAPI_LOG=windows_path(self.log), **(env or {}))
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
        # The window manager reports the window active before Wine has
        # taken the keyboard focus (Wine sets it itself, on WM_TAKE_FOCUS,
        # when its thread gets to it: up to 90 ms later on a busy machine
        # with a fresh prefix); keys typed before then go to another window.
        wait_for(lambda: self.display.xdotool("getwindowfocus").strip() == found[0], 10,
                 f"the keyboard focus in window {name!r}")
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

    def test_5_with_a_screen_reader_only_what_it_cannot_know_is_said(self):
        sim = Simulator("--bearing", "100")
        self.addCleanup(sim.close)
        self.wine.map_com(7, sim.path)
        app = Program(self.wine, self.display, stat_dat=b'"7",1\r\n', args=["--screen-reader", "--rate", "3"])
        self.addCleanup(app.close)
        app.wait_window()
        # No title, prompts, typing echo or voice switch: the screen reader's.
        app.key("alt+v", "alt+v", "alt+s")
        app.wait_said(["Started", "On Bearing 1 0 0 ", "North Stop"])
        app.type("90")
        app.key("Return")
        app.wait_said(["On bearing 0 9 0 "], timeout=20)
        app.key("alt+x")
        app.wait_said(["Goodbye"])
        self.assertEqual(app.said(), ["Started", "On Bearing 1 0 0 ", "North Stop", "On bearing 0 9 0 ", "Goodbye"])
        rates = [c for c in app.calls() if c.startswith("Rate ")]
        self.assertEqual(rates, ["Rate 3"] * len(app.said()))  # on every voice
        self.assertEqual(app.proc.wait(20), 0)

    def test_6_the_end_of_the_session_saves_the_settings(self):
        """Logging off (WM_QUERYENDSESSION, WM_ENDSESSION) saves what EXIT
        would have saved, with nothing more spoken."""
        app = Program(self.wine, self.display, stat_dat=b'"7",1\r\n')
        self.addCleanup(app.close)
        app.wait_said(["Rotavox Controller ", "Set Com Port"])
        app.wait_window()
        app.key("alt+v")
        app.wait_said(["Voice Off."])
        self.wine.run(["wine", "wineboot", "--end-session"], timeout=60)
        wait_for(lambda: app.stat_dat() == b'"7",0\r\n', 10, "STAT.DAT saved")
        self.assertNotIn("Goodbye", app.said())

    def test_7_a_storm_of_aims_never_buries_the_operator(self):
        from rotctld_e2e_test import PacedBox, Stormer
        box = PacedBox()
        self.addCleanup(box.close)
        self.wine.map_com(7, box.path)
        port = free_port()
        app = Program(self.wine, self.display, stat_dat=b'"7",1\r\n', args=["--rotctld", str(port)])
        self.addCleanup(app.close)
        app.wait_said(["Set Com Port"])
        app.wait_window()
        wait_for(lambda: self.connect(port), 20, f"the server on port {port}").close()
        app.key("alt+s")
        wait_for(lambda: len(box.arrivals) >= 2, 10, "the start frames")
        box.send("A,L,10,0,0")
        app.wait_said(["On Bearing 0 1 0 ", "", "Enter Bearing"])
        stormers = [Stormer(90 * i, port) for i in range(4)]
        for s in stormers:
            s.start()
        self.addCleanup(lambda: [s.stop() for s in stormers])
        time.sleep(1.5)
        began, frames_before = time.monotonic(), len(box.arrivals)
        answered_before = sum(s.answered for s in stormers)
        app.type("123")
        entered = time.monotonic()
        self.display.xdotool("key", "Return")
        go_delay = box.first("AG123", entered)
        time.sleep(1)
        alt_b = seconds_to_answer(self.display, app, "alt+b", "On bearing 010")
        time.sleep(1)
        seconds = time.monotonic() - began
        rate = (sum(s.answered for s in stormers) - answered_before) / seconds
        frames = len(box.arrivals) - frames_before
        print(f"storm under Wine: {rate:.0f} P/s over {seconds:.1f} s, {frames} frames on the line, "
              f"operator GO on the line after {go_delay * 1000:.0f} ms, Alt+B {alt_b * 1000:.0f} ms",
              file=sys.stderr)
        self.assertGreater(rate, 20000)
        self.assertLessEqual(frames, seconds / 0.08 + 3)
        self.assertLess(go_delay, 0.3)
        self.assertLess(alt_b, 0.2)
        app.key("alt+x")
        app.wait_said(["Goodbye"])

    def test_8_a_typed_locator_or_callsign_turns_the_antenna_along_the_great_circle(self):
        sim = Simulator("--speed", "30", "--bearing", "100")
        self.addCleanup(sim.close)
        self.wine.map_com(7, sim.path)
        # The country file in a folder named outside the ANSI code page.
        countries = tempfile.mkdtemp(prefix="rotavox-cty-")
        self.addCleanup(shutil.rmtree, countries, True)
        folder = os.path.join(countries, "\u0420\u0438\u0433\u0430 \u6771\u4eac")
        os.mkdir(folder)
        shutil.copy(os.path.join(WINDOWS_BUILD, "cty.dat"), folder)
        utf8 = {"LC_ALL": "C.UTF-8"}  # so that Wine reads the argument as it is
        app = Program(self.wine, self.display, stat_dat=b'"7",1\r\n', env=utf8,
                      args=["--home", "JO62QM", "--country-file", windows_path(os.path.join(folder, "cty.dat"))])
        self.addCleanup(app.close)
        app.wait_said(["Rotavox Controller ", "Set Com Port"], timeout=30)
        app.wait_window()
        app.key("alt+s")
        app.wait_said(["Started", "On Bearing 1 0 0 ", "", "Enter Bearing"])
        app.type("jn58td l")  # wider than the box: it scrolls
        app.key("Return")
        app.wait_said(["JN58TD long path 0 1 5 , 39528 kilometres", "On bearing 0 1 5 ", "",
                       "Enter Bearing"], timeout=20)
        app.type("abcdefghijklmnopqrstuvwx")  # 20 characters and no more
        app.key("alt+t")
        app.wait_said([" ".join("abcdefghijklmnopqrst") + " ", "", "Enter Bearing"])
        # A callsign, placed by the country file beside the program.
        app.type("ja1xyz")
        app.key("Return")
        app.wait_said(["JA1XYZ Japan short path 0 4 2 , 8790 kilometres", "On bearing 0 4 2 ", "",
                       "Enter Bearing"], timeout=20)
        app.key("alt+x")
        app.wait_said(["Goodbye"])
        # One that is not there is told at start, as a settings file would be.
        missing = Program(self.wine, self.display, stat_dat=b'"7",1\r\n', args=["--country-file", "Z:\\none"])
        self.addCleanup(missing.close)
        missing.wait_said(["Rotavox Controller ", "Country file cannot be read: callsigns will not be found",
                           "Set Com Port"], timeout=30)

    def test_9_the_box_behind_ser2net_then_a_rotator_behind_rotctld_on_linux(self):
        if shutil.which("ser2net") is None or shutil.which("rotctld") is None:
            self.skipTest("ser2net or rotctld (libhamlib-utils) is not installed")
        sim = Simulator("--speed", "30", "--bearing", "10")
        self.addCleanup(sim.close)
        server = Ser2net(sim.path)
        self.addCleanup(server.close)
        port = free_port()
        daemon = subprocess.Popen(["rotctld", "-m", "1", "-T", "127.0.0.1", "-t", str(port)],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: (daemon.kill(), daemon.wait(5)))
        app = Program(self.wine, self.display, stat_dat=f'"127.0.0.1:{server.raw}",1\r\n'.encode())
        self.addCleanup(app.close)
        app.wait_said(["Set Com Port"])
        app.wait_window()

        def turn(start, aim, arrival):
            app.key("alt+s")
            app.wait_said(["Started", start, "", "Enter Bearing"])
            app.type(aim)
            app.key("Return")
            app.wait_said([arrival, "", "Enter Bearing"], timeout=20)
        turn("On Bearing 0 1 0 ", "40", "On bearing 0 4 0 ")
        server.close()
        app.wait_said(["No response from the C BOX", "Connection to 127.0.0.1 lost"], timeout=5)
        # The port box is open again: Hamlib's dummy rotator instead.
        wait_for(lambda: listening(port), 10, "rotctld")
        app.key("alt+c")
        app.wait_said(["Set Com Port"])
        app.type(f"rotctld://127.0.0.1:{port}")
        turn("On Bearing ZERO", "30", "On bearing 0 3 0 ")
        app.key("alt+x")
        app.wait_said(["Goodbye"])
        self.assertEqual(app.proc.wait(20), 0)

    @staticmethod
    def connect(port):
        try:
            return Station(port)
        except ConnectionRefusedError:
            return None


if __name__ == "__main__":
    unittest.main()
