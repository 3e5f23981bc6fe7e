// The download of a book: the download, pause, stop and merge buttons, the chapter task that
// the thread pool runs for each checked row, page capture through the embedded browser, the
// chapter files and the book merge, and the double-click that opens a chapter file.
//
// The engine reaches the windows only through ChapterTable and Controls. Its handlers run on the
// window thread; ChapterFetchTask runs on the pool's workers. It uses the process-wide objects
// of download_state.h, which CreateProcessObjects must have made before an engine exists.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

#include "shell/ports.h"
#include "download/page_browser.h"
#include "text/gbk_text.h"

namespace qv {

// How often a run's waits look again at what they wait for (a loaded page, an idle pool), in ms.
inline constexpr int kPollMs = 50;

class DownloadEngine {
 public:
  // `browser` may be null when no page capture is possible; a capture run then gives every
  // checked row up at once. The engine sets the browser's load-finished handler and becomes
  // the engine that ChapterTaskEntry reaches.
  DownloadEngine(ChapterTable& table, Controls& controls, PageBrowser* browser = nullptr);
  // Waits, pumping, for chapter tasks still running (queued ones are dropped) before it goes.
  ~DownloadEngine();
  DownloadEngine(const DownloadEngine&) = delete;
  DownloadEngine& operator=(const DownloadEngine&) = delete;

  // 按钮_下载章节内容: downloads every checked row (over HTTP on the pool, or by page capture
  // when 选择框_页面抓取 is checked), then runs the finish step unless stopped.
  void StartDownload();
  // 按钮_暂停继续: pauses or resumes the pool or the capture loop; caption "暂停" / "继续".
  void TogglePause();
  // 按钮_停止: drops the queued chapters (HTTP) or ends the capture loop before its next row.
  void StopDownload();
  // Reports the run in 标签4 and, with autoMerge and no failure, merges the book.
  void FinishDownload(bool autoMerge);

  // One chapter over HTTP (up to three attempts), on a pool worker.
  void ChapterFetchTask(int row);
  // Stores a chapter as the row's file: unhighlights and unchecks the row, "下载完毕", counts
  // it. A file that cannot be written leaves the row checked, shows "保存失败" and counts as a
  // failure; false then.
  bool SaveChapterFile(int row, const Text& chapter);
  // Joins the files of the rows reading "下载完毕" into the book file, replacing it only once
  // the new one is complete. True when the book file was written.
  bool MergeBook();
  // 按钮_合并.
  void MergeButtonHandler();
  // Double-click on the chapter table at the viewport point (x, y): opens the row's chapter
  // file with the desktop's program when the point is in column 1 or after and the file exists.
  void OpenChapterFile(int x, int y);

  // Paths from the current captions of 标签_书名 and 标签_作者 (see book_files.h), inside the
  // save folder.
  Text BookFolder();
  Text ChapterFilePath(int row);
  Text BookFilePath();

  // The capture loop over the first rowCount rows, on the window thread.
  void PageCapture(int rowCount);
  // The browser's page text in CP936.
  Text GetPageText();

  // The engine's half of closing the main window (see StopPoolOnClose in download_state.h).
  void StopPoolOnClose();

  // The folder the book folder and the book file go into (CP936; empty: the current
  // directory). Window thread, while no run is under way.
  void SetSaveFolder(const Text& folder) { saveFolder_ = folder; }
  const Text& SaveFolder() const { return saveFolder_; }

  // True while StartDownload is working.
  bool IsRunning() const { return running_; }

  // How long one capture attempt waits for its page (default 60 s).
  void SetPageWaitLimit(std::chrono::milliseconds limit) { pageWaitLimit_ = limit; }

 private:
  bool CaptureRow(int row);
  // On the window thread the count lock is awaited handling events (tasks may need them).
  void CountGivenUp(bool onWindowThread = false);
  void ReportProgressLocked();
  void SetRunControls(bool running);
  void SetStatus(const Text& text);
  Text Title();
  bool StartPool();
  // `path` inside the save folder.
  Text InSaveFolder(const Text& path) const;

  ChapterTable& table_;
  Controls& controls_;
  PageBrowser* browser_;
  bool running_ = false;  // window thread only
  bool merging_ = false;  // window thread only
  Text saveFolder_;        // set on the window thread between runs; read by the tasks
  std::chrono::milliseconds pageWaitLimit_{60000};
  // Progress of the current run: chapters done (saved or given up) of those taken on.
  std::atomic<int32_t> runDone_{0};
  std::atomic<int32_t> runTotal_{0};
};

// The routine given to the pool for each chapter: runs ChapterFetchTask(value1) on the current
// engine (value2 is not used).
void ChapterTaskEntry(int32_t value1, int32_t value2);

}  // namespace qv
