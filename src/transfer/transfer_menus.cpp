// The transfer menus and prompts: a shared reader of dialog keys, then one
// section per dialog (draw, then its modal loop), and the upload directory
// list behind the picker.
#include "transfer/transfer_menus.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "display/renderer.h"
#include "display/surface.h"
#include "phonebook/prefs.h"
#include "platform/clock.h"
#include "platform/display.h"
#include "platform/dos.h"
#include "platform/keymap.h"
#include "terminal/terminal.h"
#include "transfer/dialogs.h"
#include "util/text.h"

namespace {

enum : int {
  kBlack = 0,
  kBlue = 1,
  kRed = 4,
  kGrey = 7,
  kWhite = 15,
};

// ------------------------------------------------------------ dialog keys

enum DialogKeyKind {
  kKeyNone,
  kKeyUp,
  kKeyDown,
  kKeyLeft,
  kKeyRight,
  kKeyPageUp,
  kKeyPageDown,
  kKeyEnter,
  kKeyEscape,
  kKeyBackspace,
  kKeyChar,
  kKeyClose,
  kKeyRefresh,
  kKeyMouse,
};

struct DialogKey {
  DialogKeyKind kind;
  uint8_t ch;
};

DialogKey key_from_event(const PlatEvent& ev) {
  switch (ev.cls) {
    case PLAT_EV_CLOSE:
      return {kKeyClose, 0};
    case PLAT_EV_REFRESH:
      return {kKeyRefresh, 0};
    case PLAT_EV_MOUSEBUTTON:
      return {ev.code == PLAT_SELECTDOWN ? kKeyMouse : kKeyNone, 0};
    case PLAT_EV_VANILLAKEY: {
      uint8_t c = static_cast<uint8_t>(ev.code & 0xFF);
      if (c == '\r' || c == '\n') return {kKeyEnter, c};
      if (c == 27) return {kKeyEscape, c};
      if (c == 8 || c == 127) return {kKeyBackspace, c};
      return {kKeyChar, c};
    }
    case PLAT_EV_RAWKEY:
      if (ev.code & PLAT_KEY_UP) return {kKeyNone, 0};
      switch (ev.code) {
        case RAWKEY_UP:
          return {kKeyUp, 0};
        case RAWKEY_DOWN:
          return {kKeyDown, 0};
        case RAWKEY_LEFT:
          return {kKeyLeft, 0};
        case RAWKEY_RIGHT:
          return {kKeyRight, 0};
        case RAWKEY_RETURN:
        case RAWKEY_KP_ENTER:
          return {kKeyEnter, 0};
        case RAWKEY_ESCAPE:
          return {kKeyEscape, 0};
        case RAWKEY_BACKSPACE:
          return {kKeyBackspace, 0};
        default:
          // The page keys of the keyboards the program knows, numeric pads
          // included (F11 and F12 are none).
          switch (keymap_page_key(ev.code)) {
            case KEYMAP_PAGE_UP:
              return {kKeyPageUp, 0};
            case KEYMAP_PAGE_DOWN:
              return {kKeyPageDown, 0};
            default:
              return {kKeyNone, 0};
          }
      }
    default:
      return {kKeyNone, 0};
  }
}

// The next dialog key, waiting up to wait_ms (-1: until one comes) when none
// is queued.  kKeyNone when the time ran out.
DialogKey next_key(Terminal* t, int wait_ms) {
  PlatEvent ev;
  if (!plat_get_event(t->window, &ev)) {
    if (wait_ms == 0) return {kKeyNone, 0};
    plat_wait_event(t->window, wait_ms);
    if (!plat_get_event(t->window, &ev)) return {kKeyNone, 0};
  }
  return key_from_event(ev);
}

void redraw_terminal(Terminal* t) {
  if (!t->drawing_suppressed) term_redraw_all(t);
}

// A refresh request: the terminal, then the box over it.
template <typename Draw>
void refresh(Terminal* t, Draw draw) {
  plat_begin_refresh(t->window);
  redraw_terminal(t);
  draw();
  plat_end_refresh(t->window);
}

void close_dialog(Terminal* t) {
  redraw_terminal(t);
  term_show_cursor(t);
}

bool has_window(const Terminal* t) {
  return t && t->window;
}

void centred_text(Terminal* t, int x, int w, int baseline_y, const char* text, int fg, int bg) {
  term_dialog_text_bg(t, x + (w - text_px(t, text)) / 2, baseline_y, text, fg, bg);
}

// A transfer dialog of at least min_w x min_h pixels (or the given cells),
// centred and kept 8 pixels inside the window borders.
void dialog_rect(Terminal* t, int cells_w, int min_w, int cells_h, int min_h, int* x, int* y,
                 int* w, int* h) {
  term_update_origin(t);
  *w = std::max(cells_w * term_dialog_cell_w(t), min_w);
  *h = std::max(cells_h * term_dialog_cell_h(t), min_h);
  term_center_dialog_box(t, *w, *h, x, y);
  term_clamp_transfer_dialog_box(t, x, y);
}

void draw_title(Terminal* t, int x, int y, int w, const char* title) {
  centred_text(t, x, w, y + term_dialog_baseline(t) + 8, title, kBlue, kGrey);
}

int line_y(Terminal* t, int y, int line) {
  return y + line * term_dialog_cell_h(t) + term_dialog_baseline(t);
}

// ------------------------------------------------------------ upload list

bool fold_less(const char* a, const char* b, int* result) {
  for (size_t i = 0;; ++i) {
    unsigned char ca = static_cast<unsigned char>(a[i]);
    unsigned char cb = static_cast<unsigned char>(b[i]);
    if (ca >= 'A' && ca <= 'Z') ca = static_cast<unsigned char>(ca + 32);
    if (cb >= 'A' && cb <= 'Z') cb = static_cast<unsigned char>(cb + 32);
    if (ca != cb || ca == 0) {
      *result = static_cast<int>(ca) - static_cast<int>(cb);
      return true;
    }
  }
}

bool is_separator(char c) {
  return c == '/' || c == '\\';
}

}  // namespace

// ------------------------------------------------------------ protocol chooser

namespace {
constexpr const char* kDefaultRows[kProtocolCount] = {"X-Modem", "Z-Modem", "Y-Modem", "Y-Modem-G"};
}  // namespace

void term_draw_protocol_chooser(Terminal* t, const char* title, int selection) {
  term_draw_protocol_chooser_rows(t, title, kDefaultRows, kProtocolCount, selection);
}

int term_choose_transfer_protocol(Terminal* t, const char* title) {
  return term_choose_transfer_protocol_rows(t, title, kDefaultRows, kProtocolCount);
}

void term_draw_protocol_chooser_rows(Terminal* t, const char* title, const char* const* rows,
                                     int count, int selection) {
  if (!has_window(t) || !t->rport) return;
  int x, y, w, h;
  // Each row past the first two makes the box one cell taller.
  const int kExtraRows = count > 2 ? count - 2 : 0;
  dialog_rect(t, 26, 208, 6 + kExtraRows, 92 + 16 * kExtraRows, &x, &y, &w, &h);
  int cw = term_dialog_cell_w(t);
  int ch = term_dialog_cell_h(t);
  int bl = term_dialog_baseline(t);
  draw_beveled_box(t, x, y, x + w - 1, y + h - 1);
  draw_title(t, x, y, w, title ? title : "");
  for (int i = 0; i < count; ++i) {
    int top = y + (2 + i) * ch + 4;
    bool selected = i == selection;
    term_fill_rect(t, x + 3 * cw, top, x + w - 3 * cw, top + ch, selected ? kBlue : kGrey);
    term_dialog_text_bg(t, x + 4 * cw, top + bl + 1, rows[i], selected ? kWhite : kBlue,
                        selected ? kBlue : kGrey);
  }
}

int term_choose_transfer_protocol_rows(Terminal* t, const char* title, const char* const* rows,
                                       int count) {
  if (!has_window(t) || count <= 0) return -1;
  int selection = 0;
  term_hide_cursor(t);
  term_draw_protocol_chooser_rows(t, title, rows, count, selection);
  int answer = -2;
  while (answer == -2) {
    DialogKey k = next_key(t, -1);
    int previous = selection;
    switch (k.kind) {
      case kKeyUp:
      case kKeyLeft:
        if (selection > 0) --selection;
        break;
      case kKeyDown:
      case kKeyRight:
        if (selection < count - 1) ++selection;
        break;
      case kKeyEnter:
        answer = selection;
        break;
      case kKeyEscape:
      case kKeyClose:
        answer = -1;
        break;
      case kKeyRefresh:
        refresh(t, [&] { term_draw_protocol_chooser_rows(t, title, rows, count, selection); });
        break;
      default:
        break;
    }
    if (answer == -2 && selection != previous)
      term_draw_protocol_chooser_rows(t, title, rows, count, selection);
  }
  close_dialog(t);
  return answer;
}

// ------------------------------------------------------------ upload list

void upload_path_current(char* out, size_t cap) {
  char path[256];
  safe_copy(path, sizeof path, g_upload_path);
  normalize_transfer_path(path, TransferDir::kUpload);
  safe_copy(out, cap, path);
}

int upload_file_list_append(UploadFileList* list, const char* name, uint32_t size, int is_dir,
                            int is_parent) {
  if (!list || !name || !name[0]) return -1;
  // A name cut to fit would name another file, or none.
  if (strlen(name) >= kTransferNameCap) return -1;
  if (list->file_count >= list->file_capacity) {
    int capacity = list->file_capacity ? list->file_capacity * 2 : 32;
    void* grown = realloc(list->files, static_cast<size_t>(capacity) * sizeof(UploadFileEntry));
    if (!grown) return -1;
    list->files = static_cast<UploadFileEntry*>(grown);
    list->file_capacity = capacity;
  }
  UploadFileEntry* e = &list->files[list->file_count++];
  safe_copy(e->entry_name, sizeof e->entry_name, name);
  e->entry_size = size;
  e->is_dir = is_dir ? 1 : 0;
  e->is_parent = is_parent ? 1 : 0;
  e->marked = 0;
  return 0;
}

void upload_file_list_free(UploadFileList* list) {
  if (!list) return;
  free(list->files);
  int marking = list->marking;
  *list = UploadFileList{};
  list->marking = marking;
}

int upload_file_compare(const UploadFileEntry* a, const UploadFileEntry* b) {
  if (a->is_parent != b->is_parent) return a->is_parent ? -1 : 1;
  if (a->is_dir != b->is_dir) return a->is_dir ? -1 : 1;
  int result = 0;
  fold_less(a->entry_name, b->entry_name, &result);
  return result;
}

int upload_path_parent_of(const char* path, char* out, size_t cap) {
  char p[kTransferPathCap];
  safe_copy(p, sizeof p, path);
  trim(p);
  size_t len = strlen(p);
  while (len > 0 && is_separator(p[len - 1])) p[--len] = '\0';
  if (len == 0) return 0;
  const char* colon = strchr(p, ':');
  const char* last_sep = nullptr;
  for (const char* c = p; *c; ++c)
    if (is_separator(*c)) last_sep = c;
  if (!last_sep) {
    // "Volume:dir" has the volume as its parent; "Volume:" and "dir" none.
    if (colon && colon[1]) {
      char parent[kTransferPathCap];
      safe_copy(parent, static_cast<size_t>(colon - p) + 2, p);
      safe_copy(out, cap, parent);
      return 1;
    }
    return 0;
  }
  if (!colon || last_sep > colon) {
    size_t n = static_cast<size_t>(last_sep - p);
    if (n == 0) return 0;
    char parent[kTransferPathCap];
    safe_copy(parent, n + 1, p);
    safe_copy(out, cap, parent);
    return 1;
  }
  // The colon comes after the last separator ("a/b:c"): the text up to it.
  if (!colon[1]) return 0;
  char parent[kTransferPathCap];
  safe_copy(parent, static_cast<size_t>(colon - p) + 2, p);
  safe_copy(out, cap, parent);
  return 1;
}

int upload_path_parent(char* out, size_t cap) {
  char dir[256];
  upload_path_current(dir, sizeof dir);
  return upload_path_parent_of(dir, out, cap);
}

int upload_path_join(char* out, const char* name) {
  char dir[256];
  upload_path_current(dir, sizeof dir);
  return transfer_join_path(out, kTransferPathCap, dir, name);
}

int upload_file_list_load(UploadFileList* list) {
  upload_file_list_free(list);
  char dir[256];
  upload_path_current(dir, sizeof dir);
  dos_create_dir(dir);
  std::string real = dos_expand_path(dir);
  DIR* d = opendir(real.c_str());
  if (!d) return -1;
  char parent[256];
  if (upload_path_parent_of(dir, parent, sizeof parent))
    upload_file_list_append(list, "..", 0, 1, 1);
  while (dirent* e = readdir(d)) {
    const char* name = e->d_name;
    if (!name[0] || strcmp(name, ".") == 0 || strcmp(name, "..") == 0) continue;
    char joined[kTransferPathCap];
    if (transfer_join_path(joined, sizeof joined, dir, name) != 0) continue;
    struct stat st;
    if (stat(dos_expand_path(joined).c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      upload_file_list_append(list, name, 0, 1, 0);
    } else if (S_ISREG(st.st_mode)) {
      uint32_t size = st.st_size > 0xFFFFFFFFll ? 0xFFFFFFFFu : static_cast<uint32_t>(st.st_size);
      upload_file_list_append(list, name, size, 0, 0);
    }
  }
  closedir(d);
  if (list->file_count >= 2) {
    std::sort(list->files, list->files + list->file_count,
              [](const UploadFileEntry& a, const UploadFileEntry& b) {
                return upload_file_compare(&a, &b) < 0;
              });
  }
  return 0;
}

int upload_enter_directory(const UploadFileList* list, int index, char* out) {
  if (!list || index < 0 || index >= list->file_count) return 0;
  const UploadFileEntry& e = list->files[index];
  if (!e.is_dir) return 0;
  if (e.is_parent) return upload_path_parent(out, 256);
  char joined[kTransferPathCap];
  if (upload_path_join(joined, e.entry_name) != 0 || strlen(joined) >= 256) return 0;
  safe_copy(out, 256, joined);
  return 1;
}

// ------------------------------------------------------------ upload picker

namespace {

constexpr int kPickerRows = 10;
constexpr const char* kPickerUnreadable = "Could not open upload path.";

void picker_rect(Terminal* t, int* x, int* y, int* w, int* h) {
  dialog_rect(t, 56, 440, 16, 220, x, y, w, h);
}

struct Picker {
  UploadFileList list{};
  int selected = 0;
  int first = 0;
  const char* message = nullptr;

  void load() {
    message = upload_file_list_load(&list) == 0 ? nullptr : kPickerUnreadable;
    selected = first = 0;
  }
  void move(int delta) {
    if (list.file_count == 0) return;
    selected = std::clamp(selected + delta, 0, list.file_count - 1);
    if (selected < first) first = selected;
    if (selected >= first + kPickerRows) first = selected - kPickerRows + 1;
  }
};

}  // namespace

void term_draw_upload_picker(Terminal* t, const UploadFileList* list, int selected, int first,
                             const char* message) {
  if (!has_window(t) || !t->rport) return;
  int x, y, w, h;
  picker_rect(t, &x, &y, &w, &h);
  int cw = term_dialog_cell_w(t);
  int ch = term_dialog_cell_h(t);
  int tx = x + 2 * cw;
  draw_beveled_box(t, x, y, x + w - 1, y + h - 1);
  draw_title(t, x, y, w, "ZModem - Sending");

  // The directory itself, not the program's name for it ("PROGDIR:Transfers"
  // means nothing to a Linux user).
  char dir[256];
  upload_path_current(dir, sizeof dir);
  std::string shown = dos_expand_path(dir);
  char line[300];
  snprintf(line, sizeof line, "Upload path: %s", shown.c_str());
  // A long path is cut at the box's edge rather than drawn over it.
  size_t room = static_cast<size_t>(std::max(1, (w - 4 * cw) / cw));
  if (strlen(line) > room) line[room] = '\0';
  term_dialog_text(t, tx, line_y(t, y, 2), line, kBlack);
  // Where files can be marked the hint says how.
  bool marking = list && list->marking;
  term_dialog_text(t, tx, line_y(t, y, 3),
                   marking ? kPickerMarkingHint : "Enter sends selected file. Escape cancels.",
                   kBlue);
  if (message) term_dialog_text(t, tx, line_y(t, y, 4), message, kRed);

  int count = list ? list->file_count : 0;
  if (count == 0) {
    term_dialog_text(t, tx, line_y(t, y, 6), "No files found.", kBlack);
    return;
  }
  for (int row = 0; row < kPickerRows && first + row < count; ++row) {
    int index = first + row;
    const UploadFileEntry& e = list->files[index];
    if (e.is_dir) {
      snprintf(line, sizeof line, "  %-34.34s %8s", e.is_parent ? ".." : e.entry_name, "<DIR>");
    } else {
      snprintf(line, sizeof line, "%c %-34.34s %8lu", e.marked ? '*' : ' ', e.entry_name,
               static_cast<unsigned long>(e.entry_size));
    }
    bool is_selected = index == selected;
    int top = y + (5 + row) * ch;
    if (is_selected) term_fill_rect(t, tx, top, x + 52 * cw, top + ch - 1, kBlue);
    term_dialog_text_bg(t, tx, line_y(t, y, 5 + row), line, is_selected ? kWhite : kBlack,
                        is_selected ? kBlue : kGrey);
  }
}

namespace {

// The picker's loop: 1 with the chosen names (the marked files in the
// list's order, else the one under the bar), 0 for nothing chosen.
int select_upload(Terminal* t, bool marking, std::vector<std::string>* names) {
  names->clear();
  Picker p;
  p.list.marking = marking;
  p.load();
  term_hide_cursor(t);
  auto draw = [&] { term_draw_upload_picker(t, &p.list, p.selected, p.first, p.message); };
  draw();
  int chosen = -1;
  while (chosen < 0) {
    DialogKey k = next_key(t, -1);
    switch (k.kind) {
      case kKeyUp:
        p.move(-1);
        break;
      case kKeyDown:
        p.move(1);
        break;
      case kKeyPageUp:
        p.move(-kPickerRows);
        break;
      case kKeyPageDown:
        p.move(kPickerRows);
        break;
      case kKeyChar: {
        // Space marks or unmarks a file and steps on, so that a run of
        // files is marked by holding it down.
        if (!marking || k.ch != ' ' || p.list.file_count == 0) continue;
        UploadFileEntry& e = p.list.files[p.selected];
        if (!e.is_dir) e.marked = !e.marked;
        p.move(1);
        break;
      }
      case kKeyEnter: {
        if (p.list.file_count == 0) break;
        const UploadFileEntry& e = p.list.files[p.selected];
        if (!e.is_dir) {
          for (int i = 0; i < p.list.file_count; ++i)
            if (p.list.files[i].marked) names->emplace_back(p.list.files[i].entry_name);
          if (names->empty()) names->emplace_back(e.entry_name);
          chosen = 1;
          break;
        }
        // Marks belong to one directory: entering another drops them.
        char next[256];
        if (upload_enter_directory(&p.list, p.selected, next)) {
          safe_copy(g_upload_path, sizeof g_upload_path, next);
          p.load();
        }
        break;
      }
      case kKeyEscape:
      case kKeyClose:
        chosen = 0;
        break;
      case kKeyRefresh:
        refresh(t, draw);
        continue;
      default:
        continue;
    }
    if (chosen < 0) draw();
  }
  upload_file_list_free(&p.list);
  close_dialog(t);
  return chosen;
}

}  // namespace

int term_select_upload_file(Terminal* t, char* name_out) {
  if (name_out) name_out[0] = '\0';
  if (!has_window(t) || !name_out) return 0;
  std::vector<std::string> names;
  if (!select_upload(t, false, &names) || names.empty()) return 0;
  safe_copy(name_out, kTransferNameCap, names[0].c_str());
  return 1;
}

int term_select_upload_files(Terminal* t, std::vector<std::string>* names) {
  if (!names) return 0;
  names->clear();
  if (!has_window(t)) return 0;
  return select_upload(t, true, names);
}

// ------------------------------------------------------------ file exists

namespace {

void exists_rect(Terminal* t, int* x, int* y, int* w, int* h) {
  dialog_rect(t, 52, 420, 10, 164, x, y, w, h);
}

}  // namespace

namespace {

// The buttons in their order on screen, each with its answer.  Resume sits
// beside Overwrite: both keep the name, one keeps the bytes there too.
struct ExistsButtons {
  int count;
  const int* answers;
  const int* left;  // in cell widths from the box's left edge
  int width;        // in cell widths
};

ExistsButtons exists_buttons(int can_resume) {
  static constexpr int kThree[3] = {kExistsOverwrite, kExistsRename, kExistsSkip};
  static constexpr int kThreeLeft[3] = {4, 18, 32};
  static constexpr int kFour[4] = {kExistsOverwrite, kExistsResume, kExistsRename, kExistsSkip};
  static constexpr int kFourLeft[4] = {2, 14, 26, 38};
  if (can_resume) return {4, kFour, kFourLeft, 11};
  return {3, kThree, kThreeLeft, 12};
}

const char* exists_label(int answer) {
  switch (answer) {
    case kExistsOverwrite:
      return "OVERWRITE";
    case kExistsResume:
      return "RESUME";
    case kExistsRename:
      return "RENAME";
    default:
      return "CANCEL";
  }
}

int button_index(const ExistsButtons& b, int answer) {
  for (int i = 0; i < b.count; ++i)
    if (b.answers[i] == answer) return i;
  return 0;
}

}  // namespace

void term_draw_receive_exists(Terminal* t, const char* name, int selection) {
  term_draw_receive_exists_resume(t, name, selection, 0, 0);
}

void term_draw_receive_exists_resume(Terminal* t, const char* name, int selection, int can_resume,
                                     int resume_failed) {
  if (!has_window(t) || !t->rport) return;
  int x, y, w, h;
  exists_rect(t, &x, &y, &w, &h);
  int cw = term_dialog_cell_w(t);
  int ch = term_dialog_cell_h(t);
  int bl = term_dialog_baseline(t);
  draw_beveled_box(t, x, y, x + w - 1, y + h - 1);
  draw_title(t, x, y, w, "File Exists");

  // A long name is cut to 36 characters and "...", and further when the
  // whole line would otherwise run out of the box.
  static constexpr int kSuffix = 16;  // " already exists."
  int fit = std::min(39, std::max(4, (w - 4 * cw) / cw - kSuffix));
  char shown[48];
  const char* n = name && name[0] ? name : "File";
  if (static_cast<int>(strlen(n)) > fit) {
    snprintf(shown, sizeof shown, "%.*s...", fit - 3, n);
  } else {
    safe_copy(shown, sizeof shown, n);
  }
  char line[80];
  snprintf(line, sizeof line, "%s already exists.", shown);
  term_dialog_text(t, x + 2 * cw, line_y(t, y, 3), line, kBlack);
  if (resume_failed)
    term_dialog_text(t, x + 2 * cw, line_y(t, y, 4), kExistsResumeFailedText, kRed);
  term_dialog_text(t, x + 2 * cw, line_y(t, y, 5), "Auto rename in 5 seconds.", kBlue);

  ExistsButtons buttons = exists_buttons(can_resume);
  int top = y + 7 * ch + 2;
  for (int i = 0; i < buttons.count; ++i) {
    int left = x + buttons.left[i] * cw;
    int bw = buttons.width * cw;
    bool selected = buttons.answers[i] == selection;
    term_fill_rect(t, left, top, left + bw - 1, top + ch + 1, selected ? kBlue : kGrey);
    centred_text(t, left, bw, top + bl + 1, exists_label(buttons.answers[i]),
                 selected ? kWhite : kBlue, selected ? kBlue : kGrey);
  }
}

int term_exists_prompt_open(ExistsPrompt* p, Terminal* t, const char* name, int can_resume,
                            int resume_failed) {
  *p = ExistsPrompt{};
  if (!has_window(t)) return kExistsSkip;
  p->t = t;
  safe_copy(p->name, sizeof p->name, name);
  p->can_resume = can_resume;
  p->resume_failed = resume_failed;
  p->selection = kExistsRename;
  redraw_terminal(t);
  term_hide_cursor(t);
  term_exists_prompt_draw(p);
  p->shown_at = clock_ms();
  p->up = 1;
  return -1;
}

void term_exists_prompt_draw(const ExistsPrompt* p) {
  if (!p->t) return;
  term_draw_receive_exists_resume(p->t, p->name, p->selection, p->can_resume, p->resume_failed);
}

int term_exists_prompt_poll(ExistsPrompt* p) {
  if (!p->up) return -1;
  return clock_ms() - p->shown_at >= kExistsPromptMs ? kExistsRename : -1;
}

int term_exists_prompt_event(ExistsPrompt* p, const PlatEvent& ev) {
  if (!p->up) return -1;
  DialogKey k = key_from_event(ev);
  ExistsButtons buttons = exists_buttons(p->can_resume);
  int previous = p->selection;
  int index = button_index(buttons, p->selection);
  int answer = -1;
  switch (k.kind) {
    case kKeyUp:
    case kKeyLeft:
      p->selection = buttons.answers[std::max(0, index - 1)];
      break;
    case kKeyDown:
    case kKeyRight:
      p->selection = buttons.answers[std::min(buttons.count - 1, index + 1)];
      break;
    case kKeyEnter:
      answer = p->selection;
      break;
    case kKeyChar:
      if (k.ch == 'o' || k.ch == 'O') answer = kExistsOverwrite;
      if (k.ch == 'r' || k.ch == 'R') answer = kExistsRename;
      if (k.ch == 'c' || k.ch == 'C') answer = kExistsSkip;
      if ((k.ch == 'u' || k.ch == 'U') && p->can_resume) answer = kExistsResume;
      break;
    case kKeyEscape:
    case kKeyClose:
      answer = kExistsSkip;
      break;
    case kKeyRefresh:
      refresh(p->t, [p] { term_exists_prompt_draw(p); });
      break;
    default:
      break;
  }
  if (answer < 0 && p->selection != previous) term_exists_prompt_draw(p);
  return answer;
}

void term_exists_prompt_close(ExistsPrompt* p) {
  if (!p->up) return;
  p->up = 0;
  close_dialog(p->t);
}

int transfer_upload_paths(const std::vector<std::string>& names, std::vector<std::string>* paths,
                          std::string* missing) {
  paths->clear();
  for (const std::string& name : names) {
    char joined[kTransferPathCap];
    bool fits = upload_path_join(joined, name.c_str()) == 0;
    std::string real = fits ? dos_expand_path(joined) : std::string();
    if (!fits || real.size() >= kTransferPathCap) {
      *missing = name;
      return -1;
    }
    paths->push_back(real);
  }
  return 0;
}

// ------------------------------------------------------------ save as

namespace {

constexpr size_t kFilenameMax = 127;

}  // namespace

void term_draw_filename_prompt(Terminal* t, const char* text) {
  if (!has_window(t) || !t->rport) return;
  int x, y, w, h;
  dialog_rect(t, 52, 420, 7, 112, &x, &y, &w, &h);
  int cw = term_dialog_cell_w(t);
  int ch = term_dialog_cell_h(t);
  draw_beveled_box(t, x, y, x + w - 1, y + h - 1);
  draw_title(t, x, y, w, "X-Modem Receive");
  term_dialog_text(t, x + 2 * cw, line_y(t, y, 2), "Save as:", kBlack);
  int left = x + 2 * cw;
  int right = x + w - 2 * cw;
  term_fill_rect(t, left, y + 4 * ch, right, y + 5 * ch, kGrey);
  // The end of a long name stays in view, as in a line editor.
  size_t room = static_cast<size_t>(std::max(3, (right - left) / cw)) - 2;
  const char* shown = text ? text : "";
  size_t len = strlen(shown);
  if (len > room) shown += len - room;
  char line[kFilenameMax + 4];
  snprintf(line, sizeof line, "> %s", shown);
  term_dialog_text(t, left, line_y(t, y, 4), line, kBlue);
}

int term_prompt_filename(Terminal* t, char* out, size_t cap) {
  if (out && cap) out[0] = '\0';
  if (!has_window(t) || !out || cap == 0) return 0;
  char text[kFilenameMax + 1] = "";
  size_t len = 0;
  term_hide_cursor(t);
  term_draw_filename_prompt(t, text);
  int result = -1;
  while (result < 0) {
    DialogKey k = next_key(t, -1);
    switch (k.kind) {
      case kKeyChar:
        if (k.ch >= 0x20 && k.ch <= 0x7E && len < kFilenameMax) {
          text[len++] = static_cast<char>(k.ch);
          text[len] = '\0';
        }
        break;
      case kKeyBackspace:
        if (len > 0) text[--len] = '\0';
        break;
      case kKeyEnter:
        result = len > 0 ? 1 : 0;
        break;
      case kKeyEscape:
      case kKeyClose:
        result = 0;
        break;
      case kKeyRefresh:
        refresh(t, [&] { term_draw_filename_prompt(t, text); });
        continue;
      default:
        continue;
    }
    if (result < 0) term_draw_filename_prompt(t, text);
  }
  if (result == 1) safe_copy(out, cap, text);
  close_dialog(t);
  return result;
}

// ------------------------------------------------------------ notice

namespace {

// "Info" over one line of text, with "Press any key" under it when the box
// waits for one.
void draw_info_box(Terminal* t, const char* text, bool press_key) {
  if (!has_window(t) || !t->rport) return;
  const char* msg = text ? text : "";
  int cells = static_cast<int>(strlen(msg)) + 4;
  int x, y, w, h;
  term_update_origin(t);
  w = std::max({cells * term_dialog_cell_w(t), 20 * term_dialog_cell_w(t), 176});
  h = press_key ? std::max(5 * term_dialog_cell_h(t), 72) : std::max(4 * term_dialog_cell_h(t), 60);
  term_center_dialog_box(t, w, h, &x, &y);
  int ch = term_dialog_cell_h(t);
  int bl = term_dialog_baseline(t);
  draw_beveled_box(t, x, y, x + w - 1, y + h - 1);
  centred_text(t, x, w, y + bl + 5, "Info", kBlue, kGrey);
  centred_text(t, x, w, y + 2 * ch + bl - 3, msg, kBlack, kGrey);
  if (press_key) centred_text(t, x, w, y + 3 * ch + bl + 3, "Press any key", kBlue, kGrey);
}

}  // namespace

void term_draw_transfer_notice(Terminal* t, const char* text) {
  draw_info_box(t, text, true);
}

void term_draw_transfer_note(Terminal* t, const char* text) {
  draw_info_box(t, text, false);
}

void term_show_transfer_notice(Terminal* t, const char* text) {
  if (!has_window(t)) return;
  term_hide_cursor(t);
  term_draw_transfer_notice(t, text);
  for (;;) {
    DialogKey k = next_key(t, -1);
    if (k.kind == kKeyRefresh) {
      refresh(t, [&] { term_draw_transfer_notice(t, text); });
      continue;
    }
    if (k.kind != kKeyNone) break;
  }
  close_dialog(t);
}
