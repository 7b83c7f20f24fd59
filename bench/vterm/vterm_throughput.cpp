// The same byte stream as bench_terminal_throughput through libvterm (its
// parser and screen model, 80 x 25, no drawing at all): the yardstick for
// Kavel's receive path, which draws every cell as well.
//
//   bench_vterm_throughput [MiB]   (default 32)
//
// libvterm runs in its UTF-8 mode: each byte of 128 and above of the CP437
// stream is not valid UTF-8 there and becomes one replacement character in a
// cell, so both terminals fill the same number of cells.  (In its 8-bit mode
// bytes 0x80..0x9F would be C1 controls, DCS and CSI among them, and whole
// stretches of text would be swallowed as control strings.)  CPU time, best
// of three passes, as in the other benchmark.
#include <time.h>
#include <vterm.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "../ansi_stream.h"

namespace {

double cpu_seconds() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

// Bytes 0 .. end of the stream in pieces of 512, as a session reads them.
// (libvterm decodes a whole write into a buffer on the stack: a write of
// megabytes overflows it.)
void feed(VTerm* vt, const std::string& stream, size_t end) {
  for (size_t at = 0; at < end; at += 512) {
    size_t n = end - at < 512 ? end - at : 512;
    vterm_input_write(vt, stream.data() + at, n);
  }
}

}  // namespace

int main(int argc, char** argv) {
  double mib = argc > 1 ? atof(argv[1]) : 32;
  if (mib <= 0) mib = 32;
  const std::string stream = make_stream(static_cast<size_t>(mib * 1024 * 1024));
  VTerm* vt = vterm_new(25, 80);
  if (!vt) {
    fprintf(stderr, "vterm_new failed\n");
    return 1;
  }
  vterm_set_utf8(vt, 1);
  VTermScreen* screen = vterm_obtain_screen(vt);
  vterm_screen_reset(screen, 1);
  // Warm up as the other benchmark does, then the best of three passes.
  feed(vt, stream, stream.size() / 8);
  const double size = stream.size() / (1024.0 * 1024.0);
  double best_cpu = 0, best_wall = 0;
  for (int pass = 0; pass < 3; pass++) {
    auto start = std::chrono::steady_clock::now();
    double cpu_start = cpu_seconds();
    feed(vt, stream, stream.size());
    double cpu = cpu_seconds() - cpu_start;
    std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
    if (size / cpu > best_cpu) best_cpu = size / cpu;
    if (size / wall.count() > best_wall) best_wall = size / wall.count();
  }
  printf("libvterm: %.1f MiB stream, %.1f MiB/s (CPU time; wall clock %.1f MiB/s)\n", size,
         best_cpu, best_wall);
  vterm_free(vt);
  return 0;
}
