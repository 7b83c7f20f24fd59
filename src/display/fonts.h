// Terminal fonts: the bitmap font files of the Fonts drawer (font_files.cpp,
// the disk-font decoder in disk_font.cpp, the start-up check in
// font_check.cpp), scale selection per window mode (font_scale.cpp) and
// system-font fall-backs (system_fonts.cpp).  The font-choice vocabulary and
// name rules (util/font_names.h) and the active font (terminal/active_font.h)
// come with this header.
#pragma once
#include <cstddef>
#include <cstdint>

// The name rules and the active font come with this header: everything
// that picks glyphs needs them.
#include "terminal/active_font.h"
#include "util/font_names.h"

struct PlatFont;

// The one loaded bitmap font of the program.
struct BitmapFont {
  uint8_t glyphs[4096];  // 256 glyphs x height rows, bit 7 leftmost
  int32_t height;        // 8, 14 or 16
  int32_t scale;         // integer pixel multiplier, >= 1
  int32_t valid;         // 1 when loaded
  char path[96];
};
extern BitmapFont g_bitmap_font;

// Bitmap renderer kinds.
enum : int {
  BITMAP_KIND_NONE = 0,
  BITMAP_KIND_CP437 = 1,
  BITMAP_KIND_TOPAZ_1200 = 2,
  BITMAP_KIND_TOPAZ_AMIGA = 3,
  BITMAP_KIND_C64 = 4,
};

// 0 when every required font file is present with its size; otherwise prints
// the console report, waits for Return on standard input and returns -1.
int startup_validate_runtime_fonts();

// Prepares g_bitmap_font for the active font and window mode; 1 on success.
// A system font name gives 0 (the terminal draws with that font), unless the
// font is not installed: then the CP437 glyphs stand in, and the first time
// a name is missing the console says so.
int bitmap_renderer_prepare_terminal(int top_bar, int* cell_w, int* cell_h, int* baseline,
                                     int* glyph_height, int* scale, int* kind);
// Whether the grid at this glyph height and scale fits the current mode: full
// screen measures against g_screen_w x g_screen_h as the last full-screen
// layout left them, the medium window against the desktop, the normal window
// always fits.
bool bitmap_font_candidate_fits(int height, int scale, int top_bar);
bool c64_bitmap_font_candidate_fits(int scale, int top_bar);

// Loads one glyph file by table name ("cp437.f16", "Topaz+1200/14", ...) into
// g_bitmap_font with the given scale through the per-file cache; 1 on success.
int bitmap_font_load(const char* file, int height, int scale);
// Forgets the per-file cache (tests, and after the font drawer changed).
void bitmap_font_cache_reset();
// The 256 glyphs of cp437.f16 (16 rows each) as the per-file cache holds
// them, for text that is always drawn in the 8x16 PC glyphs (the status bar,
// the dialog boxes) whatever font the terminal has loaded: g_bitmap_font is
// left alone.  Null when the file cannot be loaded.  Valid until
// bitmap_font_cache_reset.
const uint8_t* bitmap_font_cp437_16_glyphs();

// Decodes the glyphs of an AmigaOS disk font (Topaz+1200/14 or /16: a hunk
// load file holding a DiskFontHeader and a TextFont) of the given glyph
// height into out (256 glyphs x height rows).  Reads nothing outside
// data[0..size).  0 on success, -1 when the file is not such a font.
int bitmap_font_parse_disk_font(const uint8_t* data, size_t size, int height, uint8_t out[4096]);

// Tests: look for "PROGDIR:" fonts under dir instead of the executable's
// directory; null goes back to the real one.
void fonts_test_set_progdir_override(const char* dir);

PlatFont* try_open_font_exact(const char* name, int height, int flags);
PlatFont* try_open_named_font(const char* name, int height, int flags);
PlatFont* open_terminal_font(int* cp437_flag);
// Whether a system font the user named for the terminal opens in the current
// window mode (fontconfig has that family itself, at a height the terminal
// tries).
bool terminal_system_font_available(const char* name);
PlatFont* open_ui_font(int* cp437_flag);
void terminal_metrics_from_font(const PlatFont* font, int cp437_flag, int* cell_w, int* cell_h,
                                int* baseline);
void ui_metrics_from_font(const PlatFont* font, int* cell_w, int* line_h, int* baseline);
