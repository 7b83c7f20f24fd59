// Clipboard text over the clipboard device, in the device's own steps: reads
// of 1024 bytes into a growing buffer, and a write in four pieces closed by
// an update.
#include "platform/clipboard_text.h"

#include <new>
#include <vector>

#include "platform/clipboard.h"
#include "util/ftxt.h"

namespace {

constexpr size_t kReadChunk = 1024;
constexpr size_t kReadStart = 4096;

// An open unit that is closed however the caller leaves.
struct Unit {
  PlatClipboard* u = plat_clipboard_open(0);
  ~Unit() { plat_clipboard_close(u); }
};

// Reads the clip: 1024 bytes at a time, stopping at a device error, an empty
// read or a short one; the buffer doubles whenever less than a read's worth
// of room is left, up to the read limit.
bool read_form(PlatClipboard* unit, std::vector<uint8_t>* buf) {
  try {
    buf->assign(kReadStart, 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  size_t total = 0;
  PlatClipRequest req;
  req.offset = 0;
  req.clip_id = 0;
  for (;;) {
    if (buf->size() - total < kReadChunk) {
      size_t bigger = buf->size() * 2;
      if (bigger > kClipboardReadLimit) break;
      try {
        buf->resize(bigger);
      } catch (const std::bad_alloc&) {
        break;
      }
    }
    req.command = PLAT_CLIP_CMD_READ;
    req.data = buf->data() + total;
    req.length = static_cast<uint32_t>(kReadChunk);
    if (plat_clipboard_do(unit, &req) != PLAT_CLIP_OK) break;
    total += req.actual;
    if (req.actual == 0 || req.actual < kReadChunk) break;
  }
  buf->resize(total);
  return true;
}

int write_piece(PlatClipboard* unit, PlatClipRequest* req, const void* data, size_t len) {
  req->command = PLAT_CLIP_CMD_WRITE;
  req->data = const_cast<void*>(data);
  req->length = static_cast<uint32_t>(len);
  return plat_clipboard_do(unit, req);
}

}  // namespace

bool clipboard_read_text(std::string* text) {
  text->clear();
  Unit unit;
  if (!unit.u) return false;
  std::vector<uint8_t> form;
  if (!read_form(unit.u, &form)) return false;
  size_t offset = 0, len = 0;
  if (ftxt_find_text(form.data(), form.size(), &offset, &len) != 0) return false;
  try {
    text->assign(reinterpret_cast<const char*>(form.data()) + offset, len);
  } catch (const std::bad_alloc&) {
    text->clear();
    return false;
  }
  return true;
}

int clipboard_write_text(const uint8_t* text, size_t n) {
  if (!text || n == 0) return -1;
  uint8_t head[FTXT_FORM_HEADER_BYTES];
  uint8_t chrs[FTXT_CHUNK_HEADER_BYTES];
  if (ftxt_form_header(n, head) != 0 || ftxt_chrs_header(n, chrs) != 0) return -1;
  // The device takes one request length of 32 bits per write.
  if (n > UINT32_MAX) return -1;
  Unit unit;
  if (!unit.u) return -1;
  PlatClipRequest req;
  req.offset = 0;
  req.clip_id = 0;
  const uint8_t pad = 0;
  if (write_piece(unit.u, &req, head, sizeof head) != PLAT_CLIP_OK) return -1;
  if (write_piece(unit.u, &req, chrs, sizeof chrs) != PLAT_CLIP_OK) return -1;
  if (write_piece(unit.u, &req, text, n) != PLAT_CLIP_OK) return -1;
  if (ftxt_pad_bytes(n) && write_piece(unit.u, &req, &pad, 1) != PLAT_CLIP_OK) return -1;
  req.command = PLAT_CLIP_CMD_UPDATE;
  req.data = nullptr;
  req.length = 0;
  return plat_clipboard_do(unit.u, &req) == PLAT_CLIP_OK ? 0 : -1;
}
