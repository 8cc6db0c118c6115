// The key queue: translation of front-end events into key bytes, the waits
// that dispatch events (readKey, keyPressed, delayMs), and plain line input.
#include <algorithm>
#include <chrono>
#include <thread>

#include "console/core/console.h"
#include "console/core/console_state.h"
#include "platform/codepage.h"

namespace ondaria {

using detail::ConsoleState;
using detail::state;
using platform::EventType;
using platform::FrontendEvent;
using platform::KeyId;

namespace {

struct ExtendedKey {
  KeyId key;
  uint8_t plain;
  uint8_t withCtrl;
};

// Function and cursor keys: 0 followed by the plain or the Ctrl code.
constexpr ExtendedKey kExtendedKeys[] = {
    {KeyId::F1, 59, 94},       {KeyId::F2, 60, 95},       {KeyId::F3, 61, 96},
    {KeyId::F4, 62, 97},       {KeyId::F5, 63, 98},       {KeyId::F6, 64, 99},
    {KeyId::F7, 65, 100},      {KeyId::F8, 66, 101},      {KeyId::F9, 67, 102},
    {KeyId::F10, 68, 103},     {KeyId::F11, 69, 104},     {KeyId::F12, 70, 105},
    {KeyId::Insert, 82, 255},  {KeyId::Delete, 83, 83},   {KeyId::Home, 71, 119},
    {KeyId::End, 79, 117},     {KeyId::PageUp, 73, 132},  {KeyId::PageDown, 81, 118},
    {KeyId::Up, 72, 113},      {KeyId::Down, 80, 114},    {KeyId::Left, 75, 115},
    {KeyId::Right, 77, 116},
};

constexpr uint8_t kShiftInsert = 254;
// Shift+Tab: the extended code of the PC keyboard's back-tab.
constexpr uint8_t kShiftTab = 15;

// Key presses and pastes handled so far; readKey compares it around a pump
// to tell a press that made no byte from no press at all.
uint64_t g_keyPresses = 0;

// PC keyboard scan codes of the letters A…Z (Alt+letter).
constexpr uint8_t kLetterScanCodes[26] = {30, 48, 46, 32, 18, 33, 34, 35, 23, 36, 37, 38, 50,
                                          49, 24, 25, 16, 19, 31, 20, 22, 47, 17, 45, 21, 44};

// Alt+1…Alt+9 give 120…128, Alt+0 gives 129.
uint8_t altDigitCode(int digit) { return static_cast<uint8_t>(digit == 0 ? 129 : 119 + digit); }

const ExtendedKey* findExtended(KeyId key) {
  for (const ExtendedKey& k : kExtendedKeys)
    if (k.key == key) return &k;
  return nullptr;
}

bool isAsciiLetter(uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// A character typed (by text input or by a key that makes a control
// character). While chord typing is on, the blank or letter that a key press
// types belongs to the chord (the key's release makes its character); text
// that came without such a key (pasted, composed, scripted) is typed as it
// is, so that nothing is dropped without a sound.
void typedCharacter(ConsoleState& s, uint8_t c) {
  if (s.brailleKeyboardMode != 0 && s.chordTextPending && (c == ' ' || isAsciiLetter(c))) {
    s.chordTextPending = false;
    return;
  }
  detail::queueKey(c);
}

// The key's text, if it types one, belongs to chord typing.
bool typesChordText(const ConsoleState& s, const FrontendEvent& e) {
  if (s.brailleKeyboardMode == 0 || (e.mods & (platform::kModCtrl | platform::kModAlt))) return false;
  return platform::isLetterKey(e.key) || e.key == KeyId::Space;
}

// The control character a key makes on its own (0: none). Keys held with Alt
// make none: their character goes to the system.
uint8_t controlCharacter(const FrontendEvent& e) {
  const bool ctrl = e.mods & platform::kModCtrl;
  if (e.mods & platform::kModAlt) return 0;
  switch (e.key) {
    case KeyId::Enter: return ctrl ? 10 : 13;
    case KeyId::Backspace: return ctrl ? 127 : 8;
    case KeyId::Escape: return 27;
    case KeyId::Tab: return (ctrl || (e.mods & platform::kModShift)) ? 0 : 9;
    case KeyId::Pause: return ctrl ? 3 : 0;  // Ctrl+Break makes the same byte as Ctrl+C
    default: break;
  }
  if (ctrl && platform::isLetterKey(e.key)) return static_cast<uint8_t>(1 + platform::letterIndex(e.key));
  if (ctrl && e.key == KeyId::Backslash) return 28;  // the field editor's touch tones
  return 0;
}

// A paste of the terminal (bracketed paste) is delivered as the editor's own
// paste: the text goes to the clipboard with its line ends turned into blanks
// (a pasted line end must not act as Enter), then Shift+Insert is queued, as
// the window's clipboard paste would be. Nothing of it passes through the
// 64-byte key queue, so a long address arrives whole.
void pasted(ConsoleState& s, const std::string& utf8) {
  if (!s.frontend || utf8.empty()) return;
  std::string text;
  text.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size(); ++i) {
    const char c = utf8[i];
    if (c == '\r' && i + 1 < utf8.size() && utf8[i + 1] == '\n') continue;  // CR LF is one end
    text += (c == '\r' || c == '\n') ? ' ' : c;
  }
  if (!s.frontend->setClipboardText(text)) return;
  detail::queueExtendedKey(kShiftInsert);
}

void keyDown(ConsoleState& s, const FrontendEvent& e) {
  const bool ctrl = e.mods & platform::kModCtrl;
  const bool alt = e.mods & platform::kModAlt;
  const bool shift = e.mods & platform::kModShift;
  if (e.key == KeyId::Pause && ctrl && s.breakEndsProgram) detail::endProgramByClose();
  // Alt combinations belong to the system while the break key ends the
  // program, except Alt+Left and Alt+Right and those with Ctrl.
  if (alt && !ctrl && s.breakEndsProgram && e.key != KeyId::Left && e.key != KeyId::Right) return;
  if (alt) {
    // The switches of chord typing are taken whole: queued as Ctrl+F11 or
    // Ctrl+F12 as well, they would be answered as a wrong key and cut the
    // words that say why a switch was refused.
    if (ctrl && e.key == KeyId::F12) {
      setBrailleKeyboardMode(0);
      return;
    }
    if (ctrl && e.key == KeyId::F11) {
      setBrailleKeyboardMode(s.brailleKeyboardMode + 1);
      return;
    }
    if (platform::isLetterKey(e.key)) {
      detail::queueExtendedKey(kLetterScanCodes[platform::letterIndex(e.key)]);
    } else if (platform::isDigitKey(e.key)) {
      detail::queueExtendedKey(altDigitCode(platform::digitValue(e.key)));
    }
  }
  if (!ctrl && s.brailleKeyboardMode != 0 && s.chordKeyHook && s.chordKeyHook(e)) return;
  if (const ExtendedKey* k = findExtended(e.key)) {
    uint8_t code = k->plain;
    if (ctrl)
      code = k->withCtrl;
    else if (shift && e.key == KeyId::Insert)
      code = kShiftInsert;
    detail::queueExtendedKey(code);  // dropped whole unless two places are free
  }
  if (e.key == KeyId::Tab && shift && !ctrl) detail::queueExtendedKey(kShiftTab);
  if (const uint8_t c = controlCharacter(e)) typedCharacter(s, c);
}

}  // namespace

namespace detail {

bool queueKey(uint8_t byte) {
  ConsoleState& s = state();
  if (s.keyCount >= kKeyQueueSize) return false;
  s.keyBuffer[s.keyCount] = byte;
  s.keyMods[s.keyCount] = s.currentMods;
  ++s.keyCount;
  return true;
}

bool queueExtendedKey(uint8_t code) {
  ConsoleState& s = state();
  if (s.keyCount > kKeyQueueSize - 2) return false;
  queueKey(0);
  queueKey(code);
  return true;
}

void handleEvent(const FrontendEvent& e) {
  ConsoleState& s = state();
  switch (e.type) {
    case EventType::KeyDown:
      s.currentMods = e.mods;
      ++g_keyPresses;
      s.chordTextPending = typesChordText(s, e);
      keyDown(s, e);
      break;
    case EventType::KeyUp:
      s.currentMods = e.mods;
      s.chordTextPending = false;
      if (s.brailleKeyboardMode != 0 && s.chordKeyHook) s.chordKeyHook(e);
      break;
    case EventType::Text: {
      // Text carries the modifiers of the key press that made it, if any.
      const std::string bytes = platform::utf8ToCp1252(e.text, 0);
      for (char c : bytes)
        if (static_cast<uint8_t>(c) >= 32) typedCharacter(s, static_cast<uint8_t>(c));
      break;
    }
    case EventType::MouseButton:
    case EventType::MouseWheel:
      s.currentMods = 0;
      if (s.mouseHook) s.mouseHook(e);
      break;
    case EventType::FocusGained:
    case EventType::FocusLost:
      s.focused = e.type == EventType::FocusGained;
      if (s.mouseHook) s.mouseHook(e);
      break;
    case EventType::Close:
      if (s.closeEnabled && s.breakEndsProgram) endProgramByClose();
      break;
    case EventType::Paste:
      ++g_keyPresses;
      pasted(s, e.text);
      break;
    case EventType::Wake:
      break;
  }
  // A key that may type text keeps its modifiers for the text event that
  // follows it; everything else has used them.
  const bool mayType = e.type == EventType::KeyDown && !findExtended(e.key) &&
                       e.key != KeyId::Tab && controlCharacter(e) == 0;
  if (!mayType) s.currentMods = 0;
}

void pumpEvents(int timeoutMs) {
  ensureConsole();
  ConsoleState& s = state();
  FrontendEvent e;
  int wait = timeoutMs;
  while (s.frontend) {
    // Scripted input waits in the front-end while the queue is (nearly) full.
    if (s.frontend->pacedInput() && s.keyCount > kKeyQueueSize - 2) {
      if (wait != 0) std::this_thread::sleep_for(std::chrono::milliseconds(std::min(wait < 0 ? 10 : wait, 10)));
      break;
    }
    if (!s.frontend->nextEvent(e, wait)) break;
    handleEvent(e);
    wait = 0;
  }
  // Keys of the braille display, posted by its driver.
  for (;;) {
    std::pair<uint32_t, uint32_t> message;
    {
      BrailleMessages& m = brailleMessages();
      std::lock_guard<std::mutex> guard(m.lock);
      if (m.pending.empty()) break;
      message = m.pending.front();
      m.pending.pop_front();
    }
    if (!s.brailleKeyHook) continue;
    const BrailleKey key = s.brailleKeyHook(message.first, message.second);
    s.currentMods = 0;
    if (key.character != 0)
      queueKey(key.character);
    else if (key.code != 0)
      queueExtendedKey(key.code);
  }
  if (s.idleHook) s.idleHook();
  if (s.frontend) s.frontend->flush();
}

}  // namespace detail

bool keyPressed() {
  detail::pumpEvents(0);
  return state().keyCount > 0;
}

namespace {

// Hands the front-end's messages to the notice hook; true when there was one.
// Without a hook they are dropped (each is given once).
bool deliverNoticesOf(ConsoleState& s) {
  bool any = false;
  while (s.frontend) {
    const std::string notice = s.frontend->takeNotice();
    if (notice.empty()) break;
    any = true;
    if (s.noticeHook) {
      const std::function<void(const std::string&)> hook = s.noticeHook;
      hook(notice);
    }
  }
  return any;
}

void endKeyWait(ConsoleState& s) {
  if (!s.waitingForKey) return;
  s.waitingForKey = false;
  if (s.frontend) s.frontend->keyWait(false, s.cursorX, s.cursorY);
}

// A refused chord typing mode is told here, outside of event handling and
// after whatever the program said before its question.
void tellRefusedBrailleMode(ConsoleState& s) {
  if (!s.brailleModeRefused || !s.brailleModeRefusedHook) return;
  s.brailleModeRefused = false;
  endKeyWait(s);
  const std::function<void()> hook = s.brailleModeRefusedHook;
  hook();
}

}  // namespace

bool deliverNotices() { return deliverNoticesOf(state()); }

uint8_t readKey() {
  ensureConsole();
  ConsoleState& s = state();
  if (s.keyCount == 0) deliverNoticesOf(s);
  for (;;) {
    tellRefusedBrailleMode(s);
    if (s.keyCount > 0) break;
    if (!s.waitingForKey) {
      s.waitingForKey = true;
      if (s.frontend) s.frontend->keyWait(true, s.cursorX, s.cursorY);
      continue;  // the front-end may have queued keys as the wait began
    }
    // No key can ever come: the program ends as a window close would, so
    // that a run never hangs.
    if (!s.frontend || s.frontend->inputExhausted()) detail::endProgramByClose();
    // Bounded while the idle hook has work, so that it runs regularly even
    // without events; otherwise only an event (a key, a wake) ends the wait.
    const bool idleWork = s.idleHook && (!s.idlePending || s.idlePending());
    const uint64_t pressesBefore = g_keyPresses;
    detail::pumpEvents(idleWork ? 100 : -1);
    // A key that makes no byte (Ctrl+1, a modifier alone, a chord key still
    // held), or a notice just handed over, leaves the program waiting: the
    // wait starts anew for the front-end, so that one that types a key per
    // wait (a script) goes on with the next.
    const bool noticed = s.keyCount == 0 && deliverNoticesOf(s);
    if (s.keyCount == 0 && (g_keyPresses != pressesBefore || noticed) && s.waitingForKey && s.frontend)
      s.frontend->keyWait(true, s.cursorX, s.cursorY);
  }
  endKeyWait(s);
  const uint8_t byte = s.keyBuffer[0];
  s.lastReadMods = s.keyMods[0];
  for (int i = 1; i < s.keyCount; ++i) {
    s.keyBuffer[i - 1] = s.keyBuffer[i];
    s.keyMods[i - 1] = s.keyMods[i];
  }
  --s.keyCount;
  return byte;
}

void pushKey(uint8_t byte) {
  ensureConsole();
  ConsoleState& s = state();
  detail::queueKey(byte);
  if (s.frontend) s.frontend->wake();
}

int keyCount() { return state().keyCount; }

uint8_t peekKey(int index) {
  const ConsoleState& s = state();
  return index >= 0 && index < s.keyCount ? s.keyBuffer[index] : 0;
}

KeyModifiers lastKeyModifiers() {
  const uint8_t m = state().lastReadMods;
  return KeyModifiers{(m & platform::kModShift) != 0, (m & platform::kModCtrl) != 0,
                      (m & platform::kModAlt) != 0};
}

int readRawLine(char* buffer, int capacity) {
  if (!buffer || capacity <= 0) return 0;
  // Room for the characters and the closing 13, 10.
  const int maxChars = capacity - 2;
  int length = 0;
  for (;;) {
    const uint8_t c = readKey();
    if (c == 13) break;
    if (c == 8) {
      // Only a character of this line is taken back; the echo never erases
      // what stood on the screen before the line began.
      if (length > 0) {
        --length;
        writeText("\b", 1);
      }
      continue;
    }
    // Other control bytes and the 0 of extended keys are ignored; the code
    // byte of an extended key is >= 32 and counts as a character.
    if (c < 32) continue;
    if (length < maxChars) {
      buffer[length++] = static_cast<char>(c);
      writeText(reinterpret_cast<const char*>(&c), 1);
    }
  }
  writeText("\r\n", 2);
  if (length < capacity) buffer[length++] = '\r';
  if (length < capacity) buffer[length++] = '\n';
  return length;
}

void delayMs(int ms) {
  ensureConsole();
  using Clock = std::chrono::steady_clock;
  // The interface takes 0…65535 milliseconds.
  ms = std::clamp(ms, 0, 65535);
  const Clock::time_point end = Clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now()).count();
    if (left <= 0) break;
    detail::pumpEvents(static_cast<int>(std::min<long long>(left, 100)));
  }
  detail::pumpEvents(0);
}

void pumpWindowMessages() { detail::pumpEvents(0); }

void waitForConsoleEvent(int maxMs) { detail::pumpEvents(std::max(0, maxMs)); }

void wakeConsole() {
  // The front-end pointer is guarded: speech, audio and stream threads call this.
  detail::wakeCurrentFrontend();
}

void postBrailleKeyMessage(uint32_t first, uint32_t second) {
  {
    detail::BrailleMessages& m = detail::brailleMessages();
    std::lock_guard<std::mutex> guard(m.lock);
    m.pending.emplace_back(first, second);
  }
  wakeConsole();
}

}  // namespace ondaria
