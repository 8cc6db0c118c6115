// Entry point of every test program: the environment of a test run is fixed
// here, before anything reads it, so that no test touches the user's own
// settings, sound card or display whatever the shell around it has set.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  // The tests' own servers write to clients that may hang up first (a program
  // that gave up, a cut download): that is a failed write, never the end of
  // the test program. TLS writes cannot ask for that per call.
  std::signal(SIGPIPE, SIG_IGN);
  const char* build = ONDARIA_TEST_BUILD_DIR;
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  setenv("ONDARIA_FRONTEND", "headless", 1);
  setenv("XDG_CONFIG_HOME", (std::string(build) + "/test-home/config").c_str(), 1);
  setenv("LUMARE_SYSTEM_DIR", (std::string(build) + "/test-home/system").c_str(), 1);
  setenv("ONDARIA_BUILD_DIR", build, 1);
  setenv("ONDARIA_SOURCE_DIR", ONDARIA_TEST_SOURCE_DIR, 1);
  unsetenv("ONDARIA_SPEECH_LOG");
  unsetenv("ONDARIA_SCREEN_DUMP");
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
