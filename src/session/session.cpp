#include "session/session.h"

#include <cstring>

#include "session/session_transfer.h"

void session_init(Session* s) {
  memset(s, 0, sizeof *s);
  s->sock = -1;
  session_transfer_init(s);
}
