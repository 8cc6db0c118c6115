// Whole-program run of the built-in voice: with SERVFALA/TIPOSAPI=3 the
// program's texts are spoken by the Koral engine through the real mbrola, and
// the sound reaches the audio device.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
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

}  // namespace
}  // namespace ondaria::test
