// The dial sound step through the headless audio output, whose queue drains
// by the test clock: what reaches the device, the cancel, the fall-backs,
// and a call from the menu that is cancelled during the sound or goes on to
// connect.
#include "dial/modem_sound.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "assets/embedded.h"
#include "dial/dialing.h"
#include "dial/wave.h"
#include "display/modes.h"
#include "display/ui_surface.h"
#include "link/connect.h"
#include "phonebook/phonebook.h"
#include "phonebook/prefs.h"
#include "platform/audio.h"
#include "platform/clock.h"
#include "platform/display.h"
#include "platform/dos.h"
#include "session/input.h"
#include "session/session.h"
#include "session/session_loop.h"
#include "terminal/active_font.h"
#include "util/text.h"

namespace {

// Each pause moves the test clock one tick on, so the headless device plays
// 20 ms of sound per poll; a test can act at a chosen tick.
int g_ticks = 0;
int g_escape_at = -1;  // inject Escape before this tick
int g_close_at = -1;   // inject a close request before this tick
UiContext* g_ui = nullptr;

void tick() {
  g_ticks++;
  PlatEvent e;
  if (g_ticks == g_escape_at) {
    e.cls = PLAT_EV_VANILLAKEY;
    e.code = 27;
    plat_inject_event(g_ui->window, e);
  }
  if (g_ticks == g_close_at) {
    e.cls = PLAT_EV_CLOSE;
    plat_inject_event(g_ui->window, e);
  }
  clock_test_advance_ms(20);
}

// A small PCM WAVE: 8-bit mono at the given rate.
std::string wave8(uint32_t rate, size_t samples) {
  std::string data;
  for (size_t i = 0; i < samples; i++) data.push_back(static_cast<char>(i * 7 % 256));
  auto le32 = [](uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; i++) s[i] = static_cast<char>(v >> (8 * i));
    return s;
  };
  std::string fmt = std::string("\x01\x00\x01\x00", 4) + le32(rate) + le32(rate) +
                    std::string("\x01\x00\x08\x00", 4);
  std::string body = "WAVEfmt " + le32(16) + fmt + "data" + le32(samples) + data;
  return "RIFF" + le32(static_cast<uint32_t>(body.size())) + body;
}

std::vector<uint8_t> converted(const uint8_t* wav, size_t len) {
  WavePcm pcm;
  EXPECT_EQ(wave_prepare(wav, len, &pcm), 0);
  return std::vector<uint8_t>(pcm.bytes.get(), pcm.bytes.get() + pcm.size);
}

class ModemSound : public ::testing::Test {
 protected:
  void SetUp() override {
    display_set_window_mode(DISPLAY_MODE_WINDOW);
    session_input_reset();
    clock_test_set_ms(1000000);
    plat_headless_audio_reset();
    plat_headless_set_audio_available(true);
    ASSERT_EQ(ui_open_menu(&ui, "Kavel"), 0);
    g_ui = &ui;
    g_ticks = 0;
    g_escape_at = -1;
    g_close_at = -1;
    opts.pause = tick;
  }
  void TearDown() override {
    ui_close(&ui);
    ui_end_dialing_status();
    plat_headless_set_audio_available(true);
    plat_headless_audio_reset();
    transfer_prefs_set_defaults();
    clock_test_reset();
    g_ui = nullptr;
  }
  UiContext ui{};
  ModemSoundOptions opts;
};

// A call from the menu display ui to 127.0.0.1:port.
int call_from(UiContext* ui, int port, PhoneEntry* entry = nullptr) {
  const SessionRequest req{.host = "127.0.0.1",
                           .port = port,
                           .emulation = kEmulationAnsi,
                           .font = "CP437",
                           .entry = entry,
                           .ui = ui};
  return run_session_common(&req);
}

}  // namespace

TEST_F(ModemSound, TheChosenRecordingReachesTheDeviceWhole) {
  struct {
    const char* choice;
    const uint8_t* wav;
    size_t len;
  } cases[] = {
      {"modem01", kavel_modem01_wav, kavel_modem01_wav_len},
      {"modem02", kavel_modem02_wav, kavel_modem02_wav_len},
      {"", kavel_modem01_wav, kavel_modem01_wav_len},
      {"Sound 02", kavel_modem02_wav, kavel_modem02_wav_len},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.choice);
    plat_headless_audio_reset();
    g_ticks = 0;
    safe_copy(g_modem_sound_path, sizeof g_modem_sound_path, c.choice);
    ui_begin_dialing_status(&ui, nullptr);
    EXPECT_EQ(modem_sound_step(&ui, &opts), 0);
    const PlatAudioRecord& rec = plat_headless_audio_record();
    EXPECT_EQ(rec.opens, 1);
    EXPECT_EQ(rec.closes, 1);
    EXPECT_EQ(rec.stops, 0);
    EXPECT_EQ(rec.rate, 11025u);
    EXPECT_EQ(rec.format, PLAT_AUDIO_MONO8);
    EXPECT_EQ(rec.queued, converted(c.wav, c.len));
    EXPECT_EQ(rec.played, rec.queued.size());
    // It polled for about the sound's length, a tick at a time.
    double seconds = static_cast<double>(rec.queued.size()) / 11025.0;
    EXPECT_NEAR(g_ticks * 0.02, seconds, 0.05);
    // The box stays up for the connect that follows.
    EXPECT_EQ(g_connect_popup_dialing_mode, 1);
  }
}

TEST_F(ModemSound, TheUserStopsItAtOnce) {
  struct {
    const char* name;
    int* at;
    int close_requested;
  } cases[] = {
      {"Escape", &g_escape_at, 0},
      {"the close button", &g_close_at, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    plat_headless_audio_reset();
    g_ticks = 0;
    g_escape_at = g_close_at = -1;
    *c.at = 50;  // one second in
    ui.close_requested = 0;
    ui_begin_dialing_status(&ui, nullptr);
    EXPECT_EQ(modem_sound_play(&ui, kavel_modem01_wav, kavel_modem01_wav_len, &opts),
              CONNECT_CANCELLED);
    const PlatAudioRecord& rec = plat_headless_audio_record();
    EXPECT_EQ(g_ticks, 50);  // no pause after the cancel
    EXPECT_EQ(rec.stops, 1);
    EXPECT_EQ(rec.closes, 1);
    // About a second played, the rest dropped.
    EXPECT_NEAR(static_cast<double>(rec.played), 11025.0, 11025.0 * 0.05);
    EXPECT_EQ(rec.played + rec.dropped, rec.queued.size());
    EXPECT_EQ(ui.close_requested, c.close_requested);
  }
}

TEST_F(ModemSound, SoundsThatCannotBeUsedFallBackQuietly) {
  std::string good = wave8(11025, 2205);
  std::string truncated = good.substr(0, 30);
  std::string not_pcm = good;
  not_pcm[20] = 3;                          // format tag 3
  std::string odd_rate = wave8(500, 2205);  // a rate no device takes
  struct {
    const char* name;
    std::string wav;
    bool device;
    int ticks;  // pauses before the connect
    int opens;
  } cases[] = {
      {"a short file pauses a second", truncated, true, kModemSoundFallbackTicks, 0},
      {"not PCM pauses a second", not_pcm, true, kModemSoundFallbackTicks, 0},
      {"no audio device: no pause", good, false, 0, 0},
      {"a rate the device refuses: no pause", odd_rate, true, 0, 0},
      {"a good small file plays a fifth of a second", good, true, 10, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    plat_headless_audio_reset();
    plat_headless_set_audio_available(c.device);
    g_ticks = 0;
    ui_begin_dialing_status(&ui, nullptr);
    const auto* bytes = reinterpret_cast<const uint8_t*>(c.wav.data());
    EXPECT_EQ(modem_sound_play(&ui, bytes, c.wav.size(), &opts), 0);
    EXPECT_EQ(g_ticks, c.ticks);
    EXPECT_EQ(plat_headless_audio_record().opens, c.opens);
  }
}

TEST_F(ModemSound, TheFallBackPauseCanBeCancelled) {
  g_escape_at = 10;
  std::string bad = "RIFF....WAVE";
  ui_begin_dialing_status(&ui, nullptr);
  EXPECT_EQ(modem_sound_play(&ui, reinterpret_cast<const uint8_t*>(bad.data()), bad.size(), &opts),
            CONNECT_CANCELLED);
  EXPECT_EQ(g_ticks, 10);
}

TEST_F(ModemSound, ItBeginsTheDialingBoxWhenItIsNotUp) {
  ui_end_dialing_status();
  std::string good = wave8(11025, 441);
  modem_sound_play(&ui, reinterpret_cast<const uint8_t*>(good.data()), good.size(), &opts);
  EXPECT_EQ(g_connect_popup_dialing_mode, 1);
  EXPECT_STREQ(g_connect_popup_bbs_name, "BBS");
  EXPECT_EQ(g_connect_popup_time_rect_valid, 1);
}

namespace {

// A listening socket on loopback that never accepts: whether a call reached
// it shows as a pending connection.
struct Listener {
  int fd = -1;
  int port = 0;
  Listener() {
    fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    listen(fd, 1);
    socklen_t len = sizeof sa;
    getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
    port = ntohs(sa.sin_port);
  }
  ~Listener() { close(fd); }
  bool called() const {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, 200) > 0;
  }
};

}  // namespace

TEST_F(ModemSound, EscapeDuringTheSoundOfACallFromTheMenuConnectsNothing) {
  clock_test_reset();  // the real clock: the headless device plays in real time
  g_modem_sound_enabled = 1;
  safe_copy(g_modem_sound_path, sizeof g_modem_sound_path, "modem02");
  Listener bbs;
  PhoneEntry entry{};
  safe_copy(entry.name, sizeof entry.name, "Listener");
  PlatEvent esc;
  esc.cls = PLAT_EV_VANILLAKEY;
  esc.code = 27;
  plat_inject_event(ui.window, esc);
  auto start = std::chrono::steady_clock::now();
  int r = call_from(&ui, bbs.port, &entry);
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(r, CONNECT_CANCELLED);
  EXPECT_FALSE(bbs.called());
  EXPECT_LT(took, std::chrono::seconds(2));
  const PlatAudioRecord& rec = plat_headless_audio_record();
  EXPECT_EQ(rec.opens, 1);
  EXPECT_EQ(rec.stops, 1);
  EXPECT_EQ(rec.queued.size(), converted(kavel_modem02_wav, kavel_modem02_wav_len).size());
  EXPECT_EQ(g_connect_popup_dialing_mode, 0);
  EXPECT_EQ(ui.close_requested, 0);
  EXPECT_NE(ui.window, nullptr);
}

TEST_F(ModemSound, WithoutAnAudioDeviceTheCallConnectsAtOnce) {
  clock_test_reset();
  g_modem_sound_enabled = 1;
  plat_headless_set_audio_available(false);
  Listener bbs;
  // The listener never answers: the connect succeeds (the kernel accepts
  // into the backlog) and the session's first turns see no data; closing the
  // menu window ends the session.
  std::thread closer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    dos_raise_break();
  });
  auto start = std::chrono::steady_clock::now();
  int r = call_from(&ui, bbs.port);
  closer.join();
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(r, 0);
  EXPECT_TRUE(bbs.called());
  EXPECT_LT(took, std::chrono::seconds(3));
  EXPECT_EQ(plat_headless_audio_record().opens, 0);
  EXPECT_EQ(g_connect_popup_dialing_mode, 0);
  // The menu has its window back.
  EXPECT_NE(ui.window, nullptr);
  EXPECT_STREQ(plat_window_title(ui.window), "Kavel");
}

TEST_F(ModemSound, AModeChosenWhileDialingIsTheMenusAfterAFailedCall) {
  clock_test_reset();
  g_modem_sound_enabled = 1;
  plat_headless_set_audio_available(false);
  int port;
  {
    Listener gone;  // a port that was free a moment ago: the call is refused
    port = gone.port;
  }
  PlatEvent alt_enter;
  alt_enter.cls = PLAT_EV_VANILLAKEY;
  alt_enter.code = 13;
  alt_enter.qualifier = PLAT_QUAL_LALT;
  plat_inject_event(ui.window, alt_enter);
  EXPECT_EQ(call_from(&ui, port), CONNECT_FAILED);
  // The menu window went medium on the dialing box, and the mode flags say
  // so: the menu's next Alt+Enter goes on to full screen.
  EXPECT_EQ(ui.medium_window, 1);
  EXPECT_EQ(display_window_mode(), DISPLAY_MODE_MEDIUM);
  EXPECT_STREQ(g_active_font, "CP437");
  display_set_window_mode(DISPLAY_MODE_WINDOW);
}
