// The console window: creation from the settings, the cell grid and writing
// at the cursor, colours, title, clipboard, clock, and the end of the program.
// Keys and waits are in console_keys.cpp, the tone in console_tone.cpp.
#include "console/core/console.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "console/core/console_state.h"
#include "console/core/settings.h"
#include "platform/codepage.h"
#include "platform/speech_log.h"

namespace ondaria {

namespace detail {

ConsoleState& state() {
  static ConsoleState s;
  return s;
}

BrailleMessages& brailleMessages() {
  static BrailleMessages m;
  return m;
}

namespace {

std::mutex g_wakeLock;
platform::Frontend* g_wakeTarget = nullptr;

}  // namespace

void setWakeTarget(platform::Frontend* frontend) {
  std::lock_guard<std::mutex> guard(g_wakeLock);
  g_wakeTarget = frontend;
}

void wakeCurrentFrontend() {
  std::lock_guard<std::mutex> guard(g_wakeLock);
  if (g_wakeTarget) g_wakeTarget->wake();
}

}  // namespace detail

using detail::ConsoleState;
using detail::state;

namespace {

constexpr int kCols = kConsoleColumns;
constexpr int kRows = kConsoleRows;
constexpr uint8_t kBlank = 32;

// Console settings are read into buffers of 80 characters: 79 and a terminator.
constexpr size_t kSettingLength = 79;
// Window titles: the program path is cut to 79 characters; a title set by the
// program to 140 characters and "...".
constexpr size_t kInitialTitleLength = 79;
constexpr size_t kTitleLength = 140;

std::string consoleSetting(const std::string& file, const char* section, const char* key,
                           const char* defaultValue) {
  std::string value = readProfileString(section, key, defaultValue, file);
  if (value.size() > kSettingLength) value.resize(kSettingLength);
  return value;
}

bool startsWithS(const std::string& value) {
  return !value.empty() && (value[0] == 'S' || value[0] == 's');
}

// A whole number: optional blanks around decimal digits. Large values stay
// large (capped), so that they select black rather than wrapping round.
bool parseWholeNumber(std::string_view text, int& value) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (text.empty()) return false;
  long v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
    if (v > 1000) v = 1000;
  }
  value = static_cast<int>(v);
  return true;
}

// "TABCORES": up to 16 whole numbers separated by commas; the first entry that
// is not a whole number ends the list; indexes without an entry keep their own
// colour; a value above 15 draws black.
void parseColourMap(const std::string& text, std::array<uint8_t, 16>& map) {
  for (int i = 0; i < 16; ++i) map[i] = static_cast<uint8_t>(i);
  size_t start = 0;
  for (int i = 0; i < 16 && start <= text.size(); ++i) {
    size_t comma = text.find(',', start);
    if (comma == std::string::npos) comma = text.size();
    int value;
    if (!parseWholeNumber(std::string_view(text).substr(start, comma - start), value)) break;
    map[i] = static_cast<uint8_t>(value > 255 ? 255 : value);
    start = comma + 1;
  }
}

// "MODO": a digit gives its low two bits ("0" 0, "1" 1, "2" 2, "3" acts as 1);
// "S" (sim) plain chords. Anything else, "N" (não) above all, leaves chord
// typing off: taking the low bits of a letter would turn it on for "N".
int brailleModeSetting(const std::string& value) {
  if (value.empty()) return 0;
  const uint8_t first = static_cast<uint8_t>(value[0]);
  if (first >= '0' && first <= '9') return first & 3;
  if (first == 'S' || first == 's') return 1;
  return 0;
}

int colourSetting(const std::string& text, int fallback) {
  int value;
  if (parseWholeNumber(text, value) && value <= 15) return value;
  return fallback;
}

std::string programPath() {
  char buffer[4096];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return "Ondaria";
  return std::string(buffer, static_cast<size_t>(n));
}

platform::FrontendOptions readConsoleSettings(ConsoleState& s) {
  const std::string file = settingsDirectory() + "/Lumare.ini";
  parseColourMap(consoleSetting(file, "VIDEO", "TABCORES", "0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15"),
                 s.grid.colourMap);
  s.coloursAllowed = !startsWithS(consoleSetting(file, "VIDEO", "CORESFIXAS", "N"));
  s.scrollByCopy = startsWithS(consoleSetting(file, "VIDEO", "LENTO", "N"));
  const int background = colourSetting(consoleSetting(file, "VIDEO", "CORFUNDO", "0"), 0);
  const int foreground = colourSetting(consoleSetting(file, "VIDEO", "CORLETRA", "15"), 15);
  s.textAttr = static_cast<uint8_t>(background * 16 + foreground);
  s.brailleKeyboardMode = brailleModeSetting(consoleSetting(file, "BRAILLE", "MODO", "0"));

  platform::FrontendOptions options;
  options.fontFace = consoleSetting(file, "VIDEO", "FONTE", "Lucida Console");
  int number;
  if (parseWholeNumber(consoleSetting(file, "VIDEO", "LARGURALETRA", ""), number)) options.fontWidth = number;
  if (parseWholeNumber(consoleSetting(file, "VIDEO", "ALTURALETRA", ""), number)) options.fontHeight = number;
  options.fontWeight = 700;
  if (parseWholeNumber(consoleSetting(file, "VIDEO", "PESOLETRA", "700"), number)) options.fontWeight = number;
  s.startMaximized = !startsWithS(consoleSetting(file, "VIDEO", "CANTOTELA", "SIM"));
  options.startMaximized = s.startMaximized;
  return options;
}

// When the program ends by a path other than closeConsole while the window
// exists, the window says so and gives the terminal back.
void endOfProgram() {
  ConsoleState& s = state();
  if (!s.created || !s.frontend) return;
  s.title = "Programa terminado";
  s.frontend->setTitle(s.title);
  s.closeEnabled = true;
  s.breakEndsProgram = false;
  s.frontend->flush();
  detail::setWakeTarget(nullptr);
  s.frontend->close();
}

void outputChanged() {
  ConsoleState& s = state();
  if (s.frontend) s.frontend->flush();
  if (s.outputChangedHook) s.outputChangedHook();
}

void setCell(ConsoleState& s, int col, int row, uint8_t c) {
  const int i = row * kCols + col;
  s.grid.chars[i] = c;
  s.grid.attrs[i] = s.textAttr;
}

// The cursor goes down a row; on the last row the grid scrolls up instead.
void newLine(ConsoleState& s) {
  if (s.cursorY < kRows - 1) {
    ++s.cursorY;
    return;
  }
  auto& chars = s.grid.chars;
  auto& attrs = s.grid.attrs;
  std::memmove(chars.data(), chars.data() + kCols, static_cast<size_t>(kCols) * (kRows - 1));
  std::memmove(attrs.data(), attrs.data() + kCols, static_cast<size_t>(kCols) * (kRows - 1));
  for (int col = 0; col < kCols; ++col) setCell(s, col, kRows - 1, kBlank);
  if (s.frontend) s.frontend->scrolled(s.scrollByCopy);
}

}  // namespace

namespace detail {

void showRow(int row) {
  ConsoleState& s = state();
  if (!s.brailleOutput || !s.rowShownHook) return;
  s.rowShownHook(row + 1, std::string_view(reinterpret_cast<const char*>(s.grid.chars.data()) + row * kCols,
                                           kCols));
}

void endProgramByClose() { closeConsole(); }

}  // namespace detail

void ensureConsole() {
  ConsoleState& s = state();
  if (s.created) return;
  platform::FrontendOptions options = readConsoleSettings(s);
  s.grid.chars.fill(kBlank);
  s.grid.attrs.fill(s.textAttr);
  s.cursorX = s.cursorY = 0;
  s.keyCount = 0;
  if (s.title.empty()) {
    s.title = programPath();
    if (s.title.size() > kInitialTitleLength) s.title.resize(kInitialTitleLength);
  }
  options.title = s.title;
  if (s.injectedFrontend) {
    s.frontend = std::move(s.injectedFrontend);
    if (!s.frontend->open(s.grid, options)) s.frontend = platform::openFrontend(s.grid, options);
  } else {
    s.frontend = platform::openFrontend(s.grid, options);
  }
  s.created = true;
  detail::setWakeTarget(s.frontend.get());
  static bool exitHandlerInstalled = false;
  if (!exitHandlerInstalled) {
    exitHandlerInstalled = true;
    std::atexit(endOfProgram);
  }
  s.frontend->repaintAll();
  s.frontend->flush();
  // The configured keyboard mode is applied once (its tones sound now).
  const int mode = s.brailleKeyboardMode;
  s.brailleKeyboardMode = 0;
  setBrailleKeyboardMode(mode);
  if (s.createdHook) s.createdHook();
}

void writeText(const char* bytes, size_t count) {
  ensureConsole();
  ConsoleState& s = state();
  // Columns changed on the cursor's row: [spanBegin, spanEnd).
  int spanBegin = kCols, spanEnd = 0;
  auto showSpan = [&] {
    if (spanEnd > spanBegin) {
      if (s.frontend) s.frontend->cellsChanged(s.cursorY, spanBegin, spanEnd);
      detail::showRow(s.cursorY);
    }
    spanBegin = kCols;
    spanEnd = 0;
  };
  auto mark = [&](int col) {
    if (col < spanBegin) spanBegin = col;
    if (col + 1 > spanEnd) spanEnd = col + 1;
  };
  for (size_t i = 0; i < count; ++i) {
    const uint8_t b = static_cast<uint8_t>(bytes[i]);
    switch (b) {
      case 7:
        platform::logSpeech(platform::SpeechEvent::Beep);
        if (s.frontend) s.frontend->bell();
        break;
      case 8:
        if (s.cursorX >= 1) {
          --s.cursorX;
          setCell(s, s.cursorX, s.cursorY, kBlank);
          mark(s.cursorX);
        }
        break;
      case 10:
        showSpan();
        newLine(s);
        s.cursorX = 0;
        break;
      case 13:
        s.cursorX = 0;
        break;
      default:
        if (b < 32) break;  // other control bytes, tab included, write nothing
        if (s.cursorX >= kCols) {
          showSpan();
          s.cursorX = 0;
          newLine(s);
        }
        setCell(s, s.cursorX, s.cursorY, b);
        mark(s.cursorX);
        ++s.cursorX;
        break;
    }
  }
  showSpan();
  outputChanged();
}

void writeText(std::string_view text) { writeText(text.data(), text.size()); }

void writeLine(std::string_view text) {
  std::string line(text);
  line += "\r\n";
  writeText(line);
}

void clearScreen() {
  ensureConsole();
  ConsoleState& s = state();
  s.grid.chars.fill(kBlank);
  s.grid.attrs.fill(s.textAttr);
  s.cursorX = s.cursorY = 0;
  if (s.frontend) s.frontend->repaintAll();
  outputChanged();
}

void clearToEndOfLine() {
  ensureConsole();
  ConsoleState& s = state();
  if (s.cursorX >= kCols) return;
  for (int col = s.cursorX; col < kCols; ++col) setCell(s, col, s.cursorY, kBlank);
  if (s.frontend) s.frontend->cellsChanged(s.cursorY, s.cursorX, kCols);
  detail::showRow(s.cursorY);
  outputChanged();
}

void gotoXY(int col, int row) {
  ensureConsole();
  ConsoleState& s = state();
  s.cursorX = std::clamp(col, 1, kCols) - 1;
  s.cursorY = std::clamp(row, 1, kRows) - 1;
  detail::showRow(s.cursorY);
  if (s.outputChangedHook) s.outputChangedHook();
}

int whereX() {
  ensureConsole();
  return state().cursorX + 1;
}

int whereY() {
  ensureConsole();
  return state().cursorY + 1;
}

uint8_t charAt(int col, int row) {
  ensureConsole();
  if (col < 1 || col > kCols || row < 1 || row > kRows) return kBlank;
  return state().grid.charAt(col - 1, row - 1);
}

uint8_t attrAt(int col, int row) {
  ensureConsole();
  if (col < 1 || col > kCols || row < 1 || row > kRows) return 0;
  return state().grid.attrAt(col - 1, row - 1);
}

void setTextColor(int colour) {
  ensureConsole();
  ConsoleState& s = state();
  if (!s.coloursAllowed) return;
  s.textAttr = static_cast<uint8_t>((s.textAttr & 0xF0) | (colour & 0x0F));
}

void setTextBackground(int colour) {
  ensureConsole();
  ConsoleState& s = state();
  if (!s.coloursAllowed) return;
  s.textAttr = static_cast<uint8_t>((s.textAttr & 0x0F) | ((colour & 0x0F) << 4));
}

uint8_t textAttr() {
  ensureConsole();
  return state().textAttr;
}

void setTextAttr(uint8_t attr) {
  ensureConsole();
  ConsoleState& s = state();
  if (s.coloursAllowed) s.textAttr = attr;
}

void setWindowTitle(std::string_view title) {
  ensureConsole();
  ConsoleState& s = state();
  while (!title.empty() && title.front() == ' ') title.remove_prefix(1);
  while (!title.empty() && title.back() == ' ') title.remove_suffix(1);
  std::string t(title);
  if (t.size() > kTitleLength) {
    t.resize(kTitleLength);
    t += "...";
  }
  s.title = t;
  if (s.frontend) s.frontend->setTitle(t);
}

std::string windowTitle() { return state().title; }

void copyToClipboard(std::string_view cp1252) {
  ensureConsole();
  ConsoleState& s = state();
  // The text ends at its first zero byte, as a zero-terminated text would.
  const size_t zero = cp1252.find('\0');
  if (zero != std::string_view::npos) cp1252 = cp1252.substr(0, zero);
  if (s.frontend) s.frontend->setClipboardText(platform::cp1252ToUtf8(cp1252));
}

std::string pasteFromClipboard(size_t capacity) {
  ensureConsole();
  ConsoleState& s = state();
  if (capacity == 0 || !s.frontend) return {};
  const std::optional<std::string> utf8 = s.frontend->clipboardText();
  if (!utf8) return {};
  std::string text = platform::utf8ToCp1252(*utf8);
  const size_t zero = text.find('\0');
  if (zero != std::string::npos) text.resize(zero);
  if (text.size() > capacity - 1) text.resize(capacity - 1);
  return text;
}

void closeConsole(int exitStatus) {
  ConsoleState& s = state();
  if (s.created) {
    if (s.waitingForKey && s.frontend) s.frontend->keyWait(false, s.cursorX, s.cursorY);
    s.waitingForKey = false;
    s.keyCount = 0;  // queued keys are read and discarded
    detail::setWakeTarget(nullptr);
    if (s.frontend) s.frontend->close();
    s.frontend.reset();
    s.created = false;
    s.cursorX = s.cursorY = 0;
  }
  if (s.exitHandler) {
    const std::function<void()> handler = s.exitHandler;
    handler();
  }
  std::exit(exitStatus);
}

void getDate(int& year, int& month, int& day, int& weekday) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  year = local.tm_year + 1900;
  month = local.tm_mon + 1;
  day = local.tm_mday;
  weekday = local.tm_wday;
}

void getTime(int& hour, int& minute, int& second, int& hundredths) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  std::tm local{};
  localtime_r(&now.tv_sec, &local);
  hour = local.tm_hour;
  minute = local.tm_min;
  second = local.tm_sec;
  hundredths = static_cast<int>(now.tv_nsec / 10'000'000);
}

bool& breakEndsProgram() { return state().breakEndsProgram; }
void setBreakEndsProgram(bool on) { state().breakEndsProgram = on; }
void setCloseEnabled(bool enabled) { state().closeEnabled = enabled; }
bool closeEnabled() { return state().closeEnabled; }

void setRowShownHook(RowShownHook hook) { state().rowShownHook = std::move(hook); }
void setBrailleOutput(bool on) { state().brailleOutput = on; }
bool brailleOutput() { return state().brailleOutput; }

void setConsoleCreatedHook(std::function<void()> hook) {
  ConsoleState& s = state();
  s.createdHook = std::move(hook);
  if (s.created && s.createdHook) s.createdHook();
}

void setChordKeyHook(ChordKeyHook hook) { state().chordKeyHook = std::move(hook); }
void setBrailleModeHook(BrailleModeHook hook) { state().brailleModeHook = std::move(hook); }
void setBrailleModeRefusedHook(std::function<void()> hook) {
  state().brailleModeRefusedHook = std::move(hook);
}
void setMouseHook(MouseHook hook) { state().mouseHook = std::move(hook); }
void setOutputChangedHook(std::function<void()> hook) { state().outputChangedHook = std::move(hook); }
void setIdleHook(std::function<void()> hook, std::function<bool()> pending) {
  state().idleHook = std::move(hook);
  state().idlePending = std::move(pending);
}
void setNoticeHook(std::function<void(const std::string&)> hook) { state().noticeHook = std::move(hook); }
void setBrailleKeyHook(BrailleKeyHook hook) { state().brailleKeyHook = std::move(hook); }

int brailleKeyboardMode() { return state().brailleKeyboardMode; }

void setBrailleKeyboardMode(int mode) {
  ConsoleState& s = state();
  if (mode > 2) mode = 1;
  if (mode < 0) mode = 0;
  if (mode != 0 && s.frontend && !s.frontend->seesKeyReleases()) {
    // The mode could never type a thing here: it stays off, and the user is
    // told why at the next wait for a key.
    s.brailleModeRefused = true;
    return;
  }
  const int old = s.brailleKeyboardMode;
  s.brailleKeyboardMode = mode;
  if (s.brailleModeHook) s.brailleModeHook(old, mode);
}

void resetConsole() {
  ConsoleState& s = state();
  stopTone();
  detail::setWakeTarget(nullptr);
  if (s.frontend) s.frontend->close();
  s.frontend.reset();
  s = ConsoleState{};
  std::lock_guard<std::mutex> guard(detail::brailleMessages().lock);
  detail::brailleMessages().pending.clear();
}

void setConsoleFrontend(std::unique_ptr<platform::Frontend> frontend) {
  state().injectedFrontend = std::move(frontend);
}

platform::Frontend* consoleFrontend() { return state().frontend.get(); }

void setConsoleExitHandler(std::function<void()> handler) { state().exitHandler = std::move(handler); }

const platform::CellGrid& consoleGrid() { return state().grid; }

}  // namespace ondaria
