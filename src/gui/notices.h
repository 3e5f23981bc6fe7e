// Notices that close themselves, and waits that keep the window responsive.
#pragma once

#include <functional>

#include "text/gbk_text.h"

class QMessageBox;

namespace qv {

// A message box with a CP936 title and text that closes itself after timeoutMs (0 = stays until
// answered). Style as the platform's message-box flags: 16 error icon + OK, 64 information +
// OK, 36 question + Yes/No, 35 question + Yes/No/Cancel (other button and icon flags work too).
// Returns 1 OK, 2 Cancel, 6 Yes, 7 No, 32000 when the time-out closed it, 0 when it could not
// be shown. On the window thread the box is owned by the active window and modal; from
// another thread it is created on the window thread without an owner, does not block the main
// window, and only the calling thread waits for its answer.
int TimedNotice(const Text& title, const Text& text, int timeoutMs, int style);

// Waits count units while the window thread goes on handling its events: unit 0 milliseconds,
// 1 seconds, 2 minutes, 3 hours, any other value that many milliseconds per unit. Returns at
// once for a count of 0 (or a total of 0 or less). On other threads it simply sleeps.
// Always true.
bool ResponsiveWait(double count, int unit = 0);

// Called on the window thread with every notice box as soon as it shows (tests answer notices
// through it). An empty observer removes it.
using NoticeObserver = std::function<void(QMessageBox*)>;
void SetNoticeObserver(NoticeObserver observer);

}  // namespace qv
