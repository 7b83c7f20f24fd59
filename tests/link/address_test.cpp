#include <gtest/gtest.h>

#include "link/link.h"

namespace {

struct Case {
  const char* text;
  int port_arg;
  int result;
  LinkKind kind = LINK_TELNET;
  const char* host = "";
  int port = 0;
  const char* user = "";
};

// Every form users write, what a port argument does to each, and the texts
// that are no address.
const Case kCases[] = {
    {"bbs.example.org", 0, 0, LINK_TELNET, "bbs.example.org", 23, ""},
    {"bbs.example.org", 2323, 0, LINK_TELNET, "bbs.example.org", 2323, ""},
    {"bbs.example.org:2323", 23, 0, LINK_TELNET, "bbs.example.org", 2323, ""},
    {"[2001:db8::1]:2323", 0, 0, LINK_TELNET, "2001:db8::1", 2323, ""},
    {"[2001:db8::1]", 0, 0, LINK_TELNET, "2001:db8::1", 23, ""},
    {"2001:db8::1", 0, 0, LINK_TELNET, "2001:db8::1", 23, ""},
    {"fe80::1%eth0", 0, 0, LINK_TELNET, "fe80::1%eth0", 23, ""},
    {"TELNET://bbs.example.org:2323/", 0, 0, LINK_TELNET, "bbs.example.org", 2323, ""},
    {"ssh://bbs.example.org", 0, 0, LINK_SSH, "bbs.example.org", 22, ""},
    {"ssh://sysop@bbs.example.org:2222", 0, 0, LINK_SSH, "bbs.example.org", 2222, "sysop"},
    {"ssh://guest@[::1]:2222/path", 0, 0, LINK_SSH, "::1", 2222, "guest"},
    {"ssh://a@b@host", 0, 0, LINK_SSH, "host", 22, "a@b"},  // the last @ ends the user
    {"ssh://host", 70000, 0, LINK_SSH, "host", 22, ""},     // a port argument out of range
    {"ssh://host", 23, 0, LINK_SSH, "host", 22, ""},        // an entry's default Port is Telnet's
    {"ssh://host:23", 2323, 0, LINK_SSH, "host", 23, ""},
    {"rlogin://host", 23, 0, LINK_RLOGIN, "host", 513, ""},
    {"telnets://bbs.example.org", 0, 0, LINK_TELNETS, "bbs.example.org", 992, ""},
    {"Telnets://127.0.0.1:9992", 0, 0, LINK_TELNETS, "127.0.0.1", 9992, ""},
    {"rlogin://bbs.example.org", 0, 0, LINK_RLOGIN, "bbs.example.org", 513, ""},
    {"rlogin://joe@bbs.example.org:5513", 0, 0, LINK_RLOGIN, "bbs.example.org", 5513, "joe"},
    {"", 0, -1},
    {"ssh://", 0, -1},
    {"host:", 0, -1},
    {"host:0", 0, -1},
    {"host:65536", 0, -1},
    {"host:23x", 0, -1},
    {"[::1", 0, -1},
    {"[::1]x", 0, -1},
    {"gopher://host", 0, -1},
    {"user@host", 0, -1},  // Telnet takes no user
    {"telnets://user@host", 0, -1},
    {"ssh://@host", 0, -1},
    {"ssh://us er@host", 0, -1},
    {"bad host", 0, -1},  // a space would split a trust file's line
    {"host\nname", 0, -1},
};

TEST(LinkAddress, EveryFormSplitsAsWritten) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    LinkAddress a;
    ASSERT_EQ(link_parse_address(c.text, c.port_arg, &a), c.result);
    if (c.result != 0) continue;
    EXPECT_EQ(a.kind, c.kind);
    EXPECT_STREQ(a.host, c.host);
    EXPECT_EQ(a.port, c.port);
    EXPECT_STREQ(a.user, c.user);
  }
}

TEST(LinkAddress, OverlongPartsAreRefused) {
  std::string host(kLinkHostCap, 'a');
  LinkAddress a;
  EXPECT_EQ(link_parse_address(host.c_str(), 0, &a), -1);
  host.pop_back();
  EXPECT_EQ(link_parse_address(host.c_str(), 0, &a), 0);
  std::string user = "ssh://" + std::string(kLinkUserCap, 'u') + "@h";
  EXPECT_EQ(link_parse_address(user.c_str(), 0, &a), -1);
  EXPECT_EQ(link_parse_address(nullptr, 0, &a), -1);
}

TEST(LinkAddress, KindsDefaultsAndLabels) {
  const struct {
    LinkKind kind;
    int port;
    const char* label;
    bool telnet;
  } kinds[] = {{LINK_TELNET, 23, "", true},
               {LINK_SSH, 22, "SSH", false},
               {LINK_TELNETS, 992, "TLS", true},
               {LINK_RLOGIN, 513, "RLogin", false}};
  for (const auto& k : kinds) {
    EXPECT_EQ(link_default_port(k.kind), k.port);
    EXPECT_STREQ(link_kind_label(k.kind), k.label);
    EXPECT_EQ(link_kind_speaks_telnet(k.kind), k.telnet);
  }
}

}  // namespace
