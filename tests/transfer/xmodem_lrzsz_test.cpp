// The XMODEM engine against real peers: lrzsz's sx sends to it (128-byte
// and 1K blocks) and rx receives from it (checksum and CRC-16), over pipes,
// each run bounded in time.  Every file is compared: the received one must
// be the original followed only by the 0x1A padding of its last block.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "transfer/xmodem.h"
#include "transfer/xmodem_harness.h"

using xmtest::Host;

namespace {

using Bytes = std::vector<uint8_t>;

const size_t kLrzszSizes[] = {0, 1, 127, 128, 129, 896, 897, 1000, 1024, 1025, 1u << 20};
constexpr int kRunSeconds = 60;

uint32_t wall_ms() {
  using namespace std::chrono;
  return static_cast<uint32_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

bool have_program(const char* name) {
  std::string cmd = std::string("command -v ") + name + " >/dev/null 2>&1";
  return system(cmd.c_str()) == 0;
}

// An lrzsz program with its standard input and output on two pipes, run in
// a directory of its own; its messages go to a log file there.
class Peer {
 public:
  Peer(const std::vector<std::string>& argv, const std::string& dir) {
    int to_child[2], from_child[2];
    if (pipe(to_child) != 0 || pipe(from_child) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(to_child[0], 0);
      dup2(from_child[1], 1);
      int log = open((dir + "/peer.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (log >= 0) dup2(log, 2);
      for (int fd = 3; fd < 256; fd++) close(fd);
      if (chdir(dir.c_str()) != 0) _exit(126);
      std::vector<char*> args;
      for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      execvp(args[0], args.data());
      _exit(127);
    }
    close(to_child[0]);
    close(from_child[1]);
    in_ = to_child[1];
    out_ = from_child[0];
    fcntl(out_, F_SETFL, fcntl(out_, F_GETFL) | O_NONBLOCK);
  }
  ~Peer() {
    close_input();
    if (out_ >= 0) close(out_);
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  bool started() const { return pid_ > 0 && in_ >= 0 && out_ >= 0; }

  // Writes everything, waiting for room at most until the deadline.
  int send(const uint8_t* bytes, size_t n, uint32_t deadline) {
    while (n > 0) {
      ssize_t w = write(in_, bytes, n);
      if (w > 0) {
        bytes += w;
        n -= static_cast<size_t>(w);
        continue;
      }
      if (w < 0 && errno != EAGAIN && errno != EINTR) return -1;
      if (static_cast<int32_t>(deadline - wall_ms()) < 0) return -1;
      pollfd p{in_, POLLOUT, 0};
      poll(&p, 1, 20);
    }
    return 0;
  }
  // Bytes from the peer: waits up to wait_ms; -1 at end of file.
  int receive(uint8_t* buf, size_t cap, int wait_ms) {
    pollfd p{out_, POLLIN, 0};
    if (poll(&p, 1, wait_ms) <= 0) return 0;
    ssize_t r = read(out_, buf, cap);
    if (r == 0) return -1;
    return r < 0 ? 0 : static_cast<int>(r);
  }
  void close_input() {
    if (in_ >= 0) close(in_);
    in_ = -1;
  }
  // The exit status, or -1 when it had to be killed at the deadline.
  int wait_exit(uint32_t deadline) {
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (static_cast<int32_t>(deadline - wall_ms()) < 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        reaped_ = true;
        return -1;
      }
      usleep(2000);
    }
    reaped_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  int in_ = -1, out_ = -1;
  bool reaped_ = false;
};

struct Outcome {
  bool engine_complete = false;
  int peer_status = -2;
  uint32_t ms = 0;           // the whole run, the peer's start and exit included
  uint32_t transfer_ms = 0;  // from the peer's first byte to the engine's end
  std::string text;
};

// Runs the engine in h against the peer until the engine ends, the peer
// closes or the time is up; then lets the peer finish.  With damage, the
// bytes of each direction pass through a damaging wire on the way.
Outcome drive(Host& h, Peer& peer, xmtest::Wire* damage_in = nullptr,
              xmtest::Wire* damage_out = nullptr) {
  Outcome out;
  uint32_t start = wall_ms();
  uint32_t deadline = start + kRunSeconds * 1000;
  h.clock = [] { return wall_ms(); };
  h.on_write = [&](const uint8_t* b, size_t n) {
    if (!damage_out) return peer.send(b, n, deadline);
    damage_out->push(b, n);
    Bytes out(damage_out->bytes.begin(), damage_out->bytes.end());
    damage_out->bytes.clear();
    return out.empty() ? 0 : peer.send(out.data(), out.size(), deadline);
  };
  std::vector<uint8_t> buf(8192);
  bool peer_gone = false;
  uint32_t first_byte = 0;
  while (h.st.active && static_cast<int32_t>(deadline - wall_ms()) > 0) {
    int n = peer.receive(buf.data(), buf.size(), 20);
    if (n < 0) {
      peer_gone = true;
      break;
    }
    if (n > 0 && first_byte == 0) first_byte = wall_ms();
    if (damage_in) {
      damage_in->push(buf.data(), static_cast<size_t>(n));
      while (!damage_in->bytes.empty() && h.st.active) {
        xmodem_consume(&h.st, damage_in->bytes.front());
        damage_in->bytes.pop_front();
      }
      damage_in->bytes.clear();
    }
    for (int i = 0; i < n && h.st.active && !damage_in; i++) {
      xmodem_consume(&h.st, buf[static_cast<size_t>(i)]);
    }
    xmodem_pump(&h.st);
  }
  if (h.st.active) xmodem_abort(&h.st, peer_gone ? "peer closed" : "timed out");
  out.transfer_ms = first_byte ? wall_ms() - first_byte : 0;
  out.engine_complete = h.completed();
  out.text = h.st.status_text;
  peer.close_input();
  out.peer_status = peer.wait_exit(wall_ms() + 15000);
  out.ms = wall_ms() - start;
  return out;
}

class XmodemLrzsz : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { signal(SIGPIPE, SIG_IGN); }
  void SetUp() override {
    if (!have_program("sx") || !have_program("rx")) {
      GTEST_SKIP() << "lrzsz (sx, rx) is not installed: scripts/packages/transfer.txt";
    }
  }
};

// Downloads: sx sends, the engine receives, in every start mode.
TEST_F(XmodemLrzsz, EngineReceivesFromSx) {
  struct Mode {
    const char* name;
    bool one_k;
    int start_mode;
  };
  const Mode modes[] = {
      {"sx, checksum", false, 0},
      {"sx, CRC", false, 1},
      {"sx -k, CRC", true, 1},
      {"sx -k, alternating", true, 2},
  };
  for (const Mode& m : modes) {
    for (size_t size : kLrzszSizes) {
      std::string what = std::string(m.name) + ", " + std::to_string(size) + " bytes";
      TempDir dir;
      Bytes data = xmtest::random_bytes(size, static_cast<uint32_t>(size) + 99);
      ASSERT_TRUE(write_file_bytes(dir.file("src.bin"), std::string(data.begin(), data.end())));
      std::vector<std::string> argv = {"sx", "-q"};
      if (m.one_k) argv.push_back("-k");
      argv.push_back("src.bin");
      Peer peer(argv, dir.path());
      ASSERT_TRUE(peer.started()) << what;
      Host h;
      h.init();
      xmodem_start_receive(&h.st, "src.bin", m.start_mode);
      Outcome o = drive(h, peer);
      ASSERT_TRUE(o.engine_complete) << what << ": " << o.text;
      EXPECT_EQ(o.peer_status, 0) << what;
      if (size >= 1u << 20) fprintf(stderr, "%s: %u ms\n", what.c_str(), o.transfer_ms);
      size_t pad = 0;
      ASSERT_TRUE(xmtest::is_file_plus_padding(h.stored, data, &pad)) << what;
      EXPECT_EQ(h.stored.size() % 128, 0u) << what;
      EXPECT_LT(pad, m.one_k ? 1024u : 128u) << what;
      EXPECT_EQ(h.st.use_crc, m.start_mode == 0 ? 0 : 1) << what;
      bool saw_1k = false;
      for (const auto& r : h.reports) saw_1k |= r.text == "XMODEM receive: 1K block";
      // sx chooses its own block sizes for the tail of a file.
      EXPECT_TRUE(m.one_k || !saw_1k) << what;
      EXPECT_TRUE(!m.one_k || size < 1024 || saw_1k) << what;
      EXPECT_EQ(h.closes, 1) << what;
    }
  }
}

// Uploads: the engine sends, rx receives with checksum or CRC-16 blocks.
TEST_F(XmodemLrzsz, RxReceivesFromTheEngine) {
  struct Mode {
    const char* name;
    bool crc;
    int preferred;
  };
  const Mode modes[] = {
      {"rx, checksum", false, 1024},
      {"rx -c", true, 1024},
      {"rx -c, 128-byte blocks", true, 128},
  };
  for (const Mode& m : modes) {
    for (size_t size : kLrzszSizes) {
      std::string what = std::string(m.name) + ", " + std::to_string(size) + " bytes";
      TempDir dir;
      Bytes data = xmtest::random_bytes(size, static_cast<uint32_t>(size) + 5);
      std::vector<std::string> argv = {"rx", "-q"};
      if (m.crc) argv.push_back("-c");
      argv.push_back("got.bin");
      Peer peer(argv, dir.path());
      ASSERT_TRUE(peer.started()) << what;
      Host h;
      h.source = data;
      h.init();
      xmodem_start_send(&h.st, "got.bin", static_cast<uint32_t>(size));
      h.st.preferred_block = m.preferred;
      Outcome o = drive(h, peer);
      ASSERT_TRUE(o.engine_complete) << what << ": " << o.text;
      EXPECT_EQ(o.peer_status, 0) << what;
      EXPECT_EQ(h.st.use_crc, m.crc ? 1 : 0) << what;
      Bytes got = read_file_bytes(dir.file("got.bin"));
      ASSERT_TRUE(xmtest::is_file_plus_padding(got, data)) << what << ": " << got.size();
      EXPECT_EQ(got.size(), xmtest::engine_padded_length(size, m.preferred == 1024)) << what;
    }
  }
}

// Damaged lines between the engine and lrzsz, both ways: each run ends with
// the whole file (plus padding) on the receiving side or with a failure,
// never with a damaged file reported complete.  lrzsz's time-outs are set to
// two seconds, like the engine's, to keep the runs short.
TEST_F(XmodemLrzsz, DamagedLinesBothWays) {
  Bytes data = xmtest::random_bytes(64 * 1024, 256);
  int runs = 0, complete = 0;
  for (uint32_t seed = 1; seed <= 3; seed++) {
    for (bool download : {true, false}) {
      std::string what =
          std::string(download ? "from sx -k" : "to rx -c") + ", seed " + std::to_string(seed);
      TempDir dir;
      if (download) {
        ASSERT_TRUE(write_file_bytes(dir.file("f.bin"), std::string(data.begin(), data.end())));
      }
      std::vector<std::string> argv = {download ? "sx" : "rx", "-q", "-t", "20"};
      argv.push_back(download ? "-k" : "-c");
      argv.push_back("f.bin");
      Peer peer(argv, dir.path());
      ASSERT_TRUE(peer.started()) << what;
      Host h;
      h.init();
      if (download) {
        xmodem_start_receive(&h.st, "f.bin", 1);
      } else {
        h.source = data;
        xmodem_start_send(&h.st, "f.bin", static_cast<uint32_t>(data.size()));
      }
      xmtest::Wire in, out;
      in.rng.seed(seed);
      out.rng.seed(seed + 1000);
      for (xmtest::Wire* w : {&in, &out}) {
        w->drop_ppm = 20;
        w->flip_ppm = 20;
        w->garbage_ppm = 10;
      }
      Outcome o = drive(h, peer, &in, &out);
      runs++;
      EXPECT_NE(o.text, "timed out") << what;
      Bytes got = download ? h.stored : read_file_bytes(dir.file("f.bin"));
      bool receiver_complete = download ? o.engine_complete : o.peer_status == 0;
      if (receiver_complete) {
        complete++;
        EXPECT_TRUE(xmtest::is_file_plus_padding(got, data)) << what;
      }
      fprintf(stderr, "%s: %s in %u ms, peer exit %d, damage %llu/%llu\n", what.c_str(),
              o.text.c_str(), o.ms, o.peer_status, static_cast<unsigned long long>(in.damaged),
              static_cast<unsigned long long>(out.damaged));
    }
  }
  EXPECT_GT(complete, 0) << complete << " of " << runs;
}

}  // namespace
