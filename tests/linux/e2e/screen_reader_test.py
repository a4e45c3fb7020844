"""The program as a blind operator meets it beside a screen reader: what the
accessibility bus shows of it through one GO, and one GO with the real Orca
talking, where no announcement of the program may be lost.

Runs on the private desktop of orca_rig (Xvfb, D-Bus, AT-SPI, its own
speech-dispatcher and Orca), with the C BOX played on a pseudo-terminal.
Exit code 77 (skipped) where Orca or AT-SPI is missing."""

import os
import shutil
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
import orca_rig  # noqa: E402

def find(node, **what):
    """The one node of a snapshot with that role and/or name."""
    found = orca_rig.find_accessible(node, **what)
    assert len(found) == 1, f"{len(found)} nodes with {what}"
    return found[0]


TITLE = "Rotavox Controller v1.03 for Prosistel C BOX     (c) the Rotavox developers"


class ScreenReader(unittest.TestCase):
    def setUp(self):
        if orca_rig.missing():
            self.skipTest(f"not installed: {orca_rig.missing()}")
        self.dir = tempfile.mkdtemp(prefix="rotavox-sr-")
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.binary = orca_rig.copy_built(os.path.join(harness.BUILD, "rotavox"), self.dir)
        with open(os.path.join(self.dir, "STAT.DAT"), "wb") as f:
            f.write(b'"3",1\r\n')
        self.box = harness.CBox()
        self.addCleanup(self.box.close)

    def start(self, desk, *args):
        return desk.spawn([self.binary, "--map-port", f"COM3={self.box.path}", *args], cwd=self.dir,
                          name="rotavox")

    def key(self, desk, *keys):
        desk.display.xdotool("key", "--clearmodifiers", "--delay", "80", *keys)

    def test_names_roles_value_and_status_through_one_go(self):
        log = os.path.join(self.dir, "said.log")

        def said():
            try:
                with open(log, encoding="utf-8") as f:
                    return f.read().split("\n")[:-1]
            except FileNotFoundError:
                return []

        def wait_said(line, timeout=10):
            harness.wait_for(lambda: line in said(), timeout, f"{line!r}, heard {said()!r}")

        with orca_rig.OrcaDesktop(orca=False) as desk:
            events = desk.listen(["object:property-change:accessible-value",
                                  "object:property-change:accessible-name", "focus:"], app="rotavox")
            self.addCleanup(events.close)
            # Each text is held 150 ms a character, as long as a voice takes.
            self.start(desk, "--voice", f"log:{log}:150")
            wait_said("Set Com Port", 20)
            time.sleep(2)  # "Set Com Port" is held
            before = desk.accessible_app("rotavox")
            window = find(before, role="frame")
            self.assertEqual(window["name"], TITLE)
            port = find(window, role="text", name="Com Port")
            self.assertEqual(port["text"], "3")
            self.assertIn("focused", port["states"])
            self.assertIn({"type": "labelled by", "targets": ["Com Port:"]}, port.get("relations", []))
            bearing = find(window, role="text", name="Bearing")
            self.assertFalse(any(bearing.get("keys", [])), bearing)  # Alt+B speaks, it moves nothing
            self.assertEqual(find(window, role="status bar")["name"], "")
            compass = find(window, name="Compass")
            self.assertEqual(compass["value"], {"current": 0.0, "minimum": 0.0, "maximum": 360.0})

            self.key(desk, "alt+s")
            self.assertEqual(self.box.frames(2), [b"\x02AM\r", b"\x02AL\r"])
            self.box.send("A,M,R", "A,L,10,0,0")
            wait_said("Enter Bearing")
            linked = find(desk.accessible_app("rotavox"), role="frame")
            self.assertEqual(find(linked, role="status bar")["name"], "North Stop")
            self.assertEqual(find(linked, name="Compass")["value"]["current"], 10.0)
            events.wait(lambda e: e.type.endswith("accessible-name") and e.source_role == "status bar"
                        and e.source_name == "North Stop")

            desk.display.xdotool("type", "--delay", "100", "90")
            self.key(desk, "Return")
            self.assertEqual(self.box.frames(1), [b"\x02AG90\r"])
            self.box.send("A,?,045,B")
            time.sleep(0.3)
            self.box.send("A,?,090,R")
            wait_said("On bearing 0 9 0 ")
            # While the arrival is being spoken (2.5 s) the bus is answered.
            asked = time.monotonic()
            during = find(desk.accessible_app("rotavox"), role="frame")
            answered = time.monotonic() - asked
            self.assertEqual(said()[-1], "On bearing 0 9 0 ", "answered only after the speech")
            self.assertLess(answered, 2.0)
            self.assertEqual(find(during, name="Compass")["value"]["current"], 90.0)
            wait_said("Enter Bearing")
            arrived = events.wait(lambda e: e.type.startswith("focus:") and e.source_name == "Go To"
                                  and e.t > asked)
            # One value change for each bearing shown: 10, 45 and 90.
            values = [e for e in events.events() if e.type.endswith("accessible-value")
                      and e.source_name == "Compass"]
            self.assertEqual(len(values), 3, values)
            after = find(desk.accessible_app("rotavox"), role="frame")
            self.assertEqual(find(after, role="status bar")["name"], "North Stop")
            self.assertIn("focused", find(after, name="Go To")["states"])
            print(f"\nquestion answered in {answered * 1000:.0f} ms while speaking; focus back in "
                  f"'Go To' {arrived.t - asked:.2f} s after the arrival began")

    def test_one_go_beside_orca_each_thing_said_once_and_none_lost(self):
        with orca_rig.OrcaDesktop() as desk:
            # One road, measured: the start, the port, START, a bearing and
            # its arrival; then the stop side read by Orca's own command, the
            # voice switch, and a label's mnemonic.
            road = time.monotonic()
            self.start(desk, "--voice", "speechd", "--screen-reader")
            desk.wait_utterance("Orca", lambda t: "Com Port" in t, timeout=30, state="finished")
            desk.quiet(1.0)
            self.key(desk, "alt+s")
            self.box.frames(2)
            self.box.send("A,M,R", "A,L,10,0,0")
            desk.wait_utterance("rotavox", "North Stop", timeout=30, state="ended")
            desk.quiet(1.0)
            desk.display.xdotool("type", "--delay", "150", "90")
            self.key(desk, "Return")
            self.assertEqual(self.box.frames(1), [b"\x02AG90\r"])
            self.box.send("A,?,045,B", "A,?,090,R")
            first = desk.wait_utterance("rotavox", "On bearing 0 9 0 ", timeout=30, state="ended")
            desk.quiet(1.5)
            after_first = time.monotonic()
            self.key(desk, "Insert+KP_Enter", "Insert+KP_Enter")
            desk.wait_utterance("Orca", lambda t: "North Stop" in t, timeout=20, state="ended")
            desk.quiet(1.0)
            self.key(desk, "alt+v")
            desk.quiet(1.0)
            self.key(desk, "alt+v")
            desk.quiet(1.0)
            self.key(desk, "alt+c")  # the port box is disabled: the GoTo box
            desk.wait_utterance("Orca", lambda t: "GoTo" in t, timeout=20, since=after_first, state="ended")
            desk.quiet(1.0)
            measured = [u for u in desk.utterances() if u.queued_at >= road and u.text.strip()]
            road_timeline = desk.timeline(since=road)

            # Orca's learn mode talks for about 18 s: an arrival comes
            # during it, and Escape, typed meanwhile, ends learn mode after.
            desk.display.xdotool("type", "--delay", "150", "180")
            self.key(desk, "Return")
            self.assertEqual(self.box.frames(1), [b"\x02AG180\r"])
            desk.quiet(1.0)
            self.key(desk, "Insert+h")
            lecture = desk.wait_utterance("Orca", lambda t: "learn mode" in t, timeout=10, state="began")
            time.sleep(1.0)
            self.box.send("A,?,120,B", "A,?,180,R")
            desk.wait_utterance("rotavox", "On bearing 1 8 0 ", timeout=10)
            time.sleep(9)
            self.key(desk, "Escape")
            arrival = desk.wait_utterance("rotavox", "On bearing 1 8 0 ", timeout=70, state="ended")
            desk.quiet(1.5)
            after_second = time.monotonic()
            self.key(desk, "alt+b")
            desk.wait_utterance("rotavox", "On bearing 180", timeout=30, state="ended")
            desk.quiet(1.0)
            self.key(desk, "alt+x")
            desk.wait_utterance("rotavox", "Goodbye", timeout=30, state="ended")
            time.sleep(1)
            ours = [u for u in desk.utterances() if u.client == "rotavox" and u.text.strip()]
            # What Orca said after each arrival, before the next key.
            orca_after = [u.text for u in desk.utterances() if u.client == "Orca" and
                          (first.queued_at < u.queued_at < after_first or
                           arrival.queued_at < u.queued_at < after_second)]
            stray = desk.stray_speech()

        one_go = [u for u in measured if u.queued_at < after_first]
        seconds = {c: sum(u.ended_at - u.began_at for u in one_go if u.client == c and u.began_at)
                   for c in ("Orca", "rotavox")}
        waits = [u.began_at - u.queued_at for u in one_go if u.client == "rotavox" and u.began_at]
        print(f"\n{road_timeline}\nstart to arrival: Orca {seconds['Orca']:.2f} s, Rotavox "
              f"{seconds['rotavox']:.2f} s of speech; Rotavox's longest wait behind Orca {max(waits):.2f} s")
        print(f"the arrival in learn mode waited {arrival.began_at - arrival.queued_at:.1f} s and was "
              f"spoken to its end")
        # Nothing said twice: none of what Orca says of the window comes from
        # Rotavox too, Orca never reads a label on the way to its box, and
        # an arrival is one text, with no focus moving away and back.
        twice = [u.text for u in ours if u.text.startswith(("Rotavox Controller", "Set Com Port", "Enter Bearing",
                                                            "Bearing is", "Voice O", "9 ", "3"))]
        twice += [u.text for u in measured if u.client == "Orca" and ("label" in u.text or "GO push" in u.text)]
        self.assertEqual(twice, [])
        self.assertEqual([u.text for u in ours][:5],
                         ["Started", "On Bearing 0 1 0 ", "North Stop", "On bearing 0 9 0 ", "On bearing 1 8 0 "])
        self.assertFalse([t for t in orca_after if "GoTo" in t or "GO push" in t])
        self.assertGreater(arrival.began_at - arrival.queued_at, 5 + 0.2 * len(arrival.text))  # beyond any deadline
        self.assertFalse(arrival.cancelled)
        self.assertGreaterEqual(arrival.began_at, lecture.began_at)
        self.assertEqual([u.text for u in ours if u.cancelled], [])
        self.assertEqual(stray, [])  # every sound is accounted for by a client's text
        with open(os.path.join(self.dir, "STAT.DAT"), "rb") as f:
            self.assertEqual(f.read(), b'"3",1\r\n')  # speech was never switched off for good


if __name__ == "__main__":
    if orca_rig.missing():
        print(f"skipped: not installed: {orca_rig.missing()}")
        sys.exit(77)
    unittest.main()
