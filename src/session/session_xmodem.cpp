// XMODEM in a session (see session_xmodem.h).
#include "session/session_xmodem.h"

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "display/renderer.h"
#include "link/telnet.h"
#include "phonebook/prefs.h"
#include "platform/clock.h"
#include "platform/display.h"
#include "session/session.h"
#include "session/session_transfer.h"
#include "terminal/terminal.h"
#include "transfer/transfer_menus.h"
#include "transfer/xmodem.h"
#include "transfer/xmodem_kavel.h"
#include "transfer/ymodem_kavel.h"

namespace {

constexpr size_t kSendPiece = 4096;

// Clock readings the engine gets from one reading of the clock (see
// Session::xmodem_clock_left).
constexpr int32_t kClockReuse = 63;

Session* session_of(void* host) {
  return static_cast<Session*>(host);
}

bool succeeded(const Session* s) {
  return strstr(s->xmodem.status_text, "complete") != nullptr;
}

// YMODEM's adapter lives only while it has a transfer (or its box) to
// keep: 64 KiB of file buffer is no price for every session to pay.
void ymodem_release(Session* s) {
  if (!s->ymodem_host) return;
  ymodem_kavel_close(s->ymodem_host);
  delete s->ymodem_host;
  s->ymodem_host = nullptr;
}

void ymodem_draw_status_cb(void* host) {
  Session* s = session_of(host);
  if (s && s->ymodem_host) ymodem_draw_status(s->terminal, s->ymodem_host);
}

// The adapter, made fresh for a new transfer; null without memory.
YmodemHostContext* ymodem_fresh(Session* s) {
  if (!s->ymodem_host) s->ymodem_host = new (std::nothrow) YmodemHostContext();
  if (!s->ymodem_host) return nullptr;
  ymodem_kavel_close(s->ymodem_host);
  YmodemHostTable table{s, xmodem_kavel_send_cb, xmodem_kavel_now_cb,
                        xmodem_prompt_receive_exists_cb, ymodem_draw_status_cb};
  ymodem_kavel_init(s->ymodem_host, &table);
  return s->ymodem_host;
}

// The file of whichever adapter drives the engine.
void close_files(Session* s) {
  xmodem_kavel_close(&s->xmodem_host);
  if (s->ymodem_host) ymodem_kavel_close(s->ymodem_host);
}

TransferBoxCache* box_cache(Session* s) {
  return s->ymodem_host ? &s->ymodem_host->status : &s->xmodem_host.status;
}

int32_t last_kind(const Session* s) {
  return s->ymodem_host ? s->ymodem_host->last_kind : s->xmodem_host.last_kind;
}

void restore_terminal(Terminal* t) {
  if (!t) return;
  if (t->window && !t->drawing_suppressed) term_redraw_all(t);
  term_show_cursor(t);
}

// After an engine call: a failed one that left the engine running (a send
// failed) ends it too, so that no later byte reaches a closed file; then
// the transfer's own ending.
void after_engine_call(Session* s, int rc) {
  if (rc != 0 && s->xmodem.active) xmodem_abort(&s->xmodem, "XMODEM failed");
  if (s->xmodem.active) return;
  if (rc == 0 && succeeded(s)) {
    xmodem_leave_success(s);
  } else {
    xmodem_enter_binary_quiet(s);
  }
}

// The engine, freshly bound to the adapter, and the box's memory cleared.
void prepare_engine(Session* s, int mode) {
  ymodem_release(s);
  s->xmodem_clock_left = 0;
  XmodemCallbacks cb;
  xmodem_kavel_callbacks(&s->xmodem_host, &cb);
  xmodem_init(&s->xmodem, &cb);
  xmodem_kavel_reset_status(&s->xmodem_host);
  s->xmodem_host.mode = mode;
  s->transfer_box_until_ms = 0;  // a failed transfer's box gives way to the new one
  term_hide_cursor(s->terminal);
}

// What YMODEM's adapter does not do itself as it starts the engine.
void prepare_ymodem(Session* s) {
  s->xmodem_clock_left = 0;
  s->transfer_box_until_ms = 0;
  term_hide_cursor(s->terminal);
}

void show_box(Session* s) {
  xmodem_clear_terminal_overlay(s);
  session_xmodem_draw_box(s);
}

// The protocol whose box is up: YMODEM's while its adapter drives the engine.
TransferProtocol box_owner(Session* s) {
  return s->ymodem_host ? session_ymodem_protocol(s) : session_xmodem_protocol(s);
}

// YMODEM and YMODEM-G send alike: the receiver chooses which by what it
// asks for.  A file that cannot be sent is said in a notice.
int start_ymodem_upload(Session* s) {
  if (!s->terminal) return -1;
  std::vector<std::string> paths;
  std::string missing;
  int picked = session_pick_upload_paths(s, &paths, &missing);
  if (picked == 0) return 0;
  if (picked < 0) {
    std::string why = "Upload file not found: " + missing;
    term_show_transfer_notice(s->terminal, why.c_str());
    return 0;
  }
  std::vector<const char*> list;
  for (const std::string& p : paths) list.push_back(p.c_str());
  int rc = session_ymodem_start_send(s, list.data(), static_cast<int>(list.size()));
  if (rc == -1 && session_ymodem_text(s)[0])
    term_show_transfer_notice(s->terminal, session_ymodem_text(s));
  return rc == kXmodemStartFailed ? -1 : 0;
}

// What became of a download's file once it is open, or the user declined
// it: the engine starts and the box goes up, or the terminal comes back.
int receive_opened(Session* s, int opened) {
  XmodemHostContext* ctx = &s->xmodem_host;
  if (opened != 0) {
    if (opened == -2) restore_terminal(s->terminal);
    return opened;
  }
  prepare_engine(s, 1);
  if (xmodem_start_receive(&s->xmodem, ctx->file_name, 2) != 0) {
    xmodem_kavel_close(ctx);
    return kXmodemStartFailed;
  }
  show_box(s);
  return 0;
}

// The file-exists question is up: XMODEM's before its download starts, or
// YMODEM's at a file's block 0 (the engine waits).  The protocol is in
// front meanwhile.
bool asking(const Session* s) {
  return s->xmodem_host.asking || s->xmodem.asking;
}

// The prompt comes down and the answer goes where the question came from,
// which goes on as it would have had the question returned it.
void answer_exists(Session* s, int answer) {
  term_exists_prompt_close(&s->exists_prompt);
  if (s->xmodem_host.asking) {
    // The engine has not started yet: nothing the loop could end the
    // session for (it starts on any state).
    receive_opened(s, xmodem_kavel_answer_exists(&s->xmodem_host, answer));
    return;
  }
  if (!s->xmodem.asking || !s->ymodem_host) return;
  int rc = ymodem_kavel_answer_exists(s->ymodem_host, answer);
  if (rc == 0 && s->xmodem.active) return;
  after_engine_call(s, rc);
}

// --- XMODEM and YMODEM behind the transfer seam ----------------------------
// Both drive the one engine; which of them runs is told by YMODEM's adapter.

bool any_transfer(const Session* s) {
  return session_transfer_active(s);
}

int xm_op_start(void* ctx, int direction, int) {
  Session* s = session_of(ctx);
  if (direction == kTransferUpload) {
    if (!s->terminal) return -1;
    if (any_transfer(s)) return 0;
    char name[kTransferNameCap];
    if (!term_select_upload_file(s->terminal, name)) return 0;
    if (any_transfer(s)) return 0;
    return session_xmodem_start_send(s, name) == kXmodemStartFailed ? -1 : 0;
  }
  if (any_transfer(s) || !s->terminal || !s->terminal->window) return 0;
  char name[kXmNameCap];
  if (!term_prompt_filename(s->terminal, name, sizeof name)) return 0;
  // A file that cannot be created, or a declined existing one, starts
  // nothing; only an engine that would not start is a failure.
  return session_xmodem_start_receive(s, name) == kXmodemStartFailed ? -1 : 0;
}

int ym_op_start(void* ctx, int direction, int row) {
  Session* s = session_of(ctx);
  if (direction == kTransferUpload) return start_ymodem_upload(s);
  // Block 0 names each file: nothing to ask.
  if (any_transfer(s) || !s->terminal || !s->terminal->window) return 0;
  return session_ymodem_start_receive(s, row == 1) == kXmodemStartFailed ? -1 : 0;
}

size_t xm_op_consume(void* ctx, const uint8_t* bytes, size_t len) {
  Session* s = session_of(ctx);
  // Before XMODEM's download starts the question is all there is: what
  // arrives meanwhile is dropped.  (YMODEM's engine drops it itself.)
  if (s->xmodem_host.asking) return len;
  size_t i = 0;
  while (i < len && s->xmodem.active) session_xmodem_consume(s, bytes[i++]);
  return i;
}

int xm_op_poll(void* ctx, uint32_t) {
  Session* s = session_of(ctx);
  if (asking(s)) {
    // The question's own time: unanswered for 5 s, the file is renamed.
    int answer = term_exists_prompt_poll(&s->exists_prompt);
    if (answer >= 0) answer_exists(s, answer);
    return 0;
  }
  return xmodem_pump_session(s);
}

// While the question is up the window is the prompt's.
int xm_op_in_front(const void* ctx) {
  return asking(static_cast<const Session*>(ctx)) ? 1 : 0;
}

void xm_op_event(void* ctx, const PlatEvent& ev) {
  Session* s = session_of(ctx);
  if (!asking(s)) return;
  int answer = term_exists_prompt_event(&s->exists_prompt, ev);
  if (answer >= 0) answer_exists(s, answer);
}

void xm_op_cancel(void* ctx) {
  session_xmodem_escape(session_of(ctx));
}

void xm_op_end(void* ctx, int closed_by_peer) {
  session_xmodem_end(session_of(ctx), closed_by_peer);
}

void ym_op_end(void* ctx, int closed_by_peer) {
  Session* s = session_of(ctx);
  if (s->ymodem_host) session_xmodem_end(s, closed_by_peer);
}

void xm_op_draw_status(void* ctx) {
  Session* s = session_of(ctx);
  if (asking(s)) {
    term_exists_prompt_draw(&s->exists_prompt);
    return;
  }
  session_xmodem_redraw_status(s);
}

void xm_op_draw_box(void* ctx) {
  session_xmodem_draw_box(session_of(ctx));
}

// XMODEM's question comes before its engine runs, and it is XMODEM's
// meanwhile: the bytes, the keys and the time go to it.
int xm_op_active(const void* ctx) {
  const Session* s = static_cast<const Session*>(ctx);
  return s->xmodem_host.asking || (s->xmodem.active && !s->ymodem_host);
}

int ym_op_active(const void* ctx) {
  const Session* s = static_cast<const Session*>(ctx);
  return s->xmodem.active && s->ymodem_host;
}

int xm_op_streaming(const void*) {
  return 0;  // block by block: the replies pace it
}

constexpr const char* kXmodemRows[] = {"X-Modem"};
constexpr const char* kYmodemRows[] = {"Y-Modem", "Y-Modem-G"};
// While the engine runs the keyboard is its own: only Escape acts.
constexpr TransferProtocolOps kXmodemOps = {
    "XMODEM",
    kXmodemRows,
    1,
    1,
    xm_op_start,
    xm_op_consume,
    xm_op_poll,
    xm_op_cancel,
    xm_op_end,
    xm_op_draw_status,
    xm_op_draw_box,
    xm_op_active,
    xm_op_streaming,
    xm_op_in_front,
    xm_op_event,
    nullptr,
    nullptr,
};
constexpr TransferProtocolOps kYmodemOps = {
    "YMODEM",
    kYmodemRows,
    2,
    1,
    ym_op_start,
    xm_op_consume,
    xm_op_poll,
    xm_op_cancel,
    ym_op_end,
    xm_op_draw_status,
    xm_op_draw_box,
    ym_op_active,
    xm_op_streaming,
    xm_op_in_front,
    xm_op_event,
    nullptr,
    nullptr,
};

}  // namespace

TransferProtocol session_xmodem_protocol(Session* s) {
  return TransferProtocol{&kXmodemOps, s};
}

TransferProtocol session_ymodem_protocol(Session* s) {
  return TransferProtocol{&kYmodemOps, s};
}

void session_xmodem_init(Session* s) {
  xmodem_kavel_init(&s->xmodem_host, g_download_path, g_upload_path, kDefaultTransferPath,
                    kDefaultTransferPath, s, xmodem_kavel_send_cb, xmodem_prompt_receive_exists_cb,
                    xmodem_kavel_draw_status_cb, xmodem_kavel_now_cb);
}

int xmodem_kavel_send_cb(void* host, const uint8_t* bytes, size_t count) {
  Session* s = session_of(host);
  if (!s || !bytes) return -1;
  while (count > 0) {
    size_t piece = count < kSendPiece ? count : kSendPiece;
    if (session_send(s, bytes, piece) != 0) return -1;
    bytes += piece;
    count -= piece;
  }
  return 0;
}

uint32_t xmodem_kavel_now_cb(void* host) {
  Session* s = session_of(host);
  if (!s) return clock_ms();
  if (s->xmodem_clock_left > 0) {
    s->xmodem_clock_left--;
    return s->xmodem_clock_ms;
  }
  s->xmodem_clock_ms = clock_ms();
  s->xmodem_clock_left = kClockReuse;
  return s->xmodem_clock_ms;
}

void xmodem_kavel_draw_status_cb(void* host) {
  Session* s = session_of(host);
  if (s) xmodem_draw_status(s->terminal, &s->xmodem, &s->xmodem_host);
}

int xmodem_prompt_receive_exists_cb(void* host, const char* name) {
  Session* s = session_of(host);
  if (!s) return XM_EXISTS_SKIP;
  int answer = term_exists_prompt_open(&s->exists_prompt, s->terminal, name, 0, 0);
  return answer < 0 ? kTransferExistsAsked : answer;
}

int session_xmodem_start_receive(Session* s, const char* name) {
  session_transfer_flush_detect(s, 1);
  XmodemHostContext* ctx = &s->xmodem_host;
  xmodem_kavel_close(ctx);
  int opened = xmodem_kavel_open_receive(ctx, name);
  // The question is up: the rest follows its answer.
  if (opened == kXmOpenAsked) return 0;
  return receive_opened(s, opened);
}

int session_xmodem_start_send(Session* s, const char* name) {
  session_transfer_flush_detect(s, 1);
  XmodemHostContext* ctx = &s->xmodem_host;
  xmodem_kavel_close(ctx);
  uint32_t size = 0;
  if (xmodem_kavel_open_send(ctx, name, &size) != 0) return -1;
  prepare_engine(s, 2);
  if (xmodem_start_send(&s->xmodem, ctx->file_name, size) != 0) {
    xmodem_kavel_close(ctx);
    return kXmodemStartFailed;
  }
  show_box(s);
  return 0;
}

int session_ymodem_start_receive(Session* s, int streaming) {
  session_transfer_flush_detect(s, 1);
  xmodem_kavel_close(&s->xmodem_host);
  YmodemHostContext* ctx = ymodem_fresh(s);
  if (!ctx) return -1;
  prepare_ymodem(s);
  // The directory ZMODEM saves into, made the same way.
  if (ymodem_kavel_start_receive(ctx, &s->xmodem, session_download_dir(), streaming) != 0) {
    ymodem_release(s);
    return kXmodemStartFailed;
  }
  show_box(s);
  return 0;
}

int session_ymodem_start_send(Session* s, const char* const* paths, int count) {
  session_transfer_flush_detect(s, 1);
  xmodem_kavel_close(&s->xmodem_host);
  YmodemHostContext* ctx = ymodem_fresh(s);
  if (!ctx) return -1;
  if (ymodem_kavel_start_send(ctx, &s->xmodem, paths, count) != 0) return -1;
  prepare_ymodem(s);
  show_box(s);
  return 0;
}

const char* session_ymodem_text(const Session* s) {
  return s->ymodem_host ? s->ymodem_host->status_text : "";
}

void session_xmodem_draw_box(Session* s) {
  if (!s->terminal) return;
  box_cache(s)->drawn = 0;
  if (s->ymodem_host) {
    ymodem_draw_status(s->terminal, s->ymodem_host);
  } else {
    xmodem_draw_status(s->terminal, &s->xmodem, &s->xmodem_host);
  }
}

void session_xmodem_consume(Session* s, uint8_t byte) {
  int rc = xmodem_consume(&s->xmodem, byte);
  if (rc == 0 && s->xmodem.active) return;
  after_engine_call(s, rc);
}

int xmodem_pump_session(Session* s) {
  if (!s->xmodem.active) return 0;
  s->xmodem_clock_left = 0;  // time-outs are judged on a fresh reading
  int rc = xmodem_pump(&s->xmodem);
  if (rc != 0 && succeeded(s) && s->xmodem.active) return rc;
  if (rc == 0 && s->xmodem.active) return 0;
  after_engine_call(s, rc);
  return 0;
}

void xmodem_leave_success(Session* s) {
  s->discard_until_ms = 0;
  close_files(s);
  if (!s->xmodem.active && box_cache(s)->drawn && term_can_draw(s->terminal)) {
    // The box now says what was saved or sent: it stays up a moment to be
    // read, and the session's transfer poll redraws the terminal afterwards.
    session_transfer_hold_protocol_box(s, box_owner(s));
    return;
  }
  restore_terminal(s->terminal);
}

void xmodem_enter_binary_quiet(Session* s) {
  uint32_t until = clock_ms() + kXmodemQuietMs;
  s->discard_until_ms = until ? until : 1;  // 0 means none
  close_files(s);
  bool reason_shown = !s->xmodem.active && last_kind(s) == XM_REPORT_FAILED &&
                      box_cache(s)->drawn && term_can_draw(s->terminal);
  if (reason_shown) {
    // The box now gives the reason: it stays up a moment to be read, and the
    // session's transfer poll redraws the terminal afterwards.
    session_transfer_hold_protocol_box(s, box_owner(s));
    term_show_cursor(s->terminal);
    return;
  }
  restore_terminal(s->terminal);
}

void xmodem_clear_terminal_overlay(Session* s) {
  Terminal* t = s->terminal;
  if (!t || !t->window) return;
  PlatWindowGeometry g = plat_window_geometry(t->window);
  if (t->fullscreen) {
    term_fill_rect(t, 0, 0, g.width - 1, g.height - 1, 0);
  } else {
    term_fill_rect(t, g.border_left, g.border_top, g.width - g.border_right - 1,
                   g.height - g.border_bottom - 1, 0);
  }
  if (!t->drawing_suppressed) term_redraw_all(t);
}

void session_xmodem_escape(Session* s) {
  if (asking(s)) {
    answer_exists(s, kExistsSkip);  // Escape on the prompt
    return;
  }
  if (!s->xmodem.active) return;
  xmodem_cancel(&s->xmodem, s->ymodem_host ? "YMODEM canceled" : "XMODEM canceled");
  xmodem_enter_binary_quiet(s);
}

void session_xmodem_end(Session* s, int closed_by_peer) {
  // A question still up is answered as a closed prompt is: skip.
  if (asking(s)) answer_exists(s, kExistsSkip);
  if (s->xmodem.active) {
    const char* why =
        s->ymodem_host ? (closed_by_peer ? "YMODEM interrupted by disconnect" : "YMODEM canceled")
                       : (closed_by_peer ? "XMODEM interrupted by disconnect" : "XMODEM canceled");
    xmodem_cancel(&s->xmodem, why);
  }
  xmodem_kavel_close(&s->xmodem_host);
  ymodem_release(s);
}

void session_xmodem_redraw_status(Session* s) {
  if (!s->xmodem.active || !s->terminal) return;
  session_xmodem_draw_box(s);
}
