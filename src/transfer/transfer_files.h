// File-name rules for received and sent files, shared by the ZMODEM and
// XMODEM code: what a name offered by the other side may become on our disk,
// where it goes, and which free name a download takes when the user does not
// want an existing file overwritten.  Pure functions over fixed-capacity
// text, apart from the existence tests and the file creation at the end.
#pragma once
#include <cstddef>
#include <cstdio>

inline constexpr size_t kTransferNameCap = 160;  // names: at most 159 characters
inline constexpr size_t kTransferPathCap = 416;  // paths: at most 415 characters
inline constexpr const char* kTransferDefaultName = "kavel-zmodem.dat";
// The stream buffer of a transfer's file: fewer, larger writes to the disk.
inline constexpr size_t kTransferFileBuffer = 65536;

// What a host's file-exists question returns when it has put the question
// up and the answer comes later (from the user, through the host's loop):
// the engine then waits in a state of its own, dropping what arrives, until
// the host gives it the answer.  A host that answers at once returns the
// answer itself.
inline constexpr int kTransferExistsAsked = -1;

// Makes a safe file name from a name the other side sent: the part after the
// last "/", "\" or ":", up to the first white space; control bytes and "/",
// "\", "*", ":" become "_"; at most cap - 1 characters.  A name that would be
// empty, or made only of dots ("." and ".." would leave the directory),
// becomes kTransferDefaultName.  The result never holds a path separator.
void transfer_sanitize_name(char* dest, size_t cap, const char* src);

// dir + "/" + name (no "/" when dir is empty or already ends in ":", "/" or
// "\").  Returns 0, or -1 when the whole path does not fit in cap - 1
// characters: a cut path could name another directory or file, so the caller
// must not use it (dest is then empty).
int transfer_join_path(char* dest, size_t cap, const char* dir, const char* name);

// 1 when something (a file, a directory, a dangling link) has this path.
int transfer_path_exists(const char* path);

// The rename rule for a received name that exists: "stem-N.ext" for N = 1,
// 2, ... 999, the first whose path in dir is free.  The extension is the
// part from the last "." when that dot is not the first character and the
// extension is shorter than 48 characters; otherwise the whole name is the
// stem (so ".profile" becomes ".profile-1").  On success name is replaced
// and 0 returned; -1 when the name is empty or all 999 are taken.
int transfer_rename_free(char* name, size_t cap, const char* dir);

// Opens path for writing a received file.  overwrite 0 creates it only if
// nothing has that name (O_EXCL), so a file that appeared after the user's
// decision is never clobbered; overwrite 1 truncates an existing regular
// file.  Links are never followed (O_NOFOLLOW), so a planted link cannot
// send the data out of the download directory.  The stream is fully
// buffered in the caller's buffer (it must outlive the stream; glibc
// ignores a size given without a buffer and writes 4 KiB at a time), or in
// stdio's own when buffer is null.  Null on failure.
FILE* transfer_create_file(const char* path, int overwrite, char* buffer = nullptr,
                           size_t size = 0);

// The size of a regular file at path (links not followed), or -1 for
// anything else or nothing.
long long transfer_regular_size(const char* path);

// Opens the regular file at path to append to it after its first length
// bytes, for a resumed download: nothing is truncated or created, links are
// not followed, and a file whose size is no longer length (it changed since
// it was checked) is refused.  Buffered as transfer_create_file.  Null on
// failure.
FILE* transfer_open_resume(const char* path, long long length, char* buffer = nullptr,
                           size_t size = 0);

// Creates the directory when it is missing (one level; failures ignored:
// opening the file reports them).
void transfer_make_dir(const char* dir);

// The download directory as a receiver uses it: pref (the preference's
// text) trimmed, the default when empty, "PROGDIR:" resolved; the user's
// default directory is created when missing.  The text stays valid until
// the next call.
const char* transfer_download_dir(const char* pref);
