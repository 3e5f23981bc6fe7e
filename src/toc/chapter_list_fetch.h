// Fetching a book's chapter-list page into the chapter table, on a worker thread.
//
// Start (the fetch button) clears the table, the book labels and the base address, disables
// the buttons, the rule window and the row move/delete tools, and starts one worker. The worker
// fetches and decodes the page at the address box, runs the book-title, author and
// chapter-list patterns shown in the rule window, fills the labels and appends one checked row
// per chapter, derives the base address and the last-row box, shows the result, and enables
// again what Start disabled (pause and stop stay disabled; the download button only after a
// fetch that found chapters). A transfer that did not complete, a status other than 2xx, a page
// without title or a title without chapter is a failed fetch: labels and table stay empty.
//
// Chapter-list patterns give their groups in pairs, one pair per chapter: group 2j-1 is the
// link and group 2j the title; a last unpaired group is ignored.
//
// The worker reaches the windows only through ChapterTable and Controls. The object owns the
// worker thread: Shutdown (the window is closing) ends a transfer under way and waits for the
// worker, so the table and controls must outlive the object.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

#include "shell/ports.h"

namespace qv {

class ChapterListFetch {
 public:
  ChapterListFetch(ChapterTable& table, Controls& controls);
  ~ChapterListFetch();
  ChapterListFetch(const ChapterListFetch&) = delete;
  ChapterListFetch& operator=(const ChapterListFetch&) = delete;

  // The fetch button's handling, on the window thread. Does nothing while a fetch runs or
  // after Shutdown.
  void Start();
  // Whether a worker is under way.
  bool Running() const;
  // The user cancels the fetch under way: its transfer ends, nothing of its result is kept
  // (the table and the book labels stay empty) and the controls are enabled again without a
  // notice. Does not wait for the worker; window thread.
  void Cancel();
  // Tells Start whether there is a rule for the address now in the address box. Without one
  // Start fetches nothing: the patterns shown belong to another site. Unset: always.
  void SetRuleCheck(std::function<bool()> hasRule) { hasRule_ = std::move(hasRule); }
  // Ends a fetch under way (its transfer is aborted, the rest skipped) and waits for the
  // worker. Called when the window closes; later Starts do nothing.
  void Shutdown();

 private:
  void Work();
  // Shows the result; a failure with its reason when one is known.
  void Finish(bool ok, const Text& reason = {});
  bool Stopping() const { return stopping_.load(std::memory_order_acquire); }
  bool Cancelled() const { return cancelled_.load(std::memory_order_acquire); }
  void FinishCancelled();

  ChapterTable& table_;
  Controls& controls_;
  std::function<bool()> hasRule_;
  std::mutex mu_;  // guards worker_ (Start and Shutdown)
  std::thread worker_;
  std::atomic<bool> running_{false};
  std::atomic<bool> stopping_{false};
  std::atomic<bool> cancelled_{false};
};

}  // namespace qv
