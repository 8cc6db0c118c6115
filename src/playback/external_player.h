// The external player: stations the stream engine cannot play are handed to a
// command-line player run as a child process on three pipes. What it writes
// on its standard output is shown; its error output is searched for the
// "Stream #" line that names the stream's parameters; a few keys are answered
// until the user ends playback with ESC (or Ctrl+R).
//
// The player is started with an argument vector, never through a shell: the
// command text of "TOCADOR" is split into arguments at blanks (double quotes
// group), and the address is always one more argument, whatever it holds.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ondaria {

// The stream's parameters as the player reported them. Kept from one play to
// the next until a new "Stream #" line arrives.
struct StreamParameters {
  std::string codec;
  std::string sampleRate;
  std::string channels;
  std::string sampleFormat;
  std::string bitRate;
};

// Plays `address` with the external player until ESC or Ctrl+R. Returns 0 for
// ESC (and when the player could not be started) and -1 for Ctrl+R. The
// player is ended, and reaped, before this returns.
int playExternal(const std::string& address);

// The player's argument vector for `address`: "TOCADOR" of section "ONDARIA"
// split into arguments, or by default "ffplay -nodisp" (the ffplay beside the
// family's programs ("PGMLUMARE"), beside this program, or on the PATH);
// then the address as the last argument.
std::vector<std::string> playerCommand(const std::string& address);

// Starts the player with three pipes; true when it runs.
bool startPiped(const std::vector<std::string>& argv);
// Which pipe readPipe reads.
enum class PlayerPipe { Output, Error };
// What waits on one of the player's pipes (at most 32767 bytes, cut at a zero
// byte), or an empty text; never blocks.
std::string readPipe(PlayerPipe pipe);
// Closes the pipes and ends the player (terminate, then kill if it lingers),
// reaping it.
void stopPiped();
// The process id of the running player; -1 when none runs.
int playerProcessId();

// Fills the stream parameters from a text that begins with "Stream #". The
// text may run over several lines; commas are counted across line ends.
void parseStreamLine(std::string_view text);
const StreamParameters& streamParameters();
void setStreamParameters(const StreamParameters& parameters);  // for tests
// Says the five parameters, one a line.
void showStreamParameters();

// Handles one key of the play loop (ESC and Ctrl+R are the loop's own).
void externalKey(uint8_t key, const std::string& address);

}  // namespace ondaria
