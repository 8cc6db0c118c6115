#include "braille/braille_display.h"

#include <memory>

#include "braille/braille_translation.h"
#include "platform/braille_device.h"

namespace ondaria {

namespace {

using platform::BrailleDevice;

// How long the start-up waits for the first answer from brltty. A missing
// brltty answers at once (the connection is refused); a running one within
// a few milliseconds.
constexpr int kFirstAnswerMs = 500;

constexpr uint8_t kBackspace = 8, kEnter = 13, kEsc = 27, kBlank = 32;
constexpr uint8_t kKeyUp = 72, kKeyDown = 80, kKeyHome = 71, kKeyEnd = 79;

// Codes of type 1 that are arrows on their own.
constexpr uint32_t kUpCodes[] = {261, 6405};
constexpr uint32_t kDownCodes[] = {2309, 4357};
// Codes of type 3.
constexpr uint32_t kNavigationUp[] = {16, 64};
constexpr uint32_t kNavigationDown[] = {32, 128};

constexpr uint16_t kSixDots = 63;
constexpr uint16_t kDot7 = platform::kBrailleDot7;
constexpr uint16_t kDot8 = platform::kBrailleDot8;
constexpr uint16_t kHome = platform::kBrailleHomeKey;
constexpr uint16_t kEnd = platform::kBrailleEndKey;
constexpr uint16_t kSpace = platform::kBrailleSpaceKey;

struct DisplayState {
  std::unique_ptr<BrailleDevice> device;
  std::vector<std::string> libraries;
  uint16_t chord = 0;  // key bits pressed since the last chord ended
};

DisplayState& state() {
  static DisplayState s;
  return s;
}

template <size_t N>
bool contains(const uint32_t (&codes)[N], uint32_t code) {
  for (uint32_t c : codes)
    if (c == code) return true;
  return false;
}

BrailleKey character(uint8_t c) { return BrailleKey{c, 0}; }
BrailleKey extended(uint8_t code) { return BrailleKey{0, code}; }

BrailleKey chordKey(uint16_t chord) {
  switch (chord) {
    case kDot7: return character(kBackspace);
    case kDot8: return character(kEnter);
    case kDot7 | kDot8: return character(kEsc);
    case kSpace: return character(kBlank);
    default: break;
  }
  if (chord & kHome) return extended(kKeyHome);
  if (chord & kEnd) return extended(kKeyEnd);
  const uint8_t dots = static_cast<uint8_t>(chord & kSixDots);
  if ((chord & kSpace) && dots != 0) return character(displayChordCharacter(dots) & 31);
  if ((chord & ~kSixDots) == 0) return character(displayChordCharacter(dots));
  return {};
}

}  // namespace

BrailleKey brailleKeyEvent(uint32_t eventType, uint32_t code) {
  DisplayState& s = state();
  switch (eventType) {
    case platform::kBrailleNavigationEvent:
      if (contains(kNavigationUp, code)) return extended(kKeyUp);
      if (contains(kNavigationDown, code)) return extended(kKeyDown);
      return {};
    case platform::kBrailleKeyEvent:
      if (code == platform::kBrailleChordEnd) {
        if (s.chord == 0) return {};
        const BrailleKey key = chordKey(s.chord);
        s.chord = 0;
        return key;
      }
      if (contains(kUpCodes, code)) return extended(kKeyUp);
      if (contains(kDownCodes, code)) return extended(kKeyDown);
      if (code > 255) s.chord = static_cast<uint16_t>(s.chord | (code >> 8));
      return {};
    case platform::kBrailleCharacterEvent:
      return character(static_cast<uint8_t>(code));
    case platform::kBrailleExtendedKeyEvent:
      return extended(static_cast<uint8_t>(code));
    default:
      return character('?');
  }
}

bool openBrailleDisplay() {
  DisplayState& s = state();
  if (!s.device) {
    s.device = BrailleDevice::start([](uint32_t type, uint32_t code) { postBrailleKeyMessage(type, code); },
                                    s.libraries);
    if (!s.device) return false;
  }
  const bool present = s.device->waitForFirstAttempt(kFirstAnswerMs);
  // Rows go to the display from now on; they are shown whenever one is there.
  setBrailleOutput(true);
  return present;
}

void enableBrailleKeys() {
  setBrailleKeyHook([](uint32_t type, uint32_t code) { return brailleKeyEvent(type, code); });
}

void showOnBraille(std::string_view row) {
  DisplayState& s = state();
  if (!s.device) return;
  s.device->show(brailleTextToDots(translateToBraille(row)));
}

void installBrailleDisplay() {
  setRowShownHook([](int, std::string_view chars) { showOnBraille(chars); });
  setConsoleCreatedHook([] {
    openBrailleDisplay();
    // The display may come later; its keys are welcome whenever it does.
    if (state().device) enableBrailleKeys();
  });
}

int brailleCellCount() {
  const DisplayState& s = state();
  return s.device ? s.device->cellCount() : 0;
}

int brailleConnections() {
  const DisplayState& s = state();
  return s.device ? s.device->connections() : 0;
}

void resetBrailleDisplay(std::vector<std::string> libraries) {
  DisplayState& s = state();
  s.device.reset();
  s = DisplayState{};
  s.libraries = std::move(libraries);
}

}  // namespace ondaria
