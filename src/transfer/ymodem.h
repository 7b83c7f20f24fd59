// YMODEM's block 0: the header that announces each file of a batch.
//
// Its data (128 bytes, or 1024 when the name is long) holds the file's name,
// a NUL, then a line of numbers separated by spaces, then NULs to the end:
//
//   name NUL size [mtime [mode [serial [files-left [bytes-left]]]]] NUL ...
//
// size, files-left and bytes-left are decimal; mtime (seconds since 1970,
// UTC), mode (Unix mode bits) and serial are octal.  Every number is
// optional from the right.  A block 0 whose name is empty ends the batch.
// files-left and bytes-left count this file too; lrzsz and most BBS
// senders put them there, older senders stop after the size or the date.
//
// These are pure functions over the block's bytes: the engine (xmodem.h)
// reads and builds block 0 with them, the fuzz target feeds them anything.
#pragma once
#include <cstddef>
#include <cstdint>

// Block 0's data is at most 1024 bytes, so a name is at most 1023.
inline constexpr size_t kYmNameCap = 1024;
inline constexpr size_t kYmBlock0Max = 1024;

// One file as block 0 describes it.  The name is the sender's, as sent:
// whoever saves it under that name must make it safe first.
struct YmodemFileInfo {
  char name[kYmNameCap];
  uint64_t size;        // bytes; valid with has_size
  int64_t mtime;        // seconds since 1970 (UTC); valid with has_mtime
  uint32_t mode;        // Unix mode bits as sent; valid with has_mode
  uint32_t files_left;  // this file included; valid with has_files_left
  uint64_t bytes_left;  // this file included; valid with has_bytes_left
  uint8_t has_size, has_mtime, has_mode, has_files_left, has_bytes_left;
};

// Reads the data of a block 0 (len bytes; more than 1024 are not looked
// at).  1: a file, described in *info; 0: the empty block 0 that ends the
// batch; -1 without data or info.  Nothing past len is read.  Tolerant of
// what real senders put there: a name that fills the block without a NUL,
// numbers cut short, octal fields with stray digits, bytes after the
// numbers' NUL (lrzsz puts a block count in the last two bytes).  A
// number that does not end at a space or at the end of the line is not
// taken, nor is any after it.  Numbers too large for their field are held
// at the field's largest value.  A date of 0 means no date.
int ymodem_parse_block0(const uint8_t* data, size_t len, YmodemFileInfo* info);

// Writes the data of block 0 for info into out (kYmBlock0Max bytes), the
// empty block 0 that ends the batch when info is null or its name empty.
// The numbers written are the size, the date and the mode (0 for those
// not given), a serial of 0, then files-left and bytes-left when given.
// Returns the block's length, 128 when everything fits, else 1024; -1
// when the name and numbers do not fit in 1024 bytes.
int ymodem_build_block0(uint8_t* out, const YmodemFileInfo* info);
