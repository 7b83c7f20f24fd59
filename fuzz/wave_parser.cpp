// layers: session
// Feeds arbitrary bytes to the WAVE reader of the dial sound.  A file it
// accepts must point inside the input, play whole frames of an even byte
// count, and convert sample for sample; the one-step preparation must agree
// with the separate steps.  The choice-name rule gets the same bytes as
// text.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "dial/wave.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string name(reinterpret_cast<const char*>(data), size);
  int index = wave_recording_index(name.c_str());
  if (index != 0 && index != 1) abort();

  WaveInfo info;
  WavePcm pcm;
  int parsed = wave_parse(data, size, &info);
  int prepared = wave_prepare(data, size, &pcm);
  if (parsed != 0) {
    if (prepared != -1 || pcm.size != 0) abort();
    return 0;
  }
  if (info.data < data || info.data_size > size || info.data + info.data_size > data + size)
    abort();
  if (info.channels < 1 || info.channels > 2 || (info.bits != 8 && info.bits != 16) ||
      info.rate == 0 || info.format != 1)
    abort();

  size_t n = wave_play_bytes(info);
  size_t frame = info.channels * (info.bits / 8u);
  if (n > info.data_size || n % 2 != 0 || n % frame != 0 || info.data_size - n > frame) abort();
  if ((n == 0) != (prepared == -1)) abort();
  if (prepared != 0) return 0;
  if (pcm.size != n || pcm.rate != info.rate || pcm.sample_type != wave_sample_type(info)) abort();
  for (size_t i = 0; i < n; i++) {
    uint8_t want = info.bits == 8 ? static_cast<uint8_t>(info.data[i] - 128) : info.data[i ^ 1];
    if (pcm.bytes[i] != want) abort();
  }
  return 0;
}
