// SyncTERM list import: the section reader, the merge rules, whole imports
// with their summaries, and the listing of ".lst" files.
#include "phonebook/import.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <random>
#include <string>
#include <vector>

#include "pb_test_util.h"
#include "support/test_support.h"

namespace {

struct Counts {
  int imported = 0, updated = 0, skipped = 0;
  bool operator==(const Counts& o) const {
    return imported == o.imported && updated == o.updated && skipped == o.skipped;
  }
};

std::ostream& operator<<(std::ostream& os, const Counts& c) {
  return os << "{" << c.imported << ", " << c.updated << ", " << c.skipped << "}";
}

Counts read_list(Phonebook* pb, const std::string& text) {
  Counts c;
  FILE* f = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
  EXPECT_NE(f, nullptr);
  if (!f) return c;
  EXPECT_EQ(import_read_stream(pb, f, &c.imported, &c.updated, &c.skipped), 0);
  fclose(f);
  return c;
}

Counts commit(Phonebook* pb, const PhoneEntry& e) {
  Counts c;
  EXPECT_EQ(import_commit_entry(pb, &e, &c.imported, &c.updated, &c.skipped), 0);
  return c;
}

PhoneEntry with_login(PhoneEntry e, const char* user, const char* pass) {
  safe_copy(e.username, sizeof e.username, user);
  safe_copy(e.password, sizeof e.password, pass);
  return e;
}

bool exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

}  // namespace

TEST(ImportReader, Sections) {
  TestBook book;
  Counts c = read_list(book.get(),
                       "Port=1234\r\n"
                       "Address=root.example\r\n"
                       "[First BBS]   \r\n"
                       "\tAddress        =first.example  \r\n"
                       "\tPort=2323\r\n"
                       "\tConnectionType=Telnet\r\n"
                       "[Wrong Number ][ BBS]\n"
                       "  host = wrong.example\n"
                       "  port = 0\n"
                       "  UserName = fred\n"
                       "  Pass = pw one\n"
                       "  Password = pw two\n"
                       "[No Address]\n"
                       "Port=23\n"
                       "[Broken header\n"
                       "Address=ignored.example\n"
                       "[Last]\n"
                       "Address=first.example\n"
                       "Address=last.example\n"
                       "Port=99999\n"
                       "login=joe\n"
                       "user=jane\n"
                       "[]\n"
                       "Address=also.ignored\n"
                       "[ ]\n"
                       "Address=unnamed.example\n"
                       "[" +
                           std::string(100, 'L') +
                           "]\n"
                           "Address=long.example");
  EXPECT_EQ(c, (Counts{4, 0, 0}));
  ASSERT_EQ(book->count, 4u);
  EXPECT_STREQ(book[0].name, "First BBS");
  EXPECT_STREQ(book[0].address, "first.example");
  EXPECT_EQ(book[0].port, 2323);
  EXPECT_EQ(book[0].terminal, kTerminalAnsi);
  EXPECT_STREQ(book[0].font, "CP437");
  EXPECT_STREQ(book[1].name, "Wrong Number ][ BBS");
  EXPECT_STREQ(book[1].address, "wrong.example");
  EXPECT_EQ(book[1].port, 23);
  EXPECT_STREQ(book[1].username, "fred");
  EXPECT_STREQ(book[1].password, "pw two");
  EXPECT_STREQ(book[2].name, "Last");
  EXPECT_STREQ(book[2].address, "last.example");
  EXPECT_EQ(book[2].port, 23);
  EXPECT_STREQ(book[2].username, "jane");
  EXPECT_EQ(std::string(book[3].name), std::string(79, 'L'));
  EXPECT_STREQ(book[3].address, "long.example");
}

TEST(ImportMerge, Rules) {
  TestBook book;
  PhoneEntry mine = with_login(make_entry("My Name", "bbs.example", 2323, "C64 Up/GFX [40]"),
                               "olduser", "oldpass");
  mine.terminal = kTerminalPetscii;
  mine.favourite = 1;
  safe_copy(mine.note, sizeof mine.note, "my note");
  ASSERT_EQ(phonebook_append(book.get(), &mine), 0);

  struct Step {
    const char* label;
    PhoneEntry incoming;
    Counts counts;
    const char* name;
    const char* user;
    const char* pass;
  };
  const Step steps[] = {
      {"nothing new",
       with_login(make_entry("My Name", "bbs.example", 2323), "", ""),
       {0, 0, 1},
       "My Name",
       "olduser",
       "oldpass"},
      {"same login",
       with_login(make_entry("", "bbs.example", 2323), "olduser", "oldpass"),
       {0, 0, 1},
       "My Name",
       "olduser",
       "oldpass"},
      {"other name renames",
       make_entry("Their Name", "bbs.example", 2323),
       {0, 1, 0},
       "Their Name",
       "olduser",
       "oldpass"},
      {"new password",
       with_login(make_entry("Their Name", "bbs.example", 2323), "", "newpass"),
       {0, 1, 0},
       "Their Name",
       "olduser",
       "newpass"},
      {"new user keeps password when none given",
       with_login(make_entry("Their Name", "bbs.example", 2323), "newuser", ""),
       {0, 1, 0},
       "Their Name",
       "newuser",
       "newpass"},
      {"new user and password",
       with_login(make_entry("", "bbs.example", 2323), "u2", "p2"),
       {0, 1, 0},
       "Their Name",
       "u2",
       "p2"},
      {"other port is another BBS",
       make_entry("Their Name", "bbs.example", 23),
       {1, 0, 0},
       nullptr,
       nullptr,
       nullptr},
      {"address compares case-sensitively",
       make_entry("X", "BBS.example", 2323),
       {1, 0, 0},
       nullptr,
       nullptr,
       nullptr},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.label);
    EXPECT_EQ(commit(book.get(), s.incoming), s.counts);
    if (!s.name) continue;
    EXPECT_STREQ(book[0].name, s.name);
    EXPECT_STREQ(book[0].username, s.user);
    EXPECT_STREQ(book[0].password, s.pass);
    // Everything the list does not carry stays as the user made it.
    EXPECT_EQ(book[0].terminal, kTerminalPetscii);
    EXPECT_STREQ(book[0].font, "C64 Up/GFX [40]");
    EXPECT_EQ(book[0].favourite, 1);
    EXPECT_STREQ(book[0].note, "my note");
  }
  ASSERT_EQ(book->count, 3u);
  EXPECT_EQ(book[1].port, 23);
  EXPECT_EQ(book[1].terminal, kTerminalAnsi);
  EXPECT_STREQ(book[1].font, "CP437");

  // With two entries on the same address and port, the one with the same
  // name is updated; a port below 1 means 23.
  TestBook twins;
  PhoneEntry a = make_entry("A", "twin.example", 23);
  PhoneEntry b = make_entry("B", "twin.example", 23);
  ASSERT_EQ(phonebook_append(twins.get(), &a), 0);
  ASSERT_EQ(phonebook_append(twins.get(), &b), 0);
  EXPECT_EQ(commit(twins.get(), with_login(make_entry("B", "twin.example", 0), "", "pw")),
            (Counts{0, 1, 0}));
  EXPECT_STREQ(twins[0].password, "");
  EXPECT_STREQ(twins[1].password, "pw");
  EXPECT_EQ(twins->count, 2u);
}

TEST(ImportRun, ImportTwiceSkipsEverythingAndSavesOnlyWhenSomethingChanged) {
  TempDir dir;
  std::string list = dir.file("boards.lst");
  std::string pb_path = dir.file("kavel.phonebook");
  ASSERT_TRUE(write_file_bytes(list,
                               "[One]\nAddress=one.example\n"
                               "[Two]\nAddress=two.example\nPort=2323\n"
                               "[Three]\nAddress=three.example\nUserName=me\nPassword=pw\n"));
  TestBook book;
  Counts c;
  char msg[kImportMessageCap];
  ASSERT_EQ(import_run_file(book.get(), pb_path.c_str(), list.c_str(), &c.imported, &c.updated,
                            &c.skipped, msg),
            IMPORT_OK);
  EXPECT_EQ(c, (Counts{3, 0, 0}));
  EXPECT_STREQ(msg, "Imported 3 entries.");
  TestBook saved;
  ASSERT_EQ(phonebook_load(saved.get(), pb_path.c_str()), 0);
  ASSERT_EQ(saved->count, 3u);
  EXPECT_TRUE(entries_equal(saved[2], book[2]));

  ASSERT_EQ(remove(pb_path.c_str()), 0);
  ASSERT_EQ(import_run_file(book.get(), pb_path.c_str(), list.c_str(), &c.imported, &c.updated,
                            &c.skipped, msg),
            IMPORT_OK);
  EXPECT_EQ(c, (Counts{0, 0, 3}));
  EXPECT_STREQ(msg, "Imported 0. Updated 0. Skipped 3.");
  EXPECT_FALSE(exists(pb_path));  // nothing changed, nothing saved
  EXPECT_EQ(book->count, 3u);

  // Only sections without addresses.
  std::string empty_list = dir.file("empty.lst");
  ASSERT_TRUE(write_file_bytes(empty_list, "[A]\nPort=23\n[B]\nUser=x\n"));
  ASSERT_EQ(import_run_file(book.get(), pb_path.c_str(), empty_list.c_str(), &c.imported,
                            &c.updated, &c.skipped, msg),
            IMPORT_OK);
  EXPECT_STREQ(msg, "Imported 0 entries.");
  EXPECT_FALSE(exists(pb_path));
}

TEST(ImportRun, Failures) {
  TempDir dir;
  TestBook book;
  Counts c;
  char msg[kImportMessageCap];
  std::string pb_path = dir.file("kavel.phonebook");
  EXPECT_EQ(import_run_file(book.get(), pb_path.c_str(), dir.file("absent.lst").c_str(),
                            &c.imported, &c.updated, &c.skipped, msg),
            IMPORT_OPEN_FAILED);
  EXPECT_STREQ(msg, "Unable to open selected import list.");

  std::string list = dir.file("one.lst");
  ASSERT_TRUE(write_file_bytes(list, "[One]\nAddress=one.example\n"));
  std::string bad_pb = dir.file("no/such/dir/kavel.phonebook");
  EXPECT_EQ(import_run_file(book.get(), bad_pb.c_str(), list.c_str(), &c.imported, &c.updated,
                            &c.skipped, msg),
            IMPORT_SAVE_FAILED);
  EXPECT_STREQ(msg, "Imported, but could not save phone book.");
  EXPECT_EQ(book->count, 1u);  // merged in memory all the same

  char summary[kImportMessageCap];
  import_format_summary(summary, 2, 0, 1);
  EXPECT_STREQ(summary, "Imported 2. Updated 0. Skipped 1.");
  import_format_summary(summary, 2, 1, 0);
  EXPECT_STREQ(summary, "Imported 2. Updated 1. Skipped 0.");
  import_format_summary(summary, 7, 0, 0);
  EXPECT_STREQ(summary, "Imported 7 entries.");
}

TEST(ImportReader, BadInputKeepsEveryValidSection) {
  std::mt19937 rng(3);
  std::string garbage;
  for (int i = 0; i < 300000; i++) garbage += static_cast<char>(rng() % 256);
  std::string sections;
  for (int i = 0; i < 5000; i++)
    sections += "[BBS " + std::to_string(i) + "]\n\tAddress=h" + std::to_string(i) + ".example\n";

  TestBook book;
  Counts c = read_list(book.get(), sections);
  EXPECT_EQ(c, (Counts{5000, 0, 0}));
  ASSERT_EQ(book->count, 5000u);
  EXPECT_STREQ(book[4999].address, "h4999.example");

  // Garbage (an enormous line, NUL bytes) around two good sections.
  std::string one_line(1000000, 'x');
  static const char kNulPart[] = "\n[Also Good]\nAddress=also.example\0garbage\n";
  std::string text = garbage + "\n[Good]\nAddress=good.example\n" + one_line + "[Fake]\n" +
                     std::string(kNulPart, sizeof kNulPart - 1) + garbage;
  TestBook mixed;
  read_list(mixed.get(), text);
  bool good = false, also = false;
  for (uint32_t i = 0; i < mixed->count; i++) {
    good |= strcmp(mixed[i].name, "Good") == 0 && strcmp(mixed[i].address, "good.example") == 0;
    also |= strcmp(mixed[i].address, "also.example") == 0;
    EXPECT_STRNE(mixed[i].name, "Fake");
  }
  EXPECT_TRUE(good);
  EXPECT_TRUE(also);
}

TEST(ImportFiles, ListsLstFilesInOrder) {
  TempDir dir;
  for (const char* name : {"b.lst", "A.LST", "c.Lst", "notes.txt", "x.lstx", "lst", ".lst"})
    ASSERT_TRUE(write_file_bytes(dir.file(name), "[x]\n"));
  ASSERT_EQ(mkdir(dir.file("dir.lst").c_str(), 0755), 0);
  ASSERT_TRUE(write_file_bytes(dir.file(std::string(200, 'n') + ".lst"), "[x]\n"));
  ImportFileList list{};
  ASSERT_EQ(import_scan_directory(dir.path().c_str(), &list), 0);
  std::vector<std::string> got;
  for (int i = 0; i < list.count; i++) got.push_back(list.items[i].name);
  EXPECT_EQ(got, (std::vector<std::string>{".lst", "A.LST", "b.lst", "c.Lst"}));
  import_file_list_free(&list);

  // Enough files to grow the list twice.
  TempDir many;
  for (int i = 40; i > 0; i--)
    ASSERT_TRUE(write_file_bytes(many.file("f" + std::to_string(i + 100) + ".lst"), ""));
  ASSERT_EQ(import_scan_directory((many.path() + "/").c_str(), &list), 0);
  ASSERT_EQ(list.count, 40);
  EXPECT_STREQ(list.items[0].name, "f101.lst");
  EXPECT_STREQ(list.items[39].name, "f140.lst");
  import_file_list_free(&list);

  EXPECT_EQ(import_scan_directory(dir.file("missing").c_str(), &list), -1);
  EXPECT_EQ(list.count, 0);
  EXPECT_LT(import_ascii_casecmp("a.lst", "B.lst"), 0);
  EXPECT_EQ(import_ascii_casecmp("ABC.LST", "abc.lst"), 0);

  char joined[kImportPathCap];
  progdir_path_join(joined, "boards.lst");
  EXPECT_STREQ(joined, "PROGDIR:boards.lst");
  progdir_path_join(joined, std::string(1000, 'z').c_str());
  EXPECT_EQ(strlen(joined), kImportPathCap - 1);
}
