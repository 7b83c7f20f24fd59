// A test's session on one end of a socket pair: a TCP link over the
// descriptor (the pair still owns it and closes it), Telnet over the link.
#pragma once
#include "link/link.h"
#include "session/session.h"

inline void test_session_on_socket(Session* s, int fd) {
  Link link;
  if (fd >= 0) link_tcp_adopt(&link, fd);
  session_attach_link(s, &link);
}
