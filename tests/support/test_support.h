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

// An environment variable set (or, for null, unset) until the end of the
// scope, then put back as it was.  Every test program already runs with a
// HOME and XDG directories of its own (test_support.cpp), so nothing a test
// does reaches the real home.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::string old_;
  bool had_;
};

// The current directory changed until the end of the scope.
class ScopedCwd {
 public:
  explicit ScopedCwd(const std::string& dir);
  ~ScopedCwd();
  ScopedCwd(const ScopedCwd&) = delete;
  ScopedCwd& operator=(const ScopedCwd&) = delete;

 private:
  std::string old_;
};

std::vector<unsigned char> read_file_bytes(const std::string& path);
std::string read_file_text(const std::string& path);  // the bytes as a string; "" when unreadable
bool path_exists(const std::string& path);            // lstat: a dangling link exists too
bool write_file_bytes(const std::string& path, const std::string& bytes);
std::string source_path(const std::string& rel);  // path inside the source tree
std::string binary_path(const std::string& rel);  // path inside the build tree
