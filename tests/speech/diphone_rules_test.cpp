// Diphone text translation: the shipped rules on known words, the engine on
// small rule sets, the stress finder, exceptions and the loaders.
#include "speech/diphone_rules.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

namespace ondaria {
namespace {

std::string sourceDir() {
  const char* dir = std::getenv("ONDARIA_SOURCE_DIR");
  return dir != nullptr ? dir : ".";
}

std::string stressed(const std::string& letters) {
  DiphoneWord w;
  size_t pos = 0;
  readWord(letters, pos, w);
  markStress(w);
  return w.letters;
}

std::filesystem::path writeTemp(const std::string& name, const std::string& contents) {
  auto dir = std::filesystem::temp_directory_path() / "ondaria_diphone_rules_test";
  std::filesystem::create_directories(dir);
  auto path = dir / name;
  std::ofstream(path, std::ios::binary) << contents;
  return path;
}

class ShippedRules : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(loadDiphoneRules(sourceDir() + "/data/regras.rgr"));
    ASSERT_TRUE(loadDiphoneExceptions(sourceDir() + "/data/portug.exc"));
  }
  void TearDown() override { freeDiphoneRules(); }
};

// Each phone is written twice ("k k"): the player joins the half before the
// blank with the phone before it, so the tokens read are $K (silence into k),
// $KA, $AZ ... and "#" marks the final half into silence.
TEST_F(ShippedRules, GoldenWords) {
  struct Case {
    const char* text;
    const char* phonetic;
    const char* why;
  } cases[] = {
      {"casa", "[k k/A a/z z/6 6#]", "paroxytone; s between vowels [z]; final a reduced [6]"},
      {"papel", "[p p/a a/p p/3 3/w w#]", "final l: stress on e, open; coda l [w]"},
      {"tatu", "[t t/a a/t t/U u#]", "final u: oxytone, the u upper case"},
      {"aqui", "[a a/k k//I i#]", "the u of qu is silent (empty output); the final i carries stress"},
      {"ave", "[A a/v v/i i#]", "stress decided at the first letter is kept; final e [i]"},
      {"bom", "[b b/5 5#]", "one vowel, no l: no stress mark; final om nasal [o~]"},
      {"voc\xEA", "[v v/o o/c c/e e#]", "e^ sets explicit stress: nothing upper case; close e"},
      {"S\xE3o", "[c c/4 4w w#]", "a~o is the nasal diphthong [6~w~]"},
      {"pqr", "[ /_p][ /_q][ /_r]", "no vowel: spelled as recorded letters"},
      {"Wagner", "[v v/a a/g gi i/n n/e e/h h#]",
       "w next to a letter reads u; the exception uagner gives [vaginex], epenthetic i after g"},
  };
  for (const Case& c : cases) EXPECT_EQ(translateToPhonetic(c.text), c.phonetic) << c.text << ": " << c.why;
}

TEST_F(ShippedRules, MorePortuguese) {
  struct Case {
    const char* text;
    const char* phonetic;
  } cases[] = {
      {"carro", "[k k/A a/h h/u u#]"},                 // rr is the strong r
      {"rato", "[h h/A a/t t/u u#]"},                  // initial r strong
      {"tarde", "[t t/A a/h h/8 8/i i#]"},             // coda r; d before final e [dZi]
      {"filho", "[f f/I i/l ly y/u u#]"},              // lh as l + glide
      {"p\xE3" "es", "[p p/4 4y y/c c#]"},             // a~e then final s
      {"muito", "[m m/7 7y y/t t/u u#]"},              // hidden nasal diphthong
      {"falam", "[f f/A a/l l/4 4w w#]"},              // unstressed final am
      {"escola", "[i i/c c/k k/0 0/l l/6 6#]"},        // exception: open o; initial es [is]
      {"elas", "[3 3/l l/6 6/c c#]"},                  // exception ela found without the s
      {"t\xE1xi", "[t t/a a/k k/c c/i i#]"},           // exception: x as [ks]
      {"frequente", "[f f/r r/e e/k k/w w/2 2/q q/i i#]"},  // spoken u
      {"homem", "[/O o/m m/2 2y y#]"},                 // silent h
      {"Israel", "[i i/z z/h h/a a/3 3/w w#]"},        // voiced s before r; r after s strong
  };
  for (const Case& c : cases) EXPECT_EQ(translateToPhonetic(c.text), c.phonetic) << c.text;
}

TEST_F(ShippedRules, WordsAreJoinedAndNonLettersStandAlone) {
  EXPECT_EQ(translateToPhonetic("bom bom"), "[b b/5 5#][b b/5 5#]");
  // A control character and an unmapped byte become separate "#" words.
  EXPECT_EQ(translateToPhonetic("a\x01" "a"), "[a a#][ /_#][a a#]");
  EXPECT_EQ(translateToPhonetic("a\xDE" "a"), "[a a#][ /_#][a a#]");
  // Windows-1252 punctuation is a pause between words, never a "#".
  EXPECT_EQ(translateToPhonetic("a\x96" "a"), "[a a#][a a#]");
  // "d'" joins the next word; a lone w stays and is spelled.
  EXPECT_EQ(translateToPhonetic("d'a"), "[d d/6 6#]");
  EXPECT_EQ(translateToPhonetic("w"), "[ /_w]");
}

TEST_F(ShippedRules, EveryLetterGroupEndsTheWordWithAFinalHalf) {
  // A word must end in a "#" unit (a phone into silence) or a recorded item;
  // a rule that matches at the word end without closing the word would leave
  // a word-initial half where a final half belongs.
  for (const char* word : {"fim", "ruim", "bem", "irm\xE3", "hotel", "mar", "paz", "t\xF3rax", "l\xE1pis",
                           "caf\xE9", "av\xF3", "av\xF4", "ba\xFA", "bah", "jardins", "algum", "robot",
                           "pinguim", "sagui", "club", "clip", "gol", "sol", "pai", "mau", "p\xF5" "e"}) {
    std::string p = translateToPhonetic(word);
    ASSERT_GE(p.size(), 3u) << word;
    EXPECT_EQ(p.substr(p.size() - 2), "#]") << word << " gives " << p;
  }
}

// ---- Stress finder ---------------------------------------------------------

TEST(DiphoneStress, EndingRules) {
  struct Case {
    const char* word;
    const char* marked;
  } cases[] = {
      {"casa", "cAsa"},   {"papel", "papEl"}, {"tatu", "tatU"},     {"aqui", "aquI"},
      {"ave", "Ave"},     {"bom", "bom"},     {"sol", "sOl"},       {"falam", "fAlam"},
      {"jardim", "jardIm"}, {"bombom", "bombOm"}, {"dia", "dIa"},   {"saia", "sAia"},
      {"rainha", "raInha"}, {"ainda", "aInda"}, {"paula", "pAula"}, {"pai", "pAi"},
      {"saiu", "saIu"},   {"casas", "cAsas"}, {"seguia", "seguIa"}, {"gratuito", "gratUito"},
      {"robot", "rObot"}, {"juiz", "juIz"},   {"queijo", "quEijo"},
  };
  for (const Case& c : cases) EXPECT_EQ(stressed(c.word), c.marked) << c.word;
}

TEST(DiphoneStress, ExplicitMarksAndVowellessWords) {
  EXPECT_EQ(stressed("voce^"), "voce^");  // explicit stress: untouched
  EXPECT_EQ(stressed("sa~o"), "sa~o");
  EXPECT_EQ(stressed("lingu\"ica"), "lingu\"ica");  // the diaeresis is not a stress mark...
  DiphoneWord w;
  size_t pos = 0;
  readWord("lingu\"ica", pos, w);
  EXPECT_FALSE(w.explicitStress);
  EXPECT_EQ(stressed("pqr"), "pqr");
  EXPECT_EQ(stressed("x"), "x");
}

// ---- Reading words and rewriting the text -----------------------------------

TEST(DiphoneRewrite, LettersMarksAndControlBytes) {
  EXPECT_EQ(rewriteDiphoneText("Wagner w y yes"), "uagner w y ies");
  EXPECT_EQ(rewriteDiphoneText("d'agua D'x 'a"), "dagua Dx 'a");
  EXPECT_EQ(rewriteDiphoneText("'a"), "'a");  // first character: stays
  EXPECT_EQ(rewriteDiphoneText("\xE7\xE3\xF1\xFC"), "ssa~nhu");
  EXPECT_EQ(rewriteDiphoneText("a\tb"), "a # b");
  EXPECT_EQ(rewriteDiphoneText("\xDE"), " # ");  // no entry
  EXPECT_EQ(rewriteDiphoneText("\xC5\xD8\xD7"), "a0x");
  EXPECT_EQ(diphoneAccentEntry(0xE9), "e'");
  EXPECT_EQ(diphoneAccentEntry('a'), "");
  // Windows-1252 punctuation is a pause, never a vowel: – — “ ” … • ½ ²
  EXPECT_EQ(rewriteDiphoneText("Pan \x96 S\xE3o"), "Pan   Sa~o");
  EXPECT_EQ(rewriteDiphoneText("\x93R\xE1" "dio\x94\x97\x85\x95\xBD\xB2"), " Ra'dio      ");
  // The typographic apostrophe joins d to the next word as "'" does.
  EXPECT_EQ(rewriteDiphoneText("d\x92\xE1gua"), "da'gua");
}

TEST(DiphoneReadWord, WordsMarksAndSingleCharacters) {
  std::string text = rewriteDiphoneText("  Voc\xEA, 42 ok");
  size_t pos = 0;
  DiphoneWord w;
  ASSERT_TRUE(readWord(text, pos, w));
  EXPECT_EQ(w.letters, "voce^");
  EXPECT_EQ(w.vowelCount, 2);
  EXPECT_TRUE(w.explicitStress);
  ASSERT_TRUE(readWord(text, pos, w));
  EXPECT_EQ(w.letters, ",");
  ASSERT_TRUE(readWord(text, pos, w));
  EXPECT_EQ(w.letters, "4");
  ASSERT_TRUE(readWord(text, pos, w));
  EXPECT_EQ(w.letters, "2");
  ASSERT_TRUE(readWord(text, pos, w));
  EXPECT_EQ(w.letters, "ok");
  EXPECT_FALSE(w.explicitStress);
  EXPECT_FALSE(readWord(text, pos, w));
}

TEST(DiphoneReadWord, OverlongWordContinuesAsTheNextWord) {
  std::string text(300, 'a');
  size_t pos = 0;
  DiphoneWord w;
  ASSERT_TRUE(readWord(text, pos, w));
  EXPECT_EQ(w.letters.size(), kDiphoneWordMax);
  ASSERT_TRUE(readWord(text, pos, w));
  EXPECT_EQ(w.letters.size(), 300 - kDiphoneWordMax);
  EXPECT_FALSE(readWord(text, pos, w));
}

// ---- The rule engine on small rule sets ----------------------------------------

class RuleEngine : public ::testing::Test {
 protected:
  void TearDown() override { freeDiphoneRules(); }
  std::string units(const std::string& rules, const std::string& word) {
    parseDiphoneRules(rules);
    DiphoneWord w;
    w.letters = word;
    return wordToUnits(w);
  }
};

TEST_F(RuleEngine, FirstMatchingRuleWinsAndDefaultsSpellTheLetter) {
  std::string rules = "(AB)=x\n(A)=y\n";
  EXPECT_EQ(units(rules, "abac"), "[x/y/ /_C]");
  EXPECT_EQ(units(rules, "a"), "[y]");
  // A match may not run past the word end.
  EXPECT_EQ(units("(AB)=x\n", "a"), "[ /_A]");
}

TEST_F(RuleEngine, StressedVowelUpperCasesFirstVowelOfItsOutput) {
  EXPECT_EQ(units("(A)=kau\n(B)=bo\n", "bA"), "[bo/kAu]");
}

TEST_F(RuleEngine, ContextSymbols) {
  struct Case {
    const char* rule;
    const char* word;
    bool applies;
  } cases[] = {
      {"#(B)=1", "aeb", true},     {"#(B)=1", "cb", false},     {"#C(B)=1", "aecb", true},
      {"%#(B)=1", "aeb", true},    {"%#(B)=1", "caeb", false},  // "#" passes over every vowel
      {"%(B)=1", "b", true},       {"%(B)=1", "ab", false},     {"(B)%=1", "ab", true},
      {"(B)%=1", "ba", false},     {"](B)=1", "ob", true},      {"](B)=1", "o~b", true},
      {"](B)=1", "eb", false},     {"%](B)=1", "o~b", true},    {"_(B)=1", "b", true},
      {"_(B)=1", "eb", true},      {"_(B)=1", "e'b", true},     {"_(B)=1", "cb", false},
      {"|(B)=1", "nb", true},      {"|(B)=1", "tb", false},     {"(B)&=1", "bz", true},
      {"(B)&=1", "bt", false},     {"(B)*=1", "bt", true},      {"(B)*=1", "bl", false},
      {"(B)*%=1", "bt", false},    // "*" does not move
      {"(B)+=1", "be", true},      {"(B)+=1", "ba", false},     {"(B)+C=1", "be'c", true},
      {"(B)[=1", "b", true},       {"(B)[=1", "bt", true},      {"(B)[=1", "bh", false},
      {"(B)[=1", "ba", false},     {"(B)\\%=1", "b", true},     {"(B)\\%=1", "bs", true},
      {"(B)\\%=1", "bt", false},   {"(B)#%=1", "bae", true},    {"(B)#%=1", "baec", false},
      {"(B)A=1", "bA", true},      // contexts compare upper-cased letters
  };
  for (const Case& c : cases) {
    std::string out = units(c.rule, c.word);
    bool applied = out.find('1') != std::string::npos;
    EXPECT_EQ(applied, c.applies) << c.rule << " on " << c.word << " gives " << out;
  }
}

// ---- Exceptions ---------------------------------------------------------------

TEST(DiphoneExceptions, SortedExactSearchWithFinalSAndM) {
  parseDiphoneExceptions("zebra=zzz\ncasa=kaza|comment\n\nab=x\n");
  ASSERT_EQ(diphoneExceptions().size(), 3u);
  EXPECT_EQ(diphoneExceptions()[0].word, "ab");
  EXPECT_EQ(diphoneExceptions()[1].replacement, "kaza");
  struct Case {
    const char* word;
    const char* after;
  } cases[] = {{"casa", "kaza"}, {"casas", "kazas"}, {"casam", "kazam"}, {"casams", "kazams"},
               {"casar", "casar"}, {"Casa", "Casa"}, {"sms", "sms"}, {"cas", "cas"}};
  for (const Case& c : cases) {
    DiphoneWord w;
    w.letters = c.word;
    applyDiphoneException(w);
    EXPECT_EQ(w.letters, c.after) << c.word;
  }
  freeDiphoneRules();
}

TEST(DiphoneExceptions, ReplacementIsCountedAgain) {
  // A vowelless abbreviation replaced by a word gets its stress like any word,
  // and a replacement with an accent mark keeps the ending rules away.
  parseDiphoneExceptions("sr=senhor\nsala=sa'la\n");
  DiphoneWord w;
  size_t pos = 0;
  readWord("sr", pos, w);
  EXPECT_EQ(w.vowelCount, 0);
  applyDiphoneException(w);
  markStress(w);
  EXPECT_EQ(w.letters, "senhOr");
  pos = 0;
  readWord("salas", pos, w);
  applyDiphoneException(w);
  EXPECT_TRUE(w.explicitStress);
  markStress(w);
  EXPECT_EQ(w.letters, "sa'las");
  freeDiphoneRules();
}

TEST(DiphoneExceptions, LongLinesAndTheEntryLimit) {
  std::string text = std::string(300, 'a') + "=b\n";
  parseDiphoneExceptions(text);
  ASSERT_EQ(diphoneExceptions().size(), 1u);
  // Cut before its "=": the word runs to the appended "|" and can never match.
  EXPECT_EQ(diphoneExceptions()[0].word, std::string(255, 'a') + "|");
  EXPECT_EQ(diphoneExceptions()[0].replacement, "");
  std::string many;
  for (int i = 0; i < 15100; ++i) many += "w" + std::to_string(i) + "=x\n";
  parseDiphoneExceptions(many);
  EXPECT_EQ(diphoneExceptions().size(), kDiphoneExceptionMax);
  freeDiphoneRules();
}

// ---- Loaders ------------------------------------------------------------------------

TEST(DiphoneLoaders, MissingFilesReportFalse) {
  EXPECT_FALSE(loadDiphoneRules("/nonexistent/regras.rgr"));
  EXPECT_FALSE(loadDiphoneExceptions("/nonexistent/portug.exc"));
}

TEST(DiphoneLoaders, RuleLineShapes) {
  auto path = writeTemp("shapes.rgr",
                        "; comment (A)=x\r\n"
                        "LEFTXX(MATCHX)RIGHTX=OUTPUT-TOO-LONG|c\r\n"
                        "(B)=b|trailing comment\r\n"
                        "(C\r\n"
                        "(D)noequals\r\n"
                        "noparen\r\n"
                        "()=empty\r\n"
                        "(a)=lower\r\n"
                        "(\x80)=high\r\n"
                        "\r\n");
  ASSERT_TRUE(loadDiphoneRules(path.string()));
  const auto& m = diphoneRulesFor('M');
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0].left, "LEFTX");
  EXPECT_EQ(m[0].match, "MATCH");
  EXPECT_EQ(m[0].right, "RIGHT");
  EXPECT_EQ(m[0].output, "OUTPUT-TOO-");
  ASSERT_EQ(diphoneRulesFor('B').size(), 1u);
  EXPECT_EQ(diphoneRulesFor('B')[0].output, "b");
  ASSERT_EQ(diphoneRulesFor('C').size(), 1u);  // left and match only
  EXPECT_EQ(diphoneRulesFor('C')[0].output, "");
  ASSERT_EQ(diphoneRulesFor('D').size(), 1u);
  EXPECT_EQ(diphoneRulesFor('D')[0].right, "noequ");
  EXPECT_TRUE(diphoneRulesFor('a').empty());  // 97 is outside the index
  EXPECT_TRUE(diphoneRulesFor(0x80).empty());
  EXPECT_TRUE(diphoneRulesFor(';').empty());
  // Loading again starts from empty lists; a file saved as UTF-8 with a
  // byte-order mark and lines ending in CR alone loses no rule.
  auto other = writeTemp("other.rgr", "\xEF\xBB\xBF(Z)=z\r(Y)=\xC3\xA9\r");
  ASSERT_TRUE(loadDiphoneRules(other.string()));
  EXPECT_TRUE(diphoneRulesFor('B').empty());
  ASSERT_EQ(diphoneRulesFor('Z').size(), 1u);
  ASSERT_EQ(diphoneRulesFor('Y').size(), 1u);
  EXPECT_EQ(diphoneRulesFor('Y')[0].output, "\xE9");
  freeDiphoneRules();
}

TEST(DiphoneLoaders, GarbageRulesAndTextNeverCrash) {
  // Run under the sanitizers: random rules files, then random texts through them.
  std::mt19937 random(20240601);
  std::uniform_int_distribution<int> byte(0, 255);
  const std::string alphabet = "()=|#%]_|&*+[\\ABCDEaeiou'^`~\" \n";
  std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1);
  for (int round = 0; round < 200; ++round) {
    std::string rules;
    for (int i = 0; i < 400; ++i) rules += (i % 3 == 0) ? static_cast<char>(byte(random)) : alphabet[pick(random)];
    parseDiphoneRules(rules);
    parseDiphoneExceptions(rules);
    std::string text;
    for (int i = 0; i < 120; ++i) text += (i % 4 == 0) ? static_cast<char>(byte(random)) : alphabet[pick(random)];
    std::string out = translateToPhonetic(text);
    if (!out.empty()) {
      EXPECT_EQ(out.front(), '[');
    }
  }
  freeDiphoneRules();
}

TEST(DiphoneLoaders, TruncatedShippedRulesStillLoad) {
  std::ifstream in(sourceDir() + "/data/regras.rgr", std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GT(all.size(), 1000u);
  for (size_t cut : {size_t{1}, all.size() / 3, all.size() / 2 + 7, all.size() - 1}) {
    parseDiphoneRules(all.substr(0, cut));
    std::string out = translateToPhonetic("casa papel S\xE3o");
    EXPECT_EQ(out.front(), '[');
    EXPECT_EQ(out.back(), ']');
  }
  freeDiphoneRules();
}

}  // namespace
}  // namespace ondaria
