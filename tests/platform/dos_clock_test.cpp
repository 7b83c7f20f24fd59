// Pauses, the break flag, PROGDIR: (the data directory) and directories;
// the millisecond clock.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <cstring>
#include <string>

#include "platform/clock.h"
#include "platform/dos.h"
#include "support/test_support.h"

namespace {

bool is_dir(const std::string& p) {
  struct stat st {};
  return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string real(const std::string& p) {
  char buf[PATH_MAX];
  return realpath(p.c_str(), buf) ? std::string(buf) : p;
}

TEST(Dos, ProgdirIsTheDirectoryOfTheExecutable) {
  // Tests, like every executable of the build, sit in the build root.
  EXPECT_EQ(dos_progdir(), real(binary_path("")));
  EXPECT_NE(dos_progdir().back(), '/');
}

// Made with every missing parent, as mkdir -p does.
void make_dirs(const std::string& path) {
  for (size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1))
    mkdir(path.substr(0, at).c_str(), 0777);
  mkdir(path.c_str(), 0777);
}

// A build tree keeps its data beside the executable; an installed copy under
// PREFIX/share/kavel, named without "..", so the missing-fonts report and
// every PROGDIR: path read plainly.
TEST(Dos, ProgdirIsTheBuildTreeOrTheInstalledDataDirectory) {
  TempDir tmp;
  const std::string root = real(tmp.path());
  struct {
    const char* name;
    const char* beside;  // made beside the executable: a drawer, or "file:NAME"
    bool installed_data;  // the installed data directory exists
    bool want_installed;
  } cases[] = {
      {"build tree", "Fonts", false, false},
      {"build tree, drawer in lower case", "fonts", false, false},
      {"installed", nullptr, true, true},
      {"a drawer beside the executable wins", "Fonts", true, false},
      {"neither: the executable's directory", nullptr, false, false},
      {"a plain file called Fonts is no drawer", "file:Fonts", true, true},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string exe_dir = root + "/" + std::to_string(n++) + "/bin";
    make_dirs(exe_dir);
    if (c.beside && strncmp(c.beside, "file:", 5) == 0)
      ASSERT_TRUE(write_file_bytes(exe_dir + "/" + (c.beside + 5), "x"));
    else if (c.beside)
      make_dirs(exe_dir + "/" + c.beside);
    const std::string installed = exe_dir + "/" + dos_installed_data_dir();
    if (c.installed_data) make_dirs(installed);
    const std::string got = dos_progdir_for(exe_dir);
    if (c.want_installed) {
      EXPECT_EQ(got, real(installed)) << c.name;
      EXPECT_EQ(got.find(".."), std::string::npos) << c.name;
    } else {
      EXPECT_EQ(got, exe_dir) << c.name;
    }
  }
}

TEST(Dos, ExpandPath) {
  const std::string dir = dos_progdir();
  struct {
    const char* in;
    std::string out;
  } cases[] = {
      {"PROGDIR:Fonts/cp437.f16", dir + "/Fonts/cp437.f16"},
      {"progdir:kavel_scrollback.tmp", dir + "/kavel_scrollback.tmp"},
      {"PROGDIR:", dir},
      {"/tmp/x", "/tmp/x"},
      {"Fonts/x", "Fonts/x"},
      {"DH0:PROGDIR:x", "DH0:PROGDIR:x"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(dos_expand_path(c.in), c.out) << c.in;
  EXPECT_EQ(dos_expand_path(nullptr), "");
}

TEST(Dos, CreateDir) {
  TempDir tmp;
  const std::string d = tmp.file("downloads");
  EXPECT_EQ(dos_create_dir(d.c_str()), 0);
  EXPECT_TRUE(is_dir(d));
  EXPECT_EQ(dos_create_dir(d.c_str()), 0);  // already there
  ASSERT_TRUE(write_file_bytes(tmp.file("plain"), "x"));
  EXPECT_EQ(dos_create_dir(tmp.file("plain").c_str()), -1);
  EXPECT_EQ(dos_create_dir(tmp.file("no/such/parent").c_str()), -1);
  EXPECT_EQ(dos_create_dir(""), -1);
  EXPECT_EQ(dos_create_dir(nullptr), -1);

  const std::string rel = "kavel-dos-test-" + std::to_string(getpid());
  EXPECT_EQ(dos_create_dir(("PROGDIR:" + rel).c_str()), 0);
  EXPECT_TRUE(is_dir(dos_progdir() + "/" + rel));
  rmdir((dos_progdir() + "/" + rel).c_str());
}

TEST(Dos, BreakFlagIsRaisedByCtrlCAndClearedByTheTest) {
  dos_install_break_handler();
  dos_install_break_handler();  // idempotent
  dos_check_break();
  EXPECT_EQ(dos_check_break(), 0);
  dos_raise_break();
  EXPECT_EQ(dos_check_break(), 1);
  EXPECT_EQ(dos_check_break(), 0);
  ASSERT_EQ(raise(SIGINT), 0);  // the process survives: the handler catches it
  EXPECT_EQ(dos_check_break(), 1);
  EXPECT_EQ(dos_check_break(), 0);
}

TEST(Dos, DelayPausesTwentyMillisecondsPerTick) {
  using Clock = std::chrono::steady_clock;
  auto t0 = Clock::now();
  dos_delay(3);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
  EXPECT_GE(ms, 60);
  EXPECT_LT(ms, 1000);
  t0 = Clock::now();
  dos_delay(0);
  dos_delay(-5);
  ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
  EXPECT_LT(ms, 20);
}

TEST(Clock, FixedClockWrapsAndUnsignedDifferencesStayRight) {
  clock_test_set_ms(0xFFFFFF00u);
  const uint32_t before = clock_ms();
  const int64_t epoch = clock_epoch_seconds();
  EXPECT_EQ(before, 0xFFFFFF00u);
  clock_test_advance_ms(0x200);
  EXPECT_EQ(clock_ms(), 0x100u);
  EXPECT_EQ(clock_ms() - before, 0x200u);
  clock_test_advance_ms(5000);
  // 5.512 s since the clock was fixed, from an unknown fraction of a second.
  const int64_t moved = clock_epoch_seconds() - epoch;
  EXPECT_TRUE(moved == 5 || moved == 6) << moved;
  std::tm tm{};
  EXPECT_TRUE(clock_local_time(&tm));
  EXPECT_GE(tm.tm_year, 120);
  EXPECT_FALSE(clock_local_time(nullptr));
  clock_test_reset();
}

TEST(Clock, RealClockMovesForward) {
  clock_test_reset();
  const uint32_t a = clock_ms();
  dos_delay(1);
  const uint32_t b = clock_ms();
  EXPECT_GE(b - a, 15u);
  EXPECT_LT(b - a, 1000u);
  EXPECT_GT(clock_epoch_seconds(), int64_t{1600000000});
}

}  // namespace
