#include "display/fonts.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "display/modes.h"
#include "platform/display.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

std::string norm(const char* name) {
  char out[80];
  memset(out, '#', sizeof out);
  normalize_font_choice(name, out);
  return out;
}

TEST(FontChoice, NormalisesEveryAlias) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"", "CP437"},
      {" \t ", "CP437"},
      {"1", "CP437"},
      {"PC", "CP437"},
      {"cp437 c64", "CP437"},  // the CP437 rule comes first
      {"ibm vga", "ibm vga"},  // not an alias, though it looks CP437 to the renderer
      {"2", "Topaz (1200)"},
      {"Amiga1200", "Topaz (1200)"},
      {"topaz+1200", "Topaz (1200)"},
      {"Topaz 1200 c64", "Topaz (1200)"},
      {"Topaz", "Topaz (Amiga)"},
      {"AMIGA", "Topaz (Amiga)"},
      {"4", "C64 Up/GFX [40]"},
      {"5", "C64 Low/Up [40]"},
      {"6", "C64 Up/GFX [80]"},
      {" 6 ", "C64 Up/GFX [80]"},
      {"16", "16"},
      {"7", "C64 Low/Up [80]"},
      {"  c64 low/up 80col  ", "C64 Low/Up [80]"},
      {"c64 lower with [80]", "C64 Up/GFX [80]"},
      {"Commodore 80 columns", "C64 Up/GFX [80]"},
      {"lower/upper 80col", "C64 Low/Up [80]"},
      {"commodore", "C64 Up/GFX [40]"},
      {"C64", "C64 Up/GFX [40]"},
      {"upper graphics", "C64 Up/GFX [40]"},
      {"C64 lower upper", "C64 Low/Up [40]"},
      {"Courier New", "Courier New"},
      {"DejaVu Sans Mono 80", "DejaVu Sans Mono 80"},
  };
  for (const Case& c : cases) EXPECT_EQ(norm(c.in), c.out) << "input \"" << c.in << "\"";
  EXPECT_EQ(norm(nullptr), "CP437");

  // The seven stored names are fixed points.
  for (const char* n : {kFontCP437, kFontTopaz1200, kFontTopazAmiga, kFontC64UpGfx40,
                        kFontC64LowUp40, kFontC64UpGfx80, kFontC64LowUp80}) {
    EXPECT_EQ(norm(n), n);
  }
}

TEST(FontChoice, CutsLongNamesBeforeStripping) {
  std::string x(300, 'x');
  EXPECT_EQ(norm(x.c_str()), std::string(79, 'x'));
  // The marker beyond the 79th byte is never seen.
  EXPECT_EQ(norm((std::string(79, 'x') + "437").c_str()), std::string(79, 'x'));
  EXPECT_EQ(norm(("   " + std::string(100, 'a')).c_str()), std::string(76, 'a'));
  char same[80] = "  commodore ";
  normalize_font_choice(same, same);
  EXPECT_STREQ(same, "C64 Up/GFX [40]");
}

TEST(FontNames, SubstringTestsIgnoreCase) {
  using Test = bool (*)(const char*);
  struct Case {
    Test test;
    const char* name;
    bool want;
  } cases[] = {
      {font_name_looks_cp437, "MyPC.FONT", true},
      {font_name_looks_cp437, "Courier", false},
      {font_name_looks_cp437, nullptr, false},
      {font_name_looks_topaz_amiga_font, "topaz+1200", false},
      {font_name_looks_topaz_amiga_font, "Topaz", true},
      {font_name_looks_topaz_amiga_font, "amiga 1200", false},
      {font_name_looks_amiga_font, "amiga 1200", true},
      {font_name_looks_amiga_font, "", false},
      {font_name_looks_c64, "c6 4", false},
      {font_name_looks_c64_upper_font_local, "Upper / Graphics", true},
      {font_name_looks_c64_lower_font_local, "LOWER / UPPER", true},
      {c64_font_uses_80_columns, "c64 (80)", true},
      {c64_font_uses_80_columns, "c64 80", true},
      {c64_font_uses_80_columns, "c6480", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.test(c.name), c.want) << (c.name ? c.name : "(null)");
  }
}

TEST(FontNames, VisibleColumnsFollowTheActiveFont) {
  set_active_font("c64 low/up 80col");
  EXPECT_STREQ(g_active_font, "C64 Low/Up [80]");
  EXPECT_EQ(c64_visible_cols_for_font(), 80);
  set_active_font("5");
  EXPECT_EQ(c64_visible_cols_for_font(), 40);
  set_active_font("Courier 80");  // 80 columns but not a C64 font
  EXPECT_EQ(c64_visible_cols_for_font(), 40);
  set_active_font(nullptr);
  EXPECT_STREQ(g_active_font, "CP437");
}

// ------------------------------------------------------------ disk fonts --

struct DiskGlyph {
  uint16_t bit_offset;
  uint16_t width;
};

// A Topaz-style disk font file: hunk header, DiskFontHeader, TextFont, then
// the bitmap (rows of modulo bytes) and the location table, or the other way
// round so that the bitmap ends the file.
std::vector<uint8_t> make_disk_font(int height, int lo, const std::vector<DiskGlyph>& glyphs,
                                    const std::vector<uint8_t>& bitmap, int modulo,
                                    bool bitmap_last = false) {
  std::vector<uint8_t> f(134, 0);
  auto be16 = [&](size_t at, uint32_t v) {
    f[at] = uint8_t(v >> 8);
    f[at + 1] = uint8_t(v);
  };
  auto be32 = [&](size_t at, uint32_t v) {
    be16(at, v >> 16);
    be16(at + 2, v & 0xFFFF);
  };
  be32(0, 0x3F3);   // HUNK_HEADER
  be32(24, 0x3E9);  // HUNK_CODE
  be16(110, uint32_t(height));
  be16(114, 8);
  f[122] = uint8_t(lo);
  f[123] = uint8_t(lo + int(glyphs.size()) - 1);
  be16(128, uint32_t(modulo));
  size_t table = bitmap_last ? 134 : 134 + bitmap.size();
  size_t data = bitmap_last ? 134 + 4 * glyphs.size() : 134;
  be32(124, uint32_t(data - 32));
  be32(130, uint32_t(table - 32));
  f.resize(134 + bitmap.size() + 4 * glyphs.size());
  std::copy(bitmap.begin(), bitmap.end(), f.begin() + long(data));
  for (size_t i = 0; i < glyphs.size(); ++i) {
    be16(table + 4 * i, glyphs[i].bit_offset);
    be16(table + 4 * i + 2, glyphs[i].width);
  }
  return f;
}

// Two glyphs 'A' and 'B' packed at bit offsets 0 and 5, five bits wide.
std::vector<uint8_t> sample_font(int height) {
  std::vector<uint8_t> bitmap(size_t(2) * height);
  for (int r = 0; r < height; ++r) {
    bitmap[size_t(2 * r)] = uint8_t(0xF8 | (r & 1 ? 0x07 : 0));  // A: 11111, B starts 111
    bitmap[size_t(2 * r + 1)] = uint8_t(r & 1 ? 0xC0 : 0);       // B: 11 more bits
  }
  return make_disk_font(height, 'A', {{0, 5}, {5, 5}}, bitmap, 2);
}

TEST(DiskFont, DecodesPackedGlyphsAndRejectsBadHeaders) {
  uint8_t out[4096];
  std::vector<uint8_t> font = sample_font(14);
  ASSERT_EQ(bitmap_font_parse_disk_font(font.data(), font.size(), 14, out), 0);
  for (int r = 0; r < 14; ++r) {
    EXPECT_EQ(out['A' * 14 + r], 0xF8) << r;
    EXPECT_EQ(out['B' * 14 + r], r & 1 ? 0xF8 : 0x00) << r;
    EXPECT_EQ(out['C' * 14 + r], 0) << r;  // outside LoChar..HiChar
    EXPECT_EQ(out['@' * 14 + r], 0) << r;
  }
  EXPECT_EQ(bitmap_font_parse_disk_font(font.data(), font.size(), 16, out), -1);  // tf_YSize

  struct Patch {
    size_t at;
    std::vector<uint8_t> bytes;
    int want;
  } patches[] = {
      {114, {0, 9}, -1},                    // tf_XSize 9
      {122, {'C'}, -1},                     // LoChar above HiChar
      {124, {0xFF, 0xFF, 0xFF, 0xD0}, -1},  // data offset -16
      {124, {0xFF, 0xFF, 0xFF, 0xF0}, 0},   // data offset 16: still inside the file
      {128, {0x40, 0x00}, -1},              // bitmap runs past the end
      {130, {0x00, 0x01, 0x00, 0x00}, -1},  // location table past the end
  };
  for (const Patch& p : patches) {
    std::vector<uint8_t> bad = font;
    std::copy(p.bytes.begin(), p.bytes.end(), bad.begin() + long(p.at));
    EXPECT_EQ(bitmap_font_parse_disk_font(bad.data(), bad.size(), 14, out), p.want) << p.at;
  }
  std::vector<uint8_t> tiny(font.begin(), font.begin() + 133);
  EXPECT_EQ(bitmap_font_parse_disk_font(tiny.data(), tiny.size(), 14, out), -1);
  std::vector<uint8_t> huge = font;
  huge.resize(65536);
  EXPECT_EQ(bitmap_font_parse_disk_font(huge.data(), huge.size(), 14, out), 0);
  huge.resize(65537);
  EXPECT_EQ(bitmap_font_parse_disk_font(huge.data(), huge.size(), 14, out), -1);
}

TEST(DiskFont, CutsWideGlyphsAndBlanksBitsBeyondTheFile) {
  const int h = 16;
  // Every bitmap row has bits 0..9 set.  'W' (10 bits wide) and 'Y' (65535)
  // keep 8 columns; 'X' reads bits 12..19, whose last four come from the next
  // row and, in the last row, from beyond the end of the file.
  std::vector<uint8_t> bitmap;
  for (int r = 0; r < h; ++r) bitmap.insert(bitmap.end(), {0xFF, 0xC0});
  std::vector<uint8_t> font =
      make_disk_font(h, 'W', {{0, 10}, {12, 8}, {0, 0xFFFF}}, bitmap, 2, true);
  uint8_t out[4096];
  ASSERT_EQ(bitmap_font_parse_disk_font(font.data(), font.size(), h, out), 0);
  for (int r = 0; r < h; ++r) {
    EXPECT_EQ(out['W' * h + r], 0xFF) << r;
    EXPECT_EQ(out['Y' * h + r], 0xFF) << r;
    EXPECT_EQ(out['X' * h + r], r < h - 1 ? 0x0F : 0x00) << r;
  }
}

// ------------------------------------------------- files and directories --

// A fresh font drawer: PROGDIR points into one temporary directory, the
// relative directories are looked up in another one that becomes the
// working directory.
class FontDrawer : public ::testing::Test {
 protected:
  void SetUp() override {
    old_cwd_ = fs::current_path();
    fs::current_path(cwd_.path());
    fonts_test_set_progdir_override(prog_.path().c_str());
    bitmap_font_cache_reset();
    display_set_window_mode(DISPLAY_MODE_WINDOW);
    g_c64_40_dynamic_scale = 1;
    plat_headless_set_desktop(1920, 1080, 24);
  }
  void TearDown() override {
    fs::current_path(old_cwd_);
    fonts_test_set_progdir_override(nullptr);
    bitmap_font_cache_reset();
    display_set_window_mode(DISPLAY_MODE_WINDOW);
    plat_headless_set_desktop(1920, 1080, 24);
  }

  // Writes a file of n bytes of value fill; dir "" is PROGDIR:Fonts/.
  void put(const std::string& name, size_t n, uint8_t fill = 0x5A, const std::string& dir = "") {
    put_bytes(name, std::vector<uint8_t>(n, fill), dir);
  }
  void put_bytes(const std::string& name, const std::vector<uint8_t>& bytes,
                 const std::string& dir = "") {
    fs::path p = dir.empty() ? fs::path(prog_.path()) / "Fonts" / name : fs::path(dir) / name;
    fs::create_directories(p.parent_path());
    ASSERT_TRUE(write_file_bytes(p.string(), std::string(bytes.begin(), bytes.end())));
  }
  void put_all() {
    for (auto [name, size] : {std::pair{"cp437.f8", 2048},
                              {"cp437.f14", 3584},
                              {"cp437.f16", 4096},
                              {"c64_upper.f8", 2048},
                              {"c64_lower.f8", 2048},
                              {"topaz_amiga.f14", 3584},
                              {"topaz_amiga.f16", 4096}}) {
      put(name, size_t(size));
    }
    put_bytes("Topaz+1200/14", sample_font(14));
    put_bytes("Topaz+1200/16", sample_font(16));
  }

  // Runs fn with standard output in a file and standard input from text;
  // returns what was printed.  next_char receives the next unread character.
  std::string console(const std::function<void()>& fn, const std::string& input = "",
                      int* next_char = nullptr) {
    std::string out_path = cwd_.file("stdout.txt");
    std::string in_path = cwd_.file("stdin.txt");
    write_file_bytes(in_path, input);
    fflush(stdout);
    int saved_out = dup(1);
    int saved_in = dup(0);
    int out_fd = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int in_fd = open(in_path.c_str(), O_RDONLY);
    dup2(out_fd, 1);
    dup2(in_fd, 0);
    clearerr(stdin);
    fn();
    if (next_char) *next_char = getchar();
    fflush(stdout);
    dup2(saved_out, 1);
    dup2(saved_in, 0);
    for (int fd : {saved_out, saved_in, out_fd, in_fd}) close(fd);
    std::vector<unsigned char> bytes = read_file_bytes(out_path);
    return std::string(bytes.begin(), bytes.end());
  }

  TempDir prog_;
  TempDir cwd_;
  fs::path old_cwd_;
};

TEST_F(FontDrawer, RawFilesMustHaveTheirExactSize) {
  for (size_t n : {4095u, 4097u}) {
    put("cp437.f16", n);
    bitmap_font_cache_reset();
    EXPECT_EQ(bitmap_font_load("cp437.f16", 16, 1), 0) << n;
  }
  put("cp437.f16", 4096, 0x81);
  bitmap_font_cache_reset();
  ASSERT_EQ(bitmap_font_load("cp437.f16", 16, 3), 1);
  EXPECT_EQ(g_bitmap_font.glyphs[4095], 0x81);
  EXPECT_EQ(g_bitmap_font.scale, 3);
  EXPECT_EQ(bitmap_font_load("cp437.f16", 14, 1), 0);  // wrong height for the file
  EXPECT_EQ(bitmap_font_load("cp437.f16", 16, 0), 0);
  EXPECT_EQ(bitmap_font_load("nosuch.f8", 8, 1), 0);
}

TEST_F(FontDrawer, SearchesDirectoriesAndSpellingsInOrder) {
  put("cp437.f8", 2047, 0x01);                               // wrong size: skipped
  put("CP437.F8", 2048, 0x02, prog_.path() + "/fonts");      // second directory
  put("cp437.f8", 2048, 0x03, cwd_.path() + "/Fonts");       // third directory
  put("c64_up_gfx.f8", 2048, 0x04, cwd_.path() + "/fonts");  // a late spelling
  ASSERT_EQ(bitmap_font_load("cp437.f8", 8, 1), 1);
  EXPECT_EQ(g_bitmap_font.glyphs[0], 0x02);
  EXPECT_EQ(std::string(g_bitmap_font.path), prog_.path() + "/fonts/CP437.F8");
  ASSERT_EQ(bitmap_font_load("c64_upper.f8", 8, 1), 1);
  EXPECT_EQ(g_bitmap_font.glyphs[100], 0x04);
}

TEST_F(FontDrawer, CachesLoadedAndFailedFiles) {
  put("c64_lower.f8", 2048, 0x11);
  ASSERT_EQ(bitmap_font_load("c64_lower.f8", 8, 1), 1);
  fs::remove(prog_.path() + "/Fonts/c64_lower.f8");
  ASSERT_EQ(bitmap_font_load("c64_lower.f8", 8, 2), 1);  // served from memory
  EXPECT_EQ(g_bitmap_font.glyphs[7], 0x11);

  EXPECT_EQ(bitmap_font_load("cp437.f14", 14, 1), 0);
  put("cp437.f14", 3584);
  EXPECT_EQ(bitmap_font_load("cp437.f14", 14, 1), 0);  // not tried again
  bitmap_font_cache_reset();
  EXPECT_EQ(bitmap_font_load("cp437.f14", 14, 1), 1);
}

TEST_F(FontDrawer, Cp437SixteenRowGlyphsLeaveTheLoadedFontAlone) {
  std::vector<uint8_t> pc(4096);
  for (size_t i = 0; i < pc.size(); ++i) pc[i] = uint8_t(i * 7 + 3);
  put_bytes("cp437.f16", pc);
  put("c64_upper.f8", 2048, 0x3C);
  ASSERT_EQ(bitmap_font_load("c64_upper.f8", 8, 2), 1);
  auto before = std::make_unique<BitmapFont>(g_bitmap_font);

  const uint8_t* glyphs = bitmap_font_cp437_16_glyphs();
  ASSERT_NE(glyphs, nullptr);
  EXPECT_EQ(std::vector<uint8_t>(glyphs, glyphs + 4096), pc);
  EXPECT_EQ(std::memcmp(before.get(), &g_bitmap_font, sizeof(BitmapFont)), 0);
  // Read through the cache: the file is not opened again.
  fs::remove(prog_.path() + "/Fonts/cp437.f16");
  EXPECT_EQ(bitmap_font_cp437_16_glyphs(), glyphs);

  bitmap_font_cache_reset();
  EXPECT_EQ(bitmap_font_cp437_16_glyphs(), nullptr);
  put("cp437.f16", 4097);
  bitmap_font_cache_reset();
  EXPECT_EQ(bitmap_font_cp437_16_glyphs(), nullptr);
}

TEST_F(FontDrawer, DiskFontFilesMustEndWithin32K) {
  std::vector<uint8_t> font = sample_font(14);
  font.resize(32768);
  put_bytes("Topaz+1200/14", font);
  ASSERT_EQ(bitmap_font_load("Topaz+1200/14", 14, 1), 1);
  EXPECT_EQ(g_bitmap_font.glyphs['A' * 14], 0xF8);
  font.push_back(0);
  put_bytes("Topaz+1200/14", font);
  bitmap_font_cache_reset();
  EXPECT_EQ(bitmap_font_load("Topaz+1200/14", 14, 1), 0);
}

TEST_F(FontDrawer, StartupCheckReportsEveryBadFile) {
  put_all();
  int rc = 1;
  EXPECT_EQ(console([&] { rc = startup_validate_runtime_fonts(); }), "");
  EXPECT_EQ(rc, 0);

  // The report names the real directory; standard input here is a file,
  // not a terminal, so nothing waits for Return and nothing is read.
  const std::string dir = prog_.path() + "/Fonts/";
  const char* report_tail = "\nPlease reinstall the Kavel Fonts directory.\n";
  for (size_t n : {4095u, 4097u}) {
    put("cp437.f16", n);
    std::string out = console([&] { rc = startup_validate_runtime_fonts(); }, "\nX");
    EXPECT_EQ(
        out, "\nRequired runtime font missing or invalid:\n  " + dir + "cp437.f16\n" + report_tail);
    EXPECT_EQ(rc, -1);
  }
  fs::remove(prog_.path() + "/Fonts/c64_lower.f8");
  std::string out = console([&] { rc = startup_validate_runtime_fonts(); }, "\n");
  EXPECT_EQ(out, "\nRequired runtime font missing or invalid:\n  " + dir + "cp437.f16\n  " + dir +
                     "c64_lower.f8\n" + report_tail);

  // Good copies in the working directory's drawer satisfy the check.
  put("cp437.f16", 4096, 0, cwd_.path() + "/fonts");
  put("C64_LOW_UP.F8", 2048, 0, cwd_.path() + "/Fonts");
  EXPECT_EQ(console([&] { rc = startup_validate_runtime_fonts(); }), "");
  EXPECT_EQ(rc, 0);
}

// ------------------------------------------------------ scale selection --

TEST_F(FontDrawer, ChoosesHeightAndScaleForEachWindowMode) {
  put_all();
  enum Mode { N, M, F };
  struct Case {
    int dw, dh;
    Mode mode;
    const char* font;
    int top_bar, dyn;
    int ok, height, scale, kind;
  } cases[] = {
      {1920, 1080, F, "CP437", 1, 1, 1, 16, 2, BITMAP_KIND_CP437},
      {640, 480, F, "CP437", 1, 1, 1, 16, 1, BITMAP_KIND_CP437},
      {1280, 800, F, "CP437", 1, 1, 1, 16, 1, BITMAP_KIND_CP437},  // 832 rows do not fit
      {1280, 800, F, "CP437", 0, 1, 1, 16, 2, BITMAP_KIND_CP437},
      {1920, 1080, M, "CP437", 0, 1, 1, 16, 2, BITMAP_KIND_CP437},
      {1280, 720, M, "CP437", 0, 1, 1, 14, 2, BITMAP_KIND_CP437},
      {1280, 600, M, "CP437", 0, 1, 1, 8, 2, BITMAP_KIND_CP437},
      {1024, 768, M, "ibm vga", 0, 1, 1, 16, 1, BITMAP_KIND_CP437},
      {320, 200, N, "CP437", 0, 1, 1, 16, 1, BITMAP_KIND_CP437},
      {1920, 1080, F, "Topaz (1200)", 1, 1, 1, 16, 2, BITMAP_KIND_TOPAZ_1200},
      {1920, 1080, M, "Topaz (1200)", 0, 1, 1, 14, 2, BITMAP_KIND_TOPAZ_1200},
      {1024, 768, M, "Topaz (1200)", 0, 1, 1, 14, 1, BITMAP_KIND_TOPAZ_1200},
      {1920, 1080, N, "Topaz (Amiga)", 0, 1, 1, 16, 1, BITMAP_KIND_TOPAZ_AMIGA},
      {1920, 1080, N, "C64 Up/GFX [40]", 0, 1, 1, 8, 2, BITMAP_KIND_C64},
      {1920, 1080, M, "C64 Up/GFX [40]", 0, 1, 1, 8, 3, BITMAP_KIND_C64},
      {800, 600, M, "C64 Low/Up [40]", 0, 1, 1, 8, 2, BITMAP_KIND_C64},
      {1920, 1080, N, "C64 Up/GFX [80]", 0, 1, 1, 8, 1, BITMAP_KIND_C64},
      {1920, 1080, M, "C64 Low/Up [80]", 0, 1, 1, 8, 2, BITMAP_KIND_C64},
      {600, 400, N, "C64 Up/GFX [80]", 0, 1, 0, 0, 0, 0},  // 640 pixels do not fit
      {1920, 1080, F, "C64 Up/GFX [80]", 1, 2, 1, 8, 2, BITMAP_KIND_C64},
      {1920, 1080, F, "C64 Up/GFX [40]", 1, 2, 1, 8, 4, BITMAP_KIND_C64},
      {1920, 1080, F, "C64 Up/GFX [40]", 1, 1, 1, 8, 2, BITMAP_KIND_C64},
      {2560, 1600, F, "C64 Up/GFX [40]", 0, 2, 1, 8, 8, BITMAP_KIND_C64},
      {2560, 1600, F, "C64 Up/GFX [40]", 1, 2, 1, 8, 4, BITMAP_KIND_C64},  // 8 needs 1664 rows
      {1920, 1080, N, "DejaVu Sans Mono", 0, 1, 0, 0, 0, 0},  // the system font draws
      {1920, 1080, N, "No Such Face Here", 0, 1, 1, 16, 1, BITMAP_KIND_CP437},  // not installed
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.font << " " << c.dw << "x" << c.dh << " mode " << c.mode);
    plat_headless_set_desktop(c.dw, c.dh, 24);
    display_set_window_mode((c.mode == F)   ? DISPLAY_MODE_FULLSCREEN
                            : (c.mode == M) ? DISPLAY_MODE_MEDIUM
                                            : DISPLAY_MODE_WINDOW);
    g_c64_40_dynamic_scale = c.dyn;
    set_active_font(c.font);
    int cw = -1, ch = -1, base = -1, gh = -1, scale = -1, kind = -1;
    int ok = bitmap_renderer_prepare_terminal(c.top_bar, &cw, &ch, &base, &gh, &scale, &kind);
    ASSERT_EQ(ok, c.ok);
    EXPECT_EQ(g_bitmap_font.valid, c.ok);
    if (!ok) continue;
    EXPECT_EQ(gh, c.height);
    EXPECT_EQ(scale, c.scale);
    EXPECT_EQ(kind, c.kind);
    EXPECT_EQ(cw, 8 * c.scale);
    EXPECT_EQ(ch, c.height * c.scale);
    EXPECT_EQ(base, c.height * c.scale - 1);
    EXPECT_EQ(g_bitmap_font.height, c.height);
  }
}

TEST_F(FontDrawer, MissingFilesWarnAndFallBack) {
  put_all();
  fs::remove(prog_.path() + "/Fonts/Topaz+1200/14");
  fs::remove(prog_.path() + "/Fonts/topaz_amiga.f16");
  fs::remove(prog_.path() + "/Fonts/c64_upper.f8");
  int cw, ch, base, gh, scale, kind = -1, ok = -1;
  auto prepare = [&] {
    ok = bitmap_renderer_prepare_terminal(1, &cw, &ch, &base, &gh, &scale, &kind);
  };

  set_active_font("Topaz (1200)");
  EXPECT_EQ(console(prepare),
            "Kavel font warning: external Topaz+1200/14 unavailable in PROGDIR:Fonts/.\n");
  EXPECT_EQ(ok, 0);
  display_set_window_mode(
      DISPLAY_MODE_FULLSCREEN);  // full screen wants the 16-row file, which is there
  EXPECT_EQ(console(prepare), "");
  EXPECT_EQ(ok, 1);
  EXPECT_EQ(gh, 16);
  display_set_window_mode(DISPLAY_MODE_WINDOW);

  set_active_font("Topaz (Amiga)");
  EXPECT_EQ(console(prepare),
            "Kavel font warning: external Topaz Amiga font unavailable in PROGDIR:Fonts/; "
            "falling back to CP437 bitmap.\n");
  EXPECT_EQ(ok, 1);
  EXPECT_EQ(kind, BITMAP_KIND_CP437);

  set_active_font("C64 Up/GFX [40]");
  EXPECT_EQ(console(prepare),
            "Kavel font warning: external C64 font file unavailable in PROGDIR:Fonts/.\n");
  EXPECT_EQ(ok, 0);
  set_active_font("C64 Low/Up [40]");
  EXPECT_EQ(console(prepare), "");
  EXPECT_EQ(ok, 1);

  // A system font fontconfig does not have (a phonebook from another
  // machine): the CP437 glyphs, and the name said once.
  set_active_font("Kavel Missing Face");
  EXPECT_EQ(console(prepare),
            "Kavel font warning: system font \"Kavel Missing Face\" not found; using the CP437 "
            "bitmap font.\n");
  EXPECT_EQ(ok, 1);
  EXPECT_EQ(kind, BITMAP_KIND_CP437);
  EXPECT_EQ(console(prepare), "");
  EXPECT_EQ(ok, 1);
}

// ----------------------------------------------------------- system fonts --

TEST_F(FontDrawer, SystemFontsOpenAtExactHeights) {
  PlatFont* f = try_open_font_exact("DejaVu Sans Mono.font", 16, 0);
  ASSERT_NE(f, nullptr) << "fonts-dejavu-core must be installed";
  EXPECT_EQ(plat_font_height(f), 16);
  plat_close_font(f);
  EXPECT_EQ(try_open_named_font("No Such Family Anywhere.font", 16, 0), nullptr);
  EXPECT_EQ(try_open_named_font("", 16, 0), nullptr);

  int cp437 = -1;
  set_active_font("Topaz (Amiga)");
  EXPECT_EQ(console([&] { f = open_terminal_font(&cp437); }),
            "Kavel font warning: embedded Topaz bitmap backend unavailable for Topaz (Amiga); no "
            "runtime Topaz font fallback used.\n");
  EXPECT_EQ(f, nullptr);
}

// DejaVu Sans Mono (fonts-dejavu-core) at a few heights stands in for the
// system fonts of every kind of name.  The expectations below rest on the
// metrics the face reports, checked first.
TEST_F(FontDrawer, SystemFontMetricsForEachKindOfName) {
  struct Face {
    int height, width, baseline;
  };
  const Face faces[] = {{6, 2, 4}, {8, 4, 6}, {9, 5, 7}, {12, 6, 9}, {24, 12, 19}};
  std::map<int, PlatFont*> open;
  for (const Face& f : faces) {
    PlatFont* font = try_open_font_exact("DejaVu Sans Mono.font", f.height, 0);
    ASSERT_NE(font, nullptr) << f.height;
    open[f.height] = font;
    ASSERT_EQ(plat_font_width(font), f.width) << "face metrics changed at " << f.height;
    ASSERT_EQ(plat_font_baseline(font), f.baseline) << "face metrics changed at " << f.height;
  }

  enum Mode { N, M, F_AND_M };
  struct Case {
    const char* why;
    int face;  // 0: no font
    const char* active;
    int cp437;
    Mode mode;
    int w, h, b;
  } cases[] = {
      {"no font", 0, "CP437", 0, N, 10, 20, 16},
      {"CP437 glyphs come before the C64 rule", 24, "C64 Up/GFX [80]", 1, N, 12, 24, 19},
      {"CP437 glyphs, tiny face widened", 6, "CP437", 1, N, 8, 16, 4},
      {"C64 capped at 8", 24, "C64 Up/GFX [80]", 0, N, 8, 8, 7},
      {"C64 capped at 16 in the medium window", 24, "C64 Low/Up [40]", 0, M, 12, 16, 15},
      {"C64 cap of 8 when full screen too", 24, "C64 Low/Up [40]", 0, F_AND_M, 8, 8, 7},
      {"C64 narrow face widened", 8, "C64 Up/GFX [40]", 0, N, 8, 8, 6},
      {"C64 low baseline: the result stands", 6, "C64 Up/GFX [40]", 0, N, 2, 6, 4},
      {"Amiga: the face's width", 9, "Topaz (Amiga)", 0, N, 8, 9, 7},
      {"Amiga: tiny face", 6, "Topaz (1200)", 0, N, 8, 16, 4},
      {"other: centred in 10 x 20", 12, "DejaVu Sans Mono", 0, N, 10, 20, 13},
      {"other: taller than the cell", 24, "DejaVu Sans Mono", 0, N, 10, 20, 17},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    display_set_window_mode((c.mode == F_AND_M) ? DISPLAY_MODE_FULLSCREEN
                            : (c.mode != N)     ? DISPLAY_MODE_MEDIUM
                                                : DISPLAY_MODE_WINDOW);
    set_active_font(c.active);
    int w = -1, h = -1, b = -1;
    terminal_metrics_from_font(c.face ? open[c.face] : nullptr, c.cp437, &w, &h, &b);
    EXPECT_EQ(w, c.w);
    EXPECT_EQ(h, c.h);
    EXPECT_EQ(b, c.b);
  }

  struct UiCase {
    int face, w, line_h, b;
  } ui_cases[] = {{0, 10, 18, 14}, {6, 8, 16, 5}, {8, 8, 16, 7}, {12, 6, 15, 10}, {24, 12, 27, 20}};
  for (const UiCase& c : ui_cases) {
    int w = -1, lh = -1, b = -1;
    ui_metrics_from_font(c.face ? open[c.face] : nullptr, &w, &lh, &b);
    EXPECT_EQ(w, c.w) << c.face;
    EXPECT_EQ(lh, c.line_h) << c.face;
    EXPECT_EQ(b, c.b) << c.face;
  }
  for (auto& [height, font] : open) plat_close_font(font);
}

// Only DejaVu Sans Mono of the names tried is expected to be installed, so
// the height that opens shows which list was walked.
TEST_F(FontDrawer, TerminalAndMenuFontListsPerMode) {
  enum Mode { N, M, F_AND_M };
  struct Case {
    const char* active;
    Mode mode;
    int height;  // 0: nothing opens
  } cases[] = {
      {"CP437", N, 16},
      {"CP437", M, 24},
      {"CP437", F_AND_M, 16},  // the medium list is not for full screen
      {"ibm vga", M, 24},      // CP437-like: the built-in list
      {"DejaVu Sans Mono", N, 16},
      {"DejaVu Sans Mono", M, 24},  // the medium window starts with the tallest
      {"DejaVu Sans Mono.font", N, 16},
      {"DejaVu Sans Mono", F_AND_M, 16},
      {"No Such Face Here", N, 0},  // no fall-back to the built-in list
      {"C64 Up/GFX [80]", N, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.active << " mode " << c.mode);
    display_set_window_mode((c.mode == F_AND_M) ? DISPLAY_MODE_FULLSCREEN
                            : (c.mode != N)     ? DISPLAY_MODE_MEDIUM
                                                : DISPLAY_MODE_WINDOW);
    set_active_font(c.active);
    int cp437 = -1;
    PlatFont* f = open_terminal_font(&cp437);
    EXPECT_EQ(f ? plat_font_height(f) : 0, c.height);
    EXPECT_EQ(cp437, 0);
    if (f) plat_close_font(f);
  }
  for (Mode mode : {N, M, F_AND_M}) {
    display_set_window_mode((mode == F_AND_M) ? DISPLAY_MODE_FULLSCREEN
                            : (mode != N)     ? DISPLAY_MODE_MEDIUM
                                              : DISPLAY_MODE_WINDOW);
    PlatFont* f = open_ui_font(nullptr);
    ASSERT_NE(f, nullptr) << mode;
    EXPECT_EQ(plat_font_height(f), mode == M ? 24 : 14) << mode;
    plat_close_font(f);
  }
}

}  // namespace
