#include "transfer/zmodem_harness.h"

#include <random>

uint16_t ref_crc16(const std::vector<uint8_t>& d) {
  uint16_t crc = 0;
  for (uint8_t b : d) {
    crc ^= static_cast<uint16_t>(b << 8);
    for (int i = 0; i < 8; ++i)
      crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021)
                           : static_cast<uint16_t>(crc << 1);
  }
  return crc;
}
uint32_t ref_crc32(const std::vector<uint8_t>& d) {
  uint32_t crc = 0xFFFFFFFFu;
  for (uint8_t b : d) {
    crc ^= b;
    for (int i = 0; i < 8; ++i) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
  }
  return ~crc;
}

namespace {

struct Reader {
  const std::vector<uint8_t>& b;
  size_t i = 0;
  bool end() const { return i >= b.size(); }
  // A ZDLE-decoded byte; -1 at the end; 0x100|c for a subpacket end.
  int next() {
    if (end()) return -1;
    uint8_t c = b[i++];
    if (c != ZDLE) return c;
    if (end()) return -1;
    c = b[i++];
    if (c >= ZCRCE && c <= ZCRCW) return 0x100 | c;
    if (c == ZRUB0) return 0x7F;
    if (c == ZRUB1) return 0xFF;
    return c ^ 0x40;
  }
};

}  // namespace

std::vector<WireItem> decode_wire(const std::vector<uint8_t>& bytes, int data_crc32) {
  std::vector<WireItem> items;
  Reader r{bytes};
  bool in_data = false;
  WireItem text{WireItem::kText};
  auto flush_text = [&]() {
    if (!text.data.empty()) items.push_back(text);
    text.data.clear();
  };
  while (!r.end()) {
    if (in_data) {
      WireItem d{WireItem::kData};
      int c;
      while ((c = r.next()) >= 0 && c <= 0xFF) d.data.push_back(static_cast<uint8_t>(c));
      if (c < 0) break;
      d.type = c & 0xFF;
      std::vector<uint8_t> covered = d.data;
      covered.push_back(static_cast<uint8_t>(d.type));
      if (data_crc32) {
        uint32_t got = 0;
        for (int k = 0; k < 4; ++k) got |= static_cast<uint32_t>(r.next() & 0xFF) << (8 * k);
        d.crc_ok = got == ref_crc32(covered);
      } else {
        int hi = r.next(), lo = r.next();
        d.crc_ok = static_cast<uint16_t>((hi & 0xFF) << 8 | (lo & 0xFF)) == ref_crc16(covered);
      }
      if (d.type == ZCRCW && !r.end() && bytes[r.i] == XON) {
        d.xon = true;
        ++r.i;
      }
      if (d.type == ZCRCW || d.type == ZCRCE) in_data = false;
      items.push_back(d);
      continue;
    }
    size_t at = r.i;
    constexpr size_t kCancelLen = sizeof kZmodemCancelSeq;
    if (bytes.size() - at >= kCancelLen &&
        std::equal(kZmodemCancelSeq, kZmodemCancelSeq + kCancelLen,
                   bytes.begin() + static_cast<long>(at))) {
      flush_text();
      items.push_back(WireItem{WireItem::kCancel});
      r.i += kCancelLen;
      continue;
    }
    if (bytes[at] == ZPAD && at + 3 < bytes.size() && bytes[at + 1] == ZPAD &&
        bytes[at + 2] == ZDLE) {
      flush_text();
      uint8_t fmt = bytes[at + 3];
      r.i = at + 4;
      WireItem h{fmt == ZHEX     ? WireItem::kHex
                 : fmt == ZBIN32 ? WireItem::kBin32
                                 : WireItem::kBin16};
      std::vector<uint8_t> hb;
      if (fmt == ZHEX) {
        for (int k = 0; k < 7 && r.i + 1 < bytes.size(); ++k, r.i += 2) {
          hb.push_back(static_cast<uint8_t>(zmodem_hex_value(bytes[r.i]) << 4 |
                                            zmodem_hex_value(bytes[r.i + 1])));
        }
        if (r.i < bytes.size() && bytes[r.i] == 0x0D) ++r.i;
        if (r.i < bytes.size() && bytes[r.i] == 0x0A) ++r.i;
        if (r.i < bytes.size() && bytes[r.i] == XON) {
          h.xon = true;
          ++r.i;
        }
      } else {
        int n = fmt == ZBIN32 ? 9 : 7;
        for (int k = 0; k < n; ++k) hb.push_back(static_cast<uint8_t>(r.next() & 0xFF));
      }
      if (hb.size() < 7) break;
      h.type = hb[0];
      h.value = static_cast<uint32_t>(hb[1]) | static_cast<uint32_t>(hb[2]) << 8 |
                static_cast<uint32_t>(hb[3]) << 16 | static_cast<uint32_t>(hb[4]) << 24;
      std::vector<uint8_t> five(hb.begin(), hb.begin() + 5);
      if (h.kind == WireItem::kBin32) {
        uint32_t got = static_cast<uint32_t>(hb[5]) | static_cast<uint32_t>(hb[6]) << 8 |
                       static_cast<uint32_t>(hb[7]) << 16 | static_cast<uint32_t>(hb[8]) << 24;
        h.crc_ok = got == ref_crc32(five);
      } else {
        h.crc_ok = static_cast<uint16_t>(hb[5] << 8 | hb[6]) == ref_crc16(five);
      }
      items.push_back(h);
      if (h.kind != WireItem::kHex && (h.type == ZDATA || h.type == ZFILE)) in_data = true;
      continue;
    }
    text.data.push_back(bytes[at]);
    r.i = at + 1;
  }
  flush_text();
  return items;
}

std::vector<uint8_t> hex_header(int type, uint32_t value) {
  uint8_t buf[32];
  size_t n = zmodem_build_hex_header(buf, sizeof buf, type, value);
  return {buf, buf + n};
}

std::vector<uint8_t> bin_header(int type, uint32_t value, int crc32) {
  uint8_t buf[32];
  size_t n = zmodem_build_binary_header(buf, sizeof buf, type, value, crc32);
  return {buf, buf + n};
}

std::vector<uint8_t> subpacket(const std::vector<uint8_t>& data, uint8_t end, int crc32) {
  std::vector<uint8_t> buf(2 * data.size() + 32);
  size_t n = zmodem_build_data_packet(buf.data(), buf.size(), data.data(), data.size(), end, crc32);
  buf.resize(n);
  return buf;
}

std::vector<uint8_t> subpacket(const std::string& data, uint8_t end, int crc32) {
  return subpacket(bytes_of(data), end, crc32);
}

std::vector<uint8_t> cat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> r;
  for (const auto& p : parts) r.insert(r.end(), p.begin(), p.end());
  return r;
}

std::vector<uint8_t> bytes_of(const std::string& s) {
  return {s.begin(), s.end()};
}

std::string file_info(const std::string& name, const std::string& numbers) {
  std::string s = name;
  s.push_back('\0');
  s += numbers;
  s.push_back('\0');
  return s;
}

std::vector<uint8_t> random_bytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}
