// The program's engine attached to its main window: the chapter-table tools, the chapter-list
// fetch, the download engine and its page-capture browser, each on its buttons.
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "gui/chapter_model.h"

#include "shell/chapter_tools.h"
#include "download/download_engine.h"
#include "download/page_browser.h"
#include "toc/chapter_list_fetch.h"

class QTimer;

namespace qv {

class MainWindow;

class EngineSession {
 public:
  // Connects every button of the window's engine; the window must outlive the session.
  explicit EngineSession(MainWindow& window);
  ~EngineSession();
  EngineSession(const EngineSession&) = delete;
  EngineSession& operator=(const EngineSession&) = delete;

  // The first step of the window's about-to-be-destroyed handling: queued chapters are
  // dropped and the running ones finish, then a chapter-list fetch under way is ended.
  void OnClose();

  // Ctrl+Z: puts back the rows as they were before the last 删除选中部分 or move, once; a
  // fetch or a download forgets it. False when there is nothing to undo.
  bool UndoRowEdit();
  bool CanUndo() const { return undo_.has_value(); }

  ChapterTools& tools() { return tools_; }
  ChapterListFetch& fetch() { return *fetch_; }
  DownloadEngine& engine() { return *engine_; }

 private:
  // The fetch button starts a fetch, or cancels the one under way (caption "取消").
  void FetchButtonClicked();
  void WatchFetch();
  // Runs a tool that deletes or moves rows, keeping the rows before it for one undo.
  template <class F>
  void UndoableRowEdit(F&& edit);

  MainWindow& window_;
  ChapterTools tools_;
  std::optional<std::vector<ChapterModel::Row>> undo_;
  QTimer* fetchWatch_ = nullptr;
  std::unique_ptr<PageBrowser> browser_;
  std::unique_ptr<DownloadEngine> engine_;
  std::unique_ptr<ChapterListFetch> fetch_;
};

}  // namespace qv
