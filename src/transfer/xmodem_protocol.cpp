// XMODEM and YMODEM behind the transfer seam (see xmodem_protocol.h).
#include "transfer/xmodem_protocol.h"

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "display/renderer.h"
#include "phonebook/prefs.h"
#include "platform/display.h"
#include "terminal/terminal.h"
#include "transfer/transfer_files.h"
#include "transfer/transfer_menus.h"
#include "transfer/xmodem.h"
#include "transfer/xmodem_kavel.h"
#include "transfer/ymodem_kavel.h"

namespace {

constexpr size_t kSendPiece = 4096;

// Clock readings the engine gets from one reading of the clock (see
// XmodemProtocolState::clock_left).
constexpr int32_t kClockReuse = 63;

XmodemProtocolState* xp_of(void* ctx) {
  return static_cast<XmodemProtocolState*>(ctx);
}

Terminal* terminal_of(const XmodemProtocolState* xp) {
  return transfer_host_terminal(xp->host);
}

void hold_box(XmodemProtocolState* xp, const TransferProtocol& p) {
  transfer_host_hold_box(xp->host, &p);
}

// Start-detection bytes of the other protocols go to the terminal before
// this one takes the bytes.
void release_detect(XmodemProtocolState* xp) {
  if (xp->host && xp->host->release_detect) xp->host->release_detect(xp->host->ctx);
}

bool succeeded(const XmodemProtocolState* xp) {
  return strstr(xp->xmodem.status_text, "complete") != nullptr;
}

// YMODEM's adapter lives only while it has a transfer (or its box) to
// keep: 64 KiB of file buffer is no price for every session to pay.
void ymodem_release(XmodemProtocolState* xp) {
  if (!xp->ymodem_host) return;
  ymodem_kavel_close(xp->ymodem_host);
  delete xp->ymodem_host;
  xp->ymodem_host = nullptr;
}

void ymodem_draw_status_cb(void* host) {
  XmodemProtocolState* xp = xp_of(host);
  if (xp && xp->ymodem_host) ymodem_draw_status(terminal_of(xp), xp->ymodem_host);
}

// The adapter, made fresh for a new transfer; null without memory.
YmodemHostContext* ymodem_fresh(XmodemProtocolState* xp) {
  if (!xp->ymodem_host) xp->ymodem_host = new (std::nothrow) YmodemHostContext();
  if (!xp->ymodem_host) return nullptr;
  ymodem_kavel_close(xp->ymodem_host);
  YmodemHostTable table{xp, xmodem_kavel_send_cb, xmodem_kavel_now_cb,
                        xmodem_prompt_receive_exists_cb, ymodem_draw_status_cb};
  ymodem_kavel_init(xp->ymodem_host, &table);
  return xp->ymodem_host;
}

// The file of whichever adapter drives the engine.
void close_files(XmodemProtocolState* xp) {
  xmodem_kavel_close(&xp->xmodem_host);
  if (xp->ymodem_host) ymodem_kavel_close(xp->ymodem_host);
}

TransferBoxCache* box_cache(XmodemProtocolState* xp) {
  return xp->ymodem_host ? &xp->ymodem_host->status : &xp->xmodem_host.status;
}

int32_t last_kind(const XmodemProtocolState* xp) {
  return xp->ymodem_host ? xp->ymodem_host->last_kind : xp->xmodem_host.last_kind;
}

void restore_terminal(Terminal* t) {
  if (!t) return;
  if (t->window && !t->drawing_suppressed) term_redraw_all(t);
  term_show_cursor(t);
}

// After an engine call: a failed one that left the engine running (a send
// failed) ends it too, so that no later byte reaches a closed file; then
// the transfer's own ending.
void after_engine_call(XmodemProtocolState* xp, int rc) {
  if (rc != 0 && xp->xmodem.active) xmodem_abort(&xp->xmodem, "XMODEM failed");
  if (xp->xmodem.active) return;
  if (rc == 0 && succeeded(xp)) {
    xmodem_leave_success(xp);
  } else {
    xmodem_enter_binary_quiet(xp);
  }
}

// The engine, freshly bound to the adapter, and the box's memory cleared.
void prepare_engine(XmodemProtocolState* xp, int mode) {
  ymodem_release(xp);
  xp->clock_left = 0;
  XmodemCallbacks cb;
  xmodem_kavel_callbacks(&xp->xmodem_host, &cb);
  xmodem_init(&xp->xmodem, &cb);
  xmodem_kavel_reset_status(&xp->xmodem_host);
  xp->xmodem_host.mode = mode;
  // A failed transfer's box gives way to the new one.
  transfer_host_hold_box(xp->host, nullptr);
  term_hide_cursor(terminal_of(xp));
}

// What YMODEM's adapter does not do itself as it starts the engine.
void prepare_ymodem(XmodemProtocolState* xp) {
  xp->clock_left = 0;
  transfer_host_hold_box(xp->host, nullptr);
  term_hide_cursor(terminal_of(xp));
}

void show_box(XmodemProtocolState* xp) {
  xmodem_clear_terminal_overlay(xp);
  xmodem_protocol_draw_box(xp);
}

// The protocol whose box is up: YMODEM's while its adapter drives the engine.
TransferProtocol box_owner(XmodemProtocolState* xp) {
  return xp->ymodem_host ? ymodem_protocol(xp) : xmodem_protocol(xp);
}

// YMODEM and YMODEM-G send alike: the receiver chooses which by what it
// asks for.  A file that cannot be sent is said in a notice.
int start_ymodem_upload(XmodemProtocolState* xp) {
  if (!terminal_of(xp)) return -1;
  std::vector<std::string> paths;
  std::string missing;
  int picked = xp->host && xp->host->pick_uploads
                   ? xp->host->pick_uploads(xp->host->ctx, &paths, &missing)
                   : 0;
  if (picked == 0) return 0;
  if (picked < 0) {
    std::string why = "Upload file not found: " + missing;
    term_show_transfer_notice(terminal_of(xp), why.c_str());
    return 0;
  }
  std::vector<const char*> list;
  for (const std::string& p : paths) list.push_back(p.c_str());
  int rc = ymodem_protocol_start_send(xp, list.data(), static_cast<int>(list.size()));
  if (rc == -1 && ymodem_protocol_text(xp)[0])
    term_show_transfer_notice(terminal_of(xp), ymodem_protocol_text(xp));
  return rc == kXmodemStartFailed ? -1 : 0;
}

// What became of a download's file once it is open, or the user declined
// it: the engine starts and the box goes up, or the terminal comes back.
int receive_opened(XmodemProtocolState* xp, int opened) {
  XmodemHostContext* ctx = &xp->xmodem_host;
  if (opened != 0) {
    if (opened == -2) restore_terminal(terminal_of(xp));
    return opened;
  }
  prepare_engine(xp, 1);
  if (xmodem_start_receive(&xp->xmodem, ctx->file_name, 2) != 0) {
    xmodem_kavel_close(ctx);
    return kXmodemStartFailed;
  }
  show_box(xp);
  return 0;
}

// The file-exists question is up: XMODEM's before its download starts, or
// YMODEM's at a file's block 0 (the engine waits).  The protocol is in
// front meanwhile.
bool asking(const XmodemProtocolState* xp) {
  return xp->xmodem_host.asking || xp->xmodem.asking;
}

// The prompt comes down and the answer goes where the question came from,
// which goes on as it would have had the question returned it.
void answer_exists(XmodemProtocolState* xp, int answer) {
  term_exists_prompt_close(xp->host->question);
  if (xp->xmodem_host.asking) {
    // The engine has not started yet: nothing the loop could end the
    // session for (it starts on any state).
    receive_opened(xp, xmodem_kavel_answer_exists(&xp->xmodem_host, answer));
    return;
  }
  if (!xp->xmodem.asking || !xp->ymodem_host) return;
  // The engine's time-outs count from the answer it now sends: it must
  // read the clock afresh, not a reading reused from before the question.
  xp->clock_left = 0;
  int rc = ymodem_kavel_answer_exists(xp->ymodem_host, answer);
  if (rc == 0 && xp->xmodem.active) return;
  after_engine_call(xp, rc);
}

// --- XMODEM and YMODEM behind the transfer seam ----------------------------
// Both drive the one engine; which of them runs is told by YMODEM's adapter.

bool any_transfer(const XmodemProtocolState* xp) {
  return transfer_host_busy(xp->host) != 0;
}

int xm_op_start(void* ctx, int direction, int) {
  XmodemProtocolState* xp = xp_of(ctx);
  if (direction == kTransferUpload) {
    if (!terminal_of(xp)) return -1;
    if (any_transfer(xp)) return 0;
    char name[kTransferNameCap];
    if (!term_select_upload_file(terminal_of(xp), name)) return 0;
    if (any_transfer(xp)) return 0;
    return xmodem_protocol_start_send(xp, name) == kXmodemStartFailed ? -1 : 0;
  }
  if (any_transfer(xp) || !terminal_of(xp) || !terminal_of(xp)->window) return 0;
  char name[kXmNameCap];
  if (!term_prompt_filename(terminal_of(xp), name, sizeof name)) return 0;
  // A file that cannot be created, or a declined existing one, starts
  // nothing; only an engine that would not start is a failure.
  return xmodem_protocol_start_receive(xp, name) == kXmodemStartFailed ? -1 : 0;
}

int ym_op_start(void* ctx, int direction, int row) {
  XmodemProtocolState* xp = xp_of(ctx);
  if (direction == kTransferUpload) return start_ymodem_upload(xp);
  // Block 0 names each file: nothing to ask.
  if (any_transfer(xp) || !terminal_of(xp) || !terminal_of(xp)->window) return 0;
  return ymodem_protocol_start_receive(xp, row == 1) == kXmodemStartFailed ? -1 : 0;
}

size_t xm_op_consume(void* ctx, const uint8_t* bytes, size_t len) {
  XmodemProtocolState* xp = xp_of(ctx);
  // Before XMODEM's download starts the question is all there is: what
  // arrives meanwhile is dropped.  (YMODEM's engine drops it itself.)
  if (xp->xmodem_host.asking) return len;
  size_t i = 0;
  while (i < len && xp->xmodem.active) xmodem_protocol_consume(xp, bytes[i++]);
  return i;
}

int xm_op_poll(void* ctx, uint32_t) {
  XmodemProtocolState* xp = xp_of(ctx);
  if (asking(xp)) {
    // The question's own time: unanswered for 5 s, the file is renamed.
    int answer = term_exists_prompt_poll(xp->host->question);
    if (answer >= 0) answer_exists(xp, answer);
    return 0;
  }
  return xmodem_protocol_pump(xp);
}

// While the question is up the window is the prompt's.
int xm_op_in_front(const void* ctx) {
  return asking(static_cast<const XmodemProtocolState*>(ctx)) ? 1 : 0;
}

void xm_op_event(void* ctx, const PlatEvent& ev) {
  XmodemProtocolState* xp = xp_of(ctx);
  if (!asking(xp)) return;
  int answer = term_exists_prompt_event(xp->host->question, ev);
  if (answer >= 0) answer_exists(xp, answer);
}

void xm_op_cancel(void* ctx) {
  xmodem_protocol_escape(xp_of(ctx));
}

void xm_op_end(void* ctx, int closed_by_peer) {
  xmodem_protocol_end(xp_of(ctx), closed_by_peer);
}

void ym_op_end(void* ctx, int closed_by_peer) {
  XmodemProtocolState* xp = xp_of(ctx);
  if (xp->ymodem_host) xmodem_protocol_end(xp, closed_by_peer);
}

void xm_op_draw_status(void* ctx) {
  XmodemProtocolState* xp = xp_of(ctx);
  if (asking(xp)) {
    term_exists_prompt_draw(xp->host->question);
    return;
  }
  xmodem_protocol_redraw_status(xp);
}

void xm_op_draw_box(void* ctx) {
  xmodem_protocol_draw_box(xp_of(ctx));
}

// XMODEM's question comes before its engine runs, and it is XMODEM's
// meanwhile: the bytes, the keys and the time go to it.
int xm_op_active(const void* ctx) {
  const XmodemProtocolState* xp = static_cast<const XmodemProtocolState*>(ctx);
  return xp->xmodem_host.asking || (xp->xmodem.active && !xp->ymodem_host);
}

int ym_op_active(const void* ctx) {
  const XmodemProtocolState* xp = static_cast<const XmodemProtocolState*>(ctx);
  return xp->xmodem.active && xp->ymodem_host;
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

TransferProtocol xmodem_protocol(XmodemProtocolState* xp) {
  return TransferProtocol{&kXmodemOps, xp};
}

TransferProtocol ymodem_protocol(XmodemProtocolState* xp) {
  return TransferProtocol{&kYmodemOps, xp};
}

void xmodem_protocol_init(XmodemProtocolState* xp, const TransferHost* host) {
  xp->host = host;
  xmodem_kavel_init(&xp->xmodem_host, host ? host->download_path : "",
                    host ? host->upload_path : "", kDefaultTransferPath, kDefaultTransferPath, xp,
                    xmodem_kavel_send_cb, xmodem_prompt_receive_exists_cb,
                    xmodem_kavel_draw_status_cb, xmodem_kavel_now_cb);
}

int xmodem_kavel_send_cb(void* host, const uint8_t* bytes, size_t count) {
  XmodemProtocolState* xp = xp_of(host);
  if (!xp || !bytes || !xp->host || !xp->host->send) return -1;
  while (count > 0) {
    size_t piece = count < kSendPiece ? count : kSendPiece;
    if (xp->host->send(xp->host->ctx, bytes, piece, 0) != 0) return -1;
    bytes += piece;
    count -= piece;
  }
  return 0;
}

uint32_t xmodem_kavel_now_cb(void* host) {
  XmodemProtocolState* xp = xp_of(host);
  if (!xp) return 0;
  if (xp->clock_left > 0) {
    xp->clock_left--;
    return xp->clock_ms;
  }
  xp->clock_ms = transfer_host_now(xp->host);
  xp->clock_left = kClockReuse;
  return xp->clock_ms;
}

void xmodem_kavel_draw_status_cb(void* host) {
  XmodemProtocolState* xp = xp_of(host);
  if (xp) xmodem_draw_status(terminal_of(xp), &xp->xmodem, &xp->xmodem_host);
}

int xmodem_prompt_receive_exists_cb(void* host, const char* name) {
  XmodemProtocolState* xp = xp_of(host);
  if (!xp || !xp->host || !xp->host->question) return XM_EXISTS_SKIP;
  int answer = term_exists_prompt_open(xp->host->question, terminal_of(xp), name, 0, 0);
  return answer < 0 ? kTransferExistsAsked : answer;
}

int xmodem_protocol_start_receive(XmodemProtocolState* xp, const char* name) {
  release_detect(xp);
  XmodemHostContext* ctx = &xp->xmodem_host;
  xmodem_kavel_close(ctx);
  int opened = xmodem_kavel_open_receive(ctx, name);
  // The question is up: the rest follows its answer.
  if (opened == kXmOpenAsked) return 0;
  return receive_opened(xp, opened);
}

int xmodem_protocol_start_send(XmodemProtocolState* xp, const char* name) {
  release_detect(xp);
  XmodemHostContext* ctx = &xp->xmodem_host;
  xmodem_kavel_close(ctx);
  uint32_t size = 0;
  if (xmodem_kavel_open_send(ctx, name, &size) != 0) return -1;
  prepare_engine(xp, 2);
  if (xmodem_start_send(&xp->xmodem, ctx->file_name, size) != 0) {
    xmodem_kavel_close(ctx);
    return kXmodemStartFailed;
  }
  show_box(xp);
  return 0;
}

int ymodem_protocol_start_receive(XmodemProtocolState* xp, int streaming) {
  release_detect(xp);
  xmodem_kavel_close(&xp->xmodem_host);
  YmodemHostContext* ctx = ymodem_fresh(xp);
  if (!ctx) return -1;
  prepare_ymodem(xp);
  // The directory ZMODEM saves into, made the same way.
  const char* dir = transfer_download_dir(xp->host ? xp->host->download_path : "");
  if (ymodem_kavel_start_receive(ctx, &xp->xmodem, dir, streaming) != 0) {
    ymodem_release(xp);
    return kXmodemStartFailed;
  }
  show_box(xp);
  return 0;
}

int ymodem_protocol_start_send(XmodemProtocolState* xp, const char* const* paths, int count) {
  release_detect(xp);
  xmodem_kavel_close(&xp->xmodem_host);
  YmodemHostContext* ctx = ymodem_fresh(xp);
  if (!ctx) return -1;
  if (ymodem_kavel_start_send(ctx, &xp->xmodem, paths, count) != 0) return -1;
  prepare_ymodem(xp);
  show_box(xp);
  return 0;
}

const char* ymodem_protocol_text(const XmodemProtocolState* xp) {
  return xp->ymodem_host ? xp->ymodem_host->status_text : "";
}

void xmodem_protocol_draw_box(XmodemProtocolState* xp) {
  if (!terminal_of(xp)) return;
  box_cache(xp)->drawn = 0;
  if (xp->ymodem_host) {
    ymodem_draw_status(terminal_of(xp), xp->ymodem_host);
  } else {
    xmodem_draw_status(terminal_of(xp), &xp->xmodem, &xp->xmodem_host);
  }
}

void xmodem_protocol_consume(XmodemProtocolState* xp, uint8_t byte) {
  int rc = xmodem_consume(&xp->xmodem, byte);
  if (rc == 0 && xp->xmodem.active) return;
  after_engine_call(xp, rc);
}

int xmodem_protocol_pump(XmodemProtocolState* xp) {
  if (!xp->xmodem.active) return 0;
  xp->clock_left = 0;  // time-outs are judged on a fresh reading
  int rc = xmodem_pump(&xp->xmodem);
  if (rc != 0 && succeeded(xp) && xp->xmodem.active) return rc;
  if (rc == 0 && xp->xmodem.active) return 0;
  after_engine_call(xp, rc);
  return 0;
}

void xmodem_leave_success(XmodemProtocolState* xp) {
  transfer_host_quiet(xp->host, 0);
  close_files(xp);
  if (!xp->xmodem.active && box_cache(xp)->drawn && term_can_draw(terminal_of(xp))) {
    // The box now says what was saved or sent: it stays up a moment to be
    // read, and the session's transfer poll redraws the terminal afterwards.
    hold_box(xp, box_owner(xp));
    return;
  }
  restore_terminal(terminal_of(xp));
}

void xmodem_enter_binary_quiet(XmodemProtocolState* xp) {
  transfer_host_quiet(xp->host, kXmodemQuietMs);
  close_files(xp);
  bool reason_shown = !xp->xmodem.active && last_kind(xp) == XM_REPORT_FAILED &&
                      box_cache(xp)->drawn && term_can_draw(terminal_of(xp));
  if (reason_shown) {
    // The box now gives the reason: it stays up a moment to be read, and the
    // session's transfer poll redraws the terminal afterwards.
    hold_box(xp, box_owner(xp));
    term_show_cursor(terminal_of(xp));
    return;
  }
  restore_terminal(terminal_of(xp));
}

void xmodem_clear_terminal_overlay(XmodemProtocolState* xp) {
  Terminal* t = terminal_of(xp);
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

void xmodem_protocol_escape(XmodemProtocolState* xp) {
  if (asking(xp)) {
    answer_exists(xp, kExistsSkip);  // Escape on the prompt
    return;
  }
  if (!xp->xmodem.active) return;
  xmodem_cancel(&xp->xmodem, xp->ymodem_host ? "YMODEM canceled" : "XMODEM canceled");
  xmodem_enter_binary_quiet(xp);
}

void xmodem_protocol_end(XmodemProtocolState* xp, int closed_by_peer) {
  // A question still up is answered as a closed prompt is: skip.
  if (asking(xp)) answer_exists(xp, kExistsSkip);
  if (xp->xmodem.active) {
    const char* why =
        xp->ymodem_host ? (closed_by_peer ? "YMODEM interrupted by disconnect" : "YMODEM canceled")
                       : (closed_by_peer ? "XMODEM interrupted by disconnect" : "XMODEM canceled");
    xmodem_cancel(&xp->xmodem, why);
  }
  xmodem_kavel_close(&xp->xmodem_host);
  ymodem_release(xp);
}

void xmodem_protocol_redraw_status(XmodemProtocolState* xp) {
  if (!xp->xmodem.active || !terminal_of(xp)) return;
  xmodem_protocol_draw_box(xp);
}
