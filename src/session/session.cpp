#include "session/session.h"

#include <cstring>

void session_init(Session* s) {
  memset(s, 0, sizeof *s);
  s->sock = -1;
}
