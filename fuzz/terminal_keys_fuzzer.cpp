// Terminal key bytes: any bytes, in any pieces, become events without fault;
// text events hold valid UTF-8 of printable characters; mouse and focus
// reports are keys, buttons, single wheel steps or focus changes, never
// text; a paste is one event of at most the paste limit; and once the input
// has ended (the waits timed out) nothing stays held.
#include <string>

#include "fuzz_input.h"
#include "platform/codepage.h"
#include "platform/terminal_keys.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  platform::TerminalKeyParser parser;
  platform::FrontendEvent e;
  auto drain = [&] {
    while (parser.next(e)) {
      if (e.type == platform::EventType::Text) {
        FUZZ_CHECK(!e.text.empty());
        FUZZ_CHECK(platform::isValidUtf8(e.text));
        FUZZ_CHECK(static_cast<unsigned char>(e.text[0]) >= 0x20);
      } else if (e.type == platform::EventType::Paste) {
        FUZZ_CHECK(platform::isValidUtf8(e.text));
        // Bytes taken as cp1252 grow at most threefold in UTF-8.
        FUZZ_CHECK(e.text.size() <= platform::TerminalKeyParser::kPasteLimit * 3);
      } else if (e.type == platform::EventType::MouseWheel) {
        FUZZ_CHECK(e.wheel == 1 || e.wheel == -1);
      } else {
        FUZZ_CHECK(e.type == platform::EventType::KeyDown || e.type == platform::EventType::MouseButton ||
                   e.type == platform::EventType::FocusGained || e.type == platform::EventType::FocusLost);
      }
    }
  };
  while (!in.empty()) {
    const uint8_t how = in.byte();
    parser.feed(in.piece(how & 0x3F));
    if (how & 0x40) parser.timeout();
    drain();
  }
  for (int i = 0; i < platform::TerminalKeyParser::kPasteIdleWaits + 1 && parser.hasPending(); ++i) {
    parser.timeout();
    drain();
  }
  FUZZ_CHECK(!parser.hasPending());
  return 0;
}
