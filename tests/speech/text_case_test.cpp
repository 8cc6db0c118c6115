#include "speech/text_case.h"

#include <gtest/gtest.h>

namespace ondaria {
namespace {

TEST(FoldUpper, FoldsAccentedLettersOfBothCodePages) {
  // Windows-1252: "São João, ação, pé, índio, über, Ñ, ÿ"
  EXPECT_EQ(foldUpper("S\xE3o Jo\xE3o, a\xE7\xE3o, p\xE9, \xEDndio, \xFC" "ber"),
            "SAO JOAO, ACAO, PE, INDIO, UBER");
  EXPECT_EQ(foldUpper("\xD1\xF1\xDD\xFD\xD7\xF7"), "NNYYXX");
  // The DOS code page: ç (135), é (130), ã-like ä (132), ô (147), ü (129), ñ (164).
  EXPECT_EQ(foldUpper("\x87\x82\x84\x93\x81\xA4"), "CEAOUN");
}

TEST(FoldUpper, NonLettersBecome254AndLigaturesShareOneByte) {
  for (int b : {145, 146, 155, 159, 166, 170, 180, 191, 208, 216, 222, 223, 240, 248, 255, 254})
    EXPECT_EQ(foldUpperChar(static_cast<uint8_t>(b)), 254) << b;
  EXPECT_EQ(foldUpperChar(198), 145);
  EXPECT_EQ(foldUpperChar(230), 145);
}

TEST(FoldUpper, LeavesAsciiOtherThanSmallLettersAlone) {
  std::string all;
  for (int b = 0; b < 128; ++b) all += static_cast<char>(b);
  std::string folded = foldUpper(all);
  ASSERT_EQ(folded.size(), 128u);
  for (int b = 0; b < 128; ++b) {
    int expected = (b >= 'a' && b <= 'z') ? b - 32 : b;
    EXPECT_EQ(static_cast<uint8_t>(folded[b]), expected) << b;
  }
}

TEST(UpperWithAccents, KeepsAccentsAndOnlyShiftsSmallLetters) {
  EXPECT_EQ(upperWithAccents("a\xE7\xE3o p\xE9 x.exe"), "A\xC7\xC3O P\xC9 X.EXE");
  // 223 (ß) and everything below 224 other than a..z stay; 255 becomes 223.
  EXPECT_EQ(upperWithAccents("\xDF\xC0\xAA{}"), "\xDF\xC0\xAA{}");
  EXPECT_EQ(upperWithAccents("\xFF"), "\xDF");
}

}  // namespace
}  // namespace ondaria
