// The dialing box, its time line and the menu window's input while a call
// is being made.
#include "dial/dialing.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "display/modes.h"
#include "display/ui_surface.h"
#include "link/link.h"
#include "menu/entry_list.h"
#include "menu/ui_draw.h"
#include "phonebook/phonebook.h"
#include "platform/clock.h"
#include "platform/display.h"
#include "platform/key_filter.h"
#include "util/text.h"

char g_connect_popup_bbs_name[80] = "";
int g_connect_popup_dialing_mode = 0;
uint32_t g_connect_popup_start_ms = 0;
uint32_t g_connect_popup_last_draw_ms = 0;
int g_connect_popup_time_rect_valid = 0;
int g_connect_popup_time_x = 0;
int g_connect_popup_time_y = 0;
int g_connect_popup_time_w = 0;
int g_connect_popup_time_h = 0;
char g_connect_popup_last_time_line[80] = "";
char g_connect_popup_kind[16] = "";

namespace {

constexpr const char* kTitle = "Info";
constexpr const char* kMenuTitle = "Kavel";
constexpr uint16_t kHotkeyQualifiers = 0xF0;  // left/right Alt, left/right Amiga
constexpr uint32_t kTimeLineEveryMs = 1000;

// The texts' colours on the box face: the title as every popup's title, the
// lines black.
constexpr int kTitleColour = UI_BLUE;
constexpr int kLineColour = UI_BLACK;
constexpr int kFace = UI_GREY;

void dialing_line(char out[128]) {
  const char* name = g_connect_popup_bbs_name[0] ? g_connect_popup_bbs_name : "BBS";
  if (g_connect_popup_kind[0])
    snprintf(out, 128, "Dialing %s (%s)", name, g_connect_popup_kind);
  else
    snprintf(out, 128, "Dialing %s", name);
}

// The corner of a w x h box: centred in the window's inner area where more
// than 15 pixels are left over, else 8 pixels in from the border.
void place(const UiContext* ui, int w, int h, int* x, int* y) {
  PlatWindowGeometry g = plat_window_geometry(ui->window);
  int inner_w = g.width - g.border_left - g.border_right;
  int inner_h = g.height - g.border_top - g.border_bottom;
  *x = inner_w - w > 15 ? g.border_left + (inner_w - w) / 2 : g.border_left + 8;
  *y = inner_h - h > 15 ? g.border_top + (inner_h - h) / 2 : g.border_top + 8;
}

bool top_bar_shown(const UiContext* ui) {
  return ui->fullscreen && g_runtime_top_bar_enabled;
}

void draw_time_line(UiContext* ui, const char* line) {
  int s = ui_dialog_cp437_scale(ui);
  ui_dialog_text_centred(ui, g_connect_popup_time_x, g_connect_popup_time_w,
                         g_connect_popup_time_y + 15 * s + 1, line, kLineColour, kFace);
}

// The time line once a second, and only when its text changed.
void refresh_time_line(UiContext* ui) {
  if (!g_connect_popup_dialing_mode) return;
  uint32_t now = clock_ms();
  if (g_connect_popup_last_draw_ms != 0 && now - g_connect_popup_last_draw_ms < kTimeLineEveryMs)
    return;
  if (!g_connect_popup_time_rect_valid || !ui_can_draw(ui)) {
    ui_draw_dialing_status(ui, g_connect_popup_start_ms);
    return;
  }
  char line[80];
  connect_time_line_from_start(g_connect_popup_start_ms, line);
  if (strcmp(line, g_connect_popup_last_time_line) == 0) return;
  ui_fill(ui, g_connect_popup_time_x, g_connect_popup_time_y,
          g_connect_popup_time_x + g_connect_popup_time_w - 1,
          g_connect_popup_time_y + g_connect_popup_time_h - 1, kFace);
  draw_time_line(ui, line);
  safe_copy(g_connect_popup_last_time_line, sizeof g_connect_popup_last_time_line, line);
  g_connect_popup_last_draw_ms = now;
}

// The box for the current name and the given time line.
void box_rect(const UiContext* ui, const char* time_line, int* x, int* y, int* w, int* h) {
  int s = ui_dialog_cp437_scale(ui);
  char dialing[128];
  dialing_line(dialing);
  int text_w =
      std::max({ui_text_px(ui, kTitle), ui_text_px(ui, dialing), ui_text_px(ui, time_line)});
  *w = std::max(text_w + 32 * s, std::max(224 * s, 240));
  *h = std::max(96 * s, 96);
  if (ui && ui->window) {
    place(ui, *w, *h, x, y);
  } else {
    *x = 8;
    *y = 8;
  }
}

bool alt_enter_press(const PlatEvent& ev) {
  return !ev.repeat && (ev.qualifier & kHotkeyQualifiers) != 0 && alt_enter_accept_press();
}

}  // namespace

void connect_time_line_from_start(uint32_t start_ms, char out[80]) {
  uint32_t elapsed = clock_ms() - start_ms;
  // A clock that reads before the start is no time at all, not 49 days.
  if (static_cast<int32_t>(elapsed) < 0) elapsed = 0;
  unsigned long seconds = elapsed / 1000u;
  snprintf(out, 80, "Time Remaining: %02lu:%02lu", seconds / 60, seconds % 60);
}

void ui_begin_dialing_status(UiContext* ui, const PhoneEntry* entry) {
  const char* name = entry && entry->name[0] ? entry->name : "BBS";
  safe_copy(g_connect_popup_bbs_name, sizeof g_connect_popup_bbs_name, name);
  // Plain Telnet shows no kind; an address that is none shows none either
  // (the call says why it fails).
  LinkAddress a;
  const char* kind = entry && link_parse_address(entry->address, entry->port, &a) == 0
                         ? link_kind_label(a.kind)
                         : "";
  safe_copy(g_connect_popup_kind, sizeof g_connect_popup_kind, kind);
  g_connect_popup_dialing_mode = 1;
  g_connect_popup_last_draw_ms = 0;
  g_connect_popup_time_rect_valid = 0;
  g_connect_popup_last_time_line[0] = '\0';
  g_connect_popup_start_ms = clock_ms();
  ui_draw_dialing_status(ui, g_connect_popup_start_ms);
}

void ui_dialing_box_rect(const UiContext* ui, int* x, int* y, int* w, int* h) {
  char time_line[80];
  connect_time_line_from_start(g_connect_popup_start_ms, time_line);
  box_rect(ui, time_line, x, y, w, h);
}

void ui_draw_dialing_status(UiContext* ui, uint32_t start_ms) {
  if (!ui || !ui->window) return;
  ui_clear_drawable_area_raw(ui);
  if (!ui_can_draw(ui)) return;
  // The box covers the menu screen: its next drawing starts afresh.
  ui_invalidate_menu_caches();
  if (top_bar_shown(ui)) ui_draw_main_menu_time(ui);

  int s = ui_dialog_cp437_scale(ui);
  char dialing[128];
  dialing_line(dialing);
  char time_line[80];
  connect_time_line_from_start(start_ms, time_line);
  int x, y, w, h;
  box_rect(ui, time_line, &x, &y, &w, &h);

  ui_draw_beveled_box(ui, x, y, x + w - 1, y + h - 1);
  ui_dialog_text_centred(ui, x, w, y + 15 * s + 5, kTitle, kTitleColour, kFace);
  ui_dialog_text_centred(ui, x, w, y + 32 * s + 15 * s + 1, dialing, kLineColour, kFace);

  g_connect_popup_time_x = x + 16 * s;
  g_connect_popup_time_y = y + 64 * s;
  g_connect_popup_time_w = w - 32 * s;
  g_connect_popup_time_h = 16 * s;
  g_connect_popup_time_rect_valid = 1;
  draw_time_line(ui, time_line);
  safe_copy(g_connect_popup_last_time_line, sizeof g_connect_popup_last_time_line, time_line);
  g_connect_popup_last_draw_ms = clock_ms();
}

void ui_clear_connecting_status(UiContext* ui) {
  g_connect_popup_last_time_line[0] = '\0';
  g_connect_popup_time_rect_valid = 0;
  if (!ui_can_draw(ui)) return;
  int s = ui_dialog_cp437_scale(ui);
  int w = std::max(368 * s, 340) + 4;
  int h = std::max(80 * s, 82) + 4;
  int x, y;
  place(ui, w, h, &x, &y);
  ui_fill(ui, x, y, x + w - 1, y + h - 1, UI_BLACK);
  // That area is lower than the dialing box at every scale: the box with its
  // shadow goes too, or its edges would stay around the next popup.
  int bx, by, bw, bh;
  ui_dialing_box_rect(ui, &bx, &by, &bw, &bh);
  ui_fill(ui, bx, by, bx + bw + 3, by + bh + 3, UI_BLACK);
  if (top_bar_shown(ui)) ui_draw_main_menu_time(ui);
  ui_invalidate_menu_caches();
}

void ui_end_dialing_status() {
  g_connect_popup_dialing_mode = 0;
}

int ui_toggle_connect_fullscreen(UiContext* ui) {
  if (!ui) return -1;
  int r = ui_reopen_for_fullscreen(ui, kMenuTitle);
  if (ui->window) ui_draw_dialing_status(ui, g_connect_popup_start_ms);
  return r;
}

int ui_poll_connect_cancel(UiContext* ui) {
  if (!ui || !ui->window) return 0;
  int cancel = 0;
  PlatEvent ev;
  while (ui->window && plat_get_event(ui->window, &ev)) {
    switch (ev.cls) {
      case PLAT_EV_CLOSE:
        ui->close_requested = 1;
        cancel = 1;
        break;
      case PLAT_EV_REFRESH:
        plat_begin_refresh(ui->window);
        ui_draw_dialing_status(ui, g_connect_popup_start_ms);
        plat_end_refresh(ui->window);
        break;
      case PLAT_EV_VANILLAKEY:
        if (ev.code == 27) {
          cancel = 1;
        } else if ((ev.code == 13 || ev.code == 10) && alt_enter_press(ev)) {
          ui_toggle_connect_fullscreen(ui);
        }
        break;
      case PLAT_EV_RAWKEY: {
        if (ev.code & PLAT_KEY_UP) {
          key_filter_release(ev);
        } else if (ev.code == RAWKEY_ESCAPE) {
          cancel = 1;
        } else if ((ev.code == RAWKEY_KP_ENTER || ev.code == RAWKEY_RETURN) &&
                   alt_enter_press(ev)) {
          ui_toggle_connect_fullscreen(ui);
        }
        break;
      }
      default:
        break;
    }
  }
  // A window that could not be opened again in any mode leaves nothing to
  // dial from: the call ends, and so does the menu.
  if (!ui->window) {
    ui->close_requested = 1;
    return 1;
  }
  if (!cancel) refresh_time_line(ui);
  return cancel;
}
