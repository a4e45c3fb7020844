#!/usr/bin/env python3
"""One whole session of the real program under valgrind's memcheck: start-up,
START answered by the stop report, a GO that arrives, Alt+B and EXIT. Any
memory error, or a leak that is definitely ours, fails it (valgrind's exit
code 99); valgrind.supp holds only the toolkit's and the loader's own.
Skipped (77) where valgrind is not installed. Everything runs 20 to 50 times
slower under valgrind, so every wait is long."""

import os
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "linux", "e2e"))
from harness import CBox, Display, Rotavox, wait_for  # noqa: E402

SLOW = 120  # seconds for any one step


def shown(display):
    r = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "Rotavox Controller"],
                       env=display.env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=20)
    return r.stdout.decode().split()


def main():
    valgrind = shutil.which("valgrind")
    if not valgrind:
        print("valgrind is not installed")
        return 77
    report = os.path.join(os.environ.get("ROTAVOX_BUILD_DIR", "."), "artifacts", "valgrind-session.log")
    os.makedirs(os.path.dirname(report), exist_ok=True)
    wrapper = [valgrind, "--tool=memcheck", "--error-exitcode=99", "--leak-check=full",
               "--errors-for-leak-kinds=definite", "--num-callers=40",
               # Children forked by the libraries (D-Bus's launcher) are not
               # the program: only its own report counts.
               "--child-silent-after-fork=yes",
               *os.environ.get("ROTAVOX_VALGRIND_EXTRA", "").split(),
               f"--suppressions={os.path.join(HERE, 'valgrind.supp')}",
               f"--log-file={report}"]
    with Display() as display:
        box = CBox()
        app = Rotavox(display, ["--map-port", f"COM7={box.path}"], b'"7",1\r\n', prefix=wrapper)
        try:
            app.wait_said(["Rotavox Controller ", "Set Com Port"], SLOW)
            app.wait_window(SLOW)
            # The window is found before it is mapped; keys reach it only
            # once it is shown and active, which takes a while here.
            wait_for(lambda: app.window in shown(display), SLOW, "the window to be shown")
            display.xdotool("windowactivate", "--sync", app.window)
            wait_for(lambda: display.xdotool("getactivewindow").strip() == app.window, SLOW,
                     "the window to be active")
            time.sleep(2)
            app.key("alt+s")  # START
            assert box.frames(2, SLOW) == [b"\x02AM\r", b"\x02AL\r"]
            app.wait_said(["Started"], SLOW)
            box.send("A,M,R", "A,L,10,0,1")
            app.wait_said(["On Bearing 0 1 0 ", "", "Enter Bearing"], SLOW)

            app.type("90")
            app.wait_said(["9 ", "9 0 "], SLOW)
            app.key("Return")  # GO
            assert box.frames(1, SLOW) == [b"\x02AG90\r"]
            for bearing in (12, 30, 60, 89):
                box.send(f"A,?,{bearing:03},B")
                time.sleep(0.3)
            box.send("A,?,090,R")
            app.wait_said(["On bearing 0 9 0 ", "", "Enter Bearing"], SLOW)

            app.key("alt+b")
            app.wait_said(["On bearing 090"], SLOW)
            app.key("alt+x")  # EXIT
            app.wait_said(["Goodbye"], SLOW)
            code = app.wait_exit(SLOW * 2)
            assert app.stat_dat() == b'"7",1\r\n', app.stat_dat()
        finally:
            app.close()
            box.close()
    with open(report) as f:
        log = f.read()
    if code != 0:
        print(log)
        print(f"rotavox under valgrind ended with {code}" + (" (errors)" if code == 99 else ""))
        return 1
    print("\n".join(l for l in log.splitlines() if "ERROR SUMMARY" in l or "definitely" in l))
    return 0


if __name__ == "__main__":
    sys.exit(main())
