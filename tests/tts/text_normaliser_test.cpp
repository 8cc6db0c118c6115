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

TEST(Cardinals, TheFeminineChangesUnitsAndHundredsBelowAMillion) {
  const NumberCase cases[] = {
      {1, "uma"},
      {2, "duas"},
      {12, "doze"},
      {21, "vinte e uma"},
      {22, "vinte e duas"},
      {100, "cem"},
      {101, "cento e uma"},
      {200, "duzentas"},
      {1000, "mil"},
      {1200, "mil e duzentas"},
      {2001, "duas mil e uma"},
      {222222, "duzentas e vinte e duas mil duzentas e vinte e duas"},
      {2000000, "dois milhões"},
      {1001000, "um milhão e mil"},
  };
  for (const NumberCase& c : cases)
    EXPECT_EQ(utf8(words(koral::cardinalWords(c.value, true))), c.words) << c.value;
  // Wherever the thousands are one, "mil" stands alone, in either gender.
  EXPECT_EQ(utf8(words(koral::cardinalWords(1001000))), "um milhão e mil");
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
      {"50%", "cinqüenta por cento"},
  };
  for (const TextCase& c : cases) EXPECT_EQ(run(c.text), c.expected) << c.text;
}

// The shipped abbreviation file, with its genders, on the text of radio life.
TEST(EverydayText, ReadAsABrazilianReadsIt) {
  Abbreviations shipped;
  ASSERT_TRUE(koral::loadAbbreviations(shippedFiles().abbreviations, shipped));
  const TextCase cases[] = {
      // A full stop that ends a sentence is a pause; inside a token, "ponto".
      {"Foi a segunda vez.\n", "Foi a segunda vez."},
      {"Foi a segunda vez.\r\n", "Foi a segunda vez."},
      {"vez.\tOutra", "vez. Outra"},
      {"vez.\x01", "vez."},
      {"disse \"sim.\"", "disse aspas sim. aspas"},
      {"radio.com.br", "radio ponto com ponto bê érre"},
      {"versão 3.0.", "versão três ponto zero ."},
      {"Av.\nPaulista", "avenida Paulista"},
      {"a 10 km.", "a dez quilômetros."},
      // Cardinals agree with the noun they count.
      {"2 horas", "duas horas"},
      {"1 hora", "uma hora"},
      {"22 horas", "vinte e duas horas"},
      {"200 pessoas", "duzentas pessoas"},
      {"1.200 pessoas", "mil e duzentas pessoas"},
      {"2 mil pessoas", "duas mil pessoas"},
      {"2 canções e 2 mulheres", "duas canções e duas mulheres"},
      {"1 ou 2 vezes", "uma ou duas vezes"},
      {"de 2 a 3 semanas", "de duas a três semanas"},
      {"às 2 da tarde", "às duas da tarde"},
      {"2 dias, 2 programas, 2 sistemas", "dois dias, dois programas, dois sistemas"},
      {"200 artistas", "duzentos artistas"},
      {"2 milhões de pessoas", "dois milhões de pessoas"},
      {"1 a 0", "um a zero"},
      {"2,5 toneladas", "dois vírgula cinco toneladas"},
      {"2ª vez", "segunda vez"},
      // Clock times.
      {"21h", "vinte e uma horas"},
      {"1h", "uma hora"},
      {"8h.", "oito horas ."},
      {"21h30", "vinte e uma horas e trinta minutos"},
      {"8h05min", "oito horas e cinco minutos"},
      {"21hs", "vinte e uma horas"},
      {"14:30", "quatorze e trinta"},
      {"14:00", "quatorze horas"},
      {"00:03:45", "zero hora, três minutos e quarenta e cinco segundos"},
      {"25:00", "vinte e cinco : zero zero"},
      {"200h", "duzentas horas"},
      // Money.
      {"R$ 35,50", "trinta e cinco reais e cinqüenta centavos"},
      {"R$ 1,00", "um real"},
      {"R$ 0,50", "cinqüenta centavos"},
      {"R$ 0,01", "um centavo"},
      {"R$ 2,5", "dois reais e cinqüenta centavos"},
      {"R$ 1.000", "mil reais"},
      {"R$ 1.000.000", "um milhão de reais"},
      {"R$\xC2\xA0""12", "doze reais"},
      {"US$ 10", "dez dólares"},
      {"US$1", "um dólar"},
      {"€ 5", "cinco euros"},
      {"5,50 €", "cinco euros e cinqüenta centavos"},
      {"R$ 2 bi", "dois bilhões de reais"},
      {"R$ 1,5 milhão", "um vírgula cinco milhão de reais"},
      {"R$ 3 mil", "três mil reais"},
      {"R$", "érre cifrão"},
      {"€", "euro"},
      // Dates; what is no day of a month is read as before.
      {"15/03/2025", "quinze de março de dois mil e vinte e cinco"},
      {"1/5", "primeiro de maio"},
      {"01/01/2026", "primeiro de janeiro de dois mil e vinte e seis"},
      {"29/02/2024", "vinte e nove de fevereiro de dois mil e vinte e quatro"},
      {"29/02/2023", "vinte e nove barra zero dois barra dois mil e vinte e três"},
      {"31/04", "trinta e um barra zero quatro"},
      {"13/13/2025", "treze barra treze barra dois mil e vinte e cinco"},
      {"1/5/2025/3", "um barra cinco barra dois mil e vinte e cinco barra três"},
      {"24/7", "vinte e quatro barra sete"},
      // The number sign and per cent.
      {"nº 1000", "número mil"},
      {"Nº 5", "número cinco"},
      {"n.º 1000", "número mil"},
      {"nºs 1 e 2", "números um e dois"},
      {"83%", "oitenta e três por cento"},
  };
  for (const TextCase& c : cases)
    EXPECT_EQ(utf8(words(koral::normaliseText(cp(c.text), shipped))), c.expected) << c.text;
}

TEST(NounGenders, EndingsListedNounsPluralsAndBadLines) {
  koral::NounGenders g;
  for (const char* line : {"-A=f", "-EMA=m", "DIA=m", "VEZ=f", " da  tarde =F|comment", "-GEM=f"})
    EXPECT_TRUE(g.addLine(cp(line))) << line;
  for (const char* line : {"CASA", "CASA=x", "=f", "-=f", "-MUITOLONGO=f"})
    EXPECT_FALSE(g.addLine(line)) << line;
  struct {
    const char* word;
    bool feminine;
  } cases[] = {{"CASA", true},   {"CASAS", true},     {"PROBLEMA", false}, {"DIAS", false},
               {"VEZES", true},  {"MENSAGENS", true}, {"LIVRO", false},    {"A", false},
               {"DA TARDE", true}, {"", false}};
  for (const auto& c : cases) EXPECT_EQ(g.feminine(c.word), c.feminine) << c.word;
}

TEST(AbbreviationFile, TheGenderSectionIsNoAbbreviation) {
  TempFolder dir;
  std::string path = dir.path() / "x.abr";
  writeFileBytes(path, cp("H=horas\n[GÊNERO]\n-A=f\n[OUTRA]\nX=xis\n"));
  Abbreviations table;
  ASSERT_TRUE(koral::loadAbbreviations(path, table));
  EXPECT_EQ(table.size(), 1u);
  EXPECT_EQ(table.genders().size(), 1u);
  EXPECT_EQ(table.find("X"), nullptr);
  EXPECT_EQ(utf8(words(koral::normaliseText("2 h e 2 pessoas", table))), "duas horas e duas pessoas");
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
  EXPECT_EQ(koral::characterName(0x80), "euro");
  for (int b : {0, 10, 31, 127, 129, 160, 221, 224}) EXPECT_EQ(koral::characterName(b), "") << b;
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
