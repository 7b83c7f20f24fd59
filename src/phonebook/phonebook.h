// The phonebook: fixed-size BBS entry records, the growable list that holds
// them, the "|"-separated text file they live in, the crash-safe save, the
// identity rules used to find an entry again, and the two sort orders.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "phonebook/private_file.h"

// The phonebook's file name.  Which file the program uses when it is given
// none: phonebook_default_path.
inline constexpr const char* kPhonebookDefaultPath = "kavel.phonebook";
inline constexpr const char* kPhonebookHeader = "# Kavel Phonebook";

// Terminal kinds stored in an entry; every value other than PETSCII is ANSI.
inline constexpr int32_t kTerminalAnsi = 4;
inline constexpr int32_t kTerminalPetscii = 5;
inline constexpr int32_t kPhonebookDefaultPort = 23;

// One BBS.  Copied by value (snapshots before a call, shifting on delete), so
// it stays a plain record of fixed-capacity text fields.
struct PhoneEntry {
  char name[80];
  char address[160];
  int32_t port;
  int32_t terminal;
  char font[80];  // FontChoice name; empty means "CP437"
  char username[80];
  char password[160];
  char software[80];
  char last_call[32];  // "%Y-%m-%d" or "Unknown"
  uint32_t call_count;
  int32_t favourite;
  char note[240];
};

struct Phonebook {
  PhoneEntry* entries;  // malloc'ed, owned; null when empty
  uint32_t count;
  uint32_t capacity;
};

// Lines longer than this are kept up to this length; the rest of the line is
// discarded rather than read as a line of its own.  The writer's longest line
// (every text field at capacity and fully escaped) is under 2 KiB.
inline constexpr size_t kPhonebookMaxLine = 64 * 1024;

// ---------------------------------------------------------------- the list --

// Empties the phonebook and frees its array.
void phonebook_free(Phonebook* pb);
// Appends a copy of the entry, growing the array to 8 and then by doubling.
// -1 on allocation failure (the phonebook is unchanged), else 0.
int phonebook_append(Phonebook* pb, const PhoneEntry* entry);
// Removes the entry at index, closing the gap; an index out of range is ignored.
void phonebook_remove(Phonebook* pb, int index);

// ---------------------------------------------------------------- reading --

// The phonebook used when none is named: kavel.phonebook in the current
// directory when one is there (where Kavel kept it before), else the one in
// the configuration directory ($XDG_CONFIG_HOME/kavel, platform/dos.h).
// Nothing is created here; the first save makes the directory.
std::string phonebook_default_path();

// Empties the phonebook (freeing its array: start from a zeroed Phonebook)
// and reads the file.  0 at end of file; -1 when the file cannot be opened
// (the phonebook stays empty), when memory runs out or when reading fails
// part way (the entries read so far stay).
int phonebook_load(Phonebook* pb, const char* path);
// The same reading over an open stream (the phonebook is emptied first).
int phonebook_load_stream(Phonebook* pb, FILE* in);
// Parses one line of the file (len bytes, need not be terminated; it is
// cut at an embedded NUL).  1 when it gives an entry (written to *out), 0
// for a blank line, a comment or a line without a separator, -1 when memory
// runs out.
int phonebook_parse_line(const char* line, size_t len, PhoneEntry* out);

// Reads one line of any length from in into *buf (grown with realloc, kept up
// to max_len bytes, the rest of the line skipped), without its line feed and
// always terminated.  Returns the number of bytes kept, -1 at end of file, or
// -2 when the buffer could not grow (the line has been consumed).  Shared by
// every line-oriented reader of this subsystem.
long phonebook_read_line(FILE* in, char** buf, size_t* cap, size_t max_len);

// ---------------------------------------------------------------- writing --

// Escapes one text field for the file into out (out_cap bytes): backslash,
// "|", line feed and carriage return become two-byte escapes; an escape pair
// is never split.  A "#" that would be the first non-blank byte of the line
// (lead_field set, used for the name) is escaped too, so that the reader does
// not take the entry for a comment.
void phonebook_field_for_save(const char* text, char* out, size_t out_cap, bool lead_field);
// Formats one entry as its file line, line feed included.  0, or -1 on a
// write error.
int phonebook_write_entry(FILE* out, const PhoneEntry* entry);
// Writes the header and every entry to path (truncating; a new file is
// created owner-only).  -1 on any failure, after which a partly written path
// has been removed.
int phonebook_write_to_path(const Phonebook* pb, const char* path);
// Replaces path through "path.tmp", keeping the previous version as
// "path.bak".  The file holds passwords: a new one is owner-only (0600), a
// replaced one keeps its permission bits (the ".bak" is the previous file
// itself), and the new contents are never in a file others could read.  A
// symbolic link at path is saved through to its target, with ".tmp" and
// ".bak" beside the target.  0 on success; kSaveReadOnly (-2) when the user
// made the file read-only (nothing is written); -1 on any other failure.
// Every failure leaves the previous file, and the ".bak" there was, in place.
int phonebook_save(const Phonebook* pb, const char* path);
// What the user is told about a save's result: null for success, else
// kPhonebookMsgReadOnly or kPhonebookMsgSaveFailed.
const char* phonebook_save_message(int rc);
inline constexpr const char* kPhonebookMsgSaveFailed = "Could not save phone book.";
inline constexpr const char* kPhonebookMsgReadOnly = "Phone book is read-only; changes not saved.";
// Told when a phonebook file exists but could not be read to its end: it is
// then never saved over, so that nothing that was not read is lost.
inline constexpr const char* kPhonebookMsgPartialLoad =
    "Phone book could not be read completely; changes will not be saved to it.";
// Test hooks: the rename and the hard link used by phonebook_save (null
// restores rename(2) and link(2)).
void phonebook_test_set_rename(int (*fn)(const char* from, const char* to));
void phonebook_test_set_link(int (*fn)(const char* from, const char* to));

// Stamps entry index with today's date and one more call, then saves; the
// save's result (the stamp stays in memory when the save fails).
int phoneentry_mark_last_call(Phonebook* pb, const char* path, int index);

// --------------------------------------------------------------- matching --

// The entry's font, or "CP437" when it has none.
const char* phoneentry_effective_font(const PhoneEntry* entry);
int phoneentry_same_identity(const PhoneEntry* a, const PhoneEntry* b);
int phoneentry_same_dial_target(const PhoneEntry* a, const PhoneEntry* b, int compare_names);
// Index of the entry that best matches: same identity, then same dial target
// with the name, then without; -1 when none does.
int phonebook_find_entry_identity(const Phonebook* pb, const PhoneEntry* entry);

// ---------------------------------------------------------------- sorting --

int phoneentry_name_compare(const PhoneEntry* a, const PhoneEntry* b);
int phoneentry_type_compare(const PhoneEntry* a, const PhoneEntry* b);
void phonebook_sort_alpha(Phonebook* pb);
void phonebook_sort_type(Phonebook* pb);
// Sorts by name (by_type 0) or by type, and returns where the entry that
// stood at index now stands (0 when index is out of range).
int phonebook_sort_following(Phonebook* pb, int by_type, int index);

// ----------------------------------------------------------------- labels --

// The "Type" column label: the software name when there is one, else the
// font label.  Points into the entry or into a static buffer that the next
// call of this or display_font_name overwrites.
const char* entry_type_display(const PhoneEntry* entry);
// The short label of a font choice or font file name (static buffer).
const char* display_font_name(const char* font);

// The console listing of the phonebook.
// call_port, when given, gives the port a call to an address uses (the
// console passes one that knows every connection kind); else address_port.
void phonebook_list(const Phonebook* pb, FILE* out,
                    int (*call_port)(const char* address, int port) = nullptr);
