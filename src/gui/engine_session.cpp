#include "gui/engine_session.h"

#include <QAbstractButton>
#include <QTableView>

#include "gui/main_window.h"
#include "gui/rule_window/rule_window.h"
#include "gui/rule_window/rule_window_hooks.h"
#include "gui/web_page_browser.h"
#include "gui/window_bridge.h"

namespace qv {
namespace {

template <class F>
void OnClick(MainWindow& window, const char* name, F&& handler) {
  if (auto* button = window.Find<QAbstractButton>(name)) {
    QObject::connect(button, &QAbstractButton::clicked, button, std::forward<F>(handler));
  }
}

}  // namespace

EngineSession::EngineSession(MainWindow& window)
    : tools_{window.table(), window.controls()},
      browser_(MakeLazyPageBrowser(window.browserHost())),
      engine_(std::make_unique<DownloadEngine>(window.table(), window.controls(), browser_.get())),
      fetch_(std::make_unique<ChapterListFetch>(window.table(), window.controls())) {
  OnClick(window, "按钮_全选", [this] { tools_.CheckAllRows(); });
  OnClick(window, "按钮_反选", [this] { tools_.InvertAllRows(); });
  OnClick(window, "按钮_间选", [this] { tools_.HighlightAtInterval(); });
  OnClick(window, "按钮_取消选择",
          [this] { tools_.ActOnHighlightedRows(HighlightedRowsAction::kFlipChecks); });
  OnClick(window, "按钮_删除选择",
          [this] { tools_.ActOnHighlightedRows(HighlightedRowsAction::kDelete); });
  OnClick(window, "按钮_上移", [this] { tools_.MoveHighlightedRows(MoveDirection::Up); });
  OnClick(window, "按钮_下移", [this] { tools_.MoveHighlightedRows(MoveDirection::Down); });
  fetch_->SetRuleCheck([&window] {
    RuleWindow* rules = RuleWindowOf(window);
    return rules == nullptr || rules->HasRuleForAddress();
  });
  OnClick(window, "按钮_获取章节标题", [this] { fetch_->Start(); });
  OnClick(window, "按钮_下载章节内容", [this] { engine_->StartDownload(); });
  OnClick(window, "按钮_暂停继续", [this] { engine_->TogglePause(); });
  OnClick(window, "按钮_停止", [this] { engine_->StopDownload(); });
  OnClick(window, "按钮_合并", [this] { engine_->MergeButtonHandler(); });
  if (QTableView* view = window.chapterView()) {
    QObject::connect(view, &QTableView::doubleClicked, view, [this, view](const QModelIndex& i) {
      const QPoint p = view->visualRect(i).center();
      engine_->OpenChapterFile(p.x(), p.y());
    });
  }
}

EngineSession::~EngineSession() {
  OnClose();
  fetch_.reset();
  engine_.reset();
  browser_.reset();
}

void EngineSession::OnClose() {
  if (engine_) engine_->StopPoolOnClose();
  if (fetch_ && fetch_->Running()) {
    // The worker may be waiting for the window thread: release it before waiting for it.
    CloseWindowBridge();
  }
  if (fetch_) fetch_->Shutdown();
}

}  // namespace qv
