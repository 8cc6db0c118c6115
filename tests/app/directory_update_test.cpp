// The station list built from the directory's stations of one country.
#include "app/directory_update.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/directory_menu.h"
#include "console/core/settings.h"
#include "support/temp_files.h"

namespace ondaria {
namespace {

DirectoryStation make(const std::string& name, std::vector<std::string> tags,
                      const std::string& state = "", const std::string& address = "") {
  DirectoryStation s;
  s.name = name;
  s.tags = std::move(tags);
  s.state = state;
  s.address = address.empty() ? "http://r.example/" + std::to_string(name.size()) + name.substr(0, 1)
                              : address;
  return s;
}

TEST(DirectoryUpdate, TagsBecomePortugueseGenresOrNothing) {
  const struct {
    const char* tag;
    const char* category;  // "" : no genre
  } cases[] = {
      {"news", "Not\xED" "cias"},          {"not\xED" "cias", "Not\xED" "cias"},
      {"NOTICIAS", "Not\xED" "cias"},      {"forr\xF3", "Forr\xF3"},
      {"sertanejo universitario", "Sertanejo"},
      {"pagode", "Samba e Pagode"},     {"christian", "Gospel"},
      {"samba rock", "Samba rock"},     // no name of ours: the tag itself
      {"brazil", ""},                   {"fm", ""},
      {"web radio", ""},                {"sp", ""},
      {"s\xE3o paulo", ""},             {"98.5", ""},
      {"2010s", ""},                    {"x", ""},
      {"outras", ""},                   {"preferidas", ""},
      {"[rock]=", "Rock"},
  };
  for (const auto& c : cases) EXPECT_EQ(genreCategory(c.tag), c.category) << c.tag;
}

TEST(DirectoryUpdate, TheMostHeldGenresBecomeCategoriesAndTheRestOthers) {
  std::vector<DirectoryStation> stations;
  // 21 genres held by 21..1 stations: the one held by a single station is not
  // among the twenty categories, and its station goes to "Outras".
  for (int g = 0; g < 21; ++g)
    for (int n = 0; n < 21 - g; ++n)
      stations.push_back(make("G" + std::to_string(g) + " N" + std::to_string(n),
                              {"genero" + std::string(1, static_cast<char>('a' + g))}));
  stations.push_back(make("Sem Tag", {}));
  stations.push_back(make("S\xF3 Pa\xEDs", {"brazil", "fm"}));
  const DirectoryList list = buildDirectoryList(stations, "BR");
  EXPECT_EQ(list.categories, 21u);

  test::TempFolder folder("ondaria-dirlist");
  const std::string file = folder.path().string() + "/ondaria.ini";
  test::writeFileBytes(file, list.text);
  const std::vector<std::string> sections = profileSectionNames(file);
  ASSERT_EQ(sections.size(), 21u);
  EXPECT_EQ(sections.front(), "Generoa");
  EXPECT_EQ(sections[19], "Generot");
  EXPECT_EQ(sections.back(), "Outras");
  EXPECT_EQ(profileKeyNames("Generoa", file).size(), 21u);
  EXPECT_EQ(profileKeyNames("Outras", file),
            (std::vector<std::string>{"G20 N0", "Sem Tag", "S\xF3 Pa\xEDs"}));
  EXPECT_EQ(readProfileString("Generob", "G1 N3", "", file), stations[21 + 3].address);
  // Lines end in CR LF; every line is a comment, a section, an entry or empty.
  EXPECT_EQ(list.text.find("\n"), list.text.find("\r\n") + 1);
}

TEST(DirectoryUpdate, EachCategoryKeepsItsMostVotedAndUniqueNames) {
  std::vector<DirectoryStation> stations;
  for (size_t n = 0; n < kDirectoryStationsPerGenre + 5; ++n)
    stations.push_back(make("Rock " + std::to_string(n), {"rock", "pop"}));
  // Same name as heard (case and accents): the state tells them apart, else
  // the less voted is left out.
  stations.push_back(make("R\xE1" "dio Cidade", {"jazz"}, "Paran\xE1"));
  stations.push_back(make("RADIO CIDADE", {"jazz"}, "Bahia"));
  stations.push_back(make("radio cidade", {"jazz"}));
  // Names the file could not hold as they are.
  stations.push_back(make("=;[Nome=Estranho", {"jazz"}));
  stations.push_back(make("Longa", {"jazz"}, "", "http://x.example/" + std::string(300, 'a')));
  const DirectoryList list = buildDirectoryList(stations, "BR");

  test::TempFolder folder("ondaria-dirlist");
  const std::string file = folder.path().string() + "/ondaria.ini";
  test::writeFileBytes(file, list.text);
  EXPECT_EQ(profileKeyNames("Rock", file).size(), kDirectoryStationsPerGenre);
  EXPECT_EQ(profileKeyNames("Pop", file).size(), kDirectoryStationsPerGenre);
  EXPECT_EQ(profileKeyNames("Rock", file).front(), "Rock 0");  // most voted first
  EXPECT_EQ(profileKeyNames("Jazz", file),
            (std::vector<std::string>{"R\xE1" "dio Cidade", "RADIO CIDADE (Bahia)", "Nome-Estranho"}));
  // The five stations past the limit are in a genre category of the answer,
  // not in "Outras".
  EXPECT_TRUE(profileKeyNames("Outras", file).empty());
  EXPECT_EQ(list.stations, 2 * kDirectoryStationsPerGenre + 3);
}

TEST(DirectoryUpdate, StorableNames) {
  EXPECT_EQ(storableDirectoryName("A=B"), "A-B");
  EXPECT_EQ(storableDirectoryName(";[x"), "x");
  EXPECT_EQ(storableDirectoryName("= A"), "A");
  EXPECT_EQ(storableDirectoryName(";;;"), "");
  EXPECT_EQ(storableDirectoryName("R\xE1" "dio"), "R\xE1" "dio");
}

}  // namespace
}  // namespace ondaria
