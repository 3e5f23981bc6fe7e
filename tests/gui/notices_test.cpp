// Notices answered by their buttons or closed by their time-out, and the responsive wait.
#include "gui/notices.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <thread>

#include "gui/main_window.h"
#include "gui/window_bridge.h"
#include "text/encoding.h"

namespace qv {
namespace {

// Installs an observer for the test's lifetime.
class ObserverScope {
 public:
  explicit ObserverScope(NoticeObserver o) { SetNoticeObserver(std::move(o)); }
  ~ObserverScope() { SetNoticeObserver({}); }
};

struct StyleCase {
  NoticeStyle style;
  QMessageBox::Icon icon;
  QMessageBox::StandardButtons buttons;
  QMessageBox::StandardButton press;
  NoticeAnswer expected;
};

TEST(TimedNotice, StylesShowTheirIconAndButtonsAndReturnTheButtonPressed) {
  using B = QMessageBox;
  const StyleCase cases[] = {
      {NoticeStyle::kError, B::Critical, B::Ok, B::Ok, NoticeAnswer::kOk},
      {NoticeStyle::kInfo, B::Information, B::Ok, B::Ok, NoticeAnswer::kOk},
      {NoticeStyle::kYesNo, B::Question, B::Yes | B::No, B::Yes, NoticeAnswer::kYes},
      {NoticeStyle::kYesNo, B::Question, B::Yes | B::No, B::No, NoticeAnswer::kNo},
      {NoticeStyle::kYesNoCancel, B::Question, B::Yes | B::No | B::Cancel, B::Cancel,
       NoticeAnswer::kCancel},
      {NoticeStyle::kYesNoCancel, B::Question, B::Yes | B::No | B::Cancel, B::No,
       NoticeAnswer::kNo},
  };
  for (const StyleCase& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.style));
    SCOPED_TRACE(c.press);
    bool seen = false;
    ObserverScope scope([&](QMessageBox* box) {
      seen = true;
      EXPECT_EQ(box->icon(), c.icon);
      EXPECT_EQ(box->standardButtons(), c.buttons);
      EXPECT_EQ(box->windowTitle(), QString::fromUtf8("确认提醒"));
      EXPECT_EQ(box->text(), QString::fromUtf8("请确认\n<是否>增加"));
      EXPECT_TRUE(box->isModal());
      QTest::mouseClick(box->button(c.press), Qt::LeftButton);
    });
    // A long time-out: the click answers long before it.
    EXPECT_EQ(TimedNotice(Utf8ToGbk("确认提醒"), Utf8ToGbk("请确认\r\n<是否>增加"), 60000, c.style),
              c.expected);
    EXPECT_TRUE(seen);
  }
}

TEST(TimedNotice, OnTheWindowThreadItIsOwnedByTheActiveWindow) {
  MainWindow w;
  w.show();
  QApplication::setActiveWindow(&w);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
  QWidget* owner = nullptr;
  bool blocksOwner = false;
  ObserverScope scope([&](QMessageBox* box) {
    owner = box->parentWidget();
    blocksOwner = QApplication::activeModalWidget() == box;
    box->button(QMessageBox::Ok)->click();
  });
  EXPECT_EQ(TimedNotice(Utf8ToGbk("提示"), "x", 0, NoticeStyle::kError), NoticeAnswer::kOk);
  EXPECT_EQ(owner, &w);
  EXPECT_TRUE(blocksOwner);
}

TEST(TimedNotice, ClosesItselfAfterItsTimeOut) {
  bool seen = false;
  ObserverScope scope([&](QMessageBox*) { seen = true; });
  QElapsedTimer t;
  t.start();
  EXPECT_EQ(TimedNotice(Utf8ToGbk("提示"), Utf8ToGbk("哥们，逗我玩呢？"), 300, NoticeStyle::kError),
            NoticeAnswer::kTimedOut);
  EXPECT_GE(t.elapsed(), 299);
  EXPECT_TRUE(seen);
  for (QWidget* w : QApplication::topLevelWidgets()) {
    EXPECT_EQ(qobject_cast<QMessageBox*>(w), nullptr);
  }
}

TEST(ResponsiveWait, HandlesEventsWhileWaitingForAtLeastTheTimeAsked) {
  struct Case {
    double count;
    WaitUnit unit;
    qint64 atLeastMs;
  } cases[] = {{2, WaitUnit::kMilliseconds, 2},
               {2, static_cast<WaitUnit>(7), 14},  // 7 ms per unit
               {0.06, WaitUnit::kSeconds, 60}};
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.unit));
    bool handled = false;
    QMetaObject::invokeMethod(
        qApp, [&] { handled = true; }, Qt::QueuedConnection);
    QElapsedTimer t;
    t.start();
    EXPECT_TRUE(ResponsiveWait(c.count, c.unit));
    EXPECT_GE(t.elapsed(), c.atLeastMs);
    EXPECT_TRUE(handled);
  }
}

TEST(ResponsiveWait, ButtonPressedDuringTheWaitIsHandledInsideIt) {
  MainWindow w;
  w.show();
  auto* check = w.Find<QAbstractButton>("选择框_合并");
  QTimer::singleShot(5, check, [check] {
    QTest::mouseClick(check, Qt::LeftButton, {}, QPoint(6, check->height() / 2));
  });
  ResponsiveWait(40, WaitUnit::kMilliseconds);
  EXPECT_TRUE(w.Find("按钮_合并")->isEnabled());
}

TEST(ResponsiveWait, NothingToWaitReturnsAtOnceWithoutHandlingEvents) {
  for (auto [count, unit] : {std::pair{0.0, WaitUnit::kSeconds}, std::pair{0.0, WaitUnit::kHours},
                             std::pair{5.0, static_cast<WaitUnit>(-3)}}) {
    bool handled = false;
    QMetaObject::invokeMethod(
        qApp, [&] { handled = true; }, Qt::QueuedConnection);
    EXPECT_TRUE(ResponsiveWait(count, unit));
    EXPECT_FALSE(handled);
    QCoreApplication::processEvents();
    EXPECT_TRUE(handled);
  }
}

TEST(ResponsiveWait, OnAnotherThreadItSleeps) {
  bool ok = false;
  std::chrono::steady_clock::duration took{};
  std::thread worker([&] {
    const auto start = std::chrono::steady_clock::now();
    ok = ResponsiveWait(20, WaitUnit::kMilliseconds);
    took = std::chrono::steady_clock::now() - start;
  });
  worker.join();
  EXPECT_TRUE(ok);
  EXPECT_GE(took, std::chrono::milliseconds(20));
}

}  // namespace
}  // namespace qv
