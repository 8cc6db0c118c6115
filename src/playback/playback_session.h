// The playback session: what the user lives in while a station plays. It
// builds the programme list of an address, plays one programme after the
// other, answers single keys (pause, volume, station information, address,
// next and previous programme, end), keeps the stream title on row 3, and at
// the end reports the outcome.
//
// Screen: row 3 holds the stream title, row 5 the current programme's short
// name; what the keys produce is written from row 6 on.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ondaria {

// Result of a session that the user ended with Ctrl+R: the caller offers to
// remove the station just heard.
inline constexpr int kResultRemove = -1;

// Plays `address` and reports the outcome ("Rádio desligada.", "Desistiu..."
// when the user gave an opening up, or the error and why, followed by "Aperte
// enter..."). Returns 0 for a normal end (a given-up opening included), -1
// when the user pressed Ctrl+R (during play or at "Aperte enter..."),
// otherwise the engine's error code.
int playAddress(const std::string& address);

// The session itself: returns the same codes before they are reported.
int playbackSession(const std::string& address);

// The message of a session's result, with its line ends (as playAddress gives
// it), and the reason of a failure (lastFailureReason) on a line of its own.
void reportPlayResult(int result);

// After a failure has been told: "Aperte enter..." and keys until Enter or ESC
// (`result` is returned) or Ctrl+R (kResultRemove: the caller offers to remove
// the station).
int askEnterAfterFailure(int result);

// Steps the volume up or down by a tenth of the scale and says the new level;
// at either end only the error beep sounds.
void stepVolume(int direction);

// Clears rows 5 to 25 and shows the short name of a programme on row 5 (with
// its number when the list holds two or more); returns the name. Nothing is
// spoken. "http://host/live/radio.mp3" gives "radio.mp3".
std::string showShortName(const std::string& entry, int index, int count);
// The short name alone: the part after the last "/", without a leading ";".
std::string shortNameOf(std::string_view entry);

// Redraws row 3 when the stream title differs from the one last shown; the
// cursor stays where it was. The title is not spoken.
void refreshTitleLine();

// Writes the station information, one line per field that has a value (the
// title line always; the short name stands in for an empty title).
void showStationInfo(const std::string& shortName);

// Says the current volume (1 to 100) and asks for a new one; an answer that is
// not a whole number only beeps. Sets the global stream volume.
void askVolume();

// Lists the session's keys and asks "Qual sua opção? ".
void showPlaybackOptions();

// What a session key does. The table is in playback_session.cpp, one line a
// key; tests read it through sessionKeyAction.
enum class SessionAction : uint8_t {
  CopyAddress,    // Ctrl+C: the address to the clipboard
  Remove,         // Ctrl+R: end, asking for the station's removal
  End,            // ESC
  TogglePause,    // blank
  SayAddress,     // E
  SayShortName,   // N
  StationInfo,    // P
  Volume,         // V
  VolumeUp,       // + (the keypad's too)
  VolumeDown,     // -
  FirstProgramme, // Home
  Previous,       // Page Up
  LastProgramme,  // End
  Next,           // Page Down
  Invalid,        // any other ordinary key (Enter included): "Opção inválida"
  PauseAndHelp,   // any other extended key: pause and list the options
};
// `extended`: `code` is the code byte of an extended key; otherwise an
// ordinary key byte (letters in either case).
SessionAction sessionKeyAction(bool extended, uint8_t code);

}  // namespace ondaria
