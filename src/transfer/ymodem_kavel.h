// The YMODEM host adapter: binds the engine's batch mode (xmodem.h,
// ymodem_start_receive / ymodem_start_send) to files on disk and a status
// box.
//
// Receiving, each file the sender announces is saved in the download
// directory under its name made safe by the same rule as ZMODEM's
// (transfer_sanitize_name); a name that exists is put to the host's
// file_exists question: overwrite, rename to the first free "name-N.ext",
// or skip (the file's blocks are then taken and dropped).  The engine gives
// the adapter only the bytes within the size block 0 announced; the file is
// written through a 64 KiB buffer, flushed, dated with block 0's date and
// closed before the engine acknowledges its end, and a write or close that
// fails ends the transfer with the reason ("Write failed: No space left on
// device").  Sending, the files of a list go out one after another, each
// announced by the name of its last path component made safe the same
// way, its size, date and mode.
//
// It knows its host only through YmodemHostTable, so a session, a command
// line tool and the tests can all be the host.  A transfer, from the host's
// side:
//   ymodem_kavel_init(ctx, &table);                           once
//   ymodem_kavel_start_receive(ctx, &engine, dir, streaming)  or
//   ymodem_kavel_start_send(ctx, &engine, paths, count);
//   then xmodem_consume(&engine, byte) for every received byte and
//   xmodem_pump(&engine) on every pass of the loop, as for XMODEM, until
//   engine.active drops; xmodem_cancel / xmodem_abort end it early, and
//   ymodem_kavel_close(ctx) when the host goes away mid-transfer.
// The transfer went well when it ended with a report of kind
// XM_REPORT_COMPLETE (ctx->last_kind; its text contains "complete").
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "transfer/transfer_files.h"
#include "transfer/transfer_status.h"
#include "transfer/xmodem.h"

struct Terminal;

// The answers of the file-exists question (the same as XMODEM's and ZMODEM's).
enum : int { YM_EXISTS_OVERWRITE = 0, YM_EXISTS_RENAME = 1, YM_EXISTS_SKIP = 2 };

// What the adapter asks of its host.  Every function gets `host` first;
// any may be null: without send every send fails, without now the clock
// reads 0, without file_exists an existing name is renamed, without draw
// nothing is drawn.  file_exists may return kTransferExistsAsked
// (transfer_files.h): the engine then waits for ymodem_kavel_answer_exists.
struct YmodemHostTable {
  void* host;
  int (*send)(void* host, const uint8_t* bytes, size_t count);  // 0, or a failure
  uint32_t (*now)(void* host);                                   // milliseconds, steady
  int (*file_exists)(void* host, const char* name);              // YM_EXISTS_*
  void (*draw)(void* host);                                      // redraw the status box
};

// What one transfer starts from zero.
struct YmodemTransfer {
  XmodemState* engine;  // the engine of the running (or last) transfer
  int32_t direction;    // 1 receiving, 2 sending
  // The current file.
  FILE* file;
  char file_name[kTransferNameCap];  // as saved (receiving) or announced (sending)
  char file_path[kTransferPathCap];
  int64_t file_mtime;  // block 0's date, given to the file when it closes
  int32_t file_has_mtime;
  uint64_t file_bytes;  // done
  uint64_t file_total;  // 0 when block 0 gave no size
  // The batch.
  int32_t file_number;    // k of "file k of n": files begun so far
  int32_t files_total;    // n: 0 while the sender has not said
  int32_t files_skipped;  // receiving: declined at the file-exists question
  uint64_t batch_before;  // bytes of the files before the current one
  uint64_t batch_total;   // 0 while not known
  uint32_t retries, crc;  // the last report's figures
  int32_t last_kind;      // the last report's kind (XmodemReport)
  uint32_t start_ms;      // when the first byte was counted (speed); 0 none
  char status_text[96];   // the last report's text, or the adapter's reason
  char failure[96];       // why our side failed ("Write failed: ..."), shown instead
  char dir[kTransferPathCap];  // receiving: the download directory
  size_t next_path;            // sending: the next of paths to open
  TransferBoxCache status;     // the status box's drawing cache
};

struct YmodemHostContext : YmodemTransfer {
  YmodemHostTable fns;
  std::vector<std::string> paths;  // sending: the files, in order
  char file_buffer[kTransferFileBuffer];
};

// Clears the context (a file left open is not closed: call
// ymodem_kavel_close first) and keeps the host table.
void ymodem_kavel_init(YmodemHostContext* ctx, const YmodemHostTable* table);

// Starts receiving a batch into dir (created when missing), asking for
// YMODEM-G when streaming is set.  xmodem_init is called on the engine.
// 0, or -1 without a context or engine.
int ymodem_kavel_start_receive(YmodemHostContext* ctx, XmodemState* engine, const char* dir,
                               int streaming);

// Starts sending the files (paths, in this order).  Each must be a
// regular file that can be read and is smaller than 4 GiB; otherwise
// nothing starts, -1 is returned and status_text says why ("Upload file
// not found: NAME", "File too large for YMODEM: NAME").  Whether it is
// YMODEM or YMODEM-G is the receiver's choice.  0 once the engine waits
// for the receiver.
int ymodem_kavel_start_send(YmodemHostContext* ctx, XmodemState* engine, const char* const* paths,
                            int count);

// The answer (YM_EXISTS_*) to a file-exists question file_exists left for
// later: the file is skipped, renamed or overwritten and the engine goes
// on.  xmodem_consume's results; 0 when no question waits.
int ymodem_kavel_answer_exists(YmodemHostContext* ctx, int answer);

// Closes the current file if one is open (the host's ending; the engine
// closes through its callbacks otherwise).
void ymodem_kavel_close(YmodemHostContext* ctx);

// Bytes of the batch done so far, the current file included.
uint64_t ymodem_kavel_batch_bytes(const YmodemHostContext* ctx);

// After a transfer that went well: "Saved NAME (SIZE)" or "Saved N files"
// (with the directory in *dir), "Sent NAME (SIZE)" or "Sent N files".  0
// while it runs, after any other ending, and after a download that saved
// nothing (every file skipped).
int ymodem_summary(const YmodemHostContext* ctx, char* out, size_t cap, std::string* dir);

// Draws or updates the YMODEM status box: the file, its bytes, "File k of
// n" with the batch's bytes, the check, the error figure or the failure's
// reason (red) or the summary (blue), the speed of the batch, and a bar
// over the batch when its size is known (else over the file).  Progress
// within 200 ms of the last drawing is not drawn.
void ymodem_draw_status(Terminal* t, YmodemHostContext* ctx);
