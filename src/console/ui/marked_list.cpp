#include "console/ui/marked_list.h"

#include <algorithm>
#include <vector>

#include "console/core/console.h"
#include "console/ui/ui_draw.h"
#include "console/ui/ui_hooks.h"
#include "speech/speech.h"

namespace ondaria {

namespace {

constexpr int kColumns = 80;
constexpr int kRows = 25;
// Colour indexes with a fixed role: the current item and a marked item.
constexpr int kCurrentColour = 14;
constexpr int kMarkedColour = 2;

struct MarkedList {
  int left = 1;
  int topRow = 1;
  int right = kColumns;
  int bottomRow = kRows;
  std::vector<std::string> texts;
  std::vector<std::string> spokenTexts;
  std::vector<uint8_t> marks;  // 1 = marked
  int current = 0;             // 0-based; -1 and count are resting places
  int firstVisible = 0;
};

MarkedList& list() {
  static MarkedList l;
  return l;
}

struct KeyBinding {
  uint8_t code;
  ListAction action;
};

constexpr KeyBinding kListOrdinaryKeys[] = {
    {' ', ListAction::ToggleMark},
    {'+', ListAction::Mark},
    {'-', ListAction::Unmark},
    {'*', ListAction::MarkAll},
    {'/', ListAction::UnmarkAll},
};

// Extended keys by code byte; any code not listed does nothing.
constexpr KeyBinding kListExtendedKeys[] = {
    {80, ListAction::Down},          // Down
    {72, ListAction::Up},            // Up
    {81, ListAction::PageDown},      // Page Down
    {73, ListAction::PageUp},        // Page Up
    {71, ListAction::First},         // Home
    {132, ListAction::First},        // Ctrl+Page Up
    {79, ListAction::Last},          // End
    {118, ListAction::Last},         // Ctrl+Page Down
    {119, ListAction::MarkToFirst},  // Ctrl+Home
    {117, ListAction::UnmarkToLast}, // Ctrl+End
    {102, ListAction::Review},       // Ctrl+F9
    {75, ListAction::End},           // Left
    {77, ListAction::End},           // Right
    {115, ListAction::End},          // Ctrl+Left
    {116, ListAction::End},          // Ctrl+Right
};

int count() {
  return static_cast<int>(list().texts.size());
}

bool inList(int index) {
  return index >= 0 && index < count();
}

void setMark(int index, bool on) {
  if (inList(index)) list().marks[static_cast<size_t>(index)] = on ? 1 : 0;
}

bool isMarked(int index) {
  return inList(index) && list().marks[static_cast<size_t>(index)] != 0;
}

// Marks or unmarks the items between two indexes (inclusive, either order),
// limited to the list.
void setMarks(int from, int to, bool on) {
  if (count() == 0) return;
  int low = std::clamp(std::min(from, to), 0, count() - 1);
  int high = std::clamp(std::max(from, to), 0, count() - 1);
  std::fill(list().marks.begin() + low, list().marks.begin() + high + 1, on ? 1 : 0);
}

int visibleRows() {
  return list().bottomRow - list().topRow + 1;
}

void scrollToCurrent() {
  MarkedList& l = list();
  if (l.current < l.firstVisible) l.firstVisible = l.current;
  if (l.current >= l.firstVisible + visibleRows()) l.firstVisible = l.current - visibleRows() + 1;
  if (l.firstVisible < 0) l.firstVisible = 0;
}

void draw(int foreground) {
  MarkedList& l = list();
  const int width = l.right - l.left + 1;
  for (int r = 0; r < visibleRows(); ++r) {
    const int index = l.firstVisible + r;
    int colour = foreground;
    if (index == l.current) {
      colour = kCurrentColour;
    } else if (isMarked(index)) {
      colour = kMarkedColour;
    }
    gotoXY(l.left, l.topRow + r);
    setTextColor(colour);
    writeBytes(fitted(inList(index) ? std::string_view(l.texts[index]) : std::string_view(),
                      width));
  }
  setTextColor(foreground);
}

void speakCurrent() {
  MarkedList& l = list();
  if (!inList(l.current)) return;
  if (isMarked(l.current)) errorBeep();
  const std::string& spoken = l.spokenTexts[static_cast<size_t>(l.current)];
  stripShow(spoken, 1);
  speakText(spoken);
}

void placeCursor() {
  MarkedList& l = list();
  const int r = std::clamp(l.current - l.firstVisible, 0, visibleRows() - 1);
  gotoXY(l.left, l.topRow + r);
}

// After a movement: the resting places above and below the list are as far
// as the cursor goes, with a beep.
void clampAfterMove() {
  MarkedList& l = list();
  if (l.current < 0) {
    l.current = -1;
    errorBeep();
  } else if (l.current >= count()) {
    l.current = count();
    errorBeep();
  }
}

}  // namespace

ListAction listKeyAction(bool extended, uint8_t code) {
  if (extended) {
    for (const KeyBinding& binding : kListExtendedKeys)
      if (binding.code == code) return binding.action;
    // F1...F12, Ctrl+F1...Ctrl+F8 and Ctrl+F10...Ctrl+F12 end the run too.
    if ((code >= 59 && code <= 70) || (code >= 94 && code <= 101) ||
        (code >= 103 && code <= 105)) {
      return ListAction::End;
    }
    return ListAction::Nothing;
  }
  for (const KeyBinding& binding : kListOrdinaryKeys)
    if (binding.code == code) return binding.action;
  return ListAction::End;
}

void openList(int left, int topRow, int right, int bottomRow) {
  ensureConsole();
  MarkedList& l = list();
  l.left = std::clamp(left, 1, kColumns);
  l.right = std::clamp(right, l.left, kColumns);
  l.topRow = std::clamp(topRow, 1, kRows);
  l.bottomRow = std::clamp(bottomRow, l.topRow, kRows);
  l.texts.clear();
  l.spokenTexts.clear();
  l.marks.clear();
  l.current = 0;
  l.firstVisible = 0;
}

bool addListItem(std::string_view text) {
  MarkedList& l = list();
  if (count() >= kMaxListItems) return false;
  l.texts.emplace_back(text);
  l.spokenTexts.emplace_back(text);
  l.marks.push_back(0);
  return true;
}

void setListItem(int index, std::string_view text) {
  if (!inList(index - 1)) return;
  list().texts[static_cast<size_t>(index - 1)] = std::string(text);
  list().spokenTexts[static_cast<size_t>(index - 1)] = std::string(text);
}

ListItem getListItem(int index) {
  if (!inList(index - 1)) return {};
  return {list().texts[static_cast<size_t>(index - 1)], isMarked(index - 1)};
}

int listItemCount() {
  return count();
}

ListRunResult runList(int start, bool speakFirst) {
  ensureConsole();
  MarkedList& l = list();
  const uint8_t attr = textAttr();
  const int foreground = attr & 0x0F;
  l.current = std::clamp(start - 1, -1, count());
  bool speak = speakFirst;
  ListRunResult result;

  for (;;) {
    scrollToCurrent();
    draw(foreground);
    if (speak) speakCurrent();
    speak = true;
    placeCursor();

    const uint8_t key = readKey();
    const KeyModifiers mods = lastKeyModifiers();
    const bool extended = key == 0;
    const uint8_t code = extended ? readKey() : key;
    stopSpeech();
    const ListAction action = listKeyAction(extended, code);
    const int last = count() - 1;
    bool moved = true;
    bool finished = false;

    switch (action) {
      case ListAction::ToggleMark:
        setMark(l.current, !isMarked(l.current));
        moved = false;
        break;
      case ListAction::Mark: setMark(l.current, true); moved = false; break;
      case ListAction::Unmark: setMark(l.current, false); moved = false; break;
      case ListAction::MarkAll: setMarks(0, last, true); moved = false; break;
      case ListAction::UnmarkAll: setMarks(0, last, false); moved = false; break;
      case ListAction::Down:
        if (mods.shift && inList(l.current)) {
          if (!isMarked(l.current)) errorBeep();
          setMark(l.current, true);
        }
        ++l.current;
        if (mods.shift) setMark(l.current, true);
        break;
      case ListAction::Up:
        if (mods.shift) setMark(l.current, false);
        --l.current;
        break;
      case ListAction::PageDown: l.current += kListPageStep; break;
      case ListAction::PageUp: l.current -= kListPageStep; break;
      case ListAction::First:
        if (mods.shift) setMarks(l.current, 0, false);
        errorBeep();
        l.current = 0;
        break;
      case ListAction::Last:
        if (mods.shift) setMarks(l.current, last, true);
        errorBeep();
        l.current = last;
        break;
      case ListAction::MarkToFirst:
        if (!mods.shift) {
          moved = false;
          break;
        }
        setMarks(l.current, 0, true);
        errorBeep();
        l.current = 0;
        break;
      case ListAction::UnmarkToLast:
        if (!mods.shift) {
          moved = false;
          break;
        }
        setMarks(l.current, last, false);
        l.current = last;
        errorBeep();
        break;
      case ListAction::Review:
        if (!mods.alt) {
          result.code = code;
          finished = true;
          break;
        }
        runScreenReview();
        moved = false;
        break;
      case ListAction::End:
        if (extended) {
          result.code = code;
        } else {
          result.key = code;
        }
        finished = true;
        break;
      case ListAction::Nothing:
        moved = false;
        break;
    }
    if (finished) break;
    if (moved) clampAfterMove();
  }

  applyAttribute(attr);
  stripRefresh();  // the window is repainted: the strip's band goes
  result.index = l.current + 1;
  result.chosen = result.index >= 1 && result.index <= count();
  return result;
}

void closeList() {
  MarkedList& l = list();
  l.texts = {};
  l.spokenTexts = {};
  l.marks = {};
  l.current = 0;
  l.firstVisible = 0;
}

}  // namespace ondaria
