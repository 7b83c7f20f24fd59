// The operating-system services besides the display: pauses, the Ctrl-C
// break flag, the program's data directory and directory creation.
#include "platform/dos.h"

#include <errno.h>
#include <signal.h>
#include <strings.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>

#include "platform/display.h"

namespace {

// Written from the signal handler; lock-free so that is allowed.
std::atomic<int> g_break_flag{0};
bool g_break_installed = false;

void on_sigint(int) {
  g_break_flag.store(1);
}

constexpr char kProgdir[] = "PROGDIR:";
constexpr size_t kProgdirLen = sizeof kProgdir - 1;

// Installed, the data lies apart from the executable; the build names the
// place relative to the bin directory, so that any prefix works.
#ifndef KAVEL_INSTALLED_DATA_DIR
#define KAVEL_INSTALLED_DATA_DIR "../share/kavel"
#endif

bool is_directory(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// dir joined with a relative path, its leading "../" taken off dir itself:
// the name reported to the user is /usr/share/kavel, not /usr/bin/../share/kavel.
std::string join_relative(std::string dir, const char* rel) {
  if (rel[0] == '/') return rel;
  while (strncmp(rel, "../", 3) == 0 || strcmp(rel, "..") == 0) {
    size_t slash = dir.rfind('/');
    if (slash == std::string::npos) break;  // "." has no parent to take off: keep the ".."
    dir.resize(slash == 0 ? 1 : slash);
    rel += rel[2] == '/' ? 3 : 2;
  }
  if (!*rel) return dir;
  if (dir != "/") dir += '/';
  dir += rel;
  return dir;
}

std::string find_exe_dir() {
  std::string buf(4096, '\0');
  ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
  if (n <= 0) return ".";
  buf.resize(static_cast<size_t>(n));
  size_t slash = buf.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  buf.resize(slash);
  return buf;
}

}  // namespace

void dos_delay(int ticks) {
  // The screen must be current while the program sleeps.
  plat_present_all();
  if (ticks <= 0) return;
  timespec left{};
  long long ms = static_cast<long long>(ticks) * 20;
  left.tv_sec = static_cast<time_t>(ms / 1000);
  left.tv_nsec = static_cast<long>((ms % 1000) * 1000000);
  // A signal (Ctrl-C) only raises the break flag; the pause goes on, as the
  // break signal does not cut a Delay short either.
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

void dos_install_break_handler() {
  if (g_break_installed) return;
  struct sigaction sa {};
  sa.sa_handler = on_sigint;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  if (sigaction(SIGINT, &sa, nullptr) == 0) g_break_installed = true;
}

int dos_check_break() {
  return g_break_flag.exchange(0) ? 1 : 0;
}

void dos_raise_break() {
  g_break_flag.store(1);
}

const char* dos_installed_data_dir() {
  return KAVEL_INSTALLED_DATA_DIR;
}

std::string dos_progdir_for(const std::string& exe_dir) {
  // The Fonts drawer is what every copy of Kavel needs; where it is, the
  // rest of the data is too.
  if (is_directory(exe_dir + "/Fonts") || is_directory(exe_dir + "/fonts")) return exe_dir;
  std::string installed = join_relative(exe_dir, dos_installed_data_dir());
  if (is_directory(installed)) return installed;
  return exe_dir;
}

const std::string& dos_progdir() {
  static const std::string dir = dos_progdir_for(find_exe_dir());
  return dir;
}

std::string dos_expand_path(const char* path) {
  if (!path) return std::string();
  if (strncasecmp(path, kProgdir, kProgdirLen) != 0) return std::string(path);
  const char* rest = path + kProgdirLen;
  const std::string& dir = dos_progdir();
  if (!*rest) return dir;
  // Built by appending into one string: GCC 12 at -O3 reports a false
  // -Wrestrict overlap for the operator+ chain of a literal and a string.
  std::string out = dir;
  if (out != "/") out += '/';
  out += rest;
  return out;
}

int dos_create_dir(const char* path) {
  if (!path || !*path) return -1;
  std::string p = dos_expand_path(path);
  if (mkdir(p.c_str(), 0777) == 0) return 0;
  if (errno != EEXIST) return -1;
  struct stat st {};
  return (stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) ? 0 : -1;
}
