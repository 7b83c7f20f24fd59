// Colours beyond the PC's sixteen: the 256-colour table, RGB values, and
// the palette a host may change.
//
// A cell stays four bytes.  A colour that is not one of the sixteen is kept
// once in a table of the terminal (a 256-colour index, or an RGB value), and
// the cell names its slot in the table with a flag beside it: text in the
// sixteen colours is stored and drawn exactly as before, and the screen
// holds at most 255 other colours at a time, which is what the display's
// 256 colour registers can show anyway.
#include <cstdlib>

#include "terminal/hooks.h"
#include "terminal/terminal.h"

namespace {

// The six levels of the 6x6x6 cube of the 256-colour table.
constexpr uint8_t kCubeLevel[6] = {0, 95, 135, 175, 215, 255};

uint32_t table_rgb(int n) {
  if (n < kTermPalette) return kTermDefaultPalette[n];
  if (n < 232) {
    int i = n - 16;
    return static_cast<uint32_t>(kCubeLevel[i / 36]) << 16 |
           static_cast<uint32_t>(kCubeLevel[i / 6 % 6]) << 8 | kCubeLevel[i % 6];
  }
  uint32_t grey = static_cast<uint32_t>(8 + 10 * (n - 232));
  return grey << 16 | grey << 8 | grey;
}

int distance(uint32_t a, uint32_t b) {
  int dr = static_cast<int>((a >> 16) & 0xFF) - static_cast<int>((b >> 16) & 0xFF);
  int dg = static_cast<int>((a >> 8) & 0xFF) - static_cast<int>((b >> 8) & 0xFF);
  int db = static_cast<int>(a & 0xFF) - static_cast<int>(b & 0xFF);
  return dr * dr + dg * dg + db * db;
}

// Frees every slot that neither a cell nor the attributes name.
void collect_unused_slots(Terminal* t) {
  bool used[kTermExtColours] = {};
  used[t->fg_ext & 0xFF] = true;
  used[t->bg_ext & 0xFF] = true;
  for (const auto& row : t->cells) {
    for (const Cell& c : row) {
      if (c.flags & CELL_FG_EXT) used[c.fg] = true;
      if (c.flags & CELL_BG_EXT) used[c.bg] = true;
    }
  }
  for (int i = 1; i < kTermExtColours; i++)
    if (!used[i]) t->ext_colours[i] = 0;
}

int free_slot(const Terminal* t) {
  for (int i = 1; i < kTermExtColours; i++)
    if (t->ext_colours[i] == 0) return i;
  return 0;
}

}  // namespace

uint32_t term_palette_rgb(const Terminal* t, int colour) {
  if (colour < 0 || colour > 255) return 0;
  if (t && t->palette_override[colour]) return t->palette_override[colour] & 0xFFFFFF;
  return table_rgb(colour);
}

uint32_t term_ext_rgb(const Terminal* t, int slot) {
  if (!t || slot <= 0 || slot >= kTermExtColours) return 0;
  uint32_t c = t->ext_colours[slot];
  if (c & kColourRgb) return c & 0xFFFFFF;
  if (c & kColourIndexed) return term_palette_rgb(t, static_cast<int>(c & 0xFF));
  return 0;
}

int term_ext_slot(Terminal* t, uint32_t colour) {
  if (!t || colour == 0) return 0;
  for (int i = 1; i < kTermExtColours; i++)
    if (t->ext_colours[i] == colour) return i;
  int slot = free_slot(t);
  if (slot == 0) {
    collect_unused_slots(t);
    slot = free_slot(t);
  }
  if (slot == 0) {
    // 255 colours on screen at once: the nearest of them stands in.
    uint32_t want = (colour & kColourRgb) ? colour & 0xFFFFFF
                                          : term_palette_rgb(t, static_cast<int>(colour & 0xFF));
    int best = 1, best_distance = -1;
    for (int i = 1; i < kTermExtColours; i++) {
      int d = distance(term_ext_rgb(t, i), want);
      if (best_distance < 0 || d < best_distance) {
        best = i;
        best_distance = d;
      }
    }
    return best;
  }
  t->ext_colours[slot] = colour;
  return slot;
}

void term_cell_rgb(const Terminal* t, const Cell& c, uint32_t* fg, uint32_t* bg) {
  int bg_index = c.bg & 15;
  if ((c.flags & CELL_BLINK) && t && t->ice_colours && bg_index < 8) bg_index += 8;
  if (fg) *fg = (c.flags & CELL_FG_EXT) ? term_ext_rgb(t, c.fg) : term_palette_rgb(t, c.fg & 15);
  if (bg) *bg = (c.flags & CELL_BG_EXT) ? term_ext_rgb(t, c.bg) : term_palette_rgb(t, bg_index);
}

int term_palette_index_of_256(int n) {
  // The 256-colour table starts with the sixteen in ANSI order (black red
  // green yellow blue magenta cyan white); the palette is in PC order.
  static constexpr int kAnsiToPc[8] = {0, 4, 2, 6, 1, 5, 3, 7};
  if (n < 0 || n >= kTermPalette) return -1;
  return n < 8 ? kAnsiToPc[n] : kAnsiToPc[n - 8] + 8;
}

void term_palette_changed(Terminal* t) {
  if (!t) return;
  t->palette_serial++;
  term_redraw_all(t);
}

void term_update_attr_extra(Terminal* t) {
  if (!t) return;
  t->attr_extra = t->blink || t->fg_ext || t->bg_ext || t->font_id;
}
