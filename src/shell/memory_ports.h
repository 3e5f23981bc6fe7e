// In-memory implementations of the window interfaces, for tests and benchmarks that run the
// whole engine without a display. Safe to use from several threads.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "shell/ports.h"

namespace qv {

class MemoryTable : public ChapterTable {
 public:
  struct Row {
    Text cells[4];
    CheckMark check = kUnchecked;
    bool highlighted = false;
  };

  int RowCount() override;
  void AppendRow(const Text& number) override;
  void AppendChapter(const Text& number, const Text& title, const Text& link, const Text& status,
                     CheckMark checkState) override;
  void InsertRow(int index, const Text& number) override;
  void DeleteRow(int index) override;
  void DeleteAllRows() override;
  Text CellText(int row, int column) override;
  void SetCellText(int row, int column, const Text& text) override;
  CheckMark CheckState(int row) override;
  void SetCheckState(int row, CheckMark state) override;
  void SetHighlight(int row, bool on) override;
  bool IsHighlighted(int row) override;
  std::vector<int> HighlightedRows() override;
  void ScrollIntoView(int row) override;
  // Rows are 20 px high; columns 70, 300, 0 and 80 px wide.
  bool HitTest(int x, int y, int& row, int& column) override;

  // Test helpers.
  std::vector<Row> Snapshot();
  int LastScrolledRow();
  // Every status text written to a row, in order.
  std::vector<Text> StatusHistory(int row);

 private:
  bool Valid(int row) const { return row >= 0 && row < static_cast<int>(rows_.size()); }
  std::mutex mu_;
  std::vector<Row> rows_;
  int lastScrolled_ = -1;
  std::vector<std::vector<Text>> statusHistory_;
};

class MemoryControls : public Controls {
 public:
  struct NoticeRecord {
    Text title, text;
    int timeoutMs;
    NoticeStyle style;
  };
  using NoticeHandler = std::function<NoticeAnswer(const NoticeRecord&)>;
  using InputHandler = std::function<bool(const Text& prompt, const Text& title,
                                          const Text& initial, Text& entered)>;

  MemoryControls();

  Text GetText(Ctl c) override;
  void SetText(Ctl c, const Text& text) override;
  bool IsChecked(Ctl c) override;
  void SetChecked(Ctl c, bool on) override;
  bool IsEnabled(Ctl c) override;
  void SetEnabled(Ctl c, bool on) override;
  NoticeAnswer Notice(const Text& title, const Text& text, int timeoutMs,
                      NoticeStyle style) override;
  bool InputBox(const Text& prompt, const Text& title, const Text& initial,
                Text& entered) override;
  void Pump() override;
  void Wait(double count, WaitUnit unit) override;
  bool OpenWithDesktop(const Text& path) override;
  void SetProgress(int done, int total) override;

  // Test helpers. The default notice handler answers OK (or Yes for questions).
  void SetNoticeHandler(NoticeHandler h);
  void SetInputHandler(InputHandler h);
  // Called on every Pump() and once per Wait() slice: lets a test act "during" a wait.
  void SetPumpHook(std::function<void()> h);
  // Real milliseconds slept per requested millisecond of Wait (default 0.01).
  void SetWaitScale(double scale);
  std::vector<NoticeRecord> Notices();
  std::vector<Text> OpenedFiles();
  // What OpenWithDesktop answers from now on (default true: the desktop opens every file).
  void SetDesktopOpens(bool opens);
  long PumpCount();
  // Every text written to a control, in order.
  std::vector<Text> TextHistory(Ctl c);
  std::pair<int, int> Progress();

 private:
  std::recursive_mutex mu_;
  std::map<Ctl, Text> text_;
  std::map<Ctl, bool> checked_;
  std::set<Ctl> disabled_;
  std::map<Ctl, std::vector<Text>> history_;
  std::vector<NoticeRecord> notices_;
  std::vector<Text> opened_;
  bool desktopOpens_ = true;
  NoticeHandler noticeHandler_;
  InputHandler inputHandler_;
  std::function<void()> pumpHook_;
  double waitScale_ = 0.01;
  long pumps_ = 0;
  std::pair<int, int> progress_{0, 0};
};

}  // namespace qv
