// Recorded speech: numbers, the time of day and dates spoken from recorded
// words of the letters directory.
//
// Word files are "_" + the word (accents "ã"/"õ" written plain, cut to 8
// characters) + ".wav": "_vinte", "_quatroc" for quatrocentos, "_milhoes".
// Missing word files are skipped silently. All sound is 8-bit unsigned mono at
// 11025 samples per second.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ondaria {

// The number in Portuguese words separated by blanks (Windows-1252): 21 gives
// "vinte e um", 1000 "mil", 1000000 "um milh\xE3o " (the scale words of the
// millions and above keep their trailing blank). Numbers of 16 digits and more
// are given digit by digit.
std::string numberWords(int64_t n);

// The file names (without directory and ".wav") that speakWords plays for a
// text of number words, in order.
std::vector<std::string> numberWordItems(std::string_view words, bool feminine);

// Plays the recorded file of each word, joined in buffers of at most 30000
// samples. `feminine` turns a final "um"/"dois" into "uma"/"duas".
void speakWords(std::string_view words, bool feminine);

// "uma hora e um minuto" style: hours feminine, then "_hora"/"_horas", then
// the minutes (when not 0) and "_minuto"/"_minutos".
void speakHourMinute(int hours, int minutes);
// Weekday, day ("_primeir" for the 1st), "_de", month, "_de", year.
void speakDayMonthYear(int day, int month, int year);
void speakTime();  // the current time of day
void speakDate();  // today's date

}  // namespace ondaria
