// Engine dispatch: the front-end reaches the speech server only through these
// five operations; the server type given at start chooses the driver.
#include "console/core/console.h"
#include "speech/speech_state.h"

namespace ondaria::speech_detail {

namespace {
// Step of the wait for a freshly started engine to become idle.
constexpr int kStartWaitStepMs = 50;
}  // namespace

bool engineStart(int voice, int rate, int pitch, int type) {
  SpeechState& s = state();
  s.serverType = type;
  setSpeechServerWakeHook([] { wakeConsole(); });
  s.server = makeSpeechServer(type);
  s.serverError.clear();
  if (!s.server) return false;
  if (!s.server->start(voice, rate, pitch)) {
    s.serverError = s.server->startError();
    s.server.reset();
    return false;
  }
  while (engineBusy(true)) delayMs(kStartWaitStepMs);
  return true;
}

void engineSpeak(std::string_view text) {
  if (SpeechState& s = state(); s.server) s.server->speak(text);
}

bool engineBusy(bool textOnly) {
  SpeechState& s = state();
  pumpWindowMessages();
  return s.server && s.server->busy(textOnly);
}

void engineCut() {
  if (SpeechState& s = state(); s.server) s.server->cut();
}

void engineStop() {
  SpeechState& s = state();
  if (!s.server) return;
  s.server->stop();
  s.server.reset();
}

}  // namespace ondaria::speech_detail
