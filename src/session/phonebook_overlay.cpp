// The in-session phonebook: its window, its key table, its mode of the
// session loop, and giving the terminal its window back.
#include "session/phonebook_overlay.h"

#include <sys/stat.h>

#include <cctype>
#include <cstring>
#include <new>

#include "display/fonts.h"
#include "display/modes.h"
#include "display/renderer.h"
#include "display/statusbar.h"
#include "display/surface.h"
#include "display/ui_surface.h"
#include "menu/entry_form.h"
#include "menu/entry_list.h"
#include "menu/popups.h"
#include "menu/ui_draw.h"
#include "phonebook/phonebook.h"
#include "platform/clock.h"
#include "platform/display.h"
#include "platform/key_filter.h"
#include "platform/keymap.h"
#include "session/input.h"
#include "session/loop_state.h"
#include "session/session.h"
#include "session/session_transfer.h"
#include "terminal/active_font.h"
#include "terminal/hooks.h"
#include "terminal/petscii.h"
#include "terminal/terminal.h"
#include "util/text.h"

void (*g_phonebook_overlay_pass_hook)(UiContext* overlay) = nullptr;

namespace {

constexpr uint16_t kHotkeyQualifiers = 0xF0;  // left/right Alt, left/right Amiga
constexpr int kVisibleRows = kMenuListRows;
constexpr uint32_t kClockEveryMs = 1000;
constexpr int kMinOverlayW = 320;
constexpr int kMinOverlayH = 200;

// ------------------------------------------------------------ the key table --

int raw_plain_action(uint16_t code) {
  switch (keymap_page_key(code)) {
    case KEYMAP_PAGE_UP:
      return OVERLAY_PAGE_UP;
    case KEYMAP_PAGE_DOWN:
      return OVERLAY_PAGE_DOWN;
    case KEYMAP_PAGE_HOME:
      return OVERLAY_HOME;
    case KEYMAP_PAGE_END:
      return OVERLAY_END;
    case KEYMAP_PAGE_NONE:
      break;
  }
  switch (code) {
    case RAWKEY_ESCAPE:
      return OVERLAY_CLOSE;
    case RAWKEY_DELETE:
      return OVERLAY_DELETE;
    case RAWKEY_UP:
      return OVERLAY_UP;
    case RAWKEY_DOWN:
      return OVERLAY_DOWN;
    case RAWKEY_LEFT:
      return OVERLAY_PAGE_UP;
    case RAWKEY_RIGHT:
      return OVERLAY_PAGE_DOWN;
    default:
      return OVERLAY_NONE;
  }
}

// Alt (or Amiga) with a raw key; OVERLAY_NONE for keys that act as without.
int raw_alt_action(const PlatEvent& ev) {
  switch (ev.code) {
    case RAWKEY_KP_ENTER:
    case RAWKEY_RETURN:
      return alt_enter_accept_press() ? OVERLAY_MODE : OVERLAY_NONE;
    case 0x14:
      return alt_t_accept_press() ? OVERLAY_TOP_BAR : OVERLAY_NONE;
    case 0x20:
      return OVERLAY_ADD;
    case 0x12:
      return OVERLAY_EDIT;
    case 0x21:
      return OVERLAY_SORT;
    case 0x31:
      return OVERLAY_HELP;
    default:
      return OVERLAY_NONE;
  }
}

bool alt_raw_code(uint16_t code) {
  return code == RAWKEY_KP_ENTER || code == RAWKEY_RETURN || code == 0x14 || code == 0x20 ||
         code == 0x12 || code == 0x21 || code == 0x31;
}

int raw_action(const PlatEvent& ev) {
  if (ev.code & PLAT_KEY_UP) {
    // Alt+E went down in the terminal's window and may come up here.
    key_filter_release(ev);
    return OVERLAY_NONE;
  }
  if ((ev.qualifier & kHotkeyQualifiers) && alt_raw_code(ev.code)) {
    // A hotkey acts once per press: the keyboard's repeat opens no second form.
    if (ev.repeat) return OVERLAY_NONE;
    return raw_alt_action(ev);
  }
  return raw_plain_action(ev.code);
}

int vanilla_plain_action(uint32_t ch) {
  switch (ch) {
    case 27:
      return OVERLAY_CLOSE;
    case 127:
      return OVERLAY_DELETE;
    case 'K':
    case 'k':
      return OVERLAY_UP;
    case 'J':
    case 'j':
      return OVERLAY_DOWN;
    default:
      return OVERLAY_NONE;
  }
}

int vanilla_action(const PlatEvent& ev) {
  uint32_t ch = ev.code;
  if (ev.qualifier & kHotkeyQualifiers) {
    if (ch == 13 || ch == 10) {
      if (ev.repeat) return OVERLAY_NONE;
      return alt_enter_accept_press() ? OVERLAY_MODE : OVERLAY_NONE;
    }
    int upper = ch < 128 ? toupper(static_cast<int>(ch)) : 0;
    int action = OVERLAY_NONE;
    switch (upper) {
      case 'T':
        if (!ev.repeat) action = alt_t_accept_press() ? OVERLAY_TOP_BAR : OVERLAY_NONE;
        return action;
      case 'A':
        action = OVERLAY_ADD;
        break;
      case 'E':
        action = OVERLAY_EDIT;
        break;
      case 'S':
        action = OVERLAY_SORT;
        break;
      case 'Z':
        action = OVERLAY_HELP;
        break;
      default:
        return vanilla_plain_action(ch);
    }
    return ev.repeat ? OVERLAY_NONE : action;
  }
  return vanilla_plain_action(ch);
}

// ------------------------------------------------------------- the overlay --

// The overlay's state while it is up, held by the session loop as its mode.
struct Overlay {
  Session* s;
  UiContext ui;  // the overlay's own display
  Phonebook* pb;
  Phonebook loaded;  // the file's phonebook when none was handed in (own_book)
  bool own_book;
  const char* path;
  bool save_refused;
  int selected;
  int first;
  int* selected_out;  // where the list position is written back
  int* first_out;
  bool close;            // Escape, or a mode change that failed
  bool top_bar_request;  // Alt+T, served after the input queue
  bool dirty;            // the list must be drawn on the next pass
  uint32_t last_draw_ms;
  // What the terminal had when the overlay opened, given back on closing.
  int entry_mode;
  char saved_font[80];
  int saved_suppressed;
};

int count_of(const Overlay* o) {
  return static_cast<int>(o->pb->count);
}

void clamp_position(Overlay* o) {
  int count = count_of(o);
  if (count == 0) {
    o->selected = 0;
    o->first = 0;
    return;
  }
  if (o->selected < 0) o->selected = 0;
  if (o->selected > count - 1) o->selected = count - 1;
  if (o->first > o->selected) o->first = o->selected;
  if (o->first < o->selected - (kVisibleRows - 1)) o->first = o->selected - (kVisibleRows - 1);
  if (o->first < 0) o->first = 0;
}

// "Escape returns to BBS." below the list: row 26 in full screen where the
// screen has room for it, else the last row.
void draw_footer(Overlay* o) {
  int row = 24;
  if (o->ui.fullscreen) {
    int ch = o->ui.cell_h > 0 ? o->ui.cell_h : 20;
    if (ui_cell_y(&o->ui, 26) + ch <= plat_window_inner_height(o->ui.window)) row = 26;
  }
  ui_text_cell(&o->ui, row);
}

void draw(Overlay* o) {
  ui_draw_entry_list(&o->ui, o->pb, o->selected, o->first);
  draw_footer(o);
  o->dirty = false;
  o->last_draw_ms = clock_ms();
}

int save_book(Overlay* o) {
  if (o->save_refused || !o->path || !o->path[0]) return -1;
  return phonebook_save(o->pb, o->path);
}

void delete_selected(Overlay* o) {
  if (count_of(o) == 0) return;
  if (ui_confirm(&o->ui, "Delete entry?")) {
    phonebook_remove(o->pb, o->selected);
    int rc = save_book(o);
    if (rc != 0) ui_message(&o->ui, phonebook_save_message(rc));
    clamp_position(o);
  }
  ui_invalidate_menu_caches();
}

void sort_entries(Overlay* o) {
  if (count_of(o) == 0) return;
  int mode = ui_choose_sort_mode(&o->ui);
  ui_invalidate_menu_caches();
  if (mode < 0) return;
  clamp_position(o);
  o->selected = phonebook_sort_following(o->pb, mode == 1, o->selected);
  int rc = save_book(o);
  if (rc == kSaveReadOnly) {
    ui_message(&o->ui, phonebook_save_message(rc));
  } else if (rc != 0) {
    ui_message(&o->ui, "Could not save sorted phone book.");
  }
  o->first = o->selected > kVisibleRows - 1 ? o->selected - (kVisibleRows - 1) : 0;
}

// The entry editor works on the phonebook in memory and saves it whole; over
// a phonebook that could not be read to its end it is not offered, as in the
// menu.  The form is modal: the connection waits while it is open, as it does
// for the other popups.
bool editor_refused(Overlay* o) {
  if (!o->save_refused && o->path && o->path[0]) return false;
  ui_message(&o->ui, kPhonebookMsgPartialLoad);
  return true;
}

void add_entry(Overlay* o) {
  if (editor_refused(o)) return;
  int at = -1;
  ui_add_entry(&o->ui, o->pb, o->path, &at);
  if (at >= 0) o->selected = at;
  ui_invalidate_menu_caches();
}

void edit_entry(Overlay* o) {
  if (editor_refused(o)) return;
  // The entry's position after the editor, also when its save failed: a
  // changed favourite flag has moved it in the list either way.
  int at = o->selected;
  ui_edit_entry(&o->ui, o->pb, o->path, o->selected, &at);
  o->selected = at;
  ui_invalidate_menu_caches();
}

void act(Overlay* o, int action) {
  int count = count_of(o);
  switch (action) {
    case OVERLAY_QUIT:
    case OVERLAY_CLOSE:
      o->close = true;
      return;
    case OVERLAY_REFRESH:
      plat_begin_refresh(o->ui.window);
      ui_invalidate_menu_caches();
      draw(o);
      plat_end_refresh(o->ui.window);
      return;
    case OVERLAY_DEPTH:
      ui_send_to_back(&o->ui);
      ui_draw_main_menu_time(&o->ui);
      return;
    case OVERLAY_UP:
      if (o->selected > 0) o->selected--;
      break;
    case OVERLAY_DOWN:
      if (o->selected < count - 1) o->selected++;
      break;
    case OVERLAY_PAGE_UP:
      o->selected = o->selected - kVisibleRows < 0 ? 0 : o->selected - kVisibleRows;
      break;
    case OVERLAY_PAGE_DOWN:
      o->selected += kVisibleRows;
      if (o->selected > count - 1) o->selected = count > 0 ? count - 1 : 0;
      break;
    case OVERLAY_HOME:
      o->selected = 0;
      o->first = 0;
      break;
    case OVERLAY_END:
      if (count > 0) o->selected = count - 1;
      break;
    case OVERLAY_DELETE:
      delete_selected(o);
      break;
    case OVERLAY_MODE:
      if (ui_reopen_for_fullscreen(&o->ui, kPhonebookOverlayTitle) != 0 || !o->ui.window) {
        o->close = true;
        return;
      }
      plat_activate_window(o->ui.window);
      break;
    case OVERLAY_TOP_BAR:
      o->top_bar_request = true;
      break;
    case OVERLAY_ADD:
      add_entry(o);
      clamp_position(o);
      break;
    case OVERLAY_EDIT:
      if (count > 0) edit_entry(o);
      clamp_position(o);
      break;
    case OVERLAY_SORT:
      sort_entries(o);
      break;
    case OVERLAY_HELP:
      ui_show_help_screen(&o->ui);
      ui_invalidate_menu_caches();
      break;
    default:
      return;
  }
  o->dirty = true;
}

// ---------------------------------------------------- opening and closing --

// The overlay opens where the terminal's window is, at least its size.
// In full screen it takes a screen of its own, with the terminal's status
// bar setting.
WindowRequest place_like_terminal(const Terminal* t) {
  WindowRequest req = window_request(kPhonebookOverlayTitle);
  if (t->fullscreen) {
    g_runtime_top_bar_enabled = t->top_bar ? 1 : 0;
    return req;
  }
  PlatWindowGeometry g = plat_window_geometry(t->window);
  req.has_position = 1;
  req.left = g.left;
  req.top = g.top;
  int w = g.width - g.border_left - g.border_right;
  int h = g.height - g.border_top - g.border_bottom;
  req.inner_w = w < kMinOverlayW ? kMinOverlayW : w;
  req.inner_h = h < kMinOverlayH ? kMinOverlayH : h;
  return req;
}

// The overlay drew with the menu's glyphs; the terminal's come back: the
// bitmap renderer for the session's font, else its system font.  -1 when
// neither can be had.
int give_back_glyphs(Terminal* t) {
  if (t->bitmap_renderer) {
    int cw, ch, baseline, glyph_h, scale, kind;
    if (bitmap_renderer_prepare_terminal(t->top_bar, &cw, &ch, &baseline, &glyph_h, &scale,
                                         &kind)) {
      t->cell_w = cw;
      t->cell_h = ch;
      t->baseline = baseline;
      t->bitmap_glyph_height = glyph_h;
      t->bitmap_scale = scale;
      t->bitmap_kind = kind;
      // The BBS may have switched the C64 character set meanwhile.
      if (t->petscii == TERM_MODE_PETSCII) petscii_load_charset_glyphs(t);
      return 0;
    }
  }
  if (!t->font || !t->rport) return -1;
  plat_set_font(t->rport, t->font);
  plat_set_drmd(t->rport, PLAT_JAM2);
  return 0;
}

void redraw_terminal(Terminal* t) {
  if (t->drawing_suppressed) return;
  term_clear_drawable_area_raw(t);
  term_redraw_all(t);
  term_draw_session_status(t);
}

void restore_font(const char* saved) {
  if (saved[0]) {
    set_active_font(saved);
  } else {
    active_font_restore(saved);
  }
}

bool file_exists(const char* path) {
  struct stat st;
  return stat(path, &st) == 0;
}

}  // namespace

int phonebook_overlay_action(const PlatEvent& ev, const UiContext* overlay) {
  switch (ev.cls) {
    case PLAT_EV_CLOSE:
      return OVERLAY_QUIT;
    case PLAT_EV_REFRESH:
      return OVERLAY_REFRESH;
    case PLAT_EV_MOUSEBUTTON:
      if (ev.code == PLAT_SELECTDOWN && overlay && overlay->window) {
        bool depth =
            overlay->fullscreen &&
            fullscreen_screen_depth_hit(plat_window_inner_width(overlay->window),
                                        plat_screen_title_height(overlay->screen), ev.x, ev.y);
        if (depth || ui_menu_status_button_hit(overlay, ev.x, ev.y)) return OVERLAY_DEPTH;
      }
      return OVERLAY_NONE;
    case PLAT_EV_RAWKEY:
      return raw_action(ev);
    case PLAT_EV_VANILLAKEY:
      return vanilla_action(ev);
    default:
      return OVERLAY_NONE;
  }
}

namespace {

// ------------------------------------------------ the mode of the session loop --

Overlay* overlay_of(void* ctx) {
  return static_cast<Overlay*>(ctx);
}

bool finished(const Overlay* o) {
  return o->close || o->ui.close_requested;
}

// Each turn of the loop, before the window's events: the list when it has
// changed, and once a second for the clock in its status strip.
void mode_turn(void* ctx) {
  Overlay* o = overlay_of(ctx);
  if (g_phonebook_overlay_pass_hook) g_phonebook_overlay_pass_hook(&o->ui);
  clamp_position(o);
  if (o->dirty || clock_ms() - o->last_draw_ms >= kClockEveryMs) draw(o);
}

PlatWindow* mode_window(void* ctx) {
  Overlay* o = overlay_of(ctx);
  return finished(o) ? nullptr : o->ui.window;
}

int mode_event(void* ctx, const PlatEvent& ev) {
  Overlay* o = overlay_of(ctx);
  int action = phonebook_overlay_action(ev, &o->ui);
  if (action == OVERLAY_QUIT) o->ui.close_requested = 1;
  act(o, action);
  return finished(o) ? 1 : 0;
}

// After the turn's events: Alt+T, and the list position written back.
int mode_settle(void* ctx) {
  Overlay* o = overlay_of(ctx);
  if (o->top_bar_request && o->ui.fullscreen) {
    ui_toggle_menu_top_bar(&o->ui);
    o->dirty = true;
  }
  o->top_bar_request = false;
  clamp_position(o);
  *o->selected_out = o->selected;
  *o->first_out = o->first;
  return finished(o) ? 1 : 0;
}

void free_overlay(Overlay* o) {
  if (o->own_book) phonebook_free(&o->loaded);
  delete o;
}

// The terminal gets its window back, in the mode the user chose; also when
// the session is ending, so that the "Disconnected" notice is drawn over the
// grid as it is now, with the terminal's own glyphs.
int mode_close(void* ctx, SessionLoop* loop) {
  Overlay* o = overlay_of(ctx);
  Session* s = o->s;
  int mode_now = display_window_mode();
  ui_close(&o->ui);
  restore_font(o->saved_font);
  ui_invalidate_menu_caches();

  int result = 0;
  Terminal* t = s->terminal;
  // Drawing first: a covered terminal loads no C64 glyphs (they would
  // replace the ones the overlay drew with), so the set the BBS chose
  // meanwhile is loaded now.
  t->drawing_suppressed = o->saved_suppressed;
  bool drawable = t->window && give_back_glyphs(t) == 0;
  if (!drawable) {
    result = -1;
  } else {
    term_update_origin(t);
  }
  bool running = loop->running && result == 0;
  // A mode change starts from the terminal's own mode, so that a failure
  // falls back to it; a session that is ending keeps its mode.
  display_set_window_mode(o->entry_mode);
  if (running && mode_now != o->entry_mode) {
    if (session_apply_window_mode(s, loop->ui, loop->title, mode_now) != 0) {
      result = -1;
      running = false;
    }
  } else if (drawable) {
    int bar = t->fullscreen && g_runtime_top_bar_enabled ? 1 : 0;
    if (bar != t->top_bar) {
      t->top_bar = bar;
      give_back_glyphs(t);
      term_update_origin(t);
    }
    redraw_terminal(t);
    // A transfer that went on underneath shows its box again at once.
    session_transfer_redraw_status(s);
  }
  if (running && t->window) {
    plat_activate_window(t->window);
    term_show_cursor(t);
  }
  free_overlay(o);
  return result;
}

constexpr SessionModeOps kOverlayMode = {mode_turn, mode_window, mode_event, mode_settle,
                                         mode_close};

}  // namespace

int session_open_phonebook_menu(SessionLoop* loop) {
  Session* s = loop ? loop->s : nullptr;
  Terminal* t = s ? s->terminal : nullptr;
  if (!t || !t->window) return -1;

  auto* o = new (std::nothrow) Overlay{};
  if (!o) return -1;
  o->s = s;
  const SessionRequest* req = loop->request;
  Phonebook* phonebook = req ? req->phonebook : nullptr;
  const char* phonebook_path = req ? req->phonebook_path : nullptr;
  o->own_book = !phonebook;
  if (o->own_book) {
    o->path = phonebook_path && phonebook_path[0] ? phonebook_path : kPhonebookDefaultPath;
    // A file that is there but could not be read whole is never saved over:
    // what was not read would be lost.
    if (phonebook_load(&o->loaded, o->path) != 0 && file_exists(o->path)) o->save_refused = true;
    o->pb = &o->loaded;
  } else {
    o->pb = phonebook;
    o->path = phonebook_path;
    o->save_refused = !phonebook_path || !phonebook_path[0];
  }
  o->selected_out = req && req->selected_index ? req->selected_index : &loop->overlay_selected;
  o->first_out =
      req && req->first_visible_index ? req->first_visible_index : &loop->overlay_first_visible;
  o->selected = *o->selected_out;
  o->first = *o->first_out;
  o->entry_mode = display_window_mode();
  safe_copy(o->saved_font, sizeof o->saved_font, g_active_font);

  o->saved_suppressed = t->drawing_suppressed;
  WindowRequest wreq = place_like_terminal(t);
  term_hide_cursor(t);
  // The terminal is covered: what the BBS sends still reaches the grid, and
  // is drawn when the overlay closes.
  t->drawing_suppressed = 1;
  if (ui_open_menu(&o->ui, &wreq) != 0) {
    t->drawing_suppressed = o->saved_suppressed;
    restore_font(o->saved_font);
    free_overlay(o);
    return -1;
  }
  plat_activate_window(o->ui.window);
  ui_invalidate_menu_caches();
  o->dirty = true;
  loop->mode = SessionMode{&kOverlayMode, o, 1};
  return 0;
}
