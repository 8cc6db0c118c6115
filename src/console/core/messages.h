// The message catalogue: every sentence the program says to the user, keyed by
// a short upper-case identifier beginning with "OD". Texts are cp1252 and are
// compiled in; a recording named after the key may voice a message in place of
// the synthetic voice (sayMessage, in the application).
//
// The catalogue sits in the lowest layer of our own code because the network
// and playback layers report through it as well as the application.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace ondaria {

struct Message {
  std::string_view key;
  std::string_view text;
};

// Text shown in place of a key that is not in the catalogue, followed by the key.
inline constexpr std::string_view kInvalidMessagePrefix = "--> Mensagem inv\xE1lida: ";

// The text of a key (keys are compared exactly, case matters); for an unknown
// key, kInvalidMessagePrefix followed by the key, so that a missing entry shows
// up on the screen and in speech instead of failing.
std::string messageText(std::string_view key);

// The whole catalogue in its fixed order.
std::span<const Message> messageCatalogue();

}  // namespace ondaria
