// The program's engine attached to its main window: the chapter-table tools, the chapter-list
// fetch, the download engine and its page-capture browser, each on its buttons.
#pragma once

#include <memory>

#include "shell/chapter_tools.h"
#include "download/download_engine.h"
#include "download/page_browser.h"
#include "toc/chapter_list_fetch.h"

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

  ChapterTools& tools() { return tools_; }
  ChapterListFetch& fetch() { return *fetch_; }
  DownloadEngine& engine() { return *engine_; }

 private:
  ChapterTools tools_;
  std::unique_ptr<PageBrowser> browser_;
  std::unique_ptr<DownloadEngine> engine_;
  std::unique_ptr<ChapterListFetch> fetch_;
};

}  // namespace qv
