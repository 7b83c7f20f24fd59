// The phonebook during a session (Alt+E): the menu's phonebook screen in a
// window of its own over the terminal, titled "Kavel - Phonebook", where
// entries can be browsed, added, edited, deleted and sorted without hanging
// up.  The connection keeps running underneath: received bytes still go
// through Telnet into the (covered) terminal and the transfer engines, and
// Ctrl-C or the BBS hanging up still end the session.
//
// The session loop calls it when the input handler left the phonebook
// request; the loop's own turn (session_pump_turn, nested) keeps the socket
// served between the overlay's key reads.
#pragma once
#include <cstdint>

struct Session;
struct UiContext;
struct Phonebook;
struct PlatEvent;

inline constexpr const char* kPhonebookOverlayTitle = "Kavel - Phonebook";

// Runs the overlay until Escape, its window's close button, or the end of
// the session.  The phonebook is the menu's (saved to phonebook_path after
// every change; no path means saving is refused, as the menu refuses it for
// a file it could not read whole), or, when none is handed in, the file at
// phonebook_path ("kavel.phonebook" when empty) loaded here and freed on
// return.  The list position is read from and written back to the two
// pointers (null: the overlay keeps none).  *running and *closed_by_peer are
// the session loop's flags.  ui is the menu display the session borrows its
// window from (null on the direct path); title the terminal window's.
//
// Returns 0; -1 when the overlay could not start (no terminal or window, no
// memory, no window for the overlay) or the terminal could not get its
// window back (the session then ends).
int session_open_phonebook_menu(Session* s, UiContext* ui, Phonebook* phonebook,
                                const char* phonebook_path, int* selected_index,
                                int* first_visible_index, int* running, int* closed_by_peer,
                                const char* title);

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

// Tests: called at the top of every pass of the overlay's loop with its
// display, so that a test can inject input into the overlay's window and
// look at what it drew.
extern void (*g_phonebook_overlay_pass_hook)(UiContext* overlay);
