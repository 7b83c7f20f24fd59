// kavel-fontc: the glyph set every input feeds and every writer reads.
//
// The compiler is a host program run at build time; it shares nothing with
// the program, so it keeps its own small vocabulary here.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

inline constexpr int kMaxRows = 16;

struct GlyphSet {
  int height = 0;                                         // rows per glyph in the output, 8..16
  std::array<std::array<uint8_t, kMaxRows>, 256> rows{};  // bit 7 is the leftmost pixel
  std::array<bool, 256> defined{};
};

// Error reporting: every failure prints one line naming the file and stops
// the compiler, so a broken sheet breaks the build instead of shipping holes.
[[noreturn]] void fontc_fail(const std::string& message);

// Glyph sheets (assets/fonts/*.txt). Glyphs are drawn in sheet_height rows and
// stretched to set->height (see fontc_stretch_rows). Later definitions win.
void sheet_load(GlyphSet* set, const std::string& path, int sheet_height);

// Spreads one glyph drawn in `from` rows over `to` rows. Supported: equal
// heights, 8 -> 16 (every row twice) and 8 -> 14 (rows 1..6 twice, the top and
// bottom row once). Returns false for any other pair.
bool fontc_stretch_rows(const uint8_t* in, int from, uint8_t* out, int to);

// Fills the glyphs still undefined from a PC console font (.psf or .psf.gz,
// version 1 or 2, 8 pixels wide, the same height as the set), choosing each
// glyph through the font's Unicode table and the CP437 code-point map.
void psf_fill_cp437(GlyphSet* set, const std::string& path);

// The Unicode code point of a CP437 byte, 0 for bytes we never take from a
// console font (NUL, the control pictures 1..31 and 127).
uint32_t cp437_to_unicode(int byte);

// Box drawing (179..218), shades (176..178) and blocks (219..223) drawn from
// rules so that lines meet exactly across cell edges at every height.
void cp437_apply_rules(GlyphSet* set);

// Where the box-drawing strokes sit for a given cell height (docs/fonts.md
// describes the same positions), fixed here in one place.
struct BoxGeometry {
  uint8_t single_cols;  // columns of a single vertical line, as a row mask
  uint8_t double_left;  // columns of the left line of a double vertical
  uint8_t double_right;
  int single_row;  // row of a single horizontal line
  int double_top;  // rows of a double horizontal line
  int double_bottom;
};
BoxGeometry cp437_box_geometry(int height);

// The Commodore 64 sets are indexed by PETSCII code: 192..223 repeat 96..127,
// 224..254 repeat 160..190, 255 repeats 126, and the control ranges 0..31 and
// 128..159 are blank.
void c64_apply_mirror(GlyphSet* set);

// Output writers; both write to a temporary name and rename, so an
// interrupted build never leaves a short file behind. 0 on success.
int write_raw(const GlyphSet& set, const std::string& path);
int write_amiga_diskfont(const GlyphSet& set, const std::string& path, int lo, int hi,
                         const std::string& name, int baseline);

// Builds the bytes of an AmigaOS hunk-format disk font.
std::vector<uint8_t> amiga_diskfont_bytes(const GlyphSet& set, int lo, int hi,
                                          const std::string& name, int baseline);

int write_file_atomic(const std::string& path, const std::vector<uint8_t>& bytes);
