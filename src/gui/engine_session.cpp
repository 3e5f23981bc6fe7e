#include "gui/engine_session.h"

#include <QAbstractButton>
#include <QProgressBar>
#include <QShortcut>
#include <QTableView>
#include <QTimer>

#include "gui/box_text.h"
#include "gui/main_window.h"
#include "gui/rule_window/rule_window.h"
#include "gui/rule_window/rule_window_hooks.h"
#include "gui/web_page_browser.h"
#include "gui/window_bridge.h"
#include "text/encoding.h"

namespace qv {
namespace {

template <class F>
void OnClick(MainWindow& window, const char* name, F&& handler) {
  if (auto* button = window.Find<QAbstractButton>(name)) {
    QObject::connect(button, &QAbstractButton::clicked, button, std::forward<F>(handler));
  }
}

bool SameRows(const std::vector<ChapterModel::Row>& a, const std::vector<ChapterModel::Row>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].check != b[i].check) return false;
    for (int c = 0; c < 4; ++c) {
      if (a[i].cells[c] != b[i].cells[c]) return false;
    }
  }
  return true;
}

}  // namespace

EngineSession::EngineSession(MainWindow& window)
    : window_(window),
      tools_{window.table(), window.controls()},
      browser_(MakeLazyPageBrowser(window.browserHost())),
      engine_(std::make_unique<DownloadEngine>(window.table(), window.controls(), browser_.get())),
      fetch_(std::make_unique<ChapterListFetch>(window.table(), window.controls())) {
  OnClick(window, "按钮_全选", [this] { tools_.CheckAllRows(); });
  OnClick(window, "按钮_反选", [this] { tools_.InvertAllRows(); });
  OnClick(window, "按钮_间选", [this] { tools_.HighlightAtInterval(); });
  OnClick(window, "按钮_取消选择", [this] { tools_.ActOnHighlightedRows(HighlightedRowsAction::kFlipChecks); });
  OnClick(window, "按钮_删除选择",
          [this] { UndoableRowEdit([this] { tools_.ActOnHighlightedRows(HighlightedRowsAction::kDelete); }); });
  OnClick(window, "按钮_上移",
          [this] { UndoableRowEdit([this] { tools_.MoveHighlightedRows(MoveDirection::Up); }); });
  OnClick(window, "按钮_下移", [this] {
    UndoableRowEdit([this] { tools_.MoveHighlightedRows(MoveDirection::Down); });
  });
  fetch_->SetRuleCheck([&window] {
    RuleWindow* rules = RuleWindowOf(window);
    return rules == nullptr || rules->HasRuleForAddress();
  });
  OnClick(window, "按钮_获取章节标题", [this] { FetchButtonClicked(); });
  OnClick(window, "按钮_下载章节内容", [this] {
    undo_.reset();
    if (fetchWatch_->isActive()) WatchFetch();
    if (!engine_->IsRunning()) engine_->SetSaveFolder(window_.SaveFolderText());
    engine_->StartDownload();
  });
  OnClick(window, "按钮_暂停继续", [this] { engine_->TogglePause(); });
  OnClick(window, "按钮_停止", [this] { engine_->StopDownload(); });
  OnClick(window, "按钮_合并", [this] {
    if (!engine_->IsRunning()) engine_->SetSaveFolder(window_.SaveFolderText());
    engine_->MergeButtonHandler();
  });
  if (QTableView* view = window.chapterView()) {
    QObject::connect(view, &QTableView::doubleClicked, view, [this, view](const QModelIndex& i) {
      const QPoint p = view->visualRect(i).center();
      if (!engine_->IsRunning()) engine_->SetSaveFolder(window_.SaveFolderText());
      engine_->OpenChapterFile(p.x(), p.y());
    });
  }
  auto* undo = new QShortcut(QKeySequence::Undo, &window);
  QObject::connect(undo, &QShortcut::activated, &window, [this] { UndoRowEdit(); });
  fetchWatch_ = new QTimer(&window);
  fetchWatch_->setInterval(50);
  QObject::connect(fetchWatch_, &QTimer::timeout, &window, [this] { WatchFetch(); });
}

template <class F>
void EngineSession::UndoableRowEdit(F&& edit) {
  ChapterModel* model = window_.chapterModel();
  std::vector<ChapterModel::Row> before = model->Rows();
  edit();
  if (!SameRows(before, model->Rows())) undo_ = std::move(before);
}

bool EngineSession::UndoRowEdit() {
  // Same rule as the tools it undoes: not while a fetch or a download uses the row indexes.
  QWidget* deleteButton = window_.Find("按钮_删除选择");
  if (!undo_ || deleteButton == nullptr || !deleteButton->isEnabled()) return false;
  window_.chapterModel()->Restore(std::move(*undo_));
  undo_.reset();
  return true;
}

void EngineSession::FetchButtonClicked() {
  auto* button = window_.Find<QAbstractButton>("按钮_获取章节标题");
  if (fetch_->Running()) {
    fetch_->Cancel();
    button->setEnabled(false);  // until the worker has ended
    return;
  }
  undo_.reset();
  fetch_->Start();
  if (!fetch_->Running()) return;
  // While the worker runs the button cancels it, and the bar shows that something happens.
  SetWidgetText(button, Utf8ToGbk("取消"));
  button->setEnabled(true);
  if (auto* bar = window_.Find<QProgressBar>("进度条1")) bar->setRange(0, 0);
  fetchWatch_->start();
}

void EngineSession::WatchFetch() {
  if (fetch_->Running()) return;
  fetchWatch_->stop();
  if (auto* button = window_.Find<QAbstractButton>("按钮_获取章节标题")) {
    SetWidgetText(button, Utf8ToGbk("获取章节标题"));
  }
  // Back from the busy look to the empty bar, unless a run has set it meanwhile.
  auto* bar = window_.Find<QProgressBar>("进度条1");
  if (bar != nullptr && bar->maximum() == 0) {
    bar->setRange(0, 1);
    bar->setValue(0);
  }
}

EngineSession::~EngineSession() {
  OnClose();
  fetch_.reset();
  engine_.reset();
  browser_.reset();
}

void EngineSession::OnClose() {
  // The closing window is left as it is.
  if (fetchWatch_ != nullptr) fetchWatch_->stop();
  if (engine_) engine_->StopPoolOnClose();
  if (fetch_ && fetch_->Running()) {
    // The worker may be waiting for the window thread: release it before waiting for it.
    CloseWindowBridge();
  }
  if (fetch_) fetch_->Shutdown();
}

}  // namespace qv
