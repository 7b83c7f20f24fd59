// What the user sees and chooses around a transfer, drawn as boxes over the
// terminal: the protocol chooser of the download and upload menus, the
// upload file picker with directory navigation, the "Save as" prompt of
// XMODEM downloads, the file-exists prompt and a one-line notice.
//
// Every dialog is modal: it reads the terminal window's events until it is
// answered (a close request counts as Escape; a refresh redraws the terminal
// and the box), hides the cursor while it is up, and redraws the terminal
// and shows the cursor when it closes.  The file-exists prompt is the
// exception: it is a mode of the session's loop (ExistsPrompt), so that the
// connection stays served while it waits.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "transfer/transfer_files.h"

struct Terminal;
struct PlatEvent;

// ------------------------------------------------------------ protocol chooser

inline constexpr int kProtocolXmodem = 0;
inline constexpr int kProtocolZmodem = 1;
inline constexpr int kProtocolYmodem = 2;
inline constexpr int kProtocolYmodemG = 3;
inline constexpr int kProtocolCount = 4;

// "X-Modem", "Z-Modem", "Y-Modem", "Y-Modem-G" under a title ("Download",
// "Upload"): the kProtocol* of the row chosen (up and left move up a row,
// down and right down a row), -1 for Escape or a close request (and without
// a window).
int term_choose_transfer_protocol(Terminal* t, const char* title);
void term_draw_protocol_chooser(Terminal* t, const char* title, int selection);
// The same over the rows given (the session lists its protocols' rows): the
// index of the row chosen, -1 as above.  The box grows a cell per row past
// the second.
int term_choose_transfer_protocol_rows(Terminal* t, const char* title, const char* const* rows,
                                       int count);
void term_draw_protocol_chooser_rows(Terminal* t, const char* title, const char* const* rows,
                                     int count, int selection);

// ------------------------------------------------------------ upload picker

struct UploadFileEntry {
  char entry_name[kTransferNameCap];
  uint32_t entry_size;  // 0 for directories
  int32_t is_dir;       // 1 for a directory, the parent entry included
  int32_t is_parent;    // 1 for ".."
  int32_t marked;       // picked with Space to go in a batch
};

struct UploadFileList {
  UploadFileEntry* files;  // grows from 32 entries, doubling
  int file_count;
  int file_capacity;
  int marking;  // the picker lets files be marked (the hint says so); kept by loading
};

// The picker's hint where files can be marked.
inline constexpr const char* kPickerMarkingHint = "Space marks files. Enter sends. Escape cancels.";

// The upload directory in use: g_upload_path trimmed, the home directory
// when empty (256 bytes).
void upload_path_current(char* out, size_t cap);
// Reads the upload directory (created when missing) into the list, sorted,
// with ".." first when the directory has a parent.  0, or -1 when it cannot
// be read (the list is then empty).
int upload_file_list_load(UploadFileList* list);
// 0, or -1 for an empty name, a name too long to keep whole, or no memory.
int upload_file_list_append(UploadFileList* list, const char* name, uint32_t size, int is_dir,
                            int is_parent);
void upload_file_list_free(UploadFileList* list);
// The parent entry first, then directories, then files, each by name with
// A-Z folded to a-z.  Negative, zero or positive like strcmp.
int upload_file_compare(const UploadFileEntry* a, const UploadFileEntry* b);
// The parent of a path ("PROGDIR:Transfers" -> "PROGDIR:", "Work:a/b/" ->
// "Work:a"): 1 with the parent in out, 0 when it has none ("/tmp", "PROGDIR:").
int upload_path_parent_of(const char* path, char* out, size_t cap);
int upload_path_parent(char* out, size_t cap);  // of the upload directory
// The upload directory joined with a name (at most 415 characters): 0, or -1
// when the path would not fit.
int upload_path_join(char* out, const char* name);  // out: kTransferPathCap bytes
// For a directory entry: 1 and the directory it leads to in out (256 bytes),
// else 0.
int upload_enter_directory(const UploadFileList* list, int index, char* out);

// The picker: 1 when a file was chosen (its name, without the directory, in
// name_out of kTransferNameCap bytes), 0 otherwise.  Entering a directory
// makes it the upload directory (g_upload_path) for later pickers too.
int term_select_upload_file(Terminal* t, char* name_out);
// The picker for a batch: Space marks (or unmarks) a file and moves on;
// Return on a file sends the marked files, in the list's order, or that
// file when none is marked; on a directory it enters it.  1 with the names (without the directory),
// 0 for nothing chosen.  Marks are dropped on entering another directory.
int term_select_upload_files(Terminal* t, std::vector<std::string>* names);
// The names a picker gave as full paths in the upload directory: 0, or -1
// (and *missing the name) for one whose path does not fit, which names no
// file that could be opened.
int transfer_upload_paths(const std::vector<std::string>& names, std::vector<std::string>* paths,
                          std::string* missing);
// One drawing of the picker (for tests and refreshes).
void term_draw_upload_picker(Terminal* t, const UploadFileList* list, int selected, int first,
                             const char* message);

// ------------------------------------------------------------ prompts

inline constexpr uint32_t kExistsPromptMs = 5000;

// The file-exists prompt's answers (the same numbers as the engines').
enum : int { kExistsOverwrite = 0, kExistsRename = 1, kExistsSkip = 2, kExistsResume = 3 };
// Said in red when a resume was chosen and the part on disk turned out not
// to be the start of the offered file.
inline constexpr const char* kExistsResumeFailedText =
    "The part there differs; it cannot be resumed.";

// The file-exists prompt is no modal loop of its own: the session's loop
// keeps serving the connection while it is up, and hands it the window's
// events and the time.  Its state between those calls:
struct ExistsPrompt {
  Terminal* t;
  char name[kTransferNameCap];
  int can_resume;
  int resume_failed;
  int selection;  // the button lit (kExists*)
  uint32_t shown_at;
  int up;  // shown and not yet answered
};

// A received file's name exists: puts the prompt up (OVERWRITE, RENAME,
// CANCEL; RESUME with "U" or "u" as well when can_resume is set, and
// kExistsResumeFailedText when an earlier resume's check failed), RENAME
// selected.  -1 while it waits for its answer; kExistsSkip at once without
// a terminal window.
int term_exists_prompt_open(ExistsPrompt* p, Terminal* t, const char* name, int can_resume,
                            int resume_failed);
// A window event while the prompt is up: the answer it gives (a close
// request counts as Escape, which skips; a refresh redraws the terminal and
// the prompt), or -1.  Every event is the prompt's while it is up.
int term_exists_prompt_event(ExistsPrompt* p, const PlatEvent& ev);
// Time passing: kExistsRename once kExistsPromptMs have gone by unanswered,
// else -1.
int term_exists_prompt_poll(ExistsPrompt* p);
// The prompt again over a terminal something repainted.
void term_exists_prompt_draw(const ExistsPrompt* p);
// Takes it down: the terminal redrawn (which removes it), the cursor shown.
void term_exists_prompt_close(ExistsPrompt* p);
void term_draw_receive_exists(Terminal* t, const char* name, int selection);
void term_draw_receive_exists_resume(Terminal* t, const char* name, int selection, int can_resume,
                                     int resume_failed);

// The "Save as" prompt of XMODEM downloads: 1 with the typed name (at most
// 127 characters) in out, 0 for Escape, a close request or an empty name.
int term_prompt_filename(Terminal* t, char* out, size_t cap);
void term_draw_filename_prompt(Terminal* t, const char* text);

// A one-line notice with "Press any key", up until a key, a mouse button or a
// close request.
void term_show_transfer_notice(Terminal* t, const char* text);
void term_draw_transfer_notice(Terminal* t, const char* text);
// The same box without "Press any key", for a note that goes by itself (its
// caller redraws the terminal when it is time).
void term_draw_transfer_note(Terminal* t, const char* text);
