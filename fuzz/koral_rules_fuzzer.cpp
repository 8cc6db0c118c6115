// The built-in voice's letter rules file: any bytes are read as rules, every
// rule stays within its limits and sits in the list of its match's first
// byte, and words of every letter are turned into phonemes the same way twice.
#include <cstdio>

#include "fuzz_input.h"
#include "koral_file.h"
#include "tts/letter_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string path = fuzz::koralFile(data, size, ".nrl");
  ondaria::koral::LetterRules rules;
  FUZZ_CHECK(ondaria::koral::loadRules(path, rules));
  std::remove(path.c_str());
  for (unsigned c = 0; c < 256; ++c)
    for (const auto& rule : rules.rulesFor(static_cast<uint8_t>(c))) {
      FUZZ_CHECK(!rule.match.empty() && static_cast<uint8_t>(rule.match[0]) == c);
      FUZZ_CHECK(rule.left.size() <= 5 && rule.match.size() <= 5 && rule.right.size() <= 5);
      FUZZ_CHECK(rule.output.size() <= 20);
      FUZZ_CHECK(rule.output.find(' ') == std::string::npos);
    }
  const std::string words[] = {"CASA", "GUARDA-CHUVA", "\xC7\xC3O", "QUEIJO", std::string(300, 'A')};
  for (const std::string& w : words) {
    for (int stress : {0, 1, 3, 280}) {
      std::vector<std::string> a, b;
      ondaria::koral::wordToPhonemes(rules, w, stress, a);
      ondaria::koral::wordToPhonemes(rules, w, stress, b);
      FUZZ_CHECK(a == b && !a.empty() && a.back().empty());
      int marks = 0;
      for (const std::string& item : a) marks += item.find('>') != std::string::npos;
      FUZZ_CHECK(marks <= 1);
    }
  }
  return 0;
}
