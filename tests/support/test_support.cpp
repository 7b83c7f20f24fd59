#include "support/test_support.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#ifndef KAVEL_SOURCE_DIR
#define KAVEL_SOURCE_DIR "."
#endif
#ifndef KAVEL_BINARY_DIR
#define KAVEL_BINARY_DIR "."
#endif

namespace {

// The program's files go to the user's home and XDG directories: every test
// program gets its own, made before the first test and removed after the
// last, so that no test reads or writes the real ones.
struct OwnHome {
  std::string root;
  OwnHome() {
    char tmpl[] = "/tmp/kavel-test-home-XXXXXX";
    if (!mkdtemp(tmpl)) return;
    root = tmpl;
    std::string home = root + "/home";
    std::string run = root + "/run";
    mkdir(home.c_str(), 0700);
    mkdir(run.c_str(), 0700);
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", run.c_str(), 1);
  }
  ~OwnHome() {
    std::error_code ec;
    if (!root.empty()) std::filesystem::remove_all(root, ec);
  }
};
OwnHome g_own_home;

}  // namespace

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name) {
  const char* old = getenv(name);
  had_ = old != nullptr;
  if (old) old_ = old;
  if (value)
    setenv(name, value, 1);
  else
    unsetenv(name);
}

ScopedEnv::~ScopedEnv() {
  if (had_)
    setenv(name_.c_str(), old_.c_str(), 1);
  else
    unsetenv(name_.c_str());
}

ScopedCwd::ScopedCwd(const std::string& dir) {
  char buf[4096];
  if (getcwd(buf, sizeof buf)) old_ = buf;
  if (chdir(dir.c_str()) != 0) perror(dir.c_str());
}

ScopedCwd::~ScopedCwd() {
  if (!old_.empty() && chdir(old_.c_str()) != 0) perror(old_.c_str());
}

TempDir::TempDir() {
  std::string tmpl = std::string(KAVEL_BINARY_DIR) + "/tmp-test-XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  std::filesystem::create_directories(KAVEL_BINARY_DIR);
  if (mkdtemp(buf.data())) {
    path_ = buf.data();
  } else {
    std::string alt = "/tmp/kavel-test-XXXXXX";
    std::vector<char> b2(alt.begin(), alt.end());
    b2.push_back('\0');
    path_ = mkdtemp(b2.data()) ? b2.data() : "/tmp";
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  if (path_ != "/tmp") std::filesystem::remove_all(path_, ec);
}

std::vector<unsigned char> read_file_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

std::string read_file_text(const std::string& path) {
  std::vector<unsigned char> b = read_file_bytes(path);
  return std::string(b.begin(), b.end());
}

bool path_exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

bool write_file_bytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

std::string source_path(const std::string& rel) {
  return std::string(KAVEL_SOURCE_DIR) + "/" + rel;
}
std::string binary_path(const std::string& rel) {
  return std::string(KAVEL_BINARY_DIR) + "/" + rel;
}
