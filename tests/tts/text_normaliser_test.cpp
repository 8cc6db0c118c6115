// Text normalisation: numbers, ordinals, abbreviations, spelled acronyms,
// symbol names, and input no text should ever crash.
#include <gtest/gtest.h>

#include "tts/koral_fixture.h"
#include "tts/koral_text.h"
#include "tts/text_normaliser.h"

namespace ondaria::test {
namespace {

using koral::Abbreviations;

// Runs of blanks are one separator for the later stages: compare words only.
std::string words(const std::string& text) {
  std::string out;
  bool blank = true;
  for (char c : text) {
    if (c == ' ') {
      blank = true;
      continue;
    }
    if (blank && !out.empty()) out += ' ';
    out += c;
    blank = false;
  }
  return out;
}

struct NumberCase {
  uint64_t value;
  const char* words;
};

TEST(Cardinals, ReadGroupsWithTheirJoiningWords) {
  const NumberCase cases[] = {
      {0, "zero"},
      {7, "sete"},
      {15, "quinze"},
      {21, "vinte e um"},
      {100, "cem"},
      {101, "cento e um"},
      {115, "cento e quinze"},
      {999, "novecentos e noventa e nove"},
      {1000, "mil"},
      {1001, "mil e um"},
      {1100, "mil e cem"},
      {1234, "mil duzentos e trinta e quatro"},
      {2001, "dois mil e um"},
      {2025, "dois mil e vinte e cinco"},
      {1000000, "um milhão"},
      {2500000, "dois milhões e quinhentos mil"},
      {1000000000, "um bilhão"},
      {999999999999999ULL,
       "novecentos e noventa e nove trilhões novecentos e noventa e nove bilhões novecentos e "
       "noventa e nove milhões novecentos e noventa e nove mil novecentos e noventa e nove"},
  };
  for (const NumberCase& c : cases)
    EXPECT_EQ(utf8(words(koral::cardinalWords(c.value))), c.words) << c.value;
}

TEST(Ordinals, MasculineFeminineAndLarge) {
  EXPECT_EQ(utf8(koral::ordinalWords(1, false)), "primeiro");
  EXPECT_EQ(utf8(koral::ordinalWords(123, false)), "centésimo vigésimo terceiro");
  EXPECT_EQ(utf8(koral::ordinalWords(21, true)), "vigésima primeira");
  EXPECT_EQ(utf8(koral::ordinalWords(1999, false)), "milésimo nongentésimo nonagésimo nono");
  EXPECT_EQ(utf8(koral::ordinalWords(0, false)), "zero");
  // From 2000 on, ordinals are read as cardinals.
  EXPECT_EQ(utf8(words(koral::ordinalWords(2000, false))), "dois mil");
}

struct TextCase {
  const char* text;
  const char* expected;  // words, blanks collapsed
};

class Normalise : public ::testing::Test {
 protected:
  void SetUp() override {
    table_.add("SR", cp("senhor"));
    table_.add("AV", "avenida");
    table_.add("KM", cp("quilômetros"));
    table_.add("H", "horas");
  }
  std::string run(const std::string& utf8Text) {
    return utf8(words(koral::normaliseText(cp(utf8Text), table_)));
  }
  Abbreviations table_;
};

TEST_F(Normalise, NumbersSymbolsAndAbbreviations) {
  const TextCase cases[] = {
      {"1.000.000", "um milhão"},
      {"1000", "mil"},
      {"2001", "dois mil e um"},
      {"007", "zero zero sete"},
      {"1º lugar", "primeiro lugar"},
      {"2ª vez", "segunda vez"},
      {"3os. colocados", "terceiros colocados"},
      {"3,5", "três vírgula cinco"},
      {"2.5", "dois ponto cinco"},
      {"-5", "menos cinco"},
      {"a - casa", "a , casa"},
      {"2222-3333", "dois dois dois dois traço três três três três"},
      {"SP", "ésse pê"},
      {"Sr. Silva", "senhor Silva"},
      {"o Sr.", "o Sr."},
      {"Av. Paulista", "avenida Paulista"},
      {"10 km", "dez quilômetros"},
      {"1 km", "um quilômetro"},
      {"14 h", "quatorze horas"},
      {"a@b", "a arrôba bê"},
      {"guarda-chuva", "guarda-chuva"},
      {"www.site", "dábliu dábliu dábliu ponto site"},
      {"Fim...", "Fim..."},
      {"casa\nverde", "casa verde"},
      {"50%", "cinqüenta porcento"},
  };
  for (const TextCase& c : cases) EXPECT_EQ(run(c.text), c.expected) << c.text;
}

TEST_F(Normalise, ASingleCharacterIsItsName) {
  EXPECT_EQ(run("?"), "interrogação");
  EXPECT_EQ(run("a"), "a");
  EXPECT_EQ(run("é"), "É agudo");
  EXPECT_EQ(koral::normaliseText(std::string(1, '\x07'), table_), "");
}

TEST(CharacterNames, EveryRangeOfTheTable) {
  EXPECT_EQ(utf8(koral::characterName(' ')), "espaço");
  EXPECT_EQ(utf8(koral::characterName('~')), "til");
  EXPECT_EQ(utf8(koral::characterName('C')), " sê");
  EXPECT_EQ(utf8(koral::characterName(0xA7)), "parágrafo");
  EXPECT_EQ(utf8(koral::characterName(0xC7)), "Cê cedilha");
  EXPECT_EQ(utf8(koral::characterName(0xE7)), "Cê cedilha");
  EXPECT_EQ(utf8(koral::characterName(0xD7)), "vezes");
  EXPECT_EQ(utf8(koral::characterName(0xF7)), "dividido por");
  for (int b : {0, 10, 31, 127, 128, 160, 221, 224}) EXPECT_EQ(koral::characterName(b), "") << b;
}

TEST(AbbreviationFile, FirstOfEqualKeysWinsAndCommentsAreSkipped) {
  TempFolder dir;
  std::string path = dir.path() / "x.abr";
  writeFileBytes(path, "; comment\r\n\r\n  sr = senhor \r\nSR=outro\r\nsem igual\r\n=nada\r\n");
  Abbreviations table;
  ASSERT_TRUE(koral::loadAbbreviations(path, table));
  ASSERT_NE(table.find("SR"), nullptr);
  EXPECT_EQ(*table.find("SR"), "senhor");
  EXPECT_EQ(table.find("sr"), nullptr);  // keys are looked up upper-cased
  EXPECT_FALSE(koral::loadAbbreviations((dir.path() / "missing.abr").string(), table));
  EXPECT_FALSE(koral::loadAbbreviations(dir.path().string(), table));  // a folder is no file
}

TEST(AbbreviationFile, StopsAtTwoThousandEntries) {
  TempFolder dir;
  std::string text;
  for (int i = 0; i < 2500; ++i) text += "K" + std::to_string(i) + "=x\n";
  writeFileBytes(dir.path() / "big.abr", text);
  Abbreviations table;
  ASSERT_TRUE(koral::loadAbbreviations((dir.path() / "big.abr").string(), table));
  EXPECT_EQ(table.size(), 2000u);
  EXPECT_EQ(table.find("K2000"), nullptr);
}

TEST(NormaliseBadInput, AnyByteStringGivesBoundedText) {
  Abbreviations none;
  std::string everyByte;
  for (int i = 0; i < 256; ++i) everyByte += static_cast<char>(i);
  const std::string cases[] = {
      everyByte,
      std::string(100000, 'a'),
      std::string(500, 'b') + " " + std::string(500, 'e'),
      std::string(30, '9'),
      "123456789012345678901234567890,5",
      std::string(2000, '.'),
      std::string(2000, '-') + "5",
      "?!,;:()",
      std::string(1000, '\x01'),
  };
  for (const std::string& text : cases) {
    std::string out = koral::normaliseText(text, none);
    // Every byte becomes at most a name of a few words.
    EXPECT_LE(out.size(), text.size() * 40 + 64);
  }
  // A 30-digit number is read in pieces no larger than the largest cardinal.
  EXPECT_EQ(utf8(words(koral::normaliseText(std::string(18, '1'), none))),
            utf8(words(koral::cardinalWords(111111111111111ULL))) + " cento e onze");
}

}  // namespace
}  // namespace ondaria::test
