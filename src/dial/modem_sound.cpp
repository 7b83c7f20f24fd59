// The dial sound step: validate and convert the recording, play it with the
// dialing box live, stop it at once on cancel.
#include "dial/modem_sound.h"

#include "assets/embedded.h"
#include "dial/dialing.h"
#include "dial/wave.h"
#include "display/ui_surface.h"
#include "link/connect.h"
#include "phonebook/prefs.h"
#include "platform/audio.h"
#include "platform/dos.h"

// The converter hands its sample type straight to the audio output.
static_assert(static_cast<int>(kWaveMono8) == PLAT_AUDIO_MONO8 &&
                  static_cast<int>(kWaveMono16) == PLAT_AUDIO_MONO16 &&
                  static_cast<int>(kWaveStereo8) == PLAT_AUDIO_STEREO8 &&
                  static_cast<int>(kWaveStereo16) == PLAT_AUDIO_STEREO16,
              "wave.h and audio.h must number the sample layouts alike");

namespace {

void pause_tick(const ModemSoundOptions* opts) {
  if (opts && opts->pause) {
    opts->pause();
  } else {
    dos_delay(1);
  }
}

bool cancelled(UiContext* ui) {
  return ui->window && ui_poll_connect_cancel(ui) != 0;
}

// A sound that cannot be used still takes about the second a short dial
// would, with the box live and the cancel keys working.
int fallback_pause(UiContext* ui, const ModemSoundOptions* opts) {
  for (int i = 0; i < kModemSoundFallbackTicks; i++) {
    if (cancelled(ui)) return CONNECT_CANCELLED;
    pause_tick(opts);
  }
  return 0;
}

}  // namespace

const uint8_t* modem_sound_recording(const char* choice, size_t* len) {
  bool second = choice && choice[0] && wave_recording_index(choice) == 1;
  if (len) *len = second ? kavel_modem02_wav_len : kavel_modem01_wav_len;
  return second ? kavel_modem02_wav : kavel_modem01_wav;
}

int modem_sound_play(UiContext* ui, const uint8_t* wav, size_t len, const ModemSoundOptions* opts) {
  if (!ui) return 0;
  if (!g_connect_popup_dialing_mode) ui_begin_dialing_status(ui, nullptr);
  ui_draw_dialing_status(ui, g_connect_popup_start_ms);

  WavePcm pcm;
  if (wave_prepare(wav, len, &pcm) != 0) return fallback_pause(ui, opts);
  if (!ui->window) return 0;

  PlatAudio* audio = plat_audio_open(pcm.rate, pcm.sample_type);
  if (!audio || plat_audio_queue(audio, pcm.bytes.get(), pcm.size) != 0) {
    // No device (or one that refuses the samples): connect without waiting.
    plat_audio_close(audio);
    ui_draw_dialing_status(ui, g_connect_popup_start_ms);
    return 0;
  }
  int result = 0;
  while (plat_audio_queued(audio) > 0) {
    if (cancelled(ui)) {
      plat_audio_stop(audio);
      result = CONNECT_CANCELLED;
      break;
    }
    pause_tick(opts);
  }
  plat_audio_close(audio);
  ui_draw_dialing_status(ui, g_connect_popup_start_ms);
  return result;
}

int modem_sound_step(UiContext* ui, const ModemSoundOptions* opts) {
  size_t len = 0;
  const uint8_t* wav = modem_sound_recording(g_modem_sound_path, &len);
  return modem_sound_play(ui, wav, len, opts);
}
