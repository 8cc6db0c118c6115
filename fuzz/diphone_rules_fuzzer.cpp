// The diphone rules file and the translation it drives: a rules file of any
// bytes (before the first zero byte) is read, then any text (after it) is
// translated; the translation is the same every time and every word of it is
// bracketed.
#include <string>

#include "fuzz_input.h"
#include "speech/diphone_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view rules, text;
  fuzz::Input::split(std::string_view(reinterpret_cast<const char*>(data), size), '\0', rules, text);
  ondaria::parseDiphoneRules(rules);
  for (unsigned c = 0; c < 256; ++c)
    for (const ondaria::DiphoneRule& rule : ondaria::diphoneRulesFor(static_cast<unsigned char>(c))) {
      FUZZ_CHECK(!rule.match.empty() && static_cast<unsigned char>(rule.match[0]) == c);
      FUZZ_CHECK(rule.left.size() <= 5 && rule.match.size() <= 5 && rule.right.size() <= 5);
      FUZZ_CHECK(rule.output.size() <= 11);
    }
  const std::string once = ondaria::translateToPhonetic(text);
  FUZZ_CHECK(once == ondaria::translateToPhonetic(text));
  FUZZ_CHECK(once.empty() || (once.front() == '[' && once.back() == ']'));
  ondaria::freeDiphoneRules();
  return 0;
}
