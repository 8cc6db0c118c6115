// The diphone exceptions file: any bytes (before the first zero byte) are
// read into at most 15000 sorted entries, then any text (after it) is
// translated with them and the shipped rules.
#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>

#include "fuzz_input.h"
#include "speech/diphone_rules.h"

namespace {

std::string shippedRules() {
  std::ifstream in(ONDARIA_SOURCE_DIR "/data/regras.rgr", std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string rules = shippedRules();
  std::string_view exceptions, text;
  fuzz::Input::split(std::string_view(reinterpret_cast<const char*>(data), size), '\0', exceptions, text);
  ondaria::parseDiphoneRules(rules);
  ondaria::parseDiphoneExceptions(exceptions);
  const auto& list = ondaria::diphoneExceptions();
  FUZZ_CHECK(list.size() <= ondaria::kDiphoneExceptionMax);
  FUZZ_CHECK(std::is_sorted(list.begin(), list.end(),
                            [](const auto& a, const auto& b) { return a.word < b.word; }));
  const std::string once = ondaria::translateToPhonetic(text);
  FUZZ_CHECK(once == ondaria::translateToPhonetic(text));
  ondaria::freeDiphoneRules();
  return 0;
}
