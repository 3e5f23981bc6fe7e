#include "shell/memory_ports.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace qv {

int MemoryTable::RowCount() {
  std::lock_guard lock(mu_);
  return static_cast<int>(rows_.size());
}

void MemoryTable::AppendRow(const Text& number) {
  std::lock_guard lock(mu_);
  Row r;
  r.cells[0] = number;
  rows_.push_back(std::move(r));
  statusHistory_.emplace_back();
}

void MemoryTable::AppendChapter(const Text& number, const Text& title, const Text& link,
                                const Text& status, CheckMark checkState) {
  std::lock_guard lock(mu_);
  Row r;
  r.cells[0] = number;
  r.cells[1] = title;
  r.cells[2] = link;
  r.cells[3] = status;
  r.check = checkState;
  rows_.push_back(std::move(r));
  statusHistory_.push_back({status});
}

void MemoryTable::InsertRow(int index, const Text& number) {
  std::lock_guard lock(mu_);
  if (index < 0 || index > static_cast<int>(rows_.size())) return;
  Row r;
  r.cells[0] = number;
  rows_.insert(rows_.begin() + index, std::move(r));
  statusHistory_.insert(statusHistory_.begin() + index, std::vector<Text>{});
}

void MemoryTable::DeleteRow(int index) {
  std::lock_guard lock(mu_);
  if (!Valid(index)) return;
  rows_.erase(rows_.begin() + index);
  statusHistory_.erase(statusHistory_.begin() + index);
}

void MemoryTable::DeleteAllRows() {
  std::lock_guard lock(mu_);
  rows_.clear();
  statusHistory_.clear();
}

Text MemoryTable::CellText(int row, int column) {
  std::lock_guard lock(mu_);
  if (!Valid(row) || column < 0 || column > 3) return {};
  return rows_[row].cells[column];
}

void MemoryTable::SetCellText(int row, int column, const Text& text) {
  std::lock_guard lock(mu_);
  if (!Valid(row) || column < 0 || column > 3) return;
  rows_[row].cells[column] = text;
  if (column == kColStatus) statusHistory_[row].push_back(text);
}

CheckMark MemoryTable::CheckState(int row) {
  std::lock_guard lock(mu_);
  return Valid(row) ? rows_[row].check : kUnchecked;
}

void MemoryTable::SetCheckState(int row, CheckMark state) {
  std::lock_guard lock(mu_);
  if (Valid(row)) rows_[row].check = state;
}

void MemoryTable::SetHighlight(int row, bool on) {
  std::lock_guard lock(mu_);
  if (Valid(row)) rows_[row].highlighted = on;
}

bool MemoryTable::IsHighlighted(int row) {
  std::lock_guard lock(mu_);
  return Valid(row) && rows_[row].highlighted;
}

std::vector<int> MemoryTable::HighlightedRows() {
  std::lock_guard lock(mu_);
  std::vector<int> out;
  for (int i = 0; i < static_cast<int>(rows_.size()); ++i) {
    if (rows_[i].highlighted) out.push_back(i);
  }
  return out;
}

void MemoryTable::ScrollIntoView(int row) {
  std::lock_guard lock(mu_);
  if (Valid(row)) lastScrolled_ = row;
}

bool MemoryTable::HitTest(int x, int y, int& row, int& column) {
  std::lock_guard lock(mu_);
  if (x < 0 || y < 0) return false;
  row = y / 20;
  if (!Valid(row)) return false;
  const int widths[4] = {70, 300, 0, 80};
  int left = 0;
  column = -1;
  for (int c = 0; c < 4; ++c) {
    if (widths[c] > 0 && x >= left && x < left + widths[c]) column = c;
    left += widths[c];
  }
  return column >= 0;
}

std::vector<MemoryTable::Row> MemoryTable::Snapshot() {
  std::lock_guard lock(mu_);
  return rows_;
}

int MemoryTable::LastScrolledRow() {
  std::lock_guard lock(mu_);
  return lastScrolled_;
}

std::vector<Text> MemoryTable::StatusHistory(int row) {
  std::lock_guard lock(mu_);
  return Valid(row) ? statusHistory_[row] : std::vector<Text>{};
}

MemoryControls::MemoryControls()
    : noticeHandler_([](const NoticeRecord& n) {
        const bool question =
            n.style == NoticeStyle::kYesNo || n.style == NoticeStyle::kYesNoCancel;
        return question ? NoticeAnswer::kYes : NoticeAnswer::kOk;
      }) {
  checked_[Ctl::TxtCheck] = true;  // as the main window starts without a settings file
}

Text MemoryControls::GetText(Ctl c) {
  std::lock_guard lock(mu_);
  auto it = text_.find(c);
  return it == text_.end() ? Text() : it->second;
}

void MemoryControls::SetText(Ctl c, const Text& text) {
  std::lock_guard lock(mu_);
  text_[c] = text;
  history_[c].push_back(text);
}

bool MemoryControls::IsChecked(Ctl c) {
  std::lock_guard lock(mu_);
  auto it = checked_.find(c);
  return it != checked_.end() && it->second;
}

void MemoryControls::SetChecked(Ctl c, bool on) {
  std::lock_guard lock(mu_);
  checked_[c] = on;
}

bool MemoryControls::IsEnabled(Ctl c) {
  std::lock_guard lock(mu_);
  return disabled_.count(c) == 0;
}

void MemoryControls::SetEnabled(Ctl c, bool on) {
  std::lock_guard lock(mu_);
  if (on) {
    disabled_.erase(c);
  } else {
    disabled_.insert(c);
  }
}

NoticeAnswer MemoryControls::Notice(const Text& title, const Text& text, int timeoutMs,
                                    NoticeStyle style) {
  NoticeHandler handler;
  NoticeRecord rec{title, text, timeoutMs, style};
  {
    std::lock_guard lock(mu_);
    notices_.push_back(rec);
    handler = noticeHandler_;
  }
  return handler ? handler(rec) : NoticeAnswer::kOk;
}

bool MemoryControls::InputBox(const Text& prompt, const Text& title, const Text& initial,
                              Text& entered) {
  InputHandler handler;
  {
    std::lock_guard lock(mu_);
    handler = inputHandler_;
  }
  if (!handler) return false;
  return handler(prompt, title, initial, entered);
}

void MemoryControls::Pump() {
  std::function<void()> hook;
  {
    std::lock_guard lock(mu_);
    ++pumps_;
    hook = pumpHook_;
  }
  if (hook) hook();
}

void MemoryControls::Wait(double count, WaitUnit unit) {
  const double perUnit = MillisecondsPerUnit(unit);
  double scale;
  {
    std::lock_guard lock(mu_);
    scale = waitScale_;
  }
  const auto ms = std::chrono::duration<double, std::milli>(count * perUnit * scale);
  std::this_thread::sleep_for(ms);
  Pump();
}

bool MemoryControls::OpenWithDesktop(const Text& path) {
  std::lock_guard lock(mu_);
  opened_.push_back(path);
  return desktopOpens_;
}

void MemoryControls::SetDesktopOpens(bool opens) {
  std::lock_guard lock(mu_);
  desktopOpens_ = opens;
}

void MemoryControls::SetProgress(int done, int total) {
  std::lock_guard lock(mu_);
  progress_ = {done, total};
}

std::pair<int, int> MemoryControls::Progress() {
  std::lock_guard lock(mu_);
  return progress_;
}

void MemoryControls::SetNoticeHandler(NoticeHandler h) {
  std::lock_guard lock(mu_);
  noticeHandler_ = std::move(h);
}

void MemoryControls::SetInputHandler(InputHandler h) {
  std::lock_guard lock(mu_);
  inputHandler_ = std::move(h);
}

void MemoryControls::SetPumpHook(std::function<void()> h) {
  std::lock_guard lock(mu_);
  pumpHook_ = std::move(h);
}

void MemoryControls::SetWaitScale(double scale) {
  std::lock_guard lock(mu_);
  waitScale_ = scale;
}

std::vector<MemoryControls::NoticeRecord> MemoryControls::Notices() {
  std::lock_guard lock(mu_);
  return notices_;
}

std::vector<Text> MemoryControls::OpenedFiles() {
  std::lock_guard lock(mu_);
  return opened_;
}

long MemoryControls::PumpCount() {
  std::lock_guard lock(mu_);
  return pumps_;
}

std::vector<Text> MemoryControls::TextHistory(Ctl c) {
  std::lock_guard lock(mu_);
  auto it = history_.find(c);
  return it == history_.end() ? std::vector<Text>{} : it->second;
}

}  // namespace qv
