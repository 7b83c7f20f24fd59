// layers: display
// kavel-render FILE.ans OUT.png [--font NAME] [--scale N] [--raw] [--tall]
//              [--cells FILE] [--ice] [--blink-hidden]
//
// Feeds an ANSI file (a SAUCE record stripped) through a real
// Terminal on the headless backend, scrolling as a session would on its 25
// rows, and saves the window as a PNG: a way to look at what a BBS screen
// becomes without a BBS.
//
// Art files stored with bare line feeds are sent by BBS software with CR LF
// line ends; the tool does the same unless --raw asks for the bytes as they
// are (a terminal's LF keeps the column; no SAUCE record is stripped either).
//
// --tall keeps the whole picture instead of the last 25 rows: every row that
// scrolls off the top is kept as it was drawn, and the PNG shows those rows
// above the final window.  It is for comparing with renderers that draw a
// file on an endless canvas; the terminal itself behaves exactly as without
// it.  --cells FILE writes the same rows as text, one line per row of 80
// cells, each cell four hex digits: character (two), foreground, background.
//
// --ice draws blink as a bright background (iCE colours), as a file whose
// SAUCE record has the iCE flag (ANSiFlags bit 0) is drawn anyway; without
// it blinking text is drawn in its visible half, or with --blink-hidden in
// the half in which it is not shown.  Music in the file is not played.
//
// With a C64 font ("C64 Up/GFX [40]", "C64 Low/Up [80]", ...) the file is a
// PETSCII stream: it goes, byte for byte, to the PETSCII interpreter of a
// terminal opened the way a session with that font opens it in a normal
// window (40 columns at scale 2 make 640 x 400, 80 columns at scale 1 make
// 640 x 200), starting in the character set the font name names.  --scale
// does not apply there.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "../tests/terminal/headless_terminal.h"
#include "display/fonts.h"
#include "display/modes.h"
#include "display/surface.h"
#include "platform/display.h"
#include "platform/png.h"
#include "terminal/petscii.h"
#include "terminal/sauce.h"

namespace {

int usage() {
  fprintf(stderr,
          "usage: kavel-render FILE.ans OUT.png [--font NAME] [--scale N] [--raw] [--tall] "
          "[--cells FILE] [--ice] [--blink-hidden]\n");
  return 2;
}

// Rows that left the top of the grid, oldest first, as pixels and as cells.
struct ScrolledRows {
  std::vector<uint8_t> rgb;
  std::vector<Cell> cells;
  bool keep_pixels = false;
};
ScrolledRows g_scrolled;

void append_row_pixels(const Terminal* t, int row, std::vector<uint8_t>* rgb) {
  const PlatScreen* screen = plat_window_screen(t->window);
  int width = plat_window_inner_width(t->window);
  for (int y = cell_y(t, row); y < cell_y(t, row) + t->cell_h; y++) {
    for (int x = 0; x < width; x++) {
      uint32_t c = plat_pen_rgb(screen, plat_read_pixel(t->window, x, y));
      rgb->push_back(static_cast<uint8_t>(c >> 16));
      rgb->push_back(static_cast<uint8_t>(c >> 8));
      rgb->push_back(static_cast<uint8_t>(c));
    }
  }
}

void keep_top_row(const Terminal* t) {
  g_scrolled.cells.insert(g_scrolled.cells.end(), t->cells[0], t->cells[0] + kTermCols);
  if (g_scrolled.keep_pixels) append_row_pixels(t, 0, &g_scrolled.rgb);
}

// The scrolled rows (when kept) and then the window's 25 rows.
int save_tall_png(const Terminal* t, const char* path) {
  std::vector<uint8_t> rgb = g_scrolled.rgb;
  for (int r = 0; r < kTermRows; r++) append_row_pixels(t, r, &rgb);
  int width = plat_window_inner_width(t->window);
  int rows = static_cast<int>(g_scrolled.cells.size() / kTermCols) + kTermRows;
  return png_write_rgb(path, width, rows * t->cell_h, rgb.data());
}

int save_cells(const Terminal* t, const char* path) {
  FILE* f = fopen(path, "w");
  if (!f) return -1;
  // The background as shown: with iCE colours blink is its bright half.
  // (An extended colour has no digit of its own: its slot's low bits show.)
  auto put_row = [f, t](const Cell* row) {
    for (int c = 0; c < kTermCols; c++) {
      int bg = row[c].bg & 15;
      if ((row[c].flags & CELL_BLINK) && t->ice_colours && bg < 8) bg += 8;
      fprintf(f, "%02X%X%X", row[c].ch, row[c].fg & 15, bg);
    }
    fputc('\n', f);
  };
  for (size_t i = 0; i < g_scrolled.cells.size(); i += kTermCols) put_row(&g_scrolled.cells[i]);
  for (const auto& row : t->cells) put_row(row);
  return fclose(f) == 0 ? 0 : -1;
}

bool read_file(const char* path, std::vector<uint8_t>* out) {
  FILE* f = fopen(path, "rb");
  if (!f) return false;
  uint8_t buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) out->insert(out->end(), buf, buf + n);
  bool ok = !ferror(f);
  fclose(f);
  return ok;
}

// The glyph file's name as the font loader knows it ("cp437.f16",
// "Topaz+1200/14"): the part of the loaded path after the Fonts drawer.
std::string loaded_font_file() {
  const char* p = strstr(g_bitmap_font.path, "Fonts/");
  return p ? std::string(p + 6) : std::string();
}

// The PETSCII path: a session terminal in a normal window, bytes unchanged.
int render_petscii(const std::vector<uint8_t>& data, const char* out_path) {
  WindowRequest req = window_request("Kavel");
  req.mode = DISPLAY_MODE_WINDOW;
  req.petscii = 1;
  auto t = std::make_unique<Terminal>();
  if (term_open(t.get(), &req) != 0) {
    fprintf(stderr, "kavel-render: cannot open a terminal for \"%s\"\n", g_active_font);
    return 1;
  }
  term_clear_screen(t.get());
  for (uint8_t b : data) petscii_consume_byte(t.get(), b);
  int status = 0;
  if (plat_save_window_png(t->window, out_path) != 0) {
    fprintf(stderr, "kavel-render: cannot write %s\n", out_path);
    status = 1;
  }
  term_close(t.get());
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  const char* in_path = nullptr;
  const char* out_path = nullptr;
  const char* font = kFontCP437;
  int scale = 0;
  const char* cells_path = nullptr;
  bool raw = false;
  bool tall = false;
  bool ice = false;
  bool blink_hidden = false;
  for (int i = 1; i < argc; i++) {
    if (strcmp(argv[i], "--raw") == 0) {
      raw = true;
    } else if (strcmp(argv[i], "--ice") == 0) {
      ice = true;
    } else if (strcmp(argv[i], "--blink-hidden") == 0) {
      blink_hidden = true;
    } else if (strcmp(argv[i], "--tall") == 0) {
      tall = true;
    } else if (strcmp(argv[i], "--cells") == 0 && i + 1 < argc) {
      cells_path = argv[++i];
    } else if (strcmp(argv[i], "--font") == 0 && i + 1 < argc) {
      font = argv[++i];
    } else if (strcmp(argv[i], "--scale") == 0 && i + 1 < argc) {
      scale = atoi(argv[++i]);
      if (scale < 1 || scale > 8) return usage();
    } else if (argv[i][0] == '-' && argv[i][1] == '-') {
      return usage();
    } else if (!in_path) {
      in_path = argv[i];
    } else if (!out_path) {
      out_path = argv[i];
    } else {
      return usage();
    }
  }
  if (!in_path || !out_path) return usage();

  std::vector<uint8_t> data;
  if (!read_file(in_path, &data)) {
    fprintf(stderr, "kavel-render: cannot read %s\n", in_path);
    return 1;
  }
  if (!raw) {
    if (sauce_ice_colours(data.data(), data.size())) ice = true;
    data.resize(sauce_content_length(data.data(), data.size()));
  }
  // A picture, not a session: nothing is played, nothing waits for music.
  g_ansi_music_enabled = 0;

  set_active_font(font);
  if (font_name_looks_c64(g_active_font)) {
    if (scale > 0 || tall || cells_path) {
      fprintf(stderr, "kavel-render: --scale, --tall and --cells do not apply to the C64 fonts\n");
      return 2;
    }
    return render_petscii(data, out_path);
  }
  HeadlessTerminal h;
  int cell_w = 0, cell_h = 0, baseline = 0, glyph_height = 0, font_scale = 0, kind = 0;
  bool opened = false;
  if (bitmap_renderer_prepare_terminal(0, &cell_w, &cell_h, &baseline, &glyph_height, &font_scale,
                                       &kind)) {
    if (scale > 0 && scale != font_scale) {
      std::string file = loaded_font_file();
      if (file.empty() || !bitmap_font_load(file.c_str(), glyph_height, scale)) {
        fprintf(stderr, "kavel-render: cannot load %s at scale %d\n", file.c_str(), scale);
        return 1;
      }
      font_scale = scale;
    }
    opened = h.open_bitmap(glyph_height, font_scale, kind == BITMAP_KIND_CP437);
  } else {
    int cp437 = 0;
    PlatFont* sysfont = open_terminal_font(&cp437);
    if (!sysfont) {
      fprintf(stderr, "kavel-render: no font for \"%s\"\n", font);
      return 1;
    }
    terminal_metrics_from_font(sysfont, cp437, &cell_w, &cell_h, &baseline);
    opened = h.open_system_font(sysfont, cp437 != 0, 0, cell_w, cell_h, baseline);
  }
  if (!opened) {
    fprintf(stderr, "kavel-render: cannot open a headless window\n");
    return 1;
  }

  Terminal* t = h.term();
  t->ice_colours = ice ? 1 : 0;
  t->blink_hidden = !ice && blink_hidden ? 1 : 0;
  term_clear_screen(t);
  if (tall || cells_path) {
    g_scrolled.keep_pixels = tall;
    g_term_scroll_observer = keep_top_row;
  }
  uint8_t previous = 0;
  for (uint8_t b : data) {
    if (!raw && b == '\n' && previous != '\r') term_consume_byte(t, '\r');
    term_consume_byte(t, b);
    previous = b;
  }
  g_term_scroll_observer = nullptr;
  if (cells_path && save_cells(t, cells_path) != 0) {
    fprintf(stderr, "kavel-render: cannot write %s\n", cells_path);
    return 1;
  }
  int saved = tall ? save_tall_png(t, out_path) : plat_save_window_png(h.window(), out_path);
  if (saved != 0) {
    fprintf(stderr, "kavel-render: cannot write %s\n", out_path);
    return 1;
  }
  return 0;
}
