"""The Orca screen reader running beside the program under test, with a record
of who said what and when.

A desktop private to one test: Xvfb with openbox (harness.Display), its own
D-Bus session bus, AT-SPI bus and registry daemon, its own speech-dispatcher
server and Orca with a fresh HOME. Nothing is shared with the machine's own
session and everything is stopped at the end.

No sound card is needed: the server's only output module is sd_generic,
whose synthesis command is a small script that logs the start and end of
each text and sleeps for as long as espeak-ng would take to say it. Between
the clients and the server a logging proxy records, per connection, the
client name, the priority, each text with the time it was queued, and the
server's BEGIN / END / CANCEL notifications. The two logs together give
each utterance's queue, start and end times.

    with OrcaDesktop() as desk:                 # Orca up and listening
        with desk.listen(["focus:"], app="rotavox") as events:
            desk.spawn([binary, "--voice", "speechd"], cwd=workdir)
            desk.wait_utterance("rotavox", "Set Com Port", state="ended")
            events.wait(lambda e: e.type.startswith("focus"))
        print(desk.timeline())
        tree = desk.accessible_app("rotavox")   # role, name, states, children

Each utterance is an `Utterance` (client, priority, text, queued_at,
began_at, ended_at, cancelled, ...); times are time.monotonic() seconds, the
clock every process on the machine shares. pyatspi binds to the bus it finds
at import time and runs a GLib main loop, so everything that reads AT-SPI
runs in a child process of this same file (`python3 orca_rig.py --atspi ...`)
started with the rig's environment.

Run directly, `python3 orca_rig.py --atspi tree APP` or `... events APP TYPE...`
is that child; nobody needs to call it by hand.
"""

import collections
import dataclasses
import html
import json
import os
import re
import select
import selectors
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

SYSTEM_PYTHON = "/usr/bin/python3"  # where Debian's pyatspi, gi and Orca live
MARK = "ROTAVOX_ORCA_RIG"  # set in every child's environment; identifies our processes
ORCA_READY_TEXT = "Screen reader on"


NEEDED_TOOLS = ("orca", "speech-dispatcher", "espeak-ng", "Xvfb", "openbox", "dbus-daemon", "dbus-send")
NEEDED_FILES = ("/usr/libexec/at-spi-bus-launcher", "/usr/libexec/at-spi2-registryd",
                "/usr/lib/speech-dispatcher-modules/sd_generic")


def missing():
    """What the rig needs and this machine lacks."""
    return [p for p in NEEDED_TOOLS if shutil.which(p) is None] + \
        [p for p in NEEDED_FILES if not os.path.exists(p)]


def child_python():
    return SYSTEM_PYTHON if os.path.exists(SYSTEM_PYTHON) else sys.executable


def plain_text(ssml):
    """The words of an SSML or plain text: tags removed, entities decoded."""
    return html.unescape(re.sub(r"<[^>]*>", "", ssml))


def _match_key(text):
    """What two renderings of one text have in common once the server's
    symbol processing and SSML have been through it: letters and digits."""
    return re.sub(r"[\W_]+", "", plain_text(text)).lower()


def copy_built(path, dest_dir, timeout=900, settle=1.0):
    """Copies a build output that another build may be rewriting: waits until
    it exists and has not changed for `settle` seconds, copies it, and tries
    again if it changed during the copy. Returns the copy's path."""
    deadline = time.monotonic() + timeout
    while True:
        try:
            st = os.stat(path)
            time.sleep(settle)
            if os.stat(path)[6:] == st[6:] and st.st_size > 0 and os.access(path, os.X_OK):
                dest = os.path.join(dest_dir, os.path.basename(path))
                shutil.copy2(path, dest + ".part")
                with open(dest + ".part", "rb") as f:
                    elf = f.read(4) == b"\x7fELF"
                if elf and os.stat(path)[6:] == st[6:] and os.path.getsize(dest + ".part") == st.st_size:
                    os.replace(dest + ".part", dest)
                    return dest
                os.unlink(dest + ".part")
        except FileNotFoundError:
            pass
        if time.monotonic() > deadline:
            raise AssertionError(f"{path} did not appear (or kept changing) within {timeout} s")
        time.sleep(1.0)


def _within(short, long):
    """Whether `short` is `long` with letters taken out (in order)."""
    rest = iter(long)
    return all(c in rest for c in short)


def _pick(found, taken, start, near=0.5):
    """Which utterance a run of the synthesis script spoke. The candidates
    were queued before it started and not cancelled before it started. The
    server's symbol processing rewords punctuation ("Com Port:" reaches the
    synthesiser as "Com Port colon:"), so the letters and digits of the
    candidate's text must equal the run's, or failing that appear in them in
    order. Of those, the one whose BEGIN notification came nearest the start
    (several clients can say the same word, and a higher priority overtakes
    the queue), else the one queued first; with no candidate by the words,
    one whose BEGIN came within `near` seconds."""
    t, key = start["t"], _match_key(start["text"])
    alive = [i for i, u in enumerate(found) if i not in taken and u.queued_at <= t
             and not (u._begin_event is None and u._end_event is not None and u._end_event < t)]

    def words(i):
        u = found[i]
        return _match_key(u.raw if u.kind == "speak" else u.text)

    def nearest(indexes):
        timed = [i for i in indexes if found[i]._begin_event is not None
                 and abs(found[i]._begin_event - t) < near]
        return min(timed, key=lambda i: abs(found[i]._begin_event - t)) if timed else None

    for same in ([i for i in alive if words(i) == key],
                 [i for i in alive if words(i) and _within(words(i), key)]):
        if same:
            best = nearest(same)
            if best is not None:
                return best
            untimed = [i for i in same if found[i]._begin_event is None]
            return (untimed or same)[0]
    return nearest(alive)


def _running(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except (OSError, IndexError):
        return False


@dataclasses.dataclass
class Utterance:
    """One text a client gave the server."""
    client: str            # the name part of SET SELF CLIENT_NAME user:name:component
    priority: str          # the connection's priority when it was queued
    text: str              # the words (SSML tags removed)
    queued_at: float       # the proxy passed the end of the text to the server
    began_at: float = None  # the synthesis started (module log; else the BEGIN event)
    ended_at: float = None  # it finished or was stopped (module log; else END / CANCEL)
    cancelled: bool = False  # the server reported CANCEL, or stopped it while speaking
    kind: str = "speak"     # speak, char, key or sound_icon
    msg_id: int = None
    connection: int = 0     # the proxy's number for the connection
    raw: str = ""           # what the client sent, SSML included
    full_client: str = ""


# ---------------------------------------------------------------- the proxy

class _Conn:
    def __init__(self, number, client, server):
        self.number = number
        self.client = client
        self.server = server
        self.cbuf = b""
        self.sbuf = b""
        self.block = []
        self.name = ""
        self.full_name = ""
        self.priority = "text"  # the server's default
        self.client_id = None
        self.pending = collections.deque()  # commands waiting for their reply
        self.data = None  # lines of a SPEAK text being received
        self.by_msg = {}


class SsipProxy:
    """Relays SSIP between clients on `listen_path` and the server on
    `server_path`, recording what passes. One thread, all sockets in one
    selector; each direction is forwarded byte for byte before it is parsed,
    so the proxy never changes what either side sees."""

    def __init__(self, listen_path, server_path, log_path):
        self.server_path = server_path
        self.lock = threading.Lock()
        self.utterances = []
        self.log = []  # (time, connection, direction, line) for every line
        self.controls = []  # (time, connection, client, command) for CANCEL/STOP/PAUSE/RESUME
        self.notifications = []  # (time, connection, msg_id, event)
        self.log_file = open(log_path, "w", encoding="utf-8")
        self.listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.listener.bind(listen_path)
        self.listener.listen(64)
        self.listener.setblocking(False)
        self.sel = selectors.DefaultSelector()
        self.sel.register(self.listener, selectors.EVENT_READ, None)
        self.wake_r, self.wake_w = socket.socketpair()
        self.sel.register(self.wake_r, selectors.EVENT_READ, "wake")
        self.conns = []
        self.running = True
        self.thread = threading.Thread(target=self._run, name="ssip-proxy", daemon=True)
        self.thread.start()

    def close(self):
        self.running = False
        self.wake_w.send(b"x")
        self.thread.join(5)
        for c in self.conns:
            for s in (c.client, c.server):
                try:
                    s.close()
                except OSError:
                    pass
        self.listener.close()
        self.wake_r.close()
        self.wake_w.close()
        self.log_file.close()

    def _run(self):
        while self.running:
            for key, _ in self.sel.select(1.0):
                if key.data == "wake":
                    continue
                if key.data is None:
                    self._accept()
                    continue
                conn, from_client = key.data
                src = conn.client if from_client else conn.server
                dst = conn.server if from_client else conn.client
                try:
                    chunk = src.recv(65536)
                except OSError:
                    chunk = b""
                t = time.monotonic()
                if not chunk:
                    self._drop(conn, "client closed" if from_client else "server closed")
                    continue
                try:
                    dst.sendall(chunk)
                except OSError:
                    self._drop(conn, "send failed")
                    continue
                with self.lock:
                    if from_client:
                        conn.cbuf += chunk
                        while b"\r\n" in conn.cbuf:
                            line, conn.cbuf = conn.cbuf.split(b"\r\n", 1)
                            self._client_line(conn, line.decode("utf-8", "replace"), t)
                    else:
                        conn.sbuf += chunk
                        while b"\r\n" in conn.sbuf:
                            line, conn.sbuf = conn.sbuf.split(b"\r\n", 1)
                            self._server_line(conn, line.decode("utf-8", "replace"), t)

    def _accept(self):
        try:
            client, _ = self.listener.accept()
        except OSError:
            return
        server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        try:
            server.connect(self.server_path)
        except OSError:
            client.close()  # the client sees a refused server, as it would without us
            server.close()
            return
        conn = _Conn(len(self.conns) + 1, client, server)
        self.conns.append(conn)
        self.sel.register(client, selectors.EVENT_READ, (conn, True))
        self.sel.register(server, selectors.EVENT_READ, (conn, False))
        self._write(time.monotonic(), conn, "*", "connected")

    def _drop(self, conn, why):
        for s in (conn.client, conn.server):
            try:
                self.sel.unregister(s)
            except (KeyError, ValueError):
                pass
            s.close()
        with self.lock:
            self._write(time.monotonic(), conn, "*", why)

    def _write(self, t, conn, direction, line):
        self.log.append((t, conn.number, direction, line))
        self.log_file.write(f"{t:.6f} {conn.number} {direction} {line}\n")
        self.log_file.flush()

    def _client_line(self, conn, line, t):
        self._write(t, conn, ">", line)
        if conn.data is not None:
            if line == ".":
                raw = "\n".join(conn.data)
                conn.data = None
                u = self._utterance(conn, "speak", raw, t)
                conn.pending.append(("DATA", u))
            else:
                conn.data.append(line[1:] if line.startswith("..") else line)
            return
        words = line.split()
        if not words:
            return
        cmd = words[0].upper()
        if cmd == "SET" and len(words) >= 4 and words[1].upper() == "SELF":
            what = words[2].upper()
            value = line.split(None, 3)[3].strip().strip('"')
            if what == "CLIENT_NAME":
                conn.full_name = value
                parts = value.split(":")
                conn.name = parts[1] if len(parts) >= 2 else value
            elif what == "PRIORITY":
                conn.priority = value.lower()
        if cmd in ("CHAR", "KEY", "SOUND_ICON") and len(words) >= 2:
            u = self._utterance(conn, cmd.lower(), line.split(None, 1)[1], t)
            conn.pending.append(("DATA", u))
            return
        if cmd in ("CANCEL", "STOP", "PAUSE", "RESUME"):
            self.controls.append((t, conn.number, conn.name, line))
        conn.pending.append((cmd, None))

    def _utterance(self, conn, kind, raw, t):
        text = raw if kind != "speak" else plain_text(raw)
        u = Utterance(client=conn.name, priority=conn.priority, text=text, queued_at=t, kind=kind,
                      connection=conn.number, raw=raw, full_client=conn.full_name)
        self.utterances.append(u)
        return u

    def _server_line(self, conn, line, t):
        self._write(t, conn, "<", line)
        conn.block.append(line)
        if len(line) >= 4 and line[3] == "-":
            return  # a continuation line
        block, conn.block = conn.block, []
        try:
            code = int(line[:3])
        except ValueError:
            return
        if 700 <= code < 800:
            try:
                msg_id = int(block[0][4:])
            except (ValueError, IndexError):
                return
            event = {700: "index_mark", 701: "begin", 702: "end", 703: "cancel",
                     704: "pause", 705: "resume"}.get(code, str(code))
            self.notifications.append((t, conn.number, msg_id, event))
            u = conn.by_msg.get(msg_id)
            if u is not None:
                if event == "begin" and u._begin_event is None:
                    u._begin_event = t
                elif event == "end":
                    u._end_event = t
                elif event == "cancel":
                    u._end_event = t
                    u.cancelled = True
            return
        if not conn.pending:
            return
        cmd, u = conn.pending.popleft()
        if cmd == "SPEAK" and code == 230:
            conn.data = []  # the client now sends the text
        elif cmd == "DATA" and code == 225:
            try:
                u.msg_id = int(block[0][4:])
                conn.by_msg[u.msg_id] = u
            except (ValueError, IndexError):
                pass
        elif cmd == "DATA":
            u.cancelled = True  # refused: it will never be spoken
            u._refused = line
        elif cmd == "HISTORY" and code == 245:
            try:
                conn.client_id = int(block[0][4:])
            except (ValueError, IndexError):
                pass


# Instances carry the notification times beside the merged ones.
Utterance._begin_event = None
Utterance._end_event = None
Utterance._refused = None


# -------------------------------------------------- the synthesis module

SYNTH_SCRIPT = r'''#!__PYTHON__ -I
"""Stands in for a synthesiser: logs when each text starts and ends and
sleeps as long as espeak-ng would take to say it. Started by sd_generic with
the text on standard input. On CANCEL sd_generic ends it with SIGKILL: a
run with a start and no end was stopped."""
import hashlib, json, os, signal, subprocess, sys, time, wave

log_path, cache_dir = sys.argv[1], sys.argv[2]
try:
    rate = float(sys.argv[3])
except (IndexError, ValueError):
    rate = 0.0
raw = sys.stdin.buffer.read().decode("utf-8", "replace")
start = time.monotonic()
pid = os.getpid()


def log(event, **more):
    with open(log_path, "a", encoding="utf-8") as f:
        f.write(json.dumps(dict(ev=event, t=time.monotonic(), pid=pid, **more)) + "\n")


def stopped(signum, frame):
    log("killed", signal=signum)
    os._exit(0)


for s in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP, signal.SIGUSR1):
    signal.signal(s, stopped)
log("start", text=raw)

# SSIP rate -100..0..100 onto espeak-ng words per minute, with the limits of
# speech-dispatcher's espeak-ng module (EspeakMinRate, NormalRate, MaxRate).
wpm = int(170 + rate * (449 - 170) / 100 if rate >= 0 else 170 + rate * (170 - 80) / 100)
key = hashlib.sha1(f"{wpm}\0{raw}".encode()).hexdigest()
cached = os.path.join(cache_dir, key)
try:
    with open(cached) as f:
        seconds = float(f.read())
except (OSError, ValueError):
    seconds = 0.0
    if raw.strip():
        wav = cached + f".{pid}.wav"
        args = ["espeak-ng", "-q", "-s", str(wpm), "-w", wav, "--stdin"]
        if raw.lstrip().startswith("<speak"):
            args.insert(1, "-m")
        subprocess.run(args, input=raw.encode(), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            with wave.open(wav) as w:
                seconds = w.getnframes() / float(w.getframerate())
        except (OSError, EOFError, wave.Error):
            seconds = 0.06 * len(raw)  # espeak-ng failed: about its speed
        try:
            os.unlink(wav)
        except OSError:
            pass
    with open(cached + f".{pid}", "w") as f:
        f.write(repr(seconds))
    os.replace(cached + f".{pid}", cached)
left = start + seconds - time.monotonic()
if left > 0:
    time.sleep(left)
log("end", secs=seconds)
'''

SPEECHD_CONF = '''# The test's own server: every text goes to the logging module.
LogLevel 5
LogDir "{log_dir}"
AudioOutputMethod "alsa"
AudioALSADevice "null"
AddModule "rig" "sd_generic" "rig.conf"
DefaultModule rig
LanguageDefaultModule "en" "rig"
DefaultVolume 100
SymbolsPreproc "char"
SymbolsPreprocFile "gender-neutral.dic"
SymbolsPreprocFile "font-variants.dic"
SymbolsPreprocFile "symbols.dic"
SymbolsPreprocFile "emojis.dic"
SymbolsPreprocFile "orca.dic"
SymbolsPreprocFile "orca-chars.dic"
'''

MODULE_CONF = '''Debug 0
GenericExecuteSynth "printf %s \\'$DATA\\' | {synth} {log} {cache} $RATE"
# One run of the command per text, as a real synthesiser speaks it: no
# splitting at sentence ends. The module takes each character of this
# string as a delimiter (an empty one means the default "."): U+0001 is in
# no text.
GenericMaxChunkLength 1000000
GenericDelimiters "\x01"
GenericLanguage "en" "en" "utf-8"
AddVoice "en" "MALE1" "en"
DefaultVoice "en"
'''

SESSION_BUS_CONF = '''<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <keep_umask/>
  <listen>{listen}</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
'''

PGREP_SHIM = '''#!/bin/sh
# Orca's launcher looks for other Orcas with "pgrep -u UID -x orca" and, with
# --replace, kills them; without it, it refuses to start beside them. Only
# the processes of this rig count, so a rig never touches an Orca elsewhere.
for pid in $(/usr/bin/pgrep "$@"); do
  if tr '\\0' '\\n' < /proc/$pid/environ 2>/dev/null | grep -qxF "{mark}={value}"; then
    echo $pid
  fi
done
'''


# ------------------------------------------------------------ the desktop

class _Display(harness.Display):
    """harness.Display with its bell watcher taken from `tools_dir` (a copy),
    so that a rebuild of build/ cannot pull it away at start."""

    def __init__(self, tools_dir):
        super().__init__()
        self.tools_dir = tools_dir

    def __enter__(self):
        saved = harness.BUILD
        harness.BUILD = self.tools_dir
        try:
            return super().__enter__()
        finally:
            harness.BUILD = saved

    def __exit__(self, *exc):
        # Also after a start that failed half way.
        procs = [p for p in (getattr(self, n, None) for n in ("bells", "wm", "xvfb")) if p is not None]
        for p in procs:
            if p.poll() is None:
                p.terminate()
        for p in procs:
            try:
                p.wait(5)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait(5)
        if getattr(self, "bells", None) is not None:
            self.bells.stdout.close()


class OrcaDesktop:
    """Context manager: the private desktop with Orca up and listening.

    env            the environment for the program under test (and for
                   anything else that should see this desktop)
    a11y_address   the AT-SPI bus (only for the rig's own D-Bus calls)
    dir            the rig's private folder (logs: proxy.log, module.log,
                   speechd/, orca.out, orca-debug.out with orca_debug=True)
    t0             time.monotonic() when the rig started
    orca_ready_s   seconds from starting Orca to Orca up and listening (its
                   greeting queued and its event listeners registered)
    startup        (phase, seconds) for each step of the rig's start
    spawn()        starts a program with env; it is stopped at the end
    utterances()   every utterance so far, in queue order (Utterance records)
    wait_utterance(), orca_said(), controls(), timeline(), quiet(),
    stray_speech()
    accessible_app(name)   a snapshot of a program's accessible tree
    listen(types, app)     AT-SPI events with their times (AtspiEvents)
    """

    def __init__(self, *, orca=True, orca_debug=False, quiet_start=True, startup_timeout=60,
                 keep_dir=False):
        """orca=False: the desktop and speech without Orca. orca_debug: Orca
        writes its debug log into the rig's folder. quiet_start: return only
        once Orca's greeting has been spoken, so that what a test starts is
        not queued behind it. keep_dir: leave the folder for a post-mortem."""
        self.want_orca = orca
        self.quiet_start = quiet_start
        self.orca_debug = orca_debug
        self.startup_timeout = startup_timeout
        self.keep_dir = keep_dir
        self.procs = []  # (name, Popen, grace seconds), stopped in reverse order
        self.proxy = None
        self.display = None
        self.orca_ready_s = None

    # ---- start and stop

    def __enter__(self):
        try:
            self._start()
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def _start(self):
        self.t0 = self._phase_t = time.monotonic()
        self.startup = []  # (phase, seconds) as the rig came up
        self.dir = tempfile.mkdtemp(prefix="orca-rig-")
        d = self.dir
        self.home = os.path.join(d, "home")
        self.run_dir = os.path.join(d, "run")
        bin_dir = os.path.join(d, "bin")
        for sub in (self.home, self.run_dir, bin_dir, os.path.join(d, "speechd", "modules"),
                    os.path.join(d, "speechd-log"), os.path.join(d, "synth-cache")):
            os.makedirs(sub, exist_ok=True)
        os.chmod(self.run_dir, 0o700)

        self.display = _Display(self._tools())
        self.display.__enter__()
        self._phase("display")
        env = {k: v for k, v in os.environ.items() if not k.startswith((
            "DBUS_", "AT_SPI", "SPEECHD_", "XDG_", "GTK_", "QT_", "WAYLAND", "PYTHON", "PYENV",
            "GSETTINGS", "NO_AT_BRIDGE", "ORCA"))}
        env.update(
            DISPLAY=self.display.env["DISPLAY"], HOME=self.home, XDG_RUNTIME_DIR=self.run_dir,
            XDG_CONFIG_HOME=os.path.join(self.home, ".config"),
            XDG_DATA_HOME=os.path.join(self.home, ".local", "share"),
            XDG_CACHE_HOME=os.path.join(self.home, ".cache"),
            XDG_STATE_HOME=os.path.join(self.home, ".local", "state"),
            # No dconf service: settings live and die with the process.
            GSETTINGS_BACKEND="memory",
            QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
            # A client that cannot reach the proxy must not start a server
            # of the machine's own (which would use the real audio set-up).
            SPEECHD_CMD="/bin/false",
            PYTHONDONTWRITEBYTECODE="1")
        env.setdefault("LANG", "C.UTF-8")
        env[MARK] = d
        self.env = env

        # The session bus. Its own configuration, with no service files: the
        # machine's would start a second AT-SPI launcher or dconf on demand.
        bus_conf = os.path.join(d, "session-bus.conf")
        with open(bus_conf, "w") as f:
            f.write(SESSION_BUS_CONF.format(listen=f"unix:dir={self.run_dir}"))
        self.env["DBUS_SESSION_BUS_ADDRESS"] = self._start_with_address(
            "dbus-session", ["dbus-daemon", f"--config-file={bus_conf}", "--nofork", "--nopidfile",
                             "--print-address=%d"])

        self._phase("session bus")

        # The AT-SPI bus and its registry.
        self._spawn("at-spi-bus-launcher", ["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"])
        # Clients find the AT-SPI bus the desktop way, by asking org.a11y.Bus
        # on the session bus (or the AT_SPI_BUS property of the X root
        # window). AT_SPI_BUS_ADDRESS stays unset: with it, Qt 6.4 connects
        # to the bus but never registers the application, so no screen
        # reader ever sees it.
        self.a11y_address = harness.wait_for(self._a11y_address, 20, "the AT-SPI bus address")
        self._spawn("at-spi2-registryd", ["/usr/libexec/at-spi2-registryd"],
                    env=dict(self.env, AT_SPI_BUS_ADDRESS=self.a11y_address))
        harness.wait_for(lambda: self._has_owner(self.a11y_address, "org.a11y.atspi.Registry"), 20,
                         "the AT-SPI registry")

        self._phase("AT-SPI bus and registry")

        # speech-dispatcher and the proxy in front of it.
        self._start_speech()
        self._phase("speech-dispatcher and proxy")

        if self.want_orca:
            self._start_orca()

    def _tools(self):
        tools = os.path.join(self.dir, "tools")
        os.makedirs(tools, exist_ok=True)
        copy_built(os.path.join(harness.BUILD, "bell_watch"), tools, settle=0.2)
        return tools

    def _start_with_address(self, name, argv):
        """Starts a program that prints an address on a pipe (the %d in argv)."""
        r, w = os.pipe()
        argv = [a.replace("%d", str(w)) for a in argv]
        self._spawn(name, argv, pass_fds=(w,))
        os.close(w)
        out = b""
        deadline = time.monotonic() + 20
        while not out.endswith(b"\n"):
            ready, _, _ = select.select([r], [], [], max(0, deadline - time.monotonic()))
            chunk = os.read(r, 4096) if ready else b""
            if not chunk:
                os.close(r)
                raise AssertionError(f"{name} printed no address")
            out += chunk
        os.close(r)
        return out.decode().strip()

    def _dbus_send(self, address, *args):
        r = subprocess.run(["dbus-send", f"--bus={address}", "--print-reply", "--reply-timeout=2000", *args],
                           env=self.env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=10)
        return r.stdout.decode() if r.returncode == 0 else None

    def _a11y_address(self):
        out = self._dbus_send(self.env["DBUS_SESSION_BUS_ADDRESS"], "--dest=org.a11y.Bus", "/org/a11y/bus",
                              "org.a11y.Bus.GetAddress")
        m = re.search(r'string "([^"]+)"', out or "")
        return m.group(1) if m else None

    def _has_owner(self, address, name):
        out = self._dbus_send(address, "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                              "org.freedesktop.DBus.NameHasOwner", f"string:{name}")
        return out is not None and "boolean true" in out

    def registered_events(self):
        """The AT-SPI event types that listeners (Orca, our helpers) have
        asked the registry for."""
        out = self._dbus_send(self.a11y_address, "--dest=org.a11y.atspi.Registry",
                              "/org/a11y/atspi/registry", "org.a11y.atspi.Registry.GetRegisteredEvents")
        strings = re.findall(r'string "([^"]*)"', out or "")
        return strings[1::2]  # (bus name, event) pairs, e.g. "Focus::", "Object:StateChanged:Focused"

    def _start_speech(self):
        d = self.dir
        conf = os.path.join(d, "speechd")
        self.module_log = os.path.join(d, "module.log")
        open(self.module_log, "w").close()
        synth = os.path.join(d, "bin", "synth")
        with open(synth, "w") as f:
            f.write(SYNTH_SCRIPT.replace("__PYTHON__", child_python()))
        os.chmod(synth, 0o755)
        with open(os.path.join(conf, "speechd.conf"), "w") as f:
            f.write(SPEECHD_CONF.format(log_dir=os.path.join(d, "speechd-log")))
        with open(os.path.join(conf, "modules", "rig.conf"), "w") as f:
            f.write(MODULE_CONF.format(synth=synth, log=self.module_log, cache=os.path.join(d, "synth-cache")))
        server_sock = os.path.join(self.run_dir, "speechd-server.sock")
        self._spawn("speech-dispatcher", [
            "speech-dispatcher", "-s", "-t", "0", "-l", "5", "-L", os.path.join(d, "speechd-log"),
            "-C", conf, "-c", "unix_socket", "-S", server_sock, "-P", os.path.join(d, "speechd.pid")])
        harness.wait_for(lambda: self._connectable(server_sock), 20, "speech-dispatcher's socket")
        proxy_sock = os.path.join(self.run_dir, "speechd.sock")
        self.proxy = SsipProxy(proxy_sock, server_sock, os.path.join(d, "proxy.log"))
        self.env["SPEECHD_ADDRESS"] = f"unix_socket:{proxy_sock}"

    def _connectable(self, path):
        s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        try:
            s.connect(path)
            return True
        except OSError:
            return False
        finally:
            s.close()

    def _start_orca(self):
        shim = os.path.join(self.dir, "bin", "pgrep")
        with open(shim, "w") as f:
            f.write(PGREP_SHIM.format(mark=MARK, value=self.dir))
        os.chmod(shim, 0o755)
        env = dict(self.env, PATH=os.path.join(self.dir, "bin") + os.pathsep + self.env.get("PATH", ""))
        argv = ["orca", "--replace"]
        if self.orca_debug:
            argv.append("--debug-file=" + os.path.join(self.dir, "orca-debug.out"))
        started = time.monotonic()
        # Orca handles SIGTERM in Python, which runs only when an AT-SPI
        # event wakes its main loop: it may never come. Nothing of Orca's
        # needs a clean exit here (the X keymap it changed dies with Xvfb).
        self.orca = self._spawn("orca", argv, env=env, grace=1)

        def ready():
            if self.orca.poll() is not None:
                raise AssertionError(f"Orca ended at start with {self.orca.returncode}: {self._tail('orca.out')}")
            if not any(u.client == "Orca" and ORCA_READY_TEXT in u.text for u in self.utterances()):
                return False
            # Its event listeners are in the registry, so applications' events reach it.
            return any(e.lower().startswith("focus") for e in self.registered_events())
        harness.wait_for(ready, self.startup_timeout, "Orca to start")
        self.orca_ready_s = time.monotonic() - started
        self._phase("Orca up and listening")
        if self.quiet_start:
            self.wait_utterance("Orca", lambda t: ORCA_READY_TEXT in t, self.startup_timeout, state="finished")
            self._phase("Orca's greeting spoken")

    def _phase(self, name):
        now = time.monotonic()
        self.startup.append((name, now - self._phase_t))
        self._phase_t = now

    def _tail(self, name, size=2000):
        try:
            with open(os.path.join(self.dir, name), "rb") as f:
                return f.read()[-size:].decode("utf-8", "replace")
        except OSError:
            return ""

    def _spawn(self, name, argv, env=None, grace=5, **kw):
        out = open(os.path.join(self.dir, name + ".out"), "ab")
        p = subprocess.Popen(argv, env=env or self.env, stdin=subprocess.DEVNULL, stdout=out,
                             stderr=subprocess.STDOUT, start_new_session=True, **kw)
        out.close()
        self.procs.append((name, p, grace))
        return p

    def spawn(self, argv, cwd=None, env=None, name=None, **popen):
        """Starts a program with the rig's environment (plus `env`); its
        output goes to NAME.out in the rig's folder unless `popen` says
        otherwise. It is stopped when the rig ends."""
        name = name or os.path.basename(argv[0])
        out = None
        if "stdout" not in popen:
            out = open(os.path.join(self.dir, name + ".out"), "ab")
            popen.update(stdout=out, stderr=subprocess.STDOUT)
        try:
            p = subprocess.Popen(argv, cwd=cwd, env=dict(self.env, **(env or {})), **popen)
        finally:
            if out is not None:
                out.close()
        self.procs.append((name, p, 5))
        return p

    def __exit__(self, *exc):
        for name, p, grace in reversed(self.procs):
            if p.poll() is None:
                p.terminate()
                try:
                    p.wait(grace)
                except subprocess.TimeoutExpired:
                    p.kill()
                    p.wait(5)
        self._sweep()
        if self.proxy is not None:
            self.proxy.close()
        if self.display is not None:
            self.display.__exit__(None, None, None)
        if not self.keep_dir and getattr(self, "dir", None):
            shutil.rmtree(self.dir, ignore_errors=True)

    def _sweep(self):
        """Ends what our children started and left behind (activated
        services, the synthesis script's runs), found by the mark in their
        environment: they are ours and nobody else's."""
        if not getattr(self, "dir", None):
            return
        needle = f"{MARK}={self.dir}".encode()
        for sig in (signal.SIGTERM, signal.SIGKILL):
            found = []
            for entry in os.listdir("/proc"):
                if not entry.isdigit() or int(entry) == os.getpid():
                    continue
                try:
                    with open(f"/proc/{entry}/environ", "rb") as f:
                        if needle in f.read().split(b"\0"):
                            found.append(int(entry))
                except OSError:
                    continue
            for pid in found:
                try:
                    os.kill(pid, sig)
                except OSError:
                    pass
            if not found:
                return
            time.sleep(0.5)

    # ---- what was said

    def utterances(self):
        """Every utterance so far, in the order the server got them, with
        start and end times from the synthesis module's log where it has
        them and from the server's notifications otherwise."""
        return self._merge()[0]

    def _merge(self):
        with self.proxy.lock:
            found = [dataclasses.replace(u) for u in self.proxy.utterances]
            originals = list(self.proxy.utterances)
        for u, o in zip(found, originals):
            u._begin_event, u._end_event = o._begin_event, o._end_event
        runs = self._module_runs()
        # A run that has no end and no process was stopped, unless it wrote
        # its end and left between the read above and the look at /proc.
        gone = [pid for pid, run in runs.items() if "end" not in run and not _running(pid)]
        if gone:
            again = self._module_runs()
            for pid in gone:
                runs[pid] = again.get(pid, runs[pid])
                if "end" not in runs[pid]:
                    runs[pid]["gone"] = True
        taken = set()
        orphans = []  # runs of the module that match no utterance: the rig has a fault
        for run in sorted((r for r in runs.values() if "start" in r), key=lambda r: r["start"]["t"]):
            i = _pick(found, taken, run["start"])
            if i is None:
                orphans.append(run)
                continue
            taken.add(i)
            u = found[i]
            u.began_at = run["start"]["t"]
            if "end" in run:
                u.ended_at = run["end"]["t"]
            elif "killed" in run:
                u.ended_at = run["killed"]["t"]
                u.cancelled = True
            elif run.get("gone"):
                u.cancelled = True  # stopped with SIGKILL, as sd_generic does on CANCEL
        for u in found:
            if u.began_at is None:
                u.began_at = u._begin_event
            if u.ended_at is None and u._end_event is not None:
                u.ended_at = u._end_event
        return found, orphans

    def _module_runs(self):
        runs = {}
        try:
            with open(self.module_log, encoding="utf-8") as f:
                for line in f:
                    try:
                        rec = json.loads(line)
                    except ValueError:
                        continue  # a line still being written
                    runs.setdefault(rec["pid"], {})[rec["ev"]] = rec
        except OSError:
            pass
        return runs

    def wait_utterance(self, client, text, timeout=10, *, state="queued", since=None):
        """Waits for an utterance of `client` (None: anyone) whose text equals
        `text` (a string) or satisfies it (a function of the text), queued
        at or after `since`, that has reached `state`: "queued", "began",
        "ended" (spoken to its end) or "finished" (ended or cancelled).
        Returns it."""
        test = text if callable(text) else (lambda t: t == text)

        def reached(u):
            return {"queued": True, "began": u.began_at is not None,
                    "ended": u.ended_at is not None and not u.cancelled,
                    "finished": u.ended_at is not None or u.cancelled}[state]

        def find():
            for u in self.utterances():
                if (client is None or u.client == client) and (since is None or u.queued_at >= since) \
                        and test(u.text) and reached(u):
                    return u
            return None
        try:
            return harness.wait_for(find, timeout, "")
        except AssertionError:
            raise AssertionError(f"timed out after {timeout} s waiting for {client!r} to have {state} "
                                 f"{text if not callable(text) else 'a matching text'!r}; so far:\n"
                                 + self.timeline()) from None

    def stray_speech(self):
        """Texts the synthesiser spoke that no recorded utterance accounts
        for; anything here means the record is wrong."""
        return [run["start"]["text"] for run in self._merge()[1]]

    def controls(self):
        """The CANCEL, STOP, PAUSE and RESUME commands clients sent, as
        (time, client, command) in order: Orca cancels its own speech
        before most new speech."""
        with self.proxy.lock:
            return [(t, name, cmd) for t, _, name, cmd in self.proxy.controls]

    def orca_said(self):
        """The texts Orca gave the server, in order."""
        return [u.text for u in self.utterances() if u.client == "Orca" and u.text.strip()]

    def quiet(self, seconds=1.0, timeout=30):
        """Waits until every utterance has ended or been cancelled and
        nothing new has been queued for `seconds`."""
        def calm():
            last = self.t0
            for u in self.utterances():
                if u.ended_at is None and not u.cancelled:
                    return False  # waiting or speaking
                last = max(last, u.queued_at, u.ended_at or 0)
            return time.monotonic() - last >= seconds
        try:
            harness.wait_for(calm, timeout, "")
        except AssertionError:
            raise AssertionError(f"speech did not go quiet within {timeout} s:\n" + self.timeline()) from None

    def timeline(self, since=None):
        """The utterances as a table, times in seconds from the rig's start."""
        def at(t):
            return f"{t - self.t0:8.3f}" if t is not None else "       -"
        lines = ["   queued    began    ended  client     priority  text"]
        found, orphans = self._merge()
        for run in orphans:
            end = run.get("end", run.get("killed", {})).get("t")
            lines.append(f"       ? {at(run['start']['t'])} {at(end)}  (no client: spoken but never "
                         f"queued through the proxy) {run['start']['text']!r}")
        for u in found:
            if since is not None and u.queued_at < since:
                continue
            flag = "  [cancelled]" if u.cancelled else ""
            kind = "" if u.kind == "speak" else f"({u.kind}) "
            lines.append(f"{at(u.queued_at)} {at(u.began_at)} {at(u.ended_at)}  {u.client:<10} "
                         f"{u.priority:<9} {kind}{u.text!r}{flag}")
        return "\n".join(lines)

    # ---- AT-SPI

    def _atspi(self, *args, timeout=30):
        r = subprocess.run([child_python(), os.path.abspath(__file__), "--atspi", *args], env=self.env,
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout)
        if r.returncode != 0:
            raise AssertionError(f"AT-SPI helper failed: {r.stderr.decode(errors='replace')[-2000:]}")
        return json.loads(r.stdout)

    def accessible_app(self, name, timeout=10):
        """A snapshot of the accessible tree of the application called
        `name` on the AT-SPI bus, waiting up to `timeout` for it: nested
        dicts with role, name, description, states, value (current, minimum,
        maximum where it has one), text, relations (type and target names)
        and children. Call again for a fresh one."""
        return self._atspi("tree", name, str(timeout), timeout=timeout + 30)

    def listen(self, types, app=None):
        """AT-SPI events of the given types (e.g. "focus:",
        "object:property-change:accessible-value") from `app` (None: from
        anyone), collected with their times until closed. Use as a context
        manager or call close()."""
        return AtspiEvents(self, types, app)


def find_accessible(node, role=None, name=None):
    """The nodes of a snapshot with that role and/or name, depth first."""
    out = []
    if (role is None or node.get("role") == role) and (name is None or node.get("name") == name):
        out.append(node)
    for child in node.get("children", []):
        out.extend(find_accessible(child, role, name))
    return out


@dataclasses.dataclass
class AtspiEvent:
    t: float
    type: str
    source_role: str
    source_name: str
    detail1: int
    detail2: int
    any_data: str
    app: str


class AtspiEvents:
    """AT-SPI events collected by a helper process, with their times."""

    def __init__(self, desk, types, app):
        # Its complaints go to a file: an unread pipe could fill and stop it.
        fd, self.err_path = tempfile.mkstemp(prefix="atspi-events-", suffix=".err", dir=desk.dir)
        with os.fdopen(fd, "wb") as err:
            self.proc = subprocess.Popen([child_python(), os.path.abspath(__file__), "--atspi", "events",
                                          app or "*", *types], env=desk.env, stdin=subprocess.PIPE,
                                         stdout=subprocess.PIPE, stderr=err)
        self._events = []
        self._lock = threading.Lock()
        first = self.proc.stdout.readline()
        if json.loads(first or b"{}").get("ready") is not True:
            self.proc.kill()
            self.proc.wait()
            self._close_pipes()
            with open(self.err_path, "rb") as f:
                raise AssertionError("AT-SPI listener did not start: " + f.read().decode()[-2000:])
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()

    def _read(self):
        for line in self.proc.stdout:
            try:
                rec = json.loads(line)
            except ValueError:
                continue
            with self._lock:
                self._events.append(AtspiEvent(**rec))

    def events(self):
        with self._lock:
            return list(self._events)

    def wait(self, predicate, timeout=10):
        """Waits for an event that satisfies `predicate` and returns it."""
        def find():
            return next((e for e in self.events() if predicate(e)), None)
        return harness.wait_for(find, timeout, f"an AT-SPI event; got {self.events()!r}")

    def close(self):
        if self.proc.poll() is None:
            self.proc.stdin.close()  # the helper ends when its input closes
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.thread.join(5)
        self._close_pipes()

    def _close_pipes(self):
        # Also when the helper had ended by itself (its bus gone first).
        for pipe in (self.proc.stdin, self.proc.stdout):
            try:
                pipe.close()
            except OSError:
                pass

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


# ------------------------------------------------------ the AT-SPI helper

def _helper(argv):
    import pyatspi
    from gi.repository import GLib

    def node(acc, depth=0):
        out = {"role": acc.getRoleName(), "name": acc.name, "description": acc.description,
               "states": sorted(pyatspi.stateToString(s) for s in acc.getState().getStates())}
        try:
            v = acc.queryValue()
            out["value"] = {"current": v.currentValue, "minimum": v.minimumValue, "maximum": v.maximumValue}
        except NotImplementedError:
            pass
        try:
            t = acc.queryText()
            out["text"] = t.getText(0, min(t.characterCount, 2000))
        except NotImplementedError:
            pass
        try:
            a = acc.queryAction()
            keys = [a.getKeyBinding(i) for i in range(a.nActions)]
            if any(keys):
                out["keys"] = keys
        except NotImplementedError:
            pass
        rels = []
        for rel in acc.getRelationSet() or []:
            targets = [rel.getTarget(i) for i in range(rel.getNTargets())]
            rels.append({"type": pyatspi.relationToString(rel.getRelationType()),
                         "targets": [getattr(x, "name", "") for x in targets]})
        if rels:
            out["relations"] = rels
        if depth < 30:
            out["children"] = [node(c, depth + 1) for c in acc if c is not None]
        return out

    def find_app(name):
        desktop = pyatspi.Registry.getDesktop(0)
        for app in desktop:
            if app is not None and app.name == name:
                return app
        return None

    mode = argv[0]
    if mode == "tree":
        name, timeout = argv[1], float(argv[2])
        deadline = time.monotonic() + timeout
        while (app := find_app(name)) is None:
            if time.monotonic() > deadline:
                names = [a.name for a in pyatspi.Registry.getDesktop(0) if a is not None]
                sys.exit(f"no application {name!r} on the AT-SPI bus; there are {names}")
            time.sleep(0.1)
        json.dump(node(app), sys.stdout)
        return
    if mode == "events":
        want_app, types = argv[1], argv[2:]

        def on_event(event):
            t = time.monotonic()
            try:
                src = event.source
                app = src.getApplication().name if src is not None else ""
                if want_app != "*" and app != want_app:
                    return
                rec = dict(t=t, type=event.type, source_role=src.getRoleName() if src else "",
                           source_name=src.name if src else "", detail1=event.detail1,
                           detail2=event.detail2, any_data=str(event.any_data), app=app)
            except Exception as e:  # the source may be gone already
                rec = dict(t=t, type=event.type, source_role="", source_name="", detail1=event.detail1,
                           detail2=event.detail2, any_data=f"(unreadable: {e})", app="")
                if want_app != "*":
                    return
            sys.stdout.write(json.dumps(rec) + "\n")
            sys.stdout.flush()

        pyatspi.Registry.registerEventListener(on_event, *types)

        def on_stdin(*_):
            pyatspi.Registry.stop()
            return False
        GLib.io_add_watch(sys.stdin.fileno(), GLib.IO_IN | GLib.IO_HUP | GLib.IO_ERR, on_stdin)
        sys.stdout.write(json.dumps({"ready": True}) + "\n")
        sys.stdout.flush()
        pyatspi.Registry.start()
        return
    sys.exit(f"unknown helper mode {mode!r}")


if __name__ == "__main__" and len(sys.argv) > 1 and sys.argv[1] == "--atspi":
    _helper(sys.argv[2:])
