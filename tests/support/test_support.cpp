#include "support/test_support.h"

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
