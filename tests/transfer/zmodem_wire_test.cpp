// The ZMODEM wire format and the receiving parser's front end: CRCs,
// escaping, headers, subpackets, start detection, damaged headers and the
// other side's cancel sequence.
#include <gtest/gtest.h>

#include <random>

#include "transfer/zmodem_harness.h"

namespace {

TEST(ZmodemCrc, TablesAgreeWithTheBitByBitDefinitions) {
  std::mt19937 rng(7);
  for (size_t len : {0u, 1u, 2u, 5u, 255u, 256u, 1024u, 4099u}) {
    std::vector<uint8_t> d(len);
    for (auto& b : d) b = static_cast<uint8_t>(rng());
    EXPECT_EQ(zmodem_crc16(d.data(), d.size()), ref_crc16(d)) << len;
    EXPECT_EQ(~zmodem_crc32(d.data(), d.size()), ref_crc32(d)) << len;
  }
  // Every single byte value from a non-zero register too.
  for (int b = 0; b < 256; ++b) {
    std::vector<uint8_t> d = {0x5A, static_cast<uint8_t>(b)};
    EXPECT_EQ(zmodem_crc16_update(zmodem_crc16_update(0, 0x5A), static_cast<uint8_t>(b)),
              ref_crc16(d));
    EXPECT_EQ(~zmodem_crc32_update(zmodem_crc32_update(0xFFFFFFFFu, 0x5A), static_cast<uint8_t>(b)),
              ref_crc32(d));
  }
}

TEST(ZmodemCrc, KnownValues) {
  std::vector<uint8_t> zrinit = {0x01, 0x00, 0x00, 0x00, 0x23};
  EXPECT_EQ(zmodem_crc16(zrinit.data(), zrinit.size()), 0xBE50);
  std::vector<uint8_t> check = bytes_of("123456789");
  EXPECT_EQ(zmodem_crc16(check.data(), check.size()), 0x31C3);        // XMODEM check value
  EXPECT_EQ(~zmodem_crc32(check.data(), check.size()), 0xCBF43926u);  // IEEE 802.3 check value
  ZmodemState z{};
  z.crc32 = 0xFFFFFFFFu;
  for (uint8_t b : check) zmodem_crc_data_update(&z, b);
  EXPECT_EQ(z.crc16, 0x31C3);
  EXPECT_EQ(~z.crc32, 0xCBF43926u);
}

TEST(ZmodemWire, HexValues) {
  struct {
    int c, v;
  } cases[] = {{'0', 0},  {'9', 9},  {'a', 10}, {'f', 15},  {'A', 10}, {'F', 15},
               {'g', -1}, {'G', -1}, {' ', -1}, {0x18, -1}, {0xB0, -1}};
  for (auto c : cases) EXPECT_EQ(zmodem_hex_value(c.c), c.v) << c.c;
}

TEST(ZmodemWire, HexHeaders) {
  struct Case {
    int type;
    uint32_t value;
    std::string text;  // the 14 digits; empty: type and value with the reference CRC
    bool xon;
  } cases[] = {
      {ZRINIT, 0x23000000, "0100000023be50", true},
      {ZRQINIT, 0, "00000000000000", true},
      {ZACK, 0, "", false},
      {ZFIN, 0, "", false},
      {ZRPOS, 4096, "", true},
      {ZEOF, 0x12345678, "", true},
  };
  for (const auto& c : cases) {
    std::string text = c.text;
    if (text.empty()) {
      std::vector<uint8_t> five = {static_cast<uint8_t>(c.type), static_cast<uint8_t>(c.value),
                                   static_cast<uint8_t>(c.value >> 8),
                                   static_cast<uint8_t>(c.value >> 16),
                                   static_cast<uint8_t>(c.value >> 24)};
      char buf[16];
      snprintf(buf, sizeof buf, "%02x%02x%02x%02x%02x%04x", five[0], five[1], five[2], five[3],
               five[4], ref_crc16(five));
      text = buf;
    }
    std::vector<uint8_t> want = {0x2A, 0x2A, 0x18, 0x42};
    want.insert(want.end(), text.begin(), text.end());
    want.push_back(0x0D);
    want.push_back(0x0A);
    if (c.xon) want.push_back(0x11);
    EXPECT_EQ(hex_header(c.type, c.value), want) << c.type;
  }
}

TEST(ZmodemWire, EscapingTable) {
  for (int b = 0; b < 256; ++b) {
    uint8_t buf[4];
    size_t n = 0;
    ASSERT_EQ(zmodem_append_escaped_byte(buf, sizeof buf, &n, static_cast<uint8_t>(b)), 0);
    bool escaped = b == 0x18 || b == 0x10 || b == 0x11 || b == 0x13 || b == 0x90 || b == 0x91 ||
                   b == 0x93 || b == 0x7F || b == 0xFF;
    if (!escaped) {
      EXPECT_EQ(n, 1u) << b;
      EXPECT_EQ(buf[0], b);
      continue;
    }
    ASSERT_EQ(n, 2u) << b;
    EXPECT_EQ(buf[0], 0x18);
    uint8_t want = b == 0x7F ? 0x6C : b == 0xFF ? 0x6D : static_cast<uint8_t>(b ^ 0x40);
    EXPECT_EQ(buf[1], want) << b;
  }
  uint8_t small[1];
  size_t n = 0;
  EXPECT_EQ(zmodem_append_escaped_byte(small, 1, &n, 0x18), -1);
  EXPECT_EQ(zmodem_append_wire_byte(small, 1, &n, 0x41), 0);
  EXPECT_EQ(zmodem_append_wire_byte(small, 1, &n, 0x41), -1);
}

TEST(ZmodemWire, DataSubpacketExample) {
  std::vector<uint8_t> data = {0x18, 0x7F, 0xFF, 0x91, 0x98};
  for (int crc32 : {0, 1}) {
    std::vector<uint8_t> p = subpacket(data, ZCRCE, crc32);
    std::vector<uint8_t> head = {0x18, 0x58, 0x18, 0x6C, 0x18, 0x6D, 0x18, 0xD1, 0x98, 0x18, ZCRCE};
    ASSERT_GE(p.size(), head.size());
    EXPECT_TRUE(std::equal(head.begin(), head.end(), p.begin()));
    auto items = decode_wire(cat({bin_header(ZDATA, 0, crc32), p}), crc32);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[1].data, data);
    EXPECT_TRUE(items[1].crc_ok);
  }
  // ZCRCW is followed by XON; a 1024-byte subpacket of worst-case bytes fits.
  std::vector<uint8_t> worst(1024, 0xFF);
  std::vector<uint8_t> p = subpacket(worst, ZCRCW, 1);
  EXPECT_EQ(p.back(), XON);
  EXPECT_LE(p.size(), 2059u);
}

TEST(ZmodemWire, BinaryHeaders) {
  for (int crc32 : {0, 1}) {
    std::vector<uint8_t> h = bin_header(ZFILE, 0x01020000u, crc32);
    EXPECT_EQ(h[3], crc32 ? ZBIN32 : ZBIN);
    auto items = decode_wire(h, crc32);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].type, ZFILE);
    EXPECT_EQ(items[0].value, 0x01020000u);
    EXPECT_TRUE(items[0].crc_ok);
  }
  // A position holding bytes that need escaping.
  std::vector<uint8_t> h = bin_header(ZDATA, 0xFF117F18u, 1);
  auto items = decode_wire(h, 1);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].value, 0xFF117F18u);
  EXPECT_TRUE(items[0].crc_ok);
}

// --- detection ---------------------------------------------------------------------

struct DetectCase {
  const char* name;
  std::string bytes;
  uint32_t silence_ms;  // then a loop turn (ZEndpoint::poll)
  std::string terminal;
  int active;
};

TEST(ZmodemDetect, Cases) {
  const DetectCase cases[] = {
      {"plain text passes", "hello", 0, "hello", 0},
      {"lone ** shown after silence", "**", 100, "**", 0},
      {"** held during 74 ms", "**", 74, "", 0},
      {"** CAN B starts, nothing shown",
       "**\x18"
       "B",
       0, "", 1},
      {"** CAN A starts",
       "**\x18"
       "A",
       0, "", 1},
      {"** CAN C starts",
       "**\x18"
       "C",
       0, "", 1},
      {"*** CAN B is text",
       "***\x18"
       "B",
       0,
       "***\x18"
       "B",
       0},
      {"** x prints all three", "**x", 0, "**x", 0},
      {"** CAN x released", "**\x18x", 0, "**\x18x", 0},
      {"** CAN * starts again",
       "**\x18**\x18"
       "B",
       0, "**\x18", 1},
      {"text around", "a*b", 0, "a*b", 0},
  };
  for (const auto& c : cases) {
    uint32_t clock = 1000;
    ZEndpoint e(&clock);
    e.feed(c.bytes);
    clock += c.silence_ms;
    e.poll();
    EXPECT_EQ(e.terminal, c.terminal) << c.name;
    EXPECT_EQ(e.z.active, c.active) << c.name;
    if (c.active) {
      EXPECT_STREQ(e.z.status_text, "Detected sender; reading header") << c.name;
      EXPECT_EQ(e.hides, 1) << c.name;
    }
  }
}

TEST(ZmodemDetect, FirstHeaderAfterEachFormat) {
  // The detection bytes are the lead-in of the first header: its body follows.
  for (int fmt : {0, 1, 2}) {
    uint32_t clock = 1000;
    ZEndpoint e(&clock);
    std::vector<uint8_t> h = fmt == 0 ? hex_header(ZRQINIT, 0) : bin_header(ZRQINIT, 0, fmt == 2);
    e.feed(h);
    auto items = decode_wire(e.take(), 0);
    ASSERT_EQ(items.size(), 1u) << fmt;
    EXPECT_EQ(items[0].type, ZRINIT);
    EXPECT_EQ(items[0].value, 0x23000000u);
    EXPECT_STREQ(e.z.status_text, "Sent ZRINIT 8K");
  }
}

// --- damage --------------------------------------------------------------------------

TEST(ZmodemParser, HeaderWithBadCrcIsDropped) {
  struct Case {
    const char* name;
    std::vector<uint8_t> header;
    size_t flip;  // byte index to damage
  } cases[] = {
      {"hex digit", hex_header(ZRQINIT, 0), 6},
      {"hex crc digit", hex_header(ZRQINIT, 0), 16},
      {"bin16 value", bin_header(ZRQINIT, 0, 0), 5},
      {"bin32 crc", bin_header(ZRQINIT, 0, 1), 10},
  };
  for (auto& c : cases) {
    uint32_t clock = 1000;
    ZEndpoint e(&clock);
    e.feed(
        "**\x18"
        "B");  // a receive is running (hex header follows)
    e.feed(std::string(14, '0'));
    e.take();
    std::vector<uint8_t> bad = c.header;
    bad[c.flip] = bad[c.flip] == '0' ? '1' : static_cast<uint8_t>(bad[c.flip] ^ 0x01);
    e.feed(bad);
    EXPECT_TRUE(e.take().empty()) << c.name;  // dropped: no ZRINIT in reply
    e.feed(c.header);
    EXPECT_FALSE(e.take().empty()) << c.name;  // the intact repeat is answered
  }
}

TEST(ZmodemParser, GarbageBetweenFramesNeverFormsAHeader) {
  uint32_t clock = 1000;
  ZEndpoint e(&clock);
  e.feed(hex_header(ZRQINIT, 0));
  e.take();
  // Hex digits, format letters and stray lead-ins with no header among them.
  e.feed(
      std::string("0123456789abcdefABC*B0100000023be50*\x18Q0000C\x18"
                  "A12345"));
  EXPECT_TRUE(e.take().empty());
  EXPECT_EQ(e.z.active, 1);
  // A real header right after the garbage is still found.
  e.feed(hex_header(ZRQINIT, 0));
  auto items = decode_wire(e.take(), 0);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].type, ZRINIT);
}

TEST(ZmodemParser, PeerCancelSequenceEndsTheTransfer) {
  struct Case {
    const char* name;
    bool in_data;
  } cases[] = {{"between headers", false}, {"inside a data subpacket", true}};
  for (const auto& c : cases) {
    uint32_t clock = 1000;
    TempDir dir;
    ZEndpoint e(&clock);
    e.dir = dir.path();
    e.feed(hex_header(ZRQINIT, 0));
    e.feed(cat({bin_header(ZFILE, 0), subpacket(file_info("part.bin", "100"), ZCRCW)}));
    e.feed(cat({bin_header(ZDATA, 0), subpacket(std::string(10, 'x'), ZCRCG)}));
    if (c.in_data)
      e.feed("abc");
    else
      e.feed(subpacket(std::string(5, 'y'), ZCRCE));
    e.take();
    e.feed(std::string(8, '\x18') + std::string(10, '\x08'));
    EXPECT_EQ(e.z.active, 0) << c.name;
    EXPECT_EQ(e.z.ending, kZmodemFailed) << c.name;
    EXPECT_STREQ(e.z.status_text, "Cancelled by the other side") << c.name;
    // The partial file stays, holding only data whose CRC held.
    std::string want = std::string(10, 'x') + (c.in_data ? "" : std::string(5, 'y'));
    auto got = read_file_bytes(dir.file("part.bin"));
    EXPECT_EQ(std::string(got.begin(), got.end()), want) << c.name;
    // We do not answer a cancel with our own.
    EXPECT_TRUE(e.take().empty()) << c.name;
  }
}

TEST(ZmodemParser, FourCanAreNotACancel) {
  uint32_t clock = 1000;
  ZEndpoint e(&clock);
  e.feed(hex_header(ZRQINIT, 0));
  e.feed(std::string(4, '\x18') + "Z" + std::string(4, '\x18') + "Z");
  EXPECT_EQ(e.z.active, 1);
}

}  // namespace
