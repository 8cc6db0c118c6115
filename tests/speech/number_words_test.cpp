#include <gtest/gtest.h>

#include "speech/recorded_speech.h"

namespace ondaria {
namespace {

TEST(NumberWords, Table) {
  struct Case {
    int64_t n;
    const char* words;
  };
  const Case cases[] = {
      {0, "zero"},
      {7, "sete"},
      {10, "dez"},
      {17, "dezessete"},
      {20, "vinte"},
      {21, "vinte e um"},
      {100, "cem"},
      {101, "cento e um"},
      {105, "cento e cinco"},
      {110, "cento e dez"},
      {200, "duzentos"},
      {999, "novecentos e noventa e nove"},
      {1000, "mil "},
      {1001, "mil e um"},
      {1100, "mil e cem"},
      {1234, "mil e duzentos e trinta e quatro"},
      {2000, "dois mil "},
      {2024, "dois mil e vinte e quatro"},
      {100000, "cem mil "},
      {1000000, "um milh\xE3o "},
      {2000000, "dois milh\xF5" "es "},
      {1001000, "um milh\xE3o e um mil "},
      {2147483647,
       "dois bilh\xF5" "es cento e quarenta e sete milh\xF5" "es quatrocentos e oitenta e tres "
       "mil e seiscentos e quarenta e sete"},
      {1000000000000, "um trilh\xE3o "},
      {999999999999999,
       "novecentos e noventa e nove trilh\xF5" "es novecentos e noventa e nove bilh\xF5" "es "
       "novecentos e noventa e nove milh\xF5" "es novecentos e noventa e nove mil e "
       "novecentos e noventa e nove"},
      // Past the five groups of three digits the digits are named one by one.
      {1000000000000000, "um zero zero zero zero zero zero zero zero zero zero zero zero zero "
                         "zero zero"},
  };
  for (const Case& c : cases) EXPECT_EQ(numberWords(c.n), c.words) << c.n;
}

TEST(NumberWords, RecordedItemNames) {
  using Names = std::vector<std::string>;
  EXPECT_EQ(numberWordItems(numberWords(2147483647), false),
            (Names{"_dois", "_bilhoes", "_cento", "_e", "_quarent", "_e", "_sete", "_milhoes",
                   "_quatroc", "_e", "_oitenta", "_e", "_tres", "_mil", "_e", "_seiscen", "_e",
                   "_quarent", "_e", "_sete"}));
  EXPECT_EQ(numberWordItems("dezessete dezesseis milh\xE3o", false),
            (Names{"_dezeset", "_dezesse", "_milhao"}));
  // Feminine changes only the last word.
  EXPECT_EQ(numberWordItems("vinte e um", true), (Names{"_vinte", "_e", "_uma"}));
  EXPECT_EQ(numberWordItems("dois mil e dois", true), (Names{"_dois", "_mil", "_e", "_duas"}));
  EXPECT_EQ(numberWordItems("um mil", true), (Names{"_um", "_mil"}));
  EXPECT_TRUE(numberWordItems("  ", false).empty());
}

}  // namespace
}  // namespace ondaria
