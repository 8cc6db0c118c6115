// Keys: translation of key events into key bytes, the 64-byte queue, the
// break key and window close, the hooks of chord typing and the braille
// display, plain line input, the clipboard and the clock.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "console/core/console.h"
#include "support/headless_console.h"

namespace ondaria {
namespace {

using platform::KeyId;
using platform::kModAlt;
using platform::kModCtrl;
using platform::kModShift;

class ConsoleKeys : public ::testing::Test {
 protected:
  void SetUp() override { screen = &test::useHeadlessConsole(); }
  void TearDown() override { resetConsole(); }

  // Presses one key and returns every byte it queued.
  std::vector<int> bytesOf(KeyId key, uint8_t mods = 0) {
    screen->pressKey(key, mods);
    return drain();
  }
  std::vector<int> drain() {
    std::vector<int> out;
    while (keyPressed()) out.push_back(readKey());
    return out;
  }
  platform::HeadlessFrontend* screen = nullptr;
};

using Bytes = std::vector<int>;

TEST_F(ConsoleKeys, ExtendedKeysPlainAndWithCtrl) {
  struct Row {
    KeyId key;
    int plain, ctrl;
  };
  const Row table[] = {
      {KeyId::F1, 59, 94},      {KeyId::F5, 63, 98},     {KeyId::F10, 68, 103},
      {KeyId::F11, 69, 104},    {KeyId::F12, 70, 105},   {KeyId::Insert, 82, 255},
      {KeyId::Delete, 83, 83},  {KeyId::Home, 71, 119},  {KeyId::End, 79, 117},
      {KeyId::PageUp, 73, 132}, {KeyId::PageDown, 81, 118}, {KeyId::Up, 72, 113},
      {KeyId::Down, 80, 114},   {KeyId::Left, 75, 115},  {KeyId::Right, 77, 116},
  };
  for (const Row& r : table) {
    EXPECT_EQ(bytesOf(r.key), (Bytes{0, r.plain})) << static_cast<int>(r.key);
    EXPECT_EQ(bytesOf(r.key, kModCtrl), (Bytes{0, r.ctrl})) << static_cast<int>(r.key);
    // Shift changes nothing but Insert.
    if (r.key != KeyId::Insert) {
      EXPECT_EQ(bytesOf(r.key, kModShift), (Bytes{0, r.plain})) << static_cast<int>(r.key);
    }
  }
  EXPECT_EQ(bytesOf(KeyId::Insert, kModShift), (Bytes{0, 254}));
  EXPECT_EQ(bytesOf(KeyId::Insert, kModShift | kModCtrl), (Bytes{0, 255}));
}

TEST_F(ConsoleKeys, OrdinaryKeysAndTheirCtrlForms) {
  EXPECT_EQ(bytesOf(KeyId::Enter), (Bytes{13}));
  EXPECT_EQ(bytesOf(KeyId::Enter, kModCtrl), (Bytes{10}));
  EXPECT_EQ(bytesOf(KeyId::Backspace), (Bytes{8}));
  EXPECT_EQ(bytesOf(KeyId::Backspace, kModCtrl), (Bytes{127}));
  EXPECT_EQ(bytesOf(KeyId::Escape), (Bytes{27}));
  EXPECT_EQ(bytesOf(KeyId::Tab), (Bytes{9}));
  EXPECT_EQ(bytesOf(KeyId::Tab, kModShift), (Bytes{0, 15}));  // back-tab, as screen review reads it
  EXPECT_EQ(bytesOf(KeyId::A, kModCtrl), (Bytes{1}));
  EXPECT_EQ(bytesOf(KeyId::Z, kModCtrl | kModShift), (Bytes{26}));
  EXPECT_EQ(bytesOf(KeyId::A), (Bytes{'a'}));
  EXPECT_EQ(bytesOf(KeyId::A, kModShift), (Bytes{'A'}));
  screen->typeText("ção€");
  EXPECT_EQ(drain(), (Bytes{0xE7, 0xE3, 'o', 0x80}));
  // Characters Windows-1252 does not have are not typed at all.
  screen->typeText("中");
  EXPECT_EQ(drain(), Bytes{});
}

TEST_F(ConsoleKeys, AltKeysReachTheProgramOnlyWhenBreakIsOffOrWithCtrl) {
  ASSERT_TRUE(breakEndsProgram());
  EXPECT_EQ(bytesOf(KeyId::X, kModAlt), Bytes{});
  EXPECT_EQ(bytesOf(KeyId::F4, kModAlt), Bytes{});
  // Alt+Left and Alt+Right always get through, as the plain keys.
  EXPECT_EQ(bytesOf(KeyId::Left, kModAlt), (Bytes{0, 75}));
  EXPECT_EQ(bytesOf(KeyId::Right, kModAlt), (Bytes{0, 77}));
  EXPECT_EQ(bytesOf(KeyId::X, kModAlt | kModCtrl), (Bytes{0, 45}));

  setBreakEndsProgram(false);
  EXPECT_EQ(bytesOf(KeyId::X, kModAlt), (Bytes{0, 45}));
  EXPECT_EQ(bytesOf(KeyId::A, kModAlt), (Bytes{0, 30}));
  EXPECT_EQ(bytesOf(KeyId::M, kModAlt | kModShift), (Bytes{0, 50}));
  EXPECT_EQ(bytesOf(KeyId::Digit1, kModAlt), (Bytes{0, 120}));
  EXPECT_EQ(bytesOf(KeyId::Digit9, kModAlt), (Bytes{0, 128}));
  EXPECT_EQ(bytesOf(KeyId::Digit0, kModAlt), (Bytes{0, 129}));
  // Alt with another key gives that key's own code.
  EXPECT_EQ(bytesOf(KeyId::F4, kModAlt), (Bytes{0, 62}));
  EXPECT_EQ(bytesOf(KeyId::Up, kModAlt | kModCtrl), (Bytes{0, 113}));
  // Alt with Enter makes no character.
  EXPECT_EQ(bytesOf(KeyId::Enter, kModAlt), Bytes{});
}

TEST_F(ConsoleKeys, EveryLetterHasItsScanCode) {
  setBreakEndsProgram(false);
  const int codes[26] = {30, 48, 46, 32, 18, 33, 34, 35, 23, 36, 37, 38, 50,
                         49, 24, 25, 16, 19, 31, 20, 22, 47, 17, 45, 21, 44};
  for (int i = 0; i < 26; ++i)
    EXPECT_EQ(bytesOf(platform::keyLetter(static_cast<char>('A' + i)), kModAlt), (Bytes{0, codes[i]}))
        << static_cast<char>('A' + i);
}

TEST_F(ConsoleKeys, QueueHoldsSixtyFourBytesAndDropsTheRest) {
  for (int i = 0; i < 70; ++i) pushKey(static_cast<uint8_t>('a' + i % 26));
  EXPECT_EQ(keyCount(), 64);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(readKey(), 'a' + i % 26);
  EXPECT_FALSE(keyPressed());
}

// Keys typed by a person (not a script) are taken at once, however full the
// queue is, and the drop rules decide what stays.
class PersonTyping : public platform::HeadlessFrontend {
 public:
  bool pacedInput() const override { return false; }
};

TEST_F(ConsoleKeys, TwoByteKeysNeedTwoFreePlaces) {
  resetConsole();
  auto person = std::make_unique<PersonTyping>();
  screen = person.get();
  setConsoleFrontend(std::move(person));
  setConsoleExitHandler([] { throw test::ConsoleClosed{}; });
  for (int i = 0; i < 63; ++i) pushKey('x');
  // One place left: an extended key is dropped whole, a character still fits.
  screen->pressKey(KeyId::Up);
  screen->typeText("y");
  pumpWindowMessages();
  EXPECT_EQ(keyCount(), 64);
  for (int i = 0; i < 63; ++i) readKey();
  EXPECT_EQ(readKey(), 'y');

  for (int i = 0; i < 62; ++i) pushKey('x');
  screen->pressKey(KeyId::Up);
  pumpWindowMessages();
  EXPECT_EQ(keyCount(), 64);
  for (int i = 0; i < 62; ++i) readKey();
  EXPECT_EQ(readKey(), 0);
  EXPECT_EQ(readKey(), 72);
}

TEST_F(ConsoleKeys, TextOfOneEventIsCutAtTheQueueSize) {
  platform::FrontendEvent e = platform::textEvent(std::string(70, 'q'));
  screen->pushEvent(e);
  pumpWindowMessages();
  EXPECT_EQ(keyCount(), 64);
}

TEST_F(ConsoleKeys, ScriptedInputIsTakenAsTheProgramReadsIt) {
  // A script types faster than any person; none of it may be lost.
  std::string text;
  for (int i = 0; i < 200; ++i) text += static_cast<char>('a' + i % 26);
  ASSERT_TRUE(screen->feedScript("text " + text + "\nkey F1\n"));
  std::string got;
  for (int i = 0; i < 200; ++i) got += static_cast<char>(readKey());
  EXPECT_EQ(got, text);
  EXPECT_EQ(readKey(), 0);
  EXPECT_EQ(readKey(), 59);
}

TEST_F(ConsoleKeys, ReadKeyWithNoKeyLeftEndsTheProgram) {
  screen->pressKey(KeyId::Escape);
  EXPECT_EQ(readKey(), 27);
  EXPECT_THROW(readKey(), test::ConsoleClosed);
}

TEST_F(ConsoleKeys, CtrlBreakEndsTheProgramOnlyWhileBreakIsOn) {
  setBreakEndsProgram(false);
  // With break off it is a plain Ctrl+C character.
  EXPECT_EQ(bytesOf(KeyId::Pause, kModCtrl), (Bytes{3}));
  EXPECT_EQ(bytesOf(KeyId::C, kModCtrl), (Bytes{3}));
  setBreakEndsProgram(true);
  screen->pressKey(KeyId::Pause, kModCtrl);
  EXPECT_THROW(pumpWindowMessages(), test::ConsoleClosed);
}

TEST_F(ConsoleKeys, CloseIsIgnoredWhileDisabledOrWhileBreakIsOff) {
  platform::FrontendEvent close;
  close.type = platform::EventType::Close;
  setCloseEnabled(false);
  screen->pushEvent(close);
  EXPECT_NO_THROW(pumpWindowMessages());
  setCloseEnabled(true);
  setBreakEndsProgram(false);
  screen->pushEvent(close);
  EXPECT_NO_THROW(pumpWindowMessages());
  setBreakEndsProgram(true);
  screen->pushEvent(close);
  EXPECT_THROW(pumpWindowMessages(), test::ConsoleClosed);
}

TEST_F(ConsoleKeys, ClosingDiscardsQueuedKeys) {
  pushKey('a');
  EXPECT_THROW(closeConsole(), test::ConsoleClosed);
  test::useHeadlessConsole();
  EXPECT_EQ(keyCount(), 0);
}

TEST_F(ConsoleKeys, ModifiersOfTheLastKeyRead) {
  screen->pressKey(KeyId::Down, kModShift);
  screen->pressKey(KeyId::Down);
  screen->pressKey(KeyId::B, kModShift);
  EXPECT_EQ(readKey(), 0);
  EXPECT_EQ(readKey(), 80);
  EXPECT_TRUE(lastKeyModifiers().shift);
  EXPECT_FALSE(lastKeyModifiers().ctrl);
  readKey();
  readKey();
  EXPECT_FALSE(lastKeyModifiers().shift);
  EXPECT_EQ(readKey(), 'B');
  EXPECT_TRUE(lastKeyModifiers().shift);
  // Text that no key press made (a terminal's text) carries no modifiers.
  screen->pressKey(KeyId::X, kModCtrl);
  screen->typeText("k");
  EXPECT_EQ(readKey(), 24);
  EXPECT_TRUE(lastKeyModifiers().ctrl);
  EXPECT_EQ(readKey(), 'k');
  EXPECT_FALSE(lastKeyModifiers().ctrl);
}

TEST_F(ConsoleKeys, ChordTypingTakesItsKeysAndTheModeKeysCycle) {
  std::vector<std::pair<int, int>> modes;
  std::vector<platform::FrontendEvent> offered;
  setBrailleModeHook([&](int from, int to) { modes.emplace_back(from, to); });
  setChordKeyHook([&](const platform::FrontendEvent& e) {
    offered.push_back(e);
    return e.key == KeyId::F || e.key == KeyId::Space;
  });
  // Off: the hook is never asked.
  EXPECT_EQ(bytesOf(KeyId::F), (Bytes{'f'}));
  EXPECT_TRUE(offered.empty());

  setBreakEndsProgram(false);
  bytesOf(KeyId::F11, kModCtrl | kModAlt);
  bytesOf(KeyId::F11, kModCtrl | kModAlt);
  bytesOf(KeyId::F11, kModCtrl | kModAlt);
  EXPECT_EQ(brailleKeyboardMode(), 1);
  ASSERT_EQ(modes.size(), 3u);
  EXPECT_EQ(modes[0], std::make_pair(0, 1));
  EXPECT_EQ(modes[1], std::make_pair(1, 2));
  EXPECT_EQ(modes[2], std::make_pair(2, 1));

  // On: chord keys are taken; letters and blanks typed as text are ignored,
  // other keys and Ctrl combinations work as usual.
  offered.clear();
  EXPECT_EQ(bytesOf(KeyId::F), Bytes{});
  EXPECT_EQ(bytesOf(KeyId::Q), Bytes{});
  screen->typeText("1");
  EXPECT_EQ(drain(), (Bytes{'1'}));
  EXPECT_EQ(bytesOf(KeyId::Up), (Bytes{0, 72}));
  EXPECT_EQ(bytesOf(KeyId::F, kModCtrl), (Bytes{6}));
  // Key-downs without Ctrl and every key-up were offered.
  int downs = 0, ups = 0;
  for (const auto& e : offered) (e.type == platform::EventType::KeyDown ? downs : ups)++;
  EXPECT_EQ(downs, 3);  // F, Q, Up
  EXPECT_EQ(ups, 4);    // F, Q, Up, Ctrl+F

  bytesOf(KeyId::F12, kModCtrl | kModAlt);
  EXPECT_EQ(brailleKeyboardMode(), 0);
  EXPECT_EQ(modes.back(), std::make_pair(1, 0));
}

TEST_F(ConsoleKeys, BrailleDisplayKeys) {
  setBrailleKeyHook([](uint32_t a, uint32_t b) {
    return BrailleKey{static_cast<uint8_t>(a), static_cast<uint8_t>(b)};
  });
  postBrailleKeyMessage('z', 0);
  postBrailleKeyMessage(0, 72);
  postBrailleKeyMessage(0, 0);
  EXPECT_EQ(readKey(), 'z');
  EXPECT_EQ(readKey(), 0);
  EXPECT_EQ(readKey(), 72);
  EXPECT_FALSE(keyPressed());
  // A full queue drops display keys like any other.
  for (int i = 0; i < 63; ++i) pushKey('x');
  postBrailleKeyMessage(0, 80);
  pumpWindowMessages();
  EXPECT_EQ(keyCount(), 63);
}

TEST_F(ConsoleKeys, ReadRawLineEditsAndEchoes) {
  writeText("Nome: ");
  screen->typeText("abc");
  screen->pressKey(KeyId::Backspace);
  screen->typeText("d");
  screen->pressKey(KeyId::Up);  // 0 is ignored, 72 ('H') is a character
  screen->pressKey(KeyId::Enter);
  char buffer[32];
  const int n = readRawLine(buffer, sizeof buffer);
  EXPECT_EQ(std::string(buffer, n), "abdH\r\n");
  std::string row;
  for (int col = 1; col <= 12; ++col) row += static_cast<char>(charAt(col, 1));
  EXPECT_EQ(row, "Nome: abdH  ");
  EXPECT_EQ(whereY(), 2);
  EXPECT_EQ(whereX(), 1);
}

TEST_F(ConsoleKeys, ReadRawLineBackspaceNeverErasesThePrompt) {
  writeText(">");
  screen->pressKey(KeyId::Backspace);
  screen->pressKey(KeyId::Enter);
  char buffer[8];
  EXPECT_EQ(readRawLine(buffer, sizeof buffer), 2);
  EXPECT_EQ(charAt(1, 1), '>');
}

TEST_F(ConsoleKeys, ReadRawLineNeverWritesPastTheBuffer) {
  for (int capacity : {0, 1, 2, 3, 5}) {
    screen->typeText("abcdefgh");
    screen->pressKey(KeyId::Enter);
    char buffer[16];
    std::memset(buffer, '#', sizeof buffer);
    const int n = readRawLine(buffer, capacity);
    if (capacity == 0) {
      EXPECT_EQ(n, 0);
      drain();
      continue;
    }
    EXPECT_LE(n, capacity) << capacity;
    for (int i = capacity; i < 16; ++i) EXPECT_EQ(buffer[i], '#') << capacity;
    if (capacity >= 2) {
      EXPECT_EQ(std::string(buffer, n), std::string("abcdefgh").substr(0, capacity - 2) + "\r\n");
    } else {
      EXPECT_EQ(std::string(buffer, n), "\r");
    }
  }
}

TEST_F(ConsoleKeys, ClipboardConvertsBetweenCodePages) {
  copyToClipboard("a\xE7\xE3o \x80");
  EXPECT_EQ(screen->clipboardText().value(), "ação €");
  EXPECT_EQ(pasteFromClipboard(100), "a\xE7\xE3o \x80");
  EXPECT_EQ(pasteFromClipboard(3), "a\xE7");
  EXPECT_EQ(pasteFromClipboard(1), "");
  EXPECT_EQ(pasteFromClipboard(0), "");
  screen->setClipboardText("x\xE4\xB8\xADy");  // a character cp1252 lacks
  EXPECT_EQ(pasteFromClipboard(10), "x?y");
  screen->setClipboardAvailable(false);
  copyToClipboard("lost");
  EXPECT_EQ(pasteFromClipboard(10), "");
  screen->setClipboardAvailable(true);
  EXPECT_EQ(screen->clipboardText().value(), "x\xE4\xB8\xADy");
}

TEST_F(ConsoleKeys, DateAndTimeAgreeWithTheSystemClock) {
  int y, mo, d, wd, h, mi, s, hs;
  getDate(y, mo, d, wd);
  getTime(h, mi, s, hs);
  EXPECT_GE(y, 2024);
  EXPECT_TRUE(mo >= 1 && mo <= 12);
  EXPECT_TRUE(d >= 1 && d <= 31);
  EXPECT_TRUE(h >= 0 && h <= 23);
  EXPECT_TRUE(mi >= 0 && mi <= 59);
  EXPECT_TRUE(s >= 0 && s <= 60);
  EXPECT_TRUE(hs >= 0 && hs <= 99);
  // The weekday belongs to the date (0 = Sunday).
  std::tm t{};
  t.tm_year = y - 1900;
  t.tm_mon = mo - 1;
  t.tm_mday = d;
  t.tm_hour = 12;
  std::mktime(&t);
  EXPECT_EQ(t.tm_wday, wd);
}

TEST_F(ConsoleKeys, AWaitForAKeyWakesForTheIdleHookOnlyWhileItHasWork) {
  // A key comes after a second. With work pending the hook runs about every
  // 100 ms meanwhile; without, the wait sleeps until the key (a program left
  // at a question costs no wake-ups).
  for (bool pending : {true, false}) {
    SCOPED_TRACE(pending);
    int calls = 0;
    setIdleHook([&] { ++calls; }, [&] { return pending; });
    std::string error;
    ASSERT_TRUE(screen->feedScript("sleep 1000\nkey a\n", &error)) << error;
    EXPECT_EQ(readKey(), 'a');
    if (pending) {
      EXPECT_GE(calls, 2);  // at least one timed wake before the key
    } else {
      EXPECT_LE(calls, 2);
    }
  }
  setIdleHook(nullptr);
}

}  // namespace
}  // namespace ondaria

namespace ondaria {
namespace {

TEST_F(ConsoleKeys, KeysOfTheFilesAndPastingWork) {
  // Ctrl+\ makes 28 (the field editor's touch tones); "\" alone is typed.
  EXPECT_EQ(bytesOf(KeyId::Backslash, kModCtrl), (Bytes{28}));
  EXPECT_EQ(bytesOf(KeyId::Backslash), (Bytes{'\\'}));

  // A terminal's bracketed paste: the text goes to the clipboard with its
  // line ends as blanks, and Shift+Insert pastes it, whatever its length
  // (the key queue holds 64 bytes).
  const std::string address = "http://radio.exemplo.com.br/" + std::string(90, 'a') + ".mp3";
  platform::FrontendEvent paste;
  paste.type = platform::EventType::Paste;
  paste.text = address + "\r\nsegunda\nterceira\r";
  screen->pushEvent(paste);
  EXPECT_EQ(drain(), (Bytes{0, 254}));
  EXPECT_EQ(pasteFromClipboard(4096), address + " segunda terceira ");
}

TEST_F(ConsoleKeys, AKeyThatMakesNoByteDoesNotHoldAScript) {
  // Ctrl+1 makes no byte: the next line of the script still comes.
  ASSERT_TRUE(screen->feedScript("key ctrl+1\nkey a\n"));
  EXPECT_EQ(readKey(), 'a');
}

}  // namespace
}  // namespace ondaria
