// Helpers shared by the phonebook tests: building entries, comparing them
// field by field, and writing/reading small phonebook files.
#pragma once
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <string>

#include "phonebook/phonebook.h"
#include "util/text.h"

inline PhoneEntry make_entry(const std::string& name, const std::string& address, int port = 23,
                             const std::string& font = "CP437") {
  PhoneEntry e;
  memset(&e, 0, sizeof e);
  safe_copy(e.name, sizeof e.name, name.c_str());
  safe_copy(e.address, sizeof e.address, address.c_str());
  e.port = port;
  e.terminal = kTerminalAnsi;
  safe_copy(e.font, sizeof e.font, font.c_str());
  return e;
}

inline ::testing::AssertionResult entries_equal(const PhoneEntry& a, const PhoneEntry& b) {
  std::string diff;
  auto text = [&](const char* field, const char* x, const char* y) {
    if (strcmp(x, y) != 0) diff += std::string(field) + ": [" + x + "] vs [" + y + "]\n";
  };
  auto num = [&](const char* field, long long x, long long y) {
    if (x != y)
      diff += std::string(field) + ": " + std::to_string(x) + " vs " + std::to_string(y) + "\n";
  };
  text("name", a.name, b.name);
  text("address", a.address, b.address);
  num("port", a.port, b.port);
  num("terminal", a.terminal, b.terminal);
  text("font", a.font, b.font);
  text("username", a.username, b.username);
  text("password", a.password, b.password);
  text("software", a.software, b.software);
  text("last_call", a.last_call, b.last_call);
  num("call_count", a.call_count, b.call_count);
  num("favourite", a.favourite, b.favourite);
  text("note", a.note, b.note);
  if (diff.empty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << diff;
}

// RAII phonebook for tests.
struct TestBook {
  Phonebook pb{};
  ~TestBook() { phonebook_free(&pb); }
  Phonebook* operator->() { return &pb; }
  Phonebook* get() { return &pb; }
  PhoneEntry& operator[](uint32_t i) { return pb.entries[i]; }
};

// Loads a phonebook from the given file contents through a memory stream.
inline int load_from_string(Phonebook* pb, const std::string& contents) {
  FILE* f = fmemopen(const_cast<char*>(contents.data()), contents.size(), "r");
  if (!f) {
    // fmemopen refuses a zero-sized buffer; an empty file has no entries.
    phonebook_free(pb);
    return 0;
  }
  int rc = phonebook_load_stream(pb, f);
  fclose(f);
  return rc;
}

// The file line the writer produces for one entry (with its line feed).
inline std::string entry_line(const PhoneEntry& e) {
  char* buf = nullptr;
  size_t len = 0;
  FILE* f = open_memstream(&buf, &len);
  phonebook_write_entry(f, &e);
  fclose(f);
  std::string s(buf, len);
  free(buf);
  return s;
}

// Runs fn in a child process whose files may not grow beyond limit bytes
// (this holds for root too); returns fn's result as the child reports it.
inline int in_child_with_file_limit(rlim_t limit, int (*fn)(void*), void* arg) {
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit rl = {limit, limit};
    if (limit != RLIM_INFINITY && setrlimit(RLIMIT_FSIZE, &rl) != 0) _exit(99);
    int rc = fn(arg);
    _exit(rc == 0 ? 0 : rc == -1 ? 1 : 2);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return 100;
  int code = WEXITSTATUS(status);
  return code == 0 ? 0 : code == 1 ? -1 : code;
}
