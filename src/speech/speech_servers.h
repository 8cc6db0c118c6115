// Speech servers: installed text-to-speech engines that speak whole texts.
//
// Three drivers sit behind the front-end's engine dispatch, each with the same
// five operations, chosen by the server type of SERVFALA/TIPOSAPI:
//
//   type 54      speech-dispatcher (libspeechd), when its daemon can be reached
//   type 4       espeak-ng, driven the way the classic engine interface was:
//                text trimmed, a lone digit gets ".", speed in words per minute
//                and pitch passed on, cut only while sound plays
//   other types  espeak-ng with its Brazilian Portuguese voice ("pt-br"), rate
//                on the -10…10 scale
//   type 3       the built-in Koral engine (tts/koral_engine.h): our own
//                Portuguese text stages driving the MBROLA synthesiser with
//                the br4 voice; its samples go to the program's audio mixer
//
// Contract of every driver (the front-end relies on it):
// - start returns true only when the engine can speak; every failure is false.
// - speak returns at once; synthesis runs on the engine's own thread and the
//   sound goes to the program's audio mixer (espeak-ng) or the daemon's output
//   (speech-dispatcher). Every text handed to an engine is logged with
//   platform::logSpeech(SpeechEvent::Text, text).
// - busy is true until the last sample of the last handed text has played.
//   It returns at once; when the speech ends the driver calls the wake hook
//   (from its own thread), so that a loop waiting for console events between
//   two calls of busy sees the end at once and sees a key at once as well.
// - cut silences within one device buffer and discards everything handed
//   over; the next text starts at its beginning.
// - stop waits for the end of speech and releases the engine.
// All operations are called from the program's main thread. Texts are cp1252.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tts/koral_engine.h"

namespace ondaria {

// Server types of SERVFALA/TIPOSAPI that select a driver.
constexpr int kServerBuiltIn = 3;
constexpr int kServerClassic = 4;
constexpr int kServerSecondClass = 54;

class SpeechServer {
 public:
  virtual ~SpeechServer() = default;
  // voice: SERVFALA/VOZ; rate: SERVFALA/VELOCIDADE (already replaced by 0 above
  // 10 by the front-end, except for type 4); pitch: SERVFALA/TOM.
  virtual bool start(int voice, int rate, int pitch) = 0;
  virtual void speak(std::string_view text) = 0;
  // textOnly matters to type 4 only: true asks whether texts are still being
  // synthesised, false also whether their sound still plays.
  virtual bool busy(bool textOnly) = 0;
  virtual void cut() = 0;
  virtual void stop() = 0;
  // The engine behind the driver, as the speech log names it.
  virtual const char* engineName() const = 0;
  // After a failed start: a message the user must be told (a damaged
  // language file), or empty when the engine is simply not available.
  virtual std::string startError() const { return {}; }
};

// The driver for a server type, not yet started.
std::unique_ptr<SpeechServer> makeSpeechServer(int type);

// Called (from a driver's own thread) when a server's speech has ended, so
// that a wait for console events returns and looks again. Without a hook: the
// console's wakeConsole.
void setSpeechServerWakeHook(std::function<void()> hook);

// The built-in engine's files as the settings name them: section KORALTTS,
// keys MBROLA_DB, DIR and BASE (koral::koralFiles gives the defaults).
koral::KoralFiles koralFilesFromSettings();

// Sound the espeak-ng engine has made that has not yet been played, in
// seconds (for benchmarks and diagnostics; 0 when the engine is not open).
double espeakPendingSeconds();

// ---- Mapping of the SERVFALA numbers onto the engines' own scales ---------
// (exposed so that the mapping is tested and documented in one place)

// espeak-ng voices offered as voice numbers 1, 2, …: the Brazilian Portuguese
// voice plain, then with the variants below.
const std::vector<std::string>& espeakVoiceNames();
// Rate -10…10 (0 normal) to espeak-ng words per minute: 175 × 3^(rate / 10),
// so 0 is espeak-ng's normal 175 wpm, 10 three times as fast and -10 a third as
// fast, kept inside espeak-ng's 80…450.
int espeakRateFromServerRate(int rate);
// Type 4: speed is already in words per minute (0 = the engine's default,
// returned as 0); pitch is a base frequency in Hz (0 = default, returned as
// -1): 60 Hz → espeak-ng pitch 0, 120 Hz → 50 (its normal), 180 Hz → 100.
int espeakPitchFromHz(int hz);
// Rate -10…10 to speech-dispatcher's -100…100.
int speechdRateFromServerRate(int rate);

}  // namespace ondaria
