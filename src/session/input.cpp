#include "session/input.h"

#include <array>
#include <cctype>
#include <cstring>

#include "display/fonts.h"
#include "display/modes.h"
#include "display/renderer.h"
#include "display/statusbar.h"
#include "platform/clock.h"
#include "platform/display.h"
#include "platform/keymap.h"
#include "session/session.h"
#include "session/session_transfer.h"
#include "session/telnet.h"
#include "terminal/terminal.h"
#include "transfer/dialogs.h"

SessionKeyState g_session_keys = {};

namespace {

SessionKeyState& keys() {
  return g_session_keys;
}

constexpr uint16_t kHotkeyQualifiers = 0xF0;  // left/right Alt, left/right Amiga
constexpr uint16_t kShiftQualifiers = PLAT_QUAL_LSHIFT | PLAT_QUAL_RSHIFT;

constexpr uint8_t kPetsciiUp = 0x91, kPetsciiDown = 0x11, kPetsciiRight = 0x1D, kPetsciiLeft = 0x9D,
                  kPetsciiStop = 0x03, kPetsciiDel = 0x14;

bool within(uint32_t now, uint32_t then, uint32_t ms) {
  return now - then < ms;
}

int send_seq(Session* s, const char* seq) {
  return send_key_string(s->sock, reinterpret_cast<const uint8_t*>(seq),
                         static_cast<int>(strlen(seq)));
}

void end_if_failed(int result, int* running) {
  if (result != 0) *running = 0;
}

void cancel_xmodem_by_key(Session* s) {
  // The XMODEM engine ends the transfer with "XMODEM canceled" and starts its
  // quiet time; until it exists, the flag is all there is to clear.
  s->xmodem.active = 0;
}

void handle_escape(Session* s, int* running) {
  if (s->zmodem.active) {
    session_transfer_escape(s);  // "Download cancelled" / "Upload cancelled"
    return;
  }
  end_if_failed(send_key_byte(s->sock, 27), running);
}

void hang_up_question(Session* s, int* running) {
  Terminal* t = s->terminal;
  if (!t || !t->window || term_confirm_yes_no(t, "Disconnect?") == 1) *running = 0;
}

// The hotkey table by letter (upper case); true when the letter is a hotkey.
// Alt+E (phonebook overlay), Alt+B (scrollback) and Alt+V (paste) are
// reserved: the features behind them are not built yet.
bool hotkey_letter(Session* s, int* running, uint8_t letter, bool raw_path) {
  switch (letter) {
    case 'E':
      s->request_phonebook = 1;
      return true;
    case 'T':
      if (alt_t_accept_press()) s->request_top_bar = 1;
      return true;
    case 'S':
      if (alt_s_accept_press()) session_toggle_c64_40_scale(s);
      return true;
    case 'B':
      // The raw path's character check leaves B out: a raw B with Alt that
      // got this far was not the B key.
      return !raw_path;
    case 'L':
      end_if_failed(session_send_login(s), running);
      return true;
    case 'U':
      end_if_failed(session_open_upload_menu(s), running);
      return true;
    case 'D':
      end_if_failed(session_open_download_menu(s), running);
      return true;
    case 'V':
      return true;
    case 'X':
      session_confirm_exit_kavel(s, running);
      return true;
    case 'H':
      hang_up_question(s, running);
      return true;
    default:
      return false;
  }
}

bool hotkey_rawcode(Session* s, int* running, uint16_t code) {
  switch (code) {
    case RAWKEY_KP_ENTER:
    case RAWKEY_RETURN:
      if (alt_enter_accept_press()) s->request_fullscreen = 1;
      return true;
    case 0x12:
      return hotkey_letter(s, running, 'E', false);
    case 0x14:
      return hotkey_letter(s, running, 'T', false);
    case 0x21:
      return hotkey_letter(s, running, 'S', false);
    case 0x35:
      return hotkey_letter(s, running, 'B', false);
    case 0x28:
      return hotkey_letter(s, running, 'L', false);
    case 0x16:
      return hotkey_letter(s, running, 'U', false);
    case 0x22:
      return hotkey_letter(s, running, 'D', false);
    case 0x34:
      return hotkey_letter(s, running, 'V', false);
    case 0x32:
      return hotkey_letter(s, running, 'X', false);
    case 0x25:
      return hotkey_letter(s, running, 'H', false);
    default:
      return false;
  }
}

void send_character(Session* s, int* running, uint8_t ch, uint16_t qualifier) {
  end_if_failed(send_key_byte(s->sock, petscii_outgoing_key_byte(s, ch, qualifier)), running);
}

// Plain (not hotkey) translated keys, in their fixed order.
void plain_key(Session* s, int* running, uint8_t ch, uint16_t qualifier) {
  if (ch == 3 && s->petscii) {
    end_if_failed(session_send_petscii_stop(s), running);
  } else if (ch == 29) {
    *running = 0;  // Ctrl-]: hang up at once, no question
  } else if (ch == 27) {
    handle_escape(s, running);
  } else if (ch == 13 || ch == 10) {
    end_if_failed(send_key_byte(s->sock, 13), running);
  } else if (ch == 8) {
    if (session_edit_key_accept(1)) end_if_failed(session_send_backspace(s), running);
  } else if (ch == 127) {
    if (session_edit_key_accept(2)) end_if_failed(session_send_delete(s), running);
  } else if (ch != 0) {
    send_character(s, running, ch, qualifier);
  }
}

void handle_vanilla(Session* s, int* running, uint8_t ch, uint16_t qualifier) {
  if (s->xmodem.active) {
    if (ch == 27) cancel_xmodem_by_key(s);
    return;
  }
  if (qualifier & kHotkeyQualifiers) {
    if (ch == 13 || ch == 10) {
      if (alt_enter_accept_press()) s->request_fullscreen = 1;
      return;
    }
    if (isalpha(ch) && ch < 128 &&
        hotkey_letter(s, running, static_cast<uint8_t>(toupper(ch)), false))
      return;
  }
  plain_key(s, running, ch, qualifier);
}

const char* page_key_sequence(uint16_t code, bool shifted) {
  switch (code) {
    case 0x48:
    case 0x5A:
    case 0x6F:
      return "\x1b[5~";
    case 0x49:
    case 0x5B:
    case 0x6E:
      return "\x1b[6~";
    case 0x4A:
    case 0x5C:
    case 0x70:
      return "\x1b[1~";
    case 0x4B:
    case 0x5D:
    case 0x71:
      return "\x1b[4~";
    default:
      break;
  }
  if (!shifted) return nullptr;
  switch (code) {
    case RAWKEY_UP:
      return "\x1b[5~";
    case RAWKEY_DOWN:
      return "\x1b[6~";
    case RAWKEY_LEFT:
      return "\x1b[1~";
    case RAWKEY_RIGHT:
      return "\x1b[4~";
    default:
      return nullptr;
  }
}

int send_cursor_key(Session* s, uint16_t code) {
  static constexpr struct {
    uint16_t code;
    const char* ansi;
    uint8_t petscii;
  } kCursor[] = {{RAWKEY_UP, "\x1b[A", kPetsciiUp},
                 {RAWKEY_DOWN, "\x1b[B", kPetsciiDown},
                 {RAWKEY_RIGHT, "\x1b[C", kPetsciiRight},
                 {RAWKEY_LEFT, "\x1b[D", kPetsciiLeft}};
  for (const auto& k : kCursor) {
    if (k.code != code) continue;
    return s->petscii ? send_key_byte(s->sock, k.petscii) : send_seq(s, k.ansi);
  }
  return 1;  // not a cursor key
}

void handle_raw(Session* s, int* running, uint16_t code, uint16_t qualifier) {
  if (code & PLAT_KEY_UP) {
    uint16_t key = code & 0x7F;
    if (key == RAWKEY_LSHIFT || key == RAWKEY_RSHIFT) keys().shift_down = 0;
    if (key == RAWKEY_KP_ENTER || key == RAWKEY_RETURN) keys().alt_enter_down = 0;
    if (key == 0x14) keys().alt_t_down = 0;
    return;
  }
  if (code == RAWKEY_LSHIFT || code == RAWKEY_RSHIFT) {
    keys().shift_down = 1;
    return;
  }
  if (s->xmodem.active) {
    if (code == RAWKEY_ESCAPE) cancel_xmodem_by_key(s);
    return;
  }
  bool hot = (qualifier & kHotkeyQualifiers) != 0;
  if (hot && hotkey_rawcode(s, running, code)) return;
  bool control = (qualifier & PLAT_QUAL_CONTROL) != 0;
  if (control && code == 0x33 && s->petscii) {
    end_if_failed(session_send_petscii_stop(s), running);
    return;
  }
  if (control && code == 0x1B) {
    *running = 0;
    return;
  }
  if (const char* seq = page_key_sequence(code, (qualifier & kShiftQualifiers) != 0)) {
    end_if_failed(send_seq(s, seq), running);
    return;
  }
  int cursor = send_cursor_key(s, code);
  if (cursor != 1) {
    end_if_failed(cursor, running);
    return;
  }
  switch (code) {
    case RAWKEY_ESCAPE:
      handle_escape(s, running);
      return;
    case RAWKEY_KP_ENTER:
    case RAWKEY_RETURN:
      end_if_failed(send_key_byte(s->sock, 13), running);
      return;
    case RAWKEY_DELETE:
      if (session_edit_key_accept(2)) end_if_failed(session_send_delete(s), running);
      return;
    case RAWKEY_BACKSPACE:
      if (session_edit_key_accept(1)) end_if_failed(session_send_backspace(s), running);
      return;
    case RAWKEY_TAB:
      end_if_failed(send_key_byte(s->sock, 9), running);
      return;
    default:
      break;
  }
  uint8_t ch = keymap_raw_char(code, qualifier);
  if (ch == 0) return;
  if (hot && isalpha(ch) && hotkey_letter(s, running, static_cast<uint8_t>(toupper(ch)), true))
    return;
  send_character(s, running, ch, qualifier);
}

void send_to_back(Terminal* t) {
  if (t->screen) {
    plat_screen_to_back(t->screen);
  } else {
    plat_window_to_back(t->window);
  }
  term_draw_session_status(t);
}

void handle_click(Session* s, int* running, int x, int y) {
  Terminal* t = s->terminal;
  if (!t || !t->window) return;
  PlatWindowGeometry g = plat_window_geometry(t->window);
  if (t->fullscreen) {
    if (t->screen &&
        fullscreen_screen_depth_hit(g.width, plat_screen_title_height(t->screen), x, y)) {
      send_to_back(t);
      return;
    }
    if (t->top_bar) {
      int sw = term_session_status_cell_w(t);
      int sh = term_session_status_cell_h(t);
      int left = term_session_status_x0(t) + 76 * sw;
      if (x >= left && x < left + 4 * sw && y >= 0 && y < sh) {
        send_to_back(t);
        return;
      }
    }
  }
  // The close-gadget corners of a bordered window.  They are tested only on
  // the window's border: where the border is empty (a desktop window whose
  // decorations lie outside it) those corners are part of the grid, and a
  // click meant to focus the window must not hang up.
  bool on_border = x < g.border_left || y < g.border_top || x >= g.width - g.border_right ||
                   y >= g.height - g.border_bottom;
  if (!on_border) return;
  if ((x <= 35 && y <= 27) || (x <= g.border_left + 47 && y >= g.height - g.border_bottom - 47)) {
    if (s->menu_quit) *s->menu_quit = 1;
    *running = 0;
  }
}

void handle_refresh(Session* s) {
  Terminal* t = s->terminal;
  plat_begin_refresh(t->window);
  if (t->window) term_redraw_all(t);
  session_transfer_redraw_status(s);
  plat_end_refresh(t->window);
  term_show_cursor(t);
  term_draw_session_status(t);
}

}  // namespace

void session_input_reset() {
  g_session_keys = SessionKeyState{};
}

int alt_enter_accept_press() {
  SessionKeyState& k = keys();
  uint32_t now = clock_ms();
  bool refuse = k.alt_enter_has_last && within(now, k.alt_enter_last_ms, 80);
  // A held key changes the mode once, not every 140 ms of key repeat.
  if (k.alt_enter_down && within(now, k.alt_enter_seen_ms, 140)) refuse = true;
  k.alt_enter_seen_ms = now;
  if (refuse) return 0;
  k.alt_enter_last_ms = now;
  k.alt_enter_has_last = true;
  k.alt_enter_down = 1;
  return 1;
}

int alt_t_accept_press() {
  SessionKeyState& k = keys();
  uint32_t now = clock_ms();
  bool refuse;
  if (k.alt_t_down) {
    refuse = within(now, k.alt_t_seen_ms, 250);
  } else {
    refuse = k.alt_t_has_last && within(now, k.alt_t_last_ms, 80);
  }
  k.alt_t_seen_ms = now;
  if (refuse) return 0;
  k.alt_t_last_ms = now;
  k.alt_t_has_last = true;
  k.alt_t_down = 1;
  return 1;
}

int alt_s_accept_press() {
  SessionKeyState& k = keys();
  uint32_t now = clock_ms();
  if (k.alt_s_has_last && within(now, k.alt_s_last_ms, 250)) return 0;
  k.alt_s_last_ms = now;
  k.alt_s_has_last = true;
  return 1;
}

int session_edit_key_accept(int kind) {
  SessionKeyState& k = keys();
  uint32_t now = clock_ms();
  if (k.edit_has_last && k.edit_last_kind == kind && within(now, k.edit_last_ms, 80)) return 0;
  k.edit_last_kind = kind;
  k.edit_last_ms = now;
  k.edit_has_last = true;
  return 1;
}

uint8_t petscii_outgoing_key_byte(Session* s, uint8_t ch, uint16_t qualifier) {
  if (!s->petscii) return ch;
  bool shifted;
  if (ch >= 'a' && ch <= 'z') {
    shifted = (qualifier & kShiftQualifiers) != 0 || keys().shift_down;
  } else if (ch >= 'A' && ch <= 'Z') {
    shifted = true;
  } else {
    if (ch >= 32 && ch <= 126 && keys().shift_down) keys().shift_down = 0;
    return ch;
  }
  keys().shift_down = 0;
  uint8_t lower = static_cast<uint8_t>(tolower(ch));
  bool lower_set = s->terminal && s->terminal->petscii_lower;
  if (lower_set && shifted) return static_cast<uint8_t>(lower + 96);
  return static_cast<uint8_t>(lower - 32);
}

void session_confirm_exit_kavel(Session* s, int* running) {
  if (!s) return;
  Terminal* t = s->terminal;
  if (t && t->window && term_confirm_yes_no(t, "Exit Kavel?") == 0) return;
  if (s->menu_quit) *s->menu_quit = 1;
  if (running) *running = 0;
}

int session_send_backspace(Session* s) {
  return send_key_byte(s->sock, s->petscii ? kPetsciiDel : 8);
}

int session_send_delete(Session* s) {
  return s->petscii ? send_key_byte(s->sock, kPetsciiDel) : send_seq(s, "\x1b[3~");
}

int session_send_petscii_stop(Session* s) {
  SessionKeyState& k = keys();
  uint32_t now = clock_ms();
  if (k.stop_has_last && within(now, k.stop_last_ms, 250)) return 0;
  k.stop_last_ms = now;
  k.stop_has_last = true;
  return send_key_byte(s->sock, kPetsciiStop);
}

int session_send_login(Session* s) {
  if (!s->terminal) return -1;
  const char* fields[2] = {s->login_user, s->login_password};
  for (const char* text : fields) {
    int len = static_cast<int>(strlen(text));
    if (len == 0) continue;
    if (send_key_string(s->sock, reinterpret_cast<const uint8_t*>(text), len) != 0) return -1;
    if (send_key_byte(s->sock, 13) != 0) return -1;
  }
  return 0;
}

void session_handle_window_messages(Session* s, int* running) {
  Terminal* t = s->terminal;
  if (!t || !t->window) return;
  PlatEvent ev;
  // Once the running flag drops the rest of the queue is left alone: keys
  // typed behind a hang-up, or behind a key whose send failed, would go to a
  // connection that is ending, and against a peer that stopped reading every
  // such send would hold the thread for its second of retries.
  while (*running && plat_get_event(t->window, &ev)) {
    switch (ev.cls) {
      case PLAT_EV_CLOSE:
        if (s->menu_quit) *s->menu_quit = 1;
        *running = 0;
        break;
      case PLAT_EV_REFRESH:
        handle_refresh(s);
        break;
      case PLAT_EV_MOUSEBUTTON:
        if (ev.code == PLAT_SELECTDOWN) handle_click(s, running, ev.x, ev.y);
        break;
      case PLAT_EV_VANILLAKEY:
        handle_vanilla(s, running, static_cast<uint8_t>(ev.code & 0xFF), ev.qualifier);
        break;
      case PLAT_EV_RAWKEY:
        handle_raw(s, running, ev.code, ev.qualifier);
        break;
      default:
        break;
    }
    // The window stays for the whole call (mode changes are served by the
    // loop afterwards); this only guards against a terminal without one.
    t = s->terminal;
    if (!t || !t->window) break;
  }
}
