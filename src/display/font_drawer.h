// Inside the display's font code: the Fonts drawer's table of required
// files, the directories searched, "PROGDIR:" expansion with the tests'
// override, and the console messages about fonts.  Only src/display
// includes this header.
#pragma once
#include <array>
#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

struct FontFileSpec {
  const char* name;  // the name the start-up report uses
  int height;        // glyph rows
  long size;         // exact byte size of a raw file; 0 for a disk font
  bool disk;         // AmigaOS disk font rather than raw glyph rows
  std::array<const char*, 6> spellings;
};

// In the order of the start-up check: every file here is required.
inline constexpr FontFileSpec kFontFiles[] = {
    {"cp437.f8", 8, 2048, false, {"cp437.f8", "CP437.F8"}},
    {"cp437.f14", 14, 3584, false, {"cp437.f14", "CP437.F14"}},
    {"cp437.f16", 16, 4096, false, {"cp437.f16", "CP437.F16"}},
    {"c64_upper.f8",
     8,
     2048,
     false,
     {"c64_upper.f8", "C64_UPPER.F8", "c64_upgfx.f8", "C64_UPGFX.F8", "c64_up_gfx.f8",
      "C64_UP_GFX.F8"}},
    {"c64_lower.f8",
     8,
     2048,
     false,
     {"c64_lower.f8", "C64_LOWER.F8", "c64_lowup.f8", "C64_LOWUP.F8", "c64_low_up.f8",
      "C64_LOW_UP.F8"}},
    {"topaz_amiga.f14", 14, 3584, false, {"topaz_amiga.f14"}},
    {"topaz_amiga.f16", 16, 4096, false, {"topaz_amiga.f16", "Topaz_Amiga.f16", "TOPAZ_AMIGA.F16"}},
    {"Topaz+1200/14", 14, 0, true, {"Topaz+1200/14"}},
    {"Topaz+1200/16", 16, 0, true, {"Topaz+1200/16"}},
};
inline constexpr size_t kFontFileCount = sizeof kFontFiles / sizeof kFontFiles[0];

inline constexpr const char* kFontDirs[] = {"PROGDIR:Fonts/", "PROGDIR:fonts/", "Fonts/", "fonts/"};

// A disk font file is read into a buffer of this size and must end inside it.
inline constexpr size_t kDiskFontMaxFile = 32768;
// The decoder itself accepts anything up to this size.
inline constexpr size_t kDiskFontMaxParse = 65536;
inline constexpr size_t kDiskFontMinSize = 134;

struct FontFileCloser {
  void operator()(FILE* f) const { fclose(f); }
};
using FontFileHandle = std::unique_ptr<FILE, FontFileCloser>;

// Expands "PROGDIR:" like dos_expand_path, honouring the test override.
std::string expand_font_path(const char* path);

// A message on the console, flushed at once (the start-up check waits for
// Return right after its report).
void font_console(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
