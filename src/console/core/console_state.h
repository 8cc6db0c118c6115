// The console's one state object, shared by console.cpp (grid and output),
// console_keys.cpp (key queue, translation, waits) and console_tone.cpp.
// Not for use outside the console.
#pragma once

#include <array>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "console/core/console.h"
#include "platform/audio_device.h"
#include "platform/frontend.h"

namespace ondaria::detail {

struct ConsoleState {
  bool created = false;
  platform::CellGrid grid;
  int cursorX = 0;  // 0-based; may be 80 (just past the last column)
  int cursorY = 0;
  uint8_t textAttr = 0x0F;
  bool coloursAllowed = true;
  bool scrollByCopy = false;
  bool startMaximized = false;

  // Key queue and the modifiers held when each byte was made.
  std::array<uint8_t, kKeyQueueSize> keyBuffer{};
  std::array<uint8_t, kKeyQueueSize> keyMods{};
  int keyCount = 0;
  uint8_t lastReadMods = 0;
  uint8_t currentMods = 0;  // modifiers of the event being translated

  bool focused = false;
  bool waitingForKey = false;
  bool breakEndsProgram = true;
  bool closeEnabled = true;
  bool brailleOutput = false;
  int brailleKeyboardMode = 0;
  bool brailleModeRefused = false;  // to be told at the next wait for a key
  bool chordTextPending = false;    // a letter or blank key's text belongs to a chord
  std::string title;

  std::unique_ptr<platform::Frontend> frontend;
  std::unique_ptr<platform::Frontend> injectedFrontend;

  // Hooks.
  RowShownHook rowShownHook;
  std::function<void()> createdHook;
  BrailleKeyHook brailleKeyHook;
  ChordKeyHook chordKeyHook;
  BrailleModeHook brailleModeHook;
  std::function<void()> brailleModeRefusedHook;
  MouseHook mouseHook;
  std::function<void()> outputChangedHook;
  std::function<void()> idleHook;
  std::function<void(const std::string&)> noticeHook;
  std::function<bool()> idlePending;  // null: the hook always has work
  std::function<void()> exitHandler;

  // The looping tone, while one plays.
  std::shared_ptr<platform::PcmQueueSource> tone;
};

ConsoleState& state();

// Braille key messages posted from other threads; drained while pumping.
struct BrailleMessages {
  std::mutex lock;
  std::deque<std::pair<uint32_t, uint32_t>> pending;
};
BrailleMessages& brailleMessages();

// The front-end wakeConsole reaches (guarded: other threads call it).
void setWakeTarget(platform::Frontend* frontend);
void wakeCurrentFrontend();

// Key queue (console_keys.cpp).
bool queueKey(uint8_t byte);           // false when the queue is full
bool queueExtendedKey(uint8_t code);   // 0, code; false unless two places are free
void handleEvent(const platform::FrontendEvent& event);
// Waits up to timeoutMs for events and dispatches everything that arrived.
void pumpEvents(int timeoutMs);

// Output helpers (console.cpp).
void showRow(int row);  // hands a row to the braille hook when brailleOutput is on
void endProgramByClose();

}  // namespace ondaria::detail
