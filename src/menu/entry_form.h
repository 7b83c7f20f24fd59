// The entry editor: a full-screen form over the kavel_menu_edit_ans art in
// which one phonebook entry is changed field by field, on a copy.  Nothing
// reaches the phonebook until Save, which writes the whole file at once.
//
//   int at = 0;
//   if (ui_edit_entry(ui, pb, path, selected, &at)) selected = at;   // Alt+E
//   ui_add_entry(ui, pb, path, &selected);                            // Alt+A
//
// Focus numbers name the rows: 0 Name, 1 Address, 2 Port, 3 Type,
// 4 Software, 5 Username, 6 Password, 7 Call Count (shown only), 8 Favourite,
// 9 Note, 10 Terminal, 11 Save, 12 Cancel.
#pragma once
#include <cstddef>

#include "display/ui_surface.h"
#include "phonebook/phonebook.h"

enum : int {
  EDIT_FOCUS_NAME = 0,
  EDIT_FOCUS_ADDRESS = 1,
  EDIT_FOCUS_PORT = 2,
  EDIT_FOCUS_TYPE = 3,
  EDIT_FOCUS_SOFTWARE = 4,
  EDIT_FOCUS_USERNAME = 5,
  EDIT_FOCUS_PASSWORD = 6,
  EDIT_FOCUS_CALL_COUNT = 7,
  EDIT_FOCUS_FAVOURITE = 8,
  EDIT_FOCUS_NOTE = 9,
  EDIT_FOCUS_TERMINAL = 10,
  EDIT_FOCUS_SAVE = 11,
  EDIT_FOCUS_CANCEL = 12,
};

// Edits entry index.  1 when it was saved (*out_index then holds its
// position, which moves when the favourite flag changed), 0 otherwise
// (*out_index stays index).  0 at once for a missing phonebook or path or an
// index outside the list.
int ui_edit_entry(UiContext* ui, Phonebook* pb, const char* path, int index, int* out_index);
// Adds an entry through the form.  *out_index receives the new entry's
// position, or after a cancel the entry to select (-1 when nothing could be
// done).  1 when an entry was added and saved.
int ui_add_entry(UiContext* ui, Phonebook* pb, const char* path, int* out_index);

// Drawing: the whole form (full), or only the previous and the new focus.
void ui_draw_edit_entry_menu(UiContext* ui, const PhoneEntry* e, int focus, int previous_focus,
                             bool full);
void ui_draw_edit_entry_option_index(UiContext* ui, const PhoneEntry* e, int focus,
                                     bool highlighted);
void ui_draw_edit_entry_action_row(UiContext* ui, int focus);
// The type chooser on the Type row, showing choice (0..6).
void ui_draw_edit_entry_type_chooser(UiContext* ui, int choice);
// The width in cells of a row's column (33 or 38 in a normal window).
int ui_edit_entry_option_width(const UiContext* ui, int focus);
// Edits one text field of the working copy inline; 1 when accepted.
int ui_edit_entry_inline_text(UiContext* ui, PhoneEntry* e, int focus, char* field,
                              size_t capacity);

// Focus moves: the navigation order (Up/Down, Tab) and the partner in the
// other column (Left/Right; the focus itself when it has none).
int ui_edit_entry_next_focus(int focus);
int ui_edit_entry_previous_focus(int focus);
int ui_edit_entry_partner_focus(int focus);
// Left (right = false) or Right: the partner when it lies that way, else the
// focus itself (Left from a left-column row goes nowhere).
int ui_edit_entry_sideways_focus(int focus, bool right);

// The type chooser's starting row for a font name (0 "CP437" ... 6
// "C64 Low/Up [80]").
int ui_edit_entry_type_choice(const char* font);
inline constexpr int kEditTypeChoices = 7;
extern const char* const g_edit_form_type_choices[kEditTypeChoices];

// Writes a saved working copy over entry index and moves it when its
// favourite flag changed (a new favourite after the last favourite, a former
// one to the top of the rest); the entry's new position.
int ui_edit_entry_store(Phonebook* pb, int index, const PhoneEntry* copy);

inline constexpr const char* kEditMsgRequired = "Name and address are required.";
inline constexpr const char* kEditMsgSaveFailed = "Could not save phone book entry.";
inline constexpr const char* kEditMsgAddFailed = "Could not add phone book entry.";
