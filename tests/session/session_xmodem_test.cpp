// XMODEM in the session: the adapter's file in the download and upload
// directories, the engine driven by the session loop over a socket, the
// other side an XMODEM engine of its own behind a Telnet-doubling peer, and
// the endings (nothing dropped after a complete transfer, 8 seconds of
// quiet after a failed or cancelled one).
#include "transfer/xmodem_protocol.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "link/connect.h"
#include "phonebook/prefs.h"
#include "platform/clock.h"
#include "session/input.h"
#include "session/session.h"
#include "session/session_loop.h"
#include "session/session_test_util.h"
#include "session/session_transfer.h"
#include "support/session_link.h"
#include "support/test_support.h"
#include "terminal/terminal.h"
#include "transfer/xmodem.h"
#include "transfer/xmodem_harness.h"

namespace {

std::vector<uint8_t> read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::vector<uint8_t> random_data(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  // Runs of IAC (doubled on the wire) and of the XMODEM control bytes.
  for (size_t i = 0; i + 40 < n; i += 700) {
    for (size_t k = 0; k < 8; k++) v[i + k] = 0xFF;
    v[i + 8] = 0x18;
    v[i + 9] = 0x04;
    v[i + 10] = 0x01;
  }
  return v;
}

// The other side: an XMODEM engine behind a Telnet peer (0xFF doubled
// towards the session, IAC IAC undoubled from it).
struct XPeer {
  xmtest::Host h;
  int fd;
  std::vector<uint8_t> outgoing;
  bool iac = false;

  explicit XPeer(int sock) : fd(sock) {
    h.clock = [] { return clock_ms(); };
    h.on_write = [this](const uint8_t* b, size_t n) {
      for (size_t i = 0; i < n; i++) {
        outgoing.push_back(b[i]);
        if (b[i] == 0xFF) outgoing.push_back(0xFF);
      }
      return 0;
    };
    h.init();
  }
  void step() {
    while (!outgoing.empty()) {
      ssize_t n = write(fd, outgoing.data(), outgoing.size());
      if (n <= 0) break;
      outgoing.erase(outgoing.begin(), outgoing.begin() + n);
    }
    uint8_t buf[8192];
    for (;;) {
      ssize_t n = read(fd, buf, sizeof buf);
      if (n <= 0) break;
      for (ssize_t i = 0; i < n; i++) {
        if (buf[i] == 0xFF && !iac) {
          iac = true;
          continue;
        }
        iac = false;
        if (h.st.active) xmodem_consume(&h.st, buf[i]);
      }
    }
    if (h.st.active) xmodem_pump(&h.st);
  }
};

struct Rig {
  SocketPair pair;
  Session s;
  std::unique_ptr<Terminal> t = std::make_unique<Terminal>();
  std::vector<uint8_t> buf = std::vector<uint8_t>(kRecvChunkTransfer);
  SessionLoop loop;
  XPeer peer{pair.peer};
  TempDir tmp;
  std::string dl = tmp.path() + "/dl";
  std::string up = tmp.path() + "/up";

  Rig() {
    session_input_reset();
    transfer_prefs_set_defaults();
    mkdir(dl.c_str(), 0755);
    mkdir(up.c_str(), 0755);
    snprintf(g_download_path, sizeof g_download_path, "%s", dl.c_str());
    snprintf(g_upload_path, sizeof g_upload_path, "%s", up.c_str());
    session_init(&s);
    test_session_on_socket(&s, pair.ours);
    term_init_record(t.get());
    term_clear_screen(t.get());
    s.terminal = t.get();
    session_loop_init(&loop, &s, nullptr, "Kavel - test", buf.data());
  }
  ~Rig() {
    xmodem_protocol_end(&s.xm, 0);
    transfer_prefs_set_defaults();
    clock_test_reset();
  }
  // Session turns and peer steps until the session's engine ends.
  bool run(uint32_t ms = 10000) {
    uint32_t start = clock_ms();
    while (clock_ms() - start < ms) {
      if (!session_pump_turn(&loop)) return false;
      peer.step();
      if (!s.xm.xmodem.active) return true;
    }
    return false;
  }
  std::string row0() const {
    std::string r;
    for (int c = 0; c < 8; c++) r.push_back(static_cast<char>(t->cells[0][c].ch));
    return r;
  }
};

TEST(SessionXmodem, DownloadsAndUploadsThroughTheLoop) {
  struct Case {
    size_t size;
    bool one_k;  // the peer sends 1K blocks
  } cases[] = {{0, false}, {1, false}, {128, true}, {129, false}, {1025, true}, {20000, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    Rig rig;
    auto data = random_data(c.size, static_cast<uint32_t>(c.size) + 1);
    rig.peer.h.source = data;
    ASSERT_EQ(xmodem_protocol_start_receive(&rig.s.xm, "got.bin"), 0);
    ASSERT_EQ(xmodem_start_send(&rig.peer.h.st, "got.bin", static_cast<uint32_t>(c.size)), 0);
    rig.peer.h.st.preferred_block = c.one_k ? 1024 : 128;
    ASSERT_TRUE(rig.run());
    EXPECT_STREQ(rig.s.xm.xmodem.status_text, "XMODEM complete");
    EXPECT_EQ(rig.s.discard_until_ms, 0u);
    EXPECT_EQ(rig.s.xm.xmodem_host.file, nullptr);
    EXPECT_TRUE(xmtest::is_file_plus_padding(read_all(rig.dl + "/got.bin"), data));

    // And back: the same file from the upload directory.
    std::ofstream(rig.up + "/send.bin", std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()),
               static_cast<std::streamsize>(data.size()));
    rig.peer.h.st = XmodemState{};
    rig.peer.h.init();
    ASSERT_EQ(xmodem_start_receive(&rig.peer.h.st, "send.bin", 2), 0);
    ASSERT_EQ(xmodem_protocol_start_send(&rig.s.xm, "send.bin"), 0);
    EXPECT_EQ(rig.s.xm.xmodem_host.total, c.size);
    ASSERT_TRUE(rig.run());
    EXPECT_STREQ(rig.s.xm.xmodem.status_text, "XMODEM complete");
    EXPECT_TRUE(xmtest::is_file_plus_padding(rig.peer.h.stored, data));
  }
}

// YMODEM and YMODEM-G from the session: a batch saved in the download
// directory under names made safe, a name that exists put to the question
// (a session without a window skips it: the user's file stays), and the
// same file sent back from the upload directory, cut to its size.
TEST(SessionXmodem, YmodemBatchesThroughTheLoop) {
  for (int streaming : {0, 1}) {
    SCOPED_TRACE(streaming);
    Rig rig;
    std::ofstream(rig.dl + "/mine.txt") << "the user's own file";
    auto big = random_data(20000, 7 + static_cast<uint32_t>(streaming));
    rig.peer.h.batch_out = {{"up/a b.bin", big, 0}, {"mine.txt", {'x', 'y'}, 0}, {"empty", {}, 0}};
    auto batch = rig.peer.h.batch();
    ASSERT_EQ(ymodem_protocol_start_receive(&rig.s.xm, streaming), 0);
    ASSERT_EQ(ymodem_start_send(&rig.peer.h.st, &batch), 0);
    ASSERT_TRUE(rig.run());
    EXPECT_NE(strstr(rig.s.xm.xmodem.status_text, "complete"), nullptr)
        << rig.s.xm.xmodem.status_text;
    EXPECT_EQ(rig.s.discard_until_ms, 0u);
    // Made safe as ZMODEM names are: the last path part, to the first blank.
    EXPECT_EQ(read_all(rig.dl + "/a"), big) << "cut to block 0's size";
    auto kept = read_all(rig.dl + "/mine.txt");
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "the user's own file");
    struct stat st;
    ASSERT_EQ(stat((rig.dl + "/empty").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0);
    EXPECT_STREQ(ymodem_protocol_text(&rig.s.xm), rig.s.xm.xmodem.status_text);

    std::ofstream(rig.up + "/send.bin", std::ios::binary)
        .write(reinterpret_cast<const char*>(big.data()), static_cast<std::streamsize>(big.size()));
    rig.peer.h.st = XmodemState{};
    rig.peer.h.stored.clear();
    rig.peer.h.begun.clear();
    rig.peer.h.reports.clear();
    rig.peer.h.init();
    auto back = rig.peer.h.batch();
    ASSERT_EQ(ymodem_start_receive(&rig.peer.h.st, &back, streaming), 0);
    std::string path = rig.up + "/send.bin";
    const char* paths[] = {path.c_str()};
    ASSERT_EQ(ymodem_protocol_start_send(&rig.s.xm, paths, 1), 0);
    ASSERT_TRUE(rig.run());
    EXPECT_TRUE(rig.peer.h.ended_well());
    ASSERT_EQ(rig.peer.h.begun.size(), 1u);
    EXPECT_STREQ(rig.peer.h.begun[0].first.name, "send.bin");
    EXPECT_EQ(rig.peer.h.begun[0].first.size, big.size());
    EXPECT_EQ(rig.peer.h.received(0), big);
  }
  Rig rig;
  std::string missing = rig.up + "/missing.bin";
  const char* paths[] = {missing.c_str()};
  EXPECT_EQ(ymodem_protocol_start_send(&rig.s.xm, paths, 1), -1);
  EXPECT_FALSE(rig.s.xm.xmodem.active);
  EXPECT_NE(strstr(ymodem_protocol_text(&rig.s.xm), "missing.bin"), nullptr);
}

// Block 1 of 128 "x" bytes with its CRC.
std::vector<uint8_t> first_block() {
  std::vector<uint8_t> frame = {1, 1, 0xFE};
  std::vector<uint8_t> block(128, 'x');
  uint16_t crc = xmodem_crc16(block.data(), block.size());
  frame.insert(frame.end(), block.begin(), block.end());
  frame.push_back(static_cast<uint8_t>(crc >> 8));
  frame.push_back(static_cast<uint8_t>(crc));
  return frame;
}

// The endings: after a complete transfer the BBS's next text is shown at
// once; after a cancel, a failed line or a give-up, it is dropped for 8 s.
TEST(SessionXmodem, QuietTimeOnlyAfterAFailure) {
  enum class End { kComplete, kEscape, kPeerGone, kGiveUp };
  for (End end : {End::kComplete, End::kEscape, End::kPeerGone, End::kGiveUp}) {
    SCOPED_TRACE(static_cast<int>(end));
    Rig rig;
    uint32_t now = 100000;
    clock_test_set_ms(now);
    ASSERT_EQ(xmodem_protocol_start_receive(&rig.s.xm, "r.bin"), 0);
    switch (end) {
      case End::kComplete:
        rig.peer.h.source = random_data(300, 3);
        ASSERT_EQ(xmodem_start_send(&rig.peer.h.st, "r.bin", 300), 0);
        ASSERT_TRUE(rig.run(1000));
        break;
      case End::kEscape:
        xmodem_protocol_escape(&rig.s.xm);
        break;
      case End::kPeerGone:
        close(rig.pair.peer);
        rig.pair.peer = -1;
        // A block arrives while the line back is gone: the answer fails.
        for (uint8_t b : first_block()) session_data_byte(&rig.s, b);
        break;
      case End::kGiveUp:
        // One block, then nothing: the engine's own time-outs end it, through
        // the pump.  (Before the first block it asks for ever, until Escape.)
        for (uint8_t b : first_block()) session_data_byte(&rig.s, b);
        ASSERT_TRUE(rig.s.xm.xmodem.active);
        for (int i = 0; i < 100 && rig.s.xm.xmodem.active; i++) {
          clock_test_advance_ms(2500);
          EXPECT_EQ(xmodem_protocol_pump(&rig.s.xm), 0);
        }
        break;
    }
    ASSERT_FALSE(rig.s.xm.xmodem.active);
    EXPECT_EQ(rig.s.xm.xmodem_host.file, nullptr) << "the file is closed at every ending";
    bool complete = end == End::kComplete;
    EXPECT_EQ(strcmp(rig.s.xm.xmodem.status_text, "XMODEM complete") == 0, complete)
        << rig.s.xm.xmodem.status_text;
    uint32_t t0 = clock_ms();
    for (char ch : std::string("AB")) session_data_byte(&rig.s, static_cast<uint8_t>(ch));
    if (complete) {
      EXPECT_EQ(rig.s.discard_until_ms, 0u);
      EXPECT_EQ(rig.row0().substr(0, 2), "AB");
    } else {
      EXPECT_EQ(rig.s.discard_until_ms - t0, kXmodemQuietMs);
      EXPECT_EQ(rig.row0().substr(0, 2), "  ");
      clock_test_advance_ms(kXmodemQuietMs - 1);
      session_data_byte(&rig.s, 'C');
      EXPECT_EQ(rig.row0().substr(0, 2), "  ") << "still quiet 1 ms before the end";
      clock_test_advance_ms(1);
      session_data_byte(&rig.s, 'D');
      EXPECT_EQ(rig.row0().substr(0, 1), "D");
    }
  }
}

// A sender that never stops: garbage, a stream of SOH, blocks full of CAN.
// The turns keep coming back, nothing false reaches the file, and the
// transfer either ended as a failure (two CAN in a row cancel) or still
// asks and ends on Escape.
TEST(SessionXmodem, AFloodNeverHangsOrCompletes) {
  struct Flood {
    const char* what;
    std::vector<uint8_t> pattern;
  };
  std::vector<uint8_t> can_block = {1, 1, 0xFE};
  can_block.insert(can_block.end(), 128, 0x18);
  std::mt19937 rng(5);
  std::vector<uint8_t> garbage(4096);
  for (auto& b : garbage) b = static_cast<uint8_t>(rng());
  const Flood floods[] = {{"garbage", garbage},
                          {"SOH", std::vector<uint8_t>(4096, 0x01)},
                          {"CAN inside blocks", can_block}};
  for (const Flood& f : floods) {
    SCOPED_TRACE(f.what);
    Rig rig;
    ASSERT_EQ(xmodem_protocol_start_receive(&rig.s.xm, "flood.bin"), 0);
    size_t sent = 0;
    uint32_t start = clock_ms();
    // The flood goes on after an ending too (the quiet time drops it).
    while (clock_ms() - start < 800) {
      ssize_t n = write(rig.pair.peer, f.pattern.data(), f.pattern.size());
      if (n > 0) sent += static_cast<size_t>(n);
      ASSERT_EQ(session_pump_turn(&rig.loop), 1);
      rig.pair.drain_peer();
    }
    EXPECT_GT(sent, 50000u);
    EXPECT_STRNE(rig.s.xm.xmodem.status_text, "XMODEM complete");
    if (rig.s.xm.xmodem.active) xmodem_protocol_escape(&rig.s.xm);
    EXPECT_FALSE(rig.s.xm.xmodem.active);
    EXPECT_NE(rig.s.discard_until_ms, 0u);
    struct stat st;
    ASSERT_EQ(stat((rig.dl + "/flood.bin").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0) << "no block of the flood was taken";
  }
}

// Opening: a missing upload fails to start, a declined existing download
// starts nothing and keeps the user's file, a name with separators is made
// safe inside the download directory.
TEST(SessionXmodem, StartRefusals) {
  Rig rig;
  EXPECT_EQ(xmodem_protocol_start_send(&rig.s.xm, "missing.bin"), -1);
  EXPECT_FALSE(rig.s.xm.xmodem.active);

  std::ofstream(rig.dl + "/mine.txt") << "the user's own file";
  rig.s.xm.xmodem_host.prompt_fn = [](void*, const char*) { return int{XM_EXISTS_SKIP}; };
  EXPECT_EQ(xmodem_protocol_start_receive(&rig.s.xm, "mine.txt"), -2);
  EXPECT_FALSE(rig.s.xm.xmodem.active);
  auto kept = read_all(rig.dl + "/mine.txt");
  EXPECT_EQ(std::string(kept.begin(), kept.end()), "the user's own file");

  ASSERT_EQ(xmodem_protocol_start_receive(&rig.s.xm, "a/b:c"), 0);
  EXPECT_TRUE(rig.s.xm.xmodem.active);
  EXPECT_STREQ(rig.s.xm.xmodem_host.file_name, "a_b_c");
  struct stat st;
  EXPECT_EQ(stat((rig.dl + "/a_b_c").c_str(), &st), 0);
  // The session ends meanwhile: the engine is cancelled, the file closed.
  xmodem_protocol_end(&rig.s.xm, 1);
  EXPECT_FALSE(rig.s.xm.xmodem.active);
  EXPECT_STREQ(rig.s.xm.xmodem.status_text, "XMODEM interrupted by disconnect");
  EXPECT_EQ(rig.s.xm.xmodem_host.file, nullptr);
}

}  // namespace
