// The speech front-end: everything the program says goes through here.
//
// Texts are spoken either by a speech server (espeak-ng or speech-dispatcher,
// chosen by the SERVFALA settings) or, without one, by diphone speech: numbers
// from recorded number words, words through the diphone text translation and the
// diphone database, single characters from recorded letter files. Single
// characters, recorded items, beeps and clicks are always played as wave sound,
// whichever engine speaks texts.
//
// Contract shared by every operation here:
// - All run on the program's one thread and return only when their sound has
//   ended, except `speakText` with a speech server (it returns once the text is
//   handed over).
// - A key waiting in the console's key queue cuts speech at once and stays in
//   the queue for whoever reads next; every wait below dispatches the console's
//   events so that keys and "buffer done" notices arrive while sound plays.
// - Every audible event also goes to the speech log (platform/speech_log.h).
//
// Recorded items: a name beginning with "_" is the file <letters dir>/<name>.wav,
// any other name is <sound dir>/<name>.wav. Letter files are "_" + the decimal
// code of the character ("_65.wav" for A); "_unknown.wav" stands for a character
// without a file of its own.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "speech/recorded_speech.h"
#include "speech/text_case.h"

namespace ondaria {

// ---- Start and end --------------------------------------------------------

// Reads the speech settings, starts diphone speech and, when TRADUTOR/SAPI asks
// for one, a speech server. `level` 0 or less takes TRADUTOR/VELOCIDADE; any
// level outside 1..5 becomes 3. When diphone speech cannot start, shows the two
// error lines, waits for Enter and ends the program (closeConsole).
void startSpeech(int level, std::string_view soundDirectory);
// Waits for speech to end (a key cuts it), stops the server, releases diphone
// speech.
void endSpeech();
// endSpeech, then startSpeech with the new level.
void setSpeechSpeed(int level, std::string_view soundDirectory);

// ---- Speaking -------------------------------------------------------------

void speakText(std::string_view text);
void speakChar(uint8_t c);
// Character by character; a tab is the item "_FON9". Stops when a key waits.
void spellText(std::string_view text);
// `text` begins with the mark; speaks it and makes its pause.
void speakPunctuation(std::string_view text);
// Plays a recorded item; false when its file is missing or cannot be played.
bool playRecording(std::string_view name);
bool recordingExists(std::string_view name);
// Speaks the queued text when there is any (queued mode is never switched on in
// this program, so this does nothing today; kept for the family's callers).
void speakPending();
// Waits `ms` in 50 ms steps; steps are skipped while a key waits.
void speechPause(int ms);

// True while wave sound is queued or the server speaks. A waiting key cuts
// everything and gives false (the key stays queued).
bool isSpeaking();
// Waits while isSpeaking(), dispatching the console's events between checks.
void waitWhileSpeaking();
// Cuts all sounding speech at once.
void stopSpeech();

// Discards every waiting key, then plays the error tone (about 1378 Hz, 46 ms).
void errorBeep();
// Plays the short click (64 random samples then silence).
void clickSound();

// ---- Console output that is also spoken -----------------------------------

void writeSpoken(std::string_view text);
void writeLineSpoken(std::string_view text);
void writeNumberSpoken(long long n);
// Reads one key (waiting for it), cuts speech, speaks the key, returns it.
uint8_t readKeySpoken();
// Reads and discards keys while one is waiting.
void flushKeys();

// ---- Extras ---------------------------------------------------------------

// Plays the touch tone of each digit, "#" and "*", 100 ms apart; "," waits one
// second; other characters are skipped.
void playDialTones(std::string_view text);
// Speaks the battery charge ("_SEMBAT" without a battery) and "_SEMENER" when
// the mains is off.
void speakBatteryStatus();
// Opens a web address, document or program with its configured program
// (LUMARE/PROG.HTM, LUMARE/PROG.<EXT>) or the desktop's opener (xdg-open). A
// text that is neither a web address nor an existing file is refused with
// errorBeep. Returns whether a program was started.
bool openLink(std::string_view text);

// ---- Front-end state --------------------------------------------------------

// Speak each typed character in the field editor; the editor toggles it.
bool& echoTyped();
// The field editor blanks a proposed text when the first key typed is a character.
bool clearOnFirstKey();
int speechSpeed();                       // current speed level 1..5
const std::string& soundDirectory();     // with a trailing "/" unless empty
const std::string& lettersDirectory();   // with a trailing "/"
bool speechServerActive();
int speechServerType();                  // 5 before any start

// Low-vision settings read by startSpeech (section BAIXAVISAO) for the
// magnified strip: zoom 0 leaves the strip off.
struct LowVisionSettings {
  int zoom = 0;
  int textColour = 14;
  int backColour = 6;
  int cursorColour = 3;
};
const LowVisionSettings& lowVisionSettings();
// The magnified strip installs this; startSpeech calls it with the settings
// just read (after ensureConsole when the zoom is not 0).
void setLowVisionHook(std::function<void(const LowVisionSettings&)> hook);

// Returns the module to its state at program start (tests only): no server,
// diphone speech released, flags at their initial values.
void resetSpeechForTests();

}  // namespace ondaria
