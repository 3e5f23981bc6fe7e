#include "download/download_engine.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <system_error>
#include <vector>

#include "shell/chapter_tools.h"
#include "download/book_files.h"
#include "download/download_state.h"
#include "download/engine_texts.h"
#include "rules/safe_file.h"
#include "text/encoding.h"
#include "text/markers.h"
#include "web/http_fetch.h"
#include "web/response_decoder.h"

namespace qv {
namespace {

constexpr int kHttpAttempts = 3;
// A chapter page beyond this is no chapter page: it is refused rather than held and decoded.
constexpr size_t kMaxChapterPageBytes = size_t{16} << 20;

// The runs whose chapter tasks may be in the pool, by number: a pool task carries two integers,
// the number of its run and the index of its chapter in the run's job.
class RunRegistry {
 public:
  struct Entry {
    DownloadEngine* engine = nullptr;
    std::shared_ptr<const RunJob> job;
  };

  int32_t Add(DownloadEngine* engine, std::shared_ptr<const RunJob> job) {
    std::lock_guard lock(mu_);
    const int32_t number = next_;
    next_ = next_ == INT32_MAX ? 1 : next_ + 1;
    runs_[number] = Entry{engine, std::move(job)};
    return number;
  }
  std::optional<Entry> Find(int32_t number) {
    std::lock_guard lock(mu_);
    const auto it = runs_.find(number);
    if (it == runs_.end()) return std::nullopt;
    return it->second;
  }
  void Remove(int32_t number) {
    std::lock_guard lock(mu_);
    runs_.erase(number);
  }

 private:
  std::mutex mu_;
  std::map<int32_t, Entry> runs_;
  int32_t next_ = 1;
};

// The rows still checked: those a run downloads, and after a run those it did not save.
int CheckedRows(ChapterTable& table) {
  int n = 0;
  for (int r = 0, rows = table.RowCount(); r < rows; ++r) n += table.CheckState(r) == qv::kChecked ? 1 : 0;
  return n;
}

RunRegistry& Runs() {
  static RunRegistry registry;
  return registry;
}

// Holds the count lock for the window thread, which keeps handling its events until it has the
// lock: a chapter task may hold it while it waits for the window thread to carry out a write to
// the table, so a plain wait there would never end.
class WindowThreadCountGuard {
 public:
  WindowThreadCountGuard(SectionLock& lock, Controls& controls) : lock_(lock) {
    while (!lock_.TryEnter()) controls.Wait(1, WaitUnit::kMilliseconds);
  }
  ~WindowThreadCountGuard() { lock_.Leave(); }
  WindowThreadCountGuard(const WindowThreadCountGuard&) = delete;
  WindowThreadCountGuard& operator=(const WindowThreadCountGuard&) = delete;

 private:
  SectionLock& lock_;
};

}  // namespace

bool CutChapterBody(const Text& page, const Text& leftMarker, const Text& rightMarker, Text& body) {
  if (!FindBetween(page, leftMarker, rightMarker, body)) return false;
  const Text cleaned = CleanChapterText(body);
  return cleaned.find_first_not_of(" \t\r\n") != Text::npos;
}

void ChapterTaskEntry(int32_t value1, int32_t value2) {
  const std::optional<RunRegistry::Entry> run = Runs().Find(value1);
  if (!run || value2 < 0 || static_cast<size_t>(value2) >= run->job->chapters.size()) return;
  run->engine->ChapterFetchTask(*run->job, run->job->chapters[static_cast<size_t>(value2)]);
}

DownloadEngine::DownloadEngine(ChapterTable& table, Controls& controls, PageBrowser* browser)
    : table_(table), controls_(controls), browser_(browser) {
  CreateProcessObjects();
  if (browser_) {
    browser_->SetLoadFinishedHandler([] { TheDownloadState().documentReady = 1; });
  }
}

DownloadEngine::~DownloadEngine() {
  if (ProcessObjectsExist()) {
    ThreadPool& pool = DownloadPool();
    if (!pool.IsIdle()) {
      pool.Stop(ThreadPool::kDropNoWait);
      while (!pool.IsIdle()) controls_.Wait(1, WaitUnit::kSeconds);
    }
  }
  if (browser_) browser_->SetLoadFinishedHandler({});
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

RunJob DownloadEngine::TakeRunJob(int rowCount) {
  RunJob run;
  run.title = Title();
  run.author = controls_.GetText(Ctl::AuthorLabel);
  run.address = controls_.GetText(Ctl::AddressBox);
  run.folder = InSaveFolder(BookFolderPath(run.title));
  run.baseAddress = controls_.GetText(Ctl::BaseAddressBox);
  run.leftMarker = controls_.GetText(Ctl::LeftMarkerBox);
  run.rightMarker = controls_.GetText(Ctl::RightMarkerBox);
  run.pageCapture = controls_.IsChecked(Ctl::CaptureCheck);
  for (int r = 0; r < rowCount; ++r) {
    if (table_.CheckState(r) != qv::kChecked) continue;
    run.chapters.push_back(ChapterJob{r, table_.CellText(r, kColTitle),
                                      table_.CellText(r, kColLink),
                                      InSaveFolder(ChapterFilePathFor(run.title, r))});
  }
  return run;
}

bool DownloadEngine::CaptureMode() {
  return run_ ? run_->pageCapture : controls_.IsChecked(Ctl::CaptureCheck);
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
    controls_.Wait(10, WaitUnit::kMilliseconds);
  }
  return false;
}

void DownloadEngine::StartDownload() {
  if (running_) return;
  if (CheckedRows(table_) == 0) {
    // Nothing to do: no folder, no book.
    const EngineTexts& t = DownloadTexts();
    SetStatus(t.nothingToDownload);
    controls_.Notice(t.noticeTitle, t.nothingToDownload, 0, NoticeStyle::kInfo);
    return;
  }
  running_ = true;
  DownloadState& s = TheDownloadState();

  SetRunControls(true);
  {
    WindowThreadCountGuard guard(*s.countLock, controls_);
    s.savedCount = 0;
  }
  s.stopRequested = 0;
  statusHeld_.store(false);
  const int rows = table_.RowCount();
  s.failedCount->Set(0);
  SetStatus(DownloadTexts().runStarted);
  run_ = std::make_shared<const RunJob>(TakeRunJob(rows));
  const RunJob& run = *run_;
  MakeFolder(run.folder);
  RemoveStaleTemporaries(FsPath(run.folder));
  {
    WindowThreadCountGuard guard(*s.countLock, controls_);
    runDone_.store(0);
    runTotal_.store(static_cast<int32_t>(run.chapters.size()));
    ReportProgressLocked();
  }

  if (run.pageCapture) {
    PageCapture(run);
  } else {
    ThreadPool& pool = DownloadPool();
    const bool started = StartPool();
    const int32_t number = Runs().Add(this, run_);
    for (size_t i = 0; i < run.chapters.size() && s.stopRequested == 0; ++i) {
      if (!started || !pool.Submit(&ChapterTaskEntry, number, static_cast<int32_t>(i))) {
        // Not queued, so not fetched: a failure, and no merge of a book that lacks it.
        CountGivenUp(true);
      }
      controls_.Pump();
    }
    // Looked at often, so the finish step follows the last chapter at once.
    while (!pool.IsIdle()) controls_.Wait(kPollMs, WaitUnit::kMilliseconds);
    Runs().Remove(number);
  }

  if (s.stopRequested == 0) {
    FinishDownload(controls_.IsChecked(Ctl::MergeCheck));
  } else {
    const EngineTexts& t = DownloadTexts();
    int32_t saved = 0;
    {
      WindowThreadCountGuard guard(*s.countLock, controls_);
      saved = s.savedCount;
    }
    SetStatus(t.stoppedPrefix + Decimal(saved) + t.stoppedMiddle + Decimal(s.failedCount->Get()) +
              t.stoppedSuffix);
  }
  statusHeld_.store(false);
  run_.reset();
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
    } else if (!AnyBookFormatChosen()) {
      // Nothing merged: the button stays at hand for a merge once a format is chosen.
      controls_.SetChecked(Ctl::MergeCheck, false);
      controls_.SetEnabled(Ctl::MergeButton, true);
      SetStatus(t.noFormatChosen);
      controls_.Notice(t.noticeTitle, t.noFormatChosen, 0, NoticeStyle::kInfo);
    } else {
      SetStatus(t.merging);
      if (MergeBook()) {
        SetStatus(t.bookDone);
        controls_.Notice(t.noticeTitle, t.bookDone, 0, NoticeStyle::kInfo);
      } else {
        controls_.SetChecked(Ctl::MergeCheck, false);
        controls_.SetEnabled(Ctl::MergeButton, true);
        SetStatus(t.mergeFailedLabel);
        controls_.Notice(t.noticeTitle, WithMergeProblem(t.mergeFailedLabel), 0, NoticeStyle::kError);
      }
    }
  } else {
    SetStatus(failedText);
    // Failures are named: the chapters are not all downloaded.
    controls_.Notice(t.noticeTitle, failed > 0 ? failedText : t.chaptersDone, 0,
                     failed > 0 ? NoticeStyle::kError : NoticeStyle::kInfo);
  }
  controls_.SetEnabled(Ctl::MergeCheck, true);
}

void DownloadEngine::TogglePause() {
  DownloadState& s = TheDownloadState();
  const bool capture = CaptureMode();
  if (controls_.GetText(Ctl::PauseButton) == DownloadTexts().pause) {
    if (capture) {
      s.pauseRequested = 1;
    } else {
      DownloadPool().Pause();
    }
    controls_.SetText(Ctl::PauseButton, DownloadTexts().resume);
    if (running_) {
      statusHeld_.store(true);
      int32_t saved = 0;
      {
        WindowThreadCountGuard guard(*s.countLock, controls_);
        saved = s.savedCount;
      }
      SetStatus(DownloadTexts().pausedPrefix + Decimal(saved) + DownloadTexts().pausedSuffix);
    }
  } else {
    if (capture) {
      s.pauseRequested = 0;
    } else {
      DownloadPool().Resume();
    }
    controls_.SetText(Ctl::PauseButton, DownloadTexts().pause);
    if (running_ && s.stopRequested == 0) {
      statusHeld_.store(false);
      SetStatus(DownloadTexts().runStarted);
    }
  }
}

void DownloadEngine::StopDownload() {
  DownloadState& s = TheDownloadState();
  const bool capture = CaptureMode();
  if (!capture) DownloadPool().Stop(ThreadPool::kDropNoWait);
  s.stopRequested = 1;
  s.pauseRequested = 0;
  controls_.SetText(Ctl::PauseButton, DownloadTexts().pause);
  if (running_) {
    // At once: the run is ending, though the chapters under way still finish.
    statusHeld_.store(true);
    controls_.SetEnabled(Ctl::PauseButton, false);
    controls_.SetEnabled(Ctl::StopButton, false);
    const int32_t underWay = capture ? 1 : DownloadPool().BusyCount();
    SetStatus(DownloadTexts().stoppingPrefix + Decimal(underWay) + DownloadTexts().stoppingSuffix);
  }
}

void DownloadEngine::StopPoolOnClose() { qv::StopPoolOnClose(controls_); }

void DownloadEngine::ChapterFetchTask(const RunJob& run, const ChapterJob& chapter) {
  const EngineTexts& t = DownloadTexts();
  DownloadState& s = TheDownloadState();
  const int row = chapter.row;
  {
    SectionGuard guard(*s.countLock);
    table_.SetHighlight(row, true);
    table_.ScrollIntoView(row);
  }
  const Text link = run.baseAddress + chapter.link;

  Text content;
  Text reason;
  bool found = false;
  for (int attempt = 1; attempt <= kHttpAttempts && !found; ++attempt) {
    table_.SetCellText(row, kColStatus,
                       attempt == 1 ? t.downloading : t.retrying + Decimal(attempt));
    Text headers;
    FetchOutcome outcome;
    FetchArgs args;
    args.responseHeaders = &headers;
    args.maxBodyBytes = kMaxChapterPageBytes;
    args.outcome = &outcome;
    std::string body = HttpFetch(link, args);
    if (outcome.failure == FetchFailure::kTooLarge) {
      // No chapter page is that large; fetching it again would not change that.
      table_.SetCellText(row, kColStatus, t.pageTooLarge);
      CountGivenUp();
      return;
    }
    if (!outcome.Succeeded()) {
      reason = FetchFailureReason(outcome);
      continue;
    }
    Text text = ResponseDecoder::DecodeBody(body, headers);
    if (text.empty()) {
      reason = t.emptyPage;
      continue;
    }
    if (ResponseDecoder::LooksLikeUtf8(body)) text = ResponseDecoder::Utf8ToLocal(text);
    found = CutChapterBody(text, run.leftMarker, run.rightMarker, content);
    if (!found) reason = t.noContent;
  }
  if (!found) {
    // Not saved: an earlier file of the chapter stays as it was, the row stays checked.
    table_.SetCellText(row, kColStatus, t.givenUp + t.reasonSeparator + reason);
    CountGivenUp();
    return;
  }
  SaveChapterFile(chapter, CleanChapterText(chapter.title + "\r\n" + content));
}

bool DownloadEngine::SaveChapterPage(const RunJob& run, const ChapterJob& chapter,
                                     const Text& page) {
  const Text content = ExtractBetween(page, run.leftMarker, run.rightMarker);
  return SaveChapterFile(chapter, CleanChapterText(chapter.title + "\r\n" + content));
}

bool DownloadEngine::SaveChapterFile(const ChapterJob& chapter, const Text& text) {
  const EngineTexts& t = DownloadTexts();
  DownloadState& s = TheDownloadState();
  const int row = chapter.row;
  if (!WriteFileBytes(chapter.filePath, text)) {
    // Not saved: the row stays checked for the next run, and the run must not merge.
    table_.SetCellText(row, kColStatus, t.saveFailed);
    CountGivenUp();
    return false;
  }
  table_.SetHighlight(row, false);
  table_.SetCheckState(row, qv::kUnchecked);
  table_.SetCellText(row, kColStatus, t.saved);
  SectionGuard guard(*s.countLock);
  ++s.savedCount;
  if (!statusHeld_.load()) SetStatus(Decimal(s.savedCount) + t.progressSuffix);
  runDone_.fetch_add(1);
  ReportProgressLocked();
  return true;
}

void DownloadEngine::MergeButtonHandler() {
  const EngineTexts& t = DownloadTexts();
  controls_.SetEnabled(Ctl::MergeButton, false);
  if (!AnyBookFormatChosen()) {
    SetStatus(t.noFormatChosen);
    controls_.Notice(t.noticeTitle, t.noFormatChosen, 0, NoticeStyle::kError);
  } else if (MergeBook()) {
    // The whole book only when no chapter is still waiting for its download.
    const int missing = CheckedRows(table_);
    const Text done = missing == 0 ? t.bookDone
                                   : t.mergedPrefix + Decimal(missing) + t.mergedMissingSuffix;
    SetStatus(done);
    controls_.Notice(t.noticeTitle, done, 0, NoticeStyle::kInfo);
  } else {
    SetStatus(t.mergeFailedLabel);
    controls_.Notice(t.noticeTitle, WithMergeProblem(t.mergeFailedNotice), 0, NoticeStyle::kError);
  }
  controls_.SetEnabled(Ctl::MergeButton, true);
}

void DownloadEngine::OpenChapterFile(int x, int y) {
  int row = -1;
  int column = -1;
  if (!table_.HitTest(x, y, row, column) || column < 1) return;
  const Text path = ChapterFilePath(row);
  if (!RegularFileExists(path) || controls_.OpenWithDesktop(path)) return;
  // The desktop has no program for it: say where the file is, so it can be opened by hand.
  std::error_code ec;
  const std::filesystem::path full = std::filesystem::absolute(FsPath(path), ec);
  const Text shown = ec ? path : Utf8ToGbk(full.string());
  const EngineTexts& t = DownloadTexts();
  controls_.Notice(t.noticeTitle, t.openFailed + shown, 0, NoticeStyle::kError);
}

}  // namespace qv
