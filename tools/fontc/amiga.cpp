// AmigaOS disk fonts: a hunk-format load file with one code hunk that holds
// the DiskFontHeader, the TextFont record, the glyph strike and the
// character location table, plus a 32-bit relocation table for the pointers.
//
// Pointers in the hunk are offsets from the hunk start; the loader on an
// Amiga adds the hunk's address, and our own reader adds the hunk's file
// offset (32).
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "glyphs.h"

namespace {

constexpr uint32_t kHunkHeader = 0x3F3;
constexpr uint32_t kHunkCode = 0x3E9;
constexpr uint32_t kHunkReloc32 = 0x3EC;
constexpr uint32_t kHunkEnd = 0x3F2;
constexpr uint16_t kDiskFontId = 0x0F80;
constexpr uint8_t kNodeTypeFont = 12;
constexpr uint8_t kFlagDesigned = 0x40;

// Offsets inside the code hunk.
constexpr size_t kNodeName = 4 + 10;        // dfh_DF.ln_Name
constexpr size_t kFileId = 18;              // dfh_FileID
constexpr size_t kRevision = 20;            // dfh_Revision
constexpr size_t kFontName = 26;            // dfh_Name[32]
constexpr size_t kTextFont = 58;            // dfh_TF
constexpr size_t kTextFontSize = 52;        // sizeof(struct TextFont)
constexpr size_t kTfName = kTextFont + 10;  // tf_Message.mn_Node.ln_Name

struct Hunk {
  std::vector<uint8_t> b;
  void put8(size_t at, uint32_t v) { b[at] = static_cast<uint8_t>(v); }
  void put16(size_t at, uint32_t v) {
    put8(at, v >> 8);
    put8(at + 1, v);
  }
  void put32(size_t at, uint32_t v) {
    put16(at, v >> 16);
    put16(at + 2, v);
  }
};

void append32(std::vector<uint8_t>* out, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) out->push_back(static_cast<uint8_t>(v >> s));
}

size_t align4(size_t n) {
  return (n + 3) & ~static_cast<size_t>(3);
}

}  // namespace

std::vector<uint8_t> amiga_diskfont_bytes(const GlyphSet& set, int lo, int hi,
                                          const std::string& name, int baseline) {
  if (lo < 0 || hi > 255 || lo > hi) fontc_fail("disk font: bad character range");
  if (name.size() > 31) fontc_fail("disk font: name longer than 31 characters");
  const int h = set.height;
  // One 8-pixel slot per character and one more for the glyph the system
  // draws for characters outside lo..hi.
  const int slots = hi - lo + 2;
  const size_t modulo = static_cast<size_t>(slots + 1) & ~static_cast<size_t>(1);  // word rows
  const size_t data_at = align4(kTextFont + kTextFontSize);
  const size_t loc_at = align4(data_at + modulo * static_cast<size_t>(h));
  const size_t hunk_size = align4(loc_at + static_cast<size_t>(slots) * 4);

  Hunk k{std::vector<uint8_t>(hunk_size, 0)};
  k.put16(0, 0x70FF);  // moveq #-1,d0: the file is data, not a program
  k.put16(2, 0x4E75);  // rts
  k.put8(4 + 8, kNodeTypeFont);
  k.put32(kNodeName, kFontName);
  k.put16(kFileId, kDiskFontId);
  k.put16(kRevision, 1);
  for (size_t i = 0; i < name.size(); i++) k.put8(kFontName + i, static_cast<uint8_t>(name[i]));

  k.put8(kTextFont + 8, kNodeTypeFont);
  k.put32(kTfName, kFontName);
  k.put16(kTextFont + 18, kTextFontSize);             // mn_Length
  k.put16(kTextFont + 20, static_cast<uint32_t>(h));  // tf_YSize
  k.put8(kTextFont + 22, 0);                          // tf_Style: normal
  k.put8(kTextFont + 23, kFlagDesigned);              // tf_Flags
  k.put16(kTextFont + 24, 8);                         // tf_XSize
  k.put16(kTextFont + 26, static_cast<uint32_t>(baseline));
  k.put16(kTextFont + 28, 1);  // tf_BoldSmear
  k.put16(kTextFont + 30, 0);  // tf_Accessors
  k.put8(kTextFont + 32, static_cast<uint32_t>(lo));
  k.put8(kTextFont + 33, static_cast<uint32_t>(hi));
  k.put32(kTextFont + 34, static_cast<uint32_t>(data_at));  // tf_CharData
  k.put16(kTextFont + 38, static_cast<uint32_t>(modulo));   // tf_Modulo
  k.put32(kTextFont + 40, static_cast<uint32_t>(loc_at));   // tf_CharLoc
  // tf_CharSpace and tf_CharKern stay null: the font is monospaced.

  for (int i = 0; i < slots; i++) {
    const int c = lo + i;
    const bool fallback = i == slots - 1;
    const bool present = fallback || set.defined[c];
    // Characters we have no picture for get an empty location entry, as on
    // the Amiga; the fall-back slot is a hollow box.
    k.put16(loc_at + static_cast<size_t>(i) * 4, present ? static_cast<uint32_t>(i * 8) : 0);
    k.put16(loc_at + static_cast<size_t>(i) * 4 + 2, present ? 8 : 0);
    for (int r = 0; r < h; r++) {
      uint8_t row = 0;
      if (fallback) {
        row = (r == 1 || r == h - 3) ? 0x7E : (r > 1 && r < h - 3) ? 0x42 : 0x00;
      } else if (present) {
        row = set.rows[c][r];
      }
      k.put8(data_at + static_cast<size_t>(r) * modulo + static_cast<size_t>(i), row);
    }
  }

  const uint32_t longs = static_cast<uint32_t>(hunk_size / 4);
  std::vector<uint8_t> out;
  append32(&out, kHunkHeader);
  append32(&out, 0);  // no resident library names
  append32(&out, 1);  // one hunk
  append32(&out, 0);  // first hunk
  append32(&out, 0);  // last hunk
  append32(&out, longs);
  append32(&out, kHunkCode);
  append32(&out, longs);
  out.insert(out.end(), k.b.begin(), k.b.end());
  const uint32_t relocs[] = {kNodeName, kTfName, kTextFont + 34, kTextFont + 40};
  append32(&out, kHunkReloc32);
  append32(&out, 4);
  append32(&out, 0);  // all point into hunk 0
  for (uint32_t r : relocs) append32(&out, r);
  append32(&out, 0);
  append32(&out, kHunkEnd);
  return out;
}

int write_amiga_diskfont(const GlyphSet& set, const std::string& path, int lo, int hi,
                         const std::string& name, int baseline) {
  std::vector<uint8_t> bytes = amiga_diskfont_bytes(set, lo, hi, name, baseline);
  if (bytes.size() >= 32768) fontc_fail(path + ": disk font would exceed 32767 bytes");
  return write_file_atomic(path, bytes);
}
