// The dial sound of a call from the menu: one of the two built-in modem
// recordings played through the audio output while the dialing box stays
// live, before the connection is opened.
//
// Nothing in this step stops a call: a recording that does not validate
// (or no memory for it) gives a one-second pause instead, no audio device
// gives no pause at all.  Only the user's cancel (Escape, closing the
// window) ends the call, at once and with the sound stopped.
#pragma once
#include <cstddef>
#include <cstdint>

struct UiContext;

// The pause between two polls, one tick of 1/50 s; tests replace it to move
// the clock instead of waiting.
struct ModemSoundOptions {
  void (*pause)() = nullptr;  // null: dos_delay(1)
};

// Ticks of the pause that stands in for a sound that cannot be used.
inline constexpr int kModemSoundFallbackTicks = 50;

// The built-in recording for a settings choice name (wave_recording_index;
// an empty name plays the first).  Sets *len.
const uint8_t* modem_sound_recording(const char* choice, size_t* len);

// Plays the WAVE bytes with the dialing box up (begun here when it is not).
// 0 when the call goes on to connect, -2 when the user cancelled.
int modem_sound_play(UiContext* ui, const uint8_t* wav, size_t len,
                     const ModemSoundOptions* opts = nullptr);

// The menu path's sound step: the recording g_modem_sound_path chooses.
// Call it only when g_modem_sound_enabled is set and the menu window is
// open.  0 to connect, -2 cancelled.
int modem_sound_step(UiContext* ui, const ModemSoundOptions* opts = nullptr);
