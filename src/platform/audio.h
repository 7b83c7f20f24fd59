// Audio output for the dial sound and the terminal's ANSI music: signed PCM
// at a given rate, queued, polled every tick until it has played, and
// stopped at once on cancel or Escape.
//
// SDL backend: SDL audio (PulseAudio, PipeWire, ALSA, or what
// SDL_AUDIODRIVER names).  When no device opens, plat_audio_open fails and
// the caller carries on without sound.  Headless backend: nothing is heard;
// every open, queue and stop is recorded, and the queue drains at the
// stream's rate by the platform clock (clock_ms, which tests can set).
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

struct PlatAudio;

// Sample layouts, numbered as the device numbers them (the same numbers as
// the dial recordings' converter in session/wave.h): signed 8-bit samples,
// or signed 16-bit samples in big-endian order, channels interleaved.
enum PlatAudioFormat : int {
  PLAT_AUDIO_MONO8 = 0,
  PLAT_AUDIO_MONO16 = 1,
  PLAT_AUDIO_STEREO8 = 2,
  PLAT_AUDIO_STEREO16 = 3,
};

// Sample rates the output takes, in samples per second.
constexpr uint32_t PLAT_AUDIO_MIN_RATE = 1000;
constexpr uint32_t PLAT_AUDIO_MAX_RATE = 384000;

// Bytes of one frame (one sample of every channel); 0 for an unknown format.
int plat_audio_frame_bytes(int format);

// Opens an output for the rate and format; null when either is out of range
// or no audio device opens.
PlatAudio* plat_audio_open(uint32_t rate, int format);
// Adds the bytes (whole frames) to the queue and plays; 0, or -1 when len is
// not a whole number of frames or the device refuses them.
int plat_audio_queue(PlatAudio* audio, const void* bytes, size_t len);
// Bytes still waiting to be played; 0 once all has played (or for null).
size_t plat_audio_queued(PlatAudio* audio);
// Square waves, as ANSI music is played: a tone of freq_millihz (0 is a
// pause) for sound_ms, then silence_ms of silence, appended to the queue.
// Only for an output opened as PLAT_AUDIO_MONO8; 0, or -1 when the output
// is of another format or refuses the samples.
int plat_audio_queue_tone(PlatAudio* audio, uint32_t freq_millihz, uint32_t sound_ms,
                          uint32_t silence_ms);
// Drops everything still queued, at once.
void plat_audio_stop(PlatAudio* audio);
// Stops and closes the output.
void plat_audio_close(PlatAudio* audio);

// -------------------------------------------------------- headless extras --

// What the headless output was asked to do since the last reset.  In the SDL
// backend nothing is recorded.
struct PlatAudioRecord {
  int opens = 0;
  int closes = 0;
  int stops = 0;
  uint32_t rate = 0;            // of the last open
  int format = -1;              // of the last open
  std::vector<uint8_t> queued;  // every byte queued, in order
  size_t played = 0;            // how many of them have been played
  size_t dropped = 0;           // how many a stop threw away
};
const PlatAudioRecord& plat_headless_audio_record();
void plat_headless_audio_reset();
// Whether an output can be opened (false simulates a missing device; in the
// SDL backend too).
void plat_headless_set_audio_available(bool available);
