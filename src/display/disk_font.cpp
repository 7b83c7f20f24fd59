// The AmigaOS disk-font decoder: the glyphs of a Topaz+1200 file (a hunk
// load file holding a DiskFontHeader and a TextFont), reading nothing
// outside the bytes it is given.
#include <algorithm>
#include <cstring>

#include "display/font_drawer.h"
#include "display/fonts.h"

static uint32_t read_be16(const uint8_t* p) {
  return static_cast<uint32_t>(p[0] << 8 | p[1]);
}

static uint32_t read_be32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | p[3];
}

int bitmap_font_parse_disk_font(const uint8_t* data, size_t size, int height, uint8_t out[4096]) {
  if (!data || !out || height < 1 || height > 16) return -1;
  if (size < kDiskFontMinSize || size > kDiskFontMaxParse) return -1;
  // TextFont fields; the hunk's contents start at file offset 32 and every
  // pointer in it is relative to that.
  if (read_be16(data + 110) != static_cast<uint32_t>(height)) return -1;  // tf_YSize
  if (read_be16(data + 114) > 8) return -1;                               // tf_XSize
  int lo = data[122];
  int hi = data[123];
  if (lo > hi) return -1;
  int64_t size64 = static_cast<int64_t>(size);
  int64_t char_data = static_cast<int64_t>(static_cast<int32_t>(read_be32(data + 124))) + 32;
  int64_t modulo = read_be16(data + 128);
  int64_t char_loc = static_cast<int64_t>(static_cast<int32_t>(read_be32(data + 130))) + 32;
  if (char_data < 0 || char_loc < 0) return -1;
  if (char_data + modulo * height > size64) return -1;
  if (char_loc + int64_t{hi - lo + 1} * 4 > size64) return -1;

  memset(out, 0, 4096);
  for (int c = lo; c <= hi; ++c) {
    const uint8_t* loc = data + char_loc + int64_t{c - lo} * 4;
    int64_t bit_offset = read_be16(loc);
    int width = std::min<int>(static_cast<int>(read_be16(loc + 2)), 8);
    for (int r = 0; r < height; ++r) {
      uint8_t row = 0;
      for (int k = 0; k < width; ++k) {
        int64_t bit = bit_offset + k;
        int64_t at = char_data + r * modulo + bit / 8;
        // A glyph may reach past the end of the last row; such bits are blank.
        if (at < size64 && (data[at] >> (7 - bit % 8)) & 1) row |= static_cast<uint8_t>(0x80 >> k);
      }
      out[c * height + r] = row;
    }
  }
  return 0;
}
