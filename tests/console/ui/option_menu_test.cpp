#include "console/ui/option_menu.h"

#include "console/ui/ui_hooks.h"
#include "ui_fixture.h"

using namespace ondaria;
using namespace ondaria::uitest;

namespace {

class OptionMenu : public UiTest {
 protected:
  // Fills the grid with characters and attributes that differ from cell to cell.
  void fillPattern() {
    for (int r = 1; r <= 25; ++r) {
      for (int c = 1; c <= 80; ++c) {
        gotoXY(c, r);
        setTextAttr(static_cast<uint8_t>((r * 7 + c) & 0xFF));
        const char ch = static_cast<char>('!' + (r * 3 + c) % 90);
        writeText(&ch, 1);
      }
    }
  }

  // Text of `width` cells of a row in a snapshot.
  static std::string cells(const WaitSnapshot& w, int column, int row, int width) {
    return rowOf(w.grid, row).substr(static_cast<size_t>(column - 1), static_cast<size_t>(width));
  }
  static int foreground(const WaitSnapshot& w, int column, int row) {
    return w.grid.attrAt(column - 1, row - 1) & 0x0F;
  }
};

void addItems(std::initializer_list<const char*> texts) {
  for (const char* t : texts) addOption("", t);
}

}  // namespace

TEST_F(OptionMenu, BoxMovesIntoTheGridAndRestoresCoveredCells) {
  fillPattern();
  setTextAttr(0x1E);
  gotoXY(10, 5);
  const platform::CellGrid before = consoleGrid();

  openOptionMenu(78, 24, 6, 5, 3);
  addItems({"um", "dois", "tr\xEAs"});
  script({key(KeyId::Down), key(KeyId::Enter)});
  EXPECT_EQ(runOptionMenu(), 2);
  EXPECT_EQ(chosenOptionText(), "dois");

  // Drawn at column 74 (80 - 6), rows 23...25 (25 - 3 + 1).
  const WaitSnapshot& first = screen->waits[0];
  EXPECT_EQ(cells(first, 74, 23, 6), "um    ");
  EXPECT_EQ(cells(first, 74, 24, 6), "dois  ");
  EXPECT_EQ(cells(first, 74, 25, 6), "tr\xEAs  ");
  EXPECT_EQ(first.grid.attrAt(73, 22), 0x5E);  // current: yellow on the box colour
  EXPECT_EQ(first.grid.attrAt(73, 23), 0x5F);  // the others white
  EXPECT_EQ(cells(first, 73, 23, 1), rowOf(before, 23).substr(72, 1));  // left of the box
  EXPECT_EQ(cells(first, 80, 23, 1), rowOf(before, 23).substr(79, 1));  // right of it
  EXPECT_EQ(foreground(screen->waits[1], 74, 23), 15);
  EXPECT_EQ(foreground(screen->waits[1], 74, 24), 14);
  EXPECT_EQ(screen->scrolls(), 0);

  // Everything under the box is back, colours included; so are the
  // attribute and the cursor.
  EXPECT_EQ(consoleGrid().chars, before.chars);
  EXPECT_EQ(consoleGrid().attrs, before.attrs);
  EXPECT_EQ(textAttr(), 0x1E);
  EXPECT_EQ(whereX(), 10);
  EXPECT_EQ(whereY(), 5);
  EXPECT_EQ(heard, (std::vector<std::string>{"text:um", "text:dois"}));
}

TEST_F(OptionMenu, MovingPastEitherEndBeepsAndStays) {
  openOptionMenu(1, 1, 10, 0, 5);
  addItems({"aa", "bb", "cc", "dd", "ee"});
  script({key(KeyId::Up), key(KeyId::End), key(KeyId::Down), key(KeyId::PageUp),
          key(KeyId::PageDown), key(KeyId::Enter)});
  EXPECT_EQ(runOptionMenu(), 5);
  EXPECT_EQ(heard, (std::vector<std::string>{"text:aa", "beep", "text:aa", "text:ee", "beep",
                                             "text:ee", "beep", "text:aa", "beep", "text:ee"}));
}

TEST_F(OptionMenu, LetterSearchGoesForwardAndRunsOffTheEnd) {
  openOptionMenu(1, 1, 10, 0, 4);
  addItems({"Abc", "Casa", "  carro", "Bola"});
  script({typed("c"), typed("C"), typed("c"), key(KeyId::Escape)});
  EXPECT_EQ(runOptionMenu(), 0);
  EXPECT_EQ(chosenOptionText(), "");
  EXPECT_EQ(heard, (std::vector<std::string>{"text:Abc", "text:Casa", "text:carro", "beep",
                                             "text:Bola"}));
}

TEST_F(OptionMenu, BlanksPunctuationAndAccentsDoNothing) {
  openOptionMenu(1, 1, 10, 0, 2);
  addItems({"um", "\xE1gua"});
  script({typed(" "), typed("."), typed("\xC3\xA1"), key(KeyId::Enter)});
  EXPECT_EQ(runOptionMenu(), 1);
  EXPECT_EQ(heard, (std::vector<std::string>{"text:um", "text:um", "text:um", "text:um"}));
}

TEST_F(OptionMenu, SortingByFoldedTextKeepsIds) {
  openOptionMenu(1, 1, 10, 0, 4);
  addItems({"b", "\xC1vila", "a", "c"});
  sortOptions();
  script({key(KeyId::Down), key(KeyId::Enter)});
  EXPECT_EQ(runOptionMenu(), 2);  // "Ávila", the second added
  EXPECT_EQ(chosenOptionText(), "\xC1vila");
  const WaitSnapshot& w = screen->waits[0];
  EXPECT_EQ(rowOf(w.grid, 1).substr(0, 5), "a    ");
  EXPECT_EQ(rowOf(w.grid, 2).substr(0, 5), "\xC1vila");
  EXPECT_EQ(rowOf(w.grid, 3).substr(0, 5), "b    ");
  EXPECT_EQ(rowOf(w.grid, 4).substr(0, 5), "c    ");
}

TEST_F(OptionMenu, AnnouncingPrefersRecordings) {
  addRecording("ODOPC_P");
  addRecording("ODOPC_F");
  openOptionMenu(1, 1, 20, 0, 5);
  addOption("ODOPC_P", "P - preferidas");
  addOption("F|ODOPC_F", "F - folhear");
  addOption("X|NENHUMA", "X sem grava\xE7\xE3o");
  addOption("Q", "Q curta");
  addOption("NENHUMA", "sem arquivo");
  script({key(KeyId::Down), key(KeyId::Down), key(KeyId::Down), key(KeyId::Down),
          key(KeyId::Right), key(KeyId::Enter)});
  EXPECT_EQ(runOptionMenu(), 5);
  EXPECT_EQ(heard, (std::vector<std::string>{
                       "recording:ODOPC_P", "char:F", "recording:ODOPC_F",
                       "text:X sem grava\xE7\xE3o", "text:Q curta", "text:sem arquivo",
                       "char:s", "char:e", "char:m", "char: ", "char:a", "char:r", "char:q",
                       "char:u", "char:i", "char:v", "char:o"}));
}

TEST_F(OptionMenu, LongMenuScrolls) {
  openOptionMenu(1, 1, 12, 0, 30);
  for (int i = 1; i <= 30; ++i) addOption("", "item " + std::to_string(i));
  script({key(KeyId::End), key(KeyId::PageUp), key(KeyId::Home), key(KeyId::PageDown, kCtrl),
          key(KeyId::Q, kCtrl), key(KeyId::Enter)});
  EXPECT_EQ(runOptionMenu(), 30);
  // End: items 6...30 fill rows 1...25, the last one current on row 25.
  const WaitSnapshot& end = screen->waits[1];
  EXPECT_EQ(rowOf(end.grid, 1).substr(0, 12), "item 6      ");
  EXPECT_EQ(rowOf(end.grid, 25).substr(0, 12), "item 30     ");
  EXPECT_EQ(end.grid.attrAt(0, 24) & 0x0F, 14);
  // Page Up: item 20 is visible, no scrolling.
  const WaitSnapshot& up = screen->waits[2];
  EXPECT_EQ(rowOf(up.grid, 1).substr(0, 12), "item 6      ");
  EXPECT_EQ(up.grid.attrAt(0, 14) & 0x0F, 14);
  // Home: back to the top.
  EXPECT_EQ(rowOf(screen->waits[3].grid, 1).substr(0, 12), "item 1      ");
  EXPECT_EQ(rowOf(screen->waits[3].grid, 25).substr(0, 12), "item 25     ");
  EXPECT_EQ(count("text:de"), 1);  // Ctrl+Q: "30 de 30"
}

TEST_F(OptionMenu, EmptyMenuBeepsAndReturnsZero) {
  fillPattern();
  const platform::CellGrid before = consoleGrid();
  openOptionMenu(5, 5, 10, 3, 0);
  script({key(KeyId::Down), typed("a"), key(KeyId::Enter)});
  EXPECT_EQ(runOptionMenu(), 0);
  EXPECT_EQ(chosenOptionText(), "");
  EXPECT_EQ(heard, (std::vector<std::string>{"beep", "beep", "beep"}));
  EXPECT_EQ(consoleGrid().chars, before.chars);
}

TEST_F(OptionMenu, MoreItemsThanAnnouncedStillRestoreTheScreen) {
  fillPattern();
  const platform::CellGrid before = consoleGrid();
  openOptionMenu(3, 20, 8, 2, 2);
  addItems({"1", "2", "3", "4"});
  script({key(KeyId::End), key(KeyId::Escape)});
  EXPECT_EQ(runOptionMenu(), 0);
  EXPECT_EQ(rowOf(screen->waits[0].grid, 23).substr(2, 8), "4       ");
  EXPECT_EQ(consoleGrid().chars, before.chars);
  EXPECT_EQ(consoleGrid().attrs, before.attrs);
}

TEST_F(OptionMenu, OversizedBoxStaysInsideTheGrid) {
  openOptionMenu(-10, -3, 200, 1, 2);
  addItems({"largo", "menu"});
  script({key(KeyId::Enter)});
  EXPECT_EQ(runOptionMenu(), 1);
  EXPECT_EQ(rowOf(screen->waits[0].grid, 1), padded("largo"));
}

TEST_F(OptionMenu, AltCtrlF9RunsScreenReviewAndGoesOn) {
  int reviews = 0;
  setScreenReviewHook([&] { ++reviews; });
  openOptionMenu(1, 1, 10, 0, 2);
  addItems({"um", "dois"});
  script({key(KeyId::F9, kCtrl | kAlt), key(KeyId::F9, kCtrl), key(KeyId::Enter)});
  EXPECT_EQ(runOptionMenu(), 1);
  setScreenReviewHook(nullptr);
  EXPECT_EQ(reviews, 1);
  EXPECT_EQ(heard, (std::vector<std::string>{"text:um", "text:um", "text:um"}));
}

TEST_F(OptionMenu, MakeRoomBelowScrollsAndReturnsToTheColumn) {
  gotoXY(1, 24);
  writeText("linha");
  makeRoomBelow(5);
  EXPECT_EQ(whereX(), 6);
  EXPECT_EQ(whereY(), 20);
  EXPECT_EQ(row(20), padded("linha"));
  makeRoomBelow(0);
  EXPECT_EQ(whereY(), 20);
  makeRoomBelow(2);  // room enough: no scroll
  EXPECT_EQ(whereY(), 20);
  EXPECT_EQ(row(20), padded("linha"));
}

class ChooseLetter : public OptionMenu {};

TEST_F(ChooseLetter, TypedCharacterComesBackUpperCased) {
  gotoXY(1, 3);
  writeText("Que deseja? ");
  script({typed("x")});
  EXPECT_EQ(chooseLetter("PFEIRCDATB\x1B"), 'X');
  EXPECT_EQ(row(3), padded("Que deseja? x"));
  EXPECT_EQ(whereX(), 1);
  EXPECT_EQ(whereY(), 4);
  EXPECT_EQ(heard, (std::vector<std::string>{"char:x"}));

  script({key(KeyId::Escape)});
  EXPECT_EQ(chooseLetter("SN"), 27);
  script({key(KeyId::Enter)});
  EXPECT_EQ(chooseLetter("SN"), 13);
}

TEST_F(ChooseLetter, PopUpOfLettersWithControlCharacters) {
  addRecording("_80");
  gotoXY(20, 20);
  script({key(KeyId::Down), key(KeyId::End), key(KeyId::Enter)});
  EXPECT_EQ(chooseLetter("PFEIRCDATB\x1B"), 27);
  // The pop-up: 11 rows, 6 columns (a control letter is among them), on red.
  const WaitSnapshot& popUp = screen->waits[1];
  EXPECT_EQ(popUp.column, 20);
  EXPECT_EQ(rowOf(popUp.grid, 14).substr(19, 6), "P     ");
  EXPECT_EQ(rowOf(popUp.grid, 23).substr(19, 6), "B     ");
  EXPECT_EQ(rowOf(popUp.grid, 24).substr(19, 6), "Ctrl-[");
  EXPECT_EQ(popUp.grid.attrAt(19, 13) >> 4, 4);
  EXPECT_EQ(heard.front(), "recording:_80");  // the recording named after "P"
  EXPECT_EQ(whereX(), 1);
  EXPECT_EQ(whereY(), 15);
}

TEST_F(ChooseLetter, PopUpChoiceIsWrittenAndReturned) {
  gotoXY(5, 2);
  script({key(KeyId::Up), key(KeyId::Down), key(KeyId::Enter)});
  EXPECT_EQ(chooseLetter("SN"), 'N');
  EXPECT_EQ(rowOf(screen->waits[1].grid, 3).substr(4, 2), "N ");  // 1 column wide
  EXPECT_EQ(row(2), padded("    N"));
  EXPECT_EQ(whereY(), 3);
}

TEST_F(OptionMenu, SignalByteWaitsForTheNextKey) {
  openOptionMenu(1, 1, 10, 0, 2);
  addItems({"um", "dois"});
  // After 223 the menu only waits for a key to be queued, then reads it as usual.
  script({bytes({223}), key(KeyId::Down), key(KeyId::Enter)});
  EXPECT_EQ(runOptionMenu(), 2);
  EXPECT_EQ(heard, (std::vector<std::string>{"text:um", "text:um", "text:dois"}));
}
