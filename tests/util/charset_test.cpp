#include "util/charset.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::u32string decode_all(const std::string& s) {
  std::u32string out;
  size_t i = 0;
  while (i < s.size()) {
    size_t used = 0;
    out += utf8_decode(s.data() + i, s.size() - i, &used);
    EXPECT_GE(used, 1u);
    EXPECT_LE(used, s.size() - i);
    i += used;
  }
  return out;
}

std::string encode_all(const std::u32string& s) {
  std::string out;
  for (char32_t c : s) utf8_append(&out, c);
  return out;
}

constexpr CharsetId kSets[] = {CHARSET_CP437, CHARSET_C64_UPPER, CHARSET_C64_LOWER};

}  // namespace

TEST(Cp437, EveryCodeHasItsOwnCharacterAndComesBack) {
  std::set<char32_t> seen;
  for (int b = 0; b < 256; b++) {
    const char32_t cp = cp437_to_unicode(static_cast<uint8_t>(b));
    EXPECT_TRUE(seen.insert(cp).second)
        << "code " << b << " repeats U+" << std::hex << static_cast<uint32_t>(cp);
    EXPECT_EQ(unicode_to_cp437(cp), b) << b;
  }
}

TEST(Cp437, ControlPicturesAndHighHalf) {
  // The pictures the program draws for 1..31, then a sample of the rest.
  EXPECT_EQ(decode_all("☺☻♥♦♣♠•◘○◙♂♀♪♫☼►◄↕‼¶§▬↨↑↓→←∟↔▲▼"), [] {
    std::u32string s;
    for (int b = 1; b < 32; b++) s += cp437_to_unicode(static_cast<uint8_t>(b));
    return s;
  }());
  const struct {
    uint8_t byte;
    char32_t cp;
  } cases[] = {
      {0x00, 0x0000}, {0x20, ' '},    {0x7E, '~'},    {0x7F, 0x2302}, {0x80, 0x00C7},
      {0x81, 0x00FC}, {0x9E, 0x20A7}, {0xA9, 0x2310}, {0xB0, 0x2591}, {0xB3, 0x2502},
      {0xC9, 0x2554}, {0xCD, 0x2550}, {0xDB, 0x2588}, {0xDF, 0x2580}, {0xE1, 0x00DF},
      {0xE6, 0x00B5}, {0xEE, 0x03B5}, {0xF9, 0x2219}, {0xFA, 0x00B7}, {0xFE, 0x25A0},
      {0xFF, 0x00A0},
  };
  for (const auto& c : cases) EXPECT_EQ(cp437_to_unicode(c.byte), c.cp) << int{c.byte};
}

TEST(Cp437, CharactersOutsideTheSetAndLookAlikes) {
  const struct {
    char32_t cp;
    int byte;
  } cases[] = {
      {0x20AC, CHARSET_NO_BYTE},   // euro
      {0x0105, CHARSET_NO_BYTE},   // a with ogonek
      {0x1FB70, CHARSET_NO_BYTE},  // a C64 line
      {0xFFFD, CHARSET_NO_BYTE},
      {0x110000, CHARSET_NO_BYTE},
      {0x03B2, 0xE1},  // beta
      {0x03BC, 0xE6},  // mu
      {0x2126, 0xEA},  // ohm
      {0x2211, 0xE4},  // n-ary sum
      {0x000A, 0x0A},  // controls keep their codes
      {0x001B, 0x1B},
  };
  for (const auto& c : cases)
    EXPECT_EQ(unicode_to_cp437(c.cp), c.byte) << std::hex << static_cast<uint32_t>(c.cp);
}

TEST(Petscii, LettersDigitsAndPunctuationSurviveInTheSetOnScreen) {
  const std::string ascii = " !\"#$%&'()*+,-./0123456789:;<=>?@[]";
  for (bool lower : {false, true}) {
    for (char c : ascii) {
      const int code = unicode_to_petscii(static_cast<unsigned char>(c), lower);
      ASSERT_EQ(code, c) << lower << c;
      EXPECT_EQ(petscii_to_unicode(static_cast<uint8_t>(code), lower), char32_t(c));
    }
  }
  for (char c = 'A'; c <= 'Z'; c++) {
    const int k = c - 'A';
    // Upper case set: 65..90 show capitals; small letters type them too.
    EXPECT_EQ(petscii_to_unicode(static_cast<uint8_t>(0x41 + k), false), char32_t(c));
    EXPECT_EQ(unicode_to_petscii(static_cast<char32_t>(c), false), 0x41 + k);
    EXPECT_EQ(unicode_to_petscii(static_cast<char32_t>(c - 'A' + 'a'), false), 0x41 + k);
    // Lower case set: 65..90 small, 97..122 and 193..218 capitals; the
    // keyboard's shifted letters (193..218) are chosen.
    EXPECT_EQ(petscii_to_unicode(static_cast<uint8_t>(0x41 + k), true), char32_t('a' + k));
    EXPECT_EQ(petscii_to_unicode(static_cast<uint8_t>(0x61 + k), true), char32_t(c));
    EXPECT_EQ(petscii_to_unicode(static_cast<uint8_t>(0xC1 + k), true), char32_t(c));
    EXPECT_EQ(unicode_to_petscii(static_cast<char32_t>('a' + k), true), 0x41 + k);
    EXPECT_EQ(unicode_to_petscii(static_cast<char32_t>(c), true), 0xC1 + k);
  }
}

TEST(Petscii, EveryPictureMapsBackToACodeThatShowsIt) {
  for (bool lower : {false, true}) {
    int pictures = 0;
    for (int b = 0; b < 256; b++) {
      const char32_t cp = petscii_to_unicode(static_cast<uint8_t>(b), lower);
      const bool control = b < 0x20 || (b >= 0x80 && b < 0xA0);
      EXPECT_EQ(cp == CHARSET_NO_CHAR, control) << lower << " " << b;
      if (control) continue;
      pictures++;
      const int back = unicode_to_petscii(cp, lower);
      ASSERT_NE(back, CHARSET_NO_BYTE) << lower << " " << b;
      EXPECT_EQ(petscii_to_unicode(static_cast<uint8_t>(back), lower), cp) << lower << " " << b;
      // The code typed on a C64 keyboard: never 96..127 or 224..255.
      EXPECT_TRUE(back < 0x60 || (back >= 0xA0 && back < 0xE0)) << lower << " " << b;
    }
    EXPECT_EQ(pictures, 192);
  }
}

TEST(Petscii, GraphicsAndTheCharactersEachSetLacks) {
  const struct {
    bool lower;
    uint8_t code;
    char32_t cp;
  } shown[] = {
      {false, 0x5C, 0x00A3}, {false, 0x5E, 0x2191}, {false, 0x5F, 0x2190},  {false, 0x60, 0x2500},
      {false, 0xC0, 0x2500}, {false, 0x61, 0x2660}, {false, 0xC1, 0x2660},  {false, 0x73, 0x2665},
      {false, 0x7E, 0x03C0}, {false, 0xDE, 0x03C0}, {false, 0xFF, 0x03C0},  {false, 0xA0, 0x00A0},
      {false, 0xA6, 0x2592}, {false, 0xE6, 0x2592}, {false, 0xB0, 0x250C},  {false, 0xBA, 0x1FB7F},
      {false, 0xA9, 0x25E4}, {false, 0x7F, 0x25E5}, {false, 0x62, 0x1FB72}, {false, 0x7D, 0x2502},
      {true, 0x7E, 0x2592},  {true, 0x7F, 0x1FB98}, {true, 0xA9, 0x1FB99},  {true, 0xBA, 0x2713},
      {true, 0xB0, 0x250C},  {true, 0x60, 0x2500},
  };
  for (const auto& c : shown)
    EXPECT_EQ(petscii_to_unicode(c.code, c.lower), c.cp) << c.lower << " " << int{c.code};

  const struct {
    bool lower;
    char32_t cp;
    int code;
  } typed[] = {
      {false, 0x03C0, 0xDE},
      {false, 0x2500, 0xC0},
      {false, 0x2660, 0xC1},
      {false, 0x00A3, 0x5C},
      {true, 0x2592, 0xA6},
      {true, 0x2713, 0xBA},
      {false, 0x2713, CHARSET_NO_BYTE},
      {true, 0x03C0, CHARSET_NO_BYTE},
      {true, 0x2660, CHARSET_NO_BYTE},
      {false, '\\', CHARSET_NO_BYTE},
      {false, '{', CHARSET_NO_BYTE},
      {true, '_', CHARSET_NO_BYTE},
      {true, 0x00FC, CHARSET_NO_BYTE},
      {false, '\n', CHARSET_NO_BYTE},
      {false, 0xFFFD, CHARSET_NO_BYTE},
  };
  for (const auto& c : typed)
    EXPECT_EQ(unicode_to_petscii(c.cp, c.lower), c.code)
        << c.lower << " U+" << std::hex << static_cast<uint32_t>(c.cp);
}

TEST(Utf8, EncodesAndDecodesWellFormedText) {
  const struct {
    char32_t cp;
    const char* utf8;
  } cases[] = {
      {0x41, "A"},
      {0x7F, "\x7F"},
      {0xE9, "\xC3\xA9"},
      {0x7FF, "\xDF\xBF"},
      {0x20AC, "\xE2\x82\xAC"},
      {0xFFFF, "\xEF\xBF\xBF"},
      {0x1FB70, "\xF0\x9F\xAD\xB0"},
      {0x10FFFF, "\xF4\x8F\xBF\xBF"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(encode_all(std::u32string(1, c.cp)), c.utf8)
        << std::hex << static_cast<uint32_t>(c.cp);
    EXPECT_EQ(decode_all(c.utf8), std::u32string(1, c.cp))
        << std::hex << static_cast<uint32_t>(c.cp);
  }
  // Values that are not characters are written as U+FFFD.
  EXPECT_EQ(encode_all(std::u32string(1, char32_t{0xD800})), "\xEF\xBF\xBD");
  EXPECT_EQ(encode_all(std::u32string(1, char32_t{0x110000})), "\xEF\xBF\xBD");
  // Every scalar value goes through and back.
  for (char32_t cp = 0; cp <= 0x10FFFF; cp++) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    char buf[4];
    const size_t n = utf8_encode(cp, buf);
    size_t used = 0;
    ASSERT_EQ(utf8_decode(buf, n, &used), cp);
    ASSERT_EQ(used, n);
  }
}

TEST(Utf8, EveryBadByteBecomesOneReplacement) {
  const char32_t R = UNICODE_REPLACEMENT;
  const struct {
    const char* name;
    std::string in;
    std::u32string out;
  } cases[] = {
      {"stray continuation", "a\x80z", {U'a', R, U'z'}},
      {"overlong slash", "\xC0\xAF", {R, R}},
      {"overlong three bytes", "\xE0\x80\xAF", {R, R, R}},
      {"cut short", "\xE2\x82z", {R, R, U'z'}},
      {"cut short at the end", "x\xF0\x9F\xAD", {U'x', R, R, R}},
      {"surrogate", "\xED\xA0\x80", {R, R, R}},
      {"above U+10FFFF", "\xF4\x90\x80\x80", {R, R, R, R}},
      {"never a lead byte", "\xFE\xFF\xF5", {R, R, R}},
      {"NUL is a character", std::string("a\0b", 3), {U'a', 0, U'b'}},
  };
  for (const auto& c : cases) EXPECT_EQ(decode_all(c.in), c.out) << c.name;
}

TEST(ClipboardText, SetBytesToUtf8) {
  const struct {
    CharsetId set;
    std::string bytes;
    std::string utf8;
  } cases[] = {
      {CHARSET_CP437, "\xC9\xCD\xBB\n\xBA\xB0\xB1\xB2\xBA\r\n\xC8\xCD\xBC", "╔═╗\n║░▒▓║\r\n╚═╝"},
      {CHARSET_CP437,
       "\x82t\x82 \x81"
       "ber \x9B\x9C\xE1",
       "été über ¢£ß"},
      {CHARSET_CP437, std::string("a\0\x01\t\x7F", 5), "a ☺\t⌂"},
      {CHARSET_C64_UPPER, "HELLO \x5C\x5E\x5F\xC1\xDE\x0D\x93", "HELLO £↑←♠π\r"},
      {CHARSET_C64_LOWER, "\xC8\x45\x4C\x4C\x4F \x61\xBA", "Hello A✓"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(charset_text_to_utf8(c.set, reinterpret_cast<const uint8_t*>(c.bytes.data()),
                                   c.bytes.size()),
              c.utf8)
        << c.utf8;
  }
}

TEST(ClipboardText, Utf8ToSetBytes) {
  const struct {
    CharsetId set;
    std::string utf8;
    std::string bytes;
  } cases[] = {
      {CHARSET_CP437, "€ ü ╔═╗\nñ", "? \x81 \xC9\xCD\xBB\n\xA4"},
      {CHARSET_CP437, "line\r\nnext\ttab", "line\r\nnext\ttab"},
      // Pictures of tab, line feed and return do not break the text.
      {CHARSET_CP437, "☺○◙♪⌂", "\x01???\x7F"},
      // NUL and the other controls are left out; bad bytes become "?".
      {CHARSET_CP437, std::string("a\0b\x1B[0m\xFF\xC3", 9), "ab[0m??"},
      {CHARSET_CP437, "\xC2\x85x", "x"},  // C1 control NEL
      {CHARSET_C64_UPPER, "Hello, World 42!", "HELLO, WORLD 42!"},
      {CHARSET_C64_UPPER, "£π♥▒ü{", "\x5C\xDE\xD3\xA6??"},
      {CHARSET_C64_LOWER, "Hello, World 42!", "\xC8\x45\x4C\x4C\x4F, \xD7\x4F\x52\x4C\x44 42!"},
      {CHARSET_C64_LOWER, "π✓", "?\xBA"},
  };
  for (const auto& c : cases) EXPECT_EQ(utf8_to_charset_text(c.set, c.utf8), c.bytes) << c.utf8;
}

TEST(ClipboardText, EveryShownCodeSurvivesTheDesktop) {
  for (CharsetId set : kSets) {
    for (int b = 1; b < 256; b++) {
      if (b == '\t' || b == '\n' || b == '\r') continue;  // text, not pictures
      const uint8_t byte = static_cast<uint8_t>(b);
      const std::string utf8 = charset_text_to_utf8(set, &byte, 1);
      if (utf8.empty()) continue;  // a PETSCII control code shows nothing
      const std::string back = utf8_to_charset_text(set, utf8);
      ASSERT_EQ(back.size(), 1u) << set << " " << b;
      EXPECT_EQ(charset_to_unicode(set, static_cast<uint8_t>(back[0])),
                charset_to_unicode(set, byte))
          << set << " " << b;
      if (set == CHARSET_CP437) {
        EXPECT_EQ(static_cast<uint8_t>(back[0]), byte) << b;
      }
    }
  }
}

// docs/charsets.md lists the PETSCII pictures; the table must be the code's.
TEST(CharsetDocs, PetsciiTableMatchesTheCode) {
  std::ifstream in(std::string(KAVEL_SOURCE_DIR) + "/docs/charsets.md");
  ASSERT_TRUE(in.good());
  auto trimmed = [](std::string s) {
    while (!s.empty() && s.front() == ' ') s.erase(s.begin());
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
  };
  std::string line;
  int rows = 0;
  while (std::getline(in, line)) {
    // | 0x60 | 96 | U+2500 | ─ | U+2500 | ─ |
    std::vector<std::string> cells;
    std::stringstream split(line);
    std::string cell;
    while (std::getline(split, cell, '|')) cells.push_back(trimmed(cell));
    if (cells.size() < 7 || cells[1].rfind("0x", 0) != 0 || cells[3].rfind("U+", 0) != 0) continue;
    rows++;
    const auto code = static_cast<uint8_t>(std::stoul(cells[1], nullptr, 16));
    EXPECT_EQ(std::stoul(cells[2]), code) << line;
    for (int set = 0; set < 2; set++) {
      const std::string& hex = cells[3 + 2 * set];
      const std::string& shown = cells[4 + 2 * set];
      const auto cp = static_cast<char32_t>(std::stoul(hex.substr(2), nullptr, 16));
      EXPECT_EQ(petscii_to_unicode(code, set == 1), cp) << line;
      std::string glyph;
      utf8_append(&glyph, cp);
      if (cp != 0x20 && cp != 0xA0) {
        EXPECT_EQ(shown, glyph) << line;
      }
    }
  }
  EXPECT_EQ(rows, 128);  // 32..127 and 160..191; the rest repeat them
}
