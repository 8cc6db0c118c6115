#include "platform/codepage.h"

#include <gtest/gtest.h>

using namespace platform;

TEST(Codepage, EveryByteRoundTrips) {
  std::string all;
  for (int i = 1; i < 256; ++i) all += static_cast<char>(i);
  const std::string utf8 = cp1252ToUtf8(all);
  EXPECT_TRUE(isValidUtf8(utf8));
  EXPECT_EQ(utf8ToCp1252(utf8), all);
}

TEST(Codepage, PortugueseLettersAndWindowsPunctuation) {
  EXPECT_EQ(cp1252ToUtf8("S\xE3o Jo\xE3o \x80 \x93x\x94"), "São João € “x”");
  EXPECT_EQ(utf8ToCp1252("ação º ª … —"), "a\xE7\xE3o \xBA \xAA \x85 \x97");
}

TEST(Codepage, MalformedUtf8IsKeptByteForByte) {
  // A lone continuation byte, a truncated sequence at the end, an overlong "/".
  EXPECT_EQ(utf8ToCp1252("a\x80z"), "a\x80z");
  EXPECT_EQ(utf8ToCp1252("ab\xC3"), "ab\xC3");
  EXPECT_EQ(utf8ToCp1252("\xC0\xAF"), "\xC0\xAF");
  EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));  // surrogate
}

TEST(Codepage, UnmappableCharactersAreReplacedOrDropped) {
  EXPECT_EQ(utf8ToCp1252("x\xE4\xB8\xAD"), "x?");  // CJK
  EXPECT_EQ(utf8ToCp1252("x\xE4\xB8\xAD", 0), "x");
  EXPECT_EQ(utf8ToCp1252("\xC4\x87"), "\xE7");  // c-acute from a dead-key layout
}
