#include "console/ui/field_editor.h"

#include "console/ui/ui_hooks.h"
#include "speech/recorded_speech.h"
#include "ui_fixture.h"

using namespace ondaria;
using namespace ondaria::uitest;

namespace {

class FieldEditor : public UiTest {};

}  // namespace

TEST_F(FieldEditor, EndPutsCursorAfterTextAndEnterReturnsTrimmedText) {
  script({key(KeyId::End), key(KeyId::Enter)});
  std::string text = "abc";
  EXPECT_EQ(editField(text, 5, 3, true, 10, 10), 13);
  EXPECT_EQ(text, "abc");
  ASSERT_EQ(screen->waits.size(), 2u);
  EXPECT_EQ(screen->waits[0].column, 5);
  EXPECT_EQ(screen->waits[1].column, 8);  // just after the c
  EXPECT_EQ(screen->waits[1].row, 3);
  EXPECT_EQ(row(3), padded("    abc"));
  EXPECT_EQ(whereX(), 5);  // back on the field's first cell
}

TEST_F(FieldEditor, TerminatingKeys) {
  setBreakEndsProgram(false);  // Alt combinations reach the program
  const std::pair<PacedFrontend::Step, uint8_t> cases[] = {
      {key(KeyId::Escape), 27},           {key(KeyId::Tab), 9},
      {key(KeyId::Enter, kCtrl), 10},     {key(KeyId::B, kCtrl), 2},
      {key(KeyId::Up), 72},               {key(KeyId::Down), 80},
      {key(KeyId::PageUp), 73},           {key(KeyId::F2), 60},
      {key(KeyId::F9), 67},               {key(KeyId::F9, kCtrl), 102},
      {key(KeyId::F1, kAlt), 104},
  };
  for (const auto& [step, expected] : cases) {
    script({step});
    std::string text = "x";
    EXPECT_EQ(editField(text, 1, 1, true, 10, 10), expected);
    EXPECT_EQ(text, "x");
  }
}

TEST_F(FieldEditor, FirstKeyReplacesProposedTextWithTwoClicks) {
  script({typed("x"), key(KeyId::Enter)});
  std::string text = "casa";
  editField(text, 1, 2, true, 20, 20);
  EXPECT_EQ(text, "x");
  EXPECT_EQ(heard, (std::vector<std::string>{"click", "click", "char:x"}));
  EXPECT_EQ(row(2), padded("x"));
}

TEST_F(FieldEditor, FirstKeyClicksButChangesNothingInReadOnlyField) {
  script({typed("x"), key(KeyId::Right), key(KeyId::Enter)});
  std::string text = "casa";
  editField(text, 1, 1, false, 20, 20);
  EXPECT_EQ(text, "casa");
  EXPECT_EQ(heard, (std::vector<std::string>{"click", "click", "char:c"}));
}

TEST_F(FieldEditor, TypingInsertsAndEchoToggles) {
  script({key(KeyId::End), typed("de"), key(KeyId::F4), typed("f"), key(KeyId::F4), typed("g"),
          key(KeyId::Home), typed("_"), key(KeyId::Enter)});
  std::string text = "abc";
  editField(text, 1, 1, true, 20, 20);
  EXPECT_EQ(text, "_abcdefg");
  EXPECT_EQ(heard, (std::vector<std::string>{"char:d", "char:e", "recording:_FALDLG",
                                             "recording:_FALACI", "char:g", "char:_"}));
}

TEST_F(FieldEditor, TypingIntoFullFieldBeepsAndKeepsText) {
  script({key(KeyId::Right), typed("x"), key(KeyId::End), typed("y"), key(KeyId::Enter)});
  std::string text = "abcd";
  editField(text, 1, 1, true, 4, 4);
  EXPECT_EQ(text, "abcd");
  EXPECT_EQ(count("beep"), 2);
}

TEST_F(FieldEditor, BackspaceAndDeleteAnnounceAndSpeakTheCharacter) {
  script({key(KeyId::Backspace), key(KeyId::End), key(KeyId::Backspace), key(KeyId::Home),
          key(KeyId::Delete), key(KeyId::Enter)});
  std::string text = "abcd";
  editField(text, 1, 1, true, 10, 10);
  EXPECT_EQ(text, "bc");
  EXPECT_EQ(heard, (std::vector<std::string>{"beep", "recording:_DEL", "char:d",
                                             "recording:_DEL", "char:a"}));
  EXPECT_EQ(row(1), padded("bc"));
}

TEST_F(FieldEditor, EditingKeysDoNothingInReadOnlyField) {
  script({key(KeyId::End), key(KeyId::Backspace), key(KeyId::Home), key(KeyId::Delete),
          key(KeyId::Y, kCtrl), key(KeyId::D, kCtrl), key(KeyId::Backspace, kCtrl),
          key(KeyId::Insert, kShift), key(KeyId::Enter)});
  screen->setClipboardText("zz");
  std::string text = "abcd";
  editField(text, 1, 1, false, 10, 10);
  EXPECT_EQ(text, "abcd");
  EXPECT_TRUE(heard.empty()) << heard.front();
}

TEST_F(FieldEditor, ShiftRightThreeTimesThenDeleteRemovesSelectionWithOneDel) {
  script({key(KeyId::Right, kShift), key(KeyId::Right, kShift), key(KeyId::Right, kShift),
          key(KeyId::Delete), key(KeyId::Enter)});
  std::string text = "abcdef";
  editField(text, 3, 4, true, 10, 10);
  EXPECT_EQ(text, "def");
  EXPECT_EQ(count("recording:_DEL"), 1);
  EXPECT_EQ(heardOnly("char"),
            (std::vector<std::string>{"char:a", "char:b", "char:c", "char:a", "char:b", "char:c"}));
  // While selected, the three cells are drawn on dark grey (background 8).
  const platform::CellGrid& before = screen->waits[3].grid;
  for (int c = 0; c < 3; ++c) EXPECT_EQ(before.attrAt(2 + c, 3) >> 4, 8) << c;
  EXPECT_NE(before.attrAt(5, 3) >> 4, 8);
  EXPECT_EQ(screen->waits[3].column, 6);
  // After the edit nothing is drawn as selected.
  for (int c = 3; c <= 12; ++c) EXPECT_NE(attrAt(c, 4) >> 4, 8) << c;
}

TEST_F(FieldEditor, ShiftLeftSelectsBackwardsAndPlainKeyDropsSelection) {
  script({key(KeyId::End), key(KeyId::Left, kShift), key(KeyId::Left, kShift), key(KeyId::Home),
          key(KeyId::Delete), key(KeyId::Enter)});
  std::string text = "abcd";
  editField(text, 1, 1, true, 10, 10);
  EXPECT_EQ(text, "bcd");  // Home dropped the selection; Delete took one character
}

TEST_F(FieldEditor, CtrlBackspaceDeletesWordAndFollowingBlanks) {
  script({key(KeyId::Backspace, kCtrl), key(KeyId::Enter)});
  std::string text = "abc  def";
  editField(text, 1, 1, true, 20, 20);
  EXPECT_EQ(text, "def");
  EXPECT_EQ(heard, (std::vector<std::string>{"recording:_DEL", "char:a", "char:b", "char:c",
                                             "char: ", "char: "}));
}

TEST_F(FieldEditor, CtrlBackspaceAfterWordDeletesThatWord) {
  // After "dois" is gone the cursor follows a blank: only blanks lie ahead, so
  // there is nothing to delete; one step left it follows "um" again, and only
  // "um" goes (the blank after it is already padding).
  script({key(KeyId::End), key(KeyId::Backspace, kCtrl), key(KeyId::Backspace, kCtrl),
          key(KeyId::Left), key(KeyId::Backspace, kCtrl), key(KeyId::Enter)});
  std::string text = "um dois";
  editField(text, 1, 1, true, 20, 20);
  EXPECT_EQ(text, "");
  EXPECT_EQ(heard, (std::vector<std::string>{"recording:_DEL", "char:d", "char:o", "char:i",
                                             "char:s", "beep", "char: ", "recording:_DEL",
                                             "char:u", "char:m"}));
}

TEST_F(FieldEditor, BlankingAndUndoKeys) {
  script({key(KeyId::Right), key(KeyId::Right), key(KeyId::D, kCtrl), typed("X"),
          key(KeyId::S, kCtrl), key(KeyId::U, kCtrl), key(KeyId::End), key(KeyId::Y, kCtrl),
          typed("k"), key(KeyId::Enter)});
  std::string text = "abcdef";
  editField(text, 1, 1, true, 10, 10);
  EXPECT_EQ(text, "k");
  EXPECT_EQ(heard, (std::vector<std::string>{"char:a", "char:b", "recording:_APFCPO", "char:X",
                                             "recording:_APICPO",
                                             "beep", "beep", "beep", "recording:_CPOAPA",
                                             "char:k"}));
  // After Ctrl+U the original text was back, with the cursor on its start.
  EXPECT_EQ(rowOf(screen->waits[6].grid, 1), padded("abcdef"));
  EXPECT_EQ(screen->waits[6].column, 1);
  // Ctrl+S had moved "X" to the start.
  EXPECT_EQ(rowOf(screen->waits[5].grid, 1), padded(""));
  EXPECT_EQ(rowOf(screen->waits[4].grid, 1), padded("abX"));
}

TEST_F(FieldEditor, CursorMovesAndTheirBoundaries) {
  script({key(KeyId::Left), key(KeyId::Right), key(KeyId::Right, kAlt), key(KeyId::Right, kCtrl),
          key(KeyId::Right, kCtrl), key(KeyId::Right, kCtrl), key(KeyId::Left, kCtrl),
          key(KeyId::Left, kCtrl), key(KeyId::Left, kCtrl), key(KeyId::Enter)});
  std::string text = "ba 12 xy";
  editField(text, 1, 1, true, 9, 9);
  EXPECT_EQ(heard, (std::vector<std::string>{"beep", "char:b", "recording:_FON97", "click",
                                             "click", "beep", "click", "click", "click"}));
  std::vector<int> columns;
  for (const WaitSnapshot& w : screen->waits) columns.push_back(w.column);
  EXPECT_EQ(columns, (std::vector<int>{1, 1, 2, 3, 4, 7, 9, 7, 4, 1}));
}

TEST_F(FieldEditor, RightBeyondTheLastCellBeeps) {
  script({key(KeyId::End), key(KeyId::Right), key(KeyId::Right), key(KeyId::Enter)});
  std::string text = "ab";
  editField(text, 1, 1, true, 3, 3);
  EXPECT_EQ(heard, (std::vector<std::string>{"char: ", "beep"}));
}

TEST_F(FieldEditor, F1SpeaksWordByWordThenBeeps) {
  script({key(KeyId::F1), key(KeyId::F1), key(KeyId::F1), key(KeyId::F1), key(KeyId::Enter)});
  std::string text = " casa brt ?";
  editField(text, 1, 1, false, 20, 20);
  EXPECT_EQ(heard, (std::vector<std::string>{"text:casa", "char:b", "char:r", "char:t", "char:?",
                                             "beep"}));
  EXPECT_EQ(screen->waits[3].column, 12);  // after the "?"; the beep left it there
  EXPECT_EQ(screen->waits[4].column, 12);
}

TEST_F(FieldEditor, CtrlKSpeaksThePosition) {
  for (const std::string& item : numberWordItems(numberWords(3), false)) addRecording(item);
  script({key(KeyId::Right), key(KeyId::Right), key(KeyId::K, kCtrl), key(KeyId::Enter)});
  std::string text = "abc";
  editField(text, 1, 1, true, 10, 10);
  std::vector<std::string> expected = {"char:a", "char:b"};
  for (const std::string& item : numberWordItems(numberWords(3), false))
    expected.push_back("recording:" + item);
  EXPECT_EQ(heard, expected);
}

TEST_F(FieldEditor, CtrlF1SpeaksTheWholeTextAndF12WithoutWordBeeps) {
  script({key(KeyId::F1, kCtrl), key(KeyId::End), key(KeyId::Right), key(KeyId::F12),
          key(KeyId::Enter)});
  std::string text = "bom dia";
  editField(text, 1, 1, true, 20, 20);
  EXPECT_EQ(heard, (std::vector<std::string>{"text:bom dia", "char: ", "beep"}));
}

TEST_F(FieldEditor, SpeedChangeIgnoresKeysThatAreNotDigits) {
  const int before = speechSpeed();
  script({key(KeyId::F4, kCtrl), typed("x"), key(KeyId::F4, kCtrl), key(KeyId::Escape),
          key(KeyId::Enter)});
  std::string text;
  editField(text, 1, 1, true, 10, 10);
  EXPECT_EQ(speechSpeed(), before);
  EXPECT_EQ(count("recording:_VELOC"), 2);
  EXPECT_EQ(count("char:x"), 1);
}

TEST_F(FieldEditor, PasteTakesFirstLineAndSelectsIt) {
  screen->setClipboardText("um\r\ndois");
  script({key(KeyId::End), key(KeyId::Insert, kShift), key(KeyId::Enter)});
  std::string text = "ab";
  editField(text, 1, 1, true, 10, 10);
  EXPECT_EQ(text, "abum");
  const WaitSnapshot& after = screen->waits[2];
  EXPECT_EQ(after.column, 5);
  EXPECT_EQ(after.grid.attrAt(2, 0) >> 4, 8);
  EXPECT_EQ(after.grid.attrAt(3, 0) >> 4, 8);
  EXPECT_NE(after.grid.attrAt(1, 0) >> 4, 8);
}

TEST_F(FieldEditor, PasteAsFirstKeyReplacesProposedText) {
  screen->setClipboardText("novo");
  script({key(KeyId::V, kCtrl), key(KeyId::Enter)});
  std::string text = "velho";
  editField(text, 1, 1, true, 10, 10);
  EXPECT_EQ(text, "novo");
  EXPECT_EQ(heard, (std::vector<std::string>{"click", "click"}));
}

TEST_F(FieldEditor, PasteReplacesSelection) {
  screen->setClipboardText("XY");
  script({key(KeyId::Right), key(KeyId::Right, kShift), key(KeyId::Right, kShift),
          key(KeyId::V, kCtrl), key(KeyId::Enter)});
  std::string text = "abcde";
  editField(text, 1, 1, true, 10, 10);
  EXPECT_EQ(text, "aXYde");
}

TEST_F(FieldEditor, HostileClipboardTexts) {
  // 100 000 characters into a field of 2048: cut to the field, nothing more.
  screen->setClipboardText(std::string(100000, 'z'));
  script({key(KeyId::Insert, kShift), key(KeyId::Enter)});
  std::string text;
  editField(text, 1, 1, true, 78, 2048);
  EXPECT_EQ(text, std::string(2048, 'z'));

  // Control bytes become blanks, so every cell shows its character.
  screen->setClipboardText("a\tb\x01" "c\x7F" "d\x1B");
  script({key(KeyId::Insert, kShift), key(KeyId::Enter)});
  text.clear();
  editField(text, 1, 2, true, 20, 20);
  EXPECT_EQ(text, "a b c d");
  EXPECT_EQ(row(2), padded("a b c d"));

  // Malformed UTF-8 is taken byte for byte.
  screen->setClipboardText("\xFF\xFE" "ab\xC3");
  script({key(KeyId::Insert, kShift), key(KeyId::Enter)});
  text.clear();
  editField(text, 1, 3, true, 20, 20);
  EXPECT_EQ(text, "\xFF\xFE" "ab\xC3");

  // A clipboard that cannot be read inserts nothing.
  screen->setClipboardAvailable(false);
  script({key(KeyId::Insert, kShift), key(KeyId::Enter)});
  text = "k";
  editField(text, 1, 4, true, 20, 20);
  EXPECT_EQ(text, "k");
}

TEST_F(FieldEditor, CopySelectionOrWholeText) {
  script({key(KeyId::Right, kShift), key(KeyId::Right, kShift), key(KeyId::Insert, kCtrl),
          key(KeyId::Enter)});
  std::string text = "abc ";
  editField(text, 1, 1, true, 10, 10);
  EXPECT_EQ(pasteFromClipboard(100), "ab");
  script({key(KeyId::C, kCtrl), key(KeyId::Enter)});
  editField(text, 1, 1, false, 10, 10);
  EXPECT_EQ(pasteFromClipboard(100), "abc\r\n");
}

TEST_F(FieldEditor, LongFieldScrollsHorizontally) {
  std::string initial;
  for (int i = 0; i < 2048; ++i) initial += static_cast<char>('a' + i % 26);
  script({key(KeyId::End), typed("!"), key(KeyId::Left), key(KeyId::Home), key(KeyId::Enter)});
  std::string text = initial;
  editField(text, 11, 5, true, 20, 2048);
  EXPECT_EQ(text, initial);  // full: typing beeped
  EXPECT_EQ(count("beep"), 1);
  // At the end: the last 20 characters, the cursor on the cell after them.
  const WaitSnapshot& atEnd = screen->waits[1];
  EXPECT_EQ(atEnd.column, 31);
  EXPECT_EQ(rowOf(atEnd.grid, 5).substr(10, 20), initial.substr(2028, 20));
  EXPECT_EQ(rowOf(atEnd.grid, 5).substr(30), std::string(50, ' '));
  // Left shows the same window with the cursor on the last character.
  EXPECT_EQ(screen->waits[3].column, 30);
  EXPECT_EQ(rowOf(screen->waits[3].grid, 5).substr(10, 20), initial.substr(2028, 20));
  // Home scrolls back to the start.
  EXPECT_EQ(screen->waits[4].column, 11);
  EXPECT_EQ(row(5).substr(10, 20), initial.substr(0, 20));
}

TEST_F(FieldEditor, FieldNeverLeavesItsRow) {
  for (int r = 1; r <= 25; ++r) {
    gotoXY(1, r);
    writeText(std::string(80, '#'));
  }
  // On the last row a field that would reach column 80 is one cell narrower.
  script({key(KeyId::End), key(KeyId::Enter)});
  std::string text = "abcdefghijkl";
  editField(text, 71, 25, true, 10, 20);
  EXPECT_EQ(row(25), std::string(70, '#') + "abcdefghi ");
  EXPECT_EQ(row(24), std::string(80, '#'));  // no scroll
  EXPECT_EQ(screen->scrolls(), 0);
  EXPECT_EQ(screen->waits[1].column, 80);  // cursor after the visible part
  // Elsewhere a field wider than the rest of the row is cut at column 80.
  script({key(KeyId::Enter)});
  editField(text, 75, 10, true, 20, 20);
  EXPECT_EQ(row(10), std::string(74, '#') + "abcdef");
  EXPECT_EQ(row(11), std::string(80, '#'));
}

TEST_F(FieldEditor, ControlBytesInGivenTextAreDrawnAsBlanks) {
  script({key(KeyId::End), key(KeyId::Enter)});
  std::string text = "a\tb";
  editField(text, 1, 1, true, 10, 10);
  EXPECT_EQ(rowOf(screen->waits[1].grid, 1), padded("a b"));
  EXPECT_EQ(screen->waits[1].column, 4);
  EXPECT_EQ(text, "a\tb");
}

TEST_F(FieldEditor, DegenerateGeometryDoesNotBreak) {
  script({typed("abc"), key(KeyId::Enter)});
  std::string text;
  EXPECT_EQ(editField(text, 0, 0, true, 0, 0), 13);  // nothing fits: every key beeps
  EXPECT_EQ(text, "");
  EXPECT_EQ(count("beep"), 1);  // the beep discards the other two pending characters

  script({typed("xy"), key(KeyId::Enter)});
  text.clear();
  editField(text, 200, 200, true, 500, 99999);
  EXPECT_EQ(text, "xy");
}

TEST_F(FieldEditor, PrefixedByteIsHandledAsTheKeyItself) {
  script({bytes({0, 16, 'q'}), bytes({0, 17, 13})});
  std::string text;
  EXPECT_EQ(editField(text, 1, 1, true, 10, 10), 13);
  EXPECT_EQ(text, "q");
}

TEST_F(FieldEditor, AltQWEAreKeysNeverPrefixes) {
  setBreakEndsProgram(false);  // Alt combinations reach the program
  // Alt+E then Home: the edit ends with Alt+E's code; no "G" is typed.
  for (KeyId letter : {KeyId::Q, KeyId::W, KeyId::E}) {
    script({key(letter, kAlt), key(KeyId::Home)});
    std::string text = "x";
    EXPECT_GE(editField(text, 1, 1, true, 10, 10), 16);
    EXPECT_EQ(text, "x");
  }
}

TEST_F(FieldEditor, TerminalPastesArriveWholeAsOneLine) {
  // 116 characters and a line end, as pasted into a terminal: the whole
  // address in the field, the line end a blank, no Enter.
  const std::string address = "http://stream.exemplo.com.br:8000/" + std::string(82, 'r');
  platform::FrontendEvent paste;
  paste.type = platform::EventType::Paste;
  paste.text = address + "\n";
  script({[paste](PacedFrontend& f) { f.pushEvent(paste); }, key(KeyId::Enter)});
  std::string text;
  EXPECT_EQ(editField(text, 1, 1, true, 78, 255), 13);
  EXPECT_EQ(text, address);
  EXPECT_EQ(count("beep"), 0);

  // A paste longer than the field is cut, with a beep.
  script({[paste](PacedFrontend& f) { f.pushEvent(paste); }, key(KeyId::Enter)});
  text.clear();
  editField(text, 1, 1, true, 40, 50);
  EXPECT_EQ(text, address.substr(0, 50));
  EXPECT_EQ(count("beep"), 1);
}

TEST_F(FieldEditor, ReadLineSpokenEscBlanksTypedCharacters) {
  gotoXY(1, 7);
  writeText("Nome: ");
  script({typed("abc"), key(KeyId::Escape)});
  std::string line = "old";
  readLineSpoken(line);
  EXPECT_EQ(line, "");
  EXPECT_EQ(row(7), padded("Nome:    "));
  EXPECT_EQ(rowOf(screen->waits[1].grid, 7), padded("Nome: abc"));
  EXPECT_EQ(whereX(), 1);
  EXPECT_EQ(whereY(), 8);
}

TEST_F(FieldEditor, ReadLineSpokenReturnsLineAndEndsIt) {
  gotoXY(1, 25);
  writeText("? ");
  script({typed("sim"), key(KeyId::Enter)});
  std::string line;
  readLineSpoken(line);
  EXPECT_EQ(line, "sim");
  EXPECT_EQ(row(24), padded("? sim"));  // the screen scrolled up one row
  EXPECT_EQ(whereX(), 1);
  EXPECT_EQ(whereY(), 25);
}

class ReadCharEchoTest : public UiTest {};

TEST_F(ReadCharEchoTest, SignalBytesPrefixAndF8) {
  gotoXY(3, 2);
  script({bytes({222, 223, 'a'})});
  KeyEcho k = readCharEcho();
  EXPECT_EQ(k.character, 'a');
  EXPECT_EQ(k.code, ' ');
  EXPECT_EQ(row(2), padded("  a"));
  EXPECT_EQ(heard, (std::vector<std::string>{"char:a"}));

  script({key(KeyId::Up)});
  k = readCharEcho();
  EXPECT_EQ(k.character, 0);
  EXPECT_EQ(k.code, 72);
  EXPECT_EQ(whereX(), 4);  // nothing written

  script({bytes({0, 18, 0xE7})});
  k = readCharEcho();
  EXPECT_EQ(k.character, 0xE7);
  EXPECT_EQ(k.code, ' ');
  EXPECT_EQ(row(2), padded("  a\xE7"));

  // F8 speaks the time and reads again.
  script({key(KeyId::F8), typed("b")});
  k = readCharEcho();
  EXPECT_EQ(k.character, 'b');
  EXPECT_EQ(screen->waits.size(), 5u);
}

TEST_F(FieldEditor, MagnifiedStripFollowsTheCursor) {
  std::vector<std::pair<std::string, int>> shown;
  int refreshed = 0;
  setStripShowHook([&](std::string_view t, int cursor) { shown.emplace_back(t, cursor); });
  setStripRefreshHook([&] { ++refreshed; });
  std::string initial;
  for (int i = 0; i < 30; ++i) initial += static_cast<char>('a' + i % 26);
  script({key(KeyId::Right), key(KeyId::End), key(KeyId::Enter)});
  std::string text = initial;
  editField(text, 1, 1, true, 10, 40);
  setStripShowHook(nullptr);
  setStripRefreshHook(nullptr);
  ASSERT_EQ(shown.size(), 3u);
  // The strip highlights the character left of the index it gets: one past
  // the cursor's place, so that the character under the cursor stands out.
  EXPECT_EQ(shown[0].first.substr(0, 3), "abc");
  EXPECT_EQ(shown[0].second, 2);
  EXPECT_EQ(shown[1].second, 3);
  // At the end of the text (position 31) the field shows from position 21 on.
  EXPECT_EQ(shown[2].first.substr(0, 10), initial.substr(20, 10));
  EXPECT_EQ(shown[2].second, 12);
  EXPECT_EQ(refreshed, 1);
}
