// Touch tones, the battery report and opening links and documents.
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <string>
#include <vector>

#include "console/core/console.h"
#include "console/core/settings.h"
#include "platform/power.h"
#include "platform/process.h"
#include "platform/speech_log.h"
#include "speech/speech.h"
#include "speech/speech_internal.h"
#include "speech/speech_state.h"
#include "speech/wave_output.h"

namespace ondaria {

using namespace speech_detail;

namespace {

constexpr int kToneGapMs = 100;     // between two touch tones
constexpr int kCommaWaitMs = 1000;  // "," in a dialling text: wait for a line

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool isRegularFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string currentDirectory() {
  std::vector<char> buf(4096);
  if (!getcwd(buf.data(), buf.size())) return ".";
  return buf.data();
}

}  // namespace

void playDialTones(std::string_view text) {
  // Touch tones are real frequencies: never play them faster.
  bool rateUp = waveRateUp();
  waveRateUp() = false;
  for (char ch : text) {
    char c = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    if (c == '#' || c == '*' || (c >= '0' && c <= '9')) {
      std::string name = std::string("dtmf_") + (c == '*' ? 'X' : c);
      std::string path = existingFile(lettersPath(name + ".wav"));
      if (!path.empty()) {
        platform::logSpeech(platform::SpeechEvent::Recording, name);
        wavePlayFile(path);
      }
      waitWhileSpeaking();
      delayMs(kToneGapMs);
    } else if (c == ',') {
      delayMs(kCommaWaitMs);
    }
  }
  waveRateUp() = rateUp;
}

void speakBatteryStatus() {
  platform::PowerStatus status = platform::readPowerStatus();
  if (!status.hasBattery) playRecording("_SEMBAT");
  else speakText(std::to_string(status.percent) + "%");
  if (status.acLine == 0) playRecording("_SEMENER");
}

bool openLink(std::string_view input) {
  std::string text(input);
  std::vector<std::string> argv;
  bool web = startsWith(text, "http://") || startsWith(text, "https://") || startsWith(text, "www.");
  if (web) {
    std::string program = readSetting("LUMARE", "PROG.HTM");
    // The desktop's opener takes only full addresses.
    std::string address = startsWith(text, "www.") ? "http://" + text : text;
    if (program.empty()) argv = {"xdg-open", address};
    else argv = {nativePath(program), text};
  } else {
    // A file: relative names are taken from the current directory, so that the
    // argument never begins with "-" and cannot be taken for an option.
    std::string path = nativePath(text);
    if (!path.empty() && path[0] != '/') path = currentDirectory() + "/" + path;
    if (text.empty() || !isRegularFile(path)) {
      errorBeep();
      return false;
    }
    // The extension is what follows the last "." of the file's own name.
    size_t slash = path.rfind('/');
    size_t dot = path.rfind('.');
    std::string ext;
    if (dot != std::string::npos && dot > slash) ext = path.substr(dot + 1, 3);
    else ext = path.substr(slash + 1, 3);
    ext = upperWithAccents(ext);
    if (ext == "EXE" || ext == "COM") {
      argv = {path};
    } else {
      std::string program = readSetting("LUMARE", "PROG." + ext);
      if (program.empty()) argv = {"xdg-open", path};
      else argv = {nativePath(program), path};
    }
  }
  waitWhileSpeaking();
  bool started = platform::spawnDetached(argv, currentDirectory());
  waitWhileSpeaking();
  if (!started) errorBeep();
  return started;
}

}  // namespace ondaria
