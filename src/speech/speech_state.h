// State of the speech front-end, shared by its source files (not for other
// modules: they use speech.h).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "speech/speech.h"
#include "speech/speech_servers.h"

namespace ondaria::speech_detail {

// The click: a 44-byte header, 64 random samples, then silence.
constexpr size_t kClickSamples = 256;
constexpr size_t kClickNoise = 64;

struct SpeechState {
  int level = 3;
  std::string soundDir;    // native path with "/" or empty
  std::string lettersDir;  // native path with "/"
  bool serverActive = false;
  int serverType = 5;
  std::unique_ptr<SpeechServer> server;
  // What the last server that failed to start asked to tell the user.
  std::string serverError;
  // Engine last named in the speech log; a run starts with diphone speech.
  std::string loggedEngine = "diphones";
  bool enginePending = true;  // text handed to the server may still sound
  bool cut = false;
  bool echoTyped = true;
  bool clearOnFirstKey = true;
  int fullStopPause = 250;
  int commaPause = 150;
  int colonPause = 200;
  bool queuedMode = false;
  std::string queued;
  std::array<uint8_t, 44 + kClickSamples> click{};
  LowVisionSettings lowVision;
  std::function<void(const LowVisionSettings&)> lowVisionHook;

  SpeechState();
};

SpeechState& state();

// ---- Engine dispatch: the five operations of the speech server ------------
bool engineStart(int voice, int rate, int pitch, int type);
void engineSpeak(std::string_view text);
bool engineBusy(bool textOnly);
void engineCut();
void engineStop();

// Reads a whole number (blanks around it allowed); false when the text is not one.
bool parseNumber(const std::string& text, int& value);

}  // namespace ondaria::speech_detail
