// Notices that close themselves, and waits that keep the window responsive.
#pragma once

#include <functional>

#include "shell/ports.h"
#include "text/gbk_text.h"

class QMessageBox;

namespace qv {

// A message box with a CP936 title and text that closes itself after timeoutMs (0 = stays until
// answered), with the icon and buttons of `style` (other flag combinations of the same layout
// work too). Returns the button pressed, kTimedOut when the time-out closed it, kNotShown when
// it could not be shown. On the window thread the box is owned by the active window and modal;
// from another thread it is created on the window thread without an owner, does not block the
// main window, and only the calling thread waits for its answer.
NoticeAnswer TimedNotice(const Text& title, const Text& text, int timeoutMs, NoticeStyle style);

// Waits count units while the window thread goes on handling its events. Returns at once for a
// count of 0 (or a total of 0 or less). On other threads it simply sleeps. Always true.
bool ResponsiveWait(double count, WaitUnit unit = WaitUnit::kMilliseconds);

// Called on the window thread with every notice box as soon as it shows (tests answer notices
// through it). An empty observer removes it.
using NoticeObserver = std::function<void(QMessageBox*)>;
void SetNoticeObserver(NoticeObserver observer);

}  // namespace qv
