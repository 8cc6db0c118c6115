#include "braille/braille_display.h"

#include <gtest/gtest.h>

#include <vector>

#include "braille/braille_translation.h"
#include "platform/braille_device.h"

namespace ondaria {
namespace {

constexpr uint32_t kKey = platform::kBrailleKeyEvent;
constexpr uint32_t kNav = platform::kBrailleNavigationEvent;
constexpr uint32_t kEnd = platform::kBrailleChordEnd;

// Key bits of a chord as the code of a press event.
uint32_t press(uint32_t bits) { return bits << 8; }
constexpr uint32_t kDot1 = 1, kDot2 = 2, kDot3 = 4, kDot4 = 8, kDot5 = 16, kDot6 = 32;
constexpr uint32_t kDot7 = 64, kDot8 = 128, kHome = 256, kEndKey = 512, kSpace = 32768;

struct ChordCase {
  const char* name;
  std::vector<uint32_t> presses;  // press codes, in order, then the release
  BrailleKey key;
};

const ChordCase kChords[] = {
    {"dots 1-2-5 type h", {press(kDot1), press(kDot2), press(kDot5)}, {'h', 0}},
    {"with the space bar, Ctrl+H", {press(kDot1 | kDot2 | kDot5), press(kSpace)}, {8, 0}},
    {"dot 8 is Enter", {press(kDot8)}, {13, 0}},
    {"dots 7 and 8 are Esc", {press(kDot7), press(kDot8)}, {27, 0}},
    {"dot 7 is backspace", {press(kDot7)}, {8, 0}},
    {"the space bar alone is a blank", {press(kSpace)}, {' ', 0}},
    {"dot 3 is a full stop", {press(kDot3)}, {'.', 0}},
    {"dots 1-5-6 are @", {press(kDot1 | kDot5 | kDot6)}, {'@', 0}},
    {"dots 1-2-3-4-6 are ç", {press(kDot1 | kDot2 | kDot3 | kDot4 | kDot6)}, {0xE7, 0}},
    {"Home key", {press(kHome)}, {0, 71}},
    {"End key", {press(kEndKey)}, {0, 79}},
    {"Home wins over dots", {press(kHome | kDot1)}, {0, 71}},
    {"dot 7 with dots is nothing", {press(kDot7 | kDot1)}, {0, 0}},
    {"dot 8 with the space bar is nothing", {press(kDot8 | kSpace)}, {0, 0}},
    {"a release without a chord is nothing", {}, {0, 0}},
};

TEST(BrailleDisplayKeys, ChordsTypeWhenReleased) {
  for (const ChordCase& c : kChords) {
    for (uint32_t code : c.presses) {
      const BrailleKey pending = brailleKeyEvent(kKey, code);
      EXPECT_EQ(pending.character, 0) << c.name;
      EXPECT_EQ(pending.code, 0) << c.name;
    }
    const BrailleKey key = brailleKeyEvent(kKey, kEnd);
    EXPECT_EQ(key.character, c.key.character) << c.name;
    EXPECT_EQ(key.code, c.key.code) << c.name;
    // The chord is gone after its release.
    const BrailleKey again = brailleKeyEvent(kKey, kEnd);
    EXPECT_EQ(again.character + again.code, 0) << c.name;
  }
}

struct EventCase {
  uint32_t type, code;
  BrailleKey key;
};

const EventCase kEvents[] = {
    {kNav, 16, {0, 72}},   {kNav, 64, {0, 72}},  {kNav, 32, {0, 80}},    {kNav, 128, {0, 80}},
    {kNav, 8, {0, 0}},     {kKey, 261, {0, 72}}, {kKey, 6405, {0, 72}},  {kKey, 2309, {0, 80}},
    {kKey, 4357, {0, 80}}, {kKey, 200, {0, 0}},  {2, 1, {'?', 0}},       {7, 0, {'?', 0}},
    {platform::kBrailleCharacterEvent, 0xE3, {0xE3, 0}},
    {platform::kBrailleExtendedKeyEvent, 77, {0, 77}},
};

TEST(BrailleDisplayKeys, NavigationAndOtherEvents) {
  for (const EventCase& e : kEvents) {
    const BrailleKey key = brailleKeyEvent(e.type, e.code);
    EXPECT_EQ(key.character, e.key.character) << e.type << "/" << e.code;
    EXPECT_EQ(key.code, e.key.code) << e.type << "/" << e.code;
  }
}

TEST(BrailleDisplayKeys, ArrowCodesDoNotDisturbAChord) {
  brailleKeyEvent(kKey, press(kDot1 | kDot2));
  EXPECT_EQ(brailleKeyEvent(kKey, 2309).code, 80);
  EXPECT_EQ(brailleKeyEvent(kKey, kEnd).character, 'b');
}

TEST(BrailleDisplayDriver, WithoutTheLibraryNothingIsActive) {
  resetConsole();
  resetBrailleDisplay({"libondaria-no-such-library.so"});
  EXPECT_FALSE(openBrailleDisplay());
  EXPECT_FALSE(brailleOutput());
  showOnBraille("nada");  // no display: nothing happens, nothing fails
  EXPECT_EQ(brailleCellCount(), 0);
  resetBrailleDisplay();
}

}  // namespace
}  // namespace ondaria
