// The headless front-end: events come from the program's tests or from a key
// script on a descriptor; the grid is read back or dumped to a file.
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>

#include "platform/codepage.h"
#include "platform/frontend.h"

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

// Longest a "wait TEXT" line holds the script back.
constexpr auto kWaitTextLimit = std::chrono::seconds(10);

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

struct NamedKey {
  const char* name;
  KeyId key;
};

constexpr NamedKey kKeyNames[] = {
    {"up", KeyId::Up},           {"down", KeyId::Down},         {"left", KeyId::Left},
    {"right", KeyId::Right},     {"home", KeyId::Home},         {"end", KeyId::End},
    {"pgup", KeyId::PageUp},     {"pageup", KeyId::PageUp},     {"pgdn", KeyId::PageDown},
    {"pagedown", KeyId::PageDown}, {"ins", KeyId::Insert},      {"insert", KeyId::Insert},
    {"del", KeyId::Delete},      {"delete", KeyId::Delete},     {"enter", KeyId::Enter},
    {"esc", KeyId::Escape},      {"escape", KeyId::Escape},     {"backspace", KeyId::Backspace},
    {"bs", KeyId::Backspace},    {"tab", KeyId::Tab},           {"space", KeyId::Space},
    {"break", KeyId::Pause},     {"pause", KeyId::Pause},       {"backslash", KeyId::Backslash},
};

// The character a key types on its own (0 for none), as a keyboard would send
// it along with the key press.
char typedCharacter(KeyId key, uint8_t mods) {
  if (mods & (kModCtrl | kModAlt)) return 0;
  if (isLetterKey(key)) {
    const char base = (mods & kModShift) ? 'A' : 'a';
    return static_cast<char>(base + letterIndex(key));
  }
  if (isDigitKey(key) && !(mods & kModShift)) return static_cast<char>('0' + digitValue(key));
  if (key == KeyId::Space) return ' ';
  if (key == KeyId::Backslash && !(mods & kModShift)) return '\\';
  return 0;
}

// Calls f for every line of text (without its "\n" or "\r\n").
template <typename F>
void forEachLine(std::string_view text, F f) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    f(line);
    start = end + 1;
  }
}

void splitLine(std::string_view line, std::string& verb, std::string& arg) {
  const size_t blank = line.find(' ');
  verb = lower(line.substr(0, blank));
  arg = blank == std::string_view::npos ? "" : std::string(line.substr(blank + 1));
}

}  // namespace

bool parseKeySpec(std::string_view spec, KeyId& key, uint8_t& mods) {
  mods = 0;
  key = KeyId::Unknown;
  std::string s = lower(spec);
  // Modifiers first, joined with "+"; the last part is the key name (which may
  // itself be "+"-free only).
  size_t start = 0;
  for (;;) {
    const size_t plus = s.find('+', start);
    if (plus == std::string::npos) break;
    const std::string mod = s.substr(start, plus - start);
    if (mod == "ctrl" || mod == "control")
      mods |= kModCtrl;
    else if (mod == "alt")
      mods |= kModAlt;
    else if (mod == "shift")
      mods |= kModShift;
    else
      return false;
    start = plus + 1;
  }
  const std::string name = s.substr(start);
  if (name.size() == 1) {
    const char c = name[0];
    if (c >= 'a' && c <= 'z') key = keyLetter(static_cast<char>(c - 'a' + 'A'));
    if (c >= '0' && c <= '9') key = keyDigit(c - '0');
    return key != KeyId::Unknown;
  }
  if (name.size() >= 2 && name[0] == 'f') {
    int n = 0;
    for (size_t i = 1; i < name.size(); ++i) {
      if (name[i] < '0' || name[i] > '9') return false;
      n = n * 10 + (name[i] - '0');
      if (n > 12) return false;
    }
    key = keyFunction(n);
    return key != KeyId::Unknown;
  }
  for (const NamedKey& k : kKeyNames) {
    if (name == k.name) {
      key = k.key;
      return true;
    }
  }
  return false;
}

namespace {

// Syntax of one script line (not blank, not a comment).
bool validScriptLine(std::string_view line) {
  std::string verb, arg;
  splitLine(line, verb, arg);
  if (verb == "key") {
    KeyId key;
    uint8_t mods;
    return parseKeySpec(arg, key, mods);
  }
  if (verb == "down" || verb == "up") {
    KeyId key;
    uint8_t mods;
    return parseKeySpec(arg, key, mods);
  }
  if (verb == "sleep")
    return !arg.empty() && arg.size() <= 7 && arg.find_first_not_of("0123456789") == std::string::npos;
  const std::string a = lower(arg);
  if (verb == "click") return a == "left" || a == "right" || a == "middle";
  if (verb == "wheel") return a == "up" || a == "down";
  if (verb == "focus") return a.empty() || a == "held";
  return verb == "text" || verb == "wait" || verb == "close" || verb == "now" || verb == "paste" ||
         verb == "blur";
}

// The mouse event of a "click" or "wheel" line (already validated).
FrontendEvent mouseEventFor(const std::string& verb, const std::string& arg) {
  FrontendEvent e;
  const std::string a = lower(arg);
  if (verb == "wheel") {
    e.type = EventType::MouseWheel;
    e.wheel = a == "up" ? 1 : -1;
    return e;
  }
  e.type = EventType::MouseButton;
  e.button = a == "left" ? MouseButton::Left : a == "right" ? MouseButton::Right : MouseButton::Middle;
  return e;
}

}  // namespace

struct HeadlessFrontend::Impl {
  int scriptFd = -1;
  bool scriptEnded = true;
  std::string partialLine;
  std::deque<FrontendEvent> events;
  std::deque<std::string> lines;  // script lines not yet turned into events
  Clock::time_point sleepUntil{};
  std::string waitText;  // cp1252; non-empty while a "wait" line holds the script
  bool releaseNext = false;  // a "now" line: the next key or text goes at once
  // Whole-program scripts type one key or text line per wait for a key; lines
  // given in-process (feedScript) go as fast as the program takes them.
  bool typeOnWait = false;
  bool typedThisWait = false;
  int keysHeld = 0;  // "down" lines not yet released by an "up"
  Clock::time_point waitUntil{};
  WakePipe wakePipe;
  std::string dumpPath;
};

HeadlessFrontend::HeadlessFrontend(int scriptFd) : impl_(std::make_unique<Impl>()) {
  impl_->scriptFd = scriptFd;
  impl_->typeOnWait = scriptFd >= 0;
  impl_->scriptEnded = scriptFd < 0;
}

HeadlessFrontend::~HeadlessFrontend() = default;

bool HeadlessFrontend::open(const CellGrid& grid, const FrontendOptions& options) {
  grid_ = &grid;
  title_ = options.title;
  if (const char* dump = std::getenv("ONDARIA_SCREEN_DUMP"); dump && *dump) impl_->dumpPath = dump;
  FrontendEvent focus;
  focus.type = EventType::FocusGained;
  impl_->events.push_front(focus);
  return true;
}

void HeadlessFrontend::close() { waiting_ = false; }

void HeadlessFrontend::keyWait(bool waiting, int col, int row) {
  waiting_ = waiting;
  if (waiting) impl_->typedThisWait = false;
  if (!waiting || impl_->dumpPath.empty() || !grid_) return;
  // Written beside the target and renamed over it, so that a reader never
  // sees half a screen.
  const std::string temp = impl_->dumpPath + ".tmp";
  FILE* f = fopen(temp.c_str(), "wb");
  if (!f) return;
  const std::string text = gridToUtf8(*grid_, band_ ? &*band_ : nullptr);
  const bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
  if (fclose(f) == 0 && ok) rename(temp.c_str(), impl_->dumpPath.c_str());
}

void HeadlessFrontend::pushEvent(FrontendEvent event) { impl_->events.push_back(std::move(event)); }

void HeadlessFrontend::pressKey(KeyId key, uint8_t mods) {
  impl_->events.push_back(keyDownEvent(key, mods));
  if (const char c = typedCharacter(key, mods)) impl_->events.push_back(textEvent(std::string(1, c)));
  impl_->events.push_back(keyUpEvent(key, mods));
}

void HeadlessFrontend::typeText(std::string_view utf8) {
  size_t pos = 0;
  while (pos < utf8.size()) {
    const size_t start = pos;
    char32_t cp;
    if (!decodeUtf8(utf8, pos, cp)) pos = start + 1;  // a stray byte on its own
    impl_->events.push_back(textEvent(utf8.substr(start, pos - start)));
  }
}

int HeadlessFrontend::pendingEvents() const {
  return static_cast<int>(impl_->events.size() + impl_->lines.size());
}

bool HeadlessFrontend::feedScript(std::string_view text, std::string* error) {
  bool allGood = true;
  forEachLine(text, [&](std::string_view line) {
    if (!allGood || line.empty() || line[0] == '#') return;
    if (!validScriptLine(line)) {
      if (error) *error = "bad script line: " + std::string(line);
      allGood = false;
      return;
    }
    impl_->lines.emplace_back(line);
  });
  return allGood;
}

bool HeadlessFrontend::nextEvent(FrontendEvent& event, int timeoutMs) {
  Impl& s = *impl_;
  const Clock::time_point deadline =
      timeoutMs < 0 ? Clock::time_point::max() : Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (s.wakePipe.drain()) {
      event = FrontendEvent{};
      event.type = EventType::Wake;
      return true;
    }
    if (!s.events.empty()) {
      event = std::move(s.events.front());
      s.events.pop_front();
      return true;
    }
    const Clock::time_point now = Clock::now();
    // A "sleep" or "wait" line holds everything after it back.
    bool held = false;
    bool watchingScreen = false;
    if (now < s.sleepUntil) held = true;
    if (!s.waitText.empty()) {
      const std::string screen = grid_ ? std::string(grid_->chars.begin(), grid_->chars.end()) : "";
      // The text may run over the end of a row, as it does on the screen.
      if (screen.find(s.waitText) != std::string::npos || now >= s.waitUntil) {
        s.waitText.clear();
      } else {
        held = true;
        watchingScreen = true;
      }
    }
    // Keys and text are typed as a person at the keyboard would: once the
    // program waits for a key, so that what it says before is heard whole.
    // "now" lets the next one through while the program is busy (a key that
    // cuts speech).
    if (!held && !s.lines.empty() && s.typeOnWait && (!waiting_ || s.typedThisWait) &&
        !s.releaseNext) {
      std::string verb, arg;
      splitLine(s.lines.front(), verb, arg);
      // A chord ("down" lines, then "up" lines) goes as one key: its first
      // press waits like a key, the rest follow at once.
      if (verb == "key" || verb == "text" || verb == "paste" || verb == "click" || verb == "wheel" ||
          (verb == "down" && s.keysHeld == 0))
        held = true;
    }
    if (!held && !s.lines.empty()) {
      const std::string line = std::move(s.lines.front());
      s.lines.pop_front();
      std::string verb, arg;
      splitLine(line, verb, arg);
      if (verb == "key") {
        KeyId key;
        uint8_t mods;
        if (parseKeySpec(arg, key, mods)) pressKey(key, mods);
        s.releaseNext = false;
        s.typedThisWait = true;
      } else if (verb == "text") {
        typeText(arg);
        s.releaseNext = false;
        s.typedThisWait = true;
      } else if (verb == "paste") {
        FrontendEvent paste;
        paste.type = EventType::Paste;
        for (size_t i = 0; i < arg.size(); ++i) {
          if (arg[i] == '\\' && i + 1 < arg.size() && arg[i + 1] == 'n') {
            paste.text += '\n';
            ++i;
          } else {
            paste.text += arg[i];
          }
        }
        s.events.push_back(std::move(paste));
        s.releaseNext = false;
        s.typedThisWait = true;
      } else if (verb == "down" || verb == "up") {
        KeyId key;
        uint8_t mods;
        if (parseKeySpec(arg, key, mods)) {
          if (verb == "down") {
            s.events.push_back(keyDownEvent(key, mods));
            if (const char c = typedCharacter(key, mods)) s.events.push_back(textEvent(std::string(1, c)));
            ++s.keysHeld;
          } else {
            s.events.push_back(keyUpEvent(key, mods));
            if (s.keysHeld > 0) --s.keysHeld;
          }
        }
        s.releaseNext = false;
        s.typedThisWait = true;
      } else if (verb == "click" || verb == "wheel") {
        s.events.push_back(mouseEventFor(verb, arg));
        s.releaseNext = false;
        s.typedThisWait = true;
      } else if (verb == "focus" || verb == "blur") {
        FrontendEvent focus;
        focus.type = verb == "focus" ? EventType::FocusGained : EventType::FocusLost;
        focus.buttonsHeld = lower(arg) == "held";
        s.events.push_back(focus);
      } else if (verb == "now") {
        s.releaseNext = true;
      } else if (verb == "sleep") {
        s.sleepUntil = Clock::now() + std::chrono::milliseconds(std::atoi(arg.c_str()));
      } else if (verb == "wait") {
        s.waitText = utf8ToCp1252(arg);
        s.waitUntil = Clock::now() + kWaitTextLimit;
      } else if (verb == "close") {
        FrontendEvent close;
        close.type = EventType::Close;
        s.events.push_back(close);
      }
      continue;
    }
    // Read more of the script when nothing else is left.
    bool readable = false;
    if (!held && s.lines.empty() && !s.scriptEnded) readable = true;

    // Everything that can end the wait arrives on a descriptor (script
    // input, the wake pipe), so a wait needs no shorter time-out than asked.
    int waitMs = -1;
    if (timeoutMs >= 0) {
      // Rounded up: a remainder under a millisecond must not become a run of
      // zero-time polls that spins until the deadline.
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
      waitMs = left < 0 ? 0 : static_cast<int>(std::min<long long>(left, INT_MAX));
    }
    // Only a "wait" for text on the screen needs looking at often (the grid
    // changes without an event); a "sleep" ends at a known moment, and a key
    // held until the program waits for one is let through by the program's
    // own next call. Idle polling would cost a wake every few milliseconds.
    if (watchingScreen) {
      waitMs = waitMs < 0 ? 10 : std::min(waitMs, 10);
    } else if (now < s.sleepUntil) {
      const auto sleepLeft = std::chrono::ceil<std::chrono::milliseconds>(s.sleepUntil - now).count();
      const int untilAwake = static_cast<int>(std::min<long long>(std::max<long long>(sleepLeft, 1), INT_MAX));
      waitMs = waitMs < 0 ? untilAwake : std::min(waitMs, untilAwake);
    }
    pollfd fds[2] = {{s.wakePipe.readFd(), POLLIN, 0}, {readable ? s.scriptFd : -1, POLLIN, 0}};
    const int n = poll(fds, 2, waitMs);
    if (n < 0 && errno != EINTR) return false;
    if (n <= 0 && Clock::now() >= deadline) return false;
    if (n > 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
      char buffer[4096];
      const ssize_t got = ::read(s.scriptFd, buffer, sizeof buffer);
      if (got > 0) {
        s.partialLine.append(buffer, static_cast<size_t>(got));
      } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
        s.scriptEnded = true;
        s.partialLine += '\n';  // a last line without its line end still counts
      }
      const size_t lastNewline = s.partialLine.rfind('\n');
      if (lastNewline != std::string::npos) {
        const std::string complete = s.partialLine.substr(0, lastNewline + 1);
        s.partialLine.erase(0, lastNewline + 1);
        // A bad line is reported and skipped; the rest of the script runs.
        forEachLine(complete, [&](std::string_view line) {
          if (line.empty() || line[0] == '#') return;
          if (validScriptLine(line))
            s.lines.emplace_back(line);
          else
            fprintf(stderr, "ondaria: bad script line: %.*s\n", static_cast<int>(line.size()),
                    line.data());
        });
      }
    }
  }
}

void HeadlessFrontend::wake() { impl_->wakePipe.signal(); }

bool HeadlessFrontend::inputExhausted() {
  const Impl& s = *impl_;
  return s.events.empty() && s.lines.empty() && s.scriptEnded && s.waitText.empty() &&
         Clock::now() >= s.sleepUntil;
}

bool HeadlessFrontend::setClipboardText(std::string_view utf8) {
  if (!clipboardAvailable_) return false;
  clipboard_ = std::string(utf8);
  return true;
}

std::optional<std::string> HeadlessFrontend::clipboardText() {
  if (!clipboardAvailable_) return std::nullopt;
  return clipboard_;
}

std::string HeadlessFrontend::screenText() const {
  if (!grid_) return {};
  return gridToUtf8(*grid_, band_ ? &*band_ : nullptr);
}

}  // namespace platform
