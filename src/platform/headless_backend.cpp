// The in-memory backend for tests and developer tools: screens and windows
// exist only as framebuffers, input is injected, and waits really pass time
// so that code with time-outs behaves as it would on a desktop.
#include <time.h>

#include "platform/internal.h"

namespace {

int g_width = 1920;
int g_height = 1080;
int g_depth = 24;
bool g_available = true;
int g_usable_w = 0;  // 0: the whole desktop
int g_usable_h = 0;

// A wait "for ever" would hang a test that forgot to inject its input; the
// headless backend gives up after this long instead (the caller sees no
// event, as after a time-out).
constexpr long long kForeverMs = 1000;
constexpr long kPollStepNs = 2 * 1000 * 1000;

}  // namespace

void plat_headless_set_desktop(int width, int height, int depth) {
  if (width > 0) g_width = width;
  if (height > 0) g_height = height;
  if (depth > 0) g_depth = depth;
}

void plat_headless_set_display_available(bool available) {
  g_available = available;
}

void plat_headless_set_usable_area(int width, int height) {
  g_usable_w = width > 0 ? width : 0;
  g_usable_h = height > 0 ? height : 0;
}

bool backend_usable_area(int* width, int* height) {
  if (!g_available) return false;
  *width = g_usable_w > 0 ? g_usable_w : g_width;
  *height = g_usable_h > 0 ? g_usable_h : g_height;
  return true;
}

bool backend_desktop(int* width, int* height, int* depth) {
  if (!g_available) return false;
  *width = g_width;
  *height = g_height;
  *depth = g_depth;
  return true;
}

int backend_screen_open(PlatScreen*) {
  return g_available ? 0 : -1;
}
void backend_screen_close(PlatScreen*) {}
void backend_screen_to_back(PlatScreen*) {}
int backend_window_open(PlatWindow*) {
  return g_available ? 0 : -1;
}
void backend_window_close(PlatWindow*) {}
void backend_window_title(PlatWindow*) {}
void backend_window_activate(PlatWindow*) {}
void backend_window_to_back(PlatWindow*) {}
bool backend_present(PlatWindow*, bool) {
  return true;
}
void backend_pump() {}

void backend_wait(PlatWindow* window, int timeout_ms) {
  // Real time, not clock_ms(): tests may have frozen that clock.
  long long limit = timeout_ms < 0 ? kForeverMs : timeout_ms;
  timespec start{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  for (;;) {
    if (!plat_queue_empty(window)) return;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    // In nanoseconds first: truncating a negative nanosecond difference to
    // milliseconds would count time that has not passed yet.
    long long elapsed_ns =
        (now.tv_sec - start.tv_sec) * 1000000000LL + (now.tv_nsec - start.tv_nsec);
    long long elapsed_ms = elapsed_ns / 1000000;
    if (elapsed_ms >= limit) return;
    long long left_ns = limit * 1000000LL - elapsed_ns;
    timespec step{0, left_ns < kPollStepNs ? static_cast<long>(left_ns) : kPollStepNs};
    nanosleep(&step, nullptr);
  }
}
