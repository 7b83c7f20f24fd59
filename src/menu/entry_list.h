// The phonebook screen: the embedded art with the seven visible entry rows,
// the selection bar, the version and the clock painted over it; the
// full-screen top bar.
//
// Drawing is incremental: the screen cache of display/ui_surface.h
// remembers what the list was last drawn with, and a move of the selection
// alone repaints only the old and the new row.  Whoever draws over the
// screen calls ui_invalidate_menu_caches and the next draw repaints all.
#pragma once

#include <cstddef>

#include "display/ui_surface.h"

struct Phonebook;

inline constexpr int kMenuListRows = 7;
inline constexpr int kMenuListFirstRow = 11;

// Set while the main list waits for a key: the version and clock are then
// drawn even when the top bar is off.
extern int g_main_menu_time_active;

// What the list knows of an address's connection kind, from the layer that
// opens connections (the app sets it at start): the label ("SSH", "TLS",
// "RLogin"; "" for Telnet or a text that is no address), and for a labelled
// kind the host and the port the call uses.  Null: every address is shown as
// written.
using EntryLinkKindFn = const char* (*)(const char* address, int port, char* host, size_t cap,
                                        int* call_port);
extern EntryLinkKindFn g_entry_list_link_kind;

// The whole phonebook screen, or only what changed since the last draw.
void ui_draw_entry_list(UiContext* ui, const Phonebook* pb, int selected, int offset);
// One visible row (nothing for an index outside the list or the view).
void ui_draw_entry_list_row(UiContext* ui, const Phonebook* pb, int index, int offset,
                            int selected);
// The 74-byte text of one row: name, address, port and type label in their
// columns.
void ui_format_entry_row(const Phonebook* pb, int index, char line[75]);
// The version and clock: in the art's status strip in a window, in the top
// bar in full screen.
void ui_draw_main_menu_time(UiContext* ui);
// Switches the full-screen top bar on or off.
void ui_toggle_menu_top_bar(UiContext* ui);
