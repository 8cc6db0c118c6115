#include "platform/braille_device.h"

#include <gtest/gtest.h>

#include <random>

namespace platform {
namespace {

using Events = std::vector<BrailleDeviceEvent>;

// BrlAPI key codes as the library reports them: type in bits 29-31 (1 =
// a brltty command, 0 = a keysym), command block in bits 16-28, argument in
// bits 0-15, flags from bit 32 on.
constexpr uint64_t kCommand = 0x20000000;
constexpr uint64_t kPassDots = kCommand | (34u << 16);
constexpr uint64_t kDotC = 0x100;
constexpr uint64_t kUnicode = 0x01000000;
constexpr uint64_t kControlFlag = uint64_t{0x04} << 32;

Events chord(uint32_t bits) { return {{kBrailleKeyEvent, bits << 8}, {kBrailleKeyEvent, kBrailleChordEnd}}; }
Events one(uint32_t type, uint32_t code) { return {{type, code}}; }

struct KeyCase {
  const char* name;
  uint64_t code;
  Events events;
};

const KeyCase kKeys[] = {
    {"dots 1-2-5", kPassDots | 0x13, chord(0x13)},
    {"dots 1-2-5 with the space bar", kPassDots | kDotC | 0x13, chord(0x8013)},
    {"eight dots", kPassDots | 0xFF, chord(0xFF)},
    {"an empty cell is the space bar", kPassDots, chord(0x8000)},
    {"line up", kCommand | 1, one(kBrailleNavigationEvent, 16)},
    {"line down", kCommand | 2, one(kBrailleNavigationEvent, 32)},
    {"top", kCommand | 9, chord(kBrailleHomeKey)},
    {"bottom", kCommand | 10, chord(kBrailleEndKey)},
    {"routing key", kCommand | (1u << 16) | 5, {}},
    {"brltty's own command", kCommand | 50, {}},
    {"BackSpace", 0xFF08, chord(kBrailleDot7)},
    {"Return", 0xFF0D, chord(kBrailleDot8)},
    {"Escape", 0xFF1B, chord(kBrailleDot7 | kBrailleDot8)},
    {"Up", 0xFF52, one(kBrailleNavigationEvent, 16)},
    {"Down", 0xFF54, one(kBrailleNavigationEvent, 32)},
    {"Home", 0xFF50, chord(kBrailleHomeKey)},
    {"Left", 0xFF51, one(kBrailleExtendedKeyEvent, 75)},
    {"Page Down", 0xFF56, one(kBrailleExtendedKeyEvent, 81)},
    {"F1", 0xFFBE, one(kBrailleExtendedKeyEvent, 59)},
    {"F12", 0xFFC9, one(kBrailleExtendedKeyEvent, 70)},
    {"Tab", 0xFF09, one(kBrailleCharacterEvent, 9)},
    {"h", 'h', one(kBrailleCharacterEvent, 'h')},
    {"Latin-1 ç", 0xE7, one(kBrailleCharacterEvent, 0xE7)},
    {"Unicode ã", kUnicode | 0xE3, one(kBrailleCharacterEvent, 0xE3)},
    {"Unicode euro", kUnicode | 0x20AC, one(kBrailleCharacterEvent, 0x80)},
    {"Unicode outside cp1252", kUnicode | 0x2800, {}},
    {"Ctrl+h", kControlFlag | 'h', one(kBrailleCharacterEvent, 8)},
    {"Ctrl with a digit", kControlFlag | '1', {}},
    {"an unknown keysym", 0xFE03, {}},
    {"an unknown type", 0x40000000, {}},
};

TEST(BrailleDeviceKeys, BrlapiCodesBecomeDisplayEvents) {
  for (const KeyCase& k : kKeys) EXPECT_EQ(brailleEventsForKeyCode(k.code), k.events) << k.name;
}

TEST(BrailleDeviceKeys, RandomCodesGiveOnlyKnownEvents) {
  std::mt19937_64 random(15);
  for (int i = 0; i < 200000; ++i) {
    uint64_t code = random();
    if (i % 2) code &= 0xFFFFFFFF;  // half of them without flags
    for (const BrailleDeviceEvent& e : brailleEventsForKeyCode(code)) {
      const bool known = e.type == kBrailleKeyEvent || e.type == kBrailleNavigationEvent ||
                         e.type == kBrailleCharacterEvent || e.type == kBrailleExtendedKeyEvent;
      ASSERT_TRUE(known) << std::hex << code;
      if (e.type == kBrailleCharacterEvent || e.type == kBrailleExtendedKeyEvent) {
        ASSERT_LT(e.code, 256u);
      }
    }
  }
}

TEST(BrailleDeviceSize, CellsOfColumnsAndRows) {
  // Sizes that cannot be right are no display; a product past 32 bits too.
  EXPECT_EQ(brailleCellsForSize(40, 1), 40);
  EXPECT_EQ(brailleCellsForSize(40, 25), 1000);
  EXPECT_EQ(brailleCellsForSize(0, 1), 0);
  EXPECT_EQ(brailleCellsForSize(kMaxBrailleCells + 1, 1), 0);
  EXPECT_EQ(brailleCellsForSize(0xFFFFFFFFu, 0xFFFFFFFFu), 0);  // 1 in 32 bits
}

}  // namespace
}  // namespace platform
