#include "phonebook/private_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// As many links as the kernel itself follows before it reports a loop.
constexpr int kMaxLinks = 40;
constexpr mode_t kPermissionBits = S_IRWXU | S_IRWXG | S_IRWXO;
constexpr mode_t kOwnerReadWrite = S_IRUSR | S_IWUSR;

int (*g_rename_fn)(const char*, const char*) = nullptr;

int read_link(const std::string& path, std::string* out) {
  std::vector<char> buf(256);
  for (;;) {
    ssize_t n = readlink(path.c_str(), buf.data(), buf.size());
    if (n < 0) return -1;
    if (static_cast<size_t>(n) < buf.size()) {
      out->assign(buf.data(), static_cast<size_t>(n));
      return 0;
    }
    if (buf.size() >= 64 * 1024) return -1;
    buf.resize(buf.size() * 2);
  }
}

// Follows the symbolic links at the last component of path.  Only the name
// itself needs resolving: the new file is renamed within the directory it
// ends up in, whatever way the path reaches that directory.
int follow_links(const char* path, std::string* out) {
  std::string p = path;
  for (int hops = 0; hops <= kMaxLinks; hops++) {
    struct stat st;
    if (lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
      *out = p;
      return 0;
    }
    std::string link;
    if (read_link(p, &link) != 0 || link.empty()) return -1;
    if (link[0] == '/') {
      p = link;
    } else {
      // A relative link is relative to the directory that holds it.
      size_t slash = p.rfind('/');
      p = slash == std::string::npos ? link : p.substr(0, slash + 1) + link;
    }
  }
  errno = ELOOP;
  return -1;
}

// The owner's write bit is what "chmod a-w" takes away, and it is checked
// rather than access(2) because root may write anything.  A file others own
// but the user may still replace in a shared directory is not read-only.
bool is_read_only(const std::string& path, const struct stat& st) {
  if (!(st.st_mode & S_IWUSR)) return true;
  return access(path.c_str(), W_OK) != 0 && (errno == EROFS || errno == EPERM);
}

// The process is single-threaded: reading the umask by setting it back at
// once cannot affect a file created in between.
mode_t current_umask() {
  mode_t mask = umask(0);
  umask(mask);
  return mask;
}

// Gives the new file the old one's owner and group where the process may.
// Where the group cannot be kept the file would be open to a group the
// user never chose, so that group gets no more than everyone else.
void keep_owner(int fd, const FileReplace* r, mode_t* mode) {
  if (fchown(fd, r->uid, r->gid) == 0) return;
  if (fchown(fd, static_cast<uid_t>(-1), r->gid) == 0) return;
  struct stat st;
  if (fstat(fd, &st) == 0 && st.st_gid == r->gid) return;
  mode_t others_as_group = (*mode & S_IRWXO) << 3;
  *mode &= ~(S_IRWXG & ~others_as_group);
}

}  // namespace

int file_replace_begin(const char* path, NewFileAccess access, FileReplace* r) {
  if (!path || !*path || !r) return -1;
  *r = FileReplace{};
  if (follow_links(path, &r->target) != 0) return -1;
  r->tmp = r->target + ".tmp";
  r->bak = r->target + ".bak";
  struct stat st;
  if (lstat(r->target.c_str(), &st) == 0) {
    // A directory or a device at the name is not a file to replace.
    if (!S_ISREG(st.st_mode)) return -1;
    if (is_read_only(r->target, st)) return kSaveReadOnly;
    r->existed = true;
    r->mode = st.st_mode & kPermissionBits;
    r->uid = st.st_uid;
    r->gid = st.st_gid;
    return 0;
  }
  r->mode = access == NewFileAccess::kOwnerOnly ? kOwnerReadWrite
                                                : (0666 & ~current_umask() & kPermissionBits);
  return 0;
}

FILE* file_replace_create_tmp(const FileReplace* r) {
  if (!r || r->tmp.empty()) return nullptr;
  // A temporary file left by a crash is ours to drop; creating the name
  // afresh also removes a link planted there instead of writing through it.
  unlink(r->tmp.c_str());
  int fd =
      open(r->tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kOwnerReadWrite);
  if (fd < 0) return nullptr;
  mode_t mode = r->mode;
  if (r->existed) keep_owner(fd, r, &mode);
  // fchmod, not the umask, decides: the bits are in place before any byte
  // of the new contents is written.
  FILE* f = fchmod(fd, mode) == 0 ? fdopen(fd, "w") : nullptr;
  if (!f) {
    close(fd);
    unlink(r->tmp.c_str());
  }
  return f;
}

int file_replace_close_tmp(FILE* f, const FileReplace* r, bool written_ok) {
  if (!f || !r) return -1;
  bool ok = written_ok && fflush(f) == 0 && !ferror(f);
  // The file is renamed over the user's next: its bytes must be on disk
  // before that, or a crash could leave an empty file under the real name.
  if (ok) ok = fsync(fileno(f)) == 0;
  if (fclose(f) != 0) ok = false;
  if (ok) return 0;
  remove(r->tmp.c_str());
  return -1;
}

int file_replace_rename(const char* from, const char* to) {
  return g_rename_fn ? g_rename_fn(from, to) : rename(from, to);
}

void file_replace_test_set_rename(int (*fn)(const char*, const char*)) {
  g_rename_fn = fn;
}

int create_private_temp_file(const char* dir, const char* prefix, std::string* path_out,
                             const char* suffix) {
  if (!dir || !*dir || !prefix || !path_out) return -1;
  if (!suffix) suffix = "";
  std::string name = dir;
  if (name.back() != '/') name += '/';
  name += prefix;
  name += "XXXXXX";
  name += suffix;
  std::vector<char> buf(name.begin(), name.end());
  buf.push_back('\0');
  // mkostemps creates with O_EXCL under a random name, so nothing planted
  // at a guessed name is ever opened; O_NOFOLLOW says so once more.
  int fd = mkostemps(buf.data(), static_cast<int>(strlen(suffix)), O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return -1;
  // The umask may have taken the owner's own bits; others never get any.
  if (fchmod(fd, kOwnerReadWrite) != 0) {
    close(fd);
    unlink(buf.data());
    return -1;
  }
  *path_out = buf.data();
  return fd;
}
