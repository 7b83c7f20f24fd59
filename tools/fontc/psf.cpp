// PC console fonts (.psf, .psf.gz) as a source of the ordinary CP437 glyphs.
//
// Both PSF versions carry a Unicode table that says which code points each
// glyph shows; we look every CP437 byte up by its code point, so the glyph
// order inside the console font does not matter.
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "glyphs.h"

namespace {

std::vector<uint8_t> read_gz(const std::string& path) {
  std::vector<uint8_t> bytes;
  gzFile f = gzopen(path.c_str(), "rb");  // reads plain files unchanged too
  if (!f) fontc_fail(path + ": cannot open console font");
  uint8_t buf[8192];
  for (;;) {
    int n = gzread(f, buf, sizeof buf);
    if (n < 0) {
      gzclose(f);
      fontc_fail(path + ": read error");
    }
    if (n == 0) break;
    bytes.insert(bytes.end(), buf, buf + n);
  }
  gzclose(f);
  return bytes;
}

uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8 |
         static_cast<uint32_t>(b[at + 2]) << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

struct Psf {
  uint32_t count = 0;
  uint32_t height = 0;
  uint32_t width = 0;
  size_t glyph_offset = 0;
  uint32_t glyph_bytes = 0;
  std::map<uint32_t, uint32_t> by_code_point;  // first glyph listed for a code point wins
};

// One UTF-8 sequence of the PSF2 table; 0 when malformed.
uint32_t utf8_next(const std::vector<uint8_t>& b, size_t* pos) {
  uint8_t c = b[*pos];
  int extra = c < 0x80             ? 0
              : (c & 0xE0) == 0xC0 ? 1
              : (c & 0xF0) == 0xE0 ? 2
              : (c & 0xF8) == 0xF0 ? 3
                                   : -1;
  if (extra < 0 || *pos + extra >= b.size()) {
    (*pos)++;
    return 0;
  }
  uint32_t cp = extra == 0 ? c : c & (0x3F >> extra);
  for (int i = 1; i <= extra; i++) cp = cp << 6 | (b[*pos + i] & 0x3F);
  *pos += static_cast<size_t>(extra) + 1;
  return cp;
}

Psf parse(const std::vector<uint8_t>& b, const std::string& path) {
  Psf psf;
  bool has_table = false;
  size_t table = 0;
  if (b.size() >= 4 && b[0] == 0x36 && b[1] == 0x04) {
    uint8_t mode = b[2];
    psf.count = (mode & 0x01) ? 512 : 256;
    psf.height = b[3];
    psf.width = 8;
    psf.glyph_bytes = psf.height;
    psf.glyph_offset = 4;
    has_table = (mode & 0x06) != 0;
    table = psf.glyph_offset + static_cast<size_t>(psf.count) * psf.glyph_bytes;
    if (table > b.size()) fontc_fail(path + ": truncated PSF1 font");
    if (has_table) {
      size_t pos = table;
      for (uint32_t g = 0; g < psf.count; g++) {
        bool in_sequence = false;
        for (;;) {
          if (pos + 2 > b.size()) fontc_fail(path + ": truncated PSF1 Unicode table");
          uint32_t u = b[pos] | b[pos + 1] << 8;
          pos += 2;
          if (u == 0xFFFF) break;
          if (u == 0xFFFE) in_sequence = true;  // combining sequences never name one of ours
          if (!in_sequence) psf.by_code_point.emplace(u, g);
        }
      }
    }
  } else if (b.size() >= 32 && le32(b, 0) == 0x864AB572u) {
    uint32_t header = le32(b, 8);
    uint32_t flags = le32(b, 12);
    psf.count = le32(b, 16);
    psf.glyph_bytes = le32(b, 20);
    psf.height = le32(b, 24);
    psf.width = le32(b, 28);
    psf.glyph_offset = header;
    has_table = (flags & 1) != 0;
    table = header + static_cast<size_t>(psf.count) * psf.glyph_bytes;
    if (psf.count > 65536 || table > b.size()) fontc_fail(path + ": truncated PSF2 font");
    if (has_table) {
      size_t pos = table;
      for (uint32_t g = 0; g < psf.count && pos < b.size(); g++) {
        bool in_sequence = false;
        while (pos < b.size() && b[pos] != 0xFF) {
          if (b[pos] == 0xFE) {
            in_sequence = true;
            pos++;
            continue;
          }
          uint32_t cp = utf8_next(b, &pos);
          if (!in_sequence && cp) psf.by_code_point.emplace(cp, g);
        }
        pos++;  // the 0xFF that ends this glyph's entry
      }
    }
  } else {
    fontc_fail(path + ": not a PSF console font");
  }
  if (!has_table) fontc_fail(path + ": console font has no Unicode table");
  if (psf.width != 8) fontc_fail(path + ": console font is not 8 pixels wide");
  if (psf.glyph_bytes < psf.height)
    fontc_fail(path + ": console font glyphs are shorter than its height");
  return psf;
}

}  // namespace

void psf_fill_cp437(GlyphSet* set, const std::string& path) {
  std::vector<uint8_t> bytes = read_gz(path);
  Psf psf = parse(bytes, path);
  if (static_cast<int>(psf.height) != set->height) {
    fontc_fail(path + ": console font is " + std::to_string(psf.height) + " rows high, not " +
               std::to_string(set->height));
  }
  for (int c = 0; c < 256; c++) {
    if (set->defined[c]) continue;
    uint32_t cp = cp437_to_unicode(c);
    if (cp == 0) continue;
    auto it = psf.by_code_point.find(cp);
    if (it == psf.by_code_point.end()) continue;
    size_t at = psf.glyph_offset + static_cast<size_t>(it->second) * psf.glyph_bytes;
    for (int r = 0; r < set->height; r++) set->rows[c][r] = bytes[at + r];
    set->defined[c] = true;
  }
}
