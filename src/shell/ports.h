// The narrow interfaces through which the engine (chapter-list fetch, download, table tools)
// reaches the windows. The Qt front end implements them, carrying calls from other threads to
// the window thread and waiting for them; tests and benchmarks implement them in memory.
#pragma once

#include <string>
#include <vector>

#include "text/gbk_text.h"

namespace qv {

// Columns of the chapter table.
enum ChapterColumn : int { kColNumber = 0, kColTitle = 1, kColLink = 2, kColStatus = 3 };

// A row's check mark: checked rows are the ones a download fetches.
enum CheckMark : int { kUnchecked = 0, kChecked = 1 };

// The chapter table: rows by 0-based index. An index outside the table does nothing and reads
// as empty. Check mark 1 = to download, 0 = not. Highlight = the list's own multi-row selection.
class ChapterTable {
 public:
  virtual ~ChapterTable() = default;
  virtual int RowCount() = 0;
  // Appends a row whose column-0 text is `number`, unchecked, other cells empty.
  virtual void AppendRow(const Text& number) = 0;
  // Appends a whole chapter row in one call (the chapter-list fetch uses it per chapter).
  virtual void AppendChapter(const Text& number, const Text& title, const Text& link,
                             const Text& status, CheckMark checkState) = 0;
  // Inserts a row at `index` (0..RowCount) with column-0 text `number`, unchecked.
  virtual void InsertRow(int index, const Text& number) = 0;
  virtual void DeleteRow(int index) = 0;
  virtual void DeleteAllRows() = 0;
  virtual Text CellText(int row, int column) = 0;
  virtual void SetCellText(int row, int column, const Text& text) = 0;
  virtual CheckMark CheckState(int row) = 0;
  virtual void SetCheckState(int row, CheckMark state) = 0;
  virtual void SetHighlight(int row, bool on) = 0;
  virtual bool IsHighlighted(int row) = 0;
  // Highlighted rows in ascending order.
  virtual std::vector<int> HighlightedRows() = 0;
  virtual void ScrollIntoView(int row) = 0;
  // Row and column under a point of the table's viewport; false when no row is there.
  virtual bool HitTest(int x, int y, int& row, int& column) = 0;
};

// The controls the engine reads and writes, by their role.
enum class Ctl {
  // Main window: boxes and labels.
  AddressBox,      // 编辑框_章节列表网址
  StatusLabel,     // 标签4
  TitleLabel,      // 标签_书名
  AuthorLabel,     // 标签_作者
  BaseAddressBox,  // 编辑框_相对网址
  FirstRowBox,     // 编辑框_首行
  IntervalBox,     // 编辑框_间隔
  LastRowBox,      // 编辑框_尾行
  // Main window: buttons and check boxes.
  FetchButton,     // 按钮_获取章节标题
  DownloadButton,  // 按钮_下载章节内容
  PauseButton,     // 按钮_暂停继续
  StopButton,      // 按钮_停止
  MergeButton,     // 按钮_合并
  MergeCheck,      // 选择框_合并
  CaptureCheck,    // 选择框_页面抓取
  // Table tools that move or delete rows (disabled while a fetch or download runs).
  DeleteSelectedButton,  // 按钮_删除选择
  MoveUpButton,          // 按钮_上移
  MoveDownButton,        // 按钮_下移
  // Rule-settings window and its boxes.
  RuleWindow,        // the rule-settings window as a whole (enabled / disabled)
  SiteBox,           // 编辑框_网址
  ListPatternBox,    // 编辑框_列表正则
  TitlePatternBox,   // 编辑框_小说名正则
  AuthorPatternBox,  // 编辑框_小说作者正则
  LeftMarkerBox,     // 编辑框_章节内容左
  RightMarkerBox,    // 编辑框_章节内容右
  // Main window: the book formats a merge writes.
  TxtCheck,   // 选择框_生成TXT
  EpubCheck,  // 选择框_生成EPUB
};

// The kind of a notice: its icon and its buttons. The value is a set of flags that the notice
// box reads: the buttons in bits 0-3 (0 OK, 3 Yes/No/Cancel, 4 Yes/No), the icon in bits 4-7
// (16 error, 32 question, 64 information).
enum class NoticeStyle : int {
  kError = 16,
  kInfo = 64,
  kYesNoCancel = 35,
  kYesNo = 36,
  kYesNoDefaultNo = 36 | 0x100,  // a question whose second button (No) is the default
};

// How a notice ended: the button that closed it, its time-out, or not shown at all.
enum class NoticeAnswer : int {
  kNotShown = 0,
  kOk = 1,
  kCancel = 2,
  kAbort = 3,
  kRetry = 4,
  kIgnore = 5,
  kYes = 6,
  kNo = 7,
  kTimedOut = 32000,
};

// The unit of a wait's count. Any other value stands for that many milliseconds per unit.
enum class WaitUnit : int {
  kMilliseconds = 0,
  kSeconds = 1,
  kMinutes = 2,
  kHours = 3,
};

// The length of one unit in milliseconds.
inline double MillisecondsPerUnit(WaitUnit unit) {
  switch (unit) {
    case WaitUnit::kMilliseconds:
      return 1.0;
    case WaitUnit::kSeconds:
      return 1000.0;
    case WaitUnit::kMinutes:
      return 60000.0;
    case WaitUnit::kHours:
      return 3600000.0;
  }
  return static_cast<double>(static_cast<int>(unit));
}

class Controls {
 public:
  virtual ~Controls() = default;
  // Caption of a label, button or check box; text of an edit box.
  virtual Text GetText(Ctl c) = 0;
  virtual void SetText(Ctl c, const Text& text) = 0;
  virtual bool IsChecked(Ctl c) = 0;
  virtual void SetChecked(Ctl c, bool on) = 0;
  virtual bool IsEnabled(Ctl c) = 0;
  virtual void SetEnabled(Ctl c, bool on) = 0;
  // A message box that closes itself after timeoutMs (0 = stays until answered). Callable from
  // any thread; blocks only the caller.
  virtual NoticeAnswer Notice(const Text& title, const Text& text, int timeoutMs,
                              NoticeStyle style) = 0;
  // The modal text-input box; false when cancelled.
  virtual bool InputBox(const Text& prompt, const Text& title, const Text& initial,
                        Text& entered) = 0;
  // Processes pending window messages when called on the window thread; elsewhere nothing.
  virtual void Pump() = 0;
  // Waits count units while the window keeps processing its messages.
  virtual void Wait(double count, WaitUnit unit) = 0;
  // Opens a file with the program the desktop associates with it; false when the desktop could
  // not open it (no program for that kind of file, for one).
  virtual bool OpenWithDesktop(const Text& path) = 0;
  // The download progress bar: `done` of `total` chapters (total 0 = empty bar).
  virtual void SetProgress(int done, int total) = 0;
};

}  // namespace qv
