#include "session/input.h"

#include <array>
#include <cctype>
#include <cstring>

#include "display/fonts.h"
#include "display/modes.h"
#include "display/renderer.h"
#include "display/statusbar.h"
#include "link/telnet.h"
#include "platform/display.h"
#include "platform/keymap.h"
#include "session/capture.h"
#include "session/clipboard_keys.h"
#include "session/session.h"
#include "session/session_transfer.h"
#include "terminal/terminal.h"
#include "transfer/dialogs.h"
#include "util/charset.h"

namespace {

KeyFilterState& keys() {
  return g_key_filter;
}

constexpr uint16_t kHotkeyQualifiers = 0xF0;  // left/right Alt, left/right Amiga
constexpr uint16_t kShiftQualifiers = PLAT_QUAL_LSHIFT | PLAT_QUAL_RSHIFT;

constexpr uint8_t kPetsciiUp = 0x91, kPetsciiDown = 0x11, kPetsciiRight = 0x1D, kPetsciiLeft = 0x9D,
                  kPetsciiStop = 0x03, kPetsciiDel = 0x14, kPetsciiInst = 0x94, kPetsciiHome = 0x13,
                  kPetsciiClear = 0x93;

int send_seq(Session* s, const char* seq) {
  return session_send(s, reinterpret_cast<const uint8_t*>(seq), strlen(seq));
}

void end_if_failed(int result, int* running) {
  if (result != 0) *running = 0;
}

void handle_escape(Session* s, int* running) {
  if (session_transfer_active(s)) {
    session_transfer_escape(s);  // the protocol's cancel: its text, the quiet time
    return;
  }
  if (term_music_stop(s->terminal)) return;  // Escape silences ANSI music first
  end_if_failed(session_send_byte(s, 27), running);
}

void hang_up_question(Session* s, int* running) {
  Terminal* t = s->terminal;
  if (!t || !t->window || term_confirm_yes_no(t, "Disconnect?") == 1) *running = 0;
}

// Whether an upper-case letter is in the hotkey table.
bool hotkey_letter_known(uint8_t letter) {
  return strchr("ETSBLUDVXHCP", letter) != nullptr && letter != 0;
}

// The hotkey table by letter (upper case); true when the letter is a hotkey.
// Alt+E leaves the phonebook request, which the session loop serves (the
// in-session phonebook); Alt+U / Alt+D open the transfer menus, Alt+B the
// scrollback viewer, Alt+V pastes the clipboard, Alt+C starts or stops a
// capture and Alt+P saves the screen (session/capture).
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
      if (raw_path) return false;
      session_open_scrollback_window(s);
      return true;
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
      end_if_failed(session_paste_clipboard(s), running);
      return true;
    case 'X':
      session_confirm_exit_kavel(s, running);
      return true;
    case 'H':
      hang_up_question(s, running);
      return true;
    case 'C':
      capture_toggle(s);
      return true;
    case 'P':
      capture_save_screen(s);
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
    case 0x33:
      return hotkey_letter(s, running, 'C', false);
    case 0x19:
      return hotkey_letter(s, running, 'P', false);
    default:
      return false;
  }
}

void send_character(Session* s, int* running, uint8_t ch, uint16_t qualifier) {
  end_if_failed(session_send_byte(s, petscii_outgoing_key_byte(s, ch, qualifier)), running);
}

// A typed character (Unicode) in the session's character set: CP437 for an
// ANSI board, PETSCII for a C64 one.  Nothing is sent for a character the
// set cannot show.
void send_typed(Session* s, int* running, uint32_t ch, uint16_t qualifier) {
  int byte = session_typed_char_byte(s, ch);
  if (byte < 0) return;
  if (s->petscii && ch < 128 && isalpha(static_cast<int>(ch))) {
    send_character(s, running, static_cast<uint8_t>(ch), qualifier);
    return;
  }
  // A printable key uses up a Shift press, as petscii_outgoing_key_byte
  // does for the characters it sees.
  if (s->petscii && ch >= 32 && ch != 127) g_key_filter.shift_down = 0;
  end_if_failed(session_send_byte(s, static_cast<uint8_t>(byte)), running);
}

// The C64's colour keys, by their place on the keyboard: Ctrl+1..8 the
// first eight colours, the Commodore key (Alt here) with 1..8 the second
// eight, Ctrl+9 and Ctrl+0 reverse on and off.  -1: not one of them.
int petscii_colour_key(int key, uint16_t qualifier) {
  static constexpr uint8_t kCtrl[10] = {0x90, 0x05, 0x1C, 0x9F, 0x9C, 0x1E, 0x1F, 0x9E, 0x12, 0x92};
  static constexpr uint8_t kCommodore[8] = {0x81, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9A, 0x9B};
  if (key < 0x01 || key > 0x0A) return -1;
  if (qualifier & PLAT_QUAL_CONTROL) return kCtrl[key - 1];
  if ((qualifier & kHotkeyQualifiers) && key <= 0x08) return kCommodore[key - 1];
  return -1;
}

// Plain (not hotkey) translated keys, in their fixed order.
void plain_key(Session* s, int* running, uint32_t ch, uint16_t qualifier) {
  bool shifted = (qualifier & kShiftQualifiers) != 0;
  if (ch == 3 && s->petscii) {
    end_if_failed(session_send_petscii_stop(s), running);
  } else if (ch == 29) {
    *running = 0;  // Ctrl-]: hang up at once, no question
  } else if (ch == 27) {
    handle_escape(s, running);
  } else if (ch == 13 || ch == 10) {
    end_if_failed(session_send_byte(s, 13), running);
  } else if ((ch == 8 || ch == 127) && s->petscii && shifted) {
    // Shift with INST/DEL inserts on a C64.
    end_if_failed(session_send_byte(s, kPetsciiInst), running);
  } else if (ch == 8) {
    if (session_edit_key_accept(1, 0)) end_if_failed(session_send_backspace(s), running);
  } else if (ch == 127) {
    if (session_edit_key_accept(2, 0)) end_if_failed(session_send_delete(s), running);
  } else if (ch != 0) {
    send_typed(s, running, ch, qualifier);
  }
}

void handle_vanilla(Session* s, int* running, const PlatEvent& ev) {
  const uint32_t ch = ev.code;
  const uint16_t qualifier = ev.qualifier;
  if (session_transfer_holds_keys(s)) {
    if (ch == 27) session_transfer_escape(s);
    return;
  }
  if (key_filter_hotkey_repeat(ev)) return;
  if (qualifier & kHotkeyQualifiers) {
    // Hotkeys act once per physical press: the keyboard's repeat of a held
    // Alt+Enter or Alt+T is no new request.
    if (ch == 13 || ch == 10) {
      key_filter_take_hotkey(ev);
      if (!ev.repeat && alt_enter_accept_press()) s->request_fullscreen = 1;
      return;
    }
    if (ch < 128 && isalpha(static_cast<int>(ch))) {
      auto letter = static_cast<uint8_t>(toupper(static_cast<int>(ch)));
      if (ev.repeat && hotkey_letter_known(letter)) return;
      if (hotkey_letter_known(letter)) key_filter_take_hotkey(ev);
      if (hotkey_letter(s, running, letter, false)) return;
    }
  }
  if (s->petscii) {
    int colour = petscii_colour_key(ev.key, qualifier);
    if (colour >= 0) {
      end_if_failed(session_send_byte(s, static_cast<uint8_t>(colour)), running);
      return;
    }
  }
  plain_key(s, running, ch, qualifier);
}

const char* page_key_sequence(uint16_t code, bool shifted) {
  switch (keymap_page_key(code)) {
    case KEYMAP_PAGE_UP:
      return "\x1b[5~";
    case KEYMAP_PAGE_DOWN:
      return "\x1b[6~";
    case KEYMAP_PAGE_HOME:
      return "\x1b[1~";
    case KEYMAP_PAGE_END:
      return "\x1b[4~";
    case KEYMAP_PAGE_NONE:
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
    return s->petscii ? session_send_byte(s, k.petscii) : send_seq(s, k.ansi);
  }
  return 1;  // not a cursor key
}

// Function keys and Insert.  ANSI boards get the xterm / VT220 sequences
// that BBS software reads (ESC O P..S for F1-F4, ESC [ n ~ beyond, ESC [ 2 ~
// for Insert); C64 boards the C64's own codes (F1 0x85, F3 0x86, F5 0x87,
// F7 0x88, F2 0x89 .. F8 0x8C, INST 0x94).  Null / 0: the key sends nothing.
struct FunctionKey {
  uint16_t code;
  const char* ansi;
  uint8_t petscii;
};
constexpr FunctionKey kFunctionKeys[] = {
    {RAWKEY_F1, "\x1bOP", 0x85},
    {RAWKEY_F1 + 1, "\x1bOQ", 0x89},
    {RAWKEY_F1 + 2, "\x1bOR", 0x86},
    {RAWKEY_F1 + 3, "\x1bOS", 0x8A},
    {RAWKEY_F1 + 4, "\x1b[15~", 0x87},
    {RAWKEY_F1 + 5, "\x1b[17~", 0x8B},
    {RAWKEY_F1 + 6, "\x1b[18~", 0x88},
    {RAWKEY_F1 + 7, "\x1b[19~", 0x8C},
    {RAWKEY_F1 + 8, "\x1b[20~", 0},
    {RAWKEY_F1 + 9, "\x1b[21~", 0},
    {RAWKEY_F11, "\x1b[23~", 0},
    {RAWKEY_F12, "\x1b[24~", 0},
    {RAWKEY_INSERT, "\x1b[2~", kPetsciiInst},
    {RAWKEY_HELP, nullptr, 0},
};

// 1 when the code is a function key (sent or not), else 0; -1 on a failed send.
int send_function_key(Session* s, uint16_t code) {
  for (const FunctionKey& k : kFunctionKeys) {
    if (k.code != code) continue;
    if (s->petscii) return k.petscii ? (session_send_byte(s, k.petscii) == 0 ? 1 : -1) : 1;
    return k.ansi ? (send_seq(s, k.ansi) == 0 ? 1 : -1) : 1;
  }
  return 0;
}

// The page and position keys of a C64 board: CLR/HOME (Home; with Shift
// CLR), End clears as well; Page Up and Page Down have no C64 key and send
// nothing; Shift with a cursor key is just that cursor key (the C64's own
// cursor keys are shifted for up and left).  1 handled, 0 not such a key,
// -1 a failed send.
int send_petscii_position_key(Session* s, uint16_t code, bool shifted) {
  uint8_t byte = 0;
  switch (keymap_page_key(code)) {
    case KEYMAP_PAGE_HOME:
      byte = shifted ? kPetsciiClear : kPetsciiHome;
      break;
    case KEYMAP_PAGE_END:
      byte = kPetsciiClear;
      break;
    case KEYMAP_PAGE_UP:
    case KEYMAP_PAGE_DOWN:
      return 1;
    case KEYMAP_PAGE_NONE:
      return 0;
  }
  return session_send_byte(s, byte) == 0 ? 1 : -1;
}

void handle_raw(Session* s, int* running, const PlatEvent& ev) {
  const uint16_t code = ev.code;
  const uint16_t qualifier = ev.qualifier;
  if (code & PLAT_KEY_UP) {
    key_filter_release(ev);
    return;
  }
  if (code == RAWKEY_LSHIFT || code == RAWKEY_RSHIFT) {
    keys().shift_down = 1;
    return;
  }
  if (session_transfer_holds_keys(s)) {
    if (code == RAWKEY_ESCAPE) session_transfer_escape(s);
    return;
  }
  bool hot = (qualifier & kHotkeyQualifiers) != 0;
  // A held hotkey acts once: its repeats are ignored (a repeated Alt with a
  // key outside the table types, as any held key does).
  if (key_filter_hotkey_repeat(ev)) return;
  bool hot_code = hotkey_rawcode_known(code) || code == RAWKEY_KP_ENTER || code == RAWKEY_RETURN;
  if (hot && ev.repeat && hot_code) return;
  if (hot && hot_code) key_filter_take_hotkey(ev);
  if (hot && hotkey_rawcode(s, running, code)) return;
  bool control = (qualifier & PLAT_QUAL_CONTROL) != 0;
  bool shifted = (qualifier & kShiftQualifiers) != 0;
  if (control && code == 0x33 && s->petscii) {
    end_if_failed(session_send_petscii_stop(s), running);
    return;
  }
  if (control && code == 0x1B) {
    *running = 0;
    return;
  }
  if (s->petscii) {
    int colour = petscii_colour_key(code, qualifier);
    if (colour >= 0) {
      end_if_failed(session_send_byte(s, static_cast<uint8_t>(colour)), running);
      return;
    }
  }
  // F11 and F12 (0x4B, 0x6F) are no page keys (keymap_page_key): they send
  // their own sequences.
  int fkey = send_function_key(s, code);
  if (fkey != 0) {
    end_if_failed(fkey < 0 ? -1 : 0, running);
    return;
  }
  if (s->petscii) {
    int pos = send_petscii_position_key(s, code, shifted);
    if (pos != 0) {
      end_if_failed(pos < 0 ? -1 : 0, running);
      return;
    }
  } else if (const char* seq = page_key_sequence(code, shifted)) {
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
      end_if_failed(session_send_byte(s, 13), running);
      return;
    case RAWKEY_DELETE:
    case RAWKEY_BACKSPACE:
      if (s->petscii && shifted) {
        end_if_failed(session_send_byte(s, kPetsciiInst), running);
      } else if (code == RAWKEY_DELETE) {
        if (session_edit_key_accept(2, 1)) end_if_failed(session_send_delete(s), running);
      } else {
        if (session_edit_key_accept(1, 1)) end_if_failed(session_send_backspace(s), running);
      }
      return;
    case RAWKEY_TAB:
      end_if_failed(session_send_byte(s, 9), running);
      return;
    default:
      break;
  }
  uint8_t ch = keymap_raw_char(code, qualifier);
  if (ch == 0) return;
  if (hot && isalpha(ch) && hotkey_letter(s, running, static_cast<uint8_t>(toupper(ch)), true))
    return;
  send_typed(s, running, ch, qualifier);
}

}  // namespace

bool hotkey_rawcode_known(uint16_t code) {
  switch (code) {
    case 0x12:
    case 0x14:
    case 0x21:
    case 0x35:
    case 0x28:
    case 0x16:
    case 0x22:
    case 0x34:
    case 0x32:
    case 0x25:
    case 0x33:
    case 0x19:
      return true;
    default:
      return false;
  }
}

namespace {

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
  key_filter_reset();
}

int session_edit_key_accept(int kind, int form) {
  return key_filter_edit_accept(kind, form);
}

uint8_t petscii_outgoing_key_byte(Session* s, uint8_t ch, uint16_t qualifier) {
  if (!s->petscii) return ch;
  bool lower_set = s->terminal && s->terminal->petscii_lower;
  bool shift_key = (qualifier & kShiftQualifiers) != 0 || keys().shift_down;
  bool shifted;
  if (ch >= 'a' && ch <= 'z') {
    shifted = shift_key;
  } else if (ch >= 'A' && ch <= 'Z') {
    // Caps Lock gives capitals; in the upper-case set every letter already
    // is one, so there only the Shift key makes the graphics characters.
    shifted = lower_set || shift_key;
  } else {
    if (ch >= 32 && ch <= 126 && keys().shift_down) keys().shift_down = 0;
    return ch;
  }
  keys().shift_down = 0;
  uint8_t lower = static_cast<uint8_t>(tolower(ch));
  // Shift with a letter is 0xC1..0xDA as on the C64: a capital in the
  // lower-case set, the graphics character on the key in the upper-case set.
  if (shifted) return static_cast<uint8_t>(lower + 96);
  return static_cast<uint8_t>(lower - 32);
}

int session_typed_char_byte(const Session* s, uint32_t ch) {
  // Control characters (Ctrl+letter) are codes, not characters: they go out
  // as they are in both sets.
  if (ch < 32 || ch == 127) return static_cast<int>(ch);
  if (!s->petscii) return unicode_to_cp437(static_cast<char32_t>(ch));
  // Letters follow the C64's case rules (petscii_outgoing_key_byte), digits
  // and the space are the same codes; everything else is the code that shows
  // it in the set on screen (a pound sign is 0x5C, a backslash has none).
  if (ch < 128 && (isalnum(static_cast<int>(ch)) || ch == ' ')) return static_cast<int>(ch);
  bool lower = s->terminal && s->terminal->petscii_lower;
  return unicode_to_petscii(static_cast<char32_t>(ch), lower);
}

void session_confirm_exit_kavel(Session* s, int* running) {
  if (!s) return;
  Terminal* t = s->terminal;
  if (t && t->window && term_confirm_yes_no(t, "Exit Kavel?") == 0) return;
  if (s->menu_quit) *s->menu_quit = 1;
  if (running) *running = 0;
}

int session_send_backspace(Session* s) {
  return session_send_byte(s, s->petscii ? kPetsciiDel : 8);
}

int session_send_delete(Session* s) {
  return s->petscii ? session_send_byte(s, kPetsciiDel) : send_seq(s, "\x1b[3~");
}

int session_send_petscii_stop(Session* s) {
  if (!key_filter_stop_accept()) return 0;
  return session_send_byte(s, kPetsciiStop);
}

int session_send_login(Session* s) {
  if (!s->terminal) return -1;
  const char* fields[2] = {s->login_user, s->login_password};
  for (const char* text : fields) {
    int len = static_cast<int>(strlen(text));
    if (len == 0) continue;
    if (session_send(s, reinterpret_cast<const uint8_t*>(text), static_cast<size_t>(len)) != 0)
      return -1;
    if (session_send_byte(s, 13) != 0) return -1;
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
    // A protocol's question up in front of the terminal takes every event.
    if (session_transfer_event(s, ev)) continue;
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
        handle_vanilla(s, running, ev);
        break;
      case PLAT_EV_RAWKEY:
        handle_raw(s, running, ev);
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
