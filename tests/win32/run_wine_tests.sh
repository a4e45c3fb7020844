#!/usr/bin/env bash
# Runs the Windows edition's tests under Wine, in a prefix of their own.
#
#   run_wine_tests.sh BUILD_DIR [PREFIX]
#
# BUILD_DIR holds rotavox_tests.exe, rotavox_win32_tests.exe, fake_sapi.dll
# and sapi_probe.exe. PREFIX (default BUILD_DIR/wine-prefix) is created on
# first use. The test voice is registered with regsvr32 (its
# DllRegisterServer points SAPI.SpVoice at it), and the serial tests get
# COM12 on a pseudo-terminal whose far end echoes (pty_echo.py), linked in
# through the prefix's dosdevices. Exits 77 when Wine is not installed.
set -u
here=$(cd "$(dirname "$0")" && pwd)
bin=$(cd "$1" && pwd)
export WINEPREFIX=${2:-$bin/wine-prefix}
export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
command -v wine >/dev/null || { echo "wine not installed"; exit 77; }

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot --init >/dev/null 2>&1
  wineserver -w
fi
# A server of our own, in the foreground of this shell's session, before
# any pty is opened: a server started by wine itself leads a session of its
# own, the first pty it opens becomes its controlling terminal, and the hang
# up of the far end then sends it SIGHUP.
wineserver -k 2>/dev/null
wineserver -w
wineserver -f -p &
server=$!
trap '[ -n "${peer:-}" ] && kill "$peer" 2>/dev/null; wineserver -k 2>/dev/null; wait "$server" 2>/dev/null' EXIT

failures=0
step() {
  local name=$1; shift
  echo "=== $name"
  if "$@"; then echo "=== $name: passed"; else echo "=== $name: FAILED"; failures=$((failures + 1)); fi
}

step "core tests" wine "$bin/rotavox_tests.exe"

wine regsvr32 /s "$(winepath -w "$bin/fake_sapi.dll")" || echo "regsvr32 fake_sapi.dll failed"
step "SAPI voice against the test voice" wine "$bin/sapi_probe.exe"

# COM12: above COM9, so it is reached only through the \\.\ device prefix.
out=$(mktemp)
python3 "$here/pty_echo.py" >"$out" &
peer=$!
for _ in $(seq 50); do [ -s "$out" ] && break; sleep 0.1; done
tty=$(head -n1 "$out")
ln -sfn "$tty" "$WINEPREFIX/dosdevices/com12"
step "Win32 store and port" env ROTAVOX_TEST_COM=COM12 wine "$bin/rotavox_win32_tests.exe"
# The far end ends on "BYE"; if the tests never got that far, end it.
for _ in $(seq 20); do kill -0 "$peer" 2>/dev/null || break; sleep 0.1; done
kill "$peer" 2>/dev/null
wait "$peer" 2>/dev/null
peer=
line=$(grep '^line:' "$out" | head -n1)
echo "far end saw $line"
if [ "$line" = "line: 9600 8N1" ]; then
  echo "=== line settings: passed"
else
  echo "=== line settings: FAILED (wanted 9600 8N1)"
  failures=$((failures + 1))
fi
rm -f "$out" "$WINEPREFIX/dosdevices/com12"

echo "$failures step(s) failed"
[ "$failures" -eq 0 ]
