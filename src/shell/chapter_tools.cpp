#include "shell/chapter_tools.h"

#include <algorithm>
#include <vector>

#include "text/encoding.h"

namespace qv {
namespace {

constexpr const char* kNoticeTitle = "提示";
// Plain words for what stopped the tool; information, not an error of the user.
constexpr const char* kEmptyText = "表格中没有章节\r\n(3秒后自动关闭)";
constexpr const char* kIntervalText = "间隔太大，所选范围内选不出两行\r\n(3秒后自动关闭)";
constexpr const char* kNothingHighlightedText = "请先选中要移动的章节\r\n(3秒后自动关闭)";
constexpr const char* kBadCountText = "移动的行数要是正整数\r\n(3秒后自动关闭)";
constexpr const char* kAtTopText = "选中的章节已在最上面\r\n(3秒后自动关闭)";
constexpr const char* kMovePrompt = "请输入需要移动的行数：（正整数）";
constexpr const char* kMoveTitle = "输入行数";
constexpr int kNoticeMs = 3000;

CheckMark Flipped(CheckMark state) { return state == kUnchecked ? kChecked : kUnchecked; }

// Set while a tool runs on this thread; a tool entered again from inside its message pumping
// returns at once.
thread_local bool toolRunning = false;

class ToolScope {
 public:
  ToolScope() : entered_(!toolRunning) { toolRunning = true; }
  ~ToolScope() {
    if (entered_) toolRunning = false;
  }
  ToolScope(const ToolScope&) = delete;
  ToolScope& operator=(const ToolScope&) = delete;
  bool Entered() const { return entered_; }

 private:
  bool entered_;
};

// Copies check mark and columns 1 to 3 of row `from` to row `to`.
void CopyRowBody(ChapterTable& table, int from, int to) {
  table.SetCheckState(to, table.CheckState(from));
  for (int c = kColTitle; c <= kColStatus; ++c) table.SetCellText(to, c, table.CellText(from, c));
}

}  // namespace

void SetRowEditToolsEnabled(Controls& controls, bool on) {
  controls.SetEnabled(Ctl::DeleteSelectedButton, on);
  controls.SetEnabled(Ctl::MoveUpButton, on);
  controls.SetEnabled(Ctl::MoveDownButton, on);
}

void ChapterTools::Notice(const char* utf8Text) {
  static const Text title = Utf8ToGbk(kNoticeTitle);
  controls.Notice(title, Utf8ToGbk(utf8Text), kNoticeMs, NoticeStyle::kInfo);
}

void ChapterTools::CheckAllRows() {
  ToolScope scope;
  if (!scope.Entered()) return;
  if (table.RowCount() == 0) {
    Notice(kEmptyText);
    return;
  }
  // The count is read again each time: a nested handler may have emptied or refilled the table.
  for (int i = 0; i < table.RowCount(); ++i) {
    table.SetCheckState(i, qv::kChecked);
    controls.Pump();
  }
}

void ChapterTools::InvertAllRows() {
  ToolScope scope;
  if (!scope.Entered()) return;
  if (table.RowCount() == 0) {
    Notice(kEmptyText);
    return;
  }
  for (int i = 0; i < table.RowCount(); ++i) {
    table.SetCheckState(i, Flipped(table.CheckState(i)));
    controls.Pump();
  }
}

void ChapterTools::ActOnHighlightedRows(HighlightedRowsAction action) {
  ToolScope scope;
  if (!scope.Entered()) return;
  ActOn(action);
}

void ChapterTools::ActOn(HighlightedRowsAction action) {
  const std::vector<int> rows = table.HighlightedRows();
  if (rows.empty()) return;
  switch (action) {
    case HighlightedRowsAction::kUnhighlight:
      for (int r : rows) {
        table.SetHighlight(r, false);
        controls.Pump();
      }
      break;
    case HighlightedRowsAction::kFlipChecks:
      for (int r : rows) {
        table.SetCheckState(r, Flipped(table.CheckState(r)));
        controls.Pump();
      }
      break;
    case HighlightedRowsAction::kDelete: {
      // Highest index first, so the indexes still to delete stay valid.
      int expected = table.RowCount();
      for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
        table.DeleteRow(*it);
        --expected;
        controls.Pump();
        // The table was emptied or refilled meanwhile: the remaining indexes mean other rows.
        if (table.RowCount() != expected) return;
      }
      Renumber(rows.front());
      break;
    }
  }
}

void ChapterTools::RenumberRows(int from) { Renumber(from); }

void ChapterTools::Renumber(int from) {
  for (int k = std::max(from, 0); k < table.RowCount(); ++k) {
    table.SetCellText(k, kColNumber, RowNumberText(k));
    controls.Pump();
  }
}

void ChapterTools::HighlightAtInterval() {
  ToolScope scope;
  if (!scope.Entered()) return;
  ActOn(HighlightedRowsAction::kUnhighlight);

  const long long first = static_cast<long long>(ReadBoxInteger(controls.GetText(Ctl::FirstRowBox))) - 1;
  const long long interval = ReadBoxInteger(controls.GetText(Ctl::IntervalBox));
  long long last = ReadBoxInteger(controls.GetText(Ctl::LastRowBox));
  const int count = table.RowCount();
  if (last > count) {
    last = count;
    controls.SetText(Ctl::LastRowBox, Decimal(count));
  }
  const long long lastIndex = last - 1;
  // An interval below 1 would never reach the last row.
  if (interval < 1 || first + interval > lastIndex) {
    Notice(kIntervalText);
    return;
  }
  long long k = first;
  // Indexes below 0 highlight nothing: skip straight to the first one in the table.
  if (k < 0) k += (-k + interval - 1) / interval * interval;
  for (; k <= lastIndex; k += interval) {
    table.SetHighlight(static_cast<int>(k), true);
    controls.Pump();
  }
  if (first >= 0) table.ScrollIntoView(static_cast<int>(first));
}

void ChapterTools::MoveHighlightedRows(MoveDirection direction) {
  ToolScope scope;
  if (!scope.Entered()) return;
  if (table.HighlightedRows().empty()) {
    Notice(table.RowCount() == 0 ? kEmptyText : kNothingHighlightedText);
    return;
  }
  Text entered;
  if (!controls.InputBox(Utf8ToGbk(kMovePrompt), Utf8ToGbk(kMoveTitle), "1", entered)) return;
  const int n = ReadPlainInteger(entered);
  if (n < 1) {
    Notice(kBadCountText);
    return;
  }
  // Taken after the box: the table may have changed while it was open.
  const std::vector<int> rows = table.HighlightedRows();
  if (rows.empty()) return;
  const int count = table.RowCount();

  if (direction == MoveDirection::Up) {
    const int offset = std::min(n, rows.front());
    if (offset == 0) {
      Notice(kAtTopText);
      return;
    }
    for (int r : rows) {
      const int to = r - offset;
      table.InsertRow(to, table.CellText(r, kColNumber));
      CopyRowBody(table, r + 1, to);  // the moved row is one further down now
      table.SetHighlight(to, true);
      table.DeleteRow(r + 1);
      controls.Pump();
      if (table.RowCount() != count) return;  // emptied or refilled meanwhile
    }
  } else {
    const int offset = std::max(0, std::min(n, (count - 1) - rows.back()));
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
      const int r = *it;
      const int to = r + offset + 1;
      table.InsertRow(to, table.CellText(r, kColNumber));
      CopyRowBody(table, r, to);
      table.SetHighlight(to, true);
      table.DeleteRow(r);  // the new row is at r + offset now
      controls.Pump();
      if (table.RowCount() != count) return;
    }
  }
}

}  // namespace qv
