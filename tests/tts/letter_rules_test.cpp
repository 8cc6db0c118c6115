// Letter-to-sound rules: the rule language, exceptions, the liaison pass and
// the shipped rules on words whose pronunciation is settled.
#include <gtest/gtest.h>

#include "tts/koral_fixture.h"
#include "tts/koral_text.h"
#include "tts/letter_rules.h"
#include "tts/prosody.h"

namespace ondaria::test {
namespace {

using koral::LetterRules;

std::string joined(const std::vector<std::string>& items) {
  std::string out;
  for (const std::string& s : items) {
    if (!out.empty()) out += ' ';
    out += s.empty() ? "." : s;  // an empty item shows as "."
  }
  return out;
}

class Rules : public ::testing::Test {
 protected:
  // Loads rules (UTF-8 text) and returns the items of one upper-case word.
  void load(const std::string& utf8Rules, const std::string& utf8Exceptions = "") {
    writeFileBytes(dir_.path() / "r.nrl", cp(utf8Rules));
    writeFileBytes(dir_.path() / "r.exc", cp(utf8Exceptions));
    ASSERT_TRUE(koral::loadRules((dir_.path() / "r.nrl").string(), rules_));
    ASSERT_TRUE(koral::loadExceptions((dir_.path() / "r.exc").string(), rules_));
  }
  std::string word(const std::string& utf8Word, int stress) {
    std::vector<std::string> list;
    koral::wordToPhonemes(rules_, cp(utf8Word), stress, list);
    return utf8(joined(list));
  }
  TempFolder dir_;
  LetterRules rules_;
};

TEST_F(Rules, TheFirstRuleThatHoldsWinsInFileOrder) {
  load("(A)=a\n%(A)=x\n(C)=k\n(S)=s\n");
  EXPECT_EQ(word("ACASA", 0), "a k a s a .");
  load("%(A)=x\n(A)=a\n(C)=k\n(S)=s\n");
  EXPECT_EQ(word("ACASA", 0), "x k a s a .");
}

TEST_F(Rules, ContextSymbols) {
  load(
      "#(S)#=z\n(S)=s\n(C)+=s\n(C)=k\n(A)=a\n(E)=e\n(I)=i\n'(O)=oo\n(O)=o\n(U)=u\n(L)[=w\n(L)=l\n"
      "(R)&=R\n|(R)=rr\n(R)=r\n(N)=n\n(T)*=t&y\n(T)=t\n(M)=m\n(Q)U\\%=Q\n(Q)=k\n"
      "]X(X)=kx\n_(X)=sx\n(X)=x\n(H)=\n");
  const struct {
    const char* word;
    int stress;
    const char* items;
  } cases[] = {
      {"CASA", 0, "k a z a ."},        // # on both sides
      {"SACO", 0, "s a k o ."},
      {"CEU", 0, "s e u ."},           // + front vowel
      {"SALTO", 0, "s a w t o ."},     // [ before a consonant other than H
      {"SAL", 0, "s a w ."},           // [ at the word end
      {"LHA", 0, "l a ."},             // [ fails before H (H itself is silent)
      {"ARLO", 0, "a R l o ."},        // & L M N R Z
      {"HONRA", 0, "o n rr a ."},      // | N R S on the left
      {"RITMO", 0, "r i t y m o ."},   // * a consonant other than L R, not passed
      {"TRO", 0, "t r o ."},           // * fails before R
      {"QUS", 0, "Q u s ."},           // \ takes an S when there is one
      {"QU", 0, "Q u ."},              // ... and holds without one
      {"QUA", 0, "k u a ."},
      {"COCO", 2, "k >oo k o ."},      // ' the stressed letter, and the mark
      {"AXX", 0, "a sx kx ."},         // _ a vowel, then ] a back vowel and X
      {"XX", 0, "sx x ."},             // _ the word start; ] needs a vowel
      {"AXE", 0, "a sx e ."},          // _ a vowel
  };
  for (const auto& c : cases) EXPECT_EQ(word(c.word, c.stress), c.items) << c.word;
}

TEST_F(Rules, OutputsStressMarkAndSilentLetters) {
  load("(KS)=k&s\n(A)=a\n(C)=k\n(S)=s\n(X)=\n");
  // "&" ends a phoneme: two items.
  EXPECT_EQ(word("KS", 0), "k s .");
  // A letter no rule covers is silent; an empty output is silent too.
  EXPECT_EQ(word("AJAX", 0), "a a .");
  // The mark goes before the phoneme that starts at the stressed letter.
  EXPECT_EQ(word("CASA", 2), "k >a s a .");
  EXPECT_EQ(word("CASA", 0), "k a s a .");
  // A mark deferred past a silent letter lands on the next phoneme, once.
  EXPECT_EQ(word("XASA", 1), ">a s a .");
  // A stressed letter beyond the 255th of a very long word still gets one mark.
  std::string longWord(300, 'A');
  std::vector<std::string> list;
  koral::wordToPhonemes(rules_, longWord, 280, list);
  int marks = 0;
  for (const std::string& s : list) marks += !s.empty() && s[0] == '>';
  EXPECT_EQ(marks, 1);
}

TEST_F(Rules, LinesOfTheRulesFile) {
  load("; comment\n\nsem parenteses\n(AB=nada\n(A)=a|coment\xC3\xA1rio\n(B)=b c\n"
       "ABCDEFG(HIJKLMN)OPQRSTU=0123456789012345678901234\n");
  EXPECT_EQ(rules_.ruleCount(), 4u);  // the line without "(" is skipped
  const auto& a = rules_.rulesFor('A');
  ASSERT_EQ(a.size(), 2u);
  EXPECT_EQ(a[0].match, "AB=NA");  // no ")": match to the end (5 kept), nothing else
  EXPECT_EQ(a[0].output, "");
  EXPECT_EQ(a[1].output, "a");       // "|" starts a comment
  EXPECT_EQ(rules_.rulesFor('B')[0].output, "bc");  // blanks never enter a symbol
  const auto& h = rules_.rulesFor('H');
  ASSERT_EQ(h.size(), 1u);
  EXPECT_EQ(h[0].left, "ABCDE");
  EXPECT_EQ(h[0].match, "HIJKL");
  EXPECT_EQ(h[0].right, "OPQRS");
  EXPECT_EQ(h[0].output.size(), 20u);
  EXPECT_FALSE(koral::loadRules((dir_.path() / "missing.nrl").string(), rules_));
}

TEST_F(Rules, ExceptionsReplaceWordsAndKeepAFinalSOrM) {
  load("(A)=a\n", "casa=KAZA|respelling\nlapis=L\xC3\x81PIS\nsem igual\n;COMMENT=X\n");
  EXPECT_EQ(koral::applyException(rules_, "CASA"), "KAZA");
  EXPECT_EQ(koral::applyException(rules_, "CASAS"), "KAZAS");
  EXPECT_EQ(koral::applyException(rules_, "CASAM"), "KAZAM");
  EXPECT_EQ(koral::applyException(rules_, "CASAMS"), "KAZAMS");
  EXPECT_EQ(utf8(koral::applyException(rules_, "LAPIS")), "LÁPIS");
  EXPECT_EQ(koral::applyException(rules_, "CAS"), "CAS");
  EXPECT_EQ(koral::applyException(rules_, "SSS"), "SSS");
  EXPECT_EQ(rules_.exceptions().size(), 2u);
}

TEST(JoinWords, FinalS2AndR2LinkToAVowel) {
  std::vector<std::string> list = {";555|", "__", "", ";555|OS", "w", "s2", "", ";555|AMIGOS",
                                   "a", ">m", "i", "g", "w", "s2", "", ";555|MAR", "m", ">a",
                                   "r2", "", ";555|AZUL", ">a", "z", "u", "w", "", "__"};
  koral::joinWords(list);
  EXPECT_EQ(list[5], "z");     // os amigos
  EXPECT_EQ(list[13], "s2");   // amigos mar: m is no vowel
  EXPECT_EQ(list[18], "r");    // mar azul, past the stress mark
}

// The shipped rules on words whose reading is settled (br4 phonemes; ">"
// marks the stressed phoneme, "|" separates words).
TEST(ShippedRules, WordsReadAsExpected) {
  koral::KoralFiles files = shippedFiles();
  LetterRules rules;
  koral::Prosody prosody;
  ASSERT_TRUE(koral::loadRules(files.rules, rules));
  ASSERT_TRUE(koral::loadExceptions(files.exceptions, rules));
  const struct {
    const char* word;
    const char* items;
  } cases[] = {
      {"casa", "k >a z a"},        {"casas", "k >a z a s2"},      {"carro", "k >a rr w"},
      {"rato", "rr >a t w"},       {"honra", ">on rr a"},         {"porta", "p >oo r2 t a"},
      {"mar", "m >a r2"},          {"pão", "p >@ w"},             {"mãe", "m >an y"},
      {"lições", "l i s >on y s2"}, {"falam", "f >a l @ w"},      {"bem", "b >en"},
      {"também", "t an b >en"},    {"cama", "k >an m a"},         {"banana", "b a n >an n a"},
      {"filho", "f >i lh w"},      {"banho", "b >an nh w"},       {"chave", "x >a v y"},
      {"gente", "j >en t y"},      {"guerra", "g >ee rr a"},      {"água", ">a g w a"},
      {"quatro", "k w >a t r w"},  {"queijo", "k >e y j w"},      {"Brasil", "b r a z >i w"},
      {"alto", ">a w t w"},        {"sol", "s >oo w"},            {"papel", "p a p >ee w"},
      {"café", "k a f >ee"},       {"você", "v o s >e"},          {"avó", "a v >oo"},
      {"avô", "a v >o"},           {"janela", "j a n >ee l a"},   {"mesmo", "m >e z m w"},
      {"festa", "f >ee s2 t a"},   {"nascer", "n a s >e r2"},     {"táxi", "t >a k s i"},
      {"exame", "e z >an m y"},    {"texto", "t >e s2 t w"},      {"lixo", "l >i x w"},
      {"caixa", "k >a y x a"},     {"hora", ">oo r a"},           {"ritmo", "rr >i t y m w"},
      {"advogado", "a d y v o g >a d w"}, {"pai", "p >a y"},      {"meu", "m >e w"},
      {"muito", "m >un y t w"},    {"fim", "f >in"},              {"bom", "b >on"},
      {"mundo", "m >un d w"},      {"história", "i s2 t >oo r y a"}, {"cidade", "s i d >a d y"},
  };
  for (const auto& c : cases) {
    std::string w = koral::upperText(cp(c.word));
    std::string replaced = koral::applyException(rules, w);
    std::vector<std::string> list;
    koral::wordToPhonemes(rules, replaced, koral::stressPosition(koral::lowerText(replaced)), list);
    list.pop_back();  // the closing empty item
    EXPECT_EQ(joined(list), c.items) << c.word;
  }
}

}  // namespace
}  // namespace ondaria::test
