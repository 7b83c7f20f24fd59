// The audio output's checks and handle; the backend plays (internal.h).
#include "platform/audio.h"

#include <new>

#include "platform/internal.h"

namespace {

bool g_audio_available = true;

}  // namespace

int plat_audio_frame_bytes(int format) {
  switch (format) {
    case PLAT_AUDIO_MONO8:
      return 1;
    case PLAT_AUDIO_MONO16:
    case PLAT_AUDIO_STEREO8:
      return 2;
    case PLAT_AUDIO_STEREO16:
      return 4;
    default:
      return 0;
  }
}

PlatAudio* plat_audio_open(uint32_t rate, int format) {
  const int frame = plat_audio_frame_bytes(format);
  // A WAVE header can name any 32-bit rate; the devices take an int, and
  // nothing outside this range is a sound anyone made for a dial-up.
  if (!g_audio_available || frame == 0 || rate < PLAT_AUDIO_MIN_RATE || rate > PLAT_AUDIO_MAX_RATE)
    return nullptr;
  auto* audio = new (std::nothrow) PlatAudio();
  if (!audio) return nullptr;
  audio->rate = rate;
  audio->format = format;
  audio->channels = format == PLAT_AUDIO_STEREO8 || format == PLAT_AUDIO_STEREO16 ? 2 : 1;
  audio->sample_bytes = format == PLAT_AUDIO_MONO16 || format == PLAT_AUDIO_STEREO16 ? 2 : 1;
  audio->frame_bytes = frame;
  if (backend_audio_open(audio) != 0) {
    delete audio;
    return nullptr;
  }
  return audio;
}

int plat_audio_queue(PlatAudio* audio, const void* bytes, size_t len) {
  if (!audio || (len > 0 && !bytes)) return -1;
  if (len % static_cast<size_t>(audio->frame_bytes) != 0) return -1;
  if (len == 0) return 0;
  return backend_audio_queue(audio, static_cast<const uint8_t*>(bytes), len);
}

int plat_audio_queue_tone(PlatAudio* audio, uint32_t freq_millihz, uint32_t sound_ms,
                          uint32_t silence_ms) {
  if (!audio || audio->format != PLAT_AUDIO_MONO8) return -1;
  // Soft enough beside the dial sound's full scale; a square wave is loud.
  constexpr int8_t kLevel = 40;
  // One period is rate * 1000 steps of the phase; each sample moves it on by
  // the frequency in millihertz, so the pitch is exact on average whatever
  // the rate.
  const uint64_t period = uint64_t{audio->rate} * 1000;
  uint64_t phase = 0;
  uint64_t sound = uint64_t{audio->rate} * sound_ms / 1000;
  uint64_t total = sound + uint64_t{audio->rate} * silence_ms / 1000;
  int8_t chunk[2048];
  for (uint64_t done = 0; done < total;) {
    size_t n = 0;
    for (; n < sizeof chunk && done < total; n++, done++) {
      if (done >= sound || freq_millihz == 0) {
        chunk[n] = 0;
        continue;
      }
      chunk[n] = phase < period / 2 ? kLevel : static_cast<int8_t>(-kLevel);
      phase += freq_millihz;
      while (phase >= period) phase -= period;
    }
    if (plat_audio_queue(audio, chunk, n) != 0) return -1;
  }
  return 0;
}

size_t plat_audio_queued(PlatAudio* audio) {
  return audio ? backend_audio_queued(audio) : 0;
}

void plat_audio_stop(PlatAudio* audio) {
  if (audio) backend_audio_stop(audio);
}

void plat_audio_close(PlatAudio* audio) {
  if (!audio) return;
  backend_audio_close(audio);
  delete audio;
}

void plat_headless_set_audio_available(bool available) {
  g_audio_available = available;
}
