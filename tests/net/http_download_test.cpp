#include <unistd.h>

#include <atomic>

#include "net_fixture.h"

namespace ondaria::test {
namespace {

using HttpTest = NetTest;

// ---- Addresses ----------------------------------------------------------------

struct SplitCase {
  const char* address;
  bool ok;
  const char* scheme;
  const char* host;
  int port;
  const char* target;
};

TEST(SplitUrl, TakesAddressesApart) {
  const SplitCase cases[] = {
      {"http://host/list.pls", true, "HTTP", "host", 80, "/list.pls"},
      {"host:8080/x", true, "HTTP", "host", 8080, "/x"},
      {"http://host?id=5", true, "HTTP", "host", 80, "/?id=5"},
      {"https://host/x", true, "HTTPS", "host", 443, "/x"},
      {"HtTpS://host:8443", true, "HTTPS", "host", 8443, "/"},
      {"  http://host/a b \r\n", true, "HTTP", "host", 80, "/a b"},
      {"http://host/a?u=http://b:9/c", true, "HTTP", "host", 80, "/a?u=http://b:9/c"},
      {"http://[::1]:8000/live", true, "HTTP", "[::1]", 8000, "/live"},
      {"http://[::1]/live", true, "HTTP", "[::1]", 80, "/live"},
      {"icy://radio:8000/", true, "ICY", "radio", 8000, "/"},
      {"host:abc/x", false, "", "", 0, ""},
      {"host:/x", false, "", "", 0, ""},
      {"host:-1/x", false, "", "", 0, ""},
      {"host:70000/x", false, "", "", 0, ""},
      {"host:0/x", false, "", "", 0, ""},
      {"http:///x", false, "", "", 0, ""},
      {"http://[::1/x", false, "", "", 0, ""},
      {"http://[::1]x/", false, "", "", 0, ""},
      {"", false, "", "", 0, ""},
  };
  for (const SplitCase& c : cases) {
    UrlParts parts;
    ASSERT_EQ(splitUrl(c.address, parts), c.ok) << c.address;
    if (!c.ok) continue;
    EXPECT_EQ(parts.scheme, c.scheme) << c.address;
    EXPECT_EQ(parts.host, c.host) << c.address;
    EXPECT_EQ(parts.port, c.port) << c.address;
    EXPECT_EQ(parts.target, c.target) << c.address;
  }
  UrlParts parts;
  EXPECT_FALSE(splitUrl("http://h/" + std::string(kMaxAddressLength, 'a'), parts));
}

TEST(EncodeUrl, EscapesTheSpecialSetOnly) {
  EXPECT_EQ(encodeUrl("/a b_c"), "/a%20b%5Fc");
  // Escapes already in the address stay; a "%" that begins none is escaped.
  EXPECT_EQ(encodeUrl("/x%20y%2fz%C3%A1"), "/x%20y%2fz%C3%A1");
  EXPECT_EQ(encodeUrl("/100%/a%2/b%zz%"), "/100%25/a%252/b%25zz%25");
  EXPECT_EQ(encodeUrl("/?q=1&r=2;s@t#u+v:w=/,!$'()*"), "/?q=1&r=2;s@t#u+v:w=/,!$'()*");
  EXPECT_EQ(encodeUrl("\"<>[]\\^`{|}~"), "%22%3C%3E%5B%5D%5C%5E%60%7B%7C%7D%7E");
  EXPECT_EQ(encodeUrl(std::string("\x00\x1F\x7F\x80\xE3\xFF", 6)), "%00%1F%7F%80%E3%FF");
  EXPECT_EQ(encodeUrl("/S\xE3o Paulo"), "/S%E3o%20Paulo");
}

// ---- Exchanges ------------------------------------------------------------------

TEST_F(HttpTest, RequestBytesAreExactlyTheFixedHeaderSet) {
  LocalServer server([](ServerConnection& c) {
    c.readRequest();
    c.send(answer200("File1=http://a/\r\n"));
  });
  const std::string file = path("list.pls");
  std::string address = "127.0.0.1:" + std::to_string(server.port()) + "/dir/my list_1.pls?x=%20";
  DownloadResult r = downloadToFile(address, file);
  ASSERT_TRUE(r.ok) << netFailureName(r.failure);
  EXPECT_EQ(r.status, 200);
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0],
            "GET /dir/my%20list%5F1.pls?x=%20 HTTP/1.0\r\n"
            "UA-CPU: x86\r\n"
            "Connection: Close\r\n"
            "Accept-Language: pt-br\r\n"
            "User-Agent: Brisol 2.4\r\n"
            "Host: 127.0.0.1\r\n"
            "\r\n");
  EXPECT_EQ(readFile(file), "File1=http://a/\r\n");
  EXPECT_EQ(r.bytes, 17u);
}

TEST_F(HttpTest, BodiesWithAndWithoutContentLengthArriveWhole) {
  const std::string body = patternBody(300 * 1000 + 17);
  for (bool withLength : {true, false}) {
    LocalServer server([&](ServerConnection& c) {
      c.readRequest();
      // The head and body in pieces, so the reader refills mid-line and mid-body.
      std::string all = answer200(body, withLength);
      for (std::size_t at = 0; at < all.size(); at += 70001) c.send(all.substr(at, 70001));
    });
    const std::string file = path("body.bin");
    DownloadResult r = downloadToFile(server.url("/b"), file, stationListDownload());
    ASSERT_TRUE(r.ok) << netFailureName(r.failure) << " withLength=" << withLength;
    EXPECT_EQ(r.bytes, body.size());
    EXPECT_TRUE(readFile(file) == body) << "withLength=" << withLength;
  }
}

TEST_F(HttpTest, LineFeedOnlyAnswerIsReadTheSame) {
  LocalServer server([](ServerConnection& c) {
    c.readRequest();
    c.send("HTTP/1.0 200 OK\nContent-Length: 3\n\nabc");
  });
  DownloadResult r = downloadToFile(server.url("/"), path("f"));
  ASSERT_TRUE(r.ok) << netFailureName(r.failure);
  EXPECT_EQ(readFile(path("f")), "abc");
}

TEST_F(HttpTest, RedirectionsAreFollowedAcrossServersAndRelativeLocations) {
  LocalServer final([](ServerConnection& c) {
    std::string head = c.readRequest();
    if (head.rfind("GET /final/list.pls ", 0) == 0) {
      c.send(answer200("ok"));
    } else {
      c.send("HTTP/1.0 404 Not Found\r\n\r\n");
    }
  });
  LocalServer first([&](ServerConnection& c) {
    std::string head = c.readRequest();
    if (head.rfind("GET /start ", 0) == 0) {
      c.send("HTTP/1.1 302 Found\r\nlocation: /dir/next\r\n\r\n");
    } else if (head.rfind("GET /dir/next ", 0) == 0) {
      c.send("HTTP/1.0 301 Moved\r\nLocation: http://nowhere/\r\nLOCATION:  " +
             final.url("/final/list.pls") + "  \r\n\r\n");
    } else {
      c.send("HTTP/1.0 500 Oops\r\n\r\n");
    }
  });
  DownloadResult r = downloadToFile(first.url("/start"), path("f"));
  ASSERT_TRUE(r.ok) << netFailureName(r.failure);
  EXPECT_EQ(readFile(path("f")), "ok");
  EXPECT_EQ(first.requests().size(), 2u);
  ASSERT_EQ(final.requests().size(), 1u);
  EXPECT_NE(final.requests()[0].find("Host: 127.0.0.1\r\n"), std::string::npos);
}

TEST_F(HttpTest, FailedChainsSayWhy) {
  std::atomic<int> mode{0};
  LocalServer server([&](ServerConnection& c) {
    c.readRequest();
    switch (mode.load()) {
      case 0: c.send("HTTP/1.0 302 Found\r\nLocation: " + std::string("/again") + "\r\n\r\n"); break;
      case 1: c.send("HTTP/1.0 302 Found\r\nServer: x\r\n\r\n"); break;
      case 2: c.send("HTTP/1.0 404 Not Found\r\n\r\nmissing"); break;
      case 3: c.send("HTTP/1.0 2x0 OK\r\n\r\nbody"); break;
      case 4: c.send("<html>hello</html>\r\n\r\n"); break;
      case 5: c.send("HTTP/1.0\r\n\r\n"); break;
      case 6: break;  // closes without a word
    }
  });
  struct Case {
    int mode;
    NetFailure failure;
    int status;
    std::size_t requests;
  };
  const Case cases[] = {
      {0, NetFailure::tooManyRedirects, 302, kMaxAnswers},
      {1, NetFailure::redirectWithoutLocation, 302, 1},
      {2, NetFailure::httpStatus, 404, 1},
      {3, NetFailure::badAnswer, 0, 1},
      {4, NetFailure::badAnswer, 0, 1},
      {5, NetFailure::badAnswer, 0, 1},
      {6, NetFailure::badAnswer, 0, 1},
  };
  for (const Case& c : cases) {
    mode = c.mode;
    std::size_t before = server.requests().size();
    const std::string file = path("f" + std::to_string(c.mode));
    DownloadResult r = downloadToFile(server.url("/start"), file);
    EXPECT_FALSE(r.ok) << c.mode;
    EXPECT_EQ(r.failure, c.failure) << c.mode << ": " << netFailureName(r.failure);
    EXPECT_EQ(r.status, c.status) << c.mode;
    EXPECT_EQ(server.requests().size() - before, c.requests) << c.mode;
    EXPECT_FALSE(std::filesystem::exists(file)) << c.mode;
  }
}

TEST_F(HttpTest, UnreachableOrMalformedAddressesFailQuietly) {
  LocalServer server([](ServerConnection&) {});
  int port = server.port();
  server.stop();  // nobody listens any more
  EXPECT_EQ(downloadToFile("http://127.0.0.1:" + std::to_string(port) + "/", path("f")).failure,
            NetFailure::noConnection);
  EXPECT_EQ(downloadToFile("http://9fm/list.pls", path("f")).failure, NetFailure::noConnection);
  EXPECT_EQ(downloadToFile("http://host:port/x", path("f")).failure, NetFailure::badAddress);
  EXPECT_EQ(downloadToFile("http://host:99999/x", path("f")).failure, NetFailure::badAddress);
}

// ---- Files ------------------------------------------------------------------------

TEST_F(HttpTest, LocalListIsReadWithoutAnyConnection) {
  const std::string name = path("radio.pls");
  {
    std::ofstream out(name, std::ios::binary);
    out << "[playlist]\r\nFile1=http://a:8000/\nFile2=http://b/\r\rlast";
  }
  std::vector<std::string> list;
  DownloadResult r = loadListFromAddress(name, list);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(list, (std::vector<std::string>{"[playlist]", "File1=http://a:8000/", "File2=http://b/",
                                            "", "last"}));
  EXPECT_EQ(countFiles(tmpDir()), 0u);
}

TEST_F(HttpTest, DownloadedListIsReadAndItsTemporaryFileAlwaysDeleted) {
  LocalServer server([](ServerConnection& c) {
    std::string head = c.readRequest();
    if (head.rfind("GET /list.m3u ", 0) == 0) {
      c.send(answer200("#EXTM3U\r\nhttp://a/\r\nhttp://b/\n", false));
    } else {
      c.send("HTTP/1.0 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found");
    }
  });
  std::vector<std::string> list;
  DownloadResult r = loadListFromAddress(server.url("/list.m3u"), list);
  ASSERT_TRUE(r.ok) << netFailureName(r.failure);
  EXPECT_EQ(list, (std::vector<std::string>{"#EXTM3U", "http://a/", "http://b/"}));
  EXPECT_EQ(countFiles(tmpDir()), 0u);

  r = loadListFromAddress(server.url("/missing.pls"), list);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.status, 404);
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(countFiles(tmpDir()), 0u);
}

TEST_F(HttpTest, TempFileNameMakesNewEmptyFiles) {
  std::string a = tempFileName();
  std::string b = tempFileName();
  ASSERT_FALSE(a.empty());
  EXPECT_NE(a, b);
  EXPECT_EQ(a.rfind(tmpDir() + "/ond", 0), 0u) << a;
  EXPECT_TRUE(std::filesystem::is_regular_file(a));
  EXPECT_EQ(std::filesystem::file_size(a), 0u);
  setenv("TMPDIR", path("no/such/dir").c_str(), 1);
  EXPECT_EQ(tempFileName(), "");
}

TEST_F(HttpTest, FileProblemsAreReportedAsSuch) {
  LocalServer server([](ServerConnection& c) {
    c.readRequest();
    c.send(answer200(patternBody(200000)));
  });
  DownloadResult r = downloadToFile(server.url("/"), path("no/such/dir/f"));
  EXPECT_EQ(r.failure, NetFailure::cannotCreateFile);
  EXPECT_EQ(r.status, 200);
  // A device that refuses every write: a short write stops the download.
  r = downloadToFile(server.url("/"), "/dev/full");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.failure, NetFailure::writeFailed);
}

// ---- Hostile servers -----------------------------------------------------------

TEST_F(HttpTest, EndlessHeaderLineIsRefused) {
  LocalServer server([](ServerConnection& c) {
    c.readRequest();
    c.send("HTTP/1.0 200 OK\r\nX-Filler: ");
    std::string chunk(64 * 1024, 'a');
    for (int i = 0; i < 160 && c.send(chunk); ++i) {  // 10 MB, no line end
    }
  });
  DownloadResult r = downloadToFile(server.url("/"), path("f"));
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.failure, NetFailure::badAnswer);
}

TEST_F(HttpTest, EndlessHeaderBlockIsRefused) {
  // Endless short lines, or a few lines each just under the line limit.
  for (std::size_t lineSize : {std::size_t{10}, kMaxLineLength - 10}) {
    LocalServer server([&](ServerConnection& c) {
      c.readRequest();
      c.send("HTTP/1.0 200 OK\r\n");
      const std::string line = "X: " + std::string(lineSize, 'v') + "\r\n";
      for (int i = 0; i < 100000 && c.send(line); ++i) {
      }
    });
    DownloadResult r = downloadToFile(server.url("/"), path("f"));
    EXPECT_EQ(r.failure, NetFailure::badAnswer) << lineSize;
  }
}

TEST_F(HttpTest, SlowServersAreGivenUpAtTheWaitLimit) {
  setReadWait("1000");
  DownloadOptions quick = playlistDownload();
  quick.waitLimit = 1;
  // Mode 0 trickles the head, mode 1 sends the head and trickles the body:
  // one byte every 5 s.
  for (int mode : {0, 1}) {
    LocalServer server([&](ServerConnection& c) {
      c.readRequest();
      if (mode == 1 && !c.send("HTTP/1.0 200 OK\r\nContent-Length: 50\r\n\r\nbody")) return;
      for (char ch : std::string("HTTP/1.0 200 OK\r\n\r\n")) {
        if (!c.send(std::string(1, ch)) || !c.pause(5000)) return;
      }
    });
    while (keyPressed()) readKey();
    typeKey();
    DownloadResult r = downloadToFile(server.url("/"), path("f"), quick);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.failure, NetFailure::timedOut) << mode << ": " << netFailureName(r.failure);
    EXPECT_EQ(r.status, mode == 1 ? 200 : 0);
    // Keys typed while waiting reach the queue; once a body was being copied
    // they are discarded at its end.
    EXPECT_EQ(keyCount(), mode == 1 ? 0 : 1) << mode;
  }
}

TEST_F(HttpTest, HugeBodyStopsAtTheSizeLimit) {
  LocalServer server([](ServerConnection& c) {
    c.readRequest();
    c.send("HTTP/1.0 200 OK\r\nContent-Length: 209715200\r\n\r\n");
    std::string chunk = patternBody(64 * 1024);
    for (int i = 0; i < 3200 && c.send(chunk); ++i) {  // 200 MB
    }
  });
  const std::string file = path("big");
  DownloadResult r = downloadToFile(server.url("/"), file, playlistDownload());
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.failure, NetFailure::tooLarge);
  EXPECT_EQ(r.bytes, kPlaylistSizeLimit);
  EXPECT_EQ(std::filesystem::file_size(file), kPlaylistSizeLimit);

  std::vector<std::string> list;
  r = loadListFromAddress(server.url("/"), list);
  EXPECT_EQ(r.failure, NetFailure::tooLarge);
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(countFiles(tmpDir()), 0u);
}

TEST_F(HttpTest, SizeLimitIsExact) {
  const std::string body = patternBody(100000);
  LocalServer server([&](ServerConnection& c) {
    c.readRequest();
    c.send(answer200(body, false));
  });
  DownloadOptions options;
  options.maxBodyBytes = body.size();
  EXPECT_TRUE(downloadToFile(server.url("/"), path("f"), options).ok);
  options.maxBodyBytes = body.size() - 1;
  DownloadResult r = downloadToFile(server.url("/"), path("f"), options);
  EXPECT_EQ(r.failure, NetFailure::tooLarge);
  EXPECT_EQ(readFile(path("f")), body.substr(0, body.size() - 1));
  EXPECT_GT(kStationListSizeLimit, kPlaylistSizeLimit);
  EXPECT_EQ(stationListDownload().maxBodyBytes, kStationListSizeLimit);
}

TEST_F(HttpTest, BodyCutShortIsNotASuccess) {
  std::atomic<int> mode{0};
  LocalServer server([&](ServerConnection& c) {
    c.readRequest();
    std::string part = patternBody(50000);
    if (mode == 0) {
      c.send("HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\n" + part);
      c.reset();  // reset mid-body
    } else if (mode == 1) {
      c.send("HTTP/1.0 200 OK\r\n\r\n" + part);
      c.pause(100);
      c.reset();
    } else {
      c.send("HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\n" + part);  // clean close
    }
  });
  for (int m : {0, 1, 2}) {
    mode = m;
    std::vector<std::string> list;
    DownloadResult r = loadListFromAddress(server.url("/"), list);
    EXPECT_FALSE(r.ok) << m;
    EXPECT_EQ(r.failure, NetFailure::truncated) << m << ": " << netFailureName(r.failure);
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(countFiles(tmpDir()), 0u);
  }
}

}  // namespace
}  // namespace ondaria::test
