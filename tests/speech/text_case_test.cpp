#include "speech/text_case.h"

#include <gtest/gtest.h>

namespace ondaria {
namespace {

TEST(FoldUpper, FoldsTheLettersOfWindows1252) {
  // "São João, ação, pé, índio, über, Ñ, ÿ"
  EXPECT_EQ(foldUpper("S\xE3o Jo\xE3o, a\xE7\xE3o, p\xE9, \xEDndio, \xFC" "ber"),
            "SAO JOAO, ACAO, PE, INDIO, UBER");
  EXPECT_EQ(foldUpper("\xD1\xF1\xDD\xFD\xFF\xD7\xF7"), "NNYYYXX");
  // The letters among 128..159: Š š Ž ž Ÿ Œ œ ƒ.
  EXPECT_EQ(foldUpper("\x8A\x9A\x8E\x9E\x9F\x8C\x9C\x83"), "SSZZYOOF");
}

TEST(FoldUpper, PunctuationAndSymbolsAreNoLetters) {
  // – — “ ” ‘ ’ … • ™ € and ½ ¹ ² ³ º ª: none folds to a letter, so "Jovem
  // Pan – São Paulo" never gains a vowel and a search never matches a dash.
  for (int b : {0x96, 0x97, 0x93, 0x94, 0x91, 0x92, 0x85, 0x95, 0x99, 0x80, 0xBD, 0xB9, 0xB2,
                0xB3, 0xBA, 0xAA, 0xA0, 0xA1, 0xA3, 0xA4, 0xA5}) {
    EXPECT_EQ(foldUpperChar(static_cast<uint8_t>(b)), 254) << b;
    EXPECT_FALSE(isCp1252Letter(static_cast<uint8_t>(b))) << b;
  }
  // Letters without a plain Latin form (eth, thorn) fold to 254 as well.
  for (int b : {208, 222, 240, 254}) EXPECT_EQ(foldUpperChar(static_cast<uint8_t>(b)), 254) << b;
  EXPECT_EQ(foldUpperChar(198), 145);
  EXPECT_EQ(foldUpperChar(230), 145);
  for (int b : {int{'a'}, int{'Z'}, 0x8A, 0x9F, 0xC0, 0xE7, 0xFF}) EXPECT_TRUE(isCp1252Letter(static_cast<uint8_t>(b))) << b;
  for (int b : {int{'1'}, int{' '}, int{'\''}, 0xD7, 0xF7}) EXPECT_FALSE(isCp1252Letter(static_cast<uint8_t>(b))) << b;
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
  // ß, capitals and symbols stay; the division sign is no letter; ÿ š œ ž
  // have their capitals among 128..159.
  EXPECT_EQ(upperWithAccents("\xDF\xC0\xAA{}\xF7"), "\xDF\xC0\xAA{}\xF7");
  EXPECT_EQ(upperWithAccents("\xFF\x9A\x9C\x9E\x96"), "\x9F\x8A\x8C\x8E\x96");
}

}  // namespace
}  // namespace ondaria
