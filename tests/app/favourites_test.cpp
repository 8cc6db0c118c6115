// The twenty favourite slots: reading them, picking one by number, the browse
// with its remove, edit and clone actions, and the favourites menu.
#include "app/favourites.h"

#include <gtest/gtest.h>

#include <string>

#include "stations_fixture.h"

namespace ondaria {
namespace {

using stationtest::StationsTest;

TEST(FavouriteSlots, NumbersTypedByTheUser) {
  const struct {
    const char* text;
    std::optional<int> slot;
  } cases[] = {
      {"5", 5},     {"05", 5},  {"20", 20},           {" 7", 7},      {"+3", 3},
      {"0", {}},    {"21", {}}, {"-1", {}},           {"", {}},       {"x", {}},
      {"1x", {}},   {"1 2", {}}, {"99999999999", {}}, {"+", {}},      {"4294967301", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(parseSlotNumber(c.text), c.slot) << '"' << c.text << '"';
}

const std::string kFavourites =
    "[Rock]\r\nAlfa=http://a\r\n"
    "[PREFERIDAS]\r\n"
    "1=Um=http://um\r\n"
    "2=Dois=http://dois\r\n"
    "3=Tr\xEAs=FFMPEG http://tres/ao-vivo?q=1\r\n"
    "4=SemNome\r\n"
    "05=Falso cinco=http://falso\r\n"
    "7=Sete=http://sete\r\n";

TEST_F(StationsTest, PickingByNumber) {
  writeList(kFavourites + "5=Cinco=" + refused + "\r\n");
  const std::string before = listBytes();

  // Slot 3 carries the marker: the external player gets the address alone.
  watch({"TOCOU:[http://tres/ao-vivo?q=1]"});
  script("text 3\nkey Enter\nwait TOCOU\nkey Esc\n");
  playFavouriteByNumber();
  EXPECT_TRUE(shown("TOCOU:[http://tres/ao-vivo?q=1]"));
  EXPECT_EQ(row(1), "Tr\xEAs");
  EXPECT_EQ(appState().lastAddress, "FFMPEG http://tres/ao-vivo?q=1");

  // "05" is slot 5, whatever other key the file holds.
  watch({"Aperte enter", "Cinco"});
  script("text 05\nkey Enter\nwait Aperte enter\nkey Enter\n");
  playFavouriteByNumber();
  EXPECT_TRUE(shown("Cinco"));
  EXPECT_EQ(appState().lastAddress, refused);

  // Out of range, or not a number.
  for (const char* typed : {"21", "0", "abc"}) {
    clearScreen();
    script(std::string("text ") + typed + "\nkey Enter\n");
    playFavouriteByNumber();
    EXPECT_EQ(row(2), "N\xFAmero da r\xE1" "dio deve estar entre 1 e 20!") << typed;
    EXPECT_EQ(row(4), "Use a op\xE7\xE3o F para descobrir os n\xFAmeros.") << typed;
  }
  // An empty slot, or one without an address part.
  for (const char* typed : {"4", "6"}) {
    clearScreen();
    script(std::string("text ") + typed + "\nkey Enter\n");
    playFavouriteByNumber();
    EXPECT_EQ(row(2), "A informa\xE7\xE3o sobre esta r\xE1" "dio n\xE3o est\xE1 dispon\xEDvel.")
        << typed;
  }
  EXPECT_EQ(listBytes(), before);
}

TEST_F(StationsTest, BrowseRemovesSevenThenPlaysThree) {
  writeList(kFavourites);
  watch({"\n7 -\n", "TOCOU:[http://tres/ao-vivo?q=1]"});
  script("wait 20 -\nkey Down\nkey Down\nkey Down\nkey Down\nkey Down\nkey Down\n"
         "text r\nwait Confirma\ntext s\nkey Up\nkey Up\nkey Up\nkey Up\nkey Enter\n"
         "wait TOCOU\nkey Esc\n");
  browseFavourites();
  EXPECT_TRUE(shown("\n7 -\n"));
  EXPECT_TRUE(shown("TOCOU:[http://tres/ao-vivo?q=1]"));
  EXPECT_EQ(countHeard("click:"), 2);
  EXPECT_EQ(listBytes(),
            "[Rock]\r\nAlfa=http://a\r\n[PREFERIDAS]\r\n1=Um=http://um\r\n2=Dois=http://dois\r\n"
            "3=Tr\xEAs=FFMPEG http://tres/ao-vivo?q=1\r\n4=SemNome\r\n05=Falso cinco=http://falso\r\n");
  EXPECT_EQ(appState().lastAddress, "FFMPEG http://tres/ao-vivo?q=1");
}

TEST_F(StationsTest, BrowseClonesAndExplainsItsKeys) {
  writeList(kFavourites);
  watch({"As op\xE7\xF5" "es sao: R-remove, E-edita, C-clona, Enter-Toca.", "OK."});
  // Slot 2 onto itself; empty slot 8 onto 9; F9; A on slot 8 answered N;
  // a clone target out of range.
  script("wait 20 -\nkey Down\ntext c\ntext 2\nkey Enter\n"
         "key Down\nkey Down\nkey Down\nkey Down\nkey Down\nkey Down\ntext c\ntext 9\nkey Enter\n"
         "key F9\ntext a\ntext n\ntext c\ntext 25\nkey Enter\nkey Esc\n");
  browseFavourites();
  EXPECT_TRUE(shown("OK."));
  const std::string help =
      lastScreenWith("As op\xE7\xF5" "es sao: R-remove, E-edita, C-clona, Enter-Toca.");
  EXPECT_EQ(help.substr(help.rfind('\n', help.size() - 2) + 1),
            "As op\xE7\xF5" "es sao: R-remove, E-edita, C-clona, Enter-Toca.\n");
  EXPECT_EQ(listBytes(), kFavourites + "9=\r\n");
  EXPECT_EQ(loadFavourites()[8].name, "");
}

TEST_F(StationsTest, BrowseEditAsksForTheMarkerAgain) {
  writeList(kFavourites);
  // Slot 3: name and address kept, N: stored without the marker.
  script("wait 20 -\nkey Down\nkey Down\ntext e\nwait Editore o nome\nkey Enter\n"
         "wait Editore o endere\nkey Enter\nwait Usa programa\ntext n\nkey Esc\n");
  browseFavourites();
  std::string expected = kFavourites;
  expected.replace(expected.find("FFMPEG http://tres"), 7, "");
  EXPECT_EQ(listBytes(), expected);

  // A name holding "=" cannot be stored: beep, nothing changes.
  const std::string before = listBytes();
  script("wait 20 -\ntext e\nwait Editore o nome\ntext A=B\nkey Enter\nsleep 1000\n"
         "key Esc\n");
  browseFavourites();
  EXPECT_EQ(beeps(), 1);
  EXPECT_EQ(listBytes(), before);

  // Slot 10, empty: a new favourite, with the marker.
  script("wait 20 -\nkey Down\nkey Down\nkey Down\nkey Down\nkey Down\nkey Down\nkey Down\n"
         "key Down\nkey Down\ntext e\nwait Editore o nome\ntext  Dez \nkey Enter\n"
         "wait Editore o endere\ntext http://dez\nkey Enter\nwait Usa programa\ntext s\nkey Esc\n");
  browseFavourites();
  EXPECT_EQ(listBytes(), before + "10=Dez=FFMPEG http://dez\r\n");
}

TEST_F(StationsTest, BrowseLeftAboveTheFirstSlotPlaysNothing) {
  writeList(kFavourites);
  watch({"TOCOU", "Aperte enter"});
  // Up from slot 1 beeps (which drops keys typed ahead), then x ends.
  script("wait 20 -\nkey Up\nsleep 1000\ntext x\n");
  browseFavourites();
  EXPECT_EQ(beeps(), 1);
  EXPECT_FALSE(shown("TOCOU"));
  EXPECT_FALSE(shown("Aperte enter"));
  EXPECT_EQ(listBytes(), kFavourites);
}

TEST_F(StationsTest, MenuLettersAndTheLastAddress) {
  writeList(kFavourites);
  appState().lastAddress = "ffmpeg http://ultima";
  watch({"Op\xE7\xE3o inv\xE1lida", "TOCOU:[http://ultima]",
         "Preferidas - \xFAltima r\xE1" "dio escutada"});
  // E has no place in this menu; U replays through the external player (the
  // marker is recognised in any case); the option list offers U too.
  script("text e\ntext u\nwait TOCOU\nkey Esc\nwait Preferidas - que\n"
         "key Down\nkey Down\nkey Down\nkey Enter\nwait TOCOU\nkey Esc\nwait Preferidas - que\n"
         "key Esc\n");
  favouritesMenu();
  EXPECT_TRUE(shown("Op\xE7\xE3o inv\xE1lida"));
  EXPECT_TRUE(shown("TOCOU:[http://ultima]"));
  EXPECT_TRUE(shown("Preferidas - \xFAltima r\xE1" "dio escutada"));
  EXPECT_EQ(listBytes(), kFavourites);
}

}  // namespace
}  // namespace ondaria
