// The twenty favourite slots and the favourites menu (main option P).
//
// Slot n (1 to 20) is the entry with the key n (in decimal, "1" to "20") of
// the section "PREFERIDAS" of the station list file. Its value is the
// favourite's name, "=", and its address, split at the first "=": a missing
// entry, or a value without "=" after at least one character of name, is an
// empty slot. The address may carry the external-player marker, which is
// recognised here in any case.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace ondaria {

inline constexpr int kFavouriteCount = 20;
// Longest name and address typed when editing a favourite.
inline constexpr int kFavouriteNameLength = 50;
inline constexpr int kFavouriteAddressLength = 120;

struct FavouriteSlot {
  std::string name;     // empty for an empty slot
  std::string address;  // empty for an empty slot (or a favourite without one)
};

// Slot n is element n - 1.
using FavouriteSlots = std::array<FavouriteSlot, kFavouriteCount>;

// Splits a stored value into name and address; false for an empty slot.
bool splitFavourite(std::string_view value, FavouriteSlot& slot);

// The twenty slots as stored in the file.
FavouriteSlots loadFavourites();

// The key of slot n ("1" to "20").
std::string favouriteKey(int n);

// The browse list's text of slot n: the number, " - " and the name.
std::string favouriteItemText(int n, std::string_view name);

// A slot number typed by the user: optional blanks, an optional sign, decimal
// digits and nothing else. nullopt for anything that is not such a number or
// lies outside 1 to 20.
std::optional<int> parseSlotNumber(std::string_view text);

// Main option P: "Preferidas - que deseja? " answered with F (browse), P (play
// by number), U (last address) or ESC; arrows and F9 offer the options in a
// menu, F1 speaks them.
void favouritesMenu();
// The favourites option menu; returns F, P, U or ESC (27).
char chooseFavouritesOption();

// Option F: the twenty slots in a list. Enter plays the slot under the
// cursor, A or R removes it, E edits it, C clones it into another slot; any
// other key speaks the list's keys on the bottom row.
void browseFavourites();
// Option P: plays the slot whose number the user types.
void playFavouriteByNumber();
// Option U: plays the last address heard since start-up again.
void playLastAddress();

// Actions of the browse on slot n. Each shows its result in the open list.
void removeFavourite(int n);
void editFavourite(int n);
void cloneFavourite(int n);

}  // namespace ondaria
