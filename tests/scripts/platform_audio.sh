#!/usr/bin/env bash
# The audio output through SDL's file-writing driver (SDL_AUDIODRIVER=disk,
# SDL_DISKAUDIOFILE), driven by kavel-audioprobe, which polls every tick as
# the dialing step does:
#   - the bytes that reach the driver are the queued samples, unchanged
#     (signed 8-bit mono at 11025 Hz as the dial recordings play, and signed
#     16-bit big-endian stereo), with only silence before and after them;
#   - the queue drains in about the sound's length;
#   - a stop drops the queue at once: the driver gets the samples consumed
#     before the stop (give or take the device's one-tick buffer) and nothing
#     of the sound after it (the open
#     device goes on writing silence), and once closed the file stops growing;
#   - no audio device, or a rate out of range: the output does not open;
#   - ANSI music through the terminal's player (kavel-musicprobe): each note
#     at its pitch for its length (a Goertzel filter over each note), and the
#     display held until the music has played.
# Usage: platform_audio.sh BUILD_DIR SOURCE_DIR   (exit 77: skipped)
set -u
BUILD=${1:?build dir}
PROBE="$BUILD/kavel-audioprobe"
for tool in python3 timeout; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool not installed"; exit 77; }
done
[ -x "$PROBE" ] || { echo "FAIL: $PROBE not built"; exit 1; }
MUSIC="$BUILD/kavel-musicprobe"
[ -x "$MUSIC" ] || { echo "FAIL: $MUSIC not built"; exit 1; }
work=$(mktemp -d)
probe_pid=
trap '[ -n "$probe_pid" ] && kill "$probe_pid" 2>/dev/null; rm -rf "$work"' EXIT
fail=0
expect() {  # description, command...
  local what=$1; shift
  if "$@"; then echo "ok: $what"; else echo "FAIL: $what"; fail=1; fi
}

# Sample files with no zero byte, so that silence (0) and sound never mix up.
python3 - "$work" <<'EOF'
import struct, sys
work = sys.argv[1]
open(work + '/mono8.raw', 'wb').write(bytes((i * 37) % 254 + 1 for i in range(11025)))
open(work + '/long8.raw', 'wb').write(bytes((i * 37) % 254 + 1 for i in range(11025 * 10)))
frames = (struct.pack('>hh', (i * 523) % 30000 + 300, -((i * 311) % 30000 + 300)) for i in range(22050))
open(work + '/stereo16.raw', 'wb').write(b''.join(frames))
EOF

play() {  # out-file probe-args...
  local out=$1; shift
  rm -f "$out"
  SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$out" timeout 60 "$PROBE" "$@" >"$work/probe.out" 2>"$work/probe.err"
  status=$?
}

# The file is silence, the samples, silence.
samples_reached_driver() {  # driver-file samples-file
  python3 - "$1" "$2" <<'EOF'
import sys
d = open(sys.argv[1], 'rb').read()
s = open(sys.argv[2], 'rb').read()
lead = len(d) - len(d.lstrip(b'\0'))
core = d.strip(b'\0')
print(f'  driver file {len(d)} bytes: {lead} silent, {len(core)} of sound, then silence')
sys.exit(0 if core == s else 1)
EOF
}

drained_in() {  # lo-ms hi-ms
  local ms
  ms=$(sed -n 's/^drained after \([0-9]*\) ms$/\1/p' "$work/probe.out")
  echo "  drained after ${ms:-?} ms"
  [ -n "$ms" ] && [ "$ms" -ge "$1" ] && [ "$ms" -le "$2" ]
}

play "$work/out8.raw" --rate 11025 --format mono8 "$work/mono8.raw"
expect "signed 8-bit mono at 11025 Hz plays" test "$status" = 0
expect "  the driver gets exactly the queued samples" samples_reached_driver "$work/out8.raw" "$work/mono8.raw"
expect "  one second of sound drains in about a second" drained_in 900 1500

play "$work/out16.raw" --rate 22050 --format stereo16 "$work/stereo16.raw"
expect "signed 16-bit big-endian stereo at 22050 Hz plays" test "$status" = 0
expect "  the driver gets exactly the queued samples" samples_reached_driver "$work/out16.raw" "$work/stereo16.raw"
expect "  one second of sound drains in about a second" drained_in 900 1500

# Stop half a second into ten seconds of sound, keep the device open a second
# longer, then close; the probe runs in the background so the file can be
# watched after the close.
rm -f "$work/stop.raw"
SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$work/stop.raw" timeout 60 "$PROBE" --stop-after 500 --hold 1000 \
  "$work/long8.raw" >"$work/probe.out" 2>"$work/probe.err" &
probe_pid=$!
wait "$probe_pid"
status=$?
probe_pid=
cat "$work/probe.out" | sed 's/^/  /'
stopped_cleanly() {
  local consumed after
  consumed=$(sed -n 's/.*(\([0-9]*\) consumed).*/\1/p' "$work/probe.out")
  after=$(sed -n 's/.*; \([0-9]*\) queued after the stop$/\1/p' "$work/probe.out")
  [ -n "$consumed" ] && [ "$after" = 0 ] || return 1
  python3 - "$work/stop.raw" "$work/long8.raw" "$consumed" <<'EOF'
import sys
d = open(sys.argv[1], 'rb').read()
s = open(sys.argv[2], 'rb').read()
consumed = int(sys.argv[3])
sound = d.lstrip(b'\0')
lead = len(d) - len(sound)
played = len(sound.rstrip(b'\0'))
print(f'  {consumed} bytes consumed before the stop, {played} of sound reached the driver, '
      f'{len(sound) - played} bytes of silence after it')
# The device may take one more buffer between the probe's last look at the
# queue and the stop: a few hundred bytes (the buffer is about one tick).
ok = (consumed <= played <= consumed + 1024 and sound[:played] == s[:played]
      and played < len(s) // 4 and sound[played:].count(0) == len(sound) - played)
sys.exit(0 if ok else 1)
EOF
}
expect "a stop half a second in" test "$status" = 0
expect "  the queue is empty at once and the driver got only the sound before the stop" stopped_cleanly
size1=$(stat -c %s "$work/stop.raw")
sleep 0.3
size2=$(stat -c %s "$work/stop.raw")
expect "  after the close the file stops growing ($size1 then $size2 bytes)" test "$size1" = "$size2"

SDL_AUDIODRIVER=no-such-driver timeout 20 "$PROBE" "$work/mono8.raw" >"$work/probe.out" 2>&1
expect "no audio device: the output does not open (status 3)" test $? = 3
for rate in 0 999 384001 4294967295; do
  play "$work/any.raw" --rate "$rate" "$work/mono8.raw"
  expect "rate $rate: the output does not open (status 3)" test "$status" = 3
done
# Music: legato quarter notes at tempo 120 (half a second each), O2 A (440 Hz),
# O3 C (523.25 Hz), O3 E (659.26 Hz), then an eighth-note pause and O4 A
# (1760 Hz); the pause is silent.
rm -f "$work/music.raw"
SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$work/music.raw" timeout 60 "$MUSIC" "ML T120 L4 O2 A O3 C E P8 O4 A" \
  >"$work/music.out" 2>"$work/music.err"
status=$?
sed 's/^/  /' "$work/music.out"
expect "a music string plays through the disk driver" test "$status" = 0
music_pitches() {
  python3 - "$work/music.raw" <<'EOF'
import math, sys
d = open(sys.argv[1], 'rb').read()
s = [b - 256 if b > 127 else b for b in d]
start = next((i for i, v in enumerate(s) if v), None)
if start is None:
    print('  no sound in the driver file'); sys.exit(1)
rate = 44100
def power(seg, hz):
    k = 2 * math.cos(2 * math.pi * hz / rate)
    a = b = 0.0
    for x in seg:
        a, b = x + k * a - b, a
    return a * a + b * b - k * a * b
candidates = [440.0, 523.25, 659.26, 1760.0, 466.16, 493.88, 587.33, 698.46, 880.0]
notes = [(0, 440.0), (1, 523.25), (2, 659.26), (3.5, 1760.0)]  # start, in quarter notes
ok = True
for at, hz in notes:
    # The middle of each note, away from its edges.
    seg = s[start + int((at + 0.1) * 22050): start + int((at + 0.9) * 22050)]
    best = max(candidates, key=lambda f: power(seg, f))
    print(f'  note at {at * 0.5:.3f} s: strongest of the candidates {best} Hz (expected {hz})')
    ok = ok and best == hz and len(seg) > 10000
pause = s[start + int(3.02 * 22050): start + int(3.48 * 22050)]
print(f'  the eighth-note pause: {sum(1 for v in pause if v)} non-zero samples')
ok = ok and not any(pause)
sys.exit(0 if ok else 1)
EOF
}
expect "  every note at its pitch, the pause silent" music_pitches
held_for() {  # lo-ms hi-ms
  local ms
  ms=$(sed -n "s/^display went on after \([0-9]*\) ms with 'X'$/\1/p" "$work/music.out")
  [ -n "$ms" ] && [ "$ms" -ge "$1" ] && [ "$ms" -le "$2" ]
}
expect "  the text after the music waited until it had played (about 2.25 s)" held_for 2000 3500

exit $fail
