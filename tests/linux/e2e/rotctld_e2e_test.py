"""Station programs on the rotctld network protocol, against the real
program on the simulated C BOX: a client that behaves like the common
station programs, the server's limits, and the reply time with ten clients
at once, also while an announcement is being spoken."""

import os
import socket
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from harness import BUILD, Display, Rotavox, wait_for  # noqa: E402

PORT = 45330 + os.getpid() % 1000


class Client:
    def __init__(self):
        self.sock = socket.create_connection(("127.0.0.1", PORT), timeout=5)
        self.buffer = b""

    def ask(self, line, lines=1):
        self.sock.sendall(line.encode() + b"\n")
        while self.buffer.count(b"\n") < lines:
            chunk = self.sock.recv(4096)
            if not chunk:
                raise ConnectionError("closed")
            self.buffer += chunk
        parts = self.buffer.split(b"\n")
        answer, self.buffer = parts[:lines], b"\n".join(parts[lines:])
        return [a.decode() for a in answer]

    def close(self):
        self.sock.close()


class Station(unittest.TestCase):
    def setUp(self):
        self.display = Display().__enter__()
        self.addCleanup(self.display.__exit__, None, None, None)
        # Each announcement held 60 ms a character, like a real voice.
        self.app = Rotavox(self.display, ["--simulate", "--rotctld", str(PORT)],
                           stat_dat=b'"1",1\r\n', voice_ms=60)
        self.addCleanup(self.app.close)
        self.app.wait_window()
        wait_for(self._connectable, 10, "the server")

    def _connectable(self):
        try:
            socket.create_connection(("127.0.0.1", PORT), timeout=1).close()
            return True
        except OSError:
            return False

    def start_link(self):
        self.app.key("alt+s")
        self.app.wait_said(["On Bearing ZERO", "", "Enter Bearing"])

    def test_a_station_program_sets_and_follows_the_antenna(self):
        client = Client()
        self.addCleanup(client.close)
        self.assertEqual(client.ask("p"), ["RPRT -6"])  # no link yet: no bearing that looks valid
        self.start_link()
        self.assertEqual(client.ask("\\get_pos", 2), ["0.000000", "0.000000"])
        self.assertEqual(client.ask("P 20.40 0.00"), ["RPRT 0"])
        seen = []
        for _ in range(5):  # a "p" every second, as trackers do
            time.sleep(1)
            seen.append(float(client.ask("p", 2)[0]))
        self.app.wait_said(["On bearing 0 2 0 ", "", "Enter Bearing"], timeout=10)
        self.assertEqual(seen, sorted(seen))
        self.assertLess(seen[0], 20)
        self.assertEqual(client.ask("+p", 4),
                         ["get_pos:", "Azimuth: 20.000000", "Elevation: 0.000000", "RPRT 0"])
        self.assertEqual(client.ask("\\set_pos 10,00 0,00"), ["RPRT 0"])  # a comma locale
        self.app.wait_said(["On bearing 0 1 0 ", "", "Enter Bearing"], timeout=10)
        self.assertEqual(client.ask("_"), ["Rotavox Controller v1.03 for Prosistel C BOX"])
        self.assertEqual(client.ask("S"), ["RPRT -4"])
        client.sock.sendall(b"q\n")
        self.assertEqual(client.sock.recv(10), b"")

    def test_limits_and_bad_input_never_stop_the_server(self):
        self.start_link()
        client = Client()
        self.addCleanup(client.close)
        self.assertEqual(client.ask("P " + "9" * 5000 + " 0"), ["RPRT -1"])  # oversized
        self.assertEqual(client.ask("\x00\xff\x02garbage"), ["RPRT -1"])
        self.assertEqual(client.ask("p", 2), ["0.000000", "0.000000"])
        half = socket.create_connection(("127.0.0.1", PORT))
        half.sendall(b"P 9")  # gone in the middle of a command
        half.close()
        time.sleep(0.3)  # let the server see it go before counting connections
        crowd = [Client() for _ in range(15)]  # 16 with the first one
        self.addCleanup(lambda: [c.close() for c in crowd])
        extra = socket.create_connection(("127.0.0.1", PORT), timeout=5)
        self.assertEqual(extra.recv(10), b"")  # one too many: closed at once
        extra.close()
        for c in crowd:
            self.assertEqual(c.ask("p", 2)[0], "0.000000")
        self.assertEqual(self.app.said()[-1], "Enter Bearing")  # nothing was turned

    def test_ten_clients_get_answers_fast_even_while_speaking(self):
        self.start_link()
        quiet = self.measure()
        self.app.key("alt+b")  # "On bearing 0", held 60 ms a character
        time.sleep(0.2)
        speaking = self.measure()
        for name, p99 in (("quiet", quiet), ("while speaking", speaking)):
            self.assertLess(p99, 20, name)

    def measure(self, clients=10, each=50):
        """The 99th percentile reply time in ms, measured by the compiled
        client, which times replies without an interpreter in the way."""
        run = subprocess.run([os.path.join(BUILD, "rotctld-latency"), str(PORT), str(clients),
                              str(each)], stdout=subprocess.PIPE, text=True, timeout=60, check=True)
        print(run.stdout.strip())
        return float(run.stdout.split("99th percentile ")[1].split(" ms")[0])


if __name__ == "__main__":
    unittest.main()
