// Key presses acted on once (see key_filter.h).
#include "platform/key_filter.h"

#include "platform/clock.h"
#include "platform/display.h"
#include "platform/keymap.h"

KeyFilterState g_key_filter = {};

namespace {

constexpr uint16_t kKeyT = 0x14;
constexpr uint32_t kEditTwiceMs = 80;
constexpr uint32_t kNavTwiceMs = 40;

KeyFilterState& keys() {
  return g_key_filter;
}

bool within(uint32_t now, uint32_t then, uint32_t ms) {
  return now - then < ms;
}

}  // namespace

void key_filter_reset() {
  g_key_filter = KeyFilterState{};
}

void key_filter_release(const PlatEvent& ev) {
  int key = ev.code & 0x7F;
  KeyFilterState& k = keys();
  if (k.hotkey_held && k.hotkey_key == key) k.hotkey_held = false;
  if (key == RAWKEY_LSHIFT || key == RAWKEY_RSHIFT) k.shift_down = 0;
  if (key == RAWKEY_KP_ENTER || key == RAWKEY_RETURN) k.alt_enter_down = 0;
  if (key == kKeyT) k.alt_t_down = 0;
}

bool key_filter_hotkey_repeat(const PlatEvent& ev) {
  return ev.repeat && keys().hotkey_held && ev.key == keys().hotkey_key;
}

void key_filter_take_hotkey(const PlatEvent& ev) {
  keys().hotkey_held = ev.key >= 0;
  keys().hotkey_key = ev.key;
}

int alt_enter_accept_press() {
  KeyFilterState& k = keys();
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
  KeyFilterState& k = keys();
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
  KeyFilterState& k = keys();
  uint32_t now = clock_ms();
  if (k.alt_s_has_last && within(now, k.alt_s_last_ms, 250)) return 0;
  k.alt_s_last_ms = now;
  k.alt_s_has_last = true;
  return 1;
}

int key_filter_edit_accept(int kind, int form) {
  KeyFilterState& k = keys();
  uint32_t now = clock_ms();
  // Presses that arrive in the same form are real presses (or the
  // keyboard's repeat of a held key), however fast they come.
  if (k.edit_has_last && k.edit_last_kind == kind && k.edit_last_form != form &&
      within(now, k.edit_last_ms, kEditTwiceMs))
    return 0;
  k.edit_last_kind = kind;
  k.edit_last_form = form;
  k.edit_last_ms = now;
  k.edit_has_last = true;
  return 1;
}

int key_filter_nav_accept(int code, int form, bool repeat) {
  KeyFilterState& k = keys();
  uint32_t now = clock_ms();
  if (!repeat && code == k.nav_last_key && k.nav_last_ms != 0 && form != k.nav_last_form &&
      within(now, k.nav_last_ms, kNavTwiceMs))
    return 0;
  k.nav_last_key = code;
  k.nav_last_form = form;
  // 0 stands for "no time": a press at clock 0 is remembered as 1 ms.
  k.nav_last_ms = now ? now : 1;
  return 1;
}

void key_filter_nav_forget() {
  keys().nav_last_key = 0;
  keys().nav_last_ms = 0;
}

int key_filter_stop_accept() {
  KeyFilterState& k = keys();
  uint32_t now = clock_ms();
  if (k.stop_has_last && within(now, k.stop_last_ms, 250)) return 0;
  k.stop_last_ms = now;
  k.stop_has_last = true;
  return 1;
}
