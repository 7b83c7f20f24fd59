// layers: transfer
// Arbitrary bytes from the other side into the XMODEM engine, receiving or
// sending, with the clock moved by the input as well.
//
// The first four bytes set the scene: bit 0 of the first chooses receiving
// or sending, bits 1-2 the start mode, bit 3 1K or 128-byte blocks, bit 4 a
// failing store, bits 5-7 the size of each read; the second byte how many
// writes succeed before the link fails (0: never); the next two the size of
// the file being sent (receiving: their top bit makes the close fail).  After that every byte goes
// to the engine, except 0xF5 n: n = 0 stands for the byte 0xF5 itself, 0xFE aborts and 0xFF cancels
// the transfer as the host would, any other n moves the clock on by n x 20 ms and pumps.
//
// Checked on every step: the frame never outgrows its buffer, the figures
// stay in range, an ending closes the file exactly once, and after the close
// nothing but the ending's own report reaches the callbacks, apart from a
// completing receiver's last answer (its ACK, or the cancel sequence when
// the close failed).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "transfer/xmodem.h"

namespace {

constexpr uint8_t kEscape = 0xF5;

struct FuzzHost {
  XmodemState st;
  uint32_t now = 0;
  size_t file_size = 0, read_pos = 0, read_chunk = 1;
  int store_fails = 0;
  int close_fails = 0;
  int writes_left = -1;  // negative: writes never fail
  size_t stored = 0;
  int closes = 0, after_close = 0, writes_after_close = 0, reports_after_close = 0;
  bool started = false;
};

FuzzHost& host(void* c) {
  return *static_cast<FuzzHost*>(c);
}
void touched(FuzzHost& h) {
  if (h.closes > 0) h.after_close++;
}

int cb_write(void* c, const uint8_t* b, size_t n) {
  FuzzHost& h = host(c);
  if (h.closes > 0 && (++h.writes_after_close > 18 || n != 1)) __builtin_trap();
  if (!b || n == 0 || n > kXmFrameMax) __builtin_trap();
  if (h.writes_left == 0) return -1;
  if (h.writes_left > 0) h.writes_left--;
  return 0;
}
int cb_read(void* c, uint8_t* buf, size_t n) {
  FuzzHost& h = host(c);
  touched(h);
  size_t k = h.file_size - h.read_pos;
  if (k > n) k = n;
  if (k > h.read_chunk) k = h.read_chunk;
  for (size_t i = 0; i < k; i++) buf[i] = static_cast<uint8_t>((h.read_pos + i) * 31);
  h.read_pos += k;
  return static_cast<int>(k);
}
int cb_store(void* c, const uint8_t* d, size_t n) {
  FuzzHost& h = host(c);
  touched(h);
  if (!d || (n != 128 && n != 1024)) __builtin_trap();
  if (h.store_fails) return -1;
  h.stored += n;
  return 0;
}
int cb_close(void* c) {
  FuzzHost& h = host(c);
  touched(h);
  h.closes++;
  return h.close_fails ? -1 : 0;
}
uint32_t cb_size(void* c) {
  return static_cast<uint32_t>(host(c).file_size);
}
uint32_t cb_now(void* c) {
  FuzzHost& h = host(c);
  touched(h);
  return h.now;
}
void cb_status(void* c, int kind, const char* text, uint32_t, uint32_t, uint32_t, uint32_t,
               uint32_t, const char* name) {
  FuzzHost& h = host(c);
  if (h.closes > 0) h.reports_after_close++;
  if (kind < XM_REPORT_STARTED || kind > XM_REPORT_FAILED || !text || !name) __builtin_trap();
  if (strlen(text) >= sizeof h.st.status_text || strlen(name) >= sizeof h.st.file_name) {
    __builtin_trap();
  }
}

void check(const FuzzHost& h) {
  const XmodemState& s = h.st;
  if (s.frame_count < 0 || s.frame_count > kXmFrameMax) __builtin_trap();
  if (s.frame_len < 0 || s.frame_len > kXmFrameMax) __builtin_trap();
  if (s.state < XM_IDLE || s.state > XM_SEND_EOT) __builtin_trap();
  if (s.active && s.mode == 1 && s.state != XM_RECV_WAIT && s.state != XM_RECV_BLOCK) {
    __builtin_trap();
  }
  if (s.active && s.mode == 2 && s.state < XM_SEND_START) __builtin_trap();
  if (s.mode == 1 && s.bytes_done != h.stored) __builtin_trap();
  if (s.mode == 2 && s.bytes_total > 0 && s.bytes_done > s.bytes_total) __builtin_trap();
  if (s.send_frame_len < 0 || s.send_frame_len > kXmFrameMax) __builtin_trap();
  if (h.closes > 1 || h.after_close > 0 || h.reports_after_close > 1) __builtin_trap();
  if (h.started && !s.active && h.closes != 1) __builtin_trap();
  if (s.active && h.closes != 0) __builtin_trap();
  if (memchr(s.status_text, 0, sizeof s.status_text) == nullptr) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  static FuzzHost h;  // large state: keep it off the stack
  h = FuzzHost{};
  XmodemCallbacks cb{&h, cb_write, cb_read, cb_store, cb_close, cb_size, cb_now, cb_status};
  xmodem_init(&h.st, &cb);
  uint8_t scene = data[0];
  bool receiving = (scene & 1) == 0;
  h.store_fails = (scene >> 4) & 1;
  h.read_chunk = 1u + ((scene >> 5) & 7) * 150;
  h.writes_left = data[1] == 0 ? -1 : data[1];
  h.file_size = static_cast<size_t>(data[2]) << 8 | data[3];
  h.close_fails = receiving && (data[2] & 0x80);
  if (receiving) {
    xmodem_start_receive(&h.st, "fuzz.bin", (scene >> 1) & 3);
  } else {
    xmodem_start_send(&h.st, "fuzz.bin", static_cast<uint32_t>(h.file_size));
    h.st.preferred_block = (scene & 8) ? 1024 : 128;
  }
  h.started = true;
  check(h);
  for (size_t i = 4; i < size; i++) {
    uint8_t b = data[i];
    if (b == kEscape && i + 1 < size) {
      uint8_t n = data[++i];
      if (n == 0xFE || n == 0xFF) {
        if (n == 0xFE) {
          xmodem_abort(&h.st, nullptr);
        } else {
          xmodem_cancel(&h.st, nullptr);
        }
        check(h);
        continue;
      }
      if (n != 0) {
        h.now += n * 20u;
        xmodem_pump(&h.st);
        check(h);
        continue;
      }
    }
    xmodem_consume(&h.st, b);
    check(h);
  }
  // Time alone ends a sender, and a receiver once a block went through.
  for (int i = 0; i < 40 && h.st.active; i++) {
    h.now += 1000;
    xmodem_pump(&h.st);
    check(h);
  }
  if (h.st.active && (h.st.mode == 2 || h.st.blocks_done > 0)) __builtin_trap();
  return 0;
}
