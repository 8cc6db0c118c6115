// The change-file reader: any bytes give lines without line ends; a section
// line begins with "["; a reported line holds no control character and is
// never longer than its limit and the "..." after it.
#include <string>

#include "app/change_file.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  for (const ondaria::ChangeFileLine& line : ondaria::readChangeFileLines(bytes)) {
    FUZZ_CHECK(!line.text.empty());
    FUZZ_CHECK(line.text.find_first_of("\r\n") == std::string::npos);
    FUZZ_CHECK(line.text[0] != ';' && line.text[0] != '*');
    FUZZ_CHECK((line.kind == ondaria::ChangeFileLine::Kind::Section) == (line.text[0] == '['));
    if (line.kind == ondaria::ChangeFileLine::Kind::Section) {
      const std::string name = ondaria::changeSectionName(line.text);
      FUZZ_CHECK(name.size() < line.text.size());
    }
    const std::string shown = ondaria::reportableLine(line.text, 70);
    FUZZ_CHECK(shown.size() <= 73);
    for (unsigned char c : shown) FUZZ_CHECK(c >= 32 && c != 127);
  }
  return 0;
}
