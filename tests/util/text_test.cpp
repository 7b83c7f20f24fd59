#include "util/text.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(SafeCopy, TruncatesAndTerminates) {
  char buf[5];
  memset(buf, 'x', sizeof buf);
  safe_copy(buf, sizeof buf, "abcdefgh");
  EXPECT_STREQ(buf, "abcd");
  safe_copy(buf, sizeof buf, nullptr);
  EXPECT_STREQ(buf, "");
  safe_copy(buf, 1, "abc");
  EXPECT_STREQ(buf, "");
  safe_copy(buf, sizeof buf, "ab");
  EXPECT_STREQ(buf, "ab");
}

TEST(Trim, RemovesEveryKindOfBlankOnBothEnds) {
  char a[] = " \t\n\v\f\rabc d\r\n ";
  trim(a);
  EXPECT_STREQ(a, "abc d");
  char b[] = " \t ";
  trim(b);
  EXPECT_STREQ(b, "");
  char c[] = "x";
  trim(c);
  EXPECT_STREQ(c, "x");
}
