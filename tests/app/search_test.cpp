// Search by name over the lines of the station list file.
#include "app/search.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "stations_fixture.h"

namespace ondaria {
namespace {

using stationtest::StationsTest;

const std::string kList =
    "Antes=http://antes\r\n"
    "[Not\xED" "cias]\r\n"
    "R\xE1" "dio Clube=FFMPEG http://clube\r\n"
    "R\xC1" "DIO NACIONAL=http://nacional\r\n"
    "Informa\xE7\xE3o FM=http://info\r\n"
    ";R\xE1" "dio Comentada=http://comentario\r\n"
    "\r\n"
    "[Esportes]\r\n"
    "Esta\xE7\xE3o Sul=http://sul\r\n"
    "R\xE1" "dio Clube FM=ffmpeg http://clubefm\r\n"
    "Clube-FM=http://clube-fm\r\n"
    "R\xE1" "dio Clube=FFMPEG http://clube2\r\n"
    "1\xBA Lugar=\"  http://primeiro  \"\r\n"
    "[PREFERIDAS]\r\n"
    "1=R\xE1" "dio Clube=FFMPEG http://clube\r\n";

std::vector<std::string> texts(const std::vector<SearchResult>& results) {
  std::vector<std::string> out;
  for (const SearchResult& r : results) out.push_back(searchResultText(r));
  return out;
}

std::vector<std::string> splitLines(const std::string& bytes) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = bytes.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(bytes.substr(start, end - start));
  return lines;
}

TEST(SearchFolding, ResultsInFileOrderWithTheirCategory) {
  const std::vector<std::string> lines = splitLines(kList);
  EXPECT_EQ(texts(findStations(lines, foldForSearch("radio"))),
            (std::vector<std::string>{"R\xE1" "dio Clube em Not\xED" "cias",
                                      "R\xC1" "DIO NACIONAL em Not\xED" "cias",
                                      "R\xE1" "dio Clube FM em Esportes",
                                      "R\xE1" "dio Clube em Esportes"}));
  EXPECT_EQ(texts(findStations(lines, foldForSearch("\xE7\xE3o"))),
            (std::vector<std::string>{"Informa\xE7\xE3o FM em Not\xED" "cias",
                                      "Esta\xE7\xE3o Sul em Esportes"}));
  // Blanks and punctuation count as they are.
  EXPECT_EQ(texts(findStations(lines, foldForSearch("clube fm"))),
            (std::vector<std::string>{"R\xE1" "dio Clube FM em Esportes"}));
  // Before the first section the category is empty.
  EXPECT_EQ(texts(findStations(lines, foldForSearch("ntes"))),
            (std::vector<std::string>{"Antes em "}));
  // The ordinal signs fold to one character, so each finds the other.
  EXPECT_EQ(texts(findStations(lines, foldForSearch("1\xAA lu"))),
            (std::vector<std::string>{"1\xBA Lugar em Esportes"}));
  // Comment lines are no stations.
  EXPECT_TRUE(findStations(lines, foldForSearch("comentada")).empty());
  EXPECT_EQ(findStations(lines, foldForSearch("radio"))[3].line, 11u);
}

TEST(SearchFolding, AddressesReadAsTheIniLayerReadsThem) {
  EXPECT_EQ(entryLineAddress("A=FFMPEG http://z"), "FFMPEG http://z");
  EXPECT_EQ(entryLineAddress("A = http://y?a=b "), "http://y?a=b");
  EXPECT_EQ(entryLineAddress("A=\"  http://x  \""), "  http://x  ");
  EXPECT_EQ(entryLineAddress("A='q'"), "q");
  EXPECT_EQ(entryLineAddress("A=\"x"), "\"x");
  EXPECT_EQ(entryLineAddress("A="), "");
}

TEST_F(StationsTest, SearchPlaysTheChosenResult) {
  writeList(kList);
  watch({"Nome inv\xE1lido", "TOCOU:[http://clube2]"});
  // Too short a name is asked for again; the third "radio clube" result is
  // the station's second category.
  script("text ab\nkey Enter\ntext radio clube\nkey Enter\nwait em Esportes\n"
         "key Down\nkey Down\nkey Enter\nwait TOCOU\nkey Esc\n");
  searchByName();
  EXPECT_TRUE(shown("Nome inv\xE1lido"));
  EXPECT_TRUE(shown("TOCOU:[http://clube2]"));
  // The chosen result is the title line of the playback.
  EXPECT_EQ(lastScreenWith("TOCOU:[http://clube2]").rfind("R\xE1" "dio Clube em Esportes\n", 0), 0u)
      << lastScreenWith("TOCOU:[http://clube2]");
  EXPECT_EQ(appState().lastAddress, "FFMPEG http://clube2");

  // A quoted address keeps its blanks, as the category browse would read it.
  watch({"Aperte enter"});
  script("text lugar\nkey Enter\nwait Lugar em\nkey Enter\nwait Aperte enter\nkey Enter\n");
  searchByName();
  EXPECT_EQ(appState().lastAddress, "  http://primeiro  ");
}

TEST_F(StationsTest, SearchEscapeAsksAgainAndReadsTheFileAgain) {
  writeList(kList);
  watch({"Desistiu...", "N\xE3o encontrei nada parecido"});
  script("text novidade\nkey Enter\n");
  searchByName();
  EXPECT_TRUE(shown("N\xE3o encontrei nada parecido"));

  // ESC in the list clears from row 4 and asks again; an empty name gives up.
  script("text radio\nkey Enter\nwait em Esportes\nkey Esc\nkey Enter\n");
  searchByName();
  EXPECT_TRUE(shown("Desistiu..."));
  EXPECT_EQ(appState().lastAddress, "");

  // A station added since is found by the next search.
  writeList(kList + "[Novas]\r\nNovidade FM=FFMPEG http://nova\r\n");
  watch({"TOCOU:[http://nova]"});
  script("text novidade\nkey Enter\nwait em Novas\nkey Enter\nwait TOCOU\nkey Esc\n");
  searchByName();
  EXPECT_TRUE(shown("TOCOU:[http://nova]"));
}

}  // namespace
}  // namespace ondaria
