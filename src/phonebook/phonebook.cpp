#include "phonebook/phonebook.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

#include "phonebook/private_file.h"
#include "phonebook/text_fields.h"
#include "platform/clock.h"
#include "platform/dos.h"
#include "util/address.h"
#include "util/font_names.h"
#include "util/text.h"

namespace {

constexpr int kFieldCount = 12;
constexpr int kPasswordField = 6;

struct FreeDeleter {
  void operator()(void* p) const { free(p); }
};
using CharBuffer = std::unique_ptr<char, FreeDeleter>;

struct FileCloser {
  void operator()(FILE* f) const {
    if (f) fclose(f);
  }
};
using FileHandle = std::unique_ptr<FILE, FileCloser>;

int (*g_link_fn)(const char*, const char*) = nullptr;

int do_rename(const char* from, const char* to) {
  return file_replace_rename(from, to);
}

int do_link(const char* from, const char* to) {
  return g_link_fn ? g_link_fn(from, to) : link(from, to);
}

// "ansi", "petscii"/"petascii"/"c64", a single digit kept as it is, else ANSI.
int32_t parse_terminal_field(const char* text) {
  if (pb_ascii_casecmp(text, "ansi") == 0) return kTerminalAnsi;
  if (pb_ascii_casecmp(text, "petscii") == 0 || pb_ascii_casecmp(text, "petascii") == 0 ||
      pb_ascii_casecmp(text, "c64") == 0) {
    return kTerminalPetscii;
  }
  long value = 0;
  const char* end = pb_parse_leading_long(text, &value);
  if (end && *end == '\0' && value >= 0 && value <= 9) return static_cast<int32_t>(value);
  return kTerminalAnsi;
}

// Copies a trimmed field and trims again after the cut, so that a value cut
// at its capacity does not keep blanks that the next load would remove.
void copy_trimmed(char* dst, size_t cap, const char* text) {
  safe_copy(dst, cap, text);
  trim(dst);
}

uint32_t parse_count_field(const char* text) {
  uint64_t value = 0;
  for (const char* p = text; *p >= '0' && *p <= '9'; p++) {
    value = value * 10 + static_cast<uint64_t>(*p - '0');
    if (value > UINT32_MAX) return UINT32_MAX;
  }
  return static_cast<uint32_t>(value);
}

}  // namespace

// ------------------------------------------------------------------ list --

void phonebook_free(Phonebook* pb) {
  if (!pb) return;
  free(pb->entries);
  pb->entries = nullptr;
  pb->count = 0;
  pb->capacity = 0;
}

void phonebook_remove(Phonebook* pb, int index) {
  if (!pb || index < 0 || static_cast<uint32_t>(index) >= pb->count) return;
  memmove(&pb->entries[index], &pb->entries[index + 1],
          (pb->count - static_cast<uint32_t>(index) - 1) * sizeof(PhoneEntry));
  pb->count--;
}

int phonebook_append(Phonebook* pb, const PhoneEntry* entry) {
  if (!pb || !entry) return -1;
  if (pb->count == pb->capacity) {
    uint32_t grown = pb->capacity == 0 ? 8 : pb->capacity * 2;
    if (grown <= pb->capacity) return -1;  // the count cannot grow any further
    void* p = realloc(pb->entries, static_cast<size_t>(grown) * sizeof(PhoneEntry));
    if (!p) return -1;
    pb->entries = static_cast<PhoneEntry*>(p);
    pb->capacity = grown;
  }
  // The caller may pass an entry of this very array: copy before anything moves.
  PhoneEntry copy = *entry;
  pb->entries[pb->count] = copy;
  pb->count++;
  return 0;
}

// --------------------------------------------------------------- reading --

long phonebook_read_line(FILE* in, char** buf, size_t* cap, size_t max_len) {
  if (!in || !buf || !cap) return -1;
  size_t len = 0;
  bool any = false;
  bool out_of_memory = false;
  int c;
  while ((c = getc(in)) != EOF) {
    any = true;
    if (c == '\n') break;
    // An over-long line keeps its first max_len bytes.  When the buffer
    // cannot grow the line is still consumed to its end, so that the next
    // read starts on the next line, but it is reported rather than returned
    // cut short: a shortened line would read as a damaged entry.
    if (len >= max_len || out_of_memory) continue;
    if (len + 1 >= *cap) {
      size_t want = *cap < 256 ? 256 : *cap * 2;
      if (want > max_len + 1) want = max_len + 1;
      char* p = static_cast<char*>(realloc(*buf, want));
      if (!p) {
        out_of_memory = true;
        continue;
      }
      *buf = p;
      *cap = want;
    }
    (*buf)[len++] = static_cast<char>(c);
  }
  if (!any) return -1;
  if (out_of_memory) return -2;
  if (!*buf) {
    char* p = static_cast<char*>(malloc(1));
    if (!p) return -2;
    *buf = p;
    *cap = 1;
  }
  (*buf)[len] = '\0';
  return static_cast<long>(len);
}

int phonebook_parse_line(const char* line, size_t len, PhoneEntry* out) {
  if (!line || !out) return 0;
  // A NUL cannot be part of any field; the line ends there.
  len = strnlen(line, len);
  size_t start = 0;
  while (start < len && pb_is_blank(line[start])) start++;
  size_t end = len;
  while (end > start && pb_is_blank(line[end - 1])) end--;
  if (start == end || line[start] == '#') return 0;

  CharBuffer work(static_cast<char*>(malloc(end - start + 1)));
  if (!work) return -1;
  char* w = work.get();
  size_t field_at[kFieldCount] = {};
  int fields = 1;
  size_t o = 0;
  for (size_t i = start; i < end; i++) {
    char c = line[i];
    if (c == '\\') {
      if (i + 1 < end) {
        char next = line[++i];
        w[o++] = next == 'n' ? '\n' : next == 'r' ? '\r' : next;
      } else {
        w[o++] = '\\';
      }
    } else if (c == '|' && fields < kFieldCount) {
      w[o++] = '\0';
      field_at[fields++] = o;
    } else {
      w[o++] = c;
    }
  }
  w[o] = '\0';
  if (fields < 2) return 0;

  const char* f[kFieldCount];
  for (int i = 0; i < kFieldCount; i++) {
    if (i < fields) {
      char* text = w + field_at[i];
      if (i != kPasswordField) trim(text);
      f[i] = text;
    } else {
      f[i] = "";
    }
  }

  PhoneEntry e;
  memset(&e, 0, sizeof e);
  copy_trimmed(e.name, sizeof e.name, f[0]);
  copy_trimmed(e.address, sizeof e.address, f[1]);
  e.port = pb_parse_port(f[2]);
  e.terminal = parse_terminal_field(f[3]);
  normalize_font_choice(f[4][0] ? f[4] : kFontCP437, e.font);
  if (font_name_looks_c64(e.font)) e.terminal = kTerminalPetscii;
  copy_trimmed(e.username, sizeof e.username, f[5]);
  safe_copy(e.password, sizeof e.password, f[6]);
  copy_trimmed(e.software, sizeof e.software, f[7]);
  copy_trimmed(e.last_call, sizeof e.last_call, f[8]);
  e.call_count = f[9][0] ? parse_count_field(f[9]) : 0;
  long fav = 0;
  e.favourite = (pb_parse_leading_long(f[10], &fav) && fav >= 1 && fav <= 65535) ? 1 : 0;
  copy_trimmed(e.note, sizeof e.note, f[11]);
  *out = e;
  return 1;
}

int phonebook_load_stream(Phonebook* pb, FILE* in) {
  if (!pb) return -1;
  phonebook_free(pb);
  if (!in) return -1;
  char* line = nullptr;
  size_t cap = 0;
  int result = 0;
  long len;
  while ((len = phonebook_read_line(in, &line, &cap, kPhonebookMaxLine)) >= 0) {
    PhoneEntry e;
    int parsed = phonebook_parse_line(line, static_cast<size_t>(len), &e);
    if (parsed < 0 || (parsed == 1 && phonebook_append(pb, &e) != 0)) {
      result = -1;
      break;
    }
  }
  free(line);
  // A line that could not be held, or a read error part way through, means
  // the entries after it are missing: that is not a whole phonebook.
  if (len == -2 || ferror(in)) result = -1;
  return result;
}

int phonebook_load(Phonebook* pb, const char* path) {
  if (!pb) return -1;
  phonebook_free(pb);
  if (!path || !*path) return -1;
  FileHandle f(fopen(path, "r"));
  if (!f) return -1;
  return phonebook_load_stream(pb, f.get());
}

// --------------------------------------------------------------- writing --

void phonebook_field_for_save(const char* text, char* out, size_t out_cap, bool lead_field) {
  if (!out || out_cap == 0) return;
  size_t o = 0;
  bool written_nonblank = false;
  for (const char* p = text ? text : ""; *p; p++) {
    char c = *p;
    char second = 0;
    switch (c) {
      case '\\':
        second = '\\';
        break;
      case '|':
        second = '|';
        break;
      case '\n':
        second = 'n';
        break;
      case '\r':
        second = 'r';
        break;
      default:
        // The reader trims the line and takes a leading "#" for a comment;
        // "\#" reads back as "#".
        if (c == '#' && lead_field && !written_nonblank) second = '#';
        break;
    }
    if (second) {
      if (o + 2 >= out_cap) break;
      out[o++] = '\\';
      out[o++] = second;
      written_nonblank = true;
    } else {
      if (o + 1 >= out_cap) break;
      out[o++] = c;
      if (!pb_is_blank(c)) written_nonblank = true;
    }
  }
  out[o] = '\0';
}

int phonebook_write_entry(FILE* out, const PhoneEntry* e) {
  if (!out || !e) return -1;
  char name[2 * sizeof e->name];
  char address[2 * sizeof e->address];
  char font[2 * sizeof e->font];
  char username[2 * sizeof e->username];
  char password[2 * sizeof e->password];
  char software[2 * sizeof e->software];
  char last_call[2 * sizeof e->last_call];
  char note[2 * sizeof e->note];
  phonebook_field_for_save(e->name, name, sizeof name, true);
  phonebook_field_for_save(e->address, address, sizeof address, false);
  phonebook_field_for_save(e->font[0] ? e->font : kFontCP437, font, sizeof font, false);
  phonebook_field_for_save(e->username, username, sizeof username, false);
  phonebook_field_for_save(e->password, password, sizeof password, false);
  phonebook_field_for_save(e->software, software, sizeof software, false);
  phonebook_field_for_save(e->last_call, last_call, sizeof last_call, false);
  phonebook_field_for_save(e->note, note, sizeof note, false);
  int n = fprintf(out, "%s|%s|%d|%s|%s|%s|%s|%s|%s|%lu|%d|%s\n", name, address, e->port,
                  e->terminal == kTerminalPetscii ? "PETSCII" : "ANSI", font, username, password,
                  software, last_call, static_cast<unsigned long>(e->call_count),
                  e->favourite ? 1 : 0, note);
  return n < 0 ? -1 : 0;
}

namespace {

bool write_book(FILE* f, const Phonebook* pb) {
  bool ok = fprintf(f, "%s\n", kPhonebookHeader) >= 0;
  for (uint32_t i = 0; ok && i < pb->count; i++)
    ok = phonebook_write_entry(f, &pb->entries[i]) == 0;
  return ok;
}

}  // namespace

int phonebook_write_to_path(const Phonebook* pb, const char* path) {
  if (!pb || !path || !*path) return -1;
  // A phonebook written here holds passwords: a file this creates is the
  // owner's alone (an existing one keeps its bits).
  int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, S_IRUSR | S_IWUSR);
  FILE* f = fd >= 0 ? fdopen(fd, "w") : nullptr;
  if (!f) {
    if (fd >= 0) close(fd);
    return -1;
  }
  bool ok = write_book(f, pb);
  if (ok) ok = fflush(f) == 0 && !ferror(f);
  if (ok) ok = fsync(fileno(f)) == 0;
  if (fclose(f) != 0) ok = false;
  if (!ok) {
    remove(path);
    return -1;
  }
  return 0;
}

void phonebook_test_set_rename(int (*fn)(const char*, const char*)) {
  file_replace_test_set_rename(fn);
}

void phonebook_test_set_link(int (*fn)(const char*, const char*)) {
  g_link_fn = fn;
}

const char* phonebook_save_message(int rc) {
  if (rc == 0) return nullptr;
  return rc == kSaveReadOnly ? kPhonebookMsgReadOnly : kPhonebookMsgSaveFailed;
}

std::string phonebook_default_path() {
  return dos_user_file_path(kPhonebookDefaultPath);
}

int phonebook_save(const Phonebook* pb, const char* path) {
  if (!pb || !path || !*path) return -1;
  // The configuration directory is made by the first save into it.
  if (dos_prepare_user_file(path) != 0) return -1;
  // Everything happens beside the real file: behind a symbolic link that is
  // the link's target, so the link itself stays.
  FileReplace r;
  int rc = file_replace_begin(path, NewFileAccess::kOwnerOnly, &r);
  if (rc != 0) return rc;
  const char* real = r.target.c_str();
  const char* tmp = r.tmp.c_str();
  const char* bak = r.bak.c_str();

  FILE* f = file_replace_create_tmp(&r);
  if (!f) return -1;
  if (file_replace_close_tmp(f, &r, write_book(f, pb)) != 0) return -1;

  struct stat st;
  bool existed = lstat(real, &st) == 0;
  if (!existed) {
    if (do_rename(tmp, real) == 0) return 0;
    remove(tmp);
    return -1;
  }
  // The backup there now stays, under a name of its own, until the new file
  // has taken the real name: a save that fails leaves both the phonebook and
  // its backup as they were.  (A name left by a crash is dropped first.)
  std::string kept_name = r.bak + ".prev";
  const char* kept = kept_name.c_str();
  remove(kept);
  bool have_kept = false;
  if (lstat(bak, &st) == 0) {
    if (S_ISREG(st.st_mode)) {
      have_kept = rename(bak, kept) == 0;
    } else {
      remove(bak);
    }
  }
  auto give_up = [&]() {
    if (have_kept) rename(kept, bak);
    remove(tmp);
    return -1;
  };
  auto done = [&]() {
    if (have_kept) remove(kept);
    return 0;
  };
  // The previous version gets its ".bak" name as a second link, and the new
  // file then replaces the real name in one rename: at every moment the real
  // name holds a whole phonebook, the old one or the new one.
  if (do_link(real, bak) == 0) {
    if (do_rename(tmp, real) == 0) return done();
    // Nothing has moved: the extra name goes again.
    remove(bak);
    return give_up();
  }
  // No hard links here (some file systems have none, and the kernel refuses
  // links to files the user does not own): move the old file aside instead,
  // and put it back when the new one cannot take its place.
  if (do_rename(real, bak) != 0) return give_up();
  if (do_rename(tmp, real) == 0) return done();
  do_rename(bak, real);
  return give_up();
}

int phoneentry_mark_last_call(Phonebook* pb, const char* path, int index) {
  if (!pb || !path || !*path || index < 0 || static_cast<uint32_t>(index) >= pb->count) return -1;
  PhoneEntry* e = &pb->entries[index];
  e->last_call[0] = '\0';
  std::tm tm;
  if (!clock_local_time(&tm) || strftime(e->last_call, sizeof e->last_call, "%Y-%m-%d", &tm) == 0)
    safe_copy(e->last_call, sizeof e->last_call, "Unknown");
  if (e->call_count < UINT32_MAX) e->call_count++;
  return phonebook_save(pb, path);
}

// -------------------------------------------------------------- matching --

const char* phoneentry_effective_font(const PhoneEntry* entry) {
  return entry && entry->font[0] ? entry->font : kFontCP437;
}

int phoneentry_same_dial_target(const PhoneEntry* a, const PhoneEntry* b, int compare_names) {
  if (!a || !b) return 0;
  if (a->port != b->port || strcmp(a->address, b->address) != 0) return 0;
  if (strcmp(phoneentry_effective_font(a), phoneentry_effective_font(b)) != 0) return 0;
  if (compare_names && strcmp(a->name, b->name) != 0) return 0;
  return 1;
}

int phoneentry_same_identity(const PhoneEntry* a, const PhoneEntry* b) {
  if (!a || !b) return 0;
  if (!phoneentry_same_dial_target(a, b, 1)) return 0;
  return (a->favourite != 0) == (b->favourite != 0) ? 1 : 0;
}

int phonebook_find_entry_identity(const Phonebook* pb, const PhoneEntry* entry) {
  if (!pb || !entry || pb->count == 0 || !pb->entries) return -1;
  for (int pass = 0; pass < 3; pass++) {
    for (uint32_t i = 0; i < pb->count; i++) {
      const PhoneEntry* e = &pb->entries[i];
      bool hit = pass == 0   ? phoneentry_same_identity(e, entry)
                 : pass == 1 ? phoneentry_same_dial_target(e, entry, 1)
                             : phoneentry_same_dial_target(e, entry, 0);
      if (hit && i <= static_cast<uint32_t>(INT_MAX)) return static_cast<int>(i);
    }
  }
  return -1;
}

// --------------------------------------------------------------- sorting --

int phoneentry_name_compare(const PhoneEntry* a, const PhoneEntry* b) {
  if (!a || !b) return (a != nullptr) - (b != nullptr);
  int fa = a->favourite != 0, fb = b->favourite != 0;
  if (fa != fb) return fb - fa;
  int c = pb_ascii_casecmp(a->name, b->name);
  if (c) return c;
  c = pb_ascii_casecmp(a->address, b->address);
  if (c) return c;
  // Ports are 1..65535 in practice, but a difference of two arbitrary int32
  // values would overflow.
  return (a->port > b->port) - (a->port < b->port);
}

int phoneentry_type_compare(const PhoneEntry* a, const PhoneEntry* b) {
  if (!a || !b) return (a != nullptr) - (b != nullptr);
  int fa = a->favourite != 0, fb = b->favourite != 0;
  if (fa != fb) return fb - fa;
  char first[80];
  safe_copy(first, sizeof first, entry_type_display(a));
  int c = pb_ascii_casecmp(first, entry_type_display(b));
  if (c) return c;
  return phoneentry_name_compare(a, b);
}

namespace {
int qsort_name(const void* a, const void* b) {
  return phoneentry_name_compare(static_cast<const PhoneEntry*>(a),
                                 static_cast<const PhoneEntry*>(b));
}
int qsort_type(const void* a, const void* b) {
  return phoneentry_type_compare(static_cast<const PhoneEntry*>(a),
                                 static_cast<const PhoneEntry*>(b));
}
}  // namespace

void phonebook_sort_alpha(Phonebook* pb) {
  if (!pb || !pb->entries || pb->count < 2) return;
  qsort(pb->entries, pb->count, sizeof(PhoneEntry), qsort_name);
}

void phonebook_sort_type(Phonebook* pb) {
  if (!pb || !pb->entries || pb->count < 2) return;
  qsort(pb->entries, pb->count, sizeof(PhoneEntry), qsort_type);
}

int phonebook_sort_following(Phonebook* pb, int by_type, int index) {
  if (!pb || index < 0 || static_cast<uint32_t>(index) >= pb->count) return 0;
  PhoneEntry kept = pb->entries[index];
  if (by_type) {
    phonebook_sort_type(pb);
  } else {
    phonebook_sort_alpha(pb);
  }
  for (uint32_t i = 0; i < pb->count; i++)
    if (phoneentry_same_identity(&pb->entries[i], &kept)) return static_cast<int>(i);
  return 0;
}

// ---------------------------------------------------------------- labels --

namespace {
char g_label[80];
}

const char* display_font_name(const char* font) {
  safe_copy(g_label, sizeof g_label, font && *font ? font : kFontCP437);
  trim(g_label);
  if (pb_ascii_contains(g_label, "termibm80") || pb_ascii_contains(g_label, "cp437") ||
      pb_ascii_contains(g_label, "437")) {
    safe_copy(g_label, sizeof g_label, kFontCP437);
  } else if (font_name_looks_topaz_1200_font(g_label)) {
    safe_copy(g_label, sizeof g_label, kFontTopaz1200);
  } else if (font_name_looks_topaz_amiga_font(g_label)) {
    safe_copy(g_label, sizeof g_label, kFontTopazAmiga);
  } else if (font_name_looks_c64_lower_font_local(g_label)) {
    safe_copy(g_label, sizeof g_label,
              c64_font_uses_80_columns(g_label) ? kFontC64LowUp80 : kFontC64LowUp40);
  } else if (font_name_looks_c64_upper_font_local(g_label) || pb_ascii_contains(g_label, "c64") ||
             pb_ascii_contains(g_label, "commodore")) {
    safe_copy(g_label, sizeof g_label,
              c64_font_uses_80_columns(g_label) ? kFontC64UpGfx80 : kFontC64UpGfx40);
  } else {
    size_t len = strlen(g_label);
    if (len >= 6 && pb_ascii_casecmp(g_label + len - 5, ".font") == 0) g_label[len - 5] = '\0';
  }
  return g_label;
}

const char* entry_type_display(const PhoneEntry* entry) {
  if (!entry) return display_font_name(kFontCP437);
  const char* s = entry->software;
  size_t n = strnlen(s, sizeof entry->software);
  for (size_t i = 0; i < n; i++) {
    if (!pb_is_blank(s[i])) return s + i;
  }
  return display_font_name(phoneentry_effective_font(entry));
}

void phonebook_list(const Phonebook* pb, FILE* out, int (*call_port)(const char*, int)) {
  if (!out) return;
  if (!pb || pb->count == 0) {
    fputs("Phone book is empty.\n", out);
    return;
  }
  fputs("\nPhone book entries:\n", out);
  fprintf(out, "    %-24s %-32s %-5s %s\n", "BBS Name", "Address", "Port", "Type");
  fprintf(out, "    %-24s %-32s %-5s %s\n", "--------", "-------", "----", "----");
  for (uint32_t i = 0; i < pb->count; i++) {
    const PhoneEntry* e = &pb->entries[i];
    char name[83];
    if (e->favourite)
      snprintf(name, sizeof name, "* %s", e->name);
    else
      safe_copy(name, sizeof name, e->name);
    // The port the call will use, as the window's list shows it: one written
    // in the address wins over the entry's Port field.
    fprintf(out, "%2lu. %-24s %-32s %-5d %s\n", static_cast<unsigned long>(i) + 1, name, e->address,
            call_port ? call_port(e->address, e->port) : address_port(e->address, e->port),
            entry_type_display(e));
  }
}
