// The directory's mirrors as the program meets them, played by local TLS
// servers with the test certificate authority: honest mirrors, dead ones,
// stalled ones and hostile answers. Nothing leaves 127.0.0.1.
#include "app/directory_client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/directory_stations.h"
#include "console/core/console.h"
#include "console/core/settings.h"
#include "net/net_fixture.h"
#include "support/temp_files.h"

namespace ondaria::test {
namespace {

const std::string kAnswer =
    R"([{"stationuuid":"96062a7b-0601-11e8-ae97-52543be04c81","name":"Rádio Boa",)"
    R"("url_resolved":"https://boa.example/live.mp3","votes":10,"lastcheckok":1}])";

std::string json200(const std::string& body) {
  return "HTTP/1.0 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string serverList(const std::vector<int>& ports) {
  std::string text = "[";
  for (size_t i = 0; i < ports.size(); ++i)
    text += std::string(i ? "," : "") + R"({"ip":"127.0.0.1","name":"localhost:)" +
            std::to_string(ports[i]) + "\"}";
  return text + "]";
}

// A port on which nothing listens: its connections are refused at once.
int deadPort() {
  LocalServer gone([](ServerConnection&) {});
  const int port = gone.port();
  gone.stop();
  return port;
}

class DirectoryClientTest : public NetTest {
 protected:
  static void SetUpTestSuite() { certificates_ = std::make_unique<TestCertificates>(); }
  static void TearDownTestSuite() { certificates_.reset(); }

  void SetUp() override {
    NetTest::SetUp();
    ASSERT_TRUE(certificates_->ok());
    env_.set("SSL_CERT_FILE", certificates_->caFile());
    resetDirectoryClient();
  }
  void TearDown() override {
    resetDirectoryClient();
    setIdleHook(nullptr);
    NetTest::TearDown();
  }

  // A TLS server with the test certificate for "localhost".
  std::unique_ptr<LocalServer> server(LocalServer::Handler handler) {
    return std::make_unique<LocalServer>(std::move(handler), &certificates_->good());
  }
  // The directory's base: the mirror list on /json/servers, 404 for the rest.
  std::unique_ptr<LocalServer> base(const std::string& servers) {
    return server([servers](ServerConnection& c) {
      const std::string request = c.readRequest();
      if (request.rfind("GET /json/servers ", 0) == 0)
        c.send(json200(servers));
      else
        c.send("HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n");
    });
  }
  void useDirectory(const LocalServer& at) {
    writeFileBytes(path("config/lumare/Lumare.ini"),
                   "[ONDARIA]\r\nDIRETORIO=https://localhost:" + std::to_string(at.port()) + "/\r\n");
  }
  static std::unique_ptr<TestCertificates> certificates_;
  ScopedEnv env_;
};

std::unique_ptr<TestCertificates> DirectoryClientTest::certificates_;

TEST_F(DirectoryClientTest, AskedFromAMirrorOfTheListNamingItself) {
  auto mirror = server([](ServerConnection& c) {
    c.readRequest();
    c.send(json200(kAnswer));
  });
  auto directory = base(serverList({mirror->port()}));
  useDirectory(*directory);

  // A search holding characters that mean something in a query reaches the
  // mirror escaped exactly once.
  DirectorySearch search;
  search.name = "boa & 100% r\xE1" "dio";
  search.limit = 5;
  const std::string target = directorySearchTarget(search);
  ASSERT_EQ(target.rfind("/json/stations/search?name=boa%20%26%20100%25%20r%C3%A1dio&", 0), 0u) << target;
  DirectoryQuery q = queryDirectory(target);
  ASSERT_EQ(q.outcome, DirectoryOutcome::ok);
  ASSERT_EQ(q.answer.stations.size(), 1u);
  EXPECT_EQ(q.answer.stations[0].name, "R\xE1" "dio Boa");
  EXPECT_EQ(q.mirror, "https://localhost:" + std::to_string(mirror->port()));
  ASSERT_EQ(mirror->requests().size(), 1u);
  const std::string request = mirror->requests()[0];
  EXPECT_EQ(request.rfind("GET " + target + " HTTP/1.0\r\n", 0), 0u) << request;
  EXPECT_NE(request.find("\r\nUser-Agent: Ondaria/3.0\r\n"), std::string::npos) << request;

  // The mirror list is fetched once; the mirror that answered is asked again.
  q = queryDirectory(target);
  EXPECT_EQ(q.outcome, DirectoryOutcome::ok);
  EXPECT_EQ(directory->requests().size(), 1u);
  EXPECT_EQ(mirror->requests().size(), 2u);

  // A station played is told to that mirror, on the side.
  reportDirectoryPlay(q.mirror, q.answer.stations[0].uuid);
  finishDirectoryReports();
  ASSERT_EQ(mirror->requests().size(), 3u);
  EXPECT_EQ(mirror->requests()[2].rfind("GET /json/url/96062a7b-0601-11e8-ae97-52543be04c81 ", 0), 0u);
  EXPECT_NE(mirror->requests()[2].find("User-Agent: Ondaria/3.0\r\n"), std::string::npos);
}

// Every kind of useless mirror is passed over for the next; when all are
// useless the base is the last resort, and then the query fails.
TEST_F(DirectoryClientTest, HostileMirrorsArePassedOver) {
  auto cut = server([](ServerConnection& c) {
    c.readRequest();
    c.send(json200(kAnswer.substr(0, kAnswer.size() - 20)));  // JSON cut short
  });
  auto html = server([](ServerConnection& c) {
    c.readRequest();
    c.send(json200("<html><body>Erro 502</body></html>"));
  });
  auto wrongShape = server([](ServerConnection& c) {
    c.readRequest();
    c.send(json200(R"({"stations":[]})"));
  });
  auto error = server([](ServerConnection& c) {
    c.readRequest();
    c.send("HTTP/1.0 503 Service Unavailable\r\nContent-Length: 0\r\n\r\n");
  });
  // 50 MB of one endless JSON text: the transfer stops at the size limit.
  auto huge = server([](ServerConnection& c) {
    c.readRequest();
    const std::string block(64 * 1024, 'x');
    if (!c.send("HTTP/1.0 200 OK\r\nContent-Length: 52428800\r\n\r\n[{\"name\":\"")) return;
    for (int sent = 0; sent < 800 && c.send(block); ++sent) {
    }
  });
  const std::vector<int> ports = {deadPort(), cut->port(), html->port(), wrongShape->port(),
                                  error->port(), huge->port()};
  auto directory = base(serverList(ports));
  useDirectory(*directory);

  const DirectoryQuery q = queryDirectory("/json/stations/search?limit=5");
  EXPECT_EQ(q.outcome, DirectoryOutcome::failed);
  EXPECT_TRUE(q.answer.stations.empty());
  EXPECT_EQ(q.mirrorsTried, static_cast<int>(ports.size()) + 1);
  for (LocalServer* s : {cut.get(), html.get(), wrongShape.get(), error.get(), huge.get()})
    EXPECT_EQ(s->connectionCount(), 1);
  EXPECT_EQ(directory->requests().size(), 2u);  // the list, then the base as last resort
  EXPECT_EQ(countFiles(tmpDir()), 0u);          // no answer file left behind

  // One good mirror among them answers, wherever the shuffle put it.
  resetDirectoryClient();
  auto good = server([](ServerConnection& c) {
    c.readRequest();
    c.send(json200(kAnswer));
  });
  std::vector<int> withGood = ports;
  withGood.push_back(good->port());
  auto directory2 = base(serverList(withGood));
  useDirectory(*directory2);
  const DirectoryQuery q2 = queryDirectory("/json/stations/search?limit=5");
  ASSERT_EQ(q2.outcome, DirectoryOutcome::ok);
  EXPECT_EQ(q2.mirror, "https://localhost:" + std::to_string(good->port()));
}

TEST_F(DirectoryClientTest, WithoutAUsableMirrorListTheBaseAnswers) {
  for (const std::string& list : {std::string("[{\"name\":\"localhost:1\""), std::string("{}"),
                                  std::string("[]")}) {
    resetDirectoryClient();
    auto directory = server([list](ServerConnection& c) {
      const std::string request = c.readRequest();
      c.send(json200(request.rfind("GET /json/servers ", 0) == 0 ? list : kAnswer));
    });
    useDirectory(*directory);
    const DirectoryQuery q = queryDirectory("/json/stations/search?limit=5");
    ASSERT_EQ(q.outcome, DirectoryOutcome::ok) << list;
    EXPECT_EQ(directoryMirrors(),
              std::vector<std::string>{"https://localhost:" + std::to_string(directory->port())});
  }
}

// A mirror that takes the request and never answers: ESC gives the query up
// at once instead of waiting for the time limit.
TEST_F(DirectoryClientTest, EscGivesUpAStalledMirror) {
  std::atomic<bool> asked{false};
  auto stalled = server([&asked](ServerConnection& c) {
    c.readRequest();
    asked = true;
    while (c.pause(50)) {
    }
  });
  auto directory = base(serverList({stalled->port()}));
  useDirectory(*directory);
  bool pressed = false;
  setIdleHook([&] {
    if (asked && !pressed) {
      pressed = true;
      screen_->pressKey(platform::KeyId::Escape);
    }
  });
  bool slowTold = false;
  const DirectoryQuery q =
      queryDirectory("/json/stations/search?limit=5", [&] { slowTold = true; });
  EXPECT_TRUE(pressed);
  EXPECT_EQ(q.outcome, DirectoryOutcome::givenUp);
  EXPECT_EQ(q.mirrorsTried, 1);  // the base was not asked after ESC
  EXPECT_EQ(directory->requests().size(), 1u);
  EXPECT_FALSE(keyPressed());  // the ESC was taken
  (void)slowTold;              // depends on how fast the stall was reached
}

TEST_F(DirectoryClientTest, BaseAndCountryComeFromTheSettings) {
  writeFileBytes(path("config/lumare/Lumare.ini"), "[ONDARIA]\r\nPAIS=pt\r\nDIRETORIO= http://d.example// \r\n");
  EXPECT_EQ(directoryCountry(), "PT");
  EXPECT_EQ(directoryBase(), "http://d.example");
  writeFileBytes(path("config/lumare/Lumare.ini"), "[ONDARIA]\r\nPAIS=Brasil\r\n; outro tamanho\r\n");
  EXPECT_EQ(directoryCountry(), "BR");
  EXPECT_EQ(directoryBase(), kDirectoryDefaultBase);
}

}  // namespace
}  // namespace ondaria::test
