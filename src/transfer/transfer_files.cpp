#include "transfer/transfer_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "phonebook/prefs.h"
#include "platform/dos.h"
#include "util/text.h"

namespace {

bool is_separator(char c) {
  return c == '/' || c == '\\' || c == ':';
}

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

void transfer_sanitize_name(char* dest, size_t cap, const char* src) {
  if (cap == 0) return;
  if (!src) src = "";
  const char* start = src;
  for (const char* p = src; *p; ++p) {
    if (is_separator(*p)) start = p + 1;
  }
  size_t n = 0;
  bool only_dots = true;
  for (const char* p = start; *p && !is_space(*p) && n + 1 < cap; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c < 0x20 || c == '*') c = '_';  // separators cannot remain after the cut above
    if (c != '.') only_dots = false;
    dest[n++] = static_cast<char>(c);
  }
  dest[n] = '\0';
  if (n == 0 || only_dots) safe_copy(dest, cap, kTransferDefaultName);
}

int transfer_join_path(char* dest, size_t cap, const char* dir, const char* name) {
  if (cap == 0) return -1;
  dest[0] = '\0';
  if (!dir) dir = "";
  if (!name) name = "";
  size_t dl = strlen(dir);
  size_t nl = strlen(name);
  bool slash = dl > 0 && !is_separator(dir[dl - 1]);
  size_t total = dl + (slash ? 1 : 0) + nl;
  if (total + 1 > cap) return -1;
  memcpy(dest, dir, dl);
  if (slash) dest[dl++] = '/';
  memcpy(dest + dl, name, nl);
  dest[total] = '\0';
  return 0;
}

int transfer_path_exists(const char* path) {
  struct stat st;
  return lstat(path, &st) == 0 ? 1 : 0;
}

int transfer_rename_free(char* name, size_t cap, const char* dir) {
  if (!name || name[0] == '\0' || cap == 0) return -1;
  char stem[kTransferNameCap];
  char ext[48] = "";
  const char* dot = strrchr(name, '.');
  if (dot && dot != name && strlen(dot) < sizeof ext) {
    size_t sl = static_cast<size_t>(dot - name);
    if (sl >= sizeof stem) sl = sizeof stem - 1;
    memcpy(stem, name, sl);
    stem[sl] = '\0';
    safe_copy(ext, sizeof ext, dot);
  } else {
    safe_copy(stem, sizeof stem, name);
  }
  for (int number = 1; number <= 999; ++number) {
    char candidate[kTransferNameCap + 64];
    snprintf(candidate, sizeof candidate, "%s-%d%s", stem, number, ext);
    // A candidate that does not fit the name field would be cut into a
    // different name than the one tested: treat it as taken.
    if (strlen(candidate) + 1 > cap) continue;
    char path[kTransferPathCap];
    if (transfer_join_path(path, sizeof path, dir, candidate) != 0) continue;
    if (!transfer_path_exists(path)) {
      safe_copy(name, cap, candidate);
      return 0;
    }
  }
  return -1;
}

FILE* transfer_create_file(const char* path, int overwrite, char* buffer, size_t size) {
  // O_NONBLOCK: a FIFO of that name must not stall the session; it is
  // refused below like every other file that is not a regular one.
  int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
  int fd = open(path, flags | (overwrite ? 0 : O_EXCL), 0644);
  if (fd < 0) return nullptr;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || (overwrite && ftruncate(fd, 0) != 0)) {
    close(fd);
    return nullptr;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  FILE* f = fdopen(fd, "wb");
  if (!f) {
    close(fd);
    return nullptr;
  }
  if (buffer && size > 0) setvbuf(f, buffer, _IOFBF, size);
  return f;
}

long long transfer_regular_size(const char* path) {
  struct stat st;
  if (!path || lstat(path, &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return static_cast<long long>(st.st_size);
}

FILE* transfer_open_resume(const char* path, long long length, char* buffer, size_t size) {
  int fd = open(path, O_WRONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return nullptr;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size != length ||
      lseek(fd, static_cast<off_t>(length), SEEK_SET) != static_cast<off_t>(length)) {
    close(fd);
    return nullptr;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  FILE* f = fdopen(fd, "wb");  // "w" through fdopen truncates nothing
  if (!f) {
    close(fd);
    return nullptr;
  }
  if (buffer && size > 0) setvbuf(f, buffer, _IOFBF, size);
  return f;
}

void transfer_make_dir(const char* dir) {
  if (dir && dir[0]) mkdir(dir, 0755);
}

const char* transfer_download_dir(const char* pref) {
  static std::string dir;
  char path[256];
  safe_copy(path, sizeof path, pref ? pref : "");
  normalize_transfer_path(path, TransferDir::kDownload);
  dir = dos_expand_path(path);
  // Asked as a received file is opened: the user's default download
  // directory is made then, with any parent it lacks, as xdg-user-dirs
  // would.  A directory the user chose is only ever made as its last step
  // (by the receiver): its parent missing may mean a disk not mounted.
  char fallback[256];
  transfer_default_path(TransferDir::kDownload, fallback);
  if (strcmp(path, fallback) == 0) dos_create_dirs(dir.c_str(), 0755);
  return dir.c_str();
}
