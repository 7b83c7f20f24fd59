// layers: menu
// What the phonebook menu costs: the whole screen (the art through the ANSI
// interpreter and seven rows), a selection move (two rows), and a phonebook
// of 10,000 entries loaded, drawn and paged through, in a headless window of
// each window mode's size.  Also counts the pixels a selection move changes.
//
//   bench_menu_redraw [ENTRIES]   (default 10000)
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "display/modes.h"
#include "display/ui_surface.h"
#include "menu/entry_list.h"
#include "phonebook/phonebook.h"
#include "platform/display.h"
#include "util/text.h"

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

std::vector<uint8_t> pixels(const UiContext* ui) {
  const uint8_t* p = plat_window_pixels(ui->window);
  size_t n = static_cast<size_t>(plat_window_inner_width(ui->window)) *
             static_cast<size_t>(plat_window_inner_height(ui->window));
  return {p, p + n};
}

void run_mode(int mode, const char* name, Phonebook* pb) {
  display_set_window_mode(mode);
  UiContext ui{};
  if (ui_open_menu(&ui, "Kavel") != 0) {
    printf("%s: the menu display did not open\n", name);
    return;
  }
  ui_invalidate_menu_caches();
  auto t0 = Clock::now();
  ui_draw_entry_list(&ui, pb, 2, 0);
  double full = ms_since(t0);
  std::vector<uint8_t> before = pixels(&ui);
  const int moves = 2000;
  t0 = Clock::now();
  for (int i = 0; i < moves; i++) ui_draw_entry_list(&ui, pb, 3 + (i & 1), 0);
  double move = ms_since(t0) / moves;
  ui_draw_entry_list(&ui, pb, 2, 0);
  ui_draw_entry_list(&ui, pb, 3, 0);
  std::vector<uint8_t> after = pixels(&ui);
  long changed = 0;
  for (size_t i = 0; i < before.size(); i++) changed += before[i] != after[i];
  t0 = Clock::now();
  int pages = 0;
  for (int sel = 0; sel < static_cast<int>(pb->count); sel += 7, pages++)
    ui_draw_entry_list(&ui, pb, sel, sel);
  double page = ms_since(t0) / (pages ? pages : 1);
  printf(
      "%-12s %4dx%-4d full screen %7.3f ms, selection move %7.4f ms (%ld pixels changed of "
      "%zu), page %7.4f ms\n",
      name, plat_window_inner_width(ui.window), plat_window_inner_height(ui.window), full, move,
      changed, before.size(), page);
  ui_close(&ui);
}

}  // namespace

int main(int argc, char** argv) {
  int entries = argc > 1 ? atoi(argv[1]) : 10000;
  char path[] = "/tmp/kavel-bench-XXXXXX";
  int fd = mkstemp(path);
  if (fd < 0) return 1;
  close(fd);
  Phonebook pb{};
  for (int i = 0; i < entries; i++) {
    PhoneEntry e{};
    snprintf(e.name, sizeof e.name, "Board number %d", i);
    snprintf(e.address, sizeof e.address, "bbs%d.example.org", i);
    e.port = 23 + i % 1000;
    e.terminal = 4;
    safe_copy(e.font, sizeof e.font, "CP437");
    phonebook_append(&pb, &e);
  }
  phonebook_write_to_path(&pb, path);
  phonebook_free(&pb);

  auto t0 = Clock::now();
  int r = phonebook_load(&pb, path);
  printf("load of %u entries: %.2f ms (result %d)\n", pb.count, ms_since(t0), r);
  run_mode(DISPLAY_MODE_WINDOW, "window", &pb);
  run_mode(DISPLAY_MODE_MEDIUM, "medium", &pb);
  run_mode(DISPLAY_MODE_FULLSCREEN, "full screen", &pb);
  t0 = Clock::now();
  r = phonebook_save(&pb, path);
  printf("save of %u entries: %.2f ms (result %d)\n", pb.count, ms_since(t0), r);
  phonebook_free(&pb);
  unlink(path);
  std::string bak = std::string(path) + ".bak";
  unlink(bak.c_str());
  return 0;
}
