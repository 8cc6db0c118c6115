// The marked list: a scrolling list inside a fixed rectangle of the screen, in
// which the user walks items with the arrow keys (each spoken) and can mark
// several at once. A run returns on any key that is not a movement or marking
// key, and the caller decides what that key means; the list may then be run
// again from the index it returned. One list exists at a time, from openList
// to closeList.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ondaria {

// The most items a list holds.
inline constexpr int kMaxListItems = 60001;

// Creates an empty list drawn in the rectangle (1-based, inclusive), which is
// kept inside the grid.
void openList(int left, int topRow, int right, int bottomRow);

// Appends an item (drawn and spoken text), unmarked. False, and nothing added,
// when the list already holds kMaxListItems items.
bool addListItem(std::string_view text);

// Replaces the drawn and spoken text of the item at a 1-based index; an index
// outside the list is ignored.
void setListItem(int index, std::string_view text);

struct ListItem {
  std::string text;
  bool marked = false;
};
// The item at a 1-based index; outside the list an empty text, unmarked.
ListItem getListItem(int index);

int listItemCount();

struct ListRunResult {
  int index = 0;     // chosen index, 1-based; 0 above the first, count + 1 below the last
  uint8_t key = 0;   // the ordinary key that ended the run; 0 for an extended key
  uint8_t code = 0;  // the extended key's code; 0 for an ordinary key
  bool chosen = false;  // index lies between 1 and the item count
};

// Runs the list from the 1-based `start` (clamped to 0 ... count + 1, the two
// resting places before the first and after the last item). With speakFirst
// the starting item is spoken; after every move the new current item is.
ListRunResult runList(int start, bool speakFirst);

// Frees the list.
void closeList();

// ---- The list's key table --------------------------------------------------------

enum class ListAction : uint8_t {
  ToggleMark,  // Space
  Mark,        // "+"
  Unmark,      // "-"
  MarkAll,     // "*"
  UnmarkAll,   // "/"
  Down,
  Up,
  PageDown,
  PageUp,
  First,        // Home, Ctrl+Page Up
  Last,         // End, Ctrl+Page Down
  MarkToFirst,  // Ctrl+Home (with Shift)
  UnmarkToLast, // Ctrl+End (with Shift)
  Review,       // Ctrl+F9: screen review with Alt, else ends the run
  End,          // ends the run, returning the key
  Nothing,
};

ListAction listKeyAction(bool extended, uint8_t code);

inline constexpr int kListPageStep = 10;

}  // namespace ondaria
