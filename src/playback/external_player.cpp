#include "playback/external_player.h"

#include <unistd.h>

#include "console/core/console.h"
#include "console/core/settings.h"
#include "console/ui/ui_draw.h"
#include "platform/codepage.h"
#include "platform/process.h"
#include "playback/playback_session.h"
#include "speech/say_message.h"
#include "speech/speech.h"

namespace ondaria {

namespace {

constexpr uint8_t kCtrlC = 3;
constexpr uint8_t kCtrlR = 18;
constexpr uint8_t kEsc = 27;

// At most this much is taken from a pipe in one pass; more comes next pass.
constexpr size_t kPipeReadMax = 32767;
// When neither pipe had anything, the loop waits this long for the player's
// output before it looks at the keyboard again: short enough for keys to feel
// immediate, long enough not to keep a processor core busy.
constexpr int kIdleWaitMs = 40;
// A player gets this long to end after the terminate signal before it is killed.
constexpr int kStopGraceMs = 1000;
// Error output kept while a "Stream #" line is incomplete; the line is a
// hundred characters or so.
constexpr size_t kErrorCarryMax = 4096;

constexpr std::string_view kStreamMark = "Stream #";

struct ExternalState {
  platform::PipedChild child;
  StreamParameters parameters;
  std::string errorCarry;  // error output not yet searched to a line end
  std::string errorLine;   // error output since the last line end
  std::string lastError;   // the last whole line of error output
};

ExternalState& external() {
  static ExternalState state;
  return state;
}


bool isExecutable(const std::string& path) { return !path.empty() && ::access(path.c_str(), X_OK) == 0; }

// The default player: ffplay without a window, found beside the family's
// programs, beside this program, or on the PATH.
std::vector<std::string> defaultPlayer() {
  std::string player = "ffplay";
  const std::string family = readSetting("LUMARE", "PGMLUMARE");
  if (!family.empty() && isExecutable(nativePath(family + "/ffplay"))) {
    player = nativePath(family + "/ffplay");
  } else if (isExecutable(programDirectory() + "/ffplay")) {
    player = programDirectory() + "/ffplay";
  }
  return {player, "-nodisp"};
}

// Shows the player's standard output, line by line.
void showOutput(const std::string& bytes) {
  const std::string text = platform::utf8ToCp1252(bytes);
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string_view line = std::string_view(text).substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    writeLine(drawable(line));
    start = end + 1;
  }
}

// Searches the player's error output for the "Stream #" line. The output
// arrives in pieces of any size, so the line is taken once its line end has
// come; the rest of the error output is not shown.
void takeErrorOutput(const std::string& bytes) {
  std::string& carry = external().errorCarry;
  const std::string text = platform::utf8ToCp1252(bytes);
  // The last whole line is what the player said before it gave up. Lines
  // ended by a carriage return alone are progress reports, overwritten in place.
  for (char c : text) {
    std::string& line = external().errorLine;
    if (c == '\n') {
      const std::string done = trimmedText(line);
      if (!done.empty()) external().lastError = done;
      line.clear();
    } else if (c == '\r') {
      line.clear();
    } else if (line.size() < kErrorCarryMax) {
      line += c;
    }
  }
  carry += text;
  const size_t mark = carry.find(kStreamMark);
  if (mark == std::string::npos) {
    // Keep only what could be the start of a mark cut in two.
    if (carry.size() > kStreamMark.size()) carry.erase(0, carry.size() - kStreamMark.size());
    return;
  }
  carry.erase(0, mark);
  if (carry.find_first_of("\r\n") != std::string::npos) {
    parseStreamLine(carry);
    carry.clear();
  } else if (carry.size() > kErrorCarryMax) {
    parseStreamLine(carry);  // an endless line: take what came
    carry.clear();
  }
}

}  // namespace

std::vector<std::string> playerCommand(const std::string& address) {
  std::vector<std::string> argv;
  const std::string setting = readSetting("ONDARIA", "TOCADOR");
  for (const std::string& arg : platform::splitCommandLine(setting)) argv.push_back(platform::cp1252ToUtf8(arg));
  if (argv.empty()) {
    argv = defaultPlayer();
  } else {
    argv[0] = nativePath(platform::utf8ToCp1252(argv[0]));
  }
  argv.push_back(platform::cp1252ToUtf8(address));
  return argv;
}

bool startPiped(const std::vector<std::string>& argv) {
  stopPiped();  // only one player runs at a time
  external().errorCarry.clear();
  external().errorLine.clear();
  external().lastError.clear();
  return platform::spawnPiped(argv, external().child).ok();
}

std::string readPipe(PlayerPipe pipe) {
  platform::PipedChild& child = external().child;
  int& fd = pipe == PlayerPipe::Output ? child.output : child.error;
  bool ended = false;
  std::string text = platform::readAvailable(fd, kPipeReadMax, &ended);
  // Once the player has closed a pipe, it is closed here too, so that waiting
  // on the pipes does not wake at once for ever.
  if (ended && fd >= 0) {
    ::close(fd);
    fd = -1;
  }
  const size_t zero = text.find('\0');
  if (zero != std::string::npos) text.resize(zero);
  return text;
}

void stopPiped() { platform::stopPiped(external().child, kStopGraceMs); }

int playerProcessId() { return external().child.pid; }

void parseStreamLine(std::string_view text) {
  std::string rest(text);
  // "Stream #0.0: Audio: mp3, ..." : the parameters follow the second ":".
  for (int i = 0; i < 2; ++i) {
    const size_t colon = rest.find(':');
    if (colon != std::string::npos) rest.erase(0, colon + 1);
  }
  StreamParameters& p = external().parameters;
  for (std::string* field : {&p.codec, &p.sampleRate, &p.channels, &p.sampleFormat}) {
    const size_t comma = rest.find(',');
    if (comma == std::string::npos) {
      field->clear();
      continue;
    }
    *field = trimmedText(std::string_view(rest).substr(0, comma));
    rest.erase(0, comma + 1);
  }
  // "128 kb/s": up to the character after the first "s".
  const size_t s = rest.find('s');
  p.bitRate = trimmedText(std::string_view(rest).substr(0, s == std::string::npos ? 1 : s + 2));
}

const StreamParameters& streamParameters() { return external().parameters; }

void setStreamParameters(const StreamParameters& parameters) { external().parameters = parameters; }

void showStreamParameters() {
  const StreamParameters& p = external().parameters;
  const std::pair<std::string_view, const std::string*> lines[] = {
      {"ODCODIFC", &p.codec},        {"ODAMOSTR", &p.sampleRate}, {"ODCANAIS", &p.channels},
      {"ODTRANSP", &p.sampleFormat}, {"ODTAXAB", &p.bitRate}};
  for (const auto& [key, value] : lines) {
    sayMessage(key, 0);
    writeLineSpoken(drawable(*value));
  }
}

void externalKey(uint8_t key, const std::string& address) {
  flushKeys();  // the code byte of an extended key goes with it
  switch (upperAscii(key)) {
    case 'E':
      sayMessage("ODENDSEL", 1);
      writeLineSpoken(drawable(address));
      break;
    case 'I': showStreamParameters(); break;
    case 'V': askVolume(); break;
    default: sayMessage("ODOPVAL2", 1); break;
  }
}

int playExternal(const std::string& address) {
  writeLine();
  setTextBackground(4);
  sayMessage("ODFFPLAY", 1);
  setTextBackground(0);

  if (!startPiped(playerCommand(address))) {
    sayMessage("ODERPLYR", 2);
    return 0;
  }
  platform::PipedChild& child = external().child;
  uint8_t k = ' ';
  bool remove = false;
  int exitCode = 0;
  bool ended = false;
  while (k != kEsc) {
    // The player ended by itself (the stream is over, or it gave up): what it
    // still wrote is taken, and the user is told.
    if (!ended && platform::processEnded(child.pid, &exitCode)) {
      child.pid = -1;  // reaped: nobody may signal that number any more
      ended = true;
    }
    bool busy = false;
    const std::string output = readPipe(PlayerPipe::Output);
    if (!output.empty()) {
      showOutput(output);
      busy = true;
    }
    const bool key = keyPressed();
    const std::string errors = readPipe(PlayerPipe::Error);
    if (!errors.empty()) {
      takeErrorOutput(errors);
      busy = true;
    }
    if (key) {
      k = readKey();
      if (k == kCtrlR) {
        remove = true;
        k = kEsc;
      }
      if (k == kCtrlC) copyToClipboard(address);
      if (k != kEsc) externalKey(k, address);
    } else if (!busy) {
      if (ended) break;
      platform::waitReadable({child.output, child.error}, kIdleWaitMs);
    }
  }
  flushKeys();
  stopPiped();
  if (remove || !ended || k == kEsc) return remove ? kResultRemove : 0;
  if (exitCode == 0) {
    sayMessage("ODFIMEXT", 2);
    return 0;
  }
  // A failure: its last words, then the same question as after a failed
  // stream, so that a station that does not work can be removed.
  sayMessage("ODFALEXT", 1);
  if (!external().lastError.empty()) {
    writeLineSpoken(drawable(std::string_view(external().lastError).substr(0, kConsoleColumns)));
  }
  writeLine();
  return askEnterAfterFailure(0);
}

}  // namespace ondaria
