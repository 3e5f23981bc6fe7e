// The download of a book: the download, pause, stop and merge buttons, the chapter task that
// the thread pool runs for each checked row, page capture through the embedded browser, the
// chapter files and the book merge, and the double-click that opens a chapter file.
//
// The engine reaches the windows only through ChapterTable and Controls. Its handlers run on the
// window thread; ChapterFetchTask runs on the pool's workers. It uses the process-wide objects
// of download_state.h, which CreateProcessObjects must have made before an engine exists.
//
// A run takes what it needs from the windows once, when it starts (RunJob); its tasks then write
// to the table and the status line but read nothing from the windows. So a run keeps the rule it
// started with to its end, even when typing another address shows another rule meanwhile.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "shell/ports.h"
#include "download/page_browser.h"
#include "text/gbk_text.h"

namespace qv {

// How often a run's waits look again at what they wait for (a loaded page, an idle pool), in ms.
inline constexpr int kPollMs = 50;

// One checked row of a run, taken from the table when the run starts.
struct ChapterJob {
  int row = 0;    // 0-based index in the chapter table
  Text title;     // column 1, the first line of the chapter file
  Text link;      // column 2, put directly after the run's base address
  Text filePath;  // the row's chapter file
};

// What a whole run works with, taken once when it starts: the book, and the rule it was started
// with (base address, markers, page-capture flag).
struct RunJob {
  Text title;
  Text author;
  Text address;  // the chapter-list address (the EPUB's identifier comes from it)
  Text folder;
  Text baseAddress;
  Text leftMarker;
  Text rightMarker;
  bool pageCapture = false;
  std::vector<ChapterJob> chapters;  // the checked rows, in table order
};

// The chapter body of `page` between the markers into `body`: false when the left marker is set
// and not in the page, the right one does not follow it, or nothing but blanks is left once the
// body is cleaned.
bool CutChapterBody(const Text& page, const Text& leftMarker, const Text& rightMarker, Text& body);

class DownloadEngine {
 public:
  // `browser` may be null when no page capture is possible; a capture run then gives every
  // checked row up at once. The engine sets the browser's load-finished handler.
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

  // What a run over the first rowCount rows works with: the book's title, author and folder,
  // the base address, the markers and the page-capture flag shown now, and every checked row.
  RunJob TakeRunJob(int rowCount);

  // One chapter of `run` over HTTP (up to three attempts), on a pool worker. An attempt fails
  // when the transfer did not complete, the status is not 2xx, the page is empty or has no
  // chapter body; a chapter whose attempts all failed is not saved, stays checked, counts as a
  // failure and shows "失败3次：" with the last attempt's reason.
  void ChapterFetchTask(const RunJob& run, const ChapterJob& chapter);
  // The steps after a page was fetched or captured, for both: the chapter body cut out of
  // `page` with the run's markers, the title put on top, the text cleaned and saved.
  bool SaveChapterPage(const RunJob& run, const ChapterJob& chapter, const Text& page);
  // Stores a chapter as the row's file: unhighlights and unchecks the row, "下载完毕", counts
  // it. A file that cannot be written leaves the row checked, shows "保存失败" and counts as a
  // failure; false then.
  bool SaveChapterFile(const ChapterJob& chapter, const Text& text);
  // Writes each chosen book format (选择框_生成TXT, 选择框_生成EPUB) from the files of the rows
  // reading "下载完毕", in table order, replacing each book only once the new one is complete.
  // True when every chosen format was written (false when none is chosen); the reason of an
  // EPUB failure is kept for the notice.
  bool MergeBook();
  // True when 选择框_生成TXT or 选择框_生成EPUB is checked.
  bool AnyBookFormatChosen();
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
  Text EpubFilePath();

  // The capture loop over the checked rows among the first rowCount, on the window thread.
  void PageCapture(int rowCount);
  // The capture loop over the rows of `run` that are still checked when it reaches them.
  void PageCapture(const RunJob& run);
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
  bool CaptureRow(const RunJob& run, const ChapterJob& chapter);
  // Whether the pause and stop buttons act on the capture loop: the running run's mode, or
  // outside a run the check box.
  bool CaptureMode();
  // On the window thread the count lock is awaited handling events (tasks may need them).
  void CountGivenUp(bool onWindowThread = false);
  void ReportProgressLocked();
  void SetRunControls(bool running);
  void SetStatus(const Text& text);
  Text Title();
  bool StartPool();
  // Merges the book `title` by `author`, whose chapter-list address is `address`.
  bool MergeBookAs(const Text& title, const Text& author, const Text& address);
  // `text`, followed by the reason of the last merge's failure when one is known.
  Text WithMergeProblem(const Text& text) const;
  // `path` inside the save folder.
  Text InSaveFolder(const Text& path) const;

  ChapterTable& table_;
  Controls& controls_;
  PageBrowser* browser_;
  bool running_ = false;  // window thread only
  std::shared_ptr<const RunJob> run_;  // the job of the run under way; window thread only
  bool merging_ = false;  // window thread only
  Text mergeProblem_;     // window thread only
  Text saveFolder_;        // set on the window thread between runs; read by the tasks
  std::chrono::milliseconds pageWaitLimit_{60000};
  // Progress of the current run: chapters done (saved or given up) of those taken on.
  std::atomic<int32_t> runDone_{0};
  std::atomic<int32_t> runTotal_{0};
  // While paused or stopping the status line tells that, not the progress of the tasks.
  std::atomic<bool> statusHeld_{false};
};

// The routine given to the pool for each chapter: value1 is the number under which StartDownload
// registered its run, value2 the chapter's index in the run's job. Runs ChapterFetchTask for
// that chapter on the engine of that run; a run no longer registered does nothing.
void ChapterTaskEntry(int32_t value1, int32_t value2);

}  // namespace qv
