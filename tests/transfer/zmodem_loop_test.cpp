// Our sender and our receiver wired to each other in memory, with a fake
// clock, and a line that drops, flips and adds bytes.  Whatever the damage,
// a run either delivers a byte-identical file or ends with a failure; it
// never claims success for a damaged file and never runs forever.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "transfer/zmodem_harness.h"

namespace {

// What std::uniform_real_distribution<double>(0, 1) draws from an mt19937
// (two draws, the second the high part), without the logarithm the library
// works out again on every call: unoptimised, as the test files are built,
// that was three quarters of a damage campaign's time.
double unit_draw(std::mt19937& rng) {
  double low = rng();
  double high = rng();
  double r = (low + high * 4294967296.0) / 18446744073709551616.0;
  return r < 1.0 ? r : std::nextafter(1.0, 0.0);
}

struct Line {
  std::mt19937 rng;
  double drop = 0, flip = 0, garbage = 0;  // per byte
  size_t cut_after = 0;                    // 0: never
  size_t passed = 0;
  bool cut = false;

  std::vector<uint8_t> carry(const std::vector<uint8_t>& in) {
    std::vector<uint8_t> out;
    for (uint8_t b : in) {
      if (cut) break;
      if (cut_after && ++passed > cut_after) {
        cut = true;
        break;
      }
      if (garbage > 0 && unit_draw(rng) < garbage) {
        int n = 1 + static_cast<int>(rng() % 64);
        for (int i = 0; i < n; ++i) out.push_back(static_cast<uint8_t>(rng()));
      }
      if (drop > 0 && unit_draw(rng) < drop) continue;
      if (flip > 0 && unit_draw(rng) < flip) b ^= static_cast<uint8_t>(1u << (rng() % 8));
      out.push_back(b);
    }
    return out;
  }
};

struct LoopResult {
  ZmodemEnding recv_end, send_end;
  std::string recv_text, send_text;
  std::vector<unsigned char> received;
  bool file_there;
  int turns;
};

// Uploads data from a sender endpoint to a receiver endpoint, which detects
// the transfer by itself.
LoopResult run_loop(const std::vector<uint8_t>& data, Line& down, Line& up,
                    uint32_t peer_flags_mask = 0xFF) {
  TempDir src, dst;
  write_file_bytes(src.file("payload.bin"), std::string(data.begin(), data.end()));
  uint32_t clock = 5000;
  ZEndpoint sender(&clock), receiver(&clock);
  receiver.dir = dst.path();
  zmodem_start_upload(&sender.z, src.file("payload.bin").c_str());
  int turns = 0;
  bool recv_ended = false, was_receiving = false;
  ZmodemEnding recv_end = kZmodemRunning;
  std::string recv_text;
  const int kMaxTurns = 200000;
  for (; turns < kMaxTurns; ++turns) {
    std::vector<uint8_t> s = sender.take();
    std::vector<uint8_t> r = receiver.take();
    if (!s.empty()) receiver.feed(down.carry(s));
    if (!r.empty()) {
      std::vector<uint8_t> back = up.carry(r);
      // Lets a test play a receiver without some capability.
      if (peer_flags_mask != 0xFF) {
        for (size_t i = 0; i + 13 < back.size(); ++i) {
          if (back[i] == 0x2A && back[i + 3] == ZHEX && back[i + 4] == '0' && back[i + 5] == '1') {
            uint8_t five[5] = {1, 0, 0, 0, static_cast<uint8_t>(0x23 & peer_flags_mask)};
            uint8_t hh[32];
            size_t n = zmodem_build_hex_header(hh, sizeof hh, ZRINIT,
                                               static_cast<uint32_t>(five[4]) << 24);
            std::copy(hh + 4, hh + 18, back.begin() + static_cast<long>(i) + 4);
            (void)n;
          }
        }
      }
      sender.feed(back);
    }
    // The first ending counts: a sender that repeats its ZFIN afterwards
    // starts a short trailing exchange that ends silently.
    if (!recv_ended && was_receiving && !receiver.z.active) {
      recv_ended = true;
      recv_end = receiver.z.ending;
      recv_text = receiver.z.status_text;
    }
    was_receiving = receiver.z.active != 0;
    bool quiet = s.empty() && r.empty();
    if (!sender.z.active && !receiver.z.active && quiet) break;
    if (quiet || !sender.z.streaming) clock += 10;
    zmodem_poll(&sender.z);
    zmodem_poll(&receiver.z);
    // A cut line: both sides see the connection close.
    if (down.cut || up.cut) {
      if (sender.z.active || sender.z.file)
        zmodem_finish(&sender.z, "ZMODEM interrupted by disconnect");
      if (receiver.z.active || receiver.z.file)
        zmodem_finish(&receiver.z, "ZMODEM interrupted by disconnect");
      break;
    }
  }
  if (!recv_ended) {
    recv_end = receiver.z.ending;
    recv_text = receiver.z.status_text;
  }
  LoopResult res{recv_end, sender.z.ending, recv_text, sender.z.status_text, {}, false, turns};
  res.file_there = transfer_path_exists(dst.file("payload.bin").c_str());
  if (res.file_there) res.received = read_file_bytes(dst.file("payload.bin"));
  return res;
}

TEST(ZmodemLoop, CleanLineAllSizesAndCapabilities) {
  struct Case {
    size_t size;
    uint32_t mask;  // ZRINIT flags the receiver admits to
  } cases[] = {{0, 0xFF},    {1, 0xFF},    {1023, 0xFF},   {1024, 0xFF},
               {1025, 0xFF}, {2500, 0xFF}, {300000, 0xFF}, {5000, 0x21}, /* no streaming */
               {5000, 0x03} /* no CRC-32 */};
  for (const auto& c : cases) {
    Line down{std::mt19937(1)}, up{std::mt19937(2)};
    auto data = random_bytes(c.size, static_cast<uint32_t>(c.size));
    LoopResult r = run_loop(data, down, up, c.mask);
    EXPECT_EQ(r.recv_end, kZmodemSucceeded) << c.size << " " << r.recv_text;
    EXPECT_EQ(r.send_end, kZmodemSucceeded) << c.size << " " << r.send_text;
    EXPECT_EQ(r.received, std::vector<unsigned char>(data.begin(), data.end())) << c.size;
  }
}

// Moderate damage must always be recovered from.
TEST(ZmodemLoop, DamagedLineRecovers) {
  auto data = random_bytes(200000, 99);
  for (uint32_t seed = 1; seed <= 40; ++seed) {
    Line down{std::mt19937(seed)}, up{std::mt19937(seed + 1000)};
    down.drop = 2e-5;
    down.flip = 2e-5;
    down.garbage = 5e-6;
    up.drop = 2e-3;  // the reply channel carries few bytes: damage it more often
    up.flip = 2e-3;
    LoopResult r = run_loop(data, down, up);
    EXPECT_EQ(r.recv_end, kZmodemSucceeded) << "seed " << seed << ": " << r.recv_text;
    EXPECT_EQ(r.received, std::vector<unsigned char>(data.begin(), data.end())) << "seed " << seed;
  }
}

// Heavy damage and cut lines may fail, but never with a claim of success
// for a file that is not identical.
TEST(ZmodemLoop, HeavyDamageNeverClaimsSuccessWrongly) {
  auto data = random_bytes(100000, 5);
  int succeeded = 0, failed = 0;
  for (uint32_t seed = 1; seed <= 60; ++seed) {
    Line down{std::mt19937(seed)}, up{std::mt19937(seed * 7)};
    down.drop = 1e-4;
    down.flip = 1e-4;
    down.garbage = 2e-5;
    up.drop = 0.01;
    up.flip = 0.01;
    if (seed % 4 == 0) down.cut_after = 20000 + seed * 500;
    LoopResult r = run_loop(data, down, up);
    ASSERT_LT(r.turns, 200000) << "seed " << seed << " did not end";
    if (r.recv_end == kZmodemSucceeded) {
      ++succeeded;
      EXPECT_EQ(r.received, std::vector<unsigned char>(data.begin(), data.end()))
          << "seed " << seed;
    } else {
      ++failed;
      EXPECT_EQ(r.recv_end, kZmodemFailed) << "seed " << seed;
      EXPECT_NE(r.recv_text, "ZMODEM finished");
    }
    if (r.send_end == kZmodemSucceeded) {
      EXPECT_EQ(r.recv_end, kZmodemSucceeded) << "seed " << seed;
    }
  }
  // Both outcomes occur, so the test exercises both branches.
  EXPECT_GT(succeeded, 0);
  EXPECT_GT(failed, 0);
}

}  // namespace
