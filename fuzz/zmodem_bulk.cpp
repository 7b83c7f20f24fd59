// layers: transfer
// The receiving path's bulk entry against the byte-by-byte one: the same
// arbitrary bytes (after a detected start) go to two engines, one byte at a
// time to the first and in runs of varying length through
// zmodem_consume_active to the second, whenever a transfer runs.  Their
// replies, texts and counters must stay the same; a difference aborts.
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

struct Side {
  ZmodemState z;
  std::string dir;
  std::string sent;
};

Side g_side[2];
uint32_t g_clock;

std::string make_dir() {
  char tmpl[] = "/tmp/kavel-fuzz-bulk-XXXXXX";
  const char* d = mkdtemp(tmpl);
  if (!d) abort();
  return d;
}

void empty_dir(const std::string& dir) {
  DIR* d = opendir(dir.c_str());
  if (!d) return;
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name != "." && name != "..") unlink((dir + "/" + name).c_str());
  }
  closedir(d);
}

void reset(Side* side) {
  if (side->z.file) fclose(side->z.file);
  memset(static_cast<void*>(&side->z), 0, sizeof side->z);
  side->sent.clear();
  ZmodemHooks& h = side->z.hooks;
  h.ctx = side;
  h.send = [](void* c, const uint8_t* b, size_t n) {
    static_cast<Side*>(c)->sent.append(reinterpret_cast<const char*>(b), n);
    return 0;
  };
  h.now_ms = [](void*) { return g_clock; };
  h.download_dir = [](void* c) { return static_cast<Side*>(c)->dir.c_str(); };
  static const uint8_t kStart[] = {'*', '*', 0x18, 'B'};
  zmodem_consume(&side->z, kStart, sizeof kStart);
}

void check_same() {
  const ZmodemState& a = g_side[0].z;
  const ZmodemState& b = g_side[1].z;
  if (g_side[0].sent != g_side[1].sent || a.active != b.active || a.position != b.position ||
      a.byte_count != b.byte_count || a.error_count != b.error_count ||
      strcmp(a.status_text, b.status_text) != 0 || a.ending != b.ending)
    abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (g_side[0].dir.empty()) {
    g_side[0].dir = make_dir();
    g_side[1].dir = make_dir();
  }
  if (size < 2) return 0;
  g_clock = 100000;
  for (Side& s : g_side) {
    empty_dir(s.dir);
    reset(&s);
  }
  uint32_t lengths = data[0] * 2654435761u;  // run lengths, drawn from the first byte
  const uint8_t* in = data + 1;
  size_t n = size - 1;
  for (size_t i = 0; i < n; ++i) zmodem_consume_byte(&g_side[0].z, in[i]);
  size_t i = 0;
  while (i < n) {
    if (!g_side[1].z.active) {
      zmodem_consume_byte(&g_side[1].z, in[i++]);
      continue;
    }
    lengths = lengths * 1103515245u + 12345u;
    size_t want = 1 + (lengths >> 16) % 4096;
    size_t len = want < n - i ? want : n - i;
    size_t taken = zmodem_consume_active(&g_side[1].z, in + i, len);
    if (taken > len || (taken < len && g_side[1].z.active)) abort();
    i += taken;
  }
  check_same();
  for (Side& s : g_side) {
    if (s.z.file) {
      fclose(s.z.file);
      s.z.file = nullptr;
    }
  }
  return 0;
}
