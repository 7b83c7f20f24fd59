// The transfer menus and prompts: upload paths and the directory list, and
// each dialog answering injected window events.
#include "transfer/transfer_menus.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "display/fonts.h"
#include "display/modes.h"
#include "display/surface.h"
#include "phonebook/prefs.h"
#include "platform/clock.h"
#include "platform/display.h"
#include "platform/dos.h"
#include "support/golden_image.h"
#include "support/open_window.h"
#include "support/test_support.h"
#include "terminal/terminal.h"

namespace {

PlatEvent vanilla(uint16_t ch) {
  return PlatEvent{PLAT_EV_VANILLAKEY, ch, 0, 0, 0};
}
PlatEvent raw(uint16_t code) {
  return PlatEvent{PLAT_EV_RAWKEY, code, 0, 0, 0};
}
PlatEvent close_request() {
  return PlatEvent{PLAT_EV_CLOSE, 0, 0, 0, 0};
}
PlatEvent refresh_request() {
  return PlatEvent{PLAT_EV_REFRESH, 0, 0, 0, 0};
}

std::vector<std::string> names(const UploadFileList& list) {
  std::vector<std::string> out;
  for (int i = 0; i < list.file_count; i++) out.emplace_back(list.files[i].entry_name);
  return out;
}

void touch(const std::string& path, size_t size = 0) {
  write_file_bytes(path, std::string(size, 'x'));
}

// A terminal in a headless window, and an upload directory of its own.
class TransferMenus : public ::testing::Test {
 protected:
  void SetUp() override {
    display_set_window_mode(DISPLAY_MODE_WINDOW);
    set_active_font("CP437");
    transfer_prefs_set_defaults();
    snprintf(g_upload_path, sizeof g_upload_path, "%s", tmp_.path().c_str());
    t_ = std::make_unique<Terminal>();
    term_init_record(t_.get());
    ASSERT_EQ(test_term_open(t_.get(), "Kavel"), 0);
    term_clear_screen(t_.get());
  }
  void TearDown() override {
    term_close(t_.get());
    transfer_prefs_set_defaults();
    clock_test_reset();
  }
  void inject(std::initializer_list<PlatEvent> events) {
    for (const auto& e : events) plat_inject_event(t_->window, e);
  }
  Terminal* t() { return t_.get(); }
  TempDir tmp_;
  std::unique_ptr<Terminal> t_;
};

}  // namespace

TEST(UploadPaths, ParentOfAPath) {
  struct Case {
    const char* path;
    const char* parent;  // null: none
  };
  const Case cases[] = {
      {"PROGDIR:Transfers", "PROGDIR:"},
      {"PROGDIR:", nullptr},
      {"Work:a/b/", "Work:a"},
      {"/tmp", nullptr},
      {"/", nullptr},
      {"/home/user/files", "/home/user"},
      {"relative/dir", "relative"},
      {"dir", nullptr},
      {"  Work:a  ", "Work:"},
      {"a/b:c", "a/b:"},
      {"a\\b\\c\\", "a\\b"},
      {"", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    char out[256] = "unchanged";
    int r = upload_path_parent_of(c.path, out, sizeof out);
    EXPECT_EQ(r, c.parent ? 1 : 0);
    if (c.parent) {
      EXPECT_STREQ(out, c.parent);
    }
  }
}

TEST(UploadPaths, JoinAndCurrentDirectory) {
  transfer_prefs_set_defaults();
  g_upload_path[0] = '\0';
  char dir[256];
  upload_path_current(dir, sizeof dir);
  EXPECT_EQ(dir, dos_home_dir());  // uploads start in the home directory
  snprintf(g_upload_path, sizeof g_upload_path, "  /srv/up/  ");
  char path[kTransferPathCap];
  ASSERT_EQ(upload_path_join(path, "file.txt"), 0);
  EXPECT_STREQ(path, "/srv/up/file.txt");
  snprintf(g_upload_path, sizeof g_upload_path, "Work:");
  ASSERT_EQ(upload_path_join(path, "file.txt"), 0);
  EXPECT_STREQ(path, "Work:file.txt");
  snprintf(g_upload_path, sizeof g_upload_path, "/%s", std::string(254, 'd').c_str());
  EXPECT_EQ(upload_path_join(path, std::string(159, 'n').c_str()), 0);  // 415 in all
  EXPECT_EQ(strlen(path), 415u);
  EXPECT_EQ(upload_path_join(path, std::string(160, 'n').c_str()), -1);
  transfer_prefs_set_defaults();
}

TEST(UploadList, OrderAndContents) {
  TempDir tmp;
  snprintf(g_upload_path, sizeof g_upload_path, "%s", tmp.path().c_str());
  touch(tmp.file("B.txt"), 12);
  touch(tmp.file("a.txt"), 3);
  touch(tmp.file("ab"), 1);
  mkdir(tmp.file("Zed").c_str(), 0755);
  mkdir(tmp.file("alpha").c_str(), 0755);
  mkfifo(tmp.file("fifo").c_str(), 0644);                             // not a file: left out
  symlink("/nonexistent/target", tmp.file("dangling").c_str());       // cannot be queried
  symlink(tmp.file("B.txt").c_str(), tmp.file("link-to-b").c_str());  // a file behind a link
  UploadFileList list{};
  ASSERT_EQ(upload_file_list_load(&list), 0);
  EXPECT_EQ(names(list),
            (std::vector<std::string>{"..", "alpha", "Zed", "a.txt", "ab", "B.txt", "link-to-b"}));
  EXPECT_EQ(list.files[0].is_parent, 1);
  EXPECT_EQ(list.files[1].is_dir, 1);
  EXPECT_EQ(list.files[5].entry_size, 12u);
  EXPECT_EQ(list.files[3].is_dir, 0);

  // Into "alpha" and back up through "..".
  char next[256];
  ASSERT_EQ(upload_enter_directory(&list, 1, next), 1);
  EXPECT_EQ(std::string(next), tmp.file("alpha"));
  EXPECT_EQ(upload_enter_directory(&list, 3, next), 0);  // a file
  EXPECT_EQ(upload_enter_directory(&list, 99, next), 0);
  snprintf(g_upload_path, sizeof g_upload_path, "%s", tmp.file("alpha").c_str());
  ASSERT_EQ(upload_file_list_load(&list), 0);
  EXPECT_EQ(names(list), (std::vector<std::string>{".."}));
  ASSERT_EQ(upload_enter_directory(&list, 0, next), 1);
  EXPECT_EQ(std::string(next), tmp.path());

  snprintf(g_upload_path, sizeof g_upload_path, "%s", tmp.file("B.txt").c_str());
  EXPECT_EQ(upload_file_list_load(&list), -1);  // not a directory
  EXPECT_EQ(list.file_count, 0);
  upload_file_list_free(&list);
  transfer_prefs_set_defaults();
}

TEST(UploadList, AppendGrowsAndRefusesWhatItCannotKeep) {
  UploadFileList list{};
  for (int i = 0; i < 100; i++) {
    ASSERT_EQ(upload_file_list_append(&list, ("f" + std::to_string(i)).c_str(), i, 0, 0), 0);
  }
  EXPECT_EQ(list.file_count, 100);
  EXPECT_EQ(list.file_capacity, 128);  // 32, 64, 128
  EXPECT_STREQ(list.files[99].entry_name, "f99");
  EXPECT_EQ(upload_file_list_append(&list, "", 0, 0, 0), -1);
  EXPECT_EQ(upload_file_list_append(&list, nullptr, 0, 0, 0), -1);
  // A name cut short would name another file.
  EXPECT_EQ(upload_file_list_append(&list, std::string(160, 'x').c_str(), 0, 0, 0), -1);
  EXPECT_EQ(upload_file_list_append(&list, std::string(159, 'x').c_str(), 0, 0, 0), 0);
  upload_file_list_free(&list);
  EXPECT_EQ(list.files, nullptr);
  EXPECT_EQ(list.file_count, 0);
}

TEST_F(TransferMenus, ProtocolChooserKeys) {
  struct Case {
    const char* name;
    std::vector<PlatEvent> keys;
    int answer;
  };
  const Case cases[] = {
      {"Return takes X-Modem, the first selection", {vanilla('\r')}, kProtocolXmodem},
      {"down, Return", {raw(RAWKEY_DOWN), vanilla('\r')}, kProtocolZmodem},
      {"right, raw Return", {raw(RAWKEY_RIGHT), raw(RAWKEY_RETURN)}, kProtocolZmodem},
      {"down, up, line feed", {raw(RAWKEY_DOWN), raw(RAWKEY_UP), vanilla('\n')}, kProtocolXmodem},
      {"down, left, Enter",
       {raw(RAWKEY_DOWN), raw(RAWKEY_LEFT), raw(RAWKEY_KP_ENTER)},
       kProtocolXmodem},
      {"down twice: Y-Modem",
       {raw(RAWKEY_DOWN), raw(RAWKEY_RIGHT), vanilla('\r')},
       kProtocolYmodem},
      {"down five times stops on Y-Modem-G",
       {raw(RAWKEY_DOWN), raw(RAWKEY_DOWN), raw(RAWKEY_DOWN), raw(RAWKEY_DOWN), raw(RAWKEY_DOWN),
        vanilla('\r')},
       kProtocolYmodemG},
      {"up moves one row",
       {raw(RAWKEY_DOWN), raw(RAWKEY_DOWN), raw(RAWKEY_UP), vanilla('\r')},
       kProtocolZmodem},
      {"Escape", {raw(RAWKEY_DOWN), vanilla(27)}, -1},
      {"raw Escape", {raw(RAWKEY_ESCAPE)}, -1},
      {"a close request", {close_request()}, -1},
      {"a refresh and letters change nothing",
       {refresh_request(), vanilla('z'), raw(0x4D | 0x80), vanilla('\r')},
       kProtocolXmodem},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const auto& e : c.keys) plat_inject_event(t()->window, e);
    EXPECT_EQ(term_choose_transfer_protocol(t(), "Upload"), c.answer);
  }
  Terminal bare{};
  EXPECT_EQ(term_choose_transfer_protocol(&bare, "Upload"), -1);
}

TEST_F(TransferMenus, UploadPickerKeys) {
  for (int i = 0; i < 14; i++)
    touch(tmp_.file("file" + std::string(i < 10 ? "0" : "") + std::to_string(i)));
  mkdir(tmp_.file("sub").c_str(), 0755);
  touch(tmp_.file("sub/inner.txt"));
  char name[kTransferNameCap];
  struct Case {
    const char* name;
    std::vector<PlatEvent> keys;
    int result;
    const char* chosen;
  };
  // The list: "..", "sub", file00 .. file13.
  const Case cases[] = {
      {"down twice picks the first file",
       {raw(RAWKEY_DOWN), raw(RAWKEY_DOWN), vanilla('\r')},
       1,
       "file00"},
      {"page down moves ten", {raw(0x49), vanilla('\r')}, 1, "file08"},
      {"page down stops at the last",
       {raw(0x49), raw(0x5B), raw(0x6E), vanilla('\r')},
       1,
       "file13"},
      {"page up stops at the first: the parent is entered, then Escape",
       {raw(0x49), raw(0x48), raw(0x5A), vanilla('\r'), vanilla(27)},
       0,
       ""},
      {"up stops at the first",
       {raw(RAWKEY_UP), raw(RAWKEY_DOWN), vanilla('\r'), vanilla(27)},
       0,
       ""},
      {"left and right do nothing",
       {raw(RAWKEY_RIGHT), raw(RAWKEY_LEFT), raw(RAWKEY_DOWN), raw(RAWKEY_DOWN),
        raw(RAWKEY_RETURN)},
       1,
       "file00"},
      {"a close request", {close_request()}, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    snprintf(g_upload_path, sizeof g_upload_path, "%s", tmp_.path().c_str());
    for (const auto& e : c.keys) plat_inject_event(t()->window, e);
    EXPECT_EQ(term_select_upload_file(t(), name), c.result);
    EXPECT_STREQ(name, c.chosen);
  }
  // Into "sub": the directory becomes the upload path for later pickers.
  snprintf(g_upload_path, sizeof g_upload_path, "%s", tmp_.path().c_str());
  inject({raw(RAWKEY_DOWN), vanilla('\r'), raw(RAWKEY_DOWN), vanilla('\r')});
  EXPECT_EQ(term_select_upload_file(t(), name), 1);
  EXPECT_STREQ(name, "inner.txt");
  EXPECT_EQ(std::string(g_upload_path), tmp_.file("sub"));

  // Marking (ZMODEM and YMODEM uploads): Space marks a file and steps on.
  struct Marking {
    const char* name;
    std::vector<PlatEvent> keys;
    std::vector<std::string> chosen;
  };
  const Marking marking[] = {
      {"two marked, sent in list order whatever the bar",
       {raw(RAWKEY_DOWN), raw(RAWKEY_DOWN), vanilla(' '), raw(RAWKEY_DOWN), vanilla(' '),
        vanilla('\r')},
       {"file00", "file02"}},
      {"Space on a directory marks nothing; none marked sends the one under the bar",
       {raw(RAWKEY_DOWN), vanilla(' '), vanilla('\r')},
       {"file00"}},
      {"Space twice unmarks",
       {raw(RAWKEY_DOWN), raw(RAWKEY_DOWN), vanilla(' '), raw(RAWKEY_UP), vanilla(' '),
        raw(RAWKEY_UP), raw(RAWKEY_DOWN), vanilla('\r')},
       {"file01"}},
      {"marks are dropped on entering a directory",
       {raw(RAWKEY_DOWN), raw(RAWKEY_DOWN), vanilla(' '), raw(RAWKEY_UP), raw(RAWKEY_UP),
        raw(RAWKEY_UP), raw(RAWKEY_DOWN), vanilla('\r'), raw(RAWKEY_DOWN), vanilla('\r')},
       {"inner.txt"}},
      {"Escape sends nothing", {vanilla(' '), vanilla(27)}, {}},
  };
  for (const Marking& c : marking) {
    SCOPED_TRACE(c.name);
    snprintf(g_upload_path, sizeof g_upload_path, "%s", tmp_.path().c_str());
    for (const auto& e : c.keys) plat_inject_event(t()->window, e);
    std::vector<std::string> names{"stale"};
    EXPECT_EQ(term_select_upload_files(t(), &names), c.chosen.empty() ? 0 : 1);
    EXPECT_EQ(names, c.chosen);
  }
}

TEST_F(TransferMenus, UploadPickerWithNothingToShow) {
  snprintf(g_upload_path, sizeof g_upload_path, "%s", tmp_.file("missing/deeper").c_str());
  char name[kTransferNameCap] = "x";
  // Unreadable (cannot be made, its parent is missing): Return does nothing,
  // Escape leaves.
  inject({vanilla('\r'), raw(0x49), vanilla(27)});
  EXPECT_EQ(term_select_upload_file(t(), name), 0);
  EXPECT_STREQ(name, "");
}

TEST_F(TransferMenus, FileExistsPromptAnswers) {
  struct Case {
    const char* name;
    std::vector<PlatEvent> keys;
    int answer;
  };
  const Case cases[] = {
      {"o", {vanilla('o')}, 0},
      {"O", {vanilla('O')}, 0},
      {"r", {vanilla('r')}, 1},
      {"R", {vanilla('R')}, 1},
      {"c", {vanilla('c')}, 2},
      {"C", {vanilla('C')}, 2},
      {"Escape", {vanilla(27)}, 2},
      {"close", {close_request()}, 2},
      {"Return on RENAME", {vanilla('\r')}, 1},
      {"right, Return", {raw(RAWKEY_RIGHT), vanilla('\r')}, 2},
      {"down twice stays on CANCEL", {raw(RAWKEY_DOWN), raw(RAWKEY_DOWN), vanilla('\r')}, 2},
      {"up twice stays on OVERWRITE", {raw(RAWKEY_UP), raw(RAWKEY_UP), raw(RAWKEY_RETURN)}, 0},
      {"refresh, other letters", {refresh_request(), vanilla('x'), vanilla('o')}, 0},
  };
  // The events as the session's loop hands them to the prompt.
  auto answer_to = [&](const std::vector<PlatEvent>& events) {
    ExistsPrompt p;
    int answer = term_exists_prompt_open(&p, t(), "report.txt", 0, 0);
    for (const PlatEvent& e : events)
      if (answer < 0) answer = term_exists_prompt_event(&p, e);
    term_exists_prompt_close(&p);
    return answer;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(answer_to(c.keys), c.answer);
  }
  Terminal bare{};
  ExistsPrompt p;
  EXPECT_EQ(term_exists_prompt_open(&p, &bare, "report.txt", 0, 0), 2);
}

TEST_F(TransferMenus, FileExistsPromptTimesOut) {
  // Each turn of the session's loop moves the clock on by 400 ms: rename
  // after 5000 ms, that is after 13 turns.
  ExistsPrompt p;
  clock_test_set_ms(1000);
  ASSERT_LT(term_exists_prompt_open(&p, t(), "slow.bin", 0, 0), 0);
  int turns = 0, answer = -1;
  while (answer < 0 && turns < 100) {
    clock_test_set_ms(1000 + 400 * ++turns);
    answer = term_exists_prompt_poll(&p);
  }
  EXPECT_EQ(answer, 1);
  EXPECT_EQ(turns, 13);

  // A key ends the wait at once.
  clock_test_set_ms(1000);
  ASSERT_LT(term_exists_prompt_open(&p, t(), "slow.bin", 0, 0), 0);
  EXPECT_EQ(term_exists_prompt_poll(&p), -1);
  EXPECT_EQ(term_exists_prompt_event(&p, vanilla('o')), 0);
  term_exists_prompt_close(&p);
}

TEST_F(TransferMenus, SaveAsPrompt) {
  char out[200];
  inject({vanilla('a'), vanilla('b'), vanilla(8), vanilla('c'), vanilla('.'), vanilla('p'),
          raw(RAWKEY_BACKSPACE), vanilla(127), vanilla('z'), vanilla(1), vanilla(200),
          raw(RAWKEY_DOWN), vanilla('\r')});
  EXPECT_EQ(term_prompt_filename(t(), out, sizeof out), 1);
  EXPECT_STREQ(out, "acz");

  // 130 characters typed: the first 127 are kept.
  for (int i = 0; i < 130; i++) plat_inject_event(t()->window, vanilla('a' + i % 26));
  inject({vanilla('\n')});
  EXPECT_EQ(term_prompt_filename(t(), out, sizeof out), 1);
  EXPECT_EQ(strlen(out), 127u);
  EXPECT_EQ(out[126], 'a' + 126 % 26);

  struct Case {
    const char* name;
    std::vector<PlatEvent> keys;
  };
  const Case cancels[] = {
      {"Return on an empty field", {vanilla('\r')}},
      {"emptied again", {vanilla('x'), vanilla(8), vanilla('\r')}},
      {"Escape", {vanilla('x'), vanilla(27)}},
      {"raw Escape", {vanilla('x'), raw(RAWKEY_ESCAPE)}},
      {"a close request", {vanilla('x'), close_request()}},
  };
  for (const Case& c : cancels) {
    SCOPED_TRACE(c.name);
    for (const auto& e : c.keys) plat_inject_event(t()->window, e);
    EXPECT_EQ(term_prompt_filename(t(), out, sizeof out), 0);
    EXPECT_STREQ(out, "");
  }
}

TEST_F(TransferMenus, NoticeWaitsForAKey) {
  inject({raw(0x4D | 0x80), refresh_request(), vanilla(' '), vanilla('k')});
  term_show_transfer_notice(t(), "X-Modem is not available in this version.");
  PlatEvent left;
  ASSERT_TRUE(plat_get_event(t()->window, &left));  // the key after it is still queued
  EXPECT_EQ(left.code, 'k');
}

TEST_F(TransferMenus, PickerAndPromptImages) {
  touch(tmp_.file("welcome.ans"), 4711);
  touch(tmp_.file("a-much-longer-name-than-the-column-has-room-for.zip"), 123456789);
  mkdir(tmp_.file("games").c_str(), 0755);
  snprintf(g_upload_path, sizeof g_upload_path, "%s", "/");  // a stable "Upload path" line
  UploadFileList list{};
  ASSERT_EQ(upload_file_list_append(&list, "games", 0, 1, 0), 0);
  ASSERT_EQ(upload_file_list_append(&list, "a-much-longer-name-than-the-column-has-room-for.zip",
                                    123456789, 0, 0),
            0);
  ASSERT_EQ(upload_file_list_append(&list, "welcome.ans", 4711, 0, 0), 0);
  term_draw_upload_picker(t(), &list, 1, 0, "Could not open upload path.");
  upload_file_list_free(&list);
  golden::expect_golden("transfer_upload_picker", t()->window, 0, 0, 640, 400);

  term_clear_screen(t());
  term_redraw_all(t());
  term_draw_receive_exists(t(), "an-offered-file-whose-name-is-too-long-to-show.txt", 0);
  golden::expect_golden("transfer_file_exists", t()->window, 0, 0, 640, 400);

  // Resume offered (four buttons), and asked again after its check failed.
  const struct {
    const char* golden;
    int selection, can_resume, resume_failed;
  } resume_cases[] = {{"transfer_file_exists_resume", kExistsResume, 1, 0},
                      {"transfer_file_exists_resume_failed", kExistsRename, 0, 1}};
  for (const auto& c : resume_cases) {
    term_clear_screen(t());
    term_redraw_all(t());
    term_draw_receive_exists_resume(t(), "partial.zip", c.selection, c.can_resume, c.resume_failed);
    golden::expect_golden(c.golden, t()->window, 0, 0, 640, 400);
  }

  term_clear_screen(t());
  term_redraw_all(t());
  term_draw_protocol_chooser(t(), "Download", kProtocolYmodem);
  golden::expect_golden("transfer_protocol_chooser", t()->window, 0, 0, 640, 400);
}
