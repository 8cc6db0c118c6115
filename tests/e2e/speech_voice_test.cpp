// Whole-program runs of the voice: which engine speaks with the shipped
// settings and with diphone speech, and a key that cuts a message short.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/program_run.h"

namespace ondaria::test {
namespace {

// Index of the first event of `kind` at or after `from` whose text contains
// `text`; -1 if none.
int find(const ProgramResult& r, const std::string& kind, const std::string& text, int from = 0) {
  for (size_t i = static_cast<size_t>(std::max(from, 0)); i < r.speech.size(); ++i)
    if (r.speech[i].kind == kind && r.speech[i].text.find(text) != std::string::npos)
      return static_cast<int>(i);
  return -1;
}

int count(const ProgramResult& r, const std::string& kind) {
  int n = 0;
  for (const SpeechLine& l : r.speech) n += l.kind == kind;
  return n;
}

std::string log(const ProgramResult& r) {
  std::string all;
  for (const SpeechLine& l : r.speech) all += l.kind + "\t" + l.text + "\n";
  return all;
}

// The shipped settings with one line replaced (the file is Windows-1252; the
// lines replaced here are plain ASCII).
void changeShippedSetting(ProgramRun& program, const std::string& from, const std::string& to) {
  const std::string path = program.settingsDir() + "/Lumare.ini";
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  std::string settings = text.str();
  const size_t at = settings.find(from);
  ASSERT_NE(at, std::string::npos) << "the shipped settings have no " << from;
  settings.replace(at, from.size(), to);
  std::ofstream(path, std::ios::binary | std::ios::trunc) << settings;
}

// Where mbrola and its voice br4 are installed the build makes the built-in
// voice the default; elsewhere espeak-ng speaks.
bool builtInVoiceInstalled() {
  const char* build = std::getenv("ONDARIA_BUILD_DIR");
  return build != nullptr && std::filesystem::exists(std::string(build) + "/data/koral/portug.dfn");
}

TEST(Voice, ShippedSettingsSpeakTheGreetingThroughTheDefaultServer) {
  ProgramRun program;
  const ProgramResult r = program.run("key Esc\n");
  ASSERT_FALSE(r.timedOut) << r.stderrText;
  EXPECT_EQ(r.exitStatus, 0) << r.stderrText;

  // The server takes over before the first text and stays to the end.
  const int engine = find(r, "engine", "");
  ASSERT_GE(engine, 0) << log(r);
  EXPECT_EQ(r.speech[static_cast<size_t>(engine)].text,
            builtInVoiceInstalled() ? "koral" : "espeak-ng");
  EXPECT_EQ(count(r, "engine"), 1) << log(r);
  // A server is handed the greeting whole, not cut into words.
  const int greeting = find(r, "text", "Ondaria - vers\xC3\xA3o");
  ASSERT_GE(greeting, 0) << log(r);
  EXPECT_GT(greeting, engine);
  EXPECT_GE(find(r, "text", "Fim do Ondaria.", greeting), 0) << log(r);
}

TEST(Voice, WithoutTheServerDiphoneSpeechSpeaksTheGreeting) {
  ProgramRun program;
  changeShippedSetting(program, "SAPI=S", "SAPI=N");
  const ProgramResult r = program.run("key Esc\n");
  ASSERT_FALSE(r.timedOut) << r.stderrText;
  EXPECT_EQ(r.exitStatus, 0) << r.stderrText;

  // No server ever takes over; diphone speech says the greeting in word runs
  // and reads the digits of the version from recordings.
  EXPECT_EQ(count(r, "engine"), 0) << log(r);
  EXPECT_LT(find(r, "text", "Ondaria - vers\xC3\xA3o"), 0) << log(r);
  const int name = find(r, "text", "Ondaria");
  ASSERT_GE(name, 0) << log(r);
  EXPECT_EQ(r.speech[static_cast<size_t>(name)].text, "Ondaria");
  const int version = find(r, "text", "vers\xC3\xA3o", name);
  ASSERT_GT(version, name) << log(r);
  EXPECT_GT(find(r, "recording", "_", version), version) << log(r);
  EXPECT_GE(find(r, "text", "Fim do Ondaria", version), 0) << log(r);
}

// Sound at the pace of a sound card, so that speech lasts while keys come.
void realTimeSound(ProgramRun& program) { program.setEnv("SDL_AUDIODRIVER", "dummy"); }

TEST(Voice, KeyDuringTheGreetingCutsItAndIsReadNext) {
  ProgramRun program;
  realTimeSound(program);
  // "3.0" is written once "Ondaria - versão" is being spoken; x comes at once.
  const ProgramResult r = program.run("wait vers\xC3\xA3o 3.0\nnow\nkey x\nkey Esc\n");
  ASSERT_FALSE(r.timedOut) << r.stderrText;
  EXPECT_EQ(r.exitStatus, 0) << r.stderrText;

  const int greeting = find(r, "text", "Ondaria - vers\xC3\xA3o");
  ASSERT_GE(greeting, 0) << log(r);
  const int cut = find(r, "cut", "", greeting);
  ASSERT_GT(cut, greeting) << log(r);
  // Nothing more is said while the key waits: the key is the next thing the
  // menu reads, and x is no option.
  const int invalid = find(r, "text", "Op\xC3\xA7\xC3\xA3o inv\xC3\xA1lida", cut);
  ASSERT_GT(invalid, cut) << log(r);
  for (int i = cut + 1; i < invalid; ++i)
    EXPECT_NE(r.speech[static_cast<size_t>(i)].kind, "text") << log(r);
  EXPECT_GE(find(r, "text", "Fim do Ondaria.", invalid), 0) << log(r);
}

TEST(Voice, KeyDuringTheHelpCutsTheRestOfIt) {
  ProgramRun program;
  realTimeSound(program);
  // The second option is written while the heading is being spoken.
  const ProgramResult r =
      program.run("key F1\nwait P - radios preferidas\nnow\nkey x\nkey Esc\n");
  ASSERT_FALSE(r.timedOut) << r.stderrText;
  EXPECT_EQ(r.exitStatus, 0) << r.stderrText;

  const int heading = find(r, "text", "As op\xC3\xA7\xC3\xB5" "es s\xC3\xA3o:");
  ASSERT_GE(heading, 0) << log(r);
  const int cut = find(r, "cut", "", heading);
  ASSERT_GT(cut, heading) << log(r);
  // None of the options is spoken after the cut; the help still ends with
  // its beep, and it discards the key, so x is never taken as an option.
  const int beep = find(r, "beep", "", cut);
  ASSERT_GT(beep, cut) << log(r);
  for (int i = cut + 1; i < beep; ++i)
    EXPECT_NE(r.speech[static_cast<size_t>(i)].kind, "text") << log(r);
  EXPECT_LT(find(r, "text", "ESC - terminar"), 0) << log(r);
  EXPECT_LT(find(r, "text", "Op\xC3\xA7\xC3\xA3o inv\xC3\xA1lida"), 0) << log(r);
  EXPECT_GE(find(r, "text", "Fim do Ondaria.", cut), 0) << log(r);
}

}  // namespace
}  // namespace ondaria::test
