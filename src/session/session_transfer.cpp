// The session's side of file transfers (see session_transfer.h).
#include "session/session_transfer.h"

#include <cstring>
#include <string>

#include "display/renderer.h"
#include "phonebook/prefs.h"
#include "platform/clock.h"
#include "session/capture.h"
#include "session/session.h"
#include "terminal/petscii.h"
#include "terminal/terminal.h"
#include "transfer/transfer_menus.h"
#include "transfer/xmodem_protocol.h"
#include "transfer/zmodem_protocol.h"

namespace {

Session* session_of(void* ctx) {
  return static_cast<Session*>(ctx);
}

bool any_transfer(const Session* s) {
  return session_transfer_active(s);
}

void restore_terminal(Terminal* t) {
  if (!t) return;
  if (t->window && !t->drawing_suppressed) term_redraw_all(t);
  term_show_cursor(t);
}

// --- the host record ---------------------------------------------------------------

int host_send(void* ctx, const uint8_t* bytes, size_t len, uint32_t stall_ms) {
  Session* s = session_of(ctx);
  if (stall_ms == 0) return session_send(s, bytes, len);
  if (!link_is_open(&s->link)) return -1;
  return session_send(s, bytes, len, stall_ms);
}

uint32_t host_now(void*) {
  return clock_ms();
}

Terminal* host_terminal(void* ctx) {
  return session_of(ctx)->terminal;
}

int host_pick_uploads(void* ctx, std::vector<std::string>* paths, std::string* missing) {
  return session_pick_upload_paths(session_of(ctx), paths, missing);
}

int host_busy(void* ctx) {
  return any_transfer(session_of(ctx)) ? 1 : 0;
}

void host_release_detect(void* ctx) {
  session_transfer_flush_detect(session_of(ctx), 1);
}

void host_quiet(void* ctx, uint32_t ms) {
  Session* s = session_of(ctx);
  if (ms == 0) {
    s->discard_until_ms = 0;
    return;
  }
  uint32_t until = clock_ms() + ms;
  s->discard_until_ms = until ? until : 1;  // 0 means none
}

void host_hold_box(void* ctx, const TransferProtocol* p) {
  Session* s = session_of(ctx);
  if (p) {
    session_hold_box(s, p);
  } else {
    s->transfer_box_until_ms = 0;
  }
}

void host_hold_note(void* ctx, const char* text) {
  session_hold_box(session_of(ctx), nullptr, text);
}

int host_box_held(void* ctx) {
  return session_of(ctx)->transfer_box_until_ms != 0 ? 1 : 0;
}

// --- the held box ------------------------------------------------------------------

// The held box again, over a terminal that text has been drawn on.
void redraw_held_box(Session* s) {
  Terminal* t = s->terminal;
  if (!term_can_draw(t)) return;
  term_redraw_all(t);
  const TransferProtocol& p = s->transfer_box_protocol;
  if (p.ops) {
    p.ops->draw_box(p.ctx);
  } else if (s->transfer_box_note[0]) {
    term_draw_transfer_note(t, s->transfer_box_note);
  }
}

void emit_to_terminal(void* to, uint8_t byte) {
  session_terminal_byte(static_cast<Session*>(to), byte);
}

// The rows of every protocol in table order, for a chooser: the labels and
// which protocol and row each is.
struct ChooserRows {
  const char* labels[Session::kProtocolCap * 4];
  int protocol[Session::kProtocolCap * 4];
  int row[Session::kProtocolCap * 4];
  int count = 0;
};

void chooser_rows(const Session* s, ChooserRows* out) {
  for (int i = 0; i < s->protocol_count; ++i) {
    const TransferProtocolOps* ops = s->protocols[i].ops;
    if (!ops) continue;
    for (int r = 0; r < ops->row_count && out->count < Session::kProtocolCap * 4; ++r) {
      out->labels[out->count] = ops->rows[r];
      out->protocol[out->count] = i;
      out->row[out->count] = r;
      ++out->count;
    }
  }
}

// A chooser titled for direction over the table's rows; the chosen row's
// protocol starts.
int open_chooser(Session* s, int direction) {
  if (!s->terminal) return -1;
  // A transfer running is no moment to start another: starting one would
  // end it half-done.
  if (any_transfer(s)) return 0;
  ChooserRows rows;
  chooser_rows(s, &rows);
  int choice = term_choose_transfer_protocol_rows(
      s->terminal, direction == kTransferUpload ? "Upload" : "Download", rows.labels, rows.count);
  if (choice < 0 || choice >= rows.count) return 0;
  const TransferProtocol& p = s->protocols[rows.protocol[choice]];
  return p.ops->start(p.ctx, direction, rows.row[choice]);
}

}  // namespace

void session_terminal_byte(Session* s, uint8_t byte) {
  if (!s->terminal) return;
  // What the board sent after Telnet; a transfer's bytes never reach here.
  capture_byte(s, byte);
  if (s->petscii) {
    petscii_consume_byte(s->terminal, byte);
  } else {
    term_consume_byte(s->terminal, byte);
  }
}

void session_transfer_flush_detect(Session* s, int force) {
  if (session_transfer_active(s)) return;
  for (int i = 0; i < s->protocol_count; ++i) {
    const TransferProtocol& p = s->protocols[i];
    if (p.ops && p.ops->flush_detect) p.ops->flush_detect(p.ctx, force, emit_to_terminal, s);
  }
}

void session_transfer_detect_or_show(Session* s, uint8_t byte) {
  for (int i = 0; i < s->protocol_count; ++i) {
    const TransferProtocol& p = s->protocols[i];
    if (!p.ops || !p.ops->detect) continue;
    if (p.ops->detect(p.ctx, byte, emit_to_terminal, s) != TRANSFER_PASS) return;
  }
  session_terminal_byte(s, byte);
}

bool session_transfer_holds_keys(const Session* s) {
  const TransferProtocol* p = session_active_protocol(s);
  return p && p->ops->holds_keys;
}

bool session_transfer_in_front(const Session* s) {
  return transfer_protocol_in_front(session_active_protocol(s));
}

int session_transfer_event(Session* s, const PlatEvent& ev) {
  const TransferProtocol* p = session_active_protocol(s);
  if (!transfer_protocol_in_front(p)) return 0;
  if (p->ops->event) p->ops->event(p->ctx, ev);
  return 1;
}

void session_transfer_init(Session* s) {
  TransferHost& h = s->transfer_host;
  h = TransferHost{};
  h.ctx = s;
  h.send = host_send;
  h.now_ms = host_now;
  h.terminal = host_terminal;
  // The preferences' texts themselves: a change in the settings form holds
  // for the next transfer.
  h.download_path = g_download_path;
  h.upload_path = g_upload_path;
  h.question = &s->exists_prompt;
  h.pick_uploads = host_pick_uploads;
  h.busy = host_busy;
  h.release_detect = host_release_detect;
  h.quiet = host_quiet;
  h.hold_box = host_hold_box;
  h.hold_note = host_hold_note;
  h.box_held = host_box_held;
  zmodem_protocol_init(&s->zm, &s->transfer_host);
  xmodem_protocol_init(&s->xm, &s->transfer_host);

  // The choosers list the rows in this order.
  s->protocol_count = 0;
  s->protocols[s->protocol_count++] = xmodem_protocol(&s->xm);
  s->protocols[s->protocol_count++] = zmodem_protocol(&s->zm);
  s->protocols[s->protocol_count++] = ymodem_protocol(&s->xm);
}

int session_transfer_poll(Session* s) {
  if (s->transfer_box_until_ms != 0) {
    uint64_t rx = s->bytes_received;
    if (any_transfer(s)) {
      // A new transfer's box takes the place of the old one (or the note).
      s->transfer_box_until_ms = 0;
      if (term_can_draw(s->terminal)) term_redraw_all(s->terminal);
      session_transfer_redraw_status(s);
    } else if (static_cast<int32_t>(clock_ms() - s->transfer_box_until_ms) >= 0) {
      s->transfer_box_until_ms = 0;
      restore_terminal(s->terminal);
    } else if (rx != s->transfer_box_rx) {
      s->transfer_box_rx = rx;
      redraw_held_box(s);
    }
  }
  session_transfer_flush_detect(s, 0);
  const TransferProtocol* p = session_active_protocol(s);
  return p ? p->ops->poll(p->ctx, clock_ms()) : 0;
}

bool session_transfer_streaming(const Session* s) {
  const TransferProtocol* p = session_active_protocol(s);
  return p && p->ops->streaming(p->ctx);
}

void session_transfer_escape(Session* s) {
  const TransferProtocol* p = session_active_protocol(s);
  if (p) p->ops->cancel(p->ctx);
}

void session_transfer_end(Session* s, int closed_by_peer) {
  for (int i = 0; i < s->protocol_count; ++i) {
    const TransferProtocol& p = s->protocols[i];
    if (p.ops) p.ops->end(p.ctx, closed_by_peer);
  }
}

void session_transfer_redraw_status(Session* s) {
  const TransferProtocol* p = session_active_protocol(s);
  if (p) p->ops->draw_status(p->ctx);
}

int session_open_download_menu(Session* s) {
  return open_chooser(s, kTransferDownload);
}

int session_open_upload_menu(Session* s) {
  return open_chooser(s, kTransferUpload);
}

int session_pick_upload_paths(Session* s, std::vector<std::string>* paths, std::string* missing) {
  if (any_transfer(s)) return 0;
  std::vector<std::string> names;
  if (!term_select_upload_files(s->terminal, &names)) return 0;
  if (any_transfer(s)) return 0;
  return transfer_upload_paths(names, paths, missing) == 0 ? 1 : -1;
}
