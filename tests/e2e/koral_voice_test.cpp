// Whole-program run of the built-in voice: with SERVFALA/TIPOSAPI=3 the
// program's texts are spoken by the Koral engine through the real mbrola, and
// the sound reaches the audio device.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/program_run.h"
#include "support/temp_files.h"

namespace ondaria::test {
namespace {

bool voiceInstalled() {
  const char* build = std::getenv("ONDARIA_BUILD_DIR");
  return std::filesystem::exists("/usr/share/mbrola/br4/br4") && build != nullptr &&
         std::filesystem::exists(std::string(build) + "/data/koral/portug.dfn") &&
         std::system("command -v mbrola >/dev/null 2>&1") == 0;
}

TEST(KoralVoice, TheProgramSpeaksItsGreetingThroughTheBuiltInVoice) {
  if (!voiceInstalled())
    GTEST_SKIP() << "mbrola and its voice br4 are not installed (scripts/setup-debian.sh "
                    "installs them from Debian's contrib and non-free); the built-in voice "
                    "cannot be heard on this machine";
  ProgramRun program;
  // The shipped settings with the built-in engine chosen.
  const std::string path = program.settingsDir() + "/Lumare.ini";
  std::string settings = readFileBytes(path);
  size_t at = settings.find("TIPOSAPI=");
  ASSERT_NE(at, std::string::npos);
  settings.replace(at, settings.find('\r', at) - at, "TIPOSAPI=3");
  writeFileBytes(path, settings);
  const std::string audio = program.workDir() + "/audio.raw";
  program.setEnv("SDL_DISKAUDIOFILE", audio);

  // The greeting is spoken whole before Esc is typed.
  const ProgramResult r = program.run("sleep 3000\nkey Esc\n");
  ASSERT_FALSE(r.timedOut) << r.stderrText;
  EXPECT_EQ(r.exitStatus, 0) << r.stderrText;
  EXPECT_TRUE(r.heard("engine", "koral"));
  EXPECT_TRUE(r.heard("text", "Ondaria - vers\xC3\xA3o"));
  EXPECT_TRUE(r.heard("text", "Fim do Ondaria."));

  // What the device received: 48 kHz float stereo. The greeting and the
  // closing message make well over a second of voiced sound.
  std::string bytes = readFileBytes(audio);
  size_t frames = bytes.size() / (2 * sizeof(float));
  size_t loud = 0;
  double energy = 0;
  for (size_t i = 0; i < frames; ++i) {
    float left;
    std::memcpy(&left, bytes.data() + i * 2 * sizeof(float), sizeof(float));
    if (std::fabs(left) > 0.02f) ++loud;
    energy += static_cast<double>(left) * left;
  }
  EXPECT_GT(loud, 48000u / 2) << "frames " << frames;
  EXPECT_GT(std::sqrt(energy / std::max<size_t>(frames, 1)), 0.01);
}

std::string koralPath() {
  const char* build = std::getenv("ONDARIA_BUILD_DIR");
  return std::string(build ? build : ".") + "/koral";
}

// Standard output of a shell command.
std::string shell(const std::string& command) {
  std::string out;
  if (FILE* p = ::popen(command.c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    ::pclose(p);
  }
  return out;
}

// Output of the command-line program (standard output only).
std::string koral(const std::string& arguments) {
  return shell(koralPath() + " " + arguments + " 2>/dev/null");
}

TEST(KoralCommand, PrintsTheLetterRulesWordByWord) {
  // UTF-8 in and out; standard input when no text is given.
  EXPECT_EQ(koral("--phonemes 'Bom dia, 2 cães!'"),
            "Bom\tb >on\ndia\td >i a\ndois\td >o y s2\nc\xC3\xA3" "es\tk >an y s2\n");
  EXPECT_EQ(koral("--phonemes < /dev/null"), "");
  EXPECT_EQ(shell("echo rua | " + koralPath() + " --phonemes"), "rua\trr >u a\n");
}

// The words of --phonemes, one blank after each.
std::string wordsOf(const std::string& phonemeLines) {
  std::string out;
  std::istringstream in(phonemeLines);
  std::string line;
  while (std::getline(in, line)) out += line.substr(0, line.find('\t')) + " ";
  return out;
}

TEST(KoralCommand, ReadsEverydayTextAsABrazilianWould) {
  // echo ends the text with a line end: the full stop before it is a pause.
  EXPECT_EQ(wordsOf(shell("echo 'Foi a segunda vez.' | " + koralPath() + " --phonemes")),
            "Foi a segunda vez ");
  EXPECT_EQ(wordsOf(koral("--phonemes '\xC3\x80s 21h30, R$ 35,50 no dia 15/03/2025: n\xC2\xBA 2, "
                          "50%, 1.200 pessoas.'")),
            "\xC3\x80s vinte e uma horas e trinta minutos trinta e cinco reais e cinq\xC3\xBC"
            "enta centavos no dia quinze de mar\xC3\xA7o de dois mil e vinte e cinco n\xC3\xBA"
            "mero dois cinq\xC3\xBC" "enta por cento mil e duzentas pessoas ");
  if (!voiceInstalled()) GTEST_SKIP() << "mbrola and its voice br4 are not installed";
  // What mbrola reads ends in the pause of the full stop, never a word "ponto".
  std::string pho = shell("printf 'Foi a segunda vez.\\r\\n' | " + koralPath() + " --pho");
  EXPECT_EQ(pho.find(";ponto"), std::string::npos) << pho;
  EXPECT_NE(pho.find(";vez"), std::string::npos) << pho;
}

TEST(KoralCommand, WritesTheSoundOfATextAsAWaveFile) {
  if (!voiceInstalled()) GTEST_SKIP() << "mbrola and its voice br4 are not installed";
  TempFolder dir;
  std::string wav = (dir.path() / "bomdia.wav").string();
  koral("-w " + wav + " 'Bom dia, ouvintes.'");
  std::string bytes = readFileBytes(wav);
  ASSERT_GT(bytes.size(), 44u);
  EXPECT_EQ(bytes.substr(0, 4), "RIFF");
  EXPECT_EQ(bytes.substr(8, 8), "WAVEfmt ");
  uint32_t rate;
  std::memcpy(&rate, bytes.data() + 24, 4);
  EXPECT_EQ(rate, 16000u);
  double seconds = (bytes.size() - 44) / 32000.0;
  EXPECT_GT(seconds, 0.8);
  EXPECT_LT(seconds, 3.0);
  // The --pho lines are what mbrola reads: a phoneme and a duration each.
  std::string pho = koral("--pho 'Bom dia.'");
  EXPECT_NE(pho.find("\nb "), std::string::npos) << pho;
  EXPECT_NE(pho.find(";Bom"), std::string::npos) << pho;
}

}  // namespace
}  // namespace ondaria::test
