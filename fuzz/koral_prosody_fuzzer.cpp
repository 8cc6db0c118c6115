// The built-in voice's prosody file: any bytes are read; an accepted file has
// tables within their limits, a rejected one says why; either way the lines
// for the synthesiser come out of any phoneme list without a line break.
#include <cstdio>

#include "fuzz_input.h"
#include "koral_file.h"
#include "tts/prosody.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string path = fuzz::koralFile(data, size, ".pro");
  ondaria::koral::Prosody prosody;
  std::string error;
  bool ok = ondaria::koral::loadProsody(path, prosody, error);
  ondaria::koral::DiphoneList diphones;
  FUZZ_CHECK(ondaria::koral::loadDiphones(path, diphones));
  std::remove(path.c_str());
  FUZZ_CHECK(ok == error.empty());
  FUZZ_CHECK(prosody.durations.size() <= 100 && prosody.keywords.size() <= 1000 &&
             prosody.rules.size() <= 300);
  auto items = ondaria::koral::splitWords("Ol\xE1, tudo bem? Sim... fim.", prosody);
  auto coded = ondaria::koral::assignCodes(items, prosody);
  FUZZ_CHECK(coded.size() == items.size());
  std::vector<std::string> list;
  for (const std::string& c : coded) {
    FUZZ_CHECK(c.size() >= 4 && c[3] == '|');
    list.push_back(";" + c);
    list.push_back("a");
    list.push_back(">k");
    list.push_back("");
  }
  for (const std::string& line : ondaria::koral::buildMbrolaLines(list, prosody, diphones, 1.0, 0.8))
    FUZZ_CHECK(line.find('\n') == std::string::npos);
  return 0;
}
