// The station list as Linux leaves it: long values that must never come back
// shorter, lists written by UTF-8 editors, a packaged system-wide list, and a
// list that cannot be read. Effects are checked on the file's bytes.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/category_editing.h"
#include "app/favourites.h"
#include "app/search.h"
#include "app/station_list.h"
#include "console/core/settings.h"
#include "stations_fixture.h"

namespace ondaria {
namespace {

using stationtest::StationsTest;

const std::string kLongAddress = "http://exemplo.com.br/" + std::string(280, 'a') + "/radio.mp3";

TEST_F(StationsTest, UnchangedEditsNeverShortenWhatIsStored) {
  // An item: Enter without a change writes nothing, and the whole value was
  // offered to the editor.
  const std::string list = "[Ext]\r\nLonga=" + kLongAddress + "\r\nZ=\xF0\x9F\x93\xBB\r\n"
                           "[PREFERIDAS]\r\n1=Longa=" + kLongAddress + "\r\n";
  writeList(list);
  watch({"OK."});
  script("wait Escolha\nkey Enter\nwait Editore\nkey Enter\nwait OK.\nkey Esc\n");
  editItem("Ext");
  EXPECT_TRUE(shown("OK."));
  EXPECT_EQ(listBytes(), list);

  // A value this program shows as "?" (a character outside Windows-1252 in a
  // UTF-8 list) is not rewritten as "?" by an Enter.
  script("wait Escolha\nkey Down\nkey Enter\nwait Editore\nkey Enter\nwait OK.\nkey Esc\n");
  editItem("Ext");
  EXPECT_EQ(listBytes(), list);

  // A favourite edited without a change, marker answer the same.
  script("wait 20 -\ntext e\nwait Editore o nome\nkey Enter\nwait Editore o endere\nkey Enter\n"
         "wait Usa programa\ntext n\nkey Esc\n");
  browseFavourites();
  EXPECT_EQ(listBytes(), list);

  // A real change to the long address keeps all the rest of it.
  script("wait Escolha\nkey Enter\nwait Editore\nkey End\ntext /x\nkey Enter\nwait OK.\nkey Esc\n");
  editItem("Ext");
  EXPECT_EQ(readProfileString("Ext", "Longa", "", listPath.string()), kLongAddress + "/x");
}

TEST_F(StationsTest, Utf8ListsAreShownSearchedAndKeptUtf8) {
  // Written by a Linux editor, with a byte-order mark: the first category is
  // there, names read as the user typed them, and the search folds accents.
  const std::string list = "\xEF\xBB\xBF[Not\xC3\xAD" "cias]\nR\xC3\xA1" "dio Clube=http://c\n"
                           "[M\xC3\xBAsica]\nR\xC3\x81" "DIO NACIONAL=http://n\n";
  writeList(list);
  EXPECT_EQ(categoryNames(), (std::vector<std::string>{"Not\xED" "cias", "M\xFAsica"}));
  const std::vector<SearchResult> found = findStations(readStationListLines(), foldForSearch("radio"));
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(searchResultText(found[0]), "R\xE1" "dio Clube em Not\xED" "cias");
  EXPECT_EQ(searchResultText(found[1]), "R\xC1" "DIO NACIONAL em M\xFAsica");

  // A station included by the user is written in UTF-8, the mark kept.
  script("text A\xC3\xA7\xC3\xA3o FM\nkey Enter\ntext http://acao\nkey Enter\nkey Enter\n");
  includeItems("Not\xED" "cias");
  EXPECT_EQ(listBytes(), "\xEF\xBB\xBF[Not\xC3\xAD" "cias]\nR\xC3\xA1" "dio Clube=http://c\n"
                         "A\xC3\xA7\xC3\xA3o FM=http://acao\n[M\xC3\xBAsica]\nR\xC3\x81" "DIO NACIONAL=http://n\n");
}

TEST_F(StationsTest, ASystemWideListIsTheUsersStartingCopy) {
  const std::string packaged = "[Not\xED" "cias]\r\nCentral=http://c\r\n";
  test::writeFileBytes(root / "system" / "Lumare.ini", "[ONDARIA]\r\n");
  test::writeFileBytes(root / "system" / "ondaria.ini", packaged);
  std::filesystem::remove_all(root / "config");  // a new user: no settings of their own
  resetSettingsState();

  const std::string user = (root / "config" / "lumare" / "ondaria.ini").string();
  EXPECT_EQ(locateStationList(), user);
  EXPECT_EQ(test::readFileBytes(user), packaged);
  // The user's copy is what is edited; the packaged list stays as shipped.
  appState().stationListPath = user;
  script("text Nova\nkey Enter\ntext http://nova\nkey Enter\nkey Enter\n");
  includeItems("Not\xED" "cias");
  EXPECT_EQ(test::readFileBytes(user), packaged + "Nova=http://nova\r\n");
  EXPECT_EQ(test::readFileBytes(root / "system" / "ondaria.ini"), packaged);
  // Later runs keep the user's copy.
  EXPECT_EQ(locateStationList(), user);
  EXPECT_EQ(test::readFileBytes(user), packaged + "Nova=http://nova\r\n");

  // A list named in the system directory by the packaged settings is the
  // user's copy of that file too.
  test::writeFileBytes(root / "system" / "Lumare.ini",
                       "[ONDARIA]\r\nDIRINDICE=" + (root / "system" / "radios.ini").string() + "\r\n");
  test::writeFileBytes(root / "system" / "radios.ini", packaged);
  resetSettingsState();
  const std::string userRadios = (root / "config" / "lumare" / "radios.ini").string();
  EXPECT_EQ(locateStationList(), userRadios);
  EXPECT_EQ(test::readFileBytes(userRadios), packaged);
}

TEST_F(StationsTest, AListThatCannotBeReadIsSaid) {
  // A folder where the list should be (the one fault root cannot read past).
  std::filesystem::create_directories(listPath);
  watch({"N\xE3o consigo ler a lista de r\xE1" "dios: \xE9 uma pasta, n\xE3o um arquivo."});
  EXPECT_EQ(chooseCategory(), "");
  EXPECT_TRUE(shown("N\xE3o consigo ler a lista de r\xE1" "dios: \xE9 uma pasta, n\xE3o um arquivo."));
  EXPECT_TRUE(heardText("\xE9 uma pasta"));

  script("text clube\nkey Enter\n");
  searchByName();
  EXPECT_FALSE(heardText("N\xE3o encontrei nada parecido"));
}

}  // namespace
}  // namespace ondaria
