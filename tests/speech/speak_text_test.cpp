// What speakText, speakChar and friends make heard, in order, with diphone
// speech and recorded letters.
#include <gtest/gtest.h>

#include "speech/diphone_rules.h"
#include "speech/diphone_speech.h"
#include "speech_fixture.h"

namespace ondaria::test {
namespace {

class SpeakText : public SpeechTest {
 protected:
  void SetUp() override {
    SpeechTest::SetUp();
    letterFiles("0123456789=-.:/w%");
    for (const char* name : {"_zero", "_MENOS", "_um", "_dois", "_tres", "_quatro", "_cinco",
                             "_sete", "_doze", "_trinta", "_e", "_vinte", "_mil"})
      item(name);
    // No pauses after punctuation: the tests look at what is heard, not when.
    start("[SINTETIZADOR]\r\nPAUSAPONTO3=0\r\nPAUSAVIRG3=0\r\nPAUSADOISPONTOS3=0\r\n");
    ASSERT_FALSE(speechServerActive());
    ASSERT_TRUE(diphoneStarted());
  }
};

TEST_F(SpeakText, NumbersLeadingZerosAndMinus) {
  speakText("007");
  EXPECT_EQ(takeEvents(), (Heard{"recording:_zero", "recording:_zero", "recording:_sete"}));
  speakText("-5");
  EXPECT_EQ(takeEvents(), (Heard{"recording:_MENOS", "recording:_cinco"}));
  speakText("2024");
  EXPECT_EQ(takeEvents(), (Heard{"recording:_dois", "recording:_mil", "recording:_e",
                                 "recording:_vinte", "recording:_e", "recording:_quatro"}));
}

TEST_F(SpeakText, DigitsWithDashesAndLongNumbersAreSpelled) {
  speakText("12-34");
  EXPECT_EQ(takeEvents(), (Heard{"char:1", "char:2", "char:-", "char:3", "char:4"}));
  speakText("1234567");
  EXPECT_EQ(takeEvents(),
            (Heard{"char:1", "char:2", "char:3", "char:4", "char:5", "char:6", "char:7"}));
}

TEST_F(SpeakText, FullStopBetweenDigitsIsSpokenInsideTheNumber) {
  speakText("1.5");
  EXPECT_EQ(takeEvents(), (Heard{"recording:_um", "char:.", "recording:_cinco"}));
}

TEST_F(SpeakText, DashesBeforeBlanksAndDashPairs) {
  speakText("3 - 2");
  EXPECT_EQ(takeEvents(), (Heard{"recording:_tres", "char:-", "recording:_dois"}));
  speakText("--");
  EXPECT_EQ(takeEvents(), (Heard{"char:-", "char:-"}));
}

TEST_F(SpeakText, FifthEqualCharacterInARowClicksInstead) {
  speakText("=======");
  EXPECT_EQ(takeEvents(), (Heard{"char:=", "char:=", "char:=", "char:=", "click", "click",
                                 "click"}));
  // Characters that are not in a row do not add up: full stops between words.
  speakText("w. w. w. w. w. w.");
  Heard e = takeEvents();
  EXPECT_EQ(std::count(e.begin(), e.end(), "click"), 0);
  EXPECT_EQ(std::count(e.begin(), e.end(), "char:."), 6);
}

TEST_F(SpeakText, WwwIsSpelledOnlyAsAWholeRun) {
  speakText("www.site");
  EXPECT_EQ(takeEvents(), (Heard{"char:w", "char:w", "char:w", "char:.", "text:site"}));
  speakText("WwW.x");
  EXPECT_EQ(takeEvents(), (Heard{"char:W", "recording:_unknown", "char:w", "char:W",
                                 "recording:_unknown", "char:.", "text:x"}));
  speakText("www site");  // part of a longer run: a word run for the translation
  EXPECT_EQ(takeEvents(), (Heard{"text:www site"}));
}

TEST_F(SpeakText, AddressColonIsSpokenAsACharacter) {
  speakText("http://x");
  EXPECT_EQ(takeEvents(), (Heard{"text:http", "char::", "char:/", "char:/", "text:x"}));
}

TEST_F(SpeakText, DashJoiningWordsIsDropped) {
  speakText("guarda-chuva");
  EXPECT_EQ(takeEvents(), (Heard{"text:guarda", "text:chuva"}));
}

TEST_F(SpeakText, StationNamesWithWindowsPunctuation) {
  // What reaches the word translation, and which characters are spoken by
  // their names: dashes and quotation marks are never part of a word.
  const struct {
    const char* text;
    Heard heard;
  } cases[] = {
      {"Jovem Pan \x96 S\xE3o Paulo", {"text:Jovem Pan", "char:\x96", "text:S\xE3o Paulo"}},
      {"\x93R\xE1" "dio Clube\x94", {"char:\x93", "text:R\xE1" "dio Clube", "char:\x94"}},
      {"Top\x99 \xBD", {"text:Top", "char:\x99", "char:\xBD"}},
      {"Tom\x97Jobim", {"text:Tom", "text:Jobim"}},
      // "d'" before a letter stays in the word: the translation drops the
      // apostrophe ("d'água" is one word), with either apostrophe.
      {"Olho d'\xC1gua", {"text:Olho d'\xC1gua"}},
      {"Olho d\x92\xC1gua", {"text:Olho d\x92\xC1gua"}},
      {"rock'n", {"text:rock", "char:'", "text:n"}},
  };
  letterFiles("\x96\x93\x94\x99\xBD'");
  for (const auto& c : cases) {
    speakText(c.text);
    EXPECT_EQ(takeEvents(), c.heard) << c.text;
  }
  EXPECT_EQ(translateToPhonetic("d'\xE1gua"), translateToPhonetic("d\xE1gua"));
}

TEST_F(SpeakText, MissingLetterFilePlaysUnknown) {
  item("_unknown", 50, 77);
  buffers.clear();
  speakChar('Q');
  EXPECT_EQ(takeEvents(), (Heard{"char:Q", "recording:_unknown"}));
  ASSERT_FALSE(buffers.empty());
  EXPECT_EQ(buffers[0].bytes[0], 77);
  // Control characters other than 0 and 12 are silent.
  speakChar(9);
  speakChar(31);
  EXPECT_TRUE(takeEvents().empty());
}

TEST_F(SpeakText, RecordingNamesIgnoreLetterCase) {
  std::filesystem::remove(letters / "_MENOS.wav");
  item("_menos", 30, 99);
  EXPECT_TRUE(recordingExists("_MENOS"));
  EXPECT_TRUE(playRecording("_MENOS"));
  EXPECT_FALSE(recordingExists("_MISSING"));
  EXPECT_FALSE(playRecording("_MISSING"));
  EXPECT_EQ(takeEvents(), (Heard{"recording:_MENOS"}));
}

TEST_F(SpeakText, ShortSoundIsQueuedAsAPaddedBuffer) {
  item("_65", 100, 200);
  buffers.clear();
  speakChar('A');
  ASSERT_EQ(buffers.size(), 1u);
  const auto& b = buffers[0].bytes;
  ASSERT_EQ(b.size(), 256u);
  EXPECT_EQ(buffers[0].rate, 11025);
  for (size_t i = 0; i < 99; ++i) ASSERT_EQ(b[i], 200) << i;
  for (size_t i = 99; i < 256; ++i) ASSERT_EQ(b[i], 128) << i;
}

TEST_F(SpeakText, KeyPressedDuringSpeechCutsItAndStaysQueued) {
  onEvent = [](platform::SpeechEvent kind, const std::string&) {
    if (kind == platform::SpeechEvent::Char) pushKey('k');
  };
  speakText("1-2-3 = = = 45");
  EXPECT_EQ(takeEvents(), (Heard{"char:1"}));
  EXPECT_FALSE(isSpeaking());
  EXPECT_EQ(waveQueuedCount(), 0);
  onEvent = nullptr;
  EXPECT_EQ(readKey(), 'k');
  EXPECT_FALSE(keyPressed());
}

TEST_F(SpeakText, NextKeyCutsASoundThatPlaysOnItsOwn) {
  // The field editor plays files without waiting; the next key cuts them.
  waveAsyncFiles() = true;
  item("_long", 20000);
  letterFiles("z");
  EXPECT_TRUE(playRecording("_long"));
  pushKey('z');
  EXPECT_EQ(readKeySpoken(), 'z');
  waveAsyncFiles() = false;
  waitWhileSpeaking();
  EXPECT_EQ(takeEvents(), (Heard{"recording:_long", "cut", "char:z"}));
  pushKey('z');
  readKeySpoken();  // nothing sounds now: no cut is reported
  EXPECT_EQ(takeEvents(), (Heard{"char:z"}));
}

TEST_F(SpeakText, SpokenKeysAndOutput) {
  pushKey('=');
  EXPECT_EQ(readKeySpoken(), '=');
  EXPECT_EQ(takeEvents(), (Heard{"char:="}));
  writeLineSpoken("w=");
  writeNumberSpoken(-5);
  EXPECT_EQ(takeEvents(), (Heard{"text:w", "char:=", "recording:_MENOS", "recording:_cinco"}));
  EXPECT_EQ(charAt(1, 1), 'w');
  EXPECT_EQ(charAt(1, 2), '-');
  EXPECT_EQ(charAt(2, 2), '5');
}

}  // namespace
}  // namespace ondaria::test
