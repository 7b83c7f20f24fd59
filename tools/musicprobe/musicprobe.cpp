// layers: terminal
// Plays an ANSI music string through the terminal's music player and the
// platform's audio output, pumping every tick as the session loop does, for
// checking the music by ear and in tests/scripts/platform_audio.sh (with
// SDL's disk driver).
//
//   kavel-musicprobe MUSIC
//
// MUSIC is the string between ESC [ | and SO (e.g. "T120 L4 O2 A O3 C E").
// A character after the string waits for foreground music; the probe prints
// when it got through ("display went on after N ms"), then closes.  Exit
// status: 0 done, 3 the music did not hold the display (no audio device),
// 2 bad usage.
#include <time.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "terminal/terminal.h"

namespace {

void sleep_ms(int ms) {
  timespec t{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
  nanosleep(&t, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: kavel-musicprobe MUSIC\n");
    return 2;
  }
  auto t = std::make_unique<Terminal>();
  term_init_record(t.get());
  term_clear_screen(t.get());
  std::string bytes = std::string("\x1b[|") + argv[1] + "\x0eX";
  const uint32_t start = clock_ms();
  for (unsigned char c : bytes) term_consume_byte(t.get(), c);
  if (!term_music_holding(t.get())) {
    printf("the music did not hold the display\n");
    return 3;
  }
  printf("playing\n");
  fflush(stdout);
  while (term_music_holding(t.get()) && clock_ms() - start < 60000) {
    sleep_ms(20);
    term_music_pump(t.get());
  }
  printf("display went on after %u ms with '%c'\n", clock_ms() - start, t->cells[0][0].ch);
  term_music_stop(t.get());
  return 0;
}
