// The operating-system services besides the display: pauses, the Ctrl-C
// break flag, the program's data directory, directory creation, and where
// the user's files live.
#include "platform/dos.h"

#include <errno.h>
#include <pwd.h>
#include <signal.h>
#include <strings.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
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

// An absolute directory named by an environment variable, without trailing
// slashes; empty when the variable is unset, empty or relative (the XDG
// rules say a relative one is to be ignored).
std::string absolute_env(const char* name) {
  const char* v = getenv(name);
  if (!v || v[0] != '/') return std::string();
  std::string dir = v;
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

std::string join(const std::string& dir, const char* name) {
  std::string out = dir;
  if (out.empty() || out.back() != '/') out += '/';
  out += name;
  return out;
}

std::string read_small_file(const std::string& path) {
  std::string text;
  FILE* f = fopen(path.c_str(), "r");
  if (!f) return text;
  char buf[4096];
  size_t n;
  // user-dirs.dirs is a few hundred bytes; anything past 64 KiB is not one.
  while ((n = fread(buf, 1, sizeof buf, f)) > 0 && text.size() < 65536) text.append(buf, n);
  fclose(f);
  return text;
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

int dos_create_dirs(const char* path, mode_t mode) {
  if (!path || !*path) return -1;
  std::string p = path;
  // Every parent first, then the directory itself; a parent that exists is
  // left as it is.
  for (size_t at = p.find('/', 1); at != std::string::npos; at = p.find('/', at + 1)) {
    std::string parent = p.substr(0, at);
    if (!is_directory(parent) && mkdir(parent.c_str(), mode) != 0 && errno != EEXIST) return -1;
  }
  if (mkdir(p.c_str(), mode) == 0) return 0;
  return is_directory(p) ? 0 : -1;
}

std::string dos_home_dir() {
  std::string home = absolute_env("HOME");
  if (!home.empty()) return home;
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir && pw->pw_dir[0] == '/')
    return pw->pw_dir;
  return "/";
}

std::string dos_config_home() {
  std::string dir = absolute_env("XDG_CONFIG_HOME");
  return dir.empty() ? join(dos_home_dir(), ".config") : dir;
}

std::string dos_config_dir() {
  return join(dos_config_home(), "kavel");
}

std::string dos_config_path(const char* name) {
  return join(dos_config_dir(), name ? name : "");
}

DosTrustFiles dos_trust_files() {
  return {dos_config_path("known_hosts"), dos_config_path("known_certificates")};
}

int dos_config_dir_create() {
  // The phonebook holds passwords: its directory is the user's alone.
  return dos_create_dirs(dos_config_dir().c_str(), 0700);
}

int dos_prepare_user_file(const char* path) {
  if (!path) return 0;
  const char* slash = strrchr(path, '/');
  if (!slash || std::string(path, static_cast<size_t>(slash - path)) != dos_config_dir()) return 0;
  return dos_config_dir_create();
}

std::string dos_user_file_path(const char* name) {
  struct stat st {};
  // lstat: a symbolic link there (a dotfiles checkout) is the user's file
  // too, even one whose target is missing: the save goes through it.
  if (name && *name && lstat(name, &st) == 0) return name;
  return dos_config_path(name);
}

std::string dos_user_dirs_download(const std::string& text, const std::string& home) {
  static constexpr char kKey[] = "XDG_DOWNLOAD_DIR";
  std::string found;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    size_t i = line.find_first_not_of(" \t");
    if (i == std::string::npos || line.compare(i, sizeof kKey - 1, kKey) != 0) continue;
    i = line.find_first_not_of(" \t", i + sizeof kKey - 1);
    if (i == std::string::npos || line[i] != '=') continue;
    i = line.find_first_not_of(" \t", i + 1);
    if (i == std::string::npos || line[i] != '"') continue;
    ++i;
    std::string value;
    if (line.compare(i, 5, "$HOME") == 0) {
      value = home == "/" ? "" : home;
      i += 5;
    } else if (i >= line.size() || line[i] != '/') {
      continue;  // neither $HOME/... nor absolute: xdg-user-dir ignores it too
    }
    for (; i < line.size() && line[i] != '"'; ++i) {
      if (line[i] == '\\' && i + 1 < line.size()) ++i;
      value += line[i];
    }
    while (value.size() > 1 && value.back() == '/') value.pop_back();
    found = value.empty() ? "/" : value;
  }
  return found;
}

std::string dos_download_dir() {
  std::string home = dos_home_dir();
  std::string dir =
      dos_user_dirs_download(read_small_file(join(dos_config_home(), "user-dirs.dirs")), home);
  return dir.empty() ? join(home, "Downloads") : dir;
}

std::string dos_scratch_dir() {
  for (const char* var : {"XDG_RUNTIME_DIR", "TMPDIR"}) {
    std::string dir = absolute_env(var);
    if (!dir.empty() && is_directory(dir)) return dir;
  }
  return "/tmp";
}

std::string dos_absolute_path(const char* path) {
  if (!path || path[0] == '/') return path ? path : "";
  std::string cwd(4096, '\0');
  if (!getcwd(cwd.data(), cwd.size())) return path;
  cwd.resize(strlen(cwd.c_str()));
  while (strncmp(path, "./", 2) == 0) path += 2;
  return join(cwd, path);
}
