// The clipboard device's unit and the bridge to the desktop's UTF-8 text.
// The backend only puts and gets desktop text (internal.h); the clip
// bookkeeping and every conversion are here, the same for both backends.
#include "platform/clipboard.h"

#include <time.h>

#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "platform/internal.h"
#include "util/ftxt.h"

using Clip = std::shared_ptr<const std::vector<uint8_t>>;

struct PlatClipboard {
  // The clip being written, until the update.
  bool writing = false;
  int32_t write_id = 0;
  std::vector<uint8_t> write;
  // What the reads of the current read see: the clipboard as it was when
  // the read began, so that a long read in pieces is consistent.
  bool reading = false;
  int32_t read_id = 0;
  Clip read;
};

namespace {

bool g_clip_available = true;
CharsetId g_charset = CHARSET_CP437;
int32_t g_last_id = 0;

// The unit's clip: the exact bytes last written (or made from the desktop's
// text), with the desktop text it stands for and the set it was in.  While
// the desktop still holds that text and the set is the same, reads present
// these bytes rather than converting again.
Clip g_store;
std::string g_store_source;
CharsetId g_store_charset = CHARSET_CP437;

int32_t next_id() {
  g_last_id = g_last_id == INT32_MAX ? 1 : g_last_id + 1;
  return g_last_id;
}

const Clip& empty_clip() {
  static const Clip empty = std::make_shared<const std::vector<uint8_t>>();
  return empty;
}

// The clipboard as a reader sees it now.
int look_at_desktop(Clip* out) {
  std::string text;
  if (backend_clipboard_get(&text) != 0) return PLAT_CLIP_ERR_DESKTOP;
  if (text.size() > PLAT_CLIP_MAX_BYTES) text.clear();
  if (g_store && g_store_charset == g_charset && text == g_store_source) {
    *out = g_store;
    return PLAT_CLIP_OK;
  }
  Clip clip = empty_clip();
  if (!text.empty()) {
    const std::string bytes = utf8_to_charset_text(g_charset, text);
    auto form = std::make_shared<std::vector<uint8_t>>();
    if (ftxt_encode(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), form.get()) != 0)
      return PLAT_CLIP_ERR_NO_MEMORY;
    clip = std::move(form);
  }
  g_store = clip;
  g_store_source = std::move(text);
  g_store_charset = g_charset;
  *out = std::move(clip);
  return PLAT_CLIP_OK;
}

int do_write(PlatClipboard* unit, PlatClipRequest* req) {
  if (req->length > 0 && !req->data) return PLAT_CLIP_ERR_COMMAND;
  if (!unit->writing || (req->offset == 0 && req->clip_id == 0)) {
    unit->writing = true;
    unit->write_id = next_id();
    unit->write.clear();
  }
  const size_t end = static_cast<size_t>(req->offset) + req->length;
  if (end > PLAT_CLIP_MAX_BYTES) return PLAT_CLIP_ERR_TOO_LARGE;
  if (unit->write.size() < end) unit->write.resize(end);
  if (req->length > 0) memcpy(unit->write.data() + req->offset, req->data, req->length);
  req->actual = req->length;
  req->offset += req->length;
  req->clip_id = unit->write_id;
  return PLAT_CLIP_OK;
}

int do_update(PlatClipboard* unit, PlatClipRequest* req) {
  if (!unit->writing) return PLAT_CLIP_ERR_NO_WRITE;
  unit->writing = false;
  auto clip = std::make_shared<const std::vector<uint8_t>>(std::move(unit->write));
  unit->write = {};
  // The desktop gets the text; a clip that holds none empties it.
  std::string text;
  size_t offset = 0, len = 0;
  if (ftxt_find_text(clip->data(), clip->size(), &offset, &len) == 0)
    text = charset_text_to_utf8(g_charset, clip->data() + offset, len);
  if (backend_clipboard_put(text) != 0) return PLAT_CLIP_ERR_DESKTOP;
  g_store = std::move(clip);
  g_store_source = std::move(text);
  g_store_charset = g_charset;
  req->clip_id = unit->write_id;
  return PLAT_CLIP_OK;
}

int do_read(PlatClipboard* unit, PlatClipRequest* req) {
  if (req->length > 0 && !req->data) return PLAT_CLIP_ERR_COMMAND;
  if (req->offset == 0 || !unit->reading) {
    unit->reading = false;
    unit->read.reset();
    Clip clip;
    const int err = look_at_desktop(&clip);
    if (err != PLAT_CLIP_OK) return err;
    unit->reading = true;
    unit->read_id = next_id();
    unit->read = std::move(clip);
  }
  const std::vector<uint8_t>& bytes = *unit->read;
  size_t n = 0;
  if (req->offset < bytes.size()) {
    n = bytes.size() - req->offset;
    if (n > req->length) n = req->length;
    memcpy(req->data, bytes.data() + req->offset, n);
  }
  req->actual = static_cast<uint32_t>(n);
  req->offset += req->actual;
  req->clip_id = unit->read_id;
  if (n < req->length) {  // the end: the next read looks again
    unit->reading = false;
    unit->read.reset();
  }
  return PLAT_CLIP_OK;
}

}  // namespace

PlatClipboard* plat_clipboard_open(int unit) {
  if (unit != 0 || !g_clip_available || !backend_clipboard_ready()) return nullptr;
  return new (std::nothrow) PlatClipboard();
}

void plat_clipboard_close(PlatClipboard* unit) {
  delete unit;
}

int plat_clipboard_do(PlatClipboard* unit, PlatClipRequest* req) {
  if (!req) return PLAT_CLIP_ERR_COMMAND;
  req->actual = 0;
  int err = PLAT_CLIP_ERR_COMMAND;
  if (unit) {
    // The containers are the only thing here that can fail, and only for
    // want of memory; the device reports that as a request error.
    try {
      switch (req->command) {
        case PLAT_CLIP_CMD_WRITE:
          err = do_write(unit, req);
          break;
        case PLAT_CLIP_CMD_UPDATE:
          err = do_update(unit, req);
          break;
        case PLAT_CLIP_CMD_READ:
          err = do_read(unit, req);
          break;
        default:
          break;
      }
    } catch (const std::bad_alloc&) {
      err = PLAT_CLIP_ERR_NO_MEMORY;
    }
  }
  req->error = err;
  return err;
}

void plat_headless_set_clipboard_available(bool available) {
  g_clip_available = available;
}

void plat_clipboard_set_charset(CharsetId set) {
  g_charset = set == CHARSET_C64_UPPER || set == CHARSET_C64_LOWER ? set : CHARSET_CP437;
}

CharsetId plat_clipboard_charset() {
  return g_charset;
}

void plat_clipboard_serve(int ms) {
  // Real time, not clock_ms(): tests may have frozen that clock.
  timespec start{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  for (;;) {
    backend_pump();
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const long long spent =
        (now.tv_sec - start.tv_sec) * 1000LL + (now.tv_nsec - start.tv_nsec) / 1000000;
    if (spent >= ms) return;
    timespec step{0, 5 * 1000 * 1000};
    nanosleep(&step, nullptr);
  }
}

int plat_clipboard_put_bytes(const uint8_t* bytes, size_t len) {
  if (len > PLAT_CLIP_MAX_BYTES) return PLAT_CLIP_ERR_TOO_LARGE;
  PlatClipboard* unit = plat_clipboard_open(0);
  if (!unit) return PLAT_CLIP_ERR_DESKTOP;
  PlatClipRequest req;
  req.command = PLAT_CLIP_CMD_WRITE;
  req.data = const_cast<uint8_t*>(bytes);
  req.length = static_cast<uint32_t>(len);
  int err = plat_clipboard_do(unit, &req);
  if (err == PLAT_CLIP_OK) {
    req.command = PLAT_CLIP_CMD_UPDATE;
    err = plat_clipboard_do(unit, &req);
  }
  plat_clipboard_close(unit);
  return err;
}
