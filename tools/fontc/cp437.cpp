// The IBM PC character set: which Unicode picture each byte shows, and the
// glyphs we always draw ourselves.
//
// Console fonts draw box-drawing lines where it suits their own text; BBS
// art needs every line to continue exactly in the neighbouring cell, so the
// box, block and shade glyphs are computed here from one geometry per height.
#include <array>
#include <cstdint>

#include "glyphs.h"

namespace {

// 128..255 in code page 437.
constexpr std::array<uint16_t, 128> kHighHalf = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4,
    0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

// Arms of a box-drawing glyph: 0 none, 1 single line, 2 double line.
struct Box {
  uint8_t code, up, down, left, right;
};

constexpr std::array<Box, 40> kBoxes = {{
    {179, 1, 1, 0, 0}, {180, 1, 1, 1, 0}, {181, 1, 1, 2, 0}, {182, 2, 2, 1, 0}, {183, 0, 2, 1, 0},
    {184, 0, 1, 2, 0}, {185, 2, 2, 2, 0}, {186, 2, 2, 0, 0}, {187, 0, 2, 2, 0}, {188, 2, 0, 2, 0},
    {189, 2, 0, 1, 0}, {190, 1, 0, 2, 0}, {191, 0, 1, 1, 0}, {192, 1, 0, 0, 1}, {193, 1, 0, 1, 1},
    {194, 0, 1, 1, 1}, {195, 1, 1, 0, 1}, {196, 0, 0, 1, 1}, {197, 1, 1, 1, 1}, {198, 1, 1, 0, 2},
    {199, 2, 2, 0, 1}, {200, 2, 0, 0, 2}, {201, 0, 2, 0, 2}, {202, 2, 0, 2, 2}, {203, 0, 2, 2, 2},
    {204, 2, 2, 0, 2}, {205, 0, 0, 2, 2}, {206, 2, 2, 2, 2}, {207, 1, 0, 2, 2}, {208, 2, 0, 1, 1},
    {209, 0, 1, 2, 2}, {210, 0, 2, 1, 1}, {211, 2, 0, 0, 1}, {212, 1, 0, 0, 2}, {213, 0, 1, 0, 2},
    {214, 0, 2, 0, 1}, {215, 2, 2, 1, 1}, {216, 1, 1, 2, 2}, {217, 1, 0, 1, 0}, {218, 0, 1, 0, 1},
}};

struct Canvas {
  int height;
  uint8_t rows[kMaxRows] = {};

  static uint8_t span(int c0, int c1) {  // columns c0..c1 as a row mask
    uint8_t m = 0;
    for (int c = c0; c <= c1; c++) m |= static_cast<uint8_t>(0x80 >> c);
    return m;
  }
  void fill(int r0, int r1, int c0, int c1) {
    for (int r = r0; r <= r1; r++) rows[r] |= span(c0, c1);
  }
  void clear(int r0, int r1, int c0, int c1) {
    for (int r = r0; r <= r1; r++) rows[r] &= static_cast<uint8_t>(~span(c0, c1));
  }
};

// Column numbers of the strokes (the masks in BoxGeometry say the same).
constexpr int kSingleL = 3, kSingleR = 4;  // single vertical line
constexpr int kOuterL = 1, kOuterR = 6;    // outer edges of a double vertical line

void draw_box(const Box& b, int height, uint8_t* out) {
  const BoxGeometry g = cp437_box_geometry(height);
  const int m = g.single_row, t = g.double_top, bot = g.double_bottom, last = height - 1;
  const int hv = b.left > b.right ? b.left : b.right;  // horizontal line kind
  const int vv = b.up > b.down ? b.up : b.down;        // vertical line kind
  Canvas cv{height};

  // A double arm is a solid band reaching as far as the crossing line it
  // meets, with its centre channel carved out afterwards: where two double
  // arms meet, the carving leaves the inner and outer corners joined.
  if (b.up == 2) cv.fill(0, hv == 2 ? bot : m, kOuterL, kOuterR);
  if (b.down == 2) cv.fill(hv == 2 ? t : m, last, kOuterL, kOuterR);
  if (b.left == 2) cv.fill(t, bot, 0, vv == 2 ? kOuterR : kSingleR);
  if (b.right == 2) cv.fill(t, bot, vv == 2 ? kOuterL : kSingleL, 7);
  if (b.up == 2) cv.clear(0, m, kSingleL, kSingleR);
  if (b.down == 2) cv.clear(m, last, kSingleL, kSingleR);
  if (b.left == 2) cv.clear(m, m, 0, kSingleR);
  if (b.right == 2) cv.clear(m, m, kSingleL, 7);

  // A single arm that meets a double line stops at the near line when the
  // double line runs straight through, and closes both lines when it ends.
  if (b.up == 1) {
    int end = (b.down != 0 || hv != 2) ? m : (b.left && b.right ? t : bot);
    cv.fill(0, end, kSingleL, kSingleR);
  }
  if (b.down == 1) {
    int start = (b.up != 0 || hv != 2) ? m : (b.left && b.right ? bot : t);
    cv.fill(start, last, kSingleL, kSingleR);
  }
  if (b.left == 1) {
    int end = b.right ? 7 : vv == 2 ? (b.up && b.down ? 2 : kOuterR) : kSingleR;
    cv.fill(m, m, 0, end);
  }
  if (b.right == 1) {
    int start = b.left ? 0 : vv == 2 ? (b.up && b.down ? 5 : kOuterL) : kSingleL;
    cv.fill(m, m, start, 7);
  }
  for (int r = 0; r < height; r++) out[r] = cv.rows[r];
}

void set_glyph(GlyphSet* set, int code, const uint8_t* rows) {
  set->rows[code] = {};
  for (int r = 0; r < set->height; r++) set->rows[code][r] = rows[r];
  set->defined[code] = true;
}

}  // namespace

uint32_t cp437_to_unicode(int byte) {
  if (byte >= 128 && byte <= 255) return kHighHalf[byte - 128];
  if (byte >= 32 && byte <= 126) return static_cast<uint32_t>(byte);
  return 0;
}

BoxGeometry cp437_box_geometry(int height) {
  BoxGeometry g{};
  g.single_cols = 0x18;
  g.double_left = 0x60;
  g.double_right = 0x06;
  g.single_row = height / 2 - 1;
  g.double_top = g.single_row - 1;
  g.double_bottom = g.single_row + 1;
  return g;
}

void cp437_apply_rules(GlyphSet* set) {
  const int h = set->height;
  uint8_t rows[kMaxRows];
  for (const Box& b : kBoxes) {
    draw_box(b, h, rows);
    set_glyph(set, b.code, rows);
  }
  // Shades repeat every two rows and four columns, so they tile seamlessly
  // over whole areas at every (even) cell height.
  const uint8_t shade[3][2] = {{0x22, 0x88}, {0xAA, 0x55}, {0xDD, 0x77}};
  for (int s = 0; s < 3; s++) {
    for (int r = 0; r < h; r++) rows[r] = shade[s][r % 2];
    set_glyph(set, 176 + s, rows);
  }
  for (int r = 0; r < h; r++) rows[r] = 0xFF;
  set_glyph(set, 219, rows);
  for (int r = 0; r < h; r++) rows[r] = r >= h / 2 ? 0xFF : 0x00;
  set_glyph(set, 220, rows);
  for (int r = 0; r < h; r++) rows[r] = 0xF0;
  set_glyph(set, 221, rows);
  for (int r = 0; r < h; r++) rows[r] = 0x0F;
  set_glyph(set, 222, rows);
  for (int r = 0; r < h; r++) rows[r] = r < h / 2 ? 0xFF : 0x00;
  set_glyph(set, 223, rows);
}
