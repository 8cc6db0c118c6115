// Start-up settings, beeps and clicks, recorded numbers and dates, touch
// tones, the battery report and opening links.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <thread>

#include "platform/power.h"
#include "speech/diphone_speech.h"
#include "speech_fixture.h"

namespace ondaria::test {
namespace {

using Frontend = SpeechTest;

TEST_F(Frontend, SpeedLevelComesFromTheCallerOrTheSettings) {
  std::string base = settings;
  auto levelWith = [&](const std::string& velocidade, int given) {
    settings = base + "VELOCIDADE=" + velocidade + "\r\n";
    start("", given);
    int level = speechSpeed();
    endSpeech();
    return level;
  };
  EXPECT_EQ(levelWith("5", 9), 3);   // the caller's 9 is out of range
  EXPECT_EQ(levelWith("5", 2), 2);   // the caller's level wins
  EXPECT_EQ(levelWith("5", 0), 5);   // 0 or less: from the settings
  EXPECT_EQ(levelWith("4", -1), 4);
  EXPECT_EQ(levelWith("7", 0), 3);   // out of range in the settings too
  EXPECT_EQ(levelWith("r\xE1pido", 0), 3);
}

TEST_F(Frontend, SpeedLevelSetsWaveSwitchesAndDirectories) {
  start("[SINTETIZADOR]\r\nCORTAFALA4=Sim\r\nRAPIDINHO4=nao\r\n", 4);
  EXPECT_TRUE(waveCompressOn());
  EXPECT_FALSE(waveRateUp());
  EXPECT_EQ(lettersDirectory(), letters.string() + "/");
  EXPECT_EQ(soundDirectory(), (root / "som").string() + "/");
  setSpeechSpeed(3, soundDirectory());
  EXPECT_EQ(speechSpeed(), 3);
  EXPECT_FALSE(waveCompressOn());
  EXPECT_EQ(soundDirectory(), (root / "som").string() + "/");
}

TEST_F(Frontend, LowVisionZoom) {
  start();
  EXPECT_EQ(lowVisionSettings().zoom, 0);  // missing: the strip stays off
  EXPECT_EQ(lowVisionSettings().textColour, 14);
  endSpeech();
  LowVisionSettings seen;
  setLowVisionHook([&seen](const LowVisionSettings& v) { seen = v; });
  start("[BAIXAVISAO]\r\nAMPLIACAO=muito\r\nCORLETRA=16\r\nCORFUNDO=0\r\n");
  setLowVisionHook(nullptr);
  EXPECT_EQ(seen.zoom, 3);  // not a number: zoom 3
  EXPECT_EQ(seen.textColour, 14);
  EXPECT_EQ(seen.backColour, 0);
  EXPECT_EQ(seen.cursorColour, 3);
}

// Bad low-vision values fall back to the defaults, one key at a time.
TEST_F(Frontend, LowVisionValuesOutOfRangeTakeTheDefaults) {
  struct Row {
    const char* value;
    int zoom, text, back, cursor;
  };
  const Row table[] = {
      {"", 0, 14, 6, 3},     {"-1", 3, 14, 6, 3},  {"999", 3, 14, 6, 3}, {"dez", 3, 14, 6, 3},
      {" 10 ", 10, 10, 10, 10}, {"0", 0, 0, 0, 0}, {"15", 3, 15, 15, 15}, {"16", 3, 14, 6, 3},
  };
  for (const Row& r : table) {
    const std::string v = r.value;
    start("[BAIXAVISAO]\r\nAMPLIACAO=" + v + "\r\nCORLETRA=" + v + "\r\nCORFUNDO=" + v +
          "\r\nCORCURSOR=" + v + "\r\n");
    const LowVisionSettings got = lowVisionSettings();
    endSpeech();
    EXPECT_EQ(got.zoom, r.zoom) << "'" << v << "'";
    EXPECT_EQ(got.textColour, r.text) << "'" << v << "'";
    EXPECT_EQ(got.backColour, r.back) << "'" << v << "'";
    EXPECT_EQ(got.cursorColour, r.cursor) << "'" << v << "'";
  }
}

TEST_F(Frontend, MissingDiphoneDirectoryEndsStartUpAfterTwoLines) {
  settings = "[TRADUTOR]\r\nSAPI=N\r\nDIRLETRAS=" + letters.string() + "\r\nDIRDIFONES=" +
             (root / "nowhere").string() + "\r\n";
  pushKey(13);  // the Enter that start-up waits for
  EXPECT_THROW(start(), ConsoleClosed);
  EXPECT_EQ(keyCount(), 0);
  std::string grid = platform::gridToUtf8(consoleGrid());
  EXPECT_NE(grid.find("Erro de inicializa\xC3\xA7\xC3\xA3o: 1"), std::string::npos) << grid;
  EXPECT_NE(grid.find("Banco de dados de voz: DIFONES2"), std::string::npos) << grid;
  EXPECT_FALSE(diphoneStarted());
}

TEST_F(Frontend, MissingRulesFileIsCodeTwo) {
  std::filesystem::remove(difones / "portug.exc");
  pushKey(13);
  EXPECT_THROW(start(), ConsoleClosed);
  EXPECT_NE(platform::gridToUtf8(consoleGrid()).find("inicializa\xC3\xA7\xC3\xA3o: 2"), std::string::npos);
}

TEST_F(Frontend, DirectoryShorthandsServeDiphoneSpeechToo) {
  // "@" is the program's directory; the data is found through it by both the
  // front-end and diphone speech.
  std::string rel = std::filesystem::relative(letters, programDirectory()).string();
  std::string relDif = std::filesystem::relative(difones, programDirectory()).string();
  settings = "[LUMARE]\r\nPGMLUMARE=" + programDirectory() + "\r\n[TRADUTOR]\r\nSAPI=N\r\n" +
             "DIRLETRAS=@\\" + rel + "\r\nDIRDIFONES=@\\" + relDif + "\r\n";
  start();
  EXPECT_TRUE(diphoneStarted());
  item("_88", 20);
  speakChar('X');
  EXPECT_EQ(takeEvents(), (Heard{"char:X"}));
}

TEST_F(Frontend, ServerThatCannotStartFallsBackToDiphones) {
  settings = "[TRADUTOR]\r\nSAPI=S\r\nDIRLETRAS=" + letters.string() + "\r\nDIRDIFONES=" +
             difones.string() + "\r\n[SERVFALA]\r\nTIPOSAPI=3\r\n" +
             "[KORALTTS]\r\nMBROLA_DB=/nonexistent/voz\r\n";
  start();
  EXPECT_FALSE(speechServerActive());
  EXPECT_EQ(speechServerType(), 3);
  letterFiles("x");
  speakText("abc x");
  EXPECT_EQ(takeEvents(), (Heard{"text:abc x"}));
}

TEST_F(Frontend, ErrorBeepWaveformAndDiscardedKeys) {
  start();
  pushKey('a');
  pushKey('b');
  errorBeep();
  EXPECT_FALSE(keyPressed());
  EXPECT_EQ(takeEvents(), (Heard{"beep"}));
  ASSERT_EQ(buffers.size(), 1u);
  EXPECT_EQ(buffers[0].rate, 11025);
  EXPECT_EQ(buffers[0].bits, 8);
  EXPECT_EQ(buffers[0].channels, 1);
  const auto& b = buffers[0].bytes;
  ASSERT_EQ(b.size(), 512u);
  const uint8_t pattern[8] = {128, 112, 96, 80, 64, 80, 96, 112};
  for (size_t i = 0; i + 1 < 512; ++i) ASSERT_EQ(b[i], pattern[i % 8]) << i;
  EXPECT_EQ(b[511], 128);
}

TEST_F(Frontend, ClickWaveformAndCompressionLeftAsItWas) {
  start("[SINTETIZADOR]\r\nCORTAFALA3=S\r\n");
  ASSERT_TRUE(waveCompressOn());
  clickSound();
  EXPECT_TRUE(waveCompressOn());
  clickSound();
  EXPECT_EQ(takeEvents(), (Heard{"click", "click"}));
  ASSERT_EQ(buffers.size(), 2u);
  const auto& b = buffers[0].bytes;
  ASSERT_EQ(b.size(), 256u);  // not shortened
  std::set<int> values;
  for (size_t i = 0; i < 64; ++i) {
    EXPECT_GE(b[i], 128);
    EXPECT_LE(b[i], 187);
    values.insert(b[i]);
  }
  EXPECT_GT(values.size(), 5u);  // noise, not a constant
  for (size_t i = 64; i < 256; ++i) ASSERT_EQ(b[i], 128) << i;
  EXPECT_EQ(buffers[1].bytes, b);  // drawn once per run
}

TEST_F(Frontend, TimeAndDateFromRecordedWords) {
  start();
  speakHourMinute(1, 1);
  speakHourMinute(2, 0);
  Heard e = takeEvents();
  EXPECT_TRUE(e.empty());  // no word files: everything is skipped silently
  for (const char* w : {"_uma", "_hora", "_um", "_minuto", "_duas", "_horas", "_Quarta",
                        "_primeir", "_de", "_Janeiro", "_dois", "_mil", "_e", "_vinte",
                        "_cinco", "_noventa", "_oitocen", "_novecen", "_cem"})
    item(w);
  speakHourMinute(1, 1);
  EXPECT_EQ(takeEvents(),
            (Heard{"recording:_uma", "recording:_hora", "recording:_um", "recording:_minuto"}));
  speakHourMinute(2, 0);
  EXPECT_EQ(takeEvents(), (Heard{"recording:_duas", "recording:_horas"}));
  speakDayMonthYear(1, 1, 2025);  // a Wednesday
  EXPECT_EQ(takeEvents(),
            (Heard{"recording:_Quarta", "recording:_primeir", "recording:_de",
                   "recording:_Janeiro", "recording:_de", "recording:_dois", "recording:_mil",
                   "recording:_e", "recording:_vinte", "recording:_e", "recording:_cinco"}));
  // Years outside 2000..2099 are read whole.
  speakDayMonthYear(1, 1, 1990);
  Heard y = takeEvents();
  ASSERT_GE(y.size(), 5u);
  EXPECT_EQ(Heard(y.end() - 5, y.end()), (Heard{"recording:_mil", "recording:_e",
                                                "recording:_novecen", "recording:_e",
                                                "recording:_noventa"}));
  speakDayMonthYear(1, 1, 2100);
  Heard c = takeEvents();
  ASSERT_GE(c.size(), 4u);
  EXPECT_EQ(Heard(c.end() - 4, c.end()),
            (Heard{"recording:_dois", "recording:_mil", "recording:_e", "recording:_cem"}));
}

TEST_F(Frontend, WordsAreJoinedInBuffersOfAtMost30000Samples) {
  start();
  item("_vinte", 20000, 1);
  item("_e", 5000, 2);
  item("_um", 9000, 3);
  speakWords("vinte e um", false);
  // 20000 + 5000 fit one buffer; 9000 more would pass 30000: a second buffer.
  size_t total = 0;
  std::vector<size_t> sizes;
  for (const auto& b : buffers) total += b.bytes.size();
  EXPECT_EQ(total, 34000u);
  EXPECT_EQ(takeEvents(), (Heard{"recording:_vinte", "recording:_e", "recording:_um"}));
  ASSERT_FALSE(buffers.empty());
  // The last buffer starts with the samples of "um".
  size_t seen = 0, firstOfUm = 0;
  for (const auto& b : buffers) {
    if (seen == 25000) firstOfUm = b.bytes[0];
    seen += b.bytes.size();
  }
  EXPECT_EQ(firstOfUm, 3u);
}

TEST_F(Frontend, DialTonesPlayDigitsHashAndStar) {
  start("[SINTETIZADOR]\r\nRAPIDINHO3=S\r\n");
  for (const char* t : {"dtmf_1", "dtmf_#", "dtmf_X"}) item(t, 30);
  buffers.clear();
  playDialTones("1#*a");
  EXPECT_EQ(takeEvents(), (Heard{"recording:dtmf_1", "recording:dtmf_#", "recording:dtmf_X"}));
  ASSERT_FALSE(buffers.empty());
  EXPECT_EQ(buffers[0].rate, 11025);  // never played faster
  EXPECT_TRUE(waveRateUp());
}

TEST_F(Frontend, BatteryStatus) {
  start();
  item("_SEMBAT");
  item("_SEMENER");
  item("_37");  // "%"
  platform::setPowerStatusForTests(platform::PowerStatus{false, 255, 1});
  speakBatteryStatus();
  EXPECT_EQ(takeEvents(), (Heard{"recording:_SEMBAT"}));
  platform::setPowerStatusForTests(platform::PowerStatus{true, 255, 0});
  speakBatteryStatus();
  platform::setPowerStatusForTests(std::nullopt);
  for (const char* w : {"_duzento", "_e", "_cinquen", "_cinco"}) item(w);
  EXPECT_EQ(takeEvents(), (Heard{"char:%", "recording:_SEMENER"}));
  platform::setPowerStatusForTests(platform::PowerStatus{true, 255, 1});
  speakBatteryStatus();
  platform::setPowerStatusForTests(std::nullopt);
  EXPECT_EQ(takeEvents(), (Heard{"recording:_duzento", "recording:_e", "recording:_cinquen",
                                 "recording:_e", "recording:_cinco", "char:%"}));
}

class OpenLink : public SpeechTest {
 protected:
  void SetUp() override {
    SpeechTest::SetUp();
    // A stand-in program that writes its arguments, one a line, to a file.
    opener = root / "opener";
    argsFile = root / "args.txt";
    writeFileBytes(opener, "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" +
                               argsFile.string() + "'\n");
    chmod(opener.c_str(), 0755);
  }
  std::string arguments() {
    for (int i = 0; i < 500 && !std::filesystem::exists(argsFile); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return readFileBytes(argsFile);
  }
  std::filesystem::path opener, argsFile;
};

TEST_F(OpenLink, WebAddressGoesToTheConfiguredProgramAsOneArgument) {
  start("[LUMARE]\r\nPROG.HTM=" + opener.string() + "\r\n");
  EXPECT_TRUE(openLink("http://example.com/a b;$(rm -rf x)"));
  EXPECT_EQ(arguments(), "http://example.com/a b;$(rm -rf x)\n");
  EXPECT_TRUE(takeEvents().empty());
}

TEST_F(OpenLink, DocumentsByExtensionAndRefusals) {
  start("[LUMARE]\r\nPROG.TXT=" + opener.string() + "\r\n");
  writeFileBytes(root / "nota.final.txt", "x");
  ASSERT_EQ(chdir(root.c_str()), 0);
  // The extension is the file's own, after its last ".", and the file is
  // handed over with its full path.
  EXPECT_TRUE(openLink("nota.final.txt"));
  EXPECT_EQ(arguments(), (root / "nota.final.txt").string() + "\n");
  // Neither an address nor an existing file: refused with the error beep.
  EXPECT_FALSE(openLink("-rf nada"));
  EXPECT_FALSE(openLink(""));
  EXPECT_EQ(takeEvents(), (Heard{"beep", "beep"}));
}

}  // namespace
}  // namespace ondaria::test
