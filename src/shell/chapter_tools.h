// The selection tools of the chapter table: check all, invert, highlight at an interval, act on
// the highlighted rows, renumber, and move the highlighted rows. Window thread only.
//
// Every loop calls Controls::Pump() after each row it touches, so the window repaints and other
// handlers (download status updates, pause, stop) run between two rows. A tool started from such
// a nested handler while another tool is still running on the same thread is ignored: the outer
// tool holds row indexes that a nested delete or move would make stale.
#pragma once

#include "shell/ports.h"
#include "text/gbk_text.h"

namespace qv {

// Column-0 text of the row at 0-based `index`: its 1-based number.
inline Text RowNumberText(int index) { return Decimal(static_cast<long long>(index) + 1); }

// Enables or disables the tools that move or delete rows (删除选中部分, 上移, 下移). The
// chapter-list fetch and the download turn them off while they run, since their tasks address
// rows by index.
void SetRowEditToolsEnabled(Controls& controls, bool on);

enum class MoveDirection { Up, Down };

// What ActOnHighlightedRows does with the highlighted rows.
enum class HighlightedRowsAction {
  kUnhighlight,  // removes the highlight
  kFlipChecks,   // flips the check marks
  kDelete,       // deletes the rows
};

struct ChapterTools {
  ChapterTable& table;
  Controls& controls;

  // Every row checked; on an empty table a notice instead.
  void CheckAllRows();
  // Every row's check mark flipped; on an empty table a notice instead.
  void InvertAllRows();
  // Clears the highlight, then highlights every interval-th row from the first-row box up to
  // the last-row box (clamped to the row count, and the box rewritten then), and scrolls the
  // first row into view. An interval too large for two rows, or below 1, gets a notice.
  void HighlightAtInterval();
  // On the highlighted rows: kUnhighlight removes the highlight, kFlipChecks flips the check
  // marks (the highlight stays), kDelete deletes them and renumbers from the lowest deleted
  // index. An empty highlight does nothing.
  void ActOnHighlightedRows(HighlightedRowsAction action = HighlightedRowsAction::kUnhighlight);
  // Column 0 of every row from index `from` on becomes its 1-based number.
  void RenumberRows(int from = 0);
  // Asks for a row count and moves the highlighted rows up or down by it, stopping at the top
  // or bottom; the rows keep their numbers, marks and cells and stay highlighted.
  void MoveHighlightedRows(MoveDirection direction);

 private:
  void ActOn(HighlightedRowsAction action);
  void Renumber(int from);
  void Notice(const char* utf8Text);
};

}  // namespace qv
