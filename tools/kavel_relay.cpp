// layers: util
// kavel-relay: a one-connection Telnet server in front of a command, for
// transfer tests and benchmarks.  It does to the byte stream what a BBS's
// Telnet server does: 0xFF from the command is doubled towards the network;
// IAC IAC from the network becomes one 0xFF and every other Telnet command
// (two-byte commands, three-byte options, subnegotiations) is removed.  It
// can also damage the stream on purpose, reproducibly from a seed.
//
//   kavel-relay [options] PORT COMMAND [ARG...]
//     PORT 0 picks a free port; the port is printed on stdout either way.
//     --timeout SECONDS   stop (and kill the command) after this long (default 120)
//     --seed N            seed of the damage (default 1)
//     --direction down|up|both   where damage goes: down = command to network
//                         (default), up = network to command
//     --flip PPM          flip one random bit of a byte, PPM in a million bytes
//     --drop PPM          drop a byte, PPM in a million bytes
//     --garbage-at N      after N bytes, insert a burst of 16..512 random bytes
//     --cut-after N       close the connection after N bytes (in a damaged direction)
//     --quiet             the command's stderr goes to /dev/null
//     --count FILE        at the end, write "DOWN UP" to FILE: the payload bytes that went
//                         command to network and network to command (before Telnet
//                         escaping, after Telnet decoding), to check what a transfer moved
//   Exit status: the command's, 124 on the time limit, 125 on a relay error.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr uint8_t kIac = 0xFF, kSb = 0xFA, kSe = 0xF0, kWill = 0xFB, kDont = 0xFE;

struct Options {
  int port = 0;
  double timeout_s = 120;
  uint32_t seed = 1;
  bool damage_down = true, damage_up = false;
  uint32_t flip_ppm = 0, drop_ppm = 0;
  long long garbage_at = -1, cut_after = -1;
  bool quiet = false;
  const char* count_file = nullptr;
  char** command = nullptr;
};

// The stream damage of one direction.
struct Damage {
  bool on = false;
  uint32_t flip_ppm = 0, drop_ppm = 0;
  long long garbage_at = -1, cut_after = -1;
  long long count = 0;
  std::mt19937 rng;

  // Appends the damaged bytes to out; false once the connection is to be cut.
  bool apply(const uint8_t* in, size_t n, std::vector<uint8_t>& out) {
    for (size_t i = 0; i < n; ++i) {
      uint8_t b = in[i];
      if (!on) {
        out.push_back(b);
        continue;
      }
      if (cut_after >= 0 && count >= cut_after) return false;
      if (count == garbage_at) {
        size_t burst = 16 + rng() % 497;
        for (size_t k = 0; k < burst; ++k) out.push_back(static_cast<uint8_t>(rng()));
      }
      ++count;
      if (drop_ppm && rng() % 1000000 < drop_ppm) continue;
      if (flip_ppm && rng() % 1000000 < flip_ppm) b ^= static_cast<uint8_t>(1u << (rng() % 8));
      out.push_back(b);
    }
    return true;
  }
};

// Telnet decoding of the network side.
struct TelnetIn {
  int state = 0;  // 0 data, 1 IAC, 2 option byte, 3 subnegotiation, 4 IAC in it
  void decode(const uint8_t* in, size_t n, std::vector<uint8_t>& out) {
    for (size_t i = 0; i < n; ++i) {
      uint8_t b = in[i];
      switch (state) {
        case 0:
          if (b == kIac)
            state = 1;
          else
            out.push_back(b);
          break;
        case 1:
          if (b == kIac) {
            out.push_back(kIac);
            state = 0;
          } else if (b == kSb) {
            state = 3;
          } else if (b >= kWill && b <= kDont) {
            state = 2;
          } else {
            state = 0;
          }
          break;
        case 2:
          state = 0;
          break;
        case 3:
          if (b == kIac) state = 4;
          break;
        default:
          state = b == kSe ? 0 : 3;
          break;
      }
    }
  }
};

double now_s() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

bool parse_args(int argc, char** argv, Options& o) {
  int i = 1;
  for (; i < argc && strncmp(argv[i], "--", 2) == 0; ++i) {
    std::string a = argv[i];
    auto value = [&](const char* name) -> const char* {
      if (i + 1 >= argc) {
        fprintf(stderr, "kavel-relay: %s needs a value\n", name);
        return nullptr;
      }
      return argv[++i];
    };
    const char* v = nullptr;
    if (a == "--quiet") {
      o.quiet = true;
    } else if (a == "--timeout") {
      if (!(v = value("--timeout"))) return false;
      o.timeout_s = atof(v);
    } else if (a == "--seed") {
      if (!(v = value("--seed"))) return false;
      o.seed = static_cast<uint32_t>(strtoul(v, nullptr, 10));
    } else if (a == "--direction") {
      if (!(v = value("--direction"))) return false;
      std::string d = v;
      o.damage_down = d == "down" || d == "both";
      o.damage_up = d == "up" || d == "both";
      if (!o.damage_down && !o.damage_up) {
        fprintf(stderr, "kavel-relay: --direction is down, up or both\n");
        return false;
      }
    } else if (a == "--flip") {
      if (!(v = value("--flip"))) return false;
      o.flip_ppm = static_cast<uint32_t>(strtoul(v, nullptr, 10));
    } else if (a == "--drop") {
      if (!(v = value("--drop"))) return false;
      o.drop_ppm = static_cast<uint32_t>(strtoul(v, nullptr, 10));
    } else if (a == "--garbage-at") {
      if (!(v = value("--garbage-at"))) return false;
      o.garbage_at = atoll(v);
    } else if (a == "--count") {
      if (!(v = value("--count"))) return false;
      o.count_file = v;
    } else if (a == "--cut-after") {
      if (!(v = value("--cut-after"))) return false;
      o.cut_after = atoll(v);
    } else {
      fprintf(stderr, "kavel-relay: unknown option %s\n", argv[i]);
      return false;
    }
  }
  if (argc - i < 2) {
    fprintf(stderr,
            "usage: kavel-relay [--timeout S] [--seed N] [--direction down|up|both] [--flip PPM]\n"
            "                   [--drop PPM] [--garbage-at N] [--cut-after N] [--quiet]\n"
            "                   [--count FILE]\n"
            "                   PORT COMMAND [ARG...]\n");
    return false;
  }
  o.port = atoi(argv[i]);
  o.command = argv + i + 1;
  return true;
}

int listen_loopback(int port, int* chosen) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 1) != 0) {
    close(fd);
    return -1;
  }
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  *chosen = ntohs(a.sin_port);
  return fd;
}

// Writes everything, waiting on poll while the far side is full; false on a
// closed or failed descriptor or when the deadline passes.
bool write_all(int fd, const uint8_t* p, size_t n, double deadline) {
  while (n > 0) {
    ssize_t w = write(fd, p, n);
    if (w > 0) {
      p += w;
      n -= static_cast<size_t>(w);
      continue;
    }
    if (w < 0 && errno == EINTR) continue;
    if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (now_s() > deadline) return false;
      pollfd pf{fd, POLLOUT, 0};
      poll(&pf, 1, 100);
      continue;
    }
    return false;
  }
  return true;
}

int wait_child(pid_t pid, double deadline, bool* timed_out) {
  int status = 0;
  for (;;) {
    pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) break;
    if (r < 0) return 125;
    if (now_s() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      *timed_out = true;
      return 124;
    }
    usleep(10000);
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!parse_args(argc, argv, o)) return 125;
  signal(SIGPIPE, SIG_IGN);
  double deadline = now_s() + o.timeout_s;

  int chosen = 0;
  int lfd = listen_loopback(o.port, &chosen);
  if (lfd < 0) {
    perror("kavel-relay: listen");
    return 125;
  }
  printf("%d\n", chosen);
  fflush(stdout);

  int net = -1;
  for (;;) {
    if (now_s() > deadline) return 124;
    pollfd pf{lfd, POLLIN, 0};
    if (poll(&pf, 1, 100) > 0) {
      net = accept4(lfd, nullptr, nullptr, SOCK_CLOEXEC);
      if (net >= 0) break;
    }
  }
  close(lfd);
  int one = 1;
  setsockopt(net, IPPROTO_TCP, 1 /* TCP_NODELAY */, &one, sizeof one);

  int to_child[2], from_child[2];
  if (pipe2(to_child, O_CLOEXEC) != 0 || pipe2(from_child, O_CLOEXEC) != 0) return 125;
  pid_t pid = fork();
  if (pid < 0) return 125;
  if (pid == 0) {
    dup2(to_child[0], 0);
    dup2(from_child[1], 1);
    if (o.quiet) {
      int devnull = open("/dev/null", O_WRONLY);
      if (devnull >= 0) dup2(devnull, 2);
    }
    execvp(o.command[0], o.command);
    perror("kavel-relay: exec");
    _exit(127);
  }
  close(to_child[0]);
  close(from_child[1]);
  int cin = to_child[1], cout = from_child[0];
  fcntl(cin, F_SETFL, O_NONBLOCK);
  fcntl(cout, F_SETFL, O_NONBLOCK);
  fcntl(net, F_SETFL, O_NONBLOCK);

  Damage down, up;
  down.on = o.damage_down && (o.flip_ppm || o.drop_ppm || o.garbage_at >= 0 || o.cut_after >= 0);
  up.on = o.damage_up && (o.flip_ppm || o.drop_ppm || o.garbage_at >= 0 || o.cut_after >= 0);
  for (Damage* d : {&down, &up}) {
    d->flip_ppm = o.flip_ppm;
    d->drop_ppm = o.drop_ppm;
    d->garbage_at = o.garbage_at;
    d->cut_after = o.cut_after;
  }
  down.rng.seed(o.seed);
  up.rng.seed(o.seed ^ 0x9E3779B9u);

  TelnetIn telnet;
  std::vector<uint8_t> buf(65536), damaged, wire;
  bool net_open = true, child_out_open = true;
  bool timed_out = false;
  long long moved_down = 0, moved_up = 0;
  while (net_open && child_out_open) {
    if (now_s() > deadline) {
      timed_out = true;
      break;
    }
    pollfd pf[2] = {{net, POLLIN, 0}, {cout, POLLIN, 0}};
    if (poll(pf, 2, 100) < 0 && errno != EINTR) break;
    if (pf[0].revents & (POLLIN | POLLHUP | POLLERR)) {
      ssize_t n = read(net, buf.data(), buf.size());
      if (n <= 0 && !(n < 0 && (errno == EAGAIN || errno == EINTR))) {
        net_open = false;
      } else if (n > 0) {
        std::vector<uint8_t> plain;
        telnet.decode(buf.data(), static_cast<size_t>(n), plain);
        damaged.clear();
        bool keep = up.apply(plain.data(), plain.size(), damaged);
        if (!write_all(cin, damaged.data(), damaged.size(), deadline) || !keep) net_open = false;
        moved_up += static_cast<long long>(damaged.size());
      }
    }
    if (pf[1].revents & (POLLIN | POLLHUP | POLLERR)) {
      ssize_t n = read(cout, buf.data(), buf.size());
      if (n <= 0 && !(n < 0 && (errno == EAGAIN || errno == EINTR))) {
        child_out_open = false;
      } else if (n > 0) {
        damaged.clear();
        bool keep = down.apply(buf.data(), static_cast<size_t>(n), damaged);
        wire.clear();
        for (uint8_t b : damaged) {
          wire.push_back(b);
          if (b == kIac) wire.push_back(kIac);
        }
        if (!write_all(net, wire.data(), wire.size(), deadline) || !keep) net_open = false;
        moved_down += static_cast<long long>(damaged.size());
      }
    }
  }
  if (o.count_file) {
    if (FILE* f = fopen(o.count_file, "w")) {
      fprintf(f, "%lld %lld\n", moved_down, moved_up);
      fclose(f);
    }
  }
  // The connection ends first, then the command sees the end of its input.
  shutdown(net, SHUT_RDWR);
  close(net);
  close(cin);
  // Keep draining the command's output so it never blocks on a full pipe.
  int status;
  for (;;) {
    pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) break;
    if (now_s() > deadline || timed_out) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      timed_out = true;
      break;
    }
    pollfd pf{cout, POLLIN, 0};
    if (poll(&pf, 1, 20) > 0 && read(cout, buf.data(), buf.size()) <= 0) {
      close(cout);
      cout = -1;
      return wait_child(pid, deadline, &timed_out);
    }
  }
  if (cout >= 0) close(cout);
  if (timed_out) return 124;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}
