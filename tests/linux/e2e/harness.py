"""End-to-end harness: a virtual X display with a window manager, a
pseudo-terminal that plays the C BOX, and the real rotavox program with its
speech going to a log file. Standard library only."""

import os
import pty
import queue
import select
import shutil
import signal
import socket
import subprocess
import tempfile
import termios
import threading
import time
import tty

BUILD = os.environ.get("ROTAVOX_BUILD_DIR", os.path.join(os.path.dirname(__file__), "../../../build"))
BUILD = os.path.abspath(BUILD)
ARTIFACTS = os.path.join(BUILD, "artifacts")
STX, CR = b"\x02", b"\r"


def wait_for(predicate, timeout, what):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(0.02)
    raise AssertionError(f"timed out after {timeout} s waiting for {what}")


def seconds_to_answer(display, app, key, text, timeout=5):
    """Presses key and returns how long the program took to say text."""
    heard = len(app.said())
    pressed = time.monotonic()
    display.xdotool("key", key)
    wait_for(lambda: text in app.said()[heard:], timeout, key)
    return time.monotonic() - pressed


class Display:
    """Xvfb on a free display number, with openbox and a bell watcher; or,
    for another program to run on, a bare screen of the given size."""

    def __init__(self, screen="1024x768x24", bare=False):
        self.size, self.bare = screen, bare

    def __enter__(self):
        read_fd, write_fd = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", self.size, "-nolisten", "tcp"],
            pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_fd)
        number = b""
        while not number.endswith(b"\n"):
            ready, _, _ = select.select([read_fd], [], [], 10)
            if not ready:
                raise AssertionError("Xvfb did not start")
            chunk = os.read(read_fd, 16)
            if not chunk:
                raise AssertionError("Xvfb ended at start")
            number += chunk
        os.close(read_fd)
        self.env = dict(os.environ, DISPLAY=":" + number.decode().strip(), QT_QPA_PLATFORM="xcb")
        self.env.pop("WAYLAND_DISPLAY", None)
        if self.bare:
            self.bells = self.wm = None
            return self
        self.wm = subprocess.Popen(["openbox", "--sm-disable"], env=self.env,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.bells = subprocess.Popen([os.path.join(BUILD, "bell_watch")], env=self.env,
                                      stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        assert self.bells.stdout.readline().strip() == b"ready"
        os.set_blocking(self.bells.stdout.fileno(), False)
        self.bell_count = 0
        time.sleep(0.3)  # let the window manager take the screen
        return self

    def count_bells(self):
        while True:
            try:
                line = self.bells.stdout.readline()
            except BlockingIOError:
                break
            if not line:
                break
            self.bell_count += line.strip() == b"bell"
        return self.bell_count

    def xdotool(self, *args):
        return subprocess.run(["xdotool", *args], env=self.env, check=True,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=20).stdout.decode()

    def screenshot(self, name):
        os.makedirs(ARTIFACTS, exist_ok=True)
        path = os.path.join(ARTIFACTS, name)
        subprocess.run(["import", "-window", "root", path], env=self.env, check=True, timeout=20)
        return path

    def __exit__(self, *exc):
        procs = [p for p in (self.bells, self.wm, self.xvfb) if p is not None]
        for p in procs:
            if p.poll() is None:
                p.terminate()
        for p in procs:
            try:
                p.wait(5)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait(5)
        if self.bells is not None:
            self.bells.stdout.close()


class CBox:
    """The far end of a pseudo-terminal, played by the test."""

    def __init__(self):
        self.master, self.slave = pty.openpty()
        tty.setraw(self.slave)
        self.path = os.ttyname(self.slave)
        os.close(self.slave)  # the program opens it by its path
        self.received = b""

    def frames(self, count, timeout=5):
        """Waits for `count` frames (STX ... CR) from the program."""
        def enough():
            self._read()
            return self.received.count(CR) >= count
        wait_for(enough, timeout, f"{count} frames (got {self.received!r})")
        out = []
        for _ in range(count):
            frame, _, self.received = self.received.partition(CR)
            out.append(frame + CR)
        return out

    def all_frames(self):
        """Every complete frame received so far."""
        self._read()
        return self.frames(self.received.count(CR))

    def _read(self):
        while True:
            ready, _, _ = select.select([self.master], [], [], 0)
            if not ready:
                return
            try:
                chunk = os.read(self.master, 4096)
            except OSError:
                return
            if not chunk:
                return
            self.received += chunk

    def send(self, *lines):
        for line in lines:
            os.write(self.master, STX + line.encode() + CR)

    def close(self):
        try:
            os.close(self.master)
        except OSError:
            pass


class Rotavox:
    """The program, run in a fresh working directory with a log voice."""

    def __init__(self, display, args=(), stat_dat=None, voice_ms=None, *,
                 prepare=None, voice=None, log=None, env=None, prefix=()):
        """`prepare(dir)` runs before the start; `voice` replaces the log
        voice, `log` moves its file, `env` is added to the display's
        environment and `prefix` comes before the program (setpriv ...)."""
        self.dir = tempfile.mkdtemp(prefix="rotavox-e2e-")
        self.log = log or os.path.join(self.dir, "speech.log")
        if stat_dat is not None:
            with open(os.path.join(self.dir, "STAT.DAT"), "wb") as f:
                f.write(stat_dat)
        if prepare is not None:
            prepare(self.dir)
        if voice is None:
            voice = f"log:{self.log}" + (f":{voice_ms}" if voice_ms else "")
        # What the program prints goes to a file, which (unlike a pipe that
        # nobody reads) can never fill up and stop it.
        self.output = tempfile.TemporaryFile()
        self.started = time.monotonic()
        self.proc = subprocess.Popen([*prefix, os.path.join(BUILD, "rotavox"), "--voice", voice, *args],
                                     cwd=self.dir, env=dict(display.env, **(env or {})),
                                     stdout=self.output, stderr=subprocess.STDOUT)
        self.display = display
        self.window = None

    def said(self):
        try:
            with open(self.log, "rb") as f:
                data = f.read().decode("utf-8")
        except FileNotFoundError:
            return []
        return data.split("\n")[:-1]

    def wait_said(self, expected, timeout=10):
        """Waits until the spoken lines end with `expected` (a list)."""
        wait_for(lambda: self.said()[-len(expected):] == expected, timeout,
                 f"speech {expected!r}, heard {self.said()!r}")

    def wait_window(self, timeout=10, by_pid=False):
        """Activates the program's window; `by_pid` finds this program's
        own where two run on the display."""
        out = wait_for(lambda: self._search(by_pid), timeout, "the window")
        self.window = out.split()[0]
        self.display.xdotool("windowactivate", "--sync", self.window)
        return self.window

    def _search(self, by_pid=False):
        pid = ["--all", "--pid", str(self.proc.pid)] if by_pid else []
        r = subprocess.run(["xdotool", "search", *pid, "--name", "Rotavox Controller"], env=self.display.env,
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        return r.stdout.decode().strip()

    def key(self, *keys):
        self.display.xdotool("key", "--clearmodifiers", "--delay", "60", *keys)

    def type(self, text):
        self.display.xdotool("type", "--delay", "80", text)

    def wait_exit(self, timeout=10):
        return self.proc.wait(timeout)

    def stat_dat(self):
        with open(os.path.join(self.dir, "STAT.DAT"), "rb") as f:
            return f.read()

    def printed(self):
        """What the program has printed so far, stdout and stderr."""
        self.output.seek(0)
        return self.output.read()

    def cpu_seconds(self):
        """User and system CPU time used so far, from /proc."""
        with open(f"/proc/{self.proc.pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    def rss_kib(self):
        """Resident set size in KiB, from /proc."""
        with open(f"/proc/{self.proc.pid}/status") as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
        raise AssertionError("no VmRSS")

    def close(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.output.close()
        shutil.rmtree(self.dir, ignore_errors=True)


class Simulator:
    """cbox-sim on a pseudo-terminal of its own, with its options."""

    def __init__(self, *args):
        self.proc = subprocess.Popen([os.path.join(BUILD, "cbox-sim"), *args],
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.path = self.proc.stdout.readline().decode().strip()
        assert self.path.startswith("/dev/"), self.path

    def close(self):
        self.proc.terminate()
        self.proc.wait(10)
        self.proc.stdout.close()


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def listening(port, host="127.0.0.1"):
    try:
        socket.create_connection((host, port), timeout=1).close()
        return True
    except OSError:
        return False


def unanswering_port(cleanups):
    """A loopback port where connecting stays under way: its listener's one
    queue place is taken, so every new connection's first packet is
    dropped. `cleanups` takes what closes it."""
    full = socket.create_server(("127.0.0.1", 0), backlog=0)
    taken = socket.create_connection(full.getsockname())
    cleanups(full.close)
    cleanups(taken.close)
    return full.getsockname()[1]


class Ser2net:
    """Debian's ser2net in front of a device, in the foreground: a raw TCP
    accepter on 127.0.0.1 and a telnet one with RFC 2217 on ::1. The device
    is opened only while a client is connected."""

    def __init__(self, device, telnet_line="9600n81", options=()):
        self.raw, self.telnet = free_port(), free_port()
        self.dir = tempfile.mkdtemp(prefix="rotavox-ser2net-")
        config = os.path.join(self.dir, "ser2net.yaml")
        with open(config, "w") as f:
            for name, accepter, line in (("raw", f"tcp,127.0.0.1,{self.raw}", "9600n81"),
                                         ("telnet", f"telnet(rfc2217),tcp,::1,{self.telnet}", telnet_line)):
                f.write(f"connection: &{name}\n  accepter: {accepter}\n"
                        f"  connector: serialdev,{device},{line},local\n"
                        "  options:\n    kickolduser: true\n" + "".join(f"    {o}\n" for o in options))
        self.log = open(os.path.join(self.dir, "stderr"), "wb")
        self.proc = subprocess.Popen(["ser2net", "-n", "-d", "-c", config], stdout=self.log, stderr=self.log)
        for port, host in ((self.raw, "127.0.0.1"), (self.telnet, "::1")):
            wait_for(lambda: listening(port, host), 10, f"ser2net on port {port}")

    def close(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait(10)
        self.log.close()
        shutil.rmtree(self.dir, ignore_errors=True)


class DelayProxy:
    """A TCP proxy to a loopback port that holds every byte `delay` seconds
    each way, in order, as a slow network would."""

    def __init__(self, target_port, delay):
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        threading.Thread(target=self._accept, args=(target_port, delay), daemon=True).start()

    def _accept(self, target_port, delay):
        while True:
            try:
                near, _ = self.listener.accept()
            except OSError:
                return
            far = socket.create_connection(("127.0.0.1", target_port))
            for source, sink in ((near, far), (far, near)):
                held = queue.Queue()
                threading.Thread(target=self._hold, args=(source, held, delay), daemon=True).start()
                threading.Thread(target=self._deliver, args=(held, sink), daemon=True).start()

    @staticmethod
    def _hold(source, held, delay):
        data = b"-"
        while data:
            try:
                data = source.recv(4096)
            except OSError:
                data = b""
            held.put((time.monotonic() + delay, data))

    @staticmethod
    def _deliver(held, sink):
        data = b"-"
        while data:
            due, data = held.get()
            time.sleep(max(0.0, due - time.monotonic()))
            try:
                sink.sendall(data) if data else sink.shutdown(socket.SHUT_WR)
            except OSError:
                return

    def close(self):
        self.listener.close()
