// The in-memory backend for tests and developer tools: screens and windows
// exist only as framebuffers, input is injected, and waits really pass time
// so that code with time-outs behaves as it would on a desktop.
#include <poll.h>
#include <time.h>

#include <new>
#include <string>

#include "platform/audio.h"
#include "platform/clipboard.h"
#include "platform/clock.h"
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
bool backend_present(PlatWindow*) {
  return true;
}
uint32_t backend_frame_ms() {
  return 16;
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

void backend_wait_fd(PlatWindow* window, int fd, short events, int timeout_ms) {
  // Injected events do not wake a poll: with a window, the descriptor is
  // polled in short steps and the queue looked at between them.
  long long step_ms = window ? kPollStepNs / 1000000 : timeout_ms;
  timespec start{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  for (;;) {
    if (window && !plat_queue_empty(window)) return;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    long long elapsed_ms =
        ((now.tv_sec - start.tv_sec) * 1000000000LL + (now.tv_nsec - start.tv_nsec)) / 1000000;
    if (elapsed_ms >= timeout_ms) return;
    long long left = timeout_ms - elapsed_ms;
    int wait = static_cast<int>(left < step_ms ? left : step_ms);
    if (fd >= 0) {
      pollfd p{fd, events, 0};
      if (poll(&p, 1, wait) > 0) return;
    } else {
      timespec pause{wait / 1000, (wait % 1000) * 1000000L};
      nanosleep(&pause, nullptr);
    }
  }
}

// ------------------------------------------------------------- clipboard --
// The desktop clipboard of a desktop that exists only in memory: text (any
// bytes, as another program may put there) or nothing.

namespace {

std::string g_clip_text;

}  // namespace

bool backend_clipboard_ready() {
  return true;
}

int backend_clipboard_put(const std::string& utf8) {
  g_clip_text = utf8;
  return 0;
}

int backend_clipboard_get(std::string* utf8) {
  *utf8 = g_clip_text;
  return 0;
}

void plat_headless_clipboard_set_text(const char* utf8, size_t len) {
  g_clip_text.assign(utf8 ? utf8 : "", utf8 ? len : 0);
}

void plat_headless_clipboard_set_nontext() {
  g_clip_text.clear();
}

bool plat_headless_clipboard_text(std::string* utf8) {
  if (g_clip_text.empty()) return false;
  *utf8 = g_clip_text;
  return true;
}

// ----------------------------------------------------------------- audio --
// Nothing is heard.  The queue drains at the stream's rate by clock_ms(), so
// a test moves playback on by setting the clock; each frame counts as played
// once its time has passed.

namespace {

PlatAudioRecord g_audio_record;

struct HeadlessAudio {
  size_t pending = 0;     // bytes queued and not played yet
  uint32_t last_ms = 0;   // when the queue was last brought up to date
  uint64_t frame_ms = 0;  // frames x 1000 of playing time not yet used up
};

HeadlessAudio* sim(PlatAudio* audio) {
  return static_cast<HeadlessAudio*>(audio->native);
}

// Plays what the time since the last look allows.
void drain(PlatAudio* audio) {
  HeadlessAudio* s = sim(audio);
  const uint32_t now = clock_ms();
  const uint32_t elapsed = now - s->last_ms;
  s->last_ms = now;
  if (s->pending == 0) {
    s->frame_ms = 0;  // an idle output saves up no time
    return;
  }
  s->frame_ms += static_cast<uint64_t>(elapsed) * audio->rate;
  const uint64_t frames = s->frame_ms / 1000;
  s->frame_ms %= 1000;
  const uint64_t can = frames * static_cast<uint64_t>(audio->frame_bytes);
  const size_t n = can < s->pending ? static_cast<size_t>(can) : s->pending;
  s->pending -= n;
  g_audio_record.played += n;
  if (s->pending == 0) s->frame_ms = 0;
}

}  // namespace

int backend_audio_open(PlatAudio* audio) {
  auto* s = new (std::nothrow) HeadlessAudio();
  if (!s) return -1;
  s->last_ms = clock_ms();
  audio->native = s;
  g_audio_record.opens++;
  g_audio_record.rate = audio->rate;
  g_audio_record.format = audio->format;
  return 0;
}

int backend_audio_queue(PlatAudio* audio, const uint8_t* bytes, size_t len) {
  drain(audio);
  g_audio_record.queued.insert(g_audio_record.queued.end(), bytes, bytes + len);
  sim(audio)->pending += len;
  return 0;
}

size_t backend_audio_queued(PlatAudio* audio) {
  drain(audio);
  return sim(audio)->pending;
}

void backend_audio_stop(PlatAudio* audio) {
  drain(audio);
  g_audio_record.stops++;
  g_audio_record.dropped += sim(audio)->pending;
  sim(audio)->pending = 0;
}

void backend_audio_close(PlatAudio* audio) {
  drain(audio);
  g_audio_record.closes++;
  g_audio_record.dropped += sim(audio)->pending;
  delete sim(audio);
  audio->native = nullptr;
}

const PlatAudioRecord& plat_headless_audio_record() {
  return g_audio_record;
}

void plat_headless_audio_reset() {
  g_audio_record = PlatAudioRecord();
}
