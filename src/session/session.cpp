#include "session/session.h"

#include <cstring>

#include "session/session_transfer.h"
#include "terminal/active_font.h"

namespace {

// Telnet drops NUL as padding; inside a transfer it is data, and the glyphs
// of a font a board uploads hold NULs that the terminal must count.
int nul_is_data(void* ctx) {
  auto* s = static_cast<Session*>(ctx);
  return session_transfer_active(s) || term_takes_nul(s->terminal) ? 1 : 0;
}

}  // namespace

void session_init(Session* s) {
  // The engines' records are plain data: the whole record starts as zeros,
  // then the link and its Telnet layer get their own empty state.
  memset(static_cast<void*>(s), 0, sizeof *s);
  s->link = Link{};
  session_attach_link(s, &s->link);
  session_transfer_init(s);
}

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
  return s->link.ops->read(&s->link, buf, cap);
}

void session_close_link(Session* s) {
  link_close(&s->link);
}
