// The decisions the key tables make by class rather than by listed code: the
// default for every key a table does not name, and the byte classes. (The
// listed keys are exercised through the console in the editor, menu and list
// tests.)
#include <gtest/gtest.h>

#include "console/ui/field_editor.h"
#include "console/ui/marked_list.h"
#include "console/ui/option_menu.h"

using namespace ondaria;

TEST(KeyTables, FieldEditorDefaults) {
  for (int typed : std::initializer_list<int>{32, '~', 0xE3, 0xFF})
    EXPECT_EQ(fieldKeyAction(false, static_cast<uint8_t>(typed)), FieldAction::Type) << typed;
  EXPECT_EQ(fieldKeyAction(false, 127), FieldAction::DeleteWord);  // not typed
  EXPECT_EQ(fieldKeyAction(false, 222), FieldAction::SpeakAllLater);
  for (int control : {1, 5, 26, 31})
    EXPECT_EQ(fieldKeyAction(false, static_cast<uint8_t>(control)), FieldAction::ControlByte);
  // Extended keys the editor does not handle go back to the caller.
  for (int code : {72, 80, 73, 81, 60, 67, 82, 45, 105, 113, 114})
    EXPECT_EQ(fieldKeyAction(true, static_cast<uint8_t>(code)), FieldAction::Finish) << code;
  for (int code = 120; code <= 129; ++code)
    EXPECT_EQ(fieldKeyAction(true, static_cast<uint8_t>(code)), FieldAction::Ignore) << code;
}

TEST(KeyTables, OptionMenuByteClasses) {
  for (int search : std::initializer_list<int>{'a', 'Z', '0', '9', '*', '+', '-', '/', 1, 31})
    EXPECT_EQ(optionMenuAction(false, static_cast<uint8_t>(search)), MenuAction::Search) << search;
  for (int nothing : std::initializer_list<int>{' ', '.', ',', '?', 0xE3, 0xC7, 0x7F})
    EXPECT_EQ(optionMenuAction(false, static_cast<uint8_t>(nothing)), MenuAction::Nothing)
        << nothing;
  for (int other : {59, 75, 83, 30})
    EXPECT_EQ(optionMenuAction(true, static_cast<uint8_t>(other)), MenuAction::Announce) << other;
}

TEST(KeyTables, MarkedListDefaults) {
  // F1...F12, Left, Right, Ctrl+F1...F8, Ctrl+F10...F12, Ctrl+Left/Right end a run.
  for (int code : {59, 64, 70, 75, 77, 94, 101, 103, 105, 115, 116})
    EXPECT_EQ(listKeyAction(true, static_cast<uint8_t>(code)), ListAction::End) << code;
  // Insert, Delete, Ctrl+Up/Down, Alt letters, Shift/Ctrl+Insert do nothing.
  for (int code : {82, 83, 113, 114, 30, 254, 255})
    EXPECT_EQ(listKeyAction(true, static_cast<uint8_t>(code)), ListAction::Nothing) << code;
  for (int ends : std::initializer_list<int>{13, 27, 'a', 'R', 9})
    EXPECT_EQ(listKeyAction(false, static_cast<uint8_t>(ends)), ListAction::End) << ends;
}
