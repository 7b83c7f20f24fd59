#include "terminal/sauce.h"

#include <cstring>

namespace {
constexpr size_t kRecordBytes = 128;
constexpr size_t kCommentsField = 104;  // number of comment lines
constexpr size_t kCommentLineBytes = 64;
constexpr size_t kCommentIdBytes = 5;  // "COMNT"
}  // namespace

size_t sauce_content_length(const uint8_t* data, size_t len) {
  if (!data) return 0;
  size_t end = len;
  if (len >= kRecordBytes && memcmp(data + len - kRecordBytes, "SAUCE", 5) == 0) {
    end = len - kRecordBytes;
    size_t comments = data[end + kCommentsField];
    size_t block = kCommentIdBytes + comments * kCommentLineBytes;
    if (comments > 0 && end >= block && memcmp(data + end - block, "COMNT", 5) == 0) end -= block;
  }
  // The EOF marker is never content: drawn, it would show as an arrow.
  if (end > 0 && data[end - 1] == 0x1A) end--;
  return end;
}
