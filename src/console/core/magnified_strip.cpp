#include "console/core/magnified_strip.h"

#include <algorithm>

#include "console/core/console.h"
#include "platform/frontend.h"

namespace ondaria {

namespace {

struct Strip {
  int factor = 0;
  int row = 1;    // 1-based grid row at whose top the band starts
  int first = 1;  // first character in view, kept so that the band scrolls smoothly
  int textColour = 14;
  int backgroundColour = 6;
  int cursorColour = 3;
};

Strip& strip() {
  static Strip s;
  return s;
}

}  // namespace

StripView stripView(std::string_view text, int cursor, int factor, int first) {
  StripView view;
  if (factor < 1) factor = 1;
  const int inView = kConsoleColumns / factor;
  const int c = std::max(cursor, 1);
  first = std::max(first, 1);
  if (c - 1 < first) first = c - 1;
  if (first < 1) first = 1;
  if (first + inView < c) first = c - inView;
  view.first = first;
  const size_t start = static_cast<size_t>(first - 1);
  if (start < text.size()) view.text = std::string(text.substr(start, static_cast<size_t>(inView)));
  view.text.resize(static_cast<size_t>(inView), ' ');
  // The character just left of the cursor, when the cursor is past the first
  // character in view.
  const int k = c - first + 1;
  view.marked = k >= 2 ? k - 2 : -1;
  return view;
}

void setStripColours(int text, int background, int cursor) {
  Strip& s = strip();
  s.textColour = text & 15;
  s.backgroundColour = background & 15;
  s.cursorColour = cursor & 15;
}

void openStrip(int row, int factor) {
  Strip& s = strip();
  s.factor = std::clamp(factor, 0, kMaxStripFactor);
  if (s.factor == 0) return;
  s.row = std::clamp(row, 1, kConsoleRows);
  s.first = 1;
}

void closeStrip() {
  refreshStrip();
  strip().factor = 0;
}

int stripFactor() { return strip().factor; }

void showInStrip(std::string_view text, int cursor) {
  Strip& s = strip();
  if (s.factor == 0) return;
  ensureConsole();
  platform::Frontend* frontend = consoleFrontend();
  if (!frontend) return;
  const StripView view = stripView(text, cursor, s.factor, s.first);
  s.first = view.first;
  platform::StripBand band;
  band.row = s.row - 1;
  band.factor = s.factor;
  band.text = view.text;
  band.marked = view.marked;
  band.textColour = static_cast<uint8_t>(s.textColour);
  band.backColour = static_cast<uint8_t>(s.backgroundColour);
  band.cursorColour = static_cast<uint8_t>(s.cursorColour);
  frontend->showStrip(band);
  frontend->flush();
}

void refreshStrip() {
  if (platform::Frontend* frontend = consoleFrontend()) {
    frontend->hideStrip();
    frontend->flush();
  }
}

}  // namespace ondaria
