// Page capture: the checked rows loaded one after another in the embedded browser, on the
// window thread, their rendered text cut with the rule's markers.
#include <chrono>

#include "download/download_engine.h"
#include "download/download_state.h"
#include "download/engine_texts.h"
#include "text/encoding.h"
#include "text/markers.h"
#include "web/response_decoder.h"

#include <algorithm>

namespace qv {
namespace {

constexpr int kCaptureAttempts = 5;
constexpr size_t kMinCaptureBytes = 20;

// Byte-wise, ASCII letters without regard to case: the text searched may still be UTF-8
// bytes, which a walk by CP936 characters would misread.
bool ContainsAsciiNoCase(std::string_view text, std::string_view piece) {
  auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
  return std::search(text.begin(), text.end(), piece.begin(), piece.end(),
                     [&](char a, char b) { return lower(a) == lower(b); }) != text.end();
}

}  // namespace

void DownloadEngine::PageCapture(int rowCount) { PageCapture(TakeRunJob(rowCount)); }

void DownloadEngine::PageCapture(const RunJob& run) {
  DownloadState& s = TheDownloadState();
  s.pauseRequested = 0;
  for (const ChapterJob& chapter : run.chapters) {
    while (s.pauseRequested == 1) controls_.Wait(1, WaitUnit::kSeconds);
    if (s.stopRequested == 1) break;
    // A row unchecked by hand while the loop ran is left alone.
    if (table_.CheckState(chapter.row) == qv::kChecked) CaptureRow(run, chapter);
    controls_.Pump();
  }
}

bool DownloadEngine::CaptureRow(const RunJob& run, const ChapterJob& chapter) {
  using Clock = std::chrono::steady_clock;
  const EngineTexts& t = DownloadTexts();
  DownloadState& s = TheDownloadState();
  const int row = chapter.row;

  table_.SetHighlight(row, true);
  table_.ScrollIntoView(row);
  const Text address = run.baseAddress + chapter.link;

  Text page;
  Text reason;
  bool enough = false;
  for (int attempt = 1; attempt <= kCaptureAttempts && !enough; ++attempt) {
    table_.SetCellText(row, kColStatus, attempt == 1 ? t.downloading : t.retrying + Decimal(attempt));
    page.clear();
    bool loaded = false;
    if (browser_) {
      s.documentReady = 0;
      browser_->Navigate(address);
      // Bounded, and cut short by a stop: a page that never finishes is a short attempt. Looked
      // at often, so a page that is ready is taken at once.
      const Clock::time_point deadline = Clock::now() + pageWaitLimit_;
      while (s.documentReady == 0 && s.stopRequested == 0 && Clock::now() < deadline) {
        controls_.Wait(kPollMs, WaitUnit::kMilliseconds);
      }
      loaded = s.documentReady == 1;
      if (loaded) {
        reason = browser_->LoadProblem();
        // An error page is no chapter, whatever text it shows.
        if (reason.empty()) page = GetPageText();
      } else {
        browser_->StopLoading();
      }
    }
    if (!loaded) reason = s.stopRequested == 1 ? t.stopped : t.pageNotLoaded;
    const Text cut = ExtractBetween(page, run.leftMarker, run.rightMarker);
    controls_.Pump();
    enough = RemoveSpaces(cut).size() >= kMinCaptureBytes;
    if (!enough && reason.empty()) reason = t.noContent;
    // A stop that cut the wait short ends the row: it is given up and stays checked.
    if (!loaded && s.stopRequested == 1) break;
  }

  if (!enough) {
    table_.SetCellText(row, kColStatus, t.givenUp + t.reasonSeparator + reason);
    table_.SetHighlight(row, false);
    CountGivenUp();
    return false;
  }
  if (!SaveChapterPage(run, chapter, page)) {
    table_.SetHighlight(row, false);
    return false;
  }
  return true;
}

Text DownloadEngine::GetPageText() {
  if (!browser_) return {};
  Text text = browser_->PageText();
  // The browser hands over decoded text; only text that is still UTF-8 bytes is converted.
  if ((ContainsAsciiNoCase(text, "charset=utf-8") || ContainsAsciiNoCase(text, "charset=\"utf-8")) &&
      ResponseDecoder::LooksLikeUtf8(text)) {
    text = ResponseDecoder::Utf8ToLocal(text);
  }
  return text;
}

}  // namespace qv
