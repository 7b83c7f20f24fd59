#include "dial/wave.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "assets/embedded.h"
#include "phonebook/prefs.h"

namespace {

using Bytes = std::vector<uint8_t>;

void put16(Bytes* b, uint32_t v) {
  b->push_back(static_cast<uint8_t>(v));
  b->push_back(static_cast<uint8_t>(v >> 8));
}

void put32(Bytes* b, uint32_t v) {
  put16(b, v & 0xffff);
  put16(b, v >> 16);
}

// One chunk: identifier, the stored size (normally the body's), the body,
// and the pad byte after an odd body unless told otherwise.
struct Chunk {
  const char* id;
  Bytes body;
  int64_t stored_size = -1;  // -1: the body's size
  bool pad = true;
};

Bytes fmt_body(uint32_t format, uint32_t channels, uint32_t rate, uint32_t bits, size_t size = 16) {
  Bytes b;
  put16(&b, format);
  put16(&b, channels);
  put32(&b, rate);
  put32(&b, rate * channels * bits / 8);
  put16(&b, channels * bits / 8);
  put16(&b, bits);
  b.resize(size, 0);
  return b;
}

Bytes riff(const std::vector<Chunk>& chunks, const char* form = "WAVE") {
  Bytes out = {'R', 'I', 'F', 'F', 0, 0, 0, 0};
  out.insert(out.end(), form, form + 4);
  for (const Chunk& c : chunks) {
    out.insert(out.end(), c.id, c.id + 4);
    put32(&out, c.stored_size < 0 ? static_cast<uint32_t>(c.body.size())
                                  : static_cast<uint32_t>(c.stored_size));
    out.insert(out.end(), c.body.begin(), c.body.end());
    if (c.pad && (c.body.size() & 1)) out.push_back(0);
  }
  Bytes size;
  put32(&size, static_cast<uint32_t>(out.size() - 8));
  std::copy(size.begin(), size.end(), out.begin() + 4);
  return out;
}

Bytes samples(size_t n, uint8_t first = 0) {
  Bytes b(n);
  for (size_t i = 0; i < n; i++) b[i] = static_cast<uint8_t>(first + i);
  return b;
}

const Chunk kFmt8 = {"fmt ", fmt_body(1, 1, 11025, 8)};

Bytes first_bytes(Bytes b, size_t n) {
  b.resize(n);
  return b;
}

struct ParseCase {
  const char* name;
  Bytes file;
  int result;
  size_t play_bytes;  // when parsed
};

}  // namespace

TEST(WaveParse, Table) {
  Bytes good = riff({kFmt8, {"data", samples(40)}});

  const std::vector<ParseCase> cases = {
      {"8-bit mono", riff({kFmt8, {"data", samples(40)}}), 0, 40},
      {"odd chunk before data is skipped with its pad byte",
       riff({kFmt8, {"LIST", samples(3, 'a')}, {"data", samples(40)}}), 0, 40},
      {"fmt of 18 bytes (with the extension size)",
       riff({{"fmt ", fmt_body(1, 1, 11025, 8, 18)}, {"data", samples(40)}}), 0, 40},
      {"16-bit stereo with 10 data bytes plays 8",
       riff({{"fmt ", fmt_body(1, 2, 22050, 16)}, {"data", samples(10)}}), 0, 8},
      {"16-bit mono with 45 bytes plays 44",
       riff({{"fmt ", fmt_body(1, 1, 8000, 16)}, {"data", samples(45)}}), 0, 44},
      {"8-bit stereo with 45 bytes plays 44",
       riff({{"fmt ", fmt_body(1, 2, 8000, 8)}, {"data", samples(45)}}), 0, 44},
      {"8-bit mono with an odd count is cut to even", riff({kFmt8, {"data", samples(41)}}), 0, 40},
      {"16-bit stereo with 33 bytes plays 32",
       riff({{"fmt ", fmt_body(1, 2, 8000, 16)}, {"data", samples(33)}}), 0, 32},
      {"the last data chunk wins", riff({kFmt8, {"data", samples(40)}, {"data", samples(42)}}), 0,
       42},
      {"data before fmt", riff({{"data", samples(40)}, kFmt8}), 0, 40},
      // Sizes that wrap a 32-bit position: 2^32 - 8 would bring the walk back
      // to the same header for ever, 2^32 - 1 plus its pad byte onto the next
      // header as if the chunk were empty.
      {"a size near 2^32 stops the walk, keeping what came before",
       riff({kFmt8, {"data", samples(40)}, {"junk", {}, 0xFFFFFFF8u}}), 0, 40},
      {"a size near 2^32 before data leaves no data",
       riff({kFmt8, {"junk", {}, 0xFFFFFFF8u}, {"data", samples(40)}}), -1, 0},
      {"a size of 2^32 - 1 before data leaves no data",
       riff({kFmt8, {"junk", {}, 0xFFFFFFFFu}, {"data", samples(40)}}), -1, 0},
      // Read as 16 bytes, the 14-byte chunk would take its bit count from the
      // next chunk's name and pass.
      {"a fmt chunk shorter than its fields",
       riff({{"fmt ", fmt_body(1, 1, 11025, 8, 14)}, {"\x08\0ab", {}}, {"data", samples(40)}}), -1,
       0},
      {"a later short fmt chunk wins and fails",
       riff({kFmt8, {"data", samples(40)}, {"fmt ", fmt_body(1, 1, 11025, 8, 4)}}), -1, 0},
      {"a data chunk running past the end", first_bytes(good, good.size() - 1), -1, 0},
      {"an odd last chunk without its pad byte still counts",
       riff({kFmt8, {"data", samples(41), -1, false}}), 0, 40},
      {"shorter than 44 bytes", first_bytes(riff({kFmt8, {"data", samples(2)}}), 43), -1, 0},
      {"not RIFF",
       [&] {
         Bytes b = good;
         b[0] = 'X';
         return b;
       }(),
       -1, 0},
      {"not WAVE", riff({kFmt8, {"data", samples(40)}}, "AVI "), -1, 0},
      {"no fmt chunk", riff({{"LIST", samples(40)}, {"data", samples(40)}}), -1, 0},
      {"no data chunk", riff({kFmt8, {"LIST", samples(40)}}), -1, 0},
      {"empty data chunk", riff({kFmt8, {"LIST", samples(40)}, {"data", {}}}), -1, 0},
      {"not PCM", riff({{"fmt ", fmt_body(3, 1, 11025, 8)}, {"data", samples(40)}}), -1, 0},
      {"no channels", riff({{"fmt ", fmt_body(1, 0, 11025, 8)}, {"data", samples(40)}}), -1, 0},
      {"three channels", riff({{"fmt ", fmt_body(1, 3, 11025, 8)}, {"data", samples(40)}}), -1, 0},
      {"rate 0", riff({{"fmt ", fmt_body(1, 1, 0, 8)}, {"data", samples(40)}}), -1, 0},
      {"24 bits", riff({{"fmt ", fmt_body(1, 1, 11025, 24)}, {"data", samples(48)}}), -1, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WaveInfo info;
    ASSERT_EQ(wave_parse(c.file.data(), c.file.size(), &info), c.result);
    if (c.result != 0) continue;
    EXPECT_EQ(wave_play_bytes(info), c.play_bytes);
    // The data pointer lies inside the file, with all its bytes.
    ASSERT_GE(info.data, c.file.data());
    EXPECT_LE(info.data + info.data_size, c.file.data() + c.file.size());
  }
}

TEST(WaveParse, FindsTheDataBodyAcrossAnOddChunk) {
  Bytes file = riff({kFmt8, {"LIST", samples(3, 'a')}, {"data", samples(40, 7)}});
  WaveInfo info;
  ASSERT_EQ(wave_parse(file.data(), file.size(), &info), 0);
  EXPECT_EQ(info.data_size, 40u);
  EXPECT_EQ(info.data[0], 7);
  EXPECT_EQ(info.rate, 11025u);
  EXPECT_EQ(info.channels, 1);
  EXPECT_EQ(info.bits, 8);
}

TEST(WaveParse, SmallFilesAndNullArguments) {
  Bytes file = riff({kFmt8, {"data", samples(40)}});
  WaveInfo info;
  EXPECT_EQ(wave_parse(nullptr, file.size(), &info), -1);
  EXPECT_EQ(wave_parse(file.data(), file.size(), nullptr), -1);
  // Every prefix of a valid file fails without reading past its end (the
  // sanitizer build watches the reads).
  for (size_t n = 0; n < file.size(); n++) {
    Bytes prefix(file.begin(), file.begin() + static_cast<long>(n));
    EXPECT_EQ(wave_parse(prefix.data(), prefix.size(), &info), -1) << n;
  }
}

TEST(WaveConvert, SignedSamplesInTheDeviceOrder) {
  struct Case {
    const char* name;
    uint32_t channels, bits;
    Bytes data;
    int type;
    Bytes expected;
  };
  const std::vector<Case> cases = {
      {"8-bit mono loses the offset",
       1,
       8,
       {0x00, 0x80, 0xFF, 0x7F},
       kWaveMono8,
       {0x80, 0x00, 0x7F, 0xFF}},
      {"8-bit stereo", 2, 8, {0x81, 0x7E, 0x10, 0xF0}, kWaveStereo8, {0x01, 0xFE, 0x90, 0x70}},
      {"16-bit mono is byte-swapped",
       1,
       16,
       {0x34, 0x12, 0xFF, 0x80},
       kWaveMono16,
       {0x12, 0x34, 0x80, 0xFF}},
      {"16-bit stereo drops the partial frame",
       2,
       16,
       samples(10, 1),
       kWaveStereo16,
       {2, 1, 4, 3, 6, 5, 8, 7}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes file = riff({{"fmt ", fmt_body(1, c.channels, 11025, c.bits)}, {"data", c.data}});
    WavePcm pcm;
    ASSERT_EQ(wave_prepare(file.data(), file.size(), &pcm), 0);
    EXPECT_EQ(pcm.sample_type, c.type);
    EXPECT_EQ(pcm.rate, 11025u);
    EXPECT_EQ(Bytes(pcm.bytes.get(), pcm.bytes.get() + pcm.size), c.expected);
  }
}

TEST(WaveConvert, NothingToPlayFailsAndLeavesTheOutputEmpty) {
  WavePcm pcm;
  Bytes good = riff({kFmt8, {"data", samples(40)}});
  ASSERT_EQ(wave_prepare(good.data(), good.size(), &pcm), 0);
  // A 16-bit stereo file of 3 data bytes holds no whole frame.
  Bytes none = riff({{"fmt ", fmt_body(1, 2, 11025, 16)}, {"data", samples(3)}});
  EXPECT_EQ(wave_prepare(none.data(), none.size(), &pcm), -1);
  EXPECT_EQ(pcm.size, 0u);
  EXPECT_EQ(pcm.bytes, nullptr);
  EXPECT_EQ(wave_prepare(nullptr, 0, &pcm), -1);
}

TEST(WaveChoice, NamesPickTheRecording) {
  const std::vector<std::pair<const char*, int>> cases = {
      {"sound 02", 1}, {"SOUND 02", 1},       {"Sound 02", 1}, {"2", 1},         {"modem02", 1},
      {"MODEM02", 1},  {"my-Modem02.wav", 1}, {"modem01", 0},  {"Modem01", 0},   {"xyz", 0},
      {"1", 0},        {"sound 01", 0},       {"22", 0},       {"sound 02 ", 0}, {"modem0", 0},
      {"", 0},
  };
  for (const auto& [name, index] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(wave_recording_index(name), index);
    // The settings keep the same rule for the names they store.
    if (name[0]) {
      EXPECT_EQ(modem_sound_choice_index(name), index);
    }
  }
  EXPECT_EQ(wave_recording_index(nullptr), 0);
}

TEST(WaveEmbedded, BothRecordingsValidateAndConvert) {
  struct Case {
    const unsigned char* bytes;
    size_t len;
    size_t play_bytes;
  };
  // 26 s and 15 s at 11025 samples per second; 15 s is an odd count, so the
  // last sample is left out.
  const std::vector<Case> cases = {
      {kavel_modem01_wav, kavel_modem01_wav_len, 286650},
      {kavel_modem02_wav, kavel_modem02_wav_len, 165374},
  };
  for (const auto& c : cases) {
    WavePcm pcm;
    ASSERT_EQ(wave_prepare(c.bytes, c.len, &pcm), 0);
    EXPECT_EQ(pcm.sample_type, kWaveMono8);
    EXPECT_EQ(pcm.rate, 11025u);
    EXPECT_EQ(pcm.size, c.play_bytes);
  }
  EXPECT_EQ(wave_recording_index(g_modem_sound_choices[1].id), 1);
  EXPECT_EQ(wave_recording_index(g_modem_sound_choices[0].id), 0);
}
