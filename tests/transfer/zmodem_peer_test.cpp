// The ZMODEM core against lrzsz (sz and rz), the reference peer, through
// kavel-relay: a Telnet server on 127.0.0.1 that doubles 0xFF towards us and
// undoubles and strips Telnet commands from us, as a BBS does.  Every run is
// bounded in time; every file is compared byte for byte.
//
// KAVEL_ZMODEM_CAMPAIGN=N additionally runs N seeded damaged 1 MiB
// downloads and uploads and prints how each ended (a long run, for reports).
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <random>

#include "transfer/zmodem_harness.h"

namespace {

uint32_t real_ms() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint32_t>(ts.tv_sec * 1000 + ts.tv_nsec / 1000000);
}

bool have_program(const char* name) {
  std::string cmd = std::string("command -v ") + name + " >/dev/null 2>&1";
  return system(cmd.c_str()) == 0;
}

// kavel-relay running one command; stopped (by its pid) when destroyed.
struct Relay {
  pid_t pid = -1;
  int port = 0;

  bool start(const std::vector<std::string>& args) {
    int out[2];
    if (pipe(out) != 0) return false;
    pid = fork();
    if (pid == 0) {
      dup2(out[1], 1);
      close(out[0]);
      std::vector<char*> argv;
      static std::string relay = binary_path("kavel-relay");
      argv.push_back(relay.data());
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(out[1]);
    char buf[32] = {};
    size_t got = 0;
    pollfd pf{out[0], POLLIN, 0};
    while (got < sizeof buf - 1 && poll(&pf, 1, 5000) > 0) {
      ssize_t n = read(out[0], buf + got, sizeof buf - 1 - got);
      if (n <= 0) break;
      got += static_cast<size_t>(n);
      if (memchr(buf, '\n', got)) break;
    }
    close(out[0]);
    port = atoi(buf);
    return port > 0;
  }
  // The relay's exit status (the command's), or -1 after killing it.
  int wait(int ms = 10000) {
    if (pid <= 0) return -1;
    int status = 0;
    for (int waited = 0; waited < ms; waited += 10) {
      if (waitpid(pid, &status, WNOHANG) == pid) {
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      usleep(10000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    pid = -1;
    return -1;
  }
  ~Relay() {
    if (pid > 0) wait(0);
  }
};

// A session stand-in: the socket, a Telnet layer (IAC doubling out, IAC
// IAC and commands in) and the ZMODEM core with real time.
struct PeerSession {
  int fd = -1;
  uint32_t clock = 0;
  ZEndpoint e{&clock};
  int telnet_state = 0;
  bool closed = false;

  PeerSession() {
    e.z.hooks.now_ms = [](void*) { return real_ms(); };
    e.z.hooks.send = [](void* c, const uint8_t* b, size_t n) {
      return static_cast<PeerSession*>(static_cast<ZEndpoint*>(c)->owner)->send_doubled(b, n);
    };
    e.owner = this;
    if (getenv("ZDEBUG"))
      e.z.hooks.status_changed = [](void* c) {
        fprintf(stderr, "%u %s\n", real_ms() % 100000, static_cast<ZEndpoint*>(c)->z.status_text);
      };
  }
  ~PeerSession() {
    if (fd >= 0) close(fd);
  }

  bool connect_to(int port) {
    fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return false;
    fcntl(fd, F_SETFL, O_NONBLOCK);
    return true;
  }

  int send_doubled(const uint8_t* b, size_t n) {
    std::vector<uint8_t> wire;
    wire.reserve(n + 16);
    for (size_t i = 0; i < n; ++i) {
      wire.push_back(b[i]);
      if (b[i] == 0xFF) wire.push_back(0xFF);
    }
    size_t off = 0;
    uint32_t start = real_ms();
    while (off < wire.size()) {
      ssize_t w = ::send(fd, wire.data() + off, wire.size() - off, MSG_NOSIGNAL);
      if (w > 0) {
        off += static_cast<size_t>(w);
        continue;
      }
      if (w < 0 && (errno == EAGAIN || errno == EINTR)) {
        if (real_ms() - start > 20000) return -1;
        pollfd pf{fd, POLLOUT, 0};
        poll(&pf, 1, 10);
        continue;
      }
      return -1;
    }
    return 0;
  }

  // Reads what is there and feeds it through Telnet decoding to the core.
  void pump_input(int wait_ms) {
    pollfd pf{fd, POLLIN, 0};
    if (poll(&pf, 1, wait_ms) <= 0) return;
    uint8_t buf[65536];
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
      closed = true;
      return;
    }
    for (ssize_t i = 0; i < n; ++i) {
      uint8_t b = buf[i];
      switch (telnet_state) {
        case 0:
          if (b == 0xFF)
            telnet_state = 1;
          else
            zmodem_consume_byte(&e.z, b);
          break;
        case 1:
          if (b == 0xFF) {
            zmodem_consume_byte(&e.z, b);
            telnet_state = 0;
          } else {
            telnet_state = (b >= 0xFB && b <= 0xFE) ? 2 : b == 0xFA ? 3 : 0;
          }
          break;
        case 2:
          telnet_state = 0;
          break;
        case 3:
          if (b == 0xFF) telnet_state = 4;
          break;
        default:
          telnet_state = b == 0xF0 ? 0 : 3;
          break;
      }
    }
  }

  // Runs until the peer closes or the time is up; a transfer still running
  // then ends as the session would end it.
  void run(uint32_t limit_ms) {
    uint32_t start = real_ms();
    bool was_active = e.z.active != 0;
    while (!closed && real_ms() - start < limit_ms) {
      pump_input(e.z.streaming ? 0 : 10);
      if (zmodem_poll(&e.z) != 0) break;
      note_end(was_active);
      was_active = e.z.active != 0;
    }
    if (e.z.active || e.z.file) {
      zmodem_finish(&e.z, closed ? "ZMODEM interrupted by disconnect" : "ZMODEM cancelled");
    }
    note_end(true);
  }

  // The first transfer's ending is the outcome; what comes after it (the
  // peer's repeats) must not start anything visible.
  ZmodemEnding first_end = kZmodemRunning;
  std::string first_text;
  void note_end(bool was_active) {
    if (first_end == kZmodemRunning && was_active && !e.z.active) {
      first_end = e.z.ending;
      first_text = e.z.status_text;
    }
  }
};

std::vector<uint8_t> special_bytes(size_t n, uint32_t seed) {
  // Every byte value, and runs of the bytes ZMODEM and Telnet treat specially.
  std::vector<uint8_t> v = random_bytes(n, seed);
  std::mt19937 rng(seed);
  const uint8_t specials[] = {0x18, 0xFF, 0x7F, 0x11, 0x13, 0x2A};
  for (size_t i = 0; i + 600 < n; i += 4096 + rng() % 4096) {
    uint8_t b = specials[rng() % 6];
    size_t run = 1 + rng() % 512;
    for (size_t k = 0; k < run; ++k) v[i + k] = b;
  }
  for (size_t i = 0; i < 256 && i < n; ++i) v[i] = static_cast<uint8_t>(i);
  return v;
}

void write_bytes(const std::string& path, const std::vector<uint8_t>& data) {
  ASSERT_TRUE(write_file_bytes(path, std::string(data.begin(), data.end())));
}

std::vector<unsigned char> as_file(const std::vector<uint8_t>& d) {
  return {d.begin(), d.end()};
}

class ZmodemPeer : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!have_program("sz") || !have_program("rz")) GTEST_SKIP() << "lrzsz (sz, rz) not installed";
    if (access(binary_path("kavel-relay").c_str(), X_OK) != 0)
      GTEST_SKIP() << "kavel-relay not built";
  }

  // Downloads what `command` (run in dir src) sends, into dst.
  struct Outcome {
    ZmodemEnding ending;
    std::string text;
    int relay_status;
    std::vector<std::string> asked;
  };
  Outcome download(const std::string& src, const std::string& dst, const std::string& command,
                   std::vector<int> answers = {}, std::vector<std::string> relay_opts = {},
                   uint32_t limit_ms = 60000) {
    Relay relay;
    std::vector<std::string> args = {"--timeout", "90", "--quiet"};
    args.insert(args.end(), relay_opts.begin(), relay_opts.end());
    args.insert(args.end(), {"0", "sh", "-c", "cd '" + src + "' && exec " + command});
    EXPECT_TRUE(relay.start(args));
    PeerSession s;
    s.e.dir = dst;
    s.e.exists_answers = answers;
    EXPECT_TRUE(s.connect_to(relay.port));
    s.run(limit_ms);
    ::close(s.fd);
    s.fd = -1;
    int status = relay.wait();
    EXPECT_NE(s.e.draws, 0);
    return {s.first_end, s.first_text, status, s.e.exists_asked};
  }

  Outcome upload(const std::string& file, const std::string& dst,
                 const std::string& command = "rz -b -q", std::vector<std::string> relay_opts = {},
                 uint32_t limit_ms = 60000) {
    Relay relay;
    std::vector<std::string> args = {"--timeout", "90", "--quiet"};
    args.insert(args.end(), relay_opts.begin(), relay_opts.end());
    args.insert(args.end(), {"0", "sh", "-c", "cd '" + dst + "' && exec " + command});
    EXPECT_TRUE(relay.start(args));
    PeerSession s;
    EXPECT_TRUE(s.connect_to(relay.port));
    zmodem_start_upload(&s.e.z, file.c_str());
    s.run(limit_ms);
    ::close(s.fd);
    s.fd = -1;
    int status = relay.wait();
    return {s.first_end, s.first_text, status, {}};
  }
};

const size_t kPeerSizes[] = {0, 1, 1023, 1024, 1025, 3 * 1024 * 1024};

TEST_F(ZmodemPeer, DownloadsFromSzAreIdentical) {
  for (size_t size : kPeerSizes) {
    for (const char* flags : {"-b -q", "-b -q -e" /* every control byte escaped */}) {
      if (size > 4096 && strcmp(flags, "-b -q") != 0) continue;
      TempDir src, dst;
      auto data = special_bytes(size, static_cast<uint32_t>(size) + 3);
      write_bytes(src.file("f.bin"), data);
      Outcome o = download(src.path(), dst.path(), std::string("sz ") + flags + " f.bin");
      EXPECT_EQ(o.ending, kZmodemSucceeded) << size << " " << flags << ": " << o.text;
      EXPECT_EQ(o.relay_status, 0) << size << " " << flags;
      EXPECT_EQ(read_file_bytes(dst.file("f.bin")), as_file(data)) << size << " " << flags;
    }
  }
}

TEST_F(ZmodemPeer, DownloadWithCrc16FromSz) {
  TempDir src, dst;
  auto data = special_bytes(70000, 11);
  write_bytes(src.file("c16.bin"), data);
  Outcome o = download(src.path(), dst.path(), "sz -b -q -o c16.bin");
  EXPECT_EQ(o.ending, kZmodemSucceeded) << o.text;
  EXPECT_EQ(read_file_bytes(dst.file("c16.bin")), as_file(data));
}

TEST_F(ZmodemPeer, BatchDownload) {
  TempDir src, dst;
  std::vector<std::vector<uint8_t>> files = {special_bytes(5000, 1), special_bytes(0, 2),
                                             special_bytes(200000, 3)};
  write_bytes(src.file("a.bin"), files[0]);
  write_bytes(src.file("b.bin"), files[1]);
  write_bytes(src.file("c.bin"), files[2]);
  Outcome o = download(src.path(), dst.path(), "sz -b -q a.bin b.bin c.bin");
  EXPECT_EQ(o.ending, kZmodemSucceeded) << o.text;
  EXPECT_EQ(o.relay_status, 0);
  EXPECT_EQ(read_file_bytes(dst.file("a.bin")), as_file(files[0]));
  EXPECT_EQ(read_file_bytes(dst.file("b.bin")), as_file(files[1]));
  EXPECT_TRUE(transfer_path_exists(dst.file("b.bin").c_str()));
  EXPECT_EQ(read_file_bytes(dst.file("c.bin")), as_file(files[2]));
}

TEST_F(ZmodemPeer, NameWithDirectoryPartLandsInTheDownloadDirectory) {
  TempDir src, dst;
  ASSERT_EQ(mkdir((src.path() + "/sub").c_str(), 0755), 0);
  auto data = special_bytes(3000, 4);
  write_bytes(src.path() + "/sub/report.txt", data);
  // -f sends the full path name.
  Outcome o = download(src.path(), dst.path(), "sz -b -q -f " + src.path() + "/sub/report.txt");
  EXPECT_EQ(o.ending, kZmodemSucceeded) << o.text;
  EXPECT_EQ(read_file_bytes(dst.file("report.txt")), as_file(data));
  EXPECT_FALSE(transfer_path_exists((dst.path() + "/sub").c_str()));
}

TEST_F(ZmodemPeer, ExistingFileAnswers) {
  struct Case {
    int answer;
    const char* saved_as;  // where the new data must be
    bool old_kept;         // the existing file unchanged
  } cases[] = {{kZmodemOverwrite, "report.txt", false},
               {kZmodemRename, "report-1.txt", true},
               {kZmodemSkip, nullptr, true}};
  for (const auto& c : cases) {
    TempDir src, dst;
    auto data = special_bytes(40000, 5);
    write_bytes(src.file("report.txt"), data);
    std::vector<uint8_t> old = bytes_of("the user's own file");
    write_bytes(dst.file("report.txt"), old);
    Outcome o = download(src.path(), dst.path(), "sz -b -q report.txt", {c.answer});
    EXPECT_EQ(o.ending, kZmodemSucceeded) << c.answer << ": " << o.text;
    ASSERT_EQ(o.asked.size(), 1u) << c.answer;
    EXPECT_EQ(o.asked[0], "report.txt");
    if (c.saved_as) {
      EXPECT_EQ(read_file_bytes(dst.file(c.saved_as)), as_file(data)) << c.answer;
    }
    if (c.old_kept) {
      EXPECT_EQ(read_file_bytes(dst.file("report.txt")), as_file(old)) << c.answer;
    }
    if (c.answer == kZmodemSkip) {
      EXPECT_FALSE(transfer_path_exists(dst.file("report-1.txt").c_str()));
    }
  }
}

TEST_F(ZmodemPeer, UploadsToRzAreIdentical) {
  for (size_t size : kPeerSizes) {
    // rz -e asks for every control character escaped (ESCCTL) and drops
    // the ones that arrive unescaped.
    for (const char* rz : {"rz -b -q", "rz -b -q -e"}) {
      if (size > 70000 && strcmp(rz, "rz -b -q") != 0) continue;
      TempDir src, dst;
      auto data = special_bytes(size, static_cast<uint32_t>(size) + 17);
      write_bytes(src.file("up.bin"), data);
      Outcome o = upload(src.file("up.bin"), dst.path(), rz);
      EXPECT_EQ(o.ending, kZmodemSucceeded) << size << " " << rz << ": " << o.text;
      EXPECT_EQ(o.relay_status, 0) << size << " " << rz;
      EXPECT_EQ(read_file_bytes(dst.file("up.bin")), as_file(data)) << size << " " << rz;
    }
  }
}

TEST_F(ZmodemPeer, DamagedUploadsNeverClaimFalseSuccess) {
  int ok = 0;
  for (uint32_t seed = 1; seed <= 6; ++seed) {
    TempDir src, dst;
    auto data = special_bytes(256 * 1024, seed + 50);
    write_bytes(src.file("u.bin"), data);
    std::vector<std::string> opts = {
        "--seed", std::to_string(seed), "--direction", "both", "--flip", "20", "--drop", "20"};
    if (seed == 3) opts = {"--seed", "3", "--direction", "up", "--garbage-at", "100000"};
    if (seed == 6) opts = {"--seed", "6", "--direction", "up", "--cut-after", "150000"};
    uint32_t start = real_ms();
    Outcome o = upload(src.file("u.bin"), dst.path(), "rz -b -q", opts, 70000);
    EXPECT_LT(real_ms() - start, 75000u) << seed;
    bool same = read_file_bytes(dst.file("u.bin")) == as_file(data);
    if (o.ending == kZmodemSucceeded) {
      ++ok;
      EXPECT_TRUE(same) << "seed " << seed;
    } else {
      EXPECT_EQ(o.ending, kZmodemFailed) << seed;
    }
    printf("upload seed %u: %s\n", seed, o.text.c_str());
    if (seed == 6) {
      EXPECT_EQ(o.ending, kZmodemFailed);
    }
  }
  EXPECT_GT(ok, 0);
}

// A damaged line: each run ends either with an identical file or with a
// failure, never with a false success, and within its time limit.
TEST_F(ZmodemPeer, DamagedDownloadsNeverClaimFalseSuccess) {
  int ok = 0;
  for (uint32_t seed = 1; seed <= 6; ++seed) {
    TempDir src, dst;
    auto data = special_bytes(256 * 1024, seed);
    write_bytes(src.file("d.bin"), data);
    std::vector<std::string> opts = {
        "--seed", std::to_string(seed), "--direction", "both", "--flip", "20", "--drop", "20"};
    if (seed == 3) opts = {"--seed", "3", "--garbage-at", "100000"};
    if (seed == 6) opts = {"--seed", "6", "--cut-after", "150000"};
    uint32_t start = real_ms();
    Outcome o = download(src.path(), dst.path(), "sz -b -q d.bin", {}, opts, 70000);
    EXPECT_LT(real_ms() - start, 75000u) << seed;
    if (o.ending == kZmodemSucceeded) {
      ++ok;
      EXPECT_EQ(read_file_bytes(dst.file("d.bin")), as_file(data)) << "seed " << seed;
    } else {
      EXPECT_EQ(o.ending, kZmodemFailed) << seed;
    }
    printf("download seed %u: %s\n", seed, o.text.c_str());
    if (seed == 6) {
      EXPECT_EQ(o.ending, kZmodemFailed);
    }
  }
  EXPECT_GT(ok, 0);
}

// The long campaign for reports: KAVEL_ZMODEM_CAMPAIGN=100.
TEST_F(ZmodemPeer, Campaign) {
  const char* env = getenv("KAVEL_ZMODEM_CAMPAIGN");
  if (!env) GTEST_SKIP() << "set KAVEL_ZMODEM_CAMPAIGN=N for N seeded damaged runs each way";
  int runs = atoi(env);
  for (int dir = 0; dir < 2; ++dir) {
    int identical = 0, failed = 0, false_success = 0;
    uint32_t longest = 0;
    for (int seed = 1; seed <= runs; ++seed) {
      TempDir src, dst;
      auto data = special_bytes(1024 * 1024, static_cast<uint32_t>(seed));
      write_bytes(src.file("m.bin"), data);
      std::vector<std::string> opts = {"--seed", std::to_string(seed), "--direction", "both"};
      switch (seed % 4) {
        case 0:
          opts.insert(opts.end(), {"--flip", "10"});
          break;
        case 1:
          opts.insert(opts.end(), {"--drop", "10"});
          break;
        case 2:
          opts.insert(opts.end(), {"--garbage-at", std::to_string(seed * 9973)});
          break;
        default:
          opts.insert(opts.end(), {"--cut-after", std::to_string(seed * 15013)});
          break;
      }
      uint32_t start = real_ms();
      Outcome o = dir == 0 ? download(src.path(), dst.path(), "sz -b -q m.bin", {}, opts, 70000)
                           : upload(src.file("m.bin"), dst.path(), "rz -b -q", opts, 70000);
      uint32_t ms = real_ms() - start;
      longest = std::max(longest, ms);
      bool same = read_file_bytes(dst.file("m.bin")) == as_file(data);
      if (o.ending == kZmodemSucceeded && same)
        ++identical;
      else if (o.ending == kZmodemSucceeded)
        ++false_success;
      else
        ++failed;
      printf("%s seed %d: %s (%u ms)%s\n", dir == 0 ? "download" : "upload", seed, o.text.c_str(),
             ms, o.ending == kZmodemSucceeded && !same ? " FALSE SUCCESS" : "");
    }
    printf("%s: %d identical, %d failed, %d false successes, longest %u ms\n",
           dir == 0 ? "downloads" : "uploads", identical, failed, false_success, longest);
    EXPECT_EQ(false_success, 0);
  }
}

// Rates for reports: KAVEL_ZMODEM_RATE_MIB=64 moves that many MiB each way
// through the relay with the core driven as the session drives it.
TEST_F(ZmodemPeer, Rate) {
  const char* env = getenv("KAVEL_ZMODEM_RATE_MIB");
  if (!env) GTEST_SKIP() << "set KAVEL_ZMODEM_RATE_MIB=N to measure";
  size_t mib = strtoul(env, nullptr, 10);
  TempDir src, dst, back;
  auto data = random_bytes(mib << 20, 77);
  write_bytes(src.file("big.bin"), data);
  uint32_t t0 = real_ms();
  Outcome d = download(src.path(), dst.path(), "sz -b -q big.bin", {}, {}, 600000);
  uint32_t t1 = real_ms();
  Outcome u = upload(src.file("big.bin"), back.path(), "rz -b -q", {}, 600000);
  uint32_t t2 = real_ms();
  EXPECT_EQ(d.ending, kZmodemSucceeded);
  EXPECT_EQ(u.ending, kZmodemSucceeded);
  EXPECT_EQ(read_file_bytes(dst.file("big.bin")), as_file(data));
  EXPECT_EQ(read_file_bytes(back.file("big.bin")), as_file(data));
  printf("download from sz: %.1f MiB/s; upload to rz: %.1f MiB/s\n",
         static_cast<double>(mib) * 1000.0 / (t1 - t0),
         static_cast<double>(mib) * 1000.0 / (t2 - t1));
}

}  // namespace
