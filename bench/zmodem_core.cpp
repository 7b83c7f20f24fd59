// layers: transfer
// Throughput of the ZMODEM core alone, the way a session drives it: the
// receiver is fed one byte per call (as the Telnet layer hands them over)
// and writes a real file; the sender streams a real file into a sink.
// Reports MiB/s and CPU seconds per MiB for each direction.
//
//   bench_zmodem_core [MIB]   (default 64)
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "transfer/zmodem.h"

namespace {

double wall() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double cpu() {
  rusage ru;
  getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

uint32_t g_clock = 1000;
std::vector<uint8_t>* g_capture = nullptr;
size_t g_sink = 0;

void hooks(ZmodemState* z, const char* dir) {
  z->hooks.send = [](void*, const uint8_t* b, size_t n) {
    if (g_capture) g_capture->insert(g_capture->end(), b, b + n);
    g_sink += n;
    return 0;
  };
  z->hooks.now_ms = [](void*) { return g_clock; };
  z->hooks.download_dir = [](void* c) { return static_cast<const char*>(c); };
  z->hooks.ctx = const_cast<char*>(dir);
}

long rss_kib() {
  FILE* f = fopen("/proc/self/statm", "r");
  long pages = 0, resident = 0;
  if (f) {
    if (fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    fclose(f);
  }
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

}  // namespace

int main(int argc, char** argv) {
  size_t mib = argc > 1 ? strtoul(argv[1], nullptr, 10) : 64;
  char dir[] = "/tmp/kavel-bench-zmodem-XXXXXX";
  if (!mkdtemp(dir)) return 1;
  std::string src = std::string(dir) + "/src.bin";
  {
    std::mt19937 rng(1);
    std::vector<uint8_t> block(1 << 20);
    FILE* f = fopen(src.c_str(), "wb");
    for (size_t m = 0; m < mib; ++m) {
      for (auto& b : block) b = static_cast<uint8_t>(rng());
      fwrite(block.data(), 1, block.size(), f);
    }
    fclose(f);
  }

  // Send: stream the file into a capture of the wire (acknowledged at once).
  static ZmodemState tx;
  hooks(&tx, dir);
  std::vector<uint8_t> wire;
  wire.reserve(mib * (1 << 20) * 102 / 100 + 65536);
  g_capture = &wire;
  zmodem_start_upload(&tx, src.c_str());
  uint8_t zrinit[32];
  size_t n = zmodem_build_hex_header(zrinit, sizeof zrinit, ZRINIT, 0x23000000u);
  zmodem_consume(&tx, zrinit, n);
  wire.clear();
  n = zmodem_build_hex_header(zrinit, sizeof zrinit, ZRPOS, 0);
  double w0 = wall(), c0 = cpu();
  zmodem_consume(&tx, zrinit, n);
  n = zmodem_build_hex_header(zrinit, sizeof zrinit, ZACK, 1024);
  zmodem_consume(&tx, zrinit, n);
  while (tx.streaming || tx.window_wait) {
    if (tx.window_wait) {  // the receiver's ZACK for the last ZCRCQ
      n = zmodem_build_hex_header(zrinit, sizeof zrinit, ZACK, tx.position);
      zmodem_consume(&tx, zrinit, n);
    } else {
      zmodem_poll(&tx);
    }
  }
  double ws = wall() - w0, cs = cpu() - c0;
  g_capture = nullptr;

  // Receive: the captured stream (ZFILE and its data) one byte per call.
  static ZmodemState rx;
  hooks(&rx, dir);
  std::string info = std::string("dst.bin") + '\0' + std::to_string(mib << 20) + '\0';
  uint8_t head[600];
  size_t hn = zmodem_build_hex_header(head, sizeof head, ZRQINIT, 0);
  zmodem_consume(&rx, head, hn);
  hn = zmodem_build_binary_header(head, sizeof head, ZFILE, 0, 1);
  hn += zmodem_build_data_packet(head + hn, sizeof head - hn,
                                 reinterpret_cast<const uint8_t*>(info.data()), info.size(), ZCRCW,
                                 1);
  zmodem_consume(&rx, head, hn);
  long rss_start = rss_kib();
  long rss_1mib = 0;
  w0 = wall();
  c0 = cpu();
  for (size_t i = 0; i < wire.size(); ++i) {
    zmodem_consume_byte(&rx, wire[i]);
    if (i == (1u << 20)) rss_1mib = rss_kib();
  }
  double wr = wall() - w0, cr = cpu() - c0;
  long rss_end = rss_kib();
  bool ok = rx.file == nullptr && rx.position == (mib << 20);

  printf("zmodem core, %zu MiB of random data\n", mib);
  printf("  send:    %7.1f MiB/s, %.4f CPU s/MiB (wire %.2f%% larger)\n", mib / ws, cs / mib,
         100.0 * (static_cast<double>(wire.size()) / static_cast<double>(mib << 20) - 1));
  printf("  receive: %7.1f MiB/s, %.4f CPU s/MiB, byte by byte into a file%s\n", mib / wr, cr / mib,
         ok ? "" : " (INCOMPLETE)");
  printf("  receiver resident: %ld KiB before, %ld KiB at 1 MiB, %ld KiB at the end\n", rss_start,
         rss_1mib, rss_end);
  unlink(src.c_str());
  unlink((std::string(dir) + "/dst.bin").c_str());
  rmdir(dir);
  return ok ? 0 : 1;
}
