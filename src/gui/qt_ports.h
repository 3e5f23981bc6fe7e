// The engine's window interfaces over the real widgets. Every operation is carried out on the
// window thread (see window_bridge.h), so both may be used from any thread; once the bridge
// has closed, calls from other threads do nothing and read as empty.
#pragma once

#include <QPointer>
#include <QProgressBar>
#include <QTableView>
#include <chrono>
#include <map>

#include "gui/chapter_model.h"
#include "shell/ports.h"

namespace qv {

class QtChapterTable : public ChapterTable {
 public:
  QtChapterTable(ChapterModel* model, QTableView* view);

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
  // (x, y) in the view's viewport.
  bool HitTest(int x, int y, int& row, int& column) override;

  // ScrollIntoView follows the program's rows only while the user has not scrolled away from
  // the row it last showed; scrolling back to it, or FollowAgain (the user starts a tool or a
  // run), makes it follow again. Window thread.
  void FollowAgain() { following_ = true; }
  bool Following() const { return following_; }

 private:
  void UserScrolled();

  QPointer<ChapterModel> model_;
  QPointer<QTableView> view_;
  // Window thread only.
  bool following_ = true;
  bool programScroll_ = false;
  int lastShown_ = -1;
};

class QtControls : public Controls {
 public:
  QtControls() = default;

  // The widget that plays a role. The main window registers its own; the rule-settings window
  // registers RuleWindow and its boxes. Window thread.
  void RegisterBox(Ctl role, QWidget* widget);
  void RegisterProgressBar(QProgressBar* bar);
  // The widget registered for a role (null when none, or gone). Window thread.
  QWidget* Widget(Ctl role) const;

  Text GetText(Ctl c) override;
  void SetText(Ctl c, const Text& text) override;
  bool IsChecked(Ctl c) override;
  void SetChecked(Ctl c, bool on) override;
  bool IsEnabled(Ctl c) override;
  void SetEnabled(Ctl c, bool on) override;
  NoticeAnswer Notice(const Text& title, const Text& text, int timeoutMs,
                      NoticeStyle style) override;
  bool InputBox(const Text& prompt, const Text& title, const Text& initial, Text& entered) override;
  // Handles pending events on the window thread, at most once per kPumpInterval: it runs after
  // every row of long loops. Elsewhere nothing.
  void Pump() override;
  void Wait(double count, WaitUnit unit) override;
  bool OpenWithDesktop(const Text& path) override;
  void SetProgress(int done, int total) override;

  static constexpr std::chrono::milliseconds kPumpInterval{10};

 private:
  std::map<Ctl, QPointer<QWidget>> boxes_;  // window thread only
  QPointer<QProgressBar> progress_;
  std::chrono::steady_clock::time_point lastPump_{};
};

}  // namespace qv
