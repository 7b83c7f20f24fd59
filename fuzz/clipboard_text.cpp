// layers: platform
// Arbitrary bytes as clipboard input: as a form read from the clipboard
// (the FTXT chunk walk), and as desktop text in each character set through
// the headless clipboard device.  The text found must lie within the bytes;
// converted text must hold no NUL and no byte the set cannot show, and
// going out to UTF-8 and back must be stable.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/clipboard.h"
#include "util/charset.h"
#include "util/ftxt.h"

namespace {

void check(bool ok) {
  if (!ok) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  size_t off = 0, len = 0;
  if (ftxt_find_text(data, size, &off, &len) == 0)
    check(off >= FTXT_MIN_BYTES && off + len <= size);

  const std::string_view utf8(reinterpret_cast<const char*>(data), size);
  for (CharsetId set : {CHARSET_CP437, CHARSET_C64_UPPER, CHARSET_C64_LOWER}) {
    const std::string bytes = utf8_to_charset_text(set, utf8);
    for (char c : bytes) {
      const auto b = static_cast<uint8_t>(c);
      check(b == '\t' || b == '\n' || b == '\r' || charset_to_unicode(set, b) != CHARSET_NO_CHAR);
      check(b != 0);
    }
    const std::string out =
        charset_text_to_utf8(set, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    check(utf8_to_charset_text(set, out) == bytes);

    // The same through the device, read in odd-sized pieces.
    plat_clipboard_set_charset(set);
    plat_headless_clipboard_set_text(utf8.data(), utf8.size());
    PlatClipboard* unit = plat_clipboard_open(0);
    check(unit != nullptr);
    std::string form;
    PlatClipRequest req;
    req.command = PLAT_CLIP_CMD_READ;
    char buf[777];
    do {
      req.data = buf;
      req.length = sizeof buf;
      check(plat_clipboard_do(unit, &req) == PLAT_CLIP_OK);
      form.append(buf, req.actual);
    } while (req.actual == sizeof buf);
    plat_clipboard_close(unit);
    if (utf8.empty()) {
      check(form.empty());
    } else {
      const auto* f = reinterpret_cast<const uint8_t*>(form.data());
      check(ftxt_find_text(f, form.size(), &off, &len) == 0);
      check(form.compare(off, len, bytes) == 0);
    }
  }
  return 0;
}
