// layers: terminal
// Arbitrary music strings read by the PLAY-language parser, with the
// settings carried from one input to the next as they are from one string
// to the next.  The first byte picks the introducer (ESC [ M reads a leading
// F, B, L, S or N as a mode).  Notes must stay within the table (the highest
// note of octave 6) and the longest note (a dotted whole at tempo 32), the
// count within the space given, and the settings within their ranges.
#include <cstdint>
#include <cstdlib>

#include "terminal/terminal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static TermMusicState state{};
  static TermMusicNote notes[kTermMusicBuf];
  if (size == 0) return 0;
  int introducer = data[0] & 1 ? 'M' : '|';
  size_t len = size - 1 > kTermMusicBuf ? kTermMusicBuf : size - 1;
  int max = 1 + data[0] % kTermMusicBuf;
  int n = term_music_parse(&state, data + 1, len, introducer, notes, max);
  if (n < 0 || n > max) abort();
  for (int i = 0; i < n; i++) {
    const TermMusicNote& note = notes[i];
    if (note.freq_millihz > 7902200) abort();  // B in octave 6
    if (note.sound_ms + note.silence_ms > 11250 || note.sound_ms + note.silence_ms == 0) abort();
    if (note.freq_millihz == 0 && note.sound_ms != 0) abort();
  }
  if (state.tempo < 32 || state.tempo > 255 || state.octave < 1 || state.octave > 7 ||
      state.length < 1 || state.length > 64 || state.articulation < 0 || state.articulation > 2)
    abort();
  return 0;
}
