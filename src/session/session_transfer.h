// The session's side of file transfers: its table of protocols (see
// transfer/protocol.h) and what the loop, the key input and the choosers do
// through it; the ZMODEM protocol's row, whose engine hooks tie it to this
// session's link, terminal, settings and dialogs; and the box a transfer
// leaves up for a moment when it ends.
//
// The engine's hooks get the Session as their context.  session_init installs
// them, so every Session is ready for a transfer; a tool that answers the
// file-exists question or picks the upload itself replaces those two hooks
// after session_init.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "transfer/protocol.h"

struct Session;
struct PlatEvent;

// The files of a ZMODEM upload after the first, offered one by one as the
// receiver takes each (the engine's next_upload hook).
struct UploadQueue {
  std::vector<std::string> paths;  // full paths, the first one included
  std::vector<uint64_t> sizes;     // their sizes when picked
  size_t next;                     // the next to offer
};

// Installs the ZMODEM hooks, binds the XMODEM adapter and fills the table
// of protocols of a freshly zeroed Session.  Adding a protocol is a row
// here (and its own file), nothing in the loop or the key input.
void session_transfer_init(Session* s);

// The ZMODEM protocol of the session's table (ctx: the Session).
TransferProtocol session_zmodem_protocol(Session* s);

// The running protocol has a question of its own up in front of the
// terminal (the file-exists prompt): the window's events are its, and the
// terminal's cursor blink and music wait.
bool session_transfer_in_front(const Session* s);
// A window event, offered first to the running protocol: 1 when it took it
// (it is in front), else 0 and the key input handles it.
int session_transfer_event(Session* s, const PlatEvent& ev);

// Sends bytes of a transfer in one piece with every 0xFF doubled (Telnet
// IAC).  A peer that is slow to take them is waited for (the thread does
// nothing else meanwhile) up to kTransferSendStallMs; 0, or -1 when the
// connection failed or stalled that long.
int session_transfer_send(Session* s, const uint8_t* bytes, size_t len);
inline constexpr uint32_t kTransferSendStallMs = 30000;

// The transfer work of one loop turn: detection bytes held too long go to
// the terminal, the running protocol's timers (the next slice of a
// streaming upload), and the terminal redrawn once a failed transfer's box
// (which gives the reason) has been up for three seconds.  Non-zero when a
// send failed: the connection is gone.
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

// How long a transfer's box stays up once the transfer has ended with
// something to say (a failure's reason, what was saved or sent), and the
// boxes that do so.
inline constexpr uint32_t kTransferBoxShownMs = 3000;
enum : int32_t {
  kHeldBoxNone = 0,
  kHeldBoxProtocol = 1,  // a protocol's box (its draw_box)
  kHeldBoxNote = 3,      // Alt+D, Z-Modem: what to do next
  kHeldBoxCapture = 4,   // a capture's or screen save's note (session/capture)
};
// Keeps the box of that kind up for kTransferBoxShownMs: the terminal is
// redrawn when the time is over (session_transfer_poll), or at once when a
// new transfer starts.  Text arriving meanwhile is drawn, and the box over
// it again.
void session_transfer_hold_box(Session* s, int32_t kind);
// The same for the box of protocol p (kHeldBoxProtocol).
void session_transfer_hold_protocol_box(Session* s, const TransferProtocol& p);

// The text of Alt+D, Z-Modem.
inline constexpr const char* kZmodemWaitNote =
    "Waiting for the BBS to send; start the download there.";

// Escape while a transfer runs: the running protocol's cancel.  ZMODEM's
// says "Download cancelled" or "Upload cancelled", with the cancel sequence
// to the other side.  As after every ending that sent the cancel sequence,
// the data still under way (and the BBS's echo of the sequence) is then
// dropped for two seconds rather than shown as text (or taken for the start
// of another transfer).
void session_transfer_escape(Session* s);
inline constexpr uint32_t kCancelQuietMs = 2000;

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
// Lets the user pick files from the upload directory (Space marks several)
// and starts sending them with ZMODEM, one after another: 0 when started or
// when nothing was picked, -1 on failure.  A file whose path does not fit
// ends as a missing one does ("Upload file not found", shown in the box).
int session_start_upload(Session* s);

// The files the user picks from the upload directory (Space marks several),
// as full paths: 1 when there are some, 0 when there is nothing to send (the
// picker was left, or a transfer started meanwhile), -1 for a picked name
// whose path does not fit (*missing names it).
int session_pick_upload_paths(Session* s, std::vector<std::string>* paths, std::string* missing);

// The terminal interpreter of the session's mode for a data byte no
// transfer took (the capture sees it too).
void session_terminal_byte(Session* s, uint8_t byte);

// The download directory as the engine uses it: g_download_path trimmed, the
// default when empty, "PROGDIR:" resolved; the default Transfers directory
// is created when missing.  The text stays valid until the next call.
const char* session_download_dir();
