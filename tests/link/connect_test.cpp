#include "link/connect.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <string>
#include <vector>

#include "platform/dos.h"
#include "session/session_test_util.h"

namespace {

int open_fd_count() {
  int n = 0;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (readdir(d)) n++;
    closedir(d);
  }
  return n;
}

// A listening socket on a free loopback port.
struct Listener {
  int fd = -1;
  int port = 0;
  explicit Listener(int backlog = 8) {
    fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    listen(fd, backlog);
    socklen_t len = sizeof sa;
    getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
    port = ntohs(sa.sin_port);
  }
  ~Listener() {
    if (fd >= 0) close(fd);
  }
};

// A port nobody listens on: bind one, note it, close it.
int closed_port() {
  Listener l;
  int port = l.port;
  return port;
}

int g_pauses = 0;
void count_pause() {
  g_pauses++;
}

struct CancelAfter {
  int calls = 0;
  int cancel_at = 0;  // cancel on this call (1-based)
};
int poll_cancel(void* ctx) {
  auto* c = static_cast<CancelAfter*>(ctx);
  return ++c->calls >= c->cancel_at ? 1 : 0;
}

}  // namespace

TEST(ConnectionResolve, AddressesAndNames) {
  in_addr a{};
  ASSERT_EQ(connection_resolve_ipv4("127.0.0.1", &a), 0);
  EXPECT_EQ(ntohl(a.s_addr), 0x7F000001u);
  ASSERT_EQ(connection_resolve_ipv4("10.1.2.3", &a), 0);  // dotted: no look-up, no traffic
  EXPECT_EQ(ntohl(a.s_addr), 0x0A010203u);
  ASSERT_EQ(connection_resolve_ipv4("localhost", &a), 0);  // from the hosts file
  EXPECT_EQ(ntohl(a.s_addr) >> 24, 127u);

  EXPECT_EQ(connection_resolve_ipv4("", &a), -1);
  EXPECT_EQ(connection_resolve_ipv4(nullptr, &a), -1);
  // Names no resolver could know are refused before any look-up.
  std::string huge(100000, 'a');
  EXPECT_EQ(connection_resolve_ipv4(huge.c_str(), &a), -1);
  std::string just_too_long(kMaxHostNameLength + 1, 'b');
  EXPECT_EQ(connection_resolve_ipv4(just_too_long.c_str(), &a), -1);
}

TEST(ConnectionOpen, ConnectsNonBlockingWithNoDelay) {
  Listener l;
  int sock = -2;
  ASSERT_EQ(connection_open("127.0.0.1", l.port, nullptr, &sock), CONNECT_OK);
  ASSERT_GE(sock, 0);
  EXPECT_TRUE(fcntl(sock, F_GETFL) & O_NONBLOCK);
  int nodelay = 0;
  socklen_t len = sizeof nodelay;
  getsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &nodelay, &len);
  EXPECT_NE(nodelay, 0);

  int peer = accept(l.fd, nullptr, nullptr);
  ASSERT_GE(peer, 0);
  EXPECT_EQ(send_all(sock, "hi", 2), 0);
  char buf[4] = {};
  EXPECT_EQ(recv(peer, buf, sizeof buf, 0), 2);
  EXPECT_STREQ(buf, "hi");
  close(peer);
  connection_close(&sock);
  EXPECT_EQ(sock, -1);
}

TEST(ConnectionOpen, FailuresLeaveNoDescriptor) {
  int before = open_fd_count();
  struct {
    const char* host;
    int port;
  } cases[] = {
      {"127.0.0.1", closed_port()},  // refused
      {"127.0.0.1", 0},              // ports outside 1..65535
      {"127.0.0.1", 70000},
      {"", 23},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.host) + ":" + std::to_string(c.port));
    int sock = 5;
    EXPECT_EQ(connection_open(c.host, c.port, nullptr, &sock), CONNECT_FAILED);
    EXPECT_EQ(sock, -1);
  }
  EXPECT_EQ(open_fd_count(), before);
}

TEST(ConnectionOpen, UnansweredConnectTimesOutAfterTheBudget) {
  // A listener whose accept queue is full drops new SYNs, so a connect to it
  // stays in progress: an unroutable host without leaving this machine.
  Listener l(0);
  std::vector<int> fillers;
  bool stuck = false;
  for (int i = 0; i < 16 && !stuck; i++) {
    int c = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(l.port));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connect(c, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    pollfd p{c, POLLOUT, 0};
    if (poll(&p, 1, 200) == 0) stuck = true;
    fillers.push_back(c);
  }
  ASSERT_TRUE(stuck) << "could not fill the accept queue";

  int before = open_fd_count();
  ConnectOptions opts;
  opts.budget_turns = 7;
  opts.pause = count_pause;
  g_pauses = 0;
  int sock = 3;
  EXPECT_EQ(connection_open("127.0.0.1", l.port, &opts, &sock), CONNECT_TIMED_OUT);
  EXPECT_EQ(g_pauses, 7);
  EXPECT_EQ(sock, -1);
  EXPECT_EQ(open_fd_count(), before);

  // A cancel during the wait wins over the time-out.
  CancelAfter cancel;
  cancel.cancel_at = 4;  // two polls before the wait, then the wait's turns
  opts.poll_cancel = poll_cancel;
  opts.cancel_ctx = &cancel;
  g_pauses = 0;
  EXPECT_EQ(connection_open("127.0.0.1", l.port, &opts, &sock), CONNECT_CANCELLED);
  EXPECT_EQ(g_pauses, 1);
  EXPECT_EQ(open_fd_count(), before);
  for (int c : fillers) close(c);

  // The default budget is the full 1500 turns.
  EXPECT_EQ(ConnectOptions{}.budget_turns, 1500);
}

TEST(ConnectionOpen, CancelBeforeResolvingAndAfter) {
  Listener l;
  for (int at : {1, 2}) {
    CancelAfter cancel;
    cancel.cancel_at = at;
    ConnectOptions opts;
    opts.poll_cancel = poll_cancel;
    opts.cancel_ctx = &cancel;
    int sock = 0;
    EXPECT_EQ(connection_open("127.0.0.1", l.port, &opts, &sock), CONNECT_CANCELLED) << at;
    EXPECT_EQ(sock, -1);
    EXPECT_EQ(cancel.calls, at);
  }
}

TEST(ConnectionSend, PeerThatStopsReadingMakesSendGiveUp) {
  SocketPair pair;
  int small = 4096;
  setsockopt(pair.ours, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  std::vector<char> big(4 << 20, 'x');
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(send_all(pair.ours, big.data(), big.size()), -1);
  double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  // 50 pauses of one tick, about a second; never an endless wait.
  EXPECT_GE(secs, 0.9);
  EXPECT_LT(secs, 10.0);
  EXPECT_FALSE(pair.drain_peer().empty());  // what went out stays sent
}

TEST(ConnectionSend, EdgeResults) {
  SocketPair pair;
  EXPECT_EQ(send_all(pair.ours, "", 0), 0);
  EXPECT_EQ(send_all(-1, "", 0), 0);  // nothing to send: no call at all
  EXPECT_EQ(send_all(-1, "a", 1), -1);
  close(pair.peer);
  pair.peer = -1;
  // A vanished peer is a failure, not a SIGPIPE.
  EXPECT_EQ(send_all(pair.ours, "abc", 3), -1);
}

TEST(ConnectionRecv, ResultRules) {
  SocketPair pair;
  uint8_t buf[kRecvChunk];
  EXPECT_EQ(connection_recv(pair.ours, buf, kRecvChunk), 0);  // nothing yet
  std::string burst(1000, 'z');
  ASSERT_EQ(write(pair.peer, burst.data(), burst.size()), 1000);
  EXPECT_EQ(connection_recv(pair.ours, buf, kRecvChunk), kRecvChunk);  // at most one chunk
  EXPECT_EQ(connection_recv(pair.ours, buf, kRecvChunk), 1000 - kRecvChunk);
  close(pair.peer);
  pair.peer = -1;
  EXPECT_EQ(connection_recv(pair.ours, buf, kRecvChunk), -1);  // closed by the peer
  EXPECT_EQ(connection_recv(-1, buf, kRecvChunk), -1);
}

TEST(ConnectionClose, ResetsTheFieldAndTheConnection) {
  Listener l;
  int sock = -1;
  ASSERT_EQ(connection_open("127.0.0.1", l.port, nullptr, &sock), CONNECT_OK);
  int peer = accept(l.fd, nullptr, nullptr);
  ASSERT_GE(peer, 0);
  connection_close(&sock);
  EXPECT_EQ(sock, -1);
  char c;
  // Linger 0: the peer sees the connection end at once (reset or end of file).
  EXPECT_LE(recv(peer, &c, 1, 0), 0);
  close(peer);
  connection_close(&sock);  // a second close is harmless
  EXPECT_EQ(sock, -1);
}

TEST(ConnectionAddress, TheFormsUsersWrite) {
  struct Case {
    const char* text;
    int result;
    const char* host;
    int port;  // 0: the text names none (the given port stays)
  } cases[] = {
      {"bbs.example.org", 0, "bbs.example.org", 0},
      {"bbs.example.org:2323", 0, "bbs.example.org", 2323},
      {"telnet://bbs.example.org", 0, "bbs.example.org", 0},
      {"telnet://bbs.example.org:6400/", 0, "bbs.example.org", 6400},
      {"TELNET://Bbs:23", 0, "Bbs", 23},
      {"127.0.0.1:65535", 0, "127.0.0.1", 65535},
      {"::1", 0, "::1", 0},
      {"2001:db8::7", 0, "2001:db8::7", 0},
      {"[2001:db8::7]", 0, "2001:db8::7", 0},
      {"[::1]:2323", 0, "::1", 2323},
      {"telnet://[::1]:2323/", 0, "::1", 2323},
      {"", -1, "", 0},
      {"telnet://", -1, "", 0},
      {":23", -1, "", 0},
      {"host:", -1, "", 0},
      {"host:0", -1, "", 0},
      {"host:65536", -1, "", 0},
      {"host:23x", -1, "", 0},
      {"host:-1", -1, "", 0},
      {"[::1", -1, "", 0},
      {"[::1]x", -1, "", 0},
      {"[]:23", -1, "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    char host[300] = "unchanged";
    int port = 0;
    EXPECT_EQ(connection_parse_address(c.text, host, sizeof host, &port), c.result);
    if (c.result == 0) {
      EXPECT_STREQ(host, c.host);
    }
    EXPECT_EQ(port, c.port);
  }
  // A host that does not fit the caller's buffer is refused, not cut.
  char small[4];
  EXPECT_EQ(connection_parse_address("abcd", small, sizeof small, nullptr), -1);
  std::string too_long(kMaxHostNameLength + 1, 'h');
  char big[1024];
  EXPECT_EQ(connection_parse_address(too_long.c_str(), big, sizeof big, nullptr), -1);
}

TEST(ConnectionOpen, AddressFormsAndIpv6) {
  Listener l;
  std::string forms[] = {"127.0.0.1:" + std::to_string(l.port),
                         "telnet://localhost:" + std::to_string(l.port) + "/"};
  for (const std::string& text : forms) {
    SCOPED_TRACE(text);
    int sock = -1;
    // The port in the address wins over the one given.
    ASSERT_EQ(connection_open(text.c_str(), 1, nullptr, &sock), CONNECT_OK);
    EXPECT_STREQ(connection_error(), "");
    int peer = accept(l.fd, nullptr, nullptr);
    EXPECT_GE(peer, 0);
    close(peer);
    connection_close(&sock);
  }

  int fd6 = socket(AF_INET6, SOCK_STREAM, 0);
  sockaddr_in6 sa{};
  sa.sin6_family = AF_INET6;
  sa.sin6_addr = in6addr_loopback;
  if (fd6 < 0 || bind(fd6, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    if (fd6 >= 0) close(fd6);
    GTEST_SKIP() << "no IPv6 loopback here";
  }
  listen(fd6, 4);
  socklen_t len = sizeof sa;
  getsockname(fd6, reinterpret_cast<sockaddr*>(&sa), &len);
  int port6 = ntohs(sa.sin6_port);
  for (const std::string& text : {std::string("::1"), "[::1]:" + std::to_string(port6)}) {
    SCOPED_TRACE(text);
    int sock = -1;
    ASSERT_EQ(connection_open(text.c_str(), port6, nullptr, &sock), CONNECT_OK);
    sockaddr_storage peer_addr{};
    socklen_t plen = sizeof peer_addr;
    getpeername(sock, reinterpret_cast<sockaddr*>(&peer_addr), &plen);
    EXPECT_EQ(peer_addr.ss_family, AF_INET6);
    int peer = accept(fd6, nullptr, nullptr);
    EXPECT_GE(peer, 0);
    close(peer);
    connection_close(&sock);
  }
  close(fd6);
}

TEST(ConnectionOpen, EveryFailureSaysWhatAndWhy) {
  int refused = closed_port();
  // The line for standard error, and the few words the menu shows under
  // "Unable to connect" (null: the resolver's own words, which depend on
  // the machine's network).
  static constexpr const char* kUnresolvable =
      "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx.invalid";
  struct Case {
    std::string text;
    int port;
    std::string says;
    const char* reason;
  } cases[] = {
      {"127.0.0.1", refused, "cannot connect to 127.0.0.1:", "Connection refused"},
      {"127.0.0.1", refused, "Connection refused", "Connection refused"},
      // A label over 63 characters is refused by the resolver itself, so the
      // test asks no name server.
      {kUnresolvable, 23, std::string("cannot find host ") + kUnresolvable + ": ", nullptr},
      {"host:99999", 23, "not a host address: \"host:99999\"", "Not a host address"},
      {"127.0.0.1", 70000, "port 70000 is outside 1 to 65535", "Port 70000 is outside 1 to 65535"},
      // A name typed in CP437 or Latin-1 (caf\xe9) is no UTF-8 and no IDN:
      // refused before the resolver is asked.
      {"caf\xe9.example", 23, "not a valid host name: \"caf\xe9.example\"", "Not a valid host name"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    int sock = 0;
    EXPECT_EQ(connection_open(c.text.c_str(), c.port, nullptr, &sock), CONNECT_FAILED);
    EXPECT_NE(std::string(connection_error()).find(c.says), std::string::npos)
        << connection_error();
    EXPECT_EQ(std::string(connection_error()).find('\n'), std::string::npos);
    if (c.reason) {
      EXPECT_STREQ(connection_reason(), c.reason);
    }
    EXPECT_NE(connection_reason()[0], '\0');
  }
}

TEST(ConnectionOpen, CtrlCStopsTheWaitAtOnce) {
  // Ctrl-C sets the break flag; the connect step takes it as the user's
  // cancel on its next turn instead of waiting out the budget.
  Listener l;
  dos_install_break_handler();
  raise(SIGINT);
  int sock = 0;
  ConnectOptions opts;
  opts.pause = count_pause;
  g_pauses = 0;
  EXPECT_EQ(connection_open("127.0.0.1", l.port, &opts, &sock), CONNECT_CANCELLED);
  EXPECT_EQ(sock, -1);
  EXPECT_EQ(g_pauses, 0);
  EXPECT_NE(std::string(connection_error()).find("cancelled"), std::string::npos);
}
