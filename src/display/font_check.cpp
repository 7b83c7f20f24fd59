// The start-up check of the Fonts drawer: every required file present with
// its size, or a console report and a wait for Return before the program
// ends.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "display/font_drawer.h"
#include "display/fonts.h"

// Whether a required file is present: it opens as a regular file and, when a
// size is expected, is exactly that long.
static bool startup_font_ok(const std::string& path, long size) {
  FontFileHandle f(fopen(path.c_str(), "rb"));
  if (!f) return false;
  struct stat st;
  if (fstat(fileno(f.get()), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  if (size == 0) return true;
  if (fseek(f.get(), 0, SEEK_END) != 0) return false;
  return ftell(f.get()) == size;
}

// Every spelling the loader accepts counts, not only the name in the report:
// a drawer whose files the terminal can load must not stop the program.
static bool startup_font_present(const FontFileSpec& spec) {
  for (const char* dir : kFontDirs) {
    std::string base = expand_font_path(dir);
    for (const char* spelling : spec.spellings) {
      if (!spelling) break;
      if (startup_font_ok(base + spelling, spec.size)) return true;
    }
  }
  return false;
}

int startup_validate_runtime_fonts() {
  int failures = 0;
  // The report names the real place of the files: the Fonts directory
  // beside the executable.
  const std::string dir = expand_font_path(kFontDirs[0]);
  for (const FontFileSpec& spec : kFontFiles) {
    if (startup_font_present(spec)) continue;
    if (failures == 0) font_console("\nRequired runtime font missing or invalid:\n");
    font_console("  %s%s\n", dir.c_str(), spec.name);
    ++failures;
  }
  if (failures == 0) return 0;
  font_console("\nPlease reinstall the Kavel Fonts directory.\n");
  // Only a person at a terminal can press Return; a script or a desktop
  // launcher would wait for ever.
  if (isatty(STDIN_FILENO)) {
    font_console("\nPress Return to exit...");
    (void)getchar();
  }
  return -1;
}
