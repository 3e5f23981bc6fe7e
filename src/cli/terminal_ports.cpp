#include "cli/terminal_ports.h"

#include <cstdio>
#include <string>

#include "download/engine_texts.h"
#include "text/encoding.h"

namespace qv::cli {

namespace {

// A notice's text on one line: its line breaks become spaces, and the line that announces the
// box's closing ("(3秒后自动关闭)") is left out, since nothing closes on a terminal.
std::string OneLine(const Text& gbk) {
  const std::string s = GbkToUtf8(gbk);
  std::string out;
  size_t start = 0;
  while (start <= s.size()) {
    size_t end = s.find('\n', start);
    if (end == std::string::npos) end = s.size();
    std::string line = s.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const bool closing = line.rfind("(", 0) == 0 && line.find("自动关闭") != std::string::npos;
    if (!line.empty() && !closing) out += (out.empty() ? "" : " ") + line;
    start = end + 1;
  }
  return out;
}

bool IsFinalStatus(const Text& status) {
  const EngineTexts& t = DownloadTexts();
  return status == t.saved || status == t.givenUp || status == t.saveFailed ||
         status == t.pageTooLarge;
}

}  // namespace

std::mutex& OutputLock() {
  static std::mutex mu;
  return mu;
}

void TerminalTable::SetCellText(int row, int column, const Text& text) {
  MemoryTable::SetCellText(row, column, text);
  if (column == kColStatus && finished_ && IsFinalStatus(text)) finished_(row, text);
}

TerminalControls::TerminalControls() : mainThread_(std::this_thread::get_id()) {}

Text TerminalControls::GetText(Ctl c) {
  std::lock_guard lock(mu_);
  auto it = text_.find(c);
  return it == text_.end() ? Text() : it->second;
}

void TerminalControls::SetText(Ctl c, const Text& text) {
  std::lock_guard lock(mu_);
  text_[c] = text;
}

bool TerminalControls::IsChecked(Ctl c) {
  std::lock_guard lock(mu_);
  auto it = checked_.find(c);
  return it != checked_.end() && it->second;
}

void TerminalControls::SetChecked(Ctl c, bool on) {
  std::lock_guard lock(mu_);
  checked_[c] = on;
}

bool TerminalControls::IsEnabled(Ctl c) {
  std::lock_guard lock(mu_);
  return disabled_.count(c) == 0;
}

void TerminalControls::SetEnabled(Ctl c, bool on) {
  std::lock_guard lock(mu_);
  if (on) {
    disabled_.erase(c);
  } else {
    disabled_.insert(c);
  }
}

NoticeAnswer TerminalControls::Notice(const Text& title, const Text& text, int, NoticeStyle style) {
  {
    std::lock_guard lock(mu_);
    haveNotice_ = true;
    lastStyle_ = style;
    lastNotice_ = text;
  }
  if (style == NoticeStyle::kError) {
    std::lock_guard out(OutputLock());
    std::fprintf(stderr, "%s%s: %s\n", lineDrawn_ ? "\n" : "", OneLine(title).c_str(),
                 OneLine(text).c_str());
    lineDrawn_ = false;
  }
  switch (style) {
    case NoticeStyle::kYesNoDefaultNo:
      return NoticeAnswer::kNo;
    case NoticeStyle::kYesNo:
    case NoticeStyle::kYesNoCancel:
      return NoticeAnswer::kYes;
    default:
      return NoticeAnswer::kOk;
  }
}

bool TerminalControls::InputBox(const Text&, const Text&, const Text&, Text&) { return false; }

void TerminalControls::Pump() {
  if (std::this_thread::get_id() == mainThread_ && pumpHook_) pumpHook_();
}

void TerminalControls::Wait(double count, WaitUnit unit) {
  // In slices, so an interrupt is seen soon.
  using namespace std::chrono;
  const auto until =
      steady_clock::now() + duration_cast<steady_clock::duration>(
                                duration<double, std::milli>(count * MillisecondsPerUnit(unit)));
  for (;;) {
    Pump();
    const auto now = steady_clock::now();
    if (now >= until) return;
    std::this_thread::sleep_for(std::min<steady_clock::duration>(until - now, milliseconds(20)));
  }
}

bool TerminalControls::OpenWithDesktop(const Text&) { return false; }

void TerminalControls::SetProgress(int done, int total) {
  if (mode_ != ProgressMode::kLiveLine) return;
  using namespace std::chrono;
  std::lock_guard out(OutputLock());
  const auto now = steady_clock::now();
  if (done == 0 || runStart_ == steady_clock::time_point{}) runStart_ = now;
  // Redrawn at most ten times a second, and at the last chapter.
  if (done != 0 && done < total && now - lastDraw_ < milliseconds(100)) return;
  lastDraw_ = now;
  const double seconds = duration<double>(now - runStart_).count();
  const double rate = seconds > 0 ? done / seconds : 0.0;
  const int failed = failures_ ? failures_() : 0;
  std::string eta = "-";
  if (rate > 0 && total > done) {
    const long s = static_cast<long>((total - done) / rate + 0.5);
    eta = std::to_string(s / 60) + ":" + (s % 60 < 10 ? "0" : "") + std::to_string(s % 60);
  }
  std::fprintf(stderr, "\r%d/%d saved, %d failed, %.1f chapters/s, ETA %s\033[K", done - failed,
               total, failed, rate, eta.c_str());
  std::fflush(stderr);
  lineDrawn_ = true;
}

void TerminalControls::EndProgressLine() {
  std::lock_guard out(OutputLock());
  if (lineDrawn_) std::fputc('\n', stderr);
  lineDrawn_ = false;
}

bool TerminalControls::LastNotice(NoticeStyle& style, Text& text) {
  std::lock_guard lock(mu_);
  style = lastStyle_;
  text = lastNotice_;
  return haveNotice_;
}

}  // namespace qv::cli
