"""The real program under faults: a serial device that vanishes, a line that
floods or garbles, a speech server that hangs or dies, a STAT.DAT that is
anything but a plain one-line file, and a country file that is a FIFO.
Each case checks what the operator hears and what is left on disk."""

import os
import random
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from harness import BUILD, CR, STX, CBox, Display, Rotavox, wait_for  # noqa: E402

PROMPT = ["Rotavox Controller ", "Please set com port", "Set Com Port"]
UNREADABLE = [PROMPT[0], "Settings file STAT.DAT cannot be read and will not be saved", *PROMPT[1:]]


class Fault(unittest.TestCase):
    def setUp(self):
        self.display = Display().__enter__()
        self.addCleanup(self.display.__exit__, None, None, None)
        self.box = CBox()
        self.addCleanup(lambda: self.box.close())
        self.links = tempfile.mkdtemp(prefix="rotavox-links-")
        self.addCleanup(shutil.rmtree, self.links, True)
        self.link = os.path.join(self.links, "cbox")
        os.symlink(self.box.path, self.link)

    def start(self, stat_dat=b'"7",1\r\n', **kw):
        app = Rotavox(self.display, ["--map-port", f"COM7={self.link}"], stat_dat, **kw)
        self.addCleanup(app.close)
        return app

    def linked(self, app, stop_report="A,L,000,0,0", heard=("On Bearing ZERO",)):
        app.wait_window()
        app.key("alt+s")
        self.assertEqual(self.box.frames(2), [STX + b"AM" + CR, STX + b"AL" + CR])
        self.box.send(stop_report)
        app.wait_said([*heard, "", "Enter Bearing"])

    def window(self, name):
        r = subprocess.run(["xdotool", "search", "--name", name], env=self.display.env,
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        return r.stdout.decode().split()

    def close_box(self, caption):
        box = wait_for(lambda: self.window(caption), 15, f"the box {caption!r}")[0]
        self.display.xdotool("windowactivate", "--sync", box)
        self.display.xdotool("key", "Return")
        wait_for(lambda: not self.window(caption), 5, "the box to close")

    def exit(self, app):
        app.wait_window()
        app.key("alt+x")
        self.assertEqual(app.wait_exit(), 0)


class SerialFaults(Fault):
    def test_device_vanishing_mid_turn_alarms_once_and_a_new_start_works(self):
        app = self.start()
        self.linked(app)
        app.type("90")
        app.key("Return")
        self.assertEqual(self.box.frames(1), [STX + b"AG90" + CR])
        self.box.send("A,?,012,B")
        time.sleep(0.3)
        self.box.close()
        lost = time.monotonic()
        app.wait_said(["No response from the C BOX"], timeout=3)
        self.assertLess(time.monotonic() - lost, 1.0)
        cpu = app.cpu_seconds()
        time.sleep(2)
        self.assertLess(app.cpu_seconds() - cpu, 0.1)  # under 5 % of a core
        self.assertEqual(app.said().count("No response from the C BOX"), 1)

        self.box = CBox()  # the device is back, under the same name
        os.symlink(self.box.path, self.link + ".new")
        os.replace(self.link + ".new", self.link)
        app.key("alt+s")
        self.assertEqual(self.box.frames(2), [STX + b"AM" + CR, STX + b"AL" + CR])
        self.box.send("A,L,012,0,0")
        # START took the focus from the GoTo box, so the stop report gives it
        # back with its prompt, as on Windows.
        app.wait_said(["Started", "On Bearing 0 1 2 ", "", "Enter Bearing"])
        self.exit(app)
        self.assertEqual(app.stat_dat(), b'"7",1\r\n')

    def test_a_minute_of_bytes_without_line_ends_neither_grows_nor_stalls(self):
        app = self.start()
        self.linked(app)
        junk = bytes(b for b in range(256) if b not in b"\x02\r?LMS")
        stop = threading.Event()

        def flood():  # four times what 9600 baud carries: a minute's bytes in 15 s
            rng = random.Random(7)
            while not stop.wait(0.1):
                os.write(self.box.master, bytes(rng.choice(junk) for _ in range(4 * 96)))
        flooder = threading.Thread(target=flood)
        flooder.start()
        try:
            time.sleep(3)
            rss = app.rss_kib()
            worst = 0.0
            for _ in range(3):
                time.sleep(4)
                asked = time.monotonic()
                heard = len(app.said())
                app.key("alt+b")
                wait_for(lambda: len(app.said()) > heard, 3, "Alt+B to be answered")
                worst = max(worst, time.monotonic() - asked)
            self.assertLess(worst, 1.0)
            self.assertLess(app.rss_kib() - rss, 5 * 1024)
        finally:
            stop.set()
            flooder.join()
        # The next line end closes a line of flood; the report after it counts.
        self.box.send("A,?,123,R", "A,?,045,B")
        time.sleep(0.5)
        app.key("alt+b")
        app.wait_said(["On bearing 045"])
        self.exit(app)

    def test_crlf_line_ends_and_a_four_digit_azimuth(self):
        app = self.start()
        self.linked(app, "A,L,010,0,0", ["On Bearing 0 1 0 "])
        self.box.send("A,?,1234,R")  # read as 123, busy
        time.sleep(0.3)
        self.box.send("A,?,123,R")
        app.wait_said(["On bearing 1 2 3 ", "", "Enter Bearing"])
        # CR LF: the first reply is read, the LF then spoils the next one.
        os.write(self.box.master, STX + b"A,?,130,B\r\n" + STX + b"A,?,140,R\r\n")
        time.sleep(0.5)
        app.key("alt+b")
        app.wait_said(["On bearing 130"])
        self.assertNotIn("On bearing 1 4 0 ", app.said())
        self.exit(app)

    def test_garbled_simulated_box_never_crashes_the_program(self):
        sim = subprocess.Popen([os.path.join(BUILD, "cbox-sim"), "--garble", "0.05", "--seed", "3",
                                "--speed", "60", "--period", "40"],
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: (sim.terminate(), sim.wait(5), sim.stdout.close()))
        os.replace(self.link, self.link + ".old")
        os.symlink(sim.stdout.readline().decode().strip(), self.link)
        app = self.start()
        app.wait_window()
        for target in ("350", "10", "180", "90"):
            app.key("alt+s")
            time.sleep(0.5)
            app.key("alt+t")
            app.type(target)
            app.key("Return")
            time.sleep(1.5)
            self.assertIsNone(app.proc.poll())
        for caption in ("Com Port Error", "Windows Voice"):
            while self.window(caption):
                self.close_box(caption)
        self.exit(app)


def speechd_processes(home):
    """Server and modules started with the private HOME."""
    pids = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/environ", "rb") as f:
                if f"HOME={home}".encode() in f.read().split(b"\0"):
                    with open(f"/proc/{pid}/comm") as c:
                        pids.append((int(pid), c.read().strip()))
        except OSError:
            pass
    return pids


class SpeechServerFaults(Fault):
    def speechd_env(self):
        for tool in ("speech-dispatcher", "/etc/speech-dispatcher/speechd.conf"):
            if not (shutil.which(tool) or os.path.exists(tool)):
                self.skipTest(f"{tool} is missing")
        d = tempfile.mkdtemp(prefix="rotavox-speechd-")
        home, run = os.path.join(d, "home"), os.path.join(d, "run")
        os.makedirs(os.path.join(home, ".config/speech-dispatcher"))
        os.mkdir(run, 0o700)
        conf = os.path.join(home, ".config/speech-dispatcher/speechd.conf")
        shutil.copy("/etc/speech-dispatcher/speechd.conf", conf)
        with open(conf, "a") as f:
            f.write('\nAudioOutputMethod "alsa"\n')
        with open(os.path.join(home, ".asoundrc"), "w") as f:
            f.write(f'pcm.!default {{ type file slave.pcm "null" file "{d}/out.wav" format "wav" }}\n')

        def stop_all():
            for pid, _ in speechd_processes(home):
                for sig in (signal.SIGCONT, signal.SIGKILL):
                    try:
                        os.kill(pid, sig)
                    except OSError:
                        pass
            shutil.rmtree(d, True)
        self.addCleanup(stop_all)
        return home, dict(HOME=home, XDG_RUNTIME_DIR=run, XDG_CONFIG_HOME=os.path.join(home, ".config"))

    def server_fails_mid_utterance(self, fault):
        home, env = self.speechd_env()
        app = self.start(voice="speechd", env=env)
        app.wait_window(15)
        try:
            procs = wait_for(lambda: dict((c, p) for p, c in speechd_processes(home)).get("speech-dispatch")
                             and speechd_processes(home), 5, "the speech server")
        except AssertionError:
            self.skipTest("speech-dispatcher could not start here")
        # The synthesiser holds the utterance, so it is still being spoken
        # when the server fails.
        modules = [p for p, c in procs if c.startswith("sd_")]
        server = [p for p, c in procs if c == "speech-dispatch"][0]
        for pid in modules:
            os.kill(pid, signal.SIGSTOP)
        asked = time.monotonic()
        app.key("alt+b")  # "On bearing " and the bearing box
        time.sleep(0.5)
        os.kill(server, fault)
        wait_for(lambda: self.window("Windows Voice"), 15, "the no-voice box")
        self.assertLess(time.monotonic() - asked, 5 + 0.2 * len("On bearing 000") + 1.0)
        self.close_box("Windows Voice")
        # The ticks run again: a START reaches the box and its reply is read.
        app.wait_window()
        app.key("alt+s")
        self.assertEqual(self.box.frames(2), [STX + b"AM" + CR, STX + b"AL" + CR])
        self.box.send("A,L,010,0,0")
        cpu = app.cpu_seconds()
        time.sleep(1)
        self.assertLess(app.cpu_seconds() - cpu, 0.2)
        self.assertFalse(self.window("Com Port Error"))
        self.exit(app)
        self.assertEqual(app.stat_dat(), b'"7",0\r\n')

    def test_server_hangs_mid_utterance(self):
        self.server_fails_mid_utterance(signal.SIGSTOP)

    def test_server_dies_mid_utterance(self):
        self.server_fails_mid_utterance(signal.SIGKILL)


class StatDatFaults(Fault):
    def path(self, app):
        return os.path.join(app.dir, "STAT.DAT")

    def test_directory_gives_defaults_and_is_left_alone(self):
        app = self.start(None, prepare=lambda d: os.makedirs(os.path.join(d, "STAT.DAT", "inner")))
        app.wait_said(PROMPT)
        self.exit(app)
        self.assertEqual(os.listdir(self.path(app)), ["inner"])
        self.assertEqual(sorted(os.listdir(app.dir)), ["STAT.DAT", "speech.log"])

    def test_read_only_file_is_loaded_and_left_byte_for_byte(self):
        app = self.start(b'"7",1\r\n', prepare=lambda d: os.chmod(os.path.join(d, "STAT.DAT"), 0o444))
        self.linked(app)
        self.assertEqual(app.said()[:2], [PROMPT[0], PROMPT[2]])  # nothing said of the file
        app.key("alt+v")  # a change that would be saved
        self.exit(app)
        self.assertEqual(app.stat_dat(), b'"7",1\r\n')
        self.assertEqual(stat.S_IMODE(os.stat(self.path(app)).st_mode), 0o444)

    def test_fifo_does_not_block_the_start(self):
        app = self.start(None, prepare=lambda d: os.mkfifo(os.path.join(d, "STAT.DAT")))
        app.wait_said(UNREADABLE)
        self.exit(app)
        self.assertTrue(stat.S_ISFIFO(os.stat(self.path(app)).st_mode))

    def test_empty_file_counts_as_none(self):
        app = self.start(b"")
        app.wait_said(PROMPT)
        self.exit(app)
        self.assertEqual(app.stat_dat(), b'"",1\r\n')

    def test_enormous_file_starts_quickly_with_its_record(self):
        def enormous(d):
            with open(os.path.join(d, "STAT.DAT"), "wb") as f:
                f.write(b'"7",1\r\n')
                f.truncate(100 * 1024 * 1024)
        app = self.start(None, prepare=enormous)
        wait_for(app.said, 10, "the first prompt")
        self.assertLess(time.monotonic() - app.started, 3.0)
        self.linked(app)
        self.exit(app)
        self.assertEqual(app.stat_dat(), b'"7",1\r\n')

    def test_binary_content_does_not_crash(self):
        app = self.start(bytes(random.Random(5).randrange(256) for _ in range(4096)) + b"\0\0")
        app.wait_window()
        time.sleep(1)
        for caption in ("Windows Voice", "Start error"):
            while self.window(caption):
                self.close_box(caption)
        self.exit(app)

    def as_nobody(self):
        """A home, and what runs the program, for the user nobody."""
        if os.geteuid() != 0 or not shutil.which("setpriv"):
            self.skipTest("needs root and setpriv to run the program as nobody")
        probe = subprocess.run(["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups",
                                "test", "-x", os.path.join(BUILD, "rotavox")])
        if probe.returncode != 0:
            self.skipTest("the build is not reachable for nobody")
        os.chmod(self.box.path, 0o666)
        os.chmod(self.links, 0o755)
        home = tempfile.mkdtemp(prefix="rotavox-nobody-")
        self.addCleanup(shutil.rmtree, home, True)
        os.chown(home, 65534, 65534)
        return home, dict(env=dict(HOME=home, XDG_RUNTIME_DIR=home),
                          prefix=["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"])

    def test_another_users_unreadable_file_is_kept_and_the_operator_told(self):
        home, nobody = self.as_nobody()
        app = self.start(b'"7",0\r\n', log=f"{home}/speech.log", **nobody,
                         prepare=lambda d: (os.chmod(f"{d}/STAT.DAT", 0o600), os.chmod(d, 0o777)))
        app.wait_said(UNREADABLE)
        self.exit(app)
        self.assertEqual(app.stat_dat(), b'"7",0\r\n')
        self.assertEqual(os.listdir(app.dir), ["STAT.DAT"])

    def test_another_users_file_that_cannot_be_written_is_kept_and_the_operator_told(self):
        """Root's STAT.DAT of mode 0644 in the operator's own folder: told at
        start (in a box, with speech off, and on stderr), and kept."""
        home, nobody = self.as_nobody()
        app = self.start(b'"7",0\r\n', log=f"{home}/speech.log", **nobody,
                         prepare=lambda d: os.chown(d, 65534, 65534))
        self.close_box("File Error")
        app.wait_window()
        app.key("alt+v")  # a change that would be saved
        self.exit(app)
        self.assertEqual(app.stat_dat(), b'"7",0\r\n')
        self.assertEqual(os.listdir(app.dir), ["STAT.DAT"])
        app.output.seek(0)
        self.assertIn(b"Settings file STAT.DAT cannot be written and will not be saved", app.output.read())

    def test_no_new_record_file_is_left_behind(self):
        """A second signal waits for the save; at start old leftovers go."""
        def leftovers(d):
            for name, age in (("STAT.DAT.0123abcd.new", 70), ("STAT.DAT.00ff.new", 5)):
                open(os.path.join(d, name), "w").close()
                os.utime(os.path.join(d, name), (time.time() - age,) * 2)
        for run in range(20):
            app = self.start(prepare=leftovers)
            app.wait_window()
            app.proc.send_signal(signal.SIGTERM)
            time.sleep(random.Random(run).uniform(0, 0.004))
            app.proc.send_signal(signal.SIGTERM)
            app.wait_exit(5)
            self.assertEqual([f for f in os.listdir(app.dir) if f.endswith(".new")], ["STAT.DAT.00ff.new"])

    def test_read_only_working_directory_as_an_ordinary_user(self):
        """A directory that takes no new file (read-only), or no rename over
        STAT.DAT (sticky, the file another user's): the record is written
        into the file itself, and nothing else is left behind."""
        home, nobody = self.as_nobody()

        def read_only(d):
            os.chown(os.path.join(d, "STAT.DAT"), 65534, 65534)
            os.chown(d, 65534, 65534)
            os.chmod(d, 0o555)

        def sticky(d):
            os.chmod(os.path.join(d, "STAT.DAT"), 0o666)
            os.chmod(d, 0o1777)
        for name, prepare in (("read-only", read_only), ("sticky", sticky)):
            with self.subTest(name):
                app = self.start(b'"7",1\r\n', prepare=prepare, log=f"{home}/{name}.log", **nobody)
                self.linked(app)
                app.key("alt+v")
                self.exit(app)
                self.assertEqual(app.stat_dat(), b'"7",0\r\n')
                self.assertEqual(os.listdir(app.dir), ["STAT.DAT"])

    def test_the_session_ending_under_the_program_saves_as_exit_does(self):
        """SIGTERM, SIGHUP and a lost X display save the settings, even in the
        middle of a long text, with nothing more spoken and no delay."""
        on, off = b'"7",1\r\n', b'"7",0\r\n'
        cases = (("SIGTERM", on, off, None), ("SIGHUP", on, off, None),
                 ("display lost", on, off, None), ("SIGTERM mid-text", off, on, 300))
        for name, before, after, voice_ms in cases:
            with self.subTest(name), Display() as display:
                app = Rotavox(display, stat_dat=before, voice_ms=voice_ms)
                self.addCleanup(app.close)
                app.wait_window()
                time.sleep(0.5)
                app.key("alt+v")
                wait_for(lambda: app.said()[-1:] in (["Voice Off."], ["Voice On."]), 5, "the switch")
                time.sleep(0.5)
                said = app.said()
                ended = time.monotonic()
                if name == "display lost":
                    display.xvfb.kill()
                else:
                    app.proc.send_signal(getattr(signal, name.split()[0]))
                app.wait_exit(5)
                self.assertLess(time.monotonic() - ended, 1.0)
                self.assertEqual(app.stat_dat(), after)
                self.assertEqual(app.said(), said)

class CountryFileFaults(Fault):
    def test_a_fifo_never_holds_up_the_window_or_the_end(self):
        """A FIFO named as the country file, or put in its place later: no
        wait at start or at the first callsign, and SIGTERM still saves."""
        path = os.path.join(self.links, "cty.dat")
        for named in (True, False):
            if named:
                os.mkfifo(path)
            else:
                os.remove(path)
                shutil.copy("/usr/share/hamradio-files/cty.dat", path)
            app = Rotavox(self.display, ["--home", "JO62QM", "--country-file", path], b'"7",1\r\n')
            self.addCleanup(app.close)
            warning = ["Country file cannot be read: callsigns will not be found"] if named else []
            app.wait_said([PROMPT[0], *warning, PROMPT[2]], timeout=5)
            if not named:
                os.remove(path)
                os.mkfifo(path)
            app.wait_window()
            app.key("alt+t")
            app.type("ja1xyz")
            app.key("Return", "alt+v")
            app.wait_said(["No country file", "Voice Off."], timeout=3)
            app.proc.send_signal(signal.SIGTERM)
            self.assertEqual(app.wait_exit(5), -signal.SIGTERM)
            self.assertEqual(app.stat_dat(), b'"7",0\r\n')


if __name__ == "__main__":
    result = unittest.main(exit=False).result
    if not result.wasSuccessful():
        sys.exit(1)
    sys.exit(77 if result.testsRun and len(result.skipped) == result.testsRun else 0)
