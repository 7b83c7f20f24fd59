// The ZMODEM sender against a scripted receiver: what goes on the wire for
// each kind of receiver, restarts, repeats, the endings and the stop request.
#include <gtest/gtest.h>

#include "transfer/zmodem_harness.h"

namespace {

struct Tx {
  uint32_t clock = 1000;
  TempDir dir;
  ZEndpoint e{&clock};
  std::vector<uint8_t> data;

  explicit Tx(size_t size, uint32_t seed = 9) : data(random_bytes(size, seed)) {
    write_file_bytes(dir.file("up.bin"), std::string(data.begin(), data.end()));
  }
  void start() { zmodem_start_upload(&e.z, dir.file("up.bin").c_str()); }
  std::vector<WireItem> sent() { return decode_wire(e.take(), e.z.use_crc32); }
  // Starts, answers ZRQINIT with a ZRINIT of these flags and ZFILE with ZRPOS 0.
  std::vector<WireItem> to_first_data(uint8_t flags, uint16_t buffer = 0) {
    start();
    e.take();
    e.feed(hex_header(ZRINIT, static_cast<uint32_t>(flags) << 24 | buffer));
    e.take();
    e.feed(hex_header(ZRPOS, 0));
    return sent();
  }
  // Everything the next polls send while streaming.
  std::vector<WireItem> drain() {
    std::vector<uint8_t> all;
    for (int i = 0; i < 1000; ++i) {
      auto s = e.take();
      all.insert(all.end(), s.begin(), s.end());
      if (!e.z.streaming) break;
      zmodem_poll(&e.z);
    }
    auto s = e.take();
    all.insert(all.end(), s.begin(), s.end());
    return decode_wire(all, e.z.use_crc32);
  }
};

// "ZDATA@0 W1024 ..." summaries of what was sent.
std::string summary(const std::vector<WireItem>& items) {
  std::string s;
  for (const auto& i : items) {
    if (!s.empty()) s += " ";
    if (i.kind == WireItem::kData) {
      s += std::string(1, static_cast<char>(i.type == ZCRCW   ? 'W'
                                            : i.type == ZCRCG ? 'G'
                                            : i.type == ZCRCE ? 'E'
                                                              : 'Q')) +
           std::to_string(i.data.size());
      if (!i.crc_ok) s += "!crc";
    } else if (i.kind == WireItem::kCancel) {
      s += "CANCEL";
    } else if (i.kind == WireItem::kText) {
      s += "text";
    } else {
      s += std::string(zmodem_frame_name(i.type)) + "@" + std::to_string(i.value);
      if (!i.crc_ok) s += "!crc";
    }
  }
  return s;
}

// next_upload over the paths the endpoint's owner holds, in order.
int next_of_owner(void* ctx, char* path, size_t cap) {
  auto* rest = static_cast<std::vector<std::string>*>(static_cast<ZEndpoint*>(ctx)->owner);
  if (rest->empty()) return 0;
  snprintf(path, cap, "%s", rest->front().c_str());
  rest->erase(rest->begin());
  return 1;
}

TEST(ZmodemSender, WakesTheReceiver) {
  Tx tx(10);
  tx.start();
  std::vector<uint8_t> out = tx.e.take();
  std::vector<uint8_t> want = bytes_of("rz\r");
  std::vector<uint8_t> zrqinit = hex_header(ZRQINIT, 0);
  want.insert(want.end(), zrqinit.begin(), zrqinit.end());
  EXPECT_EQ(out, want);
  EXPECT_STREQ(tx.e.z.status_text, "Sent ZRQINIT; waiting for ZRINIT");
  EXPECT_EQ(tx.e.z.file_size, 10u);
}

TEST(ZmodemSender, OffersTheFile) {
  // Binary with ZMCRC; asked for crash recovery, ZCRESUM without a
  // management option (with ZMCRC lrzsz's rz --resume replaces the file).
  for (int32_t recovery : {0, 1}) {
    Tx tx(2500);
    tx.e.z.hooks.upload_crash_recovery = recovery;
    tx.start();
    tx.e.take();
    tx.e.feed(hex_header(ZRINIT, 0x23000000));
    auto s = tx.sent();
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s[0].kind, WireItem::kBin32);
    EXPECT_EQ(s[0].type, ZFILE);
    EXPECT_EQ(s[0].value, recovery ? 0x03000000u : 0x01020000u);
    EXPECT_EQ(s[1].type, ZCRCW);
    EXPECT_EQ(std::string(s[1].data.begin(), s[1].data.end()),
              file_info("up.bin", "2500 0 0 0 0 0"));
    EXPECT_STREQ(tx.e.z.status_text, "Sending file: up.bin");
  }
}

TEST(ZmodemSender, WhatGoesOutForEachKindOfReceiver) {
  struct Case {
    const char* name;
    size_t size;
    uint8_t flags;
    const char* first;      // after ZRPOS 0
    const char* after_ack;  // after ZACK of the first subpacket
    uint16_t buffer = 0;    // the receiver's buffer size
  } cases[] = {
      // 8 KiB subpackets, aligned to 8 KiB after the first, to a streaming
      // receiver with CRC-32; 1 KiB without CRC-32 or a continuous stream.
      {"streaming receiver", 20000, 0x23, "ZDATA@0 W1024",
       "ZDATA@1024 G7168 G8192 E3616 ZEOF@20000"},
      {"streaming receiver, CRC-16", 2500, 0x03, "ZDATA@0 W1024", "ZDATA@1024 G1024 E452 ZEOF@2500"},
      {"no overlapped I/O", 2500, 0x21, "ZDATA@0 W1024", "ZDATA@1024 W1024"},
      {"a multiple of 1024", 2048, 0x23, "ZDATA@0 W1024", "ZDATA@1024 E1024 ZEOF@2048"},
      {"a buffer of 8 KiB", 20000, 0x21, "ZDATA@0 W1024", "ZDATA@1024 W7168", 8192},
      {"a buffer of 4 KiB", 20000, 0x21, "ZDATA@0 W1024", "ZDATA@1024 W1024", 4096},
      {"empty file", 0, 0x23, "ZEOF@0", ""},
      {"short file", 1, 0x23, "ZDATA@0 E1 ZEOF@1", ""},
  };
  for (const auto& c : cases) {
    Tx tx(c.size);
    EXPECT_EQ(summary(tx.to_first_data(c.flags, c.buffer)), c.first) << c.name;
    if (!*c.after_ack) continue;
    tx.e.feed(hex_header(ZACK, 1024));
    EXPECT_EQ(summary(tx.drain()), c.after_ack) << c.name;
  }
}

TEST(ZmodemSender, NonStreamingReceiverGetsThreeFrames) {
  Tx tx(2500);
  std::string all = summary(tx.to_first_data(0x21));
  tx.e.feed(hex_header(ZACK, 1024));
  all += " " + summary(tx.drain());
  tx.e.feed(hex_header(ZACK, 2048));
  all += " " + summary(tx.drain());
  EXPECT_EQ(all, "ZDATA@0 W1024 ZDATA@1024 W1024 ZDATA@2048 E452 ZEOF@2500");
}

TEST(ZmodemSender, CrcFollowsTheReceiversCapability) {
  Tx tx(100);
  tx.start();
  tx.e.take();
  tx.e.feed(hex_header(ZRINIT, 0x03000000));  // no CANFC32
  auto s = decode_wire(tx.e.take(), 0);
  ASSERT_FALSE(s.empty());
  EXPECT_EQ(s[0].kind, WireItem::kBin16);
  EXPECT_TRUE(s[1].crc_ok);
}

TEST(ZmodemSender, AckAndRposMovePositions) {
  Tx tx(5000);
  tx.to_first_data(0x21);
  EXPECT_EQ(tx.e.z.error_count, 0);  // ZRPOS 0 right after ZFILE is the normal start
  tx.e.feed(hex_header(ZACK, 500));  // below our position: no step back
  auto s = tx.drain();
  EXPECT_EQ(summary(s), "ZDATA@1024 W1024");
  tx.e.feed(hex_header(ZRPOS, 1024));
  EXPECT_EQ(summary(tx.drain()), "ZDATA@1024 W1024");
  EXPECT_EQ(tx.e.z.error_count, 1);
  EXPECT_STREQ(tx.e.z.status_text, "Uploading: up.bin");
  // The same ZRPOS again while that restart waits for its ZACK: not obeyed twice.
  tx.e.feed(hex_header(ZRPOS, 1024));
  EXPECT_TRUE(tx.sent().empty());
  // A ZRPOS past the end is held at the end.
  tx.e.feed(hex_header(ZRPOS, 999999));
  EXPECT_EQ(summary(tx.drain()), "ZEOF@5000");
}

TEST(ZmodemSender, RepeatsZrqinitSixTimesThenGivesUp) {
  Tx tx(10);
  tx.start();
  std::vector<uint32_t> at = {0};
  tx.e.take();
  for (int t = 0; t < 3000 && tx.e.z.active; ++t) {
    tx.clock += 10;
    zmodem_poll(&tx.e.z);
    for (auto& i : tx.sent())
      if (i.type == ZRQINIT && i.kind == WireItem::kHex) at.push_back(tx.clock - 1000);
  }
  ASSERT_EQ(at.size(), 7u);
  for (size_t i = 1; i < at.size(); ++i) EXPECT_EQ(at[i], 1500u * i);
  EXPECT_EQ(tx.e.z.active, 0);
  EXPECT_STREQ(tx.e.z.status_text, "No response from receiver");
}

TEST(ZmodemSender, DuplicateZrinitOffersTheFileOnce) {
  Tx tx(10);
  tx.start();
  tx.e.take();
  tx.e.feed(cat({hex_header(ZRINIT, 0x23000000), hex_header(ZRINIT, 0x23000000)}));
  int zfiles = 0;
  for (auto& i : tx.sent()) zfiles += i.type == ZFILE && i.kind != WireItem::kData;
  EXPECT_EQ(zfiles, 1);
  tx.clock += 1500;  // unanswered: offered again by the repeat timer
  zmodem_poll(&tx.e.z);
  EXPECT_STREQ(tx.e.z.status_text, "Resent file: up.bin");
}

TEST(ZmodemSender, Endings) {
  struct Case {
    const char* name;
    std::vector<std::vector<uint8_t>> replies;  // after ZEOF
    ZmodemEnding ending;
    const char* text;
    int batch = 1;  // files in the upload (the others are 50 bytes each)
    int taken = 0;  // of a batch: files the receiver confirmed
  } cases[] = {
      {"ZRINIT, ZFIN",
       {hex_header(ZRINIT, 0x23000000), hex_header(ZFIN, 0)},
       kZmodemSucceeded,
       "Upload finished"},
      {"ZRINIT, OO",
       {hex_header(ZRINIT, 0x23000000), bytes_of("OO")},
       kZmodemSucceeded,
       "Upload finished"},
      {"ZFIN without ours", {hex_header(ZFIN, 0)}, kZmodemFailed, "Receiver ended the transfer"},
      {"OO without our ZFIN", {bytes_of("OO")}, kZmodemRunning, ""},
      {"skipped",
       {hex_header(ZSKIP, 0), hex_header(ZFIN, 0)},
       kZmodemFailed,
       "Upload skipped by the receiver"},
      {"cancelled by rz",
       {bytes_of(std::string(8, '\x18') + std::string(8, '\b'))},
       kZmodemFailed,
       "Cancelled by the other side"},
      {"a batch taken whole",
       {hex_header(ZRINIT, 0x23000000), hex_header(ZRPOS, 0), hex_header(ZRINIT, 0x23000000),
        hex_header(ZRPOS, 0), hex_header(ZRINIT, 0x23000000), hex_header(ZFIN, 0)},
       kZmodemSucceeded,
       "Upload finished",
       3,
       3},
      {"a receiver that takes one file of a batch and ends",
       {hex_header(ZRINIT, 0x23000000), hex_header(ZFIN, 0)},
       kZmodemSucceeded,
       "Upload finished: the receiver ended the batch after 1 file",
       3,
       1},
      {"one file of a batch skipped",
       {hex_header(ZRINIT, 0x23000000), hex_header(ZSKIP, 0), hex_header(ZFIN, 0)},
       kZmodemSucceeded,
       "Upload finished; 1 skipped by the receiver",
       2,
       1},
      {"every file of a batch skipped",
       {hex_header(ZSKIP, 0), hex_header(ZSKIP, 0), hex_header(ZFIN, 0)},
       kZmodemFailed,
       "Upload skipped by the receiver",
       2,
       0},
  };
  for (const auto& c : cases) {
    Tx tx(100);
    std::vector<std::string> more;
    for (int i = 1; i < c.batch; i++) {
      more.push_back(tx.dir.file("more" + std::to_string(i)));
      write_file_bytes(more.back(), std::string(50, static_cast<char>('a' + i)));
    }
    tx.e.owner = &more;
    tx.e.z.hooks.next_upload = next_of_owner;
    tx.to_first_data(0x23);
    for (const auto& r : c.replies) tx.e.feed(r);
    EXPECT_EQ(tx.e.z.ending, c.ending) << c.name;
    if (c.ending != kZmodemRunning) {
      EXPECT_STREQ(tx.e.z.status_text, c.text) << c.name;
      EXPECT_EQ(tx.e.z.active, 0) << c.name;
    }
    // Files the receiver confirmed (ZRINIT after their ZEOF).
    if (c.batch > 1) {
      EXPECT_EQ(tx.e.z.files_done, c.taken) << c.name;
    }
  }
}

TEST(ZmodemSender, ZfinIsAnsweredWithOO) {
  Tx tx(100);
  tx.to_first_data(0x23);
  tx.e.feed(hex_header(ZRINIT, 0x23000000));
  EXPECT_EQ(summary(tx.sent()), "ZFIN@0");
  tx.e.feed(hex_header(ZFIN, 0));
  auto out = tx.e.take();
  EXPECT_EQ(std::string(out.begin(), out.end()), "OO");
  EXPECT_EQ(tx.e.restores, 1);
}

TEST(ZmodemSender, FileCrc) {
  Tx tx(3000);
  tx.to_first_data(0x23);
  tx.e.feed(hex_header(ZCRC, 0));
  auto s = tx.sent();
  ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ(s[0].type, ZCRC);
  EXPECT_EQ(s[0].value, ~zmodem_crc32(tx.data.data(), tx.data.size()));
}

TEST(ZmodemSender, StreamsInSlicesAndStopsOnRequest) {
  Tx tx(400 * 1024);
  tx.to_first_data(0x23);
  tx.e.feed(hex_header(ZACK, 1024));
  EXPECT_EQ(tx.e.z.streaming, 1);
  EXPECT_LE(tx.e.z.position, 1024u + kZmodemStreamSlice);
  tx.e.stop = 1;
  for (int i = 0; i < 10 && tx.e.z.active; ++i) zmodem_poll(&tx.e.z);
  EXPECT_EQ(tx.e.z.active, 0);
  EXPECT_STREQ(tx.e.z.status_text, "Upload cancelled");
  std::vector<uint8_t> out = tx.e.take();
  ASSERT_GE(out.size(), 10u);
  EXPECT_TRUE(std::equal(out.end() - sizeof kZmodemCancelSeq, out.end(), kZmodemCancelSeq));
  EXPECT_LT(tx.e.z.position, 400u * 1024);
}

TEST(ZmodemSender, StreamingKeepsAWindow) {
  Tx tx(600 * 1024);
  tx.to_first_data(0x23);
  tx.e.feed(hex_header(ZACK, 1024));
  std::vector<WireItem> all = tx.drain();
  EXPECT_EQ(tx.e.z.window_wait, 1);
  // ZACK 1024 confirmed the first subpacket: the stream stops at the first
  // ZCRCQ at least a window beyond it.
  constexpr uint32_t kStops = kZmodemWindow / kZmodemAckEvery + 1;
  EXPECT_EQ(tx.e.z.position, kStops * kZmodemAckEvery);
  int zcrcq = 0;
  for (const auto& i : all) zcrcq += i.kind == WireItem::kData && i.type == ZCRCQ;
  EXPECT_EQ(zcrcq, static_cast<int>(kStops));
  // A ZACK for the second ZCRCQ opens the window again.
  tx.e.feed(hex_header(ZACK, 2 * kZmodemAckEvery));
  EXPECT_EQ(tx.e.z.window_wait, 0);
  EXPECT_EQ(tx.e.z.streaming, 1);
  zmodem_poll(&tx.e.z);
  EXPECT_GT(tx.e.z.position, kStops * kZmodemAckEvery);
  // A lost ZACK: after the stall time the stream goes on from what was confirmed.
  tx.drain();
  ASSERT_EQ(tx.e.z.window_wait, 1);
  tx.clock += kZmodemSendStallMs;
  zmodem_poll(&tx.e.z);
  auto s = tx.sent();
  ASSERT_FALSE(s.empty());
  EXPECT_EQ(s[0].type, ZDATA);
  EXPECT_EQ(s[0].value, 2 * kZmodemAckEvery);
}

TEST(ZmodemSender, RposStopsAStreamEarly) {
  Tx tx(400 * 1024);
  tx.to_first_data(0x23);
  tx.e.feed(hex_header(ZACK, 1024));
  tx.e.take();
  tx.e.feed(hex_header(ZRPOS, 2048));
  EXPECT_EQ(summary(tx.sent()), "ZDATA@2048 W1024");
  EXPECT_EQ(tx.e.z.streaming, 0);
  EXPECT_EQ(tx.e.z.send_state, 3);
  // A receiver that asked again may not take 8 KiB: 1 KiB from here on.
  tx.e.feed(hex_header(ZACK, 3072));
  EXPECT_EQ(summary(tx.sent()).substr(0, 27), "ZDATA@3072 G1024 G1024 G102");
}

// A receiver that holds part of the file (rz --resume) checks it with ZCRC
// and asks for the rest: the data starts there, and that is no restart.
TEST(ZmodemSender, StartsWhereTheReceiverAsks) {
  Tx tx(20000);
  tx.start();
  tx.e.take();
  tx.e.feed(hex_header(ZRINIT, 0x23000000));
  tx.e.take();
  tx.e.feed(hex_header(ZCRC, 1200));
  auto s = tx.sent();
  ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ(s[0].value, ~zmodem_crc32(tx.data.data(), 1200)) << "the CRC of what the receiver has";
  tx.e.feed(hex_header(ZRPOS, 1200));
  EXPECT_EQ(summary(tx.sent()), "ZDATA@1200 W1024");
  EXPECT_EQ(tx.e.z.error_count, 0);
  EXPECT_EQ(tx.e.z.start_offset, 1200u);
  tx.e.feed(hex_header(ZACK, 2224));
  EXPECT_EQ(summary(tx.drain()), "ZDATA@2224 G5968 G8192 E3616 ZEOF@20000");
}

TEST(ZmodemSender, StartFailures) {
  uint32_t clock = 1000;
  TempDir d;
  struct Case {
    std::string path;
    const char* text;
  } cases[] = {{d.file("missing.bin"), "Upload file not found"},
               {d.path(), "Upload file not found"},
               {"", "Upload file not found"}};
  for (const auto& c : cases) {
    ZEndpoint e(&clock);
    EXPECT_EQ(zmodem_start_upload(&e.z, c.path.c_str()), 0);
    EXPECT_EQ(e.z.active, 0);
    EXPECT_EQ(e.z.ending, kZmodemFailed);
    EXPECT_STREQ(e.z.status_text, c.text) << c.path;
    EXPECT_TRUE(e.out.empty());
  }
}

TEST(ZmodemSender, ReceiverThatAsksFirst) {
  // A BBS waiting to receive sends ZRINIT: it looks like a start and the
  // user is asked for a file, which then goes at once.
  uint32_t clock = 1000;
  TempDir d;
  write_file_bytes(d.file("pick.txt"), "picked");
  ZEndpoint e(&clock);
  e.upload_path = d.file("pick.txt");
  // The rest of a marked batch follows through next_upload, as after an
  // upload the user started.
  write_file_bytes(d.file("next.txt"), "marked too");
  std::vector<std::string> rest = {d.file("next.txt")};
  e.owner = &rest;
  e.z.hooks.next_upload = next_of_owner;
  e.feed(hex_header(ZRINIT, 0x23000000));
  EXPECT_EQ(e.z.direction, 1);
  auto s = decode_wire(e.take(), 1);
  ASSERT_GE(s.size(), 2u);
  EXPECT_EQ(s[0].type, ZFILE);
  EXPECT_STREQ(e.z.status_text, "Sending file: pick.txt");
  e.feed(hex_header(ZRPOS, 0));
  for (int i = 0; i < 10 && e.z.streaming; ++i) zmodem_poll(&e.z);
  e.take();
  e.feed(hex_header(ZRINIT, 0x23000000));
  s = decode_wire(e.take(), 1);
  ASSERT_GE(s.size(), 2u);
  EXPECT_EQ(s[0].type, ZFILE);
  EXPECT_EQ(std::string(s[1].data.begin(), s[1].data.end()), file_info("next.txt", "10 0 0 0 0 0"));
  e.feed(hex_header(ZRPOS, 0));
  for (int i = 0; i < 10 && e.z.streaming; ++i) zmodem_poll(&e.z);
  e.feed(hex_header(ZRINIT, 0x23000000));
  e.feed(hex_header(ZFIN, 0));
  EXPECT_EQ(e.z.ending, kZmodemSucceeded);
  EXPECT_EQ(e.z.files_done, 2);
  // Nothing picked: the receiver is told to stop.
  ZEndpoint none(&clock);
  none.feed(hex_header(ZRINIT, 0x23000000));
  EXPECT_EQ(none.z.active, 0);
  EXPECT_STREQ(none.z.status_text, "Upload cancelled");
  EXPECT_EQ(decode_wire(none.take(), 0).back().kind, WireItem::kCancel);
}

// A board that starts its receiver again right after an upload: its ZRINIT
// comes while the last upload's trailing time runs, so it brings up no
// picker; an upload the user starts soon after offers its file at once.
// When that receiver does not answer, it is woken as for any upload.
TEST(ZmodemSender, AReceiverBackRightAfterAnUploadGetsTheNextOneAtOnce) {
  for (uint32_t user_after : {5000u, 16000u}) {
    SCOPED_TRACE(user_after);
    Tx tx(100);
    tx.to_first_data(0x23);
    tx.e.feed(hex_header(ZRINIT, 0x23000000));
    tx.e.feed(hex_header(ZFIN, 0));
    ASSERT_EQ(tx.e.z.ending, kZmodemSucceeded);
    tx.e.take();
    tx.clock += 1000;
    tx.e.upload_path = tx.dir.file("up.bin");  // would be picked, if anyone asked
    tx.e.feed(hex_header(ZRINIT, 0x23000000));
    EXPECT_EQ(tx.e.z.active, 0);
    EXPECT_TRUE(tx.e.take().empty()) << "no picker, no answer";
    tx.clock += user_after;
    tx.start();
    if (user_after > kZmodemTrailingMs) {
      EXPECT_EQ(summary(tx.sent()), "text ZRQINIT@0");
      continue;
    }
    EXPECT_EQ(summary(tx.sent()), "ZFILE@16908288 W21");
    tx.clock += 1500;
    zmodem_poll(&tx.e.z);
    EXPECT_EQ(summary(tx.sent()), "text ZRQINIT@0");
  }
}

TEST(ZmodemSender, FailedSendEndsTheTransfer) {
  Tx tx(5000);
  tx.to_first_data(0x23);
  tx.e.fail_sends = 100;
  tx.e.feed(hex_header(ZACK, 1024));
  EXPECT_EQ(tx.e.z.active, 0);
  EXPECT_STREQ(tx.e.z.status_text, "ZMODEM aborted");
}

}  // namespace
