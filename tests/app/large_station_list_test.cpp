// A station list of 20 000 stations in 200 categories: the category choice,
// the browse and the search see every station, and the last one of each can
// be reached and played.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "app/search.h"
#include "app/station_list.h"
#include "console/core/settings.h"
#include "stations_fixture.h"

namespace ondaria {
namespace {

using stationtest::StationsTest;

constexpr int kStations = 20000;
constexpr int kCategories = 200;
constexpr int kFirstCategorySize = 1000;
// Every 40th station is "Especial": 500 of them.
constexpr int kSpecialEvery = 40;

std::string number(const char* format, int n) {
  char text[32];
  std::snprintf(text, sizeof text, format, n);
  return text;
}

// Category 001 holds stations 1 to 1000; the other 199 share the remaining
// 19 000, the last one taking what does not divide evenly.
std::string largeList() {
  const int perCategory = (kStations - kFirstCategorySize) / (kCategories - 1);
  std::string bytes;
  int station = 1;
  for (int c = 1; c <= kCategories; ++c) {
    bytes += "[Categoria " + number("%03d", c) + "]\r\n";
    const int size = c == 1 ? kFirstCategorySize
                     : c == kCategories ? kStations - station + 1
                                        : perCategory;
    for (int i = 0; i < size; ++i, ++station) {
      bytes += "R\xE1" "dio A\xE7\xE3o " + number("%05d", station);
      if (station % kSpecialEvery == 0) bytes += " Especial";
      bytes += "=FFMPEG http://estacao/" + std::to_string(station) + "\r\n";
    }
  }
  return bytes;
}

TEST_F(StationsTest, LargeListIsSeenWhole) {
  writeList(largeList());
  const std::vector<std::string> categories = categoryNames();
  ASSERT_EQ(categories.size(), 200u);
  EXPECT_EQ(categories.back(), "Categoria 200");
  size_t total = 0;
  for (const std::string& c : categories) total += profileKeyNames(c, listPath.string()).size();
  EXPECT_EQ(total, 20000u);
  EXPECT_EQ(profileKeyNames("Categoria 001", listPath.string()).size(), 1000u);
  EXPECT_EQ(findStations(readStationListLines(), foldForSearch("especial")).size(), 500u);
  EXPECT_EQ(findStations(readStationListLines(), foldForSearch("radio acao")).size(), 20000u);
}

TEST_F(StationsTest, LargeListLastCategoryStationAndResultAreReached) {
  writeList(largeList());
  // The option menu and the lists beep at End; what follows waits for it.
  script("wait Selecione\nkey End\nsleep 800\nkey Enter\n");
  EXPECT_EQ(chooseCategory(), "Categoria 200");

  watch({"R\xE1" "dio A\xE7\xE3o 01000 Especial"});
  script("wait Selecione\nkey End\nsleep 800\nkey Esc\n");
  browseCategory("Categoria 001");
  EXPECT_TRUE(shown("R\xE1" "dio A\xE7\xE3o 01000 Especial"));

  watch({"TOCOU:[http://estacao/20000]"});
  script("text especial\nkey Enter\nwait em Categoria\nkey End\nsleep 800\nkey Enter\n"
         "wait TOCOU\nkey Esc\n");
  searchByName();
  EXPECT_TRUE(shown("TOCOU:[http://estacao/20000]"));
}

}  // namespace
}  // namespace ondaria
