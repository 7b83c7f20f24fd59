// How Kavel writes the files it keeps for the user.  The phonebook holds BBS
// passwords in plain text, so a save must never widen who may read a file:
// a replaced file keeps its permission bits (and, where the process may, its
// owner and group), a new phonebook is owner-only, and the new contents never
// sit in a file that others can read.  A file the user reaches through a
// symbolic link (a dotfiles repository) is saved at the link's target, so
// the link survives; a file the user made read-only is left alone and the
// save says so.  The phonebook and the preferences both save through here.
#pragma once
#include <sys/types.h>

#include <cstdio>
#include <string>

// A save refused because the file is read-only (its owner may not write it,
// it is immutable, or its file system is mounted read-only).  Nothing was
// written; the caller shows its read-only message.  Other failures are -1.
inline constexpr int kSaveReadOnly = -2;

// Who may read a file that a save creates where there was none.
enum class NewFileAccess {
  kOwnerOnly,  // 0600 whatever the umask: files that hold passwords
  kUmask,      // 0666 less the umask, as any program creates a file
};

// One replace of a user's file, worked out before anything is written.
struct FileReplace {
  std::string target;  // the file replaced: the path with the symbolic links at its name followed
  std::string tmp;     // target + ".tmp", in the target's directory so that renames stay atomic
  std::string bak;     // target + ".bak"
  bool existed = false;
  mode_t mode = 0600;  // the permission bits the new file gets
  uid_t uid = 0;       // the old file's owner and group, kept where permitted
  gid_t gid = 0;
};

// Works out how to replace path: follows the symbolic links at its name (a
// link whose target does not exist yet is saved by creating that target)
// and takes the bits, owner and group of the file found there.  0, or
// kSaveReadOnly for a read-only file, or -1 when the name cannot be resolved
// (a loop of links) or is something other than a regular file.
int file_replace_begin(const char* path, NewFileAccess access, FileReplace* r);

// Creates r->tmp afresh (a stale one is removed first; a symbolic link
// planted at that name is never followed) with the owner, group and bits
// the finished file must have, before any byte is written.  The stream, or
// null on failure (nothing left behind).
FILE* file_replace_create_tmp(const FileReplace* r);

// Flushes, syncs and closes the temporary file; written_ok says whether
// everything was written.  0, or -1 after removing the temporary file.
int file_replace_close_tmp(FILE* f, const FileReplace* r, bool written_ok);

// rename(2), or the test hook when one is set.  Every rename of a save goes
// through here so that tests can fail one or look at the files just before.
int file_replace_rename(const char* from, const char* to);
void file_replace_test_set_rename(int (*fn)(const char* from, const char* to));

// A scratch file that holds session text for a short while (the scrollback
// viewer's): creates dir/PREFIXxxxxxxSUFFIX with a new unique name, owner
// read and write only, never through a symbolic link.  Returns the open
// descriptor (read and write, close-on-exec; fdopen it for a stream) and
// its path in *path_out, or -1 when it cannot be created.  The caller
// removes the file when done.
int create_private_temp_file(const char* dir, const char* prefix, std::string* path_out,
                             const char* suffix = "");
