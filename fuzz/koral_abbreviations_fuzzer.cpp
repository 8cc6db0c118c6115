// The built-in voice's abbreviation file and the normalisation it drives: a
// file of any bytes (before the first zero byte) is read, then any text (after
// it) is normalised; the result is the same every time and bounded in size.
#include <cstdio>

#include "fuzz_input.h"
#include "koral_file.h"
#include "tts/text_normaliser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view file, text;
  fuzz::Input::split(std::string_view(reinterpret_cast<const char*>(data), size), '\0', file, text);
  std::string path = fuzz::koralFile(reinterpret_cast<const uint8_t*>(file.data()), file.size(), ".abr");
  ondaria::koral::Abbreviations table;
  FUZZ_CHECK(ondaria::koral::loadAbbreviations(path, table));
  std::remove(path.c_str());
  FUZZ_CHECK(table.size() <= 2000);
  std::string once = ondaria::koral::normaliseText(text, table);
  FUZZ_CHECK(once == ondaria::koral::normaliseText(text, table));
  FUZZ_CHECK(once.size() <= text.size() * 1100 + 64);  // an expansion is at most 999 bytes
  return 0;
}
