// session_init (session.h): the one place that ties a fresh Session's parts
// together.  It lives apart from the record's own code (session.cpp) so
// that the transfer glue, which needs the record, is not needed by it.
#include <cstring>

#include "session/session.h"
#include "session/session_transfer.h"

void session_init(Session* s) {
  // The engines' records are plain data: the whole record starts as zeros,
  // then the link and its Telnet layer get their own empty state.
  memset(static_cast<void*>(s), 0, sizeof *s);
  s->link = Link{};
  session_attach_link(s, &s->link);
  session_transfer_init(s);
}
