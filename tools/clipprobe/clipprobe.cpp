// layers: platform
// Talks to the desktop clipboard through Kavel's clipboard device, as the
// scrollback viewer and the paste commands do, for checking the bridge by
// hand and in tests/scripts/platform_clipboard.sh.
//
//   kavel-clipprobe [--charset cp437|c64upper|c64lower] write [--hold MS] FILE
//       FILE's bytes (text in the set; "-" reads standard input) go to the
//       clipboard as a FORM FTXT, written in the writer's four pieces and
//       updated.  Prints "ready" and then keeps answering other programs'
//       requests for MS milliseconds (default 10000): on X11 the text lives
//       only as long as the program that copied it.
//   kavel-clipprobe [--charset ...] read [--form]
//       Reads the clipboard in 1024-byte pieces and writes its CHRS text
//       (with --form the whole form) to standard output.
//
// Exit status: 0 done, 3 the clipboard holds no text, 1 the device failed,
// 2 bad usage.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/clipboard.h"
#include "platform/clock.h"
#include "util/ftxt.h"

namespace {

int usage() {
  fprintf(stderr,
          "usage: kavel-clipprobe [--charset cp437|c64upper|c64lower] write [--hold MS] FILE\n"
          "       kavel-clipprobe [--charset cp437|c64upper|c64lower] read [--form]\n");
  return 2;
}

bool read_file(const char* path, std::string* out) {
  FILE* f = strcmp(path, "-") == 0 ? stdin : fopen(path, "rb");
  if (!f) return false;
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) out->append(buf, n);
  const bool ok = !ferror(f);
  if (f != stdin) fclose(f);
  return ok;
}

int write_piece(PlatClipboard* unit, PlatClipRequest* req, const void* data, size_t len) {
  req->command = PLAT_CLIP_CMD_WRITE;
  req->data = const_cast<void*>(data);
  req->length = static_cast<uint32_t>(len);
  return plat_clipboard_do(unit, req);
}

int do_write(PlatClipboard* unit, const std::string& text, int hold_ms) {
  uint8_t head[FTXT_FORM_HEADER_BYTES];
  uint8_t chrs[FTXT_CHUNK_HEADER_BYTES];
  if (ftxt_form_header(text.size(), head) != 0 || ftxt_chrs_header(text.size(), chrs) != 0) {
    fprintf(stderr, "clipprobe: text too long\n");
    return 1;
  }
  const uint32_t start = clock_ms();
  PlatClipRequest req;
  const uint8_t pad = 0;
  int err = write_piece(unit, &req, head, sizeof head);
  if (!err) err = write_piece(unit, &req, chrs, sizeof chrs);
  if (!err) err = write_piece(unit, &req, text.data(), text.size());
  if (!err && ftxt_pad_bytes(text.size())) err = write_piece(unit, &req, &pad, 1);
  if (!err) {
    req.command = PLAT_CLIP_CMD_UPDATE;
    req.data = nullptr;
    req.length = 0;
    err = plat_clipboard_do(unit, &req);
  }
  if (err) {
    fprintf(stderr, "clipprobe: write failed (%d)\n", err);
    return 1;
  }
  printf("written %zu bytes of text in %u ms\nready\n", text.size(), clock_ms() - start);
  fflush(stdout);
  plat_clipboard_serve(hold_ms);
  return 0;
}

int do_read(PlatClipboard* unit, bool whole_form) {
  const uint32_t start = clock_ms();
  std::vector<uint8_t> form;
  PlatClipRequest req;
  req.command = PLAT_CLIP_CMD_READ;
  uint8_t buf[1024];
  do {
    req.data = buf;
    req.length = sizeof buf;
    if (plat_clipboard_do(unit, &req) != PLAT_CLIP_OK) {
      fprintf(stderr, "clipprobe: read failed (%d)\n", req.error);
      return 1;
    }
    form.insert(form.end(), buf, buf + req.actual);
  } while (req.actual == sizeof buf);
  fprintf(stderr, "clipprobe: read %zu bytes in %u ms\n", form.size(), clock_ms() - start);
  size_t off = 0, len = 0;
  const bool text = ftxt_find_text(form.data(), form.size(), &off, &len) == 0;
  if (whole_form) {
    fwrite(form.data(), 1, form.size(), stdout);
  } else if (text) {
    fwrite(form.data() + off, 1, len, stdout);
  }
  return text ? 0 : 3;
}

}  // namespace

int main(int argc, char** argv) {
  int i = 1;
  CharsetId set = CHARSET_CP437;
  if (i + 1 < argc && strcmp(argv[i], "--charset") == 0) {
    const char* name = argv[i + 1];
    if (strcmp(name, "cp437") == 0) {
      set = CHARSET_CP437;
    } else if (strcmp(name, "c64upper") == 0) {
      set = CHARSET_C64_UPPER;
    } else if (strcmp(name, "c64lower") == 0) {
      set = CHARSET_C64_LOWER;
    } else {
      return usage();
    }
    i += 2;
  }
  if (i >= argc) return usage();
  const std::string command = argv[i++];
  int hold_ms = 10000;
  bool whole_form = false;
  const char* file = nullptr;
  for (; i < argc; i++) {
    if (strcmp(argv[i], "--hold") == 0 && i + 1 < argc) {
      hold_ms = atoi(argv[++i]);
    } else if (strcmp(argv[i], "--form") == 0) {
      whole_form = true;
    } else if (!file) {
      file = argv[i];
    } else {
      return usage();
    }
  }
  if ((command == "write") != (file != nullptr) || (command != "write" && command != "read"))
    return usage();

  std::string text;
  if (file && !read_file(file, &text)) {
    fprintf(stderr, "clipprobe: cannot read %s\n", file);
    return 1;
  }
  plat_clipboard_set_charset(set);
  PlatClipboard* unit = plat_clipboard_open(0);
  if (!unit) {
    fprintf(stderr, "clipprobe: no clipboard (no display?)\n");
    return 1;
  }
  const int rc = command == "write" ? do_write(unit, text, hold_ms) : do_read(unit, whole_form);
  plat_clipboard_close(unit);
  return rc;
}
