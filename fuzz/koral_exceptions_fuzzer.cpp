// The built-in voice's exceptions file: any bytes are read; the list is
// sorted for search by halving, holds at most 15000 words, and every word it
// holds is found again.
#include <algorithm>
#include <cstdio>

#include "fuzz_input.h"
#include "koral_file.h"
#include "tts/letter_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string path = fuzz::koralFile(data, size, ".exc");
  ondaria::koral::LetterRules rules;
  FUZZ_CHECK(ondaria::koral::loadExceptions(path, rules));
  std::remove(path.c_str());
  const auto& list = rules.exceptions();
  FUZZ_CHECK(list.size() <= 15000);
  FUZZ_CHECK(std::is_sorted(list.begin(), list.end(),
                            [](const auto& a, const auto& b) { return a.first < b.first; }));
  for (const auto& [word, replacement] : list) {
    FUZZ_CHECK(!word.empty());
    std::string found = ondaria::koral::applyException(rules, word);
    FUZZ_CHECK(found == ondaria::koral::applyException(rules, word));
  }
  return 0;
}
