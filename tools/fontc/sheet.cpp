// Glyph sheets: the readable text form of our own glyph designs.
//
//   ; a comment (only between glyphs)
//   0x41 A            a glyph: code in hex, any label, then one line per row
//   ..##....          '#' is a set pixel, '.' a clear one, exactly 8 per row
//   ...
//   copy 0x61-0x7A from 0x41   copy glyphs 0x41.. (as they are at this point) to 0x61..0x7A
//
// Rows are read by count, so a row may start with '#' without being taken
// for anything else.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "glyphs.h"

namespace {

std::string where(const std::string& path, int line) {
  return path + ":" + std::to_string(line);
}

bool is_blank(const std::string& s) {
  for (char c : s) {
    if (!isspace(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

std::string strip_cr(std::string s) {
  while (!s.empty() && (s.back() == '\r' || s.back() == '\n')) s.pop_back();
  return s;
}

// Parses "0xHH" at *pos; -1 when there is none or it is out of 0..255.
int parse_code(const std::string& s, size_t* pos) {
  size_t p = *pos;
  if (p + 2 > s.size() || s[p] != '0' || (s[p + 1] != 'x' && s[p + 1] != 'X')) return -1;
  p += 2;
  int value = 0;
  int digits = 0;
  while (p < s.size() && isxdigit(static_cast<unsigned char>(s[p]))) {
    char c = static_cast<char>(tolower(static_cast<unsigned char>(s[p])));
    value = value * 16 + (c <= '9' ? c - '0' : c - 'a' + 10);
    if (value > 255) return -1;
    digits++;
    p++;
  }
  if (digits == 0) return -1;
  *pos = p;
  return value;
}

void skip_spaces(const std::string& s, size_t* pos) {
  while (*pos < s.size() && (s[*pos] == ' ' || s[*pos] == '\t')) (*pos)++;
}

uint8_t parse_row(const std::string& line, const std::string& at) {
  std::string row = line;
  while (!row.empty() && isspace(static_cast<unsigned char>(row.back()))) row.pop_back();
  if (row.size() != 8) fontc_fail(at + ": a glyph row needs exactly 8 of '#' and '.'");
  uint8_t bits = 0;
  for (int x = 0; x < 8; x++) {
    if (row[x] == '#') {
      bits |= static_cast<uint8_t>(0x80 >> x);
    } else if (row[x] != '.') {
      fontc_fail(at + ": unexpected character '" + std::string(1, row[x]) + "' in a glyph row");
    }
  }
  return bits;
}

// "copy 0xA0-0xBF from 0x40": copies a run of glyphs as they stand now.
bool try_copy_line(GlyphSet* set, const std::string& line, const std::string& at) {
  if (line.compare(0, 5, "copy ") != 0) return false;
  size_t pos = 5;
  skip_spaces(line, &pos);
  int first = parse_code(line, &pos);
  int last = first;
  if (first >= 0 && pos < line.size() && line[pos] == '-') {
    pos++;
    last = parse_code(line, &pos);
  }
  skip_spaces(line, &pos);
  int source = -1;
  if (line.compare(pos, 5, "from ") == 0) {
    pos += 5;
    skip_spaces(line, &pos);
    source = parse_code(line, &pos);
    skip_spaces(line, &pos);
  }
  if (first < 0 || last < first || source < 0 || pos != line.size()) {
    fontc_fail(at + ": expected copy 0xFIRST[-0xLAST] from 0xSOURCE");
  }
  if (source + (last - first) > 255) fontc_fail(at + ": copy source runs past 0xFF");
  for (int i = 0; i <= last - first; i++) {
    if (!set->defined[source + i]) {
      fontc_fail(at + ": copy from undefined glyph " + std::to_string(source + i));
    }
  }
  // Copy through a temporary so overlapping runs behave like a plain copy
  // of the old pictures.
  auto old = set->rows;
  for (int i = 0; i <= last - first; i++) {
    set->rows[first + i] = old[source + i];
    set->defined[first + i] = true;
  }
  return true;
}

}  // namespace

bool fontc_stretch_rows(const uint8_t* in, int from, uint8_t* out, int to) {
  if (from == to) {
    for (int r = 0; r < to; r++) out[r] = in[r];
    return true;
  }
  if (from == 8 && to == 16) {
    for (int r = 0; r < 16; r++) out[r] = in[r / 2];
    return true;
  }
  if (from == 8 && to == 14) {
    // The top and bottom rows are mostly accents and descender tips; giving
    // them one row each keeps every stroke of the letter body doubled.
    out[0] = in[0];
    for (int r = 1; r <= 6; r++) {
      out[2 * r - 1] = in[r];
      out[2 * r] = in[r];
    }
    out[13] = in[7];
    return true;
  }
  return false;
}

void sheet_load(GlyphSet* set, const std::string& path, int sheet_height) {
  std::ifstream in(path);
  if (!in) fontc_fail(path + ": cannot open sheet");
  if (sheet_height < 1 || sheet_height > kMaxRows) fontc_fail(path + ": bad sheet height");
  uint8_t probe[kMaxRows] = {};
  uint8_t scratch[kMaxRows] = {};
  if (!fontc_stretch_rows(probe, sheet_height, scratch, set->height)) {
    fontc_fail(path + ": cannot stretch " + std::to_string(sheet_height) + " rows to " +
               std::to_string(set->height));
  }
  std::string line;
  int line_no = 0;
  std::array<bool, 256> seen{};
  while (std::getline(in, line)) {
    line_no++;
    line = strip_cr(line);
    if (is_blank(line) || line[0] == ';') continue;
    std::string at = where(path, line_no);
    if (try_copy_line(set, line, at)) continue;
    size_t pos = 0;
    int code = parse_code(line, &pos);
    if (code < 0 || (pos < line.size() && line[pos] != ' ' && line[pos] != '\t')) {
      fontc_fail(at + ": expected a glyph header such as \"0x41 A\"");
    }
    if (seen[code]) fontc_fail(at + ": glyph drawn twice in this sheet");
    seen[code] = true;
    uint8_t drawn[kMaxRows] = {};
    for (int r = 0; r < sheet_height; r++) {
      if (!std::getline(in, line)) fontc_fail(at + ": sheet ends inside a glyph");
      line_no++;
      drawn[r] = parse_row(strip_cr(line), where(path, line_no));
    }
    uint8_t stretched[kMaxRows] = {};
    fontc_stretch_rows(drawn, sheet_height, stretched, set->height);
    for (int r = 0; r < kMaxRows; r++) set->rows[code][r] = r < set->height ? stretched[r] : 0;
    set->defined[code] = true;
  }
}
