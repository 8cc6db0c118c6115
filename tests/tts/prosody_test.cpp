// Stress, word classes, intonation codes, the prosody and diphone files, and
// the lines handed to the synthesiser.
#include <gtest/gtest.h>

#include "tts/koral_fixture.h"
#include "tts/koral_text.h"
#include "tts/prosody.h"

namespace ondaria::test {
namespace {

using koral::DiphoneList;
using koral::Prosody;

TEST(Stress, PortugueseAccentAndEndingRules) {
  const struct {
    const char* word;
    int position;
  } cases[] = {
      {"casa", 2}, {"amor", 3}, {"falam", 2}, {"aqui", 4}, {"rua", 2}, {"pai", 2},
      {"táxi", 2}, {"café", 4}, {"você", 4}, {"lápis", 2}, {"órgão", 1}, {"bênção", 2},
      {"irmã", 4}, {"pão", 2}, {"lições", 4}, {"àquele", 4}, {"azul", 3}, {"feliz", 4},
      {"urubu", 5}, {"jardim", 5}, {"algum", 4}, {"saiu", 3}, {"guerra", 3}, {"quero", 3},
      {"água", 1}, {"tranquilo", 7}, {"pessoas", 5}, {"livros", 2}, {"homem", 2},
      {"jovens", 2}, {"pneu", 3}, {"xyz", 0}, {"", 0}, {"s", 0}, {"y", 0}, {"praia", 3}, {"maio", 2}, {"joia", 2}, {"dia", 2}, {"homens", 2}, {"parabéns", 6},
  };
  for (const auto& c : cases)
    EXPECT_EQ(koral::stressPosition(koral::lowerText(cp(c.word))), c.position) << c.word;
}

TEST(Stress, FunctionWords) {
  for (const char* w : {"A", "DE", "OS", "POR", "DAS", "DOS", "COM", "NÃO", "SIM"})
    EXPECT_TRUE(koral::isFunctionWord(cp(w))) << w;
  for (const char* w : {"CASA", "PARA", "SEM"}) EXPECT_FALSE(koral::isFunctionWord(cp(w))) << w;
}

class ProsodyFile : public ::testing::Test {
 protected:
  bool load(const std::string& utf8Text) {
    writeFileBytes(dir_.path() / "p.pro", cp(utf8Text));
    return koral::loadProsody((dir_.path() / "p.pro").string(), prosody_, error_);
  }
  TempFolder dir_;
  Prosody prosody_;
  std::string error_;
};

TEST_F(ProsodyFile, ReadsTheThreeSections) {
  ASSERT_TRUE(load("[DURAÇÃO]\n; vowels\na = 80\nee=95\n_, = 200\nxyz = 7\n[CHAVES]\nde = pr\n"
                   "casa = xxx\n[PROSÓDIA]\nhertz=200\nTABHERTZ=1,2,3,4,5,6,7,8,9,10\n"
                   "|XX|..=571\n--|XX=?85\n"))
      << utf8(error_);
  EXPECT_EQ(prosody_.duration("a"), 80);
  EXPECT_EQ(prosody_.duration("ee"), 95);
  EXPECT_EQ(prosody_.duration("_,"), 200);
  EXPECT_EQ(prosody_.duration("xy"), 7);     // names are cut to two characters
  EXPECT_EQ(prosody_.duration("k"), 100);    // missing: 100
  EXPECT_EQ(prosody_.wordClass("DE"), "PR");
  EXPECT_EQ(prosody_.wordClass("CASA"), "XX");  // classes are cut to two characters
  EXPECT_EQ(prosody_.wordClass("GATO"), "XX");
  EXPECT_EQ(prosody_.hertz, 200);
  EXPECT_EQ(prosody_.pitchTable[9], 10);
  ASSERT_EQ(prosody_.rules.size(), 2u);
  EXPECT_EQ(prosody_.rules[1].previous, "--");
  EXPECT_EQ(prosody_.rules[1].next, "");
  EXPECT_EQ(prosody_.rules[1].code, "?85");
}

TEST_F(ProsodyFile, DamagedFilesGiveTheirMessages) {
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"[CHAVES]\n[PROSÓDIA]\n", "Duração dos difones errada ou ausente"},
      {"[DURAÇÃO]\na 80\n[CHAVES]\n[PROSÓDIA]\n", "Configuração da prosódia: fonema errado: a 80"},
      {"[DURAÇÃO]\na=80\n[PROSÓDIA]\n", "Prosódia: palavras chaves ausentes"},
      {"[DURAÇÃO]\n[CHAVES]\nde\n[PROSÓDIA]\n", "Configuração da prosódia: chave errada: de"},
      {"[DURAÇÃO]\n[CHAVES]\n", "Prosódia: especificações ausentes"},
      {"[DURAÇÃO]\n[CHAVES]\n[PROSÓDIA]\n|XX|\n", "Configuração da prosódia: chave errada: |XX|"},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(load(c.text)) << c.text;
    EXPECT_EQ(utf8(error_), c.message) << c.text;
  }
  // A duration that is not a number keeps the entry, at 100.
  EXPECT_TRUE(load("[DURAÇÃO]\na=muito\n[CHAVES]\n[PROSÓDIA]\n"));
  EXPECT_EQ(prosody_.duration("a"), 100);
  EXPECT_FALSE(koral::loadProsody((dir_.path() / "none.pro").string(), prosody_, error_));
  EXPECT_EQ(utf8(error_), "Configuração da prosódia não foi achada");
}

TEST(DiphoneFile, PairsOfNameRuns) {
  TempFolder dir;
  writeFileBytes(dir.path() / "d.dfn", "; generated\n! x\n* y\na-b\n_ m2\n  s2\tee  extra\nlonely\n");
  DiphoneList list;
  ASSERT_TRUE(koral::loadDiphones((dir.path() / "d.dfn").string(), list));
  EXPECT_EQ(list.size(), 3u);
  EXPECT_TRUE(list.has("a", "b"));
  EXPECT_TRUE(list.has("_", "M2"));  // compared upper-cased
  EXPECT_TRUE(list.has("s2", "ee"));
  EXPECT_FALSE(list.has("b", "a"));
  EXPECT_FALSE(koral::loadDiphones((dir.path() / "none.dfn").string(), list));
}

TEST(SplitWords, WordsPunctuationAndSentenceBoundaries) {
  Prosody p;
  p.keywords = {{"DE", "PR"}};
  auto items = koral::splitWords(cp("Olá, tudo bem? De nada... fim"), p);
  std::vector<std::string> expected = {"[--]",    "[XX]Olá", "[,,],",   "[XX]tudo",  "[XX]bem",
                                       "[??]?",   "[--]",    "[PR]De",  "[XX]nada",  "[.-].-",
                                       "[--]",    "[XX]fim"};
  ASSERT_EQ(items.size(), expected.size());
  for (size_t i = 0; i < items.size(); ++i) EXPECT_EQ(utf8(items[i]), expected[i]) << i;
  // A hyphen parts a compound into words.
  EXPECT_EQ(koral::splitWords("guarda-chuva", p).size(), 3u);
}

TEST(AssignCodes, RulesByNeighbourClassesAndTheQuestionMark) {
  Prosody p;
  p.rules = {{"", "XX", "..", "583"}, {"", "", "", "?85"}, {"PR", "", "", "444"}};
  auto coded = koral::assignCodes({"[--]", "[XX]casa", "[..].", "[XX]linda", "[PR]de"}, p);
  ASSERT_EQ(coded.size(), 5u);
  EXPECT_EQ(coded[0], "585|");       // the first "?" stands for 5
  EXPECT_EQ(coded[1], "583|casa");
  EXPECT_EQ(coded[2], "385|.");      // after a word coded 583
  EXPECT_EQ(coded[3], "585|linda");
  EXPECT_EQ(coded[4], "585|de");     // the first rule that fits wins
  // No rule at all: 555.
  EXPECT_EQ(koral::assignCodes({"[XX]x"}, Prosody{})[0].substr(0, 3), "555");
}

class Lines : public ::testing::Test {
 protected:
  void SetUp() override {
    prosody_.durations = {{"a", 100}, {"k", 80}, {"_,", 200}, {"__", 20}};
    prosody_.hertz = 200;
    prosody_.pitchTable = {0, 50, 60, 70, 80, 100, 110, 120, 130, 140};
    for (std::string pair : {"_-_", "_-k", "k-a", "a-_", "a-k", "_-a", "y-x"})
      diphones_.add(pair.substr(0, pair.find('-')), pair.substr(pair.find('-') + 1));
  }
  std::vector<std::string> build(const std::vector<std::string>& list, double pitch = 1.0,
                                 double duration = 1.0) {
    return koral::buildMbrolaLines(list, prosody_, diphones_, pitch, duration);
  }
  Prosody prosody_;
  DiphoneList diphones_;
};

TEST_F(Lines, DurationsAndThreePitchPointsPerWord) {
  auto lines = build({";597|KAKA", "k", ">a", "k", "a", "", "__"});
  // The closing pause still belongs to the word's melody: its end point.
  std::vector<std::string> expected = {";KAKA", "k 80 50 200", "a 145 80 280", "k 116",
                                       "a 145 50 240", "", "_ 20 50 240"};
  ASSERT_EQ(lines.size(), expected.size());
  for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i], expected[i]) << i;
}

TEST_F(Lines, PausesAndTheSpeechFactors) {
  auto lines = build({";555|", "_", "_ 40", "_,", "__"});
  EXPECT_EQ(lines[1], "_ 100 50 200");
  EXPECT_EQ(lines[2], "_ 40");
  EXPECT_EQ(lines[3], "_ 200");
  // Rate 0, pitch 0 of a start: durations 0.8, pitch 1.0; pitch 11 doubles it.
  auto slow = build({";555|", "a", ""}, 2.0, 0.8);
  EXPECT_EQ(slow[1], "a 80 50 400");
}

TEST_F(Lines, MissingDiphonesGetASilenceOrAGlide) {
  // x-k is missing, _-k exists: a short silence between them.
  auto lines = build({";555|", "x", "k", ""});
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ(lines[1], "y 50");  // _-x missing, y-x present: a glide
  EXPECT_EQ(lines[2], "x 100 50 200");
  EXPECT_EQ(lines[3], "_ 50");
  EXPECT_EQ(lines[4], "k 80");
}

TEST_F(Lines, LongWordsAreShortenedBeforeTheirStress) {
  auto nine = build({";555|ABCDEFGHI", "a", ""});       // 10 characters with ";"
  auto thirteen = build({";555|ABCDEFGHIJKLM", "a", ""});  // 14
  EXPECT_EQ(nine[1].substr(0, 4), "a 90");
  EXPECT_EQ(thirteen[1].substr(0, 4), "a 80");
}

}  // namespace
}  // namespace ondaria::test
