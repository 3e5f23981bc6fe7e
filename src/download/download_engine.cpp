#include "download/download_engine.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

#include "shell/chapter_tools.h"
#include "download/book_files.h"
#include "download/download_state.h"
#include "download/engine_texts.h"
#include "text/encoding.h"
#include "text/markers.h"
#include "web/http_fetch.h"
#include "web/response_decoder.h"

namespace qv {
namespace {

// The engine that ChapterTaskEntry reaches: the pool's routine carries only two integers.
std::atomic<DownloadEngine*> g_currentEngine{nullptr};

constexpr int kHttpAttempts = 3;

// Holds the count lock for the window thread, which keeps handling its events until it has the
// lock: a chapter task may hold it while it waits for the window thread to carry out a write to
// the table, so a plain wait there would never end.
class WindowThreadCountGuard {
 public:
  WindowThreadCountGuard(SectionLock& lock, Controls& controls) : lock_(lock) {
    while (!lock_.TryEnter()) controls.Wait(1, 0);
  }
  ~WindowThreadCountGuard() { lock_.Leave(); }
  WindowThreadCountGuard(const WindowThreadCountGuard&) = delete;
  WindowThreadCountGuard& operator=(const WindowThreadCountGuard&) = delete;

 private:
  SectionLock& lock_;
};

}  // namespace

void ChapterTaskEntry(int32_t value1, int32_t /*value2*/) {
  if (DownloadEngine* engine = g_currentEngine.load()) engine->ChapterFetchTask(value1);
}

DownloadEngine::DownloadEngine(ChapterTable& table, Controls& controls, PageBrowser* browser)
    : table_(table), controls_(controls), browser_(browser) {
  CreateProcessObjects();
  if (browser_) {
    browser_->SetLoadFinishedHandler([] { TheDownloadState().documentReady = 1; });
  }
  g_currentEngine.store(this);
}

DownloadEngine::~DownloadEngine() {
  if (ProcessObjectsExist()) {
    ThreadPool& pool = DownloadPool();
    if (!pool.IsIdle()) {
      pool.Stop(ThreadPool::kDropNoWait);
      while (!pool.IsIdle()) controls_.Wait(1, 1);
    }
  }
  if (browser_) browser_->SetLoadFinishedHandler({});
  DownloadEngine* self = this;
  g_currentEngine.compare_exchange_strong(self, nullptr);
}

Text DownloadEngine::Title() { return controls_.GetText(Ctl::TitleLabel); }
Text DownloadEngine::InSaveFolder(const Text& path) const {
  if (saveFolder_.empty()) return path;
  return saveFolder_.back() == '/' ? saveFolder_ + path : saveFolder_ + "/" + path;
}
Text DownloadEngine::BookFolder() { return InSaveFolder(BookFolderPath(Title())); }
Text DownloadEngine::ChapterFilePath(int row) {
  return InSaveFolder(ChapterFilePathFor(Title(), row));
}
Text DownloadEngine::BookFilePath() {
  return InSaveFolder(BookFilePathFor(Title(), controls_.GetText(Ctl::AuthorLabel)));
}

void DownloadEngine::SetStatus(const Text& text) { controls_.SetText(Ctl::StatusLabel, text); }

void DownloadEngine::SetRunControls(bool running) {
  controls_.SetEnabled(Ctl::DownloadButton, !running);
  controls_.SetEnabled(Ctl::RuleWindow, !running);
  controls_.SetEnabled(Ctl::CaptureCheck, !running);
  // The tasks address rows by index: no fetch (which empties the table), no delete, no move.
  controls_.SetEnabled(Ctl::FetchButton, !running);
  SetRowEditToolsEnabled(controls_, !running);
  controls_.SetEnabled(Ctl::PauseButton, running);
  controls_.SetEnabled(Ctl::StopButton, running);
}

void DownloadEngine::ReportProgressLocked() {
  controls_.SetProgress(runDone_.load(), runTotal_.load());
}

void DownloadEngine::CountGivenUp(bool onWindowThread) {
  DownloadState& s = TheDownloadState();
  s.failedCount->Increment();
  auto countLocked = [this] {
    runDone_.fetch_add(1);
    ReportProgressLocked();
  };
  if (onWindowThread) {
    WindowThreadCountGuard guard(*s.countLock, controls_);
    countLocked();
  } else {
    SectionGuard guard(*s.countLock);
    countLocked();
  }
}

bool DownloadEngine::StartPool() {
  ThreadPool& pool = DownloadPool();
  // A pool stopped by the previous run may still be winding down its last workers.
  bool sawStopped = false;
  for (int tries = 0; tries < 1000; ++tries) {
    if (pool.Start() || pool.IsRunning()) return true;
    if (pool.CurrentState() == ThreadPool::kStopped) {
      if (sawStopped) return false;  // it could not start at all
      sawStopped = true;
      continue;
    }
    controls_.Wait(10, 0);
  }
  return false;
}

void DownloadEngine::StartDownload() {
  if (running_) return;
  running_ = true;
  DownloadState& s = TheDownloadState();

  SetRunControls(true);
  {
    WindowThreadCountGuard guard(*s.countLock, controls_);
    s.savedCount = 0;
  }
  s.stopRequested = 0;
  const int rows = table_.RowCount();
  s.failedCount->Set(0);
  SetStatus(DownloadTexts().runStarted);
  MakeFolder(BookFolder());

  int checked = 0;
  for (int r = 0; r < rows; ++r) checked += table_.CheckState(r) == 1 ? 1 : 0;
  {
    WindowThreadCountGuard guard(*s.countLock, controls_);
    runDone_.store(0);
    runTotal_.store(checked);
    ReportProgressLocked();
  }

  if (controls_.IsChecked(Ctl::CaptureCheck)) {
    PageCapture(rows);
  } else {
    ThreadPool& pool = DownloadPool();
    const bool started = StartPool();
    int taken = 0;
    for (int r = 0; r < rows && s.stopRequested == 0; ++r) {
      if (table_.CheckState(r) == 1) {
        ++taken;
        if (taken > runTotal_.load()) runTotal_.store(taken);
        if (!started || !pool.Submit(&ChapterTaskEntry, r)) {
          // Not queued, so not fetched: a failure, and no merge of a book that lacks it.
          CountGivenUp(true);
        }
      }
      controls_.Pump();
    }
    if (s.stopRequested == 0) {
      WindowThreadCountGuard guard(*s.countLock, controls_);
      runTotal_.store(taken);
      ReportProgressLocked();
    }
    // Looked at every 50 ms rather than every second, so the finish step follows the last
    // chapter at once.
    while (!pool.IsIdle()) controls_.Wait(kPollMs, 0);
  }

  if (s.stopRequested == 0) FinishDownload(controls_.IsChecked(Ctl::MergeCheck));
  SetRunControls(false);
  running_ = false;
}

void DownloadEngine::FinishDownload(bool autoMerge) {
  const EngineTexts& t = DownloadTexts();
  DownloadState& s = TheDownloadState();
  controls_.SetEnabled(Ctl::MergeCheck, false);
  const int32_t failed = s.failedCount->Get();
  const Text failedText = t.failedPrefix + Decimal(failed) + t.failedSuffix;
  if (autoMerge) {
    if (failed > 0) {
      controls_.SetChecked(Ctl::MergeCheck, false);
      controls_.SetEnabled(Ctl::MergeButton, true);
      SetStatus(failedText);
    } else {
      SetStatus(t.merging);
      if (MergeBook()) {
        SetStatus(t.bookDone);
        controls_.Notice(t.noticeTitle, t.bookDone, 0, kStyleInfo);
      } else {
        controls_.SetChecked(Ctl::MergeCheck, false);
        controls_.SetEnabled(Ctl::MergeButton, true);
        SetStatus(t.mergeFailedLabel);
        controls_.Notice(t.noticeTitle, t.mergeFailedLabel, 0, kStyleError);
      }
    }
  } else {
    SetStatus(failedText);
    controls_.Notice(t.noticeTitle, t.chaptersDone, 0, kStyleInfo);
  }
  controls_.SetEnabled(Ctl::MergeCheck, true);
}

void DownloadEngine::TogglePause() {
  DownloadState& s = TheDownloadState();
  const bool capture = controls_.IsChecked(Ctl::CaptureCheck);
  if (controls_.GetText(Ctl::PauseButton) == DownloadTexts().pause) {
    if (capture) {
      s.pauseRequested = 1;
    } else {
      DownloadPool().Pause();
    }
    controls_.SetText(Ctl::PauseButton, DownloadTexts().resume);
  } else {
    if (capture) {
      s.pauseRequested = 0;
    } else {
      DownloadPool().Resume();
    }
    controls_.SetText(Ctl::PauseButton, DownloadTexts().pause);
  }
}

void DownloadEngine::StopDownload() {
  DownloadState& s = TheDownloadState();
  if (!controls_.IsChecked(Ctl::CaptureCheck)) DownloadPool().Stop(ThreadPool::kDropNoWait);
  s.stopRequested = 1;
  s.pauseRequested = 0;
  controls_.SetText(Ctl::PauseButton, DownloadTexts().pause);
}

void DownloadEngine::StopPoolOnClose() { qv::StopPoolOnClose(controls_); }

void DownloadEngine::ChapterFetchTask(int row) {
  const EngineTexts& t = DownloadTexts();
  DownloadState& s = TheDownloadState();
  {
    SectionGuard guard(*s.countLock);
    table_.SetHighlight(row, true);
    table_.ScrollIntoView(row);
  }
  const Text link = controls_.GetText(Ctl::BaseAddressBox) + table_.CellText(row, kColLink);
  const Text title = table_.CellText(row, kColTitle);

  std::string body;
  Text text;
  for (int attempt = 1; attempt <= kHttpAttempts; ++attempt) {
    table_.SetCellText(row, kColStatus,
                       attempt == 1 ? t.downloading : t.retrying + Decimal(attempt));
    Text headers;
    FetchArgs args;
    args.responseHeaders = &headers;
    body = HttpFetch(link, args);
    text = ResponseDecoder::DecodeBody(body, headers);
    if (!text.empty()) break;
  }
  if (text.empty()) {
    table_.SetCellText(row, kColStatus, t.givenUp);
    CountGivenUp();
    return;
  }
  if (ResponseDecoder::LooksLikeUtf8(body)) text = ResponseDecoder::Utf8ToLocal(text);
  const Text left = controls_.GetText(Ctl::LeftMarkerBox);
  const Text right = controls_.GetText(Ctl::RightMarkerBox);
  const Text content = ExtractBetween(text, left, right);
  SaveChapterFile(row, CleanChapterText(title + "\r\n" + content));
}

bool DownloadEngine::SaveChapterFile(int row, const Text& chapter) {
  const EngineTexts& t = DownloadTexts();
  DownloadState& s = TheDownloadState();
  if (!WriteFileBytes(ChapterFilePath(row), chapter)) {
    // Not saved: the row stays checked for the next run, and the run must not merge.
    table_.SetCellText(row, kColStatus, t.saveFailed);
    CountGivenUp();
    return false;
  }
  table_.SetHighlight(row, false);
  table_.SetCheckState(row, 0);
  table_.SetCellText(row, kColStatus, t.saved);
  SectionGuard guard(*s.countLock);
  ++s.savedCount;
  SetStatus(Decimal(s.savedCount) + t.progressSuffix);
  runDone_.fetch_add(1);
  ReportProgressLocked();
  return true;
}

bool DownloadEngine::MergeBook() {
  if (merging_) return false;  // a merge started from inside a merge's message processing
  merging_ = true;
  const bool mergeButtonWasEnabled = controls_.IsEnabled(Ctl::MergeButton);
  controls_.SetEnabled(Ctl::MergeButton, false);

  const Text title = Title();
  const Text bookPath = BookFilePath();
  // Written beside the book and renamed over it once complete, so a failed merge leaves the
  // previous book as it was.
  const Text tempPath = bookPath + ".part";
  const std::filesystem::path tempFs = FsPath(tempPath);
  bool ok = false;
  bool created = false;
  {
    std::ofstream out(tempFs, std::ios::binary | std::ios::trunc);
    if (out) {
      created = true;
      const Text done = DownloadTexts().saved;
      const int n = table_.RowCount();
      std::vector<char> buffer(1 << 16);
      for (int i = 1; i <= n && out; ++i) {
        if (table_.CellText(i - 1, kColStatus) == done) {
          std::ifstream in(FsPath(InSaveFolder(ChapterFilePathFor(title, i - 1))),
                            std::ios::binary);
          while (in && out) {
            in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
            out.write(buffer.data(), in.gcount());
          }
          if (i != n) out.write("\r\n\r\n", 4);
        }
        controls_.Pump();
      }
      out.close();
      ok = !out.fail();
    }
  }
  std::error_code ec;
  if (ok) {
    std::filesystem::rename(tempFs, FsPath(bookPath), ec);
    ok = !ec;
  }
  if (!ok && created) std::filesystem::remove(tempFs, ec);

  controls_.SetEnabled(Ctl::MergeButton, mergeButtonWasEnabled);
  merging_ = false;
  return ok;
}

void DownloadEngine::MergeButtonHandler() {
  const EngineTexts& t = DownloadTexts();
  controls_.SetEnabled(Ctl::MergeButton, false);
  if (MergeBook()) {
    SetStatus(t.bookDone);
    controls_.Notice(t.noticeTitle, t.bookDone, 0, kStyleInfo);
  } else {
    SetStatus(t.mergeFailedLabel);
    controls_.Notice(t.noticeTitle, t.mergeFailedNotice, 0, kStyleError);
  }
  controls_.SetEnabled(Ctl::MergeButton, true);
}

void DownloadEngine::OpenChapterFile(int x, int y) {
  int row = -1;
  int column = -1;
  if (!table_.HitTest(x, y, row, column) || column < 1) return;
  const Text path = ChapterFilePath(row);
  if (RegularFileExists(path)) controls_.OpenWithDesktop(path);
}

}  // namespace qv
