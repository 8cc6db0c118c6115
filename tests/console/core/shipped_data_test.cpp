// The settings file and station list that ship with the program.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>

#include "console/core/ini_text.h"
#include "console/core/settings.h"
#include "support/temp_files.h"

using namespace ondaria;
namespace fs = std::filesystem;

namespace {

fs::path dataFile(const char* name) {
  // The test environment names the source tree; run by hand, this file's own
  // path (tests/console/core/) leads there.
  const char* source = std::getenv("ONDARIA_SOURCE_DIR");
  const fs::path root =
      source ? fs::path(source) : fs::path(__FILE__).parent_path().parent_path().parent_path().parent_path();
  return root / "data" / name;
}

std::string readBytes(const fs::path& path) { return test::readFileBytes(path); }

// Every line ends in CR LF, no other CR or LF, no control characters, and the
// text is cp1252 (no UTF-8 sequence: a lead byte followed by a continuation).
void expectWindowsText(const std::string& bytes, const char* what) {
  ASSERT_FALSE(bytes.empty()) << what;
  EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n") << what;
  for (size_t i = 0; i < bytes.size(); ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    if (b == '\r') {
      ASSERT_TRUE(i + 1 < bytes.size() && bytes[i + 1] == '\n') << what << " at " << i;
      ++i;
    } else {
      ASSERT_NE(b, '\n') << what << ": bare LF at " << i;
      ASSERT_TRUE(b >= 0x20 && b != 0x7F) << what << ": control byte at " << i;
      if (b >= 0xC2 && b <= 0xF4 && i + 1 < bytes.size()) {
        const auto next = static_cast<unsigned char>(bytes[i + 1]);
        ASSERT_FALSE(next >= 0x80 && next <= 0xBF) << what << ": UTF-8 at " << i;
      }
    }
  }
}

// Keys that occur twice in one section would be silently shadowed.
void expectNoDuplicateKeys(const std::string& bytes, const char* what) {
  std::istringstream in(bytes);
  std::string line, section;
  std::set<std::string> seen;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      section = ini::foldName(line);
      EXPECT_TRUE(seen.insert(section).second) << what << ": section twice " << line;
      continue;
    }
    const size_t eq = line.find('=');
    ASSERT_NE(eq, std::string::npos) << what << ": " << line;
    EXPECT_TRUE(seen.insert(section + "/" + ini::foldName(line.substr(0, eq))).second)
        << what << ": key twice " << line;
  }
}

// The path of a shipped file after the checks every INI file of ours passes.
std::string checkedDataFile(const char* name) {
  const fs::path path = dataFile(name);
  const std::string bytes = readBytes(path);
  expectWindowsText(bytes, name);
  expectNoDuplicateKeys(bytes, name);
  return path.string();
}

bool isWholeNumber(const std::string& text) {
  if (text.empty()) return false;
  size_t i = text[0] == '-' ? 1 : 0;
  if (i == text.size()) return false;
  for (; i < text.size(); ++i)
    if (text[i] < '0' || text[i] > '9') return false;
  return true;
}

}  // namespace

TEST(ShippedData, DefaultSettingsFile) {
  const std::string file = checkedDataFile("Lumare.ini");
  auto get = [&](const char* s, const char* k) { return readProfileString(s, k, "<absent>", file); };

  EXPECT_EQ(get("VIDEO", "CORLETRA"), "15");
  EXPECT_EQ(get("VIDEO", "CORFUNDO"), "0");
  EXPECT_EQ(get("LUMARE", "PGMLUMARE"), "@");
  EXPECT_EQ(get("LUMARE", "LEGADO"), "N");
  EXPECT_TRUE(isWholeNumber(get("LUMARE", "TIMEOUT_REDE")));
  EXPECT_EQ(get("TRADUTOR", "SAPI"), "S");
  EXPECT_EQ(get("TRADUTOR", "VELOCIDADE"), "3");
  // Missing on purpose: the program then uses the voice data built beside it.
  EXPECT_EQ(get("TRADUTOR", "DIRLETRAS"), "<absent>");
  EXPECT_EQ(get("TRADUTOR", "DIRDIFONES"), "<absent>");
  EXPECT_EQ(get("SERVFALA", "TIPOSAPI"), "5");
  EXPECT_EQ(get("SERVFALA", "VOZ"), "1");
  EXPECT_TRUE(isWholeNumber(get("SERVFALA", "VELOCIDADE")));
  EXPECT_TRUE(isWholeNumber(get("SERVFALA", "TOM")));
  EXPECT_EQ(get("ONDARIA", "DIRINDICE"), "");
  EXPECT_EQ(get("ONDARIA", "SITEATUALIZA"), "");
  EXPECT_EQ(get("ONDARIA", "DIRONDARIA"), "<absent>");
  EXPECT_EQ(get("BAIXAVISAO", "AMPLIACAO"), "");

  int lastFullStop = 1 << 30;
  for (int n = 1; n <= 5; ++n) {
    auto level = [&](const char* key) {
      return readProfileString("SINTETIZADOR", key + std::to_string(n), "<absent>", file);
    };
    SCOPED_TRACE("speed level " + std::to_string(n));
    EXPECT_EQ(level("DIFONES"), "DIFONES2");
    for (const char* key : {"CORTEFON", "SOBRAFON", "INTERPAL", "PAUSAPONTO", "PAUSAVIRG",
                            "PAUSADOISPONTOS"})
      EXPECT_TRUE(isWholeNumber(level(key))) << key;
    for (const char* key : {"CORTAFALA", "RAPIDINHO"})
      EXPECT_TRUE(level(key) == "S" || level(key) == "N") << key;
    // Faster levels pause less.
    const int fullStop = std::stoi(level("PAUSAPONTO"));
    EXPECT_LT(fullStop, lastFullStop);
    lastFullStop = fullStop;
  }
}

TEST(ShippedData, DefaultSettingsExpandToTheProgramDirectory) {
  test::TempFolder folder("ondaria-shipped");
  const fs::path root = folder.path();
  fs::create_directories(root / "config" / "lumare");
  fs::create_directories(root / "system");
  fs::copy_file(dataFile("Lumare.ini"), root / "config" / "lumare" / "Lumare.ini");
  test::ScopedEnv env;
  env.set("XDG_CONFIG_HOME", (root / "config").string());
  env.set("LUMARE_SYSTEM_DIR", (root / "system").string());
  resetSettingsState();
  EXPECT_EQ(readSetting("LUMARE", "PGMLUMARE"), programDirectory());
  EXPECT_EQ(readSetting("TRADUTOR", "SAPI"), "S");
  EXPECT_EQ(readSetting("TRADUTOR", "DIRLETRAS"), "");
  resetSettingsState();
}

TEST(ShippedData, StarterStationList) {
  const std::string file = checkedDataFile("ondaria.ini");

  auto isAddress = [](const std::string& a) {
    return a.rfind("http://", 0) == 0 || a.rfind("https://", 0) == 0;
  };
  const auto sections = profileSectionNames(file);
  int categories = 0;
  for (const std::string& section : sections) {
    const auto keys = profileKeyNames(section, file);
    ASSERT_FALSE(keys.empty()) << section;
    if (ini::foldName(section) == "PREFERIDAS") {
      for (const std::string& slot : keys) {
        ASSERT_TRUE(isWholeNumber(slot)) << slot;
        EXPECT_GE(std::stoi(slot), 1);
        EXPECT_LE(std::stoi(slot), 20);
        const std::string value = readProfileString(section, slot, "", file);
        const size_t eq = value.find('=');
        ASSERT_TRUE(eq != std::string::npos && eq > 0) << value;
        EXPECT_TRUE(isAddress(value.substr(eq + 1))) << value;
      }
      continue;
    }
    ++categories;
    for (const std::string& name : keys) {
      std::string address = readProfileString(section, name, "", file);
      if (address.rfind("FFMPEG ", 0) == 0) address = address.substr(7);
      EXPECT_TRUE(isAddress(address)) << section << "/" << name << "=" << address;
      EXPECT_EQ(address.find(' '), std::string::npos) << address;
    }
  }
  EXPECT_GE(categories, 4);
  EXPECT_EQ(sections.front(), "Not\xED" "cias");
}
