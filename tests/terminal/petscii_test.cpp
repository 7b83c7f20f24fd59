// The PETSCII interpreter: bytes in; cells, cursor and attributes out, in
// 40 and 80 columns; the character set switch on a window with the real C64
// glyph files; golden images.  (Arbitrary bytes from arbitrary states are
// the fuzz target's.)
//
// Bytes are written with names in braces for the control codes
// ("{RVSON}A{CR}"), "{NAME*n}" for n of them, "{X*n}" for n of the
// character X and "{xHH}" for any byte.  Expectations, separated by ';':
//   @row,col           the cursor
//   row,col=X/fg/bg    a cell: character X ('_' for a space) and its colours
//   row N=TEXT         the text of grid row N
//   rev=N              the reverse flag
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "display/fonts.h"
#include "display/modes.h"
#include "display/surface.h"
#include "platform/display.h"
#include "platform/png.h"
#include "support/golden_image.h"
#include "support/open_window.h"
#include "support/test_support.h"
#include "terminal/petscii.h"
#include "terminal/terminal.h"

namespace {

const std::map<std::string, uint8_t> kNames = {
    {"WHT", 5},    {"RED", 28},   {"GRN", 30},     {"BLU", 31},  {"ORG", 129},  {"BLK", 144},
    {"BRN", 149},  {"LRED", 150}, {"DGRY", 151},   {"GRY", 152}, {"LGRN", 153}, {"LBLU", 154},
    {"LGRY", 155}, {"PUR", 156},  {"YEL", 158},    {"CYN", 159}, {"LF", 10},    {"CR", 13},
    {"SHCR", 141}, {"LOWER", 14}, {"UPPER", 142},  {"DOWN", 17}, {"UP", 145},   {"RIGHT", 29},
    {"LEFT", 157}, {"RVSON", 18}, {"RVSOFF", 146}, {"HOME", 19}, {"CLR", 147},  {"DEL", 20},
    {"INS", 148},
};

std::string P(const std::string& spec) {
  std::string out;
  for (size_t i = 0; i < spec.size(); i++) {
    size_t end = spec[i] == '{' ? spec.find('}', i) : std::string::npos;
    if (end == std::string::npos) {
      out.push_back(spec[i]);
      continue;
    }
    std::string name = spec.substr(i + 1, end - i - 1);
    i = end;
    int count = 1;
    if (size_t star = name.find('*'); star != std::string::npos) {
      count = std::stoi(name.substr(star + 1));
      name.resize(star);
    }
    int byte = -1;
    if (name.size() == 1) byte = static_cast<uint8_t>(name[0]);
    if (name.size() == 3 && name[0] == 'x') byte = std::stoi(name.substr(1), nullptr, 16);
    if (auto it = kNames.find(name); it != kNames.end()) byte = it->second;
    if (byte < 0) ADD_FAILURE() << "unknown name {" << name << "}";
    out.append(static_cast<size_t>(count), static_cast<char>(byte));
  }
  return out;
}

void push(Terminal* t, const std::string& bytes) {
  for (unsigned char b : bytes) petscii_consume_byte(t, b);
}

// A PETSCII terminal without a window, as a session's is after its first
// clear screen.
std::unique_ptr<Terminal> make_term(const char* font) {
  set_active_font(font);
  auto t = std::make_unique<Terminal>();
  term_init_record(t.get());
  t->petscii = TERM_MODE_PETSCII;
  t->petscii_lower = font_name_looks_c64_lower_font_local(g_active_font) ? 1 : 0;
  term_clear_screen(t.get());
  return t;
}

void check(const Terminal* t, const std::string& expect) {
  std::stringstream ss(expect);
  std::string item;
  while (std::getline(ss, item, ';')) {
    item.erase(0, item.find_first_not_of(' '));
    int r, c, fg, bg;
    char ch;
    if (sscanf(item.c_str(), "@%d,%d", &r, &c) == 2) {
      EXPECT_TRUE(t->row == r && t->col == c) << "cursor " << t->row << "," << t->col;
    } else if (item.rfind("row ", 0) == 0) {
      char text[kScrollbackLineBytes];
      cell_row_to_text(t->cells[atoi(item.c_str() + 4)], text);
      EXPECT_EQ(text, item.substr(item.find('=') + 1)) << item;
    } else if (sscanf(item.c_str(), "rev=%d", &r) == 1) {
      EXPECT_EQ(t->reverse, r);
    } else if (sscanf(item.c_str(), "%d,%d=%c/%d/%d", &r, &c, &ch, &fg, &bg) == 5) {
      const Cell& cell = t->cells[r][c];
      EXPECT_TRUE(cell.ch == (ch == '_' ? ' ' : ch) && cell.fg == fg && cell.bg == bg)
          << item << ": " << int{cell.ch} << "/" << int{cell.fg} << "/" << int{cell.bg};
    } else {
      ADD_FAILURE() << "bad expectation: " << item;
    }
  }
}

struct Case {
  const char* name;
  const char* bytes;
  const char* expect;
  const char* font = kFontC64UpGfx40;
};

void run_cases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto t = make_term(c.font);
    push(t.get(), P(c.bytes));
    check(t.get(), c.expect);
  }
  set_active_font(kFontCP437);
}

// clang-format off
TEST(PetsciiInterpreter, LineEnds) {
  run_cases({
      {"CR LF is one line end", "AB{CR}{LF}C", "@1,1; 1,0=C/7/0"},
      {"a bare LF goes to column 0 of the next row", "AB{LF}C", "@1,1; 1,0=C/7/0"},
      {"LF after LF moves down twice", "A{LF}{LF}", "@2,0"},
      {"CR after CR moves down twice", "A{CR}{CR}", "@2,0"},
      {"CR LF LF: the second LF is a line end again", "{CR}{LF}{LF}", "@2,0"},
      {"a colour code between CR and LF separates them", "{CR}{RED}{LF}", "@2,0"},
      {"shifted return then LF moves down twice", "A{SHCR}{LF}", "@2,0"},
      {"CR on the bottom row scrolls", "{DOWN*24}X{CR}", "@24,0; row 23=X; row 24="},
  });
}

TEST(PetsciiInterpreter, ReverseVideo) {
  run_cases({
      {"reverse, A, CR: A reversed, the next row not", "{RVSON}A{CR}B", "0,0=A/0/7; 1,0=B/7/0; rev=0"},
      {"reverse off", "{RVSON}A{RVSOFF}B", "0,1=B/7/0; rev=0"},
      {"shifted return keeps reverse", "{RVSON}A{SHCR}B", "1,0=B/0/7; rev=1"},
      {"LF turns reverse off", "{RVSON}{LF}B", "1,0=B/7/0; rev=0"},
      {"the colour goes to the background", "{LRED}{RVSON}A", "0,0=A/0/12"},
  });
}

TEST(PetsciiInterpreter, CursorMovesAndWrapAtTheVisibleWidth) {
  run_cases({
      {"40 characters wrap to the next row", "{A*40}", "@1,0; 0,39=A/7/0; 0,40=_/7/0"},
      {"cursor right at column 39 wraps", "{RIGHT*39}{RIGHT}", "@1,0"},
      {"a character in the bottom-right cell scrolls at once", "{DOWN*24}{RIGHT*39}Z", "@24,0; 23,39=Z/7/0"},
      {"cursor right past the bottom-right cell scrolls", "A{LEFT}{DOWN*24}{RIGHT*40}", "@24,0; row 0="},
      {"cursor down keeps the column, stops at row 24", "A{LEFT}{RIGHT*5}{DOWN*30}", "@24,5; row 0=A"},
      {"cursor up stops at row 0", "{DOWN}{UP*2}", "@0,0"},
      {"cursor left wraps to the last visible column above", "{DOWN}{LEFT}", "@0,39"},
      {"cursor left at the top-left corner stays", "{LEFT}", "@0,0"},
      {"home", "{DOWN*5}{RIGHT*7}{HOME}", "@0,0"},
      {"80 columns: 40 characters stay on the row", "{A*40}", "@0,40", kFontC64UpGfx80},
      {"80 columns: cursor right at column 79 wraps", "{RIGHT*80}", "@1,0", kFontC64UpGfx80},
      {"80 columns: cursor left wraps to column 79", "{DOWN}{LEFT}", "@0,79", kFontC64LowUp80},
  });
}

TEST(PetsciiInterpreter, InsertAndDelete) {
  run_cases({
      {"DEL removes the character left of the cursor", "ABCD{LEFT*2}{DEL}", "@0,1; row 0=ACD"},
      {"DEL at column 0 blanks the last cell above, the row stays", "{DOWN*4}{RIGHT*39}QXY{LEFT*2}{DEL}", "@4,39; 4,39=_/7/0; row 5=XY"},
      {"DEL at the top-left corner does nothing", "AB{HOME}{DEL}", "@0,0; row 0=AB"},
      {"DEL closes up to the visible edge only", "{RIGHT*39}Z{HOME}{RIGHT}{DEL}", "@0,0; 0,38=Z/7/0; 0,39=_/7/0"},
      {"INS opens a blank at the cursor", "ABC{LEFT*2}{INS}", "@0,1; row 0=A BC"},
      {"INS at the last visible column only blanks it", "{RIGHT*38}YZ{LEFT}{INS}", "@0,39; 0,38=Y/7/0; 0,39=_/7/0"},
      {"INS pushes the last visible cell out", "{RIGHT*39}Z{UP}{INS}", "@0,0; row 0="},
      {"blanks of INS and DEL take the colour, never reverse", "{RED}{RVSON}AB{LEFT}{INS}{RIGHT}{DEL}", "@0,1; 0,0=A/0/4; 0,1=B/0/4; 0,39=_/4/0"},
      {"80 columns: DEL at column 0 reaches column 79", "{DOWN}{DEL}", "@0,79", kFontC64UpGfx80},
  });
}

TEST(PetsciiInterpreter, ColourCodesSelectTheForeground) {
  run_cases({
      {"white", "{WHT}A", "0,0=A/15/0"}, {"red", "{RED}A", "0,0=A/4/0"},
      {"green", "{GRN}A", "0,0=A/2/0"}, {"blue", "{BLU}A", "0,0=A/1/0"},
      {"orange", "{ORG}A", "0,0=A/6/0"}, {"black", "{BLK}A", "0,0=A/0/0"},
      {"brown", "{BRN}A", "0,0=A/6/0"}, {"light red", "{LRED}A", "0,0=A/12/0"},
      {"dark grey", "{DGRY}A", "0,0=A/8/0"}, {"grey", "{GRY}A", "0,0=A/8/0"},
      {"light green", "{LGRN}A", "0,0=A/10/0"}, {"light blue", "{LBLU}A", "0,0=A/9/0"},
      {"light grey", "{LGRY}A", "0,0=A/7/0"}, {"purple", "{PUR}A", "0,0=A/5/0"},
      {"yellow", "{YEL}A", "0,0=A/14/0"}, {"cyan", "{CYN}A", "0,0=A/3/0"},
  });
}
// clang-format on

TEST(PetsciiInterpreter, IgnoredCodesChangeNothing) {
  std::vector<int> ignored = {0,  1,  2,  3,  4,  6,  8,  9,  11,  12, 15,
                              16, 21, 22, 23, 24, 25, 26, 27, 128, 143};
  for (int b = 130; b <= 140; b++) ignored.push_back(b);
  for (int code : ignored) {
    SCOPED_TRACE(code);
    auto t = make_term(kFontC64LowUp40);
    push(t.get(), P("{RED}AB{RVSON}C{LEFT}{DOWN}"));
    auto before = std::make_unique<Terminal>(*t);
    push(t.get(), std::string(1, static_cast<char>(code)));
    EXPECT_EQ(memcmp(t->cells, before->cells, sizeof t->cells), 0);
    EXPECT_TRUE(t->row == before->row && t->col == before->col && t->fg == before->fg &&
                t->reverse == before->reverse && t->petscii_lower == before->petscii_lower);
  }
  set_active_font(kFontCP437);
}

TEST(PetsciiInterpreter, CharacterBytesAreStoredUnchanged) {
  for (int b = 0; b < 256; b++) {
    auto t = make_term(kFontC64UpGfx40);
    push(t.get(), std::string(1, static_cast<char>(b)));
    bool character = (b >= 32 && b <= 127) || b >= 160;
    EXPECT_EQ(t->cells[0][0].ch, character ? b : ' ') << b;
  }
  set_active_font(kFontCP437);
}

TEST(PetsciiInterpreter, ClearHomesButKeepsColourReverseAndCharacterSet) {
  auto t = make_term(kFontC64UpGfx40);
  push(t.get(), P("{PUR}{LOWER}AB{RVSON}X{CLR}"));
  check(t.get(), "@0,0; rev=1; row 0=; 0,0=_/5/0");
  EXPECT_EQ(t->fg, 5);
  EXPECT_EQ(t->petscii_lower, 1);
  set_active_font(kFontCP437);
}

// ------------------------------------------------------ on a real window --

// A PETSCII terminal opened the way a session opens it (term_open) in the
// normal window or full screen, first clear done; the display globals, the
// active font and the font lookup are put back afterwards.
class SessionTerminal {
 public:
  explicit SessionTerminal(const char* font, bool fullscreen = false)
      : saved_mode_(display_window_mode()),
        saved_{g_runtime_top_bar_enabled, g_c64_40_dynamic_scale} {
    display_set_window_mode(fullscreen ? DISPLAY_MODE_FULLSCREEN : DISPLAY_MODE_WINDOW);
    g_runtime_top_bar_enabled = 0;
    g_c64_40_dynamic_scale = 2;  // as a session sets it outside the medium window
    set_active_font(font);
    opened_ = test_term_open(t_.get(), "Kavel", 1) == 0;
    if (opened_) term_clear_screen(t_.get());
  }
  ~SessionTerminal() {
    if (opened_) term_close(t_.get());
    display_set_window_mode(saved_mode_);
    int* globals[] = {&g_runtime_top_bar_enabled, &g_c64_40_dynamic_scale};
    for (int i = 0; i < 2; i++) *globals[i] = saved_[i];
    plat_headless_set_desktop(1920, 1080, 24);
    fonts_test_set_progdir_override(nullptr);
    bitmap_font_cache_reset();
    set_active_font(kFontCP437);
  }
  bool opened() const { return opened_; }
  Terminal* t() { return t_.get(); }

 private:
  int saved_mode_;
  int saved_[2];
  std::unique_ptr<Terminal> t_ = std::make_unique<Terminal>();
  bool opened_ = false;
};

// Whether the pixels of a cell show its character from a glyph table (8
// rows, the terminal's scale) in the cell's colours.
bool cell_shows_glyph(Terminal* t, int row, int col, const std::vector<uint8_t>& glyphs) {
  const Cell& cell = t->cells[row][col];
  int s = t->bitmap_scale;
  for (int y = 0; y < t->cell_h; y++) {
    for (int x = 0; x < t->cell_w; x++) {
      bool set = glyphs[cell.ch * 8 + y / s] & (0x80 >> (x / s));
      int px = plat_read_pixel(t->window, t->origin_x + col * t->cell_w + x, cell_y(t, row) + y);
      if (px != t->pens[set ? cell.fg : cell.bg]) return false;
    }
  }
  return true;
}

std::vector<uint8_t> glyph_file(const char* name) {
  return read_file_bytes(binary_path(std::string("Fonts/") + name));
}

bool font_path_is(const char* file) {
  return std::filesystem::path(g_bitmap_font.path).filename() == file;
}

TEST(PetsciiWindow, CaseSwitchRedrawsTheGridInTheNewSet) {
  std::vector<uint8_t> upper = glyph_file("c64_upper.f8"), lower = glyph_file("c64_lower.f8");
  ASSERT_TRUE(upper.size() == 2048 && lower.size() == 2048);
  // Both 0x41 and 0xC1 look different in the two sets.
  ASSERT_TRUE(memcmp(&upper[0x41 * 8], &lower[0x41 * 8], 8) != 0 &&
              memcmp(&upper[0xC1 * 8], &lower[0xC1 * 8], 8) != 0);
  SessionTerminal s(kFontC64UpGfx40);
  ASSERT_TRUE(s.opened());
  Terminal* t = s.t();
  EXPECT_EQ(plat_window_inner_width(t->window), 640);
  EXPECT_EQ(plat_window_inner_height(t->window), 400);
  push(t, P("{YEL}{xC1}{RVSON}{x41}"));
  EXPECT_TRUE(cell_shows_glyph(t, 0, 0, upper) && cell_shows_glyph(t, 0, 1, upper));

  push(t, P("{LOWER}"));
  EXPECT_EQ(t->petscii_lower, 1);
  EXPECT_TRUE(font_path_is("c64_lower.f8")) << g_bitmap_font.path;
  EXPECT_TRUE(cell_shows_glyph(t, 0, 0, lower) && cell_shows_glyph(t, 0, 1, lower));

  // The set already shown: nothing printed, nothing drawn (a mark painted
  // over the first cell stays).
  plat_set_apen(t->rport, t->pens[4]);
  plat_rect_fill(t->rport, 0, 0, 15, 15);
  testing::internal::CaptureStdout();
  push(t, P("{LOWER}"));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(plat_read_pixel(t->window, 3, 3), t->pens[4]);

  push(t, P("{UPPER}"));
  EXPECT_TRUE(font_path_is("c64_upper.f8")) << g_bitmap_font.path;
  EXPECT_TRUE(cell_shows_glyph(t, 0, 0, upper) && cell_shows_glyph(t, 0, 1, upper));

  // A surface opened again loads the set its font name names; the helper
  // brings back the set the BBS chose, at the terminal's scale.
  push(t, P("{LOWER}"));
  ASSERT_EQ(bitmap_font_load("c64_upper.f8", 8, t->bitmap_scale), 1);
  EXPECT_EQ(petscii_load_charset_glyphs(t), 1);
  EXPECT_TRUE(font_path_is("c64_lower.f8") && g_bitmap_font.scale == 2) << g_bitmap_font.path;
}

TEST(PetsciiWindow, MissingCharsetFileWarnsAndKeepsGoing) {
  std::vector<uint8_t> upper = glyph_file("c64_upper.f8");
  TempDir dir;
  std::filesystem::create_directories(dir.file("Fonts"));
  ASSERT_TRUE(write_file_bytes(dir.file("Fonts/c64_upper.f8"), {upper.begin(), upper.end()}));
  // The lookup also tries Fonts/ in the working directory.
  struct Cwd {
    std::filesystem::path saved = std::filesystem::current_path();
    ~Cwd() { std::filesystem::current_path(saved); }
  } cwd;
  std::filesystem::current_path(dir.path());
  fonts_test_set_progdir_override(dir.path().c_str());
  bitmap_font_cache_reset();
  {
    SessionTerminal s(kFontC64UpGfx40);
    ASSERT_TRUE(s.opened());
    Terminal* t = s.t();
    testing::internal::CaptureStdout();
    push(t, P("A{LOWER}B"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Kavel font warning: could not switch external Commodore 64 charset to "
              "lower/upper.\n");
    // The flag follows the BBS; the old glyphs stay and text keeps coming.
    EXPECT_EQ(t->petscii_lower, 1);
    EXPECT_TRUE(font_path_is("c64_upper.f8")) << g_bitmap_font.path;
    check(t, "@0,2; row 0=AB");
    EXPECT_TRUE(cell_shows_glyph(t, 0, 0, upper) && cell_shows_glyph(t, 0, 1, upper));
    testing::internal::CaptureStdout();
    push(t, P("{UPPER}"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  }
}

// ---------------------------------------------------------------- goldens --

// Colours, reverse video, graphics characters, text in both cases, insert
// and delete, and a switch to the lower/upper case set at the end, which
// redraws everything.
std::string golden_stream() {
  std::string s = P("{UPPER}{CLR}{RVSON}");
  for (const char* c : {"{RED}", "{ORG}", "{YEL}", "{GRN}", "{CYN}", "{LBLU}", "{BLU}", "{PUR}"})
    s += P(c) + "     ";
  s += P("{RVSOFF}{WHT} KAVEL{LGRY} PETSCII{CR}{CR}{CYN}");
  for (int b = 0xA0; b <= 0xBF; b++) s.push_back(static_cast<char>(b));
  s += P("{CR}{LGRN}");
  for (int b = 0x60; b <= 0x7F; b++) s.push_back(static_cast<char>(b));
  s += P("{CR}{CR}{LRED}{RVSON} REVERSE {RVSOFF} {YEL}{xC1}{xC2}{xC3} ABC {LBLU}{SHCR}");
  s += P("{RVSON}{DGRY} SHIFTED RETURN KEPT REVERSE {CR}{CR}");
  s += P("{WHT}0123456789{DEL}{LEFT*5}{INS}{INS}{HOME}{DOWN*12}{GRY}ROW 12{LOWER}");
  return s;
}

void expect_window_golden(const std::string& name, PlatWindow* w) {
  golden::expect_golden(name, w, 0, 0, plat_window_inner_width(w), plat_window_inner_height(w));
}

// 40 columns at scale 2 and 80 at scale 1 in the normal window, and 40
// columns in full screen on a display wider than the picture.  Before the
// picture is taken, everything is painted over in red and the hidden
// columns are filled with text; a full redraw must leave the strips beside
// the grid black and the hidden columns blank.
TEST(PetsciiGolden, WindowAndFullScreen) {
  const struct {
    const char* name;
    const char* font;
    bool fullscreen;
    int scale, width, height;
  } kShots[] = {
      {"petscii_40col_window", kFontC64UpGfx40, false, 2, 640, 400},
      {"petscii_80col_window", kFontC64UpGfx80, false, 1, 640, 200},
      {"petscii_40col_fullscreen", kFontC64UpGfx40, true, 2, 800, 480},
  };
  for (const auto& shot : kShots) {
    SCOPED_TRACE(shot.name);
    plat_headless_set_desktop(800, 480, 24);
    SessionTerminal s(shot.font, shot.fullscreen);
    ASSERT_TRUE(s.opened());
    Terminal* t = s.t();
    ASSERT_TRUE(t->bitmap_scale == shot.scale && t->fullscreen == shot.fullscreen);
    ASSERT_EQ(plat_window_inner_width(t->window), shot.width);
    ASSERT_EQ(plat_window_inner_height(t->window), shot.height);
    push(t, golden_stream());
    plat_set_apen(t->rport, t->pens[4]);
    plat_rect_fill(t->rport, 0, 0, shot.width - 1, cell_y(t, kTermRows) - 1);
    for (auto& row : t->cells)
      for (int c = c64_visible_cols_for_font(); c < kTermCols; c++) row[c] = Cell{'#', 14, 1, 0};
    term_redraw_all(t);
    for (auto& row : t->cells) EXPECT_EQ(row[kTermCols - 1].ch, ' ');
    expect_window_golden(shot.name, t->window);
  }
}

}  // namespace
