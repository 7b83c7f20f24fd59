// The crash-safe save: real write and rename failures never cost the user
// the previous phonebook.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <string>

#include "pb_test_util.h"
#include "phonebook/phonebook.h"
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
    PhoneEntry e = make_entry(std::string(prefix) + " " + std::to_string(i),
                              "host" + std::to_string(i) + ".example", 23 + i);
    safe_copy(e.note, sizeof e.note, std::string(200, 'n').c_str());
    ASSERT_EQ(phonebook_append(book->get(), &e), 0);
  }
}

struct SaveArgs {
  Phonebook* pb;
  const char* path;
};

int save_in_child(void* p) {
  SaveArgs* a = static_cast<SaveArgs*>(p);
  return phonebook_save(a->pb, a->path);
}

int write_in_child(void* p) {
  SaveArgs* a = static_cast<SaveArgs*>(p);
  return phonebook_write_to_path(a->pb, a->path);
}

int g_renames = 0;
int fail_second_rename(const char* from, const char* to) {
  if (++g_renames == 2) return -1;
  return rename(from, to);
}

struct RenameHookReset {
  ~RenameHookReset() { phonebook_test_set_rename(nullptr); }
};

}  // namespace

TEST(PhonebookSave, CreatesThenKeepsPreviousVersionAsBak) {
  TempDir dir;
  std::string path = dir.file("kavel.phonebook");
  TestBook v1;
  fill_book(&v1, 2, "first");
  ASSERT_EQ(phonebook_save(v1.get(), path.c_str()), 0);
  EXPECT_FALSE(exists(path + ".bak"));
  EXPECT_FALSE(exists(path + ".tmp"));
  std::string first = contents(path);
  EXPECT_EQ(first.rfind("# Kavel Phonebook\nfirst 0|host0.example|23|", 0), 0u);

  TestBook v2;
  fill_book(&v2, 3, "second");
  ASSERT_EQ(phonebook_save(v2.get(), path.c_str()), 0);
  EXPECT_EQ(contents(path + ".bak"), first);
  EXPECT_FALSE(exists(path + ".tmp"));
  TestBook back;
  ASSERT_EQ(phonebook_load(back.get(), path.c_str()), 0);
  ASSERT_EQ(back->count, 3u);
  EXPECT_STREQ(back[2].name, "second 2");

  // A third save moves the second version to ".bak".
  std::string second = contents(path);
  ASSERT_EQ(phonebook_save(v1.get(), path.c_str()), 0);
  EXPECT_EQ(contents(path + ".bak"), second);
  EXPECT_EQ(contents(path), first);
}

TEST(PhonebookSave, FileSizeLimitLeavesOldFileAndReportsFailure) {
  TempDir dir;
  std::string path = dir.file("kavel.phonebook");
  TestBook old_book;
  fill_book(&old_book, 1, "old");
  ASSERT_EQ(phonebook_save(old_book.get(), path.c_str()), 0);
  std::string before = contents(path);

  TestBook big;
  fill_book(&big, 100, "new");  // about 25 KB
  SaveArgs args{big.get(), path.c_str()};
  for (rlim_t limit : {rlim_t{0}, rlim_t{10}, rlim_t{4096}, rlim_t{20000}}) {
    SCOPED_TRACE(limit);
    EXPECT_EQ(in_child_with_file_limit(limit, save_in_child, &args), -1);
    EXPECT_EQ(contents(path), before);
    EXPECT_FALSE(exists(path + ".tmp"));
    EXPECT_FALSE(exists(path + ".bak"));
  }
  // The same save without the limit works: the failure was the limit.
  EXPECT_EQ(in_child_with_file_limit(RLIM_INFINITY, save_in_child, &args), 0);
  EXPECT_EQ(contents(path + ".bak"), before);
}

TEST(PhonebookSave, WriterRemovesWhatItCouldNotFinish) {
  TempDir dir;
  std::string path = dir.file("out.phonebook");
  TestBook big;
  fill_book(&big, 100, "x");
  SaveArgs args{big.get(), path.c_str()};
  EXPECT_EQ(in_child_with_file_limit(8192, write_in_child, &args), -1);
  EXPECT_FALSE(exists(path));

  EXPECT_EQ(phonebook_write_to_path(nullptr, path.c_str()), -1);
  EXPECT_EQ(phonebook_write_to_path(big.get(), ""), -1);
  EXPECT_EQ(phonebook_write_to_path(big.get(), dir.file("no/such/dir").c_str()), -1);
  EXPECT_FALSE(exists(path));
}

TEST(PhonebookSave, RenameFailuresKeepTheOldFile) {
  TempDir dir;
  std::string path = dir.file("kavel.phonebook");
  TestBook old_book;
  fill_book(&old_book, 2, "old");
  ASSERT_EQ(phonebook_save(old_book.get(), path.c_str()), 0);
  std::string before = contents(path);
  TestBook new_book;
  fill_book(&new_book, 5, "new");

  // ".bak" is a directory that cannot be removed: moving the old file aside
  // fails, and the save gives up before touching it.
  ASSERT_EQ(mkdir((path + ".bak").c_str(), 0755), 0);
  ASSERT_TRUE(write_file_bytes(path + ".bak/keep", "x"));
  EXPECT_EQ(phonebook_save(new_book.get(), path.c_str()), -1);
  EXPECT_EQ(contents(path), before);
  EXPECT_FALSE(exists(path + ".tmp"));
  ASSERT_EQ(remove((path + ".bak/keep").c_str()), 0);
  ASSERT_EQ(remove((path + ".bak").c_str()), 0);

  // The new file cannot be moved into place: the old one comes back.
  RenameHookReset reset;
  g_renames = 0;
  phonebook_test_set_rename(fail_second_rename);
  EXPECT_EQ(phonebook_save(new_book.get(), path.c_str()), -1);
  EXPECT_EQ(g_renames, 3);  // aside, into place (fails), back
  EXPECT_EQ(contents(path), before);
  EXPECT_FALSE(exists(path + ".tmp"));
  EXPECT_FALSE(exists(path + ".bak"));
}

TEST(PhonebookSave, RejectsMissingArguments) {
  TestBook book;
  EXPECT_EQ(phonebook_save(nullptr, "x"), -1);
  EXPECT_EQ(phonebook_save(book.get(), ""), -1);
  EXPECT_EQ(phonebook_save(book.get(), nullptr), -1);
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
  EXPECT_EQ(book[0].call_count, 0u);
  std::time_t now = std::time(nullptr);
  std::tm tm;
  localtime_r(&now, &tm);
  char today[32];
  strftime(today, sizeof today, "%Y-%m-%d", &tm);
  EXPECT_STREQ(book[1].last_call, today);
  TestBook back;
  ASSERT_EQ(phonebook_load(back.get(), path.c_str()), 0);
  ASSERT_EQ(back->count, 2u);
  EXPECT_TRUE(entries_equal(back[1], book[1]));

  // A failed save still leaves the stamp in memory.
  std::string bad = dir.file("missing-dir/kavel.phonebook");
  EXPECT_EQ(phoneentry_mark_last_call(book.get(), bad.c_str(), 0), -1);
  EXPECT_EQ(book[0].call_count, 1u);
}
