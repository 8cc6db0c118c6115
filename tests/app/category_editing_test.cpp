// Editing the station list from the menu: every operation's effect is checked
// on the bytes of the file, not only through the program's own reader.
#include "app/category_editing.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/station_list.h"
#include "console/core/settings.h"
#include "stations_fixture.h"

namespace ondaria {
namespace {

using stationtest::StationsTest;

TEST_F(StationsTest, CreateAddsAnEmptySectionAtTheEndOfTheFile) {
  writeList("[Rock]\r\nAlfa=http://a\r\n");
  watch({"OK."});
  script("text Nova Categoria\nkey Enter\n");
  createCategory();
  EXPECT_TRUE(shown("OK."));
  EXPECT_EQ(listBytes(), "[Rock]\r\nAlfa=http://a\r\n[Nova Categoria]\r\n");
  EXPECT_EQ(categoryNames(), (std::vector<std::string>{"Rock", "Nova Categoria"}));
  EXPECT_TRUE(profileKeyNames("Nova Categoria", listPath.string()).empty());
}

TEST_F(StationsTest, CreateWithAnExistingNameLeavesEveryStation) {
  // Even a station that carries the placeholder's own name survives.
  const std::string list =
      "[Rock]\r\nxyxyxyxyxyxyxyxyxy=http://estacao/real\r\nAlfa=http://a\r\n[Jazz]\r\n";
  writeList(list);
  watch({"OK."});
  script("text rock\nkey Enter\n");
  createCategory();
  EXPECT_TRUE(shown("OK."));
  EXPECT_EQ(listBytes(), list);

  // An empty name ends the operation silently.
  watch({"Informe o nome da nova categoria:"});
  script("key Enter\n");
  createCategory();
  EXPECT_EQ(listBytes(), list);
}

TEST_F(StationsTest, DestroyNeedsTheKeyDInEitherCase) {
  const std::string list = "[Rock]\r\nAlfa=http://a\r\n[Jazz]\r\nBeta=http://b\r\n"
                           "[PREFERIDAS]\r\n1=Beta=http://b\r\n";
  writeList(list);
  watch({"Desistiu..."});
  script("text Rock\nkey Enter\ntext x\n");
  destroyCategory();
  EXPECT_TRUE(shown("Desistiu..."));
  EXPECT_EQ(listBytes(), list);

  script("text Rock\nkey Enter\ntext d\n");
  destroyCategory();
  EXPECT_EQ(listBytes(), "[Jazz]\r\nBeta=http://b\r\n[PREFERIDAS]\r\n1=Beta=http://b\r\n");

  // The favourites go too when their section is named.
  script("text PREFERIDAS\nkey Enter\ntext D\n");
  destroyCategory();
  EXPECT_EQ(listBytes(), "[Jazz]\r\nBeta=http://b\r\n");

  // A name that is no section still says "OK." and changes nothing.
  watch({"OK."});
  script("text Blues\nkey Enter\ntext d\n");
  destroyCategory();
  EXPECT_TRUE(shown("OK."));
  EXPECT_EQ(listBytes(), "[Jazz]\r\nBeta=http://b\r\n");
}

TEST_F(StationsTest, IncludeStoresWhatWasTypedAndRefusesNamesWithEquals) {
  writeList("[Rock]\r\nAlfa=http://a\r\n");
  // A name with "=" is refused with a beep before the address is asked for;
  // the address keeps its leading blanks, "=", ";", brackets and accents.
  script("text M\xC3\xA1=Ideia\nkey Enter\nsleep 1000\n"
         "text R\xC3\xA1" "dio A\xC3\xA7\xC3\xA3o\nkey Enter\n"
         "text   http://a/b?x=1;[y]&n=\xC3\xA7\nkey Enter\n"
         "text Vazia\nkey Enter\nkey Enter\n"
         "text alfa\nkey Enter\ntext http://a/novo\nkey Enter\n"
         "key Enter\n");
  includeItems("Rock");
  EXPECT_EQ(beeps(), 1);
  EXPECT_EQ(listBytes(),
            "[Rock]\r\nAlfa=http://a/novo\r\n"
            "R\xE1" "dio A\xE7\xE3o=\"  http://a/b?x=1;[y]&n=\xE7\"\r\n"
            "Vazia=\r\n");
  EXPECT_EQ(readProfileString("Rock", "R\xE1" "dio A\xE7\xE3o", "", listPath.string()),
            "  http://a/b?x=1;[y]&n=\xE7");
}

TEST_F(StationsTest, EditTakesTheMarkerAwayOrGivesUp) {
  writeList("[Ext]\r\nUm=FFMPEG http://a/um\r\nDois=http://b\r\n");
  watch({"FFMPEG http://a/um", "OK."});
  // First item; Home and seven Deletes take the marker off; Enter stores.
  script("wait Escolha\nkey Enter\nwait Editore\nkey Home\nkey Del\nkey Del\nkey Del\n"
         "key Del\nkey Del\nkey Del\nkey Del\nkey Enter\nwait OK.\nkey Esc\n");
  editItem("Ext");
  EXPECT_TRUE(shown("OK."));
  EXPECT_NE(firstScreenWith("FFMPEG http://a/um").find("Editore o endere\xE7o de acesso"),
            std::string::npos);
  EXPECT_EQ(listBytes(), "[Ext]\r\nUm=http://a/um\r\nDois=http://b\r\n");

  watch({"Desistiu..."});
  script("wait Escolha\nkey Down\nkey Enter\nwait Editore\ntext xyz\nkey Esc\n"
         "wait Desistiu\nkey Esc\n");
  editItem("Ext");
  EXPECT_TRUE(shown("Desistiu..."));
  EXPECT_EQ(listBytes(), "[Ext]\r\nUm=http://a/um\r\nDois=http://b\r\n");
}

TEST_F(StationsTest, RemoveAsksAndDeletesOnlyOnS) {
  const std::string list = "[Rock]\r\nAlfa=http://a\r\nBeta=http://b\r\nGama=http://g\r\n";
  writeList(list);
  watch({"Confirma remo\xE7\xE3o do item Beta? ", "Ok, removido"});
  script("wait Escolha\nkey Down\nkey Enter\nwait Confirma\ntext n\n"
         "wait Escolha\nkey Down\nkey Enter\nwait Confirma\ntext s\nwait Ok, removido\nkey Esc\n");
  removeItem("Rock");
  EXPECT_TRUE(shown("Confirma remo\xE7\xE3o do item Beta? "));
  EXPECT_TRUE(shown("Ok, removido"));
  EXPECT_EQ(listBytes(), "[Rock]\r\nAlfa=http://a\r\nGama=http://g\r\n");
}

TEST_F(StationsTest, TestedAddressIsReplayedTheWayItWasTested) {
  writeList("");
  watch({"TOCOU:[http://teste/ao-vivo]"});
  script("text http://teste/ao-vivo\nkey Enter\ntext s\nwait TOCOU\nkey Esc\n");
  testAddress();
  EXPECT_TRUE(shown("TOCOU:[http://teste/ao-vivo]"));
  // The external player was used: the last address carries the marker.
  EXPECT_EQ(appState().lastAddress, "FFMPEG http://teste/ao-vivo");

  watch({"Aperte enter"});
  script("text " + refused + "\nkey Enter\ntext n\nwait Aperte enter\nkey Enter\n");
  testAddress();
  EXPECT_TRUE(shown("Aperte enter"));
  EXPECT_EQ(appState().lastAddress, refused);

  // ESC at the question, or no address at all, gives up; nothing is played.
  watch({"Desistiu..."});
  script("text http://outra\nkey Enter\nkey Esc\n");
  testAddress();
  EXPECT_TRUE(shown("Desistiu..."));
  EXPECT_EQ(appState().lastAddress, refused);
  script("key Enter\n");
  testAddress();
  EXPECT_EQ(listBytes(), "");
}

}  // namespace
}  // namespace ondaria
