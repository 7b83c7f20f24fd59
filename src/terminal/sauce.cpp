#include "terminal/sauce.h"

#include <cstdio>
#include <cstring>

namespace {
constexpr size_t kRecordBytes = 128;
constexpr size_t kCommentsField = 104;  // number of comment lines
constexpr size_t kCommentLineBytes = 64;
constexpr size_t kCommentIdBytes = 5;  // "COMNT"
constexpr uint8_t kDosEof = 0x1A;
constexpr size_t kDataTypeField = 94;
constexpr size_t kFlagsField = 105;
constexpr uint8_t kDataTypeCharacter = 1;
constexpr uint8_t kDataTypeBinaryText = 5;
constexpr uint8_t kIceColoursFlag = 0x01;
}  // namespace

// The first DOS end-of-file byte in data[0..end), or end when there is none.
static size_t first_eof(const uint8_t* data, size_t end) {
  const void* eof = memchr(data, kDosEof, end);
  return eof ? static_cast<size_t>(static_cast<const uint8_t*>(eof) - data) : end;
}

// Where a whole record ("SAUCE00" and 128 bytes) starts in data[from..len),
// or len when none does.
static size_t record_after(const uint8_t* data, size_t from, size_t len) {
  static constexpr char kId[] = "SAUCE00";
  static constexpr size_t kIdLen = sizeof kId - 1;
  for (size_t i = from; i + kRecordBytes <= len; i++) {
    if (data[i] == 'S' && memcmp(data + i, kId, kIdLen) == 0) return i;
  }
  return len;
}

size_t sauce_content_length(const uint8_t* data, size_t len) {
  if (!data) return 0;
  // The record is found by its place, not by an EOF marker: some editors
  // write none, and the record's own fields may hold the byte 0x1A.
  if (len >= kRecordBytes && memcmp(data + len - kRecordBytes, "SAUCE", 5) == 0) {
    size_t end = len - kRecordBytes;
    size_t comments = data[end + kCommentsField];
    size_t block = kCommentIdBytes + comments * kCommentLineBytes;
    if (comments > 0 && end >= block && memcmp(data + end - block, "COMNT", 5) == 0) end -= block;
    // What lies between the EOF byte that ends the art and the record is
    // not art either.
    return first_eof(data, end);
  }
  // A record that is not at the very end (a file padded to a block size by
  // an XMODEM transfer): the art ends at the EOF byte before it.  Without a
  // record the byte 0x1A is content like any other: a PETSCII stream may
  // hold it, and a CP437 font shows it as a picture.
  size_t eof = first_eof(data, len);
  if (eof < len && record_after(data, eof + 1, len) < len) return eof;
  return len;
}

int sauce_ice_colours(const uint8_t* data, size_t len) {
  if (!data) return 0;
  // The record at the very end, or after the EOF byte of a padded file (as
  // sauce_content_length finds it).
  size_t at = len;
  if (len >= kRecordBytes && memcmp(data + len - kRecordBytes, "SAUCE", 5) == 0) {
    at = len - kRecordBytes;
  } else {
    size_t eof = first_eof(data, len);
    if (eof < len) at = record_after(data, eof + 1, len);
  }
  if (at >= len) return 0;
  uint8_t type = data[at + kDataTypeField];
  if (type != kDataTypeCharacter && type != kDataTypeBinaryText) return 0;
  return (data[at + kFlagsField] & kIceColoursFlag) ? 1 : 0;
}

namespace {

// A fixed-width SAUCE text field: the text, padded with spaces.
void put_field(std::string* out, const char* text, size_t width) {
  size_t n = text ? strnlen(text, width) : 0;
  out->append(text ? text : "", n);
  out->append(width - n, ' ');
}

void put_le(std::string* out, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; i++) out->push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

}  // namespace

std::string sauce_append(const std::string& content, const SauceInfo& info) {
  std::string out = content;
  out.push_back(static_cast<char>(kDosEof));
  const bool comment = info.comment && info.comment[0];
  if (comment) {
    out += "COMNT";
    put_field(&out, info.comment, kCommentLineBytes);
  }
  out += "SAUCE00";
  put_field(&out, info.title, 35);
  put_field(&out, "", 20);  // author
  put_field(&out, "", 20);  // group
  char date[16];
  snprintf(date, sizeof date, "%04d%02d%02d", info.year % 10000, info.month % 100, info.day % 100);
  put_field(&out, date, 8);
  put_le(&out, static_cast<uint32_t>(content.size()), 4);
  out.push_back(static_cast<char>(kDataTypeCharacter));
  out.push_back(1);  // file type: ANSi
  put_le(&out, static_cast<uint32_t>(info.cols), 2);
  put_le(&out, static_cast<uint32_t>(info.rows), 2);
  put_le(&out, 0, 4);  // TInfo3, TInfo4
  out.push_back(comment ? 1 : 0);
  // iCE colours, and 8-pixel letters (bits 1-2 = 01): the cells Kavel drew.
  out.push_back(static_cast<char>((info.ice_colours ? kIceColoursFlag : 0) | 0x02));
  put_field(&out, "IBM VGA", 22);
  return out;
}
