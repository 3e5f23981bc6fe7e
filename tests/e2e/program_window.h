// The program's main window built as the program builds it at start-up, for the end-to-end
// tests and the benchmark: the rule window attached, the engine session on the buttons, the
// session's close step first in the window's close. Also the rule file those windows read and
// the record of the notices they show.
#pragma once

#include <QMessageBox>
#include <QString>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gui/engine_session.h"
#include "gui/main_window.h"
#include "text/gbk_text.h"

namespace qvtest {

// Writes the rule file of the current directory: the default rules, then "本地书站", the rule
// 笔趣阁 with the site address `siteBase` (e.g. "http://127.0.0.1:PORT/").
void WriteRuleFile(const std::string& siteBase);

class ProgramWindow {
 public:
  // Shown, as the program shows it.
  ProgramWindow();
  // The session goes before the window it works on.
  ~ProgramWindow();
  ProgramWindow(const ProgramWindow&) = delete;
  ProgramWindow& operator=(const ProgramWindow&) = delete;

  qv::MainWindow& window() { return *window_; }
  qv::EngineSession& session() { return *session_; }

  QWidget* Find(const char* name) const { return window_->Find(name); }
  template <class W>
  W* Find(const char* name) const {
    return window_->Find<W>(name);
  }
  // The caption or text of a control, CP936.
  qv::Text Text(const char* name) const;
  bool Enabled(const char* name) const;
  bool Checked(const char* name) const;
  // The rule window as a whole.
  bool RuleWindowEnabled();

  // Replaces the text of 编辑框_章节列表网址 by typing `address` into it.
  void TypeAddress(const std::string& address);
  // A mouse click on the control's centre, as the user clicks (a disabled control ignores it).
  // Returns when the control's handler has returned.
  void Click(const char* name);
  // Clicks 按钮_获取章节标题 and handles events until the fetch has ended (limit in ms).
  bool FetchChapters(int limitMs = 10000);

 private:
  std::unique_ptr<qv::EngineSession> sessionSlot_;  // reached by the close hook
  std::unique_ptr<qv::MainWindow> window_;
  qv::EngineSession* session_ = nullptr;
};

// Every notice shown while it lives: what it showed, and its answer. A notice is answered with
// its default button after `holdMs` (0: at once), unless it closed by itself before that.
struct SeenNotice {
  QString title;
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  bool answered = false;  // still open when the hold ended, and answered then
};

class NoticeLog {
 public:
  NoticeLog();
  ~NoticeLog();
  NoticeLog(const NoticeLog&) = delete;
  NoticeLog& operator=(const NoticeLog&) = delete;

  void SetHold(int ms) { holdMs_ = ms; }
  // Notices that have this button are answered with it instead of their default one.
  void AnswerWith(QMessageBox::StandardButton button) { answer_ = button; }
  // Called when a notice shows, before it is answered (window thread).
  void OnShow(std::function<void(const SeenNotice&)> hook) { onShow_ = std::move(hook); }
  const std::vector<SeenNotice>& Seen() const { return seen_; }
  std::vector<QString> Texts() const;
  void Clear() { seen_.clear(); }

 private:
  int holdMs_ = 0;
  QMessageBox::StandardButton answer_ = QMessageBox::NoButton;
  std::function<void(const SeenNotice&)> onShow_;
  std::vector<SeenNotice> seen_;
};

// A caption as a box shows it, from UTF-8 source text.
QString Shown(const std::string& utf8);

}  // namespace qvtest
