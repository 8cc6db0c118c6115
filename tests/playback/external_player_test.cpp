// The external player with a small python3 program standing in for the
// player: it records its arguments, writes a line on its standard output and
// the "Stream #" line on its error output, then waits to be ended.
#include "playback/external_player.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <fstream>
#include <sstream>

#include "playback/playback_session.h"
#include "playback_fixture.h"

namespace ondaria::playtest {
namespace {

// argv[1]: file that receives the arguments after it, one per NUL, and the
// pid on the first line. Options after the file: --sem-stream (no "Stream #"
// line), --teimoso (ignores the terminate signal), --neto (starts a
// grandchild and records its pid), --termina (ends by itself, status 0),
// --falha (says why on its error output and ends with status 1). The last
// argument is the address.
constexpr const char* kFakePlayer = R"PY(
import os, signal, subprocess, sys, time
record = sys.argv[1]
opts = sys.argv[2:-1]
with open(record + ".tmp", "w") as f:
    f.write(str(os.getpid()) + "\n" + "\0".join(sys.argv[2:]))
if "--neto" in opts:
    neto = subprocess.Popen(["sleep", "60"])
    with open(record + ".neto", "w") as f:
        f.write(str(neto.pid))
if "--teimoso" in opts:
    signal.signal(signal.SIGTERM, signal.SIG_IGN)
os.rename(record + ".tmp", record)
print("Tocando agora", flush=True)
sys.stderr.write("ffplay version teste\n")
if "--sem-stream" not in opts:
    sys.stderr.write("Input #0, mp3, from 'x':\n  Duration: N/A, bitrate: 128 kb/s\n  Stream #0:0: Audio: mp3, 44")
    sys.stderr.flush()
    time.sleep(0.3)
    sys.stderr.write("100 Hz, stereo, fltp, 128 kb/s\n    Metadata:\n")
sys.stderr.flush()
if "--termina" in opts:
    sys.exit(0)
if "--falha" in opts:
    sys.stderr.write("  0.50 M-A:  0.000 fd=   0 aq=   0KB\r")
    sys.stderr.write(sys.argv[-1] + ": Connection refused\n")
    sys.exit(1)
while True:
    time.sleep(0.1)
)PY";

// True once the process is gone and reaped: a zombie would still answer kill.
bool processGone(pid_t pid) { return ::kill(pid, 0) != 0 && errno == ESRCH; }

// State letter of a process ("Z" zombie), empty when it does not exist.
std::string processState(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(in, line)) return {};
  const size_t close = line.rfind(')');
  return close == std::string::npos || close + 2 >= line.size() ? "" : line.substr(close + 2, 1);
}

class ExternalPlayer : public PlaybackTest {
 protected:
  void SetUp() override {
    PlaybackTest::SetUp();
    player = (root / "tocador.py").string();
    record = (root / "args").string();
    test::writeFileBytes(player, kFakePlayer);
    setStreamParameters({});
  }
  void TearDown() override {
    stopPiped();
    PlaybackTest::TearDown();
  }

  // Uses the stand-in player with these options.
  void usePlayer(const std::string& options = {}) {
    writeSettings("[ONDARIA]\r\nTOCADOR=python3 \"" + player + "\" \"" + record + "\"" + options + "\r\n");
  }
  // The arguments the player got after the record file, and its pid.
  std::vector<std::string> recordedArguments(pid_t* pid = nullptr) {
    std::istringstream in(test::readFileBytes(record));
    std::string first, rest;
    std::getline(in, first);
    std::getline(in, rest, '\x01');
    if (pid) *pid = std::atoi(first.c_str());
    std::vector<std::string> args;
    size_t start = 0;
    for (size_t zero; (zero = rest.find('\0', start)) != std::string::npos; start = zero + 1)
      args.push_back(rest.substr(start, zero - start));
    args.push_back(rest.substr(start));
    return args;
  }

  std::string player, record;
};

TEST_F(ExternalPlayer, KeysOfThePlayLoopAndTheStreamParameters) {
  usePlayer();
  const std::string address = "http://radio.teste:8000/ao-vivo";
  watchFor("Taxa:        128 kb/s");
  watchFor(address);
  // Each key waits until the speaking is over: a key cuts speech.
  script(
      "wait Tocando agora\nsleep 600\nkey i\nwait Taxa:\nsleep 300\n"
      "key e\nwait Endere\xC3\xA7o selecionado\nsleep 300\n"
      "key v\nwait Qual o volume\ntext 50\nkey Enter\nsleep 300\n"
      "key ctrl+c\nsleep 300\nkey F1\nsleep 300\nkey Esc\n");
  EXPECT_EQ(playExternal(address), 0);

  const std::string top = screenText();
  EXPECT_TRUE(top.find("Processando com tocador externo.\n") != std::string::npos) << top;
  EXPECT_TRUE(heardText("Processando com tocador externo"));

  const std::string params = screenWith("Taxa:        128 kb/s");
  for (const char* line : {"Codifica\xE7\xE3o: Audio: mp3\n", "Amostragem:  44100 Hz\n", "Canais:      stereo\n",
                           "Transporte:  fltp\n", "Taxa:        128 kb/s\n"})
    EXPECT_NE(params.find(line), std::string::npos) << line << "\n" << params;
  // What the player writes on its error output is not shown.
  EXPECT_EQ(params.find("ffplay version"), std::string::npos) << params;
  EXPECT_TRUE(heardText("stereo"));

  EXPECT_NE(screenWith(address).find("Endere\xE7o selecionado:\n" + address), std::string::npos);
  EXPECT_EQ(platform::GetConfig(platform::CONFIG_GVOL_STREAM), 5000u);

  // Ctrl+C copies the address and, like F1 (whose code byte is dropped),
  // lists the valid options.
  const std::optional<std::string> clip = screen->clipboardText();
  ASSERT_TRUE(clip.has_value());
  EXPECT_EQ(*clip, address);
  EXPECT_EQ(countHeard("text:Op\xE7\xF5" "es v\xE1lidas"), 2);

  pid_t pid = 0;
  recordedArguments(&pid);
  ASSERT_GT(pid, 0);
  EXPECT_TRUE(processGone(pid)) << "state " << processState(pid);
  EXPECT_EQ(playerProcessId(), -1);
}

TEST_F(ExternalPlayer, CtrlREndsThePlayerAndAsksForRemoval) {
  usePlayer();
  script("wait Tocando agora\nkey ctrl+r\n");
  EXPECT_EQ(playExternal("http://radio.teste/"), kResultRemove);
  pid_t pid = 0;
  recordedArguments(&pid);
  EXPECT_TRUE(processGone(pid));
}

TEST_F(ExternalPlayer, AnAddressWithShellCharactersIsOneArgumentUnchanged) {
  usePlayer(" --sem-stream");
  const std::string marker = (root / "nao-devia-existir").string();
  const std::string address = "http://radio.teste/a b;touch " + marker + " $(touch " + marker + ") `touch " +
                              marker + "` | rm -rf ~ && echo \"x\" 'y' > " + marker + " *";
  script("wait Tocando agora\nkey Esc\n");
  EXPECT_EQ(playExternal(address), 0);
  EXPECT_EQ(recordedArguments(), (std::vector<std::string>{"--sem-stream", address}));
  EXPECT_FALSE(std::filesystem::exists(marker));
}

TEST_F(ExternalPlayer, AStubbornPlayerAndWhatItStartedAreEndedAndReaped) {
  usePlayer(" --teimoso --neto");
  script("wait Tocando agora\nkey Esc\n");
  EXPECT_EQ(playExternal("http://radio.teste/"), 0);
  pid_t pid = 0;
  recordedArguments(&pid);
  EXPECT_TRUE(processGone(pid)) << "state " << processState(pid);
  const pid_t grandchild = std::atoi(test::readFileBytes(record + ".neto").c_str());
  ASSERT_GT(grandchild, 0);
  // Not our child: whoever adopted it reaps it; it must at least be dead.
  for (int i = 0; i < 100 && processState(grandchild) != "" && processState(grandchild) != "Z"; ++i)
    usleep(20000);
  const std::string state = processState(grandchild);
  EXPECT_TRUE(state.empty() || state == "Z") << state;
}

TEST_F(ExternalPlayer, ParametersStayFromThePreviousPlayUntilANewStreamLine) {
  usePlayer(" --sem-stream");
  watchFor("Taxa:");
  script("wait Tocando agora\nkey I\nwait Taxa:\nkey Esc\n");
  EXPECT_EQ(playExternal("http://radio.teste/"), 0);
  // First play of the run: five empty values.
  const std::string empty = screenWith("Taxa:");
  EXPECT_NE(empty.find("Codifica\xE7\xE3o:\nAmostragem:\nCanais:\nTransporte:\nTaxa:\n"), std::string::npos) << empty;

  setStreamParameters({"mp3", "44100 Hz", "stereo", "s16", "128 kb/s"});
  clearScreen();
  watched.clear();
  watchFor("Taxa:");
  script("wait Tocando agora\nkey i\nwait Taxa:\nkey Esc\n");
  EXPECT_EQ(playExternal("http://radio.teste/"), 0);
  EXPECT_NE(screenWith("Taxa:").find("Codifica\xE7\xE3o: mp3\nAmostragem:  44100 Hz\n"), std::string::npos)
      << screenWith("Taxa:");
}

TEST_F(ExternalPlayer, APlayerThatEndsOrFailsByItselfIsReportedAtOnce) {
  // Ending by itself: said, and back to the caller without a key.
  usePlayer(" --termina");
  EXPECT_EQ(playExternal("http://radio.teste/"), 0);
  EXPECT_NE(screenText().find("O tocador externo terminou.\n"), std::string::npos) << screenText();
  EXPECT_TRUE(heardText("O tocador externo terminou"));
  EXPECT_EQ(playerProcessId(), -1);

  // Failing: its last words, then the question after a failure, where
  // Ctrl+R asks for the station's removal as after a stream that failed.
  clearScreen();
  usePlayer(" --falha");
  watchFor("Aperte enter...");
  script("wait Aperte enter\nkey ctrl+r\n");
  EXPECT_EQ(playExternal("http://radio.teste/fora"), kResultRemove);
  const std::string said = screenWith("Aperte enter...");
  EXPECT_NE(said.find("O tocador externo parou com erro.\nhttp://radio.teste/fora: Connection refused\n\n"
                      "Aperte enter..."),
            std::string::npos)
      << said;
  EXPECT_TRUE(heardText("Connection refused"));
  EXPECT_EQ(playerProcessId(), -1);
}

TEST_F(ExternalPlayer, APlayerThatCannotStartIsReported) {
  writeSettings("[ONDARIA]\r\nTOCADOR=" + (root / "nao-existe").string() + " -q\r\n");
  EXPECT_EQ(playExternal("http://radio.teste/"), 0);
  EXPECT_NE(screenText().find("N\xE3o pude executar o tocador externo.\n\n"), std::string::npos) << screenText();
  EXPECT_EQ(playerProcessId(), -1);
}

TEST_F(ExternalPlayer, PlayerCommandFromTheSettings) {
  writeSettings("[ONDARIA]\r\nTOCADOR=\"/opt/meu tocador/tocar\" -q  \"\" \"a\"b\r\n");
  EXPECT_EQ(playerCommand("http://x/ y"),
            (std::vector<std::string>{"/opt/meu tocador/tocar", "-q", "", "ab", "http://x/ y"}));
  writeSettings("[ONDARIA]\r\nTOCADOR=c:\\tools\\player.exe -q\r\n");
  EXPECT_EQ(playerCommand("http://x/"), (std::vector<std::string>{"c:/tools/player.exe", "-q", "http://x/"}));
  // cp1252 text reaches the player as UTF-8.
  EXPECT_EQ(playerCommand("http://x/r\xE1" "dio").back(), "http://x/r\xC3\xA1" "dio");

  // By default ffplay without a window: the family's own when it has one.
  const std::filesystem::path family = root / "lumare";
  std::filesystem::create_directories(family);
  test::writeFileBytes(family / "ffplay", "#!/bin/sh\n");
  std::filesystem::permissions(family / "ffplay", std::filesystem::perms::owner_all);
  writeSettings("[LUMARE]\r\nPGMLUMARE=" + family.string() + "\r\n");
  EXPECT_EQ(playerCommand("http://x/"),
            (std::vector<std::string>{(family / "ffplay").string(), "-nodisp", "http://x/"}));
  writeSettings("");
  const std::vector<std::string> fallback = playerCommand("http://x/");
  ASSERT_EQ(fallback.size(), 3u);
  EXPECT_TRUE(fallback[0] == "ffplay" || fallback[0].ends_with("/ffplay")) << fallback[0];
  EXPECT_EQ(fallback[1], "-nodisp");
}

TEST(StreamLine, ParametersAreTakenByCommas) {
  struct Case {
    const char* text;
    StreamParameters expected;
  };
  const Case cases[] = {
      {"Stream #0.0: Audio: mp3, 44100 Hz, stereo, s16, 128 kb/s", {"mp3", "44100 Hz", "stereo", "s16", "128 kb/s"}},
      {"Stream #0:0: Audio: mp3, 44100 Hz, stereo, fltp, 128 kb/s",
       {"Audio: mp3", "44100 Hz", "stereo", "fltp", "128 kb/s"}},
      // Over several lines: the commas are counted across line ends.
      {"Stream #0:0: Audio: aac (LC),\n 48000 Hz, stereo,\r\n fltp, 96 kb/s\n    Metadata:\n",
       {"Audio: aac (LC)", "48000 Hz", "stereo", "fltp", "96 kb/s"}},
      // Too few commas: the missing values are empty or cut, nothing fails.
      {"Stream #0.0: Audio: mp3, 44100 Hz, stereo", {"mp3", "44100 Hz", "", "", "st"}},
      {"Stream #0.0: Audio: opus", {"", "", "", "", "opus"}},
      {"Stream #", {"", "", "", "", "S"}},
      {"", {"", "", "", "", ""}},
  };
  for (const Case& c : cases) {
    parseStreamLine(c.text);
    const StreamParameters& p = streamParameters();
    EXPECT_EQ(p.codec, c.expected.codec) << c.text;
    EXPECT_EQ(p.sampleRate, c.expected.sampleRate) << c.text;
    EXPECT_EQ(p.channels, c.expected.channels) << c.text;
    EXPECT_EQ(p.sampleFormat, c.expected.sampleFormat) << c.text;
    EXPECT_EQ(p.bitRate, c.expected.bitRate) << c.text;
  }
}

}  // namespace
}  // namespace ondaria::playtest
