#include "program_window.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <filesystem>

#include "gui/box_text.h"
#include "gui/notices.h"
#include "rules/default_rules.h"
#include "rules/rule_store.h"
#include "gui/rule_window/rule_window.h"
#include "gui/rule_window/rule_window_hooks.h"
#include "text/encoding.h"

namespace qvtest {

using qv::Utf8ToGbk;

void WriteRuleFile(const std::string& siteBase) {
  const qv::RuleStore store;
  std::error_code ec;
  std::filesystem::remove(store.FilePath(), ec);
  store.EnsureFile();
  for (const qv::SiteRule& stored : qv::DefaultRuleSet()) {
    if (qv::TextDecode(stored.ruleName) != Utf8ToGbk("笔趣阁")) continue;
    qv::SiteRule rule;
    for (qv::RuleField f : qv::kRuleFields) rule.Field(f) = qv::TextDecode(stored.Field(f));
    rule.ruleName = Utf8ToGbk("本地书站");
    rule.site = siteBase;
    store.AddRule(rule);
  }
}

ProgramWindow::ProgramWindow() {
  qv::MainWindowHooks hooks;
  qv::AttachRuleWindow(hooks);
  hooks.stopPoolOnClose = [this](qv::MainWindow&) {
    if (sessionSlot_) sessionSlot_->OnClose();
  };
  window_ = std::make_unique<qv::MainWindow>(std::move(hooks));
  sessionSlot_ = std::make_unique<qv::EngineSession>(*window_);
  session_ = sessionSlot_.get();
  window_->show();
}

ProgramWindow::~ProgramWindow() {
  sessionSlot_.reset();
  window_.reset();
}

qv::Text ProgramWindow::Text(const char* name) const { return qv::WidgetText(Find(name)); }

bool ProgramWindow::Enabled(const char* name) const {
  QWidget* w = Find(name);
  return w != nullptr && w->isEnabled();
}

bool ProgramWindow::Checked(const char* name) const {
  auto* b = Find<QAbstractButton>(name);
  return b != nullptr && b->isChecked();
}

bool ProgramWindow::RuleWindowEnabled() {
  qv::RuleWindow* rw = qv::RuleWindowOf(*window_);
  return rw != nullptr && rw->isEnabled();
}

void ProgramWindow::TypeAddress(const std::string& address) {
  auto* box = Find<QLineEdit>("编辑框_章节列表网址");
  box->setFocus();
  box->selectAll();
  QTest::keyClicks(box, QString::fromUtf8(address.c_str()));
}

void ProgramWindow::Click(const char* name) {
  QWidget* w = Find(name);
  if (auto* check = qobject_cast<QAbstractButton*>(w); check != nullptr && check->isCheckable()) {
    // The indicator of a check box sits at its left end.
    QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(6, w->height() / 2));
    return;
  }
  QTest::mouseClick(w, Qt::LeftButton, {}, w->rect().center());
}

bool ProgramWindow::FetchChapters(int limitMs) {
  Click("按钮_获取章节标题");
  // Waiting in an event loop, as the program's own loop does: the worker's every row waits for
  // the window thread, which then answers at once (QTest::qWaitFor sleeps between looks).
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  while (session_->fetch().Running() || !Enabled("按钮_获取章节标题")) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    qv::ResponsiveWait(2);
  }
  return true;
}

NoticeLog::NoticeLog() {
  qv::SetNoticeObserver([this](QMessageBox* box) {
    seen_.push_back({box->windowTitle(), box->text(), box->icon(), box->standardButtons(), false});
    const size_t index = seen_.size() - 1;
    if (onShow_) onShow_(seen_[index]);
    QPointer<QMessageBox> guard(box);
    QTimer::singleShot(holdMs_, box, [this, guard, index] {
      if (!guard || !guard->isVisible()) return;
      QAbstractButton* button = answer_ != QMessageBox::NoButton ? guard->button(answer_) : nullptr;
      if (button == nullptr) button = guard->defaultButton();
      if (button == nullptr && !guard->buttons().isEmpty()) button = guard->buttons().front();
      if (button == nullptr) return;
      seen_[index].answered = true;
      button->click();
    });
  });
}

NoticeLog::~NoticeLog() { qv::SetNoticeObserver({}); }

std::vector<QString> NoticeLog::Texts() const {
  std::vector<QString> out;
  for (const SeenNotice& n : seen_) out.push_back(n.text);
  return out;
}

QString Shown(const std::string& utf8) { return qv::CaptionFromGbk(Utf8ToGbk(utf8)); }

}  // namespace qvtest
