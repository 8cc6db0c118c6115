#include "braille/braille_display.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/braille_device.h"

namespace ondaria {
namespace {

constexpr uint32_t kKey = platform::kBrailleKeyEvent;
constexpr uint32_t kNav = platform::kBrailleNavigationEvent;
constexpr uint32_t kRelease = platform::kBrailleChordEnd;
constexpr uint32_t kDot1 = 1, kDot2 = 2, kDot3 = 4, kDot4 = 8, kDot5 = 16, kDot6 = 32;
constexpr uint32_t kDot7 = 64, kDot8 = 128, kHome = 256, kEndKey = 512, kSpace = 32768;

struct Event {
  uint32_t type, code;
};
// Key bits of a chord as the code of a press event.
Event press(uint32_t bits) { return {kKey, bits << 8}; }
const Event release{kKey, kRelease};

struct Case {
  const char* name;
  std::vector<Event> events;  // every event but the last gives nothing
  BrailleKey key;             // what the last one gives
};

const Case kCases[] = {
    // Chords, typed when released.
    {"dots 1-2-5 type h", {press(kDot1), press(kDot2), press(kDot5), release}, {'h', 0}},
    {"with the space bar, Ctrl+H", {press(kDot1 | kDot2 | kDot5), press(kSpace), release}, {8, 0}},
    {"dot 8 is Enter", {press(kDot8), release}, {13, 0}},
    {"dots 7 and 8 are Esc", {press(kDot7), press(kDot8), release}, {27, 0}},
    {"dot 7 is backspace", {press(kDot7), release}, {8, 0}},
    {"the space bar alone is a blank", {press(kSpace), release}, {' ', 0}},
    {"dot 3 is a full stop", {press(kDot3), release}, {'.', 0}},
    {"dots 1-5-6 are @", {press(kDot1 | kDot5 | kDot6), release}, {'@', 0}},
    {"dots 1-2-3-4-6 are ç", {press(kDot1 | kDot2 | kDot3 | kDot4 | kDot6), release}, {0xE7, 0}},
    {"Home key", {press(kHome), release}, {0, 71}},
    {"End key", {press(kEndKey), release}, {0, 79}},
    {"Home wins over dots", {press(kHome | kDot1), release}, {0, 71}},
    {"dot 7 with dots is nothing", {press(kDot7 | kDot1), release}, {0, 0}},
    {"dot 8 with the space bar is nothing", {press(kDot8 | kSpace), release}, {0, 0}},
    {"a release without a chord is nothing", {release}, {0, 0}},
    {"the chord is gone after its release", {press(kDot1), release, release}, {0, 0}},
    {"an arrow code leaves the chord alone", {press(kDot1 | kDot2), {kKey, 2309}, release}, {'b', 0}},
    // Arrows and other events, at once.
    {"line up", {{kNav, 16}}, {0, 72}},
    {"line up, second code", {{kNav, 64}}, {0, 72}},
    {"line down", {{kNav, 32}}, {0, 80}},
    {"line down, second code", {{kNav, 128}}, {0, 80}},
    {"another navigation code", {{kNav, 8}}, {0, 0}},
    {"up code 261", {{kKey, 261}}, {0, 72}},
    {"up code 6405", {{kKey, 6405}}, {0, 72}},
    {"down code 2309", {{kKey, 2309}}, {0, 80}},
    {"down code 4357", {{kKey, 4357}}, {0, 80}},
    {"a small code", {{kKey, 200}}, {0, 0}},
    {"an unknown event type", {{2, 1}}, {'?', 0}},
    {"a character made by brltty", {{platform::kBrailleCharacterEvent, 0xE3}}, {0xE3, 0}},
    {"a PC key", {{platform::kBrailleExtendedKeyEvent, 77}}, {0, 77}},
};

TEST(BrailleDisplayKeys, EventsBecomeKeys) {
  for (const Case& c : kCases) {
    BrailleKey key;
    for (size_t i = 0; i < c.events.size(); ++i) {
      key = brailleKeyEvent(c.events[i].type, c.events[i].code);
      // A chord's presses (key bits, low byte 0) give nothing.
      const bool isPress = c.events[i].type == kKey && c.events[i].code > 255 && (c.events[i].code & 0xFF) == 0;
      if (i + 1 < c.events.size() && isPress) {
        EXPECT_EQ(key.character + key.code, 0) << c.name << ", event " << i;
      }
    }
    EXPECT_EQ(key.character, c.key.character) << c.name;
    EXPECT_EQ(key.code, c.key.code) << c.name;
  }
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
