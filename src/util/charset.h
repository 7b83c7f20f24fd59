// The character sets a session shows and their Unicode equivalents.
//
// A cell holds one byte: a CP437 code in ANSI sessions, a PETSCII code in
// C64 sessions.  The desktop (clipboard, keyboard) speaks Unicode.  These are
// pure tables with no state: a byte becomes the character the program draws
// for it, and a character becomes the byte that draws it in a given set, or
// none.  docs/charsets.md lists every mapping.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The three sets a session can have on screen.  The numbers are stable: the
// clipboard remembers which set its text was written in.
enum CharsetId : int {
  CHARSET_CP437 = 0,      // ANSI sessions
  CHARSET_C64_UPPER = 1,  // PETSCII, upper case and graphics
  CHARSET_C64_LOWER = 2,  // PETSCII, lower and upper case
};

// "None" for the conversions that can fail.
constexpr int CHARSET_NO_BYTE = -1;
constexpr char32_t CHARSET_NO_CHAR = 0xFFFFFFFF;
constexpr char32_t UNICODE_REPLACEMENT = 0xFFFD;

// ------------------------------------------------------------------ CP437 --

// The character drawn for each of the 256 codes.  1..31 and 127 are the
// control pictures (smiley ... down triangle, house); 0 is U+0000.
char32_t cp437_to_unicode(uint8_t byte);
// The CP437 code of a character, or CHARSET_NO_BYTE.  U+0000..U+007F are
// themselves (so control characters keep their codes), the control pictures
// give 1..31 and 127, and a few look-alikes give the code drawn the same way
// (Greek beta as sharp s, micro as mu, ohm as omega, n-ary sum as sigma,
// empty set and phi symbol as phi, element-of as epsilon).
int unicode_to_cp437(char32_t cp);

// ---------------------------------------------------------------- PETSCII --

// The character a PETSCII code shows in the upper case/graphics set (lower =
// false) or the lower/upper case set (lower = true), or CHARSET_NO_CHAR for
// the control codes 0..31 and 128..159, which show nothing.
char32_t petscii_to_unicode(uint8_t byte, bool lower);
// The PETSCII code that shows a character in the set, or CHARSET_NO_BYTE.
// Where several codes show the same picture, the one the C64 keyboard types
// is chosen: 32..95, then 160..191, then 192..223, then 96..127 and
// 224..255.  The upper case set has no small letters, so a..z give the
// capitals on screen there (as the unshifted keys do on a C64).
int unicode_to_petscii(char32_t cp, bool lower);

// ------------------------------------------------------------- either set --

char32_t charset_to_unicode(CharsetId set, uint8_t byte);
int unicode_to_charset(CharsetId set, char32_t cp);

// ------------------------------------------------------------------ UTF-8 --

// Writes the UTF-8 form of cp (1..4 bytes) to out and returns the count.
// Surrogates and values above U+10FFFF are written as U+FFFD.
size_t utf8_encode(char32_t cp, char out[4]);
void utf8_append(std::string* out, char32_t cp);
// Decodes one character from the start of text (len > 0) and stores the bytes
// it took in *used.  A byte that does not start a well-formed sequence
// (a stray continuation byte, an overlong form, a surrogate, a value above
// U+10FFFF, a sequence cut short) yields U+FFFD and takes that one byte, so
// every bad byte becomes one U+FFFD and decoding always moves on.
char32_t utf8_decode(const char* text, size_t len, size_t* used);

// ------------------------------------------------------- clipboard text --
// Text between a session's set and the desktop.  Tab, line feed and carriage
// return are text, not pictures, in both directions.

// The bytes of a set as UTF-8.  CP437 0 is a blank cell and gives a space;
// PETSCII control codes show nothing and are left out.
std::string charset_text_to_utf8(CharsetId set, const uint8_t* bytes, size_t len);
// UTF-8 as bytes of a set.  A character the set cannot show becomes "?", and
// so does every invalid UTF-8 byte; NUL and the other control characters are
// left out.  The pictures whose codes are tab, line feed and carriage return
// (CP437 9, 10, 13) become "?" too, so pasting one never breaks a line.
std::string utf8_to_charset_text(CharsetId set, std::string_view utf8);
