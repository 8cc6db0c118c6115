// Helpers of the built-in voice's tests: UTF-8 test text to the engine's
// Windows-1252, the shipped language files, and whether the real synthesiser
// and its voice are installed.
#pragma once

#include <cstdlib>
#include <string>

#include "platform/codepage.h"
#include "support/temp_files.h"
#include "tts/koral_engine.h"

namespace ondaria::test {

inline std::string cp(const std::string& utf8) { return platform::utf8ToCp1252(utf8); }
inline std::string utf8(const std::string& cp1252) { return platform::cp1252ToUtf8(cp1252); }

// The shipped language files as the build lays them out (data/koral/ beside
// the program; portug.dfn only where the voice is installed).
inline koral::KoralFiles shippedFiles() {
  koral::KoralSettings s;
  const char* build = std::getenv("ONDARIA_BUILD_DIR");
  return koral::koralFiles(s, build ? build : ".");
}

// Whether mbrola, the br4 voice and the generated diphone list are there.
inline bool voiceInstalled() {
  koral::KoralFiles f = shippedFiles();
  return !f.database.empty() && std::system("command -v mbrola >/dev/null 2>&1") == 0 &&
         std::filesystem::exists(f.diphones);
}

#define SKIP_WITHOUT_VOICE()                                                                \
  do {                                                                                      \
    if (!::ondaria::test::voiceInstalled())                                                 \
      GTEST_SKIP() << "mbrola and its voice br4 are not installed "                         \
                      "(scripts/setup-debian.sh installs them); the built-in voice cannot " \
                      "be heard here";                                                      \
  } while (0)

}  // namespace ondaria::test
