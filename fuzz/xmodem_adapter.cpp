// layers: transfer
// The XMODEM adapter with real files: a name from the other side (or the
// user) and then arbitrary bytes into the engine receiving through the
// adapter, or arbitrary answers into the engine sending a file through it.
//
// Input: the first byte chooses receiving (bit 0 clear) or sending, the
// file-exists answer (bits 1-2) and whether the name already exists (bit 3);
// then a name up to the first 0x00 (at most 200 bytes); the rest goes to
// the engine, where 0xF5 n stands for 0xF5 itself (n = 0) or moves the clock
// on by n x 50 ms and pumps.
//
// Checked: the sanitised name has no separator or control byte and is not
// "." or "..", every file the adapter creates is inside the download
// directory, the file on disk holds exactly what the engine stored, and the
// adapter's file is closed once the engine has ended.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "transfer/xmodem.h"
#include "transfer/xmodem_kavel.h"

namespace {

constexpr uint8_t kEscape = 0xF5;

struct Host {
  XmodemHostContext ctx{};
  uint32_t now = 0;
  int answer = 0;
};

std::string make_dir(const char* tag) {
  char templ[64];
  snprintf(templ, sizeof templ, "/tmp/kavel-fuzz-%s-XXXXXX", tag);
  const char* d = mkdtemp(templ);
  if (!d) abort();
  return d;
}

void remove_dir(const std::string& dir) {
  DIR* d = opendir(dir.c_str());
  if (!d) return;
  while (dirent* e = readdir(d)) {
    if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
    std::string p = dir + "/" + e->d_name;
    struct stat st;
    if (lstat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) __builtin_trap();  // made a directory
    unlink(p.c_str());
  }
  closedir(d);
  rmdir(dir.c_str());
}

long file_size(const char* path) {
  struct stat st;
  return stat(path, &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

void check_name(const char* name) {
  size_t n = strlen(name);
  if (n == 0 || n >= kXmNameCap) __builtin_trap();
  if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) __builtin_trap();
  for (size_t i = 0; i < n; i++) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (c < 0x20 || c == '/' || c == '\\' || c == ':') __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  static const std::string dl = make_dir("dl");
  static const std::string up = make_dir("up");
  uint8_t scene = data[0];
  bool sending = scene & 1;
  size_t pos = 1;
  std::string name;
  while (pos < size && data[pos] != 0 && name.size() < 200)
    name.push_back(static_cast<char>(data[pos++]));
  if (pos < size) pos++;

  Host h;
  h.answer = (scene >> 1) & 3;
  xmodem_kavel_init(
      &h.ctx, dl.c_str(), up.c_str(), "", "", &h,
      [](void*, const uint8_t* b, size_t n) {
        if (!b || n == 0 || n > kXmFrameMax) __builtin_trap();
        return 0;
      },
      [](void* host, const char*) { return static_cast<Host*>(host)->answer; }, [](void*) {},
      [](void* host) { return static_cast<Host*>(host)->now; });

  char safe[kXmNameCap];
  xm_sanitize_name(safe, sizeof safe, name.c_str());
  check_name(safe);

  XmodemState st{};
  int opened;
  if (sending) {
    std::string path = up + "/" + safe;
    FILE* f = fopen(path.c_str(), "wb");
    if (f) {
      for (int i = 0; i < 3000; i++) fputc(i * 7, f);
      fclose(f);
    }
    uint32_t total = 0;
    opened = xmodem_kavel_open_send(&h.ctx, safe, &total);
    if (f && opened != 0) __builtin_trap();
    if (opened == 0) {
      XmodemCallbacks cb;
      xmodem_kavel_callbacks(&h.ctx, &cb);
      xmodem_init(&st, &cb);
      xmodem_start_send(&st, h.ctx.file_name, total);
    }
  } else {
    if (scene & 8) {
      std::string path = dl + "/" + safe;
      if (FILE* f = fopen(path.c_str(), "wb")) fclose(f);
    }
    opened = xmodem_kavel_open_receive(&h.ctx, name.c_str());
    if (opened == 0) {
      check_name(h.ctx.file_name);
      std::string expect = dl + "/" + h.ctx.file_name;
      if (expect != h.ctx.file_path) __builtin_trap();
      XmodemCallbacks cb;
      xmodem_kavel_callbacks(&h.ctx, &cb);
      xmodem_init(&st, &cb);
      xmodem_start_receive(&st, h.ctx.file_name, 2);
    }
  }

  if (opened == 0) {
    for (; pos < size && st.active; pos++) {
      uint8_t b = data[pos];
      if (b == kEscape && pos + 1 < size) {
        uint8_t n = data[++pos];
        if (n != 0) {
          h.now += n * 50u;
          xmodem_pump(&st);
          continue;
        }
      }
      xmodem_consume(&st, b);
    }
    if (st.active) xmodem_cancel(&st, nullptr);
    if (h.ctx.file) __builtin_trap();  // the ending closed it
    if (!sending) {
      // Everything stored reached the file: whole blocks, as reported.
      long on_disk = file_size(h.ctx.file_path);
      if (on_disk != static_cast<long>(st.bytes_done)) __builtin_trap();
    }
  }
  xmodem_kavel_close(&h.ctx);
  remove_dir(dl);
  remove_dir(up);
  mkdir(dl.c_str(), 0700);
  mkdir(up.c_str(), 0700);
  return 0;
}
