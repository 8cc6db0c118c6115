// Runs the real ondaria program for whole-program tests: the headless
// front-end reads a key script from standard input, the screen is dumped to a
// file whenever the program waits for a key, and every audible event lands in
// a speech log. Each run gets its own settings folders under a temporary
// directory, so nothing of the user's or of another test is read.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace ondaria::test {

struct SpeechLine {
  std::string kind;  // "text", "recording", "char", "beep", ...
  std::string text;  // UTF-8
};

struct ProgramResult {
  int exitStatus = -1;      // -1 when it did not end in time (it is then killed)
  bool timedOut = false;
  std::string screen;       // last dumped grid, UTF-8, 25 lines
  std::vector<SpeechLine> speech;
  std::string stderrText;

  // True when some logged event of that kind contains `text` (UTF-8).
  bool heard(const std::string& kind, const std::string& text) const;
  // Number of logged events of that kind equal to `text`.
  int countHeard(const std::string& kind, const std::string& text) const;
};

class ProgramRun {
 public:
  ProgramRun();   // makes the temporary folders (config, system, work)
  ~ProgramRun();  // removes them

  // Folder that stands for the user's settings directory ($XDG_CONFIG_HOME/lumare).
  const std::string& settingsDir() const { return settingsDir_; }
  const std::string& workDir() const { return workDir_; }

  // Writes <settings dir>/Lumare.ini (UTF-8 source text converted to cp1252,
  // lines ended with CR LF). Without this call the shipped default is used.
  void writeSettings(const std::string& utf8Text);
  void writeStationList(const std::string& utf8Text);  // <settings dir>/ondaria.ini
  void setEnv(const std::string& name, const std::string& value) { env_[name] = value; }

  // Runs the program with the key script (see platform/frontend.h) and the
  // arguments; waits at most timeoutSeconds.
  ProgramResult run(const std::string& script, const std::vector<std::string>& args = {},
                    int timeoutSeconds = 60);

 private:
  std::string root_, settingsDir_, systemDir_, workDir_;
  std::map<std::string, std::string> env_;
};

// Path of the built program ($ONDARIA_BUILD_DIR/ondaria).
std::string programPath();

}  // namespace ondaria::test
