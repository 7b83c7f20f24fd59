// layers: display
// Arbitrary bytes through the PETSCII interpreter of a terminal bound to a
// headless window (so every drawing path runs, the side strips of the
// 40-column picture included), with a scrollback ring.  The terminal draws
// with the C64 bitmap font, so character-set switches load the real glyph
// files (or warn when they are missing).  The first byte picks the set-up:
// 40 or 80 columns, the starting character set, scale 1 or 2, a margin,
// drawing suppressed for the second half of the input.  Afterwards the
// cursor must be inside the visible columns and the hidden columns blank.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <random>

#include "../tests/terminal/headless_terminal.h"
#include "terminal/petscii.h"

namespace {

void load_noise_font(int scale) {
  std::mt19937 rng(11);
  for (auto& b : g_bitmap_font.glyphs) b = static_cast<uint8_t>(rng());
  g_bitmap_font.height = 8;
  g_bitmap_font.scale = scale;
  g_bitmap_font.valid = 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::unique_ptr<ScrollbackLine[]> lines =
      std::make_unique<ScrollbackLine[]>(kScrollbackLines);
  if (size == 0) return 0;
  uint8_t mode = data[0];
  bool lower = mode & 2;
  int scale = mode & 4 ? 2 : 1;
  if (mode & 1) {
    set_active_font(lower ? kFontC64LowUp80 : kFontC64UpGfx80);
  } else {
    set_active_font(lower ? kFontC64LowUp40 : kFontC64UpGfx40);
  }
  if (!bitmap_font_load(lower ? "c64_lower.f8" : "c64_upper.f8", 8, scale)) load_noise_font(scale);

  HeadlessTerminal h;
  Terminal* t = h.term();
  t->petscii = TERM_MODE_PETSCII;
  if (!h.open_bitmap(8, scale, false, mode & 8 ? 5 : 0)) return 0;
  t->bitmap_kind = BITMAP_KIND_C64;
  t->petscii_lower = lower ? 1 : 0;
  ScrollbackRing ring{lines.get(), 0, 0};
  t->scrollback = &ring;
  t->cursor_enabled = 1;
  term_clear_screen(t);

  for (size_t i = 1; i < size; i++) {
    if ((mode & 16) && i == size / 2) t->drawing_suppressed = 1;
    petscii_consume_byte(t, data[i]);
    if (i % 64 == 0) term_update_cursor_blink(t);
  }
  int visible = term_visible_cols(t);
  if (t->row < 0 || t->row >= kTermRows || t->col < 0 || t->col >= visible) abort();
  if (t->petscii_lower != 0 && t->petscii_lower != 1) abort();
  if (t->petscii_after_cr != 0 && t->petscii_after_cr != 1) abort();
  for (const auto& row : t->cells) {
    for (int c = 0; c < kTermCols; c++) {
      const Cell& cell = row[c];
      if (cell.fg > 15 || cell.bg > 15) abort();
      if (c >= visible && (cell.ch != ' ' || cell.fg != 7 || cell.bg != 0)) abort();
    }
  }
  if (ring.count < 0 || ring.count > kScrollbackLines) abort();
  return 0;
}
