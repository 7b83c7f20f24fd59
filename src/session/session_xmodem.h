// XMODEM and YMODEM in a session (both run on the XMODEM engine, through
// their own adapters): the adapters' host functions (send through the
// Telnet sender, the file-exists prompt, the status box, the clock),
// starting a download or an upload, the engine's place in the byte path and the loop,
// and the two endings: leaving a transfer that went well, and the quiet time
// after one that did not.
#pragma once
#include <cstddef>
#include <cstdint>

#include "transfer/protocol.h"

struct Session;

// After a failed or cancelled transfer, what the other side still sends is
// dropped for this long rather than shown as text.
inline constexpr uint32_t kXmodemQuietMs = 8000;

// The XMODEM and YMODEM (with YMODEM-G) protocols of the session's table
// (ctx: the Session).  Both drive the session's one XMODEM engine.
TransferProtocol session_xmodem_protocol(Session* s);
TransferProtocol session_ymodem_protocol(Session* s);

// Binds the adapter to the session: the preferences' transfer directories,
// "PROGDIR:Transfers" as the default of both, and the host functions below.
// session_init calls it.
void session_xmodem_init(Session* s);

// The adapter's host functions; host is the Session.
// Bytes to the other side in pieces of at most 4096, each one write with
// every 0xFF doubled: 0, or -1 as soon as a piece fails (-1 also without a
// session or bytes; 0 for nothing to send).
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
int session_xmodem_start_receive(Session* s, const char* name);
int session_xmodem_start_send(Session* s, const char* name);

// YMODEM (and YMODEM-G) on the same engine, through YMODEM's adapter: a
// download of the files the sender announces into the download directory
// (names made safe as ZMODEM's are, the file-exists question for a name that
// exists), or an upload of the files (full paths) in that order.  The loop
// feeds and pumps the engine as for XMODEM; the endings are XMODEM's.  0
// started; -1 nothing started (for an upload session_ymodem_text says why:
// "Upload file not found: NAME"); kXmodemStartFailed the engine would not
// start.
int session_ymodem_start_receive(Session* s, int streaming);
int session_ymodem_start_send(Session* s, const char* const* paths, int count);
const char* session_ymodem_text(const Session* s);

// Draws the running (or just ended) transfer's box in full: YMODEM's when
// YMODEM drives the engine, else XMODEM's.
void session_xmodem_draw_box(Session* s);

// A data byte while XMODEM runs: to the engine, then the ending if it ended
// (or a failure).
void session_xmodem_consume(Session* s, uint8_t byte);

// The engine's time-outs, for each idle pass while it runs.  0 in every
// case but one the engine never produces (a non-zero result with a
// complete transfer still running), which ends the session.
int xmodem_pump_session(Session* s);

// A transfer that went well: no quiet time, the file closed, the terminal
// redrawn (which removes the box) and the cursor shown.
void xmodem_leave_success(Session* s);

// A transfer that failed or was cancelled: received bytes are dropped for
// kXmodemQuietMs, the file is closed, the terminal redrawn and the cursor
// shown.  A failure's box stays up with its reason for a moment first (the
// terminal is redrawn when that time is over).  The engine is not touched.
void xmodem_enter_binary_quiet(Session* s);

// Clears the window's inner area to colour 0 and redraws the terminal, so
// the status box starts on a clean picture.
void xmodem_clear_terminal_overlay(Session* s);

// Escape while XMODEM runs: "XMODEM canceled" with the cancel sequence,
// then the quiet time.
void session_xmodem_escape(Session* s);

// The session is closing: a transfer still running ends with "XMODEM
// interrupted by disconnect" (the peer closed) or "XMODEM canceled", and a
// file still open is closed.
void session_xmodem_end(Session* s, int closed_by_peer);

// After anything that repainted the terminal: the box of a running XMODEM
// transfer is drawn again in full.
void session_xmodem_redraw_status(Session* s);
