// Tests that use the console: an in-process headless front-end (keys pushed by
// the test, grid read back) and an exit path that throws instead of ending the
// test program.
//
//   platform::HeadlessFrontend& screen = test::useHeadlessConsole();
//   screen.pressKey(platform::KeyId::Up);
//   EXPECT_EQ(readKey(), 0);
//   EXPECT_THROW(readKey(), test::ConsoleClosed);  // no key left: the program ends
//
// Header-only, so that it links into every test program whatever its layer.
#pragma once

#include <memory>

#include "console/core/console.h"
#include "platform/frontend.h"

namespace ondaria::test {

// Thrown where the program would end (closeConsole, a window close, a key
// script used up).
struct ConsoleClosed {};

// Resets the console, gives it a fresh headless front-end without script
// input and creates it. The front-end is owned by the console and lives until
// the next resetConsole.
inline platform::HeadlessFrontend& useHeadlessConsole() {
  resetConsole();
  auto frontend = std::make_unique<platform::HeadlessFrontend>(-1);
  platform::HeadlessFrontend& ref = *frontend;
  setConsoleFrontend(std::move(frontend));
  setConsoleExitHandler([] { throw ConsoleClosed{}; });
  ensureConsole();
  return ref;
}

}  // namespace ondaria::test
