// Braille chord typing on the ordinary keyboard, and mouse keys.
//
// Chord typing: with the keyboard mode on (setting BRAILLE/MODO, or
// Ctrl+Alt+F11, also with Shift), the keys F, D, S, J, K and L are dots 1 to 6
// and the space bar is the space key of a braille keyboard. Keys pressed
// together form a chord, typed when the last of them is released; keys are
// recognised by their place on the keyboard, whatever its layout.
//   mode 1: the chord's character from the chord table; the space bar with
//           dots types the control character of the chord's letter (space
//           with dots 1-2 is Ctrl+B), the space bar alone a blank;
//   mode 2: as mode 1, with the number sign (dots 3-4-5-6: digits follow, a
//           to j being 1 to 0, until dots 5 or the space bar), the capital
//           sign (dots 4-6: the next letter is a capital; twice: capitals
//           until the space bar) and "." and "@" for dots 3 and 1-5-6.
// Ctrl+Alt+F11 goes 0 -> 1 -> 2 -> 1 -> 2 ..., Ctrl+Alt+F12 back to 0. Mode 1
// sounds 800 Hz then 1600 Hz, mode 2 800 Hz then 400 Hz, mode 0 one 100 Hz
// tone, each 200 ms. A letter key that is not a chord key types a blank (its
// release ends an empty chord), so no key is ever lost without a sound.
// The terminal reports no key releases: there the mode stays 0 and the user
// hears why.
//
// Mouse keys (on from the start): the left button is Enter, the right button
// Esc, the middle button F9, the wheel turned away from the user Up and
// towards the user Down, so that every list can be walked and confirmed with
// the mouse alone. A click that brings the window to the front does nothing.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/frontend.h"

namespace ondaria {

// What the user hears when chord typing cannot work (terminal).
extern const std::string_view kChordTypingNeedsWindow;

// Installs chord typing (keys, mode tones, the refusal message) and mouse
// keys into the console. Call before the console is created, so that the mode
// of the settings sounds its tones at start-up.
void installBrailleKeyboard();

// The chord logic, for the console's hooks and for tests.
class ChordTyping {
 public:
  // A key press while the mode is on and Ctrl is up: true when it was a
  // chord key (the console then does nothing else with it).
  bool keyDown(const platform::FrontendEvent& e);
  // A key release while the mode is on; queues the chord's character when
  // the chord is complete.
  void keyUp(const platform::FrontendEvent& e, int mode);
  // Mode 0: everything is forgotten.
  void reset();

  // The character a complete chord types in a mode (kNoCharacter: none);
  // updates the number and capital states of mode 2.
  uint8_t chordCharacter(uint8_t chord, int mode);
  static constexpr uint8_t kNoCharacter = 254;
  static constexpr uint8_t kSpaceBit = 64;

 private:
  void clearSigns();
  uint8_t modeTwo(uint8_t c);

  uint8_t chord_ = 0;
  uint8_t held_ = 0;
  bool numberState_ = false;
  bool capitalPending_ = false;
  bool capitalsLock_ = false;
};

// Mouse keys: buttons and wheel into keys; false when the event is not taken.
class MouseKeys {
 public:
  bool event(const platform::FrontendEvent& e);
  void setEnabled(bool on) { enabled_ = on; }
  bool enabled() const { return enabled_; }
  bool ignoringNextClick() const { return ignoreNextClick_; }

 private:
  bool enabled_ = true;
  bool ignoreNextClick_ = false;
};

}  // namespace ondaria
