// Screen review: the review cursor's moves and their sounds, the reading
// commands, search, go-to, copy, and the return to the interrupted editor.
#include "console/ui/screen_review.h"

#include <string>
#include <vector>

#include "console/core/magnified_strip.h"
#include "console/ui/field_editor.h"
#include "ui_fixture.h"

namespace ondaria::uitest {
namespace {

class Review : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    installLowVisionAids();
  }
  void TearDown() override {
    closeStrip();
    UiTest::TearDown();
  }
  // Writes `text` at column 1 of `row` in the given attribute.
  static void put(int row, const std::string& text, uint8_t attr = 0x0F) {
    gotoXY(1, row);
    setTextAttr(attr);
    writeText(text);
    setTextAttr(0x0F);
  }
  // Runs review from the console cursor at (column, row) with these keys.
  void reviewFrom(int column, int row, std::initializer_list<PacedFrontend::Step> keys) {
    gotoXY(column, row);
    script(keys);
    screenReview();
  }
  // What was heard between entering (its beep) and leaving (two beeps).
  std::vector<std::string> inside() const {
    std::vector<std::string> h = heard;
    EXPECT_GE(h.size(), 3u);
    if (h.size() < 3) return h;
    EXPECT_EQ(h.front(), "beep");
    EXPECT_EQ(h[h.size() - 1], "beep");
    EXPECT_EQ(h[h.size() - 2], "beep");
    return std::vector<std::string>(h.begin() + 1, h.end() - 2);
  }
  // The review cursor at the last key review read (column, row); review
  // puts the console's cursor there while it waits.
  std::pair<int, int> cursorAtLastKey() const {
    if (screen->waits.empty()) return {0, 0};
    const WaitSnapshot& w = screen->waits.back();
    return {w.column, w.row};
  }
  using Heard = std::vector<std::string>;
  using At = std::pair<int, int>;
};

TEST_F(Review, RightPastTheLastColumnIsBroughtBack) {
  put(1, std::string(79, '.') + "Z");
  reviewFrom(80, 1, {key(KeyId::Right), key(KeyId::Right), key(KeyId::Escape)});
  // Z, then the blank beyond it; the correction beeps and puts the cursor
  // back on column 80.
  EXPECT_EQ(inside(), (Heard{"char:Z", "char: ", "beep"}));
  EXPECT_EQ(cursorAtLastKey(), (At{80, 1}));
}

TEST_F(Review, MovesAtTheEdgesBeep) {
  put(1, "um");
  put(2, "dois");
  struct Row {
    const char* what;
    int column, row;
    std::vector<PacedFrontend::Step> keys;
    Heard want;
    At at;  // the review cursor afterwards
  };
  const std::vector<Row> table = {
      {"Up on row 1", 5, 1, {key(KeyId::Up)}, {"beep"}, {1, 1}},
      {"Left on column 1", 1, 2, {key(KeyId::Left)}, {"beep"}, {1, 2}},
      {"Left speaks the character", 3, 2, {key(KeyId::Backspace)}, {"char:o"}, {2, 2}},
      {"Down beyond row 25", 4, 25, {key(KeyId::Down)}, {"beep"}, {1, 25}},
      {"Down reads the next row", 1, 1, {key(KeyId::Down)}, {"click", "text:dois"}, {1, 2}},
      {"Enter goes down silently", 1, 1, {key(KeyId::Enter)}, {"click"}, {1, 2}},
      {"End of an empty row", 9, 9, {key(KeyId::End)}, {"click"}, {1, 9}},
      {"End after the last character", 1, 2, {key(KeyId::End)}, {}, {5, 2}},
      {"Page Down reads the last row", 1, 1, {key(KeyId::PageDown)}, {}, {1, 25}},
      {"Ctrl+Page Down: the last letter", 1, 1, {key(KeyId::PageDown, kCtrl)}, {"text:dois"}, {4, 2}},
      {"an unknown key", 1, 1, {key(KeyId::F9)}, {"beep", "click", "beep"}, {1, 1}},
  };
  for (const Row& r : table) {
    heard.clear();
    screen->waits.clear();
    gotoXY(r.column, r.row);
    for (const auto& k : r.keys) screen->steps.push_back(k);
    screen->steps.push_back(key(KeyId::Escape));
    screenReview();
    EXPECT_EQ(inside(), r.want) << r.what;
    EXPECT_EQ(cursorAtLastKey(), r.at) << r.what;
  }
}

TEST_F(Review, GoToTypedPosition) {
  reviewFrom(1, 1, {key(KeyId::F6), typed("0"), typed("5"), typed("1"), typed("2"), key(KeyId::Escape)});
  EXPECT_EQ(inside(), (Heard{"text:Entre linha e coluna", "char:0", "char:5", "char:1", "char:2"}));
  EXPECT_EQ(cursorAtLastKey(), (At{12, 5}));
  heard.clear();
  reviewFrom(1, 1, {key(KeyId::F6), typed("0"), typed("x"), key(KeyId::Escape)});
  EXPECT_EQ(inside(), (Heard{"text:Entre linha e coluna", "char:0", "beep", "beep"}));
  EXPECT_EQ(cursorAtLastKey(), (At{1, 1}));
}

TEST_F(Review, SearchFindsBelowTheCursorOnly) {
  put(3, "casa de campo");
  reviewFrom(1, 1, {key(KeyId::F5), typed("d"), typed("x"), key(KeyId::Backspace), typed("e"),
                    key(KeyId::Enter), key(KeyId::Escape)});
  EXPECT_EQ(inside(), (Heard{"text:Qual texto", "char:d", "char:x", "recording:_DEL", "char:x",
                             "char:e", "click"}));
  EXPECT_EQ(cursorAtLastKey(), (At{6, 3}));
  EXPECT_EQ(reviewSearchText(), "de");
  // After the last "de" on the screen: nothing, two beeps; the cursor stays.
  heard.clear();
  reviewFrom(7, 3, {key(KeyId::F5, kCtrl), key(KeyId::Escape)});
  EXPECT_EQ(inside(), (Heard{"beep", "beep"}));
  EXPECT_EQ(cursorAtLastKey(), (At{7, 3}));
}

TEST_F(Review, ReadingCommands) {
  // Two fields on row 2: a label and a value in another colour, parted by a
  // separator; row 1 above it.
  put(1, "topo");
  put(2, "Nome: ");
  gotoXY(7, 2);
  setTextAttr(0x0E);
  writeText("Radio Sol");
  setTextAttr(0x0F);
  writeText(" | kbps");
  struct Row {
    const char* keys;
    int column;  // review cursor on row 2
    Heard want;
  };
  const Row table[] = {
      {"TL", 9, {"text:Nome", "char::", "text:Radio", "text:Sol", "char:|", "char:k", "char:b", "char:p", "char:s"}},
      {"IL", 9, {"text:Nome", "char::", "text:Ra"}},
      {"FL", 13, {"text:Sol", "char:|", "char:k", "char:b", "char:p", "char:s"}},
      {"TC", 9, {"text:Radio", "text:Sol"}},
      {"IC", 9, {"text:Ra"}},
      {"FC", 9, {"text:dio", "text:Sol"}},
      {"lL", 9, {"text:Nome", "char::", "text:Radio", "text:Sol", "char:|", "char:k", "char:b", "char:p", "char:s"}},
      {"IT", 3, {"text:topo", "click", "text:No"}},
      {"TX", 9, {"beep", "click", "beep"}},
  };
  for (const Row& r : table) {
    heard.clear();
    gotoXY(r.column, 2);
    screen->steps.push_back(typed(std::string(1, r.keys[0])));
    screen->steps.push_back(typed(std::string(1, r.keys[1])));
    screen->steps.push_back(key(KeyId::Escape));
    screenReview();
    std::vector<std::string> got = inside();
    EXPECT_EQ(got, r.want) << r.keys;
  }
}

TEST_F(Review, AKeyStopsTheWholeScreenReadingAtOnce) {
  for (int row = 1; row <= 25; ++row) put(row, "linha " + std::to_string(row) + " de muitas palavras");
  // The first word heard is answered by a key, as a person would.
  platform::setSpeechObserver([this](platform::SpeechEvent kind, const std::string& t) {
    if (kind == platform::SpeechEvent::Cut) return;
    heard.push_back(std::string(platform::speechEventName(kind)) + (t.empty() ? "" : ":" + t));
    if (kind == platform::SpeechEvent::Text && t == "linha") pushKey(27);
  });
  reviewFrom(1, 1, {typed("t"), typed("t")});
  EXPECT_EQ(count("text:linha"), 1);
  EXPECT_EQ(count("text:muitas"), 0);
  EXPECT_EQ(count("click"), 0);
}

TEST_F(Review, CopyTakesTheWholeScreen) {
  put(1, "primeira");
  put(25, "\xFAltima");
  reviewFrom(1, 1, {key(KeyId::C, kCtrl), key(KeyId::Escape)});
  EXPECT_EQ(inside(), (Heard{"click"}));
  const std::string copied = pasteFromClipboard(4096);
  ASSERT_EQ(copied.size(), 25u * 82u);
  EXPECT_EQ(copied.substr(0, 10), "primeira  ");
  EXPECT_EQ(copied.substr(80, 2), "\r\n");
  EXPECT_EQ(copied.substr(24 * 82, 6), "\xFAltima");
  EXPECT_EQ(copied, screenAsText());
}

TEST_F(Review, FieldsAndWordMoves) {
  gotoXY(1, 4);
  writeText("abc:def");
  setTextAttr(0x1F);
  writeText("ghi");
  setTextAttr(0x0F);
  EXPECT_EQ(reviewFieldAt(4, 1).first, 1);
  EXPECT_EQ(reviewFieldAt(4, 1).last, 3);
  EXPECT_EQ(reviewFieldAt(4, 4).first, 4);  // a separator is a field of its own
  EXPECT_EQ(reviewFieldAt(4, 4).last, 4);
  EXPECT_EQ(reviewFieldAt(4, 6).first, 5);
  EXPECT_EQ(reviewFieldAt(4, 6).last, 7);
  EXPECT_EQ(reviewFieldAt(4, 9).first, 8);  // another colour, another field
  EXPECT_EQ(reviewFieldAt(4, 9).last, 10);
  EXPECT_EQ(reviewCharAt(0, 1), ' ');
  EXPECT_EQ(reviewAttrAt(4, 81), 0);

  put(5, "um  dois tres");
  struct Move {
    PacedFrontend::Step key;
    Heard want;
    At at;
  };
  const Move moves[] = {
      {key(KeyId::Right, kCtrl), {"click"}, {5, 5}},
      {key(KeyId::Right, kCtrl), {"click"}, {10, 5}},
      {key(KeyId::Right, kCtrl), {"beep"}, {14, 5}},  // no next word: the row's end
      {key(KeyId::Left, kCtrl), {"click"}, {10, 5}},
      {key(KeyId::Tab), {}, {14, 5}},                     // the field is the whole row
      {key(KeyId::Tab, kShift), {"click", "beep"}, {1, 5}},  // before column 1: corrected
      {key(KeyId::Left, kCtrl), {"beep"}, {1, 5}},
  };
  gotoXY(1, 5);
  for (const Move& m : moves) {
    heard.clear();
    screen->waits.clear();
    screen->steps.push_back(m.key);
    screen->steps.push_back(key(KeyId::Escape));
    screenReview();
    EXPECT_EQ(inside(), m.want);
    EXPECT_EQ(cursorAtLastKey(), m.at);
    gotoXY(m.at.first, m.at.second);
  }
}

TEST_F(Review, EditorGoesOnUnchangedAfterReview) {
  std::string text = "Jazz";
  put(10, "");
  script({key(KeyId::End), key(KeyId::F9, kAlt | kCtrl), key(KeyId::Up), key(KeyId::Escape),
          key(KeyId::Enter)});
  EXPECT_EQ(editField(text, 5, 10, true, 20, 20), 13);
  EXPECT_EQ(text, "Jazz");
  // The caret came back to the field after review, at the end of the text.
  ASSERT_GE(screen->waits.size(), 5u);
  EXPECT_EQ(screen->waits[4].row, 10);
  EXPECT_EQ(screen->waits[4].column, 9);
}


// The field editor shows its text in the strip with the character under
// its cursor highlighted, review shows the row under the review cursor, and
// the band goes when the edit ends.
TEST_F(Review, StripFollowsTheEditorAndTheReviewCursor) {
  openStrip(23, 3);
  std::vector<platform::StripBand> bands;
  auto seen = [&bands](PacedFrontend::Step step) -> PacedFrontend::Step {
    return [&bands, step](PacedFrontend& f) {
      bands.push_back(f.strip().value_or(platform::StripBand{}));
      step(f);
    };
  };
  script({seen(key(KeyId::End)), seen(key(KeyId::Left)), seen(key(KeyId::Left)),
          seen(key(KeyId::F9, kAlt | kCtrl)), seen(key(KeyId::Escape)), seen(key(KeyId::Enter))});
  std::string text = "Jazz";
  EXPECT_EQ(editField(text, 5, 5, true, 20, 20), 13);
  EXPECT_FALSE(screen->strip().has_value());
  ASSERT_EQ(bands.size(), 6u);
  const int wantMarked[] = {0, 4, 3, 2, 2, 2};
  for (size_t i = 0; i < bands.size(); ++i) {
    EXPECT_EQ(bands[i].text.substr(0, 4), "Jazz") << i;
    EXPECT_EQ(bands[i].marked, wantMarked[i]) << i;
    EXPECT_EQ(bands[i].row, 22) << i;
    EXPECT_EQ(bands[i].factor, 3) << i;
  }
}

}  // namespace
}  // namespace ondaria::uitest
