#include "terminal/sauce.h"

#include <cstring>

namespace {
constexpr size_t kRecordBytes = 128;
constexpr size_t kCommentsField = 104;  // number of comment lines
constexpr size_t kCommentLineBytes = 64;
constexpr size_t kCommentIdBytes = 5;  // "COMNT"
constexpr uint8_t kDosEof = 0x1A;
}  // namespace

size_t sauce_content_length(const uint8_t* data, size_t len) {
  if (!data) return 0;
  size_t end = len;
  // The record is found by its place, not by an EOF marker: some editors
  // write none, and the record's own fields may hold the byte 0x1A.
  if (len >= kRecordBytes && memcmp(data + len - kRecordBytes, "SAUCE", 5) == 0) {
    end = len - kRecordBytes;
    size_t comments = data[end + kCommentsField];
    size_t block = kCommentIdBytes + comments * kCommentLineBytes;
    if (comments > 0 && end >= block && memcmp(data + end - block, "COMNT", 5) == 0) end -= block;
  }
  // Nothing after the DOS end-of-file byte is art, as every viewer and BBS
  // that types the file knows: what follows may be a record that is not at
  // the very end (a file padded to a block size by an XMODEM transfer) or
  // the padding itself.  Drawn, each of those bytes would show as an arrow.
  const void* eof = memchr(data, kDosEof, end);
  if (eof) end = static_cast<size_t>(static_cast<const uint8_t*>(eof) - data);
  return end;
}
