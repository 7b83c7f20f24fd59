#include "util/charset.h"

#include <algorithm>
#include <array>

namespace {

// ------------------------------------------------------------------ CP437 --

constexpr std::array<char32_t, 256> kCp437 = {
    // 0x00: NUL, then the control pictures
    0x0000, 0x263A, 0x263B, 0x2665, 0x2666, 0x2663, 0x2660, 0x2022,  //
    0x25D8, 0x25CB, 0x25D9, 0x2642, 0x2640, 0x266A, 0x266B, 0x263C,  //
    0x25BA, 0x25C4, 0x2195, 0x203C, 0x00B6, 0x00A7, 0x25AC, 0x21A8,  //
    0x2191, 0x2193, 0x2192, 0x2190, 0x221F, 0x2194, 0x25B2, 0x25BC,  //
    // 0x20..0x7E: ASCII, 0x7F: the house
    0x0020, 0x0021, 0x0022, 0x0023, 0x0024, 0x0025, 0x0026, 0x0027,  //
    0x0028, 0x0029, 0x002A, 0x002B, 0x002C, 0x002D, 0x002E, 0x002F,  //
    0x0030, 0x0031, 0x0032, 0x0033, 0x0034, 0x0035, 0x0036, 0x0037,  //
    0x0038, 0x0039, 0x003A, 0x003B, 0x003C, 0x003D, 0x003E, 0x003F,  //
    0x0040, 0x0041, 0x0042, 0x0043, 0x0044, 0x0045, 0x0046, 0x0047,  //
    0x0048, 0x0049, 0x004A, 0x004B, 0x004C, 0x004D, 0x004E, 0x004F,  //
    0x0050, 0x0051, 0x0052, 0x0053, 0x0054, 0x0055, 0x0056, 0x0057,  //
    0x0058, 0x0059, 0x005A, 0x005B, 0x005C, 0x005D, 0x005E, 0x005F,  //
    0x0060, 0x0061, 0x0062, 0x0063, 0x0064, 0x0065, 0x0066, 0x0067,  //
    0x0068, 0x0069, 0x006A, 0x006B, 0x006C, 0x006D, 0x006E, 0x006F,  //
    0x0070, 0x0071, 0x0072, 0x0073, 0x0074, 0x0075, 0x0076, 0x0077,  //
    0x0078, 0x0079, 0x007A, 0x007B, 0x007C, 0x007D, 0x007E, 0x2302,  //
    // 0x80: accented letters, currency
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,  //
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,  //
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,  //
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,  //
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,  //
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,  //
    // 0xB0: shades, box drawing, blocks
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,  //
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,  //
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,  //
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,  //
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,  //
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,  //
    // 0xE0: Greek and mathematics
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,  //
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,  //
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,  //
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,  //
};

struct Pair {
  char32_t cp;
  uint8_t byte;
};

// Characters drawn the same way as a CP437 code but with another code point
// of their own; a user who types or pastes them means that picture.
constexpr Pair kCp437LookAlikes[] = {
    {0x03B2, 0xE1},  // Greek small beta: the sharp s doubles as beta
    {0x03BC, 0xE6},  // Greek small mu: the micro sign
    {0x2126, 0xEA},  // ohm sign: omega
    {0x2211, 0xE4},  // n-ary summation: sigma
    {0x2205, 0xED},  // empty set: phi
    {0x03D5, 0xED},  // phi symbol
    {0x2208, 0xEE},  // element of: epsilon
};

// Everything but 0x20..0x7E (95 codes), and the look-alikes.
constexpr size_t kCp437ReverseSize = 256 - 95 + std::size(kCp437LookAlikes);

// Every code outside printable ASCII, sorted by character, for a binary
// search (ASCII is looked up directly).
constexpr std::array<Pair, kCp437ReverseSize> make_cp437_reverse() {
  std::array<Pair, kCp437ReverseSize> out{};
  size_t n = 0;
  for (int b = 0; b < 256; b++) {
    if (b >= 0x20 && b < 0x7F) continue;
    out[n++] = {kCp437[static_cast<size_t>(b)], static_cast<uint8_t>(b)};
  }
  for (const Pair& p : kCp437LookAlikes) out[n++] = p;
  std::sort(out.begin(), out.end(), [](const Pair& a, const Pair& b) { return a.cp < b.cp; });
  return out;
}

constexpr auto kCp437Reverse = make_cp437_reverse();

// ---------------------------------------------------------------- PETSCII --
// The pictures of our C64 glyph files (assets/fonts/c64_*.txt), code by code.
// Graphics come from Unicode's box drawing, block elements, geometric shapes
// and Symbols for Legacy Computing.  Codes 192..223 repeat 96..127, 224..254
// repeat 160..190 and 255 repeats 126, as in the glyph files.

// Codes 96..127 in the upper case/graphics set.
constexpr char32_t kUpper96[32] = {
    0x2500,   // 96  horizontal line, centre
    0x2660,   // 97  spade
    0x1FB72,  // 98  vertical line, centre (fourth eighth)
    0x1FB78,  // 99  horizontal line, centre (fourth eighth)
    0x1FB77,  // 100 horizontal line, third eighth
    0x1FB76,  // 101 horizontal line, second eighth
    0x1FB7A,  // 102 horizontal line, sixth eighth
    0x1FB71,  // 103 vertical line, third eighth
    0x1FB74,  // 104 vertical line, sixth eighth
    0x256E,   // 105 arc left to down
    0x2570,   // 106 arc up to right
    0x256F,   // 107 arc up to left
    0x1FB7C,  // 108 left and lower edges
    0x2572,   // 109 diagonal falling
    0x2571,   // 110 diagonal rising
    0x1FB7D,  // 111 left and upper edges
    0x1FB7E,  // 112 right and upper edges
    0x25CF,   // 113 filled circle
    0x1FB7B,  // 114 horizontal line, seventh eighth
    0x2665,   // 115 heart
    0x1FB70,  // 116 vertical line, second eighth
    0x256D,   // 117 arc right to down
    0x2573,   // 118 diagonal cross
    0x25CB,   // 119 circle
    0x2663,   // 120 club
    0x1FB75,  // 121 vertical line, seventh eighth
    0x2666,   // 122 diamond
    0x253C,   // 123 cross
    0x1FB8C,  // 124 left half checkerboard
    0x2502,   // 125 vertical line, centre
    0x03C0,   // 126 pi
    0x25E5,   // 127 upper right triangle
};

// Codes 160..191 in both sets (the lower case set changes 169 and 186).
constexpr char32_t kUpper160[32] = {
    0x00A0,   // 160 shifted space
    0x258C,   // 161 left half block
    0x2584,   // 162 lower half block
    0x2594,   // 163 top edge line
    0x2581,   // 164 bottom edge line
    0x258F,   // 165 left edge line
    0x2592,   // 166 checkerboard
    0x2595,   // 167 right edge line
    0x1FB8F,  // 168 lower half checkerboard
    0x25E4,   // 169 upper left triangle
    0x1FB87,  // 170 right quarter block
    0x251C,   // 171 tee right
    0x2597,   // 172 lower right quadrant
    0x2514,   // 173 corner up and right
    0x2510,   // 174 corner left and down
    0x2582,   // 175 lower quarter block
    0x250C,   // 176 corner right and down
    0x2534,   // 177 tee up
    0x252C,   // 178 tee down
    0x2524,   // 179 tee left
    0x258E,   // 180 left quarter block
    0x258D,   // 181 left three eighths block
    0x1FB88,  // 182 right three eighths block
    0x1FB82,  // 183 upper quarter block
    0x1FB83,  // 184 upper three eighths block
    0x2583,   // 185 lower three eighths block
    0x1FB7F,  // 186 right and lower edges
    0x2596,   // 187 lower left quadrant
    0x259D,   // 188 upper right quadrant
    0x2518,   // 189 corner up and left
    0x2598,   // 190 upper left quadrant
    0x259A,   // 191 upper left and lower right quadrants
};

constexpr std::array<char32_t, 256> make_petscii(bool lower) {
  std::array<char32_t, 256> t{};
  for (auto& c : t) c = CHARSET_NO_CHAR;  // control codes show nothing
  for (char32_t c = 0x20; c < 0x5B; c++) t[c] = c;
  t[0x5B] = '[';
  t[0x5C] = 0x00A3;  // pound sign
  t[0x5D] = ']';
  t[0x5E] = 0x2191;  // up arrow
  t[0x5F] = 0x2190;  // left arrow
  for (size_t i = 0; i < 32; i++) {
    t[0x60 + i] = kUpper96[i];
    t[0xA0 + i] = kUpper160[i];
  }
  if (lower) {
    for (char32_t c = 'a'; c <= 'z'; c++) {
      t[0x41 + (c - 'a')] = c;
      t[0x61 + (c - 'a')] = c - 'a' + 'A';
    }
    t[0x7E] = 0x2592;   // checkerboard
    t[0x7F] = 0x1FB98;  // diagonal stripes falling
    t[0xA9] = 0x1FB99;  // diagonal stripes rising
    t[0xBA] = 0x2713;   // check mark
  }
  for (size_t i = 0; i < 32; i++) t[0xC0 + i] = t[0x60 + i];
  for (size_t i = 0; i < 31; i++) t[0xE0 + i] = t[0xA0 + i];
  t[0xFF] = t[0x7E];
  return t;
}

constexpr auto kPetsciiUpper = make_petscii(false);
constexpr auto kPetsciiLower = make_petscii(true);

// The order in which codes are preferred when several show one picture: what
// the C64 keyboard types (the Commodore-key graphics 160..191 before the
// shifted keys 192..223, so the checkerboard is 166 in both sets).
constexpr std::array<uint8_t, 256> make_petscii_preference() {
  std::array<uint8_t, 256> order{};
  size_t n = 0;
  auto add = [&](int from, int to) {
    for (int c = from; c <= to; c++) order[n++] = static_cast<uint8_t>(c);
  };
  add(0x20, 0x5F);
  add(0xA0, 0xBF);
  add(0xC0, 0xDF);
  add(0x60, 0x7F);
  add(0xE0, 0xFF);
  add(0x00, 0x1F);
  add(0x80, 0x9F);
  return order;
}

constexpr size_t kPetsciiPictures = 256 - 64;

constexpr std::array<Pair, kPetsciiPictures> make_petscii_reverse(
    const std::array<char32_t, 256>& table) {
  std::array<Pair, kPetsciiPictures> out{};
  size_t n = 0;
  for (uint8_t code : make_petscii_preference()) {
    char32_t cp = table[code];
    if (cp == CHARSET_NO_CHAR) continue;
    bool seen = false;
    for (size_t i = 0; i < n; i++) seen = seen || out[i].cp == cp;
    // A repeated picture keeps the preferred code; its slot is filled with
    // a copy so the array stays sorted and searchable.
    out[n++] = seen ? Pair{cp, 0} : Pair{cp, code};
  }
  std::sort(out.begin(), out.end(), [](const Pair& a, const Pair& b) {
    return a.cp < b.cp || (a.cp == b.cp && a.byte != 0 && b.byte == 0);
  });
  return out;
}

constexpr auto kPetsciiUpperReverse = make_petscii_reverse(kPetsciiUpper);
constexpr auto kPetsciiLowerReverse = make_petscii_reverse(kPetsciiLower);

template <size_t N>
int find_byte(const std::array<Pair, N>& table, char32_t cp) {
  auto it = std::lower_bound(table.begin(), table.end(), cp,
                             [](const Pair& p, char32_t c) { return p.cp < c; });
  if (it == table.end() || it->cp != cp) return CHARSET_NO_BYTE;
  return it->byte;
}

bool is_text_control(char32_t cp) {
  return cp == '\t' || cp == '\n' || cp == '\r';
}

}  // namespace

char32_t cp437_to_unicode(uint8_t byte) {
  return kCp437[byte];
}

int unicode_to_cp437(char32_t cp) {
  if (cp < 0x80) return static_cast<int>(cp);
  return find_byte(kCp437Reverse, cp);
}

char32_t petscii_to_unicode(uint8_t byte, bool lower) {
  return lower ? kPetsciiLower[byte] : kPetsciiUpper[byte];
}

int unicode_to_petscii(char32_t cp, bool lower) {
  if (cp == CHARSET_NO_CHAR) return CHARSET_NO_BYTE;
  if (!lower && cp >= 'a' && cp <= 'z') cp = cp - 'a' + 'A';
  return find_byte(lower ? kPetsciiLowerReverse : kPetsciiUpperReverse, cp);
}

char32_t charset_to_unicode(CharsetId set, uint8_t byte) {
  switch (set) {
    case CHARSET_C64_UPPER:
      return petscii_to_unicode(byte, false);
    case CHARSET_C64_LOWER:
      return petscii_to_unicode(byte, true);
    default:
      return cp437_to_unicode(byte);
  }
}

int unicode_to_charset(CharsetId set, char32_t cp) {
  switch (set) {
    case CHARSET_C64_UPPER:
      return unicode_to_petscii(cp, false);
    case CHARSET_C64_LOWER:
      return unicode_to_petscii(cp, true);
    default:
      return unicode_to_cp437(cp);
  }
}

size_t utf8_encode(char32_t cp, char out[4]) {
  if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = UNICODE_REPLACEMENT;
  if (cp < 0x80) {
    out[0] = static_cast<char>(cp);
    return 1;
  }
  if (cp < 0x800) {
    out[0] = static_cast<char>(0xC0 | (cp >> 6));
    out[1] = static_cast<char>(0x80 | (cp & 0x3F));
    return 2;
  }
  if (cp < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (cp >> 12));
    out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (cp & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (cp >> 18));
  out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (cp & 0x3F));
  return 4;
}

void utf8_append(std::string* out, char32_t cp) {
  char buf[4];
  out->append(buf, utf8_encode(cp, buf));
}

char32_t utf8_decode(const char* text, size_t len, size_t* used) {
  *used = 1;
  if (!text || len == 0) {
    *used = 0;
    return UNICODE_REPLACEMENT;
  }
  const auto* s = reinterpret_cast<const unsigned char*>(text);
  const unsigned char lead = s[0];
  if (lead < 0x80) return lead;
  size_t need;
  char32_t cp;
  char32_t min;
  if (lead >= 0xC2 && lead <= 0xDF) {
    need = 1, cp = lead & 0x1F, min = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    need = 2, cp = lead & 0x0F, min = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    need = 3, cp = lead & 0x07, min = 0x10000;
  } else {
    return UNICODE_REPLACEMENT;  // continuation byte, C0/C1, F5..FF
  }
  if (len < need + 1) return UNICODE_REPLACEMENT;
  for (size_t i = 1; i <= need; i++) {
    if ((s[i] & 0xC0) != 0x80) return UNICODE_REPLACEMENT;
    cp = (cp << 6) | (s[i] & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return UNICODE_REPLACEMENT;
  *used = need + 1;
  return cp;
}

std::string charset_text_to_utf8(CharsetId set, const uint8_t* bytes, size_t len) {
  std::string out;
  if (!bytes) return out;
  out.reserve(len + len / 2);
  for (size_t i = 0; i < len; i++) {
    const uint8_t b = bytes[i];
    if (is_text_control(b)) {
      out += static_cast<char>(b);
      continue;
    }
    if (set == CHARSET_CP437 && b >= 0x20 && b < 0x7F) {
      out += static_cast<char>(b);  // the common case, without a table
      continue;
    }
    const char32_t cp = charset_to_unicode(set, b);
    if (cp == 0) {
      out += ' ';
    } else if (cp != CHARSET_NO_CHAR) {
      utf8_append(&out, cp);
    }
  }
  return out;
}

std::string utf8_to_charset_text(CharsetId set, std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) {
    size_t used = 1;
    const char32_t cp = utf8_decode(utf8.data() + i, utf8.size() - i, &used);
    i += used;
    if (is_text_control(cp)) {
      out += static_cast<char>(cp);
      continue;
    }
    if (cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp < 0xA0)) continue;  // controls
    const int b = unicode_to_charset(set, cp);
    if (b < 0 || b == '\t' || b == '\n' || b == '\r') {
      out += '?';
    } else {
      out += static_cast<char>(b);
    }
  }
  return out;
}
