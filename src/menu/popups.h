// The menu's small modal pieces: the yes/no question, the sort choice, the
// two-second "Unable to connect" notice, the full-screen message and the
// help screen.  Each draws over the current screen and leaves the repaint
// to its caller (the menu caches are invalidated where the screen changes).
#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "display/ui_surface.h"

// One drawing of the yes/no box with YES (selected 1) or NO (0) on the bar.
void ui_draw_confirm(UiContext* ui, const char* question, int yes_selected);
// Asks a question: 1 yes, 0 no.  Starts on NO; Left/Up select YES,
// Right/Down NO; Return answers the selection, y yes, n or Escape no; a
// closed window answers no.
int ui_confirm(UiContext* ui, const char* question);

// The questions a connection asks while it opens (a host key, a certificate,
// a passphrase), in the same box as the yes/no question, made taller and
// wider for lines of detail.  Details are lines split at '\n'; a line longer
// than kUiDetailColumns is wrapped at a space (or cut where it has none), so
// that a path or a fingerprint never runs out of the box.
inline constexpr int kUiDetailColumns = 64;
std::vector<std::string> ui_detail_lines(const char* details);
// One drawing of the yes/no box with the detail lines above the question.
void ui_draw_confirm_details(UiContext* ui, const char* question, const char* details,
                             int yes_selected);
// ui_confirm with detail lines: the same keys, the same answers.
int ui_confirm_details(UiContext* ui, const char* question, const char* details);
// Asks for a secret (a passphrase, a password): the prompt, and a field that
// shows one "*" per character typed.  Return enters it (1), Escape or a
// closed window cancels (0, out emptied); Backspace takes the last character
// back.  At most cap - 1 bytes go into out.
int ui_ask_secret(UiContext* ui, const char* prompt, char* out, size_t cap);
// A warning (a changed host key or certificate) with "Press any key to
// continue." under it, until a key or a closed window.
void ui_warn(UiContext* ui, const char* text);

// One drawing of the sort choice (0 by name, 1 by software).
void ui_draw_sort_popup(UiContext* ui, int selected);
// 0 sort by name, 1 sort by software, -1 cancelled.
int ui_choose_sort_mode(UiContext* ui);

// "Unable to connect" in a box, then two seconds' pause.  A reason (null or
// empty: none) goes on a line of its own under it, in a box made taller (and
// wider, when the reason needs it) for it.
void ui_popup_timed(UiContext* ui, const char* reason = nullptr);
// How long ui_popup_timed pauses, in ticks of 1/50 s (tests shorten it).
extern int g_ui_popup_timed_ticks;

// A message on a cleared screen with "Press any key to continue."; returns
// the key that dismissed it (a redraw request repaints and waits on).
int ui_message(UiContext* ui, const char* text);

// The help screen until a key; returns that key.  With a phonebook path,
// a line under the legend says which file that is.
int ui_show_help_screen(UiContext* ui, const char* phonebook_path = nullptr);
// That line: "Phone book: " and the path, in the screen's CP437, its end
// kept when it is longer than the 76 cells the line has.
std::string ui_help_phonebook_line(const char* phonebook_path);
