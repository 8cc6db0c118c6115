// Text shared by the speech benchmarks: 200 words of ordinary Brazilian
// Portuguese (Windows-1252), a full stop every twelve words, for the
// real-time factors.
#pragma once

#include <iterator>
#include <string>

inline std::string twoHundredWords() {
  const char* words[] = {"a", "r\xE1" "dio", "toca", "m\xFAsica", "brasileira", "todos", "os",
                         "dias", "para", "ouvintes", "de", "todo", "o", "pa\xEDs", "com",
                         "not\xED" "cias", "e", "programas", "ao", "vivo"};
  std::string text;
  for (int i = 0; i < 200; ++i) {
    text += words[i % std::size(words)];
    text += (i % 12 == 11) ? ". " : " ";
  }
  return text;
}
