// Import of SyncTERM dialing lists (".lst", one INI section per BBS) into the
// phonebook.  Everything here works without a window: the menu draws the
// picker and shows the messages these functions produce.
#pragma once
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "phonebook/phonebook.h"

inline constexpr int kImportPickerRows = 6;
inline constexpr size_t kImportPathCap = 448;
inline constexpr size_t kImportMessageCap = 160;

inline constexpr const char* kImportMsgOpenFailed = "Unable to open selected import list.";
inline constexpr const char* kImportMsgOutOfMemory = "Import failed: out of memory.";
inline constexpr const char* kImportMsgSaveFailed = "Imported, but could not save phone book.";

// The directories one listing can gather files from.
inline constexpr int kImportMaxDirs = 4;

struct ImportFileName {
  char name[160];
  int dir;  // which of the list's directories holds it
};

// The ".lst" files found in one or more directories, sorted by name
// (import_list_compare), and the directories they came from.
struct ImportFileList {
  ImportFileName* items;  // malloc'ed, owned
  int count;
  int capacity;
  int dir_count;
  char dirs[kImportMaxDirs][kImportPathCap];
};

void import_file_list_free(ImportFileList* list);
// Lists the regular files named "*.lst" (any case) in dir.  0 on success
// (the list may be empty); -1 when the directory cannot be read or the list
// cannot grow, the list then being empty.
int import_scan_directory(const char* dir, ImportFileList* list);
// Where Alt+I looks for lists, in this order: ~/.syncterm and
// $XDG_CONFIG_HOME/syncterm (where SyncTERM keeps its own list on Linux),
// then the program's directory (beside the executable, or the installed
// data directory).
std::vector<std::string> import_list_dirs();
// Lists the ".lst" files of several directories together (at most
// kImportMaxDirs; the same name in two of them is listed twice).  A
// directory that is not there is passed over: most users have only one of
// them.  0; -1 when one that is there could not be read (*failed is its
// index in dirs; the list holds the others' files) or when the list could
// not grow (*failed is the one being read; the list is empty).
int import_scan_directories(const std::vector<std::string>& dirs, ImportFileList* list,
                            int* failed);
// The full path of an item of the list.
std::string import_list_path(const ImportFileList* list, int index);

// Case-insensitive for "A".."Z", byte order otherwise.
int import_ascii_casecmp(const char* a, const char* b);
// qsort comparator over two ImportFileName records: by name, then in the
// order of the directories.
int import_list_compare(const void* a, const void* b);

// Merges one list entry: updates the entry with the same address and port
// (preferring one with the same name) or appends it.  0, or -1 when the
// append runs out of memory.
int import_commit_entry(Phonebook* pb, const PhoneEntry* entry, int* imported, int* updated,
                        int* skipped);

// Reads a list section by section and merges every complete section.
// 0 at end of file, -1 when a merge ran out of memory (the entries merged so
// far stay in the phonebook).
int import_read_stream(Phonebook* pb, FILE* in, int* imported, int* updated, int* skipped);

// The summary shown after an import.
void import_format_summary(char out[kImportMessageCap], int imported, int updated, int skipped);

enum ImportResult : int {
  IMPORT_OK = 0,
  IMPORT_OPEN_FAILED = -1,
  IMPORT_OUT_OF_MEMORY = -2,
  IMPORT_SAVE_FAILED = -3,
};

// Imports one list file: resets the counters, reads and merges it, saves the
// phonebook to pb_path when anything was imported or updated, and writes the
// text to show into message (the summary, or the failure message).
int import_run_file(Phonebook* pb, const char* pb_path, const char* list_path, int* imported,
                    int* updated, int* skipped, char message[kImportMessageCap]);
