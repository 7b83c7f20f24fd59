// The terminal bell: a flash of the window, rate-limited so that a BBS that
// sends a burst of BEL bytes does not turn the window into a strobe.
#include "platform/clock.h"
#include "terminal/hooks.h"
#include "terminal/terminal.h"

int g_beep_sound_enabled = 1;

// Bells closer together than this are merged into one.
static constexpr uint32_t kBellMinIntervalMs = 120;

void term_bell(Terminal* t) {
  if (!t || !g_beep_sound_enabled) return;
  // The millisecond clock is monotonic: a wall-clock step backwards cannot
  // silence the bell, and the unsigned difference survives the 32-bit wrap.
  uint32_t now = clock_ms();
  if (t->bell_rung && now - t->last_bell_ms < kBellMinIntervalMs) return;
  t->last_bell_ms = now;
  t->bell_rung = 1;
  if (g_term_hooks.flash) g_term_hooks.flash(t);
}
