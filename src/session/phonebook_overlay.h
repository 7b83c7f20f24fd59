// The phonebook during a session (Alt+E): the menu's phonebook screen in a
// window of its own over the terminal, titled "Kavel - Phonebook", where
// entries can be browsed, added, edited, deleted and sorted without hanging
// up.  The connection keeps running underneath: received bytes still go
// through Telnet into the (covered) terminal and the transfer engines, and
// Ctrl-C or the BBS hanging up still end the session.
//
// It is a mode of the session loop (session/loop_state.h): the loop opens it
// when the input handler left the phonebook request, hands it its window's
// events and serves the connection in the same turns; the entry editor, the
// popups and the help screen it opens are small modal loops that read only
// their own window while the connection waits.
#pragma once
#include <cstdint>

struct UiContext;
struct PlatEvent;
struct SessionLoop;

inline constexpr const char* kPhonebookOverlayTitle = "Kavel - Phonebook";

// Opens the overlay over the loop's terminal and puts it in front
// (loop->mode) until Escape, its window's close button, or the end of the
// session.  The phonebook is the request's (saved to its path after every
// change; no path means saving is refused, as the menu refuses it for a file
// it could not read whole), or, when none is handed in, the file at the
// request's path ("kavel.phonebook" when empty) loaded here and freed on
// closing.  The list position is read from and written back to the
// request's two pointers, or the loop's own when it has none.  Closing gives
// the terminal its window back, in the window mode chosen meanwhile.
//
// Returns 0; -1 when the overlay could not start (no terminal or window, no
// memory, no window for the overlay).  Its closing answers -1 to the loop
// when the terminal could not get its window back (the session then ends).
int session_open_phonebook_menu(SessionLoop* loop);

// What one window event asks of the overlay.
enum PhonebookOverlayAction : int {
  OVERLAY_NONE = 0,
  OVERLAY_QUIT,       // the window's close button
  OVERLAY_CLOSE,      // Escape
  OVERLAY_REFRESH,    // the window was damaged
  OVERLAY_DEPTH,      // the depth button: the overlay goes to the back
  OVERLAY_UP,         // one entry back
  OVERLAY_DOWN,       // one entry on
  OVERLAY_PAGE_UP,    // seven back
  OVERLAY_PAGE_DOWN,  // seven on
  OVERLAY_HOME,
  OVERLAY_END,
  OVERLAY_DELETE,
  OVERLAY_MODE,     // Alt+Enter: the next window mode
  OVERLAY_TOP_BAR,  // Alt+T: the full-screen status bar
  OVERLAY_ADD,      // Alt+A
  OVERLAY_EDIT,     // Alt+E
  OVERLAY_SORT,     // Alt+S
  OVERLAY_HELP,     // Alt+Z
};

// The overlay's key table.  Alt+Enter and Alt+T go through the session's
// press filters (once per press, held keys do not repeat them); key
// releases only update those filters.  overlay is the overlay's display
// (for the depth-button hit tests).
int phonebook_overlay_action(const PlatEvent& ev, const UiContext* overlay);

// Tests: called once per turn of the loop while the overlay is up (before it
// draws and reads its window's events) with its display, so that a test can
// inject input into the overlay's window and look at what it drew.
extern void (*g_phonebook_overlay_pass_hook)(UiContext* overlay);
