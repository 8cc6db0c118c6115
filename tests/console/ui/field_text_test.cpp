#include "console/ui/field_text.h"

#include <gtest/gtest.h>

using namespace ondaria;

namespace {

FieldText field(std::string_view text, int maxLength, int pos = 1) {
  FieldText f(text, maxLength);
  f.pos = pos;
  return f;
}

}  // namespace

TEST(FieldText, IsCutAndPaddedToMaxLength) {
  FieldText f("abcdef", 4);
  EXPECT_EQ(f.text(), "abcd");
  FieldText g("ab", 5);
  EXPECT_EQ(g.text(), "ab   ");
  EXPECT_EQ(g.trimmed(), "ab");
  EXPECT_EQ(g.endOfText(), 3);
  EXPECT_EQ(FieldText("", 3).endOfText(), 1);
  EXPECT_EQ(FieldText("x", 5000).maxLength(), kMaxFieldLength);
  EXPECT_EQ(FieldText("x", -3).maxLength(), 0);
}

TEST(FieldText, InsertShiftsRightAndRefusesToPushOutText) {
  FieldText f = field("ac", 4, 2);
  ASSERT_TRUE(f.insert('b'));
  EXPECT_EQ(f.text(), "abc ");
  EXPECT_EQ(f.pos, 3);
  ASSERT_TRUE(f.insert('x'));
  EXPECT_EQ(f.text(), "abxc");
  // Full field: the "c" would fall off the end, so the key is refused.
  EXPECT_FALSE(f.insert('y'));
  EXPECT_EQ(f.text(), "abxc");
  EXPECT_EQ(f.pos, 4);
  // Beyond maxLength nothing is inserted either.
  FieldText g = field("ab", 2, 3);
  EXPECT_FALSE(g.insert('c'));
  EXPECT_EQ(g.text(), "ab");
  FieldText empty("", 0);
  EXPECT_FALSE(empty.insert('a'));
}

TEST(FieldText, NextWordSkipsWordThenBlanks) {
  FieldText f = field("abc  123x-y.z  q", 20, 1);
  const int expected[] = {6, 9, 10, 12, 16};
  for (int want : expected) {
    WordMove m = f.nextWord();
    EXPECT_FALSE(m.hitEdge) << "towards " << want;
    EXPECT_EQ(m.pos, want);
    f.pos = m.pos;
  }
  WordMove last = f.nextWord();
  EXPECT_TRUE(last.hitEdge);
  EXPECT_EQ(last.pos, 17);  // just after the last non-blank

  // Accented letters belong to the word.
  FieldText a = field("a\xE7\xE3o x", 10, 1);
  EXPECT_EQ(a.nextWord().pos, 6);
}

TEST(FieldText, PreviousWordLandsOnWordStarts) {
  FieldText f = field("abc  123 x.yz", 20, 14);
  const int expected[] = {11, 10, 6, 1};  // ".yz" is one word, as for next-word
  for (int want : expected) {
    WordMove m = f.previousWord();
    EXPECT_FALSE(m.hitEdge) << "towards " << want;
    EXPECT_EQ(m.pos, want);
    f.pos = m.pos;
  }
  WordMove edge = f.previousWord();
  EXPECT_TRUE(edge.hitEdge);
  EXPECT_EQ(edge.pos, 1);
  // Only blanks before the cursor: the start, with the edge signalled.
  FieldText blanks = field("   abc", 10, 4);
  EXPECT_TRUE(blanks.previousWord().hitEdge);
  // Marks between words never trap the cursor.
  FieldText marks = field("a,,b", 10, 5);
  for (int i = 0; i < 4 && marks.pos > 1; ++i) marks.pos = marks.previousWord().pos;
  EXPECT_EQ(marks.pos, 1);
}

TEST(FieldText, WordDeletionLength) {
  FieldText f = field("abc  def", 12);
  EXPECT_EQ(f.wordDeletionLength(1), 5);  // "abc" and the blanks up to "def"
  EXPECT_EQ(f.wordDeletionLength(6), 3);  // last word: stops at the end of text
  EXPECT_EQ(f.wordDeletionLength(9), 0);  // nothing but padding
  EXPECT_EQ(f.wordDeletionLength(13), 0);
  FieldText digits = field("12ab 3", 10);
  EXPECT_EQ(digits.wordDeletionLength(1), 2);
}

TEST(FieldText, SpokenWordKinds) {
  FieldText f = field("  -12 abc str a? www", 30, 1);
  struct Case {
    SpokenWordKind kind;
    int start, end;
  };
  const Case cases[] = {
      {SpokenWordKind::Number, 3, 6},  {SpokenWordKind::Spoken, 7, 10},
      {SpokenWordKind::Spelled, 11, 14}, {SpokenWordKind::Spoken, 15, 16},
      {SpokenWordKind::Single, 16, 17}, {SpokenWordKind::Spoken, 18, 21},
  };
  for (const Case& c : cases) {
    SpokenWord w = f.spokenWordAt(f.pos);
    EXPECT_EQ(w.kind, c.kind) << "at " << f.pos;
    EXPECT_EQ(w.start, c.start);
    EXPECT_EQ(w.end, c.end);
    f.pos = w.end;
  }
  EXPECT_EQ(f.spokenWordAt(f.pos).kind, SpokenWordKind::None);
  // A dash not followed by a digit is a single character.
  EXPECT_EQ(field("-a", 5).spokenWordAt(1).kind, SpokenWordKind::Single);
  EXPECT_TRUE(onlyConsonants("Http"));
  EXPECT_FALSE(onlyConsonants("casa"));
  EXPECT_TRUE(onlyConsonants("BRTz"));
  EXPECT_FALSE(onlyConsonants("w"));  // W and Y are not in the set
}

TEST(FieldText, LinkWordIsStrippedOfSurroundingMarks) {
  FieldText f = field("veja (www.site.com.br). ok", 40);
  EXPECT_EQ(f.linkWordAt(10), "www.site.com.br)");
  EXPECT_EQ(f.linkWordAt(1), "veja");
  EXPECT_EQ(f.linkWordAt(5), "veja");  // on the blank just after the word
  FieldText quoted = field("\"<http://x/_>\"", 20);
  EXPECT_EQ(quoted.linkWordAt(3), "http://x/");
  EXPECT_EQ(field("a  ", 5).linkWordAt(3), "");
  EXPECT_EQ(field("-._", 5).linkWordAt(2), "");
  EXPECT_EQ(field("abc", 3).linkWordAt(4), "abc");  // cursor after the last cell
}

TEST(FieldText, PasteInsertsOrReplacesAndSelectsThePastedText) {
  FieldText f = field("abef", 8, 3);
  f.paste("cd");
  EXPECT_EQ(f.text(), "abcdef  ");
  EXPECT_EQ(f.selectionLow(), 3);
  EXPECT_EQ(f.selectionHigh(), 5);
  EXPECT_EQ(f.pos, 5);

  f.paste("XYZ");  // replaces the selected "cd"
  EXPECT_EQ(f.text(), "abXYZef ");
  EXPECT_EQ(f.selectedText(), "XYZ");

  FieldText full = field("abc", 4, 2);
  full.paste("123456");
  EXPECT_EQ(full.text(), "a123");
  EXPECT_EQ(full.pos, 5);
  EXPECT_EQ(full.selectedText(), "123");

  FieldText none = field("ab", 4, 2);
  none.paste("");
  EXPECT_EQ(none.text(), "ab  ");
  EXPECT_FALSE(none.hasSelection());
}

TEST(FieldText, CleanPastedText) {
  EXPECT_EQ(cleanPastedText("first\r\nsecond", 100), "first");
  EXPECT_EQ(cleanPastedText("one\ntwo", 100), "one");
  EXPECT_EQ(cleanPastedText("a\tb\x01" "c\x7F", 100), "a b c ");
  EXPECT_EQ(cleanPastedText(std::string_view("ab\0cd", 5), 100), "ab");
  EXPECT_EQ(cleanPastedText("abcdef", 3), "abc");
  EXPECT_EQ(cleanPastedText("\xE3\xE7", 5), "\xE3\xE7");
  const std::string huge(100000, 'x');
  EXPECT_EQ(cleanPastedText(huge, 2049).size(), 2049u);
}
