// Worker threads reach the windows through the window thread: table and control operations,
// notices answered while the worker waits, and a shutdown that releases every waiting thread.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QEventLoop>
#include <QInputDialog>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <functional>
#include <thread>

#include "gui/box_text.h"
#include "gui/main_window.h"
#include "gui/notices.h"
#include "gui/window_bridge.h"
#include "text/encoding.h"

namespace qv {
namespace {

// Runs `work` on a new thread while the window thread handles events; returns when it ended.
void OnWorker(const std::function<void()>& work) {
  std::atomic<bool> done{false};
  std::thread t([&] {
    work();
    done = true;
  });
  QEventLoop loop;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (done) loop.quit();
  });
  poll.start(1);
  loop.exec();
  t.join();
}

class ObserverScope {
 public:
  explicit ObserverScope(NoticeObserver o) { SetNoticeObserver(std::move(o)); }
  ~ObserverScope() { SetNoticeObserver({}); }
};

TEST(WindowBridge, TableAndControlsFromAWorkerThread) {
  MainWindow w;
  w.show();
  ChapterTable& t = w.table();
  Controls& c = w.controls();
  std::vector<int> highlighted;
  Text cell, status, box;
  int rows = -1, check = -1;
  bool threadWasWindowThread = true;
  OnWorker([&] {
    threadWasWindowThread = IsWindowThread();
    for (int i = 1; i <= 200; ++i) {
      t.AppendChapter(std::to_string(i), Utf8ToGbk("第") + std::to_string(i) + Utf8ToGbk("章"),
                      "/" + std::to_string(i) + ".html", Utf8ToGbk("等待下载"), qv::kChecked);
    }
    t.DeleteRow(0);
    t.InsertRow(0, "0");
    t.SetCellText(5, kColStatus, Utf8ToGbk("下载完毕"));
    t.SetCheckState(5, qv::kUnchecked);
    t.SetHighlight(3, true);
    t.SetHighlight(150, true);
    t.SetHighlight(7, true);
    t.SetHighlight(7, false);
    t.SetHighlight(999, true);  // outside the table: nothing
    t.ScrollIntoView(150);
    highlighted = t.HighlightedRows();
    cell = t.CellText(2, kColTitle);
    status = t.CellText(5, kColStatus);
    rows = t.RowCount();
    check = t.CheckState(5);
    c.SetText(Ctl::StatusLabel, Utf8ToGbk("正在下载小说章节内容，请等候..."));
    c.SetEnabled(Ctl::StopButton, true);
    box = c.GetText(Ctl::LastRowBox);
  });
  EXPECT_FALSE(threadWasWindowThread);
  EXPECT_EQ(rows, 200);
  EXPECT_EQ(cell, Utf8ToGbk("第3章"));
  EXPECT_EQ(status, Utf8ToGbk("下载完毕"));
  EXPECT_EQ(check, 0);
  EXPECT_EQ(highlighted, (std::vector<int>{3, 150}));
  EXPECT_EQ(box, "9999");
  // The window thread sees the same.
  EXPECT_EQ(w.chapterModel()->Cell(0, kColNumber), "0");
  EXPECT_EQ(w.chapterModel()->Cell(1, kColNumber), "2");
  EXPECT_TRUE(w.Find("按钮_停止")->isEnabled());
  EXPECT_EQ(WidgetText(w.Find("标签4")), Utf8ToGbk("正在下载小说章节内容，请等候..."));
}

TEST(WindowBridge, NoticeFromAWorkerIsOwnerlessAndLeavesTheMainWindowUsable) {
  MainWindow w;
  w.show();
  bool ownerless = false, nonModal = false, windowStillUsable = false;
  ObserverScope scope([&](QMessageBox* box) {
    ownerless = box->parentWidget() == nullptr;
    nonModal = !box->isModal() && QApplication::activeModalWidget() == nullptr;
    // While the box is up the user works in the main window; then answers.
    QTimer::singleShot(0, &w, [&w, box] {
      QWidget* merge = w.Find("选择框_合并");
      QTest::mouseClick(merge, Qt::LeftButton, {}, QPoint(6, merge->height() / 2));
      QTest::mouseClick(box->button(QMessageBox::No), Qt::LeftButton);
    });
  });
  auto answer = static_cast<NoticeAnswer>(-1);
  OnWorker([&] {
    answer = w.controls().Notice(Utf8ToGbk("修改询问"), Utf8ToGbk("是否修改规则名？"), 0,
                                 NoticeStyle::kYesNo);
  });
  windowStillUsable = w.Find("按钮_合并")->isEnabled();
  EXPECT_EQ(answer, NoticeAnswer::kNo);
  EXPECT_TRUE(ownerless);
  EXPECT_TRUE(nonModal);
  EXPECT_TRUE(windowStillUsable);
}

TEST(WindowBridge, NoticeFromAWorkerTimesOut) {
  MainWindow w;
  auto answer = static_cast<NoticeAnswer>(-1);
  OnWorker([&] { answer = TimedNotice(Utf8ToGbk("提示"), "x", 50, NoticeStyle::kInfo); });
  EXPECT_EQ(answer, NoticeAnswer::kTimedOut);
}

TEST(WindowBridge, ClosingReleasesWaitingThreadsAndLaterCallsDoNothing) {
  auto w = std::make_unique<MainWindow>();
  QtChapterTable& t = w->table();
  std::atomic<bool> started{false};
  bool ran = false, returned = false;
  // The window thread does not handle events: the worker's call stays queued until the close.
  std::thread worker([&] {
    started = true;
    ran = RunOnWindowThread([&] { ran = true; });
    returned = true;
  });
  while (!started) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  w->close();
  worker.join();
  EXPECT_TRUE(returned);
  EXPECT_FALSE(ran);
  QCoreApplication::processEvents();  // the dropped call must not run late either
  EXPECT_FALSE(ran);

  // After the close, a worker's calls come back at once with empty results...
  int rows = -1;
  auto notice = static_cast<NoticeAnswer>(-1);
  Text text = "unset";
  std::thread late([&] {
    t.AppendChapter("1", "a", "b", "c", qv::kChecked);
    rows = t.RowCount();
    text = t.CellText(0, 0);
    notice = TimedNotice("t", "x", 0, NoticeStyle::kError);
  });
  late.join();
  EXPECT_EQ(rows, 0);
  EXPECT_EQ(text, "");
  EXPECT_EQ(notice, NoticeAnswer::kNotShown);
  EXPECT_EQ(w->chapterModel()->Count(), 0);
}

TEST(WindowBridge, ClosingReleasesAWorkerWaitingForItsNotice) {
  auto w = std::make_unique<MainWindow>();
  QPointer<QMessageBox> open;
  ObserverScope scope([&](QMessageBox* box) {
    open = box;
    // Nobody answers: the main window closes under the open notice.
    QTimer::singleShot(0, w.get(), [&w] { w->close(); });
  });
  auto answer = static_cast<NoticeAnswer>(-1);
  OnWorker([&] { answer = TimedNotice("t", "x", 0, NoticeStyle::kError); });
  EXPECT_EQ(answer, NoticeAnswer::kNotShown);
  // The orphaned box can still be clicked away without harm.
  if (open) open->button(QMessageBox::Ok)->click();
  QCoreApplication::processEvents();
}

TEST(WindowBridge, InputBoxFromAWorkerGivesTheTypedText) {
  MainWindow w;
  w.show();
  bool ok = false;
  Text entered;
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, [&] {
    for (QWidget* top : QApplication::topLevelWidgets()) {
      if (auto* dialog = qobject_cast<QInputDialog*>(top); dialog && dialog->isVisible()) {
        dialog->setTextValue(QString::fromUtf8("３行"));
        dialog->accept();
      }
    }
  });
  answer.start(5);
  OnWorker([&] {
    ok = w.controls().InputBox(Utf8ToGbk("请输入需要移动的行数：（正整数）"), Utf8ToGbk("输入行数"),
                               "1", entered);
  });
  EXPECT_TRUE(ok);
  EXPECT_EQ(entered, Utf8ToGbk("３行"));
}

TEST(WindowBridge, PumpHandlesEventsOnlyOnTheWindowThread) {
  MainWindow w;
  QtControls& c = w.controls();
  std::atomic<int> handled{0};
  QMetaObject::invokeMethod(
      qApp, [&] { ++handled; }, Qt::QueuedConnection);
  std::thread worker([&] { c.Pump(); });
  worker.join();
  EXPECT_EQ(handled, 0);
  std::this_thread::sleep_for(QtControls::kPumpInterval);
  c.Pump();
  EXPECT_EQ(handled, 1);
}

}  // namespace
}  // namespace qv
