// The XMODEM engine: an engine sender and an engine receiver wired in memory
// (every size and variant, clean and damaged lines), the receiver's start
// modes, time-outs and retries on a fake clock, the cancel sequence both
// ways, the endings (no callback after the close), and senders that never
// stop sending.  Its YMODEM batches: block 0, the engine against the
// adapter and the adapter against itself over damaged lines, and the
// exchanges of both sides byte by byte.
#include "transfer/xmodem.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "transfer/transfer_files.h"
#include "transfer/xmodem_harness.h"
#include "transfer/ymodem.h"

using xmtest::Host;
using xmtest::Wire;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes frame(uint8_t number, const Bytes& data, bool crc, int complement_delta = 0) {
  Bytes f;
  f.push_back(data.size() == 1024 ? kXmStx : kXmSoh);
  f.push_back(number);
  f.push_back(static_cast<uint8_t>(255 - number + complement_delta));
  f.insert(f.end(), data.begin(), data.end());
  if (crc) {
    uint16_t c = xmodem_crc16(data.data(), data.size());
    f.push_back(static_cast<uint8_t>(c >> 8));
    f.push_back(static_cast<uint8_t>(c));
  } else {
    f.push_back(xmodem_checksum(data.data(), data.size()));
  }
  return f;
}

int feed(Host& h, const Bytes& bytes) {
  int rc = 0;
  for (uint8_t b : bytes) {
    rc = xmodem_consume(&h.st, b);
    if (rc != 0) break;
  }
  return rc;
}

// A receiver on a fake clock that has sent its first start request.
struct Receiver {
  uint32_t now = 0;
  Host h;
  explicit Receiver(int start_mode = 1) {
    h.clock = [this] { return now; };
    h.init();
    xmodem_start_receive(&h.st, "file.bin", start_mode);
    xmodem_pump(&h.st);
    h.take_written();
  }
  int pump_at(uint32_t t) {
    now = t;
    return xmodem_pump(&h.st);
  }
};

// A sender on a fake clock, started by the receiver's request.
struct Sender {
  uint32_t now = 1000;
  Host h;
  explicit Sender(size_t size, uint8_t request = kXmCrcRequest, int preferred = 1024) {
    h.source = xmtest::random_bytes(size, static_cast<uint32_t>(size) + 7);
    h.clock = [this] { return now; };
    h.init();
    xmodem_start_send(&h.st, "up.bin", static_cast<uint32_t>(size));
    h.st.preferred_block = preferred;
    if (request) xmodem_consume(&h.st, request);
  }
};

const Bytes kCancelSequence = {0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x08,
                               0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08};

// ---- the two checks -----------------------------------------------------------------

TEST(XmodemChecks, CrcAndChecksumOfKnownData) {
  const uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(xmodem_crc16(digits, 9), 0x31C3);  // the published XMODEM check value
  EXPECT_EQ(xmodem_crc16(digits, 0), 0);
  EXPECT_EQ(xmodem_checksum(digits, 9), static_cast<uint8_t>(0x1DD));
  EXPECT_EQ(xmodem_checksum(digits, 0), 0);
  Bytes pad(128, kXmPad);
  EXPECT_EQ(xmodem_checksum(pad.data(), pad.size()), static_cast<uint8_t>(128 * 0x1A));
  // Against the CRC shifted bit by bit, on every length up to a 1K block.
  Bytes data = xmtest::random_bytes(1024, 12);
  uint16_t bitwise = 0;
  for (size_t n = 0; n < data.size(); n++) {
    ASSERT_EQ(xmodem_crc16(data.data(), n), bitwise) << n;
    bitwise ^= static_cast<uint16_t>(data[n] << 8);
    for (int bit = 0; bit < 8; bit++) {
      bitwise = static_cast<uint16_t>(bitwise & 0x8000 ? (bitwise << 1) ^ 0x1021 : bitwise << 1);
    }
  }
}

// ---- engine to engine in memory -------------------------------------------------

struct PairRun {
  Host tx, rx;
  Wire to_rx, to_tx;
  uint32_t now = 1;
  uint64_t turns = 0;

  PairRun(const Bytes& data, int start_mode, int preferred, uint32_t seed) {
    to_rx.rng.seed(seed);
    to_tx.rng.seed(seed ^ 0x9e3779b9u);
    tx.source = data;
    tx.out = &to_rx;
    rx.out = &to_tx;
    tx.clock = [this] { return now; };
    rx.clock = [this] { return now; };
    tx.init();
    rx.init();
    xmodem_start_send(&tx.st, "up.bin", static_cast<uint32_t>(data.size()));
    tx.st.preferred_block = preferred;
    xmodem_start_receive(&rx.st, "down.bin", start_mode);
  }

  // One turn of a session loop on each side: deliver what is on the wires,
  // pump, and let time pass only when nothing moved.
  void step() {
    bool moved = false;
    for (int i = 0; i < 512 && !to_rx.bytes.empty(); i++) {
      uint8_t b = to_rx.bytes.front();
      to_rx.bytes.pop_front();
      xmodem_consume(&rx.st, b);
      moved = true;
    }
    for (int i = 0; i < 512 && !to_tx.bytes.empty(); i++) {
      uint8_t b = to_tx.bytes.front();
      to_tx.bytes.pop_front();
      xmodem_consume(&tx.st, b);
      moved = true;
    }
    if (!moved) now += 20;
    xmodem_pump(&tx.st);
    xmodem_pump(&rx.st);
    turns++;
  }
  // Turns until both engines ended or the fake time limit passed.
  void run(uint32_t limit_ms) {
    while ((tx.st.active || rx.st.active) && now < limit_ms) step();
  }
};

struct Variant {
  const char* name;
  int start_mode;  // the receiver's
  int preferred;   // the sender's block size
  bool crc;        // what the transfer ends up using
};
const Variant kVariants[] = {
    {"checksum", 0, 128, false},     {"crc16", 1, 128, true},           {"1k-crc", 1, 1024, true},
    {"1k-checksum", 0, 1024, false}, {"1k-alternating", 2, 1024, true},
};
const size_t kSizes[] = {0, 1, 127, 128, 129, 896, 897, 1000, 1024, 1025, 1u << 20};

void expect_whole_file(const PairRun& p, const Bytes& data, bool one_k, const std::string& what) {
  size_t pad = 0;
  ASSERT_TRUE(xmtest::is_file_plus_padding(p.rx.stored, data, &pad)) << what;
  EXPECT_EQ(p.rx.stored.size(), xmtest::engine_padded_length(data.size(), one_k)) << what;
  EXPECT_LT(pad, one_k ? 1024u : 128u) << what;
}

TEST(XmodemPair, EverySizeAndVariantOnACleanLine) {
  for (const Variant& v : kVariants) {
    for (size_t size : kSizes) {
      std::string what = std::string(v.name) + " size " + std::to_string(size);
      Bytes data = xmtest::random_bytes(size, static_cast<uint32_t>(size) * 3 + 1);
      PairRun p(data, v.start_mode, v.preferred, 1);
      p.run(600000);
      ASSERT_TRUE(p.tx.completed()) << what << ": " << p.tx.st.status_text;
      ASSERT_TRUE(p.rx.completed()) << what << ": " << p.rx.st.status_text;
      expect_whole_file(p, data, v.preferred == 1024, what);
      EXPECT_EQ(p.rx.st.use_crc, v.crc ? 1 : 0) << what;
      EXPECT_EQ(p.tx.st.use_crc, v.crc ? 1 : 0) << what;
      EXPECT_EQ(p.tx.st.bytes_done, size) << what;
      // The only NAK on a clean line is the one every first EOT gets.
      for (const Host* h : {&p.tx, &p.rx}) {
        for (const auto& rep : h->reports) {
          EXPECT_TRUE(rep.kind != XM_REPORT_RETRY || rep.text == "XMODEM send: EOT" ||
                      (v.start_mode == 0 && rep.text == "XMODEM receive: sent NAK"))
              << what << ": " << rep.text;
        }
      }
      // A clean line needs no time-out beyond the receiver's first request.
      EXPECT_LT(p.now, 100u) << what;
      for (Host* h : {&p.tx, &p.rx}) {
        EXPECT_EQ(h->closes, 1) << what;
        EXPECT_EQ(h->calls_after_close, 0) << what;
        EXPECT_EQ(h->reports_after_close, 1) << what;
        EXPECT_EQ(h->last_report()->kind, XM_REPORT_COMPLETE) << what;
      }
    }
  }
}

// Every block goes to the write entry in one call, and the receiver answers
// it within the same call that delivered its last byte.
TEST(XmodemPair, WholeBlocksInOneWriteAndAnswersWithoutWaiting) {
  Sender s(4 * 1024 + 100);
  Receiver r(1);
  for (int block = 0; block < 5; block++) {
    ASSERT_EQ(s.h.writes.size(), 1u);
    Bytes f = s.h.writes[0];
    EXPECT_EQ(f.size(), block < 4 ? 1029u : 133u);
    s.h.writes.clear();
    ASSERT_EQ(feed(r.h, f), 0);
    ASSERT_EQ(r.h.take_written(), Bytes{kXmAck}) << "block " << block;
    xmodem_consume(&s.h.st, kXmAck);
  }
  EXPECT_EQ(s.h.take_written(), Bytes{kXmEot});
}

struct Damage {
  const char* name;
  uint32_t drop, flip, garbage;
};

// Checksum blocks cannot be guarded against every damage: a frame that lost
// a byte and was completed by the start of the next one passes the 8-bit sum
// once in 256 times.  They are run with single flipped bits, which the sum
// always catches; CRC-16 blocks take every kind of damage.
TEST(XmodemPair, DamagedLinesEndWithTheWholeFileOrAFailure) {
  const Damage kChecksumDamage[] = {{"flips", 0, 150, 0}};
  const Damage kCrcDamage[] = {
      {"drops", 150, 0, 0}, {"flips", 0, 150, 0}, {"garbage", 0, 0, 150}, {"all", 60, 60, 60}};
  int runs = 0, completed = 0;
  for (const Variant& v : kVariants) {
    for (const Damage& d :
         v.crc ? std::vector<Damage>(std::begin(kCrcDamage), std::end(kCrcDamage))
               : std::vector<Damage>(std::begin(kChecksumDamage), std::end(kChecksumDamage))) {
      for (size_t size : kSizes) {
        std::string what = std::string(v.name) + " " + d.name + " size " + std::to_string(size);
        Bytes data = xmtest::random_bytes(size, static_cast<uint32_t>(size) + 11);
        PairRun p(data, v.start_mode, v.preferred, static_cast<uint32_t>(size) * 31 + runs);
        for (Wire* w : {&p.to_rx, &p.to_tx}) {
          w->drop_ppm = d.drop;
          w->flip_ppm = d.flip;
          w->garbage_ppm = d.garbage;
        }
        p.run(24u * 3600 * 1000);
        runs++;
        ASSERT_FALSE(p.tx.st.active) << what;
        ASSERT_FALSE(p.rx.st.active) << what;
        if (p.rx.completed()) {
          completed++;
          expect_whole_file(p, data, v.preferred == 1024, what);
        }
        if (p.tx.completed()) {
          EXPECT_TRUE(p.rx.completed()) << what;
        }
        EXPECT_EQ(p.tx.closes, 1) << what;
        EXPECT_EQ(p.rx.closes, 1) << what;
        EXPECT_EQ(p.tx.calls_after_close + p.rx.calls_after_close, 0) << what;
      }
    }
  }
  // Damage this light is nearly always recovered from.
  EXPECT_GE(completed * 10, runs * 9) << completed << " of " << runs;
}

// The fault-injection sweep: many seeded runs of a 256 KiB file with every
// kind of damage and sometimes a cut line.  Each run ends (no hang past the
// time-outs) with the whole file or a failure, never a damaged file
// reported complete.
TEST(XmodemPair, SeededFaultInjectionRuns) {
  Bytes data = xmtest::random_bytes(256 * 1024, 2024);
  int completed = 0, failed = 0, asking = 0, uncut = 0, uncut_completed = 0;
  for (uint32_t seed = 1; seed <= 120; seed++) {
    std::string what = "seed " + std::to_string(seed);
    const Variant& v = kVariants[seed % 2 ? 2 : 1];
    PairRun p(data, v.start_mode, v.preferred, seed);
    for (Wire* w : {&p.to_rx, &p.to_tx}) {
      w->drop_ppm = 20 + seed % 40;
      w->flip_ppm = 20 + seed % 30;
      w->garbage_ppm = 10 + seed % 20;
    }
    bool cut = seed % 10 == 0;
    uncut += !cut;
    if (cut) {
      // Cut both directions somewhere into the transfer (at the start for
      // seed 40: the receiver has nothing yet).
      uint32_t at = (seed * 7919) % data.size();
      while (p.rx.st.bytes_done < at && p.rx.st.active && p.tx.st.active) p.step();
      p.to_rx.cut = p.to_tx.cut = true;
    }
    uint32_t start = p.now;
    p.run(start + 3600u * 1000);
    // With the line cut before anything arrived the receiver keeps asking,
    // as it does while it waits for a sender to start.
    if (p.rx.st.active) {
      ASSERT_TRUE(cut) << what;
      ASSERT_EQ(p.rx.st.blocks_done, 0u) << what;
      asking++;
      xmodem_cancel(&p.rx.st, nullptr);
    }
    ASSERT_FALSE(p.tx.st.active) << what;
    if (p.rx.completed()) {
      completed++;
      uncut_completed += !cut;
      expect_whole_file(p, data, v.preferred == 1024, what);
    } else {
      failed++;
      EXPECT_NE(p.rx.last_report()->kind, XM_REPORT_COMPLETE) << what;
    }
    if (p.tx.completed()) {
      EXPECT_TRUE(p.rx.completed()) << what;
    }
    EXPECT_EQ(p.tx.calls_after_close + p.rx.calls_after_close, 0) << what;
  }
  // Damage this light is nearly always recovered from.
  EXPECT_GE(uncut_completed * 20, uncut * 19)
      << completed << " complete, " << failed << " failed, " << asking << " still asking";
}

// ---- receiving -----------------------------------------------------------------

TEST(XmodemReceive, StartModesAskAtOnceThenEveryTwoSeconds) {
  struct Case {
    int mode;
    Bytes requests;  // over five pumps two seconds apart
    Bytes crc_after;
  };
  const Case cases[] = {
      {0, {kXmNak, kXmNak, kXmNak, kXmNak, kXmNak}, {0, 0, 0, 0, 0}},
      {1, {'C', 'C', 'C', 'C', 'C'}, {1, 1, 1, 1, 1}},
      {2, {'C', kXmNak, 'C', kXmNak, 'C'}, {1, 0, 1, 0, 1}},
      {7, {'C', 'C', 'C', 'C', 'C'}, {1, 1, 1, 1, 1}},  // unknown modes ask for CRC
  };
  for (const Case& c : cases) {
    uint32_t now = 0;  // a clock at 0 is a time like any other
    Host h;
    h.clock = [&] { return now; };
    h.init();
    ASSERT_EQ(xmodem_start_receive(&h.st, "", c.mode), 0);
    EXPECT_STREQ(h.st.file_name, "xmodem.prg");
    EXPECT_EQ(h.reports.at(0).kind, XM_REPORT_STARTED);
    EXPECT_EQ(h.reports.at(0).text, "XMODEM receive: waiting");
    EXPECT_TRUE(h.writes.empty()) << "nothing is sent before the first pump";
    for (int i = 0; i < 5; i++) {
      ASSERT_EQ(xmodem_pump(&h.st), 0);
      ASSERT_EQ(h.take_written(), Bytes{c.requests[i]}) << "mode " << c.mode << " poll " << i;
      EXPECT_EQ(h.st.use_crc, c.crc_after[i]);
      EXPECT_EQ(h.last_report()->text,
                c.requests[i] == 'C' ? "XMODEM receive: sent C" : "XMODEM receive: sent NAK");
      now += 1999;
      xmodem_pump(&h.st);
      EXPECT_TRUE(h.writes.empty()) << "nothing within two seconds";
      now += 1;
    }
    EXPECT_TRUE(h.st.active);
  }
}

// A sender that answers late: its first block arrives after the receiver
// has asked again, for the other mode.  The first block is taken in
// whichever mode it comes (a checksum block once the line is quiet after
// it), and that mode holds for the rest of the file.
TEST(XmodemReceive, FirstBlockIsTakenInTheModeItArrives) {
  struct Case {
    const char* name;
    int start_mode;
    uint32_t answered_at;  // the request the sender answers: "C" at 0, NAK at 2000
    uint32_t arrives_at;   // after the receiver's requests up to then
  };
  const Case cases[] = {
      {"CRC block after the NAK that followed the C", 2, 0, 2000},
      {"checksum block after the C that followed the NAK", 2, 2000, 4000},
      {"CRC block, on time", 2, 0, 0},
      {"checksum block to a receiver asking for CRC only", 1, 2000, 2000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Receiver r(c.start_mode);
    uint8_t request = 'C';
    if (c.answered_at) {
      r.pump_at(c.answered_at);
      request = r.h.take_written().at(0);
    }
    if (c.start_mode == 1) request = kXmNak;  // an old sender that knows only checksums
    Sender s(2000, request, 128);
    r.pump_at(c.arrives_at);
    r.h.take_written();
    bool crc = request == 'C';
    ASSERT_EQ(feed(r.h, s.h.take_written()), 0);
    if (!crc) {
      EXPECT_TRUE(r.h.writes.empty()) << "a checksum block waits for the line to fall quiet";
      r.pump_at(r.now + 251);
    }
    ASSERT_EQ(r.h.take_written(), Bytes{kXmAck});
    EXPECT_EQ(r.h.st.use_crc, crc ? 1 : 0);
    // The mode holds: the next block is taken at once.
    xmodem_consume(&s.h.st, kXmAck);
    ASSERT_EQ(feed(r.h, s.h.take_written()), 0);
    EXPECT_EQ(r.h.take_written(), Bytes{kXmAck});
    EXPECT_EQ(r.h.stored, Bytes(s.h.source.begin(), s.h.source.begin() + 256));
  }
}

TEST(XmodemReceive, BlocksAreCheckedAndAnswered) {
  Bytes a(128, 0x11), b(1024, 0x22);
  for (size_t i = 0; i < b.size(); i++) b[i] = static_cast<uint8_t>(i * 7);
  Bytes bad_crc = frame(2, b, true);
  bad_crc.back() ^= 1;
  Bytes bad_data = frame(2, b, true);
  bad_data[500] ^= 0x80;
  struct Case {
    const char* name;
    Bytes bytes;
    Bytes answer;
    size_t stored;
  };
  const Case cases[] = {
      {"next block", frame(2, b, true), {kXmAck}, 128 + 1024},
      {"repeat of the last good block", frame(1, a, true), {kXmAck}, 128},
      {"bad complement", frame(2, b, true, 1), {kXmNak}, 128},
      {"bad CRC", bad_crc, {kXmNak}, 128},
      {"damaged data", bad_data, {kXmNak}, 128},
      {"a block ahead", frame(3, b, true), {kXmNak}, 128},
      {"an old block", frame(0, a, true), {kXmNak}, 128},
      {"checksum block in CRC mode", frame(2, a, false), {}, 128},
  };
  for (const Case& c : cases) {
    Receiver r(1);
    ASSERT_EQ(feed(r.h, frame(1, a, true)), 0);
    ASSERT_EQ(r.h.take_written(), Bytes{kXmAck});
    ASSERT_EQ(feed(r.h, c.bytes), 0) << c.name;
    r.pump_at(r.now + 251);  // a damaged block is answered once the line is quiet
    EXPECT_EQ(r.h.take_written(), c.answer) << c.name;
    EXPECT_EQ(r.h.stored.size(), c.stored) << c.name;
    EXPECT_TRUE(r.h.st.active) << c.name;
  }
}

TEST(XmodemReceive, ProgressReportsAndFigures) {
  Receiver r(1);
  Bytes data(1024, 9);
  feed(r.h, frame(1, data, true));
  feed(r.h, frame(2, Bytes(128, 8), true));
  EXPECT_EQ(r.h.st.blocks_done, 2u);
  EXPECT_EQ(r.h.st.bytes_done, 1152u);
  EXPECT_EQ(r.h.st.expected_block, 3);
  std::vector<std::string> texts;
  for (const auto& rep : r.h.reports) texts.push_back(rep.text);
  const std::vector<std::string> want = {"XMODEM receive: waiting",  "XMODEM receive: sent C",
                                         "XMODEM receive: 1K block", "XMODEM receive: block 1",
                                         "XMODEM receive: block",    "XMODEM receive: block 2"};
  EXPECT_EQ(texts, want);
  EXPECT_EQ(r.h.reports.back().bytes, 1152u);
  EXPECT_EQ(r.h.reports.back().crc, 1u);
  EXPECT_EQ(r.h.reports.back().name, "file.bin");
}

TEST(XmodemReceive, BlockNumbersWrapAfter255) {
  Receiver r(1);
  Bytes data(128, 0);
  for (int n = 1; n <= 300; n++) {
    data[0] = static_cast<uint8_t>(n);
    data[1] = static_cast<uint8_t>(n >> 8);
    ASSERT_EQ(feed(r.h, frame(static_cast<uint8_t>(n), data, true)), 0);
    ASSERT_EQ(r.h.take_written(), Bytes{kXmAck}) << n;
  }
  ASSERT_EQ(r.h.stored.size(), 300u * 128);
  for (int n = 1; n <= 300; n++) {
    ASSERT_EQ(r.h.stored[(n - 1) * 128] | r.h.stored[(n - 1) * 128 + 1] << 8, n);
  }
}

TEST(XmodemReceive, EndOfFile) {
  Bytes nak_then_cancel = {kXmNak};
  nak_then_cancel.insert(nak_then_cancel.end(), kCancelSequence.begin(), kCancelSequence.end());
  struct Case {
    const char* name;
    Bytes before;  // after the first block's ACK
    bool second_eot;
    uint32_t silence;
    bool complete;
    Bytes answers;
    int close_result = 0;
  };
  const Case cases[] = {
      {"EOT twice", {}, true, 0, true, {kXmNak, kXmAck}},
      {"one EOT, then two seconds of silence", {}, false, 2000, true, {kXmNak, kXmAck}},
      {"one EOT, then just under two seconds", {}, false, 1999, false, {kXmNak}},
      // An EOT that follows other bytes is data of a block whose lead byte
      // was lost: it is not answered, and two seconds later the receiver
      // asks for the block again.
      {"EOT after a stray byte", {0x33}, true, 2000, false, {kXmNak}},
      // The file is closed before the ACK: when that fails (the last bytes
      // could not be written), the sender is stopped instead of told that
      // the file arrived.
      {"EOT twice, the close fails", {}, true, 0, false, nak_then_cancel, -1},
      {"lone EOT, the close fails", {}, false, 2000, false, nak_then_cancel, -1},
  };
  for (const Case& c : cases) {
    Receiver r(1);
    r.h.close_result = c.close_result;
    feed(r.h, frame(1, Bytes(128, 1), true));
    r.h.take_written();
    feed(r.h, c.before);
    xmodem_consume(&r.h.st, kXmEot);
    if (c.second_eot) xmodem_consume(&r.h.st, kXmEot);
    if (c.silence) r.pump_at(r.now + c.silence);
    EXPECT_EQ(r.h.take_written(), c.answers) << c.name;
    EXPECT_EQ(r.h.completed(), c.complete) << c.name;
    EXPECT_EQ(r.h.stored.size(), 128u) << c.name;
    if (c.close_result) {
      EXPECT_FALSE(r.h.st.active) << c.name;
      EXPECT_EQ(r.h.last_report()->kind, XM_REPORT_FAILED) << c.name;
    }
    if (!r.h.st.active) {
      EXPECT_EQ(r.h.closes, 1) << c.name;
      EXPECT_EQ(r.h.calls_after_close, 0) << c.name;
    }
  }
}

TEST(XmodemReceive, EmptyFileIsOneEotAnswered) {
  Receiver r(1);
  xmodem_consume(&r.h.st, kXmEot);
  xmodem_consume(&r.h.st, kXmEot);
  EXPECT_TRUE(r.h.completed());
  EXPECT_TRUE(r.h.stored.empty());
  EXPECT_EQ(r.h.closes, 1);
}

TEST(XmodemReceive, GarbageHolding04BytesDoesNotEndTheFile) {
  // The lead byte of block 2 is lost: its data, full of 0x04, arrives while
  // the receiver waits for a block.
  Receiver r(1);
  feed(r.h, frame(1, Bytes(128, 1), true));
  r.h.take_written();
  Bytes f = frame(2, Bytes(128, kXmEot), true);
  f.erase(f.begin());
  feed(r.h, f);
  r.pump_at(r.now + 2500);
  EXPECT_TRUE(r.h.st.active);
  EXPECT_EQ(r.h.stored.size(), 128u);
}

TEST(XmodemReceive, TimeOuts) {
  // A block that stops part way is asked for again after ten seconds.
  {
    Receiver r(1);
    Bytes f = frame(1, Bytes(128, 5), true);
    feed(r.h, Bytes(f.begin(), f.begin() + 40));
    r.pump_at(9999);
    EXPECT_TRUE(r.h.writes.empty());
    r.pump_at(10000);
    EXPECT_EQ(r.h.take_written(), Bytes{kXmNak});
    EXPECT_EQ(r.h.st.state, XM_RECV_WAIT);
    EXPECT_EQ(r.h.last_report()->text, "XMODEM receive: retry");
    ASSERT_EQ(feed(r.h, f), 0);
    EXPECT_EQ(r.h.take_written(), Bytes{kXmAck});
    EXPECT_EQ(r.h.stored.size(), 128u);
  }
  // Silence between blocks: NAK every two seconds in the settled mode (an
  // alternating receiver no longer switches), ten in a row end it.
  {
    Receiver r(2);
    feed(r.h, frame(1, Bytes(128, 5), true));
    r.h.take_written();
    for (int i = 1; i <= 9; i++) {
      ASSERT_EQ(r.pump_at(r.now + 2000), 0);
      ASSERT_EQ(r.h.take_written(), Bytes{kXmNak}) << i;
      ASSERT_EQ(r.h.st.use_crc, 1);
      ASSERT_EQ(r.h.st.retries, i);
    }
    EXPECT_EQ(r.pump_at(r.now + 2000), -1);
    EXPECT_FALSE(r.h.st.active);
    EXPECT_STREQ(r.h.st.status_text, "XMODEM failed");
    EXPECT_EQ(r.h.last_report()->kind, XM_REPORT_FAILED);
    EXPECT_EQ(r.h.take_written(), kCancelSequence);
    EXPECT_EQ(r.h.closes, 1);
  }
}

TEST(XmodemReceive, RetriesBeforeTheFirstBlockAreNotLimited) {
  Receiver r(0);
  Bytes bad = frame(1, Bytes(128, 3), false);
  bad.back() ^= 1;
  for (int i = 0; i < 50; i++) {
    ASSERT_EQ(feed(r.h, bad), 0);
    r.pump_at(r.now + 251);
    ASSERT_EQ(r.h.take_written(), Bytes{kXmNak});
  }
  EXPECT_TRUE(r.h.st.active);
  ASSERT_EQ(feed(r.h, frame(1, Bytes(128, 3), false)), 0);
  EXPECT_EQ(r.h.take_written(), Bytes{kXmAck});
  EXPECT_EQ(r.h.st.retries, 0);
}

// A block that lost a byte is completed by the first byte of the sender's
// retransmission.  The rest of that retransmission must not be read as new
// blocks: the receiver discards it, asks once the line is quiet, and the
// next copy goes through.
TEST(XmodemReceive, DamagedBlockIsAnsweredOnceTheLineIsQuiet) {
  Receiver r(1);
  Bytes data = xmtest::random_bytes(1024, 8);
  data[100] = kXmSoh;  // lead bytes inside the data, as a shifted reader would see them
  data[700] = kXmStx;
  Bytes f = frame(1, data, true);
  Bytes burst(f.begin(), f.begin() + 500);
  burst.insert(burst.end(), f.begin() + 501, f.end());  // one byte lost
  burst.insert(burst.end(), f.begin(), f.end());        // the sender's time-out copy
  ASSERT_EQ(feed(r.h, burst), 0);
  r.pump_at(r.now + 250);
  EXPECT_TRUE(r.h.writes.empty()) << "not before a quarter second of quiet";
  r.pump_at(r.now + 1);
  EXPECT_EQ(r.h.take_written(), Bytes{kXmNak});
  ASSERT_EQ(feed(r.h, f), 0);
  EXPECT_EQ(r.h.take_written(), Bytes{kXmAck});
  EXPECT_EQ(r.h.stored, data);
  // A line that never falls quiet is still asked after two frames' worth.
  ASSERT_EQ(feed(r.h, frame(2, data, true, 1)), 0);
  size_t fed = 0;
  while (r.h.writes.empty() && fed < 10000) {
    xmodem_consume(&r.h.st, static_cast<uint8_t>(0x30 + fed % 7));
    fed++;
  }
  EXPECT_EQ(fed, 2u * kXmFrameMax);
  EXPECT_EQ(r.h.take_written(), Bytes{kXmNak});
}

TEST(XmodemReceive, StoreFailureFailsAndTellsTheSender) {
  for (bool without_store : {false, true}) {
    Receiver r(1);
    if (without_store) r.h.st.callbacks.store = nullptr;
    r.h.store_result = -3;
    EXPECT_EQ(feed(r.h, frame(1, Bytes(128, 5), true)), -1);
    EXPECT_FALSE(r.h.st.active);
    EXPECT_STREQ(r.h.st.status_text, "XMODEM failed");
    EXPECT_EQ(r.h.take_written(), kCancelSequence);
    EXPECT_EQ(r.h.closes, 1);
  }
}

// ---- sending -------------------------------------------------------------------

// Leads and lengths of the frames for a file, answering every one with ACK.
std::vector<std::pair<uint8_t, size_t>> frames_for(size_t size, uint8_t request, int preferred) {
  Sender s(size, request, preferred);
  std::vector<std::pair<uint8_t, size_t>> out;
  for (int guard = 0; guard < 100000 && s.h.st.active; guard++) {
    for (auto& w : s.h.writes) out.emplace_back(w[0], w.size());
    s.h.writes.clear();
    xmodem_consume(&s.h.st, kXmAck);
  }
  return out;
}

TEST(XmodemSend, BlockSizesAndPadding) {
  using F = std::vector<std::pair<uint8_t, size_t>>;
  const F seven_small(7, {kXmSoh, 133});
  F small_tail = seven_small;
  small_tail.insert(small_tail.begin(), {kXmStx, 1029});
  struct Case {
    size_t size;
    uint8_t request;
    int preferred;
    F frames;  // EOT follows
  };
  const Case cases[] = {
      {0, 'C', 1024, {}},
      {1, 'C', 1024, {{kXmSoh, 133}}},
      {1000, 'C', 1024, {{kXmStx, 1029}}},  // 1000 bytes and 24 of padding
      {900, 'C', 1024, {{kXmStx, 1029}}},
      {896, 'C', 1024, seven_small},
      {1920, 'C', 1024, small_tail},
      {1000, kXmNak, 1024, {{kXmStx, 1028}}},
      {300, kXmNak, 128, F(3, {kXmSoh, 132})},
      {2048, 'C', 128, F(16, {kXmSoh, 133})},
  };
  for (const Case& c : cases) {
    F got = frames_for(c.size, c.request, c.preferred);
    F want = c.frames;
    want.emplace_back(kXmEot, 1);
    EXPECT_EQ(got, want) << "size " << c.size << " request " << int(c.request);
  }
  // The padding of the 1000-byte file's block, and its check.
  Sender s(1000);
  const Bytes& f = s.h.writes.at(0);
  EXPECT_TRUE(std::equal(s.h.source.begin(), s.h.source.end(), f.begin() + 3));
  EXPECT_EQ(Bytes(f.begin() + 1003, f.begin() + 1027), Bytes(24, kXmPad));
  uint16_t crc = xmodem_crc16(f.data() + 3, 1024);
  EXPECT_EQ(f[1027], crc >> 8);
  EXPECT_EQ(f[1028], crc & 0xFF);
  EXPECT_EQ(s.h.st.send_data_len, 1000);
}

TEST(XmodemSend, StartAndProgressReports) {
  Sender s(300, 0, 128);
  EXPECT_EQ(s.h.reports.at(0).text, "XMODEM send: waiting for receiver");
  EXPECT_EQ(s.h.reports.at(0).total, 300u);
  xmodem_consume(&s.h.st, 'x');  // neither "C" nor NAK: still waiting
  EXPECT_TRUE(s.h.writes.empty());
  xmodem_consume(&s.h.st, kXmNak);
  EXPECT_EQ(s.h.st.use_crc, 0);
  EXPECT_EQ(s.h.reports.at(1).text, "XMODEM send: checksum mode");
  EXPECT_EQ(s.h.reports.at(2).text, "XMODEM send: block 1");
  xmodem_consume(&s.h.st, kXmAck);
  EXPECT_EQ(s.h.st.bytes_done, 128u);
  xmodem_consume(&s.h.st, kXmAck);
  xmodem_consume(&s.h.st, kXmAck);
  EXPECT_EQ(s.h.st.bytes_done, 300u);  // the padding does not count
  EXPECT_EQ(s.h.st.state, XM_SEND_EOT);
  xmodem_consume(&s.h.st, kXmAck);
  EXPECT_TRUE(s.h.completed());
  EXPECT_EQ(s.h.last_report()->kind, XM_REPORT_COMPLETE);
  EXPECT_EQ(s.h.closes, 1);
}

TEST(XmodemSend, ShownBlockNumberWrapsAfter255) {
  Sender s(300 * 128, 'C', 128);
  for (int i = 1; i < 256; i++) xmodem_consume(&s.h.st, kXmAck);
  EXPECT_EQ(s.h.last_report()->text, "XMODEM send: block 0");
  EXPECT_EQ(s.h.writes.back()[1], 0);
  EXPECT_EQ(s.h.writes.back()[2], 255);
}

TEST(XmodemSend, ShortReadsStillFillWholeBlocks) {
  Sender s(3000, 0);
  s.h.read_chunk = 7;
  xmodem_consume(&s.h.st, 'C');
  Bytes got;
  while (s.h.st.active) {
    for (auto& w : s.h.writes) {
      if (w.size() > 1) got.insert(got.end(), w.begin() + 3, w.end() - 2);
    }
    s.h.writes.clear();
    xmodem_consume(&s.h.st, kXmAck);
  }
  EXPECT_TRUE(xmtest::is_file_plus_padding(got, s.h.source));
  EXPECT_EQ(got.size(), xmtest::engine_padded_length(3000, true));
}

TEST(XmodemSend, ReadErrorFails) {
  Sender s(5000);
  s.h.read_error_at = 1024;
  s.h.writes.clear();
  EXPECT_EQ(xmodem_consume(&s.h.st, kXmAck), -1);
  EXPECT_FALSE(s.h.st.active);
  EXPECT_STREQ(s.h.st.status_text, "XMODEM failed");
  EXPECT_EQ(s.h.take_written(), kCancelSequence);
}

TEST(XmodemSend, NakResendsTheSameBlockUntilTheTenthFails) {
  Sender s(2000);
  Bytes first = s.h.writes.at(0);
  s.h.writes.clear();
  for (int i = 1; i <= 9; i++) {
    ASSERT_EQ(xmodem_consume(&s.h.st, kXmNak), 0);
    ASSERT_EQ(s.h.take_written(), first) << i;
    EXPECT_EQ(s.h.last_report()->text, "XMODEM retry");
    EXPECT_EQ(s.h.last_report()->retries, static_cast<uint32_t>(i));
  }
  EXPECT_EQ(xmodem_consume(&s.h.st, kXmNak), -1);
  EXPECT_FALSE(s.h.st.active);
  EXPECT_EQ(s.h.take_written(), kCancelSequence);
  EXPECT_EQ(s.h.last_report()->kind, XM_REPORT_FAILED);
}

TEST(XmodemSend, TimeOutsInEveryWaitingState) {
  struct Case {
    const char* name;
    Bytes to_reach;  // after the start
    Bytes resent;    // what each time-out sends again
  };
  Sender probe(100);
  const Case cases[] = {
      {"waiting for the receiver", {}, {}},
      {"waiting for a block's ACK", {'C'}, probe.h.writes.at(0)},
      {"waiting for the EOT's ACK", {'C', kXmAck}, {kXmEot}},
  };
  for (const Case& c : cases) {
    Sender s(100, 0);
    feed(s.h, c.to_reach);
    s.h.writes.clear();
    uint32_t t = s.now;
    for (int i = 1; i <= 9; i++) {
      s.now = t + 1999;
      ASSERT_EQ(xmodem_pump(&s.h.st), 0);
      ASSERT_TRUE(s.h.writes.empty()) << c.name;
      t += 2000;
      s.now = t;
      ASSERT_EQ(xmodem_pump(&s.h.st), 0) << c.name;
      ASSERT_EQ(s.h.take_written(), c.resent) << c.name << " " << i;
      ASSERT_EQ(s.h.st.retries, i);
    }
    s.now = t + 2000;
    EXPECT_EQ(xmodem_pump(&s.h.st), -1) << c.name;
    EXPECT_STREQ(s.h.st.status_text, "XMODEM failed");
    EXPECT_EQ(s.h.take_written(), kCancelSequence) << c.name;
  }
}

// A NAK that comes first after a time-out resend crossed it on the line: the
// copy already under way answers it.  Any later NAK is a real one.
TEST(XmodemSend, NakCrossingATimeOutResendSendsNoSecondCopy) {
  Sender s(5000);
  Bytes f = s.h.writes.at(0);
  s.h.writes.clear();
  s.now += 2000;
  xmodem_pump(&s.h.st);
  EXPECT_EQ(s.h.take_written(), f);
  xmodem_consume(&s.h.st, kXmNak);
  EXPECT_TRUE(s.h.writes.empty()) << "the crossing NAK";
  xmodem_consume(&s.h.st, kXmNak);
  EXPECT_EQ(s.h.take_written(), f) << "the answer to the copy";
  // After a resend caused by a NAK, the next NAK resends at once.
  xmodem_consume(&s.h.st, kXmNak);
  EXPECT_EQ(s.h.take_written(), f);
  xmodem_consume(&s.h.st, kXmAck);
  EXPECT_EQ(s.h.writes.at(0)[1], 2);
}

TEST(XmodemSend, NakOfEotSendsItAgain) {
  Sender s(10);
  xmodem_consume(&s.h.st, kXmAck);
  s.h.writes.clear();
  xmodem_consume(&s.h.st, kXmNak);
  EXPECT_EQ(s.h.take_written(), Bytes{kXmEot});
  EXPECT_EQ(s.h.last_report()->text, "XMODEM send: EOT");
  xmodem_consume(&s.h.st, kXmAck);
  EXPECT_TRUE(s.h.completed());
}

// ---- endings and the cancel sequence -----------------------------------------------

TEST(XmodemCancel, TwoCanInARowFromTheOtherSide) {
  struct Case {
    const char* name;
    bool receiving;
    Bytes bytes;
    bool cancelled;
  };
  const Case cases[] = {
      {"receiver, CAN CAN", true, {kXmCan, kXmCan}, true},
      {"receiver, CAN x CAN", true, {kXmCan, 'x', kXmCan}, false},
      {"sender, CAN CAN", false, {kXmCan, kXmCan}, true},
      {"sender, CAN ACK CAN", false, {kXmCan, kXmAck, kXmCan}, false},
  };
  for (const Case& c : cases) {
    Receiver r(1);
    Sender s(100000);
    Host& h = c.receiving ? r.h : s.h;
    h.writes.clear();
    EXPECT_EQ(feed(h, c.bytes), 0) << c.name;
    EXPECT_EQ(h.st.active == 0, c.cancelled) << c.name;
    if (c.cancelled) {
      EXPECT_STREQ(h.st.status_text, "XMODEM canceled");
      EXPECT_EQ(h.last_report()->kind, XM_REPORT_FAILED);
      EXPECT_TRUE(h.writes.empty()) << "no answer to a cancel";
      EXPECT_EQ(h.closes, 1);
    }
  }
}

TEST(XmodemCancel, InsideABlockCanIsData) {
  Receiver r(1);
  Bytes data(128, kXmCan);
  ASSERT_EQ(feed(r.h, frame(1, data, true)), 0);
  EXPECT_EQ(r.h.take_written(), Bytes{kXmAck});
  EXPECT_EQ(r.h.stored, data);
}

// Our cancel sequence stops an engine on the other side, whichever way the
// file goes.
TEST(XmodemCancel, BothWays) {
  for (bool receiver_cancels : {true, false}) {
    PairRun p(xmtest::random_bytes(50000, 4), 1, 1024, 1);
    // A few blocks across.  The cancel goes out behind whatever is already
    // on the wire, so a block in flight arrives whole before the CAN bytes.
    while (p.rx.st.blocks_done < 5) p.step();
    Host& me = receiver_cancels ? p.rx : p.tx;
    Host& peer = receiver_cancels ? p.tx : p.rx;
    me.writes.clear();
    xmodem_cancel(&me.st, "XMODEM interrupted by disconnect");
    std::vector<size_t> sizes;
    for (auto& w : me.writes) sizes.push_back(w.size());
    EXPECT_EQ(sizes, std::vector<size_t>(18, 1)) << "one byte per write";
    EXPECT_EQ(me.take_written(), kCancelSequence);
    EXPECT_FALSE(me.st.active);
    EXPECT_EQ(me.last_report()->kind, XM_REPORT_CANCELLED);
    EXPECT_EQ(me.last_report()->text, "XMODEM interrupted by disconnect");
    p.run(p.now + 100);
    EXPECT_FALSE(peer.st.active) << (receiver_cancels ? "sender" : "receiver");
    EXPECT_STREQ(peer.st.status_text, "XMODEM canceled");
    EXPECT_EQ(me.closes + peer.closes, 2);
    EXPECT_EQ(me.calls_after_close + peer.calls_after_close, 0);
  }
}

TEST(XmodemCancel, DefaultTextAndNothingWhenIdle) {
  Receiver r(1);
  xmodem_cancel(&r.h.st, nullptr);
  EXPECT_STREQ(r.h.st.status_text, "XMODEM canceled");
  EXPECT_EQ(r.h.last_report()->kind, XM_REPORT_CANCELLED);
  r.h.writes.clear();
  size_t reports = r.h.reports.size();
  xmodem_cancel(&r.h.st, "again");
  xmodem_abort(&r.h.st, "again");
  EXPECT_TRUE(r.h.writes.empty());
  EXPECT_EQ(r.h.reports.size(), reports);
  EXPECT_EQ(r.h.closes, 1);
}

// A send that fails ends the engine at once: the failure is reported, the
// file is closed once, and later bytes and pumps reach no callback.
TEST(XmodemEndings, FailedWriteEndsTheTransfer) {
  struct Case {
    const char* name;
    bool receiving;
    Bytes before;   // bytes fed while writes still work
    Bytes trigger;  // the byte whose answer fails to go out
  };
  const Case cases[] = {
      {"sender, next block", false, {'C'}, {kXmAck}},
      {"sender, first block", false, {}, {'C'}},
      {"sender, EOT", false, {'C'}, {kXmAck}},
      {"receiver, ACK of a block", true, {}, frame(1, Bytes(128, 1), true)},
  };
  for (const Case& c : cases) {
    Receiver r(1);
    Sender s(c.name == std::string("sender, EOT") ? 10 : 5000, 0);
    Host& h = c.receiving ? r.h : s.h;
    feed(h, c.before);
    h.on_write = [](const uint8_t*, size_t) { return -7; };
    int rc = feed(h, c.trigger);
    EXPECT_EQ(rc, -7) << c.name;
    EXPECT_FALSE(h.st.active) << c.name;
    EXPECT_STREQ(h.st.status_text, "XMODEM failed") << c.name;
    EXPECT_EQ(h.last_report()->kind, XM_REPORT_FAILED) << c.name;
    EXPECT_EQ(h.closes, 1) << c.name;
    // Everything after the end is ignored.
    h.on_write = nullptr;
    size_t writes = h.writes.size();
    EXPECT_EQ(feed(h, {kXmAck, kXmNak, 'C', kXmEot, kXmEot}), 0);
    EXPECT_EQ(feed(h, frame(2, Bytes(128, 1), true)), 0);
    if (c.receiving)
      r.now += 60000;
    else
      s.now += 60000;
    EXPECT_EQ(xmodem_pump(&h.st), 0);
    EXPECT_EQ(h.writes.size(), writes) << c.name;
    EXPECT_EQ(h.calls_after_close, 0) << c.name;
    EXPECT_EQ(h.reports_after_close, 1) << c.name;
  }
}

TEST(XmodemEndings, AbortEndsWithoutSending) {
  Sender s(5000);
  s.h.writes.clear();
  xmodem_abort(&s.h.st, nullptr);
  EXPECT_FALSE(s.h.st.active);
  EXPECT_STREQ(s.h.st.status_text, "XMODEM failed");
  EXPECT_EQ(s.h.last_report()->kind, XM_REPORT_FAILED);
  EXPECT_TRUE(s.h.writes.empty());
  EXPECT_EQ(s.h.closes, 1);
  Receiver r(1);
  xmodem_abort(&r.h.st, "XMODEM interrupted by disconnect");
  EXPECT_STREQ(r.h.st.status_text, "XMODEM interrupted by disconnect");
}

TEST(XmodemEndings, MissingEntries) {
  // No write: the first thing the engine must send fails the transfer.
  {
    XmodemState st;
    XmodemCallbacks cb{};
    xmodem_init(&st, &cb);
    xmodem_start_receive(&st, "x", 1);
    EXPECT_EQ(xmodem_pump(&st), -1);
    EXPECT_FALSE(xmodem_is_active(&st));
  }
  // No clock: one start request, not one on every pump.
  {
    Host h;
    XmodemCallbacks cb = h.callbacks();
    cb.now = nullptr;
    xmodem_init(&h.st, &cb);
    xmodem_start_receive(&h.st, "x", 1);
    for (int i = 0; i < 10; i++) xmodem_pump(&h.st);
    EXPECT_EQ(h.take_written(), Bytes{'C'});
  }
  // No read: a file of known size goes as one padded block.
  {
    Host h;
    XmodemCallbacks cb = h.callbacks();
    cb.read = nullptr;
    xmodem_init(&h.st, &cb);
    xmodem_start_send(&h.st, nullptr, 10);
    EXPECT_STREQ(h.st.file_name, "upload.bin");
    xmodem_consume(&h.st, 'C');
    ASSERT_EQ(h.writes.size(), 1u);
    EXPECT_EQ(h.writes[0].size(), 133u);
    xmodem_consume(&h.st, kXmAck);
    EXPECT_EQ(h.writes.back(), Bytes{kXmEot});
  }
  // No state at all.
  EXPECT_EQ(xmodem_start_receive(nullptr, "x", 1), -1);
  EXPECT_EQ(xmodem_start_send(nullptr, "x", 1), -1);
  EXPECT_EQ(xmodem_consume(nullptr, 1), 0);
  EXPECT_EQ(xmodem_pump(nullptr), 0);
  EXPECT_EQ(xmodem_is_active(nullptr), 0);
}

// ---- senders that never stop ------------------------------------------------------

TEST(XmodemFlood, ReceiverKeepsAskingOrEndsAndNeverOverrunsItsFrame) {
  struct Case {
    const char* name;
    int start_mode;
    std::function<uint8_t(size_t)> byte;
  };
  std::mt19937 rng(77);
  const Case cases[] = {
      {"random bytes", 1, [&](size_t) { return static_cast<uint8_t>(rng()); }},
      {"SOH forever", 1, [](size_t) { return kXmSoh; }},
      {"STX forever", 0, [](size_t) { return kXmStx; }},
      {"CAN inside blocks", 1, [](size_t i) { return i % 1029 == 0 ? kXmStx : kXmCan; }},
      {"EOT forever", 1, [](size_t) { return kXmEot; }},
  };
  for (const Case& c : cases) {
    Receiver r(c.start_mode);
    size_t naks = 0;
    for (size_t i = 0; i < 4u << 20 && r.h.st.active; i++) {
      xmodem_consume(&r.h.st, c.byte(i));
      ASSERT_LE(r.h.st.frame_count, kXmFrameMax);
      if ((i & 4095) == 0) {
        r.pump_at(r.now + 100);
        for (auto& w : r.h.writes) naks += std::count(w.begin(), w.end(), kXmNak);
        r.h.writes.clear();
      }
    }
    if (r.h.st.active) {
      EXPECT_GT(naks, 0u) << c.name << ": an active receiver keeps asking";
      EXPECT_TRUE(r.h.stored.empty()) << c.name;
    } else {
      EXPECT_NE(r.h.last_report()->kind, XM_REPORT_PROGRESS) << c.name;
    }
  }
}

TEST(XmodemFlood, SenderIgnoresGarbageAndEndsByItsTimeOuts) {
  Sender s(5000);
  std::mt19937 rng(5);
  uint64_t fed = 0;
  while (s.h.st.active && fed < (8u << 20)) {
    for (int i = 0; i < 4096; i++, fed++) {
      uint8_t b = static_cast<uint8_t>(rng());
      if (b == kXmAck || b == kXmNak || b == kXmCan) continue;
      xmodem_consume(&s.h.st, b);
    }
    s.now += 100;
    xmodem_pump(&s.h.st);
    s.h.writes.clear();
  }
  EXPECT_FALSE(s.h.st.active);
  EXPECT_STREQ(s.h.st.status_text, "XMODEM failed");
  EXPECT_LT(s.now, 1000u + 21000u);
}

}  // namespace

// ---- YMODEM: block 0 ------------------------------------------------------------------

namespace {

Bytes block0_data(const std::string& text, size_t len = 128) {
  Bytes b(len, 0);
  std::copy_n(text.begin(), std::min(text.size(), len), b.begin());
  return b;
}

TEST(YmodemBlock0, ReadsWhatSendersWrite) {
  using S = std::string;
  struct Case {
    const char* what;
    Bytes data;
    int result;
    S name;
    int sized;
    uint64_t size;
    int64_t mtime;   // 0: none
    int files_left;  // -1: none
  };
  Bytes lrzsz = block0_data(S("a.bin\0" "3000 15306135644 100644 0 2 3001", 38));
  lrzsz[127] = 24;  // lrzsz's block count for old receivers, after the numbers
  Bytes end_with_count = block0_data("");
  end_with_count[127] = 24;
  const Case cases[] = {
      {"lrzsz", lrzsz, 1, "a.bin", 1, 3000, 015306135644, 2},
      {"name and size", block0_data(S("dir/f x.txt\0" "42", 14)), 1, "dir/f x.txt", 1, 42, 0, -1},
      {"name only", block0_data(S("f\0", 2)), 1, "f", 0, 0, 0, -1},
      {"a date of 0 is none", block0_data(S("f\0" "7 0 644", 9)), 1, "f", 1, 7, 0, -1},
      {"size not ending at a space", block0_data(S("f\0" "12a 5", 7)), 1, "f", 0, 0, 0, -1},
      {"an 8 in the octal date", block0_data(S("f\0" "12 1238", 9)), 1, "f", 1, 12, 0, -1},
      {"tabs and spaces", block0_data(S("f\0" " \t9\t 17", 9)), 1, "f", 1, 9, 017, -1},
      {"size beyond 64 bits", block0_data(S("f\0" "99999999999999999999999", 25)), 1, "f", 1,
       UINT64_MAX, 0, -1},
      {"end of batch", block0_data(""), 0, "", 0, 0, 0, -1},
      {"end of batch with a block count", end_with_count, 0, "", 0, 0, 0, -1},
      {"a name filling a 1K block", Bytes(1024, 'x'), 1, S(1023, 'x'), 0, 0, 0, -1},
      {"numbers up to the block's end", block0_data(S("f\0" "5 6", 5), 5), 1, "f", 1, 5, 6, -1},
  };
  for (const Case& c : cases) {
    YmodemFileInfo info;
    // Exactly the block's bytes on the heap: a read past them is caught
    // by the sanitizer build.
    std::unique_ptr<uint8_t[]> data(new uint8_t[c.data.size()]);
    std::copy(c.data.begin(), c.data.end(), data.get());
    ASSERT_EQ(ymodem_parse_block0(data.get(), c.data.size(), &info), c.result) << c.what;
    EXPECT_EQ(info.name, c.name) << c.what;
    EXPECT_EQ(info.has_size, c.sized) << c.what;
    EXPECT_EQ(info.size, c.size) << c.what;
    EXPECT_EQ(info.has_mtime ? info.mtime : 0, c.mtime) << c.what;
    EXPECT_EQ(info.has_files_left ? static_cast<int>(info.files_left) : -1, c.files_left) << c.what;
  }
  YmodemFileInfo info;
  EXPECT_EQ(ymodem_parse_block0(lrzsz.data(), 6, &info), 1) << "only len bytes are read";
  EXPECT_FALSE(info.has_size);
  EXPECT_EQ(ymodem_parse_block0(nullptr, 128, &info), -1);
}

TEST(YmodemBlock0, BuildsWhatItReads) {
  YmodemFileInfo in{};
  snprintf(in.name, sizeof in.name, "report.txt");
  in.size = 1234;
  in.mtime = 0x5F000000;
  in.mode = 0100644;
  in.files_left = 3;
  in.bytes_left = 99999;
  in.has_size = in.has_mtime = in.has_mode = in.has_files_left = in.has_bytes_left = 1;
  uint8_t out[kYmBlock0Max];
  ASSERT_EQ(ymodem_build_block0(out, &in), 128);
  EXPECT_STREQ(reinterpret_cast<char*>(out) + 11, "1234 13700000000 100644 0 3 99999");
  YmodemFileInfo back;
  ASSERT_EQ(ymodem_parse_block0(out, 128, &back), 1);
  EXPECT_EQ(memcmp(&in, &back, sizeof in), 0);
  // A long name takes a 1K block; one that leaves no room for the numbers fails.
  snprintf(in.name, sizeof in.name, "%s", std::string(200, 'n').c_str());
  EXPECT_EQ(ymodem_build_block0(out, &in), 1024);
  snprintf(in.name, sizeof in.name, "%s", std::string(1000, 'n').c_str());
  EXPECT_EQ(ymodem_build_block0(out, &in), -1);
  // The end of the batch: 128 NUL bytes.
  ASSERT_EQ(ymodem_build_block0(out, nullptr), 128);
  EXPECT_EQ(Bytes(out, out + 128), Bytes(128, 0));
}

// ---- YMODEM: the exchanges, byte by byte -----------------------------------------------

// An engine's writes as words: "B0:name" for a block 0 ("B0:" the empty
// one), "K3" / "S3" for 1K / 128-byte block 3, and ACK NAK EOT C G for the
// single bytes; a cancel sequence is one CANCEL.
std::string words(Host& h) {
  std::string out;
  for (const Bytes& w : h.writes) {
    std::string word;
    if (w.size() > 3 && w[1] == 0) {
      word = "B0:" + std::string(reinterpret_cast<const char*>(w.data() + 3));
    } else if (w.size() > 3) {
      word = (w[0] == kXmStx ? "K" : "S") + std::to_string(w[1]);
    } else if (w[0] == kXmCan || w[0] == 0x08) {
      word = out.ends_with("CANCEL") ? "" : "CANCEL";
    } else {
      const std::pair<uint8_t, const char*> names[] = {
          {kXmAck, "ACK"}, {kXmNak, "NAK"}, {kXmEot, "EOT"}, {'C', "C"}, {'G', "G"}};
      for (auto [b, name] : names) {
        if (w[0] == b) word = name;
      }
    }
    if (!word.empty()) out += (out.empty() ? "" : " ") + word;
  }
  h.writes.clear();
  return out;
}

// What a script feeds an engine: "B0:text" a block 0 ("|" for NUL), "S3"
// a 128-byte block 3 (bytes of 3), "bad S3" the same damaged, ACK NAK EOT
// C G CAN and "x" single bytes, "wait" two seconds (and a pump), "wait10"
// ten.
void feed_word(Host& h, uint32_t& now, const std::string& word) {
  if (word.rfind("wait", 0) == 0) {
    now += word == "wait10" ? 10000 : 2000;
    xmodem_pump(&h.st);
    return;
  }
  if (word.rfind("B0:", 0) == 0) {
    std::string text = word.substr(3);
    std::replace(text.begin(), text.end(), '|', '\0');
    feed(h, frame(0, block0_data(text), true));
    return;
  }
  bool bad = word.rfind("bad ", 0) == 0;
  std::string w = bad ? word.substr(4) : word;
  if (w[0] == 'S' && w.size() > 1) {
    uint8_t n = static_cast<uint8_t>(std::stoi(w.substr(1)));
    Bytes f = frame(n, Bytes(128, n), true);
    if (bad) f[60] ^= 4;
    feed(h, f);
    return;
  }
  const std::pair<const char*, uint8_t> bytes[] = {{"ACK", kXmAck}, {"NAK", kXmNak}, {"EOT", kXmEot},
                                                   {"C", 'C'},      {"G", 'G'},      {"CAN", kXmCan},
                                                   {"x", 'x'}};
  for (auto [name, b] : bytes) {
    if (w == name) xmodem_consume(&h.st, b);
  }
}

struct Step {
  const char* in;
  const char* out;
};
struct Script {
  const char* name;
  std::vector<Step> steps;
  const char* ending;  // the status text at the end; "" while still running
};

void run_script(Host& h, uint32_t& now, const Script& sc) {
  for (const Step& st : sc.steps) {
    feed_word(h, now, st.in);
    ASSERT_EQ(words(h), st.out) << sc.name << ", after " << st.in;
  }
  EXPECT_EQ(std::string(h.st.active ? "" : h.st.status_text), sc.ending) << sc.name;
}

// A YMODEM receiver on a fake clock that has asked for the first block 0.
struct YmReceiver {
  uint32_t now = 0;
  Host h;
  explicit YmReceiver(int streaming, int begin_result = 0, int close_result = 0) {
    h.clock = [this] { return now; };
    h.begin_result = begin_result;
    h.close_result = close_result;
    h.init();
    YmodemBatch b = h.batch();
    ymodem_start_receive(&h.st, &b, streaming);
    xmodem_pump(&h.st);
    EXPECT_EQ(words(h), streaming ? "G" : "C");
  }
};

TEST(YmodemReceive, Exchanges) {
  const std::vector<Step> one_file = {{"B0:f|10", "ACK C"}, {"S1", "ACK"}, {"EOT", "NAK"},
                                      {"EOT", "ACK C"}};
  auto then = [](std::vector<Step> a, std::vector<Step> b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  const std::vector<Step> nine_waits(9, {"wait", "C"});
  struct Case {
    Script script;
    int streaming, begin_result, close_result;
    size_t stored;  // bytes given to store
  };
  const Case cases[] = {
      {{"two blocks cut to the size",
        {{"B0:f|200", "ACK C"}, {"S1", "ACK"}, {"S2", "ACK"}, {"EOT", "NAK"}, {"EOT", "ACK C"},
         {"B0:", "ACK"}},
        "YMODEM complete"},
       0, 0, 0, 200},
      {{"streaming",
        {{"B0:f|200", "G"}, {"S1", ""}, {"S2", ""}, {"EOT", "NAK"}, {"EOT", "ACK G"}, {"B0:", ""}},
        "YMODEM-G complete"},
       1, 0, 0, 200},
      {{"no size: the padding stays", then({{"B0:f", "ACK C"}, {"S1", "ACK"}, {"EOT", "NAK"},
                                          {"EOT", "ACK C"}}, {{"B0:", "ACK"}}),
        "YMODEM complete"},
       0, 0, 0, 128},
      {{"a file short of its size",
        {{"B0:f|300", "ACK C"}, {"S1", "ACK"}, {"EOT", "NAK"}, {"EOT", "CANCEL"}},
        "YMODEM failed: f ended at 128 of 300 bytes"},
       0, 0, 0, 128},
      {{"a close that fails", {{"B0:f|10", "ACK C"}, {"S1", "ACK"}, {"EOT", "NAK"}, {"EOT", "CANCEL"}},
        "YMODEM failed"},
       0, 0, -1, 10},
      {{"a skipped file", then(one_file, {{"B0:", "ACK"}}), "YMODEM complete"}, 0, 1, 0, 0},
      {{"answers lost and asked again",
        {{"B0:f|10", "ACK C"}, {"B0:f|10", "ACK C"}, {"S1", "ACK"}, {"S1", "ACK"}, {"EOT", "NAK"},
         {"EOT", "ACK C"}, {"EOT", "ACK"}, {"B0:", "ACK"}},
        "YMODEM complete"},
       0, 0, 0, 10},
      {{"a damaged block asked again once the line is quiet",
        {{"B0:f|10", "ACK C"}, {"bad S1", ""}, {"wait", "NAK"}, {"S1", "ACK"}}, ""},
       0, 0, 0, 10},
      {{"G: a damaged block", {{"B0:f|300", "G"}, {"S1", ""}, {"bad S2", "CANCEL"}},
        "YMODEM-G failed: damaged block 2"},
       1, 0, 0, 128},
      {{"G: a stray byte", {{"B0:f|300", "G"}, {"S1", ""}, {"x", "CANCEL"}},
        "YMODEM-G failed: stray byte after block 1"},
       1, 0, 0, 128},
      {{"G: a block out of order", {{"B0:f|300", "G"}, {"S1", ""}, {"S3", "CANCEL"}},
        "YMODEM-G failed: block 3 out of order"},
       1, 0, 0, 128},
      {{"G: silence", {{"B0:f|300", "G"}, {"S1", ""}, {"wait", ""}, {"wait10", "CANCEL"}},
        "YMODEM-G failed: no data for 10 seconds"},
       1, 0, 0, 128},
      {{"the sender stops short of the files it announced",
        then(then({{"B0:f|10 0 0 0 2", "ACK C"}, {"S1", "ACK"}, {"EOT", "NAK"}, {"EOT", "ACK C"}},
                  nine_waits),
             {{"wait", "CANCEL"}}),
        "YMODEM failed: the sender stopped after 1 of 2 files"},
       0, 0, 0, 10},
      {{"the sender stops after its one file", then(then(one_file, nine_waits), {{"wait", ""}}),
        "YMODEM complete (no end of batch)"},
       0, 0, 0, 10},
      {{"before a first file the receiver keeps asking",
        then(then(nine_waits, nine_waits), {{"x", ""}, {"wait", "C"}}), ""},
       0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    YmReceiver r(c.streaming, c.begin_result, c.close_result);
    run_script(r.h, r.now, c.script);
    EXPECT_EQ(r.h.stored.size(), c.stored) << c.script.name;
    EXPECT_LE(r.h.closes, 1) << c.script.name;
    EXPECT_EQ(r.h.closes, c.begin_result == 0 && c.stored > 0 && !r.h.st.active ? 1 : 0)
        << c.script.name;
  }
}

TEST(YmodemSend, Exchanges) {
  const Script scripts[] = {
      {"YMODEM",
       {{"C", "B0:a.bin"}, {"C", ""},     {"ACK", ""},    {"C", "K1"},    {"ACK", "K2"},
        {"ACK", "K3"},     {"ACK", "EOT"}, {"NAK", "EOT"}, {"ACK", ""},    {"C", "B0:e"},
        {"ACK", ""},       {"C", "EOT"},  {"ACK", ""},    {"C", "B0:"},   {"ACK", ""}},
       "YMODEM complete"},
      {"YMODEM-G",
       {{"G", "B0:a.bin"}, {"G", "K1 K2 K3 EOT"}, {"NAK", "EOT"}, {"ACK", ""}, {"G", "B0:e"},
        {"G", "EOT"}, {"ACK", ""}, {"G", "B0:"}},
       "YMODEM-G complete"},
      {"block 0 asked again",
       {{"C", "B0:a.bin"}, {"NAK", "B0:a.bin"}, {"wait", "B0:a.bin"}, {"NAK", ""}, {"ACK", ""},
        {"wait", ""}, {"NAK", "S1"}},
       ""},
      {"cancelled while streaming", {{"G", "B0:a.bin"}, {"ACK", ""}, {"CAN", ""}, {"CAN", ""}},
       "YMODEM-G canceled"},
      {"a receiver that stops asking after the last file",
       {{"C", "B0:a.bin"}, {"ACK", ""}, {"C", "K1"}, {"ACK", "K2"}, {"ACK", "K3"}, {"ACK", "EOT"},
        {"ACK", ""}, {"C", "B0:e"}, {"ACK", ""}, {"C", "EOT"}, {"ACK", ""}, {"wait", ""},
        {"wait", ""}, {"wait", ""}, {"wait", ""}, {"wait", ""}, {"wait", ""}, {"wait", ""},
        {"wait", ""}, {"wait", ""}, {"wait", ""}},
       "YMODEM complete (no end of batch)"},
  };
  for (const Script& sc : scripts) {
    uint32_t now = 1000;
    Host h;
    h.clock = [&] { return now; };
    h.batch_out = {{"a.bin", xmtest::random_bytes(3000, 3), 0}, {"e", {}, 0}};
    h.init();
    YmodemBatch b = h.batch();
    ASSERT_EQ(ymodem_start_send(&h.st, &b), 0);
    run_script(h, now, sc);
    EXPECT_EQ(h.closes, static_cast<int>(h.batch_next) - (h.st.active ? 1 : 0)) << sc.name;
  }
}

// ---- YMODEM: engine to adapter, adapter to adapter ------------------------------------

// The batch of the pair tests: an empty file; one byte (0x1A, a pad byte)
// under a name with a directory part and a space; 1 MiB + 1 of random
// bytes whose name is taken in the download directory.
std::vector<Host::BatchFile> pair_batch() {
  return {{"empty.txt", {}, 01234567},
          {"sub dir/one byte.bin", {kXmPad}, 0},
          {"big.bin", xmtest::random_bytes((1u << 20) + 1, 9), 015306135644}};
}
// Where they are saved: the names made safe as ZMODEM's are (the directory
// dropped, cut at the space), the taken one renamed.
const char* const kSavedAs[] = {"empty.txt", "one", "big-1.bin"};

int64_t mtime_of(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_mtime : -1;
}

// An engine sending pair_batch() to the adapter, through damaging wires.
struct YmPair {
  Host tx;
  xmtest::YmHost rx;
  Wire to_rx, to_tx;
  uint32_t now = 1;
  TempDir dir;

  YmPair(uint32_t seed, int streaming) {
    to_rx.rng.seed(seed);
    to_tx.rng.seed(seed ^ 0x9e3779b9u);
    write_file_bytes(dir.file("big.bin"), "taken");
    tx.batch_out = pair_batch();
    tx.out = &to_rx;
    rx.out = &to_tx;
    tx.clock = rx.clock = [this] { return now; };
    tx.init();
    YmodemBatch batch = tx.batch();
    ymodem_start_send(&tx.st, &batch);
    ymodem_kavel_start_receive(rx.ctx.get(), &rx.st, dir.path().c_str(), streaming);
  }
  void damage(uint32_t drop, uint32_t flip, uint32_t garbage, uint64_t cut_after) {
    to_rx.cut_after = cut_after;
    for (Wire* w : {&to_rx, &to_tx}) {
      w->drop_ppm = drop;
      w->flip_ppm = flip;
      w->garbage_ppm = garbage;
    }
  }
  void run(uint32_t limit_ms) {
    while ((tx.st.active || rx.st.active) && now < limit_ms)
      xmtest::step_pair(&tx.st, &to_tx, &rx.st, &to_rx, &now);
  }
  bool files_whole() const {
    for (size_t i = 0; i < 3; i++) {
      Bytes got = read_file_bytes(dir.file(kSavedAs[i]));
      if (got != tx.batch_out[i].data || !transfer_path_exists(dir.file(kSavedAs[i]).c_str()))
        return false;
    }
    return true;
  }
};

// Every run ends: with the three files whole and said so, or with a failure
// and its reason, never a success over a damaged or missing file.  YMODEM
// recovers from light damage; YMODEM-G ends at the first damage with
// "YMODEM-G failed: ..." and stops the sender with the cancel sequence.
TEST(YmodemPair, BatchOverCleanAndDamagedLines) {
  struct Line {
    const char* name;
    uint32_t drop, flip, garbage;
    uint64_t cut;  // the sender's bytes reach the receiver only up to here (times the seed)
  };
  const Line lines[] = {{"clean", 0, 0, 0, UINT64_MAX}, {"drops", 30, 0, 0, UINT64_MAX},
                        {"flips", 0, 30, 0, UINT64_MAX}, {"garbage", 0, 0, 30, UINT64_MAX},
                        {"all", 15, 15, 15, UINT64_MAX}, {"cut", 0, 0, 0, 349999}};
  int damaged = 0, recovered = 0;
  for (int streaming : {0, 1}) {
    for (const Line& l : lines) {
      bool cut = l.cut != UINT64_MAX;
      bool clean = l.drop + l.flip + l.garbage == 0 && !cut;
      for (uint32_t seed = 1; seed <= (clean ? 1u : 3u); seed++) {
        std::string what = std::string(streaming ? "G " : "") + l.name + " " + std::to_string(seed);
        YmPair p(seed, streaming);
        p.damage(l.drop, l.flip, l.garbage, cut ? l.cut * seed : UINT64_MAX);
        p.run(24u * 3600 * 1000);
        ASSERT_FALSE(p.tx.st.active || p.rx.st.active) << what;
        bool whole = p.files_whole();
        if (p.rx.completed()) {
          EXPECT_TRUE(whole) << what;
        }
        if (p.tx.ended_well()) {
          EXPECT_TRUE(whole) << what;
        }
        EXPECT_EQ(read_file_bytes(p.dir.file("big.bin")), (Bytes{'t', 'a', 'k', 'e', 'n'}));
        if (clean) {
          EXPECT_TRUE(p.rx.completed()) << what << ": " << p.rx.ctx->status_text;
          EXPECT_STREQ(p.tx.st.status_text, streaming ? "YMODEM-G complete" : "YMODEM complete");
          EXPECT_STREQ(p.rx.st.status_text, p.tx.st.status_text);
          EXPECT_EQ(p.rx.asked, std::vector<std::string>{"big.bin"});
          EXPECT_EQ(mtime_of(p.dir.file("big-1.bin")), 015306135644);
          EXPECT_EQ(mtime_of(p.dir.file("empty.txt")), 01234567);
          char summary[96];
          std::string where;
          ASSERT_TRUE(ymodem_summary(p.rx.ctx.get(), summary, sizeof summary, &where));
          EXPECT_STREQ(summary, "Saved 3 files");
          EXPECT_EQ(where, p.dir.path());
          EXPECT_EQ(p.tx.closes, 3) << "once for each file sent";
        } else if (cut) {
          EXPECT_FALSE(p.rx.completed() || p.tx.ended_well()) << what;
          EXPECT_FALSE(transfer_path_exists(p.dir.file("big-1.bin").c_str()) &&
                       read_file_bytes(p.dir.file("big-1.bin")).size() > l.cut * seed)
              << what;
        } else if (streaming) {
          EXPECT_FALSE(p.tx.ended_well() && !whole) << what;
          if (!p.rx.completed()) {
            EXPECT_EQ(std::string(p.rx.ctx->status_text).rfind("YMODEM-G failed: ", 0), 0u)
                << what << ": " << p.rx.ctx->status_text;
            EXPECT_FALSE(p.tx.ended_well()) << what;
            EXPECT_LT(p.now, 30000u) << what << ": no waiting on a broken stream";
          }
        } else {
          damaged++;
          recovered += p.rx.completed() && p.tx.ended_well();
        }
      }
    }
  }
  EXPECT_GE(recovered * 10, damaged * 9) << recovered << " of " << damaged;
}

// The adapter on both sides: real files sent from a list of paths, and the
// uploads that cannot start.  A name is cut at its first blank, as ZMODEM
// names are: "a b.txt" and "a c.txt" both arrive as "a", and the second
// is the file-exists question's (each answer), never a silent overwrite.
TEST(YmodemPair, AdapterToAdapter) {
  struct Case {
    int answer;
    const char* second;  // where the second file lands, null when skipped
    const char* rx_summary;
  };
  const Case cases[] = {{YM_EXISTS_OVERWRITE, "a", "Saved 2 files"},
                        {YM_EXISTS_RENAME, "a-1", "Saved 2 files"},
                        {YM_EXISTS_SKIP, nullptr, "Saved 1 file"}};
  for (int streaming : {0, 1}) {
    for (const Case& c : cases) {
      std::string what = std::to_string(streaming) + "/" + std::to_string(c.answer);
      TempDir src, dst;
      Bytes a = xmtest::random_bytes(3000, 1), b = xmtest::random_bytes(129, 2);
      write_file_bytes(src.file("a b.txt"), std::string(a.begin(), a.end()));
      write_file_bytes(src.file("a c.txt"), std::string(b.begin(), b.end()));
      struct timespec date[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
      utimensat(AT_FDCWD, src.file("a b.txt").c_str(), date, 0);
      xmtest::YmHost tx, rx;
      Wire to_rx, to_tx;
      uint32_t now = 1;
      tx.out = &to_rx;
      rx.out = &to_tx;
      tx.clock = rx.clock = [&] { return now; };
      rx.exists_answer = c.answer;
      std::string pa = src.file("a b.txt"), pb = src.file("a c.txt");
      const char* paths[] = {pa.c_str(), pb.c_str()};
      ASSERT_EQ(ymodem_kavel_start_send(tx.ctx.get(), &tx.st, paths, 2), 0);
      ymodem_kavel_start_receive(rx.ctx.get(), &rx.st, dst.path().c_str(), streaming);
      while ((tx.st.active || rx.st.active) && now < 600000)
        xmtest::step_pair(&tx.st, &to_tx, &rx.st, &to_rx, &now);
      ASSERT_TRUE(tx.completed() && rx.completed()) << what << ": " << rx.ctx->status_text;
      EXPECT_EQ(tx.st.protocol, streaming ? XM_PROTO_YMODEM_G : XM_PROTO_YMODEM) << what;
      EXPECT_EQ(rx.asked, std::vector<std::string>{"a"}) << what;
      if (c.answer != YM_EXISTS_OVERWRITE) {
        EXPECT_EQ(read_file_bytes(dst.file("a")), a) << what;
        EXPECT_EQ(mtime_of(dst.file("a")), 1000000000) << what;
      }
      if (c.second) {
        EXPECT_EQ(read_file_bytes(dst.file(c.second)), b) << what;
      }
      EXPECT_EQ(transfer_path_exists(dst.file("a-1").c_str()), c.answer == YM_EXISTS_RENAME);
      EXPECT_FALSE(transfer_path_exists(dst.file("a b.txt").c_str()));
      char summary[96];
      ASSERT_TRUE(ymodem_summary(rx.ctx.get(), summary, sizeof summary, nullptr));
      EXPECT_STREQ(summary, c.rx_summary) << what;
      ASSERT_TRUE(ymodem_summary(tx.ctx.get(), summary, sizeof summary, nullptr));
      EXPECT_STREQ(summary, "Sent 2 files");
      EXPECT_EQ(tx.ctx->batch_total, 3129u);
      EXPECT_EQ(ymodem_kavel_batch_bytes(tx.ctx.get()), 3129u);
      EXPECT_EQ(tx.ctx->file_number, 2);
      EXPECT_EQ(rx.ctx->files_total, 2) << "from block 0's count";
    }
  }
  // Nothing starts without every file readable.
  TempDir d;
  std::string missing = d.file("gone.txt"), dir = d.path();
  for (const char* p : {missing.c_str(), dir.c_str()}) {
    xmtest::YmHost tx;
    EXPECT_EQ(ymodem_kavel_start_send(tx.ctx.get(), &tx.st, &p, 1), -1);
    EXPECT_FALSE(tx.st.active);
    EXPECT_EQ(std::string(tx.ctx->status_text).rfind("Upload file not found: ", 0), 0u);
  }
}

}  // namespace
