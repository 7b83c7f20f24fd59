// Test endpoints for the ZMODEM core: a ZmodemState wired to in-memory
// hooks (a fake clock, the bytes it sends, the bytes it hands to the
// terminal), and an independent decoder of what it put on the wire.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "transfer/zmodem.h"

// Bit-by-bit CRCs, written from the definitions, so that the checks do not
// lean on the tables under test.
uint16_t ref_crc16(const std::vector<uint8_t>& d);
uint32_t ref_crc32(const std::vector<uint8_t>& d);

struct ZEndpoint {
  ZmodemState z{};
  uint32_t* clock = nullptr;
  std::vector<uint8_t> out;         // everything sent, in order
  std::string terminal;             // bytes given to the terminal
  std::string dir;                  // download directory
  std::string upload_path;          // what pick_upload answers ("" = nothing)
  std::vector<int> exists_answers;  // answers to the file-exists question, in turn
  std::vector<std::string> exists_asked;
  int stop = 0;
  int draws = 0;
  int restores = 0;
  int hides = 0;
  int fail_sends = 0;     // the next sends fail
  void* owner = nullptr;  // for a test that wraps the endpoint

  explicit ZEndpoint(uint32_t* clk) : clock(clk) {
    z.hooks.ctx = this;
    z.hooks.send = [](void* c, const uint8_t* b, size_t n) {
      auto* e = static_cast<ZEndpoint*>(c);
      if (e->fail_sends > 0) {
        --e->fail_sends;
        return -1;
      }
      e->out.insert(e->out.end(), b, b + n);
      return 0;
    };
    z.hooks.now_ms = [](void* c) { return *static_cast<ZEndpoint*>(c)->clock; };
    z.hooks.hide_cursor = [](void* c) { ++static_cast<ZEndpoint*>(c)->hides; };
    z.hooks.restore_terminal = [](void* c) { ++static_cast<ZEndpoint*>(c)->restores; };
    z.hooks.status_changed = [](void* c) { ++static_cast<ZEndpoint*>(c)->draws; };
    z.hooks.file_exists = [](void* c, const char* name) {
      auto* e = static_cast<ZEndpoint*>(c);
      e->exists_asked.emplace_back(name);
      if (e->exists_answers.empty()) return static_cast<int>(kZmodemRename);
      int a = e->exists_answers.front();
      e->exists_answers.erase(e->exists_answers.begin());
      return a;
    };
    z.hooks.stop_requested = [](void* c) { return static_cast<ZEndpoint*>(c)->stop; };
    z.hooks.download_dir = [](void* c) { return static_cast<ZEndpoint*>(c)->dir.c_str(); };
    z.hooks.pick_upload = [](void* c, char* path, size_t cap) {
      auto* e = static_cast<ZEndpoint*>(c);
      if (e->upload_path.empty()) return 0;
      snprintf(path, cap, "%s", e->upload_path.c_str());
      return 1;
    };
  }
  ~ZEndpoint() {
    if (z.file) fclose(z.file);
  }
  ZEndpoint(const ZEndpoint&) = delete;
  ZEndpoint& operator=(const ZEndpoint&) = delete;

  // As a session feeds the engine: a running transfer's bytes to it, idle
  // ones through detection, what is not ZMODEM's to the terminal.
  static void show(void* c, uint8_t b) {
    static_cast<ZEndpoint*>(c)->terminal.push_back(static_cast<char>(b));
  }
  void feed(const uint8_t* bytes, size_t n) {
    for (size_t i = 0; i < n; ++i) {
      if (z.active) {
        zmodem_consume_byte(&z, bytes[i]);
      } else if (zmodem_detect(&z, bytes[i], show, this) == TRANSFER_PASS) {
        show(this, bytes[i]);
      }
    }
  }
  void feed(const std::vector<uint8_t>& bytes) { feed(bytes.data(), bytes.size()); }
  void feed(const std::string& bytes) {
    feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  }
  // A loop turn: held detection bytes shown once stale, then the timers.
  int poll() {
    zmodem_release_detect(&z, 0, show, this);
    return zmodem_poll(&z);
  }
  std::vector<uint8_t> take() {
    std::vector<uint8_t> r;
    r.swap(out);
    return r;
  }
};

// One thing found on the wire.
struct WireItem {
  enum Kind { kHex, kBin16, kBin32, kData, kText, kCancel };
  explicit WireItem(Kind k) : kind(k) {}
  Kind kind;
  int type = 0;               // header type, or the data subpacket's end character
  uint32_t value = 0;         // header value
  std::vector<uint8_t> data;  // data subpacket contents, or raw text
  bool crc_ok = false;
  bool xon = false;  // a hex header or ZCRCW subpacket followed by XON
};

// Decodes a byte stream the core sent.  Data subpackets are read after a
// binary header until one ends with ZCRCE or ZCRCW.  Independent of the
// core's own parser on purpose.
std::vector<WireItem> decode_wire(const std::vector<uint8_t>& bytes, int data_crc32);

// Builders for a scripted peer (they use the core's builders, whose output
// the wire tests pin down byte for byte).
std::vector<uint8_t> hex_header(int type, uint32_t value);
std::vector<uint8_t> bin_header(int type, uint32_t value, int crc32 = 1);
std::vector<uint8_t> subpacket(const std::vector<uint8_t>& data, uint8_t end, int crc32 = 1);
std::vector<uint8_t> subpacket(const std::string& data, uint8_t end, int crc32 = 1);
std::vector<uint8_t> cat(std::initializer_list<std::vector<uint8_t>> parts);
std::vector<uint8_t> bytes_of(const std::string& s);
std::string file_info(const std::string& name, const std::string& numbers);
std::vector<uint8_t> random_bytes(size_t n, uint32_t seed);
