#include "playback/playback_session.h"

#include <algorithm>
#include <climits>
#include <vector>

#include "console/core/console.h"
#include "console/ui/field_editor.h"
#include "console/ui/ui_draw.h"
#include "platform/stream_engine.h"
#include "playback/stream_player.h"
#include "speech/say_message.h"
#include "speech/speech.h"

namespace ondaria {

namespace {

constexpr uint8_t kCtrlC = 3;
constexpr uint8_t kEnter = 13;
constexpr uint8_t kCtrlR = 18;
constexpr uint8_t kEsc = 27;
constexpr uint8_t kBlank = ' ';

constexpr int kTitleRow = 3;
constexpr int kShortNameRow = 5;
constexpr int kOutputRow = 6;
// Pause between opening a programme or handling a key and looking again.
constexpr int kPollMs = 100;
// While a stream plays the session sleeps until something happens: a key, a
// new title or the end of the stream wake it (the stream engine wakes the
// console); this is only the longest sleep, should a wake be missed.
constexpr int kPlayingWaitMs = 1000;
// The global stream volume runs 0...10000; the user speaks of 1...100.
constexpr int kVolumeStep = 100;
// What + and - change, in the user's 1...100.
constexpr int kVolumeKeyStep = 10;

struct KeyBinding {
  bool extended;
  uint8_t code;
  SessionAction action;
};

// The session's keys. Letters are looked up in upper case.
constexpr KeyBinding kSessionKeys[] = {
    {false, kCtrlC, SessionAction::CopyAddress},
    {false, kCtrlR, SessionAction::Remove},
    {false, kEsc, SessionAction::End},
    {false, kBlank, SessionAction::TogglePause},
    {false, 'E', SessionAction::SayAddress},
    {false, 'N', SessionAction::SayShortName},
    {false, 'P', SessionAction::StationInfo},
    {false, 'V', SessionAction::Volume},
    {false, '+', SessionAction::VolumeUp},
    {false, '-', SessionAction::VolumeDown},
    {true, 71, SessionAction::FirstProgramme},  // Home
    {true, 73, SessionAction::Previous},        // Page Up
    {true, 79, SessionAction::LastProgramme},   // End
    {true, 81, SessionAction::Next},            // Page Down
};

// The messages that list the session's keys, in the order they are given.
constexpr std::string_view kOptionMessages[] = {"ODOPCSAO", "ODESPACO", "ODOPNOME", "ODOPVOL",
                                                "ODOPVMM",  "ODOPPARM", "ODOPENDR", "ODOPPROX",
                                                "ODOPANT",  "ODOPESC"};


// A whole number with an optional sign, blanks around it allowed; far too
// large values saturate (they are clamped anyway).
bool parseWholeNumber(std::string_view text, long long& value) {
  const std::string t = trimmedText(text);
  size_t i = 0;
  bool negative = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
  if (i >= t.size()) return false;
  long long v = 0;
  for (; i < t.size(); ++i) {
    if (t[i] < '0' || t[i] > '9') return false;
    if (v < 1000000000LL) v = v * 10 + (t[i] - '0');
  }
  value = negative ? -v : v;
  return true;
}

// One line of station information: written, and spoken unless `spoken` is off.
void infoLine(std::string_view label, const std::string& value, bool spoken) {
  const std::string line = std::string(label) + value;
  if (spoken) {
    writeLineSpoken(drawable(line));
  } else {
    writeLine(drawable(line));
  }
}

class Session {
 public:
  explicit Session(const std::string& address) : address_(address) {}
  int run();

 private:
  void openCurrent();
  void goToProgramme(long long i);
  void handleKey();
  int count() const { return static_cast<int>(list_.size()); }

  const std::string& address_;
  std::vector<std::string> list_;
  int index_ = 0;
  StreamHandle handle_ = 0;
  bool needOpen_ = true;
  bool announce_ = true;
  bool paused_ = false;
  bool running_ = true;
  int result_ = 0;
  std::string shortName_;
};

int Session::run() {
  if (!loadProgrammeList(address_, list_)) {
    // Given up with a key ("Desistiu..."), or not fetched.
    return lastFailureReason().key == "ODDESIST" ? kResultCancelled : kResultFileOpen;
  }
  setLastShownTitle(kNoTitleShown);
  clearFromLine(whereY());
  if (count() > 1) {
    sayMessage("ODNPROG", 0);
    writeNumberSpoken(count());
    writeLine();
  }
  while (running_) {
    // An opening starts at once; otherwise the look at the stream is paced.
    if (!needOpen_) delayMs(kPollMs);
    if (needOpen_) {
      if (index_ >= count()) break;
      shortName_ = showShortName(list_[index_], index_, count());
      const int r = openStream(list_[index_], handle_, announce_);
      announce_ = false;
      if (r != 0) {
        result_ = r;
        break;
      }
      paused_ = false;
      needOpen_ = false;
      setLastShownTitle(kNoTitleShown);
    }
    // A paused or stalled stream counts as active.
    while (platform::ChannelIsActive(handle_) != platform::ACTIVE_STOPPED) {
      refreshTitleLine();
      // Once per lost connection that silenced the music, while the engine
      // reopens it.
      if (takeReconnectNotice(handle_)) sayMessage("ODRECNX", 1);
      if (keyPressed()) break;
      waitForConsoleEvent(kPlayingWaitMs);
      if (keyPressed()) break;
    }
    if (platform::ChannelIsActive(handle_) == platform::ACTIVE_STOPPED) {
      // The stream ended or broke off: on to the next programme, quietly.
      goToProgramme(static_cast<long long>(index_) + 1);
      if (index_ >= count()) break;
    }
    if (keyPressed()) handleKey();
  }
  if (handle_ != 0) {
    platform::ChannelStop(handle_);
    platform::StreamFree(handle_);
    handle_ = 0;
  }
  return result_;
}

void Session::goToProgramme(long long i) {
  if (handle_ != 0) platform::StreamFree(handle_);
  handle_ = 0;
  index_ = i < 0 ? 0 : static_cast<int>(std::min<long long>(i, INT_MAX));
  needOpen_ = true;
}

void Session::handleKey() {
  uint8_t k = readKey();
  if (k == kEnter) k = '?';
  writeLine();
  gotoXY(1, kTitleRow);
  clearToEndOfLine();
  clearFromLine(kOutputRow);
  const bool extended = k == 0;
  const uint8_t code = extended ? readKey() : upperAscii(k);
  switch (sessionKeyAction(extended, code)) {
    case SessionAction::CopyAddress: copyToClipboard(address_); break;
    case SessionAction::Remove:
      result_ = kResultRemove;
      running_ = false;
      break;
    case SessionAction::End: running_ = false; break;
    case SessionAction::TogglePause:
      paused_ = !paused_;
      // Resuming goes on where it stopped (a local file is not started over).
      if (paused_) {
        platform::ChannelPause(handle_);
      } else {
        platform::ChannelPlay(handle_, false);
      }
      break;
    case SessionAction::SayAddress:
      sayMessage("ODENDSEL", 1);
      writeLineSpoken(drawable(address_));
      break;
    case SessionAction::SayShortName: speakText(shortName_); break;
    case SessionAction::StationInfo: showStationInfo(shortName_); break;
    case SessionAction::Volume: askVolume(); break;
    case SessionAction::VolumeUp: stepVolume(1); break;
    case SessionAction::VolumeDown: stepVolume(-1); break;
    case SessionAction::FirstProgramme: goToProgramme(0); break;
    case SessionAction::Previous: goToProgramme(static_cast<long long>(index_) - 1); break;
    case SessionAction::LastProgramme: goToProgramme(static_cast<long long>(count()) - 1); break;
    case SessionAction::Next: goToProgramme(static_cast<long long>(index_) + 1); break;
    case SessionAction::Invalid: sayMessage("ODOPINV", 1); break;
    case SessionAction::PauseAndHelp:
      platform::ChannelPause(handle_);
      paused_ = true;
      showPlaybackOptions();
      break;
  }
}

}  // namespace

SessionAction sessionKeyAction(bool extended, uint8_t code) {
  if (!extended) code = upperAscii(code);
  for (const KeyBinding& b : kSessionKeys)
    if (b.extended == extended && b.code == code) return b.action;
  return extended ? SessionAction::PauseAndHelp : SessionAction::Invalid;
}

int playbackSession(const std::string& address) { return Session(address).run(); }

void reportPlayResult(int result) {
  std::string_view key;
  switch (result) {
    case 0: sayMessage("ODDESLIG", 2); return;
    case kResultCancelled: sayMessage("ODDESIST", 2); return;
    case kResultFileOpen: key = "ODSTNACH"; break;
    case kResultTimeout: key = "ODTIMOUT"; break;
    case kResultFormat: key = "ODERRFMT"; break;
    default:
      sayMessage("ODERSTAT", 0);
      writeLineSpoken(std::to_string(result));
      writeLine();
      return;
  }
  const FailureReason why = result == kResultRemove ? FailureReason{} : lastFailureReason();
  if (why.key.empty()) {
    sayMessage(key, 2);
    return;
  }
  // The result's own message, then what the user can do something about.
  sayMessage(key, 1);
  if (why.key == "ODRESPHT") {
    sayMessage(why.key, 0);
    writeLineSpoken(std::to_string(why.status));
    writeLine();
  } else {
    sayMessage(why.key, 2);
  }
}

int playAddress(const std::string& address) {
  clearStationInfo();
  int result = playbackSession(address);
  flushKeys();
  reportPlayResult(result);
  if (result == 0 || result == kResultCancelled) return 0;
  return askEnterAfterFailure(result);
}

int askEnterAfterFailure(int result) {
  sayMessage("ODAPTENT", 1);
  for (;;) {
    const uint8_t k = readKey();
    if (k == 0) {
      readKey();  // the code byte of an extended key is no answer
      continue;
    }
    if (k == kCtrlR) return kResultRemove;
    if (k == kEnter || k == kEsc) return result;
  }
}

std::string shortNameOf(std::string_view entry) {
  std::string name = trimmedText(entry);
  const size_t slash = name.rfind('/');
  if (slash != std::string::npos) name.erase(0, slash + 1);
  if (!name.empty() && name[0] == ';') name.erase(0, 1);
  return trimmedText(name);
}

std::string showShortName(const std::string& entry, int index, int count) {
  clearFromLine(kShortNameRow);
  const std::string name = shortNameOf(entry);
  setTextColor(14);
  if (count < 2) {
    writeText(drawable(name));
  } else {
    writeText(std::to_string(index + 1) + " - " + drawable(name));
  }
  writeLine();
  setTextColor(15);
  return name;
}

void refreshTitleLine() {
  const std::string title = stationInfo().title;
  if (title == lastShownTitle()) return;
  const int x = whereX(), y = whereY();
  gotoXY(1, kTitleRow);
  setTextColor(3);
  // One row only: a longer title is cut rather than run over the rows below.
  writeText(drawable(std::string_view(title).substr(0, kConsoleColumns)));
  setTextColor(15);
  clearToEndOfLine();
  setLastShownTitle(title);
  gotoXY(x, y);
}

void showStationInfo(const std::string& shortName) {
  const StationInfo info = stationInfo();
  infoLine("T\xEDtulo:  ", info.title.empty() ? shortName : info.title, true);
  struct Line {
    std::string_view label;
    const std::string& value;
    bool spoken;
  };
  const Line lines[] = {
      {"Imagem:  ", info.image, true},   {"Taxa:    ", info.bitRate, true},
      {"G\xEAnero:  ", info.genre, true}, {"Obs1:    ", info.note1, false},
      {"Obs2:    ", info.note2, false},  {"Pub:     ", info.pub, true},
      {"URL:     ", info.url, false},    {"Metaint: ", info.metaint, true},
  };
  for (const Line& l : lines)
    if (!l.value.empty()) infoLine(l.label, l.value, l.spoken);
}

void askVolume() {
  const uint32_t v = platform::GetConfig(platform::CONFIG_GVOL_STREAM);
  sayMessage("ODVOLATU", 0);
  writeLineSpoken(std::to_string((v + 1) / kVolumeStep));
  sayMessage("ODQUEVOL", 0);
  std::string answer;
  readLineSpoken(answer);
  long long n = 0;
  if (!parseWholeNumber(answer, n)) {
    errorBeep();
    return;
  }
  n = std::clamp(n, 1LL, 100LL);
  platform::SetConfig(platform::CONFIG_GVOL_STREAM, static_cast<uint32_t>(n * kVolumeStep));
}

void stepVolume(int direction) {
  const int now = static_cast<int>((platform::GetConfig(platform::CONFIG_GVOL_STREAM) + 1) / kVolumeStep);
  // Onto the next tenth of the scale: 37 goes up to 40 and down to 30.
  const int next = direction > 0 ? (now / kVolumeKeyStep + 1) * kVolumeKeyStep
                                 : ((now + kVolumeKeyStep - 1) / kVolumeKeyStep - 1) * kVolumeKeyStep;
  const int level = std::clamp(next, 1, 100);
  if (level == now) {
    errorBeep();
    return;
  }
  platform::SetConfig(platform::CONFIG_GVOL_STREAM, static_cast<uint32_t>(level * kVolumeStep));
  sayMessage("ODVOLATU", 0);
  writeLineSpoken(std::to_string(level));
}

void showPlaybackOptions() {
  writeLine();
  for (std::string_view key : kOptionMessages) sayMessage(key, 1);
  writeLine();
  setTextBackground(1);
  sayMessage("ODQUALOP", 0);
  setTextBackground(0);
}

}  // namespace ondaria
