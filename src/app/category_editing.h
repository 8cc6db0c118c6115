// Maintaining the station list file from the main menu: editing, including and
// removing the stations of a category (options E, I, R, after the category
// choice), creating and destroying categories (C, D), and playing an address
// typed by hand (T).
//
// Each change is written to the station list file at once, entry by entry,
// through the INI layer's atomic writes; there is no save step and no undo. A
// name the file cannot hold as a station name (see isStorableStationName) is
// refused with the error beep, and a file that cannot be written is reported,
// never answered with "OK.".
#pragma once

#include <string>
#include <string_view>

namespace ondaria {

// Key and value of the entry written and erased again to create an empty
// category (a section header alone).
inline constexpr std::string_view kPlaceholderEntry = "xyxyxyxyxyxyxyxyxy";

// Option E: the category's entries in file order in a menu; the chosen one's
// address is edited in place (at most 255 characters) and stored on Enter.
// Repeats until ESC in the menu.
void editItem(const std::string& category);

// Option I: asks for a name and its address and stores them (an existing
// entry of that name is overwritten). Repeats until an empty name.
void includeItems(const std::string& category);

// Option R: the category's entries in a menu; the chosen one is removed after
// the S/N confirmation. Repeats until ESC in the menu.
void removeItem(const std::string& category);

// Option C: creates an empty category at the end of the file. A name that is
// already a section leaves the file untouched and still says "OK.".
void createCategory();

// Option D: removes a whole section, stations included, after the single key
// D (either case). Any name is accepted, the favourites section too.
void destroyCategory();

// Option T: plays a typed address through the external player (answer S) or
// the stream player (any other answer but ESC). The address becomes the last
// address heard, with the marker when the external player was used, so that
// the favourites option U replays it the same way.
void testAddress();

}  // namespace ondaria
