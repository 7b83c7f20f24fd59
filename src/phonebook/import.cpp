#include "phonebook/import.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "phonebook/text_fields.h"
#include "platform/dos.h"
#include "util/font_names.h"
#include "util/text.h"

namespace {

constexpr size_t kListMaxLine = 64 * 1024;

struct SectionReader {
  Phonebook* pb;
  int* imported;
  int* updated;
  int* skipped;
  bool open;
  PhoneEntry entry;
};

bool has_lst_suffix(const char* name, size_t len) {
  return len >= 4 && name[len - 4] == '.' && pb_ascii_casecmp(name + len - 3, "lst") == 0;
}

int file_list_push(ImportFileList* list, const char* name, int dir) {
  if (list->count == list->capacity) {
    int grown = list->capacity == 0 ? 16 : list->capacity * 2;
    if (grown <= list->capacity) return -1;
    void* p = realloc(list->items, static_cast<size_t>(grown) * sizeof(ImportFileName));
    if (!p) return -1;
    list->items = static_cast<ImportFileName*>(p);
    list->capacity = grown;
  }
  safe_copy(list->items[list->count].name, sizeof list->items[0].name, name);
  list->items[list->count].dir = dir;
  list->count++;
  return 0;
}

// Ends the section being read; a section with both a name and an address
// becomes an entry.
int close_section(SectionReader* r) {
  bool complete = r->open && r->entry.name[0] && r->entry.address[0];
  r->open = false;
  if (!complete) return 0;
  return import_commit_entry(r->pb, &r->entry, r->imported, r->updated, r->skipped);
}

int read_list_line(SectionReader* r, char* line) {
  trim(line);
  if (!line[0]) return 0;
  if (line[0] == '[') {
    if (close_section(r) != 0) return -1;
    char* close = strrchr(line, ']');
    if (!close || close - line < 2) return 0;  // "[]" or no bracket: no section
    *close = '\0';
    char* name = line + 1;
    trim(name);
    memset(&r->entry, 0, sizeof r->entry);
    r->entry.port = kPhonebookDefaultPort;
    safe_copy(r->entry.name, sizeof r->entry.name, name);
    r->open = true;
    return 0;
  }
  if (!r->open) return 0;
  char* eq = strchr(line, '=');
  if (!eq) return 0;
  *eq = '\0';
  char* key = line;
  char* value = eq + 1;
  trim(key);
  trim(value);
  PhoneEntry* e = &r->entry;
  if (pb_ascii_casecmp(key, "address") == 0 || pb_ascii_casecmp(key, "host") == 0) {
    safe_copy(e->address, sizeof e->address, value);
  } else if (pb_ascii_casecmp(key, "port") == 0) {
    e->port = pb_parse_port(value);
  } else if (pb_ascii_casecmp(key, "username") == 0 || pb_ascii_casecmp(key, "user") == 0 ||
             pb_ascii_casecmp(key, "login") == 0) {
    safe_copy(e->username, sizeof e->username, value);
  } else if (pb_ascii_casecmp(key, "password") == 0 || pb_ascii_casecmp(key, "pass") == 0) {
    safe_copy(e->password, sizeof e->password, value);
  }
  return 0;
}

int find_existing(const Phonebook* pb, const PhoneEntry* e) {
  for (uint32_t i = 0; i < pb->count; i++) {
    const PhoneEntry* x = &pb->entries[i];
    if (x->port == e->port && strcmp(x->address, e->address) == 0 && strcmp(x->name, e->name) == 0)
      return static_cast<int>(i);
  }
  for (uint32_t i = 0; i < pb->count; i++) {
    const PhoneEntry* x = &pb->entries[i];
    if (x->port == e->port && strcmp(x->address, e->address) == 0) return static_cast<int>(i);
  }
  return -1;
}

void bump(int* counter) {
  if (counter) (*counter)++;
}

}  // namespace

void import_file_list_free(ImportFileList* list) {
  if (!list) return;
  free(list->items);
  list->items = nullptr;
  list->count = 0;
  list->capacity = 0;
  list->dir_count = 0;
}

int import_ascii_casecmp(const char* a, const char* b) {
  return pb_ascii_casecmp(a, b);
}

int import_list_compare(const void* a, const void* b) {
  const auto* x = static_cast<const ImportFileName*>(a);
  const auto* y = static_cast<const ImportFileName*>(b);
  int by_name = import_ascii_casecmp(x->name, y->name);
  return by_name != 0 ? by_name : x->dir - y->dir;
}

namespace {

// Adds the lists of one directory, as the list's directory number dir.
// 0; -1 when the directory cannot be opened (errno tells why), -2 when the
// list cannot grow.
int scan_into(const char* path, int dir, ImportFileList* list) {
  DIR* d = opendir(path);
  if (!d) return -1;
  std::string base(path);
  if (base.back() != '/') base += '/';
  int result = 0;
  while (struct dirent* de = readdir(d)) {
    const char* name = de->d_name;
    size_t len = strlen(name);
    if (len == 0 || strcmp(name, ".") == 0 || strcmp(name, "..") == 0) continue;
    // A name that does not fit the record could only be listed cut short,
    // and a cut name opens a different file or none.
    if (len >= sizeof list->items[0].name || !has_lst_suffix(name, len)) continue;
    struct stat st;
    if (stat((base + name).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (file_list_push(list, name, dir) != 0) {
      result = -2;
      break;
    }
  }
  closedir(d);
  return result;
}

void sort_list(ImportFileList* list) {
  if (list->count > 1)
    qsort(list->items, static_cast<size_t>(list->count), sizeof(ImportFileName),
          import_list_compare);
}

}  // namespace

int import_scan_directory(const char* dir, ImportFileList* list) {
  if (!list) return -1;
  import_file_list_free(list);
  // A directory that does not fit the record could only be named cut short.
  if (!dir || !*dir || strlen(dir) >= kImportPathCap) return -1;
  safe_copy(list->dirs[0], kImportPathCap, dir);
  list->dir_count = 1;
  if (scan_into(dir, 0, list) != 0) {
    import_file_list_free(list);
    return -1;
  }
  sort_list(list);
  return 0;
}

std::vector<std::string> import_list_dirs() {
  std::vector<std::string> dirs;
  for (std::string d : {dos_home_dir() + "/.syncterm", dos_config_home() + "/syncterm",
                        dos_progdir()}) {
    bool seen = false;
    for (const std::string& x : dirs) seen = seen || x == d;
    if (!seen) dirs.push_back(d);
  }
  return dirs;
}

int import_scan_directories(const std::vector<std::string>& dirs, ImportFileList* list,
                            int* failed) {
  int none = 0;
  if (!failed) failed = &none;
  *failed = -1;
  if (!list) return -1;
  import_file_list_free(list);
  int result = 0;
  for (size_t i = 0; i < dirs.size() && list->dir_count < kImportMaxDirs; i++) {
    const std::string& dir = dirs[i];
    if (dir.empty() || dir.size() >= kImportPathCap) continue;
    int index = list->dir_count++;
    safe_copy(list->dirs[index], kImportPathCap, dir.c_str());
    int rc = scan_into(dir.c_str(), index, list);
    if (rc == -2) {
      import_file_list_free(list);
      *failed = static_cast<int>(i);
      return -1;
    }
    if (rc == -1 && errno != ENOENT && errno != ENOTDIR && *failed < 0) {
      *failed = static_cast<int>(i);
      result = -1;
    }
  }
  sort_list(list);
  return result;
}

std::string import_list_path(const ImportFileList* list, int index) {
  if (!list || index < 0 || index >= list->count) return std::string();
  const ImportFileName& f = list->items[index];
  if (f.dir < 0 || f.dir >= list->dir_count) return std::string();
  std::string path = list->dirs[f.dir];
  if (path.empty() || path.back() != '/') path += '/';
  return path + f.name;
}

int import_commit_entry(Phonebook* pb, const PhoneEntry* entry, int* imported, int* updated,
                        int* skipped) {
  if (!pb || !entry) return -1;
  PhoneEntry e = *entry;
  if (e.port < 1) e.port = kPhonebookDefaultPort;
  e.terminal = kTerminalAnsi;
  safe_copy(e.font, sizeof e.font, kFontCP437);

  int at = find_existing(pb, &e);
  if (at < 0) {
    if (phonebook_append(pb, &e) != 0) return -1;
    bump(imported);
    return 0;
  }
  PhoneEntry* x = &pb->entries[at];
  bool renamed = false;
  if (e.name[0] && strcmp(e.name, x->name) != 0) {
    safe_copy(x->name, sizeof x->name, e.name);
    renamed = true;
  }
  bool new_password = e.password[0] && strcmp(e.password, x->password) != 0;
  if (e.username[0] && strcmp(e.username, x->username) != 0) {
    safe_copy(x->username, sizeof x->username, e.username);
    if (new_password) safe_copy(x->password, sizeof x->password, e.password);
    bump(updated);
  } else if (new_password) {
    safe_copy(x->password, sizeof x->password, e.password);
    bump(updated);
  } else if (renamed) {
    bump(updated);
  } else {
    bump(skipped);
  }
  return 0;
}

int import_read_stream(Phonebook* pb, FILE* in, int* imported, int* updated, int* skipped) {
  if (!pb || !in) return -1;
  SectionReader r;
  memset(&r, 0, sizeof r);
  r.pb = pb;
  r.imported = imported;
  r.updated = updated;
  r.skipped = skipped;
  char* line = nullptr;
  size_t cap = 0;
  int result = 0;
  long len;
  while ((len = phonebook_read_line(in, &line, &cap, kListMaxLine)) >= 0) {
    if (read_list_line(&r, line) != 0) {
      result = -1;
      break;
    }
  }
  free(line);
  // A line that could not be held in memory ends the import like a merge
  // that could not grow the phonebook.
  if (len == -2) result = -1;
  if (result == 0 && close_section(&r) != 0) result = -1;
  return result;
}

void import_format_summary(char out[kImportMessageCap], int imported, int updated, int skipped) {
  if (!out) return;
  if (updated > 0 || skipped > 0)
    snprintf(out, kImportMessageCap, "Imported %d. Updated %d. Skipped %d.", imported, updated,
             skipped);
  else
    snprintf(out, kImportMessageCap, "Imported %d entries.", imported);
}

int import_run_file(Phonebook* pb, const char* pb_path, const char* list_path, int* imported,
                    int* updated, int* skipped, char message[kImportMessageCap]) {
  int dummy[3] = {0, 0, 0};
  if (!imported) imported = &dummy[0];
  if (!updated) updated = &dummy[1];
  if (!skipped) skipped = &dummy[2];
  *imported = *updated = *skipped = 0;
  char scratch[kImportMessageCap];
  if (!message) message = scratch;
  message[0] = '\0';

  FILE* f = list_path && *list_path ? fopen(list_path, "r") : nullptr;
  if (!f || !pb) {
    if (f) fclose(f);
    safe_copy(message, kImportMessageCap, kImportMsgOpenFailed);
    return IMPORT_OPEN_FAILED;
  }
  int rc = import_read_stream(pb, f, imported, updated, skipped);
  fclose(f);
  if (rc != 0) {
    safe_copy(message, kImportMessageCap, kImportMsgOutOfMemory);
    return IMPORT_OUT_OF_MEMORY;
  }
  int saved = *imported + *updated > 0 ? phonebook_save(pb, pb_path) : 0;
  if (saved != 0) {
    safe_copy(message, kImportMessageCap,
              saved == kSaveReadOnly ? phonebook_save_message(saved) : kImportMsgSaveFailed);
    return IMPORT_SAVE_FAILED;
  }
  import_format_summary(message, *imported, *updated, *skipped);
  return IMPORT_OK;
}
