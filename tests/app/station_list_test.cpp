// The station list file: the alphabetical browse and its letter moves, the
// category choice, the external-player marker and the removal after Ctrl+R,
// each checked against the file's bytes.
#include "app/station_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/core/ini_file.h"
#include "stations_fixture.h"

namespace ondaria {
namespace {

using stationtest::StationsTest;
using Names = std::vector<std::string>;

TEST(StationOrder, CaseAndAccentsIgnoredStableAndByteOrdered) {
  Names names = {"rock", "Ax\xE9", "Blues"};
  sortStationNames(names);
  EXPECT_EQ(names, (Names{"Ax\xE9", "Blues", "rock"}));

  // "Ábaco" sorts among the A's; names equal once folded keep file order.
  names = {"Zebra", "abelha", "\xC1" "baco", "Abaco", "ABACO", "\xE2ncora"};
  sortStationNames(names);
  EXPECT_EQ(names, (Names{"\xC1" "baco", "Abaco", "ABACO", "abelha", "\xE2ncora", "Zebra"}));

  // Digits before letters, accented letters not after "Z".
  names = {"\xC9poca", "99 FM", "Z", "Eco"};
  sortStationNames(names);
  EXPECT_EQ(names, (Names{"99 FM", "Eco", "\xC9poca", "Z"}));
}

TEST(StationOrder, FirstLetterMovesForwardOnlyAndFoldsAccents) {
  const Names names = {"Ax\xE9", "Blues", "rock"};
  EXPECT_EQ(nextByFirstLetter(names, 0, 'b'), 2);   // from before the first item
  EXPECT_EQ(nextByFirstLetter(names, 2, 'a'), 4);   // no wrap-around: past the end
  EXPECT_EQ(nextByFirstLetter(names, 4, 'r'), 4);   // already past the end
  EXPECT_EQ(nextByFirstLetter(names, 1, 'R'), 3);   // either case of the letter typed
  EXPECT_EQ(nextByFirstLetter(names, 0, 'x'), 4);

  const Names accented = {"\xC1" "baco", "\xE1gua", "\xE7" "edilha", "ema", "\xC9poca"};
  EXPECT_EQ(nextByFirstLetter(accented, 0, 'a'), 1);  // Á
  EXPECT_EQ(nextByFirstLetter(accented, 1, 'a'), 2);  // á, lower case
  EXPECT_EQ(nextByFirstLetter(accented, 0, 'c'), 3);  // ç
  EXPECT_EQ(nextByFirstLetter(accented, 3, 'e'), 4);
  EXPECT_EQ(nextByFirstLetter(accented, 4, 'e'), 5);  // É
  // An accented key matches nothing: only ASCII letters are upper-cased.
  EXPECT_EQ(nextByFirstLetter(accented, 0, 0xE1), 6);
}

TEST(StationNames, WhatTheLayoutCannotHold) {
  EXPECT_TRUE(isStorableStationName("R\xE1" "dio Clube FM"));
  EXPECT_TRUE(isStorableStationName("Rock [ao vivo]; 24h"));
  EXPECT_FALSE(isStorableStationName("R\xE1" "dio=Boa"));
  EXPECT_FALSE(isStorableStationName(";comentario"));
  EXPECT_FALSE(isStorableStationName("  [secao]"));
  EXPECT_FALSE(isStorableStationName("   "));
  EXPECT_FALSE(isStorableStationName(std::string("a\0b", 3)));
}

TEST_F(StationsTest, BrowseSortsAndMovesByLetterThenEnds) {
  writeList("[Misto]\r\nrock=http://r\r\nAx\xE9=http://a\r\nBlues=http://b\r\n");
  const std::string before = listBytes();
  // b from before the first item selects Blues; a from Blues runs off the end.
  watch({"rock"});
  script("wait Selecione\ntext b\nsleep 300\ntext a\nsleep 1000\nkey Esc\n");
  browseCategory("Misto");

  const std::string list = firstScreenWith("rock");
  EXPECT_NE(list.find("Misto\n\nSelecione com as setas a r\xE1" "dio e tecle Enter.\n"
                      "Ax\xE9\nBlues\nrock\n"),
            std::string::npos)
      << list;
  EXPECT_TRUE(heardText("Blues"));
  EXPECT_EQ(beeps(), 1);
  EXPECT_EQ(row(3), "Fim do Folheamento.");
  EXPECT_EQ(row(4), "");
  EXPECT_EQ(whereY(), 5);  // the message is followed by an empty line
  EXPECT_EQ(listBytes(), before);
}

TEST_F(StationsTest, CategoryChoiceLeavesOutTheFavouritesInAnyCase) {
  writeList("[Rock]\r\na=1\r\n[Preferidas]\r\n1=x=y\r\n[Jazz]\r\nb=2\r\n[pReFeRiDaS]\r\n"
            "[Not\xED" "cias]\r\nc=3\r\n");
  EXPECT_EQ(categoryNames(), (Names{"Rock", "Jazz", "Not\xED" "cias"}));

  watch({"Not\xED" "cias"});
  script("wait Selecione\nkey Down\nkey Enter\n");
  EXPECT_EQ(chooseCategory(), "Jazz");
  const std::string menu = firstScreenWith("Not\xED" "cias");
  EXPECT_NE(menu.find("Selecione com as setas a categoria.\n"), std::string::npos) << menu;
  EXPECT_EQ(menu.find("referidas"), std::string::npos) << menu;
  EXPECT_EQ(menu.find("REFERIDAS"), std::string::npos) << menu;

  script("wait Selecione\nkey Esc\n");
  EXPECT_EQ(chooseCategory(), "");
}

TEST_F(StationsTest, MarkerWithAnExtraBlankGoesToTheExternalPlayerTrimmed) {
  writeList("[Ext]\r\nUm=FFMPEG  http://radio.teste/um\r\n");
  watch({"TOCOU:"});
  script("wait Selecione\nkey Down\nkey Enter\nwait TOCOU\nkey Esc\nwait Selecione\nkey Esc\n");
  browseCategory("Ext");
  const std::string playing = lastScreenWith("TOCOU:");
  EXPECT_NE(playing.find("TOCOU:[http://radio.teste/um]"), std::string::npos) << playing;
  // The name, then the stored value, above the player's output.
  EXPECT_NE(playing.find("Um\nFFMPEG  http://radio.teste/um\n"), std::string::npos) << playing;
  EXPECT_EQ(appState().lastAddress, "FFMPEG  http://radio.teste/um");
}

TEST_F(StationsTest, LowerCaseMarkerGoesToTheStreamPlayerWhole) {
  const std::string value = "ffmpeg " + refused;
  writeList("[Ext]\r\nDois=" + value + "\r\nVazia=\r\n");
  watch({"Aperte enter", "TOCOU:"});
  // Enter on the station without an address plays nothing; then Dois.
  script("wait Selecione\nkey Down\nkey Down\nkey Enter\nsleep 300\nkey Up\nkey Enter\n"
         "wait Aperte enter\nkey Enter\nwait Selecione\nkey Esc\n");
  browseCategory("Ext");
  EXPECT_TRUE(shown("Aperte enter"));
  EXPECT_FALSE(shown("TOCOU:"));
  EXPECT_EQ(appState().lastAddress, value);
}

TEST_F(StationsTest, CtrlRAfterPlaybackRemovesOnlyWithS) {
  const std::string list = "; minhas radios\r\n[Rock]\r\nAlfa=" + refused + "\r\nBeta=" + refused +
                           "\r\n\r\n[Jazz]\r\nBeta=" + refused + "\r\n";
  writeList(list);
  watch({"Confirma remo\xE7\xE3o do item Beta? n"});
  // Answer N: nothing changes.
  script("wait Selecione\ntext b\nkey Enter\nwait Aperte enter\nkey ctrl+r\nwait Confirma\n"
         "text n\nwait Selecione\nkey Esc\n");
  browseCategory("Rock");
  EXPECT_TRUE(shown("Confirma remo\xE7\xE3o do item Beta? n"));
  EXPECT_EQ(listBytes(), list);

  // Answer S: the line goes from the file (only in Rock), and from the list.
  watch({"Ok, removido", "e tecle Enter."});
  script("wait Selecione\ntext b\nkey Enter\nwait Aperte enter\nkey ctrl+r\nwait Confirma\n"
         "text s\nwait Selecione\nkey Esc\n");
  browseCategory("Rock");
  EXPECT_TRUE(shown("Ok, removido"));
  EXPECT_EQ(listBytes(), "; minhas radios\r\n[Rock]\r\nAlfa=" + refused + "\r\n\r\n[Jazz]\r\nBeta=" +
                             refused + "\r\n");
  // The list shown again afterwards has lost the station.
  const std::string after = lastScreenWith("e tecle Enter.");
  EXPECT_NE(after.find("Selecione com as setas a r\xE1" "dio e tecle Enter.\nAlfa\n\n"),
            std::string::npos)
      << after;
}

TEST_F(StationsTest, RemovalThatCannotBeWrittenIsReportedAndKept) {
  const std::string list = "[Rock]\r\nAlfa=" + refused + "\r\n";
  writeList(list);
  // The new file vanishes before it can replace the old one: the write fails.
  ini::setIniWriteHook([](const std::string& temp) { std::filesystem::remove(temp); });
  watch({"Erro de escrita do arquivo", "Ok, removido"});
  script("wait Selecione\nkey Down\nkey Enter\nwait Aperte enter\nkey ctrl+r\nwait Confirma\n"
         "text s\nwait Selecione\nkey Esc\n");
  browseCategory("Rock");
  ini::setIniWriteHook(nullptr);
  EXPECT_TRUE(shown("Erro de escrita do arquivo"));
  EXPECT_FALSE(shown("Ok, removido"));
  EXPECT_EQ(listBytes(), list);
}

}  // namespace
}  // namespace ondaria
