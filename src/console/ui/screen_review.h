// Screen review: a separate review cursor walks over the console grid and
// reads characters, words, fields, rows or the whole screen aloud, searches
// for a text and copies the screen to the clipboard, without changing
// anything on the screen. Entered with Alt+Ctrl+F9 from the field editor and
// the selection lists; Esc leaves it, and the interrupted operation goes on
// where it was.
//
// Keys (extended keys are 0 followed by the code):
//   Right / Left, Backspace   speak the character and move one column
//   Down / Up                 next / previous row, read it
//   Enter                     next row, not read
//   Page Up / Page Down       first / last row, read it
//   Home / End                column 1 / after the row's last character
//   Ctrl+Page Up / Down       first / last letter on the screen, its row read
//   Ctrl+Left / Ctrl+Right    previous / next word
//   Tab / Shift+Tab           after / before the current field
//   F1                        read the word at the cursor, move past it
//   Ctrl+F1, Space            read the current field / row
//   Ctrl+K, Ctrl+L            speak row and column
//   Ctrl+C                    copy the screen (25 lines of 80 characters)
//   F6                        go to a row and column typed as four digits
//   F5, Ctrl+F5               search for a text, search again
//   two letters               reading commands: I (from the beginning to
//                             the cursor), F (from the cursor to the end) or
//                             T (all; L counts as T), then C (field), L (row)
//                             or T (screen)
//   Esc                       leave
//
// A field is the run of cells around the review cursor on its row with the
// attribute of the cell under the cursor and none of the separators "!",
// ":", "?", "|" and the box characters 176…223. A word is a run of letters,
// digits and the Portuguese accented letters.
#pragma once

#include <cstdint>
#include <string>

namespace ondaria {

// Runs screen review until Esc.
void screenReview();

// The grid's character and attribute at 1-based (row, column); a blank and 0
// outside 1…25 × 1…80.
uint8_t reviewCharAt(int row, int column);
uint8_t reviewAttrAt(int row, int column);

// The text last searched for; kept for the whole run of the program.
const std::string& reviewSearchText();

// The screen as copied by Ctrl+C: 25 lines of 80 characters, each followed by
// carriage return and line feed.
std::string screenAsText();

// Columns (1-based, inclusive) of the field around `column` on `row`; a
// separator under the cursor is a field of its own one cell wide.
struct ReviewField {
  int first = 1;
  int last = 1;
};
ReviewField reviewFieldAt(int row, int column);

// Installs the magnified strip and screen review behind the calls of the field
// editor and the menus (ui_hooks.h), the strip behind the speech front-end's
// low-vision settings, and speech for the console's notices. The radio program
// calls it before it starts speech.
void installLowVisionAids();

}  // namespace ondaria
