// The phonebook menu's controller: start, the main loop and its dispatch,
// calling an entry, delete and sort.
#include "app/menu.h"

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>

#include "dial/dialing.h"
#include "display/modes.h"
#include "link/connect.h"
#include "menu/entry_form.h"
#include "menu/entry_list.h"
#include "menu/import_picker.h"
#include "menu/popups.h"
#include "menu/settings_form.h"
#include "menu/ui_draw.h"
#include "menu/ui_input.h"
#include "platform/dos.h"
#include "session/session_loop.h"
#include "util/font_names.h"

namespace {

constexpr const char* kTitle = "Kavel";

int count_of(const MenuState* m) {
  return static_cast<int>(m->pb.count);
}

// Tells the user about a failed save of the phonebook (read-only or not).
void say_save_failed(MenuState* m, int rc, const char* fallback) {
  const char* text = rc == kSaveReadOnly ? phonebook_save_message(rc) : fallback;
  if (rc != 0) ui_message(&m->ui, text ? text : fallback);
}

// Every change to the list is saved at once.  After a partly read file the
// save is refused: the forms are not opened and Delete, Sort and Import
// change nothing, so that nothing the user does seems to take and is then
// lost; the note says why.
bool changes_refused(MenuState* m) {
  if (!m->save_refused) return false;
  ui_message(&m->ui, kMenuMsgPartialLoad);
  ui_invalidate_menu_caches();
  return true;
}

}  // namespace

// ------------------------------------------------------------------- start --

void menu_load(MenuState* m, const char* path) {
  m->path = path ? path : phonebook_default_path();
  m->selected = 0;
  m->offset = 0;
  m->save_refused = false;
  if (!m->call) m->call = run_session_common;
  int r = phonebook_load(&m->pb, m->path.c_str());
  // A file that is not there is a new, empty phonebook.  One that is there
  // but could not be read to its end (a read error, memory, a directory, no
  // permission) must not be replaced by what was read of it.
  struct stat st;
  if (r != 0 && stat(m->path.c_str(), &st) == 0) m->save_refused = true;
}

int menu_open_display(MenuState* m) {
  m->ui = UiContext{};
  ui_invalidate_menu_caches();
  if (ui_open_menu(&m->ui, kTitle) != 0) return -1;
  if (m->save_refused && !m->ui.close_requested) ui_message(&m->ui, kMenuMsgPartialLoad);
  return 0;
}

void menu_finish(MenuState* m) {
  ui_close(&m->ui);
  phonebook_free(&m->pb);
}

int menu_save(MenuState* m) {
  if (m->save_refused) return -1;
  return phonebook_save(&m->pb, m->path.c_str());
}

// -------------------------------------------------------------- the loop --

void menu_clamp_view(MenuState* m) {
  int count = count_of(m);
  if (count == 0) {
    m->selected = 0;
    m->offset = 0;
    return;
  }
  if (m->selected < 0) m->selected = 0;
  if (m->selected >= count) m->selected = count - 1;
  if (m->offset > m->selected) m->offset = m->selected;
  if (m->offset + kMenuListRows <= m->selected) m->offset = m->selected - (kMenuListRows - 1);
  if (m->offset < 0) m->offset = 0;
}

int menu_turn(MenuState* m) {
  menu_clamp_view(m);
  ui_draw_entry_list(&m->ui, &m->pb, m->selected, m->offset);
  g_main_menu_time_active = 1;
  int code = ui_wait_key_timeout(&m->ui, 1, 0);
  g_main_menu_time_active = 0;
  return menu_dispatch(m, code);
}

int menu_dispatch(MenuState* m, int code) {
  int count = count_of(m);
  if (code < 0) return 1;
  switch (code) {
    case MENU_KEY_REDRAW:
      ui_invalidate_menu_caches();
      break;
    case MENU_KEY_TICK:
      g_main_menu_time_active = 1;
      ui_draw_main_menu_time(&m->ui);
      g_main_menu_time_active = 0;
      break;
    case MENU_KEY_ALT_RETURN:
      if (ui_reopen_for_fullscreen(&m->ui, kTitle) != 0) return 1;
      break;
    case MENU_KEY_ALT_T:
      if (m->ui.fullscreen) ui_toggle_menu_top_bar(&m->ui);
      break;
    case MENU_KEY_ALT_X:
      if (ui_confirm(&m->ui, "Exit Kavel?")) return 1;
      ui_invalidate_menu_caches();
      break;
    case MENU_KEY_UP:
    case 'K':
    case 'k':
      if (m->selected >= 1) m->selected--;
      break;
    case MENU_KEY_DOWN:
    case 'J':
    case 'j':
      if (count > 0 && m->selected + 1 < count) m->selected++;
      break;
    case MENU_KEY_LEFT:
    case MENU_KEY_PAGE_UP:
      m->selected = m->selected - kMenuListRows < 0 ? 0 : m->selected - kMenuListRows;
      break;
    case MENU_KEY_RIGHT:
    case MENU_KEY_PAGE_DOWN:
      m->selected += kMenuListRows;
      if (count > 0 && m->selected >= count) m->selected = count - 1;
      break;
    case MENU_KEY_HOME:
      m->selected = 0;
      m->offset = 0;
      break;
    case MENU_KEY_END:
      if (count > 0) m->selected = count - 1;
      break;
    case 13:
    case 10:
      menu_call_selected(m);
      break;
    case MENU_KEY_ALT_Z:
      if (m->ui.window) ui_show_help_screen(&m->ui, dos_absolute_path(m->path.c_str()).c_str());
      if (m->ui.close_requested) return 1;
      break;
    case MENU_KEY_ALT_I:
      if (changes_refused(m)) break;
      if (ui_import_syncterm_list(&m->ui, &m->pb, m->path.c_str(), &m->imported, &m->updated,
                                  &m->skipped) != 0)
        return 1;
      if (count_of(m) > 0 && m->selected >= count_of(m)) m->selected = count_of(m) - 1;
      ui_invalidate_menu_caches();
      break;
    case MENU_KEY_ALT_G:
      if (ui_global_settings_form(&m->ui) != 0) return 1;
      break;
    case MENU_KEY_ALT_S:
      menu_sort(m);
      ui_invalidate_menu_caches();
      break;
    case MENU_KEY_ALT_E:
      if (count > 0 && !changes_refused(m)) {
        // The entry's position after the editor, also when its save failed:
        // a changed favourite flag has moved it in the list either way.
        int at = m->selected;
        ui_edit_entry(&m->ui, &m->pb, m->path.c_str(), m->selected, &at);
        m->selected = at;
      }
      break;
    case MENU_KEY_ALT_A:
      if (!changes_refused(m)) {
        int at = -1;
        ui_add_entry(&m->ui, &m->pb, m->path.c_str(), &at);
        if (at >= 0) m->selected = at;
      }
      break;
    case 127:
      if (count > 0) menu_delete_selected(m);
      break;
    default:
      break;
  }
  return m->ui.close_requested ? 1 : 0;
}

// ---------------------------------------------------------------- actions --

void menu_call_selected(MenuState* m) {
  if (count_of(m) == 0) return;
  int index = m->selected < 0 ? 0 : m->selected;
  if (index >= count_of(m)) index = count_of(m) - 1;
  PhoneEntry called = m->pb.entries[index];
  const char* font = called.font[0] ? called.font : kFontCP437;
  // The in-session phonebook saves to the path it is given: none while
  // saving is refused.
  const char* path = m->save_refused ? nullptr : m->path.c_str();
  const SessionRequest req{.host = called.address,
                           .port = called.port,
                           .emulation = called.terminal,
                           .font = font,
                           .login_user = called.username,
                           .login_password = called.password,
                           .entry = &called,
                           .ui = &m->ui,
                           .phonebook = &m->pb,
                           .phonebook_path = path,
                           .selected_index = &m->selected,
                           .first_visible_index = &m->offset};
  int r = m->call(&req);
  if (r == 0) {
    // The in-session phonebook may have edited, sorted or deleted entries:
    // find the one that was called.  When it is gone nothing is stamped; an
    // entry that merely sits at the old index is another BBS.
    int found = phonebook_find_entry_identity(&m->pb, &called);
    if (found < 0) {
      ui_message(&m->ui, "Could not find dialed entry to update last call.");
    } else if (m->save_refused || phoneentry_mark_last_call(&m->pb, m->path.c_str(), found) != 0) {
      ui_message(&m->ui, "Could not update last call date.");
    }
  } else if (r != -2) {
    // Why, on a line of its own: a desktop user sees no standard error.
    ui_clear_connecting_status(&m->ui);
    ui_popup_timed(&m->ui, connection_reason());
  }
  ui_invalidate_menu_caches();
}

void menu_delete_selected(MenuState* m) {
  if (changes_refused(m)) return;
  if (!ui_confirm(&m->ui, "Delete entry?")) {
    ui_invalidate_menu_caches();
    return;
  }
  phonebook_remove(&m->pb, m->selected);
  say_save_failed(m, menu_save(m), kPhonebookMsgSaveFailed);
  int count = count_of(m);
  if (count > 0) {
    if (m->selected >= count) m->selected = count - 1;
    if (m->selected < 0) m->selected = 0;
  }
  ui_invalidate_menu_caches();
}

void menu_sort(MenuState* m) {
  if (count_of(m) == 0 || changes_refused(m)) return;
  int mode = ui_choose_sort_mode(&m->ui);
  if (mode < 0) return;
  int index = m->selected < 0 ? 0 : m->selected;
  if (index >= count_of(m)) index = count_of(m) - 1;
  m->selected = phonebook_sort_following(&m->pb, mode != 0, index);
  say_save_failed(m, menu_save(m), "Could not save sorted phone book.");
  m->offset = m->selected > kMenuListRows - 1 ? m->selected - (kMenuListRows - 1) : 0;
}

// -------------------------------------------------------------- menu_loop --

int menu_loop(const char* path) {
  MenuState m{};
  menu_load(&m, path);
  if (menu_open_display(&m) != 0) {
    menu_console(&m, stdin, stdout);
    phonebook_free(&m.pb);
    return 0;
  }
  while (!m.ui.close_requested) {
    if (menu_turn(&m)) break;
  }
  menu_finish(&m);
  return 0;
}
