#include "link/rlogin.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct ReplyCase {
  std::string bytes;
  bool closed;
  int verdict;
  size_t used;
  const char* message;
};

// The server's answers: the RFC's zero byte (with data behind it), a
// refusal whole or cut, a server that skips the zero byte.
const ReplyCase kReplyCases[] = {
    {"", false, RLOGIN_REPLY_MORE, 0, ""},
    {"", true, RLOGIN_REPLY_REFUSED, 0, ""},
    {std::string("\0", 1), false, RLOGIN_REPLY_OK, 1, ""},
    {std::string("\0Welcome\r\n", 10), false, RLOGIN_REPLY_OK, 1, ""},
    {"Welcome", false, RLOGIN_REPLY_OK, 0, ""},
    {"\x01Permission denied.", false, RLOGIN_REPLY_MORE, 0, ""},
    {"\x01Permission denied.\r\nmore", false, RLOGIN_REPLY_REFUSED, 21, "Permission denied."},
    {"\x01No user\x07 here", true, RLOGIN_REPLY_REFUSED, 14, "No user  here"},
    {"\x01" + std::string(300, 'x'), false, RLOGIN_REPLY_REFUSED, 1 + kRloginMessageMax, nullptr},
};

TEST(RloginReply, AnswersOfTheServer) {
  for (const ReplyCase& c : kReplyCases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes));
    size_t used = 99;
    char msg[256];
    int v = rlogin_parse_reply(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size(),
                               c.closed, &used, msg, sizeof msg);
    EXPECT_EQ(v, c.verdict);
    EXPECT_EQ(used, c.used);
    if (c.message)
      EXPECT_STREQ(msg, c.message);
    else
      EXPECT_EQ(strlen(msg), kRloginMessageMax);
  }
}

TEST(RloginReply, RefusalFitsASmallBuffer) {
  const std::string bytes = "\x01" + std::string(50, 'y') + "\n";
  char msg[8];
  size_t used = 0;
  EXPECT_EQ(rlogin_parse_reply(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), false,
                               &used, msg, sizeof msg),
            RLOGIN_REPLY_REFUSED);
  EXPECT_STREQ(msg, "yyyyyyy");
  EXPECT_EQ(used, bytes.size());
}

TEST(RloginReply, WindowMessageIsRowsThenColumns) {
  uint8_t m[kRloginWindowMessageSize];
  rlogin_window_message(80, 25, m);
  const uint8_t want[] = {0xFF, 0xFF, 's', 's', 0, 25, 0, 80, 0, 0, 0, 0};
  EXPECT_EQ(memcmp(m, want, sizeof want), 0);
  rlogin_window_message(70000, -3, m);
  EXPECT_EQ(m[4] * 256 + m[5], 0);
  EXPECT_EQ(m[6] * 256 + m[7], 65535);
}

}  // namespace
