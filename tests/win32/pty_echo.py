#!/usr/bin/env python3
"""The far end of a test serial line on a pseudo-terminal.

Prints the terminal's path on its first line, then echoes every byte it
receives until it receives "BYE", on which it hangs up (closes the line) and
exits. The line starts at 1200 baud, 7 data bits, even parity, two stop bits,
so that a program that sets 9600 8N1 visibly changes it; the settings found
with the first bytes received are printed as "line: <baud> <bits><parity><stop>".
It starts with flow control of both kinds too, shown as " flow" while it lasts.
"""
import os
import pty
import select
import sys
import termios
import time
import tty

SPEEDS = {getattr(termios, "B%d" % b): b for b in (1200, 2400, 4800, 9600, 19200, 38400)}


def describe(fd):
    iflag, oflag, cflag, lflag, ispeed, ospeed, cc = termios.tcgetattr(fd)
    bits = {termios.CS5: 5, termios.CS6: 6, termios.CS7: 7, termios.CS8: 8}[cflag & termios.CSIZE]
    parity = "N" if not cflag & termios.PARENB else ("O" if cflag & termios.PARODD else "E")
    stop = 2 if cflag & termios.CSTOPB else 1
    flow = cflag & termios.CRTSCTS or iflag & (termios.IXON | termios.IXOFF)
    return "%s %d%s%d%s" % (SPEEDS.get(ospeed, ospeed), bits, parity, stop, " flow" if flow else "")


def main():
    master, slave = pty.openpty()
    tty.setraw(slave)
    attrs = termios.tcgetattr(slave)
    attrs[2] = (attrs[2] & ~(termios.CSIZE | termios.PARODD)) | termios.CS7 | termios.PARENB \
        | termios.CSTOPB | termios.CREAD | termios.CLOCAL | termios.CRTSCTS
    attrs[0] |= termios.IXON | termios.IXOFF
    attrs[4] = attrs[5] = termios.B1200
    termios.tcsetattr(slave, termios.TCSANOW, attrs)
    print(os.ttyname(slave), flush=True)
    # The slave stays open here too, so that the program closing and
    # reopening the port does not hang the line up.
    described = False
    pending = b""
    while True:
        ready, _, _ = select.select([master], [], [], 0.5)
        if not ready:
            continue
        try:
            data = os.read(master, 4096)
        except OSError:
            time.sleep(0.02)
            continue
        if not described:
            print("line:", describe(slave), flush=True)
            described = True
        pending = (pending + data)[-3:]
        if b"BYE" in pending or b"BYE" in data:
            os.close(master)
            os.close(slave)
            return
        os.write(master, data)


if __name__ == "__main__":
    sys.exit(main())
