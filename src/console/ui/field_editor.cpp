#include "console/ui/field_editor.h"

#include <algorithm>
#include <string>

#include "console/core/console.h"
#include "console/ui/field_text.h"
#include "console/ui/ui_draw.h"
#include "console/ui/ui_hooks.h"
#include "speech/speech.h"
#include "speech/wave_output.h"

namespace ondaria {

namespace {

constexpr int kColumns = 80;
constexpr int kRows = 25;
// Background colour index of selected characters (dark grey).
constexpr int kSelectionBackground = 8;
// readLineSpoken takes at most this many characters (a line of the program's
// questions: names, addresses, numbers).
constexpr int kLineLength = 255;

// Key bytes the editor names.
constexpr uint8_t kExtendedPrefix = 0;
constexpr uint8_t kEsc = 27;
constexpr uint8_t kEnter = 13;
constexpr uint8_t kSpeakAllLater = 222;
constexpr uint8_t kIgnoredByte = 223;
constexpr uint8_t kAltF1Result = 104;
constexpr uint8_t kF8 = 66;
constexpr uint8_t kShiftInsert = 254;
constexpr uint8_t kCtrlInsert = 255;

// 0 followed by 16, 17 or 18 is a prefix: the next byte is the key. The same
// codes are Alt+Q, Alt+W and Alt+E, so a code that came from a key pressed
// with Alt is that key, never a prefix (Alt+E then Home must not type "G").
bool isPrefixCode(uint8_t code) {
  return code >= 16 && code <= 18 && !lastKeyModifiers().alt;
}

struct KeyBinding {
  uint8_t code;
  FieldAction action;
};

// Ordinary key bytes. Any byte not listed is typed (32...255) or is another
// control byte (below 32).
constexpr KeyBinding kOrdinaryKeys[] = {
    {13, FieldAction::Finish},          // Enter
    {27, FieldAction::Finish},          // Esc
    {9, FieldAction::Finish},           // Tab
    {10, FieldAction::Finish},          // Ctrl+Enter
    {2, FieldAction::Finish},           // Ctrl+B
    {3, FieldAction::Copy},             // Ctrl+C
    {22, FieldAction::Paste},           // Ctrl+V
    {4, FieldAction::BlankToEnd},       // Ctrl+D
    {19, FieldAction::DeleteBefore},    // Ctrl+S
    {21, FieldAction::Undo},            // Ctrl+U
    {25, FieldAction::BlankAll},        // Ctrl+Y
    {8, FieldAction::Backspace},        // Backspace
    {127, FieldAction::DeleteWord},     // Ctrl+Backspace
    {11, FieldAction::SpeakPosition},   // Ctrl+K
    {28, FieldAction::DialTones},       // Ctrl+\ .
    {222, FieldAction::SpeakAllLater},  // signal: speak the text once speech ends
    {223, FieldAction::Ignore},         // signal: nothing
};

// Extended keys by code byte. Any code not listed ends the edit.
constexpr KeyBinding kExtendedKeys[] = {
    {71, FieldAction::Home},             // Home
    {79, FieldAction::End},              // End
    {75, FieldAction::Left},             // Left
    {77, FieldAction::Right},            // Right (Alt: phonetic letter)
    {115, FieldAction::PreviousWord},    // Ctrl+Left
    {116, FieldAction::NextWord},        // Ctrl+Right
    {83, FieldAction::Delete},           // Delete
    {59, FieldAction::SpeakWord},        // F1 (Alt: ends with 104)
    {104, FieldAction::Battery},         // Ctrl+F11
    {94, FieldAction::SpeakAll},         // Ctrl+F1
    {62, FieldAction::ToggleEcho},       // F4
    {66, FieldAction::Time},             // F8
    {101, FieldAction::Date},            // Ctrl+F8
    {97, FieldAction::Speed},            // Ctrl+F4
    {70, FieldAction::OpenWord},         // F12
    {102, FieldAction::ReviewOrFinish},  // Ctrl+F9 (Alt: screen review)
    {254, FieldAction::Paste},           // Shift+Insert
    {255, FieldAction::Copy},            // Ctrl+Insert
    {120, FieldAction::Ignore},          // Alt+1 ... Alt+0
    {121, FieldAction::Ignore},
    {122, FieldAction::Ignore},
    {123, FieldAction::Ignore},
    {124, FieldAction::Ignore},
    {125, FieldAction::Ignore},
    {126, FieldAction::Ignore},
    {127, FieldAction::Ignore},
    {128, FieldAction::Ignore},
    {129, FieldAction::Ignore},
};

class FieldSession {
 public:
  FieldSession(const std::string& text, int column, int row, bool editable, int width,
               int maxLength)
      : field_(text, maxLength), saved_(field_.text()), editable_(editable) {
    column_ = std::clamp(column, 1, kColumns);
    row_ = std::clamp(row, 1, kRows);
    const int length = field_.maxLength();
    width_ = std::min(std::max(width, 0), length);
    // Never wrap onto the next row; on the last row stop one cell earlier so
    // that writing the field's last cell never scrolls the screen.
    width_ = std::min(width_, kColumns + 1 - column_);
    if (row_ == kRows && column_ + width_ > kColumns) width_ = std::max(width_ - 1, 0);
  }

  uint8_t run();
  std::string result() const { return field_.trimmed(); }

 private:
  void scrollToCursor();
  void draw();
  void placeCursor() { gotoXY(column_ + field_.pos - first_, row_); }
  uint8_t finish(uint8_t key);

  // Returns true (with the key in *result) when the key ends the edit.
  bool handleOrdinary(uint8_t key, uint8_t* result);
  bool handleExtended(uint8_t code, const KeyModifiers& mods, uint8_t* result);

  void type(uint8_t c);
  void firstKeyClicks(bool blankField);
  void deleteOne(int at, bool announce);
  void deleteSelection();
  void deleteWord();
  void copy();
  void paste();
  void speakWord();
  void changeSpeed();

  FieldText field_;
  std::string saved_;
  bool editable_;
  int column_ = 1;
  int row_ = 1;
  int width_ = 0;
  int first_ = 1;
  bool firstKey_ = true;
};

void FieldSession::scrollToCursor() {
  if (field_.pos < first_) first_ = field_.pos;
  if (field_.pos > first_ + width_) first_ = field_.pos - width_;
  if (first_ < 1) first_ = 1;
}

void FieldSession::draw() {
  const std::string visible =
      drawable(std::string_view(field_.text()).substr(static_cast<size_t>(first_ - 1),
                                                      static_cast<size_t>(width_)));
  gotoXY(column_, row_);
  const int visibleEnd = first_ + static_cast<int>(visible.size());  // exclusive position
  if (field_.hasSelection() && field_.selectionLow() < visibleEnd &&
      field_.selectionHigh() > first_) {
    const int low = std::max(field_.selectionLow(), first_) - first_;
    const int high = std::min(field_.selectionHigh(), visibleEnd) - first_;
    const uint8_t attr = textAttr();
    writeBytes(std::string_view(visible).substr(0, static_cast<size_t>(low)));
    setTextBackground(kSelectionBackground);
    writeBytes(std::string_view(visible).substr(static_cast<size_t>(low),
                                                static_cast<size_t>(high - low)));
    applyAttribute(attr);
    writeBytes(std::string_view(visible).substr(static_cast<size_t>(high)));
  } else {
    writeBytes(visible);
  }
  if (column_ + width_ <= kColumns) clearToEndOfLine();
}

uint8_t FieldSession::run() {
  ensureConsole();
  for (;;) {
    scrollToCursor();
    // The strip highlights the character just left of the index it is
    // given: one past the cursor's place in view puts it on the character
    // under the cursor.
    stripShow(std::string_view(field_.text()).substr(static_cast<size_t>(first_ - 1)),
              field_.pos - first_ + 2);
    draw();
    placeCursor();

    uint8_t key = readKey();
    stopSpeech();
    const KeyModifiers mods = lastKeyModifiers();
    uint8_t result = 0;
    bool done;
    if (key == kExtendedPrefix) {
      const uint8_t code = readKey();
      if (isPrefixCode(code)) {
        done = handleOrdinary(readKey(), &result);
      } else {
        done = handleExtended(code, mods, &result);
      }
    } else {
      done = handleOrdinary(key, &result);
    }
    firstKey_ = false;
    if (done) return finish(result);
  }
}

uint8_t FieldSession::finish(uint8_t key) {
  stripRefresh();
  field_.clearSelection();
  first_ = 1;
  draw();
  gotoXY(column_, row_);
  stopSpeech();
  return key;
}

bool FieldSession::handleOrdinary(uint8_t key, uint8_t* result) {
  const FieldAction action = fieldKeyAction(false, key);
  if (action != FieldAction::Copy && action != FieldAction::Paste && key != kSpeakAllLater &&
      key != kIgnoredByte) {
    field_.clearSelection();
  }
  if (fieldActionEdits(action) && action != FieldAction::Type && !editable_) {
    return false;  // editing keys do nothing, silently, in a read-only field
  }
  switch (action) {
    case FieldAction::Finish:
      *result = key;
      return true;
    case FieldAction::Copy:
      copy();
      break;
    case FieldAction::Paste:
      paste();
      break;
    case FieldAction::BlankToEnd:
      field_.blankFrom(field_.pos);
      playRecording("_APFCPO");
      break;
    case FieldAction::DeleteBefore:
      field_.deleteBeforeCursor();
      playRecording("_APICPO");
      break;
    case FieldAction::Undo:
      field_.assign(saved_);
      field_.pos = 1;
      for (int i = 0; i < 3; ++i) errorBeep();
      break;
    case FieldAction::BlankAll:
      field_.blankAll();
      playRecording("_CPOAPA");
      field_.pos = 1;
      break;
    case FieldAction::Backspace:
      if (field_.pos <= 1) {
        errorBeep();
      } else {
        --field_.pos;
        deleteOne(field_.pos, true);
      }
      break;
    case FieldAction::DeleteWord:
      deleteWord();
      break;
    case FieldAction::SpeakPosition:
      speakText(std::to_string(field_.pos));
      break;
    case FieldAction::DialTones:
      playDialTones(field_.trimmed());
      break;
    case FieldAction::SpeakAllLater:
      waitWhileSpeaking();
      speakText(field_.trimmed());
      break;
    case FieldAction::Type:
      type(key);
      break;
    case FieldAction::ControlByte:
      firstKeyClicks(false);
      break;
    default:
      break;
  }
  return false;
}

bool FieldSession::handleExtended(uint8_t code, const KeyModifiers& mods, uint8_t* result) {
  const FieldAction action = fieldKeyAction(true, code);
  const bool clipboardKey = code == kShiftInsert || code == kCtrlInsert;
  if (mods.shift && !clipboardKey && field_.selStart == 0) {
    field_.selStart = field_.selEnd = field_.pos;
  }
  switch (action) {
    case FieldAction::Finish:
      *result = code;
      return true;
    case FieldAction::Home:
      field_.pos = 1;
      break;
    case FieldAction::End:
      field_.pos = field_.endOfText();
      break;
    case FieldAction::Left:
      if (field_.pos <= 1) {
        errorBeep();
      } else {
        --field_.pos;
        speakChar(field_.at(field_.pos));
      }
      break;
    case FieldAction::Right:
      if (field_.pos > field_.maxLength()) {
        errorBeep();
      } else {
        const uint8_t c = field_.at(field_.pos);
        const bool asciiLetter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        if (mods.alt && asciiLetter) {
          playRecording("_FON" + std::to_string(c));
        } else {
          speakChar(c);
        }
        ++field_.pos;
      }
      break;
    case FieldAction::PreviousWord:
    case FieldAction::NextWord: {
      const WordMove move =
          action == FieldAction::NextWord ? field_.nextWord() : field_.previousWord();
      field_.pos = move.pos;
      if (move.hitEdge) {
        errorBeep();
      } else {
        clickSound();
      }
      break;
    }
    case FieldAction::Delete:
      if (!editable_) break;
      if (field_.hasSelection()) {
        deleteSelection();
      } else if (field_.pos > field_.maxLength()) {
        errorBeep();  // nothing under the cursor to delete
      } else {
        deleteOne(field_.pos, true);
      }
      break;
    case FieldAction::SpeakWord:
      if (mods.alt) {
        *result = kAltF1Result;
        return true;
      }
      speakWord();
      break;
    case FieldAction::Battery:
      speakBatteryStatus();
      break;
    case FieldAction::SpeakAll:
      speakText(field_.trimmed());
      break;
    case FieldAction::ToggleEcho:
      echoTyped() = !echoTyped();
      playRecording(echoTyped() ? "_FALACI" : "_FALDLG");
      break;
    case FieldAction::Time:
      speakTime();
      break;
    case FieldAction::Date:
      speakDate();
      break;
    case FieldAction::Speed:
      changeSpeed();
      break;
    case FieldAction::OpenWord: {
      const std::string word = field_.linkWordAt(field_.pos);
      if (word.empty()) {
        errorBeep();
      } else {
        openLink(word);
      }
      break;
    }
    case FieldAction::ReviewOrFinish:
      if (!mods.alt) {
        *result = code;
        return true;
      }
      runScreenReview();
      break;
    case FieldAction::Paste:
      if (editable_) paste();
      break;
    case FieldAction::Copy:
      copy();
      break;
    default:
      break;
  }
  if (!clipboardKey) {
    if (!mods.shift) {
      field_.clearSelection();
    } else if (field_.selStart != 0) {
      field_.selEnd = field_.pos;
    }
  }
  return false;
}

void FieldSession::firstKeyClicks(bool blankField) {
  if (!firstKey_ || !clearOnFirstKey()) return;
  if (field_.endOfText() <= field_.pos) return;  // nothing but blanks at or after pos
  clickSound();
  clickSound();
  if (blankField && editable_) field_.blankAll();
}

void FieldSession::type(uint8_t c) {
  firstKeyClicks(true);
  if (!editable_) return;
  if (!field_.insert(c)) {
    errorBeep();
    return;
  }
  if (echoTyped()) speakChar(c);
}

void FieldSession::deleteOne(int at, bool announce) {
  uint8_t removed = 0;
  if (!field_.deleteAt(at, removed)) return;
  scrollToCursor();
  draw();
  placeCursor();
  if (announce) playRecording("_DEL");
  speakChar(removed);
}

void FieldSession::deleteSelection() {
  const int low = std::clamp(field_.selectionLow(), 1, field_.maxLength() + 1);
  const int high = std::clamp(field_.selectionHigh(), 1, field_.maxLength() + 1);
  field_.pos = low;
  field_.clearSelection();
  playRecording("_DEL");
  for (int i = low; i < high; ++i) deleteOne(low, false);
}

void FieldSession::deleteWord() {
  if (field_.pos > 1 && field_.at(field_.pos - 1) != ' ') {
    field_.pos = field_.previousWord().pos;
  }
  const int count = field_.wordDeletionLength(field_.pos);
  if (count <= 0) {
    errorBeep();
    return;
  }
  for (int i = 0; i < count; ++i) deleteOne(field_.pos, i == 0);
}

void FieldSession::copy() {
  if (field_.hasSelection()) {
    copyToClipboard(field_.selectedText());
  } else {
    copyToClipboard(field_.trimmed() + "\r\n");
  }
}

void FieldSession::paste() {
  // At most maxLength + 1 characters are taken; the clipboard call returns at
  // most capacity - 1.
  const size_t limit = static_cast<size_t>(field_.maxLength()) + 1;
  const std::string pasted = cleanPastedText(pasteFromClipboard(limit + 1), limit);
  // Nothing to paste (no text, or a clipboard that cannot be read) leaves the
  // field as it is, proposed text included.
  if (pasted.empty()) return;
  if (firstKey_ && clearOnFirstKey()) {
    clickSound();
    clickSound();
    field_.blankAll();
    field_.pos = 1;
  }
  // A paste longer than the field is cut, and the user hears that it was.
  if (!field_.paste(pasted)) errorBeep();
}

void FieldSession::speakWord() {
  const SpokenWord word = field_.spokenWordAt(field_.pos);
  if (word.kind == SpokenWordKind::None) {
    errorBeep();
    return;
  }
  const std::string text = field_.text().substr(static_cast<size_t>(word.start - 1),
                                                static_cast<size_t>(word.end - word.start));
  if (word.kind == SpokenWordKind::Spelled || word.kind == SpokenWordKind::Single) {
    spellText(text);
  } else {
    speakText(text);
  }
  field_.pos = word.end;
}

void FieldSession::changeSpeed() {
  playRecording("_VELOC");
  uint8_t last = 0;
  do {
    last = readKeySpoken();
  } while (keyPressed());
  // Only a digit names a speed level; Esc, Enter and any other key leave the
  // speed as it is.
  if (last == kEsc || last == kEnter || last < '0' || last > '9') return;
  setSpeechSpeed(last - '0', soundDirectory());
}

}  // namespace

FieldAction fieldKeyAction(bool extended, uint8_t code) {
  if (extended) {
    for (const KeyBinding& binding : kExtendedKeys)
      if (binding.code == code) return binding.action;
    return FieldAction::Finish;
  }
  for (const KeyBinding& binding : kOrdinaryKeys)
    if (binding.code == code) return binding.action;
  return code >= 32 ? FieldAction::Type : FieldAction::ControlByte;
}

bool fieldActionEdits(FieldAction action) {
  switch (action) {
    case FieldAction::Paste:
    case FieldAction::BlankToEnd:
    case FieldAction::DeleteBefore:
    case FieldAction::Undo:
    case FieldAction::BlankAll:
    case FieldAction::Backspace:
    case FieldAction::DeleteWord:
    case FieldAction::Delete:
    case FieldAction::Type:
      return true;
    default:
      return false;
  }
}

KeyEcho readCharEcho() {
  for (;;) {
    waitWhileSpeaking();
    uint8_t c = readKey();
    if (c == kSpeakAllLater || c == kIgnoredByte) continue;
    uint8_t code = ' ';
    if (c == kExtendedPrefix) {
      code = readKey();
      if (isPrefixCode(code)) {
        c = readKey();
        code = ' ';
      }
    }
    if (c == kExtendedPrefix && code == kF8) {
      speakTime();
      continue;
    }
    if (c >= 32) {
      const char ch = static_cast<char>(c);
      writeText(&ch, 1);
      speakChar(c);
    }
    return {c, code};
  }
}

uint8_t editField(std::string& text, int column, int row, bool editable, int width,
                  int maxLength) {
  // Recorded feedback ("_DEL", ...) must never hold up typing: for the edit,
  // recordings play without waiting for their end.
  struct AsyncRecordings {
    bool previous = waveAsyncFiles();
    AsyncRecordings() { waveAsyncFiles() = true; }
    ~AsyncRecordings() { waveAsyncFiles() = previous; }
  } async;
  FieldSession session(text, column, row, editable, width, maxLength);
  const uint8_t key = session.run();
  text = session.result();
  return key;
}

uint8_t editFieldToRightEdge(std::string& text, int column, int row, bool editable,
                             int maxLength) {
  return editField(text, column, row, editable, 79 - column, maxLength);
}

void readLineSpoken(std::string& text) {
  ensureConsole();
  text.clear();
  const int column = whereX();
  const int row = whereY();
  const uint8_t key = editFieldToRightEdge(text, column, row, true, kLineLength);
  if (key == kEsc) {
    // The field is drawn from its first character at the end of the edit, so
    // the typed characters visible on the row are these.
    const int shown = std::min(static_cast<int>(text.size()), std::max(79 - column, 0));
    gotoXY(column, row);
    writeBytes(std::string(static_cast<size_t>(shown), ' '));
    gotoXY(column, row);
    text.clear();
  }
  writeLine();
}

}  // namespace ondaria
