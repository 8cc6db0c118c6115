// The whole engine: where it finds its files, what a damaged file says, the
// speech factors, and texts spoken through the real synthesiser, including
// hostile ones and a synthesiser that dies mid-text.
#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>

#include "tts/koral_fixture.h"

namespace ondaria::test {
namespace {

using koral::KoralEngine;
using koral::KoralFiles;

TEST(KoralFiles, DefaultsAndSettings) {
  KoralFiles f = koral::koralFiles({}, "/opt/ondaria");
  EXPECT_EQ(f.databaseName, "br4");
  EXPECT_EQ(f.rules, "/opt/ondaria/data/koral/portug.nrl");
  EXPECT_EQ(f.exceptions, "/opt/ondaria/data/koral/portug.exc");
  EXPECT_EQ(f.abbreviations, "/opt/ondaria/data/koral/portug.abr");
  EXPECT_EQ(f.prosody, "/opt/ondaria/data/koral/portug.pro");
  EXPECT_EQ(f.diphones, "/opt/ondaria/data/koral/portug.dfn");
  KoralFiles g = koral::koralFiles({"/nowhere/voz", "/d/voz", "meu"}, "/opt/ondaria");
  EXPECT_EQ(g.rules, "/d/voz/meu.nrl");  // a "/" is added to the folder
  EXPECT_EQ(g.database, "");             // not installed
}

TEST(SpeechFactors, RateAndPitchOfTheStart) {
  KoralEngine e;
  e.setSpeechFactors(0, 0);
  EXPECT_DOUBLE_EQ(e.durationFactor(), 0.8);
  EXPECT_DOUBLE_EQ(e.pitchFactor(), 1.0);
  e.setSpeechFactors(3, 11);
  EXPECT_DOUBLE_EQ(e.durationFactor(), 0.6);
  EXPECT_DOUBLE_EQ(e.pitchFactor(), 2.0);
  // Past the sane range the voice stays speech.
  e.setSpeechFactors(100, -50);
  EXPECT_GT(e.durationFactor(), 0.0);
  EXPECT_GT(e.pitchFactor(), 0.0);
}

// A copy of the shipped files in a folder of its own, one of them spoiled.
class LanguageFiles : public ::testing::Test {
 protected:
  void SetUp() override { copyShipped(); }
  void copyShipped() {
    files_ = shippedFiles();
    for (std::string* f : {&files_.rules, &files_.exceptions, &files_.abbreviations, &files_.prosody,
                           &files_.diphones}) {
      std::string to = (dir_.path() / std::filesystem::path(*f).filename()).string();
      if (std::filesystem::exists(*f))
        std::filesystem::copy_file(*f, to, std::filesystem::copy_options::overwrite_existing);
      else writeFileBytes(to, "a-b\n");
      *f = to;
    }
  }
  std::string failure() {
    KoralEngine e;
    EXPECT_FALSE(e.loadLanguage(files_));
    return utf8(e.errorText());
  }
  TempFolder dir_;
  KoralFiles files_;
};

TEST_F(LanguageFiles, EachMissingOrDamagedFileHasItsMessage) {
  KoralEngine fine;
  ASSERT_TRUE(fine.loadLanguage(files_)) << utf8(fine.errorText());
  std::filesystem::remove(files_.rules);
  EXPECT_EQ(failure(), "Erro na base de dados de português");
  copyShipped();
  std::filesystem::remove(files_.exceptions);
  EXPECT_EQ(failure(), "Erro na base de dados de português");
  copyShipped();
  std::filesystem::remove(files_.abbreviations);
  EXPECT_EQ(failure(), "Erro no arquivo de abreviaturas");
  copyShipped();
  writeFileBytes(files_.prosody, "[CHAVES]\n");
  EXPECT_EQ(failure(), "Duração dos difones errada ou ausente\r\nErro no arquivo de prosódia");
  copyShipped();
  std::filesystem::remove(files_.diphones);
  EXPECT_EQ(failure(), "Erro no arquivo de prosódia");
}

TEST(TextStages, AnyByteStringGivesBoundedLines) {
  // The text stages need no voice: a small diphone list stands in where the
  // voice (and so the generated list) is missing.
  TempFolder dir;
  KoralFiles files = shippedFiles();
  if (!std::filesystem::exists(files.diphones)) {
    files.diphones = (dir.path() / "portug.dfn").string();
    writeFileBytes(files.diphones, "_-a\na-_\n");
  }
  KoralEngine e;
  ASSERT_TRUE(e.loadLanguage(files)) << utf8(e.errorText());
  std::string everyByte;
  for (int i = 1; i < 256; ++i) everyByte += static_cast<char>(i);
  std::string hundredKb;
  while (hundredKb.size() < 100000) hundredKb += "Ontem, 23 pessoas viram o Sr. Silva! ";
  for (const std::string& text : {everyByte, hundredKb, std::string(500, 'x'), std::string(30, '7'),
                                  std::string("?!.,;:()"), std::string(5000, '.')}) {
    auto lines = e.mbrolaLines(text);
    EXPECT_LT(lines.size(), text.size() * 60 + 100);
    for (const std::string& l : lines) EXPECT_EQ(l.find('\n'), std::string::npos);
  }
}

class LiveEngine : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_VOICE();
    ASSERT_TRUE(engine_.init(shippedFiles())) << utf8(engine_.errorText());
    engine_.setSpeechFactors(0, 0);
  }
  // Samples of a text, and how loud it got.
  std::vector<int16_t> speak(const std::string& utf8Text, size_t stopAfter = SIZE_MAX,
                             bool* ok = nullptr) {
    std::vector<int16_t> out;
    bool r = engine_.synthesise(cp(utf8Text), [&](const int16_t* s, size_t n) {
      out.insert(out.end(), s, s + n);
      return out.size() < stopAfter;
    });
    if (ok) *ok = r;
    return out;
  }
  static int peak(const std::vector<int16_t>& s) {
    int p = 0;
    for (int16_t v : s) p = std::max(p, std::abs(static_cast<int>(v)));
    return p;
  }
  KoralEngine engine_;
};

TEST_F(LiveEngine, ASentenceIsHeard) {
  bool ok = false;
  auto s = speak("Olá, tudo bem? A rádio toca música brasileira.", SIZE_MAX, &ok);
  EXPECT_TRUE(ok);
  double seconds = static_cast<double>(s.size()) / engine_.sampleRate();
  EXPECT_GT(seconds, 1.5);
  EXPECT_LT(seconds, 6.0);
  EXPECT_GT(peak(s), 3000);
  // Nothing is made for an empty or blank text.
  EXPECT_TRUE(speak("   ").empty());
}

TEST_F(LiveEngine, ACutTextLeavesNothingForTheNext) {
  std::string longText;
  for (int i = 0; i < 40; ++i) longText += "Esta frase longa continua por muito tempo, sem parar. ";
  auto cut = speak(longText, 4000);
  EXPECT_LT(cut.size(), 40000u);
  auto first = speak("casa");
  auto again = speak("casa");
  EXPECT_NEAR(static_cast<double>(first.size()), static_cast<double>(again.size()), 400.0);
}

TEST_F(LiveEngine, AKilledSynthesiserIsRestartedAndTheNextTextSpoken) {
  ::kill(engine_.synthesiser().pid(), SIGKILL);
  bool ok = true;
  auto s = speak("Bom dia.", SIZE_MAX, &ok);
  EXPECT_GE(engine_.restarts(), 1);
  EXPECT_GT(peak(s), 1000);
  // Killed while speaking: the text goes on as far as possible, the next is whole.
  std::string text;
  for (int i = 0; i < 10; ++i) text += "Uma frase depois da outra, sempre igual. ";
  size_t seen = 0;
  engine_.synthesise(cp(text), [&](const int16_t*, size_t n) {
    if (seen == 0) ::kill(engine_.synthesiser().pid(), SIGKILL);
    seen += n;
    return true;
  });
  EXPECT_GE(engine_.restarts(), 2);
  EXPECT_GT(peak(speak("Boa noite.")), 1000);
}

TEST_F(LiveEngine, HostileTextsAreSpokenOrSkippedWithoutHarm) {
  std::string everyByte;
  for (int i = 1; i < 256; ++i) everyByte += static_cast<char>(i);
  for (const std::string& text :
       {everyByte, std::string(500, 'b'), std::string(30, '9'), std::string("?!.,;:()"),
        std::string(300, '\x01'), std::string("a") + std::string(200, '-') + "b"}) {
    speak(text, 200000);
    EXPECT_TRUE(engine_.synthesiser().running());
  }
  EXPECT_GT(peak(speak("fim")), 1000);
}

}  // namespace
}  // namespace ondaria::test
