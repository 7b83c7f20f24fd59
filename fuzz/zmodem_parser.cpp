// layers: transfer
// Arbitrary bytes from the other side through the ZMODEM byte path: start
// detection, header hunting, hex and binary headers, data subpackets and the
// header handler of both directions.  The first byte picks how the run
// begins (idle, already receiving, or uploading a small file) and the file-
// exists answer; every 64th input byte also advances the clock and polls,
// so the timers and the upload stream run too.  Files go to a temporary
// directory that is emptied after every input.  It holds "part.bin", the
// start of a file an offer of that name may resume: unless the answer is
// overwrite, its first bytes must be as they were after every input (a
// resume appends, a failed check changes nothing).
#include <dirent.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "transfer/zmodem.h"

namespace {

std::string g_dir;
uint32_t g_clock;
int g_answer;
size_t g_sent;
constexpr int kPartLength = 1000;

uint8_t part_byte(int i) {
  return static_cast<uint8_t>(i * 13 + 5);
}

void write_part() {
  FILE* f = fopen((g_dir + "/part.bin").c_str(), "wb");
  if (!f) abort();
  for (int i = 0; i < kPartLength; ++i) fputc(part_byte(i), f);
  fclose(f);
}

// The part's first bytes are as written (or the file is gone: never here,
// since nothing deletes a file).
void check_part() {
  FILE* f = fopen((g_dir + "/part.bin").c_str(), "rb");
  if (!f) abort();
  for (int i = 0; i < kPartLength; ++i) {
    if (fgetc(f) != part_byte(i)) abort();
  }
  fclose(f);
}

std::string make_dir() {
  char tmpl[] = "/tmp/kavel-fuzz-zmodem-XXXXXX";
  const char* d = mkdtemp(tmpl);
  if (!d) abort();
  std::string upload = std::string(d) + "/upload.src";
  FILE* f = fopen(upload.c_str(), "wb");
  if (!f) abort();
  for (int i = 0; i < 3000; ++i) fputc(i * 7, f);
  fclose(f);
  return d;
}

void empty_dir() {
  DIR* d = opendir(g_dir.c_str());
  if (!d) return;
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == ".." || name == "upload.src") continue;
    unlink((g_dir + "/" + name).c_str());
  }
  closedir(d);
}

void set_hooks(ZmodemState* z) {
  z->hooks.ctx = nullptr;
  z->hooks.send = [](void*, const uint8_t*, size_t n) {
    g_sent += n;
    return 0;
  };
  z->hooks.now_ms = [](void*) { return g_clock; };
  z->hooks.file_exists = [](void*, const char*) { return g_answer; };
  z->hooks.file_exists_resume = [](void*, const ZmodemExistsQuestion* q) {
    if (q->can_resume && q->existing <= 0) abort();
    return g_answer;
  };
  z->hooks.download_dir = [](void*) { return g_dir.c_str(); };
  z->hooks.pick_upload = [](void*, char* path, size_t cap) {
    snprintf(path, cap, "%s/upload.src", g_dir.c_str());
    return 1;
  };
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (g_dir.empty()) g_dir = make_dir();
  if (size == 0) return 0;
  static ZmodemState z;
  memset(static_cast<void*>(&z), 0, sizeof z);
  set_hooks(&z);
  g_clock = 100000;
  g_answer = data[0] % 4 == 3 ? kZmodemResume : data[0] % 3;
  write_part();
  switch ((data[0] >> 2) % 3) {
    case 1: {
      static const uint8_t kStart[] = {'*', '*', 0x18, 'B'};
      zmodem_consume(&z, kStart, sizeof kStart);
      break;
    }
    case 2:
      zmodem_start_upload(&z, (g_dir + "/upload.src").c_str());
      break;
    default:
      break;
  }
  for (size_t i = 1; i < size; ++i) {
    zmodem_consume_byte(&z, data[i]);
    if (i % 64 == 0) {
      g_clock += 700;
      zmodem_poll(&z);
    }
  }
  g_clock += 5000;
  zmodem_poll(&z);
  if (z.active || z.file) zmodem_finish(&z, "ZMODEM cancelled");
  if (g_answer != kZmodemOverwrite) check_part();
  empty_dir();
  return 0;
}
