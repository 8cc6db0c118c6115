// The INI reader (settings file, station list): any bytes parse; every listed
// entry can be found; a written value reads back exactly, leaves every other
// entry as it was and keeps the file's encoding; an erased entry is gone.
#include <string>
#include <vector>

#include "console/core/ini_text.h"
#include "fuzz_input.h"

using ondaria::ini::Edit;
using ondaria::ini::IniText;

namespace {

const char* const kValues[] = {"", "  blanks  ", "\"quoted\"", "a=b;[c] ; d", "R\xE1" "dio \x93" "Clube\x94",
                               "http://exemplo/a?b=c&d"};

// The values of the first entries of every section, for comparing after an edit.
std::vector<std::string> snapshot(const IniText& text, const std::string& skipSection,
                                  const std::string& skipKey) {
  std::vector<std::string> out;
  for (const std::string& section : text.sectionNames()) {
    int n = 0;
    for (const auto& [key, value] : text.entries(section)) {
      if (ondaria::ini::foldName(section) == ondaria::ini::foldName(skipSection) &&
          ondaria::ini::foldName(key) == ondaria::ini::foldName(skipKey))
        continue;
      if (++n > 8) break;
      out.push_back(section + "\n" + key + "\n" + value);
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const IniText text(bytes);
  FUZZ_CHECK(text.bytes() == bytes);

  const std::vector<std::string> sections = text.sectionNames();
  for (const std::string& section : sections) {
    for (const auto& [key, value] : text.entries(section)) {
      std::string found;
      FUZZ_CHECK(text.find(section, key, found));
      // Lines end at CR as well as LF: neither is ever part of a value.
      FUZZ_CHECK(found.find_first_of("\r\n") == std::string::npos);
    }
  }

  // One edit, chosen by the input's size, on the first section (or a new one).
  const std::string section = sections.empty() ? std::string("Nova") : sections.front();
  const std::vector<std::string> keys = text.keyNames(section);
  const std::string key = keys.empty() ? std::string("chave") : keys[size % keys.size()];
  const std::string value = kValues[size % (sizeof kValues / sizeof kValues[0])];
  const std::vector<std::string> before = snapshot(text, section, key);

  std::string out;
  if (text.setValue(section, key, value, out) == Edit::Changed) {
    const IniText edited(out, text.encoding());
    std::string got;
    FUZZ_CHECK(edited.find(section, key, got));
    // What cannot be held in cp1252 reads back as "?" from a UTF-8 file; the
    // values written here are all cp1252, so they come back exactly.
    FUZZ_CHECK(got == value);
    FUZZ_CHECK(snapshot(edited, section, key) == before);
    if (text.encoding() == ondaria::ini::TextEncoding::Utf8Bom)
      FUZZ_CHECK(out.compare(0, 3, "\xEF\xBB\xBF") == 0);
  }
  if (text.erase(section, key, out) == Edit::Changed) {
    const IniText erased(out, text.encoding());
    std::string got;
    FUZZ_CHECK(!erased.find(section, key, got));
  }
  return 0;
}
