#!/bin/bash
# Real speech through speech-dispatcher: rotavox-say speaks with the
# speechd voice into a private speech-dispatcher whose ALSA output is a WAV
# file, and the length of that recording must match what espeak-ng makes of
# the same text (the server's default synthesizer here). Each case gets its
# own server, since the server keeps the audio device open until it ends.
# Without a sound device, the automatic voice must find out that there is
# none within 2 s. A server that rotavox-say's connection started must be
# gone when it exits; one that was running before must be left running.
#
# Usage: speechd_wav_test.sh PATH/TO/rotavox-say
# Exit status: 0 passed, 1 failed, 77 skipped (speech-dispatcher cannot
# start here).
set -u

say=${1:?usage: speechd_wav_test.sh PATH/TO/rotavox-say}
skip() { echo "skipped: $*"; exit 77; }
fail() { echo "FAILED: $*"; exit 1; }

for tool in speech-dispatcher espeak-ng sox soxi; do
  command -v "$tool" >/dev/null || skip "$tool is not installed"
done
[ -f /etc/speech-dispatcher/speechd.conf ] || skip "no /etc/speech-dispatcher/speechd.conf"

work=$(mktemp -d "${TMPDIR:-/tmp}/rotavox-speechd.XXXXXX")
failed=0

# Processes started with one case's private HOME: the server and its modules.
case_processes() {
  local home=$1 p
  for p in /proc/[0-9]*; do
    [ -r "$p/environ" ] || continue
    # A zombie has no environment left and holds nothing open.
    tr '\0' '\n' 2>/dev/null <"$p/environ" | grep -qx "HOME=$home" && echo "${p#/proc/}"
  done
}

stop_server() {
  local home=$1 pids i
  pids=$(case_processes "$home")
  [ -n "$pids" ] && kill $pids 2>/dev/null
  for i in $(seq 50); do
    pids=$(case_processes "$home")
    [ -z "$pids" ] && return 0
    sleep 0.1
  done
  kill -9 $pids 2>/dev/null
}

cleanup() {
  local d
  for d in "$work"/*/; do [ -d "$d/home" ] && stop_server "${d%/}/home"; done
  rm -rf "$work"
}
trap cleanup EXIT

# Sets up case directory $1 with a private speech-dispatcher that writes to
# $1/out.wav.
prepare() {
  local dir=$1
  mkdir -p "$dir/home/.config/speech-dispatcher" "$dir/run"
  chmod 700 "$dir/run"
  cp /etc/speech-dispatcher/speechd.conf "$dir/home/.config/speech-dispatcher/"
  printf '\nAudioOutputMethod "alsa"\n' >>"$dir/home/.config/speech-dispatcher/speechd.conf"
  cat >"$dir/home/.asoundrc" <<ASOUND
pcm.!default {
  type file
  slave.pcm "null"
  file "$dir/out.wav"
  format "wav"
}
ASOUND
}

# Runs rotavox-say in case directory $1 with the remaining arguments.
run_say() {
  local dir=$1
  shift
  env HOME="$dir/home" XDG_RUNTIME_DIR="$dir/run" XDG_CONFIG_HOME="$dir/home/.config" \
    timeout 60 "$say" "$@"
}

seconds() { sox --ignore-length "$1" -n stat 2>&1 | awk '/^Length \(seconds\)/ {print $3}'; }

# One case: name, voice option, text spoken, text espeak-ng reads for the
# reference (the same words in UTF-8).
speak_case() {
  local name=$1 voice=$2 text=$3 dir="$work/$1" status got want ratio
  prepare "$dir"
  run_say "$dir" --voice "$voice" "$text" >"$dir/say.log" 2>&1
  status=$?
  left=$(case_processes "$dir/home" | tr "\n" " ")
  stop_server "$dir/home"
  if [ -n "$left" ]; then
    echo "FAIL $name: the server started for rotavox-say outlived it ($left)"
    failed=1
  fi
  if [ $status -ne 0 ]; then
    if [ "$name" = first ] && [ ! -S "$dir/run/speech-dispatcher/speechd.sock" ]; then
      cat "$dir/say.log"
      skip "speech-dispatcher could not start here"
    fi
    cat "$dir/say.log"
    echo "FAIL $name: rotavox-say exited with $status"
    failed=1
    return
  fi
  espeak-ng -w "$dir/reference.wav" "$text" || { echo "FAIL $name: espeak-ng -w failed"; failed=1; return; }
  got=$(seconds "$dir/out.wav")
  want=$(soxi -D "$dir/reference.wav")
  ratio=$(awk -v g="${got:-0}" -v w="$want" 'BEGIN { printf "%.3f", (w > 0 ? g / w : 0) }')
  echo "$name: \"$text\" spoken $got s, espeak-ng $want s, ratio $ratio ($(head -c 200 "$dir/say.log" | tr '\n' ' '))"
  if ! awk -v r="$ratio" 'BEGIN { exit !(r >= 0.75 && r <= 1.30) }'; then
    echo "FAIL $name: recorded length is not within 25 % of espeak-ng's"
    failed=1
  fi
}

speak_case first speechd "On bearing 0 9 0 "
speak_case accents speechd "Caf$(printf '\xc3\xa9') au lait, 5 $(printf '\xe2\x82\xac')"
speak_case automatic auto "No response from the C BOX"

# The operator's own rate reaches the server: the fastest is well quicker.
dir="$work/fast"
prepare "$dir"
run_say "$dir" --voice speechd --rate 10 "On bearing 0 9 0 " >"$dir/say.log" 2>&1
stop_server "$dir/home"
fast=$(seconds "$dir/out.wav") normal=$(seconds "$work/first/out.wav")
echo "rate 10: \"On bearing 0 9 0 \" spoken in ${fast:-?} s, ${normal:-?} s at the default rate"
if ! awk -v f="${fast:-0}" -v n="${normal:-0}" 'BEGIN { exit !(f > 0 && n > 0 && f < 0.8 * n) }'; then
  echo "FAIL rate: --rate 10 did not speak faster"
  failed=1
fi

# A rate the server refuses leaves the voice at its own rate, still
# speaking. No server refuses one from -100 to 100, so libspeechd's call is
# made to answer as a refusal does.
dir="$work/refused"
prepare "$dir"
printf '#include <libspeechd.h>\nint spd_set_voice_rate(SPDConnection* c, signed int r) { (void)c; (void)r; return -1; }\n' \
  >"$dir/refuse.c"
if cc -shared -fPIC $(pkg-config --cflags speech-dispatcher) -o "$dir/refuse.so" "$dir/refuse.c"; then
  LD_PRELOAD="$dir/refuse.so" run_say "$dir" --voice speechd --rate 10 "On bearing 0 9 0 " >"$dir/say.log" 2>&1
  status=$?
  stop_server "$dir/home"
  refused=$(seconds "$dir/out.wav" 2>/dev/null)
  echo "refused rate: exit status $status, spoken in ${refused:-?} s, ${normal:-?} s at the default rate"
  if [ $status -ne 0 ] || ! awk -v r="${refused:-0}" -v n="${normal:-0}" 'BEGIN { exit !(r > 0.85 * n && r < 1.15 * n) }'; then
    cat "$dir/say.log"
    echo "FAIL refused rate: not spoken at the voice's own rate"
    failed=1
  fi
else
  echo "FAIL refused rate: the stand-in for libspeechd's call did not build"
  failed=1
fi

# No sound device: the server's output (and espeak-ng's) is an ALSA card
# that does not exist, and there is no sound server.
no_sound() {
  local dir="$work/$1"
  prepare "$dir"
  printf 'pcm.!default { type hw card 99 }\n' >"$dir/home/.asoundrc"
  echo "$dir"
}
millis() { echo $(($(date +%s%N) / 1000000)); }
# Running, and not a zombie.
alive() {
  local state
  state=$([ -n "$1" ] && awk '{print $3}' "/proc/$1/stat" 2>/dev/null)
  [ -n "$state" ] && [ "$state" != Z ]
}

dir=$(no_sound silent)
begin=$(millis)
PULSE_SERVER=unix:/nonexistent run_say "$dir" --voice auto "Hello" >"$dir/say.log" 2>&1
status=$? took=$(($(millis) - begin)) left=$(case_processes "$dir/home" | tr "\n" " ")
stop_server "$dir/home"
echo "no sound: exit status $status after $took ms, left behind: ${left:-nothing}"
[ $status -eq 1 ] || { cat "$dir/say.log"; echo "FAIL no sound: not reported as no voice"; failed=1; }
[ $took -lt 2000 ] || { echo "FAIL no sound: no voice took $took ms to find out"; failed=1; }
[ -z "$left" ] || { echo "FAIL no sound: processes left behind"; failed=1; }

# The same with a server that was running before: it stays.
dir=$(no_sound theirs)
env HOME="$dir/home" XDG_RUNTIME_DIR="$dir/run" XDG_CONFIG_HOME="$dir/home/.config" \
  PULSE_SERVER=unix:/nonexistent speech-dispatcher --spawn >/dev/null 2>&1
# Until the server has gone into the background, its pid file names the
# process that started it.
for _ in $(seq 100); do
  server=$(cat "$dir/run/speech-dispatcher/pid/speech-dispatcher.pid" 2>/dev/null)
  alive "$server" && break
  sleep 0.02
done
PULSE_SERVER=unix:/nonexistent run_say "$dir" --voice auto "Hello" >"$dir/say.log" 2>&1
if ! alive "$server"; then
  echo "FAIL no sound: the server that was running before is gone (${server:-never started})"
  failed=1
fi
# Without sound it no longer heeds SIGTERM.
[ -n "$server" ] && kill -9 "$server" 2>/dev/null
stop_server "$dir/home"

# The beep: libcanberra's bell event sound through the same ALSA file device.
dir="$work/beep"
prepare "$dir"
run_say "$dir" --beep >"$dir/say.log" 2>&1
beep_seconds=$(seconds "$dir/out.wav" 2>/dev/null)
echo "beep: $(cat "$dir/say.log"), recorded ${beep_seconds:-0} s"
if ! awk -v s="${beep_seconds:-0}" 'BEGIN { exit !(s > 0.1) }'; then
  echo "FAIL beep: the bell sound was not played"
  failed=1
fi

[ $failed -eq 0 ] || fail "see above"
echo "passed"
