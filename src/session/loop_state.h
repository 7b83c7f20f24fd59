// The session loop's records: what a session is started with, the state the
// loop keeps between turns, and the modes it can put in front of the
// terminal.  Header only, so that a mode (the in-session phonebook) and the
// paste can see the loop without including the loop, which includes them.
#pragma once
#include <cstdint>

struct Session;
struct UiContext;
struct PhoneEntry;
struct Phonebook;
struct PlatWindow;
struct PlatEvent;
struct SessionLoop;

// One call of run_session_common.  The direct path leaves ui, entry and the
// phonebook context null.
struct SessionRequest {
  const char* host = nullptr;  // a host, "host:port" or a link address (ssh://...)
  int port = 0;
  int emulation = 0;                     // kEmulationPetscii (5); any other value is ANSI
  const char* font = nullptr;            // null or empty: "CP437"
  const char* login_user = nullptr;      // Alt+L's; null: none
  const char* login_password = nullptr;  // null: none
  PhoneEntry* entry = nullptr;           // the dialed entry (its name on the status bar)
  UiContext* ui = nullptr;               // the menu's display the session borrows its window from

  // What the in-session phonebook works on: the menu's phonebook, its path
  // (null: saving is refused) and list position.  Without a phonebook the
  // file at the path ("kavel.phonebook" when empty) is read, and without
  // the position pointers the loop keeps one of its own.
  Phonebook* phonebook = nullptr;
  const char* phonebook_path = nullptr;
  int* selected_index = nullptr;
  int* first_visible_index = nullptr;
};

// A mode of the loop: something put in front of the terminal for a while (the
// in-session phonebook) that gets the events of its own window from the
// loop.  The loop still serves the link every turn; the terminal's window is
// still read, but while a covering mode is up its top bar and phonebook
// requests are dropped and a full-screen request waits for the mode to end.
struct SessionModeOps {
  // Once per turn, before the window's events: the mode's drawing and clocks.
  void (*turn)(void* ctx);
  // The window whose events go to the mode (it may reopen it); null: none.
  PlatWindow* (*window)(void* ctx);
  // One event of that window.  Non-zero: the mode is done (the rest of the
  // queue is left for whatever comes next).
  int (*event)(void* ctx, const PlatEvent& ev);
  // After the turn's events.  Non-zero: the mode is done.
  int (*settle)(void* ctx);
  // Takes the mode down and frees ctx: the terminal gets its window, font
  // and drawing back.  Called once, when the mode is done or the session is
  // ending.  -1 when the terminal could not be given its window back (the
  // session then ends).
  int (*close)(void* ctx, SessionLoop* loop);
};

struct SessionMode {
  const SessionModeOps* ops;  // null: no mode, the terminal is in front
  void* ctx;
  int covers_terminal;  // the terminal is hidden under it (its drawing held)
};

// The state of a running session loop, kept between turns.
struct SessionLoop {
  Session* s;
  UiContext* ui;
  const char* title;        // the terminal window's title (mode changes reopen it)
  uint8_t* buf;             // receive buffer of at least kRecvChunkTransfer bytes
  int running;              // cleared to end the session
  int closed_by_peer;       // the peer closed the connection (or the socket failed)
  uint32_t next_tick;       // when the status bar's connected time is drawn next
  uint64_t bytes_received;  // everything read from the socket (tools time idleness by it)

  // What the session was started with (null for a loop run without one: the
  // tools, the tests); the in-session phonebook reads its phonebook context.
  const SessionRequest* request;
  // The list position of the in-session phonebook when the request has no
  // pointers for it, so that it survives reopening.
  int overlay_selected;
  int overlay_first_visible;

  // The mode in front of the terminal, if any.
  SessionMode mode;
};

inline bool session_loop_covered(const SessionLoop* loop) {
  return loop->mode.ops && loop->mode.covers_terminal;
}
