// Small drawing helpers shared by the field editor and the selection menus.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ondaria {

// Writes bytes at the console's cursor.
void writeBytes(std::string_view bytes);

// The text as drawn in a cell row: control bytes (which the console does not
// draw) become blanks, so the cells stay lined up with the text.
std::string drawable(std::string_view text);

// The text cut or padded with blanks to exactly `width` cells, drawable.
std::string fitted(std::string_view text, int width);

// Sets both colours of the text attribute (low nibble foreground, high nibble
// background) through the console's colour calls.
void applyAttribute(uint8_t attr);

// A-Z upper-cased, every other byte unchanged.
uint8_t upperAscii(uint8_t c);

// The text without blanks and control bytes at either end.
std::string trimmedText(std::string_view text);

// Clears rows `row`…25 and leaves the cursor at column 1 of `row`; a row past
// 25 only moves the cursor. Used to wipe the lower part of the screen.
void clearFromLine(int row);

}  // namespace ondaria
