// The phonebook file: what the writer writes reads back unchanged, and the
// reader copes with hand-edited and damaged files.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "pb_test_util.h"
#include "phonebook/phonebook.h"
#include "support/test_support.h"

namespace {

// Writes every entry to a real file through the save path and loads it back.
void round_trip(const std::vector<PhoneEntry>& in, TestBook* out) {
  TestBook book;
  for (const PhoneEntry& e : in) ASSERT_EQ(phonebook_append(book.get(), &e), 0);
  TempDir dir;
  std::string path = dir.file("kavel.phonebook");
  ASSERT_EQ(phonebook_save(book.get(), path.c_str()), 0);
  ASSERT_EQ(phonebook_load(out->get(), path.c_str()), 0);
}

std::string repeat(char c, size_t n) {
  return std::string(n, c);
}

// A field value of exactly n bytes drawn from pool, kept non-blank at both
// ends so that trimming on read has nothing to remove.
std::string fill(const std::string& pool, size_t n, std::mt19937* rng) {
  std::string s;
  for (size_t i = 0; i < n; i++) s += pool[(*rng)() % pool.size()];
  if (n > 0) s.front() = 'a';
  if (n > 1) s.back() = 'z';
  return s;
}

}  // namespace

TEST(PhonebookRoundTrip, SpecialBytesAndFullFieldsReadBackUnchanged) {
  struct Case {
    const char* label;
    PhoneEntry entry;
  };
  std::vector<Case> cases;

  PhoneEntry bars = make_entry("X|Y\\Z", "host|with|bars", 2323);
  safe_copy(bars.note, sizeof bars.note, "line one\nline two\r\nthree | four \\n literal");
  safe_copy(bars.password, sizeof bars.password, "  pass word  ");
  safe_copy(bars.username, sizeof bars.username, "\\");
  cases.push_back({"bars, backslashes, line breaks, padded password", bars});

  // Every text field at capacity with bytes that all need escaping: the line
  // is far longer than 1023 bytes.
  PhoneEntry full = make_entry(repeat('|', 79), repeat('\\', 159), 65535, "C64 Low/Up [80]");
  full.terminal = kTerminalPetscii;
  safe_copy(full.username, sizeof full.username, ("u" + repeat('\n', 77) + "v").c_str());
  safe_copy(full.password, sizeof full.password, repeat('\r', 159).c_str());
  safe_copy(full.software, sizeof full.software, repeat('|', 79).c_str());
  safe_copy(full.last_call, sizeof full.last_call, repeat('\\', 31).c_str());
  safe_copy(full.note, sizeof full.note, (repeat('\\', 238) + "n").c_str());
  full.call_count = 4294967295u;
  full.favourite = 1;
  cases.push_back({"every field full of escapes", full});

  cases.push_back({"name starting with #", make_entry("#1 BBS", "one.example")});
  cases.push_back(
      {"name of # and backslashes at capacity", make_entry("#" + repeat('\\', 78), "two.example")});
  cases.push_back({"name that is only #", make_entry("#", "three.example")});
  cases.push_back({"# after blanks in the name", make_entry("\t #x", "four.example")});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    TestBook back;
    round_trip({c.entry}, &back);
    ASSERT_EQ(back->count, 1u);
    PhoneEntry want = c.entry;
    trim(want.name);  // the one named loss these cases touch
    EXPECT_TRUE(entries_equal(back[0], want));
  }
}

TEST(PhonebookRoundTrip, EveryByteValueSurvives) {
  // Bytes 1..255 spread over the free-text fields, each field fenced by
  // non-blank bytes so that trimming on read removes nothing.
  std::string all;
  for (int b = 1; b <= 255; b++) all += static_cast<char>(b);
  PhoneEntry e = make_entry("[" + all.substr(0, 70) + "]", "[" + all.substr(70, 100) + "]", 80);
  safe_copy(e.username, sizeof e.username, ("[" + all.substr(170, 40) + "]").c_str());
  safe_copy(e.password, sizeof e.password, all.substr(210).c_str());
  safe_copy(e.software, sizeof e.software, ("[" + all.substr(0, 77) + "]").c_str());
  safe_copy(e.last_call, sizeof e.last_call, ("[" + all.substr(100, 29) + "]").c_str());
  safe_copy(e.note, sizeof e.note, ("[" + all + "]").substr(0, 239).c_str());
  TestBook back;
  round_trip({e}, &back);
  ASSERT_EQ(back->count, 1u);
  EXPECT_TRUE(entries_equal(back[0], e));
}

TEST(PhonebookRoundTrip, RandomEntriesOfAnyBytes) {
  std::mt19937 rng(20240607);
  std::string pool;
  for (int b = 1; b <= 255; b++) pool += static_cast<char>(b);
  std::string escapes = "|\\\n\r#| \\";
  const char* fonts[] = {"CP437",           "Topaz (1200)",    "Topaz (Amiga)",  "C64 Up/GFX [40]",
                         "C64 Low/Up [40]", "C64 Up/GFX [80]", "C64 Low/Up [80]"};
  std::vector<PhoneEntry> in;
  for (int i = 0; i < 300; i++) {
    const std::string& p = (i % 3 == 0) ? escapes : pool;
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
  for (size_t i = 0; i < in.size(); i++) {
    SCOPED_TRACE("entry " + std::to_string(i));
    EXPECT_TRUE(entries_equal(back[static_cast<uint32_t>(i)], in[i]));
  }
}

TEST(PhonebookRoundTrip, NamedLossesOnly) {
  // Trimming of padded fields, a final line feed of the note, terminal
  // values other than 5, and non-zero favourites other than 1.
  PhoneEntry e = make_entry("  padded  ", " host ", 23, "");
  safe_copy(e.note, sizeof e.note, "ends with a line feed\n");
  e.terminal = 7;
  e.favourite = -3;
  TestBook back;
  round_trip({e}, &back);
  ASSERT_EQ(back->count, 1u);
  EXPECT_STREQ(back[0].name, "padded");
  EXPECT_STREQ(back[0].address, "host");
  EXPECT_STREQ(back[0].font, "CP437");
  EXPECT_STREQ(back[0].note, "ends with a line feed");
  EXPECT_EQ(back[0].terminal, kTerminalAnsi);
  EXPECT_EQ(back[0].favourite, 1);
}

TEST(PhonebookWriter, EscapesAsDocumented) {
  PhoneEntry e = make_entry("X|Y\\Z", "h", 23);
  safe_copy(e.note, sizeof e.note, "a\nb");
  EXPECT_EQ(entry_line(e), "X\\|Y\\\\Z|h|23|ANSI|CP437|||||0|0|a\\nb\n");

  PhoneEntry hash = make_entry("#1 BBS", "h", 23, "C64 Up/GFX [40]");
  hash.terminal = kTerminalPetscii;
  hash.favourite = 5;
  hash.call_count = 12;
  EXPECT_EQ(entry_line(hash), "\\#1 BBS|h|23|PETSCII|C64 Up/GFX [40]|||||12|1|\n");

  // Only the first non-blank "#" of the line needs the escape.
  EXPECT_EQ(entry_line(make_entry("a#b", "#h")).substr(0, 7), "a#b|#h|");

  // An escape pair is never split when the buffer runs out.
  char out[6];
  phonebook_field_for_save("ab\\c", out, sizeof out, false);
  EXPECT_STREQ(out, "ab\\\\c");
  phonebook_field_for_save("abc\\", out, sizeof out, false);
  EXPECT_STREQ(out, "abc\\\\");
  phonebook_field_for_save("abc\\", out, 5, false);
  EXPECT_STREQ(out, "abc");
  phonebook_field_for_save("abcde", out, 5, false);
  EXPECT_STREQ(out, "abcd");
}

TEST(PhonebookReader, FieldRules) {
  struct Case {
    const char* line;
    int port;
    int terminal;
    const char* font;
    uint32_t count;
    int favourite;
  };
  const Case cases[] = {
      {"Name|host", 23, 4, "CP437", 0, 0},
      {"n|h|2323|ansi", 2323, 4, "CP437", 0, 0},
      {"n|h|80abc|PETSCII", 80, 5, "CP437", 0, 0},
      {"n|h|0|PeTsCiI", 23, 5, "CP437", 0, 0},
      {"n|h|65536|petascii", 23, 5, "CP437", 0, 0},
      {"n|h|-1|C64", 23, 5, "CP437", 0, 0},
      {"n|h|port|7", 23, 7, "CP437", 0, 0},
      {"n|h|23|-2", 23, 4, "CP437", 0, 0},
      {"n|h|23|10", 23, 4, "CP437", 0, 0},
      {"n|h|23|vt100", 23, 4, "CP437", 0, 0},
      {"n|h|23|ANSI|c64 low/up 80col", 23, 5, "C64 Low/Up [80]", 0, 0},
      {"n|h|23|7|Topaz", 23, 7, "Topaz (Amiga)", 0, 0},
      {"n|h|23|ANSI|  |u|p|s|d| 42x |1", 23, 4, "CP437", 42, 1},
      {"n|h|23|ANSI|CP437|u|p|s|d|abc|2", 23, 4, "CP437", 0, 1},
      {"n|h|23|ANSI|CP437|u|p|s|d|99999999999|0", 23, 4, "CP437", 4294967295u, 0},
      {"n|h|23|ANSI|CP437|u|p|s|d|1|-1", 23, 4, "CP437", 1, 0},
      {"n|h|23|ANSI|CP437|u|p|s|d|1|yes", 23, 4, "CP437", 1, 0},
      {"n|h|23|ANSI|CP437|u|p|s|d|1|65536", 23, 4, "CP437", 1, 0},
      {"n|h|23|ANSI|CP437|u|p|s|d|1|65535", 23, 4, "CP437", 1, 1},
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
}

TEST(PhonebookReader, LinesThatAreNotEntries) {
  const char* skipped[] = {
      "", "   \t  ", "# Kavel Phonebook", "   # comment|with|bars", "no separator at all", "\\|"};
  for (const char* line : skipped) {
    SCOPED_TRACE(line);
    PhoneEntry e;
    EXPECT_EQ(phonebook_parse_line(line, strlen(line), &e), 0);
  }
}

TEST(PhonebookReader, TextFieldsAndSeparators) {
  TestBook book;
  ASSERT_EQ(
      load_from_string(book.get(),
                       "# Kavel Phonebook\n"
                       "\n"
                       "  A | host.a |23|ANSI|CP437|  user  |  secret  | soft |2024-01-02|3|0| "
                       "note | with | bars |\n"
                       "B\\|B|h\\\\b|23|ANSI|CP437|||||0|0|x\\ny\\rz\\q\\\r\n"
                       "only a name\n"
                       "C|h|23|ANSI|CP437|u|  trailing password field  \n"),
      0);
  ASSERT_EQ(book->count, 3u);
  EXPECT_STREQ(book[0].name, "A");
  EXPECT_STREQ(book[0].address, "host.a");
  EXPECT_STREQ(book[0].username, "user");
  EXPECT_STREQ(book[0].password, "  secret  ");
  EXPECT_STREQ(book[0].software, "soft");
  EXPECT_STREQ(book[0].last_call, "2024-01-02");
  EXPECT_EQ(book[0].call_count, 3u);
  EXPECT_STREQ(book[0].note, "note | with | bars |");
  EXPECT_STREQ(book[1].name, "B|B");
  EXPECT_STREQ(book[1].address, "h\\b");
  // "\q" gives "q"; a backslash at the very end of the line stays.
  EXPECT_STREQ(book[1].note, "x\ny\rzq\\");
  // The password at the end of its line loses the line's trailing blanks only.
  EXPECT_STREQ(book[2].password, "  trailing password field");
}

TEST(PhonebookReader, MissingFileGivesEmptyBook) {
  TempDir dir;
  TestBook book;
  PhoneEntry e = make_entry("x", "y");
  ASSERT_EQ(phonebook_append(book.get(), &e), 0);
  EXPECT_EQ(phonebook_load(book.get(), dir.file("absent").c_str()), -1);
  EXPECT_EQ(book->count, 0u);
  EXPECT_EQ(book->entries, nullptr);
}

TEST(PhonebookReader, DamagedFilesKeepEveryValidEntry) {
  const std::string good1 = "Good One|one.example|23|ANSI|CP437||||||0|0|\n";
  const std::string good2 = "Good Two|two.example|2323|PETSCII|C64 Up/GFX [40]||||||5|1|n\n";
  std::mt19937 rng(7);
  std::string garbage;
  for (int i = 0; i < 200000; i++) {
    char c = static_cast<char>(rng() % 256);
    garbage += c == '\n' ? 'x' : c;  // one enormous line without a line feed
  }
  static const char kNulLine[] = "Nul|nul.example|23\0|ANSI|CP437\n";
  std::string nul_line(kNulLine, sizeof kNulLine - 1);

  struct Case {
    const char* label;
    std::string contents;
    int at_least;
  };
  const Case cases[] = {
      {"enormous line between entries", good1 + garbage + "\n" + good2, 2},
      {"enormous line at the end without line feed", good1 + good2 + garbage, 2},
      {"NUL inside a line", good1 + nul_line + good2, 3},
      {"NUL at the start of a line", good1 + std::string("\0x|y\n", 5) + good2, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    TestBook book;
    ASSERT_EQ(load_from_string(book.get(), c.contents), 0);
    ASSERT_GE(book->count, static_cast<uint32_t>(c.at_least));
    bool one = false, two = false;
    for (uint32_t i = 0; i < book->count; i++) {
      one |= strcmp(book[i].name, "Good One") == 0 && strcmp(book[i].address, "one.example") == 0;
      two |= strcmp(book[i].name, "Good Two") == 0 && book[i].port == 2323 &&
             book[i].terminal == kTerminalPetscii && book[i].favourite == 1;
    }
    EXPECT_TRUE(one);
    EXPECT_TRUE(two);
    // The garbage line may parse as at most one entry; it never splits.
    EXPECT_LE(book->count, static_cast<uint32_t>(c.at_least) + 1);
  }
  // The part of a line before a NUL is what counts.
  TestBook book;
  ASSERT_EQ(load_from_string(book.get(), nul_line), 0);
  ASSERT_EQ(book->count, 1u);
  EXPECT_STREQ(book[0].address, "nul.example");
  EXPECT_STREQ(book[0].font, "CP437");
}

TEST(PhonebookReader, RandomBytesNeverBreakTheReader) {
  std::mt19937 rng(99);
  const std::string alphabet = "|\\\n\r#nrab \t\x01\xff";
  for (int round = 0; round < 200; round++) {
    std::string data;
    size_t n = rng() % 4000;
    for (size_t i = 0; i < n; i++)
      data += round % 2 ? static_cast<char>(rng() % 256) : alphabet[rng() % alphabet.size()];
    TestBook book;
    ASSERT_EQ(load_from_string(book.get(), data), 0);
    // Whatever was read is written and read again to the same entries.
    TestBook again;
    std::vector<PhoneEntry> first(book->entries, book->entries + book->count);
    round_trip(first, &again);
    ASSERT_EQ(again->count, book->count);
    for (uint32_t i = 0; i < book->count; i++) {
      PhoneEntry want = first[i];
      // A terminal digit other than 5 is written as "ANSI".
      if (want.terminal != kTerminalPetscii) want.terminal = kTerminalAnsi;
      ASSERT_TRUE(entries_equal(again[i], want)) << "round " << round << " entry " << i;
    }
  }
}
