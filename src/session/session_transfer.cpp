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

void hook_terminal_byte(void* ctx, uint8_t byte) {
  Session* s = session_of(ctx);
  if (!s->terminal) return;
  // What the board sent after Telnet; a transfer's bytes never reach here.
  capture_byte(s, byte);
  if (s->petscii) {
    petscii_consume_byte(s->terminal, byte);
  } else {
    term_consume_byte(s->terminal, byte);
  }
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
  if (said && z->status.drawn) session_transfer_hold_box(s, kHeldBoxZmodem);
}

// The held box again, over a terminal that text has been drawn on.
void redraw_held_box(Session* s) {
  Terminal* t = s->terminal;
  if (!term_can_draw(t)) return;
  term_redraw_all(t);
  switch (s->transfer_box_kind) {
    case kHeldBoxZmodem:
      s->zmodem.status.drawn = 0;
      zmodem_draw_status(t, &s->zmodem);
      break;
    case kHeldBoxXmodem:
      session_xmodem_draw_box(s);
      break;
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

// One turn of the session while the file-exists prompt waits.  The byte path
// is below us on the stack (the engine asked from inside a header), so the
// turn must not hand data to the engine nor read into the buffer the outer
// turn is still working through: transfer_hold makes the turn read into a
// buffer of its own, serve no window input (the prompt owns the window), run
// no transfer timers, and drop the data bytes (the other side's repeats).
int hook_file_exists(void* ctx, const char* name) {
  Session* s = session_of(ctx);
  s->zmodem.status.drawn = 0;  // the prompt covers the box: draw it whole afterwards
  TransferWait wait{s->loop ? session_transfer_serve_prompt_turn : nullptr, s};
  return term_prompt_receive_exists(s->terminal, name, &wait);
}

// The same with Resume offered where the engine can resume the file, and
// the failed check said when it asks again.
int hook_file_exists_resume(void* ctx, const ZmodemExistsQuestion* q) {
  Session* s = session_of(ctx);
  s->zmodem.status.drawn = 0;
  TransferWait wait{s->loop ? session_transfer_serve_prompt_turn : nullptr, s};
  return term_prompt_receive_exists_resume(s->terminal, q->name, q->can_resume, q->resume_failed,
                                           &wait);
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

// The other side is a receiver that asked first: the user picks the file.
int hook_pick_upload(void* ctx, char* path, size_t capacity) {
  Session* s = session_of(ctx);
  // One file here: an earlier upload's remaining files are not this one's.
  delete s->upload_queue;
  s->upload_queue = nullptr;
  char name[kTransferNameCap];
  if (!term_select_upload_file(s->terminal, name)) return 0;
  return upload_full_path(name, path, capacity) ? 1 : 0;
}

bool any_transfer(const Session* s) {
  return s->zmodem.active || s->xmodem.active;
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

// The files the user picks for an upload, as full paths: 1 when there are
// some, 0 when there is nothing to send (the picker was left, or a transfer
// started meanwhile), -1 for a picked name whose path does not fit (*missing
// names it).
int pick_upload_paths(Session* s, std::vector<std::string>* paths, std::string* missing) {
  if (any_transfer(s)) return 0;
  std::vector<std::string> names;
  if (!term_select_upload_files(s->terminal, &names)) return 0;
  if (any_transfer(s)) return 0;
  return picked_paths(names, paths, missing) ? 1 : -1;
}

// YMODEM and YMODEM-G send alike: the receiver chooses which by what it
// asks for.  A file that cannot be sent is said in a notice.
int start_ymodem_upload(Session* s) {
  if (!s->terminal) return -1;
  std::vector<std::string> paths;
  std::string missing;
  int picked = pick_upload_paths(s, &paths, &missing);
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

}  // namespace

int session_transfer_serve_prompt_turn(void* ctx) {
  Session* s = session_of(ctx);
  if (!s->loop) return 1;
  ++s->transfer_hold;
  int running = session_pump_turn(s->loop);
  --s->transfer_hold;
  return running;
}

void session_transfer_init(Session* s) {
  session_xmodem_init(s);
  ZmodemHooks& h = s->zmodem.hooks;
  h = ZmodemHooks{};
  h.ctx = s;
  h.send = hook_send;
  h.now_ms = hook_now;
  h.terminal_byte = hook_terminal_byte;
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

int session_transfer_send(Session* s, const uint8_t* bytes, size_t len) {
  if (!link_is_open(&s->link)) return -1;
  return session_send(s, bytes, len, kTransferSendStallMs);
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
    if (s->zmodem.active || s->xmodem.active) {
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
  if (s->xmodem.active) return xmodem_pump_session(s);
  return zmodem_poll(&s->zmodem);
}

bool session_transfer_streaming(const Session* s) {
  return s->zmodem.active && s->zmodem.streaming;
}

void session_transfer_escape(Session* s) {
  if (!s->zmodem.active) return;
  bool receiving = s->zmodem.direction == 0;
  // The ending's hook starts the quiet time that follows the cancel sequence.
  zmodem_cancel(&s->zmodem, receiving ? "Download cancelled" : "Upload cancelled");
}

void session_transfer_end(Session* s, int closed_by_peer) {
  drop_upload_queue(s);
  ZmodemState* z = &s->zmodem;
  if (!z->active && !z->file) return;
  if (z->active && z->direction == 0 && z->zfin_seen) {
    // The sender has finished and we answered: only the courtesy "OO" or the
    // two-second wait was missing.  The receiver's own ending decides.
    zmodem_finish_received(z);
    return;
  }
  zmodem_finish(z, closed_by_peer ? "ZMODEM interrupted by disconnect" : "ZMODEM cancelled");
}

void session_transfer_redraw_status(Session* s) {
  session_xmodem_redraw_status(s);
  if (!s->zmodem.active || !s->terminal) return;
  s->zmodem.status.drawn = 0;
  zmodem_draw_status(s->terminal, &s->zmodem);
}

int session_open_download_menu(Session* s) {
  if (!s->terminal) return -1;
  if (any_transfer(s)) return 0;
  int choice = term_choose_transfer_protocol(s->terminal, "Download");
  if (choice == kProtocolZmodem && term_can_draw(s->terminal)) {
    // Nothing starts here: the BBS's sender starts the download.  The note
    // stays up a moment (the cursor off, so that its blinking leaves the
    // box alone) while the user can already type at the BBS.
    term_hide_cursor(s->terminal);
    term_draw_transfer_note(s->terminal, kZmodemWaitNote);
    session_transfer_hold_box(s, kHeldBoxNote);
  }
  if (choice == kProtocolYmodem || choice == kProtocolYmodemG) {
    // Block 0 names each file: nothing to ask.
    if (any_transfer(s) || !s->terminal->window) return 0;
    return session_ymodem_start_receive(s, choice == kProtocolYmodemG) == kXmodemStartFailed ? -1
                                                                                             : 0;
  }
  if (choice != kProtocolXmodem) return 0;
  if (any_transfer(s) || !s->terminal->window) return 0;
  char name[kXmNameCap];
  if (!term_prompt_filename(s->terminal, name, sizeof name)) return 0;
  // A file that cannot be created, or a declined existing one, starts
  // nothing; only an engine that would not start is a failure.
  return session_xmodem_start_receive(s, name) == kXmodemStartFailed ? -1 : 0;
}

int session_open_upload_menu(Session* s) {
  if (!s->terminal) return -1;
  // A download running is no moment to send: starting an upload would end
  // it half-written.
  if (any_transfer(s)) return 0;
  int choice = term_choose_transfer_protocol(s->terminal, "Upload");
  if (choice == kProtocolZmodem) return session_start_upload(s);
  if (choice == kProtocolYmodem || choice == kProtocolYmodemG) return start_ymodem_upload(s);
  if (choice != kProtocolXmodem) return 0;
  if (!s->terminal) return -1;
  if (any_transfer(s)) return 0;
  char name[kTransferNameCap];
  if (!term_select_upload_file(s->terminal, name)) return 0;
  if (any_transfer(s)) return 0;
  return session_xmodem_start_send(s, name) == kXmodemStartFailed ? -1 : 0;
}

int session_start_upload(Session* s) {
  if (!s->terminal) return -1;
  std::vector<std::string> paths;
  std::string missing;
  int picked = pick_upload_paths(s, &paths, &missing);
  if (picked == 0) return 0;
  if (picked < 0) {
    zmodem_fail_upload(&s->zmodem, missing.c_str(), "Upload file not found");
    return 0;
  }
  drop_upload_queue(s);
  s->upload_queue = new (std::nothrow) UploadQueue();
  if (s->upload_queue) {
    s->upload_queue->paths = paths;
    for (const std::string& p : paths) {
      struct stat st;
      s->upload_queue->sizes.push_back(stat(p.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size)
                                                                 : 0);
    }
    s->upload_queue->next = 1;
  }
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
