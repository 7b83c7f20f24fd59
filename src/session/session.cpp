#include "session/session.h"

#include <cstring>

#include "platform/clock.h"
#include "terminal/active_font.h"
#include "util/text.h"

namespace {

// Telnet drops NUL as padding; inside a transfer it is data, and the glyphs
// of a font a board uploads hold NULs that the terminal must count.
int nul_is_data(void* ctx) {
  auto* s = static_cast<Session*>(ctx);
  return session_transfer_active(s) || term_takes_nul(s->terminal) ? 1 : 0;
}

}  // namespace

void session_attach_link(Session* s, const Link* link) {
  if (link != &s->link) s->link = *link;
  telnet_init(&s->telnet, &s->link);
  s->telnet.petscii = s->petscii;
  s->telnet.cols = s->petscii ? c64_visible_cols_for_font() : 80;
  s->telnet.nul_is_data = nul_is_data;
  s->telnet.nul_ctx = s;
}

int session_send(Session* s, const uint8_t* bytes, size_t len, uint32_t stall_ms) {
  return telnet_send_data(&s->telnet, bytes, len, stall_ms);
}

int session_send_byte(Session* s, uint8_t byte) {
  return telnet_send_byte(&s->telnet, byte);
}

int session_read(Session* s, uint8_t* buf, int cap) {
  if (!link_is_open(&s->link) || !buf || cap <= 0) return -1;
  int n = s->link.ops->read(&s->link, buf, cap);
  if (n > 0) s->bytes_received += static_cast<uint64_t>(n);
  return n;
}

int session_transfer_send(Session* s, const uint8_t* bytes, size_t len) {
  if (!link_is_open(&s->link)) return -1;
  return session_send(s, bytes, len, kTransferSendStallMs);
}

void session_hold_box(Session* s, const TransferProtocol* p, const char* note) {
  uint32_t until = clock_ms() + kTransferBoxShownMs;
  s->transfer_box_until_ms = until ? until : 1;  // 0 means none
  s->transfer_box_protocol = p ? *p : TransferProtocol{};
  safe_copy(s->transfer_box_note, sizeof s->transfer_box_note, note ? note : "");
  s->transfer_box_rx = s->bytes_received;
}

void session_close_link(Session* s) {
  link_close(&s->link);
}
