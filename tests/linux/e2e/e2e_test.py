"""The real program in a real window, driven as an operator drives it: keys
typed with xdotool, the C BOX played on a pseudo-terminal, speech read from
the log voice, beeps counted on the X display."""

import os
import shutil
import socket
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from harness import (BUILD, CBox, DelayProxy, Display, Rotavox, Ser2net, Simulator,  # noqa: E402
                     seconds_to_answer, unanswering_port, wait_for)


class Session(unittest.TestCase):
    def setUp(self):
        self.display = Display().__enter__()
        self.addCleanup(self.display.__exit__, None, None, None)
        self.box = CBox()
        self.addCleanup(self.box.close)

    def start(self, stat_dat=None, args=()):
        app = Rotavox(self.display, ["--map-port", f"COM7={self.box.path}", *args], stat_dat)
        self.addCleanup(app.close)
        return app

    def test_the_road_of_one_go_by_keyboard(self):
        app = self.start()
        app.wait_said(["Rotavox Controller ", "Please set com port", "Set Com Port"])
        app.wait_window()
        app.type("7")
        app.wait_said(["7"])

        app.key("alt+s")  # START
        self.assertEqual(self.box.frames(2), [b"\x02AM\r", b"\x02AL\r"])
        app.wait_said(["Started"])
        self.box.send("A,M,R", "A,L,10,0,1")
        app.wait_said(["On Bearing 0 1 0 ", "", "Enter Bearing"])

        app.type("90")
        app.wait_said(["9 ", "9 0 "])
        app.key("Return")
        self.assertEqual(self.box.frames(1), [b"\x02AG90\r"])

        bells = self.display.count_bells()
        for bearing in (12, 30, 33, 60, 89):
            self.box.send(f"A,?,{bearing:03},B")
            time.sleep(0.1)
        self.box.send("A,?,090,R")
        app.wait_said(["On bearing 0 9 0 ", "", "Enter Bearing"])
        wait_for(lambda: self.display.count_bells() - bells >= 3, 3, "three beeps")
        time.sleep(0.3)
        self.assertEqual(self.display.count_bells() - bells, 3)

        app.key("alt+b")
        app.wait_said(["On bearing 090"])
        self.display.screenshot("rotavox-on-bearing-090.png")

        app.key("alt+x")  # EXIT
        app.wait_said(["Goodbye"])
        self.assertEqual(app.wait_exit(), 0)
        self.assertEqual(app.stat_dat(), b'"7",1\r\n')
        self.assertEqual(self.box.frames(0), [])

    def test_silent_box_raises_the_alarm_after_about_four_seconds(self):
        app = self.start(stat_dat=b'"7",1\r\n')
        app.wait_said(["Set Com Port"])
        app.wait_window()
        app.key("alt+s")
        app.wait_said(["Started"])
        started = time.monotonic()
        app.wait_said(["No response from the C BOX"], timeout=10)
        elapsed = time.monotonic() - started
        self.assertGreater(elapsed, 3.5)
        self.assertLess(elapsed, 6.0)
        # START is enabled again: a second START sends the frames again.
        self.box.frames(2)
        app.key("alt+s")
        self.assertEqual(self.box.frames(2), [b"\x02AM\r", b"\x02AL\r"])

    def test_voice_off_shows_the_alarm_box_and_saves_speech_off(self):
        app = self.start(stat_dat=b'"7",0\r\n')
        app.wait_window()
        app.key("alt+s")
        box = wait_for(lambda: self._window("Com Port Error"), 10, "the alarm box")
        self.assertTrue(box)
        self.assertEqual(app.said(), [])
        self.display.screenshot("rotavox-alarm-box.png")
        self.display.xdotool("windowactivate", "--sync", box.split()[0])
        self.display.xdotool("key", "Return")
        wait_for(lambda: not self._window("Com Port Error"), 5, "the box to close")
        app.wait_window()
        app.key("alt+x")
        self.assertEqual(app.wait_exit(), 0)
        self.assertEqual(app.stat_dat(), b'"7",0\r\n')

    def test_page_up_held_steps_clockwise_and_letting_go_speaks(self):
        app = self.start(stat_dat=b'"7",1\r\n')
        app.wait_window()
        app.key("alt+s")
        self.box.frames(2)
        self.box.send("A,L,100,0,0")
        app.wait_said(["On Bearing 1 0 0 ", "", "Enter Bearing"])
        self.display.xdotool("keydown", "Page_Up")
        time.sleep(0.5)
        self.display.xdotool("keyup", "Page_Up")
        app.wait_said(["On Bearing 1 0 0 "])
        frames = self.box.frames(2)
        self.assertEqual(set(frames), {b"\x02AG102\r"})

    def test_exit_while_the_alarm_box_is_open_ends_once_it_is_closed(self):
        app = self.start(stat_dat=b'"7",0\r\n')
        app.wait_window()
        app.key("alt+s")
        box = wait_for(lambda: self._window("Com Port Error"), 10, "the alarm box").split()[0]
        self.display.xdotool("windowactivate", "--sync", app.window)
        app.key("alt+x")
        time.sleep(0.5)
        self.assertIsNone(app.proc.poll())  # the box's loop is still running
        self.display.xdotool("windowactivate", "--sync", box)
        self.display.xdotool("key", "Return")
        self.assertEqual(app.wait_exit(), 0)
        self.assertEqual(app.stat_dat(), b'"7",0\r\n')

    def test_storms_of_keys_and_a_preset_too_long_never_bury_the_operator(self):
        def presets(folder):
            with open(os.path.join(folder, "PRESETS.TXT"), "wb") as f:
                f.write(b'1,"90"\r\n2,"180"\r\n3,"' + b"9" * 60000 + b'"\r\n')
        app = Rotavox(self.display, ["--map-port", f"COM7={self.box.path}"], b'"7",1\r\n', voice_ms=40,
                      prepare=presets)
        self.addCleanup(app.close)
        app.wait_window()
        app.key("alt+s")
        self.box.frames(2)
        self.box.send("A,L,10,0,1")
        app.wait_said(["On Bearing 0 1 0 ", "", "Enter Bearing"])
        app.key("ctrl+3")  # no frame could carry it
        app.wait_said(["Preset 3 empty: too long"])
        self.assertEqual(self.box.frames(0), [])

        def storm(keys, delay_ms, bearing="010"):
            """The keys, then Alt+B at once: what was said, and how long
            Alt+B took to be answered. xdotool waits `delay_ms` after each
            key and each modifier it presses: 20 for Ctrl with a key, 13
            for Ctrl+Shift with one, make 25 keys a second."""
            heard = len(app.said())
            self.display.xdotool("key", "--delay", str(delay_ms), *keys)
            answer = seconds_to_answer(self.display, app, "alt+b", "On bearing " + bearing, timeout=30)
            time.sleep(1)  # a last key of the storm acts once it is over
            return app.said()[heard:], answer

        # 100 recalls at 25 a second: at most two heard and sent, the last
        # one being the last key's.
        said, answer = storm(["ctrl+1", "ctrl+2"] * 50, 20)
        recalls = [t for t in said if t.startswith("Preset ")]
        frames = self.box.frames(len(recalls))
        time.sleep(0.3)
        frames += self.box.all_frames()
        print(f"recall storm: {len(recalls)} recalls, {len(frames)} frames, Alt+B after {answer:.2f} s",
              file=sys.stderr)
        self.assertIn(len(recalls), (1, 2))
        self.assertEqual(recalls[-1], "Preset 2 1 8 0 ")
        self.assertEqual(frames[-1], b"\x02AG180\r")
        self.assertEqual(len(frames), len(recalls))
        # The words of one recall at most stand before Alt+B's.
        self.assertLess(answer, 1.5)
        # 100 stores of one preset: at most two writes, each said once.
        app.key("alt+t")
        app.type("45")
        said, _ = storm(["ctrl+shift+4"] * 100, 13)
        self.assertIn(len([t for t in said if t == "Preset 4 set to 0 4 5 "]), (1, 2))
        with open(os.path.join(app.dir, "PRESETS.TXT"), "rb") as f:
            self.assertIn(b'\r\n4,"45"\r\n', f.read())
        # 200 Escapes while turning: one stop.
        self.box.send("A,?,100,B")
        time.sleep(0.3)
        storm(["Escape"] * 200, 10, bearing="100")
        self.assertEqual(self.box.all_frames(), [b"\x02AG100\r"])

    def _window(self, name):
        r = subprocess.run(["xdotool", "search", "--name", name], env=self.display.env,
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        return r.stdout.decode().strip()


class Simulated(unittest.TestCase):
    def test_simulated_box_turns_arrives_stops_and_keeps_presets(self):
        with Display() as display:
            app = Rotavox(display, ["--simulate"], stat_dat=b'"1",1\r\n')
            try:
                app.wait_window()
                app.key("alt+s")
                app.wait_said(["On Bearing ZERO", "", "Enter Bearing"])
                app.type("12")
                app.key("Return")
                app.wait_said(["On bearing 0 1 2 ", "", "Enter Bearing"], timeout=8)
                # Presets by the digit keys' places: stored from the bearing
                # and from the GoTo box, written beside STAT.DAT.
                app.key("ctrl+shift+1")
                app.wait_said(["Preset 1 set to 0 1 2 "])
                app.type("300")
                app.key("ctrl+shift+2")
                app.wait_said(["Preset 2 set to 3 0 0 "])
                with open(os.path.join(app.dir, "PRESETS.TXT"), "rb") as f:
                    self.assertTrue(f.read().endswith(b'\r\n1,"12"\r\n2,"300"\r\n'))
                # Recalled, and stopped mid-turn with Escape: the arrival
                # is where the box stopped.
                app.key("ctrl+2")
                app.wait_said(["Preset 2 3 0 0 "])
                time.sleep(1.5)
                app.key("Escape")
                wait_for(lambda: app.said()[-3].startswith("On bearing "), 5, "the stop's arrival")
                stopped = int(app.said()[-3][len("On bearing "):].replace(" ", ""))
                self.assertTrue(12 < stopped < 60, stopped)
                app.key("ctrl+KP_1")
                app.wait_said(["Preset 1 0 1 2 ", "On bearing 0 1 2 ", "", "Enter Bearing"], timeout=8)
                # Escape stops a turn at once, before the box has said it
                # turns: the antenna stays where it was.
                for delay in ("0.03", "0.1", "0.2"):
                    app.type("200")
                    app.wait_said(["2 0 0 "])
                    display.xdotool("key", "Return", "sleep", delay, "key", "Escape")
                    time.sleep(1)
                    app.key("alt+b")
                    app.wait_said(["On bearing 012"])
                    app.key("alt+t")
                    app.wait_said(["", "Enter Bearing"])
                app.key("alt+x")
                self.assertEqual(app.wait_exit(), 0)
            finally:
                app.close()


    def test_a_typed_locator_or_callsign_turns_the_antenna_along_the_great_circle(self):
        with Display() as display:
            app = Rotavox(display, ["--simulate", "--home", "JO62QM"], stat_dat=b'"1",1\r\n')
            try:
                app.wait_window()
                app.key("alt+s")
                app.wait_said(["On Bearing ZERO", "", "Enter Bearing"])
                # The box takes 20 characters and no more.
                app.type("abcdefghijklmnopqrstuvwx")
                app.key("alt+t")
                app.wait_said([" ".join("abcdefghijklmnopqrst") + " ", "", "Enter Bearing"])
                # The long path to Munich from Berlin, then a callsign placed
                # by Debian's country file: said once, after the echo.
                for typed, bearing, announcement in (
                        ("jn58td l", "0 1 5 ", "JN58TD long path 0 1 5 , 39528 kilometres"),
                        ("ja1xyz", "0 4 2 ", "JA1XYZ Japan short path 0 4 2 , 8790 kilometres")):
                    app.type(typed)
                    app.key("Return")
                    app.wait_said([f"On bearing {bearing}", "", "Enter Bearing"], timeout=15)
                    said = app.said()
                    self.assertEqual(said.count(announcement), 1)
                    self.assertLess(said.index(" ".join(typed) + " "), said.index(announcement))
                app.key("alt+a")
                app.wait_said(["Along 0 4 2 : Latvia, Estonia, Finland, Asiatic Russia, DPR of Korea, "
                               "Republic of Korea, Japan, Ogasawara"])
                app.key("alt+x")
                self.assertEqual(app.wait_exit(), 0)
            finally:
                app.close()


class NetworkLine(unittest.TestCase):
    """The box's line through Debian's ser2net, on its raw accepter and on
    its telnet accepter with RFC 2217; through a slow network; and to
    addresses that reach nothing."""

    def setUp(self):
        if shutil.which("ser2net") is None:
            self.skipTest("ser2net is not installed")
        self.display = Display().__enter__()
        self.addCleanup(self.display.__exit__, None, None, None)
        self.sim = Simulator("--speed", "90", "--period", "100", "--bearing", "5")
        self.addCleanup(self.sim.close)
        self.ser2net = Ser2net(self.sim.path)
        self.addCleanup(self.ser2net.close)

    def start(self, port_text, heard=("Started", "On Bearing 0 0 5 ", "", "Enter Bearing"), args=()):
        app = Rotavox(self.display, list(args), stat_dat=f'"{port_text}",1\r\n'.encode())
        self.addCleanup(app.close)
        app.wait_window()
        app.key("alt+s")
        app.wait_said(list(heard))
        return app

    def go(self, app, bearing, timeout=10):
        app.type(str(bearing))
        app.key("Return")
        app.wait_said([f"On bearing {' '.join(f'{bearing:03}')} ", "", "Enter Bearing"], timeout=timeout)

    def alarm_after(self, app, reason, timeout):
        began = time.monotonic()
        app.wait_said(["No response from the C BOX", reason], timeout=timeout)
        return time.monotonic() - began

    def test_raw_accepter_turns_and_a_dropped_connection_alarms_at_once(self):
        # --simulate (whose box starts at 0) never takes a network address.
        app = self.start(f"127.0.0.1:{self.ser2net.raw}", args=["--simulate"])
        self.go(app, 90)
        self.ser2net.close()
        self.assertLess(self.alarm_after(app, "Connection to 127.0.0.1 lost", 5), 1.0)
        # The Com Port box is open again: a corrected address, which
        # nothing serves now, is refused, and said so after the usual wait.
        app.key("alt+c")
        app.wait_said(["Set Com Port"])
        app.type(f"localhost:{self.ser2net.raw}")
        app.key("alt+s")
        app.wait_said(["Started"])
        waited = self.alarm_after(app, "Connection refused by localhost", 10)
        self.assertTrue(3.0 < waited < 6.0, waited)
        # Printed just after it is said.
        wait_for(lambda: b"rotavox: Connection refused by localhost" in app.printed(), 2, "the reason on stderr")

    def test_telnet_accepter_sets_the_line_and_turns(self):
        # ser2net opens the device as 4800 baud, even parity, 7 bits, 2 stop
        # bits: the COM port option must set 9600 8N1.
        self.ser2net.close()
        self.ser2net = Ser2net(self.sim.path, telnet_line="4800e72")
        self.addCleanup(self.ser2net.close)
        app = self.start(f"RFC2217://[::1]:{self.ser2net.telnet}")
        line = subprocess.run(["stty", "-a", "-F", self.sim.path], stdout=subprocess.PIPE, text=True).stdout.split()
        self.assertLessEqual({"9600", "cs8", "-parenb", "-cstopb"}, set(line), line)
        self.go(app, 45)
        self.go(app, 10)

    def test_a_slow_network_still_arrives_once_and_raises_no_alarm(self):
        proxy = DelayProxy(self.ser2net.raw, 0.3)
        self.addCleanup(proxy.close)
        app = self.start(f"127.0.0.1:{proxy.port}")
        self.go(app, 90, timeout=15)
        time.sleep(1)
        self.assertEqual(app.said().count("On bearing 0 9 0 "), 1)
        self.assertNotIn("No response from the C BOX", app.said())

    def test_a_host_that_does_not_answer_leaves_the_window_answering(self):
        app = self.start(f"127.0.0.1:{unanswering_port(self.addCleanup)}", heard=("Started",))
        answers = [seconds_to_answer(self.display, app, "alt+b", "On bearing ") for _ in range(3)]
        self.alarm_after(app, "No answer from 127.0.0.1", 10)
        # The connection still under way was abandoned without a wait.
        answers.append(seconds_to_answer(self.display, app, "alt+b", "On bearing "))
        self.assertLess(max(answers), 1.0, answers)


class CommandLine(unittest.TestCase):
    def run_rotavox(self, *args):
        env = dict(os.environ)
        env.pop("DISPLAY", None)
        return subprocess.run([os.path.join(BUILD, "rotavox"), *args], env=env, timeout=10,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def test_help_version_and_errors_need_no_display(self):
        help_run = self.run_rotavox("--help")
        self.assertEqual(help_run.returncode, 0)
        self.assertIn(b"--simulate", help_run.stdout)
        self.assertIn(b"Page Up", help_run.stdout)
        version = self.run_rotavox("--version")
        self.assertEqual(version.stdout, b"Rotavox Controller v1.03 for Prosistel C BOX\n")
        bad = self.run_rotavox("--fast")
        self.assertEqual(bad.returncode, 2)
        self.assertIn(b"unknown option --fast", bad.stderr)
        bad_map = self.run_rotavox("--map-port", "COM7")
        self.assertEqual(bad_map.returncode, 2)

    def test_every_usage_error_exits_2_with_a_message_and_no_display(self):
        env = dict(os.environ)
        for name in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"):
            env.pop(name, None)
        cases = (  # arguments, exit status, what stdout or stderr says
            (["-h"], 0, b"Usage: rotavox"),
            (["-platform", "offscreen", "-reverse", "--version"], 0, b"Rotavox Controller v1.03"),
            (["-x"], 2, b"unknown option -x"),
            (["-display"], 2, b"-display needs a value"),
            (["--voice", "bogus"], 2, b'unknown voice "bogus"'),
            (["--voice", "log:"], 2, b"needs a file name"),
            (["--rotctld", "1.2.3.4.5:4533"], 2, b"--rotctld needs"),
            (["--rotctld", "4533", "--rotctld", "4534"], 2, b"--rotctld given twice"),
            (["--udp", "300.1.1.1:12040"], 2, b"--udp needs"),
            (["-display", ":1", "--simulate=yes"], 2, b"--simulate takes no value"),
            (["--home", "JO62Q"], 2, b"--home needs a grid locator"),
            (["--call", "DL1 ABC"], 2, b"--call needs your callsign"),
            (["--follow"], 2, b"--follow needs --wsjtx"),
            (["--wsjtx", "2237", "--wsjtx", "2238"], 2, b"--wsjtx may be given only once"),
            (["--rotctld", "10.9.9.9:4533"], 1, b"--rotctld: cannot listen on 10.9.9.9:4533"),
        )
        # WSJT-X's port, taken by another program without sharing it.
        taken = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.addCleanup(taken.close)
        taken.bind(("127.0.0.1", 0))
        port = taken.getsockname()[1]
        cases += ((["--wsjtx", str(port)], 1, f"--wsjtx: cannot listen on 127.0.0.1:{port}".encode()),)
        for args, status, message in cases:
            with self.subTest(args=args):
                run = subprocess.run([os.path.join(BUILD, "rotavox"), *args], env=env, timeout=10,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                self.assertEqual(run.returncode, status, run.stderr)
                self.assertIn(message, run.stdout if status == 0 else run.stderr)
                self.assertNotIn(b"could not connect to display", run.stderr)


if __name__ == "__main__":
    unittest.main()
