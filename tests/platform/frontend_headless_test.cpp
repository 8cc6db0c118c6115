// The headless front-end: key scripts, pacing holds, the screen dump.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <string>
#include <vector>

#include "platform/frontend.h"

namespace platform {
namespace {

std::vector<FrontendEvent> all(HeadlessFrontend& f) {
  std::vector<FrontendEvent> out;
  FrontendEvent e;
  while (f.nextEvent(e, 0)) out.push_back(e);
  return out;
}

TEST(KeySpec, NamesAndModifiers) {
  KeyId key;
  uint8_t mods;
  ASSERT_TRUE(parseKeySpec("ctrl+Up", key, mods));
  EXPECT_EQ(key, KeyId::Up);
  EXPECT_EQ(mods, kModCtrl);
  ASSERT_TRUE(parseKeySpec("CTRL+ALT+f11", key, mods));
  EXPECT_EQ(key, KeyId::F11);
  EXPECT_EQ(mods, kModCtrl | kModAlt);
  ASSERT_TRUE(parseKeySpec("shift+Ins", key, mods));
  EXPECT_EQ(key, KeyId::Insert);
  EXPECT_EQ(mods, kModShift);
  ASSERT_TRUE(parseKeySpec("esc", key, mods));
  EXPECT_EQ(key, KeyId::Escape);
  ASSERT_TRUE(parseKeySpec("x", key, mods));
  EXPECT_EQ(key, KeyId::X);
  ASSERT_TRUE(parseKeySpec("7", key, mods));
  EXPECT_EQ(key, KeyId::Digit7);
  for (const char* bad : {"", "f13", "f0", "meta+x", "ctrl+", "Upp", "f1x", "f99999999999"})
    EXPECT_FALSE(parseKeySpec(bad, key, mods)) << bad;
}

TEST(HeadlessScript, LinesBecomeEvents) {
  HeadlessFrontend f;
  CellGrid grid;
  ASSERT_TRUE(f.open(grid, {}));
  all(f);  // the focus event
  ASSERT_TRUE(f.feedScript("# comment\n\ntext é a\nkey shift+a\nkey ctrl+x\nclose\n"));
  const std::vector<FrontendEvent> events = all(f);
  // "é", " ", "a" one by one; A down, "A", A up; X down, X up; close.
  ASSERT_EQ(events.size(), 9u);
  EXPECT_EQ(events[0].text, "é");
  EXPECT_EQ(events[1].text, " ");
  EXPECT_EQ(events[3].type, EventType::KeyDown);
  EXPECT_EQ(events[3].mods, kModShift);
  EXPECT_EQ(events[4].text, "A");
  EXPECT_EQ(events[5].type, EventType::KeyUp);
  EXPECT_EQ(events[6].key, KeyId::X);
  EXPECT_EQ(events[6].mods, kModCtrl);
  EXPECT_EQ(events[7].type, EventType::KeyUp);
  EXPECT_EQ(events[8].type, EventType::Close);
  EXPECT_TRUE(f.inputExhausted());
}

TEST(HeadlessScript, BadLineIsRefusedAndNamed) {
  HeadlessFrontend f;
  std::string error;
  EXPECT_FALSE(f.feedScript("key F1\nkey hyper+q\nkey F2\n", &error));
  EXPECT_NE(error.find("hyper+q"), std::string::npos);
  EXPECT_FALSE(f.feedScript("sleep soon", &error));
  EXPECT_FALSE(f.feedScript("dance", &error));
}

TEST(HeadlessScript, SleepAndWaitHoldTheRestBack) {
  HeadlessFrontend f;
  CellGrid grid;
  grid.chars.fill(' ');
  ASSERT_TRUE(f.open(grid, {}));
  all(f);
  ASSERT_TRUE(f.feedScript("wait Pronto\nkey a\n"));
  EXPECT_TRUE(all(f).empty());
  EXPECT_FALSE(f.inputExhausted());
  // The text appears on the screen, across the end of a row.
  const std::string text = "Pronto";
  for (size_t i = 0; i < text.size(); ++i) grid.chars[77 + i] = static_cast<uint8_t>(text[i]);
  FrontendEvent e;
  ASSERT_TRUE(f.nextEvent(e, 1000));
  EXPECT_EQ(e.key, KeyId::A);

  all(f);
  ASSERT_TRUE(f.feedScript("sleep 60000\nkey b\n"));
  EXPECT_FALSE(f.nextEvent(e, 20));
  EXPECT_FALSE(f.inputExhausted());
}

TEST(HeadlessScript, ReadFromADescriptorUntilItEnds) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  HeadlessFrontend f(fds[0]);
  CellGrid grid;
  ASSERT_TRUE(f.open(grid, {}));
  all(f);
  const std::string script = "key F1\nbogus line\ntext ok";  // last line without a line end
  ASSERT_EQ(write(fds[1], script.data(), script.size()), static_cast<ssize_t>(script.size()));
  close(fds[1]);
  std::vector<FrontendEvent> events;
  FrontendEvent e;
  // The program waits for a key each time round, as a whole program would.
  for (int round = 0; round < 100 && !f.inputExhausted() && events.size() < 10; ++round) {
    f.keyWait(true, 0, 0);
    if (f.nextEvent(e, 100)) events.push_back(e);
  }
  ASSERT_EQ(events.size(), 4u);  // F1 down and up, "o", "k"; the bad line is skipped
  EXPECT_EQ(events[0].key, KeyId::F1);
  EXPECT_EQ(events[2].text, "o");
  EXPECT_EQ(events[3].text, "k");
  close(fds[0]);
}

TEST(HeadlessScript, WakeEndsAWaitFromAnotherThread) {
  HeadlessFrontend f;
  CellGrid grid;
  ASSERT_TRUE(f.open(grid, {}));
  all(f);
  std::thread other([&] { f.wake(); });
  other.join();
  FrontendEvent e;
  ASSERT_TRUE(f.nextEvent(e, 0));
  EXPECT_EQ(e.type, EventType::Wake);
}

TEST(HeadlessScreen, DumpIsWrittenWhenAKeyIsAwaited) {
  const std::filesystem::path dump =
      std::filesystem::temp_directory_path() / ("ondaria-dump-" + std::to_string(getpid()) + ".txt");
  setenv("ONDARIA_SCREEN_DUMP", dump.c_str(), 1);
  HeadlessFrontend f;
  CellGrid grid;
  grid.chars.fill(' ');
  const std::string hello = "Ol\xE1 mundo";
  std::copy(hello.begin(), hello.end(), grid.chars.begin() + 80);
  ASSERT_TRUE(f.open(grid, {}));
  unsetenv("ONDARIA_SCREEN_DUMP");
  EXPECT_FALSE(std::filesystem::exists(dump));
  f.keyWait(true, 0, 0);
  std::ifstream in(dump, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  const std::string s = text.str();
  std::vector<std::string> lines;
  std::istringstream split(s);
  for (std::string line; std::getline(split, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 25u);
  EXPECT_EQ(lines[0], std::string(80, ' '));
  EXPECT_EQ(lines[1].substr(0, 10), "Olá mundo");
  std::filesystem::remove(dump);
}

}  // namespace
}  // namespace platform
