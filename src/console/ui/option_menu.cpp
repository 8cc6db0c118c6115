#include "console/ui/option_menu.h"

#include <algorithm>
#include <vector>

#include "console/core/console.h"
#include "console/ui/field_editor.h"
#include "console/ui/ui_draw.h"
#include "console/ui/ui_hooks.h"
#include "speech/speech.h"

namespace ondaria {

namespace {

constexpr int kColumns = 80;
constexpr int kRows = 25;
// Colour indexes with a fixed role: the current item and the other items.
constexpr int kCurrentColour = 14;
constexpr int kItemColour = 15;
// Background of the letter chooser's pop-up (red).
constexpr int kLetterBackground = 4;
// Pop-up width when a letter is a control byte: "Ctrl-" and the letter.
constexpr int kControlLetterWidth = 6;
// Longest single wait for events while waiting for a key after byte 223.
constexpr int kKeyWaitMs = 100;

struct MenuItem {
  int id = 0;
  std::string spokenKey;
  std::string text;
};

struct SavedRow {
  std::string chars;
  std::string attrs;
};

struct OptionMenu {
  int column = 1;
  int row = 1;
  int width = 1;
  int top = 1;
  std::vector<MenuItem> items;
  std::vector<SavedRow> saved;  // rows row, row + 1, ... of the box
  uint8_t savedAttr = 0x0F;
  int savedColumn = 1;
  int savedRow = 1;
  std::string chosenText;
};

OptionMenu& menu() {
  static OptionMenu m;
  return m;
}

struct KeyBinding {
  uint8_t code;
  MenuAction action;
};

// Extended keys by code byte; any other extended key announces the item again.
constexpr KeyBinding kMenuExtendedKeys[] = {
    {80, MenuAction::Next},      // Down
    {72, MenuAction::Previous},  // Up
    {81, MenuAction::PageDown},  // Page Down
    {73, MenuAction::PageUp},    // Page Up
    {71, MenuAction::First},     // Home
    {132, MenuAction::First},    // Ctrl+Page Up
    {79, MenuAction::Last},      // End
    {118, MenuAction::Last},     // Ctrl+Page Down
    {102, MenuAction::Review},   // Ctrl+F9 (with Alt)
    {77, MenuAction::Spell},     // Right
};

// Ordinary key bytes with a meaning of their own; letter search and "nothing"
// are decided by class (see optionMenuAction).
constexpr KeyBinding kMenuOrdinaryKeys[] = {
    {13, MenuAction::Finish},       // Enter
    {27, MenuAction::Finish},       // Esc
    {17, MenuAction::SayPosition},  // Ctrl+Q
    {223, MenuAction::WaitForKey},  // signal: wait for the next key
};

void saveRow(int screenRow) {
  OptionMenu& m = menu();
  SavedRow saved;
  for (int c = m.column; c < m.column + m.width; ++c) {
    saved.chars += static_cast<char>(charAt(c, screenRow));
    saved.attrs += static_cast<char>(attrAt(c, screenRow));
  }
  m.saved.push_back(std::move(saved));
}

// Items are drawn on rows row ... 25; the cells of any row the items reach
// beyond the count given at opening are saved before they are drawn over.
void saveRowsFor(int itemCount) {
  OptionMenu& m = menu();
  const int rowsNeeded = std::min(itemCount, kRows - m.row + 1);
  while (static_cast<int>(m.saved.size()) < rowsNeeded)
    saveRow(m.row + static_cast<int>(m.saved.size()));
}

void drawItem(int position, int colour) {
  OptionMenu& m = menu();
  const int screenRow = m.row + position - m.top;
  if (position < 1 || position > static_cast<int>(m.items.size())) return;
  if (screenRow < m.row || screenRow > kRows) return;
  gotoXY(m.column, screenRow);
  setTextColor(colour);
  writeBytes(fitted(m.items[position - 1].text, m.width));
}

void drawVisibleItems() {
  OptionMenu& m = menu();
  for (int p = m.top; p <= static_cast<int>(m.items.size()); ++p) {
    if (m.row + p - m.top > kRows) break;
    drawItem(p, kItemColour);
  }
}

void makeVisible(int position) {
  OptionMenu& m = menu();
  int top = m.top;
  if (m.row + position - top > kRows) {
    top = std::max(top, position + m.row - kRows);
  } else if (position < top) {
    top = position;
  }
  top = std::max(top, 1);
  if (top != m.top) {
    m.top = top;
    drawVisibleItems();
  }
}

void announce(const MenuItem& item, bool spell) {
  const std::string& key = item.spokenKey;
  if (spell) {
    spellText(item.text);
  } else if (!key.empty() && recordingExists(key)) {
    playRecording(key);
  } else if (key.size() < 2) {
    speakText(item.text);
  } else if (key[1] == '|') {
    const std::string name = key.substr(2);
    if (!name.empty() && recordingExists(name)) {
      spellText(key.substr(0, 1));
      playRecording(name);
    } else {
      speakText(item.text);
    }
  } else {
    speakText(item.text);
  }
}

void showCurrent(int position, bool spell) {
  OptionMenu& m = menu();
  if (position < 1 || position > static_cast<int>(m.items.size())) return;
  drawItem(position, kCurrentColour);
  gotoXY(m.column, m.row + position - m.top);  // the caret on the current item
  const MenuItem& item = m.items[position - 1];
  stripShow(item.text, 1);
  announce(item, spell);
}

int searchFrom(int position, uint8_t key) {
  OptionMenu& m = menu();
  const int count = static_cast<int>(m.items.size());
  const int start = position > count ? 1 : position + 1;
  const uint8_t wanted = upperAscii(key);
  for (int p = std::max(start, 1); p <= count; ++p) {
    const std::string& text = m.items[p - 1].text;
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) continue;
    if (upperAscii(static_cast<uint8_t>(text[first])) == wanted) return p;
  }
  return count + 1;  // no match: the search runs off the end
}

void restoreScreen() {
  OptionMenu& m = menu();
  for (size_t r = 0; r < m.saved.size(); ++r) {
    const SavedRow& saved = m.saved[r];
    gotoXY(m.column, m.row + static_cast<int>(r));
    size_t start = 0;
    while (start < saved.chars.size()) {
      size_t end = start + 1;
      while (end < saved.chars.size() && saved.attrs[end] == saved.attrs[start]) ++end;
      applyAttribute(static_cast<uint8_t>(saved.attrs[start]));
      writeBytes(drawable(std::string_view(saved.chars).substr(start, end - start)));
      start = end;
    }
  }
  applyAttribute(m.savedAttr);
  gotoXY(m.savedColumn, m.savedRow);
  stripRefresh();  // the window is repainted: the strip's band goes
  m.saved.clear();
  m.items.clear();
  m.items.shrink_to_fit();
}

// Waits until a key is queued without taking it. When no key can ever come
// (a key script used up) it stops waiting: the next readKey ends the program.
void waitForPendingKey() {
  while (!keyPressed()) {
    platform::Frontend* frontend = consoleFrontend();
    if (!frontend || frontend->inputExhausted()) return;
    waitForConsoleEvent(kKeyWaitMs);
  }
}

}  // namespace

MenuAction optionMenuAction(bool extended, uint8_t code) {
  if (extended) {
    for (const KeyBinding& binding : kMenuExtendedKeys)
      if (binding.code == code) return binding.action;
    return MenuAction::Announce;
  }
  for (const KeyBinding& binding : kMenuOrdinaryKeys)
    if (binding.code == code) return binding.action;
  const uint8_t up = upperAscii(code);
  if ((up >= 'A' && up <= 'Z') || (up >= '0' && up <= '9') || up == '*' || up == '+' ||
      up == '-' || up == '/' || code < 32) {
    return MenuAction::Search;
  }
  return MenuAction::Nothing;
}

void makeRoomBelow(int n) {
  if (n <= 0) return;
  ensureConsole();
  const int column = whereX();
  for (int i = 0; i < n; ++i) writeLine();
  gotoXY(column, whereY() - n);
}

void openOptionMenu(int column, int row, int width, int background, int count) {
  ensureConsole();
  OptionMenu& m = menu();
  m.savedColumn = whereX();
  m.savedRow = whereY();
  m.savedAttr = textAttr();
  count = std::max(count, 0);
  m.width = std::clamp(width, 1, kColumns);
  if (column + m.width > kColumns) column = kColumns - m.width;
  m.column = std::clamp(column, 1, kColumns - m.width + 1);
  if (row + count > kRows) row = kRows - count + 1;
  m.row = std::clamp(row, 1, kRows);
  m.top = 1;
  setTextBackground(background);
  m.items.clear();
  m.saved.clear();
  m.chosenText.clear();
  saveRowsFor(count);
}

void addOption(std::string_view spokenKey, std::string_view text) {
  OptionMenu& m = menu();
  MenuItem item;
  item.id = static_cast<int>(m.items.size()) + 1;
  item.spokenKey = std::string(spokenKey);
  item.text = std::string(text);
  m.items.push_back(std::move(item));
}

void sortOptions() {
  std::vector<MenuItem>& items = menu().items;
  const int n = static_cast<int>(items.size());
  std::vector<std::string> keys(items.size());
  for (int i = 0; i < n; ++i) keys[i] = foldUpper(items[i].text);
  // Shell sort, gap n/2 halving down to 1.
  for (int gap = n / 2; gap > 0; gap /= 2) {
    for (int i = gap; i < n; ++i) {
      MenuItem item = std::move(items[i]);
      std::string key = std::move(keys[i]);
      int j = i;
      while (j >= gap && keys[j - gap] > key) {
        items[j] = std::move(items[j - gap]);
        keys[j] = std::move(keys[j - gap]);
        j -= gap;
      }
      items[j] = std::move(item);
      keys[j] = std::move(key);
    }
  }
}

int runOptionMenu() {
  ensureConsole();
  OptionMenu& m = menu();
  const int count = static_cast<int>(m.items.size());
  saveRowsFor(count);
  drawVisibleItems();
  int position = 1;
  makeVisible(position);
  if (count == 0) errorBeep();

  bool spell = false;
  uint8_t key = 0;
  for (;;) {
    showCurrent(position, spell);
    spell = false;

    key = readKey();
    stopSpeech();
    const bool extended = key == 0;
    const uint8_t code = extended ? readKey() : key;
    const KeyModifiers mods = lastKeyModifiers();
    drawItem(position, kItemColour);

    const MenuAction action = optionMenuAction(extended, code);
    switch (action) {
      case MenuAction::Next: ++position; break;
      case MenuAction::Previous: --position; break;
      case MenuAction::PageDown: position += kMenuPageStep; break;
      case MenuAction::PageUp: position -= kMenuPageStep; break;
      case MenuAction::First: position = 1; break;
      case MenuAction::Last: position = count; break;
      case MenuAction::Review:
        if (mods.alt) runScreenReview();
        break;
      case MenuAction::Spell: spell = true; break;
      case MenuAction::SayPosition:
        speakText(std::to_string(position) + " de " + std::to_string(count));
        break;
      case MenuAction::WaitForKey:
        waitForPendingKey();
        break;
      case MenuAction::Search: position = searchFrom(position, code); break;
      case MenuAction::Announce:
      case MenuAction::Finish:
      case MenuAction::Nothing:
        break;
    }
    if (action == MenuAction::Finish) break;
    if (count == 0 || position < 1) {
      position = 1;
      errorBeep();
    } else if (position > count) {
      position = count;
      errorBeep();
    }
    makeVisible(position);
  }

  int result = 0;
  if (key == 27 || position < 1 || position > count) {
    m.chosenText.clear();
  } else {
    drawItem(position, kCurrentColour);
    setTextColor(kItemColour);
    result = m.items[position - 1].id;
    m.chosenText = m.items[position - 1].text;
  }
  restoreScreen();
  return result;
}

const std::string& chosenOptionText() {
  return menu().chosenText;
}

uint8_t chooseLetter(std::string_view letters) {
  const KeyEcho echo = readCharEcho();
  if (echo.character != 0) {
    writeLine();
    return upperAscii(echo.character);
  }
  const int count = static_cast<int>(letters.size());
  makeRoomBelow(count);
  const bool anyControl = std::any_of(letters.begin(), letters.end(),
                                      [](char c) { return static_cast<uint8_t>(c) < 32; });
  openOptionMenu(whereX(), whereY(), anyControl ? kControlLetterWidth : 1, kLetterBackground,
                 count);
  for (char ch : letters) {
    const uint8_t c = static_cast<uint8_t>(ch);
    std::string text = c < 32 ? std::string("Ctrl-") + static_cast<char>(c + 64) : std::string(1, ch);
    addOption("_" + std::to_string(c), text);
  }
  const int id = runOptionMenu();
  if (id < 1 || id > count) {
    writeLine();
    return 27;
  }
  const char chosen = letters[static_cast<size_t>(id - 1)];
  writeText(&chosen, 1);
  writeLine();
  return static_cast<uint8_t>(chosen);
}

}  // namespace ondaria
