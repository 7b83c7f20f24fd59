// layers: platform
// Shows the glyphs of the compiled bitmap fonts (Fonts/*.f8, *.f14, *.f16
// beside the executable: 256 glyphs of height bytes, bit 7 leftmost) as
// labelled 16 x 16 grids in a real window, until the window is closed or a
// key is pressed.
//
//   kavel-fontview [font directory] [--seconds N]
//
// Missing or malformed files are listed in the window instead of drawn.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/display.h"
#include "platform/dos.h"

namespace {

struct FontFile {
  std::string name;
  int height = 0;
  std::vector<uint8_t> glyphs;  // empty when the file is unusable
  std::string problem;
};

int height_from_name(const std::string& name) {
  size_t dot = name.rfind(".f");
  if (dot == std::string::npos) return 0;
  std::string ext = name.substr(dot + 2);
  if (ext == "8") return 8;
  if (ext == "14") return 14;
  if (ext == "16") return 16;
  return 0;
}

std::vector<FontFile> load_fonts(const std::string& dir) {
  std::vector<FontFile> fonts;
  DIR* d = opendir(dir.c_str());
  if (!d) return fonts;
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    int h = height_from_name(name);
    if (!h) continue;
    FontFile f;
    f.name = name;
    f.height = h;
    std::string path = dir + "/" + name;
    FILE* fp = fopen(path.c_str(), "rb");
    if (!fp) {
      f.problem = "cannot be read";
    } else {
      std::vector<uint8_t> data(256 * static_cast<size_t>(h) + 1);
      size_t n = fread(data.data(), 1, data.size(), fp);
      fclose(fp);
      if (n != 256 * static_cast<size_t>(h)) {
        f.problem = "is " + std::to_string(n) + " bytes, not " + std::to_string(256 * h);
      } else {
        data.resize(n);
        f.glyphs = std::move(data);
      }
    }
    fonts.push_back(std::move(f));
  }
  closedir(d);
  std::sort(fonts.begin(), fonts.end(),
            [](const FontFile& a, const FontFile& b) { return a.name < b.name; });
  return fonts;
}

struct Layout {
  int scale = 2;
  int label_h = 24;
  int grid_w = 0;  // width of one grid including its gap
  int columns = 1;
  int width = 0;
  int height = 0;
};

constexpr int kGap = 2;  // pixels between glyph cells
constexpr int kMargin = 16;

int grid_height(const FontFile& f, const Layout& l) {
  return l.label_h + (f.glyphs.empty() ? 0 : 16 * (f.height * l.scale + kGap));
}

Layout plan(const std::vector<FontFile>& fonts, int max_w, int max_h) {
  Layout l;
  for (int scale = 2; scale >= 1; scale--) {
    l.scale = scale;
    l.grid_w = 16 * (8 * scale + kGap) + kMargin;
    l.columns =
        std::max(1, std::min<int>(static_cast<int>(fonts.size()), (max_w - kMargin) / l.grid_w));
    int rows_h = 0, row_max = 0;
    for (size_t i = 0; i < fonts.size(); i++) {
      row_max = std::max(row_max, grid_height(fonts[i], l));
      if ((static_cast<int>(i) + 1) % l.columns == 0 || i + 1 == fonts.size()) {
        rows_h += row_max + kMargin;
        row_max = 0;
      }
    }
    l.width = kMargin + l.columns * l.grid_w;
    l.height = kMargin + std::max(rows_h, 40);
    if (l.height <= max_h && l.width <= max_w) break;
  }
  l.width = std::min(std::max(l.width, 480), max_w);
  l.height = std::min(l.height, max_h);
  return l;
}

void label(PlatWindow* w, PlatFont* font, int x, int baseline, const std::string& text) {
  if (!font) return;
  plat_move(w, x, baseline);
  plat_text(w, text.c_str(), static_cast<int>(text.size()));
}

void draw(PlatWindow* w, PlatFont* font, const std::vector<FontFile>& fonts, const Layout& l,
          const std::string& dir, int fg, int bg, int dim) {
  plat_set_apen(w, bg);
  plat_rect_fill(w, 0, 0, plat_window_inner_width(w) - 1, plat_window_inner_height(w) - 1);
  plat_set_drmd(w, PLAT_JAM1);
  plat_set_apen(w, fg);
  if (fonts.empty()) {
    label(w, font, kMargin, 28, "No font files (*.f8, *.f14, *.f16) in " + dir);
    return;
  }
  int x = kMargin, y = kMargin, row_max = 0;
  for (size_t i = 0; i < fonts.size(); i++) {
    const FontFile& f = fonts[i];
    plat_set_apen(w, fg);
    label(w, font, x, y + l.label_h - 8, f.problem.empty() ? f.name : f.name + " " + f.problem);
    int cell_w = 8 * l.scale + kGap, cell_h = f.height * l.scale + kGap;
    for (int c = 0; !f.glyphs.empty() && c < 256; c++) {
      int gx = x + (c % 16) * cell_w, gy = y + l.label_h + (c / 16) * cell_h;
      plat_draw_glyph(w, gx, gy, f.glyphs.data() + static_cast<size_t>(c) * f.height, f.height,
                      l.scale, fg, dim);
    }
    row_max = std::max(row_max, grid_height(f, l));
    if ((static_cast<int>(i) + 1) % l.columns == 0) {
      x = kMargin;
      y += row_max + kMargin;
      row_max = 0;
    } else {
      x += l.grid_w;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir = dos_expand_path("PROGDIR:Fonts");
  int seconds = -1;
  for (int i = 1; i < argc; i++) {
    if (strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
      seconds = atoi(argv[++i]);
    } else {
      dir = argv[i];
    }
  }
  std::vector<FontFile> fonts = load_fonts(dir);
  PlatScreen* desktop = plat_lock_desktop_screen();
  if (!desktop) {
    fprintf(stderr, "kavel-fontview: no display\n");
    return 1;
  }
  Layout l = plan(fonts, plat_screen_width(desktop) - 40, plat_screen_height(desktop) - 60);
  PlatWindowSpec spec;
  spec.title = "Kavel fonts";
  spec.inner_width = l.width;
  spec.inner_height = l.height;
  spec.left = std::max(0, (plat_screen_width(desktop) - l.width) / 2);
  spec.top = std::max(0, (plat_screen_height(desktop) - l.height) / 2);
  PlatWindow* w = plat_open_window(spec);
  plat_unlock_screen(desktop);
  if (!w) {
    fprintf(stderr, "kavel-fontview: cannot open a window\n");
    return 1;
  }
  PlatScreen* s = plat_window_screen(w);
  int fg = plat_obtain_best_pen(s, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF);
  int bg = plat_obtain_best_pen(s, 0, 0, 0x40404040);
  int dim = plat_obtain_best_pen(s, 0x20202020, 0x20202020, 0x60606060);
  PlatFont* font = plat_open_font("DejaVu Sans Mono.font", 14);
  plat_set_font(w, font);
  draw(w, font, fonts, l, dir, fg < 0 ? 2 : fg, bg < 0 ? 1 : bg, dim < 0 ? 1 : dim);
  printf("fontview: %zu font file(s) from %s\n", fonts.size(), dir.c_str());
  fflush(stdout);

  uint32_t start = clock_ms();
  bool done = false;
  while (!done) {
    if (seconds >= 0 && clock_ms() - start >= static_cast<uint32_t>(seconds) * 1000u) break;
    plat_wait_event(w, 200);
    PlatEvent ev;
    while (plat_get_event(w, &ev)) {
      bool key_press =
          ev.cls == PLAT_EV_VANILLAKEY || (ev.cls == PLAT_EV_RAWKEY && !(ev.code & PLAT_KEY_UP) &&
                                           ev.code != RAWKEY_LSHIFT && ev.code != RAWKEY_RSHIFT);
      if (ev.cls == PLAT_EV_CLOSE || key_press) done = true;
    }
  }
  plat_set_font(w, nullptr);
  plat_close_font(font);
  for (int pen : {fg, bg, dim}) plat_release_pen(s, pen);
  plat_close_window(w);
  return 0;
}
