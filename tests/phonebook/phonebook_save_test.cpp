// The crash-safe save: real write and rename failures never cost the user
// the previous phonebook.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <string>

#include "pb_test_util.h"
#include "support/test_support.h"

namespace {

bool exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

std::string contents(const std::string& path) {
  std::vector<unsigned char> b = read_file_bytes(path);
  return std::string(b.begin(), b.end());
}

void fill_book(TestBook* book, int n, const char* prefix) {
  for (int i = 0; i < n; i++) {
    PhoneEntry e = make_entry(prefix + std::to_string(i), "host" + std::to_string(i), 23);
    safe_copy(e.note, sizeof e.note, std::string(200, 'n').c_str());
    ASSERT_EQ(phonebook_append(book->get(), &e), 0);
  }
}

struct SaveArgs {
  Phonebook* pb;
  const char* path;
};

int save_in_child(void* p) {
  return phonebook_save(static_cast<SaveArgs*>(p)->pb, static_cast<SaveArgs*>(p)->path);
}

int write_in_child(void* p) {
  return phonebook_write_to_path(static_cast<SaveArgs*>(p)->pb, static_cast<SaveArgs*>(p)->path);
}

int g_renames = 0;
int fail_second_rename(const char* from, const char* to) {
  return ++g_renames == 2 ? -1 : rename(from, to);
}

}  // namespace

TEST(PhonebookSave, CreatesThenKeepsPreviousVersionAsBak) {
  TempDir dir;
  std::string path = dir.file("kavel.phonebook");
  TestBook v1, v2;
  fill_book(&v1, 2, "first");
  fill_book(&v2, 3, "second");
  ASSERT_EQ(phonebook_save(v1.get(), path.c_str()), 0);
  EXPECT_FALSE(exists(path + ".bak"));
  std::string first = contents(path);
  EXPECT_EQ(first.rfind("# Kavel Phonebook\nfirst0|host0|23|", 0), 0u);

  ASSERT_EQ(phonebook_save(v2.get(), path.c_str()), 0);
  EXPECT_EQ(contents(path + ".bak"), first);
  EXPECT_FALSE(exists(path + ".tmp"));
  std::string second = contents(path);
  ASSERT_EQ(phonebook_save(v1.get(), path.c_str()), 0);
  EXPECT_EQ(contents(path + ".bak"), second);
  EXPECT_EQ(contents(path), first);

  EXPECT_EQ(phonebook_save(nullptr, path.c_str()), -1);
  EXPECT_EQ(phonebook_save(v1.get(), ""), -1);
}

TEST(PhonebookSave, WriteFailuresLeaveTheOldFile) {
  TempDir dir;
  std::string path = dir.file("kavel.phonebook");
  TestBook old_book, big, small;
  fill_book(&old_book, 1, "old");
  fill_book(&big, 100, "new");  // about 25 KB
  fill_book(&small, 1, "s");    // fits the stream buffer: fails only on close
  ASSERT_EQ(phonebook_save(old_book.get(), path.c_str()), 0);
  const std::string before = contents(path);

  SaveArgs big_save{big.get(), path.c_str()}, small_save{small.get(), path.c_str()};
  for (rlim_t limit : {rlim_t{0}, rlim_t{10}, rlim_t{200}}) {
    SCOPED_TRACE(limit);
    EXPECT_EQ(in_child_with_file_limit(limit, save_in_child, &big_save), -1);
    EXPECT_EQ(in_child_with_file_limit(limit, save_in_child, &small_save), -1);
    EXPECT_EQ(contents(path), before);
    EXPECT_FALSE(exists(path + ".tmp"));
    EXPECT_FALSE(exists(path + ".bak"));
  }
  // The writer removes what it could not finish.
  std::string out = dir.file("out");
  SaveArgs write{big.get(), out.c_str()};
  EXPECT_EQ(in_child_with_file_limit(8192, write_in_child, &write), -1);
  EXPECT_FALSE(exists(out));
  // Without the limit the same save works.
  EXPECT_EQ(in_child_with_file_limit(RLIM_INFINITY, save_in_child, &big_save), 0);
  EXPECT_EQ(contents(path + ".bak"), before);
}

TEST(PhonebookSave, RenameFailuresKeepTheOldFile) {
  TempDir dir;
  std::string path = dir.file("kavel.phonebook");
  TestBook old_book, new_book;
  fill_book(&old_book, 2, "old");
  fill_book(&new_book, 5, "new");
  ASSERT_EQ(phonebook_save(old_book.get(), path.c_str()), 0);
  const std::string before = contents(path);

  // ".bak" is a directory that cannot be removed: the old file cannot be
  // moved aside, and the save gives up without touching it.
  ASSERT_EQ(mkdir((path + ".bak").c_str(), 0755), 0);
  ASSERT_TRUE(write_file_bytes(path + ".bak/keep", "x"));
  EXPECT_EQ(phonebook_save(new_book.get(), path.c_str()), -1);
  EXPECT_EQ(contents(path), before);
  EXPECT_FALSE(exists(path + ".tmp"));
  ASSERT_EQ(remove((path + ".bak/keep").c_str()), 0);
  ASSERT_EQ(remove((path + ".bak").c_str()), 0);

  // The new file cannot be moved into place: the old one is put back.
  g_renames = 0;
  phonebook_test_set_rename(fail_second_rename);
  int rc = phonebook_save(new_book.get(), path.c_str());
  phonebook_test_set_rename(nullptr);
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(g_renames, 3);
  EXPECT_EQ(contents(path), before);
  EXPECT_FALSE(exists(path + ".tmp"));
}

TEST(PhonebookSave, MarkLastCallStampsAndSaves) {
  TempDir dir;
  std::string path = dir.file("kavel.phonebook");
  TestBook book;
  fill_book(&book, 2, "bbs");
  book[1].call_count = 41;
  EXPECT_EQ(phoneentry_mark_last_call(book.get(), path.c_str(), 2), -1);
  EXPECT_EQ(phoneentry_mark_last_call(book.get(), path.c_str(), -1), -1);
  EXPECT_EQ(phoneentry_mark_last_call(book.get(), nullptr, 0), -1);
  EXPECT_FALSE(exists(path));

  ASSERT_EQ(phoneentry_mark_last_call(book.get(), path.c_str(), 1), 0);
  EXPECT_EQ(book[1].call_count, 42u);
  std::time_t now = std::time(nullptr);
  std::tm tm;
  localtime_r(&now, &tm);
  char today[32];
  strftime(today, sizeof today, "%Y-%m-%d", &tm);
  EXPECT_STREQ(book[1].last_call, today);
  TestBook back;
  ASSERT_EQ(phonebook_load(back.get(), path.c_str()), 0);
  EXPECT_TRUE(entries_equal(back[1], book[1]));
  // A failed save keeps the stamp in memory.
  EXPECT_EQ(phoneentry_mark_last_call(book.get(), dir.file("no/dir").c_str(), 0), -1);
  EXPECT_EQ(book[0].call_count, 1u);
}
