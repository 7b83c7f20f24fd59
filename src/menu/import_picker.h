// The SyncTERM list import window (Alt+I in the menu): a popup listing the
// ".lst" files of ~/.syncterm, $XDG_CONFIG_HOME/syncterm and the program's
// directory together (import_list_dirs); Return imports the chosen one into
// the phonebook and shows the summary.
#pragma once

#include "display/ui_surface.h"

struct Phonebook;
struct ImportFileList;

// One drawing of the picker: the box, title, prompt, an optional message in
// red, and up to six names from first_visible with the selection on a bar,
// each with the directory it came from when the list has several.  Without
// names, where they were looked for.
void ui_draw_import_picker(UiContext* ui, const ImportFileList* list, int selected,
                           int first_visible, const char* message);

// Runs the picker and the import.  pb_path null refuses to save (the
// summary then says the phonebook could not be saved).  Returns 0, or -1
// when a display-mode change inside the picker failed and the menu must end.
int ui_import_syncterm_list(UiContext* ui, Phonebook* pb, const char* pb_path, int* imported,
                            int* updated, int* skipped);
// The same over the ".lst" files of a given directory (tests).
int ui_import_syncterm_list_in(UiContext* ui, const char* dir, Phonebook* pb, const char* pb_path,
                               int* imported, int* updated, int* skipped);
