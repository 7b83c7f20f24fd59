#include "dial/wave.h"

#include <cctype>
#include <cstring>
#include <new>

namespace {

constexpr size_t kHeaderBytes = 12;  // "RIFF", size, "WAVE"
constexpr size_t kChunkHeaderBytes = 8;
constexpr size_t kMinFileBytes = 44;  // the smallest canonical PCM file
constexpr uint32_t kFmtFieldBytes = 16;

uint16_t le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

bool same_id(const uint8_t* p, const char* id) {
  return memcmp(p, id, 4) == 0;
}

bool equals_nocase(const char* a, const char* b) {
  for (; *a && *b; a++, b++)
    if (tolower(static_cast<unsigned char>(*a)) != tolower(static_cast<unsigned char>(*b)))
      return false;
  return *a == *b;
}

bool contains_nocase(const char* hay, const char* needle) {
  size_t n = strlen(needle);
  for (; *hay; hay++) {
    size_t i = 0;
    while (i < n && hay[i] &&
           tolower(static_cast<unsigned char>(hay[i])) ==
               tolower(static_cast<unsigned char>(needle[i])))
      i++;
    if (i == n) return true;
  }
  return false;
}

}  // namespace

int wave_parse(const uint8_t* bytes, size_t len, WaveInfo* out) {
  if (!bytes || !out || len < kMinFileBytes) return -1;
  if (!same_id(bytes, "RIFF") || !same_id(bytes + 8, "WAVE")) return -1;

  const uint8_t* fmt = nullptr;
  uint32_t fmt_size = 0;
  const uint8_t* data = nullptr;
  uint32_t data_size = 0;

  // The RIFF size field is not trusted: the walk is bounded by the bytes we
  // hold.  Every comparison is made against what is left, never by adding a
  // stored size to the position, so no size can wrap the walk back.
  size_t pos = kHeaderBytes;
  while (len - pos >= kChunkHeaderBytes) {
    const uint8_t* header = bytes + pos;
    uint32_t size = le32(header + 4);
    size_t body = pos + kChunkHeaderBytes;
    if (size > len - body) break;
    if (same_id(header, "fmt ")) {
      fmt = bytes + body;
      fmt_size = size;
    } else if (same_id(header, "data")) {
      data = bytes + body;
      data_size = size;
    }
    size_t step = static_cast<size_t>(size) + (size & 1u);
    if (step > len - body) break;  // the pad byte of the last chunk is missing
    pos = body + step;
  }

  // A "fmt " chunk shorter than the fields read below would make them come
  // from whatever follows it.
  if (!fmt || fmt_size < kFmtFieldBytes || !data || data_size == 0) return -1;
  WaveInfo info;
  info.format = le16(fmt);
  info.channels = le16(fmt + 2);
  info.rate = le32(fmt + 4);
  info.bits = le16(fmt + 14);
  info.data = data;
  info.data_size = data_size;
  if (info.format != 1) return -1;
  if (info.channels != 1 && info.channels != 2) return -1;
  if (info.rate == 0) return -1;
  if (info.bits != 8 && info.bits != 16) return -1;
  *out = info;
  return 0;
}

size_t wave_play_bytes(const WaveInfo& info) {
  size_t frame = static_cast<size_t>(info.channels) * (info.bits / 8);
  if (frame == 0) return 0;
  size_t n = info.data_size - info.data_size % frame;
  return n & ~static_cast<size_t>(1);
}

int wave_sample_type(const WaveInfo& info) {
  bool stereo = info.channels == 2;
  if (info.bits == 16) return stereo ? kWaveStereo16 : kWaveMono16;
  return stereo ? kWaveStereo8 : kWaveMono8;
}

size_t wave_convert(const WaveInfo& info, uint8_t* out) {
  size_t n = wave_play_bytes(info);
  if (!out || !info.data) return 0;
  const uint8_t* in = info.data;
  if (info.bits == 8) {
    for (size_t i = 0; i < n; i++) out[i] = static_cast<uint8_t>(in[i] - 128);
  } else {
    // n is even, so every sample has both of its bytes.
    for (size_t i = 0; i < n; i += 2) {
      out[i] = in[i + 1];
      out[i + 1] = in[i];
    }
  }
  return n;
}

int wave_prepare(const uint8_t* bytes, size_t len, WavePcm* out) {
  if (!out) return -1;
  out->bytes.reset();
  out->size = 0;
  WaveInfo info;
  if (wave_parse(bytes, len, &info) != 0) return -1;
  size_t n = wave_play_bytes(info);
  if (n == 0) return -1;
  std::unique_ptr<uint8_t[]> buf(new (std::nothrow) uint8_t[n]);
  if (!buf) return -1;
  wave_convert(info, buf.get());
  out->bytes = std::move(buf);
  out->size = n;
  out->sample_type = wave_sample_type(info);
  out->rate = info.rate;
  return 0;
}

int wave_recording_index(const char* name) {
  if (!name) return 0;
  if (equals_nocase(name, "2") || equals_nocase(name, "sound 02")) return 1;
  return contains_nocase(name, "modem02") ? 1 : 0;
}
