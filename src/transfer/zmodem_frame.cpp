// ZMODEM wire format and the receiving parser: CRCs, escaping, headers, data
// subpackets, start detection, the byte path of a running transfer and the
// three endings.
#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstring>

#include "transfer/zmodem.h"

namespace {

// Both tables come from the bit-by-bit definitions, so the table-driven
// updates give exactly those values (a test compares them byte for byte).
constexpr std::array<uint16_t, 256> make_crc16_table() {
  std::array<uint16_t, 256> t{};
  for (int i = 0; i < 256; ++i) {
    uint16_t crc = static_cast<uint16_t>(i << 8);
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021)
                           : static_cast<uint16_t>(crc << 1);
    }
    t[static_cast<size_t>(i)] = crc;
  }
  return t;
}

constexpr std::array<uint32_t, 256> make_crc32_table() {
  std::array<uint32_t, 256> t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t crc = i;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    t[i] = crc;
  }
  return t;
}

constexpr auto kCrc16Table = make_crc16_table();
constexpr auto kCrc32Table = make_crc32_table();

// Bytes sent as ZDLE + (byte ^ 0x40) or ZDLE ZRUB0/ZRUB1.  A receiver that
// asks for ESCCTL drops every control character that arrives unescaped
// (line equipment may eat or insert them), so for it all of 0x00..0x1F and
// 0x80..0x9F are escaped too.
constexpr std::array<bool, 256> make_escape_table(bool every_control) {
  std::array<bool, 256> t{};
  for (int b : {0x18, 0x10, 0x11, 0x13, 0x90, 0x91, 0x93, 0x7F, 0xFF})
    t[static_cast<size_t>(b)] = true;
  if (every_control) {
    for (int b = 0; b < 256; ++b)
      if ((b & 0x60) == 0) t[static_cast<size_t>(b)] = true;
  }
  return t;
}
constexpr auto kEscape = make_escape_table(false);
constexpr auto kEscapeCtl = make_escape_table(true);

const std::array<bool, 256>& escape_table(int escape_ctl) {
  return escape_ctl ? kEscapeCtl : kEscape;
}

int append_escaped(uint8_t* buf, size_t cap, size_t* count, uint8_t byte,
                   const std::array<bool, 256>& escape) {
  if (!escape[byte]) return zmodem_append_wire_byte(buf, cap, count, byte);
  if (*count + 2 > cap) return -1;
  buf[(*count)++] = ZDLE;
  buf[(*count)++] = byte == 0x7F ? ZRUB0 : byte == 0xFF ? ZRUB1 : static_cast<uint8_t>(byte ^ 0x40);
  return 0;
}

// Our own headers and subpackets as a sender escape what the receiver asked
// for; everything else we send keeps the standard set.
int send_escape_ctl(const ZmodemState* z) {
  return z->direction == 1 && (z->peer_flags & kZmodemEscCtl) ? 1 : 0;
}

constexpr uint8_t kDetectPattern[3] = {ZPAD, ZPAD, ZDLE};
constexpr char kHexDigits[] = "0123456789abcdef";

uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
uint32_t be32(const uint8_t* p) {
  return static_cast<uint32_t>(p[3]) | static_cast<uint32_t>(p[2]) << 8 |
         static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[0]) << 24;
}

// A CRC as received: CRC-32 least significant byte first and CRC-16 high
// byte first are the protocol's orders; the other order is accepted too,
// since some senders get it wrong and the check is just as strong.
bool crc_matches(const uint8_t* got, int len, uint32_t crc) {
  if (len == 4) return le32(got) == crc || be32(got) == crc;
  uint16_t hi_first = static_cast<uint16_t>(got[0] << 8 | got[1]);
  uint16_t lo_first = static_cast<uint16_t>(got[1] << 8 | got[0]);
  return hi_first == crc || lo_first == crc;
}

// Header bytes (type, P0..P3) followed by len CRC bytes.
bool header_crc_ok(const uint8_t* h, int len) {
  if (len == 4) return crc_matches(h + 5, 4, ~zmodem_crc32(h, 5));
  return crc_matches(h + 5, 2, zmodem_crc16(h, 5));
}

void start_detected_receive(ZmodemState* z, uint8_t format) {
  uint32_t deadline = z->finish_deadline_ms;
  zm_clear_transfer(z);
  z->finish_deadline_ms = deadline;
  uint32_t now = zm_now(z);
  z->active = 1;
  z->direction = 0;
  if (deadline != 0 && static_cast<int32_t>(deadline - now) > 0) z->trailing = 1;
  z->parse_state = 1;
  if (format == ZHEX) {
    z->hunt = 3;
    z->data_crc_len = z->header_crc_len = 2;
  } else {
    z->parse_state = 2;
    z->bin_len = format == ZBIN32 ? 9 : 7;
    z->data_crc_len = z->header_crc_len = format == ZBIN32 ? 4 : 2;
  }
  z->fallback_zrinit = 1;
  z->last_progress_ms = now;
  zm_set_status(z, "Detected sender; reading header");
  if (z->hooks.hide_cursor) z->hooks.hide_cursor(z->hooks.ctx);
}

// An idle byte for a caller that shows no text: detection alone.
void detect_byte(ZmodemState* z, uint8_t b) {
  zmodem_detect(z, b, nullptr, nullptr);
}

void dispatch_header(ZmodemState* z) {
  bool hex = z->hunt == 3;
  z->hunt = 0;
  z->hex_count = z->bin_count = 0;
  z->escape_pending = 0;
  z->parse_state = 1;
  if (!header_crc_ok(z->header, z->header_crc_len)) return;  // the peer's repeats recover
  z->last_progress_ms = zm_now(z);
  if (zmodem_handle_header(z) != 0 && z->active) zm_end(z, "ZMODEM aborted", kZmodemFailed);
  // A hex header that data follows (ZSINIT) still has its CR, LF and XON
  // to come: they are not data.
  if (hex && z->active && z->parse_state == 3) {
    z->parse_state = 4;
    z->hex_tail = 0;
  }
}

// After a hex header that data follows: CR, LF and XON, each optional and
// in that order (with or without the high bit), then the data.
bool hex_tail_byte(ZmodemState* z, uint8_t b) {
  static constexpr uint8_t kTail[3] = {0x0D, 0x0A, XON};
  while (z->hex_tail < 3) {
    if ((b & 0x7F) == kTail[z->hex_tail++]) return true;
  }
  z->parse_state = 3;
  return false;
}

// Waiting for a header: ZPAD (one or more), ZDLE, then the format byte.
// Anything out of place starts the hunt again, so stray data between
// frames (a stream still arriving after our ZRPOS) never forms a header.
void hunt_byte(ZmodemState* z, uint8_t b) {
  switch (z->hunt) {
    case 0:
      if (b == ZPAD) z->hunt = 1;
      return;
    case 1:
      if (b == ZDLE)
        z->hunt = 2;
      else if (b != ZPAD)
        z->hunt = 0;
      return;
    case 2:
      if (b == ZHEX) {
        z->hunt = 3;
        z->hex_count = 0;
        z->header_crc_len = 2;
        z->data_crc_len = 2;
      } else if (b == ZBIN || b == ZBIN32) {
        z->parse_state = 2;
        z->bin_len = b == ZBIN32 ? 9 : 7;
        z->header_crc_len = z->data_crc_len = b == ZBIN32 ? 4 : 2;
        z->bin_count = 0;
        z->escape_pending = 0;
        z->hunt = 0;
      } else {
        z->hunt = b == ZPAD ? 1 : 0;
      }
      return;
    default: {
      int v = zmodem_hex_value(b);
      if (v < 0) {
        z->hunt = b == ZPAD ? 1 : 0;
        z->hex_count = 0;
        return;
      }
      z->hex_chars[z->hex_count++] = static_cast<char>(b);
      if (z->hex_count < 14) return;
      for (int i = 0; i < 7; ++i) {
        z->header[i] = static_cast<uint8_t>(zmodem_hex_value(z->hex_chars[2 * i]) << 4 |
                                            zmodem_hex_value(z->hex_chars[2 * i + 1]));
      }
      dispatch_header(z);
      return;
    }
  }
}

// ZDLE-decoding: -1 for a consumed ZDLE, 0x100 | end for a subpacket end,
// else the byte.
int unescape(ZmodemState* z, uint8_t b) {
  if (z->escape_pending) {
    z->escape_pending = 0;
    if (b == ZRUB0) return 0x7F;
    if (b == ZRUB1) return 0xFF;
    if (b >= ZCRCE && b <= ZCRCW) return 0x100 | b;
    return b ^ 0x40;
  }
  if (b == ZDLE) {
    z->escape_pending = 1;
    return -1;
  }
  return b;
}

void crc_byte(ZmodemState* z, int v) {
  z->crc_bytes[z->crc_got++ & 3] = static_cast<uint8_t>(v);
  if (--z->crc_remaining > 0) return;
  int len = z->data_crc_len == 4 ? 4 : 2;
  bool overflow = z->packet_len > kZmodemMaxSubpacket;
  size_t n = overflow ? 0 : static_cast<size_t>(z->packet_len);
  uint8_t end = static_cast<uint8_t>(z->frame_end);
  bool ok;
  if (len == 4) {
    z->crc32 = zmodem_crc32_update(zmodem_crc32(z->packet, n), end);
    ok = crc_matches(z->crc_bytes, 4, ~z->crc32);
  } else {
    z->crc16 = zmodem_crc16_update(zmodem_crc16(z->packet, n), end);
    ok = crc_matches(z->crc_bytes, 2, z->crc16);
  }
  zm_subpacket_done(z, ok && !overflow);
}

void peer_cancelled(ZmodemState* z) {
  zm_end(z, "Cancelled by the other side", kZmodemFailed);
}

void active_byte(ZmodemState* z, uint8_t b) {
  // Five CAN in a row never occur in a well-formed stream (a data CAN is
  // sent as ZDLE "X"): it is the other side's cancel sequence.
  if (b == ZDLE) {
    if (++z->can_run >= 5) {
      peer_cancelled(z);
      return;
    }
  } else {
    z->can_run = 0;
  }
  if (z->direction == 1 && z->send_state == 4) {
    if (b == 'O') {
      if (++z->send_o_count >= 2 && z->zfin_sent) {
        zm_end_upload(z);
        if (z->hooks.restore_terminal) z->hooks.restore_terminal(z->hooks.ctx);
      }
      return;
    }
    z->send_o_count = 0;
  }
  if (z->direction == 0 && z->zfin_seen) {
    if (b != 'O') {
      z->recv_o_count = 0;
      return;
    }
    if (++z->recv_o_count >= 2) {
      z->zfin_ms = 0;
      zmodem_receive_pump(z);
    }
    return;
  }
  if (z->crc_remaining > 0) {
    int v = unescape(z, b);
    if (v >= 0) crc_byte(z, v & 0xFF);
    return;
  }
  // Outside data subpackets XON and XOFF (either parity) are flow control
  // from the line or the sender (DOS senders put XON after subpackets and
  // between frames), never part of a header: a sender escapes them there,
  // and after ZDLE their escaped forms are other bytes.
  if (z->parse_state <= 2 && ((b & 0x7F) == XON || (b & 0x7F) == 0x13)) return;
  switch (z->parse_state) {
    case 1:
      hunt_byte(z, b);
      return;
    case 2: {
      int v = unescape(z, b);
      if (v < 0) return;
      if (v > 0xFF) {  // a subpacket end inside a header: not a header
        z->parse_state = 1;
        z->hunt = 0;
        z->bin_count = 0;
        return;
      }
      z->header[z->bin_count++] = static_cast<uint8_t>(v);
      if (z->bin_count >= z->bin_len) dispatch_header(z);
      return;
    }
    case 4:
      if (hex_tail_byte(z, b)) return;
      [[fallthrough]];
    case 3: {
      int v = unescape(z, b);
      if (v < 0) return;
      if (v > 0xFF) {
        z->frame_end = v & 0xFF;
        z->crc_got = 0;
        z->crc_remaining = z->data_crc_len == 4 ? 4 : 2;
        return;
      }
      if (z->packet_len < kZmodemMaxSubpacket) {
        z->packet[z->packet_len++] = static_cast<uint8_t>(v);
      } else {
        z->packet_len = kZmodemMaxSubpacket + 1;  // too long: the subpacket is refused at its end
      }
      return;
    }
    default:
      return;
  }
}

}  // namespace

uint16_t zmodem_crc16_update(uint16_t crc, uint8_t byte) {
  return static_cast<uint16_t>((crc << 8) ^ kCrc16Table[((crc >> 8) ^ byte) & 0xFF]);
}

uint16_t zmodem_crc16(const uint8_t* data, size_t len, uint16_t crc) {
  for (size_t i = 0; i < len; ++i) crc = zmodem_crc16_update(crc, data[i]);
  return crc;
}

uint32_t zmodem_crc32_update(uint32_t crc, uint8_t byte) {
  return (crc >> 8) ^ kCrc32Table[(crc ^ byte) & 0xFF];
}

uint32_t zmodem_crc32(const uint8_t* data, size_t len, uint32_t crc) {
  for (size_t i = 0; i < len; ++i) crc = (crc >> 8) ^ kCrc32Table[(crc ^ data[i]) & 0xFF];
  return crc;
}

void zmodem_crc_data_update(ZmodemState* z, uint8_t byte) {
  z->crc16 = zmodem_crc16_update(z->crc16, byte);
  z->crc32 = zmodem_crc32_update(z->crc32, byte);
}

int zmodem_hex_value(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The session's sender doubles 0xFF for Telnet, so bytes are put here as
// they are (and the escaping never produces a bare 0xFF anyway).
int zmodem_append_wire_byte(uint8_t* buf, size_t cap, size_t* count, uint8_t byte) {
  if (*count + 1 > cap) return -1;
  buf[(*count)++] = byte;
  return 0;
}

int zmodem_append_escaped_byte(uint8_t* buf, size_t cap, size_t* count, uint8_t byte) {
  return append_escaped(buf, cap, count, byte, kEscape);
}

size_t zmodem_build_hex_header(uint8_t* out, size_t cap, int type, uint32_t value) {
  if (cap < 21) return 0;
  uint8_t h[5] = {static_cast<uint8_t>(type), static_cast<uint8_t>(value),
                  static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
                  static_cast<uint8_t>(value >> 24)};
  uint16_t crc = zmodem_crc16(h, 5);
  uint8_t bytes[7] = {
      h[0], h[1], h[2], h[3], h[4], static_cast<uint8_t>(crc >> 8), static_cast<uint8_t>(crc)};
  size_t n = 0;
  out[n++] = ZPAD;
  out[n++] = ZPAD;
  out[n++] = ZDLE;
  out[n++] = ZHEX;
  for (uint8_t b : bytes) {
    out[n++] = static_cast<uint8_t>(kHexDigits[b >> 4]);
    out[n++] = static_cast<uint8_t>(kHexDigits[b & 15]);
  }
  out[n++] = 0x0D;
  out[n++] = 0x0A;
  if (type != ZACK && type != ZFIN) out[n++] = XON;
  return n;
}

size_t zmodem_build_binary_header(uint8_t* out, size_t cap, int type, uint32_t value, int crc32,
                                  int escape_ctl) {
  const auto& escape = escape_table(escape_ctl);
  uint8_t h[5] = {static_cast<uint8_t>(type), static_cast<uint8_t>(value),
                  static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
                  static_cast<uint8_t>(value >> 24)};
  size_t n = 0;
  int rc = zmodem_append_wire_byte(out, cap, &n, ZPAD);
  rc |= zmodem_append_wire_byte(out, cap, &n, ZPAD);
  rc |= zmodem_append_wire_byte(out, cap, &n, ZDLE);
  rc |= zmodem_append_wire_byte(out, cap, &n, crc32 ? ZBIN32 : ZBIN);
  for (uint8_t b : h) rc |= append_escaped(out, cap, &n, b, escape);
  if (crc32) {
    uint32_t crc = ~zmodem_crc32(h, 5);
    for (int i = 0; i < 4; ++i)
      rc |= append_escaped(out, cap, &n, static_cast<uint8_t>(crc >> (8 * i)), escape);
  } else {
    uint16_t crc = zmodem_crc16(h, 5);
    rc |= append_escaped(out, cap, &n, static_cast<uint8_t>(crc >> 8), escape);
    rc |= append_escaped(out, cap, &n, static_cast<uint8_t>(crc), escape);
  }
  return rc == 0 ? n : 0;
}

size_t zmodem_build_data_packet(uint8_t* out, size_t cap, const uint8_t* data, size_t len,
                                uint8_t frame_end, int crc32, int escape_ctl) {
  if (cap < 2 * len + 16) return 0;  // room for the worst case: every byte escaped
  const auto& escape = escape_table(escape_ctl);
  size_t n = 0;
  for (size_t i = 0; i < len; ++i) {
    uint8_t b = data[i];
    if (!escape[b]) {
      out[n++] = b;
    } else {
      out[n++] = ZDLE;
      out[n++] = b == 0x7F ? ZRUB0 : b == 0xFF ? ZRUB1 : static_cast<uint8_t>(b ^ 0x40);
    }
  }
  out[n++] = ZDLE;
  out[n++] = frame_end;
  if (crc32) {
    uint32_t crc = ~zmodem_crc32_update(zmodem_crc32(data, len), frame_end);
    for (int i = 0; i < 4; ++i)
      append_escaped(out, cap, &n, static_cast<uint8_t>(crc >> (8 * i)), escape);
  } else {
    uint16_t crc = zmodem_crc16_update(zmodem_crc16(data, len), frame_end);
    append_escaped(out, cap, &n, static_cast<uint8_t>(crc >> 8), escape);
    append_escaped(out, cap, &n, static_cast<uint8_t>(crc), escape);
  }
  if (frame_end == ZCRCW) out[n++] = XON;
  return n;
}

int zm_flush_batch(ZmodemState* z) {
  if (z->batch_len == 0) return 0;
  uint32_t n = z->batch_len;
  z->batch_len = 0;
  if (!z->hooks.send) return -1;
  return z->hooks.send(z->hooks.ctx, z->batch, n) == 0 ? 0 : -1;
}

int zm_send(ZmodemState* z, const uint8_t* bytes, size_t len) {
  if (!z->hooks.send) return -1;
  if (z->batching && len <= sizeof z->batch) {
    if (z->batch_len + len > sizeof z->batch && zm_flush_batch(z) != 0) return -1;
    memcpy(z->batch + z->batch_len, bytes, len);
    z->batch_len += static_cast<uint32_t>(len);
    return 0;
  }
  if (zm_flush_batch(z) != 0) return -1;
  return z->hooks.send(z->hooks.ctx, bytes, len) == 0 ? 0 : -1;
}

int zmodem_send_hex_header_with_crc(ZmodemState* z, int type, uint32_t value) {
  uint8_t buf[32];
  size_t n = zmodem_build_hex_header(buf, sizeof buf, type, value);
  return n ? zm_send(z, buf, n) : -1;
}

int zmodem_send_binary_header(ZmodemState* z, int type, uint32_t value) {
  uint8_t buf[32];
  size_t n =
      zmodem_build_binary_header(buf, sizeof buf, type, value, z->use_crc32, send_escape_ctl(z));
  return n ? zm_send(z, buf, n) : -1;
}

int zmodem_send_data_packet(ZmodemState* z, const uint8_t* data, size_t len, uint8_t frame_end) {
  // Every byte escaped, the end, four CRC bytes escaped, and the XON.
  uint8_t buf[2 * kZmodemMaxSubpacket + 16];
  if (len > static_cast<size_t>(kZmodemMaxSubpacket)) return -1;
  size_t n = zmodem_build_data_packet(buf, sizeof buf, data, len, frame_end,
                                      z->direction == 1 && z->use_crc32, send_escape_ctl(z));
  return n ? zm_send(z, buf, n) : -1;
}

const char* zmodem_frame_name(int type) {
  switch (type) {
    case ZRQINIT:
      return "ZRQINIT";
    case ZRINIT:
      return "ZRINIT";
    case ZACK:
      return "ZACK";
    case ZFILE:
      return "ZFILE";
    case ZSKIP:
      return "ZSKIP";
    case ZFIN:
      return "ZFIN";
    case ZRPOS:
      return "ZRPOS";
    case ZDATA:
      return "ZDATA";
    case ZEOF:
      return "ZEOF";
    case ZCRC:
      return "ZCRC";
    default:
      return "ZMODEM";
  }
}

void zmodem_consume_byte(ZmodemState* z, uint8_t b) {
  if (!z->active) {
    detect_byte(z, b);
    return;
  }
  // While the file-exists question waits, what the sender repeats is
  // dropped: its header comes again once we answer.
  if (z->exists_pending) return;
  z->rx_seen = 1;
  // The common case first: a plain data byte inside a subpacket.
  if (z->parse_state == 3 && z->crc_remaining == 0 && !z->escape_pending && b != ZDLE &&
      z->packet_len < kZmodemMaxSubpacket) {
    z->can_run = 0;
    z->packet[z->packet_len++] = b;
    return;
  }
  active_byte(z, b);
}

size_t zmodem_consume_active(ZmodemState* z, const uint8_t* bytes, size_t len) {
  size_t i = 0;
  while (i < len && z->active) {
    if (z->exists_pending) return len;  // dropped (zmodem_consume_byte says why)
    if (z->parse_state == 3 && z->crc_remaining == 0 && !z->escape_pending) {
      // Subpacket data up to the next ZDLE, copied in one piece: the bytes
      // zmodem_consume_byte's first case would take one at a time.
      size_t room = static_cast<size_t>(kZmodemMaxSubpacket - z->packet_len);
      size_t limit = std::min(len - i, room);
      const void* zdle = memchr(bytes + i, ZDLE, limit);
      size_t run =
          zdle ? static_cast<size_t>(static_cast<const uint8_t*>(zdle) - (bytes + i)) : limit;
      if (run > 0) {
        z->rx_seen = 1;
        z->can_run = 0;
        memcpy(z->packet + z->packet_len, bytes + i, run);
        z->packet_len += static_cast<int32_t>(run);
        i += run;
        continue;
      }
    }
    zmodem_consume_byte(z, bytes[i++]);
  }
  return i;
}

void zmodem_consume(ZmodemState* z, const uint8_t* bytes, size_t len) {
  for (size_t i = 0; i < len; ++i) zmodem_consume_byte(z, bytes[i]);
}

TransferDetect zmodem_detect(ZmodemState* z, uint8_t b, TransferEmit emit, void* to) {
  if (z->active) return TRANSFER_PASS;
  if (z->detect_index == 3) {
    if (b == ZBIN || b == ZHEX || b == ZBIN32) {
      start_detected_receive(z, b);
      return TRANSFER_TAKEN;
    }
    zmodem_release_detect(z, 1, emit, to);
  }
  if (b == kDetectPattern[z->detect_index]) {
    if (z->detect_index == 0) z->detect_ms = zm_now(z);
    ++z->detect_index;
    return TRANSFER_HELD;
  }
  // A mismatch after "*" or "**" releases them; the byte does not begin a
  // new match, so "***" CAN "B" is text.
  if (z->detect_index != 0) zmodem_release_detect(z, 1, emit, to);
  return TRANSFER_PASS;
}

void zmodem_release_detect(ZmodemState* z, int force, TransferEmit emit, void* to) {
  if (z->active || z->detect_index == 0) return;
  if (!force && z->detect_ms != 0 && zm_now(z) - z->detect_ms <= kZmodemDetectHoldMs) return;
  int held = z->detect_index > 3 ? 3 : z->detect_index;
  z->detect_index = 0;
  z->detect_ms = 0;
  if (!emit) return;
  for (int i = 0; i < held; ++i) emit(to, kDetectPattern[i]);
}

int zmodem_poll(ZmodemState* z) {
  // A caller that shows text releases held bytes itself before the poll.
  zmodem_release_detect(z, 0, nullptr, nullptr);
  // No timer runs while the user is asked: the time spent answering is no
  // stall of the sender (the answer restarts the stall timer).
  if (!z->active || z->exists_pending) return 0;
  return z->direction == 0 ? zmodem_receive_pump(z) : zmodem_upload_pump(z);
}

void zm_set_status(ZmodemState* z, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(z->status_text, sizeof z->status_text, fmt, ap);
  va_end(ap);
}

void zm_draw(ZmodemState* z) {
  if (z->trailing) return;  // a repeated ZFIN is answered without showing anything
  if (z->hooks.status_changed) z->hooks.status_changed(z->hooks.ctx);
}

bool zm_progress_due(ZmodemState* z) {
  return z->status.drawn && zm_now(z) - z->status.last_draw_ms >= kZmodemProgressMs;
}

void zm_reset_parser(ZmodemState* z) {
  z->hunt = 0;
  z->hex_count = z->bin_count = 0;
  z->escape_pending = 0;
  z->crc_remaining = z->crc_got = z->frame_end = 0;
  z->crc16 = 0;
  z->crc32 = 0xFFFFFFFFu;
  z->packet_len = 0;
}

void zm_clear_transfer(ZmodemState* z) {
  if (z->file) fclose(z->file);
  ZmodemHooks hooks = z->hooks;
  uint32_t deadline = z->finish_deadline_ms;
  int32_t last_was_upload = z->last_was_upload;
  uint32_t waiting_ms = z->waiting_receiver_ms, waiting_value = z->waiting_receiver_value;
  // The record is large (the subpacket and file buffers); clearing it field
  // by field would be easy to get wrong when fields are added.
  memset(static_cast<void*>(z), 0, sizeof *z);
  z->hooks = hooks;
  z->finish_deadline_ms = deadline;
  z->last_was_upload = last_was_upload;
  z->waiting_receiver_ms = waiting_ms;
  z->waiting_receiver_value = waiting_value;
  z->crc32 = 0xFFFFFFFFu;
}

void zm_end(ZmodemState* z, const char* message, ZmodemEnding ending) {
  if (z->file) {
    bool failed = fflush(z->file) != 0 || ferror(z->file);
    failed = fclose(z->file) != 0 || failed;
    z->file = nullptr;
    // Data still in the stream buffer that cannot be written means a short
    // file: never report that as a finished download.
    if (failed && z->direction == 0 && ending == kZmodemSucceeded) {
      message = "Write failed";
      ending = kZmodemFailed;
    }
  }
  z->active = 0;
  z->exists_pending = 0;
  z->parse_state = 0;
  z->data_kind = 0;
  z->detect_index = 0;
  z->detect_ms = 0;
  z->escape_pending = 0;
  z->crc_remaining = 0;
  z->trailing = 0;
  z->streaming = 0;
  z->frame_open = 0;
  z->hunt = 0;
  z->can_run = 0;
  z->packet_len = 0;
  z->crc16 = 0;
  z->crc32 = 0xFFFFFFFFu;
  z->finish_deadline_ms = zm_now(z) + kZmodemTrailingMs;
  z->last_was_upload = z->direction == 1;
  z->ending = ending;
  if (ending == kZmodemSilent) {
    z->zfin_seen = 0;
    z->recv_o_count = 0;
    return;
  }
  snprintf(z->status_text, sizeof z->status_text, "%s", message ? message : "ZMODEM finished");
  zm_draw(z);
}

void zmodem_finish(ZmodemState* z, const char* message) {
  bool ok = !message || strcmp(message, "ZMODEM finished") == 0 ||
            strcmp(message, "Upload finished") == 0;
  zm_end(z, message, ok ? kZmodemSucceeded : kZmodemFailed);
}

void zmodem_finish_silent(ZmodemState* z) {
  zm_end(z, nullptr, kZmodemSilent);
}

void zmodem_cancel(ZmodemState* z, const char* message) {
  zm_send(z, kZmodemCancelSeq, sizeof kZmodemCancelSeq);
  z->cancel_sent = 1;
  zm_end(z, message ? message : "ZMODEM cancelled", kZmodemFailed);
  if (z->hooks.restore_terminal) z->hooks.restore_terminal(z->hooks.ctx);
}
