// A test host for the XMODEM engine: an in-memory file to send or receive
// (or a YMODEM batch of them), a record of every write and report, an
// optional damaged wire to another engine, and a fake or real clock; and
// the same for the YMODEM adapter, with real files.
#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "transfer/xmodem.h"
#include "transfer/ymodem_kavel.h"

namespace xmtest {

struct Report {
  int kind;
  std::string text;
  uint32_t bytes, total, blocks, retries, crc;
  std::string name;
};

// One direction of a link.  Damage rates are in bytes per million; the
// random source is seeded, so a failing run repeats exactly.
struct Wire {
  std::deque<uint8_t> bytes;
  std::mt19937 rng{1};
  uint32_t drop_ppm = 0, flip_ppm = 0, garbage_ppm = 0;
  bool cut = false;  // everything pushed after the cut is lost
  uint64_t cut_after = UINT64_MAX;  // the cut comes after this many bytes
  uint64_t pushed = 0;
  uint64_t damaged = 0;

  bool chance(uint32_t ppm) { return ppm > 0 && rng() % 1000000u < ppm; }
  void push(const uint8_t* data, size_t n) {
    for (size_t i = 0; i < n; i++) {
      if (pushed++ >= cut_after) cut = true;
      if (cut) return;
      uint8_t b = data[i];
      if (chance(garbage_ppm)) {
        bytes.push_back(static_cast<uint8_t>(rng()));
        damaged++;
      }
      if (chance(drop_ppm)) {
        damaged++;
        continue;
      }
      if (chance(flip_ppm)) {
        b ^= static_cast<uint8_t>(1u << (rng() % 8));
        damaged++;
      }
      bytes.push_back(b);
    }
  }
};

struct Host {
  XmodemState st{};
  // The file being sent, and how it is read.
  std::vector<uint8_t> source;
  size_t read_pos = 0;
  size_t read_chunk = SIZE_MAX;  // most bytes one read returns
  size_t read_error_at = SIZE_MAX;
  // The file being received.
  std::vector<uint8_t> stored;
  int store_result = 0;
  // Everything written, one entry per write call.
  std::vector<std::vector<uint8_t>> writes;
  Wire* out = nullptr;
  std::function<int(const uint8_t*, size_t)> on_write;  // replaces the default when set
  std::function<uint32_t()> clock;                      // the now entry
  std::vector<Report> reports;
  int close_result = 0;  // what the close entry answers
  int closes = 0;
  int calls_after_close = 0;    // any entry but write and status after the close
  int writes_after_close = 0;   // a completing receiver's ACK, or its cancel sequence
  int reports_after_close = 0;  // the ending's own report is the one allowed
  // YMODEM: the batch to send (names as block 0 carries them), and each
  // received file's block 0 with the offset of its data in stored.
  struct BatchFile {
    std::string name;
    std::vector<uint8_t> data;
    int64_t mtime = 0;
  };
  std::vector<BatchFile> batch_out;
  size_t batch_next = 0;
  std::vector<std::pair<YmodemFileInfo, size_t>> begun;
  int begin_result = 0;  // what begin_file answers

  void touch() {
    if (closes > 0) calls_after_close++;
  }

  static Host& of(void* c) { return *static_cast<Host*>(c); }
  static int cb_write(void* c, const uint8_t* b, size_t n) {
    Host& h = of(c);
    if (h.closes > 0) h.writes_after_close++;
    h.writes.emplace_back(b, b + n);
    if (h.on_write) return h.on_write(b, n);
    if (h.out) h.out->push(b, n);
    return 0;
  }
  static int cb_read(void* c, uint8_t* buf, size_t n) {
    Host& h = of(c);
    h.touch();
    if (h.read_pos >= h.read_error_at) return -1;
    size_t left = h.source.size() - h.read_pos;
    size_t k = std::min({n, left, h.read_chunk});
    std::copy_n(h.source.begin() + static_cast<long>(h.read_pos), k, buf);
    h.read_pos += k;
    return static_cast<int>(k);
  }
  static int cb_store(void* c, const uint8_t* d, size_t n) {
    Host& h = of(c);
    h.touch();
    if (h.store_result != 0) return h.store_result;
    h.stored.insert(h.stored.end(), d, d + n);
    return 0;
  }
  static int cb_close(void* c) {
    Host& h = of(c);
    h.touch();
    h.closes++;
    return h.close_result;
  }
  static uint32_t cb_size(void* c) { return static_cast<uint32_t>(of(c).source.size()); }
  static uint32_t cb_now(void* c) {
    Host& h = of(c);
    h.touch();
    return h.clock ? h.clock() : 0;
  }
  static void cb_status(void* c, int kind, const char* text, uint32_t bytes, uint32_t total,
                        uint32_t blocks, uint32_t retries, uint32_t crc, const char* name) {
    Host& h = of(c);
    if (h.closes > 0) h.reports_after_close++;
    h.reports.push_back(
        {kind, text ? text : "", bytes, total, blocks, retries, crc, name ? name : ""});
  }

  static int cb_next_file(void* c, YmodemFileInfo* info) {
    Host& h = of(c);
    if (h.batch_next >= h.batch_out.size()) return 0;
    const BatchFile& f = h.batch_out[h.batch_next++];
    h.source = f.data;
    h.read_pos = 0;
    *info = YmodemFileInfo{};
    snprintf(info->name, sizeof info->name, "%s", f.name.c_str());
    info->size = f.data.size();
    info->mtime = f.mtime;
    info->has_size = 1;
    info->has_mtime = f.mtime != 0;
    return 1;
  }
  static int cb_begin_file(void* c, const YmodemFileInfo* info) {
    Host& h = of(c);
    h.begun.emplace_back(*info, h.stored.size());
    return h.begin_result;
  }
  YmodemBatch batch() { return YmodemBatch{cb_begin_file, cb_next_file}; }
  // The data received for the i-th file begun.
  std::vector<uint8_t> received(size_t i) const {
    size_t end = i + 1 < begun.size() ? begun[i + 1].second : stored.size();
    return std::vector<uint8_t>(stored.begin() + static_cast<long>(begun.at(i).second),
                                stored.begin() + static_cast<long>(end));
  }
  bool ended_well() const {
    return !st.active && last_report() && last_report()->kind == XM_REPORT_COMPLETE;
  }

  XmodemCallbacks callbacks() {
    return XmodemCallbacks{this, cb_write, cb_read, cb_store, cb_close, cb_size, cb_now, cb_status};
  }
  void init() {
    XmodemCallbacks cb = callbacks();
    xmodem_init(&st, &cb);
  }

  // Everything written since the last call, as one byte string.
  std::vector<uint8_t> take_written() {
    std::vector<uint8_t> all;
    for (auto& w : writes) all.insert(all.end(), w.begin(), w.end());
    writes.clear();
    return all;
  }
  const Report* last_report() const { return reports.empty() ? nullptr : &reports.back(); }
  bool completed() const { return !st.active && std::string(st.status_text) == "XMODEM complete"; }
};

// The bytes a receiver ends up with: the file, then 0x1A up to the end of
// its last block.
inline bool is_file_plus_padding(const std::vector<uint8_t>& got,
                                 const std::vector<uint8_t>& original, size_t* pad_out = nullptr) {
  if (got.size() < original.size()) return false;
  if (!std::equal(original.begin(), original.end(), got.begin())) return false;
  for (size_t i = original.size(); i < got.size(); i++) {
    if (got[i] != kXmPad) return false;
  }
  if (pad_out) *pad_out = got.size() - original.size();
  return true;
}

// The length the engine's sender produces for a file: 1K blocks while more
// than 896 bytes remain (when 1K blocks are preferred), 128-byte blocks after.
inline size_t engine_padded_length(size_t size, bool one_k) {
  size_t done = 0, len = 0;
  while (done < size) {
    size_t block = (one_k && size - done > 896) ? 1024 : 128;
    done += std::min(block, size - done);
    len += block;
  }
  return len;
}

inline std::vector<uint8_t> random_bytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

// The YMODEM adapter with real files, its engine, and the host table a
// session would give it: sends go to a wire or on_write, the clock and the
// answer to the file-exists question are the test's.
struct YmHost {
  std::unique_ptr<YmodemHostContext> ctx = std::make_unique<YmodemHostContext>();
  XmodemState st{};
  Wire* out = nullptr;
  std::function<int(const uint8_t*, size_t)> on_write;
  std::function<uint32_t()> clock;
  int exists_answer = YM_EXISTS_RENAME;
  std::vector<std::string> asked;  // names put to the file-exists question

  YmHost() {
    YmodemHostTable table{this, send, now, exists, nullptr};
    ymodem_kavel_init(ctx.get(), &table);
  }
  ~YmHost() { ymodem_kavel_close(ctx.get()); }
  YmHost(const YmHost&) = delete;
  YmHost& operator=(const YmHost&) = delete;

  static YmHost& of(void* h) { return *static_cast<YmHost*>(h); }
  static int send(void* h, const uint8_t* b, size_t n) {
    YmHost& y = of(h);
    if (y.on_write) return y.on_write(b, n);
    if (y.out) y.out->push(b, n);
    return 0;
  }
  static uint32_t now(void* h) { return of(h).clock ? of(h).clock() : 0; }
  static int exists(void* h, const char* name) {
    of(h).asked.emplace_back(name);
    return of(h).exists_answer;
  }
  bool completed() const { return !st.active && ctx->last_kind == XM_REPORT_COMPLETE; }
};

// One turn of a session loop on each side of a link: deliver what is on
// the wires, pump both, and let time pass only when nothing moved.
inline void step_pair(XmodemState* a, Wire* to_a, XmodemState* b, Wire* to_b, uint32_t* now) {
  bool moved = false;
  for (auto [st, w] : {std::pair{a, to_a}, std::pair{b, to_b}}) {
    for (int i = 0; i < 4096 && !w->bytes.empty(); i++, moved = true) {
      xmodem_consume(st, w->bytes.front());
      w->bytes.pop_front();
    }
  }
  if (!moved) *now += 20;
  xmodem_pump(a);
  xmodem_pump(b);
}

}  // namespace xmtest
