#include "console/ui/braille_keyboard.h"

#include "braille/braille_translation.h"
#include "console/core/console.h"
#include "speech/speech.h"

namespace ondaria {

using platform::EventType;
using platform::FrontendEvent;
using platform::KeyId;

const std::string_view kChordTypingNeedsWindow =
    "Digita\xE7\xE3o braille em acordes s\xF3 funciona na janela gr\xE1" "fica; continua desligada.";

namespace {

constexpr uint8_t kEnter = 13, kEsc = 27;
constexpr uint8_t kKeyF9 = 67, kKeyUp = 72, kKeyDown = 80;

constexpr uint8_t kSixDots = 63;
constexpr uint8_t kControlBits = 31;
constexpr uint8_t kSmallU = 0xFB;  // û, dots 1-5-6

// Chord keys by their place on the keyboard (USB usage codes, as the window
// reports them) and, where no place is known, by the key itself.
struct ChordKey {
  int scancode;
  KeyId key;
  uint8_t bit;
};
constexpr ChordKey kChordKeys[] = {
    {9, KeyId::F, 1},  {7, KeyId::D, 2},  {22, KeyId::S, 4},          {13, KeyId::J, 8},
    {14, KeyId::K, 16}, {15, KeyId::L, 32}, {44, KeyId::Space, ChordTyping::kSpaceBit},
};

uint8_t chordBit(const FrontendEvent& e) {
  for (const ChordKey& k : kChordKeys)
    if (e.scancode != 0 ? e.scancode == k.scancode : e.key == k.key) return k.bit;
  return 0;
}

// Each tone of a mode change: 200 ms.
constexpr int kToneMs = 200;

void tone(int hz) {
  playTone(hz);
  delayMs(kToneMs);
  stopTone();
}

void pushExtendedKey(uint8_t code) {
  // Both bytes or neither: half a key would be read as another key.
  if (keyCount() > kKeyQueueSize - 2) return;
  pushKey(0);
  pushKey(code);
}

struct KeyboardState {
  ChordTyping chords;
  MouseKeys mouse;
};

KeyboardState& keyboard() {
  static KeyboardState s;
  return s;
}

}  // namespace

bool ChordTyping::keyDown(const FrontendEvent& e) {
  // Alt combinations are keys of their own (Alt+F, Alt+S).
  if (e.mods & platform::kModAlt) return false;
  const uint8_t bit = chordBit(e);
  if (bit == 0) return false;
  held_ = static_cast<uint8_t>(held_ | bit);
  chord_ = static_cast<uint8_t>(chord_ | bit);
  return true;
}

void ChordTyping::keyUp(const FrontendEvent& e, int mode) {
  const uint8_t bit = chordBit(e);
  const bool letterOrBlank = bit != 0 || platform::isLetterKey(e.key) || e.key == KeyId::Space;
  if ((e.mods & platform::kModCtrl) || !letterOrBlank) {
    clearSigns();
    return;
  }
  held_ = static_cast<uint8_t>(held_ & ~bit);
  if (held_ != 0) return;
  const uint8_t c = chordCharacter(chord_, mode);
  chord_ = 0;
  if (c != kNoCharacter) pushKey(c);
}

void ChordTyping::reset() {
  chord_ = held_ = 0;
  clearSigns();
}

void ChordTyping::clearSigns() { numberState_ = capitalPending_ = capitalsLock_ = false; }

uint8_t ChordTyping::chordCharacter(uint8_t chord, int mode) {
  if (!(chord & kSpaceBit)) {
    const uint8_t c = keyboardChordCharacter(chord);
    return mode == 2 ? modeTwo(c) : c;
  }
  clearSigns();
  if (chord == kSpaceBit) return ' ';
  return static_cast<uint8_t>(keyboardChordCharacter(chord & kSixDots) & kControlBits);
}

uint8_t ChordTyping::modeTwo(uint8_t c) {
  if (c == '\'') c = '.';
  else if (c == kSmallU) c = '@';
  if (numberState_) {
    if (c >= 'a' && c <= 'i')
      c = static_cast<uint8_t>('1' + (c - 'a'));
    else if (c == 'j')
      c = '0';
    else if (c == '~')
      numberState_ = false;
  }
  if ((capitalPending_ || capitalsLock_) && c >= 'a' && c <= 'z') c = static_cast<uint8_t>(c - 32);
  if (c == '#') {
    numberState_ = true;
    return kNoCharacter;
  }
  if (c == '{') {
    if (capitalPending_) capitalsLock_ = true;
    capitalPending_ = true;
    return kNoCharacter;
  }
  capitalPending_ = false;
  return c;
}

bool MouseKeys::event(const FrontendEvent& e) {
  switch (e.type) {
    case EventType::FocusGained:
      if (e.buttonsHeld) ignoreNextClick_ = true;
      return false;
    case EventType::FocusLost:
      ignoreNextClick_ = false;
      return false;
    case EventType::MouseButton:
    case EventType::MouseWheel:
      break;
    default:
      return false;
  }
  if (!enabled_) return false;
  if (ignoreNextClick_) {
    ignoreNextClick_ = false;
    return true;
  }
  if (e.type == EventType::MouseButton) {
    switch (e.button) {
      case platform::MouseButton::Left: pushKey(kEnter); break;
      case platform::MouseButton::Right: pushKey(kEsc); break;
      case platform::MouseButton::Middle: pushExtendedKey(kKeyF9); break;
      case platform::MouseButton::None: break;
    }
  } else if (e.wheel > 0) {
    pushExtendedKey(kKeyUp);
  } else if (e.wheel < 0) {
    pushExtendedKey(kKeyDown);
  }
  return true;
}

void installBrailleKeyboard() {
  keyboard() = KeyboardState{};
  setChordKeyHook([](const FrontendEvent& e) {
    ChordTyping& chords = keyboard().chords;
    if (e.type == EventType::KeyDown) return chords.keyDown(e);
    chords.keyUp(e, brailleKeyboardMode());
    return true;
  });
  setBrailleModeHook([](int oldMode, int newMode) {
    if (newMode == 0) {
      keyboard().chords.reset();
      if (oldMode != 0) tone(100);
      return;
    }
    tone(800);
    tone(newMode == 1 ? 1600 : 400);
  });
  setBrailleModeRefusedHook([] {
    if (whereX() != 1) writeLine();
    writeLineSpoken(kChordTypingNeedsWindow);
  });
  setMouseHook([](const FrontendEvent& e) { return keyboard().mouse.event(e); });
}

}  // namespace ondaria
