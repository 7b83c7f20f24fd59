#include "app/cli.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <tuple>
#include <vector>

#include "phonebook/prefs.h"
#include "support/test_support.h"

namespace {

// The options point into the argument strings, so those live as long as the
// result (the last parse's arguments are kept).
CliOptions parse(std::vector<std::string> args) {
  static std::vector<std::string> kept;
  kept = std::move(args);
  kept.insert(kept.begin(), "kavel");
  std::vector<char*> argv;
  for (auto& a : kept) argv.push_back(a.data());
  CliOptions o;
  cli_parse(static_cast<int>(argv.size()), argv.data(), &o);
  return o;
}

}  // namespace

TEST(Cli, ArgumentTable) {
  struct Case {
    std::vector<std::string> args;
    CliAction action;
    int mode;
    const char* phonebook;
    const char* host;  // null: none
    int port;
  };
  const std::vector<Case> cases = {
      {{}, CLI_MENU, CLI_MODE_UNCHANGED, nullptr, nullptr, 23},
      {{"bbs.example"}, CLI_DIRECT, CLI_MODE_UNCHANGED, nullptr, "bbs.example", 23},
      {{"bbs", "2323"}, CLI_DIRECT, CLI_MODE_UNCHANGED, nullptr, "bbs", 2323},
      {{"bbs", "0"}, CLI_DIRECT, CLI_MODE_UNCHANGED, nullptr, "bbs", 23},
      {{"bbs", "70000"}, CLI_DIRECT, CLI_MODE_UNCHANGED, nullptr, "bbs", 23},
      {{"bbs", "telnet"}, CLI_DIRECT, CLI_MODE_UNCHANGED, nullptr, "bbs", 23},
      {{"bbs", "64abc"}, CLI_DIRECT, CLI_MODE_UNCHANGED, nullptr, "bbs", 64},
      {{"bbs", "23", "junk", "-x"}, CLI_DIRECT, CLI_MODE_UNCHANGED, nullptr, "bbs", 23},
      // After the host, "-f" is the port text: it falls back to 23, no mode change.
      {{"bbs", "-f"}, CLI_DIRECT, CLI_MODE_UNCHANGED, nullptr, "bbs", 23},
      {{"-m", "-f"}, CLI_MENU, CLI_MODE_FULLSCREEN, nullptr, nullptr, 23},
      {{"-f", "-w"}, CLI_MENU, CLI_MODE_WINDOW, nullptr, nullptr, 23},
      {{"--fullscreen-screen", "--medium"},
       CLI_MENU,
       CLI_MODE_MEDIUM,
       nullptr,
       nullptr,
       23},
      {{"--windowed", "--fullscreen", "h", "99"},
       CLI_DIRECT,
       CLI_MODE_FULLSCREEN,
       nullptr,
       "h",
       99},
      {{"-p", "other.pb"}, CLI_MENU, CLI_MODE_UNCHANGED, "other.pb", nullptr, 23},
      {{"--phonebook", "a.pb", "-p", "b.pb", "host"},
       CLI_DIRECT,
       CLI_MODE_UNCHANGED,
       "b.pb",
       "host",
       23},
      {{"-p"}, CLI_USAGE_ERROR, CLI_MODE_UNCHANGED, nullptr, nullptr, 23},
      {{"-m", "--phonebook"}, CLI_USAGE_ERROR, CLI_MODE_MEDIUM, nullptr, nullptr, 23},
      {{"-x"}, CLI_USAGE_ERROR, CLI_MODE_UNCHANGED, nullptr, nullptr, 23},
      {{"-"}, CLI_USAGE_ERROR, CLI_MODE_UNCHANGED, nullptr, nullptr, 23},
      {{"-F"}, CLI_USAGE_ERROR, CLI_MODE_UNCHANGED, nullptr, nullptr, 23},
      {{"-x", "-h"}, CLI_USAGE_ERROR, CLI_MODE_UNCHANGED, nullptr, nullptr, 23},
      {{"-f", "-h", "host"}, CLI_HELP, CLI_MODE_FULLSCREEN, nullptr, nullptr, 23},
      {{"--help"}, CLI_HELP, CLI_MODE_UNCHANGED, nullptr, nullptr, 23},
      // -h after the host is the port text.
      {{"host", "-h"}, CLI_DIRECT, CLI_MODE_UNCHANGED, nullptr, "host", 23},
      {{"--version", "host"}, CLI_VERSION, CLI_MODE_UNCHANGED, nullptr, nullptr, 23},
      // An address with its own port: that port, over an argument after it.
      {{"bbs:2323"}, CLI_DIRECT, CLI_MODE_UNCHANGED, nullptr, "bbs:2323", 2323},
      {{"bbs:2323", "24"}, CLI_DIRECT, CLI_MODE_UNCHANGED, nullptr, "bbs:2323", 2323},
      {{"telnet://bbs:6400/"},
       CLI_DIRECT,
       CLI_MODE_UNCHANGED,
       nullptr,
       "telnet://bbs:6400/",
       6400},
      {{"[::1]:2323"}, CLI_DIRECT, CLI_MODE_UNCHANGED, nullptr, "[::1]:2323", 2323},
      {{"::1", "64"}, CLI_DIRECT, CLI_MODE_UNCHANGED, nullptr, "::1", 64},
      // The other kinds: their own port, else the argument, else the kind's.
      {{"ssh://bbs"}, CLI_DIRECT, CLI_MODE_UNCHANGED, nullptr, "ssh://bbs", 22},
      {{"ssh://u@bbs", "2222"}, CLI_DIRECT, CLI_MODE_UNCHANGED, nullptr, "ssh://u@bbs", 2222},
      {{"rlogin://u@bbs:600", "24"},
       CLI_DIRECT,
       CLI_MODE_UNCHANGED,
       nullptr,
       "rlogin://u@bbs:600",
       600},
  };
  for (const auto& c : cases) {
    std::string trace;
    for (const auto& a : c.args) trace += a + " ";
    SCOPED_TRACE(trace);
    CliOptions o = parse(c.args);
    EXPECT_EQ(o.action, c.action);
    EXPECT_EQ(o.window_mode, c.mode);
    EXPECT_STREQ(o.phonebook_path, c.phonebook);
    if (c.host) {
      EXPECT_STREQ(o.host, c.host);
    } else {
      EXPECT_EQ(o.host, nullptr);
    }
    EXPECT_EQ(o.port, c.port);
  }
}

TEST(Cli, UsageErrorsNameTheArgument) {
  struct {
    std::vector<std::string> args;
    const char* text;
  } cases[] = {
      {{"-x"}, "unknown option -x"},
      {{"-m", "--bogus", "host"}, "unknown option --bogus"},
      {{"-p"}, "-p needs the path of a phone book file"},
      {{"-w", "--phonebook"}, "--phonebook needs the path of a phone book file"},
  };
  for (const auto& c : cases) {
    CliOptions o = parse(c.args);
    ASSERT_EQ(o.action, CLI_USAGE_ERROR);
    char text[256];
    cli_usage_error_text(o, text, sizeof text);
    EXPECT_STREQ(text, c.text);
  }
}

TEST(Cli, HostOfAnyLengthIsTakenWhole) {
  std::string host(70000, 'h');
  CliOptions o = parse({host, "2"});
  ASSERT_EQ(o.action, CLI_DIRECT);
  EXPECT_EQ(std::string(o.host), host);
  EXPECT_EQ(o.port, 2);
}

TEST(Cli, ParseIntDefault) {
  struct {
    const char* text;
    int expected;
  } cases[] = {
      {nullptr, 23},
      {"", 23},
      {"1", 1},
      {"65535", 65535},
      {"65536", 23},
      {"0", 23},
      {"-5", 23},
      {"+80", 80},
      {"  \t42", 42},
      {"42 ", 42},
      {"12ab", 12},
      {"abc", 23},
      {"-", 23},
      {"+", 23},
      {"0x50", 23},
      {" ", 23},
      {"007", 7},
      {"99999999999999999999999", 23},
      {"-99999999999999999999", 23},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(parse_int_default(c.text, 23), c.expected) << (c.text ? c.text : "(null)");
  }
  EXPECT_EQ(parse_int_default("", -9), -9);  // the default is returned as given
}

TEST(Cli, UsageText) {
  char* buf = nullptr;
  size_t len = 0;
  FILE* f = open_memstream(&buf, &len);
  ASSERT_NE(f, nullptr);
  usage_to(f, "./kavel");
  fclose(f);
  std::string text(buf, len);
  free(buf);
  const std::string expected =
      "Kavel 0.20 - Linux BBS Terminal client\n"
      "Usage:\n"
      "  ./kavel                         Start phone book menu\n"
      "  ./kavel host [port]              Direct connect\n"
      "  ./kavel -f | --fullscreen        Start own-screen fullscreen at current resolution; "
      "scale 640x400\n"
      "  ./kavel -m | --medium            Start in medium windowed mode\n"
      "  ./kavel -w | --windowed          Force normal windowed mode\n"
      "  ./kavel -p phonebook             Use alternate phone book file\n"
      "  ./kavel -h                       Show help\n"
      "  ./kavel --version                Show the version\n"
      "  Alt-Enter cycles normal window -> scaled medium window -> fullscreen.\n"
      "  In a session: Alt-V pastes the clipboard, Ctrl-] hangs up at once, Escape cancels a "
      "transfer,\n  Alt-C starts and stops a capture, Alt-P saves the screen (both into the "
      "download directory).\n";
  EXPECT_EQ(text, expected);
  EXPECT_STREQ(kVersionString, "$VER: Kavel 0.20");
}

// Which phonebook and preferences file the program uses: the one -p names;
// else a file of that name in the current directory (where Kavel kept them
// before); else $XDG_CONFIG_HOME/kavel, an unset, empty or relative
// XDG_CONFIG_HOME counting as ~/.config.  Deciding (and -h saying so)
// creates nothing.
TEST(Cli, WhichPhonebookAndSettings) {
  TempDir root;
  const std::string home = root.file("home");
  const std::string xdg = root.file("xdg");
  const std::string home_config = home + "/.config/kavel/";
  ScopedEnv h("HOME", home.c_str());
  ScopedCwd cwd(root.path());
  struct Case {
    const char* name;
    const char* xdg;
    const char* here;  // files made in the current directory: b phonebook, p prefs, l link
    std::vector<std::string> args;
    std::string book;
    std::string prefs;
  };
  const Case cases[] = {
      {"XDG set", xdg.c_str(), "", {}, xdg + "/kavel/kavel.phonebook", xdg + "/kavel/kavel.prefs"},
      {"XDG unset", nullptr, "", {}, home_config + "kavel.phonebook", home_config + "kavel.prefs"},
      {"XDG empty", "", "", {"-m"}, home_config + "kavel.phonebook", home_config + "kavel.prefs"},
      {"XDG relative", "rel/cfg", "", {}, home_config + "kavel.phonebook",
       home_config + "kavel.prefs"},
      {"a phonebook here", xdg.c_str(), "b", {}, "kavel.phonebook", xdg + "/kavel/kavel.prefs"},
      {"both here", nullptr, "bp", {"host"}, "kavel.phonebook", "kavel.prefs"},
      {"a link here, its target missing", xdg.c_str(), "l", {}, "kavel.phonebook",
       xdg + "/kavel/kavel.prefs"},
      {"-p over the one here", xdg.c_str(), "b", {"-p", "my.pb"}, "my.pb",
       xdg + "/kavel/kavel.prefs"},
      {"-p with XDG unset", nullptr, "p", {"--phonebook", "/srv/b.pb"}, "/srv/b.pb", "kavel.prefs"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string here = c.here;
    if (here.find('b') != std::string::npos) {
      ASSERT_TRUE(write_file_bytes("kavel.phonebook", ""));
    }
    if (here.find('p') != std::string::npos) {
      ASSERT_TRUE(write_file_bytes("kavel.prefs", ""));
    }
    if (here.find('l') != std::string::npos) {
      ASSERT_EQ(symlink("gone", "kavel.phonebook"), 0);
    }
    ScopedEnv x("XDG_CONFIG_HOME", c.xdg);
    CliOptions o = parse(c.args);
    EXPECT_EQ(cli_phonebook_path(o), c.book);
    EXPECT_EQ(transfer_prefs_path(), c.prefs);

    char* buf = nullptr;
    size_t len = 0;
    FILE* f = open_memstream(&buf, &len);
    ASSERT_NE(f, nullptr);
    usage_with_files(f, "kavel", cli_phonebook_path(o).c_str(), transfer_prefs_path().c_str());
    fclose(f);
    std::string text(buf, len);
    free(buf);
    auto absolute = [&](const std::string& p) { return p[0] == '/' ? p : root.file(p); };
    const std::string files =
        "Phone book: " + absolute(c.book) + "\nSettings: " + absolute(c.prefs) + "\n";
    ASSERT_GE(text.size(), files.size());
    EXPECT_EQ(text.substr(text.size() - files.size()), files);

    struct stat st;
    EXPECT_NE(stat(home.c_str(), &st), 0);
    EXPECT_NE(stat(xdg.c_str(), &st), 0);
    unlink("kavel.phonebook");
    unlink("kavel.prefs");
  }
}

// The link's questions on a console: the answer line decides, the end of
// input is no, and where a terminal is required a pipe gets no question.
TEST(Cli, ConsolePrompts) {
  // Input, terminal required, confirm's answer, secret's answer, the secret.
  const std::tuple<const char*, bool, int, int, const char*> cases[] = {
      {"y\npass word\n", false, 1, 1, "pass word"},
      {"YES\r\nx\r\n", false, 1, 1, "x"},
      {"n\n\n", false, 0, 1, ""},
      {"", false, 0, 0, ""},
      {"y\nsecret\n", true, 0, 0, ""},
  };
  for (const auto& [input, only_tty, confirm, secret, typed] : cases) {
    SCOPED_TRACE(input);
    FILE* in = tmpfile();
    ASSERT_NE(in, nullptr);
    fputs(input, in);
    rewind(in);
    char* said = nullptr;
    size_t said_len = 0;
    FILE* out = open_memstream(&said, &said_len);
    CliPromptStreams st{in, out, only_tty};
    LinkPrompts p = cli_console_prompts(&st);
    EXPECT_EQ(p.confirm(p.ctx, "Trust this host key?", "SHA256:abc"), confirm);
    char got[16];
    memset(got, '#', sizeof got);
    EXPECT_EQ(p.secret(p.ctx, "Password:", got, sizeof got), secret);
    EXPECT_STREQ(got, typed);
    p.warn(p.ctx, "Key changed.");
    fclose(out);
    fclose(in);
    std::string text(said, said_len);
    free(said);
    EXPECT_EQ(text.find("SHA256:abc\nTrust this host key? [y/N]: ") != std::string::npos,
              !only_tty);
    EXPECT_NE(text.find("WARNING: Key changed."), std::string::npos);
    EXPECT_TRUE(!typed[0] || text.find(typed) == std::string::npos) << "the secret was echoed";
  }
}

TEST(Cli, EntryLinkKind) {
  char host[64];
  int port = 0;
  for (auto [address, kind, shown] :
       {std::tuple{"ssh://me@bbs.example:2222", "SSH", "bbs.example:2222"},
        {"telnets://bbs.example", "TLS", "bbs.example:992"},
        {"telnet://bbs.example:23", "", ""},
        {"ftp://x", "", ""}}) {
    EXPECT_STREQ(cli_entry_link_kind(address, 0, host, sizeof host, &port), kind);
    EXPECT_EQ(*kind ? std::string(host) + ":" + std::to_string(port) : "", shown);
  }
}
