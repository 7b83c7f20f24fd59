// The phonebook file: what the writer writes reads back unchanged, and the
// reader copes with hand-edited and damaged files.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "pb_test_util.h"
#include "support/test_support.h"

namespace {

// Saves the entries to a real file and loads them back.
void round_trip(const std::vector<PhoneEntry>& in, TestBook* out) {
  TestBook book;
  for (const PhoneEntry& e : in) ASSERT_EQ(phonebook_append(book.get(), &e), 0);
  TempDir dir;
  std::string path = dir.file("kavel.phonebook");
  ASSERT_EQ(phonebook_save(book.get(), path.c_str()), 0);
  ASSERT_EQ(phonebook_load(out->get(), path.c_str()), 0);
}

// n bytes from pool, fenced by non-blank bytes so that trimming has nothing
// to remove.
std::string fill(const std::string& pool, size_t n, std::mt19937* rng) {
  std::string s;
  for (size_t i = 0; i < n; i++) s += pool[(*rng)() % pool.size()];
  if (n > 0) s.front() = '#';
  if (n > 1) s.back() = 'z';
  return s;
}

}  // namespace

TEST(PhonebookFile, AnyBytesReadBackUnchanged) {
  std::vector<PhoneEntry> in;
  // Every text field at capacity with bytes that all need escaping: the
  // line is far longer than 1023 bytes.
  PhoneEntry full =
      make_entry(std::string(79, '|'), std::string(159, '\\'), 65535, "C64 Low/Up [80]");
  full.terminal = kTerminalPetscii;
  safe_copy(full.username, sizeof full.username,
            std::string("u").append(77, '\n').append("v").c_str());
  safe_copy(full.password, sizeof full.password, std::string(159, '\r').c_str());
  safe_copy(full.software, sizeof full.software, std::string(79, '|').c_str());
  safe_copy(full.last_call, sizeof full.last_call, std::string(31, '\\').c_str());
  safe_copy(full.note, sizeof full.note, (std::string(238, '\\') + "n").c_str());
  full.call_count = 4294967295u;
  full.favourite = 1;
  in.push_back(full);
  // A name starting with "#" must not turn into a comment line.
  in.push_back(make_entry("#1 BBS", "one.example"));
  in.push_back(make_entry(std::string("#").append(78, '\\'), "two.example"));
  PhoneEntry pw = make_entry("X|Y\\Z", "h|b");
  safe_copy(pw.password, sizeof pw.password, "  pass word  ");
  in.push_back(pw);
  // Random entries over every byte value 1..255.
  std::mt19937 rng(20240607);
  std::string pool;
  for (int b = 1; b <= 255; b++) pool += static_cast<char>(b);
  const std::string escapes = "|\\\n\r# ";
  const char* fonts[] = {"CP437",           "Topaz (1200)",    "Topaz (Amiga)",  "C64 Up/GFX [40]",
                         "C64 Low/Up [40]", "C64 Up/GFX [80]", "C64 Low/Up [80]"};
  for (int i = 0; i < 300; i++) {
    const std::string& p = i % 3 == 0 ? escapes : pool;
    PhoneEntry e = make_entry(fill(p, rng() % 80, &rng), fill(p, rng() % 160, &rng),
                              1 + static_cast<int>(rng() % 65535), fonts[rng() % 7]);
    e.terminal = strstr(e.font, "C64") ? kTerminalPetscii : kTerminalAnsi;
    safe_copy(e.username, sizeof e.username, fill(p, rng() % 80, &rng).c_str());
    safe_copy(e.password, sizeof e.password, fill(p, rng() % 160, &rng).c_str());
    safe_copy(e.software, sizeof e.software, fill(p, rng() % 80, &rng).c_str());
    safe_copy(e.last_call, sizeof e.last_call, fill(p, rng() % 32, &rng).c_str());
    safe_copy(e.note, sizeof e.note, fill(p, rng() % 240, &rng).c_str());
    e.call_count = rng();
    e.favourite = static_cast<int32_t>(rng() % 2);
    in.push_back(e);
  }
  TestBook back;
  round_trip(in, &back);
  ASSERT_EQ(back->count, in.size());
  for (uint32_t i = 0; i < in.size(); i++) EXPECT_TRUE(entries_equal(back[i], in[i])) << i;

  // The losses the format has: trimmed fields, terminals other than 5,
  // favourite values other than 0 and 1, an empty font.
  PhoneEntry lossy = make_entry(" #padded ", " host ", 23, "");
  safe_copy(lossy.note, sizeof lossy.note, "line feed at the end\n");
  lossy.terminal = 7;
  lossy.favourite = -3;
  TestBook lost;
  round_trip({lossy}, &lost);
  ASSERT_EQ(lost->count, 1u);
  PhoneEntry want = make_entry("#padded", "host");
  safe_copy(want.note, sizeof want.note, "line feed at the end");
  want.favourite = 1;
  EXPECT_TRUE(entries_equal(lost[0], want));
}

TEST(PhonebookFile, WriterEscapes) {
  PhoneEntry e = make_entry("X|Y\\Z", "#h", 23, "");
  safe_copy(e.note, sizeof e.note, "a\nb\r");
  EXPECT_EQ(entry_line(e), "X\\|Y\\\\Z|#h|23|ANSI|CP437|||||0|0|a\\nb\\r\n");
  PhoneEntry hash = make_entry(" #1", "h", 23, "C64 Up/GFX [40]");
  hash.terminal = kTerminalPetscii;
  hash.favourite = 5;
  EXPECT_EQ(entry_line(hash), " \\#1|h|23|PETSCII|C64 Up/GFX [40]|||||0|1|\n");
  // An escape pair is never split when the buffer runs out.
  char out[5];
  phonebook_field_for_save("abc\\", out, sizeof out, false);
  EXPECT_STREQ(out, "abc");
  phonebook_field_for_save("ab\\", out, sizeof out, false);
  EXPECT_STREQ(out, "ab\\\\");
}

TEST(PhonebookFile, ReaderFieldRules) {
  struct Case {
    const char* line;
    int port, terminal;
    const char* font;
    uint32_t count;
    int favourite;
  };
  const Case cases[] = {
      {"Name|host", 23, 4, "CP437", 0, 0},
      {"n|h|80abc|PeTsCiI", 80, 5, "CP437", 0, 0},
      {"n|h|0|petascii", 23, 5, "CP437", 0, 0},
      {"n|h|65536|c64", 23, 5, "CP437", 0, 0},
      {"n|h|port|7", 23, 7, "CP437", 0, 0},
      {"n|h|23|-2", 23, 4, "CP437", 0, 0},
      {"n|h|23|10", 23, 4, "CP437", 0, 0},
      {"n|h|23|vt100", 23, 4, "CP437", 0, 0},
      {"n|h|23|ANSI|c64 low/up 80col", 23, 5, "C64 Low/Up [80]", 0, 0},
      {"n|h|23|ANSI|  |u|p|s|d| 42x |2", 23, 4, "CP437", 42, 1},
      {"n|h|23|ANSI|x|u|p|s|d|99999999999|65535", 23, 4, "x", 4294967295u, 1},
      {"n|h|23|ANSI|CP437|u|p|s|d|abc|-1", 23, 4, "CP437", 0, 0},
      {"n|h|23|ANSI|CP437|u|p|s|d|1|65536", 23, 4, "CP437", 1, 0},
      {"n|h|23|ANSI|CP437|u|p|s|d|1|0", 23, 4, "CP437", 1, 0},
      {"n|h|23|ANSI|CP437|u|p|s|d|1|yes", 23, 4, "CP437", 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    PhoneEntry e;
    ASSERT_EQ(phonebook_parse_line(c.line, strlen(c.line), &e), 1);
    EXPECT_EQ(e.port, c.port);
    EXPECT_EQ(e.terminal, c.terminal);
    EXPECT_STREQ(e.font, c.font);
    EXPECT_EQ(e.call_count, c.count);
    EXPECT_EQ(e.favourite, c.favourite);
  }
  for (const char* line : {"", " \t ", "# Kavel Phonebook", "  # x|y|z", "no separator", "\\|"}) {
    PhoneEntry e;
    EXPECT_EQ(phonebook_parse_line(line, strlen(line), &e), 0) << line;
  }

  TestBook book;
  ASSERT_EQ(load_from_string(book.get(),
                             "# Kavel Phonebook\n\n"
                             "  A | host.a |23|ANSI|CP437| user |  secret  | soft |d|3|0| a | b |\n"
                             "B|h|23|ANSI|CP437|||||0|0|x\\ny\\qz\\\r\n"
                             "C|h|23|ANSI|CP437|u|  last field  \n"),
            0);
  ASSERT_EQ(book->count, 3u);
  EXPECT_STREQ(book[0].name, "A");
  EXPECT_STREQ(book[0].username, "user");
  EXPECT_STREQ(book[0].password, "  secret  ");
  EXPECT_STREQ(book[0].note, "a | b |");   // a thirteenth bar belongs to the note
  EXPECT_STREQ(book[1].note, "x\nyqz\\");  // "\q" is "q"; a final backslash stays
  EXPECT_STREQ(book[2].password, "  last field");

  TempDir dir;
  EXPECT_EQ(phonebook_load(book.get(), dir.file("absent").c_str()), -1);
  EXPECT_EQ(book->count, 0u);
}

TEST(PhonebookFile, DamagedFilesKeepEveryValidEntry) {
  const std::string good1 = "Good One|one.example|23|ANSI|CP437||||||0|0|\n";
  const std::string good2 = "Good Two|two.example|2323|PETSCII|C64 Up/GFX [40]||||||5|1|n\n";
  std::mt19937 rng(7);
  std::string garbage;
  for (int i = 0; i < 200000; i++) {
    char c = static_cast<char>(rng() % 256);
    garbage += c == '\n' ? 'x' : c;  // one enormous line
  }
  static const char kNul[] = "Nul|nul.example|23\0|PETSCII|C64 Up/GFX [40]\n";
  const std::string nul_line(kNul, sizeof kNul - 1);
  const struct {
    const char* label;
    std::string contents;
    uint32_t valid;
  } cases[] = {
      {"enormous line between entries", good1 + garbage + "\n" + good2, 2},
      {"enormous last line without line feed", good1 + good2 + garbage, 2},
      {"NUL inside a line", good1 + nul_line + good2, 3},
      {"NUL at the start of a line", good1 + std::string("\0x|y\n", 5) + good2, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    TestBook book;
    ASSERT_EQ(load_from_string(book.get(), c.contents), 0);
    // The garbage may read as one entry, never as several.
    ASSERT_GE(book->count, c.valid);
    ASSERT_LE(book->count, c.valid + 1);
    EXPECT_STREQ(book[0].address, "one.example");
    const PhoneEntry& last = book[book->count - 1];
    EXPECT_TRUE(strcmp(last.address, "two.example") == 0 && last.port == 2323 &&
                last.terminal == kTerminalPetscii && last.favourite == 1);
  }
  // What follows a NUL does not count.
  TestBook book;
  ASSERT_EQ(load_from_string(book.get(), nul_line), 0);
  ASSERT_EQ(book->count, 1u);
  EXPECT_TRUE(entries_equal(book[0], make_entry("Nul", "nul.example")));
}

namespace {

// A stream of generated bytes: a short line, one line of `long_line` bytes,
// another short line; then a read error when `fail_at_end` is set.
struct Source {
  size_t long_line;
  bool fail_at_end;
  size_t pos;
};

ssize_t source_read(void* cookie, char* buf, size_t size) {
  Source* s = static_cast<Source*>(cookie);
  const std::string head = "First|one.example|23\n";
  const std::string tail = "\nLast|two.example|23\n";
  size_t total = head.size() + s->long_line + tail.size();
  size_t n = 0;
  for (; n < size && s->pos < total; n++, s->pos++) {
    size_t p = s->pos;
    buf[n] = p < head.size()                  ? head[p]
             : p < head.size() + s->long_line ? 'x'
                                              : tail[p - head.size() - s->long_line];
  }
  if (n == 0 && s->fail_at_end) {
    errno = EIO;
    return -1;
  }
  return static_cast<ssize_t>(n);
}

FILE* open_source(Source* s) {
  cookie_io_functions_t io = {source_read, nullptr, nullptr, nullptr};
  return fopencookie(s, "r", io);
}

}  // namespace

TEST(PhonebookFile, ReadErrorIsReported) {
  // A read error part way: the entries before it stay, and the load does not
  // claim to have read the whole phonebook.
  Source broken{10, true, 0};
  FILE* f = open_source(&broken);
  ASSERT_NE(f, nullptr);
  TestBook book;
  EXPECT_EQ(phonebook_load_stream(book.get(), f), -1);
  fclose(f);
  ASSERT_EQ(book->count, 2u);
  EXPECT_STREQ(book[1].address, "two.example");
}

TEST(PhonebookFile, LineLongerThanMemoryIsReported) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "an address-space limit cannot be set under AddressSanitizer";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  GTEST_SKIP() << "an address-space limit cannot be set under AddressSanitizer";
#endif
#endif
  // Reported, not returned cut short (a cut line reads as a damaged entry),
  // and the next read starts on the following line.
  int rc = in_child([] {
    struct rlimit rl;
    long pages = 0, page = sysconf(_SC_PAGESIZE);
    FILE* statm = fopen("/proc/self/statm", "r");
    if (!statm || fscanf(statm, "%ld", &pages) != 1) return 3;
    fclose(statm);
    rl.rlim_cur = rl.rlim_max = static_cast<rlim_t>(pages * page) + (8u << 20);
    if (setrlimit(RLIMIT_AS, &rl) != 0) return 3;
    Source big{24u << 20, false, 0};
    FILE* in = open_source(&big);
    if (!in) return 3;
    char* buf = nullptr;
    size_t cap = 0;
    size_t unlimited = static_cast<size_t>(-1) / 2;
    int step = 4;
    if (phonebook_read_line(in, &buf, &cap, unlimited) == 20) step++;
    if (step == 5 && phonebook_read_line(in, &buf, &cap, unlimited) == -2) step++;
    if (step == 6 && phonebook_read_line(in, &buf, &cap, unlimited) == 19 &&
        strcmp(buf, "Last|two.example|23") == 0) {
      step++;
    }
    if (step == 7 && phonebook_read_line(in, &buf, &cap, unlimited) == -1) step = 0;
    free(buf);
    fclose(in);
    return step;
  });
  EXPECT_EQ(rc, 0) << "3: no limit set; 4..7: the read that went wrong";
}
