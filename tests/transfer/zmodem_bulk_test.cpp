// The bulk entry of the receiving path: runs of a transfer's bytes taken at
// once must do exactly what the same bytes do one at a time, and stop where
// the transfer ends.
#include <gtest/gtest.h>

#include <random>

#include "transfer/zmodem_harness.h"

namespace {

// A whole download as the sender puts it on the wire after ZRQINIT: the
// file in subpackets of several lengths with the continuing end kinds, then
// ZEOF, ZFIN, "OO" and text that is no longer the transfer's.
std::vector<uint8_t> download_stream(const std::vector<uint8_t>& data) {
  std::vector<uint8_t> wire = cat(
      {bin_header(ZFILE, 0), subpacket(file_info("bulk.bin", "0"), ZCRCW), bin_header(ZDATA, 0)});
  size_t pos = 0;
  int n = 0;
  while (pos < data.size()) {
    size_t len = std::min<size_t>(data.size() - pos, 100 + (n * 397) % 1024);
    std::vector<uint8_t> piece(data.begin() + pos, data.begin() + pos + len);
    uint8_t end = pos + len == data.size() ? ZCRCE : (n % 3 == 0 ? ZCRCQ : ZCRCG);
    wire = cat({wire, subpacket(piece, end)});
    pos += len;
    ++n;
  }
  return cat({wire, bin_header(ZEOF, static_cast<uint32_t>(data.size())), bin_header(ZFIN, 0),
              bytes_of("OO"), bytes_of("after the transfer")});
}

}  // namespace

TEST(ZmodemBulk, RunsDoWhatSingleBytesDo) {
  auto data = random_bytes(20000, 9);
  for (uint8_t special : {0x18, 0xFF, 0x7F, 0x11, 0x2A})
    data.insert(data.begin() + 5000, 64, special);
  auto wire = download_stream(data);
  for (uint32_t seed : {1u, 2u, 3u}) {
    SCOPED_TRACE(seed);
    uint32_t clock = 1000;
    TempDir one_dir, bulk_dir;
    ZEndpoint one{&clock}, bulk{&clock};
    one.dir = one_dir.path();
    bulk.dir = bulk_dir.path();
    one.feed(hex_header(ZRQINIT, 0));
    bulk.feed(hex_header(ZRQINIT, 0));
    one.feed(wire);
    // The same bytes in random pieces through the bulk entry.
    std::mt19937 rng(seed);
    size_t i = 0, taken_total = 0;
    while (i < wire.size() && bulk.z.active) {
      size_t len = std::min<size_t>(wire.size() - i, 1 + rng() % 3000);
      size_t taken = zmodem_consume_active(&bulk.z, wire.data() + i, len);
      EXPECT_LE(taken, len);
      if (taken < len) {
        EXPECT_FALSE(bulk.z.active);  // stops only where the transfer ended
      }
      i += taken;
      taken_total += taken;
    }
    EXPECT_EQ(wire.size() - taken_total, std::string("after the transfer").size());
    EXPECT_EQ(zmodem_consume_active(&bulk.z, wire.data() + i, wire.size() - i), 0u);
    EXPECT_EQ(one.out, bulk.out);  // the same replies
    EXPECT_STREQ(bulk.z.status_text, "ZMODEM finished");
    EXPECT_EQ(read_file_bytes(bulk_dir.file("bulk.bin")),
              read_file_bytes(one_dir.file("bulk.bin")));
    EXPECT_EQ(read_file_bytes(bulk_dir.file("bulk.bin")).size(), data.size());
  }
}
