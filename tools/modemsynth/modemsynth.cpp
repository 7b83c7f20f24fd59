// kavel-modemsynth OUTDIR
//
// Synthesises the two dial-up recordings the program plays before a call
// from the menu and writes them as OUTDIR/modem01.wav and OUTDIR/modem02.wav.
// They are made, not recorded: every sound is built from the tones and
// signals a telephone line and a modem really use, so that a listener hears
// a believable call:
//   off-hook click and dial tone (350 + 440 Hz), the number in DTMF, ring-back
//   (440 + 480 Hz, 2 s on, 4 s off), the answering modem's 2100 Hz tone with
//   a phase reversal every 450 ms, the V.8 menu exchange in V.21 FSK, then
//   the probing and training of a fast modem (V.34 line probing, tone pairs,
//   scrambled data), and the speaker cut once the modems are connected.
// The first call is a V.34 modem dialling a long-distance number (26 s);
// the second a quicker local call that trains like a V.32bis modem (15 s).
//
// The format is what the audio step expects of the built-in sounds: RIFF
// WAVE, PCM, mono, 8 bits, 11025 samples per second, a 16-byte "fmt "
// chunk, a 64-byte "LIST" chunk and a "data" chunk.  The noise comes from a
// seeded generator, so every build writes the same bytes.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kRate = 11025;
constexpr double kPi = 3.14159265358979323846;

// xorshift32: small, fast and the same on every machine.
struct Noise {
  uint32_t state;
  double next() {  // uniform in [-1, 1)
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return static_cast<double>(state) / 2147483648.0 - 1.0;
  }
};

// A second-order section (RBJ cookbook), used to shape noise into the
// telephone band.
struct Biquad {
  double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
  double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
  double run(double x) {
    double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
    x2 = x1;
    x1 = x;
    y2 = y1;
    y1 = y;
    return y;
  }
};

Biquad make_filter(bool high_pass, double freq, double q) {
  double w = 2 * kPi * freq / kRate;
  double alpha = std::sin(w) / (2 * q);
  double c = std::cos(w);
  double a0 = 1 + alpha;
  Biquad f;
  if (high_pass) {
    f.b0 = (1 + c) / 2 / a0;
    f.b1 = -(1 + c) / a0;
  } else {
    f.b0 = (1 - c) / 2 / a0;
    f.b1 = (1 - c) / a0;
  }
  f.b2 = f.b0;
  f.a1 = -2 * c / a0;
  f.a2 = (1 - alpha) / a0;
  return f;
}

class Track {
 public:
  Track(double seconds, uint32_t seed)
      : samples_(static_cast<size_t>(seconds * kRate + 0.5), 0.0), noise_{seed} {}

  const std::vector<double>& samples() const { return samples_; }

  // A sum of sines from t0 for dur seconds, each at amp, with 5 ms ramps so
  // that starts and stops do not click.  A phase flip of half a turn every
  // reversal_s seconds (0: none) and an amplitude modulation at am_hz of
  // depth am (0: none) give the answer tones their character.
  void tones(double t0, double dur, std::vector<double> freqs, double amp, double reversal_s = 0,
             double am_hz = 0, double am = 0) {
    for_span(t0, dur, [&](size_t, double t, double env) {
      double phase = reversal_s > 0 ? kPi * std::floor(t / reversal_s) : 0.0;
      double s = 0;
      for (double f : freqs) s += std::sin(2 * kPi * f * t + phase);
      double mod = am_hz > 0 ? 1 - am + am * std::sin(2 * kPi * am_hz * t) : 1.0;
      return s * amp * env * mod;
    });
  }

  // One DTMF digit per character, tone_s on and gap_s off.
  double dial(double t0, const char* number, double tone_s, double gap_s, double amp) {
    static const char kKeys[4][5] = {"123A", "456B", "789C", "*0#D"};
    static const double kLow[4] = {697, 770, 852, 941};
    static const double kHigh[4] = {1209, 1336, 1477, 1633};
    double t = t0;
    for (const char* p = number; *p; p++) {
      for (int r = 0; r < 4; r++)
        for (int c = 0; c < 4; c++)
          if (kKeys[r][c] == *p) tones(t, tone_s, {kLow[r], kHigh[c]}, amp);
      t += tone_s + gap_s;
    }
    return t;
  }

  // A relay or hook click: a short decaying burst.
  void click(double t0, double amp) {
    for_span(t0, 0.012, [&](size_t, double t, double) {
      return amp * std::exp(-t * 400) * (noise_.next() * 0.6 + (t < 0.001 ? 1.0 : 0.0));
    });
  }

  // Frequency-shift keying as V.21 sends it at 300 bit/s: bits from the
  // noise generator, continuous phase.
  void fsk(double t0, double dur, double mark, double space, double amp) {
    double phase = 0;
    int bit = 1;
    size_t per_bit = kRate / 300;
    for_span(t0, dur, [&](size_t i, double, double env) {
      if (i % per_bit == 0) bit = noise_.next() > -0.2;  // idle marks dominate
      phase += 2 * kPi * (bit ? mark : space) / kRate;
      return std::sin(phase) * amp * env;
    });
  }

  // Differential PSK at 600 bit/s on a carrier, the way the V.34 INFO
  // sequences sound: a carrier whose phase jumps half a turn on every 1.
  void dpsk(double t0, double dur, double carrier, double amp) {
    double phase = 0;
    size_t per_bit = kRate / 600;
    for_span(t0, dur, [&](size_t i, double t, double env) {
      if (i % per_bit == 0 && noise_.next() > 0) phase += kPi;
      return std::sin(2 * kPi * carrier * t + phase) * amp * env;
    });
  }

  // V.34 line probing: a comb of cosines every 150 Hz from 150 to 3750 Hz
  // (900, 1200, 1800 and 2400 left out), with fixed phases so the comb does
  // not peak; L1 is louder than L2 that follows it.
  void probe(double t0, double dur, double amp) {
    std::vector<double> phases;
    Noise fixed{0x5eed1234u};
    for (int k = 1; k <= 25; k++) phases.push_back(fixed.next() * kPi);
    for_span(t0, dur, [&](size_t, double t, double env) {
      double s = 0;
      for (int k = 1; k <= 25; k++) {
        int f = 150 * k;
        if (f == 900 || f == 1200 || f == 1800 || f == 2400) continue;
        s += std::cos(2 * kPi * f * t + phases[k - 1]);
      }
      return s * amp / 7.0 * env;
    });
  }

  // Scrambled data: white noise limited to the telephone band.  A full
  // duplex stretch sounds denser than one side training alone.
  void scrambled(double t0, double dur, double amp) {
    Biquad hp = make_filter(true, 300, 0.7), lp = make_filter(false, 3300, 0.7);
    Biquad hp2 = make_filter(true, 300, 0.7), lp2 = make_filter(false, 3300, 0.7);
    for_span(t0, dur, [&](size_t, double, double env) {
      double x = lp2.run(lp.run(hp2.run(hp.run(noise_.next()))));
      return x * amp * env;
    });
  }

  // The hiss of an open line under everything while the speaker is on.
  void line_hiss(double t0, double dur, double amp) {
    Biquad lp = make_filter(false, 2500, 0.7);
    for_span(t0, dur, [&](size_t, double, double) { return lp.run(noise_.next()) * amp; });
  }

 private:
  // Calls f(index from the span's start, time from the span's start,
  // envelope) for every sample of the span and adds its result.
  template <typename F>
  void for_span(double t0, double dur, F f) {
    size_t start = static_cast<size_t>(t0 * kRate + 0.5);
    size_t n = static_cast<size_t>(dur * kRate + 0.5);
    double ramp = 0.005 * kRate;
    for (size_t i = 0; i < n && start + i < samples_.size(); i++) {
      double env = 1.0;
      if (i < ramp) env = i / ramp;
      if (n - i < ramp) env = std::min(env, (n - i) / ramp);
      samples_[start + i] += f(i, static_cast<double>(i) / kRate, env);
    }
  }

  std::vector<double> samples_;
  Noise noise_;
};

// A V.34 modem calling long distance: two rings, ANSam, V.8, probing,
// training.  26 seconds.
Track first_call() {
  Track k(26.0, 0x4b41u);
  k.line_hiss(0.25, 24.9, 1.2);
  k.click(0.25, 60);
  k.tones(0.30, 2.0, {350, 440}, 38);
  double t = k.dial(2.45, "13125550142", 0.09, 0.07, 42);
  k.click(t + 0.4, 25);
  k.tones(5.5, 2.0, {440, 480}, 30);
  k.tones(11.5, 2.0, {440, 480}, 30);
  k.click(14.0, 45);
  // ANSam: 2100 Hz, reversed every 450 ms, 15 Hz amplitude modulation.
  k.tones(14.3, 3.3, {2100}, 80, 0.45, 15, 0.2);
  // V.8: the caller's CM alone, then the answerer's JM over it.
  k.fsk(17.6, 1.2, 980, 1180, 45);
  k.fsk(18.0, 0.8, 1650, 1850, 45);
  // V.34 phase 2: INFO0 both ways, tones A and B, line probing.
  k.dpsk(19.0, 0.35, 1200, 40);
  k.dpsk(19.1, 0.35, 2400, 40);
  k.tones(19.5, 0.3, {2400}, 55, 0.1);
  k.probe(19.85, 0.16, 85);
  k.probe(20.01, 0.55, 60);
  k.tones(20.6, 0.2, {1200}, 55);
  k.dpsk(20.85, 0.3, 1200, 40);
  // Phases 3 and 4: S and S-bar (600 + 3000 Hz), then scrambled training,
  // first one side, then both.
  k.tones(21.2, 0.25, {600, 3000}, 40, 0.125);
  k.scrambled(21.45, 1.1, 95);
  k.tones(22.6, 0.2, {600, 3000}, 40, 0.1);
  k.scrambled(22.8, 1.0, 95);
  k.scrambled(23.85, 1.35, 120);
  return k;
}

// A quick local call: one ring, plain ANS with phase reversals, V.8, then
// V.32bis-like tones and training.  15 seconds.
Track second_call() {
  Track k(15.0, 0x3032u);
  k.line_hiss(0.2, 14.3, 1.2);
  k.click(0.2, 60);
  k.tones(0.25, 1.3, {350, 440}, 38);
  k.dial(1.65, "5551907", 0.08, 0.06, 42);
  k.tones(3.4, 2.0, {440, 480}, 30);
  k.click(6.1, 45);
  k.tones(6.4, 2.6, {2100}, 80, 0.45);
  k.fsk(9.2, 0.9, 980, 1180, 45);
  k.fsk(9.5, 0.6, 1650, 1850, 45);
  // V.32bis start-up: AA (1800 Hz), then AC / CA (600 + 3000 Hz) with
  // reversals, then the echo canceller's training.
  k.tones(10.2, 0.45, {1800}, 60);
  k.tones(10.7, 0.3, {600, 3000}, 40, 0.064);
  k.scrambled(11.05, 0.8, 95);
  k.tones(11.9, 0.15, {600, 3000}, 40, 0.05);
  k.scrambled(12.1, 2.2, 120);
  return k;
}

void put16(std::string* s, uint16_t v) {
  s->push_back(static_cast<char>(v & 0xff));
  s->push_back(static_cast<char>(v >> 8));
}

void put32(std::string* s, uint32_t v) {
  put16(s, static_cast<uint16_t>(v & 0xffff));
  put16(s, static_cast<uint16_t>(v >> 16));
}

// A fixed-size text field of the LIST chunk, padded with NULs.
void put_text(std::string* s, const char* id, const char* text, uint32_t size) {
  s->append(id, 4);
  put32(s, size);
  std::string field(text);
  field.resize(size, '\0');
  s->append(field);
}

std::string wave_file(const Track& track, const char* title) {
  std::string data;
  for (double v : track.samples()) {
    long q = std::lround(v) + 128;
    data.push_back(static_cast<char>(q < 1 ? 1 : q > 255 ? 255 : q));
  }
  std::string list = "INFO";
  put_text(&list, "INAM", title, 20);
  put_text(&list, "ISFT", "Kavel modemsynth", 24);  // 4 + 28 + 32 = 64 bytes

  std::string body = "WAVE";
  body += "fmt ";
  put32(&body, 16);
  put16(&body, 1);  // PCM
  put16(&body, 1);  // mono
  put32(&body, kRate);
  put32(&body, kRate);  // bytes per second
  put16(&body, 1);      // bytes per frame
  put16(&body, 8);      // bits per sample
  body += "LIST";
  put32(&body, static_cast<uint32_t>(list.size()));
  body += list;
  body += "data";
  put32(&body, static_cast<uint32_t>(data.size()));
  body += data;
  if (data.size() & 1) body.push_back('\0');

  std::string file = "RIFF";
  put32(&file, static_cast<uint32_t>(body.size()));
  return file + body;
}

int write_file(const std::string& path, const std::string& bytes) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return -1;
  bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (fclose(f) != 0) ok = false;
  return ok ? 0 : -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: kavel-modemsynth OUTDIR\n");
    return 2;
  }
  std::string dir = argv[1];
  if (write_file(dir + "/modem01.wav", wave_file(first_call(), "Kavel dial-up 1")) != 0 ||
      write_file(dir + "/modem02.wav", wave_file(second_call(), "Kavel dial-up 2")) != 0) {
    fprintf(stderr, "kavel-modemsynth: cannot write the recordings in %s\n", argv[1]);
    return 1;
  }
  return 0;
}
