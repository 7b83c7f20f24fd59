// The session's side of file transfers: the host record it fills for the
// protocols (transfer/host.h), its table of protocols (transfer/protocol.h)
// and what the loop, the key input and the choosers do through it, the box
// a transfer leaves up for a moment when it ends, and the terminal's byte.
//
// The protocols themselves (transfer/zmodem_protocol, xmodem_protocol) know
// the session only through the host record.  session_init fills it and the
// table, so every Session is ready for a transfer; a tool that answers the
// file-exists question or picks the upload itself replaces the engine's
// hooks after session_init.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "transfer/protocol.h"

struct Session;
struct PlatEvent;

// Fills the host record and the table of protocols of a freshly zeroed
// Session.  Adding a protocol is a row here (and its own file), nothing in
// the loop or the key input.
void session_transfer_init(Session* s);

// The running protocol has a question of its own up in front of the
// terminal (the file-exists prompt): the window's events are its, and the
// terminal's cursor blink and music wait.
bool session_transfer_in_front(const Session* s);
// A window event, offered first to the running protocol: 1 when it took it
// (it is in front), else 0 and the key input handles it.
int session_transfer_event(Session* s, const PlatEvent& ev);

// The transfer work of one loop turn: detection bytes held too long go to
// the terminal, the running protocol's timers (the next slice of a
// streaming upload, a question's time-out), and the terminal redrawn once a
// held box has been up for three seconds.  Non-zero when a send failed:
// the connection is gone.
int session_transfer_poll(Session* s);

// An upload is streaming: the loop must not pause between turns.
bool session_transfer_streaming(const Session* s);

// The running protocol holds the keyboard: keys are not typed at the BBS,
// Escape cancels.
bool session_transfer_holds_keys(const Session* s);

// Bytes the protocols' start detection holds go to the terminal: with force
// 0 only those held too long, with force 1 all.  Nothing while a transfer
// runs (they are its bytes).
void session_transfer_flush_detect(Session* s, int force);

// A data byte no transfer claims: each protocol's start detection, then the
// terminal (bytes a detection gave up on first).
void session_transfer_detect_or_show(Session* s, uint8_t byte);

// Escape while a transfer runs: the running protocol's cancel.  ZMODEM's
// says "Download cancelled" or "Upload cancelled", with the cancel sequence
// to the other side.  As after every ending that sent the cancel sequence,
// the data still under way (and the BBS's echo of the sequence) is then
// dropped for two seconds (kCancelQuietMs) rather than shown as text (or
// taken for the start of another transfer).
void session_transfer_escape(Session* s);

// The session is closing: every protocol's end.  For ZMODEM an unfinished
// transfer ends with "ZMODEM interrupted by disconnect" (the peer closed) or
// "ZMODEM cancelled"; a download whose sender had already said it was done
// (its ZFIN came, every file complete) ends as finished.
void session_transfer_end(Session* s, int closed_by_peer);

// After anything that repainted the terminal: the status box of a running
// transfer is drawn again in full.
void session_transfer_redraw_status(Session* s);

// Alt+D: the protocol chooser titled "Download", listing the rows of the
// table's protocols; the chosen row's protocol starts.  ZMODEM downloads
// start by themselves when the sender begins, so "Z-Modem" starts nothing
// and says so (kZmodemWaitNote, held like a transfer's box); "X-Modem" asks
// for a name ("Save as") and starts receiving.  -1 without a terminal or
// when the chosen protocol failed to start, else 0.
int session_open_download_menu(Session* s);
// Alt+U: the protocol chooser titled "Upload"; "Z-Modem" and "X-Modem" pick
// a file and send it.  -1 without a terminal, when the ZMODEM upload could
// not be started for a failed send or the XMODEM engine not started, else
// 0.  Nothing is shown while a transfer runs.
int session_open_upload_menu(Session* s);

// The files the user picks from the upload directory (Space marks several),
// as full paths: 1 when there are some, 0 when there is nothing to send (the
// picker was left, or a transfer started meanwhile), -1 for a picked name
// whose path does not fit (*missing names it).  The host's upload picker.
int session_pick_upload_paths(Session* s, std::vector<std::string>* paths, std::string* missing);

// The terminal interpreter of the session's mode for a data byte no
// transfer took (the capture sees it too).
void session_terminal_byte(Session* s, uint8_t byte);
