// The chapter-table selection tools, worked through the in-memory table and controls.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "shell/chapter_tools.h"
#include "shell/memory_ports.h"
#include "text/encoding.h"

namespace qv {
namespace {

// "提示" and the empty-table notice's first characters "表格" in CP936, written as bytes so the
// check does not go through the same conversion as the code.
constexpr const char* kTitleGbk = "\xCC\xE1\xCA\xBE";
constexpr const char* kTableGbk = "\xB1\xED\xB8\xF1";

const Text kEmptyNotice = Utf8ToGbk("表格中没有章节\r\n(3秒后自动关闭)");
const Text kIntervalNotice = Utf8ToGbk("间隔太大，所选范围内选不出两行\r\n(3秒后自动关闭)");
const Text kNothingHighlightedNotice = Utf8ToGbk("请先选中要移动的章节\r\n(3秒后自动关闭)");
const Text kBadCountNotice = Utf8ToGbk("移动的行数要是正整数\r\n(3秒后自动关闭)");
const Text kAtTopNotice = Utf8ToGbk("选中的章节已在最上面\r\n(3秒后自动关闭)");
// The notices are information (64), not errors.
constexpr NoticeStyle kNoticeStyle = NoticeStyle::kInfo;

class ToolsTest : public ::testing::Test {
 protected:
  // n chapter rows: number i, title "t<i>", link "l<i>.html", status "s<i>", all checked.
  void Fill(int n) {
    for (int i = 1; i <= n; ++i) {
      const std::string s = std::to_string(i);
      table.AppendChapter(s, "t" + s, "l" + s + ".html", "s" + s, qv::kChecked);
    }
  }
  void Highlight(std::initializer_list<int> oneBased) {
    for (int r : oneBased) table.SetHighlight(r - 1, true);
  }
  std::vector<int> HighlightedOneBased() {
    std::vector<int> out;
    for (int r : table.HighlightedRows()) out.push_back(r + 1);
    return out;
  }
  std::vector<Text> Column(int c) {
    std::vector<Text> out;
    for (const auto& row : table.Snapshot()) out.push_back(row.cells[c]);
    return out;
  }
  std::vector<int> Checks() {
    std::vector<int> out;
    for (const auto& row : table.Snapshot()) out.push_back(row.check);
    return out;
  }
  // The move box answers `answer`, or is cancelled when there is none; counts its calls.
  void AnswerMoveBox(std::optional<Text> answer) {
    controls.SetInputHandler([this, answer](const Text& prompt, const Text& title,
                                            const Text& initial, Text& entered) {
      ++inputCalls;
      lastPrompt = prompt;
      lastTitle = title;
      lastInitial = initial;
      if (!answer) return false;
      entered = *answer;
      return true;
    });
  }
  void ExpectOnlyNotice(const Text& text) {
    const auto notices = controls.Notices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].title, kTitleGbk);
    EXPECT_EQ(notices[0].text, text);
    EXPECT_EQ(notices[0].timeoutMs, 3000);
    EXPECT_EQ(notices[0].style, kNoticeStyle);
  }

  MemoryTable table;
  MemoryControls controls;
  ChapterTools tools{table, controls};
  int inputCalls = 0;
  Text lastPrompt, lastTitle, lastInitial;
};

std::vector<Text> Texts(std::initializer_list<const char*> items) {
  return std::vector<Text>(items.begin(), items.end());
}

// --- HighlightAtInterval --------------------------------------------------------------------

struct IntervalCase {
  const char* name;
  int rows;
  const char *first, *interval, *last;  // box texts (UTF-8)
  std::vector<int> highlighted;         // 1-based
  bool notice;
  const char* lastBoxAfter;
  int scrolled;  // 0-based, -1 = nothing scrolled
};

TEST_F(ToolsTest, HighlightAtIntervalWorkedExamples) {
  const IntervalCase cases[] = {
      {"initial boxes", 10, "1", "4", "9999", {1, 5, 9}, false, "10", 0},
      {"last box past the end", 10, "1", "4", "11", {1, 5, 9}, false, "10", 0},
      {"interval too large", 10, "1", "10", "10", {}, true, "10", -1},
      {"interval just fits", 10, "1", "9", "10", {1, 10}, false, "10", 0},
      {"first row 0 skipped", 10, "0", "4", "9999", {4, 8}, false, "10", -1},
      {"interval 0", 10, "1", "0", "10", {}, true, "10", -1},
      {"interval -1", 10, "1", "-1", "10", {}, true, "10", -1},
      {"empty table", 0, "1", "4", "9999", {}, true, "0", -1},
      {"full-width digits", 10, "２", "３", "８", {2, 5, 8}, false, "８", 1},
      {"text around numbers", 10, " 3rd", "+2x", "7 rows", {3, 5, 7}, false, "7 rows", 2},
      {"negative first row", 10, "-5", "4", "10", {3, 7}, false, "10", -1},
      {"far negative first row", 3, "-999999999", "1", "3", {1, 2, 3}, false, "3", -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryTable t;
    MemoryControls ctl;
    ChapterTools tool{t, ctl};
    for (int i = 1; i <= c.rows; ++i) t.AppendChapter(std::to_string(i), "t", "l", "s", qv::kChecked);
    // A highlight left from before is always cleared, also when a notice ends the tool.
    t.SetHighlight(2, true);
    ctl.SetText(Ctl::FirstRowBox, Utf8ToGbk(c.first));
    ctl.SetText(Ctl::IntervalBox, Utf8ToGbk(c.interval));
    ctl.SetText(Ctl::LastRowBox, Utf8ToGbk(c.last));

    tool.HighlightAtInterval();

    std::vector<int> got;
    for (int r : t.HighlightedRows()) got.push_back(r + 1);
    EXPECT_EQ(got, c.highlighted);
    EXPECT_EQ(ctl.GetText(Ctl::LastRowBox), Utf8ToGbk(c.lastBoxAfter));
    EXPECT_EQ(t.LastScrolledRow(), c.scrolled);
    const auto notices = ctl.Notices();
    if (c.notice) {
      ASSERT_EQ(notices.size(), 1u);
      EXPECT_EQ(notices[0].text, kIntervalNotice);
      EXPECT_EQ(notices[0].title, kTitleGbk);
      EXPECT_EQ(notices[0].timeoutMs, 3000);
      EXPECT_EQ(notices[0].style, kNoticeStyle);
    } else {
      EXPECT_TRUE(notices.empty());
    }
    // Only a clamped last row rewrites the box.
    const bool clamped = Utf8ToGbk(c.lastBoxAfter) != Utf8ToGbk(c.last);
    EXPECT_EQ(ctl.TextHistory(Ctl::LastRowBox).size(), clamped ? 2u : 1u);
  }
}

// --- Check marks -------------------------------------------------------------------------------

TEST_F(ToolsTest, CheckAllAndInvertOnEmptyTableGiveTheNotice) {
  tools.CheckAllRows();
  tools.InvertAllRows();
  const auto notices = controls.Notices();
  ASSERT_EQ(notices.size(), 2u);
  for (const auto& n : notices) {
    EXPECT_EQ(n.title, kTitleGbk);
    EXPECT_EQ(n.text, kEmptyNotice);
    EXPECT_EQ(n.text.substr(0, 4), kTableGbk);
    EXPECT_EQ(n.timeoutMs, 3000);
    EXPECT_EQ(n.style, kNoticeStyle);
  }
  EXPECT_EQ(table.RowCount(), 0);
}

TEST_F(ToolsTest, CheckAllThenInvertAndHighlightedFlip) {
  Fill(5);
  table.SetCheckState(1, qv::kUnchecked);
  table.SetCheckState(3, qv::kUnchecked);
  Highlight({2, 5});

  tools.InvertAllRows();
  EXPECT_EQ(Checks(), (std::vector<int>{0, 1, 0, 1, 0}));

  tools.CheckAllRows();
  EXPECT_EQ(Checks(), (std::vector<int>{1, 1, 1, 1, 1}));

  tools.ActOnHighlightedRows(HighlightedRowsAction::kFlipChecks);
  EXPECT_EQ(Checks(), (std::vector<int>{1, 0, 1, 1, 0}));
  EXPECT_EQ(HighlightedOneBased(), (std::vector<int>{2, 5}));  // the highlight stays

  tools.ActOnHighlightedRows(HighlightedRowsAction::kFlipChecks);
  EXPECT_EQ(Checks(), (std::vector<int>{1, 1, 1, 1, 1}));

  tools.ActOnHighlightedRows();  // kUnhighlight
  EXPECT_TRUE(table.HighlightedRows().empty());
  EXPECT_EQ(Checks(), (std::vector<int>{1, 1, 1, 1, 1}));
  EXPECT_TRUE(controls.Notices().empty());

  // Nothing highlighted: modes 1 and 2 change nothing, and say nothing.
  tools.ActOnHighlightedRows(HighlightedRowsAction::kFlipChecks);
  tools.ActOnHighlightedRows(HighlightedRowsAction::kDelete);
  EXPECT_EQ(table.RowCount(), 5);
  EXPECT_EQ(Checks(), (std::vector<int>{1, 1, 1, 1, 1}));
  EXPECT_TRUE(controls.Notices().empty());
}

// --- Delete and renumber -----------------------------------------------------------------------

TEST_F(ToolsTest, DeleteHighlightedRenumbersFromTheFirstDeletedRow) {
  Fill(10);
  // Markers in rows 1 and 2 show whether their numbers were rewritten.
  table.SetCellText(0, kColNumber, "keep-a");
  table.SetCellText(1, kColNumber, "keep-b");
  // Out-of-order numbers further down are rewritten.
  table.SetCellText(9, kColNumber, "x");
  Highlight({3, 5});

  tools.ActOnHighlightedRows(HighlightedRowsAction::kDelete);

  EXPECT_EQ(table.RowCount(), 8);
  EXPECT_EQ(Column(kColNumber), Texts({"keep-a", "keep-b", "3", "4", "5", "6", "7", "8"}));
  EXPECT_EQ(Column(kColTitle), Texts({"t1", "t2", "t4", "t6", "t7", "t8", "t9", "t10"}));
  EXPECT_EQ(Column(kColLink)[2], "l4.html");
  EXPECT_TRUE(table.HighlightedRows().empty());
  EXPECT_TRUE(controls.Notices().empty());
}

TEST_F(ToolsTest, RenumberRowsRange) {
  Fill(4);
  for (int i = 0; i < 4; ++i) table.SetCellText(i, kColNumber, "?");
  tools.RenumberRows(4);  // past the last row
  EXPECT_EQ(Column(kColNumber), Texts({"?", "?", "?", "?"}));
  tools.RenumberRows(2);
  EXPECT_EQ(Column(kColNumber), Texts({"?", "?", "3", "4"}));
  tools.RenumberRows();
  EXPECT_EQ(Column(kColNumber), Texts({"1", "2", "3", "4"}));
  for (int i = 0; i < 4; ++i) table.SetCellText(i, kColNumber, "?");
  tools.RenumberRows(-3);
  EXPECT_EQ(Column(kColNumber), Texts({"1", "2", "3", "4"}));
}

// --- Move --------------------------------------------------------------------------------------

TEST_F(ToolsTest, MoveUpStopsAtTheTopAndCarriesTheRows) {
  Fill(10);
  table.SetCheckState(3, qv::kUnchecked);  // row 4 unchecked, row 5 checked
  table.SetCellText(4, kColStatus, "done5");
  Highlight({4, 5});
  AnswerMoveBox(Text("10"));

  tools.MoveHighlightedRows(MoveDirection::Up);

  EXPECT_EQ(inputCalls, 1);
  EXPECT_EQ(lastPrompt, Utf8ToGbk("请输入需要移动的行数：（正整数）"));
  EXPECT_EQ(lastTitle, Utf8ToGbk("输入行数"));
  EXPECT_EQ(lastInitial, "1");
  EXPECT_EQ(table.RowCount(), 10);
  EXPECT_EQ(Column(kColNumber), Texts({"4", "5", "1", "2", "3", "6", "7", "8", "9", "10"}));
  EXPECT_EQ(Column(kColTitle), Texts({"t4", "t5", "t1", "t2", "t3", "t6", "t7", "t8", "t9", "t10"}));
  EXPECT_EQ(Column(kColLink)[0], "l4.html");
  EXPECT_EQ(Column(kColLink)[1], "l5.html");
  EXPECT_EQ(Column(kColStatus)[0], "s4");
  EXPECT_EQ(Column(kColStatus)[1], "done5");
  EXPECT_EQ(Checks(), (std::vector<int>{0, 1, 1, 1, 1, 1, 1, 1, 1, 1}));
  EXPECT_EQ(HighlightedOneBased(), (std::vector<int>{1, 2}));
  EXPECT_TRUE(controls.Notices().empty());
}

TEST_F(ToolsTest, MoveDownStopsAtTheBottomKeepingGaps) {
  Fill(10);
  table.SetCheckState(8, qv::kUnchecked);
  Highlight({6, 9});  // row 9 is second to last: only 1 row of room
  AnswerMoveBox(Text("3"));

  tools.MoveHighlightedRows(MoveDirection::Down);

  EXPECT_EQ(Column(kColNumber), Texts({"1", "2", "3", "4", "5", "7", "6", "8", "10", "9"}));
  EXPECT_EQ(Column(kColLink)[9], "l9.html");
  EXPECT_EQ(Column(kColStatus)[6], "s6");
  EXPECT_EQ(Checks(), (std::vector<int>{1, 1, 1, 1, 1, 1, 1, 1, 1, 0}));
  EXPECT_EQ(HighlightedOneBased(), (std::vector<int>{7, 10}));
  EXPECT_TRUE(controls.Notices().empty());

  // Moved rows can be moved again: back up by 2 (room is 6 rows).
  AnswerMoveBox(Text(" 2 rows"));
  tools.MoveHighlightedRows(MoveDirection::Up);
  EXPECT_EQ(Column(kColNumber), Texts({"1", "2", "3", "4", "6", "5", "7", "9", "8", "10"}));
  EXPECT_EQ(HighlightedOneBased(), (std::vector<int>{5, 8}));
}

struct RefusedMove {
  const char* name;
  std::vector<int> highlighted;  // 1-based
  MoveDirection direction;
  std::optional<const char*> answer;  // UTF-8; none = cancelled
  bool asked;
  const Text* notice;  // none: no notice
};

TEST_F(ToolsTest, MovesThatChangeNothing) {
  const RefusedMove cases[] = {
      {"nothing highlighted", {}, MoveDirection::Up, "1", false, &kNothingHighlightedNotice},
      {"cancelled", {4}, MoveDirection::Up, std::nullopt, true, nullptr},
      {"zero rows", {4}, MoveDirection::Down, "0", true, &kBadCountNotice},
      {"negative rows", {4}, MoveDirection::Up, "-2", true, &kBadCountNotice},
      {"not a number", {4}, MoveDirection::Down, "abc", true, &kBadCountNotice},
      {"empty answer", {4}, MoveDirection::Down, "", true, &kBadCountNotice},
      {"full-width digits are not read", {4}, MoveDirection::Up, "３", true, &kBadCountNotice},
      {"up from row 1", {1, 3}, MoveDirection::Up, "2", true, &kAtTopNotice},
      {"down from the last row", {2, 10}, MoveDirection::Down, "5", true, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryTable t;
    MemoryControls ctl;
    ChapterTools tool{t, ctl};
    for (int i = 1; i <= 10; ++i) {
      const std::string s = std::to_string(i);
      t.AppendChapter(s, "t" + s, "l" + s, "s" + s, i % 2 ? qv::kChecked : qv::kUnchecked);
    }
    for (int r : c.highlighted) t.SetHighlight(r - 1, true);
    const auto before = t.Snapshot();
    int asked = 0;
    ctl.SetInputHandler([&](const Text&, const Text&, const Text&, Text& entered) {
      ++asked;
      if (!c.answer) return false;
      entered = Utf8ToGbk(*c.answer);
      return true;
    });

    tool.MoveHighlightedRows(c.direction);

    EXPECT_EQ(asked, c.asked ? 1 : 0);
    const auto after = t.Snapshot();
    ASSERT_EQ(after.size(), before.size());
    for (size_t i = 0; i < after.size(); ++i) {
      SCOPED_TRACE(i);
      for (int col = 0; col < 4; ++col) EXPECT_EQ(after[i].cells[col], before[i].cells[col]);
      EXPECT_EQ(after[i].check, before[i].check);
      EXPECT_EQ(after[i].highlighted, before[i].highlighted);
    }
    const auto notices = ctl.Notices();
    if (c.notice != nullptr) {
      ASSERT_EQ(notices.size(), 1u);
      EXPECT_EQ(notices[0].text, *c.notice);
      EXPECT_EQ(notices[0].style, kNoticeStyle);
    } else {
      EXPECT_TRUE(notices.empty());
    }
  }
}

// --- Window messages between rows --------------------------------------------------------------

TEST_F(ToolsTest, EveryLoopPumpsAfterEachRow) {
  struct Case {
    const char* name;
    std::function<void()> prepare;
    std::function<void()> run;
    long pumps;
  };
  const Case cases[] = {
      {"check all", [] {}, [&] { tools.CheckAllRows(); }, 10},
      {"invert", [] {}, [&] { tools.InvertAllRows(); }, 10},
      {"mode 0",
       [&] {
         Highlight({1, 2, 3});
       },
       [&] { tools.ActOnHighlightedRows(HighlightedRowsAction::kUnhighlight); }, 3},
      {"mode 1",
       [&] {
         Highlight({1, 2, 3});
       },
       [&] { tools.ActOnHighlightedRows(HighlightedRowsAction::kFlipChecks); }, 3},
      // 2 deletions, then rows 2..9 of what is left renumbered.
      {"mode 2",
       [&] {
         Highlight({2, 5});
       },
       [&] { tools.ActOnHighlightedRows(HighlightedRowsAction::kDelete); }, 2 + 7},
      {"renumber", [] {}, [&] { tools.RenumberRows(6); }, 4},
      // 2 highlights cleared, then rows 1, 5 and 9 highlighted.
      {"interval",
       [&] {
         Highlight({2, 3});
         controls.SetText(Ctl::FirstRowBox, "1");
         controls.SetText(Ctl::IntervalBox, "4");
         controls.SetText(Ctl::LastRowBox, "9999");
       },
       [&] { tools.HighlightAtInterval(); }, 2 + 3},
      {"move up",
       [&] {
         Highlight({5, 6, 8});
         AnswerMoveBox(Text("1"));
       },
       [&] { tools.MoveHighlightedRows(MoveDirection::Up); }, 3},
      {"move down",
       [&] {
         Highlight({5, 6, 8});
         AnswerMoveBox(Text("1"));
       },
       [&] { tools.MoveHighlightedRows(MoveDirection::Down); }, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    table.DeleteAllRows();
    Fill(10);
    c.prepare();
    const long before = controls.PumpCount();
    c.run();
    EXPECT_EQ(controls.PumpCount() - before, c.pumps);
  }
}

TEST_F(ToolsTest, PumpComesBetweenRowsNotAtTheEnd) {
  Fill(4);
  for (int i = 0; i < 4; ++i) table.SetCheckState(i, qv::kUnchecked);
  std::vector<std::vector<int>> seen;
  controls.SetPumpHook([&] { seen.push_back(Checks()); });
  tools.CheckAllRows();
  EXPECT_EQ(seen, (std::vector<std::vector<int>>{
                      {1, 0, 0, 0}, {1, 1, 0, 0}, {1, 1, 1, 0}, {1, 1, 1, 1}}));
}

// A tool pressed while another one pumps would work on indexes the outer tool is still using.
TEST_F(ToolsTest, ToolStartedDuringAnotherToolIsIgnored) {
  Fill(10);
  Highlight({4, 5});
  AnswerMoveBox(Text("2"));
  int nested = 0;
  controls.SetPumpHook([&] {
    if (nested++ > 0) return;
    tools.ActOnHighlightedRows(HighlightedRowsAction::kDelete);
    tools.MoveHighlightedRows(MoveDirection::Down);
    tools.InvertAllRows();
  });

  tools.MoveHighlightedRows(MoveDirection::Up);

  EXPECT_EQ(Column(kColNumber), Texts({"1", "4", "5", "2", "3", "6", "7", "8", "9", "10"}));
  EXPECT_EQ(HighlightedOneBased(), (std::vector<int>{2, 3}));
  EXPECT_EQ(Checks(), std::vector<int>(10, 1));
  EXPECT_EQ(inputCalls, 1);

  // Once the outer tool has returned, tools work again.
  controls.SetPumpHook(nullptr);
  tools.ActOnHighlightedRows(HighlightedRowsAction::kDelete);
  EXPECT_EQ(table.RowCount(), 8);
}

// A chapter-list fetch started from a nested handler empties and refills the table: the tool's
// remaining indexes no longer mean the rows it was given, so it stops.
TEST_F(ToolsTest, TableRefilledDuringDeleteOrMoveStopsTheTool) {
  const auto refill = [&] {
    table.DeleteAllRows();
    for (int i = 1; i <= 3; ++i) table.AppendChapter(std::to_string(i), "new", "n", "w", qv::kChecked);
  };
  for (int tool = 0; tool < 2; ++tool) {
    SCOPED_TRACE(tool == 0 ? "delete" : "move");
    table.DeleteAllRows();
    Fill(10);
    Highlight({1, 2, 9});
    AnswerMoveBox(Text("1"));
    bool done = false;
    controls.SetPumpHook([&] {
      if (!done) refill();
      done = true;
    });
    if (tool == 0) {
      tools.ActOnHighlightedRows(HighlightedRowsAction::kDelete);
    } else {
      tools.MoveHighlightedRows(MoveDirection::Down);
    }
    controls.SetPumpHook(nullptr);
    EXPECT_EQ(Column(kColNumber), Texts({"1", "2", "3"}));
    EXPECT_EQ(Column(kColTitle), Texts({"new", "new", "new"}));
    EXPECT_TRUE(table.HighlightedRows().empty());
  }
}

TEST_F(ToolsTest, RowEditToolsSwitchTogether) {
  SetRowEditToolsEnabled(controls, false);
  EXPECT_FALSE(controls.IsEnabled(Ctl::DeleteSelectedButton));
  EXPECT_FALSE(controls.IsEnabled(Ctl::MoveUpButton));
  EXPECT_FALSE(controls.IsEnabled(Ctl::MoveDownButton));
  EXPECT_TRUE(controls.IsEnabled(Ctl::FetchButton));
  EXPECT_TRUE(controls.IsEnabled(Ctl::DownloadButton));
  SetRowEditToolsEnabled(controls, true);
  EXPECT_TRUE(controls.IsEnabled(Ctl::DeleteSelectedButton));
  EXPECT_TRUE(controls.IsEnabled(Ctl::MoveUpButton));
  EXPECT_TRUE(controls.IsEnabled(Ctl::MoveDownButton));
}

}  // namespace
}  // namespace qv
