// The stream engine against servers that behave as real radio servers do:
// live connections that drop or go silent, a mount that is gone for a while,
// servers that label AAC as MP3 and the other way round, addresses that need
// escaping, failures the user must be told about in his own terms, and
// openings he gives up. Every server runs on 127.0.0.1 inside the test.
#include <netdb.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/stream_engine.h"
#include "platform/stream_http.h"
#include "platform/stream_playlist.h"
#include "stream_test_util.h"
#include "support/local_server.h"
#include "support/stream_peers.h"

namespace platform::streamtest {
namespace {

using ondaria::test::LocalServer;
using ondaria::test::ServerConnection;

const std::string& longMp3() {
  static const std::string bytes = ondaria::test::readWholeFile(tones().path("long.mp3"));
  return bytes;
}

std::string head(const std::string& contentType) {
  return "HTTP/1.0 200 OK\r\nContent-Type: " + contentType + "\r\n\r\n";
}

// Bytes of 128 kb/s MP3 in `seconds` of audio.
size_t mp3Bytes(double seconds) { return static_cast<size_t>(seconds * 16000); }

double secondsOf(const Decoded& d) { return static_cast<double>(d.left.size()) / kMixRate; }

// ---- recognising audio by its bytes ----

TEST(StreamSniff, TheBytesTellTheFormatWhateverTheServerSays) {
  struct Case {
    std::string bytes;
    const char* format;
  };
  auto file = [](const char* kind) { return ondaria::test::readWholeFile(tones().path(kind)).substr(0, 2048); };
  const std::string mp3 = file("mp3");
  const std::string aac = file("aac");
  // An MP3 stream joined in the middle of a frame, and one after an ID3 tag.
  const std::string midFrame = longMp3().substr(100000, 2048);
  const std::string id3 = std::string("ID3\x03\x00\x00\x00\x00\x01\x00", 10) + std::string(128, 'x') + mp3;
  const Case cases[] = {
      {mp3, "mp3"},
      {midFrame, "mp3"},
      {id3, "mp3"},
      {aac, "aac"},
      {aac.substr(700), "aac"},
      {file("ogg"), "ogg"},
      {file("opus"), "ogg"},
      {file("flac"), "flac"},
      {file("m4a"), "mp4"},
      {file("wav"), "wav"},
      // Not audio, or too little to tell: the Content-Type decides.
      {"<html><body>Servidor fora do ar</body></html>", ""},
      {std::string("\xFF\xFB\x90\x64") + std::string(600, 'a'), ""},  // one lone header
      {mp3.substr(0, 300), ""},
      {"", ""},
  };
  for (const Case& c : cases) {
    ASSERT_FALSE(c.format[0] != '\0' && c.bytes.size() < 8) << "ffmpeg could not make a file";
    EXPECT_EQ(sniffAudioFormat(c.bytes), c.format) << c.bytes.substr(0, 16);
  }
}

// ---- addresses: escaped once ----

TEST(StreamEscape, RequestTargetsAreEscapedOnceAndNeverTwice) {
  const std::pair<const char*, const char*> cases[] = {
      {"/radio", "/radio"},
      {"/minha radio", "/minha%20radio"},
      {"/minha%20radio", "/minha%20radio"},
      {"/r\xC3\xA1" "dio.mp3", "/r%C3%A1dio.mp3"},
      {"/100%", "/100%25"},
      {"/a%2/b%zz", "/a%252/b%25zz"},
      {"/?q=a+b&c=%2F;d@e:f", "/?q=a+b&c=%2F;d@e:f"},
      {"/\"<>\\^`{|}", "/%22%3C%3E%5C%5E%60%7B%7C%7D"},
      {"/\t\x7F", "/%09%7F"},
      // A line end in an address must not end the request line.
      {"/a\r\nX-Falso: 1", "/a%0D%0AX-Falso:%201"},
  };
  for (const auto& [path, sent] : cases) EXPECT_EQ(escapeRequestTarget(path), sent) << path;
}

// ---- failures that say why ----

TEST_F(StreamEngineTest, FailuresSayWhyInTermsTheUserCanActOn) {
  LocalServer notFound([](ServerConnection& c) {
    c.readRequest();
    c.send("HTTP/1.0 404 Not Found\r\n\r\n");
  });
  LocalServer unavailable([](ServerConnection& c) {
    c.readRequest();
    c.send("HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\n\r\n");
  });
  LocalServer loop([](ServerConnection& c) {
    c.readRequest();
    c.send("HTTP/1.0 302 Found\r\nLocation: /de-novo\r\n\r\n");
  });
  LocalServer notHttp([](ServerConnection& c) {
    c.readRequest();
    c.send("SSH-2.0-OpenSSH_9.2\r\n\r\n");
  });
  LocalServer hangsUp([](ServerConnection& c) { c.readRequest(); });
  const std::string text = ondaria::test::readWholeFile(tones().path("txt"));
  LocalServer page([&](ServerConnection& c) {
    c.readRequest();
    c.send(head("text/html") + text + text + text);
  });
  LocalServer emptyList([](ServerConnection& c) {
    c.readRequest();
    c.send(head("audio/x-mpegurl") + "#EXTM3U\n# nada aqui\n");
  });
  addrinfo* ai = nullptr;
  ASSERT_NE(getaddrinfo("ondaria-sem-servidor.invalid", "80", nullptr, &ai), 0);

  struct Case {
    std::string address;
    int error;
    FailReason reason;
    int status;
  };
  const Case cases[] = {
      {"http://127.0.0.1:" + std::to_string(ondaria::test::freePort()) + "/r", ERROR_FILEOPEN, FailReason::Refused, 0},
      {"http://ondaria-sem-servidor.invalid/r", ERROR_FILEOPEN, FailReason::UnknownHost, 0},
      {notFound.url("/r"), ERROR_FILEOPEN, FailReason::HttpStatus, 404},
      {unavailable.url("/r"), ERROR_FILEOPEN, FailReason::HttpStatus, 503},
      {loop.url("/r"), ERROR_FILEOPEN, FailReason::Redirects, 0},
      {notHttp.url("/r"), ERROR_FILEOPEN, FailReason::NotHttp, 0},
      {hangsUp.url("/r"), ERROR_FILEOPEN, FailReason::Closed, 0},
      {page.url("/r"), ERROR_FILEFORM, FailReason::NoAudio, 0},
      {emptyList.url("/lista"), ERROR_FILEFORM, FailReason::EmptyPlaylist, 0},
      {tones().folder() + "/nao-existe.mp3", ERROR_FILEOPEN, FailReason::NoSuchFile, 0},
      {"ftp://127.0.0.1/r.mp3", ERROR_FILEOPEN, FailReason::BadAddress, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    EXPECT_EQ(StreamCreateURL(c.address.c_str(), 0, kPlayerFlags, nullptr, nullptr), 0u);
    EXPECT_EQ(ErrorGetCode(), c.error);
    EXPECT_EQ(ErrorGetDetail().reason, c.reason);
    EXPECT_EQ(ErrorGetDetail().status, c.status);
    // The opening that tries every format reports the same.
    HOPEN o = StreamOpenURL(c.address.c_str(), kPlayerFlags, nullptr, nullptr, false, 0);
    ASSERT_NE(o, 0u);
    HSTREAM h = 1;
    int error = 0;
    ErrorDetail detail;
    ASSERT_TRUE(waitUntil([&] { return StreamOpenResult(o, &h, &error, &detail); }, 15));
    EXPECT_EQ(h, 0u);
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(detail.reason, c.reason);
  }
}

// ---- the Content-Type is a hint ----

TEST_F(StreamEngineTest, WhatTheBytesAreWinsOverWhatTheServerAnnounces) {
  const std::string mp3 = ondaria::test::readWholeFile(tones().path("mp3"));
  const std::string aac = ondaria::test::readWholeFile(tones().path("aac"));
  // MP3 after a few KB of zero bytes: nothing to tell the format by at the
  // start, and announced as AAC, so the announced format fails to decode and
  // the same bytes are probed again.
  const std::string padded = std::string(4096, '\0') + mp3;
  struct Case {
    const char* what;
    std::string type;
    const std::string* body;
    uint32_t ctype;
  };
  const Case cases[] = {
      {"AAC sent as audio/mpeg", "audio/mpeg", &aac, CTYPE_STREAM_AAC},
      {"MP3 sent as audio/aacp", "audio/aacp", &mp3, CTYPE_STREAM_MP3},
      {"MP3 sent as application/octet-stream", "application/octet-stream", &mp3, CTYPE_STREAM_MP3},
      {"MP3 after zeros sent as audio/aacp", "audio/aacp", &padded, CTYPE_STREAM_MP3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    LocalServer server([&](ServerConnection& s) {
      s.readRequest();
      s.send(head(c.type) + *c.body);
    });
    const bool aacBytes = c.ctype == CTYPE_STREAM_AAC;
    const std::string url = server.url("/radio");
    // Each creator takes what it decodes, whatever the label.
    HSTREAM plain = StreamCreateURL(url.c_str(), 0, STREAM_DECODE, nullptr, nullptr);
    EXPECT_EQ(plain != 0, !aacBytes) << ErrorGetCode();
    HSTREAM aacOnly = AAC_StreamCreateURL(url.c_str(), 0, STREAM_DECODE, nullptr, nullptr);
    EXPECT_EQ(aacOnly != 0, aacBytes) << ErrorGetCode();
    HSTREAM h = plain ? plain : aacOnly;
    ASSERT_NE(h, 0u);
    ChannelInfo info;
    ASSERT_TRUE(ChannelGetInfo(h, &info));
    EXPECT_EQ(info.ctype, c.ctype);
    Decoded d = decodeAll(h);
    EXPECT_NEAR(secondsOf(d), tones().seconds(), 0.15);
    EXPECT_NEAR(toneFrequency(d.left), 440.0, 5.0);
    StreamFree(h);
  }
}

// ---- live streams that drop, stall, or go away ----

// A live MP3 server whose every connection is told what to do by `plan`:
// plan(n) for the n-th connection (0-based) sends the head and a part of the
// tone, then drops, falls silent, or closes.
enum class Then { Reset, Silence, Close, Missing };
struct Part {
  double seconds;
  Then then;
};

class LiveServer {
 public:
  explicit LiveServer(std::function<Part(int)> plan)
      : plan_(std::move(plan)), server_([this](ServerConnection& c) { serve(c); }) {}
  std::string url() const { return server_.url("/ao-vivo"); }
  int connections() const { return connections_.load(); }

 private:
  void serve(ServerConnection& c) {
    c.readRequest();
    const Part part = plan_(connections_++);
    if (part.then == Then::Missing) {
      c.send("HTTP/1.0 404 Not Found\r\n\r\n");  // as icecast says while the source is away
      return;
    }
    c.send(head("audio/mpeg") + longMp3().substr(offset_, mp3Bytes(part.seconds)));
    if (part.then == Then::Reset) c.reset();
    // Silent, until the client gives the connection up (the server serves
    // one connection at a time, so the next one waits for that).
    if (part.then == Then::Silence) c.readUntilClosed();
  }
  std::function<Part(int)> plan_;
  std::atomic<int> connections_{0};
  size_t offset_ = 4096;  // a live stream is joined anywhere, not at a frame's start
  LocalServer server_;
};

TEST_F(StreamEngineTest, ALiveStreamThatDropsOrFallsSilentIsReopenedAndPlaysOn) {
  const struct {
    const char* what;
    std::function<Part(int)> plan;
    int readTimeoutMs;  // 0: the default
    int reconnectMs;
    double seconds;                   // all connections' audio
    std::vector<uint32_t> reconnects;  // SYNC_RECONNECT data, in order
  } cases[] = {
      // Dropped by a reset, then by a clean close, then the mount is gone:
      // lost, back, lost, given up.
      {"dropped",
       [](int n) {
         if (n == 0) return Part{1.5, Then::Reset};
         return n == 1 ? Part{3.0, Then::Close} : Part{0, Then::Missing};
       },
       0, 1500, 4.5, {0, 1, 0, 2}},
      // Open but sending nothing: lost once the read time-out has passed.
      {"silent",
       [](int n) {
         if (n == 0) return Part{1.0, Then::Silence};
         return n == 1 ? Part{2.0, Then::Close} : Part{0, Then::Missing};
       },
       500, 800, 3.0, {0, 1, 0, 2}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    LiveServer live(c.plan);
    if (c.readTimeoutMs > 0) SetConfig(CONFIG_NET_READTIMEOUT, c.readTimeoutMs);
    SetConfig(CONFIG_NET_RECONNECT, c.reconnectMs);
    HSTREAM h = StreamCreateURL(live.url().c_str(), 0, STREAM_DECODE, nullptr, nullptr);
    ASSERT_NE(h, 0u) << ErrorGetCode();
    SyncLog log;
    ChannelSetSync(h, SYNC_RECONNECT, 0, logSync<SYNC_RECONNECT>, &log);
    ChannelSetSync(h, SYNC_DOWNLOAD, 0, logSync<SYNC_DOWNLOAD>, &log);
    Decoded d = decodeAll(h, 30);
    EXPECT_TRUE(d.ended);
    // Every connection's audio, with the tone intact across the joins.
    EXPECT_NEAR(secondsOf(d), c.seconds, 0.4);
    EXPECT_NEAR(toneFrequency(d.left), 440.0, 5.0);
    EXPECT_EQ(log.data(SYNC_RECONNECT), c.reconnects);
    // The download ended once, at the very end.
    EXPECT_EQ(log.count(SYNC_DOWNLOAD), 1);
    EXPECT_GE(live.connections(), 3);
    StreamFree(h);
  }
}

TEST_F(StreamEngineTest, AMountThatComesBackIsPlayedAgainAndOnlyLiveStreamsAreReopened) {
  // Gone for a few attempts (icecast answers 404 while the source is away).
  LiveServer live([](int n) {
    if (n == 0) return Part{1.0, Then::Reset};
    return n == 4 ? Part{1.0, Then::Close} : Part{0, Then::Missing};
  });
  SetConfig(CONFIG_NET_RECONNECT, 20000);
  HSTREAM h = StreamCreateURL(live.url().c_str(), 0, STREAM_DECODE, nullptr, nullptr);
  ASSERT_NE(h, 0u) << ErrorGetCode();
  SyncLog log;
  ChannelSetSync(h, SYNC_RECONNECT, 0, logSync<SYNC_RECONNECT>, &log);
  std::vector<float> buf(4096 * 2);
  double seconds = 0;
  // Read until the second connection's audio has come, then stop.
  while (seconds < 1.8) {
    const uint32_t got = ChannelGetData(h, buf.data(), static_cast<uint32_t>(buf.size() * sizeof(float)));
    ASSERT_NE(got, 0xFFFFFFFFu) << "ended after " << seconds << " s";
    seconds += got / (2.0 * sizeof(float) * kMixRate);
  }
  // Lost, then back (and lost again, maybe, once the second part is in).
  const std::vector<uint32_t> events = log.data(SYNC_RECONNECT);
  ASSERT_GE(events.size(), 2u);
  EXPECT_EQ(events[0], 0u);
  EXPECT_EQ(events[1], 1u);
  EXPECT_GE(live.connections(), 5);
  StreamFree(h);

  // A programme whose length the server gave is never reopened: its end is its end.
  const std::string body = longMp3().substr(0, mp3Bytes(1.0));
  LocalServer file([&](ServerConnection& c) {
    c.readRequest();
    c.send("HTTP/1.0 200 OK\r\nContent-Type: audio/mpeg\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body);
  });
  h = StreamCreateURL(file.url("/programa.mp3").c_str(), 0, STREAM_DECODE, nullptr, nullptr);
  ASSERT_NE(h, 0u) << ErrorGetCode();
  SyncLog none;
  ChannelSetSync(h, SYNC_RECONNECT, 0, logSync<SYNC_RECONNECT>, &none);
  EXPECT_TRUE(decodeAll(h, 30).ended);
  EXPECT_EQ(none.count(SYNC_RECONNECT), 0);
  EXPECT_EQ(file.connectionCount(), 1);
  StreamFree(h);
}

TEST_F(StreamEngineTest, AStreamBeingReopenedKeepsItsHandleAndIsFreedAtOnce) {
  LiveServer live([](int n) { return n == 0 ? Part{1.0, Then::Reset} : Part{0, Then::Missing}; });
  SetConfig(CONFIG_NET_RECONNECT, 60000);
  HSTREAM h = StreamCreateURL(live.url().c_str(), 0, kPlayerFlags, nullptr, nullptr);
  ASSERT_NE(h, 0u) << ErrorGetCode();
  ASSERT_TRUE(ChannelPlay(h, false));
  // The first connection drops at once, and the stream is being reopened
  // before anybody watches for it: the outage is told to the first
  // reconnection sync set while it lasts, once.
  ASSERT_TRUE(waitUntil([&] { return live.connections() >= 2; }, 15));
  SyncLog log;
  ChannelSetSync(h, SYNC_RECONNECT, 0, logSync<SYNC_RECONNECT>, &log);
  ASSERT_TRUE(waitUntil([&] { return log.count(SYNC_RECONNECT) == 1 && live.connections() >= 3; }, 15))
      << log.count(SYNC_RECONNECT) << " reconnection events, " << live.connections() << " connections";
  // Waiting for its server, the stream is still there and still counts as
  // playing (stalled once its audio has run out).
  const uint32_t active = ChannelIsActive(h);
  EXPECT_TRUE(active == ACTIVE_PLAYING || active == ACTIVE_STALLED) << active;
  EXPECT_EQ(StreamGetFilePosition(h, FILEPOS_CONNECTED), 1u);
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_TRUE(StreamFree(h));
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0);
  std::printf("[ figure ] freeing a stream between two reconnection attempts took %lld ms\n",
              static_cast<long long>(ms.count()));
  EXPECT_EQ(log.data(SYNC_RECONNECT), std::vector<uint32_t>{0});
}

// ---- openings: one attempt, one deadline, given up at once ----

TEST_F(StreamEngineTest, AnOpeningIsGivenUpAtOnceAndLeavesNothingBehind) {
  LocalServer silent([](ServerConnection& c) {
    c.readRequest();
    while (c.pause(20)) {
    }
  });
  HOPEN o = StreamOpenURL(silent.url("/radio").c_str(), kPlayerFlags, nullptr, nullptr, true, 500);
  ASSERT_NE(o, 0u);
  ASSERT_TRUE(waitUntil([&] { return silent.connectionCount() == 1; }, 5));
  HSTREAM h = 0;
  int error = 0;
  ErrorDetail detail;
  EXPECT_FALSE(StreamOpenResult(o, &h, &error, &detail));
  const auto t0 = std::chrono::steady_clock::now();
  StreamOpenCancel(o);
  const auto us = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0);
  std::printf("[ figure ] cancelling an opening returned after %lld us\n", static_cast<long long>(us.count()));
  // Forgotten: asking again gives nothing.
  EXPECT_TRUE(StreamOpenResult(o, &h, &error, &detail));
  EXPECT_EQ(h, 0u);
  EXPECT_EQ(error, ERROR_HANDLE);
  // Nothing is left running: freeing the engine waits for the opening's thread.
  EXPECT_TRUE(Free());
  EXPECT_TRUE(Init(-1, 44100, 0, nullptr, nullptr));
}

TEST_F(StreamEngineTest, APlaylistOfDeadEntriesCostsOneDeadlineNotOneEach) {
  std::atomic<int> hanging{0};
  LocalServer dead([&](ServerConnection& c) {
    ++hanging;
    c.readRequest();
    while (c.pause(50)) {
    }
  });
  // As long a list as is read (64 KB, some 1 800 entries).
  std::string list = "#EXTM3U\n";
  for (int i = 0; list.size() < 63 * 1024; ++i) list += dead.url("/entrada" + std::to_string(i)) + "\n";
  LocalServer playlist([&](ServerConnection& c) {
    c.readRequest();
    c.send(head("audio/x-mpegurl") + list);
  });
  SetConfig(CONFIG_NET_TIMEOUT, 800);
  HOPEN o = StreamOpenURL(playlist.url("/ouvir").c_str(), kPlayerFlags, nullptr, nullptr, false, 0);
  ASSERT_NE(o, 0u);
  HSTREAM h = 0;
  int error = 0;
  ErrorDetail detail;
  ASSERT_TRUE(waitUntil([&] { return StreamOpenResult(o, &h, &error, &detail); }, 20));
  EXPECT_EQ(h, 0u);
  EXPECT_EQ(error, ERROR_TIMEOUT);
  // The first entry used up the deadline; no other entry was even tried.
  EXPECT_EQ(hanging.load(), 1);
}

TEST_F(StreamEngineTest, AnOpenedStreamStartsOnlyOnceItsCushionIsIn) {
  // A server without a start burst that sends a little, holds back, then
  // sends the rest: nothing may sound while less than the cushion has come.
  std::atomic<bool> release{false};
  LocalServer paced([&](ServerConnection& c) {
    c.readRequest();
    c.send(head("audio/mpeg") + longMp3().substr(0, mp3Bytes(0.4)));
    while (!release.load() && c.pause(20)) {
    }
    c.send(longMp3().substr(mp3Bytes(0.4), mp3Bytes(4.0)));
    while (c.pause(50)) {
    }
  });
  std::atomic<int> audible{0};
  setAudioObserver([&](const AudioBlockReport& r) {
    if (r.firstAudible >= 0) ++audible;
  });
  HOPEN o = StreamOpenURL(paced.url("/radio").c_str(), kPlayerFlags, nullptr, nullptr, true, 1500);
  ASSERT_NE(o, 0u);
  HSTREAM h = 0;
  int error = 0;
  ErrorDetail detail;
  ASSERT_TRUE(waitUntil([&] { return StreamOpenResult(o, &h, &error, &detail); }, 10));
  ASSERT_NE(h, 0u) << error;
  EXPECT_EQ(ChannelIsActive(h), ACTIVE_PLAYING);
  // Opened and decoding, but silent with 0.4 s in hand.
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  EXPECT_EQ(audible.load(), 0);
  release = true;
  EXPECT_TRUE(waitUntil([&] { return audible.load() > 0; }, 10));
  setAudioObserver(nullptr);
  StreamFree(h);
}

}  // namespace
}  // namespace platform::streamtest
