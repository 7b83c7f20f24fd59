// SAUCE: the metadata record that ANSI art files carry after their content
// (128 bytes starting "SAUCE", optionally preceded by a "COMNT" block of
// 64-byte comment lines, and by the DOS end-of-file byte 0x1A).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// Length of the drawable content: the file without a SAUCE record (and its
// comment block) and without what follows the DOS end-of-file byte 0x1A
// before such a record.  A file without a record is content to its last
// byte, 0x1A included.
size_t sauce_content_length(const uint8_t* data, size_t len);

// Whether the file's SAUCE record asks for iCE colours: a character or
// binary-text file whose ANSiFlags (TFlags) have bit 0 set, meaning blink
// is a bright background.  0 without a record.
int sauce_ice_colours(const uint8_t* data, size_t len);

// What a SAUCE record written by Kavel says about an ANSI screen: the title
// (the board's name), the date, the size in characters, iCE colours, and
// one comment line naming the program that wrote it (SAUCE has no field of
// its own for that).  Texts are cut to their fields (title 35, comment 64).
struct SauceInfo {
  const char* title;
  const char* comment;
  int year, month, day;
  int cols, rows;
  int ice_colours;
};
// The content followed by the DOS end-of-file byte, the comment block and
// the 128-byte record (FileSize: the content's length).
std::string sauce_append(const std::string& content, const SauceInfo& info);
