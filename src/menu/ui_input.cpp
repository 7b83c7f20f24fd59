// Menu input: translating window events into menu key codes, and waiting.
#include "menu/ui_input.h"

#include <cctype>
#include <cstring>

#include "display/modes.h"
#include "menu/entry_list.h"
#include "menu/ui_draw.h"
#include "platform/clock.h"
#include "platform/display.h"
#include "platform/key_filter.h"
#include "platform/keymap.h"
#include "util/charset.h"

int g_ui_wait_idle_limit = 0;

namespace {

constexpr uint16_t kAltQualifiers =
    PLAT_QUAL_LALT | PLAT_QUAL_RALT | PLAT_QUAL_LCOMMAND | PLAT_QUAL_RCOMMAND;
constexpr uint16_t kShiftQualifiers = PLAT_QUAL_LSHIFT | PLAT_QUAL_RSHIFT;
// The event behind the code ui_poll_key returned last: its form and whether
// it was the keyboard's repeat of a held key.
int g_polled_form = UI_KEY_FORM_TRANSLATED;
bool g_polled_repeat = false;

bool is_alt_code(int code) {
  return code >= MENU_KEY_ALT_RETURN && code <= MENU_KEY_ALT_T;
}

// The code of an Alt (or Amiga) letter; 0 for other letters.
int alt_letter_code(int upper) {
  switch (upper) {
    case 'E':
      return MENU_KEY_ALT_E;
    case 'A':
      return MENU_KEY_ALT_A;
    case 'D':
      return MENU_KEY_ALT_D;
    case 'X':
      return MENU_KEY_ALT_X;
    case 'S':
      return MENU_KEY_ALT_S;
    case 'Z':
      return MENU_KEY_ALT_Z;
    case 'I':
      return MENU_KEY_ALT_I;
    case 'G':
      return MENU_KEY_ALT_G;
    case 'V':
      return MENU_KEY_ALT_V;
    case 'T':
      return MENU_KEY_ALT_T;
    default:
      return 0;
  }
}

int raw_letter(uint16_t code) {
  switch (code) {
    case 0x12:
      return 'E';
    case 0x20:
      return 'A';
    case 0x22:
      return 'D';
    case 0x32:
      return 'X';
    case 0x21:
      return 'S';
    case 0x31:
      return 'Z';
    case 0x17:
      return 'I';
    case 0x24:
      return 'G';
    case 0x34:
      return 'V';
    case 0x14:
      return 'T';
    default:
      return 0;
  }
}

int raw_plain(uint16_t code, uint16_t qualifier) {
  switch (keymap_page_key(code)) {
    case KEYMAP_PAGE_UP:
      return MENU_KEY_PAGE_UP;
    case KEYMAP_PAGE_DOWN:
      return MENU_KEY_PAGE_DOWN;
    case KEYMAP_PAGE_HOME:
      return MENU_KEY_HOME;
    case KEYMAP_PAGE_END:
      return MENU_KEY_END;
    case KEYMAP_PAGE_NONE:
      break;
  }
  switch (code) {
    case RAWKEY_UP:
      return MENU_KEY_UP;
    case RAWKEY_DOWN:
      return MENU_KEY_DOWN;
    case RAWKEY_RIGHT:
      return MENU_KEY_RIGHT;
    case RAWKEY_LEFT:
      return MENU_KEY_LEFT;
    case RAWKEY_ESCAPE:
      return 27;
    case RAWKEY_TAB:
      return (qualifier & kShiftQualifiers) ? MENU_KEY_SHIFT_TAB : 9;
    case RAWKEY_BACKSPACE:
      return 8;
    case RAWKEY_DELETE:
      return 127;
    case RAWKEY_RETURN:
      return 13;
    default:
      return 0;
  }
}

int translate_raw(const PlatEvent& ev) {
  uint16_t code = ev.code;
  if (code & PLAT_KEY_UP) return 0;
  if (ev.qualifier & kAltQualifiers) {
    if (code == RAWKEY_RETURN || code == RAWKEY_KP_ENTER) return MENU_KEY_ALT_RETURN;
    if (int letter = raw_letter(code)) return alt_letter_code(letter);
  }
  return raw_plain(code, ev.qualifier);
}

// A translated key is a Unicode character; the menu works in CP437, so a
// character CP437 has no code for is no key at all (never a code that its
// low byte happens to name).
int translate_vanilla(const PlatEvent& ev) {
  uint32_t ch = ev.code;
  if (ch == 9) return (ev.qualifier & kShiftQualifiers) ? MENU_KEY_SHIFT_TAB : 9;
  if (ev.qualifier & kAltQualifiers) {
    if (ch == 13 || ch == 10) return MENU_KEY_ALT_RETURN;
    if (ch < 128 && isalpha(static_cast<int>(ch)) &&
        strchr("EADXSZIGVT", toupper(static_cast<int>(ch))))
      return alt_letter_code(toupper(static_cast<int>(ch)));
  }
  if (ch < 128) return static_cast<int>(ch);
  int byte = unicode_to_cp437(ch);
  return byte > 0 ? byte : 0;
}

// Hotkeys act once per physical press: the keyboard's repeat of a held
// Alt+key is refused, and so are the repeats of its key after Alt is let go.
int hotkey_press(const PlatEvent& ev, int code) {
  if (!is_alt_code(code)) return code;
  if (ev.repeat) return 0;
  key_filter_take_hotkey(ev);
  return code;
}

bool is_nav(int code) {
  return code == 9 || (code >= MENU_KEY_UP && code <= MENU_KEY_SHIFT_TAB);
}

// A click on the depth button (the top bar's, or the own screen's) sends the
// display back and redraws the clock; the wait goes on.
int filter_wait_code(UiContext* ui, int code) {
  if (code == MENU_KEY_DEPTH) {
    ui_send_to_back(ui);
    ui_draw_main_menu_time(ui);
    return 0;
  }
  return ui_filter_duplicate_nav_key(code, g_polled_form, g_polled_repeat);
}

bool top_bar_shown(const UiContext* ui) {
  return ui->fullscreen && ui->top_bar_height > 0 && g_runtime_top_bar_enabled;
}

}  // namespace

void ui_input_reset() {
  key_filter_reset();
  g_polled_form = UI_KEY_FORM_TRANSLATED;
  g_polled_repeat = false;
}

int ui_filter_duplicate_nav_key(int code, int form, bool repeat) {
  if (code == 0 || code == MENU_KEY_REDRAW || code == MENU_KEY_TICK) return code;
  if (!is_nav(code)) {
    key_filter_nav_forget();
    return code;
  }
  return key_filter_nav_accept(code, form, repeat) ? code : 0;
}

int ui_poll_key(UiContext* ui) {
  if (!ui || !ui->window) return -1;
  PlatEvent ev;
  while (plat_get_event(ui->window, &ev)) {
    int code = 0;
    switch (ev.cls) {
      case PLAT_EV_CLOSE:
        ui->close_requested = 1;
        return -1;
      case PLAT_EV_REFRESH:
        plat_begin_refresh(ui->window);
        plat_end_refresh(ui->window);
        ui_invalidate_menu_caches();
        return MENU_KEY_REDRAW;
      case PLAT_EV_MOUSEBUTTON:
        if (ev.code == PLAT_SELECTDOWN && ui->fullscreen) {
          int title_h = plat_screen_title_height(ui->screen);
          if (fullscreen_screen_depth_hit(plat_window_inner_width(ui->window), title_h, ev.x,
                                          ev.y) ||
              ui_menu_status_button_hit(ui, ev.x, ev.y))
            return MENU_KEY_DEPTH;
        }
        break;
      case PLAT_EV_RAWKEY:
        if (ev.code & PLAT_KEY_UP) key_filter_release(ev);
        if (key_filter_hotkey_repeat(ev)) break;
        code = hotkey_press(ev, translate_raw(ev));
        break;
      case PLAT_EV_VANILLAKEY:
        if (key_filter_hotkey_repeat(ev)) break;
        code = hotkey_press(ev, translate_vanilla(ev));
        break;
      default:
        break;
    }
    if (code != 0) {
      g_polled_form = ev.cls == PLAT_EV_RAWKEY ? UI_KEY_FORM_RAW : UI_KEY_FORM_TRANSLATED;
      g_polled_repeat = ev.repeat;
      return code;
    }
  }
  return 0;
}

int ui_wait_key(UiContext* ui) {
  if (!ui || !ui->window) return -1;
  int idle = 0;
  for (;;) {
    int code = filter_wait_code(ui, ui_poll_key(ui));
    if (code != 0) return code;
    if (!ui->window) return -1;
    if (!plat_wait_event(ui->window, 1000)) {
      // A second without input: the top bar's clock moves on.
      if (top_bar_shown(ui)) ui_draw_main_menu_time(ui);
      if (g_ui_wait_idle_limit > 0 && ++idle >= g_ui_wait_idle_limit) return -1;
    }
  }
}

int ui_wait_key_timeout(UiContext* ui, int seconds, int microseconds) {
  if (!ui || !ui->window) return -1;
  int code = filter_wait_code(ui, ui_poll_key(ui));
  if (code != 0) return code;
  uint32_t total =
      static_cast<uint32_t>(seconds) * 1000u + static_cast<uint32_t>(microseconds) / 1000u;
  uint32_t start = clock_ms();
  for (;;) {
    uint32_t elapsed = clock_ms() - start;
    if (elapsed >= total) return MENU_KEY_TICK;
    plat_wait_event(ui->window, static_cast<int>(total - elapsed));
    code = filter_wait_code(ui, ui_poll_key(ui));
    if (code != 0) return code;
    if (!ui->window) return -1;
  }
}
