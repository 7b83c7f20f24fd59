// XMODEM and YMODEM (with YMODEM-G) behind the transfer seam, both on one
// XMODEM engine through their own adapters: the adapters' host functions
// (send through the host, the file-exists prompt as a mode of the host's
// loop, the status box, the clock), starting a download or an upload, the
// engine's place in the byte path and the loop, and the two endings:
// leaving a transfer that went well, and the quiet time after one that did
// not.  It knows the session only through its TransferHost.
#pragma once
#include <cstddef>
#include <cstdint>

#include "transfer/host.h"
#include "transfer/protocol.h"
#include "transfer/xmodem.h"
#include "transfer/xmodem_kavel.h"

struct YmodemHostContext;

struct XmodemProtocolState {
  const TransferHost* host;
  // The engine (its first field is the active flag) and XMODEM's adapter,
  // which owns the file.
  XmodemState xmodem;
  XmodemHostContext xmodem_host;
  YmodemHostContext* ymodem_host;  // YMODEM's adapter on that engine; null while XMODEM's runs
  // The engine reads the clock for every byte; the bytes of one read arrive
  // together, so its clock is read once per 64 of them and again at every
  // pump (each turn).  Reads left before the clock is read again.
  uint32_t clock_ms;
  int32_t clock_left;
};

// After a failed or cancelled transfer, what the other side still sends is
// dropped for this long rather than shown as text.
inline constexpr uint32_t kXmodemQuietMs = 8000;

// The XMODEM and YMODEM (with YMODEM-G) rows of a session's table (ctx:
// xp).  Both drive the one engine.
TransferProtocol xmodem_protocol(XmodemProtocolState* xp);
TransferProtocol ymodem_protocol(XmodemProtocolState* xp);

// Binds a zeroed record to its host: the host's transfer directories (the
// user's own directory as the default of both) and the adapter's host
// functions below.
void xmodem_protocol_init(XmodemProtocolState* xp, const TransferHost* host);

// The adapter's host functions; host is the XmodemProtocolState.
// Bytes to the other side in pieces of at most 4096, each one write with
// every 0xFF doubled: 0, or -1 as soon as a piece fails (-1 also without a
// host or bytes; 0 for nothing to send).
int xmodem_kavel_send_cb(void* host, const uint8_t* bytes, size_t count);
// The clock in milliseconds; within one turn a reading serves 64 calls
// (the bytes of one read arrive together), and every pump reads it afresh.
uint32_t xmodem_kavel_now_cb(void* host);
void xmodem_kavel_draw_status_cb(void* host);
// The file-exists prompt (0 overwrite, 1 rename, 2 skip; rename after 5 s),
// with the connection served while it waits.
int xmodem_prompt_receive_exists_cb(void* host, const char* name);

// Starts a download into the download directory under name (asking about an
// existing file) or an upload of name from the upload directory, and puts
// up the status box.  0 started; -1 the file could not be opened; -2 the
// user declined an existing file; kXmodemStartFailed the engine would not
// start (the file is closed again).
inline constexpr int kXmodemStartFailed = -3;
int xmodem_protocol_start_receive(XmodemProtocolState* xp, const char* name);
int xmodem_protocol_start_send(XmodemProtocolState* xp, const char* name);

// YMODEM (and YMODEM-G) on the same engine, through YMODEM's adapter: a
// download of the files the sender announces into the download directory
// (names made safe as ZMODEM's are, the file-exists question for a name that
// exists), or an upload of the files (full paths) in that order.  The loop
// feeds and pumps the engine as for XMODEM; the endings are XMODEM's.  0
// started; -1 nothing started (for an upload ymodem_protocol_text says why:
// "Upload file not found: NAME"); kXmodemStartFailed the engine would not
// start.
int ymodem_protocol_start_receive(XmodemProtocolState* xp, int streaming);
int ymodem_protocol_start_send(XmodemProtocolState* xp, const char* const* paths, int count);
const char* ymodem_protocol_text(const XmodemProtocolState* xp);

// Draws the running (or just ended) transfer's box in full: YMODEM's when
// YMODEM drives the engine, else XMODEM's.
void xmodem_protocol_draw_box(XmodemProtocolState* xp);

// A data byte while XMODEM runs: to the engine, then the ending if it ended
// (or a failure).
void xmodem_protocol_consume(XmodemProtocolState* xp, uint8_t byte);

// The engine's time-outs, for each idle pass while it runs.  0 in every
// case but one the engine never produces (a non-zero result with a
// complete transfer still running), which ends the session.
int xmodem_protocol_pump(XmodemProtocolState* xp);

// A transfer that went well: no quiet time, the file closed, the terminal
// redrawn (which removes the box) and the cursor shown.
void xmodem_leave_success(XmodemProtocolState* xp);

// A transfer that failed or was cancelled: received bytes are dropped for
// kXmodemQuietMs, the file is closed, the terminal redrawn and the cursor
// shown.  A failure's box stays up with its reason for a moment first (the
// terminal is redrawn when that time is over).  The engine is not touched.
void xmodem_enter_binary_quiet(XmodemProtocolState* xp);

// Clears the window's inner area to colour 0 and redraws the terminal, so
// the status box starts on a clean picture.
void xmodem_clear_terminal_overlay(XmodemProtocolState* xp);

// Escape while XMODEM runs: "XMODEM canceled" with the cancel sequence,
// then the quiet time.
void xmodem_protocol_escape(XmodemProtocolState* xp);

// The session is closing: a transfer still running ends with "XMODEM
// interrupted by disconnect" (the peer closed) or "XMODEM canceled", and a
// file still open is closed.
void xmodem_protocol_end(XmodemProtocolState* xp, int closed_by_peer);

// After anything that repainted the terminal: the box of a running XMODEM
// transfer is drawn again in full.
void xmodem_protocol_redraw_status(XmodemProtocolState* xp);
