#include "console/ui/marked_list.h"

#include "console/ui/option_menu.h"
#include "console/ui/ui_hooks.h"
#include "ui_fixture.h"

using namespace ondaria;
using namespace ondaria::uitest;

namespace {

class MarkedList : public UiTest {
 protected:
  // Six items in the rows 3...7 (five visible), columns 5...14, drawn with
  // foreground 7.
  void openSix() {
    openList(5, 3, 14, 7);
    for (const char* t : {"um", "dois", "tres", "quatro", "cinco", "seis"}) addListItem(t);
    setTextAttr(0x07);
  }

  std::vector<bool> marks() const {
    std::vector<bool> out;
    for (int i = 1; i <= listItemCount(); ++i) out.push_back(getListItem(i).marked);
    return out;
  }

  static int foreground(const WaitSnapshot& w, int row) {
    return w.grid.attrAt(4, row - 1) & 0x0F;
  }
};

}  // namespace

TEST_F(MarkedList, ShiftDownMarksBothItemsWithColours) {
  openSix();
  script({key(KeyId::Down, kShift), key(KeyId::Enter)});
  const ListRunResult r = runList(1, true);
  EXPECT_EQ(r.index, 2);
  EXPECT_EQ(r.key, 13);
  EXPECT_EQ(r.code, 0);
  EXPECT_TRUE(r.chosen);
  EXPECT_EQ(marks(), (std::vector<bool>{true, true, false, false, false, false}));
  // "um" unmarked: a beep as it is marked; "dois" is marked when spoken.
  EXPECT_EQ(heard, (std::vector<std::string>{"text:um", "beep", "beep", "text:dois"}));
  const WaitSnapshot& w = screen->waits[1];
  EXPECT_EQ(foreground(w, 3), 2);   // marked
  EXPECT_EQ(foreground(w, 4), 14);  // current
  EXPECT_EQ(foreground(w, 5), 7);   // plain, in the colour in force
  EXPECT_EQ(w.column, 5);
  EXPECT_EQ(w.row, 4);
  EXPECT_EQ(rowOf(w.grid, 5).substr(4, 10), "tres      ");
  EXPECT_EQ(textAttr(), 0x07);
}

TEST_F(MarkedList, MarkingKeys) {
  openSix();
  script({typed(" "), typed("*"), key(KeyId::Down), typed(" "), typed("/"), typed("+"),
          key(KeyId::Down), typed("+"), typed("-"), typed("x")});
  const ListRunResult r = runList(1, false);
  EXPECT_EQ(r.key, 'x');
  EXPECT_EQ(r.index, 3);
  EXPECT_EQ(marks(), (std::vector<bool>{false, true, false, false, false, false}));
  std::vector<std::vector<bool>> seen;
  for (const WaitSnapshot& w : screen->waits) {
    std::vector<bool> row;
    for (int r = 3; r <= 7; ++r) row.push_back((w.grid.attrAt(4, r - 1) & 0x0F) == 2);
    seen.push_back(row);
  }
  // After "*" every visible row but the current one is green.
  EXPECT_EQ(seen[2], (std::vector<bool>{false, true, true, true, true}));
  // After Down and Space the second item is unmarked, the first still marked.
  EXPECT_EQ(seen[4], (std::vector<bool>{true, false, true, true, true}));
}

TEST_F(MarkedList, RestingPlacesBeyondEitherEnd) {
  openSix();
  script({key(KeyId::End), key(KeyId::Down), key(KeyId::Down), key(KeyId::Enter)});
  ListRunResult r = runList(1, false);
  EXPECT_EQ(r.index, 7);
  EXPECT_FALSE(r.chosen);
  EXPECT_EQ(heard, (std::vector<std::string>{"beep", "text:seis", "beep", "beep"}));
  // The empty place after the last item is the current row: blank, yellow.
  const WaitSnapshot& w = screen->waits[2];
  EXPECT_EQ(rowOf(w.grid, 7).substr(4, 10), std::string(10, ' '));
  EXPECT_EQ(rowOf(w.grid, 6).substr(4, 10), "seis      ");
  EXPECT_EQ(w.row, 7);

  heard.clear();
  script({key(KeyId::Up), key(KeyId::Up), key(KeyId::Escape)});
  r = runList(1, true);
  EXPECT_EQ(r.index, 0);
  EXPECT_EQ(r.key, 27);
  EXPECT_FALSE(r.chosen);
  EXPECT_EQ(heard, (std::vector<std::string>{"text:um", "beep", "beep"}));
}

TEST_F(MarkedList, StartOutsideTheListIsClamped) {
  openSix();
  script({key(KeyId::Enter)});
  ListRunResult r = runList(1000, true);
  EXPECT_EQ(r.index, 7);
  EXPECT_FALSE(r.chosen);
  EXPECT_TRUE(heard.empty());
  EXPECT_EQ(rowOf(screen->waits[0].grid, 7).substr(4, 10), std::string(10, ' '));

  script({key(KeyId::Down), key(KeyId::Enter)});
  r = runList(-50, false);
  EXPECT_EQ(r.index, 1);
  EXPECT_TRUE(r.chosen);
}

TEST_F(MarkedList, HomeEndAndTheirShiftForms) {
  using Marks = std::vector<bool>;
  openSix();
  struct Case {
    int start;
    PacedFrontend::Step step;
    int index;
    Marks after;
  };
  const Case cases[] = {
      {3, key(KeyId::End, kShift), 6, Marks{0, 0, 1, 1, 1, 1}},          // mark 3...6
      {5, key(KeyId::Home, kShift), 1, Marks{0, 0, 0, 0, 0, 1}},         // unmark 5...1
      {2, key(KeyId::Home, kCtrl | kShift), 1, Marks{1, 1, 0, 0, 0, 1}}, // mark 2...1
      {5, key(KeyId::End, kCtrl | kShift), 6, Marks{1, 1, 0, 0, 0, 0}},  // unmark 5...6
      {2, key(KeyId::Up, kShift), 1, Marks{1, 0, 0, 0, 0, 0}},           // unmark 2, move up
      {3, key(KeyId::Home, kCtrl), 3, Marks{1, 0, 0, 0, 0, 0}},          // nothing
      {3, key(KeyId::End, kCtrl), 3, Marks{1, 0, 0, 0, 0, 0}},           // nothing
      {3, key(KeyId::Home), 1, Marks{1, 0, 0, 0, 0, 0}},
      {3, key(KeyId::PageUp, kCtrl), 1, Marks{1, 0, 0, 0, 0, 0}},
      {3, key(KeyId::PageDown, kCtrl), 6, Marks{1, 0, 0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    heard.clear();
    script({c.step, typed("q")});
    const ListRunResult r = runList(c.start, false);
    EXPECT_EQ(r.index, c.index) << "from " << c.start;
    EXPECT_EQ(marks(), c.after) << "from " << c.start;
  }
  // Home, End and their Shift forms beep; Ctrl+Home/End without Shift are silent.
  heard.clear();
  script({key(KeyId::Home, kCtrl), key(KeyId::End, kCtrl), typed("q")});
  runList(4, false);
  EXPECT_EQ(count("beep"), 0);
  script({key(KeyId::End), typed("q")});
  runList(4, false);
  EXPECT_EQ(count("beep"), 1);
}

TEST_F(MarkedList, KeysThatEndTheRun) {
  openSix();
  const std::pair<PacedFrontend::Step, uint8_t> ending[] = {
      {key(KeyId::F1), 59},          {key(KeyId::F12), 70},
      {key(KeyId::Left), 75},        {key(KeyId::Right), 77},
      {key(KeyId::F9, kCtrl), 102},  {key(KeyId::Right, kCtrl), 116},
      {key(KeyId::F11, kCtrl), 104},
  };
  for (const auto& [step, code] : ending) {
    script({key(KeyId::Insert), key(KeyId::Delete), step});
    const ListRunResult r = runList(2, false);
    EXPECT_EQ(r.code, code);
    EXPECT_EQ(r.key, 0);
    EXPECT_EQ(r.index, 2);
  }
}

TEST_F(MarkedList, PagesAndScrolling) {
  openList(1, 1, 20, 5);
  for (int i = 1; i <= 30; ++i) addListItem("linha " + std::to_string(i));
  script({key(KeyId::End), key(KeyId::PageUp), key(KeyId::PageDown), key(KeyId::PageDown),
          typed("z")});
  const ListRunResult r = runList(1, false);
  EXPECT_EQ(r.index, 31);
  const WaitSnapshot& end = screen->waits[1];
  EXPECT_EQ(rowOf(end.grid, 1).substr(0, 20), "linha 26            ");
  EXPECT_EQ(rowOf(end.grid, 5).substr(0, 20), "linha 30            ");
  const WaitSnapshot& up = screen->waits[2];
  EXPECT_EQ(rowOf(up.grid, 1).substr(0, 20), "linha 20            ");
  EXPECT_EQ(up.row, 1);
  EXPECT_EQ(rowOf(screen->waits[4].grid, 5), padded(""));  // the empty place at the bottom
}

TEST_F(MarkedList, CapacityAndItemAccess) {
  openList(1, 1, 80, 25);
  for (int i = 0; i < kMaxListItems; ++i) ASSERT_TRUE(addListItem("x"));
  EXPECT_FALSE(addListItem("one too many"));
  EXPECT_EQ(listItemCount(), kMaxListItems);

  setListItem(2, "novo");
  setListItem(0, "ignored");
  setListItem(kMaxListItems + 1, "ignored");
  EXPECT_EQ(getListItem(2).text, "novo");
  EXPECT_EQ(getListItem(0).text, "");
  EXPECT_FALSE(getListItem(0).marked);
  EXPECT_EQ(getListItem(kMaxListItems + 1).text, "");

  script({typed("*"), key(KeyId::End), typed("q")});
  const ListRunResult r = runList(1, false);
  EXPECT_EQ(r.index, kMaxListItems);
  EXPECT_TRUE(getListItem(kMaxListItems).marked);
  closeList();
  EXPECT_EQ(listItemCount(), 0);
}

TEST_F(MarkedList, EmptyListAndRectangleOutsideTheGrid) {
  openList(-5, 0, 200, 99);
  script({key(KeyId::Down), key(KeyId::Up), typed(" "), typed("*"), key(KeyId::End, kShift),
          key(KeyId::Enter)});
  const ListRunResult r = runList(1, true);
  EXPECT_FALSE(r.chosen);
  EXPECT_EQ(r.index, 0);
  EXPECT_EQ(screen->scrolls(), 0);
  EXPECT_EQ(rowOf(screen->waits[0].grid, 25), padded(""));
}

TEST_F(MarkedList, CurrentItemGoesToTheMagnifiedStrip) {
  std::vector<std::string> shown;
  setStripShowHook([&](std::string_view t, int cursor) { shown.emplace_back(t); });
  openSix();
  script({key(KeyId::Down), key(KeyId::Enter)});
  runList(1, true);
  openOptionMenu(1, 10, 8, 0, 2);
  addOption("", "menu um");
  addOption("", "menu dois");
  script({key(KeyId::End), key(KeyId::Enter)});
  runOptionMenu();
  setStripShowHook(nullptr);
  EXPECT_EQ(shown, (std::vector<std::string>{"um", "dois", "menu um", "menu dois"}));
}
