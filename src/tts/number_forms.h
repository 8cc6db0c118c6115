// Numbers that are read by what they mean rather than digit group by digit
// group: clock times, dates and sums of money, as a Brazilian reads them.
//
//   21h  21h30  8h15min  14:30  14:30:15   vinte e uma horas; vinte e uma
//                                          horas e trinta minutos; quatorze e
//                                          trinta; quatorze horas, trinta
//                                          minutos e quinze segundos
//   15/03/2025  1/5  01/01/26              quinze de março de dois mil e vinte
//                                          e cinco; primeiro de maio; ...
//   R$ 35,50  US$ 10  € 5  5 €  R$ 2 bi    trinta e cinco reais e cinquenta
//                                          centavos; dez dólares; cinco euros;
//                                          dois bilhões de reais
//
// Each reader looks at `position` (the first digit of a number, or the
// currency sign of a sum) and, when the text there is its form, appends the
// words to `words`, moves the position past the form and returns true.
// Otherwise it changes nothing and returns false, and the text is read as
// any other number. A form must stand alone: a date or time that runs on
// into more digits, or a day that its month does not have, is no form.
// Windows-1252 in and out.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ondaria::koral {

bool readClockTime(std::string_view text, size_t& position, std::string& words);
bool readDate(std::string_view text, size_t& position, std::string& words);
// At a currency sign (R$ US$ U$ $ €) followed by an amount, or at an amount
// followed by "€".
bool readMoney(std::string_view text, size_t& position, std::string& words);

}  // namespace ondaria::koral
