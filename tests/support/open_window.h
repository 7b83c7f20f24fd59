// Opening a terminal's window in a test as a session does: in the current
// window mode, ANSI or PETSCII.
#pragma once
#include "display/modes.h"
#include "display/surface.h"

inline int test_term_open(Terminal* t, const char* title, int petscii = 0) {
  WindowRequest req = window_request(title);
  req.petscii = petscii;
  return term_open(t, &req);
}
