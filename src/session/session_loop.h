// One BBS session from connect to hang-up, and the inbound byte dispatcher.
#pragma once
#include <cstdint>

struct Session;
struct Terminal;
struct UiContext;
struct PhoneEntry;

#include "link/link.h"
#include "session/loop_state.h"

// How a session without a menu window (the direct path, the console
// dialogue) answers its link's questions (host keys, certificates,
// passphrases): the app sets it; the empty default answers no / nothing.
// With a menu window the questions are boxes in that window.
extern LinkPrompts g_session_prompts_without_window;

// One whole session: the dialing display (from the menu), the connect, the
// terminal bound to a window, the loop, and the way back.  Results besides 0
// (a session took place) are the connect outcomes: -1 failure, -2 cancelled
// while dialing or connecting, -3 timed out.
int run_session_common(const SessionRequest* req);

// Gives a terminal that term_open bound to a window its session settings: the
// reply socket, the BBS name of the status bar (the entry's name, or the host
// when there is no entry or its name is empty), the connect time, a clear
// screen, the scrollback storage (none when it cannot be had: no capture),
// the cursor and the status bar.  Sets s->terminal.
void session_bind_terminal(Session* s, Terminal* t, const PhoneEntry* entry, const char* host);

// The other end: hides the cursor, clears the drawable area, closes the
// terminal's surface, frees the scrollback storage and detaches everything;
// forgets a Shift press no character used.
void session_release_terminal(Session* s);

// Also points s->loop at the loop, for the modal pieces that run its turns.
void session_loop_init(SessionLoop* loop, Session* s, UiContext* ui, const char* title,
                       uint8_t* buf);

// One turn of the session loop, for the loop itself and for the tools and
// tests that drive a session turn by turn.  In order:
//   1. the terminal window's input (keys, mouse, refresh, close) and the
//      requests it left: top bar, phonebook (which puts the in-session
//      phonebook in front), full screen, the first two dropped and the last
//      kept for later while a mode covers the terminal; a transfer whose
//      question is up in front gets the window's events; then the mode in
//      front, if one is up (loop->mode): its turn (drawing, its clock), its
//      window's events, and its end, which gives the terminal back; then
//      the transfer pumps (timers, the next slice of a streaming upload) and
//      the next line of a paste;
//   2. the Ctrl-C break flag;
//   3. unless the session is ending, one read of at most kRecvChunk bytes
//      (kRecvChunkTransfer during a transfer), each byte through Telnet to
//      session_data_byte, with the input of step 1 served again every 16
//      bytes (256 during a transfer), then input and pumps once more (the
//      input not while a mode covers the terminal: the break flag is still
//      tested between chunks); a read that finds the peer gone sets
//      closed_by_peer, and so does a transfer whose send failed;
//   4. start-detection bytes held too long go to the terminal;
//   5. the cursor blink (not while a transfer's question is up in front of
//      the terminal), and the status bar's connected time once a second
//      (and after every read);
//   6. when nothing was read, a pause of at most one tick (20 ms), ended
//      early by data on the socket or input in the window in front; none
//      while an upload streams;
//   7. once the session is ending, a mode still up is closed, so that the
//      terminal has its window back for the "Disconnected" notice.
// Returns the running flag: 0 once the session is to end.
int session_pump_turn(SessionLoop* loop);

// The main loop of a session whose terminal is bound: session_pump_turn
// until the running flag drops, then the transfers' end.  Returns 1 when
// the peer closed the connection (or the socket failed), else 0.  buf holds
// at least kRecvChunkTransfer bytes.
int session_main_loop(Session* s, UiContext* ui, const char* title, uint8_t* buf);

// The "Disconnected" notice over the terminal, up until a key press, a mouse
// button or a close request; a refresh meanwhile redraws grid and notice.
void session_wait_disconnected_notice(Terminal* t);

// One received byte through the Telnet layer to session_data_byte.
void session_receive_byte(Session* s, uint8_t byte);

// Decides who gets one data byte (after Telnet): the running transfer's
// protocol, the quiet time, the protocols' start detection or the terminal
// interpreter.
void session_data_byte(Session* s, uint8_t byte);
