// Text from bitmap glyphs: a glyph of a font (one byte a pixel row, bit 7
// leftmost) at an integer scale, in the ink's pen and, unless drawn without
// one, the background's.  A BBS session draws mostly this, so a glyph at
// scale 1 or 2 wholly inside one set of lines is drawn by plat_draw_glyph
// itself, and every helper of it stays in this file, where it is inlined.
#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "platform/internal.h"

namespace {

// kExpand[b]: the 8 pixels of glyph row b as a byte mask, bit 7 at the lowest
// address, so one 64-bit store draws a whole glyph row.
constexpr std::array<uint64_t, 256> make_expand() {
  std::array<uint64_t, 256> t{};
  for (int b = 0; b < 256; b++) {
    uint64_t m = 0;
    for (int bit = 0; bit < 8; bit++) {
      if (b & (0x80 >> bit)) {
        int lane = std::endian::native == std::endian::little ? bit : 7 - bit;
        m |= uint64_t{0xFF} << (lane * 8);
      }
    }
    t[static_cast<size_t>(b)] = m;
  }
  return t;
}
constexpr std::array<uint64_t, 256> kExpand = make_expand();
// The same for scales 2..kMaxTableScale: glyph row b at scale S is the S
// masks kScaledMasks<S>[b * S .. b * S + S - 1] (8 * S pixels).
constexpr int kMaxTableScale = 8;

template <int S>
constexpr std::array<uint64_t, 256 * S> make_scaled_masks() {
  std::array<uint64_t, 256 * S> t{};
  for (size_t b = 0; b < 256; b++) {
    for (size_t px = 0; px < 8 * S; px++) {
      if (!(b & (0x80u >> (px / S)))) continue;
      size_t lane = std::endian::native == std::endian::little ? px % 8 : 7 - px % 8;
      t[b * S + px / 8] |= uint64_t{0xFF} << (lane * 8);
    }
  }
  return t;
}
template <int S>
constexpr std::array<uint64_t, 256 * S> kScaledMasks = make_scaled_masks<S>();

// The pixel rows of a glyph at scale S (masks from the tables above) whose
// pixel rows start at line[0], column col, in the background pen too when
// Opaque.  The scale is a template argument so that each variant is
// straight-line stores: at scale 2 a pixel row is one 16-byte store.
template <int S, bool Opaque>
[[gnu::always_inline]] inline void glyph_rows_inline(uint8_t* const* line, size_t col,
                                                     const uint8_t* rows, int height, uint64_t fg8,
                                                     uint64_t bg8) {
  const uint64_t* const table = S == 1 ? kExpand.data() : kScaledMasks<S>.data();
  const uint64_t flip = fg8 ^ bg8;
#pragma GCC unroll 4
  for (int r = 0; r < height; r++) {
    const uint64_t* m = table + static_cast<size_t>(rows[r]) * S;
    if (Opaque) {
      uint64_t v[S];
#pragma GCC unroll 8
      for (int word = 0; word < S; word++) v[word] = bg8 ^ (flip & m[word]);
      if constexpr (S <= 2) {
        // One store a pixel row (at scale 2 the row is made in a vector
        // register).
        for (int k = 0; k < S; k++, line++) std::memcpy(*line + col, v, 8 * S);
      } else {
        // Word by word from registers: copying the row as one block would
        // load it back from the stack just after its words were stored
        // there, which the processor cannot forward (that was 3/4 of the
        // time of a scale-3 glyph).
        for (int k = 0; k < S; k++, line++) {
          uint8_t* const p = *line + col;
#pragma GCC unroll 8
          for (int word = 0; word < S; word++) std::memcpy(p + 8 * word, &v[word], 8);
        }
      }
    } else {
      for (int k = 0; k < S; k++, line++) {
        for (int word = 0; word < S; word++) {
          if (!m[word]) continue;
          uint8_t* q = *line + col + 8 * word;
          uint64_t d;
          std::memcpy(&d, q, 8);
          d = (d & ~m[word]) | (fg8 & m[word]);
          std::memcpy(q, &d, 8);
        }
      }
    }
  }
}

template <int S, bool Opaque>
void glyph_rows(uint8_t* const* line, size_t col, const uint8_t* rows, int height, uint64_t fg8,
                uint64_t bg8) {
  glyph_rows_inline<S, Opaque>(line, col, rows, height, fg8, bg8);
}

using GlyphRowsFn = void (*)(uint8_t* const*, size_t, const uint8_t*, int, uint64_t, uint64_t);
constexpr GlyphRowsFn kOpaqueGlyphRows[kMaxTableScale + 1] = {nullptr,
                                                              glyph_rows<1, true>,
                                                              glyph_rows<2, true>,
                                                              glyph_rows<3, true>,
                                                              glyph_rows<4, true>,
                                                              glyph_rows<5, true>,
                                                              glyph_rows<6, true>,
                                                              glyph_rows<7, true>,
                                                              glyph_rows<8, true>};
constexpr GlyphRowsFn kInkGlyphRows[kMaxTableScale + 1] = {nullptr,
                                                           glyph_rows<1, false>,
                                                           glyph_rows<2, false>,
                                                           glyph_rows<3, false>,
                                                           glyph_rows<4, false>,
                                                           glyph_rows<5, false>,
                                                           glyph_rows<6, false>,
                                                           glyph_rows<7, false>,
                                                           glyph_rows<8, false>};

// An opaque glyph at scale 2 at row y of lines whose rows may share lines:
// a pixel row goes once into a line its two rows share.
void glyph_rows_doubled(PlatLines* l, int y, size_t col, const uint8_t* rows, int height,
                        uint64_t fg8, uint64_t bg8) {
  uint8_t* const* line = l->rows.get() + y;
  const uint64_t flip = fg8 ^ bg8;
  if (l->pairs_epoch == l->epoch && l->pairs_y == y && l->pairs_h == height) {
    // The rows are paired as the last glyph here found them (and cut from
    // their neighbours above and below): one store per pixel row.
#pragma GCC unroll 4
    for (int r = 0; r < height; r++) {
      const uint64_t* m = kScaledMasks<2>.data() + static_cast<size_t>(rows[r]) * 2;
      const uint64_t v[2] = {bg8 ^ (flip & m[0]), bg8 ^ (flip & m[1])};
      std::memcpy(line[2 * r] + col, v, 16);
    }
    return;
  }
  plat_split_rows(l, y);
  plat_split_rows(l, y + 2 * height);
  // Written once into the first row of each pair, noting whether any pair
  // has lines of its own (then every row is written below, as it must be).
  uintptr_t apart = 0;
#pragma GCC unroll 4
  for (int r = 0; r < height; r++) {
    const uint64_t* m = kScaledMasks<2>.data() + static_cast<size_t>(rows[r]) * 2;
    const uint64_t v[2] = {bg8 ^ (flip & m[0]), bg8 ^ (flip & m[1])};
    uint8_t* a = line[2 * r];
    apart |= reinterpret_cast<uintptr_t>(a) ^ reinterpret_cast<uintptr_t>(line[2 * r + 1]);
    std::memcpy(a + col, v, 16);
  }
  if (!apart) {
    l->pairs_epoch = l->epoch;
    l->pairs_y = y;
    l->pairs_h = height;
    return;
  }
  for (int r = 0; r < height; r++) {
    const uint64_t* m = kScaledMasks<2>.data() + static_cast<size_t>(rows[r]) * 2;
    const uint64_t v[2] = {bg8 ^ (flip & m[0]), bg8 ^ (flip & m[1])};
    uint8_t* a = line[2 * r];
    uint8_t* b = line[2 * r + 1];
    std::memcpy(a + col, v, 16);
    if (a == b) continue;
    // Paired the other way (with the next pixel row's first row): apart.
    if (r + 1 < height && b == line[2 * r + 2]) b = plat_unshare_row(l, y + 2 * r + 1);
    std::memcpy(b + col, v, 16);
  }
}

// An opaque glyph at scale 1 or 2 (wholly inside the lines, rows settled)
// where rows share lines.  Text at scale 1 there gives its rows lines of
// their own, and the next line cleared shares none.
[[gnu::noinline]] void glyph_over_shared_rows(PlatLines* l, int x, int y, const uint8_t* rows,
                                              int height, int scale, int fg_pen, int bg_pen) {
  const auto col = static_cast<size_t>(x - l->x0);
  const uint64_t fg8 = static_cast<uint8_t>(fg_pen) * kPlatEveryByte;
  const uint64_t bg8 = static_cast<uint8_t>(bg_pen) * kPlatEveryByte;
  l->doubled = scale == 2;
  if (scale == 2) {
    glyph_rows_doubled(l, y, col, rows, height, fg8, bg8);
  } else {
    plat_unshare_rows(l, y, y + height - 1);
    glyph_rows_inline<1, true>(l->rows.get() + y, col, rows, height, fg8, bg8);
  }
}

// Huge scales (a glyph wider than 64 pixels): a fill per run is cheap next
// to the pixels it covers.
void glyph_rows_by_runs(uint8_t* const* line, size_t col, const uint8_t* rows, int height,
                        int scale, int fg_pen, int bg_pen) {
  const auto s = static_cast<size_t>(scale);
  for (int r = 0; r < height; r++) {
    const uint8_t bits = rows[r];
    for (size_t k = 0; k < s; k++, line++) {
      uint8_t* p = *line + col;
      if (bg_pen >= 0) std::memset(p, bg_pen & 0xFF, 8 * s);
      for (int bit = 0; bit < 8; bit++) {
        if (bits & (0x80 >> bit)) std::memset(p + static_cast<size_t>(bit) * s, fg_pen & 0xFF, s);
      }
    }
  }
}

// Glyph drawing where part of the glyph lies outside the window or across
// the edge of the band: per pixel, which is rare, so speed does not matter.
void draw_glyph_clipped(PlatWindow* w, int x, int y, const uint8_t* rows, int height, int scale,
                        int fg, int bg) {
  int64_t gx1 = int64_t{x} + 8 * int64_t{scale} - 1;
  int64_t gy1 = int64_t{y} + int64_t{height} * scale - 1;
  int cx0 = std::max(x, 0);
  int cy0 = std::max(y, 0);
  int cx1 = static_cast<int>(std::min<int64_t>(gx1, w->width - 1));
  int cy1 = static_cast<int>(std::min<int64_t>(gy1, w->height - 1));
  if (cx1 < cx0 || cy1 < cy0) return;
  plat_settle_rows(w, cy0, cy1);
  for (int py = cy0; py <= cy1; py++) {
    uint8_t bits = rows[(py - y) / scale];
    for (int px = cx0; px <= cx1; px++) {
      if (bits & (0x80 >> ((px - x) / scale))) {
        *plat_pixel(w, px, py) = static_cast<uint8_t>(fg);
      } else if (bg >= 0) {
        *plat_pixel(w, px, py) = static_cast<uint8_t>(bg);
      }
    }
  }
  plat_add_dirty(w, cx0, cy0, cx1, cy1);
}

// Every glyph the fast path of plat_draw_glyph leaves: the other scales,
// glyphs without background, and glyphs cut by the window's or the band's
// edges.
[[gnu::noinline]] void draw_glyph_any(PlatWindow* window, int x, int y, const uint8_t* rows,
                                      int height, int scale, int fg_pen, int bg_pen) {
  const int64_t gw = 8 * int64_t{scale};
  const int64_t gh = int64_t{height} * scale;
  int end = 0;
  PlatLines* l = x >= 0 && x < window->width ? plat_lines_at(window, x, &end) : nullptr;
  if (!l || y < 0 || x + gw > end || y + gh > window->height) {
    draw_glyph_clipped(window, x, y, rows, height, scale, fg_pen & 0xFF,
                       bg_pen < 0 ? -1 : (bg_pen & 0xFF));
    return;
  }
  const int y1 = static_cast<int>(y + gh - 1);
  plat_settle_span(l, x, static_cast<int>(x + gw - 1), y, y1, bg_pen >= 0);
  plat_unshare_rows(l, y, y1);
  uint8_t* const* line = l->rows.get() + y;
  const auto col = static_cast<size_t>(x - l->x0);
  if (scale <= kMaxTableScale) {
    const uint64_t fg8 = static_cast<uint8_t>(fg_pen) * kPlatEveryByte;
    const uint64_t bg8 = static_cast<uint8_t>(bg_pen) * kPlatEveryByte;
    const auto s = static_cast<size_t>(scale);
    (bg_pen >= 0 ? kOpaqueGlyphRows : kInkGlyphRows)[s](line, col, rows, height, fg8, bg8);
  } else {
    glyph_rows_by_runs(line, col, rows, height, scale, fg_pen, bg_pen);
  }
  plat_add_dirty(window, x, y, static_cast<int>(x + gw - 1), y1);
}

}  // namespace

void plat_draw_glyph(PlatWindow* window, int x, int y, const uint8_t* rows, int height, int scale,
                     int fg_pen, int bg_pen) {
  if (!window || !rows || height <= 0 || scale <= 0) return;
  // Text at scales 1 and 2 is most of what a BBS session draws: a glyph
  // with its background, wholly inside the window and inside one set of
  // lines (the window's, or the band's), is drawn here without calls.
  if (bg_pen >= 0 && scale <= 2 && x >= 0 && y >= 0 && x <= window->width - 8 * scale &&
      y <= window->height - height * scale) {
    const int x1 = x + 8 * scale - 1, y1 = y + height * scale - 1;
    PlatLines* l = &window->lines;
    if (x1 >= window->band.x0 && x < window->band.x1) {
      l = x >= window->band.x0 && x1 < window->band.x1 ? &window->band : nullptr;
    }
    if (l) {
      plat_settle_span(l, x, x1, y, y1, true);
      if (l->shared) [[unlikely]] {
        glyph_over_shared_rows(l, x, y, rows, height, scale, fg_pen, bg_pen);
      } else {
        uint8_t* const* line = l->rows.get() + y;
        const auto col = static_cast<size_t>(x - l->x0);
        const uint64_t fg8 = static_cast<uint8_t>(fg_pen) * kPlatEveryByte;
        const uint64_t bg8 = static_cast<uint8_t>(bg_pen) * kPlatEveryByte;
        if (scale == 1) {
          glyph_rows_inline<1, true>(line, col, rows, height, fg8, bg8);
        } else {
          l->doubled = true;
          glyph_rows_inline<2, true>(line, col, rows, height, fg8, bg8);
        }
      }
      plat_add_dirty(window, x, y, x1, y1);
      return;
    }
  }
  draw_glyph_any(window, x, y, rows, height, scale, fg_pen, bg_pen);
}
