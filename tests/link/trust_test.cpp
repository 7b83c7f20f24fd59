#include "link/trust.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(KnownHosts, NamesAndPatterns) {
  char name[64];
  known_hosts_name("bbs.example.org", 22, name, sizeof name);
  EXPECT_STREQ(name, "bbs.example.org");
  known_hosts_name("::1", 2222, name, sizeof name);
  EXPECT_STREQ(name, "[::1]:2222");

  const struct {
    const char* field;
    const char* name;
    bool match;
  } cases[] = {
      {"bbs.example.org", "BBS.Example.org", true},
      {"other,bbs.example.org", "bbs.example.org", true},
      {"*.example.org", "bbs.example.org", true},
      {"bbs?.example.org", "bbs1.example.org", true},
      {"*.example.org,!bbs.example.org", "bbs.example.org", false},
      {"[127.0.0.1]:2222", "[127.0.0.1]:2222", true},  // brackets are literal
      {"[127.0.0.1]:2222", "127.0.0.1", false},
      {"*", "anything", true},
      {"a*b*c*d", "aXbXXcXXXd", true},
      {"a*b*c*d", "aXbXXcXXX", false},
      {"", "x", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(known_hosts_field_matches(c.field, c.name), c.match) << c.field << " " << c.name;
  }
}

TEST(KnownHosts, HashedNamesMatchOnlyTheirHost) {
  const uint8_t salt[20] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20};
  char hashed[128];
  ASSERT_EQ(known_hosts_hash_name("[127.0.0.1]:2222", salt, hashed, sizeof hashed), 0);
  EXPECT_EQ(std::string(hashed).rfind("|1|AQIDBAUGBwgJCgsMDQ4PEBESExQ=|", 0), 0u) << hashed;
  EXPECT_TRUE(known_hosts_field_matches(hashed, "[127.0.0.1]:2222"));
  EXPECT_FALSE(known_hosts_field_matches(hashed, "[127.0.0.1]:2223"));
  EXPECT_FALSE(known_hosts_field_matches("|1|bad|base64", "x"));
  char small[20];
  EXPECT_EQ(known_hosts_hash_name("h", salt, small, sizeof small), -1);

  // The line of the stored key: comments, markers and other hosts skipped.
  std::string text = std::string("# comment\n") + "@revoked h ssh-ed25519 AAAA\n" +
                     "other ssh-ed25519 AAAA\n" + "h ssh-rsa AAAA\n" + hashed +
                     " ssh-ed25519 AAAA\n";
  EXPECT_EQ(known_hosts_find_line(text, "[127.0.0.1]:2222", "ssh-ed25519"), 5);
  EXPECT_EQ(known_hosts_find_line(text, "h", nullptr), 4);
  EXPECT_EQ(known_hosts_find_line(text, "h", "ssh-ed25519"), 0);
}

TEST(SshConfig, HashKnownHostsAsOpenSshReadsIt) {
  const struct {
    const char* text;
    const char* host;
    int want;
  } cases[] = {
      {"", "h", -1},
      {"HashKnownHosts yes\n", "h", 1},
      {"Host *\n    HashKnownHosts yes\n", "h", 1},  // Debian's ssh_config
      {"Host other\n  HashKnownHosts no\nHost *\n  HashKnownHosts yes\n", "h", 1},
      {"Host h\n  HashKnownHosts no\nHost *\n  HashKnownHosts yes\n", "h", 0},
      {"Host * !h\n  HashKnownHosts yes\n", "h", -1},
      {"Match host h\n  HashKnownHosts yes\n", "h", -1},
      {"hashknownhosts=\"yes\"\n", "h", 1},
      {"# HashKnownHosts yes\n", "h", -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ssh_config_hash_known_hosts(c.text, c.host), c.want) << c.text;
  }
}

TEST(TlsPins, FindsHostAndPort) {
  const char* text =
      "# Kavel certificate pins\n"
      "bbs.example.org 992 AA:BB\n"
      "BBS.example.org 9992 CC:DD\n"
      "broken line\n"
      "::1 992 EE:FF\n";
  char fp[kTlsFingerprintCap];
  EXPECT_EQ(tls_pin_find(text, "bbs.example.org", 9992, fp, sizeof fp), 3);
  EXPECT_STREQ(fp, "CC:DD");
  EXPECT_EQ(tls_pin_find(text, "::1", 992, fp, sizeof fp), 5);
  EXPECT_STREQ(fp, "EE:FF");
  EXPECT_EQ(tls_pin_find(text, "bbs.example.org", 23, fp, sizeof fp), 0);
  EXPECT_EQ(tls_pin_find(text, "broken", 0, fp, sizeof fp), 0);
}

}  // namespace
