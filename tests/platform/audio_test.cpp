// The audio output over the headless backend: what was played, at which
// rate, and a queue that drains by the platform clock.
#include "platform/audio.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "platform/clock.h"

namespace {

class AudioOutput : public ::testing::Test {
 protected:
  void SetUp() override {
    plat_headless_audio_reset();
    plat_headless_set_audio_available(true);
    clock_test_set_ms(100000);
  }
  void TearDown() override {
    plat_headless_set_audio_available(true);
    clock_test_reset();
  }
};

std::vector<uint8_t> ramp(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; i++) v[i] = static_cast<uint8_t>(i * 7 + 1);
  return v;
}

// The power of one frequency in signed 8-bit samples (a Goertzel filter).
double goertzel(const std::vector<uint8_t>& s, size_t from, size_t n, double rate, double hz) {
  const double k = 2 * std::cos(2 * M_PI * hz / rate);
  double a = 0, b = 0;
  for (size_t i = from; i < from + n; i++) {
    double x = static_cast<int8_t>(s[i]);
    double c = x + k * a - b;
    b = a;
    a = c;
  }
  return a * a + b * b - k * a * b;
}

}  // namespace

TEST_F(AudioOutput, OpensOnlyForRatesAndFormatsItCanPlay) {
  const struct {
    uint32_t rate;
    int format;
    bool opens;
  } cases[] = {
      {11025, PLAT_AUDIO_MONO8, true},
      {44100, PLAT_AUDIO_STEREO16, true},
      {8000, PLAT_AUDIO_MONO16, true},
      {22050, PLAT_AUDIO_STEREO8, true},
      {PLAT_AUDIO_MIN_RATE, 0, true},
      {PLAT_AUDIO_MAX_RATE, 0, true},
      {0, PLAT_AUDIO_MONO8, false},
      {PLAT_AUDIO_MIN_RATE - 1, 0, false},
      {PLAT_AUDIO_MAX_RATE + 1, 0, false},
      {0x80000000u, 0, false},
      {0xFFFFFFFFu, 0, false},
      {11025, 4, false},
      {11025, -1, false},
  };
  for (const auto& c : cases) {
    PlatAudio* a = plat_audio_open(c.rate, c.format);
    EXPECT_EQ(a != nullptr, c.opens) << c.rate << " " << c.format;
    if (a) {
      EXPECT_EQ(plat_headless_audio_record().rate, c.rate);
      EXPECT_EQ(plat_headless_audio_record().format, c.format);
    }
    plat_audio_close(a);
  }
  plat_headless_set_audio_available(false);
  EXPECT_EQ(plat_audio_open(11025, PLAT_AUDIO_MONO8), nullptr);
}

TEST_F(AudioOutput, TakesWholeFramesOnly) {
  const struct {
    int format;
    size_t ok, bad;
  } cases[] = {
      {PLAT_AUDIO_MONO8, 3, 0},
      {PLAT_AUDIO_MONO16, 4, 3},
      {PLAT_AUDIO_STEREO8, 6, 5},
      {PLAT_AUDIO_STEREO16, 8, 6},
  };
  for (const auto& c : cases) {
    PlatAudio* a = plat_audio_open(8000, c.format);
    ASSERT_NE(a, nullptr);
    const auto bytes = ramp(16);
    EXPECT_EQ(plat_audio_queue(a, bytes.data(), c.ok), 0) << c.format;
    if (c.bad) {
      EXPECT_EQ(plat_audio_queue(a, bytes.data(), c.bad), -1) << c.format;
    }
    EXPECT_EQ(plat_audio_queued(a), c.ok) << c.format;
    plat_audio_close(a);
  }
  EXPECT_EQ(plat_audio_queue(nullptr, "x", 1), -1);
  EXPECT_EQ(plat_audio_queued(nullptr), 0u);
}

TEST_F(AudioOutput, PlaysAtTheStreamsRateByTheClock) {
  const struct {
    uint32_t rate;
    int format;
    size_t bytes;
    uint32_t step_ms;
    size_t left_after_step;
  } cases[] = {
      // 11025 mono 8-bit: half a second plays 5512 frames (5512.5 rounded down).
      {11025, PLAT_AUDIO_MONO8, 11025, 500, 11025 - 5512},
      // 8000 stereo 16-bit: a quarter second is 2000 frames of 4 bytes.
      {8000, PLAT_AUDIO_STEREO16, 32000, 250, 32000 - 8000},
      // 44100 mono 16-bit: 20 ms (one tick) is 882 frames.
      {44100, PLAT_AUDIO_MONO16, 88200, 20, 88200 - 1764},
  };
  for (const auto& c : cases) {
    plat_headless_audio_reset();
    PlatAudio* a = plat_audio_open(c.rate, c.format);
    ASSERT_NE(a, nullptr);
    const auto samples = ramp(c.bytes);
    ASSERT_EQ(plat_audio_queue(a, samples.data(), samples.size()), 0);
    EXPECT_EQ(plat_audio_queued(a), c.bytes);
    clock_test_advance_ms(c.step_ms);
    EXPECT_EQ(plat_audio_queued(a), c.left_after_step) << c.rate;
    // Polled every tick, the queue empties once the sound's length has passed.
    int ticks = 0;
    while (plat_audio_queued(a) > 0 && ticks < 1000) {
      clock_test_advance_ms(20);
      ticks++;
    }
    const uint64_t total_ms = c.step_ms + 20ull * static_cast<uint64_t>(ticks);
    const uint64_t frames = c.bytes / static_cast<size_t>(plat_audio_frame_bytes(c.format));
    EXPECT_GE(total_ms * c.rate, frames * 1000) << c.rate;
    EXPECT_LT((total_ms - 20) * c.rate, frames * 1000) << c.rate;
    EXPECT_EQ(plat_headless_audio_record().queued, samples);
    EXPECT_EQ(plat_headless_audio_record().played, c.bytes);
    plat_audio_close(a);
  }
}

TEST_F(AudioOutput, StopDropsTheQueueAtOnce) {
  PlatAudio* a = plat_audio_open(11025, PLAT_AUDIO_MONO8);
  ASSERT_NE(a, nullptr);
  const auto sound = ramp(11025 * 26);  // as long as the first dial recording
  ASSERT_EQ(plat_audio_queue(a, sound.data(), sound.size()), 0);
  clock_test_advance_ms(1000);
  plat_audio_stop(a);
  EXPECT_EQ(plat_audio_queued(a), 0u);
  const PlatAudioRecord& r = plat_headless_audio_record();
  EXPECT_EQ(r.stops, 1);
  EXPECT_EQ(r.played, 11025u);
  EXPECT_EQ(r.dropped, sound.size() - 11025);
  // Time passing after the stop plays nothing more.
  clock_test_advance_ms(5000);
  EXPECT_EQ(plat_audio_queued(a), 0u);
  EXPECT_EQ(r.played, 11025u);
  plat_audio_close(a);
  EXPECT_EQ(r.opens, 1);
  EXPECT_EQ(r.closes, 1);
}

TEST_F(AudioOutput, IdleTimeIsNotSavedUpAndTheClockMayWrap) {
  clock_test_set_ms(0xFFFFFF00u);
  PlatAudio* a = plat_audio_open(1000, PLAT_AUDIO_MONO8);
  ASSERT_NE(a, nullptr);
  clock_test_advance_ms(5000);  // nothing queued: nothing to play
  const auto samples = ramp(1000);
  ASSERT_EQ(plat_audio_queue(a, samples.data(), samples.size()), 0);
  EXPECT_EQ(plat_audio_queued(a), 1000u);
  clock_test_set_ms(0xFFFFFF00u + 5000u + 300u);  // wraps past 2^32
  EXPECT_EQ(plat_audio_queued(a), 700u);
  // Closing while playing drops the rest.
  plat_audio_close(a);
  EXPECT_EQ(plat_headless_audio_record().dropped, 700u);
}

TEST_F(AudioOutput, TonesAreSquareWavesOfTheirPitchAndLength) {
  PlatAudio* a = plat_audio_open(44100, PLAT_AUDIO_MONO8);
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(plat_audio_queue_tone(a, 440000, 500, 100), 0);
  ASSERT_EQ(plat_audio_queue_tone(a, 1046496, 250, 0), 0);
  ASSERT_EQ(plat_audio_queue_tone(a, 0, 0, 50), 0);  // a pause
  const std::vector<uint8_t>& q = plat_headless_audio_record().queued;
  ASSERT_EQ(q.size(), 22050u + 4410u + 11025u + 2205u);
  // Each tone is strong at its own pitch and weak a semitone away; the
  // silences are silent.
  const struct {
    size_t from, n;
    double hz, other;
  } tones[] = {{0, 22050, 440, 466.16}, {26460, 11025, 1046.5, 987.77}};
  for (const auto& t : tones) {
    double at = goertzel(q, t.from, t.n, 44100, t.hz);
    EXPECT_GT(at, 100 * goertzel(q, t.from, t.n, 44100, t.other)) << t.hz;
    EXPECT_GT(at, 1e9) << t.hz;
  }
  for (size_t i = 22050; i < 26460; i++) ASSERT_EQ(q[i], 0) << i;
  for (size_t i = q.size() - 2205; i < q.size(); i++) ASSERT_EQ(q[i], 0) << i;
  plat_audio_close(a);
  // Tones are made for the 8-bit mono output only.
  PlatAudio* b = plat_audio_open(44100, PLAT_AUDIO_MONO16);
  EXPECT_EQ(plat_audio_queue_tone(b, 440000, 10, 0), -1);
  plat_audio_close(b);
}
