// The program's clocks.  Timers compare 32-bit millisecond readings by
// unsigned subtraction, so a monotonic source is used (a change of the wall
// clock must not stall or fire every timer); tests can fix the time.
#include "platform/clock.h"

#include <time.h>

namespace {

bool g_fixed = false;
uint32_t g_fixed_ms = 0;
int64_t g_fixed_epoch_ms = 0;  // wall clock while fixed, moved by advances

uint64_t real_monotonic_ms() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

int64_t real_epoch_ms() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace

uint32_t clock_ms() {
  if (g_fixed) return g_fixed_ms;
  return static_cast<uint32_t>(real_monotonic_ms());
}

int64_t clock_epoch_seconds() {
  if (g_fixed) return g_fixed_epoch_ms / 1000;
  return real_epoch_ms() / 1000;
}

bool clock_local_time(std::tm* out) {
  if (!out) return false;
  time_t t = static_cast<time_t>(clock_epoch_seconds());
  return localtime_r(&t, out) != nullptr;
}

void clock_test_set_ms(uint32_t ms) {
  if (!g_fixed) g_fixed_epoch_ms = real_epoch_ms();
  g_fixed = true;
  g_fixed_ms = ms;
}

void clock_test_advance_ms(uint32_t ms) {
  if (!g_fixed) clock_test_set_ms(clock_ms());
  g_fixed_ms += ms;  // wraps like the real reading
  g_fixed_epoch_ms += ms;
}

void clock_test_reset() {
  g_fixed = false;
}
