// Small helpers shared by the unit tests.
#pragma once
#include <string>
#include <vector>

// A fresh empty directory under the build tree (or /tmp), removed by the
// destructor with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::vector<unsigned char> read_file_bytes(const std::string& path);
bool write_file_bytes(const std::string& path, const std::string& bytes);
std::string source_path(const std::string& rel);  // path inside the source tree
std::string binary_path(const std::string& rel);  // path inside the build tree
