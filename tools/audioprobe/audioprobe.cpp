// layers: platform
// Plays raw samples through Kavel's audio output, polling every tick as the
// dialing step does, for checking the output by hand and in
// tests/scripts/platform_audio.sh (with SDL's disk driver).
//
//   kavel-audioprobe [--rate HZ] [--format mono8|mono16|stereo8|stereo16]
//                    [--stop-after MS] [--hold MS] FILE
//
// FILE holds samples as the output takes them (signed 8-bit, or signed
// 16-bit big-endian).  The probe queues all of them, polls until they have
// played or, with --stop-after, stops the output that many milliseconds
// after queueing; then it waits --hold milliseconds (default 0) with the
// output still open, and closes it.  It prints what happened on standard
// output.  Exit status: 0 done, 3 no audio device, 1 other failures, 2 bad
// usage.
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/audio.h"
#include "platform/clock.h"

namespace {

int usage() {
  fprintf(stderr,
          "usage: kavel-audioprobe [--rate HZ] [--format mono8|mono16|stereo8|stereo16]\n"
          "                        [--stop-after MS] [--hold MS] FILE\n");
  return 2;
}

void sleep_ms(int ms) {
  timespec t{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
  nanosleep(&t, nullptr);
}

int format_by_name(const char* name) {
  const char* names[] = {"mono8", "mono16", "stereo8", "stereo16"};
  for (int i = 0; i < 4; i++)
    if (strcmp(name, names[i]) == 0) return i;
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  uint32_t rate = 11025;
  int format = PLAT_AUDIO_MONO8;
  long stop_after = -1;
  int hold = 0;
  const char* file = nullptr;
  for (int i = 1; i < argc; i++) {
    const bool more = i + 1 < argc;
    if (strcmp(argv[i], "--rate") == 0 && more) {
      rate = static_cast<uint32_t>(strtoul(argv[++i], nullptr, 10));
    } else if (strcmp(argv[i], "--format") == 0 && more) {
      format = format_by_name(argv[++i]);
      if (format < 0) return usage();
    } else if (strcmp(argv[i], "--stop-after") == 0 && more) {
      stop_after = atol(argv[++i]);
    } else if (strcmp(argv[i], "--hold") == 0 && more) {
      hold = atoi(argv[++i]);
    } else if (!file) {
      file = argv[i];
    } else {
      return usage();
    }
  }
  if (!file) return usage();

  std::vector<uint8_t> samples;
  FILE* f = fopen(file, "rb");
  if (!f) {
    fprintf(stderr, "audioprobe: cannot read %s\n", file);
    return 1;
  }
  uint8_t buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) samples.insert(samples.end(), buf, buf + n);
  fclose(f);

  PlatAudio* audio = plat_audio_open(rate, format);
  if (!audio) {
    printf("no audio output for %u Hz, format %d\n", rate, format);
    return 3;
  }
  printf("open %u Hz, format %d\n", rate, format);
  if (plat_audio_queue(audio, samples.data(), samples.size()) != 0) {
    printf("queue refused %zu bytes\n", samples.size());
    plat_audio_close(audio);
    return 1;
  }
  const uint32_t start = clock_ms();
  printf("queued %zu bytes\n", samples.size());
  fflush(stdout);
  // One tick between polls, as the dialing step polls.
  for (;;) {
    const size_t left = plat_audio_queued(audio);
    const uint32_t spent = clock_ms() - start;
    if (left == 0) {
      printf("drained after %u ms\n", spent);
      break;
    }
    if (stop_after >= 0 && spent >= stop_after) {
      plat_audio_stop(audio);
      printf(
          "stopped after %u ms with %zu bytes queued (%zu consumed); %zu queued after the stop\n",
          spent, left, samples.size() - left, plat_audio_queued(audio));
      break;
    }
    sleep_ms(20);
  }
  fflush(stdout);
  sleep_ms(hold);
  plat_audio_close(audio);
  printf("closed\n");
  return 0;
}
