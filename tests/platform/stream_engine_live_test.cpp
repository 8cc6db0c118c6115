// The stream engine against live peers: an ICY server whose bytes the test
// controls exactly, icecast2 fed by ffmpeg, and HLS playlists.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>

#include "platform/stream_engine.h"
#include "stream_test_util.h"
#include "support/local_server.h"
#include "support/stream_peers.h"

namespace platform::streamtest {
namespace {

using ondaria::test::FileServer;
using ondaria::test::IcecastServer;
using ondaria::test::LocalServer;
using ondaria::test::ServerConnection;
using ondaria::test::ToneFiles;

ToneFiles& longTones() {
  static ToneFiles files(6.0);
  return files;
}

// What the engine's callbacks saw, filled on the stream's thread.
struct Seen {
  std::mutex mutex;
  std::string downloaded;
  int downloadEnds = 0;
  std::vector<std::string> titles;  // META texts at each META sync
  void addTitle(const std::string& t) {
    std::lock_guard<std::mutex> lock(mutex);
    titles.push_back(t);
  }
  bool sawTitle(const std::string& t) {
    std::lock_guard<std::mutex> lock(mutex);
    return std::find(titles.begin(), titles.end(), t) != titles.end();
  }
};

void onDownload(const void* data, uint32_t length, void* user) {
  auto* seen = static_cast<Seen*>(user);
  std::lock_guard<std::mutex> lock(seen->mutex);
  if (data) {
    seen->downloaded.append(static_cast<const char*>(data), length);
  } else {
    ++seen->downloadEnds;
  }
}

void onMeta(HSYNC, uint32_t channel, uint32_t, void* user) {
  const char* meta = ChannelGetTags(channel, TAG_META);
  static_cast<Seen*>(user)->addTitle(meta ? meta : "(none)");
}

TEST_F(StreamEngineTest, IcyMetadataIsTakenOutOfTheAudioAndReportedInOrder) {
  // Eight metadata intervals of MP3, a title in the first and the fourth
  // block, the other blocks empty; then the server closes.
  const size_t metaint = 8192;
  const std::string audio = ondaria::test::readWholeFile(longTones().path("mp3")).substr(0, metaint * 8);
  ASSERT_EQ(audio.size(), metaint * 8);
  std::vector<std::string> blocks(8);
  blocks[0] = "StreamTitle='Primeiro';StreamUrl='http://host/capa.jpg';";
  blocks[3] = "StreamTitle='Artista - M\xC3\xBAsica';StreamUrl='';";  // UTF-8, passed on as received
  const std::vector<std::string> head = {"ICY 200 OK",
                                         "icy-notice1:<BR>Este servidor precisa de um tocador<BR>",
                                         "icy-notice2:Servidor de teste<BR>",
                                         "icy-name:Radio ICY",
                                         "icy-genre: Pop",
                                         "icy-br:128",
                                         "icy-pub:1",
                                         "icy-url:http://radio.teste",
                                         "content-type:audio/mpeg",
                                         "icy-metaint:8192"};
  // The second half waits until the test has set its sync.
  std::atomic<bool> go{false};
  LocalServer icy([&](ServerConnection& c) {
    c.readRequest();
    std::string out;
    for (const std::string& line : head) out += line + "\r\n";
    out += "\r\n";
    for (size_t k = 0; k < blocks.size(); ++k) {
      if (k == 2) {
        c.send(out);
        out.clear();
        while (!go.load() && c.pause(10)) {
        }
      }
      out += audio.substr(k * metaint, metaint);
      size_t units = (blocks[k].size() + 15) / 16;
      out += static_cast<char>(units);
      out += blocks[k];
      out.append(units * 16 - blocks[k].size(), '\0');
    }
    c.send(out);
  });
  std::atomic<int> wakes{0};
  setStreamWakeHook([&] { ++wakes; });
  Seen seen;
  HSTREAM h = StreamCreateURL(icy.url("/;").c_str(), 0, STREAM_DECODE, onDownload, &seen);
  ASSERT_NE(h, 0u) << ErrorGetCode();
  ASSERT_NE(ChannelSetSync(h, SYNC_META, 0, onMeta, &seen), 0u);
  const char* first = ChannelGetTags(h, TAG_META);  // may already be there
  if (first) {
    EXPECT_STREQ(first, blocks[0].c_str());
  }
  go = true;

  EXPECT_EQ(tagLines(ChannelGetTags(h, TAG_ICY)), head);
  EXPECT_EQ(ChannelGetTags(h, TAG_HTTP), nullptr);
  ASSERT_EQ(icy.requests().size(), 1u);
  EXPECT_NE(icy.requests()[0].find("Icy-MetaData: 1\r\n"), std::string::npos);

  Decoded d = decodeAll(h);
  EXPECT_TRUE(d.ended);
  EXPECT_NEAR(toneFrequency(d.left), 440.0, 5.0);
  EXPECT_STREQ(ChannelGetTags(h, TAG_META), blocks[3].c_str());
  {
    std::lock_guard<std::mutex> lock(seen.mutex);
    // The body without a single metadata byte, then the end of the download.
    EXPECT_TRUE(seen.downloaded == audio) << seen.downloaded.size() << " bytes";
    EXPECT_EQ(seen.downloadEnds, 1);
    ASSERT_FALSE(seen.titles.empty());
    EXPECT_EQ(seen.titles.back(), blocks[3]);
    EXPECT_LE(seen.titles.size(), 2u);  // one per text that came, none for the empty blocks
  }
  EXPECT_GT(wakes.load(), 0);
  StreamFree(h);
}

// ---- icecast2 ----

class IcecastStreams : public StreamEngineTest {
 protected:
  static void SetUpTestSuite() {
    server_ = new IcecastServer;
    ready_ = server_->start() && server_->feed("radio.mp3", "mp3") && server_->feed("radio.aac", "aac");
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }
  static IcecastServer* server_;
  static bool ready_;
};
IcecastServer* IcecastStreams::server_ = nullptr;
bool IcecastStreams::ready_ = false;

std::string lineStartingWith(const std::vector<std::string>& lines, const std::string& prefix) {
  for (const std::string& l : lines) {
    if (l.rfind(prefix, 0) == 0) return l;
  }
  return {};
}

TEST_F(IcecastStreams, Mp3MountGivesItsHeadersAndEachNewTitle) {
  ASSERT_TRUE(ready_) << server_->error();
  HSTREAM h = StreamCreateURL(server_->url("radio.mp3").c_str(), 0, kPlayerFlags, nullptr, nullptr);
  ASSERT_NE(h, 0u) << ErrorGetCode();
  std::vector<std::string> lines = tagLines(ChannelGetTags(h, TAG_HTTP));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0].rfind("HTTP/1.", 0), 0u) << lines[0];
  EXPECT_NE(lineStartingWith(lines, "icy-br:"), "");
  EXPECT_NE(lineStartingWith(lines, "icy-br:").find("128"), std::string::npos);
  EXPECT_NE(lineStartingWith(lines, "icy-genre:").find("Pop"), std::string::npos);
  EXPECT_NE(lineStartingWith(lines, "icy-name:").find("Radio Teste"), std::string::npos);
  EXPECT_NE(lineStartingWith(lines, "icy-metaint:"), "");
  EXPECT_EQ(ChannelGetTags(h, TAG_ICY), nullptr);
  EXPECT_TRUE(bufferWaitEnds(h));  // icecast's start burst fills it

  Seen seen;
  ChannelSetSync(h, SYNC_META, 0, onMeta, &seen);
  ASSERT_TRUE(ChannelPlay(h, false));
  for (std::string title : {"Artista - M\xC3\xBAsica", "Segunda faixa"}) {
    ASSERT_TRUE(server_->setTitle("radio.mp3", title));
    std::string expected = "StreamTitle='" + title + "';";
    EXPECT_TRUE(waitUntil([&] { return seen.sawTitle(expected); }, 15)) << "no META sync with " << expected;
  }
  EXPECT_EQ(ChannelIsActive(h), ACTIVE_PLAYING);
  StreamFree(h);
}

TEST_F(IcecastStreams, AacMountIsTheAacCreatorsOnly) {
  ASSERT_TRUE(ready_) << server_->error();
  std::string url = server_->url("radio.aac");
  EXPECT_EQ(StreamCreateURL(url.c_str(), 0, kPlayerFlags, nullptr, nullptr), 0u);
  EXPECT_EQ(ErrorGetCode(), ERROR_FILEFORM);
  EXPECT_EQ(HLS_StreamCreateURL(url.c_str(), kPlayerFlags, nullptr, nullptr), 0u);
  EXPECT_EQ(ErrorGetCode(), ERROR_FILEFORM);
  HSTREAM h = AAC_StreamCreateURL(url.c_str(), 0, STREAM_DECODE, nullptr, nullptr);
  ASSERT_NE(h, 0u) << ErrorGetCode();
  ChannelInfo info;
  ChannelGetInfo(h, &info);
  EXPECT_EQ(info.ctype, CTYPE_STREAM_AAC);
  EXPECT_NE(lineStartingWith(tagLines(ChannelGetTags(h, TAG_HTTP)), "icy-name:").find("Radio AAC"),
            std::string::npos);
  Decoded d = decodeAll(h, 2.0);
  EXPECT_FALSE(d.ended);
  EXPECT_NEAR(toneFrequency(d.left), 440.0, 5.0);
  StreamFree(h);
}

// ---- HLS ----

TEST_F(StreamEngineTest, HlsPlaylistsAreTheHlsCreatorsOnly) {
  ASSERT_FALSE(longTones().path("hls").empty());
  FileServer files(longTones().folder());
  std::string url = files.url("hls/index.m3u8");
  EXPECT_EQ(StreamCreateURL(url.c_str(), 0, kPlayerFlags, nullptr, nullptr), 0u);
  EXPECT_EQ(ErrorGetCode(), ERROR_FILEFORM);
  EXPECT_EQ(AAC_StreamCreateURL(url.c_str(), 0, kPlayerFlags, nullptr, nullptr), 0u);
  EXPECT_EQ(ErrorGetCode(), ERROR_FILEFORM);
  // Not followed as a playlist of stream addresses either.
  EXPECT_EQ(StreamCreateURL(longTones().path("hls").c_str(), 0, STREAM_DECODE, nullptr, nullptr), 0u);
  EXPECT_EQ(ErrorGetCode(), ERROR_FILEFORM);

  HSTREAM h = HLS_StreamCreateURL(url.c_str(), STREAM_DECODE, nullptr, nullptr);
  ASSERT_NE(h, 0u) << ErrorGetCode();
  ChannelInfo info;
  ChannelGetInfo(h, &info);
  EXPECT_EQ(info.ctype, CTYPE_STREAM_HLS);
  EXPECT_TRUE(bufferWaitEnds(h, 0.5));  // no download buffer to wait for
  EXPECT_EQ(StreamGetFilePosition(h, FILEPOS_END), ~uint64_t{0});
  Decoded d = decodeAll(h);
  EXPECT_TRUE(d.ended);
  EXPECT_NEAR(static_cast<double>(d.left.size()) / kMixRate, longTones().seconds(), 0.2);
  EXPECT_NEAR(toneFrequency(d.left), 440.0, 5.0);
  StreamFree(h);

  h = HLS_StreamCreateURL(longTones().path("hls").c_str(), STREAM_DECODE, nullptr, nullptr);
  ASSERT_NE(h, 0u) << ErrorGetCode();  // a local playlist
  EXPECT_NEAR(static_cast<double>(decodeAll(h).left.size()) / kMixRate, longTones().seconds(), 0.2);
  StreamFree(h);
}

TEST_F(StreamEngineTest, HlsStreamStuckOnASegmentIsFreedAtOnce) {
  ASSERT_FALSE(longTones().path("hls").empty());
  std::string dir = longTones().folder() + "/hls";
  LocalServer server([&](ServerConnection& c) {
    std::string request = c.readRequest();
    std::string name = request.substr(request.find('/') + 1);
    name = name.substr(0, name.find(' '));
    std::string body = ondaria::test::readWholeFile(dir + "/" + name);
    std::string type = ondaria::test::contentTypeFor(name);
    c.send("HTTP/1.0 200 OK\r\nContent-Type: " + type + "\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\n\r\n");
    if (name == "seg01.ts") {
      c.send(body.substr(0, body.size() / 2));  // half, then nothing more
      while (c.pause(50)) {
      }
      return;
    }
    c.send(body);
  });
  HSTREAM h = HLS_StreamCreateURL(server.url("/index.m3u8").c_str(), kPlayerFlags, nullptr, nullptr);
  ASSERT_NE(h, 0u) << ErrorGetCode();
  ChannelPlay(h, false);
  EXPECT_EQ(ChannelIsActive(h), ACTIVE_PLAYING);
  // The first segment plays, then the stream waits inside FFmpeg's reading.
  ASSERT_TRUE(waitUntil([&] { return ChannelIsActive(h) == ACTIVE_STALLED; }, 15));
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_TRUE(StreamFree(h));
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0);
  std::printf("[ figure ] freeing an HLS stream stalled in a segment took %lld ms\n",
              static_cast<long long>(ms.count()));
}

}  // namespace
}  // namespace platform::streamtest
