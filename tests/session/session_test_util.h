// Socket pairs and byte-string helpers for the session tests.
#pragma once
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

// A connected pair of stream sockets: the program's end and the peer's end.
// Both are non-blocking; the destructor closes whatever is still open.
struct SocketPair {
  int ours = -1;
  int peer = -1;
  SocketPair() {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) == 0) {
      ours = fds[0];
      peer = fds[1];
      fcntl(ours, F_SETFL, fcntl(ours, F_GETFL) | O_NONBLOCK);
      fcntl(peer, F_SETFL, fcntl(peer, F_GETFL) | O_NONBLOCK);
    }
  }
  ~SocketPair() {
    if (ours >= 0) close(ours);
    if (peer >= 0) close(peer);
  }
  SocketPair(const SocketPair&) = delete;
  SocketPair& operator=(const SocketPair&) = delete;

  // Everything the program has sent so far.
  std::string drain_peer() const {
    std::string out;
    char buf[4096];
    for (;;) {
      ssize_t n = read(peer, buf, sizeof buf);
      if (n <= 0) break;
      out.append(buf, static_cast<size_t>(n));
    }
    return out;
  }
};

// A pair that keeps message boundaries, so that a test can tell one send of
// nine bytes from nine sends of one.
struct SeqPacketPair {
  int ours = -1;
  int peer = -1;
  SeqPacketPair() {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fds) == 0) {
      ours = fds[0];
      peer = fds[1];
      fcntl(peer, F_SETFL, fcntl(peer, F_GETFL) | O_NONBLOCK);
    }
  }
  ~SeqPacketPair() {
    if (ours >= 0) close(ours);
    if (peer >= 0) close(peer);
  }
  SeqPacketPair(const SeqPacketPair&) = delete;
  SeqPacketPair& operator=(const SeqPacketPair&) = delete;

  // The next message the program sent, or an empty string when none waits.
  std::string next_message() const {
    char buf[70000];
    ssize_t n = recv(peer, buf, sizeof buf, 0);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
  }
};

// Builds a byte string from a list of values (0..255).
inline std::string bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s.push_back(static_cast<char>(v));
  return s;
}
