// layers: app
// kavel-telnet-probe: connects to a Telnet server with the program's own
// connection and Telnet layer, without a window, and reports what happened.
//
//   kavel-telnet-probe HOST PORT [--seconds N] [--send TEXT] [--petscii]
//
// Standard output gets the data bytes the layer handed on (the text the
// terminal would show).  Standard error gets one line per negotiation event:
// "SERVER DO 24", "SERVER SB 24" for commands from the server, and
// "REPLY ff fb 18" for every send the layer made in answer.  TEXT (with \r
// written as a real carriage return by the caller) is typed once the server
// has been quiet for 300 ms.  Exits 0 when the server closed the connection,
// 2 when the time ran out, 1 when the connection could not be made.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/cli.h"
#include "link/connect.h"
#include "link/telnet.h"
#include "terminal/active_font.h"

namespace {

const char* command_name(int cmd) {
  switch (cmd) {
    case TELNET_WILL:
      return "WILL";
    case TELNET_WONT:
      return "WONT";
    case TELNET_DO:
      return "DO";
    case TELNET_DONT:
      return "DONT";
    default:
      return "?";
  }
}

void to_stdout(void*, uint8_t byte) {
  fputc(byte, stdout);
}

// Replies of the layer go to one end of a packet pair so that each send can
// be logged on its own before it is forwarded to the server.
void forward_replies(int from, int to) {
  char buf[4096];
  for (;;) {
    ssize_t n = recv(from, buf, sizeof buf, MSG_DONTWAIT);
    if (n <= 0) return;
    fprintf(stderr, "REPLY");
    for (ssize_t i = 0; i < n; i++) fprintf(stderr, " %02x", static_cast<unsigned char>(buf[i]));
    fprintf(stderr, "\n");
    send_all(to, buf, static_cast<size_t>(n));
  }
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  if (argc < 3) {
    fprintf(stderr, "usage: %s HOST PORT [--seconds N] [--send TEXT] [--petscii]\n", argv[0]);
    return 1;
  }
  int seconds = 10;
  std::string to_send;
  int petscii = 0;
  for (int i = 3; i < argc; i++) {
    if (!strcmp(argv[i], "--seconds") && i + 1 < argc) {
      seconds = atoi(argv[++i]);
    } else if (!strcmp(argv[i], "--send") && i + 1 < argc) {
      to_send = argv[++i];
    } else if (!strcmp(argv[i], "--petscii")) {
      petscii = 1;
    }
  }
  int sock = -1;
  int r = connection_open(argv[1], parse_int_default(argv[2], kDefaultPort), nullptr, &sock);
  if (r != CONNECT_OK) {
    fprintf(stderr, "CONNECT FAILED %d\n", r);
    return 1;
  }
  fprintf(stderr, "CONNECTED\n");
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET, 0, pair) != 0) return 1;

  // The layer answers on the pair's end, as a session's does on its link.
  Link replies;
  link_tcp_adopt(&replies, pair[0]);
  Telnet s;
  telnet_init(&s, &replies);
  s.petscii = petscii;
  s.cols = petscii ? c64_visible_cols_for_font() : 80;
  telnet_send_opening_offers(&s);
  forward_replies(pair[1], sock);

  auto start = std::chrono::steady_clock::now();
  auto last_data = start;
  bool sent = to_send.empty();
  int status = 2;
  for (;;) {
    auto now = std::chrono::steady_clock::now();
    if (now - start > std::chrono::seconds(seconds)) break;
    if (!sent && now - last_data > std::chrono::milliseconds(300)) {
      Link server;
      link_tcp_adopt(&server, sock);
      Telnet typing;
      telnet_init(&typing, &server);
      telnet_send_data(&typing, reinterpret_cast<const uint8_t*>(to_send.data()), to_send.size());
      fprintf(stderr, "TYPED %zu\n", to_send.size());
      sent = true;
    }
    pollfd p{sock, POLLIN, 0};
    poll(&p, 1, 20);
    uint8_t buf[kRecvChunk];
    int n = connection_recv(sock, buf, kRecvChunk);
    if (n < 0) {
      fprintf(stderr, "CLOSED BY PEER\n");
      status = 0;
      break;
    }
    if (n > 0) last_data = std::chrono::steady_clock::now();
    for (int i = 0; i < n; i++) {
      if (s.state == 2) {
        fprintf(stderr, "SERVER %s %d\n", command_name(s.cmd & 0xFF), buf[i]);
      } else if (s.state == 4 && buf[i] == TELNET_SE && s.sb_len > 0) {
        fprintf(stderr, "SERVER SB %d\n", s.sb_option);
      }
      telnet_consume(&s, buf[i], to_stdout, nullptr);
    }
    fflush(stdout);
    forward_replies(pair[1], sock);
  }
  connection_close(&sock);
  link_close(&replies);  // closes pair[0]
  close(pair[1]);
  return status;
}
