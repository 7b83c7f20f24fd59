// The files that hold the user's passwords and settings: who may read them
// after a save, symbolic links saved through, read-only files left alone,
// and the private scratch file.
#include "phonebook/private_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "pb_test_util.h"
#include "phonebook/prefs.h"
#include "support/test_support.h"

namespace {

class ScopedUmask {
 public:
  explicit ScopedUmask(mode_t mask) : old_(umask(mask)) {}
  ~ScopedUmask() { umask(old_); }

 private:
  mode_t old_;
};

// The permission bits, or -1 when there is no such file.
int mode_of(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}

std::string link_text(const std::string& path) {
  char buf[4096];
  ssize_t n = readlink(path.c_str(), buf, sizeof buf);
  return n < 0 ? std::string() : std::string(buf, static_cast<size_t>(n));
}

std::vector<std::string> names_in(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string n = e->d_name;
      if (n != "." && n != "..") names.push_back(n);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Each version of a file carries a marker that tells the versions apart.
std::string marker(int version) {
  return "v" + std::to_string(version) + "-secret";
}

int save_phonebook(const std::string& path, int version) {
  TestBook book;
  PhoneEntry e = make_entry("BBS " + marker(version), "bbs.example", 23);
  safe_copy(e.username, sizeof e.username, "sysop");
  safe_copy(e.password, sizeof e.password, marker(version).c_str());
  if (phonebook_append(book.get(), &e) != 0) return -99;
  return phonebook_save(book.get(), path.c_str());
}

int save_prefs(const std::string& path, int version) {
  transfer_prefs_set_defaults();
  safe_copy(g_download_path, sizeof g_download_path, ("/dl/" + marker(version)).c_str());
  return transfer_prefs_save_path(path.c_str());
}

// The two files Kavel saves, driven through the same cases.
struct Kind {
  const char* name;
  int (*save)(const std::string& path, int version);
  bool keeps_bak;
  // A new file's bits under a umask: the phonebook is owner-only whatever
  // the umask; the preferences are created as any file is.
  mode_t (*new_mode)(mode_t mask);
  const char* read_only_message;
  const char* failed_message;
  const char* (*message)(int rc);  // null after a successful save
};

const Kind kKinds[] = {
    {"kavel.phonebook", save_phonebook, true, [](mode_t) -> mode_t { return 0600; },
     "Phone book is read-only; changes not saved.", "Could not save phone book.",
     phonebook_save_message},
    {"kavel.prefs", save_prefs, false, [](mode_t mask) -> mode_t { return 0666 & ~mask; },
     "kavel.prefs is read-only; settings not saved.", "Could not save kavel.prefs.",
     transfer_prefs_save_message},
};

bool holds(const std::string& path, int version) {
  return read_file_text(path).find(marker(version)) != std::string::npos;
}

// Looks at the temporary file at the moment it is renamed into place.
struct TmpSeen {
  int renames = 0;
  int mode = -1;
  bool has_new_contents = false;
  int version = 0;
};
TmpSeen g_tmp_seen;
int watch_tmp_rename(const char* from, const char* to) {
  std::string f = from;
  if (f.size() > 4 && f.compare(f.size() - 4, 4, ".tmp") == 0) {
    g_tmp_seen.renames++;
    g_tmp_seen.mode = mode_of(f);
    g_tmp_seen.has_new_contents = holds(f, g_tmp_seen.version);
  }
  return rename(from, to);
}

// Runs fn as the unprivileged user 65534 in a child; its exit status, or 10
// when the switch of user fails.
template <class Fn>
int as_nobody(Fn fn) {
  return in_child([&] {
    if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) return 10;
    return fn();
  });
}

}  // namespace

TEST(PrivateFile, NewFileModesWhateverTheUmask) {
  for (const Kind& k : kKinds) {
    for (mode_t mask : {mode_t{022}, mode_t{0}, mode_t{077}}) {
      SCOPED_TRACE(std::string(k.name) + " umask " + std::to_string(mask));
      ScopedUmask um(mask);
      TempDir dir;
      std::string path = dir.file(k.name);
      ASSERT_EQ(k.save(path, 1), 0);
      EXPECT_EQ(mode_of(path), static_cast<int>(k.new_mode(mask)));
      ASSERT_EQ(k.save(path, 2), 0);
      EXPECT_EQ(mode_of(path), static_cast<int>(k.new_mode(mask)));
      EXPECT_TRUE(holds(path, 2));
      EXPECT_EQ(k.message(0), nullptr);
      if (k.keeps_bak) {
        EXPECT_EQ(mode_of(path + ".bak"), 0600);
        EXPECT_TRUE(holds(path + ".bak", 1));
      }
      EXPECT_FALSE(path_exists(path + ".tmp"));
    }
  }
}

TEST(PrivateFile, ModeTheUserSetIsKeptOverSaves) {
  for (const Kind& k : kKinds) {
    for (mode_t mode : {mode_t{0600}, mode_t{0640}, mode_t{0644}, mode_t{0660}}) {
      for (mode_t mask : {mode_t{022}, mode_t{077}}) {
        SCOPED_TRACE(std::string(k.name) + " mode " + std::to_string(mode) + " umask " +
                     std::to_string(mask));
        ScopedUmask um(mask);
        TempDir dir;
        std::string path = dir.file(k.name);
        ASSERT_EQ(k.save(path, 1), 0);
        ASSERT_EQ(chmod(path.c_str(), mode), 0);
        for (int v = 2; v <= 4; v++) {
          ASSERT_EQ(k.save(path, v), 0);
          EXPECT_EQ(mode_of(path), static_cast<int>(mode));
          EXPECT_TRUE(holds(path, v));
          if (k.keeps_bak) {
            EXPECT_EQ(mode_of(path + ".bak"), static_cast<int>(mode));
            EXPECT_TRUE(holds(path + ".bak", v - 1));
          }
        }
      }
    }
  }
}

TEST(PrivateFile, NewContentsNeverInAFileOthersCanRead) {
  struct Case {
    const char* label;
    mode_t mask;
    int existing_mode;  // -1: no file yet
  };
  const Case cases[] = {
      {"new, umask 022", 022, -1},
      {"new, umask 0", 0, -1},
      {"kept 0600, umask 0", 0, 0600},
      {"kept 0640, umask 0", 0, 0640},
  };
  for (const Kind& k : kKinds) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(k.name) + " " + c.label);
      ScopedUmask um(c.mask);
      TempDir dir;
      std::string path = dir.file(k.name);
      if (c.existing_mode >= 0) {
        ASSERT_EQ(k.save(path, 1), 0);
        ASSERT_EQ(chmod(path.c_str(), static_cast<mode_t>(c.existing_mode)), 0);
      }
      g_tmp_seen = TmpSeen{};
      g_tmp_seen.version = 2;
      file_replace_test_set_rename(watch_tmp_rename);
      int rc = k.save(path, 2);
      file_replace_test_set_rename(nullptr);
      ASSERT_EQ(rc, 0);
      ASSERT_EQ(g_tmp_seen.renames, 1);
      EXPECT_TRUE(g_tmp_seen.has_new_contents);
      int want = c.existing_mode >= 0 ? c.existing_mode : static_cast<int>(k.new_mode(c.mask));
      EXPECT_EQ(g_tmp_seen.mode, want);
      EXPECT_EQ(mode_of(path), want);
    }
  }
}

TEST(PrivateFile, SymbolicLinksAreSavedThroughToTheirTarget) {
  struct Case {
    const char* label;
    // Makes the link(s) at home/NAME and returns the real file's path.
    std::string (*make)(const std::string& root, const std::string& name);
  };
  const Case cases[] = {
      {"relative, same directory",
       [](const std::string& root, const std::string& name) {
         EXPECT_EQ(symlink(("real-" + name).c_str(), (root + "/home/" + name).c_str()), 0);
         return root + "/home/real-" + name;
       }},
      {"relative, another directory",
       [](const std::string& root, const std::string& name) {
         EXPECT_EQ(symlink(("../store/" + name).c_str(), (root + "/home/" + name).c_str()), 0);
         return root + "/store/" + name;
       }},
      {"absolute",
       [](const std::string& root, const std::string& name) {
         EXPECT_EQ(symlink((root + "/store/" + name).c_str(), (root + "/home/" + name).c_str()), 0);
         return root + "/store/" + name;
       }},
      {"a link to a link",
       [](const std::string& root, const std::string& name) {
         EXPECT_EQ(symlink("../store/middle", (root + "/home/" + name).c_str()), 0);
         EXPECT_EQ(symlink(("deep/" + name).c_str(), (root + "/store/middle").c_str()), 0);
         EXPECT_EQ(mkdir((root + "/store/deep").c_str(), 0755), 0);
         return root + "/store/deep/" + name;
       }},
  };
  for (const Kind& k : kKinds) {
    for (const Case& c : cases) {
      for (bool target_exists : {true, false}) {
        SCOPED_TRACE(std::string(k.name) + ", " + c.label +
                     (target_exists ? "" : ", target not there yet"));
        ScopedUmask um(022);
        TempDir dir;
        ASSERT_EQ(mkdir(dir.file("home").c_str(), 0755), 0);
        ASSERT_EQ(mkdir(dir.file("store").c_str(), 0755), 0);
        std::string link = dir.file("home/") + k.name;
        std::string target = c.make(dir.path(), k.name);
        const std::string link_before = link_text(link);
        ASSERT_FALSE(link_before.empty());
        if (target_exists) {
          ASSERT_TRUE(write_file_bytes(target, "old " + marker(1) + "\n"));
          ASSERT_EQ(chmod(target.c_str(), 0640), 0);
        }
        std::vector<std::string> home_before = names_in(dir.file("home"));

        ASSERT_EQ(k.save(link, 2), 0);
        ASSERT_EQ(k.save(link, 3), 0);
        EXPECT_EQ(link_text(link), link_before);  // still the same link
        EXPECT_TRUE(holds(target, 3));
        EXPECT_TRUE(holds(link, 3));
        EXPECT_EQ(mode_of(target), target_exists ? 0640 : static_cast<int>(k.new_mode(022)));
        EXPECT_FALSE(path_exists(target + ".tmp"));
        if (k.keeps_bak) {
          EXPECT_TRUE(holds(target + ".bak", 2));
        }
        // Nothing was written beside the link unless the target lives there.
        if (target.rfind(dir.file("home/"), 0) != 0) {
          EXPECT_EQ(names_in(dir.file("home")), home_before);
        }
      }
    }
  }
}

TEST(PrivateFile, LinkLoopFailsWithoutWriting) {
  for (const Kind& k : kKinds) {
    SCOPED_TRACE(k.name);
    TempDir dir;
    std::string path = dir.file(k.name);
    ASSERT_EQ(symlink("other", path.c_str()), 0);
    ASSERT_EQ(symlink(k.name, dir.file("other").c_str()), 0);
    int rc = k.save(path, 1);
    EXPECT_EQ(rc, -1);
    EXPECT_STREQ(k.message(rc), k.failed_message);
    EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{k.name, "other"}));
  }
}

TEST(PrivateFile, ReadOnlyFileIsRefusedAndUntouched) {
  for (const Kind& k : kKinds) {
    for (mode_t mode : {mode_t{0444}, mode_t{0400}, mode_t{0555}}) {
      for (bool via_link : {false, true}) {
        SCOPED_TRACE(std::string(k.name) + " mode " + std::to_string(mode) +
                     (via_link ? " through a link" : ""));
        TempDir dir;
        std::string real = dir.file(via_link ? "store.file" : k.name);
        std::string path = dir.file(k.name);
        if (via_link) {
          ASSERT_EQ(symlink("store.file", path.c_str()), 0);
        }
        ASSERT_EQ(k.save(path, 1), 0);
        ASSERT_EQ(chmod(real.c_str(), mode), 0);
        const std::string before = read_file_text(real);
        std::vector<std::string> names = names_in(dir.path());

        int rc = k.save(path, 2);
        EXPECT_EQ(rc, kSaveReadOnly);
        EXPECT_STREQ(k.message(rc), k.read_only_message);
        EXPECT_EQ(read_file_text(real), before);
        EXPECT_EQ(mode_of(real), static_cast<int>(mode));
        EXPECT_EQ(names_in(dir.path()), names);  // no ".tmp", no ".bak"
        if (via_link) {
          EXPECT_EQ(link_text(path), "store.file");
        }
      }
    }
  }
}

TEST(PrivateFile, ImmutableFileCountsAsReadOnly) {
  TempDir dir;
  std::string path = dir.file("kavel.phonebook");
  ASSERT_EQ(save_phonebook(path, 1), 0);
  int fd = open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  int flags = 0;
  bool set = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  int immutable = flags | FS_IMMUTABLE_FL;
  set = set && ioctl(fd, FS_IOC_SETFLAGS, &immutable) == 0;
  if (!set) {
    close(fd);
    GTEST_SKIP() << "the immutable attribute cannot be set here";
  }
  int rc = save_phonebook(path, 2);
  ioctl(fd, FS_IOC_SETFLAGS, &flags);
  close(fd);
  EXPECT_EQ(rc, kSaveReadOnly);
  EXPECT_TRUE(holds(path, 1));
  EXPECT_FALSE(path_exists(path + ".tmp"));
}

TEST(PrivateFile, LinkPlantedAtTheTemporaryNameIsNotFollowed) {
  for (const Kind& k : kKinds) {
    for (bool existed : {false, true}) {
      SCOPED_TRACE(std::string(k.name) + (existed ? ", replacing" : ", new"));
      TempDir dir;
      std::string path = dir.file(k.name);
      std::string victim = dir.file("victim");
      ASSERT_TRUE(write_file_bytes(victim, "someone else's file\n"));
      ASSERT_EQ(chmod(victim.c_str(), 0644), 0);
      if (existed) {
        ASSERT_EQ(k.save(path, 1), 0);
      }
      ASSERT_EQ(symlink("victim", (path + ".tmp").c_str()), 0);

      ASSERT_EQ(k.save(path, 2), 0);
      EXPECT_EQ(read_file_text(victim), "someone else's file\n");
      EXPECT_EQ(mode_of(victim), 0644);
      struct stat st;
      ASSERT_EQ(lstat(path.c_str(), &st), 0);
      EXPECT_TRUE(S_ISREG(st.st_mode));
      EXPECT_TRUE(holds(path, 2));
      EXPECT_FALSE(path_exists(path + ".tmp"));
    }
  }
}

TEST(PrivateFile, SomethingOtherThanAFileIsNotReplaced) {
  for (const Kind& k : kKinds) {
    SCOPED_TRACE(k.name);
    TempDir dir;
    std::string path = dir.file(k.name);
    ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
    ASSERT_TRUE(write_file_bytes(path + "/inside", "x"));
    EXPECT_EQ(k.save(path, 1), -1);
    EXPECT_EQ(read_file_text(path + "/inside"), "x");
    EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{k.name}));
  }
}

TEST(PrivateFile, OwnerAndGroupKeptWherePermitted) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give files to other users";
  struct Case {
    const char* label;
    bool saver_is_nobody;
    uid_t uid;
    gid_t gid;
    mode_t mode;
    gid_t want_gid;
    mode_t want_mode;
  };
  const Case cases[] = {
      // Root saves a user's file: it stays the user's.
      {"root keeps owner and group", false, 65534, 65534, 0640, 65534, 0640},
      // The user's own group is kept.
      {"own group", true, 65534, 65534, 0640, 65534, 0640},
      // A group the user cannot give files to: the new group the file gets
      // was never chosen by the user, so it may read no more than others.
      {"foreign group, closed", true, 65534, 0, 0640, 65534, 0600},
      {"foreign group, open to all", true, 65534, 0, 0644, 65534, 0644},
      {"foreign group, group writes", true, 65534, 0, 0664, 65534, 0644},
  };
  for (const Kind& k : kKinds) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(k.name) + ", " + c.label);
      TempDir dir;
      ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
      std::string path = dir.file(k.name);
      ASSERT_EQ(k.save(path, 1), 0);
      ASSERT_EQ(chown(path.c_str(), c.uid, c.gid), 0);
      ASSERT_EQ(chmod(path.c_str(), c.mode), 0);
      int rc = c.saver_is_nobody ? as_nobody([&] { return k.save(path, 2) == 0 ? 0 : 1; })
                                 : (k.save(path, 2) == 0 ? 0 : 1);
      ASSERT_EQ(rc, 0);
      struct stat st;
      ASSERT_EQ(lstat(path.c_str(), &st), 0);
      EXPECT_TRUE(holds(path, 2));
      EXPECT_EQ(st.st_uid, c.uid);
      EXPECT_EQ(st.st_gid, c.want_gid);
      EXPECT_EQ(st.st_mode & 07777, c.want_mode);
    }
  }
}

TEST(PrivateTempFile, OwnerOnlyUniqueAndWritable) {
  for (mode_t mask : {mode_t{0}, mode_t{022}, mode_t{0777}}) {
    SCOPED_TRACE("umask " + std::to_string(mask));
    ScopedUmask um(mask);
    TempDir dir;
    std::string a, b;
    int fa = create_private_temp_file(dir.path().c_str(), "kavel_scrollback-", &a, ".tmp");
    int fb = create_private_temp_file((dir.path() + "/").c_str(), "kavel_scrollback-", &b, ".tmp");
    ASSERT_GE(fa, 0);
    ASSERT_GE(fb, 0);
    EXPECT_NE(a, b);
    for (const std::string& p : {a, b}) {
      EXPECT_EQ(p.rfind(dir.file("kavel_scrollback-"), 0), 0u) << p;
      EXPECT_EQ(p.substr(p.size() - 4), ".tmp");
      EXPECT_EQ(mode_of(p), 0600);
    }
    EXPECT_EQ(fcntl(fa, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
    ASSERT_EQ(write(fa, "line\n", 5), 5);
    close(fa);
    close(fb);
    EXPECT_EQ(read_file_text(a), "line\n");
  }
}

TEST(PrivateTempFile, Failures) {
  TempDir dir;
  std::string p = "unchanged";
  EXPECT_EQ(create_private_temp_file(dir.file("missing").c_str(), "x", &p), -1);
  EXPECT_EQ(create_private_temp_file(nullptr, "x", &p), -1);
  EXPECT_EQ(create_private_temp_file("", "x", &p), -1);
  EXPECT_EQ(create_private_temp_file(dir.path().c_str(), nullptr, &p), -1);
  EXPECT_EQ(create_private_temp_file(dir.path().c_str(), "x", nullptr), -1);
  EXPECT_EQ(p, "unchanged");
  EXPECT_TRUE(names_in(dir.path()).empty());
}
