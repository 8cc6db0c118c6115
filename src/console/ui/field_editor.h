// Keyboard input with spoken echo and the spoken field editor.
//
// Every text the user types is typed into a field drawn in the console grid;
// the editor speaks as the user moves and edits, so that a blind user always
// hears where the cursor is and what changed. Key bytes are those of the
// console: an extended key is 0 followed by its code byte.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ondaria {

// ---- One key with echo ------------------------------------------------------

struct KeyEcho {
  uint8_t character = 0;  // 0 for an extended key
  uint8_t code = ' ';     // the extended key's code; a blank for an ordinary key
};

// Waits until speech has ended (a key cuts it), reads one key and, for a
// character of 32 or above, writes it at the cursor and speaks it. Bytes 222
// and 223 are skipped; 0 followed by 16, 17 or 18 is a prefix and the byte
// after it is the character; F8 speaks the time and reading starts again.
KeyEcho readCharEcho();

// ---- The field editor -------------------------------------------------------

// Edits `text` in a field whose first cell is at (column, row), 1-based;
// `width` cells are visible and the text holds at most `maxLength` characters
// (at most 2048). A field that is not editable can be walked and spoken only.
// Returns the terminating key: 13 Enter, 27 Esc, 9 Tab, 10 Ctrl+Enter, 2 Ctrl+B,
// or the code byte of an extended key the editor does not handle itself (72 Up,
// 80 Down, 60 F2, 102 Ctrl+F9, 104 Alt+F1, ...). No typed character ends the
// edit, so the two kinds never collide. On return `text` holds the edited text
// without trailing blanks.
//
// The field never spills off its row: a width reaching past column 80 is cut
// to end there, and on the last row it ends at column 79 so that drawing it
// never scrolls the screen.
uint8_t editField(std::string& text, int column, int row, bool editable, int width,
                  int maxLength);

// editField with width 79 - column: the visible characters end at column 78
// and the cursor may stand on column 79.
uint8_t editFieldToRightEdge(std::string& text, int column, int row, bool editable,
                             int maxLength);

// Reads a line at the cursor (editable, at most 255 characters). On Esc the
// typed characters are blanked on the screen and the result is empty. In every
// case the cursor then moves to the start of the next line.
void readLineSpoken(std::string& text);

// ---- The editor's key table ---------------------------------------------------

// What the editor does for a key. The table is in field_editor.cpp, one line
// a key; tests read it through fieldKeyAction.
enum class FieldAction : uint8_t {
  Finish,          // end the edit, returning the key
  Copy,            // selection, or the whole text with CR LF, to the clipboard
  Paste,           // first line of the clipboard into the field
  BlankToEnd,      // Ctrl+D
  DeleteBefore,    // Ctrl+S
  Undo,            // Ctrl+U: the text as it was at entry
  BlankAll,        // Ctrl+Y
  Backspace,
  DeleteWord,      // Ctrl+Backspace
  SpeakPosition,   // Ctrl+K
  DialTones,       // Ctrl+\ .
  SpeakAllLater,   // 222: after speech ends, the whole text
  Ignore,          // 223, Alt+digits
  Type,            // a character 32...255
  ControlByte,     // another control byte: only the first-key clicks
  Home,
  End,
  Left,
  Right,
  PreviousWord,
  NextWord,
  Delete,
  SpeakWord,       // F1 (Alt+F1 ends the edit with 104)
  Battery,         // Ctrl+F11
  SpeakAll,        // Ctrl+F1
  ToggleEcho,      // F4
  Time,            // F8
  Date,            // Ctrl+F8
  Speed,           // Ctrl+F4
  OpenWord,        // F12
  ReviewOrFinish,  // Ctrl+F9: screen review with Alt, else ends the edit
};

// Action for an ordinary key byte (extended = false) or an extended key's
// code byte (extended = true).
FieldAction fieldKeyAction(bool extended, uint8_t code);

// True for the actions that change the text; they do nothing in a field that
// is not editable.
bool fieldActionEdits(FieldAction action);

}  // namespace ondaria
