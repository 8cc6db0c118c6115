#include "platform/speech_log.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "platform/codepage.h"

namespace platform {

namespace {

struct SpeechLog {
  std::mutex lock;  // speech servers may log from their own threads
  FILE* file = nullptr;
  bool envChecked = false;
  SpeechObserver observer;
};

SpeechLog& state() {
  static SpeechLog log;
  return log;
}

void openFile(SpeechLog& log, const std::string& path) {
  if (log.file) {
    fclose(log.file);
    log.file = nullptr;
  }
  if (!path.empty()) log.file = fopen(path.c_str(), "a");
}

}  // namespace

const char* speechEventName(SpeechEvent kind) {
  switch (kind) {
    case SpeechEvent::Text: return "text";
    case SpeechEvent::Recording: return "recording";
    case SpeechEvent::Char: return "char";
    case SpeechEvent::Beep: return "beep";
    case SpeechEvent::Click: return "click";
    case SpeechEvent::Tone: return "tone";
    case SpeechEvent::Message: return "message";
    case SpeechEvent::Cut: return "cut";
    case SpeechEvent::Engine: return "engine";
  }
  return "?";
}

void setSpeechLogFile(const std::string& path) {
  SpeechLog& log = state();
  std::lock_guard<std::mutex> guard(log.lock);
  log.envChecked = true;
  openFile(log, path);
}

void setSpeechObserver(SpeechObserver observer) {
  SpeechLog& log = state();
  std::lock_guard<std::mutex> guard(log.lock);
  log.observer = std::move(observer);
}

void logSpeech(SpeechEvent kind, std::string_view text) {
  SpeechLog& log = state();
  SpeechObserver observer;
  {
    std::lock_guard<std::mutex> guard(log.lock);
    if (!log.envChecked) {
      log.envChecked = true;
      if (const char* path = std::getenv("ONDARIA_SPEECH_LOG"); path && *path) openFile(log, path);
    }
    if (log.file) {
      // Line ends inside the text would split the event; show them as blanks.
      std::string line = cp1252ToUtf8(text);
      for (char& c : line)
        if (c == '\n' || c == '\r') c = ' ';
      fprintf(log.file, "%s\t%s\n", speechEventName(kind), line.c_str());
      fflush(log.file);
    }
    observer = log.observer;
  }
  if (observer) observer(kind, std::string(text));
}

}  // namespace platform
