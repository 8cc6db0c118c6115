// The magnified strip: for users with low vision, the line being worked on
// (the text of the field being edited, the current menu item, the row under
// the review cursor) repeated in a band across the bottom of the console,
// `factor` times larger than the grid's characters, with the character at the
// cursor in a colour of its own.
//
// The band is not part of the cell grid: the front-end paints it over the
// bottom rows (see platform::StripBand), and any repaint of the window
// (refreshStrip, clearScreen, a menu closing) gives those rows back to the
// grid until the next showInStrip. The menus keep the band's rows free while
// the strip is on: they ask stripFactor.
//
// Start-up: the speech front-end reads the low-vision settings (section
// "BAIXAVISAO" of "Lumare.ini"), gives the colours to setStripColours and,
// for a factor other than 0, opens the strip at row 1; the radio program then
// reopens it at row 26 - factor, so that the band covers the bottom `factor`
// rows of the 25-row grid.
#pragma once

#include <string>
#include <string_view>

namespace ondaria {

// Largest magnification the settings allow.
inline constexpr int kMaxStripFactor = 10;

// Colour indexes 0…15 (drawn through the console's colour map) of the text,
// the band's background and the character at the cursor.
void setStripColours(int text, int background, int cursor);
// factor 0: no strip. Otherwise the band starts at the top of grid row `row`
// (1-based) and is `factor` rows high; factors above 10 are taken as 10.
void openStrip(int row, int factor);
// The strip is switched off and its band removed from the window.
void closeStrip();
// The current factor; 0 while the strip is off.
int stripFactor();
// Shows `text` in the band. `cursor` is a 1-based index into the text; the
// character highlighted is the one just left of it (cursor 1: none), and
// the part in view scrolls so that it stays visible. Does nothing while the
// strip is off.
void showInStrip(std::string_view text, int cursor);
// Removes the band until the next showInStrip: the window shows the grid's
// own cells there again.
void refreshStrip();

// What one call of showInStrip puts in view, for a strip of `factor` whose
// first character in view was `first` (1-based, kept between calls).
struct StripView {
  std::string text;  // the characters in view, padded with blanks to 80 / factor
  int marked = -1;   // 0-based index into `text` of the highlighted character; -1 none
  int first = 1;     // new first character in view
};
StripView stripView(std::string_view text, int cursor, int factor, int first);

}  // namespace ondaria
