// Listen-level checks of the built-in dial recordings, made the way a
// telephone line would hear them: Goertzel filters find the DTMF digits,
// the dial and ring-back tones, and the answering modem's 2100 Hz tone with
// its phase reversals.  The file layout is checked byte for byte, without
// the program's own WAVE reader (which has tests of its own).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "assets/embedded.h"

namespace {

constexpr double kRate = 11025;
constexpr double kPi = 3.14159265358979323846;
constexpr size_t kHeaderBytes = 116;  // RIFF, fmt (16), LIST (64), data headers

uint32_t le32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint16_t le16(const unsigned char* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

struct Recording {
  const char* name;
  const unsigned char* bytes;
  size_t len;
  uint32_t data_size;
  const char* number;  // the digits dialled
  int rings;
};

const Recording kRecordings[] = {
    {"modem01", kavel_modem01_wav, kavel_modem01_wav_len, 286650, "13125550142", 2},
    {"modem02", kavel_modem02_wav, kavel_modem02_wav_len, 165375, "5551907", 1},
};

// The samples around zero.
std::vector<double> signal(const Recording& r) {
  std::vector<double> s;
  for (size_t i = kHeaderBytes; i < kHeaderBytes + r.data_size && i < r.len; i++)
    s.push_back(r.bytes[i] - 128.0);
  return s;
}

// The share of a block's power at one frequency: about 1 for a pure tone
// at f, 0.5 for each tone of an equal pair, near 0 for anything else.
double share(const std::vector<double>& s, size_t start, size_t n, double f) {
  double w = 2 * kPi * f / kRate;
  double re = 0, im = 0, power = 0;
  for (size_t i = 0; i < n; i++) {
    re += s[start + i] * std::cos(w * i);
    im -= s[start + i] * std::sin(w * i);
    power += s[start + i] * s[start + i];
  }
  if (power < n * 4.0) return 0;  // quieter than 2 steps RMS: line noise
  return 2 * (re * re + im * im) / (n * power);
}

double phase_at(const std::vector<double>& s, size_t start, size_t n, double f) {
  double w = 2 * kPi * f / kRate;
  double re = 0, im = 0;
  for (size_t i = 0; i < n; i++) {
    // Phase against the recording's start, so blocks compare.
    re += s[start + i] * std::cos(w * (start + i));
    im -= s[start + i] * std::sin(w * (start + i));
  }
  return std::atan2(im, re);
}

// Stretches (start, length in seconds) where every listed tone holds at
// least min_share of the power, in blocks of block_s seconds.
std::vector<std::pair<double, double>> tone_spans(const std::vector<double>& s,
                                                  const std::vector<double>& freqs,
                                                  double min_share, double block_s = 0.05) {
  size_t n = static_cast<size_t>(block_s * kRate);
  std::vector<std::pair<double, double>> spans;
  bool in = false;
  for (size_t b = 0; b + n <= s.size(); b += n) {
    bool hit = true;
    for (double f : freqs) hit = hit && share(s, b, n, f) >= min_share;
    double t = b / kRate;
    if (hit && !in) spans.push_back({t, 0});
    if (hit) spans.back().second = t + block_s - spans.back().first;
    in = hit;
  }
  return spans;
}

// A DTMF receiver: 40 ms blocks every 10 ms; a key is one low and one high
// tone each with a third of the power and together most of it, held for at
// least 30 ms; a gap ends it.
std::string decode_dtmf(const std::vector<double>& s) {
  static const double kLow[4] = {697, 770, 852, 941};
  static const double kHigh[4] = {1209, 1336, 1477, 1633};
  static const char kKeys[4][5] = {"123A", "456B", "789C", "*0#D"};
  const size_t n = static_cast<size_t>(0.04 * kRate), hop = static_cast<size_t>(0.01 * kRate);
  std::string digits;
  char current = 0;
  int held = 0;
  for (size_t b = 0; b + n <= s.size(); b += hop) {
    int lo = 0, hi = 0;
    double lo_share = 0, hi_share = 0;
    for (int i = 0; i < 4; i++) {
      double l = share(s, b, n, kLow[i]), h = share(s, b, n, kHigh[i]);
      if (l > lo_share) lo_share = l, lo = i;
      if (h > hi_share) hi_share = h, hi = i;
    }
    char key =
        (lo_share > 0.33 && hi_share > 0.33 && lo_share + hi_share > 0.8) ? kKeys[lo][hi] : 0;
    if (key && key == current) {
      if (++held == 3) digits += key;
    } else {
      current = key;
      held = key ? 1 : 0;
    }
  }
  return digits;
}

}  // namespace

TEST(Recordings, ChunkLayoutIsExact) {
  for (const Recording& r : kRecordings) {
    SCOPED_TRACE(r.name);
    const unsigned char* b = r.bytes;
    size_t padded = r.data_size + (r.data_size & 1);
    ASSERT_EQ(r.len, kHeaderBytes + padded);
    EXPECT_EQ(memcmp(b, "RIFF", 4), 0);
    EXPECT_EQ(le32(b + 4), r.len - 8);
    EXPECT_EQ(memcmp(b + 8, "WAVEfmt ", 8), 0);
    EXPECT_EQ(le32(b + 16), 16u);
    EXPECT_EQ(le16(b + 20), 1);       // PCM
    EXPECT_EQ(le16(b + 22), 1);       // mono
    EXPECT_EQ(le32(b + 24), 11025u);  // samples per second
    EXPECT_EQ(le32(b + 28), 11025u);  // bytes per second
    EXPECT_EQ(le16(b + 32), 1);       // bytes per frame
    EXPECT_EQ(le16(b + 34), 8);       // bits
    EXPECT_EQ(memcmp(b + 36, "LIST", 4), 0);
    EXPECT_EQ(le32(b + 40), 64u);
    EXPECT_EQ(memcmp(b + 44, "INFO", 4), 0);
    EXPECT_EQ(memcmp(b + 108, "data", 4), 0);
    EXPECT_EQ(le32(b + 112), r.data_size);
    if (r.data_size & 1) {
      EXPECT_EQ(b[r.len - 1], 0);  // the pad byte
    }
  }
}

TEST(Recordings, TheNumberDecodesAsDtmf) {
  for (const Recording& r : kRecordings) {
    SCOPED_TRACE(r.name);
    // The whole recording: no other sound may pass for a key.
    EXPECT_EQ(decode_dtmf(signal(r)), r.number);
  }
}

TEST(Recordings, DialToneThenRingBackWithItsCadence) {
  for (const Recording& r : kRecordings) {
    SCOPED_TRACE(r.name);
    std::vector<double> s = signal(r);
    auto dial = tone_spans(s, {350, 440}, 0.35);
    ASSERT_FALSE(dial.empty());
    EXPECT_LT(dial[0].first, 0.5);
    EXPECT_GE(dial[0].second, 1.2);
    auto rings = tone_spans(s, {440, 480}, 0.35);
    ASSERT_EQ(rings.size(), static_cast<size_t>(r.rings));
    for (const auto& ring : rings) EXPECT_NEAR(ring.second, 2.0, 0.1);
    if (rings.size() == 2) {
      EXPECT_NEAR(rings[1].first - rings[0].first, 6.0, 0.1);  // 2 s on, 4 s off
    }
    EXPECT_GT(rings[0].first, dial[0].first + dial[0].second);
  }
}

TEST(Recordings, AnswerToneAt2100HzReversedEvery450ms) {
  for (const Recording& r : kRecordings) {
    SCOPED_TRACE(r.name);
    std::vector<double> s = signal(r);
    // The longest stretch where 2100 Hz carries most of the power; a
    // reversal spoils at most one block, so neighbours are joined.
    auto spans = tone_spans(s, {2100}, 0.6);
    ASSERT_FALSE(spans.empty());
    std::vector<std::pair<double, double>> joined = {spans[0]};
    for (size_t i = 1; i < spans.size(); i++) {
      auto& last = joined.back();
      if (spans[i].first - (last.first + last.second) <= 0.1)
        last.second = spans[i].first + spans[i].second - last.first;
      else
        joined.push_back(spans[i]);
    }
    auto tone = *std::max_element(joined.begin(), joined.end(),
                                  [](auto& a, auto& b) { return a.second < b.second; });
    EXPECT_GE(tone.second, 2.5);

    // The strongest frequency before the first reversal is 2100 Hz.
    size_t start = static_cast<size_t>((tone.first + 0.05) * kRate);
    size_t n = static_cast<size_t>(0.3 * kRate);
    double best_f = 0, best = 0;
    for (double f = 1900; f <= 2300; f += 5) {
      double v = share(s, start, n, f);
      if (v > best) best = v, best_f = f;
    }
    EXPECT_NEAR(best_f, 2100, 5);

    // Phase in 10 ms blocks: steady, then a jump of half a turn.
    size_t block = static_cast<size_t>(0.01 * kRate);
    std::vector<double> flips;
    double prev = phase_at(s, start, block, 2100);
    size_t end = static_cast<size_t>((tone.first + tone.second - 0.05) * kRate);
    for (size_t b = start + block; b + block <= end; b += block) {
      double ph = phase_at(s, b, block, 2100);
      double d = std::fabs(std::remainder(ph - prev, 2 * kPi));
      double t = b / kRate;
      // A block across the reversal shows part of the jump: count it once.
      if (d > kPi / 2 && (flips.empty() || t - flips.back() > 0.1)) flips.push_back(t);
      prev = ph;
    }
    ASSERT_GE(flips.size(), 4u);
    for (size_t i = 1; i < flips.size(); i++) EXPECT_NEAR(flips[i] - flips[i - 1], 0.45, 0.015);
  }
}

TEST(Recordings, HandshakeAndTrainingFollowTheAnswerTone) {
  for (const Recording& r : kRecordings) {
    SCOPED_TRACE(r.name);
    std::vector<double> s = signal(r);
    auto spans = tone_spans(s, {2100}, 0.6);
    ASSERT_FALSE(spans.empty());
    double after = spans.back().first + spans.back().second;
    // Training noise: loud 50 ms blocks where no single frequency of the
    // band stands out.
    size_t n = static_cast<size_t>(0.05 * kRate);
    double noisy = 0;
    for (size_t b = static_cast<size_t>(after * kRate); b + n <= s.size(); b += n) {
      double power = 0;
      for (size_t i = 0; i < n; i++) power += s[b + i] * s[b + i];
      if (power / n < 400) continue;  // quieter than 20 steps RMS
      double peak = 0;
      for (double f = 300; f <= 3300; f += 100) peak = std::max(peak, share(s, b, n, f));
      if (peak < 0.15) noisy += 0.05;
    }
    EXPECT_GE(noisy, 1.5);
    // The speaker is cut at the end: the last quarter second is quiet.
    double tail = 0;
    size_t last = static_cast<size_t>(0.25 * kRate);
    for (size_t i = s.size() - last; i < s.size(); i++) tail += s[i] * s[i];
    EXPECT_LT(tail / last, 4.0);
  }
}
