"""The key table (tests/dialog_keys.table) against the Windows program under
Wine: Wine's own dialog manager decides what each key does, and the Qt
edition runs the same table off screen (tests/linux/dialog_keys_test.cpp).

Each scene runs the program afresh in one Wine prefix, COM3 on a
pseudo-terminal this test plays as the C BOX, the recording voice as
SAPI.SpVoice, keys typed with xdotool, and dialog_probe.exe beside the
program to read the focus and the boxes. Prints every step's outcome, then
fails on any difference from the table.
"""

import json
import os
import select
import socket
import subprocess
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from wine_e2e_test import WINDOWS_BUILD, Program, Wine  # noqa: E402
from harness import CBox, Display, wait_for  # noqa: E402

TABLE = os.path.join(HERE, "../../dialog_keys.table")
PROBE = os.path.join(WINDOWS_BUILD, "tests/win32/dialog_probe.exe")
NAMES = {200: "PortLabel", 201: "PortBox", 400: "BearingLabel", 401: "BearingBox", 600: "VoiceCheck",
         700: "GoToLabel", 701: "GoToBox", 800: "StatusLabel", 703: "ExitButton", 501: "StartButton",
         702: "GoButton", 120: "CompassView"}
QUIET_S = 0.4  # a step has settled when nothing changed for this long


def quoted(field):
    """The double-quoted texts of a field; "-" is none."""
    field = field.strip()
    if field == "-":
        return []
    parts = field.split('"')
    return parts[1::2]


def read_table():
    scenes = []
    with open(TABLE, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line.strip() or line.lstrip().startswith("#"):
                continue
            if line.startswith("scene "):
                record, *options = line[6:].split()
                scenes.append((record, options, []))
                continue
            keys, said, focus, port, goto, sent = [p.strip() for p in line.split("|")]
            scenes[-1][2].append(dict(line=number, keys=keys, said=quoted(said), focus=focus,
                                      port=quoted(port)[0], goto=quoted(goto)[0],
                                      sent=[w for w in sent.split() if w != "-"]))
    return scenes


class Probe:
    """dialog_probe.exe: one JSON line of dialog state per request."""

    def __init__(self, wine):
        self.proc = subprocess.Popen(["wine", PROBE], env=wine.env, stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)

    def state(self):
        self.proc.stdin.write(b"state\n")
        self.proc.stdin.flush()
        if not select.select([self.proc.stdout], [], [], 10)[0]:
            raise AssertionError("the probe did not answer")
        return json.loads(self.proc.stdout.readline())

    def close(self):
        self.proc.stdin.close()
        try:
            self.proc.wait(15)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait(5)
        self.proc.stdout.close()


class Box(CBox):
    def new_frames(self):
        self._read()
        frames = []
        while b"\r" in self.received:
            frame, _, self.received = self.received.partition(b"\r")
            frames.append(frame.lstrip(b"\x02").decode("latin-1"))
        return frames


# A status as WSJT-X 2.6.1 sent it once JA1XYZ was typed into its DX Call box
# and PM95 into its DX Grid box, replayed for "wsjtx: JA1XYZ PM95".
CAPTURED = {("JA1XYZ", "PM95"): bytes.fromhex(
    "adbccbda00000002000000010000000657534a542d580000000000d6c09000000003465438000000064a413158595a000000"
    "032d313500000003465438000000000005dc000005dcffffffffffffffff00000004504d393500ffffffff0000ffffffffff"
    "ffffff0000000744656661756c74ffffffff")}


def send_wsjtx(options, fields):
    """The status of a "wsjtx: CALL GRID" step, to the port of --wsjtx."""
    port = int(options[options.index("--wsjtx") + 1].rpartition(":")[2])
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.sendto(CAPTURED[tuple(fields)], ("127.0.0.1", port))


class KeyTable(unittest.TestCase):
    def test_the_windows_dialog_manager_does_what_the_table_says(self):
        display = Display().__enter__()
        self.addCleanup(display.__exit__, None, None, None)
        wine = Wine(display)
        self.addCleanup(wine.close)
        probe = None
        differences = []
        for record, options, steps in read_table():
            box = Box()
            wine.map_com(3, box.path)
            app = Program(wine, display, stat_dat=record.encode("latin-1") + b"\r\n", args=options)
            try:
                startup = ["Rotavox Controller ", "Please set com port", "Set Com Port"] \
                    if record.startswith('""') else ["Rotavox Controller ", "Set Com Port"]
                if "--screen-reader" in options:  # the title and the prompt are the screen reader's
                    startup = [t for t in startup if t == "Please set com port"]
                app.wait_said(startup, timeout=30)
                app.wait_window()
                if probe is None:
                    probe = Probe(wine)
                    self.addCleanup(probe.close)
                wait_for(lambda: probe.state().get("window"), 10, "the probe to see the dialog")
                time.sleep(0.3)
                heard = len(app.said())
                box.new_frames()
                print(f"scene {record} {' '.join(options)}")
                for step in steps:
                    outcome = self.run_step(app, box, probe, step, heard, options)
                    heard += len(outcome["said"])
                    print(f"  {step['line']:3} {step['keys']:<26} said {outcome['said']} focus "
                          f"{outcome['focus']} port {outcome['port']!r} goto {outcome['goto']!r} "
                          f"sent {outcome['sent']}")
                    for key in ("said", "focus", "port", "goto", "sent"):
                        if outcome[key] != step[key]:
                            differences.append(f"line {step['line']} ({step['keys']}): {key} "
                                               f"{outcome[key]!r}, table {step[key]!r}")
            finally:
                app.close()
                box.close()
        self.assertEqual(differences, [])

    def run_step(self, app, box, probe, step, heard, options):
        keys = step["keys"]
        if keys.startswith("box:"):
            box.send(*[line.strip() for line in keys[4:].split(";")])
        elif keys.startswith("wsjtx:"):
            send_wsjtx(options, keys[6:].split())
        elif keys != "wait":
            display = app.display
            display.xdotool("key", "--delay", "80", *keys.split())
        # Wait for the speech the table expects, then for quiet.
        wait_for(lambda: len(app.said()) >= heard + len(step["said"]), 10 if keys == "wait" else 5,
                 f"line {step['line']}: {step['said']!r}, heard {app.said()[heard:]!r}") \
            if step["said"] else None
        sent, last, seen = [], time.monotonic(), None
        while time.monotonic() - last < QUIET_S:
            now = (len(app.said()), json.dumps(probe.state(), sort_keys=True))
            new = box.new_frames()
            if new or now != seen:
                sent += new
                seen, last = now, time.monotonic()
            time.sleep(0.05)
        state = probe.state()
        return dict(said=app.said()[heard:], focus=NAMES.get(state.get("focus"), "none"),
                    port=state["text"]["201"], goto=state["text"]["701"], sent=sent)


if __name__ == "__main__":
    unittest.main()
