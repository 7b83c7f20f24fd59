// SyncTERM list import: the section reader, the merge rules, whole imports
// with their summaries, and the listing of ".lst" files.
#include "phonebook/import.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <random>
#include <string>
#include <vector>

#include "pb_test_util.h"
#include "platform/dos.h"
#include "support/test_support.h"

namespace {

using Counts = std::array<int, 3>;  // imported, updated, skipped

Counts read_list(Phonebook* pb, const std::string& text) {
  Counts c{};
  FILE* f = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
  EXPECT_EQ(import_read_stream(pb, f, &c[0], &c[1], &c[2]), 0);
  if (f) fclose(f);
  return c;
}

PhoneEntry login(PhoneEntry e, const char* user, const char* pass) {
  safe_copy(e.username, sizeof e.username, user);
  safe_copy(e.password, sizeof e.password, pass);
  return e;
}

}  // namespace

TEST(Import, SectionReader) {
  TestBook book;
  Counts c = read_list(book.get(),
                       "Port=1234\r\nAddress=root.example\r\n"  // defaults block: no entry
                       "[First BBS]   \r\n\tAddress        =first.example  \r\n\tPort=2323\r\n"
                       "[Wrong Number ][ BBS]\n  host = wrong.example\n  port = 0\n"
                       "  UserName = fred\n  Pass = one\n  Password = two\n"
                       "[No Address]\nPort=23\n"
                       "[Broken header\nAddress=ignored.example\n"
                       "[Last]\nlogin=joe\nuser=jane\nAddress=last.example\nPort=99999\n"
                       "[]\nAddress=also.ignored\n"
                       "[ ]\nAddress=unnamed.example\n"
                       "[" +
                           std::string(100, 'L') + "]\nAddress=long.example");
  EXPECT_EQ(c, (Counts{4, 0, 0}));
  ASSERT_EQ(book->count, 4u);
  EXPECT_TRUE(entries_equal(book[0], make_entry("First BBS", "first.example", 2323)));
  EXPECT_TRUE(entries_equal(
      book[1], login(make_entry("Wrong Number ][ BBS", "wrong.example"), "fred", "two")));
  EXPECT_TRUE(entries_equal(book[2], login(make_entry("Last", "last.example"), "jane", "")));
  EXPECT_TRUE(entries_equal(book[3], make_entry(std::string(79, 'L'), "long.example")));
}

TEST(Import, MergeRules) {
  TestBook book;
  PhoneEntry mine =
      login(make_entry("Mine", "bbs.example", 2323, "C64 Up/GFX [40]"), "olduser", "oldpass");
  mine.terminal = kTerminalPetscii;
  mine.favourite = 1;
  safe_copy(mine.note, sizeof mine.note, "my note");
  ASSERT_EQ(phonebook_append(book.get(), &mine), 0);

  // clang-format off
  const struct {
    const char *label, *name, *user, *pass;
    int port;
    Counts counts;
    const char *want_name, *want_user, *want_pass;
  } steps[] = {
      {"nothing new",           "Mine",   "",        "",        2323, {0, 0, 1}, "Mine",   "olduser", "oldpass"},
      {"same login, no name",   "",       "olduser", "oldpass", 2323, {0, 0, 1}, "Mine",   "olduser", "oldpass"},
      {"other name renames",    "Theirs", "",        "",        2323, {0, 1, 0}, "Theirs", "olduser", "oldpass"},
      {"new password",          "Theirs", "",        "p1",      2323, {0, 1, 0}, "Theirs", "olduser", "p1"},
      {"new user alone",        "",       "u2",      "",        2323, {0, 1, 0}, "Theirs", "u2",      "p1"},
      {"new user and password", "",       "u3",      "p3",      2323, {0, 1, 0}, "Theirs", "u3",      "p3"},
      {"other port (0 is 23)",  "Theirs", "",        "",        0,    {1, 0, 0}, "Theirs", "u3",      "p3"},
  };
  // clang-format on
  for (const auto& s : steps) {
    SCOPED_TRACE(s.label);
    PhoneEntry in = login(make_entry(s.name, "bbs.example", s.port), s.user, s.pass);
    Counts c{};
    ASSERT_EQ(import_commit_entry(book.get(), &in, &c[0], &c[1], &c[2]), 0);
    EXPECT_EQ(c, s.counts);
    PhoneEntry want = login(mine, s.want_user, s.want_pass);
    safe_copy(want.name, sizeof want.name, s.want_name);
    EXPECT_TRUE(entries_equal(book[0], want));  // nothing else of the user's entry changes
  }
  PhoneEntry upper = make_entry("X", "BBS.example", 2323);  // addresses compare exactly
  ASSERT_EQ(import_commit_entry(book.get(), &upper, nullptr, nullptr, nullptr), 0);
  ASSERT_EQ(book->count, 3u);
  EXPECT_TRUE(entries_equal(book[1], make_entry("Theirs", "bbs.example", 23)));

  // Of two entries on one address and port, the one with the same name is updated.
  TestBook twins;
  PhoneEntry a = make_entry("A", "twin"), b = make_entry("B", "twin"), in = login(b, "", "pw");
  ASSERT_EQ(phonebook_append(twins.get(), &a), 0);
  ASSERT_EQ(phonebook_append(twins.get(), &b), 0);
  ASSERT_EQ(import_commit_entry(twins.get(), &in, nullptr, nullptr, nullptr), 0);
  EXPECT_STREQ(twins[0].password, "");
  EXPECT_STREQ(twins[1].password, "pw");
}

TEST(Import, WholeFileTwiceAndFailures) {
  TempDir dir;
  std::string list = dir.file("boards.lst"), pb_path = dir.file("kavel.phonebook");
  ASSERT_TRUE(write_file_bytes(list,
                               "[One]\nAddress=one\n[Two]\nAddress=two\nPort=2323\n"
                               "[Three]\nAddress=three\nUserName=me\nPassword=pw\n"));
  TestBook book;
  Counts c{};
  char msg[kImportMessageCap];
  ASSERT_EQ(import_run_file(book.get(), pb_path.c_str(), list.c_str(), &c[0], &c[1], &c[2], msg),
            IMPORT_OK);
  EXPECT_EQ(c, (Counts{3, 0, 0}));
  EXPECT_STREQ(msg, "Imported 3 entries.");
  TestBook saved;
  ASSERT_EQ(phonebook_load(saved.get(), pb_path.c_str()), 0);
  ASSERT_EQ(saved->count, 3u);
  EXPECT_TRUE(entries_equal(saved[2], book[2]));

  // The second time everything is skipped and nothing is saved.
  ASSERT_EQ(remove(pb_path.c_str()), 0);
  ASSERT_EQ(import_run_file(book.get(), pb_path.c_str(), list.c_str(), &c[0], &c[1], &c[2], msg),
            IMPORT_OK);
  EXPECT_STREQ(msg, "Imported 0. Updated 0. Skipped 3.");
  EXPECT_NE(access(pb_path.c_str(), F_OK), 0);

  ASSERT_TRUE(write_file_bytes(list, "[A]\nPort=23\n[B]\nUser=x\n[One]\nAddress=one\nPass=new\n"));
  ASSERT_EQ(import_run_file(book.get(), pb_path.c_str(), list.c_str(), &c[0], &c[1], &c[2], msg),
            IMPORT_OK);
  EXPECT_STREQ(msg, "Imported 0. Updated 1. Skipped 0.");
  ASSERT_TRUE(write_file_bytes(list, "[A]\nPort=23\n"));
  ASSERT_EQ(import_run_file(book.get(), pb_path.c_str(), list.c_str(), &c[0], &c[1], &c[2], msg),
            IMPORT_OK);
  EXPECT_STREQ(msg, "Imported 0 entries.");

  EXPECT_EQ(import_run_file(book.get(), pb_path.c_str(), dir.file("absent.lst").c_str(), &c[0],
                            &c[1], &c[2], msg),
            IMPORT_OPEN_FAILED);
  EXPECT_STREQ(msg, "Unable to open selected import list.");
  ASSERT_TRUE(write_file_bytes(list, "[New]\nAddress=new\n"));
  EXPECT_EQ(import_run_file(book.get(), dir.file("no/dir/pb").c_str(), list.c_str(), &c[0], &c[1],
                            &c[2], msg),
            IMPORT_SAVE_FAILED);
  EXPECT_STREQ(msg, "Imported, but could not save phone book.");
  EXPECT_EQ(book->count, 4u);  // merged in memory all the same
}

TEST(Import, BadInputKeepsEveryValidSection) {
  std::string sections;
  for (int i = 0; i < 5000; i++)
    sections += "[BBS " + std::to_string(i) + "]\n\tAddress=h" + std::to_string(i) + "\n";
  TestBook book;
  EXPECT_EQ(read_list(book.get(), sections), (Counts{5000, 0, 0}));
  ASSERT_EQ(book->count, 5000u);
  EXPECT_STREQ(book[4999].address, "h4999");

  std::mt19937 rng(3);
  std::string garbage;
  for (int i = 0; i < 300000; i++) garbage += static_cast<char>(rng() % 256);
  static const char kNul[] = "\n[Also Good]\nAddress=also.example\0garbage\n";
  std::string text = garbage + "\n[Good]\nAddress=good.example\n" + std::string(1000000, 'x') +
                     "[Fake]\n" + std::string(kNul, sizeof kNul - 1) + garbage;
  TestBook mixed;
  read_list(mixed.get(), text);
  int good = 0, also = 0;
  for (uint32_t i = 0; i < mixed->count; i++) {
    good += strcmp(mixed[i].name, "Good") == 0 && strcmp(mixed[i].address, "good.example") == 0;
    also +=
        strcmp(mixed[i].name, "Also Good") == 0 && strcmp(mixed[i].address, "also.example") == 0;
    EXPECT_STRNE(mixed[i].name, "Fake");
  }
  EXPECT_EQ(good + also, 2);
}

TEST(Import, ListsLstFilesInOrder) {
  TempDir dir;
  for (const char* name : {"b.lst", "A.LST", "c.Lst", "notes.txt", "x.lstx", "lst", ".lst"})
    ASSERT_TRUE(write_file_bytes(dir.file(name), "[x]\n"));
  ASSERT_EQ(mkdir(dir.file("dir.lst").c_str(), 0755), 0);
  ASSERT_TRUE(write_file_bytes(dir.file(std::string(200, 'n') + ".lst"), ""));  // too long to keep
  for (int i = 40; i > 0; i--)
    ASSERT_TRUE(write_file_bytes(
        dir.file(std::string("f").append(std::to_string(i + 100)).append(".lst")), ""));
  ImportFileList list{};
  ASSERT_EQ(import_scan_directory(dir.path().c_str(), &list), 0);
  std::vector<std::string> got;
  for (int i = 0; i < list.count; i++) got.push_back(list.items[i].name);
  import_file_list_free(&list);
  ASSERT_EQ(got.size(), 44u);
  EXPECT_EQ(std::vector<std::string>(got.begin(), got.begin() + 3),
            (std::vector<std::string>{".lst", "A.LST", "b.lst"}));
  EXPECT_EQ(got[3], "c.Lst");
  EXPECT_EQ(got[4], "f101.lst");
  EXPECT_EQ(got[43], "f140.lst");
  EXPECT_EQ(import_scan_directory(dir.file("missing").c_str(), &list), -1);

  // Several directories list together by name (a name in two of them twice,
  // in the order of the directories); one that is not there, or not a
  // directory, is passed over.
  TempDir other;
  ASSERT_TRUE(write_file_bytes(other.file("a.lst"), "[a]\n"));
  ASSERT_TRUE(write_file_bytes(other.file("b.lst"), "[b]\n"));
  int failed = 7;
  ASSERT_EQ(import_scan_directories({dir.file("missing"), dir.file("notes.txt"), other.path(),
                                     dir.path()},
                                    &list, &failed),
            0);
  EXPECT_EQ(failed, -1);
  ASSERT_EQ(list.count, 46);
  const char* order[][2] = {{".lst", "dir"}, {"a.lst", "other"}, {"A.LST", "dir"},
                            {"b.lst", "other"}, {"b.lst", "dir"}};
  for (int i = 0; i < 5; i++) {
    const std::string& base = std::string(order[i][1]) == "dir" ? dir.path() : other.path();
    EXPECT_EQ(import_list_path(&list, i), base + "/" + order[i][0]) << i;
  }
  EXPECT_EQ(import_list_path(&list, 46), "");
  import_file_list_free(&list);
  // The menu's places: SyncTERM's own two, then the program's directory.
  EXPECT_EQ(import_list_dirs(),
            (std::vector<std::string>{dos_home_dir() + "/.syncterm",
                                      dos_config_home() + "/syncterm", dos_progdir()}));
}
