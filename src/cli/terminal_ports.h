// The window interfaces for the terminal: a chapter table kept in memory that reports each
// finished chapter, and controls whose notices print instead of waiting for an answer, whose
// waits sleep and whose progress bar is a line on stderr (or nothing, see ProgressMode).
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "shell/memory_ports.h"
#include "shell/ports.h"

namespace qv::cli {

// How a run shows its progress.
enum class ProgressMode {
  kLiveLine,    // one line on stderr, rewritten in place (stderr is a terminal)
  kPerChapter,  // one line on stdout per finished chapter
  kQuiet,       // nothing until the summary
};

// Writes whole lines to a stream; shared by the workers and the main thread.
std::mutex& OutputLock();

class TerminalTable : public MemoryTable {
 public:
  // Runs on the thread that writes the status: `row` reached a final status `status` (CP936).
  using FinishedHandler = std::function<void(int row, const Text& status)>;
  void SetFinishedHandler(FinishedHandler h) { finished_ = std::move(h); }
  void SetCellText(int row, int column, const Text& text) override;

 private:
  FinishedHandler finished_;
};

class TerminalControls : public Controls {
 public:
  TerminalControls();

  Text GetText(Ctl c) override;
  void SetText(Ctl c, const Text& text) override;
  bool IsChecked(Ctl c) override;
  void SetChecked(Ctl c, bool on) override;
  bool IsEnabled(Ctl c) override;
  void SetEnabled(Ctl c, bool on) override;
  // Error notices print on stderr; every notice is kept. Answers at once: OK, or the default
  // button of a question.
  NoticeAnswer Notice(const Text& title, const Text& text, int timeoutMs,
                      NoticeStyle style) override;
  // No one to ask: cancelled.
  bool InputBox(const Text& prompt, const Text& title, const Text& initial,
                Text& entered) override;
  // On the main thread: runs the hook (the interrupt check). Elsewhere nothing.
  void Pump() override;
  void Wait(double count, WaitUnit unit) override;
  bool OpenWithDesktop(const Text& path) override;
  void SetProgress(int done, int total) override;

  // What the main thread looks at on every Pump and every wait slice.
  void SetPumpHook(std::function<void()> hook) { pumpHook_ = std::move(hook); }
  void SetProgressMode(ProgressMode mode) { mode_ = mode; }
  // Failures so far, for the live line.
  void SetFailureSource(std::function<int()> failures) { failures_ = std::move(failures); }
  // Ends the live line (a line break after it) when one was drawn.
  void EndProgressLine();
  // The style and text of the last notice; kNotShown-style default when none.
  bool LastNotice(NoticeStyle& style, Text& text);

 private:
  std::recursive_mutex mu_;
  std::map<Ctl, Text> text_;
  std::map<Ctl, bool> checked_;
  std::set<Ctl> disabled_;
  bool haveNotice_ = false;
  NoticeStyle lastStyle_ = NoticeStyle::kInfo;
  Text lastNotice_;
  std::thread::id mainThread_;
  std::function<void()> pumpHook_;
  std::function<int()> failures_;
  ProgressMode mode_ = ProgressMode::kQuiet;
  std::chrono::steady_clock::time_point runStart_{};
  std::chrono::steady_clock::time_point lastDraw_{};
  bool lineDrawn_ = false;
};

}  // namespace qv::cli
