#include "speech/say_message.h"

#include <string>

#include "console/core/console.h"
#include "console/core/messages.h"
#include "speech/speech.h"

namespace ondaria {

void sayMessage(std::string_view key, int lineEnds) {
  const std::string text = messageText(key);
  if (lineEnds >= 0) {
    writeText(text);
    for (int i = 0; i < lineEnds; ++i) writeLine();
  }
  const std::string effect = "EF_" + std::string(key);
  if (recordingExists(effect)) playRecording(effect);
  if (recordingExists(key)) {
    playRecording(key);
  } else {
    speakText(text);
  }
}

}  // namespace ondaria
