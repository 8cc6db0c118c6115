#include "console/ui/braille_keyboard.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/core/console.h"
#include "platform/frontend.h"
#include "platform/speech_log.h"
#include "support/headless_console.h"

namespace ondaria {
namespace {

using platform::EventType;
using platform::FrontendEvent;
using platform::KeyId;

// A console with chord typing and mouse keys installed, on a headless
// front-end (which reports key releases, as the window does) or on another
// front-end given by the test.
class BrailleKeyboard : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::setSpeechObserver([this](platform::SpeechEvent e, const std::string& text) {
      if (e == platform::SpeechEvent::Tone && text != "off") tones.push_back(std::stoi(text));
      if (e == platform::SpeechEvent::Text) spoken += text;
    });
  }
  void TearDown() override {
    platform::setSpeechObserver(nullptr);
    resetConsole();
  }

  void open(std::unique_ptr<platform::HeadlessFrontend> frontend, int mode = 0) {
    resetConsole();
    screen = frontend.get();
    setConsoleFrontend(std::move(frontend));
    setConsoleExitHandler([] { throw test::ConsoleClosed{}; });
    installBrailleKeyboard();
    ensureConsole();
    if (mode) setBrailleKeyboardMode(mode);
    tones.clear();
  }
  void open(int mode = 0) { open(std::make_unique<platform::HeadlessFrontend>(-1), mode); }

  // Chords in script form: keys pressed together, then released in the same
  // order ("fd"), or in the order after a slash ("fd/df"); " " is the space
  // bar. Each press types its letter too, as the window reports it.
  static std::string chords(const std::vector<std::string>& list, const std::string& mods = "") {
    std::string script;
    for (const std::string& c : list) {
      const size_t slash = c.find('/');
      const std::string pressed = c.substr(0, slash);
      const std::string released = slash == std::string::npos ? pressed : c.substr(slash + 1);
      auto name = [&](char k) { return mods + (k == ' ' ? std::string("Space") : std::string(1, k)); };
      for (char k : pressed) script += "down " + name(k) + "\n";
      for (char k : released) script += "up " + name(k) + "\n";
    }
    return script;
  }

  // Every key byte that the events queued so far make.
  std::string typed() {
    pumpWindowMessages();
    std::string out;
    while (keyCount() > 0) out += static_cast<char>(readKey());
    return out;
  }

  platform::HeadlessFrontend* screen = nullptr;
  std::vector<int> tones;
  std::string spoken;
};

TEST_F(BrailleKeyboard, ChordsTypeWhenTheLastKeyIsReleased) {
  struct Case {
    const char* name;
    int mode;
    std::vector<std::string> chords;
    std::string typed;
  };
  const Case cases[] = {
      {"f and d released in either order give one b", 1, {"fd", "fd/df"}, "bb"},
      {"d alone", 1, {"d"}, ","},
      {"dots 1-3-4-5", 1, {"fsjk"}, "n"},
      {"the space bar with dots 1-2 is Ctrl+B", 1, {" fd"}, "\x02"},
      {"the space bar alone is a blank", 1, {" "}, " "},
      {"a letter that is no chord key is a blank", 1, {"a"}, " "},
      {"dots 3-4-5-6 and dot 3 in mode 1", 1, {"sjkl", "s"}, "#'"},
      {"number sign, then a and b", 2, {"sjkl", "f", "fd"}, "12"},
      {"number sign ends with dots 5", 2, {"sjkl", "f", "k", "f"}, "1~a"},
      {"capital sign", 2, {"jl", "fd", "f"}, "Ba"},
      {"two capital signs lock capitals", 2, {"jl", "jl", "fd", "f"}, "BA"},
      {"the space bar ends every sign", 2, {"sjkl", " ", "f", "jl", "jl", " ", "f"}, " a a"},
      {"dot 3 is a full stop, dots 1-5-6 an at sign", 2, {"s", "fkl"}, ".@"},
  };
  for (const Case& c : cases) {
    open(c.mode);
    ASSERT_TRUE(screen->feedScript(chords(c.chords)));
    EXPECT_EQ(typed(), c.typed) << c.name;
  }
}

TEST_F(BrailleKeyboard, OtherKeysAndCtrlClearTheSignsAndTypeAsUsual) {
  open(2);
  // Down, released, ends the number state; Ctrl+F is Ctrl+F; text that came
  // without a key (pasted) is typed as it is.
  ASSERT_TRUE(screen->feedScript(chords({"sjkl"}) + "key Down\n" + chords({"f"}) + chords({"f"}, "ctrl+") +
                                 "text ok\n"));
  EXPECT_EQ(typed(), std::string("\0\x50" "a\x06ok", 6));
}

TEST_F(BrailleKeyboard, SwitchingModesSoundsItsTones) {
  open();
  std::vector<int> modes;
  // One key at a time, as a person presses them (the tones take 400 ms).
  auto press = [&](KeyId key, uint8_t mods) {
    screen->pressKey(key, mods);
    pumpWindowMessages();
    modes.push_back(brailleKeyboardMode());
  };
  for (int i = 0; i < 3; ++i) press(KeyId::F11, platform::kModCtrl | platform::kModAlt);
  // Shift as well, for desktops that keep Ctrl+Alt+F11 and F12 for themselves.
  press(KeyId::F12, platform::kModCtrl | platform::kModAlt | platform::kModShift);
  EXPECT_EQ(modes, (std::vector<int>{1, 2, 1, 0}));
  EXPECT_EQ(tones, (std::vector<int>{800, 1600, 800, 400, 800, 1600, 100}));
  // Mode 0 again says nothing; letters type letters.
  press(KeyId::F12, platform::kModCtrl | platform::kModAlt);
  screen->pressKey(KeyId::F);
  EXPECT_EQ(typed(), "f");  // the switches themselves type nothing
  EXPECT_EQ(tones.size(), 7u);
}

// A front-end that reports presses only, as a terminal does.
class PressesOnly : public platform::HeadlessFrontend {
 public:
  bool seesKeyReleases() const override { return false; }
};

TEST_F(BrailleKeyboard, WithoutKeyReleasesTheModeStaysOffAndTheUserHearsWhy) {
  open(std::make_unique<PressesOnly>());
  writeText("Pergunta? ");
  screen->pressKey(KeyId::F11, platform::kModCtrl | platform::kModAlt);
  // The program waits for a key: the refusal is told, and no key comes (the
  // switch is no key of its own), so the run ends.
  EXPECT_THROW(readKey(), test::ConsoleClosed);
  EXPECT_EQ(brailleKeyboardMode(), 0);
  EXPECT_TRUE(tones.empty());
  const std::string message(kChordTypingNeedsWindow);
  // Heard whole; the voice says punctuation as pauses, not as text.
  for (const char* part : {"Digita\xE7\xE3o braille em acordes s\xF3 funciona na janela gr\xE1" "fica",
                           "continua desligada"})
    EXPECT_NE(spoken.find(part), std::string::npos) << spoken;
  // Written on a line of its own, below the question.
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&consoleGrid().chars[80]), message.size()), message);
}

TEST_F(BrailleKeyboard, MouseButtonsAndWheelAreKeysExceptTheClickThatBringsTheWindowForward) {
  open();
  ASSERT_TRUE(screen->feedScript(
      "click left\nclick right\nclick middle\nwheel up\nwheel down\n"
      // The click that brings the window to the front only clears the rule;
      // losing the focus clears it too.
      "focus held\nclick left\nclick left\nfocus held\nblur\nclick left\n"));
  EXPECT_EQ(typed(), std::string("\r\x1B\0\x43\0\x48\0\x50\r\r", 10));
}

// The window reports each key's press, its text, and its release, by the
// key's place on the keyboard.
void pushSdlKey(Uint32 type, SDL_Scancode scancode, Uint16 mod = KMOD_NONE) {
  SDL_Event e{};
  e.type = type;
  e.key.keysym.scancode = scancode;
  e.key.keysym.sym = SDL_GetKeyFromScancode(scancode);
  e.key.keysym.mod = mod;
  SDL_PushEvent(&e);
  if (type == SDL_KEYDOWN && !(mod & KMOD_CTRL)) {
    SDL_Event text{};
    text.type = SDL_TEXTINPUT;
    const SDL_Keycode sym = SDL_GetKeyFromScancode(scancode);
    text.text.text[0] = static_cast<char>(sym < 128 ? sym : '?');
    SDL_PushEvent(&text);
  }
}

TEST_F(BrailleKeyboard, TheWindowsKeyPressesAndReleasesMakeChords) {
  resetConsole();
  setConsoleFrontend(platform::makeSdlFrontend());
  setConsoleExitHandler([] { throw test::ConsoleClosed{}; });
  installBrailleKeyboard();
  ensureConsole();
  if (std::string(consoleFrontend()->name()) != "sdl") GTEST_SKIP() << "no window";
  pushSdlKey(SDL_KEYDOWN, SDL_SCANCODE_F11, KMOD_LCTRL | KMOD_LALT);
  pushSdlKey(SDL_KEYUP, SDL_SCANCODE_F11, KMOD_LCTRL | KMOD_LALT);
  pumpWindowMessages();
  ASSERT_EQ(brailleKeyboardMode(), 1);
  for (SDL_Scancode key : {SDL_SCANCODE_F, SDL_SCANCODE_D}) pushSdlKey(SDL_KEYDOWN, key);
  for (SDL_Scancode key : {SDL_SCANCODE_D, SDL_SCANCODE_F}) pushSdlKey(SDL_KEYUP, key);
  pushSdlKey(SDL_KEYDOWN, SDL_SCANCODE_SPACE);
  pushSdlKey(SDL_KEYUP, SDL_SCANCODE_SPACE);
  pushSdlKey(SDL_KEYDOWN, SDL_SCANCODE_RETURN);
  pushSdlKey(SDL_KEYUP, SDL_SCANCODE_RETURN);
  EXPECT_EQ(typed(), "b \r");
}

}  // namespace
}  // namespace ondaria
