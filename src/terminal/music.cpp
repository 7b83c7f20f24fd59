// ANSI music: the strings BBS doors send after ESC [ | (or ESC [ N, ESC [ M)
// up to SO, in the language of BASIC's PLAY statement with the CTerm
// conventions (tempo 32..255 quarter notes a minute, octaves 0..6 whose C
// is 65.406 Hz times a power of two, note numbers 0..71), played as square
// waves through the platform's audio output.
//
// Music in the foreground holds the display, as the hosts that send it
// expect: the bytes that follow it wait in the terminal's hold buffer, and
// the session reads nothing more from the connection until it has played.
// The keyboard stays live, and Escape stops the music.  Background music
// plays while everything goes on.
//
// The notes wait in a fixed ring and are handed to the output half a second
// ahead, so a long string never fills memory with samples and a stop is
// heard at once.  Nothing is allocated per byte or per note.
#include <cmath>
#include <cstring>

#include "platform/audio.h"
#include "terminal/terminal.h"

int g_ansi_music_enabled = 1;

namespace {

constexpr uint32_t kRate = 44100;
// Notes waiting for the output: a whole string of the longest kind, and
// background music queued after it is cut at this.
constexpr int kMaxNotes = kTermMusicBuf;
constexpr uint32_t kAheadMs = 500;

// C in octave 0, in millihertz.
constexpr double kLowestC = 65406.0;
constexpr int kNoteNumbers = 72;  // N 0..71
constexpr int kHighestSemitone = 6 * 12 + 11;

struct Player {
  PlatAudio* audio = nullptr;
  TermMusicNote notes[kMaxNotes];
  int head = 0;
  int count = 0;
};
Player g_player;
TermMusicNote g_parsed[kMaxNotes];

int upper(uint8_t c) {
  return c >= 'a' && c <= 'z' ? c - 32 : c;
}

bool digit(uint8_t c) {
  return c >= '0' && c <= '9';
}

// Reads a decimal number at s[*i] (saturating); false when there is none.
bool read_number(const uint8_t* s, size_t len, size_t* i, int* value) {
  if (*i >= len || !digit(s[*i])) return false;
  int v = 0;
  while (*i < len && digit(s[*i])) {
    v = v * 10 + (s[*i] - '0');
    if (v > 99999) v = 99999;
    (*i)++;
  }
  *value = v;
  return true;
}

int clamp(int v, int lo, int hi) {
  return v < lo ? lo : v > hi ? hi : v;
}

uint32_t note_frequency(int semitone) {
  if (semitone < 0 || semitone > kHighestSemitone) return 0;
  return static_cast<uint32_t>(std::lround(kLowestC * std::pow(2.0, semitone / 12.0)));
}

// A note (or a pause, with frequency 0) of 1/length of a whole note,
// dotted or not, shaped by the articulation.
TermMusicNote make_note(const TermMusicState& st, uint32_t freq, int length, bool dotted,
                        bool pause) {
  // A whole note is four quarter notes: 240000 / tempo milliseconds.
  uint32_t ms = static_cast<uint32_t>(240000 * (dotted ? 3 : 2) / (st.tempo * length * 2));
  if (pause || freq == 0) return TermMusicNote{0, 0, ms};
  uint32_t sound = st.articulation == 1 ? ms : st.articulation == 2 ? ms * 3 / 4 : ms * 7 / 8;
  return TermMusicNote{freq, sound, ms - sound};
}

// The settings as numbers, defaults filled in (a zeroed record is all
// defaults), and back.
TermMusicState unpack(const TermMusicState& s) {
  TermMusicState u = s;
  u.tempo = s.tempo ? clamp(s.tempo, 32, 255) : 120;
  u.octave = s.octave ? clamp(s.octave - 1, 0, 6) : 4;
  u.length = s.length ? clamp(s.length, 1, 64) : 4;
  return u;
}

TermMusicState pack(const TermMusicState& u) {
  TermMusicState s = u;
  s.octave = u.octave + 1;
  return s;
}

void feed_output() {
  Player& p = g_player;
  if (!p.audio) return;
  while (p.count > 0 && plat_audio_queued(p.audio) < kRate * kAheadMs / 1000) {
    const TermMusicNote& n = p.notes[p.head];
    if (plat_audio_queue_tone(p.audio, n.freq_millihz, n.sound_ms, n.silence_ms) != 0) {
      p.count = 0;  // the device refuses: the rest is not played
      return;
    }
    p.head = (p.head + 1) % kMaxNotes;
    p.count--;
  }
}

bool playing() {
  return g_player.count > 0 || (g_player.audio && plat_audio_queued(g_player.audio) > 0);
}

}  // namespace

int term_music_parse(TermMusicState* state, const uint8_t* s, size_t len, int introducer,
                     TermMusicNote* out, int max) {
  if (!state || (!s && len > 0) || !out || max <= 0) return 0;
  TermMusicState st = unpack(*state);
  int n = 0;
  size_t i = 0;
  // After ESC [ M the M of MF, MB, ML, MN or MS was read as the introducer:
  // such a string reads as if it started with M.
  bool implied_m = false;
  if (introducer == 'M' && len > 0) {
    int c = upper(s[0]);
    implied_m =
        c == 'B' || c == 'F' || c == 'L' || c == 'S' || (c == 'N' && !(len > 1 && digit(s[1])));
  }
  while (i < len && n < max) {
    int c = implied_m ? 'M' : upper(s[i++]);
    implied_m = false;
    int value = 0;
    switch (c) {
      case 'M': {
        int m = i < len ? upper(s[i]) : 0;
        if (m == 'F' || m == 'B') st.background = m == 'B';
        if (m == 'N' || m == 'L' || m == 'S') st.articulation = m == 'N' ? 0 : m == 'L' ? 1 : 2;
        if (m == 'F' || m == 'B' || m == 'N' || m == 'L' || m == 'S') i++;
        break;
      }
      case 'T':
        if (read_number(s, len, &i, &value)) st.tempo = clamp(value, 32, 255);
        break;
      case 'O':
        if (read_number(s, len, &i, &value)) st.octave = clamp(value, 0, 6);
        break;
      case 'L':
        if (read_number(s, len, &i, &value) && value >= 1 && value <= 64) st.length = value;
        break;
      case '<':
        if (st.octave > 0) st.octave--;
        break;
      case '>':
        if (st.octave < 6) st.octave++;
        break;
      case 'N':
      case 'P':
      case 'A':
      case 'B':
      case 'C':
      case 'D':
      case 'E':
      case 'F':
      case 'G': {
        static constexpr int kSemitone[7] = {9, 11, 0, 2, 4, 5, 7};  // A..G
        int semitone = 0;
        bool valid = true;
        if (c == 'N') {
          if (!read_number(s, len, &i, &value)) break;
          semitone = value;
          valid = value < kNoteNumbers;
        } else if (c != 'P') {
          semitone = st.octave * 12 + kSemitone[c - 'A'];
        }
        int length = st.length;
        bool dotted = false;
        // Modifiers, in order; a later one overrides an earlier.
        while (i < len) {
          uint8_t m = s[i];
          if (m == '+' || m == '#') {
            semitone++;
          } else if (m == '-') {
            semitone--;
          } else if (m == '.') {
            dotted = true;  // not cumulative: C.. is C.
          } else if (digit(m) && c != 'N') {
            read_number(s, len, &i, &value);
            if (value >= 1 && value <= 64) length = value;
            continue;
          } else {
            break;
          }
          i++;
        }
        uint32_t freq = valid ? note_frequency(semitone) : 0;
        out[n++] = make_note(st, freq, length, dotted, c == 'P');
        break;
      }
      default:
        break;  // spaces, and anything out of place
    }
  }
  *state = pack(st);
  return n;
}

void term_music_play(Terminal* t, const uint8_t* s, size_t len, int introducer) {
  if (!t || !g_ansi_music_enabled) return;
  int n = term_music_parse(&t->music, s, len, introducer, g_parsed, kMaxNotes);
  if (n == 0) return;
  Player& p = g_player;
  if (!p.audio) p.audio = plat_audio_open(kRate, PLAT_AUDIO_MONO8);
  if (!p.audio) return;  // no audio device: the music is not heard, nothing waits
  for (int k = 0; k < n && p.count < kMaxNotes; k++) {
    p.notes[(p.head + p.count) % kMaxNotes] = g_parsed[k];
    p.count++;
  }
  feed_output();
  if (!t->music.background) {
    t->ansi_state = ANSI_HELD;
    t->hold_len = 0;
  }
}

void term_music_release(Terminal* t) {
  if (!t || t->ansi_state != ANSI_HELD) return;
  t->ansi_state = ANSI_GROUND;
  int n = t->hold_len;
  t->hold_len = 0;
  if (n <= 0 || n > kTermHoldBuf) return;
  // Replayed from a copy: the bytes may start foreground music again, and
  // those after it are then held anew.
  static uint8_t replay[kTermHoldBuf];
  memcpy(replay, t->hold_buf, static_cast<size_t>(n));
  for (int i = 0; i < n; i++) term_consume_byte(t, replay[i]);
}

void term_music_pump(Terminal* t) {
  feed_output();
  if (playing()) return;
  if (g_player.audio) {
    plat_audio_close(g_player.audio);
    g_player.audio = nullptr;
  }
  term_music_release(t);
}

int term_music_stop(Terminal* t) {
  bool had = playing() || term_music_holding(t);
  g_player.count = 0;
  if (g_player.audio) {
    plat_audio_stop(g_player.audio);
    plat_audio_close(g_player.audio);
    g_player.audio = nullptr;
  }
  term_music_release(t);
  return had ? 1 : 0;
}

void term_music_end(Terminal* t) {
  if (t && t->ansi_state == ANSI_HELD) {
    t->hold_len = 0;
    t->ansi_state = ANSI_GROUND;
  }
  term_music_stop(t);
}
