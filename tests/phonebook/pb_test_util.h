// Helpers shared by the phonebook tests.
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
                             const char* font = "CP437") {
  PhoneEntry e;
  memset(&e, 0, sizeof e);
  safe_copy(e.name, sizeof e.name, name.c_str());
  safe_copy(e.address, sizeof e.address, address.c_str());
  e.port = port;
  e.terminal = kTerminalAnsi;
  safe_copy(e.font, sizeof e.font, font);
  return e;
}

struct TestBook {
  Phonebook pb{};
  ~TestBook() { phonebook_free(&pb); }
  Phonebook* operator->() { return &pb; }
  Phonebook* get() { return &pb; }
  PhoneEntry& operator[](uint32_t i) { return pb.entries[i]; }
};

inline int load_from_string(Phonebook* pb, const std::string& contents) {
  FILE* f = fmemopen(const_cast<char*>(contents.data()), contents.size(), "r");
  if (!f) return phonebook_load_stream(pb, nullptr);
  int rc = phonebook_load_stream(pb, f);
  fclose(f);
  return rc;
}

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

// Field by field; the message shows the two file lines.
inline ::testing::AssertionResult entries_equal(const PhoneEntry& a, const PhoneEntry& b) {
  const char* ta[] = {a.name,     a.address,  a.font,      a.username,
                      a.password, a.software, a.last_call, a.note};
  const char* tb[] = {b.name,     b.address,  b.font,      b.username,
                      b.password, b.software, b.last_call, b.note};
  bool same = a.port == b.port && a.terminal == b.terminal && a.call_count == b.call_count &&
              a.favourite == b.favourite;
  for (int i = 0; i < 8; i++) same = same && strcmp(ta[i], tb[i]) == 0;
  if (same) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "\n  got  " << entry_line(a) << "  want " << entry_line(b)
                                       << "  terminal " << a.terminal << " vs " << b.terminal;
}

// Runs fn in a child process and returns its exit status (-1 if it did not
// exit normally).
template <class Fn>
int in_child(Fn fn) {
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) _exit(fn());
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// Runs fn in a child process whose files may not grow beyond limit bytes
// (which holds for root too); returns fn's result as the child reports it.
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
