// layers: session
// Arbitrary server bytes through the Telnet layer and the inbound dispatcher
// (ZMODEM start detection, ANSI interpreter on a window-less terminal).  The
// first byte chooses the mode flags; replies go to a socket pair that is
// drained after every input.
#include "link/telnet.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "link/link.h"
#include "session/session.h"
#include "session/session_loop.h"
#include "session/session_transfer.h"
#include "terminal/terminal.h"

namespace {

int g_pair[2] = {-1, -1};

void drain() {
  char buf[65536];
  while (recv(g_pair[1], buf, sizeof buf, MSG_DONTWAIT) > 0) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (g_pair[0] < 0) {
    socketpair(AF_UNIX, SOCK_STREAM, 0, g_pair);
    fcntl(g_pair[0], F_SETFL, fcntl(g_pair[0], F_GETFL) | O_NONBLOCK);
  }
  if (size == 0) return 0;
  auto session = std::make_unique<Session>();
  auto terminal = std::make_unique<Terminal>();
  Session* s = session.get();
  session_init(s);
  s->petscii = data[0] & 1;
  Link link;
  link_tcp_adopt(&link, g_pair[0]);
  session_attach_link(s, &link);
  // The link is the pair's: the session must not close it.
  s->zm.zmodem.active = (data[0] >> 1) & 1;
  s->telnet.ttype_counter = static_cast<int8_t>(data[0]) >> 2;
  term_init_record(terminal.get());
  term_clear_screen(terminal.get());
  s->terminal = terminal.get();
  for (size_t i = 1; i < size; i++) {
    session_receive_byte(s, data[i]);
    if (s->telnet.state < 0 || s->telnet.state > 4) __builtin_trap();
    if (s->telnet.sb_len < 0 || s->telnet.sb_len > kTelnetSubnegMax + 1) __builtin_trap();
    if ((i & 15) == 0) drain();  // each reply is a send; a full buffer would stall
  }
  session_transfer_flush_detect(s, 1);
  drain();
  return 0;
}
