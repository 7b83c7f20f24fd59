// The session's side of file transfers (see session_transfer.h).
#include "session/session_transfer.h"

#include <sys/stat.h>

#include <cstring>
#include <new>
#include <string>

#include "display/renderer.h"
#include "phonebook/prefs.h"
#include "platform/clock.h"
#include "platform/dos.h"
#include "session/capture.h"
#include "session/session.h"
#include "session/session_loop.h"
#include "session/session_xmodem.h"
#include "terminal/petscii.h"
#include "terminal/terminal.h"
#include "transfer/transfer_menus.h"
#include "transfer/transfer_status.h"
#include "transfer/zmodem.h"
#include "util/text.h"

namespace {

Session* session_of(void* ctx) {
  return static_cast<Session*>(ctx);
}

// --- the engine's hooks ------------------------------------------------------------

int hook_send(void* ctx, const uint8_t* bytes, size_t len) {
  return session_transfer_send(session_of(ctx), bytes, len);
}

uint32_t hook_now(void*) {
  return clock_ms();
}

void hook_hide_cursor(void* ctx) {
  term_hide_cursor(session_of(ctx)->terminal);
}

void restore_terminal(Terminal* t) {
  if (!t) return;
  if (t->window && !t->drawing_suppressed) term_redraw_all(t);
  term_show_cursor(t);
}

// While a failed transfer's reason is on show, the terminal is redrawn when
// that time is over (session_transfer_poll), not at once.
void hook_restore_terminal(void* ctx) {
  Session* s = session_of(ctx);
  if (s->transfer_box_until_ms == 0) restore_terminal(s->terminal);
}

void drop_data_for(Session* s, uint32_t ms) {
  uint32_t until = clock_ms() + ms;
  s->discard_until_ms = until ? until : 1;  // 0 means none
}

void hook_status_changed(void* ctx) {
  Session* s = session_of(ctx);
  ZmodemState* z = &s->zmodem;
  zmodem_draw_status(s->terminal, z);
  if (z->active) return;
  if (z->cancel_sent) {
    // The other side does not stop at once: what it had already sent (a
    // sender's subpackets in flight, a receiver's acknowledgements) and the
    // BBS's echo of our cancel bytes would be shown as text, or its
    // headers taken for the start of a new transfer.
    z->cancel_sent = 0;
    drop_data_for(s, kCancelQuietMs);
  }
  char summary[224];
  bool said =
      z->ending == kZmodemFailed || zmodem_summary(z, summary, sizeof summary, nullptr) != 0;
  // The box now gives the reason or what became of the file: it stays up a
  // moment to be read.
  if (said && z->status.drawn) session_transfer_hold_protocol_box(s, session_zmodem_protocol(s));
}

// The held box again, over a terminal that text has been drawn on.
void redraw_held_box(Session* s) {
  Terminal* t = s->terminal;
  if (!term_can_draw(t)) return;
  term_redraw_all(t);
  switch (s->transfer_box_kind) {
    case kHeldBoxProtocol: {
      const TransferProtocol& p = s->transfer_box_protocol;
      if (p.ops) p.ops->draw_box(p.ctx);
      break;
    }
    case kHeldBoxCapture:
      term_draw_transfer_note(t, capture_note());
      break;
    case kHeldBoxNote:
      term_draw_transfer_note(t, kZmodemWaitNote);
      break;
    default:
      break;
  }
}

// The file-exists question goes up over the terminal and the engine waits
// for its answer (kTransferExistsAsked) while the loop goes on serving the
// connection: ZMODEM is in front until the user answers (zm_op_event), the
// time runs out (zm_op_poll) or the session ends (zm_op_end).
int ask_exists(Session* s, const char* name, int can_resume, int resume_failed) {
  s->zmodem.status.drawn = 0;  // the prompt covers the box: draw it whole afterwards
  int answer =
      term_exists_prompt_open(&s->exists_prompt, s->terminal, name, can_resume, resume_failed);
  return answer < 0 ? kTransferExistsAsked : answer;
}

int hook_file_exists(void* ctx, const char* name) {
  return ask_exists(session_of(ctx), name, 0, 0);
}

// The same with Resume offered where the engine can resume the file, and
// the failed check said when it asks again.
int hook_file_exists_resume(void* ctx, const ZmodemExistsQuestion* q) {
  return ask_exists(session_of(ctx), q->name, q->can_resume, q->resume_failed);
}

// The prompt comes down and the engine goes on with the answer, as it
// would have had the hook returned it.
void answer_exists(Session* s, int answer) {
  term_exists_prompt_close(&s->exists_prompt);
  zmodem_answer_exists(&s->zmodem, answer);
}

const char* hook_download_dir(void*) {
  return session_download_dir();
}

// The full path of an entry of the upload directory.
bool upload_full_path(const char* name, char* path, size_t capacity) {
  char joined[kTransferPathCap];
  if (upload_path_join(joined, name) != 0) return false;
  std::string real = dos_expand_path(joined);
  if (real.size() >= capacity) return false;
  safe_copy(path, capacity, real.c_str());
  return true;
}

bool any_transfer(const Session* s) {
  return session_transfer_active(s);
}

void drop_upload_queue(Session* s) {
  delete s->upload_queue;
  s->upload_queue = nullptr;
}

// The picked names as full paths: false (and *missing the name) for one
// whose path does not fit, which names no file we could open.
bool picked_paths(const std::vector<std::string>& names, std::vector<std::string>* paths,
                  std::string* missing) {
  paths->clear();
  for (const std::string& name : names) {
    char path[kTransferPathCap];
    if (!upload_full_path(name.c_str(), path, sizeof path)) {
      *missing = name;
      return false;
    }
    paths->emplace_back(path);
  }
  return true;
}

// The box's batch figures for the upload under way: the count and the
// bytes, which the engine does not know.
void show_upload_batch(Session* s) {
  UploadQueue* q = s->upload_queue;
  if (!q || q->paths.size() < 2 || !s->zmodem.active || s->zmodem.direction != 1) return;
  ZmodemState* z = &s->zmodem;
  z->files_total = static_cast<int32_t>(q->paths.size());
  uint64_t total = 0, before = 0;
  for (size_t i = 0; i < q->sizes.size(); ++i) {
    total += q->sizes[i];
    if (i + 1 < q->next) before += q->sizes[i];
  }
  z->status.batch_total = total;
  z->status.batch_before = before;
}

int hook_next_upload(void* ctx, char* path, size_t capacity) {
  Session* s = session_of(ctx);
  UploadQueue* q = s->upload_queue;
  if (!q || q->next >= q->paths.size()) return 0;
  safe_copy(path, capacity, q->paths[q->next++].c_str());
  show_upload_batch(s);
  return 1;
}

// The picked batch: the engine starts the first file, next_upload hands
// out the rest.
void queue_upload_batch(Session* s, const std::vector<std::string>& paths) {
  drop_upload_queue(s);
  s->upload_queue = new (std::nothrow) UploadQueue();
  if (!s->upload_queue) return;
  s->upload_queue->paths = paths;
  for (const std::string& p : paths) {
    struct stat st;
    s->upload_queue->sizes.push_back(stat(p.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size)
                                                               : 0);
  }
  s->upload_queue->next = 1;
}

// The other side is a receiver that asked first: the user picks the files,
// the first goes now and the rest through next_upload, as after Alt+U.
int hook_pick_upload(void* ctx, char* path, size_t capacity) {
  Session* s = session_of(ctx);
  drop_upload_queue(s);
  std::vector<std::string> names, paths;
  std::string missing;
  if (!term_select_upload_files(s->terminal, &names) || !picked_paths(names, &paths, &missing))
    return 0;
  queue_upload_batch(s, paths);
  safe_copy(path, capacity, paths[0].c_str());
  return 1;
}

// --- ZMODEM behind the transfer seam --------------------------------------

// Alt+D, Z-Modem: nothing starts here, the BBS's sender starts the
// download.  The note stays up a moment (the cursor off, so that its
// blinking leaves the box alone) while the user can already type at the BBS.
int zmodem_start(Session* s, int direction) {
  if (direction == kTransferUpload) return session_start_upload(s);
  if (term_can_draw(s->terminal)) {
    term_hide_cursor(s->terminal);
    term_draw_transfer_note(s->terminal, kZmodemWaitNote);
    session_transfer_hold_box(s, kHeldBoxNote);
  }
  return 0;
}

int zm_op_start(void* ctx, int direction, int) {
  return zmodem_start(session_of(ctx), direction);
}

size_t zm_op_consume(void* ctx, const uint8_t* bytes, size_t len) {
  return zmodem_consume_active(&session_of(ctx)->zmodem, bytes, len);
}

int zm_op_poll(void* ctx, uint32_t) {
  Session* s = session_of(ctx);
  ZmodemState* z = &s->zmodem;
  if (z->exists_pending) {
    // The question's own time: unanswered for 5 s, the file is renamed.
    int answer = term_exists_prompt_poll(&s->exists_prompt);
    if (answer >= 0) answer_exists(s, answer);
    return 0;
  }
  // Idle, its only work is detection's, which the session releases itself.
  return z->active ? zmodem_poll(z) : 0;
}

// While the question is up the window is the prompt's.
int zm_op_in_front(const void* ctx) {
  return static_cast<const Session*>(ctx)->zmodem.exists_pending != 0;
}

void zm_op_event(void* ctx, const PlatEvent& ev) {
  Session* s = session_of(ctx);
  if (!s->zmodem.exists_pending) return;
  int answer = term_exists_prompt_event(&s->exists_prompt, ev);
  if (answer >= 0) answer_exists(s, answer);
}

void zm_op_cancel(void* ctx) {
  Session* s = session_of(ctx);
  ZmodemState* z = &s->zmodem;
  if (!z->active) return;
  if (z->exists_pending) {
    answer_exists(s, kExistsSkip);  // Escape on the prompt
    return;
  }
  // The ending's hook starts the quiet time that follows the cancel sequence.
  zmodem_cancel(z, z->direction == 0 ? "Download cancelled" : "Upload cancelled");
}

void zm_op_end(void* ctx, int closed_by_peer) {
  Session* s = session_of(ctx);
  drop_upload_queue(s);
  ZmodemState* z = &s->zmodem;
  // A question still up is answered as a closed prompt is: the file is
  // skipped (there is nothing more to write), then the transfer ends.
  if (z->exists_pending) answer_exists(s, kExistsSkip);
  if (!z->active && !z->file) return;
  if (z->active && z->direction == 0 && z->zfin_seen) {
    // The sender has finished and we answered: only the courtesy "OO" or the
    // two-second wait was missing.  The receiver's own ending decides.
    zmodem_finish_received(z);
    return;
  }
  zmodem_finish(z, closed_by_peer ? "ZMODEM interrupted by disconnect" : "ZMODEM cancelled");
}

void zm_op_draw_box(void* ctx) {
  Session* s = session_of(ctx);
  if (!s->terminal) return;
  s->zmodem.status.drawn = 0;
  zmodem_draw_status(s->terminal, &s->zmodem);
}

void zm_op_draw_status(void* ctx) {
  Session* s = session_of(ctx);
  if (s->zmodem.exists_pending) {
    term_exists_prompt_draw(&s->exists_prompt);
  } else if (s->zmodem.active) {
    zm_op_draw_box(ctx);
  }
}

int zm_op_active(const void* ctx) {
  return static_cast<const Session*>(ctx)->zmodem.active;
}

int zm_op_streaming(const void* ctx) {
  const ZmodemState* z = &static_cast<const Session*>(ctx)->zmodem;
  return z->active && z->streaming;
}

TransferDetect zm_op_detect(void* ctx, uint8_t byte, TransferEmit emit, void* to) {
  return zmodem_detect(&session_of(ctx)->zmodem, byte, emit, to);
}

void zm_op_flush_detect(void* ctx, int force, TransferEmit emit, void* to) {
  zmodem_release_detect(&session_of(ctx)->zmodem, force, emit, to);
}

constexpr const char* kZmodemRows[] = {"Z-Modem"};
constexpr TransferProtocolOps kZmodemOps = {
    "ZMODEM",
    kZmodemRows,
    1,
    0,  // keys still go to the BBS while it runs
    zm_op_start,
    zm_op_consume,
    zm_op_poll,
    zm_op_cancel,
    zm_op_end,
    zm_op_draw_status,
    zm_op_draw_box,
    zm_op_active,
    zm_op_streaming,
    zm_op_in_front,
    zm_op_event,
    zm_op_detect,
    zm_op_flush_detect,
};

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

TransferProtocol session_zmodem_protocol(Session* s) {
  return TransferProtocol{&kZmodemOps, s};
}

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
  session_xmodem_init(s);
  ZmodemHooks& h = s->zmodem.hooks;
  h = ZmodemHooks{};
  h.ctx = s;
  h.send = hook_send;
  h.now_ms = hook_now;
  h.hide_cursor = hook_hide_cursor;
  h.restore_terminal = hook_restore_terminal;
  h.status_changed = hook_status_changed;
  h.file_exists = hook_file_exists;
  h.file_exists_resume = hook_file_exists_resume;
  // No stop_requested: the loop serves the window between runs of received
  // bytes and between upload slices, and acts on Escape and a closed window
  // itself (with the session's own ending texts).
  h.download_dir = hook_download_dir;
  h.pick_upload = hook_pick_upload;
  h.next_upload = hook_next_upload;

  // The choosers list the rows in this order.
  s->protocol_count = 0;
  s->protocols[s->protocol_count++] = session_xmodem_protocol(s);
  s->protocols[s->protocol_count++] = session_zmodem_protocol(s);
  s->protocols[s->protocol_count++] = session_ymodem_protocol(s);
}

int session_transfer_send(Session* s, const uint8_t* bytes, size_t len) {
  if (!link_is_open(&s->link)) return -1;
  return session_send(s, bytes, len, kTransferSendStallMs);
}

void session_transfer_hold_protocol_box(Session* s, const TransferProtocol& p) {
  session_transfer_hold_box(s, kHeldBoxProtocol);
  s->transfer_box_protocol = p;
}

void session_transfer_hold_box(Session* s, int32_t kind) {
  uint32_t until = clock_ms() + kTransferBoxShownMs;
  s->transfer_box_until_ms = until ? until : 1;  // 0 means none
  s->transfer_box_kind = kind;
  s->transfer_box_rx = s->loop ? s->loop->bytes_received : 0;
}

int session_transfer_poll(Session* s) {
  if (s->transfer_box_until_ms != 0) {
    uint64_t rx = s->loop ? s->loop->bytes_received : 0;
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

// The files the user picks for an upload, as full paths: 1 when there are
// some, 0 when there is nothing to send (the picker was left, or a transfer
// started meanwhile), -1 for a picked name whose path does not fit (*missing
// names it).
int session_pick_upload_paths(Session* s, std::vector<std::string>* paths, std::string* missing) {
  if (any_transfer(s)) return 0;
  std::vector<std::string> names;
  if (!term_select_upload_files(s->terminal, &names)) return 0;
  if (any_transfer(s)) return 0;
  return picked_paths(names, paths, missing) ? 1 : -1;
}

int session_start_upload(Session* s) {
  if (!s->terminal) return -1;
  std::vector<std::string> paths;
  std::string missing;
  int picked = session_pick_upload_paths(s, &paths, &missing);
  if (picked == 0) return 0;
  if (picked < 0) {
    zmodem_fail_upload(&s->zmodem, missing.c_str(), "Upload file not found");
    return 0;
  }
  queue_upload_batch(s, paths);
  int rc = zmodem_start_upload(&s->zmodem, paths[0].c_str()) == 0 ? 0 : -1;
  show_upload_batch(s);
  return rc;
}

const char* session_download_dir() {
  static std::string dir;
  char path[256];
  safe_copy(path, sizeof path, g_download_path);
  normalize_transfer_path(path, TransferDir::kDownload);
  dir = dos_expand_path(path);
  // Asked as a received file is opened: the user's default download
  // directory is made then, with any parent it lacks, as xdg-user-dirs
  // would.  A directory the user chose is only ever made as its last step
  // (by the receiver): its parent missing may mean a disk not mounted.
  char fallback[256];
  transfer_default_path(TransferDir::kDownload, fallback);
  if (strcmp(path, fallback) == 0) dos_create_dirs(dir.c_str(), 0755);
  return dir.c_str();
}
