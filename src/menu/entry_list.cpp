// The phonebook screen and its incremental drawing.
#include "menu/entry_list.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "assets/embedded.h"
#include "display/fonts.h"
#include "display/modes.h"
#include "display/statusbar.h"
#include "menu/ui_draw.h"
#include "phonebook/phonebook.h"
#include "platform/display.h"
#include "util/address.h"
#include "util/charset.h"
#include "util/text.h"
#include "util/version.h"

EntryLinkKindFn g_entry_list_link_kind = nullptr;
int g_main_menu_time_active = 0;

namespace {

constexpr int kListCol = 2;
constexpr int kListCells = 75;
constexpr const char* kNoEntries = "No entries yet.";

// The list's view of the art: cache says the art and the rows are on screen.
bool art_cached() {
  return g_ui_cache_valid && g_ui_cache_view == 2 && g_ui_cache_ansi;
}

void remember(int selected, int offset, int count) {
  g_entry_last_selected = selected;
  g_entry_last_offset = offset;
  g_entry_last_count = count;
}

void blank_list(UiContext* ui) {
  for (int r = 0; r < kMenuListRows; r++)
    ui_text_bg_cell(ui, kMenuListFirstRow + r, kListCol, kListCells, "", UI_BLACK, UI_BLACK);
}

void draw_rows(UiContext* ui, const Phonebook* pb, int selected, int offset) {
  for (int i = offset; i < offset + kMenuListRows && i < static_cast<int>(pb->count); i++)
    ui_draw_entry_list_row(ui, pb, i, offset, selected);
}

// The name column's text: favourites get a "* " in front.
void name_text(const PhoneEntry* e, char out[80]) {
  // The name is cut to the field's capacity after its "* ".
  if (e->favourite) {
    out[0] = '*';
    out[1] = ' ';
    safe_copy(out + 2, 78, e->name);
  } else {
    safe_copy(out, 80, e->name);
  }
}

// The address column of width cells and the port the call uses.  For SSH,
// TLS and RLogin the column is the host with the kind after it ("bbs.example
// SSH"), the host cut so that the kind always shows; Telnet addresses stay as
// written.  The host is UTF-8, the screen CP437.
std::string address_column(const PhoneEntry* e, size_t width, int* port) {
  char host[256];
  int call_port = 0;
  const char* label = g_entry_list_link_kind ? g_entry_list_link_kind(e->address, e->port, host,
                                                                      sizeof host, &call_port)
                                             : "";
  if (!label || !*label) {
    *port = address_port(e->address, e->port);
    return utf8_to_charset_text(CHARSET_CP437, e->address);
  }
  *port = call_port;
  std::string kind = label;
  std::string shown = utf8_to_charset_text(CHARSET_CP437, host);
  size_t room = width > kind.size() + 1 ? width - kind.size() - 1 : 0;
  if (shown.size() > room) shown.resize(room);
  return shown + " " + kind;
}

// Without the art: a plain list that is repainted whole every time.
void draw_plain(UiContext* ui, const Phonebook* pb, int selected, int offset) {
  ui_clear_drawable_area_raw(ui);
  ui_text(ui, 1, "Phone book entries", UI_LIGHT_CYAN);
  ui_draw_main_menu_time(ui);
  int count = pb ? static_cast<int>(pb->count) : 0;
  if (count == 0) {
    ui_text(ui, 4, kNoEntries, UI_WHITE);
  } else {
    char line[256];
    snprintf(line, sizeof line, "    %-18s %-24s %-5s %s", "BBS Name", "Address", "Port", "Type");
    ui_text(ui, 3, line, UI_LIGHT_CYAN);
    snprintf(line, sizeof line, "    %-18s %-24s %-5s %s", "--------", "-------", "----", "----");
    ui_text(ui, 4, line, UI_DARK_GREY);
    int cw = ui->cell_w > 0 ? ui->cell_w : 10;
    int ch = ui->cell_h > 0 ? ui->cell_h : 20;
    for (int r = 0; r < kMenuListRows && offset + r < count; r++) {
      const PhoneEntry* e = &pb->entries[offset + r];
      char name[80];
      name_text(e, name);
      int port = 0;
      std::string address = address_column(e, 24, &port);
      snprintf(line, sizeof line, "    %-18s %-24s %-5d %s", name, address.c_str(), port,
               entry_type_display(e));
      // The text never runs past the window.
      PlatWindowGeometry g = plat_window_geometry(ui->window);
      int fits = (g.width - g.border_right - ui_text_left(ui)) / cw;
      line[std::clamp<int>(fits, 0, sizeof line - 1)] = '\0';
      int row = 5 + r;
      if (offset + r == selected) {
        int x0 = ui_text_left(ui);
        int y0 = ui_cell_y(ui, row);
        int x1 = std::min(x0 + 76 * cw - 1, g.width - g.border_right - 10);
        ui_fill(ui, x0, y0, x1, y0 + ch - 1, UI_BLUE);
        ui_text_on(ui, row, line, UI_WHITE, UI_BLUE);
      } else {
        ui_text(ui, row, line, UI_WHITE);
      }
    }
    if (count > kMenuListRows) {
      snprintf(line, sizeof line, "Showing %d-%d of %lu", offset + 1,
               std::min(offset + kMenuListRows, count), static_cast<unsigned long>(count));
      ui_text(ui, 22, line, UI_DARK_GREY);
    }
  }
  g_ui_cache_valid = 1;
  g_ui_cache_view = 2;
  g_ui_cache_ansi = 0;
  remember(selected, offset, count);
}

// The depth button: two overlapping outlined rectangles, the front one white.
void draw_depth_button(UiContext* ui, int x, int sw, int sh) {
  int w = 3 * sw;
  int bx0 = x + w / 6;
  int by0 = sh / 6;
  int bw = w / 2;
  int bh = sh / 2;
  int line = std::max(1, sh / 16);
  auto outline = [&](int x0, int y0, int x1, int y1, int face) {
    ui_fill(ui, x0, y0, x1, y1, UI_BLACK);
    ui_fill(ui, x0 + line, y0 + line, x1 - line, y1 - line, face);
  };
  outline(bx0, by0, bx0 + bw, by0 + bh, UI_DARK_GREY);
  outline(bx0 + bw / 2, by0 + bh / 2, bx0 + bw + bw / 2, by0 + bh + bh / 2, UI_WHITE);
}

}  // namespace

void ui_format_entry_row(const Phonebook* pb, int index, char line[75]) {
  memset(line, ' ', kUiEntryLineLen);
  line[kUiEntryLineLen] = '\0';
  if (!pb || index < 0 || index >= static_cast<int>(pb->count)) return;
  const PhoneEntry* e = &pb->entries[index];
  char name[80];
  name_text(e, name);
  // The port the call will use (one in the address wins), and the address,
  // a host name in UTF-8, as the screen's CP437.
  int call_port = 0;
  std::string address = address_column(e, 22, &call_port);
  char port[16];
  snprintf(port, sizeof port, "%d", call_port);
  ui_put_entry_field(line, 0, 24, name);
  ui_put_entry_field(line, 28, 22, address.c_str());
  ui_put_entry_field(line, 54, 5, port);
  ui_put_entry_field(line, 63, 11, entry_type_display(e));
  // Control bytes would be taken for CP437 pictures; a list shows text.
  for (int i = 0; i < kUiEntryLineLen; i++)
    if (static_cast<uint8_t>(line[i]) < 0x20) line[i] = ' ';
}

void ui_draw_entry_list_row(UiContext* ui, const Phonebook* pb, int index, int offset,
                            int selected) {
  if (!pb || index < 0 || index >= static_cast<int>(pb->count) || index < offset ||
      index - offset >= kMenuListRows)
    return;
  char line[kUiEntryLineLen + 1];
  ui_format_entry_row(pb, index, line);
  int bg = index == selected ? UI_BLUE : UI_BLACK;
  int row = kMenuListFirstRow + (index - offset);
  ui_text_bg_cell(ui, row, kListCol, kListCells, "", UI_WHITE, bg);
  ui_text_bg_cell(ui, row, kListCol, kUiEntryLineLen, line, UI_WHITE, bg);
}

void ui_draw_entry_list(UiContext* ui, const Phonebook* pb, int selected, int offset) {
  if (!ui_can_draw(ui)) return;
  int saved_active = g_main_menu_time_active;
  g_main_menu_time_active = 1;
  int count = pb ? static_cast<int>(pb->count) : 0;
  if (selected < 0) selected = 0;
  if (offset < 0) offset = 0;
  if (count > 0) {
    if (selected >= count) selected = count - 1;
    if (offset >= count) offset = 0;
  }

  if (art_cached()) {
    if (count > 0 && offset == g_entry_last_offset && count == g_entry_last_count) {
      if (selected != g_entry_last_selected) {
        int old = g_entry_last_selected;
        g_entry_last_selected = selected;
        ui_draw_entry_list_row(ui, pb, old, offset, selected);
        ui_draw_entry_list_row(ui, pb, selected, offset, selected);
      }
    } else if (count > 0) {
      blank_list(ui);
      draw_rows(ui, pb, selected, offset);
      remember(selected, offset, count);
    } else {
      blank_list(ui);
      ui_text_bg_cell(ui, kMenuListFirstRow, kListCol, 74, kNoEntries, UI_WHITE, UI_BLACK);
      remember(selected, offset, 0);
    }
    ui_draw_main_menu_time(ui);
  } else if (ui_draw_ansi_buffer(ui, kavel_menu_ans, kavel_menu_ans_len)) {
    ui_draw_main_menu_time(ui);
    if (count == 0) {
      ui_text_bg_cell(ui, kMenuListFirstRow, kListCol, 74, kNoEntries, UI_WHITE, UI_BLACK);
    } else {
      draw_rows(ui, pb, selected, offset);
    }
    g_ui_cache_valid = 1;
    g_ui_cache_view = 2;
    g_ui_cache_ansi = 1;
    remember(selected, offset, count);
  } else {
    draw_plain(ui, pb, selected, offset);
  }
  g_main_menu_time_active = saved_active;
}

void ui_draw_main_menu_time(UiContext* ui) {
  if (!ui_can_draw(ui)) return;
  bool bar_shown = ui->fullscreen && ui->top_bar_height > 0 && g_runtime_top_bar_enabled;
  if (!g_main_menu_time_active && !bar_shown) return;
  char version[32];
  snprintf(version, sizeof version, "%s v%s", kProgramName, kProgramVersion);
  char clock[kStatusTimeText];
  current_time_12_string(clock);

  if (bar_shown) {
    int sw = ui_menu_status_cell_w(ui);
    int sh = ui_menu_status_cell_h(ui);
    int x0 = ui_menu_status_bar_x0(ui);
    PlatWindowGeometry g = plat_window_geometry(ui->window);
    int right = std::min(x0 + 80 * sw - 1, g.width - g.border_right - 1);
    ui_fill(ui, x0, 0, right, sh - 1, UI_WHITE);
    ui_draw_cp437_status_text_abs(ui, x0 + sw, version);
    bool c64_80 = font_name_looks_c64(g_active_font) && c64_font_uses_80_columns(g_active_font);
    int last_cell = c64_80 ? 74 : 76;
    int len = static_cast<int>(strlen(clock));
    ui_draw_cp437_status_text_abs(ui, x0 + (last_cell + 1 - len) * sw, clock);
    draw_depth_button(ui, x0 + 77 * sw, sw, sh);
    return;
  }
  if (ui->fullscreen) return;
  ui_text_bg_cell(ui, 19, 2, 14, version, UI_BLACK, UI_GREY);
  ui_text_bg_cell(ui, 19, 70, 9, clock, UI_BLACK, UI_GREY);
}

void ui_toggle_menu_top_bar(UiContext* ui) {
  if (!ui) return;
  g_runtime_top_bar_enabled = g_runtime_top_bar_enabled ? 0 : 1;
  int old = ui->top_bar_height;
  ui->top_bar = ui->fullscreen && g_runtime_top_bar_enabled ? 1 : 0;
  ui_update_origin(ui);
  if (ui->top_bar_height != old) ui_clear_drawable_area_raw(ui);
  ui_invalidate_menu_caches();
}
