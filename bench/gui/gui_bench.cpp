// The chapter table of the real window under long loops: rows appended on the window thread
// and through the bridge from a worker, a check-all loop with the throttled pump against one
// that handles events after every row, and highlighting every fourth row.
// Run offscreen: QT_QPA_PLATFORM=offscreen gui_bench [rows]
#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "gui/main_window.h"
#include "text/encoding.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::time_point since) {
  return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

void Fill(qv::ChapterTable& t, int rows) {
  const qv::Text title = qv::Utf8ToGbk("第一千二百三十四章 风起云涌");
  const qv::Text status = qv::Utf8ToGbk("等待下载");
  for (int i = 1; i <= rows; ++i) {
    t.AppendChapter(std::to_string(i), title, "/book/" + std::to_string(i) + ".html", status, qv::kChecked);
  }
}

// Runs work on a worker while the window thread handles events.
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

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const int rows = argc > 1 ? std::atoi(argv[1]) : 50000;
  qv::MainWindow w;
  w.show();
  QCoreApplication::processEvents();
  qv::QtChapterTable& t = w.table();
  qv::QtControls& c = w.controls();

  auto start = Clock::now();
  Fill(t, rows);
  QCoreApplication::processEvents();
  std::printf("append %d rows on the window thread:        %8.1f ms\n", rows, Ms(start));

  t.DeleteAllRows();
  start = Clock::now();
  OnWorker([&] { Fill(t, rows); });
  const double bridged = Ms(start);
  std::printf("append %d rows from a worker (bridge):      %8.1f ms  (%.1f us per row)\n", rows,
              bridged, bridged * 1000 / rows);

  start = Clock::now();
  OnWorker([&] {
    for (int i = 0; i < 10000; ++i) (void)t.RowCount();
  });
  std::printf("10000 bridge round trips (RowCount):        %8.1f ms\n", Ms(start));

  start = Clock::now();
  OnWorker([&] {
    const qv::Text done = qv::Utf8ToGbk("下载完毕");
    for (int r = 0; r < 10000; ++r) t.SetCellText(r % rows, qv::kColStatus, done);
  });
  std::printf("10000 status writes from a worker:          %8.1f ms\n", Ms(start));

  const int loopRows = std::min(rows, 10000);
  start = Clock::now();
  for (int r = 0; r < loopRows; ++r) {
    t.SetCheckState(r, qv::kUnchecked);
    c.Pump();
  }
  const double throttled = Ms(start);
  start = Clock::now();
  for (int r = 0; r < loopRows; ++r) {
    t.SetCheckState(r, qv::kChecked);
    QCoreApplication::processEvents();
  }
  const double every = Ms(start);
  std::printf("%d-row check loop, throttled pump:          %8.1f ms\n", loopRows, throttled);
  std::printf("%d-row check loop, events after every row:  %8.1f ms  (ratio %.1f)\n", loopRows,
              every, every / throttled);

  start = Clock::now();
  for (int r = 0; r < rows; r += 4) {
    t.SetHighlight(r, true);
    c.Pump();
  }
  const double highlight = Ms(start);
  start = Clock::now();
  const size_t picked = t.HighlightedRows().size();
  std::printf("highlight every 4th of %d rows (%zu):       %8.1f ms, listing them %.1f ms\n", rows,
              picked, highlight, Ms(start));
  return 0;
}
