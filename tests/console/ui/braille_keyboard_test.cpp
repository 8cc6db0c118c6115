#include "console/ui/braille_keyboard.h"

#include <SDL.h>
#include <gtest/gtest.h>
#include <unistd.h>

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

  platform::HeadlessFrontend& open(int mode = 0) {
    resetConsole();
    auto frontend = std::make_unique<platform::HeadlessFrontend>(-1);
    screen = frontend.get();
    setConsoleFrontend(std::move(frontend));
    setConsoleExitHandler([] { throw test::ConsoleClosed{}; });
    installBrailleKeyboard();
    ensureConsole();
    if (mode) setBrailleKeyboardMode(mode);
    tones.clear();
    return *screen;
  }

  // Keys pressed together, then released in the given order.
  void chord(std::vector<KeyId> pressed, std::vector<KeyId> released = {}, uint8_t mods = 0) {
    if (released.empty()) released = pressed;
    for (KeyId k : pressed) {
      screen->pushEvent(platform::keyDownEvent(k, mods));
      // A key press types its character too, as the window reports it.
      if (mods & platform::kModCtrl) continue;
      if (k == KeyId::Space) screen->pushEvent(platform::textEvent(" "));
      if (platform::isLetterKey(k))
        screen->pushEvent(platform::textEvent(std::string(1, static_cast<char>('a' + platform::letterIndex(k)))));
    }
    for (KeyId k : released) screen->pushEvent(platform::keyUpEvent(k, mods));
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

constexpr KeyId F = KeyId::F, D = KeyId::D, S = KeyId::S, J = KeyId::J, K = KeyId::K, L = KeyId::L;
constexpr KeyId Space = KeyId::Space;

TEST_F(BrailleKeyboard, ModeOneTypesTheChordWhenTheLastKeyIsReleased) {
  open(1);
  chord({F, D}, {F, D});
  chord({F, D}, {D, F});
  chord({D});
  chord({F, S, J, K});     // dots 1-3-4-5: n
  chord({Space, F, D});    // the space bar with dots 1-2: Ctrl+B
  chord({Space});          // a blank
  chord({KeyId::A});       // a letter that is no chord key: a blank
  chord({J, K, L, S});     // dots 3-4-5-6: # in mode 1
  chord({S});              // dot 3: an apostrophe
  EXPECT_EQ(typed(), std::string("bb,n\x02  #'"));
}

TEST_F(BrailleKeyboard, ModeTwoHasNumberAndCapitalSigns) {
  struct Case {
    const char* name;
    std::vector<std::vector<KeyId>> chords;
    std::string typed;
  };
  const Case cases[] = {
      {"number sign, then a and b", {{S, J, K, L}, {F}, {F, D}}, "12"},
      {"number sign ends with dots 5", {{S, J, K, L}, {F}, {K}, {F}}, "1~a"},
      {"capital sign", {{J, L}, {F, D}, {F}}, "Ba"},
      {"two capital signs lock capitals", {{J, L}, {J, L}, {F, D}, {F}}, "BA"},
      {"the space bar ends every sign", {{S, J, K, L}, {Space}, {F}}, " a"},
      {"dot 3 is a full stop, dots 1-5-6 an at sign", {{S}, {F, K, L}}, ".@"},
  };
  for (const Case& c : cases) {
    open(2);
    for (const auto& keys : c.chords) chord(keys);
    EXPECT_EQ(typed(), c.typed) << c.name;
  }
}

TEST_F(BrailleKeyboard, OtherKeysAndCtrlClearTheSignsAndTypeAsUsual) {
  open(2);
  chord({S, J, K, L});
  screen->pressKey(KeyId::Down);  // released: the number state ends
  chord({F});
  chord({F}, {}, platform::kModCtrl);  // Ctrl+F is Ctrl+F
  // Text that came without a key (pasted) is typed as it is.
  screen->pushEvent(platform::textEvent("ok"));
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
  resetConsole();
  auto frontend = std::make_unique<PressesOnly>();
  platform::HeadlessFrontend& presses = *frontend;
  screen = frontend.get();
  setConsoleFrontend(std::move(frontend));
  setConsoleExitHandler([] { throw test::ConsoleClosed{}; });
  installBrailleKeyboard();
  writeText("Pergunta? ");
  presses.pressKey(KeyId::F11, platform::kModCtrl | platform::kModAlt);
  // The program waits for a key: the refusal is told, and no key comes (the
  // switch is no key of its own), so the run ends.
  EXPECT_THROW(readKey(), test::ConsoleClosed);
  EXPECT_EQ(brailleKeyboardMode(), 0);
  EXPECT_TRUE(tones.empty());
  const std::string message(kChordTypingNeedsWindow);
  EXPECT_NE(spoken.find("braille"), std::string::npos) << spoken;
  EXPECT_NE(spoken.find("janela"), std::string::npos) << spoken;
  // Written on a line of its own, below the question.
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&consoleGrid().chars[80]), 40), message.substr(0, 40));
}

TEST_F(BrailleKeyboard, MouseButtonsAndWheelAreKeys) {
  open();
  auto button = [](platform::MouseButton b) {
    FrontendEvent e;
    e.type = EventType::MouseButton;
    e.button = b;
    return e;
  };
  auto wheel = [](int steps) {
    FrontendEvent e;
    e.type = EventType::MouseWheel;
    e.wheel = steps;
    return e;
  };
  screen->pushEvent(button(platform::MouseButton::Left));
  screen->pushEvent(button(platform::MouseButton::Right));
  screen->pushEvent(button(platform::MouseButton::Middle));
  screen->pushEvent(wheel(1));
  screen->pushEvent(wheel(-1));
  screen->pushEvent(wheel(0));
  EXPECT_EQ(typed(), std::string("\r\x1B\0\x43\0\x48\0\x50", 8));
}

TEST_F(BrailleKeyboard, AClickThatBringsTheWindowToTheFrontIsNotEnter) {
  open();
  FrontendEvent focus;
  focus.type = EventType::FocusGained;
  focus.buttonsHeld = true;
  FrontendEvent click;
  click.type = EventType::MouseButton;
  click.button = platform::MouseButton::Left;
  FrontendEvent blur;
  blur.type = EventType::FocusLost;
  screen->pushEvent(focus);
  screen->pushEvent(click);  // only clears the rule
  screen->pushEvent(click);
  screen->pushEvent(focus);
  screen->pushEvent(blur);   // losing the focus clears it too
  screen->pushEvent(click);
  EXPECT_EQ(typed(), "\r\r");
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
