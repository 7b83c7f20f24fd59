// ZMODEM behind the transfer seam (see zmodem_protocol.h).
#include "transfer/zmodem_protocol.h"

#include <sys/stat.h>

#include <new>
#include <string>

#include "display/renderer.h"
#include "terminal/terminal.h"
#include "transfer/transfer_files.h"
#include "transfer/transfer_menus.h"
#include "util/text.h"

namespace {

ZmodemProtocol* zp_of(void* ctx) {
  return static_cast<ZmodemProtocol*>(ctx);
}

Terminal* terminal_of(const ZmodemProtocol* zp) {
  return transfer_host_terminal(zp->host);
}

// --- the engine's hooks ------------------------------------------------------------

int hook_send(void* ctx, const uint8_t* bytes, size_t len) {
  const TransferHost* h = zp_of(ctx)->host;
  if (!h || !h->send) return -1;
  return h->send(h->ctx, bytes, len, kTransferSendStallMs);
}

uint32_t hook_now(void* ctx) {
  return transfer_host_now(zp_of(ctx)->host);
}

void hook_hide_cursor(void* ctx) {
  term_hide_cursor(terminal_of(zp_of(ctx)));
}

void restore_terminal(Terminal* t) {
  if (!t) return;
  if (t->window && !t->drawing_suppressed) term_redraw_all(t);
  term_show_cursor(t);
}

// While a failed transfer's reason is on show, the terminal is redrawn when
// that time is over (the session's transfer poll), not at once.
void hook_restore_terminal(void* ctx) {
  ZmodemProtocol* zp = zp_of(ctx);
  if (!transfer_host_box_held(zp->host)) restore_terminal(terminal_of(zp));
}

void hook_status_changed(void* ctx) {
  ZmodemProtocol* zp = zp_of(ctx);
  ZmodemState* z = &zp->zmodem;
  zmodem_draw_status(terminal_of(zp), z);
  if (z->active) return;
  if (z->cancel_sent) {
    // The other side does not stop at once: what it had already sent (a
    // sender's subpackets in flight, a receiver's acknowledgements) and the
    // BBS's echo of our cancel bytes would be shown as text, or its
    // headers taken for the start of a new transfer.
    z->cancel_sent = 0;
    transfer_host_quiet(zp->host, kCancelQuietMs);
  }
  char summary[224];
  bool said =
      z->ending == kZmodemFailed || zmodem_summary(z, summary, sizeof summary, nullptr) != 0;
  // The box now gives the reason or what became of the file: it stays up a
  // moment to be read.
  if (said && z->status.drawn) {
    TransferProtocol p = zmodem_protocol(zp);
    transfer_host_hold_box(zp->host, &p);
  }
}

// The file-exists question goes up over the terminal and the engine waits
// for its answer (kTransferExistsAsked) while the host's loop goes on
// serving the connection: ZMODEM is in front until the user answers
// (zm_op_event), the time runs out (zm_op_poll) or the session ends
// (zm_op_end).  Without a prompt to put up, nobody is asked: skip.
int ask_exists(ZmodemProtocol* zp, const char* name, int can_resume, int resume_failed) {
  if (!zp->host || !zp->host->question) return kZmodemSkip;
  zp->zmodem.status.drawn = 0;  // the prompt covers the box: draw it whole afterwards
  int answer = term_exists_prompt_open(zp->host->question, terminal_of(zp), name, can_resume,
                                       resume_failed);
  return answer < 0 ? kTransferExistsAsked : answer;
}

int hook_file_exists(void* ctx, const char* name) {
  return ask_exists(zp_of(ctx), name, 0, 0);
}

// The same with Resume offered where the engine can resume the file, and
// the failed check said when it asks again.
int hook_file_exists_resume(void* ctx, const ZmodemExistsQuestion* q) {
  return ask_exists(zp_of(ctx), q->name, q->can_resume, q->resume_failed);
}

// The prompt comes down and the engine goes on with the answer, as it
// would have had the hook returned it.
void answer_exists(ZmodemProtocol* zp, int answer) {
  term_exists_prompt_close(zp->host->question);
  zmodem_answer_exists(&zp->zmodem, answer);
}

const char* hook_download_dir(void* ctx) {
  const TransferHost* h = zp_of(ctx)->host;
  return transfer_download_dir(h ? h->download_path : "");
}

void drop_upload_queue(ZmodemProtocol* zp) {
  delete zp->upload_queue;
  zp->upload_queue = nullptr;
}

// The box's batch figures for the upload under way: the count and the
// bytes, which the engine does not know.
void show_upload_batch(ZmodemProtocol* zp) {
  UploadQueue* q = zp->upload_queue;
  ZmodemState* z = &zp->zmodem;
  if (!q || q->paths.size() < 2 || !z->active || z->direction != 1) return;
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
  ZmodemProtocol* zp = zp_of(ctx);
  UploadQueue* q = zp->upload_queue;
  if (!q || q->next >= q->paths.size()) return 0;
  safe_copy(path, capacity, q->paths[q->next++].c_str());
  show_upload_batch(zp);
  return 1;
}

// The picked batch: the engine starts the first file, next_upload hands
// out the rest.
void queue_upload_batch(ZmodemProtocol* zp, const std::vector<std::string>& paths) {
  drop_upload_queue(zp);
  zp->upload_queue = new (std::nothrow) UploadQueue();
  if (!zp->upload_queue) return;
  zp->upload_queue->paths = paths;
  for (const std::string& p : paths) {
    struct stat st;
    zp->upload_queue->sizes.push_back(
        stat(p.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0);
  }
  zp->upload_queue->next = 1;
}

// The other side is a receiver that asked first: the user picks the files,
// the first goes now and the rest through next_upload, as after Alt+U.
// (The engine is running, so the host's picker would refuse: the picker
// itself is asked.)
int hook_pick_upload(void* ctx, char* path, size_t capacity) {
  ZmodemProtocol* zp = zp_of(ctx);
  drop_upload_queue(zp);
  std::vector<std::string> names, paths;
  std::string missing;
  if (!term_select_upload_files(terminal_of(zp), &names) ||
      transfer_upload_paths(names, &paths, &missing) != 0)
    return 0;
  queue_upload_batch(zp, paths);
  safe_copy(path, capacity, paths[0].c_str());
  return 1;
}

// --- ZMODEM behind the transfer seam --------------------------------------

// Alt+D, Z-Modem: nothing starts here, the BBS's sender starts the
// download.  The note stays up a moment (the cursor off, so that its
// blinking leaves the box alone) while the user can already type at the BBS.
int zm_op_start(void* ctx, int direction, int) {
  ZmodemProtocol* zp = zp_of(ctx);
  if (direction == kTransferUpload) return zmodem_protocol_start_upload(zp);
  Terminal* t = terminal_of(zp);
  if (term_can_draw(t)) {
    term_hide_cursor(t);
    term_draw_transfer_note(t, kZmodemWaitNote);
    transfer_host_hold_note(zp->host, kZmodemWaitNote);
  }
  return 0;
}

size_t zm_op_consume(void* ctx, const uint8_t* bytes, size_t len) {
  return zmodem_consume_active(&zp_of(ctx)->zmodem, bytes, len);
}

int zm_op_poll(void* ctx, uint32_t) {
  ZmodemProtocol* zp = zp_of(ctx);
  ZmodemState* z = &zp->zmodem;
  if (z->exists_pending) {
    // The question's own time: unanswered for 5 s, the file is renamed.
    int answer = term_exists_prompt_poll(zp->host->question);
    if (answer >= 0) answer_exists(zp, answer);
    return 0;
  }
  // Idle, its only work is detection's, which the session releases itself.
  return z->active ? zmodem_poll(z) : 0;
}

// While the question is up the window is the prompt's.
int zm_op_in_front(const void* ctx) {
  return static_cast<const ZmodemProtocol*>(ctx)->zmodem.exists_pending != 0;
}

void zm_op_event(void* ctx, const PlatEvent& ev) {
  ZmodemProtocol* zp = zp_of(ctx);
  if (!zp->zmodem.exists_pending) return;
  int answer = term_exists_prompt_event(zp->host->question, ev);
  if (answer >= 0) answer_exists(zp, answer);
}

void zm_op_cancel(void* ctx) {
  ZmodemProtocol* zp = zp_of(ctx);
  ZmodemState* z = &zp->zmodem;
  if (!z->active) return;
  if (z->exists_pending) {
    answer_exists(zp, kExistsSkip);  // Escape on the prompt
    return;
  }
  // The ending's hook starts the quiet time that follows the cancel sequence.
  zmodem_cancel(z, z->direction == 0 ? "Download cancelled" : "Upload cancelled");
}

void zm_op_end(void* ctx, int closed_by_peer) {
  ZmodemProtocol* zp = zp_of(ctx);
  drop_upload_queue(zp);
  ZmodemState* z = &zp->zmodem;
  // A question still up is answered as a closed prompt is: the file is
  // skipped (there is nothing more to write), then the transfer ends.
  if (z->exists_pending) answer_exists(zp, kExistsSkip);
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
  ZmodemProtocol* zp = zp_of(ctx);
  Terminal* t = terminal_of(zp);
  if (!t) return;
  zp->zmodem.status.drawn = 0;
  zmodem_draw_status(t, &zp->zmodem);
}

void zm_op_draw_status(void* ctx) {
  ZmodemProtocol* zp = zp_of(ctx);
  if (zp->zmodem.exists_pending) {
    term_exists_prompt_draw(zp->host->question);
  } else if (zp->zmodem.active) {
    zm_op_draw_box(ctx);
  }
}

int zm_op_active(const void* ctx) {
  return static_cast<const ZmodemProtocol*>(ctx)->zmodem.active;
}

int zm_op_streaming(const void* ctx) {
  const ZmodemState* z = &static_cast<const ZmodemProtocol*>(ctx)->zmodem;
  return z->active && z->streaming;
}

TransferDetect zm_op_detect(void* ctx, uint8_t byte, TransferEmit emit, void* to) {
  return zmodem_detect(&zp_of(ctx)->zmodem, byte, emit, to);
}

void zm_op_flush_detect(void* ctx, int force, TransferEmit emit, void* to) {
  zmodem_release_detect(&zp_of(ctx)->zmodem, force, emit, to);
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

}  // namespace

TransferProtocol zmodem_protocol(ZmodemProtocol* zp) {
  return TransferProtocol{&kZmodemOps, zp};
}

void zmodem_protocol_init(ZmodemProtocol* zp, const TransferHost* host) {
  zp->host = host;
  ZmodemHooks& h = zp->zmodem.hooks;
  h = ZmodemHooks{};
  h.ctx = zp;
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
}

int zmodem_protocol_start_upload(ZmodemProtocol* zp) {
  if (!terminal_of(zp) || !zp->host || !zp->host->pick_uploads) return -1;
  std::vector<std::string> paths;
  std::string missing;
  int picked = zp->host->pick_uploads(zp->host->ctx, &paths, &missing);
  if (picked == 0) return 0;
  if (picked < 0) {
    zmodem_fail_upload(&zp->zmodem, missing.c_str(), "Upload file not found");
    return 0;
  }
  queue_upload_batch(zp, paths);
  int rc = zmodem_start_upload(&zp->zmodem, paths[0].c_str()) == 0 ? 0 : -1;
  show_upload_batch(zp);
  return rc;
}
