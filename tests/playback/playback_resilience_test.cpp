// Playback sessions against servers that behave as real radio servers do:
// a live stream whose connection drops is reopened with one spoken notice per
// outage; ESC or Ctrl+Break gives an opening up; a failure says why; + and -
// step the volume. Servers run on 127.0.0.1 inside the tests.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>

#include "playback/playback_session.h"
#include "playback_fixture.h"
#include "support/local_server.h"
#include "support/stream_peers.h"

namespace ondaria::playtest {
namespace {

using test::LocalServer;
using test::ServerConnection;

const std::string& longMp3() {
  static const std::string bytes = test::readWholeFile(tones().path("long.mp3"));
  return bytes;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A live MP3 stream with ICY metadata every 8000 bytes carrying `title`.
std::string icyStream(const std::string& audio, const std::string& title) {
  constexpr size_t kMetaint = 8000;
  std::string meta = "StreamTitle='" + title + "';";
  meta.resize((meta.size() + 15) / 16 * 16, '\0');
  std::string out;
  for (size_t at = 0; at < audio.size(); at += kMetaint) {
    out += audio.substr(at, kMetaint);
    out += static_cast<char>(meta.size() / 16);
    out += meta;
  }
  return out;
}

const char* const kIcyHead = "ICY 200 OK\r\nContent-Type: audio/mpeg\r\nicy-metaint:8000\r\n\r\n";

TEST_F(PlaybackTest, ALostConnectionIsReopenedWithOneNoticePerOutageAndTheTitleStays) {
  // Two outages longer than what the buffer holds: a reset, then a clean
  // close, each followed by three attempts that find the mount gone (404,
  // as icecast answers while a station's source is away); then the stream
  // plays on until ESC. Titles tell the connections apart on the title row.
  std::atomic<int> connections{0};
  LocalServer live([&](ServerConnection& c) {
    c.readRequest();
    const int n = connections++;
    if (n % 4 != 0) {
      c.send("HTTP/1.0 404 Not Found\r\n\r\n");
      return;
    }
    const std::string title = n < 8 ? "Faixa Um" : "Faixa Dois";
    const std::string body = icyStream(longMp3().substr(0, n < 8 ? 24000 : 160000), title);
    c.send(std::string(kIcyHead) + body);
    if (n == 0) c.reset();
    if (n >= 8) {
      while (c.pause(50)) {
      }
    }
  });
  watchFor("Faixa Dois");
  script("wait Faixa Dois\nkey Esc\n");
  EXPECT_EQ(playAddress(live.url("/ao-vivo")), 0);
  EXPECT_EQ(countHeard("text:Reconectando"), 2);
  EXPECT_GE(connections.load(), 9);
  // The title row kept the first title through the outages, blank never.
  std::vector<std::string> titles;
  for (const std::string& t : titleRows)
    if (titles.empty() || titles.back() != t) titles.push_back(t);
  const auto first = std::find(titles.begin(), titles.end(), "Faixa Um");
  ASSERT_NE(first, titles.end());
  ASSERT_NE(first + 1, titles.end());
  EXPECT_EQ(*(first + 1), "Faixa Dois");
  EXPECT_TRUE(contains(screenText(), "R\xE1" "dio desligada.")) << screenText();
}

TEST_F(PlaybackTest, AConnectionReopenedBeforeTheMusicStopsIsNotMentioned) {
  // Dropped after 1.5 s of audio, back at the first attempt: the new
  // connection is ready long before the old audio has played.
  std::atomic<int> connections{0};
  LocalServer live([&](ServerConnection& c) {
    c.readRequest();
    const int n = connections++;
    c.send(std::string(kIcyHead) + icyStream(longMp3().substr(0, n == 0 ? 24000 : 160000), "Faixa"));
    if (n == 0) c.reset();
    while (n > 0 && c.pause(50)) {
    }
  });
  script("wait Faixa\nsleep 2500\nkey Esc\n");
  EXPECT_EQ(playAddress(live.url("/ao-vivo")), 0);
  EXPECT_GE(connections.load(), 2);
  EXPECT_EQ(countHeard("text:Reconectando"), 0);
}

TEST_F(PlaybackTest, EscOrCtrlBreakGivesAnOpeningUpAtOnce) {
  LocalServer silent([](ServerConnection& c) {
    c.readRequest();
    while (c.pause(50)) {
    }
  });
  platform::SetConfig(platform::CONFIG_NET_TIMEOUT, 60000);
  setBreakEndsProgram(false);  // as after start-up: Ctrl+Break reaches the program
  // A stream, and a playlist the player downloads itself.
  const std::pair<const char*, const char*> cases[] = {
      {"/radio", "Esc"}, {"/radio", "ctrl+Break"}, {"/lista.pls", "Esc"}, {"/lista.pls", "ctrl+Break"}};
  for (const auto& [path, key] : cases) {
    SCOPED_TRACE(std::string(path) + " " + key);
    clearScreen();
    heard.clear();
    script(std::string("sleep 500\nnow\nkey ") + key + "\n");
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(playAddress(silent.url(path)), 0);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    std::printf("[ figure ] %s given up with %s returned after %lld ms (500 ms of them waited)\n", path, key,
                static_cast<long long>(ms));
    const std::string all = screenText();
    EXPECT_TRUE(contains(all, "Desistiu...")) << all;
    EXPECT_FALSE(contains(all, "Tempo excedido")) << all;
    EXPECT_FALSE(contains(all, "Aperte enter")) << all;
    EXPECT_TRUE(heardText("Desistiu"));
  }
}

TEST_F(PlaybackTest, AFailedOpeningSaysWhyBeforeAskingForEnter) {
  LocalServer notFound([](ServerConnection& c) {
    c.readRequest();
    c.send("HTTP/1.0 404 Not Found\r\n\r\n");
  });
  const std::string text = test::readWholeFile(tones().path("txt"));
  LocalServer page([&](ServerConnection& c) {
    c.readRequest();
    c.send("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n" + text + text + text);
  });
  struct Case {
    std::string address;
    const char* result;  // the result's message, then the reason's
    const char* reason;
  };
  const Case cases[] = {
      {notFound.url("/radio"), "Erro: stream n\xE3o foi achada.", "O servidor respondeu com o erro 404"},
      {page.url("/radio"), "Erro: este formato de stream n\xE3o \xE9 suportado.",
       "N\xE3o h\xE1 \xE1udio neste endere\xE7o."},
      {(root / "falta.mp3").string(), "Erro: stream n\xE3o foi achada.", "Arquivo n\xE3o existe"},
      {notFound.url("/lista.pls"), "Erro: stream n\xE3o foi achada.", "O servidor respondeu com o erro 404"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    clearScreen();
    heard.clear();
    script("wait Aperte enter\nkey Enter\n");
    EXPECT_NE(playAddress(c.address), 0);
    const std::string all = screenText();
    EXPECT_TRUE(contains(all, std::string(c.result) + "\n" + c.reason)) << all;
    EXPECT_TRUE(contains(all, "\n\nAperte enter...")) << all;
    EXPECT_TRUE(heardText(std::string(c.reason).substr(0, 20)));
  }
}

TEST_F(PlaybackTest, PlusAndMinusStepTheVolumeAndSayIt) {
  platform::SetConfig(platform::CONFIG_GVOL_STREAM, 3700);
  watchFor("Volume atual: 40");
  watchFor("Volume atual: 30");
  script(
      "wait long.mp3\ntext +\nwait Volume atual: 40\nsleep 200\n"
      "text -\nwait Volume atual: 30\nsleep 200\n"
      "key Esc\n");
  EXPECT_EQ(playAddress(tones().path("long.mp3")), 0);
  EXPECT_FALSE(screenWith("Volume atual: 40").empty());
  EXPECT_FALSE(screenWith("Volume atual: 30").empty());
  EXPECT_EQ(platform::GetConfig(platform::CONFIG_GVOL_STREAM), 3000u);
  EXPECT_TRUE(heardText("Volume atual"));
}

TEST_F(PlaybackTest, VolumeStepsStopAtBothEndsWithABeep) {
  struct Case {
    uint32_t from;
    int direction;
    uint32_t to;
    bool atEnd;  // nothing changes and the beep says so; otherwise the level is said
  };
  const Case cases[] = {{10000, 1, 10000, true}, {9999, 1, 9999, true},  {9500, 1, 10000, false},
                        {100, -1, 100, true},    {500, -1, 100, false},  {1000, -1, 100, false},
                        {1000, 1, 2000, false},  {5500, -1, 5000, false}, {3700, 1, 4000, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.from);
    platform::SetConfig(platform::CONFIG_GVOL_STREAM, c.from);
    heard.clear();
    stepVolume(c.direction);
    EXPECT_EQ(platform::GetConfig(platform::CONFIG_GVOL_STREAM), c.to);
    EXPECT_EQ(countHeard("beep:"), c.atEnd ? 1 : 0);
    EXPECT_EQ(heardText("Volume atual"), !c.atEnd);
  }
}

}  // namespace
}  // namespace ondaria::playtest
