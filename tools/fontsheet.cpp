// layers: platform util
// fontsheet: draws every glyph of a font file as a labelled 16 x 16 grid in
// a PNG, so that glyph designs can be checked by eye.
//
//   fontsheet [--zoom N] FONTFILE OUT.png
//   fontsheet [--zoom N] --all FONTDIR OUTDIR
//
// Raw files (.f8/.f14/.f16: 256 glyphs of 8, 14 or 16 one-byte rows) are
// recognised by their size, AmigaOS disk fonts by their hunk header.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/png.h"

namespace {

struct Font {
  int height = 0;
  uint8_t glyphs[256][16] = {};
};

uint32_t be16(const std::vector<uint8_t>& b, size_t at) {
  return b[at] << 8 | b[at + 1];
}
uint32_t be32(const std::vector<uint8_t>& b, size_t at) {
  return be16(b, at) << 16 | be16(b, at + 2);
}

// The disk font fields at their file offsets; pointers are relative to the
// code hunk, which starts at offset 32.
bool read_diskfont(const std::vector<uint8_t>& b, Font* f) {
  if (b.size() < 134 || be32(b, 0) != 0x3F3) return false;
  int ysize = static_cast<int>(be16(b, 110));
  int lo = b[122], hi = b[123];
  size_t data = static_cast<size_t>(be32(b, 124)) + 32;
  size_t modulo = be16(b, 128);
  size_t loc = static_cast<size_t>(be32(b, 130)) + 32;
  if (ysize < 1 || ysize > 16 || lo > hi) return false;
  f->height = ysize;
  for (int c = lo; c <= hi; c++) {
    size_t e = loc + static_cast<size_t>(c - lo) * 4;
    if (e + 4 > b.size()) return false;
    uint32_t off = be16(b, e), width = be16(b, e + 2);
    if (width > 8) width = 8;
    for (int r = 0; r < ysize; r++) {
      for (uint32_t k = 0; k < width; k++) {
        size_t byte = data + static_cast<size_t>(r) * modulo + (off + k) / 8;
        if (byte < b.size() && (b[byte] >> (7 - (off + k) % 8) & 1)) {
          f->glyphs[c][r] |= static_cast<uint8_t>(0x80 >> k);
        }
      }
    }
  }
  return true;
}

bool read_font(const std::string& path, Font* f) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::vector<uint8_t> b((std::istreambuf_iterator<char>(in)), {});
  if (b.size() == 2048 || b.size() == 3584 || b.size() == 4096) {
    f->height = static_cast<int>(b.size() / 256);
    for (int c = 0; c < 256; c++) {
      for (int r = 0; r < f->height; r++)
        f->glyphs[c][r] = b[static_cast<size_t>(c * f->height + r)];
    }
    return true;
  }
  return read_diskfont(b, f);
}

// 3 x 5 hex digits, one row per nibble (bit 2 leftmost).
constexpr uint8_t kDigits[16][5] = {
    {7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 3, 1, 7},
    {5, 5, 7, 1, 1}, {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 2, 2},
    {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7}, {2, 5, 7, 5, 5}, {6, 5, 6, 5, 6},
    {3, 4, 4, 4, 3}, {6, 5, 5, 5, 6}, {7, 4, 6, 4, 7}, {7, 4, 6, 4, 4},
};

struct Image {
  int w, h;
  std::vector<uint8_t> rgb;
  void fill(int x0, int y0, int x1, int y1, uint32_t colour) {
    for (int y = y0; y < y1; y++) {
      for (int x = x0; x < x1; x++) {
        if (x < 0 || y < 0 || x >= w || y >= h) continue;
        uint8_t* p = &rgb[(static_cast<size_t>(y) * w + x) * 3];
        p[0] = colour >> 16;
        p[1] = colour >> 8;
        p[2] = colour;
      }
    }
  }
  void digit(int x, int y, int d, int px, uint32_t colour) {
    for (int r = 0; r < 5; r++) {
      for (int c = 0; c < 3; c++) {
        if (kDigits[d][r] >> (2 - c) & 1)
          fill(x + c * px, y + r * px, x + (c + 1) * px, y + (r + 1) * px, colour);
      }
    }
  }
};

int g_zoom = 3;              // screen pixels per font pixel
constexpr int kGap = 2;      // grid line between cells
constexpr int kLabel = 2;    // pixels per label-font pixel
constexpr int kMargin = 24;  // room for the labels
constexpr uint32_t kBackground = 0x202020, kGrid = 0x505070, kCell = 0x000040, kInk = 0xFFFFFF,
                   kText = 0xC0C0C0;

int draw_sheet(const Font& f, const std::string& out) {
  const int cw = 8 * g_zoom + kGap, ch = f.height * g_zoom + kGap;
  Image img{kMargin + 16 * cw + kGap, kMargin + 16 * ch + kGap, {}};
  img.rgb.assign(static_cast<size_t>(img.w) * img.h * 3, 0);
  img.fill(0, 0, img.w, img.h, kBackground);
  img.fill(kMargin, kMargin, img.w, img.h, kGrid);
  for (int i = 0; i < 16; i++) {
    // Column labels are the low nibble, row labels the high nibble.
    img.digit(kMargin + kGap + i * cw + (8 * g_zoom - 3 * kLabel) / 2, 6, i, kLabel, kText);
    img.digit(4, kMargin + kGap + i * ch + (f.height * g_zoom - 5 * kLabel) / 2, i, kLabel, kText);
    img.digit(12, kMargin + kGap + i * ch + (f.height * g_zoom - 5 * kLabel) / 2, 0, kLabel, kText);
  }
  for (int c = 0; c < 256; c++) {
    int x0 = kMargin + kGap + (c % 16) * cw, y0 = kMargin + kGap + (c / 16) * ch;
    img.fill(x0, y0, x0 + 8 * g_zoom, y0 + f.height * g_zoom, kCell);
    for (int r = 0; r < f.height; r++) {
      for (int x = 0; x < 8; x++) {
        if (f.glyphs[c][r] & (0x80 >> x)) {
          img.fill(x0 + x * g_zoom, y0 + r * g_zoom, x0 + (x + 1) * g_zoom, y0 + (r + 1) * g_zoom,
                   kInk);
        }
      }
    }
  }
  return png_write_rgb(out.c_str(), img.w, img.h, img.rgb.data());
}

int one(const std::string& in, const std::string& out) {
  Font f;
  if (!read_font(in, &f)) {
    fprintf(stderr, "fontsheet: %s is not a font file I know\n", in.c_str());
    return 1;
  }
  if (draw_sheet(f, out) != 0) {
    fprintf(stderr, "fontsheet: cannot write %s\n", out.c_str());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::string(argv[1]) == "--zoom") {
    g_zoom = atoi(argv[2]);
    if (g_zoom < 1 || g_zoom > 16) {
      fprintf(stderr, "fontsheet: zoom must be 1..16\n");
      return 2;
    }
    argc -= 2;
    argv += 2;
  }
  if (argc == 4 && std::string(argv[1]) == "--all") {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::create_directories(argv[3], ec);
    int failures = 0, done = 0;
    for (const auto& e : fs::recursive_directory_iterator(argv[2], ec)) {
      if (!e.is_regular_file()) continue;
      std::string rel = fs::relative(e.path(), argv[2]).string();
      for (char& c : rel) {
        if (c == '/') c = '_';
      }
      Font f;
      if (!read_font(e.path().string(), &f)) continue;  // not a font: leave it
      std::string out = std::string(argv[3]) + "/" + rel + ".png";
      if (draw_sheet(f, out) != 0) {
        fprintf(stderr, "fontsheet: cannot write %s\n", out.c_str());
        failures++;
      } else {
        printf("%s\n", out.c_str());
        done++;
      }
    }
    if (done == 0) fprintf(stderr, "fontsheet: no font files in %s\n", argv[2]);
    return failures || done == 0 ? 1 : 0;
  }
  if (argc == 3) return one(argv[1], argv[2]);
  fprintf(stderr,
          "usage: fontsheet [--zoom N] FONTFILE OUT.png\n       fontsheet [--zoom N] --all FONTDIR "
          "OUTDIR\n");
  return 2;
}
