// Showing and voicing one catalogue message.
#pragma once

#include <string_view>

namespace ondaria {

// Writes the message's text at the cursor followed by `lineEnds` line ends
// (0: the cursor stays after the text; negative: nothing is shown) and voices
// it: the sound effect "EF_" + key first when it exists, then the recording
// named after the key, or the text spoken when there is no recording.
void sayMessage(std::string_view key, int lineEnds);

}  // namespace ondaria
