// The stream player's parsers (header lines, in-band metadata, playlists) and
// the programme list of local and remote playlists.
#include "playback/stream_player.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "playback_fixture.h"
#include "support/local_server.h"

namespace ondaria::playtest {
namespace {

using test::LocalServer;
using test::ServerConnection;

class StreamPlayerParsing : public ::testing::Test {
 protected:
  void SetUp() override { clearStationInfo(); }
  void TearDown() override { clearStationInfo(); }
};

TEST_F(StreamPlayerParsing, HeaderLinesFillTheirOwnFieldsByExactPrefix) {
  parseIcyHeader("HTTP/1.0 200 OK");
  parseIcyHeader("icy-br:128");
  parseIcyHeader("icy-genre: Pop");
  parseIcyHeader("icy-notice1:<BR>primeira");
  parseIcyHeader("icy-notice2:segunda");
  parseIcyHeader("icy-pub:1");
  parseIcyHeader("icy-url:http://radio.teste:8000/");  // only the first ":" separates
  parseIcyHeader("icy-metaint:16000");
  parseIcyHeader("icy-name:Nome");  // no field of its own
  StationInfo info = stationInfo();
  EXPECT_EQ(info.bitRate, "128");
  EXPECT_EQ(info.genre, " Pop");  // the value is not trimmed
  EXPECT_EQ(info.note1, "<BR>primeira");
  EXPECT_EQ(info.note2, "segunda");
  EXPECT_EQ(info.pub, "1");
  EXPECT_EQ(info.url, "http://radio.teste:8000/");
  EXPECT_EQ(info.metaint, "16000");

  // Letter case counts; a later line replaces only its own field.
  parseIcyHeader("Icy-Br:64");
  parseIcyHeader("icy-genre:Jazz");
  info = stationInfo();
  EXPECT_EQ(info.bitRate, "128");
  EXPECT_EQ(info.genre, "Jazz");
  EXPECT_EQ(info.note1, "<BR>primeira");

  clearStationInfo();
  info = stationInfo();
  EXPECT_TRUE(info.bitRate.empty() && info.genre.empty() && info.metaint.empty() && info.title.empty());
}

TEST_F(StreamPlayerParsing, HeaderValuesAreCutAndConvertedFromUtf8) {
  parseIcyHeader("icy-genre:M\xC3\xBAsica");  // UTF-8
  EXPECT_EQ(stationInfo().genre, "M\xFAsica");
  parseIcyHeader("icy-genre:M\xFAsica");  // already cp1252: kept byte for byte
  EXPECT_EQ(stationInfo().genre, "M\xFAsica");
  parseIcyHeader("icy-url:" + std::string(5000, 'u'));
  EXPECT_EQ(stationInfo().url.size(), 999u);
  parseIcyHeader("icy-br");  // no ":": the whole line is the value
  EXPECT_EQ(stationInfo().bitRate, "icy-br");
}

TEST_F(StreamPlayerParsing, MetadataGivesTitleAndImage) {
  takeStreamMetadata("StreamTitle='Artista - M\xC3\xBAsica';StreamUrl='http://host/capa.jpg';");
  EXPECT_EQ(stationInfo().title, "Artista - M\xFAsica");
  EXPECT_EQ(stationInfo().image, "http://host/capa.jpg");

  // Without a StreamUrl the image stays; without a StreamTitle nothing changes.
  takeStreamMetadata("StreamTitle='Outra';");
  EXPECT_EQ(stationInfo().title, "Outra");
  EXPECT_EQ(stationInfo().image, "http://host/capa.jpg");
  takeStreamMetadata("StreamUrl='http://host/nova.jpg';");
  EXPECT_EQ(stationInfo().title, "Outra");
  EXPECT_EQ(stationInfo().image, "http://host/capa.jpg");

  // The first ";" after the title ends it, also inside the title.
  takeStreamMetadata("StreamTitle='Rock; Roll';StreamUrl='';");
  EXPECT_EQ(stationInfo().title, "Rock");
  // An empty title, and an empty image, are values too.
  takeStreamMetadata("StreamTitle='';StreamUrl='';");
  EXPECT_EQ(stationInfo().title, "");
  EXPECT_EQ(stationInfo().image, "");
}

TEST_F(StreamPlayerParsing, DamagedMetadataNeverReadsOutsideTheText) {
  // Invalid UTF-8 is shown byte for byte.
  takeStreamMetadata("StreamTitle='Caf\xE9 \xFF\xC3';");
  EXPECT_EQ(stationInfo().title, "Caf\xE9 \xFF\xC3");
  // Cut short, unquoted, or the field order turned round.
  takeStreamMetadata("StreamTitle='sem fim");
  EXPECT_EQ(stationInfo().title, "sem fim");
  takeStreamMetadata("StreamTitle=");
  EXPECT_EQ(stationInfo().title, "");
  takeStreamMetadata("StreamTitle=';");
  EXPECT_EQ(stationInfo().title, "");
  takeStreamMetadata("StreamTitle=nua;");
  EXPECT_EQ(stationInfo().title, "nua");
  takeStreamMetadata("StreamUrl='http://a;b';StreamTitle='Depois';");
  EXPECT_EQ(stationInfo().title, "Depois");
  // Every prefix of a real block is taken without fault.
  const std::string block = "StreamTitle='T\xC3\xADtulo';StreamUrl='http://h/i.jpg';";
  for (size_t n = 0; n <= block.size(); ++n) takeStreamMetadata(block.substr(0, n));
  EXPECT_EQ(stationInfo().title, "T\xEDtulo");
  EXPECT_EQ(stationInfo().image, "http://h/i.jpg");
}

TEST(Playlists, M3uKeepsAddressesAndDropsCommentsAndBlanks) {
  const std::vector<std::string> lines = {"#EXTM3U", "", "  \t", "#EXTINF:-1,Radio Um",
                                          "  http://um.teste:8000/live \t", "#coment", "http://dois.teste/x.mp3"};
  EXPECT_EQ(playlistEntries(lines, ".M3U"),
            (std::vector<std::string>{"http://um.teste:8000/live", "http://dois.teste/x.mp3"}));
  EXPECT_TRUE(playlistEntries({"#EXTM3U", "# only comments"}, ".M3U").empty());
}

TEST(Playlists, PlsKeepsOnlyFileEntriesAfterTheirEqualsSign) {
  const std::vector<std::string> lines = {"[playlist]",
                                          "NumberOfEntries=3",
                                          "File1=http://host:8000/",
                                          "Title1=Radio",
                                          " file2 = http://host:8002/;stream.mp3 ",
                                          "FILE3",   // names nothing
                                          "File4=",  // names nothing
                                          "Length1=-1",
                                          "Version=2"};
  EXPECT_EQ(playlistEntries(lines, ".pls"),
            (std::vector<std::string>{"http://host:8000/", "http://host:8002/;stream.mp3"}));
}

TEST(Playlists, RelativeEntriesFollowThePlaylistsOwnPlace) {
  EXPECT_EQ(playlistEntries({"a.mp3", "/abs/b.mp3", "http://h/c"}, ".M3U", "/music/list.m3u"),
            (std::vector<std::string>{"/music/a.mp3", "/abs/b.mp3", "http://h/c"}));
  EXPECT_EQ(playlistEntries({"live", "/root"}, ".M3U", "http://h:81/dir/list.m3u?x=1/2"),
            (std::vector<std::string>{"http://h:81/dir/live", "http://h:81/root"}));
  EXPECT_EQ(playlistEntries({"live"}, ".M3U", "http://h:81"), (std::vector<std::string>{"http://h:81/live"}));
  EXPECT_EQ(playlistEntries({"a.mp3"}, ".M3U", "list.m3u"), (std::vector<std::string>{"a.mp3"}));
}

TEST(Playlists, AByteOrderMarkIsSkippedAndUtf8EntriesBecomeTheProgramsText) {
  struct Case {
    std::vector<std::string> lines;
    const char* kind;
    std::vector<std::string> entries;
  };
  const Case cases[] = {
      {{"\xEF\xBB\xBF#EXTM3U", "http://a/1"}, ".M3U", {"http://a/1"}},
      {{"\xEF\xBB\xBF[playlist]", "File1=http://a/1"}, ".PLS", {"http://a/1"}},
      {{"\xEF\xBB\xBFhttp://a/1", "http://a/2"}, ".m3u", {"http://a/1", "http://a/2"}},
      {{"http://a/r\xC3\xA1" "dio"}, ".M3U", {"http://a/r\xE1" "dio"}},
      {{"http://a/r\xE1" "dio"}, ".M3U", {"http://a/r\xE1" "dio"}},
      // A character the program's text cannot hold stays as its escapes.
      {{"File1=http://a/\xD0\xBC\xD0\xB8\xD1\x80"}, ".PLS", {"http://a/%D0%BC%D0%B8%D1%80"}},
  };
  for (const Case& c : cases) EXPECT_EQ(playlistEntries(c.lines, c.kind), c.entries) << c.lines.front();
}

TEST(StreamPlayerStart, FailsWhenNoAudioOutputCanBeOpened) {
  // In a fresh process of its own, so that no audio device is open yet.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        setenv("SDL_AUDIODRIVER", "nenhum-driver", 1);
        const bool started = initStreamPlayer();
        std::exit(!started && platform::ErrorGetCode() == platform::ERROR_DRIVER ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

class ProgrammeLists : public PlaybackTest {};

TEST_F(ProgrammeLists, AnAddressThatIsNoPlaylistIsTheOnlyProgramme) {
  std::vector<std::string> list = {"stale"};
  ASSERT_TRUE(loadProgrammeList("http://127.0.0.1:1/radio.mp3", list));
  EXPECT_EQ(list, std::vector<std::string>{"http://127.0.0.1:1/radio.mp3"});
  ASSERT_TRUE(loadProgrammeList("pls", list));  // shorter than a suffix
  EXPECT_EQ(list, std::vector<std::string>{"pls"});
}

TEST_F(ProgrammeLists, LocalPlaylistsInAnyCase) {
  const std::string m3u = (root / "radios.m3u").string();
  test::writeFileBytes(m3u, "#EXTM3U\r\nhttp://um.teste/\r\n\r\nhttp://dois.teste/\r\n");
  std::vector<std::string> list;
  ASSERT_TRUE(loadProgrammeList(m3u, list));
  EXPECT_EQ(list, (std::vector<std::string>{"http://um.teste/", "http://dois.teste/"}));
  ASSERT_TRUE(loadProgrammeList("file://" + m3u, list));
  EXPECT_EQ(list.size(), 2u);

  const std::string pls = (root / "Radios.PLS").string();
  test::writeFileBytes(pls, "[playlist]\nFile1=um.mp3\nFile2=http://dois.teste/\nNumberOfEntries=2\n");
  ASSERT_TRUE(loadProgrammeList(pls, list));
  EXPECT_EQ(list, (std::vector<std::string>{(root / "um.mp3").string(), "http://dois.teste/"}));
}

TEST_F(ProgrammeLists, RemotePlaylistIsDownloadedAndAFailedDownloadIsReported) {
  LocalServer server([](ServerConnection& c) {
    const std::string request = c.readRequest();
    if (request.find("GET /radio.pls ") != std::string::npos) {
      c.send("HTTP/1.0 200 OK\r\nContent-Type: audio/x-scpls\r\n\r\n"
             "[playlist]\r\nFile1=http://um.teste:8000/\r\nFile2=segunda\r\nNumberOfEntries=2\r\n");
    } else {
      c.send("HTTP/1.0 404 Not Found\r\n\r\n");
    }
  });
  std::vector<std::string> list;
  ASSERT_TRUE(loadProgrammeList(server.url("/radio.pls"), list));
  EXPECT_EQ(list, (std::vector<std::string>{"http://um.teste:8000/", server.url("/segunda")}));
  EXPECT_FALSE(loadProgrammeList(server.url("/falta.m3u"), list));
  EXPECT_TRUE(list.empty());
}

TEST_F(ProgrammeLists, MetadataCallbackAndReaderNeverSeeHalfATitle) {
  // The engine calls the metadata callback on the stream's thread while the
  // session reads the title: every text read is one of the whole texts.
  const std::string a(300, 'a'), b(700, 'b');
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    for (int i = 0; !stop; ++i) takeStreamMetadata("StreamTitle='" + (i % 2 ? a : b) + "';");
  });
  for (int i = 0; i < 20000; ++i) {
    const std::string t = stationInfo().title;
    ASSERT_TRUE(t.empty() || t == a || t == b) << t.size();
  }
  stop = true;
  writer.join();
}

}  // namespace
}  // namespace ondaria::playtest
