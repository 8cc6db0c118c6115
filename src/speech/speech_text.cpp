// Speaking a text: with a speech server the whole text is handed over; with
// diphone speech it is cut into numbers, word runs and single characters.
#include <string>

#include "console/core/console.h"
#include "platform/speech_log.h"
#include "speech/diphone_rules.h"
#include "speech/diphone_speech.h"
#include "speech/recorded_speech.h"
#include "speech/speech.h"
#include "speech/speech_state.h"

namespace ondaria {

using namespace speech_detail;

namespace {

// Letters of Windows-1252: the punctuation and symbols among the bytes from
// 128 up (dashes, quotation marks, fractions, ...) are spoken by their names,
// never handed to the word translation as if they were letters.
bool isLetterClass(char ch) { return isCp1252Letter(static_cast<unsigned char>(ch)); }
bool isWordClass(char ch) { return ch == ' ' || isLetterClass(ch); }
bool isDigit(char ch) { return ch >= '0' && ch <= '9'; }
bool isApostrophe(char ch) { return ch == '\'' || static_cast<unsigned char>(ch) == 0x92; }
// The en and em dashes are read as the hyphen is.
bool isDash(char ch) {
  return ch == '-' || static_cast<unsigned char>(ch) == 0x96 || static_cast<unsigned char>(ch) == 0x97;
}

// "d'" before a letter ("d'água", "d’Ajuda") belongs to the word run: the
// translation joins it to the next word.
bool joinsWords(std::string_view text, size_t at) {
  return isApostrophe(text[at]) && at > 0 && (text[at - 1] == 'd' || text[at - 1] == 'D') &&
         at + 1 < text.size() && isLetterClass(text[at + 1]);
}

// Numbers of this many digits and more are spelled: a telephone number or a
// code is better heard digit by digit than as millions.
constexpr size_t kSpellDigitsFrom = 7;
// A word run is translated in pieces of at most this many characters.
constexpr size_t kWordRunMax = 999;
// Up to this many repeats of one character are spoken; further ones click
// ("=======" is four equal signs and three clicks).
constexpr int kRepeatsSpoken = 3;

std::string trimmed(std::string_view text) {
  size_t a = text.find_first_not_of(' ');
  if (a == std::string_view::npos) return {};
  size_t b = text.find_last_not_of(' ');
  return std::string(text.substr(a, b - a + 1));
}

void speakWordRun(std::string_view run) {
  std::string upper = run.size() == 3 ? foldUpper(run) : std::string();
  if (upper == "WWW") {
    spellText(run);
    return;
  }
  std::string piece(run.substr(0, kWordRunMax));
  std::string said = trimmed(piece);
  if (said.empty()) return;  // blanks alone say nothing
  platform::logSpeech(platform::SpeechEvent::Text, said);
  diphoneSpeak(translateToPhonetic(piece), false);
}

}  // namespace

void speakText(std::string_view input) {
  SpeechState& s = state();
  std::string text(input);
  if (s.queuedMode) {
    if (!text.empty()) {
      if (!s.queued.empty() && isLetterClass(text[0])) s.queued += ' ';
      s.queued += text;
      return;
    }
    text.swap(s.queued);
  }

  if (s.serverActive) {
    waitWhileSpeaking();
    if (!keyPressed()) {
      engineSpeak(text);
      s.enginePending = true;
    }
    return;
  }

  text += ' ';
  s.cut = false;
  char last = ' ';
  int repeats = 0;
  size_t pos = 0;  // the text before pos has been spoken
  auto rest = [&]() { return std::string_view(text).substr(pos); };
  while (pos < text.size() && !s.cut) {
    if (keyPressed()) {
      stopSpeech();
      break;
    }
    while (pos < text.size() && text[pos] == '0') {
      playRecording("_zero");
      ++pos;
    }
    if (pos >= text.size()) break;
    char c = text[pos];
    if (isDigit(c)) {
      size_t end = pos;
      bool dash = false;
      while (end < text.size() && (isDigit(text[end]) || text[end] == '-')) dash |= text[end++] == '-';
      std::string_view run = std::string_view(text).substr(pos, end - pos);
      pos = end;
      if (dash || run.size() >= kSpellDigitsFrom) spellText(run);
      else speakWords(numberWords(std::stoll(std::string(run))), false);
      last = ' ';  // a number ends a row of equal characters
      repeats = 0;
      continue;
    }
    if (isWordClass(c)) {
      size_t end = pos;
      while (end < text.size() && (isWordClass(text[end]) || joinsWords(text, end))) ++end;
      std::string_view run = std::string_view(text).substr(pos, end - pos);
      pos = end;
      speakWordRun(run);
      last = ' ';  // so does a word: only characters in a row click
      repeats = 0;
      if (pos + 1 < text.size() && isDash(text[pos]) && isLetterClass(text[pos + 1])) ++pos;
      continue;
    }
    if (c == last) {
      if (++repeats > kRepeatsSpoken) {
        clickSound();
        c = ' ';
      }
    } else {
      last = c;
      repeats = 0;
    }
    if (!isDash(text[pos])) {
      if (rest().substr(0, 3) == "://") {
        spellText(std::string(1, c));
      } else {
        switch (c) {
          case '(': case ')': case ',': case '.': case ':': case ';':
            speakPunctuation(rest());
            break;
          case '\t': playRecording("_FON9"); break;
          case '\n': case '\r': case ' ': break;
          default:
            if (!keyPressed()) speakChar(static_cast<uint8_t>(c));
        }
      }
    } else {
      char next = rest().size() < 3 ? ' ' : text[pos + 1];
      if (next == ' ' || isDash(next)) speakPunctuation(rest());
      else if (isDigit(next) && text[pos] == '-') playRecording("_MENOS");
      else speakChar(static_cast<uint8_t>(text[pos]));
    }
    ++pos;
  }
}

void speakPunctuation(std::string_view text) {
  if (text.empty() || keyPressed()) return;
  SpeechState& s = state();
  waitWhileSpeaking();
  char mark = text[0];
  speakChar(static_cast<uint8_t>(mark));
  bool blankAfter = text.size() > 1 && text[1] == ' ';
  switch (mark) {
    case '(': case ')': case ':': case ';': speechPause(s.colonPause); break;
    case ',': case '-': case '\x96': case '\x97': if (blankAfter) speechPause(s.commaPause); break;
    case '.': if (blankAfter) speechPause(s.fullStopPause); break;
    default: break;
  }
}

}  // namespace ondaria
