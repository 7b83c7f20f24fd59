// The entry editor form over the kavel_menu_edit_ans art.
#include "menu/entry_form.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "assets/embedded.h"
#include "menu/entry_list.h"
#include "menu/line_edit.h"
#include "menu/popups.h"
#include "menu/ui_draw.h"
#include "menu/ui_input.h"
#include "phonebook/text_fields.h"
#include "platform/dos.h"
#include "util/charset.h"
#include "util/font_names.h"
#include "util/text.h"

const char* const g_edit_form_type_choices[kEditTypeChoices] = {
    kFontCP437,      kFontTopaz1200,  kFontTopazAmiga, kFontC64UpGfx40,
    kFontC64LowUp40, kFontC64UpGfx80, kFontC64LowUp80,
};

namespace {

constexpr int kGreen = 2;
constexpr int kCyan = 3;
constexpr int kLightGreen = 10;
constexpr int kButtonRow = 22;
constexpr int kLabelCells = 10;
constexpr int kValueOffset = 11;
constexpr const char* kTitle = "Kavel";

struct RowSpec {
  const char* label;
  bool right;  // in the right-hand column
  int row;
};
constexpr RowSpec kRows[] = {
    {"Name", false, 13},    {"Address", false, 14},   {"Port", false, 15},
    {"Type", false, 16},    {"Software", true, 15},   {"Username", true, 13},
    {"Password", true, 14}, {"Call Count", true, 18}, {"Favourite", true, 16},
    {"Note", true, 17},     {"Terminal", false, 17},
};

// Up/Down and Tab walk this order; Left/Right go to the partner.
constexpr int kOrder[] = {0, 1, 2, 3, 10, 5, 6, 4, 8, 9, 11, 12};
constexpr int kOrderLen = static_cast<int>(sizeof kOrder / sizeof kOrder[0]);
constexpr int kPartners[][2] = {{0, 5}, {1, 6}, {2, 4}, {3, 8}, {10, 9}, {11, 12}};

// The drawing order of the field rows in a full draw.
constexpr int kDrawOrder[] = {0, 1, 2, 3, 5, 6, 4, 7, 10, 8, 9};

int clamp_focus(int focus) {
  return focus < 0 ? 0 : (focus > EDIT_FOCUS_CANCEL ? EDIT_FOCUS_CANCEL : focus);
}

bool is_button(int focus) {
  return focus == EDIT_FOCUS_SAVE || focus == EDIT_FOCUS_CANCEL;
}

int column_start(const UiContext* ui, bool right) {
  bool medium = ui->medium_window != 0;
  bool both = medium && ui->fullscreen;
  if (right) return medium ? 39 : 38;
  return both ? 3 : (medium ? 5 : 2);
}

int button_column(const UiContext* ui, int focus) {
  int shift = ui->medium_window ? 1 : 0;
  return (focus == EDIT_FOCUS_SAVE ? 2 : 10) + shift;
}

// The cells a value is shown in: the row less its label, at most max.
int value_cells(const UiContext* ui, int focus, int max) {
  int w = ui_edit_entry_option_width(ui, focus) - kValueOffset;
  return w < 1 ? 1 : (w > max ? max : w);
}

// A text cut to at most n bytes.
void cut(char* out, size_t cap, const char* text, int n) {
  snprintf(out, cap, "%.*s", n, text ? text : "");
}

// The value a row shows and its colour.
void field_value(const PhoneEntry* e, int focus, char* out, size_t cap, int* colour) {
  *colour = UI_WHITE;
  switch (focus) {
    case EDIT_FOCUS_NAME:
      safe_copy(out, cap, e->name);
      break;
    case EDIT_FOCUS_ADDRESS:
      // A host name: the resolver's UTF-8, shown in the screen's CP437.
      safe_copy(out, cap, utf8_to_charset_text(CHARSET_CP437, e->address).c_str());
      break;
    case EDIT_FOCUS_PORT:
      snprintf(out, cap, "%d", e->port < 1 ? kPhonebookDefaultPort : e->port);
      break;
    case EDIT_FOCUS_TYPE:
      safe_copy(out, cap, display_font_name(e->font));
      break;
    case EDIT_FOCUS_SOFTWARE:
      safe_copy(out, cap, e->software);
      break;
    case EDIT_FOCUS_USERNAME:
      safe_copy(out, cap, e->username);
      break;
    case EDIT_FOCUS_PASSWORD:
      safe_copy(out, cap, e->password[0] ? "<set>" : "");
      if (e->password[0]) *colour = UI_DARK_GREY;
      break;
    case EDIT_FOCUS_CALL_COUNT:
      snprintf(out, cap, "%lu", static_cast<unsigned long>(e->call_count));
      *colour = kCyan;
      break;
    case EDIT_FOCUS_FAVOURITE:
      safe_copy(out, cap, e->favourite ? "Yes" : "No");
      break;
    case EDIT_FOCUS_NOTE:
      safe_copy(out, cap, e->note);
      break;
    case EDIT_FOCUS_TERMINAL:
      safe_copy(out, cap, e->terminal == kTerminalPetscii ? "PETSCII" : "ANSI");
      break;
    default:
      safe_copy(out, cap, "");
      break;
  }
}

// The row's cells in bg with the label.
void draw_label(UiContext* ui, int focus, int bg) {
  const RowSpec& r = kRows[focus];
  char label[16];
  snprintf(label, sizeof label, "%-*.*s", kLabelCells, kLabelCells, r.label);
  ui_text_bg_cell(ui, r.row, column_start(ui, r.right), ui_edit_entry_option_width(ui, focus),
                  label, UI_WHITE, bg);
}

void draw_full(UiContext* ui, const PhoneEntry* e, int focus) {
  if (!ui_draw_ansi_buffer(ui, kavel_menu_edit_ans, kavel_menu_edit_ans_len)) {
    ui_clear_drawable_area_raw(ui);
    ui_text(ui, 1, "Edit Mode", UI_LIGHT_CYAN);
  }
  ui_draw_main_menu_time(ui);
  for (int row = 13; row <= 18; row++) {
    ui_text_bg_cell(ui, row, column_start(ui, false), ui_edit_entry_option_width(ui, 0), "",
                    UI_WHITE, UI_BLACK);
    ui_text_bg_cell(ui, row, column_start(ui, true), ui_edit_entry_option_width(ui, 5), "",
                    UI_WHITE, UI_BLACK);
  }
  int shown = focus < 1 ? 0 : focus;
  for (int f : kDrawOrder) ui_draw_edit_entry_option_index(ui, e, f, f == shown);
  ui_draw_edit_entry_action_row(ui, focus);
}

// --------------------------------------------------------------- inline text --

struct InlineCtx {
  PhoneEntry* e;
  int focus;
};

void draw_inline_row(UiContext* ui, const UiLineEdit* ed, bool blink, void* p) {
  auto* c = static_cast<InlineCtx*>(p);
  const RowSpec& r = kRows[c->focus];
  draw_label(ui, c->focus, kGreen);
  int width = value_cells(ui, c->focus, 95);
  int cursor = 0;
  std::string cells = ui_line_edit_cells(ed, &cursor);
  int first = ui_line_edit_first_visible(ed, width);
  std::string shown = cells.substr(static_cast<size_t>(first), static_cast<size_t>(width));
  int col = column_start(ui, r.right) + kValueOffset;
  ui_text_bg_cell(ui, r.row, col, width, shown.c_str(), UI_WHITE, kGreen);
  if (blink) ui_underscore_cursor_cell(ui, r.row, col + cursor - first);
}

void redraw_inline_form(UiContext* ui, void* p) {
  auto* c = static_cast<InlineCtx*>(p);
  draw_full(ui, c->e, c->focus);
}

// ---------------------------------------------------------------- type chooser --

}  // namespace

void ui_draw_edit_entry_type_chooser(UiContext* ui, int choice) {
  if (!ui || choice < 0 || choice >= kEditTypeChoices) return;
  const RowSpec& r = kRows[EDIT_FOCUS_TYPE];
  draw_label(ui, EDIT_FOCUS_TYPE, kGreen);
  int col = column_start(ui, false) + kValueOffset;
  int width = value_cells(ui, EDIT_FOCUS_TYPE, 63);
  int shown_cells = width - 4 < 1 ? 1 : width - 4;
  char label[kFontNameBytes];
  cut(label, sizeof label, display_font_name(g_edit_form_type_choices[choice]), shown_cells);
  ui_text_bg_cell(ui, r.row, col - 1, 1, "\x11", UI_YELLOW, kGreen);
  ui_text_bg_cell(ui, r.row, col, static_cast<int>(strlen(label)), label, UI_WHITE, kGreen);
  int after = static_cast<int>(strlen(label));
  if (after < width) ui_text_bg_cell(ui, r.row, col + after, 1, "\x10", UI_YELLOW, kGreen);
}

namespace {

// 1 when a choice was taken into the copy, 0 when left unchanged, -1 when
// the display failed.
int run_type_chooser(UiContext* ui, PhoneEntry* e) {
  int choice = ui_edit_entry_type_choice(e->font);
  UiChooserView view{
      kEditTypeChoices,
      true,
      true,
      [](UiContext* u, int c, void*) { ui_draw_edit_entry_type_chooser(u, c); },
      [](UiContext* u, void* ctx) { draw_full(u, static_cast<PhoneEntry*>(ctx), EDIT_FOCUS_TYPE); },
      e};
  int r = ui_chooser_run(ui, &choice, view);
  if (r != 1) return r;
  normalize_font_choice(g_edit_form_type_choices[choice], e->font);
  e->terminal = font_name_looks_c64(e->font) ? kTerminalPetscii : kTerminalAnsi;
  return 1;
}

// ------------------------------------------------------------------- saving --

// Whether the working copy differs from the entry in any field the form
// changes (the bytes after a text's terminator do not count).
bool entry_changed(const PhoneEntry& a, const PhoneEntry& b) {
  return strcmp(a.name, b.name) != 0 || strcmp(a.address, b.address) != 0 || a.port != b.port ||
         a.terminal != b.terminal || strcmp(a.font, b.font) != 0 ||
         strcmp(a.username, b.username) != 0 || strcmp(a.password, b.password) != 0 ||
         strcmp(a.software, b.software) != 0 || a.favourite != b.favourite ||
         strcmp(a.note, b.note) != 0;
}

// The file's reader trims every text field but the password: the copy is
// trimmed the same way before it is stored, so that what the menu shows
// and compares is what the file gives back.
void trim_like_the_file(PhoneEntry* e) {
  trim(e->name);
  trim(e->address);
  trim(e->font);
  trim(e->username);
  trim(e->software);
  trim(e->note);
}

void show_saved(UiContext* ui) {
  int col = ui->medium_window ? 3 : 2;
  ui_text_bg_cell(ui, kButtonRow, col, 8, " Saved! ", UI_WHITE, kGreen);
  if (g_ui_saved_feedback_ticks > 0) dos_delay(g_ui_saved_feedback_ticks);
}

enum SaveOutcome { kSaveKeepEditing, kSaveDone, kSaveFailed };

SaveOutcome save_copy(UiContext* ui, Phonebook* pb, const char* path, int index, PhoneEntry* copy,
                      int* out_index) {
  trim_like_the_file(copy);
  if (!copy->name[0] || !copy->address[0]) {
    ui_message(ui, kEditMsgRequired);
    ui_invalidate_menu_caches();
    return kSaveKeepEditing;
  }
  if (copy->terminal == 0) copy->terminal = kTerminalAnsi;
  *out_index = ui_edit_entry_store(pb, index, copy);
  int rc = phonebook_save(pb, path);
  if (rc != 0) {
    ui_message(ui, rc == kSaveReadOnly ? phonebook_save_message(rc) : kEditMsgSaveFailed);
    ui_invalidate_menu_caches();
    return kSaveFailed;
  }
  show_saved(ui);
  ui_invalidate_menu_caches();
  return kSaveDone;
}

// Return on a row: its action.  kSaveDone / kSaveFailed end the editor.
enum RowResult { kRowStay, kRowRedrawAll, kRowEnd, kRowEndSaved, kRowDisplayFailed };

RowResult act_on_row(UiContext* ui, Phonebook* pb, const char* path, int index, PhoneEntry* copy,
                     int focus, int* out_index) {
  int r = 0;
  switch (focus) {
    case EDIT_FOCUS_NAME:
      r = ui_edit_entry_inline_text(ui, copy, focus, copy->name, sizeof copy->name);
      break;
    case EDIT_FOCUS_ADDRESS:
      r = ui_edit_entry_inline_text(ui, copy, focus, copy->address, sizeof copy->address);
      break;
    case EDIT_FOCUS_PORT: {
      char port[32];
      snprintf(port, sizeof port, "%d", copy->port < 1 ? kPhonebookDefaultPort : copy->port);
      r = ui_edit_entry_inline_text(ui, copy, focus, port, sizeof port);
      if (r == 1) {
        trim(port);
        copy->port = pb_parse_port(port);
      }
      break;
    }
    case EDIT_FOCUS_TYPE:
      r = run_type_chooser(ui, copy);
      if (r < 0) return kRowDisplayFailed;
      // The Terminal row follows the chooser.
      ui_draw_edit_entry_option_index(ui, copy, EDIT_FOCUS_TERMINAL, false);
      break;
    case EDIT_FOCUS_SOFTWARE:
      r = ui_edit_entry_inline_text(ui, copy, focus, copy->software, sizeof copy->software);
      break;
    case EDIT_FOCUS_USERNAME:
      r = ui_edit_entry_inline_text(ui, copy, focus, copy->username, sizeof copy->username);
      break;
    case EDIT_FOCUS_PASSWORD:
      r = ui_edit_entry_inline_text(ui, copy, focus, copy->password, sizeof copy->password);
      break;
    case EDIT_FOCUS_FAVOURITE:
      copy->favourite = copy->favourite ? 0 : 1;
      break;
    case EDIT_FOCUS_NOTE:
      r = ui_edit_entry_inline_text(ui, copy, focus, copy->note, sizeof copy->note);
      break;
    case EDIT_FOCUS_TERMINAL:
      copy->terminal = copy->terminal == kTerminalPetscii ? kTerminalAnsi : kTerminalPetscii;
      break;
    case EDIT_FOCUS_SAVE:
      switch (save_copy(ui, pb, path, index, copy, out_index)) {
        case kSaveDone:
          return kRowEndSaved;
        case kSaveFailed:
          return kRowEnd;
        default:
          return kRowRedrawAll;
      }
    case EDIT_FOCUS_CANCEL:
      ui_invalidate_menu_caches();
      return kRowEnd;
    default:
      break;
  }
  if (r < 0) return kRowDisplayFailed;
  if (ui->close_requested) return kRowEnd;
  return kRowStay;
}

}  // namespace

// ------------------------------------------------------------------ public --

int ui_edit_entry_option_width(const UiContext* ui, int focus) {
  if (focus < 0 || focus > EDIT_FOCUS_TERMINAL) return 0;
  bool medium = ui->medium_window != 0;
  bool both = medium && ui->fullscreen;
  if (kRows[focus].right) return medium && !both ? 37 : 38;
  return medium && !both ? 30 : 33;
}

int ui_edit_entry_next_focus(int focus) {
  for (int i = 0; i + 1 < kOrderLen; i++)
    if (kOrder[i] == focus) return kOrder[i + 1];
  return focus == kOrder[kOrderLen - 1] ? focus : EDIT_FOCUS_NAME;
}

int ui_edit_entry_previous_focus(int focus) {
  for (int i = 1; i < kOrderLen; i++)
    if (kOrder[i] == focus) return kOrder[i - 1];
  return EDIT_FOCUS_NAME;
}

int ui_edit_entry_partner_focus(int focus) {
  for (const auto& p : kPartners) {
    if (p[0] == focus) return p[1];
    if (p[1] == focus) return p[0];
  }
  return focus;
}

int ui_edit_entry_sideways_focus(int focus, bool right) {
  // Each pair is (left column, right column): a key toward the column the
  // focus is already in goes nowhere.
  for (const auto& p : kPartners) {
    if (p[0] == focus) return right ? p[1] : focus;
    if (p[1] == focus) return right ? focus : p[0];
  }
  return focus;
}

int ui_edit_entry_type_choice(const char* font) {
  char name[kFontNameBytes];
  normalize_font_choice(font && *font ? font : kFontCP437, name);
  bool lower = font_name_looks_c64_lower_font_local(name);
  bool wide = c64_font_uses_80_columns(name);
  if (lower && wide) return 6;
  if (font_name_looks_c64_upper_font_local(name) || font_name_contains(name, "c64") ||
      font_name_contains(name, "commodore")) {
    if (wide) return 5;
    return lower ? 4 : 3;
  }
  if (lower) return 4;
  if (font_name_looks_topaz_amiga_font(name)) return 2;
  if (font_name_looks_topaz_1200_font(name)) return 1;
  return 0;
}

void ui_draw_edit_entry_action_row(UiContext* ui, int focus) {
  bool save = focus == EDIT_FOCUS_SAVE;
  bool cancel = focus == EDIT_FOCUS_CANCEL;
  ui_text_bg_cell(ui, kButtonRow, button_column(ui, EDIT_FOCUS_SAVE), 6, " Save",
                  save ? UI_WHITE : kLightGreen, save ? UI_BLUE : UI_BLACK);
  ui_text_bg_cell(ui, kButtonRow, button_column(ui, EDIT_FOCUS_CANCEL), 8, " Cancel", UI_WHITE,
                  cancel ? UI_BLUE : UI_BLACK);
}

void ui_draw_edit_entry_option_index(UiContext* ui, const PhoneEntry* e, int focus,
                                     bool highlighted) {
  if (!ui || !e) return;
  if (is_button(focus)) {
    ui_draw_edit_entry_action_row(ui, highlighted ? focus : -1);
    return;
  }
  if (focus < 0 || focus > EDIT_FOCUS_TERMINAL) return;
  int bg = highlighted ? UI_BLUE : UI_BLACK;
  draw_label(ui, focus, bg);
  char value[kUiLineEditBytes];
  int colour = UI_WHITE;
  field_value(e, focus, value, sizeof value, &colour);
  int width = value_cells(ui, focus, 63);
  char shown[kUiLineEditBytes];
  cut(shown, sizeof shown, value, width);
  const RowSpec& r = kRows[focus];
  ui_text_bg_cell(ui, r.row, column_start(ui, r.right) + kValueOffset, width, shown, colour, bg);
}

void ui_draw_edit_entry_menu(UiContext* ui, const PhoneEntry* e, int focus, int previous_focus,
                             bool full) {
  if (!ui || !e) return;
  focus = clamp_focus(focus);
  if (full || previous_focus < 0) {
    draw_full(ui, e, focus);
    return;
  }
  previous_focus = clamp_focus(previous_focus);
  if (is_button(previous_focus) || is_button(focus)) ui_draw_edit_entry_action_row(ui, focus);
  if (!is_button(previous_focus)) ui_draw_edit_entry_option_index(ui, e, previous_focus, false);
  if (!is_button(focus)) ui_draw_edit_entry_option_index(ui, e, focus, true);
}

int ui_edit_entry_inline_text(UiContext* ui, PhoneEntry* e, int focus, char* field,
                              size_t capacity) {
  if (!ui || !e || !field || focus < 0 || focus > EDIT_FOCUS_TERMINAL) return 0;
  UiLineEdit ed;
  // The address is a host name, which the resolver takes as UTF-8; the other
  // fields keep the screen's CP437, as the phonebook has always held them.
  if (focus == EDIT_FOCUS_ADDRESS) {
    ui_line_edit_start_utf8(&ed, field, capacity);
  } else {
    ui_line_edit_start(&ed, field, capacity);
  }
  ed.masked = focus == EDIT_FOCUS_PASSWORD;
  InlineCtx ctx{e, focus};
  int r = ui_inline_edit_run(ui, &ed, UiInlineEditView{draw_inline_row, redraw_inline_form, &ctx});
  if (r == 1) safe_copy(field, capacity, ed.text);
  if (r >= 0) ui_draw_edit_entry_option_index(ui, e, focus, true);
  return r;
}

int ui_edit_entry_store(Phonebook* pb, int index, const PhoneEntry* copy) {
  bool was_favourite = pb->entries[index].favourite != 0;
  bool is_favourite = copy->favourite > 0;
  pb->entries[index] = *copy;
  if (was_favourite == is_favourite) return index;
  PhoneEntry moved = pb->entries[index];
  phonebook_remove(pb, index);
  int at = static_cast<int>(pb->count);
  for (int i = 0; i < static_cast<int>(pb->count); i++) {
    if (!pb->entries[i].favourite) {
      at = i;
      break;
    }
  }
  // The array still has the room the entry left.
  memmove(&pb->entries[at + 1], &pb->entries[at],
          (pb->count - static_cast<uint32_t>(at)) * sizeof(PhoneEntry));
  pb->entries[at] = moved;
  pb->count++;
  return at;
}

int ui_edit_entry(UiContext* ui, Phonebook* pb, const char* path, int index, int* out_index) {
  if (out_index) *out_index = index;
  if (!ui || !pb || !path || !*path || index < 0 || index >= static_cast<int>(pb->count)) return 0;
  int ignored = index;
  if (!out_index) out_index = &ignored;
  PhoneEntry copy = pb->entries[index];
  int focus = EDIT_FOCUS_NAME;
  ui_draw_edit_entry_menu(ui, &copy, focus, -1, true);
  for (;;) {
    int code = ui_wait_key(ui);
    if (code < 0) {
      ui_invalidate_menu_caches();
      return 0;
    }
    int previous = focus;
    bool full = false;
    if (code == 27) {
      // Escape drops the working copy: changes are not thrown away without
      // a word (NO keeps editing).
      if (!entry_changed(copy, pb->entries[index]) || ui_confirm(ui, "Discard changes?")) {
        ui_invalidate_menu_caches();
        return 0;
      }
      if (ui->close_requested) return 0;
      ui_invalidate_menu_caches();
      ui_draw_edit_entry_menu(ui, &copy, focus, -1, true);
      continue;
    }
    switch (code) {
      case MENU_KEY_REDRAW:
        ui_invalidate_menu_caches();
        full = true;
        break;
      case MENU_KEY_ALT_RETURN:
        if (ui_reopen_for_fullscreen(ui, kTitle) != 0) {
          ui->close_requested = 1;
          return 0;
        }
        ui_invalidate_menu_caches();
        full = true;
        break;
      case MENU_KEY_UP:
      case MENU_KEY_SHIFT_TAB:
      case 'K':
      case 'k':
        focus = ui_edit_entry_previous_focus(focus);
        break;
      case MENU_KEY_DOWN:
      case 9:
      case 'J':
      case 'j':
        focus = ui_edit_entry_next_focus(focus);
        break;
      case MENU_KEY_LEFT:
      case MENU_KEY_RIGHT:
        focus = ui_edit_entry_sideways_focus(focus, code == MENU_KEY_RIGHT);
        break;
      case MENU_KEY_HOME:
        focus = EDIT_FOCUS_NAME;
        break;
      case MENU_KEY_END:
        focus = EDIT_FOCUS_CANCEL;
        break;
      case MENU_KEY_ALT_S:
      case 13: {
        int row = code == MENU_KEY_ALT_S ? EDIT_FOCUS_SAVE : focus;
        switch (act_on_row(ui, pb, path, index, &copy, row, out_index)) {
          case kRowEndSaved:
            return 1;
          case kRowEnd:
          case kRowDisplayFailed:
            ui_invalidate_menu_caches();
            return 0;
          case kRowRedrawAll:
            full = true;
            break;
          case kRowStay:
            break;
        }
        break;
      }
      default:
        continue;
    }
    ui_draw_edit_entry_menu(ui, &copy, focus, previous, full);
  }
}

int ui_add_entry(UiContext* ui, Phonebook* pb, const char* path, int* out_index) {
  int ignored = -1;
  if (!out_index) out_index = &ignored;
  *out_index = -1;
  if (!pb || !path || !*path) return 0;
  PhoneEntry fresh{};
  fresh.port = kPhonebookDefaultPort;
  normalize_font_choice(kFontCP437, fresh.font);
  fresh.terminal = kTerminalAnsi;
  if (phonebook_append(pb, &fresh) != 0) {
    ui_message(ui, kEditMsgAddFailed);
    ui_invalidate_menu_caches();
    return 0;
  }
  int last = static_cast<int>(pb->count) - 1;
  int at = last;
  if (ui_edit_entry(ui, pb, path, last, &at)) {
    *out_index = at;
    return 1;
  }
  // Not saved: the provisional entry goes again, wherever the editor left it.
  int pos = at >= 0 && at < static_cast<int>(pb->count) ? at : static_cast<int>(pb->count) - 1;
  phonebook_remove(pb, pos);
  int count = static_cast<int>(pb->count);
  *out_index = count == 0 ? 0 : (pos < count ? pos : count - 1);
  return 0;
}
