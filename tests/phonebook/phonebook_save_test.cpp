// The crash-safe save: real write and rename failures never cost the user
// the previous phonebook.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <cerrno>
#include <ctime>
#include <string>

#include "pb_test_util.h"
#include "platform/dos.h"
#include "support/test_support.h"

namespace {

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
int fail_rename_onto_path(const char* from, const char* to) {
  g_renames++;
  return strstr(from, ".tmp") ? -1 : rename(from, to);
}
int no_hard_links(const char*, const char*) {
  errno = EPERM;
  return -1;
}

// The process "crashes" at the moment the new file would take the real name.
std::string g_crash_path;
int crash_before_replacing(const char* from, const char* to) {
  if (g_crash_path == to) _exit(42);
  return rename(from, to);
}

// Sets the append-only attribute of a directory for its lifetime: entries
// can be added (the temporary file, the ".bak" link) but none replaced, so
// renaming the new file over the old one fails for real.
class AppendOnlyDir {
 public:
  explicit AppendOnlyDir(const std::string& dir) : fd_(open(dir.c_str(), O_RDONLY | O_DIRECTORY)) {
    if (fd_ >= 0 && ioctl(fd_, FS_IOC_GETFLAGS, &old_) == 0) {
      int flags = old_ | FS_APPEND_FL;
      set_ = ioctl(fd_, FS_IOC_SETFLAGS, &flags) == 0;
    }
  }
  ~AppendOnlyDir() {
    if (set_) ioctl(fd_, FS_IOC_SETFLAGS, &old_);
    if (fd_ >= 0) close(fd_);
  }
  bool active() const { return set_; }

 private:
  int fd_;
  int old_ = 0;
  bool set_ = false;
};

}  // namespace

TEST(PhonebookSave, CreatesThenKeepsPreviousVersionAsBak) {
  TempDir dir;
  std::string path = dir.file("kavel.phonebook");
  TestBook v1, v2;
  fill_book(&v1, 2, "first");
  fill_book(&v2, 3, "second");
  ASSERT_EQ(phonebook_save(v1.get(), path.c_str()), 0);
  EXPECT_FALSE(path_exists(path + ".bak"));
  std::string first = read_file_text(path);
  EXPECT_EQ(first.rfind("# Kavel Phonebook\nfirst0|host0|23|", 0), 0u);

  ASSERT_EQ(phonebook_save(v2.get(), path.c_str()), 0);
  EXPECT_EQ(read_file_text(path + ".bak"), first);
  EXPECT_FALSE(path_exists(path + ".tmp"));
  std::string second = read_file_text(path);
  ASSERT_EQ(phonebook_save(v1.get(), path.c_str()), 0);
  EXPECT_EQ(read_file_text(path + ".bak"), second);
  EXPECT_EQ(read_file_text(path), first);

  EXPECT_EQ(phonebook_save(nullptr, path.c_str()), -1);
  EXPECT_EQ(phonebook_save(v1.get(), ""), -1);
}

// The first save into the configuration directory makes it (private, with
// its parents); a path elsewhere in a directory that is not there fails.
TEST(PhonebookSave, TheFirstSaveMakesTheConfigurationDirectory) {
  TempDir root;
  ScopedEnv x("XDG_CONFIG_HOME", root.file("a/b").c_str());
  TestBook book;
  PhoneEntry e = make_entry("One", "one.example");
  ASSERT_EQ(phonebook_append(book.get(), &e), 0);
  struct stat st;
  EXPECT_EQ(phonebook_save(book.get(), root.file("elsewhere/kavel.phonebook").c_str()), -1);
  EXPECT_NE(stat(root.file("elsewhere").c_str(), &st), 0);
  const std::string path = dos_config_path(kPhonebookDefaultPath);
  EXPECT_EQ(path, root.file("a/b/kavel/kavel.phonebook"));
  ASSERT_EQ(phonebook_save(book.get(), path.c_str()), 0);
  for (const char* dir : {"a/b", "a/b/kavel"}) {
    ASSERT_EQ(stat(root.file(dir).c_str(), &st), 0) << dir;
    EXPECT_EQ(st.st_mode & 0777, 0700u) << dir;
  }
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(PhonebookSave, WriteFailuresLeaveTheOldFile) {
  TempDir dir;
  std::string path = dir.file("kavel.phonebook");
  TestBook old_book, big, small;
  fill_book(&old_book, 1, "old");
  fill_book(&big, 100, "new");  // about 25 KB
  fill_book(&small, 1, "s");    // fits the stream buffer: fails only on close
  ASSERT_EQ(phonebook_save(old_book.get(), path.c_str()), 0);
  const std::string before = read_file_text(path);

  SaveArgs big_save{big.get(), path.c_str()}, small_save{small.get(), path.c_str()};
  for (rlim_t limit : {rlim_t{0}, rlim_t{10}, rlim_t{200}}) {
    SCOPED_TRACE(limit);
    EXPECT_EQ(in_child_with_file_limit(limit, save_in_child, &big_save), -1);
    EXPECT_EQ(in_child_with_file_limit(limit, save_in_child, &small_save), -1);
    EXPECT_EQ(read_file_text(path), before);
    EXPECT_FALSE(path_exists(path + ".tmp"));
    EXPECT_FALSE(path_exists(path + ".bak"));
  }
  // The writer removes what it could not finish.
  std::string out = dir.file("out");
  SaveArgs write{big.get(), out.c_str()};
  EXPECT_EQ(in_child_with_file_limit(8192, write_in_child, &write), -1);
  EXPECT_FALSE(path_exists(out));
  // Without the limit the same save works.
  EXPECT_EQ(in_child_with_file_limit(RLIM_INFINITY, save_in_child, &big_save), 0);
  EXPECT_EQ(read_file_text(path + ".bak"), before);
}

TEST(PhonebookSave, RenameFailuresKeepTheOldFile) {
  TempDir dir;
  std::string path = dir.file("kavel.phonebook");
  TestBook old_book, new_book;
  fill_book(&old_book, 2, "old");
  fill_book(&new_book, 5, "new");
  ASSERT_EQ(phonebook_save(old_book.get(), path.c_str()), 0);
  const std::string before = read_file_text(path);

  // ".bak" is a directory that cannot be removed: the old file cannot be
  // moved aside, and the save gives up without touching it.
  ASSERT_EQ(mkdir((path + ".bak").c_str(), 0755), 0);
  ASSERT_TRUE(write_file_bytes(path + ".bak/keep", "x"));
  EXPECT_EQ(phonebook_save(new_book.get(), path.c_str()), -1);
  EXPECT_EQ(read_file_text(path), before);
  EXPECT_FALSE(path_exists(path + ".tmp"));
  ASSERT_EQ(remove((path + ".bak/keep").c_str()), 0);
  ASSERT_EQ(remove((path + ".bak").c_str()), 0);

  // The new file cannot be moved into place: the extra ".bak" name goes
  // again, and so does the temporary file.
  g_renames = 0;
  phonebook_test_set_rename(fail_rename_onto_path);
  int rc = phonebook_save(new_book.get(), path.c_str());
  phonebook_test_set_rename(nullptr);
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(g_renames, 1);
  EXPECT_EQ(read_file_text(path), before);
  EXPECT_FALSE(path_exists(path + ".tmp"));
  EXPECT_FALSE(path_exists(path + ".bak"));

  // Without hard links the old file is moved aside, and put back when the
  // new one cannot take its place.
  g_renames = 0;
  phonebook_test_set_link(no_hard_links);
  phonebook_test_set_rename(fail_second_rename);
  rc = phonebook_save(new_book.get(), path.c_str());
  phonebook_test_set_rename(nullptr);
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(g_renames, 3);
  EXPECT_EQ(read_file_text(path), before);
  EXPECT_FALSE(path_exists(path + ".tmp"));
  // ... and a save that goes through still leaves the previous version.
  rc = phonebook_save(new_book.get(), path.c_str());
  phonebook_test_set_link(nullptr);
  ASSERT_EQ(rc, 0);
  EXPECT_EQ(read_file_text(path + ".bak"), before);
  EXPECT_NE(read_file_text(path), before);
}

TEST(PhonebookSave, FailuresKeepTheBackupThatWasThere) {
  TempDir dir;
  std::string path = dir.file("kavel.phonebook");
  TestBook v1, v2, v3;
  fill_book(&v1, 1, "one");
  fill_book(&v2, 2, "two");
  fill_book(&v3, 3, "three");
  ASSERT_EQ(phonebook_save(v1.get(), path.c_str()), 0);
  ASSERT_EQ(phonebook_save(v2.get(), path.c_str()), 0);
  const std::string file = read_file_text(path);
  const std::string bak = read_file_text(path + ".bak");
  ASSERT_NE(file, bak);

  struct {
    const char* name;
    int (*link_fn)(const char*, const char*);
    int (*rename_fn)(const char*, const char*);
  } cases[] = {
      {"the new file cannot take the name", nullptr, fail_rename_onto_path},
      {"no hard links, and the new file cannot take the name", no_hard_links, fail_second_rename},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    g_renames = 0;
    phonebook_test_set_link(c.link_fn);
    phonebook_test_set_rename(c.rename_fn);
    EXPECT_EQ(phonebook_save(v3.get(), path.c_str()), -1);
    phonebook_test_set_rename(nullptr);
    phonebook_test_set_link(nullptr);
    EXPECT_EQ(read_file_text(path), file);
    EXPECT_EQ(read_file_text(path + ".bak"), bak);
    EXPECT_FALSE(path_exists(path + ".tmp"));
    EXPECT_FALSE(path_exists(path + ".bak.prev"));
  }
  // A name left by a crash is dropped, and a save that goes through moves
  // the backup on by one version.
  ASSERT_TRUE(write_file_bytes(path + ".bak.prev", "left by a crash"));
  ASSERT_EQ(phonebook_save(v3.get(), path.c_str()), 0);
  EXPECT_EQ(read_file_text(path + ".bak"), file);
  EXPECT_FALSE(path_exists(path + ".bak.prev"));
  // Without a phonebook file the backup is all the user has: it stays.
  ASSERT_EQ(remove(path.c_str()), 0);
  ASSERT_EQ(phonebook_save(v1.get(), path.c_str()), 0);
  EXPECT_EQ(read_file_text(path + ".bak"), file);
}

TEST(PhonebookSave, RealNameNeverMissing) {
  TempDir dir;
  std::string path = dir.file("kavel.phonebook");
  TestBook old_book, new_book;
  fill_book(&old_book, 2, "old");
  fill_book(&new_book, 3, "new");
  ASSERT_EQ(phonebook_save(old_book.get(), path.c_str()), 0);
  const std::string before = read_file_text(path);

  // A crash just before the new file takes the real name: the user still
  // has the old phonebook under its own name, and as ".bak".
  g_crash_path = path;
  EXPECT_EQ(in_child([&] {
              phonebook_test_set_rename(crash_before_replacing);
              return phonebook_save(new_book.get(), path.c_str()) == 0 ? 0 : 1;
            }),
            42);
  EXPECT_EQ(read_file_text(path), before);
  EXPECT_EQ(read_file_text(path + ".bak"), before);
  ASSERT_EQ(phonebook_save(new_book.get(), path.c_str()), 0);
  EXPECT_EQ(read_file_text(path + ".bak"), before);
  EXPECT_NE(read_file_text(path), before);
}

TEST(PhonebookSave, ReplacingRefusedByTheFileSystem) {
  TempDir dir;
  std::string path = dir.file("kavel.phonebook");
  TestBook old_book, new_book;
  fill_book(&old_book, 2, "old");
  fill_book(&new_book, 3, "new");
  ASSERT_EQ(phonebook_save(old_book.get(), path.c_str()), 0);
  const std::string before = read_file_text(path);
  // In a directory where nothing may be replaced the rename over the real
  // name really fails, and the save says so.
  AppendOnlyDir guard(dir.path());
  if (!guard.active()) GTEST_SKIP() << "the append-only attribute cannot be set here";
  EXPECT_EQ(phonebook_save(new_book.get(), path.c_str()), -1);
  EXPECT_EQ(read_file_text(path), before);
}

TEST(PhonebookSave, FileTheUserMayNotLinkIsMovedAside) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  TempDir dir;
  std::string shared = dir.file("shared");
  ASSERT_EQ(mkdir(shared.c_str(), 0777), 0);
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
  ASSERT_EQ(chmod(shared.c_str(), 0777), 0);
  std::string path = shared + "/kavel.phonebook";
  TestBook old_book, new_book;
  fill_book(&old_book, 2, "old");
  fill_book(&new_book, 3, "new");
  ASSERT_EQ(phonebook_save(old_book.get(), path.c_str()), 0);
  ASSERT_EQ(chmod(path.c_str(), 0644), 0);
  const std::string before = read_file_text(path);

  // Another user may not hard-link a file of root's that it cannot write
  // (protected hard links), but may rename it in a directory open to all.
  int rc = in_child([&] {
    if (setgid(65534) != 0 || setuid(65534) != 0) return 10;
    if (link(path.c_str(), (shared + "/probe").c_str()) == 0 || errno != EPERM) return 11;
    return phonebook_save(new_book.get(), path.c_str()) == 0 ? 0 : 1;
  });
  if (rc == 10 || rc == 11) GTEST_SKIP() << "hard links are not refused here (" << rc << ")";
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(read_file_text(path + ".bak"), before);
  EXPECT_EQ(read_file_text(path).rfind("# Kavel Phonebook\nnew0|host0|23|", 0), 0u);
  EXPECT_FALSE(path_exists(path + ".tmp"));
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
  EXPECT_FALSE(path_exists(path));

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
