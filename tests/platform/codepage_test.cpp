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

TEST(Codepage, FilesAreReadInTheEncodingTheyWereWrittenIn) {
  struct Case {
    const char* what;
    std::string bytes;
    platform::TextEncoding encoding;
    std::string text;  // program text (cp1252), without the mark
  };
  const Case cases[] = {
      {"empty", "", platform::TextEncoding::Cp1252, ""},
      {"ASCII", "[a]\r\nk=v", platform::TextEncoding::Cp1252, "[a]\r\nk=v"},
      {"Windows-1252", "Not\xED" "cias \x96 \x93x\x94", platform::TextEncoding::Cp1252,
       "Not\xED" "cias \x96 \x93x\x94"},
      {"UTF-8", "Not\xC3\xAD" "cias \xE2\x80\x93", platform::TextEncoding::Utf8, "Not\xED" "cias \x96"},
      {"UTF-8 with a mark", "\xEF\xBB\xBF[VIDEO]", platform::TextEncoding::Utf8Bom, "[VIDEO]"},
      {"a mark alone", "\xEF\xBB\xBF", platform::TextEncoding::Utf8Bom, ""},
      {"UTF-8 outside cp1252", "\xF0\x9F\x93\xBB r\xC3\xA1" "dio", platform::TextEncoding::Utf8, "? r\xE1" "dio"},
      {"cut UTF-8 is cp1252", "r\xC3", platform::TextEncoding::Cp1252, "r\xC3"},
      {"overlong UTF-8 is cp1252", "\xC0\xAF", platform::TextEncoding::Cp1252, "\xC0\xAF"},
  };
  for (const Case& c : cases) {
    const platform::TextEncoding e = platform::detectTextEncoding(c.bytes);
    EXPECT_EQ(e, c.encoding) << c.what;
    EXPECT_EQ(platform::decodeFileText(c.bytes, e), c.text) << c.what;
  }
  EXPECT_EQ(platform::encodeFileText("R\xE1" "dio", platform::TextEncoding::Utf8Bom), "R\xC3\xA1" "dio");
  EXPECT_EQ(platform::encodeFileText("R\xE1" "dio", platform::TextEncoding::Cp1252), "R\xE1" "dio");
}
