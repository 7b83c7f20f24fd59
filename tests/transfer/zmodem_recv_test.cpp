// The ZMODEM receiver against a scripted sender: names and where files go,
// the file-exists answers, bad subpackets, the ZRINIT and ZFIN timing, and
// the ways a download ends.
#include <gtest/gtest.h>

#include <array>
#include <sys/stat.h>
#include <unistd.h>

#include "transfer/zmodem_harness.h"

namespace {

TEST(TransferFiles, SanitizeName) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"dir/sub/report.txt", "report.txt"},
      {" report.txt", "kavel-zmodem.dat"},
      {"a b.txt", "a"},
      {"x\x01y", "x_y"},
      {"a*b", "a_b"},
      {"..", "kavel-zmodem.dat"},
      {".", "kavel-zmodem.dat"},
      {"...", "kavel-zmodem.dat"},
      {"../../etc/passwd", "passwd"},
      {"/etc/passwd", "passwd"},
      {"..\\..\\evil.exe", "evil.exe"},
      {"C:\\win\\x.bat", "x.bat"},
      {"DH0:dir/y", "y"},
      {"dir/", "kavel-zmodem.dat"},
      {"", "kavel-zmodem.dat"},
      {".profile", ".profile"},
      {"caf\xe9.txt", "caf\xe9.txt"},
  };
  for (const auto& c : cases) {
    char out[kTransferNameCap];
    transfer_sanitize_name(out, sizeof out, c.in);
    EXPECT_STREQ(out, c.out) << c.in;
  }
  char out[kTransferNameCap];
  transfer_sanitize_name(out, sizeof out, std::string(300, 'n').c_str());
  EXPECT_EQ(strlen(out), 159u);
}

TEST(TransferFiles, JoinPath) {
  struct Case {
    const char* dir;
    const char* name;
    const char* out;
  } cases[] = {{"dl", "a", "dl/a"},
               {"dl/", "a", "dl/a"},
               {"PROGDIR:", "a", "PROGDIR:a"},
               {"", "a", "a"},
               {"x\\", "a", "x\\a"}};
  for (const auto& c : cases) {
    char out[kTransferPathCap];
    ASSERT_EQ(transfer_join_path(out, sizeof out, c.dir, c.name), 0);
    EXPECT_STREQ(out, c.out);
  }
  char out[kTransferPathCap];
  std::string long_dir(410, 'd');
  EXPECT_EQ(transfer_join_path(out, sizeof out, long_dir.c_str(), "abcd"), 0);
  EXPECT_EQ(transfer_join_path(out, sizeof out, long_dir.c_str(), "abcde"), -1);
  EXPECT_STREQ(out, "");
}

TEST(TransferFiles, RenameRule) {
  TempDir d;
  struct Case {
    const char* name;
    std::vector<const char*> existing;
    const char* out;
  } cases[] = {
      {"report.txt", {"report.txt", "report-1.txt"}, "report-2.txt"},
      {".profile", {".profile"}, ".profile-1"},
      {"noext", {"noext"}, "noext-1"},
      {"a.tar.gz", {"a.tar.gz"}, "a.tar-1.gz"},
      {"x.0123456789012345678901234567890123456789012345678",
       {},
       "x.0123456789012345678901234567890123456789012345678-1"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    for (const char* e : c.existing) write_file_bytes(dir.file(e), "x");
    char name[kTransferNameCap];
    snprintf(name, sizeof name, "%s", c.name);
    ASSERT_EQ(transfer_rename_free(name, sizeof name, dir.path().c_str()), 0) << c.name;
    EXPECT_STREQ(name, c.out) << c.name;
  }
  char empty[kTransferNameCap] = "";
  EXPECT_EQ(transfer_rename_free(empty, sizeof empty, d.path().c_str()), -1);
}

TEST(TransferFiles, CreateNeverFollowsLinksOrClobbers) {
  TempDir d, outside;
  std::string target = outside.file("victim");
  write_file_bytes(target, "precious");
  ASSERT_EQ(symlink(target.c_str(), d.file("link").c_str()), 0);
  EXPECT_EQ(transfer_create_file(d.file("link").c_str(), 1), nullptr);
  EXPECT_EQ(transfer_create_file(d.file("link").c_str(), 0), nullptr);
  write_file_bytes(d.file("exists"), "old");
  EXPECT_EQ(transfer_create_file(d.file("exists").c_str(), 0), nullptr);
  ASSERT_EQ(mkfifo(d.file("fifo").c_str(), 0644), 0);
  EXPECT_EQ(transfer_create_file(d.file("fifo").c_str(), 1), nullptr);  // and does not block
  FILE* f = transfer_create_file(d.file("exists").c_str(), 1);
  ASSERT_NE(f, nullptr);
  fclose(f);
  EXPECT_TRUE(read_file_bytes(d.file("exists")).empty());
  auto v = read_file_bytes(target);
  EXPECT_EQ(std::string(v.begin(), v.end()), "precious");
}

// A receiver with a started download: ZRQINIT answered.
struct Rx {
  uint32_t clock = 1000;
  TempDir dir;
  ZEndpoint e{&clock};
  Rx() {
    e.dir = dir.path();
    e.feed(hex_header(ZRQINIT, 0));
    e.take();
  }
  void offer(const std::string& name, const std::string& numbers = "0") {
    e.feed(cat({bin_header(ZFILE, 0), subpacket(file_info(name, numbers), ZCRCW)}));
  }
  std::vector<WireItem> replies() { return decode_wire(e.take(), 0); }
  std::string file(const std::string& name) {
    auto v = read_file_bytes(dir.file(name));
    return std::string(v.begin(), v.end());
  }
};

TEST(ZmodemReceiver, ExistingFileAnswers) {
  struct Case {
    int answer;
    const char* name_after;  // file_name used
    int reply;               // ZRPOS or ZSKIP
  } cases[] = {{kZmodemOverwrite, "report.txt", ZRPOS},
               {kZmodemRename, "report-2.txt", ZRPOS},
               {kZmodemSkip, "report.txt", ZSKIP}};
  for (const auto& c : cases) {
    Rx rx;
    write_file_bytes(rx.dir.file("report.txt"), "mine");
    write_file_bytes(rx.dir.file("report-1.txt"), "mine too");
    rx.e.exists_answers = {c.answer};
    rx.offer("report.txt", "4");
    auto r = rx.replies();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].type, c.reply) << c.answer;
    EXPECT_STREQ(rx.e.z.file_name, c.name_after);
    ASSERT_EQ(rx.e.exists_asked.size(), 1u);
    if (c.reply == ZRPOS) {
      rx.e.feed(cat({bin_header(ZDATA, 0), subpacket("NEW!", ZCRCE), bin_header(ZEOF, 4)}));
      EXPECT_EQ(rx.file(c.name_after), "NEW!");
    }
    if (c.answer != kZmodemOverwrite) {
      EXPECT_EQ(rx.file("report.txt"), "mine");
    }
    EXPECT_EQ(rx.file("report-1.txt"), "mine too");
  }
}

// "a b.txt" and "a c.txt" of one batch are both cut to "a": the second
// meets the file-exists question (each answer), never a silent overwrite.
TEST(ZmodemReceiver, NamesCutToTheSameNameInABatchAreAsked) {
  const struct {
    int answer;
    const char *second, *first_after;  // second: null when skipped
  } cases[] = {{kZmodemOverwrite, "a", "second"}, {kZmodemRename, "a-1", "first"},
               {kZmodemSkip, nullptr, "first"}};
  for (const auto& c : cases) {
    Rx rx;
    rx.e.exists_answers = {c.answer};
    rx.offer("a b.txt", "5");
    rx.e.feed(cat({bin_header(ZDATA, 0), subpacket("first", ZCRCE), bin_header(ZEOF, 5)}));
    rx.offer("a c.txt", "6");
    rx.e.feed(cat({bin_header(ZDATA, 0), subpacket("second", ZCRCE), bin_header(ZEOF, 6)}));
    EXPECT_EQ(rx.e.exists_asked, std::vector<std::string>{"a"}) << c.answer;
    if (c.second) {
      EXPECT_EQ(rx.file(c.second), "second") << c.answer;
    }
    EXPECT_EQ(rx.file("a"), c.first_after) << c.answer;
    EXPECT_EQ(transfer_path_exists(rx.dir.file("a-1").c_str()), c.answer == kZmodemRename);
  }
}

// Crash recovery: a shorter file of the offered name is resumed when the
// answer (or the sender's ZCRESUM) says so and the sender's CRC of the part
// on disk agrees; a part that differs is never appended to, and the
// question comes again without resuming.
TEST(ZmodemReceiver, Resume) {
  EXPECT_EQ(zmodem_can_resume(1, 100) + zmodem_can_resume(99, 100), 2);
  for (long long no : {0LL, 100LL, 150LL, -1LL}) EXPECT_EQ(zmodem_can_resume(no, 100), 0) << no;
  EXPECT_EQ(zmodem_can_resume(5, 0), 0) << "no size offered";

  const auto offered = random_bytes(3000, 21);
  const std::vector<uint8_t> start(offered.begin(), offered.begin() + 1200);
  struct Case {
    const char* name;
    bool same_start;     // the file on disk is the start of the offered one
    uint32_t zf0;        // ZFILE's conversion option
    std::vector<int> answers;
    bool sender_says;    // the sender answers ZCRC (else it repeats its ZFILE)
    const char* asked;   // the questions: R resume offered, r after a failed check, - neither
    int reply;           // after the check: ZRPOS or ZSKIP
    uint32_t from;
    const char* saved_as;  // where the offered file ends up whole
  } cases[] = {
      {"resumed", true, 0, {kZmodemResume}, true, "R", ZRPOS, 1200, "f.bin"},
      {"differs: asked again, renamed", false, 0, {kZmodemResume, kZmodemRename}, true, "Rr", ZRPOS,
       0, "f-1.bin"},
      {"ZCRESUM: no question", true, kZmodemCresume, {}, true, "", ZRPOS, 1200, "f.bin"},
      {"ZCRESUM, differs: asked, skipped", false, kZmodemCresume, {kZmodemSkip}, true, "r", ZSKIP,
       0, nullptr},
      {"a sender that cannot say", true, 0, {kZmodemResume}, false, "R", ZRPOS, 1200, "f.bin"},
  };
  for (const auto& c : cases) {
    Rx rx;
    auto on_disk = c.same_start ? start : random_bytes(1200, 5);
    write_file_bytes(rx.dir.file("f.bin"), std::string(on_disk.begin(), on_disk.end()));
    struct Asked {
      std::vector<int> answers;
      std::string asked;
    } q{c.answers, ""};
    rx.e.owner = &q;
    rx.e.z.hooks.file_exists_resume = [](void* ctx, const ZmodemExistsQuestion* question) {
      auto* a = static_cast<Asked*>(static_cast<ZEndpoint*>(ctx)->owner);
      a->asked += question->can_resume ? "R" : question->resume_failed ? "r" : "-";
      int answer = a->answers.empty() ? kZmodemRename : a->answers.front();
      if (!a->answers.empty()) a->answers.erase(a->answers.begin());
      return answer;
    };
    auto offer = cat({bin_header(ZFILE, c.zf0 << 24), subpacket(file_info("f.bin", "3000"), ZCRCW)});
    rx.e.feed(offer);
    auto r = rx.replies();
    ASSERT_EQ(r.size(), 1u) << c.name;
    EXPECT_EQ(r[0].type, ZCRC) << c.name;
    EXPECT_EQ(r[0].value, 1200u) << c.name;
    rx.e.feed(c.sender_says ? bin_header(ZCRC, ~zmodem_crc32(start.data(), start.size())) : offer);
    r = rx.replies();
    ASSERT_EQ(r.size(), 1u) << c.name;
    EXPECT_EQ(r[0].type, c.reply) << c.name;
    EXPECT_EQ(r[0].value, c.from) << c.name;
    EXPECT_EQ(q.asked, c.asked) << c.name;
    if (c.reply == ZRPOS) {
      std::vector<uint8_t> rest(offered.begin() + c.from, offered.end());
      rx.e.feed(cat({bin_header(ZDATA, c.from), subpacket(rest, ZCRCE), bin_header(ZEOF, 3000)}));
      EXPECT_EQ(read_file_bytes(rx.dir.file(c.saved_as)), offered) << c.name;
      EXPECT_EQ(rx.e.z.files_saved, 1) << c.name;
    }
    if (!c.same_start) {
      EXPECT_EQ(read_file_bytes(rx.dir.file("f.bin")), on_disk) << c.name << ": never appended to";
    }
  }
}

TEST(ZmodemReceiver, DeclinedFileOfferedAgainIsSkippedWithoutAsking) {
  Rx rx;
  write_file_bytes(rx.dir.file("a.txt"), "old");
  rx.e.exists_answers = {kZmodemSkip};
  rx.offer("a.txt");
  EXPECT_EQ(rx.replies().at(0).type, ZSKIP);
  rx.offer("a.txt");
  EXPECT_EQ(rx.replies().at(0).type, ZSKIP);
  EXPECT_EQ(rx.e.exists_asked.size(), 1u);
  EXPECT_STREQ(rx.e.z.status_text, "Skipped a.txt");
  // Another name clears the remembered one.
  rx.offer("b.txt");
  EXPECT_EQ(rx.replies().at(0).type, ZRPOS);
  EXPECT_STREQ(rx.e.z.skip_name, "");
}

TEST(ZmodemReceiver, BadSubpacketIsNeverWritten) {
  Rx rx;
  rx.offer("data.bin", "8192");
  rx.replies();
  auto data = random_bytes(8192, 3);
  std::vector<uint8_t> first(data.begin(), data.begin() + 4096);
  std::vector<uint8_t> second(data.begin() + 4096, data.end());
  std::vector<uint8_t> damaged = subpacket(second, ZCRCE);
  damaged[100] ^= 0x01;
  rx.e.feed(cat({bin_header(ZDATA, 0), subpacket(first, ZCRCG), damaged}));
  auto r = rx.replies();
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].type, ZRPOS);
  EXPECT_EQ(r[0].value, 4096u);
  EXPECT_STREQ(rx.e.z.status_text, "CRC error; retry at 4096");
  EXPECT_EQ(rx.e.z.error_count, 1);
  fflush(rx.e.z.file);
  EXPECT_EQ(read_file_bytes(rx.dir.file("data.bin")).size(), 4096u);
  // The resent subpacket completes the file.
  rx.e.feed(cat({bin_header(ZDATA, 4096), subpacket(second, ZCRCE), bin_header(ZEOF, 8192)}));
  EXPECT_EQ(read_file_bytes(rx.dir.file("data.bin")),
            std::vector<unsigned char>(data.begin(), data.end()));
}

// What DOS-era senders put on the line: XON or XOFF (either parity) before
// and inside headers, and one 8 KiB subpacket for the whole file.
TEST(ZmodemReceiver, FlowControlBetweenFramesAnd8KSubpackets) {
  Rx rx;
  auto sprinkle = [](std::vector<uint8_t> v) {
    std::vector<uint8_t> out;
    // Not after the last byte: what follows a binary header is data.
    for (size_t i = 0; i < v.size(); i++) {
      out.push_back(static_cast<uint8_t>(std::array<int, 4>{0x11, 0x13, 0x91, 0x93}[i % 4]));
      out.push_back(v[i]);
    }
    return out;
  };
  rx.e.feed(cat({sprinkle(bin_header(ZFILE, 0)), subpacket(file_info("k.bin", "8192"), ZCRCW),
                 {0x11}}));
  auto r = rx.replies();
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].type, ZRPOS);
  auto data = random_bytes(8192, 4);
  rx.e.feed(cat({sprinkle(bin_header(ZDATA, 0)), subpacket(data, ZCRCW), {0x11, 0x93}}));
  r = rx.replies();
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].type, ZACK);
  EXPECT_EQ(r[0].value, 8192u);
  rx.e.feed(sprinkle(hex_header(ZEOF, 8192)));
  EXPECT_EQ(read_file_bytes(rx.dir.file("k.bin")), std::vector<unsigned char>(data.begin(), data.end()));
}

TEST(ZmodemReceiver, RepeatedBadSubpacketsGiveUpWithCancel) {
  Rx rx;
  rx.offer("x.bin");
  rx.replies();
  std::vector<uint8_t> bad = subpacket(std::string(100, 'q'), ZCRCW);
  bad[10] ^= 0x40;
  for (int i = 0; i < kZmodemMaxFailures; ++i) {
    rx.e.feed(cat({bin_header(ZDATA, 0), bad}));
    ASSERT_EQ(rx.e.z.active, 1) << i;
    EXPECT_EQ(rx.replies().at(0).type, ZRPOS);
    // The status box is never told the data was kept.
    EXPECT_EQ(std::string(rx.e.z.status_text).find("continuing"), std::string::npos);
  }
  rx.e.feed(cat({bin_header(ZDATA, 0), bad}));
  EXPECT_EQ(rx.e.z.active, 0);
  EXPECT_EQ(rx.e.z.ending, kZmodemFailed);
  EXPECT_STREQ(rx.e.z.status_text, "Too many CRC errors at 0; given up");
  EXPECT_EQ(rx.e.z.error_count, kZmodemMaxFailures + 1);
  EXPECT_EQ(rx.replies().back().kind, WireItem::kCancel);
  EXPECT_TRUE(read_file_bytes(rx.dir.file("x.bin")).empty());
}

TEST(ZmodemReceiver, ProgressResetsTheFailureCount) {
  Rx rx;
  rx.offer("y.bin");
  rx.replies();
  uint32_t pos = 0;
  for (int round = 0; round < 3 * kZmodemMaxFailures; ++round) {
    std::vector<uint8_t> bad = subpacket(std::string(10, 'b'), ZCRCW);
    bad[2] ^= 0x02;
    rx.e.feed(cat({bin_header(ZDATA, pos), bad}));
    if (round % 3 == 2) {
      rx.e.feed(cat({bin_header(ZDATA, pos), subpacket(std::string(10, 'g'), ZCRCW)}));
      pos += 10;
    }
  }
  EXPECT_EQ(rx.e.z.active, 1);
  EXPECT_EQ(rx.e.z.position, pos);
  EXPECT_EQ(rx.e.z.error_count, 3 * kZmodemMaxFailures);
}

TEST(ZmodemReceiver, DataForTheWrongPlaceIsRefused) {
  Rx rx;
  rx.offer("z.bin");
  rx.replies();
  rx.e.feed(cat({bin_header(ZDATA, 0), subpacket("abcd", ZCRCE)}));
  rx.e.feed(cat({bin_header(ZDATA, 100), subpacket("LATE", ZCRCE)}));  // a hole would follow
  auto r = rx.replies();
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].type, ZRPOS);
  EXPECT_EQ(r[0].value, 4u);
  // Asked once: a second stray frame before any data is not answered again.
  rx.e.feed(cat({bin_header(ZDATA, 200), subpacket("LATER", ZCRCE)}));
  EXPECT_TRUE(rx.replies().empty());
  // An early ZEOF does not close the file.
  rx.e.feed(bin_header(ZEOF, 300));
  EXPECT_NE(rx.e.z.file, nullptr);
  rx.e.feed(cat({bin_header(ZDATA, 4), subpacket("efgh", ZCRCE), bin_header(ZEOF, 8)}));
  EXPECT_EQ(rx.e.z.file, nullptr);
  EXPECT_EQ(rx.file("z.bin"), "abcdefgh");
}

TEST(ZmodemReceiver, FileInformationNumbers) {
  Rx rx;
  rx.offer("n.bin", "1234 0 0 0 3");
  EXPECT_EQ(rx.e.z.announced_size, 1234u);
  EXPECT_EQ(rx.e.z.files_done, 1);
  // Three remaining, this one included.
  EXPECT_EQ(rx.e.z.files_total, 3);
  EXPECT_STREQ(rx.e.z.status_text, "Requested file data");

  Rx single;  // what sz sends for one file: 1 remaining
  single.offer("one.bin", "10 14 644 0 1 10");
  EXPECT_EQ(single.e.z.files_done, 1);
  EXPECT_EQ(single.e.z.files_total, 1);
}

TEST(ZmodemReceiver, DamagedFileInformationAsksAgain) {
  Rx rx;
  std::vector<uint8_t> info = subpacket(file_info("good.txt", "5"), ZCRCW);
  info[2] ^= 0x04;  // the name is damaged
  rx.e.feed(cat({bin_header(ZFILE, 0), info}));
  auto r = rx.replies();
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].type, ZNAK);
  EXPECT_EQ(rx.e.z.file, nullptr);
  rx.offer("good.txt", "5");
  EXPECT_EQ(rx.replies().at(0).type, ZRPOS);
  EXPECT_STREQ(rx.e.z.file_name, "good.txt");
}

TEST(ZmodemReceiver, ZrinitRepeatsAfterTheLastEof) {
  Rx rx;
  rx.offer("e.bin");
  rx.e.feed(cat({bin_header(ZDATA, 0), subpacket("x", ZCRCE), bin_header(ZEOF, 1)}));
  std::vector<uint32_t> sent_at;
  for (auto& i : rx.replies())
    if (i.type == ZRINIT) sent_at.push_back(rx.clock - 1000);
  for (int t = 0; t < 1000; ++t) {
    rx.clock += 10;
    zmodem_poll(&rx.e.z);
    for (auto& i : rx.replies())
      if (i.type == ZRINIT) sent_at.push_back(rx.clock - 1000);
  }
  ASSERT_EQ(sent_at.size(), 4u);
  EXPECT_EQ(sent_at[0], 0u);
  EXPECT_EQ(sent_at[1], 2000u);
  EXPECT_EQ(sent_at[2], 4000u);
  EXPECT_EQ(sent_at[3], 6000u);
  EXPECT_STREQ(rx.e.z.status_text, "Ready for finish");
}

TEST(ZmodemReceiver, FinishAfterZfin) {
  struct Case {
    std::string after;
    uint32_t wait_ms;
    bool finished;
  } cases[] = {
      {"OxO", 0, false}, {"OO", 0, true}, {"", 1990, false}, {"", 2000, true}, {"O", 2000, true}};
  for (const auto& c : cases) {
    Rx rx;
    rx.e.feed(hex_header(ZFIN, 0));
    auto r = rx.replies();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].type, ZFIN);
    EXPECT_FALSE(r[0].xon);
    rx.e.feed(c.after);
    rx.clock += c.wait_ms;
    zmodem_poll(&rx.e.z);
    EXPECT_EQ(rx.e.z.active, c.finished ? 0 : 1) << c.after << " " << c.wait_ms;
    if (c.finished) {
      EXPECT_EQ(rx.e.z.ending, kZmodemSucceeded);
      EXPECT_STREQ(rx.e.z.status_text, "ZMODEM finished");
      EXPECT_EQ(rx.e.restores, 1);
    }
  }
}

// A file shorter than the size its sender offered is never a success,
// whichever way the sender stops: its ZFIN while the file is open, or a
// ZEOF before the offered size (the file shrank as it was read, or the
// sender was stopped by what reached it).
TEST(ZmodemReceiver, AFileShorterThanOfferedIsNoSuccess) {
  struct Case {
    const char* name;
    const char* offered_size;
    bool zeof, whole;
  } cases[] = {
      {"ZFIN while the file is open", "100", false, false},
      {"ZEOF before the offered size", "100", true, false},
      {"ZEOF at the offered size", "4", true, true},
      {"ZEOF with no size offered", "0", true, true},
  };
  for (const auto& c : cases) {
    Rx rx;
    rx.offer("cut.bin", c.offered_size);
    rx.e.feed(cat({bin_header(ZDATA, 0), subpacket("half", ZCRCE)}));
    if (c.zeof) rx.e.feed(bin_header(ZEOF, 4));
    rx.e.feed(cat({hex_header(ZFIN, 0), bytes_of("OO")}));
    EXPECT_EQ(rx.e.z.ending, c.whole ? kZmodemSucceeded : kZmodemFailed) << c.name;
    EXPECT_STREQ(rx.e.z.status_text,
                 c.whole ? "ZMODEM finished" : "ZMODEM ended with 1 incomplete file")
        << c.name;
    EXPECT_EQ(rx.e.z.files_saved, c.whole ? 1 : 0) << c.name;
    EXPECT_EQ(rx.file("cut.bin"), "half") << c.name;
  }
}

TEST(ZmodemReceiver, RepeatedZfinAfterTheEndIsAnsweredSilently) {
  Rx rx;
  rx.e.feed(hex_header(ZFIN, 0));
  rx.e.feed("OO");
  ASSERT_EQ(rx.e.z.ending, kZmodemSucceeded);
  rx.replies();
  int draws = rx.e.draws;
  rx.clock += 3000;
  rx.e.feed(hex_header(ZFIN, 0));
  EXPECT_EQ(rx.replies().at(0).type, ZFIN);
  rx.clock += 2000;
  zmodem_poll(&rx.e.z);
  EXPECT_EQ(rx.e.z.active, 0);
  EXPECT_EQ(rx.e.z.ending, kZmodemSilent);
  EXPECT_STREQ(rx.e.z.status_text, "Header: ZFIN");
  EXPECT_EQ(rx.e.draws, draws);
  EXPECT_TRUE(rx.e.terminal.empty());
  // After 15 s a ZFIN is a new transfer again, shown as such.
  rx.clock += 16000;
  rx.e.feed(hex_header(ZFIN, 0));
  EXPECT_GT(rx.e.draws, draws);
}

TEST(ZmodemReceiver, FallbackZrinitOnce) {
  uint32_t clock = 1000;
  ZEndpoint e(&clock);
  e.feed(hex_header(ZRQINIT, 0));
  EXPECT_STREQ(e.z.status_text, "Sent ZRINIT 8K");
  e.take();
  int zrinits = 0;
  for (int t = 0; t < 250; ++t) {  // 2.5 s
    clock += 10;
    zmodem_poll(&e.z);
    for (auto& i : decode_wire(e.take(), 0)) zrinits += i.type == ZRINIT;
  }
  EXPECT_EQ(zrinits, 1);
  EXPECT_STREQ(e.z.status_text, "Fallback ZRINIT");
}

TEST(ZmodemReceiver, SilentSenderIsGivenUpInBoundedTime) {
  Rx rx;
  rx.offer("s.bin");
  rx.e.feed(cat({bin_header(ZDATA, 0), subpacket("abc", ZCRCG)}));
  rx.replies();
  int zrpos = 0;
  uint32_t start = rx.clock;
  while (rx.e.z.active && rx.clock - start < 120000) {
    rx.clock += 100;
    zmodem_poll(&rx.e.z);
    for (auto& i : rx.replies()) zrpos += i.type == ZRPOS;
  }
  EXPECT_EQ(rx.e.z.active, 0);
  EXPECT_LE(rx.clock - start, (kZmodemMaxFailures + 1) * kZmodemRecvStallMs + 200);
  EXPECT_EQ(zrpos, kZmodemMaxFailures);
  EXPECT_EQ(rx.e.z.ending, kZmodemFailed);
  EXPECT_EQ(rx.file("s.bin"), "abc");
}

TEST(ZmodemReceiver, StopRequestCancelsALongDownload) {
  Rx rx;
  rx.offer("long.bin");
  rx.e.feed(bin_header(ZDATA, 0));
  std::string chunk(1024, 'L');
  for (int i = 0; i < 8; ++i) rx.e.feed(subpacket(chunk, ZCRCG));
  EXPECT_EQ(rx.e.z.active, 1);
  rx.e.stop = 1;
  for (int i = 0; i < 16 && rx.e.z.active; ++i) rx.e.feed(subpacket(chunk, ZCRCG));
  EXPECT_EQ(rx.e.z.active, 0);
  EXPECT_STREQ(rx.e.z.status_text, "Download cancelled");
  EXPECT_EQ(rx.replies().back().kind, WireItem::kCancel);
}

TEST(ZmodemReceiver, UnwritableDirectoryAbortsAndTellsTheSender) {
  Rx rx;
  rx.e.dir = rx.dir.file("no/such/dir");
  rx.offer("w.bin");
  EXPECT_EQ(rx.e.z.active, 0);
  EXPECT_STREQ(rx.e.z.status_text, "ZMODEM aborted");
  EXPECT_EQ(rx.replies().back().kind, WireItem::kCancel);
}

TEST(ZmodemReceiver, ZsinitIsAcknowledged) {
  Rx rx;
  rx.e.feed(cat({hex_header(ZSINIT, 0x40000000), subpacket(std::string(1, '\0'), ZCRCW, 0)}));
  auto r = rx.replies();
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].type, ZACK);
}

}  // namespace
