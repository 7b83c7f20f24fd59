// Window events as the platform delivers them, for tests that inject input
// into a headless window.
#pragma once
#include <cstdint>

#include "platform/display.h"

inline PlatEvent vanilla(uint16_t ch, uint16_t qual = 0) {
  return PlatEvent{PLAT_EV_VANILLAKEY, ch, qual, 0, 0};
}
inline PlatEvent raw(uint16_t code, uint16_t qual = 0) {
  return PlatEvent{PLAT_EV_RAWKEY, code, qual, 0, 0};
}
inline PlatEvent close_request() {
  return PlatEvent{PLAT_EV_CLOSE, 0, 0, 0, 0};
}
inline PlatEvent refresh_request() {
  return PlatEvent{PLAT_EV_REFRESH, 0, 0, 0, 0};
}
