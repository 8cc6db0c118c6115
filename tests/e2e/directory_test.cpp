// Whole-program runs of the open station directory: main option N and the
// directory source of main option A, against local TLS stand-ins of the
// directory started by the test (nothing is fetched from the internet).
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>

#include "support/local_server.h"
#include "support/program_run.h"
#include "support/temp_files.h"

namespace ondaria::test {
namespace {

std::string json200(const std::string& body) {
  return "HTTP/1.0 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string stationJson(const std::string& uuid, const std::string& name,
                        const std::string& address, const std::string& tags,
                        const std::string& state) {
  return R"({"stationuuid":")" + uuid + R"(","name":")" + name + R"(","url":")" + address +
         R"(","url_resolved":")" + address + R"(","tags":")" + tags +
         R"(","countrycode":"BR","state":")" + state +
         R"(","codec":"AAC+","bitrate":64,"hls":0,"votes":900,"lastcheckok":1})";
}

// The directory: a base that lists one mirror, and that mirror.
class DirectoryStandIn {
 public:
  explicit DirectoryStandIn(std::function<void(ServerConnection&, const std::string&)> mirror)
      : mirror_([mirror](ServerConnection& c) { mirror(c, c.readRequest()); }, &certs().good()),
        base_(
            [this](ServerConnection& c) {
              const std::string request = c.readRequest();
              if (request.rfind("GET /json/servers ", 0) == 0)
                c.send(json200(R"([{"name":"localhost:)" + std::to_string(mirror_.port()) + "\"}]"));
              else
                c.send("HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n");
            },
            &certs().good()) {}

  void configure(ProgramRun& program, const std::string& moreSettings = "") {
    program.writeSettings("[ONDARIA]\nDIRETORIO=https://localhost:" + std::to_string(base_.port()) +
                          "\n" + moreSettings);
    program.setEnv("SSL_CERT_FILE", certs().caFile());
  }
  LocalServer& mirror() { return mirror_; }
  LocalServer& base() { return base_; }

  static const TestCertificates& certs() {
    static TestCertificates certificates;
    return certificates;
  }

 private:
  LocalServer mirror_;
  LocalServer base_;
};

bool anyRequestStartsWith(const LocalServer& server, const std::string& start) {
  for (const std::string& r : server.requests())
    if (r.rfind(start, 0) == 0) return true;
  return false;
}

TEST(DirectoryProgram, SearchHearInfoPlayIncludeAndKeepAsFavourite) {
  ASSERT_TRUE(DirectoryStandIn::certs().ok());
  // The stream address: a local server that has no such stream.
  LocalServer streams([](ServerConnection& c) {
    c.readRequest();
    c.send("HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n");
  });
  const std::string address = streams.url("/ao-vivo.mp3");
  DirectoryStandIn directory([&](ServerConnection& c, const std::string&) {
    c.send(json200("[" + stationJson("aaaa-1111", "Rádio Cultura", address, "mpb,educativa", "São Paulo") +
                   "," + stationJson("bbbb-2222", "Nova Brasil", address, "mpb", "Rio de Janeiro") +
                   "]"));
  });
  ProgramRun program;
  directory.configure(program);
  program.writeStationList("[MPB]\nAntiga=http://127.0.0.1:9/antiga\n");

  const ProgramResult r = program.run(
      "text n\nwait vazio: as mais votadas\ntext rádio\nkey Enter\nwait encontradas\n"
      "text p\nwait Votos\n"
      "key Enter\nwait Aperte enter\nkey Enter\nwait encontradas\n"
      "text i\nwait Selecione com as setas a categoria\nkey Enter\nwait OK.\n"
      "key Down\ntext c\nwait em qual preferida\ntext 5\nkey Enter\nwait OK.\n"
      "key Esc\nwait vazio: as mais votadas\nkey Esc\nwait Que deseja\nkey Esc\n");
  ASSERT_FALSE(r.timedOut) << r.stderrText;
  EXPECT_EQ(r.exitStatus, 0) << r.stderrText;

  // The search that went out: part of the name in UTF-8, Brazil, most voted.
  ASSERT_FALSE(directory.mirror().requests().empty());
  const std::string search = directory.mirror().requests()[0];
  EXPECT_EQ(search.rfind("GET /json/stations/search?name=r%C3%A1dio&countrycode=BR&order=votes"
                         "&reverse=true&hidebroken=true&limit=500 HTTP/1.0\r\n",
                         0),
            0u)
      << search;
  EXPECT_NE(search.find("User-Agent: Ondaria/3.0\r\n"), std::string::npos);

  // Heard: right after the name typed, the first station found (the count is
  // only shown); then on P its place, genres, format and votes (the voice
  // says punctuation and numbers apart).
  EXPECT_EQ(r.countHeard("text", "Rádios encontradas"), 0);
  int at = 0;
  for (const char* said : {"Rádio Cultura", "Local", "São Paulo", "BR", "Gêneros", "mpb",
                           "educativa", "Formato", "AAC", "kbps", "Votos"}) {
    while (at < static_cast<int>(r.speech.size()) && r.speech[at].text != said) ++at;
    EXPECT_LT(at, static_cast<int>(r.speech.size())) << said;
  }
  // Enter played it through the stream player, and the directory was told.
  EXPECT_TRUE(r.heard("text", "Tentando conexão"));
  EXPECT_GE(streams.connectionCount(), 1);
  EXPECT_TRUE(anyRequestStartsWith(directory.mirror(), "GET /json/url/aaaa-1111 HTTP/1.0\r\n"));

  // I put the first station into MPB; C the second into favourite 5.
  const std::string list = readFileBytes(program.settingsDir() + "/ondaria.ini");
  EXPECT_NE(list.find("[MPB]\r\nAntiga=http://127.0.0.1:9/antiga\r\nR\xE1" "dio Cultura=" + address + "\r\n"),
            std::string::npos)
      << list;
  EXPECT_NE(list.find("[PREFERIDAS]\r\n5=Nova Brasil=" + address + "\r\n"), std::string::npos) << list;
  EXPECT_TRUE(r.heard("text", "Desistiu"));
}

// A mirror that takes the request and never answers: the wait is told after
// a moment, and ESC gives the search up instead of trying the next server.
TEST(DirectoryProgram, EscGivesUpAStalledDirectory) {
  ASSERT_TRUE(DirectoryStandIn::certs().ok());
  DirectoryStandIn directory([](ServerConnection& c, const std::string&) {
    while (c.pause(50)) {
    }
  });
  ProgramRun program;
  directory.configure(program);
  const ProgramResult r = program.run(
      "text n\nwait vazio: as mais votadas\ntext samba\nkey Enter\nwait Um momento\nnow\nkey Esc\n"
      "wait Desistiu\nkey Esc\nwait Que deseja\nkey Esc\n");
  ASSERT_FALSE(r.timedOut) << r.stderrText;
  EXPECT_EQ(r.exitStatus, 0) << r.stderrText;
  // (The script's "wait Um momento" held ESC back until the wait was told;
  // whether the key cut that sentence short depends on timing.)
  EXPECT_TRUE(r.heard("text", "Desistiu"));
  EXPECT_FALSE(r.heard("text", "Erro na comunicação"));
  // Only the mirror list was asked of the base: no search went on after ESC.
  EXPECT_EQ(directory.base().requests().size(), 1u);
}

// Main option A without an update address: the country's stations from the
// directory, in genre categories, replace the list; the favourites are kept.
TEST(DirectoryProgram, UpdateFromTheDirectoryKeepsTheFavourites) {
  ASSERT_TRUE(DirectoryStandIn::certs().ok());
  DirectoryStandIn directory([](ServerConnection& c, const std::string&) {
    c.send(json200(
        "[" + stationJson("1", "Sertaneja FM", "http://s.example/1", "sertanejo,brazil", "Goiás") + "," +
        stationJson("2", "Forró Total", "https://f.example/2.aac", "forró,nordeste", "Ceará") + "," +
        stationJson("3", "Notícias Já", "http://n.example/3", "news,talk", "Bahia") + "," +
        stationJson("4", "Sem Gênero", "http://g.example/4", "fm", "") + "]"));
  });
  ProgramRun program;
  directory.configure(program, "PAIS=BR\n");
  program.writeStationList("[Rock]\nVelha=http://antiga/velha\n[PREFERIDAS]\n3=Velha=http://antiga/velha\n");

  const ProgramResult r = program.run(
      "text a\nwait manter suas\ntext s\nwait pela Internet\ntext s\nwait diretório da internet\n"
      "text s\nwait Que deseja\nkey Esc\n");
  ASSERT_FALSE(r.timedOut) << r.stderrText;
  EXPECT_EQ(r.exitStatus, 0) << r.stderrText;
  ASSERT_FALSE(directory.mirror().requests().empty());
  EXPECT_EQ(directory.mirror().requests()[0].rfind(
                "GET /json/stations/search?countrycode=BR&order=votes&reverse=true&hidebroken=true"
                "&limit=10000 HTTP/1.0\r\n",
                0),
            0u);
  const std::string list = readFileBytes(program.settingsDir() + "/ondaria.ini");
  EXPECT_EQ(list.find("[Rock]"), std::string::npos) << list;
  for (const char* part : {"[Debates]\r\nNot\xED" "cias J\xE1=http://n.example/3\r\n",
                           "[Forr\xF3]\r\nForr\xF3 Total=https://f.example/2.aac\r\n",
                           "[Nordeste]\r\n", "[Not\xED" "cias]\r\n",
                           "[Sertanejo]\r\nSertaneja FM=http://s.example/1\r\n",
                           "[Outras]\r\nSem G\xEAnero=http://g.example/4\r\n",
                           "3=Velha=http://antiga/velha\r\n"})
    EXPECT_NE(list.find(part), std::string::npos) << part << "\n" << list;
  EXPECT_TRUE(r.heard("text", "Lista atualizada"));
}

}  // namespace
}  // namespace ondaria::test
