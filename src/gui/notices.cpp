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
  int id;
};

// The buttons of the platform's button flags (low four bits), in their order on the box.
std::vector<ButtonSpec> ButtonsOf(int style) {
  using B = QMessageBox;
  switch (style & 0xF) {
    case 1:
      return {{B::Ok, kNoticeOk}, {B::Cancel, kNoticeCancel}};
    case 2:
      return {{B::Abort, 3}, {B::Retry, 4}, {B::Ignore, 5}};
    case 3:
      return {{B::Yes, kNoticeYes}, {B::No, kNoticeNo}, {B::Cancel, kNoticeCancel}};
    case 4:
      return {{B::Yes, kNoticeYes}, {B::No, kNoticeNo}};
    case 5:
      return {{B::Retry, 4}, {B::Cancel, kNoticeCancel}};
    default:
      return {{B::Ok, kNoticeOk}};
  }
}

QMessageBox::Icon IconOf(int style) {
  switch (style & 0xF0) {
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

void Configure(QMessageBox& box, const Text& title, const Text& text, int style) {
  box.setIcon(IconOf(style));
  box.setWindowTitle(CaptionFromGbk(title));
  box.setTextFormat(Qt::PlainText);  // page texts may hold "<"
  box.setText(CaptionFromGbk(text));
  const std::vector<ButtonSpec> buttons = ButtonsOf(style);
  QMessageBox::StandardButtons set;
  for (const ButtonSpec& b : buttons) set |= b.button;
  box.setStandardButtons(set);
  // Default button flags (bits 8-11) pick the first, second or third button.
  const size_t def = std::min<size_t>(static_cast<size_t>((style >> 8) & 0xF), buttons.size() - 1);
  box.setDefaultButton(buttons[def].button);
}

// The id of the button that closed the box; 0 when none did.
int AnswerOf(const QMessageBox& box, int style) {
  QAbstractButton* clicked = box.clickedButton();
  if (clicked == nullptr) return 0;
  const QMessageBox::StandardButton which = box.standardButton(clicked);
  for (const ButtonSpec& b : ButtonsOf(style)) {
    if (b.button == which) return b.id;
  }
  return 0;
}

int NoticeHere(const Text& title, const Text& text, int timeoutMs, int style) {
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
  return timedOut ? kNoticeTimedOut : AnswerOf(box, style);
}

int NoticeFromOtherThread(const Text& title, const Text& text, int timeoutMs, int style) {
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
          answer->Deliver(*timedOut ? kNoticeTimedOut : AnswerOf(*box, style));
          box->hide();
          box->deleteLater();
        });
        box->show();
        TellObserver(box);
        return true;
      },
      false);
  if (!shown) return 0;
  return answer->Wait().value_or(0);
}

}  // namespace

int TimedNotice(const Text& title, const Text& text, int timeoutMs, int style) {
  if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) return 0;
  if (IsWindowThread()) return NoticeHere(title, text, timeoutMs, style);
  return NoticeFromOtherThread(title, text, timeoutMs, style);
}

bool ResponsiveWait(double count, int unit) {
  const double perUnit = unit == 0   ? 1.0
                         : unit == 1 ? 1000.0
                         : unit == 2 ? 60000.0
                         : unit == 3 ? 3600000.0
                                     : static_cast<double>(unit);
  double totalMs = count * perUnit;
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
