// The dial recordings as the audio output takes them: validation of a RIFF
// WAVE file held in memory, conversion of its PCM samples to the signed
// form the audio device plays, and which recording a settings name picks.
//
// Pure code over byte buffers (no files, no device), so that the dialing
// step, the tests and the fuzzer all run the same parser.  Every failure is
// a plain -1: the dialing step then falls back to its one-second pause
// without telling the user, because a missing dial sound is no reason to
// stop a call.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

// Sample layouts of the audio output, numbered as the device numbers them.
enum WaveSampleType : int {
  kWaveMono8 = 0,
  kWaveMono16 = 1,
  kWaveStereo8 = 2,
  kWaveStereo16 = 3,
};

// What the chunk walk found.  `data` points into the caller's buffer.
struct WaveInfo {
  uint16_t format = 0;    // 1 = PCM
  uint16_t channels = 0;  // 1 or 2
  uint32_t rate = 0;      // samples per second, never 0
  uint16_t bits = 0;      // 8 or 16
  const uint8_t* data = nullptr;
  uint32_t data_size = 0;  // the "data" chunk's size as stored
};

// A recording converted for playback: signed 8-bit samples, or signed
// 16-bit samples in big-endian order, channels interleaved.
struct WavePcm {
  std::unique_ptr<uint8_t[]> bytes;
  size_t size = 0;  // whole frames, even, never 0 after a successful prepare
  int sample_type = kWaveMono8;
  uint32_t rate = 0;
};

// Walks the chunks and checks the format.  0 with *out filled, or -1 when
// the bytes are not a playable PCM WAVE: shorter than 44 bytes, no RIFF/WAVE
// header, no "fmt " chunk of at least 16 bytes, no non-empty "data" chunk,
// not PCM, not 1 or 2 channels, a rate of 0, or not 8 or 16 bits.  A chunk
// whose body would run past the end stops the walk (its size is compared
// with the bytes left, so a size near 2^32 cannot wrap the position);
// odd-sized chunks are followed by a pad byte; the last "fmt " and the last
// "data" chunk win.
int wave_parse(const uint8_t* bytes, size_t len, WaveInfo* out);

// The number of sample bytes played: the data size cut to whole frames
// (channels x bytes per sample) and then to an even count.  0 means there is
// nothing to play.
size_t wave_play_bytes(const WaveInfo& info);

// The device's sample type for the format (kWaveMono8 ... kWaveStereo16).
int wave_sample_type(const WaveInfo& info);

// Converts the first wave_play_bytes(info) bytes into out, which must hold
// that many: 8-bit samples lose their 128 offset, 16-bit samples turn from
// little- to big-endian.  Returns the bytes written.
size_t wave_convert(const WaveInfo& info, uint8_t* out);

// Parse, size, allocate and convert in one step.  0, or -1 for a file that
// does not validate, has nothing to play, or when the buffer cannot be
// allocated (out is then left empty).
int wave_prepare(const uint8_t* bytes, size_t len, WavePcm* out);

// Which built-in recording a modem sound setting plays: 1 (the second) when
// the name is "2" or "sound 02" or contains "modem02", ignoring case; 0 for
// every other name, an empty or missing one included.
int wave_recording_index(const char* name);
