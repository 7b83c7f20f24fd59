// The phonebook menu: the program's front door when it is started without a
// host.  It loads the phonebook, opens the menu display, and loops: draw the
// list, wait for a key, dispatch it (move, call, delete, sort, import, help,
// window mode, leave).  Without a display the same phonebook is offered
// through a line-oriented console dialogue.
//
// menu_loop is the whole thing.  The pieces below it are public so that the
// tests can drive one turn at a time with injected window events.
#pragma once
#include <cstdio>
#include <string>

#include "display/ui_surface.h"
#include "phonebook/phonebook.h"

struct SessionRequest;

// What a call from the menu runs: run_session_common's signature.
using MenuSessionFn = int (*)(const SessionRequest* req);

// Told when a phonebook file exists but could not be read to its end.
inline constexpr const char* kMenuMsgPartialLoad = kPhonebookMsgPartialLoad;

struct MenuState {
  Phonebook pb;
  std::string path;
  int selected;
  int offset;
  UiContext ui;
  int imported;
  int updated;
  int skipped;
  // The file exists but was read only in part (or not at all): saving would
  // drop what was not read, so every save is refused for this run.
  bool save_refused;
  MenuSessionFn call;  // run_session_common unless a test replaces it
};

// Runs the menu on the phonebook at path; returns 0.
int menu_loop(const char* path);

// Loads the phonebook (a missing file is an empty phonebook; a file that
// exists but cannot be read whole sets save_refused).
void menu_load(MenuState* m, const char* path);
// Opens the menu display; -1 when it cannot be opened (console instead).
// Tells the user when the phonebook was read only in part.
int menu_open_display(MenuState* m);
// Clamps the selection and the offset to the list.
void menu_clamp_view(MenuState* m);
// One turn: clamp, draw, wait at most a second, dispatch.  1 when the menu
// is to end.
int menu_turn(MenuState* m);
// Acts on one menu key code; 1 when the menu is to end.
int menu_dispatch(MenuState* m, int code);
// Closes the display and frees the phonebook.
void menu_finish(MenuState* m);

// Saves the phonebook unless saving is refused; 0 on success.
int menu_save(MenuState* m);
// Return on the selected entry: the call, the stamp, the messages.
void menu_call_selected(MenuState* m);
void menu_delete_selected(MenuState* m);
void menu_sort(MenuState* m);

// The console dialogue over in / out; returns 0.
int menu_console(MenuState* m, FILE* in, FILE* out);
