#include "gui/notices.h"

#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "gui/box_text.h"
#include "gui/window_bridge.h"
#include "shell/ports.h"

namespace qv {
namespace {

std::mutex g_observerMu;
NoticeObserver g_observer;

void TellObserver(QMessageBox* box) {
  NoticeObserver observer;
  {
    std::lock_guard lock(g_observerMu);
    observer = g_observer;
  }
  if (observer) observer(box);
}

struct ButtonSpec {
  QMessageBox::StandardButton button;
  NoticeAnswer id;
};

int Flags(NoticeStyle style) { return static_cast<int>(style); }

// The buttons of the style's button bits (low four bits), in their order on the box.
std::vector<ButtonSpec> ButtonsOf(NoticeStyle style) {
  using B = QMessageBox;
  using A = NoticeAnswer;
  switch (Flags(style) & 0xF) {
    case 1:
      return {{B::Ok, A::kOk}, {B::Cancel, A::kCancel}};
    case 2:
      return {{B::Abort, A::kAbort}, {B::Retry, A::kRetry}, {B::Ignore, A::kIgnore}};
    case 3:
      return {{B::Yes, A::kYes}, {B::No, A::kNo}, {B::Cancel, A::kCancel}};
    case 4:
      return {{B::Yes, A::kYes}, {B::No, A::kNo}};
    case 5:
      return {{B::Retry, A::kRetry}, {B::Cancel, A::kCancel}};
    default:
      return {{B::Ok, A::kOk}};
  }
}

QMessageBox::Icon IconOf(NoticeStyle style) {
  switch (Flags(style) & 0xF0) {
    case 0x10:
      return QMessageBox::Critical;
    case 0x20:
      return QMessageBox::Question;
    case 0x30:
      return QMessageBox::Warning;
    case 0x40:
      return QMessageBox::Information;
    default:
      return QMessageBox::NoIcon;
  }
}

void Configure(QMessageBox& box, const Text& title, const Text& text, NoticeStyle style) {
  box.setIcon(IconOf(style));
  box.setWindowTitle(CaptionFromGbk(title));
  box.setTextFormat(Qt::PlainText);  // page texts may hold "<"
  box.setText(CaptionFromGbk(text));
  const std::vector<ButtonSpec> buttons = ButtonsOf(style);
  QMessageBox::StandardButtons set;
  for (const ButtonSpec& b : buttons) set |= b.button;
  box.setStandardButtons(set);
  // Default button flags (bits 8-11) pick the first, second or third button.
  const size_t def =
      std::min<size_t>(static_cast<size_t>((Flags(style) >> 8) & 0xF), buttons.size() - 1);
  box.setDefaultButton(buttons[def].button);
}

// The answer of the button that closed the box; kNotShown when none did.
NoticeAnswer AnswerOf(const QMessageBox& box, NoticeStyle style) {
  QAbstractButton* clicked = box.clickedButton();
  if (clicked == nullptr) return NoticeAnswer::kNotShown;
  const QMessageBox::StandardButton which = box.standardButton(clicked);
  for (const ButtonSpec& b : ButtonsOf(style)) {
    if (b.button == which) return b.id;
  }
  return NoticeAnswer::kNotShown;
}

NoticeAnswer NoticeHere(const Text& title, const Text& text, int timeoutMs, NoticeStyle style) {
  QWidget* owner = QApplication::activeWindow();
  QMessageBox box(owner);
  Configure(box, title, text, style);
  if (owner != nullptr) box.setWindowModality(Qt::WindowModal);
  bool timedOut = false;
  QTimer timer;
  if (timeoutMs > 0) {
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);  // a coarse timer may fire up to 5% early
    QObject::connect(&timer, &QTimer::timeout, &box, [&] {
      timedOut = true;
      box.done(QDialog::Rejected);
    });
    timer.start(timeoutMs);
  }
  QTimer::singleShot(0, &box, [&box] { TellObserver(&box); });
  box.exec();
  return timedOut ? NoticeAnswer::kTimedOut : AnswerOf(box, style);
}

NoticeAnswer NoticeFromOtherThread(const Text& title, const Text& text, int timeoutMs,
                                   NoticeStyle style) {
  std::shared_ptr<PendingAnswer> answer = PendingAnswer::Create();
  const bool shown = OnWindowThread(
      [&] {
        auto* box = new QMessageBox();  // no owner: the main window stays usable
        box->setAttribute(Qt::WA_DeleteOnClose, false);
        Configure(*box, title, text, style);
        box->setWindowModality(Qt::NonModal);
        auto timedOut = std::make_shared<bool>(false);
        if (timeoutMs > 0) {
          auto* timer = new QTimer(box);
          timer->setSingleShot(true);
          timer->setTimerType(Qt::PreciseTimer);
          QObject::connect(timer, &QTimer::timeout, box, [box, timedOut] {
            *timedOut = true;
            box->done(QDialog::Rejected);
          });
          timer->start(timeoutMs);
        }
        QObject::connect(box, &QDialog::finished, box, [box, answer, timedOut, style] {
          answer->Deliver(
              static_cast<int>(*timedOut ? NoticeAnswer::kTimedOut : AnswerOf(*box, style)));
          box->hide();
          box->deleteLater();
        });
        box->show();
        TellObserver(box);
        return true;
      },
      false);
  if (!shown) return NoticeAnswer::kNotShown;
  return static_cast<NoticeAnswer>(answer->Wait().value_or(0));
}

}  // namespace

NoticeAnswer TimedNotice(const Text& title, const Text& text, int timeoutMs, NoticeStyle style) {
  if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
    return NoticeAnswer::kNotShown;
  }
  if (IsWindowThread()) return NoticeHere(title, text, timeoutMs, style);
  return NoticeFromOtherThread(title, text, timeoutMs, style);
}

bool ResponsiveWait(double count, WaitUnit unit) {
  double totalMs = count * MillisecondsPerUnit(unit);
  if (!(totalMs > 0)) return true;  // also NaN
  totalMs = std::min(totalMs, 1e12);
  using Clock = std::chrono::steady_clock;
  const Clock::time_point due =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(
                         std::chrono::duration<double, std::milli>(totalMs));
  if (!IsWindowThread()) {
    std::this_thread::sleep_until(due);
    return true;
  }
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now()).count();
    if (left <= 0) break;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(static_cast<int>(std::min<long long>(left, 86400000)));
    loop.exec();
    // A loop that ended before its timer (the application is quitting and every event loop
    // returns at once) still has to wait: go on handling events until the timer fires.
    while (timer.isActive()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return true;
}

void SetNoticeObserver(NoticeObserver observer) {
  std::lock_guard lock(g_observerMu);
  g_observer = std::move(observer);
}

}  // namespace qv
