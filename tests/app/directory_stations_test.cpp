// Reading the open station directory's answers: what is kept of honest ones,
// and what hostile ones cannot do.
#include "app/directory_stations.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/http_download.h"
#include "support/temp_files.h"

namespace ondaria {
namespace {

// One station object with the fields the directory sends; `extra` is spliced
// in after them (later keys win).
std::string station(const std::string& name, const std::string& resolved,
                    const std::string& extra = "") {
  return R"({"changeuuid":"x","stationuuid":"96062a7b-0601-11e8-ae97-52543be04c81","name":)" +
         name + R"(,"url":"http://origem.example/radio.pls","url_resolved":)" + resolved +
         R"(,"homepage":"https://radio.example/","tags":"mpb,samba, Notícias ","country":"Brazil",)"
         R"("countrycode":"BR","state":"São Paulo","language":"portuguese","votes":321,)"
         R"("codec":"MP3","bitrate":128,"hls":0,"lastcheckok":1,"geo_lat":null,)"
         R"("has_extended_info":false)" +
         extra + "}";
}

std::string list(const std::vector<std::string>& objects) {
  std::string text = "[";
  for (size_t i = 0; i < objects.size(); ++i) text += (i ? "," : "") + objects[i];
  return text + "]";
}

TEST(DirectoryStations, AnHonestStationIsKeptWithItsFields) {
  const DirectoryStations r =
      parseDirectoryStations(list({station(R"("Rádio Cultura FM")", R"("https://a.example/live.mp3")")}));
  ASSERT_TRUE(r.ok);
  ASSERT_EQ(r.stations.size(), 1u);
  const DirectoryStation& s = r.stations[0];
  EXPECT_EQ(s.name, "R\xE1" "dio Cultura FM");  // cp1252
  EXPECT_EQ(s.address, "https://a.example/live.mp3");
  EXPECT_EQ(s.uuid, "96062a7b-0601-11e8-ae97-52543be04c81");
  EXPECT_EQ(s.tags, (std::vector<std::string>{"mpb", "samba", "not\xED" "cias"}));
  EXPECT_EQ(s.state, "S\xE3o Paulo");
  EXPECT_EQ(s.countryCode, "BR");
  EXPECT_EQ(s.codec, "MP3");
  EXPECT_EQ(s.bitrate, 128);
  EXPECT_EQ(s.votes, 321);
  EXPECT_FALSE(s.hls);
}

// Answers that are not a complete list give nothing at all: a mirror that
// sends them is treated as failed and the next one is asked.
TEST(DirectoryStations, AnswersThatAreNoCompleteListAreRefused) {
  const std::string good = station(R"("A")", R"("http://a.example/")");
  const std::string cases[] = {
      "",
      "<html>502 Bad Gateway</html>",
      "{\"name\":\"A\"}",                       // an object, not a list
      "\"texto\"",
      "42",
      "[" + good + "," + good.substr(0, 40),   // cut short in the middle of an entry
      "[" + good + ",",                        // cut short between entries
      list({good}) + " lixo",                  // trailing garbage
  };
  for (const std::string& text : cases) {
    const DirectoryStations r = parseDirectoryStations(text);
    EXPECT_FALSE(r.ok) << text;
    EXPECT_TRUE(r.stations.empty()) << text;
  }
  EXPECT_TRUE(parseDirectoryStations("[]").ok);
}

TEST(DirectoryStations, WrongTypesAreSkippedNotTrusted) {
  const DirectoryStations r = parseDirectoryStations(list({
      "42",
      "\"uma estação\"",
      "[\"A\",\"http://x.example/\"]",
      "null",
      station("123", R"("http://numero.example/")"),               // a name that is no text
      R"({"name":"Tipos","url_resolved":"http://tipos.example/","bitrate":"128k",)"
      R"("votes":"muitos","hls":"sim","tags":["rock"],"state":{"nome":"SP","x":[1,{"y":2}]},)"
      R"("codec":7,"stationuuid":"../../etc","lastcheckok":true})",
      station(R"("Nula")", "null"),
  }));
  ASSERT_TRUE(r.ok);
  ASSERT_EQ(r.stations.size(), 2u);
  // The nested array and object of the wrong kind are skipped whole.
  const DirectoryStation& s = r.stations[0];
  EXPECT_EQ(s.name, "Tipos");
  EXPECT_EQ(s.bitrate, 0);
  EXPECT_EQ(s.votes, 0);
  EXPECT_TRUE(s.tags.empty());
  EXPECT_TRUE(s.state.empty());
  EXPECT_TRUE(s.codec.empty());
  EXPECT_TRUE(s.uuid.empty());  // never put into a request path
  // url_resolved null: the station's own "url" is used.
  EXPECT_EQ(r.stations[1].address, "http://origem.example/radio.pls");
  EXPECT_EQ(r.skipped, 1u);  // the nameless one; plain values are no entries
}

TEST(DirectoryStations, NamesLoseControlBytesBlanksAndLength) {
  const std::string longName(2000, 'x');
  const DirectoryStations r = parseDirectoryStations(list({
      station(R"("Rádio\u0007 \u001b[2J\n\tAlegria\u0000  FM\r")", R"("http://a.example/")"),
      station("\"" + longName + "\"", R"("http://b.example/")"),
      station(R"("🎵 Só Sucessos 🎵")", R"("http://c.example/")"),
      station(R"("  \u0001\u0002 ")", R"("http://d.example/")"),
  }));
  ASSERT_TRUE(r.ok);
  ASSERT_EQ(r.stations.size(), 3u);
  EXPECT_EQ(r.stations[0].name, "R\xE1" "dio [2J Alegria FM");
  EXPECT_EQ(r.stations[1].name, std::string(kDirectoryNameLength, 'x'));
  EXPECT_EQ(r.stations[2].name, "S\xF3 Sucessos");
  EXPECT_EQ(r.skipped, 1u);  // nothing left of the fourth name
}

TEST(DirectoryStations, OnlyPlainWebAddressesArePlayable) {
  const struct {
    const char* address;
    const char* kept;  // nullptr: refused
  } cases[] = {
      {"http://stream.example:8000/live", "http://stream.example:8000/live"},
      {"HTTPS://Stream.example/a.m3u8", "HTTPS://Stream.example/a.m3u8"},
      {"  http://blank.example/x  ", "http://blank.example/x"},
      {"http://acento.example/r\xC3\xA1" "dio", "http://acento.example/r%C3%A1dio"},
      {"", nullptr},
      {"file:///etc/passwd", nullptr},
      {"/home/user/radio.mp3", nullptr},
      {"rm -rf ~", nullptr},
      {"http://x.example/$(rm -rf ~)", nullptr},
      {"http://x.example/a b", nullptr},
      {"http://x.example/a|sh", nullptr},
      {"http://x.example/`id`", nullptr},
      {"http://x.example/a\nb", nullptr},
      {"FFMPEG http://x.example/", nullptr},
      {"ftp://x.example/a.mp3", nullptr},
      {"http://", nullptr},
      {"http://x.example:99999/", nullptr},
      {"javascript:alert(1)", nullptr},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(playableDirectoryAddress(c.address), c.kept ? c.kept : "") << c.address;
  }
  EXPECT_EQ(playableDirectoryAddress("http://x.example/" + std::string(kDirectoryAddressLength, 'a')), "");
}

TEST(DirectoryStations, StationsWithoutAPlayableAddressOrFailingTheirCheckAreLeftOut) {
  const DirectoryStations r = parseDirectoryStations(list({
      station(R"("Vazio")", R"("")", R"(,"url":"")"),
      station(R"("Arquivo")", R"("file:///etc/shadow")", R"(,"url":"file:///etc/shadow")"),
      station(R"("Comando")", R"("sh -c 'rm -rf ~'")", R"x(,"url":"$(reboot)")x"),
      station(R"("Quebrada")", R"("http://q.example/")", R"(,"lastcheckok":0)"),
      station(R"("Boa")", R"("http://boa.example/")"),
  }));
  ASSERT_TRUE(r.ok);
  ASSERT_EQ(r.stations.size(), 1u);
  EXPECT_EQ(r.stations[0].name, "Boa");
  EXPECT_EQ(r.skipped, 4u);
}

TEST(DirectoryStations, AnswerFileIsReadLikeText) {
  test::TempFolder folder("ondaria-dir");
  const std::string path = folder.path().string() + "/answer.json";
  std::vector<std::string> many;
  for (int i = 0; i < 300; ++i)
    many.push_back(station("\"R" + std::to_string(i) + "\"", "\"http://r" + std::to_string(i) + ".example/\""));
  test::writeFileBytes(path, list(many));
  const DirectoryStations r = parseDirectoryStationsFile(path);
  ASSERT_TRUE(r.ok);
  ASSERT_EQ(r.stations.size(), 300u);
  EXPECT_EQ(r.stations[299].name, "R299");
  test::writeFileBytes(path, list(many).substr(0, 70000));
  EXPECT_FALSE(parseDirectoryStationsFile(path).ok);
  EXPECT_FALSE(parseDirectoryStationsFile(folder.path().string() + "/missing.json").ok);
}

TEST(DirectoryStations, ServerListGivesEachHostNameOnce) {
  EXPECT_EQ(parseDirectoryServers(R"([{"ip":"1.2.3.4","name":"de1.api.radio-browser.info"},)"
                                  R"({"ip":"::1","name":"DE1.api.radio-browser.info"},)"
                                  R"({"name":"localhost:8443"},{"name":"a b"},{"name":"x/../y"},)"
                                  R"({"name":"host:0"},{"name":7},{"ip":"5.6.7.8"},)"
                                  R"({"name":"nl1.api.radio-browser.info"}])"),
            (std::vector<std::string>{"de1.api.radio-browser.info", "localhost:8443",
                                      "nl1.api.radio-browser.info"}));
  EXPECT_TRUE(parseDirectoryServers(R"([{"name":"a.example"})").empty());  // cut short
  EXPECT_TRUE(parseDirectoryServers(R"({"name":"a.example"})").empty());
}

TEST(DirectoryStations, SearchTargets) {
  const struct {
    DirectorySearch search;
    const char* target;
  } cases[] = {
      {{"", "BR", "", "", 500},
       "/json/stations/search?countrycode=BR&order=votes&reverse=true&hidebroken=true&limit=500"},
      {{"r\xE1" "dio clube", "BR", "S\xE3o Paulo", "mpb", 50},
       "/json/stations/search?name=r%C3%A1dio%20clube&countrycode=BR&state=S%C3%A3o%20Paulo&tag=mpb"
       "&order=votes&reverse=true&hidebroken=true&limit=50"},
      // Characters that would end or change the value travel escaped, whole.
      {{"rock & pop", "", "", "", 10},
       "/json/stations/search?name=rock%20%26%20pop&order=votes&reverse=true&hidebroken=true&limit=10"},
      {{"a=b#jovem pan?x+100%", "", "", "  ", 10},
       "/json/stations/search?name=a%3Db%23jovem%20pan%3Fx%2B100%25&order=votes&reverse=true"
       "&hidebroken=true&limit=10"},
      {{"%41_~", "", "", "", 1},
       "/json/stations/search?name=%2541%5F%7E&order=votes&reverse=true&hidebroken=true&limit=1"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(directorySearchTarget(c.search), c.target);
    // The request line sends the target as it stands: escaped once, not twice.
    EXPECT_EQ(encodeUrl(c.target), c.target);
  }
  EXPECT_EQ(directoryClickTarget("96062a7b"), "/json/url/96062a7b");
}

TEST(DirectoryStations, CountryCodesAndBrazilianStates) {
  EXPECT_EQ(normalizedCountryCode(" br ", "XX"), "BR");
  EXPECT_EQ(normalizedCountryCode("PT", "BR"), "PT");
  EXPECT_EQ(normalizedCountryCode("", "BR"), "BR");
  EXPECT_EQ(normalizedCountryCode("BRA", "BR"), "BR");
  EXPECT_EQ(normalizedCountryCode("B1", "BR"), "BR");
  EXPECT_EQ(brazilianStateName("sp"), "S\xE3o Paulo");
  EXPECT_EQ(brazilianStateName("DF"), "Distrito Federal");
  EXPECT_EQ(brazilianStateName(" Bahia "), "Bahia");
  EXPECT_EQ(brazilianStateName("XX"), "XX");
  EXPECT_TRUE(namesBrazilianState("rj"));
  EXPECT_TRUE(namesBrazilianState("SAO PAULO"));
  EXPECT_TRUE(namesBrazilianState("Paran\xE1"));
  EXPECT_FALSE(namesBrazilianState("samba"));
}

}  // namespace
}  // namespace ondaria
