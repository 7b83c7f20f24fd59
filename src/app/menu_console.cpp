// The console dialogue: the phonebook menu on standard input and output, for
// when the menu display cannot be opened (no display).
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/cli.h"
#include "app/menu.h"
#include "phonebook/prefs.h"
#include "platform/dos.h"
#include "session/session_loop.h"
#include "util/address.h"
#include "util/font_names.h"
#include "util/text.h"

namespace {

// The Port column: the port the call uses, for every kind of connection
// (ssh://host in an entry with the usual Port 23 goes to 22).
int console_call_port(const char* address, int port) {
  char host[256];
  int call_port = port;
  const char* kind = cli_entry_link_kind(address, port, host, sizeof host, &call_port);
  return kind[0] ? call_port : address_port(address, port);
}

constexpr const char* kCommandPrompt =
    "\nEnter entry number to call, A add, E type, D delete, P paths, S sort, Q quit: ";
constexpr const char* kTypeChoices =
    "CP437, Topaz (1200), Topaz (Amiga), C64 Up/GFX [40], C64 Low/Up [40], C64 Up/GFX [80], "
    "C64 Low/Up [80]";

struct Console {
  MenuState* m;
  FILE* in;
  FILE* out;
};

// Prints the prompt and reads one answer of at most cap - 1 bytes, trimmed.
// The whole line is consumed, so a long answer never spills into the next
// question.  false at end of input (the answer is then empty).
bool read_line_prompt(Console* c, const char* prompt, char* buf, size_t cap) {
  fputs(prompt, c->out);
  fflush(c->out);
  buf[0] = '\0';
  std::string line;
  int ch;
  bool any = false;
  while ((ch = fgetc(c->in)) != EOF) {
    any = true;
    if (ch == '\n') break;
    line.push_back(static_cast<char>(ch));
  }
  if (!any) return false;
  safe_copy(buf, cap, line.c_str());
  trim(buf);
  return true;
}

void say(Console* c, const char* text) {
  fprintf(c->out, "%s\n", text);
}

// The entry number of an answer, or -1 when it names no entry.
int entry_number(const MenuState* m, const char* text) {
  errno = 0;
  char* end = nullptr;
  long n = strtol(text, &end, 10);
  if (errno != 0 || end == text || n < 1 || n > static_cast<long>(m->pb.count)) return -1;
  return static_cast<int>(n - 1);
}

// The font name and terminal kind of a type answer.
void apply_type(PhoneEntry* e, const char* answer) {
  normalize_font_choice(answer && *answer ? answer : kFontCP437, e->font);
  e->terminal = font_name_looks_c64(e->font) ? 5 : 4;
}

// After a partly read phonebook every change is refused up front, with the
// reason: a change that could not be saved would be lost, yet the next
// listing would show it.
bool changes_refused(Console* c) {
  if (!c->m->save_refused) return false;
  say(c, kMenuMsgPartialLoad);
  return true;
}

void save_or_say(Console* c) {
  int rc = menu_save(c->m);
  if (rc != 0) say(c, phonebook_save_message(rc));
}

void add_entry(Console* c) {
  if (changes_refused(c)) return;
  PhoneEntry e{};
  char port[32], fav[16], type[96];
  read_line_prompt(c, "Name: ", e.name, sizeof e.name);
  read_line_prompt(c, "Host: ", e.address, sizeof e.address);
  read_line_prompt(c, "Port [23]: ", port, sizeof port);
  e.port = parse_int_default(port, 23);
  read_line_prompt(c, "User name [optional]: ", e.username, sizeof e.username);
  read_line_prompt(c, "Password [optional]: ", e.password, sizeof e.password);
  read_line_prompt(c, "Software [optional]: ", e.software, sizeof e.software);
  read_line_prompt(c, "Note [optional]: ", e.note, sizeof e.note);
  read_line_prompt(c, "Favourite [y/N]: ", fav, sizeof fav);
  e.favourite = (fav[0] == 'y' || fav[0] == 'Y') ? 1 : 0;
  std::string prompt = std::string("Type [") + kTypeChoices + "; blank=CP437]: ";
  read_line_prompt(c, prompt.c_str(), type, sizeof type);
  apply_type(&e, type);
  if (!e.name[0] || !e.address[0]) {
    say(c, "Name and host are required.");
    return;
  }
  if (phonebook_append(&c->m->pb, &e) != 0) {
    say(c, "Could not add entry.");
    return;
  }
  save_or_say(c);
}

void delete_entry(Console* c) {
  if (changes_refused(c)) return;
  phonebook_list(&c->m->pb, c->out, console_call_port);
  if (c->m->pb.count == 0) return;
  char answer[32];
  read_line_prompt(c, "Delete entry number: ", answer, sizeof answer);
  int index = entry_number(c->m, answer);
  if (index < 0) {
    say(c, "Invalid entry number.");
    return;
  }
  phonebook_remove(&c->m->pb, index);
  save_or_say(c);
}

void edit_type(Console* c) {
  if (changes_refused(c)) return;
  phonebook_list(&c->m->pb, c->out, console_call_port);
  if (c->m->pb.count == 0) return;
  char answer[32];
  read_line_prompt(c, "Entry number to edit: ", answer, sizeof answer);
  int index = entry_number(c->m, answer);
  if (index < 0) {
    say(c, "Invalid entry number.");
    return;
  }
  PhoneEntry* e = &c->m->pb.entries[index];
  fprintf(c->out, "Current type: %s\n", display_font_name(phoneentry_effective_font(e)));
  char type[96];
  std::string prompt = std::string("New type [") + kTypeChoices + "]: ";
  read_line_prompt(c, prompt.c_str(), type, sizeof type);
  if (!type[0]) return;
  apply_type(e, type);
  save_or_say(c);
}

// A 0/1 answer: empty keeps the setting, otherwise whether its number is
// non-zero.
void ask_flag(Console* c, const char* format, int* flag) {
  char prompt[96];
  snprintf(prompt, sizeof prompt, format, *flag);
  char answer[32];
  read_line_prompt(c, prompt, answer, sizeof answer);
  if (answer[0]) *flag = atoi(answer) != 0 ? 1 : 0;
}

// A directory: the prompt shows where it is now (PROGDIR: as the directory
// it stands for), and an empty answer keeps it.
void ask_path(Console* c, const char* label, char* path, size_t cap, TransferDir which) {
  std::string prompt = std::string(label) + " [" + dos_expand_path(path) + "]: ";
  char answer[256];
  read_line_prompt(c, prompt.c_str(), answer, sizeof answer);
  if (!answer[0]) return;
  safe_copy(path, cap, answer);
  normalize_transfer_path(path, which);
}

void paths(Console* c) {
  ask_path(c, "Download path", g_download_path, sizeof g_download_path, TransferDir::kDownload);
  ask_path(c, "Upload path", g_upload_path, sizeof g_upload_path, TransferDir::kUpload);
  ask_flag(c, "Beep sound (0/1) [%d]: ", &g_beep_sound_enabled);
  ask_flag(c, "Modem sound before connect (0/1) [%d]: ", &g_modem_sound_enabled);
  int rc = transfer_prefs_save();
  if (rc != 0) say(c, transfer_prefs_save_message(rc));
}

void sort_by_name(Console* c) {
  if (changes_refused(c)) return;
  if (c->m->pb.count > 1) phonebook_sort_alpha(&c->m->pb);
  save_or_say(c);
}

void call_entry(Console* c, const char* answer) {
  int index = entry_number(c->m, answer);
  if (index < 0) return;
  MenuState* m = c->m;
  PhoneEntry called = m->pb.entries[index];
  const char* font = called.font[0] ? called.font : kFontCP437;
  const SessionRequest req{.host = called.address,
                           .port = called.port,
                           .emulation = called.terminal,
                           .font = font,
                           .login_user = called.username,
                           .login_password = called.password,
                           .entry = &called,
                           .phonebook = &m->pb,
                           .phonebook_path = m->path.c_str()};
  int r = m->call(&req);
  if (r != 0 || m->save_refused) return;
  int found = phonebook_find_entry_identity(&m->pb, &called);
  if (found >= 0) phoneentry_mark_last_call(&m->pb, m->path.c_str(), found);
}

}  // namespace

int menu_console(MenuState* m, FILE* in, FILE* out) {
  Console c{m, in, out};
  // A call's questions (a new host key, a passphrase) are asked here, on the
  // console, and answered from its input like every other question.
  CliPromptStreams streams{in, out, false};
  g_session_prompts_without_window = cli_console_prompts(&streams);
  // Without a help screen here, the console says once which file it edits.
  fprintf(out, "Phone book: %s\n", dos_absolute_path(m->path.c_str()).c_str());
  if (m->save_refused) say(&c, kMenuMsgPartialLoad);
  for (;;) {
    phonebook_list(&m->pb, out, console_call_port);
    char command[32];
    if (!read_line_prompt(&c, kCommandPrompt, command, sizeof command)) break;
    switch (toupper(static_cast<unsigned char>(command[0]))) {
      case 'Q':
        g_session_prompts_without_window = LinkPrompts{};
        return 0;
      case 'A':
        add_entry(&c);
        break;
      case 'D':
        delete_entry(&c);
        break;
      case 'E':
        edit_type(&c);
        break;
      case 'S':
        sort_by_name(&c);
        break;
      case 'P':
        paths(&c);
        break;
      default:
        call_entry(&c, command);
        break;
    }
  }
  g_session_prompts_without_window = LinkPrompts{};
  return 0;
}
