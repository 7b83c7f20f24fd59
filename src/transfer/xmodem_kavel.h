// The XMODEM host adapter: binds the self-contained engine (xmodem.h) to a
// host that has files, directories, a user to ask and a status box.
//
// It owns the file being received or sent, chooses its name and directory,
// supplies the engine's callback table, and keeps the figures the XMODEM
// status box shows.  It knows its host only through four functions given
// to xmodem_kavel_init (send bytes, ask about an existing file, redraw the
// status box, read the clock), so the session (transfer/xmodem_protocol.h)
// and the tests can both be the host.
//
// A transfer, from the host's side:
//   xmodem_kavel_close(ctx);
//   xmodem_kavel_open_receive(ctx, name)  or  xmodem_kavel_open_send(ctx, name, &size);
//   XmodemCallbacks cb; xmodem_kavel_callbacks(ctx, &cb);
//   xmodem_init(&engine, &cb); xmodem_kavel_reset_status(ctx);
//   xmodem_start_receive(&engine, ctx->file_name, 2)  or  xmodem_start_send(..., size);
// The engine closes the file through the table when it ends; the host's
// endings call xmodem_kavel_close as well (closing twice is harmless).
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "transfer/transfer_files.h"
#include "transfer/transfer_status.h"
#include "transfer/xmodem.h"

struct Terminal;

inline constexpr size_t kXmNameCap = 128;  // names: at most 127 characters
inline constexpr size_t kXmPathCap = 512;  // paths: at most 511 characters
inline constexpr const char* kXmDefaultName = "xmodem.prg";

// The answers of the file-exists question (prompt_fn).
enum : int { XM_EXISTS_OVERWRITE = 0, XM_EXISTS_RENAME = 1, XM_EXISTS_SKIP = 2 };

struct XmodemHostContext {
  FILE* file;                                  // the open file, null when none
  char file_name[kXmNameCap];                  // sanitised; the engine's reports may replace it
  char file_path[kXmPathCap];                  // directory plus name, "PROGDIR:" resolved
  char status_text[96];                        // the last report's text
  uint32_t bytes, total, block, retries, crc;  // the last report's figures
  int32_t mode;                                // 1 receiving, 2 sending (set when a file is opened)
  int32_t last_kind;                           // the last report's kind (XmodemReport)
  void* host;
  // The transfer directories as the preferences hold them (read at the
  // moment of use: trimmed, the default when empty).
  const char* download_dir;
  const char* upload_dir;
  const char* default_download_dir;
  const char* default_upload_dir;
  int (*send_fn)(void* host, const uint8_t* bytes, size_t count);  // 0 or failure
  int (*prompt_fn)(void* host, const char* name);                  // XM_EXISTS_*
  void (*draw_fn)(void* host);                                     // redraw the status box
  uint32_t (*now_fn)(void* host);                                  // milliseconds
  TransferBoxCache status;                                         // the status box's drawing cache
  uint32_t start_ms;  // when the first byte was counted (speed); 0 none
  int32_t asking;     // open_receive's file-exists question waits for its answer
  // Why our file failed ("Write failed: ..."), shown as the failure's text.
  char failure[96];
  // The received file's stream buffer: stdio would otherwise write the
  // file 4 KiB at a time.
  char file_buffer[kTransferFileBuffer];
};

// Clears the context whole and fills it.
void xmodem_kavel_init(XmodemHostContext* ctx, const char* download_dir, const char* upload_dir,
                       const char* default_download_dir, const char* default_upload_dir, void* host,
                       int (*send_fn)(void*, const uint8_t*, size_t),
                       int (*prompt_fn)(void*, const char*), void (*draw_fn)(void*),
                       uint32_t (*now_fn)(void*));

// Opens the file of a download in the download directory (created when
// missing).  A name that exists is put to prompt_fn: overwrite, rename to
// the first free "stem-001.ext" .. "stem-999.ext", or skip.  0 opened; -1
// the file cannot be created; -2 the user declined, there is no prompt, or
// no free name is left; kXmOpenAsked when prompt_fn returned
// kTransferExistsAsked (transfer_files.h): the question is up and
// xmodem_kavel_answer_exists takes its answer.
inline constexpr int kXmOpenAsked = -4;
int xmodem_kavel_open_receive(XmodemHostContext* ctx, const char* name);
// The answer (XM_EXISTS_*) to the question open_receive left for later:
// open_receive's results (-2 when no question waits).
int xmodem_kavel_answer_exists(XmodemHostContext* ctx, int answer);

// Opens a file of the upload directory for sending.  0 with its size in
// *size_out (0 when unknown: a size XMODEM's 32-bit count cannot hold
// counts as unknown); -1 without a name or when it cannot be opened as a
// regular file.
int xmodem_kavel_open_send(XmodemHostContext* ctx, const char* name, uint32_t* size_out);

// Closes the file if one is open.
void xmodem_kavel_close(XmodemHostContext* ctx);

// The engine's eight callbacks, bound to ctx.
void xmodem_kavel_callbacks(XmodemHostContext* ctx, XmodemCallbacks* out);

// Forgets the status box's last drawing and the speed's start, for a new
// transfer.
void xmodem_kavel_reset_status(XmodemHostContext* ctx);

// A name the user or the other side gave, made safe for the download
// directory: empty means "xmodem.prg"; "/", "\", ":" and control bytes
// become "_"; "." and ".." (which name directories) become "xmodem.prg";
// at most cap - 1 characters.
void xm_sanitize_name(char* dest, size_t cap, const char* src);

// The free name for an existing one: "stem-NNN.ext" with NNN from 001 to
// 999, the first whose path in dir is free.  The extension is the part from
// the last "." unless that dot is the first character (then the whole name
// is the stem).  0 with name replaced, -1 when all 999 are taken.
int xm_rename_free(char* name, size_t cap, const char* dir);

// The summary of a transfer that completed: "Saved NAME (SIZE)" with the
// directory in *dir, or "Sent NAME (SIZE)".  0 for any other ending (and
// while the transfer runs).
int xmodem_summary(const XmodemState* engine, const XmodemHostContext* ctx, char* out, size_t cap,
                   std::string* dir);

// Draws or updates the XMODEM status box over the terminal from the
// engine's mode and the adapter's figures.  While the transfer runs, a
// progress report within 200 ms of the last drawing is not drawn unless the
// retries changed; every other report is.  After a failed ending the line
// of the error figure gives the reason, in red; after a complete one the
// summary takes its place, in blue.
void xmodem_draw_status(Terminal* t, const XmodemState* engine, XmodemHostContext* ctx);
