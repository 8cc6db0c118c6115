// The key tables of the editor, the option menu and the marked list: each
// documented key byte must land on its action, and every key the tables do not
// name must fall to the documented default.
#include <gtest/gtest.h>

#include "console/ui/field_editor.h"
#include "console/ui/marked_list.h"
#include "console/ui/option_menu.h"

using namespace ondaria;

TEST(KeyTables, FieldEditorOrdinaryKeys) {
  for (uint8_t finish : {13, 27, 9, 10, 2})
    EXPECT_EQ(fieldKeyAction(false, finish), FieldAction::Finish) << int(finish);
  EXPECT_EQ(fieldKeyAction(false, 3), FieldAction::Copy);
  EXPECT_EQ(fieldKeyAction(false, 22), FieldAction::Paste);
  EXPECT_EQ(fieldKeyAction(false, 4), FieldAction::BlankToEnd);
  EXPECT_EQ(fieldKeyAction(false, 19), FieldAction::DeleteBefore);
  EXPECT_EQ(fieldKeyAction(false, 21), FieldAction::Undo);
  EXPECT_EQ(fieldKeyAction(false, 25), FieldAction::BlankAll);
  EXPECT_EQ(fieldKeyAction(false, 8), FieldAction::Backspace);
  EXPECT_EQ(fieldKeyAction(false, 127), FieldAction::DeleteWord);
  EXPECT_EQ(fieldKeyAction(false, 11), FieldAction::SpeakPosition);
  EXPECT_EQ(fieldKeyAction(false, 28), FieldAction::DialTones);
  EXPECT_EQ(fieldKeyAction(false, 222), FieldAction::SpeakAllLater);
  EXPECT_EQ(fieldKeyAction(false, 223), FieldAction::Ignore);
  for (int typed : std::initializer_list<int>{32, 'a', '~', 0xE3, 0xFF})
    EXPECT_EQ(fieldKeyAction(false, static_cast<uint8_t>(typed)), FieldAction::Type) << typed;
  for (uint8_t control : {1, 5, 26, 31})
    EXPECT_EQ(fieldKeyAction(false, control), FieldAction::ControlByte) << int(control);
}

TEST(KeyTables, FieldEditorExtendedKeys) {
  const std::pair<uint8_t, FieldAction> handled[] = {
      {71, FieldAction::Home},         {79, FieldAction::End},
      {75, FieldAction::Left},         {77, FieldAction::Right},
      {115, FieldAction::PreviousWord}, {116, FieldAction::NextWord},
      {83, FieldAction::Delete},       {59, FieldAction::SpeakWord},
      {104, FieldAction::Battery},     {94, FieldAction::SpeakAll},
      {62, FieldAction::ToggleEcho},   {66, FieldAction::Time},
      {101, FieldAction::Date},        {97, FieldAction::Speed},
      {70, FieldAction::OpenWord},     {102, FieldAction::ReviewOrFinish},
      {254, FieldAction::Paste},       {255, FieldAction::Copy},
  };
  for (auto [code, action] : handled) EXPECT_EQ(fieldKeyAction(true, code), action) << int(code);
  for (int code = 120; code <= 129; ++code)
    EXPECT_EQ(fieldKeyAction(true, static_cast<uint8_t>(code)), FieldAction::Ignore);
  // Keys the caller decides about: Up, Down, Page Up/Down, F2, F9, Insert, Alt+X.
  for (uint8_t code : {72, 80, 73, 81, 60, 67, 82, 45, 105, 113, 114})
    EXPECT_EQ(fieldKeyAction(true, code), FieldAction::Finish) << int(code);

  EXPECT_TRUE(fieldActionEdits(FieldAction::Type));
  EXPECT_TRUE(fieldActionEdits(FieldAction::DeleteWord));
  EXPECT_TRUE(fieldActionEdits(FieldAction::Paste));
  EXPECT_FALSE(fieldActionEdits(FieldAction::Copy));
  EXPECT_FALSE(fieldActionEdits(FieldAction::Left));
  EXPECT_FALSE(fieldActionEdits(FieldAction::SpeakWord));
}

TEST(KeyTables, OptionMenuKeys) {
  EXPECT_EQ(optionMenuAction(true, 80), MenuAction::Next);
  EXPECT_EQ(optionMenuAction(true, 72), MenuAction::Previous);
  EXPECT_EQ(optionMenuAction(true, 81), MenuAction::PageDown);
  EXPECT_EQ(optionMenuAction(true, 73), MenuAction::PageUp);
  EXPECT_EQ(optionMenuAction(true, 71), MenuAction::First);
  EXPECT_EQ(optionMenuAction(true, 132), MenuAction::First);
  EXPECT_EQ(optionMenuAction(true, 79), MenuAction::Last);
  EXPECT_EQ(optionMenuAction(true, 118), MenuAction::Last);
  EXPECT_EQ(optionMenuAction(true, 102), MenuAction::Review);
  EXPECT_EQ(optionMenuAction(true, 77), MenuAction::Spell);
  for (uint8_t other : {59, 75, 83, 30})
    EXPECT_EQ(optionMenuAction(true, other), MenuAction::Announce) << int(other);

  EXPECT_EQ(optionMenuAction(false, 13), MenuAction::Finish);
  EXPECT_EQ(optionMenuAction(false, 27), MenuAction::Finish);
  EXPECT_EQ(optionMenuAction(false, 17), MenuAction::SayPosition);
  EXPECT_EQ(optionMenuAction(false, 223), MenuAction::WaitForKey);
  for (int search : std::initializer_list<int>{'a', 'Z', '0', '9', '*', '+', '-', '/', 1, 31})
    EXPECT_EQ(optionMenuAction(false, static_cast<uint8_t>(search)), MenuAction::Search) << search;
  for (int nothing : std::initializer_list<int>{' ', '.', ',', '?', 0xE3, 0xC7, 0x7F})
    EXPECT_EQ(optionMenuAction(false, static_cast<uint8_t>(nothing)), MenuAction::Nothing) << nothing;
}

TEST(KeyTables, MarkedListKeys) {
  EXPECT_EQ(listKeyAction(false, ' '), ListAction::ToggleMark);
  EXPECT_EQ(listKeyAction(false, '+'), ListAction::Mark);
  EXPECT_EQ(listKeyAction(false, '-'), ListAction::Unmark);
  EXPECT_EQ(listKeyAction(false, '*'), ListAction::MarkAll);
  EXPECT_EQ(listKeyAction(false, '/'), ListAction::UnmarkAll);
  for (int ends : std::initializer_list<int>{13, 27, 'a', 'R', 9})
    EXPECT_EQ(listKeyAction(false, static_cast<uint8_t>(ends)), ListAction::End) << ends;

  EXPECT_EQ(listKeyAction(true, 80), ListAction::Down);
  EXPECT_EQ(listKeyAction(true, 72), ListAction::Up);
  EXPECT_EQ(listKeyAction(true, 81), ListAction::PageDown);
  EXPECT_EQ(listKeyAction(true, 73), ListAction::PageUp);
  EXPECT_EQ(listKeyAction(true, 71), ListAction::First);
  EXPECT_EQ(listKeyAction(true, 132), ListAction::First);
  EXPECT_EQ(listKeyAction(true, 79), ListAction::Last);
  EXPECT_EQ(listKeyAction(true, 118), ListAction::Last);
  EXPECT_EQ(listKeyAction(true, 119), ListAction::MarkToFirst);
  EXPECT_EQ(listKeyAction(true, 117), ListAction::UnmarkToLast);
  EXPECT_EQ(listKeyAction(true, 102), ListAction::Review);
  // F1...F12, Left, Right, Ctrl+F1...F8, Ctrl+F10...F12, Ctrl+Left/Right end the run.
  for (int code : {59, 64, 70, 75, 77, 94, 101, 103, 105, 115, 116})
    EXPECT_EQ(listKeyAction(true, static_cast<uint8_t>(code)), ListAction::End) << code;
  // Insert, Delete, Ctrl+Up/Down, Alt letters do nothing.
  for (int code : {82, 83, 113, 114, 30, 254, 255})
    EXPECT_EQ(listKeyAction(true, static_cast<uint8_t>(code)), ListAction::Nothing) << code;
}
