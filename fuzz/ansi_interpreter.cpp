// layers: display
// Arbitrary bytes through the ANSI interpreter of a terminal bound to a
// headless window (so every drawing path runs), with a scrollback ring and a
// reply hook that checks every reply; music plays (to the headless audio
// output, by a clock that moves as bytes arrive) and holds the display.  The
// first byte picks the set-up: CP437 pictures or not, a C64 font name (case
// swap), a margin around the grid, a scale of 1 or 2.  Afterwards the cursor
// must be inside the grid, the parser state valid and any scrolling region
// inside the grid.  fuzz/ansi_interpreter.dict holds the sequences worth
// combining (run with -dict=fuzz/ansi_interpreter.dict).
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <random>

#include "../tests/terminal/headless_terminal.h"
#include "platform/audio.h"
#include "platform/clock.h"
#include "terminal/hooks.h"

namespace {

// Every reply is short, complete and starts with ESC or is an answerback
// word ending in CR.
void check_reply(Terminal*, const char* bytes, size_t len) {
  if (!bytes || len == 0 || len > 32) abort();
  if (bytes[0] != '\x1b' && bytes[len - 1] != '\r') abort();
}

struct Setup {
  std::unique_ptr<ScrollbackLine[]> lines = std::make_unique<ScrollbackLine[]>(kScrollbackLines);
  Setup() {
    std::mt19937 rng(7);
    for (auto& b : g_bitmap_font.glyphs) b = static_cast<uint8_t>(rng());
    g_bitmap_font.height = 16;
    g_bitmap_font.scale = 1;
    g_bitmap_font.valid = 1;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Setup setup;
  if (size == 0) return 0;
  uint8_t mode = data[0];
  set_active_font(mode & 2 ? kFontC64UpGfx80 : kFontCP437);
  HeadlessTerminal h;
  if (!h.open_bitmap(mode & 8 ? 8 : 16, mode & 4 ? 2 : 1, mode & 1, mode & 16 ? 5 : 0)) return 0;
  Terminal* t = h.term();
  ScrollbackRing ring{setup.lines.get(), 0, 0};
  t->scrollback = &ring;
  g_term_hooks.reply = check_reply;
  t->reply_socket = 0;  // any descriptor: the hook sends nothing
  t->cursor_enabled = 1;
  clock_test_set_ms(1000);
  for (size_t i = 1; i < size; i++) {
    term_consume_byte(t, data[i]);
    if (i % 64 == 0) {
      clock_test_advance_ms(250);
      term_music_pump(t);
      term_update_cursor_blink(t);
    }
  }
  if (t->hold_len < 0 || t->hold_len > kTermHoldBuf) abort();
  // Escape: the music stops and what it held goes on (which may hold again).
  while (term_music_stop(t)) {
  }
  plat_headless_audio_reset();
  for (int slot = 1; slot < kTermExtColours; slot++)
    if (t->ext_colours[slot] && !(t->ext_colours[slot] & (kColourRgb | kColourIndexed))) abort();
  if (t->row < 0 || t->row >= kTermRows || t->col < 0 || t->col >= kTermCols) abort();
  if (t->ansi_state < ANSI_GROUND || t->ansi_state > ANSI_FONT_DATA) abort();
  if (t->seq_len < 0 || t->seq_len >= kTermSeqBuf) abort();
  if (t->music_len < 0 || t->music_len > kTermMusicBuf + 1) abort();
  if (t->osc_len < -1 || t->osc_len > kTermOscBuf) abort();
  // A region the host set is two rows or more inside the grid.
  int top, bottom;
  term_scroll_region(t, &top, &bottom);
  if (top < 0 || bottom >= kTermRows || top >= bottom) abort();
  if ((t->scroll_top != 0 || t->scroll_bottom != 0) &&
      (top != t->scroll_top || bottom != t->scroll_bottom))
    abort();
  if (ring.count < 0 || ring.count > kScrollbackLines) abort();
  return 0;
}
