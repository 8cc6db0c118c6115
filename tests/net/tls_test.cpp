#include <openssl/sha.h>
#include <stdlib.h>

#include <memory>

#include "net_fixture.h"

namespace ondaria::test {
namespace {

class TlsTest : public NetTest {
 protected:
  static void SetUpTestSuite() { certificates_ = std::make_unique<TestCertificates>(); }
  static void TearDownTestSuite() { certificates_.reset(); }

  void SetUp() override {
    NetTest::SetUp();
    ASSERT_TRUE(certificates_->ok()) << "the openssl program could not make test certificates";
    trust(certificates_->caFile());
  }
  void TearDown() override {
    unsetenv("SSL_CERT_FILE");
    unsetenv("SSL_CERT_DIR");
    NetTest::TearDown();
  }

  // Only this file's certificates are trusted: the system's store is hidden.
  void trust(const std::string& file) {
    setenv("SSL_CERT_FILE", file.c_str(), 1);
    setenv("SSL_CERT_DIR", tmpDir().c_str(), 1);
  }

  static const TestCertificates& certs() { return *certificates_; }

  bool sslErrorShown() const { return screenText().find("Erro SSL: ") != std::string::npos; }

 private:
  static std::unique_ptr<TestCertificates> certificates_;
};

std::unique_ptr<TestCertificates> TlsTest::certificates_;

std::string httpsUrl(const std::string& host, int port, const std::string& path) {
  return "https://" + host + ":" + std::to_string(port) + path;
}

TEST_F(TlsTest, TrustedServerAnswersOverTlsWithTheNameSent) {
  std::string serverName;
  LocalServer server(
      [&](ServerConnection& c) {
        serverName = c.serverName();
        c.readRequest();
        c.send(answer200("File1=http://radio/\r\n"));
      },
      &certs().good());
  std::vector<std::string> list;
  DownloadResult r = loadListFromAddress(httpsUrl("localhost", server.port(), "/r.pls"), list);
  ASSERT_TRUE(r.ok) << netFailureName(r.failure) << " " << tlsLastFailure();
  EXPECT_EQ(list, std::vector<std::string>{"File1=http://radio/"});
  EXPECT_EQ(serverName, "localhost");
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0].rfind("GET /r.pls HTTP/1.0\r\n", 0), 0u);
  EXPECT_NE(server.requests()[0].find("\r\nHost: localhost\r\n"), std::string::npos);
  EXPECT_FALSE(tlsUp()) << "the connection must end with the download";
  EXPECT_FALSE(sslErrorShown());

  // An address is checked against the certificate's IP entry and sent as no name.
  r = loadListFromAddress(httpsUrl("127.0.0.1", server.port(), "/r.pls"), list);
  ASSERT_TRUE(r.ok) << netFailureName(r.failure) << " " << tlsLastFailure();
  EXPECT_EQ(serverName, "");
}

TEST_F(TlsTest, UntrustedOrMisnamedCertificatesFailTheHandshake) {
  struct Case {
    const char* what;
    const TlsServerFiles* files;
    const char* host;
  };
  const Case cases[] = {
      {"self-signed", &certs().selfSigned(), "localhost"},
      {"another host's", &certs().wrongHost(), "localhost"},
      {"another host's, by address", &certs().wrongHost(), "127.0.0.1"},
  };
  for (const Case& c : cases) {
    LocalServer server(
        [](ServerConnection& conn) {
          conn.readRequest();
          conn.send(answer200("secret"));
        },
        c.files);
    DownloadResult r = downloadToFile(httpsUrl(c.host, server.port(), "/"), path("f"));
    EXPECT_FALSE(r.ok) << c.what;
    EXPECT_EQ(r.failure, NetFailure::noConnection) << c.what;
    EXPECT_NE(tlsLastFailure().find("certificate"), std::string::npos) << tlsLastFailure();
    EXPECT_TRUE(server.requests().empty()) << c.what << ": the request went out";
    EXPECT_FALSE(tlsUp());
  }
  // A good certificate whose authority is not trusted.
  trust(certs().good().certificate + ".missing");
  LocalServer server([](ServerConnection& conn) { conn.readRequest(); }, &certs().good());
  EXPECT_EQ(downloadToFile(httpsUrl("localhost", server.port(), "/"), path("f")).failure,
            NetFailure::noConnection);
  EXPECT_TRUE(server.requests().empty());
}

TEST_F(TlsTest, PlainServerBehindHttpsFailsCleanly) {
  LocalServer server([](ServerConnection& c) { c.send("HTTP/1.0 200 OK\r\n\r\nnot tls"); });
  DownloadResult r = downloadToFile(httpsUrl("127.0.0.1", server.port(), "/"), path("f"));
  EXPECT_EQ(r.failure, NetFailure::noConnection);
  EXPECT_FALSE(tlsUp());
}

TEST_F(TlsTest, LargeBodyArrivesWholeWithOrWithoutCloseNotify) {
  const std::string body = patternBody(3 * 1024 * 1024 + 123);
  for (bool closeNotify : {true, false}) {
    LocalServer server(
        [&](ServerConnection& c) {
          c.readRequest();
          c.send(answer200(body, false));
          if (!closeNotify) c.skipCloseNotify();
        },
        &certs().good());
    DownloadResult r = downloadToFile(httpsUrl("localhost", server.port(), "/big"), path("big"),
                                      stationListDownload());
    ASSERT_TRUE(r.ok) << netFailureName(r.failure) << " closeNotify=" << closeNotify;
    EXPECT_EQ(r.bytes, body.size());
    EXPECT_TRUE(readFile(path("big")) == body);
  }
  EXPECT_FALSE(sslErrorShown()) << screenText();
}

TEST_F(TlsTest, DamagedRecordFailsAndShowsTheTlsError) {
  LocalServer server(
      [](ServerConnection& c) {
        c.readRequest();
        // An application-data record of 64 bytes that no key produced.
        std::string record = std::string("\x17\x03\x03\x00\x40", 5) + std::string(64, '\x5A');
        c.sendRaw(record);
        c.pause(200);
      },
      &certs().good());
  DownloadResult r = downloadToFile(httpsUrl("localhost", server.port(), "/"), path("f"));
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.failure, NetFailure::badAnswer);
  EXPECT_TRUE(sslErrorShown()) << screenText();
  EXPECT_FALSE(tlsUp());
}

TEST_F(TlsTest, ResetDuringATlsBodyIsATruncation) {
  LocalServer server(
      [](ServerConnection& c) {
        c.readRequest();
        c.send("HTTP/1.0 200 OK\r\nContent-Length: 200000\r\n\r\n" + patternBody(60000));
        c.reset();
      },
      &certs().good());
  DownloadResult r = downloadToFile(httpsUrl("localhost", server.port(), "/"), path("f"));
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.failure, NetFailure::truncated);
}

TEST_F(TlsTest, RedirectFromPlainToTlsAndReaderOnTheTlsSocket) {
  LocalServer secure(
      [](ServerConnection& c) {
        c.readRequest();
        c.send(answer200("line one\r\nline two\r\n"));
      },
      &certs().good());
  LocalServer plain([&](ServerConnection& c) {
    c.readRequest();
    c.send("HTTP/1.0 302 Found\r\nLocation: " + httpsUrl("localhost", secure.port(), "/x") +
           "\r\n\r\n");
  });
  HttpAnswer answer;
  ASSERT_TRUE(httpGetFollow(plain.url("/"), answer));
  EXPECT_EQ(answer.status, 200);
  EXPECT_EQ(answer.socket, tlsSocket());
  // The whole small body arrives in one record: after the first line the rest
  // is decrypted and waiting, so the reader is ready without a poll.
  std::string line;
  ASSERT_TRUE(readLine(answer.reader.get(), 30, line));
  EXPECT_EQ(line, "line one");
  EXPECT_TRUE(answer.reader->position < answer.reader->count || tlsPending());
  EXPECT_TRUE(readerReady(answer.reader.get()));
  ASSERT_TRUE(readLine(answer.reader.get(), 30, line));
  EXPECT_EQ(line, "line two");
  EXPECT_FALSE(readLine(answer.reader.get(), 30, line));
  EXPECT_EQ(answer.reader->state, ReaderState::ended);
  answer.close();
  EXPECT_FALSE(tlsUp());
  EXPECT_EQ(tlsSocket(), -1);
  EXPECT_EQ(tlsRead(&line[0], 1), -1);
  EXPECT_EQ(tlsWrite("x", 1), -1);
}

}  // namespace
}  // namespace ondaria::test
