// The option menu and the letter chooser.
//
// An option menu is a pop-up box drawn over the screen at a given place: it
// saves the cells it covers (characters and attributes) and restores them when
// it is done. The user walks the items with the arrow keys, each item spoken
// as the selection moves, and picks one with Enter or gives up with Esc. One
// menu exists at a time, from openOptionMenu to the end of runOptionMenu.
//
// The letter chooser sits on top of it: the user types an option letter
// directly, or presses an arrow key and picks the letter from a pop-up list.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ondaria {

// Writes n line ends and moves the cursor back up n rows to its column, so
// that n free rows exist below it (the screen scrolls when needed).
void makeRoomBelow(int n);

// Opens a menu box with its top-left cell at (column, row), `width` cells wide,
// for `count` items, drawn on `background` (colour index). A box that would
// pass column 80 moves left (column = 80 - width); one that would pass row 25
// moves up (row = 26 - count, not above row 1). Remembers the cursor and the
// text attribute, and saves the covered cells.
void openOptionMenu(int column, int row, int width, int background, int count);

// Appends an item; its id is its position in order of adding (1, 2, ...).
// `spokenKey` names a recording that announces it: a recording name, or the
// form letter + "|" + name (the letter is spelled, then the recording played);
// when no such recording exists the text is spoken.
void addOption(std::string_view spokenKey, std::string_view text);

// Sorts the items by their texts compared without case and accents. Items keep
// their ids, so runOptionMenu still names an item as it was added.
void sortOptions();

// Runs the menu from item 1, restores the covered cells, the attribute and the
// cursor, and returns the chosen item's id, or 0 after Esc.
int runOptionMenu();

// The text of the item last chosen; empty after Esc.
const std::string& chosenOptionText();

// The letter chooser. `letters` are the menu's option letters in display
// order (Esc given as the byte 27). Reads one key with echo: a character is
// returned upper-cased (A-Z; any character, not only one of the letters, so
// the caller must check it; Enter and Esc come back as 13 and 27). An extended
// key opens a pop-up of the letters below the cursor (a control byte shows as
// "Ctrl-" and the letter 64 places higher) and returns the letter picked, or
// 27 after Esc.
uint8_t chooseLetter(std::string_view letters);

// ---- The menu's key table -----------------------------------------------------

enum class MenuAction : uint8_t {
  Next,         // Down
  Previous,     // Up
  PageDown,     // 10 items down
  PageUp,       // 10 items up
  First,        // Home, Ctrl+Page Up
  Last,         // End, Ctrl+Page Down
  Review,       // Ctrl+F9: screen review with Alt, else as Announce
  Spell,        // Right: spell the current item
  Announce,     // any other extended key: announce again
  Finish,       // Enter, Esc
  SayPosition,  // Ctrl+Q: "n de total"
  WaitForKey,   // 223: wait until a key is pending
  Search,       // letters, digits, * + - / and other control bytes
  Nothing,      // blanks, punctuation, accented letters
};

MenuAction optionMenuAction(bool extended, uint8_t code);

// Number of items a Page Up or Page Down moves.
inline constexpr int kMenuPageStep = 10;

}  // namespace ondaria
