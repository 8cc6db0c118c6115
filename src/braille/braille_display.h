// The console's braille display driver: the row the console shows (the row
// written last, or the cursor's row after a move) is translated into
// Portuguese braille and shown on a refreshable display, and the display's
// braille keys and navigation keys type into the key queue as if they were
// PC keys.
//
// The display is reached through brltty (platform/braille_device.h). Without
// its client library nothing here is active. With it, the driver keeps
// looking for brltty and its display for as long as the program runs: a
// brltty started later, stopped or restarted is picked up again within about
// a second, and the row last shown appears at once. Everything here runs on
// the console's thread; the display's own thread only posts key messages.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "console/core/console.h"

namespace ondaria {

// Installs the driver into the console: the display is opened when the
// console window is created (now, if it already exists), rows are mirrored
// and keys delivered from then on. Call before the console is created.
void installBrailleDisplay();

// The start-up operation the console calls once: loads the library, starts
// the display's connection and turns the console's braille output on. True
// when a display with cells answered at once; the driver also works with a
// display that comes later (see above). False without the library.
bool openBrailleDisplay();
// Lets the display's keys reach the key queue (the console's braille key
// handler).
void enableBrailleKeys();

// Shows a row (the console's 80 characters) on the display: translated,
// turned into dot patterns, cut to the display's cells or padded with blanks.
void showOnBraille(std::string_view row);

// One key event of the display (event type and code, as described in
// platform/braille_device.h) turned into a character and a key code. Both 0:
// nothing; character 0 and a code: an extended key. Dots build up over events
// with codes above 255 and are typed when the chord ends (code 3):
//   dot 7 backspace (8), dot 8 Enter (13), dots 7 and 8 Esc (27), the space
//   bar alone a blank; Home and End keys (0, 71) and (0, 79); the space bar
//   with dots, the control character of the chord's letter (space with dots
//   1-2-5, "h", gives Ctrl+H, 8); dots 1 to 6 alone, the display's chord
//   table; any other chord nothing.
// Codes 261 and 6405 of type 1 are the up arrow, 2309 and 4357 the down
// arrow; type 3 codes 16 or 64 up, 32 or 128 down. Type 100 delivers its code
// as a character, type 101 as an extended key. Any other type gives "?".
BrailleKey brailleKeyEvent(uint32_t eventType, uint32_t code);

// State for tests: the cells of the connected display (0 without one), the
// number of connections made so far.
int brailleCellCount();
int brailleConnections();
// Stops the display's thread and forgets all state (tests). `libraries` are
// the names the next opening tries (empty: libbrlapi's own).
void resetBrailleDisplay(std::vector<std::string> libraries = {});

}  // namespace ondaria
