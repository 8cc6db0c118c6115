// Console output costs:
//   - writing 10 000 lines through writeLine, every one of them scrolling the
//     grid, with the headless front-end (the console's own work) and with the
//     window (SDL dummy video driver, software rendering);
//   - redrawing and presenting the whole window: one attribute everywhere,
//     and the worst case of every cell its own attribute;
//   - one line scrolled in at the bottom and presented.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "console/core/console.h"
#include "platform/frontend.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void writeLines(const char* label, int lines) {
  std::string text = "Linha de teste com acentua\xE7\xE3o: r\xE1" "dio, m\xFA" "sica, not\xED" "cias ";
  ondaria::clearScreen();
  const Clock::time_point start = Clock::now();
  for (int i = 0; i < lines; ++i) ondaria::writeLine(text + std::to_string(i));
  ondaria::pumpWindowMessages();  // the window shows what is pending
  const double s = secondsSince(start);
  std::printf("%-34s %8d lines  %8.3f s  %10.0f lines/s\n", label, lines, s, lines / s);
}

void fillGrid(platform::CellGrid& grid, bool attributePerCell) {
  for (int row = 0; row < platform::CellGrid::kRows; ++row)
    for (int col = 0; col < platform::CellGrid::kColumns; ++col) {
      const int i = row * platform::CellGrid::kColumns + col;
      grid.chars[i] = static_cast<uint8_t>(33 + (row * 7 + col) % 94);
      grid.attrs[i] = attributePerCell ? static_cast<uint8_t>(((col % 8) << 4) | (15 - col % 8))
                                       : static_cast<uint8_t>(0x1E);
    }
}

void windowRedraw() {
  platform::CellGrid grid;
  auto window = platform::makeSdlFrontend();
  if (!window->open(grid, platform::FrontendOptions{})) {
    std::printf("window: cannot open (SDL video)\n");
    return;
  }
  std::printf("window cells: %d x %d pixels\n", window->cellWidth(), window->cellHeight());
  constexpr int kRounds = 200;
  for (bool perCell : {false, true}) {
    fillGrid(grid, perCell);
    // The first redraw renders the cell images it has not seen yet.
    Clock::time_point start = Clock::now();
    window->repaintAll();
    window->keyWait(true, 0, 0);  // presents at once
    std::printf("%-34s %8.3f ms (first, images rendered)\n",
                perCell ? "window redraw, attribute per cell" : "window redraw, one attribute",
                secondsSince(start) * 1000.0);
    start = Clock::now();
    for (int i = 0; i < kRounds; ++i) {
      window->repaintAll();
      window->keyWait(i % 2 == 0, 0, 0);
    }
    std::printf("%-34s %8.3f ms per full redraw\n",
                perCell ? "window redraw, attribute per cell" : "window redraw, one attribute",
                secondsSince(start) * 1000.0 / kRounds);
  }
  // One new line at the bottom, shown at once (a line written, then a key
  // awaited): canvas moved up a row, one row drawn, window presented.
  fillGrid(grid, false);
  window->repaintAll();
  window->keyWait(true, 0, 0);
  const Clock::time_point start = Clock::now();
  for (int i = 0; i < kRounds; ++i) {
    std::copy(grid.chars.begin() + 80, grid.chars.end(), grid.chars.begin());
    window->scrolled(true);
    window->keyWait(i % 2 == 0, 0, 24);
  }
  std::printf("%-34s %8.3f ms per line\n", "window scroll + present", secondsSince(start) * 1000.0 / kRounds);
  window->close();
}

}  // namespace

int main() {
  setenv("SDL_VIDEODRIVER", "dummy", 0);
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  ondaria::setConsoleExitHandler([] {});

  ondaria::resetConsole();
  ondaria::setConsoleFrontend(std::make_unique<platform::HeadlessFrontend>(-1));
  writeLines("writeLine, headless", 10000);

  ondaria::resetConsole();
  ondaria::setConsoleFrontend(platform::makeSdlFrontend());
  writeLines("writeLine, window (dummy video)", 10000);
  ondaria::resetConsole();

  windowRedraw();
  return 0;
}
