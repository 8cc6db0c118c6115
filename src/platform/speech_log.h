// The speech log: one line for every audible event.
//
// Everything the user hears passes through here: text handed to a speech
// engine, a recorded item played, a character spoken, a beep, a click, a tone.
// When the environment variable ONDARIA_SPEECH_LOG names a file, each event is
// appended to it as one UTF-8 line, "kind<TAB>text", and flushed at once, so a
// test or a person can follow what a blind user would hear. Tests can also
// install an in-process observer.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

enum class SpeechEvent {
  Text,       // text handed to a speech engine (cp1252)
  Recording,  // a recorded item played (its name, e.g. "_065" or "ODFIM")
  Char,       // one character spoken (cp1252, one byte)
  Beep,       // the error beep
  Click,      // the click sound
  Tone,       // a tone started (text: frequency in Hz) or stopped ("off")
  Message,    // a catalogue message voiced (text: key)
  Cut,        // speech cut short by a key
  Engine,     // texts are spoken by another engine from now on (text: its
              // name, "espeak-ng", "speech-dispatcher" or "diphones"); a run
              // starts with diphone speech, so that start is not logged
};

// Name used in the log file: "text", "recording", "char", "beep", "click",
// "tone", "message", "cut", "engine".
const char* speechEventName(SpeechEvent kind);

// Records one event. `text` is cp1252; it is written to the file as UTF-8.
void logSpeech(SpeechEvent kind, std::string_view text = {});

// Observer for tests; replaces any earlier one. Pass nullptr to remove.
using SpeechObserver = std::function<void(SpeechEvent, const std::string&)>;
void setSpeechObserver(SpeechObserver observer);

// Opens (or re-opens) the log file; normally read from ONDARIA_SPEECH_LOG on the
// first event. An empty path closes it.
void setSpeechLogFile(const std::string& path);

}  // namespace platform
