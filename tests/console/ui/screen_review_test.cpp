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

using Heard = std::vector<std::string>;
using At = std::pair<int, int>;  // column, row

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
  static void put(int column, int row, const std::string& text, uint8_t attr = 0x0F) {
    gotoXY(column, row);
    setTextAttr(attr);
    writeText(text);
    setTextAttr(0x0F);
  }
  // Runs review from the console cursor at `from` with these keys and Esc;
  // what was heard between entering (a beep) and leaving (two beeps).
  Heard review(At from, const std::vector<PacedFrontend::Step>& keys) {
    heard.clear();
    screen->waits.clear();
    gotoXY(from.first, from.second);
    for (const auto& k : keys) screen->steps.push_back(k);
    screen->steps.push_back(key(KeyId::Escape));
    screenReview();
    Heard h = heard;
    if (h.size() < 3 || h.front() != "beep" || h[h.size() - 1] != "beep" || h[h.size() - 2] != "beep")
      return {"entry or exit beeps missing"};
    return Heard(h.begin() + 1, h.end() - 2);
  }
  // The review cursor when review read its last key: it puts the console's
  // cursor there while it waits.
  At cursorAtLastKey() const {
    if (screen->waits.empty()) return {0, 0};
    return {screen->waits.back().column, screen->waits.back().row};
  }
};

// Every row starts review at `from`, presses the keys and then Esc.
TEST_F(Review, KeysTable) {
  put(1, 1, "topo");
  put(1, 2, "Nome: ");
  put(7, 2, "Radio Sol", 0x0E);  // a field of its own colour
  put(16, 2, " | kbps");
  put(1, 3, "casa de campo");
  put(1, 5, "um  dois tres");
  put(80, 7, "Z");
  struct Row {
    const char* what;
    At from;
    std::vector<PacedFrontend::Step> keys;
    Heard want;
    At at;
  };
  const auto t = [](const char* c) { return typed(c); };
  const std::vector<Row> table = {
      {"Right on 80, then beyond: corrected to 80", {80, 7}, {key(KeyId::Right), key(KeyId::Right)},
       {"char:Z", "char: ", "beep"}, {80, 7}},
      {"Up on row 1", {5, 1}, {key(KeyId::Up)}, {"beep"}, {1, 1}},
      {"Left on column 1", {1, 2}, {key(KeyId::Left)}, {"beep"}, {1, 2}},
      {"Backspace speaks the character left", {3, 5}, {key(KeyId::Backspace)}, {"char:m"}, {2, 5}},
      {"Down beyond row 25", {4, 25}, {key(KeyId::Down)}, {"beep"}, {1, 25}},
      {"Down reads the next row", {1, 4}, {key(KeyId::Down)}, {"click", "text:um", "text:dois", "text:tres"}, {1, 5}},
      {"Enter goes down silently", {1, 1}, {key(KeyId::Enter)}, {"click"}, {1, 2}},
      {"End of an empty row", {9, 9}, {key(KeyId::End)}, {"click"}, {1, 9}},
      {"End after the last character", {1, 5}, {key(KeyId::End)}, {}, {14, 5}},
      {"Page Down reads the empty last row", {1, 1}, {key(KeyId::PageDown)}, {}, {1, 25}},
      {"Ctrl+Page Down: the last letter", {1, 1}, {key(KeyId::PageDown, kCtrl)}, {"char:Z"}, {80, 7}},
      {"Ctrl+Right to the next word", {1, 5}, {key(KeyId::Right, kCtrl)}, {"click"}, {5, 5}},
      {"Ctrl+Right without a next word", {10, 5}, {key(KeyId::Right, kCtrl)}, {"beep"}, {14, 5}},
      {"Ctrl+Left to the previous word", {14, 5}, {key(KeyId::Left, kCtrl)}, {"click"}, {10, 5}},
      {"Ctrl+Left at the start", {1, 5}, {key(KeyId::Left, kCtrl)}, {"beep"}, {1, 5}},
      {"Tab past a field that fills the row", {10, 5}, {key(KeyId::Tab)}, {}, {14, 5}},
      {"Shift+Tab before column 1: corrected", {14, 5}, {key(KeyId::Tab, kShift)}, {"click", "beep"}, {1, 5}},
      {"an unknown key", {1, 1}, {key(KeyId::F9)}, {"beep", "click", "beep"}, {1, 1}},
      {"Ctrl+C copies the screen", {1, 1}, {key(KeyId::C, kCtrl)}, {"click"}, {1, 1}},
      {"F6 0 5 1 2", {1, 1}, {key(KeyId::F6), t("0"), t("5"), t("1"), t("2")},
       {"text:Entre linha e coluna", "char:0", "char:5", "char:1", "char:2"}, {12, 5}},
      {"F6 cancelled by a letter", {1, 1}, {key(KeyId::F6), t("0"), t("x")},
       {"text:Entre linha e coluna", "char:0", "beep", "beep"}, {1, 1}},
      {"F5 with a correction", {1, 1}, {key(KeyId::F5), t("d"), t("x"), key(KeyId::Backspace), t("e"), key(KeyId::Enter)},
       {"text:Qual texto", "char:d", "char:x", "recording:_DEL", "char:x", "char:e", "click"}, {6, 3}},
      {"Ctrl+F5 after the last de", {7, 3}, {key(KeyId::F5, kCtrl)}, {"beep", "beep"}, {7, 3}},
      // Reading commands on row 2: "Nome:" then the field "Radio Sol" then "| kbps".
      {"TL", {9, 2}, {t("T"), t("L")},
       {"text:Nome", "char::", "text:Radio", "text:Sol", "char:|", "char:k", "char:b", "char:p", "char:s"}, {9, 2}},
      {"lL is TL", {9, 2}, {t("l"), t("L")},
       {"text:Nome", "char::", "text:Radio", "text:Sol", "char:|", "char:k", "char:b", "char:p", "char:s"}, {9, 2}},
      {"IL", {9, 2}, {t("I"), t("L")}, {"text:Nome", "char::", "text:Ra"}, {9, 2}},
      {"FL", {13, 2}, {t("F"), t("L")}, {"text:Sol", "char:|", "char:k", "char:b", "char:p", "char:s"}, {13, 2}},
      {"TC", {9, 2}, {t("T"), t("C")}, {"text:Radio", "text:Sol"}, {9, 2}},
      {"IC", {9, 2}, {t("I"), t("C")}, {"text:Ra"}, {9, 2}},
      {"FC", {9, 2}, {t("F"), t("C")}, {"text:dio", "text:Sol"}, {9, 2}},
      {"IL on column 1: nothing to read", {1, 2}, {t("I"), t("L")}, {"beep"}, {1, 2}},
      {"IT stays where it stopped", {3, 2}, {t("I"), t("T")}, {"text:topo", "click", "text:No"}, {3, 2}},
      {"TX is no command", {9, 2}, {t("T"), t("X")}, {"beep", "click", "beep"}, {9, 2}},
  };
  for (const Row& r : table) {
    EXPECT_EQ(review(r.from, r.keys), r.want) << r.what;
    EXPECT_EQ(cursorAtLastKey(), r.at) << r.what;
  }
  EXPECT_EQ(reviewSearchText(), "de");
  // The copy: 25 lines of 80 characters, each ended by CR LF.
  const std::string copied = pasteFromClipboard(4096);
  ASSERT_EQ(copied.size(), 25u * 82u);
  EXPECT_EQ(copied.substr(0, 6), "topo  ");
  EXPECT_EQ(copied.substr(80, 2), "\r\n");
  EXPECT_EQ(copied.substr(6 * 82 + 79, 3), "Z\r\n");
  // Fields: the attribute and the separators bound them.
  EXPECT_EQ(reviewFieldAt(2, 3).last, 4);   // "Nome" ends at the colon
  EXPECT_EQ(reviewFieldAt(2, 5).first, 5);  // a separator is a field of its own
  EXPECT_EQ(reviewFieldAt(2, 5).last, 5);
  EXPECT_EQ(reviewFieldAt(2, 9).first, 7);
  EXPECT_EQ(reviewFieldAt(2, 9).last, 15);
  EXPECT_EQ(reviewCharAt(0, 1), ' ');
  EXPECT_EQ(reviewAttrAt(2, 81), 0);
}

TEST_F(Review, AKeyStopsTheWholeScreenReadingAtOnce) {
  for (int row = 1; row <= 25; ++row) put(1, row, "linha " + std::to_string(row) + " de muitas palavras");
  // The first word heard is answered by a key, as a person would.
  platform::setSpeechObserver([this](platform::SpeechEvent kind, const std::string& t) {
    if (kind == platform::SpeechEvent::Cut) return;
    heard.push_back(std::string(platform::speechEventName(kind)) + (t.empty() ? "" : ":" + t));
    if (kind == platform::SpeechEvent::Text && t == "linha") pushKey(27);
  });
  gotoXY(1, 1);
  script({typed("t"), typed("t")});
  screenReview();
  EXPECT_EQ(count("text:linha"), 1);
  EXPECT_EQ(count("text:muitas"), 0);
  EXPECT_EQ(count("click"), 0);
}

// The field editor shows its text in the strip with the character under
// its cursor highlighted, review shows the row under the review cursor;
// after review the edit goes on unchanged, and the band goes when it ends.
TEST_F(Review, EditorAndStripGoOnUnchangedAfterReview) {
  openStrip(23, 3);
  std::vector<platform::StripBand> bands;
  auto seen = [&bands](PacedFrontend::Step step) -> PacedFrontend::Step {
    return [&bands, step](PacedFrontend& f) {
      bands.push_back(f.strip().value_or(platform::StripBand{}));
      step(f);
    };
  };
  script({seen(key(KeyId::End)), seen(key(KeyId::Left)), seen(key(KeyId::Left)),
          seen(key(KeyId::F9, kAlt | kCtrl)), seen(key(KeyId::Up)), seen(key(KeyId::Escape)),
          seen(key(KeyId::Enter))});
  std::string text = "Jazz";
  EXPECT_EQ(editField(text, 5, 5, true, 20, 20), 13);
  EXPECT_EQ(text, "Jazz");
  EXPECT_FALSE(screen->strip().has_value());
  // The caret came back to the field after review, where it was.
  ASSERT_EQ(screen->waits.size(), 7u);
  EXPECT_EQ(screen->waits[6].column, 7);
  EXPECT_EQ(screen->waits[6].row, 5);
  ASSERT_EQ(bands.size(), 7u);
  const int wantMarked[] = {0, 4, 3, 2, 2, -1, 2};
  for (size_t i = 0; i < bands.size(); ++i) {
    if (i != 5) {  // review shows the empty row above the field
      EXPECT_EQ(bands[i].text.substr(0, 4), "Jazz") << i;
    }
    EXPECT_EQ(bands[i].marked, wantMarked[i]) << i;
    EXPECT_EQ(bands[i].row, 22) << i;
  }
}

}  // namespace
}  // namespace ondaria::uitest
