// The session status bar: one line above the grid in full screen with the
// program name and version, the BBS name, the connected time, a 12-hour
// clock and the own screen's depth icon, in black on light grey.
//
// Every drawing routine here does nothing while the terminal's top bar is
// off, while drawing is suppressed, or without a window or drawing port.
#pragma once
#include <cstddef>
#include <cstdint>
#include <ctime>

struct Terminal;

// Capacity of the two time texts (at most 15 characters and a NUL).
inline constexpr size_t kStatusTimeText = 16;

// Metrics of the bar: the cell of one bar character (8s x 16s with s the
// full-screen scale; outside full screen with the bar the terminal's own
// cell, 10 x 20 when that is not set) and the bar's left edge.
int term_session_status_cell_w(const Terminal* t);
int term_session_status_cell_h(const Terminal* t);
int term_session_status_x0(const Terminal* t);

// "HH:MM:SS" since the terminal's connect start, hours not wrapped at 24;
// "00:00:00" when the start is unknown (0) or in the future.
void term_connected_duration_string(const Terminal* t, char out[kStatusTimeText]);
// The local time on a 12-hour dial ("1:05 PM", "12:30 AM"); "--:-- --" when
// the local time cannot be read.
void current_time_12_string(char out[kStatusTimeText]);
// The same from a given broken-down time; null gives "--:-- --".
void format_time_12(const std::tm* tm, char out[kStatusTimeText]);
// "Kavel v0.20 - Connected to NAME for HH:MM:SS" with the BBS name cut to
// 23 characters ("Kavel" when the terminal has none).
void term_session_status_title(const Terminal* t, char* out, size_t cap);

// Bar text: each character a grey cell of 8s x 16s with its CP437 glyph
// (cp437.f16) in black at scale s.  Without the glyph file the cells stay
// plain grey.
void term_draw_cp437_status_text(Terminal* t, int x, int y, const char* text, int len);
void term_draw_cp437_status_glyph_abs(Terminal* t, int x, int y, uint8_t ch);

// The whole bar; then the terminal's own font, pens and draw mode again.
void term_draw_session_status(Terminal* t);
// Only the connected time, as much of it as fits before the bar's right
// limit; called once a second by the session loop.
void term_draw_session_elapsed_status(Terminal* t);

// Whether a capture runs (session/capture): the bar then shows "CAP" before
// the clock.  Setting it redraws the bar of t (null: only the flag).
void term_status_set_capture(Terminal* t, int on);
int term_status_capture();

// The connection kind of the session ("SSH", "TLS", "RLogin"; "" or null for
// Telnet), shown after the BBS name: "Connected to NAME (SSH) for ...".
void term_status_set_link_kind(const char* label);

// Tests: read the clock from tm instead of the local time (null: the real
// local time again).
void statusbar_test_set_local_time(const std::tm* tm);
