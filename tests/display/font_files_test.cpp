// The compiled Fonts drawer: sizes, the glyph properties BBS art relies on,
// the PETSCII duplicate ranges, and the AmigaOS disk fonts decoded with the
// documented field offsets and bit rules (and by the program's own loader).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "display/fonts.h"
#include "support/test_support.h"

namespace {

using Bytes = std::vector<unsigned char>;
using Glyph = std::array<uint8_t, 16>;
using Sheet = std::map<int, Glyph>;

Bytes font_file(const std::string& name) {
  return read_file_bytes(binary_path("Fonts/" + name));
}

Glyph glyph(const Bytes& raw, int height, int c) {
  Glyph g{};
  for (int r = 0; r < height; r++) g[r] = raw[static_cast<size_t>(c * height + r)];
  return g;
}

// Reads a glyph sheet the way docs/fonts.md describes it: "0xNN label"
// followed by `rows` rows of '#'/'.', "copy 0xA-0xB from 0xS", ';' comments.
void load_sheet(const std::string& rel, int rows, Sheet* sheet) {
  std::ifstream in(source_path("assets/fonts/" + rel));
  ASSERT_TRUE(in) << rel;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == ';') continue;
    if (line.rfind("copy ", 0) == 0) {
      unsigned first = 0, last = 0, from = 0;
      if (sscanf(line.c_str(), "copy 0x%x-0x%x from 0x%x", &first, &last, &from) != 3) {
        ASSERT_EQ(sscanf(line.c_str(), "copy 0x%x from 0x%x", &first, &from), 2) << line;
        last = first;
      }
      Sheet before = *sheet;
      for (unsigned i = 0; i <= last - first; i++) (*sheet)[first + i] = before.at(from + i);
      continue;
    }
    unsigned code = 0;
    ASSERT_EQ(sscanf(line.c_str(), "0x%x", &code), 1) << rel << ": " << line;
    Glyph g{};
    for (int r = 0; r < rows; r++) {
      ASSERT_TRUE(std::getline(in, line)) << rel;
      for (int x = 0; x < 8; x++) {
        if (line[x] == '#') g[r] |= static_cast<uint8_t>(0x80 >> x);
      }
    }
    (*sheet)[static_cast<int>(code)] = g;
  }
}

// The Topaz designs are drawn in 8 rows: 16-row files repeat every row, the
// 14-row ones keep the first and last row single.
Glyph stretch8(const Glyph& g, int height) {
  Glyph out{};
  for (int r = 0; r < height; r++) {
    int from = height == 16 ? r / 2 : r == 0 ? 0 : r == 13 ? 7 : (r + 1) / 2;
    out[r] = g[from];
  }
  return out;
}

// --- the disk font reader, straight from the documented layout ---------------

uint32_t be16(const Bytes& b, size_t at) {
  return b[at] << 8 | b[at + 1];
}
uint32_t be32(const Bytes& b, size_t at) {
  return be16(b, at) << 16 | be16(b, at + 2);
}

struct DiskFont {
  int ysize = 0, xsize = 0, lo = 0, hi = 0;
  size_t data = 0, modulo = 0, loc = 0;
  std::array<Glyph, 256> glyphs{};
};

DiskFont decode_disk_font(const Bytes& b) {
  DiskFont f;
  f.ysize = static_cast<int>(be16(b, 110));
  f.xsize = static_cast<int>(be16(b, 114));
  f.lo = b[122];
  f.hi = b[123];
  f.data = be32(b, 124) + 32;
  f.modulo = be16(b, 128);
  f.loc = be32(b, 130) + 32;
  for (int c = f.lo; c <= f.hi; c++) {
    size_t e = f.loc + static_cast<size_t>(c - f.lo) * 4;
    uint32_t offset = be16(b, e), width = std::min<uint32_t>(be16(b, e + 2), 8);
    for (int r = 0; r < f.ysize; r++) {
      for (uint32_t k = 0; k < width; k++) {
        size_t at = f.data + r * f.modulo + (offset + k) / 8;
        if (at < b.size() && (b[at] >> (7 - (offset + k) % 8) & 1)) {
          f.glyphs[c][r] |= static_cast<uint8_t>(0x80 >> k);
        }
      }
    }
  }
  return f;
}

bool blank(const Glyph& g) {
  for (uint8_t row : g) {
    if (row) return false;
  }
  return true;
}

// CP437 box drawing: arms up, down, left, right (0 none, 1 single, 2 double)
// and how many separate strokes the picture has (a double line is two).
struct Arms {
  int code, up, down, left, right, pieces;
};
constexpr Arms kBoxArms[] = {
    {179, 1, 1, 0, 0, 1}, {180, 1, 1, 1, 0, 1}, {181, 1, 1, 2, 0, 1}, {182, 2, 2, 1, 0, 2},
    {183, 0, 2, 1, 0, 1}, {184, 0, 1, 2, 0, 1}, {185, 2, 2, 2, 0, 3}, {186, 2, 2, 0, 0, 2},
    {187, 0, 2, 2, 0, 2}, {188, 2, 0, 2, 0, 2}, {189, 2, 0, 1, 0, 1}, {190, 1, 0, 2, 0, 1},
    {191, 0, 1, 1, 0, 1}, {192, 1, 0, 0, 1, 1}, {193, 1, 0, 1, 1, 1}, {194, 0, 1, 1, 1, 1},
    {195, 1, 1, 0, 1, 1}, {196, 0, 0, 1, 1, 1}, {197, 1, 1, 1, 1, 1}, {198, 1, 1, 0, 2, 1},
    {199, 2, 2, 0, 1, 2}, {200, 2, 0, 0, 2, 2}, {201, 0, 2, 0, 2, 2}, {202, 2, 0, 2, 2, 3},
    {203, 0, 2, 2, 2, 3}, {204, 2, 2, 0, 2, 3}, {205, 0, 0, 2, 2, 2}, {206, 2, 2, 2, 2, 4},
    {207, 1, 0, 2, 2, 2}, {208, 2, 0, 1, 1, 1}, {209, 0, 1, 2, 2, 2}, {210, 0, 2, 1, 1, 1},
    {211, 2, 0, 0, 1, 1}, {212, 1, 0, 0, 2, 1}, {213, 0, 1, 0, 2, 1}, {214, 0, 2, 0, 1, 1},
    {215, 2, 2, 1, 1, 1}, {216, 1, 1, 2, 2, 1}, {217, 1, 0, 1, 0, 1}, {218, 0, 1, 0, 1, 1},
};

// Which rows of a glyph have column x set, as a bit mask (bit r = row r).
uint32_t column_mask(const Glyph& g, int height, int x) {
  uint32_t m = 0;
  for (int r = 0; r < height; r++) {
    if (g[r] & (0x80 >> x)) m |= 1u << r;
  }
  return m;
}

// Separate strokes in a glyph: 4-connected groups of set pixels.
int count_pieces(const Glyph& g, int height) {
  bool seen[16][8] = {};
  int pieces = 0;
  for (int r0 = 0; r0 < height; r0++) {
    for (int x0 = 0; x0 < 8; x0++) {
      if (!(g[r0] & (0x80 >> x0)) || seen[r0][x0]) continue;
      pieces++;
      std::vector<std::pair<int, int>> todo{{r0, x0}};
      seen[r0][x0] = true;
      while (!todo.empty()) {
        auto [r, x] = todo.back();
        todo.pop_back();
        const int next[4][2] = {{r - 1, x}, {r + 1, x}, {r, x - 1}, {r, x + 1}};
        for (const auto& n : next) {
          if (n[0] < 0 || n[0] >= height || n[1] < 0 || n[1] > 7) continue;
          if (!(g[n[0]] & (0x80 >> n[1])) || seen[n[0]][n[1]]) continue;
          seen[n[0]][n[1]] = true;
          todo.push_back({n[0], n[1]});
        }
      }
    }
  }
  return pieces;
}

}  // namespace

TEST(FontFiles, TheDrawerHoldsEveryRequiredFileWithItsSize) {
  const struct {
    const char* name;
    size_t size;  // 0: a disk font, any size the loader accepts
  } files[] = {{"cp437.f8", 2048},        {"cp437.f14", 3584},    {"cp437.f16", 4096},
               {"c64_upper.f8", 2048},    {"c64_lower.f8", 2048}, {"topaz_amiga.f14", 3584},
               {"topaz_amiga.f16", 4096}, {"Topaz+1200/14", 0},   {"Topaz+1200/16", 0}};
  for (const auto& f : files) {
    Bytes b = font_file(f.name);
    if (f.size) {
      EXPECT_EQ(b.size(), f.size) << f.name;
    } else {
      EXPECT_GE(b.size(), 134u) << f.name;
      EXPECT_LT(b.size(), 32768u) << f.name;
    }
  }
}

TEST(FontFiles, PcBoxDrawingLinesMeetAcrossCellEdges) {
  for (int h : {8, 14, 16}) {
    SCOPED_TRACE("cp437.f" + std::to_string(h));
    Bytes raw = font_file("cp437.f" + std::to_string(h));
    ASSERT_EQ(raw.size(), static_cast<size_t>(256 * h));
    // The straight lines define where every arm has to cross the cell edge.
    const uint8_t single_cols = glyph(raw, h, 179)[0], double_cols = glyph(raw, h, 186)[0];
    const uint32_t single_rows = column_mask(glyph(raw, h, 196), h, 0);
    const uint32_t double_rows = column_mask(glyph(raw, h, 205), h, 0);
    ASSERT_NE(single_cols, 0);
    ASSERT_NE(single_rows, 0u);
    ASSERT_EQ(std::popcount(single_rows), 1) << "single horizontal lines are one row thick";
    ASSERT_EQ(std::popcount(double_rows), 2);
    ASSERT_FALSE(double_rows & (double_rows >> 1)) << "the two lines of a double line touch";
    ASSERT_EQ(double_cols & single_cols, 0) << "a single vertical runs between the double lines";
    for (int r = 0; r < h; r++) {
      EXPECT_EQ(glyph(raw, h, 179)[r], single_cols) << "179 row " << r;
      EXPECT_EQ(glyph(raw, h, 186)[r], double_cols) << "186 row " << r;
    }
    const uint8_t cols[] = {0, single_cols, double_cols};
    const uint32_t rows[] = {0, single_rows, double_rows};
    for (const Arms& a : kBoxArms) {
      Glyph g = glyph(raw, h, a.code);
      EXPECT_EQ(g[0], cols[a.up]) << "top edge of " << a.code;
      EXPECT_EQ(g[h - 1], cols[a.down]) << "bottom edge of " << a.code;
      EXPECT_EQ(column_mask(g, h, 0), rows[a.left]) << "left edge of " << a.code;
      EXPECT_EQ(column_mask(g, h, 7), rows[a.right]) << "right edge of " << a.code;
      // Arms that should join inside the cell do join, and nothing floats.
      EXPECT_EQ(count_pieces(g, h), a.pieces) << "strokes of " << a.code;
    }
    // A tee's stem continues the straight line through the crossing.
    for (int r = 0; r < h; r++) {
      EXPECT_EQ(glyph(raw, h, 197)[r] & single_cols, single_cols) << "197 row " << r;
    }
    EXPECT_EQ(glyph(raw, h, 194)[std::countr_zero(single_rows)], 0xFF);
    EXPECT_EQ(glyph(raw, h, 197)[std::countr_zero(single_rows)], 0xFF);
  }
}

TEST(FontFiles, PcBlocksAndShadesFillTheCellExactly) {
  for (int h : {8, 14, 16}) {
    SCOPED_TRACE("cp437.f" + std::to_string(h));
    Bytes raw = font_file("cp437.f" + std::to_string(h));
    ASSERT_EQ(raw.size(), static_cast<size_t>(256 * h));
    for (int r = 0; r < h; r++) {
      EXPECT_EQ(glyph(raw, h, 219)[r], 0xFF);
      EXPECT_EQ(glyph(raw, h, 220)[r], r >= h / 2 ? 0xFF : 0x00) << "220 row " << r;
      EXPECT_EQ(glyph(raw, h, 223)[r], r < h / 2 ? 0xFF : 0x00) << "223 row " << r;
      EXPECT_EQ(glyph(raw, h, 221)[r], 0xF0);
      EXPECT_EQ(glyph(raw, h, 222)[r], 0x0F);
    }
    // Shades: a quarter, half and three quarters of the pixels in every
    // row, a dither rather than stripes, and repeating so areas tile.
    for (int s = 0; s < 3; s++) {
      Glyph g = glyph(raw, h, 176 + s);
      EXPECT_NE(g[0], g[1]) << 176 + s;
      for (int r = 0; r < h; r++) {
        EXPECT_EQ(std::popcount(g[r]), 2 * (s + 1)) << 176 + s << " row " << r;
        if (r >= 2) {
          EXPECT_EQ(g[r], g[r - 2]) << 176 + s << " row " << r;
        }
      }
      EXPECT_EQ(g[h - 1], g[1]) << "the pattern does not continue into the next cell";
    }
  }
}

TEST(FontFiles, PcSetsHaveADistinctPictureForEveryCode) {
  for (int h : {8, 14, 16}) {
    SCOPED_TRACE("cp437.f" + std::to_string(h));
    Bytes raw = font_file("cp437.f" + std::to_string(h));
    ASSERT_EQ(raw.size(), static_cast<size_t>(256 * h));
    EXPECT_TRUE(blank(glyph(raw, h, 0)));
    EXPECT_TRUE(blank(glyph(raw, h, 32)));
    std::map<Glyph, int> seen;
    for (int c = 1; c <= 254; c++) {
      if (c == 32) continue;
      Glyph g = glyph(raw, h, c);
      EXPECT_FALSE(blank(g)) << "code " << c;
      auto [it, fresh] = seen.emplace(g, c);
      EXPECT_TRUE(fresh) << "code " << c << " looks the same as code " << it->second;
    }
  }
}

TEST(FontFiles, C64SetsFollowTheirSheetsAndThePetsciiDuplicates) {
  Sheet upper, lower;
  load_sheet("c64_upper.txt", 8, &upper);
  lower = upper;
  load_sheet("c64_lower.txt", 8, &lower);
  const struct {
    const char* file;
    const Sheet* sheet;
  } sets[] = {{"c64_upper.f8", &upper}, {"c64_lower.f8", &lower}};
  for (const auto& s : sets) {
    SCOPED_TRACE(s.file);
    Bytes raw = font_file(s.file);
    ASSERT_EQ(raw.size(), 2048u);
    for (const auto& [code, g] : *s.sheet) EXPECT_EQ(glyph(raw, 8, code), g) << "code " << code;
    for (int c = 0; c < 32; c++) EXPECT_TRUE(blank(glyph(raw, 8, c))) << c;
    for (int c = 128; c < 160; c++) EXPECT_TRUE(blank(glyph(raw, 8, c))) << c;
    for (int c = 192; c <= 223; c++) EXPECT_EQ(glyph(raw, 8, c), glyph(raw, 8, c - 96)) << c;
    for (int c = 224; c <= 254; c++) EXPECT_EQ(glyph(raw, 8, c), glyph(raw, 8, c - 64)) << c;
    EXPECT_EQ(glyph(raw, 8, 255), glyph(raw, 8, 126));
    for (int c = 33; c <= 127; c++) EXPECT_FALSE(blank(glyph(raw, 8, c))) << c;
    for (int c = 161; c <= 191; c++) EXPECT_FALSE(blank(glyph(raw, 8, c))) << c;
  }
  Bytes up = font_file("c64_upper.f8"), low = font_file("c64_lower.f8");
  ASSERT_EQ(up.size(), 2048u);
  ASSERT_EQ(low.size(), 2048u);
  for (int c = 65; c <= 90; c++) {
    EXPECT_EQ(glyph(low, 8, c + 32), glyph(up, 8, c)) << "capital " << c;
    EXPECT_NE(glyph(low, 8, c), glyph(up, 8, c)) << "lower case " << c;
  }
  // Graphics the two sets share, lines included, are the same pictures.
  for (int c : {96, 123, 124, 125, 160, 161, 171, 173, 174, 176, 177, 178, 179, 189, 191}) {
    EXPECT_EQ(glyph(low, 8, c), glyph(up, 8, c)) << c;
  }
}

TEST(FontFiles, C64BoxLinesMeetAcrossCellEdges) {
  Bytes raw = font_file("c64_upper.f8");
  ASSERT_EQ(raw.size(), 2048u);
  const uint8_t v = glyph(raw, 8, 98)[0];                      // vertical line
  const uint32_t hrow = column_mask(glyph(raw, 8, 96), 8, 0);  // horizontal line
  ASSERT_NE(v, 0);
  ASSERT_NE(hrow, 0u);
  const Arms arms[] = {{98, 1, 1, 0, 0, 1},  {96, 0, 0, 1, 1, 1},  {123, 1, 1, 1, 1, 1},
                       {171, 1, 1, 0, 1, 1}, {173, 1, 0, 0, 1, 1}, {174, 0, 1, 1, 0, 1},
                       {176, 0, 1, 0, 1, 1}, {177, 1, 0, 1, 1, 1}, {178, 0, 1, 1, 1, 1},
                       {179, 1, 1, 1, 0, 1}, {189, 1, 0, 1, 0, 1}};
  for (const Arms& a : arms) {
    Glyph g = glyph(raw, 8, a.code);
    EXPECT_EQ(g[0], a.up ? v : 0) << a.code;
    EXPECT_EQ(g[7], a.down ? v : 0) << a.code;
    EXPECT_EQ(column_mask(g, 8, 0), a.left ? hrow : 0u) << a.code;
    EXPECT_EQ(column_mask(g, 8, 7), a.right ? hrow : 0u) << a.code;
    EXPECT_EQ(count_pieces(g, 8), a.pieces) << a.code;
  }
}

TEST(FontFiles, TopazFilesAreTheSheetDesignStretched) {
  Sheet topaz;
  load_sheet("topaz.txt", 8, &topaz);
  ASSERT_GT(topaz.size(), 180u);
  for (int h : {14, 16}) {
    SCOPED_TRACE("topaz_amiga.f" + std::to_string(h));
    Bytes raw = font_file("topaz_amiga.f" + std::to_string(h));
    ASSERT_EQ(raw.size(), static_cast<size_t>(256 * h));
    for (int c = 0; c < 256; c++) {
      auto it = topaz.find(c);
      if (it == topaz.end()) {
        EXPECT_TRUE(blank(glyph(raw, h, c))) << "code " << c << " has no design";
      } else {
        EXPECT_EQ(glyph(raw, h, c), stretch8(it->second, h)) << "code " << c;
      }
    }
    for (int c : {0x41, 0x67, 0xE9, 0xFF}) EXPECT_FALSE(blank(glyph(raw, h, c))) << c;
  }
}

TEST(FontFiles, Topaz1200DiskFontsDecodeToTheirDesigns) {
  Sheet design;
  load_sheet("topaz.txt", 8, &design);
  Sheet plain = design;
  load_sheet("topaz1200.txt", 8, &design);
  ASSERT_NE(design.at('a'), plain.at('a')) << "the 1200 sheet changes nothing";
  for (int h : {14, 16}) {
    SCOPED_TRACE("Topaz+1200/" + std::to_string(h));
    Bytes b = font_file("Topaz+1200/" + std::to_string(h));
    ASSERT_GE(b.size(), 134u);
    // Hunk structure: one code hunk starting at offset 32, relocations for
    // the pointer fields, and the end marker.
    EXPECT_EQ(be32(b, 0), 0x3F3u);
    EXPECT_EQ(be32(b, 24), 0x3E9u);
    const size_t hunk_bytes = be32(b, 28) * 4;
    EXPECT_EQ(be32(b, 20), be32(b, 28));
    ASSERT_LE(32 + hunk_bytes + 8, b.size());
    EXPECT_EQ(be32(b, 32 + hunk_bytes), 0x3ECu);
    EXPECT_EQ(be32(b, b.size() - 4), 0x3F2u);
    const size_t nreloc = be32(b, 32 + hunk_bytes + 4);
    std::vector<uint32_t> relocs;
    for (size_t i = 0; i < nreloc; i++) relocs.push_back(be32(b, 32 + hunk_bytes + 12 + 4 * i));
    EXPECT_NE(std::find(relocs.begin(), relocs.end(), 124u - 32), relocs.end()) << "tf_CharData";
    EXPECT_NE(std::find(relocs.begin(), relocs.end(), 130u - 32), relocs.end()) << "tf_CharLoc";

    DiskFont f = decode_disk_font(b);
    EXPECT_EQ(f.ysize, h);
    EXPECT_LE(f.xsize, 8);
    EXPECT_EQ(f.lo, 32);
    EXPECT_EQ(f.hi, 255);
    EXPECT_LE(f.data + f.modulo * h, 32 + hunk_bytes);
    EXPECT_LE(f.loc + static_cast<size_t>(f.hi - f.lo + 1) * 4, 32 + hunk_bytes);
    for (int c = 0; c < 256; c++) {
      auto it = design.find(c);
      Glyph want = it == design.end() || c < f.lo ? Glyph{} : stretch8(it->second, h);
      EXPECT_EQ(f.glyphs[c], want) << "code " << c;
    }
  }
}

TEST(FontFiles, TheProgramsLoaderReadsEveryFileLikeOurReader) {
  fonts_test_set_progdir_override(KAVEL_BINARY_DIR);
  bitmap_font_cache_reset();
  const struct {
    const char* name;
    int height;
    bool disk;
  } files[] = {{"cp437.f8", 8, false},      {"cp437.f14", 14, false},
               {"cp437.f16", 16, false},    {"c64_upper.f8", 8, false},
               {"c64_lower.f8", 8, false},  {"topaz_amiga.f16", 16, false},
               {"Topaz+1200/14", 14, true}, {"Topaz+1200/16", 16, true}};
  for (const auto& f : files) {
    SCOPED_TRACE(f.name);
    ASSERT_EQ(bitmap_font_load(f.name, f.height, 1), 1);
    EXPECT_EQ(g_bitmap_font.height, f.height);
    Bytes b = font_file(f.name);
    DiskFont ours;
    if (f.disk) ours = decode_disk_font(b);
    for (int c = 0; c < 256; c++) {
      Glyph want = f.disk ? ours.glyphs[c] : glyph(b, f.height, c);
      Glyph got{};
      for (int r = 0; r < f.height; r++) got[r] = g_bitmap_font.glyphs[c * f.height + r];
      EXPECT_EQ(got, want) << "code " << c;
    }
  }
  fonts_test_set_progdir_override(nullptr);
  bitmap_font_cache_reset();
}
