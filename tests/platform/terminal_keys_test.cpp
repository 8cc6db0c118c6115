// The terminal's key bytes turned into events.
#include "platform/terminal_keys.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace platform {
namespace {

struct Key {
  KeyId key;
  uint8_t mods;
  bool operator==(const Key&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Key& k) {
  return os << "key " << static_cast<int>(k.key) << " mods " << static_cast<int>(k.mods);
}

// Every event as a Key; text events as Key{Unknown, 0} with the text kept apart.
std::vector<Key> keys(TerminalKeyParser& p, std::string* text = nullptr) {
  std::vector<Key> out;
  FrontendEvent e;
  while (p.next(e)) {
    if (e.type == EventType::Text) {
      if (text) *text += e.text;
      out.push_back({KeyId::Unknown, 0});
    } else {
      EXPECT_EQ(e.type, EventType::KeyDown);
      out.push_back({e.key, e.mods});
    }
  }
  return out;
}

std::vector<Key> parse(std::string_view bytes) {
  TerminalKeyParser p;
  p.feed(bytes);
  std::vector<Key> out = keys(p);
  EXPECT_FALSE(p.hasPending()) << "left over after " << bytes;
  return out;
}

TEST(TerminalKeys, SequencesOfTmuxAndXterm) {
  struct Case {
    const char* bytes;
    Key key;
  };
  const Case cases[] = {
      {"\x1BOP", {KeyId::F1, 0}},           {"\x1BOS", {KeyId::F4, 0}},
      {"\x1B[15~", {KeyId::F5, 0}},         {"\x1B[21~", {KeyId::F10, 0}},
      {"\x1B[23~", {KeyId::F11, 0}},        {"\x1B[24~", {KeyId::F12, 0}},
      {"\x1B[1~", {KeyId::Home, 0}},        {"\x1B[4~", {KeyId::End, 0}},
      {"\x1B[H", {KeyId::Home, 0}},         {"\x1B[F", {KeyId::End, 0}},
      {"\x1B[5~", {KeyId::PageUp, 0}},      {"\x1B[6~", {KeyId::PageDown, 0}},
      {"\x1B[2~", {KeyId::Insert, 0}},      {"\x1B[3~", {KeyId::Delete, 0}},
      {"\x1B[A", {KeyId::Up, 0}},           {"\x1BOB", {KeyId::Down, 0}},
      {"\x1B[1;5A", {KeyId::Up, kModCtrl}}, {"\x1B[1;5D", {KeyId::Left, kModCtrl}},
      {"\x1B[1;3C", {KeyId::Right, kModAlt}},
      {"\x1B[2;2~", {KeyId::Insert, kModShift}},
      {"\x1B[2;5~", {KeyId::Insert, kModCtrl}},
      {"\x1B[1;5P", {KeyId::F1, kModCtrl}}, {"\x1B[15;5~", {KeyId::F5, kModCtrl}},
      {"\x1B[24;7~", {KeyId::F12, kModCtrl | kModAlt}},
      {"\x1B[Z", {KeyId::Tab, kModShift}},
      {"\x1B[[A", {KeyId::F1, 0}},          {"\x1B[[E", {KeyId::F5, 0}},
      {"\x1B" "a", {KeyId::A, kModAlt}},    {"\x1B" "X", {KeyId::X, kModAlt | kModShift}},
      {"\x1B" "7", {KeyId::Digit7, kModAlt}},
      {"\x1B\x1B[A", {KeyId::Up, kModAlt}},
      {"\x1B\x7F", {KeyId::Backspace, kModAlt}},
      {"\r", {KeyId::Enter, 0}},            {"\x7F", {KeyId::Backspace, 0}},
      {"\x08", {KeyId::Backspace, kModCtrl}}, {"\t", {KeyId::Tab, 0}},
      {"\x01", {KeyId::A, kModCtrl}},       {"\x0A", {KeyId::J, kModCtrl}},
      {"\x03", {KeyId::Pause, kModCtrl}},   {"\x1A", {KeyId::Z, kModCtrl}},
  };
  for (const Case& c : cases) EXPECT_EQ(parse(c.bytes), std::vector<Key>{c.key}) << c.bytes + 1;
}

TEST(TerminalKeys, SeveralKeysInOneRead) {
  std::string text;
  TerminalKeyParser p;
  p.feed("ab\x1B[A\x1BOP\rç\x1B[1;5B");
  EXPECT_EQ(keys(p, &text), (std::vector<Key>{{KeyId::Unknown, 0},
                                              {KeyId::Unknown, 0},
                                              {KeyId::Up, 0},
                                              {KeyId::F1, 0},
                                              {KeyId::Enter, 0},
                                              {KeyId::Unknown, 0},
                                              {KeyId::Down, kModCtrl}}));
  EXPECT_EQ(text, "abç");
  EXPECT_FALSE(p.hasPending());
}

TEST(TerminalKeys, ALoneEscapeWaitsForTheTimeout) {
  TerminalKeyParser p;
  p.feed("\x1B");
  EXPECT_TRUE(keys(p).empty());
  EXPECT_TRUE(p.hasPending());
  p.timeout();
  EXPECT_EQ(keys(p), (std::vector<Key>{{KeyId::Escape, 0}}));
  EXPECT_FALSE(p.hasPending());
  // Two escapes pressed quickly are two Escape keys.
  p.feed("\x1B\x1B");
  EXPECT_TRUE(keys(p).empty());
  p.timeout();
  EXPECT_EQ(keys(p), (std::vector<Key>{{KeyId::Escape, 0}, {KeyId::Escape, 0}}));
}

TEST(TerminalKeys, SequencesAndCharactersSplitOverReads) {
  TerminalKeyParser p;
  p.feed("\x1B[");
  p.feed("1;5");
  EXPECT_TRUE(keys(p).empty());
  p.feed("A");
  EXPECT_EQ(keys(p), (std::vector<Key>{{KeyId::Up, kModCtrl}}));
  std::string text;
  p.feed("\xC3");
  EXPECT_TRUE(keys(p, &text).empty());
  p.feed("\xA7");
  keys(p, &text);
  EXPECT_EQ(text, "ç");
}

TEST(TerminalKeys, BytesThatAreNotUtf8AreTakenAsWindows1252) {
  TerminalKeyParser p;
  std::string text;
  // A Latin-1 terminal sends "ç" as one byte; the next byte shows it is not UTF-8.
  p.feed("\xE7" "a");
  keys(p, &text);
  EXPECT_EQ(text, "ça");
  text.clear();
  p.feed("\xE7");
  keys(p, &text);
  EXPECT_TRUE(p.hasPending());
  p.timeout();
  keys(p, &text);
  EXPECT_EQ(text, "ç");
}

TEST(TerminalKeys, UnknownAndBrokenSequencesDoNotTypeAnything) {
  std::string text;
  TerminalKeyParser p;
  p.feed("\x1B[99~\x1B[?1;2c\x1B[M");
  EXPECT_TRUE(keys(p, &text).empty());
  EXPECT_EQ(text, "");
  // A sequence cut by the wait is dropped, not typed as "[1;".
  p.feed("\x1B[1;");
  p.timeout();
  EXPECT_TRUE(keys(p, &text).empty());
  EXPECT_EQ(text, "");
}

TEST(TerminalKeys, BracketedPastesAreTextNeverKeys) {
  struct Case {
    const char* what;
    std::vector<std::string> reads;  // bytes of each read
    std::string paste;               // the Paste event's text
    std::vector<Key> after;          // keys after it
  };
  const Case cases[] = {
      {"whole", {"\x1B[200~a\rb\x1B[201~x"}, "a\rb", {{KeyId::Unknown, 0}}},
      {"split inside the end marker", {"\x1B[200~abc\x1B[2", "01~\r"}, "abc", {{KeyId::Enter, 0}}},
      {"split after the start", {"\x1B[200~", "\x03\x1B[A", "\x1B[201~"}, "\x03\x1B[A", {}},
      {"not UTF-8: taken as Windows-1252", {"\x1B[200~S\xE3o\x1B[201~"}, "S\xC3\xA3o", {}},
      {"Ctrl+\\ outside it", {"\x1B[200~x\x1B[201~\x1C"}, "x", {{KeyId::Backslash, kModCtrl}}},
  };
  for (const Case& c : cases) {
    TerminalKeyParser p;
    std::vector<FrontendEvent> events;
    for (const std::string& r : c.reads) {
      p.feed(r);
      FrontendEvent e;
      while (p.next(e)) events.push_back(e);
    }
    ASSERT_FALSE(events.empty()) << c.what;
    EXPECT_EQ(events[0].type, EventType::Paste) << c.what;
    EXPECT_EQ(events[0].text, c.paste) << c.what;
    std::vector<Key> rest;
    for (size_t i = 1; i < events.size(); ++i)
      rest.push_back(events[i].type == EventType::Text ? Key{KeyId::Unknown, 0}
                                                       : Key{events[i].key, events[i].mods});
    EXPECT_EQ(rest, c.after) << c.what;
  }

  // An end marker that never comes: after about a second without bytes the
  // paste is taken as it stands.
  TerminalKeyParser p;
  p.feed("\x1B[200~sem fim");
  int waits = 0;
  FrontendEvent e;
  while (p.hasPending() && waits < 100) {
    p.timeout();
    ++waits;
  }
  EXPECT_EQ(waits, TerminalKeyParser::kPasteIdleWaits);
  ASSERT_TRUE(p.next(e));
  EXPECT_EQ(e.type, EventType::Paste);
  EXPECT_EQ(e.text, "sem fim");
}

TEST(TerminalKeys, RandomBytesAlwaysMakeProgress) {
  std::mt19937 random(1234);
  for (int round = 0; round < 500; ++round) {
    TerminalKeyParser p;
    std::string bytes;
    const int n = 1 + static_cast<int>(random() % 40);
    for (int i = 0; i < n; ++i) {
      // Mostly the bytes sequences are made of, so that they nest oddly.
      const char pool[] = "\x1B[O;0123456789~ABCDPQRSZaz\x7F\r\xC3\xA7\xE2\x82";
      bytes += (random() % 4) ? pool[random() % (sizeof pool - 1)] : static_cast<char>(random() % 256);
    }
    // Fed in random pieces, then timed out: nothing may stay behind.
    size_t at = 0;
    while (at < bytes.size()) {
      const size_t piece = 1 + random() % 5;
      p.feed(std::string_view(bytes).substr(at, piece));
      at += piece;
      keys(p);
    }
    for (int i = 0; i < 4 && p.hasPending(); ++i) {
      p.timeout();
      keys(p);
    }
    EXPECT_FALSE(p.hasPending()) << "round " << round;
  }
}

// Mouse and focus reports as events: type, button, wheel.
struct Report {
  EventType type;
  MouseButton button = MouseButton::None;
  int wheel = 0;
  bool operator==(const Report&) const = default;
};

std::vector<Report> reports(std::string_view bytes, bool split = false) {
  TerminalKeyParser p;
  if (split) {
    for (char c : bytes) p.feed(std::string_view(&c, 1));
  } else {
    p.feed(bytes);
  }
  p.timeout();
  std::vector<Report> out;
  FrontendEvent e;
  while (p.next(e)) out.push_back({e.type, e.button, e.wheel});
  return out;
}

TEST(TerminalKeys, MouseAndFocusReports) {
  const Report left{EventType::MouseButton, MouseButton::Left};
  const Report middle{EventType::MouseButton, MouseButton::Middle};
  const Report right{EventType::MouseButton, MouseButton::Right};
  const Report up{EventType::MouseWheel, MouseButton::None, 1};
  const Report down{EventType::MouseWheel, MouseButton::None, -1};
  struct Case {
    const char* bytes;
    std::vector<Report> events;
  };
  const Case cases[] = {
      {"\x1B[<0;10;5M", {left}},
      {"\x1B[<1;1;1M", {middle}},
      {"\x1B[<2;80;25M", {right}},
      {"\x1B[<64;3;3M", {up}},
      {"\x1B[<65;3;3M", {down}},
      {"\x1B[<66;3;3M", {}},                    // sideways wheel
      {"\x1B[<0;10;5m", {}},                    // a release
      {"\x1B[<32;10;5M", {}},                   // motion with a button held
      {"\x1B[<16;2;2M", {left}},                // with Ctrl
      {"\x1B[<0;9999999;9999999M", {left}},     // a huge window
      {"\x1B[<0;1M", {}},                       // a report cut short
      {"\x1B[<0;1", {}},                        // ... and never finished
      {"\x1B[<", {}},
      {"\x1B[M !!", {left}},                    // the X10 form
      {"\x1B[Ma!!", {down}},
      {"\x1B[M#!!", {}},                        // X10 release
      {"\x1B[M", {}},                           // X10, cut short: never typed
      {"\x1B[M ", {}},
      {"\x1B[I", {{EventType::FocusGained}}},
      {"\x1B[O", {{EventType::FocusLost}}},
      {"\x1B[I\x1B[<0;1;1M\x1B[<0;1;1m", {{EventType::FocusGained}, left}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(reports(c.bytes), c.events) << c.bytes + 1;
    EXPECT_EQ(reports(c.bytes, true), c.events) << "byte by byte: " << c.bytes + 1;
  }
}

}  // namespace
}  // namespace platform
