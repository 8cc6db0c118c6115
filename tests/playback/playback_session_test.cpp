// Whole playback sessions against real peers on 127.0.0.1: local files and
// playlists, servers that refuse, stall, drop or send text, an icecast2 server
// fed by ffmpeg, and HLS served over HTTP. Keys come from a script that can
// wait for text on the screen.
#include "playback/playback_session.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "playback_fixture.h"
#include "support/local_server.h"
#include "support/stream_peers.h"

namespace ondaria::playtest {
namespace {

using test::FileServer;
using test::IcecastServer;
using test::LocalServer;
using test::ServerConnection;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class PlaybackSession : public PlaybackTest {
 protected:
  std::string tone(const std::string& kind) {
    const std::string path = tones().path(kind);
    EXPECT_FALSE(path.empty()) << "ffmpeg could not make " << kind;
    return path;
  }
  // A playlist file in the test's folder.
  std::string playlist(const std::string& name, const std::string& text) {
    const std::string path = (root / name).string();
    test::writeFileBytes(path, text);
    return path;
  }
};

TEST_F(PlaybackSession, PlaylistPlaysEachProgrammeToItsEndThenSwitchesOff) {
  const std::string list = playlist("duas.m3u", "#EXTM3U\r\n" + tone("mp3") + "\r\n" + tone("ogg") + "\r\n");
  EXPECT_EQ(playAddress(list), 0);

  EXPECT_EQ(shown(programmeRows), (std::vector<std::string>{"1 - tone.mp3", "2 - tone.ogg"}));
  const std::string all = screenText();
  EXPECT_TRUE(contains(all, "N\xFAmero de programas: 2")) << all;
  EXPECT_TRUE(contains(all, "R\xE1" "dio desligada.")) << all;
  EXPECT_FALSE(contains(all, "Aperte enter")) << all;
  // Only the first opening is announced.
  EXPECT_EQ(countHeard("text:Tentando conex\xE3o"), 1);
  EXPECT_TRUE(heardText("dio desligada"));
}

TEST_F(PlaybackSession, SingleProgrammeHasNoCountAndNoNumber) {
  EXPECT_EQ(playAddress(tone("wav")), 0);
  EXPECT_EQ(shown(programmeRows), std::vector<std::string>{"tone.wav"});
  const std::string all = screenText();
  EXPECT_FALSE(contains(all, "programas")) << all;
  EXPECT_TRUE(contains(all, "Tentando conex\xE3o")) << all;
  EXPECT_TRUE(contains(all, "OK.")) << all;
  EXPECT_TRUE(contains(all, "R\xE1" "dio desligada.")) << all;
}

TEST_F(PlaybackSession, HomeEndPageUpAndPageDownMoveBetweenProgrammes) {
  const std::string list =
      playlist("duas.pls", "[playlist]\r\nFile1=" + tone("long.mp3") + "\r\nFile2=" + tone("long.mp3") +
                               "\r\nNumberOfEntries=2\r\n");
  script(
      "wait 1 - long.mp3\nkey PgDn\n"
      "wait 2 - long.mp3\nkey PgUp\n"
      "wait 1 - long.mp3\nkey End\n"
      "wait 2 - long.mp3\nkey Home\n"
      "wait 1 - long.mp3\nkey PgUp\nkey End\n"  // Page Up on the first reopens it
      "wait 2 - long.mp3\nkey PgDn\n");         // past the last: the session ends
  EXPECT_EQ(playAddress(list), 0);
  EXPECT_EQ(shown(programmeRows), (std::vector<std::string>{"1 - long.mp3", "2 - long.mp3", "1 - long.mp3",
                                                            "2 - long.mp3", "1 - long.mp3", "1 - long.mp3",
                                                            "2 - long.mp3"}));
  EXPECT_TRUE(contains(screenText(), "R\xE1" "dio desligada."));
}

TEST_F(PlaybackSession, KeysForAddressNameInvalidOptionsAndClipboard) {
  const std::string address = tone("long.mp3");
  watchFor(address);
  watchFor("Op\xE7\xE3o inv\xE1lida");
  // A key typed while something is said cuts it: each key waits until the
  // speaking is over.
  script(
      "wait long.mp3\nkey e\nwait Endere\xC3\xA7o selecionado\nsleep 300\n"
      "key Enter\nwait Op\xC3\xA7\xC3\xA3o inv\xC3\xA1lida\nsleep 300\n"
      "key n\nsleep 300\nkey x\nsleep 300\nkey ctrl+c\nkey Esc\n");
  EXPECT_EQ(playAddress(address), 0);

  const std::string said = screenWith(address);
  EXPECT_TRUE(contains(said, "Endere\xE7o selecionado:\n" + address + "\n")) << said;
  EXPECT_TRUE(heardText("selecionado"));
  EXPECT_TRUE(contains(screenWith("Op\xE7\xE3o inv\xE1lida"), "Op\xE7\xE3o inv\xE1lida"));
  // Enter and X are both invalid options.
  EXPECT_EQ(countHeard("text:Op\xE7\xE3o inv\xE1lida"), 2);
  // N speaks the short name without writing it.
  EXPECT_TRUE(heardText("long"));
  const std::optional<std::string> clip = screen->clipboardText();
  ASSERT_TRUE(clip.has_value());
  EXPECT_EQ(*clip, address);
  // ESC is a normal end.
  EXPECT_TRUE(contains(screenText(), "R\xE1" "dio desligada."));
}

TEST_F(PlaybackSession, VolumeIsAskedClampedAndKeptForTheRun) {
  watchFor("Volume atual: 1\n");
  watchFor("Volume atual: 100\n");
  platform::SetConfig(platform::CONFIG_GVOL_STREAM, 9999);
  script(
      "wait long.mp3\nkey v\nwait Qual o volume\ntext 150\nkey Enter\n"
      "key shift+v\nwait Qual o volume\ntext 0\nkey Enter\n"
      "key v\nwait Qual o volume\ntext abc\nkey Enter\n"
      // The error beep discards keys typed ahead: ESC comes after it.
      "sleep 800\nkey Esc\n");
  EXPECT_EQ(playAddress(tone("long.mp3")), 0);
  // 9999 is said as 100; 150 became 100; 0 became 1; "abc" changed nothing.
  EXPECT_FALSE(screenWith("Volume atual: 100\n").empty());
  EXPECT_FALSE(screenWith("Volume atual: 1\n").empty());
  EXPECT_EQ(platform::GetConfig(platform::CONFIG_GVOL_STREAM), 100u);
  EXPECT_EQ(countHeard("beep:"), 1);
}

TEST_F(PlaybackSession, VolumeAnswersTakeSignsAndBlanks) {
  script(
      "wait long.mp3\nkey v\nwait Qual o volume\ntext  42\nkey Enter\nkey Esc\n");
  EXPECT_EQ(playAddress(tone("long.mp3")), 0);
  EXPECT_EQ(platform::GetConfig(platform::CONFIG_GVOL_STREAM), 4200u);
  clearScreen();  // so that the script waits for the new session's screen
  script("wait long.mp3\nkey v\nwait Qual o volume\ntext -7\nkey Enter\nkey Esc\n");
  EXPECT_EQ(playAddress(tone("long.mp3")), 0);
  EXPECT_EQ(platform::GetConfig(platform::CONFIG_GVOL_STREAM), 100u);
}

TEST_F(PlaybackSession, AnExtendedKeyPausesAndListsTheOptionsAndBlankResumes) {
  watchFor("Qual sua op\xE7\xE3o?");
  script("wait long.mp3\nkey F1\nwait Qual sua op\xC3\xA7\xC3\xA3o?\nkey Space\nkey Esc\n");
  EXPECT_EQ(playAddress(tone("long.mp3")), 0);
  const std::string options = screenWith("Qual sua op\xE7\xE3o?");
  size_t at = 0;
  for (const char* line : {"As op\xE7\xF5" "es s\xE3o:", "espa\xE7o - toca ou para", "N - exibe nome reduzido",
                           "V - muda volume", "P - mostra par\xE2metros de transmiss\xE3o",
                           "E - endere\xE7o de transmiss\xE3o", "PAGE UP - pr\xF3xima programa\xE7\xE3o",
                           "PAGE DOWN - programa\xE7\xE3o anterior", "ESC - termina", "Qual sua op\xE7\xE3o?"}) {
    const size_t next = options.find(line, at);
    ASSERT_NE(next, std::string::npos) << line << "\n" << options;
    at = next;
  }
}

TEST_F(PlaybackSession, CtrlRDuringPlayAsksForRemoval) {
  watchFor("Aperte enter...");
  script("wait long.mp3\nkey ctrl+r\nwait Aperte enter\nkey Enter\n");
  EXPECT_EQ(playAddress(tone("long.mp3")), kResultRemove);
  const std::string end = screenWith("Aperte enter...");
  EXPECT_TRUE(contains(end, "Erro: status: -1\n")) << end;
  EXPECT_TRUE(heardText("Erro"));
}

TEST_F(PlaybackSession, RefusedPortIsNotFoundAndCtrlRAtTheQuestionAsksForRemoval) {
  const int port = test::freePort();
  const std::string address = "http://127.0.0.1:" + std::to_string(port) + "/radio";
  script("wait Aperte enter\nkey Enter\n");
  EXPECT_EQ(playAddress(address), kResultFileOpen);
  const std::string all = screenText();
  EXPECT_TRUE(contains(all, "Tentando conex\xE3o\n")) << all;
  // The result, then why, then the question.
  EXPECT_TRUE(contains(all, "Erro: stream n\xE3o foi achada.\nO servidor recusou a conex\xE3o.\n\nAperte enter..."))
      << all;

  // An extended key whose code byte equals Ctrl+R's (Alt+E) is no answer.
  clearScreen();
  setBreakEndsProgram(false);  // Alt keys reach the program, as after start-up
  script("wait Aperte enter\nkey alt+e\nkey ctrl+r\n");
  EXPECT_EQ(playAddress(address), kResultRemove);
}

TEST_F(PlaybackSession, ServerThatNeverAnswersTimesOut) {
  LocalServer silent([](ServerConnection& c) {
    c.readRequest();
    while (c.pause(100)) {
    }
  });
  script("wait Aperte enter\nkey Esc\n");
  EXPECT_EQ(playAddress(silent.url("/radio")), kResultTimeout);
  EXPECT_TRUE(contains(screenText(), "Tempo excedido na conex\xE3o.")) << screenText();
}

TEST_F(PlaybackSession, TextServedAsAudioIsAnUnsupportedFormat) {
  const std::string text = test::readWholeFile(tone("txt"));
  LocalServer server([&](ServerConnection& c) {
    c.readRequest();
    c.send("HTTP/1.0 200 OK\r\nContent-Type: audio/mpeg\r\n\r\n");
    for (int i = 0; i < 40; ++i) c.send(text);
  });
  script("wait Aperte enter\nkey Enter\n");
  EXPECT_EQ(playAddress(server.url("/radio.mp3")), kResultFormat);
  EXPECT_TRUE(contains(screenText(), "Erro: este formato de stream n\xE3o \xE9 suportado.")) << screenText();
}

TEST_F(PlaybackSession, PlaylistsThatCannotBeFetchedOrHoldNothing) {
  LocalServer server([](ServerConnection& c) {
    c.readRequest();
    c.send("HTTP/1.0 404 Not Found\r\n\r\n");
  });
  script("wait Aperte enter\nkey Enter\n");
  EXPECT_EQ(playAddress(server.url("/lista.pls")), kResultFileOpen);
  EXPECT_TRUE(contains(screenText(), "Erro: stream n\xE3o foi achada.")) << screenText();

  // Only comments: the session ends at once, normally.
  EXPECT_EQ(playAddress(playlist("vazia.m3u", "#EXTM3U\n# nada\n")), 0);
  EXPECT_TRUE(contains(screenText(), "R\xE1" "dio desligada.")) << screenText();
}

TEST_F(PlaybackSession, AProgrammeThatCannotOpenEndsTheWholeList) {
  const std::string list =
      playlist("tres.m3u", tone("mp3") + "\n" + (root / "falta.mp3").string() + "\n" + tone("ogg") + "\n");
  script("wait Aperte enter\nkey Enter\n");
  EXPECT_EQ(playAddress(list), kResultFileOpen);
  EXPECT_EQ(shown(programmeRows), (std::vector<std::string>{"1 - tone.mp3", "2 - falta.mp3"}));
}

TEST_F(PlaybackSession, AStreamThatDropsForGoodGoesOnToTheNextProgramme) {
  const std::string audio = test::readWholeFile(tone("long.mp3"));
  std::atomic<int> connections{0};
  LocalServer dropping([&](ServerConnection& c) {
    c.readRequest();
    if (connections++ > 0) {
      c.send("HTTP/1.0 404 Not Found\r\n\r\n");  // the mount is gone
      return;
    }
    c.send("HTTP/1.0 200 OK\r\nContent-Type: audio/mpeg\r\n\r\n");
    // About two seconds of audio at 128 kb/s, then the connection is gone.
    c.send(audio.substr(0, 32000));
    c.reset();
  });
  // The live stream is reopened for a while (and the silence explained);
  // then the session goes on.
  platform::SetConfig(platform::CONFIG_NET_RECONNECT, 3500);
  const std::string list = playlist("queda.m3u", dropping.url("/ao-vivo") + "\n" + tone("mp3") + "\n");
  EXPECT_EQ(playAddress(list), 0);
  EXPECT_EQ(shown(programmeRows), (std::vector<std::string>{"1 - ao-vivo", "2 - tone.mp3"}));
  EXPECT_TRUE(contains(screenText(), "R\xE1" "dio desligada.")) << screenText();
  EXPECT_EQ(countHeard("text:Reconectando"), 1);
  EXPECT_GE(connections.load(), 2);
}

TEST_F(PlaybackSession, HlsOverHttpPlaysWithTheHlsCreator) {
  const std::string index = tone("hls");
  ASSERT_FALSE(index.empty());
  FileServer files(tones().folder());
  EXPECT_EQ(playAddress(files.url("hls/index.m3u8")), 0);
  EXPECT_EQ(shown(programmeRows), std::vector<std::string>{"index.m3u8"});
  EXPECT_TRUE(contains(screenText(), "R\xE1" "dio desligada.")) << screenText();
  EXPECT_FALSE(contains(screenText(), "Erro")) << screenText();
}

// ---- icecast2 fed by ffmpeg ------------------------------------------------

class IcecastSession : public PlaybackSession {
 protected:
  static void SetUpTestSuite() {
    server_ = new IcecastServer;
    ready_ = server_->start() && server_->feed("radio.mp3", "mp3") && server_->feed("radio.aac", "aac");
    if (!ready_) error_ = server_->error();
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }
  void SetUp() override {
    PlaybackSession::SetUp();
    ASSERT_TRUE(ready_) << error_;
  }
  static IcecastServer* server_;
  static bool ready_;
  static std::string error_;
};
IcecastServer* IcecastSession::server_ = nullptr;
bool IcecastSession::ready_ = false;
std::string IcecastSession::error_;

TEST_F(IcecastSession, Mp3TitleFollowsTheServerOnTheTitleRowAndUnderP) {
  ASSERT_TRUE(server_->setTitle("radio.mp3", "Primeiro"));
  // Once the first title has arrived, the station changes it.
  std::atomic<bool> done{false};
  std::thread changer([&] {
    while (!done && stationInfo().title != "Primeiro") std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (!done) server_->setTitle("radio.mp3", "Segundo t\xC3\xADtulo");
  });
  watchFor("Metaint:");
  script("wait Primeiro\nwait Segundo t\xC3\xADtulo\nkey p\nwait Metaint:\nkey Esc\n");
  const int result = playAddress(server_->url("radio.mp3"));
  done = true;
  changer.join();
  EXPECT_EQ(result, 0);

  const std::vector<std::string> titles = shown(titleRows);
  ASSERT_GE(titles.size(), 2u);
  EXPECT_NE(std::find(titles.begin(), titles.end(), "Primeiro"), titles.end());
  EXPECT_EQ(titles.back(), "Segundo t\xEDtulo");

  const std::string info = screenWith("Metaint:");
  EXPECT_TRUE(contains(info, "T\xEDtulo:  Segundo t\xEDtulo\n")) << info;
  EXPECT_TRUE(contains(info, "Taxa:    128\n")) << info;
  EXPECT_TRUE(contains(info, "G\xEAnero:  Pop\n")) << info;
  EXPECT_TRUE(contains(info, "Pub:     0\n")) << info;
  EXPECT_TRUE(contains(info, "URL:     http://radio.teste/\n")) << info;
  EXPECT_FALSE(contains(info, "Imagem:")) << info;
  EXPECT_TRUE(heardText("Pop"));
  EXPECT_TRUE(heardText("Segundo"));
  // The title row is not spoken: "Primeiro" was never said.
  EXPECT_FALSE(heardText("Primeiro"));
}

TEST_F(IcecastSession, AacMountPlaysThroughTheAacCreatorWithoutAnyMessage) {
  ASSERT_TRUE(server_->setTitle("radio.aac", "Faixa AAC"));
  script("wait Faixa AAC\nkey Esc\n");
  EXPECT_EQ(playAddress(server_->url("radio.aac")), 0);
  const std::vector<std::string> titles = shown(titleRows);
  EXPECT_NE(std::find(titles.begin(), titles.end(), "Faixa AAC"), titles.end());
  EXPECT_FALSE(contains(screenText(), "Erro")) << screenText();
}

}  // namespace
}  // namespace ondaria::playtest
